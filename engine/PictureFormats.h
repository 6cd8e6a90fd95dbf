#pragma once

#include <cstddef>
#include <cstdint>

// How decoding a file as a picture ended.
enum class PictureDecode {
    Picture,     // decoded: the source is ready to scale
    NotPicture,  // no decoder takes the file: it may still be an icon holder
    Failed,      // a picture that cannot be decoded (damaged, unsupported, or too large for memory): the job fails
};

// What a file's first bytes say it is. The name a file has says nothing: a decoder is chosen by this alone.
enum class PictureFormat {
    Unknown,  // left to the imaging libraries, which may still know it (a codec the user installed)
    Icon,     // an icon or cursor directory: the imaging library's or the icon readers' to take
    Jpeg,
    Png,
    Gif,
    Bmp,
    Tiff,
    Webp,
    Psd,
    Tga,
    Dds,
};

// Bytes of a file's start that SniffPictureFormat looks at (a TGA's header with its colour map description).
constexpr size_t kSniffBytes = 32;

// The format of a file that starts with head (size bytes, fewer when the file is shorter) and has fileSize bytes.
// A TGA has no signature: it is taken for one only when every field of its header is one a TGA can have and the file
// is large enough for its uncompressed pixels.
PictureFormat SniffPictureFormat(const uint8_t* head, size_t size, uint64_t fileSize);
PictureFormat SniffPictureFile(const wchar_t* path);
