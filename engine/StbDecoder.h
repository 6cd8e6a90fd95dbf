#pragma once

#include "engine/IconJobFlags.h"
#include "engine/PictureFormats.h"

class ScaleSource;

// Decodes a TGA (colour-mapped, true-colour or grey; plain or run-length encoded; rows bottom-up or top-down) or a
// Photoshop file's flattened composite (RGB, 8 or 16 bits a channel) with stb_image, for scaling to the sizes with the
// flags' fit. The picture is decoded whole, then reduced to what the sizes allow. A damaged, truncated or unsupported
// file, or one larger than the picture budget, is Failed; a file that is neither is NotPicture.
PictureDecode DecodeStbFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out);
