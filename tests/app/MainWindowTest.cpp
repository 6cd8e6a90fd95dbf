// The main window and its single-icon page built as the program builds them, driven in this process with real
// messages, clicks and keys, and read back from their controls, the screen and the files they write.
// RequiresDisplay: run under xvfb.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "IcoReader.h"
#include "MainWindowFixture.h"
#include "PictureSupport.h"
#include "app/WindowPicker.h"
#include "app/helpers/PickerScene.h"
#include "engine/IconWriter.h"

namespace {

using testing_support::CaptureScreen;
using testing_support::CaptureWindow;
using testing_support::CentreOnScreen;
using testing_support::Exists;
using testing_support::IcoDirectory;
using testing_support::Narrow;
using testing_support::ReadBytes;
using testing_support::ReadIcoDirectory;
using testing_support::ScreenShot;
using testing_support::WriteBytes;

constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kPageColour = 0xFEFEFE;

// A 64 x 64 24-bit BMP: the left half red, the right half blue.
bool WriteHalvesBmp(const wchar_t* path) {
    constexpr int kSize = 64;
    std::vector<uint8_t> bytes(54 + kSize * kSize * 3, 0);
    auto put32 = [&bytes](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<uint32_t>(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, kSize);
    put32(22, kSize);
    bytes[26] = 1;
    bytes[28] = 24;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            uint8_t* p = &bytes[54 + (y * kSize + x) * 3];  // blue, green, red
            if (x < kSize / 2)
                p[2] = 0xFF;
            else
                p[0] = 0xFF;
        }
    return WriteBytes(path, bytes);
}

bool Near(uint32_t pixel, uint32_t expected, int tolerance = 24) {
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((pixel >> shift) & 0xFF), b = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance) return false;
    }
    return true;
}

std::string Hex(uint32_t pixel) {
    char text[16];
    snprintf(text, sizeof(text), "%06X", static_cast<unsigned>(pixel));
    return text;
}

// Number of entries in an .ico file's header; -1 when it is none.
int IconEntryCount(const wchar_t* path) {
    const IcoDirectory ico = ReadIcoDirectory(path);
    return ico.isIcon ? ico.count : -1;
}

// Keys pressed through the system's input queue, as a keyboard gives them to the focused control.
void Key(WORD key, bool shift = false) {
    std::vector<INPUT> inputs;
    auto add = [&inputs](WORD vk, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (shift) add(VK_SHIFT, false);
    add(key, false);
    add(key, true);
    if (shift) add(VK_SHIFT, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Characters typed one by one, each a key press of its own.
void TypeKeys(const std::wstring& text) {
    for (wchar_t c : text) {
        INPUT inputs[2] = {};
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wScan = inputs[1].ki.wScan = c;
        inputs[0].ki.dwFlags = KEYEVENTF_UNICODE;
        inputs[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, inputs, sizeof(INPUT));
    }
}

class MainWindowTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override { ShowMainWindow(); }

    SingleIconPage& page() { return main->single; }
    bool Enabled(int index) { return IsWindowEnabled(w().handleOf(index)) != FALSE; }
    std::wstring Status() { return Text(page().singleStatus); }
    int Focused() { return w().indexOfHandle(GetFocus()); }
    void Press(WORD key, bool shift = false) {
        Key(key, shift);
        Pump();
    }
    // Tab until the control has the focus, as a person does; false when a whole round never reached it.
    bool TabTo(int index) {
        for (int presses = 0; presses < 60; ++presses) {
            if (Focused() == index) return true;
            Press(VK_TAB);
        }
        return Focused() == index;
    }
    void TypeInto(int index, const std::wstring& text) {
        ASSERT_TRUE(TabTo(index)) << "control " << index;
        TypeKeys(text);
        Pump();
    }

    // Sets a field's text as typing does: the field reports the change.
    void Type(int index, const std::wstring& text) {
        SetWindowTextW(w().handleOf(index), text.c_str());
        Pump();
    }
    void SetSizes(std::initializer_list<int> sizes) {
        IconFormatSet set = page().ReadOptions();
        for (int size : IconFormatSet::kSizeTable)
            set.SetSize(size, std::find(sizes.begin(), sizes.end(), size) != sizes.end());
        page().ShowOptions(set);
    }
    void Create(const std::wstring& source, const std::wstring& target) {
        Type(page().sourceField, source);
        Type(page().targetField, target);
        Click(page().createButton);
    }
    // The pixel at (x, y) of the picture a preview shows, centred in the control's client area.
    uint32_t PreviewPixel(int index, int size, int x, int y) {
        HWND control = w().handleOf(index);
        RECT client;
        GetClientRect(control, &client);
        POINT origin{(client.right - size) / 2 + x, (client.bottom - size) / 2 + y};
        ClientToScreen(control, &origin);
        return CaptureScreen(RECT{origin.x, origin.y, origin.x + 1, origin.y + 1}).At(0, 0);
    }
    WideString SettingsText() {
        wchar_t buffer[256] = {};
        GetPrivateProfileStringW(L"Settings", L"SingleIconFormats", L"", buffer, 256,
                                 (folder / L"Glyphwright.ini").Text());
        return buffer;
    }
};

// Number of different column patterns in a text strip. A box drawn for a missing glyph has two kinds of columns
// (its sides, and its top and bottom), so a line of boxes has few; real Chinese glyphs have many.
size_t ColumnPatterns(const ScreenShot& shot, uint32_t background) {
    std::set<std::vector<bool>> patterns;
    for (int x = 0; x < shot.width; ++x) {
        std::vector<bool> column(static_cast<size_t>(shot.height));
        bool any = false;
        for (int y = 0; y < shot.height; ++y)
            any |= column[static_cast<size_t>(y)] = !Near(shot.At(x, y), background, 96);
        if (any) patterns.insert(column);
    }
    return patterns.size();
}

// The started window as a person sees it; the picture is kept as main-window.png in the build folder.
TEST_F(MainWindowTest, ShowsTheBlackHeaderTheTabsAndThePageWithReadableChineseCaptions) {
    RECT frame;
    GetWindowRect(w().window, &frame);
    EXPECT_EQ(frame.right - frame.left, 650);
    EXPECT_EQ(frame.bottom - frame.top, 530);
    // Painted again, it looks the same (the links once took the window's black brush with them).
    RedrawWindow(w().window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump();
    RedrawWindow(w().window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump();
    const ScreenShot shot = CaptureWindow(w().window);
    EXPECT_TRUE(testing_support::SaveShot(shot, testing_support::ArtifactFile(L"main-window.png").Text()));

    struct Probe {
        const char* what;
        int x, y;
        uint32_t colour;
    };
    // Window coordinates: the page lies at the tab's client area, about (8, 88) and below.
    const Probe probes[] = {
        {"header band", 300, 12, 0x000000},
        {"header band right of the links", 600, 50, 0x000000},
        {"behind the help link's text", 580, 42, 0x000000},
        {"page area below the options", 300, 460, kPageColour},
        {"page area left of the create button", 200, 480, kPageColour},
    };
    for (const Probe& p : probes)
        EXPECT_TRUE(Near(shot.At(p.x, p.y), p.colour, 2)) << p.what << ": " << Hex(shot.At(p.x, p.y));

    // The preview frames are drawn: their border differs from the page, their inside is empty.
    for (int index : {page().preview32, page().preview128}) {
        const ScreenShot preview = CaptureWindow(w().handleOf(index));
        EXPECT_FALSE(Near(preview.At(0, preview.height / 2), kPageColour, 8)) << "left border " << index;
        EXPECT_FALSE(Near(preview.At(preview.width / 2, preview.height - 1), kPageColour, 8)) << "bottom " << index;
        EXPECT_TRUE(Near(preview.At(preview.width / 2, preview.height / 2), kPageColour, 8)) << "inside " << index;
    }

    // Chinese captions are glyphs: the status line showing characters no font has (boxes) tells them apart.
    HWND status = w().handleOf(page().singleStatus);
    w().setText(page().singleStatus, L"\xE000\xE001\xE002\xE003\xE004\xE005\xE006\xE007");
    Pump();
    const size_t boxes = ColumnPatterns(CaptureWindow(status), kPageColour);
    w().setText(page().singleStatus, L"选择的文件已成功转换.");
    Pump();
    const size_t glyphs = ColumnPatterns(CaptureWindow(status), kPageColour);
    EXPECT_LT(boxes, 8u) << "boxes have few column patterns";
    EXPECT_GT(glyphs, 30u);
    EXPECT_GT(ColumnPatterns(CaptureWindow(w().handleOf(page().kindResource)), kPageColour), 30u);
}

TEST_F(MainWindowTest, DroppedFilesFillSourceKindIndexCaptionAndTarget) {
    const WideString dll = folder / L"x.dll";
    const WideString picture = folder / L"p.bmp";
    ASSERT_TRUE(WriteBytes(dll.Text(), "MZ", 2));
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    const std::wstring dllPath = dll.Text(), picturePath = picture.Text();
    const std::wstring folderPath = folder.Path().Text();

    struct Case {
        const char* name;
        bool pngs;
        std::vector<std::wstring> dropped;
        bool onTarget;
        bool resource;
        std::wstring source, target;
    };
    const Case cases[] = {
        {"resource file", false, {dllPath}, false, true, dllPath, folderPath + L"\\x.ico"},
        {"resource file, PNG output", true, {dllPath}, false, true, dllPath, folderPath + L"\\x.png"},
        {"three files: the first counts",
         false,
         {picturePath, dllPath, L"C:\\other.exe"},
         false,
         false,
         picturePath,
         folderPath + L"\\p.ico"},
        {"on the target only the target changes",
         false,
         {folderPath + L"\\out.png"},
         true,
         false,
         picturePath,
         folderPath + L"\\out.ico"},
        {"on the target with PNG output",
         true,
         {folderPath + L"\\out.ico"},
         true,
         false,
         picturePath,
         folderPath + L"\\out.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (Checked(page().formats.pngs) != c.pngs) Click(page().formats.pngs);
        w().setText(page().indexField, L"7");
        w().setText(page().singleStatus, L"old status");
        Drop(c.dropped, c.onTarget ? page().targetField : page().sourceField);
        EXPECT_EQ(Text(page().sourceField), c.source);
        EXPECT_EQ(Text(page().targetField), c.target);
        EXPECT_EQ(Status(), L"");
        EXPECT_EQ(Text(page().indexField), c.onTarget ? L"7" : L"0");
        if (c.onTarget) continue;
        EXPECT_EQ(Checked(page().kindResource), c.resource);
        EXPECT_EQ(Checked(page().kindFile), !c.resource);
        EXPECT_EQ(Enabled(page().indexField), c.resource);
        EXPECT_EQ(Text(page().createButton), c.resource ? L"提取" : L"转换");
    }
}

TEST_F(MainWindowTest, PngsTogglesTheTargetExtensionAndLeavesAnEmptyTargetAlone) {
    ASSERT_FALSE(Checked(page().formats.pngs));
    Click(page().formats.pngs);
    EXPECT_EQ(Text(page().targetField), L"");
    Click(page().formats.pngs);
    Type(page().targetField, L"C:\\icons\\x.ico");
    Click(page().formats.pngs);
    EXPECT_EQ(Text(page().targetField), L"C:\\icons\\x.png");
    Click(page().formats.pngs);
    EXPECT_EQ(Text(page().targetField), L"C:\\icons\\x.ico");
}

TEST_F(MainWindowTest, CreateChecksItsFieldsInOrderAndWritesNothingOnAFailedCheck) {
    const WideString picture = folder / L"p.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    const std::wstring target = (folder / L"out.ico").Text();
    UiWindow closed;
    ASSERT_TRUE(closed.create(L"GwMainTestClosed", L"closed soon", 100, 100, 0, 0));
    const std::wstring closedText = PickerResultText(closed.window).Text();
    closed.destroy();

    struct Case {
        const char* name;
        int kind;
        std::wstring source, target;
        bool noSize;
        const wchar_t* status;
    };
    const Case cases[] = {
        {"no source", page().kindFile, L"", target, false, L"源位置未设置."},
        {"window kind with a typed source", page().kindWindow, picture.Text(), target, false, L"源位置无效."},
        {"window that has closed", page().kindWindow, closedText, target, false, L"源窗口不存在."},
        {"missing file", page().kindFile, (folder / L"missing.png").Text(), target, false, L"源文件不存在."},
        {"no target", page().kindFile, picture.Text(), L"", false, L"目标图标文件字段为空."},
        {"no size", page().kindFile, picture.Text(), target, true, L"未选择图像格式."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetSizes(c.noSize ? std::initializer_list<int>{} : std::initializer_list<int>{16, 32});
        Click(c.kind);
        // The window kind makes the field read-only for typing; its text still counts.
        w().setText(page().sourceField, c.source.c_str());
        w().setText(page().targetField, c.target.c_str());
        Click(page().createButton);
        EXPECT_EQ(Status(), c.status);
        EXPECT_FALSE(Exists(target.c_str()));
        EXPECT_FALSE(Exists((folder / L"Glyphwright.ini").Text())) << "no settings written";
    }
}

TEST_F(MainWindowTest, ConversionsWriteTheTargetKeepBackupsAndSaveTheFormats) {
    const WideString picture = folder / L"p.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    const std::wstring icon = (folder / L"x.ico").Text();
    const std::wstring backup = (folder / L"x (backup).ico").Text();

    SetSizes({16, 32, 48});
    Create(picture.Text(), icon);
    EXPECT_EQ(Status(), L"选择的文件已成功转换.");
    EXPECT_EQ(IconEntryCount(icon.c_str()), 3);
    EXPECT_STREQ(SettingsText().Text(), L"|16|32|48|PNGC|Center|");
    const std::vector<uint8_t> first = ReadBytes(icon.c_str());

    // Onto itself: the job reads the backup, which stays.
    SetSizes({16});
    Create(icon, icon);
    EXPECT_EQ(Status(), L"选择的文件已成功转换.");
    EXPECT_EQ(IconEntryCount(icon.c_str()), 1);
    EXPECT_EQ(ReadBytes(backup.c_str()), first);
    EXPECT_STREQ(SettingsText().Text(), L"|16|PNGC|Center|");

    // A failing extraction into an existing target leaves the old target, and no backup behind.
    const WideString broken = folder / L"broken.dll";
    ASSERT_TRUE(WriteBytes(broken.Text(), "not a program", 13));
    Drop({broken.Text()}, page().sourceField);
    ASSERT_TRUE(Checked(page().kindResource));
    const std::vector<uint8_t> before = ReadBytes(icon.c_str());
    Type(page().targetField, icon);
    Click(page().createButton);
    // Rights are not what failed here, so nobody is sent after them.
    EXPECT_EQ(Status(), L"无法提取图标: 源文件中没有可读取的该图标.");
    EXPECT_EQ(ReadBytes(icon.c_str()), before);
    EXPECT_EQ(ReadBytes(backup.c_str()), first) << "only the first backup is there";
    app.isAdmin = true;
    Click(page().createButton);
    EXPECT_EQ(Status(), L"无法提取图标: 源文件中没有可读取的该图标.");
    EXPECT_EQ(ReadBytes(icon.c_str()), before);
}

TEST_F(MainWindowTest, ANegativeIconIndexIsUsedAsTheFirstIcon) {
    const WideString program = folder / L"program.exe";
    ASSERT_TRUE(CopyFileW(testing_support::BuildFile(L"Glyphwright.exe").Text(), program.Text(), FALSE));
    Drop({program.Text()}, page().sourceField);
    ASSERT_TRUE(Checked(page().kindResource));
    SetSizes({16, 32});
    const std::wstring negative = (folder / L"negative.ico").Text(), first = (folder / L"first.ico").Text();
    Type(page().indexField, L"-3");
    Type(page().targetField, negative);
    Click(page().createButton);
    EXPECT_EQ(Status(), L"已成功提取选择的图标.");
    EXPECT_EQ(Text(page().indexField), L"0");
    Type(page().targetField, first);
    Click(page().createButton);
    ASSERT_EQ(IconEntryCount(first.c_str()), 2);
    EXPECT_EQ(ReadBytes(negative.c_str()), ReadBytes(first.c_str()));
}

TEST_F(MainWindowTest, ThePreviewFollowsTheSourceFieldAndTheFitRadios) {
    const WideString picture = folder / L"p.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    Type(page().sourceField, picture.Text());
    const struct { int index, size; } previews[] = {{page().preview32, 32}, {page().preview128, 128}};
    for (const auto& p : previews) {
        const int quarter = p.size / 4;
        EXPECT_TRUE(Near(PreviewPixel(p.index, p.size, quarter, p.size / 2), kRed))
            << p.size << ": " << Hex(PreviewPixel(p.index, p.size, quarter, p.size / 2));
        EXPECT_TRUE(Near(PreviewPixel(p.index, p.size, 3 * quarter, p.size / 2), kBlue))
            << p.size << ": " << Hex(PreviewPixel(p.index, p.size, 3 * quarter, p.size / 2));
    }
    Type(page().sourceField, (folder / L"gone.bmp").Text());
    for (const auto& p : previews)
        EXPECT_TRUE(Near(PreviewPixel(p.index, p.size, p.size / 4, p.size / 2), kPageColour, 8))
            << "a missing source empties the preview";
}

TEST_F(MainWindowTest, TheOutputNameDecidesTheBackupAndAFolderTargetTakesTheSourcesName) {
    const WideString picture = folder / L"p.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    SetSizes({16, 32});

    // PNG checked, an .ico name typed: the older x.png is what gets replaced, so it is what is kept.
    const WideString oldPng = folder / L"x.png", ico = folder / L"x.ico";
    ASSERT_TRUE(WriteBytes(oldPng.Text(), "older png", 9));
    ASSERT_TRUE(WriteBytes(ico.Text(), "untouched", 9));
    Type(page().sourceField, picture.Text());
    Click(page().formats.pngs);
    ASSERT_TRUE(Checked(page().formats.pngs));
    Type(page().targetField, ico.Text());
    Click(page().createButton);
    EXPECT_EQ(Status(), L"选择的文件已成功转换.");
    EXPECT_EQ(ReadBytes(oldPng.Text()).size() > 9 && ReadBytes(oldPng.Text())[1] == 'P', true) << "x.png is new";
    EXPECT_EQ(ReadBytes((folder / L"x (backup).png").Text()),
              std::vector<uint8_t>({'o', 'l', 'd', 'e', 'r', ' ', 'p', 'n', 'g'}));
    EXPECT_FALSE(Exists((folder / L"x (backup).ico").Text())) << "the .ico was never written";
    EXPECT_EQ(ReadBytes(ico.Text()).size(), 9u);

    // A folder as target: the source's name inside it, never a nameless ".png".
    const WideString out = folder / L"out";
    ASSERT_TRUE(CreateDirectoryW(out.Text(), nullptr));
    for (const std::wstring& target : {std::wstring(out.Text()) + L"\\", std::wstring(out.Text())}) {
        SCOPED_TRACE(Narrow(target.c_str()));
        Type(page().targetField, target);
        Click(page().createButton);
        EXPECT_EQ(Status(), L"选择的文件已成功转换.");
        EXPECT_TRUE(Exists((std::wstring(out.Text()) + L"\\p.png").c_str()));
        EXPECT_FALSE(Exists((std::wstring(out.Text()) + L"\\.png").c_str()));
    }
}

TEST_F(MainWindowTest, FailuresNameTheirCauseAndOnlyARefusedAccessMentionsAdministratorRights) {
    const WideString picture = folder / L"p.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    const WideString damaged = folder / L"damaged.jpg";
    const uint8_t jpegStart[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0,    1,    1,   0,
                                 0,    1,    0,    1,    0,    0,    0xFF, 0xDB, 0x00, 0x43, 0x00, 0x07, 0x07};
    ASSERT_TRUE(WriteBytes(damaged.Text(), jpegStart, sizeof(jpegStart)));
    const WideString held = folder / L"held.ico";
    ASSERT_TRUE(WriteBytes(held.Text(), "held open", 9));
    SetSizes({16, 32});

    Create(picture.Text(), (folder / L"no such folder\\x.ico").Text());
    EXPECT_EQ(Status(), L"无法转换此文件: 目标文件夹不存在.");
    Create(damaged.Text(), (folder / L"d.ico").Text());
    EXPECT_EQ(Status(), L"无法转换此文件: 源文件不是可读取的图片, 或已损坏.");
    EXPECT_FALSE(Exists((folder / L"d.ico").Text()));
    {
        FileHandle open(CreateFileW(held.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(open);
        Create(picture.Text(), held.Text());
        EXPECT_EQ(Status(), L"无法转换此文件: 目标文件正被其他程序使用.");
    }
    EXPECT_EQ(ReadBytes(held.Text()).size(), 9u) << "the held file is as it was";
}

// Asks the preview control for its picture from another thread: the answer comes only when the window's thread
// handles messages.
DWORD WINAPI AskForPreviewPicture(void* parameter) {
    auto* ask = static_cast<std::pair<HWND, LRESULT>*>(parameter);
    ask->second = SendMessageW(ask->first, STM_GETIMAGE, IMAGE_BITMAP, 0);
    return 0;
}

TEST_F(MainWindowTest, ALargePicturePreviewsOffTheWindowsThreadAndTheLastRequestWins) {
    const WideString large = folder / L"large.png";
    ASSERT_TRUE(testing_support::SavePicture(large, 4000, 4000, 0xFF0000FF));
    const WideString picture = folder / L"p.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));

    w().setText(page().sourceField, large.Text());
    page().UpdatePreview();
    // The request has returned; while the picture decodes, the window answers a message from another thread.
    std::pair<HWND, LRESULT> ask{w().handleOf(page().preview128), 1};
    HANDLE asker = CreateThread(nullptr, 0, AskForPreviewPicture, &ask, 0, nullptr);
    ASSERT_TRUE(asker);
    // Only sent messages are answered here; what is posted waits for the dispatch below.
    while (MsgWaitForMultipleObjects(1, &asker, FALSE, 20000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(asker);
    EXPECT_TRUE(page().PreviewPending()) << "the decode is still running";
    EXPECT_EQ(ask.second, 0) << "the window answered before the preview was there";

    // A newer source typed meanwhile is what the previews show at the end.
    Type(page().sourceField, picture.Text());
    Pump();
    EXPECT_FALSE(page().PreviewPending());
    EXPECT_TRUE(Near(PreviewPixel(page().preview128, 128, 32, 64), kRed))
        << Hex(PreviewPixel(page().preview128, 128, 32, 64));
    EXPECT_TRUE(Near(PreviewPixel(page().preview128, 128, 96, 64), kBlue));
}

TEST_F(MainWindowTest, EnterInTheFieldsRunsTheCreateButton) {
    struct Case {
        int field;
        std::wstring source;
        const wchar_t* status;
    };
    const Case cases[] = {
        {page().sourceField, L"", L"源位置未设置."},
        {page().targetField, (folder / L"missing.png").Text(), L"源文件不存在."},
    };
    for (const Case& c : cases) {
        Type(page().sourceField, c.source);
        w().setText(page().singleStatus, L"");
        SetFocus(w().handleOf(c.field));
        testing_support::PressKey(VK_RETURN);
        Pump();
        EXPECT_EQ(Status(), c.status);
        EXPECT_TRUE(GetWindowLongW(w().handleOf(page().createButton), GWL_STYLE) & BS_DEFPUSHBUTTON);
    }
}

TEST_F(MainWindowTest, SpaceTogglesACheckBoxAndARadioGroupIsOneTabStopMovedWithTheArrows) {
    SingleIconPage& p = page();
    ASSERT_TRUE(TabTo(p.formats.pngc));
    const bool before = Checked(p.formats.pngc);
    Press(VK_SPACE);
    EXPECT_NE(Checked(p.formats.pngc), before) << "Space toggles the focused box";
    Press(VK_SPACE);
    EXPECT_EQ(Checked(p.formats.pngc), before);

    ASSERT_TRUE(Checked(p.kindFile));
    ASSERT_TRUE(TabTo(p.kindFile));
    Press(VK_TAB);
    EXPECT_EQ(Focused(), p.sourceField) << "Tab leaves the radio group at once";
    Press(VK_TAB, true);
    EXPECT_EQ(Focused(), p.kindFile) << "Shift+Tab comes back to the checked radio button";
    Press(VK_RIGHT);
    EXPECT_EQ(Focused(), p.kindResource);
    EXPECT_TRUE(Checked(p.kindResource));
    EXPECT_FALSE(Checked(p.kindFile));
    EXPECT_TRUE(Enabled(p.indexField)) << "the page switched to resource mode";
    Press(VK_TAB, true);
    Press(VK_TAB);
    EXPECT_EQ(Focused(), p.kindResource) << "the group's stop is its checked button";
    Press(VK_LEFT);
    EXPECT_TRUE(Checked(p.kindFile));
    EXPECT_FALSE(Enabled(p.indexField));
}

TEST_F(MainWindowTest, TabRunsTopToBottomLeftToRightOnEveryPageAndVisitsEachControlOnce) {
    const int tab = main->tab;
    const std::vector<int> mustVisit[MainWindow::kPageCount] = {
        {page().kindFile, page().sourceField, page().sourceBrowse, page().targetField, page().targetBrowse,
         page().formats.pngs, page().formats.sizeBoxes[0], page().formats.pngc, page().formats.fitCenter,
         page().createButton},
        {main->batch.batchTarget, main->batch.batchTargetBrowse, main->batch.formats.pngc, main->batch.batchStart},
        {main->utilities.folderIconSource, main->utilities.folderIconSourceBrowse, main->utilities.folderField,
         main->utilities.folderBrowse, main->utilities.applyIconButton, main->utilities.clearCacheButton,
         main->utilities.restartShellButton, main->utilities.showHiddenBox, main->utilities.showSystemBox},
    };
    for (int shown = 0; shown < MainWindow::kPageCount; ++shown) {
        ASSERT_TRUE(TabTo(tab));
        if (shown > 0) Press(VK_RIGHT);
        ASSERT_EQ(main->ShownPage(), shown);
        std::vector<int> cycle;
        std::vector<RECT> places;
        do {
            cycle.push_back(Focused());
            RECT rect = {};
            GetWindowRect(GetFocus(), &rect);
            places.push_back(rect);
            Press(VK_TAB);
        } while (Focused() != tab && cycle.size() < 80);
        ASSERT_EQ(Focused(), tab) << "page " << shown << ": Tab comes round to the tabs again";
        // Down the page and right along each row, with one jump back up: from the page's end to the header links.
        int upward = 0;
        for (size_t i = 1; i < places.size(); ++i) {
            const RECT &a = places[i - 1], &b = places[i];
            if (std::abs(b.top - a.top) <= 3) {
                EXPECT_GT(b.left, a.left) << "page " << shown << ": step " << i << " goes left within a row";
            } else if (b.top < a.top) {
                ++upward;
            }
        }
        EXPECT_EQ(upward, 1) << "page " << shown;
        for (int index : mustVisit[shown])
            EXPECT_EQ(std::count(cycle.begin(), cycle.end(), index), 1) << "page " << shown << ", control " << index;
        const int kinds[] = {page().kindFile, page().kindResource, page().kindWindow};
        const auto isKind = [&kinds](int i) {
            return std::find(std::begin(kinds), std::end(kinds), i) != std::end(kinds);
        };
        if (shown == 0) {
            EXPECT_EQ(std::count_if(cycle.begin(), cycle.end(), isKind), 1) << "the three source kinds are one stop";
        }
    }
}

TEST_F(MainWindowTest, AKeyboardAloneMakesAnIconOnEveryPage) {
    const WideString picture = folder / L"keys.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    const WideString single = folder / L"typed.ico";
    const WideString batchFolder = folder / L"windows";
    const WideString iconFolder = folder / L"folder";
    ASSERT_TRUE(CreateDirectoryW(batchFolder.Text(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(iconFolder.Text(), nullptr));

    // The single-icon page: type the source and the target, Enter converts.
    TypeInto(page().sourceField, picture.Text());
    TypeInto(page().targetField, single.Text());
    Press(VK_RETURN);
    EXPECT_GT(IconEntryCount(single.Text()), 0) << Narrow(Status().c_str());

    // The batch page: the kinds are one group, Up from the first reaches "all windows", which needs no dialog.
    ASSERT_TRUE(TabTo(main->tab));
    Press(VK_RIGHT);
    ASSERT_EQ(main->ShownPage(), 1);
    Press(VK_TAB);
    EXPECT_EQ(Focused(), main->batch.batchKindExtract);
    Press(VK_UP);
    EXPECT_TRUE(Checked(main->batch.batchKindWindows));
    TypeInto(main->batch.batchTarget, batchFolder.Text());
    Press(VK_RETURN);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(WideString::Concat(batchFolder, L"\\*.ico").Text(), &found);
    EXPECT_NE(search, INVALID_HANDLE_VALUE) << Narrow(Text(main->batch.batchStatus).c_str());
    if (search != INVALID_HANDLE_VALUE) FindClose(search);

    // The utilities page: source and folder typed, Enter in the folder field applies the icon, as Enter in a field
    // presses the shown page's button on the other pages.
    ASSERT_TRUE(TabTo(main->tab));
    Press(VK_RIGHT);
    ASSERT_EQ(main->ShownPage(), 2);
    TypeInto(main->utilities.folderIconSource, picture.Text());
    TypeInto(main->utilities.folderField, iconFolder.Text());
    Press(VK_RETURN);
    EXPECT_TRUE(Exists(WideString::Concat(iconFolder, L"\\desktop.ini").Text()))
        << Narrow(Text(main->utilities.folderIconStatus).c_str());
}

// Answers the first dialog of this process with OK, from a thread timer (it runs inside the dialog's own loop).
void CALLBACK ConfirmDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowW(L"#32770", nullptr);
    DWORD process = 0;
    if (dialog) GetWindowThreadProcessId(dialog, &process);
    if (!dialog || process != GetCurrentProcessId() || !IsWindowVisible(dialog)) return;
    KillTimer(nullptr, timer);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// Wine's system icon picker is a stub that shows nothing and answers -1: that is no choice, and the fields stay as
// they were (an empty source is not replaced by the folder the picker would have started in).
TEST_F(MainWindowTest, AnIconPickerThatCannotBeShownChangesNoField) {
    Click(page().kindResource);
    Type(page().indexField, L"2");
    w().setText(page().singleStatus, L"old status");
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, ConfirmDialog);
    Click(page().sourceBrowse);
    KillTimer(nullptr, timer);
    EXPECT_EQ(Text(page().sourceField), L"");
    EXPECT_EQ(Text(page().indexField), L"2");
    EXPECT_EQ(Status(), L"");
}

std::wstring proposedName;

// Reads the file name a save dialog proposes, then cancels it.
void CALLBACK CancelSaveDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowW(L"#32770", nullptr);
    DWORD process = 0;
    if (dialog) GetWindowThreadProcessId(dialog, &process);
    if (!dialog || process != GetCurrentProcessId() || !IsWindowVisible(dialog)) return;
    KillTimer(nullptr, timer);
    wchar_t name[MAX_PATH] = {};
    GetDlgItemTextW(dialog, 0x47C, name, MAX_PATH);  // the file name box (cmb13)
    proposedName = name;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

TEST_F(MainWindowTest, TargetBrowseProposesANameFromTheSourceAndACancelChangesNothing) {
    UiWindow picked;
    ASSERT_TRUE(picked.create(L"GwMainTestNamed", L"named", 100, 100, 0, 0));
    const std::wstring pickedText = PickerResultText(picked.window).Text();
    struct Case {
        int kind;
        std::wstring source;
        std::wstring proposed;
    };
    const Case cases[] = {
        {page().kindFile, L"C:\\pictures\\holiday.photo.png", L"holiday.photo"},
        {page().kindWindow, pickedText, pickedText.substr(34)},
    };
    for (const Case& c : cases) {
        Click(c.kind);
        w().setText(page().sourceField, c.source.c_str());
        w().setText(page().targetField, L"C:\\kept.ico");
        proposedName.clear();
        const UINT_PTR timer = SetTimer(nullptr, 0, 200, CancelSaveDialog);
        Click(page().targetBrowse);
        KillTimer(nullptr, timer);
        EXPECT_EQ(proposedName, c.proposed);
        EXPECT_EQ(Text(page().targetField), L"C:\\kept.ico");
        EXPECT_EQ(Status(), L"");
    }
}

// A person's drag on the screen: press at the first point, move onto the second, release there.
DWORD WINAPI DragFromPickerToTarget(void* parameter) {
    const POINT* points = static_cast<const POINT*>(parameter);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    SetCursorPos(points[0].x, points[0].y);
    input.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    SendInput(1, &input, sizeof(input));
    Sleep(600);
    for (int step = 1; step <= 10; ++step) {
        SetCursorPos(points[0].x + (points[1].x - points[0].x) * step / 10,
                     points[0].y + (points[1].y - points[0].y) * step / 10);
        Sleep(40);
    }
    Sleep(400);
    input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof(input));
    return 0;
}

TEST_F(MainWindowTest, PickingAWindowFillsTheSourceShowsItsIconAndExportsIt) {
    const IconHandle small = testing_support::MakeSolidIcon(16, picker_scene::kSmallColour);
    const IconHandle large = testing_support::MakeSolidIcon(32, picker_scene::kLargeColour);
    UiWindow target;
    ASSERT_TRUE(picker_scene::CreateTarget(target, L"GwMainTestTarget", L"picked", small.Get(), large.Get(),
                                           RECT{1000, 60, 1270, 260}));
    const POINT from = CentreOnScreen(w().handleOf(page().picker));
    const POINT to = CentreOnScreen(target.window);
    POINT points[2] = {from, to};
    HANDLE hand = CreateThread(nullptr, 0, DragFromPickerToTarget, points, 0, nullptr);
    ASSERT_TRUE(hand);
    for (int round = 0; round < 100 && WaitForSingleObject(hand, 0) == WAIT_TIMEOUT; ++round)
        Pump();
    WaitForSingleObject(hand, 5000);
    CloseHandle(hand);
    Pump();

    EXPECT_TRUE(Checked(page().kindWindow));
    EXPECT_EQ(Text(page().sourceField), std::wstring(PickerResultText(target.window).Text()));
    EXPECT_FALSE(Enabled(page().sourceBrowse));
    EXPECT_TRUE(Near(PreviewPixel(page().preview32, 32, 16, 16), kBlue)) << "the large icon serves 32";
    EXPECT_TRUE(Near(PreviewPixel(page().preview128, 128, 64, 64), kBlue));

    const std::wstring output = (folder / L"window.ico").Text();
    SetSizes({16, 32});
    Type(page().targetField, output);
    Click(page().createButton);
    EXPECT_EQ(Status(), L"窗口图标已成功导出.");
    EXPECT_EQ(IconEntryCount(output.c_str()), 2);
    target.destroy();
    Click(page().createButton);
    EXPECT_EQ(Status(), L"源窗口不存在.");

    // A window whose icon can't be read (under Wine every other program's window) says so.
    UiWindow plain;
    ASSERT_TRUE(picker_scene::CreateTarget(plain, L"GwMainTestNoIcon", L"no icon", nullptr, nullptr,
                                           RECT{1000, 60, 1270, 260}));
    POINT again[2] = {from, CentreOnScreen(plain.window)};
    HANDLE second = CreateThread(nullptr, 0, DragFromPickerToTarget, again, 0, nullptr);
    ASSERT_TRUE(second);
    for (int round = 0; round < 100 && WaitForSingleObject(second, 0) == WAIT_TIMEOUT; ++round)
        Pump();
    WaitForSingleObject(second, 5000);
    CloseHandle(second);
    Pump();
    EXPECT_EQ(Text(page().sourceField), L"");
    EXPECT_EQ(Status(), L"无法读取此窗口的图标 (它属于另一个程序, 或没有图标).");
    plain.destroy();
}

}  // namespace

namespace {

BOOL CALLBACK CollectOtherMainWindow(HWND window, LPARAM list) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (wcscmp(name, L"GLYPHWRIGHT") == 0 && IsWindowVisible(window) && process != GetCurrentProcessId())
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Visible main windows of other processes.
std::vector<HWND> OtherMainWindows() {
    std::vector<HWND> found;
    EnumWindows(CollectOtherMainWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

BOOL CALLBACK CollectEdit(HWND child, LPARAM list) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    if (_wcsicmp(name, L"Edit") == 0) reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<std::wstring> EditTexts(HWND window) {
    std::vector<HWND> edits;
    EnumChildWindows(window, CollectEdit, reinterpret_cast<LPARAM>(&edits));
    std::vector<std::wstring> texts;
    for (HWND edit : edits) {
        wchar_t text[1024] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(edit, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &copied);
        texts.push_back(text);
    }
    return texts;
}

void CALLBACK GiveUpWaiting(HWND, UINT, UINT_PTR, DWORD) {
    PostMessageW(FindWindowW(L"GLYPHWRIGHT", nullptr), WM_CLOSE, 0, 0);
}

TEST_F(MainWindowTest, RunAsAdministratorStartsTheProgramAgainWithTheSourcePreloadedAndEnds) {
    ASSERT_TRUE(main->runAsAdminLink) << "shown to a user without administrator rights";
    const WideString picture = folder / L"with space.bmp";
    ASSERT_TRUE(WriteHalvesBmp(picture.Text()));
    app.programPath = testing_support::BuildFile(L"Glyphwright.exe");
    Type(page().sourceField, picture.Text());

    RECT link;
    GetWindowRect(w().handleOf(main->runAsAdminLink), &link);
    testing_support::ClickAt(POINT{link.left + 8, (link.top + link.bottom) / 2});
    const UINT_PTR limit = SetTimer(nullptr, 0, 30000, GiveUpWaiting);
    main->RunEventLoop();
    KillTimer(nullptr, limit);
    EXPECT_TRUE(main->restarted) << "the loop ended because the program started again";
    EXPECT_FALSE(IsWindowVisible(w().window));

    std::vector<HWND> others;
    for (int round = 0; round < 150 && others.empty(); ++round) {
        Sleep(100);
        others = OtherMainWindows();
    }
    ASSERT_EQ(others.size(), 1u);
    const std::vector<std::wstring> texts = EditTexts(others[0]);
    EXPECT_NE(std::find(texts.begin(), texts.end(), std::wstring(picture.Text())), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), std::wstring((folder / L"with space.ico").Text())), texts.end());

    DWORD process = 0;
    GetWindowThreadProcessId(others[0], &process);
    KernelHandle started(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, process));
    PostMessageW(others[0], WM_CLOSE, 0, 0);
    ASSERT_TRUE(started);
    EXPECT_EQ(WaitForSingleObject(started.Get(), 20000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(started.Get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
