#include "engine/IconLibrary.h"

#include <array>
#include <cstring>

#include "engine/FileStructure.h"

namespace {

BOOL CALLBACK CollectGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
    try {
        IconLibrary::GroupName group;
        if (IS_INTRESOURCE(name))
            group.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
        else
            group.name = name;
        reinterpret_cast<std::vector<IconLibrary::GroupName>*>(list)->push_back(group);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

// A resource's bytes inside the mapped file; empty when it is missing.
struct ResourceBytes {
    const uint8_t* data = nullptr;
    DWORD size = 0;
};

ResourceBytes FindBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    ResourceBytes bytes;
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return bytes;
    HGLOBAL loaded = LoadResource(module, found);
    bytes.data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    bytes.size = bytes.data ? SizeofResource(module, found) : 0;
    return bytes;
}

// A group directory whose entries lie inside its block: the lookup reads as many entries as the count says.
bool GroupDirectorySound(const ResourceBytes& group) {
    if (group.size < 6) return false;
    const uint32_t count = group.data[4] | group.data[5] << 8;
    return count > 0 && 6 + 14ull * count <= group.size;
}

uint32_t Little32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// Straight BGRA pixels, rows top-down, of a bitmap entry of size x size (colour rows and AND mask, bottom-up, after a
// 40-byte header). Empty for any other layout, which the system's own icon reading handles instead.
std::vector<uint32_t> DecodeBitmapEntry(const uint8_t* entry, DWORD bytes, int size) {
    if (!entry || bytes < sizeof(BITMAPINFOHEADER)) return {};
    BITMAPINFOHEADER header;
    std::memcpy(&header, entry, sizeof(header));
    const int bits = header.biBitCount;
    if (header.biSize != sizeof(BITMAPINFOHEADER) || header.biWidth != size || header.biHeight != 2 * size ||
        header.biPlanes != 1 || header.biCompression != BI_RGB || (bits != 4 && bits != 8 && bits != 24 && bits != 32))
        return {};
    const uint64_t colours = bits > 8 ? 0 : header.biClrUsed ? header.biClrUsed : 1u << bits;
    if (colours > (1u << bits)) return {};
    const uint64_t colourStride = (static_cast<uint64_t>(size) * bits + 31) / 32 * 4;
    const uint64_t maskStride = (static_cast<uint64_t>(size) + 31) / 32 * 4;
    const uint64_t paletteAt = sizeof(BITMAPINFOHEADER);
    const uint64_t colourAt = paletteAt + colours * 4;
    const uint64_t maskAt = colourAt + colourStride * size;
    if (maskAt + maskStride * size > bytes) return {};

    std::vector<uint32_t> pixels(static_cast<size_t>(size) * size);
    bool alpha = false;
    for (int y = 0; y < size; ++y) {
        const uint8_t* row = entry + colourAt + colourStride * static_cast<uint64_t>(size - 1 - y);
        uint32_t* out = pixels.data() + static_cast<size_t>(y) * size;
        for (int x = 0; x < size; ++x) {
            uint32_t value = 0;
            if (bits == 32) {
                value = Little32(row + 4 * x);
            } else if (bits == 24) {
                value = row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
            } else {
                const unsigned index = bits == 8 ? row[x] : (row[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F;
                // An index past the palette reads as black, as the system draws it.
                if (index < colours) value = Little32(entry + paletteAt + 4 * index) & 0x00FFFFFFu;
            }
            alpha = alpha || (value >> 24) != 0;
            out[x] = value;
        }
    }
    // Without an alpha channel the icon is drawn through its AND mask: opaque where the mask is clear.
    if (!alpha) {
        for (int y = 0; y < size; ++y) {
            const uint8_t* mask = entry + maskAt + maskStride * static_cast<uint64_t>(size - 1 - y);
            uint32_t* out = pixels.data() + static_cast<size_t>(y) * size;
            for (int x = 0; x < size; ++x) {
                const bool transparent = (mask[x / 8] >> (7 - (x & 7))) & 1;
                out[x] = (out[x] & 0x00FFFFFFu) | (transparent ? 0u : 0xFF000000u);
            }
        }
    }
    return pixels;
}

uint32_t Big32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | at[1] << 16 | at[2] << 8 | at[3];
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

// The length up to the end of IEND of a PNG stream of size x size, not interlaced, in one of the colour types and
// depths every PNG reader takes, whose chunks all carry their checksums; 0 for anything else. Such a stream decodes to
// exactly the pixels a new encoding of it would hold, so it can be stored as it is.
size_t PngStreamLength(const uint8_t* entry, DWORD bytes, int size) {
    if (!entry || bytes < 33 || std::memcmp(entry, "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) != 0) return 0;
    const unsigned depth = entry[24], type = entry[25];
    const bool known = (type == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
                       (type == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
                       ((type == 2 || type == 4 || type == 6) && (depth == 8 || depth == 16));
    if (Big32(entry + 16) != static_cast<uint32_t>(size) || Big32(entry + 20) != static_cast<uint32_t>(size) ||
        !known || entry[26] != 0 || entry[27] != 0 || entry[28] != 0)
        return 0;
    size_t at = 8;
    while (at + 12 <= bytes) {
        const uint32_t chunk = Big32(entry + at);
        if (chunk > bytes - at - 12) return 0;
        if (Crc32(entry + at + 4, chunk + 4) != Big32(entry + at + 8 + chunk)) return 0;
        const bool end = std::memcmp(entry + at + 4, "IEND", 4) == 0;
        at += 12 + chunk;
        if (end) return at;
    }
    return 0;
}

}  // namespace

IconLibrary::IconLibrary(const WideString& path) {
    module_.Reset(LoadLibraryExW(path.Text(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    if (!module_) module_.Reset(LoadLibraryExW(path.Text(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (module_) EnumResourceNamesW(module_.Get(), RT_GROUP_ICON, CollectGroup, reinterpret_cast<LONG_PTR>(&groups_));
}

const uint8_t* IconLibrary::ChosenEntry(int32_t index, int width, int height, DWORD& size) const {
    size = 0;
    if (!module_ || index < 0 || index >= GroupCount() || width <= 0 || height <= 0) return nullptr;
    const GroupName& group = groups_[static_cast<size_t>(index)];
    const ResourceBytes directory =
        FindBytes(module_.Get(), group.name.IsEmpty() ? MAKEINTRESOURCEW(group.id) : group.name.Text(), RT_GROUP_ICON);
    if (!GroupDirectorySound(directory)) return nullptr;
    // The system's own choice of entry for the size, as the shell's extractor asks for it.
    // https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-lookupiconidfromdirectoryex
    const int id = LookupIconIdFromDirectoryEx(const_cast<PBYTE>(directory.data), TRUE, width, height, LR_DEFAULTCOLOR);
    if (id <= 0 || id > 0xFFFF) return nullptr;
    const ResourceBytes image = FindBytes(module_.Get(), MAKEINTRESOURCEW(id), RT_ICON);
    if (!IconImageSound(ByteSpan{image.data, image.size})) return nullptr;
    size = image.size;
    return image.data;
}

HICON IconLibrary::GroupIcon(int32_t index, int width, int height) const {
    DWORD size = 0;
    const uint8_t* entry = ChosenEntry(index, width, height, size);
    if (!entry) return nullptr;
    return CreateIconFromResourceEx(const_cast<PBYTE>(entry), size, TRUE, 0x00030000, width, height, LR_DEFAULTCOLOR);
}

WorkingImage IconLibrary::GroupImage(int32_t index, int size) const {
    DWORD bytes = 0;
    const uint8_t* entry = ChosenEntry(index, size, size, bytes);
    const std::vector<uint32_t> pixels = DecodeBitmapEntry(entry, bytes, size);
    if (pixels.empty()) return WorkingImage();
    return WorkingImageFromPixels(pixels.data(), size, size, PixelFormat32bppARGB);
}

bool IconLibrary::GroupPng(int32_t index, int size, std::vector<uint8_t>& png) const {
    DWORD bytes = 0;
    const uint8_t* entry = ChosenEntry(index, size, size, bytes);
    const size_t length = PngStreamLength(entry, bytes, size);
    if (length == 0) return false;
    png.assign(entry, entry + length);
    return true;
}

bool IsResourceFileName(const WideString& name) {
    const WideString extension = name.Extension(true);
    if (!extension.Ok()) return false;
    for (const wchar_t* resource : {L".exe", L".dll", L".ocx", L".scr", L".cur", L".ani", L".ico"})
        if (extension.EqualsIgnoreCase(resource)) return true;
    return false;
}
