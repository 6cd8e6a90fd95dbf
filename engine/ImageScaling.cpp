#include "engine/ImageScaling.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/Resampler.h"

namespace {

// The fit geometry is defined on double results. On x87 GCC may keep intermediates in extended precision, which
// can move a truncation by one (1000 / (1000 / 999) must give 998.99..., not 999), so every step is stored.
double Stored(double value) {
    volatile double stored = value;
    return stored;
}

int Trunc(double value) {
    return static_cast<int>(value);
}

// Where the source goes: the source rectangle (in source pixels) drawn into the destination rectangle.
struct FitGeometry {
    int srcX, srcY, srcWidth, srcHeight;
    int dstX, dstY, dstWidth, dstHeight;
};

FitGeometry ComputeFit(unsigned sw, unsigned sh, int width, int height, IconJobFlags flags) {
    FitGeometry g{0, 0, static_cast<int>(sw), static_cast<int>(sh), 0, 0, width, height};
    const double r = Stored(static_cast<double>(sw) / static_cast<double>(sh));
    if (flags & kCenter) {
        if (sw > sh) {
            g.dstHeight = Trunc(Stored(height / r));
            g.dstY = Trunc(Stored((height - g.dstHeight) * 0.5));
        } else if (sw < sh) {
            g.dstWidth = Trunc(Stored(width * r));
            g.dstX = Trunc(Stored((width - g.dstWidth) * 0.5));
        }
    } else if (flags & kCrop) {
        if (sw > sh) {
            g.srcWidth = Trunc(Stored(sw / r));
            g.srcX = Trunc(Stored((static_cast<double>(sw) - g.srcWidth) * 0.5));
        } else if (sw < sh) {
            g.srcHeight = Trunc(Stored(sh * r));
            g.srcY = Trunc(Stored((static_cast<double>(sh) - g.srcHeight) * 0.5));
        }
    }
    return g;
}

// Straight-alpha BGRA pixels, rows top-down, stride width * 4.
struct PixelPlane {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
};

// Largest copy of a picture's pixels the program makes for scaling. A 32-bit process has at most 4 GB of address
// space, which GDI+'s own decoded picture shares, so a larger block rarely fits. A 64-bit process is held back by
// memory alone: 4 GiB holds a gigapixel picture's pixels, and the limit still refuses absurd sizes before they are
// committed.
#ifdef _WIN64
constexpr uint64_t kMaxPlaneBytes = 4ull << 30;
#else
constexpr uint64_t kMaxPlaneBytes = 512ull << 20;
#endif

// How many 2 x 2 halvings a region of srcWidth x srcHeight source pixels takes before it is resampled to the output
// size: the smallest level on which it still spans at least three times the output (twice for sizes above 64, whose
// filter would otherwise cost a multiple for little gain). The box reductions stop there, so the final filter sees
// enough of the detail to stay sharp.
int WantedLevel(int srcWidth, int srcHeight, int outWidth, int outHeight) {
    const int64_t factor = std::max(outWidth, outHeight) <= 64 ? 3 : 2;
    int wanted = 0;
    while ((static_cast<int64_t>(srcWidth) >> (wanted + 1)) >= factor * outWidth &&
           (static_cast<int64_t>(srcHeight) >> (wanted + 1)) >= factor * outHeight)
        ++wanted;
    return wanted;
}

// Rows the imaging library converts at a time when a picture is reduced as it is read.
constexpr int kStripRows = 32;

// Adds one row of straight pixels into the sums of its blocks, four premultiplied values a block.
void AddRowToBlocks(const uint8_t* row, int width, int level, uint32_t* sums) {
    const int block = 1 << level;
    for (int x = 0; x < width; sums += 4) {
        const int end = std::min(width, x + block);
        uint32_t b = 0, g = 0, r = 0, a = 0;
        for (; x < end; ++x, row += 4) {
            const uint32_t alpha = row[3];
            b += row[0] * alpha;
            g += row[1] * alpha;
            r += row[2] * alpha;
            a += alpha;
        }
        sums[0] += b;
        sums[1] += g;
        sums[2] += r;
        sums[3] += a * 255;
    }
}

// Writes the rounded means of a finished row of blocks and clears the sums for the next one.
void EmitBlocks(uint32_t* sums, int blocks, int width, int level, int rows, uint16_t* out) {
    const int block = 1 << level;
    for (int i = 0; i < blocks; ++i, sums += 4, out += 4) {
        const uint32_t count = static_cast<uint32_t>(rows) * static_cast<uint32_t>(std::min(block, width - i * block));
        for (int c = 0; c < 4; ++c) {
            out[c] = static_cast<uint16_t>((sums[c] + count / 2) / count);
            sums[c] = 0;
        }
    }
}

// The picture at scale 1 / 2^level, read from the imaging library in strips of rows into a small buffer and reduced
// as it goes, so that the picture's pixels are never copied whole. Each value is the rounded mean of a block of
// 2^level x 2^level pixels in the premultiplied values HalvePlane makes (so level 1 equals one halving); a block
// cut short by the right or bottom edge is the mean of the pixels it has. Memory is checked against the level's own
// size. False when the picture can't be read or memory runs out.
bool ReduceInStrips(const GdiplusImage& picture, int width, int height, int level, WidePlane& to) {
    const int64_t block = int64_t(1) << level;
    to.width = static_cast<int>((width + block - 1) >> level);
    to.height = static_cast<int>((height + block - 1) >> level);
    const uint64_t rowBytes = static_cast<uint64_t>(width) * 4;
    const int stripRows = std::min(kStripRows, height);
    if (static_cast<uint64_t>(to.width) * static_cast<uint64_t>(to.height) * 4 * sizeof(uint16_t) > kMaxPlaneBytes ||
        rowBytes * static_cast<uint64_t>(stripRows) > kMaxPlaneBytes)
        return false;
    std::vector<uint8_t> strip;
    std::vector<uint32_t> sums;
    try {
        to.values.resize(static_cast<size_t>(to.width) * static_cast<size_t>(to.height) * 4);
        strip.resize(static_cast<size_t>(rowBytes) * static_cast<size_t>(stripRows));
        sums.assign(static_cast<size_t>(to.width) * 4, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int last = static_cast<int>(block - 1);
    for (int top = 0; top < height; top += stripRows) {
        const int rows = std::min(stripRows, height - top);
        Gdiplus::BitmapData data{};
        data.Width = static_cast<UINT>(width);
        data.Height = static_cast<UINT>(rows);
        data.Stride = static_cast<INT>(rowBytes);
        data.PixelFormat = PixelFormat32bppARGB;
        data.Scan0 = strip.data();
        const Gdiplus::GpRect part(0, top, width, rows);
        if (picture.Check(gdip::GdipBitmapLockBits(picture.Bitmap(), &part,
                                                   Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                                   PixelFormat32bppARGB, &data)) != kGpOk)
            return false;
        if (picture.Check(gdip::GdipBitmapUnlockBits(picture.Bitmap(), &data)) != kGpOk) return false;
        for (int r = 0; r < rows; ++r) {
            AddRowToBlocks(strip.data() + static_cast<size_t>(r) * static_cast<size_t>(rowBytes), width, level,
                           sums.data());
            const int y = top + r;
            if ((y & last) == last || y == height - 1)
                EmitBlocks(sums.data(), to.width, width, level, (y & last) + 1,
                           to.values.data() + static_cast<size_t>(y >> level) * static_cast<size_t>(to.width) * 4);
        }
    }
    return true;
}

// One picture frame's pixels and the 2 x 2 reductions built from them so far, kept premultiplied in 16 bits. A
// picture decoded at a reduced scale starts at that level: its plane (straight from a decoder that reduces, or wide
// when reduced as it was read) stands for the reductions it replaces, and geometry stays that of the picture.
class Pyramid {
public:
    // Reads the picture's active frame at the given level: whole for level 0, else reduced as it is read.
    bool Load(const GdiplusImage& picture, int level) {
        const int width = picture.Width();
        const int height = picture.Height();
        if (width <= 0 || height <= 0) return false;
        level = std::min(level, kMaxStripLevel);
        if (level > 0) {
            auto reduced = std::make_unique<WidePlane>();
            if (!ReduceInStrips(picture, width, height, level, *reduced)) return false;
            Start(std::move(reduced), width, height, level);
            return true;
        }
        if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 > kMaxPlaneBytes) return false;
        auto base = std::make_unique<PixelPlane>();
        base->width = width;
        base->height = height;
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        try {
            base->bytes.resize(rowBytes * height);
        } catch (const std::bad_alloc&) {
            return false;
        }
        // The imaging library converts straight into the plane, so the picture is not copied a second time. Read
        // straight: 8-bit premultiplied values would already have lost a half-transparent colour.
        Gdiplus::BitmapData data{};
        data.Width = static_cast<UINT>(width);
        data.Height = static_cast<UINT>(height);
        data.Stride = static_cast<INT>(rowBytes);
        data.PixelFormat = PixelFormat32bppARGB;
        data.Scan0 = base->bytes.data();
        const Gdiplus::GpRect whole(0, 0, width, height);
        if (picture.Check(gdip::GdipBitmapLockBits(picture.Bitmap(), &whole,
                                                   Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                                   PixelFormat32bppARGB, &data)) != kGpOk)
            return false;
        if (picture.Check(gdip::GdipBitmapUnlockBits(picture.Bitmap(), &data)) != kGpOk) return false;
        Start(std::move(base), width, height, 0);
        return true;
    }

    void Start(std::unique_ptr<PixelPlane> plane, int pictureWidth, int pictureHeight, int level) {
        Reset(pictureWidth, pictureHeight, level);
        base_ = std::move(plane);
    }

    void Start(std::unique_ptr<WidePlane> plane, int pictureWidth, int pictureHeight, int level) {
        Reset(pictureWidth, pictureHeight, level);
        wideBase_ = std::move(plane);
    }

    bool Loaded() const { return base_ != nullptr || wideBase_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // The level WantedLevel asks for, built on demand; level k has scale 1 / 2^k. A picture that starts at a reduced
    // level never goes above it. Falls back to a larger level when memory runs out.
    ResampleSource LevelFor(int srcWidth, int srcHeight, int outWidth, int outHeight, int& shift) {
        const int wanted = std::max(WantedLevel(srcWidth, srcHeight, outWidth, outHeight), first_) - first_;
        while (static_cast<int>(levels_.size()) < wanted) {
            auto next = std::make_unique<WidePlane>();
            if (!HalvePlane(Level(static_cast<int>(levels_.size())), *next)) break;
            levels_.push_back(std::move(next));
        }
        const int index = std::min(wanted, static_cast<int>(levels_.size()));
        shift = first_ + index;
        return Level(index);
    }

private:
    void Reset(int pictureWidth, int pictureHeight, int level) {
        base_.reset();
        wideBase_.reset();
        levels_.clear();
        width_ = pictureWidth;
        height_ = pictureHeight;
        first_ = level;
    }

    // Level first_ + k: the base for k = 0, else a reduction built from it.
    ResampleSource Level(int k) const {
        ResampleSource source;
        if (k == 0 && base_) {
            source.width = base_->width;
            source.height = base_->height;
            source.straight = base_->bytes.data();
        } else {
            const WidePlane& plane = k == 0 ? *wideBase_ : *levels_[static_cast<size_t>(k - 1)];
            source.width = plane.width;
            source.height = plane.height;
            source.wide = &plane;
        }
        return source;
    }

    std::unique_ptr<PixelPlane> base_;     // straight pixels, or
    std::unique_ptr<WidePlane> wideBase_;  // a reduction made as the picture was read
    std::vector<std::unique_ptr<WidePlane>> levels_;
    int width_ = 0;
    int height_ = 0;
    int first_ = 0;
};

// Resamples the level's region into the destination rectangle of the straight-alpha image.
void ResampleInto(const WorkingImage& image, const ResampleSource& level, double x0, double y0, double x1, double y1,
                  const FitGeometry& g) {
    BitmapLock lock(image, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB);
    if (!lock.Locked()) return;
    uint8_t* out = lock.Row(g.dstY) + static_cast<ptrdiff_t>(g.dstX) * 4;
    if (!ResampleRegion(level, x0, y0, x1, y1, out, g.dstWidth, g.dstHeight, lock.Stride()))
        image.Check(Gdiplus::OutOfMemory);
}

// A new working image of the fitted source, resampled from the pyramid's best level; the region is mapped onto
// that level in exact fractional coordinates. The image holds straight alpha, so that colours are kept exactly.
WorkingImage ScaleFromPyramid(Pyramid& pyramid, int width, int height, IconJobFlags flags) {
    const FitGeometry g = ComputeFit(static_cast<unsigned>(pyramid.Width()), static_cast<unsigned>(pyramid.Height()),
                                     width, height, flags);
    WorkingImage result = CreateGdiplusBitmap(width, height, PixelFormat32bppARGB);
    if (!result || g.dstWidth <= 0 || g.dstHeight <= 0 || g.srcWidth <= 0 || g.srcHeight <= 0) return result;

    int shift = 0;
    const ResampleSource level = pyramid.LevelFor(g.srcWidth, g.srcHeight, g.dstWidth, g.dstHeight, shift);
    const double scale = 1.0 / static_cast<double>(1 << shift);
    ResampleInto(result, level, g.srcX * scale, g.srcY * scale, (g.srcX + g.srcWidth) * scale,
                 (g.srcY + g.srcHeight) * scale, g);
    return result;
}

// An icon's frames are sizes of one picture. A TIFF's pages and a GIF's frames are pictures of their own, of which
// the first is the picture; selecting each of them can also run for ever on a TIFF whose page chain loops.
bool FramesAreSizes(const GdiplusImage& picture) {
    // Wine's imaging library reports its icon decoder's pictures as BMP, and a BMP has a single frame anyway.
    static constexpr GUID kIconFormat = {0xb96b3cb5, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    static constexpr GUID kBmpFormat = {0xb96b3cab, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    GUID format{};
    if (gdip::GdipGetImageRawFormat(picture.Get(), &format) != kGpOk) return false;
    return IsEqualGUID(format, kIconFormat) || IsEqualGUID(format, kBmpFormat);
}

// An icon directory holds at most a few dozen sizes; a scan past this many frames gains nothing.
constexpr unsigned kMaxFrameScan = 256;

}  // namespace

struct ScaleSource::Frame {
    unsigned index = 0;
    int width = 0;
    int height = 0;
    bool failed = false;
    Pyramid pyramid;
};

ScaleSource::ScaleSource() = default;
ScaleSource::~ScaleSource() = default;
// The frame count says whether there are frames, so a moved-from source must give its count up with them.
ScaleSource::ScaleSource(ScaleSource&& other) noexcept
    : picture_(std::move(other.picture_)),
      frames_(std::move(other.frames_)),
      frameCount_(std::exchange(other.frameCount_, 0u)),
      level_(other.level_) {}

ScaleSource& ScaleSource::operator=(ScaleSource&& other) noexcept {
    if (this != &other) {
        picture_ = std::move(other.picture_);
        frames_ = std::move(other.frames_);
        frameCount_ = std::exchange(other.frameCount_, 0u);
        level_ = other.level_;
    }
    return *this;
}

ScaleSource::ScaleSource(GdiplusImage picture) : ScaleSource(std::move(picture), 0) {}

ScaleSource::ScaleSource(GdiplusImage picture, int level) : picture_(std::move(picture)), level_(std::max(level, 0)) {
    if (!picture_ || picture_.Width() <= 0 || picture_.Height() <= 0) return;
    const unsigned count = FramesAreSizes(picture_) ? std::min(FrameCount(picture_), kMaxFrameScan) : 1;
    std::vector<Frame> sizes;
    bool differ = false;
    if (count > 1) {
        for (unsigned i = 0; i < count; ++i) {
            if (!SelectFrame(picture_, i)) continue;
            const int w = picture_.Width(), h = picture_.Height();
            if (w <= 0 || h <= 0) continue;
            if (!sizes.empty() && (w != sizes.front().width || h != sizes.front().height)) differ = true;
            sizes.emplace_back();
            sizes.back().index = i;
            sizes.back().width = w;
            sizes.back().height = h;
        }
        SelectFrame(picture_, 0);
    }
    // Frames of one size (an animation's) are not alternatives: such a picture scales from its first frame.
    frameCount_ = differ ? static_cast<unsigned>(sizes.size()) : 1;
    frames_ = std::make_unique<Frame[]>(frameCount_);
    if (differ) {
        for (unsigned i = 0; i < frameCount_; ++i) {
            frames_[i].index = sizes[i].index;
            frames_[i].width = sizes[i].width;
            frames_[i].height = sizes[i].height;
        }
    } else {
        frames_[0].width = picture_.Width();
        frames_[0].height = picture_.Height();
    }
}

ScaleSource::ScaleSource(std::vector<uint8_t> pixels, int pictureWidth, int pictureHeight, int level) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || level < 0 || level > 30) return;
    auto plane = std::make_unique<PixelPlane>();
    plane->width = static_cast<int>((static_cast<int64_t>(pictureWidth) + (1ll << level) - 1) >> level);
    plane->height = static_cast<int>((static_cast<int64_t>(pictureHeight) + (1ll << level) - 1) >> level);
    if (pixels.size() != static_cast<size_t>(plane->width) * static_cast<size_t>(plane->height) * 4) return;
    plane->bytes = std::move(pixels);
    frameCount_ = 1;
    frames_ = std::make_unique<Frame[]>(1);
    frames_[0].width = pictureWidth;
    frames_[0].height = pictureHeight;
    frames_[0].pyramid.Start(std::move(plane), pictureWidth, pictureHeight, level);
}

bool ScaleSource::Valid() const {
    return frameCount_ > 0;
}
int ScaleSource::Width() const {
    return !Valid() ? 0 : picture_ ? picture_.Width() : frames_[0].width;
}
int ScaleSource::Height() const {
    return !Valid() ? 0 : picture_ ? picture_.Height() : frames_[0].height;
}

WorkingImage ScaleSource::Scale(int width, int height, IconJobFlags flags) {
    if (!Valid() || width <= 0 || height <= 0) return WorkingImage();
    // The smallest frame at least as large as the size, else the largest frame.
    int best = -1, largest = 0;
    for (unsigned i = 0; i < frameCount_; ++i) {
        const Frame& f = frames_[i];
        if (f.failed) continue;
        const int64_t area = static_cast<int64_t>(f.width) * f.height;
        if (f.width >= width && f.height >= height &&
            (best < 0 || area < static_cast<int64_t>(frames_[best].width) * frames_[best].height))
            best = static_cast<int>(i);
        if (static_cast<int64_t>(frames_[largest].width) * frames_[largest].height < area || frames_[largest].failed)
            largest = static_cast<int>(i);
    }
    Frame& frame = frames_[best >= 0 ? best : largest];
    if (frame.failed) return WorkingImage();
    if (!frame.pyramid.Loaded()) {
        const bool switched = frameCount_ > 1 && frame.index != 0;
        // The level the sizes allow is that of the first frame; other frames are icon sizes, read whole.
        const int level = frameCount_ == 1 ? level_ : 0;
        if ((switched && !SelectFrame(picture_, frame.index)) || !frame.pyramid.Load(picture_, level))
            frame.failed = true;
        if (switched) SelectFrame(picture_, 0);
        if (frame.failed) return WorkingImage();
        // A single frame is all the source ever reads, so the decoded picture is no longer needed once it is loaded.
        if (frameCount_ == 1) picture_.Reset();
    }
    return ScaleFromPyramid(frame.pyramid, width, height, flags);
}

int ReductionLevel(int pictureWidth, int pictureHeight, int size, IconJobFlags flags) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || size <= 0) return 0;
    const FitGeometry g =
        ComputeFit(static_cast<unsigned>(pictureWidth), static_cast<unsigned>(pictureHeight), size, size, flags);
    if (g.dstWidth <= 0 || g.dstHeight <= 0 || g.srcWidth <= 0 || g.srcHeight <= 0) return 0;
    return WantedLevel(g.srcWidth, g.srcHeight, g.dstWidth, g.dstHeight);
}

WorkingImage ScaleImage(ScaleSource& source, int width, int height, IconJobFlags flags) {
    return source.Scale(width, height, flags);
}

int ReadLevel(int pictureWidth, int pictureHeight, const SizeList& sizes, IconJobFlags flags) {
    if (sizes.empty()) return 0;
    int level = kMaxStripLevel;
    for (int size : sizes)
        level = std::min(level, ReductionLevel(pictureWidth, pictureHeight, size, flags));
    return level;
}

struct RowReducer::State {
    int width = 0;
    int height = 0;
    int level = 0;
    int y = 0;
    std::unique_ptr<PixelPlane> whole;  // level 0
    std::unique_ptr<WidePlane> reduced;
    std::vector<uint32_t> sums;
};

RowReducer::RowReducer() = default;
RowReducer::~RowReducer() = default;

uint64_t RowReducer::HeldBytes(int pictureWidth, int pictureHeight, int level) {
    if (pictureWidth <= 0 || pictureHeight <= 0) return 0;
    level = std::clamp(level, 0, kMaxStripLevel);
    if (level == 0) return static_cast<uint64_t>(pictureWidth) * static_cast<uint64_t>(pictureHeight) * 4;
    const uint64_t block = uint64_t(1) << level;
    const uint64_t width = (static_cast<uint64_t>(pictureWidth) + block - 1) >> level;
    const uint64_t height = (static_cast<uint64_t>(pictureHeight) + block - 1) >> level;
    return width * height * 4 * sizeof(uint16_t) + width * 4 * sizeof(uint32_t);
}

bool RowReducer::Start(int pictureWidth, int pictureHeight, int level) {
    state_.reset();
    if (pictureWidth <= 0 || pictureHeight <= 0 || HeldBytes(pictureWidth, pictureHeight, level) > kMaxPlaneBytes)
        return false;
    level = std::clamp(level, 0, kMaxStripLevel);
    try {
        auto state = std::make_unique<State>();
        state->width = pictureWidth;
        state->height = pictureHeight;
        state->level = level;
        if (level == 0) {
            state->whole = std::make_unique<PixelPlane>();
            state->whole->width = pictureWidth;
            state->whole->height = pictureHeight;
            state->whole->bytes.resize(static_cast<size_t>(pictureWidth) * static_cast<size_t>(pictureHeight) * 4);
        } else {
            const int64_t block = int64_t(1) << level;
            state->reduced = std::make_unique<WidePlane>();
            state->reduced->width = static_cast<int>((pictureWidth + block - 1) >> level);
            state->reduced->height = static_cast<int>((pictureHeight + block - 1) >> level);
            state->reduced->values.resize(static_cast<size_t>(state->reduced->width) *
                                          static_cast<size_t>(state->reduced->height) * 4);
            state->sums.assign(static_cast<size_t>(state->reduced->width) * 4, 0);
        }
        state_ = std::move(state);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void RowReducer::TakeRow(const uint8_t* row) {
    if (!state_ || state_->y >= state_->height) return;
    State& s = *state_;
    const int y = s.y++;
    if (s.whole) {
        const size_t rowBytes = static_cast<size_t>(s.width) * 4;
        std::memcpy(s.whole->bytes.data() + static_cast<size_t>(y) * rowBytes, row, rowBytes);
        return;
    }
    AddRowToBlocks(row, s.width, s.level, s.sums.data());
    const int last = (1 << s.level) - 1;
    if ((y & last) == last || y == s.height - 1)
        EmitBlocks(
            s.sums.data(), s.reduced->width, s.width, s.level, (y & last) + 1,
            s.reduced->values.data() + static_cast<size_t>(y >> s.level) * static_cast<size_t>(s.reduced->width) * 4);
}

ScaleSource RowReducer::Finish() {
    ScaleSource source;
    std::unique_ptr<State> state = std::move(state_);
    if (!state || state->y != state->height) return source;
    source.frameCount_ = 1;
    source.frames_ = std::make_unique<ScaleSource::Frame[]>(1);
    ScaleSource::Frame& frame = source.frames_[0];
    frame.width = state->width;
    frame.height = state->height;
    if (state->whole)
        frame.pyramid.Start(std::move(state->whole), state->width, state->height, 0);
    else
        frame.pyramid.Start(std::move(state->reduced), state->width, state->height, state->level);
    return source;
}

ScaleSource SourceFromPixels(std::vector<uint8_t> pixels, int pictureWidth, int pictureHeight, int level) {
    if (level <= 0 || pictureWidth <= 0 || pictureHeight <= 0)
        return ScaleSource(std::move(pixels), pictureWidth, pictureHeight, 0);
    RowReducer reducer;
    const size_t rowBytes = static_cast<size_t>(pictureWidth) * 4;
    if (pixels.size() != rowBytes * static_cast<size_t>(pictureHeight) ||
        !reducer.Start(pictureWidth, pictureHeight, level))
        return ScaleSource();
    for (int y = 0; y < pictureHeight; ++y)
        reducer.TakeRow(pixels.data() + static_cast<size_t>(y) * rowBytes);
    std::vector<uint8_t>().swap(pixels);
    return reducer.Finish();
}

namespace {

// Header of a top-down 32-bit device-independent bitmap.
BITMAPINFO TopDownInfo(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
    return info;
}

}  // namespace

WorkingImage ScaleImage(const GdiplusImage& source, int width, int height, IconJobFlags flags) {
    if (!source || width <= 0 || height <= 0) return WorkingImage();
    Pyramid pyramid;
    if (!pyramid.Load(source, 0)) return WorkingImage();
    return ScaleFromPyramid(pyramid, width, height, flags);
}

IconCanvas CreateIconCanvas(int width, int height) {
    IconCanvas canvas;
    if (width <= 0 || height <= 0) return canvas;
    BITMAPINFO info = TopDownInfo(width, height);
    void* bits = nullptr;
    canvas.bitmap.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!canvas.bitmap || !bits) return IconCanvas();
    canvas.pixels = static_cast<uint32_t*>(bits);
    canvas.width = width;
    canvas.height = height;
    std::fill(canvas.pixels, canvas.pixels + static_cast<size_t>(width) * height, 0x01000000u);
    return canvas;
}

SizeInfo GetBitmapSize(HBITMAP bitmap) {
    SizeInfo size;
    BITMAP info{};
    if (!bitmap || GetObjectW(bitmap, sizeof(info), &info) == 0) return size;
    size.width = info.bmWidth;
    size.height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    size.bitsPerPixel = info.bmBitsPixel;
    return size;
}

SizeInfo GetIconSize(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return SizeInfo();
    const GdiObjectHandle color(info.hbmColor);
    const GdiObjectHandle mask(info.hbmMask);
    if (color) return GetBitmapSize(info.hbmColor);
    SizeInfo size = GetBitmapSize(info.hbmMask);
    size.height /= 2;
    return size;
}

IconCanvas RenderIcon(HICON icon, int width, int height) {
    if (!icon) return IconCanvas();
    if (width == 0 && height == 0) {
        const SizeInfo size = GetIconSize(icon);
        width = size.width;
        height = size.height;
    }
    if (width <= 0 || height <= 0) return IconCanvas();
    MemoryDcHandle dc(CreateCompatibleDC(nullptr));
    if (!dc) return IconCanvas();
    IconCanvas canvas = CreateIconCanvas(width, height);
    if (!canvas) return canvas;
    bool drawn = false;
    {
        SelectGuard select(dc.Get(), canvas.Handle());
        SetBkColor(dc.Get(), 0x01000000);
        SetBkMode(dc.Get(), TRANSPARENT);
        ImageListHandle list(ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, 1, 1));
        if (list) {
            const int index = ImageList_ReplaceIcon(list.Get(), -1, icon);
            drawn = index >= 0 &&
                    ImageList_DrawEx(list.Get(), index, dc.Get(), 0, 0, width, height, CLR_NONE, CLR_NONE, ILD_IMAGE);
        }
        if (!drawn) drawn = DrawIconEx(dc.Get(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
        GdiFlush();
    }
    if (!drawn) return IconCanvas();
    return canvas;
}

namespace {

// A bitmap's pixels as top-down 32-bit values, rows lines of width; empty when the copy fails. A monochrome bitmap
// comes out black (0) and white (0x00FFFFFF).
std::vector<uint32_t> ReadBitmapPixels(HBITMAP bitmap, int width, int rows) {
    std::vector<uint32_t> pixels;
    if (width <= 0 || rows <= 0 || static_cast<uint64_t>(width) * static_cast<uint64_t>(rows) * 4 > kMaxPlaneBytes)
        return pixels;
    try {
        pixels.resize(static_cast<size_t>(width) * rows);
    } catch (const std::bad_alloc&) {
        return pixels;
    }
    BITMAPINFO info = TopDownInfo(width, rows);
    WindowDc screen(nullptr);
    if (GetDIBits(screen.Get(), bitmap, 0, static_cast<UINT>(rows), pixels.data(), &info, DIB_RGB_COLORS) != rows)
        pixels.clear();
    return pixels;
}

bool HasAlpha(const std::vector<uint32_t>& pixels) {
    return std::any_of(pixels.begin(), pixels.end(), [](uint32_t pixel) { return (pixel >> 24) != 0; });
}

}  // namespace

WorkingImage ImageFromIconHandle(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return WorkingImage();
    const GdiObjectHandle colour(info.hbmColor);
    const GdiObjectHandle mask(info.hbmMask);
    const SizeInfo maskSize = GetBitmapSize(info.hbmMask);
    const SizeInfo size = colour ? GetBitmapSize(info.hbmColor) : SizeInfo{maskSize.width, maskSize.height / 2, 1};
    const int width = size.width, height = size.height;
    if (width <= 0 || height <= 0) return WorkingImage();

    // A monochrome icon keeps its XOR image below the AND mask in one bitmap of twice the height.
    const int maskRows = colour ? height : 2 * height;
    std::vector<uint32_t> andMask;
    if (mask && maskSize.width == width && maskSize.height >= maskRows)
        andMask = ReadBitmapPixels(info.hbmMask, width, maskRows);
    std::vector<uint32_t> pixels;
    if (colour)
        pixels = ReadBitmapPixels(info.hbmColor, width, height);
    else if (!andMask.empty())
        pixels.assign(andMask.begin() + static_cast<ptrdiff_t>(width) * height, andMask.end());
    if (pixels.empty()) return WorkingImage();

    // Without an alpha channel (palette and 24-bit images, 32-bit ones whose alpha is all zero) Windows draws the
    // icon through its AND mask: opaque where the mask is clear. Pixels with alpha keep it exactly.
    if (!colour || !HasAlpha(pixels)) {
        for (size_t i = 0; i < pixels.size(); ++i) {
            const bool transparent = !andMask.empty() && (andMask[i] & 0x00FFFFFFu) != 0;
            pixels[i] = (pixels[i] & 0x00FFFFFFu) | (transparent ? 0u : 0xFF000000u);
        }
    }

    return WorkingImageFromPixels(pixels.data(), width, height, PixelFormat32bppARGB);
}

WorkingImage ImageFromBitmapHandle(HBITMAP bitmap, int width, int height) {
    const SizeInfo size = GetBitmapSize(bitmap);
    if (!bitmap || size.width <= 0 || size.height <= 0) return WorkingImage();
    const int w = size.width, h = size.height;
    // Counted in 64 bits: a large monochrome bitmap is cheap to make, but its 32-bit copy would wrap a 32-bit size.
    const uint64_t bufferBytes = static_cast<uint64_t>(h) * ((static_cast<uint64_t>(w) * 32 + 31) / 32) * 4;
    if (bufferBytes > kMaxPlaneBytes) return WorkingImage();
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(bufferBytes));
    } catch (const std::bad_alloc&) {
        return WorkingImage();
    }
    BITMAPINFO info = TopDownInfo(w, h);
    {
        WindowDc screen(nullptr);
        // GetDIBits answers the number of lines copied; fewer than asked means the copy failed.
        // https://learn.microsoft.com/windows/win32/api/wingdi/nf-wingdi-getdibits
        const int lines =
            GetDIBits(screen.Get(), bitmap, 0, static_cast<UINT>(h), buffer.data(), &info, DIB_RGB_COLORS);
        if (lines != h) return WorkingImage();
    }
    WorkingImage image = WorkingImageFromPixels(buffer.data(), w, h);
    if (!image || (width == w && height == h)) return image;
    return ScaleImage(image, width, height, 0);
}

namespace {

void SetDrawingModes(GpGraphics* graphics) {
    gdip::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
    gdip::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
}

}  // namespace

bool DrawImageScaled(const GdiplusImage& source, const GdiplusImage& destination, int width, int height) {
    if (!source || !destination) return false;
    GdiplusGraphics graphics(destination);
    if (!graphics) return false;
    SetDrawingModes(graphics.Get());
    return destination.Check(gdip::GdipDrawImageRectI(graphics.Get(), source.Get(), 0, 0, width, height)) == kGpOk;
}

GdiplusImage ScaledArgbCopy(const GdiplusImage& source, int width, int height) {
    if (!source) return GdiplusImage();
    GdiplusImage copy = CreateGdiplusBitmap(width, height, PixelFormat32bppARGB);
    if (copy) DrawImageScaled(source, copy, width, height);
    return copy;
}
