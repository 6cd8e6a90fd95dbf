#pragma once

#include <windows.h>

#include "sys/Handles.h"
#include "sys/WideString.h"

// Outcome of a deletion.
enum DeleteResult : int {
    kNotRemoved = 0,
    kRemoved = 1,           // also: it did not exist, or there was nothing to do
    kRemovalScheduled = 2,  // at the next restart of the system
};

// Bits of the flags passed to the deletion functions.
enum DeleteFlags : unsigned {
    kDeleteAtRestart = 1,      // when everything else fails, schedule the removal for the next restart
    kDeleteResetSecurity = 2,  // when a plain removal fails, take ownership, grant full control and retry
    kDeleteKeepRoot = 4,       // inside a walk only: keep the starting folder
};

// Bits of the reset flags of ResetSecurity.
enum SecurityResetFlags : unsigned {
    kResetTree = 1,             // a folder's whole tree instead of the object alone
    kResetUnprotectedList = 2,  // let the list inherit from the parent
    kResetProtectedList = 4,    // block inheritance from the parent
    kResetOwnerOnly = 8,        // leave the access list alone
    kResetKeepExplicit = 16,    // tree reset keeps the explicit entries below the top
};

// Once 0 the total stays 0; a 2 turns a total of 1 into 2; a 1 changes nothing.
DeleteResult CombineDeleteResults(DeleteResult total, DeleteResult next);

// The material that a security reset applies: an access list granting full control to Everyone, LocalSystem and
// the built-in Administrators, and the Administrators group as the new owner. Built once per deletion request.
class SecurityReset {
public:
    static constexpr DWORD kAclBytes = 2048;
    static constexpr DWORD kSidBytes = 68;  // SECURITY_MAX_SID_SIZE

    // The list is always allocated; its entries and the owner only with grant. With inherit the entries also
    // apply to files and folders below (for folders and wildcard targets).
    SecurityReset(bool grant, bool inherit);

    PACL Acl() const { return static_cast<PACL>(acl_.Get()); }
    // Null when no owner is to be set.
    PSID Owner() const { return static_cast<PSID>(owner_.Get()); }
    // True when every entry and the owner were made as asked.
    bool Complete() const { return complete_; }

private:
    bool AddEntry(WELL_KNOWN_SID_TYPE account, BYTE inheritance);

    LocalMemoryHandle acl_;
    LocalMemoryHandle owner_;
    bool complete_ = false;
};

// Removes a file, a folder tree, a folder link (never entering it) or the entries matching a wildcard pattern in
// the last component (the folder is kept). A path without any '\' is left alone and gives kRemoved; a missing
// path counts as removed. Announces a removed file or folder to the shell.
DeleteResult ForceDelete(const wchar_t* path, unsigned flags);

// One object, escalating: plain removal, clearing read-only/system, security reset (kDeleteResetSecurity),
// scheduling for the next restart (kDeleteAtRestart). RemoveFolder removes an empty folder or a folder link.
DeleteResult RemoveFile(const wchar_t* path, unsigned flags, const SecurityReset& material);
DeleteResult RemoveFolder(const wchar_t* path, unsigned flags, const SecurityReset& material);
// Removes the entries of a folder that match the pattern, descending into real folders, and then the folder
// itself unless kDeleteKeepRoot is given. Pending window messages are handled between entries.
DeleteResult Walk(const WideString& folder, const wchar_t* pattern, unsigned flags, const SecurityReset& material);

// Sets owner and access list of a file, or of a real folder's whole tree with kResetTree; when that is refused,
// takes ownership first and tries once more.
bool ResetSecurity(const wchar_t* path, unsigned resetFlags, const SecurityReset& material);

// Creates a folder with all its missing parents. Succeeds for a folder that already exists and for a drive root.
bool CreateFolderTree(const wchar_t* path);

// True for an existing file; with foldersCount, for an existing folder too.
bool FileExists(const wchar_t* path, bool foldersCount);

// True for a directory that is not a reparse point (a junction or a directory link is not a real folder); with
// linksCount, a junction or directory link counts as a folder too.
bool IsRealFolder(const wchar_t* path, bool linksCount = false);

// True for an existing file on a disk: not a folder, and not a device, pipe or console that merely answers to a
// file name (COM1, NUL, CON, \\.\pipe\x), whose reads can block for ever.
bool IsDiskFile(const wchar_t* path);

// True for a disk file (IsDiskFile) that this process may read now: neither its rights nor another program holding
// it open without read sharing keep it from being read.
bool IsReadableDiskFile(const wchar_t* path);

// The absolute form of a path (GetFullPathNameW: the working folder for a relative path, "." and ".." resolved);
// the path itself when it has none.
WideString FullPath(const WideString& path);

// True when both paths name one file or folder: the same full path ignoring case, or another name of it (a short
// 8.3 name, a hard link, a different spelling of the same folder), which only the volume and file index tell.
bool IsSameFile(const WideString& first, const WideString& second);
