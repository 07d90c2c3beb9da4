#include "ui/MainDlg.h"

#include <qdrawutil.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include "image_io/ImageFile.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "msg/Utf8.h"
#include "ui/AppIcon.h"
#include "ui/DecimalText.h"
#include "ui/DialogTemplates.h"

namespace qv {

namespace {

// Width of the frame drawn around combo 144 during a drag, pixels.
constexpr int kHighlightWidth = 2;
// The file dialog's initial name is cut to this many characters.
constexpr std::size_t kMaxInitialFileName = 259;

// The settings controls: disabled while a batch runs.
constexpr int kSettingsControls[] = {
    kCtlEmptyPathCombo,
    kCtlSelectByDialogButton,
    kCtlTrimEdgesCombo,
    kCtlRotateCombo,
    kCtlDeepCutCheck,
    kCtlOutputSizeCheck,
    kCtlOutputCxEdit,
    kCtlOutputCyEdit,
    kCtlAdditionalTrimCheck,
    kCtlTrimCxEdit,
    kCtlTrimCyEdit,
    kCtlSubFolderCombo,
    kCtlBmpRadio,
    kCtlPngRadio,
    kCtlTiffRadio,
    kCtlJpegRadio,
    kCtlThreadCombo,
    kCtlSizeToOutputAddCombo,
    kCtlUseAsOutputSizeButton,
    kCtlOpenFolderButton,
};

struct SaveTypeRadio {
    int control;
    LONG saveType;
};
constexpr SaveTypeRadio kSaveTypeRadios[] = {
    {kCtlBmpRadio, SaveTypeBmp},
    {kCtlPngRadio, SaveTypePng},
    {kCtlTiffRadio, SaveTypeTiff},
    {kCtlJpegRadio, SaveTypeJpeg},
};

bool IsKeyboardEvent(QEvent::Type type) {
    return type == QEvent::KeyPress || type == QEvent::KeyRelease ||
           type == QEvent::ShortcutOverride || type == QEvent::Shortcut;
}

SettingsCheck ControlError(std::uint32_t messageId, int control) {
    SettingsCheck check;
    check.error.Set(messageId, control);
    check.control = control;
    return check;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// Makes a drop-down list as wide as its longest item.
void FitPopupWidth(QComboBox& combo) {
    const int content = combo.view()->sizeHintForColumn(0) + 2 * combo.view()->frameWidth() + 8;
    combo.view()->setMinimumWidth(std::max(content, combo.width()));
}

}  // namespace

CMainDlg::CMainDlg(AppSettings& settings, MainDlgEnv env)
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_settings(settings),
      m_env(std::move(env)),
      m_driver(*this, settings, m_env.options, m_env.saveSettings, m_env.msg) {
    m_controls = CreateControls(*this, MainDlgTemplate());
    m_batchTimer.setInterval(200);
    connect(&m_batchTimer, &QTimer::timeout, this, [this] { m_driver.OnBatchTimer(); });

    connect(Edit(kCtlJpegQualityEdit), &QLineEdit::textChanged, this,
            [this] { OnQualityEdited(); });
    connect(Combo(kCtlJpegPresetCombo), &QComboBox::currentIndexChanged, this,
            [this](int index) { OnPresetChosen(index); });
    for (const SaveTypeRadio& radio : kSaveTypeRadios) {
        connect(static_cast<QRadioButton*>(Control(radio.control)), &QRadioButton::toggled, this,
                [this] { EnableRunningState(false); });
    }
    const auto onClick = [this](int id, void (CMainDlg::*handler)()) {
        connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this,
                [this, handler] { (this->*handler)(); });
    };
    onClick(kCtlOpenImageButton, &CMainDlg::OnOpenImage);
    onClick(kCtlSelectByDialogButton, &CMainDlg::OnSelectByDialog);
    onClick(kCtlUseAsOutputSizeButton, &CMainDlg::OnUseAsOutputSize);
    onClick(kCtlAboutButton, &CMainDlg::OnAbout);
    connect(static_cast<QAbstractButton*>(Control(kCtlStopButton)), &QAbstractButton::clicked, this,
            [this] { m_driver.Stop(); });
    connect(static_cast<QAbstractButton*>(Control(kCtlOpenFolderButton)), &QAbstractButton::clicked,
            this, [this] { m_driver.OpenFolder(); });

    // Initialisation: placement, icon, values, preview, drops, picture,
    // enabling.
    CentreOnScreen();
    setWindowIcon(AppIcon());
    // Keys reach the window and its controls through the filter.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
    FillControls();
    QWidget* frame = Control(kCtlPreviewFrame);
    const QRect previewRect(frame->mapTo(this, QPoint(0, 0)), frame->size());
    m_preview.Create(&previewRect, false);
    // Only the window takes drops; the edit fields would take the text.
    for (QLineEdit* edit : findChildren<QLineEdit*>()) {
        edit->setAcceptDrops(false);
    }
    setAcceptDrops(true);
    m_dropRegistered = true;
    RestorePlacement();
    if (SUCCEEDED(LoadDibFromResource(m_placeholder, 139, "IMAGE"))) {
        ShowPicture(m_placeholder);
    }
    EnableRunningState(false);
}

CMainDlg::~CMainDlg() {
    Destroy();
}

void CMainDlg::AfterCreate(CPathList files) {
    m_driver.StartFromCommandLine(std::move(files));
}

CMsg& CMainDlg::Msg() const {
    return m_env.msg != nullptr ? *m_env.msg : qv::GlobalMsg();
}

QWidget* CMainDlg::Control(int id) const {
    const auto it = m_controls.find(id);
    return it != m_controls.end() ? it->second : nullptr;
}

QComboBox* CMainDlg::Combo(int id) const {
    return qobject_cast<QComboBox*>(Control(id));
}

QLineEdit* CMainDlg::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Control(id));
}

bool CMainDlg::Checked(int id) const {
    const auto* button = qobject_cast<QAbstractButton*>(Control(id));
    return button != nullptr && button->isChecked();
}

void CMainDlg::SetChecked(int id, bool checked) {
    static_cast<QAbstractButton*>(Control(id))->setChecked(checked);
}

void CMainDlg::SetEditText(int id, const std::string& text) {
    Edit(id)->setText(Text(text));
}

void CMainDlg::SetComboText(QComboBox& combo, const std::string& text) {
    const QString wanted = Text(text);
    if (combo.currentText() == wanted) {
        return;
    }
    const int index = combo.findText(wanted, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        combo.setCurrentIndex(index);
        return;
    }
    combo.setCurrentIndex(-1);
    if (combo.isEditable()) {
        combo.setEditText(wanted);
    }
}

// ---- initialisation --------------------------------------------------------

void CMainDlg::FillControls() {
    const AppSettings& s = m_settings;
    FillHistory(kCtlEmptyPathCombo, s.EmptyPath);

    QComboBox* rotate = Combo(kCtlRotateCombo);
    for (const RotateEdgeEntry& e : kRotateEdgeTable) {
        rotate->addItem(Text(ResString(e.stringId)), static_cast<uint>(e.value));
    }
    rotate->setCurrentIndex(rotate->findData(static_cast<uint>(s.AutoTrim.EdgeType)));
    QComboBox* trim = Combo(kCtlTrimEdgesCombo);
    for (const TrimEdgesEntry& e : kTrimEdgesTable) {
        trim->addItem(Text(ResString(e.stringId)), static_cast<uint>(e.value));
    }
    trim->setCurrentIndex(trim->findData(static_cast<uint>(s.AutoTrim.SpaceType)));

    SetChecked(kCtlDeepCutCheck, s.AutoTrim.HasFlag(AutoTrimParams::FlagDeepCut));
    SetChecked(kCtlOutputSizeCheck, s.AutoTrim.HasFlag(AutoTrimParams::FlagOutputSize));
    SetEditText(kCtlOutputCxEdit, std::to_string(s.AutoTrim.Output.cx));
    SetEditText(kCtlOutputCyEdit, std::to_string(s.AutoTrim.Output.cy));
    SetChecked(kCtlAdditionalTrimCheck, s.AutoTrim.HasFlag(AutoTrimParams::FlagAdditionalTrim));
    SetEditText(kCtlTrimCxEdit, std::to_string(s.AutoTrim.Trim.cx));
    SetEditText(kCtlTrimCyEdit, std::to_string(s.AutoTrim.Trim.cy));

    FillHistory(kCtlSubFolderCombo, s.SubFolder);
    if (s.SubFolder.empty()) {
        // An empty history reads as the default name.
        Combo(kCtlSubFolderCombo)->setEditText(Text(s.SubFolderName()));
    }

    SetEditText(kCtlJpegQualityEdit, std::to_string(s.JpegQuality));
    int radio = kCtlPngRadio;
    for (const SaveTypeRadio& r : kSaveTypeRadios) {
        if (r.saveType == s.SaveType) {
            radio = r.control;
        }
    }
    SetChecked(radio, true);

    QComboBox* presets = Combo(kCtlJpegPresetCombo);
    {
        // Filling the list selects nothing by itself.
        const QSignalBlocker quiet(presets);
        for (const JpegQualityPreset& p : kJpegQualityPresets) {
            presets->addItem(Text(ResString(p.stringId)), static_cast<int>(p.quality));
        }
        presets->setCurrentIndex(presets->findData(static_cast<int>(s.JpegQuality)));
    }

    QComboBox* threads = Combo(kCtlThreadCombo);
    for (const LONG n : kThreadCountChoices) {
        threads->addItem(QString::number(n));
    }
    SetComboText(*threads, std::to_string(s.ThreadCount));

    QComboBox* addend = Combo(kCtlSizeToOutputAddCombo);
    for (const LONG n : kSizeToOutputAddChoices) {
        addend->addItem(QString::number(n));
    }
    SetComboText(*addend, std::to_string(s.SizeToOutputAdd));

    for (QComboBox* list : {rotate, trim, presets}) {
        FitPopupWidth(*list);
    }
}

void CMainDlg::FillHistory(int comboId, const HistoryList& history) {
    QComboBox* combo = Combo(comboId);
    combo->clear();
    for (const std::string& entry : history) {
        combo->addItem(Text(entry));
    }
    combo->setCurrentIndex(history.empty() ? -1 : 0);
}

void CMainDlg::CentreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    QRect r(QPoint(0, 0), size());
    r.moveCenter(area.center());
    r.moveLeft(std::max(area.left(), std::min(r.left(), area.right() + 1 - r.width())));
    r.moveTop(std::max(area.top(), std::min(r.top(), area.bottom() + 1 - r.height())));
    move(r.topLeft());
}

void CMainDlg::RestorePlacement() {
    const WindowPlacement& placement = m_settings.Window;
    const RECT& stored = placement.Rect;
    if (stored.right <= stored.left || stored.bottom <= stored.top) {
        return;
    }
    QRect screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens = screens.united(screen->geometry());
    }
    // Edges as exclusive coordinates, like the stored rectangle's.
    const long long left = screens.left(), top = screens.top();
    const long long right = left + screens.width(), bottom = top + screens.height();
    long long x = stored.left, y = stored.top;
    const long long width = static_cast<long long>(stored.right) - stored.left;
    const long long height = static_cast<long long>(stored.bottom) - stored.top;
    if (y + height > bottom) {
        y = bottom - height;
    }
    if (y < top) {
        y = top;
    }
    if (x + width > right) {
        x = right - width;
    }
    if (x < left) {
        x = left;
    }
    move(static_cast<int>(x), static_cast<int>(y));
    if (placement.Maximized) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void CMainDlg::SavePlacement() {
    WindowPlacement& placement = m_settings.Window;
    placement.Maximized = isMaximized();
    if (!isMaximized() && !isMinimized()) {
        const QRect r = frameGeometry();
        placement.Rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
}

void CMainDlg::ShowPicture(const DibPtr& picture) {
    m_preview.SetImage(picture);
    m_preview.SetShown(true);
    update(m_preview.Rect());
}

// ---- reading the controls ---------------------------------------------------

bool CMainDlg::ComboValue(int id, std::string& value) const {
    const QComboBox* combo = Combo(id);
    if (combo == nullptr) {
        return false;
    }
    value = TrimControlText(combo->currentText().toStdString());
    return true;
}

std::string CMainDlg::EditValue(int id) const {
    return TrimControlText(Edit(id)->text().toStdString());
}

SettingsCheck CMainDlg::ReadEmptyPath(AppSettings& settings) {
    std::string path;
    if (!ComboValue(kCtlEmptyPathCombo, path)) {
        return ControlError(kMsgComboValueFailed, kCtlEmptyPathCombo);
    }
    SettingsCheck check = ApplyEmptyPath(settings, path);
    FillHistory(kCtlEmptyPathCombo, settings.EmptyPath);
    return check;
}

SettingsCheck CMainDlg::ReadNumber(int id, std::uint32_t messageId, LONG& value) const {
    std::string text;
    if (Edit(id) != nullptr) {
        text = EditValue(id);
    } else if (!ComboValue(id, text)) {
        return ControlError(messageId, id);
    }
    if (!ReadDecimal(text, value)) {
        return ControlError(messageId, id);
    }
    return {};
}

SettingsCheck CMainDlg::ReadListValue(int id, std::uint32_t& value) const {
    const QComboBox* combo = Combo(id);
    if (combo == nullptr || combo->currentIndex() < 0) {
        return ControlError(kMsgComboValueFailed, id);
    }
    value = combo->currentData().toUInt();
    return {};
}

SettingsCheck CMainDlg::ReadSettings(AppSettings& s) {
    SettingsCheck check;
    // Each step reads its controls, then checks what it read.
    const auto failed = [&check](SettingsCheck result) {
        check = std::move(result);
        return check.Failed();
    };
    AutoTrimParams& p = s.AutoTrim;

    if (failed(ReadEmptyPath(s)) || failed(ReadListValue(kCtlRotateCombo, p.EdgeType)) ||
        failed(CheckEdgeType(s)) || failed(ReadListValue(kCtlTrimEdgesCombo, p.SpaceType)) ||
        failed(CheckSpaceType(s))) {
        return check;
    }
    p.SetFlag(AutoTrimParams::FlagDeepCut, Checked(kCtlDeepCutCheck));
    p.SetFlag(AutoTrimParams::FlagOutputSize, Checked(kCtlOutputSizeCheck));
    if (failed(ReadNumber(kCtlOutputCxEdit, kMsgEditValueFailed, p.Output.cx)) ||
        failed(ReadNumber(kCtlOutputCyEdit, kMsgEditValueFailed, p.Output.cy)) ||
        failed(CheckOutputSize(s))) {
        return check;
    }
    p.SetFlag(AutoTrimParams::FlagAdditionalTrim, Checked(kCtlAdditionalTrimCheck));
    if (failed(ReadNumber(kCtlTrimCxEdit, kMsgEditValueFailed, p.Trim.cx)) ||
        failed(ReadNumber(kCtlTrimCyEdit, kMsgEditValueFailed, p.Trim.cy))) {
        return check;
    }

    std::string subFolder;
    if (!ComboValue(kCtlSubFolderCombo, subFolder)) {
        return ControlError(kMsgComboValueFailed, kCtlSubFolderCombo);
    }
    if (failed(ApplySubFolder(s, subFolder))) {
        return check;
    }
    FillHistory(kCtlSubFolderCombo, s.SubFolder);

    bool chosen = false;
    for (const SaveTypeRadio& radio : kSaveTypeRadios) {
        if (Checked(radio.control)) {
            s.SaveType = radio.saveType;
            chosen = true;
        }
    }
    if (!chosen) {
        check.error.Set(kMsgInvalidSaveType);
        check.control = kCtlBmpRadio;
        return check;
    }

    if (failed(ReadNumber(kCtlJpegQualityEdit, kMsgEditValueFailed, s.JpegQuality)) ||
        failed(CheckJpegQuality(s)) ||
        failed(ReadNumber(kCtlSizeToOutputAddCombo, kMsgComboValueFailed, s.SizeToOutputAdd)) ||
        failed(ReadNumber(kCtlThreadCombo, kMsgComboValueFailed, s.ThreadCount)) ||
        failed(CheckThreadCount(s))) {
        return check;
    }
    // No more workers than a command line may ask for: a typed 100000 would
    // otherwise start as many threads.
    s.ThreadCount = std::min(s.ThreadCount, AppSettings::MaxStoredThreadCount);
    return check;
}

// ---- enabling ---------------------------------------------------------------

void CMainDlg::EnableRunningState(bool running) {
    for (const int id : kSettingsControls) {
        Control(id)->setEnabled(!running);
    }
    Control(kCtlStopButton)->setEnabled(running);
    const bool quality = !running && Checked(kCtlJpegRadio);
    Control(kCtlJpegQualityEdit)->setEnabled(quality);
    Control(kCtlJpegPresetCombo)->setEnabled(quality);
}

// ---- buttons and synchronisation ------------------------------------------

void CMainDlg::OnQualityEdited() {
    AppSettings scratch;
    SettingsCheck check = ReadNumber(kCtlJpegQualityEdit, kMsgEditValueFailed, scratch.JpegQuality);
    if (!check.Failed()) {
        check = CheckJpegQuality(scratch);
    }
    if (check.Failed()) {
        Msg().ShowError(check.error);
        FocusControl(check.control);
        return;
    }
    QComboBox* presets = Combo(kCtlJpegPresetCombo);
    presets->setCurrentIndex(presets->findData(static_cast<int>(scratch.JpegQuality)));
}

void CMainDlg::OnPresetChosen(int index) {
    if (index < 0) {
        return;
    }
    SetEditText(kCtlJpegQualityEdit,
                std::to_string(Combo(kCtlJpegPresetCombo)->itemData(index).toInt()));
}

void CMainDlg::OnOpenImage() {
    std::string path;
    if (!ComboValue(kCtlEmptyPathCombo, path)) {
        Msg().ShowError(ControlError(kMsgComboValueFailed, kCtlEmptyPathCombo).error);
        FocusControl(kCtlEmptyPathCombo);
        return;
    }
    CSimpleErr err;
    InvokeGuarded(err, [&] { ShellOpen(path); });
    if (err.Failed()) {
        CSimpleErr failed;
        failed.Set(kMsgOpenPathFailed);
        Msg().ShowError(failed);
    }
}

void CMainDlg::OnSelectByDialog() {
    std::string initial;
    ComboValue(kCtlEmptyPathCombo, initial);
    Utf8Truncate(initial, kMaxInitialFileName);
    QWidget* owner = QApplication::activeWindow();
    QFileDialog dialog(owner != nullptr ? owner : this, QString(), QString(),
                       QStringLiteral("全ての種類のファイル (*.*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontResolveSymlinks);
    if (!initial.empty()) {
        dialog.selectFile(Text(initial));
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        SetComboText(*Combo(kCtlEmptyPathCombo), dialog.selectedFiles().front().toStdString());
    }
}

void CMainDlg::OnUseAsOutputSize() {
    LONG width = 0, height = 0;
    if (!ReadDecimal(EditValue(kCtlResultWidthEdit), width)) {
        width = 0;
    }
    if (!ReadDecimal(EditValue(kCtlResultHeightEdit), height)) {
        height = 0;
    }
    if (width < 1 || height < 1) {
        CSimpleErr err;
        err.Set(kMsgNoImageSize);
        Msg().ShowError(err);
        return;
    }
    std::string addendText;
    ComboValue(kCtlSizeToOutputAddCombo, addendText);
    LONG addend = 0;
    if (!ReadDecimal(addendText, addend)) {
        Msg().ShowError(ControlError(kMsgEditValueFailed, kCtlSizeToOutputAddCombo).error);
        return;
    }
    SetEditText(kCtlOutputCxEdit, std::to_string(static_cast<long long>(width) + addend));
    SetEditText(kCtlOutputCyEdit, std::to_string(static_cast<long long>(height) + addend));
    SetChecked(kCtlOutputSizeCheck, true);
}

void CMainDlg::OnAbout() {
    QWidget* owner = QApplication::activeWindow();
    CAboutDlg about(owner != nullptr ? owner : this, m_env.about, m_env.openUrl);
    about.exec();
}

// ---- qv::IBatchView -----------------------------------------------------------

void CMainDlg::FocusControl(int controlId) {
    if (QWidget* control = Control(controlId)) {
        control->setFocus(Qt::OtherFocusReason);
    }
}

SIZE CMainDlg::PreviewSize() const {
    return SIZE{m_preview.Rect().width(), m_preview.Rect().height()};
}

void CMainDlg::SetProgress(int processed, int total) {
    auto* bar = static_cast<QProgressBar*>(Control(kCtlProgress));
    // The bar's range holds 16 bits.
    const int upper = std::clamp(total, 0, 0xFFFF);
    bar->setRange(0, upper);
    bar->setValue(std::clamp(processed, 0, upper));
}

void CMainDlg::SetStatusText(const std::string& text) {
    static_cast<QLabel*>(Control(kCtlStatusText))->setText(Text(text));
}

void CMainDlg::ShowPreview(const DibPtr& preview) {
    ShowPicture(preview);
}

void CMainDlg::ShowResultSize(LONG width, LONG height) {
    SetEditText(kCtlResultWidthEdit, std::to_string(width));
    SetEditText(kCtlResultHeightEdit, std::to_string(height));
}

void CMainDlg::SetRunningState(bool running) {
    EnableRunningState(running);
}

void CMainDlg::EnableOpenFolder(bool enable) {
    Control(kCtlOpenFolderButton)->setEnabled(enable);
}

void CMainDlg::FlashCaption() {
    QApplication::alert(this);
}

void CMainDlg::StartBatchTimer() {
    m_batchTimer.start();
}

void CMainDlg::KillBatchTimer() {
    m_batchTimer.stop();
}

bool CMainDlg::ShellOpen(const std::string& path) {
    qv::ShellOpen(m_env.openUrl, path);
    return true;
}

void CMainDlg::Quit(int exitCode) {
    Destroy();
    hide();
    if (m_env.quit) {
        m_env.quit(exitCode);
        return;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [exitCode] { QCoreApplication::exit(exitCode); },
        Qt::QueuedConnection);
}

void CMainDlg::Destroy() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    m_batchTimer.stop();
    SavePlacement();
    if (m_env.saveSettings) {
        CSimpleErr err;
        InvokeGuarded(err, [this] { m_env.saveSettings(m_settings); });
        if (err.Failed()) {
            if (err.id != kMsgSaveSettingsFailed) {
                err.Set(kMsgSaveSettingsFailed);
            }
            Msg().ShowError(err);
        }
    }
    if (m_dropRegistered) {
        setAcceptDrops(false);
        m_dropRegistered = false;
    }
}

// ---- events -------------------------------------------------------------------

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    // A hidden window cannot be driven from the keyboard.
    if (!isVisible() && IsKeyboardEvent(event->type())) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CMainDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_preview.IsShown()) {
        m_preview.Draw(painter);
    }
    if (!m_highlight.isEmpty()) {
        // A bump: raised outside, sunken inside.
        qDrawShadeRect(&painter, m_highlight, palette(), false, 1, 0);
    }
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    if (!m_destroyed) {
        m_driver.Close();
    }
    event->accept();
}

void CMainDlg::reject() {
    if (!m_destroyed) {
        m_driver.Close();
    }
}

// ---- drops ----------------------------------------------------------------------

bool CMainDlg::AnyWorkerRunning() {
    return m_driver.Pool().AnyWorkerRunning();
}

QRect CMainDlg::EmptyPathRect() const {
    const QWidget* combo = Control(kCtlEmptyPathCombo);
    return QRect(combo->mapTo(this, QPoint(0, 0)), combo->size());
}

void CMainDlg::SetHighlight(bool shown) {
    const QRect frame = shown ? EmptyPathRect().adjusted(-kHighlightWidth, -kHighlightWidth,
                                                         kHighlightWidth, kHighlightWidth)
                              : QRect();
    if (frame == m_highlight) {
        return;
    }
    // Repaint the strips of the old frame and draw the new one.
    for (const QRect& r : {m_highlight, frame}) {
        if (!r.isEmpty()) {
            update(QRect(r.left(), r.top(), r.width(), kHighlightWidth));
            update(QRect(r.left(), r.bottom() + 1 - kHighlightWidth, r.width(), kHighlightWidth));
            update(QRect(r.left(), r.top(), kHighlightWidth, r.height()));
            update(QRect(r.right() + 1 - kHighlightWidth, r.top(), kHighlightWidth, r.height()));
        }
    }
    m_highlight = frame;
}

void CMainDlg::DragOver(QDragMoveEvent* event) {
    CSimpleErr err;
    InvokeGuarded(err, [&] {
        if (AnyWorkerRunning()) {
            // No effect and no frame; the drag stays ours, so that a drop
            // still learns why it is refused (40003).
            SetHighlight(false);
            event->setDropAction(Qt::IgnoreAction);
            event->accept();
            return;
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
        SetHighlight(EmptyPathRect().contains(event->position().toPoint()));
    });
    if (err.Failed()) {
        event->ignore();
    }
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event) {
    DragOver(event);
}

void CMainDlg::dragMoveEvent(QDragMoveEvent* event) {
    DragOver(event);
}

void CMainDlg::dragLeaveEvent(QDragLeaveEvent*) {
    SetHighlight(false);
}

void CMainDlg::dropEvent(QDropEvent* event) {
    SetHighlight(false);
    bool taken = false;
    CSimpleErr err;
    InvokeGuarded(err, [&] { taken = TakeDrop(*event); });
    if (taken && !err.Failed()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

bool CMainDlg::TakeDrop(const QDropEvent& event) {
    if (AnyWorkerRunning()) {
        ShowErrorLater(kMsgDropWhileRunning);
        return false;
    }
    const QMimeData* data = event.mimeData();
    if (data == nullptr || !data->hasUrls()) {
        ShowErrorLater(kMsgDropDataFailed);
        return false;
    }
    auto files = std::make_shared<std::vector<std::string>>();
    m_pendingDrop = files;
    for (const QUrl& url : data->urls()) {
        // An item that is no local file (another scheme) spoils the drop.
        if (!url.isLocalFile() || url.toLocalFile().isEmpty()) {
            files->clear();
            break;
        }
        files->push_back(url.toLocalFile().toStdString());
    }
    if (files->empty()) {
        m_pendingDrop.reset();
        ShowErrorLater(kMsgDropFormatUnknown);
        return false;
    }
    m_droppedOnEmptyPath = EmptyPathRect().contains(event.position().toPoint());
    QMetaObject::invokeMethod(
        this, [this] { OnDropFiles(); }, Qt::QueuedConnection);
    return true;
}

void CMainDlg::ShowErrorLater(std::uint32_t id) {
    // Shown once the drop has returned, so the drag source is not kept
    // waiting on a message box.
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            CSimpleErr err;
            err.Set(id);
            Msg().ShowError(err);
        },
        Qt::QueuedConnection);
}

void CMainDlg::OnDropFiles() {
    if (!isActiveWindow()) {
        raise();
        activateWindow();
    }
    if (!m_pendingDrop || m_pendingDrop->empty()) {
        return;
    }
    std::vector<std::string> files = *m_pendingDrop;
    if (m_droppedOnEmptyPath) {
        SetComboText(*Combo(kCtlEmptyPathCombo), files.front());
        if (files.size() == 1) {
            return;
        }
        const std::string question =
            Formatted(kMsgDroppedOnEmptyPath, files.front(), static_cast<int>(files.size() - 1));
        if (Msg().Show(question, MB_YESNO) != IDYES) {
            return;
        }
        files.erase(files.begin());
    }
    m_driver.StartBatch(files);
}

}  // namespace qv
