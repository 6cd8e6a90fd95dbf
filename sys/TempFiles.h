#pragma once

#include <windows.h>

#include <cstddef>

#include "sys/Handles.h"
#include "sys/WideString.h"

// A new file written under a temporary name in the folder of its final path and then put in place in one step, so
// that the final path holds either its old content or the complete new one at every moment. Unless committed, the
// temporary file is removed when its owner goes away; a failed commit leaves the old file as it was.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates the temporary file beside the final path (any length). False when the folder takes no new file. The
    // first one in a folder also removes temporary files there that runs which no longer run left behind.
    bool Create(const WideString& finalPath);
    // Appends bytes; false on a short or failed write (a full disk).
    bool Write(const void* data, size_t size);
    // Closes the temporary file and moves it to the final path; an older file there is replaced only after the new
    // data has reached the disk. True when the new file is in place; replaced then tells whether a file stood at the
    // final path before.
    bool Commit(bool* replaced = nullptr);
    // Moves the temporary file to the final path only while no file stands there, in one step that fails when one
    // does (ERROR_ALREADY_EXISTS): another writer's file that took the name meanwhile is never replaced. After a
    // failure the temporary file stays, for another commit.
    bool CommitNew();
    // The temporary file, empty before Create.
    const WideString& TemporaryPath() const { return temporary_; }

private:
    bool FlushStaged();
    bool ReplaceHeldFile();

    WideString final_;
    WideString temporary_;
    FileHandle file_;
    bool committed_ = false;
};

// A path to an existing file that calls limited to MAX_PATH accept (the loader, the shell's icon extractors): the
// path itself when it is short enough, else its short form, else a copy in the temporary folder that is removed
// when the owner goes away.
class ReachableFile {
public:
    explicit ReachableFile(const WideString& path);
    ~ReachableFile();
    ReachableFile(const ReachableFile&) = delete;
    ReachableFile& operator=(const ReachableFile&) = delete;

    // The path to use; the original one when nothing shorter could be made.
    const WideString& Path() const { return path_; }

private:
    WideString path_;
    WideString copy_;
};
