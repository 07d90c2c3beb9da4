#include "trim/AutoTrimTask.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <new>
#include <system_error>
#include <type_traits>
#include <utility>

#include "image/BackgroundModel.h"
#include "image/DifferenceImage.h"
#include "image/EdgePoints.h"
#include "image/MedianFilter.h"
#include "image/PixelMemory.h"
#include "image/Resize.h"
#include "image/Rotate.h"
#include "image_io/ImageFile.h"
#include "image_io/ImagePreload.h"
#include "image_io/ImageSaver.h"
#include "msg/Format.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "msg/SystemErrorText.h"
#include "trim/PageEdges.h"
#include "trim/TaskFiles.h"
#include "trim/TrimRect.h"

namespace {

std::string ResultText(HRESULT hr) {
    return SystemErrorText(static_cast<std::uint32_t>(hr));
}

constexpr std::array<Side, 4> kAllSides = {SideLeft, SideTop, SideRight, SideBottom};

}  // namespace

// One run of the pipeline. Each step returns false after recording its
// failure in the task; Run stops at the first false.
class CAutoTrimTask::Pipeline {
  public:
    explicit Pipeline(CAutoTrimTask& task) : t(task), p(task.m_params) {}

    void Execute() {
        (void)(CheckSaver() && MakeOutputFolder() && Timed("load", &Pipeline::LoadSource) &&
               CheckEmptySize() && ChooseBandAndSides() &&
               Timed("foreground", &Pipeline::MakeForeground) && FilterForeground() &&
               Timed("automatic sides", &Pipeline::ChooseSidesIfAuto) &&
               Timed("edge lines", &Pipeline::FindSkew) &&
               Timed("rectangle", &Pipeline::FindRectangle) &&
               Timed("rotate and crop", &Pipeline::CutOutput) &&
               Timed("save", &Pipeline::SaveOutput));
        if (t.m_resultId == 0) {
            Timed("preview", [this] { MakePreview(); });
        }
    }

  private:
    using Clock = std::chrono::steady_clock;

    void Record(const char* stage, Clock::time_point start) {
        t.m_stageTimes.push_back(
            {stage, std::chrono::duration<double, std::milli>(Clock::now() - start).count()});
    }

    template <class Step>
    bool Timed(const char* stage, Step step) {
        const Clock::time_point start = Clock::now();
        bool ok;
        if constexpr (std::is_member_function_pointer_v<Step>) {
            ok = (this->*step)();
        } else {
            step();
            ok = true;
        }
        Record(stage, start);
        return ok;
    }

    template <class... Args>
    bool Fail(std::uint32_t id, const Args&... args) {
        t.m_resultId = id;
        Format(t.m_message, id, args...);
        return false;
    }

    bool CheckSaver() { return t.m_saver ? true : Fail(kMsgNoSaver); }

    bool MakeOutputFolder() {
        if (t.m_outputFolder.empty()) {
            return true;
        }
        std::error_code ec;
        std::filesystem::create_directories(t.m_outputFolder, ec);
        if (ec || !std::filesystem::is_directory(t.m_outputFolder, ec)) {
            return Fail(kMsgCreateFolderFailed, t.m_outputFolder);
        }
        return true;
    }

    bool LoadSource() {
        ImagePtr image;
        const SourcePreloadPtr preload = std::move(t.m_sourcePreload);
        HRESULT hr = S_OK;
        if (preload) {
            hr = preload->Take(image, t.m_memory);
        } else {
            // The one place a task waits for memory: before its file is
            // read, for all the run will hold.
            std::uint64_t need = 0;
            hr = ImageMemoryNeed(t.m_sourcePath, need);
            if (SUCCEEDED(hr)) {
                hr = ProcessMemoryBudget().Reserve(t.m_memory, need, t.m_runner);
                if (hr == HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)) {
                    t.m_resultId = kMsgImageBeyondBudget;
                    t.m_message = ImageBeyondBudgetText(need, t.m_sourcePath);
                    return false;
                }
            }
            if (SUCCEEDED(hr)) {
                hr = LoadImageFromFile(image, t.m_sourcePath);
            }
        }
        if (SUCCEEDED(hr)) {
            m_hasAlpha = image->HasAlpha();
            m_dpiX = t.m_dpiX = image->GetHorizontalResolution();
            m_dpiY = t.m_dpiY = image->GetVerticalResolution();
            hr = ImageToKeptDib(image, m_kept);
        }
        // The analyses see 8-bit colour; a page of 8-bit colour is that
        // already and is not copied.
        if (SUCCEEDED(hr) && FAILED(ToKind(m_source, m_kept, PixelKind::Bgra32))) {
            hr = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
        }
        return SUCCEEDED(hr) ? true : Fail(kMsgReadImageFailed, ResultText(hr), t.m_sourcePath);
    }

    bool CheckEmptySize() {
        const DibPtr& empty = t.m_emptyImage;
        if (empty && (empty->Header()->biWidth != m_source->Header()->biWidth ||
                      empty->Header()->biHeight != m_source->Header()->biHeight)) {
            return Fail(kMsgSizeMismatch, t.m_sourcePath);
        }
        return true;
    }

    bool ChooseBandAndSides() {
        m_band = p.BorderBand(m_source->Width(), m_source->Height());
        t.m_cutSides = p.TrimSides(t.m_filePosition);
        return true;
    }

    bool MakeForeground() {
        if (t.m_emptyImage) {
            const HRESULT hr = ComputeDifferenceImage(m_foreground, *m_source, *t.m_emptyImage,
                                                      MeasureRgb, t.m_runner);
            return SUCCEEDED(hr) ? true : Fail(kMsgDiffFailed, ResultText(hr));
        }
        if (t.m_cutSides.empty()) {
            return Fail(kMsgAutoNeedsEmpty);
        }
        std::vector<RECT> lid;
        HRESULT hr = SelectLidSamples(
            lid, *m_source, BackgroundSampleRects(t.m_cutSides, m_source->Size(), m_band));
        std::vector<double> mean, covariance, inverse;
        if (SUCCEEDED(hr)) {
            hr = ComputeBackgroundStatistics(mean, covariance, *m_source, lid);
        }
        if (FAILED(hr)) {
            return Fail(kMsgMeanFailed, ResultText(hr));
        }
        hr = InvertMatrix3(inverse, covariance);
        if (FAILED(hr)) {
            return Fail(kMsgInverseFailed, ResultText(hr));
        }
        if (hr == S_FALSE) {
            inverse = SingularCovarianceFallback(covariance);
        }
        hr = ComputeDistanceImage(m_foreground, *m_source, mean, inverse, t.m_runner);
        return SUCCEEDED(hr) ? true : Fail(kMsgDistanceFailed, ResultText(hr));
    }

    // `count` 3 × 3 median passes over `image`, each replacing it.
    bool Median(DibPtr& image, std::int32_t count) {
        for (std::int32_t i = 0; i < count; ++i) {
            const Clock::time_point start = Clock::now();
            DibPtr filtered;
            const HRESULT hr = MedianFilter(filtered, *image, 3, t.m_runner);
            Record("median pass", start);
            if (FAILED(hr)) {
                return Fail(kMsgMedianFailed, ResultText(hr));
            }
            image = std::move(filtered);
        }
        return true;
    }

    bool FilterForeground() { return Median(m_foreground, p.MedianCount); }

    bool ChooseSidesIfAuto() {
        if (!t.m_cutSides.empty()) {
            return true;
        }
        DibPtr small;
        const HRESULT hr = ShrinkForSideDetection(small, *m_foreground);
        if (FAILED(hr)) {
            return Fail(kMsgResizeFailed, ResultText(hr));
        }
        if (!Median(small, p.SmallMedianCount)) {
            return false;
        }
        const SIZE smallBand = p.BorderBand(small->Width(), small->Height());
        std::int32_t maxima[4] = {};
        for (const Side side : kAllSides) {
            RECT strip{};
            BYTE maximum = 0;
            if (SideBandRect(strip, side, small->Size(), smallBand)) {
                GetStripMaximum(*small, strip, maximum);
            }
            maxima[side] = maximum;
        }
        t.m_cutSides = ChooseSidesAutomatically(maxima, p.AutoEdgeRatio);
        return true;
    }

    bool FindSkew() {
        const SideList sides = p.RotateSides(t.m_filePosition, t.m_cutSides);
        TrimVerdict& verdict = t.m_verdict;
        verdict.fixedRotationEdge = p.EdgeType >= RotateEdgeLeft && p.EdgeType <= 9;
        verdict.rotationEdge = verdict.fixedRotationEdge ? sides.front() : SideLeft;
        m_margins = FindLidMargins(*m_foreground);
        HRESULT hr =
            FitRotationEdgeLines(m_rotationLines, *m_foreground, sides, m_band, p.MaxSkewDegrees,
                                 p.AngleStepsPerDegree, t.m_runner, &m_margins);
        if (SUCCEEDED(hr)) {
            hr = CheckRotationLines();
        }
        if (FAILED(hr)) {
            return Fail(kMsgEdgeFailed, ResultText(hr));
        }
        const int strongest = StrongestEdgeLine(m_rotationLines);
        if (strongest >= 0) {
            const EdgeLine& line = m_rotationLines[static_cast<std::size_t>(strongest)];
            m_angle = RefinedEdgeLineSkew(line);
            verdict.angleSide = line.side;
            verdict.angleVotes = line.votes;
        }
        verdict.angle = m_angle;
        t.m_skewAngle = m_angle;
        if (m_angle == 0.0) {
            return true;
        }
        const Clock::time_point start = Clock::now();
        DibPtr rotated;
        const HRESULT rotateHr = RotateImage(rotated, *m_foreground, m_angle, t.m_runner);
        Record("rotate foreground", start);
        if (FAILED(rotateHr)) {
            return Fail(kMsgRotateFailed, ResultText(rotateHr));
        }
        m_foreground = std::move(rotated);
        return true;
    }

    // A line that is no page edge never straightens the page: the rotation
    // lines go through the rectangle check on the unturned foreground, and
    // a refused line loses its votes (so it is not fitted again at its
    // level either). A fixed rotation edge was chosen in the settings: it
    // keeps a line that only the other rules refuse, and the verdict says
    // that the edge gave no sound line.
    HRESULT CheckRotationLines() {
        ManuscriptLines lines;
        CutFlags listed{};
        for (const Side side : kAllSides) {
            lines[side] = BorderEdgeLine(*m_foreground, side);
            lines[side].votes = 0;
        }
        for (const EdgeLine& record : m_rotationLines) {
            if (!listed[record.side]) {
                lines[record.side] = record;
                listed[record.side] = true;
            }
        }
        LineRules rules{};
        const HRESULT hr = CheckManuscriptLines(lines, listed, *m_foreground, &rules, &m_margins);
        if (FAILED(hr)) {
            return hr;
        }
        const bool fixed = t.m_verdict.fixedRotationEdge;
        for (EdgeLine& record : m_rotationLines) {
            const LineRule rule = rules[record.side];
            if (fixed && (rule != LineRule::None || record.votes <= 0)) {
                t.m_verdict.flags |= VerdictRotationEdgeRefused;
            }
            if (rule != LineRule::None && (!fixed || rule == LineRule::TooFewPoints)) {
                record.votes = 0;
            }
        }
        return S_OK;
    }

    bool FindRectangle() {
        const CutFlags cut = CutFlagsFromSides(t.m_cutSides);
        if (m_angle != 0.0) {
            m_margins = FindLidMargins(*m_foreground);
        }
        ManuscriptLines lines;
        std::array<SideVerdict, 4>& sides = t.m_verdict.sides;
        for (const Side side : kAllSides) {
            EdgeLine& line = lines[side];
            if (!cut[side]) {
                line = BorderEdgeLine(*m_foreground, side);
                continue;
            }
            // A rotation record without votes (no line, or one on too few
            // points) is no fit to repeat: such a side gets the best-level
            // search (at level 0 every flat step would count as an edge).
            const auto fitted =
                std::find_if(m_rotationLines.begin(), m_rotationLines.end(),
                             [side](const EdgeLine& record) { return record.side == side; });
            const HRESULT hr =
                fitted != m_rotationLines.end() && fitted->votes > 0
                    ? FitEdgeLine(line, *m_foreground, side, fitted->level, m_band,
                                  p.MaxSkewDegrees, p.AngleStepsPerDegree, &m_margins)
                    : FitEdgeLineBestLevel(line, *m_foreground, side, m_band, p.MaxSkewDegrees,
                                           p.AngleStepsPerDegree, t.m_runner, &m_margins);
            if (FAILED(hr)) {
                return Fail(kMsgRectFailed, ResultText(hr));
            }
            sides[side] =
                SideVerdict{line.votes > 0 ? SideFate::Cut : SideFate::AtBorder, LineRule::None,
                            line.votes, static_cast<std::int32_t>(line.points.size())};
        }
        LineRules rules{};
        HRESULT hr = CheckManuscriptLines(lines, cut, *m_foreground, &rules, &m_margins);
        if (FAILED(hr)) {
            return Fail(kMsgRectFailed, ResultText(hr));
        }
        for (const Side side : kAllSides) {
            if (rules[side] != LineRule::None) {
                sides[side].fate = SideFate::Refused;
                sides[side].rule = rules[side];
            }
        }
        FindPageEdges(lines, cut, *m_source, m_angle);
        const TrimCorners corners = ManuscriptCorners(lines);
        const TrimRect trim = ComputeTrimRect(corners, p.Flags, cut, p.Output, p.Trim);
        // After the check the lines leave a rectangle; should they not, the
        // file fails rather than a sliver being written.
        if (!(trim.edges[SideRight] > trim.edges[SideLeft] &&
              trim.edges[SideBottom] > trim.edges[SideTop])) {
            return Fail(kMsgRectFailed, ResultText(HRESULT_FROM_WIN32(ERROR_INVALID_DATA)));
        }
        m_rect = trim.rect;
        JudgePage(lines, corners, trim);
        return true;
    }

    // The verdict from what the rectangle stage knows; no pass over the
    // image but a look along the borders of sides kept there.
    void JudgePage(const ManuscriptLines& lines, const TrimCorners& corners, const TrimRect& trim) {
        TrimVerdict& verdict = t.m_verdict;
        const CDib& foreground = *m_foreground;
        const LONG width = foreground.Width();
        const LONG height = foreground.Height();
        for (std::size_t i = 0; i < 4; ++i) {
            verdict.pageCorners[i] = UnturnedPoint(corners[i], m_angle, width, height);
        }
        const LidMargins& margins = m_margins;
        for (const Side side : kAllSides) {
            SideVerdict& s = verdict.sides[side];
            if (s.fate == SideFate::NotCut) {
                continue;
            }
            s.pageAtBorder =
                s.fate == SideFate::Cut
                    ? CornerBeyondBorder(verdict.pageCorners, lines, side, width, height)
                    : PageAlongBorder(lines, side, margins, width, height);
        }
        // The page's skew that is left: the best supported line of a cut
        // side, fitted after the turn.
        EdgeLineList accepted;
        for (const Side side : kAllSides) {
            if (verdict.sides[side].fate == SideFate::Cut) {
                accepted.push_back(lines[side]);
            }
        }
        const int strongest = StrongestEdgeLine(accepted);
        constexpr double kStraight = 0.15 * 3.14159265358979323846 / 180.0;
        if (strongest >= 0 &&
            std::fabs(EdgeLineSkew(accepted[static_cast<std::size_t>(strongest)])) > kStraight) {
            verdict.flags |= VerdictNotStraightened;
        }
        const RECT placed = PlaceRect(m_rect, width, height);
        if (m_angle == 0.0 && placed.left <= 0 && placed.top <= 0 && placed.right >= width &&
            placed.bottom >= height) {
            verdict.flags |= VerdictNothingCut;
        }
        if ((p.Flags & AutoTrimParams::FlagOutputSize) != 0 && p.Output.cx > 0 && p.Output.cy > 0 &&
            (p.Output.cx > width || p.Output.cy > height)) {
            verdict.flags |= VerdictOutputSizeBeyondScan;
        }
        if (trim.trimSkipped) {
            verdict.flags |= VerdictTrimRemovesPage;
        }
        ExplainVerdict(verdict);
    }

    // Whether a corner where two found lines meet lies beyond the border of
    // `side` (in the source), by more than a small tolerance.
    static bool CornerBeyondBorder(const std::array<PointD, 4>& pageCorners,
                                   const ManuscriptLines& lines, Side side, LONG width,
                                   LONG height) {
        constexpr double kTolerance = 3.0;
        for (std::size_t i = 0; i < 4; ++i) {
            if (lines[i].votes <= 0 || lines[(i + 1) % 4].votes <= 0) {
                continue;
            }
            const PointD& c = pageCorners[i];
            if ((side == SideLeft && c.x < -kTolerance) || (side == SideTop && c.y < -kTolerance) ||
                (side == SideRight && c.x > width - 1 + kTolerance) ||
                (side == SideBottom && c.y > height - 1 + kTolerance)) {
                return true;
            }
        }
        return false;
    }

    // Whether the margin band of `side` shows no lid (the page, as a rule)
    // along a quarter or more of the stretch between the lines of the
    // neighbouring sides.
    static bool PageAlongBorder(const ManuscriptLines& lines, Side side, const LidMargins& margins,
                                LONG width, LONG height) {
        const bool vertical = side == SideLeft || side == SideRight;
        const LONG at = side == SideLeft  ? 0
                        : side == SideTop ? 0
                        : vertical        ? width - 1
                                          : height - 1;
        const LONG length = vertical ? height : width;
        const EdgeLine& low = lines[vertical ? SideTop : SideLeft];
        const EdgeLine& high = lines[vertical ? SideBottom : SideRight];
        const LONG from = std::clamp<LONG>(
            static_cast<LONG>(std::ceil(low.slope * at + low.intercept)), 0, length);
        const LONG to = std::clamp<LONG>(
            static_cast<LONG>(std::floor(high.slope * at + high.intercept)) + 1, 0, length);
        const std::vector<std::int16_t>& ceilings = margins.lineCeiling[side];
        LONG page = 0;
        for (LONG t = from; t < to; ++t) {
            page += ceilings[static_cast<std::size_t>(t)] < 0 ? 1 : 0;
        }
        return to > from && 4 * page >= to - from;
    }

    // Rotation, crop and the dropping of an opaque source's alpha plane in
    // one pass over the placed rectangle, on the source's own pixels: the
    // whole rotated page is never made, and the source goes as soon as the
    // output exists.
    bool CutOutput() {
        m_foreground.reset();
        m_rotationLines.clear();
        const LONG width = m_kept->Width();
        const LONG height = m_kept->Height();
        const RECT placed = PlaceRect(m_rect, width, height);
        t.m_cropRect = placed;
        if (placed.left < 0 || placed.top < 0 || placed.right > width || placed.bottom > height ||
            placed.left >= placed.right || placed.top >= placed.bottom) {
            return Fail(kMsgTrimFailed, ResultText(E_INVALIDARG));
        }
        // Neither the cached block (a foreground's) nor, afterwards, the
        // source's fits an image made from here on: both go back to the
        // system at once instead of sitting idle beside the output.
        m_source.reset();
        ReleasePixelCache();
        const HRESULT hr =
            RotateImageRect(t.m_output, *m_kept, m_angle, placed, m_hasAlpha, t.m_runner);
        m_kept.reset();
        ReleasePixelCache();
        if (FAILED(hr)) {
            return Fail(m_angle == 0.0 ? kMsgTrimFailed : kMsgRotateFailed, ResultText(hr));
        }
        return true;
    }

    bool SaveOutput() {
        // The output image is never changed once made, so the saver reads
        // it through a bitmap that shares its pixels instead of a full-page
        // copy.
        BitmapPtr bitmap;
        try {
            bitmap.reset(new Gdiplus::Bitmap(t.m_output, true, m_dpiX, m_dpiY));
        } catch (const std::bad_alloc&) {
            return Fail(kMsgSaveImageFailed, ResultText(E_FAIL), t.m_outputPath);
        }
        const HRESULT hr = Save(*t.m_saver, bitmap, t.m_outputPath);
        if (FAILED(hr)) {
            return Fail(kMsgSaveImageFailed, ResultText(hr), t.m_outputPath);
        }
        t.m_outputKind = KindOf(*t.m_output);
        t.m_savedKind = t.m_outputKind ? KindSavedAs(*t.m_saver, *t.m_outputKind) : std::nullopt;
        return true;
    }

    void MakePreview() {
        t.m_preview = t.m_output;
        if (!t.m_output || t.m_previewSize.cx < 1 || t.m_previewSize.cy < 1) {
            return;
        }
        // The preview shows 8 bits: 16-bit samples are reduced first, grey
        // with alpha is shown as colour with alpha.
        DibPtr output = t.m_output;
        if (const std::optional<PixelKind> kind = KindOf(*output)) {
            const PixelKind shown = EightBitKind(*kind) == PixelKind::GreyAlpha8
                                        ? PixelKind::Bgra32
                                        : EightBitKind(*kind);
            if (FAILED(ToKind(output, output, shown))) {
                return;
            }
        }
        const RECT fitted =
            FitPreviewRect(RECT{0, 0, t.m_previewSize.cx, t.m_previewSize.cy}, output->Size());
        DibPtr scaled;
        const RECT whole{0, 0, output->Width(), output->Height()};
        if (SUCCEEDED(Resize(scaled,
                             RECT{0, 0, fitted.right - fitted.left, fitted.bottom - fitted.top},
                             *output, whole)) &&
            scaled) {
            t.m_preview = std::move(scaled);
        }
    }

    CAutoTrimTask& t;
    const AutoTrimParams& p;

    // Lets each pass reuse the pixel block its predecessor freed; released
    // when the run ends, after every image below.
    PixelCacheScope m_cacheScope;
    // The source in its own pixel kind, cut for the output; and as 8-bit
    // colour for the analyses (the same image when the source is 8-bit
    // colour).
    DibPtr m_kept;
    DibPtr m_source;
    bool m_hasAlpha = false;
    float m_dpiX = 0;
    float m_dpiY = 0;
    SIZE m_band{1, 1};
    DibPtr m_foreground;
    EdgeLineList m_rotationLines;
    // The lid along the margins of the foreground as it is (unturned in the
    // rotation stage, turned in the rectangle stage).
    LidMargins m_margins;
    double m_angle = 0.0;
    RECT m_rect{};
};

SourcePreloadPtr StartSourcePreload(const std::string& path) {
    CMemoryReservation memory;
    std::uint64_t need = 0;
    if (FAILED(ImageMemoryNeed(path, need)) ||
        ProcessMemoryBudget().TryReserve(memory, need) != S_OK) {
        return {};
    }
    try {
        return SourcePreloadPtr(new CImagePreload(path, std::move(memory)));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

void CAutoTrimTask::Init(DibPtr emptyImage, std::int32_t filePosition, std::string sourcePath,
                         std::string outputPath, CAutoTrimTaskClient* client) {
    m_resultId = 0;
    m_message.clear();
    ReleaseImages();
    m_emptyImage = std::move(emptyImage);
    m_sourcePreload.reset();
    m_filePosition = filePosition;
    m_sourcePath = std::move(sourcePath);
    m_outputPath = std::move(outputPath);
    m_client = client;
    m_previewSize = SIZE{0, 0};
    m_cutSides.clear();
    m_skewAngle = 0.0;
    m_cropRect = RECT{0, 0, 0, 0};
    m_dpiX = m_dpiY = 0;
    m_verdict = TrimVerdict{};
    m_outputKind.reset();
    m_savedKind.reset();
    m_stageTimes.clear();

    const std::size_t slash = m_outputPath.find_last_of('/');
    m_outputFolder = slash == std::string::npos ? std::string() : m_outputPath.substr(0, slash + 1);
}

void CAutoTrimTask::ReleaseImages() {
    m_output.reset();
    m_preview.reset();
    m_memory.Release();
}

void CAutoTrimTask::Run() {
    // The stages report through result codes; anything thrown on the way (a
    // missing string resource, a container that cannot grow) is recorded the
    // same way, so the file fails instead of the worker.
    CSimpleErr err;
    InvokeGuarded(err, [this] { Pipeline(*this).Execute(); });
    if (err.Failed()) {
        m_resultId = err.id;
        m_message = err.message;
        m_preview.reset();
    }
    // A batch shows many files: every failure says which source it was, on
    // a line of its own as the messages that carry it themselves do.
    if (m_resultId != 0 && m_resultId != kMsgSizeMismatch && m_resultId != kMsgReadImageFailed &&
        m_resultId != kMsgImageBeyondBudget) {
        m_message += "\n\n" + m_sourcePath;
    }
    // A failed run's memory is free for the next file at once.
    if (m_resultId != 0) {
        m_memory.Release();
    }
    if (m_client != nullptr) {
        m_client->OnTaskFinished(shared_from_this());
    }
}

SideList ChooseSidesAutomatically(const std::int32_t (&maxima)[4], double autoEdgeRatio) {
    SideList chosen;
    bool taken[4] = {false, false, false, false};
    auto lowest = [&]() {
        int best = -1;
        for (int s = 0; s < 4; ++s) {
            if (!taken[s] && (best < 0 || maxima[s] < maxima[best])) {
                best = s;
            }
        }
        return best;
    };
    std::int32_t threshold = 0;
    for (int round = 0; round < 4; ++round) {
        const int side = lowest();
        if (round >= 2 && maxima[side] > threshold) {
            break;
        }
        taken[side] = true;
        chosen.push_back(static_cast<Side>(side));
        if (round == 1) {
            threshold = static_cast<std::int32_t>(maxima[side] * autoEdgeRatio);
        }
    }
    return chosen;
}
