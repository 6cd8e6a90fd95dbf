#include "engine/FileStructure.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>

#include "sys/FileOperations.h"
#include "sys/Handles.h"

namespace {

constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Largest icon side any writer produces is 1024; beyond a few thousand an entry is no icon but an attack on the
// decoder's size arithmetic.
constexpr uint32_t kMaxIconSide = 4096;
// A BMP's pixel rows are sized in 32 bits by decoders; a picture this large can't be held by a 32-bit process.
constexpr uint64_t kMaxBitmapBytes = 1ull << 30;
constexpr uint16_t kTypeIcon = 3;
constexpr uint16_t kTypeGroupIcon = 14;
constexpr uint16_t kNeTypeIcon = 0x8003;
constexpr uint16_t kNeTypeGroupIcon = 0x800E;
constexpr uint32_t kHighBit = 0x80000000u;

uint32_t BigEndian32(ByteSpan span, uint64_t offset) {
    if (!span.Has(offset, 4)) return 0;
    const uint8_t* p = span.data + offset;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool StartsWith(ByteSpan span, const void* prefix, size_t length) {
    return span.Has(0, length) && std::memcmp(span.data, prefix, length) == 0;
}

bool PlausibleBitCount(uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

uint64_t RowBytes(uint64_t width, uint32_t bits) {
    return (width * bits + 31) / 32 * 4;
}

bool PngEntrySound(ByteSpan image) {
    // Signature, then the IHDR chunk: length 13, type, width and height (big-endian).
    if (!image.Has(8, 25) || BigEndian32(image, 8) != 13 || std::memcmp(image.data + 12, "IHDR", 4) != 0) return false;
    const uint32_t width = BigEndian32(image, 16), height = BigEndian32(image, 20);
    return width >= 1 && width <= kMaxIconSide && height >= 1 && height <= kMaxIconSide;
}

// A group directory (GRPICONDIR): the icon identifiers it names, or false when it doesn't fit its block.
bool ReadGroupDirectory(ByteSpan group, std::vector<uint16_t>& iconIds) {
    if (!group.Has(0, 6) || group.U16(0) != 0 || group.U16(2) != 1) return false;
    const uint16_t count = group.U16(4);
    if (count == 0 || !group.Has(6, uint64_t{count} * 14)) return false;
    for (uint16_t i = 0; i < count; ++i)
        iconIds.push_back(group.U16(6 + uint64_t{i} * 14 + 12));
    return true;
}

// Icon blocks by identifier; an identifier with several blocks (languages) counts when all are sound, and its
// first block is the one read.
struct StoredIcon {
    bool sound = false;
    ByteSpan first;
};
using IconBlocks = std::map<uint16_t, StoredIcon>;

void AddIconBlock(IconBlocks& icons, uint16_t id, ByteSpan block) {
    const bool sound = IconImageSound(block);
    auto [it, inserted] = icons.emplace(id, StoredIcon{sound, block});
    if (!inserted) it->second.sound = it->second.sound && sound;
}

bool GroupBlockSound(ByteSpan group, const IconBlocks& icons) {
    std::vector<uint16_t> ids;
    if (!ReadGroupDirectory(group, ids)) return false;
    for (uint16_t id : ids) {
        const auto it = icons.find(id);
        if (it == icons.end() || !it->second.sound) return false;
    }
    return true;
}

struct Section {
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawOffset;
};

// Reads a PE file's resource tree the way the loader and the shell's extractor walk it (type, name, language).
class PeResourceReader {
public:
    explicit PeResourceReader(ByteSpan file) : file_(file) {}

    bool Read(std::vector<IconGroupTable::Group>& groups, IconBlocks& icons) {
        const uint32_t pe = file_.U32(0x3C);
        if (!file_.Has(pe, 24) || file_.U32(pe) != 0x00004550) return false;
        const uint16_t sectionCount = file_.U16(pe + 6);
        const uint16_t optionalSize = file_.U16(pe + 20);
        const uint64_t optional = uint64_t{pe} + 24;
        if (!file_.Has(optional, optionalSize) || optionalSize < 2) return false;
        // The data directories follow the fields of a 32-bit (0x10B) or a 64-bit (0x20B) image.
        const uint16_t magic = file_.U16(optional);
        const uint64_t directoryCountAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
        if (directoryCountAt == 0 || directoryCountAt + 4 > optionalSize) return false;
        const uint32_t directoryCount = file_.U32(optional + directoryCountAt);
        const uint64_t resourceEntry = directoryCountAt + 4 + 2 * 8;
        // No resource directory: a sound file without groups.
        if (directoryCount < 3 || resourceEntry + 8 > optionalSize) return true;
        const uint32_t rootRva = file_.U32(optional + resourceEntry);
        if (rootRva == 0) return true;

        const uint64_t table = optional + optionalSize;
        if (sectionCount > 96 || !file_.Has(table, uint64_t{sectionCount} * 40)) return false;
        for (uint16_t i = 0; i < sectionCount; ++i) {
            const uint64_t s = table + uint64_t{i} * 40;
            sections_.push_back({file_.U32(s + 12), file_.U32(s + 16), file_.U32(s + 20)});
        }
        uint64_t rootOffset = 0;
        const Section* home = Map(rootRva, 16, rootOffset);
        if (!home) return false;
        root_ = rootOffset;
        end_ = std::min<uint64_t>(uint64_t{home->rawOffset} + home->rawSize, file_.size);

        std::vector<Entry> types;
        if (!ReadDirectory(0, types)) return false;
        // Every directory of the tree lies inside the section; only the icon data is checked block by block, as
        // packers leave other resources' data outside the file.
        std::vector<std::pair<IconGroupTable::Group, std::vector<ByteSpan>>> found;
        for (const Entry& type : types) {
            if (!type.subdirectory) return false;
            std::vector<Entry> names;
            if (!ReadDirectory(type.offset, names)) return false;
            const bool isIcon = !type.named && type.id == kTypeIcon;
            const bool isGroup = !type.named && type.id == kTypeGroupIcon;
            for (const Entry& name : names) {
                std::vector<Entry> languages;
                if (!name.subdirectory || !ReadDirectory(name.offset, languages)) return false;
                std::vector<ByteSpan> blocks;
                for (const Entry& language : languages) {
                    if (language.subdirectory) return false;
                    ByteSpan block;
                    if (!ReadDataEntry(language.offset, isIcon || isGroup, block)) return false;
                    blocks.push_back(block);
                }
                if (isIcon && !name.named) {
                    if (blocks.empty()) AddIconBlock(icons, name.id, ByteSpan{});
                    for (ByteSpan block : blocks)
                        AddIconBlock(icons, name.id, block);
                }
                if (isGroup)
                    found.push_back(
                        {{name.named, name.id, !blocks.empty(), blocks.empty() ? ByteSpan{} : blocks[0]}, blocks});
            }
        }
        for (auto& [group, blocks] : found) {
            for (ByteSpan block : blocks)
                group.sound = group.sound && GroupBlockSound(block, icons);
            groups.push_back(group);
        }
        return true;
    }

private:
    struct Entry {
        bool named;
        uint16_t id;
        bool subdirectory;
        uint32_t offset;  // from the root directory
    };

    // The section holding rva..rva+length in its file data, and the file offset of rva.
    const Section* Map(uint32_t rva, uint32_t length, uint64_t& offset) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress || uint64_t{rva} + length > uint64_t{s.virtualAddress} + s.rawSize) continue;
            offset = uint64_t{s.rawOffset} + (rva - s.virtualAddress);
            if (file_.Has(offset, length)) return &s;
        }
        return nullptr;
    }

    bool Inside(uint64_t relative, uint64_t length) const {
        return root_ + relative <= end_ && length <= end_ - (root_ + relative);
    }

    bool ReadDirectory(uint32_t relative, std::vector<Entry>& entries) {
        // A directory reached twice is a loop (or a directory pointing at itself).
        if (!visited_.insert(relative).second || !Inside(relative, 16)) return false;
        const uint64_t at = root_ + relative;
        const uint32_t count = uint32_t{file_.U16(at + 12)} + file_.U16(at + 14);
        if (!Inside(uint64_t{relative} + 16, uint64_t{count} * 8)) return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t e = at + 16 + uint64_t{i} * 8;
            const uint32_t name = file_.U32(e), data = file_.U32(e + 4);
            Entry entry{(name & kHighBit) != 0, static_cast<uint16_t>(name), (data & kHighBit) != 0, data & ~kHighBit};
            if (entry.named) {
                const uint32_t string = name & ~kHighBit;
                if (!Inside(string, 2) || !Inside(uint64_t{string} + 2, uint64_t{file_.U16(root_ + string)} * 2))
                    return false;
            } else if (name > 0xFFFF) {
                return false;
            }
            entries.push_back(entry);
        }
        return true;
    }

    bool ReadDataEntry(uint32_t relative, bool needData, ByteSpan& block) {
        if (!visited_.insert(relative).second || !Inside(relative, 16)) return false;
        if (!needData) return true;
        const uint32_t rva = file_.U32(root_ + relative), size = file_.U32(root_ + relative + 4);
        // Data outside the file spoils only its own resource: the block stays empty and fails its check.
        uint64_t offset = 0;
        if (Map(rva, size, offset)) block = file_.Slice(offset, size);
        return true;
    }

    ByteSpan file_;
    std::vector<Section> sections_;
    uint64_t root_ = 0;
    uint64_t end_ = 0;
    std::set<uint32_t> visited_;
};

// Reads an NE file's resource table the way the shell's extractor walks it.
bool ReadNeGroups(ByteSpan file, std::vector<IconGroupTable::Group>& groups, IconBlocks& icons) {
    const uint32_t ne = file.U32(0x3C);
    if (!file.Has(ne, 64) || file.U16(ne) != 0x454E) return false;
    const uint16_t table = file.U16(ne + 0x24), names = file.U16(ne + 0x26);
    // The extractor takes a table no larger than one type record for no table at all; a names table before the
    // resource table doesn't stop it from reading the resource table.
    if (names >= table && names - table <= 8) return true;
    const uint64_t start = uint64_t{ne} + table;
    if (!file.Has(start, 2)) return false;
    const uint16_t shift = file.U16(start);
    if (shift > 16) return false;

    struct Resource {
        uint16_t id;
        ByteSpan block;
    };
    std::vector<Resource> groupBlocks, iconBlocks;
    bool haveGroups = false, haveIcons = false;
    uint64_t type = start + 2;
    while (!(haveGroups && haveIcons)) {
        if (!file.Has(type, 2)) return false;
        const uint16_t typeId = file.U16(type);
        if (typeId == 0) break;
        const uint16_t count = file.U16(type + 2);
        if (!file.Has(type + 8, uint64_t{count} * 12)) return false;
        std::vector<Resource> resources;
        for (uint16_t i = 0; i < count; ++i) {
            const uint64_t info = type + 8 + uint64_t{i} * 12;
            // A block outside the file spoils only its own resource: it stays empty and fails its check.
            const uint64_t offset = uint64_t{file.U16(info)} << shift, length = uint64_t{file.U16(info + 2)} << shift;
            const uint16_t id = file.U16(info + 6);
            if (!(id & 0x8000) && (!file.Has(start + id, 1) || !file.Has(start + id + 1, file.U8(start + id))))
                return false;
            resources.push_back({id, file.Slice(offset, length)});
        }
        if (typeId == kNeTypeGroupIcon) {
            groupBlocks = resources;
            haveGroups = true;
        }
        if (typeId == kNeTypeIcon) {
            iconBlocks = resources;
            haveIcons = true;
        }
        type += 8 + uint64_t{count} * 12;
    }
    if (!haveGroups || !haveIcons) return true;
    for (const Resource& icon : iconBlocks)
        AddIconBlock(icons, static_cast<uint16_t>(icon.id & 0x7FFF), icon.block);
    for (const Resource& group : groupBlocks) {
        const bool named = !(group.id & 0x8000);
        groups.push_back({named, static_cast<uint16_t>(named ? 0 : group.id & 0x7FFF),
                          GroupBlockSound(group.block, icons), group.block});
    }
    return true;
}

}  // namespace

MappedFile::MappedFile(const wchar_t* path) {
    file_.Reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file_ || !GetFileSizeEx(file_.Get(), &size)) return;
    opened_ = true;
    empty_ = size.QuadPart == 0;
    if (empty_) return;
    constexpr LONGLONG kWholeLimit = 1ll << 30, kHeadBytes = 1 << 16;
    const SIZE_T length = static_cast<SIZE_T>(size.QuadPart > kWholeLimit ? kHeadBytes : size.QuadPart);
    mapping_.Reset(CreateFileMappingW(file_.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping_) return;
    view_ = MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, length);
    if (view_) size_ = length;
}

MappedFile::~MappedFile() {
    if (view_) UnmapViewOfFile(view_);
}

uint16_t ByteSpan::U16(uint64_t offset) const {
    return Has(offset, 2) ? static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8)) : 0;
}

uint32_t ByteSpan::U32(uint64_t offset) const {
    if (!Has(offset, 4)) return 0;
    const uint8_t* p = data + offset;
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

FileFormat DetectFileFormat(ByteSpan file) {
    if (StartsWith(file, "MZ", 2)) {
        const uint32_t header = file.U32(0x3C);
        if (file.Has(header, 4) && file.U32(header) == 0x00004550) return FileFormat::kPortableExecutable;
        if (file.Has(header, 2) && file.U16(header) == 0x454E) return FileFormat::kNewExecutable;
        return FileFormat::kOtherExecutable;
    }
    // Cursors (type 2) are neither decoded as pictures nor read by the extractor.
    if (file.Has(0, 6) && file.U16(0) == 0 && file.U16(2) == 1) return FileFormat::kIcon;
    if (StartsWith(file, "GIF87a", 6) || StartsWith(file, "GIF89a", 6)) return FileFormat::kGif;
    if (StartsWith(file, "BM", 2)) return FileFormat::kBitmap;
    return FileFormat::kUnknown;
}

bool IconImageSound(ByteSpan image) {
    if (StartsWith(image, kPngSignature, sizeof(kPngSignature))) return PngEntrySound(image);
    const uint32_t headerSize = image.U32(0);
    uint64_t width = 0, height = 0;
    uint32_t planes = 0, bits = 0, compression = 0, colours = 0, paletteEntry = 4;
    if (headerSize == 12 && image.Has(0, 12)) {
        width = image.U16(4), height = image.U16(6), planes = image.U16(8), bits = image.U16(10), paletteEntry = 3;
    } else if (headerSize == 40 && image.Has(0, 40)) {
        const int32_t w = static_cast<int32_t>(image.U32(4)), h = static_cast<int32_t>(image.U32(8));
        // Negative sizes (top-down rows) don't occur in icons and overflow the loaders' arithmetic.
        if (w <= 0 || h <= 0) return false;
        width = static_cast<uint64_t>(w), height = static_cast<uint64_t>(h);
        planes = image.U16(12), bits = image.U16(14), compression = image.U32(16), colours = image.U32(32);
    } else {
        return false;
    }
    // The height counts the image and its mask.
    if (width < 1 || width > kMaxIconSide || height < 2 || height > 2 * kMaxIconSide) return false;
    if (planes != 1 || !PlausibleBitCount(bits)) return false;
    uint64_t masks = 0;
    if (compression == 3 && (bits == 16 || bits == 32))
        masks = 12;
    else if (compression != 0)
        return false;
    const uint64_t fullPalette = bits <= 8 ? (1u << bits) : 0;
    if (colours > (bits <= 8 ? fullPalette : 256)) return false;
    const uint64_t palette = (colours ? colours : fullPalette) * paletteEntry;
    const uint64_t rows = height / 2;
    const uint64_t needed = headerSize + masks + palette + RowBytes(width, bits) * rows + RowBytes(width, 1) * rows;
    return needed <= image.size;
}

bool IconDirectorySound(ByteSpan file) {
    if (!file.Has(0, 6) || file.U16(0) != 0 || file.U16(2) != 1) return false;
    const uint16_t count = file.U16(4);
    if (count == 0 || !file.Has(6, uint64_t{count} * 16)) return false;
    for (uint16_t i = 0; i < count; ++i) {
        const uint64_t entry = 6 + uint64_t{i} * 16;
        const uint32_t size = file.U32(entry + 8), offset = file.U32(entry + 12);
        if (!file.Has(offset, size) || !IconImageSound(file.Slice(offset, size))) return false;
    }
    return true;
}

bool GifColourTablesSound(ByteSpan file) {
    if (!file.Has(0, 13)) return false;
    const uint8_t screen = file.U8(10);
    const bool global = (screen & 0x80) != 0;
    uint64_t at = 13 + (global ? 3ull << ((screen & 7) + 1) : 0);
    const auto skipSubBlocks = [&] {
        while (file.Has(at, 1)) {
            const uint8_t length = file.U8(at++);
            if (length == 0) return;
            at += length;
        }
    };
    // A decoder stops at the trailer, at an unknown block or at the end of the data; so does this walk.
    while (file.Has(at, 1)) {
        const uint8_t block = file.U8(at);
        if (block == 0x21) {
            at += 2;
            skipSubBlocks();
        } else if (block == 0x2C) {
            if (!file.Has(at, 10)) break;
            const uint8_t flags = file.U8(at + 9);
            at += 10;
            if (flags & 0x80)
                at += 3ull << ((flags & 7) + 1);
            else if (!global)
                return false;
            at += 1;  // code size
            skipSubBlocks();
        } else {
            break;
        }
    }
    return true;
}

bool BitmapFileSound(ByteSpan file) {
    if (!file.Has(0, 18)) return false;
    const uint32_t headerSize = file.U32(14);
    uint64_t width = 0, height = 0;
    uint32_t bits = 0;
    if (headerSize == 12) {
        width = file.U16(18), height = file.U16(20), bits = file.U16(24);
    } else if (headerSize >= 40 && file.Has(14, headerSize)) {
        const int32_t w = static_cast<int32_t>(file.U32(18)), h = static_cast<int32_t>(file.U32(22));
        if (w <= 0 || h == 0 || h == INT32_MIN) return false;
        width = static_cast<uint64_t>(w), height = static_cast<uint64_t>(h < 0 ? -h : h);
        bits = file.U16(28);
        const uint32_t colours = file.U32(46);
        if (bits <= 8 && colours > (1u << bits)) return false;
        if (bits > 8 && colours > 256) return false;
    } else {
        return false;
    }
    if (width == 0 || height == 0 || !(PlausibleBitCount(bits) || bits == 2 || bits == 0)) return false;
    const uint64_t rowBits = bits == 0 ? 32 : bits;  // 0: a JPEG or PNG inside, sized by its own header
    return RowBytes(width, static_cast<uint32_t>(rowBits)) * height <= kMaxBitmapBytes;
}

const IconGroupTable::Group* IconGroupTable::Find(int32_t index) const {
    if (index >= 0) return index < GroupCount() ? &groups_[static_cast<size_t>(index)] : nullptr;
    for (const Group& group : groups_)
        if (!group.named && int32_t{group.id} == -int64_t{index}) return &group;
    return nullptr;
}

ByteSpan IconGroupTable::GroupDirectory(int32_t index) const {
    const Group* group = Find(index);
    return treeSound_ && group ? group->directory : ByteSpan{};
}

ByteSpan IconGroupTable::IconBlock(uint16_t id) const {
    const auto it = icons_.find(id);
    return it == icons_.end() ? ByteSpan{} : it->second;
}

bool IconGroupTable::GroupSound(int32_t index) const {
    const Group* group = Find(index);
    return treeSound_ && group && group->sound;
}

IconGroupTable IconGroupTable::Read(ByteSpan file) {
    IconGroupTable table;
    IconBlocks icons;
    switch (DetectFileFormat(file)) {
        case FileFormat::kPortableExecutable:
            table.treeSound_ = PeResourceReader(file).Read(table.groups_, icons);
            break;
        case FileFormat::kNewExecutable:
            table.treeSound_ = ReadNeGroups(file, table.groups_, icons);
            break;
        default:
            break;
    }
    if (!table.treeSound_) {
        table.groups_.clear();
        return table;
    }
    for (const auto& [id, icon] : icons)
        table.icons_.emplace(id, icon.first);
    return table;
}

bool PictureFileSound(const wchar_t* path) {
    const MappedFile mapped(path);
    if (mapped.NothingToCheck()) return true;
    if (!mapped.Mapped()) return false;
    const ByteSpan bytes = mapped.Bytes();
    switch (DetectFileFormat(bytes)) {
        case FileFormat::kIcon:
            return IconDirectorySound(bytes);
        case FileFormat::kGif:
            return GifColourTablesSound(bytes);
        case FileFormat::kBitmap:
            return BitmapFileSound(bytes);
        default:
            return true;
    }
}

namespace {

// The file the extractor would open for a path: the path itself, else a name found along the search path.
std::vector<wchar_t> ExtractorPath(const wchar_t* path) {
    std::vector<wchar_t> found(32768, 0);
    const DWORD length = SearchPathW(nullptr, path, nullptr, static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (FileExists(path, true) || length == 0 || length >= found.size())
        return std::vector<wchar_t>(path, path + wcslen(path) + 1);
    return found;
}

// The whole file's structure, and with an index also that group's (a missing group is simply not found).
bool ResourceStructureSound(const wchar_t* path, const int32_t* index) {
    const MappedFile mapped(ExtractorPath(path).data());
    if (mapped.NothingToCheck()) return true;
    if (!mapped.Mapped()) return false;
    const ByteSpan bytes = mapped.Bytes();
    switch (DetectFileFormat(bytes)) {
        case FileFormat::kIcon:
            // The extractor reads the whole directory whichever entry it is asked for.
            return IconDirectorySound(bytes);
        case FileFormat::kPortableExecutable: {
            const IconGroupTable table = IconGroupTable::Read(bytes);
            return table.TreeSound() && (!index || !table.HasGroup(*index) || table.GroupSound(*index));
        }
        case FileFormat::kNewExecutable: {
            // The extractor reads the directory of every group of a 16-bit file, whichever group it is asked for:
            // one directory outside the file refuses them all.
            const IconGroupTable table = IconGroupTable::Read(bytes);
            if (!table.TreeSound()) return false;
            for (int32_t i = 0; i < table.GroupCount(); ++i)
                if (table.GroupDirectory(i).size == 0) return false;
            return !index || !table.HasGroup(*index) || table.GroupSound(*index);
        }
        case FileFormat::kOtherExecutable:
            return false;
        default:
            return true;
    }
}

}  // namespace

bool ResourceFileSound(const wchar_t* path) {
    return ResourceStructureSound(path, nullptr);
}

bool IconGroupSound(const wchar_t* path, int32_t index) {
    return ResourceStructureSound(path, &index);
}

std::vector<bool> SoundIconGroups(const wchar_t* path) {
    std::vector<bool> sound;
    const MappedFile mapped(ExtractorPath(path).data());
    if (!mapped.Mapped()) return sound;
    const ByteSpan bytes = mapped.Bytes();
    const FileFormat format = DetectFileFormat(bytes);
    if (format != FileFormat::kPortableExecutable && format != FileFormat::kNewExecutable) return sound;
    const IconGroupTable table = IconGroupTable::Read(bytes);
    for (int32_t i = 0; i < table.GroupCount(); ++i)
        sound.push_back(table.TreeSound() && table.GroupSound(i));
    return sound;
}
