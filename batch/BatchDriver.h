// qv::CBatchDriver: runs the per-file pipeline over a list of images on the
// worker pool, shows its progress through a qv::IBatchView and ends it.
//
// Owned by the main window (or the window-less run); everything except
// OnTaskFinished runs on the user-interface thread. The window only forwards
// to it: its 200 ms timer ticks to OnBatchTimer, Stop to Stop, Open Folder to
// OpenFolder, closing to Close, dropped files to StartBatch.
//
// States: idle, or running from a successful StartBatch until the batch
// ends. A batch ends, always from a timer tick, in one of three ways:
//   completed   every task reported success and no worker runs any more:
//               status "%d files are successfully processed - m:ss" (198),
//               caption flashed; exit code 0 under the end option (3 with
//               `strict` when a written page needs a look);
//   failed      the first task (in report order) with a non-zero result:
//               the timer stops, queued tasks are cancelled, running tasks
//               are waited for (the user-interface thread blocks), status
//               "process is terminated" (197), then that task's message is
//               shown once with MB_ICONERROR; exit code 1;
//   stopped     no worker runs any more, every report has been taken and
//               still fewer tasks reported than were queued (Stop cancelled
//               the rest without an error, a worker thread died, or no worker
//               thread could be started): status 197 without a message box;
//               exit code 1. So a batch can never stay running with nothing
//               left to run it.
// The first written result of a batch whose file holds less than the
// result (CAutoTrimTask::KindReduced: a format that cannot hold 16 bits or
// alpha) is told once, through IBatchView::ShowNotice (40350 with the two
// kinds and the source), and BatchSummary::reduced counts them all. Each
// ends in the idle state, reported once more to
// IBatchView::ShowBatchSummary with the counts of the batch and the
// written pages whose verdict asks for a look; output
// folders the batch created and left empty (every file failed or was
// stopped) are removed again. Under the end option the pool is then shut
// down, the finished tasks released and
// IBatchView::Quit called with the exit code.
//
// Scale: the files are held as one CPathList; the tasks are made as the
// workers ask for them (a feed behind the pool's queue), and a finished
// task is let go once its report has been taken, so that a batch of a
// million files holds a few tasks at a time. The checks of the start take
// a few bytes per file.
//
// With `skipExisting`, a source whose output exists and was last written no
// earlier than the source is left alone: it gets no task, is not counted in
// the batch's total, and is recorded as skipped. An injected IBatchRecorder
// receives every source's outcome (see BatchRecorder.h).
//
// Messages go to the injected sink, or to qv::GlobalMsg() when none is.
// Safety beyond the checks of the start: no output path may be the same
// file as a source of the batch or as the empty image (compared through
// symbolic links, "." and ".." and hard links); such a batch is refused
// with 40019 naming the output path before anything is written.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "batch/BatchRecorder.h"
#include "batch/BatchView.h"
#include "batch/SettingsValidation.h"
#include "batch/TaskThreadPool.h"
#include "image/MemoryBudget.h"
#include "msg/Msg.h"
#include "trim/AppSettings.h"
#include "trim/AutoTrimTask.h"
#include "trim/PathList.h"

namespace qv {

// Command-line switches that shape a batch: `yes` overwrites existing
// outputs without asking; `end` quits the program when the batch is over
// (and when a command-line start is refused); `skipExisting` leaves sources
// with an up-to-date output alone; `strict` makes the exit code of a
// completed batch 3 when a written page needs a look; `reviewItems` is the
// most pages that need a look the summary lists (they are all counted).
struct BatchOptions {
    bool yes = false;
    bool end = false;
    bool skipExisting = false;
    bool strict = false;
    std::size_t reviewItems = SIZE_MAX;
};

// Stores the settings record persistently. What it throws is shown as a
// warning (40007 unless it is one) and the batch goes on; a saver that
// warns by itself throws nothing.
using SettingsSaver = std::function<void(const AppSettings&)>;

// The output path of `source`: its folder (up to and including its last
// '/'), then SubFolderName(), '/', the file name without its extension (the
// part from its last '.'; a leading '.' starts no extension) and "." +
// Extension(). '/' is inserted between parts unless the left one is empty or
// already ends with '/'; '\\' is an ordinary character. Fails with 40018
// (field SubFolder) for an empty subfolder name, 40019 with the source when the
// source has no file name (empty or ending with '/'). `output` is set only
// on success.
// Example: "/scan/p001.tif", subfolder "trim", SaveType 2 gives
// "/scan/trim/p001.jpg".
SettingsCheck MakeOutputPath(const std::string& source, const AppSettings& settings,
                             std::string& output);

// Elapsed milliseconds as whole minutes, ':' and two-digit seconds:
// 59999 → "0:59", 60000 → "1:00", 65000 → "1:05".
std::string FormatElapsed(std::uint32_t elapsedMs);

class CBatchDriver : public CAutoTrimTaskClient {
  public:
    // `view` and `settings` (the process's global record, written back at
    // each start) must outlive the driver. An empty `saveSettings` skips
    // saving; a null `msg` means qv::GlobalMsg().
    CBatchDriver(IBatchView& view, AppSettings& settings, BatchOptions options = {},
                 SettingsSaver saveSettings = {}, CMsg* msg = nullptr);
    // Shuts the pool down without time limit (running tasks finish).
    ~CBatchDriver() override;
    CBatchDriver(const CBatchDriver&) = delete;
    CBatchDriver& operator=(const CBatchDriver&) = delete;

    const BatchOptions& Options() const { return m_options; }
    // `recorder` (not owned, may be null) must outlive the driver's batches.
    void SetRecorder(IBatchRecorder* recorder) { m_recorder = recorder; }

    // Checks everything, then starts the workers on `files` (full paths, in
    // order); true when the batch runs. Steps, each failure shown with
    // ShowError and returning false with no worker started:
    //   0   the progress bar is reset to (0, number of files);
    //   1-2 the view's values into a copy of the settings (its failure is
    //       shown, then its field focused);
    //   3   a non-empty EmptyImagePath must be an existing non-directory
    //       (40016), its memory fit the budget (40400) and load (40017, with
    //       the reason and the path);
    //   4   every file must exist and not be a directory (40015, the path;
    //       40043 for a folder); one that cannot be looked at (a path too
    //       long, no permission on the way) fails with 40022, the reason and
    //       the path;
    //   5   earlier workers are waited for and the pool's lists emptied;
    //   6   per file: MakeOutputPath, the source protection (40019), the
    //       up-to-date test of `skipExisting`, its output folder must be
    //       writable or creatable (40403 with the reason and the folder), a
    //       folder or other non-file in the output's place refuses (40020),
    //       its output and temporary names must fit the file system (40404
    //       with the reason and the output), existing outputs noted; then
    //       the saver of SaveType must be available (40033);
    //   7   existing outputs: unless `yes`, one OK/Cancel question listing
    //       them (anything but OK: false, no message); nothing is deleted
    //       (each is replaced when its new result is whole);
    //   8   the copy becomes the global record and is saved: a save that
    //       throws is shown as a warning (40007) and the start goes on;
    //   9   skipped sources recorded; the previous results let go (Open
    //       Folder disabled), workers started (ThreadCount, no more than
    //       tasks), timer started, running state.
    // Refused without a message while a batch runs. Unexpected exceptions
    // are shown as their error records. A refused start is recorded with the
    // text shown for it.
    bool StartBatch(CPathList files);

    // Start-up with the command line's files: StartBatch when there are
    // files; under the end option a refused start quits with 1 and no files
    // quit with 0 (the pool shut down and the finished list emptied first;
    // the recorder gets an empty batch's end).
    void StartFromCommandLine(CPathList files);

    // Worker thread: hands the task to the recorder, then appends it to the
    // finished list, or drops it once the pool is closing. A record that
    // cannot be kept ends the batch as failed at the next tick.
    void OnTaskFinished(boost::shared_ptr<CAutoTrimTask> task) override;

    // One tick of the batch timer; ignored while the timer is not running.
    // Takes the newly finished tasks: the first failed one ends the batch;
    // otherwise the last new one's preview and size are shown (each written
    // page not cut as asked said, IBatchView::ShowPageWarning), the new
    // tasks' images released, progress and Open Folder updated, and the
    // status set to "%d / %d processing" (the next file's number, at most
    // total) followed by 0 to 9 dots (a process-wide counter, one more per
    // tick). Ends the batch as described above when no worker runs.
    void OnBatchTimer();

    // Ends the batch: with `task` as failed (its message shown), without as
    // completed.
    void FinishBatch(const AutoTrimTaskPtr& task);

    // Stop button: cancels the queued tasks and asks running ones to stop.
    // The batch then ends through the timer.
    void Stop();
    // Closing the window: shuts the pool down without time limit, releases
    // the finished tasks, stops the timer, Quit(0). No confirmation.
    void Close();
    // Open Folder: opens the output folder of the last written result with
    // the view's ShellOpen; failure shows 40014 with the folder and the
    // reason. Nothing without a result.
    void OpenFolder();

    bool Running() const { return m_running; }
    bool TimerRunning() const { return m_timerRunning; }
    int Processed() const { return m_processed; }
    // The source of the batch's task number `task` (0-based, in the order
    // the tasks are made); "" out of range. Valid until the next start.
    std::string_view TaskSource(int task) const;
    // The last written result's task whose report was taken (its images
    // released), kept after a batch until the next start; empty before.
    const AutoTrimTaskPtr& LastWritten() const { return m_lastWritten; }
    CTaskThreadPool& Pool() { return m_pool; }

  private:
    using End = BatchSummary::End;

    // The files of a batch and what its start decided for them; shared with
    // the feed that makes their tasks on the workers' threads, and never
    // changed once the batch runs.
    struct Plan {
        CPathList files;
        std::vector<std::uint32_t> taskFiles;  // the file of each task, in order
        AppSettings settings;
        DibPtr emptyImage;
        SIZE previewSize{0, 0};
    };
    using PlanPtr = boost::shared_ptr<Plan>;
    class CTaskFeed;

    CMsg& Msg() const;
    // Shows why a start is refused, and keeps the text for the recorder.
    void Refuse(const CSimpleErr& err);
    void Report(const SettingsCheck& check);
    // The steps of a start, in order; each shows why it refuses.
    bool StartBatchChecked(CPathList files);
    // The view's values into a copy of the settings.
    bool ReadViewSettings(AppSettings& local);
    // The empty image, loaded once for every task (none without a path).
    // Meanwhile the first source decodes on a thread of its own, for the
    // first task: on two cores the empty image then costs the batch hardly
    // any time. That decode writes and shows nothing; a refused start drops
    // it.
    // Its memory is reserved first, for the batch (`emptyMemory`).
    bool LoadEmptyImage(const AppSettings& local, const CPathList& files, DibPtr& emptyImage,
                        CMemoryReservation& emptyMemory, SourcePreloadPtr& firstSource);
    // Every source must be an existing file; the identities of the sources
    // (the files no output may replace), sorted.
    struct FileId {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        auto operator<=>(const FileId&) const = default;
    };
    bool CheckSources(const CPathList& files, std::vector<FileId>& sources);
    // The tasks of the plan (its files without those left alone); the
    // outputs that exist already (unless `yes`) and the output folders,
    // once each.
    struct PlannedOutputs {
        std::vector<std::string> existing;
        std::set<std::string> folders;
    };
    bool PlanTasks(Plan& plan, std::vector<FileId> protectedFiles, PlannedOutputs& outputs);
    bool ConfirmOverwrite(const PlannedOutputs& outputs);
    // The checked values become the settings of the process, and are saved.
    void AdoptSettings(const AppSettings& local);
    void StartPlanned(PlanPtr plan, SourcePreloadPtr firstSource,
                      const std::set<std::string>& outputFolders);
    void StartTimer();
    void KillTimer();
    void TimerTick();
    // The reports of the workers not yet taken, in their order, and the
    // first record that could not be kept since the last take.
    std::vector<AutoTrimTaskPtr> TakeFinished(CSimpleErr* recordErr = nullptr);
    // Counts a finished task, notes a page that needs a look and says one
    // not cut as asked (WarnIfNotAsAsked); once per task, at the tick that
    // takes it or at the batch's end.
    void RecordFinished(const AutoTrimTaskPtr& task);
    // Tells the view when `task` wrote its page but not as the settings
    // asked (IBatchView::ShowPageWarning).
    void WarnIfNotAsAsked(const CAutoTrimTask& task);
    void AbortWith(const std::string& message);
    void EndBatch(End end, const std::string& errorText);
    // The recorder's end of the batch; false when it could not be written
    // (the error shown).
    bool RecordEnd(const BatchSummary& summary);
    void ShutdownAndQuit(int exitCode);
    // Output folders (and parents) that do not exist yet: the batch creates
    // them. Those still empty when it ends are removed again.
    void NoteFoldersToCreate(const std::set<std::string>& folders);
    void RemoveEmptyCreatedFolders();
    void ClearFinished();
    bool NoReportWaiting() const;

    IBatchView& m_view;
    AppSettings& m_settings;
    BatchOptions m_options;
    SettingsSaver m_saveSettings;
    CMsg* m_msg;
    IBatchRecorder* m_recorder = nullptr;

    bool m_running = false;
    bool m_timerRunning = false;
    bool m_stopRequested = false;
    int m_total = 0;
    int m_processed = 0;
    std::uint32_t m_startTick = 0;
    std::string m_refusal;                      // the text of the last refusal
    PlanPtr m_plan;                             // of the running or last batch
    std::vector<std::string> m_outputFolders;   // of the running batch, once each
    std::vector<std::string> m_createdFolders;  // deepest first
    // What the batch's finished tasks came to, for its summary.
    BatchSummary m_tally;
    AutoTrimTaskPtr m_lastWritten;
    CMemoryReservation m_emptyImageMemory;  // while the batch runs

    // Appended by workers, taken by the timer; emptied at a start and at the
    // end of the driver. Never held together with a pool lock.
    mutable std::mutex m_finishedLock;
    std::vector<AutoTrimTaskPtr> m_finished;
    CSimpleErr m_recordErr;  // a worker's record that could not be kept
    // The running batch's feed: closed by the worker whose file failed, so
    // that no file after it is started (the batch ends at the next tick).
    boost::shared_ptr<CTaskFeed> m_feed;

    // Last member: destroyed (and its workers joined) first.
    CTaskThreadPool m_pool;
};

}  // namespace qv
