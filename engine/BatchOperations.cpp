#include "engine/BatchOperations.h"

#include <pcre2.h>
#include <shellapi.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/FileStructure.h"
#include "engine/IconGroups.h"
#include "engine/IconJob.h"
#include "engine/IconLibrary.h"
#include "engine/IconWriter.h"
#include "engine/WorkerPool.h"
#include "sys/FolderEnumerator.h"
#include "sys/Handles.h"
#include "sys/TempFiles.h"

namespace {

constexpr wchar_t kPicturePattern[] = L"\\.(bmp|gif|jfif|jpe|jpeg|jpg|png|psd|rle|tga|tif|tiff|webp)$";
// GetWindowTextW buffer, terminator included.
constexpr int kTitleUnits = 256;
// Longest file name (one path component) the file systems accept.
constexpr int kMaxComponentUnits = 255;

Pcre2CodeHandle CompilePicturePattern() {
    int error = 0;
    PCRE2_SIZE offset = 0;
    return Pcre2CodeHandle(pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(kPicturePattern), PCRE2_ZERO_TERMINATED,
                                            PCRE2_CASELESS, &error, &offset, nullptr));
}

bool MatchesPicturePattern(const wchar_t* name, const pcre2_code_16* pattern) {
    const wchar_t* dot = wcsrchr(name, L'.');
    return dot && pattern && WideString(dot).Matches(pattern);
}

bool Runnable(const BatchJob* job) {
    return job && job->owner;
}
bool Stopped(const BatchJob& job) {
    return !job.owner || job.cancel.load();
}

const wchar_t* OutputExtension(IconJobFlags flags) {
    return (flags & kPngs) ? L".png" : L".ico";
}

// One item's job into an output the batch named: an existing output is kept as its backup, and the backup is
// dropped again when the item fails.
IconRequest ItemRequest(const BatchJob& job, IconSourceKind kind, const WideString& output) {
    IconRequest request;
    request.kind = kind;
    request.sizes = job.sizes;
    request.flags = job.flags;
    request.target = output;
    request.targetIsFile = true;
    request.backup = OutputBackupRule::kAlways;
    return request;
}

// Runs the item's job, once more alone when it failed beside the other workers' (RetryAlone).
Result RunItem(RetryAlone& gate, const IconRequest& request) {
    Result outcome;
    gate.Run([&] {
        outcome = RunIconJob(request).result;
        return outcome.Ok();
    });
    return outcome;
}

// Counts one finished item for a caller that shows the progress on another thread; the first failure's cause is
// kept for the caller's result line.
bool CountItem(BatchJob& job, const Result& outcome) {
    if (outcome) {
        ++job.written;
    } else {
        Failure none = Failure::kNone;
        job.firstFailure.compare_exchange_strong(none, outcome.Cause());
    }
    ++job.done;
    return outcome.Ok();
}

// The name part that decides which outputs and backups an output can meet: its file name without extension and
// without trailing " (backup)" or " (backup n)" parts, in upper case as the file system compares names.
std::wstring OutputFamily(const WideString& output) {
    std::wstring name(output.FileName().Text());
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    for (;;) {
        const size_t open = name.rfind(L" (backup");
        if (open == std::wstring::npos || name.empty() || name.back() != L')') break;
        const std::wstring inner = name.substr(open + 8, name.size() - open - 9);
        const bool numbered =
            inner.size() > 1 && inner[0] == L' ' && inner.find_first_not_of(L"0123456789", 1) == std::wstring::npos;
        if (!inner.empty() && !numbered) break;
        name.erase(open);
    }
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

// The listing's items grouped by output family, groups in the order of their first item, items in listing order.
std::vector<std::vector<size_t>> GroupByOutput(const std::vector<WideString>& names, IconJobFlags flags) {
    std::vector<std::vector<size_t>> groups;
    std::map<std::wstring, size_t> groupOf;
    for (size_t i = 0; i < names.size(); ++i) {
        const auto found =
            groupOf.emplace(OutputFamily(ConvertOutputPath(WideString(), names[i].Text(), flags)), groups.size());
        if (found.second) groups.emplace_back();
        groups[found.first->second].push_back(i);
    }
    return groups;
}

BOOL CALLBACK CountGroup(HMODULE, LPCWSTR, LPWSTR, LONG_PTR counter) {
    ++*reinterpret_cast<int32_t*>(counter);
    return TRUE;
}

// Icon groups as single extraction finds them. Files the resource loader refuses (16-bit libraries, programs for
// another processor) are still read by the shell's extractor, so its count stands in for the enumeration.
int32_t CountIconGroups(const WideString& file) {
    ModuleHandle module(
        LoadLibraryExW(file.Text(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    if (!module) module.Reset(LoadLibraryExW(file.Text(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    int32_t groups = 0;
    if (module)
        EnumResourceNamesW(module.Get(), RT_GROUP_ICON, CountGroup, reinterpret_cast<LONG_PTR>(&groups));
    else if (const UINT count = ExtractIconExW(file.Text(), -1, nullptr, nullptr, 0); count <= 0xFFFF)
        groups = static_cast<int32_t>(count);  // a file the extractor can't read answers 0xFFFFFFFF
    return groups;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    try {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

// The window's title without waiting on another thread of this process: GetWindowTextW sends WM_GETTEXT to such
// a window and would wait for ever on a hung one; for other processes' windows it reads the stored text itself.
// https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-getwindowtextw
void ReadWindowTitle(HWND window, wchar_t (&title)[kTitleUnits]) {
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && thread != GetCurrentThreadId())
        InternalGetWindowText(window, title, kTitleUnits);
    else
        GetWindowTextW(window, title, kTitleUnits);
}

bool IsHighSurrogate(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

template <int (*Batch)(BatchJob*)>
DWORD ThreadEntry(LPVOID job) {
    try {
        return static_cast<DWORD>(Batch(static_cast<BatchJob*>(job)));
    } catch (...) {
        return 0;
    }
}

}  // namespace

WideString ExtractOutputPath(const WideString& targetFolder, const WideString& resourceFile, int32_t n,
                             IconJobFlags flags) {
    return WideString::Concat(targetFolder, L"\\", resourceFile.FileName(), L"_Icon_", WideString::FromInt(n),
                              OutputExtension(flags));
}

WideString ConvertOutputPath(const WideString& targetFolder, const wchar_t* pictureName, IconJobFlags flags) {
    WideString output = WideString::Concat(targetFolder, L"\\", pictureName);
    EnsureOutputExtension(output, flags);
    return output;
}

WideString WindowOutputPath(const WideString& targetFolder, int32_t n, const WideString& title, IconJobFlags flags) {
    const WideString number = WideString::FromInt(n);
    const wchar_t* extension = OutputExtension(flags);
    const int room = kMaxComponentUnits - number.Length() - 1 - static_cast<int>(wcslen(extension));
    return WideString::Concat(targetFolder, L"\\", number, L"-", FileNamePartFromTitle(title, room), extension);
}

WideString FileNamePartFromTitle(const WideString& title, int maxUnits) {
    std::vector<wchar_t> units(title.Text(), title.Text() + title.Length());
    for (wchar_t& unit : units) {
        if (unit < 0x20 || wcschr(L"\\/:*?\"<>|", unit)) unit = L'_';
    }
    size_t length = units.size();
    if (maxUnits >= 0 && length > static_cast<size_t>(maxUnits)) {
        length = static_cast<size_t>(maxUnits);
        if (length > 0 && IsHighSurrogate(units[length - 1])) --length;
    }
    // Windows drops trailing dots and spaces from file names, so "a." and "a" would be the same file.
    while (length > 0 && (units[length - 1] == L'.' || units[length - 1] == L' '))
        --length;
    units.resize(length);
    units.push_back(0);
    return WideString(units.data());
}

bool IsPictureFileName(const wchar_t* name) {
    const Pcre2CodeHandle pattern = CompilePicturePattern();
    return MatchesPicturePattern(name, pattern.Get());
}

int BatchExtractIcons(BatchJob* job) {
    if (!Runnable(job)) return 0;
    job->targetFolder.StripTrailingBackslashes();
    // The loader and the shell's extractors refuse paths of MAX_PATH and more.
    const ReachableFile library(job->source);
    // Listing the groups walks the resource tree, which the loader trusts.
    if (!ResourceFileSound(library.Path().Text())) return 0;
    // Groups kept as they are come from the file's own bytes, whatever the loader makes of it.
    const bool original = (job->flags & kOriginal) != 0;
    // Loaded once for every group and size; a file the loader can't map (a 16-bit library) leaves each size to the
    // shell's extractor, which reads it on its own.
    const IconLibrary loaded = original ? IconLibrary() : IconLibrary(library.Path());
    const std::vector<bool> sound = loaded.Loaded() ? SoundIconGroups(library.Path().Text()) : std::vector<bool>();
    const int32_t groups = original          ? CountOriginalIconGroups(library.Path())
                           : loaded.Loaded() ? loaded.GroupCount()
                                             : CountIconGroups(library.Path());
    const IconJobFlags flags = original ? job->flags & ~kPngs : job->flags;
    std::atomic<int32_t> written{0}, last{-1};
    RetryAlone gate;
    job->counter = 0;
    job->total = groups;
    // Each group has its own output and backup names, so the groups may run in any order.
    RunOnWorkers(groups, 0, [&](int32_t index) {
        if (Stopped(*job)) return;
        const WideString output = ExtractOutputPath(job->targetFolder, job->source, index, flags);
        IconRequest request = ItemRequest(*job, IconSourceKind::kResource, output);
        request.sourcePath = library.Path();
        request.iconIndex = index;
        if (loaded.Loaded()) request.library = &loaded;
        // The library path reads the group's blocks itself, so a group whose data leaves the file is skipped.
        const bool readable =
            !loaded.Loaded() || (static_cast<size_t>(index) < sound.size() && sound[static_cast<size_t>(index)]);
        if (CountItem(*job, readable ? RunItem(gate, request) : Result::Failed(Failure::kNoSource))) ++written;
        for (int32_t seen = last.load(); seen < index && !last.compare_exchange_weak(seen, index);) {
        }
        ++job->counter;
    });
    if (last >= 0) job->output = ExtractOutputPath(job->targetFolder, job->source, last, flags);
    return written > 0 ? 1 : 0;
}

int BatchConvertPictures(BatchJob* job) {
    return BatchConvertPicturesOn(job, 0);
}

int BatchConvertPicturesOn(BatchJob* job, int workers) {
    if (!Runnable(job)) return 0;
    job->source.StripTrailingBackslashes();
    job->targetFolder.StripTrailingBackslashes();
    job->counter = 0;
    const Pcre2CodeHandle pattern = CompilePicturePattern();
    if (!pattern) return 0;

    // The listing is taken before anything is written: outputs and backups landing in the source folder (a
    // conversion into the folder itself, or to .png) must not be listed and converted again.
    std::vector<WideString> names;
    FolderEnumerator listing;
    const WideString search = WideString::Concat(job->source, L"\\*.*");
    if (listing.Start(search.Text(), FolderEnumerator::kFilesOnly | FolderEnumerator::kSkipReparsePoints)) {
        while (listing.Next()) {
            if (MatchesPicturePattern(listing.Name(), pattern.Get())) names.emplace_back(listing.Name());
        }
    }

    // Items that share an output (a.jpg and a.png both give a.ico), or whose outputs are one another's backup
    // names, run on one worker in listing order, so every file and backup ends up as a sequential run leaves it.
    job->total = static_cast<int32_t>(names.size());
    const std::vector<std::vector<size_t>> groups = GroupByOutput(names, job->flags);
    std::vector<char> ran(names.size(), 0);
    const IconJobFlags flags = job->flags;
    RetryAlone gate;
    RunOnWorkers(static_cast<int>(groups.size()), workers, [&](int g) {
        for (size_t i : groups[static_cast<size_t>(g)]) {
            if (Stopped(*job)) return;
            ran[i] = 1;
            const WideString item = WideString::Concat(job->source, L"\\", names[i]);
            const WideString output = ConvertOutputPath(job->targetFolder, names[i].Text(), flags);
            IconRequest request = ItemRequest(*job, IconSourceKind::kFile, output);
            request.sourcePath = item;
            if (CountItem(*job, RunItem(gate, request))) ++job->counter;
        }
    });
    // The workers share the job, so the last item is named only once they are done.
    for (size_t i = names.size(); i-- > 0;) {
        if (!ran[i]) continue;
        job->item = WideString::Concat(job->source, L"\\", names[i]);
        job->output = ConvertOutputPath(job->targetFolder, names[i].Text(), flags);
        break;
    }
    return job->counter > 0 ? 1 : 0;
}

int BatchSaveWindowIcons(BatchJob* job) {
    if (!Runnable(job)) return 0;
    job->targetFolder.StripTrailingBackslashes();
    job->counter = 0;
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    job->total = static_cast<int32_t>(windows.size());
    int32_t written = 0;
    for (HWND window : windows) {
        if (Stopped(*job)) break;
        wchar_t title[kTitleUnits] = {};
        ReadWindowTitle(window, title);
        job->item = title;
        job->output = WindowOutputPath(job->targetFolder, job->counter, job->item, job->flags);
        // A window without an icon has nothing to write: it keeps its number (the gap shows it) but is no failure,
        // and no existing output is moved aside for it.
        IconRequest request = ItemRequest(*job, IconSourceKind::kWindow, job->output);
        request.window = window;
        const IconJobResult item = RunIconJob(request);
        if (item.Skipped()) {
            ++job->skipped;
            ++job->done;
        } else if (CountItem(*job, item.result)) {
            ++written;
        }
        ++job->counter;
    }
    return written > 0 ? 1 : 0;
}

DWORD WINAPI BatchExtractIconsThread(LPVOID job) {
    return ThreadEntry<BatchExtractIcons>(job);
}
DWORD WINAPI BatchConvertPicturesThread(LPVOID job) {
    return ThreadEntry<BatchConvertPictures>(job);
}
DWORD WINAPI BatchSaveWindowIconsThread(LPVOID job) {
    return ThreadEntry<BatchSaveWindowIcons>(job);
}
