#include <windows.h>
#include <shellapi.h>
#include <windowsx.h>

#include <vector>

#include "engine/WindowQueries.h"
#include "ui/Subclass.h"
#include "ui/UiWindow.h"

// The toolkit's window procedure: one short switch that unpacks each message for its handler. A handler answers
// with a result, or with nothing to leave the message to the default procedure.
LRESULT UiWindow::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto param1 = static_cast<int32_t>(wParam);
    MessageResult result;
    switch (message) {
        case WM_MOVE:
            result = onPlainEvent(hwnd, message, kEventMoved, 0);
            break;
        case WM_SIZE:
            result = onSize(hwnd, static_cast<UINT>(wParam));
            break;
        case WM_ACTIVATE:
            result = onActivate(hwnd, message, LOWORD(wParam) != WA_INACTIVE);
            break;
        case WM_ACTIVATEAPP:
            result = onActivate(hwnd, message, wParam != 0);
            break;
        case WM_CLOSE:
            result = onClose(hwnd);
            break;
        case WM_QUERYENDSESSION:
        case WM_ENDSESSION:
            result = onSessionEnd(hwnd, message, lParam);
            break;
        case WM_ERASEBKGND:
            result = onEraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
            break;
        case WM_SETCURSOR:
            return handleSetCursor(hwnd, wParam, lParam);
        case WM_GETMINMAXINFO:
            result = onGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
            break;
        case WM_NEXTDLGCTL:
        case WM_GETDLGCODE:
        case WM_INITDIALOG:
        case WM_ENTERIDLE:
        case WM_CTLCOLORDLG:
            return DefDlgProcW(hwnd, message, wParam, lParam);
        case WM_WINDOWPOSCHANGING:
            result = onPositionChanging(hwnd, reinterpret_cast<const WINDOWPOS*>(lParam));
            break;
        case WM_SIZING:
            result = onSizing(hwnd);
            break;
        case WM_WINDOWPOSCHANGED:
            result = onPositionChanged(hwnd, reinterpret_cast<const WINDOWPOS*>(lParam));
            break;
        case WM_NOTIFY:
            return handleNotify(hwnd, wParam, lParam);
        case WM_CONTEXTMENU:
            result = onContextMenu(hwnd, reinterpret_cast<HWND>(wParam));
            break;
        case WM_NCCALCSIZE:
            result = onNcCalcSize(hwnd, wParam != FALSE);
            break;
        case WM_NCPAINT:
            result = onNcPaint(hwnd);
            break;
        case WM_NCACTIVATE:
            result = onNcActivate(hwnd, wParam != FALSE);
            break;
        case WM_NCLBUTTONDOWN:
            result = onPlainEvent(hwnd, message, kEventNcLeftDown, param1);
            break;
        case WM_NCLBUTTONUP:
            result = onPlainEvent(hwnd, message, kEventNcLeftUp, param1);
            break;
        case WM_NCLBUTTONDBLCLK:
            result = onPlainEvent(hwnd, message, kEventNcDoubleClick, param1);
            break;
        case WM_CHAR:
            result = onChar(hwnd, param1, lParam);
            break;
        case WM_COMMAND:
            return handleCommand(hwnd, wParam, lParam);
        case WM_SYSCOMMAND:
            result = onSysCommand(hwnd, static_cast<UINT>(wParam & 0xFFF0));
            break;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            return handleControlColor(hwnd, message, wParam, lParam, false);
        case WM_MOUSEMOVE:
            result = onMouseMove(hwnd, param1, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            break;
        case WM_LBUTTONDOWN:
            result = onLeftButtonDown(hwnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            break;
        case WM_LBUTTONUP:
            result = onPlainEvent(hwnd, message, kEventLeftUp, param1);
            break;
        case WM_LBUTTONDBLCLK:
            result = onPlainEvent(hwnd, message, kEventDoubleClick, hoveredControl);
            break;
        case WM_RBUTTONDOWN:
            result = onPlainEvent(hwnd, message, kEventRightDown, param1);
            break;
        case WM_RBUTTONUP:
            result = onPlainEvent(hwnd, message, kEventRightUp, param1);
            break;
        case WM_RBUTTONDBLCLK:
            result = onPlainEvent(hwnd, message, kEventRightDoubleClick, hoveredControl);
            break;
        case WM_MOUSEWHEEL:
            result = onPlainEvent(hwnd, message, kEventMouseWheel, param1);
            break;
        case WM_ENTERMENULOOP:
            result = onPlainEvent(hwnd, message, kEventEnterMenuLoop, 0);
            break;
        case WM_EXITMENULOOP:
            result = onPlainEvent(hwnd, message, kEventExitMenuLoop, 0);
            break;
        case WM_MOVING:
            onPlainEvent(hwnd, message, kEventMoving, 0);
            result = TRUE;
            break;
        case WM_DEVICECHANGE:
            result = onPlainEvent(hwnd, message, kEventDeviceChange, param1);
            break;
        case WM_EXITSIZEMOVE:
            result = onExitSizeMove(hwnd);
            break;
        case WM_DROPFILES:
            handleDrop(hwnd, reinterpret_cast<HDROP>(wParam));
            result = 0;
            break;
        case WM_NCMOUSELEAVE:
            result = onPlainEvent(hwnd, message, kEventNcMouseLeave, param1);
            break;
        case WM_USER:  // DM_GETDEFID: how IsDialogMessageW finds the button that Enter presses
            result = defaultButton ? kDefaultIdAnswer + LOWORD(defaultButton) : 0;
            break;
    }
    return result ? *result : DefaultSubclassProc(hwnd, message, wParam, lParam);
}

UiWindow::MessageResult UiWindow::onPlainEvent(HWND hwnd, UINT message, int32_t code, int32_t param1) {
    raise(hwnd, message, code, param1);
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onSize(HWND hwnd, UINT kind) {
    raise(hwnd, WM_SIZE, kEventSized);
    if (kind != SIZE_RESTORED && kind != SIZE_MAXIMIZED) return std::nullopt;
    trackForeground(window);
    layoutPass();
    return 0;
}

UiWindow::MessageResult UiWindow::onActivate(HWND hwnd, UINT message, bool activating) {
    if (hwnd != window) return std::nullopt;
    if (activating) {
        if (count > 1 && hoveredControl) setHoverLook(hoveredControl, false);
        trackForeground(window);
    } else {
        trackForeground(nullptr);
    }
    hoveredControl = 0;
    raise(hwnd, message, activating ? kEventActivated : kEventDeactivated);
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onClose(HWND hwnd) {
    PostMessageW(hwnd, kCloseMessage, 0, 0);
    return 0;
}

UiWindow::MessageResult UiWindow::onSessionEnd(HWND hwnd, UINT message, LPARAM lParam) {
    const bool query = message == WM_QUERYENDSESSION;
    raise(hwnd, message, kEventSessionEnd, query ? static_cast<int32_t>(lParam) : 0);
    return query ? FALSE : 0;
}

UiWindow::MessageResult UiWindow::onEraseBackground(HWND hwnd, HDC dc) {
    if (backgroundMode == kBackgroundDefaultErase) return std::nullopt;
    eraseBackground(hwnd, dc);
    return 1;
}

UiWindow::MessageResult UiWindow::onGetMinMaxInfo(MINMAXINFO* info) {
    if (minTrackWidth + minTrackHeight != 0) info->ptMinTrackSize = POINT{minTrackWidth, minTrackHeight};
    if (maxTrackWidth + maxTrackHeight != 0) info->ptMaxTrackSize = POINT{maxTrackWidth, maxTrackHeight};
    return 0;
}

UiWindow::MessageResult UiWindow::onPositionChanging(HWND hwnd, const WINDOWPOS* position) {
    if (hwnd != window) return std::nullopt;
    RECT current;
    if (!(position->flags & SWP_NOMOVE) && GetWindowRect(window, &current)) {
        POINT origin = {current.left, current.top};
        if (HWND parent = GetAncestor(window, GA_PARENT); GetWindowLongW(window, GWL_STYLE) & WS_CHILD)
            ScreenToClient(parent, &origin);
        const int dx = position->x - origin.x;
        const int dy = position->y - origin.y;
        if (dx || dy) moveAttached(dx, dy);
    }
    raise(hwnd, WM_WINDOWPOSCHANGING, kEventPositionChanging);
    return 0;
}

UiWindow::MessageResult UiWindow::onSizing(HWND hwnd) {
    raise(hwnd, WM_SIZING, kEventPositionChanging);
    return 0;
}

UiWindow::MessageResult UiWindow::onPositionChanged(HWND hwnd, const WINDOWPOS* position) {
    trackForeground(window);
    if (!(position->flags & SWP_NOSIZE)) {
        layoutPass();
        if (backgroundMode == kBackgroundStretchedBitmap) InvalidateRect(hwnd, nullptr, TRUE);
        raise(hwnd, WM_WINDOWPOSCHANGED, kEventSized);
    }
    return 0;
}

UiWindow::MessageResult UiWindow::onContextMenu(HWND hwnd, HWND target) {
    const int index = indexOfHandle(target);
    hoveredControl = index;
    raise(hwnd, WM_CONTEXTMENU, kEventContextMenu, index);
    return 0;
}

// A frameless window keeps the whole proposed window rectangle as its client area.
// https://learn.microsoft.com/windows/win32/winmsg/wm-nccalcsize
UiWindow::MessageResult UiWindow::onNcCalcSize(HWND hwnd, bool validRects) {
    if (hwnd == window && framelessInset == 1 && validRects) return WVR_VALIDRECTS | WVR_REDRAW;
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onNcPaint(HWND hwnd) {
    if (hwnd == window && framelessInset == 1) return 0;
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onNcActivate(HWND hwnd, bool activating) {
    trackForeground(activating ? window : nullptr);
    if (hwnd == window && framelessInset == 1) return TRUE;
    raise(hwnd, WM_NCACTIVATE, activating ? kEventNcActivating : kEventNcDeactivating);
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onChar(HWND hwnd, int32_t character, LPARAM keyData) {
    trackForeground(window);
    raise(hwnd, WM_CHAR, kEventChar, character, keyData);
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onSysCommand(HWND hwnd, UINT command) {
    if (popupWindow) {
        if (IsWindow(popupWindow)) DestroyWindow(popupWindow);
        popupWindow = nullptr;
    }
    switch (command) {
        case SC_CLOSE:
            // The default procedure would send WM_CLOSE, which posts the close message a second time.
            PostMessageW(hwnd, kCloseMessage, 0, 0);
            return 0;
        case SC_MOVE:
            raise(hwnd, WM_SYSCOMMAND, kEventMoving);
            break;
        case SC_MINIMIZE:
            raise(hwnd, WM_SYSCOMMAND, kEventMinimize);
            break;
        case SC_MAXIMIZE:
            raise(hwnd, WM_SYSCOMMAND, kEventMaximize);
            break;
        case SC_RESTORE:
            raise(hwnd, WM_SYSCOMMAND, kEventRestore);
            break;
    }
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onMouseMove(HWND hwnd, int32_t keys, POINT point) {
    mouseX = point.x;
    mouseY = point.y;
    mouseKeys = keys;
    raise(hwnd, WM_MOUSEMOVE, kEventMouseMove, mouseKeys);
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onLeftButtonDown(HWND hwnd, POINT point) {
    trackForeground(window);
    const UiControl* c = control(indexOfHandle(ChildWindowAtPoint(hwnd, point)));
    // The move loop raises events of its own; the click must be the one the application reads.
    if (c && (c->flags & kControlDragsWindow)) dragWindow();
    raise(hwnd, WM_LBUTTONDOWN, kEventLeftDown);
    return std::nullopt;
}

UiWindow::MessageResult UiWindow::onExitSizeMove(HWND hwnd) {
    layoutPass();
    for (int index = 1; index <= count; ++index) {
        const UiControl* c = control(index);
        if (c && c->handle && (c->flags & kControlRepaintParent)) invalidateInParent(c->handle);
    }
    raise(hwnd, WM_EXITSIZEMOVE, kEventMoved);
    return 0;
}

LRESULT UiWindow::handleSetCursor(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    HWND under = reinterpret_cast<HWND>(wParam);
    const int index = indexOfHandle(under);
    bool cursorSet = false;
    if (cursor && under == window && LOWORD(lParam) == HTCLIENT) {
        SetCursor(cursor);
        cursorSet = true;
    } else if (const UiControl* c = control(index); c && c->cursor) {
        SetCursor(c->cursor);
        cursorSet = true;
    }
    if (index != hoveredControl) {
        if (hoveredControl) setHoverLook(hoveredControl, false);
        if (index) setHoverLook(index, true);
    }
    hoveredControl = index;
    raise(hwnd, WM_SETCURSOR, kEventHover, index);
    return cursorSet ? TRUE : DefaultSubclassProc(hwnd, WM_SETCURSOR, wParam, lParam);
}

void UiWindow::handleDrop(HWND hwnd, HDROP drop) {
    trackForeground(window);
    dropHandle = drop;
    POINT point = {};
    if (!DragQueryPoint(drop, &point)) {
        DragFinish(drop);
        dropHandle = nullptr;
        return;
    }
    dropPoint = point;
    textBuffer.Clear();
    const UINT files = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<wchar_t> name(2048);
    for (UINT i = 0; i < files; ++i) {
        name[0] = 0;
        DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size()));
        if (i > 0) textBuffer.Append(L"\r\n");
        textBuffer.Append(name.data());
    }
    DragFinish(drop);
    dropHandle = nullptr;
    HWND child = ChildWindowAtPoint(hwnd, point);
    int target = indexOfHandle(child);
    if (!target && child && child != hwnd) target = indexOfHandle(GetParent(child));
    raise(hwnd, WM_DROPFILES, kEventFilesDropped, target, reinterpret_cast<intptr_t>(textBuffer.Text()));
}
