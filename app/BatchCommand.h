#pragma once

#include "engine/BatchJob.h"
#include "engine/IconJobFlags.h"
#include "sys/WideString.h"

class Application;

// Values of Application::batchKind.
constexpr int kBatchNone = 0;
constexpr int kBatchExtract = 1;
constexpr int kBatchConvert = 2;
constexpr int kBatchSaveWindows = 3;

// Results of a batch command besides the batch's own 1 or 0; the process exit code is the result as a byte.
constexpr int kBatchNoSizes = 2;
constexpr int kBatchInvalidSource = -2;
constexpr int kBatchInvalidTarget = -3;
// An argument that no option takes (an unknown option, a path too many): nothing runs and nothing is created.
constexpr int kBatchInvalidOption = -4;

// Records a batch option: the kind in app.batchKind, the job's owner, and its source (not for kBatchSaveWindows)
// and target folder, each with environment variables expanded and passed through MapSystemFolders. A conversion
// source that is not an existing folder, or an extraction source that is not a file on a disk (a missing file, a
// device such as COM1), is emptied: empty paths later give the invalid-source or invalid-target result.
void SetBatchPaths(Application& app, BatchJob& job, int kind, const wchar_t* source, const wchar_t* target);

// Runs the batch that app.batchKind names, on this thread and to the end, after its checks: an empty source
// (extract, convert) shows its message and gives kBatchInvalidSource before anything is created; then the target
// folder is created with its missing parents, and one that can't be, or is no folder (NUL), gives
// kBatchInvalidTarget; an empty size list kBatchNoSizes. Otherwise the job receives the sizes and flags and the result
// is the batch's (1 or 0).
int RunBatchCommand(Application& app, BatchJob& job, const SizeList& sizes, IconJobFlags flags);
