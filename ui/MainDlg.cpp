#include "ui/MainDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "image_io/ImageFile.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "ui/AppIcon.h"
#include "ui/BatchPanel.h"
#include "ui/Controls.h"
#include "ui/DropTarget.h"
#include "ui/EmptyImageGroup.h"
#include "ui/SettingsForm.h"
#include "ui/SimpleDibWidget.h"

namespace qv {

namespace {

bool IsKeyboardEvent(QEvent::Type type) {
    return type == QEvent::KeyPress || type == QEvent::KeyRelease ||
           type == QEvent::ShortcutOverride || type == QEvent::Shortcut;
}

}  // namespace

CMainDlg::CMainDlg(AppSettings& settings, MainDlgEnv env)
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_settings(settings),
      m_env(std::move(env)),
      m_driver(*this, settings, m_env.options, m_env.saveSettings, m_env.msg) {
    setWindowTitle(Caption(kStrMainTitle));
    setWindowIcon(AppIcon());
    const CDialogUnits units(font());
    m_preview = new CSimpleDibWidget(units.Size(144, 150));
    m_form = new CSettingsForm(*m_preview, Msg(), m_env.openUrl);
    m_about = WithId(new QPushButton(Caption(kStrAboutButton)), kCtlAboutButton);
    m_panel = new CBatchPanel(Msg(), m_env.openUrl, m_about);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_form, 1);
    layout->addWidget(m_panel);
    QWidget::setTabOrder(&m_form->LastControl(), &m_panel->ReviewButton());
    QWidget::setTabOrder(&m_panel->ReviewButton(), &m_panel->StopButton());
    QWidget::setTabOrder(&m_panel->StopButton(), &m_panel->OpenFolderButton());
    QWidget::setTabOrder(&m_panel->OpenFolderButton(), m_about);

    m_batchTimer.setInterval(200);
    connect(&m_batchTimer, &QTimer::timeout, this, [this] { m_driver.OnBatchTimer(); });
    connect(&m_panel->StopButton(), &QPushButton::clicked, this, [this] { m_driver.Stop(); });
    connect(&m_panel->OpenFolderButton(), &QPushButton::clicked, this,
            [this] { m_driver.OpenFolder(); });
    connect(m_about, &QPushButton::clicked, this, [this] { OnAbout(); });

    m_form->Load(m_settings);
    // A fixed size from the captions: the Review button may come and go.
    m_panel->ReviewButton().show();
    setFixedSize(layout->sizeHint().expandedTo(units.Size(423, 301)));
    m_panel->ReviewButton().hide();
    layout->activate();
    CentreOnScreen();
    // Keys reach the window and its controls through the filter.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
    m_drop = new CDropTarget(
        *this, m_form->EmptyImage().PathBox(),
        [this] { return m_driver.Pool().AnyWorkerRunning(); },
        [this](const std::vector<std::string>& files, bool onPathBox) {
            OnDropped(files, onPathBox);
        },
        [this](std::uint32_t id) {
            CSimpleErr err;
            err.Set(id);
            Msg().ShowError(err);
        });
    RestorePlacement();
    if (SUCCEEDED(LoadDibFromResource(m_placeholder, 139, "IMAGE"))) {
        m_preview->SetImage(m_placeholder);
    }
    SetRunningState(false);
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
    return FindControl(*this, id);
}

QRect CMainDlg::DropHighlight() const {
    return m_drop->Highlight();
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
    y = std::max(std::min(y, bottom - height), top);
    x = std::max(std::min(x, right - width), left);
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

// ---- qv::IBatchView -------------------------------------------------------

SettingsCheck CMainDlg::ReadSettings(AppSettings& settings) {
    return m_form->Read(settings);
}

void CMainDlg::FocusField(SettingsField field) {
    if (QWidget* control = m_form->ControlOf(field)) {
        control->setFocus(Qt::OtherFocusReason);
    }
}

SIZE CMainDlg::PreviewSize() const {
    return SIZE{m_preview->width(), m_preview->height()};
}

void CMainDlg::SetProgress(int processed, int total) {
    m_panel->SetProgress(processed, total);
}

void CMainDlg::SetStatusText(const std::string& text) {
    m_panel->SetStatusText(text);
}

void CMainDlg::ShowBatchSummary(const BatchSummary& summary) {
    m_panel->ShowReview(summary.review);
}

void CMainDlg::ShowPreview(const DibPtr& preview) {
    m_preview->SetImage(preview);
}

void CMainDlg::ShowResultSize(LONG width, LONG height) {
    m_form->ShowResultSize(width, height);
}

void CMainDlg::SetRunningState(bool running) {
    m_form->SetRunning(running);
    m_panel->SetRunning(running);
}

void CMainDlg::EnableOpenFolder(bool enable) {
    m_panel->OpenFolderButton().setEnabled(enable);
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

std::string CMainDlg::ShellOpen(const std::string& path) {
    return qv::ShellOpen(m_env.openUrl, path);
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
    m_drop->Revoke();
}

// ---- events and actions -----------------------------------------------------

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    // A hidden window cannot be driven from the keyboard.
    if (!isVisible() && IsKeyboardEvent(event->type())) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool CMainDlg::MayClose() {
    if (m_destroyed) {
        return false;
    }
    if (m_driver.Running()) {
        if (Msg().Show(ResString(kMsgCloseDuringBatch), MB_YESNO | MB_ICONWARNING) != IDYES) {
            return false;
        }
        m_driver.Stop();
    }
    return !m_destroyed;
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    if (m_destroyed) {
        event->accept();
        return;
    }
    if (!MayClose()) {
        event->ignore();
        return;
    }
    m_driver.Close();
    event->accept();
}

void CMainDlg::reject() {
    if (MayClose()) {
        m_driver.Close();
    }
}

void CMainDlg::OnDropped(const std::vector<std::string>& dropped, bool onPathBox) {
    if (!isActiveWindow()) {
        raise();
        activateWindow();
    }
    std::vector<std::string> files = dropped;
    if (onPathBox) {
        m_form->EmptyImage().SetPath(files.front());
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

void CMainDlg::OnAbout() {
    QWidget* owner = QApplication::activeWindow();
    CAboutDlg about(owner != nullptr ? owner : this, m_env.about, m_env.openUrl, Msg());
    about.exec();
}

}  // namespace qv
