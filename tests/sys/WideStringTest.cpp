#include "sys/WideString.h"

#include <windows.h>
#include <shlobj.h>

#include <pcre2.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/support/TestSupport.h"

using testing_support::Narrow;

namespace {

// Lets EXPECT_EQ print wide texts readably.
std::string N(const WideString& s) {
    return Narrow(s.Text());
}
std::string N(const wchar_t* s) {
    return s ? Narrow(s) : std::string("(null)");
}

TEST(WideStringSearch, FindFollowsStartWindowAndOccurrence) {
    struct Case {
        const wchar_t* text;
        const wchar_t* needle;
        bool caseSensitive;
        int occurrence, start, window, expected;
    };
    const Case cases[] = {
        {L"HKU\\Software", L"\\", false, 1, 4, 20, 4},
        {L"C:\\x", L"\\\\", false, 1, 1, 2, 0},  // begins-with test
        {L"\\\\server\\share", L"\\\\", false, 1, 1, 2, 1},
        {L"C:\\a\\b", L"\\", false, -1, 1, 0, 5},
        {L"C:\\a\\b", L"\\", false, -2, 1, 0, 3},
        {L"C:\\a\\b", L"\\", false, -3, 1, 0, 0},
        {L"C:\\a\\b", L"\\", false, 2, 1, 0, 5},
        {L"C:\\a\\b", L"\\", false, 0, 1, 0, 3},  // occurrence 0 counts as 1
        {L"xabc", L"ABC", false, 1, 1, 0, 2},
        {L"xabc", L"ABC", true, 1, 1, 0, 0},
        {L"x\u00E4", L"\u00C4", false, 1, 1, 0, 0},  // only A-Z fold
        {L"x\u00C4", L"\u00C4", false, 1, 1, 0, 2},
        {L"aaa", L"aa", true, 2, 1, 0, 2},  // overlapping matches count
        {L"aaa", L"aa", true, 3, 1, 0, 0},
        {L"abc", L"", false, 1, 1, 0, 0},
        {L"", L"a", false, 1, 1, 0, 0},
        {L"ab", L"abc", false, 1, 1, 0, 0},
        {L"abc", nullptr, false, 1, 1, 0, 0},
        {L"abcabc", L"b", false, 1, 0, 0, 2},  // start 0 means 1
        {L"abcabc", L"b", false, 1, 3, 0, 5},
        {L"abcabc", L"b", false, 1, 6, 0, 0},
        {L"abcabc", L"b", false, 1, 99, 0, 0},
        {L"abcabc", L"c", false, 2, 1, 3, 0},  // second c lies outside the window
        {L"abcabc", L"c", false, 2, 1, 6, 6},
        {L"abcabc", L"c", false, 2, 2, 10, 6},  // window longer than the rest is not applied
        {L"abcdef", L"cd", false, 1, 1, 1, 0},  // window shorter than the needle
        {L"abcdef", L"cd", false, 1, 1, 3, 0},  // match must lie wholly inside the window
        {L"abcdef", L"cd", false, 1, 1, 4, 3},
        {L"abcabc", L"abc", false, -1, 1, 3, 1},  // backward walk inside the window
    };
    for (const Case& c : cases) {
        const WideString s(c.text);
        EXPECT_EQ(c.expected, s.Find(c.needle, c.caseSensitive, c.occurrence, c.start, c.window))
            << N(c.text) << " / " << N(c.needle) << " occ " << c.occurrence << " start " << c.start << " window "
            << c.window;
        EXPECT_EQ(c.expected != 0, s.Ok()) << N(c.text) << " / " << N(c.needle);
    }
}

TEST(WideStringSearch, StartsAndEndsWith) {
    struct Case {
        const wchar_t* text;
        const wchar_t* piece;
        bool caseSensitive, starts, ends;
    };
    const Case cases[] = {
        {L"C:\\Windows\\x.EXE", L"c:\\windows", false, true, false},
        {L"C:\\Windows\\x.EXE", L"c:\\windows", true, false, false},
        {L"C:\\Windows\\x.EXE", L".exe", false, false, true},
        {L"C:\\Windows\\x.EXE", L".exe", true, false, false},
        {L"ab", L"abc", false, false, false},
        {L"ab", L"", false, true, true},
        {L"", L"a", false, false, false},
    };
    for (const Case& c : cases) {
        const WideString s(c.text);
        EXPECT_EQ(c.starts, s.StartsWith(c.piece, c.caseSensitive)) << N(c.text) << " / " << N(c.piece);
        EXPECT_EQ(c.ends, s.EndsWith(c.piece, c.caseSensitive)) << N(c.text) << " / " << N(c.piece);
    }
}

TEST(WideStringSearch, CompareOrdersByUnsignedUnitsAndFoldsOnlyAsciiLetters) {
    struct Case {
        const wchar_t* text;
        const wchar_t* other;
        bool caseSensitive;
        int expected;
    };
    const Case cases[] = {
        {L"abc", L"abc", true, 0},         {L"ABC", L"abc", false, 0}, {L"ABC", L"abc", true, -1},
        {L"abc", L"abd", false, -1},       {L"abd", L"abc", false, 1}, {L"ab", L"abc", false, -1},
        {L"abc", L"ab", false, 1},         {L"\uFFFF", L"a", true, 1},  // unsigned: high units sort after ASCII
        {L"\u00C4", L"\u00E4", false, -1}, {L"[", L"a", false, -1},     // '[' (0x5B) vs 'a' after folding
        {L"[", L"A", false, -1},           {L"a", nullptr, false, 1},   // null sorts before any text
        {L"", nullptr, false, 1},
    };
    for (const Case& c : cases) {
        const WideString s(c.text);
        EXPECT_EQ(c.expected, s.Compare(c.other, c.caseSensitive)) << N(c.text) << " / " << N(c.other);
        EXPECT_EQ(c.expected == 0, c.caseSensitive ? s.Equals(c.other) : s.EqualsIgnoreCase(c.other))
            << N(c.text) << " / " << N(c.other);
    }
    WideString same(L"x");
    EXPECT_EQ(0, same.Compare(same.Text(), true));
    // An unset string reads as the empty text.
    EXPECT_TRUE(WideString().EqualsIgnoreCase(L""));
    EXPECT_EQ(-1, WideString().Compare(L"a", true));
}

TEST(WideStringSearch, MatchesCaselessExtensionPattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    const wchar_t* expression = L"\\.(png|jpe?g)$";
    pcre2_code_16* pattern = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(expression), PCRE2_ZERO_TERMINATED,
                                              PCRE2_CASELESS, &error, &offset, nullptr);
    ASSERT_NE(nullptr, pattern);
    struct Case {
        const wchar_t* text;
        bool expected;
    };
    const Case cases[] = {
        {L"C:\\pics\\a.png", true},  {L"a.PNG", true},      {L"b.jpeg", true}, {L"c.JpG", true},
        {L"d.gif", false},           {L"e.png.txt", false}, {L"png", false},   {L"", false},
        {L"\u56FE\u7247.jpg", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, WideString(c.text).Matches(pattern)) << N(c.text);
    EXPECT_FALSE(WideString().Matches(pattern));
    EXPECT_FALSE(WideString(L"a.png").Matches(nullptr));
    pcre2_code_free_16(pattern);
}

TEST(WideStringReplace, ReplacesOneOrEveryNonOverlappingOccurrence) {
    struct Case {
        const wchar_t* text;
        const wchar_t* needle;
        const wchar_t* replacement;
        int occurrence;
        bool caseSensitive;
        const wchar_t* expected;
        bool ok;
    };
    const Case cases[] = {
        {L"C:\\Windows\\system32\\drivers\\SYSTEM32\\x", L"\\System32\\", L"\\SysNative\\", 0, false,
         L"C:\\Windows\\SysNative\\drivers\\SysNative\\x", true},
        {L"C:\\Windows\\system32\\x", L"\\System32\\", L"\\SysNative\\", 0, true, L"C:\\Windows\\system32\\x", false},
        {L"aaaa", L"aa", L"b", 0, false, L"bb", true},
        {L"aaa", L"aa", L"b", 0, false, L"ba", true},
        {L"aaa", L"a", L"aa", 0, false, L"aaaaaa", true},
        {L"abcabcabc", L"abc", L"X", 2, false, L"abcXabc", true},
        {L"abcabcabc", L"abc", L"X", -1, false, L"abcabcX", true},
        {L"abcabcabc", L"abc", L"XYZW", -3, false, L"XYZWabcabc", true},
        {L"abcabcabc", L"abc", L"X", 4, false, L"abcabcabc", false},
        {L"a-b-c", L"-", L"", 0, false, L"abc", true},
        {L"a-b-c", L"-", nullptr, 0, false, L"abc", true},
        {L"a-b-c", L"-", L"+", 0, false, L"a+b+c", true},
        {L"x\u00C4x", L"\u00E4", L"a", 0, false, L"x\u00C4x", false},
        {L"abc", L"", L"x", 0, false, L"abc", false},
        {L"abc", nullptr, L"x", 0, false, L"abc", false},
        {L"", L"a", L"x", 0, false, L"", false},
        {L"abc", L"abc", L"", 0, false, L"", true},
    };
    for (const Case& c : cases) {
        WideString s(c.text);
        s.Replace(c.needle, c.replacement, c.occurrence, c.caseSensitive);
        // Before reading the text: asking for it sets ok.
        EXPECT_EQ(c.ok, s.Ok()) << N(c.text) << " / " << N(c.needle);
        EXPECT_EQ(N(c.expected), N(s)) << N(c.text) << " / " << N(c.needle) << " occ " << c.occurrence;
        EXPECT_EQ(static_cast<int>(wcslen(c.expected)), s.Length()) << N(c.text);
    }
}

TEST(WideStringReplace, NeedleOrReplacementMayBeOwnText) {
    WideString s(L"abc");
    s.Replace(s.Text(), L"x");
    EXPECT_EQ("x", N(s));

    s = L"ab";
    s.Replace(L"a", s.Text());  // grows: replacement read before the old buffer goes
    EXPECT_EQ("abb", N(s));

    s = L"abcd";
    s.Replace(L"bc", s.UnitAt(4));  // shrinks in place: replacement "d" must be read before it moves
    EXPECT_EQ("add", N(s));

    s = L"abcd";
    s.Replace(L"bcd", s.UnitAt(3));  // replacement "cd" overlaps the place it is written to
    EXPECT_EQ("acd", N(s));

    s = L"xyxyz";
    s.Replace(s.UnitAt(3), L"-");  // needle "xyz"
    EXPECT_EQ("xy-", N(s));
}

TEST(WideStringTrim, FlagsSelectLeadingTrailingCollapseOrAll) {
    struct Case {
        const wchar_t* text;
        int flags;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"a \tb", WideString::kTrimCollapse, L"a\tb"},
        {L" \t a  b \r\n", WideString::kTrimLeading, L"a  b \r\n"},
        {L" \t a  b \r\n", WideString::kTrimTrailing, L" \t a  b"},
        {L" \t a  b \r\n", WideString::kTrimLeading | WideString::kTrimTrailing, L"a  b"},
        {L" \t a  b \r\n", WideString::kTrimLeading | WideString::kTrimTrailing | WideString::kTrimCollapse, L"a b"},
        {L" \t a  b \r\n", WideString::kTrimCollapse, L" a b\n"},
        {L" \t a  b \r\n", WideString::kTrimAll, L"ab"},
        {L" \t a  b \r\n", WideString::kTrimAll | WideString::kTrimCollapse, L"ab"},
        {L"a\u3000b\u00A0", WideString::kTrimAll, L"a\u3000b\u00A0"},  // only tab, LF, CR and space count
        {L" \t\r\n ", WideString::kTrimLeading | WideString::kTrimTrailing, L""},
        {L"x", WideString::kTrimLeading | WideString::kTrimTrailing, L"x"},
    };
    for (const Case& c : cases) {
        WideString s(c.text);
        EXPECT_TRUE(s.Trim(c.flags)) << N(c.text) << " flags " << c.flags;
        EXPECT_EQ(N(c.expected), N(s)) << N(c.text) << " flags " << c.flags;
        EXPECT_EQ(static_cast<int>(wcslen(c.expected)), s.Length());
    }
    WideString empty(L"");
    EXPECT_FALSE(empty.Trim());
    EXPECT_FALSE(empty.Ok());
    WideString unset;
    EXPECT_FALSE(unset.Trim(WideString::kTrimAll));
}

TEST(WideStringPaths, LongPathForm) {
    const struct {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\x", L"\\\\?\\C:\\x"},
        {L"c:", L"\\\\?\\c:"},
        {L"\\\\server\\share", L"\\\\server\\share"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"dir\\x", L"dir\\x"},
        {L"x", L"x"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(N(c.expected), N(WideString(c.text).ToLongPathForm())) << N(c.text);
}

TEST(WideStringPaths, ExtensionFileNameAndTitle) {
    struct Case {
        const wchar_t* text;
        const wchar_t* extension;  // null: none
        const wchar_t* fileName;
        const wchar_t* fileTitle;
    };
    const Case cases[] = {
        {L"C:\\pics\\a.png", L"png", L"a.png", L"a"},
        {L"C:\\pics\\a.tar.gz", L"gz", L"a.tar.gz", L"a.tar"},
        {L"C:\\dir.d\\file", nullptr, L"file", L"file"},
        {L"C:\\dir\\file.", nullptr, L"file.", L"file"},
        {L"file", nullptr, L"file", L"file"},
        {L"C:", nullptr, L"", L""},
        {L"C:\\", nullptr, L"", L""},
        {L":", nullptr, L":", L":"},
        {L"C:/a/b.ico", L"ico", L"C:/a/b.ico", L"C:/a/b"},  // '/' is no separator
        {L"\\\\?\\C:\\x\\.hidden", L"hidden", L".hidden", L""},
        {L"", nullptr, L"", L""},
    };
    for (const Case& c : cases) {
        const WideString s(c.text);
        const WideString bare = s.Extension(false);
        EXPECT_EQ(c.extension != nullptr, bare.Ok()) << N(c.text);
        EXPECT_EQ(c.extension != nullptr, s.Ok()) << N(c.text);
        if (c.extension) {
            EXPECT_EQ(N(c.extension), N(bare)) << N(c.text);
            EXPECT_EQ("." + N(c.extension), N(s.Extension(true))) << N(c.text);
        } else {
            EXPECT_TRUE(bare.IsEmpty()) << N(c.text);
        }
        EXPECT_EQ(N(c.fileName), N(s.FileName())) << N(c.text);
        EXPECT_EQ(N(c.fileTitle), N(s.FileTitle())) << N(c.text);
    }
}

TEST(WideStringPaths, ParentStripsSeparatorsAndKeepsRoots) {
    struct Case {
        const wchar_t* text;
        bool keep;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\", true, L"C:\\"},
        {L"C:\\", false, L"C:"},
        {L"C:\\x", false, L"C:"},
        {L"C:\\x", true, L"C:\\"},
        {L"C:\\dir\\file", false, L"C:\\dir"},
        {L"C:\\dir\\file", true, L"C:\\dir\\"},
        {L"C:\\dir\\sub\\\\", false, L"C:\\dir"},
        {L"\\\\server\\share", false, L"\\\\server"},
        {L"\\\\?\\C:\\x", false, L"\\\\?\\C:"},
        {L"file", false, L"file"},
        {L"file", true, L"file\\"},
        {L"", true, L""},  // an empty path must not become the drive root
    };
    for (const Case& c : cases) {
        WideString s(c.text);
        s.ToParent(c.keep);
        EXPECT_EQ(N(c.expected), N(s)) << N(c.text) << " keep " << c.keep;
        EXPECT_EQ(static_cast<int>(wcslen(c.expected)), s.Length()) << N(c.text);
    }
}

TEST(WideStringPaths, EnvironmentAndSpecialFolders) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"GW_TEXT_TEST", L"value"));
    WideString s(L"%GW_TEXT_TEST%\\x");
    s.ExpandEnvironment();
    EXPECT_TRUE(s.Ok());
    EXPECT_EQ("value\\x", N(s));
    s = L"%GW_TEXT_UNSET_NAME%";
    s.ExpandEnvironment();
    EXPECT_EQ("%GW_TEXT_UNSET_NAME%", N(s));

    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(0u, GetWindowsDirectoryW(windows, MAX_PATH));
    WideString folder;
    EXPECT_TRUE(folder.SetSpecialFolder(CSIDL_WINDOWS));
    EXPECT_TRUE(folder.EqualsIgnoreCase(windows)) << N(folder) << " vs " << N(windows);
    EXPECT_TRUE(folder.SetSpecialFolder(CSIDL_LOCAL_APPDATA));
    EXPECT_FALSE(folder.IsEmpty());
    EXPECT_EQ(2, folder.Find(L":\\", true, 1, 1, 0));
}

TEST(WideStringConversions, CodePages) {
    struct Case {
        const char* bytes;
        int count;
        unsigned codePage;
        const wchar_t* expected;
        bool ok;
    };
    const Case cases[] = {
        {"h\xC3\xA9llo", 0, 65001, L"h\u00E9llo", true},
        {"h\xC3\xA9llo", 3, 65001, L"h\u00E9", true},
        {"\xE5\x9B\xBE\xE6\xA0\x87", 0, 65001, L"\u56FE\u6807", true},
        {"caf\xE9", 0, 1252, L"caf\u00E9", true},
        {"", 0, 65001, L"", false},
        // A zero byte within the count ends the text: the length must not run past it.
        {"ab\0cd", 5, 65001, L"ab", true},
        {"ab\0cd", 5, 1252, L"ab", true},
    };
    for (const Case& c : cases) {
        WideString s(L"old");
        EXPECT_EQ(c.ok, s.FromCodePage(c.bytes, c.count, c.codePage)) << c.bytes;
        EXPECT_EQ(c.ok, s.Ok());
        EXPECT_EQ(N(c.expected), N(s)) << c.bytes;
        EXPECT_EQ(static_cast<int>(wcslen(c.expected)), s.Length());
    }
    WideString s(L"kept");
    EXPECT_FALSE(s.FromUtf8(nullptr, 3));
    EXPECT_EQ("kept", N(s));
    EXPECT_TRUE(s.FromUtf8("abc", 0));
    EXPECT_EQ("abc", N(s));
}

TEST(WideStringConversions, ByteSwappedUtf16StopsAtZeroUnit) {
    const wchar_t bigEndian[] = {0x4800, 0x6900, 0xFE56, 0x0000, 0x4100};
    WideString s;
    EXPECT_TRUE(s.FromSwappedUtf16(bigEndian, 5));
    EXPECT_EQ(3, s.Length());
    EXPECT_EQ(L'H', s.Text()[0]);
    EXPECT_EQ(L'i', s.Text()[1]);
    EXPECT_EQ(static_cast<wchar_t>(0x56FE), s.Text()[2]);
    EXPECT_TRUE(s.FromSwappedUtf16(bigEndian, 1));
    EXPECT_EQ("H", N(s));
}

TEST(WideStringConversions, Numbers) {
    const struct {
        int32_t value;
        const char* expected;
    } ints[] = {{0, "0"}, {7, "7"}, {-1, "-1"}, {2147483647, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const auto& c : ints) {
        EXPECT_EQ(c.expected, N(WideString::FromInt(c.value)));
        EXPECT_EQ(c.value, WideString::FromInt(c.value).ToInt());
    }
    EXPECT_EQ("4294967295", N(WideString::FromUInt(4294967295u)));
    EXPECT_EQ("0", N(WideString::FromUInt(0)));

    const struct {
        const wchar_t* text;
        int32_t asInt;
        int64_t asInt64;
        double asDouble;
        bool numeric, ok;
    } cases[] = {
        {L"42", 42, 42, 42.0, true, true},
        {L"-17abc", -17, -17, -17.0, true, true},
        {L"+5", 5, 5, 5.0, true, true},
        {L"  12", 12, 12, 12.0, false, true},  // wcstol skips white space; the numeric test does not
        {L"9000000000", 2147483647, 9000000000LL, 9e9, true, true},
        {L"1.5", 1, 1, 1.5, true, true},
        {L"abc", 0, 0, 0.0, false, true},
        {L"-", 0, 0, 0.0, false, true},
        {L"", 0, 0, 0.0, false, false},
    };
    for (const auto& c : cases) {
        const WideString s(c.text);
        EXPECT_EQ(c.asInt, s.ToInt()) << N(c.text);
        EXPECT_EQ(c.ok, s.Ok()) << N(c.text);
        EXPECT_EQ(c.asInt64, s.ToInt64()) << N(c.text);
        EXPECT_DOUBLE_EQ(c.asDouble, s.ToDouble()) << N(c.text);
        EXPECT_EQ(c.ok, s.Ok()) << N(c.text);
        EXPECT_EQ(c.numeric, s.IsNumeric()) << N(c.text);
    }
    EXPECT_FALSE(WideString().IsNumeric());
    EXPECT_EQ(0, WideString().ToInt());
}

TEST(WideStringConversions, HexFromBytes) {
    const uint8_t bytes[] = {0x1C, 0x0B, 0x0A, 0x00};
    const struct {
        int flags;
        const char* expected;
    } cases[] = {
        {0, "1C0B0A00"},
        {WideString::kHexPrefix, "0x1C0B0A00"},
        {WideString::kHexReverse, "000A0B1C"},
        {WideString::kHexPrefix | WideString::kHexReverse, "0x000A0B1C"},
        {WideString::kHexLower | WideString::kHexReverse, "000a0b1c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, N(WideString::HexFromBytes(bytes, 4, c.flags))) << c.flags;
    EXPECT_EQ("", N(WideString::HexFromBytes(bytes, 0, 0)));
    EXPECT_EQ("ff", N(WideString::HexFromBytes("\xFF", 1, WideString::kHexLower)));
}

TEST(WideStringConversions, HexToBytes) {
    struct Case {
        const wchar_t* text;
        bool reverse;
        std::vector<uint8_t> expected;  // empty: result 0
    };
    const Case cases[] = {
        {L"0x000A0B1C", true, {0x1C, 0x0B, 0x0A, 0x00}},
        {L"0X000A0B1C", false, {0x00, 0x0A, 0x0B, 0x1C}},
        {L"1C0B0A00", false, {0x1C, 0x0B, 0x0A, 0x00}},
        {L"abCD", false, {0xAB, 0xCD}},
        {L"G1z2", false, {0x01, 0x02}},  // units outside the digit table give zero nibbles
        {L"123", false, {0x12}},
        {L"123", true, {0x23}},
        {L"0x", false, {}},
        {L"1", false, {}},
        {L"", false, {}},
    };
    for (const Case& c : cases) {
        uint8_t out[8];
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(static_cast<int>(c.expected.size()), WideString::HexToBytes(c.text, out, sizeof out, c.reverse))
            << N(c.text);
        for (size_t i = 0; i < sizeof out; ++i)
            EXPECT_EQ(i < c.expected.size() ? c.expected[i] : 0, out[i]) << N(c.text) << " byte " << i;
    }
    uint8_t small[2] = {0xEE, 0xEE};
    EXPECT_EQ(0, WideString::HexToBytes(L"0x000A0B1C", small, sizeof small, true));
    EXPECT_EQ(0, small[0] | small[1]);  // zero-filled even when too small
    EXPECT_EQ(0, WideString::HexToBytes(L"0x1C", nullptr, 4, false));
}

TEST(WideStringConversions, WindowHandleRoundTripsThroughHex) {
    const HWND window = GetDesktopWindow();
    const WideString text =
        WideString::HexFromBytes(&window, sizeof window, WideString::kHexPrefix | WideString::kHexReverse);
    // As many digits as the handle has bytes: 8 in a 32-bit process, 16 in a 64-bit one.
    wchar_t expected[32];
    if (sizeof window == 8)
        swprintf(expected, 32, L"0x%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
    else
        swprintf(expected, 32, L"0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)));
    EXPECT_EQ(N(expected), N(text));
    HWND back = nullptr;
    EXPECT_EQ(static_cast<int>(sizeof back), WideString::HexToBytes(text.Text(), &back, sizeof back, true));
    EXPECT_EQ(window, back);
}

TEST(WideStringBuilding, PiecesMayBeNullOrOwnText) {
    WideString s(L"ab");
    s.Append(s, s);
    EXPECT_EQ("ababab", N(s));
    s = L"ab";
    s.Prepend(s, L"-");
    EXPECT_EQ("ab-ab", N(s));
    s.Set(L"x", s.UnitAt(4), nullptr, s);
    EXPECT_EQ("xabab-ab", N(s));
    s.Append(nullptr, WideString(), L"");
    EXPECT_TRUE(s.Ok());
    EXPECT_EQ("xabab-ab", N(s));
    EXPECT_EQ(8, s.Length());
    s = s.UnitAt(3);
    EXPECT_EQ("bab-ab", N(s));
    s = s;
    EXPECT_EQ("bab-ab", N(s));

    const WideString twelve =
        WideString::Concat(L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10", WideString(L"11"), L"12");
    EXPECT_EQ("123456789101112", N(twelve));
    EXPECT_EQ(15, twelve.Length());
}

TEST(WideStringBuilding, SubstringsAndCuts) {
    struct Case {
        const wchar_t* source;
        int start, count;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"abcdef", 2, 3, L"bcd"}, {L"abcdef", 0, 2, L"ab"},   {L"abcdef", -5, 0, L"abcdef"},
        {L"abcdef", 4, 0, L"def"}, {L"abcdef", 4, -1, L"def"}, {L"abcdef", 5, 99, L"ef"},
        {L"abcdef", 7, 1, L""},    {L"abcdef", 99, 0, L""},    {L"", 1, 1, L""},
    };
    for (const Case& c : cases) {
        WideString s(L"old");
        s.AssignSubstring(c.source, c.start, c.count);
        EXPECT_TRUE(s.Ok());
        EXPECT_EQ(N(c.expected), N(s)) << N(c.source) << " " << c.start << "," << c.count;
        WideString m(c.source);
        m.Mid(c.start, c.count);
        EXPECT_EQ(N(c.expected), N(m)) << N(c.source) << " " << c.start << "," << c.count;
        EXPECT_EQ(static_cast<int>(wcslen(c.expected)), m.Length());
    }
    WideString s(L"kept");
    s.AssignSubstring(nullptr, 1, 1);
    EXPECT_FALSE(s.Ok());
    EXPECT_EQ("kept", N(s));

    s = L"abcdef";
    EXPECT_FALSE(s.TruncateTo(7));
    EXPECT_EQ("abcdef", N(s));
    EXPECT_TRUE(s.TruncateTo(4));
    EXPECT_EQ("abcd", N(s));
    EXPECT_EQ(4, s.Length());
    s.DropRight(1);
    EXPECT_EQ("abc", N(s));
    s.DropLeft(1);
    EXPECT_EQ("bc", N(s));
    s.DropLeft(-3);
    EXPECT_EQ("bc", N(s));
    s.DropRight(9);
    EXPECT_EQ("", N(s));
    s = L"xy";
    s.DropLeft(9);
    EXPECT_EQ(0, s.Length());

    s = L"C:\\dir\\\\\\";
    EXPECT_TRUE(s.StripTrailingBackslashes());
    EXPECT_EQ("C:\\dir", N(s));
    s = L"\\\\";
    EXPECT_TRUE(s.StripTrailingBackslashes());
    EXPECT_EQ("", N(s));
    EXPECT_FALSE(s.StripTrailingBackslashes());
    EXPECT_FALSE(s.Ok());
}

TEST(WideStringOwnership, UnsetStringHandsOutTerminatedText) {
    const WideString unset;
    unset.SetOk(false);
    const wchar_t* text = unset.Text();
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(0, text[0]);
    EXPECT_TRUE(unset.Ok());
    EXPECT_EQ(0, unset.Length());

    WideString s;
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(0, *s.UnitAt(5));
    wchar_t* detached = s.Detach();
    ASSERT_NE(nullptr, detached);
    EXPECT_EQ(0, detached[0]);
    WideString::FreeBuffer(detached);
}

TEST(WideStringOwnership, CopyMoveAdoptDetach) {
    WideString a(L"text");
    WideString b(a);
    EXPECT_NE(a.Text(), b.Text());
    EXPECT_EQ("text", N(b));
    WideString c(std::move(b));
    EXPECT_EQ("text", N(c));
    EXPECT_TRUE(b.IsEmpty());
    c = std::move(a);
    EXPECT_EQ("text", N(c));

    wchar_t* heap = WideString::AllocateBuffer(4);
    ASSERT_NE(nullptr, heap);
    wcscpy(heap, L"abc");
    WideString adopted(heap, false);
    EXPECT_EQ(heap, adopted.Text());
    EXPECT_EQ(3, adopted.Length());
    wchar_t* handedOut = adopted.Detach();
    EXPECT_EQ(heap, handedOut);
    EXPECT_TRUE(adopted.IsEmpty());

    WideString copied(handedOut, true);
    EXPECT_NE(handedOut, copied.Text());
    copied.Adopt(handedOut);
    EXPECT_EQ(handedOut, copied.Text());
    copied.Adopt(nullptr);
    EXPECT_TRUE(copied.IsEmpty());
    EXPECT_EQ("", N(copied));

    c.Clear();
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_TRUE(c.Ok());
    c = L"abc";
    const wchar_t* kept = c.Text();
    c.MakeEmpty();
    EXPECT_EQ(kept, c.Text());
    EXPECT_EQ(0, c.Length());
}

TEST(WideStringOwnership, ReserveLetsPlatformCallsWriteAndRemeasures) {
    WideString s(L"previous text");
    EXPECT_EQ(13, s.Length());
    wchar_t* buffer = s.Reserve(MAX_PATH, true);
    ASSERT_NE(nullptr, buffer);
    for (int i = 0; i <= MAX_PATH; ++i)
        ASSERT_EQ(0, buffer[i]) << i;
    const UINT written = GetWindowsDirectoryW(buffer, MAX_PATH);
    ASSERT_GT(written, 0u);
    EXPECT_EQ(static_cast<int>(written), s.Length());

    s = L"abcdef";
    s.Reserve(3, false, s.Text());
    EXPECT_EQ("abc", N(s));
    buffer = s.Reserve(10, false, L"xy");
    EXPECT_EQ(0, buffer[2]);
    EXPECT_EQ(0, buffer[10]);
    buffer[2] = L'z';
    buffer[3] = 0;
    EXPECT_EQ("xyz", N(s));
    EXPECT_EQ(3, s.Length());
}

TEST(WideStringOwnership, UnitAtAndCopyTo) {
    WideString s(L"abc");
    EXPECT_EQ(L'a', *s.UnitAt(-3));
    EXPECT_EQ(L'a', *s.UnitAt(1));
    EXPECT_EQ(L'c', *s.UnitAt(3));
    EXPECT_EQ(0, *s.UnitAt(4));
    EXPECT_EQ(0, *s.UnitAt(400));

    std::vector<wchar_t> big(3000, L'q');
    big.back() = 0;
    WideString longText(big.data());
    std::vector<wchar_t> fixed(WideString::kFixedBufferUnits + 1, L'#');
    EXPECT_TRUE(longText.CopyTo(fixed.data()));
    EXPECT_EQ(2047u, wcslen(fixed.data()));
    EXPECT_EQ(L'#', fixed[2048]);
    EXPECT_FALSE(longText.CopyTo(nullptr));
    EXPECT_FALSE(longText.Ok());
}

TEST(WideStringOwnership, AllocationSizesBeyond32BitsFail) {
    EXPECT_EQ(nullptr, WideString::AllocateBuffer(INT64_C(0x80000000)));
    EXPECT_EQ(nullptr, WideString::AllocateBuffer(INT64_C(1) << 40));
    EXPECT_EQ(nullptr, WideString::AllocateBuffer(-1));
    WideString s(L"kept");
    EXPECT_EQ(nullptr, s.Reserve(0x7FFFFFFF));  // 4 GB: no 32-bit process gets it
    EXPECT_FALSE(s.Ok());
    EXPECT_EQ("kept", N(s));

    // Two digits per byte: counts whose text length passes 32 bits are refused before a single byte is read.
    const uint8_t byte = 0xAB;
    for (int count : {0x3FFFFFFF, 0x40000000, 0x7FFFFFFF}) {
        const WideString hex = WideString::HexFromBytes(&byte, count, WideString::kHexPrefix);
        EXPECT_FALSE(hex.Ok()) << count;
        EXPECT_EQ("", N(hex)) << count;
    }
}

}  // namespace
