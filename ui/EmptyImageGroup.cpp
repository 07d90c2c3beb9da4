#include "ui/EmptyImageGroup.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>

#include "batch/SettingsValidation.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "msg/Utf8.h"
#include "ui/Controls.h"

namespace qv {

namespace {

// The file dialog's initial name is cut to this many characters.
constexpr std::size_t kMaxInitialFileName = 259;

}  // namespace

CEmptyImageGroup::CEmptyImageGroup(CMsg& msg, UrlOpener open)
    : QGroupBox(Caption(kStrEmptyPathGroup)), m_msg(msg), m_open(std::move(open)) {
    SetControlId(this, kCtlEmptyPathGroup);
    m_path = MakeComboBox(kCtlEmptyPathCombo, true);
    m_path->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_path->setMinimumContentsLength(20);
    m_openImage = WithId(new QPushButton(Caption(kStrOpenImageButton)), kCtlOpenImageButton);
    m_select = WithId(new QPushButton(Caption(kStrSelectByDialogButton)), kCtlSelectByDialogButton);
    auto* layout = new QGridLayout(this);
    layout->addWidget(m_path, 0, 0, 1, 3);
    layout->addWidget(new QLabel(Caption("* Specify empty string, if you do not use",
                                         "※ 使用しない場合には、空白にしてください")),
                      1, 0);
    layout->addWidget(m_openImage, 1, 1);
    layout->addWidget(m_select, 1, 2);
    layout->setColumnStretch(0, 1);
    connect(m_openImage, &QPushButton::clicked, this, [this] { OpenImage(); });
    connect(m_select, &QPushButton::clicked, this, [this] { SelectByDialog(); });
}

std::string CEmptyImageGroup::Path() const {
    return TrimControlText(m_path->currentText().toStdString());
}

void CEmptyImageGroup::SetPath(const std::string& path) {
    SetComboText(*m_path, path);
}

void CEmptyImageGroup::ShowHistory(const HistoryList& history) {
    FillHistory(*m_path, history);
}

void CEmptyImageGroup::SetRunning(bool running) {
    m_path->setEnabled(!running);
    m_select->setEnabled(!running);
}

QStringList CEmptyImageGroup::FileFilters() {
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        patterns.push_back(QStringLiteral("*.") + QString::fromLatin1(format));
    }
    return {QString::fromStdString(
                Formatted(kStrImageFilesFilter, patterns.join(QLatin1Char(' ')).toStdString())),
            Caption(kStrAllFilesFilter)};
}

void CEmptyImageGroup::OpenImage() {
    const std::string path = Path();
    if (const std::string reason = ShellOpen(m_open, path); !reason.empty()) {
        m_msg.ShowError(OpenFailure(path, reason));
    }
}

void CEmptyImageGroup::SelectByDialog() {
    std::string initial = Path();
    Utf8Truncate(initial, kMaxInitialFileName);
    QWidget* owner = QApplication::activeWindow();
    QFileDialog dialog(owner != nullptr ? owner : window());
    dialog.setNameFilters(FileFilters());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontResolveSymlinks);
    if (!initial.empty()) {
        dialog.selectFile(QString::fromStdString(initial));
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        SetPath(dialog.selectedFiles().front().toStdString());
    }
}

}  // namespace qv
