#include "engine/IconLibrary.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "IcoReader.h"
#include "IconImageSupport.h"
#include "PictureSupport.h"
#include "TestSupport.h"
#include "engine/IconJob.h"
#include "engine/IconSources.h"
#include "engine/ImageScaling.h"
#include "engine/Imaging.h"

using namespace testing_support;

namespace {

WideString SystemLibrary(const wchar_t* folder, const wchar_t* name) {
    WideString path;
    path.SetSpecialFolder(CSIDL_WINDOWS);
    path.StripTrailingBackslashes();
    return path.Append(L"\\", folder).Append(L"\\", name);
}

std::vector<uint32_t> IconPixels(HICON icon) {
    const WorkingImage image = ImageFromIconHandle(icon);
    return image ? ReadPixels(image, PixelFormat32bppARGB) : std::vector<uint32_t>();
}

// A copy of this test program with the given icon images (ids 1, 2, ...) and one group per image list, each group
// naming its images by id with the sizes given.
struct GroupEntry {
    WORD id;
    int size;
};
bool MakeLibrary(const wchar_t* path, const std::vector<std::vector<uint8_t>>& images,
                 const std::vector<std::vector<GroupEntry>>& groups) {
    std::vector<ProgramResource> resources;
    for (size_t i = 0; i < images.size(); ++i)
        resources.push_back({RT_ICON, static_cast<WORD>(i + 1), images[i]});
    for (size_t g = 0; g < groups.size(); ++g) {
        std::vector<uint8_t> group = {0, 0, 1, 0, static_cast<uint8_t>(groups[g].size()), 0};
        for (const GroupEntry& entry : groups[g]) {
            const uint32_t bytes = entry.id <= images.size() ? static_cast<uint32_t>(images[entry.id - 1].size()) : 40;
            const uint8_t side = static_cast<uint8_t>(entry.size >= 256 ? 0 : entry.size);
            const uint8_t row[14] = {side,
                                     side,
                                     0,
                                     0,
                                     1,
                                     0,
                                     32,
                                     0,
                                     static_cast<uint8_t>(bytes),
                                     static_cast<uint8_t>(bytes >> 8),
                                     static_cast<uint8_t>(bytes >> 16),
                                     0,
                                     static_cast<uint8_t>(entry.id),
                                     static_cast<uint8_t>(entry.id >> 8)};
            group.insert(group.end(), row, row + 14);
        }
        resources.push_back({RT_GROUP_ICON, static_cast<WORD>(g + 1), std::move(group)});
    }
    return CopyProgramWithResources(path, resources);
}

// A PNG stream of size x size grey-and-alpha pixels (grey (x + 2y) mod 256, alpha 255 on the left half, 96 on the
// right), its image data in stored (uncompressed) deflate blocks.
std::vector<uint8_t> GreyAlphaPng(int size) {
    const auto crc = [](const uint8_t* data, size_t n) {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i) {
            c ^= data[i];
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        return c ^ 0xFFFFFFFFu;
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const auto put32 = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    };
    const auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        put32(png, static_cast<uint32_t>(data.size()));
        const size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        put32(png, crc(png.data() + start, png.size() - start));
    };
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(size));
    put32(header, static_cast<uint32_t>(size));
    header.insert(header.end(), {8, 4, 0, 0, 0});
    chunk("IHDR", header);
    std::vector<uint8_t> raw;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < size; ++x) {
            raw.push_back(static_cast<uint8_t>(x + 2 * y));
            raw.push_back(x < size / 2 ? 255 : 96);
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t at = 0; at < raw.size(); at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.insert(z.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                           static_cast<uint8_t>(~n >> 8)});
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at), raw.begin() + static_cast<ptrdiff_t>(at + n));
    }
    put32(z, b << 16 | a);
    chunk("IDAT", z);
    chunk("IEND", {});
    return png;
}

class IconLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(imaging_.Started()); }

    ImagingSession imaging_;
    TempFolder folder_;
};

// Every group of the system's shell library, in both bitnesses where there are two, built from its own entries gives
// the pixels the shell's extractor gives, at the standard sizes and at sizes no entry has.
TEST_F(IconLibraryTest, EveryGroupOfTheShellLibraryGivesTheShellExtractorsPixels) {
    const int sizes[] = {16, 20, 32, 48, 64, 256};
    int libraries = 0;
    for (const WideString& path :
         {SystemLibrary(L"system32", L"shell32.dll"), SystemLibrary(L"sysnative", L"shell32.dll")}) {
        if (GetFileAttributesW(path.Text()) == INVALID_FILE_ATTRIBUTES) continue;
        ++libraries;
        SCOPED_TRACE(Narrow(path.Text()));
        const IconLibrary library(path);
        ASSERT_TRUE(library.Loaded());
        EXPECT_EQ(static_cast<UINT>(library.GroupCount()), ExtractIconExW(path.Text(), -1, nullptr, nullptr, 0));
        ASSERT_GT(library.GroupCount(), 50);
        int differing = 0, direct = 0;
        std::string first;
        for (int32_t group = 0; group < library.GroupCount(); ++group) {
            for (int size : sizes) {
                const IconHandle icon(library.GroupIcon(group, size, size));
                const std::vector<uint32_t> built = IconPixels(icon.Get());
                const WorkingImage shell = ExtractResourceIcon(path, group, size, size, WideString());
                const std::vector<uint32_t> expected =
                    shell ? ReadPixels(shell, PixelFormat32bppARGB) : std::vector<uint32_t>();
                ASSERT_FALSE(expected.empty()) << group << " at " << size;
                if (built != expected && differing++ == 0)
                    first = "group " + std::to_string(group) + " at " + std::to_string(size);
                // Entries read straight from the file, where the group has one of the size, give the same pixels.
                const WorkingImage own = library.GroupImage(group, size);
                if (own) ++direct;
                if (own && ReadPixels(own, PixelFormat32bppARGB) != expected && differing++ == 0)
                    first = "read straight: group " + std::to_string(group) + " at " + std::to_string(size);
            }
        }
        EXPECT_EQ(differing, 0) << "first: " << first;
        EXPECT_GT(direct, library.GroupCount());
    }
    EXPECT_GE(libraries, 1);
}

TEST_F(IconLibraryTest, EachSizeComesFromTheGroupsBestEntryAndBrokenEntriesGiveNothing) {
    std::vector<uint8_t> truncated = IconImageBytes(IconDepth::kAlpha, 32);
    truncated.resize(truncated.size() / 2);
    const std::vector<std::vector<uint8_t>> images = {IconImageBytes(IconDepth::kAlpha, 16),
                                                      IconImageBytes(IconDepth::kAlpha, 32),
                                                      IconImageBytes(IconDepth::kAlpha, 48), truncated};
    const WideString path = folder_ / L"lib.dll";
    ASSERT_TRUE(MakeLibrary(path.Text(), images,
                            {{{1, 16}, {2, 32}, {3, 48}},  // a full group
                             {{9, 32}},                    // an entry that doesn't exist
                             {{4, 32}}}));                 // an entry shorter than its pixels
    const IconLibrary library(path);
    ASSERT_TRUE(library.Loaded());
    ASSERT_EQ(library.GroupCount(), 3);
    struct Case {
        int32_t group;
        int size;
        bool made;
    } cases[] = {{0, 16, true},  {0, 32, true},  {0, 48, true},  {0, 24, true},
                 {1, 32, false}, {2, 32, false}, {3, 32, false}, {-1, 32, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.group) + " at " + std::to_string(c.size));
        const IconHandle icon(library.GroupIcon(c.group, c.size, c.size));
        EXPECT_EQ(icon.Valid(), c.made);
        if (!icon || (c.size != 16 && c.size != 32 && c.size != 48)) continue;
        // An entry of the size itself keeps its own pixels.
        std::string wrong;
        EXPECT_EQ(WrongIconPixels(IconPixels(icon.Get()), IconDepth::kAlpha, c.size, wrong), 0) << wrong;
    }
}

// Bitmap entries of every depth read straight from the file show what the system's icon made of the same entry
// shows, transparent parts included; other entries are left to the system.
TEST_F(IconLibraryTest, EntriesReadStraightFromTheFileMatchTheSystemsIconInEveryDepth) {
    const IconDepth depths[] = {IconDepth::kOne,        IconDepth::kFour,  IconDepth::kEight,
                                IconDepth::kTwentyFour, IconDepth::kAlpha, IconDepth::kZeroAlpha};
    std::vector<std::vector<uint8_t>> images;
    std::vector<std::vector<GroupEntry>> groups;
    for (IconDepth depth : depths) {
        images.push_back(IconImageBytes(depth, 32));
        groups.push_back({{static_cast<WORD>(images.size()), 32}});
    }
    const WideString path = folder_ / L"depths.dll";
    ASSERT_TRUE(MakeLibrary(path.Text(), images, groups));
    const IconLibrary library(path);
    ASSERT_EQ(library.GroupCount(), static_cast<int32_t>(std::size(depths)));
    for (int32_t group = 0; group < library.GroupCount(); ++group) {
        const IconDepth depth = depths[group];
        SCOPED_TRACE(BitsOf(depth));
        const WorkingImage own = library.GroupImage(group, 32);
        EXPECT_EQ(static_cast<bool>(own), depth != IconDepth::kOne);
        EXPECT_FALSE(library.GroupImage(group, 16));  // no entry of that size: the system stretches it
        if (!own) continue;
        const std::vector<uint32_t> pixels = ReadPixels(own, PixelFormat32bppARGB);
        const IconHandle icon(library.GroupIcon(group, 32, 32));
        EXPECT_EQ(pixels, IconPixels(icon.Get()));
        std::string wrong;
        EXPECT_EQ(WrongIconPixels(pixels, depth, 32, wrong), 0) << wrong;
    }
}

// A PNG entry of the wanted size in any colour type is stored as it is (the system reads the same pixels from it); a
// stream whose checksum is wrong is not copied.
TEST_F(IconLibraryTest, PngEntriesOfTheSizeAreStoredAsTheyAreUnlessDamaged) {
    const std::vector<uint8_t> png = GreyAlphaPng(256);
    std::vector<uint8_t> damaged = png;
    damaged[damaged.size() / 2] ^= 0x40;
    const WideString path = folder_ / L"grey.dll";
    ASSERT_TRUE(MakeLibrary(path.Text(), {png, damaged}, {{{1, 256}}, {{2, 256}}}));
    const IconLibrary library(path);
    ASSERT_EQ(library.GroupCount(), 2);

    const IconHandle icon(library.GroupIcon(0, 256, 256));
    const std::vector<uint32_t> shown = IconPixels(icon.Get());
    ASSERT_EQ(shown.size(), 256u * 256u);
    EXPECT_EQ(shown[5], 0xFF050505u);
    EXPECT_EQ(shown[3 * 256 + 200], 0x60CECECEu);

    const WideString output = folder_ / L"grey.ico";
    ASSERT_TRUE(MakeIconFromLibrary(library, path, 0, output, SizeList{256}, kPngc | kCenter));
    const std::vector<uint8_t> file = ReadBytes(output.Text());
    const IcoDirectory directory = ReadIcoDirectory(file);
    ASSERT_TRUE(directory.complete);
    ASSERT_EQ(directory.count, 1);
    ASSERT_TRUE(directory.entries[0].png);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + directory.entries[0].offset,
                                   file.begin() + directory.entries[0].offset + directory.entries[0].bytes),
              png);

    std::vector<uint8_t> copied;
    EXPECT_FALSE(library.GroupPng(1, 256, copied));
    EXPECT_TRUE(copied.empty());
}

TEST_F(IconLibraryTest, FilesTheLoaderCannotMapDoNotLoad) {
    const WideString text = folder_ / L"notes.dll";
    ASSERT_TRUE(WriteBytes(text.Text(), "MZ but nothing else", 19));
    for (const WideString& path : {text, folder_ / L"missing.dll"}) {
        const IconLibrary library(path);
        EXPECT_FALSE(library.Loaded());
        EXPECT_EQ(library.GroupCount(), 0);
        EXPECT_EQ(library.GroupIcon(0, 32, 32), nullptr);
    }
}

// Whole extensions only, in any case, and only the file name's own: "x.ex" and "tools.exe\readme" are no
// resource files.
TEST(IsResourceFileName, TakesTheResourceExtensionsInAnyCase) {
    const struct {
        const wchar_t* name;
        bool resource;
    } cases[] = {
        {L"C:\\w\\shell32.dll", true},
        {L"a.EXE", true},
        {L"b.Ico", true},
        {L"c.ocx", true},
        {L"d.scr", true},
        {L"e.cur", true},
        {L"f.ani", true},
        {L"x.ex", false},
        {L"y.exe.png", false},
        {L"tools.exe\\readme", false},
        {L"noextension", false},
        {L"trailing.", false},
        {L".exe", true},
        {L"z.exes", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsResourceFileName(WideString(c.name)), c.resource) << Narrow(c.name);
}

}  // namespace
