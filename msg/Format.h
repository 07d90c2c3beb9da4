// Message formatting and string loading.
//
// Formats are printf-like with three sequences only: "%s" and "%d" each take
// the next argument, "%%" writes one '%'. Arguments are typed, never read as
// C varargs: a string argument prints as its text, an integer in decimal,
// whichever of %s and %d it meets (so a number given to %s prints in decimal
// and a string given to %d prints as text). A placeholder without an
// argument left prints nothing; surplus arguments are ignored. Any other '%'
// sequence, and a '%' at the end, is written as it stands.
//
// The result holds at most the format's length plus 1023 code points; a
// longer result is cut on a code-point boundary.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

// One typed argument of a format. Holds a view of a string argument, so it
// lives only for the call it is made for.
class FormatArg {
  public:
    FormatArg(const std::string& text) : m_text(text) {}
    FormatArg(std::string_view text) : m_text(text) {}
    FormatArg(const char* text) : m_text(text != nullptr ? text : "") {}
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, char8_t> &&
             !std::same_as<T, char16_t> && !std::same_as<T, char32_t> && !std::same_as<T, wchar_t>)
        FormatArg(T value)
        : m_isNumber(true), m_isUnsigned(std::is_unsigned_v<T>) {
        if constexpr (std::is_unsigned_v<T>) {
            m_unsigned = value;
        } else {
            m_signed = value;
        }
    }

    void AppendTo(std::string& out) const;

  private:
    std::string_view m_text;
    bool m_isNumber = false;
    bool m_isUnsigned = false;
    long long m_signed = 0;
    unsigned long long m_unsigned = 0;
};

// Formats into out (replacing its content) by the rules above.
void FormatArgs(std::string& out, std::string_view format, std::initializer_list<FormatArg> args);

template <class... Args>
void FormatText(std::string& out, std::string_view format, const Args&... args) {
    FormatArgs(out, format, {FormatArg(args)...});
}

// Loads string id of the interface language into out. On failure out is
// emptied and false returned, or, when throwOnError is set, my::CException
// is thrown: 58597 (code 0x80070716, the id has no text) or 58598 (the text
// is too long for the loader, see ResStringFitsLoadBuffer).
bool LoadResString(std::string& out, std::uint32_t id, bool throwOnError);

// The text of id; throws as LoadResString with throwOnError.
std::string ResString(std::uint32_t id);

// Formats the text of string id (throws as ResString when it is missing).
template <class... Args>
void Format(std::string& out, std::uint32_t id, const Args&... args) {
    const std::string format = ResString(id);
    FormatArgs(out, format, {FormatArg(args)...});
}

template <class... Args>
std::string Formatted(std::uint32_t id, const Args&... args) {
    std::string out;
    Format(out, id, args...);
    return out;
}
