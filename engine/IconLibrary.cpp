#include "engine/IconLibrary.h"

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

bool IconLibrary::GroupPng(int32_t index, int size, std::vector<uint8_t>& png) const {
    DWORD bytes = 0;
    const uint8_t* entry = ChosenEntry(index, size, size, bytes);
    // Signature, then the IHDR chunk: length 13, width, height, bit depth 8, colour type 6 (RGBA), no interlace.
    if (!entry || bytes < 33 || std::memcmp(entry, "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) != 0) return false;
    const auto be32 = [entry](size_t at) {
        return static_cast<uint32_t>(entry[at]) << 24 | entry[at + 1] << 16 | entry[at + 2] << 8 | entry[at + 3];
    };
    if (be32(16) != static_cast<uint32_t>(size) || be32(20) != static_cast<uint32_t>(size) || entry[24] != 8 ||
        entry[25] != 6 || entry[28] != 0)
        return false;
    png.assign(entry, entry + bytes);
    return true;
}
