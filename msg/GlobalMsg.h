// qv::CGlobalMsg: the one message object of the process, and its stand-in for
// message boxes until the window layer installs the real box sink.
#pragma once

#include <boost/shared_ptr.hpp>
#include <iosfwd>

#include "msg/ConsoleMsg.h"
#include "msg/Msg.h"

// Used as the message-box sink while there is no window (and by a window
// layer that finds no display): writes the text and a line break to the
// stream, control characters written out as on the console, and answers as
// a prompt that cannot be asked (NegativeAnswer: IDOK for MB_OK,
// Cancel/No/Abort otherwise) at once.
class CHeadlessBoxMsg : public CMsg {
  public:
    CHeadlessBoxMsg();  // standard error
    explicit CHeadlessBoxMsg(std::ostream& err) : m_err(&err) {}

    int ShowError(const CSimpleErr& err) override;
    int Show(const std::string& text, std::uint32_t type) override;

  private:
    std::ostream* m_err;
};

namespace qv {

namespace detail {
// Constructed before the switch so that it can start on the box sink.
struct MsgSinks {
    MsgSinks(boost::shared_ptr<CMsg> box, CConsoleMsg console)
        : box(std::move(box)), console(std::move(console)) {}
    boost::shared_ptr<CMsg> box;
    CConsoleMsg console;
};
}  // namespace detail

// Owns a message-box sink and a console sink; the current sink starts as
// the message-box sink. The message-box sink is replaceable: the window
// layer installs its own with SetMessageBoxSink, and removes it (null puts
// the headless stand-in back) before its windows go away.
class CGlobalMsg : private detail::MsgSinks, public CSwitchMsg {
  public:
    CGlobalMsg();
    // With an injected console sink (tests).
    explicit CGlobalMsg(CConsoleMsg console);

    // Points the current sink at the console sink (true) or the message-box
    // sink (false).
    void SelectSink(bool console);
    void SetMessageBoxSink(boost::shared_ptr<CMsg> sink);

  private:
    bool m_consoleSelected = false;
};

// The process's instance (created on first use, lives until the process ends).
CGlobalMsg& GlobalMsg();

}  // namespace qv
