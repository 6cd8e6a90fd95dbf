#pragma once

// Reads the directory of an .ico file from its bytes, as any icon reader would, without the product's own
// structures: tests check the files the product writes against this reading. Header-only.

#include <cstdint>
#include <cstring>
#include <vector>

#include "TestSupport.h"

namespace testing_support {

struct IcoEntry {
    int widthByte = 0;  // as stored: 0 stands for 256
    int heightByte = 0;
    int width = 0;  // 256 for a stored 0
    int height = 0;
    uint32_t bytes = 0;
    uint32_t offset = 0;
    bool inside = false;  // the entry's data lies within the file
    bool png = false;     // the data starts with the PNG signature
};

struct IcoDirectory {
    bool isIcon = false;            // reserved word 0, type 1 (icon)
    int count = 0;                  // entry count as the header states it
    bool complete = false;          // every stated entry is present and its data lies within the file
    std::vector<IcoEntry> entries;  // the entries whose 16 directory bytes are present
};

inline uint16_t IcoLe16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
inline uint32_t IcoLe32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | static_cast<uint32_t>(b[at + 3]) << 24;
}

inline IcoDirectory ReadIcoDirectory(const std::vector<uint8_t>& file) {
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    IcoDirectory ico;
    if (file.size() < 6 || IcoLe16(file, 0) != 0 || IcoLe16(file, 2) != 1) return ico;
    ico.isIcon = true;
    ico.count = IcoLe16(file, 4);
    ico.complete = true;
    for (int i = 0; i < ico.count; ++i) {
        const size_t at = 6 + 16 * static_cast<size_t>(i);
        if (at + 16 > file.size()) {
            ico.complete = false;
            break;
        }
        IcoEntry e;
        e.widthByte = file[at];
        e.heightByte = file[at + 1];
        e.width = e.widthByte == 0 ? 256 : e.widthByte;
        e.height = e.heightByte == 0 ? 256 : e.heightByte;
        e.bytes = IcoLe32(file, at + 8);
        e.offset = IcoLe32(file, at + 12);
        e.inside = static_cast<uint64_t>(e.offset) + e.bytes <= file.size();
        e.png = static_cast<uint64_t>(e.offset) + 8 <= file.size() &&
                std::memcmp(&file[e.offset], kPngSignature, sizeof(kPngSignature)) == 0;
        if (!e.inside) ico.complete = false;
        ico.entries.push_back(e);
    }
    return ico;
}

inline IcoDirectory ReadIcoDirectory(const wchar_t* path) {
    return ReadIcoDirectory(ReadBytes(path));
}

}  // namespace testing_support
