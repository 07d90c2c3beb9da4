#include "batch/BatchDriver.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "batch/TickCount.h"
#include "msg/Exception.h"
#include "msg/Format.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "trim/TaskFiles.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

// Shared by every batch of the process: the dots keep moving from one batch
// to the next.
unsigned g_statusCounter = 0;

// Temporary files of saves older than this were left by a run that died.
constexpr std::chrono::hours kStaleTemporaryAge{24};

bool IsExistingFile(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    return !ec && fs::exists(status) && !fs::is_directory(status);
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(fs::path(path), ec);
}

std::string JoinPath(const std::string& left, const std::string& right) {
    if (left.empty() || left.back() == '/') {
        return left + right;
    }
    return left + '/' + right;
}

// A path with every symbolic link, "." and ".." resolved as far as the path
// exists, the rest normalised lexically; the same text means the same file.
std::string PathKey(const std::string& path) {
    std::error_code ec;
    fs::path key = fs::weakly_canonical(fs::path(path), ec);
    if (ec) {
        key = fs::absolute(fs::path(path), ec).lexically_normal();
        if (ec) {
            key = fs::path(path).lexically_normal();
        }
    }
    return key.string();
}

// The files a batch must never write over: its sources and its empty image.
class CProtectedFiles {
  public:
    void Add(const std::string& path) {
        m_paths.push_back(path);
        m_keys.insert(PathKey(path));
    }

    bool Contains(const std::string& output) const {
        if (m_keys.count(PathKey(output)) != 0) {
            return true;
        }
        // A second name of the same file is only possible for a file with
        // several hard links; only then is every protected file compared.
        std::error_code ec;
        const std::uintmax_t links = fs::hard_link_count(fs::path(output), ec);
        if (ec || links < 2) {
            return false;
        }
        return std::any_of(m_paths.begin(), m_paths.end(), [&](const std::string& path) {
            std::error_code equivalentEc;
            return fs::equivalent(fs::path(path), fs::path(output), equivalentEc) && !equivalentEc;
        });
    }

  private:
    std::vector<std::string> m_paths;
    std::unordered_set<std::string> m_keys;
};

template <class... Args>
CSimpleErr ErrorRecord(std::uint32_t id, const Args&... args) {
    CSimpleErr err;
    err.Set(id, args...);
    return err;
}

}  // namespace

SettingsCheck MakeOutputPath(const std::string& source, const AppSettings& settings,
                             std::string& output) {
    SettingsCheck check;
    const std::string subFolder = settings.SubFolderName();
    if (subFolder.empty()) {
        check.error.Set(kMsgSubFolderEmpty);
        check.field = SettingsField::SubFolder;
        return check;
    }
    const std::size_t slash = source.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : source.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    if (name.empty()) {
        check.error.Set(kMsgPathInvalid, source);
        return check;
    }
    const std::size_t dot = name.find_last_of('.');
    const std::string base = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
    output = JoinPath(JoinPath(folder, subFolder), base + "." + std::string(settings.Extension()));
    return check;
}

std::string FormatElapsed(std::uint32_t elapsedMs) {
    const std::uint32_t minutes = elapsedMs / 60000;
    const std::uint32_t seconds = elapsedMs / 1000 % 60;
    return std::to_string(minutes) + (seconds < 10 ? ":0" : ":") + std::to_string(seconds);
}

CBatchDriver::CBatchDriver(IBatchView& view, AppSettings& settings, BatchOptions options,
                           SettingsSaver saveSettings, CMsg* msg)
    : m_view(view),
      m_settings(settings),
      m_options(options),
      m_saveSettings(std::move(saveSettings)),
      m_msg(msg) {}

CBatchDriver::~CBatchDriver() {
    // The view may already be half gone: only the pool and the list here.
    m_pool.Shutdown(kInfinite);
    ClearFinished();
}

CMsg& CBatchDriver::Msg() const {
    return m_msg != nullptr ? *m_msg : qv::GlobalMsg();
}

void CBatchDriver::Report(const SettingsCheck& check) {
    Msg().ShowError(check.error);
    if (check.field != SettingsField::None) {
        m_view.FocusField(check.field);
    }
}

bool CBatchDriver::StartBatch(const std::vector<std::string>& files) {
    if (m_running) {
        return false;
    }
    // The bar of the previous batch goes, whether this one starts or not.
    m_view.SetProgress(0, static_cast<int>(files.size()));
    bool started = false;
    CSimpleErr err;
    InvokeGuarded(err, [&] { started = StartBatchChecked(files); });
    if (!err.Failed()) {
        return started;
    }
    // Whatever the exception interrupted, nothing of this batch may run on.
    KillTimer();
    m_running = false;
    m_pool.CancelAndWait(kInfinite);
    m_view.SetRunningState(false);
    Msg().ShowError(err);
    return false;
}

bool CBatchDriver::StartBatchChecked(const std::vector<std::string>& files) {
    PrepareTaskCodecs();
    AppSettings local = m_settings;
    DibPtr emptyImage;
    SourcePreloadPtr firstSource;
    if (!ReadViewSettings(local) || !LoadEmptyImage(local, files, emptyImage, firstSource) ||
        !CheckSources(files)) {
        return false;
    }
    // The previous batch's workers are gone and both pool lists empty.
    m_pool.CancelAndWait(kInfinite);

    // From here on a refused start drops the tasks it has queued.
    struct DropQueuedOnFailure {
        CTaskThreadPool& pool;
        bool keep = false;
        ~DropQueuedOnFailure() {
            if (!keep) {
                pool.CancelAndWait(kInfinite);
            }
        }
    } dropQueued{m_pool};

    QueuedOutputs outputs;
    if (!QueueTasks(files, local, emptyImage, std::move(firstSource), outputs) ||
        !ConfirmOverwrite(outputs)) {
        return false;
    }
    NoteFoldersToCreate(outputs.folders);
    for (const std::string& folder : outputs.folders) {
        RemoveStaleSaves(folder, kStaleTemporaryAge);
    }
    if (!AdoptSettings(local)) {
        return false;
    }
    dropQueued.keep = true;
    StartQueued(files.size(), outputs.folders);
    return true;
}

bool CBatchDriver::ReadViewSettings(AppSettings& local) {
    if (const SettingsCheck check = m_view.ReadSettings(local); check.Failed()) {
        Report(check);
        return false;
    }
    return true;
}

bool CBatchDriver::LoadEmptyImage(const AppSettings& local, const std::vector<std::string>& files,
                                  DibPtr& emptyImage, SourcePreloadPtr& firstSource) {
    const std::string emptyPath = local.EmptyImagePath();
    if (emptyPath.empty()) {
        return true;
    }
    if (!IsExistingFile(emptyPath)) {
        Msg().ShowError(ErrorRecord(kMsgEmptyPathNotFound));
        return false;
    }
    if (!files.empty() && IsExistingFile(files.front())) {
        firstSource = StartSourcePreload(files.front());
    }
    if (FAILED(LoadImageFile(emptyImage, emptyPath)) || !emptyImage) {
        Msg().ShowError(ErrorRecord(kMsgEmptyPathLoadFailed));
        return false;
    }
    return true;
}

bool CBatchDriver::CheckSources(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        if (IsFolder(file)) {
            Msg().ShowError(ErrorRecord(kMsgIsAFolder, file));
            return false;
        }
        if (!IsExistingFile(file)) {
            Msg().ShowError(ErrorRecord(kMsgPathNotFound, file));
            return false;
        }
    }
    return true;
}

bool CBatchDriver::QueueTasks(const std::vector<std::string>& files, const AppSettings& local,
                              const DibPtr& emptyImage, SourcePreloadPtr firstSource,
                              QueuedOutputs& outputs) {
    CProtectedFiles protectedFiles;
    for (const std::string& file : files) {
        protectedFiles.Add(file);
    }
    const std::string emptyPath = local.EmptyImagePath();
    if (!emptyPath.empty()) {
        protectedFiles.Add(emptyPath);
    }
    const SIZE previewSize = m_view.PreviewSize();
    // Output → source: two different sources must not share one output
    // (p.png and p.tif both give trim/p.png), or one result would silently
    // replace the other. The same source named twice is harmless.
    std::map<std::string, std::string> sourceOfOutput;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string output;
        if (const SettingsCheck check = MakeOutputPath(files[i], local, output); check.Failed()) {
            Report(check);
            return false;
        }
        const auto [entry, added] = sourceOfOutput.emplace(PathKey(output), PathKey(files[i]));
        if (protectedFiles.Contains(output) || (!added && entry->second != PathKey(files[i]))) {
            Msg().ShowError(ErrorRecord(kMsgPathInvalid, output));
            return false;
        }
        AutoTrimTaskPtr task(new CAutoTrimTask);
        task->Init(emptyImage, static_cast<std::int32_t>(i), files[i], output, this);
        if (i == 0) {
            task->SetSourcePreload(std::move(firstSource));
        }
        task->SetParams(local.AutoTrim);
        task->SetPreviewSize(previewSize.cx, previewSize.cy);
        if (FAILED(SetTaskSaver(*task, local))) {
            Msg().ShowError(ErrorRecord(kMsgNoSaveLibrary));
            return false;
        }
        m_pool.AddTask(task);
        // An existing output is replaced only by its new file, whole, when
        // that is renamed over it; here it is only checked that it can be.
        const HRESULT target = CheckOutputTarget(output);
        if (FAILED(target)) {
            Msg().ShowError(ErrorRecord(kMsgDeleteFileFailed, output));
            return false;
        }
        if (target == S_OK) {
            outputs.existing.push_back(output);
        }
        outputs.folders.insert(task->OutputFolder());
    }
    return true;
}

bool CBatchDriver::ConfirmOverwrite(const QueuedOutputs& outputs) {
    // One question for all of them. Nothing is deleted: a file that fails or
    // is never reached keeps its old output.
    return outputs.existing.empty() || m_options.yes ||
           Msg().ConfirmOverwriteFiles(outputs.existing);
}

bool CBatchDriver::AdoptSettings(const AppSettings& local) {
    m_settings = local;
    if (!m_saveSettings) {
        return true;
    }
    try {
        m_saveSettings(m_settings);
        return true;
    } catch (const my::CException& e) {
        Msg().ShowError(e);
    } catch (...) {
        Msg().ShowError(ErrorRecord(kMsgSaveSettingsFailed));
    }
    return false;
}

void CBatchDriver::StartQueued(std::size_t count, const std::set<std::string>& outputFolders) {
    m_startTick = GetTickCount32();
    m_total = static_cast<int>(count);
    m_processed = 0;
    m_reductionTold = false;
    m_outputFolders.assign(outputFolders.begin(), outputFolders.end());
    ClearFinished();
    m_view.EnableOpenFolder(false);
    m_pool.SetThreadCount(m_settings.ThreadCount);
    m_running = true;
    // A worker that fails to start is noticed by the timer: the batch then
    // ends as stopped once nothing runs any more.
    m_pool.StartAll();
    StartTimer();
    m_view.SetRunningState(true);
}

void CBatchDriver::StartFromCommandLine(const std::vector<std::string>& files) {
    if (files.empty()) {
        if (m_options.end) {
            ShutdownAndQuit(0);
        }
        return;
    }
    if (!StartBatch(files) && m_options.end) {
        ShutdownAndQuit(1);
    }
}

void CBatchDriver::OnTaskFinished(boost::shared_ptr<CAutoTrimTask> task) {
    if (m_pool.IsClosing()) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_finishedLock);
    m_finished.push_back(std::move(task));
}

void CBatchDriver::OnBatchTimer() {
    if (!m_timerRunning) {
        return;
    }
    CSimpleErr err;
    InvokeGuarded(err, [this] { TimerTick(); });
    if (err.Failed()) {
        // A tick that cannot be completed ends the batch as failed with the
        // reason; should even that fail, the tick must still not throw.
        CSimpleErr ignored;
        InvokeGuarded(ignored, [&] { AbortWith(err.message); });
        if (m_running) {
            m_running = false;
            InvokeGuarded(ignored, [this] { m_view.SetRunningState(false); });
        }
    }
}

void CBatchDriver::TimerTick() {
    std::vector<AutoTrimTaskPtr> snapshot;
    {
        std::lock_guard<std::mutex> lock(m_finishedLock);
        snapshot = m_finished;
    }
    const int count = static_cast<int>(snapshot.size());

    for (int i = m_processed; i < count; ++i) {
        if (snapshot[i]->ResultId() != 0) {
            KillTimer();
            m_pool.Cancel(true);
            m_pool.WaitAll(kInfinite);
            FinishBatch(snapshot[i]);
            return;
        }
    }

    if (m_processed < count) {
        const CAutoTrimTask& last = *snapshot[count - 1];
        m_view.ShowPreview(last.PreviewImage());
        if (const DibPtr& output = last.OutputImage()) {
            m_view.ShowResultSize(output->Width(), std::abs(output->Height()));
        }
    }
    for (int i = m_processed; i < count; ++i) {
        const CAutoTrimTask& task = *snapshot[i];
        if (!m_reductionTold && task.KindReduced()) {
            m_reductionTold = true;
            m_view.ShowNotice(Formatted(kMsgKindsReduced, ResString(PixelKindNameId(*task.OutputKind())),
                                        ResString(PixelKindNameId(*task.SavedKind())),
                                        task.SourcePath()));
        }
        snapshot[i]->ReleaseImages();
    }
    m_processed = count;
    m_view.EnableOpenFolder(count != 0);  // every one of them was written
    m_view.SetProgress(m_processed, m_total);

    if (m_pool.AnyWorkerRunning()) {
        // The last task may have reported while its thread still winds down.
        const int current = std::min(m_processed + 1, m_total);
        m_view.SetStatusText(Formatted(kMsgProcessing, current, m_total) +
                             std::string(g_statusCounter % 10, '.'));
        ++g_statusCounter;
    } else if (m_processed >= m_total) {
        KillTimer();
        m_pool.WaitAll(kInfinite);
        FinishBatch(AutoTrimTaskPtr());
    } else if (FinishedCount() == snapshot.size()) {
        // No worker is left and no report arrived after the snapshot (a
        // worker appends before its thread ends): the missing tasks were
        // cancelled or lost with their worker and will never report.
        KillTimer();
        m_pool.WaitAll(kInfinite);
        EndBatch(End::Stopped, std::string());
    }
}

void CBatchDriver::AbortWith(const std::string& message) {
    KillTimer();
    if (!m_running) {
        return;
    }
    m_pool.Cancel(true);
    m_pool.WaitAll(kInfinite);
    EndBatch(End::Failed, message);
}

void CBatchDriver::FinishBatch(const AutoTrimTaskPtr& task) {
    if (task) {
        EndBatch(End::Failed, task->MessageText());
    } else {
        EndBatch(End::Completed, std::string());
    }
}

void CBatchDriver::EndBatch(End end, const std::string& errorText) {
    KillTimer();
    const std::uint32_t elapsed = GetTickCount32() - m_startTick;
    switch (end) {
        case End::Failed:
            m_view.SetStatusText(ResString(kMsgProcessTerminated));
            Msg().Show(errorText, MB_ICONERROR);
            break;
        case End::Stopped:
            m_view.SetStatusText(ResString(kMsgProcessTerminated));
            break;
        case End::Completed:
            m_view.SetStatusText(Formatted(kMsgFilesProcessed, m_total) + " - " +
                                 FormatElapsed(elapsed));
            m_view.FlashCaption();
            break;
    }
    BatchSummary summary{end, m_total, 0, elapsed, m_outputFolders, {}};
    for (const AutoTrimTaskPtr& task : FinishedTasks()) {
        if (task->ResultId() != 0) {
            continue;
        }
        ++summary.written;
        if (task->Verdict().NeedsReview()) {
            summary.review.push_back(ReviewItem{task->SourcePath(), task->OutputPath(),
                                                VerdictReasonTexts(task->Verdict(), UiLanguage())});
        }
    }
    m_view.EnableOpenFolder(summary.written != 0);
    m_view.ShowBatchSummary(summary);
    RemoveEmptyCreatedFolders();
    // Running until the message was answered: no drop starts a batch meanwhile.
    m_running = false;
    m_view.SetRunningState(false);
    if (m_options.end) {
        ShutdownAndQuit(end == End::Completed ? 0 : 1);
    }
}

void CBatchDriver::Stop() {
    m_pool.Cancel(true);
}

void CBatchDriver::Close() {
    m_pool.Shutdown(kInfinite);
    RemoveEmptyCreatedFolders();
    ClearFinished();
    KillTimer();
    m_running = false;
    m_view.Quit(0);
}

void CBatchDriver::ShutdownAndQuit(int exitCode) {
    m_pool.Shutdown(kInfinite);
    ClearFinished();
    KillTimer();
    m_running = false;
    m_view.Quit(exitCode);
}

void CBatchDriver::OpenFolder() {
    std::string folder;
    {
        std::lock_guard<std::mutex> lock(m_finishedLock);
        const auto last =
            std::find_if(m_finished.rbegin(), m_finished.rend(),
                         [](const AutoTrimTaskPtr& task) { return task->ResultId() == 0; });
        if (last == m_finished.rend()) {
            return;
        }
        folder = (*last)->OutputFolder();
    }
    // The shell is called without the lock: a worker may be waiting for it.
    std::string reason;
    CSimpleErr err;
    InvokeGuarded(err, [&] { reason = m_view.ShellOpen(folder); });
    if (err.Failed()) {
        reason = err.message;
    }
    if (!reason.empty()) {
        Msg().ShowError(ErrorRecord(kMsgOpenPathFailed, folder, reason));
    }
}

std::vector<AutoTrimTaskPtr> CBatchDriver::FinishedTasks() const {
    std::lock_guard<std::mutex> lock(m_finishedLock);
    return m_finished;
}

std::size_t CBatchDriver::FinishedCount() const {
    std::lock_guard<std::mutex> lock(m_finishedLock);
    return m_finished.size();
}

void CBatchDriver::ClearFinished() {
    std::vector<AutoTrimTaskPtr> released;
    {
        std::lock_guard<std::mutex> lock(m_finishedLock);
        released.swap(m_finished);
    }
    // The tasks (and their images) are freed here, outside the lock.
}

void CBatchDriver::NoteFoldersToCreate(const std::set<std::string>& folders) {
    m_createdFolders.clear();
    for (const std::string& folder : folders) {
        // The folder and its missing parents, deepest first.
        for (fs::path missing = fs::path(folder).lexically_normal().parent_path();
             !missing.empty() && missing != missing.root_path(); missing = missing.parent_path()) {
            std::error_code ec;
            if (fs::symlink_status(missing, ec).type() != fs::file_type::not_found) {
                break;
            }
            m_createdFolders.push_back(missing.string());
        }
    }
    std::sort(m_createdFolders.begin(), m_createdFolders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

void CBatchDriver::RemoveEmptyCreatedFolders() {
    // Every worker has ended: nothing can be saving into them any more.
    for (const std::string& folder : m_createdFolders) {
        std::error_code ec;
        if (fs::is_directory(fs::symlink_status(folder, ec)) && fs::is_empty(folder, ec) && !ec) {
            fs::remove(folder, ec);
        }
    }
    m_createdFolders.clear();
}

void CBatchDriver::StartTimer() {
    m_timerRunning = true;
    m_view.StartBatchTimer();
}

void CBatchDriver::KillTimer() {
    if (m_timerRunning) {
        m_timerRunning = false;
        m_view.KillBatchTimer();
    }
}

}  // namespace qv
