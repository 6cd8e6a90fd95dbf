#include "engine/BatchOperations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "IcoReader.h"
#include "PictureSupport.h"
#include "TestSupport.h"
#include "engine/Imaging.h"
#include "sys/Handles.h"

using namespace testing_support;

namespace {

constexpr uint32_t kRed = 0xFFFF0000;
constexpr uint32_t kBlue = 0xFF0000FF;

// The entries of an .ico file as its directory describes them; valid is false when the layout is broken.
struct IcoImage {
    int size = 0;
    bool png = false;
    uint32_t centre = 0;  // BGRA of the centre pixel of a bitmap entry
};
struct IcoFile {
    bool valid = false;
    std::vector<IcoImage> entries;
};

IcoFile ReadIco(const wchar_t* path) {
    IcoFile ico;
    const std::vector<uint8_t> b = ReadBytes(path);
    const IcoDirectory directory = ReadIcoDirectory(b);
    if (!directory.complete || directory.count == 0) return ico;
    for (const IcoEntry& e : directory.entries) {
        if (e.bytes < 8) return ico;
        IcoImage image;
        image.size = e.width;
        image.png = e.png;
        if (!image.png) {
            const int w = static_cast<int>(IcoLe32(b, e.offset + 4));
            const size_t pixel = e.offset + 40 + (static_cast<size_t>(w / 2) * w + w / 2) * 4;
            if (w != image.size || pixel + 4 > b.size()) return ico;
            image.centre = IcoLe32(b, pixel);
        }
        ico.entries.push_back(image);
    }
    ico.valid = true;
    return ico;
}

std::vector<int> EntrySizes(const IcoFile& ico) {
    std::vector<int> sizes;
    for (const IcoImage& e : ico.entries)
        sizes.push_back(e.size);
    return sizes;
}

// True when the colour is near the wanted pure red or blue (JPEG shifts values a little).
bool Near(uint32_t bgra, uint32_t wanted) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int a = static_cast<int>((bgra >> shift) & 0xFF), b = static_cast<int>((wanted >> shift) & 0xFF);
        if (a - b > 40 || b - a > 40) return false;
    }
    return true;
}

// One 32 x 32 32-bit icon image as an RT_ICON resource holds it: header with doubled height, pixels, mask.
std::vector<uint8_t> IconImageResource(uint32_t colour) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = 32;
    header.biHeight = 64;
    header.biPlanes = 1;
    header.biBitCount = 32;
    std::vector<uint8_t> data(sizeof(header) + 32 * 32 * 4 + 32 * 4, 0);
    std::memcpy(data.data(), &header, sizeof(header));
    for (int i = 0; i < 32 * 32; ++i)
        std::memcpy(&data[sizeof(header) + i * 4], &colour, 4);
    return data;
}

// A group naming one 32 x 32 icon image by its id.
std::vector<uint8_t> IconGroupResource(WORD iconId) {
    std::vector<uint8_t> group = {0,  0,  1, 0, 1, 0,          // reserved, type 1, one entry
                                  32, 32, 0, 0, 1, 0, 32, 0};  // 32 x 32, no palette, 1 plane, 32 bits
    const uint32_t bytes = static_cast<uint32_t>(IconImageResource(0).size());
    for (int i = 0; i < 4; ++i)
        group.push_back(static_cast<uint8_t>(bytes >> (8 * i)));
    group.push_back(static_cast<uint8_t>(iconId));
    group.push_back(static_cast<uint8_t>(iconId >> 8));
    return group;
}

// Copies this test program to path and gives the copy three icon groups, the middle one naming a missing image,
// so that it can't be loaded. Resource directories list groups by id: 10, 20, 30.
bool MakeResourceFile(const wchar_t* path) {
    return CopyProgramWithResources(path, {{RT_ICON, 1, IconImageResource(kRed)},
                                           {RT_ICON, 2, IconImageResource(kBlue)},
                                           {RT_GROUP_ICON, 10, IconGroupResource(1)},
                                           {RT_GROUP_ICON, 20, IconGroupResource(99)},
                                           {RT_GROUP_ICON, 30, IconGroupResource(2)}});
}

// Position of a name in the folder's own listing order, -1 when absent.
int ListingPosition(const WideString& folder, const wchar_t* name) {
    WIN32_FIND_DATAW data;
    const WideString pattern = WideString::Concat(folder, L"\\*.*");
    HANDLE find = FindFirstFileW(pattern.Text(), &data);
    int position = -1;
    for (int i = 0; find != INVALID_HANDLE_VALUE && position < 0; ++i) {
        if (lstrcmpiW(data.cFileName, name) == 0) position = i;
        if (!FindNextFileW(find, &data)) break;
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return position;
}

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(imaging_.Started());
        source_ = temp_ / L"in";
        target_ = temp_ / L"out";
        ASSERT_TRUE(CreateDirectoryW(source_.Text(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(target_.Text(), nullptr));
        job_.owner = this;
        job_.flags = kCenter;
        job_.sizes = {16, 32};
        job_.source = source_;
        job_.targetFolder = WideString::Concat(target_, L"\\\\");
    }

    WideString Out(const wchar_t* name) const { return WideString::Concat(target_, L"\\", name); }
    WideString In(const wchar_t* name) const { return WideString::Concat(source_, L"\\", name); }

    ImagingSession imaging_;
    TempFolder temp_;
    WideString source_;
    WideString target_;
    BatchJob job_;
};

TEST(BatchNamesTest, OutputPathsFollowTheNamingTable) {
    const WideString out(L"C:\\out");
    struct Case {
        WideString actual;
        const wchar_t* expected;
    } cases[] = {
        {ExtractOutputPath(out, L"C:\\Windows\\System32\\shell32.dll", 0, 0), L"C:\\out\\shell32.dll_Icon_0.ico"},
        {ExtractOutputPath(out, L"shell32.dll", 12, kPngs), L"C:\\out\\shell32.dll_Icon_12.png"},
        {ConvertOutputPath(out, L"photo.JPG", kPngc), L"C:\\out\\photo.ico"},
        {ConvertOutputPath(out, L"a.b.png", kPngs), L"C:\\out\\a.b.png"},
        {ConvertOutputPath(out, L"scan.TIFF", kPngs), L"C:\\out\\scan.png"},
        {WindowOutputPath(out, 3, L"Calculator", 0), L"C:\\out\\3-Calculator.ico"},
        {WindowOutputPath(out, 0, L"", kPngs), L"C:\\out\\0-.png"},
        {WindowOutputPath(out, 7, L"notes.txt - Editor", 0), L"C:\\out\\7-notes.txt - Editor.ico"},
        {WindowOutputPath(out, 1, L"..\\..\\Windows\\evil", 0), L"C:\\out\\1-.._.._Windows_evil.ico"},
        {WindowOutputPath(out, 2, L"C:\\x", 0), L"C:\\out\\2-C__x.ico"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.actual.Text(), c.expected);
}

TEST(BatchNamesTest, TitlesAreMadeFitForOneFileName) {
    struct Case {
        const wchar_t* title;
        int maxUnits;
        const wchar_t* expected;
    } cases[] = {
        {L"Calculator", 200, L"Calculator"},
        {L"a\\b/c:d*e?f\"g<h>i|j", 200, L"a_b_c_d_e_f_g_h_i_j"},
        {L"tab\there\r\nnext", 200, L"tab_here__next"},
        {L"..", 200, L""},
        {L"..\\", 200, L".._"},
        {L"name. . ", 200, L"name"},
        {L"trailing dots...", 200, L"trailing dots"},
        {L"abcdef", 3, L"abc"},
        {L"ab. cd", 4, L"ab"},
        {L"x\xD83D\xDE00", 2, L"x"},  // a surrogate pair is never split
        {L"\x4E2D\x6587 \x7A97\x53E3", 200, L"\x4E2D\x6587 \x7A97\x53E3"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(FileNamePartFromTitle(c.title, c.maxUnits).Text(), c.expected) << Narrow(c.title);
}

TEST(BatchNamesTest, LongTitlesStillGiveAFileNameWithinOneComponent) {
    std::wstring title(255, L'T');
    const WideString path = WindowOutputPath(L"C:\\out", 123, title.c_str(), 0);
    const WideString name = path.FileName();
    EXPECT_LE(name.Length(), 255);
    EXPECT_TRUE(name.StartsWith(L"123-TTT", true));
    EXPECT_TRUE(name.EndsWith(L"T.ico", true));
}

TEST(BatchNamesTest, PictureTypesAreRecognisedByTheLastExtension) {
    struct Case {
        const wchar_t* name;
        bool picture;
    } cases[] = {
        {L"photo.JPG", true}, {L"scan.TIFF", true}, {L"a.bmp", true},   {L"a.gif", true},      {L"a.jfif", true},
        {L"a.jpe", true},     {L"a.jpeg", true},    {L"a.png", true},   {L"a.rle", true},      {L"a.Tga", true},
        {L"a.tif", true},     {L"x.tar.png", true}, {L"readme", false}, {L"movie.mp4", false}, {L"a.png.bak", false},
        {L"png", false},      {L"a.jpgx", false},   {L"a.ico", false},  {L"a.", false},        {L"a.webp", true},
        {L"a.PSD", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsPictureFileName(c.name), c.picture) << Narrow(c.name);
}

TEST_F(BatchTest, AJobWithoutOwnerOrWithoutJobDoesNothing) {
    ASSERT_TRUE(SavePicture(In(L"p.png"), 40, 40, kRed, L"image/png"));
    job_.owner = nullptr;
    int (*batches[])(BatchJob*) = {BatchExtractIcons, BatchConvertPictures, BatchSaveWindowIcons};
    for (auto batch : batches) {
        EXPECT_EQ(batch(&job_), 0);
        EXPECT_EQ(batch(nullptr), 0);
    }
    LPTHREAD_START_ROUTINE entries[] = {BatchExtractIconsThread, BatchConvertPicturesThread,
                                        BatchSaveWindowIconsThread};
    for (auto entry : entries) {
        EXPECT_EQ(entry(&job_), 0u);
        EXPECT_EQ(entry(nullptr), 0u);
    }
    EXPECT_TRUE(FolderNames(target_).empty());
}

TEST_F(BatchTest, ConvertTakesPlainPictureFilesOnly) {
    ASSERT_TRUE(SavePicture(In(L"photo.JPG"), 40, 40, kRed, L"image/jpeg"));
    ASSERT_TRUE(SavePicture(In(L"scan.TIFF"), 40, 40, kBlue, L"image/tiff"));
    ASSERT_TRUE(WriteBytes(In(L"readme").Text(), "text", 4));
    ASSERT_TRUE(SavePicture(In(L"movie.mp4"), 40, 40, kRed, L"image/png"));
    ASSERT_TRUE(CreateDirectoryW(In(L"x.png").Text(), nullptr));

    EXPECT_EQ(BatchConvertPictures(&job_), 1);
    EXPECT_EQ(job_.counter, 2);
    EXPECT_EQ(job_.total, 2) << "only pictures are items";
    EXPECT_EQ(job_.written, 2);
    EXPECT_EQ(FolderNames(target_), (std::set<std::wstring>{L"photo.ico", L"scan.ico"}));
    const IcoFile photo = ReadIco(Out(L"photo.ico").Text());
    ASSERT_TRUE(photo.valid);
    EXPECT_EQ(EntrySizes(photo), (std::vector<int>{16, 32}));
    EXPECT_TRUE(Near(photo.entries[1].centre, kRed));
    const IcoFile scan = ReadIco(Out(L"scan.ico").Text());
    ASSERT_TRUE(scan.valid);
    EXPECT_TRUE(Near(scan.entries[0].centre, kBlue));
}

TEST_F(BatchTest, ConvertToPngWritesOnePngPerPicture) {
    ASSERT_TRUE(SavePicture(In(L"one.bmp"), 40, 40, kRed, L"image/bmp"));
    job_.flags |= kPngs;
    EXPECT_EQ(BatchConvertPictures(&job_), 1);
    const std::vector<uint8_t> png = ReadBytes(Out(L"one.png").Text());
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);
    EXPECT_EQ(png[19], 32);  // IHDR width, big-endian: the last listed size
}

TEST_F(BatchTest, ASecondPictureOfTheSameNameMovesTheFirstResultToItsBackup) {
    ASSERT_TRUE(SavePicture(In(L"a.jpg"), 40, 40, kRed, L"image/jpeg"));
    ASSERT_TRUE(SavePicture(In(L"a.png"), 40, 40, kBlue, L"image/png"));
    const int jpg = ListingPosition(source_, L"a.jpg"), png = ListingPosition(source_, L"a.png");
    ASSERT_GE(jpg, 0);
    ASSERT_GE(png, 0);
    const uint32_t later = jpg < png ? kBlue : kRed, earlier = jpg < png ? kRed : kBlue;

    EXPECT_EQ(BatchConvertPictures(&job_), 1);
    EXPECT_EQ(FolderNames(target_), (std::set<std::wstring>{L"a.ico", L"a (backup).ico"}));
    const IcoFile current = ReadIco(Out(L"a.ico").Text()), backup = ReadIco(Out(L"a (backup).ico").Text());
    ASSERT_TRUE(current.valid);
    ASSERT_TRUE(backup.valid);
    EXPECT_TRUE(Near(current.entries[0].centre, later));
    EXPECT_TRUE(Near(backup.entries[0].centre, earlier));
}

TEST_F(BatchTest, AnOutputThatAlreadyHasABackupKeepsBothEarlierFiles) {
    ASSERT_TRUE(SavePicture(In(L"b.png"), 40, 40, kBlue, L"image/png"));
    ASSERT_TRUE(WriteBytes(Out(L"b.ico").Text(), "OLD", 3));
    ASSERT_TRUE(WriteBytes(Out(L"b (backup).ico").Text(), "KEEP", 4));
    EXPECT_EQ(BatchConvertPictures(&job_), 1);
    EXPECT_TRUE(ReadIco(Out(L"b.ico").Text()).valid);
    EXPECT_EQ(ReadBytes(Out(L"b (backup).ico").Text()), (std::vector<uint8_t>{'O', 'L', 'D'}));
    EXPECT_EQ(ReadBytes(Out(L"b (backup 2).ico").Text()), (std::vector<uint8_t>{'K', 'E', 'E', 'P'}));
}

TEST_F(BatchTest, AnOutputHeldOpenKeepsItsOldFileAndGetsNoBackup) {
    struct Case {
        const char* name;
        DWORD share;  // how another program holds the old a.ico open
    };
    const Case cases[] = {{"held without delete sharing", FILE_SHARE_READ | FILE_SHARE_WRITE},
                          {"held without any sharing", 0}};
    ASSERT_TRUE(SavePicture(In(L"a.png"), 40, 40, kRed, L"image/png"));
    ASSERT_TRUE(SavePicture(In(L"b.png"), 40, 40, kBlue, L"image/png"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::wstring& name : FolderNames(target_))
            DeleteFileW(Out(name.c_str()).Text());
        ASSERT_TRUE(WriteBytes(Out(L"a.ico").Text(), "OLD", 3));
        {
            const FileHandle held(
                CreateFileW(Out(L"a.ico").Text(), GENERIC_READ, c.share, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            EXPECT_EQ(BatchConvertPicturesOn(&job_, 1), 1) << "b.ico is written";
            EXPECT_EQ(FolderNames(target_), (std::set<std::wstring>{L"a.ico", L"b.ico"}));
        }
        EXPECT_EQ(ReadBytes(Out(L"a.ico").Text()), (std::vector<uint8_t>{'O', 'L', 'D'}));
        EXPECT_TRUE(ReadIco(Out(L"b.ico").Text()).valid);
    }
}

TEST_F(BatchTest, AStaleBackupIsNeverTheSourceAndNoFileIsLost) {
    ASSERT_TRUE(SavePicture(In(L"x.png"), 40, 40, kRed, L"image/png"));
    job_.flags |= kPngs;
    ASSERT_EQ(BatchConvertPictures(&job_), 1);
    const std::vector<uint8_t> fromCurrent = ReadBytes(Out(L"x.png").Text());

    // Converting the folder into itself, with a backup of an earlier run beside the picture.
    ASSERT_TRUE(SavePicture(In(L"x (backup).png"), 40, 40, kBlue, L"image/png"));
    const std::vector<uint8_t> current = ReadBytes(In(L"x.png").Text()),
                               stale = ReadBytes(In(L"x (backup).png").Text());
    job_.targetFolder = source_;
    EXPECT_EQ(BatchConvertPictures(&job_), 1);
    EXPECT_EQ(ReadBytes(In(L"x.png").Text()), fromCurrent) << "made from the picture as it was";
    std::vector<std::vector<uint8_t>> contents;
    for (const std::wstring& name : FolderNames(source_))
        contents.push_back(ReadBytes(In(name.c_str()).Text()));
    for (const auto* kept : {&current, &stale})
        EXPECT_NE(std::find(contents.begin(), contents.end(), *kept), contents.end()) << "an earlier file was lost";
}

TEST_F(BatchTest, ConvertingIntoTheSourceFolderNeverConvertsItsOwnOutputs) {
    ASSERT_TRUE(SavePicture(In(L"x.png"), 40, 40, kRed, L"image/png"));
    // Wine's GIF encoder writes no image data: such a GIF is a damaged picture.
    ASSERT_TRUE(SavePicture(In(L"y.bmp"), 40, 40, kBlue, L"image/bmp"));
    job_.targetFolder = source_;
    job_.flags |= kPngs;
    EXPECT_EQ(BatchConvertPictures(&job_), 1);
    // x.png is its own output: it is read as it is and its content kept as its backup.
    EXPECT_EQ(job_.counter, 2);
    EXPECT_EQ(FolderNames(source_), (std::set<std::wstring>{L"x.png", L"x (backup).png", L"y.bmp", L"y.png"}));
}

TEST_F(BatchTest, UndecodablePicturesGetTheShellIconOrLeaveTheOldOutputInPlace) {
    const char junk[] = "not a picture at all";
    ASSERT_TRUE(WriteBytes(In(L"broken.tga").Text(), junk, sizeof(junk)));
    ASSERT_TRUE(WriteBytes(In(L"c.png").Text(), junk, sizeof(junk)));
    ASSERT_TRUE(WriteBytes(Out(L"c.ico").Text(), "PREVIOUS", 8));
    ASSERT_TRUE(SavePicture(In(L"good.bmp"), 40, 40, kRed, L"image/bmp"));

    EXPECT_EQ(BatchConvertPictures(&job_), 1);
    EXPECT_TRUE(ReadIco(Out(L"good.ico").Text()).valid);
    if (Exists(Out(L"broken.ico").Text())) {
        EXPECT_TRUE(ReadIco(Out(L"broken.ico").Text()).valid);
    }
    // Either a new icon with the old file as its backup, or the old file put back.
    if (Exists(Out(L"c (backup).ico").Text())) {
        EXPECT_TRUE(ReadIco(Out(L"c.ico").Text()).valid);
        EXPECT_EQ(ReadBytes(Out(L"c (backup).ico").Text()).size(), 8u);
    } else {
        EXPECT_EQ(ReadBytes(Out(L"c.ico").Text()).size(), 8u);
    }
}

TEST_F(BatchTest, ConvertOfAFolderWithoutPicturesGivesZero) {
    EXPECT_EQ(BatchConvertPictures(&job_), 0);
    ASSERT_TRUE(WriteBytes(In(L"readme").Text(), "text", 4));
    EXPECT_EQ(BatchConvertPictures(&job_), 0);
    job_.source = temp_ / L"missing";
    EXPECT_EQ(BatchConvertPictures(&job_), 0);
    EXPECT_TRUE(FolderNames(target_).empty());
}

TEST_F(BatchTest, ConvertRunsAsAThreadEntryAndStopsAtOnceWhenCancelledBeforeStart) {
    ASSERT_TRUE(SavePicture(In(L"p.png"), 40, 40, kRed, L"image/png"));
    struct Case {
        bool cancel;
        DWORD exitCode;
        size_t files;
    } cases[] = {{true, 0, 0}, {false, 1, 1}};
    for (const Case& c : cases) {
        job_.cancel = c.cancel;
        HANDLE thread = CreateThread(nullptr, 0, BatchConvertPicturesThread, &job_, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        EXPECT_EQ(code, c.exitCode);
        EXPECT_EQ(FolderNames(target_).size(), c.files);
    }
}

// A picture whose pixels depend on the seed, so that every source gives different bytes.
PixelFunction Pattern(int seed) {
    return [seed](int x, int y) {
        return 0xFF000000u | static_cast<uint32_t>((x * seed) & 255) << 16 |
               static_cast<uint32_t>((y * 3 + seed * 40) & 255) << 8 | static_cast<uint32_t>((x + y) & 255);
    };
}

// Every file of a folder with its bytes.
std::map<std::wstring, std::vector<uint8_t>> FolderContent(const WideString& folder) {
    std::map<std::wstring, std::vector<uint8_t>> content;
    for (const std::wstring& name : FolderNames(folder))
        content[name] = ReadBytes(WideString::Concat(folder, L"\\", name.c_str()).Text());
    return content;
}

TEST_F(BatchTest, ConvertOnManyWorkersWritesTheSameFilesAndBackupsAsOnOne) {
    // Outputs shared by several pictures, an output that is another's backup name, and earlier files in the target.
    const wchar_t* colliding[] = {L"a.jpg", L"a.png", L"a.gif",         L"a (backup).png", L"a (backup 2).bmp",
                                  L"b.bmp", L"b.tif", L"B (backup).png"};
    int seed = 1;
    for (const wchar_t* name : colliding) {
        const WideString extension = WideString(name).Extension(false);
        const wchar_t* mime = extension.EqualsIgnoreCase(L"jpg")   ? L"image/jpeg"
                              : extension.EqualsIgnoreCase(L"bmp") ? L"image/bmp"
                              : extension.EqualsIgnoreCase(L"tif") ? L"image/tiff"
                                                                   : L"image/png";
        ASSERT_TRUE(SavePicture(In(name), 60 + seed, 50, Pattern(seed), mime)) << Narrow(name);
        ++seed;
    }
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(SavePicture(In(WideString::Concat(L"single", WideString::FromInt(i), L".png").Text()), 80, 64,
                                Pattern(seed++)));
    }
    const WideString sequential = temp_ / L"sequential";
    ASSERT_TRUE(CreateDirectoryW(sequential.Text(), nullptr));
    for (const WideString& folder : {sequential, target_}) {
        ASSERT_TRUE(WriteBytes(WideString::Concat(folder, L"\\a.ico").Text(), "old a", 5));
        ASSERT_TRUE(WriteBytes(WideString::Concat(folder, L"\\b (backup).ico").Text(), "old b backup", 12));
    }

    job_.targetFolder = sequential;
    EXPECT_EQ(BatchConvertPicturesOn(&job_, 1), 1);
    const int32_t sequentialCount = job_.counter;
    const WideString sequentialLast = job_.output;
    job_.targetFolder = target_;
    EXPECT_EQ(BatchConvertPicturesOn(&job_, 4), 1);
    EXPECT_EQ(job_.counter, sequentialCount);
    EXPECT_STREQ(job_.output.FileName().Text(), sequentialLast.FileName().Text()) << "the last listed item is named";

    const auto expected = FolderContent(sequential), written = FolderContent(target_);
    EXPECT_GE(expected.size(), 10u + 2u + 4u) << "the single pictures, the earlier files and a family's outputs";
    ASSERT_EQ(written.size(), expected.size());
    for (const auto& file : expected) {
        SCOPED_TRACE(Narrow(file.first.c_str()));
        const auto found = written.find(file.first);
        ASSERT_NE(found, written.end());
        EXPECT_TRUE(found->second == file.second) << "same bytes";
    }
}

TEST_F(BatchTest, ConvertCancelledWhileRunningStopsEveryWorkerAndLeavesOnlyCompleteFiles) {
    constexpr int kPictures = 24;
    for (int i = 0; i < kPictures; ++i) {
        ASSERT_TRUE(SavePicture(In(WideString::Concat(L"p", WideString::FromInt(i), L".png").Text()), 600, 600,
                                Pattern(i + 1)));
    }
    job_.sizes = {16, 32, 48, 256};
    struct Run {
        BatchJob* job;
        static DWORD WINAPI Entry(LPVOID self) {
            return static_cast<DWORD>(BatchConvertPicturesOn(static_cast<Run*>(self)->job, 2));
        }
    } run{&job_};
    HANDLE thread = CreateThread(nullptr, 0, Run::Entry, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (job_.counter < 2 && WaitForSingleObject(thread, 5) == WAIT_TIMEOUT) {
    }
    job_.cancel = true;
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);

    const std::set<std::wstring> names = FolderNames(target_);
    EXPECT_GE(names.size(), 2u);
    EXPECT_LT(names.size(), static_cast<size_t>(kPictures)) << "the batch stopped before its end";
    EXPECT_EQ(names.size(), static_cast<size_t>(job_.counter)) << "every counted file, no temporary file";
    for (const std::wstring& name : names) {
        SCOPED_TRACE(Narrow(name.c_str()));
        const IcoFile ico = ReadIco(WideString::Concat(target_, L"\\", name.c_str()).Text());
        ASSERT_TRUE(ico.valid);
        EXPECT_EQ(EntrySizes(ico), (std::vector<int>{16, 32, 48, 256}));
    }
}

TEST_F(BatchTest, ExtractWritesEveryGroupByPositionWithoutReusingTheNumberOfAFailedOne) {
    const WideString library = temp_ / L"three.dll";
    ASSERT_TRUE(MakeResourceFile(library.Text()));
    job_.source = library;
    job_.flags = kCenter | kFromResource;
    job_.sizes = {16, 32, 48};

    EXPECT_EQ(BatchExtractIcons(&job_), 1);
    EXPECT_EQ(job_.counter, 3);
    // What a progress display reads: every group finished, the failed one not written.
    EXPECT_EQ(job_.total, 3);
    EXPECT_EQ(job_.done, 3);
    EXPECT_EQ(job_.written, 2);
    EXPECT_EQ(FolderNames(target_), (std::set<std::wstring>{L"three.dll_Icon_0.ico", L"three.dll_Icon_2.ico"}));
    const IcoFile first = ReadIco(Out(L"three.dll_Icon_0.ico").Text());
    const IcoFile third = ReadIco(Out(L"three.dll_Icon_2.ico").Text());
    ASSERT_TRUE(first.valid);
    ASSERT_TRUE(third.valid);
    EXPECT_EQ(EntrySizes(first), (std::vector<int>{16, 32, 48}));
    EXPECT_TRUE(Near(first.entries[1].centre, kRed));
    EXPECT_TRUE(Near(third.entries[1].centre, kBlue));
}

TEST_F(BatchTest, ExtractKeepsAnExistingOutputAsItsBackup) {
    const WideString library = temp_ / L"lib.dll";
    ASSERT_TRUE(MakeResourceFile(library.Text()));
    ASSERT_TRUE(WriteBytes(Out(L"lib.dll_Icon_0.ico").Text(), "OLD", 3));
    ASSERT_TRUE(WriteBytes(Out(L"lib.dll_Icon_1.ico").Text(), "KEPT", 4));
    job_.source = library;
    EXPECT_EQ(BatchExtractIcons(&job_), 1);
    EXPECT_TRUE(ReadIco(Out(L"lib.dll_Icon_0.ico").Text()).valid);
    EXPECT_EQ(ReadBytes(Out(L"lib.dll_Icon_0 (backup).ico").Text()), (std::vector<uint8_t>{'O', 'L', 'D'}));
    // The failed group puts the file it moved aside back in place.
    EXPECT_EQ(ReadBytes(Out(L"lib.dll_Icon_1.ico").Text()), (std::vector<uint8_t>{'K', 'E', 'P', 'T'}));
    EXPECT_FALSE(Exists(Out(L"lib.dll_Icon_1 (backup).ico").Text()));
}

TEST_F(BatchTest, ExtractGivesOneOnlyWhenAFileWasWritten) {
    const WideString library = temp_ / L"lib.dll";
    ASSERT_TRUE(MakeResourceFile(library.Text()));
    job_.source = library;
    job_.targetFolder = temp_ / L"missing";
    EXPECT_EQ(BatchExtractIcons(&job_), 0);
    EXPECT_EQ(job_.counter, 3) << "every group was tried";
    EXPECT_FALSE(Exists(job_.targetFolder.Text()));
}

TEST_F(BatchTest, ExtractFromFilesWithoutIconGroupsGivesZero) {
    ASSERT_TRUE(WriteBytes(In(L"plain.dll").Text(), "MZ not really", 13));
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const WideString sources[] = {In(L"plain.dll"), temp_ / L"missing.dll", WideString(self)};
    for (const WideString& source : sources) {
        job_.source = source;
        EXPECT_EQ(BatchExtractIcons(&job_), 0) << Narrow(source.Text());
    }
    EXPECT_TRUE(FolderNames(target_).empty());
}

TEST_F(BatchTest, ExtractCancelledBeforeStartWritesNothing) {
    const WideString library = temp_ / L"lib.dll";
    ASSERT_TRUE(MakeResourceFile(library.Text()));
    job_.source = library;
    job_.cancel = true;
    EXPECT_EQ(BatchExtractIcons(&job_), 0);
    EXPECT_TRUE(FolderNames(target_).empty());
}

}  // namespace
