#include "sys/FileOperations.h"

#include <aclapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstddef>
#include <vector>

#include "sys/FolderEnumerator.h"
#include "sys/SystemInfo.h"
#include "sys/TokenList.h"

namespace {

// Both mean the object is not there: the file itself, or already one of its parent folders.
bool IsAbsent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A listing that cannot start because nothing matches, or because the folder is gone, leaves nothing to do.
bool IsNothingToList(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES || IsAbsent(error);
}

// No folder by that name at all: missing, or a file. Its listing fails with whatever error the file system picks
// for a path below a file, and nothing below it can be removed.
bool IsNoFolder(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return IsAbsent(GetLastError());
    return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The named security calls resolve a link to its target, so resetting a link's security would hand the target
// (and through inheritance everything below it) to Everyone while the link itself stays as it was.
bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

enum class Target { kFile, kFolder, kFolderLink, kPattern };

}  // namespace

DeleteResult CombineDeleteResults(DeleteResult total, DeleteResult next) {
    if (total == kNotRemoved || next == kNotRemoved) return kNotRemoved;
    if (next == kRemovalScheduled) return kRemovalScheduled;
    return total;
}

SecurityReset::SecurityReset(bool grant, bool inherit) {
    acl_.Reset(LocalAlloc(LPTR, kAclBytes));
    if (!acl_ || !InitializeAcl(Acl(), kAclBytes, ACL_REVISION)) {
        acl_.Reset();
        return;
    }
    if (!grant) {
        complete_ = true;
        return;
    }
    const BYTE inheritance = inherit ? (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) : 0;
    bool complete = AddEntry(WinWorldSid, inheritance);
    complete = AddEntry(WinLocalSystemSid, inheritance) && complete;
    complete = AddEntry(WinBuiltinAdministratorsSid, inheritance) && complete;
    owner_.Reset(LocalAlloc(LPTR, kSidBytes));
    DWORD size = kSidBytes;
    if (!owner_ || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, Owner(), &size)) {
        owner_.Reset();
        complete = false;
    }
    complete_ = complete;
}

bool SecurityReset::AddEntry(WELL_KNOWN_SID_TYPE account, BYTE inheritance) {
    BYTE sid[kSidBytes] = {};
    DWORD sidSize = kSidBytes;
    if (!CreateWellKnownSid(account, nullptr, sid, &sidSize)) return false;
    const DWORD sidLength = GetLengthSid(sid);
    const DWORD entrySize = static_cast<DWORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart)) + sidLength;
    std::vector<BYTE> bytes(entrySize, 0);
    auto* entry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(bytes.data());
    entry->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    entry->Header.AceFlags = inheritance;
    entry->Header.AceSize = static_cast<WORD>(entrySize);
    entry->Mask = GENERIC_ALL;
    if (!CopySid(sidLength, &entry->SidStart, sid)) return false;

    // Explicit entries go before inherited ones: after the last explicit entry, counted from the end.
    DWORD index = MAXDWORD;
    if (!(inheritance & (INHERIT_ONLY_ACE | NO_PROPAGATE_INHERIT_ACE | INHERITED_ACE))) {
        ACL_SIZE_INFORMATION info = {};
        if (!GetAclInformation(Acl(), &info, sizeof(info), AclSizeInformation)) return false;
        index = 0;
        for (DWORD i = info.AceCount; i > 0; --i) {
            void* existing = nullptr;
            if (GetAce(Acl(), i - 1, &existing) && !(static_cast<ACE_HEADER*>(existing)->AceFlags & INHERITED_ACE)) {
                index = i;
                break;
            }
        }
    }
    return AddAce(Acl(), ACL_REVISION, index, bytes.data(), entrySize) != FALSE;
}

bool ResetSecurity(const wchar_t* path, unsigned resetFlags, const SecurityReset& material) {
    SECURITY_INFORMATION info = 0;
    PSID owner = material.Owner();
    if (owner) info |= OWNER_SECURITY_INFORMATION;
    const bool setList = !(resetFlags & kResetOwnerOnly);
    if (setList) info |= DACL_SECURITY_INFORMATION;
    if (resetFlags & kResetProtectedList)
        info |= PROTECTED_DACL_SECURITY_INFORMATION;
    else if (resetFlags & kResetUnprotectedList)
        info |= UNPROTECTED_DACL_SECURITY_INFORMATION;
    // A list missing one of its accounts could lock out the very account that needs to remove the object.
    if (setList && !material.Complete()) return false;
    PACL acl = setList ? material.Acl() : nullptr;

    // The calls take a writable name; they get a copy of their own.
    WideString object(path);
    object.Text();
    wchar_t* name = object.UnitAt(1);
    // A folder link is reset as the link alone: the tree reset would reach into its target.
    const bool tree = (resetFlags & kResetTree) && IsRealFolder(path);
    auto apply = [&]() {
        DWORD status;
        if (tree)
            status = TreeResetNamedSecurityInfoW(name, SE_FILE_OBJECT, info, owner, nullptr, acl, nullptr,
                                                 (resetFlags & kResetKeepExplicit) != 0, nullptr, ProgressInvokeNever,
                                                 nullptr);
        else
            status = SetNamedSecurityInfoW(name, SE_FILE_OBJECT, info, owner, nullptr, acl, nullptr);
        return status == ERROR_SUCCESS;
    };
    if (apply()) return true;
    if (!owner || !setList) return false;
    // Taking ownership needs no access to the object itself; as owner the list may then be written.
    if (SetNamedSecurityInfoW(name, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return false;
    return apply();
}

namespace {

// The escalation shared by files and folders; remove is DeleteFileW or RemoveDirectoryW.
DeleteResult RemoveObject(const wchar_t* path, unsigned flags, const SecurityReset& material,
                          BOOL(WINAPI* remove)(LPCWSTR), unsigned resetFlags) {
    if (remove(path) || IsAbsent(GetLastError())) return kRemoved;
    const DWORD attributes = GetFileAttributesW(path);
    const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & blocking)) {
        if (SetFileAttributesW(path, attributes & ~blocking) && remove(path)) return kRemoved;
    }
    if ((flags & kDeleteResetSecurity) && !IsLink(attributes)) {
        ResetSecurity(path, resetFlags, material);
        if (remove(path)) return kRemoved;
    }
    if ((flags & kDeleteAtRestart) && MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return kRemovalScheduled;
    return kNotRemoved;
}

}  // namespace

DeleteResult RemoveFile(const wchar_t* path, unsigned flags, const SecurityReset& material) {
    return RemoveObject(path, flags, material, &DeleteFileW, kResetProtectedList);
}

DeleteResult RemoveFolder(const wchar_t* path, unsigned flags, const SecurityReset& material) {
    return RemoveObject(path, flags, material, &RemoveDirectoryW, kResetTree | kResetProtectedList);
}

DeleteResult Walk(const WideString& folder, const wchar_t* pattern, unsigned flags, const SecurityReset& material) {
    const bool keepRoot = (flags & kDeleteKeepRoot) != 0;
    flags &= ~static_cast<unsigned>(kDeleteKeepRoot);
    const WideString search = WideString::Concat(folder, L"\\", pattern);

    FolderEnumerator entries;
    bool listing = entries.Start(search.Text());
    auto refused = [&]() { return !IsNothingToList(entries.StartError()) && !IsNoFolder(folder.Text()); };
    // Only a listing that was refused is worth a security reset; an empty match is no reason to touch the folder.
    if (!listing && (flags & kDeleteResetSecurity) && refused()) {
        ResetSecurity(folder.Text(), kResetTree | kResetProtectedList, material);
        listing = entries.Start(search.Text());
    }

    DeleteResult total = kRemoved;
    if (!listing) {
        // A folder that stays must not pass for emptied when its entries could not even be listed.
        if (keepRoot && refused()) total = kNotRemoved;
    } else {
        while (entries.Next()) {
            const WideString entry = WideString::Concat(folder, L"\\", entries.Name());
            DeleteResult result;
            if (!entries.IsFolder())
                result = RemoveFile(entry.Text(), flags, material);
            else if (entries.IsReparsePoint())
                result = RemoveFolder(entry.Text(), flags, material);
            else
                result = Walk(entry, pattern, flags, material);
            total = CombineDeleteResults(total, result);
            PumpMessages();
        }
    }
    if (!keepRoot) total = CombineDeleteResults(total, RemoveFolder(folder.Text(), flags, material));
    return total;
}

DeleteResult ForceDelete(const wchar_t* path, unsigned flags) {
    WideString target(path);
    target.StripTrailingBackslashes();
    const int separator = target.Find(L"\\", true, -1);
    if (separator == 0) return kRemoved;
    WideString name;
    name.AssignSubstring(target.Text(), separator + 1, 0);
    const bool wildcard = name.Find(L"*", true) > 0 || name.Find(L"?", true) > 0;

    Target kind;
    WideString location;
    if (wildcard) {
        kind = Target::kPattern;
        location.AssignSubstring(target.Text(), 1, separator - 1);
        location.ToLongPathForm();
    } else {
        location = target;
        location.ToLongPathForm();
        // A path whose attributes cannot be read (all bits set) is taken for a link: removing a missing link
        // succeeds, and nothing is entered.
        const DWORD attributes = GetFileAttributesW(location.Text());
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            kind = Target::kFile;
        else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            kind = Target::kFolderLink;
        else
            kind = Target::kFolder;
    }

    const SecurityReset material((flags & kDeleteResetSecurity) != 0, kind != Target::kFile);
    DeleteResult result = kNotRemoved;
    switch (kind) {
        case Target::kFolderLink:
            result = RemoveFolder(location.Text(), flags, material);
            break;
        case Target::kPattern:
            result = Walk(location, name.Text(), flags | kDeleteKeepRoot, material);
            break;
        case Target::kFolder:
            result = Walk(location, L"*", flags & ~static_cast<unsigned>(kDeleteKeepRoot), material);
            break;
        case Target::kFile:
            result = RemoveFile(location.Text(), flags, material);
            break;
    }
    if (result == kRemoved && (kind == Target::kFolder || kind == Target::kFile))
        SHChangeNotify(kind == Target::kFolder ? SHCNE_RMDIR : SHCNE_DELETE, SHCNF_PATHW, path, nullptr);
    return result;
}

bool CreateFolderTree(const wchar_t* path) {
    static const wchar_t kLongPrefix[] = L"\\\\?\\";
    WideString target(path);
    target.ToLongPathForm();
    target.StripTrailingBackslashes();
    const int length = target.Length();
    if (length < 3) return false;
    const bool longForm = target.StartsWith(kLongPrefix, true);
    if (longForm && length < 6) return false;
    if (longForm && length == 6) {
        // A drive root is never created, only checked. Some shlwapi versions (Wine's among them) reject the
        // prefixed form, so the drive part alone may answer too; a drive that does not exist is no folder.
        target.Append(L"\\");
        const bool root = PathIsRootW(target.Text()) || PathIsRootW(target.UnitAt(5));
        return root && PathIsDirectoryW(target.Text());
    }
    if (PathIsDirectoryW(target.Text())) return true;
    if (CreateDirectoryW(target.Text(), nullptr)) return true;
    // A file of that name is no folder.
    if (GetLastError() == ERROR_ALREADY_EXISTS) return PathIsDirectoryW(target.Text()) != FALSE;

    // Without a drive the chain can only start from a network share; a relative path has nothing to start from.
    const wchar_t* prefix = longForm ? kLongPrefix : L"\\\\";
    if (!longForm && !target.StartsWith(L"\\\\", true)) return false;
    WideString rest;
    rest.AssignSubstring(target.Text(), longForm ? 5 : 3, 0);
    TokenList parts;
    parts.Split(rest.Text(), L"\\", true);
    if (parts.Count() < 2) return false;
    WideString current = WideString::Concat(prefix, parts.Item(0));
    for (int i = 1; i < parts.Count(); ++i) {
        const wchar_t* part = parts.Item(i);
        if (!part || !part[0]) continue;
        current.Append(L"\\", part);
        if (FileExists(current.Text(), true)) continue;
        if (!CreateDirectoryW(current.Text(), nullptr) &&
            !(GetLastError() == ERROR_ALREADY_EXISTS && PathIsDirectoryW(current.Text())))
            return false;
    }
    return true;
}

bool FileExists(const wchar_t* path, bool foldersCount) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (foldersCount || !(attributes & FILE_ATTRIBUTE_DIRECTORY));
}

bool IsRealFolder(const wchar_t* path, bool linksCount) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (linksCount || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT));
}

namespace {

// Opens an existing object for a look or a read. A path of MAX_PATH and more is opened in its long form, which the
// file calls of every Windows take; a shorter one as it is, so that device names (COM1, NUL) keep their meaning.
FileHandle OpenExisting(const wchar_t* path, DWORD access) {
    WideString name(path);
    if (name.Length() >= MAX_PATH) name = FullPath(name).ToLongPathForm();
    return FileHandle(CreateFileW(name.Text(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

bool IsDiskFile(const wchar_t* path) {
    if (!path || !*path) return false;
    // No access asked: opening only to look at the object never waits on a device.
    FileHandle file = OpenExisting(path, 0);
    if (!file) return false;
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(file.Get()) == FILE_TYPE_DISK && GetFileInformationByHandle(file.Get(), &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsReadableDiskFile(const wchar_t* path) {
    // A device is never opened for reading: that alone may wait on it.
    return IsDiskFile(path) && OpenExisting(path, GENERIC_READ);
}

WideString FullPath(const WideString& path) {
    if (path.IsEmpty()) return path;
    std::vector<wchar_t> buffer(WideString::kFixedBufferUnits, 0);
    DWORD units = GetFullPathNameW(path.Text(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (units >= buffer.size()) {
        buffer.assign(units, 0);
        units = GetFullPathNameW(path.Text(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (units == 0 || units >= buffer.size()) return path;
    return WideString(buffer.data());
}

namespace {

bool ReadFileIdentity(const WideString& path, BY_HANDLE_FILE_INFORMATION& identity) {
    FileHandle file(CreateFileW(path.Text(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.Get(), &identity);
}

}  // namespace

// https://learn.microsoft.com/windows/win32/api/fileapi/ns-fileapi-by_handle_file_information
bool IsSameFile(const WideString& first, const WideString& second) {
    if (FullPath(first).EqualsIgnoreCase(FullPath(second).Text())) return true;
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    return ReadFileIdentity(first, a) && ReadFileIdentity(second, b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}
