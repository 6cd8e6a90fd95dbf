#pragma once

#include "engine/IconJobFlags.h"
#include "engine/PictureFormats.h"

class ScaleSource;

// Decodes a WebP file with libwebp for scaling to the sizes with the flags' fit: a lossy or lossless picture, or an
// animation's first frame on its canvas. The picture is decoded whole, then reduced to what the sizes allow. A damaged
// or truncated file, or one larger than the picture budget, is Failed; a file that is no WebP is NotPicture.
PictureDecode DecodeWebpFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out);
