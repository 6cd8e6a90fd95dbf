// The window picker driven in this process: the drag's button state comes from the test, the pointer is moved with
// SetCursorPos over windows of the test's own. RequiresDisplay: run under xvfb.
#include "app/WindowPicker.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "PictureSupport.h"
#include "TestSupport.h"
#include "helpers/PickerScene.h"

namespace {

using testing_support::CentreOnScreen;
using testing_support::MakeSolidIcon;
using testing_support::Narrow;

// The catcher's rounded shape is made with the imaging library.
const ::testing::Environment* const imaging = testing_support::RegisterImagingEnvironment();

// The marker as the user sees it: the Chinese caption, then spaces up to 32 characters.
const std::wstring kMarker = std::wstring(L"->从应用程序窗口中选择:") + std::wstring(19, L' ');

std::wstring Expected(HWND window) {
    wchar_t digits[16];
    swprintf(digits, 16, L"0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)));
    return kMarker + digits;
}

// Stands in for the system: records what the picker asks of the cursors and refuses the ids it is told to. The
// current cursor is the real one, so the test sees what the user would see on the window.
class RecordingCursors : public CursorCalls {
public:
    bool SetSystemCursor(HCURSOR cursor, DWORD id) override {
        replaced.push_back(id);
        if (refused.count(id)) return false;
        // On success the system owns the copy; this stand-in releases it as the system would.
        sizes.push_back(IconWidth(cursor));
        DestroyIcon(cursor);
        return true;
    }
    bool ReloadSystemCursors() override {
        ++reloads;
        return reloadAnswer;
    }
    static int IconWidth(HICON icon) {
        ICONINFO info = {};
        if (!GetIconInfo(icon, &info)) return 0;
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        return bitmap.bmWidth;
    }

    std::set<DWORD> refused;
    bool reloadAnswer = true;
    std::vector<DWORD> replaced;
    std::vector<int> sizes;
    int reloads = 0;
};

// The standard system cursors, by their OCR_ numbers.
const std::set<DWORD> kStandardCursors = {32512, 32513, 32514, 32515, 32516, 32642, 32643,
                                          32644, 32645, 32646, 32648, 32649, 32650, 32651};

TEST(SystemCursorGuardTest, ReplacesEveryStandardCursorAndPutsTheSystemCursorsBackOnEveryWayOut) {
    IconHandle icon = MakeSolidIcon(32, picker_scene::kPickerColour);
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    struct Case {
        const char* name;
        HICON icon;
        std::set<DWORD> refused;
        std::function<void(SystemCursorGuard&)> leave;
        bool allReplaced;
    };
    const Case cases[] = {
        {"restored on request", icon.Get(), {}, [](SystemCursorGuard& guard) { guard.Restore(); }, true},
        {"restored when the scope ends", icon.Get(), {}, [](SystemCursorGuard&) {}, true},
        {"restored when a step throws",
         icon.Get(),
         {},
         [](SystemCursorGuard&) { throw std::runtime_error("step failed"); },
         true},
        {"one refused cursor still tries the rest", icon.Get(), {32512}, [](SystemCursorGuard&) {}, false},
        {"all refused", icon.Get(), kStandardCursors, [](SystemCursorGuard&) {}, false},
        // A picker without an icon must not leave the user without a pointer.
        {"no icon",
         nullptr,
         {},
         [arrow](SystemCursorGuard& guard) {
             guard.ShowIconAgain();
             EXPECT_EQ(GetCursor(), arrow);
         },
         false},
    };
    for (const Case& c : cases) {
        RecordingCursors calls;
        calls.refused = c.refused;
        SetCursor(arrow);
        try {
            SystemCursorGuard guard(c.icon, calls);
            EXPECT_EQ(guard.Replaced(), c.allReplaced) << c.name;
            EXPECT_EQ(GetCursor(), c.icon ? c.icon : arrow) << c.name << ": the cursor during the drag";
            EXPECT_EQ(calls.reloads, 0) << c.name;
            c.leave(guard);
        } catch (const std::runtime_error&) {
        }
        const std::set<DWORD> asked = c.icon ? kStandardCursors : std::set<DWORD>();
        EXPECT_EQ(std::set<DWORD>(calls.replaced.begin(), calls.replaced.end()), asked) << c.name;
        EXPECT_EQ(calls.replaced.size(), asked.size()) << c.name;
        for (int size : calls.sizes)
            EXPECT_EQ(size, 32) << c.name << ": each cursor gets a copy of the icon";
        EXPECT_EQ(calls.reloads, 1) << c.name << ": the system cursors are reloaded exactly once";
        EXPECT_EQ(GetCursor(), arrow) << c.name << ": the cursor shown before comes back";
    }
}

TEST(SystemCursorGuardTest, PlatformReloadUnderWineReportsFailureButTheGuardStillRestoresTheCursor) {
    // SPI_SETCURSORS answers FALSE under Wine and TRUE on Windows; either way the guard ends the replacement.
    IconHandle icon = MakeSolidIcon(32, picker_scene::kPickerColour);
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    SetCursor(arrow);
    {
        SystemCursorGuard guard(icon.Get());
        EXPECT_EQ(GetCursor(), icon.Get());
        const bool first = guard.Restore();
        EXPECT_EQ(guard.Restore(), first) << "a second restore repeats the outcome without asking again";
    }
    EXPECT_EQ(GetCursor(), arrow);
}

// Window handles have 32 significant bits on every Windows; a 64-bit process holds them sign-extended, so a handle
// with the top bit set must come back from its text as the same (widened) value.
TEST(PickerResultTextTest, MarkerThenTheHandleInEightUpperCaseDigitsAndBackToTheSameHandle) {
    const struct {
        INT_PTR handle;
        const wchar_t* digits;
    } cases[] = {{0x1A2B3C, L"0x001A2B3C"},
                 {static_cast<int32_t>(0xDEADBEEF), L"0xDEADBEEF"},
                 {0x10, L"0x00000010"},
                 {0x7FFFFFFE, L"0x7FFFFFFE"}};
    for (const auto& c : cases) {
        const HWND handle = reinterpret_cast<HWND>(c.handle);
        const WideString text = PickerResultText(handle);
        EXPECT_EQ(std::wstring(text.Text()), kMarker + c.digits) << Narrow(c.digits);
        EXPECT_EQ(text.Length(), 42);
        EXPECT_EQ(WindowOfPickerText(text), handle) << Narrow(c.digits);
    }
    EXPECT_EQ(kMarker.size(), 32u);
}

// What the catcher showed while the drag went on.
struct CatcherSeen {
    HWND window = nullptr;
    std::wstring title;
    RECT rect = {};
    std::vector<std::wstring> fieldTexts;  // each change once
    bool smallShown = false;
    bool largeShown = false;
    bool cornersCut = false;  // the window's shape leaves out its corner pixels but keeps the edges between them
};

void LookAtCatcher(CatcherSeen& seen) {
    HWND catcher = FindWindowW(kCatcherClass, nullptr);
    if (!catcher) return;
    seen.window = catcher;
    wchar_t text[2048] = {};
    GetWindowTextW(catcher, text, 2048);
    seen.title = text;
    GetWindowRect(catcher, &seen.rect);
    if (HRGN shape = CreateRectRgn(0, 0, 0, 0)) {
        const int w = seen.rect.right - seen.rect.left, h = seen.rect.bottom - seen.rect.top;
        if (GetWindowRgn(catcher, shape) != ERROR)
            seen.cornersCut = !PtInRegion(shape, 0, 0) && !PtInRegion(shape, w - 1, 0) &&
                              !PtInRegion(shape, 0, h - 1) && !PtInRegion(shape, w - 1, h - 1) &&
                              PtInRegion(shape, w / 2, 0) && PtInRegion(shape, 0, h / 2) &&
                              PtInRegion(shape, w - 1, h / 2) && PtInRegion(shape, w / 2, h - 1);
        DeleteObject(shape);
    }
    if (HWND field = FindWindowExW(catcher, nullptr, L"Edit", nullptr)) {
        GetWindowTextW(field, text, 2048);
        if (seen.fieldTexts.empty() || seen.fieldTexts.back() != text) seen.fieldTexts.push_back(text);
    }
    // The two icon views are the statics with SS_ICON, small one first.
    int views = 0;
    for (HWND child = GetWindow(catcher, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        const bool shown = SendMessageW(child, STM_GETICON, 0, 0) != 0;
        (views++ == 0 ? seen.smallShown : seen.largeShown) = shown;
    }
}

class PickWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scene = new Scene;
        ASSERT_TRUE(scene->owner.Create(40, 40));
        ASSERT_TRUE(picker_scene::CreateTarget(scene->titled, L"GwPickerTitled", L"拾取目标 titled", scene->small.Get(),
                                               scene->large.Get(), RECT{700, 60, 1000, 260}));
        ASSERT_TRUE(picker_scene::CreateTarget(scene->untitled, L"GwPickerUntitled", L"", nullptr, scene->large.Get(),
                                               RECT{700, 300, 1000, 500}));
        ASSERT_TRUE(picker_scene::CreateTarget(scene->iconless, L"GwPickerIconless", L"no icons here", nullptr, nullptr,
                                               RECT{700, 540, 1000, 740}));
    }
    static void TearDownTestSuite() { delete scene; }

    struct Scene {
        picker_scene::Owner owner;
        IconHandle small = MakeSolidIcon(16, picker_scene::kSmallColour);
        IconHandle large = MakeSolidIcon(32, picker_scene::kLargeColour);
        UiWindow titled, untitled, iconless;
    };
    static Scene* scene;

    // Drags along the points, holding each for a few polling rounds, and records what the catcher shows. `during`
    // runs in every round with the round's number.
    bool Drag(const std::vector<POINT>& points, CatcherSeen& seen, RecordingCursors& calls,
              const std::function<void(int)>& during = nullptr) {
        constexpr int kRoundsPerPoint = 5;
        int round = 0;
        PickerSystem system;
        system.cursors = &calls;
        system.buttonHeld = [&]() {
            LookAtCatcher(seen);
            const size_t step = static_cast<size_t>(round / kRoundsPerPoint);
            if (step >= points.size()) return false;
            SetCursorPos(points[step].x, points[step].y);
            if (during) during(round);
            ++round;
            return true;
        };
        SetCursorPos(scene->owner.PickerPoint().x, scene->owner.PickerPoint().y);
        return PickWindow(scene->owner.window, scene->owner.picker, scene->owner.field, system);
    }
    std::wstring FieldText() { return scene->owner.window.getText(scene->owner.field).Text(); }
    bool PickerVisible() { return IsWindowVisible(scene->owner.window.handleOf(scene->owner.picker)) != FALSE; }
};
PickWindowTest::Scene* PickWindowTest::scene = nullptr;

TEST_F(PickWindowTest, DragEndsWithTheWindowUnderTheCursorAndEverythingPutBack) {
    Scene& s = *scene;
    const POINT overCatcher = CentreOnScreen(s.owner.window.window);
    struct Case {
        const char* name;
        std::vector<POINT> path;
        HWND chosen;  // null: nothing is chosen
        std::wstring lastShown;
        bool smallShown, largeShown;
    };
    const Case cases[] = {
        {"titled window with both icons",
         {CentreOnScreen(s.iconless.window), CentreOnScreen(s.titled.window)},
         s.titled.window,
         L"拾取目标 titled",
         true,
         true},
        // The catcher shows what the window answers; the page later uses the large icon for both.
        {"untitled window with a large icon only",
         {CentreOnScreen(s.untitled.window)},
         s.untitled.window,
         L"(无标题)",
         false,
         true},
        {"window without icons", {CentreOnScreen(s.iconless.window)}, nullptr, L"no icons here", false, false},
        // The catcher lies over the owner; the window under the catcher is the one chosen.
        {"released over the catcher",
         {CentreOnScreen(s.titled.window), overCatcher},
         s.owner.window.window,
         L"picker owner",
         true,
         true},
        {"released without moving anywhere", {}, nullptr, L"(未选择窗口)", false, false},
    };
    for (const Case& c : cases) {
        s.owner.window.setText(s.owner.field, L"stale text");
        CatcherSeen seen;
        RecordingCursors calls;
        const bool picked = Drag(c.path, seen, calls);
        EXPECT_EQ(picked, c.chosen != nullptr) << c.name;
        EXPECT_EQ(FieldText(), c.chosen ? Expected(c.chosen) : L"") << c.name;
        ASSERT_FALSE(seen.fieldTexts.empty()) << c.name << ": the catcher was never seen";
        EXPECT_EQ(seen.fieldTexts.back(), c.lastShown) << c.name << ": " << Narrow(seen.fieldTexts.back().c_str());
        EXPECT_EQ(seen.smallShown, c.smallShown) << c.name;
        EXPECT_EQ(seen.largeShown, c.largeShown) << c.name;
        EXPECT_EQ(seen.title, L"窗口捕获器") << c.name;
        EXPECT_EQ(seen.rect.right - seen.rect.left, 400) << c.name;
        EXPECT_EQ(seen.rect.bottom - seen.rect.top, 200) << c.name;
        EXPECT_TRUE(seen.cornersCut) << c.name << ": the catcher has rounded corners";
        const POINT ownerCentre = CentreOnScreen(s.owner.window.window);
        EXPECT_NEAR((seen.rect.left + seen.rect.right) / 2, ownerCentre.x, 1) << c.name;
        EXPECT_NEAR((seen.rect.top + seen.rect.bottom) / 2, ownerCentre.y, 1) << c.name;
        // Afterwards: cursors reloaded once, picker shown again, catcher gone.
        EXPECT_EQ(calls.replaced.size(), 14u) << c.name;
        EXPECT_EQ(calls.reloads, 1) << c.name;
        EXPECT_TRUE(PickerVisible()) << c.name;
        EXPECT_FALSE(IsWindow(seen.window)) << c.name;
        EXPECT_EQ(FindWindowW(kCatcherClass, nullptr), nullptr) << c.name;
    }
}

TEST_F(PickWindowTest, PickerIsHiddenAndItsIconIsTheCursorWhileDragging) {
    CatcherSeen seen;
    RecordingCursors calls;
    int rounds = 0, hiddenRounds = 0, iconRounds = 0;
    const auto pickerIcon =
        reinterpret_cast<HICON>(scene->owner.window.sendMessage(scene->owner.picker, STM_GETICON, 0, 0));
    const HCURSOR before = LoadCursorW(nullptr, IDC_ARROW);
    SetCursor(before);
    // The pointer crosses windows whose class cursor is the arrow; the icon must stay the cursor all the same.
    Drag({CentreOnScreen(scene->iconless.window), CentreOnScreen(scene->titled.window)}, seen, calls, [&](int) {
        ++rounds;
        hiddenRounds += PickerVisible() ? 0 : 1;
        iconRounds += GetCursor() == pickerIcon ? 1 : 0;
    });
    EXPECT_EQ(hiddenRounds, rounds);
    EXPECT_EQ(iconRounds, rounds);
    for (int size : calls.sizes)
        EXPECT_EQ(size, 24);
    EXPECT_EQ(GetCursor(), before);
    EXPECT_TRUE(PickerVisible());
}

TEST_F(PickWindowTest, AFailingStepEndsTheDragWithNothingChosenAndEverythingPutBack) {
    Scene& s = *scene;
    struct Case {
        const char* name;
        std::function<void(int)> fail;
    };
    const Case cases[] = {
        {"a step throws",
         [](int round) {
             if (round == 7) throw std::runtime_error("step failed");
         }},
        {"the catcher is destroyed",
         [](int round) {
             if (round == 7) DestroyWindow(FindWindowW(kCatcherClass, nullptr));
         }},
    };
    for (const Case& c : cases) {
        s.owner.window.setText(s.owner.field, L"stale text");
        CatcherSeen seen;
        RecordingCursors calls;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        const bool picked =
            Drag({CentreOnScreen(s.titled.window), CentreOnScreen(s.untitled.window)}, seen, calls, c.fail);
        EXPECT_FALSE(picked) << c.name;
        EXPECT_EQ(FieldText(), L"") << c.name;
        EXPECT_EQ(calls.reloads, 1) << c.name;
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW)) << c.name;
        EXPECT_TRUE(PickerVisible()) << c.name;
        EXPECT_EQ(FindWindowW(kCatcherClass, nullptr), nullptr) << c.name;
    }
}

// Holds Esc down, or lets it go, through the system's input queue as a person's keyboard does.
void EscapeKey(bool down) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_ESCAPE;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof(input));
}

TEST_F(PickWindowTest, EscapeDuringTheDragCancelsThePickAndTheFieldKeepsItsText) {
    Scene& s = *scene;
    s.owner.window.setText(s.owner.field, L"earlier source");
    CatcherSeen seen;
    RecordingCursors calls;
    // Over the titled window from round 0, Esc pressed in round 7; without it the drag would pick that window.
    const bool picked =
        Drag({CentreOnScreen(s.titled.window), CentreOnScreen(s.titled.window)}, seen, calls, [](int round) {
            if (round == 7) EscapeKey(true);
        });
    EscapeKey(false);
    EXPECT_FALSE(picked);
    EXPECT_EQ(FieldText(), L"earlier source");
    EXPECT_EQ(calls.reloads, 1);
    EXPECT_TRUE(PickerVisible());
    EXPECT_EQ(FindWindowW(kCatcherClass, nullptr), nullptr);
}

bool timerFired = false;
void CALLBACK MarkTimer(HWND, UINT, UINT_PTR id, DWORD) {
    timerFired = true;
    KillTimer(nullptr, id);
}

TEST_F(PickWindowTest, MessagesAreHandledWhileThePointerRestsOnOneWindow) {
    // Once the pointer rests on the target, only the picker's periodic pump can run the timer's callback; the drag
    // lasts until it ran, or gives up after several seconds of rounds.
    timerFired = false;
    UINT_PTR timer = 0;
    int rounds = 0;
    bool firedDuringDrag = false;
    RecordingCursors calls;
    PickerSystem system;
    system.cursors = &calls;
    const POINT rest = CentreOnScreen(scene->titled.window);
    system.buttonHeld = [&]() {
        SetCursorPos(rest.x, rest.y);
        if (++rounds == 5) timer = SetTimer(nullptr, 0, 1, MarkTimer);
        firedDuringDrag = timerFired;
        return !timerFired && rounds < 1000;
    };
    EXPECT_TRUE(PickWindow(scene->owner.window, scene->owner.picker, scene->owner.field, system));
    EXPECT_NE(timer, 0u);
    EXPECT_TRUE(firedDuringDrag);
}

}  // namespace
