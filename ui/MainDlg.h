// qv::CMainDlg: the program's main window (template 138). It composes the
// settings form, the preview pane, the batch panel and the drop target, and
// is the batch driver's view: the driver reads the settings through it,
// shows progress, results and the review list in it, and is driven by its
// buttons, its 200 ms timer and the files dropped on it.
//
// Drops (see CDropTarget): files dropped anywhere start a batch once the
// drop has returned; dropped on the empty-image path box, the first file
// becomes the empty image and, after a Yes to 40000, the others are
// processed.
//
// Closing (Esc, the close box) ends the program with 0 through the driver;
// while a batch runs it first asks "A batch is running. Stop it and
// close?" (40300): Yes stops the batch as Stop does and closes, No keeps
// the window. On its end the window saves its placement and the settings
// (40007 on failure) once. While hidden it ignores the keyboard.
//
// The window has a fixed size: its layout's size hint, at least the
// template's 423 × 301 dialog units.
//
// Everything runs on the user-interface thread.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "batch/BatchDriver.h"
#include "batch/BatchView.h"
#include "ui/AboutDlg.h"
#include "ui/ShellOpen.h"

class QPushButton;

namespace qv {

class CBatchPanel;
class CDropTarget;
class CSettingsForm;
class CSimpleDibWidget;

// What the window needs from the program around it.
struct MainDlgEnv {
    BatchOptions options;        // /yes and /end of the command line
    SettingsSaver saveSettings;  // empty: settings are not saved
    CMsg* msg = nullptr;         // null: qv::GlobalMsg()
    AboutInfo about;
    UrlOpener openUrl = DesktopUrlOpener();
    // Ends the event loop with the exit code once control returns to it;
    // empty: QCoreApplication::exit, queued.
    std::function<void(int)> quit;
};

class CMainDlg : public QDialog, public IBatchView {
  public:
    // `settings` is the process's global record; it must outlive the window.
    CMainDlg(AppSettings& settings, MainDlgEnv env);
    ~CMainDlg() override;

    // After the window was created (and shown, unless hidden): a batch over
    // the command line's files; under /end, a refused start quits with 1 and
    // no files quit with 0.
    void AfterCreate(CPathList files);

    // The control with this id, or null.
    QWidget* Control(int id) const;
    CBatchDriver& Driver() { return m_driver; }
    CSettingsForm& Form() const { return *m_form; }
    CBatchPanel& Panel() const { return *m_panel; }
    const CSimpleDibWidget& Preview() const { return *m_preview; }
    // The frame drawn around the path box during a drag (empty: none).
    QRect DropHighlight() const;

    // qv::IBatchView
    SettingsCheck ReadSettings(AppSettings& settings) override;
    void FocusField(SettingsField field) override;
    SIZE PreviewSize() const override;
    void SetProgress(int processed, int total) override;
    void SetStatusText(const std::string& text) override;
    void ShowBatchSummary(const BatchSummary& summary) override;
    void ShowPreview(const DibPtr& preview) override;
    void ShowResultSize(LONG width, LONG height) override;
    void SetRunningState(bool running) override;
    void EnableOpenFolder(bool enable) override;
    void FlashCaption() override;
    void StartBatchTimer() override;
    void KillBatchTimer() override;
    std::string ShellOpen(const std::string& path) override;
    void Quit(int exitCode) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    CMsg& Msg() const;
    void CentreOnScreen();
    void RestorePlacement();
    void SavePlacement();
    // The close question while a batch runs; true when the window may go.
    bool MayClose();
    void OnDropped(const std::vector<std::string>& files, bool onPathBox);
    void OnAbout();
    void Destroy();

    AppSettings& m_settings;
    MainDlgEnv m_env;
    CSimpleDibWidget* m_preview;
    CSettingsForm* m_form;
    QPushButton* m_about;
    CBatchPanel* m_panel;
    CDropTarget* m_drop;
    DibPtr m_placeholder;
    QTimer m_batchTimer;
    bool m_destroyed = false;
    // Last member: its pool is shut down before the window goes.
    CBatchDriver m_driver;
};

}  // namespace qv
