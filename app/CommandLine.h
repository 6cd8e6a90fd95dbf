#pragma once

#include "engine/IconJobFlags.h"
#include "sys/WideString.h"

class Application;

// What a command line asks for.
enum class CommandKind {
    kNothing,   // no arguments: the main window opens
    kOpenPath,  // one argument alone: the main window opens with it as its source, when it exists
    kConvert,
    kExtract,
    kBatchExtract,
    kBatchConvert,
    kBatchSaveWindows,
    kInvalid,  // arguments that name no job: the error is shown, then the main window opens
};

// A command line as written, read without looking at files or running anything.
struct CommandRequest {
    CommandKind kind = CommandKind::kNothing;
    // A single job's source and target, or a batch's source and target folder (a batch option's paths, and the
    // paths after /convert and /extract, get their environment variables expanded when the job runs; "=" options
    // take theirs as written). For kOpenPath, source is the path as given with one pair of enclosing quotes gone.
    WideString source;
    WideString target;
    bool expandSource = false;
    bool expandTarget = false;
    // Empty when /formats= named no usable size: nothing runs.
    SizeList sizes{16, 32, 48, 256};
    IconJobFlags flags = kPngc | kCenter;
    // The relaunch after an update puts /PostUpdate before the user's arguments.
    bool afterUpdate = false;
    // Why the command line is not run as given (an argument no option takes); shown to the user.
    const wchar_t* error = nullptr;
};

// Reads a command-line tail (what follows the program's name).
CommandRequest ReadCommandLine(const wchar_t* commandTail);

// Removes one pair of quotes that encloses the whole text.
void DropEnclosingQuotes(WideString& text);

// Reads the command-line tail, runs what it asks for and shows the message of its outcome. Results: 0 nothing to
// do, 1 single job written, 2 single job failed (also: not run because an argument was not understood), 3/4 one
// existing path (ordinary / resource file), -2 invalid command line; with a batch command the batch result (1, 0, 2,
// -2, -3, and -4 for an argument not understood).
int ParseCommandLine(Application& app, const wchar_t* commandTail, WideString& source, WideString& target,
                     WideString& iconIndex);
