#include "engine/FolderIcon.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <vector>

#include "engine/IconJobFlags.h"
#include "engine/IconSources.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"
#include "sys/IconCache.h"
#include "sys/TextFile.h"

namespace {

constexpr wchar_t kClassInfo[] = L".ShellClassInfo";
constexpr wchar_t kBackupSection[] = L"Glyphwright.default";
constexpr DWORD kSectionUnits = 30000;
constexpr DWORD kValueUnits = 2048;
// A section text of 20 units or less cannot hold a useful icon setting.
constexpr DWORD kMinSectionUnits = 21;
// desktop.ini may be anything a user put there; a larger file is not snapshotted and the folder is left alone.
constexpr DWORD kMaxIniBytes = 4 * 1024 * 1024;

const IID kShellItem2Interface = {0x7E9FB0D3, 0x919F, 0x4307, {0xAB, 0x2E, 0x9B, 0x18, 0x60, 0x31, 0x0C, 0x93}};

WideString FolderPath(const WideString& folder) {
    WideString path(folder);
    path.StripTrailingBackslashes();
    return path;
}

// A profile section as the platform returns it: key=value lines, each ended by a zero unit, and one more zero.
struct SectionText {
    std::vector<wchar_t> units = std::vector<wchar_t>(kSectionUnits, L'\0');
    DWORD length = 0;
};

SectionText ReadSection(const WideString& ini, const wchar_t* section) {
    SectionText text;
    text.length = GetPrivateProfileSectionW(section, text.units.data(), kSectionUnits, ini.Text());
    return text;
}

WideString ReadValue(const WideString& ini, const wchar_t* section, const wchar_t* key) {
    std::vector<wchar_t> buffer(kValueUnits, L'\0');
    GetPrivateProfileStringW(section, key, nullptr, buffer.data(), kValueUnits, ini.Text());
    return WideString(buffer.data());
}

// The platform may keep a profile file's text cached; written out before the file is touched directly.
void FlushProfile(const WideString& ini) {
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.Text());
}

// True when an icon location (path with an optional ",index") is the folder's own Folder.ico.
bool IsOwnIcon(const WideString& location, const WideString& folder) {
    WideString path(location);
    SplitIconLocation(path);
    path.Trim();
    if (path.EqualsIgnoreCase(L"Folder.ico")) return true;
    const WideString own = WideString::Concat(folder, L"\\Folder.ico");
    return path.EqualsIgnoreCase(own.Text());
}

// A desktop.ini that is hidden or a system file cannot be rewritten by the profile functions on every platform;
// its attributes are cleared for the writes and put back afterwards when the file is still there.
class WritableFile {
public:
    explicit WritableFile(const WideString& path) : path_(path), attributes_(GetFileAttributesW(path.Text())) {
        if (attributes_ != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path_.Text(), FILE_ATTRIBUTE_NORMAL);
    }
    ~WritableFile() {
        if (attributes_ != INVALID_FILE_ATTRIBUTES && FileExists(path_.Text(), true))
            SetFileAttributesW(path_.Text(), attributes_);
    }
    WritableFile(const WritableFile&) = delete;
    WritableFile& operator=(const WritableFile&) = delete;

private:
    WideString path_;
    DWORD attributes_;
};

bool ReadWholeFile(const WideString& path, std::vector<uint8_t>& bytes) {
    FileHandle file(CreateFileW(path.Text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const DWORD size = GetFileSize(file.Get(), nullptr);
    if (size == INVALID_FILE_SIZE || size > kMaxIniBytes) return false;
    bytes.resize(size);
    DWORD read = 0;
    return size == 0 || (ReadFile(file.Get(), bytes.data(), size, &read, nullptr) && read == size);
}

bool WriteWholeFile(const WideString& path, const std::vector<uint8_t>& bytes) {
    FileHandle file(CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(bytes.size());
    return size == 0 || (WriteFile(file.Get(), bytes.data(), size, &written, nullptr) && written == size);
}

// What setting an icon may change in a folder, recorded before the first change so that a failure can put the
// folder back as it was: desktop.ini's bytes and attributes, the folder's attributes (its system mark) and an
// earlier Folder.ico, which is renamed aside rather than deleted until the new one is in place.
class FolderState {
public:
    FolderState(const WideString& folder, const WideString& ini, const WideString& icon)
        : folder_(folder), ini_(ini), icon_(icon) {}
    FolderState(const FolderState&) = delete;
    FolderState& operator=(const FolderState&) = delete;

    // False when the state cannot be recorded; nothing has been changed then.
    bool Record(const WideString& asidePath) {
        folderAttributes_ = GetFileAttributesW(folder_.Text());
        if (folderAttributes_ == INVALID_FILE_ATTRIBUTES) return false;
        iniAttributes_ = GetFileAttributesW(ini_.Text());
        if (iniAttributes_ != INVALID_FILE_ATTRIBUTES && !ReadWholeFile(ini_, iniBytes_)) return false;
        aside_ = asidePath;
        return true;
    }

    // Renames an existing Folder.ico aside. True when there was none or it moved.
    bool MoveIconAside() {
        if (!FileExists(icon_.Text(), true)) return true;
        if (!MoveFileExW(icon_.Text(), aside_.Text(), 0)) return false;
        iconAside_ = true;
        return true;
    }

    void NewIconPlaced() { newIconPlaced_ = true; }

    // The change went through: the earlier Folder.ico is no longer needed.
    void Commit() {
        if (iconAside_) ForceDelete(aside_.Text(), kDeleteResetSecurity);
        iconAside_ = false;
    }

    // Puts back everything recorded.
    void Restore() {
        FlushProfile(ini_);
        if (FileExists(ini_.Text(), true)) SetFileAttributesW(ini_.Text(), FILE_ATTRIBUTE_NORMAL);
        if (iniAttributes_ == INVALID_FILE_ATTRIBUTES) {
            DeleteFileW(ini_.Text());
        } else {
            std::vector<uint8_t> now;
            if (!ReadWholeFile(ini_, now) || now != iniBytes_) WriteWholeFile(ini_, iniBytes_);
            SetFileAttributesW(ini_.Text(), iniAttributes_);
        }
        if (newIconPlaced_) {
            SetFileAttributesW(icon_.Text(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(icon_.Text());
        }
        if (iconAside_ && MoveFileExW(aside_.Text(), icon_.Text(), 0)) iconAside_ = false;
        SetFileAttributesW(folder_.Text(), folderAttributes_);
    }

private:
    WideString folder_;
    WideString ini_;
    WideString icon_;
    WideString aside_;
    DWORD folderAttributes_ = INVALID_FILE_ATTRIBUTES;
    DWORD iniAttributes_ = INVALID_FILE_ATTRIBUTES;
    std::vector<uint8_t> iniBytes_;
    bool iconAside_ = false;
    bool newIconPlaced_ = false;
};

// A name in the folder for a file of this run; the suffix keeps the extension the icon writer insists on.
WideString RunFileName(const WideString& folder, const wchar_t* suffix) {
    return WideString::Concat(folder, L"\\Folder.ico.", WideString::FromUInt(GetCurrentProcessId()), L"-",
                              WideString::FromUInt(GetTickCount()), suffix);
}

bool MakeFolderIcon(const WideString& source, int32_t index, const WideString& output) {
    const SizeList sizes = {16, 32, 48, 256};
    const IconJobFlags flags = kPngc | kCenter;
    if (index < 0) return MakeIconFromFile(source, output, sizes, flags);
    return MakeIconFromResource(source, index, output, sizes, flags);
}

// The steps after the new icon exists; false at the first one that fails.
bool PointFolderAtIcon(const WideString& folder, const WideString& ini, const WideString& icon, const WideString& fresh,
                       FolderState& state) {
    if (FileExists(ini.Text(), true)) {
        SetFileAttributesW(ini.Text(), FILE_ATTRIBUTE_NORMAL);
    } else {
        // The profile functions would create an ANSI file; a UTF-16 one keeps any text.
        TextFile created(ini.Text(), TextFile::kCreate | TextFile::kUtf16);
        if (!created.IsOpen()) return false;
    }
    BackupDefaultIcon(folder);
    PathUnmakeSystemFolderW(folder.Text());

    if (!state.MoveIconAside()) return false;
    if (!MoveFileExW(fresh.Text(), icon.Text(), 0)) return false;
    state.NewIconPlaced();

    if (!WritePrivateProfileStringW(kClassInfo, L"IconFile", icon.Text(), ini.Text())) return false;
    if (!WritePrivateProfileStringW(kClassInfo, L"IconIndex", L"0", ini.Text())) return false;
    WritePrivateProfileStringW(kClassInfo, L"IconResource", nullptr, ini.Text());
    FlushProfile(ini);
    SetFileAttributesW(ini.Text(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW(icon.Text(), FILE_ATTRIBUTE_HIDDEN);
    PathMakeSystemFolderW(folder.Text());
    return true;
}

// True when any section of the file still holds a line.
bool HoldsAnySetting(const WideString& ini) {
    std::vector<wchar_t> names(kSectionUnits, L'\0');
    const DWORD length = GetPrivateProfileSectionNamesW(names.data(), kSectionUnits, ini.Text());
    for (DWORD at = 0; at < length && names[at] != L'\0';) {
        const wchar_t* name = names.data() + at;
        if (ReadSection(ini, name).length > 0) return true;
        at += static_cast<DWORD>(wcslen(name)) + 1;
    }
    return false;
}

}  // namespace

void BackupDefaultIcon(const WideString& folder) {
    const WideString path = FolderPath(folder);
    const WideString ini = WideString::Concat(path, L"\\desktop.ini");
    // An existing copy is never overwritten: it holds the settings from before the first change.
    if (ReadSection(ini, kBackupSection).length >= kMinSectionUnits) return;

    const WideString resource = ReadValue(ini, kClassInfo, L"IconResource");
    const WideString file = ReadValue(ini, kClassInfo, L"IconFile");
    const bool namesOtherIcon =
        (!resource.IsEmpty() && !IsOwnIcon(resource, path)) || (!file.IsEmpty() && !IsOwnIcon(file, path));
    if (!namesOtherIcon) return;

    const SectionText section = ReadSection(ini, kClassInfo);
    if (section.length < kMinSectionUnits) return;
    WritableFile writable(ini);
    WritePrivateProfileSectionW(kBackupSection, section.units.data(), ini.Text());
    FlushProfile(ini);
}

bool SetFolderIcon(const WideString& folder, const WideString& source, int32_t index) {
    const WideString path = FolderPath(folder);
    if (!IsRealFolder(path.Text(), true)) return false;
    const WideString icon = WideString::Concat(path, L"\\Folder.ico");
    const WideString ini = WideString::Concat(path, L"\\desktop.ini");

    // The new icon is made under another name first, so that a source that fails changes nothing.
    const WideString fresh = RunFileName(path, L".new.ico");
    if (!MakeFolderIcon(source, index, fresh)) {
        DeleteFileW(fresh.Text());
        return false;
    }

    FolderState state(path, ini, icon);
    if (!state.Record(RunFileName(path, L".old")) || !PointFolderAtIcon(path, ini, icon, fresh, state)) {
        state.Restore();
        DeleteFileW(fresh.Text());
        return false;
    }
    state.Commit();
    RefreshFolder(path);
    return true;
}

bool ResetFolderIcon(const WideString& folder) {
    const WideString path = FolderPath(folder);
    const WideString ini = WideString::Concat(path, L"\\desktop.ini");
    const SectionText backup = ReadSection(ini, kBackupSection);
    if (backup.length < kMinSectionUnits) {
        bool keepFile = false;
        if (FileExists(ini.Text(), true)) {
            WritableFile writable(ini);
            WritePrivateProfileStringW(kClassInfo, L"IconFile", nullptr, ini.Text());
            WritePrivateProfileStringW(kClassInfo, L"IconIndex", nullptr, ini.Text());
            FlushProfile(ini);
            keepFile = HoldsAnySetting(ini);
        }
        // Other settings in the file only work in a system folder, so the mark stays with them.
        if (!keepFile) {
            ForceDelete(ini.Text(), kDeleteResetSecurity);
            PathUnmakeSystemFolderW(path.Text());
        }
    } else {
        WritableFile writable(ini);
        WritePrivateProfileStringW(kClassInfo, nullptr, nullptr, ini.Text());
        WritePrivateProfileSectionW(kClassInfo, backup.units.data(), ini.Text());
        FlushProfile(ini);
        PathMakeSystemFolderW(path.Text());
    }
    RefreshFolder(path);
    return true;
}

void RefreshFolder(const WideString& folder) {
    {
        ComPtr<IShellItem2> item;
        if (SUCCEEDED(SHCreateItemFromParsingName(folder.Text(), nullptr, kShellItem2Interface, item.ReceiveVoid())) &&
            item)
            item->Update(nullptr);
    }
    SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, folder.Text(), nullptr);
    RefreshShellViews();
}
