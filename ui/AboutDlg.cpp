#include "ui/AboutDlg.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSysInfo>

#include "ui/DecimalText.h"
#include "ui/DialogTemplates.h"

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

CAboutDlg::CAboutDlg(QWidget* parent, const AboutInfo& info, UrlOpener open)
    : QDialog(parent), m_open(std::move(open)) {
    m_controls = CreateControls(*this, AboutDlgTemplate());
    static_cast<QLabel*>(Control(kCtlProductLine))
        ->setText(QString::fromStdString(ProductLine(info)));
    if (!info.legalNotice.empty()) {
        static_cast<QLabel*>(Control(kCtlLegalNotice))
            ->setText(QString::fromStdString(info.legalNotice));
    }
    Control(kCtlHomePageLink)->installEventFilter(this);
    connect(static_cast<QPushButton*>(Control(kCtlOk)), &QPushButton::clicked, this,
            &QDialog::accept);
}

QWidget* CAboutDlg::Control(int id) const {
    const auto it = m_controls.find(id);
    return it != m_controls.end() ? it->second : nullptr;
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
    if (!m_open || !m_open(QUrl(QString::fromStdString(address)))) {
        QApplication::beep();
    }
}

}  // namespace qv
