// CMessageBoxMsg: the message sink of a visible run. Shows each message in a
// modal message box with the buttons and icon of its type (MB_* values) and
// the caption "Error" for error icons, "Query" otherwise.
//
// Needs a QApplication; runs on the user-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "msg/Msg.h"

class QWidget;

class CMessageBoxMsg : public CMsg {
  public:
    // `owner` is used when the application has no active window (may be null).
    explicit CMessageBoxMsg(QWidget* owner = nullptr) : m_owner(owner) {}

    int ShowError(const CSimpleErr& err) override;
    // Returns the button pressed as IDOK, IDCANCEL, IDYES, ... A box closed
    // without a button answers the type's negative button.
    int Show(const std::string& text, std::uint32_t type) override;

  private:
    QWidget* m_owner;
};

// True when windows can be made: the X display named by DISPLAY accepts a
// connection, or QT_QPA_PLATFORM names a platform that needs no display
// (offscreen, minimal).
bool DisplayAvailable();

// True when a window shown now is seen by a person: an X display accepts a
// connection and QT_QPA_PLATFORM does not name a platform that draws
// nowhere (offscreen, minimal). Message boxes are used only then; a modal
// box that nobody sees would block the run for ever.
bool MessageBoxesVisible();
