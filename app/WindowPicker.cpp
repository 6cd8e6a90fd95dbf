#include "app/WindowPicker.h"

#include <cstdint>
#include <cwchar>

#include "engine/WindowQueries.h"
#include "sys/SystemInfo.h"
#include "ui/Regions.h"
#include "ui/UiWindow.h"

namespace {

// The catcher's texts.
constexpr const wchar_t* kCatcherTitle = L"窗口捕获器";
constexpr const wchar_t* kChosenTitleCaption = L"选择的窗口标题:";
constexpr const wchar_t* kSmallIconCaption = L"小图标:";
constexpr const wchar_t* kLargeIconCaption = L"大图标:";
constexpr const wchar_t* kUntitled = L"(无标题)";
constexpr const wchar_t* kNoWindow = L"(未选择窗口)";

constexpr int kCatcherWidth = 400;
constexpr int kCatcherHeight = 200;
constexpr int kCatcherCorner = 6;
constexpr COLORREF kCatcherBackground = RGB(40, 40, 40);
constexpr COLORREF kCaptionColor = RGB(255, 255, 255);
constexpr COLORREF kFieldTextColor = RGB(0, 0, 0);
constexpr int kTitleUnits = 2048;
constexpr DWORD kPollMs = 10;
// Messages are handled at least this often while the pointer rests on one window, so every window keeps painting.
constexpr double kPumpIntervalMs = 3000;

// The catcher's controls, by index.
struct Catcher {
    UiWindow window;
    int field = 0;
    int smallView = 0;
    int largeView = 0;
};

bool BuildCatcher(Catcher& catcher, HWND owner) {
    UiWindow& w = catcher.window;
    if (!w.create(kCatcherClass, kCatcherTitle, kCatcherWidth, kCatcherHeight, -1, -1, static_cast<int32_t>(WS_POPUP),
                  static_cast<int32_t>(WS_EX_TOOLWINDOW | WS_EX_TOPMOST), owner))
        return false;
    // A rectangle is still a usable catcher when the rounded shape cannot be made.
    setRoundedRegion(w.window, kCatcherWidth, kCatcherHeight, kCatcherCorner);
    // White captions need a dark ground; the field keeps its own white one.
    w.setBackgroundColor(kCatcherBackground);
    w.setDefaultFont(12.0, 800);
    w.setDefaultTextColor(static_cast<int32_t>(kCaptionColor));
    const auto captionStyle = static_cast<int32_t>(WS_VISIBLE | SS_CENTER);
    const auto fieldStyle = static_cast<int32_t>(WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL);
    const bool captioned = w.addLabel(kChosenTitleCaption, 100, 10, 200, 24, captionStyle) != 0;
    catcher.field = w.addEdit(kNoWindow, 20, 40, 360, 24, fieldStyle);
    const bool labelled = w.addLabel(kSmallIconCaption, 50, 90, 100, 24, captionStyle) &&
                          w.addLabel(kLargeIconCaption, 250, 90, 100, 24, captionStyle);
    catcher.smallView = w.addIconImage(nullptr, 92, 130, 16, 16);
    catcher.largeView = w.addIconImage(nullptr, 284, 130, 32, 32);
    if (!captioned || !catcher.field || !labelled || !catcher.smallView || !catcher.largeView) return false;
    w.setTextColor(catcher.field, kFieldTextColor);
    w.setBackColor(catcher.field);
    return true;
}

bool ButtonHeld() {
    return (GetAsyncKeyState(VK_LBUTTON) & 0x8000) || (GetAsyncKeyState(VK_RBUTTON) & 0x8000);
}

// Esc is down, or was pressed since the last call: a tap between two polls counts too.
bool EscapePressed() {
    return (GetAsyncKeyState(VK_ESCAPE) & 0x8001) != 0;
}

// Shows the picker control again when the drag ends, however it ends.
class PickerHidden {
public:
    PickerHidden(UiWindow& owner, int index) : owner_(owner), index_(index) {
        wasShown_ = (owner_.getState(index_, kStateShow | kStateHide) & kStateShow) != 0;
        owner_.setState(index_, kStateHide);
    }
    ~PickerHidden() { ShowAgain(); }
    PickerHidden(const PickerHidden&) = delete;
    PickerHidden& operator=(const PickerHidden&) = delete;
    void ShowAgain() {
        if (wasShown_) owner_.setState(index_, kStateShow);
        wasShown_ = false;
    }

private:
    UiWindow& owner_;
    int index_;
    bool wasShown_ = false;
};

// How a drag ended: the window it ended over (null: none) and whether that one has an icon.
struct DragEnd {
    HWND last = nullptr;
    bool hasIcon = false;
    bool catcherLost = false;
    bool cancelled = false;
};

// Follows the cursor while the button is held; the catcher shows the title and icons of the window under it.
DragEnd FollowDrag(Catcher& catcher, SystemCursorGuard& cursors, const std::function<bool()>& held,
                   HighResTimer& timer) {
    DragEnd end;
    wchar_t title[kTitleUnits];
    HICON small = nullptr, large = nullptr;
    while (held()) {
        SleepEx(kPollMs, FALSE);
        if (timer.Elapsed() > kPumpIntervalMs) {
            PumpMessages();
            cursors.ShowIconAgain();
            timer.Start();
        }
        // The catcher can be closed from outside while the button is down; nothing is chosen then.
        if (!IsWindow(catcher.window.window)) {
            end.catcherLost = true;
            break;
        }
        if (EscapePressed()) {
            end.cancelled = true;
            break;
        }
        POINT point = {};
        HWND under = GetCursorPos(&point) ? WindowUnderPoint(point, catcher.window.window) : nullptr;
        if (under == end.last) continue;
        end.last = under;
        if (under) {
            title[0] = 0;
            GetWindowTextW(under, title, kTitleUnits);
            catcher.window.setText(catcher.field, title[0] ? title : kUntitled);
            small = GetWindowIcon(under, kIconSmall);
            large = GetWindowIcon(under, kIconBig);
        } else {
            catcher.window.setText(catcher.field, kNoWindow);
            small = large = nullptr;
        }
        catcher.window.setIcon(catcher.smallView, -1, small, 16);
        catcher.window.setIcon(catcher.largeView, -1, large, 32);
        PumpMessages();
        cursors.ShowIconAgain();
        timer.Start();
    }
    end.hasIcon = small || large;
    return end;
}

bool RunPicker(UiWindow& owner, int pickerIndex, int fieldIndex, const PickerSystem& system, HWND& pointed) {
    if (!owner.window || !owner.handleOf(pickerIndex) || !owner.handleOf(fieldIndex)) return false;
    Catcher catcher;
    if (!BuildCatcher(catcher, owner.window)) return false;

    auto icon = reinterpret_cast<HICON>(owner.sendMessage(pickerIndex, STM_GETICON, 0, 0));
    // Taken before the picker hides and the catcher shows: either may put another cursor up under the pointer, and
    // the one to put back is the one shown when the drag began.
    CursorCalls& calls = system.cursors ? *system.cursors : PlatformCursorCalls();
    SystemCursorGuard cursors(icon, calls);
    PickerHidden picker(owner, pickerIndex);
    catcher.window.show(SW_SHOW, kShowUpdate | kShowToFront);
    PumpMessages();

    const std::function<bool()>& held = system.buttonHeld ? system.buttonHeld : std::function<bool()>(ButtonHeld);

    HighResTimer timer;
    timer.Start();
    const WideString before(owner.getText(fieldIndex));
    owner.setText(fieldIndex, L"");
    EscapePressed();  // forgets a press from before the drag
    PumpMessages();
    cursors.ShowIconAgain();
    const DragEnd end = FollowDrag(catcher, cursors, held, timer);

    cursors.Restore();
    picker.ShowAgain();
    // A cancelled pick leaves the field as it was before the drag, and points at nothing.
    if (end.cancelled) {
        owner.setText(fieldIndex, before.Text());
        return false;
    }
    if (!end.catcherLost) pointed = end.last;
    const bool chosen = !end.catcherLost && end.last && end.hasIcon;
    if (chosen) owner.setText(fieldIndex, PickerResultText(end.last).Text());
    return chosen;
}

}  // namespace

WideString PickerResultText(HWND window) {
    wchar_t digits[16];
    swprintf(digits, 16, L"0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)));
    return WideString::Concat(kPickerMarker, digits);
}

HWND WindowOfPickerText(const WideString& text) {
    if (text.Length() <= kPickerMarkerLength + 2) return nullptr;
    WideString digits(text);
    digits.DropLeft(kPickerMarkerLength + 2);
    wchar_t* end = nullptr;
    const unsigned long value = wcstoul(digits.Text(), &end, 16);
    if (!end || *end != 0 || end == digits.Text()) return nullptr;
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(static_cast<int32_t>(value)));
}

bool PickWindow(UiWindow& owner, int pickerIndex, int fieldIndex, const PickerSystem& system, HWND* pointed) {
    HWND ended = nullptr;
    if (pointed) *pointed = nullptr;
    // Whatever a step throws, the guards have put cursors and picker back on the way out.
    try {
        const bool chosen = RunPicker(owner, pickerIndex, fieldIndex, system, ended);
        if (pointed) *pointed = ended;
        return chosen;
    } catch (...) {
        return false;
    }
}
