// Window queries on real windows of this process. RequiresDisplay: run under xvfb.
#include "engine/WindowQueries.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sys/Handles.h"

namespace {

// What the test window answers to WM_GETICON, kept in its user data.
LRESULT CALLBACK AnsweringProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETICON) return GetWindowLongPtrW(window, GWLP_USERDATA);
    return DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t* RegisterTestClass(const wchar_t* name, HICON classIcon) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = AnsweringProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = classIcon;
    wc.hIconSm = classIcon;
    wc.lpszClassName = name;
    UnregisterClassW(name, wc.hInstance);
    RegisterClassExW(&wc);
    return name;
}

struct Window {
    HWND handle = nullptr;
    Window(const wchar_t* className, DWORD style, int x, int y, int width, int height, HWND parent = nullptr,
           DWORD exStyle = 0) {
        handle = CreateWindowExW(exStyle, className, L"", style, x, y, width, height, parent, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    }
    ~Window() {
        if (IsWindow(handle)) DestroyWindow(handle);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
};

TEST(GetWindowIcon, FirstAnswerWinsInOrderOwnThenDefaultThenClass) {
    HICON own = LoadIconW(nullptr, IDI_ERROR);
    HICON viaDefault = LoadIconW(nullptr, IDI_WARNING);
    HICON classIcon = LoadIconW(nullptr, IDI_INFORMATION);
    struct Case {
        const char* name;
        HICON answer;
        HICON defaultIcon;
        HICON expected;
    };
    const Case cases[] = {
        {"own answer", own, viaDefault, own},
        {"default procedure", nullptr, viaDefault, viaDefault},
        {"class icon", nullptr, nullptr, classIcon},
    };
    const wchar_t* className = RegisterTestClass(L"GwQueryIconClass", classIcon);
    for (const Case& c : cases) {
        for (int which : {kIconSmall, kIconBig}) {
            Window window(className, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
            ASSERT_TRUE(window.handle);
            SetWindowLongPtrW(window.handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(c.answer));
            if (c.defaultIcon)
                DefWindowProcW(window.handle, WM_SETICON, which == kIconBig ? ICON_BIG : ICON_SMALL,
                               reinterpret_cast<LPARAM>(c.defaultIcon));
            EXPECT_EQ(GetWindowIcon(window.handle, which), c.expected) << c.name << " which=" << which;
        }
    }
    EXPECT_EQ(GetWindowIcon(nullptr, kIconBig), nullptr);
}

TEST(GetWindowIcon, WindowThatDoesNotAnswerFallsBackInsteadOfStalling) {
    HICON classIcon = LoadIconW(nullptr, IDI_QUESTION);
    const wchar_t* className = RegisterTestClass(L"GwHungIconClass", classIcon);
    KernelHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    KernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HWND hung = nullptr;
    std::thread owner([&] {
        hung = CreateWindowExW(0, className, L"", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(hung, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(LoadIconW(nullptr, IDI_ERROR)));
        SetEvent(created.Get());
        // Never pumps messages until released: a window that does not answer.
        WaitForSingleObject(release.Get(), INFINITE);
        DestroyWindow(hung);
    });
    WaitForSingleObject(created.Get(), INFINITE);
    const HICON answer = GetWindowIcon(hung, kIconBig);
    SetEvent(release.Get());
    owner.join();
    EXPECT_EQ(answer, classIcon);
}

class WindowGeometry : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        wc.lpszClassName = kClass;
        RegisterClassExW(&wc);
    }
    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    static constexpr const wchar_t* kClass = L"GwGeometryClass";
};

TEST_F(WindowGeometry, WindowUnderPointClimbsToTopLevelAndLooksPastTheSkippedWindow) {
    Window below(kClass, WS_POPUP | WS_VISIBLE, 200, 200, 300, 300);
    Window child(L"Static", WS_CHILD | WS_VISIBLE, 10, 10, 100, 100, below.handle);
    Window catcher(kClass, WS_POPUP | WS_VISIBLE, 350, 350, 100, 100, nullptr, WS_EX_TOPMOST);
    ASSERT_TRUE(below.handle && child.handle && catcher.handle);
    Pump();
    struct Case {
        const char* name;
        POINT point;
        HWND skip;
        HWND expected;
    };
    const Case cases[] = {
        {"over a child control", {230, 230}, nullptr, below.handle},
        {"over the catcher, not skipped", {400, 400}, nullptr, catcher.handle},
        {"over the catcher, skipped", {400, 400}, catcher.handle, below.handle},
        {"over a plain top-level window", {450, 300}, catcher.handle, below.handle},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WindowUnderPoint(c.point, c.skip), c.expected) << c.name;
}

TEST_F(WindowGeometry, ChildWindowAtPointPrefersTheSmallestAndTheLaterOfEqualHeights) {
    Window parent(kClass, WS_POPUP | WS_VISIBLE, 100, 100, 400, 300);
    ASSERT_TRUE(parent.handle);
    Window large(L"Static", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, parent.handle);
    Window small(L"Static", WS_CHILD | WS_VISIBLE, 20, 20, 100, 40, parent.handle);
    Window sameHeightFirst(L"Static", WS_CHILD | WS_VISIBLE, 200, 150, 50, 60, parent.handle);
    Window sameHeightSecond(L"Static", WS_CHILD | WS_VISIBLE, 220, 150, 50, 60, parent.handle);
    Window hidden(L"Static", WS_CHILD, 20, 20, 10, 10, parent.handle);
    Pump();
    struct Case {
        const char* name;
        POINT point;
        HWND expected;
    };
    const Case cases[] = {
        {"only the large child", {250, 10}, large.handle},
        {"the small child inside the large one, hidden one ignored", {25, 25}, small.handle},
        {"equal heights: the later child", {230, 170}, sameHeightSecond.handle},
        {"bare client area", {390, 290}, nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChildWindowAtPoint(parent.handle, c.point), c.expected) << c.name;
}

TEST_F(WindowGeometry, ChildWindowAtPointOnAClippingWindowAsksWindowFromPoint) {
    Window parent(kClass, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 100, 100, 400, 300);
    Window large(L"Static", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, parent.handle);
    Window small(L"Static", WS_CHILD | WS_VISIBLE, 20, 20, 100, 40, parent.handle);
    Pump();
    const POINT point = {25, 25};
    POINT screen = point;
    ClientToScreen(parent.handle, &screen);
    EXPECT_EQ(ChildWindowAtPoint(parent.handle, point), WindowFromPoint(screen));
    EXPECT_EQ(ChildWindowAtPoint(parent.handle, POINT{390, 290}), parent.handle);
}

TEST_F(WindowGeometry, ChildWindowAtPointOfAGoneWindowIsNone) {
    HWND gone = CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    EXPECT_EQ(ChildWindowAtPoint(gone, POINT{1, 1}), nullptr);
}

TEST(HighResTimer, NeverStartedIsZeroAndElapsedCountsFromStartOrReference) {
    HighResTimer idle;
    EXPECT_EQ(idle.Elapsed(), 0);
    EXPECT_EQ(idle.Elapsed(12345.0), 0);
    HighResTimer timer;
    const double start = timer.Start();
    EXPECT_GT(start, 0);
    EXPECT_EQ(timer.StartTime(), start);
    EXPECT_GE(timer.Elapsed(), 0);
    // A reference in the future gives a negative span: the reference, not the start, is subtracted.
    EXPECT_LT(timer.Elapsed(timer.Now() + 1000.0), -900.0);
}

}  // namespace
