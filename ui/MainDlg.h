// qv::CMainDlg: the program's main window (template 138). It shows every
// processing setting as a control, reads them back with validation when a
// batch starts, shows the batch's progress and last result, takes dropped
// files and owns the batch driver.
//
// Reading the controls (ReadSettings, for the batch start) goes in this
// order and stops at the first failure, which is returned with the control
// to focus (the driver shows it): empty-image path 144 (history); rotation
// 143 (40009 without a selection, 40006); trim edges 147 (40009, 40034,
// 40035); deep cut 140 and output size 141; output size 153, 154 (40011 on
// text that is no number, 40040 when ticked and below 1); additional trim
// 142, 155, 156 (40011); subfolder 148 (40018, history); save type 159-162
// (40013, focus 159); JPEG quality 152 (40011; 40012 outside 0..100);
// size addend 145 (40009); threads 149 (40009; 58589 below 1). Numbers are
// read by ReadDecimal; a thread count above 99 is used as 99.
//
// Enabling: while running, the settings controls (144, 165, 147, 143, 140,
// 141, 153, 154, 142, 155, 156, 148, 159, 161, 162, 160, 149, 145, 166) and
// Open Folder 168 are disabled and Stop 169 enabled; idle, the reverse, with
// the JPEG quality edit 152 and presets 146 enabled only when JPEG is
// chosen. Open image 167, About, the size edits, progress and status stay
// enabled.
//
// Drops (text/uri-list): while no worker runs, dragging over the window is
// accepted as a copy and a frame is drawn around the empty-image combo 144
// while the pointer is over it; while one runs, with no effect and no frame. A drop of local files
// starts a batch once the drop has returned; dropped on 144, the first file becomes the empty image
// and, after a Yes to 40000, the others are processed. Refusals: 40003 while a worker runs, 40001
// without a URL list, 40002 when an item is not a local file (nothing of the drop is taken). Their
// messages are shown once the drop has returned.
//
// Closing (Esc, the close box) ends the program with 0 through the driver.
// On its end the window saves its placement and the settings (40007 on
// failure) once. While hidden it ignores the keyboard.
//
// Everything runs on the user-interface thread.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "batch/BatchDriver.h"
#include "batch/BatchView.h"
#include "ui/AboutDlg.h"
#include "ui/ShellOpen.h"
#include "ui/SimpleDibWidget.h"

class QComboBox;
class QLineEdit;

namespace qv {

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
    const CSimpleDibWidget& Preview() const { return m_preview; }
    // The frame drawn around combo 144 during a drag (empty: none).
    QRect DropHighlight() const { return m_highlight; }
    // Sets text in `combo`: nothing when it shows it already; else the
    // first item equal to it (case-sensitive) is selected; else the
    // selection is cleared and the text put in the edit field.
    static void SetComboText(QComboBox& combo, const std::string& text);

    // qv::IBatchView
    SettingsCheck ReadSettings(AppSettings& settings) override;
    void FocusControl(int controlId) override;
    SIZE PreviewSize() const override;
    void SetProgress(int processed, int total) override;
    void SetStatusText(const std::string& text) override;
    void ShowPreview(const DibPtr& preview) override;
    void ShowResultSize(LONG width, LONG height) override;
    void SetRunningState(bool running) override;
    void EnableOpenFolder(bool enable) override;
    void FlashCaption() override;
    void StartBatchTimer() override;
    void KillBatchTimer() override;
    bool ShellOpen(const std::string& path) override;
    void Quit(int exitCode) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    CMsg& Msg() const;
    QComboBox* Combo(int id) const;
    QLineEdit* Edit(int id) const;
    bool Checked(int id) const;
    void SetChecked(int id, bool checked);
    void SetEditText(int id, const std::string& text);

    void FillControls();
    void CentreOnScreen();
    void RestorePlacement();
    void SavePlacement();
    void ShowPicture(const DibPtr& picture);

    // The value of a combo (its selected item's text, else its trimmed
    // text); false when there is no such combo.
    bool ComboValue(int id, std::string& value) const;
    std::string EditValue(int id) const;
    void FillHistory(int comboId, const HistoryList& history);
    SettingsCheck ReadEmptyPath(AppSettings& settings);
    SettingsCheck ReadNumber(int id, std::uint32_t messageId, LONG& value) const;
    SettingsCheck ReadListValue(int id, std::uint32_t& value) const;
    void EnableRunningState(bool running);

    void OnQualityEdited();
    void OnPresetChosen(int index);
    void OnOpenImage();
    void OnSelectByDialog();
    void OnUseAsOutputSize();
    void OnAbout();

    // Drops.
    bool AnyWorkerRunning();
    QRect EmptyPathRect() const;
    void SetHighlight(bool shown);
    void DragOver(QDragMoveEvent* event);
    bool TakeDrop(const QDropEvent& event);
    void ShowErrorLater(std::uint32_t id);
    void OnDropFiles();

    void Destroy();

    AppSettings& m_settings;
    MainDlgEnv m_env;
    std::map<int, QWidget*> m_controls;
    CSimpleDibWidget m_preview;
    DibPtr m_placeholder;
    QTimer m_batchTimer;
    QRect m_highlight;
    bool m_dropRegistered = false;
    std::shared_ptr<std::vector<std::string>> m_pendingDrop;
    bool m_droppedOnEmptyPath = false;
    bool m_destroyed = false;
    // Last member: its pool is shut down before the window goes.
    CBatchDriver m_driver;
};

}  // namespace qv
