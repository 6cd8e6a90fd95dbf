#include "app/CommandRunner.h"

#include <windows.h>

#include "app/Application.h"
#include "app/BatchCommand.h"
#include "engine/IconJob.h"
#include "engine/IconLibrary.h"
#include "engine/IconSources.h"
#include "engine/IconWriter.h"
#include "sys/FileOperations.h"

namespace {

constexpr int kMessageKind = 0;
constexpr int kMessageHeight = 130;
constexpr int kPreloadNothing = 0;
constexpr int kPreloadFile = 3;
constexpr int kPreloadResourceFile = 4;
constexpr int kPreloadAfterInvalid = -2;

CommandOutcome Ended(ExitCode code, const wchar_t* message = nullptr) {
    CommandOutcome outcome;
    outcome.exitCode = code;
    outcome.message = message;
    return outcome;
}

CommandOutcome OpensWindow(int preload, const WideString& source = WideString(), const wchar_t* message = nullptr) {
    CommandOutcome outcome;
    outcome.opensWindow = true;
    outcome.preload = preload;
    outcome.source = source;
    outcome.message = message;
    return outcome;
}

bool IsBatch(CommandKind kind) {
    return kind == CommandKind::kBatchExtract || kind == CommandKind::kBatchConvert ||
           kind == CommandKind::kBatchSaveWindows;
}

// One existing path given alone: the main window opens with it as its source. A path still quoted after one pair
// of quotes went is opened without its second pair.
CommandOutcome OpenLonePath(WideString path) {
    if (!FileExists(path.Text(), true)) return OpensWindow(kPreloadNothing);
    DropEnclosingQuotes(path);
    return OpensWindow(IsResourceFileName(path) ? kPreloadResourceFile : kPreloadFile, path);
}

WideString JobPath(const WideString& given, bool expand) {
    WideString path(given);
    if (expand) path.ExpandEnvironment();
    return path;
}

// Converts or extracts the single source. An output that names the source file itself keeps the source's current
// content as its backup; without that backup the job does not run, so the source is never lost. An empty source,
// or an icon index beyond 32 bits, names nothing to convert.
bool RunSingleJob(Application& app, const CommandRequest& request) {
    WideString source = JobPath(request.source, request.expandSource);
    WideString target = JobPath(request.target, request.expandTarget);
    IconJobFlags flags = request.flags;
    int32_t index = 0;
    if ((flags & kFromResource) && !SplitIconLocation(source, index)) return false;
    if (source.IsEmpty()) return false;
    app.MapSystemFolders(source);
    // "out.png." names out.png, so its extension decides as well.
    DropTrailingDotsAndSpaces(target);
    if (target.Extension(false).EqualsIgnoreCase(L"png")) flags |= kPngs;
    if (target.IsEmpty()) target = source;
    app.MapSystemFolders(target);

    IconRequest job;
    job.kind = (flags & kFromResource) ? IconSourceKind::kResource : IconSourceKind::kFile;
    job.sourcePath = source;
    job.iconIndex = index;
    job.sizes = request.sizes;
    job.flags = flags;
    job.target = target;
    // An output that is the source file itself keeps the source's content as its backup; any other output is
    // replaced as a script expects.
    job.backup = OutputBackupRule::kWhenOutputIsSource;
    return RunIconJob(job).result.Ok();
}

}  // namespace

CommandOutcome RunCommand(Application& app, const CommandRequest& request) {
    if (request.afterUpdate) app.startedAfterUpdate = true;
    const bool batch = IsBatch(request.kind);
    switch (request.kind) {
        case CommandKind::kNothing:
            return OpensWindow(kPreloadNothing);
        case CommandKind::kOpenPath:
            return OpenLonePath(request.source);
        default:
            break;
    }
    // Without a size nothing runs, whatever else the command line holds.
    if (request.sizes.empty()) return Ended(batch ? ExitCode::kBatchNoSizes : ExitCode::kJobFailed);
    if (request.kind == CommandKind::kInvalid) return OpensWindow(kPreloadAfterInvalid, WideString(), request.error);
    if (request.error) return Ended(batch ? ExitCode::kBatchInvalidOption : ExitCode::kJobFailed, request.error);
    if (batch) return RunBatchCommand(app, request);
    return Ended(RunSingleJob(app, request) ? ExitCode::kSuccess : ExitCode::kJobFailed);
}

CommandOutcome RunCommandLine(Application& app, const CommandRequest& request) {
    CommandOutcome outcome = RunCommand(app, request);
    if (outcome.message) app.ShowMessage(outcome.message, kMessageKind, kMessageHeight);
    return outcome;
}
