#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Pixels kept premultiplied in 16 bits per channel, BGRA order, rows top-down: colour c * a and alpha a * 255 for
// 8-bit straight values c and a (both at most 65025). Premultiplying in this precision loses nothing, so a
// half-transparent colour comes back exactly.
struct WidePlane {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> values;
};

// Pixels to resample from: 8-bit straight-alpha BGRA rows (a picture's own pixels) or a wide plane.
struct ResampleSource {
    int width = 0;
    int height = 0;
    const uint8_t* straight = nullptr;  // width * 4 bytes a row; used when wide is null
    const WidePlane* wide = nullptr;
};

// Half the size, rounded up; each pixel the rounded mean of a 2 x 2 block, the last column or row of an odd size
// taken twice, so that pixel i covers source pixels [2i, 2i + 2). False when memory runs out.
bool HalvePlane(const ResampleSource& from, WidePlane& to);

// Resamples the source rectangle [x0, x1) x [y0, y1) (in source pixels, fractional) into outWidth x outHeight
// straight-alpha BGRA pixels at out (rows stride bytes apart). Reductions use a three-lobed Lanczos window over the
// whole reduction, enlargements a Catmull-Rom cubic; both pass through the samples at scale 1. Each pass clamps a
// value to the range of the samples under its filter's central lobe, so hard edges keep their sharpness without a
// ringing halo. Colours are rounded to nearest from the premultiplied result. False when memory runs out.
bool ResampleRegion(const ResampleSource& source, double x0, double y0, double x1, double y1, uint8_t* out,
                    int outWidth, int outHeight, ptrdiff_t stride);
