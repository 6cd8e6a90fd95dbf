#pragma once

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
