// Window shapes, drawn panels, backgrounds, fonts and the toolkit's images, checked by their regions and pixels.
// RequiresDisplay: run under xvfb.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ScreenSupport.h"
#include "TestSupport.h"
#include "engine/Imaging.h"
#include "ui/Regions.h"
#include "ui/ToolkitImages.h"
#include "ui/UiFont.h"
#include "ui/UiWindow.h"

namespace {

constexpr const wchar_t* kClass = L"GwPaintingTest";
constexpr uint32_t kBlack = 0xFF000000, kWhite = 0xFFFFFFFF, kBand = 0xFFF0F0FF;

using Pixels = testing_support::BitmapPixels;
using testing_support::CountDarkGreen;
using testing_support::IsDarkGreen;
using testing_support::ReadBitmap;

// What a paint callback draws into a width x height DIB prefilled with `fill`.
template <typename Paint>
Pixels PaintInto(int width, int height, COLORREF fill, Paint paint) {
    HDC screen = GetDC(nullptr);
    MemoryDcHandle dc(CreateCompatibleDC(screen));
    GdiObjectHandle bitmap(CreateCompatibleBitmap(screen, width, height));
    ReleaseDC(nullptr, screen);
    {
        SelectGuard select(dc.Get(), bitmap.Get());
        GdiObjectHandle brush(CreateSolidBrush(fill));
        RECT all = {0, 0, width, height};
        FillRect(dc.Get(), &all, static_cast<HBRUSH>(brush.Get()));
        paint(dc.Get());
    }
    return ReadBitmap(static_cast<HBITMAP>(bitmap.Get()));
}

// The client area as the window's own erasing leaves it.
Pixels Erased(const UiWindow& window, COLORREF fill = 0x00FF00) {
    RECT client;
    GetClientRect(window.window, &client);
    return PaintInto(client.right, client.bottom, fill,
                     [&](HDC dc) { SendMessageW(window.window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0); });
}

// A straight-alpha image of the given pixels (0xAARRGGBB, row by row).
GdiplusImage ImageOf(int width, int height, const std::vector<uint32_t>& argb) {
    GdiplusImage image = CreateGdiplusBitmap(width, height, PixelFormat32bppARGB);
    BitmapLock lock(image, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB);
    for (int y = 0; y < height; ++y)
        memcpy(lock.Row(y), &argb[static_cast<size_t>(y) * width], static_cast<size_t>(width) * 4);
    return image;
}

// Left half red, right half blue.
GdiplusImage TwoHalves(int width, int height) {
    std::vector<uint32_t> argb(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            argb[static_cast<size_t>(y) * width + x] = x < width / 2 ? 0xFFFF0000 : 0xFF0000FF;
    return ImageOf(width, height, argb);
}

RECT ClientOnScreen(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    return client;
}

HRGN WindowRegion(HWND window) {
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (GetWindowRgn(window, region) == ERROR) {
        DeleteObject(region);
        return nullptr;
    }
    return region;
}

// The screen under a rectangle, as the user sees it.
Pixels CaptureScreen(const RECT& area) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    MemoryDcHandle dc(CreateCompatibleDC(screen));
    GdiObjectHandle bitmap(CreateCompatibleBitmap(screen, width, height));
    {
        SelectGuard select(dc.Get(), bitmap.Get());
        BitBlt(dc.Get(), 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    }
    ReleaseDC(nullptr, screen);
    return ReadBitmap(static_cast<HBITMAP>(bitmap.Get()));
}

// Keeps a capture as a 32-bit BMP in the build folder, to be looked at.
void SaveBmp(const Pixels& pixels, const wchar_t* name) {
    BITMAPFILEHEADER file = {};
    const BITMAPINFOHEADER info = testing_support::TopDownDib(pixels.width, pixels.height).bmiHeader;
    const size_t bytes = pixels.values.size() * 4;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + bytes);
    std::vector<uint8_t> out(file.bfSize);
    memcpy(out.data(), &file, sizeof(file));
    memcpy(out.data() + sizeof(file), &info, sizeof(info));
    // Screen pixels carry no alpha; opaque ones keep viewers from showing the capture as transparent.
    for (size_t i = 0; i < pixels.values.size(); ++i) {
        const uint32_t opaque = pixels.values[i] | 0xFF000000u;
        memcpy(out.data() + file.bfOffBits + i * 4, &opaque, 4);
    }
    testing_support::WriteBytes(testing_support::BuildFile(name).Text(), out);
}

// Processes what is queued, then gives Wine's X11 driver time to copy the windows' drawings to the screen,
// which it does a little later than the drawing itself.
void DrainAndSettle() {
    for (int round = 0; round < 10; ++round) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(30);
    }
}

class PaintingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { imaging = new ImagingSession; }
    static void TearDownTestSuite() { delete imaging; }
    static ImagingSession* imaging;
    UiEventSlot events;
};
ImagingSession* PaintingTest::imaging = nullptr;

TEST_F(PaintingTest, CornerZeroMakesAFramelessWindowOfExactlyTheFormerClientRectangle) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"frameless", 300, 180, 60, 70));
    const RECT before = ClientOnScreen(window.window);
    RECT outer;
    GetWindowRect(window.window, &outer);
    ASSERT_NE(outer.top, before.top) << "a captioned window starts with a frame";

    window.setFrameStyle(0);
    GetWindowRect(window.window, &outer);
    EXPECT_EQ(outer.left, before.left);
    EXPECT_EQ(outer.top, before.top);
    EXPECT_EQ(outer.right, before.right);
    EXPECT_EQ(outer.bottom, before.bottom);
    const RECT after = ClientOnScreen(window.window);
    EXPECT_TRUE(EqualRect(&after, &before));
    EXPECT_EQ(window.framelessInset, 1);
    EXPECT_EQ(window.backgroundWidth, 300);
    EXPECT_EQ(window.backgroundHeight, 180);
    HRGN region = WindowRegion(window.window);
    EXPECT_EQ(region, nullptr) << "no region for corner 0";
    if (region) DeleteObject(region);
    // The frame stays away when the system asks again.
    SetWindowPos(window.window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    const RECT again = ClientOnScreen(window.window);
    EXPECT_TRUE(EqualRect(&again, &after));
}

TEST_F(PaintingTest, RoundedCornersAreCutByArcsOfTheCornerSize) {
    struct Case {
        const char* name;
        int32_t style;
        bool throughFrameStyle;
    };
    const Case cases[] = {
        {"setRoundedRegion on a popup", static_cast<int32_t>(WS_POPUP), false},
        {"frame style 12 on a popup", static_cast<int32_t>(WS_POPUP), true},
        {"frame style 12 on a captioned window", -1, true},
    };
    // Points of the client area: the corner's outer pixels are cut away, pixels a radius in are kept.
    const POINT inside[] = {{6, 0}, {0, 6}, {6, 6}, {180, 75}, {353, 0}, {359, 6}, {6, 149}, {353, 149}};
    const POINT outside[] = {{0, 0}, {1, 1}, {359, 0}, {358, 1}, {0, 149}, {1, 148}, {359, 149}, {360, 75}};
    for (const Case& c : cases) {
        UiWindow window(&events);
        ASSERT_TRUE(window.create(kClass, L"rounded", 360, 150, 20, 20, c.style)) << c.name;
        if (c.throughFrameStyle)
            window.setFrameStyle(12);
        else
            ASSERT_TRUE(setRoundedRegion(window.window, 360, 150, 12)) << c.name;
        HRGN region = WindowRegion(window.window);
        ASSERT_NE(region, nullptr) << c.name;
        RECT outer;
        GetWindowRect(window.window, &outer);
        const RECT client = ClientOnScreen(window.window);
        const int dx = client.left - outer.left, dy = client.top - outer.top;
        for (POINT p : inside)
            EXPECT_TRUE(PtInRegion(region, p.x + dx, p.y + dy)) << c.name << " (" << p.x << ", " << p.y << ")";
        for (POINT p : outside)
            EXPECT_FALSE(PtInRegion(region, p.x + dx, p.y + dy)) << c.name << " (" << p.x << ", " << p.y << ")";
        RECT box;
        GetRgnBox(region, &box);
        EXPECT_EQ(box.right - box.left, 360) << c.name;
        EXPECT_EQ(box.bottom - box.top, 150) << c.name;
        DeleteObject(region);
        EXPECT_EQ(window.framelessInset, 0) << c.name;
    }
}

TEST_F(PaintingTest, CornerOneCutsTheFrameAwayWithSquareCorners) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"square", 200, 100, 20, 20));
    window.setFrameStyle(1);
    HRGN region = WindowRegion(window.window);
    ASSERT_NE(region, nullptr);
    RECT outer;
    GetWindowRect(window.window, &outer);
    const RECT client = ClientOnScreen(window.window);
    RECT box;
    GetRgnBox(region, &box);
    OffsetRect(&box, outer.left, outer.top);
    EXPECT_TRUE(EqualRect(&box, &client));
    EXPECT_TRUE(PtInRegion(region, client.left - outer.left, client.top - outer.top)) << "the corner pixel stays";
    DeleteObject(region);
}

TEST_F(PaintingTest, PanelsFillTheirRoundedRectangleInOneColour) {
    struct Case {
        const char* name;
        int corner;
        bool cornerPixelPainted;
    };
    const Case cases[] = {{"square", 0, true}, {"rounded 12", 12, false}};
    for (const Case& c : cases) {
        GdiplusImage canvas = CreateGdiplusBitmap(40, 40, PixelFormat32bppARGB);
        ASSERT_TRUE(drawPanel(canvas, 4, 4, 32, 32, 0xFF102030, c.corner)) << c.name;
        const std::vector<uint32_t> pixels = ReadPixels(canvas, PixelFormat32bppARGB);
        EXPECT_EQ(pixels[20 * 40 + 20], 0xFF102030u) << c.name << ": centre";
        EXPECT_EQ(pixels[4 * 40 + 20], 0xFF102030u) << c.name << ": top edge";
        EXPECT_EQ(pixels[0], 0u) << c.name << ": outside";
        EXPECT_EQ(pixels[38 * 40 + 20], 0u) << c.name << ": below";
        EXPECT_EQ(pixels[4 * 40 + 4] >> 24 == 0xFF, c.cornerPixelPainted) << c.name << ": corner";
    }
}

TEST_F(PaintingTest, FramedBackgroundDrawsRimPanelAndBandAndRoundsAPopup) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"framed", 360, 150, 20, 20, static_cast<int32_t>(WS_POPUP)));
    window.paintFramedBackground(360, 150, kBlack, kWhite, kBand, 12);
    EXPECT_EQ(window.backgroundMode, kBackgroundTiledBitmap);
    const Pixels erased = Erased(window);
    struct Probe {
        const char* name;
        int x, y;
        uint32_t rgb;
    };
    const Probe probes[] = {
        {"left rim", 1, 75, 0x000000},      {"top rim", 180, 1, 0x000000},     {"right rim", 358, 75, 0x000000},
        {"inner panel", 180, 40, 0xFFFFFF}, {"band", 180, 150 - 20, 0xF0F0FF}, {"bottom rim", 180, 148, 0x000000},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(erased.rgb(p.x, p.y), p.rgb) << p.name;

    HRGN region = WindowRegion(window.window);
    ASSERT_NE(region, nullptr);
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_TRUE(PtInRegion(region, 180, 75));
    DeleteObject(region);

    // Without a band colour of its own the panel runs down to the rim.
    window.paintFramedBackground(360, 150, kBlack, kWhite, kWhite, 12);
    EXPECT_EQ(Erased(window).rgb(180, 150 - 20), 0xFFFFFFu);
}

TEST_F(PaintingTest, FramedBackgroundMakesACaptionedWindowFrameless) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"framed", 200, 100, 30, 30));
    const RECT before = ClientOnScreen(window.window);
    window.paintFramedBackground(200, 100, kBlack, kWhite, kBand, 0);
    RECT outer;
    GetWindowRect(window.window, &outer);
    EXPECT_TRUE(EqualRect(&outer, &before));
    EXPECT_EQ(window.framelessInset, 1);
}

TEST_F(PaintingTest, BackgroundImageSizesTilesAndStretches) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"background", 100, 60, 20, 20, static_cast<int32_t>(WS_POPUP)));
    GdiplusImage halves = TwoHalves(20, 10);
    struct Size {
        const char* name;
        int width, height, expectedWidth, expectedHeight;
    };
    const Size sizes[] = {{"given", 30, 12, 30, 12}, {"client", 0, 0, 100, 60}, {"own", -1, -1, 20, 10}};
    for (const Size& s : sizes) {
        ASSERT_TRUE(window.setBackgroundImage(halves, s.width, s.height)) << s.name;
        BITMAP info = {};
        GetObjectW(window.backgroundBitmap.Get(), sizeof(info), &info);
        EXPECT_EQ(info.bmWidth, s.expectedWidth) << s.name;
        EXPECT_EQ(info.bmHeight, s.expectedHeight) << s.name;
    }
    // Tiled at its own 20 x 10: x = 25 falls on the second tile's red half, x = 35 on its blue half.
    const Pixels tiled = Erased(window);
    EXPECT_EQ(tiled.rgb(5, 5), 0xFF0000u);
    EXPECT_EQ(tiled.rgb(15, 5), 0x0000FFu);
    EXPECT_EQ(tiled.rgb(25, 45), 0xFF0000u);
    EXPECT_EQ(tiled.rgb(35, 45), 0x0000FFu);

    ASSERT_TRUE(window.setBackgroundStretched());
    const Pixels stretched = Erased(window);
    EXPECT_EQ(stretched.rgb(25, 30), 0xFF0000u);
    EXPECT_EQ(stretched.rgb(40, 5), 0xFF0000u);
    EXPECT_EQ(stretched.rgb(75, 30), 0x0000FFu);

    UiWindow noWindow(&events);
    EXPECT_FALSE(noWindow.setBackgroundImage(halves, 10, 10)) << "no memory DC without a window";
    EXPECT_FALSE(window.setBackgroundImage(GdiplusImage(), 10, 10));
}

TEST_F(PaintingTest, TransparentControlsGetTheBackgroundBehindThem) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"behind", 100, 60, 20, 20, static_cast<int32_t>(WS_POPUP)));
    GdiplusImage halves = TwoHalves(20, 10);
    const int label = window.addLabel(L"", 15, 5, 10, 10);  // straddles the red and blue halves of a tile
    HWND labelHandle = window.handleOf(label);
    auto behind = [&] {
        return PaintInto(10, 10, 0x00FF00, [&](HDC dc) {
            auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
                window.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(labelHandle)));
            RECT all = {0, 0, 10, 10};
            SetBrushOrgEx(dc, 0, 0, nullptr);
            FillRect(dc, &all, brush);
        });
    };
    struct Case {
        const char* name;
        bool stretched;
        uint32_t left, right;
    };
    // Tiled: the label's columns 0-4 lie over x 15-19 (blue), 5-9 over x 20-24 (the next tile's red).
    // Stretched over 100 x 60: the whole label lies in the red left half.
    const Case cases[] = {{"tiled", false, 0x0000FF, 0xFF0000}, {"stretched", true, 0xFF0000, 0xFF0000}};
    for (const Case& c : cases) {
        ASSERT_TRUE(window.setBackgroundImage(halves, -1, -1)) << c.name;
        if (c.stretched) window.setBackgroundStretched();
        const Pixels pixels = behind();
        EXPECT_EQ(pixels.rgb(1, 5), c.left) << c.name;
        EXPECT_EQ(pixels.rgb(8, 5), c.right) << c.name;
        EXPECT_TRUE(window.childBackgroundBrush) << c.name;
    }
}

TEST_F(PaintingTest, ErasingSparesControlsMarkedSoAndNothingElse) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"erase", 100, 60, 20, 20, static_cast<int32_t>(WS_POPUP)));
    window.setBackgroundColor(0x0000FF);  // red
    const int plain = window.addLabel(L"", 10, 10, 20, 20);
    window.setResizeDefaults(kControlNoErase);
    const int spared = window.addLabel(L"", 50, 10, 20, 20);
    const int clear = window.addLabel(L"", 10, 35, 20, 20);
    window.controls[clear].backColor = kBackNullBrush;
    window.show(SW_SHOWNOACTIVATE);
    ASSERT_TRUE(IsWindowVisible(window.handleOf(spared)));
    const Pixels erased = Erased(window, 0x00FF00);
    EXPECT_EQ(erased.rgb(20, 20), 0xFF0000u) << "plain label";
    EXPECT_EQ(erased.rgb(60, 20), 0x00FF00u) << "spared label";
    EXPECT_EQ(erased.rgb(20, 45), 0xFF0000u) << "fully transparent labels are painted over";
    EXPECT_EQ(erased.rgb(90, 50), 0xFF0000u);
    (void)plain;

    window.backgroundBrush.Reset();
    EXPECT_EQ(Erased(window, 0x00FF00).rgb(90, 50), 0x00FF00u) << "without a brush nothing is painted";
    window.show(SW_HIDE);
}

TEST_F(PaintingTest, FlickerFreeControlsIgnoreErasingAndPaintThemselvesWhole) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"flicker", 200, 80, 20, 20, static_cast<int32_t>(WS_POPUP)));
    window.setDefaultBackColor(0x00FFFF);  // yellow
    const int edit = window.addEdit(L"text", 10, 10, 120, 24, WS_VISIBLE | ES_AUTOHSCROLL);
    HWND handle = window.handleOf(edit);
    auto eraseLeaves = [&] {
        return PaintInto(20, 20, 0x00FF00,
                         [&](HDC dc) { SendMessageW(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0); })
            .rgb(10, 10);
    };
    const uint32_t plainErase = eraseLeaves();
    window.setResizing(kControlFlickerFree);
    EXPECT_EQ(eraseLeaves(), 0x00FF00u) << "erasing is left to the off-screen paint";
    EXPECT_EQ(SendMessageW(handle, WM_ERASEBKGND, 0, 0), 1);

    // The off-screen paint fills the edit with its brush before the edit draws itself.
    window.show(SW_SHOWNOACTIVATE);
    EXPECT_EQ(Erased(window).rgb(60, 20), 0x00FF00u) << "the window's erase spares it as well";
    RedrawWindow(handle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC screen = GetDC(handle);
    const COLORREF inside = GetPixel(screen, 100, 12);
    ReleaseDC(handle, screen);
    EXPECT_EQ(inside, 0x00FFFFu);

    window.setResizing(0);
    EXPECT_EQ(eraseLeaves(), plainErase) << "without the flag the control erases as before";
    window.show(SW_HIDE);
}

TEST_F(PaintingTest, TabPagesEraseWithTheirTabsColourAndSpareTheirMarkedMembers) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"pages", 300, 200, 20, 20, static_cast<int32_t>(WS_POPUP)));
    window.setDefaultBackColor(0x0000FF);  // the tab's own brush: red
    const int tab = window.addTab(0, 0, 300, 200);
    window.setDefaultBackColor(-1);
    const int page = window.addTabPage(tab, 0, L"page");
    const int plain = window.addLabel(L"", 10, 10, 20, 20);
    window.setResizeDefaults(kControlNoErase);
    const int spared = window.addLabel(L"", 50, 10, 20, 20);
    const int button = window.addButton(L"b", 90, 10, 40, 20);
    window.setResizeDefaults(0);
    window.show(SW_SHOWNOACTIVATE);
    HWND pageHandle = window.handleOf(page);
    ASSERT_TRUE(IsWindowVisible(window.handleOf(spared)));

    const Pixels erased = PaintInto(200, 100, 0x00FF00, [&](HDC dc) {
        EXPECT_EQ(SendMessageW(pageHandle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
    });
    EXPECT_EQ(erased.rgb(20, 20), 0xFF0000u) << "plain member";
    EXPECT_EQ(erased.rgb(60, 20), 0x00FF00u) << "member that paints its own background";
    EXPECT_EQ(erased.rgb(150, 80), 0xFF0000u);

    // Colour answers on a page: transparent labels get the null brush, other controls the page's class brush.
    MemoryDcHandle dc(CreateCompatibleDC(nullptr));
    auto answer = [&](int index) {
        return reinterpret_cast<HGDIOBJ>(SendMessageW(pageHandle, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.Get()),
                                                      reinterpret_cast<LPARAM>(window.handleOf(index))));
    };
    EXPECT_EQ(answer(plain), GetStockObject(NULL_BRUSH));
    EXPECT_EQ(answer(button), reinterpret_cast<HGDIOBJ>(GetClassLongPtrW(pageHandle, GCLP_HBRBACKGROUND)));
    EXPECT_EQ(SendMessageW(pageHandle, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(pageHandle)) << "a page is never closed on its own";
    window.show(SW_HIDE);
}

// What the user sees of a framed, rounded popup over a green window: kept as painting-framed-window.bmp in the
// build folder.
TEST_F(PaintingTest, AFramedWindowOnScreenShowsRimPanelBandControlsAndRoundedCorners) {
    UiWindow backdrop(&events);
    ASSERT_TRUE(backdrop.create(kClass, L"backdrop", 400, 190, 80, 80, static_cast<int32_t>(WS_POPUP)));
    backdrop.setBackgroundColor(0x00C000);
    backdrop.show(SW_SHOWNOACTIVATE, kShowUpdate);

    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"framed", 360, 150, 100, 100, static_cast<int32_t>(WS_POPUP)));
    window.paintFramedBackground(360, 150, kBlack, kWhite, kBand, 12);
    window.setDefaultFont(10.0, FW_NORMAL);
    window.addLabel(L"Glyphwright 图标 — frame, panel and band", 20, 20, 320, 20);
    GdiObjectHandle checked(makeCheckImage(1)), unchecked(makeCheckImage(0));
    GdiObjectHandle radioOn(makeRadioImage(1)), radioOff(makeRadioImage(0));
    window.addCheckBox(L"checked", static_cast<HBITMAP>(checked.Get()), static_cast<HBITMAP>(unchecked.Get()), 20, 50,
                       100, kStateChecked);
    window.addCheckBox(L"unchecked", static_cast<HBITMAP>(checked.Get()), static_cast<HBITMAP>(unchecked.Get()), 130,
                       50, 100, kStateUnchecked);
    window.addRadioButton(L"radio", static_cast<HBITMAP>(radioOn.Get()), static_cast<HBITMAP>(radioOff.Get()), 240, 50,
                          100, kStateChecked);
    window.addButton(L"OK", 270, 116, 75, 25);
    window.show(SW_SHOWNOACTIVATE, kShowUpdate);
    DrainAndSettle();

    const Pixels shot = CaptureScreen(RECT{100, 100, 460, 250});
    SaveBmp(shot, L"painting-framed-window.bmp");
    struct Probe {
        const char* name;
        int x, y;
        uint32_t rgb;
    };
    const Probe probes[] = {
        {"rounded corner shows the window behind", 0, 0, 0x00C000},
        {"corner bottom right", 359, 149, 0x00C000},
        {"left rim", 1, 75, 0x000000},
        {"panel", 200, 90, 0xFFFFFF},
        {"band", 100, 130, 0xF0F0FF},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(shot.rgb(p.x, p.y), p.rgb) << p.name;
    // The check box's image part shows the mark, the unchecked one does not.
    int marked = 0, unmarked = 0;
    for (int y = 50; y < 64; ++y)
        for (int x = 0; x < 14; ++x) {
            marked += IsDarkGreen(shot.at(20 + x, y)) ? 1 : 0;
            unmarked += IsDarkGreen(shot.at(130 + x, y)) ? 1 : 0;
        }
    EXPECT_GE(marked, 12);
    EXPECT_EQ(unmarked, 0);
    window.show(SW_HIDE);
    backdrop.show(SW_HIDE);
}

TEST(Fonts, SizesWeightsAndAttributes) {
    struct Case {
        const char* name;
        double points;
        int weight, attributes, quality;
        LONG height, expectedWeight;
        BYTE italic, underline, strikeOut, expectedQuality;
    };
    const Case cases[] = {
        {"nine points", 9.0, 700, 0, 0, -12, 700, 0, 0, 0, PROOF_QUALITY},
        {"no size", 0.0, 0, 0, 0, -11, 400, 0, 0, 0, PROOF_QUALITY},
        {"half points truncate", 10.5, 400, 2, ANTIALIASED_QUALITY, -14, 400, 1, 0, 0, ANTIALIASED_QUALITY},
        {"underline and strike-out", 12.0, 400, 4 | 8, 0, -16, 400, 0, 1, 1, PROOF_QUALITY},
    };
    for (const Case& c : cases) {
        GdiObjectHandle font(makeFont(c.points, c.weight, c.attributes, L"Arial", c.quality));
        ASSERT_TRUE(font) << c.name;
        LOGFONTW log = {};
        GetObjectW(font.Get(), sizeof(log), &log);
        EXPECT_EQ(log.lfHeight, c.height) << c.name;
        EXPECT_EQ(log.lfWeight, c.expectedWeight) << c.name;
        EXPECT_EQ(log.lfItalic, c.italic) << c.name;
        EXPECT_EQ(log.lfUnderline, c.underline) << c.name;
        EXPECT_EQ(log.lfStrikeOut, c.strikeOut) << c.name;
        EXPECT_EQ(log.lfQuality, c.expectedQuality) << c.name;
        EXPECT_STREQ(log.lfFaceName, L"Arial") << c.name;
    }
}

TEST_F(PaintingTest, ControlFontIsMadeAndHandedToTheControl) {
    UiWindow window(&events);
    ASSERT_TRUE(window.create(kClass, L"font", 100, 60, 0, 0, static_cast<int32_t>(WS_POPUP)));
    const int label = window.addLabel(L"x", 0, 0, 50, 20);
    GdiObjectHandle font(setControlFont(window.handleOf(label), 700, 0, L"Arial", 0, 14.0));
    ASSERT_TRUE(font);
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(window.sendMessage(label, WM_GETFONT, 0, 0)), font.Get());
    window.removeControl(label);
    EXPECT_EQ(setControlFont(nullptr, 400, 0, L"Arial", 0, 9.0), nullptr);
}

TEST_F(PaintingTest, PngResourceIsReturnedAtItsOwnSizeUnscaledAndAtAnyOtherSizeExactly) {
    HMODULE module = GetModuleHandleW(nullptr);
    GdiplusImage own = loadPngResource(module, 300, 24, 16);
    ASSERT_TRUE(own);
    ASSERT_EQ(own.Width(), 24);
    ASSERT_EQ(own.Height(), 16);
    const std::vector<uint32_t> pixels = ReadPixels(own, PixelFormat32bppARGB);
    EXPECT_EQ(pixels[3 * 24 + 5], 0xFF00FF00u) << "the single lime pixel survives";
    EXPECT_EQ(pixels[3 * 24 + 4], 0xFFFF0000u);
    EXPECT_EQ(pixels[3 * 24 + 6], 0xFFFF0000u);
    EXPECT_EQ(pixels[10 * 24 + 20], 0x7F0000FFu) << "straight alpha kept";

    struct Size {
        int width, height;
    };
    for (Size s : {Size{48, 32}, Size{12, 8}, Size{20, 20}}) {
        GdiplusImage scaled = loadPngResource(module, 300, s.width, s.height);
        ASSERT_TRUE(scaled) << s.width << "x" << s.height;
        EXPECT_EQ(scaled.Width(), s.width);
        EXPECT_EQ(scaled.Height(), s.height);
        const std::vector<uint32_t> argb = ReadPixels(scaled, PixelFormat32bppARGB);
        EXPECT_EQ(argb[static_cast<size_t>(s.height - 1) * s.width] & 0xFFFFFF, 0xFF0000u) << "left stays red";
    }
    EXPECT_FALSE(loadPngResource(module, 301, 24, 16)) << "missing resource";
    EXPECT_FALSE(loadPngResource(module, 1, 24, 16)) << "no IMAGE of that number";
}

TEST(ToolkitImages, CheckAndRadioImagesAreFourteenSquareAndOnlyCheckedOnesShowTheGreenMark) {
    ImagingSession imaging;
    struct Case {
        const char* name;
        HBITMAP (*make)(int, int);
        int flags;
        bool mark;
    };
    const Case cases[] = {
        {"check, checked", makeCheckImage, 1, true},
        {"check, unchecked", makeCheckImage, 0, false},
        {"check, indeterminate square", makeCheckImage, 2, true},
        {"check, rounded box checked", makeCheckImage, 4 | 1, true},
        {"radio, checked", makeRadioImage, 1, true},
        {"radio, unchecked", makeRadioImage, 0, false},
    };
    for (const Case& c : cases) {
        GdiObjectHandle image(c.make(c.flags, 14));
        ASSERT_TRUE(image) << c.name;
        const Pixels pixels = ReadBitmap(static_cast<HBITMAP>(image.Get()));
        EXPECT_EQ(pixels.width, 14) << c.name;
        EXPECT_EQ(pixels.height, 14) << c.name;
        const int green = CountDarkGreen(pixels);
        if (c.mark) {
            EXPECT_GE(green, 12) << c.name;
            EXPECT_TRUE(IsDarkGreen(pixels.at(7, 7))) << c.name << ": the mark covers the centre";
        } else {
            EXPECT_EQ(green, 0) << c.name;
            EXPECT_EQ(pixels.rgb(7, 7), 0xFFFFFFu) << c.name << ": white box";
        }
        // The black outline runs along the middle of the left edge.
        const uint32_t edge = pixels.rgb(0, 7);
        EXPECT_LT((edge & 0xFF) + ((edge >> 8) & 0xFF) + ((edge >> 16) & 0xFF), 3u * 0x80) << c.name << ": outline";
    }
}

// Adjacent rows (or columns) of a picture that are exactly alike: a picture enlarged by repeating pixels has many.
int RepeatedLines(const Pixels& p, bool rows) {
    const int lines = rows ? p.height : p.width, length = rows ? p.width : p.height;
    int repeated = 0;
    for (int line = 1; line < lines; ++line) {
        bool same = true;
        for (int i = 0; i < length && same; ++i)
            same = rows ? p.rgb(i, line) == p.rgb(i, line - 1) : p.rgb(line, i) == p.rgb(line - 1, i);
        repeated += same ? 1 : 0;
    }
    return repeated;
}

// On an enlarged display (test_pair_images.py runs this at 144 and 192 pixels per inch) the pair images are drawn at
// the size they are shown, 14 design pixels, and not stretched from 14 screen pixels into blocks.
TEST(PairImagesOnScreen, AreDrawnAtTheScreenSizeOfTheirImagePartWithoutRepeatedPixels) {
    ImagingSession imaging;
    const int side = MulDiv(14, GetDeviceCaps(WindowDc(nullptr).Get(), LOGPIXELSY), 96);
    GdiObjectHandle checkOn(makeCheckImage(1)), checkOff(makeCheckImage(0));
    GdiObjectHandle radioOn(makeRadioImage(1)), radioOff(makeRadioImage(0));
    UiWindow window;
    ASSERT_TRUE(window.create(L"GwPairImages", L"pairs", 200, 80, 30, 30, static_cast<int32_t>(WS_POPUP)));
    window.setBackgroundColor(0xFFFFFF);
    const int check = window.addCheckBox(L" check", static_cast<HBITMAP>(checkOn.Get()),
                                         static_cast<HBITMAP>(checkOff.Get()), 10, 10, 120, kStateChecked);
    const int radio = window.addRadioButton(L" radio", static_cast<HBITMAP>(radioOn.Get()),
                                            static_cast<HBITMAP>(radioOff.Get()), 10, 40, 120, kStateChecked);
    window.show(SW_SHOWNORMAL, kShowUpdate);
    DrainAndSettle();
    struct Case {
        const char* name;
        int image;
    };
    for (const Case& c : {Case{"check box", check - 1}, Case{"radio button", radio - 1}}) {
        RECT rect;
        GetWindowRect(window.handleOf(c.image), &rect);
        EXPECT_EQ(rect.right - rect.left, side) << c.name;
        EXPECT_EQ(rect.bottom - rect.top, side) << c.name;
        const Pixels shown = CaptureScreen(rect);
        SaveBmp(shown, side == 14 ? L"pair-image-96.bmp" : L"pair-image-enlarged.bmp");
        EXPECT_GE(CountDarkGreen(shown), side * side / 8) << c.name << ": the mark is there";
        if (c.image == radio - 1) {
            // A round picture mirrors around its centre and repeats along its flat rim, so a few lines are alike; one
            // stretched from 14 pixels repeats a third (21 px) or a half (28 px) of them.
            EXPECT_LT(RepeatedLines(shown, true), side / 4) << c.name << " at " << side << " px";
            EXPECT_LT(RepeatedLines(shown, false), side / 4) << c.name << " at " << side << " px";
        }
    }
}

}  // namespace
