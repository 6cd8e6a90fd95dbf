#include "app/MainWindow.h"

#include <commctrl.h>

#include "app/Application.h"
#include "app/WindowPicker.h"
#include "sys/ShellRun.h"
#include "ui/UiWindow.h"

namespace {

// The texts of the window and its header, in one place.
namespace text {
constexpr const wchar_t* kClass = L"GLYPHWRIGHT";
constexpr const wchar_t* kTitle = L"Glyphwright";
constexpr const wchar_t* kName = L"Glyphwright";
constexpr const wchar_t* kSubtitle = L"从任何来源创建图标";
constexpr const wchar_t* kRunAsAdmin = L"<a>以管理员身份运行</a>";
constexpr const wchar_t* kHelp = L"<a>帮助</a>";
constexpr const wchar_t* kPageTitles[MainWindow::kPageCount] = {L"单个图标创建", L"批量图标创建", L"实用程序"};
}  // namespace text

constexpr int kPageImages[MainWindow::kPageCount] = {201, 202, 203};
constexpr uint32_t kHeaderDragFlags = 0x9400;  // not erased, flicker-free, pressing drags the window
constexpr uint32_t kHeaderFlags = 0x400;
constexpr int32_t kWhite = 0xFFFFFF;
constexpr int32_t kBlack = 0;
constexpr int32_t kPageBackground = 0xFEFEFE;

}  // namespace

MainWindow::MainWindow(Application& app) : single(app), batch(app), utilities(app), app_(app) {}

void MainWindow::BuildHeader() {
    UiWindow& w = app_.mainWindow;
    w.setResizeDefaults(kHeaderDragFlags);
    w.addLabel(L"", 0, 0, 650, 60);
    w.setState(-1, kStateDisable);
    w.addIconFromResource(app_.instance, 107, 6, 6, 48, 48);
    w.addLabel(text::kName, 70, 5, 170, 30);
    w.setFont(18, 800);
    w.addLabel(text::kSubtitle, 70, 35, 170, 18);

    w.setResizeDefaults(kHeaderFlags);
    app_.header.minimizeButton = w.addMinimizeButton();
    app_.header.closeButton = w.addCloseButton();
    if (!app_.isAdmin) {
        w.setResizeDefaults(kHeaderDragFlags);
        shield = w.addPictureFromPngResource(200, 300, 30, 24, 24);
        w.setResizeDefaults(kHeaderFlags);
        runAsAdminLink = w.addLink(text::kRunAsAdmin, 330, 35, 120, 18);
        w.setLinkDefaults();
    }
    const WideString version = WideString::Concat(L"<a>v", Application::kVersion, L"</a>");
    app_.header.versionLink = w.addLink(version.Text(), 470, 35, 65, 15);
    w.setLinkDefaults();
    app_.header.helpLink = w.addLink(text::kHelp, 540, 35, 45, 15);
    w.setLinkDefaults();
    w.setCursor(app_.header.helpLink, LoadCursorW(nullptr, IDC_HAND));
}

void MainWindow::AddPage(int position) {
    UiWindow& w = app_.mainWindow;
    pages[position] = w.addTabPage(tab, position, text::kPageTitles[position]);
    w.setBitmapFromPngResource(pages[position], position, kPageImages[position]);
}

bool MainWindow::BuildMainWindow(int commandResult, const WideString& source) {
    UiWindow& w = app_.mainWindow;
    if (!w.create(text::kClass, text::kTitle, 650, 530, -1, -1)) return false;
    w.loadWindowIcons(app_.instance);
    w.setBackgroundColor(kBlack);
    w.setFrameStyle(0);
    w.setDefaultTextColor(kWhite);
    w.setDefaultFont(9, 400);
    BuildHeader();

    w.setResizeDefaults(kHeaderFlags);
    w.setDefaultBackColor(kPageBackground);
    w.setDefaultTextColor(kBlack);
    tab = w.addTab(4, 62, 642, 464);
    app_.header.firstPageControl = tab;
    w.setResizeDefaults(0);
    AddPage(0);
    single.Build(tab, commandResult, source);
    AddPage(1);
    batch.Build(tab);
    // Drops from programs of lower rights reach an elevated window only through the message filter.
    UiWindow::allowDrops();
    AddPage(2);
    utilities.Build(w, pages[2]);
    return true;
}

int MainWindow::ShownPage() {
    const LRESULT item = app_.mainWindow.sendMessage(tab, TCM_GETCURSEL, 0, 0);
    return item >= 0 && item < kPageCount ? static_cast<int>(item) : 0;
}

bool MainWindow::Busy() const {
    return single.PreviewPending() || single.JobRunning() || batch.RunningJob();
}

void MainWindow::CollectJobs() {
    // A worker that finished wakes the loop (a batch's ticks too); what it made is shown whatever the event.
    single.CollectPreview();
    single.CollectJob();
    batch.CollectJob();
}

bool MainWindow::OnCloseRequest() {
    if (batch.CancelOnClose()) {
        // The close request that cancels the batch is used up by it; one that comes while the last item ends is
        // not, and closes the window.
        app_.ConsumeCloseRequests();
        return true;
    }
    single.FinishJob();
    batch.FinishJob(false);
    return false;
}

void MainWindow::OnFilesDropped(int target) {
    const WideString dropped(app_.mainWindow.firstDroppedFile());
    switch (ShownPage()) {
        case 0:
            return single.OnFilesDropped(target, dropped);
        case 1:
            return batch.OnFilesDropped(target, dropped);
        default:
            return utilities.OnFilesDropped(target, dropped);
    }
}

bool MainWindow::Dispatch() {
    CollectJobs();
    const UiEventSlot& e = app_.events;
    if (e.code == kEventClose) return OnCloseRequest();
    if (e.source != &app_.mainWindow) return true;
    if (e.code == kEventFilesDropped) {
        OnFilesDropped(e.param1);
    } else if (e.code == kEventTabChanged) {
        // Enter in a field presses the create, start or apply button of the page that is shown.
        const int32_t buttons[kPageCount] = {single.createButton, batch.batchStart, utilities.applyIconButton};
        app_.mainWindow.setDefaultButton(buttons[ShownPage()]);
    } else if (e.code > 0 && e.code == runAsAdminLink) {
        RunAsAdministrator();
    } else {
        const int control = e.code == kEventEditChange ? e.param1 : e.code;
        if (!single.OnCommand(control, e.code) && !batch.OnCommand(control, e.code))
            utilities.OnCommand(control, e.code);
    }
    return !restarted;
}

void MainWindow::Show(int showMode) {
    UiWindow& w = app_.mainWindow;
    w.show(showMode, kShowUpdate | kShowToFront | kShowActivate);
    // Without this the first link takes the focus and shows its focus box in the header.
    SetFocus(w.handleOf(single.sourceField));
}

void MainWindow::RunEventLoop() {
    // A close request that another loop took from the queue (a message box's) is still pending: it is honoured
    // before every wait.
    for (;;) {
        if (app_.ClosePending() && !OnCloseRequest()) break;
        if (!app_.NextEvent(true) || !Dispatch()) break;
    }
    batch.FinishJob(true);
    single.FinishJob();
}

bool MainWindow::RunAsAdministrator() {
    UiWindow& w = app_.mainWindow;
    WideString arguments(w.getText(single.sourceField));
    if (arguments.StartsWith(kPickerMarker, true))
        arguments.Clear();
    else if (!arguments.IsEmpty())
        arguments = WideString::Concat(L"\"", arguments, L"\"");
    ShowWindow(w.window, SW_HIDE);
    while (GetAsyncKeyState(VK_LBUTTON) & 0x8000)
        Sleep(5);
    if (ShellRun(app_.programPath.Text(), arguments.IsEmpty() ? nullptr : arguments.Text(), L"runas") != 0) {
        restarted = true;
        return true;
    }
    ShowWindow(w.window, SW_SHOW);
    return false;
}
