#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/Application.h"

namespace {

struct Mapping {
    const wchar_t* given;
    const wchar_t* expected;  // relative to the Windows folder
};

class MapSystemFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.isWow64 = true;
        app.BuildSystemPaths();
        wchar_t buffer[MAX_PATH] = {};
        GetWindowsDirectoryW(buffer, MAX_PATH);
        windows = buffer;
    }
    Application app;
    WideString windows;
};

TEST_F(MapSystemFoldersTest, RedirectsSystemFoldersOfA32BitProcessIgnoringCase) {
    const Mapping cases[] = {
        {L"\\System32\\x.dll", L"\\SysNative\\x.dll"},
        {L"\\SYSTEM32\\x.dll", L"\\SysNative\\x.dll"},
        {L"\\system32\\drivers\\etc", L"\\SysNative\\drivers\\etc"},
        {L"\\SysWOW64\\x.dll", L"\\System32\\x.dll"},
        {L"\\syswow64\\x.dll", L"\\System32\\x.dll"},
        {L"\\Fonts\\arial.ttf", L"\\Fonts\\arial.ttf"},
    };
    for (const Mapping& c : cases) {
        WideString path = WideString::Concat(windows, c.given);
        app.MapSystemFolders(path);
        WideString expected = WideString::Concat(windows, c.expected);
        EXPECT_TRUE(path.EqualsIgnoreCase(expected.Text()))
            << testing_support::Narrow(c.given) << " became " << testing_support::Narrow(path.Text());
    }
}

TEST_F(MapSystemFoldersTest, LeavesPathsAloneWithoutWow64) {
    app.isWow64 = false;
    WideString path = WideString::Concat(windows, L"\\System32\\x.dll");
    WideString before = path;
    app.MapSystemFolders(path);
    EXPECT_TRUE(path.Equals(before.Text()));
}

// Reads the machine field of a PE file's header.
WORD MachineOf(const wchar_t* path) {
    std::vector<uint8_t> bytes = testing_support::ReadBytes(path);
    if (bytes.size() < 0x40) return 0;
    uint32_t peOffset = *reinterpret_cast<const uint32_t*>(&bytes[0x3C]);
    if (bytes.size() < peOffset + 6) return 0;
    return *reinterpret_cast<const WORD*>(&bytes[peOffset + 4]);
}

TEST(Wow64Test, ProgramRunsAs32BitProcessAndReachesThe64BitSystemFolder) {
    Application app;
    ASSERT_EQ(app.RunApplication(GetModuleHandleW(nullptr), L"", SW_SHOWNORMAL), 0);
    ASSERT_TRUE(app.isWow64) << "a 32-bit build on 64-bit Windows runs under WOW64";

    WideString mapped = app.system32Path;
    mapped.Append(L"\\kernel32.dll");
    app.MapSystemFolders(mapped);
    EXPECT_NE(mapped.Find(L"\\SysNative\\", false), 0);
    EXPECT_EQ(MachineOf(mapped.Text()), IMAGE_FILE_MACHINE_AMD64);

    WideString redirected = app.system32Path;
    redirected.Append(L"\\kernel32.dll");
    EXPECT_EQ(MachineOf(redirected.Text()), IMAGE_FILE_MACHINE_I386) << "System32 is redirected for 32-bit code";
}

TEST(ApplicationTest, ProgramPathAndFolderComeFromTheModule) {
    Application app;
    wchar_t module[1024] = {};
    GetModuleFileNameW(nullptr, module, 1024);
    EXPECT_TRUE(app.programPath.Equals(module));
    WideString folder = app.programPath;
    folder.ToParent(false);
    EXPECT_TRUE(app.programFolder.Equals(folder.Text()));
    EXPECT_NE(app.programFolder.Text()[app.programFolder.Length() - 1], L'\\');
    EXPECT_TRUE(app.resourceExtensions.Equals(L".exe|.dll|.ocx|.scr|.cur|.ani|.ico|"));
}

}  // namespace
