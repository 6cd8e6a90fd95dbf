#include "app/MainWindow.h"

#include <commctrl.h>

#include <algorithm>

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

bool IsClickOn(const UiEventSlot& e, int32_t index) {
    return index > 0 && e.code == index;
}

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
    auto addPage = [this, &w](int position) {
        pages[position] = w.addTabPage(tab, position, text::kPageTitles[position]);
        w.setBitmapFromPngResource(pages[position], position, kPageImages[position]);
    };

    addPage(0);
    single.Build(commandResult, source);
    dropHandlers[0] = [this](int target, const WideString& dropped) { single.OnFilesDropped(target, dropped); };
    AddPageRows();

    addPage(1);
    batch.Build(tab);
    dropHandlers[1] = [this](int target, const WideString& dropped) { batch.OnFilesDropped(target, dropped); };
    // Rows 16 to 21 and the batch page's part of 28: each control is the page's own, so one row serves them all.
    AddRow(
        16, [this](const UiEventSlot& e) { return batch.HandlesClick(e.code); },
        [this] { batch.OnClick(app_.events.code); });
    // Enter in a field presses the create, start or apply button of the page that is shown.
    AddRow(
        29, [](const UiEventSlot& e) { return e.code == kEventTabChanged; },
        [this] {
            const int32_t buttons[kPageCount] = {single.createButton, batch.batchStart, utilities.applyIconButton};
            app_.mainWindow.setDefaultButton(buttons[ShownPage()]);
        });
    // Drops from programs of lower rights reach an elevated window only through the message filter.
    UiWindow::allowDrops();
    addPage(2);
    utilities.Build(w, pages[2]);
    utilities.AddRows(*this);
    return true;
}

void MainWindow::AddRow(int order, std::function<bool(const UiEventSlot&)> matches, std::function<void()> run) {
    Row row{order, std::move(matches), std::move(run)};
    auto after = std::upper_bound(rows_.begin(), rows_.end(), order,
                                  [](int value, const Row& existing) { return value < existing.order; });
    rows_.insert(after, std::move(row));
}

void MainWindow::AddPageRows() {
    SingleIconPage& p = single;
    auto click = [](const int32_t& index) { return [&index](const UiEventSlot& e) { return IsClickOn(e, index); }; };
    AddRow(1, click(p.kindFile), [&p] { p.OnKindFile(); });
    AddRow(2, click(p.kindResource), [&p] { p.OnKindResource(); });
    AddRow(3, click(p.kindWindow), [&p] { p.OnKindWindow(); });
    AddRow(4, click(p.picker), [&p] { p.OnPickWindow(); });
    AddRow(
        5,
        [&p](const UiEventSlot& e) {
            return e.code == kEventEditChange && (e.param1 == p.indexField || e.param1 == p.sourceField);
        },
        [&p] { p.UpdatePreview(); });
    AddRow(
        6, [&p](const UiEventSlot& e) { return IsClickOn(e, p.preview32) || IsClickOn(e, p.preview128); },
        [&p] { p.UpdatePreview(); });
    AddRow(7, click(p.formats.pngs), [&p] { p.OnPngsToggled(); });
    AddRow(
        8, [&p](const UiEventSlot& e) { return e.code > 0 && p.formats.IsFitRadio(e.code); },
        [&p] { p.UpdatePreview(); });
    AddRow(
        9, [](const UiEventSlot& e) { return e.code == kEventFilesDropped; },
        [this] {
            const int target = app_.events.param1;
            const WideString dropped(app_.mainWindow.droppedFiles());
            const int page = ShownPage();
            if (dropHandlers[page]) dropHandlers[page](target, dropped);
        });
    AddRow(10, click(p.sourceBrowse), [&p] { p.OnSourceBrowse(); });
    AddRow(11, click(p.targetBrowse), [&p] { p.OnTargetBrowse(); });
    AddRow(12, click(runAsAdminLink), [this] { RunAsAdministrator(); });
    AddRow(15, click(p.createButton), [&p] { p.OnCreate(); });
    AddRow(
        28, [&p](const UiEventSlot& e) { return e.code > 0 && p.formats.IsSizeOrPngc(e.code); },
        [&p] { p.ClearStatus(); });
}

int MainWindow::ShownPage() {
    const LRESULT item = app_.mainWindow.sendMessage(tab, TCM_GETCURSEL, 0, 0);
    return item >= 0 && item < kPageCount ? static_cast<int>(item) : 0;
}

bool MainWindow::Dispatch() {
    // A preview finished on its worker wakes the loop; it is shown whatever the event.
    single.CollectPreview();
    const UiEventSlot& e = app_.events;
    if (e.code == kEventClose) return false;
    if (e.source != &app_.mainWindow) return true;
    for (const Row& row : rows_) {
        if (!row.matches(e)) continue;
        row.run();
        break;
    }
    return !restarted;
}

void MainWindow::Show(int showMode) {
    UiWindow& w = app_.mainWindow;
    w.show(showMode, kShowUpdate | kShowToFront | kShowActivate | kShowDrain);
    // Without this the first link takes the focus and shows its focus box in the header.
    SetFocus(w.handleOf(single.sourceField));
}

void MainWindow::RunEventLoop() {
    // A handler may have drained a close request while it worked (a job's progress, a batch's end): it is checked
    // before every wait, so it ends the loop as soon as that handler returns.
    while (!app_.ClosePending() && app_.NextEvent(true)) {
        if (!Dispatch()) break;
    }
}

bool MainWindow::RunAsAdministrator() {
    UiWindow& w = app_.mainWindow;
    WideString arguments(w.getText(single.sourceField));
    if (arguments.StartsWith(kPickerMarker, true))
        arguments.Clear();
    else if (!arguments.IsEmpty())
        arguments = WideString::Concat(L"\"", arguments, L"\"");
    ShowWindow(w.window, SW_HIDE);
    while (app_.NextEvent(false)) {
    }
    while (GetAsyncKeyState(VK_LBUTTON) & 0x8000)
        Sleep(5);
    if (ShellRun(app_.programPath.Text(), arguments.IsEmpty() ? nullptr : arguments.Text(), L"runas") != 0) {
        restarted = true;
        return true;
    }
    ShowWindow(w.window, SW_SHOW);
    return false;
}
