#include "msg/StringTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "msg/Format.h"
#include "msg/tests/LanguageScope.h"

namespace {

constexpr std::uint32_t kAllIds[] = {
#define QV_STRING(name, id, text) id,
#include "res/StringTable.en.inc"
#undef QV_STRING
};

// Only %s, %d and %% may occur: anything else would print literally.
TEST(StringTable, PlaceholdersAreWellFormed) {
    for (Language language : {Language::English, Language::Japanese}) {
        for (std::uint32_t id : kAllIds) {
            const std::string text = FindString(id, language);
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '%') {
                    ASSERT_LT(i + 1, text.size()) << id;
                    EXPECT_NE(std::string("sd%").find(text[i + 1]), std::string::npos) << id;
                    ++i;
                }
            }
            EXPECT_EQ(text.find('\\'), std::string::npos) << id;
        }
    }
}

TEST(Language, FromEnvironmentVariables) {
    using Env = std::map<std::string, std::string>;
    const auto pick = [](const Env& env) {
        return LanguageFromEnvironment([&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    EXPECT_EQ(pick({}), Language::English);
    EXPECT_EQ(pick({{"LANG", "ja_JP.UTF-8"}}), Language::Japanese);
    // The first set variable decides, even when it is not Japanese.
    EXPECT_EQ(pick({{"LC_ALL", "C"}, {"LANG", "ja_JP.UTF-8"}}), Language::English);
    // Empty values count as unset.
    EXPECT_EQ(pick({{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LANG", "ja"}}), Language::Japanese);
    // LANGUAGE is a list; its first entry counts.
    EXPECT_EQ(pick({{"LANGUAGE", "en:ja"}, {"LANG", "ja_JP"}}), Language::English);
}

TEST(Language, OverrideAndResetToEnvironment) {
    const Language env = LanguageFromEnvironment(std::getenv);
    const bool english = env == Language::English;
    SetUiLanguage(english ? Language::Japanese : Language::English);
    EXPECT_EQ(ResString(58368), english ? "エラー" : "Error");
    ResetUiLanguage();
    EXPECT_EQ(UiLanguage(), env);
    EXPECT_EQ(ResString(58368), english ? "Error" : "エラー");
}

}  // namespace
