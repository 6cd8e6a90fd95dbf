#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ScreenSupport.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "app/Startup.h"

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

// Closes the program's main window, from a thread timer, as soon as it is shown: runs of the whole start-up end.
void CALLBACK CloseMainWindowWhenShown(HWND, UINT, UINT_PTR, DWORD) {
    HWND main = FindWindowW(L"GLYPHWRIGHT", nullptr);
    if (main && IsWindowVisible(main)) PostMessageW(main, WM_CLOSE, 0, 0);
}

class MainWindowCloser {
public:
    MainWindowCloser() : timer_(SetTimer(nullptr, 0, 50, CloseMainWindowWhenShown)) {}
    ~MainWindowCloser() { KillTimer(nullptr, timer_); }

private:
    UINT_PTR timer_;
};

// The whole start-up, run in this process; a 32-bit build runs under WOW64 in the 64-bit prefix and must reach the
// real 64-bit system folder through the mapping, while a 64-bit build sees that folder as it is.
TEST(Wow64Test, StartUpFindsWhereTheSixtyFourBitSystemFolderIs) {
    Application app;
    {
        MainWindowCloser closer;
        ASSERT_EQ(RunApplication(app, GetModuleHandleW(nullptr), L"", SW_SHOWNORMAL), 0);
    }
    EXPECT_FALSE(IsWindowVisible(app.mainWindow.window)) << "the start opened the main window until it was closed";

    WideString mapped = app.system32Path;
    mapped.Append(L"\\kernel32.dll");
    const WideString given = mapped;
    app.MapSystemFolders(mapped);
    EXPECT_EQ(MachineOf(mapped.Text()), IMAGE_FILE_MACHINE_AMD64);
#ifdef _WIN64
    EXPECT_FALSE(app.isWow64) << "a 64-bit program runs natively";
    EXPECT_TRUE(mapped.Equals(given.Text())) << "without WOW64 paths stay as they are";
#else
    ASSERT_TRUE(app.isWow64) << "a 32-bit build on 64-bit Windows runs under WOW64";
    EXPECT_NE(mapped.Find(L"\\SysNative\\", false), 0);
    EXPECT_EQ(MachineOf(given.Text()), IMAGE_FILE_MACHINE_I386) << "System32 is redirected for 32-bit code";
#endif
}

// Counts the pixels of a bitmap that are clearly green (the mark of a checked image).
int GreenPixels(HBITMAP bitmap, SIZE& size) {
    const testing_support::BitmapPixels pixels = testing_support::ReadBitmap(bitmap);
    if (!pixels.width) return -1;
    size = SIZE{pixels.width, pixels.height};
    return testing_support::CountDarkGreen(pixels);
}

TEST(ApplicationTest, OwnsCheckedAndUncheckedCheckAndRadioImages) {
    Application app;
    struct Case {
        const char* name;
        int slot;
        bool marked;
    };
    const Case cases[] = {{"check box checked", Application::kCheckChecked, true},
                          {"check box unchecked", Application::kCheckUnchecked, false},
                          {"radio button checked", Application::kRadioChecked, true},
                          {"radio button unchecked", Application::kRadioUnchecked, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SIZE size = {};
        const int green = GreenPixels(static_cast<HBITMAP>(app.checkImages[c.slot].Get()), size);
        EXPECT_EQ(size.cx, 14);
        EXPECT_EQ(size.cy, 14);
        if (c.marked)
            EXPECT_GT(green, 4);
        else
            EXPECT_EQ(green, 0);
    }
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
}

}  // namespace

// The application's message call and event pump with the toolkit's box, answered by real clicks.
// RequiresDisplay: run under xvfb.
namespace {

constexpr const wchar_t* kMainClass = L"GwApplicationTestMain";

// What the user does once a box is up. It runs from a thread timer, so inside the box's own wait loop.
struct BoxScript {
    std::function<void(HWND box)> act;
    bool acted = false;
    std::wstring text;     // the message the box showed
    std::string enabled;   // main window controls 1..n while the box was up: '1' enabled, '0' disabled
    HWND owner = nullptr;  // the box's owner window
    UiWindow* main = nullptr;
};
BoxScript* script = nullptr;

void CALLBACK OnScriptTimer(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowW(UiMessageBox::kBoxClass, nullptr);
    if (!script || script->acted || !box || !IsWindowVisible(box)) return;
    script->acted = true;
    wchar_t text[256] = {};
    if (HWND label = FindWindowExW(box, nullptr, L"Static", nullptr)) GetWindowTextW(label, text, 256);
    script->text = text;
    script->owner = GetWindow(box, GW_OWNER);
    if (script->main)
        for (int index = 1; index <= script->main->controlCount(); ++index)
            script->enabled += IsWindowEnabled(script->main->handleOf(index)) ? '1' : '0';
    script->act(box);
}

// Runs the script for as long as it lives.
class ScriptRun {
public:
    explicit ScriptRun(BoxScript& s) : timer_(SetTimer(nullptr, 0, 30, OnScriptTimer)) { script = &s; }
    ~ScriptRun() {
        KillTimer(nullptr, timer_);
        script = nullptr;
    }

private:
    UINT_PTR timer_;
};

void ClickButton(HWND box, int index) {
    testing_support::ClickCentre(GetDlgItem(box, index));
}

TEST(ShowMessageTest, AnswersWithTheButtonClickedOrHowTheWaitEnded) {
    struct Case {
        const char* name;
        int kind;
        std::function<void(Application&, HWND)> act;
        int answer;
    };
    const Case cases[] = {
        {"OK", 0, [](Application& app, HWND box) { ClickButton(box, app.messageBox.buttonIndex(1)); }, 1},
        {"Yes", 1, [](Application& app, HWND box) { ClickButton(box, app.messageBox.buttonIndex(1)); }, 1},
        {"No", 1, [](Application& app, HWND box) { ClickButton(box, app.messageBox.buttonIndex(2)); }, 255},
        {"Cancel of three", 3, [](Application& app, HWND box) { ClickButton(box, app.messageBox.buttonIndex(3)); },
         255},
        {"closed", 2, [](Application&, HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); }, 0},
        {"loop ended", 0, [](Application&, HWND) { PostQuitMessage(0); }, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Application app;
        BoxScript s;
        s.act = [&](HWND box) { c.act(app, box); };
        {
            ScriptRun run(s);
            EXPECT_EQ(app.ShowMessage(L"图标已保存。", c.kind, 130), c.answer);
        }
        EXPECT_TRUE(s.acted);
        EXPECT_EQ(s.text, L"图标已保存。");
        EXPECT_FALSE(FindWindowW(UiMessageBox::kBoxClass, nullptr)) << "the box is closed afterwards";
        EXPECT_EQ(app.messageBox.currentType(), kBoxClosed);
    }
}

// A main window with its header (close, minimise, help link, version link: 1-4) and three page controls (5-7,
// the middle one disabled).
void BuildMainWindow(Application& app) {
    UiWindow& main = app.mainWindow;
    ASSERT_TRUE(main.create(kMainClass, L"main", 650, 300, 20, 20));
    app.header.closeButton = main.addCloseButton();
    app.header.minimizeButton = main.addMinimizeButton();
    app.header.helpLink = main.addLink(L"<a>Help Help Help</a>", 20, 10, 120, 20);
    app.header.versionLink = main.addLink(L"<a>3.4.2.0 3.4.2.0</a>", 160, 10, 120, 20);
    app.header.firstPageControl = main.addButton(L"page", 20, 60, 80, 25);
    main.addEdit(L"", 20, 100, 100, 22);
    main.setState(-1, kStateDisable);
    main.addButton(L"page", 20, 140, 80, 25);
    main.show(SW_SHOWNORMAL, kShowUpdate | kShowToFront | kShowActivate | kShowDrain);
}

TEST(ShowMessageTest, FreezesThePageControlsOfTheMainWindowAndGivesBackOnlyTheEnabledOnes) {
    Application app;
    BuildMainWindow(app);
    BoxScript s;
    s.main = &app.mainWindow;
    s.act = [&](HWND box) { ClickButton(box, app.messageBox.buttonIndex(1)); };
    {
        ScriptRun run(s);
        EXPECT_EQ(app.ShowMessage(L"message over the main window", 0, 130), 1);
    }
    EXPECT_EQ(s.owner, app.mainWindow.window) << "the box belongs to the main window";
    EXPECT_EQ(s.enabled, "1111000") << "the header stays usable, the pages are frozen";
    std::string after;
    for (int index = 1; index <= 7; ++index)
        after += IsWindowEnabled(app.mainWindow.handleOf(index)) ? '1' : '0';
    EXPECT_EQ(after, "1111101");
}

TEST(NextEventTest, TheHeaderControlsOfTheMainWindowActThemselves) {
    Application app;
    BuildMainWindow(app);
    std::vector<std::wstring> opened;
    app.openAddress = [&opened](const wchar_t* address) {
        opened.push_back(address);
        return true;
    };
    // Pumps until the event with the code arrives; false when it does not.
    auto pumpFor = [&app](int code) {
        for (int round = 0; round < 200; ++round) {
            while (app.NextEvent(false)) {
                if (app.events.code == code) return true;
            }
            Sleep(10);
        }
        return false;
    };
    auto linkPoint = [&app](int index) {
        RECT rect;
        GetWindowRect(app.mainWindow.handleOf(index), &rect);
        return POINT{rect.left + 8, (rect.top + rect.bottom) / 2};
    };

    testing_support::ClickAt(linkPoint(app.header.helpLink));
    ASSERT_TRUE(pumpFor(app.header.helpLink));
    testing_support::ClickAt(linkPoint(app.header.versionLink));
    ASSERT_TRUE(pumpFor(app.header.versionLink));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], Application::kHelpAddress);
    EXPECT_EQ(opened[1], std::wstring(Application::kVersionAddressPrefix) + L"3.4.2.0");

    testing_support::ClickCentre(app.mainWindow.handleOf(app.header.minimizeButton));
    ASSERT_TRUE(pumpFor(app.header.minimizeButton)) << "the click stays the event after minimising";
    EXPECT_TRUE(IsIconic(app.mainWindow.window));
    ShowWindow(app.mainWindow.window, SW_RESTORE);
    SetForegroundWindow(app.mainWindow.window);

    testing_support::ClickCentre(app.mainWindow.handleOf(app.header.closeButton));
    ASSERT_TRUE(pumpFor(kEventClose)) << "the close button is the close event";
    EXPECT_EQ(app.events.closeRequested, 1);

    while (app.NextEvent(false)) {
    }
    EXPECT_FALSE(app.NextEvent(false)) << "nothing queued";
    PostQuitMessage(0);
    EXPECT_FALSE(app.NextEvent(true)) << "the message loop ended";
}

TEST(CommandLineMessageTest, ErrorsAppearInTheToolkitsBoxAndTheClickOnOkEndsTheRun) {
    testing_support::TempFolder folder;
    testing_support::WriteBytes((folder / L"file.txt").Text(), "x", 1);
    struct Case {
        const char* name;
        std::wstring tail;
        const wchar_t* message;
        int exitCode;
    };
    const Case cases[] = {
        {"invalid batch source",
         L"/batchconvert \"" + std::wstring((folder / L"missing").Text()) + L"\" \"" +
             std::wstring((folder / L"out").Text()) + L"\"",
         L"批量图标创建操作的源路径无效", 254},
        {"invalid batch target",
         L"/batchextract \"" + std::wstring((folder / L"file.txt").Text()) + L"\" \"" +
             std::wstring((folder / L"file.txt\\sub").Text()) + L"\"",
         L"批量图标创建操作的目标文件夹无效", 253},
        {"invalid option", L"/png /crop", L"无效的命令行选项", 0},
        // A job with an argument it doesn't understand does not run, and its exit code says so.
        {"unknown option in a job",
         L"/bogus /convert \"" + std::wstring((folder / L"file.txt").Text()) + L"\" \"" +
             std::wstring((folder / L"out.ico").Text()) + L"\"",
         L"无效的命令行选项", 1},
        {"a path too many in a batch",
         L"/batchconvert \"" + std::wstring(folder.Path().Text()) + L"\" \"" + std::wstring((folder / L"out").Text()) +
             L"\" extra",
         L"无效的命令行选项", 252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Application app;
        BoxScript s;
        s.act = [&](HWND box) { ClickButton(box, app.messageBox.buttonIndex(1)); };
        int exitCode;
        {
            // An invalid option leads on to the main window after its message.
            ScriptRun run(s);
            MainWindowCloser closer;
            exitCode = RunApplication(app, GetModuleHandleW(nullptr), c.tail.c_str(), SW_SHOWNORMAL);
        }
        EXPECT_TRUE(s.acted) << "the message was shown in the box";
        EXPECT_EQ(s.text, c.message);
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_FALSE(FindWindowW(UiMessageBox::kBoxClass, nullptr));
        EXPECT_FALSE(testing_support::Exists((folder / L"out.ico").Text()));
        EXPECT_FALSE(testing_support::Exists((folder / L"out").Text()));
    }
}

}  // namespace
