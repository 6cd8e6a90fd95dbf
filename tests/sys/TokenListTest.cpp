#include "sys/TokenList.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestSupport.h"

using testing_support::Narrow;

namespace {

std::vector<std::string> Tokens(const TokenList& list) {
    std::vector<std::string> tokens;
    for (int i = 0; i < list.Count(); ++i)
        tokens.push_back(Narrow(list.Item(i)));
    return tokens;
}

TEST(TokenListSplit, WholeStringAndSetModes) {
    struct Case {
        const wchar_t* text;
        const wchar_t* separators;
        bool wholeString;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {L"a||b|", L"|", true, {"a", "", "b"}},
        {L"", L"|", true, {""}},
        {nullptr, L"|", true, {""}},
        {L"abc", L"", true, {"abc"}},
        {L"abc", nullptr, false, {"abc"}},
        {L"|", L"|", true, {""}},
        {L"||", L"|", true, {"", ""}},
        {L"a", L"abc", true, {"a"}},
        {L"line1\r\nline2\r\n", L"\r\n", true, {"line1", "line2"}},
        {L"line1\r\n\r\nline3", L"\r\n", true, {"line1", "", "line3"}},
        {L"a\nb", L"\n", true, {"a", "b"}},
        {L"body||title", L"||", true, {"body", "title"}},
        {L"body|title", L"||", true, {"body|title"}},
        {L"a|||b", L"||", true, {"a", "|b"}},
        {L"C:\\dir\\file", L"\\", true, {"C:", "dir", "file"}},
        {L"\\\\server\\share", L"\\", true, {"", "", "server", "share"}},
        {L"x\\Y", L"y", true, {"x\\Y"}},  // the separator is found case-sensitively
        {L"a,b;c", L",;", false, {"a", "b", "c"}},
        {L"a,,b,", L",;", false, {"a", "", "b"}},
        {L"a,;b", L",;", false, {"a", "", "b"}},
        {L"a,;b", L",;", true, {"a", "b"}},
    };
    for (const Case& c : cases) {
        TokenList list;
        list.Split(c.text, c.separators, c.wholeString);
        EXPECT_EQ(c.expected, Tokens(list))
            << (c.text ? Narrow(c.text) : "(null)") << " on " << (c.separators ? Narrow(c.separators) : "(null)");
    }
}

TEST(TokenListSplit, ItemOutOfRange) {
    TokenList list;
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(nullptr, list.Item(0));
    list.Split(L"a;b;c", L";", true);
    ASSERT_EQ(3, list.Count());
    EXPECT_EQ("c", Narrow(list.Item(3)));
    EXPECT_EQ("c", Narrow(list.Item(1000)));
    EXPECT_EQ(nullptr, list.Item(-1));
    list.Clear();
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(nullptr, list.Item(0));
}

TEST(TokenListSplit, GrowsPastInitialCapacityAndAfterClear) {
    std::wstring text;
    for (int i = 0; i < 100; ++i)
        text += std::to_wstring(i) + L",";
    TokenList list;
    list.Split(text.c_str(), L",", true);
    ASSERT_EQ(100, list.Count());
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(std::to_string(i), Narrow(list.Item(i)));
    list.Clear();
    list.Split(L"x,y,z", L",", false);
    EXPECT_EQ((std::vector<std::string>{"x", "y", "z"}), Tokens(list));
}

TEST(TokenListSplit, TokensPointIntoPrivateCopy) {
    std::wstring text = L"a b";
    TokenList list;
    list.Split(text.c_str(), L" ", true);
    text[0] = L'z';
    EXPECT_EQ("a", Narrow(list.Item(0)));

    // Splitting one of the list's own tokens again must not read the released copy.
    list.Split(L"p:q|r", L"|", true);
    list.Split(list.Item(0), L":", true);
    EXPECT_EQ((std::vector<std::string>{"p", "q"}), Tokens(list));
    list.Split(L"u v", list.Item(1), true);  // separator from the old copy ("q")
    EXPECT_EQ((std::vector<std::string>{"u v"}), Tokens(list));
}

TEST(TokenListSplit, MovingKeepsTokens) {
    TokenList list;
    list.Split(L"one two", L" ", true);
    const wchar_t* first = list.Item(0);
    TokenList moved(std::move(list));
    EXPECT_EQ(first, moved.Item(0));
    EXPECT_EQ("two", Narrow(moved.Item(1)));
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(nullptr, list.Item(0));

    TokenList assigned;
    assigned = std::move(moved);
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), Tokens(assigned));
    list.Split(L"again", L" ", true);  // a moved-from list is usable
    EXPECT_EQ((std::vector<std::string>{"again"}), Tokens(list));
}

}  // namespace
