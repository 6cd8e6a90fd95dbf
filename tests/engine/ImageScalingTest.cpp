#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/PictureSupport.h"
#include "support/TestSupport.h"
#include "engine/ImageScaling.h"
#include "engine/JpegDecoder.h"

namespace {

const auto* const kImaging = testing_support::RegisterImagingEnvironment();

// Premultiplied BGRA as one little-endian value: 0xAARRGGBB.
constexpr uint32_t Pixel(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    return (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}
int Channel(uint32_t pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xFF);
}
int Alpha(uint32_t p) {
    return Channel(p, 24);
}
int Red(uint32_t p) {
    return Channel(p, 16);
}

WorkingImage MakeImage(int width, int height, const std::function<uint32_t(int, int)>& pixel) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = pixel(x, y);
    return WorkingImageFromPixels(pixels.data(), width, height);
}

WorkingImage Flat(int width, int height, uint32_t value) {
    return MakeImage(width, height, [value](int, int) { return value; });
}

// Deterministic detail: every pixel differs from its neighbours, so a rectangle off by one pixel shows.
uint32_t Noise(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return Pixel(255, h & 0xFF, (h >> 8) & 0xFF, (h >> 16) & 0xFF);
}

int MaxDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8)
            worst = std::max(worst, std::abs(Channel(a[i], shift) - Channel(b[i], shift)));
    return worst;
}

struct CenterCase {
    int sourceWidth, sourceHeight, size;
    RECT covered;  // left, top, right, bottom
};

TEST(ScaleImageTest, CenterDrawsIntoTheRectangleOfTheSourceProportionsAndLeavesMarginsTransparent) {
    const CenterCase cases[] = {
        {300, 200, 48, {0, 8, 48, 40}},  {200, 300, 48, {8, 0, 40, 48}},
        {1000, 999, 16, {0, 0, 16, 15}},  // the lost row stays transparent at the bottom
        {1000, 999, 48, {0, 0, 48, 47}}, {64, 64, 32, {0, 0, 32, 32}},
    };
    const uint32_t colour = Pixel(255, 0xC0, 0x80, 0x30);
    for (const CenterCase& c : cases) {
        WorkingImage source = Flat(c.sourceWidth, c.sourceHeight, colour);
        WorkingImage result = ScaleImage(source, c.size, c.size, kCenter);
        ASSERT_TRUE(result);
        ASSERT_EQ(result.Width(), c.size);
        ASSERT_EQ(result.Height(), c.size);
        const std::vector<uint32_t> pixels = ReadPixels(result);
        int wrong = 0;
        for (int y = 0; y < c.size; ++y)
            for (int x = 0; x < c.size; ++x) {
                const bool inside =
                    x >= c.covered.left && x < c.covered.right && y >= c.covered.top && y < c.covered.bottom;
                if (pixels[static_cast<size_t>(y) * c.size + x] != (inside ? colour : 0u)) ++wrong;
            }
        EXPECT_EQ(wrong, 0) << c.sourceWidth << "x" << c.sourceHeight << " at " << c.size;
    }
}

struct CropCase {
    int sourceWidth, sourceHeight, size;
    RECT cropped;  // the source rectangle: left, top, right, bottom
};

TEST(ScaleImageTest, CropDrawsTheCentredSourceRectangleOverTheWholeImage) {
    // The picture is the expected rectangle's content with its edge pixels repeated outwards, so cropping exactly
    // that rectangle gives the same result as stretching the content alone; a rectangle one pixel off does not.
    // The content's detail comes in 2 x 2 blocks so that its first reduction has the same edges as the padding.
    const CropCase cases[] = {
        {300, 200, 48, {50, 0, 250, 200}},
        {200, 300, 48, {0, 50, 200, 250}},
        {1000, 999, 512, {1, 0, 999, 999}},  // 1000 / (1000 / 999) truncates to 998
        {999, 1000, 512, {0, 0, 999, 999}},  // 1000 * (999 / 1000) is 999
    };
    for (const CropCase& c : cases) {
        const int w = c.cropped.right - c.cropped.left, h = c.cropped.bottom - c.cropped.top;
        auto blocks = [](int x, int y) { return Noise(x / 2, y / 2); };
        WorkingImage content = MakeImage(w, h, blocks);
        WorkingImage padded = MakeImage(c.sourceWidth, c.sourceHeight, [&](int x, int y) {
            return blocks(std::clamp(x - int(c.cropped.left), 0, w - 1), std::clamp(y - int(c.cropped.top), 0, h - 1));
        });
        WorkingImage expected = ScaleImage(content, c.size, c.size, 0);
        WorkingImage cropped = ScaleImage(padded, c.size, c.size, kCrop);
        ASSERT_TRUE(expected);
        ASSERT_TRUE(cropped);
        EXPECT_LE(MaxDifference(ReadPixels(cropped), ReadPixels(expected)), 1)
            << c.sourceWidth << "x" << c.sourceHeight << " at " << c.size;
    }
}

TEST(ScaleImageTest, StretchFillsTheWholeImageAndFlatColoursStayExact) {
    const uint32_t colours[] = {Pixel(255, 0xC0, 0x80, 0x30), Pixel(255, 255, 255, 255), Pixel(255, 0, 0, 0),
                                Pixel(255, 1, 254, 7)};
    const int sizes[] = {16, 24, 32, 48, 64, 256, 512};
    const IconJobFlags modes[] = {0, kCenter, kCrop};
    for (uint32_t colour : colours) {
        WorkingImage square = Flat(700, 700, colour);
        WorkingImage wide = Flat(300, 200, colour);
        for (int size : sizes)
            for (IconJobFlags mode : modes) {
                // A square source covers everything in every mode; a non-square one in Stretch and Crop.
                for (const WorkingImage* source : {&square, &wide}) {
                    if (source == &wide && mode == kCenter) continue;
                    const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(*source, size, size, mode));
                    ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size);
                    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [&](uint32_t p) { return p == colour; }))
                        << std::hex << colour << std::dec << " at " << size << " mode " << mode;
                }
            }
    }
}

TEST(ScaleImageTest, FlatHalfTransparentColourKeepsColourAndAlphaExactly) {
    // Straight ARGB in, straight ARGB out, with no drift from rounding: reductions through several box halvings,
    // a reduction straight from the picture, and an enlargement.
    struct Straight {
        int a, r, g, b;
    };
    const Straight colours[] = {
        {128, 200, 100, 50}, {128, 255, 255, 255}, {200, 17, 230, 99}, {64, 240, 16, 128}, {1, 255, 7, 128}};
    const SIZE sources[] = {{2000, 1500}, {333, 211}, {7, 5}};
    for (const SIZE& source : sources)
        for (const Straight& s : colours) {
            GdiplusImage straight = CreateGdiplusBitmap(source.cx, source.cy, PixelFormat32bppARGB);
            {
                BitmapLock lock(straight, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB);
                ASSERT_TRUE(lock.Locked());
                for (int y = 0; y < lock.Height(); ++y)
                    std::fill_n(reinterpret_cast<uint32_t*>(lock.Row(y)), lock.Width(), Pixel(s.a, s.r, s.g, s.b));
            }
            for (int size : {16, 32, 48, 256})
                for (IconJobFlags mode : {IconJobFlags(0), kCrop}) {
                    const std::vector<uint32_t> pixels =
                        ReadPixels(ScaleImage(straight, size, size, mode), PixelFormat32bppARGB);
                    ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size);
                    const size_t exact =
                        static_cast<size_t>(std::count(pixels.begin(), pixels.end(), Pixel(s.a, s.r, s.g, s.b)));
                    EXPECT_EQ(exact, pixels.size()) << source.cx << " x " << source.cy << ", alpha " << s.a << " at "
                                                    << size << "; first " << std::hex << pixels[0];
                }
        }
}

TEST(ScaleImageTest, HardEdgesStaySharpWithoutAnOvershootBand) {
    // A vertical edge at x = 301 of 600: every reduced row rises monotonically from the one flat value to the other,
    // and more than one output pixel away from the edge it is the flat value itself (no ringing halo).
    struct Edge {
        int low, high;
    };
    for (const Edge& e : {Edge{0, 255}, Edge{64, 192}, Edge{255, 0}}) {
        WorkingImage edge = MakeImage(600, 400, [e](int x, int) {
            const int v = x < 301 ? e.low : e.high;
            return Pixel(255, v, v, v);
        });
        for (int size : {16, 32, 37, 48, 256}) {
            SCOPED_TRACE(std::to_string(e.low) + "/" + std::to_string(e.high) + " at " + std::to_string(size));
            const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(edge, size, size, kCrop), PixelFormat32bppARGB);
            ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size);
            const double edgeAt = (301.0 - 100.0) * size / 400.0;  // crop keeps the middle 400 columns
            int worst = 0, steps = 0;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    const int v = Red(pixels[static_cast<size_t>(y) * size + x]);
                    if (x > 0) {
                        const int before = Red(pixels[static_cast<size_t>(y) * size + x - 1]);
                        steps += e.low < e.high ? v < before : v > before;
                    }
                    if (x + 0.5 < edgeAt - 1.5) worst = std::max(worst, std::abs(v - e.low));
                    if (x + 0.5 > edgeAt + 1.5) worst = std::max(worst, std::abs(v - e.high));
                }
            }
            EXPECT_EQ(steps, 0) << "a step against the edge's direction";
            EXPECT_EQ(worst, 0) << "a value off the flat side away from the edge";
            // Sharp: the edge spans at most three output pixels.
            int between = 0;
            for (int x = 0; x < size; ++x) {
                const int v = Red(pixels[static_cast<size_t>(size / 2) * size + x]);
                between += v != e.low && v != e.high;
            }
            EXPECT_LE(between, 3);
        }
    }
}

TEST(ScaleImageTest, SquareSourceGivesTheSameImageInAllThreeModes) {
    WorkingImage source = MakeImage(150, 150, Noise);
    for (int size : {16, 48, 256}) {
        const std::vector<uint32_t> stretch = ReadPixels(ScaleImage(source, size, size, 0));
        EXPECT_EQ(ReadPixels(ScaleImage(source, size, size, kCenter)), stretch) << size;
        EXPECT_EQ(ReadPixels(ScaleImage(source, size, size, kCrop)), stretch) << size;
        EXPECT_EQ(ReadPixels(ScaleImage(source, size, size, kCenter | kCrop)), stretch) << size;
    }
}

TEST(ScaleImageTest, CenterWinsWhenBothFitBitsAreSet) {
    WorkingImage source = Flat(300, 200, Pixel(255, 10, 20, 30));
    const std::vector<uint32_t> both = ReadPixels(ScaleImage(source, 48, 48, kCenter | kCrop));
    EXPECT_EQ(both, ReadPixels(ScaleImage(source, 48, 48, kCenter)));
    EXPECT_EQ(both[0], 0u);
}

TEST(ScaleImageTest, APictureDrawnAtItsOwnSizeKeepsEveryPixel) {
    // Neither reduced nor enlarged: a 256 picture made into a 256 entry (or a crop at its own height) is copied
    // as it is, not softened by the reducing filter.
    struct Case {
        int sourceWidth, sourceHeight, size;
        IconJobFlags mode;
        int left, top;  // of the size x size part of the source that must come out unchanged
    };
    const Case cases[] = {{48, 48, 48, 0, 0, 0},
                          {48, 48, 48, kCenter, 0, 0},
                          {256, 256, 256, kCrop, 0, 0},
                          {300, 200, 200, kCrop, 50, 0},
                          {200, 300, 200, kCrop, 0, 50}};
    for (const Case& c : cases) {
        WorkingImage source = MakeImage(c.sourceWidth, c.sourceHeight, Noise);
        const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(source, c.size, c.size, c.mode));
        ASSERT_EQ(pixels.size(), static_cast<size_t>(c.size) * c.size);
        int changed = 0;
        for (int y = 0; y < c.size; ++y)
            for (int x = 0; x < c.size; ++x)
                if (pixels[static_cast<size_t>(y) * c.size + x] != Noise(x + c.left, y + c.top)) ++changed;
        EXPECT_EQ(changed, 0) << c.sourceWidth << "x" << c.sourceHeight << " at " << c.size << " mode " << c.mode;
    }
}

TEST(ScaleImageTest, FineCheckerReducesToMidGreyInsteadOfAliasing) {
    // 2 x 2-pixel black and white checks: point sampling gives solid black or white, resampling mid-grey.
    WorkingImage checker = MakeImage(1024, 1024, [](int x, int y) {
        return ((x / 2 + y / 2) % 2) ? Pixel(255, 255, 255, 255) : Pixel(255, 0, 0, 0);
    });
    for (int size : {32, 16, 48, 256}) {
        const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(checker, size, size, 0));
        ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size);
        double sum = 0;
        int outliers = 0;
        for (uint32_t p : pixels) {
            sum += Red(p) / 255.0;
            if (Red(p) < 0.45 * 255 || Red(p) > 0.55 * 255) ++outliers;
        }
        const double mean = sum / pixels.size();
        EXPECT_GE(mean, 0.45) << size;
        EXPECT_LE(mean, 0.55) << size;
        EXPECT_EQ(outliers, 0) << size;
    }
}

TEST(ScaleImageTest, EnlargingASmallPictureIsSmoothNotBlocky) {
    // 8 x 8 one-pixel checks enlarged 32 times: nearest-neighbour would jump by 255 between 32-pixel blocks.
    WorkingImage small =
        MakeImage(8, 8, [](int x, int y) { return ((x + y) % 2) ? Pixel(255, 255, 255, 255) : Pixel(255, 0, 0, 0); });
    const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(small, 256, 256, 0));
    ASSERT_EQ(pixels.size(), 256u * 256u);
    int largestStep = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint32_t p = pixels[y * 256 + x];
            ASSERT_EQ(Alpha(p), 255);
            if (x > 0) largestStep = std::max(largestStep, std::abs(Red(p) - Red(pixels[y * 256 + x - 1])));
            if (y > 0) largestStep = std::max(largestStep, std::abs(Red(p) - Red(pixels[(y - 1) * 256 + x])));
        }
    EXPECT_LE(largestStep, 255 / 8);
    // The enlargement interpolates: the middle of a source pixel keeps its value.
    EXPECT_LE(Red(pixels[16 * 256 + 16]), 8);
    EXPECT_GE(Red(pixels[16 * 256 + 48]), 247);
}

TEST(ScaleImageTest, ResultsAreValidPremultipliedPixels) {
    // The cubic filters overshoot at hard edges; a colour above its alpha would break un-premultiplying.
    WorkingImage edges = MakeImage(
        40, 40, [](int x, int y) { return (x / 5 + y / 5) % 2 ? Pixel(255, 255, 255, 255) : Pixel(0, 0, 0, 0); });
    for (int size : {16, 37, 256}) {
        const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(edges, size, size, 0));
        ASSERT_FALSE(pixels.empty());
        for (uint32_t p : pixels) {
            ASSERT_LE(Red(p), Alpha(p));
            ASSERT_LE(Channel(p, 8), Alpha(p));
            ASSERT_LE(Channel(p, 0), Alpha(p));
        }
    }
}

TEST(ScaleImageTest, GivesNothingWithoutSourceOrSize) {
    WorkingImage source = Flat(10, 10, Pixel(255, 1, 2, 3));
    EXPECT_FALSE(ScaleImage(WorkingImage(), 16, 16, 0));
    EXPECT_FALSE(ScaleImage(source, 0, 0, 0));
    EXPECT_FALSE(ScaleImage(source, -16, 16, 0));
    ScaleSource empty;
    EXPECT_FALSE(empty.Valid());
    EXPECT_FALSE(ScaleImage(empty, 16, 16, 0));
    // Non-square targets are made as asked.
    WorkingImage wide = ScaleImage(source, 30, 10, kCenter);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide.Width(), 30);
    EXPECT_EQ(wide.Height(), 10);
}

TEST(ScaleSourceTest, ScalingManySizesFromOnePreparedSourceMatchesScalingEachAlone) {
    WorkingImage picture = MakeImage(701, 433, Noise);
    ScaleSource prepared(MakeImage(701, 433, Noise));
    ASSERT_TRUE(prepared.Valid());
    EXPECT_EQ(prepared.Width(), 701);
    EXPECT_EQ(prepared.Height(), 433);
    // Small sizes first, so the reductions exist before the larger sizes come back to the fuller levels.
    for (int size : {16, 256, 32, 48, 512, 24})
        for (IconJobFlags mode : {IconJobFlags(0), kCenter, kCrop})
            EXPECT_EQ(ReadPixels(ScaleImage(prepared, size, size, mode)),
                      ReadPixels(ScaleImage(picture, size, size, mode)))
                << size << " mode " << mode;
}

TEST(ScaleSourceTest, AMovedFromSourceIsEmptyAndTheTargetScales) {
    const uint32_t colour = Pixel(255, 40, 80, 120);
    ScaleSource first(Flat(20, 20, colour));
    ScaleSource second(std::move(first));
    ScaleSource third;
    third = std::move(second);
    for (ScaleSource* emptied : {&first, &second}) {
        EXPECT_FALSE(emptied->Valid());
        EXPECT_FALSE(ScaleImage(*emptied, 16, 16, 0));
    }
    ASSERT_TRUE(third.Valid());
    const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(third, 16, 16, 0));
    ASSERT_EQ(pixels.size(), 256u);
    EXPECT_EQ(pixels[8 * 16 + 8], colour);
}

// Straight ARGB detail in every channel, alpha included, for pictures written to files.
uint32_t NoiseWithAlpha(int x, int y) {
    return (Noise(x, y) & 0x00FFFFFFu) | ((Noise(y + 7, x) & 0xFFu) << 24);
}

// A picture read in strips straight into a reduced level shows what the whole picture read and halved step by step
// shows, within rounding. A block cut short by the right or bottom edge averages the pixels it has where halving
// repeats the edge, so a picture whose size is no multiple of the block is compared on smooth content.
TEST(ScaleSourceTest, APictureReducedAsItIsReadMatchesTheWholePictureWithinRounding) {
    testing_support::TempFolder folder;
    struct Case {
        const wchar_t* name;
        int width, height;
        testing_support::PixelFunction pixel;
    };
    const Case cases[] = {
        {L"noise.png", 1536, 1024, NoiseWithAlpha},
        {L"ramps.png", 1001, 999,
         [](int x, int y) {
             return (static_cast<uint32_t>(40 + x / 5) << 24) | (static_cast<uint32_t>(x / 4) << 16) |
                    (static_cast<uint32_t>(y / 4) << 8) | static_cast<uint32_t>((x + y) / 8);
         }},
    };
    for (const Case& c : cases) {
        const WideString path = folder / c.name;
        ASSERT_TRUE(testing_support::SavePicture(path, c.width, c.height, c.pixel));
        const GdiplusImage whole = DecodeImageFile(path.Text());
        ASSERT_TRUE(whole);
        // Size 16 wants level 4 of both pictures in every fit, so each level up to it is used as read.
        for (int level = 1; level <= 4; ++level) {
            ScaleSource reduced(DecodeImageFile(path.Text()), level);
            ASSERT_TRUE(reduced.Valid());
            for (IconJobFlags mode : {kCenter, kCrop, IconJobFlags(0)}) {
                SCOPED_TRACE(testing::Message()
                             << testing_support::Narrow(c.name) << " level " << level << " mode " << mode);
                const std::vector<uint32_t> ours = ReadPixels(ScaleImage(reduced, 16, 16, mode));
                ASSERT_EQ(ours.size(), 256u);
                EXPECT_LE(MaxDifference(ours, ReadPixels(ScaleImage(whole, 16, 16, mode))), 1);
            }
            EXPECT_EQ(reduced.Width(), c.width) << "the size outlives the decoded picture";
            EXPECT_EQ(reduced.Height(), c.height);
        }
    }
}

// Straight colours survive a reduction made as the picture is read, whatever the level, also in blocks cut short by
// the edges and in the deepest level summed in one pass (an opaque white block of 256 x 256 fills 32 bits).
TEST(ScaleSourceTest, FlatColoursStayExactWhenReducedAsRead) {
    testing_support::TempFolder folder;
    const uint32_t colours[] = {0x80C86432u, 0xFFFFFFFFu, 0x01FF0780u, 0xC811E663u};
    const SIZE sources[] = {{1001, 777}, {2600, 1700}};
    for (const SIZE& source : sources)
        for (uint32_t colour : colours) {
            const WideString path = folder / L"flat.png";
            ASSERT_TRUE(testing_support::SavePicture(path, source.cx, source.cy, colour));
            std::vector<ScaleSource> reduced;
            for (int level : {1, 3, 8, 11})
                reduced.emplace_back(DecodeImageFile(path.Text()), level);
            for (IconJobFlags mode : {kCenter, kCrop}) {
                reduced.emplace_back();
                ASSERT_EQ(DecodePictureFile(path.Text(), SizeList{16, 32, 48}, mode, reduced.back()),
                          PictureDecode::Picture);
            }
            for (ScaleSource& picture : reduced)
                for (int size : {16, 48}) {
                    const std::vector<uint32_t> pixels =
                        ReadPixels(ScaleImage(picture, size, size, kCrop), PixelFormat32bppARGB);
                    ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size);
                    EXPECT_EQ(static_cast<size_t>(std::count(pixels.begin(), pixels.end(), colour)), pixels.size())
                        << source.cx << " x " << source.cy << " colour " << std::hex << colour << " first "
                        << pixels[0];
                }
        }
}

// An .ico holding 32-bit bitmap entries of the given sizes, each one flat colour.
std::vector<uint8_t> IconFile(const std::vector<std::pair<int, uint32_t>>& entries) {
    std::vector<uint8_t> bytes;
    auto put16 = [&](uint32_t v) { bytes.push_back(v & 0xFF), bytes.push_back((v >> 8) & 0xFF); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    put16(0), put16(1), put16(static_cast<uint32_t>(entries.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(entries.size());
    for (const auto& [size, colour] : entries) {
        const uint32_t maskRow = ((size + 31) / 32) * 4;
        const uint32_t bytesInRes = 40 + size * size * 4 + maskRow * size;
        bytes.push_back(static_cast<uint8_t>(size)), bytes.push_back(static_cast<uint8_t>(size));
        bytes.push_back(0), bytes.push_back(0);
        put16(1), put16(32), put32(bytesInRes), put32(offset);
        offset += bytesInRes;
        (void)colour;
    }
    for (const auto& [size, colour] : entries) {
        const uint32_t maskRow = ((size + 31) / 32) * 4;
        put32(40), put32(size), put32(size * 2), put16(1), put16(32), put32(0), put32(size * size * 4);
        put32(0), put32(0), put32(0), put32(0);
        for (int i = 0; i < size * size; ++i)
            put32(colour);
        bytes.insert(bytes.end(), maskRow * size, 0);
    }
    return bytes;
}

TEST(ScaleSourceTest, PictureWithFramesOfSeveralSizesScalesFromTheBestFrame) {
    testing_support::TempFolder folder;
    const uint32_t red = Pixel(255, 255, 0, 0), green = Pixel(255, 0, 255, 0), blue = Pixel(255, 0, 0, 255);
    const WideString path = folder / L"frames.ico";
    ASSERT_TRUE(testing_support::WriteBytes(path.Text(), IconFile({{16, red}, {48, green}, {32, blue}})));
    GdiplusImage decoded = DecodeImageFile(path.Text());
    ASSERT_TRUE(decoded) << decoded.LastStatus();
    ASSERT_EQ(FrameCount(decoded), 3u);

    struct Case {
        int size;
        uint32_t colour;  // of the frame that must be used
    };
    // The smallest frame at least as large as the size, else the largest frame.
    const Case cases[] = {{16, red}, {8, red}, {24, blue}, {32, blue}, {40, green}, {48, green}, {256, green}};
    ScaleSource source(std::move(decoded));
    ASSERT_TRUE(source.Valid());
    EXPECT_EQ(source.Width(), 16);  // the first frame's size, as a single-frame reader sees the picture
    for (const Case& c : cases) {
        const std::vector<uint32_t> pixels = ReadPixels(ScaleImage(source, c.size, c.size, 0));
        ASSERT_EQ(pixels.size(), static_cast<size_t>(c.size) * c.size);
        EXPECT_EQ(pixels[pixels.size() / 2], c.colour) << c.size;
    }
    EXPECT_EQ(source.Width(), 16) << "the picture is left showing its first frame";
}

TEST(ScaleSourceTest, SingleImageFormScalesTheActiveFrame) {
    testing_support::TempFolder folder;
    const uint32_t red = Pixel(255, 255, 0, 0), green = Pixel(255, 0, 255, 0);
    const WideString path = folder / L"two.ico";
    ASSERT_TRUE(testing_support::WriteBytes(path.Text(), IconFile({{16, red}, {48, green}})));
    GdiplusImage decoded = DecodeImageFile(path.Text());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(ReadPixels(ScaleImage(decoded, 48, 48, 0))[0], red);
}

TEST(IconCanvasTest, NewCanvasIsTopDownAndPresetToAlphaOne) {
    for (auto [w, h] : {std::pair{16, 16}, std::pair{3, 7}, std::pair{256, 256}}) {
        IconCanvas canvas = CreateIconCanvas(w, h);
        ASSERT_TRUE(canvas);
        ASSERT_NE(canvas.pixels, nullptr);
        EXPECT_EQ(canvas.width, w);
        const SizeInfo size = GetBitmapSize(canvas.Handle());
        EXPECT_EQ(size.width, w);
        EXPECT_EQ(size.height, h);
        EXPECT_EQ(size.bitsPerPixel, 32);
        EXPECT_TRUE(std::all_of(canvas.pixels, canvas.pixels + w * h, [](uint32_t p) { return p == 0x01000000u; }));
        // Top-down: the first row in memory is the top line of the drawing.
        MemoryDcHandle dc(CreateCompatibleDC(nullptr));
        {
            SelectGuard select(dc.Get(), canvas.Handle());
            SetPixelV(dc.Get(), 0, 0, RGB(255, 0, 0));
            GdiFlush();
        }
        EXPECT_EQ(canvas.pixels[0] & 0xFFFFFF, 0xFF0000u);
    }
    EXPECT_FALSE(CreateIconCanvas(0, 16));
    EXPECT_FALSE(CreateIconCanvas(16, -1));
}

// A colour icon from 32-bit straight ARGB pixels (top-down) with a mask where alpha is 0.
IconHandle MakeAlphaIcon(int size, const std::function<uint32_t(int, int)>& pixel) {
    IconCanvas colour = CreateIconCanvas(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            colour.pixels[y * size + x] = pixel(x, y);
    std::vector<uint8_t> maskBits(((size + 15) / 16) * 2 * size, 0);
    const int maskStride = ((size + 15) / 16) * 2;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if ((pixel(x, y) >> 24) == 0) maskBits[y * maskStride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    GdiObjectHandle mask(CreateBitmap(size, size, 1, 1, maskBits.data()));
    ICONINFO info{TRUE, 0, 0, static_cast<HBITMAP>(mask.Get()), colour.Handle()};
    return IconHandle(CreateIconIndirect(&info));
}

TEST(IconSizeTest, ReportsColourBitmapOrHalfTheMonochromeMask) {
    IconHandle colourIcon = MakeAlphaIcon(24, [](int, int) { return 0xFF102030u; });
    ASSERT_TRUE(colourIcon);
    const SizeInfo colour = GetIconSize(colourIcon.Get());
    EXPECT_EQ(colour.width, 24);
    EXPECT_EQ(colour.height, 24);
    EXPECT_EQ(colour.bitsPerPixel, 32);

    std::vector<uint8_t> andBits(4 * 32, 0xFF), xorBits(4 * 32, 0);
    IconHandle mono(CreateIcon(nullptr, 32, 32, 1, 1, andBits.data(), xorBits.data()));
    ASSERT_TRUE(mono);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(mono.Get(), &info));
    const bool monochrome = info.hbmColor == nullptr;
    const SizeInfo maskSize = GetBitmapSize(info.hbmMask);
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    ASSERT_TRUE(monochrome);
    EXPECT_EQ(maskSize.height, 64);
    const SizeInfo size = GetIconSize(mono.Get());
    EXPECT_EQ(size.width, 32);
    EXPECT_EQ(size.height, 32);
    EXPECT_EQ(size.bitsPerPixel, 1);

    const SizeInfo none = GetIconSize(nullptr);
    EXPECT_EQ(none.width + none.height + none.bitsPerPixel, 0);
    const SizeInfo noBitmap = GetBitmapSize(nullptr);
    EXPECT_EQ(noBitmap.width + noBitmap.height + noBitmap.bitsPerPixel, 0);
}

TEST(RenderIconTest, DrawsAnAlphaIconPremultipliedAndLeavesUntouchedPixelsAtAlphaOne) {
    // Left half opaque orange, top-right quarter half-transparent white, bottom-right quarter fully transparent.
    IconHandle icon = MakeAlphaIcon(16, [](int x, int y) -> uint32_t {
        if (x < 8) return 0xFFFF8000u;
        return y < 8 ? 0x80FFFFFFu : 0x00000000u;
    });
    ASSERT_TRUE(icon);
    IconCanvas canvas = RenderIcon(icon.Get());
    ASSERT_TRUE(canvas);
    ASSERT_EQ(canvas.width, 16);
    ASSERT_EQ(canvas.height, 16);
    EXPECT_EQ(canvas.pixels[4 * 16 + 2], 0xFFFF8000u);
    const uint32_t half = canvas.pixels[2 * 16 + 12];
    EXPECT_NEAR(Alpha(half), 128, 1);
    EXPECT_NEAR(Red(half), 128, 1);
    EXPECT_EQ(canvas.pixels[12 * 16 + 12], 0x01000000u);

    IconCanvas larger = RenderIcon(icon.Get(), 32, 32);
    ASSERT_TRUE(larger);
    EXPECT_EQ(larger.width, 32);
    EXPECT_EQ(larger.pixels[8 * 32 + 4], 0xFFFF8000u);
    EXPECT_FALSE(RenderIcon(nullptr));
}

TEST(ImageFromBitmapHandleTest, CopiesTheBitmapsPixelsAsPremultipliedValues) {
    // 87 lines: a line count that must not be mistaken for an error code.
    for (auto [w, h] : {std::pair{20, 87}, std::pair{16, 16}, std::pair{5, 3}}) {
        IconCanvas bitmap = CreateIconCanvas(w, h);
        for (int i = 0; i < w * h; ++i)
            bitmap.pixels[i] = Pixel(255, i & 0xFF, (i * 7) & 0xFF, 3);
        bitmap.pixels[0] = Pixel(128, 100, 50, 25);
        WorkingImage image = ImageFromBitmapHandle(bitmap.Handle(), w, h);
        ASSERT_TRUE(image) << w << "x" << h;
        const std::vector<uint32_t> pixels = ReadPixels(image);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(w) * h);
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), bitmap.pixels)) << w << "x" << h;
    }
    IconCanvas flat = CreateIconCanvas(40, 20);
    std::fill_n(flat.pixels, 40 * 20, Pixel(255, 9, 99, 199));
    WorkingImage stretched = ImageFromBitmapHandle(flat.Handle(), 16, 16);
    ASSERT_TRUE(stretched);
    EXPECT_EQ(stretched.Width(), 16);
    const std::vector<uint32_t> pixels = ReadPixels(stretched);
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint32_t p) { return p == Pixel(255, 9, 99, 199); }));
    EXPECT_FALSE(ImageFromBitmapHandle(nullptr, 16, 16));
}

TEST(ImageFromBitmapHandleTest, ABitmapTooLargeToCopyGivesNothing) {
    // 128 MB as one bit per pixel, but 4 GB and a little more as 32-bit pixels: beyond what a 32-bit size holds.
    GdiObjectHandle huge(CreateBitmap(32768, 32769, 1, 1, nullptr));
    if (!huge) GTEST_SKIP() << "the system refused a 128 MB monochrome bitmap";
    EXPECT_FALSE(ImageFromBitmapHandle(static_cast<HBITMAP>(huge.Get()), 16, 16));
}

TEST(GdiplusDrawingTest, DrawImageScaledAndScaledArgbCopyFillTheRequestedArea) {
    WorkingImage source = Flat(64, 64, Pixel(128, 64, 32, 16));
    GdiplusImage copy = ScaledArgbCopy(source, 20, 10);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.Format(), PixelFormat32bppARGB);
    EXPECT_EQ(copy.Width(), 20);
    EXPECT_EQ(copy.Height(), 10);
    const std::vector<uint32_t> straight = ReadPixels(copy, PixelFormat32bppARGB);
    ASSERT_EQ(straight.size(), 200u);
    EXPECT_NEAR(Alpha(straight[5 * 20 + 10]), 128, 1);
    EXPECT_NEAR(Red(straight[5 * 20 + 10]), 128, 2);

    WorkingImage destination = CreateWorkingImage(32, 32);
    EXPECT_TRUE(DrawImageScaled(Flat(8, 8, Pixel(255, 1, 2, 3)), destination, 16, 16));
    const std::vector<uint32_t> drawn = ReadPixels(destination);
    EXPECT_EQ(drawn[8 * 32 + 8], Pixel(255, 1, 2, 3));
    EXPECT_EQ(drawn[24 * 32 + 24], 0u);
    EXPECT_FALSE(DrawImageScaled(WorkingImage(), destination, 16, 16));
    EXPECT_FALSE(ScaledArgbCopy(WorkingImage(), 16, 16));
}

}  // namespace
