#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/FormatSet.h"
#include "support/TestSupport.h"

namespace {

using testing_support::Narrow;
using testing_support::ReadBytes;
using testing_support::TempFolder;

IconFormatSet MakeSet(std::vector<int> sizes, bool pngs, bool pngc, FitMode fit) {
    IconFormatSet set;
    for (int s : sizes)
        set.SetSize(s, true);
    set.pngs = pngs;
    set.pngc = pngc;
    set.fit = fit;
    return set;
}

std::vector<int> SizesOf(const IconFormatSet& set) {
    std::vector<int> sizes;
    for (int s : IconFormatSet::kSizeTable)
        if (set.HasSize(s)) sizes.push_back(s);
    return sizes;
}

void ExpectSet(const IconFormatSet& actual, const IconFormatSet& expected, const std::string& context) {
    EXPECT_EQ(SizesOf(actual), SizesOf(expected)) << context;
    EXPECT_EQ(actual.pngs, expected.pngs) << context;
    EXPECT_EQ(actual.pngc, expected.pngc) << context;
    EXPECT_EQ(actual.fit, expected.fit) << context;
    EXPECT_EQ(actual.original, expected.original) << context;
}

IconFormatSet KeepingOriginals(IconFormatSet set) {
    set.original = true;
    return set;
}

struct ParseCase {
    const wchar_t* text;
    IconFormatSet expected;
};

TEST(ParseFormatSetTest, LooksUpEveryTokenBetweenBarsIgnoringCase) {
    const ParseCase cases[] = {
        {L"|16|32|48|256|PNGC|Center|", MakeSet({16, 32, 48, 256}, false, true, FitMode::kCenter)},
        {L"|pngs|128|crop|", MakeSet({128}, true, false, FitMode::kCrop)},
        {L"|Crop|Stretch|", MakeSet({}, false, false, FitMode::kCrop)},
        {L"|Stretch|Center|", MakeSet({}, false, false, FitMode::kStretch)},
        {L"16|32", MakeSet({}, false, false, FitMode::kCenter)},
        {L"|16|32|", MakeSet({16, 32}, false, false, FitMode::kCenter)},
        {L"| 16|32 |", MakeSet({}, false, false, FitMode::kCenter)},
        {L"|512|1024|160|2|", MakeSet({512}, false, false, FitMode::kCenter)},
        {L"|Stretch|PNGC|24|72|96|64|", MakeSet({24, 64, 72, 96}, false, true, FitMode::kStretch)},
        {L"junk|PnGs|xx|STRETCH|48|", MakeSet({48}, true, false, FitMode::kStretch)},
        {L"|ORIGINAL|32|", KeepingOriginals(MakeSet({32}, false, false, FitMode::kCenter))},
        {L"|PNGSC|PNG|Crops|", MakeSet({}, false, false, FitMode::kCenter)},
        {L"", MakeSet({}, false, false, FitMode::kCenter)},
        {L"||||", MakeSet({}, false, false, FitMode::kCenter)},
    };
    for (const ParseCase& c : cases)
        ExpectSet(ParseFormatSet(c.text), c.expected, Narrow(c.text));
    ExpectSet(ParseFormatSet(nullptr), MakeSet({}, false, false, FitMode::kCenter), "null text");
}

struct TextCase {
    IconFormatSet set;
    const wchar_t* text;
};

TEST(FormatSetToTextTest, WritesTokensInTheirFixedOrder) {
    const TextCase cases[] = {
        {MakeSet({16, 32, 48, 256}, false, true, FitMode::kCenter), L"|16|32|48|256|PNGC|Center|"},
        {MakeSet({256, 48, 16}, true, true, FitMode::kStretch), L"|PNGS|16|48|256|PNGC|Stretch|"},
        {MakeSet({}, false, false, FitMode::kCenter), L"|Center|"},
        {MakeSet({512, 128, 96, 72, 64, 48, 32, 24, 16, 256}, true, false, FitMode::kCrop),
         L"|PNGS|16|24|32|48|64|72|96|128|256|512|Crop|"},
        {KeepingOriginals(MakeSet({16}, false, true, FitMode::kCrop)), L"|16|PNGC|Crop|Original|"},
    };
    for (const TextCase& c : cases) {
        const WideString text = FormatSetToText(c.set);
        EXPECT_TRUE(text.Equals(c.text)) << Narrow(text.Text()) << " instead of " << Narrow(c.text);
    }
}

TEST(FormatSetToTextTest, EverySetSurvivesItsTextForm) {
    const FitMode fits[] = {FitMode::kCenter, FitMode::kCrop, FitMode::kStretch};
    for (int mask = 0; mask < (1 << IconFormatSet::kSizeCount); ++mask)
        for (int flags = 0; flags < 8; ++flags)
            for (FitMode fit : fits) {
                IconFormatSet set;
                for (int i = 0; i < IconFormatSet::kSizeCount; ++i)
                    set.sizes[i] = (mask >> i) & 1;
                set.pngs = flags & 1;
                set.pngc = flags & 2;
                set.original = flags & 4;
                set.fit = fit;
                const IconFormatSet back = ParseFormatSet(FormatSetToText(set).Text());
                ASSERT_TRUE(std::equal(std::begin(set.sizes), std::end(set.sizes), std::begin(back.sizes))) << mask;
                ASSERT_EQ(back.pngs, set.pngs);
                ASSERT_EQ(back.pngc, set.pngc);
                ASSERT_EQ(back.fit, set.fit);
                ASSERT_EQ(back.original, set.original);
            }
}

struct JobCase {
    IconFormatSet set;
    std::vector<int> sizes;
    IconJobFlags flags;
};

TEST(FormatSetToJobTest, GivesAscendingSizesAndTheFlagWord) {
    const JobCase cases[] = {
        {MakeSet({16, 48, 256}, true, true, FitMode::kStretch), {16, 48, 256}, 0x11},
        {MakeSet({16, 32, 48, 256}, false, true, FitMode::kCenter), {16, 32, 48, 256}, 0x05},
        {MakeSet({512, 24}, false, false, FitMode::kCrop), {24, 512}, 0x08},
        {MakeSet({72}, true, false, FitMode::kCenter), {72}, 0x14},
        {MakeSet({}, false, true, FitMode::kCrop), {}, 0x09},
        {KeepingOriginals(MakeSet({32}, false, false, FitMode::kCenter)), {32}, 0x44},
    };
    for (const JobCase& c : cases) {
        const IconJobInputs job = FormatSetToJob(c.set);
        EXPECT_EQ(job.sizes, c.sizes) << Narrow(FormatSetToText(c.set).Text());
        EXPECT_EQ(job.flags, c.flags) << Narrow(FormatSetToText(c.set).Text());
    }
}

TEST(IconFormatSetTest, SizesOutsideTheTableAreNeverChosen) {
    IconFormatSet set;
    EXPECT_FALSE(set.AnySize());
    set.SetSize(20, true);
    set.SetSize(0, true);
    EXPECT_FALSE(set.AnySize());
    EXPECT_FALSE(set.HasSize(20));
    set.SetSize(512, true);
    EXPECT_TRUE(set.AnySize());
    EXPECT_TRUE(set.sizes[IconFormatSet::kSizeCount - 1]);
    set.SetSize(512, false);
    EXPECT_FALSE(set.AnySize());
}

TEST(SettingsFileTest, PathIsTheSettingsFileInTheProgramFolder) {
    EXPECT_TRUE(SettingsFilePath(L"C:\\Tools\\Glyph").Equals(L"C:\\Tools\\Glyph\\Glyphwright.ini"));
    EXPECT_TRUE(SettingsFilePath(L"C:\\").Equals(L"C:\\Glyphwright.ini"));
}

TEST(SettingsFileTest, MissingFileGivesTheDefaultSetOnBothPages) {
    TempFolder folder;
    const WideString path = SettingsFilePath(folder.Path());
    const IconFormatSet defaults = MakeSet({16, 32, 48, 256}, false, true, FitMode::kCenter);
    ExpectSet(ReadFormatSet(path.Text(), kSingleIconFormatsKey), defaults, "single");
    ExpectSet(ReadFormatSet(path.Text(), kBatchIconFormatsKey), defaults, "batch");
    EXPECT_FALSE(testing_support::Exists(path.Text())) << "reading creates nothing";
}

TEST(SettingsFileTest, WritingCreatesAUtf16FileAndKeepsThePagesApart) {
    TempFolder folder;
    const WideString path = SettingsFilePath(folder.Path());
    const IconFormatSet single = MakeSet({16, 48, 256}, true, true, FitMode::kStretch);
    WriteFormatSet(path.Text(), kSingleIconFormatsKey, single);

    const std::vector<uint8_t> bytes = ReadBytes(path.Text());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    const std::wstring content(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    EXPECT_NE(content.find(L"[Settings]"), std::wstring::npos);
    EXPECT_NE(content.find(L"SingleIconFormats=|PNGS|16|48|256|PNGC|Stretch|"), std::wstring::npos);

    ExpectSet(ReadFormatSet(path.Text(), kSingleIconFormatsKey), single, "single after write");
    ExpectSet(ReadFormatSet(path.Text(), kBatchIconFormatsKey),
              MakeSet({16, 32, 48, 256}, false, true, FitMode::kCenter), "batch untouched");

    const IconFormatSet batch = MakeSet({24}, false, false, FitMode::kCrop);
    const IconFormatSet replaced = MakeSet({32}, false, true, FitMode::kCenter);
    WriteFormatSet(path.Text(), kBatchIconFormatsKey, batch);
    WriteFormatSet(path.Text(), kSingleIconFormatsKey, replaced);
    ExpectSet(ReadFormatSet(path.Text(), kBatchIconFormatsKey), batch, "batch after write");
    ExpectSet(ReadFormatSet(path.Text(), kSingleIconFormatsKey), replaced, "single rewritten");
    const std::vector<uint8_t> after = ReadBytes(path.Text());
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0], 0xFF) << "an existing file is not recreated";
    EXPECT_EQ(after[1], 0xFE);
}

TEST(SettingsFileTest, StoredTextsAreParsedByTheSameRules) {
    TempFolder folder;
    const WideString path = SettingsFilePath(folder.Path());
    const uint8_t mark[] = {0xFF, 0xFE};
    ASSERT_TRUE(testing_support::WriteBytes(path.Text(), mark, sizeof(mark)));
    const ParseCase stored[] = {
        {L"|pngs|128|crop|", MakeSet({128}, true, false, FitMode::kCrop)},
        {L"16|32", MakeSet({}, false, false, FitMode::kCenter)},
        {L"|Stretch|Center|", MakeSet({}, false, false, FitMode::kStretch)},
    };
    for (const ParseCase& c : stored) {
        ASSERT_TRUE(WritePrivateProfileStringW(L"Settings", kBatchIconFormatsKey, c.text, path.Text()));
        ExpectSet(ReadFormatSet(path.Text(), kBatchIconFormatsKey), c.expected, Narrow(c.text));
    }
}

TEST(SettingsFileTest, AFailingWriteIsSilent) {
    TempFolder folder;
    const WideString path = folder / L"no such folder\\Glyphwright.ini";
    WriteFormatSet(path.Text(), kSingleIconFormatsKey, MakeSet({16}, false, false, FitMode::kCrop));
    EXPECT_FALSE(testing_support::Exists(path.Text()));
    ExpectSet(ReadFormatSet(path.Text(), kSingleIconFormatsKey),
              MakeSet({16, 32, 48, 256}, false, true, FitMode::kCenter), "default after failed write");
}

}  // namespace
