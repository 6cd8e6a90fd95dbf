// Freezing a window's controls and locking an owner window while a box is up. RequiresDisplay: run under xvfb.
#include "ui/ModalGuards.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/UiWindow.h"

namespace {

constexpr const wchar_t* kClass = L"GwModalGuardsTest";

// A shown window (keyboard focus needs one) with six buttons, a label and a check box:
// 1-3 buttons, 4 label, 5-6 check box (image, label), 7-9 buttons.
class FreezeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        events = new UiEventSlot;
        window = new UiWindow(events);
        window->create(kClass, L"freeze", 400, 300, 30, 30);
        window->show(SW_SHOWNORMAL, kShowUpdate | kShowToFront | kShowActivate | kShowDrain);
        image = CreateBitmap(14, 14, 1, 32, nullptr);
    }
    static void TearDownTestSuite() {
        delete window;
        delete events;
        DeleteObject(image);
    }
    void SetUp() override {
        ASSERT_TRUE(window->window);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(window->addButton(L"b", 10 + 90 * i, 10, 80, 25));
        ASSERT_EQ(window->addLabel(L"label", 10, 50, 80, 20), 4);
        ASSERT_EQ(window->addCheckBox(L"check", image, image, 10, 80, 100, 4), 6);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(window->addButton(L"b", 10 + 90 * i, 120, 80, 25));
        ASSERT_EQ(window->controlCount(), 9);
    }
    void TearDown() override {
        for (int index = window->controlCount(); index >= 1; --index)
            window->removeControl(index);
    }
    // "1" for each enabled control, "0" for each disabled one, from index 1 to the last.
    static std::string EnabledPattern() {
        std::string pattern;
        for (int index = 1; index <= window->controlCount(); ++index)
            pattern += IsWindowEnabled(window->handleOf(index)) ? '1' : '0';
        return pattern;
    }
    static UiEventSlot* events;
    static UiWindow* window;
    static HBITMAP image;
};
UiEventSlot* FreezeTest::events = nullptr;
UiWindow* FreezeTest::window = nullptr;
HBITMAP FreezeTest::image = nullptr;

TEST_F(FreezeTest, DisablesTheRangeAndGivesBackOnlyWhatWasEnabled) {
    struct Case {
        const char* name;
        int first, last;
        std::vector<int> disabledBefore;
        const char* frozen;  // enabled pattern while frozen
    };
    const Case cases[] = {
        {"whole window, labels untouched", 1, 9, {}, "000100000"},
        {"partly disabled range", 2, 8, {3, 8}, "100100001"},
        {"last past the end stops at the last control", 7, 100, {}, "111111000"},
        {"last below first freezes first only", 2, -1, {}, "101111111"},
        {"check box pair as one", 5, 6, {}, "111100111"},
        {"first below 1 freezes nothing", 0, 9, {}, "111111111"},
        {"first past the end freezes nothing", 10, 12, {}, "111111111"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int index : c.disabledBefore)
            window->setState(index, kStateDisable);
        const std::string before = EnabledPattern();
        {
            ControlFreeze freeze;
            freeze.freeze(window, c.first, c.last);
            EXPECT_EQ(EnabledPattern(), c.frozen);
            freeze.unfreeze();
            EXPECT_EQ(EnabledPattern(), before);
            EXPECT_FALSE(freeze.frozen());
        }
        for (int index = 1; index <= 9; ++index)
            window->setState(index, kStateEnable);
    }
}

TEST_F(FreezeTest, FocusInsideTheRangeComesBack) {
    struct Case {
        const char* name;
        int focused;
        int first, last;
        int focusedAfter;
    };
    const Case cases[] = {
        {"button inside", 2, 1, 9, 2},
        {"check box label inside", 6, 5, 9, 6},
        {"button outside keeps it", 9, 1, 3, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window->setState(c.focused, kStateFocus);
        ASSERT_EQ(GetFocus(), window->handleOf(c.focused));
        ControlFreeze freeze;
        freeze.freeze(window, c.first, c.last);
        freeze.unfreeze();
        EXPECT_EQ(GetFocus(), window->handleOf(c.focusedAfter));
    }
}

TEST_F(FreezeTest, RepeatsAreIgnoredAnotherRangeIsUndoneFirstAndDestructionReleases) {
    {
        ControlFreeze freeze;
        freeze.freeze(window, 1, 3);
        // Asking again for the same range must not record the now-disabled controls as "was disabled".
        freeze.freeze(window, 1, 3);
        EXPECT_EQ(EnabledPattern(), "000111111");
        freeze.freeze(window, 7, 9);
        EXPECT_EQ(EnabledPattern(), "111111000");
        freeze.skipIndex = 8;
    }
    EXPECT_EQ(EnabledPattern(), "111111101") << "the skipped control stays disabled";
    window->setState(8, kStateEnable);
}

TEST(OwnerLockTest, RestoresTheEnabledStateTheOwnerHad) {
    UiWindow owner;
    ASSERT_TRUE(owner.create(kClass, L"owner", 100, 100, 0, 0));
    struct Case {
        const char* name;
        bool enabledBefore;
        bool changedWhileLocked;  // someone flips the state meanwhile
        bool enabledAfter;
    };
    const Case cases[] = {
        {"enabled owner", true, false, true},
        {"disabled owner stays disabled", false, false, false},
        {"enabled meanwhile by someone else", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnableWindow(owner.window, c.enabledBefore);
        OwnerLock lock;
        lock.lock(owner.window);
        EXPECT_FALSE(IsWindowEnabled(owner.window));
        if (c.changedWhileLocked) EnableWindow(owner.window, TRUE);
        lock.release();
        EXPECT_EQ(IsWindowEnabled(owner.window) != FALSE, c.enabledAfter);
    }
    EnableWindow(owner.window, TRUE);
    {
        OwnerLock lock;
        lock.lock(owner.window);
    }
    EXPECT_TRUE(IsWindowEnabled(owner.window)) << "a lock going out of scope releases";
}

}  // namespace
