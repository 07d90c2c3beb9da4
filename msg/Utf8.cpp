#include "msg/Utf8.h"

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}

}  // namespace

Utf8Char DecodeUtf8(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80u) {
        return {lead, 1};
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    char32_t value = 0;
    if ((lead & 0xE0u) == 0xC0u) {
        length = 2, minimum = 0x80, value = lead & 0x1Fu;
    } else if ((lead & 0xF0u) == 0xE0u) {
        length = 3, minimum = 0x800, value = lead & 0x0Fu;
    } else if ((lead & 0xF8u) == 0xF0u) {
        length = 4, minimum = 0x10000, value = lead & 0x07u;
    } else {
        return {};
    }
    if (pos + length > text.size()) {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        if (!IsContinuation(byte)) {
            return {};
        }
        value = (value << 6) | (byte & 0x3Fu);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (value < minimum || value > 0x10FFFF || surrogate) {
        return {};
    }
    return {value, length};
}

std::size_t Utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        count += IsContinuation(static_cast<unsigned char>(c)) ? 0 : 1;
    }
    return count;
}

std::size_t Utf16Length(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        count += IsContinuation(byte) ? 0 : (byte >= 0xF0u ? 2 : 1);
    }
    return count;
}

void Utf8Truncate(std::string& text, std::size_t maxCodePoints) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsContinuation(static_cast<unsigned char>(text[i]))) {
            if (count == maxCodePoints) {
                text.resize(i);
                return;
            }
            ++count;
        }
    }
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string SanitizeUtf8(std::string_view text, std::size_t maxCodePoints) {
    std::string out;
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < text.size() && count < maxCodePoints) {
        const std::size_t length = DecodeUtf8(text, pos).length;
        if (length == 0) {
            out += '?';
            ++pos;
        } else {
            out.append(text.substr(pos, length));
            pos += length;
        }
        ++count;
    }
    return out;
}
