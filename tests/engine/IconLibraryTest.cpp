#include "engine/IconLibrary.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "IconImageSupport.h"
#include "PictureSupport.h"
#include "TestSupport.h"
#include "engine/IconSources.h"
#include "engine/ImageScaling.h"
#include "engine/Imaging.h"

using namespace testing_support;

namespace {

WideString SystemLibrary(const wchar_t* folder, const wchar_t* name) {
    WideString path;
    path.SetSpecialFolder(CSIDL_WINDOWS);
    path.StripTrailingBackslashes();
    return path.Append(L"\\", folder).Append(L"\\", name);
}

std::vector<uint32_t> IconPixels(HICON icon) {
    const WorkingImage image = ImageFromIconHandle(icon);
    return image ? ReadPixels(image, PixelFormat32bppARGB) : std::vector<uint32_t>();
}

// A copy of this test program with the given icon images (ids 1, 2, ...) and one group per image list, each group
// naming its images by id with the sizes given.
struct GroupEntry {
    WORD id;
    int size;
};
bool MakeLibrary(const wchar_t* path, const std::vector<std::vector<uint8_t>>& images,
                 const std::vector<std::vector<GroupEntry>>& groups) {
    std::vector<ProgramResource> resources;
    for (size_t i = 0; i < images.size(); ++i)
        resources.push_back({RT_ICON, static_cast<WORD>(i + 1), images[i]});
    for (size_t g = 0; g < groups.size(); ++g) {
        std::vector<uint8_t> group = {0, 0, 1, 0, static_cast<uint8_t>(groups[g].size()), 0};
        for (const GroupEntry& entry : groups[g]) {
            const uint32_t bytes = entry.id <= images.size() ? static_cast<uint32_t>(images[entry.id - 1].size()) : 40;
            const uint8_t side = static_cast<uint8_t>(entry.size >= 256 ? 0 : entry.size);
            const uint8_t row[14] = {side,
                                     side,
                                     0,
                                     0,
                                     1,
                                     0,
                                     32,
                                     0,
                                     static_cast<uint8_t>(bytes),
                                     static_cast<uint8_t>(bytes >> 8),
                                     static_cast<uint8_t>(bytes >> 16),
                                     0,
                                     static_cast<uint8_t>(entry.id),
                                     static_cast<uint8_t>(entry.id >> 8)};
            group.insert(group.end(), row, row + 14);
        }
        resources.push_back({RT_GROUP_ICON, static_cast<WORD>(g + 1), std::move(group)});
    }
    return CopyProgramWithResources(path, resources);
}

class IconLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(imaging_.Started()); }

    ImagingSession imaging_;
    TempFolder folder_;
};

// Every group of the system's shell library, in both bitnesses where there are two, built from its own entries gives
// the pixels the shell's extractor gives, at the standard sizes and at sizes no entry has.
TEST_F(IconLibraryTest, EveryGroupOfTheShellLibraryGivesTheShellExtractorsPixels) {
    const int sizes[] = {16, 20, 32, 48, 64, 256};
    int libraries = 0;
    for (const WideString& path :
         {SystemLibrary(L"system32", L"shell32.dll"), SystemLibrary(L"sysnative", L"shell32.dll")}) {
        if (GetFileAttributesW(path.Text()) == INVALID_FILE_ATTRIBUTES) continue;
        ++libraries;
        SCOPED_TRACE(Narrow(path.Text()));
        const IconLibrary library(path);
        ASSERT_TRUE(library.Loaded());
        EXPECT_EQ(static_cast<UINT>(library.GroupCount()), ExtractIconExW(path.Text(), -1, nullptr, nullptr, 0));
        ASSERT_GT(library.GroupCount(), 50);
        int differing = 0, direct = 0;
        std::string first;
        for (int32_t group = 0; group < library.GroupCount(); ++group) {
            for (int size : sizes) {
                const IconHandle icon(library.GroupIcon(group, size, size));
                const std::vector<uint32_t> built = IconPixels(icon.Get());
                const WorkingImage shell = ExtractResourceIcon(path, group, size, size, WideString());
                const std::vector<uint32_t> expected =
                    shell ? ReadPixels(shell, PixelFormat32bppARGB) : std::vector<uint32_t>();
                ASSERT_FALSE(expected.empty()) << group << " at " << size;
                if (built != expected && differing++ == 0)
                    first = "group " + std::to_string(group) + " at " + std::to_string(size);
                // Entries read straight from the file, where the group has one of the size, give the same pixels.
                const WorkingImage own = library.GroupImage(group, size);
                if (own) ++direct;
                if (own && ReadPixels(own, PixelFormat32bppARGB) != expected && differing++ == 0)
                    first = "read straight: group " + std::to_string(group) + " at " + std::to_string(size);
            }
        }
        EXPECT_EQ(differing, 0) << "first: " << first;
        EXPECT_GT(direct, library.GroupCount());
    }
    EXPECT_GE(libraries, 1);
}

TEST_F(IconLibraryTest, EachSizeComesFromTheGroupsBestEntryAndBrokenEntriesGiveNothing) {
    std::vector<uint8_t> truncated = IconImageBytes(IconDepth::kAlpha, 32);
    truncated.resize(truncated.size() / 2);
    const std::vector<std::vector<uint8_t>> images = {IconImageBytes(IconDepth::kAlpha, 16),
                                                      IconImageBytes(IconDepth::kAlpha, 32),
                                                      IconImageBytes(IconDepth::kAlpha, 48), truncated};
    const WideString path = folder_ / L"lib.dll";
    ASSERT_TRUE(MakeLibrary(path.Text(), images,
                            {{{1, 16}, {2, 32}, {3, 48}},  // a full group
                             {{9, 32}},                    // an entry that doesn't exist
                             {{4, 32}}}));                 // an entry shorter than its pixels
    const IconLibrary library(path);
    ASSERT_TRUE(library.Loaded());
    ASSERT_EQ(library.GroupCount(), 3);
    struct Case {
        int32_t group;
        int size;
        bool made;
    } cases[] = {{0, 16, true},  {0, 32, true},  {0, 48, true},  {0, 24, true},
                 {1, 32, false}, {2, 32, false}, {3, 32, false}, {-1, 32, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.group) + " at " + std::to_string(c.size));
        const IconHandle icon(library.GroupIcon(c.group, c.size, c.size));
        EXPECT_EQ(icon.Valid(), c.made);
        if (!icon || (c.size != 16 && c.size != 32 && c.size != 48)) continue;
        // An entry of the size itself keeps its own pixels.
        std::string wrong;
        EXPECT_EQ(WrongIconPixels(IconPixels(icon.Get()), IconDepth::kAlpha, c.size, wrong), 0) << wrong;
    }
}

// Bitmap entries of every depth read straight from the file show what the system's icon made of the same entry
// shows, transparent parts included; other entries are left to the system.
TEST_F(IconLibraryTest, EntriesReadStraightFromTheFileMatchTheSystemsIconInEveryDepth) {
    const IconDepth depths[] = {IconDepth::kOne,        IconDepth::kFour,  IconDepth::kEight,
                                IconDepth::kTwentyFour, IconDepth::kAlpha, IconDepth::kZeroAlpha};
    std::vector<std::vector<uint8_t>> images;
    std::vector<std::vector<GroupEntry>> groups;
    for (IconDepth depth : depths) {
        images.push_back(IconImageBytes(depth, 32));
        groups.push_back({{static_cast<WORD>(images.size()), 32}});
    }
    const WideString path = folder_ / L"depths.dll";
    ASSERT_TRUE(MakeLibrary(path.Text(), images, groups));
    const IconLibrary library(path);
    ASSERT_EQ(library.GroupCount(), static_cast<int32_t>(std::size(depths)));
    for (int32_t group = 0; group < library.GroupCount(); ++group) {
        const IconDepth depth = depths[group];
        SCOPED_TRACE(BitsOf(depth));
        const WorkingImage own = library.GroupImage(group, 32);
        EXPECT_EQ(static_cast<bool>(own), depth != IconDepth::kOne);
        EXPECT_FALSE(library.GroupImage(group, 16));  // no entry of that size: the system stretches it
        if (!own) continue;
        const std::vector<uint32_t> pixels = ReadPixels(own, PixelFormat32bppARGB);
        const IconHandle icon(library.GroupIcon(group, 32, 32));
        EXPECT_EQ(pixels, IconPixels(icon.Get()));
        std::string wrong;
        EXPECT_EQ(WrongIconPixels(pixels, depth, 32, wrong), 0) << wrong;
    }
}

TEST_F(IconLibraryTest, FilesTheLoaderCannotMapDoNotLoad) {
    const WideString text = folder_ / L"notes.dll";
    ASSERT_TRUE(WriteBytes(text.Text(), "MZ but nothing else", 19));
    for (const WideString& path : {text, folder_ / L"missing.dll"}) {
        const IconLibrary library(path);
        EXPECT_FALSE(library.Loaded());
        EXPECT_EQ(library.GroupCount(), 0);
        EXPECT_EQ(library.GroupIcon(0, 32, 32), nullptr);
    }
}

}  // namespace
