#include "engine/PictureBudget.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "sys/Handles.h"

namespace {

constexpr size_t kHeaderBytes = 32;

uint32_t BigEndian32(const uint8_t* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

uint32_t LittleEndian16(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8);
}

uint32_t LittleEndian32(const uint8_t* bytes) {
    return LittleEndian16(bytes) | (LittleEndian16(bytes + 2) << 16);
}

bool ReadPng(const uint8_t* head, DeclaredPicture& picture) {
    static constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                             0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    if (std::memcmp(head, kSignature, sizeof(kSignature)) != 0) return false;
    picture.width = BigEndian32(head + 16);
    picture.height = BigEndian32(head + 20);
    const uint32_t depth = head[24];
    // Samples a pixel by colour type: grey, -, RGB, palette, grey and alpha, -, RGBA.
    static constexpr uint32_t kSamples[] = {1, 0, 3, 1, 2, 0, 4};
    const uint32_t type = head[25];
    picture.bitsPerPixel = type < 7 ? depth * kSamples[type] : 0;
    return picture.bitsPerPixel > 0;
}

bool ReadBmp(const uint8_t* head, DeclaredPicture& picture) {
    if (head[0] != 'B' || head[1] != 'M') return false;
    const uint32_t headerSize = LittleEndian32(head + 14);
    if (headerSize == 12) {
        picture.width = LittleEndian16(head + 18);
        picture.height = LittleEndian16(head + 20);
        picture.bitsPerPixel = LittleEndian16(head + 24);
        return true;
    }
    if (headerSize < 40) return false;
    const auto width = static_cast<int32_t>(LittleEndian32(head + 18));
    const auto height = static_cast<int32_t>(LittleEndian32(head + 22));
    // A negative height only marks top-down rows.
    picture.width = static_cast<uint32_t>(width);
    picture.height = height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
    picture.bitsPerPixel = LittleEndian16(head + 28);
    return true;
}

bool ReadGif(const uint8_t* head, DeclaredPicture& picture) {
    if (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0) return false;
    picture.width = LittleEndian16(head + 6);
    picture.height = LittleEndian16(head + 8);
    picture.bitsPerPixel = 8;
    return true;
}

}  // namespace

bool ReadDeclaredPicture(const wchar_t* path, DeclaredPicture& picture) {
    picture = DeclaredPicture();
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    uint8_t head[kHeaderBytes] = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.Get(), head, sizeof(head), &read, nullptr) || read < sizeof(head)) return false;
    return ReadPng(head, picture) || ReadBmp(head, picture) || ReadGif(head, picture);
}

uint64_t ImagingPeakBytes(const DeclaredPicture& picture, uint64_t copyPixels) {
    const uint64_t pixels = uint64_t(picture.width) * picture.height;
    // Pixels packed below a byte count as a byte. Wine's decoders keep them packed (a 60000 x 60000 1-bit picture
    // peaks at 0.9 GB), but every pixel is still converted and reduced one by one, so such a picture costs in
    // proportion to its pixels; counted so, it stays out under the same budget that lets a colour panorama through.
    const uint64_t bytesPerPixel = std::max<uint64_t>(1, (uint64_t(picture.bitsPerPixel) + 7) / 8);
    return 2 * pixels * bytesPerPixel + copyPixels * 4;
}
