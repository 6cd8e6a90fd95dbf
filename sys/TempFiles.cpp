#include "sys/TempFiles.h"

#include <atomic>
#include <cwchar>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sys/FileOperations.h"
#include "sys/FolderEnumerator.h"

namespace {

constexpr DWORD kLongPathUnits = 32768;
constexpr int kNameAttempts = 100;
constexpr DWORD kStickyAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// The absolute path with the "\\?\" prefix, which lifts the MAX_PATH limit of the file calls. The prefix also
// turns off the name clean-up of those calls, so the path is made absolute and clean first.
WideString LongForm(const WideString& path) {
    if (path.StartsWith(kLongPrefix, true)) return path;
    WideString full = FullPath(path);
    if (full.StartsWith(L"\\\\", true)) return WideString::Concat(kLongUncPrefix, full.Text() + 2);
    return full.ToLongPathForm();
}

// The ordinary form of a prefixed path, for calls that don't take the prefix.
WideString WithoutLongPrefix(const WideString& path) {
    if (path.StartsWith(kLongUncPrefix, true)) return WideString::Concat(L"\\\\", path.Text() + 8);
    if (path.StartsWith(kLongPrefix, true)) return WideString(path.Text() + 4);
    return path;
}

// A short name no other job of this or another process picks at the same time: the caller creates it with a
// call that fails on an existing file and asks again.
WideString UniqueName(const WideString& folder, const wchar_t* extension) {
    static std::atomic<unsigned> counter{0};
    wchar_t name[40] = {};
    wsprintfW(name, L"~gw%lx-%x", GetCurrentProcessId(), counter++);
    return WideString::Concat(folder, L"\\", name, extension);
}

// The process that made a staged file, from its name (~gw<pid>-<n>.tmp); 0 for a name of another form.
DWORD StagingProcess(const wchar_t* name) {
    if (wcsncmp(name, L"~gw", 3) != 0) return 0;
    wchar_t* end = nullptr;
    const unsigned long pid = wcstoul(name + 3, &end, 16);
    if (!end || end == name + 3 || *end != L'-') return 0;
    const wchar_t* dot = wcschr(end, L'.');
    return dot && _wcsicmp(dot, L".tmp") == 0 ? static_cast<DWORD>(pid) : 0;
}

// False only for a process that certainly no longer runs: one that can't be opened for lack of rights still may.
bool ProcessMayRun(DWORD processId) {
    const KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    return WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

// A run that was killed while it wrote leaves its temporary file behind. The first file staged in a folder by this
// process removes the ones whose process no longer runs; a live one may be another run's write in progress, and a
// ".old" file (an older output set aside by a replace) may hold the only copy of a file, so both are kept.
void RemoveOrphanedStagedFiles(const WideString& folder) {
    static std::mutex guard;
    static std::set<std::wstring> swept;
    {
        std::wstring key(folder.Text());
        if (!key.empty()) CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
        const std::lock_guard<std::mutex> lock(guard);
        if (!swept.insert(key).second) return;
    }
    const DWORD self = GetCurrentProcessId();
    FolderEnumerator listing;
    if (!listing.Start(WideString::Concat(folder, L"\\~gw*.tmp").Text(), FolderEnumerator::kFilesOnly)) return;
    while (listing.Next()) {
        const DWORD pid = StagingProcess(listing.Name());
        if (pid == 0 || pid == self || ProcessMayRun(pid)) continue;
        DeleteFileW(WideString::Concat(folder, L"\\", listing.Name()).Text());
    }
}

bool IsFile(const WideString& path) {
    const DWORD attributes = GetFileAttributesW(path.Text());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MoveOver(const WideString& from, const WideString& to) {
    return MoveFileExW(from.Text(), to.Text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

StagedFile::~StagedFile() {
    file_.Reset();
    if (!committed_ && !temporary_.IsEmpty()) DeleteFileW(temporary_.Text());
}

bool StagedFile::Create(const WideString& finalPath) {
    if (file_ || finalPath.IsEmpty()) return false;
    final_ = LongForm(finalPath);
    const int separator = final_.Find(L"\\", true, -1);
    if (separator <= 0) return false;
    WideString folder(final_);
    folder.TruncateTo(separator - 1);
    RemoveOrphanedStagedFiles(folder);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const WideString candidate = UniqueName(folder, L".tmp");
        file_.Reset(
            CreateFileW(candidate.Text(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_) {
            temporary_ = candidate;
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool StagedFile::Write(const void* data, size_t size) {
    if (!file_ || size > MAXDWORD) return false;
    DWORD written = 0;
    return WriteFile(file_.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool StagedFile::CommitNew() {
    if (temporary_.IsEmpty() || committed_) return false;
    file_.Reset();
    // Without MOVEFILE_REPLACE_EXISTING the move itself is the look-up: it fails on a name that is taken.
    committed_ = MoveFileExW(temporary_.Text(), final_.Text(), MOVEFILE_WRITE_THROUGH) != 0;
    if (!committed_ && GetLastError() == ERROR_FILE_EXISTS) SetLastError(ERROR_ALREADY_EXISTS);
    return committed_;
}

bool StagedFile::Commit(bool* replaced) {
    // A name that holds nothing yet risks nothing, so the new file takes it at once. Looking a missing name up is
    // what costs most in a folder of many files, so it is looked up once, by the move itself.
    if (CommitNew()) {
        if (replaced) *replaced = false;
        return true;
    }
    if (temporary_.IsEmpty() || committed_ || !IsFile(final_)) return false;
    // The data reaches the disk before it replaces an older file, so a crash never leaves that name on an
    // incomplete file.
    if (!FlushStaged()) return false;
    bool moved = MoveOver(temporary_, final_);
    DWORD moveError = moved ? ERROR_SUCCESS : GetLastError();
    // A file that another program holds open, even one that lets others delete it, can't be renamed over; the
    // replace call can swap it out, and that program keeps reading the old content until it closes the file.
    if (!moved) moved = ReplaceHeldFile();
    const DWORD attributes = !moved ? GetFileAttributesW(final_.Text()) : INVALID_FILE_ATTRIBUTES;
    if (!moved && attributes != INVALID_FILE_ATTRIBUTES) {
        // A read-only, hidden or system file refuses to be replaced, and so may one whose access list keeps us out.
        // Both are lifted only on the old file itself, which stays in place; its attributes come back if the
        // replacement still fails.
        if (attributes & kStickyAttributes) {
            const DWORD plain = attributes & ~kStickyAttributes;
            SetFileAttributesW(final_.Text(), plain ? plain : FILE_ATTRIBUTE_NORMAL);
            moved = MoveOver(temporary_, final_);
            if (!moved) moveError = GetLastError();
        }
        if (!moved && moveError == ERROR_ACCESS_DENIED) {
            const SecurityReset material(true, false);
            if (ResetSecurity(final_.Text(), kResetProtectedList, material)) moved = MoveOver(temporary_, final_);
        }
        if (!moved && (attributes & kStickyAttributes)) SetFileAttributesW(final_.Text(), attributes);
    }
    if (!moved) return false;
    committed_ = true;
    if (replaced) *replaced = true;
    return true;
}

bool StagedFile::FlushStaged() {
    const FileHandle staged(CreateFileW(temporary_.Text(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return staged && FlushFileBuffers(staged.Get()) != 0;
}

// https://learn.microsoft.com/windows/win32/api/winbase/nf-winbase-replacefilew
bool StagedFile::ReplaceHeldFile() {
    const int separator = final_.Find(L"\\", true, -1);
    WideString folder(final_);
    folder.TruncateTo(separator - 1);
    // Without a name for the old file the call may drop it when the new one can't be moved in; with one, the old
    // file is either still in place or under that name, from where it goes back.
    WideString aside = UniqueName(folder, L".old");
    for (int attempt = 0; attempt < kNameAttempts && FileExists(aside.Text(), true); ++attempt)
        aside = UniqueName(folder, L".old");
    if (ReplaceFileW(final_.Text(), temporary_.Text(), aside.Text(), REPLACEFILE_WRITE_THROUGH, nullptr, nullptr)) {
        DeleteFileW(aside.Text());
        return true;
    }
    if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) MoveFileExW(aside.Text(), final_.Text(), 0);
    return false;
}

ReachableFile::ReachableFile(const WideString& path) : path_(path) {
    if (path.Length() < MAX_PATH) return;
    const WideString longForm = LongForm(path);
    std::vector<wchar_t> buffer(kLongPathUnits, 0);
    const DWORD units = GetShortPathNameW(longForm.Text(), buffer.data(), kLongPathUnits);
    if (units > 0 && units < kLongPathUnits) {
        const WideString shortPath = WithoutLongPrefix(WideString(buffer.data()));
        if (shortPath.Length() < MAX_PATH) {
            path_ = shortPath;
            return;
        }
    }

    // Volumes without short names, or paths too deep even in short form: a copy. It keeps the extension, by which
    // the shell tells an icon file from a library.
    const DWORD tempUnits = GetTempPathW(kLongPathUnits, buffer.data());
    if (tempUnits == 0 || tempUnits >= MAX_PATH) return;
    WideString folder(buffer.data());
    folder.StripTrailingBackslashes();
    WideString extension = path.Extension(true);
    if (extension.Length() > 16) extension.Clear();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const WideString candidate = UniqueName(folder, extension.Text());
        if (CopyFileW(longForm.Text(), candidate.Text(), TRUE)) {
            // A read-only original gives a read-only copy, which could not be removed afterwards.
            SetFileAttributesW(candidate.Text(), FILE_ATTRIBUTE_NORMAL);
            copy_ = candidate;
            path_ = candidate;
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return;
    }
}

ReachableFile::~ReachableFile() {
    if (!copy_.IsEmpty()) DeleteFileW(copy_.Text());
}
