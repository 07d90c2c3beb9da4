#include "msg/VersionInfo.h"

#include <charconv>
#include <cstdio>
#include <sstream>

#include "msg/Exception.h"
#include "msg/MessageIds.h"
#include "msg/SystemErrorText.h"

namespace {

constexpr std::string_view kTranslationKey = "\\VarFileInfo\\Translation";
constexpr std::uint32_t kErrorNoVersionResource = 1814;  // resource name not found
constexpr std::uint32_t kErrorInvalidData = 13;

template <class... Args>
[[noreturn]] void Throw(std::uint32_t id, const Args&... args) {
    CSimpleErr err;
    err.Set(id, args...);
    throw my::CException(err);
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// "0409 04b0 0411 04b0": pairs of four-digit hexadecimal numbers.
bool ParseTranslations(std::string_view text,
                       std::vector<std::pair<std::uint16_t, std::uint16_t>>& out) {
    std::istringstream words{std::string(text)};
    std::vector<std::uint16_t> numbers;
    for (std::string word; words >> word;) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
        if (word.size() != 4 || ec != std::errc() || end != word.data() + word.size()) {
            return false;
        }
        numbers.push_back(static_cast<std::uint16_t>(value));
    }
    if (numbers.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < numbers.size(); i += 2) {
        out.emplace_back(numbers[i], numbers[i + 1]);
    }
    return true;
}

}  // namespace

void CVersionInfo::Load(const std::string& modulePath, const char* block) {
    m_modulePath = modulePath;
    m_translations.clear();
    m_values.clear();
    if (block == nullptr) {
        Throw(kMsgVersionSizeFailed, SystemErrorText(kErrorNoVersionResource), modulePath);
    }
    std::istringstream lines{std::string(block)};
    for (std::string line; std::getline(lines, line);) {
        if (Trim(line).empty()) {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            Throw(kMsgVersionMissing, SystemErrorText(kErrorInvalidData), modulePath);
        }
        std::string key(Trim(std::string_view(line).substr(0, equals)));
        std::string value = line.substr(equals + 1);
        if (key == kTranslationKey && !ParseTranslations(value, m_translations)) {
            Throw(kMsgVersionMissing, SystemErrorText(kErrorInvalidData), modulePath);
        }
        m_values[std::move(key)] = std::move(value);
    }
}

std::string CVersionInfo::GetString(std::string_view prefix, std::string_view suffix) const {
    if (m_translations.empty()) {
        Throw(kMsgVersionValueEmpty, std::string(kTranslationKey), m_modulePath);
    }
    for (const auto& [language, codePage] : m_translations) {
        char translation[9];
        std::snprintf(translation, sizeof translation, "%04x%04x", language, codePage);
        const auto it = m_values.find(std::string(prefix) + translation + std::string(suffix));
        if (it != m_values.end() && !it->second.empty()) {
            return it->second;
        }
    }
    Throw(kMsgVersionValueMissing, std::string(prefix) + "[ALL_TRANSLATES]" + std::string(suffix),
          m_modulePath);
}

std::array<std::uint16_t, 4> CVersionInfo::GetVersionNumbers() const {
    const std::string version = GetString("\\StringFileInfo\\", "\\ProductVersion");
    std::array<std::uint16_t, 4> numbers{};
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = version.find_first_of(".,", start);
        const std::string_view part = Trim(std::string_view(version).substr(
            start, end == std::string::npos ? std::string::npos : end - start));
        unsigned value = 0;
        const auto [stop, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || ec != std::errc() || stop != part.data() + part.size() ||
            value > 0xFFFF || count == numbers.size()) {
            Throw(kMsgVersionInvalid, version, m_modulePath);
        }
        numbers[count++] = static_cast<std::uint16_t>(value);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    if (count != numbers.size()) {
        Throw(kMsgVersionInvalid, version, m_modulePath);
    }
    return numbers;
}
