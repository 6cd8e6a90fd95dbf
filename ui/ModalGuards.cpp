#include "ui/ModalGuards.h"

#include "ui/UiWindow.h"

ControlFreeze::~ControlFreeze() {
    unfreeze();
}

template <typename Change>
void ControlFreeze::withoutRedraw(Change change) {
    HWND handle = window->window;
    const bool visible = handle && IsWindowVisible(handle);
    if (visible) SendMessageW(handle, WM_SETREDRAW, FALSE, 0);
    change();
    if (visible) {
        SendMessageW(handle, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
}

void ControlFreeze::drain() {
    while (UiWindow::pumpEvent(*window->getSink(), kPumpPoll) != 0) {
    }
}

void ControlFreeze::freeze(UiWindow* target, int firstIndex, int lastIndex) {
    if (!target) return;
    if (lastIndex < firstIndex) lastIndex = firstIndex;
    if (lastIndex > target->controlCount()) lastIndex = target->controlCount();
    if (window == target && first == firstIndex && last == lastIndex) return;
    unfreeze();
    if (firstIndex < 1 || firstIndex > target->controlCount()) return;

    window = target;
    first = firstIndex;
    last = lastIndex;
    skipIndex = 0;
    focusIndex = target->indexOfHandle(GetFocus());
    wasEnabled.assign(static_cast<size_t>(last - first + 1), 0);
    withoutRedraw([this] {
        for (int index = first; index <= last; ++index) {
            const ControlKind kind = window->kindOf(index);
            if (kind == ControlKind::kNone || kind == ControlKind::kLabel) continue;
            const bool enabled = window->getState(index, kStateEnable | kStateDisable) == kStateEnable;
            wasEnabled[static_cast<size_t>(index - first)] = enabled ? 1 : 0;
            if (enabled) window->setState(index, kStateDisable);
        }
    });
    // A focus outside the range stays usable, so there is nothing to give back.
    if (focusIndex && window->getState(focusIndex, kStateEnable | kStateDisable) == kStateEnable) focusIndex = 0;
    drain();
}

void ControlFreeze::unfreeze() {
    if (!window) return;
    withoutRedraw([this] {
        for (int index = first; index <= last; ++index) {
            if (!wasEnabled[static_cast<size_t>(index - first)] || index == skipIndex) continue;
            const ControlKind kind = window->kindOf(index);
            if (kind == ControlKind::kNone || kind == skipKind) continue;
            window->setState(index, kStateEnable);
        }
    });
    drain();
    wasEnabled.clear();
    if (focusIndex > 0) window->setState(focusIndex, kStateFocus);
    window = nullptr;
    skipIndex = -1;
    focusIndex = first = last = 0;
}

void OwnerLock::lock(HWND owner) {
    release();
    if (!owner) return;
    window = owner;
    wasEnabled = IsWindowEnabled(owner) ? 1 : 0;
    EnableWindow(owner, FALSE);
}

void OwnerLock::release() {
    if (!window) return;
    const bool enabled = IsWindowEnabled(window) != FALSE;
    if (enabled != (wasEnabled != 0)) {
        EnableWindow(window, wasEnabled ? TRUE : FALSE);
        if (wasEnabled) BringWindowToTop(window);
    }
    window = nullptr;
    wasEnabled = 1;
}
