#include "ui/BatchPanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "ui/Controls.h"
#include "ui/ReviewDlg.h"

namespace qv {

CBatchPanel::CBatchPanel(CMsg& msg, UrlOpener open, QWidget* trailing)
    : m_msg(msg), m_open(std::move(open)) {
    m_review = WithId(new QPushButton(Caption(kStrReviewButton)), kCtlReviewButton);
    m_review->hide();
    m_stop = WithId(new QPushButton(Caption(kStrStopButton)), kCtlStopButton);
    m_stop->setDefault(true);
    m_stop->setEnabled(false);
    m_openFolder = WithId(new QPushButton(Caption(kStrOpenFolderButton)), kCtlOpenFolderButton);
    m_openFolder->setEnabled(false);
    m_status = WithId(new QLabel(Caption(kStrDropHint)), kCtlStatusText);
    m_progress = WithId(new QProgressBar, kCtlProgress);
    m_progress->setTextVisible(false);
    SetProgress(0, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_review);
    buttons->addStretch(1);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_openFolder);
    if (trailing != nullptr) {
        buttons->addWidget(trailing);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    // The status never widens the window; the window is wide enough for it.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    connect(m_review, &QPushButton::clicked, this, [this] { ShowReviewList(); });
}

CBatchPanel::~CBatchPanel() = default;

void CBatchPanel::SetStatusText(const std::string& text) {
    m_status->setText(QString::fromStdString(text));
}

std::string CBatchPanel::StatusText() const {
    return m_status->text().toStdString();
}

void CBatchPanel::SetProgress(int processed, int total) {
    // The bar's range holds 16 bits; a range of 0 would show it busy.
    const int upper = std::clamp(total, 1, 0xFFFF);
    m_progress->setRange(0, upper);
    m_progress->setValue(std::clamp(processed, 0, upper));
}

void CBatchPanel::SetRunning(bool running) {
    m_stop->setEnabled(running);
    if (running) {
        ShowReview({});
    }
}

void CBatchPanel::ShowReview(const std::vector<ReviewItem>& items) {
    m_items = items;
    m_review->setVisible(!items.empty());
    if (m_reviewList != nullptr) {
        m_reviewList->close();
    }
    if (!items.empty()) {
        SetStatusText(StatusText() + " - " +
                      Formatted(kMsgPagesToLookAt, static_cast<int>(items.size())));
    }
}

void CBatchPanel::ShowReviewList() {
    if (m_reviewList != nullptr) {
        m_reviewList->raise();
        m_reviewList->activateWindow();
        return;
    }
    m_reviewList = new CReviewDlg(window(), m_items, m_open, m_msg);
    m_reviewList->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_reviewList, &QObject::destroyed, this, [this] { m_reviewList = nullptr; });
    m_reviewList->show();
}

}  // namespace qv
