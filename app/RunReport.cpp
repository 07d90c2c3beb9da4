#include "app/RunReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <boost/json/array.hpp>
#include <boost/json/serialize.hpp>
#include <cerrno>
#include <cmath>
#include <numbers>

#include "app/AppInfo.h"
#include "msg/Exception.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "msg/Result.h"
#include "msg/SystemErrorText.h"

namespace qv {

namespace json = boost::json;

namespace {

// `value` rounded to `decimals` places; a whole number is written without
// a fraction (Boost.JSON writes every double in exponent form).
json::value Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double scaled = std::round(value * scale);
    if (std::abs(scaled) >= 1e15) {
        return value;
    }
    if (std::fmod(scaled, scale) == 0) {
        return static_cast<std::int64_t>(scaled / scale);
    }
    return scaled / scale;
}

const char* SideName(Side side) {
    static constexpr std::array<const char*, 4> kNames = {"left", "top", "right", "bottom"};
    return side >= SideLeft && side <= SideBottom ? kNames[side] : "left";
}

json::array Pair(json::value a, json::value b) {
    return json::array{std::move(a), std::move(b)};
}

std::string SizeValue(const SIZE& size, bool on) {
    return on ? std::to_string(size.cx) + "," + std::to_string(size.cy) : "off";
}

// The record of a source with every key, the geometry null.
json::object SourceRecord(std::string_view source, std::string_view output, FileStatus status) {
    json::object record;
    record["source"] = source;
    record["output"] = output;
    record["status"] = FileStatusName(status);
    record["reasons"] = json::array();
    for (const char* key : {"message", "angle_deg", "rotate_side", "page_corners", "crop",
                            "output_size", "dpi", "ms", "kind", "saved_kind"}) {
        record[key] = nullptr;
    }
    return record;
}

}  // namespace

CRunReport::CRunReport(const std::string& path, const BatchOptions& options)
    : m_path(path), m_options(options) {
    if (path == "-") {
        m_fd = STDOUT_FILENO;
        return;
    }
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        Fail(errno);
    }
    m_ownsFd = true;
    // A run killed in the middle of a line: the next record starts a line
    // of its own.
    // The descriptor only writes (a report may be a pipe), so the last byte
    // of a regular file is read through a descriptor of its own.
    struct stat info {};
    char last = '\n';
    if (::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (reader >= 0) {
            if (::pread(reader, &last, 1, info.st_size - 1) != 1) {
                last = '\n';
            }
            ::close(reader);
        }
    }
    if (last != '\n') {
        if (::write(m_fd, "\n", 1) != 1) {
            Fail(errno);
        }
    }
}

CRunReport::~CRunReport() {
    if (m_ownsFd) {
        ::close(m_fd);
    }
}

void CRunReport::Fail(int error) {
    m_broken = true;
    const std::string reason = SystemErrorText(static_cast<std::uint32_t>(HResultFromErrno(error)));
    throw my::CException(kMsgReportUnwritable, Formatted(kMsgReportUnwritable, reason, m_path));
}

void CRunReport::WriteLine(const json::object& record) {
    const std::string line = json::serialize(record) + '\n';
    std::lock_guard<std::mutex> lock(m_writeLock);
    if (m_broken) {
        return;
    }
    // One write per line where the system allows: a line is never mixed
    // with another writer's, and a killed run leaves whole lines.
    for (std::size_t written = 0; written < line.size();) {
        const ssize_t n = ::write(m_fd, line.data() + written, line.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(errno);
        }
        written += static_cast<std::size_t>(n);
    }
}

void CRunReport::RecordTask(const CAutoTrimTask& task) {
    const FileStatus status = StatusOf(task);
    json::object record = SourceRecord(task.SourcePath(), task.OutputPath(), status);
    const TrimVerdict& verdict = task.Verdict();
    json::array& reasons = record["reasons"].as_array();
    for (const std::string& reason : VerdictReasonTexts(verdict, Language::English)) {
        reasons.emplace_back(reason);
    }
    if (status == FileStatus::Failed) {
        record["message"] = task.MessageText();
    } else {
        record["angle_deg"] = Rounded(task.SkewAngle() * 180.0 / std::numbers::pi, 4);
        if (verdict.angleVotes > 0) {
            record["rotate_side"] = SideName(verdict.angleSide);
        }
        json::array corners;
        for (const PointD& corner : verdict.pageCorners) {
            corners.emplace_back(Pair(Rounded(corner.x, 2), Rounded(corner.y, 2)));
        }
        record["page_corners"] = std::move(corners);
        const RECT& crop = task.CropRect();
        record["crop"] = json::array{crop.left, crop.top, crop.right, crop.bottom};
        record["output_size"] = json::array{crop.right - crop.left, crop.bottom - crop.top};
        record["dpi"] = Pair(Rounded(task.DpiX(), 3), Rounded(task.DpiY(), 3));
    }
    double milliseconds = 0;
    for (const CAutoTrimTask::StageTime& stage : task.StageTimes()) {
        milliseconds += stage.milliseconds;
    }
    record["ms"] = static_cast<std::int64_t>(std::llround(milliseconds));
    if (task.OutputKind() && task.SavedKind()) {
        record["kind"] = InfoOf(*task.OutputKind()).keyword;
        record["saved_kind"] = InfoOf(*task.SavedKind()).keyword;
    }
    WriteLine(record);
}

void CRunReport::RecordSkipped(std::string_view source, std::string_view output) {
    WriteLine(SourceRecord(source, output, FileStatus::Skipped));
}

void CRunReport::RecordEnd(const BatchSummary& summary, const AppSettings& settings) {
    const char* end = "completed";
    if (summary.end == BatchSummary::End::Stopped ||
        (summary.end == BatchSummary::End::Failed && summary.stopRequested)) {
        end = "stopped";
    } else if (summary.end == BatchSummary::End::Failed) {
        end = "failed";
    }
    WriteSummary(end, {}, summary.total + summary.skipped,
                 {summary.written - summary.reviewCount, summary.reviewCount, summary.failed,
                  summary.skipped},
                 summary.reduced, summary.elapsedMs, settings);
}

void CRunReport::RecordRefusal(const std::string& message, std::size_t files,
                               const AppSettings& settings) {
    WriteSummary("refused", message, static_cast<std::int64_t>(files), {0, 0, 0, 0}, 0, 0,
                 settings);
}

void CRunReport::WriteSummary(const char* end, const std::string& message, std::int64_t files,
                              const std::array<std::int64_t, 4>& counts, std::int64_t reduced,
                              std::uint32_t ms, const AppSettings& settings) {
    json::object body;
    body["end"] = end;
    body["message"] = message.empty() ? json::value() : json::value(message);
    body["files"] = files;
    std::int64_t counted = 0;
    static constexpr std::array<const char*, 4> kCounts = {"ok", "review", "failed", "skipped"};
    for (std::size_t i = 0; i < kCounts.size(); ++i) {
        body[kCounts[i]] = counts[i];
        counted += counts[i];
    }
    body["not_processed"] = files - counted;
    body["reduced"] = reduced;
    body["ms"] = ms;
    const auto& version = AppInfo().version;
    body["version"] = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                      std::to_string(version[2]);
    body["settings"] = Settings(settings);
    WriteLine(json::object{{"summary", std::move(body)}});
}

json::object CRunReport::Settings(const AppSettings& settings) const {
    const AutoTrimParams& params = settings.AutoTrim;
    json::object used;
    used["empty"] = settings.EmptyImagePath();
    used["cut"] = params.SpaceType < TrimEdgesCount ? kTrimEdgesTable[params.SpaceType].keyword
                                                    : std::string_view();
    used["rotate"] = params.EdgeType < RotateEdgeCount ? kRotateEdgeTable[params.EdgeType].keyword
                                                       : std::string_view();
    used["deep_cut"] = params.HasFlag(AutoTrimParams::FlagDeepCut) ? "on" : "off";
    used["size"] = SizeValue(params.Output, params.HasFlag(AutoTrimParams::FlagOutputSize));
    used["trim"] = SizeValue(params.Trim, params.HasFlag(AutoTrimParams::FlagAdditionalTrim));
    used["out"] = settings.SubFolderName();
    used["format"] = settings.FormatOptionValue();
    used["thread"] = settings.ThreadCount;
    used["skip_existing"] = m_options.skipExisting;
    used["strict"] = m_options.strict;
    return used;
}

}  // namespace qv
