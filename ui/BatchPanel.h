// CBatchPanel: the batch's part of the main window: the buttons Review…,
// Stop (169, the default button) and Open Folder (168), the status line
// (164) and the progress bar (158).
//
// The status line shows what the batch driver says; after a batch whose
// written pages include some that need a look it adds how many, and the
// Review… button (hidden otherwise) lists them (CReviewDlg). Stop is
// enabled exactly while a batch runs; Open Folder only when told (there is a
// result). A trailing button of the window (About) may join the row.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "batch/BatchView.h"
#include "msg/Msg.h"
#include "ui/ShellOpen.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qv {

class CReviewDlg;

class CBatchPanel : public QWidget {
  public:
    // `trailing` (may be null) ends the button row.
    CBatchPanel(CMsg& msg, UrlOpener open, QWidget* trailing = nullptr);
    ~CBatchPanel() override;

    QPushButton& StopButton() const { return *m_stop; }
    QPushButton& OpenFolderButton() const { return *m_openFolder; }
    QPushButton& ReviewButton() const { return *m_review; }
    // The review list while it is open, else null.
    CReviewDlg* ReviewList() const { return m_reviewList; }

    void SetStatusText(const std::string& text);
    std::string StatusText() const;
    // Range 0..total (at least 1, so no busy indicator), position processed.
    void SetProgress(int processed, int total);
    // Running: Stop enabled, the review of the last batch gone.
    void SetRunning(bool running);
    // The pages of a finished batch that need a look.
    void ShowReview(const std::vector<ReviewItem>& items);
    void ShowReviewList();

  private:
    CMsg& m_msg;
    UrlOpener m_open;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPushButton* m_review;
    QPushButton* m_stop;
    QPushButton* m_openFolder;
    std::vector<ReviewItem> m_items;
    CReviewDlg* m_reviewList = nullptr;
};

}  // namespace qv
