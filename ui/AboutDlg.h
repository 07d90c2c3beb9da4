// CAboutDlg: the modal about box (template 137): the product line, the
// legal notice and a link to the maker's home page.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <map>
#include <string>

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
    // A click on the link hands its address to `open`; when that fails the
    // box beeps and stays open. OK answers 1 (QDialog::Accepted), Esc 2.
    CAboutDlg(QWidget* parent, const AboutInfo& info, UrlOpener open);

    QWidget* Control(int id) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OpenLink();

    std::map<int, QWidget*> m_controls;
    UrlOpener m_open;
};

}  // namespace qv
