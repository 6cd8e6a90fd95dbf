#pragma once

#include <memory>

#include "sys/WideString.h"

// Splits a text into tokens. The list keeps a private copy of the text with every separator's first unit
// overwritten by a terminator; the tokens point into that copy and stay valid until the next Split or Clear.
class TokenList {
public:
    TokenList();
    TokenList(const TokenList&) = delete;
    TokenList& operator=(const TokenList&) = delete;
    TokenList(TokenList&& other) noexcept;
    TokenList& operator=(TokenList&& other) noexcept;
    ~TokenList() = default;

    // With wholeString the separator is one text ("\r\n", "||"); otherwise each of its units separates.
    // A separator at the very end yields no trailing empty token; empty text or separator gives one token.
    void Split(const wchar_t* text, const wchar_t* separators, bool wholeString);
    // 0-based; an index past the end gives the last token, an empty list or a negative index null.
    const wchar_t* Item(int index) const;
    int Count() const { return count_; }
    void Clear();

private:
    void Add(wchar_t* token);

    std::unique_ptr<wchar_t*[]> items_;
    int count_ = 0;
    int capacity_ = 0;
    WideString text_;
};
