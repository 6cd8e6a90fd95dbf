#include <windows.h>

#include <algorithm>
#include <vector>

#include "ui/UiWindow.h"

// Tab, the arrow keys, Enter and Esc are handled here before the dialog manager sees them. IsDialogMessageW orders
// tab stops by creation (z-order), makes every radio button a stop of its own and turns Enter without a default
// button and Esc into IDOK and IDCANCEL commands "from" whatever control has the identifier 1 or 2.
// https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-isdialogmessagew

namespace {

struct Placed {
    int index;
    RECT rect;
};

bool WantsKey(HWND focus, const MSG& msg, LRESULT codes) {
    const LRESULT answer = SendMessageW(focus, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
    return (answer & codes) != 0;
}

bool Usable(HWND control) {
    return IsWindowVisible(control) && IsWindowEnabled(control);
}

}  // namespace

std::vector<int> UiWindow::tabStops() const {
    std::vector<Placed> placed;
    for (int index = 1; index <= count; ++index) {
        const UiControl* c = control(index);
        if (!c || !c->handle || c->kind == ControlKind::kTabPage) continue;
        if (!(GetWindowLongW(c->handle, GWL_STYLE) & WS_TABSTOP) || !Usable(c->handle)) continue;
        if (c->kind == ControlKind::kRadioButton && groupStop(index) != index) continue;
        RECT rect;
        if (GetWindowRect(c->handle, &rect)) placed.push_back({index, rect});
    }
    // Rows: two controls stand in one row when each one's vertical centre lies within the other's height, so a field
    // and the button beside it, a pixel apart, read as one line, and a tall control (the tab) forms a row alone.
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Placed& a, const Placed& b) { return a.rect.top < b.rect.top; });
    std::vector<int> order;
    for (size_t rowStart = 0; rowStart < placed.size();) {
        const RECT& first = placed[rowStart].rect;
        size_t rowEnd = rowStart + 1;
        while (rowEnd < placed.size()) {
            const RECT& next = placed[rowEnd].rect;
            const LONG nextCentre = (next.top + next.bottom) / 2, firstCentre = (first.top + first.bottom) / 2;
            if (nextCentre >= first.bottom || firstCentre < next.top || firstCentre >= next.bottom) break;
            ++rowEnd;
        }
        std::stable_sort(placed.begin() + static_cast<std::ptrdiff_t>(rowStart),
                         placed.begin() + static_cast<std::ptrdiff_t>(rowEnd),
                         [](const Placed& a, const Placed& b) { return a.rect.left < b.rect.left; });
        for (size_t i = rowStart; i < rowEnd; ++i)
            order.push_back(placed[i].index);
        rowStart = rowEnd;
    }
    return order;
}

int UiWindow::groupStop(int label) const {
    const UiControl* c = control(label);
    if (!c || !c->pair) return label;
    int firstUsable = 0;
    for (int member : radioGroup(*c->pair)) {
        if (!Usable(controls[member].handle)) continue;
        if (controls[member].pair->state == kStateChecked) return member;
        if (!firstUsable) firstUsable = member;
    }
    return firstUsable ? firstUsable : label;
}

void UiWindow::focusControl(int index) {
    const UiControl* c = control(index);
    if (!c) return;
    SetFocus(c->handle);
    // As the dialog manager does: a field reached by keyboard has its whole text selected, ready to be typed over.
    if (c->kind == ControlKind::kEdit) SendMessageW(c->handle, EM_SETSEL, 0, -1);
}

void UiWindow::clickControl(int index) {
    const UiControl* c = control(index);
    if (!c) return;
    HWND handle = c->handle;
    SendMessageW(GetParent(handle), WM_COMMAND, MAKEWPARAM(index, 0), reinterpret_cast<LPARAM>(handle));
}

bool UiWindow::handleNavigationKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || !window) return false;
    HWND focus = msg.hwnd;
    if (focus != window && !IsChild(window, focus)) return false;
    const bool ctrl = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
    if (ctrl || alt) return false;
    int index = indexOfHandle(focus);
    const UiControl* focused = control(index);
    if (focused && focused->isPair() && focused->pair) index = focused->pair->labelIndex;

    switch (msg.wParam) {
        case VK_ESCAPE:
            // Nothing on a page is cancelled by Esc; a window that closes on it says so with an accelerator.
            return !WantsKey(focus, msg, DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
        case VK_RETURN: {
            if (WantsKey(focus, msg, DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) return false;
            if (focused && focused->kind == ControlKind::kButton) {
                clickControl(index);
                return true;
            }
            // With a default button the dialog manager presses it; without one there is nothing to press.
            return defaultButton == 0 || !control(defaultButton);
        }
        case VK_TAB: {
            if (WantsKey(focus, msg, DLGC_WANTTAB | DLGC_WANTALLKEYS)) return false;
            const std::vector<int> stops = tabStops();
            if (stops.empty()) return true;
            const bool back = GetKeyState(VK_SHIFT) < 0;
            const int at = focused && focused->kind == ControlKind::kRadioButton ? groupStop(index) : index;
            const auto found = std::find(stops.begin(), stops.end(), at);
            const int size = static_cast<int>(stops.size());
            int next;
            if (found == stops.end())
                next = back ? size - 1 : 0;
            else
                next = (static_cast<int>(found - stops.begin()) + (back ? size - 1 : 1)) % size;
            focusControl(stops[static_cast<size_t>(next)]);
            return true;
        }
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN: {
            if (!focused || !focused->isPair() || !focused->pair) return false;
            if (focused->kind == ControlKind::kCheckBox) return true;
            // Arrows move the check along the radio group, as a group of radio buttons is one choice.
            std::vector<int> group = radioGroup(*focused->pair);
            group.erase(std::remove_if(
                            group.begin(), group.end(),
                            [this, index](int member) { return member != index && !Usable(controls[member].handle); }),
                        group.end());
            const auto found = std::find(group.begin(), group.end(), index);
            if (found == group.end()) return true;
            const int size = static_cast<int>(group.size());
            const bool back = msg.wParam == VK_LEFT || msg.wParam == VK_UP;
            const int next =
                group[static_cast<size_t>((static_cast<int>(found - group.begin()) + (back ? size - 1 : 1)) % size)];
            focusControl(next);
            clickControl(next);
            return true;
        }
        default:
            return false;
    }
}
