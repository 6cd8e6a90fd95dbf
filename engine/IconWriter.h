#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "engine/IconJobFlags.h"
#include "engine/Imaging.h"
#include "sys/Result.h"
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

// Fills the entry (whose width and height are set to the size) from the image: a 32-bit bitmap with its mask, or a
// PNG stream for sizes of 64 and more with kPngc. The image is consumed.
bool PrepareIconEntry(WorkingImage image, IconEntry& entry, IconJobFlags flags);
// True when an entry of this size is stored as a PNG stream under these flags.
bool StoredAsPng(int size, IconJobFlags flags);
// Makes the entry one that holds this complete PNG stream as it is (a library's own PNG image of the size).
void SetPngEntry(IconEntry& entry, std::vector<uint8_t> png);
// The image as a complete 8-bit RGBA PNG stream (straight alpha, as the image's pixels read unpremultiplied).
bool EncodePng(const WorkingImage& image, std::vector<uint8_t>& bytes);

// Write an .ico of the prepared entries in their order, or one .png of the given stream. The file is written beside
// the output and put in place in one step (CommitStagedOutput): a failure at any point (a full disk, an old file
// that another program holds) leaves the old output as it was and no temporary file behind. A failure carries the
// Windows error of the step that failed.
Result WriteIconEntries(std::vector<IconEntry>& entries, const WideString& outputPath);
Result WritePngFile(const std::vector<uint8_t>& png, const WideString& outputPath);
// The same staged write of a whole file made elsewhere (a resource's icon group as it is).
Result WriteOutputBytes(const std::vector<uint8_t>& bytes, const WideString& outputPath);

// The class id of the imaging library's PNG encoder.
bool FindPngEncoder(CLSID& encoder);

// Drops the dots and spaces that end a path, as Windows does with a file name when it opens it ("out.ico." is
// out.ico). A path in "\\?\" form would keep them and name another file.
void DropTrailingDotsAndSpaces(WideString& path);

// Forces the path's extension to ".png" with kPngs, else ".ico" (kept as written when it already matches,
// ignoring case), after dropping trailing dots and spaces. Always true.
bool EnsureOutputExtension(WideString& path, IconJobFlags flags);
