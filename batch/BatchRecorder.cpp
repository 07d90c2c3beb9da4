#include "batch/BatchRecorder.h"

namespace qv {

FileStatus StatusOf(const CAutoTrimTask& task) {
    if (task.ResultId() != 0) {
        return FileStatus::Failed;
    }
    return task.Verdict().NeedsReview() ? FileStatus::Review : FileStatus::Ok;
}

const char* FileStatusName(FileStatus status) {
    switch (status) {
        case FileStatus::Ok:
            return "ok";
        case FileStatus::Review:
            return "review";
        case FileStatus::Failed:
            return "failed";
        case FileStatus::Skipped:
            return "skipped";
    }
    return "";
}

}  // namespace qv
