// The control set of a toolkit window, driven with real messages. RequiresDisplay: run under xvfb.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "engine/Imaging.h"
#include "ui/UiWindow.h"

namespace {

using testing_support::Narrow;

class ControlSetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        imaging = new ImagingSession;
        checked = CreateBitmap(14, 14, 1, 32, nullptr);
        unchecked = CreateBitmap(14, 14, 1, 32, nullptr);
    }
    static void TearDownTestSuite() {
        DeleteObject(checked);
        DeleteObject(unchecked);
        delete imaging;
    }
    void SetUp() override { ASSERT_TRUE(window.create(L"GwControlSetTest", L"controls", 660, 500, 0, 0)); }

    int next() { return UiWindow::pumpEvent(events, kPumpPoll); }
    int addCheck(const wchar_t* text, int state) {
        return window.addCheckBox(text, checked, unchecked, 0, 0, 80, state);
    }
    int addRadio(const wchar_t* text, int state) {
        return window.addRadioButton(text, checked, unchecked, 0, 0, 80, state);
    }
    uint32_t checkState(int index) { return window.getState(index, kStateChecked | kStateUnchecked); }
    HBITMAP shownImage(int imageIndex) {
        return reinterpret_cast<HBITMAP>(window.sendMessage(imageIndex, STM_GETIMAGE, IMAGE_BITMAP, 0));
    }

    static ImagingSession* imaging;
    static HBITMAP checked, unchecked;
    UiEventSlot events;
    UiWindow window{&events};
};
ImagingSession* ControlSetTest::imaging = nullptr;
HBITMAP ControlSetTest::checked = nullptr;
HBITMAP ControlSetTest::unchecked = nullptr;

TEST_F(ControlSetTest, CreatorsMakeTheirKindWithIndexesAsIdentifiers) {
    const int edit = window.addEdit(L"", 0, 0, 50, 20, WS_VISIBLE);
    struct Case {
        const char* name;
        int index;
        ControlKind kind;
        const wchar_t* className;
    };
    const Case cases[] = {
        {"button", window.addButton(L"b", 0, 0, 50, 20), ControlKind::kButton, L"Button"},
        {"label", window.addLabel(L"l", 0, 0, 50, 20), ControlKind::kLabel, L"Static"},
        {"edit", edit, ControlKind::kEdit, L"Edit"},
        {"up-down", window.addUpDown(edit), ControlKind::kUpDown, UPDOWN_CLASSW},
        {"link", window.addLink(L"<a href=\"https://example.org\">x</a>", 0, 0, 50, 20), ControlKind::kLink, WC_LINK},
        {"icon", window.addIconImage(LoadIconW(nullptr, IDI_APPLICATION), 0, 0, 32, 32), ControlKind::kIconImage,
         L"Static"},
        {"picture", window.addPicture(checked, 0, 0, 14, 14), ControlKind::kPicture, L"Static"},
        {"progress", window.addProgress(0, 0, 50, 10), ControlKind::kProgress, PROGRESS_CLASSW},
        {"check box", addCheck(L"c", 4), ControlKind::kCheckBox, L"Static"},
        {"radio button", addRadio(L"r", 8), ControlKind::kRadioButton, L"Static"},
        {"close button", window.addCloseButton(), ControlKind::kPicture, L"Static"},
        {"tab", window.addTab(0, 0, 200, 150), ControlKind::kTab, WC_TABCONTROLW},
    };
    for (const Case& c : cases) {
        ASSERT_GT(c.index, 0) << c.name;
        HWND handle = window.handleOf(c.index);
        EXPECT_EQ(window.kindOf(c.index), c.kind) << c.name;
        EXPECT_EQ(GetWindowLongPtrW(handle, GWLP_ID), c.index) << c.name;
        EXPECT_EQ(window.indexOfHandle(handle), c.index) << c.name;
        wchar_t className[64] = {};
        GetClassNameW(handle, className, 64);
        EXPECT_EQ(lstrcmpiW(className, c.className), 0) << c.name << ": " << Narrow(className);
    }
    EXPECT_EQ(window.handleOf(-1), window.handleOf(window.controlCount()));
    EXPECT_EQ(window.handleOf(0), window.window);
    EXPECT_EQ(window.handleOf(9999), nullptr);
    EXPECT_EQ(window.indexOfHandle(window.window), 0);
}

TEST_F(ControlSetTest, CreatorsUseTheirFixedStylesAndTheGroupFlagOnce) {
    window.flags |= kWindowGroupNext;
    const int first = window.addLabel(L"group start", 0, 0, 10, 10);
    const int second = window.addLabel(L"next", 0, 0, 10, 10);
    const int readOnly = window.addEdit(L"", 0, 0, 10, 10, WS_VISIBLE | ES_READONLY, 0);
    const int writable = window.addEdit(L"", 0, 0, 10, 10, WS_VISIBLE, -1);
    const int progress = window.addProgress(0, 0, 10, 10);
    const int pairLabel = addCheck(L"pair", 8);
    auto style = [this](int index) { return static_cast<DWORD>(GetWindowLongW(window.handleOf(index), GWL_STYLE)); };
    EXPECT_NE(style(first) & WS_GROUP, 0u);
    EXPECT_EQ(style(second) & WS_GROUP, 0u);
    EXPECT_EQ(style(second) & (WS_VISIBLE | SS_NOTIFY), static_cast<DWORD>(WS_VISIBLE | SS_NOTIFY));
    EXPECT_EQ(style(readOnly) & WS_TABSTOP, 0u);
    EXPECT_NE(style(writable) & WS_TABSTOP, 0u);
    EXPECT_NE(GetWindowLongW(window.handleOf(writable), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(style(progress), 0x50000001u);
    EXPECT_EQ(style(pairLabel - 1) & 0xFFFF0FFFu, 0x5000014Eu & 0xFFFF0FFFu);
    EXPECT_EQ(style(pairLabel), 0x50010300u);
    RECT image, label;
    GetWindowRect(window.handleOf(pairLabel - 1), &image);
    GetWindowRect(window.handleOf(pairLabel), &label);
    EXPECT_EQ(image.right - image.left, 14);
    EXPECT_EQ(label.left, image.right);
    EXPECT_EQ(label.right - label.left, 80 - 14);
}

TEST_F(ControlSetTest, TableStartsAtFiveHundredTwelveSlotsAndDoublesWithIndexesKept) {
    std::vector<HWND> handles;
    for (int i = 1; i <= 509; ++i) {
        ASSERT_EQ(window.addLabel(L"", 0, 0, 1, 1, 0), i);
        handles.push_back(window.handleOf(i));
    }
    EXPECT_EQ(window.capacity, 512);
    ASSERT_EQ(window.addLabel(L"", 0, 0, 1, 1, 0), 510);
    handles.push_back(window.handleOf(510));
    EXPECT_EQ(window.capacity, 1024);
    for (int i = 1; i <= 510; ++i) {
        ASSERT_EQ(window.handleOf(i), handles[i - 1]) << i;
        ASSERT_EQ(window.indexOfHandle(handles[i - 1]), i) << i;
    }
}

TEST_F(ControlSetTest, RemovingAControlInTheMiddleLeavesItsIndexUnused) {
    const int a = window.addLabel(L"a", 0, 0, 10, 10);
    const int b = window.addLabel(L"b", 0, 0, 10, 10);
    const int c = window.addLabel(L"c", 0, 0, 10, 10);
    HWND middle = window.handleOf(b);
    EXPECT_TRUE(window.removeControl(b));
    EXPECT_FALSE(IsWindow(middle));
    EXPECT_EQ(window.control(b), nullptr);
    EXPECT_FALSE(window.removeControl(b));
    EXPECT_EQ(window.controlCount(), 3);
    EXPECT_EQ(window.addLabel(L"d", 0, 0, 10, 10), 4);
    // Removing the last ones lets the count fall below every trailing free slot.
    window.removeControl(4);
    window.removeControl(c);
    EXPECT_EQ(window.controlCount(), a);
    EXPECT_EQ(window.addLabel(L"e", 0, 0, 10, 10), 2);
}

TEST_F(ControlSetTest, ButtonClickYieldsItsIndex) {
    const int button = window.addButton(L"press", 10, 10, 80, 25);
    events.closeRequested = 1;
    SendMessageW(window.handleOf(button), BM_CLICK, 0, 0);
    EXPECT_EQ(next(), button);
    EXPECT_EQ(events.param1, BN_CLICKED);
    EXPECT_EQ(events.param2, reinterpret_cast<intptr_t>(window.handleOf(button)));
    EXPECT_EQ(events.message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(events.closeRequested, 0);
}

TEST_F(ControlSetTest, CheckBoxLabelOrImageClickTogglesThePairAndReportsTheLabel) {
    const int label = addCheck(L"toggle", 8);
    const int image = label - 1;
    ASSERT_EQ(shownImage(image), unchecked);
    struct Case {
        const char* name;
        int clicked;
        uint32_t after;
    };
    const Case cases[] = {
        {"label", label, kStateChecked},
        {"image", image, kStateUnchecked},
        {"label again", label, kStateChecked},
    };
    for (const Case& c : cases) {
        SendMessageW(window.handleOf(c.clicked), WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageW(window.handleOf(c.clicked), WM_LBUTTONUP, 0, 0);
        EXPECT_EQ(next(), label) << c.name;
        EXPECT_EQ(events.param2, reinterpret_cast<intptr_t>(window.handleOf(c.clicked))) << c.name;
        EXPECT_EQ(checkState(label), c.after) << c.name;
        EXPECT_EQ(checkState(image), c.after) << c.name;
        EXPECT_EQ(shownImage(image), c.after == kStateChecked ? checked : unchecked) << c.name;
    }
    // An accelerator command (notification 1 without a control) counts as a click.
    SendMessageW(window.window, WM_COMMAND, MAKEWPARAM(label, 1), 0);
    EXPECT_EQ(next(), label);
    EXPECT_EQ(checkState(label), static_cast<uint32_t>(kStateUnchecked));
}

TEST_F(ControlSetTest, CheckingARadioButtonUnchecksItsRunUpToAnotherKind) {
    const int a = addRadio(L"a", 4);
    const int box = addCheck(L"box", 4);
    const int b = addRadio(L"b", 8);
    window.addLabel(L"caption", 0, 0, 10, 10);
    const int c = addRadio(L"c", 4);
    window.addButton(L"wall", 0, 0, 10, 10);
    const int d = addRadio(L"d", 4);
    const int e = addRadio(L"e", 8);
    struct Case {
        const char* name;
        int clicked;
        uint32_t a, box, b, c, d, e;
    };
    constexpr uint32_t on = kStateChecked, off = kStateUnchecked;
    const Case cases[] = {
        {"b: the run before and after it, across a check box and a label", b, off, on, on, off, on, off},
        {"e: only its side of the button", e, off, on, on, off, off, on},
        {"a checked again", a, on, on, off, off, off, on},
    };
    for (const Case& test : cases) {
        SendMessageW(window.handleOf(test.clicked), WM_LBUTTONDOWN, MK_LBUTTON, 0);
        EXPECT_EQ(next(), test.clicked) << test.name;
        const uint32_t got[] = {checkState(a), checkState(box), checkState(b),
                                checkState(c), checkState(d),   checkState(e)};
        const uint32_t want[] = {test.a, test.box, test.b, test.c, test.d, test.e};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(got[i], want[i]) << test.name << " control " << i;
    }
    // A click on a checked radio button keeps it checked.
    SendMessageW(window.handleOf(a - 1), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(next(), a);
    EXPECT_EQ(checkState(a), on);
}

TEST_F(ControlSetTest, SetStateAppliesTheFirstNamedBitOfEachPair) {
    const int label = addCheck(L"pair", 8);
    const int plain = window.addLabel(L"plain", 0, 0, 10, 10);
    struct Case {
        const char* name;
        int index;
        uint32_t set;
        uint32_t mask;
        uint32_t expected;
    };
    const Case cases[] = {
        {"checked wins", label, kStateChecked | kStateUnchecked, kStateChecked | kStateUnchecked, kStateChecked},
        {"unchecked", label, kStateUnchecked, kStateChecked | kStateUnchecked, kStateUnchecked},
        {"hide wins over show", label, kStateHide | kStateShow, kStateHide | kStateShow, kStateHide},
        {"show", label, kStateShow, kStateHide | kStateShow, kStateShow},
        {"enable wins over disable", label, kStateEnable | kStateDisable, kStateEnable | kStateDisable, kStateEnable},
        {"disable", label, kStateDisable, kStateEnable | kStateDisable, kStateDisable},
        {"plain label ignores checked", plain, kStateChecked, kStateChecked | kStateUnchecked, 0},
        {"plain label hides", plain, kStateHide, kStateHide | kStateShow, kStateHide},
        {"plain label disables", plain, kStateDisable, kStateEnable | kStateDisable | kStateHide,
         kStateDisable | kStateHide},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(window.setState(c.index, c.set)) << c.name;
        EXPECT_EQ(window.getState(c.index, c.mask), c.expected) << c.name;
    }
    // Both halves of a pair follow.
    EXPECT_FALSE(IsWindowEnabled(window.handleOf(label - 1)));
    EXPECT_EQ(GetWindowLongW(window.handleOf(label - 1), GWL_STYLE) & WS_VISIBLE, WS_VISIBLE);
    EXPECT_FALSE(window.setState(999, kStateShow));
    EXPECT_EQ(window.getState(999, 0xFFFF), 0u);
}

TEST_F(ControlSetTest, TextOfControls) {
    const int edit = window.addEdit(L"", 0, 0, 100, 20, WS_VISIBLE);
    const WideString& empty = window.getText(edit);
    ASSERT_NE(empty.Text(), nullptr);
    EXPECT_TRUE(empty.IsEmpty());
    struct Case {
        const char* name;
        int index;
        const wchar_t* text;
    };
    const int label = window.addLabel(L"", 0, 0, 100, 20);
    const Case cases[] = {
        {"edit", edit, L"C:\\图标\\a.ico"},
        {"label", label, L"状态"},
        {"empty again", edit, L""},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(window.setText(c.index, c.text)) << c.name;
        EXPECT_EQ(Narrow(window.getText(c.index).Text()), Narrow(c.text)) << c.name;
    }
    EXPECT_TRUE(window.getText(4242).IsEmpty());
    EXPECT_FALSE(window.setText(4242, L"x"));
}

TEST_F(ControlSetTest, CommandNotificationsBecomeEvents) {
    const int edit = window.addEdit(L"", 0, 0, 100, 20, WS_VISIBLE);
    const int label = window.addLabel(L"l", 0, 0, 10, 10);
    const int picture = window.addPicture(checked, 0, 0, 14, 14);
    const int icon = window.addIconImage(LoadIconW(nullptr, IDI_APPLICATION), 0, 0, 32, 32);
    struct Case {
        const char* name;
        int index;
        WORD notification;
        int code;
        int param1;
    };
    const Case cases[] = {
        {"edit update", edit, EN_UPDATE, kEventEditUpdate, edit},
        {"edit change", edit, EN_CHANGE, kEventEditChange, edit},
        {"edit focus", edit, EN_SETFOCUS, kEventEditSetFocus, edit},
        {"edit focus lost", edit, EN_KILLFOCUS, kEventEditKillFocus, edit},
        {"edit full: no event", edit, EN_MAXTEXT, 0, 0},
        {"label click", label, STN_CLICKED, label, STN_CLICKED},
        {"label double click", label, STN_DBLCLK, kEventDoubleClick, label},
        {"picture double click", picture, STN_DBLCLK, kEventDoubleClick, picture},
        {"icon double click", icon, STN_DBLCLK, kEventDoubleClick, icon},
        {"label, other notification", label, STN_ENABLE, 0, 0},
    };
    for (const Case& c : cases) {
        SendMessageW(window.window, WM_COMMAND, MAKEWPARAM(c.index, c.notification),
                     reinterpret_cast<LPARAM>(window.handleOf(c.index)));
        EXPECT_EQ(next(), c.code) << c.name;
        EXPECT_EQ(events.param1, c.param1) << c.name;
    }
    // A real edit change reports the edit too.
    window.setText(edit, L"typed");
    EXPECT_EQ(next(), kEventEditChange);
    EXPECT_EQ(events.param2, reinterpret_cast<intptr_t>(window.handleOf(edit)));
}

TEST_F(ControlSetTest, NotifyCodesBecomeEvents) {
    const int link = window.addLink(L"<a href=\"https://example.org/help\">help</a>", 0, 0, 100, 20);
    const int button = window.addButton(L"b", 0, 0, 10, 10);
    NMLINK click = {};
    click.hdr.hwndFrom = window.handleOf(link);
    click.hdr.idFrom = static_cast<UINT_PTR>(link);
    click.hdr.code = NM_CLICK;
    click.item.iLink = 0;
    wcscpy(click.item.szUrl, L"https://example.org/help");
    EXPECT_EQ(SendMessageW(window.window, WM_NOTIFY, link, reinterpret_cast<LPARAM>(&click)), 0);
    EXPECT_EQ(next(), link);
    EXPECT_EQ(events.param1, 0);
    EXPECT_EQ(Narrow(reinterpret_cast<const wchar_t*>(events.param2)), "https://example.org/help");

    struct Case {
        const char* name;
        UINT code;
        int expected;
    };
    const Case cases[] = {
        {"return", static_cast<UINT>(NM_RETURN), kEventReturn},
        {"double click", static_cast<UINT>(NM_DBLCLK), kEventDoubleClick},
        {"focus: no event", static_cast<UINT>(NM_SETFOCUS), 0},
    };
    for (const Case& c : cases) {
        NMHDR header = {window.handleOf(button), static_cast<UINT_PTR>(button), c.code};
        SendMessageW(window.window, WM_NOTIFY, button, reinterpret_cast<LPARAM>(&header));
        EXPECT_EQ(next(), c.expected) << c.name;
        if (c.expected) {
            EXPECT_EQ(events.param1, button) << c.name;
        }
    }
}

TEST_F(ControlSetTest, TabSelectionShowsTheNewPageAndHidesTheOld) {
    const int tab = window.addTab(4, 62, 400, 300);
    const int first = window.addTabPage(tab, 0, L"one");
    const int firstMember = window.addLabel(L"on page one", 5, 5, 80, 20);
    const int second = window.addTabPage(tab, 1, L"two");
    const int secondMember = addCheck(L"on page two", 8);
    ASSERT_GT(second, 0);
    HWND tabHandle = window.handleOf(tab);
    EXPECT_EQ(window.control(first)->ownerTab, tabHandle);
    EXPECT_EQ(GetParent(window.handleOf(firstMember)), window.handleOf(first));
    EXPECT_EQ(window.control(first)->members, std::vector<int32_t>{firstMember});
    EXPECT_EQ(window.control(second)->members, (std::vector<int32_t>{secondMember - 1, secondMember}));
    EXPECT_NE(GetWindowLongW(window.handleOf(first), GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_EQ(GetWindowLongW(window.handleOf(second), GWL_STYLE) & WS_VISIBLE, 0);

    NMHDR changing = {tabHandle, static_cast<UINT_PTR>(tab), static_cast<UINT>(TCN_SELCHANGING)};
    SendMessageW(window.window, WM_NOTIFY, tab, reinterpret_cast<LPARAM>(&changing));
    EXPECT_EQ(next(), kEventTabChanging);
    EXPECT_EQ(events.param1, first);
    SendMessageW(tabHandle, TCM_SETCURSEL, 1, 0);
    NMHDR changed = {tabHandle, static_cast<UINT_PTR>(tab), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(window.window, WM_NOTIFY, tab, reinterpret_cast<LPARAM>(&changed));
    EXPECT_EQ(next(), kEventTabChanged);
    EXPECT_EQ(events.param1, second);
    EXPECT_EQ(GetWindowLongW(window.handleOf(first), GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_NE(GetWindowLongW(window.handleOf(second), GWL_STYLE) & WS_VISIBLE, 0);

    // The tab control's own selection change by keyboard focus notifies the same way.
    SendMessageW(tabHandle, TCM_SETCURFOCUS, 0, 0);
    EXPECT_EQ(next(), kEventTabChanged);
    EXPECT_EQ(events.param1, first);
    EXPECT_NE(GetWindowLongW(window.handleOf(first), GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_EQ(GetWindowLongW(window.handleOf(second), GWL_STYLE) & WS_VISIBLE, 0);

    // Controls on a page raise their events through the page.
    SendMessageW(window.handleOf(secondMember), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(next(), secondMember);
    EXPECT_EQ(events.window, window.handleOf(second));
    EXPECT_EQ(checkState(secondMember), static_cast<uint32_t>(kStateChecked));
}

TEST_F(ControlSetTest, RemovingATabRemovesItsPagesAndTheirMembers) {
    const int before = window.addLabel(L"stays", 0, 0, 10, 10);
    const int tab = window.addTab(4, 62, 400, 300);
    std::vector<int> gone = {tab};
    for (int p = 0; p < 2; ++p) {
        gone.push_back(window.addTabPage(tab, p, L"page"));
        gone.push_back(window.addLabel(L"member", 0, 0, 10, 10));
        const int label = addCheck(L"member pair", 8);
        gone.push_back(label - 1);
        gone.push_back(label);
    }
    std::vector<HWND> handles;
    for (int index : gone)
        handles.push_back(window.handleOf(index));
    EXPECT_TRUE(window.removeControl(tab));
    for (size_t i = 0; i < gone.size(); ++i) {
        EXPECT_EQ(window.control(gone[i]), nullptr) << gone[i];
        EXPECT_FALSE(IsWindow(handles[i])) << gone[i];
    }
    EXPECT_EQ(window.controlCount(), before);
    EXPECT_EQ(window.controlParent, window.window);
}

TEST_F(ControlSetTest, PageMemberListStopsAtTwoHundredFiftyFive) {
    const int tab = window.addTab(4, 62, 400, 300);
    const int page = window.addTabPage(tab, 0, L"full");
    std::vector<int> labels;
    for (int i = 0; i < 260; ++i)
        labels.push_back(window.addLabel(L"", 0, 0, 1, 1, 0));
    ASSERT_EQ(window.control(page)->members.size(), 255u);
    EXPECT_EQ(window.control(page)->members.back(), labels[254]);
    window.removeControl(page);
    EXPECT_EQ(window.control(labels[0]), nullptr);
    EXPECT_EQ(window.control(labels[254]), nullptr);
    // The controls beyond the list are not removed with the page.
    EXPECT_NE(window.control(labels[255]), nullptr);
    EXPECT_EQ(SendMessageW(window.handleOf(tab), TCM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(ControlSetTest, RemovingOnePartOfAPairOrAnEditTakesItsPartnerAlong) {
    const int label = addRadio(L"pair", 4);
    const int edit = window.addEdit(L"1", 0, 0, 50, 20, WS_VISIBLE);
    const int upDown = window.addUpDown(edit);
    ASSERT_GT(upDown, 0);
    EXPECT_EQ(window.control(edit)->upDown, upDown);
    EXPECT_EQ(reinterpret_cast<HWND>(window.sendMessage(upDown, UDM_GETBUDDY, 0, 0)), window.handleOf(edit));
    int low = -1, high = -1;
    window.sendMessage(upDown, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100000);
    EXPECT_TRUE(window.removeControl(label - 1));
    EXPECT_EQ(window.control(label), nullptr);
    EXPECT_TRUE(window.removeControl(edit));
    EXPECT_EQ(window.control(upDown), nullptr);
    EXPECT_EQ(window.controlCount(), 0);
}

TEST_F(ControlSetTest, OperationsRefuseKindsTheyDoNotApplyTo) {
    const int label = window.addLabel(L"l", 0, 0, 10, 10);
    const int progress = window.addProgress(0, 0, 100, 10);
    EXPECT_EQ(window.addUpDown(label), 0);
    EXPECT_EQ(window.addTabPage(label, 0, L"x"), 0);
    EXPECT_FALSE(window.setProgressPosition(label, 5));
    EXPECT_FALSE(window.setProgressMarquee(label, true));
    EXPECT_EQ(window.sendMessage(77, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_FALSE(window.removeControl(0));
    EXPECT_FALSE(window.setLinkDefaults());

    EXPECT_TRUE(window.setProgressPosition(-1, 40));
    EXPECT_EQ(window.sendMessage(progress, PBM_GETPOS, 0, 0), 40);
    EXPECT_TRUE(window.setProgressMarquee(progress, true));
    EXPECT_NE(GetWindowLongW(window.handleOf(progress), GWL_STYLE) & PBS_MARQUEE, 0);
    EXPECT_TRUE(window.setProgressMarquee(progress, false));
    EXPECT_EQ(GetWindowLongW(window.handleOf(progress), GWL_STYLE) & PBS_MARQUEE, 0);
}

TEST_F(ControlSetTest, ControlColourAnswers) {
    window.setDefaultTextColor(0x112233);
    const int opaque = [this] {
        window.setDefaultBackColor(0x445566);
        return window.addLabel(L"opaque", 0, 0, 10, 10);
    }();
    window.setDefaultBackColor(-1);
    const int transparent = window.addLabel(L"transparent", 0, 0, 10, 10);
    const int clear = window.addLabel(L"clear", 0, 0, 10, 10);
    window.controls[clear].backColor = kBackNullBrush;
    const int progress = window.addProgress(0, 0, 10, 10);
    EXPECT_FALSE(window.control(progress)->backBrush);

    MemoryDcHandle dc(CreateCompatibleDC(nullptr));
    struct Case {
        const char* name;
        int index;
        HGDIOBJ brush;
        int bkMode;
    };
    const Case cases[] = {
        {"own brush", opaque, window.control(opaque)->backBrush.Get(), OPAQUE},
        {"window background", transparent, window.backgroundBrush.Get(), TRANSPARENT},
        {"null brush", clear, GetStockObject(NULL_BRUSH), TRANSPARENT},
    };
    for (const Case& c : cases) {
        SetBkMode(dc.Get(), c.bkMode == OPAQUE ? TRANSPARENT : OPAQUE);
        const LRESULT brush = SendMessageW(window.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.Get()),
                                           reinterpret_cast<LPARAM>(window.handleOf(c.index)));
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), c.brush) << c.name;
        EXPECT_EQ(GetBkMode(dc.Get()), c.bkMode) << c.name;
        EXPECT_EQ(GetTextColor(dc.Get()), 0x112233u) << c.name;
    }
    // Only the opaque answer sets a background colour.
    EXPECT_EQ(GetBkColor(dc.Get()), 0x445566u);
}

TEST_F(ControlSetTest, ImagesOnControlsAreCopiesOwnedByTheControl) {
    HICON original = CopyIcon(LoadIconW(nullptr, IDI_WARNING));
    const int icon = window.addIconImage(original, 0, 0, 32, 32);
    HICON shown = reinterpret_cast<HICON>(window.sendMessage(icon, STM_GETICON, 0, 0));
    EXPECT_NE(shown, nullptr);
    EXPECT_NE(shown, original);
    EXPECT_TRUE(window.setIcon(icon, 0, original, 0));
    HICON replaced = reinterpret_cast<HICON>(window.sendMessage(icon, STM_GETICON, 0, 0));
    EXPECT_NE(replaced, original);
    ICONINFO info;
    EXPECT_FALSE(GetIconInfo(shown, &info)) << "the replaced copy is destroyed";

    const int picture = window.addPicture(checked, 0, 0, 14, 14);
    EXPECT_NE(reinterpret_cast<HBITMAP>(window.sendMessage(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)), checked);
    EXPECT_TRUE(window.setBitmap(picture, 0, nullptr, 16, 16));
    BITMAP blank = {};
    GetObjectW(reinterpret_cast<HBITMAP>(window.sendMessage(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)), sizeof(blank),
               &blank);
    EXPECT_EQ(blank.bmWidth, 16);

    // The caller's images survive the controls.
    window.removeControl(icon);
    window.removeControl(picture);
    EXPECT_TRUE(GetIconInfo(original, &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_NE(GetObjectType(checked), 0u);
    DestroyIcon(original);
}

TEST_F(ControlSetTest, CloseAndMinimiseButtonsArePicturesWithHandCursorAndTip) {
    struct Case {
        const char* name;
        int index;
        int x;
    };
    const Case cases[] = {{"close", window.addCloseButton(), 620}, {"minimise", window.addMinimizeButton(), 590}};
    for (const Case& c : cases) {
        ASSERT_GT(c.index, 0) << c.name;
        EXPECT_EQ(window.kindOf(c.index), ControlKind::kPicture) << c.name;
        EXPECT_EQ(window.control(c.index)->cursor, LoadCursorW(nullptr, IDC_HAND)) << c.name;
        RECT rect;
        GetWindowRect(window.handleOf(c.index), &rect);
        MapWindowPoints(HWND_DESKTOP, window.window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, c.x) << c.name;
        EXPECT_EQ(rect.top, 6) << c.name;
        EXPECT_EQ(rect.right - rect.left, 20) << c.name;
    }
    ASSERT_TRUE(window.tooltipWindow);
    EXPECT_EQ(SendMessageW(window.tooltipWindow, TTM_GETTOOLCOUNT, 0, 0), 2);
    window.removeControl(-1);
    EXPECT_EQ(SendMessageW(window.tooltipWindow, TTM_GETTOOLCOUNT, 0, 0), 1);
}

}  // namespace
