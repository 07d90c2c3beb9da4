// CReviewDlg: the list of pages the last batch wrote that need a look: one
// row per page with its file and its first reason (every reason in the
// row's tooltip). Double-clicking a row (or Enter on it) opens its result
// through `open`; a refusal shows 40014 with the result and the reason on
// `msg`. Modeless; closes with Esc or its button.
#pragma once

#include <QDialog>
#include <vector>

#include "batch/BatchView.h"
#include "msg/Msg.h"
#include "ui/ShellOpen.h"

class QTreeWidget;

namespace qv {

class CReviewDlg : public QDialog {
  public:
    CReviewDlg(QWidget* parent, std::vector<ReviewItem> items, UrlOpener open, CMsg& msg);

    QTreeWidget& List() const { return *m_list; }
    // Opens the result of row `row`.
    void OpenResult(int row);

  private:
    std::vector<ReviewItem> m_items;
    UrlOpener m_open;
    CMsg& m_msg;
    QTreeWidget* m_list;
};

}  // namespace qv
