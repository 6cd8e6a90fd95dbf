#include "engine/PngDecoder.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "engine/ImageScaling.h"
#include "engine/PictureBudget.h"

#include <spng.h>

namespace {

// Metadata chunks (text, colour profiles) larger than this are refused, so that a small file can't make the decoder
// hold gigabytes of them.
constexpr size_t kMaxChunkBytes = size_t(64) << 20;

struct ContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using ContextOwner = std::unique_ptr<spng_ctx, ContextFree>;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FileOwner = std::unique_ptr<FILE, FileCloser>;

void RgbaToBgra(uint8_t* row, int width) {
    for (int x = 0; x < width; ++x, row += 4)
        std::swap(row[0], row[2]);
}

bool DecodeRows(spng_ctx* context, int width, int height, RowReducer& reducer) {
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    if (spng_decode_image(context, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
        return false;
    for (int y = 0; y < height; ++y) {
        const int status = spng_decode_row(context, row.data(), row.size());
        // The last row answers "end of image"; any other answer before it is damage.
        if (status != 0 && !(status == SPNG_EOI && y == height - 1)) return false;
        RgbaToBgra(row.data(), width);
        reducer.TakeRow(row.data());
    }
    return true;
}

bool DecodeWhole(spng_ctx* context, int width, int height, RowReducer& reducer) {
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> pixels(rowBytes * static_cast<size_t>(height));
    if (spng_decode_image(context, pixels.data(), pixels.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) return false;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels.data() + static_cast<size_t>(y) * rowBytes;
        RgbaToBgra(row, width);
        reducer.TakeRow(row);
    }
    return true;
}

}  // namespace

PictureDecode DecodePngFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out) {
    out = ScaleSource();
    if (SniffPictureFile(path) != PictureFormat::Png) return PictureDecode::NotPicture;
    FileOwner file(_wfopen(path, L"rb"));
    // Every chunk's own checksum is still verified; the compressed stream's second checksum over the same bytes
    // would cost a pass over every decoded byte for nothing more.
    ContextOwner context(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!file || !context) return PictureDecode::Failed;
    spng_set_chunk_limits(context.get(), kMaxChunkBytes, kMaxChunkBytes);
    spng_ihdr header{};
    if (spng_set_png_file(context.get(), file.get()) != 0 || spng_get_ihdr(context.get(), &header) != 0)
        return PictureDecode::Failed;
    if (header.width == 0 || header.height == 0 || header.width > INT32_MAX || header.height > INT32_MAX)
        return PictureDecode::Failed;
    const int width = static_cast<int>(header.width), height = static_cast<int>(header.height);
    const int level = ReadLevel(width, height, sizes, flags);
    const uint64_t whole = header.interlace_method != 0 ? uint64_t(width) * uint64_t(height) * 4 : 0;
    if (whole + uint64_t(width) * 4 + RowReducer::HeldBytes(width, height, level) > kPictureBudgetBytes)
        return PictureDecode::Failed;
    RowReducer reducer;
    if (!reducer.Start(width, height, level)) return PictureDecode::Failed;
    try {
        const bool decoded = header.interlace_method != 0 ? DecodeWhole(context.get(), width, height, reducer)
                                                          : DecodeRows(context.get(), width, height, reducer);
        if (!decoded) return PictureDecode::Failed;
    } catch (const std::bad_alloc&) {
        return PictureDecode::Failed;
    }
    out = reducer.Finish();
    return out.Valid() ? PictureDecode::Picture : PictureDecode::Failed;
}
