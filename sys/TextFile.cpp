#include "sys/TextFile.h"

#include <vector>

#include "sys/FileOperations.h"

namespace {

// The largest file read as text in one piece: its bytes plus two terminating zero bytes must fit an int.
constexpr int64_t kMaxTextBytes = 0x7FFFFFF0;

}  // namespace

HANDLE TextFile::Open(const wchar_t* path, unsigned flags) {
    Close();
    flags_ = flags;
    WideString target(path);
    if ((flags & kCreateFolders) && target.Find(L"\\") > 0) {
        WideString parent(target);
        parent.ToParent(false);
        if (parent.Length() > 2 && !CreateFolderTree(parent.Text())) return nullptr;
    }
    const bool writable = (flags & (kAppend | kCreate)) != 0;
    DWORD access = writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    DWORD share = (flags & kExclusive) ? 0 : FILE_SHARE_READ;
    DWORD disposition = (flags & kCreate) ? CREATE_ALWAYS : (flags & kAppend) ? OPEN_ALWAYS : OPEN_EXISTING;
    handle_.Reset(CreateFileW(target.Text(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle_) return nullptr;

    if (flags & kRaw) {
        if ((flags & kAppend) && Seek(0, FILE_END) < 0) Close();
        return IsOpen() ? handle_.Get() : nullptr;
    }
    int64_t size = Size64();
    if (size < 0) {
        Close();
        return nullptr;
    }
    if (size > 0 && !(flags & kCreate)) {
        if (!DetectMark()) Close();
    } else if (size == 0 && writable) {
        if (!WriteMark()) Close();
    }
    return IsOpen() ? handle_.Get() : nullptr;
}

bool TextFile::DetectMark() {
    unsigned char mark[3] = {};
    DWORD read = 0;
    if (!ReadFile(handle_.Get(), mark, sizeof(mark), &read, nullptr)) return false;
    unsigned found = 0;
    DWORD markBytes = 0;
    if (read >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
        found = kUtf16;
        markBytes = 2;
    } else if (read >= 2 && mark[0] == 0xFE && mark[1] == 0xFF) {
        found = kUtf16BigEndian;
        markBytes = 2;
    } else if (read == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
        found = kUtf8Bom;
        markBytes = 3;
    }
    // The mark decides alone: an encoding the caller asked for besides it would win when reading.
    if (found) flags_ = (flags_ & ~static_cast<unsigned>(kEncodingMask)) | found;
    if (flags_ & kAppend) return Seek(0, FILE_END) >= 0;
    return Seek(markBytes);
}

bool TextFile::WriteMark() {
    static const unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
    static const unsigned char kUtf16Mark[] = {0xFF, 0xFE};
    static const unsigned char kUtf16BigEndianMark[] = {0xFE, 0xFF};
    const unsigned char* mark = nullptr;
    DWORD count = 0;
    if (flags_ & kUtf8Bom) {
        mark = kUtf8Mark;
        count = sizeof(kUtf8Mark);
    } else if (flags_ & kUtf16) {
        mark = kUtf16Mark;
        count = sizeof(kUtf16Mark);
    } else if (flags_ & kUtf16BigEndian) {
        mark = kUtf16BigEndianMark;
        count = sizeof(kUtf16BigEndianMark);
    }
    return count == 0 || WriteBytes(mark, count) == count;
}

int TextFile::ReadAllText(WideString& text) {
    text.Clear();
    int64_t size = Size64();
    if (size < 0 || size > kMaxTextBytes) return 0;
    // Two zero units after the bytes, so that an odd byte count still ends in a whole zero unit.
    std::vector<char> buffer(static_cast<size_t>(size) + 4, 0);
    DWORD read = 0;
    if (!ReadFile(handle_.Get(), buffer.data(), static_cast<DWORD>(size), &read, nullptr) || read == 0) return 0;
    if (flags_ & kUtf16) {
        text.Assign(reinterpret_cast<const wchar_t*>(buffer.data()));
    } else if (flags_ & kUtf16BigEndian) {
        text.FromSwappedUtf16(reinterpret_cast<const wchar_t*>(buffer.data()), static_cast<int>(read / 2));
    } else if (flags_ & (kUtf8Bom | kUtf8)) {
        text.FromUtf8(buffer.data(), static_cast<int>(read));
    } else {
        text.FromCodePage(buffer.data(), static_cast<int>(read), CP_ACP);
    }
    return text.Length();
}

DWORD TextFile::WriteBytes(const void* data, DWORD count) {
    DWORD written = 0;
    if (!IsOpen() || !WriteFile(handle_.Get(), data, count, &written, nullptr)) return 0;
    return written;
}

bool TextFile::Seek(DWORD offsetFromStart) {
    if (!IsOpen()) return false;
    SetLastError(NO_ERROR);
    // A position of 0xFFFFFFFF is also the failure value; only the error code tells them apart.
    // https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-setfilepointer
    LONG high = 0;
    DWORD position = SetFilePointer(handle_.Get(), static_cast<LONG>(offsetFromStart), &high, FILE_BEGIN);
    return position != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

int64_t TextFile::Seek(int64_t offset, DWORD method) {
    if (!IsOpen()) return -1;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position = {};
    if (!SetFilePointerEx(handle_.Get(), distance, &position, method)) return -1;
    return position.QuadPart;
}

DWORD TextFile::Size() const {
    int64_t size = Size64();
    return (size < 0 || size > 0xFFFFFFFE) ? INVALID_FILE_SIZE : static_cast<DWORD>(size);
}

int64_t TextFile::Size64() const {
    LARGE_INTEGER size = {};
    if (!IsOpen() || !GetFileSizeEx(handle_.Get(), &size)) return -1;
    return size.QuadPart;
}
