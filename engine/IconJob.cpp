#include "engine/IconJob.h"

#include <utility>
#include <vector>

#include "engine/IconGroups.h"
#include "engine/IconWriter.h"
#include "engine/OutputNaming.h"
#include "sys/FileOperations.h"
#include "sys/TempFiles.h"

namespace {

constexpr IconJobFlags kSourceBits = kFromResource | kFromWindow;
constexpr size_t kMaxEntries = 0xFFFF;

// The source's images of every size, written at exactly this path. A source that gave no image for a size is
// kNotAPicture; a failed write carries its step's error.
Result WriteFromSource(const IconSource& source, const SizeList& sizes, const WideString& path, int32_t index,
                       IconJobFlags flags, const WideString& fallback, DecodedPicture& decoded) {
    if (sizes.empty()) return Result::Failed(Failure::kUnknown);
    if (flags & kPngs) {
        WorkingImage image = LoadIconImage(source, sizes.back(), flags, fallback, index, &decoded);
        decoded.Release();
        std::vector<uint8_t> png;
        if (!image || !EncodePng(image, png)) return Result::Failed(Failure::kNotAPicture);
        return WritePngFile(png, path);
    }
    if (sizes.size() > kMaxEntries) return Result::Failed(Failure::kUnknown);

    std::vector<IconEntry> entries(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        entries[i].width = sizes[i];
        entries[i].height = sizes[i];
        // A library's own PNG entry of the size holds exactly the pixels that would be encoded again.
        std::vector<uint8_t> own;
        if ((flags & kFromResource) && source.library && StoredAsPng(sizes[i], flags) &&
            source.library->GroupPng(index, sizes[i], own)) {
            SetPngEntry(entries[i], std::move(own));
            continue;
        }
        WorkingImage image = LoadIconImage(source, sizes[i], flags, fallback, index, &decoded);
        if (!image || !PrepareIconEntry(std::move(image), entries[i], flags))
            return Result::Failed(Failure::kNotAPicture);
    }
    // The imaging library lets go of the picture's file before the output, which may be that file, is replaced.
    decoded.Release();
    return WriteIconEntries(entries, path);
}

Result WriteFromSource(const IconSource& source, const SizeList& sizes, const WideString& path, int32_t index,
                       IconJobFlags flags, const WideString& fallback) {
    DecodedPicture decoded(sizes, flags);
    return WriteFromSource(source, sizes, path, index, flags, fallback, decoded);
}

// A picture when the file decodes as one, else the icon the shell shows for it.
Result WriteFileSource(const IconRequest& request, const WideString& output, IconJobFlags flags) {
    {
        DecodedPicture picture(request.sizes, flags);
        const Result written =
            WriteFromSource(IconSource(request.sourcePath), request.sizes, output, 0, flags, WideString(), picture);
        if (written || picture.IsPicture()) return written;
    }
    int32_t index = 0;
    const ReachableFile reachable(ShellIconFile(request.sourcePath, index));
    return WriteFromSource(IconSource(reachable.Path()), request.sizes, output, index, flags | kFromResource,
                           request.sourcePath);
}

Result WriteResourceSource(const IconRequest& request, const WideString& output, IconJobFlags flags) {
    if (flags & kOriginal) {
        std::vector<uint8_t> ico;
        const ReachableFile file(request.sourcePath);
        const Result read = ReadOriginalIcon(file.Path(), request.iconIndex, ico);
        return read ? WriteOutputBytes(ico, output) : read;
    }
    if (request.library) {
        IconSource source(request.sourcePath);
        source.library = request.library;
        return WriteFromSource(source, request.sizes, output, request.iconIndex, flags, WideString());
    }
    // The loader and the shell's extractors refuse paths of MAX_PATH and more.
    const ReachableFile file(request.sourcePath);
    return WriteFromSource(IconSource(file.Path()), request.sizes, output, request.iconIndex, flags, WideString());
}

// Whether the source can be read at all; a window source gets its icons here.
Result CheckSource(const IconRequest& request, WindowIconPair& icons) {
    switch (request.kind) {
        case IconSourceKind::kFile:
            return IsReadableSource(request.sourcePath) ? Result() : Result::Failed(Failure::kNoSource);
        case IconSourceKind::kResource:
            if (request.library || IsReadableDiskFile(request.sourcePath.Text())) return Result();
            return Result::Failed(Failure::kNoSource);
        case IconSourceKind::kWindow:
            icons = request.windowIcons ? request.windowIcons : ReadWindowIcons(request.window);
            return icons ? Result() : Result::Failed(Failure::kNoIcon);
    }
    return Result::Failed(Failure::kNoSource);
}

WideString SourceName(const IconRequest& request) {
    if (!request.sourceName.IsEmpty() || request.kind == IconSourceKind::kWindow) return request.sourceName;
    WideString path(request.sourcePath);
    path.StripTrailingBackslashes();
    return path.FileName();
}

bool KeepsBackup(const IconRequest& request, const WideString& output) {
    switch (request.backup) {
        case OutputBackupRule::kAlways:
            return true;
        case OutputBackupRule::kWhenOutputIsSource:
            return request.kind != IconSourceKind::kWindow && IsSameFile(request.sourcePath, output);
        case OutputBackupRule::kNever:
            break;
    }
    return false;
}

IconJobResult Finished(IconJobResult job) {
    RememberOutputResult(job.result);
    return job;
}

// A single job of the thin operations below: the output is the file given, and nothing is kept.
IconRequest SingleRequest(IconSourceKind kind, const WideString& output, const SizeList& sizes, IconJobFlags flags) {
    IconRequest request;
    request.kind = kind;
    request.target = output;
    request.targetIsFile = true;
    request.backup = OutputBackupRule::kNever;
    request.sizes = sizes;
    request.flags = flags;
    return request;
}

IconJobFlags JobFlags(const IconRequest& request) {
    IconJobFlags flags = request.flags & ~kSourceBits;
    if (request.kind == IconSourceKind::kResource) flags |= kFromResource;
    if (request.kind == IconSourceKind::kWindow) flags |= kFromWindow;
    // A group kept as it is stays an .ico whatever the target's extension asked for.
    if ((flags & kOriginal) && request.kind == IconSourceKind::kResource) flags &= ~kPngs;
    return flags;
}

}  // namespace

WideString IconJobOutput(const IconRequest& request) {
    const IconJobFlags flags = JobFlags(request);
    if (!request.targetIsFile) return OutputFilePath(request.target, SourceName(request), flags);
    WideString output(request.target);
    EnsureOutputExtension(output, flags);
    return output;
}

IconJobResult RunIconJob(const IconRequest& request) {
    IconJobResult job;
    const IconJobFlags flags = JobFlags(request);
    // Decided once, before anything is moved aside: the backup and the write are for the same name.
    job.output = IconJobOutput(request);
    if (job.output.IsEmpty()) {
        job.result = Result::Failed(Failure::kNoTarget);
        return Finished(std::move(job));
    }
    // A source with nothing to write leaves an existing output untouched, without a backup.
    WindowIconPair icons;
    job.result = CheckSource(request, icons);
    if (!job.result) return Finished(std::move(job));

    OutputBackup backup;
    const bool keepsBackup = KeepsBackup(request, job.output);
    if (keepsBackup) {
        job.result = MoveAsideExisting(job.output, backup);
        // An output whose content could not be kept is not replaced.
        if (!job.result) return Finished(std::move(job));
    }
    switch (request.kind) {
        case IconSourceKind::kFile:
            job.result = WriteFileSource(request, job.output, flags);
            break;
        case IconSourceKind::kResource:
            job.result = WriteResourceSource(request, job.output, flags);
            break;
        case IconSourceKind::kWindow:
            job.result = WriteFromSource(IconSource(icons.smallIcon, icons.largeIcon), request.sizes, job.output, 0,
                                         flags, WideString());
            break;
    }
    // Looked at before the backup is undone, which leaves errors of its own.
    if (!job.result && job.result.Cause() != Failure::kNotAPicture && job.result.Cause() != Failure::kNoSource)
        job.result = DiagnoseOutputFailure(job.output, job.result.Error());
    if (keepsBackup) FinishOutput(backup, job.output, job.result.Ok());
    return Finished(std::move(job));
}

bool WriteIconFile(const IconSource& source, const SizeList& sizes, const WideString& outputPath, int32_t index,
                   IconJobFlags flags, const WideString& fallback, DecodedPicture* picture) {
    if (!picture) return WriteFromSource(source, sizes, outputPath, index, flags, fallback).Ok();
    return WriteFromSource(source, sizes, outputPath, index, flags, fallback, *picture).Ok();
}

bool MakeIconFromFile(const WideString& source, const WideString& output, const SizeList& sizes, IconJobFlags flags) {
    IconRequest request = SingleRequest(IconSourceKind::kFile, output, sizes, flags);
    request.sourcePath = source;
    return RunIconJob(request).result.Ok();
}

bool MakeIconFromLibrary(const IconLibrary& library, const WideString& path, int32_t index, const WideString& output,
                         const SizeList& sizes, IconJobFlags flags) {
    IconRequest request = SingleRequest(IconSourceKind::kResource, output, sizes, flags);
    request.sourcePath = path;
    request.iconIndex = index;
    request.library = &library;
    return RunIconJob(request).result.Ok();
}

bool MakeIconFromResource(const WideString& path, int32_t index, const WideString& output, const SizeList& sizes,
                          IconJobFlags flags) {
    IconRequest request = SingleRequest(IconSourceKind::kResource, output, sizes, flags);
    request.sourcePath = path;
    request.iconIndex = index;
    return RunIconJob(request).result.Ok();
}

bool MakeIconFromWindow(HWND window, const WideString& output, const SizeList& sizes, IconJobFlags flags) {
    IconRequest request = SingleRequest(IconSourceKind::kWindow, output, sizes, flags);
    request.window = window;
    return RunIconJob(request).result.Ok();
}
