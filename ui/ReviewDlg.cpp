#include "ui/ReviewDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "msg/MessageIds.h"
#include "ui/Controls.h"

namespace qv {

CReviewDlg::CReviewDlg(QWidget* parent, std::vector<ReviewItem> items, UrlOpener open, CMsg& msg)
    : QDialog(parent), m_items(std::move(items)), m_open(std::move(open)), m_msg(msg) {
    setWindowTitle(Caption(kStrReviewTitle));
    m_list = new QTreeWidget;
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({Caption(kStrReviewFileColumn), Caption(kStrReviewReasonColumn)});
    for (const ReviewItem& item : m_items) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, QString::fromStdString(item.source));
        row->setText(
            1, item.reasons.empty() ? QString() : QString::fromStdString(item.reasons.front()));
        QString all;
        for (const std::string& reason : item.reasons) {
            all +=
                (all.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(reason);
        }
        row->setToolTip(0, QString::fromStdString(item.output));
        row->setToolTip(1, all);
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
    connect(m_list, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* row) { OpenResult(m_list->indexOfTopLevelItem(row)); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(Caption(kStrReviewHint)));
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    const QSize least = CDialogUnits(font()).Size(360, 160);
    resize(sizeHint().expandedTo(least));
}

void CReviewDlg::OpenResult(int row) {
    if (row < 0 || row >= static_cast<int>(m_items.size())) {
        return;
    }
    const std::string& output = m_items[static_cast<std::size_t>(row)].output;
    if (const std::string reason = ShellOpen(m_open, output); !reason.empty()) {
        m_msg.ShowError(OpenFailure(output, reason));
    }
}

}  // namespace qv
