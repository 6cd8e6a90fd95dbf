#pragma once

#include <windows.h>

#include <cstdint>

// The look the three pages of the main window share.
constexpr COLORREF kTitleColor = 0x808000;  // section titles
constexpr int32_t kEditStyle = 0x10800080;  // WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL
