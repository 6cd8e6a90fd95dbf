#include "ui/UiMessageBox.h"

#include <algorithm>

#include "engine/Imaging.h"
#include "sys/TokenList.h"
#include "ui/Subclass.h"

namespace {

constexpr UINT_PTR kTipHookId = 0x7469;
constexpr int kNarrowestBox = 160;  // narrower requests get the standard width
constexpr int kStandardBoxWidth = 360;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 25;
constexpr int kTipMinimumHeight = 70;
constexpr int kTipStandardHeight = 75;
constexpr int kTipMinimumWidth = 200;
constexpr const wchar_t* kTipDefaultTitle = L"Information";

struct ButtonSpec {
    const wchar_t* caption;
    int x;
};

// The buttons of a modal box of client width w, first (default) button first.
int ButtonsFor(int boxType, int w, ButtonSpec (&out)[3]) {
    const int two = (w - 2 * kButtonWidth) / 3;
    const int three = (w - 3 * kButtonWidth) / 4;
    switch (boxType) {
        case kBoxOk:
            out[0] = {L"OK", w - 135};
            return 1;
        case kBoxYesNo:
            out[0] = {L"Yes", two};
            out[1] = {L"No", 2 * two + kButtonWidth};
            return 2;
        case kBoxOkCancel:
            out[0] = {L"OK", two};
            out[1] = {L"Cancel", 2 * two + kButtonWidth};
            return 2;
        case kBoxYesNoCancel:
            out[0] = {L"Yes", three};
            out[1] = {L"No", 2 * three + kButtonWidth};
            out[2] = {L"Cancel", 3 * three + 2 * kButtonWidth};
            return 3;
        default:
            return 0;
    }
}

// Black with a white border and a blue corner mark.
GdiplusImage TipBackground(int width, int height) {
    GdiplusImage canvas = CreateWorkingImage(width, height);
    if (!canvas) return canvas;
    GdiplusGraphics graphics(canvas);
    if (!graphics) return canvas;
    gdip::GdipGraphicsClear(graphics.Get(), 0xFF000000);
    Gdiplus::GpPen* pen = nullptr;
    if (gdip::GdipCreatePen1(0xFFFFFFFF, 2.0f, Gdiplus::UnitWorld, &pen) == kGpOk) {
        gdip::GdipDrawRectangleI(graphics.Get(), pen, 1, 1, width - 2, height - 2);
        gdip::GdipDeletePen(pen);
    }
    Gdiplus::GpSolidFill* brush = nullptr;
    if (gdip::GdipCreateSolidFill(0xFF6060FF, &brush) == kGpOk) {
        const Gdiplus::Point corner[] = {{0, 0}, {0, 32}, {32, 0}};
        gdip::GdipFillPolygonI(graphics.Get(), brush, corner, 3, Gdiplus::FillModeAlternate);
        gdip::GdipDeleteBrush(brush);
    }
    return canvas;
}

}  // namespace

UiMessageBox::UiMessageBox(UiEventSlot* ownerEvents) : ownerSlot(ownerEvents), window(ownerEvents) {}

int UiMessageBox::buttonIndex(int n) const {
    switch (n) {
        case 1:
            return button1;
        case 2:
            return button2;
        case 3:
            return button3;
        default:
            return -1;
    }
}

void UiMessageBox::bindTo(UiWindow* owner) {
    if (owner) {
        ownerSlot = owner->getSink();
        window.setSink(ownerSlot);
    } else {
        ownerSlot = window.getSink();
    }
}

HWND UiMessageBox::showMessage(UiWindow* owner, const wchar_t* text, int boxType, int height, int width) {
    if (!text) text = L"";
    if (window.window) {
        RemoveSubclass(window.window, TipHookProc, kTipHookId);
        window.destroy();
    }
    type = kBoxClosed;
    labelIndex = button1 = button2 = button3 = -1;
    if (boxType == kBoxTip) return showTip(owner, text, height, width);
    return showBox(owner, text, boxType, height, width);
}

HWND UiMessageBox::showBox(UiWindow* owner, const wchar_t* text, int boxType, int height, int width) {
    bindTo(owner);
    HWND parent = nullptr;
    if (owner && owner->window) {
        if (IsIconic(owner->window)) ShowWindow(owner->window, SW_RESTORE);
        if (IsWindowVisible(owner->window)) parent = owner->window;
    }
    type = boxType;
    const int w = width < kNarrowestBox ? kStandardBoxWidth : width;
    const int h = height;
    if (!window.create(kBoxClass, L"", w, h, -1, -1, static_cast<int32_t>(WS_POPUP), -1, parent)) {
        type = kBoxClosed;
        return nullptr;
    }
    window.setDefaultFont(9.0, FW_NORMAL);
    window.setDefaultTextColor(static_cast<int32_t>(textColor));
    window.paintFramedBackground(w, h, rimColor, innerColor, bandColor, cornerSize);
    UiWindow::centerWindow(window.window, parent);
    if (parent) owner->attachWindow(window.window);

    labelIndex = window.addLabel(text, 20, 20, w - 40, h - 65);
    ButtonSpec buttons[3] = {};
    const int buttonCount = ButtonsFor(boxType, w, buttons);
    int32_t* indexes[3] = {&button1, &button2, &button3};
    for (int i = 0; i < buttonCount; ++i) {
        const int32_t style = i == 0 ? static_cast<int32_t>(WS_VISIBLE | BS_DEFPUSHBUTTON) : -1;
        *indexes[i] = window.addButton(buttons[i].caption, buttons[i].x, h - 35, kButtonWidth, kButtonHeight, style);
    }
    window.show(SW_SHOW, kShowUpdate | kShowToFront | kShowActivate);
    if (button1 > 0) window.setState(button1, kStateFocus);
    return window.window;
}

HWND UiMessageBox::showTip(UiWindow* owner, const wchar_t* text, int height, int width) {
    if (!owner || !owner->window || !IsWindowVisible(owner->window) || IsIconic(owner->window)) return nullptr;
    bindTo(owner);
    const int h = height < kTipMinimumHeight ? kTipStandardHeight : height;
    const int w = std::max(width, kTipMinimumWidth);

    // A rounded owner's region starts inside its window rectangle; the tip follows its visible corner.
    RECT anchor = {};
    GetWindowRect(owner->window, &anchor);
    RECT regionBox = {};
    if (GetWindowRgnBox(owner->window, &regionBox) != ERROR) {
        anchor.left += regionBox.left;
        anchor.top += regionBox.top + 4;
    }

    TokenList parts;
    parts.Split(text, L"||", true);
    const wchar_t* body = parts.Item(0) ? parts.Item(0) : L"";
    const wchar_t* title = parts.Count() > 1 ? parts.Item(1) : kTipDefaultTitle;

    type = kBoxTip;
    const int32_t topmost = static_cast<int32_t>(GetWindowLongW(owner->window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    if (!window.create(kTipClass, title, w, h, anchor.left + 24, anchor.top + 16, static_cast<int32_t>(WS_POPUP),
                       topmost, owner->window)) {
        type = kBoxClosed;
        return nullptr;
    }
    owner->attachWindow(window.window);
    window.setDefaultFont(9.0, FW_NORMAL);
    window.setDefaultTextColor(0xFFFFFF);
    labelIndex = window.addLabel(body, 10, 35, w - 20, h - 45);

    // Measured on the label's own device context as it comes (its default font), and again in the label's font
    // that draws the text: where the default font is the narrower one (Wine's system font with Chinese text),
    // the first measure alone would cut the lines.
    TokenList lines;
    lines.Split(body, L"\r\n", true);
    int widest = 0, tallest = 0;
    if (HWND label = window.handleOf(labelIndex)) {
        WindowDc dc(label);
        auto measure = [&dc, &lines, &widest, &tallest] {
            for (int i = 0; i < lines.Count(); ++i) {
                const wchar_t* line = lines.Item(i);
                SIZE size = {};
                if (GetTextExtentPoint32W(dc.Get(), line, static_cast<int>(wcslen(line)), &size)) {
                    widest = std::max(widest, static_cast<int>(size.cx));
                    tallest = std::max(tallest, static_cast<int>(size.cy));
                }
            }
        };
        if (dc.Get()) {
            measure();
            if (HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0))) {
                SelectGuard selected(dc.Get(), font);
                measure();
            }
        }
    }
    const int lineCount = std::max(lines.Count(), 1);
    const int tipWidth = std::max(75, widest + 20);
    const int lineHeight = std::max(16, tallest);
    const int tipHeight = lineHeight * lineCount + 45;
    SetWindowPos(window.window, nullptr, 0, 0, tipWidth, tipHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (HWND label = window.handleOf(labelIndex))
        SetWindowPos(label, nullptr, 0, 0, tipWidth - 20, lineHeight * lineCount,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    if (GdiplusImage background = TipBackground(tipWidth, tipHeight))
        window.setBackgroundImage(background, tipWidth, tipHeight);

    const int titleIndex = window.addLabel(title, 35, 6, tipWidth - 35, 20);
    window.setFont(12.0, FW_NORMAL);

    ACCEL keys[] = {
        {FVIRTKEY, VK_ESCAPE, static_cast<WORD>(labelIndex)},
        {FVIRTKEY, VK_RETURN, static_cast<WORD>(titleIndex)},
    };
    window.accelerators.Reset(CreateAcceleratorTableW(keys, 2));

    window.show(SW_SHOWNOACTIVATE, kShowUpdate);
    InstallSubclass(window.window, TipHookProc, kTipHookId, reinterpret_cast<DWORD_PTR>(this));
    return window.window;
}

LRESULT CALLBACK UiMessageBox::TipHookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR reference) {
    try {
        auto* box = reinterpret_cast<UiMessageBox*>(reference);
        switch (message) {
            case WM_NCDESTROY:
                RemoveSubclass(hwnd, TipHookProc, kTipHookId);
                break;
            case WM_CONTEXTMENU:
            case WM_NCLBUTTONDOWN:
            case WM_NCLBUTTONDBLCLK:
            case WM_NCRBUTTONDOWN:
            case WM_NCRBUTTONDBLCLK:
            case WM_COMMAND:
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
            case WM_RBUTTONDOWN:
            case WM_RBUTTONDBLCLK:
                if (box->type != kBoxTip) break;
                box->closeMessage();
                return 0;
        }
    } catch (...) {
    }
    return DefaultSubclassProc(hwnd, message, wParam, lParam);
}

void UiMessageBox::closeMessage() {
    type = kBoxClosed;
    if (!ownerSlot) return;
    const UiEventSlot saved = *ownerSlot;
    if (window.window) {
        RemoveSubclass(window.window, TipHookProc, kTipHookId);
        window.destroy();
    }
    // Every queued message, also those that raise no event (a WM_CLOSE becomes the close request only when the
    // message it posts is taken in turn).
    int result;
    do {
        result = UiWindow::pumpEvent(*ownerSlot, kPumpPollAny);
        lastPump = result;
    } while (result != 0);
    const bool closeArrived = ownerSlot->closeRequested != 0;
    *ownerSlot = saved;
    if (closeArrived) ownerSlot->closeRequested = 1;
}

void UiMessageBox::dispose() {
    closeMessage();
    window.dispose();
}
