#include "app/CommandRunner.h"

#include <windows.h>

#include "app/Application.h"
#include "app/BatchCommand.h"
#include "engine/IconSources.h"
#include "engine/IconWriter.h"
#include "engine/OutputNaming.h"
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

bool IsResourcePath(const Application& app, const WideString& path) {
    const WideString extension = path.Extension(true);
    if (extension.Length() < 4) return false;
    return app.resourceExtensions.Find(WideString::Concat(extension, L"|").Text(), false) > 0;
}

// One existing path given alone: the main window opens with it as its source. A path still quoted after one pair
// of quotes went is opened without its second pair.
CommandOutcome OpenLonePath(const Application& app, WideString path) {
    if (!FileExists(path.Text(), true)) return OpensWindow(kPreloadNothing);
    DropEnclosingQuotes(path);
    return OpensWindow(IsResourcePath(app, path) ? kPreloadResourceFile : kPreloadFile, path);
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
    WideString sourceName(source);
    sourceName.StripTrailingBackslashes();
    target = OutputFilePath(target, sourceName.FileName(), flags);
    if (target.IsEmpty()) return false;

    OutputBackup backup;
    const bool targetIsSource = IsSameFile(source, target);
    if (targetIsSource && !MoveAsideExisting(target, backup)) return false;
    const bool written = (flags & kFromResource) ? MakeIconFromResource(source, index, target, request.sizes, flags)
                                                 : MakeIconFromFile(source, target, request.sizes, flags);
    if (targetIsSource) FinishOutput(backup, target, written);
    return written;
}

}  // namespace

CommandOutcome RunCommand(Application& app, const CommandRequest& request) {
    if (request.afterUpdate) app.startedAfterUpdate = true;
    const bool batch = IsBatch(request.kind);
    switch (request.kind) {
        case CommandKind::kNothing:
            return OpensWindow(kPreloadNothing);
        case CommandKind::kOpenPath:
            return OpenLonePath(app, request.source);
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
