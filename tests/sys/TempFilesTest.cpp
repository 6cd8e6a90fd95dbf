#include "sys/TempFiles.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "sys/Handles.h"

using namespace testing_support;

namespace {

std::string Content(const WideString& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path.Text());
    return std::string(bytes.begin(), bytes.end());
}

// Builds a folder chain below the root whose plain path is at least minUnits long; returns the plain path.
WideString DeepFolder(const WideString& root, const wchar_t* component, int minUnits) {
    WideString plain(root);
    while (plain.Length() < minUnits) {
        plain.Append(L"\\", component);
        const WideString prefixed = WideString::Concat(L"\\\\?\\", plain);
        if (!CreateDirectoryW(prefixed.Text(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return WideString();
    }
    return plain;
}

std::string ContentAt(const WideString& plain) {
    return Content(WideString::Concat(L"\\\\?\\", plain));
}

TEST(StagedFile, TheFinalPathHoldsTheOldOrTheWholeNewFileAndNothingIsLeftBehind) {
    struct Case {
        const char* name;
        const char* old;  // null: no file at the final path
        DWORD attributes;
        bool commit;
        const char* expected;  // null: no file afterwards
    };
    const Case cases[] = {
        {"new file", nullptr, 0, true, "new content"},
        {"replaced file", "old", FILE_ATTRIBUTE_NORMAL, true, "new content"},
        {"read-only hidden file", "old", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, true, "new content"},
        {"abandoned new file", nullptr, 0, false, nullptr},
        {"abandoned replacement", "old", FILE_ATTRIBUTE_NORMAL, false, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const WideString path = folder / L"out.ico";
        if (c.old) {
            ASSERT_TRUE(WriteBytes(path.Text(), c.old, strlen(c.old)));
            ASSERT_TRUE(SetFileAttributesW(path.Text(), c.attributes));
        }
        {
            StagedFile file;
            ASSERT_TRUE(file.Create(path));
            EXPECT_TRUE(Exists(file.TemporaryPath().Text()));
            ASSERT_TRUE(file.Write("new ", 4));
            if (c.old) {
                EXPECT_EQ(Content(path), c.old) << "the old file stays until the new one is complete";
            }
            ASSERT_TRUE(file.Write("content", 7));
            if (c.commit) {
                bool replaced = false;
                EXPECT_TRUE(file.Commit(&replaced));
                EXPECT_EQ(replaced, c.old != nullptr);
            }
        }
        if (c.expected) {
            EXPECT_EQ(FolderNames(folder.Path()), std::set<std::wstring>{L"out.ico"});
            EXPECT_EQ(Content(path), c.expected);
        } else {
            EXPECT_TRUE(FolderNames(folder.Path()).empty());
        }
        SetFileAttributesW(path.Text(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(StagedFile, ACommitToAFreeNameNeverReplacesAFileThatTookItMeanwhile) {
    struct Case {
        const char* name;
        const char* other;  // a file another writer put at the final path after Create; null: none
    };
    const Case cases[] = {{"free name", nullptr}, {"name taken meanwhile", "theirs"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const WideString path = folder / L"out.ico";
        StagedFile file;
        ASSERT_TRUE(file.Create(path));
        ASSERT_TRUE(file.Write("mine", 4));
        if (c.other) {
            ASSERT_TRUE(WriteBytes(path.Text(), c.other, strlen(c.other)));
        }
        const bool committed = file.CommitNew();
        EXPECT_EQ(committed, c.other == nullptr);
        if (c.other) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
            EXPECT_EQ(Content(path), c.other) << "the other writer's file stays";
            EXPECT_TRUE(Exists(file.TemporaryPath().Text())) << "kept for another commit";
            bool replaced = false;
            EXPECT_TRUE(file.Commit(&replaced)) << "a later commit may still replace it";
            EXPECT_TRUE(replaced);
        }
        EXPECT_EQ(Content(path), "mine");
        EXPECT_EQ(FolderNames(folder.Path()), std::set<std::wstring>{L"out.ico"});
    }
}

TEST(StagedFile, WritesBeyondMaxPath) {
    TempFolder folder;
    const WideString deep = DeepFolder(folder.Path(), L"a folder name of some length", MAX_PATH + 20);
    ASSERT_FALSE(deep.IsEmpty());
    const WideString path = WideString::Concat(deep, L"\\out.ico");
    for (const char* content : {"first", "second"}) {
        StagedFile file;
        ASSERT_TRUE(file.Create(path));
        ASSERT_TRUE(file.Write(content, strlen(content)));
        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(ContentAt(path), content);
    }
    EXPECT_EQ(FolderNames(WideString::Concat(L"\\\\?\\", deep)), std::set<std::wstring>{L"out.ico"});
}

TEST(ReachableFile, GivesAPathBelowMaxPathToTheSameContent) {
    TempFolder folder;
    struct Case {
        const char* name;
        const wchar_t* component;  // folder names of the chain; null: the file lies in the test folder
        bool copied;               // only a copy can reach the file
    };
    const Case cases[] = {
        {"short path", nullptr, false},
        {"long names", L"a folder name well beyond eight characters", false},
        // Names that are their own short form: no short path is shorter.
        {"deep short names", L"abcdefgh", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WideString dir = c.component ? DeepFolder(folder.Path(), c.component, MAX_PATH + 40) : folder.Path();
        ASSERT_FALSE(dir.IsEmpty());
        const WideString file = WideString::Concat(dir, L"\\icons.dll");
        ASSERT_TRUE(WriteBytes(WideString::Concat(L"\\\\?\\", file).Text(), "library", 7));
        WideString reached;
        {
            const ReachableFile reachable(file);
            reached = reachable.Path();
            EXPECT_LT(reached.Length(), MAX_PATH);
            EXPECT_EQ(Content(reached), "library");
            if (!c.component) {
                EXPECT_STREQ(reached.Text(), file.Text());
            }
            EXPECT_TRUE(reached.EndsWith(L".dll")) << "the extension tells the shell what the file is";
        }
        // A copy goes with its owner; the file itself stays.
        EXPECT_EQ(Exists(reached.Text()), !c.copied);
        EXPECT_EQ(ContentAt(file), "library");
    }

    // Nothing to reach: the path stays as it was.
    const WideString missing = WideString::Concat(DeepFolder(folder.Path(), L"abcdefgh", MAX_PATH + 40), L"\\no.dll");
    EXPECT_STREQ(ReachableFile(missing).Path().Text(), missing.Text());
}

// Starts the lingering helper without a window; its process id, or 0.
struct Child {
    explicit Child(const wchar_t* mode) {
        WideString line = WideString::Concat(L"\"", BuildFile(L"gwtest_lingering.exe"), L"\" ", mode);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, const_cast<wchar_t*>(line.Text()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
            return;
        process.Reset(info.hProcess);
        CloseHandle(info.hThread);
        id = info.dwProcessId;
    }
    ~Child() {
        if (process) TerminateProcess(process.Get(), 0);
    }
    KernelHandle process;
    DWORD id = 0;
};

// A run killed while it wrote leaves its temporary file; the next file staged in that folder removes it, and only
// it: another live run's file, this run's own, set-aside old outputs and files that merely look alike stay.
TEST(StagedFile, TemporaryFilesOfRunsThatNoLongerRunAreRemovedByTheNextWrite) {
    TempFolder temp;
    Child ended(L"no-window");
    ASSERT_NE(ended.id, 0u);
    TerminateProcess(ended.process.Get(), 0);
    WaitForSingleObject(ended.process.Get(), 10000);
    Child running(L"no-window");
    ASSERT_NE(running.id, 0u);
    wchar_t name[64];
    auto staged = [&](DWORD pid, const wchar_t* tail) {
        wsprintfW(name, L"~gw%lx-%s", pid, tail);
        return std::wstring(name);
    };
    const std::wstring orphan = staged(ended.id, L"3.tmp"), orphanUpper = staged(ended.id, L"4.TMP");
    const std::vector<std::wstring> kept = {staged(running.id, L"0.tmp"),
                                            staged(GetCurrentProcessId(), L"99.tmp"),
                                            staged(ended.id, L"5.old"),
                                            L"~gwzz-1.tmp",
                                            L"~gw12.tmp",
                                            L"notes.tmp"};
    for (const std::wstring& file : kept)
        WriteBytes((temp / file.c_str()).Text(), {'k'});
    WriteBytes((temp / orphan.c_str()).Text(), {'x'});
    WriteBytes((temp / orphanUpper.c_str()).Text(), {'x'});

    StagedFile file;
    ASSERT_TRUE(file.Create(temp / L"out.ico"));
    ASSERT_TRUE(file.Write("new", 3));
    ASSERT_TRUE(file.Commit());
    std::set<std::wstring> expected(kept.begin(), kept.end());
    expected.insert(L"out.ico");
    EXPECT_EQ(FolderNames(temp.Path()), expected);
}

}  // namespace
