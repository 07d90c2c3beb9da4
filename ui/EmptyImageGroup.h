// CEmptyImageGroup: the group "Specify Empty-image path scanned with no
// manuscript" (157) of the main window: the path box (144, its list the
// EmptyPath history; empty means no empty image), Open image (167) and
// Select by Dialog (165).
//
// Open image opens the path with the desktop; a failure shows 40014 with
// the path and the reason. Select by Dialog opens a file dialog on the
// path, with the filters FileFilters gives; the chosen file goes into the
// box (the history changes only when a batch starts).
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <string>

#include "msg/Msg.h"
#include "trim/AppSettings.h"
#include "ui/ShellOpen.h"

class QComboBox;
class QPushButton;

namespace qv {

class CEmptyImageGroup : public QGroupBox {
  public:
    CEmptyImageGroup(CMsg& msg, UrlOpener open);

    QComboBox& PathBox() const { return *m_path; }
    QPushButton& OpenImageButton() const { return *m_openImage; }
    QPushButton& SelectButton() const { return *m_select; }

    // The path as typed, without surrounding white space.
    std::string Path() const;
    void SetPath(const std::string& path);
    void ShowHistory(const HistoryList& history);
    // Running: the box and Select by Dialog disabled (Open image stays).
    void SetRunning(bool running);

    // The file dialog's filters: images of every type the program reads
    // ("Images (*.bmp *.gif … *.png …)"), then all files ("All files (*)"),
    // in the interface language.
    static QStringList FileFilters();

  private:
    void OpenImage();
    void SelectByDialog();

    CMsg& m_msg;
    UrlOpener m_open;
    QComboBox* m_path;
    QPushButton* m_openImage;
    QPushButton* m_select;
};

}  // namespace qv
