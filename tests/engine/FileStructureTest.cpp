#include "engine/FileStructure.h"

#include <gtest/gtest.h>

#include "ResourceFileSupport.h"
#include "TestSupport.h"

#include <functional>
#include <utility>
#include <vector>

namespace {

Bytes IconFile(const std::vector<Bytes>& images) {
    Bytes b(6 + 16 * images.size(), 0);
    Put16(b, 2, 1), Put16(b, 4, static_cast<uint32_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        Put32(b, 6 + 16 * i + 8, static_cast<uint32_t>(images[i].size()));
        Put32(b, 6 + 16 * i + 12, static_cast<uint32_t>(b.size()));
        b.insert(b.end(), images[i].begin(), images[i].end());
    }
    return b;
}

TEST(IconImageSoundTest, TakesPlausibleImagesAndRefusesSizesTheLoadersWouldOverflowOn) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        bool sound;
    };
    const Case cases[] = {
        {"32-bit image", [](Bytes&) {}, true},
        {"width 0", [](Bytes& b) { Put32(b, 4, 0); }, false},
        {"width 2^31", [](Bytes& b) { Put32(b, 4, 0x80000000u); }, false},
        {"width 2^31 - 1", [](Bytes& b) { Put32(b, 4, 0x7FFFFFFFu); }, false},
        {"height -2^31", [](Bytes& b) { Put32(b, 8, 0x80000000u); }, false},
        {"height 2^31 - 2", [](Bytes& b) { Put32(b, 8, 0x7FFFFFFEu); }, false},
        {"top-down rows", [](Bytes& b) { Put32(b, 8, static_cast<uint32_t>(-32)); }, false},
        {"no planes", [](Bytes& b) { Put16(b, 12, 0); }, false},
        {"bit count 3", [](Bytes& b) { Put16(b, 14, 3); }, false},
        {"bit count 64", [](Bytes& b) { Put16(b, 14, 64); }, false},
        {"compressed rows", [](Bytes& b) { Put32(b, 16, 1); }, false},
        {"header of another size", [](Bytes& b) { Put32(b, 0, 108); }, false},
        {"palette of 300 colours", [](Bytes& b) { Put32(b, 32, 300); }, false},
        {"mask cut off", [](Bytes& b) { b.resize(b.size() - 1); }, false},
        {"colour rows cut off", [](Bytes& b) { b.resize(40 + 16 * 16 * 4 - 4); }, false},
    };
    for (const Case& c : cases) {
        Bytes image = BitmapImage(16, 32);
        c.change(image);
        EXPECT_EQ(IconImageSound(Span(image)), c.sound) << c.name;
    }
    // Palette depths count their palette; a palette larger than the depth allows is refused.
    for (uint16_t bits : {1, 4, 8, 24}) {
        Bytes image = BitmapImage(32, bits);
        EXPECT_TRUE(IconImageSound(Span(image))) << bits;
        image.resize(image.size() - 1);
        EXPECT_FALSE(IconImageSound(Span(image))) << bits << " cut short";
    }
    Bytes fourBits = BitmapImage(16, 4);
    Put32(fourBits, 32, 17);
    EXPECT_FALSE(IconImageSound(Span(fourBits)));

    EXPECT_TRUE(IconImageSound(Span(PngImage(256, 256))));
    EXPECT_FALSE(IconImageSound(Span(PngImage(0x7FFFFFFF, 16))));
    EXPECT_FALSE(IconImageSound(Span(PngImage(16, 0))));
    Bytes signatureOnly = PngImage(16, 16);
    signatureOnly.resize(8);
    EXPECT_FALSE(IconImageSound(Span(signatureOnly)));
    EXPECT_FALSE(IconImageSound(ByteSpan{}));
}

TEST(IconDirectorySoundTest, EveryEntryMustLieInsideTheFile) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        bool sound;
    };
    const Case cases[] = {
        {"two entries", [](Bytes&) {}, true},
        {"no entries", [](Bytes& b) { Put16(b, 4, 0); }, false},
        {"count past the end", [](Bytes& b) { Put16(b, 4, 0x7FFF); }, false},
        {"offset past the end", [](Bytes& b) { Put32(b, 6 + 16 + 12, static_cast<uint32_t>(b.size())); }, false},
        {"size past the end", [](Bytes& b) { Put32(b, 6 + 8, 0x7FFFFFF0u); }, false},
        {"offset + size wrapping 32 bits", [](Bytes& b) { Put32(b, 6 + 12, 0xFFFFFFF0u), Put32(b, 6 + 8, 0x20); },
         false},
        {"an entry's bitmap header of width 2^31", [](Bytes& b) { Put32(b, 6 + 32 + 4, 0x80000000u); }, false},
        {"cursor type", [](Bytes& b) { Put16(b, 2, 2); }, false},
        {"file cut inside the last entry", [](Bytes& b) { b.resize(b.size() - 10); }, false},
    };
    for (const Case& c : cases) {
        Bytes file = IconFile({BitmapImage(16, 8), PngImage(256, 256)});
        c.change(file);
        EXPECT_EQ(IconDirectorySound(Span(file)), c.sound) << c.name;
    }
}

TEST(IconGroupTableTest, RefusesBrokenTreesWholeAndBrokenGroupsOneByOne) {
    struct Case {
        const char* name;
        std::function<void(PeFile&)> change;
        bool treeSound;
        std::vector<bool> groups;  // soundness of each group, by position
    };
    const Case cases[] = {
        {"sound", [](PeFile&) {}, true, {true, true}},
        {"a group names a missing icon",
         [](PeFile& pe) { Put16(pe.bytes, pe.groupBlock[0] + 6 + 12, 9); },
         true,
         {false, true}},
        {"group count larger than the group",
         [](PeFile& pe) { Put16(pe.bytes, pe.groupBlock[0] + 4, 0x7FFF); },
         true,
         {false, true}},
        {"group of no entries", [](PeFile& pe) { Put16(pe.bytes, pe.groupBlock[1] + 4, 0); }, true, {true, false}},
        {"group data outside every section",
         [](PeFile& pe) { Put32(pe.bytes, pe.groupData[1], 0x7FFF0000u); },
         true,
         {true, false}},
        {"group data longer than the section",
         [](PeFile& pe) { Put32(pe.bytes, pe.groupData[0] + 4, 0x10000); },
         true,
         {false, true}},
        {"a directory pointing into itself",
         [](PeFile& pe) { Put32(pe.bytes, pe.groupNames + 16 + 4, 0x80000000u | (pe.groupNames - pe.root)); },
         false,
         {}},
        {"an entry pointing at the root",
         [](PeFile& pe) { Put32(pe.bytes, pe.groupNames + 16 + 4, 0x80000000u); },
         false,
         {}},
        {"an entry outside the section",
         [](PeFile& pe) { Put32(pe.bytes, pe.root + 16 + 4, 0x80000000u | 0x7FFFFF00u); },
         false,
         {}},
        {"a directory count past the section",
         [](PeFile& pe) { Put16(pe.bytes, pe.groupNames + 14, 0x7FFF); },
         false,
         {}},
        {"a name string outside the section",
         [](PeFile& pe) { Put32(pe.bytes, pe.groupNames + 16, 0x80000000u | 0x00FFFFF0u); },
         false,
         {}},
        {"a language level holding a directory",
         [](PeFile& pe) {
             const uint32_t language = pe.bytes[pe.groupNames + 20] | (pe.bytes[pe.groupNames + 21] << 8);
             Put32(pe.bytes, pe.root + language + 20, 0x80000000u | (pe.groupNames - pe.root));
         },
         false,
         {}},
        {"file cut inside the directories", [](PeFile& pe) { pe.bytes.resize(pe.root + 40); }, false, {}},
        {"file cut inside the data", [](PeFile& pe) { pe.bytes.resize(pe.bytes.size() - 64); }, true, {false, false}},
        {"header offset past the end", [](PeFile& pe) { Put32(pe.bytes, 0x3C, 0x7FFFFFF0u); }, false, {}},
        {"no resource directory", [](PeFile& pe) { Put32(pe.bytes, 0x58 + 96 + 16, 0); }, true, {}},
    };
    for (const Case& c : cases) {
        PeFile pe =
            BuildPe({{1, BitmapImage(16, 32)}, {2, PngImage(256, 256)}, {7, BitmapImage(32, 4)}}, {{1, 2}, {7}});
        c.change(pe);
        const IconGroupTable table = IconGroupTable::Read(Span(pe.bytes));
        EXPECT_EQ(table.TreeSound(), c.treeSound) << c.name;
        ASSERT_EQ(table.GroupCount(), static_cast<int32_t>(c.groups.size())) << c.name;
        for (size_t g = 0; g < c.groups.size(); ++g) {
            EXPECT_EQ(table.GroupSound(static_cast<int32_t>(g)), c.groups[g]) << c.name << " group " << g;
            EXPECT_EQ(table.GroupSound(-static_cast<int32_t>(g + 1)), c.groups[g]) << c.name << " id " << g + 1;
        }
        EXPECT_FALSE(table.GroupSound(static_cast<int32_t>(c.groups.size()))) << c.name;
    }
}

// A 16-bit file is read whole by the shell's extractor, whichever group it is asked for: one group outside the file
// refuses them all (Wine's extractor read past the end of such a file and took the program down).
TEST(IconGroupSoundTest, AskingForAMissingGroupIsHarmlessButABrokenTreeRefusesEveryIndex) {
    testing_support::TempFolder folder;
    PeFile pe = BuildPe({{1, BitmapImage(16, 32)}, {2, BitmapImage(32, 8)}}, {{1}, {2}});
    Put16(pe.bytes, pe.groupBlock[0] + 4, 0x7FFF);
    const WideString brokenGroup = folder / L"group.dll";
    ASSERT_TRUE(testing_support::WriteBytes(brokenGroup.Text(), pe.bytes));
    Put32(pe.bytes, pe.groupNames + 16 + 4, 0x80000000u | static_cast<uint32_t>(pe.groupNames - pe.root));
    const WideString brokenTree = folder / L"tree.dll";
    ASSERT_TRUE(testing_support::WriteBytes(brokenTree.Text(), pe.bytes));
    const WideString brokenIcon = folder / L"icon.ico";
    ASSERT_TRUE(testing_support::WriteBytes(brokenIcon.Text(), IconFile({BitmapImage(16, 8), PngImage(0, 16)})));
    NeFile ne = BuildNe({{1, BitmapImage(16, 4)}, {2, BitmapImage(32, 8)}}, {{1}, {1, 2}});
    const WideString soundNe = folder / L"sound.icl";
    ASSERT_TRUE(testing_support::WriteBytes(soundNe.Text(), ne.bytes));
    Put16(ne.bytes, ne.groupType + 8 + 12, 0x8000);  // the second group's block, far past the end
    const WideString brokenNe = folder / L"group.icl";
    ASSERT_TRUE(testing_support::WriteBytes(brokenNe.Text(), ne.bytes));

    struct Case {
        const WideString& path;
        int32_t index;
        bool sound;
    };
    const WideString missing = folder / L"missing.dll";
    const Case cases[] = {
        {brokenGroup, 0, false}, {brokenGroup, -1, false}, {brokenGroup, 1, true}, {brokenGroup, 7, true},
        {brokenTree, 1, false},  {brokenTree, 7, false},   {brokenIcon, 0, false}, {brokenIcon, 3, false},
        {missing, 0, true},      {soundNe, 0, true},       {soundNe, 1, true},     {brokenNe, 0, false},
        {brokenNe, 1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IconGroupSound(c.path.Text(), c.index), c.sound)
            << testing_support::Narrow(c.path.Text()) << " " << c.index;
    EXPECT_TRUE(ResourceFileSound(brokenGroup.Text()));
    EXPECT_FALSE(ResourceFileSound(brokenTree.Text()));
    EXPECT_FALSE(ResourceFileSound(brokenIcon.Text()));
    EXPECT_FALSE(ResourceFileSound(brokenNe.Text()));
    EXPECT_FALSE(PictureFileSound(brokenIcon.Text()));
    EXPECT_TRUE(PictureFileSound(missing.Text()));
    // A name without a folder is found where the extractor finds it.
    EXPECT_TRUE(IconGroupSound(L"notepad.exe", 0));
}

TEST(IconGroupTableTest, AnInsaneIconSpoilsEveryGroupThatNamesIt) {
    Bytes huge = BitmapImage(32, 4);
    Put32(huge, 4, 0x80000000u);
    PeFile pe = BuildPe({{1, BitmapImage(16, 32)}, {7, huge}}, {{1}, {1, 7}, {7}});
    const IconGroupTable table = IconGroupTable::Read(Span(pe.bytes));
    EXPECT_TRUE(table.TreeSound());
    EXPECT_TRUE(table.GroupSound(0));
    EXPECT_FALSE(table.GroupSound(1));
    EXPECT_FALSE(table.GroupSound(2));
}

TEST(IconGroupTableTest, ReadsNewExecutableTablesAsTheExtractorWalksThem) {
    struct Case {
        const char* name;
        std::function<void(NeFile&)> change;
        bool treeSound;
        std::vector<bool> groups;
    };
    const Case cases[] = {
        {"sound", [](NeFile&) {}, true, {true, true}},
        {"group count larger than the group",
         [](NeFile& ne) { Put16(ne.bytes, ne.groupBlock[1] + 4, 0x7FFF); },
         true,
         {true, false}},
        {"a group names a missing icon",
         [](NeFile& ne) { Put16(ne.bytes, ne.groupBlock[0] + 6 + 12, 9); },
         true,
         {false, true}},
        {"the second icon's block past the end",
         [](NeFile& ne) { Put16(ne.bytes, ne.table + 2 + 8 + 12, 0xFFF0); },
         true,
         {true, false}},
        {"type record counting past the end", [](NeFile& ne) { Put16(ne.bytes, ne.groupType + 2, 0x7FFF); }, false, {}},
        {"alignment shift of 20", [](NeFile& ne) { Put16(ne.bytes, ne.table, 20); }, false, {}},
        {"named group whose name is outside",
         [](NeFile& ne) { Put16(ne.bytes, ne.groupType + 8 + 6, 0x7000); },
         false,
         {}},
        {"table no larger than one record", [](NeFile& ne) { Put16(ne.bytes, 0x40 + 0x26, 0x40 + 8); }, true, {}},
        {"resource table past the end, names table before it",
         [](NeFile& ne) { Put16(ne.bytes, 0x40 + 0x24, 0xFFFF); },
         false,
         {}},
    };
    for (const Case& c : cases) {
        NeFile ne = BuildNe({{1, BitmapImage(16, 4)}, {2, BitmapImage(32, 8)}}, {{1}, {1, 2}});
        c.change(ne);
        const IconGroupTable table = IconGroupTable::Read(Span(ne.bytes));
        EXPECT_EQ(table.TreeSound(), c.treeSound) << c.name;
        ASSERT_EQ(table.GroupCount(), static_cast<int32_t>(c.groups.size())) << c.name;
        for (size_t g = 0; g < c.groups.size(); ++g)
            EXPECT_EQ(table.GroupSound(static_cast<int32_t>(g)), c.groups[g]) << c.name << " group " << g;
    }
}

Bytes Gif(bool global, std::vector<bool> localTables) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, static_cast<uint8_t>(global ? 0x80 : 0), 0, 0};
    if (global) b.insert(b.end(), 6, 0x7F);
    b.insert(b.end(), {0x21, 0xF9, 4, 0, 0, 0, 0, 0});  // a graphic control extension before the frames
    for (bool local : localTables) {
        b.insert(b.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, static_cast<uint8_t>(local ? 0x80 : 0)});
        if (local) b.insert(b.end(), 6, 0x3F);
        b.insert(b.end(), {2, 2, 0x44, 0x01, 0});
    }
    b.push_back(0x3B);
    return b;
}

TEST(GifColourTablesSoundTest, EveryFrameNeedsATable) {
    EXPECT_TRUE(GifColourTablesSound(Span(Gif(true, {false, false}))));
    EXPECT_TRUE(GifColourTablesSound(Span(Gif(false, {true, true}))));
    EXPECT_FALSE(GifColourTablesSound(Span(Gif(false, {false}))));
    EXPECT_FALSE(GifColourTablesSound(Span(Gif(false, {true, false}))));
    Bytes cut = Gif(false, {true, false});
    cut.resize(cut.size() - 6);  // inside the second frame's data: its descriptor has been read
    EXPECT_FALSE(GifColourTablesSound(Span(cut)));
}

Bytes Bmp(int32_t width, int32_t height, uint16_t bits) {
    Bytes b(54 + 64, 0);
    b[0] = 'B', b[1] = 'M';
    Put32(b, 10, 54), Put32(b, 14, 40), Put32(b, 18, static_cast<uint32_t>(width));
    Put32(b, 22, static_cast<uint32_t>(height)), Put16(b, 26, 1), Put16(b, 28, bits);
    return b;
}

TEST(BitmapFileSoundTest, RefusesSizesWhoseRowsOverflow) {
    EXPECT_TRUE(BitmapFileSound(Span(Bmp(4, 4, 24))));
    EXPECT_TRUE(BitmapFileSound(Span(Bmp(4, -4, 32))));
    EXPECT_FALSE(BitmapFileSound(Span(Bmp(0x7FFFFFFF, 1, 32))));
    EXPECT_FALSE(BitmapFileSound(Span(Bmp(4, INT32_MIN, 24))));
    EXPECT_FALSE(BitmapFileSound(Span(Bmp(-4, 4, 24))));
    EXPECT_FALSE(BitmapFileSound(Span(Bmp(100000, 100000, 32))));
    EXPECT_FALSE(BitmapFileSound(Span(Bmp(4, 4, 7))));
}

TEST(DetectFileFormatTest, RecognisesWhatTheSystemsReadersRecognise) {
    PeFile pe = BuildPe({{1, BitmapImage(16, 32)}}, {{1}});
    Bytes ne(128, 0);
    ne[0] = 'M', ne[1] = 'Z', ne[0x3C] = 0x40, ne[0x40] = 'N', ne[0x41] = 'E';
    Bytes dos(128, 0);
    dos[0] = 'M', dos[1] = 'Z';
    const std::pair<Bytes, FileFormat> cases[] = {
        {pe.bytes, FileFormat::kPortableExecutable},
        {ne, FileFormat::kNewExecutable},
        {dos, FileFormat::kOtherExecutable},
        {IconFile({BitmapImage(16, 8)}), FileFormat::kIcon},
        {Gif(true, {false}), FileFormat::kGif},
        {Bmp(1, 1, 24), FileFormat::kBitmap},
        {PngImage(1, 1), FileFormat::kUnknown},
        {{0, 0, 2, 0, 1, 0}, FileFormat::kUnknown},  // a cursor, or the start of a TGA picture
    };
    for (const auto& [bytes, format] : cases)
        EXPECT_EQ(DetectFileFormat(Span(bytes)), format);
}

}  // namespace
