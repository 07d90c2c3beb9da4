#include "trim/AutoTrimTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "msg/Format.h"
#include "msg/StringTable.h"
#include "msg/SystemErrorText.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;

class TempDir {
  public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("qv-task-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + std::to_string(counter_++) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    static inline int counter_ = 0;
    fs::path path_;
};

void WritePng(const DibPtr& dib, const std::string& path, float dpi, bool withAlpha = false) {
    ASSERT_TRUE(scangen::WritePng(dib, path, dpi, withAlpha)) << path;
}

// A stop request raised at the n-th question.
class StopAt : public CTerminable {
  public:
    explicit StopAt(long n) : n_(n) {}
    bool IsTerminated() const override { return ++asked_ >= n_; }
    long Asked() const { return asked_; }

  private:
    long n_;
    mutable std::atomic<long> asked_{0};
};

struct Outcome {
    AutoTrimTaskPtr task;
    std::string outputPath;
};

struct RunSpec {
    AutoTrimParams params;
    bool withEmpty = true;
    int position = 0;
    const CTerminable* runner = nullptr;
    bool saver = true;
    SIZE preview{0, 0};
    bool sourceAlpha = false;
};

// Writes the scan (and its empty bed) as PNG files, runs one task on them and
// returns it.
Outcome RunOn(const TempDir& dir, const scangen::GeneratedScan& scan, const RunSpec& spec,
              const std::string& name = "scan") {
    const std::string source = dir / (name + ".png");
    WritePng(scan.scan, source, 150, spec.sourceAlpha);
    DibPtr empty;
    if (spec.withEmpty) {
        const std::string emptyPath = dir / "empty.png";
        WritePng(scan.emptyBed, emptyPath, 150);
        EXPECT_EQ(LoadDibFromFile(empty, emptyPath), S_OK);
    }
    Outcome outcome;
    outcome.outputPath = dir / ("trim/" + name + ".png");
    outcome.task.reset(new CAutoTrimTask);
    outcome.task->Init(empty, spec.position, source, outcome.outputPath, nullptr);
    outcome.task->SetParams(spec.params);
    outcome.task->SetPreviewSize(spec.preview.cx, spec.preview.cy);
    if (spec.saver) {
        EXPECT_EQ(SetPngSaver(outcome.task->Saver()), S_OK);
    }
    outcome.task->SetRunner(spec.runner);
    outcome.task->Run();
    return outcome;
}

scangen::GeneratedScan Generate(double skew, scangen::BedKind bed = scangen::BedKind::Light,
                                std::uint32_t seed = 7) {
    scangen::ScanOptions options = scangen::MakeScanOptions(1240, 1754, 150);
    options.skewDegrees = skew;
    options.bed = bed;
    options.seed = seed;
    options.shadow = true;
    options.shadowSide = SideRight;
    scangen::GeneratedScan scan = scangen::GenerateScan(options);
    EXPECT_EQ(scan.result, S_OK);
    return scan;
}

// The page's bounds after the picture has been turned by `angle` (positive
// clockwise on screen) about the image centre.
struct Bounds {
    double left, top, right, bottom;
};

Bounds StraightenedPage(const scangen::ScanTruth& truth, double angle, double w, double h) {
    const double cx = w / 2, cy = h / 2, c = std::cos(angle), s = std::sin(angle);
    Bounds b{1e9, 1e9, -1e9, -1e9};
    for (const auto& p : truth.corners) {
        const double x = cx + (p.x - cx) * c - (p.y - cy) * s;
        const double y = cy + (p.x - cx) * s + (p.y - cy) * c;
        b.left = std::min(b.left, x), b.right = std::max(b.right, x);
        b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
    }
    return b;
}

void ExpectCutEdgesOnPage(const CAutoTrimTask& task, const scangen::ScanTruth& truth,
                          const SideList& cut, double w, double h) {
    const Bounds page = StraightenedPage(truth, task.SkewAngle(), w, h);
    const RECT& r = task.CropRect();
    for (Side side : cut) {
        switch (side) {
            case SideLeft:
                EXPECT_NEAR(r.left, page.left, 3.0) << "left";
                break;
            case SideTop:
                EXPECT_NEAR(r.top, page.top, 3.0) << "top";
                break;
            case SideRight:
                EXPECT_NEAR(r.right, page.right, 3.0) << "right";
                break;
            case SideBottom:
                EXPECT_NEAR(r.bottom, page.bottom, 3.0) << "bottom";
                break;
        }
    }
}

TEST(AutoTrimTask, StraightensAndCutsWithEmptyImageAcrossSkews) {
    TempDir dir;
    for (double skew : {-9.0, -4.3, 0.0, 0.7, 2.5, 8.8}) {
        SCOPED_TRACE(skew);
        const scangen::GeneratedScan scan = Generate(skew);
        RunSpec spec;
        spec.params.SpaceType = TrimEdgesAll;
        const Outcome out = RunOn(dir, scan, spec);
        ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
        EXPECT_NEAR(out.task->SkewAngle() * 180 / kPi, -skew, 0.06);
        if (skew == 0.0) {
            EXPECT_EQ(out.task->SkewAngle(), 0.0);
        }
        ExpectCutEdgesOnPage(*out.task, scan.truth, out.task->CutSides(), 1240, 1754);
        ASSERT_TRUE(fs::exists(out.outputPath));
    }
}

TEST(AutoTrimTask, WithoutDeepCutTheRectangleSurroundsThePage) {
    TempDir dir;
    const scangen::GeneratedScan scan = Generate(3.2);
    RunSpec spec;
    spec.params.SpaceType = TrimEdgesAll;
    spec.params.Flags &= ~AutoTrimParams::FlagDeepCut;
    const Outcome out = RunOn(dir, scan, spec);
    ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
    ExpectCutEdgesOnPage(*out.task, scan.truth, out.task->CutSides(), 1240, 1754);
    const Bounds page = StraightenedPage(scan.truth, out.task->SkewAngle(), 1240, 1754);
    const RECT& r = out.task->CropRect();
    EXPECT_LE(r.left, page.left + 0.5);
    EXPECT_GE(r.right, page.right - 0.5);
    EXPECT_LE(r.top, page.top + 0.5);
    EXPECT_GE(r.bottom, page.bottom - 0.5);
}

TEST(AutoTrimTask, ColourDistanceModeOnLightAndDarkBeds) {
    TempDir dir;
    for (auto bed : {scangen::BedKind::Light, scangen::BedKind::Dark}) {
        for (double skew : {-6.0, 1.5}) {
            SCOPED_TRACE(skew);
            const scangen::GeneratedScan scan = Generate(skew, bed, 11);
            RunSpec spec;
            spec.withEmpty = false;
            spec.params.SpaceType = TrimEdgesAll;
            const Outcome out = RunOn(dir, scan, spec);
            ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
            EXPECT_NEAR(out.task->SkewAngle() * 180 / kPi, -skew, 0.06);
            ExpectCutEdgesOnPage(*out.task, scan.truth, out.task->CutSides(), 1240, 1754);
        }
    }
}

TEST(AutoTrimTask, AutomaticSidesAndAlternatingModesFollowTheBookPage) {
    TempDir dir;
    struct Case {
        std::uint32_t space, edge;
        int position;
        Side rotatedBy;
    };
    // "ltb+" cuts left, top, bottom at even positions and right, top, bottom
    // at odd ones, "rtb+" the reverse; the rotation modes alternate likewise.
    for (const Case c : {Case{TrimEdgesLeftRightAlternate, RotateEdgeLeftRight, 0, SideLeft},
                         Case{TrimEdgesLeftRightAlternate, RotateEdgeTopBottom, 1, SideBottom},
                         Case{TrimEdgesRightLeftAlternate, RotateEdgeRightLeft, 2, SideRight},
                         Case{TrimEdgesRightLeftAlternate, RotateEdgeBottomTop, 3, SideTop},
                         Case{TrimEdgesLeftRightAlternate, RotateEdgeLeftRight, 3, SideRight}}) {
        SCOPED_TRACE(testing::Message() << c.space << "/" << c.edge << " at " << c.position);
        const bool cutLeft = (c.space == TrimEdgesLeftRightAlternate) == (c.position % 2 == 0);
        const SideList expected = cutLeft ? SideList{SideLeft, SideTop, SideBottom}
                                          : SideList{SideRight, SideTop, SideBottom};
        // The page runs off the border that is not cut, like an opened book.
        scangen::ScanOptions options = scangen::MakeScanOptions(1240, 1754, 150);
        options.bookEdge = cutLeft ? scangen::BookEdge::Right : scangen::BookEdge::Left;
        options.skewDegrees = cutLeft ? 1.2 : -2.1;
        options.seed = 40 + c.position;
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        ASSERT_EQ(scan.result, S_OK);

        RunSpec alternating;
        alternating.position = c.position;
        alternating.params.SpaceType = c.space;
        alternating.params.EdgeType = c.edge;
        const Outcome a = RunOn(dir, scan, alternating, "alt" + std::to_string(c.position));
        ASSERT_EQ(a.task->ResultId(), 0u) << a.task->MessageText();
        EXPECT_EQ(a.task->CutSides(), expected);
        EXPECT_EQ(alternating.params.RotateSides(c.position, expected), SideList{c.rotatedBy});
        EXPECT_NEAR(a.task->SkewAngle() * 180 / kPi, -options.skewDegrees, 0.06);
        ExpectCutEdgesOnPage(*a.task, scan.truth, expected, 1240, 1754);
        const RECT& r = a.task->CropRect();
        if (cutLeft) {
            EXPECT_EQ(r.right, 1240);  // the uncut side ends at the border
        } else {
            EXPECT_EQ(r.left, 0);
        }

        if (c.position < 2) {
            RunSpec automatic;
            automatic.position = c.position;
            automatic.params.SpaceType = TrimEdgesAuto;
            const Outcome b = RunOn(dir, scan, automatic, "auto" + std::to_string(c.position));
            ASSERT_EQ(b.task->ResultId(), 0u) << b.task->MessageText();
            SideList sorted = b.task->CutSides();
            std::sort(sorted.begin(), sorted.end());
            SideList expectedSorted = expected;
            std::sort(expectedSorted.begin(), expectedSorted.end());
            EXPECT_EQ(sorted, expectedSorted);
        }
    }
}

TEST(AutoTrimTask, FixedOutputSizeAndAdditionalTrimmingGiveExactSizes) {
    TempDir dir;
    const scangen::GeneratedScan scan = Generate(-1.7);
    RunSpec spec;
    spec.params.SpaceType = TrimEdgesAll;
    spec.params.Flags |= AutoTrimParams::FlagOutputSize;
    spec.params.Output = SIZE{900, 1300};
    Outcome out = RunOn(dir, scan, spec, "fixed");
    ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
    EXPECT_EQ(out.task->OutputImage()->Size(), (SIZE{900, 1300}));

    spec.params.Flags |= AutoTrimParams::FlagAdditionalTrim;
    spec.params.Trim = SIZE{40, 21};
    out = RunOn(dir, scan, spec, "fixedtrim");
    ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
    EXPECT_EQ(out.task->OutputImage()->Size(), (SIZE{860, 1279}));

    ImagePtr written;
    ASSERT_EQ(LoadImageFromFile(written, out.outputPath), S_OK);
    EXPECT_EQ(written->GetWidth(), 860u);
    EXPECT_EQ(written->GetHeight(), 1279u);
}

TEST(AutoTrimTask, KeepsResolutionAndDropsAlphaOfOpaqueSources) {
    TempDir dir;
    const scangen::GeneratedScan scan = Generate(0.9);
    const std::string source = dir / "p300.png";
    WritePng(scan.scan, source, 300);
    AutoTrimTaskPtr task(new CAutoTrimTask);
    task->Init(scan.emptyBed, 0, source, dir / "out/p300.png", nullptr);
    AutoTrimParams params;
    params.SpaceType = TrimEdgesAll;
    task->SetParams(params);
    task->SetPreviewSize(200, 200);
    ASSERT_EQ(SetPngSaver(task->Saver()), S_OK);
    task->Run();
    ASSERT_EQ(task->ResultId(), 0u) << task->MessageText();
    EXPECT_EQ(task->OutputImage()->BitCount(), 24);
    const SIZE preview = task->PreviewImage()->Size();
    EXPECT_TRUE(preview.cx == 200 || preview.cy == 200);
    EXPECT_LE(preview.cx, 200);

    ImagePtr written;
    ASSERT_EQ(LoadImageFromFile(written, dir / "out/p300.png"), S_OK);
    EXPECT_FALSE(written->HasAlpha());
    // PNG stores whole pixels per metre: 11811, that is 299.9994 dpi.
    EXPECT_NEAR(written->GetHorizontalResolution(), 300.0f, 0.001);
    EXPECT_NEAR(written->GetVerticalResolution(), 300.0f, 0.001);
}

TEST(AutoTrimTask, SourceWithAlphaKeepsThirtyTwoBitsAndPreviewDefaultsToOutput) {
    TempDir dir;
    scangen::GeneratedScan scan = Generate(0.0);
    // Make one pixel translucent so the file carries an alpha channel.
    scan.scan->Row(0)[3] = 128;
    RunSpec spec;
    spec.params.SpaceType = TrimEdgesAll;
    spec.sourceAlpha = true;
    const Outcome out = RunOn(dir, scan, spec);
    ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
    EXPECT_EQ(out.task->OutputImage()->BitCount(), 32);
    EXPECT_EQ(out.task->PreviewImage(), out.task->OutputImage());
    ImagePtr written;
    ASSERT_EQ(LoadImageFromFile(written, out.outputPath), S_OK);
    EXPECT_TRUE(written->HasAlpha());
}

struct ErrorCase {
    const char* name;
    std::uint32_t id;
};

TEST(AutoTrimTask, FailuresRecordTheirMessageAndWriteNothing) {
    SetUiLanguage(Language::English);
    TempDir dir;
    const scangen::GeneratedScan scan = Generate(2.0);

    {  // no saver
        RunSpec spec;
        spec.saver = false;
        const Outcome out = RunOn(dir, scan, spec, "nosaver");
        EXPECT_EQ(out.task->ResultId(), 40032u);
        EXPECT_EQ(out.task->MessageText(), "saver is not specified");
        EXPECT_FALSE(fs::exists(out.outputPath));
    }
    {  // automatic sides without an empty image
        RunSpec spec;
        spec.withEmpty = false;
        const Outcome out = RunOn(dir, scan, spec, "auto");
        EXPECT_EQ(out.task->ResultId(), 40035u);
        EXPECT_FALSE(fs::exists(out.outputPath));
    }
    {  // a missing file and a file that is no image
        const std::string notImage = dir / "text.png";
        std::ofstream(notImage) << "not an image";
        for (const std::string& source : {dir / "missing.png", notImage}) {
            AutoTrimTaskPtr task(new CAutoTrimTask);
            task->Init(DibPtr(), 0, source, dir / "trim/x.png", nullptr);
            ASSERT_EQ(SetPngSaver(task->Saver()), S_OK);
            task->Run();
            EXPECT_EQ(task->ResultId(), 40022u);
            const HRESULT expected = source == notImage ? E_NOTIMPL : HRESULT_FROM_WIN32(2);
            EXPECT_EQ(task->MessageText(), Formatted(40022, SystemErrorText(expected), source));
            EXPECT_FALSE(fs::exists(dir / "trim/x.png"));
        }
    }
    {  // an empty image of another size
        const std::string source = dir / "small.png";
        WritePng(scan.scan, source, 150);
        DibPtr other(new CDib);
        ASSERT_TRUE(other->Create(100, 100, 32, 0, BI_RGB) && other->AllocateBits());
        AutoTrimTaskPtr task(new CAutoTrimTask);
        task->Init(other, 0, source, dir / "trim/small.png", nullptr);
        ASSERT_EQ(SetPngSaver(task->Saver()), S_OK);
        task->Run();
        EXPECT_EQ(task->ResultId(), 40008u);
        EXPECT_EQ(task->MessageText(),
                  "target image size is different from empty-path image size\n\n" + source);
        EXPECT_FALSE(fs::exists(dir / "trim/small.png"));
    }
    {  // the output folder cannot be made (a file stands in its way)
        std::ofstream(dir / "blocked") << "x";
        const std::string source = dir / "b.png";
        WritePng(scan.scan, source, 150);
        AutoTrimTaskPtr task(new CAutoTrimTask);
        task->Init(scan.emptyBed, 0, source, dir / "blocked/b.png", nullptr);
        ASSERT_EQ(SetPngSaver(task->Saver()), S_OK);
        task->Run();
        EXPECT_EQ(task->ResultId(), 40021u);
        EXPECT_EQ(task->MessageText(), "failed to delete a folder\n\n" + (dir / "blocked/"));
    }
    ResetUiLanguage();
}

TEST(AutoTrimTask, StopRequestsFailTheStageThatSeesThem) {
    SetUiLanguage(Language::English);
    TempDir dir;
    const scangen::GeneratedScan scan = Generate(2.0);
    const long rows = 1754;
    const std::string aborted = SystemErrorText(static_cast<std::uint32_t>(E_ABORT));
    struct Case {
        long stopAt;
        std::uint32_t id;
    };
    // The difference image asks once per row, each median pass once per
    // interior row, the edge search once per fit (8 levels × 4 sides), the
    // rotation once per row.
    const long diff = rows, median = 3 * (rows - 2), fits = 32;
    for (const Case c :
         {Case{diff / 2, 40023u}, Case{diff + median - 10, 40024u}, Case{diff + median + 5, 40005u},
          Case{diff + median + fits + 20, 40027u}}) {
        SCOPED_TRACE(c.id);
        StopAt stop(c.stopAt);
        RunSpec spec;
        spec.params.SpaceType = TrimEdgesAll;
        spec.runner = &stop;
        const Outcome out = RunOn(dir, scan, spec, "stop" + std::to_string(c.id));
        EXPECT_EQ(out.task->ResultId(), c.id);
        EXPECT_EQ(out.task->MessageText(), Formatted(c.id, aborted));
        EXPECT_FALSE(fs::exists(out.outputPath));
    }
    ResetUiLanguage();
}

class RecordingClient : public CAutoTrimTaskClient {
  public:
    void OnTaskFinished(boost::shared_ptr<CAutoTrimTask> task) override {
        finished.push_back(task);
    }
    std::vector<AutoTrimTaskPtr> finished;
};

TEST(AutoTrimTask, InitSplitsTheOutputPathAndRunReportsToTheClient) {
    RecordingClient client;
    AutoTrimTaskPtr task(new CAutoTrimTask);
    task->Init(DibPtr(), 3, "/nowhere/in.png", "/out/dir/name.v2.tif", &client);
    EXPECT_EQ(task->OutputFolder(), "/out/dir/");
    EXPECT_EQ(task->OutputBaseName(), "name.v2");
    EXPECT_EQ(task->OutputExtension(), "tif");
    task->Init(DibPtr(), 3, "/nowhere/in.png", "plain", &client);
    EXPECT_EQ(task->OutputFolder(), "");
    EXPECT_EQ(task->OutputBaseName(), "plain");
    EXPECT_EQ(task->OutputExtension(), "");
    task->Run();  // no saver: fails, but still reports
    ASSERT_EQ(client.finished.size(), 1u);
    EXPECT_EQ(client.finished[0], task);
    EXPECT_EQ(task->ResultId(), 40032u);
}

TEST(ChooseSidesAutomatically, TwoDarkestThenThoseWithinTheRatio) {
    EXPECT_EQ(ChooseSidesAutomatically({3, 40, 7, 200}, 3.0), (SideList{SideLeft, SideRight}));
    EXPECT_EQ(ChooseSidesAutomatically({3, 7, 9, 200}, 3.0),
              (SideList{SideLeft, SideTop, SideRight}));
    EXPECT_EQ(ChooseSidesAutomatically({10, 255, 255, 255}, 3.0),
              (SideList{SideLeft, SideTop, SideRight, SideBottom}));
    EXPECT_EQ(ChooseSidesAutomatically({0, 0, 0, 1}, 3.0),
              (SideList{SideLeft, SideTop, SideRight}));
    EXPECT_EQ(ChooseSidesAutomatically({50, 50, 50, 50}, 3.0),
              (SideList{SideLeft, SideTop, SideRight, SideBottom}));
}

}  // namespace
