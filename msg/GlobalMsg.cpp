#include "msg/GlobalMsg.h"

#include <boost/make_shared.hpp>
#include <iostream>

#include "msg/TerminalText.h"

CHeadlessBoxMsg::CHeadlessBoxMsg() : m_err(&std::cerr) {}

int CHeadlessBoxMsg::ShowError(const CSimpleErr& err) {
    return Show(err.message, MB_ICONERROR);
}

int CHeadlessBoxMsg::Show(const std::string& text, std::uint32_t type) {
    *m_err << EscapeForTerminal(text, LineBreaks::Keep) << '\n' << std::flush;
    return NegativeAnswer(type);
}

namespace qv {

CGlobalMsg::CGlobalMsg() : CGlobalMsg(CConsoleMsg()) {}

CGlobalMsg::CGlobalMsg(CConsoleMsg consoleSink)
    : MsgSinks(boost::make_shared<CHeadlessBoxMsg>(), std::move(consoleSink)), CSwitchMsg(*box) {}

void CGlobalMsg::SelectSink(bool useConsole) {
    m_consoleSelected = useConsole;
    SetCurrentSink(useConsole ? static_cast<CMsg&>(console) : *box);
}

void CGlobalMsg::SetMessageBoxSink(boost::shared_ptr<CMsg> sink) {
    box = sink ? std::move(sink) : boost::make_shared<CHeadlessBoxMsg>();
    SelectSink(m_consoleSelected);
}

CGlobalMsg& GlobalMsg() {
    static CGlobalMsg instance;
    return instance;
}

}  // namespace qv
