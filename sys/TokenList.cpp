#include "sys/TokenList.h"

#include <cstring>
#include <cwchar>
#include <utility>

namespace {
constexpr int kInitialCapacity = 10;
}

TokenList::TokenList() : items_(new wchar_t*[kInitialCapacity]), capacity_(kInitialCapacity) {}

TokenList::TokenList(TokenList&& other) noexcept
    : items_(std::move(other.items_)),
      count_(std::exchange(other.count_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      text_(std::move(other.text_)) {}

TokenList& TokenList::operator=(TokenList&& other) noexcept {
    if (this != &other) {
        items_ = std::move(other.items_);
        count_ = std::exchange(other.count_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        text_ = std::move(other.text_);
    }
    return *this;
}

void TokenList::Clear() {
    items_.reset();
    count_ = 0;
    capacity_ = 0;
    text_.Clear();
}

void TokenList::Add(wchar_t* token) {
    if (count_ == capacity_) {
        const int capacity = capacity_ * 2 > count_ + 1 ? capacity_ * 2 : count_ + 1;
        std::unique_ptr<wchar_t*[]> grown(new wchar_t*[capacity]);
        if (count_ > 0) std::memcpy(grown.get(), items_.get(), sizeof(wchar_t*) * static_cast<size_t>(count_));
        items_ = std::move(grown);
        capacity_ = capacity;
    }
    items_[count_++] = token;
}

void TokenList::Split(const wchar_t* text, const wchar_t* separators, bool wholeString) {
    // Either argument may point into the current copy, which Clear releases: copy both first.
    WideString copy(text ? text : L"");
    const WideString separatorCopy(separators);
    Clear();
    text_ = std::move(copy);

    wchar_t* begin = const_cast<wchar_t*>(text_.Text());
    const int length = text_.Length();
    const wchar_t* separator = separatorCopy.IsEmpty() ? nullptr : separatorCopy.Text();
    if (length == 0 || !separator) {
        Add(begin);
        return;
    }

    const int separatorLength = static_cast<int>(wcslen(separator));
    wchar_t* const end = begin + length;
    wchar_t* token = begin;
    for (wchar_t* p = begin; p < end;) {
        const bool atSeparator = wholeString ? (end - p >= separatorLength &&
                                                std::wmemcmp(p, separator, static_cast<size_t>(separatorLength)) == 0)
                                             : std::wcschr(separator, *p) != nullptr;
        if (!atSeparator) {
            ++p;
            continue;
        }
        *p = 0;
        Add(token);
        p += wholeString ? separatorLength : 1;
        token = p;
    }
    // A text that ends in a separator has no trailing empty token.
    if (token < end) Add(token);
}

const wchar_t* TokenList::Item(int index) const {
    if (count_ == 0 || index < 0) return nullptr;
    return items_[index < count_ ? index : count_ - 1];
}
