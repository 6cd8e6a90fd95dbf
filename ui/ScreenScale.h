#pragma once

// Windows and their text keep their physical size on enlarged displays: design pixels (96 per inch) are scaled to
// the screen's pixels per inch, read once per process.

// The screen's logical pixels per inch (96 on an ordinary display).
int screenDpi();
// A length in design pixels as screen pixels.
int scaleToScreen(int designPixels);
