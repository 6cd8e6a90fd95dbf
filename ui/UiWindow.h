#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/Imaging.h"
#include "sys/Handles.h"
#include "sys/WideString.h"
#include "ui/UiControl.h"
#include "ui/UiEventSlot.h"

struct AccessibleFacts;

// How the client area is erased.
enum BackgroundMode : int32_t {
    kBackgroundSolidBrush = 0,
    kBackgroundTiledBitmap = 1,
    kBackgroundStretchedBitmap = 2,
    kBackgroundDefaultErase = 3,   // left to the default procedure, i.e. the class brush
    kBackgroundBorrowedBrush = 4,  // the brush is not owned and never deleted
};

// Window flag bits.
constexpr uint32_t kWindowGroupNext = 1;     // the next control starts a group (WS_GROUP)
constexpr uint32_t kWindowClassExisted = 2;  // the class was registered before create: never unregistered
constexpr uint32_t kWindowForeign = 4;       // subclassed only: destroy removes the subclass

// Modes of pumpEvent.
enum PumpMode : int {
    kPumpWait = 0,     // GetMessageW; the result is GetMessageW's
    kPumpPoll = 1,     // PeekMessageW; the result is the event code
    kPumpPollAny = 2,  // PeekMessageW; the result is 1 when a message was processed
};

// Flags of show.
constexpr int kShowUpdate = 1;
constexpr int kShowToFront = 2;
constexpr int kShowActivate = 4;
constexpr int kShowAsync = 8;
constexpr int kShowDrain = 0x10;
constexpr int kShowRedraw = 0x20;

// A top-level window of the toolkit with its table of child controls. Messages become numbered events in the
// event slot `sink`; controls are addressed by a 1-based index (-1 = the most recently created control).
// The window procedure keeps a pointer to this object, so it is neither copied nor moved.
class UiWindow {
public:
    static constexpr int kAttachedSlots = 48;
    static constexpr int kInitialCapacity = 512;
    static constexpr UINT kCloseMessage = 0x0CAE;  // posted on WM_CLOSE and SC_CLOSE, becomes kEventClose
    static constexpr const wchar_t* kTabPageClass = L"_TABITEM_ WINDOW";
    static constexpr LRESULT kDefaultIdAnswer = 0x534B0000;  // DC_HASDEFID in the high word

    explicit UiWindow(UiEventSlot* sink = nullptr);
    // Constructs and creates a WS_POPUP window of the client width and 200 high at (0, 0).
    UiWindow(UiEventSlot* sink, const wchar_t* className, const wchar_t* title, int clientWidth, HWND parent = nullptr);
    ~UiWindow();
    UiWindow(const UiWindow&) = delete;
    UiWindow& operator=(const UiWindow&) = delete;

    // Window life. create registers the class when it does not exist; style and extended style -1 mean
    // WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX and WS_EX_ACCEPTFILES; x = y = -1 centres the window.
    HWND create(const wchar_t* className, const wchar_t* title, int clientWidth, int clientHeight, int x, int y,
                int32_t style = -1, int32_t exStyle = -1, HWND parent = nullptr, UiEventSlot* eventSink = nullptr);
    bool destroy();
    void dispose();
    BOOL show(int command, int showFlags = 0);

    void setSink(UiEventSlot* slot) { sink = slot ? slot : &ownSlot; }
    UiEventSlot* getSink() const { return sink; }

    HWND handleOf(int index) const;
    int indexOfHandle(HWND child) const;
    int controlCount() const { return count; }
    // The control at an index (-1 = last), null for an unused one.
    const UiControl* control(int index) const;
    ControlKind kindOf(int index) const;

    // Slot number 1-48, or 0 when all 48 slots hold live windows.
    int attachWindow(HWND popup);
    void setDefaultFont(double size, int weight);
    void setDefaultTextColor(int32_t color) { defaultTextColor = color; }
    void setDefaultBackColor(int32_t color) { defaultBackColor = color; }
    void setBackgroundColor(COLORREF color);
    // The window takes over both icons; the ones they replace are destroyed.
    void setWindowIcons(HICON big, HICON small);
    void loadWindowIcons(HMODULE module);

    static int pumpEvent(UiEventSlot& slot, int mode);
    static int waitEvent(UiEventSlot& slot, int mode);
    // Paths of the last drop on this window joined by "\r\n"; empty when the slot's last event is not that drop.
    const WideString& droppedFiles();
    // The first of those paths, the one a field takes.
    WideString firstDroppedFile();
    void waitMouseRelease();
    // Posts WM_NULL to the window every 20 ms from another thread for as long as the window exists.
    static bool startTicker(HWND target);
    // Lets WM_DROPFILES, WM_COPYGLOBALDATA and WM_NCHITTEST through the message filter of an elevated process.
    static bool allowDrops();
    // Centres the window over the reference window, or over the work area when there is none.
    static void centerWindow(HWND target, HWND reference);

    // Creators: each returns the new control's index, or 0 when nothing was made.
    int addButton(const wchar_t* text, int x, int y, int width, int height, int32_t style = -1);
    int addLabel(const wchar_t* text, int x, int y, int width, int height, int32_t style = -1);
    int addEdit(const wchar_t* text, int x, int y, int width, int height, int32_t style = -1, int32_t exStyle = -1);
    int addLink(const wchar_t* markup, int x, int y, int width, int height);
    int addIconImage(HICON icon, int x, int y, int width, int height);
    int addIconFromResource(HMODULE module, int number, int x, int y, int width, int height);
    int addPicture(HBITMAP bitmap, int x, int y, int width, int height, int32_t style = -1);
    int addPictureFromImage(const GdiplusImage& image, int x, int y, int width, int height);
    int addPictureFromPngResource(int number, int x, int y, int width, int height);
    int addProgress(int x, int y, int width, int height);
    int addTab(int x, int y, int width, int height);
    int addTabPage(int tabIndex, int position, const wchar_t* title);
    int addUpDown(int editIndex);
    // Both return the label's index; the image half has the index before it.
    int addCheckBox(const wchar_t* text, HBITMAP checkedImage, HBITMAP uncheckedImage, int x, int y, int width,
                    int state);
    int addRadioButton(const wchar_t* text, HBITMAP checkedImage, HBITMAP uncheckedImage, int x, int y, int width,
                       int state);
    int addCloseButton();
    int addMinimizeButton();

    // Operations on controls.
    bool setState(int index, uint32_t state);
    uint32_t getState(int index, uint32_t mask);
    bool setText(int index, const wchar_t* text);
    // The text lands in the window's text buffer, valid until the next query on this window.
    const WideString& getText(int index);
    LRESULT sendMessage(int index, UINT message, WPARAM wParam, LPARAM lParam);
    bool setTextColor(int index, COLORREF color);
    bool setBackColor(int index);
    bool setFont(double size, int weight);
    bool setCursor(int index, HCURSOR shape);
    bool setTip(int index, const wchar_t* text);
    bool setIcon(int index, int position, HICON icon, int size);
    bool setBitmap(int index, int position, HBITMAP image, int width, int height);
    bool setBitmapFromImage(int index, const GdiplusImage& image, int width, int height);
    bool setBitmapFromPngResource(int index, int position, int number);
    bool setIconFromResource(int index, int position, HMODULE module);
    int setDefaultButton(int index);
    bool redraw(int index);
    bool removeControl(int index);
    bool setLinkDefaults();
    bool setProgressPosition(int index, int position);
    bool setProgressMarquee(int index, bool on);

    // Accessibility. A name (a label's text, see AccessibleNameOf) and an MSAA role (ROLE_SYSTEM_*) screen readers
    // report for a control; a control named a push button is clicked by its default action. A status line marked as a
    // live region is announced whenever setText changes it, at most once a second: a change within that second is
    // announced when it has passed, the latest text only.
    bool setAccessibleName(int index, const wchar_t* name);
    bool setAccessibleRole(int index, int32_t role);
    bool setLiveRegion(int index);

    // Layout: the resizing rules of the last control, and the rules new controls start with (0x800 brings 0x400;
    // returns the previous defaults).
    void setResizing(uint32_t resizeFlags);
    uint32_t setResizeDefaults(uint32_t resizeFlags);
    // Lays the controls out for the current client size; true when controls were moved.
    bool layoutPass();

    // Shapes and backgrounds. Corner 0: frameless, the client area becomes the whole window; 1: the client area is
    // the window's region; more: that region with rounded corners of this diameter.
    void setFrameStyle(int corner);
    // Rim, inner panel and (when it differs from the inner colour) the button band as the background, then the
    // shape: frameless for a captioned window, else rounded by `corner`. Colours are ARGB.
    void paintFramedBackground(int width, int height, uint32_t rim, uint32_t inner, uint32_t band, int corner);
    // The image, brought to width x height (0: the client size, -1: its own), tiles the client area.
    bool setBackgroundImage(const GdiplusImage& image, int width, int height);
    // The background bitmap is stretched over the client area instead of tiled; false without one.
    bool setBackgroundStretched();

    // Fields, in the order of the window record.
    UiEventSlot ownSlot;
    std::vector<UiControl> controls;  // slot 0 is never used
    int32_t count = 0;
    int32_t capacity = 0;
    int32_t attachedCount = 0;
    HWND attached[kAttachedSlots] = {};
    WideString textBuffer;
    HINSTANCE instance = nullptr;
    RECT scratchRect = {}, scratchRect2 = {};
    int32_t minTrackWidth = 0, minTrackHeight = 0, maxTrackWidth = 0, maxTrackHeight = 0;
    RECT lastClientSize = {};
    RECT newClientSize = {};
    double fontSize = 0;
    int32_t fontWeight = 0;
    uint8_t fontAttributes = 0;
    wchar_t fontFace[32] = {};
    uint8_t fontQuality = 0;
    UiEventSlot* sink = &ownSlot;
    GdiObjectHandle backgroundBitmap;
    HGDIOBJ previousBitmap = nullptr;
    MemoryDcHandle memoryDC;
    int32_t defaultButton = 0;
    uint32_t resizeDefaults = 0;
    int32_t currentTab = 0;
    GdiObjectHandle backgroundBrush;
    GdiObjectHandle childBackgroundBrush;
    int32_t backgroundMode = kBackgroundSolidBrush;
    ATOM classAtom = 0;
    HDROP dropHandle = nullptr;
    POINT dropPoint = {};
    int32_t backgroundWidth = 0, backgroundHeight = 0;
    HCURSOR cursor = nullptr;
    int32_t defaultTextColor = -1;
    int32_t defaultBackColor = -1;
    HWND window = nullptr;
    HWND controlParent = nullptr;
    HWND tooltipWindow = nullptr;
    HWND popupWindow = nullptr;
    HWND shownTabPage = nullptr;
    AcceleratorHandle accelerators;
    uint32_t flags = 0;
    int32_t framelessInset = 0;
    int32_t mouseX = 0, mouseY = 0, mouseKeys = 0;
    int32_t hoveredControl = 0;
    MenuHandle menu;
    // Close requests this window has had (system close, Alt+F4, a click on its close button), counted when they are
    // raised: an event the application never reads (one taken by a drain of the queue) still leaves its count.
    int32_t closeButton = 0;
    int32_t closeRequests = 0;

private:
    friend class AccessibleControl;

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR reference);
    static LRESULT CALLBACK TabHookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR reference);
    static LRESULT CALLBACK FlickerFreeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                            DWORD_PTR reference);
    static LRESULT CALLBACK LabelFocusProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR reference);
    // Answers WM_GETOBJECT for the controls the toolkit describes itself, and runs their announcement timer.
    static LRESULT CALLBACK AccessibleProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR reference);
    // The window whose control this is, while the control is one the toolkit describes.
    static UiWindow* accessibleOwner(HWND control);

    // A message handler's answer; none leaves the message to the default procedure.
    using MessageResult = std::optional<LRESULT>;
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    MessageResult onPlainEvent(HWND hwnd, UINT message, int32_t code, int32_t param1);
    MessageResult onSize(HWND hwnd, UINT kind);
    MessageResult onActivate(HWND hwnd, UINT message, bool activating);
    MessageResult onClose(HWND hwnd);
    MessageResult onSessionEnd(HWND hwnd, UINT message, LPARAM lParam);
    MessageResult onEraseBackground(HWND hwnd, HDC dc);
    MessageResult onGetMinMaxInfo(MINMAXINFO* info);
    MessageResult onPositionChanging(HWND hwnd, const WINDOWPOS* position);
    MessageResult onSizing(HWND hwnd);
    MessageResult onPositionChanged(HWND hwnd, const WINDOWPOS* position);
    MessageResult onContextMenu(HWND hwnd, HWND target);
    MessageResult onNcCalcSize(HWND hwnd, bool validRects);
    MessageResult onNcPaint(HWND hwnd);
    MessageResult onNcActivate(HWND hwnd, bool activating);
    MessageResult onChar(HWND hwnd, int32_t character, LPARAM keyData);
    MessageResult onSysCommand(HWND hwnd, UINT command);
    MessageResult onMouseMove(HWND hwnd, int32_t keys, POINT point);
    MessageResult onLeftButtonDown(HWND hwnd, POINT point);
    MessageResult onExitSizeMove(HWND hwnd);
    LRESULT handleCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);
    LRESULT handleNotify(HWND hwnd, WPARAM wParam, LPARAM lParam);
    LRESULT handleControlColor(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool fromHook);
    LRESULT handleSetCursor(HWND hwnd, WPARAM wParam, LPARAM lParam);
    void handleDrop(HWND hwnd, HDROP drop);
    bool eraseBackground(HWND hwnd, HDC dc);
    bool eraseTabArea(HWND hwnd, HDC dc);
    // Clips away the controls that paint their own background: all the parent's, or only the listed ones.
    void excludeSparedControls(HWND parent, HDC dc, const std::vector<int32_t>* members);
    HBRUSH backgroundBehind(HWND child, HDC dc);
    void setFlickerFree(int index, bool on);
    LRESULT paintOffscreen(HWND hwnd, int index);
    void raise(HWND hwnd, UINT message, int32_t code, int32_t param1 = 0, intptr_t param2 = 0);
    void trackForeground(HWND hwnd);
    // Starts the system's move loop, only while the left button is down: a command that no click caused (a
    // dialog key) must never leave the window following the pointer.
    void dragWindow();
    // Keyboard navigation of the focused control's window; true when the key was used up.
    bool handleNavigationKey(const MSG& msg);
    // The controls Tab visits, top to bottom and left to right as they stand on the screen; a radio group is one.
    std::vector<int> tabStops() const;
    // The labels of the radio buttons checked together with this pair's, in index order.
    std::vector<int> radioGroup(const CheckPair& pair) const;
    // The member of a radio group that stands for it in the tab order: the checked one, else the first usable.
    int groupStop(int label) const;
    void focusControl(int index);
    void clickControl(int index);
    void moveAttached(int dx, int dy);
    void setHoverLook(int index, bool hovered);
    void releaseWindowIcons();
    void makeAccessible(int index);
    LRESULT answerGetObject(HWND control, WPARAM wParam, LPARAM lParam);
    bool describeAccessible(HWND control, AccessibleFacts& facts) const;
    void announceChange(int index);
    void announceDue(HWND control);
    void notifyPairState(const CheckPair& pair);

    int resolve(int index) const;
    UiControl* slot(int index);
    bool makeRoom();
    int createControl(ControlKind kind, const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
                      int x, int y, int width, int height);
    int registerControl(ControlKind kind, HWND handle, int x, int y, int width, int height);
    int addCheckPair(ControlKind kind, const wchar_t* text, HBITMAP checkedImage, HBITMAP uncheckedImage, int x, int y,
                     int width, int state);
    int addDrawnButton(bool close);
    void applyPairState(int index, int state);
    void uncheckRadioRun(const CheckPair& pair);
    void showPairImage(CheckPair& pair);
    void invalidateInParent(HWND child);
    int pageOfTabItem(HWND tab, int item) const;
    int tabItemOfPage(HWND tab, int pageIndex) const;
    void placePageOverTab(HWND page, HWND tab, bool showPage);
};
