#include <windows.h>
#include <commctrl.h>

#include <oleacc.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "engine/ImageScaling.h"
#include "ui/ScreenScale.h"
#include "ui/Subclass.h"
#include "ui/ToolkitImages.h"
#include "ui/UiFont.h"
#include "ui/UiWindow.h"

namespace {

constexpr UINT_PTR kHookSubclassId = 1;
constexpr int kPairImageSize = kPairImageDesignSize;
constexpr DWORD kIconImageStyle = 0x50000143;       // WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_REALSIZECONTROL | SS_ICON
constexpr DWORD kPictureStyle = 0x4000000E;         // WS_CHILD | SS_BITMAP
constexpr DWORD kPictureDefaultStyle = 0x10000140;  // WS_VISIBLE | SS_NOTIFY | SS_REALSIZECONTROL
constexpr DWORD kPairImageStyle = 0x5000014E;  // WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_REALSIZECONTROL | SS_BITMAP
constexpr DWORD kPairLabelStyle = 0x50010300;  // WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_NOTIFY | SS_CENTERIMAGE
constexpr DWORD kLinkStyle = 0x50010000;
constexpr DWORD kProgressStyle = 0x50000001;
constexpr DWORD kTabStyle = 0x50010200;
constexpr DWORD kUpDownStyle = 0x500001A6;
constexpr int kUpDownMaximum = 100000;

void DeleteUnlessOurs(HGDIOBJ previous, std::initializer_list<HGDIOBJ> ours) {
    if (!previous) return;
    for (HGDIOBJ own : ours)
        if (previous == own) return;
    DeleteObject(previous);
}

// A version 6 static control keeps its own copy of a bitmap with alpha and hands that copy back on the next
// STM_SETIMAGE; the caller must delete it, but never a bitmap it still owns.
// https://learn.microsoft.com/windows/win32/controls/stm-setimage
void SetStaticBitmap(HWND control, HBITMAP image, std::initializer_list<HGDIOBJ> ours) {
    auto previous =
        reinterpret_cast<HGDIOBJ>(SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
    if (previous != image) DeleteUnlessOurs(previous, ours);
}

bool ShowsText(HWND control, const wchar_t* text) {
    const int length = GetWindowTextLengthW(control);
    if (length != static_cast<int>(wcslen(text))) return false;
    std::vector<wchar_t> shown(static_cast<size_t>(length) + 1);
    GetWindowTextW(control, shown.data(), length + 1);
    return wcscmp(shown.data(), text) == 0;
}

HBITMAP CopyBitmap(HBITMAP bitmap) {
    return bitmap ? static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)) : nullptr;
}

HIMAGELIST ButtonImageList(HWND button) {
    BUTTON_IMAGELIST list = {};
    return SendMessageW(button, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list)) ? list.himl : nullptr;
}

// The button owns its image list. A button without version 6 behaviour refuses the list; it is destroyed then.
bool ReplaceButtonImageList(HWND button, HIMAGELIST list, int alignment) {
    BUTTON_IMAGELIST settings = {};
    settings.himl = list;
    settings.uAlign = static_cast<UINT>(alignment);
    HIMAGELIST previous = ButtonImageList(button);
    if (!SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&settings))) {
        if (list) ImageList_Destroy(list);
        return false;
    }
    if (previous && previous != list) ImageList_Destroy(previous);
    return true;
}

}  // namespace

bool UiWindow::makeRoom() {
    try {
        if (capacity == 0) {
            controls.resize(kInitialCapacity);
            capacity = kInitialCapacity;
        } else if (count > capacity - 4) {
            std::vector<UiControl> larger(static_cast<size_t>(capacity) * 2);
            for (int i = 0; i <= count; ++i)
                larger[i] = std::move(controls[i]);
            controls.swap(larger);
            capacity *= 2;
        }
        return true;
    } catch (...) {
        return false;
    }
}

int UiWindow::createControl(ControlKind kind, const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
                            int x, int y, int width, int height) {
    if (!window || !makeRoom()) return 0;
    if (flags & kWindowGroupNext) style |= WS_GROUP;
    const int index = count + 1;
    x = scaleToScreen(x);
    y = scaleToScreen(y);
    width = scaleToScreen(width);
    height = scaleToScreen(height);
    HWND handle = CreateWindowExW(exStyle, className, text, style, x, y, width, height, controlParent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(index)), instance, nullptr);
    if (!handle) return 0;
    return registerControl(kind, handle, x, y, width, height);
}

int UiWindow::registerControl(ControlKind kind, HWND handle, int x, int y, int width, int height) {
    const int index = count + 1;
    count = index;
    UiControl& c = controls[index];
    c = UiControl{};
    c.kind = kind;
    c.handle = handle;
    c.inUse = index;
    if (fontSize > 0) {
        c.font.Reset(makeFont(fontSize, fontWeight, fontAttributes, fontFace, fontQuality));
        SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(c.font.Get()), FALSE);
    }
    c.flags = resizeDefaults;
    if (kind == ControlKind::kProgress) c.flags &= ~(kControlNoErase | kControlFlickerFree);
    if (c.flags & kControlFlickerFree) setFlickerFree(index, true);
    c.textColor = defaultTextColor >= 0 ? defaultTextColor : static_cast<int32_t>(GetSysColor(COLOR_BTNTEXT));
    c.backColor = defaultBackColor;
    if (defaultBackColor >= 0 && kind != ControlKind::kProgress)
        c.backBrush.Reset(CreateSolidBrush(static_cast<COLORREF>(defaultBackColor)));
    flags &= ~kWindowGroupNext;

    if (kind == ControlKind::kTabPage) {
        c.members.reserve(UiControl::kMaxPageMembers);
        controlParent = handle;
        currentTab = index;
    } else if (currentTab && controlParent != window) {
        UiControl* page = slot(currentTab);
        if (page && page->kind == ControlKind::kTabPage && page->members.size() < UiControl::kMaxPageMembers)
            page->members.push_back(index);
    }
    if (resizeDefaults & kResizeLayoutMask) {
        RECT client = {};
        GetClientRect(window, &client);
        c.refWidth = client.right;
        c.refHeight = client.bottom;
    }
    c.designX = x;
    c.designY = y;
    c.designWidth = width;
    c.designHeight = height;
    return index;
}

int UiWindow::addButton(const wchar_t* text, int x, int y, int width, int height, int32_t style) {
    const DWORD buttonStyle = WS_CHILD | WS_TABSTOP | (style == -1 ? WS_VISIBLE : static_cast<DWORD>(style));
    const int index = createControl(ControlKind::kButton, L"Button", text, buttonStyle, 0, x, y, width, height);
    if (index && style != -1 && (style & BS_DEFPUSHBUTTON)) setDefaultButton(index);
    return index;
}

int UiWindow::addLabel(const wchar_t* text, int x, int y, int width, int height, int32_t style) {
    const DWORD labelStyle = WS_CHILD | (style == -1 ? WS_VISIBLE | SS_NOTIFY : static_cast<DWORD>(style));
    return createControl(ControlKind::kLabel, L"Static", text, labelStyle, 0, x, y, width, height);
}

int UiWindow::addEdit(const wchar_t* text, int x, int y, int width, int height, int32_t style, int32_t exStyle) {
    // The program always passes a style; -1 gets a plain visible single-line field.
    DWORD editStyle = WS_CHILD | (style == -1 ? WS_VISIBLE | ES_AUTOHSCROLL : static_cast<DWORD>(style));
    if (!(editStyle & ES_READONLY)) editStyle |= WS_TABSTOP;
    const DWORD editExStyle = exStyle == -1 ? WS_EX_CLIENTEDGE : static_cast<DWORD>(exStyle);
    return createControl(ControlKind::kEdit, L"Edit", text, editStyle, editExStyle, x, y, width, height);
}

int UiWindow::addLink(const wchar_t* markup, int x, int y, int width, int height) {
    const int index = createControl(ControlKind::kLink, WC_LINK, markup, kLinkStyle, 0, x, y, width, height);
    // Read without its markup where the link offers no accessible object of its own.
    if (index) setAccessibleName(index, markup);
    return index;
}

int UiWindow::addIconImage(HICON icon, int x, int y, int width, int height) {
    IconHandle copy(icon ? static_cast<HICON>(CopyImage(icon, IMAGE_ICON, 0, 0, 0)) : nullptr);
    const int index =
        createControl(ControlKind::kIconImage, L"Static", nullptr, kIconImageStyle, 0, x, y, width, height);
    if (!index) return 0;
    UiControl& c = controls[index];
    SendMessageW(c.handle, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(copy.Get()));
    c.icon = std::move(copy);
    return index;
}

int UiWindow::addIconFromResource(HMODULE module, int number, int x, int y, int width, int height) {
    if (number < 0 || number >= 0x10000) return 0;
    IconHandle loaded(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(number), IMAGE_ICON, width, height, 0)));
    return addIconImage(loaded.Get(), x, y, width, height);
}

int UiWindow::addPicture(HBITMAP bitmap, int x, int y, int width, int height, int32_t style) {
    GdiObjectHandle copy(CopyBitmap(bitmap));
    const DWORD pictureStyle = kPictureStyle | (style == -1 ? kPictureDefaultStyle : static_cast<DWORD>(style));
    const int index = createControl(ControlKind::kPicture, L"Static", nullptr, pictureStyle, 0, x, y, width, height);
    if (!index) return 0;
    UiControl& c = controls[index];
    SetStaticBitmap(c.handle, static_cast<HBITMAP>(copy.Get()), {copy.Get()});
    c.bitmap = std::move(copy);
    return index;
}

int UiWindow::addPictureFromImage(const GdiplusImage& image, int x, int y, int width, int height) {
    GdiObjectHandle bitmap(bitmapFromImage(image, width, height));
    if (!bitmap) return 0;
    return addPicture(static_cast<HBITMAP>(bitmap.Get()), x, y, width, height, -1);
}

int UiWindow::addPictureFromPngResource(int number, int x, int y, int width, int height) {
    GdiplusImage image = loadPngResource(instance, number, width, height);
    if (!image) return 0;
    return addPictureFromImage(image, x, y, width, height);
}

int UiWindow::addProgress(int x, int y, int width, int height) {
    return createControl(ControlKind::kProgress, PROGRESS_CLASSW, nullptr, kProgressStyle, 0, x, y, width, height);
}

int UiWindow::addTab(int x, int y, int width, int height) {
    const int index = createControl(ControlKind::kTab, WC_TABCONTROLW, nullptr, kTabStyle, 0, x, y, width, height);
    if (!index) return 0;
    HWND tab = controls[index].handle;
    controlParent = tab;
    currentTab = index;
    InstallSubclass(tab, TabHookProc, kHookSubclassId, reinterpret_cast<DWORD_PTR>(this));
    makeAccessible(index);
    return index;
}

int UiWindow::addTabPage(int tabIndex, int position, const wchar_t* title) {
    const int tab = resolve(tabIndex);
    if (!tab || controls[tab].kind != ControlKind::kTab || !makeRoom()) return 0;
    HWND tabHandle = controls[tab].handle;
    const int index = count + 1;

    TCITEMW item = {};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = const_cast<wchar_t*>(title ? title : L"");
    item.lParam = index;
    const int inserted = static_cast<int>(
        SendMessageW(tabHandle, TCM_INSERTITEMW, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item)));
    if (inserted == -1) return 0;

    WNDCLASSEXW pageClass = {};
    pageClass.cbSize = sizeof(pageClass);
    if (!GetClassInfoExW(instance, kTabPageClass, &pageClass)) {
        pageClass.style = CS_DBLCLKS;
        pageClass.lpfnWndProc = DefWindowProcW;
        pageClass.cbClsExtra = 512;
        pageClass.cbWndExtra = 512;
        pageClass.hInstance = instance;
        pageClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        pageClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        pageClass.lpszClassName = kTabPageClass;
        RegisterClassExW(&pageClass);
    }

    HWND tabParent = GetParent(tabHandle);
    RECT area = {};
    GetClientRect(tabHandle, &area);
    SendMessageW(tabHandle, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    MapWindowPoints(tabHandle, tabParent, reinterpret_cast<POINT*>(&area), 2);
    DWORD style = WS_CHILD | WS_TABSTOP;
    if (flags & kWindowGroupNext) style |= WS_GROUP;
    HWND page = CreateWindowExW(WS_EX_CONTROLPARENT, kTabPageClass, title, style, area.left, area.top,
                                area.right - area.left, area.bottom - area.top, tabParent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(index)), instance, nullptr);
    if (!page) {
        SendMessageW(tabHandle, TCM_DELETEITEM, static_cast<WPARAM>(inserted), 0);
        return 0;
    }
    InstallSubclass(page, TabHookProc, kHookSubclassId, reinterpret_cast<DWORD_PTR>(this));
    registerControl(ControlKind::kTabPage, page, area.left, area.top, area.right - area.left, area.bottom - area.top);
    SetWindowLongPtrW(page, GWLP_ID, index);
    controls[index].ownerTab = tabHandle;
    if (SendMessageW(tabHandle, TCM_GETCURSEL, 0, 0) == inserted) placePageOverTab(page, tabHandle, true);
    return index;
}

int UiWindow::addUpDown(int editIndex) {
    const int edit = resolve(editIndex);
    if (!edit || controls[edit].kind != ControlKind::kEdit) return 0;
    const int index = createControl(ControlKind::kUpDown, UPDOWN_CLASSW, nullptr, kUpDownStyle, 0, 0, 0, 0, 0);
    if (!index) return 0;
    HWND upDown = controls[index].handle;
    SendMessageW(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(controls[edit].handle), 0);
    SendMessageW(upDown, UDM_SETRANGE32, 0, kUpDownMaximum);
    controls[edit].upDown = index;
    return index;
}

int UiWindow::addCheckBox(const wchar_t* text, HBITMAP checkedImage, HBITMAP uncheckedImage, int x, int y, int width,
                          int state) {
    return addCheckPair(ControlKind::kCheckBox, text, checkedImage, uncheckedImage, x, y, width, state);
}

int UiWindow::addRadioButton(const wchar_t* text, HBITMAP checkedImage, HBITMAP uncheckedImage, int x, int y, int width,
                             int state) {
    return addCheckPair(ControlKind::kRadioButton, text, checkedImage, uncheckedImage, x, y, width, state);
}

int UiWindow::addCheckPair(ControlKind kind, const wchar_t* text, HBITMAP checkedImage, HBITMAP uncheckedImage, int x,
                           int y, int width, int state) {
    const int image = createControl(kind, L"Static", nullptr, kPairImageStyle, 0, x, y, kPairImageSize, kPairImageSize);
    if (!image) return 0;
    controls[image].flags &= kControlNoErase | kControlFlickerFree;
    const int label = createControl(kind, L"Static", text, kPairLabelStyle, 0, x + kPairImageSize, y,
                                    width - kPairImageSize, kPairImageSize);
    if (!label) {
        removeControl(image);
        return 0;
    }
    auto pair = std::make_shared<CheckPair>();
    pair->imageIndex = image;
    pair->labelIndex = label;
    pair->state = state == kStateChecked ? kStateChecked : kStateUnchecked;
    pair->checkedImage = checkedImage;
    pair->uncheckedImage = uncheckedImage;
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    for (int part : {image, label}) {
        controls[part].pair = pair;
        controls[part].textColor = 0;
        controls[part].cursor = hand;
    }
    showPairImage(*pair);
    InstallSubclass(controls[label].handle, LabelFocusProc, kHookSubclassId, reinterpret_cast<DWORD_PTR>(this));
    // Both halves answer screen readers as the one check box or radio button they draw.
    makeAccessible(image);
    makeAccessible(label);
    return label;
}

int UiWindow::addDrawnButton(bool close) {
    WorkingImage canvas = CreateWorkingImage(300, 300);
    if (!canvas) return 0;
    {
        GdiplusGraphics graphics(canvas);
        Gdiplus::GpPen* pen = nullptr;
        if (graphics && gdip::GdipCreatePen1(0xFFFFFFFF, 40.0f, Gdiplus::UnitWorld, &pen) == kGpOk) {
            gdip::GdipSetSmoothingMode(graphics.Get(), Gdiplus::SmoothingModeHighQuality);
            if (close) {
                gdip::GdipDrawLineI(graphics.Get(), pen, 30, 30, 270, 270);
                gdip::GdipDrawLineI(graphics.Get(), pen, 270, 30, 30, 270);
            } else {
                gdip::GdipDrawLineI(graphics.Get(), pen, 30, 240, 240, 240);
            }
            gdip::GdipDeletePen(pen);
        }
    }
    const int index = addPictureFromImage(canvas, close ? 620 : 590, 6, 20, 20);
    if (!index) return 0;
    setCursor(index, LoadCursorW(nullptr, IDC_HAND));
    setTip(index, close ? L"关闭此对话框" : L"最小化此对话框");
    setAccessibleName(index, close ? L"关闭" : L"最小化");
    setAccessibleRole(index, ROLE_SYSTEM_PUSHBUTTON);
    return index;
}

int UiWindow::addCloseButton() {
    closeButton = addDrawnButton(true);
    return closeButton;
}

int UiWindow::addMinimizeButton() {
    return addDrawnButton(false);
}

void UiWindow::invalidateInParent(HWND child) {
    HWND parent = GetParent(child);
    RECT rect;
    if (!parent || !GetWindowRect(child, &rect)) return;
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    InvalidateRect(parent, &rect, TRUE);
}

void UiWindow::showPairImage(CheckPair& pair) {
    const UiControl* image = control(pair.imageIndex);
    if (!image) return;
    HBITMAP shown = pair.state == kStateChecked ? pair.checkedImage : pair.uncheckedImage;
    SetStaticBitmap(image->handle, shown, {pair.checkedImage, pair.uncheckedImage});
    invalidateInParent(image->handle);
}

void UiWindow::applyPairState(int index, int state) {
    UiControl* c = slot(index);
    if (!c || !c->pair) return;
    std::shared_ptr<CheckPair> pair = c->pair;
    const bool changed = pair->state != state;
    pair->state = state;
    showPairImage(*pair);
    if (changed) notifyPairState(*pair);
    if (state == kStateChecked && c->kind == ControlKind::kRadioButton) uncheckRadioRun(*pair);
}

std::vector<int> UiWindow::radioGroup(const CheckPair& pair) const {
    auto inRun = [this](int i) {
        const ControlKind kind = kindOf(i);
        return kind == ControlKind::kCheckBox || kind == ControlKind::kRadioButton || kind == ControlKind::kLabel;
    };
    int first = pair.imageIndex;
    while (first > 1 && inRun(first - 1))
        --first;
    std::vector<int> labels;
    for (int i = first; i <= count && (i <= pair.labelIndex || inRun(i)); ++i) {
        const UiControl& c = controls[i];
        if (c.inUse == i && c.kind == ControlKind::kRadioButton && c.pair && c.pair->labelIndex == i)
            labels.push_back(i);
    }
    return labels;
}

void UiWindow::uncheckRadioRun(const CheckPair& pair) {
    for (int label : radioGroup(pair)) {
        UiControl& c = controls[label];
        if (c.pair.get() == &pair || c.pair->state == kStateUnchecked) continue;
        c.pair->state = kStateUnchecked;
        showPairImage(*c.pair);
        notifyPairState(*c.pair);
    }
}

bool UiWindow::setState(int index, uint32_t state) {
    UiControl* c = slot(index);
    if (!c) return false;
    if (c->isPair() && c->pair) {
        std::shared_ptr<CheckPair> pair = c->pair;
        const int resolved = resolve(index);
        HWND parts[] = {handleOf(pair->imageIndex), handleOf(pair->labelIndex)};
        if (state & (kStateHide | kStateShow))
            for (HWND part : parts)
                if (part) ShowWindow(part, (state & kStateHide) ? SW_HIDE : SW_SHOW);
        if (state & kStateChecked)
            applyPairState(resolved, kStateChecked);
        else if (state & kStateUnchecked)
            applyPairState(resolved, kStateUnchecked);
        if (state & (kStateEnable | kStateDisable))
            for (HWND part : parts)
                if (part) EnableWindow(part, (state & kStateEnable) ? TRUE : FALSE);
        if (state & kStateFocus)
            SetFocus(parts[1]);
        else if (state & kStateDefocus)
            SetFocus(window);
        return true;
    }
    HWND handle = c->handle;
    if (state & (kStateHide | kStateShow)) {
        const bool hide = (state & kStateHide) != 0;
        std::vector<HWND> targets = {handle};
        if (c->kind == ControlKind::kTab) {
            const int item = static_cast<int>(SendMessageW(handle, TCM_GETCURSEL, 0, 0));
            if (HWND page = handleOf(pageOfTabItem(handle, item))) targets.push_back(page);
        }
        for (HWND target : targets) {
            ShowWindow(target, hide ? SW_HIDE : SW_SHOW);
            const LONG style = GetWindowLongW(target, GWL_STYLE);
            SetWindowLongW(target, GWL_STYLE, hide ? style & ~WS_VISIBLE : style | WS_VISIBLE);
        }
    }
    if (state & (kStateEnable | kStateDisable)) EnableWindow(handle, (state & kStateEnable) ? TRUE : FALSE);
    if (state & kStateFocus)
        SetFocus(handle);
    else if (state & kStateDefocus)
        SetFocus(window);
    return true;
}

uint32_t UiWindow::getState(int index, uint32_t mask) {
    const UiControl* c = control(index);
    if (!c) return 0;
    uint32_t state = 0;
    HWND focusTarget = c->handle;
    if (c->isPair() && c->pair) {
        state |= static_cast<uint32_t>(c->pair->state);
        if (HWND label = handleOf(c->pair->labelIndex)) focusTarget = label;
    }
    if (mask & (kStateEnable | kStateDisable)) state |= IsWindowEnabled(c->handle) ? kStateEnable : kStateDisable;
    if (mask & (kStateHide | kStateShow))
        state |= (GetWindowLongW(c->handle, GWL_STYLE) & WS_VISIBLE) ? kStateShow : kStateHide;
    if (mask & (kStateFocus | kStateDefocus)) state |= GetFocus() == focusTarget ? kStateFocus : kStateDefocus;
    return state & mask;
}

bool UiWindow::setText(int index, const wchar_t* text) {
    const UiControl* c = control(index);
    if (!c) return false;
    if (!text) text = L"";
    const bool announce = c->liveRegion && !ShowsText(c->handle, text);
    const bool done = SendMessageW(c->handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != FALSE;
    invalidateInParent(c->handle);
    if (announce) announceChange(resolve(index));
    return done;
}

const WideString& UiWindow::getText(int index) {
    const UiControl* c = control(index);
    if (!c) {
        textBuffer.MakeEmpty();
        return textBuffer;
    }
    const int length = std::max(static_cast<int>(SendMessageW(c->handle, WM_GETTEXTLENGTH, 0, 0)), 0);
    wchar_t* buffer = textBuffer.Reserve(length, true);
    if (!buffer) {
        textBuffer.MakeEmpty();
        return textBuffer;
    }
    SendMessageW(c->handle, WM_GETTEXT, static_cast<WPARAM>(length) + 1, reinterpret_cast<LPARAM>(buffer));
    textBuffer.Remeasure();
    return textBuffer;
}

LRESULT UiWindow::sendMessage(int index, UINT message, WPARAM wParam, LPARAM lParam) {
    const UiControl* c = control(index);
    return c ? SendMessageW(c->handle, message, wParam, lParam) : 0;
}

bool UiWindow::setTextColor(int index, COLORREF color) {
    UiControl* c = slot(index);
    if (!c) return false;
    c->textColor = static_cast<int32_t>(color);
    if (c->kind == ControlKind::kProgress) {
        SendMessageW(c->handle, PBM_SETBARCOLOR, 0, color);
    } else if (c->isPair() && c->pair) {
        std::shared_ptr<CheckPair> pair = c->pair;
        for (int part : {pair->imageIndex, pair->labelIndex})
            if (UiControl* p = slot(part)) p->textColor = static_cast<int32_t>(color);
        showPairImage(*pair);
        if (HWND label = handleOf(pair->labelIndex)) invalidateInParent(label);
    } else {
        redraw(index);
    }
    return true;
}

bool UiWindow::setBackColor(int index) {
    UiControl* c = slot(index);
    if (!c) return false;
    constexpr COLORREF kWhite = 0xFFFFFF;
    if (c->kind == ControlKind::kProgress)
        SendMessageW(c->handle, PBM_SETBKCOLOR, 0, kWhite);
    else
        c->backBrush.Reset(CreateSolidBrush(kWhite));
    return redraw(index);
}

bool UiWindow::setFont(double size, int weight) {
    UiControl* c = slot(-1);
    if (!c) return false;
    HFONT font = makeFont(size, weight, fontAttributes, fontFace, fontQuality);
    if (!font) return false;
    SendMessageW(c->handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    c->font.Reset(font);
    return true;
}

bool UiWindow::setCursor(int index, HCURSOR shape) {
    UiControl* c = slot(index);
    if (!c) return false;
    c->cursor = shape;
    return true;
}

bool UiWindow::setTip(int index, const wchar_t* text) {
    const UiControl* c = control(index);
    if (!c || !window) return false;
    if (!tooltipWindow) {
        tooltipWindow =
            CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, instance, nullptr);
        if (!tooltipWindow) return false;
        SetWindowPos(tooltipWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    SendMessageW(tooltipWindow, TTM_SETMAXTIPWIDTH, 0, 100000);
    TOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);  // 48 bytes in a 32-bit process
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(c->handle);
    tool.uId = reinterpret_cast<UINT_PTR>(c->handle);
    tool.hinst = instance;
    tool.lpszText = const_cast<wchar_t*>(text ? text : L"");
    return SendMessageW(tooltipWindow, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) == 1;
}

bool UiWindow::setIcon(int index, int position, HICON icon, int size) {
    UiControl* c = slot(index);
    if (!c) return false;
    if (size == 0) size = GetIconSize(icon).width;
    switch (c->kind) {
        case ControlKind::kButton:
            if (position < 0) {
                HICON copy = icon ? CopyIcon(icon) : nullptr;
                auto previous = reinterpret_cast<HICON>(
                    SendMessageW(c->handle, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(copy)));
                HICON stored = c->icon.Release();
                if (previous && previous != copy) DestroyIcon(previous);
                if (stored && stored != previous && stored != copy) DestroyIcon(stored);
                c->icon.Reset(copy);
            } else {
                HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 1);
                if (!list) return false;
                ImageList_AddIcon(list, icon);
                return ReplaceButtonImageList(c->handle, list, position);
            }
            return true;
        case ControlKind::kIconImage: {
            HICON copy = icon ? static_cast<HICON>(CopyImage(icon, IMAGE_ICON, 0, 0, 0)) : nullptr;
            auto previous =
                reinterpret_cast<HICON>(SendMessageW(c->handle, STM_SETICON, reinterpret_cast<WPARAM>(copy), 0));
            HICON stored = c->icon.Release();
            if (previous && previous != copy && previous != stored) DestroyIcon(previous);
            if (stored && stored != copy) DestroyIcon(stored);
            c->icon.Reset(copy);
            return true;
        }
        case ControlKind::kTabPage: {
            HWND tab = c->ownerTab;
            auto list = reinterpret_cast<HIMAGELIST>(SendMessageW(tab, TCM_GETIMAGELIST, 0, 0));
            if (!list) {
                list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 5, 3);
                if (!list) return false;
                SendMessageW(tab, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list));
            }
            TCITEMW item = {};
            item.mask = TCIF_IMAGE;
            item.iImage = ImageList_AddIcon(list, icon);
            const int at = position >= 0 ? position : tabItemOfPage(tab, resolve(index));
            return SendMessageW(tab, TCM_SETITEMW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item)) != 0;
        }
        default:
            return true;
    }
}

bool UiWindow::setBitmap(int index, int position, HBITMAP image, int width, int height) {
    UiControl* c = slot(index);
    if (!c) return false;
    IconCanvas blank;
    if (!image) {
        blank = CreateIconCanvas(width, height);
        image = blank.Handle();
    }
    switch (c->kind) {
        case ControlKind::kButton:
            if (position >= 0) {
                HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, 1, 1);
                if (!list) return false;
                ImageList_Add(list, image, nullptr);
                return ReplaceButtonImageList(c->handle, list, position);
            } else {
                HBITMAP copy = CopyBitmap(image);
                auto previous = reinterpret_cast<HGDIOBJ>(
                    SendMessageW(c->handle, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(copy)));
                HGDIOBJ stored = c->bitmap.Release();
                DeleteUnlessOurs(previous, {copy});
                if (stored != previous) DeleteUnlessOurs(stored, {copy});
                c->bitmap.Reset(copy);
            }
            return true;
        case ControlKind::kPicture: {
            HBITMAP copy = CopyBitmap(image);
            HGDIOBJ stored = c->bitmap.Release();
            SetStaticBitmap(c->handle, copy, {copy, stored});
            DeleteUnlessOurs(stored, {copy});
            c->bitmap.Reset(copy);
            invalidateInParent(c->handle);
            return true;
        }
        case ControlKind::kTabPage: {
            HWND tab = c->ownerTab;
            auto list = reinterpret_cast<HIMAGELIST>(SendMessageW(tab, TCM_GETIMAGELIST, 0, 0));
            if (!list) {
                list = ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, 5, 3);
                if (!list) return false;
                SendMessageW(tab, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list));
            }
            TCITEMW item = {};
            item.mask = TCIF_IMAGE;
            item.iImage = ImageList_Add(list, image, nullptr);
            const int at = position >= 0 ? position : tabItemOfPage(tab, resolve(index));
            return SendMessageW(tab, TCM_SETITEMW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item)) != 0;
        }
        default:
            return true;
    }
}

bool UiWindow::setBitmapFromImage(int index, const GdiplusImage& image, int width, int height) {
    GdiObjectHandle bitmap(bitmapFromImage(image, width, height));
    if (!bitmap) return false;
    return setBitmap(index, 0, static_cast<HBITMAP>(bitmap.Get()), width, height);
}

bool UiWindow::setBitmapFromPngResource(int index, int position, int number) {
    GdiplusImage image = loadPngResource(instance, number, 20, 20);
    GdiObjectHandle bitmap(bitmapFromImage(image, 20, 20));
    if (!bitmap) return false;
    return setBitmap(index, position, static_cast<HBITMAP>(bitmap.Get()), 20, 20);
}

bool UiWindow::setIconFromResource(int index, int position, HMODULE module) {
    IconHandle icon(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(109), IMAGE_ICON, 24, 24, 0)));
    if (!icon) return false;
    return setIcon(index, position, icon.Get(), 24);
}

int UiWindow::setDefaultButton(int index) {
    if (index == -1) index = count;
    const int previous = defaultButton;
    if (index == previous) return previous;
    auto restyle = [this](int button, bool isDefault) {
        const UiControl* c = control(button);
        if (!c || c->kind != ControlKind::kButton) return;
        DWORD style = static_cast<DWORD>(GetWindowLongW(c->handle, GWL_STYLE)) & 0xFFFF;
        style = isDefault ? style | BS_DEFPUSHBUTTON : style & ~static_cast<DWORD>(BS_DEFPUSHBUTTON);
        SendMessageW(c->handle, BM_SETSTYLE, style, TRUE);
    };
    restyle(previous, false);
    defaultButton = index;
    restyle(index, true);
    return previous;
}

bool UiWindow::redraw(int index) {
    const UiControl* c = control(index);
    if (!c) return false;
    return RedrawWindow(c->handle, nullptr, nullptr,
                        RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASENOW | RDW_FRAME) !=
           FALSE;
}

bool UiWindow::setLinkDefaults() {
    const UiControl* c = control(-1);
    if (!c || c->kind != ControlKind::kLink) return false;
    LITEM item = {};
    item.mask = LIF_ITEMINDEX | LIF_STATE;
    item.iLink = 0;
    item.state = LIS_DEFAULTCOLORS;
    item.stateMask = LIS_DEFAULTCOLORS;
    return SendMessageW(c->handle, LM_SETITEM, 0, reinterpret_cast<LPARAM>(&item)) != FALSE;
}

bool UiWindow::setProgressPosition(int index, int position) {
    const UiControl* c = control(index);
    if (!c || c->kind != ControlKind::kProgress) return false;
    SendMessageW(c->handle, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    return true;
}

bool UiWindow::setProgressMarquee(int index, bool on) {
    const UiControl* c = control(index);
    if (!c || c->kind != ControlKind::kProgress) return false;
    const LONG style = GetWindowLongW(c->handle, GWL_STYLE);
    SetWindowLongW(c->handle, GWL_STYLE, on ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
    SendMessageW(c->handle, PBM_SETMARQUEE, on ? TRUE : FALSE, 0);
    UpdateWindow(c->handle);
    return true;
}

int UiWindow::pageOfTabItem(HWND tab, int item) const {
    if (item < 0) return 0;
    TCITEMW data = {};
    data.mask = TCIF_PARAM;
    if (!SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&data))) return 0;
    const int page = static_cast<int>(data.lParam);
    const UiControl* c = control(page);
    return c && c->kind == ControlKind::kTabPage && c->ownerTab == tab ? page : 0;
}

int UiWindow::tabItemOfPage(HWND tab, int pageIndex) const {
    const int items = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
    for (int item = 0; item < items; ++item)
        if (pageIndex && pageOfTabItem(tab, item) == pageIndex) return item;
    return -1;
}

void UiWindow::placePageOverTab(HWND page, HWND tab, bool showPage) {
    RECT area = {};
    GetClientRect(tab, &area);
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    MapWindowPoints(tab, GetParent(tab), reinterpret_cast<POINT*>(&area), 2);
    SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOACTIVATE | (showPage ? SWP_SHOWWINDOW : 0));
}

bool UiWindow::removeControl(int index) {
    const int removed = resolve(index);
    if (!removed) return false;
    UiControl& c = controls[removed];
    HWND handle = c.handle;
    switch (c.kind) {
        case ControlKind::kTab: {
            const int items = static_cast<int>(SendMessageW(handle, TCM_GETITEMCOUNT, 0, 0));
            for (int item = items - 1; item >= 0; --item) {
                if (const int page = pageOfTabItem(handle, item))
                    removeControl(page);
                else
                    SendMessageW(handle, TCM_DELETEITEM, static_cast<WPARAM>(item), 0);
            }
            auto list = reinterpret_cast<HIMAGELIST>(SendMessageW(handle, TCM_SETIMAGELIST, 0, 0));
            if (list) ImageList_Destroy(list);
            if (controlParent == handle) controlParent = window;
            if (currentTab == removed) currentTab = 0;
            break;
        }
        case ControlKind::kButton:
            // The BM_SETIMAGE image is not cleared: Wine's version 6 button keeps a private copy of each image it
            // is given and frees only the current one, at WM_NCDESTROY, so a clearing message would leak it. The
            // button is destroyed below before the slot releases our own copy.
            ReplaceButtonImageList(handle, nullptr, 0);
            break;
        case ControlKind::kCheckBox:
        case ControlKind::kRadioButton:
            if (std::shared_ptr<CheckPair> pair = std::move(c.pair)) {
                SetStaticBitmap(controls[pair->imageIndex].handle, nullptr, {pair->checkedImage, pair->uncheckedImage});
                const int partner = removed == pair->imageIndex ? pair->labelIndex : pair->imageIndex;
                if (UiControl* other = slot(partner); other && other->pair == pair) {
                    other->pair.reset();
                    removeControl(partner);
                }
            }
            break;
        case ControlKind::kTabPage: {
            std::vector<int32_t> members = std::move(c.members);
            for (auto member = members.rbegin(); member != members.rend(); ++member) {
                // A member removed earlier may have left its index to a control elsewhere.
                const UiControl* m = control(*member);
                if (m && GetParent(m->handle) == handle) removeControl(*member);
            }
            if (IsWindow(c.ownerTab)) {
                const int item = tabItemOfPage(c.ownerTab, removed);
                if (item >= 0) SendMessageW(c.ownerTab, TCM_DELETEITEM, static_cast<WPARAM>(item), 0);
            }
            if (shownTabPage == handle) shownTabPage = nullptr;
            if (controlParent == handle) controlParent = window;
            if (currentTab == removed) currentTab = 0;
            break;
        }
        case ControlKind::kEdit:
            if (c.upDown && kindOf(c.upDown) == ControlKind::kUpDown) removeControl(c.upDown);
            break;
        case ControlKind::kUpDown: {
            const int edit = indexOfHandle(reinterpret_cast<HWND>(SendMessageW(handle, UDM_GETBUDDY, 0, 0)));
            if (edit && controls[edit].upDown == removed) controls[edit].upDown = 0;
            break;
        }
        case ControlKind::kIconImage: {
            auto previous = reinterpret_cast<HICON>(SendMessageW(handle, STM_SETICON, 0, 0));
            if (previous && previous != c.icon.Get()) DestroyIcon(previous);
            break;
        }
        case ControlKind::kPicture:
            SetStaticBitmap(handle, nullptr, {c.bitmap.Get()});
            break;
        default:
            break;
    }
    if (tooltipWindow) {
        TOOLINFOW tool = {};
        tool.cbSize = sizeof(tool);
        tool.hwnd = GetParent(handle);
        tool.uId = reinterpret_cast<UINT_PTR>(handle);
        SendMessageW(tooltipWindow, TTM_DELTOOL, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (IsWindow(handle)) {
        ShowWindow(handle, SW_HIDE);
        DestroyWindow(handle);
    }
    // A later control may take this index; it must not inherit the default-button or hover role.
    if (defaultButton == removed) defaultButton = 0;
    if (hoveredControl == removed) hoveredControl = 0;
    controls[removed] = UiControl{};
    if (removed == count)
        while (count > 0 && controls[count].inUse == 0)
            --count;
    return true;
}
