#include "app/BatchCommand.h"

#include <windows.h>

#include "app/Application.h"
#include "engine/BatchJob.h"
#include "engine/BatchOperations.h"
#include "sys/FileOperations.h"

namespace {

constexpr wchar_t kInvalidSource[] = L"批量图标创建操作的源路径无效";
constexpr wchar_t kInvalidTarget[] = L"批量图标创建操作的目标文件夹无效";

// A relative folder is taken from the working folder now: the folder tree is built from a drive or share only.
WideString BatchPath(const Application& app, const WideString& text, bool expand) {
    WideString path(text);
    if (expand) path.ExpandEnvironment();
    path = FullPath(path);
    app.MapSystemFolders(path);
    return path;
}

CommandOutcome Ended(ExitCode code, const wchar_t* message = nullptr) {
    CommandOutcome outcome;
    outcome.exitCode = code;
    outcome.message = message;
    return outcome;
}

ExitCode RunBatch(CommandKind kind, BatchJob& job) {
    int wrote = 0;
    switch (kind) {
        case CommandKind::kBatchExtract:
            wrote = BatchExtractIcons(&job);
            break;
        case CommandKind::kBatchConvert:
            wrote = BatchConvertPictures(&job);
            break;
        case CommandKind::kBatchSaveWindows:
            wrote = BatchSaveWindowIcons(&job);
            break;
        default:
            break;
    }
    return wrote ? ExitCode::kBatchWrote : ExitCode::kBatchWroteNothing;
}

}  // namespace

CommandOutcome RunBatchCommand(Application& app, const CommandRequest& request) {
    BatchJob job;
    if (request.kind != CommandKind::kBatchSaveWindows) {
        job.source = BatchPath(app, request.source, request.expandSource);
        const bool usable = request.kind == CommandKind::kBatchConvert ? IsRealFolder(job.source.Text(), true)
                                                                       : IsDiskFile(job.source.Text());
        if (!usable) return Ended(ExitCode::kBatchInvalidSource, kInvalidSource);
    }
    job.targetFolder = BatchPath(app, request.target, request.expandTarget);
    // The target folder is made only for a batch whose source is good, and must then be a folder on a disk: a
    // device name (NUL, CON) takes no files.
    if (job.targetFolder.IsEmpty() || !CreateFolderTree(job.targetFolder.Text()) ||
        !IsRealFolder(job.targetFolder.Text(), true)) {
        return Ended(ExitCode::kBatchInvalidTarget, kInvalidTarget);
    }
    if (request.sizes.empty()) return Ended(ExitCode::kBatchNoSizes);
    job.owner = &app;
    job.sizes = request.sizes;
    job.flags = request.flags;
    return Ended(RunBatch(request.kind, job));
}
