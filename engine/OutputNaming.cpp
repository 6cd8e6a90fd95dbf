#include "engine/OutputNaming.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/IconWriter.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"

namespace {

// What the last job of this thread left for LastOutputFailure; each batch worker has its own.
thread_local Result lastOutcome;
// The output whose job keeps backups, from MoveAsideExisting to FinishOutput, by its key; 0 for none.
thread_local uint64_t guardedOutput = 0;

// Numbered backups are looked for this far; a folder holding more of them takes no new one.
constexpr int kMaxBackups = 1000;
// Another run holds an output's turn only for a few file steps; one that holds it this long is stuck, and the
// step fails rather than risk another run's file.
constexpr DWORD kTurnWaitMs = 60000;
constexpr DWORD kCompareChunk = 64 * 1024;

// The output's absolute path in upper case, as the file system compares names, hashed (FNV-1a): two runs that
// spell one output differently ("\\?\" form, relative path, case) get one key.
uint64_t OutputKey(const WideString& output) {
    std::wstring path(FullPath(output).Text());
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        path.erase(2, 6);
    else if (path.compare(0, 4, L"\\\\?\\") == 0)
        path.erase(0, 4);
    if (!path.empty()) CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t unit : path) {
        hash = (hash ^ static_cast<uint64_t>(unit)) * 1099511628211ull;
    }
    return hash ? hash : 1;
}

// Runs of this program that write one output at the same time (two batches into one folder) take turns for the
// steps that look at the output and its backups and then change them, through a mutex named after the output. A
// run that was killed holding it leaves it abandoned, which the next one simply takes. Without the mutex (one that
// a run with other rights made) the steps run at once.
class OutputTurn {
public:
    explicit OutputTurn(uint64_t key) {
        wchar_t name[64] = {};
        wsprintfW(name, L"Local\\Glyphwright.Output.%08lx%08lx", static_cast<unsigned long>(key >> 32),
                  static_cast<unsigned long>(key & 0xFFFFFFFF));
        mutex_.Reset(CreateMutexW(nullptr, FALSE, name));
        if (!mutex_) return;
        const DWORD wait = WaitForSingleObject(mutex_.Get(), kTurnWaitMs);
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        if (!held_) SetLastError(ERROR_TIMEOUT);
    }
    ~OutputTurn() {
        if (held_) ReleaseMutex(mutex_.Get());
    }
    OutputTurn(const OutputTurn&) = delete;
    OutputTurn& operator=(const OutputTurn&) = delete;

    bool Taken() const { return held_ || !mutex_; }

private:
    KernelHandle mutex_;
    bool held_ = false;
};

// True when both files hold the same bytes.
bool SameContent(const WideString& first, const WideString& second) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const FileHandle a(CreateFileW(first.Text(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    const FileHandle b(CreateFileW(second.Text(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER sizeA = {}, sizeB = {};
    if (!a || !b || !GetFileSizeEx(a.Get(), &sizeA) || !GetFileSizeEx(b.Get(), &sizeB) ||
        sizeA.QuadPart != sizeB.QuadPart)
        return false;
    std::vector<uint8_t> bufferA(kCompareChunk), bufferB(kCompareChunk);
    for (;;) {
        DWORD readA = 0, readB = 0;
        if (!ReadFile(a.Get(), bufferA.data(), kCompareChunk, &readA, nullptr) ||
            !ReadFile(b.Get(), bufferB.data(), kCompareChunk, &readB, nullptr) || readA != readB)
            return false;
        if (readA == 0) return true;
        if (std::memcmp(bufferA.data(), bufferB.data(), readA) != 0) return false;
    }
}

// True when the backup holds what the output holds now: a second name of the output's file, or (on a volume
// without hard links) a copy of its content.
bool HoldsOutput(const WideString& backup, const WideString& output) {
    if (!FileExists(backup.Text(), false) || !FileExists(output.Text(), false)) return false;
    return IsSameFile(backup, output) || SameContent(backup, output);
}

// Moves the file at the backup name to the first free numbered name; MoveFileExW without flags never replaces.
bool DisplaceEarlierBackup(const WideString& output, OutputBackup& backup) {
    for (int n = 2; n <= kMaxBackups; ++n) {
        const WideString numbered = BackupPath(output, n);
        if (FileExists(numbered.Text(), true)) continue;
        if (MoveFileExW(backup.path.Text(), numbered.Text(), 0)) {
            backup.displaced = numbered;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

// A file that another program holds open without delete sharing; none of its names can be removed meanwhile.
bool HeldAgainstRemoval(const WideString& path) {
    const FileHandle probe(CreateFileW(path.Text(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

// A second name of the output's file costs nothing and can't run out of space; a volume without hard links gets
// a copy. So does a file that another program holds without delete sharing: it can't be replaced then, and a second
// name of it could not be removed again when the job fails, while a copy can.
bool KeepUnderBackupName(const WideString& output, const WideString& backup) {
    if (!HeldAgainstRemoval(output) && CreateHardLinkW(backup.Text(), output.Text(), nullptr)) return true;
    return CopyFileW(output.Text(), backup.Text(), TRUE) != 0;
}

// The backup step, in the output's turn.
bool KeepExisting(const WideString& output, OutputBackup& backup) {
    backup = OutputBackup();
    backup.path = BackupPath(output);
    if (!FileExists(output.Text(), false)) return true;
    if (FileExists(backup.path.Text(), true)) {
        // A second name of the output itself, which a run killed between keeping and replacing leaves, is no
        // earlier file: it holds the content to keep already.
        if (IsSameFile(backup.path, output)) {
            backup.kept = true;
            return true;
        }
        if (!DisplaceEarlierBackup(output, backup)) return false;
    }
    if (KeepUnderBackupName(output, backup.path)) {
        backup.kept = true;
        return true;
    }
    const DWORD error = GetLastError();
    // Nothing was kept, so the earlier backup takes its name back.
    if (!backup.displaced.IsEmpty()) MoveFileExW(backup.displaced.Text(), backup.path.Text(), 0);
    backup.displaced.Clear();
    SetLastError(error);
    return false;
}

// Undoes the backup step after a failed job, in the output's turn. A backup that no longer holds what the output
// holds is all that is left of a file another run replaced meanwhile, so it stays.
bool DropBackup(const OutputBackup& backup, const WideString& output) {
    if (!backup.kept) return true;
    if (!HoldsOutput(backup.path, output)) return true;
    // A second name shares the output's read-only bit, which is lifted for the removal and given back to the output.
    if (!DeleteFileW(backup.path.Text())) {
        const DWORD attributes = GetFileAttributesW(backup.path.Text());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
        SetFileAttributesW(backup.path.Text(), attributes & ~FILE_ATTRIBUTE_READONLY);
        const bool removed = DeleteFileW(backup.path.Text()) != 0;
        if (FileExists(output.Text(), false) && !(GetFileAttributesW(output.Text()) & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(output.Text(), attributes);
        if (!removed) return false;
    }
    if (backup.displaced.IsEmpty()) return true;
    return MoveFileExW(backup.displaced.Text(), backup.path.Text(), 0) != 0;
}

}  // namespace

WideString BackupPath(const WideString& output, int n) {
    const WideString mark =
        n >= 2 ? WideString::Concat(L" (backup ", WideString::FromInt(n), L")") : WideString(L" (backup)");
    const WideString extension = output.Extension(true);
    WideString backup(output);
    if (extension.IsEmpty()) return backup.Append(mark.Text());
    backup.DropRight(extension.Length());
    return backup.Append(mark.Text(), extension);
}

Result MoveAsideExisting(const WideString& output, OutputBackup& backup) {
    backup = OutputBackup();
    backup.path = BackupPath(output);
    guardedOutput = OutputKey(output);
    const OutputTurn turn(guardedOutput);
    if (turn.Taken() && KeepExisting(output, backup)) return Result::Success();
    const Result failed = DiagnoseOutputFailure(output, GetLastError());
    RememberOutputResult(failed);
    return failed;
}

bool FinishOutput(const OutputBackup& backup, const WideString& output, bool succeeded) {
    const uint64_t key = OutputKey(output);
    if (guardedOutput == key) guardedOutput = 0;
    if (succeeded || !backup.kept) return true;
    const OutputTurn turn(key);
    return turn.Taken() && DropBackup(backup, output);
}

bool CommitStagedOutput(StagedFile& staged, const WideString& output, bool& replaced) {
    replaced = false;
    const uint64_t key = OutputKey(output);
    if (guardedOutput != key) return staged.Commit(&replaced);
    // A name that is free takes the file in one step that fails when another run's file took it meanwhile.
    if (staged.CommitNew()) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const OutputTurn turn(key);
    if (!turn.Taken()) return false;
    // The file there now may be another run's, written since the backup step: it is kept before it is replaced.
    OutputBackup again;
    if (!HoldsOutput(BackupPath(output), output) && !KeepExisting(output, again)) return false;
    if (staged.Commit(&replaced)) return true;
    const DWORD error = GetLastError();
    DropBackup(again, output);
    SetLastError(error);
    return false;
}

WideString OutputFilePath(const WideString& target, const WideString& sourceName, IconJobFlags flags) {
    WideString output(target);
    DropTrailingDotsAndSpaces(output);
    if (output.IsEmpty()) return output;
    if (output.EndsWith(L"\\") || IsRealFolder(output.Text(), true)) {
        WideString name(sourceName);
        DropTrailingDotsAndSpaces(name);
        if (name.IsEmpty()) return WideString();
        output.StripTrailingBackslashes();
        output.Append(L"\\", name);
    }
    EnsureOutputExtension(output, flags);
    return output;
}

Result DiagnoseOutputFailure(const WideString& output, DWORD error) {
    WideString folder(output);
    folder.ToParent(true);
    if (!folder.IsEmpty() && !IsRealFolder(folder.Text(), true)) return Result::Failed(Failure::kFolderMissing, error);
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return Result::FromError(error);
    // A file that another program holds open refuses every exclusive opening, whatever error the replacement gave.
    if (FileExists(output.Text(), false)) {
        const FileHandle probe(CreateFileW(output.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe && GetLastError() == ERROR_SHARING_VIOLATION) return Result::Failed(Failure::kFileInUse, error);
    }
    return Result::FromError(error);
}

void RememberOutputResult(const Result& result) {
    lastOutcome = result;
}

Failure LastOutputFailure(const WideString& output) {
    if (lastOutcome.Cause() == Failure::kNotAPicture || lastOutcome.Cause() == Failure::kNoIcon)
        return Failure::kNotAPicture;
    return DiagnoseOutputFailure(output, lastOutcome.Error()).Cause();
}
