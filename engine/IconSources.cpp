#include "engine/IconSources.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/FileStructure.h"
#include "engine/JpegDecoder.h"
#include "engine/WindowIcons.h"
#include "sys/DynamicCalls.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"
#include "sys/ShortcutReader.h"
#include "sys/SystemFolders.h"
#include "sys/TempFiles.h"

namespace {

constexpr int kPathUnits = 2048;
// A shortcut may point at another shortcut; a chain this long is a loop.
constexpr int kMaxShortcutHops = 8;

// Writes a text back into the resolver's path, cut to the size of the shell's buffers.
void SetResolvedPath(WideString& path, const wchar_t* text) {
    path = text;
    path.TruncateTo(kPathUnits - 1);
}

// Items that only exist in the 64-bit program folder are often recorded under "Program Files (x86)".
void CorrectProgramFiles(WideString& path) {
    static constexpr wchar_t kX86Folder[] = L"C:\\Program Files (x86)\\";
    static constexpr int kX86FolderUnits = 22;  // up to, not including, the last backslash
    if (FileExists(path.Text(), true) || !path.StartsWith(kX86Folder, false)) return;
    WideString corrected = WideString::Concat(L"C:\\Program Files", path.Text() + kX86FolderUnits);
    if (FileExists(corrected.Text(), true)) path = corrected;
}

HICON ShellExtractIcon(const WideString& path, int32_t index, int size) {
    HICON icon = nullptr;
    if (!ShellDefaultExtractIcon(path.Text(), index, static_cast<UINT>(size & 0xFFFF), &icon, nullptr)) return nullptr;
    return icon;
}

struct GroupSearch {
    int32_t counter = 0;
    int32_t wanted = 0;
    WideString name;
    WORD id = 0;
    bool found = false;
};

BOOL CALLBACK FindGroupByPosition(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR parameter) {
    auto* search = reinterpret_cast<GroupSearch*>(parameter);
    if (search->counter != search->wanted) {
        ++search->counter;
        return TRUE;
    }
    if (IS_INTRESOURCE(name))
        search->id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
    else
        search->name = name;
    search->found = true;
    return FALSE;
}

HICON LoadGroupByPosition(const WideString& path, int32_t index, int width, int height, const WideString& fallback) {
    ModuleHandle module(LoadLibraryExW(path.Text(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return nullptr;
    HICON icon = nullptr;
    GroupSearch search;
    search.wanted = index;
    if (index >= 0) {
        EnumResourceNamesW(module.Get(), RT_GROUP_ICON, FindGroupByPosition, reinterpret_cast<LONG_PTR>(&search));
    }
    if (search.found) {
        const wchar_t* name = search.name.IsEmpty() ? MAKEINTRESOURCEW(search.id) : search.name.Text();
        icon = static_cast<HICON>(LoadImageW(module.Get(), name, IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
    }
    if (!icon && !fallback.IsEmpty() && IconGroupSound(fallback.Text(), 0)) {
        std::vector<wchar_t> buffer(kPathUnits, 0);
        lstrcpynW(buffer.data(), fallback.Text(), kPathUnits);
        WORD iconIndex = 0;
        icon = ExtractAssociatedIconW(GetModuleHandleW(nullptr), buffer.data(), &iconIndex);
    }
    return icon;
}

// The icon's own pixels, stretched when its size differs from the one asked for; at its own size it is unchanged.
WorkingImage ImageFromIcon(HICON icon, int width, int height) {
    WorkingImage own = ImageFromIconHandle(icon);
    if (!own || (own.Width() == width && own.Height() == height)) return own;
    return ScaleImage(own, width, height, 0);
}

// Asks the shell folder of the item for the location of the icon it shows (open icon, for the shell).
bool AskShellForIconLocation(WideString& path, int32_t& index) {
    // A folder written as "C:\dir\" is the item "dir" of "C:\", not an empty name inside it.
    WideString item(path);
    while (item.Length() > 1 && item.EndsWith(L"\\", true))
        item.DropRight(1);
    const int lastSeparator = item.Find(L"\\", true, -1);
    if (lastSeparator <= 0 || lastSeparator >= item.Length()) return false;
    WideString folderPath(item);
    folderPath.TruncateTo(lastSeparator - 1);
    if (folderPath.Length() == 2) folderPath.Append(L"\\");  // a drive root is "C:\", not "C:"
    WideString name(item.Text() + lastSeparator);

    // COM for the shell's folder objects on whichever thread resolves.
    ComScope com;
    const auto createFromPath = Dynamic().ilCreateFromPath;
    if (!createFromPath) return false;
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.Receive()))) return false;
    ItemIdListHandle folderList(createFromPath(folderPath.Text()));
    if (!folderList.Get()) return false;
    ComPtr<IShellFolder> folder;
    if (FAILED(desktop->BindToObject(folderList.Get(), nullptr, IID_IShellFolder, folder.ReceiveVoid()))) return false;
    ItemIdListHandle child;
    if (FAILED(folder->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name.Text()), nullptr, child.Receive(),
                                        nullptr)))
        return false;
    ComPtr<IExtractIconW> extractor;
    PCUITEMID_CHILD children[] = {child.Get()};
    if (FAILED(folder->GetUIObjectOf(nullptr, 1, children, IID_IExtractIconW, nullptr, extractor.ReceiveVoid())))
        return false;
    std::vector<wchar_t> buffer(kPathUnits, 0);
    int iconIndex = 0;
    UINT resultFlags = 0;
    if (FAILED(extractor->GetIconLocation(GIL_OPENICON | GIL_FORSHELL, buffer.data(), kPathUnits, &iconIndex,
                                          &resultFlags)) ||
        (resultFlags & GIL_NOTFILENAME))
        return false;
    buffer[kPathUnits - 1] = 0;
    // Some shells answer S_OK with no location at all (a folder whose desktop.ini names an icon file, under
    // Wine); that names no file, so the last resorts must still get their turn.
    if (buffer[0] == 0) return false;
    SetResolvedPath(path, buffer.data());
    index = iconIndex;
    return true;
}

bool ResolveShortcut(WideString& path, int32_t& index, int hops);

bool Resolve(WideString& path, int32_t& index, int hops) {
    const bool exists = FileExists(path.Text(), true);
    const bool isFolder = IsRealFolder(path.Text());
    const WideString extension = path.Extension(true);

    if (!isFolder) {
        for (const wchar_t* own : {L".exe", L".com", L".dll", L".ocx", L".scr", L".ico"}) {
            if (extension.EqualsIgnoreCase(own)) return true;
        }
        // A missing shortcut is not opened: the reader would save an empty one in its place.
        if (extension.EqualsIgnoreCase(L".lnk") && exists && hops < kMaxShortcutHops)
            return ResolveShortcut(path, index, hops);
        if (extension.EqualsIgnoreCase(L".url")) {
            std::vector<wchar_t> buffer(kPathUnits, 0);
            DWORD units = kPathUnits;
            if (SUCCEEDED(AssocQueryStringW(0, ASSOCSTR_DEFAULTICON, L".url", nullptr, buffer.data(), &units))) {
                WideString location(buffer.data());
                SplitIconLocation(location, index);
                SetResolvedPath(path, location.Text());
                return true;
            }
            units = kPathUnits;
            if (SUCCEEDED(AssocQueryStringW(ASSOCF_REMAPRUNDLL, ASSOCSTR_EXECUTABLE, L".url", nullptr, buffer.data(),
                                            &units)) &&
                FileExists(buffer.data(), true)) {
                SetResolvedPath(path, buffer.data());
                return true;
            }
        }
    }

    if (AskShellForIconLocation(path, index)) return true;

    if (isFolder || extension.IsEmpty()) {
        WideString system;
        system.SetSpecialFolder(CSIDL_SYSTEM);
        system.StripTrailingBackslashes();
        SetResolvedPath(path, WideString::Concat(system, L"\\Shell32.dll").Text());
        return true;
    }
    std::vector<wchar_t> executable(1024, 0);
    if (reinterpret_cast<INT_PTR>(FindExecutableW(path.Text(), nullptr, executable.data())) > 32) {
        SetResolvedPath(path, executable.data());
        return true;
    }
    return false;
}

bool ResolveShortcut(WideString& path, int32_t& index, int hops) {
    ShortcutReader reader;
    reader.Open(path.Text());
    int shortcutIndex = 0;
    WideString iconFile = reader.IconLocation(shortcutIndex);
    iconFile.TruncateTo(1024);
    iconFile.ExpandEnvironment();
    CorrectProgramFiles(iconFile);
    if (!iconFile.IsEmpty() && FileExists(iconFile.Text(), true)) {
        index = shortcutIndex;
        SetResolvedPath(path, iconFile.Text());
        return true;
    }
    WideString target = reader.TargetPath();
    target.TruncateTo(MAX_PATH);
    target.ExpandEnvironment();
    CorrectProgramFiles(target);
    index = 0;
    SetResolvedPath(path, target.Text());
    return Resolve(path, index, hops + 1);
}

}  // namespace

// The number is read here: the platform's parser reads "x.dll, 3" (a space after the comma) as 0 and wraps numbers
// beyond 32 bits. Wine's PathParseIconLocationW also cuts at the first comma, which would drop the rest of a path
// through a folder such as "Smith, J", so it only unquotes the path part, with every comma hidden behind a unit no
// file name can hold.
bool SplitIconLocation(WideString& location, int32_t& index) {
    constexpr wchar_t kHiddenComma = L'\x1';
    index = 0;
    std::vector<wchar_t> buffer(location.Text(), location.Text() + location.Length() + 1);
    const int last = location.Find(L",", true, -1);
    const wchar_t* rest = last > 0 ? location.Text() + last : L"";
    while (*rest == L' ')
        ++rest;
    const bool negative = *rest == L'-';
    if (*rest == L'-' || *rest == L'+') ++rest;
    // The number must end the text: "Photos, 2020\icons.dll" is a path through a folder, not index 2020.
    const wchar_t* digits = rest;
    // Digits beyond the range are still read, so that the number ends where they end; the value is then held at
    // one past the range.
    constexpr int64_t kPastRange = int64_t(INT32_MAX) + 2;
    int64_t value = 0;
    for (; *rest >= L'0' && *rest <= L'9'; ++rest)
        value = std::min(value * 10 + (*rest - L'0'), kPastRange);
    while (*rest == L' ')
        ++rest;
    const bool numbered = rest != digits && *rest == 0;
    if (numbered) buffer[static_cast<size_t>(last - 1)] = 0;
    for (wchar_t& unit : buffer)
        if (unit == L',') unit = kHiddenComma;
    PathParseIconLocationW(buffer.data());
    for (wchar_t& unit : buffer)
        if (unit == kHiddenComma) unit = L',';
    location = buffer.data();
    if (!numbered) return true;
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    index = static_cast<int32_t>(value);
    return true;
}

ScaleSource* DecodedPicture::Get(const wchar_t* path) {
    if (!tried_) {
        tried_ = true;
        isPicture_ = DecodePictureFile(path, sizes_, flags_, source_) != PictureDecode::NotPicture;
    }
    return source_.Valid() ? &source_ : nullptr;
}

WorkingImage LoadIconImage(const IconSource& source, int size, IconJobFlags flags, const WideString& fallback,
                           int32_t index, DecodedPicture* cache) {
    if (size <= 0) return WorkingImage();
    if (flags & kFromResource) {
        if (source.library) {
            if (WorkingImage own = source.library->GroupImage(index, size)) return own;
            const IconHandle icon(source.library->GroupIcon(index, size, size));
            if (icon) return ImageFromIcon(icon.Get(), size, size);
        }
        return ExtractResourceIcon(source.path, index, size, size, fallback);
    }
    if (flags & kFromWindow) return LoadWindowIconImage(source.smallIcon, source.largeIcon, size, flags);
    DecodedPicture local(SizeList{size}, flags);
    ScaleSource* picture = (cache ? cache : &local)->Get(source.path.Text());
    if (!picture) return WorkingImage();
    return ScaleImage(*picture, size, size, flags);
}

bool ShellDefaultExtractIcon(const wchar_t* path, int32_t index, UINT sizes, HICON* large, HICON* small) {
    const auto extract = Dynamic().shDefExtractIcon;
    return extract && extract(path, index, 0, large, small, sizes) == S_OK;
}

WorkingImage ExtractResourceIcon(const WideString& path, int32_t index, int width, int height,
                                 const WideString& fallback) {
    // The shell's extractor and the loader trust the file's resource tree and icon directories.
    if (!IconGroupSound(path.Text(), index)) return WorkingImage();
    IconHandle icon(ShellExtractIcon(path, index, width));
    if (!icon && width >= 48) {
        const int standard = width >= 128 ? 128 : width >= 96 ? 96 : 48;
        icon.Reset(ShellExtractIcon(path, index, standard));
    }
    if (!icon) icon.Reset(LoadGroupByPosition(path, index, width, height, fallback));
    if (!icon) return WorkingImage();
    return ImageFromIcon(icon.Get(), width, height);
}

bool ResolveIconSource(WideString& path, int32_t& index) {
    return Resolve(path, index, 0);
}

bool IsReadableSource(const WideString& path) {
    return IsRealFolder(path.Text(), true) || IsReadableDiskFile(path.Text());
}

WideString ShellIconFile(const WideString& source, int32_t& index) {
    WideString resolved(source);
    index = 0;
    ResolveIconSource(resolved, index);
    // The shell names system files as a 64-bit process sees them; a 32-bit one reaches them under other names.
    if (!FileExists(resolved.Text(), true)) MapSystemFoldersOfThisProcess(resolved);
    return resolved;
}
