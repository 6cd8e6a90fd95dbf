#include <windows.h>
#include <commctrl.h>

#include "ui/Accessibility.h"
#include "ui/Subclass.h"
#include "ui/UiWindow.h"

namespace {

constexpr UINT_PTR kHookSubclassId = 1;

bool IsMouseButtonMessage(UINT message) {
    return message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK;
}

}  // namespace

LRESULT UiWindow::handleCommand(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    const int index = LOWORD(wParam);
    int notification = HIWORD(wParam);
    HWND sender = reinterpret_cast<HWND>(lParam);
    if (notification == 1 && !sender) notification = 0;  // an accelerator
    UiControl* c = slot(index);
    if (!c || index == 0) return DefaultSubclassProc(hwnd, WM_COMMAND, wParam, lParam);

    switch (c->kind) {
        case ControlKind::kEdit: {
            int32_t code = 0;
            switch (notification) {
                case EN_UPDATE:
                    code = kEventEditUpdate;
                    break;
                case EN_CHANGE:
                    code = kEventEditChange;
                    break;
                case EN_SETFOCUS:
                    code = kEventEditSetFocus;
                    break;
                case EN_KILLFOCUS:
                    code = kEventEditKillFocus;
                    break;
            }
            if (code) raise(hwnd, WM_COMMAND, code, index, lParam);
            return 0;
        }
        case ControlKind::kCheckBox:
            if (notification == 0 || notification == 1) {
                std::shared_ptr<CheckPair> pair = c->pair;
                if (!pair) return 0;
                setState(index, pair->state == kStateChecked ? kStateUnchecked : kStateChecked);
                raise(hwnd, WM_COMMAND, pair->labelIndex, notification, lParam);
            }
            return 0;
        case ControlKind::kRadioButton:
            if (notification == 0) {
                std::shared_ptr<CheckPair> pair = c->pair;
                if (!pair) return 0;
                if (pair->state != kStateChecked) setState(index, kStateChecked);
                raise(hwnd, WM_COMMAND, pair->labelIndex, notification, lParam);
            }
            return 0;
        case ControlKind::kLabel:
        case ControlKind::kIconImage:
        case ControlKind::kPicture:
            if (notification == STN_DBLCLK) {
                raise(hwnd, WM_COMMAND, kEventDoubleClick, index);
                return 0;
            }
            break;
        default:
            break;
    }
    if (notification == 0) {
        if (c->flags & kControlDragsWindow) dragWindow();
        raise(hwnd, WM_COMMAND, index, notification, lParam);
    }
    return 0;
}

LRESULT UiWindow::handleNotify(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    const int index = header ? indexOfHandle(header->hwndFrom) : 0;
    if (!index) return DefaultSubclassProc(hwnd, WM_NOTIFY, wParam, lParam);
    trackForeground(window);
    const ControlKind kind = controls[index].kind;
    HWND from = header->hwndFrom;
    switch (header->code) {
        case NM_CLICK:
        case NM_RETURN:
            if (kind == ControlKind::kLink) {
                const auto* link = reinterpret_cast<const NMLINK*>(lParam);
                textBuffer.Assign(link->item.szUrl);
                raise(hwnd, WM_NOTIFY, index, link->item.iLink, reinterpret_cast<intptr_t>(textBuffer.Text()));
            } else if (header->code == NM_RETURN) {
                raise(hwnd, WM_NOTIFY, kEventReturn, index);
            }
            break;
        case TCN_SELCHANGING:
            if (kind == ControlKind::kTab) {
                const int page = pageOfTabItem(from, static_cast<int>(SendMessageW(from, TCM_GETCURSEL, 0, 0)));
                shownTabPage = handleOf(page);
                raise(hwnd, WM_NOTIFY, kEventTabChanging, page);
            }
            break;
        case TCN_SELCHANGE:
            if (kind == ControlKind::kTab) {
                const int page = pageOfTabItem(from, static_cast<int>(SendMessageW(from, TCM_GETCURSEL, 0, 0)));
                HWND shown = handleOf(page);
                if (shown) placePageOverTab(shown, from, true);
                if (shownTabPage && shownTabPage != shown) ShowWindow(shownTabPage, SW_HIDE);
                shownTabPage = nullptr;
                raise(hwnd, WM_NOTIFY, kEventTabChanged, page);
            }
            break;
        case NM_DBLCLK:
            raise(hwnd, WM_NOTIFY, kEventDoubleClick, index);
            break;
        default:
            break;
    }
    return 0;
}

LRESULT UiWindow::handleControlColor(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool fromHook) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    HWND child = reinterpret_cast<HWND>(lParam);
    const int index = indexOfHandle(child);
    if (!index) return DefaultSubclassProc(hwnd, message, wParam, lParam);
    const UiControl& c = controls[index];
    if (c.textColor >= 0) SetTextColor(dc, static_cast<COLORREF>(c.textColor));

    if (message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX) {
        if (c.backColor >= 0) SetBkColor(dc, static_cast<COLORREF>(c.backColor));
        if (c.backBrush) return reinterpret_cast<LRESULT>(c.backBrush.Get());
        return DefaultSubclassProc(hwnd, message, wParam, lParam);
    }

    // Wine's SysLink deletes the brush it is handed once it has painted (Windows' does not), which would take the
    // window's own background brush with it: a link gets a solid copy of its own, made anew for every paint.
    if (c.kind == ControlKind::kLink && c.backColor != kBackNullBrush) {
        HBRUSH behind = c.backColor >= 0 ? nullptr
                        : fromHook       ? reinterpret_cast<HBRUSH>(GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND))
                                         : backgroundBehind(child, dc);
        LOGBRUSH solid = {};
        const bool known = c.backColor >= 0 || (behind && GetObjectW(behind, sizeof(solid), &solid) == sizeof(solid) &&
                                                solid.lbStyle == BS_SOLID);
        if (known) {
            const COLORREF colour = c.backColor >= 0 ? static_cast<COLORREF>(c.backColor) : solid.lbColor;
            SetBkMode(dc, TRANSPARENT);
            controls[index].backBrush.Reset(CreateSolidBrush(colour));
            return reinterpret_cast<LRESULT>(controls[index].backBrush.Get());
        }
    }
    const bool clearKind = c.kind == ControlKind::kLabel || c.kind == ControlKind::kPicture || c.isPair();
    if (c.backColor == kBackNullBrush || (fromHook && c.backColor < 0 && clearKind)) {
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    if (c.backColor == kBackTransparent) {
        SetBkMode(dc, TRANSPARENT);
    } else {
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, static_cast<COLORREF>(c.backColor));
    }
    if (c.backBrush) return reinterpret_cast<LRESULT>(c.backBrush.Get());
    if (fromHook) {
        if (auto brush = GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND)) return static_cast<LRESULT>(brush);
        return DefaultSubclassProc(hwnd, message, wParam, lParam);
    }
    if (HBRUSH behind = backgroundBehind(child, dc)) return reinterpret_cast<LRESULT>(behind);
    return DefaultSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK UiWindow::TabHookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR reference) {
    try {
        auto* self = reinterpret_cast<UiWindow*>(reference);
        switch (message) {
            // Controls on pages raise the same events as controls on the window.
            case WM_NOTIFY:
            case WM_CONTEXTMENU:
            case WM_COMMAND:
            case WM_HSCROLL:
            case WM_VSCROLL:
            case WM_MOUSEWHEEL:
                return self->handleMessage(hwnd, message, wParam, lParam);
            case WM_CLOSE:
                return 0;
            case WM_ERASEBKGND:
                if (self->eraseTabArea(hwnd, reinterpret_cast<HDC>(wParam))) return 1;
                break;
            case WM_CTLCOLOREDIT:
            case WM_CTLCOLORLISTBOX:
            case WM_CTLCOLORBTN:
            case WM_CTLCOLORSTATIC:
                return self->handleControlColor(hwnd, message, wParam, lParam, true);
            case WM_NCDESTROY:
                RemoveSubclass(hwnd, TabHookProc, kHookSubclassId);
                break;
            default:
                if (IsMouseButtonMessage(message)) return self->handleMessage(hwnd, message, wParam, lParam);
                break;
        }
    } catch (...) {
    }
    return DefaultSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK UiWindow::LabelFocusProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR reference) {
    try {
        auto* self = reinterpret_cast<UiWindow*>(reference);
        if (message == WM_SETFOCUS || message == WM_KILLFOCUS) {
            const int index = self->indexOfHandle(hwnd);
            const UiControl* c = self->control(index);
            if (c && c->pair)
                self->setTextColor(index, message == WM_SETFOCUS ? c->pair->hoverColor : c->pair->normalColor);
        } else if (message == WM_NCDESTROY) {
            RemoveSubclass(hwnd, LabelFocusProc, kHookSubclassId);
        }
    } catch (...) {
    }
    return DefaultSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK UiWindow::AccessibleProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR reference) {
    try {
        auto* self = reinterpret_cast<UiWindow*>(reference);
        switch (message) {
            case WM_GETOBJECT:
                // The object identifier arrives as a 32-bit value, not sign-extended in a 64-bit process.
                // https://learn.microsoft.com/windows/win32/winauto/wm-getobject
                if (static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT))
                    return self->answerGetObject(hwnd, wParam, lParam);
                break;
            case WM_TIMER:
                if (wParam == kAnnouncementTimer) {
                    self->announceDue(hwnd);
                    return 0;
                }
                break;
            case WM_NCDESTROY:
                KillTimer(hwnd, kAnnouncementTimer);
                RemoveSubclass(hwnd, AccessibleProc, kHookSubclassId);
                break;
            default:
                break;
        }
    } catch (...) {
    }
    return DefaultSubclassProc(hwnd, message, wParam, lParam);
}

UiWindow* UiWindow::accessibleOwner(HWND control) {
    DWORD_PTR reference = 0;
    if (!control || !QuerySubclass(control, AccessibleProc, kHookSubclassId, &reference)) return nullptr;
    return reinterpret_cast<UiWindow*>(reference);
}

void UiWindow::makeAccessible(int index) {
    if (const UiControl* c = control(index))
        InstallSubclass(c->handle, AccessibleProc, kHookSubclassId, reinterpret_cast<DWORD_PTR>(this));
}
