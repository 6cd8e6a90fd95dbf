#include "engine/IconJob.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <set>
#include <string>
#include <vector>

#include "IcoReader.h"
#include "IconImageSupport.h"
#include "PictureSupport.h"
#include "TestSupport.h"
#include "engine/OutputNaming.h"

using namespace testing_support;

namespace {

const std::vector<uint8_t> kOld = {'o', 'l', 'd'};

class IconJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(imaging_.Started());
        picture_ = folder_ / L"pic.png";
        ASSERT_TRUE(SavePicture(picture_, 40, 40, 0xFF336699));
        shell32_.SetSpecialFolder(CSIDL_SYSTEM);
        shell32_.StripTrailingBackslashes();
        shell32_.Append(L"\\shell32.dll");
    }

    IconRequest FromPicture(const WideString& target, IconJobFlags flags = kPngc) const {
        IconRequest request;
        request.sourcePath = picture_;
        request.sizes = {16, 32};
        request.flags = flags;
        request.target = target;
        return request;
    }
    // A resource source that gives no image: an icon index beyond the file's groups.
    IconRequest FromMissingIcon(const WideString& target) const {
        IconRequest request = FromPicture(target);
        request.kind = IconSourceKind::kResource;
        request.sourcePath = shell32_;
        request.iconIndex = 100000;
        return request;
    }

    ImagingSession imaging_;
    TempFolder folder_;
    WideString picture_;
    WideString shell32_;
};

TEST_F(IconJobTest, NamesTheOutputOnceAndWritesThere) {
    ASSERT_TRUE(CreateDirectoryW((folder_ / L"icons").Text(), nullptr));
    struct Case {
        const wchar_t* target;
        IconJobFlags flags;
        bool targetIsFile;
        const wchar_t* output;  // inside the temporary folder
    };
    const Case cases[] = {
        {L"icons", kPngc, false, L"icons\\pic.ico"}, {L"fresh\\", kPngc, false, L"fresh\\pic.ico"},
        {L"out.ico", kPngs, false, L"out.png"},      {L"dots.ico. .", kPngc, false, L"dots.ico"},
        {L"name.bmp", kPngc, false, L"name.ico"},    {L"icons", kPngc, true, L"icons.ico"},
    };
    ASSERT_TRUE(CreateDirectoryW((folder_ / L"fresh").Text(), nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.target));
        IconRequest request = FromPicture(folder_ / c.target, c.flags);
        request.targetIsFile = c.targetIsFile;
        const IconJobResult job = RunIconJob(request);
        ASSERT_TRUE(job.result.Ok());
        EXPECT_STREQ(job.output.Text(), (folder_ / c.output).Text());
        const std::vector<uint8_t> file = ReadBytes(job.output.Text());
        if (c.flags & kPngs)
            EXPECT_TRUE(file.size() > 8 && file[1] == 'P' && file[2] == 'N' && file[3] == 'G');
        else
            EXPECT_EQ(ReadIcoDirectory(file).entries.size(), 2u);
    }
    const IconJobResult nameless = RunIconJob(FromPicture(WideString()));
    EXPECT_EQ(nameless.result.Cause(), Failure::kNoTarget);
    EXPECT_TRUE(nameless.output.IsEmpty());
}

TEST_F(IconJobTest, KeepsAnExistingOutputAsItsBackupAndUndoesThatWhenTheJobFails) {
    struct Case {
        const wchar_t* name;
        bool sourceGivesImages;
        OutputBackupRule rule;
        bool backupLeft;
    };
    const Case cases[] = {
        {L"kept", true, OutputBackupRule::kAlways, true},
        {L"failed", false, OutputBackupRule::kAlways, false},
        {L"unkept", true, OutputBackupRule::kNever, false},
        {L"notsource", true, OutputBackupRule::kWhenOutputIsSource, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        const WideString output = folder_ / (std::wstring(c.name) + L".ico").c_str();
        ASSERT_TRUE(WriteBytes(output.Text(), kOld));
        IconRequest request = c.sourceGivesImages ? FromPicture(output) : FromMissingIcon(output);
        request.backup = c.rule;
        const IconJobResult job = RunIconJob(request);
        EXPECT_EQ(job.result.Ok(), c.sourceGivesImages);
        EXPECT_EQ(ReadBytes(output.Text()) == kOld, !c.sourceGivesImages);
        const WideString backup = folder_ / (std::wstring(c.name) + L" (backup).ico").c_str();
        EXPECT_EQ(Exists(backup.Text()), c.backupLeft);
        if (c.backupLeft) {
            EXPECT_EQ(ReadBytes(backup.Text()), kOld);
        }
    }

    // The output that is the source file itself keeps its content as its backup.
    const WideString source = folder_ / L"self.ico";
    ASSERT_TRUE(CopyFileW(picture_.Text(), source.Text(), FALSE));
    const std::vector<uint8_t> before = ReadBytes(source.Text());
    IconRequest request = FromPicture(source);
    request.sourcePath = source;
    request.backup = OutputBackupRule::kWhenOutputIsSource;
    ASSERT_TRUE(RunIconJob(request).result.Ok());
    EXPECT_EQ(ReadBytes((folder_ / L"self (backup).ico").Text()), before);
    EXPECT_EQ(ReadIcoDirectory(source.Text()).entries.size(), 2u);
}

TEST_F(IconJobTest, APngJobBacksUpThePngItReplaces) {
    const WideString png = folder_ / L"out.png";
    const WideString ico = folder_ / L"out.ico";
    ASSERT_TRUE(WriteBytes(png.Text(), kOld));
    ASSERT_TRUE(WriteBytes(ico.Text(), "ico", 3));
    const IconJobResult job = RunIconJob(FromPicture(ico, kPngs));
    ASSERT_TRUE(job.result.Ok());
    EXPECT_STREQ(job.output.Text(), png.Text());
    EXPECT_EQ(ReadBytes((folder_ / L"out (backup).png").Text()), kOld);
    EXPECT_EQ(ReadBytes(ico.Text()), std::vector<uint8_t>({'i', 'c', 'o'}));
    EXPECT_FALSE(Exists((folder_ / L"out (backup).ico").Text()));
}

TEST_F(IconJobTest, AFailedJobWritesNothingAndSaysWhy) {
    const WideString unreadable = folder_ / L"missing.png";
    IconRequest noSource = FromPicture(folder_ / L"a.ico");
    noSource.sourcePath = unreadable;
    struct Case {
        const char* name;
        IconRequest request;
        Failure cause;
        const wchar_t* output;
    };
    const Case cases[] = {
        {"no image", FromMissingIcon(folder_ / L"none.ico"), Failure::kNotAPicture, L"none.ico"},
        {"missing folder", FromPicture(folder_ / L"no\\such\\out.ico"), Failure::kFolderMissing, L"no\\such\\out.ico"},
        {"unreadable source", noSource, Failure::kNoSource, L"a.ico"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const IconJobResult job = RunIconJob(c.request);
        EXPECT_EQ(job.result.Cause(), c.cause);
        EXPECT_STREQ(job.output.Text(), (folder_ / c.output).Text());
        EXPECT_EQ(LastOutputFailure(job.output), c.cause == Failure::kNoSource ? Failure::kUnknown : c.cause);
    }
    EXPECT_EQ(FolderNames(folder_.Path()), std::set<std::wstring>{L"pic.png"});
}

TEST_F(IconJobTest, AWindowsIconPairGivesSmallAndLargeSizes) {
    const IconHandle small = MakeSolidIcon(16, 0xFF0000FF);
    const IconHandle large = MakeSolidIcon(32, 0xFFFF0000);
    IconRequest request = FromPicture(folder_ / L"\\", kCenter);
    request.kind = IconSourceKind::kWindow;
    request.sourceName = L"Window title";
    request.windowIcons = {small.Get(), large.Get()};
    const IconJobResult job = RunIconJob(request);
    ASSERT_TRUE(job.result.Ok());
    EXPECT_STREQ(job.output.Text(), (folder_ / L"Window title.ico").Text());
    const std::vector<uint8_t> file = ReadBytes(job.output.Text());
    const IcoDirectory icon = ReadIcoDirectory(file);
    ASSERT_EQ(icon.entries.size(), 2u);
    EXPECT_EQ(IcoLe32(file, icon.entries[0].offset + 40), 0xFF0000FFu);
    EXPECT_EQ(IcoLe32(file, icon.entries[1].offset + 40), 0xFFFF0000u);

    // A window without icons has nothing to write: skipped, and an existing output stays without a backup.
    const WideString old = folder_ / L"old.ico";
    ASSERT_TRUE(WriteBytes(old.Text(), kOld));
    request.windowIcons = {};
    request.target = old;
    const IconJobResult none = RunIconJob(request);
    EXPECT_TRUE(none.Skipped());
    EXPECT_EQ(ReadBytes(old.Text()), kOld);
    EXPECT_FALSE(Exists((folder_ / L"old (backup).ico").Text()));
}

TEST_F(IconJobTest, AResourceSourceWritesTheIconAtItsIndex) {
    IconRequest request = FromPicture(folder_ / L"\\", kPngc | kCenter);
    request.kind = IconSourceKind::kResource;
    request.sourcePath = shell32_;
    request.iconIndex = 3;
    request.sizes = {16, 32, 256};
    const IconJobResult job = RunIconJob(request);
    ASSERT_TRUE(job.result.Ok());
    EXPECT_STREQ(job.output.Text(), (folder_ / L"shell32.ico").Text());
    const IcoDirectory icon = ReadIcoDirectory(job.output.Text());
    ASSERT_EQ(icon.entries.size(), 3u);
    EXPECT_EQ(icon.entries[1].width, 32);
    EXPECT_TRUE(icon.entries[2].png);
}

}  // namespace
