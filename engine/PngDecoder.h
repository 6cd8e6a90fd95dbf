#pragma once

#include "engine/IconJobFlags.h"
#include "engine/PictureFormats.h"

class ScaleSource;

// Decodes a PNG file with libspng for scaling to the sizes with the flags' fit. A progressive (non-interlaced) file is
// decoded a row at a time straight into the reduction the sizes allow, so the picture is never held whole; an
// interlaced one is decoded whole first. Colours come out as stored, 16-bit samples cut to their high byte, the
// transparency chunk applied; gamma and colour profiles are not applied, as the imaging library does not apply them
// either. A damaged or truncated file, or one larger than the picture budget, is Failed; a file without a PNG's
// signature is NotPicture.
PictureDecode DecodePngFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out);
