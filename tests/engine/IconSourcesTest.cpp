#include "engine/IconSources.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "IconImageSupport.h"
#include "PictureSupport.h"
#include "TestSupport.h"
#include "engine/IconJob.h"
#include "engine/IconWriter.h"
#include "engine/Imaging.h"

using namespace testing_support;

namespace {

WideString SystemFile(const wchar_t* name) {
    WideString path;
    path.SetSpecialFolder(CSIDL_SYSTEM);
    path.StripTrailingBackslashes();
    return path.Append(L"\\", name);
}

WideString WindowsFile(const wchar_t* name) {
    WideString path;
    path.SetSpecialFolder(CSIDL_WINDOWS);
    path.StripTrailingBackslashes();
    return path.Append(L"\\", name);
}

int OpaquePixels(const WorkingImage& image) {
    int count = 0;
    for (uint32_t pixel : ReadPixels(image))
        count += (pixel >> 24) == 0xFF;
    return count;
}

bool MakeShortcut(const WideString& path, const wchar_t* target, const wchar_t* iconFile, int iconIndex) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.ReceiveVoid())))
        return false;
    link->SetPath(target);
    if (iconFile) link->SetIconLocation(iconFile, iconIndex);
    ComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
    return file && SUCCEEDED(file->Save(path.Text(), TRUE));
}

// A copy of this test program whose icon groups (ids 1, 2, ...) each hold one image of the given size and depth.
bool MakeDepthLibrary(const wchar_t* path, const std::vector<IconDepth>& depths, int size) {
    std::vector<ProgramResource> resources;
    for (size_t i = 0; i < depths.size(); ++i) {
        const WORD id = static_cast<WORD>(i + 1);
        std::vector<uint8_t> image = IconImageBytes(depths[i], size);
        std::vector<uint8_t> group = IconGroupBytes(depths[i], size, id, image.size());
        resources.push_back({RT_ICON, id, std::move(image)});
        resources.push_back({RT_GROUP_ICON, id, std::move(group)});
    }
    return CopyProgramWithResources(path, resources);
}

class IconSourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(imaging_.Started());
        CoInitialize(nullptr);
    }
    void TearDown() override { CoUninitialize(); }

    ImagingSession imaging_;
    TempFolder folder_;
};

TEST(IconLocationTest, OnlyATrailingCommaAndNumberIsSplitOff) {
    struct Case {
        const wchar_t* location;
        const wchar_t* path;
        int32_t index;
        bool valid = true;
    } cases[] = {
        {L"C:\\lib\\x.dll, 3", L"C:\\lib\\x.dll", 3},
        {L"C:\\lib\\x.dll , 12 ", L"C:\\lib\\x.dll", 12},
        {L"C:\\lib\\x.dll,+4", L"C:\\lib\\x.dll", 4},
        {L"C:\\lib\\x.dll,2147483647", L"C:\\lib\\x.dll", 2147483647},
        {L"C:\\lib\\x.dll, -2147483648", L"C:\\lib\\x.dll", INT32_MIN},
        // Beyond 32 bits a number names no icon rather than another one.
        {L"C:\\lib\\x.dll,4294967297", L"C:\\lib\\x.dll", 0, false},
        {L"C:\\lib\\x.dll,2147483648", L"C:\\lib\\x.dll", 0, false},
        {L"C:\\lib\\x.dll,-2147483649", L"C:\\lib\\x.dll", 0, false},
        {L"C:\\lib\\x.dll,99999999999999999999999", L"C:\\lib\\x.dll", 0, false},
        {L"C:\\lib\\x.dll,3", L"C:\\lib\\x.dll", 3},
        {L"C:\\lib\\x.dll,-120", L"C:\\lib\\x.dll", -120},
        {L"C:\\lib\\x.dll", L"C:\\lib\\x.dll", 0},
        {L"C:\\Smith, J\\x.dll,3", L"C:\\Smith, J\\x.dll", 3},
        {L"C:\\Smith, J\\x.dll", L"C:\\Smith, J\\x.dll", 0},
        {L"C:\\a,1\\b,2\\x.dll,7", L"C:\\a,1\\b,2\\x.dll", 7},
        {L"C:\\Photos, 2020\\icons.dll", L"C:\\Photos, 2020\\icons.dll", 0},
        {L"C:\\Photos,2020\\icons.dll,-5", L"C:\\Photos,2020\\icons.dll", -5},
        {L"C:\\lib\\x,1.dll", L"C:\\lib\\x,1.dll", 0},
        {L"C:\\Pictures, 2024\\x.ico", L"C:\\Pictures, 2024\\x.ico", 0},
        {L"C:\\Pictures,2024 best\\x.dll,2", L"C:\\Pictures,2024 best\\x.dll", 2},
        {L"", L"", 0},
    };
    for (const Case& c : cases) {
        WideString location(c.location);
        int32_t index = -1;
        EXPECT_EQ(SplitIconLocation(location, index), c.valid) << Narrow(c.location);
        EXPECT_EQ(index, c.index) << Narrow(c.location);
        EXPECT_STREQ(location.Text(), c.path) << Narrow(c.location);
    }
}

TEST_F(IconSourcesTest, ExtractsIconsOfSystemFilesAtEverySize) {
    struct Case {
        WideString file;
        int32_t index;
    };
    const Case cases[] = {
        {SystemFile(L"shell32.dll"), 0},
        {SystemFile(L"shell32.dll"), 3},
        {WindowsFile(L"notepad.exe"), 0},
    };
    for (const Case& c : cases) {
        for (int size : {16, 24, 32, 48, 72, 256}) {
            SCOPED_TRACE(::testing::Message() << Narrow(c.file.Text()) << "," << c.index << " at " << size);
            WorkingImage image = ExtractResourceIcon(c.file, c.index, size, size, WideString());
            ASSERT_TRUE(image);
            EXPECT_EQ(image.Width(), size);
            EXPECT_EQ(image.Height(), size);
            EXPECT_GT(OpaquePixels(image), 0) << "the icon was drawn";
        }
    }
}

TEST_F(IconSourcesTest, AnEntryKeepsItsOwnPixelsOrTakesItsAlphaFromItsMask) {
    // Palette, 24-bit and zero-alpha entries are opaque exactly where their mask is clear; entries with alpha keep
    // every alpha value, 0 and 1 included.
    const std::vector<IconDepth> depths = {IconDepth::kOne,        IconDepth::kFour,  IconDepth::kEight,
                                           IconDepth::kTwentyFour, IconDepth::kAlpha, IconDepth::kZeroAlpha};
    const WideString library = folder_ / L"depths.dll";
    ASSERT_TRUE(MakeDepthLibrary(library.Text(), depths, 16));
    for (size_t i = 0; i < depths.size(); ++i) {
        const int bits = BitsOf(depths[i]);
        SCOPED_TRACE(::testing::Message() << "group " << i << ", " << bits << " bits");
        WorkingImage own = ExtractResourceIcon(library, static_cast<int32_t>(i), 16, 16, WideString());
        ASSERT_TRUE(own);
        const std::vector<uint32_t> pixels = ReadPixels(own, PixelFormat32bppARGB);
        ASSERT_EQ(pixels.size(), 256u);
        std::string first;
        EXPECT_EQ(WrongIconPixels(pixels, depths[i], 16, first), 0) << first;

        // Enlarged, the column that is transparent in every row stays fully transparent.
        WorkingImage larger = ExtractResourceIcon(library, static_cast<int32_t>(i), 32, 32, WideString());
        ASSERT_TRUE(larger);
        const std::vector<uint32_t> large = ReadPixels(larger, PixelFormat32bppARGB);
        ASSERT_EQ(large.size(), 1024u);
        int shown = 0;
        for (int y = 0; y < 32; ++y) {
            EXPECT_EQ(large[static_cast<size_t>(y) * 32] >> 24, 0u) << "row " << y;
            for (int x = 0; x < 32; ++x)
                shown += (large[static_cast<size_t>(y) * 32 + x] >> 24) == 0xFF;
        }
        EXPECT_GT(shown, 0);
    }
}

TEST_F(IconSourcesTest, AnIndexPastTheLastGroupYieldsNothing) {
    EXPECT_FALSE(ExtractResourceIcon(WindowsFile(L"notepad.exe"), 1, 32, 32, WideString()));
    EXPECT_FALSE(ExtractResourceIcon(SystemFile(L"shell32.dll"), 100000, 32, 32, WideString()));
    const WideString out = folder_ / L"none.ico";
    EXPECT_FALSE(MakeIconFromResource(SystemFile(L"shell32.dll"), 100000, out, {16, 32}, kPngc));
    EXPECT_FALSE(Exists(out.Text()));
}

TEST_F(IconSourcesTest, AFallbackPathGivesTheAssociatedIcon) {
    // A resource file without the wanted group: only the icon the shell associates with the fallback is left.
    const WideString notepad = WindowsFile(L"notepad.exe");
    EXPECT_FALSE(ExtractResourceIcon(notepad, 5, 32, 32, WideString()));
    EXPECT_TRUE(ExtractResourceIcon(notepad, 5, 32, 32, notepad));
    // A file that does not load as a resource file ends the chain before the fallback.
    const WideString text = folder_ / L"plain.txt";
    ASSERT_TRUE(WriteBytes(text.Text(), "text", 4));
    EXPECT_FALSE(ExtractResourceIcon(text, 0, 32, 32, notepad));
}

TEST_F(IconSourcesTest, MakeIconFromResourceWritesEveryListedSize) {
    const WideString out = folder_ / L"shell.dll";  // the extension is corrected on a copy
    ASSERT_TRUE(MakeIconFromResource(SystemFile(L"shell32.dll"), 3, out, {16, 32, 48, 256}, kPngc | kCenter));
    EXPECT_FALSE(Exists(out.Text()));
    const std::vector<uint8_t> file = ReadBytes((folder_ / L"shell.ico").Text());
    ASSERT_GE(file.size(), 6u);
    EXPECT_EQ(file[4], 4);
}

TEST_F(IconSourcesTest, MakeIconFromFileTakesPicturesAndElseTheShellIcon) {
    const WideString picture = folder_ / L"pic.png";
    ASSERT_TRUE(SavePicture(picture, 20, 20, 0xFF10A040));
    struct Case {
        WideString source;
        const wchar_t* output;
    };
    const Case cases[] = {
        {picture, L"from-picture.png"},
        {WindowsFile(L"notepad.exe"), L"from-exe"},
        {folder_.Path(), L"from-folder.ico"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.source.Text()));
        const WideString out = folder_ / c.output;
        ASSERT_TRUE(MakeIconFromFile(c.source, out, {16, 48}, kPngc | kCenter));
        WideString written(out);
        EnsureOutputExtension(written, 0);
        const std::vector<uint8_t> file = ReadBytes(written.Text());
        ASSERT_GE(file.size(), 6u + 32);
        EXPECT_EQ(file[4], 2) << "two entries";
    }
    // The picture keeps its exact colour.
    const std::vector<uint8_t> file = ReadBytes((folder_ / L"from-picture.ico").Text());
    EXPECT_EQ(file[6 + 32 + 40 + 0], 0x40);
    EXPECT_EQ(file[6 + 32 + 40 + 1], 0xA0);
    EXPECT_EQ(file[6 + 32 + 40 + 2], 0x10);
    EXPECT_EQ(file[6 + 32 + 40 + 3], 0xFF);
}

TEST_F(IconSourcesTest, ResolveFindsTheFileHoldingTheIcon) {
    const WideString exe = WindowsFile(L"notepad.exe");
    const WideString withIcon = folder_ / L"with icon.lnk";
    const WideString withoutIcon = folder_ / L"without icon.lnk";
    ASSERT_TRUE(MakeShortcut(withIcon, exe.Text(), SystemFile(L"shell32.dll").Text(), 7));
    ASSERT_TRUE(MakeShortcut(withoutIcon, exe.Text(), nullptr, 0));

    struct Case {
        WideString path;
        int32_t startIndex;
        const wchar_t* expectedEnd;  // compared ignoring case
        int32_t expectedIndex;
    };
    const Case cases[] = {
        {exe, 5, L"\\notepad.exe", 5},
        {folder_ / L"x.ICO", 2, L"\\x.ICO", 2},
        {withIcon, 0, L"\\shell32.dll", 7},
        {withoutIcon, 4, L"\\notepad.exe", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path.Text()));
        WideString path(c.path);
        int32_t index = c.startIndex;
        ASSERT_TRUE(ResolveIconSource(path, index));
        EXPECT_TRUE(path.EndsWith(c.expectedEnd, false)) << Narrow(path.Text());
        EXPECT_EQ(index, c.expectedIndex);
    }
}

TEST_F(IconSourcesTest, AShortcutIntoProgramFilesX86FollowsAnItemThatExistsOnlyInProgramFiles) {
    // Removes the program folder this test creates, also when an assertion ends it early.
    struct ProgramFolder {
        const wchar_t* path = L"C:\\Program Files\\GwShortcutTest";
        ~ProgramFolder() { RemoveTree(path); }
    } program;
    ASSERT_TRUE(CreateDirectoryW(program.path, nullptr));
    const wchar_t* real = L"C:\\Program Files\\GwShortcutTest\\tool.exe";
    const wchar_t* recorded = L"C:\\Program Files (x86)\\GwShortcutTest\\tool.exe";
    ASSERT_TRUE(CopyFileW(WindowsFile(L"notepad.exe").Text(), real, FALSE));
    ASSERT_FALSE(Exists(recorded));

    const WideString asTarget = folder_ / L"target.lnk";
    const WideString asIcon = folder_ / L"icon.lnk";
    ASSERT_TRUE(MakeShortcut(asTarget, recorded, nullptr, 0));
    ASSERT_TRUE(MakeShortcut(asIcon, WindowsFile(L"notepad.exe").Text(), recorded, 3));
    struct Case {
        WideString shortcut;
        int32_t expectedIndex;
    };
    for (const Case& c : {Case{asTarget, 0}, Case{asIcon, 3}}) {
        SCOPED_TRACE(Narrow(c.shortcut.Text()));
        WideString path(c.shortcut);
        int32_t index = 7;
        ASSERT_TRUE(ResolveIconSource(path, index));
        EXPECT_TRUE(path.EqualsIgnoreCase(real)) << Narrow(path.Text());
        EXPECT_EQ(index, c.expectedIndex);
    }
}

TEST_F(IconSourcesTest, AFolderResolvesToAnIconFileHoweverItIsWrittenAndWhateverItsDesktopIni) {
    const WideString plain = folder_ / L"plain";
    const WideString custom = folder_ / L"custom";
    ASSERT_TRUE(CreateDirectoryW(plain.Text(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(custom.Text(), nullptr));
    // A folder icon set the usual way: desktop.ini names the icon file and the folder is marked read-only.
    const std::string ini =
        "[.ShellClassInfo]\r\nIconFile=" + Narrow(WindowsFile(L"notepad.exe").Text()) + "\r\nIconIndex=0\r\n";
    ASSERT_TRUE(WriteBytes(WideString::Concat(custom, L"\\desktop.ini").Text(), ini.data(), ini.size()));
    ASSERT_TRUE(SetFileAttributesW(custom.Text(), FILE_ATTRIBUTE_READONLY));

    struct Case {
        WideString path;
        const wchar_t* sameAs;  // written differently, the same folder gives the same answer
    };
    const Case cases[] = {
        {plain, nullptr},
        {WideString::Concat(plain, L"\\"), L"plain"},
        {custom, nullptr},
        {WideString::Concat(custom, L"\\\\"), L"custom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path.Text()));
        WideString path(c.path);
        int32_t index = 0;
        ASSERT_TRUE(ResolveIconSource(path, index));
        const DWORD attributes = GetFileAttributesW(path.Text());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            << "a file holding the icon: \"" << Narrow(path.Text()) << "\"";
        if (c.sameAs) {
            WideString reference = folder_ / c.sameAs;
            int32_t referenceIndex = 0;
            ASSERT_TRUE(ResolveIconSource(reference, referenceIndex));
            EXPECT_TRUE(path.EqualsIgnoreCase(reference.Text())) << Narrow(reference.Text());
            EXPECT_EQ(index, referenceIndex);
        }
    }
    const WideString out = folder_ / L"custom.ico";
    EXPECT_TRUE(MakeIconFromFile(custom, out, {16, 32}, kPngc | kCenter));
    EXPECT_TRUE(Exists(out.Text()));
}

TEST_F(IconSourcesTest, ResolveNeverCreatesAMissingShortcut) {
    WideString path = folder_ / L"missing.lnk";
    int32_t index = 0;
    ResolveIconSource(path, index);
    EXPECT_FALSE(Exists((folder_ / L"missing.lnk").Text()));
}

TEST_F(IconSourcesTest, AShortcutLoopEnds) {
    const WideString a = folder_ / L"a.lnk";
    const WideString b = folder_ / L"b.lnk";
    ASSERT_TRUE(MakeShortcut(a, b.Text(), nullptr, 0));
    ASSERT_TRUE(MakeShortcut(b, a.Text(), nullptr, 0));
    WideString path(a);
    int32_t index = 0;
    ResolveIconSource(path, index);  // must return; where it ends is the shell's answer for a shortcut
    SUCCEED();
}

TEST_F(IconSourcesTest, APictureIsDecodedOncePerJob) {
    const WideString later = folder_ / L"later.png";
    DecodedPicture cache;
    EXPECT_EQ(cache.Get(later.Text()), nullptr);
    ASSERT_TRUE(SavePicture(later, 8, 8, 0xFFFFFFFF));
    EXPECT_EQ(cache.Get(later.Text()), nullptr) << "the first answer holds for the whole job";

    DecodedPicture fresh;
    ScaleSource* first = fresh.Get(later.Text());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(fresh.Get(later.Text()), first);
    fresh.Release();
    EXPECT_TRUE(fresh.IsPicture()) << "the answer outlives the picture";
}

TEST_F(IconSourcesTest, APictureThatCannotBeWrittenIsNotReplacedByTheShellIcon) {
    const WideString picture = folder_ / L"pic.png";
    const WideString text = folder_ / L"text.png";
    ASSERT_TRUE(SavePicture(picture, 8, 8, 0xFF00FF00));
    ASSERT_TRUE(WriteBytes(text.Text(), "not a picture", 13));
    const WideString nowhere = folder_ / L"missing\\out.ico";
    struct Case {
        WideString source;
        bool isPicture;
    };
    for (const Case& c : {Case{picture, true}, Case{text, false}}) {
        DecodedPicture decoded;
        EXPECT_FALSE(WriteIconFile(IconSource(c.source), {16}, nowhere, 0, kPngc, WideString(), &decoded));
        EXPECT_EQ(decoded.IsPicture(), c.isPicture) << Narrow(c.source.Text());
    }
}

TEST_F(IconSourcesTest, EachSizeOfAMultiImagePictureComesFromTheBestFrame) {
    // An .ico of a red 16 and a blue 256: every size is scaled from the smallest frame at least as large.
    const WideString red = folder_ / L"red.png";
    const WideString blue = folder_ / L"blue.png";
    ASSERT_TRUE(SavePicture(red, 16, 16, 0xFFFF0000));
    ASSERT_TRUE(SavePicture(blue, 16, 16, 0xFF0000FF));
    const WideString redIcon = folder_ / L"red.ico";
    const WideString blueIcon = folder_ / L"blue.ico";
    ASSERT_TRUE(WriteIconFile(IconSource(red), {16}, redIcon, 0, kCenter, WideString()));
    ASSERT_TRUE(WriteIconFile(IconSource(blue), {256}, blueIcon, 0, kPngc | kCenter, WideString()));
    const std::vector<uint8_t> a = ReadBytes(redIcon.Text());
    const std::vector<uint8_t> b = ReadBytes(blueIcon.Text());
    // Join them: header, both directory entries with moved offsets, both blocks.
    std::vector<uint8_t> joined = {0, 0, 1, 0, 2, 0};
    std::vector<uint8_t> entryA(a.begin() + 6, a.begin() + 22);
    std::vector<uint8_t> entryB(b.begin() + 6, b.begin() + 22);
    const uint32_t offsetA = 38;
    const uint32_t offsetB = offsetA + static_cast<uint32_t>(a.size() - 22);
    std::memcpy(&entryA[12], &offsetA, 4);
    std::memcpy(&entryB[12], &offsetB, 4);
    joined.insert(joined.end(), entryA.begin(), entryA.end());
    joined.insert(joined.end(), entryB.begin(), entryB.end());
    joined.insert(joined.end(), a.begin() + 22, a.end());
    joined.insert(joined.end(), b.begin() + 22, b.end());
    const WideString both = folder_ / L"both.ico";
    ASSERT_TRUE(WriteBytes(both.Text(), joined));

    struct Case {
        int size;
        uint32_t colour;
    };
    for (const Case& c : {Case{16, 0xFFFF0000u}, Case{32, 0xFF0000FFu}, Case{256, 0xFF0000FFu}}) {
        SCOPED_TRACE(c.size);
        WorkingImage image = LoadIconImage(IconSource(both), c.size, kCenter, WideString(), 0);
        ASSERT_TRUE(image);
        const std::vector<uint32_t> pixels = ReadPixels(image);
        ASSERT_FALSE(pixels.empty());
        EXPECT_EQ(pixels[pixels.size() / 2], c.colour);
    }
}

}  // namespace
