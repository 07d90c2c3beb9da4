#include "msg/Format.h"

#include <charconv>

#include "msg/Exception.h"
#include "msg/MessageIds.h"
#include "msg/Result.h"
#include "msg/StringTable.h"
#include "msg/SystemErrorText.h"
#include "msg/Utf8.h"

namespace {

constexpr std::size_t kFormatHeadroom = 1023;

}  // namespace

void FormatArg::AppendTo(std::string& out) const {
    if (!m_isNumber) {
        out.append(m_text);
        return;
    }
    char buffer[24];
    const auto result = m_isUnsigned ? std::to_chars(buffer, buffer + sizeof buffer, m_unsigned)
                                     : std::to_chars(buffer, buffer + sizeof buffer, m_signed);
    out.append(buffer, result.ptr);
}

void FormatArgs(std::string& out, std::string_view format, std::initializer_list<FormatArg> args) {
    out.clear();
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const char following = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c != '%' || (following != 's' && following != 'd' && following != '%')) {
            out += c;
            continue;
        }
        ++i;
        if (following == '%') {
            out += '%';
        } else if (next != args.end()) {
            next->AppendTo(out);
            ++next;
        }
    }
    Utf8Truncate(out, Utf8Length(format) + kFormatHeadroom);
}

bool LoadResString(std::string& out, std::uint32_t id, bool throwOnError) {
    out.clear();
    const char* text = FindString(id, UiLanguage());
    if (text != nullptr && ResStringFitsLoadBuffer(Utf16Length(text))) {
        out = text;
        return true;
    }
    if (!throwOnError) {
        return false;
    }
    const std::string idText = std::to_string(id);
    if (text == nullptr) {
        const auto code =
            static_cast<std::uint32_t>(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
        throw my::CException(kMsgStringMissing,
                             Formatted(kMsgStringMissing, SystemErrorText(code), idText), code);
    }
    throw my::CException(kMsgStringTooLong, Formatted(kMsgStringTooLong, idText));
}

std::string ResString(std::uint32_t id) {
    std::string out;
    LoadResString(out, id, true);
    return out;
}
