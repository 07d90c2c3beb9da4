#include "msg/TerminalText.h"

#include <cstdio>

#include "msg/Utf8.h"

namespace {

void AppendEscape(std::string& out, const char* prefix, unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%0*x", prefix, digits, value);
    out += text;
}

}  // namespace

std::string EscapeForTerminal(std::string_view text, LineBreaks lineBreaks) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const Utf8Char character = DecodeUtf8(text, i);
        if (character.length == 0) {
            AppendEscape(out, "\\x", static_cast<unsigned char>(text[i]), 2);
            ++i;
            continue;
        }
        const char32_t c = character.codePoint;
        if (c == '\n' && lineBreaks == LineBreaks::Keep) {
            out += '\n';
        } else if (c < 0x20 || c == 0x7F) {
            AppendEscape(out, "\\x", static_cast<unsigned>(c), 2);
        } else if (c >= 0x80 && c <= 0x9F) {
            AppendEscape(out, "\\u", static_cast<unsigned>(c), 4);
        } else {
            out.append(text.substr(i, character.length));
        }
        i += character.length;
    }
    return out;
}
