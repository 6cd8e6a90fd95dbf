#include "sys/Processes.h"

#include <gtest/gtest.h>

#include <deque>

#include "support/TestSupport.h"
#include "sys/Handles.h"

using testing_support::BuildFile;
using testing_support::Narrow;

namespace {

constexpr DWORD kQuitOnDestroyCode = 7;
constexpr DWORD kTerminatedCode = 0;
constexpr DWORD kWaitMs = 20000;

struct Child {
    KernelHandle process;
    DWORD id = 0;
};

Child StartHelper(const wchar_t* mode) {
    WideString line = WideString::Concat(L"\"", BuildFile(L"gwtest_lingering.exe"), L"\" ", mode);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    Child child;
    if (CreateProcessW(nullptr, const_cast<wchar_t*>(line.Text()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        child.process.Reset(info.hProcess);
        child.id = info.dwProcessId;
    }
    return child;
}

HWND TopLevelWindowOf(DWORD processId) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"GwTestLingeringWindow", nullptr); window;
         window = FindWindowExW(nullptr, window, L"GwTestLingeringWindow", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) return window;
    }
    return nullptr;
}

// The child needs a moment to create its window; KillProcess only reaches windows that exist.
bool WaitForWindow(const Child& child) {
    for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
        if (TopLevelWindowOf(child.id)) return true;
        if (WaitForSingleObject(child.process.Get(), 20) == WAIT_OBJECT_0) return false;
    }
    return false;
}

DWORD ExitCodeOf(const Child& child) {
    if (WaitForSingleObject(child.process.Get(), kWaitMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(child.process.Get(), &code);
    return code;
}

WideString WindowsFolderFile(const wchar_t* name) {
    wchar_t windows[MAX_PATH + 1] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
    return WideString::Concat(windows, L"\\", name);
}

class ProcessesTest : public ::testing::Test {
protected:
    // Children live as long as the test, so the teardown can end whatever a failed test left running.
    const Child& Start(const wchar_t* mode) {
        children_.push_back(StartHelper(mode));
        return children_.back();
    }
    void TearDown() override {
        for (const Child& child : children_)
            if (child.process) TerminateProcess(child.process.Get(), 99);
    }

private:
    std::deque<Child> children_;
};

TEST(ProcessesNormalize, NativeFormsBecomeOrdinaryPaths) {
    struct Case {
        const wchar_t* input;
        WideString expected;
    };
    const Case cases[] = {
        {L"\\SystemRoot\\explorer.exe", WindowsFolderFile(L"explorer.exe")},
        {L"\\systemroot\\System32\\notepad.exe", WindowsFolderFile(L"System32\\notepad.exe")},
        {L"\\??\\C:\\Tools\\app.exe", L"C:\\Tools\\app.exe"},
        // Anything else is already an ordinary path or not one this rule knows.
        {L"\\\\?\\C:\\Tools\\app.exe", L"\\\\?\\C:\\Tools\\app.exe"},
        {L"\\\\SystemRoot\\explorer.exe", L"\\\\SystemRoot\\explorer.exe"},
        {L"\\SystemRootX\\explorer.exe", L"\\SystemRootX\\explorer.exe"},
        {L"C:\\SystemRoot\\explorer.exe", L"C:\\SystemRoot\\explorer.exe"},
        {L"\\Device\\HarddiskVolume1\\app.exe", L"\\Device\\HarddiskVolume1\\app.exe"},
        {L"Z:\\work\\app.exe", L"Z:\\work\\app.exe"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        WideString path(c.input);
        NormalizeNativePath(path);
        EXPECT_TRUE(path.Equals(c.expected.Text())) << Narrow(c.input) << " -> " << Narrow(path.Text());
    }
}

TEST(ProcessesNormalize, SystemRootPathComparesEqualToWindowsFolderFile) {
    WideString reported(L"\\SystemRoot\\explorer.exe");
    NormalizeNativePath(reported);
    EXPECT_TRUE(reported.EqualsIgnoreCase(WindowsFolderFile(L"EXPLORER.EXE").Text())) << Narrow(reported.Text());
}

TEST(ProcessesAlive, ReservedIdsAndOwnProcess) {
    const struct {
        DWORD id;
        bool alive;
    } cases[] = {{0, false}, {1, false}, {2, false}, {3, false}, {4, true}, {GetCurrentProcessId(), true}};
    for (const auto& c : cases)
        EXPECT_EQ(IsProcessAlive(c.id), c.alive) << c.id;
}

TEST_F(ProcessesTest, EndedProcessIsNotAlive) {
    const Child& child = Start(L"no-window");
    ASSERT_TRUE(child.process) << Narrow(BuildFile(L"gwtest_lingering.exe").Text()) << " error " << GetLastError();
    EXPECT_TRUE(IsProcessAlive(child.id));
    TerminateProcess(child.process.Get(), 5);
    ASSERT_EQ(ExitCodeOf(child), 5u);
    // Our handle keeps the id reserved, so it cannot name some other process meanwhile.
    EXPECT_FALSE(IsProcessAlive(child.id));
}

TEST_F(ProcessesTest, ImagePathOfOwnAndChildProcess) {
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    WideString path;
    ASSERT_TRUE(ProcessImagePath(GetCurrentProcessId(), path));
    EXPECT_TRUE(path.EqualsIgnoreCase(own)) << Narrow(path.Text());

    const Child& child = Start(L"no-window");
    ASSERT_TRUE(child.process) << Narrow(BuildFile(L"gwtest_lingering.exe").Text()) << " error " << GetLastError();
    ASSERT_TRUE(ProcessImagePath(child.id, path));
    EXPECT_TRUE(path.EqualsIgnoreCase(BuildFile(L"gwtest_lingering.exe").Text())) << Narrow(path.Text());
}

TEST(ProcessesImage, FailureLeavesPathUnchanged) {
    // 0 is the idle process, which cannot be opened; the other id is not a multiple of 4, so no process has it.
    for (DWORD id : {DWORD{0}, DWORD{0xFFFFFFF1}}) {
        WideString path(L"unchanged");
        EXPECT_FALSE(ProcessImagePath(id, path)) << id;
        EXPECT_TRUE(path.Equals(L"unchanged")) << id;
    }
}

TEST_F(ProcessesTest, FindsChildByImagePathIgnoringCaseAndKillsIt) {
    const Child& child = Start(L"no-window");
    ASSERT_TRUE(child.process) << Narrow(BuildFile(L"gwtest_lingering.exe").Text()) << " error " << GetLastError();
    WideString image = BuildFile(L"gwtest_lingering.exe");
    WideString shouted = image;
    for (wchar_t* unit = shouted.UnitAt(1); *unit; ++unit)
        if (*unit >= L'a' && *unit <= L'z') *unit = static_cast<wchar_t>(*unit - 32);
    EXPECT_EQ(FindProcessByImage(image.Text()), child.id) << Narrow(image.Text());
    EXPECT_EQ(FindProcessByImage(shouted.Text()), child.id);
    EXPECT_EQ(FindProcessByImage(BuildFile(L"gwtest_no_such_program.exe").Text()), 0u);

    EXPECT_TRUE(KillProcess(child.id));
    EXPECT_EQ(ExitCodeOf(child), kTerminatedCode);
    EXPECT_FALSE(IsProcessAlive(child.id));
    EXPECT_EQ(FindProcessByImage(image.Text()), 0u);
}

// The exit code tells how the child ended: its own code after WM_DESTROY, 0 from TerminateProcess.
TEST_F(ProcessesTest, KillEscalatesOnlyWhenWindowsIgnoreDestroy) {
    const struct {
        const wchar_t* mode;
        DWORD exitCode;
    } cases[] = {{L"quit-on-destroy", kQuitOnDestroyCode}, {L"ignore-destroy", kTerminatedCode}};
    for (const auto& c : cases) {
        const Child& child = Start(c.mode);
        ASSERT_TRUE(child.process) << Narrow(c.mode);
        ASSERT_TRUE(WaitForWindow(child)) << Narrow(c.mode);
        EXPECT_TRUE(KillProcess(child.id)) << Narrow(c.mode);
        EXPECT_EQ(ExitCodeOf(child), c.exitCode) << Narrow(c.mode);
        EXPECT_FALSE(IsProcessAlive(child.id)) << Narrow(c.mode);
    }
}

}  // namespace
