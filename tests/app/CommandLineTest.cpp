#include "app/CommandLine.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "PictureSupport.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "app/CommandRunner.h"
#include "engine/IconWriter.h"
#include "engine/Imaging.h"
#include "sys/Handles.h"
#include "ui/UiMessageBox.h"

using namespace testing_support;

namespace {

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Width bytes of an .ico's entries, with 1000 + width for a PNG entry; empty for anything else.
std::vector<int> IconEntries(const std::vector<uint8_t>& file) {
    std::vector<int> entries;
    if (file.size() < 6 || file[2] != 1 || file[3] != 0) return entries;
    const int count = file[4] | file[5] << 8;
    for (int i = 0; i < count; ++i) {
        const size_t at = 6 + 16 * static_cast<size_t>(i);
        if (at + 16 > file.size()) return {};
        uint32_t offset;
        std::memcpy(&offset, &file[at + 12], 4);
        const bool png = offset + 8 <= file.size() && std::memcmp(&file[offset], kPngSignature, 8) == 0;
        entries.push_back(file[at] + (png ? 1000 : 0));
    }
    return entries;
}

bool IsPng(const std::vector<uint8_t>& file, int size) {
    return file.size() > 24 && std::memcmp(file.data(), kPngSignature, 8) == 0 && file[19] == (size & 0xFF) &&
           file[18] == (size >> 8);
}

WideString SystemFile(const wchar_t* name) {
    WideString path;
    path.SetSpecialFolder(CSIDL_SYSTEM);
    path.StripTrailingBackslashes();
    return path.Append(L"\\", name);
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(imaging_.Started());
        CoInitialize(nullptr);
        app_.BuildSystemPaths();
        picture_ = folder_ / L"pic.png";
        // A 2:1 opaque picture, so that Center leaves transparent margins.
        ASSERT_TRUE(SavePicture(picture_, 64, 32, 0xFF2080C0));
    }
    void TearDown() override { CoUninitialize(); }

    int Parse(const WideString& tail) {
        source_.Clear();
        target_.Clear();
        return ParseCommandLine(app_, tail.Text(), source_, target_, index_);
    }
    std::vector<uint8_t> Read(const wchar_t* name) { return ReadBytes((folder_ / name).Text()); }
    // The folder's path inside a command line, quoted.
    WideString Quoted(const wchar_t* name) { return WideString::Concat(L"\"", folder_ / name, L"\""); }

    ImagingSession imaging_;
    TempFolder folder_;
    Application app_;
    WideString picture_;
    WideString source_;
    WideString target_;
    WideString index_{L"0"};
};

TEST_F(CommandLineTest, NothingToDoOpensTheMainWindow) {
    EXPECT_EQ(ParseCommandLine(app_, nullptr, source_, target_, index_), 0);
    const wchar_t* const tails[] = {L"", L"/convert", L"Z:\\no\\such\\file.png", L"/PostUpdate", L"  /postupdate  "};
    for (const wchar_t* tail : tails)
        EXPECT_EQ(Parse(tail), 0) << Narrow(tail);
    EXPECT_TRUE(app_.startedAfterUpdate);
}

TEST_F(CommandLineTest, ALoneExistingPathPreloadsTheMainWindow) {
    const WideString spaced = folder_ / L"with space";
    ASSERT_TRUE(CreateDirectoryW(spaced.Text(), nullptr));
    const WideString exe = folder_ / L"with space\\x.EXE";
    const WideString bare = folder_ / L"noextension";
    ASSERT_TRUE(WriteBytes(exe.Text(), "MZ", 2));
    ASSERT_TRUE(WriteBytes(bare.Text(), "x", 1));
    struct Case {
        WideString tail;
        int result;
        WideString source;
    };
    const Case cases[] = {
        {picture_, 3, picture_},
        {WideString::Concat(L"\"", exe, L"\""), 4, exe},
        {WideString::Concat(L"\"", spaced, L"\""), 3, spaced},
        {bare, 3, bare},
        {WideString::Concat(L"/PostUpdate \"", exe, L"\""), 4, exe},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.tail), c.result) << Narrow(c.tail.Text());
        EXPECT_STREQ(source_.Text(), c.source.Text());
    }
    EXPECT_FALSE(Exists((folder_ / L"pic.ico").Text())) << "a lone path converts nothing";
}

TEST_F(CommandLineTest, ConvertWritesTheDefaultSizes) {
    EXPECT_EQ(Parse(WideString::Concat(L"/convert ", Quoted(L"pic.png"))), 1);
    EXPECT_EQ(IconEntries(Read(L"pic.ico")), std::vector<int>({16, 32, 48, 1000}));
}

TEST_F(CommandLineTest, OptionsShapeTheJob) {
    struct Case {
        const wchar_t* options;  // placed before "/convert <picture> <output>"
        const wchar_t* output;
        std::vector<int> entries;
    };
    const Case cases[] = {
        {L"/formats=16,20,32,2048,0", L"a.ico", {16, 20, 32}},
        {L"-FORMATS=256,48 -NoPngc", L"b.ico", {0, 48}},
        {L"/formats=300 /nopngc", L"c.ico", {44}},
        // A size given again is written once, and only sizes written count toward the eight.
        {L"/formats=16,16,\" 17\",-5,64abc", L"d.ico", {16, 17, 1064}},
        {L"/formats=16,16,16,16,16,16,16,16,16,32 /nopngc", L"dd.ico", {16, 32}},
        {L"/formats=16,17,18,19,20,21,22,23,24,25", L"e.ico", {16, 17, 18, 19, 20, 21, 22, 23}},
        {L"/formats=32", L"f.jpg", {32}},
        {L"/formats=64 /formats=72", L"g", {1072}},
        {L"/icon=\"no such\\folder\" /formats=48", L"i.ico", {48}},
        {L"/nopngc\\\"", L"h.ico", {16, 32, 48, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.options));
        const WideString tail =
            WideString::Concat(c.options, L" /convert ", Quoted(L"pic.png"), L" ", Quoted(c.output));
        ASSERT_EQ(Parse(tail), 1);
        WideString written = folder_ / c.output;
        EnsureOutputExtension(written, 0);
        EXPECT_EQ(IconEntries(ReadBytes(written.Text())), c.entries);
    }
}

TEST_F(CommandLineTest, FitOptionsChangeTheMargins) {
    // 64 x 32 at 16: Center leaves the top rows transparent; Crop and Stretch fill every pixel.
    struct Case {
        const wchar_t* option;
        uint8_t topRowAlpha;
    };
    for (const Case& c : {Case{L"", 0}, Case{L"/crop", 0xFF}, Case{L"-Stretch", 0xFF}, Case{L"/crop /stretch", 0xFF}}) {
        SCOPED_TRACE(Narrow(c.option));
        const WideString tail =
            WideString::Concat(L"/formats=16 ", c.option, L" /img=", picture_, L" /icon=", folder_ / L"fit.ico");
        ASSERT_EQ(Parse(tail), 1);
        const std::vector<uint8_t> file = Read(L"fit.ico");
        ASSERT_EQ(file.size(), 1150u);
        // Rows are stored bottom-up: the last stored row is the top one.
        EXPECT_EQ(file[62 + 15 * 64 + 8 * 4 + 3], c.topRowAlpha);
    }
}

TEST_F(CommandLineTest, PngTargetsAndThePngOption) {
    struct Case {
        const wchar_t* arguments;  // after "/convert <picture>"
        const wchar_t* output;
        int size;
    };
    const Case cases[] = {
        {L" out.PNG", L"out.PNG", 256},
        {L" /png", L"pic.png", 256},
        {L" other.ico /formats=48,32 -png", L"other.png", 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        ASSERT_TRUE(SetCurrentDirectoryW(folder_.Path().Text()));
        const WideString tail = WideString::Concat(L"/convert ", Quoted(L"pic.png"), c.arguments);
        ASSERT_EQ(Parse(tail), 1);
        EXPECT_TRUE(IsPng(Read(c.output), c.size));
    }
}

TEST_F(CommandLineTest, AJobNeverDestroysItsOwnSource) {
    const std::vector<uint8_t> original = Read(L"pic.png");
    ASSERT_EQ(Parse(WideString::Concat(L"/formats=32 /convert ", Quoted(L"pic.png"), L" /png")), 1);
    EXPECT_TRUE(IsPng(Read(L"pic.png"), 32));
    EXPECT_EQ(Read(L"pic (backup).png"), original) << "the source is kept as its backup";

    // An .ico converted onto itself is read as it is; a failing job leaves it as it was.
    ASSERT_EQ(Parse(WideString::Concat(L"/convert ", Quoted(L"pic.png"), L" ", Quoted(L"icon.ico"))), 1);
    const std::vector<uint8_t> icon = Read(L"icon.ico");
    ASSERT_EQ(Parse(WideString::Concat(L"/formats=16 /convert ", Quoted(L"ICON.ico"))), 1);
    EXPECT_EQ(IconEntries(Read(L"icon.ico")), std::vector<int>({16}));
    EXPECT_EQ(Read(L"icon (backup).ico"), icon);

    const WideString broken = folder_ / L"broken.ico";
    ASSERT_TRUE(WriteBytes(broken.Text(), "not an icon", 11));
    EXPECT_EQ(Parse(WideString::Concat(L"/extract ", Quoted(L"broken.ico"))), 2);
    EXPECT_EQ(Read(L"broken.ico"), std::vector<uint8_t>(std::begin("not an icon"), std::end("not an icon") - 1));
    EXPECT_FALSE(Exists((folder_ / L"broken (backup).ico").Text()));
}

TEST_F(CommandLineTest, ATargetThatIsAnotherNameOfTheSourceLeavesTheSourceIntact) {
    const std::vector<uint8_t> original = Read(L"pic.png");
    const WideString link = folder_ / L"link.png";
    ASSERT_TRUE(CreateHardLinkW(link.Text(), picture_.Text(), nullptr));
    const WideString longName = folder_ / L"a long picture name.png";
    ASSERT_TRUE(CopyFileW(picture_.Text(), longName.Text(), TRUE));
    wchar_t shortName[MAX_PATH] = {};
    const DWORD shortLength = GetShortPathNameW(longName.Text(), shortName, MAX_PATH);
    ASSERT_GT(shortLength, 0u);
    ASSERT_LT(shortLength, static_cast<DWORD>(MAX_PATH));
    ASSERT_FALSE(longName.EqualsIgnoreCase(shortName)) << "the file system gives no short names";

    // The target's directory entry goes to its backup name; for a hard link the source's own name stays as well.
    struct Case {
        const char* name;
        WideString source;
        WideString target;
        WideString backup;
        bool sourceNameStays;
    };
    WideString shortBackup(shortName);
    shortBackup.DropRight(4).Append(L" (backup).PNG");
    const Case cases[] = {
        {"hard link", picture_, link, folder_ / L"link (backup).png", true},
        {"short name", longName, WideString(shortName), shortBackup, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Parse(WideString::Concat(L"/formats=32 /convert \"", c.source, L"\" \"", c.target, L"\"")), 1);
        EXPECT_EQ(ReadBytes(c.backup.Text()), original) << "the source is kept as the target's backup";
        if (c.sourceNameStays) {
            EXPECT_EQ(ReadBytes(c.source.Text()), original);
        }
        EXPECT_TRUE(IsPng(ReadBytes(c.target.Text()), 32));
    }
}

TEST_F(CommandLineTest, FormatsWithoutSizesWriteNothing) {
    struct Case {
        const wchar_t* options;
        int result;
    };
    for (const Case& c : {Case{L"/formats=8,4000", 2}, Case{L"/formats=", 2}, Case{L"-formats=,,", 2}}) {
        SCOPED_TRACE(Narrow(c.options));
        EXPECT_EQ(Parse(WideString::Concat(c.options, L" /convert ", Quoted(L"pic.png"))), c.result);
        EXPECT_FALSE(Exists((folder_ / L"pic.ico").Text()));
    }
}

TEST_F(CommandLineTest, ExtractAndResWriteTheSameIcon) {
    // A copy of the system library, so that the default output lands in the test's folder.
    const WideString library = folder_ / L"lib.dll";
    ASSERT_TRUE(CopyFileW(SystemFile(L"shell32.dll").Text(), library.Text(), FALSE));
    ASSERT_EQ(Parse(WideString::Concat(L"/extract \"", library, L",3\"")), 1);
    ASSERT_EQ(Parse(WideString::Concat(L"/res=", library, L",3 /icon=", folder_ / L"res.ico")), 1);
    const std::vector<uint8_t> extracted = Read(L"lib.ico");
    EXPECT_EQ(IconEntries(extracted), std::vector<int>({16, 32, 48, 1000}));
    EXPECT_EQ(extracted, Read(L"res.ico"));

    ASSERT_EQ(Parse(WideString::Concat(L"/extract \"", library, L",0\" ", Quoted(L"zero.ico"))), 1);
    EXPECT_NE(Read(L"zero.ico"), extracted) << "the index selects another group";
    EXPECT_EQ(Parse(WideString::Concat(L"/extract \"", library, L",100000\" ", Quoted(L"past.ico"))), 2);
    EXPECT_FALSE(Exists((folder_ / L"past.ico").Text()));
}

TEST_F(CommandLineTest, OnlyATrailingCommaAndNumberIsTheIconIndex) {
    const WideString library = folder_ / L"lib.dll";
    ASSERT_TRUE(CopyFileW(SystemFile(L"shell32.dll").Text(), library.Text(), FALSE));
    ASSERT_EQ(Parse(WideString::Concat(L"/extract \"", library, L",3\" ", Quoted(L"three.ico"))), 1);
    ASSERT_EQ(Parse(WideString::Concat(L"/extract ", Quoted(L"lib.dll"), L" ", Quoted(L"first.ico"))), 1);
    const WideString commaFolder = folder_ / L"Smith, J";
    ASSERT_TRUE(CreateDirectoryW(commaFolder.Text(), nullptr));
    const WideString copy = WideString::Concat(commaFolder, L"\\lib.dll");
    ASSERT_TRUE(CopyFileW(library.Text(), copy.Text(), FALSE));
    // A comma followed by digits inside the path is no index either.
    const WideString yearFolder = folder_ / L"Photos, 2020";
    ASSERT_TRUE(CreateDirectoryW(yearFolder.Text(), nullptr));
    const WideString year = WideString::Concat(yearFolder, L"\\icons.dll");
    ASSERT_TRUE(CopyFileW(library.Text(), year.Text(), FALSE));

    // A comma inside a folder name belongs to the path, with or without an index after the file.
    struct Case {
        WideString tail;
        const wchar_t* output;
        const wchar_t* sameAs;
    };
    const Case cases[] = {
        {WideString::Concat(L"/extract \"", copy, L",3\""), L"Smith, J\\lib.ico", L"three.ico"},
        {WideString::Concat(L"/extract \"", copy, L"\" ", Quoted(L"a.ico")), L"a.ico", L"first.ico"},
        {WideString::Concat(L"\"/res=", copy, L",3\" \"/icon=", folder_ / L"b.ico\""), L"b.ico", L"three.ico"},
        {WideString::Concat(L"/extract \"", year, L"\""), L"Photos, 2020\\icons.ico", L"first.ico"},
        {WideString::Concat(L"/extract \"", year, L",3\" ", Quoted(L"c.ico")), L"c.ico", L"three.ico"},
        {WideString::Concat(L"\"/res=", year, L"\" \"/icon=", folder_ / L"d.ico\""), L"d.ico", L"first.ico"},
        {WideString::Concat(L"\"/res=", year, L",3\" \"/icon=", folder_ / L"e.ico\""), L"e.ico", L"three.ico"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.tail.Text()));
        ASSERT_EQ(Parse(c.tail), 1);
        EXPECT_EQ(Read(c.output), Read(c.sameAs));
    }
}

TEST_F(CommandLineTest, TakenArgumentsExpandEnvironmentVariables) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"GWTEST_FOLDER", folder_.Path().Text()));
    ASSERT_EQ(Parse(L"/convert %GWTEST_FOLDER%\\pic.png \"%GWTEST_FOLDER%\\env.ico\" /formats=16"), 1);
    EXPECT_EQ(IconEntries(Read(L"env.ico")), std::vector<int>({16}));
    // "=" options take their value as written.
    EXPECT_EQ(Parse(L"/img=%GWTEST_FOLDER%\\pic.png /icon=%GWTEST_FOLDER%\\raw.ico"), 2);
}

TEST_F(CommandLineTest, PostUpdateMarkerBeforeAJob) {
    app_.startedAfterUpdate = false;
    ASSERT_EQ(Parse(WideString::Concat(L"/PostUpdate /convert ", Quoted(L"pic.png"), L" /formats=16")), 1);
    EXPECT_TRUE(app_.startedAfterUpdate);
    EXPECT_EQ(IconEntries(Read(L"pic.ico")), std::vector<int>({16}));
}

TEST_F(CommandLineTest, BatchOptionsRecordTheirKind) {
    const WideString out = folder_ / L"out\\deeper";
    struct Case {
        WideString tail;
        CommandKind kind;
    };
    const Case cases[] = {
        {WideString::Concat(L"-BATCHEXTRACT \"", SystemFile(L"notepad.exe"), L"\" \"", out, L"\" /formats=16"),
         CommandKind::kBatchExtract},
        {WideString::Concat(L"/formats=16 /batchconvert \"", folder_.Path(), L"\" \"", out, L"\""),
         CommandKind::kBatchConvert},
        {WideString::Concat(L"/formats=8 /savewindows \"", out, L"\""), CommandKind::kBatchSaveWindows},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        const int result = Parse(c.tail);
        EXPECT_EQ(ReadCommandLine(c.tail.Text()).kind, c.kind);
        EXPECT_TRUE(Exists(out.Text())) << "the target folder is created with its parents";
        if (c.kind == CommandKind::kBatchSaveWindows) {
            EXPECT_EQ(result, 2) << "no size";
        }
    }
}

TEST(ReadCommandLineTest, TheRequestSaysWhatTheCommandLineAsks) {
    constexpr IconJobFlags kDefault = kPngc | kCenter;
    const SizeList kDefaultSizes{16, 32, 48, 256};
    struct Case {
        const wchar_t* tail;
        CommandKind kind;
        const wchar_t* source;
        const wchar_t* target;
        SizeList sizes;
        IconJobFlags flags;
        bool error;
        bool afterUpdate;
    };
    const Case cases[] = {
        {L"", CommandKind::kNothing, L"", L"", kDefaultSizes, kDefault, false, false},
        {L"  /postupdate  ", CommandKind::kNothing, L"", L"", kDefaultSizes, kDefault, false, true},
        {L"\"C:\\a b\\x.png\"", CommandKind::kOpenPath, L"C:\\a b\\x.png", L"", kDefaultSizes, kDefault, false, false},
        {L"/PostUpdate x.dll", CommandKind::kOpenPath, L"x.dll", L"", kDefaultSizes, kDefault, false, true},
        {L"/convert \"%T%\\a b.png\" out.ico /formats=16,16,2000,32",
         CommandKind::kConvert,
         L"%T%\\a b.png",
         L"out.ico",
         {16, 32},
         kDefault,
         false,
         false},
        {L"/extract lib.dll,3 /nopngc -CROP", CommandKind::kExtract, L"lib.dll,3", L"", kDefaultSizes,
         kFromResource | kCrop, false, false},
        {L"/res=lib.dll /icon=o.ico /stretch x/png", CommandKind::kExtract, L"lib.dll", L"o.ico", kDefaultSizes,
         kFromResource | kPngc | kPngs, false, false},
        // A later job option takes over the source; the resource flag of an earlier one stays.
        {L"/extract a.dll /convert b.png", CommandKind::kExtract, L"b.png", L"", kDefaultSizes,
         kDefault | kFromResource, false, false},
        // A batch wins over a single job and keeps its own paths.
        {L"/batchconvert in out /convert x.png /icon=y.ico", CommandKind::kBatchConvert, L"in", L"out", kDefaultSizes,
         kDefault, false, false},
        {L"/batchextract in out /savewindows win", CommandKind::kBatchSaveWindows, L"in", L"win", kDefaultSizes,
         kDefault | kFromResource, false, false},
        {L"/convert a.png /bogus", CommandKind::kConvert, L"a.png", L"", kDefaultSizes, kDefault, true, false},
        {L"/batchconvert in out extra", CommandKind::kBatchConvert, L"in", L"out", kDefaultSizes, kDefault, true,
         false},
        {L"/png /crop", CommandKind::kInvalid, L"", L"", kDefaultSizes, kPngc | kCrop | kPngs, true, false},
        {L"/batchextract onlyone", CommandKind::kInvalid, L"", L"", kDefaultSizes, kDefault, true, false},
        // An empty /formats= ends the reading: what follows it is not seen.
        {L"/convert a.png /formats= /bogus /batchconvert in out",
         CommandKind::kConvert,
         L"a.png",
         L"",
         {},
         kDefault,
         false,
         false},
        {L"/batchconvert in out /formats=8", CommandKind::kBatchConvert, L"in", L"out", {}, kDefault, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.tail));
        const CommandRequest request = ReadCommandLine(c.tail);
        EXPECT_EQ(request.kind, c.kind);
        EXPECT_STREQ(request.source.Text(), c.source);
        EXPECT_STREQ(request.target.Text(), c.target);
        EXPECT_EQ(request.sizes, c.sizes);
        EXPECT_EQ(request.flags, c.flags);
        EXPECT_EQ(request.error != nullptr, c.error);
        EXPECT_EQ(request.afterUpdate, c.afterUpdate);
    }
    // Paths after /convert get their variables expanded when the job runs; "=" values are taken as written.
    EXPECT_TRUE(ReadCommandLine(L"/convert %T%\\a.png %T%\\b.ico").expandSource);
    EXPECT_FALSE(ReadCommandLine(L"/convert %T%\\a.png /img=%T%\\c.png").expandSource);
    EXPECT_FALSE(ReadCommandLine(L"/img=a.png /icon=%T%\\c.ico").expandTarget);
}

// Refuses every message box the runner might try to show, and counts the tries.
class BoxRefusal {
public:
    BoxRefusal() : hook_(SetWindowsHookExW(WH_CBT, OnCbt, nullptr, GetCurrentThreadId())) { tries = 0; }
    ~BoxRefusal() { UnhookWindowsHookEx(hook_); }
    static int tries;

private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        wchar_t name[64] = {};
        if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wParam), name, 64) &&
            std::wcscmp(name, UiMessageBox::kBoxClass) == 0) {
            ++tries;
            return 1;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK hook_;
};
int BoxRefusal::tries = 0;

TEST_F(CommandLineTest, TheRunnerReportsRefusedCommandsWithoutABox) {
    ASSERT_TRUE(WriteBytes((folder_ / L"file.txt").Text(), "x", 1));
    const WideString out = folder_ / L"out";
    struct Case {
        WideString tail;
        int exitCode;
        const wchar_t* message;
        bool opensWindow;
    };
    const Case cases[] = {
        {WideString::Concat(L"/batchconvert ", Quoted(L"missing"), L" ", Quoted(L"out")), 254,
         L"批量图标创建操作的源路径无效", false},
        {WideString::Concat(L"/batchextract ", Quoted(L"file.txt"), L" ", Quoted(L"file.txt\\sub")), 253,
         L"批量图标创建操作的目标文件夹无效", false},
        {WideString::Concat(L"/batchconvert \"", folder_.Path(), L"\" ", Quoted(L"out"), L" extra"), 252,
         L"无效的命令行选项", false},
        {WideString::Concat(L"/bogus /convert ", Quoted(L"file.txt"), L" ", Quoted(L"out")), 1, L"无效的命令行选项",
         false},
        {L"/png /crop", 0, L"无效的命令行选项", true},
        {WideString::Concat(L"/formats=8 /batchconvert \"", folder_.Path(), L"\" ", Quoted(L"out")), 2, nullptr, false},
        {L"/formats=8 /bogus", 1, nullptr, false},
    };
    BoxRefusal refusal;
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.tail.Text()));
        const CommandOutcome outcome = RunCommand(app_, ReadCommandLine(c.tail.Text()));
        EXPECT_EQ(static_cast<int>(outcome.exitCode), c.exitCode);
        EXPECT_STREQ(outcome.message ? outcome.message : L"", c.message ? c.message : L"");
        EXPECT_EQ(outcome.opensWindow, c.opensWindow);
        EXPECT_FALSE(Exists(out.Text()));
    }
    EXPECT_EQ(BoxRefusal::tries, 0);
}

}  // namespace

TEST_F(CommandLineTest, AnEmptySourceFails) {
    const WideString library = folder_ / L"lib.dll";
    ASSERT_TRUE(CopyFileW(SystemFile(L"shell32.dll").Text(), library.Text(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryW(folder_.Path().Text()));
    for (const wchar_t* tail : {L"/convert \"\" out.ico", L"/img= /icon=out.ico", L"/res= \"/icon=out.ico\"",
                                L"/extract \",3\" out.ico", L"/convert \"\" /formats=16"}) {
        SCOPED_TRACE(Narrow(tail));
        EXPECT_EQ(Parse(tail), 2);
        EXPECT_FALSE(Exists((folder_ / L"out.ico").Text()));
    }
}

TEST_F(CommandLineTest, AnIconIndexIsReadWholeOrNotAtAll) {
    const WideString library = folder_ / L"lib.dll";
    ASSERT_TRUE(CopyFileW(SystemFile(L"shell32.dll").Text(), library.Text(), FALSE));
    ASSERT_EQ(Parse(WideString::Concat(L"/extract \"", library, L",3\" ", Quoted(L"three.ico"))), 1);
    ASSERT_EQ(Parse(WideString::Concat(L"/extract \"", library, L",1\" ", Quoted(L"one.ico"))), 1);
    ASSERT_NE(Read(L"three.ico"), Read(L"one.ico"));
    for (const wchar_t* spaced : {L", 3", L" ,3 ", L",+3"}) {
        SCOPED_TRACE(Narrow(spaced));
        ASSERT_EQ(Parse(WideString::Concat(L"/extract \"", library, spaced, L"\" ", Quoted(L"spaced.ico"))), 1);
        EXPECT_EQ(Read(L"spaced.ico"), Read(L"three.ico"));
    }
    // 2^32 + 1 would wrap to group 1; beyond 32 bits the index names no group.
    for (const wchar_t* past : {L",4294967297", L",-4294967295", L",2147483648"}) {
        SCOPED_TRACE(Narrow(past));
        EXPECT_EQ(Parse(WideString::Concat(L"/extract \"", library, past, L"\" ", Quoted(L"past.ico"))), 2);
        EXPECT_EQ(Parse(WideString::Concat(L"/res=", library, past, L" /icon=", folder_ / L"past.ico")), 2);
        EXPECT_FALSE(Exists((folder_ / L"past.ico").Text()));
    }
}

TEST_F(CommandLineTest, OnlyReadableDiskFilesAreRead) {
    // A pipe with nobody writing stands for every device (COM1, CON): a read would wait on it for ever.
    const WideString pipeName =
        WideString::Concat(L"\\\\.\\pipe\\gwtest-", std::to_wstring(GetCurrentProcessId()).c_str());
    FileHandle pipe(CreateNamedPipeW(pipeName.Text(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES,
                                     4096, 4096, 0, nullptr));
    ASSERT_TRUE(pipe);
    const WideString library = folder_ / L"lib.dll";
    ASSERT_TRUE(CopyFileW(SystemFile(L"shell32.dll").Text(), library.Text(), FALSE));
    // A file another program holds without read sharing can't be read; it is no reason for the shell's icon.
    const WideString held = folder_ / L"held.png";
    ASSERT_TRUE(CopyFileW(picture_.Text(), held.Text(), FALSE));
    FileHandle holder(CreateFileW(held.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const WideString heldLibrary = folder_ / L"held.dll";
    ASSERT_TRUE(CopyFileW(library.Text(), heldLibrary.Text(), FALSE));
    FileHandle libraryHolder(CreateFileW(heldLibrary.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(libraryHolder);

    const WideString out = folder_ / L"out.ico";
    for (const WideString& source : {pipeName, WideString(L"NUL"), WideString(L"\\\\.\\NUL"), WideString(L"CONIN$"),
                                     held, folder_ / L"*.png", folder_ / L"pi?.png"}) {
        SCOPED_TRACE(Narrow(source.Text()));
        EXPECT_EQ(Parse(WideString::Concat(L"/convert \"", source, L"\" \"", out, L"\"")), 2);
        EXPECT_EQ(Parse(WideString::Concat(L"/extract \"", source, L"\" \"", out, L"\"")), 2);
        EXPECT_FALSE(Exists(out.Text()));
    }
    EXPECT_EQ(Parse(WideString::Concat(L"/extract \"", heldLibrary, L",3\" \"", out, L"\"")), 2);
    EXPECT_FALSE(Exists(out.Text()));
    // A readable file that is no picture still gives the icon the shell shows for it.
    const WideString text = folder_ / L"notes.txt";
    ASSERT_TRUE(WriteBytes(text.Text(), "notes", 5));
    EXPECT_EQ(Parse(WideString::Concat(L"/convert \"", text, L"\" \"", out, L"\"")), 1);
}
