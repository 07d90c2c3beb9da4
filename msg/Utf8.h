// Small UTF-8 helpers for message texts. A code point counts as one
// "character"; bytes that do not form valid UTF-8 are handled as documented
// per function and never read past the end of the input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The valid UTF-8 sequence at text[pos] (pos < text.size()): its code point
// and length in bytes; length 0 (code point 0) when none starts there
// (overlong forms, surrogates and values above U+10FFFF are not valid).
struct Utf8Char {
    char32_t codePoint = 0;
    std::size_t length = 0;
};
Utf8Char DecodeUtf8(std::string_view text, std::size_t pos);

// Number of code points (every byte that is not a continuation byte counts).
std::size_t Utf8Length(std::string_view text);

// Number of UTF-16 code units the text would need (4-byte sequences count 2).
std::size_t Utf16Length(std::string_view text);

// Cuts text after its first maxCodePoints code points; never splits a sequence.
void Utf8Truncate(std::string& text, std::size_t maxCodePoints);

// Appends the UTF-8 encoding of a code point; values above U+10FFFF and
// surrogates become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

// Copies text keeping valid UTF-8 sequences; every byte that starts no valid
// sequence becomes '?'. The result holds at most maxCodePoints code points.
std::string SanitizeUtf8(std::string_view text, std::size_t maxCodePoints);
