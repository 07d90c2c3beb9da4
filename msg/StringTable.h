// The program's string tables: every user-interface text and message by id,
// in English (1033) and Japanese (1041), compiled in from res/.
//
// Ids: 1 and 57664, 58370 are dialog control captions; 130-138 names and
// window titles; 140-169 main dialog control captions (by control id);
// 171-199 list items and batch status texts; 40000-40042 the program's own
// messages; 40100-40106 the usage text and the terminal's progress line;
// 58368-59150 captions, prompts, framework and library messages.
// Texts are UTF-8 with real line breaks, printf-style placeholders %s, %d.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

enum class Language { English, Japanese };

// The interface language in use: the override from SetUiLanguage when one is
// set, otherwise the language taken from the environment (read on first use
// and again after ResetUiLanguage). Safe to call from any thread.
Language UiLanguage();
void SetUiLanguage(Language language);
// Drops the override; the next UiLanguage reads the environment again.
void ResetUiLanguage();

// Japanese when the first of LANGUAGE, LC_ALL, LC_MESSAGES, LANG that is set
// to a non-empty value starts with "ja"; English otherwise. LANGUAGE is a
// colon-separated list of which the first non-empty entry counts. getEnv
// returns the variable's value or null when it is unset.
Language LanguageFromEnvironment(const std::function<const char*(const char*)>& getEnv);

// The text of id in the language, or null when the table has no such id.
const char* FindString(std::uint32_t id, Language language);

// Whether a text of the given length in UTF-16 code units loads. The loader
// reads into a buffer of 256 units (terminator included) that grows tenfold
// while the text fills it, and gives up once the buffer would exceed 65536
// units; so texts of 25599 units and more are "too long".
bool ResStringFitsLoadBuffer(std::size_t utf16Units);
