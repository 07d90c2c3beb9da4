// qv::IBatchRecorder: where the batch driver hands the outcome of every
// source of a batch, for a run report: each source left alone when the
// batch starts; each finished task once, on its worker's thread as soon as
// it finished (so calls of RecordTask may come at the same time from several
// threads); then one end, or one refusal for a start that was refused. All
// but RecordTask come from the user-interface thread, never while a worker
// runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "batch/BatchView.h"
#include "trim/AppSettings.h"
#include "trim/AutoTrimTask.h"

namespace qv {

// What became of one source: `Failed` when the pipeline failed (also after a
// stop request), `Review` when the page was written but its verdict asks for
// a look (TrimVerdict::NeedsReview), `Ok` when it was written without one,
// `Skipped` when its output was up to date and it was left alone.
enum class FileStatus { Ok, Review, Failed, Skipped };

// The status of a task whose pipeline returned (never Skipped).
FileStatus StatusOf(const CAutoTrimTask& task);
// "ok", "review", "failed", "skipped".
const char* FileStatusName(FileStatus status);

class IBatchRecorder {
  public:
    virtual ~IBatchRecorder() = default;

    // Every call may throw my::CException when the record cannot be kept;
    // the batch then ends as failed with its message (RecordTask: at the
    // driver's next tick; RecordEnd and RecordRefusal: the message is shown
    // and the run's exit code is 1).

    // A source the pipeline ran on, with everything the task knows of it.
    virtual void RecordTask(const CAutoTrimTask& task) = 0;
    // A source left alone because its output is up to date.
    virtual void RecordSkipped(std::string_view source, std::string_view output) = 0;
    // The end of a batch (also of a command line that named no files), with
    // the settings it ran with.
    virtual void RecordEnd(const BatchSummary& summary, const AppSettings& settings) = 0;
    // A start over `files` sources that was refused, with the text shown
    // for it ("" when the overwrite question was declined).
    virtual void RecordRefusal(const std::string& message, std::size_t files,
                               const AppSettings& settings) = 0;
};

}  // namespace qv
