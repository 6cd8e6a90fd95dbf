// The batch page in a visible window of its own (RequiresDisplay: run under xvfb). Dialogs are answered and the
// running batch is watched from thread timers, which the page's own message waits dispatch.
#include "app/BatchPage.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "IcoReader.h"
#include "MessageSupport.h"
#include "PictureSupport.h"
#include "ScreenSupport.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "engine/IconWriter.h"

namespace {

using testing_support::BuildFile;
using testing_support::CaptureScreen;
using testing_support::CaptureWindow;
using testing_support::CentreIn;
using testing_support::ClickAt;
using testing_support::ClickCentre;
using testing_support::Exists;
using testing_support::FolderNames;
using testing_support::IcoDirectory;
using testing_support::Narrow;
using testing_support::PostDrop;
using testing_support::ReadBytes;
using testing_support::ReadIcoDirectory;
using testing_support::SavePicture;
using testing_support::SaveShot;
using testing_support::ScreenShot;
using testing_support::TempFolder;
using testing_support::WriteBytes;

const ::testing::Environment* const kImaging = testing_support::RegisterImagingEnvironment();

constexpr wchar_t kAllWindows[] = L"->提取所有窗口的图标";
constexpr wchar_t kSucceeded[] = L"图标创建操作成功完成";
constexpr wchar_t kFailed[] = L"图标创建操作失败.";
constexpr wchar_t kCancelled[] = L"图标创建操作在完成之前已被取消";
constexpr wchar_t kRunning[] = L"正在创建图标, 请稍候... 已完成 ";

// Runs a function at every tick of a thread timer until it returns false or the ticker goes away. Timer messages
// reach it through whichever message loop runs on this thread: a dialog's, or the page's wait for its worker.
class Ticker {
public:
    explicit Ticker(std::function<bool()> tick) : tick_(std::move(tick)) {
        current_ = this;
        id_ = SetTimer(nullptr, 0, 20, Tick);
    }
    ~Ticker() {
        Stop();
        current_ = nullptr;
    }
    void Stop() {
        if (id_) KillTimer(nullptr, id_);
        id_ = 0;
    }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current_ && current_->id_ && !current_->tick_()) current_->Stop();
    }
    static Ticker* current_;
    std::function<bool()> tick_;
    UINT_PTR id_ = 0;
};
Ticker* Ticker::current_ = nullptr;

// Cancels every dialog of this process that comes up while it lives and notes their titles.
class DialogCanceller {
public:
    DialogCanceller()
        : ticker_([this] {
              HWND dialog = testing_support::FindOwnDialog();
              if (dialog && dialog != last_) {
                  last_ = dialog;
                  wchar_t title[256] = {};
                  GetWindowTextW(dialog, title, 256);
                  titles.push_back(title);
                  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
              }
              return true;
          }) {}
    std::vector<std::wstring> titles;

private:
    HWND last_ = nullptr;
    Ticker ticker_;
};

bool MakeShortcut(const wchar_t* linkPath, const wchar_t* target) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid())))
        return false;
    link->SetPath(target);
    ComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
    return file && SUCCEEDED(file->Save(linkPath, TRUE));
}

// Names of a folder's plain files in the order the file system lists them (the batch's order).
std::vector<std::wstring> ListingOrder(const WideString& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(WideString::Concat(folder, L"\\*.*").Text(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring IconName(const std::wstring& picture) {
    return picture.substr(0, picture.rfind(L'.')) + L".ico";
}

bool IsIconFile(const WideString& path) {
    const IcoDirectory ico = ReadIcoDirectory(path.Text());
    return ico.complete && ico.count > 0;
}

// Pictures of different colours, big enough that each takes the worker a noticeable moment.
// Pictures of width x height; large ones keep a batch running long enough to watch its progress.
void MakePictures(const WideString& folder, int count, int width = 256, int height = 200) {
    CreateDirectoryW(folder.Text(), nullptr);
    for (int i = 0; i < count; ++i) {
        const uint32_t colour = 0xFF000000u | static_cast<uint32_t>(i * 0x0A1F37) % 0xFFFFFF;
        const WideString name = WideString::Concat(folder, L"\\picture", WideString::FromInt(i), L".png");
        ASSERT_TRUE(SavePicture(name, width, height, colour));
    }
}

// Non-background pixels of a screen rectangle: text drawn there.
int InkIn(const ScreenShot& shot) {
    int ink = 0;
    for (uint32_t pixel : shot.pixels)
        if ((pixel & 0xFFFFFF) != (shot.pixels[0] & 0xFFFFFF)) ++ink;
    return ink;
}

// One visible window for the suite (hiding a shown window costs Wine seconds); every test builds a fresh page on
// a fresh tab control in it.
class BatchPageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitialize(nullptr);
        app = new Application;
        app->mainWindow.create(L"GwBatchPageTest", L"Glyphwright", 650, 530, 20, 20);
        app->mainWindow.setDefaultFont(9, FW_NORMAL);
        app->mainWindow.setDefaultBackColor(0xFEFEFE);
        app->mainWindow.show(SW_SHOWNORMAL, kShowUpdate | kShowToFront | kShowActivate | kShowDrain);
    }
    static void TearDownTestSuite() {
        delete app;
        app = nullptr;
        CoUninitialize();
    }
    void SetUp() override {
        ASSERT_TRUE(app->mainWindow.window);
        app->programFolder = temp.Path();
        tab = window().addTab(4, 62, 642, 464);
        tabPage = window().addTabPage(tab, 0, L"批量图标创建");
        ASSERT_GT(tabPage, 0);
        page = std::make_unique<BatchPage>(*app);
        page->Build(tab);
        Drain();
    }
    void TearDown() override {
        page.reset();
        window().removeControl(tab);
        Drain();
    }

    static UiWindow& window() { return app->mainWindow; }
    static void Drain() {
        for (int round = 0; round < 5; ++round) {
            while (UiWindow::pumpEvent(app->events, kPumpPollAny) != 0) {
            }
            Sleep(5);
        }
    }
    std::wstring Text(int index) { return window().getText(index).Text(); }
    bool Checked(int index) { return window().getState(index, kStateChecked) != 0; }
    bool Enabled(int index) { return window().getState(index, kStateEnable | kStateDisable) == kStateEnable; }
    // The checked kind radio: 0 none, else 1 extract, 2 convert, 3 windows.
    int CheckedKind() {
        const int radios[] = {page->batchKindExtract, page->batchKindConvert, page->batchKindWindows};
        for (int i = 0; i < 3; ++i)
            if (Checked(radios[i])) return i + 1;
        return 0;
    }
    void SetFields(const wchar_t* source, const wchar_t* target) {
        window().setText(page->batchSource, source);
        window().setText(page->batchTarget, target);
    }
    WideString Settings() const { return temp / L"Glyphwright.ini"; }
    // Clicks start and serves the window, as the event loop does, until the batch has ended.
    void Start() {
        page->OnStart();
        while (page->RunningJob()) {
            if (!app->NextEvent(false)) Sleep(5);
            page->CollectJob();
        }
    }
    // Drops a path at the centre of a control, or on an empty spot of the page, through the window's message.
    void Drop(int control, const WideString& path) {
        POINT point = {600, 245};  // page coordinates right of the options' title
        MapWindowPoints(window().handleOf(tabPage), window().window, &point, 1);
        if (control) point = CentreIn(window().handleOf(control), window().window);
        PostDrop(window().window, point, {path.Text()});
        for (int round = 0; round < 100; ++round) {
            if (app->NextEvent(false) && app->events.code == kEventFilesDropped) {
                page->OnFilesDropped(app->events.param1, window().firstDroppedFile());
                return;
            }
            Sleep(5);
        }
        ADD_FAILURE() << "no drop event";
    }

    static Application* app;
    TempFolder temp;
    int tab = 0;
    int tabPage = 0;
    std::unique_ptr<BatchPage> page;
};
Application* BatchPageTest::app = nullptr;

TEST_F(BatchPageTest, StartRefusesWhatItCannotRunWithTheFirstFailingCheck) {
    const WideString file = temp / L"a.dll";
    ASSERT_TRUE(WriteBytes(file.Text(), "MZ", 2));
    const WideString target = temp / L"out";
    const WideString underFile = temp / L"a.dll\\out";
    struct Case {
        const char* name;
        int kind;  // 0 none, 1 extract, 2 convert, 3 windows (through its radio's handler)
        const wchar_t* source;
        const wchar_t* target;
        bool sizes;
        const wchar_t* expected;
    } cases[] = {
        {"no kind and no source", 0, L"", L"", true, L"源位置无效."},
        {"conversion of a file", 2, file.Text(), target.Text(), true, L"源位置无效."},
        {"extraction into a folder below a file", 1, file.Text(), underFile.Text(), true, L"目标位置无效."},
        {"extraction without target", 1, file.Text(), L"", true, L"目标位置无效."},
        {"windows without target: the source passes", 3, nullptr, L"", true, L"目标位置无效."},
        {"windows without any size", 3, nullptr, target.Text(), false, L"未选择图像格式."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int radios[] = {0, page->batchKindExtract, page->batchKindConvert, page->batchKindWindows};
        if (c.kind == 3) {
            page->OnKindWindows();
            EXPECT_EQ(Text(page->batchSource), kAllWindows);
            EXPECT_FALSE(Enabled(page->batchSource));
            EXPECT_FALSE(Enabled(page->batchSourceBrowse));
        } else {
            window().setText(page->batchSource, c.source);
        }
        if (c.kind) window().setState(radios[c.kind], kStateChecked);
        window().setText(page->batchTarget, c.target);
        for (int box : page->formats.sizeBoxes)
            if (!c.sizes) window().setState(box, kStateUnchecked);
        Start();
        EXPECT_EQ(Narrow(Text(page->batchStatus).c_str()), Narrow(c.expected));
        EXPECT_TRUE(Enabled(tab)) << "the tab control is given back";
    }
    EXPECT_FALSE(Exists(Settings().Text())) << "nothing that failed a check writes the settings";
    EXPECT_TRUE(FolderNames(target).empty());
}

TEST_F(BatchPageTest, KindRadiosAskForTheSourceOnlyWhenTheKindChanges) {
    DialogCanceller dialogs;
    SetFields(L"C:\\old.dll", L"");
    window().setText(page->batchStatus, L"earlier result");

    page->OnKindExtract();
    ASSERT_EQ(dialogs.titles.size(), 1u);
    EXPECT_EQ(Narrow(dialogs.titles[0].c_str()), Narrow(L"指定资源文件"));
    EXPECT_EQ(Text(page->batchSource), L"") << "a cancelled dialog empties the source";
    EXPECT_EQ(Text(page->batchStatus), L"");
    EXPECT_TRUE(Enabled(page->batchSourceBrowse));

    window().setText(page->batchSource, L"C:\\typed.dll");
    page->OnKindExtract();
    EXPECT_EQ(dialogs.titles.size(), 1u) << "the same kind again opens no dialog";
    EXPECT_EQ(Text(page->batchSource), L"C:\\typed.dll");

    page->OnKindWindows();
    EXPECT_EQ(dialogs.titles.size(), 1u);
    EXPECT_EQ(Text(page->batchSource), kAllWindows);
    EXPECT_FALSE(Enabled(page->batchSource));
    EXPECT_FALSE(Enabled(page->batchSourceBrowse));

    page->OnKindConvert();
    ASSERT_EQ(dialogs.titles.size(), 2u);
    EXPECT_EQ(Narrow(dialogs.titles[1].c_str()), Narrow(L"选择包含要转换图片的文件夹"));
    EXPECT_EQ(Text(page->batchSource), L"");
    EXPECT_TRUE(Enabled(page->batchSource));
    EXPECT_TRUE(Enabled(page->batchSourceBrowse));
    EXPECT_EQ(GetWindowLongW(window().handleOf(page->batchSource), GWL_STYLE) & ES_READONLY, 0)
        << "the field takes typing again";
}

TEST_F(BatchPageTest, DropsChooseTheKindAndTheTargetFolder) {
    const WideString folder = temp / L"pictures";
    const WideString program = temp / L"tool.exe";
    const WideString shortcut = temp / L"tool.lnk";
    const WideString notes = temp / L"notes.txt";
    ASSERT_TRUE(CreateDirectoryW(folder.Text(), nullptr));
    ASSERT_TRUE(WriteBytes(program.Text(), "MZ", 2));
    ASSERT_TRUE(WriteBytes(notes.Text(), "text", 4));
    ASSERT_TRUE(MakeShortcut(shortcut.Text(), program.Text()));
    const std::wstring none;
    struct Case {
        const char* name;
        bool onTarget;
        const WideString& path;
        int kind;
        std::wstring source;
        std::wstring target;
    } cases[] = {
        {"folder on the page", false, folder, 2, folder.Text(), none},
        {"shortcut to a program", false, shortcut, 1, program.Text(), none},
        {"text file on the page", false, notes, 1, program.Text(), none},
        {"file on the target", true, notes, 1, program.Text(), none},
        {"folder on the target", true, folder, 1, program.Text(), folder.Text()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Drop(c.onTarget ? page->batchTarget : 0, c.path);
        EXPECT_EQ(CheckedKind(), c.kind);
        EXPECT_EQ(Narrow(Text(page->batchSource).c_str()), Narrow(c.source.c_str()));
        EXPECT_EQ(Narrow(Text(page->batchTarget).c_str()), Narrow(c.target.c_str()));
    }
    EXPECT_EQ(page->lastBatchKind, 0) << "a drop checks a radio without handling a kind click";
}

TEST_F(BatchPageTest, AFolderOfPicturesConvertsWhileTheWindowShowsProgressAndMatchesTheCommandLine) {
    constexpr int kPictures = 24;
    const WideString source = temp / L"pictures";
    const WideString target = temp / L"icons";
    const WideString expected = temp / L"expected";
    MakePictures(source, kPictures, 2400, 1800);
    window().setState(page->batchKindConvert, kStateChecked);
    SetFields(source.Text(), target.Text());

    // Two different progress lines and the screen's status line at those moments (a changed text is painted before
    // the next timer message is taken); then the watcher stops, so that only the page's own wake-ups can bring the
    // result.
    std::vector<std::wstring> lines;
    std::vector<ScreenShot> shots;
    ScreenShot running;
    {
        RECT status;
        Ticker watcher([&] {
            const std::wstring line = Text(page->batchStatus);
            if (line.rfind(kRunning, 0) != 0 || (!lines.empty() && lines.back() == line)) return true;
            GetWindowRect(window().handleOf(page->batchStatus), &status);
            lines.push_back(line);
            shots.push_back(CaptureScreen(status));
            if (shots.size() == 1) running = CaptureWindow(window().window);
            return lines.size() < 2;
        });
        // Without wake-ups of its own the page would wait for input for ever; this turns that into a failure.
        std::atomic<bool> returned{false}, rescued{false};
        std::thread rescue([&, ui = GetCurrentThreadId()] {
            for (int waited = 0; !returned && waited < 60000; waited += 50)
                Sleep(50);
            while (!returned) {
                rescued = true;
                PostThreadMessageW(ui, WM_NULL, 0, 0);
                Sleep(50);
            }
        });
        Start();
        returned = true;
        rescue.join();
        EXPECT_FALSE(rescued) << "the result waited for a message from outside";
    }
    EXPECT_EQ(Narrow(Text(page->batchStatus).c_str()), Narrow(kSucceeded));
    ASSERT_EQ(lines.size(), 2u) << "progress shows while the batch runs";
    for (const std::wstring& line : lines)
        EXPECT_EQ(line.substr(line.rfind(L'/')), L"/" + std::to_wstring(kPictures)) << Narrow(line.c_str());
    EXPECT_GT(InkIn(shots[0]), 20) << "the progress text is painted";
    EXPECT_NE(shots[0].pixels, shots[1].pixels) << "the window repaints while the batch runs";
    EXPECT_TRUE(SaveShot(running, BuildFile(L"batch-page-running.png").Text()));
    Drain();
    EXPECT_TRUE(SaveShot(CaptureWindow(window().window), BuildFile(L"batch-page-result.png").Text()));

    // The settings were written as UTF-16 before the batch ran.
    const std::vector<uint8_t> ini = ReadBytes(Settings().Text());
    ASSERT_GE(ini.size(), 2u);
    EXPECT_EQ(ini[0], 0xFF);
    EXPECT_EQ(ini[1], 0xFE);
    wchar_t stored[256] = {};
    GetPrivateProfileStringW(L"Settings", L"BatchIconFormats", L"", stored, 256, Settings().Text());
    EXPECT_STREQ(stored, L"|16|32|48|256|PNGC|Center|");

    const WideString command = WideString::Concat(L"\"", BuildFile(L"Glyphwright.exe"), L"\" /batchconvert \"", source,
                                                  L"\" \"", expected, L"\"");
    ASSERT_EQ(testing_support::RunProcess(command.Text()), 1);
    const std::set<std::wstring> names = FolderNames(target);
    EXPECT_EQ(names.size(), static_cast<size_t>(kPictures));
    EXPECT_EQ(names, FolderNames(expected));
    for (const std::wstring& name : names) {
        const std::wstring made = std::wstring(target.Text()) + L"\\" + name;
        const std::wstring wanted = std::wstring(expected.Text()) + L"\\" + name;
        EXPECT_EQ(ReadBytes(made.c_str()), ReadBytes(wanted.c_str())) << Narrow(name.c_str());
    }
}

TEST_F(BatchPageTest, ResultTextsTellFailuresFromPartialSuccess) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const WideString notepad = WideString::Concat(system, L"\\notepad.exe");
    ASSERT_EQ(ExtractIconExW(notepad.Text(), -1, nullptr, nullptr, 0), 1u) << "one icon group to block";
    struct Case {
        const char* name;
        bool extract;
        int pictures;
        int blocked;  // outputs occupied by folders
        std::wstring expected;
    } cases[] = {
        {"every picture fails", false, 2, 2, kFailed},
        {"the only icon group fails", true, 0, 1, kFailed},
        {"one picture of three fails", false, 3, 1, L"图标创建操作部分完成: 已写入 2 个文件, 共 3 项"},
        {"an empty folder", false, 0, 0, L"图标创建操作失败: 源中没有可处理的项目."},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WideString source = temp / (L"in" + std::to_wstring(round)).c_str();
        const WideString target = temp / (L"out" + std::to_wstring(round++)).c_str();
        ASSERT_TRUE(CreateDirectoryW(target.Text(), nullptr));
        std::vector<std::wstring> outputs;
        if (c.extract) {
            outputs.push_back(L"notepad.exe_Icon_0.ico");
        } else {
            MakePictures(source, c.pictures);
            for (const std::wstring& picture : ListingOrder(source))
                outputs.push_back(IconName(picture));
        }
        for (int i = 0; i < c.blocked; ++i)
            ASSERT_TRUE(CreateDirectoryW((std::wstring(target.Text()) + L"\\" + outputs[i]).c_str(), nullptr));
        window().setState(c.extract ? page->batchKindExtract : page->batchKindConvert, kStateChecked);
        SetFields(c.extract ? notepad.Text() : source.Text(), target.Text());
        Start();
        EXPECT_EQ(Narrow(Text(page->batchStatus).c_str()), Narrow(c.expected.c_str()));
    }

    // The only output is held open by another program: the line names that, not administrator rights.
    const WideString source = temp / L"held-in";
    const WideString target = temp / L"held-out";
    MakePictures(source, 1);
    ASSERT_TRUE(CreateDirectoryW(target.Text(), nullptr));
    const WideString output = WideString::Concat(target, L"\\", IconName(ListingOrder(source).at(0)).c_str());
    ASSERT_TRUE(WriteBytes(output.Text(), {'o', 'l', 'd'}));
    {
        const FileHandle held(CreateFileW(output.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        window().setState(page->batchKindConvert, kStateChecked);
        SetFields(source.Text(), target.Text());
        Start();
    }
    EXPECT_EQ(Narrow(Text(page->batchStatus).c_str()), Narrow(L"图标创建操作失败. 目标文件正被其他程序使用."));
    EXPECT_EQ(ReadBytes(output.Text()), std::vector<uint8_t>({'o', 'l', 'd'}));
}

// The main window with its pages, shown, and a loop that dispatches its events until a condition holds or nothing
// arrives any more.
struct RunningMainWindow {
    explicit RunningMainWindow(const WideString& folder) : main(app) {
        app.programFolder = folder;
        built = main.BuildMainWindow(0, WideString());
        if (built) main.Show(SW_SHOWNORMAL);
    }
    ~RunningMainWindow() { app.mainWindow.destroy(); }
    bool RunUntil(const std::function<bool()>& done) {
        for (int idle = 0; idle < 200 && !done();) {
            if (app.NextEvent(false))
                main.Dispatch();
            else
                Sleep(5), ++idle;
        }
        return done();
    }
    Application app;
    MainWindow main;
    bool built = false;
};

// The page inside the real main window: its rows in the window's dispatch, real clicks and a drop, and a close
// during a batch that the event loop survives until the second close.
TEST(BatchPageInMainWindowTest, ClicksDropsAndClosesReachThePageThroughTheEventLoop) {
    CoInitialize(nullptr);
    TempFolder temp;
    constexpr int kPictures = 40;
    const WideString source = temp / L"pictures";
    const WideString target = temp / L"icons";
    MakePictures(source, kPictures, 1600, 1200);
    RunningMainWindow run(temp.Path());
    ASSERT_TRUE(run.built);
    MainWindow& main = run.main;
    UiWindow& w = run.app.mainWindow;
    BatchPage& page = main.batch;
    auto runUntil = [&run](const std::function<bool()>& done) { return run.RunUntil(done); };

    RECT item;
    w.sendMessage(main.tab, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    MapWindowPoints(w.handleOf(main.tab), HWND_DESKTOP, reinterpret_cast<POINT*>(&item), 2);
    ClickAt(POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2});
    ASSERT_TRUE(runUntil([&] { return main.ShownPage() == 1; }));
    EXPECT_EQ(LOWORD(SendMessageW(w.window, DM_GETDEFID, 0, 0)), page.batchStart) << "Enter starts the batch";

    ClickCentre(w.handleOf(page.batchKindWindows));
    EXPECT_TRUE(runUntil([&] { return std::wstring(w.getText(page.batchSource).Text()) == kAllWindows; }));
    w.setText(page.batchTarget, target.Text());
    runUntil([] { return false; });
    EXPECT_TRUE(SaveShot(CaptureWindow(w.window), BuildFile(L"batch-page.png").Text()));

    RECT field;
    GetWindowRect(w.handleOf(page.batchSource), &field);
    POINT point{field.left + 20, field.top + 5};
    ScreenToClient(w.window, &point);
    PostDrop(w.window, point, {source.Text()});
    EXPECT_TRUE(runUntil([&] { return w.getState(page.batchKindConvert, kStateChecked) != 0; }));
    EXPECT_EQ(Narrow(w.getText(page.batchSource).Text()), Narrow(source.Text()));

    // First close while the batch runs, second once the cancel shows; only the second ends the loop.
    int closes = 0, ticks = 0;
    bool openAtSecondClose = false;
    std::wstring statusAtSecondClose;
    Ticker closer([&] {
        // A batch that ended unseen would leave the loop waiting for ever: end it, as a failure, after a minute.
        if (++ticks > 3000) {
            PostMessageW(w.window, WM_CLOSE, 0, 0);
            PostMessageW(w.window, WM_CLOSE, 0, 0);
            return false;
        }
        const BatchJob* job = page.RunningJob();
        if (closes == 0 && job && job->done >= 2) {
            PostMessageW(w.window, WM_CLOSE, 0, 0);
            ++closes;
        } else if (closes == 1 && !page.RunningJob()) {
            statusAtSecondClose = w.getText(page.batchStatus).Text();
            openAtSecondClose = IsWindowVisible(w.window) && w.getState(main.tab, kStateEnable) != 0;
            PostMessageW(w.window, WM_CLOSE, 0, 0);
            ++closes;
        }
        return closes < 2;
    });
    ClickCentre(w.handleOf(page.batchStart));
    main.RunEventLoop();
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(Narrow(statusAtSecondClose.c_str()), Narrow(kCancelled));
    EXPECT_TRUE(openAtSecondClose) << "the window and its tabs are back after the cancel";
    // Stopped between items: the outputs are whole icons of the first pictures in listing order, and not all of them
    // (how many were done before the close arrived depends on the machine's speed).
    const std::vector<std::wstring> order = ListingOrder(source);
    const std::set<std::wstring> written = FolderNames(target);
    EXPECT_GE(written.size(), 2u);
    EXPECT_LT(written.size(), static_cast<size_t>(kPictures));
    for (size_t i = 0; i < written.size(); ++i) {
        const std::wstring name = IconName(order[i]);
        EXPECT_EQ(written.count(name), 1u) << Narrow(name.c_str());
        EXPECT_TRUE(IsIconFile(WideString::Concat(target, L"\\", name.c_str()))) << Narrow(name.c_str());
    }
    CoUninitialize();
}

// The page's inputs: everything a click or a key could change while a batch runs.
std::vector<int> PageInputs(const BatchPage& page) {
    const FormatControls& f = page.formats;
    std::vector<int> inputs = {page.batchKindExtract,
                               page.batchKindConvert,
                               page.batchKindWindows,
                               page.batchSource,
                               page.batchSourceBrowse,
                               page.batchTarget,
                               page.batchTargetBrowse,
                               page.batchStart,
                               f.pngs,
                               f.pngc,
                               f.fitCenter,
                               f.fitCrop,
                               f.fitStretch};
    inputs.insert(inputs.end(), std::begin(f.sizeBoxes), std::end(f.sizeBoxes));
    return inputs;
}

// While a batch runs its inputs are greyed, a click on one changes nothing, and they come back as they were. Two
// close requests come at once: the first cancels the batch, the second arrives while the last item ends (a click
// on the header's close button, taken from the queue only when the inputs come back) and still closes the window.
TEST(CloseRequestTest, ASecondCloseDuringTheCancelClosesTheWindowAndTheInputsComeBackAsTheyWere) {
    CoInitialize(nullptr);
    TempFolder temp;
    const WideString source = temp / L"pictures";
    const WideString target = temp / L"icons";
    MakePictures(source, 40, 1600, 1200);
    RunningMainWindow run(temp.Path());
    ASSERT_TRUE(run.built);
    UiWindow& w = run.app.mainWindow;
    BatchPage& page = run.main.batch;
    w.sendMessage(run.main.tab, TCM_SETCURFOCUS, 1, 0);
    ASSERT_TRUE(run.RunUntil([&] { return run.main.ShownPage() == 1; }));
    w.setState(page.batchKindConvert, kStateChecked);
    w.setText(page.batchSource, source.Text());
    w.setText(page.batchTarget, target.Text());
    w.setState(page.batchSourceBrowse, kStateDisable);  // one input that was greyed before stays greyed after
    run.RunUntil([] { return false; });
    std::vector<std::pair<int, bool>> before;
    for (int input : PageInputs(page))
        before.emplace_back(input, w.getState(input, kStateEnable | kStateDisable) == kStateEnable);
    const int sizeBox = page.formats.sizeBoxes[0];
    const bool sizeBoxChecked = w.getState(sizeBox, kStateChecked) != 0;

    std::vector<int> enabledWhileRunning;
    bool clickChangedABox = false;
    int ticks = 0, phase = 0;
    bool rescued = false;
    Ticker watcher([&] {
        const BatchJob* job = page.RunningJob();
        if (phase == 0 && job && job->done >= 2) {
            for (int input : PageInputs(page))
                if (w.getState(input, kStateEnable | kStateDisable) == kStateEnable)
                    enabledWhileRunning.push_back(input);
            ClickCentre(w.handleOf(sizeBox));
            phase = 1;
        } else if (phase == 1 && job && job->done >= 3) {
            clickChangedABox = (w.getState(sizeBox, kStateChecked) != 0) != sizeBoxChecked;
            PostMessageW(w.window, WM_CLOSE, 0, 0);
            ClickCentre(w.handleOf(run.app.header.closeButton));
            phase = 2;
        } else if (++ticks > 1500) {
            // A lost close would leave the loop waiting for ever: end it, as a failure.
            rescued = true;
            PostMessageW(w.window, WM_CLOSE, 0, 0);
            return false;
        }
        return true;
    });
    ClickCentre(w.handleOf(page.batchStart));
    run.main.RunEventLoop();
    EXPECT_FALSE(rescued) << "the close during the cancel was lost";
    EXPECT_EQ(phase, 2);
    EXPECT_EQ(enabledWhileRunning, std::vector<int>()) << "inputs left usable while the batch ran";
    EXPECT_FALSE(clickChangedABox) << "a click changed an option the batch does not use";
    EXPECT_EQ(Narrow(w.getText(page.batchStatus).Text()), Narrow(kCancelled));
    for (const auto& [input, enabled] : before)
        EXPECT_EQ(w.getState(input, kStateEnable | kStateDisable) == kStateEnable, enabled) << "control " << input;
    EXPECT_LT(FolderNames(target).size(), 40u);
    CoUninitialize();
}

// A close that comes while the single-icon page prepares its job (the click on the create button and the close
// are queued together) is not lost in the page's drain: the icon is written and then the window closes.
TEST(CloseRequestTest, ACloseWhileAJobIsPreparedClosesTheWindowAfterTheJob) {
    CoInitialize(nullptr);
    TempFolder temp;
    const WideString picture = temp / L"picture.png";
    const WideString icon = temp / L"picture.ico";
    ASSERT_TRUE(SavePicture(picture, 300, 200, 0xFF2080C0));
    RunningMainWindow run(temp.Path());
    ASSERT_TRUE(run.built);
    UiWindow& w = run.app.mainWindow;
    SingleIconPage& page = run.main.single;
    w.setText(page.sourceField, picture.Text());
    w.setText(page.targetField, icon.Text());
    run.RunUntil([] { return false; });

    HWND button = w.handleOf(page.createButton);
    PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(page.createButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    PostMessageW(w.window, WM_CLOSE, 0, 0);
    int ticks = 0;
    bool rescued = false;
    Ticker watchdog([&] {
        if (++ticks < 500) return true;
        rescued = true;
        PostMessageW(w.window, WM_CLOSE, 0, 0);
        return false;
    });
    run.main.RunEventLoop();
    EXPECT_FALSE(rescued) << "the close was lost in the job's drain";
    EXPECT_TRUE(IsIconFile(icon)) << "the job the click started still ran";
    CoUninitialize();
}

// While the single-icon page makes an icon the one event loop serves the window: timers tick, the page's inputs are
// greyed and the status says what runs; the outcome shows once the worker has ended, over a whole file.
TEST(SingleJobTest, TheEventLoopServesTheWindowWhileAnIconIsMade) {
    CoInitialize(nullptr);
    TempFolder temp;
    const WideString picture = temp / L"large.png";
    const WideString icon = temp / L"large.ico";
    // Large enough that the job spans several of the watcher's 20 ms ticks even where it is fastest.
    ASSERT_TRUE(SavePicture(picture, 8000, 6000, 0xFF2080C0));
    RunningMainWindow run(temp.Path());
    ASSERT_TRUE(run.built);
    UiWindow& w = run.app.mainWindow;
    SingleIconPage& page = run.main.single;
    w.setText(page.sourceField, picture.Text());
    w.setText(page.targetField, icon.Text());
    run.RunUntil([&] { return !run.main.Busy(); });

    int ticksWhileRunning = 0;
    std::set<std::wstring> statusesWhileRunning;
    bool enabledWhileRunning = false;
    Ticker watcher([&] {
        if (!page.JobRunning()) return true;
        ++ticksWhileRunning;
        statusesWhileRunning.insert(w.getText(page.singleStatus).Text());
        enabledWhileRunning |= w.getState(page.createButton, kStateEnable | kStateDisable) == kStateEnable;
        return true;
    });
    HWND button = w.handleOf(page.createButton);
    PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(page.createButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    const DWORD start = GetTickCount();
    bool started = false;
    while ((!started || page.JobRunning()) && GetTickCount() - start < 60000) {
        if (run.app.NextEvent(false))
            run.main.Dispatch();
        else
            Sleep(5);
        started = started || page.JobRunning();
    }
    EXPECT_TRUE(started);
    EXPECT_GT(ticksWhileRunning, 0) << "the window was not served while the icon was made";
    EXPECT_EQ(statusesWhileRunning, std::set<std::wstring>({L"正在转换..."}));
    EXPECT_FALSE(enabledWhileRunning) << "the create button stayed usable while its job ran";
    EXPECT_EQ(Narrow(w.getText(page.singleStatus).Text()), Narrow(L"选择的文件已成功转换."));
    EXPECT_TRUE(IsIconFile(icon));
    EXPECT_EQ(w.getState(page.createButton, kStateEnable | kStateDisable), kStateEnable);
    CoUninitialize();
}

// Windows whose icon can't be read (under Wine every other process's window) are skipped, not failed: a batch that
// wrote the icon of every window that has one reports success.
TEST_F(BatchPageTest, WindowsWithoutIconsAreSkippedNotFailed) {
    const WideString target = temp / L"windows";
    WNDCLASSW kind = {};
    kind.lpfnWndProc = DefWindowProcW;
    kind.hInstance = GetModuleHandleW(nullptr);
    kind.lpszClassName = L"GwBatchIconWindow";
    kind.hIcon = LoadIconW(nullptr, IDI_INFORMATION);
    RegisterClassW(&kind);
    kind.lpszClassName = L"GwBatchBareWindow";
    kind.hIcon = nullptr;
    RegisterClassW(&kind);
    HWND withIcon = CreateWindowW(L"GwBatchIconWindow", L"with icon", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, kind.hInstance, nullptr);
    HWND bare = CreateWindowW(L"GwBatchBareWindow", L"bare", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, kind.hInstance,
                              nullptr);
    ASSERT_TRUE(withIcon && bare);
    window().setState(page->batchKindWindows, kStateChecked);
    SetFields(kAllWindows, target.Text());
    Start();
    DestroyWindow(withIcon);
    DestroyWindow(bare);
    const std::set<std::wstring> names = FolderNames(target);
    EXPECT_TRUE(std::any_of(names.begin(), names.end(),
                            [](const std::wstring& name) { return name.find(L"with icon") != std::wstring::npos; }));
    EXPECT_FALSE(std::any_of(names.begin(), names.end(),
                             [](const std::wstring& name) { return name.find(L"bare") != std::wstring::npos; }));
    EXPECT_EQ(Narrow(Text(page->batchStatus).c_str()), Narrow(kSucceeded));
}

}  // namespace
