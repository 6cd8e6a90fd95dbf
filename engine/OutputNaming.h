#pragma once

#include <windows.h>

#include "engine/IconJobFlags.h"
#include "sys/Result.h"
#include "sys/TempFiles.h"
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
// of the backup name is never replaced: it moves to the next free numbered name first; a backup name that is only
// a second name of the output itself (left by a run that was killed) is no earlier file and is taken over. The
// output itself stays in place, so a job whose source is the output reads it as it is now, and a failed job leaves
// it as it was. Success when the output may be replaced: no file stands there, or its content is kept now; else why
// not (DiagnoseOutputFailure).
// Until FinishOutput, the job's write of this output on this thread replaces nothing that is not kept
// (CommitStagedOutput): another run that writes the same name meanwhile loses nothing.
Result MoveAsideExisting(const WideString& output, OutputBackup& backup);

// Completes one output after its job. After a failure the backup made for it is removed while it still holds what
// the output holds, and an earlier backup gets its name back; a backup of a file that another run replaced
// meanwhile stays. True, or the result of that undo.
bool FinishOutput(const OutputBackup& backup, const WideString& output, bool succeeded);

// Puts a staged output in place. An output whose job keeps backups (between MoveAsideExisting and FinishOutput on
// this thread) takes a free name without replacing anything; a file that stands there at this moment is replaced
// only while it is kept under the backup name, else it is kept there first. Runs of this program writing the same
// output take turns for this step. Any other output simply replaces what stands there. True when the new file is
// in place; replaced tells whether it took the place of an older file.
bool CommitStagedOutput(StagedFile& staged, const WideString& output, bool& replaced);

// The file a job given this target writes, decided once, before anything is moved aside: a target that names a
// folder (an existing one, or any path ending in a backslash) takes sourceName inside that folder, as an output
// without a name takes the source's; then the extension the flags ask for (EnsureOutputExtension). Empty when no
// file name comes out (a folder target and an empty source name).
WideString OutputFilePath(const WideString& target, const WideString& sourceName, IconJobFlags flags);

// Why a step that writes or keeps this output failed with this Windows error: a look at the output's folder (gone)
// and file (held open by another program) first, then the error itself.
Result DiagnoseOutputFailure(const WideString& output, DWORD error);

// The pages still ask after the fact why the last job of their thread failed, until they take RunIconJob's result:
// RunIconJob and a failed MoveAsideExisting remember their outcome here. A source that gave no image is
// kNotAPicture; otherwise the remembered error and a look at the given output decide (DiagnoseOutputFailure).
void RememberOutputResult(const Result& result);
Failure LastOutputFailure(const WideString& output);
