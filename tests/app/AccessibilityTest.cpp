// The main window as a screen reader reads it: every child of the three pages through AccessibleObjectFromWindow,
// a size box toggled through its default action, the status line's announcements and the names along the tab order.
// Wine's oleacc does not cross processes, so the reader is this process. RequiresDisplay: run under xvfb.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "MainWindowFixture.h"
#include "sys/Handles.h"

namespace {

struct Reading {
    bool found = false;
    std::wstring name;
    LONG role = 0;
    LONG state = 0;
    std::wstring action;
};

VARIANT Self() {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

// The object a screen reader gets for a window, through oleacc as a screen reader loads it.
ComPtr<IAccessible> ObjectOf(HWND control) {
    using FromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    static const auto fromWindow = reinterpret_cast<FromWindow>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow")));
    ComPtr<IAccessible> object;
    if (fromWindow) fromWindow(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible, object.ReceiveVoid());
    return object;
}

std::wstring TakeText(BSTR text) {
    std::wstring taken = text ? text : L"";
    SysFreeString(text);
    return taken;
}

// What a screen reader reads of a window's client object.
Reading Read(HWND control) {
    Reading reading;
    ComPtr<IAccessible> object = ObjectOf(control);
    if (!object) return reading;
    reading.found = true;
    BSTR text = nullptr;
    if (object->get_accName(Self(), &text) == S_OK) reading.name = TakeText(text);
    text = nullptr;
    if (object->get_accDefaultAction(Self(), &text) == S_OK) reading.action = TakeText(text);
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(object->get_accRole(Self(), &value)) && value.vt == VT_I4) reading.role = value.lVal;
    VariantClear(&value);
    if (SUCCEEDED(object->get_accState(Self(), &value)) && value.vt == VT_I4) reading.state = value.lVal;
    VariantClear(&value);
    return reading;
}

// A caption as a name: without the leading space of a box's caption and the colon of a label.
std::wstring AsName(std::wstring caption) {
    caption.erase(0, caption.find_first_not_of(L' '));
    if (!caption.empty() && caption.back() == L':') caption.pop_back();
    return caption;
}

// Name changes raised in this process, with the text the window showed when each was raised.
struct NameChange {
    HWND window;
    std::wstring text;
};
std::vector<NameChange> nameChanges;

void CALLBACK NoteNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (object != OBJID_CLIENT || child != CHILDID_SELF) return;
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    nameChanges.push_back({window, text});
}

class AccessibilityTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override { ShowMainWindow(); }

    SingleIconPage& page() { return main->single; }
    Reading ReadControl(int index) { return Read(w().handleOf(index)); }
    // The tip text the page gave a control, read back from the window's tooltip.
    std::wstring TipOf(int index) {
        wchar_t text[512] = {};
        TOOLINFOW tool = {};
        tool.cbSize = sizeof(tool);
        tool.hwnd = GetParent(w().handleOf(index));
        tool.uId = reinterpret_cast<UINT_PTR>(w().handleOf(index));
        tool.lpszText = text;
        SendMessageW(w().tooltipWindow, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
        return text;
    }
    void PumpFor(DWORD milliseconds) {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < milliseconds; Sleep(10))
            while (app.NextEvent(false))
                main->Dispatch();
    }
    void ShowPage(int position) {
        TabCtrl_SetCurFocus(w().handleOf(main->tab), position);
        Pump();
    }
    size_t ChangesOf(int index) {
        size_t count = 0;
        for (const NameChange& change : nameChanges)
            count += change.window == w().handleOf(index);
        return count;
    }

    ComScope com;
};

TEST_F(AccessibilityTest, DrawnBoxesAndRadiosReadAsTheirCaptionsRolesAndStatesOnBothHalves) {
    // Every pair of the three pages, checked and unchecked as the pages start.
    int pairs = 0;
    for (int index = 1; index <= w().controlCount(); ++index) {
        const UiControl* c = w().control(index);
        if (!c || !c->isPair()) continue;
        ++pairs;
        const Reading reading = ReadControl(index);
        const bool box = c->kind == ControlKind::kCheckBox;
        SCOPED_TRACE(testing::Message() << "control " << index << " " << testing_support::Narrow(reading.name.c_str()));
        EXPECT_EQ(reading.name, AsName(Text(c->pair->labelIndex)));
        EXPECT_EQ(reading.role, box ? ROLE_SYSTEM_CHECKBUTTON : ROLE_SYSTEM_RADIOBUTTON);
        EXPECT_EQ((reading.state & STATE_SYSTEM_CHECKED) != 0, Checked(index));
        EXPECT_NE(reading.state & STATE_SYSTEM_FOCUSABLE, 0);
        EXPECT_EQ(reading.state & STATE_SYSTEM_UNAVAILABLE, 0);
        EXPECT_FALSE(reading.action.empty());
    }
    EXPECT_EQ(pairs, 2 * (3 + 16 + 3 + 16 + 2));

    // Focus and a greyed box, on both halves of the 16x16 box.
    const int box = page().formats.sizeBoxes[0];
    w().setState(box, kStateFocus);
    for (int half : {box - 1, box}) {
        EXPECT_EQ(ReadControl(half).name, L"16x16") << half;
        EXPECT_NE(ReadControl(half).state & STATE_SYSTEM_FOCUSED, 0) << half;
    }
    w().setState(box, kStateDisable);
    for (int half : {box - 1, box})
        EXPECT_NE(ReadControl(half).state & STATE_SYSTEM_UNAVAILABLE, 0) << half;
    w().setState(box, kStateEnable);
}

TEST_F(AccessibilityTest, HeaderButtonsPickerAndPreviewsHaveNamesAndRoles) {
    const struct {
        int index;
        std::wstring name;
        LONG role;
    } cases[] = {
        {app.header.minimizeButton, L"最小化", ROLE_SYSTEM_PUSHBUTTON},
        {app.header.closeButton, L"关闭", ROLE_SYSTEM_PUSHBUTTON},
        {page().picker, TipOf(page().picker), ROLE_SYSTEM_PUSHBUTTON},
        {page().preview32, AsName(Text(page().preview32Label)), ROLE_SYSTEM_GRAPHIC},
        {page().preview128, AsName(Text(page().preview128Label)), ROLE_SYSTEM_GRAPHIC},
    };
    for (const auto& expected : cases) {
        const Reading reading = ReadControl(expected.index);
        SCOPED_TRACE(testing_support::Narrow(expected.name.c_str()));
        EXPECT_FALSE(expected.name.empty());
        EXPECT_EQ(reading.name, expected.name);
        EXPECT_EQ(reading.role, expected.role);
        EXPECT_EQ(reading.action.empty(), expected.role != ROLE_SYSTEM_PUSHBUTTON);
    }
    EXPECT_EQ(ReadControl(page().preview128).name, L"预览 128x128 像素");
}

TEST_F(AccessibilityTest, TheDefaultActionClicksABoxOrRadioAsTheMouseDoes) {
    const FormatControls& formats = page().formats;
    // A refused create leaves a status line; the page's own handler of a box clears it.
    Click(page().createButton);
    ASSERT_FALSE(Text(page().singleStatus).empty());
    const bool before = page().ReadOptions().sizes[0];
    struct Step {
        int half;
        bool sizeChecked;
        FitMode fit;
    };
    const Step steps[] = {
        {formats.sizeBoxes[0] - 1, !before, FitMode::kCenter},  // the image half
        {formats.sizeBoxes[0], before, FitMode::kCenter},       // the label half
        {formats.fitCrop, before, FitMode::kCrop},
        {formats.fitStretch - 1, before, FitMode::kStretch},
    };
    w().setState(formats.fitCenter, kStateChecked);
    for (const Step& step : steps) {
        ComPtr<IAccessible> object = ObjectOf(w().handleOf(step.half));
        ASSERT_TRUE(object);
        EXPECT_EQ(object->accDoDefaultAction(Self()), S_OK) << step.half;
        Pump();
        const IconFormatSet set = page().ReadOptions();
        EXPECT_EQ(set.sizes[0], step.sizeChecked) << step.half;
        EXPECT_EQ(set.fit, step.fit) << step.half;
        EXPECT_EQ((ReadControl(step.half).state & STATE_SYSTEM_CHECKED) != 0, Checked(step.half)) << step.half;
    }
    EXPECT_EQ(Text(page().singleStatus), L"");

    // A greyed box refuses, as it refuses a click.
    w().setState(formats.sizeBoxes[1], kStateDisable);
    const bool greyed = Checked(formats.sizeBoxes[1]);
    EXPECT_NE(ObjectOf(w().handleOf(formats.sizeBoxes[1]))->accDoDefaultAction(Self()), S_OK);
    Pump();
    EXPECT_EQ(Checked(formats.sizeBoxes[1]), greyed);
}

TEST_F(AccessibilityTest, StatusLinesAnnounceChangesAtMostOnceASecondEndingWithTheLatestText) {
    nameChanges.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, NoteNameChange,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);

    Click(page().createButton);
    EXPECT_EQ(ChangesOf(page().singleStatus), 1u) << "a refused create is announced";

    // Progress every 100 ms for half a second, then the result: the first line at once, the result a second later.
    const int status = main->batch.batchStatus;
    for (int step = 1; step <= 5; ++step) {
        w().setText(status, (L"已完成 " + std::to_wstring(step)).c_str());
        PumpFor(100);
    }
    w().setText(status, L"图标创建操作成功完成");
    PumpFor(300);
    EXPECT_EQ(ChangesOf(status), 1u) << "within the first second";
    PumpFor(1000);
    ASSERT_EQ(ChangesOf(status), 2u);
    EXPECT_EQ(nameChanges.back().text, L"图标创建操作成功完成");
    // The same text again is no change.
    w().setText(status, L"图标创建操作成功完成");
    PumpFor(1200);
    EXPECT_EQ(ChangesOf(status), 2u);
    UnhookWinEvent(hook);
}

TEST_F(AccessibilityTest, EveryTabStopOfEveryPageHasANameAndARole) {
    for (int shown = 0; shown < MainWindow::kPageCount; ++shown) {
        ShowPage(shown);
        w().setState(main->tab, kStateFocus);
        std::vector<HWND> visited;
        do {
            HWND focus = GetFocus();
            visited.push_back(focus);
            const Reading reading = Read(focus);
            wchar_t className[64] = {};
            GetClassNameW(focus, className, 64);
            SCOPED_TRACE(testing::Message() << "page " << shown << ", stop " << visited.size() << " ("
                                            << testing_support::Narrow(className) << ")");
            EXPECT_TRUE(reading.found);
            EXPECT_FALSE(reading.name.empty());
            EXPECT_EQ(reading.name.find(L'<'), std::wstring::npos) << "a link is read without its markup";
            EXPECT_NE(reading.role, 0);
            EXPECT_NE(reading.state & STATE_SYSTEM_FOCUSED, 0);
            PostMessageW(focus, WM_KEYDOWN, VK_TAB, 0);
            Pump();
        } while (GetFocus() != visited.front() && visited.size() < 80);
        EXPECT_GT(visited.size(), 5u) << "page " << shown;
        EXPECT_EQ(GetFocus(), visited.front()) << "page " << shown;
    }
}

}  // namespace
