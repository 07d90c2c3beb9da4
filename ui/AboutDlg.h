// CAboutDlg: the modal about box (template 137): the product line, the
// legal notice and a link to the maker's home page, laid out from their
// texts.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <string>

#include "msg/Msg.h"
#include "ui/ShellOpen.h"

namespace qv {

// What the box shows, read from the program's version information at
// start-up.
struct AboutInfo {
    std::string displayName;                 // string 136
    std::array<std::uint16_t, 4> version{};  // product version
    std::string legalNotice;                 // "" keeps the template's line
};

// The name of the processor architecture the program was built for: "x64"
// for x86-64, otherwise the build's own name ("arm64", "i386", ...).
std::string ArchitectureName();

// The display name, two blanks, the four version numbers joined with ".",
// three blanks and ArchitectureName(): "Quorvel  1.2.9.0   x64".
std::string ProductLine(const AboutInfo& info);

class CAboutDlg : public QDialog {
  public:
    // A click on the link (58374: hand cursor, pure blue, underlined) hands
    // its address to `open`; when that fails, 40014 with the address and the
    // reason is shown on `msg` and the box stays open. OK answers 1
    // (QDialog::Accepted), Esc 2.
    CAboutDlg(QWidget* parent, const AboutInfo& info, UrlOpener open, CMsg& msg);

    QWidget* Control(int id) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OpenLink();

    UrlOpener m_open;
    CMsg& m_msg;
};

}  // namespace qv
