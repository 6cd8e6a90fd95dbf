#include "engine/FolderIcon.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "IcoReader.h"
#include "PictureSupport.h"
#include "TestSupport.h"
#include "sys/Handles.h"

using namespace testing_support;

namespace {

const ::testing::Environment* const kImaging = RegisterImagingEnvironment();

// One section of an initialisation file as read straight from its bytes: the name and its lines in order.
struct IniSection {
    std::wstring name;
    std::vector<std::wstring> lines;
};

// Reads desktop.ini without the platform's profile functions: the bytes must be UTF-16LE with its mark.
bool ParseUtf16Ini(const std::vector<uint8_t>& bytes, std::vector<IniSection>& sections) {
    sections.clear();
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE || bytes.size() % 2 != 0) return false;
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    if (!text.empty()) std::memcpy(&text[0], bytes.data() + 2, bytes.size() - 2);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' '))
            line.pop_back();
        if (line.empty()) continue;
        if (line.front() == L'[' && line.back() == L']') {
            sections.push_back({line.substr(1, line.size() - 2), {}});
        } else if (!sections.empty()) {
            sections.back().lines.push_back(line);
        } else {
            return false;
        }
    }
    return true;
}

std::vector<IniSection> ReadIni(const WideString& path) {
    std::vector<IniSection> sections;
    EXPECT_TRUE(ParseUtf16Ini(ReadBytes(path.Text()), sections)) << Narrow(path.Text());
    return sections;
}

// The lines of the named section; an empty list when the section is missing. Counts the sections of that name.
std::vector<std::wstring> Lines(const std::vector<IniSection>& sections, const wchar_t* name, int* count = nullptr) {
    std::vector<std::wstring> lines;
    int found = 0;
    for (const IniSection& section : sections) {
        if (_wcsicmp(section.name.c_str(), name) != 0) continue;
        ++found;
        lines = section.lines;
    }
    if (count) *count = found;
    return lines;
}

std::vector<uint8_t> Utf16Ini(const std::wstring& text) {
    std::vector<uint8_t> bytes(2 + text.size() * 2);
    bytes[0] = 0xFF;
    bytes[1] = 0xFE;
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        bytes[3 + 2 * i] = static_cast<uint8_t>(text[i] >> 8);
    }
    return bytes;
}

WideString operator+(const WideString& left, const wchar_t* right) {
    return WideString::Concat(left, right);
}

DWORD Attributes(const WideString& path) {
    return GetFileAttributesW(path.Text());
}

constexpr DWORD kMarks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;

// Sizes of the entries of an .ico file and whether each is stored as PNG; empty when it is no icon file.
std::vector<std::pair<int, bool>> IconEntries(const std::vector<uint8_t>& bytes) {
    std::vector<std::pair<int, bool>> entries;
    const IcoDirectory ico = ReadIcoDirectory(bytes);
    if (!ico.isIcon) return entries;
    if (!ico.complete) return {};
    for (const IcoEntry& e : ico.entries)
        entries.emplace_back(e.width, e.png);
    return entries;
}

class FolderIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        // A comma followed by digits in the folder name must not pass for an icon index.
        target_ = root_ / L"Pictures, 2024";
        ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
        picture_ = root_ / L"red.png";
        ASSERT_TRUE(SavePicture(picture_, 40, 30, 0xFFE02020u));
        other_ = root_ / L"blue.png";
        ASSERT_TRUE(SavePicture(other_, 64, 64, 0xFF2020E0u));
        notIcon_ = root_ / L"notes.txt";
        ASSERT_TRUE(WriteBytes(notIcon_.Text(), "plain text, no icon resources", 29));
        ini_ = target_ + L"\\desktop.ini";
        icon_ = target_ + L"\\Folder.ico";
    }
    void TearDown() override {
        // The folder's own attributes would keep TempFolder from removing it on some systems.
        SetFileAttributesW(target_.Text(), FILE_ATTRIBUTE_NORMAL);
        CoUninitialize();
    }

    void WriteIni(const std::wstring& text) {
        ASSERT_TRUE(WriteBytes(ini_.Text(), Utf16Ini(text)));
        SetFileAttributesW(ini_.Text(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
    // The target folder made anew, its desktop.ini holding a [.ShellClassInfo] section of these lines.
    void FreshFolderWithSection(const std::vector<std::wstring>& lines) {
        RemoveTree(target_.Text());
        ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
        std::wstring text = L"[.ShellClassInfo]\r\n";
        for (const std::wstring& line : lines)
            text += line + L"\r\n";
        WriteIni(text);
    }
    std::wstring OwnIconLine() const { return std::wstring(L"IconFile=") + icon_.Text(); }

    TempFolder root_;
    WideString target_, picture_, other_, notIcon_, ini_, icon_;
};

TEST_F(FolderIconTest, OrdinaryFolderGetsItsIconFileAndOnlyTheIconSection) {
    ASSERT_TRUE(SetFolderIcon(target_, picture_, -1));

    const std::vector<IniSection> sections = ReadIni(ini_);
    ASSERT_EQ(1u, sections.size());
    EXPECT_EQ(L".ShellClassInfo", sections[0].name);
    EXPECT_EQ((std::vector<std::wstring>{OwnIconLine(), L"IconIndex=0"}), sections[0].lines);

    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, Attributes(ini_) & kMarks);
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, Attributes(icon_) & kMarks);
    EXPECT_TRUE(Attributes(target_) & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ((std::vector<std::pair<int, bool>>{{16, false}, {32, false}, {48, false}, {256, true}}),
              IconEntries(ReadBytes(icon_.Text())));
    EXPECT_EQ((std::set<std::wstring>{L"desktop.ini", L"Folder.ico"}), FolderNames(target_));

    // Setting again replaces the icon and keeps one section; no backup of the folder's own icon is made.
    const std::vector<uint8_t> firstIcon = ReadBytes(icon_.Text());
    ASSERT_TRUE(SetFolderIcon(target_, other_, -1));
    EXPECT_NE(firstIcon, ReadBytes(icon_.Text()));
    int count = 0;
    EXPECT_EQ((std::vector<std::wstring>{OwnIconLine(), L"IconIndex=0"}),
              Lines(ReadIni(ini_), L".ShellClassInfo", &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(1u, ReadIni(ini_).size());
    EXPECT_EQ((std::set<std::wstring>{L"desktop.ini", L"Folder.ico"}), FolderNames(target_));

    // Without a backup the reset removes desktop.ini and the system mark, and keeps the icon file.
    EXPECT_TRUE(ResetFolderIcon(target_));
    EXPECT_FALSE(Exists(ini_.Text()));
    EXPECT_TRUE(Exists(icon_.Text()));
    EXPECT_FALSE(Attributes(target_) & FILE_ATTRIBUTE_SYSTEM);
}

TEST_F(FolderIconTest, AResourceIconAndAFolderPathWithTrailingBackslashWork) {
    WideString shell32;
    ASSERT_TRUE(shell32.SetSpecialFolder(0x25));  // the system folder
    shell32.Append(L"\\shell32.dll");
    ASSERT_TRUE(SetFolderIcon(target_ + L"\\", shell32, 3));
    EXPECT_EQ((std::vector<std::wstring>{OwnIconLine(), L"IconIndex=0"}), Lines(ReadIni(ini_), L".ShellClassInfo"));
    EXPECT_EQ(4u, IconEntries(ReadBytes(icon_.Text())).size());
}

// A folder whose settings name an icon other than its own Folder.ico keeps them in "Glyphwright.default": saved
// once, before the first change, and put back by the reset together with the system mark.
TEST_F(FolderIconTest, EarlierIconsAreSavedOnceAndComeBackOnReset) {
    struct Case {
        const char* name;
        std::vector<std::wstring> earlier;
        bool saved;
    } cases[] = {
        {"special folder",
         {L"IconResource=%SystemRoot%\\system32\\imageres.dll,-112",
          L"LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-21770"},
         true},
        {"special folder in another case", {L"IconResource=C:\\WINDOWS\\System32\\ImageRes.dll,-184"}, true},
        {"other custom icon file", {L"IconFile=C:\\Icons\\elsewhere.ico", L"IconIndex=3"}, true},
        {"other custom icon resource", {L"IconResource=C:\\Icons\\library.dll,7", L"InfoTip=kept"}, true},
        {"own icon already", {L"IconFile=Folder.ico", L"IconIndex=0", L"InfoTip=mine"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshFolderWithSection(c.earlier);
        ASSERT_FALSE(HasFatalFailure());
        SetFileAttributesW(target_.Text(), FILE_ATTRIBUTE_SYSTEM);

        ASSERT_TRUE(SetFolderIcon(target_, picture_, -1));
        std::vector<IniSection> sections = ReadIni(ini_);
        int backups = 0;
        const std::vector<std::wstring> saved = Lines(sections, L"Glyphwright.default", &backups);
        EXPECT_EQ(c.saved ? 1 : 0, backups);
        if (c.saved) {
            EXPECT_EQ(c.earlier, saved);
        }
        const std::vector<std::wstring> now = Lines(sections, L".ShellClassInfo");
        EXPECT_NE(now.end(), std::find(now.begin(), now.end(), OwnIconLine()));
        for (const std::wstring& line : now)
            EXPECT_NE(0u, line.find(L"IconResource=")) << Narrow(line.c_str());

        // A second setting finds the folder's own icon and leaves the first copy alone.
        ASSERT_TRUE(SetFolderIcon(target_, other_, -1));
        sections = ReadIni(ini_);
        EXPECT_EQ(saved, Lines(sections, L"Glyphwright.default", &backups));
        EXPECT_EQ(c.saved ? 1 : 0, backups);

        EXPECT_TRUE(ResetFolderIcon(target_));
        if (!c.saved) continue;
        sections = ReadIni(ini_);
        EXPECT_EQ(c.earlier, Lines(sections, L".ShellClassInfo"));
        EXPECT_EQ(c.earlier, Lines(sections, L"Glyphwright.default"));
        EXPECT_TRUE(Attributes(target_) & FILE_ATTRIBUTE_SYSTEM);
        EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, Attributes(ini_) & kMarks);
        EXPECT_TRUE(Exists(icon_.Text()));
    }
}

TEST_F(FolderIconTest, ResetWithoutBackupKeepsOtherSettings) {
    struct Case {
        const char* name;
        std::wstring before;
        std::vector<IniSection> after;  // empty: desktop.ini is gone
    } cases[] = {
        {"other key",
         L"[.ShellClassInfo]\r\nInfoTip=Holiday pictures\r\n",
         {{L".ShellClassInfo", {L"InfoTip=Holiday pictures"}}}},
        {"other section", L"[ViewState]\r\nMode=4\r\n", {{L".ShellClassInfo", {}}, {L"ViewState", {L"Mode=4"}}}},
        {"nothing else", L"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(target_.Text());
        ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
        if (!c.before.empty()) WriteIni(c.before);
        ASSERT_TRUE(SetFolderIcon(target_, picture_, -1));
        EXPECT_TRUE(ResetFolderIcon(target_));
        EXPECT_TRUE(Exists(icon_.Text()));
        if (c.after.empty()) {
            EXPECT_FALSE(Exists(ini_.Text()));
            EXPECT_FALSE(Attributes(target_) & FILE_ATTRIBUTE_SYSTEM);
            continue;
        }
        std::vector<IniSection> sections = ReadIni(ini_);
        // Section order in the file is the platform's business; the content is not.
        for (const IniSection& expected : c.after) {
            int count = 0;
            EXPECT_EQ(expected.lines, Lines(sections, expected.name.c_str(), &count)) << Narrow(expected.name.c_str());
        }
        size_t nonEmpty = 0;
        for (const IniSection& section : sections)
            nonEmpty += !section.lines.empty();
        size_t expectedNonEmpty = 0;
        for (const IniSection& section : c.after)
            expectedNonEmpty += !section.lines.empty();
        EXPECT_EQ(expectedNonEmpty, nonEmpty);
        EXPECT_TRUE(Attributes(target_) & FILE_ATTRIBUTE_SYSTEM);
    }
}

// A failure leaves the folder as it was, byte for byte: the earlier icon, desktop.ini and every attribute.
TEST_F(FolderIconTest, AFailedSettingLeavesTheFolderAsItWas) {
    struct Case {
        const char* name;
        bool earlierIcon;
        const WideString* source;
        int32_t index;
        bool lockIni;  // desktop.ini open elsewhere for reading only, so it cannot be written
    } cases[] = {
        {"source that does not convert, earlier icon", true, &notIcon_, 0, false},
        {"index past the resource's icons, earlier icon", true, &picture_, 7, false},
        {"source that does not convert, plain folder", false, &notIcon_, 0, false},
        {"desktop.ini cannot be written", true, &other_, -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(target_.Text());
        ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
        if (c.earlierIcon) {
            ASSERT_TRUE(SetFolderIcon(target_, picture_, -1));
        }
        const std::set<std::wstring> names = FolderNames(target_);
        const std::vector<uint8_t> icon = ReadBytes(icon_.Text());
        const std::vector<uint8_t> ini = ReadBytes(ini_.Text());
        const DWORD iconAttributes = Attributes(icon_), iniAttributes = Attributes(ini_);
        const DWORD folderAttributes = Attributes(target_);

        FileHandle lock;
        if (c.lockIni)
            lock.Reset(CreateFileW(ini_.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(SetFolderIcon(target_, *c.source, c.index));
        lock.Reset();

        EXPECT_EQ(names, FolderNames(target_));
        EXPECT_EQ(icon, ReadBytes(icon_.Text()));
        EXPECT_EQ(ini, ReadBytes(ini_.Text()));
        EXPECT_EQ(iconAttributes, Attributes(icon_));
        EXPECT_EQ(iniAttributes, Attributes(ini_));
        EXPECT_EQ(folderAttributes, Attributes(target_));
    }
}

// desktop.ini is kept whole whatever its size: a file of megabytes gets the icon without losing a line, and a
// ".ShellClassInfo" section longer than any fixed buffer is saved and put back whole.
TEST_F(FolderIconTest, LargeFilesAndLongSectionsAreKeptWhole) {
    const WideString jpeg = root_ / L"photo.jpg";
    ASSERT_TRUE(SavePicture(jpeg, 48, 32, 0xFF3070C0u, L"image/jpeg"));
    std::vector<std::wstring> many = {L"InfoTip=many lines"};
    for (int i = 0; i < 40000; ++i)
        many.push_back(L"Line" + std::to_wstring(i) + L"=a value long enough to make the whole file a few megabytes");
    const std::vector<std::wstring> longTip = {L"IconResource=%SystemRoot%\\system32\\imageres.dll,-112",
                                               L"InfoTip=" + std::wstring(40000, L'x'), L"ConfirmFileOp=0"};
    struct Case {
        const char* name;
        std::vector<std::wstring> earlier;
        bool saved;  // kept as "Glyphwright.default" and put back by the reset
    } cases[] = {
        {"4.8 MB of lines", many, false},
        {"a special folder's section of 40,000 characters", longTip, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshFolderWithSection(c.earlier);
        ASSERT_FALSE(HasFatalFailure());

        ASSERT_TRUE(SetFolderIcon(target_, c.saved ? picture_ : jpeg, -1));
        std::vector<IniSection> sections = ReadIni(ini_);
        std::vector<std::wstring> now = Lines(sections, L".ShellClassInfo");
        std::vector<std::wstring> expected = c.earlier;
        if (c.saved) {
            expected.erase(expected.begin());  // IconResource goes
            EXPECT_EQ(c.earlier, Lines(sections, L"Glyphwright.default"));
        }
        for (const std::wstring& line : {OwnIconLine(), std::wstring(L"IconIndex=0")}) {
            EXPECT_NE(now.end(), std::find(now.begin(), now.end(), line));
            now.erase(std::remove(now.begin(), now.end(), line), now.end());
        }
        EXPECT_TRUE(expected == now) << now.size() << " lines instead of " << expected.size();

        EXPECT_TRUE(ResetFolderIcon(target_));
        if (!c.saved) continue;
        const std::vector<std::wstring> back = Lines(ReadIni(ini_), L".ShellClassInfo");
        EXPECT_TRUE(c.earlier == back) << back.size() << " lines came back";
        if (back.size() == 3) {
            EXPECT_EQ(c.earlier[1].size(), back[1].size());
        }
    }
}

// Bytes in 4096 that no text file holds.
std::vector<uint8_t> Junk(bool withNul) {
    std::vector<uint8_t> bytes(4096);
    uint32_t state = 12345;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
        if (!withNul && byte == 0) byte = 1;
    }
    return bytes;
}

// A desktop.ini that is no text cannot be rewritten by the profile functions without turning it into something it
// never was: it is kept byte for byte as "desktop (backup).ini", a new desktop.ini takes the icon, and the reset
// puts the file back as it was. Text files in any of the encodings are rewritten in place.
TEST_F(FolderIconTest, ADesktopIniThatIsNoTextIsKeptAsItWasAndComesBackOnReset) {
    const std::string utf8 = "[.ShellClassInfo]\r\nInfoTip=\xE5\x81\x87\xE6\x97\xA5\r\n";
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool text;
    } cases[] = {
        {"binary junk with NUL bytes", Junk(true), false},
        {"binary junk without NUL bytes", Junk(false), false},
        {"ANSI text with a NUL byte", {'[', 'a', ']', '\r', '\n', 'k', '=', 0, '\r', '\n'}, false},
        {"UTF-16 with NUL units", {0xFF, 0xFE, '[', 0, 'a', 0, ']', 0, 0, 0, 'k', 0}, false},
        {"UTF-8 text without a mark", std::vector<uint8_t>(utf8.begin(), utf8.end()), true},
        {"UTF-16 text", Utf16Ini(L"[.ShellClassInfo]\r\nInfoTip=x\r\n"), true},
    };
    const WideString kept = target_ + L"\\desktop (backup).ini";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(target_.Text());
        ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
        ASSERT_TRUE(WriteBytes(ini_.Text(), c.bytes));
        SetFileAttributesW(ini_.Text(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
        const DWORD attributes = Attributes(ini_);

        ASSERT_TRUE(SetFolderIcon(target_, picture_, -1));
        if (c.text) {
            EXPECT_FALSE(Exists(kept.Text()));
            EXPECT_TRUE(ResetFolderIcon(target_));
            continue;
        }
        EXPECT_EQ(c.bytes, ReadBytes(kept.Text()));
        EXPECT_EQ((std::vector<std::wstring>{OwnIconLine(), L"IconIndex=0"}), Lines(ReadIni(ini_), L".ShellClassInfo"));
        EXPECT_TRUE(Attributes(target_) & FILE_ATTRIBUTE_SYSTEM);

        // Setting again finds a text file of its own and keeps the first copy.
        ASSERT_TRUE(SetFolderIcon(target_, other_, -1));
        EXPECT_EQ(c.bytes, ReadBytes(kept.Text()));

        EXPECT_TRUE(ResetFolderIcon(target_));
        EXPECT_EQ(c.bytes, ReadBytes(ini_.Text()));
        EXPECT_EQ(attributes, Attributes(ini_));
        EXPECT_EQ((std::set<std::wstring>{L"desktop.ini", L"Folder.ico"}), FolderNames(target_));
        EXPECT_FALSE(Attributes(target_) & FILE_ATTRIBUTE_SYSTEM);
    }
}

// A reset that cannot change desktop.ini (held open by another program here, as in a folder the user may not
// write) reports it and leaves the folder with its icon; a folder without any icon settings has nothing to reset.
TEST_F(FolderIconTest, AResetThatCannotChangeTheFolderSaysSo) {
    struct Case {
        const char* name;
        std::wstring earlier;  // desktop.ini before the icon is set; empty: none
    } cases[] = {
        {"own settings only", L""},
        {"special folder with saved settings",
         L"[.ShellClassInfo]\r\nIconResource=%SystemRoot%\\system32\\imageres.dll,-112\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(target_.Text());
        ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
        if (!c.earlier.empty()) WriteIni(c.earlier);
        ASSERT_TRUE(SetFolderIcon(target_, picture_, -1));
        const std::vector<uint8_t> ini = ReadBytes(ini_.Text());
        const DWORD folderAttributes = Attributes(target_);
        {
            FileHandle lock(
                CreateFileW(ini_.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(lock);
            EXPECT_FALSE(ResetFolderIcon(target_));
        }
        EXPECT_EQ(ini, ReadBytes(ini_.Text()));
        EXPECT_EQ(folderAttributes, Attributes(target_));
        EXPECT_TRUE(ResetFolderIcon(target_));
    }
    RemoveTree(target_.Text());
    ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
    EXPECT_TRUE(ResetFolderIcon(target_));
    EXPECT_TRUE(FolderNames(target_).empty());
}

TEST_F(FolderIconTest, ATargetThatIsNoFolderIsRefused) {
    EXPECT_FALSE(SetFolderIcon(picture_, other_, -1));
    EXPECT_FALSE(SetFolderIcon(root_ / L"missing", other_, -1));
    EXPECT_FALSE(Exists((root_ / L"missing").Text()));
}

}  // namespace
