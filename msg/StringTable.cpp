#include "msg/StringTable.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string_view>

#include "msg/MessageIds.h"

namespace {

struct StringEntry {
    std::uint32_t id;
    const char* text;
};

constexpr StringEntry kEnglish[] = {
#define QV_STRING(name, id, text) {id, text},
#include "res/StringTable.en.inc"
#undef QV_STRING
};

constexpr StringEntry kJapanese[] = {
#define QV_STRING_JA(name, text) {name, text},
#include "res/StringTable.ja.inc"
#undef QV_STRING_JA
};

constexpr bool IsStrictlyAscending(const StringEntry* first, const StringEntry* last) {
    for (const StringEntry* p = first; p + 1 < last; ++p) {
        if (p->id >= (p + 1)->id) {
            return false;
        }
    }
    return true;
}
static_assert(IsStrictlyAscending(std::begin(kEnglish), std::end(kEnglish)),
              "English string ids must ascend without duplicates");
// The Japanese entries name English ones; ascending and as many, they are
// the same ids.
static_assert(IsStrictlyAscending(std::begin(kJapanese), std::end(kJapanese)),
              "Japanese entries must follow the English order");
static_assert(std::size(kJapanese) == std::size(kEnglish),
              "every English entry needs its Japanese text");

// -1: not decided yet (read the environment on next use); otherwise a Language.
std::atomic<int> g_language{-1};

std::pair<const StringEntry*, const StringEntry*> Table(Language language) {
    if (language == Language::Japanese) {
        return {std::begin(kJapanese), std::end(kJapanese)};
    }
    return {std::begin(kEnglish), std::end(kEnglish)};
}

}  // namespace

Language LanguageFromEnvironment(const std::function<const char*(const char*)>& getEnv) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getEnv(name);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::string_view text(value);
        if (std::string_view(name) == "LANGUAGE") {
            // Skip empty list entries (":ja" or "::"); a list of only colons counts as unset.
            const auto begin = text.find_first_not_of(':');
            if (begin == std::string_view::npos) {
                continue;
            }
            text = text.substr(begin);
            text = text.substr(0, text.find(':'));
        }
        return text.substr(0, 2) == "ja" ? Language::Japanese : Language::English;
    }
    return Language::English;
}

Language UiLanguage() {
    int value = g_language.load(std::memory_order_relaxed);
    if (value < 0) {
        value = static_cast<int>(
            LanguageFromEnvironment([](const char* name) { return std::getenv(name); }));
        g_language.store(value, std::memory_order_relaxed);
    }
    return static_cast<Language>(value);
}

void SetUiLanguage(Language language) {
    g_language.store(static_cast<int>(language), std::memory_order_relaxed);
}

void ResetUiLanguage() {
    g_language.store(-1, std::memory_order_relaxed);
}

const char* FindString(std::uint32_t id, Language language) {
    const auto [first, last] = Table(language);
    const StringEntry* it = std::lower_bound(
        first, last, id,
        [](const StringEntry& entry, std::uint32_t key) { return entry.id < key; });
    return it != last && it->id == id ? it->text : nullptr;
}

bool ResStringFitsLoadBuffer(std::size_t utf16Units) {
    constexpr std::size_t kMaxBuffer = 65536;
    std::size_t buffer = 256;
    // A load "fills" the buffer when it returns buffer - 1 units (one is the terminator).
    while (utf16Units >= buffer - 1) {
        buffer *= 10;
        if (buffer > kMaxBuffer) {
            return false;
        }
    }
    return true;
}
