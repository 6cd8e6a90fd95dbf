#include "engine/JpegDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>

#include "PictureSupport.h"
#include "TestSupport.h"
#include "engine/ImageScaling.h"
#include "engine/Imaging.h"

using namespace testing_support;

namespace {

const auto* const kImaging = RegisterImagingEnvironment();

// A photo-like picture: smooth gradients, fine texture and hard edges, of a size that ends in partial 8 x 8 blocks.
constexpr int kWidth = 1001;
constexpr int kHeight = 667;
uint32_t Photo(int x, int y) {
    const uint32_t noise = (static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u) >> 27;
    const uint32_t r = (x * 255 / kWidth + noise) & 0xFF;
    const uint32_t g = ((x / 40 + y / 40) % 2) ? 220 : 30;
    const uint32_t b = (y * 255 / kHeight) & 0xFF;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// Peak signal-to-noise ratio of two equally long BGRA pixel rows over their colour bytes.
double Psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        for (int shift : {0, 8, 16}) {
            const double d = static_cast<double>((a[i] >> shift) & 0xFF) - static_cast<double>((b[i] >> shift) & 0xFF);
            sum += d * d;
            ++count;
        }
    }
    if (count == 0 || a.size() != b.size()) return 0;
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * count / sum);
}

std::vector<uint32_t> AlphaOf(const std::vector<uint32_t>& pixels) {
    std::vector<uint32_t> alpha;
    for (uint32_t p : pixels)
        alpha.push_back(p >> 24);
    return alpha;
}

int FixedShift(int, int, const void* context) {
    return *static_cast<const int*>(context);
}

class JpegDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SavePicture(jpeg, kWidth, kHeight, Photo, L"image/jpeg")); }
    TempFolder folder;
    WideString jpeg = folder / L"photo.jpg";
};

// The pixels at every DCT scale match the imaging library's own decode (reduced by 2 x 2 means for the scaled
// ones) within what two JPEG decoders and two ways of averaging may differ by. The two decoders' chroma differs by
// up to a tenth at the saturated checker edges of this picture (about 31 dB); a swapped channel, a shifted row or
// a wrong scale gives far less.
TEST_F(JpegDecoderTest, EveryScaleMatchesTheImagingLibrarysDecode) {
    const GdiplusImage reference = DecodeImageFile(jpeg.Text());
    ASSERT_TRUE(reference);
    std::vector<uint32_t> expected = ReadPixels(reference);
    int width = kWidth, height = kHeight;
    for (int shift = 0; shift <= kMaxJpegShift; ++shift) {
        JpegPicture picture;
        ASSERT_EQ(DecodeJpegFile(jpeg.Text(), FixedShift, &shift, picture), JpegStatus::Decoded) << shift;
        EXPECT_EQ(picture.width, kWidth);
        EXPECT_EQ(picture.height, kHeight);
        ASSERT_EQ(picture.planeWidth, width) << shift;
        ASSERT_EQ(picture.planeHeight, height) << shift;
        std::vector<uint32_t> decoded(picture.pixels.size() / 4);
        std::memcpy(decoded.data(), picture.pixels.data(), picture.pixels.size());
        EXPECT_EQ(AlphaOf(decoded), std::vector<uint32_t>(decoded.size(), 0xFF)) << shift;
        EXPECT_GT(Psnr(decoded, expected), 30) << "scale 1/" << (1 << shift);

        // The next level of the reference: means of 2 x 2 blocks, the last odd column or row taken twice.
        const int nextWidth = (width + 1) / 2, nextHeight = (height + 1) / 2;
        std::vector<uint32_t> next(static_cast<size_t>(nextWidth) * nextHeight);
        for (int y = 0; y < nextHeight; ++y)
            for (int x = 0; x < nextWidth; ++x) {
                const int x0 = 2 * x, x1 = std::min(2 * x + 1, width - 1);
                const int y0 = 2 * y, y1 = std::min(2 * y + 1, height - 1);
                uint32_t value = 0;
                for (int shiftBits = 0; shiftBits < 32; shiftBits += 8) {
                    uint32_t sum = 2;
                    for (int yy : {y0, y1})
                        for (int xx : {x0, x1})
                            sum += (expected[static_cast<size_t>(yy) * width + xx] >> shiftBits) & 0xFF;
                    value |= (sum >> 2) << shiftBits;
                }
                next[static_cast<size_t>(y) * nextWidth + x] = value;
            }
        expected.swap(next);
        width = nextWidth;
        height = nextHeight;
    }
}

// What the icon shows: every size and fit scaled from the reduced decode matches the same size scaled from the
// decoder's own full-size decode, with the same transparent margins (the imaging library's decode differs at the
// saturated edges by more than the scaling does, so it is no reference here). The largest size is reduced by less
// than four from this picture, too little for a reduced decode to leave the filter the detail it sharpens: those
// icons come out exactly as from the full decode.
TEST_F(JpegDecoderTest, IconSizesFromTheReducedDecodeMatchTheFullDecode) {
    struct Case {
        int size;
        IconJobFlags flags;
        bool exact;
    };
    const Case cases[] = {{16, kCenter, false}, {48, kCenter, false}, {256, kCenter, true}, {16, kCrop, false},
                          {32, kCrop, false},   {256, kCrop, true},   {16, 0, false},       {100, 0, false}};
    JpegPicture whole;
    const int noReduction = 0;
    ASSERT_EQ(DecodeJpegFile(jpeg.Text(), FixedShift, &noReduction, whole), JpegStatus::Decoded);
    ScaleSource full(std::move(whole.pixels), whole.width, whole.height, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << " flags " << c.flags);
        ScaleSource reduced;
        ASSERT_EQ(DecodePictureFile(jpeg.Text(), SizeList{c.size}, c.flags, reduced), PictureDecode::Picture);
        const std::vector<uint32_t> ours = ReadPixels(ScaleImage(reduced, c.size, c.size, c.flags));
        const std::vector<uint32_t> theirs = ReadPixels(ScaleImage(full, c.size, c.size, c.flags));
        ASSERT_EQ(ours.size(), static_cast<size_t>(c.size) * c.size);
        EXPECT_EQ(AlphaOf(ours), AlphaOf(theirs));
        if (c.exact)
            EXPECT_EQ(ours, theirs);
        else
            EXPECT_GT(Psnr(ours, theirs), 40);
    }
}

// Damaged and hostile files are refused (never padded with grey, never ending the process); a file that is no
// JPEG is left to the other decoders.
TEST_F(JpegDecoderTest, DamagedFilesAreRefusedAndOtherFilesPassedOn) {
    const std::vector<uint8_t> good = ReadBytes(jpeg.Text());
    ASSERT_GT(good.size(), 2000u);
    std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<uint8_t> headerOnly(good.begin(), good.begin() + 400);
    std::vector<uint8_t> scrambled = good;
    for (size_t i = good.size() / 3; i < good.size() / 3 + 600; ++i)
        scrambled[i] = static_cast<uint8_t>(i * 37);
    // A start-of-frame that claims 65000 x 65000 pixels over a few bytes of data.
    std::vector<uint8_t> giant = good;
    for (size_t i = 0; i + 8 < giant.size(); ++i)
        if (giant[i] == 0xFF && giant[i + 1] == 0xC0) {
            giant[i + 5] = 0xFD, giant[i + 6] = 0xE8, giant[i + 7] = 0xFD, giant[i + 8] = 0xE8;
            break;
        }
    giant.resize(3000);
    const std::vector<uint8_t> signatureOnly = {0xFF, 0xD8, 0xFF};
    const std::vector<uint8_t> text = {'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};
    struct Case {
        const wchar_t* name;
        const std::vector<uint8_t>& bytes;
        PictureDecode expected;
    };
    const Case cases[] = {
        {L"truncated.jpg", truncated, PictureDecode::Failed},     {L"header.jpg", headerOnly, PictureDecode::Failed},
        {L"scrambled.jpg", scrambled, PictureDecode::Failed},     {L"giant.jpg", giant, PictureDecode::Failed},
        {L"signature.jpg", signatureOnly, PictureDecode::Failed}, {L"text.jpg", text, PictureDecode::NotPicture}};
    for (const Case& c : cases) {
        const WideString path = folder / c.name;
        ASSERT_TRUE(WriteBytes(path.Text(), c.bytes));
        for (int size : {16, 256}) {
            ScaleSource source;
            EXPECT_EQ(DecodePictureFile(path.Text(), SizeList{size}, kCenter, source), c.expected)
                << Narrow(c.name) << " at " << size;
            EXPECT_FALSE(source.Valid());
        }
    }
}

}  // namespace
