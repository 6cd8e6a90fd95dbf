#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "ui/UiWindow.h"

namespace {

constexpr uint32_t kAnchorLeft = 0x0001;
constexpr uint32_t kAnchorRight = 0x0002;
constexpr uint32_t kHCentreOffset = 0x0004;
constexpr uint32_t kHCentreProportional = 0x0008;
constexpr uint32_t kAnchorTop = 0x0010;
constexpr uint32_t kAnchorBottom = 0x0020;
constexpr uint32_t kVCentreOffset = 0x0040;
constexpr uint32_t kVCentreProportional = 0x0080;
constexpr uint32_t kScaleWidth = 0x0100;
constexpr uint32_t kScaleHeight = 0x0200;
constexpr uint32_t kHPositionProportional = 0x2000;
constexpr uint32_t kVPositionProportional = 0x4000;
// A check box or radio button keeps its size: only anchoring and the painting bits stay.
constexpr uint32_t kPairRules = kAnchorLeft | kAnchorRight | kHCentreOffset | kAnchorTop | kAnchorBottom |
                                kVCentreOffset | kControlNoErase | kControlFlickerFree;
constexpr int kUpDownWidth = 20;

// The rules of one axis.
struct AxisRules {
    uint32_t anchorNear, anchorFar, centreOffset, centreProportional, scale, positionProportional;
};
constexpr AxisRules kHorizontal = {kAnchorLeft,          kAnchorRight, kHCentreOffset,
                                   kHCentreProportional, kScaleWidth,  kHPositionProportional};
constexpr AxisRules kVertical = {kAnchorTop,           kAnchorBottom, kVCentreOffset,
                                 kVCentreProportional, kScaleHeight,  kVPositionProportional};

struct Span {
    int position = 0, length = 0;
};

// Where the rules put a design span (position, length, against `reference`) in a client of `client`; false
// when a rule would divide by zero, and the control then stays where it is.
bool PlaceSpan(uint32_t flags, const AxisRules& axis, Span design, int reference, int client, Span current,
               Span& placed) {
    const bool needsReference = (flags & (axis.scale | axis.positionProportional | axis.centreProportional)) != 0;
    if (needsReference && reference == 0) return false;
    placed.length = (flags & axis.scale) ? client * design.length / reference : design.length;
    if (flags & axis.positionProportional) {
        placed.position = design.position * client / reference;
    } else if (flags & axis.centreProportional) {
        const int centre = design.position + design.length / 2;
        if (centre == 0) return false;
        const int divisor = reference * 1000 / centre;
        if (divisor == 0) return false;
        placed.position = client * 1000 / divisor - placed.length / 2;
    } else if (flags & axis.centreOffset) {
        placed.position = design.position + design.length / 2 - placed.length / 2 + client / 2 - reference / 2;
    } else if (flags & axis.anchorFar) {
        const int offset = design.length + client - placed.length - reference;
        if (flags & axis.anchorNear) {
            placed.position = design.position;
            placed.length += offset;
        } else {
            placed.position = design.position + offset;
        }
    } else if (flags & axis.anchorNear) {
        placed.position = design.position;
    } else {
        placed = current;
    }
    return true;
}

RECT RectInParent(HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Moves windows together when they are direct children of the window, one by one otherwise; remembers whether
// every move went through.
class Placer {
public:
    Placer(HWND window, int count) : window_(window), batch_(BeginDeferWindowPos(count + 1)) {}
    ~Placer() {
        if (batch_) EndDeferWindowPos(batch_);
    }
    Placer(const Placer&) = delete;
    Placer& operator=(const Placer&) = delete;

    void place(HWND control, int x, int y, int width, int height) {
        constexpr UINT kFlags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (batch_ && GetParent(control) == window_) {
            batch_ = DeferWindowPos(batch_, control, nullptr, x, y, width, height, kFlags);
            if (!batch_) ok_ = false;  // the system has freed the batch
        } else {
            SetWindowPos(control, nullptr, x, y, width, height, kFlags);
        }
    }
    bool finish() {
        const bool done = batch_ && EndDeferWindowPos(batch_) && ok_;
        batch_ = nullptr;
        return done;
    }

private:
    HWND window_;
    HDWP batch_;
    bool ok_ = true;
};

}  // namespace

uint32_t UiWindow::setResizeDefaults(uint32_t resizeFlags) {
    const uint32_t previous = resizeDefaults;
    resizeDefaults = (resizeFlags & kControlFlickerFree) ? resizeFlags | kControlNoErase : resizeFlags;
    return previous;
}

void UiWindow::setResizing(uint32_t resizeFlags) {
    const UiControl* last = control(-1);
    if (!last) return;
    std::vector<int> parts = {count};
    if (last->isPair() && last->pair) {
        resizeFlags &= kPairRules;
        if (resizeFlags & kAnchorLeft) resizeFlags &= ~kAnchorRight;
        if (resizeFlags & kAnchorTop) resizeFlags &= ~kAnchorBottom;
        parts = {last->pair->imageIndex, last->pair->labelIndex};
    }
    for (int index : parts) {
        UiControl* c = slot(index);
        if (!c) continue;
        uint32_t own = resizeFlags;
        if (c->kind == ControlKind::kProgress) own &= ~(kControlNoErase | kControlFlickerFree);
        if (own & kControlFlickerFree) own |= kControlNoErase;
        setFlickerFree(index, (own & kControlFlickerFree) != 0);
        c->flags = own;
        const RECT rect = RectInParent(c->handle);
        c->designX = rect.left;
        c->designY = rect.top;
        c->designWidth = rect.right - rect.left;
        c->designHeight = rect.bottom - rect.top;
        RECT parentClient = {};
        GetClientRect(GetParent(c->handle), &parentClient);
        c->refWidth = parentClient.right;
        c->refHeight = parentClient.bottom;
    }
}

bool UiWindow::layoutPass() {
    RECT client;
    if (!window || count == 0 || (GetWindowLongW(window, GWL_STYLE) & WS_MINIMIZE) || !GetClientRect(window, &client))
        return false;
    if (client.right == lastClientSize.right && client.bottom == lastClientSize.bottom) return false;
    lastClientSize = RECT{0, 0, client.right, client.bottom};
    newClientSize = lastClientSize;
    const int width = client.right, height = client.bottom;

    Placer placer(window, count);
    std::vector<int> pages, upDownEdits, repaints;
    for (int index = 1; index <= count; ++index) {
        const UiControl* c = control(index);
        if (!c || !c->handle || c->kind == ControlKind::kUpDown || !(c->flags & kResizeLayoutMask)) continue;
        if (c->kind == ControlKind::kTabPage) {
            pages.push_back(index);
            continue;
        }
        const bool pair = c->isPair();
        if (pair && (!c->pair || c->pair->labelIndex != index)) continue;  // the label part carries the pair

        // A pair is one unit that starts where its square image starts: the label's x minus its height.
        const RECT now = RectInParent(c->handle);
        const int nowHeight = now.bottom - now.top;
        const int unitX = pair ? c->designX - c->designHeight : c->designX;
        const Span currentX = {pair ? now.left - nowHeight : now.left, now.right - now.left};
        const Span currentY = {now.top, nowHeight};
        Span x, y;
        if (!PlaceSpan(c->flags, kHorizontal, {unitX, c->designWidth}, c->refWidth, width, currentX, x) ||
            !PlaceSpan(c->flags, kVertical, {c->designY, c->designHeight}, c->refHeight, height, currentY, y))
            continue;

        if (pair) {
            if (HWND image = handleOf(c->pair->imageIndex))
                placer.place(image, x.position, y.position, y.length, y.length);
            placer.place(c->handle, x.position + y.length, y.position, x.length, y.length);
        } else {
            placer.place(c->handle, x.position, y.position, x.length, y.length);
        }
        if (c->kind == ControlKind::kEdit && c->upDown) {
            if (HWND upDown = handleOf(c->upDown)) {
                const bool right = (GetWindowLongW(upDown, GWL_STYLE) & UDS_ALIGNRIGHT) != 0;
                placer.place(upDown, right ? x.position + x.length - kUpDownWidth : x.position, y.position,
                             kUpDownWidth, y.length);
                upDownEdits.push_back(index);
            }
        }
        if (c->flags & kControlRepaintParent) {
            invalidateInParent(c->handle);
            repaints.push_back(index);
        }
    }
    const bool moved = placer.finish();

    // The up-down binds to its edit again where the edit now is.
    for (int edit : upDownEdits)
        sendMessage(controls[edit].upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(controls[edit].handle), 0);
    for (int index : repaints)
        invalidateInParent(controls[index].handle);
    for (int page : pages) {
        const UiControl& c = controls[page];
        if (c.ownerTab && IsWindow(c.ownerTab)) placePageOverTab(c.handle, c.ownerTab, false);
    }
    return moved;
}
