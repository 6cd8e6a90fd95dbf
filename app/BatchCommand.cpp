#include "app/BatchCommand.h"

#include <windows.h>

#include "app/Application.h"
#include "engine/BatchOperations.h"
#include "sys/FileOperations.h"

namespace {

constexpr wchar_t kInvalidSource[] = L"批量图标创建操作的源路径无效";
constexpr wchar_t kInvalidTarget[] = L"批量图标创建操作的目标文件夹无效";
constexpr int kMessageKind = 0;
constexpr int kMessageHeight = 130;

// A relative folder is taken from the working folder now: the folder tree is built from a drive or share only.
WideString BatchPath(const Application& app, const wchar_t* text) {
    WideString path(text);
    path.ExpandEnvironment();
    path = FullPath(path);
    app.MapSystemFolders(path);
    return path;
}

}  // namespace

void SetBatchPaths(Application& app, BatchJob& job, int kind, const wchar_t* source, const wchar_t* target) {
    app.batchKind = static_cast<uint8_t>(kind);
    job.owner = &app;
    if (kind != kBatchSaveWindows) {
        job.source = BatchPath(app, source);
        const bool usable =
            kind == kBatchConvert ? IsRealFolder(job.source.Text(), true) : IsDiskFile(job.source.Text());
        if (!usable) job.source.Clear();
    }
    job.targetFolder = BatchPath(app, target);
}

int RunBatchCommand(Application& app, BatchJob& job, const SizeList& sizes, IconJobFlags flags) {
    const int kind = app.batchKind;
    if ((kind == kBatchExtract || kind == kBatchConvert) && job.source.IsEmpty()) {
        app.ShowMessage(kInvalidSource, kMessageKind, kMessageHeight);
        return kBatchInvalidSource;
    }
    // The target folder is made only for a batch whose source is good, and must then be a folder on a disk: a
    // device name (NUL, CON) takes no files.
    if (job.targetFolder.IsEmpty() || !CreateFolderTree(job.targetFolder.Text()) ||
        !IsRealFolder(job.targetFolder.Text(), true)) {
        job.targetFolder.Clear();
        app.ShowMessage(kInvalidTarget, kMessageKind, kMessageHeight);
        return kBatchInvalidTarget;
    }
    if (sizes.empty()) return kBatchNoSizes;
    job.owner = &app;
    job.sizes = sizes;
    job.flags = flags;
    switch (kind) {
        case kBatchExtract:
            return BatchExtractIcons(&job);
        case kBatchConvert:
            return BatchConvertPictures(&job);
        case kBatchSaveWindows:
            return BatchSaveWindowIcons(&job);
        default:
            return 0;
    }
}
