#include <windows.h>
// Defines the GUIDs oleacc.h declares (the annotation service and its property identifiers) in this unit.
#include <initguid.h>
#include <oleacc.h>
#include <commctrl.h>

#include <cwchar>

#include "sys/DynamicCalls.h"
#include "sys/Handles.h"
#include "ui/Accessibility.h"
#include "ui/Subclass.h"
#include "ui/UiWindow.h"

namespace {

constexpr DWORD kAnnouncementGapMs = 1000;
constexpr LONG kChildSelf = CHILDID_SELF;
// Not in every SDK's headers: the event that tells UI Automation clients a live region changed.
constexpr DWORD kEventLiveRegionChanged = 0x8019;
// UI Automation's NotificationKind_ActionCompleted and NotificationProcessing_MostRecent.
constexpr int kNotificationActionCompleted = 2;
constexpr int kNotificationMostRecent = 3;
constexpr wchar_t kStatusActivity[] = L"Glyphwright.Status";

// The default actions, named as the system names them for its own buttons.
constexpr wchar_t kCheckAction[] = L"选中";
constexpr wchar_t kUncheckAction[] = L"清除";
constexpr wchar_t kPressAction[] = L"按下";

constexpr LONG kPairStates = STATE_SYSTEM_CHECKED | STATE_SYSTEM_FOCUSED | STATE_SYSTEM_FOCUSABLE |
                             STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_READONLY;

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == kChildSelf;
}

// Frees a BSTR at the end of a scope.
class BstrOwner {
public:
    explicit BstrOwner(const wchar_t* text) : text_(SysAllocString(text)) {}
    ~BstrOwner() { SysFreeString(text_); }
    BstrOwner(const BstrOwner&) = delete;
    BstrOwner& operator=(const BstrOwner&) = delete;
    BSTR Get() const { return text_; }

private:
    BSTR text_;
};

}  // namespace

// IAccessible over the system's standard object of the window: every member asks the toolkit afresh, so the object
// needs nothing but the handle and is right for as long as a screen reader keeps it. COM methods catch everything.
class AccessibleControl final : public IAccessible, public IOleWindow {
public:
    AccessibleControl(HWND control, ComPtr<IAccessible> standard) : control_(control), standard_(std::move(standard)) {}
    AccessibleControl(const AccessibleControl&) = delete;
    AccessibleControl& operator=(const AccessibleControl&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IAccessible)) {
            *out = static_cast<IAccessible*>(this);
        } else if (IsEqualIID(iid, IID_IOleWindow)) {
            *out = static_cast<IOleWindow*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IOleWindow: how WindowFromAccessibleObject finds the control.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = control_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IDispatch: the standard object's.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument) override {
        return standard_->Invoke(id, iid, locale, flags, parameters, result, exception, argument);
    }

    // IAccessible: name, role, state and the default action of the control itself are the toolkit's.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        try {
            AccessibleFacts facts;
            if (!name) return E_POINTER;
            if (!IsSelf(child) || !Describe(facts) || facts.name.IsEmpty()) return standard_->get_accName(child, name);
            *name = SysAllocString(facts.name.Text());
            return *name ? S_OK : E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        try {
            AccessibleFacts facts;
            if (!role) return E_POINTER;
            if (!IsSelf(child) || !Describe(facts) || facts.role == 0) return standard_->get_accRole(child, role);
            VariantInit(role);
            role->vt = VT_I4;
            role->lVal = facts.role;
            return S_OK;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        try {
            const HRESULT standardResult = standard_->get_accState(child, state);
            AccessibleFacts facts;
            if (!IsSelf(child) || FAILED(standardResult) || state->vt != VT_I4 || !Describe(facts) || !facts.pair)
                return standardResult;
            LONG bits = state->lVal & ~kPairStates;
            bits |= STATE_SYSTEM_FOCUSABLE;
            if (facts.focused) bits |= STATE_SYSTEM_FOCUSED;
            if (facts.checked) bits |= STATE_SYSTEM_CHECKED;
            if (!IsWindowEnabled(control_)) bits |= STATE_SYSTEM_UNAVAILABLE;
            state->lVal = bits;
            return S_OK;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        try {
            AccessibleFacts facts;
            if (!action) return E_POINTER;
            if (!IsSelf(child) || !Describe(facts) || !facts.clicked)
                return standard_->get_accDefaultAction(child, action);
            const wchar_t* name = !facts.pair                             ? kPressAction
                                  : facts.role == ROLE_SYSTEM_RADIOBUTTON ? kCheckAction
                                  : facts.checked                         ? kUncheckAction
                                                                          : kCheckAction;
            *action = SysAllocString(name);
            return *action ? S_OK : E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    // The click is posted, as the system's own buttons do: the caller returns at once, and the page reads the event
    // from its loop as it reads a click.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        try {
            AccessibleFacts facts;
            if (!IsSelf(child) || !Describe(facts) || !facts.clicked) return standard_->accDoDefaultAction(child);
            UiWindow* owner = UiWindow::accessibleOwner(control_);
            HWND clicked = owner ? owner->handleOf(facts.clicked) : nullptr;
            if (!clicked || !IsWindowEnabled(clicked) || !IsWindowVisible(clicked)) return E_FAIL;
            return PostMessageW(GetParent(clicked), WM_COMMAND, MAKEWPARAM(facts.clicked, 0),
                                reinterpret_cast<LPARAM>(clicked))
                       ? S_OK
                       : E_FAIL;
        } catch (...) {
            return E_FAIL;
        }
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override {
        return standard_->get_accChild(child, dispatch);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return standard_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return standard_->get_accDescription(child, description);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return standard_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override { return standard_->get_accFocus(focus); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return standard_->get_accSelection(selection);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

private:
    ~AccessibleControl() = default;

    bool Describe(AccessibleFacts& facts) const {
        const UiWindow* owner = UiWindow::accessibleOwner(control_);
        return owner && owner->describeAccessible(control_, facts);
    }

    LONG references_ = 1;
    HWND control_;
    ComPtr<IAccessible> standard_;
};

LRESULT AnswerAccessibleObject(HWND control, WPARAM wParam) {
    const DynamicCalls& calls = Dynamic();
    if (!calls.createStdAccessibleObject || !calls.lresultFromObject) return 0;
    ComPtr<IAccessible> standard;
    if (FAILED(calls.createStdAccessibleObject(control, OBJID_CLIENT, IID_IAccessible, standard.ReceiveVoid())) ||
        !standard)
        return 0;
    auto* object = new (std::nothrow) AccessibleControl(control, std::move(standard));
    if (!object) return 0;
    // LresultFromObject holds its own reference for as long as the client needs one.
    const LRESULT answer = calls.lresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible*>(object));
    object->Release();
    return answer > 0 ? answer : 0;
}

bool AnnotateControl(HWND control, const WideString& name, int32_t role) {
    ComPtr<IAccPropServices> services;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                services.ReceiveVoid())))
        return false;
    if (!name.IsEmpty() &&
        FAILED(services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, name.Text())))
        return false;
    if (role != 0) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_I4;
        value.lVal = role;
        if (FAILED(services->SetHwndProp(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_ROLE, value))) {
            MSAAPROPID named[] = {PROPID_ACC_NAME};
            services->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, named, 1);
            return false;
        }
    }
    return true;
}

void AnnounceText(HWND control) {
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(kEventLiveRegionChanged, control, OBJID_CLIENT, CHILDID_SELF);
    const DynamicCalls& calls = Dynamic();
    if (!calls.uiaRaiseNotificationEvent || !calls.uiaHostProviderFromHwnd) return;
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) return;
    WideString text;
    wchar_t* buffer = text.Reserve(length, true);
    if (!buffer) return;
    GetWindowTextW(control, buffer, length + 1);
    text.Remeasure();
    ComPtr<IUnknown> provider;
    if (FAILED(calls.uiaHostProviderFromHwnd(control, provider.Receive())) || !provider) return;
    const BstrOwner display(text.Text());
    const BstrOwner activity(kStatusActivity);
    calls.uiaRaiseNotificationEvent(provider.Get(), kNotificationActionCompleted, kNotificationMostRecent,
                                    display.Get(), activity.Get());
}

WideString AccessibleNameOf(const wchar_t* text) {
    WideString name;
    if (!text) return name;
    // Link markup: only the text between the tags is read.
    for (const wchar_t* at = text; *at; ++at) {
        if (*at == L'<') {
            const wchar_t* end = wcschr(at, L'>');
            if (end) {
                at = end;
                continue;
            }
        }
        const wchar_t unit[2] = {*at, 0};
        name.Append(unit);
    }
    name.Trim();
    if (name.EndsWith(L":", true) || name.EndsWith(L"：", true)) name.DropRight(1).Trim();
    return name;
}

bool UiWindow::setAccessibleName(int index, const wchar_t* name) {
    UiControl* c = slot(index);
    if (!c) return false;
    c->accessibleName = AccessibleNameOf(name);
    makeAccessible(index);
    return true;
}

bool UiWindow::setAccessibleRole(int index, int32_t role) {
    UiControl* c = slot(index);
    if (!c) return false;
    c->accessibleRole = role;
    makeAccessible(index);
    return true;
}

bool UiWindow::setLiveRegion(int index) {
    UiControl* c = slot(index);
    if (!c) return false;
    c->liveRegion = true;
    makeAccessible(index);
    return true;
}

LRESULT UiWindow::answerGetObject(HWND control, WPARAM wParam, LPARAM lParam) {
    const int index = indexOfHandle(control);
    UiControl* c = slot(index);
    if (!c) return DefaultSubclassProc(control, WM_GETOBJECT, wParam, lParam);
    const bool acts = c->isPair() || c->accessibleRole == ROLE_SYSTEM_PUSHBUTTON;
    if (!acts) {
        // Only a name and a role to give: through the system's object where it takes annotations (asked once), and
        // never over an object the control makes itself (a link's, on Windows).
        const bool described = !c->accessibleName.IsEmpty() || c->accessibleRole != 0;
        if (described && c->annotation == 0)
            c->annotation = AnnotateControl(control, c->accessibleName, c->accessibleRole) ? 1 : -1;
        if (c->annotation == 1) return DefaultSubclassProc(control, WM_GETOBJECT, wParam, lParam);
        if (const LRESULT own = DefaultSubclassProc(control, WM_GETOBJECT, wParam, lParam)) return own;
    }
    return AnswerAccessibleObject(control, wParam);
}

bool UiWindow::describeAccessible(HWND control, AccessibleFacts& facts) const {
    const int index = indexOfHandle(control);
    const UiControl* c = this->control(index);
    if (!c) return false;
    facts.name = c->accessibleName;
    facts.role = c->accessibleRole;
    if (c->isPair() && c->pair) {
        const CheckPair& pair = *c->pair;
        HWND label = handleOf(pair.labelIndex);
        wchar_t caption[512] = {};
        if (label) GetWindowTextW(label, caption, 512);
        facts.name = AccessibleNameOf(caption);
        facts.role = c->kind == ControlKind::kCheckBox ? ROLE_SYSTEM_CHECKBUTTON : ROLE_SYSTEM_RADIOBUTTON;
        facts.pair = true;
        facts.checked = pair.state == kStateChecked;
        facts.focused = label && GetFocus() == label;
        facts.clicked = pair.labelIndex;
    } else if (c->kind == ControlKind::kTab && facts.name.IsEmpty()) {
        // A tab control is named by the page it shows.
        wchar_t title[256] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = title;
        item.cchTextMax = 256;
        const LRESULT shown = SendMessageW(control, TCM_GETCURSEL, 0, 0);
        if (shown >= 0 &&
            SendMessageW(control, TCM_GETITEMW, static_cast<WPARAM>(shown), reinterpret_cast<LPARAM>(&item)))
            facts.name = AccessibleNameOf(title);
    } else if (facts.role == ROLE_SYSTEM_PUSHBUTTON) {
        facts.clicked = index;
    }
    return true;
}

void UiWindow::announceChange(int index) {
    UiControl* c = slot(index);
    if (!c || !c->liveRegion) return;
    const DWORD now = GetTickCount();
    const DWORD since = now - c->announcedAt;
    if (c->announcedAt != 0 && since < kAnnouncementGapMs) {
        if (!c->announcementDue) {
            c->announcementDue = true;
            SetTimer(c->handle, kAnnouncementTimer, kAnnouncementGapMs - since, nullptr);
        }
        return;
    }
    c->announcedAt = now ? now : 1;
    AnnounceText(c->handle);
}

void UiWindow::announceDue(HWND control) {
    KillTimer(control, kAnnouncementTimer);
    UiControl* c = slot(indexOfHandle(control));
    if (!c || !c->announcementDue) return;
    c->announcementDue = false;
    c->announcedAt = 0;
    announceChange(indexOfHandle(control));
}

void UiWindow::notifyPairState(const CheckPair& pair) {
    for (int part : {pair.imageIndex, pair.labelIndex})
        if (HWND handle = handleOf(part)) NotifyWinEvent(EVENT_OBJECT_STATECHANGE, handle, OBJID_CLIENT, CHILDID_SELF);
}
