#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "sys/Handles.h"

// The system's picture decoders and icon loaders trust the counts, offsets and sizes inside the files they are
// given, and crash on hostile ones. These checks read a file's structure first, so that such a file is refused
// before it reaches them. None of them decodes pixels.

// Bytes of a file (or of a block inside one) with reads that are only made after a bounds check.
struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;

    bool Has(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }
    // The block at offset, empty when it is not wholly inside.
    ByteSpan Slice(uint64_t offset, uint64_t length) const {
        return Has(offset, length) ? ByteSpan{data + offset, static_cast<size_t>(length)} : ByteSpan{};
    }
    // Little-endian reads; 0 when the bytes are not inside.
    uint8_t U8(uint64_t offset) const { return Has(offset, 1) ? data[offset] : 0; }
    uint16_t U16(uint64_t offset) const;
    uint32_t U32(uint64_t offset) const;
};

enum class FileFormat { kUnknown, kIcon, kPortableExecutable, kNewExecutable, kOtherExecutable, kGif, kBitmap };

// The format as the system's decoders and icon loaders recognise it, from the first bytes.
FileFormat DetectFileFormat(ByteSpan file);

// One icon image (an .ico entry or an icon resource): a PNG stream with a plausible header, or a bitmap header of
// a plausible size, planes and bit count whose palette, colour bits and mask lie inside the block.
bool IconImageSound(ByteSpan image);
// An .ico file: entry count within the file, every entry's block inside the file and sound.
bool IconDirectorySound(ByteSpan file);
// A GIF: every frame has a colour table, its own or the global one.
bool GifColourTablesSound(ByteSpan file);
// A BMP: a header the decoder can size (no overflowing width, height or row length), the palette inside the file.
bool BitmapFileSound(ByteSpan file);

// The icon groups of a resource file (PE or NE) in the order the shell's extractor and the resource enumeration
// count them. A tree whose directories, entries or icon data leave the file, or that loops, is unsound and has no
// groups; a group is sound when its directory fits its block and every icon it names exists and is sound.
class IconGroupTable {
public:
    static IconGroupTable Read(ByteSpan file);

    bool TreeSound() const { return treeSound_; }
    int32_t GroupCount() const { return static_cast<int32_t>(groups_.size()); }
    // A position (0 or more) or a negated group identifier.
    bool HasGroup(int32_t index) const { return Find(index) != nullptr; }
    // False also for a group that doesn't exist.
    bool GroupSound(int32_t index) const;
    // The group's directory block (its first language's), and an icon's block by identifier: empty when missing or
    // when the tree is unsound. Both point into the bytes read.
    ByteSpan GroupDirectory(int32_t index) const;
    ByteSpan IconBlock(uint16_t id) const;

    struct Group {
        bool named = false;
        uint16_t id = 0;
        bool sound = false;
        ByteSpan directory;
    };

private:
    const Group* Find(int32_t index) const;

    bool treeSound_ = false;
    std::vector<Group> groups_;
    std::map<uint16_t, ByteSpan> icons_;
};

// A file's bytes, mapped read-only. A file too large for a 32-bit process's address space is mapped only as far as
// its format can be recognised; checks that need more of it then refuse it, as the system can't map it either.
class MappedFile {
public:
    explicit MappedFile(const wchar_t* path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Nothing to check: the file can't be opened or holds nothing, so the system's readers find nothing either.
    bool NothingToCheck() const { return !opened_ || empty_; }
    bool Mapped() const { return view_ != nullptr; }
    ByteSpan Bytes() const { return ByteSpan{static_cast<const uint8_t*>(view_), size_}; }

private:
    FileHandle file_;
    KernelHandle mapping_;
    const void* view_ = nullptr;
    size_t size_ = 0;
    bool opened_ = false;
    bool empty_ = false;
};

// Whether a file may be handed to the imaging library for decoding. Formats without a check pass.
bool PictureFileSound(const wchar_t* path);
// Whether a file's resource groups may be listed by the loader and the shell (ICO, PE or NE; other files pass).
bool ResourceFileSound(const wchar_t* path);
// Whether the shell or the loader may be asked for the icon group at the index (as for ExtractResourceIcon): the
// file's structure is sound and the group, if there is one, too (a missing group is simply not found). A name
// without a folder is looked up along the search path, as the extractor does. A file that can't be opened passes:
// the system can't read it either.
bool IconGroupSound(const wchar_t* path, int32_t index);
// The same check for every group of a PE or NE file at once, for callers that visit them all: one entry per group
// position, all false when the tree is unsound; empty when the file can't be read or is neither.
std::vector<bool> SoundIconGroups(const wchar_t* path);
