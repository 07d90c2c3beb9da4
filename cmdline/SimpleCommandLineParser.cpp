#include "cmdline/SimpleCommandLineParser.h"

void CSimpleCommandLineParser::Parse(std::string_view text) {
    std::vector<std::string> words = SplitWords(text);
    if (!words.empty()) {
        words.erase(words.begin());
    }
    OnArguments(words);
}

std::vector<std::string> CSimpleCommandLineParser::SplitWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    char quote = 0;  // the character that opened the current quoted run
    for (const char c : text) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ' ' || c == '\t') {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    return words;
}
