// qv::CRunReport: the run report of --report, as JSON Lines (one JSON object
// per line, UTF-8 text; file names are written as the bytes they are).
//
// Each record is appended with one write as soon as its file finished (from
// the worker's thread, one line at a time), so a run that is killed leaves a
// report of every file it finished (a line from
// a killed run that was cut short is ended before the next run appends).
// Records of a later run follow those of earlier ones. The format is a
// contract (README, "The run report"): keys are only ever added.
//
// One object per source, its keys always present, in this order:
//   source, output   absolute paths
//   status           "ok", "review", "failed" or "skipped"
//   reasons          the verdict's reasons, English sentences ([] for none)
//   message          the failure's text, or null
//   angle_deg        the skew angle in degrees, positive turns the picture
//                    clockwise on screen (rounded to 0.0001), or null
//   rotate_side      "left", "top", "right", "bottom": the side whose edge
//                    line gave the angle; null when none did
//   page_corners     [[x, y] x 4]: top left, top right, bottom right, bottom
//                    left corner of the page in source pixels (origin at the
//                    top-left pixel, x right, y down; rounded to 0.01; outside
//                    the image where the page runs off it), or null
//   crop             [left, top, right, bottom] of the cut in the
//                    straightened image (left and top inclusive, right and
//                    bottom exclusive), or null
//   output_size      [width, height] of the result in pixels, or null
//   dpi              [x, y] resolution of the source, which the result
//                    keeps, or null
//   ms               milliseconds the file took, or null
//   kind             the pixel kind of the result, the source's own
//                    (PixelKindInfo::keyword: "bitonal", "grey8", "colour8",
//                    "colour16" ...), or null
//   saved_kind       the kind its file holds: less than `kind` where the
//                    format cannot hold it (16 bits in JPEG ...), or null
// The geometry (angle_deg to dpi) and the kinds are given for written pages
// (ok, review) only, ms for every file the pipeline ran on.
//
// Then, at the end of a run, one object with the single key "summary":
//   end              "completed", "failed", "stopped" (a stop or an
//                    interrupt) or "refused" (the batch did not start)
//   message          why it was refused, or null
//   files            sources named
//   ok, review, failed, skipped   sources per status
//   not_processed    sources neither done nor skipped (the batch ended early)
//   reduced          written results whose file holds less than the result
//                    (saved_kind less than kind), 0 when none
//   ms               milliseconds from the start to the end
//   version          the program's version, "1.2.9"
//   settings         the options the run used, as their values are written:
//                    empty, cut, rotate, deep_cut, size, trim, out, format
//                    (with its option: "jpg,80", "tif,deflate"), thread,
//                    skip_existing, strict
#pragma once

#include <array>
#include <boost/json/object.hpp>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "batch/BatchDriver.h"
#include "batch/BatchRecorder.h"

namespace qv {

class CRunReport : public IBatchRecorder {
  public:
    // Opens `path` for appending, creating it ("-": standard output).
    // Throws my::CException 40251 (the system's text, the path) when it
    // cannot be opened.
    CRunReport(const std::string& path, const BatchOptions& options);
    ~CRunReport() override;
    CRunReport(const CRunReport&) = delete;
    CRunReport& operator=(const CRunReport&) = delete;

    // Each throws my::CException 40251 when its line cannot be written;
    // after a failure the report writes nothing more.
    void RecordTask(const CAutoTrimTask& task) override;
    void RecordSkipped(std::string_view source, std::string_view output) override;
    void RecordEnd(const BatchSummary& summary, const AppSettings& settings) override;
    void RecordRefusal(const std::string& message, std::size_t files,
                       const AppSettings& settings) override;

  private:
    // counts: ok, review, failed, skipped.
    void WriteSummary(const char* end, const std::string& message, std::int64_t files,
                      const std::array<std::int64_t, 4>& counts, std::int64_t reduced,
                      std::uint32_t ms, const AppSettings& settings);
    boost::json::object Settings(const AppSettings& settings) const;
    void WriteLine(const boost::json::object& record);
    [[noreturn]] void Fail(int error);

    std::string m_path;
    BatchOptions m_options;
    int m_fd = -1;
    bool m_ownsFd = false;
    std::mutex m_writeLock;  // workers record at the same time
    bool m_broken = false;   // under m_writeLock once the batch runs
};

}  // namespace qv
