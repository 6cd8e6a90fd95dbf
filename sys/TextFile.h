#pragma once

#include <windows.h>

#include <cstdint>

#include "sys/Handles.h"
#include "sys/WideString.h"

// A file opened for reading or writing text, aware of byte-order marks.
class TextFile {
public:
    enum Flags : unsigned {
        kAppend = 0x1,         // read and write; an existing non-empty file is positioned at its end
        kCreate = 0x2,         // read and write; the file is created anew
        kExclusive = 0x4,      // no sharing; otherwise others may read meanwhile
        kCreateFolders = 0x8,  // create the missing folders of the path first
        kRaw = 0x10,           // no byte-order-mark detection or writing
        kUtf16 = 0x20,         // UTF-16 little-endian
        kUtf16BigEndian = 0x40,
        kUtf8Bom = 0x80,  // UTF-8 with a byte-order mark
        kUtf8 = 0x100,    // UTF-8 without a byte-order mark
        kEncodingMask = kUtf16 | kUtf16BigEndian | kUtf8Bom | kUtf8,
    };

    TextFile() = default;
    TextFile(const wchar_t* path, unsigned flags) { Open(path, flags); }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    TextFile(TextFile&&) = default;
    TextFile& operator=(TextFile&&) = default;

    // Neither kAppend nor kCreate opens for reading only, and the file must exist. Returns the handle, or null on
    // failure (the object is then closed). A mark found in an existing file replaces the asked encoding.
    HANDLE Open(const wchar_t* path, unsigned flags);
    // Reads from the current position to the end and converts by the encoding; the length read, 0 on failure.
    int ReadAllText(WideString& text);
    // Bytes written, 0 on failure.
    DWORD WriteBytes(const void* data, DWORD count);
    bool Seek(DWORD offsetFromStart);
    // The new position, -1 on failure. Method is FILE_BEGIN, FILE_CURRENT or FILE_END.
    int64_t Seek(int64_t offset, DWORD method);
    // -1 (as DWORD: INVALID_FILE_SIZE) on failure, or when the size does not fit in 32 bits.
    DWORD Size() const;
    int64_t Size64() const;
    void Close() { handle_.Reset(); }

    bool IsOpen() const { return handle_.Valid(); }
    HANDLE Handle() const { return handle_.Get(); }
    unsigned OpenFlags() const { return flags_; }

private:
    bool DetectMark();
    bool WriteMark();

    FileHandle handle_;
    unsigned flags_ = 0;
};
