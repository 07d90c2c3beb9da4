// CAutoTrimTask: the job for one scanned file.
//
// The batch creates a task per file, calls Init, SetParams, SetPreviewSize
// and installs a saver; a worker sets the runner and calls Run once. Run
// loads the scan, derives the 8-bit foreground image (difference against the
// empty-bed image, or colour distance from a background model of the parts
// of the margins where the lid shows, SelectLidSamples), filters it, chooses
// the sides to cut when asked to, takes the skew angle from the manuscript's
// edge lines (the best supported line the rectangle check accepts, its angle
// made finer than the search's steps; RefinedEdgeLineSkew), rotates, checks
// the lines of the cut sides (CheckManuscriptLines: a refused line leaves its
// side at the image border), moves them past a drop shadow or a book's cover
// to the page's own edge (FindPageEdges), judges the page (Verdict), computes
// the trim rectangle, crops, drops the alpha plane of opaque sources, saves
// the result to the output path and makes a preview copy. The analyses work
// on 8-bit colour; the output is cut from the source's own pixels
// (PixelKind.h: a bitonal page stays 1 bit, a grey one grey, 16 bits stay 16)
// with its ICC profile, and the file holds as much of that as its format can.
//
// Memory: before it decodes its source, a task reserves what the file will
// need at most (ImageMemoryNeed) from the process's memory budget
// (MemoryBudget.h), waiting while other tasks hold it; a file that alone
// needs more than the budget fails with 40400 naming it. The task holds the
// reservation until its images are released (ReleaseImages, Init, its end),
// or until Run returns when it failed.
//
// Nothing is thrown out of Run: a failure is recorded as a message id and
// its formatted text, which always names the source file (after a blank
// line, where the message itself does not), and the output path is written
// only when every step up to the save has succeeded. When done, Run hands
// the task to its client.
#pragma once

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/Dib.h"
#include "image/MemoryBudget.h"
#include "image/PixelKind.h"
#include "image/Side.h"
#include "image/Terminable.h"
#include "trim/AutoTrimParams.h"
#include "trim/EdgeLine.h"
#include "trim/TrimVerdict.h"

namespace Gdiplus {
class CImageSaver;
}
class CImagePreload;

class CAutoTrimTask;

// A source file being decoded ahead of its task (StartSourcePreload).
using SourcePreloadPtr = boost::shared_ptr<CImagePreload>;

// Starts decoding the image file at `path` on a thread of its own, as Run
// would load it, for the task that will process it (SetSourcePreload): the
// batch decodes its first source while it loads the empty image. The decode
// writes and shows nothing; a preload dropped unused waits for its decode to
// end. It holds what it needs from the process's memory budget, reserved
// without waiting; empty when that cannot be had now, or memory is short:
// the task then loads the file itself.
SourcePreloadPtr StartSourcePreload(const std::string& path);

// Receives every task whose pipeline returned, whatever its result. Called
// on the worker's thread.
class CAutoTrimTaskClient {
  public:
    virtual ~CAutoTrimTaskClient() = default;
    virtual void OnTaskFinished(boost::shared_ptr<CAutoTrimTask> task) = 0;
};

class CAutoTrimTask : public boost::enable_shared_from_this<CAutoTrimTask> {
  public:
    CAutoTrimTask() = default;
    CAutoTrimTask(const CAutoTrimTask&) = delete;
    CAutoTrimTask& operator=(const CAutoTrimTask&) = delete;

    // Resets the outcome and stores the batch's arguments. The output folder
    // is the output path up to and including its last '/' ("" without one).
    void Init(DibPtr emptyImage, std::int32_t filePosition, std::string sourcePath,
              std::string outputPath, CAutoTrimTaskClient* client);
    void SetParams(const AutoTrimParams& params) { m_params = params; }
    // Size of the preview pane; (0, 0) or negative means no scaled preview.
    void SetPreviewSize(std::int32_t width, std::int32_t height) {
        m_previewSize = {width, height};
    }
    // The source file already being decoded (a preload of the source path):
    // Run takes its result instead of loading the file, and lets it go.
    // Init drops it.
    void SetSourcePreload(SourcePreloadPtr preload) { m_sourcePreload = std::move(preload); }
    // Slot for the saver (SetFormatSaver).
    boost::shared_ptr<Gdiplus::CImageSaver>& Saver() { return m_saver; }
    // Set by the worker just before Run; asked for stop requests.
    void SetRunner(const CTerminable* runner) { m_runner = runner; }

    // Runs the pipeline to its end, then reports to the client (if any).
    void Run();

    // 0 while the file has not failed, else the message id of the failure.
    std::uint32_t ResultId() const { return m_resultId; }
    const std::string& MessageText() const { return m_message; }
    const DibPtr& OutputImage() const { return m_output; }
    const DibPtr& PreviewImage() const { return m_preview; }
    // Releases the output and preview images and the memory reserved for
    // the run.
    void ReleaseImages();

    const std::string& SourcePath() const { return m_sourcePath; }
    const std::string& OutputPath() const { return m_outputPath; }
    const std::string& OutputFolder() const { return m_outputFolder; }
    std::int32_t FilePosition() const { return m_filePosition; }
    // The source's resolution in dots per inch, which the output keeps;
    // (0, 0) until the source was read.
    float DpiX() const { return m_dpiX; }
    float DpiY() const { return m_dpiY; }
    // What the last run decided: the sides cut (in order), the skew angle in
    // radians (positive turns the picture clockwise on screen; 0 when not
    // rotated) and the crop rectangle in the straightened image.
    const SideList& CutSides() const { return m_cutSides; }
    double SkewAngle() const { return m_skewAngle; }
    const RECT& CropRect() const { return m_cropRect; }
    // The engine's verdict on the page of the last run (see TrimVerdict);
    // empty (ok, no reasons) for a file that failed before its lines.
    const TrimVerdict& Verdict() const { return m_verdict; }
    // The pixel kind of the last run's result (the source's own, without
    // alpha for an opaque source) and the kind its file holds: less where
    // the format cannot hold the result's (16 bits in JPEG or BMP, alpha in
    // JPEG). Both empty for a file that was not saved.
    const std::optional<PixelKind>& OutputKind() const { return m_outputKind; }
    const std::optional<PixelKind>& SavedKind() const { return m_savedKind; }
    // Whether the file holds less than the result had: fewer bits a
    // sample, or no alpha (LosesSamples).
    bool KindReduced() const {
        return m_outputKind && m_savedKind && LosesSamples(*m_outputKind, *m_savedKind);
    }

    // Wall-clock milliseconds of the stages of the last run, in run order
    // (a stage that runs several times, like a median pass, appears once per
    // run). For benchmarks and diagnostics.
    struct StageTime {
        const char* stage;
        double milliseconds;
    };
    const std::vector<StageTime>& StageTimes() const { return m_stageTimes; }

  private:
    class Pipeline;

    const CTerminable* m_runner = nullptr;
    std::uint32_t m_resultId = 0;
    std::string m_message;
    DibPtr m_output;
    DibPtr m_preview;
    DibPtr m_emptyImage;
    std::int32_t m_filePosition = 0;
    std::string m_sourcePath;
    std::string m_outputPath;
    SIZE m_previewSize{0, 0};
    CAutoTrimTaskClient* m_client = nullptr;
    AutoTrimParams m_params;
    std::string m_outputFolder;
    boost::shared_ptr<Gdiplus::CImageSaver> m_saver;
    SourcePreloadPtr m_sourcePreload;
    CMemoryReservation m_memory;
    SideList m_cutSides;
    double m_skewAngle = 0.0;
    RECT m_cropRect{0, 0, 0, 0};
    float m_dpiX = 0;
    float m_dpiY = 0;
    TrimVerdict m_verdict;
    std::optional<PixelKind> m_outputKind;
    std::optional<PixelKind> m_savedKind;
    std::vector<StageTime> m_stageTimes;
};

using AutoTrimTaskPtr = boost::shared_ptr<CAutoTrimTask>;

// The automatic side choice from the four border-strip maxima of the
// shrunken foreground (indexed by Side): the two darkest sides always, then
// each remaining side, darkest first, whose maximum is at most
// trunc(second-lowest × ratio). Equal scores go to the lower Side value.
SideList ChooseSidesAutomatically(const std::int32_t (&maxima)[4], double autoEdgeRatio);
