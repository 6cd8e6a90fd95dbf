#include "engine/IconWriter.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "engine/ImageScaling.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"

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

bool IsPngEntry(int size, IconJobFlags flags) {
    return (flags & kPngc) != 0 && size >= kFirstPngSize;
}

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

// The complete PNG stream the imaging library's encoder makes of the image.
bool EncodePng(const WorkingImage& image, std::vector<uint8_t>& bytes) {
    CLSID encoder;
    if (!FindPngEncoder(encoder)) return false;
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive()))) return false;
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (image.Check(gdip::GdipSaveImageToStream(image.Get(), stream.Get(), &encoder, nullptr)) != kGpOk) return false;

    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    STATSTG stat = {};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart == 0 || stat.cbSize.QuadPart > 0x7FFFFFFF)
        return false;
    const ULONG length = static_cast<ULONG>(stat.cbSize.QuadPart);
    bytes.assign(length, 0);
    ULONG read = 0;
    return SUCCEEDED(stream->Read(bytes.data(), length, &read)) && read == length;
}

bool PreparePngEntry(const WorkingImage& image, IconEntry& entry) {
    if (!EncodePng(image, entry.data)) return false;
    FillDirectoryEntry(entry, static_cast<uint32_t>(entry.data.size()));
    return true;
}

bool WriteAll(HANDLE file, const void* data, size_t size) {
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// Only a file is removed and recreated: the deletion takes a folder with everything in it.
bool FileExists(const WideString& path) {
    const DWORD attributes = GetFileAttributesW(path.Text());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileHandle CreateOutputFile(const WideString& path) {
    auto create = [&path] {
        return FileHandle(
            CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    FileHandle file = create();
    // A read-only, hidden or protected file refuses CREATE_ALWAYS; it is removed and created anew once.
    if (!file && FileExists(path)) {
        ForceDelete(path.Text(), kDeleteResetSecurity);
        file = create();
    }
    return file;
}

bool WriteEntries(HANDLE file, std::vector<IconEntry>& entries) {
    const IconDirectoryHeader header = {0, 1, static_cast<uint16_t>(entries.size())};
    if (!WriteAll(file, &header, sizeof(header))) return false;
    uint32_t offset = static_cast<uint32_t>(sizeof(header) + sizeof(IconDirectoryEntry) * entries.size());
    for (IconEntry& entry : entries) {
        entry.directory.imageOffset = offset;
        if (!WriteAll(file, &entry.directory, sizeof(entry.directory))) return false;
        offset += entry.directory.bytesInResource;
    }
    for (const IconEntry& entry : entries) {
        if (entry.IsBitmap() && !WriteAll(file, &entry.header, sizeof(entry.header))) return false;
        if (!WriteAll(file, entry.data.data(), entry.data.size())) return false;
    }
    return true;
}

// The picture is encoded in memory and written like an icon: the imaging library's own file save reports success
// under Wine even when the disk refused part of the file, which would leave a truncated picture behind.
bool WritePngFile(const IconSource& source, const SizeList& sizes, const WideString& path, int32_t index,
                  IconJobFlags flags, const WideString& fallback, DecodedPicture& picture) {
    if (sizes.empty()) return false;
    WorkingImage image = LoadIconImage(source, sizes.back(), flags, fallback, index, &picture);
    picture.Release();
    std::vector<uint8_t> png;
    if (!image || !EncodePng(image, png)) return false;
    FileHandle file = CreateOutputFile(path);
    if (!file) return false;
    if (!WriteAll(file.Get(), png.data(), png.size())) {
        file.Reset();
        DeleteFileW(path.Text());
        return false;
    }
    return true;
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

bool EnsureOutputExtension(WideString& path, IconJobFlags flags) {
    const wchar_t* wanted = (flags & kPngs) ? L".png" : L".ico";
    WideString extension = path.Extension(true);
    const bool hasExtension = !extension.IsEmpty();
    if (hasExtension && extension.EqualsIgnoreCase(wanted)) return true;
    if (hasExtension) path.DropRight(extension.Length());
    path.Append(wanted);
    return true;
}

bool PrepareIconEntry(WorkingImage image, IconEntry& entry, IconJobFlags flags) {
    if (!image) return false;
    if (IsPngEntry(entry.width, flags)) return PreparePngEntry(image, entry);
    return PrepareBitmapEntry(image, entry);
}

bool WriteIconFile(const IconSource& source, const SizeList& sizes, const WideString& outputPath, int32_t index,
                   IconJobFlags flags, const WideString& fallback, DecodedPicture* picture) {
    // One decode of a picture source serves every size of this file.
    DecodedPicture localPicture(sizes, flags);
    DecodedPicture& decoded = picture ? *picture : localPicture;
    if (flags & kPngs) return WritePngFile(source, sizes, outputPath, index, flags, fallback, decoded);
    if (sizes.empty() || sizes.size() > 0xFFFF) return false;

    std::vector<IconEntry> entries(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        entries[i].width = sizes[i];
        entries[i].height = sizes[i];
        WorkingImage image = LoadIconImage(source, sizes[i], flags, fallback, index, &decoded);
        if (!image || !PrepareIconEntry(std::move(image), entries[i], flags)) return false;
    }
    decoded.Release();

    FileHandle file = CreateOutputFile(outputPath);
    if (!file) return false;
    if (!WriteEntries(file.Get(), entries)) {
        // A short write (disk full) must not leave a truncated icon behind.
        file.Reset();
        DeleteFileW(outputPath.Text());
        return false;
    }
    // Closed before the shell hears of it, so that nothing reads a file still held without sharing.
    file.Reset();
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, outputPath.Text(), nullptr);
    SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, outputPath.Text(), nullptr);
    return true;
}
