// Text bound for a terminal (standard error and output): file names and
// message arguments are shown there, never obeyed.
//
// Every piece of text the program writes to a terminal goes through
// EscapeForTerminal: the console message sink, the progress line and its
// summary, the start-up warnings, the list of pages to review. Files the
// program writes (the run report, the settings file) keep names exactly.
#pragma once

#include <string>
#include <string_view>

// Whether line breaks in the text are the message's own (kept) or part of
// the shown data (written out like any other control character).
enum class LineBreaks { Escape, Keep };

// `text` with every control character written out visibly, so that showing
// it can neither move the cursor, recolour, retitle or clear the terminal,
// nor hide what comes before it:
//   - C0 controls (U+0000-U+001F, tab and carriage return included) and DEL
//     (U+007F) as \xHH, lower-case hex; a line feed stays one with
//     LineBreaks::Keep;
//   - C1 controls (U+0080-U+009F, as two-byte UTF-8) as \u0080-\u009f;
//   - every byte that starts no valid UTF-8 character as \xHH (a terminal in
//     a single-byte mode would take a lone 0x9B for a control sequence).
// An ESC sequence so shows as its characters: ESC ] 0;t BEL reads
// "\x1b]0;t\x07". All other characters, Japanese included, stay as they
// are; backslashes are not doubled (the result is for reading).
std::string EscapeForTerminal(std::string_view text, LineBreaks lineBreaks = LineBreaks::Escape);
