#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/ImageScaling.h"
#include "engine/Imaging.h"
#include "support/PictureSupport.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

const auto* const kImaging = testing_support::RegisterImagingEnvironment();

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A 24-bit bottom-up BMP file whose pixel (x, y) has blue x * 40, green y * 60, red 200.
std::vector<uint8_t> BmpFile(int width, int height) {
    const uint32_t rowBytes = (width * 3 + 3) & ~3u;
    std::vector<uint8_t> b;
    Put16(b, 0x4D42), Put32(b, 54 + rowBytes * height), Put32(b, 0), Put32(b, 54);
    Put32(b, 40), Put32(b, width), Put32(b, height), Put16(b, 1), Put16(b, 24), Put32(b, 0), Put32(b, 0);
    Put32(b, 2835), Put32(b, 2835), Put32(b, 0), Put32(b, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x)
            b.insert(b.end(), {uint8_t(x * 40), uint8_t(y * 60), 200});
        b.insert(b.end(), rowBytes - width * 3, 0);
    }
    return b;
}

// An .ico of flat 32-bit bitmap entries of the given sizes.
std::vector<uint8_t> IcoFile(const std::vector<int>& sizes) {
    std::vector<uint8_t> b;
    Put16(b, 0), Put16(b, 1), Put16(b, static_cast<uint32_t>(sizes.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(sizes.size());
    for (int s : sizes) {
        const uint32_t bytes = 40 + s * s * 4 + ((s + 31) / 32) * 4 * s;
        b.insert(b.end(), {uint8_t(s), uint8_t(s), 0, 0});
        Put16(b, 1), Put16(b, 32), Put32(b, bytes), Put32(b, offset);
        offset += bytes;
    }
    for (int s : sizes) {
        Put32(b, 40), Put32(b, s), Put32(b, 2 * s), Put16(b, 1), Put16(b, 32);
        for (int i = 0; i < 6; ++i)
            Put32(b, 0);
        for (int i = 0; i < s * s; ++i)
            Put32(b, 0xFF00FF00u);
        b.insert(b.end(), ((s + 31) / 32) * 4 * s, 0);
    }
    return b;
}

bool SavePng(const GdiplusImage& image, const wchar_t* path) {
    UINT count = 0, bytes = 0;
    if (gdip::GdipGetImageEncodersSize(&count, &bytes) != kGpOk) return false;
    std::vector<uint8_t> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gdip::GdipGetImageEncoders(count, bytes, codecs) != kGpOk) return false;
    for (UINT i = 0; i < count; ++i)
        if (lstrcmpiW(codecs[i].MimeType, L"image/png") == 0)
            return gdip::GdipSaveImageToFile(image.Get(), path, &codecs[i].Clsid, nullptr) == kGpOk;
    return false;
}

TEST(ImagingSessionTest, StartsOnceMoreAndHandsItsTokenOn) {
    ImagingSession session;
    ASSERT_TRUE(session.Started());
    const ULONG_PTR token = session.Token();
    ImagingSession moved(std::move(session));
    EXPECT_FALSE(session.Started());
    EXPECT_EQ(moved.Token(), token);
}

TEST(GdiplusImageTest, OwnsOneImageAndRemembersTheLastFailingStatus) {
    GdiplusImage image = CreateWorkingImage(4, 3);
    ASSERT_TRUE(image);
    EXPECT_EQ(image.LastStatus(), kGpOk);
    EXPECT_EQ(image.Check(kGpOk), kGpOk);
    EXPECT_EQ(image.Check(Gdiplus::InvalidParameter), Gdiplus::InvalidParameter);
    EXPECT_EQ(image.Check(kGpOk), kGpOk);
    EXPECT_EQ(image.LastStatus(), Gdiplus::InvalidParameter) << "a later success does not clear the status";

    GdiplusImage moved(std::move(image));
    EXPECT_FALSE(image);
    EXPECT_EQ(image.Width(), 0);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved.Width(), 4);
    EXPECT_EQ(moved.Height(), 3);
    EXPECT_EQ(moved.LastStatus(), Gdiplus::InvalidParameter);

    GdiplusImage assigned = CreateWorkingImage(1, 1);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.Width(), 4);
    EXPECT_FALSE(moved);
    assigned.Reset();
    EXPECT_FALSE(assigned);
    EXPECT_EQ(assigned.Height(), 0);
}

TEST(CreateGdiplusBitmapTest, NewBitmapsAreZeroWithAStrideOfFourBytesPerPixel) {
    struct Case {
        int width, height;
        Gdiplus::PixelFormat format;
    };
    const Case cases[] = {{1, 1, PixelFormat32bppPARGB},  {3, 5, PixelFormat32bppPARGB},
                          {17, 2, PixelFormat32bppPARGB}, {256, 256, PixelFormat32bppPARGB},
                          {7, 3, PixelFormat32bppARGB},   {512, 512, PixelFormat32bppARGB}};
    for (const Case& c : cases) {
        GdiplusImage image = CreateGdiplusBitmap(c.width, c.height, c.format);
        ASSERT_TRUE(image) << c.width << "x" << c.height;
        EXPECT_EQ(image.Format(), c.format);
        BitmapLock lock(image, Gdiplus::ImageLockModeRead, c.format);
        ASSERT_TRUE(lock.Locked());
        EXPECT_EQ(lock.Stride(), c.width * 4);
        EXPECT_EQ(lock.Width(), c.width);
        EXPECT_EQ(lock.Height(), c.height);
        bool zero = true;
        for (int y = 0; y < c.height; ++y)
            zero = zero && std::all_of(lock.Row(y), lock.Row(y) + c.width * 4, [](uint8_t v) { return v == 0; });
        EXPECT_TRUE(zero) << c.width << "x" << c.height;
    }
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-1, 4}}) {
        GdiplusImage none = CreateGdiplusBitmap(w, h);
        EXPECT_FALSE(none);
        EXPECT_NE(none.LastStatus(), kGpOk);
    }
}

TEST(CreateGdiplusBitmapTest, BitmapsOfFewerBitsPerPixelAreClearedWithinTheirRows) {
    // A row of 4001 one-bit pixels is 504 bytes; clearing a byte per pixel would run far past the last row and
    // ruin the heap, so that reading the bitmap back or a later allocation fails.
    struct Case {
        Gdiplus::PixelFormat format;
        int bits;
    };
    const Case cases[] = {{PixelFormat1bppIndexed, 1},
                          {PixelFormat4bppIndexed, 4},
                          {PixelFormat8bppIndexed, 8},
                          {PixelFormat24bppRGB, 24}};
    for (const Case& c : cases) {
        for (int i = 0; i < 64; ++i) {
            GdiplusImage image = CreateGdiplusBitmap(4001, 3, c.format);
            ASSERT_TRUE(image) << c.bits << " bits, bitmap " << i << ", status " << image.LastStatus();
            if (i > 0) continue;
            BitmapLock lock(image, Gdiplus::ImageLockModeRead, c.format);
            ASSERT_TRUE(lock.Locked()) << c.bits << " bits, status " << image.LastStatus();
            const int rowBytes = (4001 * c.bits + 7) / 8;
            for (int y = 0; y < 3; ++y)
                EXPECT_TRUE(std::all_of(lock.Row(y), lock.Row(y) + rowBytes, [](uint8_t v) { return v == 0; }))
                    << c.bits << " bits, row " << y;
        }
    }
    EXPECT_TRUE(CreateWorkingImage(256, 256));
}

TEST(PixelAccessTest, PixelsRoundTripAndConvertToStraightAlpha) {
    const uint32_t pixels[] = {0xFF102030u, 0x80402010u, 0x00000000u, 0xFFFFFFFFu, 0x40404040u, 0x01010101u};
    WorkingImage image = WorkingImageFromPixels(pixels, 3, 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(image.Format(), PixelFormat32bppPARGB);
    EXPECT_EQ(ReadPixels(image), std::vector<uint32_t>(std::begin(pixels), std::end(pixels)));

    const std::vector<uint32_t> straight = ReadPixels(image, PixelFormat32bppARGB);
    ASSERT_EQ(straight.size(), 6u);
    struct Expected {
        int index, a, r, g, b;
    };
    const Expected expected[] = {{0, 255, 0x10, 0x20, 0x30}, {1, 128, 128, 64, 32}, {4, 64, 255, 255, 255}};
    for (const Expected& e : expected) {
        const uint32_t p = straight[e.index];
        EXPECT_EQ(int(p >> 24), e.a) << e.index;
        EXPECT_NEAR(int((p >> 16) & 0xFF), e.r, 1) << e.index;
        EXPECT_NEAR(int((p >> 8) & 0xFF), e.g, 1) << e.index;
        EXPECT_NEAR(int(p & 0xFF), e.b, 1) << e.index;
    }
    EXPECT_TRUE(ReadPixels(GdiplusImage()).empty());
    EXPECT_TRUE(ReadPixels(image, PixelFormat24bppRGB).empty());
    BitmapLock none(GdiplusImage(), Gdiplus::ImageLockModeRead);
    EXPECT_FALSE(none.Locked());
}

struct DecodeCase {
    const wchar_t* name;
    std::vector<uint8_t> bytes;
    bool decodes;
    int width, height;
};

TEST(DecodeImageFileTest, DecodesPicturesAndReportsWhatIsNoPicture) {
    TempFolder folder;
    // A real PNG to cut short.
    const WideString png = folder / L"whole.png";
    {
        const std::vector<uint32_t> pixels(64 * 64, 0xFF336699u);
        ASSERT_TRUE(SavePng(WorkingImageFromPixels(pixels.data(), 64, 64), png.Text()));
    }
    const std::vector<uint8_t> pngBytes = ReadBytes(png.Text());
    ASSERT_GT(pngBytes.size(), 60u);
    const std::vector<uint8_t> bmp = BmpFile(5, 3);
    const std::string text = "this is a text file, not a picture\r\n";

    const DecodeCase cases[] = {
        {L"picture.bmp", bmp, true, 5, 3},
        {L"picture.png", pngBytes, true, 64, 64},
        {L"bmp named.png", bmp, true, 5, 3},
        {L"icon.ico", IcoFile({16, 32}), true, 16, 16},
        {L"empty.png", {}, false, 0, 0},
        {L"text.png", std::vector<uint8_t>(text.begin(), text.end()), false, 0, 0},
        {L"header only.bmp", std::vector<uint8_t>(bmp.begin(), bmp.begin() + 20), false, 0, 0},
    };
    for (const DecodeCase& c : cases) {
        const WideString path = folder / c.name;
        ASSERT_TRUE(WriteBytes(path.Text(), c.bytes));
        GdiplusImage image = DecodeImageFile(path.Text());
        EXPECT_EQ(static_cast<bool>(image), c.decodes) << testing_support::Narrow(c.name);
        if (c.decodes) {
            EXPECT_EQ(image.LastStatus(), kGpOk);
            EXPECT_EQ(image.Width(), c.width);
            EXPECT_EQ(image.Height(), c.height);
        } else {
            EXPECT_NE(image.LastStatus(), kGpOk) << testing_support::Narrow(c.name);
        }
    }
    GdiplusImage missing = DecodeImageFile((folder / L"missing.png").Text());
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.LastStatus(), kGpOk);

    GdiplusImage picture = DecodeImageFile((folder / L"picture.bmp").Text());
    const std::vector<uint32_t> pixels = ReadPixels(picture);
    ASSERT_EQ(pixels.size(), 15u);
    EXPECT_EQ(pixels[0], 0xFFC80000u);          // x 0, y 0: blue 0, green 0, red 200
    EXPECT_EQ(pixels[2 * 5 + 4], 0xFFC878A0u);  // x 4, y 2: blue 160, green 120
}

TEST(DecodeImageFileTest, PicturesCutShortNeverCrashTheScaling) {
    TempFolder folder;
    const WideString whole = folder / L"whole.png";
    {
        std::vector<uint32_t> pixels(300 * 200);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
        ASSERT_TRUE(SavePng(WorkingImageFromPixels(pixels.data(), 300, 200), whole.Text()));
    }
    const std::vector<uint8_t> png = ReadBytes(whole.Text());
    const std::vector<uint8_t> bmp = BmpFile(300, 200);
    for (const auto& [bytes, name] : {std::pair{&png, L"cut.png"}, std::pair{&bmp, L"cut.bmp"}})
        for (size_t keep : {bytes->size() / 2, bytes->size() - 16, size_t(70)}) {
            // Wine's decoder keeps a file that it failed to decode open, so every attempt gets its own file.
            const WideString path = folder / WideString::Concat(WideString::FromUInt(keep), name).Text();
            ASSERT_TRUE(WriteBytes(path.Text(), bytes->data(), keep));
            GdiplusImage image = DecodeImageFile(path.Text());
            if (!image) {
                EXPECT_NE(image.LastStatus(), kGpOk);
                continue;
            }
            // Some decoders accept a short file; what the scaling makes of it only has to be safe and sized.
            ScaleSource source(std::move(image));
            WorkingImage scaled = ScaleImage(source, 32, 32, kCenter);
            if (scaled) {
                EXPECT_EQ(scaled.Width(), 32);
            }
        }
}

TEST(DecodeImageStreamTest, DecodesAPictureHeldInMemory) {
    const std::vector<uint8_t> bmp = BmpFile(6, 4);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bmp.size());
    ASSERT_NE(memory, nullptr);
    std::memcpy(GlobalLock(memory), bmp.data(), bmp.size());
    GlobalUnlock(memory);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(memory, TRUE, stream.Receive()), S_OK);
    {
        GdiplusImage image = DecodeImageStream(stream.Get());
        ASSERT_TRUE(image);
        EXPECT_EQ(image.Width(), 6);
        EXPECT_EQ(image.Height(), 4);
    }
    GdiplusImage none = DecodeImageStream(nullptr);
    EXPECT_FALSE(none);
    EXPECT_NE(none.LastStatus(), kGpOk);
}

TEST(FramesTest, CountsAndSelectsTheFramesOfAMultiImagePicture) {
    TempFolder folder;
    struct Case {
        std::vector<uint8_t> bytes;
        const wchar_t* name;
        std::vector<int> widths;  // of each frame
    };
    const Case cases[] = {
        {BmpFile(9, 4), L"one.bmp", {9}},
        {IcoFile({16, 48, 32}), L"three.ico", {16, 48, 32}},
        {IcoFile({256}), L"single.ico", {256}},
    };
    for (const Case& c : cases) {
        const WideString path = folder / c.name;
        ASSERT_TRUE(WriteBytes(path.Text(), c.bytes));
        GdiplusImage image = DecodeImageFile(path.Text());
        ASSERT_TRUE(image) << testing_support::Narrow(c.name);
        ASSERT_EQ(FrameCount(image), c.widths.size()) << testing_support::Narrow(c.name);
        for (unsigned i = c.widths.size(); i-- > 0;) {
            ASSERT_TRUE(SelectFrame(image, i));
            EXPECT_EQ(image.Width(), c.widths[i]) << testing_support::Narrow(c.name) << " frame " << i;
        }
        EXPECT_FALSE(SelectFrame(image, static_cast<unsigned>(c.widths.size()) + 3));
    }
    EXPECT_EQ(FrameCount(GdiplusImage()), 0u);
    EXPECT_FALSE(SelectFrame(GdiplusImage(), 0));
}

}  // namespace
