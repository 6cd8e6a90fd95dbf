#include "engine/PictureFormats.h"

#include <windows.h>

#include <cstring>

#include "sys/Handles.h"

namespace {

uint32_t LittleEndian16(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8);
}

uint32_t LittleEndian32(const uint8_t* bytes) {
    return LittleEndian16(bytes) | (LittleEndian16(bytes + 2) << 16);
}

bool StartsWith(const uint8_t* head, size_t size, const char* signature, size_t length) {
    return size >= length && std::memcmp(head, signature, length) == 0;
}

// An info header of a size BMP writers use (core, version 1 to 5 and the OS/2 2.0 one), or pixels that start past
// the headers and within the file.
bool IsBmp(const uint8_t* head, size_t size, uint64_t fileSize) {
    if (size < 18 || head[0] != 'B' || head[1] != 'M') return false;
    const uint32_t pixels = LittleEndian32(head + 10);
    if (pixels >= 26 && pixels < fileSize) return true;
    switch (LittleEndian32(head + 14)) {
        case 12:
        case 16:
        case 40:
        case 52:
        case 56:
        case 64:
        case 108:
        case 124:
            return true;
        default:
            return false;
    }
}

bool IsTga(const uint8_t* head, size_t size, uint64_t fileSize) {
    if (size < 18) return false;
    const uint32_t idLength = head[0], mapType = head[1], type = head[2];
    const uint32_t mapLength = LittleEndian16(head + 5), mapBits = head[7];
    const uint32_t width = LittleEndian16(head + 12), height = LittleEndian16(head + 14), bits = head[16];
    const uint32_t descriptor = head[17];
    const bool mapped = type == 1 || type == 9;
    const bool grey = type == 3 || type == 11;
    const bool colour = type == 2 || type == 10;
    if (!mapped && !grey && !colour) return false;
    if (mapType > 1 || (mapType == 1) != mapped) return false;
    // Without a colour map its description is all zero; an icon or cursor directory has its entry count there.
    static constexpr uint8_t kNoMap[5] = {};
    if (mapType == 0 && std::memcmp(head + 3, kNoMap, sizeof(kNoMap)) != 0) return false;
    if (mapped && (mapLength == 0 || (mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32))) return false;
    if (width == 0 || height == 0 || (descriptor & 0xC0) != 0 || (descriptor & 0x0F) > 8) return false;
    if (mapped ? bits != 8 && bits != 16
        : grey ? bits != 8 && bits != 16
               : bits != 15 && bits != 16 && bits != 24 && bits != 32)
        return false;
    // A file cut short is still a TGA (a damaged one): it need only reach its first pixel.
    return fileSize > 18 + uint64_t(idLength) + uint64_t(mapLength) * ((mapBits + 7) / 8);
}

}  // namespace

PictureFormat SniffPictureFormat(const uint8_t* head, size_t size, uint64_t fileSize) {
    if (!head) return PictureFormat::Unknown;
    if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return PictureFormat::Jpeg;
    if (StartsWith(head, size, "\x89PNG\r\n\x1A\n", 8)) return PictureFormat::Png;
    if (StartsWith(head, size, "GIF87a", 6) || StartsWith(head, size, "GIF89a", 6)) return PictureFormat::Gif;
    if (StartsWith(head, size, "II*\0", 4) || StartsWith(head, size, "MM\0*", 4)) return PictureFormat::Tiff;
    if (size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
        return PictureFormat::Webp;
    if (StartsWith(head, size, "8BPS", 4)) return PictureFormat::Psd;
    if (StartsWith(head, size, "DDS ", 4)) return PictureFormat::Dds;
    if (IsBmp(head, size, fileSize)) return PictureFormat::Bmp;
    // Before the icon test: a TGA's header can start as a cursor directory's does, but a directory then counts its
    // entries where a TGA without a colour map has zeros.
    if (IsTga(head, size, fileSize)) return PictureFormat::Tga;
    if (size >= 4 && head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0)
        return PictureFormat::Icon;
    return PictureFormat::Unknown;
}

PictureFormat SniffPictureFile(const wchar_t* path) {
    if (!path) return PictureFormat::Unknown;
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    uint8_t head[kSniffBytes] = {};
    DWORD read = 0;
    if (!file || !GetFileSizeEx(file.Get(), &size) || !ReadFile(file.Get(), head, sizeof(head), &read, nullptr))
        return PictureFormat::Unknown;
    return SniffPictureFormat(head, read, static_cast<uint64_t>(size.QuadPart));
}
