#pragma once

#include "engine/IconJobFlags.h"
#include "engine/PictureFormats.h"

class ScaleSource;

// Decodes the first frame of a picture with the Windows Imaging Component, whose codecs include those the user
// installed, for scaling to the sizes with the flags' fit; read in strips straight into the reduction the sizes allow.
// NotPicture when no codec takes the file; Failed when one takes it but can't decode it, or the picture is larger than
// the budget. Starts COM on the calling thread for the call when the thread has none.
PictureDecode DecodeWicFile(const wchar_t* path, const SizeList& sizes, IconJobFlags flags, ScaleSource& out);
