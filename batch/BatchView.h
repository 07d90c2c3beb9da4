// qv::IBatchView: what the batch driver needs from the window that owns it.
//
// Every call comes from the user-interface thread. The driver never touches
// a control itself; a window implements the calls with its controls, its
// progress bar, status text, preview widget and 200 ms timer. A run without
// a window uses CHeadlessBatchView, which validates the settings as they
// stand and ignores the display calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch/SettingsValidation.h"
#include "image/BitmapTypes.h"
#include "image/Dib.h"
#include "trim/AppSettings.h"

namespace qv {

// A page written by the batch that the engine thinks needs a look
// (TrimVerdict::NeedsReview).
struct ReviewItem {
    std::string source;                // the scan
    std::string output;                // its result
    std::vector<std::string> reasons;  // in the interface language, most important first
};

// How a batch ended (see CBatchDriver for the three ends).
struct BatchSummary {
    enum class End { Completed, Failed, Stopped };
    End end = End::Completed;
    int total = 0;                // files of the batch to process
    int written = 0;              // results saved
    std::uint32_t elapsedMs = 0;  // from the start to the end
    // Every output folder of the batch, once each, in file order, each
    // ending with '/'.
    std::vector<std::string> outputFolders;
    // The written pages that need a look, in the order they finished (the
    // first BatchOptions::reviewItems of them).
    std::vector<ReviewItem> review;
    int reviewCount = 0;  // every written page that needs a look
    int failed = 0;       // files whose pipeline failed
    // Written results whose file holds less than the result
    // (CAutoTrimTask::KindReduced).
    int reduced = 0;
    int skipped = 0;             // left alone, their results up to date (not in total)
    bool stopRequested = false;  // Stop was asked for (an interrupt, the button)
};

class IBatchView {
  public:
    virtual ~IBatchView() = default;

    // Reads the dialog's values into `settings` (a copy of the global record)
    // and validates them in the dialog's order (see SettingsValidation.h).
    // A failure is returned, not shown: the driver shows it, then calls
    // FocusField with its field.
    virtual SettingsCheck ReadSettings(AppSettings& settings) = 0;
    virtual void FocusField(SettingsField field) = 0;

    // Size in pixels of the preview pane; every task of a batch scales its
    // preview to it ((0, 0): no scaled preview).
    virtual SIZE PreviewSize() const = 0;

    // Progress bar: range 0..total, position processed. Each start of a
    // batch, refused or not, begins with (0, number of files).
    virtual void SetProgress(int processed, int total) = 0;
    // Status line under the progress bar.
    virtual void SetStatusText(const std::string& text) = 0;
    // Once at the end of a batch, after its status text and any message.
    // A view whose status line already tells the end ignores it.
    virtual void ShowBatchSummary(const BatchSummary&) {}
    // A page was written, but not as the settings asked: its fixed output
    // size is larger than the scan, or its additional trimming would have
    // removed the whole page (VerdictOutputSizeBeyondScan,
    // VerdictTrimRemovesPage). Once per such file, as it is done, with the
    // text to show (40405: the reasons and the source). A window that lists
    // the pages to review at the end (BatchSummary::review) may ignore it.
    virtual void ShowPageWarning(const std::string&) {}
    // The last finished result: its preview image (possibly empty) is drawn
    // in the preview pane.
    virtual void ShowPreview(const DibPtr& preview) = 0;
    // The pixel size of the last written result, shown beside the preview;
    // called only when the task has an output image.
    virtual void ShowResultSize(LONG width, LONG height) = 0;
    // A remark on the batch that fails nothing (at most once per batch: the
    // first result whose file holds less than its source, 40350), for the
    // terminal of a run without a window; a window ignores it.
    virtual void ShowNotice(const std::string&) {}

    // Running: settings controls disabled, Stop enabled. Idle: the
    // reverse, the JPEG quality controls only with JPEG chosen.
    virtual void SetRunningState(bool running) = 0;
    // Open Folder, enabled exactly while there is a result to show: from the
    // first file a batch wrote until the next batch starts.
    virtual void EnableOpenFolder(bool enable) = 0;
    // Flashes the window's caption once (end of a successful batch).
    virtual void FlashCaption() = 0;

    // Starts the 200 ms batch timer, whose ticks call
    // CBatchDriver::OnBatchTimer; starting a running timer restarts it.
    virtual void StartBatchTimer() = 0;
    // Stops it; no tick already pending may arrive afterwards.
    virtual void KillBatchTimer() = 0;

    // Opens `path` with the desktop's default action; "" when it was
    // opened, else why not (may also throw).
    virtual std::string ShellOpen(const std::string& path) = 0;

    // Destroys the window and ends the event loop with `exitCode`.
    virtual void Quit(int exitCode) = 0;
};

// The view of a run without a window: ReadSettings validates the record as
// it stands (ValidateSettings(settings)), the preview size is (0, 0), the
// display calls do nothing, ShellOpen fails (there is no desktop). Timer and Quit stay to the
// owner, who drives OnBatchTimer from its own loop.
class CHeadlessBatchView : public IBatchView {
  public:
    SettingsCheck ReadSettings(AppSettings& settings) override {
        return ValidateSettings(settings);
    }
    void FocusField(SettingsField) override {}
    SIZE PreviewSize() const override { return SIZE{0, 0}; }
    void SetProgress(int, int) override {}
    void SetStatusText(const std::string&) override {}
    void ShowPreview(const DibPtr&) override {}
    void ShowResultSize(LONG, LONG) override {}
    void SetRunningState(bool) override {}
    void EnableOpenFolder(bool) override {}
    void FlashCaption() override {}
    std::string ShellOpen(const std::string&) override { return "no desktop"; }
};

}  // namespace qv
