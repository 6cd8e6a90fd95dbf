// Shell notices are caught with a message-only window: RequiresDisplay.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "sys/FileOperations.h"
#include "sys/Handles.h"

using namespace testing_support;

namespace {

bool IsFolderLink(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void MakeFolder(const WideString& path) {
    ASSERT_TRUE(CreateDirectoryW(path.Text(), nullptr)) << Narrow(path.Text());
}
void MakeFile(const WideString& path) {
    ASSERT_TRUE(WriteBytes(path.Text(), "x", 1)) << Narrow(path.Text());
}

// Wine keeps the Unix path of a file; null on Windows.
std::string UnixPath(const wchar_t* path) {
    using ToUnixFn = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnixFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return std::string();
    char* unix = toUnix(path);
    if (!unix) return std::string();
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Wine starts a Unix program without a handle to wait on, so the caller waits for the outcome it expects.
template <typename Done>
bool RunUnix(const char* program, const std::string& arguments, Done done) {
    std::string line = std::string("Z:\\bin\\") + program + " " + arguments;
    WideString command;
    command.FromUtf8(line.c_str(), 0);
    RunProcess(command.Text(), 5000);
    for (int round = 0; round < 500 && !done(); ++round)
        Sleep(10);
    return done();
}

// Junction layout of FSCTL_SET_REPARSE_POINT for IO_REPARSE_TAG_MOUNT_POINT.
// https://learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/ns-ntifs-_reparse_data_buffer
struct MountPointBuffer {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    wchar_t paths[512];
};

enum class LinkKind { kNone, kWindows, kUnix };

// A folder link made the way the system allows: a junction, a directory symbolic link, or under Wine (which
// cannot make either) a Unix symbolic link, which Wine shows as a directory reparse point.
LinkKind MakeFolderLink(const WideString& link, const WideString& target) {
    if (CreateDirectoryW(link.Text(), nullptr)) {
        FileHandle handle(CreateFileW(link.Text(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        MountPointBuffer buffer = {};
        WideString substitute = WideString::Concat(L"\\??\\", target);
        const WORD substituteBytes = static_cast<WORD>(substitute.Length() * 2);
        const WORD printBytes = static_cast<WORD>(target.Length() * 2);
        buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
        buffer.substituteLength = substituteBytes;
        buffer.printOffset = static_cast<WORD>(substituteBytes + 2);
        buffer.printLength = printBytes;
        memcpy(buffer.paths, substitute.Text(), substituteBytes);
        memcpy(reinterpret_cast<BYTE*>(buffer.paths) + buffer.printOffset, target.Text(), printBytes);
        buffer.dataLength = static_cast<WORD>(8 + buffer.printOffset + printBytes + 2);
        DWORD returned = 0;
        if (handle &&
            DeviceIoControl(handle.Get(), FSCTL_SET_REPARSE_POINT, &buffer, 8 + buffer.dataLength, nullptr, 0,
                            &returned, nullptr) &&
            IsFolderLink(link.Text()))
            return LinkKind::kWindows;
        handle.Reset();
        RemoveDirectoryW(link.Text());
    }
    const DWORD kAllowUnprivileged = 2;
    if (CreateSymbolicLinkW(link.Text(), target.Text(), SYMBOLIC_LINK_FLAG_DIRECTORY | kAllowUnprivileged) &&
        IsFolderLink(link.Text()))
        return LinkKind::kWindows;
    std::string unixTarget = UnixPath(target.Text());
    std::string unixLink = UnixPath(link.Text());
    if (unixTarget.empty() || unixLink.empty()) return LinkKind::kNone;
    const bool made =
        RunUnix("ln", "-s \"" + unixTarget + "\" \"" + unixLink + "\"", [&link] { return IsFolderLink(link.Text()); });
    return made ? LinkKind::kUnix : LinkKind::kNone;
}

// Wine cannot remove a Unix link through RemoveDirectoryW; the folder fixture needs it gone.
void DropFolderLink(const WideString& link) {
    if (!IsFolderLink(link.Text()) || RemoveDirectoryW(link.Text())) return;
    std::string unixLink = UnixPath(link.Text());
    if (!unixLink.empty()) RunUnix("rm", "\"" + unixLink + "\"", [&link] { return !Exists(link.Text()); });
}

// Owner and access list of an object as text.
std::wstring FolderSecurity(const WideString& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.Text(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"?";
    LocalMemoryHandle owner(descriptor);
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"?";
    LocalMemoryHandle textOwner(text);
    return text;
}

struct Notice {
    LONG event;
    std::wstring path;
};

// Records the removal notices the shell hands out in this process.
class NoticeRecorder {
public:
    static constexpr UINT kMessage = WM_APP + 17;

    NoticeRecorder() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &NoticeRecorder::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"GwNoticeRecorder";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
        if (!window_) return;
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SHChangeNotifyEntry everything = {nullptr, TRUE};
        registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel,
                                               SHCNE_DELETE | SHCNE_RMDIR, kMessage, 1, &everything);
    }
    ~NoticeRecorder() {
        if (registration_) SHChangeNotifyDeregister(registration_);
        if (window_) DestroyWindow(window_);
    }
    bool Ready() const { return registration_ != 0; }

    // The notices received so far about paths below the folder; drains the queue first.
    std::vector<Notice> Below(const WideString& folder) {
        MSG message;
        for (int round = 0; round < 20; ++round) {
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        std::vector<Notice> found;
        for (const Notice& notice : notices_)
            if (CompareStringOrdinal(notice.path.c_str(), folder.Length(), folder.Text(), folder.Length(), TRUE) ==
                CSTR_EQUAL)
                found.push_back(notice);
        notices_.clear();
        return found;
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NoticeRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == kMessage && self) {
            auto items = reinterpret_cast<PCIDLIST_ABSOLUTE*>(wParam);
            wchar_t path[MAX_PATH * 2] = {};
            if (items && items[0]) SHGetPathFromIDListW(items[0], path);
            self->notices_.push_back({static_cast<LONG>(lParam), path});
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    ULONG registration_ = 0;
    std::vector<Notice> notices_;
};

// Every file and folder below a folder, as relative paths, sorted.
void ListTree(const WideString& folder, const std::wstring& prefix, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(WideString::Concat(folder, L"\\*").Text(), &data));
    if (!find) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        out.push_back(prefix + name);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ListTree(WideString::Concat(folder, L"\\", name.c_str()), prefix + name + L"\\", out);
    } while (FindNextFileW(find.Get(), &data));
}

std::vector<std::wstring> Tree(const WideString& folder) {
    std::vector<std::wstring> out;
    ListTree(folder, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

std::string Join(const std::vector<std::wstring>& items) {
    std::string text;
    for (const std::wstring& item : items)
        text += Narrow(item.c_str()) + " ";
    return text;
}

// Removes the entries of the pending-rename list that a test added for paths below a folder.
bool ForgetPendingRenames(const WideString& folder, bool& found) {
    found = false;
    const wchar_t* kKey = L"System\\CurrentControlSet\\Control\\Session Manager";
    const wchar_t* kValue = L"PendingFileRenameOperations";
    RegKeyHandle key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), kValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return true;
    std::vector<wchar_t> data(size / 2 + 2, 0);
    if (RegQueryValueExW(key.Get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    std::vector<std::wstring> kept;
    const std::wstring needle = folder.Text();
    for (size_t i = 0; i < data.size() && data[i];) {
        std::wstring source(&data[i]);
        i += source.size() + 1;
        std::wstring target(i < data.size() ? &data[i] : L"");
        i += target.size() + 1;
        if (source.find(needle) != std::wstring::npos) {
            found = true;
            continue;
        }
        kept.push_back(source);
        kept.push_back(target);
    }
    std::vector<wchar_t> rebuilt;
    for (const std::wstring& item : kept) {
        rebuilt.insert(rebuilt.end(), item.begin(), item.end());
        rebuilt.push_back(0);
    }
    rebuilt.push_back(0);
    if (kept.empty()) return RegDeleteValueW(key.Get(), kValue) == ERROR_SUCCESS;
    return RegSetValueExW(key.Get(), kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(rebuilt.data()),
                          static_cast<DWORD>(rebuilt.size() * 2)) == ERROR_SUCCESS;
}

class ForceDeleteTest : public ::testing::Test {
protected:
    TempFolder temp;
};

TEST(DeleteResultTest, CombinesAsDocumented) {
    struct Case {
        DeleteResult total, next, expected;
    } cases[] = {
        {kRemoved, kRemoved, kRemoved},
        {kRemoved, kRemovalScheduled, kRemovalScheduled},
        {kRemoved, kNotRemoved, kNotRemoved},
        {kRemovalScheduled, kRemoved, kRemovalScheduled},
        {kRemovalScheduled, kRemovalScheduled, kRemovalScheduled},
        {kRemovalScheduled, kNotRemoved, kNotRemoved},
        {kNotRemoved, kRemoved, kNotRemoved},
        {kNotRemoved, kRemovalScheduled, kNotRemoved},
        {kNotRemoved, kNotRemoved, kNotRemoved},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CombineDeleteResults(c.total, c.next)) << c.total << " + " << c.next;
}

TEST_F(ForceDeleteTest, PathWithoutSeparatorIsLeftAlone) {
    MakeFile(temp / L"plain.txt");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.Path().Text()));
    const DeleteResult result = ForceDelete(L"plain.txt", kDeleteResetSecurity | kDeleteAtRestart);
    const DeleteResult driveOnly = ForceDelete(L"Q:\\", 0);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(kRemoved, result);
    EXPECT_EQ(kRemoved, driveOnly);
    EXPECT_TRUE(Exists((temp / L"plain.txt").Text()));
}

TEST_F(ForceDeleteTest, MissingPathsCountAsRemovedAndAreNotScheduled) {
    // A pattern below a file names no folder either: nothing can match, and the file stays as it is.
    MakeFile(temp / L"plain.txt");
    const wchar_t* paths[] = {L"missing.txt", L"gone\\deeper\\missing.txt", L"gone\\",
                              L"gone\\*.db",  L"plain.txt\\*.db",           L"plain.txt\\deeper\\*"};
    for (const wchar_t* relative : paths) {
        WideString path = temp / relative;
        EXPECT_EQ(kRemoved, ForceDelete(path.Text(), kDeleteResetSecurity | kDeleteAtRestart)) << Narrow(relative);
    }
    EXPECT_EQ(std::vector<std::wstring>{L"plain.txt"}, Tree(temp.Path())) << Join(Tree(temp.Path()));
    bool scheduled = true;
    ASSERT_TRUE(ForgetPendingRenames(temp.Path(), scheduled));
    EXPECT_FALSE(scheduled) << "a missing path must not be scheduled for removal";
}

TEST_F(ForceDeleteTest, ProtectedAttributesAreClearedWithoutSecurityReset) {
    struct Case {
        const wchar_t* name;
        DWORD attributes;
        bool folder;
    } cases[] = {
        {L"readonly.txt", FILE_ATTRIBUTE_READONLY, false},
        {L"system.txt", FILE_ATTRIBUTE_SYSTEM, false},
        {L"both.ico", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN, false},
        {L"folder", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM, true},
    };
    for (const Case& c : cases) {
        WideString path = temp / c.name;
        if (c.folder) {
            MakeFolder(path);
            WideString inner = WideString::Concat(path, L"\\desktop.ini");
            MakeFile(inner);
            ASSERT_TRUE(SetFileAttributesW(inner.Text(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
        } else {
            MakeFile(path);
        }
        ASSERT_TRUE(SetFileAttributesW(path.Text(), c.attributes));
        EXPECT_EQ(kRemoved, ForceDelete(path.Text(), 0)) << Narrow(c.name);
        EXPECT_FALSE(Exists(path.Text())) << Narrow(c.name);
    }
}

TEST_F(ForceDeleteTest, WildcardRemovesOnlyMatchingEntriesAndKeepsTheFolder) {
    WideString dir = temp / L"cache";
    MakeFolder(dir);
    for (const wchar_t* name : {L"cache\\a.db", L"cache\\b.db", L"cache\\keep.txt", L"cache\\keep.dbx"})
        MakeFile(temp / name);
    MakeFolder(temp / L"cache\\sub");
    MakeFile(temp / L"cache\\sub\\inner.db");
    MakeFolder(temp / L"cache\\old.db");
    MakeFile(temp / L"cache\\old.db\\x.db");
    ASSERT_TRUE(SetFileAttributesW((temp / L"cache\\b.db").Text(), FILE_ATTRIBUTE_READONLY));

    NoticeRecorder notices;
    ASSERT_TRUE(notices.Ready());
    EXPECT_EQ(kRemoved, ForceDelete(WideString::Concat(dir, L"\\*.db").Text(), kDeleteResetSecurity));
    // A folder that matches is walked with the same pattern and removed once empty; others are not entered.
    const std::vector<std::wstring> expected = {L"keep.dbx", L"keep.txt", L"sub", L"sub\\inner.db"};
    EXPECT_EQ(expected, Tree(dir)) << Join(Tree(dir));
    EXPECT_TRUE(notices.Below(temp.Path()).empty());

    EXPECT_EQ(kRemoved, ForceDelete(WideString::Concat(dir, L"\\nothing?.zz").Text(), kDeleteResetSecurity));
    EXPECT_EQ(expected, Tree(dir));
}

TEST_F(ForceDeleteTest, ShellNoticesFollowOnlyRemovedFilesAndFolders) {
    NoticeRecorder notices;
    ASSERT_TRUE(notices.Ready());
    MakeFile(temp / L"single.ico");
    MakeFolder(temp / L"tree");
    MakeFolder(temp / L"tree\\a");
    MakeFile(temp / L"tree\\a\\b.txt");
    MakeFile(temp / L"held.ico");
    MakeFolder(temp / L"pattern");
    MakeFile(temp / L"pattern\\x.db");

    struct Case {
        const wchar_t* path;
        DeleteResult result;
        LONG event;  // 0: no notice
    } cases[] = {
        {L"single.ico", kRemoved, SHCNE_DELETE}, {L"tree", kRemoved, SHCNE_RMDIR}, {L"held.ico", kNotRemoved, 0},
        {L"pattern\\*.db", kRemoved, 0},         {L"never-there", kRemoved, 0},
    };
    FileHandle held(CreateFileW((temp / L"held.ico").Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    for (const Case& c : cases) {
        WideString path = temp / c.path;
        EXPECT_EQ(c.result, ForceDelete(path.Text(), 0)) << Narrow(c.path);
        std::vector<Notice> seen = notices.Below(temp.Path());
        if (c.event == 0) {
            EXPECT_TRUE(seen.empty()) << Narrow(c.path);
            continue;
        }
        ASSERT_EQ(1u, seen.size()) << Narrow(c.path);
        EXPECT_EQ(c.event, seen[0].event) << Narrow(c.path);
        EXPECT_EQ(0, lstrcmpiW(path.Text(), seen[0].path.c_str())) << Narrow(seen[0].path.c_str());
    }
}

TEST_F(ForceDeleteTest, OneEntryThatCannotBeRemovedFailsTheRequestButNotTheOthers) {
    WideString root = temp / L"tree";
    MakeFolder(root);
    for (const wchar_t* folder : {L"tree\\sub", L"tree\\other", L"tree\\other\\deep"})
        MakeFolder(temp / folder);
    for (const wchar_t* file : {L"tree\\a.txt", L"tree\\sub\\b.txt", L"tree\\sub\\locked.ico", L"tree\\sub\\z.txt",
                                L"tree\\other\\c.txt", L"tree\\other\\deep\\d.txt"})
        MakeFile(temp / file);
    ASSERT_TRUE(SetFileAttributesW((temp / L"tree\\other\\c.txt").Text(), FILE_ATTRIBUTE_READONLY));

    NoticeRecorder notices;
    {
        FileHandle locked(
            CreateFileW((temp / L"tree\\sub\\locked.ico").Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked.Valid());
        EXPECT_EQ(kNotRemoved, ForceDelete(root.Text(), kDeleteResetSecurity));
        const std::vector<std::wstring> left = {L"sub", L"sub\\locked.ico"};
        EXPECT_EQ(left, Tree(root)) << Join(Tree(root));
        EXPECT_TRUE(notices.Below(temp.Path()).empty());

        // Scheduling for the restart turns the entry and every folder above it into a pending removal.
        EXPECT_EQ(kRemovalScheduled, ForceDelete(root.Text(), kDeleteResetSecurity | kDeleteAtRestart));
        EXPECT_TRUE(Exists((temp / L"tree\\sub\\locked.ico").Text()));
        EXPECT_TRUE(notices.Below(temp.Path()).empty());
    }
    bool scheduled = false;
    ASSERT_TRUE(ForgetPendingRenames(temp.Path(), scheduled));
    EXPECT_TRUE(scheduled);
    EXPECT_EQ(kRemoved, ForceDelete(root.Text(), 0));
    EXPECT_FALSE(Exists(root.Text()));
}

TEST_F(ForceDeleteTest, HeldFileWithoutFlagsIsReportedNotRemoved) {
    WideString path = temp / L"update.exe.temp";
    MakeFile(path);
    FileHandle held(CreateFileW(path.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    EXPECT_EQ(kNotRemoved, ForceDelete(path.Text(), 0));
    held.Reset();
    EXPECT_EQ(kRemoved, ForceDelete(WideString::Concat(path, L"\\\\").Text(), 0));
    EXPECT_FALSE(Exists(path.Text()));
}

TEST_F(ForceDeleteTest, FolderLinkIsRemovedAsLinkAndItsTargetKeepsItsContent) {
    WideString target = temp / L"target";
    MakeFolder(target);
    MakeFile(temp / L"target\\keep.txt");
    MakeFolder(temp / L"tree");
    MakeFile(temp / L"tree\\plain.txt");
    WideString direct = temp / L"direct";
    WideString inner = temp / L"tree\\inner";
    const LinkKind kind = MakeFolderLink(direct, target);
    if (kind == LinkKind::kNone) GTEST_SKIP() << "this system can make no folder link";
    ASSERT_EQ(kind, MakeFolderLink(inner, target));
    EXPECT_FALSE(IsRealFolder(direct.Text()));

    const std::wstring targetSecurity = FolderSecurity(target);
    const DeleteResult directResult = ForceDelete(direct.Text(), kDeleteResetSecurity);
    const DeleteResult treeResult = ForceDelete((temp / L"tree").Text(), kDeleteResetSecurity);
    EXPECT_TRUE(Exists((temp / L"target\\keep.txt").Text()));
    EXPECT_EQ(targetSecurity, FolderSecurity(target)) << "a link's security reset must not reach its target";
    EXPECT_FALSE(Exists((temp / L"tree\\plain.txt").Text()));
    if (kind == LinkKind::kWindows) {
        EXPECT_EQ(kRemoved, directResult);
        EXPECT_EQ(kRemoved, treeResult);
        EXPECT_FALSE(Exists(direct.Text()));
        EXPECT_FALSE(Exists((temp / L"tree").Text()));
    } else {
        // Wine cannot remove a Unix link with RemoveDirectoryW: it stays, still pointing at the intact target.
        EXPECT_EQ(kNotRemoved, directResult);
        EXPECT_EQ(kNotRemoved, treeResult);
        EXPECT_TRUE(Exists((temp / L"tree\\inner\\keep.txt").Text()));
    }
    DropFolderLink(direct);
    DropFolderLink(inner);
}

TEST(CreateFolderTreeTest, DriveRootsAreAcceptedWithoutCreating) {
    wchar_t missing[] = L"\\\\?\\Q:";
    const DWORD drives = GetLogicalDrives();
    for (wchar_t letter = L'Z'; letter >= L'D'; --letter)
        if (!(drives & (1u << (letter - L'A')))) missing[4] = letter;
    ASSERT_FALSE(drives & (1u << (missing[4] - L'A')));

    struct Case {
        const wchar_t* path;
        bool expected;
    } cases[] = {
        {L"\\\\?\\C:", true}, {L"\\\\?\\C:\\", true}, {L"C:", true}, {L"C:\\\\", true},
        {missing, false},     {L"\\\\?\\", false},    {L"C", false}, {L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, CreateFolderTree(c.path)) << Narrow(c.path);
    EXPECT_FALSE(CreateFolderTree(WideString::Concat(missing + 4, L"\\one\\two").Text()));
}

TEST(CreateFolderTreeTest, CreatesExactlyTheMissingLevels) {
    TempFolder temp;
    struct Case {
        const wchar_t* path;
        std::vector<std::wstring> tree;  // below the temporary folder, after the call
    } cases[] = {
        {L"a\\b", {L"a", L"a\\b"}},
        {L"a\\b", {L"a", L"a\\b"}},
        {L"a\\c\\d\\\\", {L"a", L"a\\b", L"a\\c", L"a\\c\\d"}},
        {L"e", {L"a", L"a\\b", L"a\\c", L"a\\c\\d", L"e"}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(CreateFolderTree((temp / c.path).Text())) << Narrow(c.path);
        EXPECT_EQ(c.tree, Tree(temp.Path())) << Narrow(c.path) << ": " << Join(Tree(temp.Path()));
    }
    // The long-path form works the same.
    WideString longForm = WideString::Concat(L"\\\\?\\", temp.Path(), L"\\f\\g");
    EXPECT_TRUE(CreateFolderTree(longForm.Text()));
    EXPECT_TRUE(IsRealFolder((temp / L"f\\g").Text()));
}

TEST(CreateFolderTreeTest, FailsWhereNoFolderCanBe) {
    TempFolder temp;
    MakeFile(temp / L"file");
    const WideString cases[] = {
        temp / L"file",         // a file of that name is no folder
        temp / L"file\\below",  // nor can a folder go below a file
        WideString(L"relative\\folder"),
        WideString(L"\\\\"),
    };
    for (const WideString& path : cases)
        EXPECT_FALSE(CreateFolderTree(path.Text())) << Narrow(path.Text());
    EXPECT_FALSE(Exists(L"relative"));
}

TEST(IsRealFolderTest, OnlyDirectoriesThatAreNotLinks) {
    TempFolder temp;
    MakeFolder(temp / L"dir");
    MakeFile(temp / L"file");
    EXPECT_TRUE(IsRealFolder(temp.Path().Text()));
    EXPECT_TRUE(IsRealFolder((temp / L"dir").Text()));
    EXPECT_FALSE(IsRealFolder((temp / L"file").Text()));
    EXPECT_FALSE(IsRealFolder((temp / L"missing").Text()));
}

TEST(IsSameFileTest, OtherNamesOfOneFileAreTheSameFile) {
    TempFolder temp;
    MakeFolder(temp / L"dir");
    MakeFile(temp / L"a long file name.txt");
    MakeFile(temp / L"other.txt");
    const WideString file = temp / L"a long file name.txt";
    ASSERT_TRUE(CreateHardLinkW((temp / L"link.txt").Text(), file.Text(), nullptr));
    wchar_t shortName[MAX_PATH] = {};
    const DWORD shortLength = GetShortPathNameW(file.Text(), shortName, MAX_PATH);
    ASSERT_GT(shortLength, 0u);
    ASSERT_LT(shortLength, static_cast<DWORD>(MAX_PATH));
    WideString slashes(file);
    slashes.Replace(L"\\", L"/");

    struct Case {
        const char* name;
        WideString first;
        WideString second;
        bool same;
    } cases[] = {
        {"other case", file, WideString(file).Replace(L"long", L"LONG"), true},
        {"dot segments", file, temp / L"dir\\..\\.\\a long file name.txt", true},
        {"forward slashes", file, slashes, true},
        {"short name", file, WideString(shortName), true},
        {"hard link", file, temp / L"link.txt", true},
        {"folder spelled with a trailing separator", temp / L"dir", temp / L"dir\\", true},
        {"another file", file, temp / L"other.txt", false},
        {"a missing file", file, temp / L"missing.txt", false},
        {"two different missing files", temp / L"x.txt", temp / L"y.txt", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSameFile(c.first, c.second), c.same) << c.name;
        EXPECT_EQ(IsSameFile(c.second, c.first), c.same) << c.name << " (reversed)";
    }
}

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"?";
    LocalMemoryHandle owner(text);
    return text;
}

TEST(SecurityResetTest, ListGrantsFullControlToThreeAccountsInOrder) {
    struct Case {
        bool inherit;
        BYTE flags;
    } cases[] = {{false, 0}, {true, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}};
    const wchar_t* accounts[] = {L"S-1-1-0", L"S-1-5-18", L"S-1-5-32-544"};
    for (const Case& c : cases) {
        SecurityReset material(true, c.inherit);
        ASSERT_TRUE(material.Complete());
        ASSERT_NE(nullptr, material.Acl());
        EXPECT_EQ(ACL_REVISION, material.Acl()->AclRevision);
        EXPECT_EQ(SecurityReset::kAclBytes, material.Acl()->AclSize);
        ASSERT_EQ(3, material.Acl()->AceCount);
        for (DWORD i = 0; i < 3; ++i) {
            void* entry = nullptr;
            ASSERT_TRUE(GetAce(material.Acl(), i, &entry));
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
            EXPECT_EQ(c.flags, allowed->Header.AceFlags);
            EXPECT_EQ(static_cast<DWORD>(GENERIC_ALL), allowed->Mask);
            EXPECT_EQ(std::wstring(accounts[i]), SidText(&allowed->SidStart)) << i;
        }
        ASSERT_NE(nullptr, material.Owner());
        EXPECT_EQ(std::wstring(L"S-1-5-32-544"), SidText(material.Owner()));
    }
    SecurityReset bare(false, true);
    ASSERT_NE(nullptr, bare.Acl());
    EXPECT_EQ(0, bare.Acl()->AceCount);
    EXPECT_EQ(nullptr, bare.Owner());
}

TEST(SecurityResetTest, AppliesToFilesAndFolderTrees) {
    TempFolder temp;
    MakeFile(temp / L"file.ico");
    MakeFolder(temp / L"dir");
    MakeFile(temp / L"dir\\inner.ico");
    SecurityReset fileMaterial(true, false);
    SecurityReset folderMaterial(true, true);
    EXPECT_TRUE(ResetSecurity((temp / L"file.ico").Text(), kResetProtectedList, fileMaterial));
    EXPECT_TRUE(ResetSecurity((temp / L"dir").Text(), kResetTree | kResetProtectedList, folderMaterial));
    EXPECT_FALSE(ResetSecurity((temp / L"missing.ico").Text(), kResetProtectedList, fileMaterial));
    // The objects stay usable by their owner afterwards.
    EXPECT_EQ(kRemoved, ForceDelete((temp / L"dir").Text(), 0));
    EXPECT_EQ(kRemoved, ForceDelete((temp / L"file.ico").Text(), 0));
}

}  // namespace
