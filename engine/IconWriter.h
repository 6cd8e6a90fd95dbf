#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "engine/IconJobFlags.h"
#include "engine/IconSources.h"
#include "engine/Imaging.h"
#include "sys/WideString.h"

#pragma pack(push, 1)
// One 16-byte directory entry of an .ico file, little-endian as written.
struct IconDirectoryEntry {
    uint8_t width;
    uint8_t height;
    uint8_t colourCount;
    uint8_t reserved;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t bytesInResource;
    uint32_t imageOffset;
};
#pragma pack(pop)
static_assert(sizeof(IconDirectoryEntry) == 16, "ICONDIRENTRY is 16 bytes");

// One prepared entry of an .ico file, held in memory until the whole file is written. A bitmap entry's block is
// its pixels and mask (the 40-byte header is written before it); a PNG entry's block is a complete PNG stream.
struct IconEntry {
    IconDirectoryEntry directory{};
    BITMAPINFOHEADER header{};
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> data;

    bool IsBitmap() const { return directory.bytesInResource == data.size() + sizeof(BITMAPINFOHEADER); }
};

// Size of a bitmap entry's AND mask: one bit per pixel, rows padded to 4 bytes.
inline uint32_t IconMaskBytes(int width, int height) {
    return static_cast<uint32_t>((width + 31) / 32 * 4) * static_cast<uint32_t>(height);
}

// Writes an .ico with one entry per listed size (or, with kPngs, one .png of the last listed size). Every size is
// prepared in memory before the file is created; a failure while writing removes the partly written file.
// True when the whole file was written.
// A caller that needs to know whether a picture source decoded passes its own cache.
bool WriteIconFile(const IconSource& source, const SizeList& sizes, const WideString& outputPath, int32_t index,
                   IconJobFlags flags, const WideString& fallback, DecodedPicture* picture = nullptr);

// Fills the entry (whose width and height are set to the size) from the image: a 32-bit bitmap with its mask, or a
// PNG stream for sizes of 64 and more with kPngc. The image is consumed.
bool PrepareIconEntry(WorkingImage image, IconEntry& entry, IconJobFlags flags);

// The class id of the imaging library's PNG encoder.
bool FindPngEncoder(CLSID& encoder);

// Drops the dots and spaces that end a path, as Windows does with a file name when it opens it ("out.ico." is
// out.ico). A path in "\\?\" form would keep them and name another file.
void DropTrailingDotsAndSpaces(WideString& path);

// Forces the path's extension to ".png" with kPngs, else ".ico" (kept as written when it already matches,
// ignoring case), after dropping trailing dots and spaces. Always true.
bool EnsureOutputExtension(WideString& path, IconJobFlags flags);
