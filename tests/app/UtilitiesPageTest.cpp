// The utilities page in the main window as the program builds it, driven in this process with real clicks and
// drops, and read back from its status lines, its boxes, the Explorer settings and the folders it changes.
// RequiresDisplay: run under xvfb. The Explorer settings key of the test prefix is put back after every test.
#include "app/UtilitiesPage.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <commctrl.h>
#include <dlgs.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MainWindowFixture.h"
#include "PictureSupport.h"
#include "RegistryGuard.h"
#include "engine/FolderIcon.h"
#include "engine/IconSources.h"
#include "engine/IconJob.h"
#include "engine/IconWriter.h"
#include "sys/Handles.h"
#include "sys/IconCache.h"

namespace {

using testing_support::Exists;
using testing_support::Narrow;
using testing_support::RegistryKeyGuard;
using testing_support::RegistryValue;

const ::testing::Environment* const kImaging = testing_support::RegisterImagingEnvironment();

constexpr wchar_t kAdvanced[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";

constexpr wchar_t kFolderEmpty[] = L"目标文件夹字段为空!";
constexpr wchar_t kSourceMissing[] = L"源图标文件不存在";
constexpr wchar_t kFolderMissing[] = L"目标文件夹不存在";
constexpr wchar_t kNotAFolder[] = L"目标文件夹路径不是目录";
constexpr wchar_t kSetDone[] = L"图标设置成功. 如果未更新, 请点击下面的清除图标缓存.";
constexpr wchar_t kResetDone[] = L"图标已成功恢复. 如果未更新, 请点击下面的清除图标缓存.";
constexpr wchar_t kFolderFailed[] = L"操作未成功.";
constexpr wchar_t kSwitchDone[] = L"调整成功应用.";
constexpr wchar_t kSwitchFailed[] = L"无法应用调整.";

// Answers each dialog of this process that comes up while it lives, from a thread of its own, and notes the
// dialogs' titles. A dialog that ignores its answer is closed, so that the test fails instead of hanging.
class DialogAnswerer {
public:
    using Answer = std::function<void(HWND)>;
    explicit DialogAnswerer(Answer answer) : answer_(std::move(answer)), thread_([this] { Run(); }) {}
    ~DialogAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> Titles() {
        std::lock_guard<std::mutex> lock(mutex_);
        return titles_;
    }

private:
    void Run() {
        while (!stop_) {
            HWND dialog = testing_support::FindOwnDialog();
            if (!dialog) {
                Sleep(20);
                continue;
            }
            wchar_t title[256] = {};
            GetWindowTextW(dialog, title, 256);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                titles_.push_back(title);
            }
            answer_(dialog);
            for (int waited = 0; IsWindow(dialog) && waited < 5000; waited += 20)
                Sleep(20);
            if (IsWindow(dialog)) PostMessageW(dialog, WM_CLOSE, 0, 0);
            for (int waited = 0; IsWindow(dialog) && waited < 2000; waited += 20)
                Sleep(20);
        }
    }

    Answer answer_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::wstring> titles_;
    std::thread thread_;
};

class UtilitiesPageTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        // The switches must show what is stored when the page is built: hidden files shown, system files not.
        ASSERT_TRUE(testing_support::SetRegistryNumber(HKEY_CURRENT_USER, kAdvanced, L"Hidden", 1));
        ASSERT_TRUE(testing_support::SetRegistryNumber(HKEY_CURRENT_USER, kAdvanced, L"ShowSuperHidden", 0));
        ASSERT_NO_FATAL_FAILURE(ShowMainWindow());
        ShowPage(2);
    }
    void TearDown() override {
        main.reset();
        CoUninitialize();
    }

    // Clicks the tab of a page, as the user switches pages.
    void ShowPage(int position) {
        HWND tab = w().handleOf(main->tab);
        RECT item = {};
        ASSERT_TRUE(SendMessageW(tab, TCM_GETITEMRECT, position, reinterpret_cast<LPARAM>(&item)));
        POINT centre{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
        ClientToScreen(tab, &centre);
        testing_support::ClickAt(centre);
        SetCursorPos(0, 0);
        Pump();
        ASSERT_EQ(position, main->ShownPage());
    }

    UtilitiesPage& page() { return main->utilities; }
    void SetText(int index, const std::wstring& text) { w().setText(index, text.c_str()); }
    std::wstring Apply(const std::wstring& source, const std::wstring& target) {
        SetText(page().folderIconSource, source);
        SetText(page().folderField, target);
        Click(page().applyIconButton);
        return Text(page().folderIconStatus);
    }
    // The text the tooltip shows for a control.
    std::wstring TipOf(int index) {
        wchar_t buffer[256] = {};
        TOOLINFOW tool = {};
        tool.cbSize = sizeof(tool);
        tool.hwnd = GetParent(w().handleOf(index));
        tool.uId = reinterpret_cast<UINT_PTR>(w().handleOf(index));
        tool.lpszText = buffer;
        SendMessageW(w().tooltipWindow, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        return buffer;
    }
    // A 64 x 64 PNG picture with a red square inside a transparent margin.
    std::wstring Picture(const wchar_t* name) {
        const WideString path = folder / name;
        EXPECT_TRUE(testing_support::SavePicture(
            path, 64, 64, [](int x, int y) { return x > 8 && x < 56 && y > 8 && y < 56 ? 0xFFFF0000u : 0u; }));
        return path.Text();
    }
    std::wstring Subfolder(const std::wstring& name) {
        const std::wstring path = std::wstring(folder.Path().Text()) + L"\\" + name;
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }
    static std::wstring IniValue(const std::wstring& dir, const wchar_t* key) {
        wchar_t value[1024] = {};
        GetPrivateProfileStringW(L".ShellClassInfo", key, L"", value, 1024, (dir + L"\\desktop.ini").c_str());
        return value;
    }
    static int64_t Stored(const wchar_t* name) {
        return RegistryValue::Read(HKEY_CURRENT_USER, kAdvanced, name).Number();
    }

    RegistryKeyGuard guard{HKEY_CURRENT_USER, kAdvanced};
};

TEST_F(UtilitiesPageTest, ApplyChecksItsFieldsInOrderAndLeavesTheFolderAlone) {
    const std::wstring picture = Picture(L"p.png");
    const std::wstring dir = Subfolder(L"target");
    const std::wstring missing = std::wstring(folder.Path().Text()) + L"\\missing";
    int calls = 0;
    page().services.setFolderIcon = [&calls](const WideString&, const WideString&, int32_t) { return ++calls, true; };
    page().services.resetFolderIcon = [&calls](const WideString&) { return ++calls, true; };
    const struct {
        const char* name;
        std::wstring source;
        std::wstring target;
        const wchar_t* status;
    } cases[] = {
        {"empty folder field, empty icon field", L"", L"", kFolderEmpty},
        {"empty folder field, a picture", picture, L"", kFolderEmpty},
        {"missing icon file", missing + L".png", dir, kSourceMissing},
        {"missing icon file is named before a missing folder", missing + L".png", missing, kSourceMissing},
        {"missing folder", picture, missing, kFolderMissing},
        {"a file as folder", picture, picture, kNotAFolder},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, Apply(c.source, c.target)) << c.name;
    }
    EXPECT_EQ(0, calls);
    EXPECT_FALSE(Exists((dir + L"\\desktop.ini").c_str()));
}

// The index tells the folder-icon service whether to take the file's first icon resource (0) or to convert it as a
// picture (-1); the icon is then really made from the file.
TEST_F(UtilitiesPageTest, ApplyTakesResourceFilesByIndexAndConvertsEverythingElse) {
    const std::wstring png = Picture(L"p.png");
    const std::wstring upperPng = Picture(L"UPPER.PNG");
    // A picture whose extension is only the start of a resource extension.
    const std::wstring shortName = Picture(L"p.ic");
    const std::wstring ico = std::wstring(folder.Path().Text()) + L"\\i.ICO";
    ASSERT_TRUE(MakeIconFromFile(WideString(png.c_str()), WideString(ico.c_str()), {16, 32}, 0));
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring library = std::wstring(system) + L"\\shell32.dll";

    std::vector<int32_t> indexes;
    page().services.setFolderIcon = [&indexes](const WideString& f, const WideString& s, int32_t index) {
        indexes.push_back(index);
        return SetFolderIcon(f, s, index);
    };
    const struct {
        const char* name;
        std::wstring source;
        int32_t index;
    } cases[] = {
        {".png", png, -1}, {".PNG", upperPng, -1}, {".ic", shortName, -1},
        {".ICO", ico, 0},  {".exe", program, 0},   {".dll", library, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::wstring dir = Subfolder(L"f" + std::to_wstring(n++));
        indexes.clear();
        EXPECT_EQ(kSetDone, Apply(c.source, dir)) << c.name;
        EXPECT_EQ(std::vector<int32_t>{c.index}, indexes) << c.name;
        EXPECT_EQ(dir + L"\\Folder.ico", IniValue(dir, L"IconFile")) << c.name;
        EXPECT_TRUE(Exists((dir + L"\\Folder.ico").c_str())) << c.name;
    }
}

TEST_F(UtilitiesPageTest, AnEmptyIconFieldResetsTheFolder) {
    const std::wstring dir = Subfolder(L"reset");
    ASSERT_EQ(kSetDone, Apply(Picture(L"p.png"), dir));
    ASSERT_TRUE(Exists((dir + L"\\desktop.ini").c_str()));
    std::vector<std::wstring> reset;
    page().services.resetFolderIcon = [&reset](const WideString& f) {
        reset.push_back(f.Text());
        return ResetFolderIcon(f);
    };
    EXPECT_EQ(kResetDone, Apply(L"", dir));
    EXPECT_EQ(std::vector<std::wstring>{dir}, reset);
    // Nothing but what setting wrote was in desktop.ini, so it is gone.
    EXPECT_FALSE(Exists((dir + L"\\desktop.ini").c_str()));
    EXPECT_EQ(0u, GetFileAttributesW(dir.c_str()) & FILE_ATTRIBUTE_SYSTEM);
}

// A reset that could not change the folder (desktop.ini held open elsewhere, as in a folder the user may not write)
// says so instead of reporting success; once the file is free the same reset goes through.
TEST_F(UtilitiesPageTest, AResetThatChangedNothingSaysSo) {
    const std::wstring dir = Subfolder(L"locked");
    ASSERT_EQ(kSetDone, Apply(Picture(L"p.png"), dir));
    const std::wstring ini = dir + L"\\desktop.ini";
    const std::vector<uint8_t> before = testing_support::ReadBytes(ini.c_str());
    {
        FileHandle lock(CreateFileW(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        // The cause is named, and it is not a matter of rights.
        EXPECT_EQ(L"操作未成功. desktop.ini 或文件夹图标正被其他程序使用.", Apply(L"", dir));
    }
    EXPECT_EQ(before, testing_support::ReadBytes(ini.c_str()));
    EXPECT_EQ(dir + L"\\Folder.ico", IniValue(dir, L"IconFile"));
    EXPECT_EQ(kResetDone, Apply(L"", dir));
    EXPECT_FALSE(Exists(ini.c_str()));
}

// The texts each button shows for its service's two outcomes. The cache and restart services would end the shell
// this test runs under, so stand-ins answer; the refresh runs for real once.
TEST_F(UtilitiesPageTest, ButtonsReportTheirServicesOutcome) {
    const std::wstring dir = Subfolder(L"d");
    const std::wstring picture = Picture(L"p.png");
    bool succeed = true;
    UtilitiesPage::Services& s = page().services;
    s.setFolderIcon = [&succeed](const WideString&, const WideString&, int32_t) { return succeed; };
    s.resetFolderIcon = [&succeed](const WideString&) { return succeed; };
    s.clearIconCache = [&succeed] { return succeed; };
    s.refreshShellViews = [&succeed] { return succeed ? 2 : 0; };
    s.restartShell = [&succeed] { return succeed ? 1 : 0; };
    struct Case {
        const char* name;
        std::function<std::wstring()> press;
        const wchar_t* done;
        const wchar_t* failed;
    };
    const Case cases[] = {
        {"apply", [&] { return Apply(picture, dir); }, kSetDone, kFolderFailed},
        {"reset", [&] { return Apply(L"", dir); }, kResetDone, kFolderFailed},
        {"clear cache", [&] { return Click(page().clearCacheButton), Text(page().utilitiesStatus); },
         L"图标缓存已成功重置", L"无法重置图标缓存."},
        {"refresh", [&] { return Click(page().refreshShellButton), Text(page().utilitiesStatus); },
         L"Windows 外壳已成功重置", L"无法重置 Windows 外壳."},
        {"restart", [&] { return Click(page().restartShellButton), Text(page().utilitiesStatus); },
         L"Windows 外壳已成功重新启动", L"无法重启 Windows 外壳."},
    };
    for (const Case& c : cases) {
        for (bool outcome : {true, false}) {
            succeed = outcome;
            SetText(page().utilitiesStatus, L"");
            EXPECT_EQ(outcome ? c.done : c.failed, c.press()) << c.name << (outcome ? " succeeding" : " failing");
        }
    }

    int refreshed = -1;
    s.refreshShellViews = [&refreshed] { return refreshed = RefreshShellViews(); };
    Click(page().refreshShellButton);
    ASSERT_GE(refreshed, 0);
    std::cout << "[ shell    ] RefreshShellViews refreshed " << refreshed << " view(s)\n";
    EXPECT_EQ(refreshed > 0 ? L"Windows 外壳已成功重置" : L"无法重置 Windows 外壳.", Text(page().utilitiesStatus));
}

// Each click writes the coupled settings; both boxes then show what is stored, also after a switch that failed.
TEST_F(UtilitiesPageTest, SwitchesWriteTheSettingsAndTheBoxesShowWhatIsStored) {
    UtilitiesPage& p = page();
    // As stored before the window was built.
    EXPECT_TRUE(Checked(p.showHiddenBox));
    EXPECT_FALSE(Checked(p.showSystemBox));
    const struct {
        const char* name;
        int32_t* box;
        int64_t hidden;
        int64_t superHidden;
    } steps[] = {
        {"show system files shows hidden files too", &p.showSystemBox, 1, 1},
        {"hide hidden files hides system files too", &p.showHiddenBox, 0, 0},
        {"show hidden files only", &p.showHiddenBox, 1, 0},
        {"show system files", &p.showSystemBox, 1, 1},
        {"hide system files only", &p.showSystemBox, 1, 0},
    };
    for (const auto& step : steps) {
        SetText(p.utilitiesStatus, L"");
        Click(*step.box);
        EXPECT_EQ(kSwitchDone, Text(p.utilitiesStatus)) << step.name;
        EXPECT_EQ(step.hidden, Stored(L"Hidden")) << step.name;
        EXPECT_EQ(step.superHidden, Stored(L"ShowSuperHidden")) << step.name;
        EXPECT_EQ(step.hidden != 0, Checked(p.showHiddenBox)) << step.name;
        EXPECT_EQ(step.superHidden != 0, Checked(p.showSystemBox)) << step.name;
    }

    // Without the settings key nothing can be stored: the clicked box goes back to the stored (missing = hidden)
    // state. The guard puts the key back.
    ASSERT_TRUE(testing_support::SetRegistryValue(HKEY_CURRENT_USER, kAdvanced, L"Hidden", REG_DWORD, nullptr, 0));
    ASSERT_TRUE(
        testing_support::SetRegistryValue(HKEY_CURRENT_USER, kAdvanced, L"ShowSuperHidden", REG_DWORD, nullptr, 0));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, kAdvanced));
    for (int32_t box : {p.showSystemBox, p.showHiddenBox}) {
        SetText(p.utilitiesStatus, L"");
        Click(box);
        EXPECT_EQ(kSwitchFailed, Text(p.utilitiesStatus));
        EXPECT_FALSE(Checked(p.showHiddenBox));
        EXPECT_FALSE(Checked(p.showSystemBox));
    }
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kAdvanced, 0, KEY_READ, &key));
}

TEST_F(UtilitiesPageTest, DropsFillTheFolderFieldOnlyWithFoldersAndTheIconFieldWithAnything) {
    const std::wstring picture = Picture(L"p.png");
    const std::wstring second = Picture(L"q.png");
    const std::wstring dir = Subfolder(L"drop");
    UtilitiesPage& p = page();
    const struct {
        const char* name;
        std::vector<std::wstring> paths;
        int32_t on;
        std::wstring source;
        std::wstring target;
    } cases[] = {
        {"file on the folder field", {picture}, p.folderField, L"src", L"dst"},
        {"folder on the folder field", {dir}, p.folderField, L"src", dir},
        {"two folders on the folder field", {dir, folder.Path().Text()}, p.folderField, L"src", dir},
        {"file on the icon field", {picture}, p.folderIconSource, picture, L"dst"},
        {"folder on the apply button", {dir}, p.applyIconButton, dir, L"dst"},
        {"two files on a status line", {second, picture}, p.utilitiesStatus, second, L"dst"},
    };
    for (const auto& c : cases) {
        SetText(p.folderIconSource, L"src");
        SetText(p.folderField, L"dst");
        Drop(c.paths, c.on);
        EXPECT_EQ(c.source, Text(p.folderIconSource)) << c.name;
        EXPECT_EQ(c.target, Text(p.folderField)) << c.name;
    }

    // On another page a drop is that page's.
    SetText(p.folderIconSource, L"src");
    ShowPage(0);
    Drop({picture}, main->single.sourceField);
    EXPECT_EQ(L"dst", Text(p.folderField));
    EXPECT_EQ(L"src", Text(p.folderIconSource));
}

TEST_F(UtilitiesPageTest, TipsAndBrowseDialogsSayWhatTheyDo) {
    UtilitiesPage& p = page();
    const struct {
        int32_t control;
        const wchar_t* tip;
    } tips[] = {
        {p.folderIconSource, L"您可将所需的源文件或文件夹拖放到此字段上"},
        {p.folderField, L"您可将所需的文件夹拖放到此字段上"},
        {p.applyIconButton, L"将图标应用到指定的文件夹"},
        {p.showHiddenBox, L"在 Windows 文件资源管理器中启用或禁用查看隐藏项目"},
        {p.showSystemBox, L"在 Windows 文件资源管理器中启用或禁用查看系统文件"},
    };
    for (const auto& t : tips)
        EXPECT_EQ(t.tip, TipOf(t.control));

    // The file dialog is answered with a file, the folder dialog is cancelled.
    const std::wstring picture = Picture(L"chosen.png");
    std::atomic<bool> answer{true};
    DialogAnswerer answerer([&](HWND dialog) {
        if (answer) SetDlgItemTextW(dialog, cmb13, picture.c_str());
        PostMessageW(dialog, WM_COMMAND, answer ? IDOK : IDCANCEL, 0);
    });
    SetText(p.folderField, L"dst");
    Click(p.folderIconSourceBrowse);
    answer = false;
    Click(p.folderBrowse);
    const std::vector<std::wstring> titles = answerer.Titles();
    EXPECT_EQ((std::vector<std::wstring>{L"指定要使用的图标文件", L"指定要自定义的文件夹"}), titles);
    EXPECT_EQ(picture, Text(p.folderIconSource));
    EXPECT_EQ(L"dst", Text(p.folderField));
}

// The page as a person sees it after setting a folder's icon; kept as test-artifacts/utilities-page.png in the build
// folder (the README shows a copy).
TEST_F(UtilitiesPageTest, ScreenshotOfThePageAfterSettingAFolderIcon) {
    const std::wstring dir = Subfolder(L"shown");
    SetText(page().folderField, dir);
    SetText(page().folderIconSource, Picture(L"p.png"));
    Click(page().applyIconButton);
    ASSERT_EQ(kSetDone, Text(page().folderIconStatus));

    EXPECT_TRUE(testing_support::SaveShot(testing_support::CaptureWindow(w().window),
                                          testing_support::ArtifactFile(L"utilities-page.png").Text()));
}

}  // namespace
