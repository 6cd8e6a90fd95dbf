#include "sys/WideString.h"

#include <windows.h>
#include <shlobj.h>

#include <pcre2.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "sys/Handles.h"

namespace {

int64_t Measure(const wchar_t* text) {
    return text ? static_cast<int64_t>(wcslen(text)) : 0;
}

// Length of at most `limit` units of text, stopping at its terminator.
int64_t MeasureBounded(const wchar_t* text, int64_t limit) {
    int64_t n = 0;
    if (text)
        while (n < limit && text[n] != 0)
            ++n;
    return n;
}

bool IsWhiteSpace(wchar_t c) {
    return c == L'\t' || c == L'\n' || c == L'\r' || c == L' ';
}

bool UnitsEqual(wchar_t a, wchar_t b, bool caseSensitive) {
    return a == b || (!caseSensitive && WideString::FoldCase(a) == WideString::FoldCase(b));
}

bool MatchesAt(const wchar_t* text, const wchar_t* needle, int64_t needleLength, bool caseSensitive) {
    for (int64_t i = 0; i < needleLength; ++i)
        if (!UnitsEqual(text[i], needle[i], caseSensitive)) return false;
    return true;
}

const wchar_t kUpperDigits[] = L"0123456789ABCDEF";
const wchar_t kLowerDigits[] = L"0123456789abcdef";

WideString FromDigits(uint32_t magnitude, bool negative) {
    wchar_t digits[12];
    int i = 11;
    digits[i] = 0;
    do {
        digits[--i] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits[--i] = L'-';
    return WideString(digits + i);
}

}  // namespace

WideString::WideString(const wchar_t* text) {
    Assign(text);
}

WideString::WideString(wchar_t* buffer, bool copy) {
    if (copy)
        Assign(buffer);
    else
        buffer_ = buffer;
}

WideString::WideString(const WideString& other) {
    Assign(other.buffer_);
}

WideString::WideString(WideString&& other) noexcept : buffer_(other.buffer_), length_(other.length_), ok_(other.ok_) {
    other.buffer_ = nullptr;
    other.length_ = 0;
    other.ok_ = true;
}

WideString& WideString::operator=(const WideString& other) {
    if (this != &other) Assign(other.buffer_);
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept {
    if (this != &other) {
        FreeBuffer(buffer_);
        buffer_ = other.buffer_;
        length_ = other.length_;
        ok_ = other.ok_;
        other.buffer_ = nullptr;
        other.length_ = 0;
        other.ok_ = true;
    }
    return *this;
}

WideString& WideString::operator=(const wchar_t* text) {
    return Assign(text);
}

WideString::~WideString() {
    FreeBuffer(buffer_);
}

wchar_t* WideString::AllocateBuffer(int64_t units) {
    // A byte count beyond 32 bits cannot be requested by a 32-bit process; treat it as a failed allocation.
    if (units < 0 || units > 0x7FFFFFFF) return nullptr;
    const uint64_t bytes = static_cast<uint64_t>(units) * sizeof(wchar_t);
    if (bytes > 0xFFFFFFFFULL) return nullptr;
    return static_cast<wchar_t*>(std::malloc(bytes != 0 ? static_cast<size_t>(bytes) : sizeof(wchar_t)));
}

void WideString::FreeBuffer(wchar_t* buffer) {
    std::free(buffer);
}

// Joins head, the pieces and tail into one exact-size buffer; null when the allocation fails. The old texts are
// only read, so any of them may be the string's own buffer.
wchar_t* WideString::JoinPieces(const wchar_t* head, const Piece* pieces, int count, const wchar_t* tail,
                                int32_t& length) {
    if (count > kMaxPieces) count = kMaxPieces;
    const wchar_t* texts[kMaxPieces + 2];
    int64_t lengths[kMaxPieces + 2];
    int n = 0;
    texts[n++] = head;
    for (int i = 0; i < count; ++i)
        texts[n++] = pieces[i].text;
    texts[n++] = tail;
    int64_t total = 0;
    for (int i = 0; i < n; ++i)
        total += lengths[i] = Measure(texts[i]);
    wchar_t* fresh = AllocateBuffer(total + 1);
    if (!fresh) return nullptr;
    wchar_t* out = fresh;
    for (int i = 0; i < n; ++i) {
        if (lengths[i] > 0) std::memcpy(out, texts[i], static_cast<size_t>(lengths[i]) * sizeof(wchar_t));
        out += lengths[i];
    }
    *out = 0;
    length = static_cast<int32_t>(total);
    return fresh;
}

WideString& WideString::Install(wchar_t* fresh, int32_t length) {
    if (!fresh) {
        ok_ = false;
        return *this;
    }
    FreeBuffer(buffer_);
    buffer_ = fresh;
    length_ = length;
    ok_ = true;
    return *this;
}

WideString& WideString::SetPieces(const Piece* pieces, int count) {
    int32_t length = 0;
    wchar_t* fresh = JoinPieces(nullptr, pieces, count, nullptr, length);
    return Install(fresh, length);
}

WideString& WideString::AppendPieces(const Piece* pieces, int count) {
    int32_t length = 0;
    wchar_t* fresh = JoinPieces(buffer_, pieces, count, nullptr, length);
    return Install(fresh, length);
}

WideString& WideString::PrependPieces(const Piece* pieces, int count) {
    int32_t length = 0;
    wchar_t* fresh = JoinPieces(nullptr, pieces, count, buffer_, length);
    return Install(fresh, length);
}

WideString& WideString::Assign(const wchar_t* text) {
    if (text && text == buffer_) return *this;
    if (!text) {
        Clear();
        return *this;
    }
    const Piece piece(text);
    return SetPieces(&piece, 1);
}

void WideString::Adopt(wchar_t* buffer) {
    if (buffer && buffer == buffer_) return;
    FreeBuffer(buffer_);
    buffer_ = buffer;
    length_ = 0;
}

wchar_t* WideString::Detach() {
    Text();
    wchar_t* buffer = buffer_;
    buffer_ = nullptr;
    length_ = 0;
    return buffer;
}

void WideString::Clear() {
    FreeBuffer(buffer_);
    buffer_ = nullptr;
    length_ = 0;
    ok_ = true;
}

void WideString::MakeEmpty() {
    if (buffer_) buffer_[0] = 0;
    length_ = 0;
}

wchar_t* WideString::Reserve(int units, bool zeroFill, const wchar_t* source) {
    if (units < 0) units = 0;
    wchar_t* fresh = AllocateBuffer(static_cast<int64_t>(units) + 1);
    if (!fresh) {
        ok_ = false;
        return nullptr;
    }
    if (zeroFill) std::memset(fresh, 0, (static_cast<size_t>(units) + 1) * sizeof(wchar_t));
    const int64_t copied = MeasureBounded(source, units);
    if (copied > 0) std::memcpy(fresh, source, static_cast<size_t>(copied) * sizeof(wchar_t));
    fresh[copied] = 0;
    fresh[units] = 0;
    Install(fresh, 0);
    return buffer_;
}

const wchar_t* WideString::Text() const {
    ok_ = true;
    if (!buffer_) {
        buffer_ = AllocateBuffer(1);
        if (!buffer_) return L"";
        buffer_[0] = 0;
        length_ = 0;
    }
    return buffer_;
}

int WideString::Length() const {
    if (length_ == 0 && buffer_) length_ = static_cast<int32_t>(wcslen(buffer_));
    return length_;
}

wchar_t* WideString::UnitAt(int position) {
    static wchar_t fallback = 0;
    Text();
    if (!buffer_) {
        fallback = 0;
        return &fallback;
    }
    const int length = Length();
    int index = position <= 0 ? 0 : position - 1;
    if (index > length) index = length;
    return buffer_ + index;
}

bool WideString::CopyTo(wchar_t* destination) {
    if (!destination) {
        ok_ = false;
        return false;
    }
    const int n = Length() < kFixedBufferUnits - 1 ? Length() : kFixedBufferUnits - 1;
    if (n > 0) std::memcpy(destination, buffer_, static_cast<size_t>(n) * sizeof(wchar_t));
    destination[n] = 0;
    ok_ = true;
    return true;
}

WideString& WideString::AssignSubstring(const wchar_t* source, int start, int count) {
    if (!source) {
        ok_ = false;
        return *this;
    }
    const int64_t first = start < 1 ? 0 : static_cast<int64_t>(start) - 1;
    // Only as far as the source goes: a start past its terminator gives the empty text.
    const int64_t available = MeasureBounded(source, first + (count > 0 ? count : INT64_C(0x7FFFFFFF)));
    int64_t n = available > first ? available - first : 0;
    if (count > 0 && n > count) n = count;
    wchar_t* fresh = AllocateBuffer(n + 1);
    if (!fresh) {
        ok_ = false;
        return *this;
    }
    if (n > 0) std::memcpy(fresh, source + first, static_cast<size_t>(n) * sizeof(wchar_t));
    fresh[n] = 0;
    return Install(fresh, static_cast<int32_t>(n));
}

WideString& WideString::Mid(int start, int count) {
    return AssignSubstring(buffer_ ? buffer_ : L"", start, count);
}

bool WideString::TruncateTo(int units) {
    if (units < 0 || units > Length()) {
        ok_ = false;
        return false;
    }
    if (buffer_) buffer_[units] = 0;
    length_ = units;
    ok_ = true;
    return true;
}

WideString& WideString::DropRight(int units) {
    const int length = Length();
    if (units < 0) units = 0;
    if (units > length) units = length;
    if (buffer_) buffer_[length - units] = 0;
    length_ = length - units;
    return *this;
}

WideString& WideString::DropLeft(int units) {
    const int length = Length();
    if (units < 0) units = 0;
    if (units > length) units = length;
    if (buffer_ && units > 0)
        std::memmove(buffer_, buffer_ + units, (static_cast<size_t>(length - units) + 1) * sizeof(wchar_t));
    length_ = length - units;
    return *this;
}

bool WideString::StripTrailingBackslashes() {
    int length = Length();
    if (length == 0) {
        ok_ = false;
        return false;
    }
    while (length > 0 && buffer_[length - 1] == L'\\')
        --length;
    buffer_[length] = 0;
    length_ = length;
    ok_ = true;
    return true;
}

int WideString::Find(const wchar_t* needle, bool caseSensitive, int occurrence, int start, int window) const {
    const int64_t length = Length();
    const int64_t needleLength = Measure(needle);
    ok_ = false;
    if (needleLength == 0 || length == 0 || needleLength > length) return 0;
    const int64_t first = start <= 0 ? 0 : static_cast<int64_t>(start) - 1;
    int64_t last = length - needleLength;
    if (first > last) return 0;
    if (window > 0 && length - first >= window) {
        if (window < needleLength) return 0;
        if (first + window - needleLength < last) last = first + window - needleLength;
    }
    if (occurrence == 0) occurrence = 1;
    if (occurrence > 0) {
        for (int64_t i = first; i <= last; ++i)
            if (MatchesAt(buffer_ + i, needle, needleLength, caseSensitive) && --occurrence == 0) {
                ok_ = true;
                return static_cast<int>(i + 1);
            }
    } else {
        for (int64_t i = last; i >= first; --i)
            if (MatchesAt(buffer_ + i, needle, needleLength, caseSensitive) && ++occurrence == 0) {
                ok_ = true;
                return static_cast<int>(i + 1);
            }
    }
    return 0;
}

bool WideString::StartsWith(const wchar_t* prefix, bool caseSensitive) const {
    const int64_t n = Measure(prefix);
    return n == 0 || Find(prefix, caseSensitive, 1, 1, static_cast<int>(n)) == 1;
}

bool WideString::EndsWith(const wchar_t* suffix, bool caseSensitive) const {
    const int64_t n = Measure(suffix);
    if (n == 0) return true;
    if (n > Length()) return false;
    return MatchesAt(buffer_ + Length() - n, suffix, n, caseSensitive);
}

WideString& WideString::Replace(const wchar_t* needle, const wchar_t* replacement, int occurrence, bool caseSensitive) {
    const int64_t length = Length();
    ok_ = false;
    const int64_t needleLength = Measure(needle);
    if (length == 0 || needleLength == 0) return *this;

    // Needle and replacement may be this string's own text. The needle is only read while matching, before any
    // write; a replacement from the own buffer is a suffix of the text, so when it fits in place it lies at or
    // after every position written before it is read (it may overlap its own destination, hence memmove).
    const int64_t replacementLength = Measure(replacement);

    std::vector<int64_t> matches;
    if (occurrence != 0) {
        const int position = Find(needle, caseSensitive, occurrence, 1, 0);
        if (position > 0) matches.push_back(position - 1);
    } else {
        for (int64_t i = 0; i + needleLength <= length;) {
            if (MatchesAt(buffer_ + i, needle, needleLength, caseSensitive)) {
                matches.push_back(i);
                i += needleLength;
            } else {
                ++i;
            }
        }
    }
    if (matches.empty()) {
        ok_ = false;
        return *this;
    }

    const int64_t newLength = length + static_cast<int64_t>(matches.size()) * (replacementLength - needleLength);
    // A text that does not grow is rewritten in place: the write position never passes the read position.
    wchar_t* target = buffer_;
    if (newLength > length) {
        target = AllocateBuffer(newLength + 1);
        // Find above reported the match as found; the replacement itself failed.
        if (!target) {
            ok_ = false;
            return *this;
        }
    }
    int64_t read = 0, write = 0;
    for (const int64_t match : matches) {
        std::memmove(target + write, buffer_ + read, static_cast<size_t>(match - read) * sizeof(wchar_t));
        write += match - read;
        if (replacementLength > 0)
            std::memmove(target + write, replacement, static_cast<size_t>(replacementLength) * sizeof(wchar_t));
        write += replacementLength;
        read = match + needleLength;
    }
    std::memmove(target + write, buffer_ + read, static_cast<size_t>(length - read) * sizeof(wchar_t));
    target[newLength] = 0;
    if (target != buffer_) {
        FreeBuffer(buffer_);
        buffer_ = target;
    }
    length_ = static_cast<int32_t>(newLength);
    ok_ = true;
    return *this;
}

bool WideString::EqualsIgnoreCase(const wchar_t* other) const {
    return Compare(other, false) == 0;
}

int WideString::Compare(const wchar_t* other, bool caseSensitive) const {
    // An unset string reads as the empty text, as Text() would hand it out.
    const wchar_t* own = buffer_ ? buffer_ : L"";
    if (own == other) return 0;
    if (!other) return 1;
    for (;; ++own, ++other) {
        const wchar_t a = caseSensitive ? *own : FoldCase(*own);
        const wchar_t b = caseSensitive ? *other : FoldCase(*other);
        if (a != b) return static_cast<uint16_t>(a) < static_cast<uint16_t>(b) ? -1 : 1;
        if (a == 0) return 0;
    }
}

bool WideString::Matches(const pcre2_real_code_16* pattern) const {
    if (!pattern) return false;
    const Pcre2MatchDataHandle data(pcre2_match_data_create_from_pattern_16(pattern, nullptr));
    if (!data) return false;
    const wchar_t* text = buffer_ ? buffer_ : L"";
    const int rc = pcre2_match_16(pattern, reinterpret_cast<PCRE2_SPTR16>(text), static_cast<PCRE2_SIZE>(Length()), 0,
                                  0, data.Get(), nullptr);
    return rc >= 0;
}

bool WideString::Trim(int flags) {
    const int length = Length();
    if (length == 0) {
        ok_ = false;
        return false;
    }
    int write = 0;
    if (flags & kTrimAll) {
        for (int read = 0; read < length; ++read)
            if (!IsWhiteSpace(buffer_[read])) buffer_[write++] = buffer_[read];
    } else {
        int read = 0;
        if (flags & kTrimLeading)
            while (read < length && IsWhiteSpace(buffer_[read]))
                ++read;
        for (; read < length; ++read) {
            // Collapsing keeps the last unit of each run of white space.
            if ((flags & kTrimCollapse) && IsWhiteSpace(buffer_[read]) && read + 1 < length &&
                IsWhiteSpace(buffer_[read + 1]))
                continue;
            buffer_[write++] = buffer_[read];
        }
        if (flags & kTrimTrailing)
            while (write > 0 && IsWhiteSpace(buffer_[write - 1]))
                --write;
    }
    buffer_[write] = 0;
    length_ = write;
    ok_ = true;
    return true;
}

WideString& WideString::ToLongPathForm() {
    if (Length() >= 2 && !(buffer_[0] == L'\\' && buffer_[1] == L'\\') && buffer_[1] == L':') Prepend(L"\\\\?\\");
    return *this;
}

WideString WideString::Extension(bool withDot) const {
    const int length = Length();
    int dot = -1, slash = -1;
    for (int i = 0; i < length; ++i) {
        if (buffer_[i] == L'.') dot = i;
        if (buffer_[i] == L'\\') slash = i;
    }
    WideString result;
    if (dot < 0 || dot < slash || dot == length - 1) {
        result.ok_ = ok_ = false;
        return result;
    }
    result.Assign(buffer_ + dot + (withDot ? 0 : 1));
    result.ok_ = ok_ = true;
    return result;
}

WideString WideString::FileName() const {
    const int length = Length();
    for (int i = length - 1; i >= 0; --i)
        if (buffer_[i] == L'\\') return WideString(buffer_ + i + 1);
    if (length > 1 && buffer_[length - 1] == L':') return WideString(L"");
    return WideString(buffer_);
}

WideString WideString::FileTitle() const {
    WideString title = FileName();
    const int length = title.Length();
    for (int i = length - 1; i >= 0; --i)
        if (title.buffer_[i] == L'.') {
            title.TruncateTo(i);
            break;
        }
    return title;
}

WideString& WideString::ToParent(bool keepSeparator) {
    // An empty path has no parent; appending a separator would turn it into the root of the current drive.
    if (Length() == 0) return *this;
    int length = Length();
    while (length > 0 && buffer_[length - 1] == L'\\')
        --length;
    int slash = length - 1;
    while (slash >= 0 && buffer_[slash] != L'\\')
        --slash;
    if (slash >= 2) {
        length = keepSeparator ? slash + 1 : slash;
        buffer_[length] = 0;
        length_ = length;
        return *this;
    }
    buffer_[length] = 0;
    length_ = length;
    if (keepSeparator) Append(L"\\");
    return *this;
}

WideString& WideString::ExpandEnvironment() {
    if (!buffer_) return *this;
    std::vector<wchar_t> expanded(4096);
    const DWORD n = ExpandEnvironmentStringsW(buffer_, expanded.data(), static_cast<DWORD>(expanded.size()));
    if (n == 0 || n > expanded.size()) {
        ok_ = false;
        return *this;
    }
    Assign(expanded.data());
    return *this;
}

bool WideString::SetSpecialFolder(int csidl) {
    wchar_t path[MAX_PATH + 1] = {};
    // S_FALSE means the folder does not exist; the path is then not usable.
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) {
        ok_ = false;
        return false;
    }
    Assign(path);
    return ok_;
}

bool WideString::FromCodePage(const char* bytes, int count, unsigned codePage) {
    if (!bytes) {
        ok_ = false;
        return false;
    }
    if (count <= 0) count = static_cast<int>(strlen(bytes));
    wchar_t* fresh = AllocateBuffer(static_cast<int64_t>(count) + 1);
    if (!fresh) {
        ok_ = false;
        return false;
    }
    const int n = count > 0 ? MultiByteToWideChar(codePage, 0, bytes, count, fresh, count) : 0;
    fresh[n] = 0;
    // A zero byte converts to a zero unit that ends the text early, so the length is measured, not taken from n.
    Install(fresh, 0);
    ok_ = n > 0;
    return ok_;
}

bool WideString::FromSwappedUtf16(const wchar_t* units, int count) {
    if (!units) {
        ok_ = false;
        return false;
    }
    const int64_t n = MeasureBounded(units, count > 0 ? count : INT64_C(0x7FFFFFFF));
    wchar_t* fresh = AllocateBuffer(n + 1);
    if (!fresh) {
        ok_ = false;
        return false;
    }
    for (int64_t i = 0; i < n; ++i) {
        const uint16_t u = static_cast<uint16_t>(units[i]);
        fresh[i] = static_cast<wchar_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
    }
    fresh[n] = 0;
    Install(fresh, static_cast<int32_t>(n));
    ok_ = n > 0;
    return ok_;
}

WideString WideString::FromInt(int32_t value) {
    const uint32_t magnitude = value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    return FromDigits(magnitude, value < 0);
}

WideString WideString::FromUInt(uint32_t value) {
    return FromDigits(value, false);
}

int32_t WideString::ToInt() const {
    ok_ = !IsEmpty();
    return ok_ ? static_cast<int32_t>(wcstol(buffer_, nullptr, 10)) : 0;
}

int64_t WideString::ToInt64() const {
    ok_ = !IsEmpty();
    return ok_ ? static_cast<int64_t>(wcstoll(buffer_, nullptr, 10)) : 0;
}

double WideString::ToDouble() const {
    ok_ = !IsEmpty();
    return ok_ ? wcstod(buffer_, nullptr) : 0.0;
}

bool WideString::IsNumeric() const {
    if (IsEmpty()) return false;
    const wchar_t* p = buffer_;
    if (*p == L'+' || *p == L'-') ++p;
    return *p >= L'0' && *p <= L'9';
}

WideString WideString::HexFromBytes(const void* bytes, int count, int flags) {
    WideString result;
    if (!bytes || count < 0) {
        result.ok_ = false;
        return result;
    }
    const wchar_t* digits = (flags & kHexLower) ? kLowerDigits : kUpperDigits;
    const int64_t prefix = (flags & kHexPrefix) ? 2 : 0;
    const int64_t units = prefix + 2 * static_cast<int64_t>(count);
    // Two digits per byte can outgrow an int; such a text is refused rather than cut to a wrapped size.
    if (units >= INT32_MAX) {
        result.ok_ = false;
        return result;
    }
    wchar_t* out = result.Reserve(static_cast<int>(units));
    if (!out) return result;
    if (prefix) {
        *out++ = L'0';
        *out++ = L'x';
    }
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    for (int i = 0; i < count; ++i) {
        const uint8_t b = in[(flags & kHexReverse) ? count - 1 - i : i];
        *out++ = digits[b >> 4];
        *out++ = digits[b & 15];
    }
    *out = 0;
    return result;
}

int WideString::HexToBytes(const wchar_t* text, void* destination, int destinationSize, bool reverse) {
    if (destination && destinationSize > 0) std::memset(destination, 0, static_cast<size_t>(destinationSize));
    const int64_t length = Measure(text);
    if (length < 2 || !destination) return 0;
    const bool prefixed = text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const int64_t count = length / 2 - (prefixed ? 1 : 0);
    if (count <= 0 || count > destinationSize) return 0;
    auto nibble = [](wchar_t c) -> uint8_t {
        if (c >= L'0' && c <= L'9') return static_cast<uint8_t>(c - L'0');
        if (c >= L'A' && c <= L'F') return static_cast<uint8_t>(c - L'A' + 10);
        if (c >= L'a' && c <= L'f') return static_cast<uint8_t>(c - L'a' + 10);
        return 0;
    };
    uint8_t* out = static_cast<uint8_t*>(destination);
    const wchar_t* digits = text + (prefixed ? 2 : 0);
    for (int64_t k = 0; k < count; ++k) {
        // Reading from the end turns a most-significant-first text back into little-endian bytes.
        const wchar_t* pair = reverse ? text + length - 2 * (k + 1) : digits + 2 * k;
        out[k] = static_cast<uint8_t>((nibble(pair[0]) << 4) | nibble(pair[1]));
    }
    return static_cast<int>(count);
}
