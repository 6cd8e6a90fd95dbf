#include "engine/StbDecoder.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "engine/ImageScaling.h"
#include "engine/PictureBudget.h"

// Only the two formats no other decoder here reads; reading goes through callbacks, so no file name (and no
// narrow-string path) reaches the library.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_ONLY_PSD
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#include <stb/stb_image.h>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FileOwner = std::unique_ptr<FILE, FileCloser>;

struct PixelsFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
using PixelsOwner = std::unique_ptr<stbi_uc, PixelsFree>;

// The library reads zeros past the end of its input; the reader notes when that happens, so that a truncated file is
// refused rather than padded.
struct Reader {
    FILE* file = nullptr;
    bool pastEnd = false;
};

int ReadBytes(void* user, char* data, int size) {
    auto& reader = *static_cast<Reader*>(user);
    const size_t read = size > 0 ? std::fread(data, 1, static_cast<size_t>(size), reader.file) : 0;
    if (read == 0 && size > 0) reader.pastEnd = true;
    return static_cast<int>(read);
}

void SkipBytes(void* user, int count) {
    auto& reader = *static_cast<Reader*>(user);
    if (std::fseek(reader.file, count, SEEK_CUR) != 0) reader.pastEnd = true;
}

int AtEnd(void* user) {
    auto& reader = *static_cast<Reader*>(user);
    return std::feof(reader.file) ? 1 : 0;
}

uint32_t BigEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// The declared size and what decoding it takes at its peak: the library's pixels as stored and its 8-bit RGBA copy.
bool ReadHeader(FILE* file, PictureFormat format, int& width, int& height, uint64_t& peakBytes) {
    uint8_t head[26] = {};
    if (std::fread(head, 1, sizeof(head), file) < (format == PictureFormat::Tga ? 18u : sizeof(head)) ||
        std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    uint64_t bytesPerPixel = 8;
    if (format == PictureFormat::Tga) {
        // stb_image reads rows left to right only.
        if (head[17] & 0x10) return false;
        width = head[12] | (head[13] << 8);
        height = head[14] | (head[15] << 8);
    } else {
        height = static_cast<int>(BigEndian(head + 14, 4) & 0x7FFFFFFF);
        width = static_cast<int>(BigEndian(head + 18, 4) & 0x7FFFFFFF);
        if (BigEndian(head + 22, 2) == 16) bytesPerPixel = 12;
    }
    if (width <= 0 || height <= 0) return false;
    peakBytes = uint64_t(width) * uint64_t(height) * bytesPerPixel;
    return true;
}

}  // namespace

PictureDecode DecodeStbFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out) {
    out = ScaleSource();
    const PictureFormat format = SniffPictureFile(path);
    if (format != PictureFormat::Tga && format != PictureFormat::Psd) return PictureDecode::NotPicture;
    FileOwner file(_wfopen(path, L"rb"));
    int width = 0, height = 0;
    uint64_t peak = 0;
    if (!file || !ReadHeader(file.get(), format, width, height, peak)) return PictureDecode::Failed;
    const int level = ReadLevel(width, height, sizes, flags);
    if (peak + RowReducer::HeldBytes(width, height, level) > kPictureBudgetBytes) return PictureDecode::Failed;

    Reader reader{file.get()};
    const stbi_io_callbacks callbacks{ReadBytes, SkipBytes, AtEnd};
    int decodedWidth = 0, decodedHeight = 0, channels = 0;
    PixelsOwner pixels(stbi_load_from_callbacks(&callbacks, &reader, &decodedWidth, &decodedHeight, &channels, 4));
    if (!pixels || reader.pastEnd || decodedWidth != width || decodedHeight != height) return PictureDecode::Failed;

    RowReducer reducer;
    if (!reducer.Start(width, height, level)) return PictureDecode::Failed;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> row;
    try {
        row.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        return PictureDecode::Failed;
    }
    for (int y = 0; y < height; ++y) {
        const stbi_uc* from = pixels.get() + static_cast<size_t>(y) * rowBytes;
        for (size_t x = 0; x < rowBytes; x += 4) {
            row[x] = from[x + 2];
            row[x + 1] = from[x + 1];
            row[x + 2] = from[x];
            row[x + 3] = from[x + 3];
        }
        reducer.TakeRow(row.data());
    }
    pixels.reset();
    out = reducer.Finish();
    return out.Valid() ? PictureDecode::Picture : PictureDecode::Failed;
}
