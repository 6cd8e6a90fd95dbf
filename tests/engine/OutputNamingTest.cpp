#include "engine/OutputNaming.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string Content(const WideString& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path.Text());
    return std::string(bytes.begin(), bytes.end());
}

TEST(BackupPath, InsertsTheMarkBeforeTheExtension) {
    const wchar_t* const cases[][2] = {
        {L"C:\\out\\a.ico", L"C:\\out\\a (backup).ico"},
        {L"C:\\my.dir\\a", L"C:\\my.dir\\a (backup)"},
        {L"C:\\out\\a.b.PNG", L"C:\\out\\a.b (backup).PNG"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(BackupPath(c[0]).Text(), c[1]);
}

TEST(MoveAsideExisting, KeepsTheFirstBackupAndRedirectsAnItemThatIsTheOutput) {
    TempFolder folder;
    const WideString output = folder / L"a.ico";
    const WideString backup = folder / L"a (backup).ico";
    WideString got;

    EXPECT_FALSE(MoveAsideExisting(output, nullptr, got)) << "nothing to move";
    EXPECT_STREQ(got.Text(), backup.Text());

    // The output is the job's own source (named in other case): moved, and the source follows it.
    ASSERT_TRUE(WriteBytes(output.Text(), "first", 5));
    WideString item = folder / L"A.ICO";
    EXPECT_TRUE(MoveAsideExisting(output, &item, got));
    EXPECT_STREQ(item.Text(), backup.Text());
    EXPECT_FALSE(Exists(output.Text()));

    // A backup exists already: nothing is moved, the earlier backup stays the source.
    ASSERT_TRUE(WriteBytes(output.Text(), "second", 6));
    item = output;
    EXPECT_FALSE(MoveAsideExisting(output, &item, got));
    EXPECT_STREQ(item.Text(), backup.Text());
    EXPECT_EQ(Content(output), "second");
    EXPECT_EQ(Content(backup), "first");

    // The source named another way (separators, a short name) is still the output.
    RemoveTree(backup.Text());
    item = output;
    item.Replace(L"\\", L"/");
    EXPECT_TRUE(MoveAsideExisting(output, &item, got));
    EXPECT_STREQ(item.Text(), backup.Text());
    ASSERT_TRUE(MoveFileW(backup.Text(), output.Text()));

    // Another item is left alone.
    RemoveTree(backup.Text());
    WideString other = folder / L"b.png";
    EXPECT_TRUE(MoveAsideExisting(output, &other, got));
    EXPECT_STREQ(other.Text(), (folder / L"b.png").Text());
}

TEST(FinishOutput, PutsTheBackupBackOnlyAfterAFailure) {
    struct Case {
        bool moved;
        bool succeeded;
        const char* outputAfter;
        bool backupLeft;
    };
    const Case cases[] = {
        {true, true, "new", true},
        {true, false, "old", false},
        {false, false, "new", false},
        {false, true, "new", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "moved " << c.moved << ", succeeded " << c.succeeded);
        TempFolder folder;
        const WideString output = folder / L"a.ico";
        const WideString backup = BackupPath(output);
        ASSERT_TRUE(WriteBytes(output.Text(), "new", 3));
        if (c.moved) {
            ASSERT_TRUE(WriteBytes(backup.Text(), "old", 3));
        }
        EXPECT_TRUE(FinishOutput(backup, output, c.moved, c.succeeded));
        EXPECT_EQ(Content(output), c.outputAfter);
        EXPECT_EQ(Exists(backup.Text()), c.backupLeft);
    }
}

}  // namespace
