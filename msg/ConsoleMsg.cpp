#include "msg/ConsoleMsg.h"

#include <iostream>

#include "msg/MessageIds.h"
#include "msg/TerminalKeys.h"
#include "msg/TerminalText.h"
#include "msg/Utf8.h"

CConsoleMsg::CConsoleMsg() : CConsoleMsg(std::cerr, std::cout, &ReadControllingTerminalKey) {}

CConsoleMsg::CConsoleMsg(std::ostream& err, std::ostream& out, KeySource keys)
    : m_err(&err), m_out(&out), m_keys(std::move(keys)) {}

int CConsoleMsg::ShowError(const CSimpleErr& err) {
    return Show(err.message, MB_ICONERROR);
}

int CConsoleMsg::Show(const std::string& text, std::uint32_t type) {
    *m_err << EscapeForTerminal(text, LineBreaks::Keep) << '\n' << std::flush;
    const int negative = NegativeAnswer(type);
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return PromptKey(kMsgPromptOkCancel, {{kEnter, IDOK}, {kEsc, IDCANCEL}}, negative);
        case MB_ABORTRETRYIGNORE:
            return PromptKey(kMsgPromptAbortRetryIgnore,
                             {{'A', IDABORT}, {'R', IDRETRY}, {'I', IDIGNORE}}, negative);
        case MB_YESNOCANCEL:
            return PromptKey(kMsgPromptYesNoCancel, {{'Y', IDYES}, {'N', IDNO}, {kEsc, IDCANCEL}},
                             negative);
        case MB_YESNO:
            return PromptKey(kMsgPromptYesNo, {{'Y', IDYES}, {'N', IDNO}}, negative);
        case MB_RETRYCANCEL:
            return PromptKey(kMsgPromptRetryCancel, {{'R', IDRETRY}, {kEsc, IDCANCEL}}, negative);
        case MB_CANCELTRYCONTINUE:
            return PromptKey(kMsgPromptCancelTryContinue,
                             {{kEsc, IDCANCEL}, {'T', IDTRYAGAIN}, {'C', IDCONTINUE}}, negative);
        default:
            return IDOK;
    }
}

int CConsoleMsg::PromptKey(std::uint32_t promptId, const KeyTable& table, int negative) {
    const std::string prompt = ResString(promptId);
    std::ostream& out = *m_out;
    for (;;) {
        out << prompt << '\n' << std::flush;
        // Flushed before the read, or the marker would stay in the buffer while we wait.
        out << "> " << std::flush;
        int typed = m_keys ? m_keys() : -1;
        if (typed < 0) {
            out << '\n' << std::flush;
            return negative;
        }
        if (typed == '\n') {
            typed = kEnter;
        }
        const int key = typed >= 'a' && typed <= 'z' ? typed - 'a' + 'A' : typed;
        if (typed == kEnter) {
            out << "Enter";
        } else if (typed == kEsc) {
            out << "Esc";
        } else {
            std::string echo;
            AppendUtf8(echo, static_cast<char32_t>(typed));
            out << EscapeForTerminal(echo);
        }
        for (const auto& [code, answer] : table) {
            if (code == key) {
                out << '\n' << std::flush;
                return answer;
            }
        }
        out << " !\n" << std::flush;
    }
}
