// RequiresDisplay: every case creates windows. They belong to this process, because Wine answers WM_GETICON and
// the class-icon query with 0 for windows of other processes.
#include "engine/WindowIcons.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "IconImageSupport.h"
#include "TestSupport.h"
#include "engine/BatchOperations.h"
#include "engine/IconJob.h"
#include "sys/Handles.h"

using namespace testing_support;

namespace {

constexpr uint32_t kRed = 0xFFFF0000;
constexpr uint32_t kBlue = 0xFF0000FF;
constexpr wchar_t kLargeClass[] = L"GwTestLargeIconClass";
constexpr wchar_t kPlainClass[] = L"GwTestPlainClass";

// What a test window answers to WM_GETICON, and a job whose cancel flag the first query sets.
struct WindowAnswers {
    HICON smallIcon = nullptr;
    HICON bigIcon = nullptr;
    BatchJob* cancelOnQuery = nullptr;
};

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETICON) {
        auto* answers = reinterpret_cast<WindowAnswers*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!answers) return 0;
        if (answers->cancelOnQuery) answers->cancelOnQuery->cancel = true;
        return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? answers->bigIcon : answers->smallIcon);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct WindowDeleter {
    void operator()(HWND window) const { DestroyWindow(window); }
};
using TestWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

TestWindow MakeWindow(const wchar_t* windowClass, const wchar_t* title, WindowAnswers* answers) {
    HWND window = CreateWindowExW(0, windowClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(answers));
    return TestWindow(window);
}

// Centre pixel (BGRA) of each bitmap entry of an .ico file, by entry size; empty when the file is no icon.
std::map<int, uint32_t> EntryCentres(const wchar_t* path) {
    std::map<int, uint32_t> centres;
    const std::vector<uint8_t> b = ReadBytes(path);
    auto le32 = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; };
    if (b.size() < 6 || b[2] != 1) return centres;
    const size_t count = b[4] | b[5] << 8;
    for (size_t i = 0; i < count && 6 + 16 * (i + 1) <= b.size(); ++i) {
        const size_t d = 6 + 16 * i;
        const int size = b[d] == 0 ? 256 : b[d];
        const size_t pixel = le32(d + 12) + 40 + (static_cast<size_t>(size / 2) * size + size / 2) * 4;
        if (pixel + 4 <= b.size()) centres[size] = le32(pixel);
    }
    return centres;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

int Position(const std::vector<HWND>& windows, HWND window) {
    for (size_t i = 0; i < windows.size(); ++i)
        if (windows[i] == window) return static_cast<int>(i);
    return -1;
}

// A window with a class icon on a thread of its own. Hung: after creating it the thread stops taking messages
// until released. Otherwise it keeps answering messages until released.
class WindowThread {
public:
    WindowThread(const wchar_t* title, bool hung, WindowAnswers* answers)
        : title_(title),
          hung_(hung),
          answers_(answers),
          ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_.Reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
        if (thread_) WaitForSingleObject(ready_.Get(), 10000);
    }
    ~WindowThread() {
        SetEvent(release_.Get());
        if (thread_) WaitForSingleObject(thread_.Get(), INFINITE);
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    HWND Window() const { return window_; }

private:
    static DWORD WINAPI Run(LPVOID parameter) {
        auto& self = *static_cast<WindowThread*>(parameter);
        TestWindow window = MakeWindow(kLargeClass, self.title_, self.answers_);
        self.window_ = window.get();
        SetEvent(self.ready_.Get());
        if (self.hung_) {
            WaitForSingleObject(self.release_.Get(), INFINITE);
        } else {
            const HANDLE release = self.release_.Get();
            while (MsgWaitForMultipleObjects(1, &release, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
                MSG message;
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&message);
            }
        }
        return 0;
    }

    const wchar_t* title_;
    bool hung_;
    WindowAnswers* answers_;
    HWND window_ = nullptr;
    KernelHandle ready_;
    KernelHandle release_;
    KernelHandle thread_;
};

class WindowIconsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        largeRed_ = MakeSolidIcon(32, kRed).Release();
        WNDCLASSEXW large = {};
        large.cbSize = sizeof(large);
        large.lpfnWndProc = TestWindowProc;
        large.hInstance = GetModuleHandleW(nullptr);
        large.lpszClassName = kLargeClass;
        large.hIcon = largeRed_;
        RegisterClassExW(&large);
        WNDCLASSEXW plain = large;
        plain.lpszClassName = kPlainClass;
        plain.hIcon = nullptr;
        RegisterClassExW(&plain);
    }

    void SetUp() override {
        ASSERT_TRUE(imaging_.Started());
        ASSERT_TRUE(smallBlue_);
        ASSERT_TRUE(bigRed48_);
    }

    static HICON largeRed_;
    ImagingSession imaging_;
    TempFolder temp_;
    IconHandle smallBlue_ = MakeSolidIcon(16, kBlue);
    IconHandle bigRed48_ = MakeSolidIcon(48, kRed);
};
HICON WindowIconsTest::largeRed_ = nullptr;

TEST_F(WindowIconsTest, EachSizeComesFromTheSmallOrTheLargeIcon) {
    WindowAnswers smallOnly{smallBlue_.Get(), nullptr};
    WindowAnswers bigOnly{nullptr, bigRed48_.Get()};
    WindowAnswers none;
    struct Case {
        const char* name;
        const wchar_t* windowClass;
        WindowAnswers* answers;
        uint32_t small;  // colour of the 16 entry
        uint32_t large;  // colour of the 24, 32 and 48 entries
    } cases[] = {
        {"only a large class icon", kLargeClass, &none, kRed, kRed},
        {"only a small WM_GETICON answer", kPlainClass, &smallOnly, kBlue, kBlue},
        {"only a big WM_GETICON answer", kPlainClass, &bigOnly, kRed, kRed},
        {"small answer and large class icon", kLargeClass, &smallOnly, kBlue, kRed},
    };
    for (const Case& c : cases) {
        TestWindow window = MakeWindow(c.windowClass, L"Icons", c.answers);
        ASSERT_TRUE(window) << c.name;
        const WideString output = temp_ / L"window.bmp";
        ASSERT_TRUE(MakeIconFromWindow(window.get(), output, {16, 24, 32, 48}, kCenter)) << c.name;
        const WideString written = temp_ / L"window.ico";
        const std::map<int, uint32_t> centres = EntryCentres(written.Text());
        ASSERT_EQ(centres.size(), 4u) << c.name;
        EXPECT_EQ(centres.at(16), c.small) << c.name;
        for (int size : {24, 32, 48})
            EXPECT_EQ(centres.at(size), c.large) << c.name << " " << size;
        DeleteFileW(written.Text());
    }
}

TEST_F(WindowIconsTest, AWindowWithoutAnyIconGetsNoFile) {
    WindowAnswers none;
    TestWindow window = MakeWindow(kPlainClass, L"Nothing", &none);
    ASSERT_TRUE(window);
    EXPECT_FALSE(MakeIconFromWindow(window.get(), temp_ / L"none.ico", {16, 32}, kCenter));
    EXPECT_FALSE(MakeIconFromWindow(nullptr, temp_ / L"none.ico", {16, 32}, kCenter));
    EXPECT_TRUE(FolderNames(temp_.Path()).empty());
}

TEST_F(WindowIconsTest, PngOutputIgnoresAResourceFlag) {
    WindowAnswers none;
    TestWindow window = MakeWindow(kLargeClass, L"Png", &none);
    ASSERT_TRUE(window);
    ASSERT_TRUE(MakeIconFromWindow(window.get(), temp_ / L"w.ico", {16, 64}, kPngs | kFromResource | kCenter));
    const std::vector<uint8_t> png = ReadBytes((temp_ / L"w.png").Text());
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(std::memcmp(png.data(), "\x89PNG", 4), 0);
    EXPECT_EQ(png[19], 64);
    EXPECT_FALSE(Exists((temp_ / L"w.ico").Text()));
}

TEST_F(WindowIconsTest, WindowImagesTakeTheSmallIconBelow24) {
    struct Case {
        HICON small;
        HICON large;
        int size;
        uint32_t colour;  // 0: no image
    } cases[] = {
        {smallBlue_.Get(), largeRed_, 16, kBlue},
        {smallBlue_.Get(), largeRed_, 23, kBlue},
        {smallBlue_.Get(), largeRed_, 24, kRed},
        {smallBlue_.Get(), largeRed_, 512, kRed},
        {nullptr, largeRed_, 16, 0},
        {smallBlue_.Get(), nullptr, 48, 0},
        {smallBlue_.Get(), largeRed_, 0, 0},
    };
    for (const Case& c : cases) {
        WorkingImage image = LoadWindowIconImage(c.small, c.large, c.size, kCenter);
        if (!c.colour) {
            EXPECT_FALSE(image) << c.size;
            continue;
        }
        ASSERT_TRUE(image) << c.size;
        EXPECT_EQ(image.Width(), c.size);
        EXPECT_EQ(image.Height(), c.size);
        const std::vector<uint32_t> pixels = ReadPixels(image);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(c.size) * c.size);
        EXPECT_EQ(pixels[static_cast<size_t>(c.size / 2) * c.size + c.size / 2], c.colour) << c.size;
    }
}

TEST_F(WindowIconsTest, WindowIconsKeepTheirOwnPixelsAtTheirOwnSize) {
    // A window's icons of every depth: alpha exactly as the icon holds it, or from the mask where it has none.
    for (IconDepth depth : {IconDepth::kOne, IconDepth::kFour, IconDepth::kEight, IconDepth::kTwentyFour,
                            IconDepth::kAlpha, IconDepth::kZeroAlpha}) {
        IconHandle small(IconFromImageBytes(IconImageBytes(depth, 16), 16));
        IconHandle large(IconFromImageBytes(IconImageBytes(depth, 32), 32));
        ASSERT_TRUE(small && large) << BitsOf(depth);
        for (int size : {16, 32}) {
            SCOPED_TRACE(::testing::Message() << BitsOf(depth) << " bits at " << size);
            WorkingImage image = LoadWindowIconImage(small.Get(), large.Get(), size, kCenter);
            ASSERT_TRUE(image);
            const std::vector<uint32_t> pixels = ReadPixels(image, PixelFormat32bppARGB);
            ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size);
            std::string first;
            EXPECT_EQ(WrongIconPixels(pixels, depth, size, first), 0) << first;
        }
    }
}

TEST_F(WindowIconsTest, ABatchThatWritesNoFileGivesZero) {
    WindowAnswers none;
    TestWindow window = MakeWindow(kLargeClass, L"With an icon", &none);
    ASSERT_TRUE(window);
    BatchJob job;
    job.owner = this;
    job.flags = kCenter;
    job.sizes = {16};
    job.targetFolder = temp_ / L"missing";
    EXPECT_EQ(BatchSaveWindowIcons(&job), 0);
    EXPECT_GT(job.counter, 0) << "windows were enumerated";
    EXPECT_TRUE(FolderNames(temp_.Path()).empty());
}

TEST_F(WindowIconsTest, BatchNumbersEveryWindowAndKeepsEveryFileInTheTarget) {
    WindowAnswers none, smallOnly{smallBlue_.Get(), nullptr};
    TestWindow large = MakeWindow(kLargeClass, L"Large only", &none);
    TestWindow small = MakeWindow(kPlainClass, L"Small only", &smallOnly);
    TestWindow bare = MakeWindow(kPlainClass, L"No icon", &none);
    TestWindow escape = MakeWindow(kLargeClass, L"..\\..\\escape:here", &none);
    WindowThread hung(L"Hung window", true, &none);
    ASSERT_TRUE(large && small && bare && escape && hung.Window());

    const WideString target = temp_ / L"deep\\out";
    ASSERT_TRUE(CreateDirectoryW((temp_ / L"deep").Text(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(target.Text(), nullptr));
    BatchJob job;
    job.owner = this;
    job.flags = kCenter;
    job.sizes = {16, 32};
    job.targetFolder = target;
    const std::vector<HWND> windows = TopLevelWindows();
    EXPECT_EQ(BatchSaveWindowIcons(&job), 1);
    EXPECT_EQ(job.counter, static_cast<int32_t>(windows.size()));

    struct Expected {
        HWND window;
        const wchar_t* name;  // after the number; null: no file
        uint32_t small;
        uint32_t large;
    } expected[] = {
        {large.get(), L"-Large only.ico", kRed, kRed},
        {small.get(), L"-Small only.ico", kBlue, kBlue},
        {bare.get(), nullptr, 0, 0},
        {escape.get(), L"-.._.._escape_here.ico", kRed, kRed},
        {hung.Window(), L"-Hung window.ico", kRed, kRed},
    };
    const std::set<std::wstring> names = FolderNames(target);
    for (const Expected& e : expected) {
        const int position = Position(windows, e.window);
        ASSERT_GE(position, 0);
        const std::wstring number = std::to_wstring(position) + L"-";
        if (!e.name) {
            for (const std::wstring& name : names)
                EXPECT_NE(name.compare(0, number.size(), number), 0) << Narrow(name.c_str());
            continue;
        }
        const std::wstring name = std::to_wstring(position) + e.name;
        ASSERT_EQ(names.count(name), 1u) << Narrow(name.c_str());
        const WideString path = WideString::Concat(target, L"\\", name.c_str());
        const std::map<int, uint32_t> centres = EntryCentres(path.Text());
        ASSERT_EQ(centres.size(), 2u);
        EXPECT_EQ(centres.at(16), e.small) << Narrow(name.c_str());
        EXPECT_EQ(centres.at(32), e.large) << Narrow(name.c_str());
    }
    for (const std::wstring& name : names)
        EXPECT_LT(std::stoi(name), job.counter) << Narrow(name.c_str());
    EXPECT_EQ(FolderNames(temp_.Path()), std::set<std::wstring>{L"deep"});
    EXPECT_EQ(FolderNames(temp_ / L"deep"), std::set<std::wstring>{L"out"});
}

TEST_F(WindowIconsTest, ACancelledBatchStopsBeforeTheNextWindowAndKeepsItsFiles) {
    WindowAnswers none;
    TestWindow later = MakeWindow(kLargeClass, L"Later window", &none);
    ASSERT_TRUE(later);
    BatchJob job;
    WindowAnswers cancelling{nullptr, nullptr, &job};
    WindowThread canceller(L"Cancelling window", false, &cancelling);
    ASSERT_TRUE(canceller.Window());
    const std::vector<HWND> windows = TopLevelWindows();
    const int cancelAt = Position(windows, canceller.Window());
    ASSERT_GE(cancelAt, 0);
    ASSERT_GT(Position(windows, later.get()), cancelAt);

    job.owner = this;
    job.flags = kCenter;
    job.sizes = {16};
    job.targetFolder = temp_.Path();
    EXPECT_EQ(BatchSaveWindowIcons(&job), 1);
    EXPECT_TRUE(job.cancel);
    EXPECT_EQ(job.counter, cancelAt + 1);
    EXPECT_EQ(FolderNames(temp_.Path()), std::set<std::wstring>{std::to_wstring(cancelAt) + L"-Cancelling window.ico"});
}

}  // namespace
