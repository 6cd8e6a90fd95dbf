// The window framework core driven with real messages. RequiresDisplay: run under xvfb.
#include "ui/UiWindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "MessageSupport.h"
#include "ScreenSupport.h"
#include "TestSupport.h"
#include "engine/Imaging.h"

namespace {

using testing_support::CentreIn;
using testing_support::Narrow;
using testing_support::PostDrop;

constexpr const wchar_t* kClass = L"GwToolkitCoreTest";

// Pumps in poll mode until the slot holds the code or the queue runs dry; true when the code was seen.
bool PumpUntil(UiEventSlot& slot, int code) {
    for (int round = 0; round < 200; ++round) {
        UiWindow::pumpEvent(slot, kPumpPoll);
        if (slot.code == code) return true;
        MSG peek;
        if (!slot.pending && !PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) return false;
    }
    return false;
}

// Drains the queue and counts the close events it held.
int CountCloseEvents(UiEventSlot& slot) {
    int closes = 0;
    for (int round = 0; round < 200; ++round) {
        MSG peek;
        if (!slot.pending && !PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) break;
        if (UiWindow::pumpEvent(slot, kPumpPoll) == kEventClose) ++closes;
    }
    return closes;
}

// Hidden windows cost little under Wine; each test gets its own.
class HiddenWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The ticker of an earlier case may have posted to its window just before that window went away, and the
        // message stays queued; a case that expects a quiet queue must not see it.
        MSG stale;
        while (PeekMessageW(&stale, nullptr, 0, 0, PM_REMOVE)) {
        }
        ASSERT_TRUE(window.create(kClass, L"core", 300, 200, 10, 10));
    }
    UiEventSlot events;
    UiWindow window{&events};
};

// Hiding a shown top-level window takes Wine seconds without a window manager, so the visible window that hit
// tests and keyboard focus need is made once for the suite.
class VisibleWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        events = new UiEventSlot;
        window = new UiWindow(events);
        window->create(kClass, L"visible", 500, 400, 40, 40);
        window->show(SW_SHOWNORMAL, kShowUpdate | kShowToFront | kShowActivate | kShowDrain);
        checked = CreateBitmap(14, 14, 1, 32, nullptr);
        unchecked = CreateBitmap(14, 14, 1, 32, nullptr);
    }
    static void TearDownTestSuite() {
        delete window;
        delete events;
        DeleteObject(checked);
        DeleteObject(unchecked);
    }
    void SetUp() override { ASSERT_TRUE(window->window); }
    void TearDown() override {
        for (int index = window->controlCount(); index >= 1; --index)
            window->removeControl(index);
        events->clearEvent();
        events->closeRequested = 0;
    }
    static UiEventSlot* events;
    static UiWindow* window;
    static HBITMAP checked, unchecked;
};
UiEventSlot* VisibleWindowTest::events = nullptr;
UiWindow* VisibleWindowTest::window = nullptr;
HBITMAP VisibleWindowTest::checked = nullptr;
HBITMAP VisibleWindowTest::unchecked = nullptr;

TEST_F(HiddenWindowTest, MessagesBecomeTheirEvents) {
    const int button = window.addButton(L"b", 10, 10, 80, 25);
    HWND buttonHandle = window.handleOf(button);
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        int code;
        int param1;
        UINT eventMessage;
    };
    const Case cases[] = {
        {"move", WM_MOVE, 0, 0, kEventMoved, 0, WM_MOVE},
        {"sizing", WM_SIZING, WMSZ_RIGHT, 0, kEventPositionChanging, 0, WM_SIZING},
        {"moving", WM_MOVING, 0, 0, kEventMoving, 0, WM_MOVING},
        {"left up with shift", WM_LBUTTONUP, MK_SHIFT, 0, kEventLeftUp, MK_SHIFT, WM_LBUTTONUP},
        {"right down", WM_RBUTTONDOWN, MK_RBUTTON, 0, kEventRightDown, MK_RBUTTON, WM_RBUTTONDOWN},
        // The default procedure answers a right-button release with WM_CONTEXTMENU, whose event comes last.
        {"right up", WM_RBUTTONUP, 0, 0, kEventContextMenu, 0, WM_CONTEXTMENU},
        {"left double click", WM_LBUTTONDBLCLK, 0, 0, kEventDoubleClick, 0, WM_LBUTTONDBLCLK},
        {"right double click", WM_RBUTTONDBLCLK, 0, 0, kEventRightDoubleClick, 0, WM_RBUTTONDBLCLK},
        {"non-client left up", WM_NCLBUTTONUP, HTCAPTION, 0, kEventNcLeftUp, HTCAPTION, WM_NCLBUTTONUP},
        {"wheel", WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0, kEventMouseWheel, MAKEWPARAM(0, 120), WM_MOUSEWHEEL},
        {"mouse move", WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(7, 9), kEventMouseMove, MK_LBUTTON, WM_MOUSEMOVE},
        {"menu loop in", WM_ENTERMENULOOP, 0, 0, kEventEnterMenuLoop, 0, WM_ENTERMENULOOP},
        {"menu loop out", WM_EXITMENULOOP, 0, 0, kEventExitMenuLoop, 0, WM_EXITMENULOOP},
        {"device change", WM_DEVICECHANGE, 7, 0, kEventDeviceChange, 7, WM_DEVICECHANGE},
        {"character", WM_CHAR, L'A', 1, kEventChar, L'A', 0x102},
        {"non-client leave", WM_NCMOUSELEAVE, 3, 0, kEventNcMouseLeave, 3, WM_NCMOUSELEAVE},
        {"end of a size-move loop", WM_EXITSIZEMOVE, 0, 0, kEventMoved, 0, 0x232},
        {"context menu on a control", WM_CONTEXTMENU, reinterpret_cast<WPARAM>(buttonHandle), 0, kEventContextMenu,
         button, WM_CONTEXTMENU},
    };
    for (const Case& c : cases) {
        SendMessageW(window.window, c.message, c.wParam, c.lParam);
        EXPECT_EQ(UiWindow::pumpEvent(events, kPumpPoll), c.code) << c.name;
        EXPECT_EQ(events.param1, c.param1) << c.name;
        EXPECT_EQ(events.message, c.eventMessage) << c.name;
        EXPECT_EQ(events.window, window.window) << c.name;
        EXPECT_EQ(events.source, &window) << c.name;
    }
    EXPECT_EQ(window.mouseX, 7);
    EXPECT_EQ(window.mouseY, 9);
    EXPECT_EQ(window.hoveredControl, button);
}

TEST_F(HiddenWindowTest, CloseBoxAltF4AndWmCloseEachGiveOneCloseEventAndTheWindowStays) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool post;
    };
    const Case cases[] = {
        {"WM_CLOSE", WM_CLOSE, 0, 0, false},
        {"system close box", WM_SYSCOMMAND, SC_CLOSE, 0, false},
        // Alt held: bit 29 of the key data.
        {"Alt+F4", WM_SYSKEYDOWN, VK_F4, 0x20000001, true},
    };
    for (const Case& c : cases) {
        const int button = window.addButton(L"b", 0, 0, 10, 10);
        events.closeRequested = 0;
        if (c.post)
            PostMessageW(window.window, c.message, c.wParam, c.lParam);
        else
            SendMessageW(window.window, c.message, c.wParam, c.lParam);
        EXPECT_EQ(CountCloseEvents(events), 1) << c.name;
        EXPECT_EQ(events.closeRequested, 1) << c.name;
        EXPECT_TRUE(IsWindow(window.window)) << c.name;
        // A control event ends the close request.
        SendMessageW(window.handleOf(button), BM_CLICK, 0, 0);
        EXPECT_EQ(UiWindow::pumpEvent(events, kPumpPoll), button) << c.name;
        EXPECT_EQ(events.closeRequested, 0) << c.name;
        window.removeControl(button);
    }
}

TEST_F(HiddenWindowTest, SessionEndIsItsOwnEventToPumpEventAndACloseToWaitEvent) {
    struct Case {
        const char* name;
        UINT message;
        LPARAM lParam;
        LRESULT answer;
        int param1;
    };
    const Case cases[] = {
        {"query", WM_QUERYENDSESSION, static_cast<LPARAM>(ENDSESSION_LOGOFF), FALSE,
         static_cast<int>(ENDSESSION_LOGOFF)},
        {"end", WM_ENDSESSION, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SendMessageW(window.window, c.message, TRUE, c.lParam), c.answer) << c.name;
        EXPECT_EQ(UiWindow::pumpEvent(events, kPumpPoll), kEventSessionEnd) << c.name;
        EXPECT_EQ(events.param1, c.param1) << c.name;
        EXPECT_EQ(events.closeRequested, 0) << c.name;

        SendMessageW(window.window, c.message, TRUE, c.lParam);
        UiWindow::waitEvent(events, kPumpPoll);
        EXPECT_EQ(events.code, kEventClose) << c.name;
        EXPECT_EQ(events.closeRequested, 1) << c.name;
        events.closeRequested = 0;
    }
}

TEST_F(HiddenWindowTest, PostedNullWakesWaitEventWithoutAnEvent) {
    PostMessageW(window.window, WM_NULL, 0, 0);
    EXPECT_EQ(UiWindow::waitEvent(events, kPumpWait), 1);
    EXPECT_EQ(events.code, 0);
    EXPECT_EQ(events.msg.message, static_cast<UINT>(WM_NULL));
}

TEST_F(HiddenWindowTest, TickerWakesABlockingWait) {
    ASSERT_TRUE(UiWindow::startTicker(window.window));
    EXPECT_EQ(UiWindow::waitEvent(events, kPumpWait), 1);
    EXPECT_EQ(events.msg.message, static_cast<UINT>(WM_NULL));
    EXPECT_EQ(events.code, 0);
    EXPECT_FALSE(UiWindow::startTicker(nullptr));
}

TEST_F(HiddenWindowTest, QuitEndsTheLoop) {
    PostQuitMessage(3);
    EXPECT_EQ(UiWindow::waitEvent(events, kPumpWait), 0);
    EXPECT_EQ(events.code, kEventLoopEnded);
}

TEST_F(HiddenWindowTest, WmUserAnswersTheDefaultButton) {
    for (int i = 0; i < 4; ++i)
        window.addLabel(L"l", 0, 0, 10, 10);
    const int fifth = window.addButton(L"ok", 0, 0, 80, 25, WS_VISIBLE | BS_DEFPUSHBUTTON);
    ASSERT_EQ(fifth, 5);
    EXPECT_EQ(window.defaultButton, 5);
    EXPECT_NE(GetWindowLongW(window.handleOf(fifth), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
    EXPECT_EQ(SendMessageW(window.window, WM_USER, 0, 0), 0x534B0005);

    const int sixth = window.addButton(L"other", 0, 0, 80, 25);
    EXPECT_EQ(window.setDefaultButton(sixth), 5);
    EXPECT_EQ(GetWindowLongW(window.handleOf(fifth), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);
    EXPECT_EQ(SendMessageW(window.window, WM_USER, 0, 0), 0x534B0006);

    // A removed default button is no longer named: a later control could take its index.
    window.removeControl(sixth);
    EXPECT_EQ(SendMessageW(window.window, WM_USER, 0, 0), 0);
    EXPECT_EQ(window.setDefaultButton(0), 0);
}

TEST_F(HiddenWindowTest, AttachedWindowsAreCappedAtFortyEightLiveOnesAndFollowTheWindow) {
    std::vector<HWND> popups;
    for (int i = 0; i < 49; ++i)
        popups.push_back(
            CreateWindowExW(0, L"Static", L"", WS_POPUP, 100 + i, 100, 10, 10, nullptr, nullptr, nullptr, nullptr));
    for (int i = 0; i < 48; ++i)
        EXPECT_EQ(window.attachWindow(popups[i]), i + 1);
    EXPECT_EQ(window.attachWindow(popups[48]), 0);
    DestroyWindow(popups[9]);
    EXPECT_EQ(window.attachWindow(popups[48]), 10);

    RECT before, after, windowRect;
    GetWindowRect(popups[0], &before);
    GetWindowRect(window.window, &windowRect);
    SetWindowPos(window.window, nullptr, windowRect.left + 30, windowRect.top + 20, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(popups[0], &after);
    EXPECT_EQ(after.left - before.left, 30);
    EXPECT_EQ(after.top - before.top, 20);
    for (HWND popup : popups)
        if (IsWindow(popup)) DestroyWindow(popup);
}

TEST(UiWindowCreate, CentresOnTheWorkAreaOrTheParentAndTakesTheClientSize) {
    UiEventSlot events;
    UiWindow parent(&events);
    ASSERT_TRUE(parent.create(kClass, L"parent", 600, 500, 20, 30));
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT parentRect;
    GetWindowRect(parent.window, &parentRect);
    struct Case {
        const char* name;
        HWND parent;
        RECT reference;
    };
    const Case cases[] = {{"work area", nullptr, work}, {"parent", parent.window, parentRect}};
    for (const Case& c : cases) {
        UiWindow child(&events);
        ASSERT_TRUE(child.create(kClass, L"child", 200, 100, -1, -1, -1, -1, c.parent));
        RECT rect, client;
        GetWindowRect(child.window, &rect);
        GetClientRect(child.window, &client);
        EXPECT_EQ(client.right, 200) << c.name;
        EXPECT_EQ(client.bottom, 100) << c.name;
        const int width = rect.right - rect.left, height = rect.bottom - rect.top;
        EXPECT_EQ(rect.left, c.reference.left + (c.reference.right - c.reference.left - width) / 2) << c.name;
        EXPECT_EQ(rect.top, c.reference.top + (c.reference.bottom - c.reference.top - height) / 2) << c.name;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(child.window, GWL_STYLE)) & 0x00CA0000u, 0x00CA0000u);
        EXPECT_NE(GetWindowLongW(child.window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0) << c.name;
    }
}

TEST(UiWindowCreate, UnregistersOnlyAClassItRegistered) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW info = {};
    info.cbSize = sizeof(info);
    {
        UiWindow window;
        ASSERT_TRUE(window.create(L"GwOwnClass", L"", 50, 50, 0, 0));
        EXPECT_EQ(window.flags & kWindowClassExisted, 0u);
        EXPECT_TRUE(GetClassInfoExW(instance, L"GwOwnClass", &info));
        EXPECT_EQ(info.cbClsExtra, 512);
        EXPECT_EQ(info.cbWndExtra, 512);
        EXPECT_TRUE(window.destroy());
        EXPECT_FALSE(window.destroy());
        EXPECT_FALSE(GetClassInfoExW(instance, L"GwOwnClass", &info));
    }
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"GwForeignClass";
    ASSERT_TRUE(RegisterClassExW(&wc));
    {
        UiWindow window;
        ASSERT_TRUE(window.create(L"GwForeignClass", L"", 50, 50, 0, 0));
        EXPECT_NE(window.flags & kWindowClassExisted, 0u);
    }
    EXPECT_TRUE(GetClassInfoExW(instance, L"GwForeignClass", &info));
    UnregisterClassW(L"GwForeignClass", instance);
}

TEST(UiWindowCreate, ConstructAndCreateMakesATwoHundredHighPopupThatCanBeMadeAgain) {
    UiEventSlot events;
    UiWindow window(&events, kClass, L"popup", 320);
    ASSERT_TRUE(window.window);
    RECT client;
    GetClientRect(window.window, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 200);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window.window, GWL_STYLE)) & WS_POPUP, WS_POPUP);
    EXPECT_EQ(window.getSink(), &events);
    window.setSink(nullptr);
    EXPECT_EQ(window.getSink(), &window.ownSlot);
    HWND first = window.window;
    ASSERT_TRUE(window.create(kClass, L"again", 100, 100, 0, 0));
    EXPECT_FALSE(IsWindow(first));
}

TEST_F(VisibleWindowTest, DroppedFilesNameTheControlUnderThePointInDropOrder) {
    const int edit = window->addEdit(L"", 20, 20, 200, 24, WS_VISIBLE);
    const int label = window->addCheckBox(L"check", checked, unchecked, 20, 60, 120, 8);
    const std::vector<std::wstring> paths = {L"C:\\one.png", L"C:\\图标\\two.ico", L"D:\\three.exe"};
    const std::wstring joined = L"C:\\one.png\r\nC:\\图标\\two.ico\r\nD:\\three.exe";
    struct Case {
        const char* name;
        POINT point;
        int target;
    };
    const Case cases[] = {
        {"edit", CentreIn(window->handleOf(edit), window->window), edit},
        {"check box label", CentreIn(window->handleOf(label), window->window), label},
        {"bare client area", POINT{450, 350}, 0},
    };
    for (const Case& c : cases) {
        PostDrop(window->window, c.point, paths);
        ASSERT_TRUE(PumpUntil(*events, kEventFilesDropped)) << c.name;
        EXPECT_EQ(events->message, static_cast<UINT>(WM_DROPFILES)) << c.name;
        EXPECT_EQ(events->param1, c.target) << c.name;
        EXPECT_EQ(Narrow(reinterpret_cast<const wchar_t*>(events->param2)), Narrow(joined.c_str())) << c.name;
        EXPECT_EQ(Narrow(window->droppedFiles().Text()), Narrow(joined.c_str())) << c.name;
        EXPECT_EQ(window->dropPoint.x, c.point.x) << c.name;
    }
    // Once another event has come, the window no longer reports a drop.
    SendMessageW(window->window, WM_MOVE, 0, 0);
    UiWindow::pumpEvent(*events, kPumpPoll);
    EXPECT_TRUE(window->droppedFiles().IsEmpty());
}

TEST_F(VisibleWindowTest, EnterOnAFocusedCheckBoxActsAsAClick) {
    const int box = window->addCheckBox(L"box", checked, unchecked, 20, 20, 120, 8);
    const int radio = window->addRadioButton(L"radio", checked, unchecked, 20, 40, 120, 8);
    for (int label : {box, radio}) {
        ASSERT_TRUE(window->setState(label, kStateFocus));
        ASSERT_EQ(GetFocus(), window->handleOf(label));
        EXPECT_EQ(window->getState(label, kStateFocus | kStateDefocus), static_cast<uint32_t>(kStateFocus));
        // The focused label shows the hover colour.
        EXPECT_EQ(window->control(label)->textColor, 0xAF5030);
        PostMessageW(window->handleOf(label), WM_KEYDOWN, VK_RETURN, 0);
        ASSERT_TRUE(PumpUntil(*events, label));
        EXPECT_EQ(window->getState(label, kStateChecked | kStateUnchecked), static_cast<uint32_t>(kStateChecked));
    }
    window->setState(radio, kStateDefocus);
    EXPECT_EQ(window->control(radio)->textColor, 0);
}

TEST_F(VisibleWindowTest, HoveringAPairColoursItsLabelAndReportsTheControl) {
    const int label = window->addCheckBox(L"hover", checked, unchecked, 20, 20, 120, 8);
    const int image = label - 1;
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    EXPECT_EQ(window->control(image)->cursor, hand);
    SendMessageW(window->window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window->handleOf(image)),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(UiWindow::pumpEvent(*events, kPumpPoll), kEventHover);
    EXPECT_EQ(events->param1, image);
    EXPECT_EQ(window->control(label)->textColor, 0xAF5030);
    EXPECT_EQ(GetCursor(), hand);
    SendMessageW(window->window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window->window),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(UiWindow::pumpEvent(*events, kPumpPoll), kEventHover);
    EXPECT_EQ(events->param1, 0);
    EXPECT_EQ(window->control(label)->textColor, 0);
}

TEST_F(VisibleWindowTest, AClickThatDragsTheWindowStillReportsTheClickLast) {
    const int plain = window->addLabel(L"plain", 20, 20, 100, 20, WS_VISIBLE);
    const int notifying = window->addLabel(L"notifying", 20, 60, 100, 20);
    for (int index : {plain, notifying})
        window->controls[index].flags |= kControlDragsWindow;
    const POINT overPlain = CentreIn(window->handleOf(plain), window->window);
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        int code;
    };
    const Case cases[] = {
        {"left button down on the window over the control", WM_LBUTTONDOWN, MK_LBUTTON,
         MAKELPARAM(overPlain.x, overPlain.y), kEventLeftDown},
        {"click command from the control", WM_COMMAND, MAKEWPARAM(notifying, STN_CLICKED),
         reinterpret_cast<LPARAM>(window->handleOf(notifying)), notifying},
    };
    for (const Case& c : cases) {
        // The release that ends a real click also ends the system's move loop.
        PostMessageW(window->window, WM_LBUTTONUP, 0, 0);
        SendMessageW(window->window, c.message, c.wParam, c.lParam);
        EXPECT_EQ(UiWindow::pumpEvent(*events, kPumpPoll), c.code) << c.name;
        EXPECT_EQ(events->message, c.message) << c.name;
        while (UiWindow::pumpEvent(*events, kPumpPoll) != 0) {
        }
    }
}

// Live GDI and USER objects of this process, and the windows of this thread. GetGuiResources is the real count;
// where it is a stub (Wine answers 0), the GDI and icon handle tables are probed, which Wine answers in-process and
// accepts a handle without its generation word. Windows are enumerated rather than probed: IsWindow on a handle that
// is not ours costs Wine a server round trip.
struct ObjectCounts {
    long gdi = 0;
    long user = 0;
    long windows = 0;
};

BOOL CALLBACK CountOne(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

BOOL CALLBACK CountWithDescendants(HWND window, LPARAM count) {
    CountOne(window, count);
    // Descendants at every depth, so a leaked control or tab page counts as well as a leaked top-level window.
    EnumChildWindows(window, CountOne, count);
    return TRUE;
}

ObjectCounts CountObjects() {
    ObjectCounts counts;
    EnumThreadWindows(GetCurrentThreadId(), CountWithDescendants, reinterpret_cast<LPARAM>(&counts.windows));
    counts.gdi = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    counts.user = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
    if (counts.gdi == 0 && counts.user == 0) {
        for (UINT_PTR h = 1; h < 0x10000; ++h) {
            if (GetObjectType(reinterpret_cast<HGDIOBJ>(h))) ++counts.gdi;
            ICONINFO info;
            if (GetIconInfo(reinterpret_cast<HICON>(h), &info)) {
                ++counts.user;
                DeleteObject(info.hbmColor);
                DeleteObject(info.hbmMask);
            }
        }
    }
    return counts;
}

void BuildAndDestroyWindowWithEveryKind(HBITMAP checked, HBITMAP unchecked, HICON icon) {
    UiEventSlot events;
    UiWindow window(&events);
    window.create(kClass, L"leak", 660, 500, 0, 0);
    window.setDefaultBackColor(0xFEFEFE);
    const int button = window.addButton(L"button", 10, 10, 80, 25);
    window.setIcon(button, -1, icon, 16);
    window.setBitmap(button, 0, nullptr, 16, 16);
    window.setBitmap(window.addButton(L"bitmap", 100, 10, 80, 25), -1, checked, 14, 14);
    window.addLabel(L"label", 10, 40, 80, 20);
    const int edit = window.addEdit(L"edit", 10, 70, 80, 22, WS_VISIBLE);
    window.addUpDown(edit);
    window.addLink(L"<a href=\"x\">link</a>", 10, 100, 80, 20);
    const int image = window.addIconImage(icon, 10, 130, 32, 32);
    window.setIcon(image, 0, icon, 0);
    const int picture = window.addPicture(checked, 50, 130, 14, 14);
    window.setBitmap(picture, 0, unchecked, 14, 14);
    window.addProgress(10, 170, 100, 10);
    window.addCheckBox(L"check", checked, unchecked, 10, 190, 100, 4);
    window.addRadioButton(L"radio", checked, unchecked, 10, 210, 100, 8);
    window.setTip(window.addCloseButton(), L"tip");
    window.addMinimizeButton();
    const int tab = window.addTab(200, 10, 300, 200);
    const int page = window.addTabPage(tab, 0, L"page");
    window.setIcon(page, -1, icon, 16);
    window.addLabel(L"member", 5, 5, 50, 20);
    window.setFont(12.0, FW_BOLD);
    window.setBackColor(-1);
}

TEST(UiWindowResources, CreatingAndDestroyingWindowsWithEveryKindLeaksNoGdiOrUserObjects) {
    ImagingSession imaging;
    ASSERT_TRUE(imaging.Started());
    HBITMAP checked = CreateBitmap(14, 14, 1, 32, nullptr);
    HBITMAP unchecked = CreateBitmap(14, 14, 1, 32, nullptr);
    HICON icon = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    // The first rounds fill the platform's own caches (classes, fonts, themes).
    for (int i = 0; i < 5; ++i)
        BuildAndDestroyWindowWithEveryKind(checked, unchecked, icon);
    // Handle counts are exact, so a leak of even one object per round shows after ten rounds; the second ten show
    // that a difference keeps growing rather than settling into a cache.
    const ObjectCounts before = CountObjects();
    for (int checkpoint = 1; checkpoint <= 2; ++checkpoint) {
        for (int i = 0; i < 10; ++i)
            BuildAndDestroyWindowWithEveryKind(checked, unchecked, icon);
        const ObjectCounts after = CountObjects();
        EXPECT_EQ(after.gdi, before.gdi) << "after " << checkpoint * 10 << " rounds";
        EXPECT_EQ(after.user, before.user) << "after " << checkpoint * 10 << " rounds";
        EXPECT_EQ(after.windows, before.windows) << "after " << checkpoint * 10 << " rounds";
    }
    DeleteObject(checked);
    DeleteObject(unchecked);
    DestroyIcon(icon);
}

// What the pointer did to a window while a key was being handled: a helper thread moves the pointer, notes where the
// window stands, then clicks on a bare spot (which would also end a move loop that holds the window's thread).
struct PointerProbe {
    HWND window = nullptr;
    POINT rest = {};
    RECT seen = {};
    volatile LONG done = 0;
};

DWORD WINAPI MovePointerThenClick(void* parameter) {
    auto* probe = static_cast<PointerProbe*>(parameter);
    Sleep(300);
    for (int step = 1; step <= 6; ++step) {
        INPUT move = {};
        move.type = INPUT_MOUSE;
        move.mi.dx = 10;
        move.mi.dy = 8;
        move.mi.dwFlags = MOUSEEVENTF_MOVE;
        SendInput(1, &move, sizeof(move));
        Sleep(40);
    }
    Sleep(200);
    GetWindowRect(probe->window, &probe->seen);
    testing_support::ClickAt(probe->rest);
    InterlockedExchange(&probe->done, 1);
    return 0;
}

// The dialog manager turns Esc, and Enter without a default button, into commands IDCANCEL and IDOK naming controls
// 2 and 1 as senders; in the program those are the header's drag areas. A key never moves the window nor clicks them.
TEST_F(VisibleWindowTest, EscapeAndEnterInAFieldNeitherMoveTheWindowNorClickControlsOneAndTwo) {
    const int band = window->addLabel(L"", 0, 0, 500, 40);
    const int icon = window->addLabel(L"icon", 10, 50, 40, 20);
    ASSERT_EQ(band, IDOK);
    ASSERT_EQ(icon, IDCANCEL);
    for (int index : {band, icon})
        window->controls[index].flags |= kControlDragsWindow;
    const int field = window->addEdit(L"text", 20, 100, 200, 20);
    for (WORD key : {static_cast<WORD>(VK_ESCAPE), static_cast<WORD>(VK_RETURN)}) {
        window->show(SW_SHOWNORMAL, kShowToFront | kShowActivate | kShowDrain);
        SetFocus(window->handleOf(field));
        RECT before;
        GetWindowRect(window->window, &before);
        PointerProbe probe;
        probe.window = window->window;
        probe.rest = POINT{before.left + 300, before.bottom - 60};  // bare client area, no control
        SetCursorPos(probe.rest.x - 60, probe.rest.y - 48);
        HANDLE mover = CreateThread(nullptr, 0, MovePointerThenClick, &probe, 0, nullptr);
        ASSERT_TRUE(mover);
        testing_support::PressKey(key);
        std::vector<int> codes;
        while (!probe.done) {
            if (const int code = UiWindow::pumpEvent(*events, kPumpPoll)) codes.push_back(code);
            Sleep(5);
        }
        WaitForSingleObject(mover, INFINITE);
        CloseHandle(mover);
        while (UiWindow::pumpEvent(*events, kPumpPoll) != 0) {
        }
        EXPECT_EQ(probe.seen.left, before.left) << "key " << key << ": the window followed the pointer";
        EXPECT_EQ(probe.seen.top, before.top) << "key " << key;
        for (int code : codes)
            EXPECT_TRUE(code != band && code != icon) << "key " << key << " clicked control " << code;
        SetWindowPos(window->window, nullptr, before.left, before.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
}

}  // namespace
