#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "sys/RegistryKey.h"

using namespace testing_support;

namespace {

TEST(RegistryKeyTest, ParsesRootNamesViewsAndSubKeys) {
    struct Case {
        const wchar_t* path;
        bool ok;
        HKEY root;
        const wchar_t* subKey;
        REGSAM view;
    } cases[] = {
        {L"HKCU", true, HKEY_CURRENT_USER, L"", 0},
        {L"hkcu\\Software", true, HKEY_CURRENT_USER, L"Software", 0},
        {L"HKEY_CURRENT_USER\\Control Panel\\Desktop", true, HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0},
        {L"HKLM64\\Software", true, HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_64KEY},
        {L"HKEY_LOCAL_MACHINE32\\Software\\Classes", true, HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_32KEY},
        {L"HKEY_CURRENT_CONFIG64\\X", true, HKEY_CURRENT_CONFIG, L"X", KEY_WOW64_64KEY},
        {L"HKCR\\.ico", true, HKEY_CLASSES_ROOT, L".ico", 0},
        {L"HKEY_CLASSES_ROOT", true, HKEY_CLASSES_ROOT, L"", 0},
        {L"HKU\\.DEFAULT", true, HKEY_USERS, L".DEFAULT", 0},
        {L"Hkey_Users32", true, HKEY_USERS, L"", KEY_WOW64_32KEY},
        {L"HKCC\\System", true, HKEY_CURRENT_CONFIG, L"System", 0},
        {L"HKCU\\", true, HKEY_CURRENT_USER, L"", 0},
        {L"", false, nullptr, L"", 0},
        {L"HKXX\\Software", false, nullptr, L"", 0},
        {L"Software\\Microsoft", false, nullptr, L"", 0},
        {L"HKCU16\\Software", false, nullptr, L"", 0},
        {L"HKEY_CURRENT_USERS\\Software", false, nullptr, L"", 0},
        {L"HK\\CU", false, nullptr, L"", 0},
    };
    for (const Case& c : cases) {
        HKEY root = HKEY_PERFORMANCE_DATA;
        WideString subKey(L"stale");
        REGSAM view = 0xFFFF;
        EXPECT_EQ(c.ok, RegistryKey::ParsePath(c.path, root, subKey, view)) << Narrow(c.path);
        EXPECT_EQ(c.root, root) << Narrow(c.path);
        EXPECT_EQ(std::wstring(c.subKey), std::wstring(subKey.Text())) << Narrow(c.path);
        EXPECT_EQ(c.view, view) << Narrow(c.path);
    }
}

// A key of the test's own under HKCU\Software, deleted with everything below it at the end.
class RegistryKeyValueTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t name[64];
        wsprintfW(name, L"Software\\GlyphwrightTest-%lu", GetCurrentProcessId());
        subKey = name;
        path = WideString::Concat(L"HKCU\\", subKey);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, subKey.Text()); }

    WideString subKey;
    WideString path;
};

TEST_F(RegistryKeyValueTest, NumberRoundTripThroughACreatedKey) {
    {
        RegistryKey missing(path.Text(), KEY_READ);
        EXPECT_FALSE(missing.IsOpen());
    }
    {
        RegistryKey created(path.Text(), RegistryKey::kCreate);
        ASSERT_TRUE(created.IsOpen());
        const DWORD value = 0x12345678;
        EXPECT_TRUE(created.WriteNumber(L"Shell Icon Size", &value));
    }
    // Root names are matched ignoring case; the 64-bit view of HKCU\Software is the same key.
    const WideString variants[] = {path, WideString::Concat(L"hkey_current_user\\", subKey),
                                   WideString::Concat(L"HKCU64\\", subKey)};
    for (const WideString& variant : variants) {
        RegistryKey key(variant.Text(), KEY_READ);
        ASSERT_TRUE(key.IsOpen()) << Narrow(variant.Text());
        DWORD number = 0;
        EXPECT_TRUE(key.ReadNumber(L"Shell Icon Size", number)) << Narrow(variant.Text());
        EXPECT_EQ(0x12345678u, number) << Narrow(variant.Text());
    }
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_CURRENT_USER, subKey.Text(), L"Shell Icon Size", RRF_RT_ANY, &type, &stored, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0x12345678u, stored);
}

TEST_F(RegistryKeyValueTest, OnlyDwordValuesReadAsNumbers) {
    RegistryKey key(path.Text(), RegistryKey::kCreate);
    ASSERT_TRUE(key.IsOpen());
    const wchar_t text[] = L"32";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.Handle(), L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)));
    const wchar_t digits[] = L"1";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.Handle(), L"Short", 0, REG_SZ, reinterpret_cast<const BYTE*>(digits), sizeof(digits)));
    const uint64_t wide = 5;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.Handle(), L"Wide", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&wide), 8));
    const DWORD one = 1;
    ASSERT_TRUE(key.WriteNumber(nullptr, &one));

    struct Case {
        const wchar_t* name;
        bool ok;
        DWORD number;
    } cases[] = {
        {L"Text", false, 0}, {L"Short", false, 0}, {L"Wide", false, 0}, {L"Missing", false, 0}, {nullptr, true, 1},
    };
    for (const Case& c : cases) {
        DWORD number = 99;
        EXPECT_EQ(c.ok, key.ReadNumber(c.name, number)) << Narrow(c.name ? c.name : L"(default)");
        EXPECT_EQ(c.number, number) << Narrow(c.name ? c.name : L"(default)");
    }

    // A null number writes an empty REG_DWORD.
    EXPECT_TRUE(key.WriteNumber(L"Empty", nullptr));
    DWORD type = 0;
    DWORD size = 99;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.Handle(), L"Empty", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(0u, size);
}

TEST_F(RegistryKeyValueTest, KeysThatDidNotOpenRefuseEverything) {
    const wchar_t* paths[] = {L"", L"HKXX\\Software", L"HKCU\\Software\\GlyphwrightTest-none\\deeper"};
    for (const wchar_t* text : paths) {
        RegistryKey key(text, KEY_READ | KEY_WRITE);
        EXPECT_FALSE(key.IsOpen()) << Narrow(text);
        DWORD number = 7;
        EXPECT_FALSE(key.ReadNumber(L"x", number)) << Narrow(text);
        EXPECT_EQ(0u, number);
        EXPECT_FALSE(key.WriteNumber(L"x", &number)) << Narrow(text);
    }
    {
        RegistryKey created(path.Text(), RegistryKey::kCreate);
        ASSERT_TRUE(created.IsOpen());
    }
    RegistryKey readOnly(path.Text(), KEY_READ);
    ASSERT_TRUE(readOnly.IsOpen());
    const DWORD value = 1;
    EXPECT_FALSE(readOnly.WriteNumber(L"x", &value));
    readOnly.Close();
    EXPECT_FALSE(readOnly.IsOpen());
    EXPECT_FALSE(readOnly.WriteNumber(L"x", &value));
}

TEST(RegistryKeyTest, RootAloneOpensTheRootKey) {
    const wchar_t* roots[] = {L"HKCU", L"hkcu", L"HKEY_CURRENT_CONFIG64", L"HKLM32"};
    for (const wchar_t* text : roots) {
        RegistryKey root(text, KEY_READ);
        ASSERT_TRUE(root.IsOpen()) << Narrow(text);
    }
    RegistryKey user(L"HKCU", KEY_READ);
    RegKeyHandle software;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(user.Handle(), L"Software", 0, KEY_READ, software.Receive()));
}

}  // namespace
