// The icon cache, the shell restart and the shell views against the test prefix's own shell and registry.
// RequiresDisplay: the icon-size broadcasts are recorded by a top-level window of this process.
// EndsTheShell: clearing the cache and the restart end explorer.exe, so this unit runs after all others.
#include "sys/IconCache.h"

#include <exdisp.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <map>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "RegistryGuard.h"
#include "TestSupport.h"
#include "sys/Handles.h"
#include "sys/Processes.h"
#include "sys/ShellRun.h"

using namespace testing_support;

namespace {

constexpr wchar_t kMetrics[] = L"Control Panel\\Desktop\\WindowMetrics";
constexpr wchar_t kIconSize[] = L"Shell Icon Size";

int64_t IconSizeAsNumber();

// A hidden top-level window that notes the stored icon size at each icon-metrics broadcast it receives.
class BroadcastRecorder {
public:
    BroadcastRecorder() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"GwTestBroadcastRecorder";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
        Seen().clear();
    }
    ~BroadcastRecorder() {
        if (window_) DestroyWindow(window_);
    }
    BroadcastRecorder(const BroadcastRecorder&) = delete;
    BroadcastRecorder& operator=(const BroadcastRecorder&) = delete;

    bool Ready() const { return window_ != nullptr; }
    // The icon size stored at each broadcast so far (-1 when missing or of another type), then forgotten.
    static std::vector<int64_t> Take() { return std::exchange(Seen(), {}); }

private:
    static std::vector<int64_t>& Seen() {
        static std::vector<int64_t> seen;
        return seen;
    }
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_SETTINGCHANGE && wParam == SPI_SETICONMETRICS) Seen().push_back(IconSizeAsNumber());
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};

struct ShellProcess {
    DWORD id;
    std::wstring path;
};

std::wstring SystemShellPath() {
    wchar_t system[MAX_PATH + 1] = {};
    GetSystemDirectoryW(system, MAX_PATH + 1);
    return std::wstring(system) + L"\\explorer.exe";
}

// Every running process whose program is the Windows folder's or the system folder's explorer.exe.
std::vector<ShellProcess> ShellProcesses() {
    const std::wstring names[] = {ShellProgramPath().Text(), SystemShellPath()};
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    std::vector<ShellProcess> found;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return found;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        WideString path;
        if (!ProcessImagePath(ids[i], path)) continue;
        for (const std::wstring& name : names) {
            if (path.EqualsIgnoreCase(name.c_str())) found.push_back({ids[i], path.Text()});
        }
    }
    return found;
}

// Ends every shell process whose program did not run when the test began: on a platform whose own shell runs from
// another file (Wine's desktop process is the system folder's explorer.exe), the shell that a restart starts is
// the test's doing. A shell of the same program as before is the restarted shell itself and stays.
class ShellGuard {
public:
    ShellGuard() : before_(ShellProcesses()) {}
    ~ShellGuard() {
        for (const ShellProcess& now : ShellProcesses()) {
            bool ranBefore = false;
            for (const ShellProcess& earlier : before_)
                ranBefore |= _wcsicmp(earlier.path.c_str(), now.path.c_str()) == 0;
            if (!ranBefore) KillProcess(now.id);
        }
    }
    ShellGuard(const ShellGuard&) = delete;
    ShellGuard& operator=(const ShellGuard&) = delete;

private:
    std::vector<ShellProcess> before_;
};

// A running shell process for a test that ends one: the one that runs, or else the shell program started now (Wine
// ends its desktop process with the last program and starts it again only for new programs).
DWORD RunningShell() {
    if (DWORD id = FindShellProcess()) return id;
    const WideString shell = ShellProgramPath();
    if (ShellRun(shell.Text()) == 0) return 0;
    for (int wait = 0; wait < 50; ++wait) {
        if (DWORD id = FindShellProcess()) return id;
        Sleep(100);
    }
    return 0;
}

// The user's icon cache locations in the test prefix. Files the test places there are removed at the end; files
// that were there before are written back, and folders the test had to create are removed again.
class CacheFiles {
public:
    CacheFiles() {
        local_.SetSpecialFolder(CSIDL_LOCAL_APPDATA);
        local_.StripTrailingBackslashes();
        explorer_ = WideString::Concat(local_, L"\\Microsoft\\Windows\\Explorer");
        for (const wchar_t* folder : {L"\\Microsoft", L"\\Microsoft\\Windows", L"\\Microsoft\\Windows\\Explorer"}) {
            const WideString path = WideString::Concat(local_, folder);
            if (!Exists(path.Text()) && CreateDirectoryW(path.Text(), nullptr)) created_.insert(created_.begin(), path);
        }
        Keep(CacheFile());
        WIN32_FIND_DATAW data;
        const WideString pattern = WideString::Concat(explorer_, L"\\*.db");
        HANDLE find = FindFirstFileW(pattern.Text(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do
                Keep(WideString::Concat(explorer_, L"\\", data.cFileName));
            while (FindNextFileW(find, &data));
            FindClose(find);
        }
    }
    ~CacheFiles() {
        for (const WideString& path : placed_)
            RemoveTree(path.Text());
        for (const auto& kept : kept_)
            WriteBytes(kept.first.c_str(), kept.second);
        for (const WideString& folder : created_)
            RemoveDirectoryW(folder.Text());
    }
    CacheFiles(const CacheFiles&) = delete;
    CacheFiles& operator=(const CacheFiles&) = delete;

    bool Ready() const { return !local_.IsEmpty() && Exists(explorer_.Text()); }
    WideString CacheFile() const { return WideString::Concat(local_, L"\\IconCache.db"); }
    WideString InExplorer(const wchar_t* name) const { return WideString::Concat(explorer_, L"\\", name); }

    // Removes what is there now, so that a case starts from the files it places.
    void Clear() {
        for (const auto& kept : kept_)
            DeleteFileW(kept.first.c_str());
        for (const WideString& path : placed_)
            RemoveTree(path.Text());
    }
    bool Place(const WideString& path) {
        placed_.push_back(path);
        return WriteBytes(path.Text(), "cache", 5);
    }

private:
    void Keep(const WideString& path) {
        if (Exists(path.Text())) kept_[path.Text()] = ReadBytes(path.Text());
    }

    WideString local_;
    WideString explorer_;
    std::vector<WideString> created_;  // deepest first
    std::vector<WideString> placed_;
    std::map<std::wstring, std::vector<uint8_t>> kept_;
};

class IconCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_TRUE(recorder_.Ready());
        ASSERT_TRUE(files_.Ready());
    }
    void TearDown() override { CoUninitialize(); }

    static void StoreIconSize(DWORD type, const void* data, DWORD size) {
        ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kMetrics, kIconSize, type, data, size));
    }

    // Declared first, so that the shell and the registry are put back after everything else has gone.
    ShellGuard shell_;
    RegistryKeyGuard metrics_{HKEY_CURRENT_USER, kMetrics};
    BroadcastRecorder recorder_;
    CacheFiles files_;
};

// True when a running shell shows its taskbar window again.
bool ShellWindowBack() {
    const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    DWORD owner = 0;
    return tray && GetWindowThreadProcessId(tray, &owner) && IsProcessAlive(owner);
}

// Top-level windows of this class and title (null: any), visible or not. The shell started with the wrong arguments
// opens a file window titled "Desktop".
int CountWindows(const wchar_t* className, const wchar_t* title = nullptr) {
    int count = 0;
    for (HWND window = FindWindowExW(nullptr, nullptr, className, title); window;
         window = FindWindowExW(nullptr, window, className, title))
        ++count;
    return count;
}

// First in this unit, so that it ends the shell the test prefix runs (Wine's desktop process). The restart reports
// success exactly when the shell's window is back (under Wine the desktop process cannot come back while this test
// runs, so there the restart reports failure), and it never opens a file window instead of the shell.
TEST_F(IconCacheTest, RestartEndsTheShellAndReportsItOnlyWhenItsWindowIsBack) {
    const DWORD shell = RunningShell();
    ASSERT_NE(0u, shell) << "no shell process runs in the test prefix";
    const int ended = RestartShell();
    EXPECT_FALSE(IsProcessAlive(shell));
    const bool back = ShellWindowBack();
    RecordProperty("shell_window_back", back ? 1 : 0);
    EXPECT_EQ(back, ended > 0) << ended << " ended";
    EXPECT_EQ(0, CountWindows(nullptr, L"Desktop"));
    EXPECT_LE(ShellProcesses().size(), 1u);
    if (back) {
        EXPECT_GT(RefreshShellViews(), 0);
    }
}

struct IconSizeCase {
    const char* name;
    DWORD type;  // REG_NONE: no value
    std::vector<uint8_t> data;
};

const DWORD kSize32 = 32;
const IconSizeCase kNumber32 = {"32-bit number 32", REG_DWORD, {32, 0, 0, 0}};
const IconSizeCase kMissing = {"missing", REG_NONE, {}};
// The system itself stores the icon size as text.
const IconSizeCase kText = {"text \"32\"", REG_SZ, {'3', 0, '2', 0, 0, 0}};
const IconSizeCase kPaddedText = {"text \" 48 \" without a terminator", REG_SZ, {' ', 0, '4', 0, '8', 0, ' ', 0}};
const IconSizeCase kWordText = {"text \"big\"", REG_SZ, {'b', 0, 'i', 0, 'g', 0, 0, 0}};
const IconSizeCase kBinary = {"four binary bytes", REG_BINARY, {32, 0, 0, 0}};

// The stored icon size read as a number, whether stored as a number or as text (-1 for anything else).
int64_t IconSizeAsNumber() {
    const RegistryValue value = RegistryValue::Read(HKEY_CURRENT_USER, kMetrics, kIconSize);
    if (value.type != REG_SZ) return value.Number();
    std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / 2);
    try {
        return std::stoll(text);
    } catch (const std::exception&) {
        return -1;
    }
}

// A number is raised as a number and text as text; the stored bytes come back exactly.
TEST_F(IconCacheTest, BumpRaisesByAndRestoresA32BitNumberOrDecimalText) {
    struct Case {
        IconSizeCase value;
        IconSizeBump outcome;
        std::vector<int64_t> broadcasts;
    } cases[] = {
        {kNumber32, IconSizeBump::kDone, {38, 32}}, {kMissing, IconSizeBump::kNoValue, {}},
        {kText, IconSizeBump::kDone, {38, 32}},     {kPaddedText, IconSizeBump::kDone, {54, 48}},
        {kWordText, IconSizeBump::kFailed, {}},     {kBinary, IconSizeBump::kFailed, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.name);
        StoreIconSize(c.value.type, c.value.type == REG_NONE ? nullptr : c.value.data.data(),
                      static_cast<DWORD>(c.value.data.size()));
        const RegistryValue before = RegistryValue::Read(HKEY_CURRENT_USER, kMetrics, kIconSize);
        BroadcastRecorder::Take();
        EXPECT_EQ(c.outcome, BumpShellIconSizeOutcome());
        EXPECT_EQ(c.broadcasts, BroadcastRecorder::Take());
        EXPECT_TRUE(before == RegistryValue::Read(HKEY_CURRENT_USER, kMetrics, kIconSize));
        EXPECT_EQ(c.outcome == IconSizeBump::kDone, BumpShellIconSize());
    }
}

// Every case restarts the shell: the running shell process is found and ended, and no file window opens instead.
TEST_F(IconCacheTest, ClearingRestartsTheShellDeletesTheCacheAndBumpsTheIconSize) {
    struct Case {
        const char* name;
        IconSizeCase value;
        bool cacheFile;  // IconCache.db placed
        bool locked;     // the placed cache files held open, so that nothing can be deleted
        bool result;
        std::vector<int64_t> broadcasts;
    } cases[] = {
        {"cache file and databases", kNumber32, true, false, true, {38, 32}},
        {"databases only", kNumber32, false, false, true, {38, 32}},
        {"no icon size value: the deletions decide", kMissing, true, false, true, {}},
        {"icon size stored as text", kText, true, false, true, {38, 32}},
        {"icon size stored as other text", kWordText, true, false, false, {}},
        {"nothing deletable", kNumber32, true, true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        files_.Clear();
        StoreIconSize(c.value.type, c.value.type == REG_NONE ? nullptr : c.value.data.data(),
                      static_cast<DWORD>(c.value.data.size()));
        const RegistryValue before = RegistryValue::Read(HKEY_CURRENT_USER, kMetrics, kIconSize);
        std::vector<WideString> caches = {files_.InExplorer(L"iconcache_32.db"),
                                          files_.InExplorer(L"thumbcache_96.db")};
        if (c.cacheFile) caches.push_back(files_.CacheFile());
        for (const WideString& path : caches)
            ASSERT_TRUE(files_.Place(path));
        const WideString other = files_.InExplorer(L"notes.txt");
        ASSERT_TRUE(files_.Place(other));
        std::vector<FileHandle> locks;
        if (c.locked) {
            for (const WideString& path : caches)
                locks.emplace_back(CreateFileW(path.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        }

        const DWORD shell = RunningShell();
        ASSERT_NE(0u, shell) << "no shell process runs in the test prefix";
        BroadcastRecorder::Take();
        EXPECT_EQ(c.result, ClearIconCache());
        locks.clear();

        EXPECT_FALSE(IsProcessAlive(shell));
        EXPECT_EQ(0, CountWindows(nullptr, L"Desktop"));
        for (const WideString& path : caches)
            EXPECT_EQ(c.locked, Exists(path.Text())) << Narrow(path.Text());
        EXPECT_TRUE(Exists(other.Text()));
        EXPECT_EQ(c.broadcasts, BroadcastRecorder::Take());
        EXPECT_TRUE(before == RegistryValue::Read(HKEY_CURRENT_USER, kMetrics, kIconSize));
    }
}

// A shell window as a collection hands it out, answering as a stub or a real window would: its dispatch object
// gives the top-level browser service, whose active view refreshes as told. References are counted, never freed.
enum class Answer { kRefreshes, kRefreshFails, kViewNull, kViewFails, kNoBrowser };

class FakeWindow : public IDispatch, public IServiceProvider, public IShellBrowser, public IShellView {
public:
    explicit FakeWindow(Answer answer) : answer_(answer) {}
    int refreshes = 0;
    LONG references = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
        if (iid == IID_IServiceProvider) *out = static_cast<IServiceProvider*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID, REFIID iid, void** out) override {
        *out = nullptr;
        if (answer_ == Answer::kNoBrowser || iid != IID_IShellBrowser) return E_NOINTERFACE;
        *out = static_cast<IShellBrowser*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryActiveShellView(IShellView** view) override {
        *view = nullptr;
        if (answer_ == Answer::kViewFails) return E_FAIL;
        if (answer_ == Answer::kViewNull) return S_OK;
        *view = this;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Refresh() override {
        ++refreshes;
        return answer_ == Answer::kRefreshFails ? E_FAIL : S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModelessSB(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetControlWindow(UINT, HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnViewWindowActive(IShellView*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UIActivate(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateViewWindow(IShellView*, LPCFOLDERSETTINGS, IShellBrowser*, RECT*, HWND*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DestroyViewWindow() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SaveViewState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemObject(UINT, REFIID, void**) override { return E_NOTIMPL; }

private:
    Answer answer_;
};

// A shell-windows collection: the desktop (null: FindWindowSW fails) and the windows by index, or a stub that
// answers a count it cannot back with items.
class FakeCollection : public IShellWindows {
public:
    FakeWindow* desktop = nullptr;
    std::vector<FakeWindow*> windows;
    LONG claimedCount = -1;  // -1: the number of windows
    bool nullItems = false;  // items answer S_OK without an object
    bool nonIntegerIndex = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE FindWindowSW(VARIANT*, VARIANT*, int swClass, LONG* window, int options,
                                           IDispatch** out) override {
        *out = nullptr;
        *window = 0;
        if (!desktop || swClass != SWC_DESKTOP || !(options & SWFO_NEEDDISPATCH)) return S_FALSE;
        desktop->AddRef();
        *out = desktop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        *count = claimedCount >= 0 ? claimedCount : static_cast<LONG>(windows.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(VARIANT index, IDispatch** out) override {
        *out = nullptr;
        nonIntegerIndex |= index.vt != VT_I4;
        if (nullItems) return S_OK;
        if (index.vt != VT_I4 || index.lVal < 0 || index.lVal >= static_cast<LONG>(windows.size())) return S_FALSE;
        windows[static_cast<size_t>(index.lVal)]->AddRef();
        *out = windows[static_cast<size_t>(index.lVal)];
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Register(IDispatch*, LONG, int, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterPending(LONG, VARIANT*, VARIANT*, int, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revoke(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnNavigate(LONG, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnActivated(LONG, VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnCreated(LONG, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessAttachDetach(VARIANT_BOOL) override { return E_NOTIMPL; }
};

TEST(RefreshShellViewsTest, CountsRefreshedViewsAndStopsAtTheFirstWindowWithoutOne) {
    using A = Answer;
    const int kNoDesktop = -1;
    struct Case {
        const char* name;
        int desktop;  // an Answer, or kNoDesktop
        std::vector<A> windows;
        int expected;
        std::vector<int> refreshed;  // per window
        LONG claimedCount;
        bool nullItems;
    } cases[] = {
        {"only the desktop", static_cast<int>(A::kRefreshes), {}, 1, {}, -1, false},
        {"desktop and two windows",
         static_cast<int>(A::kRefreshes),
         {A::kRefreshes, A::kRefreshes},
         3,
         {1, 1},
         -1,
         false},
        {"a failed refresh is not counted",
         static_cast<int>(A::kRefreshFails),
         {A::kRefreshFails, A::kRefreshes},
         1,
         {1, 1},
         -1,
         false},
        {"no desktop window", kNoDesktop, {A::kRefreshes}, 1, {1}, -1, false},
        {"a window without a view ends the loop",
         static_cast<int>(A::kRefreshes),
         {A::kRefreshes, A::kViewFails, A::kRefreshes},
         2,
         {1, 0, 0},
         -1,
         false},
        {"a null view ends the loop",
         static_cast<int>(A::kRefreshes),
         {A::kViewNull, A::kRefreshes},
         1,
         {0, 0},
         -1,
         false},
        {"a window without a browser ends the loop",
         static_cast<int>(A::kNoBrowser),
         {A::kNoBrowser, A::kRefreshes},
         0,
         {0, 0},
         -1,
         false},
        {"a stub count of 0", static_cast<int>(A::kRefreshes), {A::kRefreshes}, 1, {0}, 0, false},
        {"a count past the items", static_cast<int>(A::kRefreshes), {A::kRefreshes}, 2, {1}, 5, false},
        {"items without objects", static_cast<int>(A::kRefreshes), {A::kRefreshes}, 1, {0}, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<FakeWindow>> windows;
        FakeCollection collection;
        std::unique_ptr<FakeWindow> desktop;
        if (c.desktop != kNoDesktop) desktop = std::make_unique<FakeWindow>(static_cast<A>(c.desktop));
        collection.desktop = desktop.get();
        for (A answer : c.windows) {
            windows.push_back(std::make_unique<FakeWindow>(answer));
            collection.windows.push_back(windows.back().get());
        }
        collection.claimedCount = c.claimedCount;
        collection.nullItems = c.nullItems;

        EXPECT_EQ(c.expected, RefreshShellViewsOf(&collection));
        for (size_t i = 0; i < windows.size(); ++i) {
            EXPECT_EQ(c.refreshed[i], windows[i]->refreshes) << "window " << i;
            EXPECT_EQ(0, windows[i]->references) << "window " << i << " still referenced";
        }
        if (desktop) {
            EXPECT_EQ(0, desktop->references) << "desktop still referenced";
        }
        EXPECT_FALSE(collection.nonIntegerIndex);
    }
    EXPECT_EQ(0, RefreshShellViewsOf(nullptr));
}

TEST_F(IconCacheTest, RefreshCountsAtMostTheDesktopAndEachShellWindow) {
    const int refreshed = RefreshShellViews();
    RecordProperty("views_refreshed", refreshed);
    EXPECT_GE(refreshed, 0);
    EXPECT_LE(refreshed, 1 + CountWindows(L"CabinetWClass") + CountWindows(L"ExploreWClass"));
    EXPECT_EQ(refreshed, RefreshShellViews());
}

}  // namespace
