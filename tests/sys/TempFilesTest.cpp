#include "sys/TempFiles.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

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

}  // namespace
