#pragma once

#include "app/CommandLine.h"
#include "app/CommandRunner.h"

class Application;

// Runs the batch that the request names, on this thread and to the end, after its checks. The source (not for
// windows) and target folder get their environment variables expanded, are taken from the working folder and pass
// through MapSystemFolders. A conversion source that is not an existing folder, or an extraction source that is not
// a file on a disk (a missing file, a device such as COM1), gives kBatchInvalidSource before anything is created;
// then the target folder is created with its missing parents, and one that can't be, or is no folder (NUL), gives
// kBatchInvalidTarget; an empty size list kBatchNoSizes. Otherwise the exit code is the batch's.
CommandOutcome RunBatchCommand(Application& app, const CommandRequest& request);
