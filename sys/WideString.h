#pragma once

#include <cstdint>

// Forward declaration of PCRE2's 16-bit compiled pattern, so that callers of Matches need not include pcre2.h.
struct pcre2_real_code_16;

// The program's one string type: a heap buffer of UTF-16 units with a terminator, a cached length (0 means
// "unmeasured") and an ok flag holding the outcome of the last operation that reports one.
// The buffer has no spare capacity: growing operations allocate exactly (length + 1) units. A piece passed to
// any operation may be the string's own current text. Null pieces count as empty text.
class WideString {
public:
    // One piece of a concatenation: a plain text or another string (whose text is read, never changed).
    struct Piece {
        const wchar_t* text;
        Piece(const wchar_t* t) : text(t) {}
        Piece(const WideString& s) : text(s.buffer_) {}
    };
    static constexpr int kMaxPieces = 12;

    enum TrimFlags { kTrimLeading = 1, kTrimTrailing = 2, kTrimCollapse = 4, kTrimAll = 8 };
    enum HexFlags { kHexPrefix = 1, kHexReverse = 2, kHexLower = 4 };
    static constexpr int kFixedBufferUnits = 2048;

    WideString() = default;
    WideString(const wchar_t* text);
    // With copy false the string adopts the heap buffer (allocated with AllocateBuffer) without copying.
    WideString(wchar_t* buffer, bool copy);
    WideString(const WideString& other);
    WideString(WideString&& other) noexcept;
    WideString& operator=(const WideString& other);
    WideString& operator=(WideString&& other) noexcept;
    WideString& operator=(const wchar_t* text);
    ~WideString();

    // Heap buffers that strings adopt or hand out are allocated and released with these.
    static wchar_t* AllocateBuffer(int64_t units);
    static void FreeBuffer(wchar_t* buffer);

    template <typename... P>
    static WideString Concat(const P&... pieces) {
        static_assert(sizeof...(P) <= kMaxPieces, "at most twelve pieces");
        WideString s;
        const Piece list[] = {Piece(pieces)..., Piece(nullptr)};
        s.SetPieces(list, static_cast<int>(sizeof...(P)));
        return s;
    }
    template <typename... P>
    WideString& Append(const P&... pieces) {
        static_assert(sizeof...(P) <= kMaxPieces, "at most twelve pieces");
        const Piece list[] = {Piece(pieces)..., Piece(nullptr)};
        return AppendPieces(list, static_cast<int>(sizeof...(P)));
    }
    template <typename... P>
    WideString& Prepend(const P&... pieces) {
        static_assert(sizeof...(P) <= kMaxPieces, "at most twelve pieces");
        const Piece list[] = {Piece(pieces)..., Piece(nullptr)};
        return PrependPieces(list, static_cast<int>(sizeof...(P)));
    }
    template <typename... P>
    WideString& Set(const P&... pieces) {
        static_assert(sizeof...(P) <= kMaxPieces, "at most twelve pieces");
        const Piece list[] = {Piece(pieces)..., Piece(nullptr)};
        return SetPieces(list, static_cast<int>(sizeof...(P)));
    }
    WideString& AppendPieces(const Piece* pieces, int count);
    WideString& PrependPieces(const Piece* pieces, int count);
    WideString& SetPieces(const Piece* pieces, int count);

    WideString& Assign(const wchar_t* text);
    // Frees the current buffer and takes ownership of the given heap buffer; a null buffer makes the text empty.
    void Adopt(wchar_t* buffer);
    // Hands the buffer to the caller (release it with FreeBuffer) and leaves the string unset.
    wchar_t* Detach();
    void Clear();
    // Writes a terminator at unit 0, keeping the buffer.
    void MakeEmpty();
    // Replaces the buffer by one of units + 1, optionally zero-filled, copies at most `units` of source and marks
    // the length unmeasured, so that text a platform call writes into the buffer is measured afterwards.
    wchar_t* Reserve(int units, bool zeroFill = false, const wchar_t* source = nullptr);

    // Never null: an unset string gets a one-unit buffer holding the terminator. Sets ok.
    const wchar_t* Text() const;
    int Length() const;
    // Marks the length unmeasured after a platform call wrote into the buffer.
    void Remeasure() { length_ = 0; }
    // Pointer to the unit at a 1-based position; positions <= 0 mean 1, positions past the end give the terminator.
    wchar_t* UnitAt(int position);
    bool IsEmpty() const { return buffer_ == nullptr || buffer_[0] == 0; }
    // Copies at most 2047 units plus a terminator; ok = false for a null destination.
    bool CopyTo(wchar_t* destination);
    bool Ok() const { return ok_; }
    void SetOk(bool ok) const { ok_ = ok; }

    WideString& AssignSubstring(const wchar_t* source, int start, int count);
    WideString& Mid(int start, int count);
    bool TruncateTo(int units);
    WideString& DropRight(int units);
    WideString& DropLeft(int units);
    bool StripTrailingBackslashes();

    int Find(const wchar_t* needle, bool caseSensitive = false, int occurrence = 1, int start = 1,
             int window = 0) const;
    bool StartsWith(const wchar_t* prefix, bool caseSensitive = false) const;
    bool EndsWith(const wchar_t* suffix, bool caseSensitive = false) const;
    WideString& Replace(const wchar_t* needle, const wchar_t* replacement, int occurrence = 0,
                        bool caseSensitive = false);
    bool EqualsIgnoreCase(const wchar_t* other) const;
    bool Equals(const wchar_t* other) const { return Compare(other, true) == 0; }
    int Compare(const wchar_t* other, bool caseSensitive) const;
    bool Matches(const pcre2_real_code_16* pattern) const;

    bool Trim(int flags = kTrimLeading | kTrimTrailing);

    // Path pieces; the separator is '\' only.
    WideString& ToLongPathForm();
    WideString Extension(bool withDot) const;  // ok = false when there is none
    WideString FileName() const;
    WideString FileTitle() const;
    WideString& ToParent(bool keepSeparator);
    WideString& ExpandEnvironment();
    bool SetSpecialFolder(int csidl);

    bool FromCodePage(const char* bytes, int count, unsigned codePage);
    bool FromUtf8(const char* bytes, int count) { return FromCodePage(bytes, count, 65001); }
    // Reads big-endian UTF-16: swaps the bytes of each unit, stopping at the first zero unit.
    bool FromSwappedUtf16(const wchar_t* units, int count);
    static WideString FromInt(int32_t value);
    static WideString FromUInt(uint32_t value);
    int32_t ToInt() const;
    int64_t ToInt64() const;
    double ToDouble() const;
    bool IsNumeric() const;
    static WideString HexFromBytes(const void* bytes, int count, int flags);
    // Returns the number of bytes written into the zero-filled destination, 0 when it is too small.
    static int HexToBytes(const wchar_t* text, void* destination, int destinationSize, bool reverse);

    // Folds only A-Z, as the C locale's towlower does.
    static wchar_t FoldCase(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

private:
    static wchar_t* JoinPieces(const wchar_t* head, const Piece* pieces, int count, const wchar_t* tail,
                               int32_t& length);
    // Replaces the buffer by a finished one; a null buffer (failed allocation) leaves the text and clears ok.
    WideString& Install(wchar_t* fresh, int32_t length);

    // Mutable so that Text() can give an unset string its one-unit buffer.
    mutable wchar_t* buffer_ = nullptr;
    mutable int32_t length_ = 0;
    mutable bool ok_ = true;
};
