#include "app/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "app/CommandRunner.h"
#include "sys/Handles.h"
#include "sys/TokenList.h"

namespace {

constexpr int kMaxSizes = 8;
constexpr int kMinSize = 16;
constexpr int kMaxSize = 1024;
constexpr wchar_t kInvalidOption[] = L"无效的命令行选项";
constexpr wchar_t kAfterUpdate[] = L"/PostUpdate";

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

// The arguments of the tail with every quote removed; empty when there are none.
std::vector<WideString> SplitArguments(const WideString& tail) {
    // The platform reads its first argument as a program name, where quotes don't group; a stand-in name puts
    // every argument of the tail under the ordinary rules.
    const WideString line = WideString::Concat(L"Glyphwright ", tail);
    int count = 0;
    LocalMemoryHandle block(reinterpret_cast<HLOCAL>(CommandLineToArgvW(line.Text(), &count)));
    std::vector<WideString> arguments;
    if (!block) return arguments;
    wchar_t** raw = static_cast<wchar_t**>(block.Get());
    for (int i = 1; i < count; ++i) {
        WideString argument(raw[i]);
        argument.Replace(L"\"", L"", 0, true);
        arguments.push_back(argument);
    }
    return arguments;
}

// A job's paths as given; a path taken from its own argument gets its environment variables expanded when the job
// runs, one after "=" is taken as written.
struct JobPaths {
    WideString source;
    WideString target;
    bool expandSource = false;
    bool expandTarget = false;

    void SetSource(const WideString& value, bool expand) {
        source = value;
        expandSource = expand;
    }
    void SetTarget(const WideString& value, bool expand) {
        target = value;
        expandTarget = expand;
    }
};

// Reads the options in order; a later option overrides an earlier one, and a batch option wins over a single job,
// each keeping its own paths.
class OptionReader {
public:
    explicit OptionReader(CommandRequest& request) : request_(request) {}

    void Read(const std::vector<WideString>& arguments) {
        for (size_t i = 0; i < arguments.size(); ++i) {
            // "/formats=" with nothing after it stops the reading: no size, nothing runs.
            if (!ReadOption(arguments, i)) break;
        }
        const bool batch = batchCommand_ != CommandKind::kNothing;
        const JobPaths& paths = batch ? batch_ : single_;
        request_.source = paths.source;
        request_.target = paths.target;
        request_.expandSource = paths.expandSource;
        request_.expandTarget = paths.expandTarget;
        if (batch)
            request_.kind = batchCommand_;
        else if (singleJob_)
            request_.kind = (request_.flags & kFromResource) ? CommandKind::kExtract : CommandKind::kConvert;
        else
            request_.kind = CommandKind::kInvalid;
    }

    // An argument no option takes (an unknown option, a path too many): a job does not run on a guess.
    bool unknownArgument = false;

private:
    bool ReadOption(const std::vector<WideString>& arguments, size_t& i);
    bool ReadJob(const std::vector<WideString>& arguments, size_t& i);
    void ReadFlag(const WideString& argument);

    CommandRequest& request_;
    CommandKind batchCommand_ = CommandKind::kNothing;
    JobPaths batch_;
    JobPaths single_;
    // A single job asked for, also with an empty source ("/img=", /convert ""), which then fails.
    bool singleJob_ = false;
};

// False when the reading stops here.
bool OptionReader::ReadOption(const std::vector<WideString>& arguments, size_t& i) {
    if (ReadJob(arguments, i)) return true;
    const WideString& argument = arguments[i];
    WideString value;
    if (IsPrefixOption(argument, L"icon=", value)) {
        single_.SetTarget(value, false);
    } else if (HasPngOption(argument)) {
        request_.flags |= kPngs;
    } else if (IsPrefixOption(argument, L"formats=", value)) {
        if (value.IsEmpty()) {
            request_.sizes.clear();
            return false;
        }
        ReadSizes(value, request_.sizes);
    } else {
        ReadFlag(argument);
    }
    return true;
}

// The options that name a job and its paths; false for any other argument. A batch or job option without the
// paths it takes is passed over.
bool OptionReader::ReadJob(const std::vector<WideString>& arguments, size_t& i) {
    const WideString& argument = arguments[i];
    const size_t following = arguments.size() - 1 - i;
    WideString value;
    const bool batchExtract = IsOption(argument, L"batchextract");
    if (batchExtract || IsOption(argument, L"batchconvert")) {
        if (following < 2) return true;
        batchCommand_ = batchExtract ? CommandKind::kBatchExtract : CommandKind::kBatchConvert;
        if (batchExtract) request_.flags |= kFromResource;
        batch_.SetSource(arguments[++i], true);
        batch_.SetTarget(arguments[++i], true);
    } else if (IsOption(argument, L"savewindows")) {
        if (following < 1) return true;
        batchCommand_ = CommandKind::kBatchSaveWindows;
        batch_.SetTarget(arguments[++i], true);
    } else if (IsOption(argument, L"extract") || IsOption(argument, L"convert")) {
        if (following < 1) return true;
        if (IsOption(argument, L"extract")) request_.flags |= kFromResource;
        single_.SetSource(arguments[++i], true);
        // The optional target: a following argument that is not an option.
        if (i + 1 < arguments.size() && !IsOptionPrefix(arguments[i + 1].Text()[0]))
            single_.SetTarget(arguments[++i], true);
        singleJob_ = true;
    } else if (IsPrefixOption(argument, L"img=", value)) {
        single_.SetSource(value, false);
        singleJob_ = true;
    } else if (IsPrefixOption(argument, L"res=", value)) {
        single_.SetSource(value, false);
        request_.flags |= kFromResource;
        singleJob_ = true;
    } else {
        return false;
    }
    return true;
}

void OptionReader::ReadFlag(const WideString& argument) {
    IconJobFlags& flags = request_.flags;
    if (IsOption(argument, L"nopngc")) {
        flags &= ~kPngc;
    } else if (IsOption(argument, L"original")) {
        // Like the page's box, it is part of the output choice of every job; only resource extraction reads it.
        flags |= kOriginal;
    } else if (IsOption(argument, L"crop")) {
        flags = (flags & ~kCenter) | kCrop;
    } else if (IsOption(argument, L"stretch")) {
        flags &= ~(kCenter | kCrop);
    } else {
        unknownArgument = true;
    }
}

}  // namespace

void DropEnclosingQuotes(WideString& text) {
    const int length = text.Length();
    if (length < 2 || text.Text()[0] != L'"' || text.Text()[length - 1] != L'"') return;
    if (length == 2)
        text.Clear();
    else
        text.Mid(2, length - 2);
}

CommandRequest ReadCommandLine(const wchar_t* commandTail) {
    CommandRequest request;
    if (commandTail == nullptr || commandTail[0] == 0) return request;
    WideString tail(commandTail);

    const int marker = tail.Find(kAfterUpdate, false);
    if (marker >= 1 && marker <= 3) {
        request.afterUpdate = true;
        tail.DropLeft(marker - 1 + lstrlenW(kAfterUpdate));
        tail.Trim(WideString::kTrimLeading | WideString::kTrimTrailing);
        // The platform splits an empty text into the program's own path; nothing after the marker means no
        // arguments.
        if (tail.IsEmpty()) return request;
    }

    const std::vector<WideString> arguments = SplitArguments(tail);
    if (arguments.empty()) return request;
    if (arguments.size() == 1) {
        // The tail as written, not the split argument: its quotes are the path's own business.
        request.kind = CommandKind::kOpenPath;
        request.source = tail;
        DropEnclosingQuotes(request.source);
        return request;
    }

    OptionReader reader(request);
    reader.Read(arguments);
    if (reader.unknownArgument || request.kind == CommandKind::kInvalid) request.error = kInvalidOption;
    return request;
}

int ParseCommandLine(Application& app, const wchar_t* commandTail, WideString& source, WideString& target,
                     WideString&) {
    const CommandRequest request = ReadCommandLine(commandTail);
    const CommandOutcome outcome = RunCommandLine(app, request);
    source = outcome.opensWindow ? outcome.source : request.source;
    target = request.target;
    if (outcome.opensWindow) return outcome.preload;
    switch (request.kind) {
        case CommandKind::kBatchExtract:
        case CommandKind::kBatchConvert:
        case CommandKind::kBatchSaveWindows:
            // The batch results below zero are the exit codes read as a signed byte.
            return static_cast<int8_t>(outcome.exitCode);
        default:
            return outcome.exitCode == ExitCode::kSuccess ? 1 : 2;
    }
}
