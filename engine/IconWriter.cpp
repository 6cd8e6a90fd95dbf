#include "engine/IconWriter.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <new>

#include "engine/OutputNaming.h"
#include "engine/PngEncoder.h"
#include "sys/Handles.h"
#include "sys/TempFiles.h"

namespace {

constexpr int kFirstPngSize = 64;

#pragma pack(push, 1)
struct IconDirectoryHeader {
    uint16_t reserved;
    uint16_t type;
    uint16_t count;
};
#pragma pack(pop)
static_assert(sizeof(IconDirectoryHeader) == 6, "ICONDIR is 6 bytes");

void FillDirectoryEntry(IconEntry& entry, uint32_t bytesInResource) {
    entry.directory.width = static_cast<uint8_t>(entry.width % 256);
    entry.directory.height = static_cast<uint8_t>(entry.height % 256);
    entry.directory.colourCount = 0;
    entry.directory.reserved = 0;
    entry.directory.planes = 1;
    entry.directory.bitCount = 32;
    entry.directory.bytesInResource = bytesInResource;
}

// Readers take a 32-bit icon entry's colour bytes as straight alpha and multiply them again, so the pixels are
// read unpremultiplied. The AND mask marks exactly the fully transparent pixels, for the drawing paths that still
// use it (DI_MASK, devices without alpha).
bool PrepareBitmapEntry(WorkingImage& image, IconEntry& entry) {
    if (image.Check(gdip::GdipImageRotateFlip(image.Get(), Gdiplus::RotateNoneFlipY)) != kGpOk) return false;
    const int width = image.Width();
    const int height = image.Height();
    if (width <= 0 || height <= 0) return false;
    entry.width = width;
    entry.height = height;

    const uint32_t pixelBytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4;
    const uint32_t maskStride = static_cast<uint32_t>((width + 31) / 32 * 4);
    entry.data.assign(pixelBytes + IconMaskBytes(width, height), 0);
    {
        BitmapLock lock(image, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB);
        if (!lock.Locked()) return false;
        uint8_t* mask = entry.data.data() + pixelBytes;
        for (int y = 0; y < height; ++y) {
            const uint8_t* source = lock.Row(y);
            uint8_t* target = entry.data.data() + static_cast<size_t>(y) * width * 4;
            std::memcpy(target, source, static_cast<size_t>(width) * 4);
            uint8_t* maskRow = mask + static_cast<size_t>(y) * maskStride;
            for (int x = 0; x < width; ++x) {
                if (source[x * 4 + 3] == 0) maskRow[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }

    FillDirectoryEntry(entry, static_cast<uint32_t>(entry.data.size() + sizeof(BITMAPINFOHEADER)));
    entry.header = {};
    entry.header.biSize = sizeof(BITMAPINFOHEADER);
    entry.header.biWidth = width;
    entry.header.biHeight = height * 2;
    entry.header.biPlanes = 1;
    entry.header.biBitCount = 32;
    entry.header.biCompression = BI_RGB;
    entry.header.biSizeImage = static_cast<DWORD>(entry.data.size());
    return true;
}

bool PreparePngEntry(const WorkingImage& image, IconEntry& entry) {
    if (!EncodePng(image, entry.data)) return false;
    FillDirectoryEntry(entry, static_cast<uint32_t>(entry.data.size()));
    return true;
}

// Puts the staged file in place and tells the shell about it once: as a new file, or as a changed one when it
// replaced an older file.
bool CommitOutput(StagedFile& staged, const WideString& path) {
    bool replaced = false;
    if (!CommitStagedOutput(staged, path, replaced)) return false;
    SHChangeNotify(replaced ? SHCNE_UPDATEITEM : SHCNE_CREATE, SHCNF_PATHW, path.Text(), nullptr);
    return true;
}

bool WriteEntries(StagedFile& file, std::vector<IconEntry>& entries) {
    const IconDirectoryHeader header = {0, 1, static_cast<uint16_t>(entries.size())};
    if (!file.Write(&header, sizeof(header))) return false;
    uint32_t offset = static_cast<uint32_t>(sizeof(header) + sizeof(IconDirectoryEntry) * entries.size());
    for (IconEntry& entry : entries) {
        entry.directory.imageOffset = offset;
        if (!file.Write(&entry.directory, sizeof(entry.directory))) return false;
        offset += entry.directory.bytesInResource;
    }
    for (const IconEntry& entry : entries) {
        if (entry.IsBitmap() && !file.Write(&entry.header, sizeof(entry.header))) return false;
        if (!file.Write(entry.data.data(), entry.data.size())) return false;
    }
    return true;
}

// The failing step's error, read before the staged file is removed, which replaces it.
Result Written(bool succeeded) {
    return succeeded ? Result::Success() : Result::FromError(GetLastError());
}

}  // namespace

bool FindPngEncoder(CLSID& encoder) {
    UINT count = 0;
    UINT bytes = 0;
    if (gdip::GdipGetImageEncodersSize(&count, &bytes) != kGpOk || count == 0 || bytes == 0) return false;
    std::vector<uint8_t> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gdip::GdipGetImageEncoders(count, bytes, codecs) != kGpOk) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && WideString(codecs[i].MimeType).EqualsIgnoreCase(L"image/png")) {
            encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

void DropTrailingDotsAndSpaces(WideString& path) {
    int length = path.Length();
    while (length > 0 && (path.Text()[length - 1] == L'.' || path.Text()[length - 1] == L' '))
        --length;
    path.TruncateTo(length);
}

bool EnsureOutputExtension(WideString& path, IconJobFlags flags) {
    // Judged on the name the file will have: "out.ico." is out.ico, not a name without extension.
    DropTrailingDotsAndSpaces(path);
    const wchar_t* wanted = (flags & kPngs) ? L".png" : L".ico";
    WideString extension = path.Extension(true);
    const bool hasExtension = !extension.IsEmpty();
    if (hasExtension && extension.EqualsIgnoreCase(wanted)) return true;
    if (hasExtension) path.DropRight(extension.Length());
    path.Append(wanted);
    return true;
}

bool StoredAsPng(int size, IconJobFlags flags) {
    return (flags & kPngc) != 0 && size >= kFirstPngSize;
}

bool PrepareIconEntry(WorkingImage image, IconEntry& entry, IconJobFlags flags) {
    if (!image) return false;
    if (StoredAsPng(entry.width, flags)) return PreparePngEntry(image, entry);
    return PrepareBitmapEntry(image, entry);
}

void SetPngEntry(IconEntry& entry, std::vector<uint8_t> png) {
    entry.data = std::move(png);
    FillDirectoryEntry(entry, static_cast<uint32_t>(entry.data.size()));
}

bool EncodePng(const WorkingImage& image, std::vector<uint8_t>& bytes) {
    BitmapLock lock(image, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB);
    if (!lock.Locked() || lock.Width() <= 0 || lock.Height() <= 0) return false;
    const int width = lock.Width();
    const int height = lock.Height();
    std::vector<uint8_t> rgba;
    try {
        rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = lock.Row(y);
        uint8_t* target = rgba.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4;
        for (int x = 0; x < width; ++x, source += 4, target += 4) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            target[3] = source[3];
        }
    }
    return EncodeRgbaPng(rgba.data(), width, height, bytes);
}

Result WriteIconEntries(std::vector<IconEntry>& entries, const WideString& outputPath) {
    StagedFile file;
    return Written(file.Create(outputPath) && WriteEntries(file, entries) && CommitOutput(file, outputPath));
}

// The picture is encoded in memory and written like an icon: the imaging library's own file save reports success
// under Wine even when the disk refused part of the file, which would leave a truncated picture behind.
Result WritePngFile(const std::vector<uint8_t>& png, const WideString& outputPath) {
    return WriteOutputBytes(png, outputPath);
}

Result WriteOutputBytes(const std::vector<uint8_t>& bytes, const WideString& outputPath) {
    StagedFile file;
    return Written(file.Create(outputPath) && file.Write(bytes.data(), bytes.size()) && CommitOutput(file, outputPath));
}
