#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/IconJobFlags.h"
#include "engine/IconLibrary.h"
#include "engine/IconSources.h"
#include "engine/WindowIcons.h"
#include "sys/Result.h"
#include "sys/WideString.h"

// What an icon job reads its pictures from.
enum class IconSourceKind : uint8_t {
    kFile,      // a picture, or else the icon the shell shows for the file or folder
    kResource,  // the icon at an index of a file that holds icon resources
    kWindow,    // a window's small and large icon
};

// When a job keeps the content of an existing output as its " (backup)" before replacing it.
enum class OutputBackupRule : uint8_t {
    kAlways,
    kWhenOutputIsSource,  // only when the output is the source file itself, which the job would otherwise lose
    kNever,
};

// One icon or PNG file to make.
struct IconRequest {
    IconSourceKind kind = IconSourceKind::kFile;
    WideString sourcePath;  // kFile, kResource
    int32_t iconIndex = 0;  // kResource: position among the file's icon groups (negative: the negated group id)
    // kResource: the file at sourcePath already loaded by the caller, which then gives the sizes it holds itself;
    // null to have the loader and the shell read the file.
    const IconLibrary* library = nullptr;
    // kWindow: icons already read with ReadWindowIcons; when empty, the window's are read.
    HWND window = nullptr;
    WindowIconPair windowIcons;
    // The name a folder target gives the output; empty: the source file's name. A window has none of its own.
    WideString sourceName;

    SizeList sizes;
    IconJobFlags flags = 0;  // kFromResource and kFromWindow follow the kind

    // A file path, or a folder (an existing one, or any path ending in "\") that takes the source's name
    // (OutputFilePath). With targetIsFile the target is the output itself and only its extension is brought in line.
    WideString target;
    bool targetIsFile = false;
    OutputBackupRule backup = OutputBackupRule::kAlways;
};

struct IconJobResult {
    // kNoSource: the source can't be read or names nothing; kNotAPicture: it gave no image for a size; kNoIcon: a
    // window without icons, which has nothing to write; kNoTarget: no output name comes out of the target; else
    // why the backup or the write failed (DiagnoseOutputFailure).
    Result result;
    WideString output;  // the file the job wrote or would have written; empty with kNoTarget

    bool Skipped() const { return result.Cause() == Failure::kNoIcon; }
};

// Names the output once, keeps an existing output as its backup (MoveAsideExisting), makes one image per size from
// the source, writes them through a staged file, and keeps the backup or undoes it (FinishOutput). A failed job
// leaves the output and its backups as they were. The outcome is also remembered for LastOutputFailure.
IconJobResult RunIconJob(const IconRequest& request);
// The file RunIconJob writes for the request, decided the way it decides it; empty when no name comes out.
WideString IconJobOutput(const IconRequest& request);

// The source's image of every size written as an .ico (or with kPngs one .png of the last size) at exactly
// outputPath: no naming and no backup. Every size is prepared in memory before the file is created. A caller that
// needs to know whether a picture source decoded passes its own cache. True when the whole file was written.
bool WriteIconFile(const IconSource& source, const SizeList& sizes, const WideString& outputPath, int32_t index,
                   IconJobFlags flags, const WideString& fallback, DecodedPicture* picture = nullptr);

// Single jobs without backup into the output file given (its extension brought in line with the flags). True when
// the file was written.
// Any file that IsReadableSource accepts: as a picture when it decodes, else the icon the shell shows for it. A
// picture whose file could not be written is not replaced by the shell's icon.
bool MakeIconFromFile(const WideString& source, const WideString& output, const SizeList& sizes, IconJobFlags flags);
// The icon group at position index of a library loaded from path (the file the shell's extractor reads for a size
// the library can't give).
bool MakeIconFromLibrary(const IconLibrary& library, const WideString& path, int32_t index, const WideString& output,
                         const SizeList& sizes, IconJobFlags flags);
// The icon with the given index of a resource file, which must be a readable disk file.
bool MakeIconFromResource(const WideString& path, int32_t index, const WideString& output, const SizeList& sizes,
                          IconJobFlags flags);
// A window's icon pair (ReadWindowIcons); a window with neither icon gets no file.
bool MakeIconFromWindow(HWND window, const WideString& output, const SizeList& sizes, IconJobFlags flags);
