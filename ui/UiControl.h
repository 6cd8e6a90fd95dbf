#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "sys/Handles.h"
#include "sys/WideString.h"

// Kinds of the controls the toolkit makes; the numbers are part of the event contract with the application.
enum class ControlKind : int32_t {
    kNone = 0,
    kButton = 3,
    kIconImage = 11,
    kEdit = 12,
    kLabel = 13,
    kPicture = 19,
    kProgress = 20,
    kTab = 25,
    kTabPage = 26,
    kUpDown = 30,
    kLink = 31,
    kCheckBox = 35,
    kRadioButton = 36,
};

// Bits of setState and getState. Within each pair the first-named bit wins.
enum ControlState : uint32_t {
    kStateHide = 1,
    kStateShow = 2,
    kStateChecked = 4,
    kStateUnchecked = 8,
    kStateIndeterminate = 16,
    kStateEnable = 32,
    kStateDisable = 64,
    kStateFocus = 128,
    kStateDefocus = 256,
};

// Control flag bits beside the resizing rules.
constexpr uint32_t kControlNoErase = 0x400;         // excluded from the window's background erase
constexpr uint32_t kControlFlickerFree = 0x800;     // paints through an off-screen bitmap
constexpr uint32_t kControlDragsWindow = 0x1000;    // a click on the control moves the window
constexpr uint32_t kControlRepaintParent = 0x8000;  // the parent area under the control repaints after each move
// Resizing bits that make a control take part in the layout pass.
constexpr uint32_t kResizeLayoutMask = 0x63EE;

// Text colour value meaning "the window's default"; background colour values for transparent controls.
constexpr int32_t kColorDefault = -1;
constexpr int32_t kBackTransparent = -1;  // transparent text background, the window's background behind it
constexpr int32_t kBackNullBrush = -2;    // fully transparent

// The image and label halves of one check box or radio button share this record.
struct CheckPair {
    int32_t imageIndex = 0;
    int32_t labelIndex = 0;
    int32_t state = kStateUnchecked;
    HBITMAP checkedImage = nullptr;  // borrowed from the caller, never deleted here
    HBITMAP uncheckedImage = nullptr;
    COLORREF normalColor = 0;
    COLORREF hoverColor = 0xAF5030;
};

// One slot of a window's control table. The slot's index is the control's window identifier and event code.
struct UiControl {
    ControlKind kind = ControlKind::kNone;
    HWND handle = nullptr;
    HMENU menu = nullptr;
    int32_t inUse = 0;  // the slot's own index while in use, 0 when free
    GdiObjectHandle backBrush;
    GdiObjectHandle font;
    HCURSOR cursor = nullptr;  // shared cursor, not owned
    int32_t textColor = kColorDefault;
    int32_t backColor = kBackTransparent;
    int32_t designX = 0, designY = 0, designWidth = 0, designHeight = 0;
    int32_t refWidth = 0, refHeight = 0;
    uint32_t flags = 0;
    HWND ownerTab = nullptr;  // TabPage: its tab control

    // Kind-specific parts.
    IconHandle icon;                  // IconImage: its copy; Button: the icon set with BM_SETIMAGE
    GdiObjectHandle bitmap;           // Picture: its copy; Button: the bitmap set with BM_SETIMAGE
    int32_t upDown = 0;               // Edit: index of its UpDown
    std::vector<int32_t> members;     // TabPage: indexes of the controls grouped under it, at most 255
    std::shared_ptr<CheckPair> pair;  // CheckBox, RadioButton

    // What screen readers are told (ui/Accessibility.h).
    WideString accessibleName;
    int32_t accessibleRole = 0;
    // Dynamic Annotation of name and role: 0 not tried yet, 1 the system's own object reports them (WM_GETOBJECT is
    // left to it), -1 refused.
    int8_t annotation = 0;
    bool liveRegion = false;
    bool announcementDue = false;  // a change within the quiet second after an announcement waits for a timer
    DWORD announcedAt = 0;         // tick count of the last announcement; 0: none yet

    static constexpr size_t kMaxPageMembers = 255;

    bool isPair() const { return kind == ControlKind::kCheckBox || kind == ControlKind::kRadioButton; }
};
