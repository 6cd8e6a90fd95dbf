// RequiresDisplay: the dialogs are real windows, answered from a second thread of the test.
#include "sys/Dialogs.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

using testing_support::Narrow;

namespace {

constexpr DWORD kWaitMs = 30000;

BOOL CALLBACK NoteOwnDialog(HWND window, LPARAM param) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (owner != GetCurrentProcessId() || !IsWindowVisible(window) || lstrcmpW(className, L"#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
}

// Visible top-level dialog box (class #32770) of this process, if one is up.
HWND FindOwnDialog() {
    HWND found = nullptr;
    EnumWindows(NoteOwnDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

BOOL CALLBACK NoteTexts(HWND child, LPARAM param) {
    auto& texts = *reinterpret_cast<std::vector<std::wstring>*>(param);
    texts.push_back(TextOf(child));
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    if (lstrcmpiW(className, L"ComboBox") == 0) {
        LRESULT count = SendMessageW(child, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            LRESULT length = SendMessageW(child, CB_GETLBTEXTLEN, i, 0);
            if (length <= 0) continue;
            std::wstring item(static_cast<size_t>(length) + 1, L'\0');
            SendMessageW(child, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
            item.resize(static_cast<size_t>(length));
            texts.push_back(item);
        }
    }
    return TRUE;
}

// Caption, texts of all child windows and the items of every combo box (the file-type list among them).
std::vector<std::wstring> TextsOf(HWND dialog) {
    std::vector<std::wstring> texts{TextOf(dialog)};
    EnumChildWindows(dialog, NoteTexts, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// Waits on its own thread for the dialog the test thread is about to show, notes its texts, then answers it
// (by default with Cancel). The dialog's modal loop keeps the test thread busy meanwhile.
class DialogAnswerer {
public:
    using Answer = std::function<void(HWND)>;
    static void Cancel(HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); }

    explicit DialogAnswerer(Answer answer = Cancel) : thread_([this, answer] { Run(answer); }) {}
    ~DialogAnswerer() { Join(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    bool Seen() const { return seen_; }
    bool Shows(const wchar_t* text) const {
        for (const std::wstring& t : texts_)
            if (t == text) return true;
        return false;
    }
    std::string Describe() const {
        std::string all;
        for (const std::wstring& t : texts_)
            all += "[" + Narrow(t.c_str()) + "]";
        return all;
    }

private:
    void Run(const Answer& answer) {
        HWND dialog = nullptr;
        for (DWORD waited = 0; !dialog && waited < kWaitMs; waited += 20) {
            Sleep(20);
            dialog = FindOwnDialog();
        }
        if (!dialog) return;
        seen_ = true;
        texts_ = TextsOf(dialog);
        answer(dialog);
        // A dialog that ignores the answer is closed, so that the test fails instead of hanging.
        for (DWORD waited = 0; IsWindow(dialog) && waited < kWaitMs; waited += 20)
            Sleep(20);
        if (IsWindow(dialog)) PostMessageW(dialog, WM_CLOSE, 0, 0);
    }

    std::atomic<bool> seen_{false};
    std::vector<std::wstring> texts_;
    std::thread thread_;
};

// Description of the first filter pair.
const wchar_t* FirstDescription(const wchar_t* filter) {
    return filter;
}

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(DialogsTest, CancelledFileDialogsLeaveResultUnchanged) {
    const struct {
        const wchar_t* name;
        const FileDialogPreset& preset;
        bool save;
        const wchar_t* initialName;
    } cases[] = {
        {L"picture to convert", kPictureToConvertDialog, false, L"start.png"},
        {L"folder icon", kFolderIconFileDialog, false, nullptr},
        {L"resource file", kResourceFileDialog, false, nullptr},
        {L"resource browse", kResourceFileBrowseDialog, false, L"shell32.dll"},
        {L"icon output", kIconOutputDialog, true, L"proposed"},
        {L"png output", kPngOutputDialog, true, L"proposed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        WideString result(L"unchanged");
        DialogAnswerer answerer;
        bool chosen = c.save ? SaveFileDialog(result, c.preset, c.initialName, nullptr)
                             : OpenFileDialog(result, c.preset, c.initialName, nullptr);
        answerer.Join();
        ASSERT_TRUE(answerer.Seen());
        EXPECT_FALSE(chosen);
        EXPECT_TRUE(result.Equals(L"unchanged")) << Narrow(result.Text());
        EXPECT_TRUE(answerer.Shows(c.preset.title)) << answerer.Describe();
        EXPECT_TRUE(answerer.Shows(FirstDescription(c.preset.filter))) << answerer.Describe();
        if (c.initialName) {
            EXPECT_TRUE(answerer.Shows(c.initialName)) << answerer.Describe();
        }
    }
}

TEST_F(DialogsTest, CancelledFolderPickersLeaveResultUnchanged) {
    const FolderDialogPreset* presets[] = {&kFolderToCustomizeDialog, &kPictureFolderDialog, &kOutputFolderDialog};
    for (const FolderDialogPreset* preset : presets) {
        for (DWORD picker : {DWORD{0}, kFolderLegacyPicker}) {
            SCOPED_TRACE(Narrow(preset->title) + (picker ? " legacy" : " item dialog"));
            WideString result(L"unchanged");
            DialogAnswerer answerer;
            bool chosen = BrowseForFolder(result, preset->title, preset->options | picker, nullptr);
            answerer.Join();
            ASSERT_TRUE(answerer.Seen());
            EXPECT_FALSE(chosen);
            EXPECT_TRUE(result.Equals(L"unchanged")) << Narrow(result.Text());
            EXPECT_TRUE(answerer.Shows(preset->title)) << answerer.Describe();
        }
    }
}

// The legacy picker takes a selection by message, so a choice can be made from the test; the shell reports a
// drive root with its backslash.
TEST_F(DialogsTest, LegacyPickerChoiceLosesOneTrailingBackslash) {
    wchar_t windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryW(windows, MAX_PATH + 1);
    const struct {
        const wchar_t* select;
        const wchar_t* expected;
    } cases[] = {{L"C:\\", L"C:"}, {windows, windows}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.select));
        WideString result(L"unchanged");
        DialogAnswerer answerer([&c](HWND dialog) {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(c.select));
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        });
        bool chosen = BrowseForFolder(result, L"pick", kFolderFileSystemOnly | kFolderLegacyPicker, nullptr);
        answerer.Join();
        ASSERT_TRUE(answerer.Seen());
        EXPECT_TRUE(chosen);
        EXPECT_TRUE(result.EqualsIgnoreCase(c.expected)) << Narrow(result.Text());
    }
}

TEST_F(DialogsTest, ItemDialogShowsCurrentTextInNameBox) {
    WideString result(L"start folder");
    DialogAnswerer answerer;
    EXPECT_FALSE(BrowseForFolder(result, kOutputFolderDialog, nullptr));
    answerer.Join();
    ASSERT_TRUE(answerer.Seen());
    EXPECT_TRUE(answerer.Shows(L"start folder")) << answerer.Describe();
    EXPECT_TRUE(result.Equals(L"start folder"));
}

}  // namespace
