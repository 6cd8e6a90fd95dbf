#pragma once

#include <cstdint>

// One job's memory budget for a picture: what the decoders hold (the decoder's own buffers and the decoded picture)
// together with the copies the program makes to scale it. A picture whose header declares more is refused before
// anything is decoded, so that a small file declaring a huge size can neither exhaust the address space nor make a
// machine swap. The 32-bit program shares its 4 GB of address space with the imaging library; the 64-bit one
// allows what a machine that runs it can be expected to hold without swapping for one picture.
#ifdef _WIN64
constexpr uint64_t kPictureBudgetBytes = 2ull << 30;
#else
constexpr uint64_t kPictureBudgetBytes = 1536ull << 20;
#endif

// The size and pixel depth a picture file declares in its header, read without decoding anything.
struct DeclaredPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
};

// Reads the header of a PNG, BMP or GIF file. False for other formats and for a header that can't be read: the
// imaging library then decides alone.
bool ReadDeclaredPicture(const wchar_t* path, DeclaredPicture& picture);

// What decoding the declared picture with the imaging library takes at its peak: the decoder's pixels and the
// library's bitmap, both whole (so measured under Wine), each pixel counted as at least a byte; plus the program's
// copy, of copyPixels pixels at four bytes.
uint64_t ImagingPeakBytes(const DeclaredPicture& picture, uint64_t copyPixels);
