#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "sys/TextFile.h"

using namespace testing_support;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Utf16Le(const wchar_t* text) {
    Bytes bytes;
    for (const wchar_t* p = text; *p; ++p) {
        bytes.push_back(static_cast<uint8_t>(*p & 0xFF));
        bytes.push_back(static_cast<uint8_t>(*p >> 8));
    }
    return bytes;
}

Bytes Utf16Be(const wchar_t* text) {
    Bytes bytes;
    for (const wchar_t* p = text; *p; ++p) {
        bytes.push_back(static_cast<uint8_t>(*p >> 8));
        bytes.push_back(static_cast<uint8_t>(*p & 0xFF));
    }
    return bytes;
}

Bytes Join(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const Bytes kUtf8Mark = {0xEF, 0xBB, 0xBF};
const Bytes kLeMark = {0xFF, 0xFE};
const Bytes kBeMark = {0xFE, 0xFF};
// "Ab图标" in UTF-8.
const Bytes kUtf8Text = {'A', 'b', 0xE5, 0x9B, 0xBE, 0xE6, 0xA0, 0x87};
const wchar_t kText[] = L"Ab\x56FE\x6807";

TEST(TextFileTest, NewFileStartsWithTheMarkOfItsEncoding) {
    TempFolder temp;
    struct Case {
        unsigned flags;
        Bytes expected;
    } cases[] = {
        {TextFile::kCreate | TextFile::kUtf16, kLeMark},
        {TextFile::kCreate | TextFile::kUtf16BigEndian, kBeMark},
        {TextFile::kCreate | TextFile::kUtf8Bom, kUtf8Mark},
        {TextFile::kCreate | TextFile::kUtf8Bom | TextFile::kUtf16, kUtf8Mark},
        {TextFile::kCreate | TextFile::kUtf8, {}},
        {TextFile::kCreate, {}},
        {TextFile::kCreate | TextFile::kRaw | TextFile::kUtf16, {}},
        {TextFile::kAppend | TextFile::kUtf16, kLeMark},
    };
    for (const Case& c : cases) {
        WideString path = temp / L"new.txt";
        DeleteFileW(path.Text());
        {
            TextFile file;
            EXPECT_NE(nullptr, file.Open(path.Text(), c.flags)) << std::hex << c.flags;
        }
        EXPECT_EQ(c.expected, ReadBytes(path.Text())) << std::hex << c.flags;
    }
}

TEST(TextFileTest, CreateReplacesAnExistingFile) {
    TempFolder temp;
    WideString path = temp / L"settings.ini";
    ASSERT_TRUE(WriteBytes(path.Text(), Join(kUtf8Mark, kUtf8Text)));
    {
        TextFile file(path.Text(), TextFile::kCreate | TextFile::kUtf16);
        ASSERT_TRUE(file.IsOpen());
        Bytes body = Utf16Le(L"[Settings]");
        EXPECT_EQ(body.size(), file.WriteBytes(body.data(), static_cast<DWORD>(body.size())));
    }
    EXPECT_EQ(Join(kLeMark, Utf16Le(L"[Settings]")), ReadBytes(path.Text()));
}

TEST(TextFileTest, ReadsTextByTheMarkFoundOrTheAskedEncoding) {
    TempFolder temp;
    struct Case {
        const char* name;
        Bytes content;
        unsigned flags;
        std::wstring expected;
        unsigned encoding;  // the encoding bits after opening
    } cases[] = {
        {"utf8 mark, ANSI asked", Join(kUtf8Mark, kUtf8Text), 0, kText, TextFile::kUtf8Bom},
        {"utf8 mark, UTF-16 asked", Join(kUtf8Mark, kUtf8Text), TextFile::kUtf16, kText, TextFile::kUtf8Bom},
        {"utf16 mark, UTF-8 asked", Join(kLeMark, Utf16Le(kText)), TextFile::kUtf8, kText, TextFile::kUtf16},
        {"utf16be mark", Join(kBeMark, Utf16Be(kText)), 0, kText, TextFile::kUtf16BigEndian},
        {"utf16be mark, LE asked", Join(kBeMark, Utf16Be(kText)), TextFile::kUtf16, kText, TextFile::kUtf16BigEndian},
        {"utf8 without mark", kUtf8Text, TextFile::kUtf8, kText, TextFile::kUtf8},
        {"utf16 without mark", Utf16Le(kText), TextFile::kUtf16, kText, TextFile::kUtf16},
        {"ansi", {'p', 'l', 'a', 'i', 'n'}, 0, L"plain", 0},
        {"raw keeps the mark", Join(kUtf8Mark, {'a', 'b'}), TextFile::kRaw | TextFile::kUtf8,
         L"\xFEFF"
         L"ab",
         TextFile::kUtf8},
        {"one byte", {'x'}, 0, L"x", 0},
        {"odd utf16 length", Join(kLeMark, {'a', 0, 'b'}), 0, L"ab", TextFile::kUtf16},
    };
    for (const Case& c : cases) {
        WideString path = temp / L"in.txt";
        ASSERT_TRUE(WriteBytes(path.Text(), c.content));
        TextFile file;
        ASSERT_NE(nullptr, file.Open(path.Text(), c.flags)) << c.name;
        EXPECT_EQ(c.encoding, file.OpenFlags() & TextFile::kEncodingMask) << c.name;
        WideString text;
        EXPECT_EQ(static_cast<int>(c.expected.size()), file.ReadAllText(text)) << c.name;
        EXPECT_EQ(c.expected, std::wstring(text.Text())) << c.name;
    }
}

TEST(TextFileTest, TextAfterTheMarkOnlyIsEmpty) {
    TempFolder temp;
    WideString path = temp / L"empty.txt";
    ASSERT_TRUE(WriteBytes(path.Text(), kLeMark));
    TextFile file(path.Text(), 0);
    ASSERT_TRUE(file.IsOpen());
    WideString text(L"stale");
    EXPECT_EQ(0, file.ReadAllText(text));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(TextFileTest, AppendPositionsAtTheEnd) {
    TempFolder temp;
    struct Case {
        Bytes before;
        unsigned flags;
        Bytes added;
        Bytes after;
    } cases[] = {
        {{'a', 'b', 'c'}, TextFile::kAppend, {'d'}, {'a', 'b', 'c', 'd'}},
        {{'a', 'b', 'c'}, TextFile::kAppend | TextFile::kRaw, {'d'}, {'a', 'b', 'c', 'd'}},
        {Join(kLeMark, Utf16Le(L"x")), TextFile::kAppend, Utf16Le(L"y"), Join(kLeMark, Utf16Le(L"xy"))},
        {{}, TextFile::kAppend | TextFile::kUtf8Bom, {'z'}, Join(kUtf8Mark, {'z'})},
    };
    for (const Case& c : cases) {
        WideString path = temp / L"log.txt";
        ASSERT_TRUE(WriteBytes(path.Text(), c.before));
        {
            TextFile file(path.Text(), c.flags);
            ASSERT_TRUE(file.IsOpen());
            EXPECT_EQ(file.Size64(), file.Seek(0, FILE_CURRENT));
            EXPECT_EQ(c.added.size(), file.WriteBytes(c.added.data(), static_cast<DWORD>(c.added.size())));
        }
        EXPECT_EQ(c.after, ReadBytes(path.Text()));
    }
}

TEST(TextFileTest, OpeningFailsWithoutLeavingAHandle) {
    TempFolder temp;
    TextFile file;
    EXPECT_EQ(nullptr, file.Open((temp / L"missing.txt").Text(), 0));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
    EXPECT_EQ(nullptr, file.Open((temp / L"no\\such\\folder.txt").Text(), TextFile::kCreate));
    EXPECT_FALSE(Exists((temp / L"no").Text()));
    WideString text(L"x");
    EXPECT_EQ(0, file.ReadAllText(text));
    EXPECT_EQ(0u, file.WriteBytes("x", 1));
    EXPECT_EQ(-1, file.Seek(0, FILE_END));
    EXPECT_EQ(-1, file.Size64());
}

TEST(TextFileTest, CreatesMissingFoldersWhenAsked) {
    TempFolder temp;
    WideString path = temp / L"one\\two\\out.ini";
    TextFile file;
    ASSERT_NE(nullptr, file.Open(path.Text(), TextFile::kCreate | TextFile::kCreateFolders | TextFile::kUtf16));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(kLeMark, ReadBytes(path.Text()));
}

TEST(TextFileTest, SharingFollowsTheExclusiveFlag) {
    TempFolder temp;
    WideString path = temp / L"shared.txt";
    ASSERT_TRUE(WriteBytes(path.Text(), "abc", 3));
    struct Case {
        unsigned flags;
        bool othersMayRead;
    } cases[] = {{0, true},
                 {TextFile::kExclusive, false},
                 {TextFile::kAppend, true},
                 {TextFile::kAppend | TextFile::kExclusive, false}};
    for (const Case& c : cases) {
        TextFile file(path.Text(), c.flags);
        ASSERT_TRUE(file.IsOpen());
        HANDLE other = CreateFileW(path.Text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(c.othersMayRead, other != INVALID_HANDLE_VALUE) << std::hex << c.flags;
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }
}

TEST(TextFileTest, ReadOnlyOpeningNeitherWritesNorCreates) {
    TempFolder temp;
    WideString path = temp / L"ro.txt";
    ASSERT_TRUE(WriteBytes(path.Text(), "abc", 3));
    TextFile file(path.Text(), TextFile::kUtf16);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(0u, file.WriteBytes("x", 1));
    EXPECT_EQ(Bytes({'a', 'b', 'c'}), ReadBytes(path.Text()));
    TextFile empty;
    WideString emptyPath = temp / L"empty.txt";
    ASSERT_TRUE(WriteBytes(emptyPath.Text(), "", 0));
    ASSERT_TRUE(empty.Open(emptyPath.Text(), TextFile::kUtf16));
    EXPECT_TRUE(ReadBytes(emptyPath.Text()).empty());
}

TEST(TextFileTest, SeekAndSize) {
    TempFolder temp;
    WideString path = temp / L"data.bin";
    ASSERT_TRUE(WriteBytes(path.Text(), "0123456789", 10));
    TextFile file(path.Text(), TextFile::kRaw);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(10u, file.Size());
    EXPECT_EQ(10, file.Size64());
    EXPECT_TRUE(file.Seek(DWORD{7}));
    WideString text;
    EXPECT_EQ(3, file.ReadAllText(text));
    EXPECT_EQ(std::wstring(L"789"), text.Text());
    EXPECT_EQ(4, file.Seek(-6, FILE_END));
    EXPECT_EQ(6, file.Seek(2, FILE_CURRENT));
    EXPECT_EQ(-1, file.Seek(-20, FILE_CURRENT));
}

}  // namespace
