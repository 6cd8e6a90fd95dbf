#pragma once

#include <cstdint>
#include <vector>

// A complete 8-bit RGBA PNG stream (straight alpha, rows top-down) of width x height pixels. False when the
// encoder fails or memory runs out.
bool EncodeRgbaPng(const uint8_t* rgba, int width, int height, std::vector<uint8_t>& png);
