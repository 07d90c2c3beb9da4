#include "trim/AutoTrimTask.h"

#include <algorithm>
#include <array>
#include <chrono>
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
        HRESULT hr = preload ? preload->Take(image) : LoadImageFromFile(image, t.m_sourcePath);
        if (SUCCEEDED(hr)) {
            m_hasAlpha = image->HasAlpha();
            m_dpiX = image->GetHorizontalResolution();
            m_dpiY = image->GetVerticalResolution();
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
        const HRESULT hr =
            FitRotationEdgeLines(m_rotationLines, *m_foreground, sides, m_band, p.MaxSkewDegrees,
                                 p.AngleStepsPerDegree, t.m_runner);
        if (FAILED(hr)) {
            return Fail(kMsgEdgeFailed, ResultText(hr));
        }
        // A line that rests on too few points is no edge to straighten by
        // (nor to fit again at its level).
        for (EdgeLine& line : m_rotationLines) {
            if (line.votes > 0 && !RestsOnEnoughPoints(line, *m_foreground)) {
                line.votes = 0;
            }
        }
        m_angle = SkewAngleFromEdgeLines(m_rotationLines);
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

    bool FindRectangle() {
        const CutFlags cut = CutFlagsFromSides(t.m_cutSides);
        ManuscriptLines lines;
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
                                  p.MaxSkewDegrees, p.AngleStepsPerDegree)
                    : FitEdgeLineBestLevel(line, *m_foreground, side, m_band, p.MaxSkewDegrees,
                                           p.AngleStepsPerDegree, t.m_runner);
            if (FAILED(hr)) {
                return Fail(kMsgRectFailed, ResultText(hr));
            }
        }
        HRESULT hr = CheckManuscriptLines(lines, cut, *m_foreground, nullptr);
        if (FAILED(hr)) {
            return Fail(kMsgRectFailed, ResultText(hr));
        }
        const TrimRect trim =
            ComputeTrimRect(ManuscriptCorners(lines), p.Flags, cut, p.Output, p.Trim);
        // After the check the lines leave a rectangle; should they not, the
        // file fails rather than a sliver being written.
        if (!(trim.edges[SideRight] > trim.edges[SideLeft] &&
              trim.edges[SideBottom] > trim.edges[SideTop])) {
            return Fail(kMsgRectFailed, ResultText(HRESULT_FROM_WIN32(ERROR_INVALID_DATA)));
        }
        m_rect = trim.rect;
        return true;
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
    double m_angle = 0.0;
    RECT m_rect{};
};

SourcePreloadPtr StartSourcePreload(const std::string& path) {
    try {
        return SourcePreloadPtr(new CImagePreload(path));
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
    if (m_resultId != 0 && m_resultId != kMsgSizeMismatch && m_resultId != kMsgReadImageFailed) {
        m_message += "\n\n" + m_sourcePath;
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
