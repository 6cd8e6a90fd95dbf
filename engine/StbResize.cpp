// The one translation unit that compiles the resampler's implementation.
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
