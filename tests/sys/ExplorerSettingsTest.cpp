#include "sys/ExplorerSettings.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "RegistryGuard.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

constexpr wchar_t kAdvanced[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";

TEST(RegistryKeyGuardTest, PutsBackValuesAndRemovesWhatTheTestAdded) {
    wchar_t name[64];
    wsprintfW(name, L"Software\\GlyphwrightGuardTest-%lu", GetCurrentProcessId());
    const WideString parent(name);
    const WideString child = WideString::Concat(parent, L"\\Inner");
    const char text[] = "t\0e\0x\0t\0\0";
    ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, parent.Text(), L"Text", REG_SZ, text, sizeof(text)));
    ASSERT_TRUE(SetRegistryNumber(HKEY_CURRENT_USER, parent.Text(), L"Gone", 3));
    const RegistryValue textBefore = RegistryValue::Read(HKEY_CURRENT_USER, parent.Text(), L"Text");
    {
        RegistryKeyGuard existing(HKEY_CURRENT_USER, parent.Text());
        RegistryKeyGuard created(HKEY_CURRENT_USER, child.Text());
        EXPECT_TRUE(existing.Existed());
        EXPECT_FALSE(created.Existed());
        ASSERT_TRUE(SetRegistryNumber(HKEY_CURRENT_USER, parent.Text(), L"Text", 5));
        ASSERT_TRUE(SetRegistryNumber(HKEY_CURRENT_USER, parent.Text(), L"Added", 6));
        ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, parent.Text(), L"Gone", REG_DWORD, nullptr, 0));
        ASSERT_TRUE(SetRegistryNumber(HKEY_CURRENT_USER, child.Text(), L"Number", 7));
    }
    EXPECT_TRUE(RegistryValue::Read(HKEY_CURRENT_USER, parent.Text(), L"Text") == textBefore);
    EXPECT_EQ(3, RegistryValue::Read(HKEY_CURRENT_USER, parent.Text(), L"Gone").Number());
    EXPECT_FALSE(RegistryValue::Read(HKEY_CURRENT_USER, parent.Text(), L"Added").present);
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, child.Text(), 0, KEY_READ, &key));
    RegDeleteTreeW(HKEY_CURRENT_USER, parent.Text());
    RegDeleteKeyW(HKEY_CURRENT_USER, parent.Text());
}

// The settings key of the test prefix in a state of the test's own; both values and the key's existence are put
// back afterwards.
class ExplorerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }

    // -1 deletes the value.
    static void Store(int hidden, int superHidden) {
        const struct {
            const wchar_t* name;
            int value;
        } values[] = {{L"Hidden", hidden}, {L"ShowSuperHidden", superHidden}};
        for (const auto& v : values) {
            const DWORD number = static_cast<DWORD>(v.value);
            ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kAdvanced, v.name, REG_DWORD,
                                         v.value < 0 ? nullptr : &number, sizeof(number)));
        }
    }
    static int64_t Stored(const wchar_t* name) {
        return RegistryValue::Read(HKEY_CURRENT_USER, kAdvanced, name).Number();
    }

    RegistryKeyGuard guard_{HKEY_CURRENT_USER, kAdvanced};
};

TEST_F(ExplorerSettingsTest, EachSwitchWritesItsCoupledValuesAndReadsBack) {
    // Both values start at 7, a number no switch writes, so a value left at 7 was not written.
    struct Case {
        const char* name;
        bool show;
        ExplorerItems which;
        int written;
        int64_t hidden;
        int64_t superHidden;
    } cases[] = {
        {"show hidden files", true, ExplorerItems::kHiddenFiles, 1, 1, 7},
        {"hide hidden files also hides system files", false, ExplorerItems::kHiddenFiles, 2, 0, 0},
        {"show system files also shows hidden files", true, ExplorerItems::kSystemFiles, 2, 1, 1},
        {"hide system files", false, ExplorerItems::kSystemFiles, 1, 7, 0},
    };
    for (const Case& c : cases) {
        Store(7, 7);
        EXPECT_EQ(c.written, SetExplorerVisibility(c.show, c.which)) << c.name;
        EXPECT_EQ(c.hidden, Stored(L"Hidden")) << c.name;
        EXPECT_EQ(c.superHidden, Stored(L"ShowSuperHidden")) << c.name;
        const ExplorerVisibility read = ReadExplorerVisibility();
        EXPECT_EQ(c.hidden == 1, read.hiddenFiles) << c.name;
        EXPECT_EQ(c.superHidden != 0, read.systemFiles) << c.name;
    }
}

TEST_F(ExplorerSettingsTest, ReadsHiddenFilesShownOnlyForOneAndSystemFilesForAnyNonZeroNumber) {
    const char one[] = "1\0\0";
    struct Case {
        const char* name;
        int hidden;
        int superHidden;
        bool textHidden;
        bool expectHidden;
        bool expectSystem;
    } cases[] = {
        {"missing Hidden reads unchecked", -1, 1, false, false, true},
        {"both missing", -1, -1, false, false, false},
        {"zero and non-zero", 0, 5, false, false, true},
        {"Hidden stored as text", -1, 0, true, false, false},
        // The system stores 1 for showing hidden files and 2 for hiding them.
        {"Hidden 1 is shown", 1, 0, false, true, false},
        {"Hidden 2 is hidden", 2, 1, false, false, true},
    };
    for (const Case& c : cases) {
        Store(c.hidden, c.superHidden);
        if (c.textHidden) {
            ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kAdvanced, L"Hidden", REG_SZ, one, sizeof(one)));
        }
        const ExplorerVisibility read = ReadExplorerVisibility();
        EXPECT_EQ(c.expectHidden, read.hiddenFiles) << c.name;
        EXPECT_EQ(c.expectSystem, read.systemFiles) << c.name;
    }
}

TEST_F(ExplorerSettingsTest, AMissingKeyIsNotCreatedAndReadsHidden) {
    // Only a key without sub-keys can be taken away and put back whole by the guard.
    Store(-1, -1);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, kAdvanced));
    for (ExplorerItems which : {ExplorerItems::kHiddenFiles, ExplorerItems::kSystemFiles}) {
        for (bool show : {true, false})
            EXPECT_EQ(0, SetExplorerVisibility(show, which));
    }
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kAdvanced, 0, KEY_READ, &key));
    const ExplorerVisibility read = ReadExplorerVisibility();
    EXPECT_FALSE(read.hiddenFiles);
    EXPECT_FALSE(read.systemFiles);
}

}  // namespace
