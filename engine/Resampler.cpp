#include "engine/Resampler.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

#include <emmintrin.h>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kLanczosLobes = 3;

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    const double px = kPi * x;
    return std::sin(px) / px;
}

double Lanczos(double x) {
    x = std::fabs(x);
    return x < kLanczosLobes ? Sinc(x) * Sinc(x / kLanczosLobes) : 0.0;
}

double CatmullRom(double x) {
    x = std::fabs(x);
    if (x < 1.0) return 1.5 * x * x * x - 2.5 * x * x + 1.0;
    if (x < 2.0) return -0.5 * x * x * x + 2.5 * x * x - 4.0 * x + 2.0;
    return 0.0;
}

// The taps of one output position along one axis: weights over the consecutive source positions [first, first +
// weight.size()) (not yet clamped to the edge), and the positions [clampFirst, clampFirst + clampCount) among them
// whose samples bound the result.
struct Taps {
    int first = 0;
    std::vector<float> weight;
    int clampFirst = 0;
    int clampCount = 1;
};

struct AxisPlan {
    std::vector<Taps> taps;
    int low = 0;  // the lowest and highest source position any tap reads, before clamping to the edge
    int high = 0;
};

AxisPlan PlanAxis(double start, double end, int outCount) {
    AxisPlan plan;
    plan.taps.resize(static_cast<size_t>(outCount));
    const double scale = (end - start) / outCount;
    const bool reducing = scale > 1.0;
    const double stretch = reducing ? scale : 1.0;
    const double radius = (reducing ? kLanczosLobes : 2.0) * stretch;
    plan.low = INT_MAX;
    plan.high = INT_MIN;
    for (int o = 0; o < outCount; ++o) {
        Taps& t = plan.taps[static_cast<size_t>(o)];
        const double centre = start + (o + 0.5) * scale;  // in source pixel edges; sample j sits at j + 0.5
        int first = static_cast<int>(std::floor(centre - radius - 0.5)) + 1;
        int last = static_cast<int>(std::ceil(centre + radius - 0.5)) - 1;
        if (last < first) first = last = static_cast<int>(std::floor(centre));
        std::vector<double> weights;
        double total = 0.0;
        int clampFirst = -1, clampLast = -1;
        for (int j = first; j <= last; ++j) {
            const double distance = (j + 0.5 - centre) / stretch;
            const double w = reducing ? Lanczos(distance) : CatmullRom(distance);
            // The central lobe: samples within one output pixel (one source pixel when enlarging).
            if (std::fabs(distance) < 1.0) {
                if (clampFirst < 0) clampFirst = j - first;
                clampLast = j - first;
            }
            weights.push_back(w);
            total += w;
        }
        if (total == 0.0) {
            first = last = static_cast<int>(std::floor(centre));
            weights.assign(1, 1.0);
            total = 1.0;
            clampFirst = clampLast = 0;
        }
        if (clampFirst < 0) {
            // No sample under the central lobe: bound by the nearest one.
            clampFirst = clampLast = std::clamp(static_cast<int>(std::floor(centre)) - first, 0, last - first);
        }
        t.first = first;
        t.clampFirst = clampFirst;
        t.clampCount = clampLast - clampFirst + 1;
        for (double w : weights)
            t.weight.push_back(static_cast<float>(w / total));
        plan.low = std::min(plan.low, first);
        plan.high = std::max(plan.high, last);
    }
    return plan;
}

// One source row as premultiplied floats (c * a and a * 255), four a pixel.
void FetchRow(const ResampleSource& source, int y, float* row) {
    if (source.wide) {
        const uint16_t* values = source.wide->values.data() + static_cast<size_t>(y) * source.width * 4;
        for (int i = 0; i < source.width * 4; ++i)
            row[i] = values[i];
        return;
    }
    const uint8_t* bytes = source.straight + static_cast<size_t>(y) * source.width * 4;
    for (int x = 0; x < source.width; ++x, bytes += 4, row += 4) {
        const float a = bytes[3];
        row[0] = bytes[0] * a;
        row[1] = bytes[1] * a;
        row[2] = bytes[2] * a;
        row[3] = a * 255.0f;
    }
}

// Filters the four channels of consecutive samples stride floats apart, from values (the tap's first position),
// clamped to the range of the central lobe's samples.
__m128 Apply(const Taps& t, const float* values, size_t stride) {
    __m128 sum = _mm_setzero_ps();
    const float* v = values;
    for (float w : t.weight) {
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(w), _mm_loadu_ps(v)));
        v += stride;
    }
    const float* c = values + static_cast<size_t>(t.clampFirst) * stride;
    __m128 low = _mm_loadu_ps(c), high = low;
    for (int k = 1; k < t.clampCount; ++k) {
        c += stride;
        const __m128 sample = _mm_loadu_ps(c);
        low = _mm_min_ps(low, sample);
        high = _mm_max_ps(high, sample);
    }
    return _mm_min_ps(_mm_max_ps(sum, low), high);
}

// The same filter applied to whole rows: count floats of the rows the taps cover, stride floats apart from top,
// into out, each value clamped to the range of the central lobe's rows.
void FilterRows(const Taps& t, const float* top, size_t stride, float* out, float* low, float* high) {
    const size_t count = stride;
    const float* central = top + static_cast<size_t>(t.clampFirst) * stride;
    std::copy(central, central + count, low);
    std::copy(central, central + count, high);
    for (int k = 1; k < t.clampCount; ++k) {
        const float* row = central + static_cast<size_t>(k) * stride;
        for (size_t i = 0; i < count; i += 4) {
            const __m128 sample = _mm_loadu_ps(row + i);
            _mm_storeu_ps(low + i, _mm_min_ps(_mm_loadu_ps(low + i), sample));
            _mm_storeu_ps(high + i, _mm_max_ps(_mm_loadu_ps(high + i), sample));
        }
    }
    std::fill(out, out + count, 0.0f);
    const float* row = top;
    for (float w : t.weight) {
        const __m128 weight = _mm_set1_ps(w);
        for (size_t i = 0; i < count; i += 4)
            _mm_storeu_ps(out + i, _mm_add_ps(_mm_loadu_ps(out + i), _mm_mul_ps(weight, _mm_loadu_ps(row + i))));
        row += stride;
    }
    for (size_t i = 0; i < count; i += 4)
        _mm_storeu_ps(out + i,
                      _mm_min_ps(_mm_max_ps(_mm_loadu_ps(out + i), _mm_loadu_ps(low + i)), _mm_loadu_ps(high + i)));
}

uint8_t RoundByte(double value) {
    return static_cast<uint8_t>(std::clamp(std::floor(value + 0.5), 0.0, 255.0));
}

}  // namespace

bool HalvePlane(const ResampleSource& from, WidePlane& to) {
    to.width = (from.width + 1) / 2;
    to.height = (from.height + 1) / 2;
    try {
        to.values.resize(static_cast<size_t>(to.width) * to.height * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const size_t fromStride = static_cast<size_t>(from.width) * 4;
    for (int y = 0; y < to.height; ++y) {
        const size_t row0 = static_cast<size_t>(2 * y) * fromStride;
        const size_t row1 = (2 * y + 1 < from.height) ? row0 + fromStride : row0;
        uint16_t* out = to.values.data() + static_cast<size_t>(y) * to.width * 4;
        for (int x = 0; x < to.width; ++x, out += 4) {
            const size_t x0 = static_cast<size_t>(2 * x) * 4;
            const size_t x1 = (2 * x + 1 < from.width) ? x0 + 4 : x0;
            const size_t at[4] = {row0 + x0, row0 + x1, row1 + x0, row1 + x1};
            uint32_t sum[4] = {0, 0, 0, 0};
            if (from.wide) {
                const uint16_t* v = from.wide->values.data();
                for (size_t p : at)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += v[p + c];
            } else {
                const uint8_t* v = from.straight;
                for (size_t p : at) {
                    const uint32_t alpha = v[p + 3];
                    sum[0] += v[p] * alpha;
                    sum[1] += v[p + 1] * alpha;
                    sum[2] += v[p + 2] * alpha;
                    sum[3] += alpha * 255;
                }
            }
            for (int c = 0; c < 4; ++c)
                out[c] = static_cast<uint16_t>((sum[c] + 2) >> 2);
        }
    }
    return true;
}

bool ResampleRegion(const ResampleSource& source, double x0, double y0, double x1, double y1, uint8_t* out,
                    int outWidth, int outHeight, ptrdiff_t stride) {
    if (source.width <= 0 || source.height <= 0 || outWidth <= 0 || outHeight <= 0) return false;
    AxisPlan columns, rows;
    std::vector<float> row, padded, across, value, low, high;
    try {
        columns = PlanAxis(x0, x1, outWidth);
        rows = PlanAxis(y0, y1, outHeight);
        row.resize(static_cast<size_t>(source.width) * 4);
        padded.resize(static_cast<size_t>(columns.high - columns.low + 1) * 4);
        across.resize(static_cast<size_t>(rows.high - rows.low + 1) * outWidth * 4);
        value.resize(static_cast<size_t>(outWidth) * 4);
        low.resize(value.size());
        high.resize(value.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Across first, for every source row the rows' taps reach; then down the columns. Positions beyond the
    // edge repeat the edge's sample.
    int fetched = -1;
    for (int y = rows.low; y <= rows.high; ++y) {
        const int sourceRow = std::clamp(y, 0, source.height - 1);
        if (sourceRow != fetched) {
            FetchRow(source, sourceRow, row.data());
            for (int x = columns.low; x <= columns.high; ++x) {
                const float* from = row.data() + static_cast<size_t>(std::clamp(x, 0, source.width - 1)) * 4;
                std::copy(from, from + 4, padded.data() + static_cast<size_t>(x - columns.low) * 4);
            }
            fetched = sourceRow;
        }
        float* target = across.data() + static_cast<size_t>(y - rows.low) * outWidth * 4;
        for (int x = 0; x < outWidth; ++x) {
            const Taps& t = columns.taps[static_cast<size_t>(x)];
            _mm_storeu_ps(target + x * 4, Apply(t, padded.data() + static_cast<size_t>(t.first - columns.low) * 4, 4));
        }
    }
    // Down the columns a whole output row at a time, so every tap reads one contiguous row of the across pass.
    const size_t rowStride = static_cast<size_t>(outWidth) * 4;
    for (int y = 0; y < outHeight; ++y) {
        const Taps& t = rows.taps[static_cast<size_t>(y)];
        const float* top = across.data() + static_cast<size_t>(t.first - rows.low) * rowStride;
        FilterRows(t, top, rowStride, value.data(), low.data(), high.data());
        uint8_t* pixel = out + y * stride;
        for (int x = 0; x < outWidth; ++x, pixel += 4) {
            const float* v = value.data() + x * 4;
            const double alpha = std::max(v[3], 0.0f);
            const uint8_t a = RoundByte(alpha / 255.0);
            pixel[3] = a;
            for (int c = 0; c < 3; ++c)
                pixel[c] = a == 0 ? 0 : RoundByte(std::clamp(static_cast<double>(v[c]), 0.0, alpha) * 255.0 / alpha);
        }
    }
    return true;
}
