// CSimpleCommandLineParser: splits a text command line into words and hands
// the arguments to OnArguments.
//
// Splitting (one left-to-right pass, no escape character; a backslash is an
// ordinary character):
// - separators are space and tab; quote characters are '"' and '\'';
// - outside quotes a quote character opens a quoted run and is dropped, a
//   separator ends the current word, anything else is appended;
// - inside a quoted run only the quote character that opened it closes it
//   (and is dropped); separators and the other quote character are appended;
//   closing a quote does not end the word (/empty:"a b" is the word /empty:a b);
// - an unterminated quoted run runs to the end of the text;
// - empty words are never produced ("" alone gives nothing).
// Works on UTF-8 text byte by byte: separators and quotes are ASCII, so
// multi-byte characters pass through unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CSimpleCommandLineParser {
  public:
    virtual ~CSimpleCommandLineParser() = default;

    // Splits text and calls OnArguments with
    // every word after the first; the first word names the program.
    virtual void Parse(std::string_view text);

    // Handles the arguments, in order, without the program path (argv[1..]).
    virtual void OnArguments(const std::vector<std::string>& arguments) = 0;

    // The words of text by the rules above.
    static std::vector<std::string> SplitWords(std::string_view text);
};
