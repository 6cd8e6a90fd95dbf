#include "engine/IconGroups.h"

#include <gtest/gtest.h>

#include "ResourceFileSupport.h"
#include "TestSupport.h"

#include <functional>
#include <vector>

namespace {

const Bytes kSmall = BitmapImage(16, 4);  // 296 bytes: a 16-bit file pads it to 304
const Bytes kPng = PngImage(256, 256);
const Bytes kLarge = BitmapImage(32, 32);

// Gives each group entry its own width, height, colours, planes, bit count and the image's length, as a real
// group states them.
template <typename File>
void StateEntries(File& file, const std::vector<std::vector<const Bytes*>>& groups) {
    for (size_t g = 0; g < groups.size(); ++g) {
        for (size_t e = 0; e < groups[g].size(); ++e) {
            const size_t at = file.groupBlock[g] + 6 + 14 * e;
            file.bytes[at] = static_cast<uint8_t>(10 + e), file.bytes[at + 1] = static_cast<uint8_t>(20 + g);
            file.bytes[at + 2] = 16, file.bytes[at + 3] = 0;
            Put16(file.bytes, at + 4, 1), Put16(file.bytes, at + 6, static_cast<uint32_t>(4 + e));
            Put32(file.bytes, at + 8, static_cast<uint32_t>(groups[g][e]->size()));
        }
    }
}

// The .ico of the images, each directory entry stating what StateEntries gave group g's entry.
Bytes Expected(size_t g, const std::vector<const Bytes*>& images) {
    Bytes ico(6 + 16 * images.size(), 0);
    Put16(ico, 2, 1), Put16(ico, 4, static_cast<uint32_t>(images.size()));
    for (size_t e = 0; e < images.size(); ++e) {
        const size_t at = 6 + 16 * e;
        ico[at] = static_cast<uint8_t>(10 + e), ico[at + 1] = static_cast<uint8_t>(20 + g), ico[at + 2] = 16;
        Put16(ico, at + 4, 1), Put16(ico, at + 6, static_cast<uint32_t>(4 + e));
        Put32(ico, at + 8, static_cast<uint32_t>(images[e]->size())),
            Put32(ico, at + 12, static_cast<uint32_t>(ico.size()));
        ico.insert(ico.end(), images[e]->begin(), images[e]->end());
    }
    return ico;
}

TEST(OriginalIconBytesTest, WritesTheGroupsOwnEntriesAndRefusesHostileTables) {
    struct Case {
        const char* name;
        std::function<Bytes()> file;
        int32_t index;
        std::vector<const Bytes*> images;  // empty: refused
        size_t group = 0;
    };
    const auto pe = [](std::function<void(PeFile&)> change) {
        return [change] {
            PeFile file = BuildPe({{1, kSmall}, {2, kPng}, {7, kLarge}}, {{1, 2}, {7, 1}});
            StateEntries(file, {{&kSmall, &kPng}, {&kLarge, &kSmall}});
            change(file);
            return file.bytes;
        };
    };
    const auto ne = [](std::function<void(NeFile&)> change) {
        return [change] {
            NeFile file = BuildNe({{1, kSmall}, {2, kLarge}}, {{1, 2}});
            StateEntries(file, {{&kSmall, &kLarge}});
            change(file);
            return file.bytes;
        };
    };
    const auto none = [](auto&) {};
    const Case cases[] = {
        {"PE group by position", pe(none), 0, {&kSmall, &kPng}},
        {"PE group by identifier, PNG and bitmap byte for byte", pe(none), -2, {&kLarge, &kSmall}, 1},
        {"the group's byte count gives way to the image's",
         pe([](PeFile& f) { Put32(f.bytes, f.groupBlock[0] + 6 + 8, 5); }),
         0,
         {&kSmall, &kPng}},
        {"one icon named twice",
         pe([](PeFile& f) { Put16(f.bytes, f.groupBlock[1] + 6 + 12, 1); }),
         1,
         {&kSmall, &kSmall},
         1},
        {"NE blocks without their padding", ne(none), 0, {&kSmall, &kLarge}},
        {"NE stated length cutting an image short",
         ne([](NeFile& f) { Put32(f.bytes, f.groupBlock[0] + 6 + 8, 40); }),
         0,
         {}},
        {"an icon's data outside the file", pe([](PeFile& f) { f.bytes.resize(f.bytes.size() - 64); }), 1, {}},
        {"a group naming a missing icon", pe([](PeFile& f) { Put16(f.bytes, f.groupBlock[0] + 6 + 12, 9); }), 0, {}},
        {"a group count past its block", pe([](PeFile& f) { Put16(f.bytes, f.groupBlock[0] + 4, 0x7FFF); }), 0, {}},
        {"no such group", pe(none), 2, {}},
        {"a directory pointing at the root",
         pe([](PeFile& f) { Put32(f.bytes, f.groupNames + 16 + 4, 0x80000000u); }),
         0,
         {}},
        {"a large icon named by every entry a group can hold",
         [] {
             return BuildPe({{1, Bytes(kLarge)}}, {std::vector<uint16_t>(0xFFFF, 1)}).bytes;
         },
         0,
         {}},
    };
    for (const Case& c : cases) {
        const Bytes file = c.file();
        std::vector<uint8_t> ico(3, 0);
        const Result result = OriginalIconBytes(Span(file), c.index, ico);
        if (c.images.empty()) {
            EXPECT_EQ(result.Cause(), Failure::kNotAPicture) << c.name;
            EXPECT_TRUE(ico.empty()) << c.name;
        } else {
            ASSERT_TRUE(result.Ok()) << c.name;
            EXPECT_EQ(ico, Expected(c.group, c.images)) << c.name;
        }
    }
}

}  // namespace
