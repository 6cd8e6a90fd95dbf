// The layout pass: where the resizing rules put controls when their window's client size changes.
// RequiresDisplay: run under xvfb.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "ui/UiWindow.h"

namespace {

constexpr const wchar_t* kClass = L"GwLayoutTest";
constexpr uint32_t kAnchorLeft = 0x1, kAnchorRight = 0x2, kHCentreOffset = 0x4, kHCentreProportional = 0x8;
constexpr uint32_t kAnchorTop = 0x10, kAnchorBottom = 0x20, kVCentreOffset = 0x40, kVCentreProportional = 0x80;
constexpr uint32_t kScaleWidth = 0x100, kScaleHeight = 0x200;
constexpr uint32_t kHPositionProportional = 0x2000, kVPositionProportional = 0x4000;

RECT InParent(HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// A hidden popup whose client size is its window size, resized the way the system does it.
class LayoutTest : public ::testing::Test {
protected:
    void make(int width, int height) {
        ASSERT_TRUE(window.create(kClass, L"layout", width, height, 0, 0, static_cast<int32_t>(WS_POPUP)));
    }
    void resize(int width, int height) {
        SetWindowPos(window.window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT at(int index) { return InParent(window.handleOf(index)); }

    UiEventSlot events;
    UiWindow window{&events};
};

TEST_F(LayoutTest, EachRulePlacesAControlAfterTheWindowGrows) {
    struct Case {
        const char* name;
        uint32_t flags;
        RECT design;  // x, y, width, height
        SIZE grown;
        RECT expected;  // x, y, width, height
    };
    const Case cases[] = {
        {"left and right: the width follows",
         kAnchorLeft | kAnchorRight,
         {10, 20, 100, 25},
         {450, 300},
         {10, 20, 150, 25}},
        {"right alone: the control moves", kAnchorRight, {10, 20, 100, 25}, {450, 300}, {60, 20, 100, 25}},
        {"centre offset", kHCentreOffset, {150, 20, 100, 25}, {500, 300}, {200, 20, 100, 25}},
        {"proportional centre", kHCentreProportional, {150, 20, 100, 25}, {800, 300}, {350, 20, 100, 25}},
        {"proportional position and scaled width",
         kHPositionProportional | kScaleWidth,
         {40, 20, 100, 25},
         {800, 300},
         {80, 20, 200, 25}},
        {"top and bottom: the height follows",
         kAnchorTop | kAnchorBottom,
         {10, 20, 100, 25},
         {400, 360},
         {10, 20, 100, 85}},
        {"bottom alone", kAnchorBottom, {10, 20, 100, 25}, {400, 360}, {10, 80, 100, 25}},
        {"vertical centre offset", kVCentreOffset, {10, 140, 100, 20}, {400, 400}, {10, 190, 100, 20}},
        {"vertical proportional centre", kVCentreProportional, {10, 140, 100, 20}, {400, 600}, {10, 290, 100, 20}},
        {"proportional y and scaled height",
         kVPositionProportional | kScaleHeight,
         {10, 30, 100, 60},
         {400, 450},
         {10, 45, 100, 90}},
        {"both axes at once", kAnchorRight | kAnchorBottom, {10, 20, 100, 25}, {420, 330}, {30, 50, 100, 25}},
    };
    for (const Case& c : cases) {
        make(400, 300);
        const int index = window.addButton(L"b", c.design.left, c.design.top, c.design.right, c.design.bottom);
        window.setResizing(c.flags);
        resize(c.grown.cx, c.grown.cy);
        const RECT placed = at(index);
        EXPECT_EQ(placed.left, c.expected.left) << c.name;
        EXPECT_EQ(placed.top, c.expected.top) << c.name;
        EXPECT_EQ(placed.right - placed.left, c.expected.right) << c.name;
        EXPECT_EQ(placed.bottom - placed.top, c.expected.bottom) << c.name;
        // Back at the reference size everything is where it was designed.
        resize(400, 300);
        const RECT back = at(index);
        EXPECT_EQ(back.left, c.design.left) << c.name;
        EXPECT_EQ(back.right - back.left, c.design.right) << c.name;
        window.destroy();
    }
}

TEST_F(LayoutTest, ControlsWithoutLayoutRulesAndAnUnchangedClientSizeMoveNothing) {
    make(400, 300);
    const int anchored = window.addButton(L"a", 10, 20, 100, 25);
    window.setResizing(kAnchorRight);
    const int plain = window.addButton(L"p", 10, 60, 100, 25);
    window.setResizing(kAnchorLeft | kAnchorTop);  // these alone keep a control out of the pass
    // Moved by hand: only a pass that runs would put it back.
    SetWindowPos(window.handleOf(anchored), nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_FALSE(window.layoutPass());
    SetWindowPos(window.window, nullptr, 30, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(window.window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
    EXPECT_EQ(at(anchored).left, 5);
    EXPECT_EQ(at(anchored).top, 5);

    resize(450, 300);
    EXPECT_EQ(at(anchored).left, 60);
    EXPECT_EQ(at(plain).left, 10);
    EXPECT_EQ(at(plain).right - at(plain).left, 100);
}

TEST_F(LayoutTest, ACheckBoxPairMovesAsOneUnitAndNeverStretches) {
    HBITMAP image = CreateBitmap(14, 14, 1, 32, nullptr);
    struct Case {
        const char* name;
        uint32_t flags;
        int x;  // of the image part after growing to 450 x 300
    };
    const Case cases[] = {
        {"left and right become left alone", kAnchorLeft | kAnchorRight, 10},
        {"scaling is dropped, anchoring kept", kAnchorRight | kScaleWidth | kScaleHeight, 60},
        {"centre offset", kHCentreOffset, 35},
    };
    for (const Case& c : cases) {
        make(400, 300);
        const int label = window.addCheckBox(L"check", image, image, 10, 40, 120, kStateChecked);
        window.setResizing(c.flags);
        resize(450, 300);
        const RECT imagePart = at(label - 1), labelPart = at(label);
        EXPECT_EQ(imagePart.left, c.x) << c.name;
        EXPECT_EQ(imagePart.right - imagePart.left, 14) << c.name;
        EXPECT_EQ(imagePart.bottom - imagePart.top, 14) << c.name;
        EXPECT_EQ(labelPart.left, c.x + 14) << c.name;
        EXPECT_EQ(labelPart.right - labelPart.left, 106) << c.name;
        EXPECT_EQ(labelPart.top, 40) << c.name;
        window.destroy();
    }
    DeleteObject(image);
}

TEST_F(LayoutTest, ARuleThatWouldDivideByZeroLeavesItsControlInPlaceAndTheOthersAreLaidOut) {
    make(0, 300);
    const int scaled = window.addButton(L"s", 10, 20, 100, 25);
    window.setResizing(kScaleWidth | kAnchorTop | kAnchorBottom);  // reference width 0
    resize(400, 300);
    const int centred = window.addButton(L"c", -50, 60, 100, 25);
    window.setResizing(kHCentreProportional);  // design centre at 0
    const int anchored = window.addButton(L"a", 10, 100, 100, 25);
    window.setResizing(kAnchorRight);
    const RECT scaledBefore = at(scaled);

    resize(450, 400);
    const RECT scaledAfter = at(scaled), centredAfter = at(centred);
    EXPECT_TRUE(EqualRect(&scaledAfter, &scaledBefore)) << "no half-applied rule either";
    EXPECT_EQ(centredAfter.left, -50);
    EXPECT_EQ(at(anchored).left, 60);
}

TEST_F(LayoutTest, AnUpDownStaysBesideItsEdit) {
    make(400, 300);
    const int edit = window.addEdit(L"5", 10, 10, 100, 24, WS_VISIBLE | ES_NUMBER);
    window.setResizing(kAnchorLeft | kAnchorRight);
    const int upDown = window.addUpDown(edit);
    ASSERT_GT(upDown, 0);
    const RECT before = at(upDown);
    resize(450, 300);
    const RECT field = at(edit), arrows = at(upDown);
    EXPECT_EQ(field.left, 10);
    EXPECT_EQ(arrows.left - before.left, 50) << "the arrows follow the right end of the edit, 50 wider";
    EXPECT_EQ(arrows.right - arrows.left, before.right - before.left);
    EXPECT_LE(arrows.right, 160);
    EXPECT_EQ(arrows.bottom - arrows.top, 24);
    EXPECT_EQ(reinterpret_cast<HWND>(window.sendMessage(upDown, UDM_GETBUDDY, 0, 0)), window.handleOf(edit));
}

TEST_F(LayoutTest, TabPagesCoverTheirTabsDisplayAreaAfterTheTabGrows) {
    make(400, 300);
    window.setResizeDefaults(kAnchorLeft | kAnchorRight | kAnchorTop | kAnchorBottom);
    const int tab = window.addTab(4, 30, 392, 266);
    const int first = window.addTabPage(tab, 0, L"one");
    const int second = window.addTabPage(tab, 1, L"two");
    ASSERT_GT(second, 0);
    resize(500, 380);
    RECT display;
    GetClientRect(window.handleOf(tab), &display);
    SendMessageW(window.handleOf(tab), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    MapWindowPoints(window.handleOf(tab), window.window, reinterpret_cast<POINT*>(&display), 2);
    EXPECT_EQ(at(tab).right, 496);
    EXPECT_EQ(at(tab).bottom, 376);
    for (int page : {first, second}) {
        const RECT placed = at(page);
        EXPECT_TRUE(EqualRect(&placed, &display)) << "page " << page;
    }
}

TEST_F(LayoutTest, ResizeDefaultsReachEveryNewControlUntilChanged) {
    make(400, 300);
    EXPECT_EQ(window.setResizeDefaults(kAnchorRight), 0u);
    const int button = window.addButton(L"b", 10, 20, 100, 25);
    const int progress = window.addProgress(10, 60, 100, 20);
    EXPECT_EQ(window.setResizeDefaults(0), kAnchorRight);
    const int later = window.addButton(L"l", 10, 100, 100, 25);
    resize(450, 300);
    EXPECT_EQ(at(button).left, 60);
    EXPECT_EQ(at(progress).left, 60);
    EXPECT_EQ(at(later).left, 10);
}

}  // namespace
