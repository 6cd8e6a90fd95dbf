#pragma once

#include <cstdint>
#include <vector>

// The flag word passed to every engine operation. Neither fit bit means Stretch; Center wins over Crop.
using IconJobFlags = uint32_t;

constexpr IconJobFlags kPngc = 0x01;          // sizes of 64 and more stored PNG-compressed inside the .ico
constexpr IconJobFlags kFromResource = 0x02;  // the source is a file with icon resources, selected by index
constexpr IconJobFlags kCenter = 0x04;        // fit mode Center
constexpr IconJobFlags kCrop = 0x08;          // fit mode Crop
constexpr IconJobFlags kPngs = 0x10;          // one .png of the last listed size instead of an .ico
constexpr IconJobFlags kFromWindow = 0x20;    // the source is a window's small and large icon
// A resource's icon group written as the file holds it (every entry, byte for byte): sizes, fit, kPngc and kPngs
// don't apply. Other sources ignore it.
constexpr IconJobFlags kOriginal = 0x40;

// Pixel sizes of one job, in the order in which the entries are written.
using SizeList = std::vector<int>;
