// RequiresDisplay: the shell delivers its change notices to a window.
#include "engine/OutputNaming.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "PictureSupport.h"
#include "TestSupport.h"
#include "engine/IconJob.h"
#include "engine/IconWriter.h"
#include "engine/Imaging.h"
#include "sys/TempFiles.h"

using namespace testing_support;

namespace {

std::string Content(const WideString& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path.Text());
    return std::string(bytes.begin(), bytes.end());
}

TEST(BackupPath, InsertsTheMarkBeforeTheExtension) {
    struct Case {
        const wchar_t* output;
        int n;
        const wchar_t* backup;
    } cases[] = {
        {L"C:\\out\\a.ico", 1, L"C:\\out\\a (backup).ico"},     {L"C:\\my.dir\\a", 1, L"C:\\my.dir\\a (backup)"},
        {L"C:\\out\\a.b.PNG", 1, L"C:\\out\\a.b (backup).PNG"}, {L"C:\\out\\a.ico", 2, L"C:\\out\\a (backup 2).ico"},
        {L"C:\\my.dir\\a", 13, L"C:\\my.dir\\a (backup 13)"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(BackupPath(c.output, c.n).Text(), c.backup);
}

// One job around MoveAsideExisting and FinishOutput, as the batches and the command line run it: the job reads its
// source (the output itself) while it runs and, when it succeeds, puts its new file in place in one step.
struct JobCase {
    const char* name;
    std::vector<std::pair<const wchar_t*, const char*>> before;  // file name -> content
    bool succeeds;
    std::vector<std::pair<const wchar_t*, const char*>> after;  // every file of the folder afterwards
};

TEST(MoveAsideExisting, KeepsEveryEarlierFileAndTheSourceAsItIsNow) {
    const JobCase cases[] = {
        {"new output", {}, true, {{L"a.ico", "new"}}},
        {"first backup", {{L"a.ico", "current"}}, true, {{L"a.ico", "new"}, {L"a (backup).ico", "current"}}},
        {"an earlier backup moves on",
         {{L"a.ico", "current"}, {L"a (backup).ico", "stale"}},
         true,
         {{L"a.ico", "new"}, {L"a (backup).ico", "current"}, {L"a (backup 2).ico", "stale"}}},
        {"to the next free number",
         {{L"a.ico", "current"}, {L"a (backup).ico", "stale"}, {L"a (backup 2).ico", "older"}},
         true,
         {{L"a.ico", "new"},
          {L"a (backup).ico", "current"},
          {L"a (backup 2).ico", "older"},
          {L"a (backup 3).ico", "stale"}}},
        {"failed job", {{L"a.ico", "current"}}, false, {{L"a.ico", "current"}}},
        {"failed job with an earlier backup",
         {{L"a.ico", "current"}, {L"a (backup).ico", "stale"}},
         false,
         {{L"a.ico", "current"}, {L"a (backup).ico", "stale"}}},
    };
    for (const JobCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        for (const auto& file : c.before)
            ASSERT_TRUE(WriteBytes((folder / file.first).Text(), file.second, strlen(file.second)));
        const WideString output = folder / L"a.ico";
        const std::string current = Exists(output.Text()) ? Content(output) : std::string();

        OutputBackup backup;
        ASSERT_TRUE(MoveAsideExisting(output, backup));
        EXPECT_STREQ(backup.path.Text(), (folder / L"a (backup).ico").Text());
        // The job's source is still there, as it is now.
        EXPECT_EQ(Exists(output.Text()) ? Content(output) : std::string(), current);
        if (c.succeeds) {
            const WideString staged = folder / L"staged";
            ASSERT_TRUE(WriteBytes(staged.Text(), "new", 3));
            ASSERT_TRUE(MoveFileExW(staged.Text(), output.Text(), MOVEFILE_REPLACE_EXISTING));
        }
        EXPECT_TRUE(FinishOutput(backup, output, c.succeeds));

        std::set<std::wstring> expectedNames;
        for (const auto& file : c.after) {
            expectedNames.insert(file.first);
            EXPECT_EQ(Content(folder / file.first), file.second) << Narrow(file.first);
        }
        EXPECT_EQ(FolderNames(folder.Path()), expectedNames);
    }
}

TEST(MoveAsideExisting, AReadOnlyOutputIsKeptAndAFailedJobLeavesItAsItWas) {
    TempFolder folder;
    const WideString output = folder / L"a.ico";
    ASSERT_TRUE(WriteBytes(output.Text(), "current", 7));
    ASSERT_TRUE(SetFileAttributesW(output.Text(), FILE_ATTRIBUTE_READONLY));
    OutputBackup backup;
    ASSERT_TRUE(MoveAsideExisting(output, backup));
    EXPECT_EQ(Content(backup.path), "current");
    EXPECT_TRUE(FinishOutput(backup, output, false));
    EXPECT_EQ(FolderNames(folder.Path()), std::set<std::wstring>{L"a.ico"});
    EXPECT_EQ(Content(output), "current");
    EXPECT_TRUE(GetFileAttributesW(output.Text()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(output.Text(), FILE_ATTRIBUTE_NORMAL);
}

// Stages "mine" for the output and puts it in place as the icon writer does.
bool CommitMine(const WideString& output, bool& replaced) {
    StagedFile staged;
    return staged.Create(output) && staged.Write("mine", 4) && CommitStagedOutput(staged, output, replaced);
}

// The contents of every file in the folder, by name.
std::set<std::pair<std::wstring, std::string>> FolderContents(const WideString& folder) {
    std::set<std::pair<std::wstring, std::string>> contents;
    for (const std::wstring& name : FolderNames(folder))
        contents.emplace(name, Content(WideString::Concat(folder, L"\\", name.c_str())));
    return contents;
}

// Another run of the program that writes the same name between this job's backup step and its commit: whatever
// stands at the output then is kept before it is replaced, and nothing that was kept is dropped.
TEST(CommitStagedOutput, AFileThatTookTheOutputSinceTheBackupStepIsKeptBeforeItIsReplaced) {
    using Contents = std::set<std::pair<std::wstring, std::string>>;
    struct Case {
        const char* name;
        const char* before;  // the output at the backup step; null: none
        const char* theirs;  // what another run put at the output afterwards; null: nothing
        bool keepsBackups;   // the job went through the backup step
        Contents expected;
    };
    const Case cases[] = {
        {"free name, still free", nullptr, nullptr, true, {{L"a.ico", "mine"}}},
        {"free name taken meanwhile", nullptr, "theirs", true, {{L"a.ico", "mine"}, {L"a (backup).ico", "theirs"}}},
        {"kept output unchanged", "old", nullptr, true, {{L"a.ico", "mine"}, {L"a (backup).ico", "old"}}},
        {"kept output replaced meanwhile",
         "old",
         "theirs",
         true,
         {{L"a.ico", "mine"}, {L"a (backup).ico", "theirs"}, {L"a (backup 2).ico", "old"}}},
        {"no backup step: replaced as asked", nullptr, "theirs", false, {{L"a.ico", "mine"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const WideString output = folder / L"a.ico";
        if (c.before) {
            ASSERT_TRUE(WriteBytes(output.Text(), c.before, strlen(c.before)));
        }
        OutputBackup backup;
        if (c.keepsBackups) {
            ASSERT_TRUE(MoveAsideExisting(output, backup));
        }
        if (c.theirs) {
            // Written as a new file of its own, the way a staged write puts it in place.
            const WideString their = folder / L"their.tmp";
            ASSERT_TRUE(WriteBytes(their.Text(), c.theirs, strlen(c.theirs)));
            ASSERT_TRUE(MoveFileExW(their.Text(), output.Text(), MOVEFILE_REPLACE_EXISTING));
        }
        bool replaced = false;
        EXPECT_TRUE(CommitMine(output, replaced));
        EXPECT_EQ(replaced, c.before != nullptr || c.theirs != nullptr);
        if (c.keepsBackups) {
            EXPECT_TRUE(FinishOutput(backup, output, true));
        }
        EXPECT_EQ(FolderContents(folder.Path()), c.expected);
    }
}

TEST(FinishOutput, AFailedJobDropsOnlyABackupThatStillHoldsTheOutput) {
    using Contents = std::set<std::pair<std::wstring, std::string>>;
    struct Case {
        const char* name;
        bool staleLink;  // a second name of the output at the backup name, as a killed run leaves it
        bool replaced;   // another run replaced the output while the job ran
        bool succeeded;
        Contents expected;
    };
    const Case cases[] = {
        {"failed job", false, false, false, {{L"a.ico", "old"}}},
        {"failed job, output replaced meanwhile",
         false,
         true,
         false,
         {{L"a.ico", "theirs"}, {L"a (backup).ico", "old"}}},
        {"stale second name, failed job", true, false, false, {{L"a.ico", "old"}}},
        {"stale second name, written", true, false, true, {{L"a.ico", "mine"}, {L"a (backup).ico", "old"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const WideString output = folder / L"a.ico";
        ASSERT_TRUE(WriteBytes(output.Text(), "old", 3));
        if (c.staleLink) {
            ASSERT_TRUE(CreateHardLinkW(BackupPath(output).Text(), output.Text(), nullptr));
        }
        OutputBackup backup;
        ASSERT_TRUE(MoveAsideExisting(output, backup));
        EXPECT_TRUE(backup.displaced.IsEmpty()) << "a second name of the output is no earlier backup";
        if (c.replaced) {
            const WideString their = folder / L"their.tmp";
            ASSERT_TRUE(WriteBytes(their.Text(), "theirs", 6));
            ASSERT_TRUE(MoveFileExW(their.Text(), output.Text(), MOVEFILE_REPLACE_EXISTING));
        }
        bool replaced = false;
        if (c.succeeded) {
            EXPECT_TRUE(CommitMine(output, replaced));
        }
        EXPECT_TRUE(FinishOutput(backup, output, c.succeeded));
        EXPECT_EQ(FolderContents(folder.Path()), c.expected);
    }
}

// Counts the shell's change notices about one file, as a shell view listening on its folder gets them.
class ShellNoticeCounter {
public:
    ShellNoticeCounter(const WideString& folder, const WideString& file) : file_(file) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Receive;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"GwTestShellNotices";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(L"GwTestShellNotices", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        folderList_ = ILCreateFromPathW(folder.Text());
        SHChangeNotifyEntry entry = {folderList_, TRUE};
        registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                               SHCNE_ALLEVENTS, kNoticeMessage, 1, &entry);
    }
    ~ShellNoticeCounter() {
        if (registration_) SHChangeNotifyDeregister(registration_);
        if (window_) DestroyWindow(window_);
        ILFree(folderList_);
    }
    bool Listening() const { return registration_ != 0; }
    // The notices about the file that arrived so far.
    int Count() {
        for (int round = 0; round < 5; ++round) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        return std::exchange(count_, 0);
    }

private:
    static constexpr UINT kNoticeMessage = WM_APP + 17;

    static LRESULT CALLBACK Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != kNoticeMessage) return DefWindowProcW(window, message, wParam, lParam);
        auto* self = reinterpret_cast<ShellNoticeCounter*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        PIDLIST_ABSOLUTE* lists = nullptr;
        LONG event = 0;
        HANDLE lock =
            SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &lists, &event);
        wchar_t path[MAX_PATH] = {};
        if (lock && lists && lists[0] && SHGetPathFromIDListW(lists[0], path) && self &&
            self->file_.EqualsIgnoreCase(path))
            ++self->count_;
        if (lock) SHChangeNotification_Unlock(lock);
        return 0;
    }

    WideString file_;
    HWND window_ = nullptr;
    PIDLIST_ABSOLUTE folderList_ = nullptr;
    ULONG registration_ = 0;
    int count_ = 0;
};

TEST(FinishOutput, TheShellHearsOfEachWrittenOutputOnce) {
    ImagingSession imaging;
    ASSERT_TRUE(imaging.Started());
    TempFolder folder;
    const WideString picture = folder / L"pic.png";
    ASSERT_TRUE(SavePicture(picture, 40, 40, 0xFF336699));
    struct Case {
        const wchar_t* output;
        IconJobFlags flags;
        bool existing;
    };
    const Case cases[] = {
        {L"new.ico", kPngc, false}, {L"old.ico", kPngc, true}, {L"new.png", kPngs, false}, {L"old.png", kPngs, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.output));
        const WideString output = folder / c.output;
        if (c.existing) {
            ASSERT_TRUE(WriteBytes(output.Text(), "old", 3));
        }
        ShellNoticeCounter notices(folder.Path(), output);
        ASSERT_TRUE(notices.Listening());
        OutputBackup backup;
        ASSERT_TRUE(MoveAsideExisting(output, backup));
        const bool written = WriteIconFile(IconSource(picture), {16}, output, 0, c.flags, WideString());
        EXPECT_TRUE(written);
        EXPECT_TRUE(FinishOutput(backup, output, written));
        EXPECT_EQ(notices.Count(), 1);
    }
}

}  // namespace

namespace {

TEST(OutputFilePath, GivesEveryTargetItsFinalNameAndAFolderTheSourcesName) {
    TempFolder folder;
    const WideString existing = folder / L"icons";
    ASSERT_TRUE(CreateDirectoryW(existing.Text(), nullptr));
    const std::wstring base = folder.Path().Text();
    struct Case {
        const char* name;
        std::wstring target;
        const wchar_t* sourceName;
        IconJobFlags flags;
        std::wstring output;
    } cases[] = {
        {"icon name kept", base + L"\\x.ico", L"p.bmp", 0, base + L"\\x.ico"},
        {"PNG asked for an .ico name", base + L"\\x.ico", L"p.bmp", kPngs, base + L"\\x.png"},
        {"trailing dot and space dropped", base + L"\\x.png. ", L"p.bmp", kPngs, base + L"\\x.png"},
        {"folder typed with a backslash", base + L"\\", L"p.bmp", kPngs, base + L"\\p.png"},
        {"existing folder without a backslash", base + L"\\icons", L"p.bmp", 0, base + L"\\icons\\p.ico"},
        {"missing folder with a backslash", base + L"\\new\\", L"shell32.dll", 0, base + L"\\new\\shell32.ico"},
        {"folder and a nameless source", base + L"\\", L"", 0, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(OutputFilePath(c.target.c_str(), c.sourceName, c.flags).Text(), c.output.c_str());
    }
}

}  // namespace
