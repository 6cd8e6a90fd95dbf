#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/IconJobFlags.h"
#include "engine/Imaging.h"
#include "sys/Handles.h"

// Width and height in pixels and bits per pixel of a bitmap or icon; all 0 when the handle is null or the query
// fails.
struct SizeInfo {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitsPerPixel = 0;
};

// A top-down 32bpp device-independent bitmap section, every pixel preset to 0x01000000 (black, alpha 1).
// The section is deleted with its owner. Call GdiFlush() before reading pixels that GDI has drawn.
struct IconCanvas {
    GdiObjectHandle bitmap;
    uint32_t* pixels = nullptr;  // width * height values, owned by the section
    int width = 0;
    int height = 0;

    HBITMAP Handle() const { return static_cast<HBITMAP>(bitmap.Get()); }
    explicit operator bool() const { return bitmap.Valid(); }
};

// A decoded picture prepared once for scaling to many sizes. It owns the picture (a single-frame one until its
// pixels are read); the pixels of a frame are read when a size first needs that frame, and 2x2 box-filtered
// reductions are added as smaller sizes need them, so every size is resampled from the smallest reduction still at
// least three times as large as it (twice above 64 px).
// An icon with frames of different sizes scales each size from the smallest frame at least as large as the size,
// else from the largest frame (at most the first 256 frames are looked at). Other pictures with several frames
// (TIFF pages, GIF frames) scale from their first frame. Used by one thread at a time.
class ScaleSource {
public:
    ScaleSource();
    explicit ScaleSource(GdiplusImage picture);
    // The same for sizes that all allow the given reduction level (ReductionLevel): a single-frame picture is then
    // read in strips straight into that level, never copied whole, and given up once it is read.
    ScaleSource(GdiplusImage picture, int level);
    // A picture another decoder delivered at scale 1 / 2^level: straight-alpha BGRA pixels, rows top-down, of
    // ceil(pictureWidth / 2^level) x ceil(pictureHeight / 2^level). Scales as the full picture would from that level.
    ScaleSource(std::vector<uint8_t> pixels, int pictureWidth, int pictureHeight, int level);
    ~ScaleSource();
    ScaleSource(const ScaleSource&) = delete;
    ScaleSource& operator=(const ScaleSource&) = delete;
    ScaleSource(ScaleSource&&) noexcept;
    ScaleSource& operator=(ScaleSource&&) noexcept;

    bool Valid() const;
    explicit operator bool() const { return Valid(); }
    // Size of the picture's first frame (the one a single-frame reader presents).
    int Width() const;
    int Height() const;
    // Same as ScaleImage(*this, ...).
    WorkingImage Scale(int width, int height, IconJobFlags flags);

    struct Frame;

private:
    friend class RowReducer;

    GdiplusImage picture_;  // empty for a picture given as pixels, and once a single frame is loaded
    std::unique_ptr<Frame[]> frames_;
    unsigned frameCount_ = 0;
    int level_ = 0;
};

// How many 2 x 2 reductions scaling a picture of pictureWidth x pictureHeight to size x size with the flags' fit
// takes before it resamples: a decoder that reduces for almost nothing may deliver the picture at that level.
int ReductionLevel(int pictureWidth, int pictureHeight, int size, IconJobFlags flags);

// Deepest level a picture is reduced to as it is read; a block of 2^8 x 2^8 pixels still sums within 32 bits
// (65536 * 65025 < 2^32). Deeper levels are halved from it.
constexpr int kMaxStripLevel = 8;

// The level a picture of pictureWidth x pictureHeight is read at for all the sizes: the deepest reduction every size
// allows, at most kMaxStripLevel; 0 (whole) for no sizes.
int ReadLevel(int pictureWidth, int pictureHeight, const SizeList& sizes, IconJobFlags flags);

// Takes a picture's rows top-down, as a decoder delivers them (straight-alpha BGRA), and reduces them to the level as
// they come, the way a picture the imaging library decoded is reduced in strips: a decoder that works row by row
// then never holds the picture whole. Level 0 keeps the rows as they are.
class RowReducer {
public:
    RowReducer();
    ~RowReducer();
    RowReducer(const RowReducer&) = delete;
    RowReducer& operator=(const RowReducer&) = delete;

    // Bytes the reducer holds for such a picture, for a budget check before anything is decoded.
    static uint64_t HeldBytes(int pictureWidth, int pictureHeight, int level);
    // False when the size is not positive, the plane is larger than the program copies or memory runs out.
    bool Start(int pictureWidth, int pictureHeight, int level);
    // The next row of pictureWidth pixels; rows past the last are ignored.
    void TakeRow(const uint8_t* row);
    // The source to scale, once every row has come (else an invalid source); the reducer is empty afterwards.
    ScaleSource Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A decoded picture's whole straight-alpha BGRA plane as a source to scale at the level, reduced (and given up) at
// once when the level is above 0, so that only the reduction is kept.
ScaleSource SourceFromPixels(std::vector<uint8_t> pixels, int pictureWidth, int pictureHeight, int level);

// A new width x height working image of the source fitted by the flags' fit mode (Center, Crop or Stretch);
// uncovered margins stay transparent. Empty when the source is missing or has no pixels, or a size is not
// positive. The one-image form reads the source's active frame.
WorkingImage ScaleImage(const GdiplusImage& source, int width, int height, IconJobFlags flags);
WorkingImage ScaleImage(ScaleSource& source, int width, int height, IconJobFlags flags);

IconCanvas CreateIconCanvas(int width, int height);
SizeInfo GetBitmapSize(HBITMAP bitmap);
// Size of the icon's colour bitmap, or of its mask with the height halved for a monochrome icon.
SizeInfo GetIconSize(HICON icon);
// Draws the icon into a new canvas of width x height (both 0: the icon's own size).
IconCanvas RenderIcon(HICON icon, int width = 0, int height = 0);
// The icon's own pixels at its own size, read from its bitmaps, as a straight-alpha (32bpp ARGB) image, so that an
// icon written at its own size keeps every value exactly. Alpha is the icon's own; an icon without an alpha channel
// (palette, 24-bit, or 32-bit with all alpha zero, and monochrome icons) is opaque where its AND mask is clear and
// transparent where it is set. Colours under alpha 0 stay as the icon holds them. Empty when the icon is unreadable.
WorkingImage ImageFromIconHandle(HICON icon);
// A working image holding the bitmap's 32-bit pixels taken as premultiplied values, stretched to width x height
// when that differs from the bitmap's own size.
WorkingImage ImageFromBitmapHandle(HBITMAP bitmap, int width, int height);
// Draws the whole source into (0, 0, width, height) of the destination with GDI+'s own scaling.
bool DrawImageScaled(const GdiplusImage& source, const GdiplusImage& destination, int width, int height);
// A new straight-alpha (32bpp ARGB) image of width x height with the whole source drawn into it by GDI+.
GdiplusImage ScaledArgbCopy(const GdiplusImage& source, int width, int height);
