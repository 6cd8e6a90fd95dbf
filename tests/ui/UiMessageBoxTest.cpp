// The drawn message box and the message tip, driven with real input. RequiresDisplay: run under xvfb.
#include "ui/UiMessageBox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ScreenSupport.h"
#include "TestSupport.h"
#include "engine/IconWriter.h"
#include "engine/Imaging.h"

namespace {

using testing_support::CaptureWindow;
using testing_support::ClickAt;
using testing_support::ClickCentre;
using testing_support::Narrow;
using testing_support::PressKey;
using testing_support::ScreenShot;

constexpr const wchar_t* kOwnerClass = L"GwMessageBoxOwner";

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// A child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE SizeOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

struct ChildSearch {
    const wchar_t* name;
    int found;
};

BOOL CALLBACK CountChild(HWND child, LPARAM data) {
    auto* search = reinterpret_cast<ChildSearch*>(data);
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (_wcsicmp(name, search->name) == 0) ++search->found;
    return TRUE;
}

int CountChildren(HWND parent, const wchar_t* className) {
    ChildSearch search = {className, 0};
    EnumChildWindows(parent, CountChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// One visible owner for the whole suite: hiding shown windows is what costs time under Wine.
class MessageBoxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        events = new UiEventSlot;
        owner = new UiWindow(events);
        owner->create(kOwnerClass, L"owner", 500, 400, 100, 100);
        owner->show(SW_SHOWNORMAL, kShowUpdate | kShowToFront | kShowActivate | kShowDrain);
    }
    static void TearDownTestSuite() {
        delete owner;
        delete events;
    }
    void SetUp() override {
        ASSERT_TRUE(owner->window);
        SetForegroundWindow(owner->window);
        Drain();
    }

    // Pumps the queue until the condition holds, waiting a little between rounds for input to arrive.
    static bool PumpUntil(const std::function<bool()>& done) {
        for (int round = 0; round < 200; ++round) {
            while (UiWindow::pumpEvent(*events, kPumpPollAny) != 0) {
                if (done()) return true;
            }
            if (done()) return true;
            Sleep(10);
        }
        return false;
    }
    static void Drain() {
        for (int round = 0; round < 5; ++round) {
            while (UiWindow::pumpEvent(*events, kPumpPollAny) != 0) {
            }
            Sleep(5);
        }
    }

    static UiEventSlot* events;
    static UiWindow* owner;
};
UiEventSlot* MessageBoxTest::events = nullptr;
UiWindow* MessageBoxTest::owner = nullptr;

TEST_F(MessageBoxTest, NarrowBoxesGetTheStandardWidthAndShowingAgainReplacesTheBox) {
    struct Case {
        int width;
        int height;
        int expectedWidth;
    };
    const Case cases[] = {{150, 130, 360}, {159, 100, 360}, {160, 130, 160}, {200, 130, 200}, {360, 150, 360}};
    UiMessageBox box(events);
    HWND previous = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        HWND shown = box.showMessage(owner, L"text", kBoxOk, c.height, c.width);
        ASSERT_TRUE(shown);
        EXPECT_FALSE(previous && IsWindow(previous)) << "the former box is gone";
        RECT client = {};
        GetClientRect(shown, &client);
        EXPECT_EQ(client.right, c.expectedWidth);
        EXPECT_EQ(client.bottom, c.height);
        const SIZE outer = SizeOf(shown);
        EXPECT_EQ(outer.cx, c.expectedWidth) << "no frame around the box";
        // Centred over its owner.
        const POINT boxCentre = testing_support::CentreOnScreen(shown);
        const POINT ownerCentre = testing_support::CentreOnScreen(owner->window);
        EXPECT_LE(std::abs(boxCentre.x - ownerCentre.x), 1);
        EXPECT_LE(std::abs(boxCentre.y - ownerCentre.y), 1);
        EXPECT_EQ(box.currentType(), kBoxOk);
        previous = shown;
    }
    box.closeMessage();
    EXPECT_FALSE(IsWindow(previous));
    EXPECT_EQ(box.currentType(), kBoxClosed);
}

TEST_F(MessageBoxTest, ButtonsSitWhereTheTypeSaysAndTheFirstIsTheDefaultWithTheFocus) {
    struct Button {
        const wchar_t* caption;
        int x;
    };
    struct Case {
        int type;
        int width;
        std::vector<Button> buttons;
    };
    const Case cases[] = {
        {kBoxOk, 360, {{L"OK", 225}}},
        {kBoxYesNo, 360, {{L"Yes", 66}, {L"No", 212}}},
        {kBoxOkCancel, 360, {{L"OK", 66}, {L"Cancel", 212}}},
        {kBoxYesNoCancel, 360, {{L"Yes", 30}, {L"No", 140}, {L"Cancel", 250}}},
        {kBoxYesNo, 200, {{L"Yes", 13}, {L"No", 106}}},
        {7, 360, {}},
    };
    constexpr int kHeight = 130;
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " width " << c.width);
        HWND shown = box.showMessage(owner, L"message", c.type, kHeight, c.width);
        ASSERT_TRUE(shown);
        Drain();
        UiWindow& window = box.boxWindow();
        EXPECT_EQ(CountChildren(shown, L"Button"), static_cast<int>(c.buttons.size()));
        for (size_t i = 0; i < c.buttons.size(); ++i) {
            HWND button = window.handleOf(box.buttonIndex(static_cast<int>(i) + 1));
            ASSERT_TRUE(button) << "button " << i + 1;
            EXPECT_EQ(TextOf(button), c.buttons[i].caption);
            const RECT rect = RectInParent(button);
            EXPECT_EQ(rect.left, c.buttons[i].x) << Narrow(c.buttons[i].caption);
            EXPECT_EQ(rect.top, kHeight - 35);
            EXPECT_EQ(rect.right - rect.left, 80);
            EXPECT_EQ(rect.bottom - rect.top, 25);
            EXPECT_EQ((GetWindowLongW(button, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0, i == 0);
        }
        EXPECT_EQ(box.buttonIndex(static_cast<int>(c.buttons.size()) + 1), -1);
        HWND label = window.handleOf(box.labelIndex);
        ASSERT_TRUE(label);
        EXPECT_EQ(TextOf(label), L"message");
        const RECT labelRect = RectInParent(label);
        EXPECT_EQ(labelRect.left, 20);
        EXPECT_EQ(labelRect.top, 20);
        EXPECT_EQ(labelRect.right - labelRect.left, c.width - 40);
        EXPECT_EQ(labelRect.bottom - labelRect.top, kHeight - 65);
        if (c.buttons.empty()) continue;

        HWND first = window.handleOf(box.buttonIndex(1));
        EXPECT_EQ(GetForegroundWindow(), shown);
        EXPECT_EQ(GetFocus(), first);
        // Enter answers with the first button, as the user expects of the default one.
        events->clearEvent();
        PressKey(VK_RETURN);
        EXPECT_TRUE(PumpUntil([&] { return events->code == box.buttonIndex(1); }));
        EXPECT_EQ(events->window, shown);
    }
    box.closeMessage();
}

TEST_F(MessageBoxTest, TheBoxFollowsItsOwner) {
    UiMessageBox box(events);
    HWND shown = box.showMessage(owner, L"follow", kBoxOk, 130, 360);
    ASSERT_TRUE(shown);
    RECT before = {}, after = {}, ownerRect = {};
    GetWindowRect(shown, &before);
    GetWindowRect(owner->window, &ownerRect);
    SetWindowPos(owner->window, nullptr, ownerRect.left + 30, ownerRect.top + 20, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(shown, &after);
    EXPECT_EQ(after.left - before.left, 30);
    EXPECT_EQ(after.top - before.top, 20);
    SetWindowPos(owner->window, nullptr, ownerRect.left, ownerRect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    box.closeMessage();
}

TEST_F(MessageBoxTest, ClosingKeepsTheOwnersEventButNotLosesACloseRequest) {
    struct Case {
        const char* name;
        bool closeArrives;
    };
    const Case cases[] = {{"a close request arrives meanwhile", true}, {"nothing arrives", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UiMessageBox box(events);
        HWND shown = box.showMessage(owner, L"closing", kBoxYesNo, 130, 360);
        ASSERT_TRUE(shown);
        Drain();
        // The event the application is reading when it closes the box.
        events->clearEvent();
        events->code = box.buttonIndex(2);
        events->window = shown;
        events->param1 = 77;
        events->closeRequested = 0;
        // Messages that would raise events of their own while the box's closing drains the queue.
        PostMessageW(owner->window, WM_LBUTTONUP, 0, 0);
        if (c.closeArrives) PostMessageW(owner->window, WM_CLOSE, 0, 0);
        const int answer = box.buttonIndex(2);
        box.closeMessage();
        EXPECT_FALSE(IsWindow(shown));
        EXPECT_EQ(box.currentType(), kBoxClosed);
        EXPECT_EQ(events->code, answer);
        EXPECT_EQ(events->window, shown);
        EXPECT_EQ(events->param1, 77);
        EXPECT_EQ(events->closeRequested != 0, c.closeArrives);
    }
    events->closeRequested = 0;
}

// Window sizes at creation of every message tip made while it is alive.
class TipCreationSpy {
public:
    TipCreationSpy() {
        spy = this;
        hook_ = SetWindowsHookExW(WH_CBT, &TipCreationSpy::Hook, nullptr, GetCurrentThreadId());
    }
    ~TipCreationSpy() {
        UnhookWindowsHookEx(hook_);
        spy = nullptr;
    }
    std::vector<SIZE> sizes;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND && spy) {
            const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
            wchar_t name[64] = {};
            GetClassNameW(reinterpret_cast<HWND>(wParam), name, 64);
            if (wcscmp(name, UiMessageBox::kTipClass) == 0) spy->sizes.push_back(SIZE{create->cx, create->cy});
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static TipCreationSpy* spy;
    HHOOK hook_;
};
TipCreationSpy* TipCreationSpy::spy = nullptr;

TEST_F(MessageBoxTest, TipShowsItsTitleAboveItsBodyWithoutTakingTheFocus) {
    struct Case {
        const wchar_t* text;
        const wchar_t* title;
        const wchar_t* body;
    };
    const Case cases[] = {
        {L"Saved 3 icons||Done", L"Done", L"Saved 3 icons"},
        {L"No title here", L"Information", L"No title here"},
        {L"图标已保存||完成", L"完成", L"图标已保存"},
    };
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        HWND tip = box.showMessage(owner, c.text, kBoxTip, 75, 200);
        ASSERT_TRUE(tip);
        EXPECT_EQ(box.currentType(), kBoxTip);
        EXPECT_TRUE(IsWindowVisible(tip));
        EXPECT_EQ(GetForegroundWindow(), owner->window) << "a tip never takes the foreground";
        EXPECT_EQ(TextOf(tip), c.title);
        UiWindow& window = box.boxWindow();
        HWND body = window.handleOf(box.labelIndex);
        EXPECT_EQ(TextOf(body), c.body);
        // The title label is the one in the top line, right of the corner mark.
        HWND title = window.handleOf(box.labelIndex + 1);
        EXPECT_EQ(TextOf(title), c.title);
        const RECT titleRect = RectInParent(title);
        const RECT bodyRect = RectInParent(body);
        EXPECT_EQ(titleRect.left, 35);
        EXPECT_EQ(titleRect.top, 6);
        EXPECT_EQ(bodyRect.left, 10);
        EXPECT_EQ(bodyRect.top, 35);
        EXPECT_LE(titleRect.bottom, bodyRect.top);
    }
    box.closeMessage();
}

TEST_F(MessageBoxTest, TipFitsItsLines) {
    // The tip measures its lines on a device context as it comes (the system font), as this one does.
    WindowDc dc(owner->window);
    auto measure = [&dc](const std::wstring& text) {
        SIZE size = {};
        GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
        return size;
    };
    // A line exactly 130 pixels wide, made of wide and narrow letters.
    std::wstring line130;
    for (int wide = 0; wide < 40 && line130.empty(); ++wide)
        for (int narrow = 0; narrow < 80; ++narrow) {
            std::wstring candidate = std::wstring(wide, L'W') + std::wstring(narrow, L'i');
            if (measure(candidate).cx == 130) {
                line130 = candidate;
                break;
            }
        }
    ASSERT_FALSE(line130.empty()) << "no letter mix measures 130 pixels";
    const int lineHeight = std::max<int>(16, measure(L"Wi").cy);

    struct Case {
        const char* name;
        std::wstring body;
        int lines;
        int width;
    };
    const Case cases[] = {
        {"three lines, widest 130", L"short\r\n" + line130 + L"\r\nmid", 3, 150},
        {"one narrow line keeps the least width", L"a", 1, 75},
    };
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND tip = box.showMessage(owner, c.body.c_str(), kBoxTip, 60, 200);
        ASSERT_TRUE(tip);
        const SIZE size = SizeOf(tip);
        EXPECT_EQ(size.cx, c.width);
        EXPECT_EQ(size.cy, c.lines * lineHeight + 45);
        const SIZE body = SizeOf(box.boxWindow().handleOf(box.labelIndex));
        EXPECT_EQ(body.cx, c.width - 20);
        EXPECT_EQ(body.cy, c.lines * lineHeight);
    }
    box.closeMessage();
}

TEST_F(MessageBoxTest, TipLinesFitInTheFontTheyAreDrawnIn) {
    const std::wstring lines[] = {L"已写入 4 个尺寸的图标。", L"C:\\Icons\\picture.ico"};
    UiMessageBox box(events);
    HWND tip = box.showMessage(owner, (lines[0] + L"\r\n" + lines[1] + L"||完成").c_str(), kBoxTip, 75, 200);
    ASSERT_TRUE(tip);
    HWND body = box.boxWindow().handleOf(box.labelIndex);
    WindowDc dc(body);
    SelectGuard font(dc.Get(), reinterpret_cast<HGDIOBJ>(SendMessageW(body, WM_GETFONT, 0, 0)));
    RECT bodyRect = {};
    GetClientRect(body, &bodyRect);
    for (const std::wstring& line : lines) {
        SCOPED_TRACE(Narrow(line.c_str()));
        SIZE size = {};
        GetTextExtentPoint32W(dc.Get(), line.c_str(), static_cast<int>(line.size()), &size);
        EXPECT_LE(size.cx, bodyRect.right) << "the line would wrap or be cut";
        EXPECT_LE(2 * size.cy, bodyRect.bottom) << "both lines fit in height";
    }
    box.closeMessage();
}

TEST_F(MessageBoxTest, TipIsMadeAtLeast200By75BeforeItFitsItsLines) {
    struct Case {
        int width, height;
        int madeWidth, madeHeight;
    };
    const Case cases[] = {{200, 60, 200, 75}, {100, 69, 200, 75}, {250, 70, 250, 70}, {300, 120, 300, 120}};
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        TipCreationSpy spy;
        ASSERT_TRUE(box.showMessage(owner, L"tip", kBoxTip, c.height, c.width));
        ASSERT_EQ(spy.sizes.size(), 1u);
        EXPECT_EQ(spy.sizes[0].cx, c.madeWidth);
        EXPECT_EQ(spy.sizes[0].cy, c.madeHeight);
    }
    box.closeMessage();
}

TEST_F(MessageBoxTest, TipSitsAtTheOwnersVisibleCorner) {
    struct Case {
        const char* name;
        RECT region;  // empty: no region
        int dx, dy;
    };
    const Case cases[] = {
        {"plain owner", {0, 0, 0, 0}, 24, 16},
        {"owner with an inset region", {5, 7, 480, 390}, 5 + 24, 7 + 4 + 16},
    };
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.region.right)
            SetWindowRgn(owner->window, CreateRectRgn(c.region.left, c.region.top, c.region.right, c.region.bottom),
                         FALSE);
        HWND tip = box.showMessage(owner, L"where", kBoxTip, 75, 200);
        ASSERT_TRUE(tip);
        RECT ownerRect = {}, tipRect = {};
        GetWindowRect(owner->window, &ownerRect);
        GetWindowRect(tip, &tipRect);
        EXPECT_EQ(tipRect.left - ownerRect.left, c.dx);
        EXPECT_EQ(tipRect.top - ownerRect.top, c.dy);
        SetWindowRgn(owner->window, nullptr, FALSE);
    }
    box.closeMessage();
}

TEST_F(MessageBoxTest, TipNeedsAVisibleOwnerThatIsNotMinimised) {
    UiEventSlot hiddenEvents;
    UiWindow hidden(&hiddenEvents);
    ASSERT_TRUE(hidden.create(kOwnerClass, L"hidden", 200, 100, 0, 0));
    struct Case {
        const char* name;
        UiWindow* tipOwner;
    };
    const Case cases[] = {{"no owner", nullptr}, {"hidden owner", &hidden}};
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(box.showMessage(c.tipOwner, L"nobody sees this", kBoxTip, 75, 200), nullptr);
        EXPECT_EQ(box.currentType(), kBoxClosed);
        EXPECT_FALSE(FindWindowW(UiMessageBox::kTipClass, nullptr));
    }
    ShowWindow(owner->window, SW_MINIMIZE);
    EXPECT_EQ(box.showMessage(owner, L"nobody sees this", kBoxTip, 75, 200), nullptr) << "minimised owner";
    EXPECT_EQ(box.currentType(), kBoxClosed);
    ShowWindow(owner->window, SW_RESTORE);
    SetForegroundWindow(owner->window);
    Drain();
}

TEST_F(MessageBoxTest, EscapeEnterOrAnyClickClosesTheTip) {
    enum Action { kEscape, kEnter, kClickBody, kClickCorner, kRightClick };
    struct Case {
        const char* name;
        Action action;
    };
    const Case cases[] = {{"Escape", kEscape},
                          {"Enter", kEnter},
                          {"click on the text", kClickBody},
                          {"click beside the text", kClickCorner},
                          {"right click", kRightClick}};
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND tip = box.showMessage(owner, L"first line\r\nsecond line||Note", kBoxTip, 75, 200);
        ASSERT_TRUE(tip);
        Drain();
        RECT rect = {};
        GetWindowRect(tip, &rect);
        switch (c.action) {
            case kEscape:
            case kEnter:
                // Keys reach the tip once the user has brought it to the front.
                SetForegroundWindow(tip);
                Drain();
                PressKey(c.action == kEscape ? VK_ESCAPE : VK_RETURN);
                break;
            case kClickBody:
                ClickCentre(box.boxWindow().handleOf(box.labelIndex));
                break;
            case kClickCorner:
                ClickAt(POINT{rect.right - 4, rect.top + 4});
                break;
            case kRightClick:
                ClickAt(POINT{rect.right - 4, rect.top + 4}, true);
                break;
        }
        EXPECT_TRUE(PumpUntil([&] { return box.currentType() == kBoxClosed; }));
        EXPECT_FALSE(IsWindow(tip));
        SetForegroundWindow(owner->window);
        Drain();
    }
}

// Stacks the shots one below the other on grey and writes them as a PNG for people to look at.
bool SaveShots(const std::vector<ScreenShot>& shots, const wchar_t* path) {
    int width = 0, height = 10;
    for (const ScreenShot& shot : shots) {
        width = std::max(width, shot.width + 20);
        height += shot.height + 10;
    }
    std::vector<uint32_t> sheet(static_cast<size_t>(width) * height, 0xFF808080);
    int top = 10;
    for (const ScreenShot& shot : shots) {
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x)
                sheet[static_cast<size_t>(top + y) * width + 10 + x] = 0xFF000000 | shot.At(x, y);
        top += shot.height + 10;
    }
    WorkingImage image = WorkingImageFromPixels(sheet.data(), width, height);
    CLSID png;
    return image && FindPngEncoder(png) && gdip::GdipSaveImageToFile(image.Get(), path, &png, nullptr) == kGpOk;
}

// What the user sees of each kind of box and of a tip; the sheet stays in the build folder as
// message-boxes.png for a look at the rim, the rounded corners, the band and the Chinese captions.
TEST_F(MessageBoxTest, BoxesShowARimRoundedCornersAndAButtonBandAndTipsAreBlackWithACornerMark) {
    struct Case {
        int type;
        const wchar_t* text;
    };
    const Case cases[] = {
        {kBoxOk, L"批量图标创建操作的源路径无效"},
        {kBoxYesNo, L"目标文件已存在，是否覆盖？"},
        {kBoxOkCancel, L"将清除图标缓存并重新启动资源管理器。"},
        {kBoxYesNoCancel, L"设置已更改，是否保存到 Glyphwright.ini？"},
    };
    constexpr int kWidth = 360, kHeight = 130;
    std::vector<ScreenShot> shots;
    UiMessageBox box(events);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        HWND shown = box.showMessage(owner, c.text, c.type, kHeight, kWidth);
        ASSERT_TRUE(shown);
        Drain();
        const ScreenShot shot = CaptureWindow(shown);
        ASSERT_EQ(shot.width, kWidth);
        EXPECT_EQ(shot.At(1, kHeight / 2), 0x000000u) << "rim";
        EXPECT_EQ(shot.At(kWidth - 2, kHeight / 2), 0x000000u) << "rim";
        EXPECT_EQ(shot.At(10, kHeight / 2), 0xFFFFFFu) << "body";
        EXPECT_EQ(shot.At(10, kHeight - 20), 0xF0F0FFu) << "band behind the buttons";
        EXPECT_EQ(shot.At(kWidth - 10, kHeight - 20), 0xF0F0FFu) << "band behind the buttons";
        // The label is transparent: the body shows between its letters.
        EXPECT_EQ(shot.At(kWidth - 25, 25), 0xFFFFFFu) << "body behind the text";
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        ASSERT_NE(GetWindowRgn(shown, region), ERROR) << "the box is shaped";
        EXPECT_FALSE(PtInRegion(region, 0, 0)) << "corners are cut";
        EXPECT_FALSE(PtInRegion(region, kWidth - 1, kHeight - 1));
        EXPECT_TRUE(PtInRegion(region, kWidth / 2, 0));
        EXPECT_TRUE(PtInRegion(region, 0, kHeight / 2));
        EXPECT_TRUE(PtInRegion(region, 6, 6));
        DeleteObject(region);
        shots.push_back(shot);
    }
    box.closeMessage();

    HWND tip = box.showMessage(owner, L"已写入 4 个尺寸的图标。\r\nC:\\Icons\\picture.ico||完成", kBoxTip, 75, 200);
    ASSERT_TRUE(tip);
    Drain();
    const ScreenShot shot = CaptureWindow(tip);
    EXPECT_EQ(shot.At(5, 5), 0x6060FFu) << "corner mark";
    EXPECT_EQ(shot.At(shot.width - 8, shot.height - 8), 0x000000u) << "body";
    EXPECT_EQ(shot.At(shot.width - 2, shot.height / 2), 0xFFFFFFu) << "border";
    EXPECT_EQ(shot.At(shot.width / 2, shot.height - 1), 0xFFFFFFu) << "border";
    int whiteInText = 0;
    for (int y = 35; y < shot.height - 10; ++y)
        for (int x = 10; x < shot.width - 10; ++x)
            if (shot.At(x, y) == 0xFFFFFF) ++whiteInText;
    EXPECT_GT(whiteInText, 50) << "white text on black";
    shots.push_back(shot);
    box.closeMessage();

    EXPECT_TRUE(SaveShots(shots, testing_support::BuildFile(L"message-boxes.png").Text()));
}

}  // namespace
