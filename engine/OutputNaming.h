#pragma once

#include "sys/WideString.h"

// The output path with " (backup)" inserted before its extension (appended when it has none).
WideString BackupPath(const WideString& output);

// Moves an existing output file to its backup name so that a failed job can put it back. When the item (the job's
// source, may be null) is the output file itself, under whatever name, it is redirected to the backup, which holds
// that file from now on. backup receives the backup path. True when a file was moved now.
bool MoveAsideExisting(const WideString& output, WideString* item, WideString& backup);

// Completes one output after its job: announces the new file, or puts the moved-aside file back when the job
// failed. True, or the result of putting the backup back.
bool FinishOutput(const WideString& backup, const WideString& output, bool moved, bool succeeded);
