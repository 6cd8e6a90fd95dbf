#pragma once

#include <windows.h>

#include "engine/IconJobFlags.h"
#include "sys/WideString.h"

// The output path with " (backup)" inserted before its extension (appended when it has none); from n = 2 on
// " (backup n)": C:\out\a.ico gives C:\out\a (backup).ico, then C:\out\a (backup 2).ico.
WideString BackupPath(const WideString& output, int n = 1);

// What MoveAsideExisting did for one output, for FinishOutput to keep or undo.
struct OutputBackup {
    WideString path;       // the output's backup name
    WideString displaced;  // where an earlier file of the backup name went; empty when none was moved
    bool kept = false;     // the output's content was kept under the backup name now
};

// Keeps the content of an existing output under its backup name before a job replaces the output. An earlier file
// of the backup name is never replaced: it moves to the next free numbered name first. The output itself stays in
// place, so a job whose source is the output reads it as it is now, and a failed job leaves it as it was.
// True when the output may be replaced: no file stands there, or its content is kept now.
bool MoveAsideExisting(const WideString& output, OutputBackup& backup);

// Completes one output after its job. After a failure the output is unchanged, so the backup made for it is
// removed and an earlier backup gets its name back. True, or the result of that undo.
bool FinishOutput(const OutputBackup& backup, const WideString& output, bool succeeded);

// The file a job given this target writes, decided once, before anything is moved aside: a target that names a
// folder (an existing one, or any path ending in a backslash) takes sourceName inside that folder, as an output
// without a name takes the source's; then the extension the flags ask for (EnsureOutputExtension). Empty when no
// file name comes out (a folder target and an empty source name).
WideString OutputFilePath(const WideString& target, const WideString& sourceName, IconJobFlags flags);

// Why a job wrote no file, as far as the job and the file system tell. Each page words these its own way.
enum class OutputFailure { kUnknown, kFolderMissing, kFileInUse, kDiskFull, kAccessDenied, kNotAPicture };

// The cause of the last failed icon or PNG write of this thread (WriteIconFile and the operations built on it) for
// the given output: a source that gave no image is kNotAPicture; otherwise the write's error code and a look at
// the output's folder and file decide.
OutputFailure LastOutputFailure(const WideString& output);
// Records the outcome of one write of this thread: the Win32 error of the failing file step (0 when the file step
// did not fail), and whether the source gave every image.
void NoteOutputFailure(DWORD error, bool sourceFailed);
