#include "msg/StringTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "msg/Format.h"
#include "msg/tests/LanguageScope.h"

namespace {

TEST(StringTable, BothLanguagesHaveTheSameIds) {
    EXPECT_EQ(StringIds(Language::English), StringIds(Language::Japanese));
}

TEST(StringTable, HoldsEveryListedIdAndNoUnlistedMessage) {
    std::vector<std::uint32_t> expected;
    for (std::uint32_t id = 171; id <= 199; ++id) {
        expected.push_back(id);
    }
    for (std::uint32_t id = 40000; id <= 40042; ++id) {
        if (id != 40004 && id != 40010 && id != 40025 && id != 40026 && id != 40041) {
            expected.push_back(id);
        }
    }
    for (std::uint32_t id :
         {58368u, 58369u, 58470u, 58474u, 58560u, 58568u, 58569u, 58574u, 58578u, 58580u,
          58589u, 58597u, 58598u, 58683u, 58740u, 58744u, 58749u, 58751u, 58756u, 58804u,
          58846u, 59135u, 59137u, 59150u, 130u,   131u,   136u,   157u,   57664u, 58370u}) {
        expected.push_back(id);
    }
    for (std::uint32_t id : expected) {
        EXPECT_NE(FindString(id, Language::English), nullptr) << id;
    }
    for (std::uint32_t id : {40004u, 40041u, 58567u, 58750u, 59136u, 0u}) {
        EXPECT_EQ(FindString(id, Language::English), nullptr) << id;
    }
}

// Only %s, %d and %% may occur: anything else would print literally.
TEST(StringTable, PlaceholdersAreWellFormed) {
    for (Language language : {Language::English, Language::Japanese}) {
        for (std::uint32_t id : StringIds(language)) {
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

TEST(StringTable, SpotChecksExactTexts) {
    const auto en = [](std::uint32_t id) { return std::string(FindString(id, Language::English)); };
    const auto ja = [](std::uint32_t id) {
        return std::string(FindString(id, Language::Japanese));
    };
    EXPECT_EQ(en(40000),
              "Multiple files are dropped on empty-path combobox.\n\nA first file\n\n%s\n\n is "
              "specified as empty-path.\n\nDo you execute with the other %d dropped files ?");
    EXPECT_EQ(ja(40021), "フォルダの作成に失敗しました\n\n%s");
    EXPECT_EQ(en(58566),
              "The config file is of unknown newer version.\nIf you continue to run, some or all "
              "settings will be reset to default values,\nand the file will be overwritten as "
              "older format.\n\nDo you continue ?");
    EXPECT_EQ(ja(58571), "対応するキーを押してください。はい (Y)、いいえ (N)、キャンセル (Esc)");
    EXPECT_EQ(en(59143), "Mismatched '{' and '}' ");  // trailing blank kept
    EXPECT_EQ(en(59142), "Mismatched '(' and ')'");
    EXPECT_EQ(en(190), "top");
    EXPECT_EQ(en(191), "right");
    EXPECT_EQ(ja(176), "左右を交互に (1枚目が左端)");
    EXPECT_EQ(en(199), "%d / %d processing");
    EXPECT_EQ(ja(199), "%d / %d ファイル処理中");
    EXPECT_EQ(en(58474), "Highest (Low compress)");
    EXPECT_EQ(ja(58474), "最高 (低圧縮率)");
    EXPECT_EQ(en(58755), "Command line option has unknown char (must be of %s)\n\n%s");
    EXPECT_EQ(ja(58368), "エラー");
    EXPECT_EQ(en(130), "Kelvaro");
    EXPECT_EQ(ja(57664), "バージョン情報(&V)...");
    EXPECT_EQ(ja(137), "バージョン情報");
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
    EXPECT_EQ(pick({{"LC_MESSAGES", "ja_JP"}, {"LANG", "en_US"}}), Language::Japanese);
    // Empty values count as unset.
    EXPECT_EQ(pick({{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LANG", "ja"}}), Language::Japanese);
    // LANGUAGE is a list; its first entry counts.
    EXPECT_EQ(pick({{"LANGUAGE", "en:ja"}, {"LANG", "ja_JP"}}), Language::English);
    EXPECT_EQ(pick({{"LANGUAGE", "ja:en"}, {"LANG", "en_US"}}), Language::Japanese);
    EXPECT_EQ(pick({{"LANGUAGE", ":ja_JP"}}), Language::Japanese);
    EXPECT_EQ(pick({{"LANGUAGE", ":"}, {"LANG", "ja"}}), Language::Japanese);
}

// Sets or unsets one variable for a scope.
class EnvScope {
  public:
    EnvScope(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvScope() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(Language, OverrideAndResetToEnvironment) {
    {
        EnvScope language("LANGUAGE", nullptr);
        EnvScope all("LC_ALL", nullptr);
        EnvScope messages("LC_MESSAGES", "ja_JP.UTF-8");
        ResetUiLanguage();
        EXPECT_EQ(UiLanguage(), Language::Japanese);
        EXPECT_EQ(ResString(58368), "エラー");

        SetUiLanguage(Language::English);
        EXPECT_EQ(ResString(58368), "Error");
        ResetUiLanguage();
        EXPECT_EQ(UiLanguage(), Language::Japanese);
    }
    ResetUiLanguage();
}

}  // namespace
