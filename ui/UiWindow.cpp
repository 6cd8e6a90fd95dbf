#include "ui/UiWindow.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>

#include "engine/IconSources.h"
#include "engine/WindowQueries.h"
#include "sys/SystemInfo.h"
#include "ui/ScreenScale.h"
#include "ui/Subclass.h"

namespace {

constexpr UINT_PTR kWindowSubclassId = 1;
constexpr int kClassExtraBytes = 512;
constexpr COLORREF kClassBackground = 0xFEFEFE;
constexpr DWORD kDefaultStyle = 0x00CA0000;  // WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
constexpr int kTickerIntervalMs = 20;

void InitCommonControlsOnce() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX init = {sizeof(init), ICC_STANDARD_CLASSES | ICC_LINK_CLASS | ICC_TAB_CLASSES |
                                                       ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
        return InitCommonControlsEx(&init) != FALSE;
    }();
    (void)done;
}

DWORD WINAPI TickerThread(void* parameter) {
    HWND target = static_cast<HWND>(parameter);
    while (IsWindow(target)) {
        PostMessageW(target, WM_NULL, 0, 0);
        Sleep(kTickerIntervalMs);
    }
    return 0;
}

UiWindow* WindowOf(HWND hwnd, SubclassProcedure procedure) {
    DWORD_PTR reference = 0;
    if (!hwnd || !QuerySubclass(hwnd, procedure, kWindowSubclassId, &reference)) return nullptr;
    return reinterpret_cast<UiWindow*>(reference);
}

}  // namespace

UiWindow::UiWindow(UiEventSlot* eventSink) : instance(GetModuleHandleW(nullptr)) {
    setSink(eventSink);
}

UiWindow::UiWindow(UiEventSlot* eventSink, const wchar_t* className, const wchar_t* title, int clientWidth, HWND parent)
    : UiWindow(eventSink) {
    create(className, title, clientWidth, 200, 0, 0, static_cast<int32_t>(WS_POPUP), -1, parent, eventSink);
}

UiWindow::~UiWindow() {
    dispose();
}

HWND UiWindow::create(const wchar_t* className, const wchar_t* title, int clientWidth, int clientHeight, int x, int y,
                      int32_t style, int32_t exStyle, HWND parent, UiEventSlot* eventSink) {
    if (window) destroy();
    if (eventSink) sink = eventSink;
    if (!instance) instance = GetModuleHandleW(nullptr);
    InitCommonControlsOnce();

    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof(existing);
    HBRUSH classBrush = nullptr;
    if (GetClassInfoExW(instance, className, &existing)) {
        flags |= kWindowClassExisted;
        classAtom = 0;
    } else {
        flags &= ~kWindowClassExisted;
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = DefWindowProcW;
        wc.cbClsExtra = kClassExtraBytes;
        wc.cbWndExtra = kClassExtraBytes;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        // The class brush belongs to the class; UnregisterClassW does not delete it, so destroy does.
        classBrush = CreateSolidBrush(kClassBackground);
        wc.hbrBackground = classBrush;
        wc.lpszClassName = className;
        classAtom = RegisterClassExW(&wc);
        if (!classAtom) {
            DeleteObject(classBrush);
            return nullptr;
        }
    }

    CLIENTCREATESTRUCT clientCreate = {};
    void* createParam = wcscmp(className, L"MDIClient") == 0 ? &clientCreate : nullptr;
    const DWORD windowStyle = style == -1 ? kDefaultStyle : static_cast<DWORD>(style);
    const DWORD windowExStyle = exStyle == -1 ? WS_EX_ACCEPTFILES : static_cast<DWORD>(exStyle);
    RECT outer = {0, 0, scaleToScreen(clientWidth), scaleToScreen(clientHeight)};
    AdjustWindowRectEx(&outer, windowStyle, FALSE, windowExStyle);
    window = CreateWindowExW(windowExStyle, className, title, windowStyle, x, y, outer.right - outer.left,
                             outer.bottom - outer.top, parent, nullptr, instance, createParam);
    if (!window) {
        if (classAtom && UnregisterClassW(className, instance)) DeleteObject(classBrush);
        classAtom = 0;
        return nullptr;
    }

    sink->clearAll();
    InstallSubclass(window, WindowProc, kWindowSubclassId, reinterpret_cast<DWORD_PTR>(this));
    if (x == -1 && y == -1) centerWindow(window, parent);
    setDefaultFont(9.0, FW_NORMAL);

    if (parent && IsWindow(parent)) {
        HICON big = GetWindowIcon(parent, kIconBig);
        HICON small = GetWindowIcon(parent, kIconSmall);
        setWindowIcons(big ? CopyIcon(big) : nullptr, small ? CopyIcon(small) : nullptr);
    } else {
        wchar_t path[2048];
        const DWORD length = GetModuleFileNameW(nullptr, path, 2048);
        HICON big = nullptr, small = nullptr;
        if (length > 0 && length < 2048 &&
            ShellDefaultExtractIcon(path, 0, MAKELONG(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CXSMICON)), &big,
                                    &small))
            setWindowIcons(big, small);
    }

    backgroundBrush.Reset(CreateSolidBrush(GetSysColor(COLOR_WINDOW)));
    backgroundMode = kBackgroundSolidBrush;
    controlParent = window;
    if (!memoryDC) {
        WindowDc dc(window);
        memoryDC.Reset(CreateCompatibleDC(dc.Get()));
    }
    RECT client = {};
    GetClientRect(window, &client);
    lastClientSize = RECT{0, 0, client.right, client.bottom};
    backgroundWidth = client.right;
    backgroundHeight = client.bottom;
    return window;
}

void UiWindow::releaseWindowIcons() {
    for (WPARAM kind : {static_cast<WPARAM>(ICON_BIG), static_cast<WPARAM>(ICON_SMALL)}) {
        HICON previous = reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, kind, 0));
        if (previous) DestroyIcon(previous);
    }
}

bool UiWindow::destroy() {
    if (!window) return false;
    const bool foreign = (flags & kWindowForeign) != 0;
    if (!foreign && IsWindowVisible(window)) ShowWindow(window, SW_HIDE);
    wchar_t className[260] = {};
    GetClassNameW(window, className, 260);
    for (int index = count; index >= 1; --index)
        removeControl(index);
    if (tooltipWindow) DestroyWindow(tooltipWindow);
    if (popupWindow && IsWindow(popupWindow)) DestroyWindow(popupWindow);
    tooltipWindow = popupWindow = nullptr;
    if (backgroundMode == kBackgroundBorrowedBrush)
        backgroundBrush.Release();
    else
        backgroundBrush.Reset();
    childBackgroundBrush.Reset();
    if (memoryDC && previousBitmap) SelectObject(memoryDC.Get(), previousBitmap);
    previousBitmap = nullptr;
    backgroundBitmap.Reset();
    memoryDC.Reset();
    menu.Reset();
    accelerators.Reset();

    // Unhooked first, so that a window on its way out raises no events.
    RemoveSubclass(window, WindowProc, kWindowSubclassId);
    if (!foreign) {
        releaseWindowIcons();
        HBRUSH classBrush = reinterpret_cast<HBRUSH>(GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
        DestroyWindow(window);
        if (!(flags & kWindowClassExisted) && UnregisterClassW(className, instance) && classBrush)
            DeleteObject(classBrush);
    }

    if (sink->active == this) sink->active = nullptr;
    if (sink->source == this) sink->source = nullptr;
    window = controlParent = shownTabPage = nullptr;
    std::fill(std::begin(attached), std::end(attached), nullptr);
    attachedCount = 0;
    scratchRect = scratchRect2 = lastClientSize = newClientSize = RECT{};
    defaultButton = 0;
    currentTab = 0;
    backgroundMode = kBackgroundSolidBrush;
    classAtom = 0;
    dropHandle = nullptr;
    dropPoint = POINT{};
    backgroundWidth = backgroundHeight = 0;
    flags = 0;
    framelessInset = 0;
    mouseX = mouseY = mouseKeys = 0;
    hoveredControl = 0;
    return true;
}

void UiWindow::dispose() {
    destroy();
    std::vector<UiControl>().swap(controls);
    count = capacity = 0;
    textBuffer.Clear();
}

BOOL UiWindow::show(int command, int showFlags) {
    if (!window) return FALSE;
    const BOOL result = (showFlags & kShowAsync) ? ShowWindowAsync(window, command) : ShowWindow(window, command);
    if (command != SW_HIDE) {
        if (showFlags & kShowUpdate) UpdateWindow(window);
        if (showFlags & kShowToFront) {
            BringWindowToTop(window);
            SetForegroundWindow(window);
        }
    }
    if (showFlags & kShowActivate) {
        SendMessageW(window, WM_ACTIVATE, WA_CLICKACTIVE, 0);
        EnableWindow(window, TRUE);
    }
    if ((showFlags & (kShowToFront | kShowActivate)) && GetForegroundWindow() == window) sink->active = this;
    if (showFlags & kShowDrain)
        while (pumpEvent(*sink, kPumpPoll) != 0) {
        }
    if (showFlags & kShowRedraw) RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
    return result;
}

int UiWindow::resolve(int index) const {
    if (index == -1) index = count;
    if (index < 1 || index > count || index >= static_cast<int>(controls.size())) return 0;
    return controls[index].inUse == index ? index : 0;
}

UiControl* UiWindow::slot(int index) {
    const int resolved = resolve(index);
    return resolved ? &controls[resolved] : nullptr;
}

const UiControl* UiWindow::control(int index) const {
    const int resolved = resolve(index);
    return resolved ? &controls[resolved] : nullptr;
}

ControlKind UiWindow::kindOf(int index) const {
    const UiControl* c = control(index);
    return c ? c->kind : ControlKind::kNone;
}

HWND UiWindow::handleOf(int index) const {
    if (index == 0) return window;
    const UiControl* c = control(index);
    return c ? c->handle : nullptr;
}

int UiWindow::indexOfHandle(HWND child) const {
    if (!child) return 0;
    const int index = static_cast<int>(GetWindowLongPtrW(child, GWLP_ID));
    const UiControl* c = index > 0 ? control(index) : nullptr;
    return c && c->handle == child ? index : 0;
}

int UiWindow::attachWindow(HWND popup) {
    for (int i = 0; i < kAttachedSlots; ++i)
        if (attached[i] == popup && popup) return i + 1;
    for (int i = 0; i < kAttachedSlots; ++i) {
        if (attached[i] && IsWindow(attached[i])) continue;
        attached[i] = popup;
        attachedCount = std::max(attachedCount, i + 1);
        return i + 1;
    }
    return 0;
}

void UiWindow::moveAttached(int dx, int dy) {
    for (int i = 0; i < attachedCount; ++i) {
        HWND popup = attached[i];
        RECT rect;
        if (!popup || !IsWindow(popup) || !GetWindowRect(popup, &rect)) continue;
        SetWindowPos(popup, nullptr, rect.left + dx, rect.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void UiWindow::setDefaultFont(double size, int weight) {
    fontSize = size;
    fontWeight = weight;
    fontAttributes = 1;
    fontQuality = 0;
    wcscpy_s(fontFace, L"Arial");
}

void UiWindow::setBackgroundColor(COLORREF color) {
    if (backgroundMode == kBackgroundBorrowedBrush) backgroundBrush.Release();
    backgroundBrush.Reset(CreateSolidBrush(color));
    if (memoryDC && previousBitmap) SelectObject(memoryDC.Get(), previousBitmap);
    previousBitmap = nullptr;
    backgroundBitmap.Reset();
    backgroundMode = kBackgroundSolidBrush;
    if (window) InvalidateRect(window, nullptr, TRUE);
}

void UiWindow::setWindowIcons(HICON big, HICON small) {
    if (!window) return;
    HICON previousBig = reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)big));
    if (previousBig && previousBig != big) DestroyIcon(previousBig);
    HICON previousSmall = reinterpret_cast<HICON>(SendMessageW(window, WM_SETICON, ICON_SMALL, (LPARAM)small));
    if (previousSmall && previousSmall != small) DestroyIcon(previousSmall);
    RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

void UiWindow::loadWindowIcons(HMODULE module) {
    auto load = [module](int number, int sizeMetric) {
        const int size = GetSystemMetrics(sizeMetric);
        return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(number), IMAGE_ICON, size, size, 0));
    };
    setWindowIcons(load(107, SM_CXICON), load(108, SM_CXSMICON));
}

int UiWindow::pumpEvent(UiEventSlot& slot, int mode) {
    if (slot.pending) {
        slot.pending = 0;
        return mode == kPumpWait ? 1 : slot.code;
    }
    slot.clearEvent();
    MSG& msg = slot.msg;
    BOOL got;
    if (mode == kPumpWait) {
        got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            slot.code = kEventLoopEnded;
            return 0;
        }
    } else {
        got = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        if (!got) return 0;
    }
    auto finish = [&slot, mode, got] {
        slot.pending = 0;
        if (mode == kPumpPoll) return static_cast<int>(slot.code);
        return mode == kPumpPollAny ? 1 : static_cast<int>(got);
    };

    if (msg.message == kCloseMessage) {
        slot.code = kEventClose;
        slot.window = msg.hwnd;
        slot.message = kCloseMessage;
        slot.closeRequested = 1;
        if (UiWindow* owner = WindowOf(msg.hwnd, WindowProc)) {
            slot.source = owner;
            ++owner->closeRequests;
        }
        return finish();
    }
    if (msg.message == WM_NULL) return mode == kPumpPoll ? 0 : 1;

    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_SPACE)) {
        // Enter and Space act like a click on a check box or radio button.
        for (UiWindow* owner : {slot.source, slot.active}) {
            const int index = owner ? owner->indexOfHandle(msg.hwnd) : 0;
            if (index && owner->controls[index].isPair()) {
                owner->clickControl(index);
                return finish();
            }
        }
    }

    bool consumed = false;
    if (UiWindow* active = slot.active; active && active->window) {
        if (active->accelerators && TranslateAcceleratorW(active->window, active->accelerators.Get(), &msg))
            consumed = true;
        else if (active->handleNavigationKey(msg))
            consumed = true;
        else if (IsDialogMessageW(active->window, &msg))
            consumed = true;
    }
    if (!consumed) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return finish();
}

int UiWindow::waitEvent(UiEventSlot& slot, int mode) {
    const int result = pumpEvent(slot, mode);
    if (slot.code == kEventSessionEnd) {
        slot.code = kEventClose;
        slot.closeRequested = 1;
    }
    return result;
}

const WideString& UiWindow::droppedFiles() {
    if (!(sink->source == this && sink->message == WM_DROPFILES)) textBuffer.MakeEmpty();
    return textBuffer;
}

WideString UiWindow::firstDroppedFile() {
    WideString first(droppedFiles());
    if (const int end = first.Find(L"\r\n", true)) first.TruncateTo(end - 1);
    return first;
}

void UiWindow::waitMouseRelease() {
    auto down = [] { return (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0; };
    while (down() || down()) {
        while (pumpEvent(*sink, kPumpPoll) != 0) {
        }
        Sleep(5);
    }
}

bool UiWindow::startTicker(HWND target) {
    if (!IsWindow(target)) return false;
    KernelHandle thread(CreateThread(nullptr, 0, TickerThread, target, 0, nullptr));
    return thread.Valid();
}

bool UiWindow::allowDrops() {
    const bool drop = AllowMessageThroughFilter(WM_DROPFILES);
    const bool copyData = AllowMessageThroughFilter(0x49);  // WM_COPYGLOBALDATA
    const bool hitTest = AllowMessageThroughFilter(WM_NCHITTEST);
    return drop && copyData && hitTest;
}

void UiWindow::centerWindow(HWND target, HWND reference) {
    RECT rect, area;
    if (!GetWindowRect(target, &rect)) return;
    if (!(reference && IsWindow(reference) && GetWindowRect(reference, &area)))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(target, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
}

void UiWindow::raise(HWND hwnd, UINT message, int32_t code, int32_t param1, intptr_t param2) {
    sink->code = code;
    sink->window = hwnd;
    sink->message = message;
    sink->param1 = param1;
    sink->param2 = param2;
    sink->source = this;
    if (code != 0) sink->pending = 1;
    if (code > 0) sink->closeRequested = 0;
    if (code > 0 && code == closeButton) ++closeRequests;
}

void UiWindow::trackForeground(HWND hwnd) {
    if (!hwnd)
        sink->active = nullptr;
    else if (window && GetForegroundWindow() == window)
        sink->active = this;
}

void UiWindow::dragWindow() {
    // The button state as of the message being handled: down for the press behind a click, up for a key.
    if (GetKeyState(VK_LBUTTON) >= 0) return;
    const DWORD position = GetMessagePos();
    ReleaseCapture();
    SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, static_cast<LPARAM>(position));
}

void UiWindow::setHoverLook(int index, bool hovered) {
    UiControl* c = slot(index);
    if (!c || !c->isPair() || !c->pair) return;
    const CheckPair& pair = *c->pair;
    const COLORREF color = hovered ? pair.hoverColor : pair.normalColor;
    const UiControl* label = control(pair.labelIndex);
    if (label && label->textColor != static_cast<int32_t>(color)) setTextColor(pair.labelIndex, color);
}

LRESULT CALLBACK UiWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR reference) {
    try {
        if (message == WM_NCDESTROY) {
            RemoveSubclass(hwnd, WindowProc, kWindowSubclassId);
            return DefaultSubclassProc(hwnd, message, wParam, lParam);
        }
        return reinterpret_cast<UiWindow*>(reference)->handleMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        return DefaultSubclassProc(hwnd, message, wParam, lParam);
    }
}
