// CConsoleMsg: the message sink of a run without a window.
//
// Show writes the text and a line break to the error stream (flushed), its
// control characters written out (EscapeForTerminal, line breaks kept). For
// a button set other than MB_OK it then prompts on the output stream: the
// prompt text (58569-58574) and a line break, then "> ", and reads one key.
// The key is echoed ("Enter" for 13 and for a line feed, "Esc" for 27,
// otherwise the character as typed, a control character written out); a key of the button set's
// table ends the prompt with a line break, any other key writes " !" and a line break and prompts
// again. Letters a-z count as A-Z.
//
//   MB_OKCANCEL           Enter IDOK, Esc IDCANCEL
//   MB_ABORTRETRYIGNORE   A IDABORT, R IDRETRY, I IDIGNORE
//   MB_YESNOCANCEL        Y IDYES, N IDNO, Esc IDCANCEL
//   MB_YESNO              Y IDYES, N IDNO
//   MB_RETRYCANCEL        R IDRETRY, Esc IDCANCEL
//   MB_CANCELTRYCONTINUE  Esc IDCANCEL, T IDTRYAGAIN, C IDCONTINUE
//
// When no key can be read (no terminal), the prompt ends with a line break
// and answers NegativeAnswer(type) at once. A button set above 6 throws the
// internal error 58575 after the text was written.
#pragma once

#include <functional>
#include <iosfwd>
#include <utility>
#include <vector>

#include "msg/Msg.h"

class CConsoleMsg : public CMsg {
  public:
    // Returns the next key's code point, or a negative value when no key
    // can be read.
    using KeySource = std::function<int()>;

    // Standard error, standard output and the controlling terminal.
    CConsoleMsg();
    // The streams must outlive the sink.
    CConsoleMsg(std::ostream& err, std::ostream& out, KeySource keys);

    int ShowError(const CSimpleErr& err) override;
    int Show(const std::string& text, std::uint32_t type) override;

    static constexpr int kEnter = 13;
    static constexpr int kEsc = 27;

  private:
    using KeyTable = std::vector<std::pair<int, int>>;  // key code, answer
    int PromptKey(std::uint32_t promptId, const KeyTable& table, int negative);

    std::ostream* m_err;
    std::ostream* m_out;
    KeySource m_keys;
};
