#include "engine/Resampler.h"

#include <algorithm>
#include <cmath>
#include <new>

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

// The taps of one output position along one axis: weights over sources [first, first + count) (indices already
// clamped to the edge) and the range [lowFirst, lowFirst + lowCount) whose samples bound the result.
struct Taps {
    std::vector<int> index;
    std::vector<float> weight;
    int clampFirst = 0;  // positions into index
    int clampCount = 0;
};

std::vector<Taps> AxisTaps(double start, double end, int outCount, int sourceCount) {
    std::vector<Taps> taps(static_cast<size_t>(outCount));
    const double scale = (end - start) / outCount;
    const bool reducing = scale > 1.0;
    const double stretch = reducing ? scale : 1.0;
    const double radius = (reducing ? kLanczosLobes : 2.0) * stretch;
    for (int o = 0; o < outCount; ++o) {
        Taps& t = taps[static_cast<size_t>(o)];
        const double centre = start + (o + 0.5) * scale;  // in source pixel edges; sample j sits at j + 0.5
        const int first = static_cast<int>(std::floor(centre - radius - 0.5)) + 1;
        const int last = static_cast<int>(std::ceil(centre + radius - 0.5)) - 1;
        double total = 0.0;
        std::vector<double> weights;
        int clampFirst = -1, clampLast = -1;
        for (int j = first; j <= last; ++j) {
            const double distance = (j + 0.5 - centre) / stretch;
            const double w = reducing ? Lanczos(distance) : CatmullRom(distance);
            if (w == 0.0 && std::fabs(distance) >= 1.0) continue;
            // The central lobe: samples within one output pixel (one source pixel when enlarging).
            if (std::fabs(distance) < 1.0) {
                if (clampFirst < 0) clampFirst = static_cast<int>(t.index.size());
                clampLast = static_cast<int>(t.index.size());
            }
            t.index.push_back(std::clamp(j, 0, sourceCount - 1));
            weights.push_back(w);
            total += w;
        }
        if (t.index.empty() || total == 0.0) {
            const int nearest = std::clamp(static_cast<int>(std::floor(centre)), 0, sourceCount - 1);
            t.index.assign(1, nearest);
            weights.assign(1, 1.0);
            total = 1.0;
            clampFirst = clampLast = 0;
        }
        if (clampFirst < 0) clampFirst = clampLast = 0;
        t.clampFirst = clampFirst;
        t.clampCount = clampLast - clampFirst + 1;
        for (double w : weights)
            t.weight.push_back(static_cast<float>(w / total));
    }
    return taps;
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

// Filters four channels at stride apart with the taps, clamped to the range of the central lobe's samples.
void Apply(const Taps& t, const float* values, size_t stride, float* out) {
    float sum[4] = {0, 0, 0, 0};
    float low[4], high[4];
    for (int c = 0; c < 4; ++c)
        low[c] = high[c] = values[static_cast<size_t>(t.index[static_cast<size_t>(t.clampFirst)]) * stride + c];
    for (size_t k = 0; k < t.index.size(); ++k) {
        const float* v = values + static_cast<size_t>(t.index[k]) * stride;
        const float w = t.weight[k];
        for (int c = 0; c < 4; ++c)
            sum[c] += w * v[c];
    }
    for (int k = t.clampFirst + 1; k < t.clampFirst + t.clampCount; ++k) {
        const float* v = values + static_cast<size_t>(t.index[static_cast<size_t>(k)]) * stride;
        for (int c = 0; c < 4; ++c) {
            low[c] = std::min(low[c], v[c]);
            high[c] = std::max(high[c], v[c]);
        }
    }
    for (int c = 0; c < 4; ++c)
        out[c] = std::clamp(sum[c], low[c], high[c]);
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
    std::vector<Taps> columns, rows;
    std::vector<float> row, across, line;
    int firstRow = source.height, lastRow = -1;
    try {
        columns = AxisTaps(x0, x1, outWidth, source.width);
        rows = AxisTaps(y0, y1, outHeight, source.height);
        for (const Taps& t : rows) {
            firstRow = std::min(firstRow, *std::min_element(t.index.begin(), t.index.end()));
            lastRow = std::max(lastRow, *std::max_element(t.index.begin(), t.index.end()));
        }
        row.resize(static_cast<size_t>(source.width) * 4);
        across.resize(static_cast<size_t>(lastRow - firstRow + 1) * outWidth * 4);
        line.resize(4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Across first, for every source row the rows' taps reach; then down each output column.
    for (int y = firstRow; y <= lastRow; ++y) {
        FetchRow(source, y, row.data());
        float* target = across.data() + static_cast<size_t>(y - firstRow) * outWidth * 4;
        for (int x = 0; x < outWidth; ++x)
            Apply(columns[static_cast<size_t>(x)], row.data(), 4, target + x * 4);
    }
    const size_t rowStride = static_cast<size_t>(outWidth) * 4;
    for (int y = 0; y < outHeight; ++y) {
        Taps t = rows[static_cast<size_t>(y)];
        for (int& index : t.index)
            index -= firstRow;
        uint8_t* pixel = out + y * stride;
        for (int x = 0; x < outWidth; ++x, pixel += 4) {
            float value[4];
            Apply(t, across.data() + x * 4, rowStride, value);
            const double alpha = std::max(value[3], 0.0f);
            const uint8_t a = RoundByte(alpha / 255.0);
            pixel[3] = a;
            for (int c = 0; c < 3; ++c)
                pixel[c] =
                    a == 0 ? 0 : RoundByte(std::clamp(static_cast<double>(value[c]), 0.0, alpha) * 255.0 / alpha);
        }
    }
    return true;
}
