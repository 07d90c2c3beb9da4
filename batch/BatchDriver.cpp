#include "batch/BatchDriver.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>
#include <tuple>
#include <utility>

#include "batch/TickCount.h"
#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "msg/Exception.h"
#include "msg/Format.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "msg/SystemErrorText.h"
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

// What stat says of a path (links followed): nothing when it cannot be
// reached, and why.
struct PathFacts {
    int error = 0;  // the errno of a stat that failed
    bool exists = false;
    bool folder = false;
    bool regular = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    timespec modified{};
};

PathFacts FactsOf(const std::string& path) {
    PathFacts facts;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        facts.exists = true;
        facts.folder = S_ISDIR(info.st_mode);
        facts.regular = S_ISREG(info.st_mode);
        facts.device = info.st_dev;
        facts.inode = info.st_ino;
        facts.modified = info.st_mtim;
    } else {
        facts.error = errno;
    }
    return facts;
}

bool NotEarlier(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}

std::string JoinPath(const std::string& left, const std::string& right) {
    if (left.empty() || left.back() == '/') {
        return left + right;
    }
    return left + '/' + right;
}

// The folder of an output path: up to and including its last '/'.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Output paths with every symbolic link, "." and ".." of their folder
// resolved as far as the folder exists, the rest normalised lexically: the
// same text means the same file, also through a folder the batch will
// create ("new/../p.png" is "p.png"). The folder of the last path is kept:
// a list's outputs come folder by folder.
class COutputKeys {
  public:
    std::string Key(const std::string& output) {
        const std::size_t slash = output.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : output.substr(0, slash);
        if (folder != m_folder || !m_valid) {
            m_folder = folder;
            m_key = Resolved(folder.empty() ? "/" : folder);
            m_valid = true;
        }
        const std::string_view name = slash == std::string::npos
                                          ? std::string_view(output)
                                          : std::string_view(output).substr(slash + 1);
        std::string key = m_key;
        if (key.empty() || key.back() != '/') {
            key += '/';
        }
        key += name;
        return key;
    }

  private:
    static std::string Resolved(const std::string& folder) {
        std::error_code ec;
        fs::path key = fs::weakly_canonical(fs::path(folder), ec);
        if (ec) {
            key = fs::absolute(fs::path(folder), ec).lexically_normal();
            if (ec) {
                key = fs::path(folder).lexically_normal();
            }
        }
        return key.string();
    }

    std::string m_folder;
    std::string m_key;
    bool m_valid = false;
};

std::string ReasonText(HRESULT hr) {
    return SystemErrorText(static_cast<std::uint32_t>(hr));
}

template <class... Args>
CSimpleErr ErrorRecord(std::uint32_t id, const Args&... args) {
    CSimpleErr err;
    err.Set(id, args...);
    return err;
}

// The output of a source whose output path was made once already at the
// start with the same settings (so it cannot fail now).
std::string OutputOf(std::string_view source, const AppSettings& settings) {
    std::string output;
    (void)MakeOutputPath(std::string(source), settings, output);
    return output;
}

}  // namespace

// Makes the batch's tasks as the workers ask for them, in the plan's order.
class CBatchDriver::CTaskFeed : public ITaskFeed<CAutoTrimTask> {
  public:
    CTaskFeed(PlanPtr plan, SourcePreloadPtr firstSource, CAutoTrimTaskClient* client)
        : m_plan(std::move(plan)), m_firstSource(std::move(firstSource)), m_client(client) {}

    AutoTrimTaskPtr Next() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed || m_next >= m_plan->taskFiles.size()) {
            return AutoTrimTaskPtr();
        }
        const std::uint32_t file = m_plan->taskFiles[m_next++];
        const std::string_view source = m_plan->files[file];
        AutoTrimTaskPtr task(new CAutoTrimTask);
        task->Init(m_plan->emptyImage, static_cast<std::int32_t>(file), std::string(source),
                   OutputOf(source, m_plan->settings), m_client);
        if (file == 0) {
            task->SetSourcePreload(std::move(m_firstSource));
        }
        task->SetParams(m_plan->settings.AutoTrim);
        task->SetPreviewSize(m_plan->previewSize.cx, m_plan->previewSize.cy);
        // The saver was tried at the start; should it fail now, the task
        // fails with 40033 itself.
        (void)SetTaskSaver(*task, m_plan->settings);
        return task;
    }

    void Close() override {
        SourcePreloadPtr dropped;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        dropped = std::move(m_firstSource);
    }

  private:
    std::mutex m_mutex;
    const PlanPtr m_plan;
    SourcePreloadPtr m_firstSource;
    CAutoTrimTaskClient* const m_client;
    std::size_t m_next = 0;
    bool m_closed = false;
};

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

void CBatchDriver::Refuse(const CSimpleErr& err) {
    m_refusal = err.message;
    Msg().ShowError(err);
}

void CBatchDriver::Report(const SettingsCheck& check) {
    Refuse(check.error);
    if (check.field != SettingsField::None) {
        m_view.FocusField(check.field);
    }
}

bool CBatchDriver::StartBatch(CPathList files) {
    if (m_running) {
        return false;
    }
    m_refusal.clear();
    const std::size_t count = files.size();
    // The bar of the previous batch goes, whether this one starts or not.
    m_view.SetProgress(0, static_cast<int>(count));
    bool started = false;
    CSimpleErr err;
    InvokeGuarded(err, [&] { started = StartBatchChecked(std::move(files)); });
    if (err.Failed()) {
        // Whatever the exception interrupted, nothing of this batch may run on.
        KillTimer();
        m_running = false;
        m_pool.CancelAndWait(kInfinite);
        m_view.SetRunningState(false);
        Refuse(err);
    }
    if (!started && m_recorder != nullptr) {
        CSimpleErr recordErr;
        InvokeGuarded(recordErr, [&] { m_recorder->RecordRefusal(m_refusal, count, m_settings); });
        if (recordErr.Failed()) {
            Msg().ShowError(recordErr);
        }
    }
    return started;
}

bool CBatchDriver::StartBatchChecked(CPathList files) {
    // The batch's thread lives to the end of the process, and no task or
    // preload has started yet.
    PrepareImageCodecs();
    const PlanPtr plan(new Plan);
    plan->files = std::move(files);
    plan->settings = m_settings;
    SourcePreloadPtr firstSource;
    CMemoryReservation emptyMemory;
    std::vector<FileId> sources;
    if (!ReadViewSettings(plan->settings) ||
        !LoadEmptyImage(plan->settings, plan->files, plan->emptyImage, emptyMemory, firstSource) ||
        !CheckSources(plan->files, sources)) {
        return false;
    }
    // The previous batch's workers are gone and both pool lists empty.
    m_pool.CancelAndWait(kInfinite);

    PlannedOutputs outputs;
    plan->previewSize = m_view.PreviewSize();
    if (!PlanTasks(*plan, std::move(sources), outputs) || !ConfirmOverwrite(outputs)) {
        return false;
    }
    NoteFoldersToCreate(outputs.folders);
    for (const std::string& folder : outputs.folders) {
        RemoveStaleTemporaryFiles(folder, kStaleTemporaryAge);
    }
    AdoptSettings(plan->settings);
    m_emptyImageMemory = std::move(emptyMemory);
    StartPlanned(plan, std::move(firstSource), outputs.folders);
    return true;
}

bool CBatchDriver::ReadViewSettings(AppSettings& local) {
    if (const SettingsCheck check = m_view.ReadSettings(local); check.Failed()) {
        Report(check);
        return false;
    }
    return true;
}

bool CBatchDriver::LoadEmptyImage(const AppSettings& local, const CPathList& files,
                                  DibPtr& emptyImage, CMemoryReservation& emptyMemory,
                                  SourcePreloadPtr& firstSource) {
    const std::string emptyPath = local.EmptyImagePath();
    if (emptyPath.empty()) {
        return true;
    }
    if (!IsExistingFile(emptyPath)) {
        Refuse(ErrorRecord(kMsgEmptyPathNotFound));
        return false;
    }
    // Held for the whole batch: every task shares the image. Reserved before
    // the first source's preload takes its share.
    CMemoryReservation memory;
    std::uint64_t need = 0;
    if (ReserveImageMemory(memory, emptyPath, need) ==
        HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)) {
        CSimpleErr err;
        err.id = kMsgImageBeyondBudget;
        err.message = ImageBeyondBudgetText(need, emptyPath);
        Refuse(err);
        return false;
    }
    // Under skipExisting the first file may be left alone: nothing is
    // decoded ahead then.
    if (!files.empty() && !m_options.skipExisting && IsExistingFile(std::string(files.front()))) {
        firstSource = StartSourcePreload(std::string(files.front()));
    }
    const HRESULT loaded = LoadDibFromFile(emptyImage, emptyPath);
    if (FAILED(loaded) || !emptyImage) {
        Refuse(ErrorRecord(kMsgEmptyPathLoadFailed, ReasonText(FAILED(loaded) ? loaded : E_FAIL),
                           emptyPath));
        return false;
    }
    emptyMemory = std::move(memory);
    return true;
}

bool CBatchDriver::CheckSources(const CPathList& files, std::vector<FileId>& sources) {
    sources.reserve(files.size());
    for (const std::string_view file : files) {
        const PathFacts facts = FactsOf(std::string(file));
        if (facts.folder) {
            Refuse(ErrorRecord(kMsgIsAFolder, file));
            return false;
        }
        // Missing is "not found"; a path that cannot even be looked at (too
        // long, no permission on the way) says why.
        if (!facts.exists && facts.error != ENOENT && facts.error != ENOTDIR) {
            Refuse(
                ErrorRecord(kMsgReadImageFailed, ReasonText(HResultFromErrno(facts.error)), file));
            return false;
        }
        if (!facts.exists) {
            Refuse(ErrorRecord(kMsgPathNotFound, file));
            return false;
        }
        sources.push_back(FileId{facts.device, facts.inode});
    }
    return true;
}

bool CBatchDriver::PlanTasks(Plan& plan, std::vector<FileId> protectedFiles,
                             PlannedOutputs& outputs) {
    const AppSettings& local = plan.settings;
    const CPathList& files = plan.files;
    // No output may be a source or the empty image, by any name: compared
    // by the file's identity, where the output's folder exists.
    const std::string emptyPath = local.EmptyImagePath();
    if (!emptyPath.empty()) {
        const PathFacts empty = FactsOf(emptyPath);
        protectedFiles.push_back(FileId{empty.device, empty.inode});
    }
    std::sort(protectedFiles.begin(), protectedFiles.end());
    const auto isProtected = [&](const PathFacts& facts) {
        return facts.exists && std::binary_search(protectedFiles.begin(), protectedFiles.end(),
                                                  FileId{facts.device, facts.inode});
    };

    COutputKeys keys;
    std::set<std::string> checkedFolders;
    // Each output's key, hashed, with its file: two different sources must
    // not share one output (p.png and p.tif both give trim/p.png), or one
    // result would silently replace the other.
    std::vector<std::pair<std::size_t, std::uint32_t>> outputHashes;
    outputHashes.reserve(files.size());
    plan.taskFiles.reserve(files.size());
    for (std::uint32_t i = 0; i < files.size(); ++i) {
        const std::string source(files[i]);
        std::string output;
        if (const SettingsCheck check = MakeOutputPath(source, local, output); check.Failed()) {
            Report(check);
            return false;
        }
        const std::string key = keys.Key(output);
        const PathFacts target = FactsOf(key);
        if (isProtected(target)) {
            Refuse(ErrorRecord(kMsgPathInvalid, output));
            return false;
        }
        outputHashes.emplace_back(std::hash<std::string>{}(key), i);
        outputs.folders.insert(FolderOf(output));
        if (m_options.skipExisting && target.regular &&
            NotEarlier(target.modified, FactsOf(source).modified)) {
            continue;
        }
        // Whatever would keep a result from being saved is found now, before
        // any page is made.
        if (const std::string folder = FolderOf(output); checkedFolders.insert(folder).second) {
            if (const HRESULT hr = CheckSaveFolder(folder); FAILED(hr)) {
                Refuse(ErrorRecord(kMsgOutputFolderNotWritable, ReasonText(hr), folder));
                return false;
            }
        }
        // An existing output is replaced only by its new file, whole, when
        // that is renamed over it; here it is only checked that it can be.
        const HRESULT replaceable = CheckSaveTarget(output);
        if (replaceable == HResultFromErrno(EISDIR) || replaceable == E_ACCESSDENIED) {
            Refuse(ErrorRecord(kMsgDeleteFileFailed, output));
            return false;
        }
        if (FAILED(replaceable)) {
            Refuse(ErrorRecord(kMsgOutputNameInvalid, ReasonText(replaceable), output));
            return false;
        }
        if (replaceable == S_OK && !m_options.yes) {
            outputs.existing.push_back(output);
        }
        plan.taskFiles.push_back(i);
    }

    // Outputs of equal hash are compared by their keys; the same source
    // named twice (the same file) is harmless. The clash reported is the
    // first file in order whose output an earlier, different source has.
    std::sort(outputHashes.begin(), outputHashes.end());
    std::uint32_t clash = UINT32_MAX;
    for (std::size_t first = 0, last; first < outputHashes.size(); first = last) {
        for (last = first + 1;
             last < outputHashes.size() && outputHashes[last].first == outputHashes[first].first;
             ++last) {
        }
        if (last - first < 2) {
            continue;
        }
        // (key, file, identity) of the group, by key and then file order:
        // within a key every file is compared with the first.
        std::vector<std::tuple<std::string, std::uint32_t, FileId>> group;
        for (std::size_t j = first; j < last; ++j) {
            const std::uint32_t file = outputHashes[j].second;
            const PathFacts source = FactsOf(std::string(files[file]));
            group.emplace_back(keys.Key(OutputOf(files[file], local)), file,
                               FileId{source.device, source.inode});
        }
        std::sort(group.begin(), group.end());
        for (std::size_t j = 1, head = 0; j < group.size(); ++j) {
            if (std::get<0>(group[j]) != std::get<0>(group[head])) {
                head = j;
            } else if (std::get<2>(group[j]) != std::get<2>(group[head])) {
                clash = std::min(clash, std::get<1>(group[j]));
            }
        }
    }
    if (clash != UINT32_MAX) {
        Refuse(ErrorRecord(kMsgPathInvalid, OutputOf(files[clash], local)));
        return false;
    }

    CAutoTrimTask probe;
    if (FAILED(SetTaskSaver(probe, local))) {
        Refuse(ErrorRecord(kMsgNoSaveLibrary));
        return false;
    }
    return true;
}

bool CBatchDriver::ConfirmOverwrite(const PlannedOutputs& outputs) {
    // One question for all of them. Nothing is deleted: a file that fails or
    // is never reached keeps its old output.
    return outputs.existing.empty() || m_options.yes ||
           Msg().ConfirmOverwriteFiles(outputs.existing);
}

void CBatchDriver::AdoptSettings(const AppSettings& local) {
    m_settings = local;
    if (!m_saveSettings) {
        return;
    }
    // Settings that cannot be kept never stop a batch: why is said, as a
    // warning, and the batch goes on.
    CSimpleErr err;
    InvokeGuarded(err, [this] { m_saveSettings(m_settings); });
    if (err.Failed()) {
        if (err.id != kMsgSaveSettingsFailed) {
            err.Set(kMsgSaveSettingsFailed);
        }
        Msg().Show(err.message, MB_OK | MB_ICONWARNING);
    }
}

void CBatchDriver::StartPlanned(PlanPtr plan, SourcePreloadPtr firstSource,
                                const std::set<std::string>& outputFolders) {
    // Sources left alone are recorded first; the file of a task is the next
    // one in the list that has one.
    if (m_recorder != nullptr && plan->taskFiles.size() < plan->files.size()) {
        std::size_t task = 0;
        for (std::uint32_t i = 0; i < plan->files.size(); ++i) {
            if (task < plan->taskFiles.size() && plan->taskFiles[task] == i) {
                ++task;
            } else {
                m_recorder->RecordSkipped(plan->files[i], OutputOf(plan->files[i], plan->settings));
            }
        }
    }
    if (plan->taskFiles.empty() || plan->taskFiles.front() != 0) {
        firstSource.reset();
    }
    m_startTick = GetTickCount32();
    m_total = static_cast<int>(plan->taskFiles.size());
    m_processed = 0;
    m_stopRequested = false;
    m_tally = BatchSummary{};
    m_tally.skipped = static_cast<int>(plan->files.size() - plan->taskFiles.size());
    m_outputFolders.assign(outputFolders.begin(), outputFolders.end());
    ClearFinished();
    m_lastWritten.reset();
    m_view.EnableOpenFolder(false);
    m_plan = plan;
    m_feed = boost::make_shared<CTaskFeed>(std::move(plan), std::move(firstSource), this);
    m_pool.SetFeed(m_feed);
    // Workers beyond the number of tasks would end at once: their stacks
    // are not worth the address space.
    m_pool.SetThreadCount(std::min<LONG>(m_settings.ThreadCount, m_total));
    m_running = true;
    // A worker that fails to start is noticed by the timer: the batch then
    // ends as stopped once nothing runs any more.
    m_pool.StartAll();
    StartTimer();
    m_view.SetRunningState(true);
}

void CBatchDriver::StartFromCommandLine(CPathList files) {
    if (files.empty()) {
        if (m_recorder != nullptr) {
            RecordEnd(BatchSummary{});
        }
        if (m_options.end) {
            ShutdownAndQuit(0);
        }
        return;
    }
    if (!StartBatch(std::move(files)) && m_options.end) {
        ShutdownAndQuit(1);
    }
}

std::string_view CBatchDriver::TaskSource(int task) const {
    if (!m_plan || task < 0 || static_cast<std::size_t>(task) >= m_plan->taskFiles.size()) {
        return {};
    }
    return m_plan->files[m_plan->taskFiles[static_cast<std::size_t>(task)]];
}

void CBatchDriver::OnTaskFinished(boost::shared_ptr<CAutoTrimTask> task) {
    // Recorded here, at once: a run killed a moment later has the file in
    // its record (its result is written already).
    CSimpleErr recordErr;
    if (m_recorder != nullptr) {
        InvokeGuarded(recordErr, [&] { m_recorder->RecordTask(*task); });
    }
    if (task->ResultId() != 0) {
        m_feed->Close();
    }
    if (m_pool.IsClosing()) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_finishedLock);
    m_finished.push_back(std::move(task));
    if (recordErr.Failed() && !m_recordErr.Failed()) {
        m_recordErr = std::move(recordErr);
    }
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

std::vector<AutoTrimTaskPtr> CBatchDriver::TakeFinished(CSimpleErr* recordErr) {
    std::vector<AutoTrimTaskPtr> taken;
    std::lock_guard<std::mutex> lock(m_finishedLock);
    taken.swap(m_finished);
    if (recordErr != nullptr) {
        *recordErr = std::exchange(m_recordErr, CSimpleErr());
    }
    return taken;
}

void CBatchDriver::RecordFinished(const AutoTrimTaskPtr& task) {
    const FileStatus status = StatusOf(*task);
    if (status == FileStatus::Failed) {
        ++m_tally.failed;
        return;
    }
    ++m_tally.written;
    m_lastWritten = task;
    if (task->KindReduced() && m_tally.reduced++ == 0) {
        m_view.ShowNotice(
            Formatted(kMsgKindsReduced, ResString(PixelKindNameId(*task->OutputKind())),
                      ResString(PixelKindNameId(*task->SavedKind())), task->SourcePath()));
    }
    WarnIfNotAsAsked(*task);
    if (status == FileStatus::Review) {
        ++m_tally.reviewCount;
        if (m_tally.review.size() < m_options.reviewItems) {
            m_tally.review.push_back(ReviewItem{task->SourcePath(), task->OutputPath(),
                                                VerdictReasonTexts(task->Verdict(), UiLanguage())});
        }
    }
}

void CBatchDriver::TimerTick() {
    CSimpleErr recordErr;
    const std::vector<AutoTrimTaskPtr> fresh = TakeFinished(&recordErr);
    const int count = static_cast<int>(fresh.size());
    // Every report is counted once, the failed one and those after it
    // included.
    for (const AutoTrimTaskPtr& task : fresh) {
        RecordFinished(task);
    }
    if (recordErr.Failed()) {
        for (const AutoTrimTaskPtr& task : fresh) {
            task->ReleaseImages();
        }
        throw my::CException(recordErr.id, recordErr.message);
    }

    for (const AutoTrimTaskPtr& task : fresh) {
        if (task->ResultId() != 0) {
            for (const AutoTrimTaskPtr& shown : fresh) {
                shown->ReleaseImages();
            }
            KillTimer();
            m_pool.Cancel(true);
            m_pool.WaitAll(kInfinite);
            FinishBatch(task);
            return;
        }
    }

    if (count > 0) {
        const CAutoTrimTask& last = *fresh.back();
        m_view.ShowPreview(last.PreviewImage());
        if (const DibPtr& output = last.OutputImage()) {
            m_view.ShowResultSize(output->Width(), std::abs(output->Height()));
        }
    }
    for (const AutoTrimTaskPtr& task : fresh) {
        task->ReleaseImages();
    }
    m_processed += count;
    m_view.EnableOpenFolder(m_processed != 0);  // every one of them was written
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
    } else if (NoReportWaiting()) {
        // No worker is left and no report arrived after the last take (a
        // worker appends before its thread ends): the missing tasks were
        // cancelled or lost with their worker and will never report.
        KillTimer();
        m_pool.WaitAll(kInfinite);
        EndBatch(End::Stopped, std::string());
    }
}

void CBatchDriver::WarnIfNotAsAsked(const CAutoTrimTask& task) {
    // Only what the settings asked for and the page could not give; the
    // other reasons a page needs a look go to the review list.
    TrimVerdict rules;
    for (const VerdictReason& reason : task.Verdict().reasons) {
        if (reason.id == kMsgReasonOutputSizeBeyondScan || reason.id == kMsgReasonTrimRemovesPage) {
            rules.reasons.push_back(reason);
        }
    }
    if (rules.reasons.empty()) {
        return;
    }
    std::string reasons;
    for (const std::string& text : VerdictReasonTexts(rules, UiLanguage())) {
        reasons += (reasons.empty() ? "" : "; ") + text;
    }
    m_view.ShowPageWarning(Formatted(kMsgPageNotAsAsked, reasons, task.SourcePath()));
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
    // Every worker has ended: the reports that came in meanwhile are the
    // last. A record that could not be kept does not keep the batch from
    // ending.
    CSimpleErr recordErr;
    for (const AutoTrimTaskPtr& task : TakeFinished(&recordErr)) {
        RecordFinished(task);
        task->ReleaseImages();
    }
    // The empty image's memory is free for the next batch.
    m_emptyImageMemory.Release();
    bool recorded = !recordErr.Failed();
    if (!recorded) {
        Msg().ShowError(recordErr);
    }
    BatchSummary summary = m_tally;
    summary.end = end;
    summary.total = m_total;
    summary.stopRequested = m_stopRequested;
    summary.elapsedMs = elapsed;
    summary.outputFolders = m_outputFolders;
    recorded = RecordEnd(summary) && recorded;
    m_view.EnableOpenFolder(summary.written != 0);
    m_view.ShowBatchSummary(summary);
    RemoveEmptyCreatedFolders();
    // Running until the message was answered: no drop starts a batch meanwhile.
    m_running = false;
    m_view.SetRunningState(false);
    if (m_options.end) {
        const bool lookNeeded = m_options.strict && summary.reviewCount > 0;
        ShutdownAndQuit(end != End::Completed || !recorded ? 1 : lookNeeded ? 3 : 0);
    }
}

bool CBatchDriver::RecordEnd(const BatchSummary& summary) {
    if (m_recorder == nullptr) {
        return true;
    }
    CSimpleErr err;
    InvokeGuarded(err, [&] { m_recorder->RecordEnd(summary, m_settings); });
    if (err.Failed()) {
        Msg().ShowError(err);
        return false;
    }
    return true;
}

void CBatchDriver::Stop() {
    m_stopRequested = m_running;
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
    if (!m_lastWritten) {
        return;
    }
    const std::string folder = m_lastWritten->OutputFolder();
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

bool CBatchDriver::NoReportWaiting() const {
    std::lock_guard<std::mutex> lock(m_finishedLock);
    return m_finished.empty();
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
