#include "app/CommandLine.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "app/Application.h"
#include "app/BatchCommand.h"
#include "engine/BatchJob.h"
#include "engine/IconJob.h"
#include "engine/IconJobFlags.h"
#include "engine/IconSources.h"
#include "engine/IconWriter.h"
#include "engine/OutputNaming.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"
#include "sys/TokenList.h"

namespace {

constexpr int kMaxSizes = 8;
constexpr int kMinSize = 16;
constexpr int kMaxSize = 1024;
constexpr int kMessageHeight = 130;
constexpr wchar_t kInvalidOption[] = L"无效的命令行选项";

bool IsOptionPrefix(wchar_t c) {
    return c == L'/' || c == L'-';
}

// Whole-form option: "/name" or "-name", ignoring case.
bool IsOption(const WideString& argument, const wchar_t* name) {
    if (argument.Length() < 2 || !IsOptionPrefix(argument.Text()[0])) return false;
    return WideString(argument.Text() + 1).EqualsIgnoreCase(name);
}

// Prefix-form option ("/img=..."); on a match value receives the rest of the argument.
bool IsPrefixOption(const WideString& argument, const wchar_t* name, WideString& value) {
    if (argument.Length() < 1 || !IsOptionPrefix(argument.Text()[0])) return false;
    WideString rest(argument.Text() + 1);
    if (!rest.StartsWith(name, false)) return false;
    value = rest.Text() + lstrlenW(name);
    return true;
}

// "/png" or "-png" starting within the first three characters of the argument.
bool HasPngOption(const WideString& argument) {
    for (const wchar_t* marker : {L"/png", L"-png"}) {
        const int position = argument.Find(marker, false);
        if (position >= 1 && position <= 3) return true;
    }
    return false;
}

WideString TakenArgument(const wchar_t* text) {
    WideString value(text);
    value.ExpandEnvironment();
    return value;
}

// Reads the items of "/formats=" as the C library reads a long: sizes 16 to 1024 are kept, each once (a repeated
// size would only store the same picture again), at most eight.
void ReadSizes(const WideString& items, SizeList& sizes) {
    sizes.clear();
    TokenList list;
    list.Split(items.Text(), L",", false);
    for (int i = 0; i < list.Count() && static_cast<int>(sizes.size()) < kMaxSizes; ++i) {
        const long value = std::wcstol(list.Item(i), nullptr, 10);
        if (value < kMinSize || value > kMaxSize) continue;
        if (std::find(sizes.begin(), sizes.end(), static_cast<int>(value)) == sizes.end())
            sizes.push_back(static_cast<int>(value));
    }
}

bool IsResourcePath(const Application& app, const WideString& path) {
    const WideString extension = path.Extension(true);
    if (extension.Length() < 4) return false;
    return app.resourceExtensions.Find(WideString::Concat(extension, L"|").Text(), false) > 0;
}

// One existing path given alone: the main window opens with it as its source.
int ParseLonePath(const Application& app, WideString tail, WideString& source) {
    auto dropQuotes = [](WideString& text) {
        const int length = text.Length();
        if (length < 2 || text.Text()[0] != L'"' || text.Text()[length - 1] != L'"') return;
        if (length == 2)
            text.Clear();
        else
            text.Mid(2, length - 2);
    };
    dropQuotes(tail);
    if (!FileExists(tail.Text(), true)) return 0;
    dropQuotes(tail);
    source = tail;
    return IsResourcePath(app, source) ? 4 : 3;
}

struct SingleJob {
    IconJobFlags flags = kPngc | kCenter;
    SizeList sizes{16, 32, 48, 256};
};

// Converts or extracts the single source. An output that names the source file itself keeps the source's current
// content as its backup; without that backup the job does not run, so the source is never lost. An empty source,
// or an icon index beyond 32 bits, names nothing to convert.
bool RunSingleJob(Application& app, WideString source, WideString target, SingleJob job) {
    int32_t index = 0;
    if ((job.flags & kFromResource) && !SplitIconLocation(source, index)) return false;
    if (source.IsEmpty()) return false;
    app.MapSystemFolders(source);
    // "out.png." names out.png, so its extension decides as well.
    DropTrailingDotsAndSpaces(target);
    if (target.Extension(false).EqualsIgnoreCase(L"png")) job.flags |= kPngs;
    if (target.IsEmpty()) target = source;
    app.MapSystemFolders(target);
    WideString sourceName(source);
    sourceName.StripTrailingBackslashes();
    target = OutputFilePath(target, sourceName.FileName(), job.flags);
    if (target.IsEmpty()) return false;

    OutputBackup backup;
    const bool targetIsSource = IsSameFile(source, target);
    if (targetIsSource && !MoveAsideExisting(target, backup)) return false;
    const bool written = (job.flags & kFromResource) ? MakeIconFromResource(source, index, target, job.sizes, job.flags)
                                                     : MakeIconFromFile(source, target, job.sizes, job.flags);
    if (targetIsSource) FinishOutput(backup, target, written);
    return written;
}

}  // namespace

int ParseCommandLine(Application& app, const wchar_t* commandTail, WideString& source, WideString& target,
                     WideString&) {
    if (commandTail == nullptr || commandTail[0] == 0) return 0;
    WideString tail(commandTail);

    const int marker = tail.Find(L"/PostUpdate", false);
    if (marker >= 1 && marker <= 3) {
        app.startedAfterUpdate = true;
        tail.DropLeft(marker - 1 + lstrlenW(L"/PostUpdate"));
        tail.Trim(WideString::kTrimLeading | WideString::kTrimTrailing);
        // The platform splits an empty text into the program's own path; nothing after the marker means no
        // arguments.
        if (tail.IsEmpty()) return 0;
    }

    // The platform reads its first argument as a program name, where quotes don't group; a stand-in name puts
    // every argument of the tail under the ordinary rules.
    const WideString line = WideString::Concat(L"Glyphwright ", tail);
    int count = 0;
    LocalMemoryHandle argumentBlock(reinterpret_cast<HLOCAL>(CommandLineToArgvW(line.Text(), &count)));
    if (!argumentBlock || count <= 1) return 0;
    wchar_t** rawArguments = static_cast<wchar_t**>(argumentBlock.Get());
    if (count == 2) return ParseLonePath(app, tail, source);

    std::vector<WideString> arguments;
    for (int i = 1; i < count; ++i) {
        WideString argument(rawArguments[i]);
        argument.Replace(L"\"", L"", 0, true);
        arguments.push_back(argument);
    }

    SingleJob job;
    BatchJob batch;
    // A single job asked for, also with an empty source ("/img=", /convert ""), which then fails.
    bool singleJob = false;
    // An argument no option takes (an unknown option, a path too many): a job does not run on a guess.
    bool unknownArgument = false;
    // The optional target of /convert and /extract: a following argument that is not an option.
    auto takeOptionalTarget = [&arguments, &target](size_t& i) {
        if (i + 1 < arguments.size() && !IsOptionPrefix(arguments[i + 1].Text()[0])) {
            target = TakenArgument(arguments[++i].Text());
        }
    };

    WideString value;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const WideString& argument = arguments[i];
        const size_t following = arguments.size() - 1 - i;
        if (IsOption(argument, L"batchextract")) {
            if (following < 2) continue;
            SetBatchPaths(app, batch, kBatchExtract, arguments[i + 1].Text(), arguments[i + 2].Text());
            job.flags |= kFromResource;
            i += 2;
        } else if (IsOption(argument, L"batchconvert")) {
            if (following < 2) continue;
            SetBatchPaths(app, batch, kBatchConvert, arguments[i + 1].Text(), arguments[i + 2].Text());
            i += 2;
        } else if (IsOption(argument, L"savewindows")) {
            if (following < 1) continue;
            SetBatchPaths(app, batch, kBatchSaveWindows, nullptr, arguments[i + 1].Text());
            i += 1;
        } else if (IsOption(argument, L"extract")) {
            if (following < 1) continue;
            source = TakenArgument(arguments[++i].Text());
            takeOptionalTarget(i);
            job.flags |= kFromResource;
            singleJob = true;
        } else if (IsOption(argument, L"convert")) {
            if (following < 1) continue;
            source = TakenArgument(arguments[++i].Text());
            takeOptionalTarget(i);
            singleJob = true;
        } else if (IsPrefixOption(argument, L"img=", value)) {
            source = value;
            singleJob = true;
        } else if (IsPrefixOption(argument, L"res=", value)) {
            source = value;
            job.flags |= kFromResource;
            singleJob = true;
        } else if (IsPrefixOption(argument, L"icon=", value)) {
            target = value;
        } else if (HasPngOption(argument)) {
            job.flags |= kPngs;
        } else if (IsPrefixOption(argument, L"formats=", value)) {
            if (value.IsEmpty()) return 2;
            ReadSizes(value, job.sizes);
        } else if (IsOption(argument, L"nopngc")) {
            job.flags &= ~kPngc;
        } else if (IsOption(argument, L"crop")) {
            job.flags = (job.flags & ~kCenter) | kCrop;
        } else if (IsOption(argument, L"stretch")) {
            job.flags &= ~(kCenter | kCrop);
        } else {
            unknownArgument = true;
        }
    }
    if (job.sizes.empty()) return 2;

    const bool batchJob = app.batchKind != kBatchNone;
    if (unknownArgument && (batchJob || singleJob)) {
        app.ShowMessage(kInvalidOption, 0, kMessageHeight);
        return batchJob ? kBatchInvalidOption : 2;
    }
    if (batchJob) return RunBatchCommand(app, batch, job.sizes, job.flags);
    if (singleJob) return RunSingleJob(app, source, target, job) ? 1 : 2;

    app.ShowMessage(kInvalidOption, 0, kMessageHeight);
    return -2;
}
