#include "engine/IconWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "engine/IconJob.h"
#include "engine/IconJobFlags.h"
#include "engine/Imaging.h"
#include "IcoReader.h"
#include "PictureSupport.h"
#include "TestSupport.h"
#include "sys/Handles.h"

using namespace testing_support;

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Reads the directory of an .ico file as a reader would.
std::vector<IcoEntry> ParseIcon(const std::vector<uint8_t>& file) {
    return ReadIcoDirectory(file).entries;
}

class IconWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(imaging_.Started());
        picture_ = folder_ / L"flat.png";
        ASSERT_TRUE(SavePicture(picture_, 40, 40, 0xFF336699));
    }

    std::vector<uint8_t> Write(const SizeList& sizes, IconJobFlags flags, const wchar_t* name = L"out.ico") {
        const WideString out = folder_ / name;
        EXPECT_TRUE(WriteIconFile(IconSource(picture_), sizes, out, 0, flags, WideString()));
        return ReadBytes(out.Text());
    }

    ImagingSession imaging_;
    TempFolder folder_;
    WideString picture_;
};

TEST_F(IconWriterTest, SingleSixteenMatchesTheLayoutByteForByte) {
    const std::vector<uint8_t> file = Write({16}, kPngc | kCenter);
    ASSERT_EQ(file.size(), 1150u);
    const uint8_t head[] = {0x00, 0x00, 0x01, 0x00, 0x01, 0x00,                                      // ICONDIR
                            0x10, 0x10, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x68, 0x04, 0x00, 0x00,  // entry
                            0x16, 0x00, 0x00, 0x00,                                                  // offset 22
                            0x28, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00,  // header
                            0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x04, 0x00, 0x00, 0, 0,
                            0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0, 0};
    ASSERT_EQ(0, std::memcmp(file.data(), head, sizeof(head)));
    // An opaque flat picture: every pixel its own colour, and no mask bit set.
    for (size_t i = 0; i < 256; ++i)
        EXPECT_EQ(U32(file, 62 + 4 * i), 0xFF336699u) << "pixel " << i;
    for (size_t i = 62 + 1024; i < file.size(); ++i)
        EXPECT_EQ(file[i], 0) << "mask byte " << i;
}

TEST_F(IconWriterTest, EntryKindsAndOffsetsFollowSizesAndFlags) {
    struct Case {
        SizeList sizes;
        IconJobFlags flags;
        std::vector<int> widthBytes;
        std::vector<uint32_t> bitmapBytes;  // 0 = a PNG entry
    };
    const Case cases[] = {
        {{16, 32, 48, 256}, kPngc, {16, 32, 48, 0}, {40 + 1024 + 64, 40 + 4096 + 128, 40 + 9216 + 384, 0}},
        {{16, 32, 48, 256},
         kCenter,
         {16, 32, 48, 0},
         {40 + 1024 + 64, 40 + 4096 + 128, 40 + 9216 + 384, 40 + 262144 + 8192}},
        {{48, 64}, kPngc, {48, 64}, {40 + 9216 + 384, 0}},
        {{512}, kPngc, {0}, {0}},
        {{300}, kCenter, {44}, {40 + 300 * 300 * 4 + 40 * 300}},
        {{32, 16, 32}, kCenter, {32, 16, 32}, {40 + 4096 + 128, 40 + 1024 + 64, 40 + 4096 + 128}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "first size " << c.sizes[0] << ", " << c.sizes.size() << " sizes");
        const std::vector<uint8_t> file = Write(c.sizes, c.flags);
        const std::vector<IcoEntry> entries = ParseIcon(file);
        ASSERT_EQ(entries.size(), c.sizes.size());
        uint32_t offset = static_cast<uint32_t>(6 + 16 * entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].widthByte, c.widthBytes[i]);
            EXPECT_EQ(entries[i].heightByte, c.widthBytes[i]);
            EXPECT_EQ(entries[i].offset, offset) << "blocks follow each other without padding";
            EXPECT_EQ(entries[i].png, c.bitmapBytes[i] == 0);
            if (c.bitmapBytes[i] != 0) {
                EXPECT_EQ(entries[i].bytes, c.bitmapBytes[i]);
                EXPECT_EQ(U32(file, offset), 40u);
                EXPECT_EQ(static_cast<int32_t>(U32(file, offset + 8)), 2 * c.sizes[i]) << "image plus mask";
                EXPECT_EQ(U32(file, offset + 20), c.bitmapBytes[i] - 40) << "size of image";
            }
            offset += entries[i].bytes;
        }
        EXPECT_EQ(file.size(), offset);
    }
}

TEST_F(IconWriterTest, PngEntryIsACompletePictureOfItsSize) {
    const std::vector<uint8_t> file = Write({16, 32, 48, 256}, kPngc);
    const std::vector<IcoEntry> entries = ParseIcon(file);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].offset, 70u);
    ASSERT_TRUE(entries[3].png);
    const std::vector<uint8_t> png(file.begin() + entries[3].offset, file.end());
    ASSERT_EQ(png.size(), entries[3].bytes);
    const WideString pngPath = folder_ / L"entry.png";
    ASSERT_TRUE(WriteBytes(pngPath.Text(), png));
    GdiplusImage decoded = DecodeImageFile(pngPath.Text());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded.Width(), 256);
    EXPECT_EQ(decoded.Height(), 256);
}

TEST_F(IconWriterTest, PngsWritesOnePictureOfTheLastSize) {
    const WideString out = folder_ / L"out.png";
    ASSERT_TRUE(WriteIconFile(IconSource(picture_), {16, 48, 256}, out, 0, kPngs | kPngc, WideString()));
    const std::vector<uint8_t> file = ReadBytes(out.Text());
    ASSERT_GE(file.size(), 24u);
    EXPECT_EQ(0, std::memcmp(file.data(), kPngSignature, 8));
    // IHDR: big-endian width and height.
    EXPECT_EQ(file[16] << 24 | file[17] << 16 | file[18] << 8 | file[19], 256);
    EXPECT_EQ(file[20] << 24 | file[21] << 16 | file[22] << 8 | file[23], 256);
}

TEST_F(IconWriterTest, BitmapEntriesHoldStraightAlphaLikeThePngEntries) {
    // Half-transparent flat colour: readers take a bitmap entry's bytes as straight alpha.
    picture_ = folder_ / L"half.png";
    ASSERT_TRUE(SavePicture(picture_, 64, 64, 0x80C86432));
    const std::vector<uint8_t> file = Write({16, 48}, kCenter);
    const std::vector<IcoEntry> entries = ParseIcon(file);
    ASSERT_EQ(entries.size(), 2u);
    for (const IcoEntry& e : entries) {
        const int size = e.widthByte;
        for (int i = 0; i < size * size; ++i) {
            const uint8_t* p = &file[e.offset + 40 + 4 * i];
            ASSERT_NEAR(p[0], 0x32, 1) << "blue of pixel " << i;
            ASSERT_NEAR(p[1], 0x64, 1) << "green of pixel " << i;
            ASSERT_NEAR(p[2], 0xC8, 1) << "red of pixel " << i;
            ASSERT_NEAR(p[3], 0x80, 1) << "alpha of pixel " << i;
        }
    }
}

TEST_F(IconWriterTest, PngEntriesAndPngFilesHoldStraightAlpha) {
    // A PNG stores straight alpha: a half-transparent colour must decode as itself, not darkened by its alpha.
    picture_ = folder_ / L"half.png";
    ASSERT_TRUE(SavePicture(picture_, 64, 64, 0x80C86432));
    const std::vector<uint8_t> icon = Write({64, 256}, kPngc | kCenter);
    const std::vector<IcoEntry> entries = ParseIcon(icon);
    ASSERT_EQ(entries.size(), 2u);
    std::vector<std::vector<uint8_t>> pngs;
    for (const IcoEntry& e : entries) {
        ASSERT_TRUE(e.png);
        pngs.emplace_back(icon.begin() + e.offset, icon.begin() + e.offset + e.bytes);
    }
    pngs.push_back(Write({16, 48}, kPngs | kCenter, L"out.png"));
    for (size_t i = 0; i < pngs.size(); ++i) {
        SCOPED_TRACE(i);
        const WideString path = folder_ / WideString::Concat(WideString::FromUInt(i), L".png").Text();
        ASSERT_TRUE(WriteBytes(path.Text(), pngs[i]));
        GdiplusImage decoded = DecodeImageFile(path.Text());
        ASSERT_TRUE(decoded);
        const std::vector<uint32_t> pixels = ReadPixels(decoded, PixelFormat32bppARGB);
        ASSERT_FALSE(pixels.empty());
        const uint32_t p = pixels[pixels.size() / 2 + decoded.Width() / 2];
        EXPECT_NEAR(int(p >> 24), 0x80, 1);
        EXPECT_NEAR(int((p >> 16) & 0xFF), 0xC8, 1);
        EXPECT_NEAR(int((p >> 8) & 0xFF), 0x64, 1);
        EXPECT_NEAR(int(p & 0xFF), 0x32, 1);
    }
}

TEST_F(IconWriterTest, RowsAreBottomUpAndTheMaskMarksTransparentPixels) {
    // Top half red, bottom half blue, both opaque. 1000 x 999 in Center leaves the bottom row of a 16 transparent.
    picture_ = folder_ / L"wide.png";
    ASSERT_TRUE(SavePicture(picture_, 1000, 999, [](int, int y) { return y < 500 ? 0xFFFF0000u : 0xFF0000FFu; }));
    const std::vector<uint8_t> file = Write({16}, kCenter);
    ASSERT_EQ(file.size(), 1150u);
    const size_t pixels = 62;
    const size_t mask = pixels + 1024;
    // Stored row 0 is the picture's bottom row (y = 15), the transparent one.
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(file[pixels + 4 * x + 3], 0) << "alpha of bottom row, x " << x;
    EXPECT_EQ(U32(file, pixels + 4 * (1 * 16 + 8)), 0xFF0000FFu) << "stored row 1 is the blue bottom of the picture";
    EXPECT_EQ(U32(file, pixels + 4 * (15 * 16 + 8)), 0xFFFF0000u) << "stored row 15 is the red top";
    // Mask rows are 4 bytes: two bytes of bits and two of padding that stay clear.
    const uint8_t firstMaskRow[] = {0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(&file[mask], firstMaskRow, 4));
    for (size_t i = mask + 4; i < file.size(); ++i)
        EXPECT_EQ(file[i], 0) << "mask byte " << i - mask;
    // The invariant behind it: a mask bit is set exactly where alpha is 0.
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool transparent = file[pixels + 4 * (y * 16 + x) + 3] == 0;
            const bool bit = (file[mask + 4 * y + x / 8] & (0x80 >> (x % 8))) != 0;
            EXPECT_EQ(bit, transparent) << "x " << x << " y " << y;
        }
    }
}

TEST_F(IconWriterTest, AFailingSourceLeavesNoFileAndKeepsAnOldOne) {
    const WideString missing = folder_ / L"missing.png";
    const WideString fresh = folder_ / L"fresh.ico";
    EXPECT_FALSE(WriteIconFile(IconSource(missing), {16, 32}, fresh, 0, kPngc, WideString()));
    EXPECT_FALSE(Exists(fresh.Text()));

    const WideString old = folder_ / L"old.ico";
    ASSERT_TRUE(WriteBytes(old.Text(), "old", 3));
    EXPECT_FALSE(WriteIconFile(IconSource(missing), {16}, old, 0, kPngc, WideString()));
    EXPECT_EQ(ReadBytes(old.Text()), std::vector<uint8_t>({'o', 'l', 'd'}));

    EXPECT_FALSE(WriteIconFile(IconSource(picture_), {}, fresh, 0, kPngc, WideString())) << "an empty size list";
    EXPECT_FALSE(WriteIconFile(IconSource(picture_), {}, folder_ / L"empty.png", 0, kPngs, WideString()));
    EXPECT_FALSE(Exists(fresh.Text()));
}

TEST_F(IconWriterTest, ReadOnlyOutputIsReplaced) {
    const WideString out = folder_ / L"locked.ico";
    ASSERT_TRUE(WriteBytes(out.Text(), "old", 3));
    ASSERT_TRUE(SetFileAttributesW(out.Text(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(WriteIconFile(IconSource(picture_), {16}, out, 0, kPngc, WideString()));
    EXPECT_EQ(ReadBytes(out.Text()).size(), 1150u);
}

TEST_F(IconWriterTest, AnOutputHeldOpenByAnotherProgramIsNeverLost) {
    // Another program reads the old file. When it lets others delete the file (as viewers and indexers do), the new
    // file takes its place while that program goes on reading the old content; otherwise the write fails and the
    // old file stays. Either way nothing is left beside it.
    struct Case {
        DWORD sharing;
        IconJobFlags flags;
        bool written;
    };
    const Case cases[] = {{FILE_SHARE_READ | FILE_SHARE_DELETE, kPngc, true},
                          {FILE_SHARE_READ | FILE_SHARE_DELETE, kPngs, true},
                          {FILE_SHARE_READ, kPngc, false},
                          {FILE_SHARE_READ, kPngs, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "sharing " << c.sharing << ", flags " << c.flags);
        const WideString out = folder_ / ((c.flags & kPngs) ? L"held.png" : L"held.ico");
        ASSERT_TRUE(WriteBytes(out.Text(), "old", 3));
        FileHandle holder(CreateFileW(out.Text(), GENERIC_READ, c.sharing, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(WriteIconFile(IconSource(picture_), {16}, out, 0, c.flags, WideString()), c.written);
        char held[4] = {};
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(holder.Get(), held, 3, &read, nullptr));
        EXPECT_STREQ(held, "old");
        holder.Reset();

        const std::vector<uint8_t> after = ReadBytes(out.Text());
        if (!c.written) {
            EXPECT_EQ(after, std::vector<uint8_t>({'o', 'l', 'd'}));
        } else if (c.flags & kPngs) {
            ASSERT_GT(after.size(), 24u);
            EXPECT_EQ(std::memcmp(after.data(), kPngSignature, 8), 0);
            EXPECT_EQ(after[19], 16) << "IHDR width";
        } else {
            EXPECT_EQ(after.size(), 1150u);
            EXPECT_EQ(ParseIcon(after).size(), 1u);
        }
        RemoveTree(out.Text());
        EXPECT_EQ(FolderNames(folder_.Path()), std::set<std::wstring>{L"flat.png"}) << "no temporary file left";
    }
}

TEST_F(IconWriterTest, AFolderAtTheOutputPathIsNeverRemoved) {
    // A folder standing at the output path is never replaced and keeps its content.
    for (IconJobFlags flags : {kPngc, kPngs}) {
        SCOPED_TRACE(flags);
        const WideString folder = folder_ / ((flags & kPngs) ? L"taken.png" : L"taken.ico");
        ASSERT_TRUE(CreateDirectoryW(folder.Text(), nullptr));
        const WideString inside = WideString::Concat(folder, L"\\keep.txt");
        ASSERT_TRUE(WriteBytes(inside.Text(), "keep", 4));
        EXPECT_FALSE(WriteIconFile(IconSource(picture_), {16}, folder, 0, flags, WideString()));
        EXPECT_EQ(ReadBytes(inside.Text()), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
    }
}

TEST_F(IconWriterTest, AMissingFolderFailsWithoutRetry) {
    EXPECT_FALSE(WriteIconFile(IconSource(picture_), {16}, folder_ / L"no\\such\\folder.ico", 0, 0, WideString()));
}

TEST(EnsureOutputExtension, ForcesTheWantedExtension) {
    struct Case {
        const wchar_t* path;
        IconJobFlags flags;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\out\\a.JPG", kPngc, L"C:\\out\\a.ico"},
        {L"C:\\out\\a.ICO", kPngc, L"C:\\out\\a.ICO"},
        {L"C:\\my.dir\\a", 0, L"C:\\my.dir\\a.ico"},
        {L"C:\\out\\a.ico", kPngs, L"C:\\out\\a.png"},
        {L"C:\\out\\a.Png", kPngs, L"C:\\out\\a.Png"},
        {L"C:\\out\\a.tar.gz", 0, L"C:\\out\\a.tar.ico"},
        {L"C:\\out\\a.", 0, L"C:\\out\\a.ico"},
        {L"", kPngs, L".png"},
        // Windows drops the dots and spaces that end a name: this is out.ico already.
        {L"C:\\out\\out.ico.", 0, L"C:\\out\\out.ico"},
        {L"C:\\out\\out.png. .", kPngs, L"C:\\out\\out.png"},
        {L"C:\\out\\out.png.", 0, L"C:\\out\\out.ico"},
    };
    for (const Case& c : cases) {
        WideString path(c.path);
        EXPECT_TRUE(EnsureOutputExtension(path, c.flags));
        EXPECT_STREQ(path.Text(), c.expected) << Narrow(c.path);
    }
}

TEST(FindPngEncoder, FindsThePngEncoder) {
    ImagingSession imaging;
    CLSID encoder{};
    ASSERT_TRUE(FindPngEncoder(encoder));
    // The class id of the PNG encoder is fixed by the imaging library.
    const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    EXPECT_TRUE(IsEqualCLSID(encoder, png));
}

}  // namespace
