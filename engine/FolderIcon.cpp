#include "engine/FolderIcon.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <new>
#include <vector>

#include "engine/IconJobFlags.h"
#include "engine/IconJob.h"
#include "engine/OutputNaming.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"
#include "sys/IconCache.h"
#include "sys/TextFile.h"

namespace {

constexpr wchar_t kClassInfo[] = L".ShellClassInfo";
constexpr wchar_t kBackupSection[] = L"Glyphwright.default";
// Names the copy of a desktop.ini that was no text, kept byte for byte until the reset puts it back.
constexpr wchar_t kKeptSection[] = L"Glyphwright.original";
constexpr wchar_t kKeptFileKey[] = L"File";
constexpr wchar_t kKeptSystemKey[] = L"SystemFolder";
constexpr DWORD kSectionUnits = 30000;
constexpr DWORD kValueUnits = 2048;
// A section text of 20 units or less cannot hold a useful icon setting.
constexpr DWORD kMinSectionUnits = 21;

const IID kShellItem2Interface = {0x7E9FB0D3, 0x919F, 0x4307, {0xAB, 0x2E, 0x9B, 0x18, 0x60, 0x31, 0x0C, 0x93}};

WideString FolderPath(const WideString& folder) {
    WideString path(folder);
    path.StripTrailingBackslashes();
    return path;
}

// A list the profile functions fill (a section's key=value lines, the section names), each entry ended by a zero
// unit, and one more zero. Read whole: the platform answers size - 2 when the buffer was too small, so the buffer
// grows until the answer fits. Incomplete when the whole list cannot be held.
struct ProfileList {
    std::vector<wchar_t> units;
    DWORD length = 0;
    bool complete = false;
};

template <typename Read>
ProfileList ReadProfileList(Read read) {
    ProfileList list;
    for (DWORD size = kSectionUnits; size <= 0x10000000; size *= 2) {
        try {
            list.units.assign(size, L'\0');
        } catch (const std::bad_alloc&) {
            break;
        }
        list.length = read(list.units.data(), size);
        if (list.length + 2 < size) {
            list.complete = true;
            return list;
        }
    }
    list.units.clear();
    list.length = 0;
    return list;
}

ProfileList ReadSection(const WideString& ini, const wchar_t* section) {
    return ReadProfileList(
        [&](wchar_t* units, DWORD size) { return GetPrivateProfileSectionW(section, units, size, ini.Text()); });
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
    int32_t index = 0;
    SplitIconLocation(path, index);
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
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart >= MAXDWORD) return false;
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    try {
        bytes.resize(length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    DWORD read = 0;
    return length == 0 || (ReadFile(file.Get(), bytes.data(), length, &read, nullptr) && read == length);
}

bool WriteWholeFile(const WideString& path, const std::vector<uint8_t>& bytes) {
    FileHandle file(CreateFileW(path.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(bytes.size());
    return size == 0 || (WriteFile(file.Get(), bytes.data(), size, &written, nullptr) && written == size);
}

// True when the bytes are text the profile functions can keep: UTF-16 behind its mark, or UTF-8 (with or without
// its mark) or ANSI text, without NUL units and control characters other than tab and line ends. Anything else
// would be rewritten by them into something that was never there.
bool IsProfileText(const std::vector<uint8_t>& bytes) {
    const auto plain = [](uint32_t unit) { return unit >= 0x20 || unit == L'\t' || unit == L'\r' || unit == L'\n'; };
    const size_t size = bytes.size();
    const bool littleEndian = size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (littleEndian || (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)) {
        if (size % 2 != 0) return false;
        for (size_t at = 2; at < size; at += 2) {
            const uint32_t unit = littleEndian ? bytes[at] | bytes[at + 1] << 8 : bytes[at] << 8 | bytes[at + 1];
            if (!plain(unit)) return false;
        }
        return true;
    }
    const bool utf8Mark = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
    const size_t start = utf8Mark ? 3 : 0;
    for (size_t at = start; at < size; ++at) {
        if (!plain(bytes[at])) return false;
    }
    if (size == start) return true;
    const char* text = reinterpret_cast<const char*>(bytes.data() + start);
    const int length = static_cast<int>(size - start);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0) > 0) return true;
    return !utf8Mark && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, length, nullptr, 0) > 0;
}

// What setting an icon may change in a folder, recorded before the first change so that a failure can put the
// folder back as it was: desktop.ini's bytes and attributes, the folder's attributes (its system mark) and an
// earlier Folder.ico, which is renamed aside rather than deleted until the new one is in place. A desktop.ini that
// is no text is kept under its backup name for the reset.
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

    bool IniIsText() const { return iniAttributes_ == INVALID_FILE_ATTRIBUTES || IsProfileText(iniBytes_); }
    bool WasSystemFolder() const { return (folderAttributes_ & FILE_ATTRIBUTE_SYSTEM) != 0; }

    // Keeps desktop.ini byte for byte and with its attributes as "desktop (backup).ini" and takes desktop.ini's
    // name away, so that a new file can be written there. False when it could not be kept; nothing changed then.
    bool KeepIniAside() {
        if (!MoveAsideExisting(ini_, kept_)) return false;
        keptIni_ = true;
        // The backup may be a second name of the same file: the name goes, the content stays under the backup.
        SetFileAttributesW(ini_.Text(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(ini_.Text())) return false;
        SetFileAttributesW(kept_.path.Text(), iniAttributes_);
        return true;
    }
    const WideString& KeptIniPath() const { return kept_.path; }

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
        if (keptIni_) {
            SetFileAttributesW(kept_.path.Text(), FILE_ATTRIBUTE_NORMAL);
            FinishOutput(kept_, ini_, false);
            keptIni_ = false;
        }
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
    OutputBackup kept_;
    bool keptIni_ = false;
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
    IconRequest request;
    request.kind = index < 0 ? IconSourceKind::kFile : IconSourceKind::kResource;
    request.sourcePath = source;
    request.iconIndex = index;
    request.sizes = sizes;
    request.flags = flags;
    // A name of this run's own: nothing stands there to keep.
    request.target = output;
    request.targetIsFile = true;
    request.backup = OutputBackupRule::kNever;
    return RunIconJob(request).result.Ok();
}

// A desktop.ini that the profile functions can write: an existing text file with its attributes cleared, or a new
// UTF-16 file (the profile functions would create an ANSI one, which loses text outside the code page). A file that
// is no text is kept aside first and named in the new file, so that the reset can put it back.
bool PrepareIni(const WideString& ini, FolderState& state) {
    const bool exists = FileExists(ini.Text(), true);
    if (exists && state.IniIsText()) return SetFileAttributesW(ini.Text(), FILE_ATTRIBUTE_NORMAL) != 0;
    if (exists && !state.KeepIniAside()) return false;
    {
        TextFile created(ini.Text(), TextFile::kCreate | TextFile::kUtf16);
        if (!created.IsOpen()) return false;
    }
    if (!exists) return true;
    if (!WritePrivateProfileStringW(kKeptSection, kKeptFileKey, state.KeptIniPath().FileName().Text(), ini.Text()) ||
        !WritePrivateProfileStringW(kKeptSection, kKeptSystemKey, state.WasSystemFolder() ? L"1" : L"0", ini.Text()))
        return false;
    FlushProfile(ini);
    return true;
}

// The steps after the new icon exists; false at the first one that fails.
bool PointFolderAtIcon(const WideString& folder, const WideString& ini, const WideString& icon, const WideString& fresh,
                       FolderState& state) {
    if (!PrepareIni(ini, state)) return false;
    if (!BackupDefaultIcon(folder)) return false;
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

// True when any section of the file still holds a line, or when that cannot be told.
bool HoldsAnySetting(const WideString& ini) {
    const ProfileList names = ReadProfileList(
        [&](wchar_t* units, DWORD size) { return GetPrivateProfileSectionNamesW(units, size, ini.Text()); });
    if (!names.complete) return true;
    for (DWORD at = 0; at < names.length && names.units[at] != L'\0';) {
        const wchar_t* name = names.units.data() + at;
        const ProfileList section = ReadSection(ini, name);
        if (!section.complete || section.length > 0) return true;
        at += static_cast<DWORD>(wcslen(name)) + 1;
    }
    return false;
}

// Puts back a desktop.ini that was no text and was kept aside when the icon was set. False when desktop.ini names
// no such copy (so there is nothing of this kind to put back) or when it could not be put back.
bool PutBackKeptIni(const WideString& folder, const WideString& ini, bool& named) {
    const WideString kept = BackupPath(ini);
    named = ReadValue(ini, kKeptSection, kKeptFileKey).EqualsIgnoreCase(kept.FileName().Text()) &&
            FileExists(kept.Text(), false);
    if (!named) return false;
    const bool wasSystem = ReadValue(ini, kKeptSection, kKeptSystemKey).EqualsIgnoreCase(L"1");
    FlushProfile(ini);
    if (ForceDelete(ini.Text(), kDeleteResetSecurity) != kRemoved) return false;
    if (!MoveFileExW(kept.Text(), ini.Text(), 0)) return false;
    if (!wasSystem) PathUnmakeSystemFolderW(folder.Text());
    return true;
}

// Takes out what setting the icon wrote when no earlier settings were saved; desktop.ini goes when nothing else is
// left in it. False when desktop.ini could not be changed.
bool RemoveOwnSettings(const WideString& folder, const WideString& ini) {
    bool keepFile = false;
    if (FileExists(ini.Text(), true)) {
        WritableFile writable(ini);
        if (!WritePrivateProfileStringW(kClassInfo, L"IconFile", nullptr, ini.Text()) ||
            !WritePrivateProfileStringW(kClassInfo, L"IconIndex", nullptr, ini.Text()))
            return false;
        FlushProfile(ini);
        keepFile = HoldsAnySetting(ini);
    }
    // Other settings in the file only work in a system folder, so the mark stays with them.
    if (keepFile) return true;
    if (ForceDelete(ini.Text(), kDeleteResetSecurity) != kRemoved) return false;
    PathUnmakeSystemFolderW(folder.Text());
    return true;
}

// Writes the saved ".ShellClassInfo" lines back in place of the current ones.
bool RestoreSavedSection(const WideString& folder, const WideString& ini, const ProfileList& backup) {
    {
        WritableFile writable(ini);
        if (!WritePrivateProfileStringW(kClassInfo, nullptr, nullptr, ini.Text()) ||
            !WritePrivateProfileSectionW(kClassInfo, backup.units.data(), ini.Text()))
            return false;
        FlushProfile(ini);
    }
    PathMakeSystemFolderW(folder.Text());
    return true;
}

}  // namespace

bool BackupDefaultIcon(const WideString& folder) {
    const WideString path = FolderPath(folder);
    const WideString ini = WideString::Concat(path, L"\\desktop.ini");
    // An existing copy is never overwritten: it holds the settings from before the first change.
    const ProfileList existing = ReadSection(ini, kBackupSection);
    if (!existing.complete) return false;
    if (existing.length >= kMinSectionUnits) return true;

    const WideString resource = ReadValue(ini, kClassInfo, L"IconResource");
    const WideString file = ReadValue(ini, kClassInfo, L"IconFile");
    const bool namesOtherIcon =
        (!resource.IsEmpty() && !IsOwnIcon(resource, path)) || (!file.IsEmpty() && !IsOwnIcon(file, path));
    if (!namesOtherIcon) return true;

    const ProfileList section = ReadSection(ini, kClassInfo);
    if (!section.complete) return false;
    if (section.length < kMinSectionUnits) return true;
    WritableFile writable(ini);
    if (!WritePrivateProfileSectionW(kBackupSection, section.units.data(), ini.Text())) return false;
    FlushProfile(ini);
    return true;
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

    // A folder whose state cannot be recorded is not touched at all: there would be nothing to put back.
    FolderState state(path, ini, icon);
    if (!state.Record(RunFileName(path, L".old"))) {
        DeleteFileW(fresh.Text());
        return false;
    }
    if (!PointFolderAtIcon(path, ini, icon, fresh, state)) {
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
    bool keptNamed = false;
    bool reset = PutBackKeptIni(path, ini, keptNamed);
    if (!keptNamed) {
        const ProfileList backup = ReadSection(ini, kBackupSection);
        if (!backup.complete) {
            reset = false;
        } else if (backup.length < kMinSectionUnits) {
            reset = RemoveOwnSettings(path, ini);
        } else {
            reset = RestoreSavedSection(path, ini, backup);
        }
    }
    RefreshFolder(path);
    return reset;
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
