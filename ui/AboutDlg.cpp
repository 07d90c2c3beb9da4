#include "ui/AboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>

#include "batch/SettingsValidation.h"
#include "msg/MessageIds.h"
#include "ui/AppIcon.h"
#include "ui/Controls.h"

namespace qv {

std::string ArchitectureName() {
    const QString arch = QSysInfo::buildCpuArchitecture();
    return arch == QLatin1String("x86_64") ? std::string("x64") : arch.toStdString();
}

std::string ProductLine(const AboutInfo& info) {
    std::string line = info.displayName + "  ";
    for (std::size_t i = 0; i < info.version.size(); ++i) {
        line += (i == 0 ? "" : ".") + std::to_string(info.version[i]);
    }
    return line + "   " + ArchitectureName();
}

CAboutDlg::CAboutDlg(QWidget* parent, const AboutInfo& info, UrlOpener open, CMsg& msg)
    : QDialog(parent), m_open(std::move(open)), m_msg(msg) {
    setWindowTitle(Caption(kStrAboutTitle));
    auto* icon = new QLabel;
    icon->setPixmap(AppIcon().pixmap(32, 32));
    auto* product = WithId(new QLabel(QString::fromStdString(ProductLine(info))), kCtlProductLine);
    auto* legal =
        WithId(new QLabel(info.legalNotice.empty() ? QStringLiteral("Copyright (C) Kelvaro")
                                                   : QString::fromStdString(info.legalNotice)),
               kCtlLegalNotice);
    auto* link = WithId(new QLabel(Caption("https://kelvaro.example/quorvel/",
                                           "https://kelvaro.example/ja/quorvel/")),
                        kCtlHomePageLink);
    QFont underlined = link->font();
    underlined.setUnderline(true);
    link->setFont(underlined);
    QPalette blue = link->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    link->setPalette(blue);
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);

    auto* frame = new QVBoxLayout;
    frame->addWidget(
        new QLabel(Caption("Homepage shows more details:", "詳しくはホームページをご覧ください")));
    frame->addWidget(link);
    auto* group = new QGroupBox;
    group->setLayout(frame);
    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton(Caption(kStrOk), QDialogButtonBox::AcceptRole);
    SetControlId(ok, kCtlOk);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(product, 0, 1);
    grid->addWidget(legal, 1, 1, Qt::AlignTop);
    grid->setRowStretch(1, 1);  // room to spare goes below the notice
    grid->addWidget(group, 2, 0, 1, 2);
    grid->addWidget(buttons, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    const QSize least = CDialogUnits(font()).Size(332, 113);
    setFixedSize(grid->sizeHint().expandedTo(least));
}

QWidget* CAboutDlg::Control(int id) const {
    return FindControl(*this, id);
}

bool CAboutDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Control(kCtlHomePageLink) && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OpenLink();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CAboutDlg::OpenLink() {
    const std::string address =
        TrimControlText(static_cast<QLabel*>(Control(kCtlHomePageLink))->text().toStdString());
    const std::string reason =
        m_open ? m_open(QUrl(QString::fromStdString(address))) : std::string("no desktop");
    if (!reason.empty()) {
        m_msg.ShowError(OpenFailure(address, reason));
    }
}

}  // namespace qv
