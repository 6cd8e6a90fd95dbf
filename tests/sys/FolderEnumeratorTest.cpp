#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "sys/FolderEnumerator.h"

using namespace testing_support;

namespace {

std::vector<std::wstring> List(const WideString& pattern, unsigned filter) {
    std::vector<std::wstring> names;
    FolderEnumerator entries;
    if (!entries.Start(pattern.Text(), filter)) return names;
    while (entries.Next())
        names.push_back(entries.Name());
    EXPECT_FALSE(entries.Next());
    std::sort(names.begin(), names.end());
    return names;
}

class FolderEnumeratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* file : {L"a.ico", L"b.png", L"c.ico"})
            ASSERT_TRUE(WriteBytes((temp / file).Text(), "x", 1));
        for (const wchar_t* folder : {L"sub", L"z.ico"})
            ASSERT_TRUE(CreateDirectoryW((temp / folder).Text(), nullptr));
    }
    TempFolder temp;
};

TEST_F(FolderEnumeratorTest, FiltersSkipDotEntriesAndSelectKinds) {
    using Names = std::vector<std::wstring>;
    struct Case {
        const wchar_t* pattern;
        unsigned filter;
        Names expected;
    } cases[] = {
        {L"*", 0, {L"a.ico", L"b.png", L"c.ico", L"sub", L"z.ico"}},
        {L"*", FolderEnumerator::kFilesOnly, {L"a.ico", L"b.png", L"c.ico"}},
        {L"*", FolderEnumerator::kFoldersOnly, {L"sub", L"z.ico"}},
        {L"*", FolderEnumerator::kFilesOnly | FolderEnumerator::kFoldersOnly, {L"a.ico", L"b.png", L"c.ico"}},
        {L"*", FolderEnumerator::kSkipReparsePoints, {L"a.ico", L"b.png", L"c.ico", L"sub", L"z.ico"}},
        {L"*.ico", 0, {L"a.ico", L"c.ico", L"z.ico"}},
        {L"*.ico", FolderEnumerator::kFilesOnly, {L"a.ico", L"c.ico"}},
        {L"sub\\*", 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, List(temp / c.pattern, c.filter)) << Narrow(c.pattern) << " filter " << c.filter;
    }
}

TEST_F(FolderEnumeratorTest, StartFailsWhenNothingCanBeListed) {
    const wchar_t* patterns[] = {L"*.none", L"missing\\*", L"a.ico\\*"};
    for (const wchar_t* pattern : patterns) {
        FolderEnumerator entries;
        EXPECT_FALSE(entries.Start((temp / pattern).Text())) << Narrow(pattern);
        EXPECT_NE(0u, entries.StartError()) << Narrow(pattern);
        EXPECT_FALSE(entries.Next()) << Narrow(pattern);
    }
    FolderEnumerator entries;
    EXPECT_FALSE(entries.Start(nullptr));
}

TEST_F(FolderEnumeratorTest, RestartingListsAgain) {
    FolderEnumerator entries;
    ASSERT_TRUE(entries.Start((temp / L"*.png").Text()));
    ASSERT_TRUE(entries.Next());
    ASSERT_TRUE(entries.Start((temp / L"a.*").Text(), FolderEnumerator::kFilesOnly));
    EXPECT_EQ(0u, entries.StartError());
    ASSERT_TRUE(entries.Next());
    EXPECT_EQ(std::wstring(L"a.ico"), entries.Name());
    EXPECT_FALSE(entries.Next());
}

}  // namespace
