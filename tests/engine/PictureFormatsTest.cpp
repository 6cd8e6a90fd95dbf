#include "engine/PictureFormats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The literal's bytes, zeros included, padded with zeros to size.
template <size_t N>
std::vector<uint8_t> Bytes(const char (&text)[N], size_t size = 0) {
    std::vector<uint8_t> bytes(text, text + N - 1);
    if (bytes.size() < size) bytes.resize(size);
    return bytes;
}

// A TGA header of 32 x 32 pixels after a 4-byte ID field.
std::vector<uint8_t> Tga(uint8_t mapType, uint8_t type, uint8_t bits, uint8_t descriptor) {
    std::vector<uint8_t> head(18);
    head[0] = 4, head[1] = mapType, head[2] = type, head[12] = 32, head[14] = 32, head[16] = bits,
    head[17] = descriptor;
    if (mapType) head[5] = 16, head[7] = 24;
    return head;
}

// The first bytes choose the decoder. A TGA has no signature, so its test must not take files whose first bytes look
// alike: a cursor directory starts as a true-colour TGA does, and must stay with the icon readers.
TEST(PictureFormatsTest, FirstBytesNameTheFormat) {
    struct Case {
        const char* what;
        std::vector<uint8_t> head;
        uint64_t fileSize;
        PictureFormat expected;
    };
    // One 32 x 32 entry with its hot spot at (16, 16) and 1.5 MB of image: as a TGA header, 16 x 48 pixels of 24 bits.
    const std::vector<uint8_t> cursor = {0, 0, 2, 0, 1, 0, 32, 32, 0, 0, 16, 0, 16, 0, 0x30, 0, 0x18, 0, 22, 0, 0, 0};
    const Case cases[] = {
        {"PNG", Bytes("\x89PNG\r\n\x1A\n", 32), 100, PictureFormat::Png},
        {"JPEG", Bytes("\xFF\xD8\xFF\xE0", 32), 100, PictureFormat::Jpeg},
        {"WebP", Bytes("RIFF\x10\0\0\0WEBPVP8 ", 32), 100, PictureFormat::Webp},
        {"another RIFF", Bytes("RIFF\x10\0\0\0WAVEfmt ", 32), 100, PictureFormat::Unknown},
        {"Photoshop", Bytes("8BPS\0\x01", 32), 100, PictureFormat::Psd},
        {"DDS", Bytes("DDS \x7C", 32), 200, PictureFormat::Dds},
        {"GIF", Bytes("GIF89a", 32), 100, PictureFormat::Gif},
        {"TIFF", Bytes("MM\0*", 32), 100, PictureFormat::Tiff},
        {"BMP", Bytes("BM\x36\x10\0\0\0\0\0\0\x36\0\0\0\x28", 32), 4150, PictureFormat::Bmp},
        {"text after BM", Bytes("BMW owners' club newsletter, spring"), 35, PictureFormat::Unknown},
        {"icon", Bytes("\0\0\1\0\1\0", 22), 300, PictureFormat::Icon},
        {"cursor", cursor, 1600000, PictureFormat::Icon},
        {"TGA", Tga(0, 2, 32, 0x28), 18 + 4096, PictureFormat::Tga},
        {"run-length TGA", Tga(0, 10, 24, 0), 100, PictureFormat::Tga},
        {"colour-mapped TGA", Tga(1, 1, 8, 0), 100, PictureFormat::Tga},
        {"TGA header alone", Tga(0, 2, 32, 0x28), 22, PictureFormat::Unknown},
        {"TGA with interleaved rows", Tga(0, 2, 24, 0x40), 100, PictureFormat::Unknown},
        {"TGA type with a map it lacks", Tga(0, 1, 8, 0), 100, PictureFormat::Unknown},
        {"TGA depth it can't have", Tga(0, 2, 12, 0), 100, PictureFormat::Unknown},
        {"text", Bytes("no picture at all, just words"), 29, PictureFormat::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SniffPictureFormat(c.head.data(), c.head.size(), c.fileSize), c.expected) << c.what;
}

}  // namespace
