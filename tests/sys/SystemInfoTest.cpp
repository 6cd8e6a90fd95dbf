#include "sys/SystemInfo.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "sys/Handles.h"

using testing_support::BuildFile;
using testing_support::Narrow;
using testing_support::RunProcess;

namespace {

// The test prefix's user belongs to the Administrators group.
TEST(SystemInfo, UserIsAdministrator) {
    EXPECT_TRUE(IsUserAdmin());
}

// The tests run in a 64-bit prefix: a 32-bit build's processes run under WOW64, a 64-bit build's natively. The
// helper started below is built for the same processor as the test.
#ifdef _WIN64
constexpr bool kUnderWow64 = false;
#else
constexpr bool kUnderWow64 = true;
#endif

TEST(SystemInfo, OnlyThirtyTwoBitProcessesOnSixtyFourBitSystemAreWow64) {
    EXPECT_EQ(IsWow64(), kUnderWow64);
    EXPECT_EQ(IsWow64(GetCurrentProcess()), kUnderWow64);

    WideString line = WideString::Concat(L"\"", BuildFile(L"gwtest_lingering.exe"), L"\" no-window");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, const_cast<wchar_t*>(line.Text()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    EXPECT_EQ(IsWow64(process.Get()), kUnderWow64);
    TerminateProcess(process.Get(), 0);

    // A handle that names no process gives false rather than the answer for this process.
    KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(IsWow64(event.Get()));
}

TEST(SystemInfo, MessagesForDroppingFilesPassTheFilter) {
    for (UINT message : {UINT{WM_DROPFILES}, UINT{0x49}, UINT{WM_NCHITTEST}})
        EXPECT_TRUE(AllowMessageThroughFilter(message)) << message;
}

// Wine answers version queries with the version chosen for a program under HKCU\Software\Wine\AppDefaults.
class OsVersionUnderWindowsVersions : public ::testing::Test {
protected:
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
    static constexpr const wchar_t* kKey = L"Software\\Wine\\AppDefaults\\gwtest_lingering.exe";
};

TEST_F(OsVersionUnderWindowsVersions, EachVersionMapsToItsNumber) {
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &probe) != ERROR_SUCCESS)
        GTEST_SKIP() << "not running under Wine";
    RegCloseKey(probe);
    // Without a compatibility manifest the reported version stops at 6.2, which is taken as it is.
    const struct {
        const wchar_t* setting;
        int tenths;
    } cases[] = {{L"winxp", 51}, {L"vista", 60}, {L"win7", 61}, {L"win8", 62}, {L"win81", 62}, {L"win10", 62}};
    for (const auto& c : cases) {
        RegKeyHandle key;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
        DWORD bytes = static_cast<DWORD>((lstrlenW(c.setting) + 1) * sizeof(wchar_t));
        ASSERT_EQ(RegSetValueExW(key.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.setting), bytes),
                  ERROR_SUCCESS);
        WideString line = WideString::Concat(L"\"", BuildFile(L"gwtest_lingering.exe"), L"\" os-version");
        EXPECT_EQ(RunProcess(line.Text()), c.tenths) << Narrow(c.setting);
    }
}

TEST(PumpMessages, DispatchesEverythingPending) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_FALSE(PumpMessages());

    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP + i, 0, 0));
    EXPECT_TRUE(PumpMessages());
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE));
}

// A quit request that arrives during long work must still end the caller's message loop.
TEST(PumpMessages, LeavesQuitRequestForTheMessageLoop) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0));
    PostQuitMessage(42);
    EXPECT_TRUE(PumpMessages());
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 42u);
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
}

}  // namespace
