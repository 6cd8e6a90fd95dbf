#include "engine/OutputNaming.h"

#include <windows.h>

#include "engine/IconWriter.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"

namespace {

// What the last failed write of this thread left for LastOutputFailure; each batch worker has its own.
thread_local DWORD lastWriteError = 0;
thread_local bool lastSourceFailed = false;

// Numbered backups are looked for this far; a folder holding more of them takes no new one.
constexpr int kMaxBackups = 1000;

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

// A second name of the output's file costs nothing and can't run out of space; a volume without hard links gets
// a copy.
bool KeepUnderBackupName(const WideString& output, const WideString& backup) {
    if (CreateHardLinkW(backup.Text(), output.Text(), nullptr)) return true;
    return CopyFileW(output.Text(), backup.Text(), TRUE) != 0;
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

bool MoveAsideExisting(const WideString& output, OutputBackup& backup) {
    backup = OutputBackup();
    backup.path = BackupPath(output);
    if (!FileExists(output.Text(), false)) return true;
    if (FileExists(backup.path.Text(), true) && !DisplaceEarlierBackup(output, backup)) return false;
    if (KeepUnderBackupName(output, backup.path)) {
        backup.kept = true;
        return true;
    }
    NoteOutputFailure(GetLastError(), false);
    // Nothing was kept, so the earlier backup takes its name back.
    if (!backup.displaced.IsEmpty()) MoveFileExW(backup.displaced.Text(), backup.path.Text(), 0);
    backup.displaced.Clear();
    return false;
}

bool FinishOutput(const OutputBackup& backup, const WideString& output, bool succeeded) {
    if (succeeded || !backup.kept) return true;
    // The output was never touched: the backup is only a second name or a copy of it. A second name shares the
    // output's read-only bit, which is lifted for the removal and given back to the output.
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

void NoteOutputFailure(DWORD error, bool sourceFailed) {
    lastWriteError = error;
    lastSourceFailed = sourceFailed;
}

OutputFailure LastOutputFailure(const WideString& output) {
    if (lastSourceFailed) return OutputFailure::kNotAPicture;
    WideString folder(output);
    folder.ToParent(true);
    if (!folder.IsEmpty() && !IsRealFolder(folder.Text(), true)) return OutputFailure::kFolderMissing;
    if (lastWriteError == ERROR_DISK_FULL || lastWriteError == ERROR_HANDLE_DISK_FULL) return OutputFailure::kDiskFull;
    // A file that another program holds open refuses every exclusive opening, whatever error the replacement gave.
    if (FileExists(output.Text(), false)) {
        const FileHandle probe(CreateFileW(output.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe && GetLastError() == ERROR_SHARING_VIOLATION) return OutputFailure::kFileInUse;
    }
    if (lastWriteError == ERROR_SHARING_VIOLATION || lastWriteError == ERROR_LOCK_VIOLATION)
        return OutputFailure::kFileInUse;
    if (lastWriteError == ERROR_ACCESS_DENIED || lastWriteError == ERROR_WRITE_PROTECT)
        return OutputFailure::kAccessDenied;
    if (lastWriteError == ERROR_PATH_NOT_FOUND) return OutputFailure::kFolderMissing;
    return OutputFailure::kUnknown;
}
