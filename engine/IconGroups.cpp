#include "engine/IconGroups.h"

#include <cstring>

namespace {

// Far beyond any real icon file, and small enough to build in memory even in a 32-bit process: a hostile group may
// name one large icon thousands of times.
constexpr uint64_t kMaxIconFileBytes = 256ull << 20;
constexpr size_t kGroupHeader = 6, kGroupEntry = 14, kIconEntry = 16;

void Put16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

Result OriginalIconBytes(ByteSpan file, int32_t index, std::vector<uint8_t>& ico) {
    ico.clear();
    const IconGroupTable table = IconGroupTable::Read(file);
    // A sound group's entries lie inside its block and name icons that exist and are sound.
    if (!table.GroupSound(index)) return Result::Failed(Failure::kNotAPicture);
    const ByteSpan group = table.GroupDirectory(index);
    const size_t count = group.U16(4);
    // A 16-bit file keeps each block in whole alignment units; the group states the icon's own length.
    const bool padded = DetectFileFormat(file) == FileFormat::kNewExecutable;

    std::vector<ByteSpan> images;
    uint64_t total = kGroupHeader + kIconEntry * count;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t entry = kGroupHeader + kGroupEntry * i;
        ByteSpan image = table.IconBlock(group.U16(entry + 12));
        const uint32_t stated = group.U32(entry + 8);
        if (padded && stated < image.size) {
            image.size = stated;
            if (!IconImageSound(image)) return Result::Failed(Failure::kNotAPicture);
        }
        total += image.size;
        if (total > kMaxIconFileBytes) return Result::Failed(Failure::kNotAPicture);
        images.push_back(image);
    }

    ico.assign(kGroupHeader + kIconEntry * count, 0);
    Put16(ico, 2, 1);
    Put16(ico, 4, static_cast<uint32_t>(count));
    uint32_t offset = static_cast<uint32_t>(ico.size());
    for (size_t i = 0; i < count; ++i) {
        const size_t at = kGroupHeader + kIconEntry * i;
        // Width, height, colours, reserved, planes and bit count are the group's; the group's byte count gives way
        // to the image's.
        std::memcpy(&ico[at], group.data + kGroupHeader + kGroupEntry * i, 8);
        Put32(ico, at + 8, static_cast<uint32_t>(images[i].size));
        Put32(ico, at + 12, offset);
        offset += static_cast<uint32_t>(images[i].size);
    }
    ico.reserve(static_cast<size_t>(total));
    for (const ByteSpan& image : images)
        ico.insert(ico.end(), image.data, image.data + image.size);
    return Result();
}

Result ReadOriginalIcon(const WideString& path, int32_t index, std::vector<uint8_t>& ico) {
    ico.clear();
    const MappedFile mapped(path.Text());
    if (!mapped.Mapped()) return Result::Failed(Failure::kNoSource);
    return OriginalIconBytes(mapped.Bytes(), index, ico);
}

int32_t CountOriginalIconGroups(const WideString& path) {
    const MappedFile mapped(path.Text());
    if (!mapped.Mapped()) return 0;
    return IconGroupTable::Read(mapped.Bytes()).GroupCount();
}
