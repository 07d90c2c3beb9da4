#include "trim/AutoTrimTask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <ranges>
#include <string>
#include <vector>

#include <unistd.h>

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "msg/StringTable.h"
#include "msg/SystemErrorText.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestImages.h"
#include "trim/AppSettings.h"
#include "trim/TrimVerdict.h"

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Outcome {
    AutoTrimTaskPtr task;
    std::string outputPath;
};

// Automatic sides unless a test chooses others.
AutoTrimParams AutoSides() {
    AutoTrimParams params;
    params.SpaceType = TrimEdgesAuto;
    return params;
}

struct RunSetup {
    AutoTrimParams params = AutoSides();
    bool withEmpty = true;
    int position = 0;
    const CTerminable* runner = nullptr;
    bool saver = true;
    SIZE preview{0, 0};
    bool sourceAlpha = false;
    float dpi = 150;
};

// Writes the scan (and its empty bed) as PNG files, runs one task on them and
// returns it.
Outcome RunOn(const TempDir& dir, const scangen::GeneratedScan& scan, const RunSetup& setup,
              const std::string& name = "scan") {
    const std::string source = dir / (name + ".png");
    EXPECT_TRUE(scangen::WritePng(scan.scan, source, setup.dpi, setup.sourceAlpha));
    DibPtr empty;
    if (setup.withEmpty) {
        EXPECT_TRUE(scangen::WritePng(scan.emptyBed, dir / "empty.png", 150));
        EXPECT_EQ(LoadDibFromFile(empty, dir / "empty.png"), S_OK);
    }
    Outcome outcome{AutoTrimTaskPtr(new CAutoTrimTask), dir / ("trim/" + name + ".png")};
    outcome.task->Init(empty, setup.position, source, outcome.outputPath, nullptr);
    outcome.task->SetParams(setup.params);
    outcome.task->SetPreviewSize(setup.preview.cx, setup.preview.cy);
    if (setup.saver) {
        EXPECT_EQ(SetFormatSaver(outcome.task->Saver(), SaveTypePng, 0, 0), S_OK);
    }
    outcome.task->SetRunner(setup.runner);
    outcome.task->Run();
    return outcome;
}

// Runs a task on files already in place, with a PNG saver.
AutoTrimTaskPtr RunFiles(const DibPtr& empty, const std::string& source,
                         const std::string& output) {
    AutoTrimTaskPtr task(new CAutoTrimTask);
    task->Init(empty, 0, source, output, nullptr);
    EXPECT_EQ(SetFormatSaver(task->Saver(), SaveTypePng, 0, 0), S_OK);
    task->Run();
    return task;
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

// A page corner after the picture has been turned by `angle` (positive
// clockwise on screen) about the image centre.
scangen::PointD Straightened(scangen::PointD p, double angle) {
    const double cx = 1240 / 2.0, cy = 1754 / 2.0, c = std::cos(angle), s = std::sin(angle);
    return {cx + (p.x - cx) * c - (p.y - cy) * s, cy + (p.x - cx) * s + (p.y - cy) * c};
}

// The page's bounds {left, top, right, bottom} after straightening.
std::array<double, 4> StraightenedPage(const scangen::ScanTruth& truth, double angle) {
    std::array<double, 4> b{1e9, 1e9, -1e9, -1e9};
    for (const auto& corner : truth.corners) {
        const auto [x, y] = Straightened(corner, angle);
        b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
    }
    return b;
}

// Each cut side no more than `tolerance` pixels outside the span of the
// page's edge after straightening (between its two corners), or at the image
// border where the page runs beyond it.
void ExpectCutEdgesOnPage(const CAutoTrimTask& task, const scangen::ScanTruth& truth,
                          const SideList& cut, double tolerance = 3.0) {
    const RECT& r = task.CropRect();
    const LONG got[4] = {r.left, r.top, r.right, r.bottom};
    const double border[4] = {0, 0, 1240, 1754};
    for (Side side : cut) {
        SCOPED_TRACE(testing::Message() << "side " << side);
        if (!truth.sideVisible[side]) {
            EXPECT_NEAR(got[side], border[side], tolerance);
            continue;
        }
        // Page edges by side: left from corner 3 to 0, top 0 to 1, ...
        const auto a = Straightened(truth.corners[(side + 3) % 4], task.SkewAngle());
        const auto b = Straightened(truth.corners[side], task.SkewAngle());
        const bool vertical = side == SideLeft || side == SideRight;
        EXPECT_GE(got[side], std::min(vertical ? a.x : a.y, vertical ? b.x : b.y) - tolerance);
        EXPECT_LE(got[side], std::max(vertical ? a.x : a.y, vertical ? b.x : b.y) + tolerance);
    }
}

TEST(AutoTrimTask, StraightensAndCutsAcrossSkewsBedsAndCutModes) {
    TempDir dir;
    struct Case {
        bool withEmpty;
        scangen::BedKind bed;
        double skew;
        bool deep = true;
    };
    using scangen::BedKind;
    for (const Case c : {Case{true, BedKind::Light, -9.0}, Case{true, BedKind::Light, 0.0},
                         Case{true, BedKind::Light, 3.2, false}, Case{true, BedKind::Light, 8.8},
                         Case{false, BedKind::Light, -6.0}, Case{false, BedKind::Dark, 1.5}}) {
        SCOPED_TRACE(testing::Message() << c.withEmpty << " bed " << int(c.bed) << " " << c.skew);
        const scangen::GeneratedScan scan = Generate(c.skew, c.bed, c.withEmpty ? 7 : 11);
        RunSetup setup;
        setup.withEmpty = c.withEmpty;
        setup.params.SpaceType = TrimEdgesAll;
        if (!c.deep) {
            setup.params.Flags &= ~AutoTrimParams::FlagDeepCut;
        }
        const Outcome out = RunOn(dir, scan, setup);
        ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
        EXPECT_NEAR(out.task->SkewAngle() * 180 / kPi, -c.skew, 0.06);
        if (c.skew == 0.0) {
            EXPECT_EQ(out.task->SkewAngle(), 0.0);
        }
        ExpectCutEdgesOnPage(*out.task, scan.truth, out.task->CutSides());
        // A page cut right is not to be looked at; the verdict's corners are
        // the page's own in the source.
        const TrimVerdict& verdict = out.task->Verdict();
        EXPECT_FALSE(verdict.NeedsReview())
            << VerdictReasonTexts(verdict, Language::English).front();
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(verdict.pageCorners[i].x, scan.truth.corners[i].x, 2.5) << i;
            EXPECT_NEAR(verdict.pageCorners[i].y, scan.truth.corners[i].y, 2.5) << i;
        }
        if (!c.deep) {  // the rectangle surrounds the page
            const std::array<double, 4> page = StraightenedPage(scan.truth, out.task->SkewAngle());
            const RECT& r = out.task->CropRect();
            EXPECT_LE(r.left, page[SideLeft] + 0.5);
            EXPECT_LE(r.top, page[SideTop] + 0.5);
            EXPECT_GE(r.right, page[SideRight] - 0.5);
            EXPECT_GE(r.bottom, page[SideBottom] - 0.5);
        }
        EXPECT_TRUE(fs::exists(out.outputPath));
    }
}

// Scans easily cut into slivers or through the text: the cut follows the
// page's edges, a page beyond a border keeps all of itself that is in the
// scan, and a page filling the frame is not cut at all, each side named in
// the reasons.
TEST(AutoTrimTask, HardScansAreCutAtThePageNeverThroughIt) {
    TempDir dir;
    struct Case {
        const char* name;
        bool withEmpty;
        std::uint32_t rotate;
        void (*setUp)(scangen::ScanOptions&);
        // The verdict's reasons in English.
        std::vector<std::string> reasons;
    };
    // A faint, blurred page edge that high levels do not see, and the lid's
    // shadow along the far edge that they do.
    const auto nearBlank = +[](scangen::ScanOptions& o) {
        o.dpi = 300;
        o.noiseSigma = 2;
        o.skewDegrees = 2.12;
        o.shadow = true;
        o.text = false;
    };
    const Case cases[] = {
        {"off the left border, dark text on a dark lid",
         false,
         RotateEdgeAuto,
         +[](scangen::ScanOptions& o) {
             o.bed = scangen::BedKind::Dark;
             o.bedLevel = 36;
             o.skewDegrees = 1.23;
             o.bookEdge = scangen::BookEdge::Left;
             o.bookOverhang = 12;
         },
         {"page runs off the left border of the scan"}},
        {"near-blank pale page", true, RotateEdgeAuto, nearBlank, {}},
        {"near-blank pale page, not rotated",
         true,
         RotateEdgeNone,
         nearBlank,
         {"page not straightened although its edges are skewed"}},
        {"page filling the frame",
         false,
         RotateEdgeAuto,
         +[](scangen::ScanOptions& o) {
             o.pageWidth = 1300;
             o.pageHeight = 1800;
             o.paper = {236, 226, 196};
             o.textPoints = 9;
             o.marginX = o.marginY = 0.05;
         },
         {"nothing was cut: the result is the whole scan",
          "left edge too faint to trust: kept to the image border",
          "top edge too faint to trust: kept to the image border",
          "right edge too faint to trust: kept to the image border",
          "bottom edge too faint to trust: kept to the image border"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scangen::ScanOptions options = scangen::MakeScanOptions(1240, 1754, 150);
        options.blurPasses = 2;
        options.seed = 31;
        c.setUp(options);
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        ASSERT_EQ(scan.result, S_OK);
        RunSetup setup;
        setup.withEmpty = c.withEmpty;
        setup.params.SpaceType = TrimEdgesAll;
        setup.params.EdgeType = c.rotate;
        const Outcome out = RunOn(dir, scan, setup);
        ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
        EXPECT_EQ(VerdictReasonTexts(out.task->Verdict(), Language::English), c.reasons);
        if (c.rotate != RotateEdgeNone) {
            EXPECT_NEAR(out.task->SkewAngle() * 180 / kPi, -options.skewDegrees, 0.06);
        }
        // A strong lid shadow may keep a pixel or two more of the lid.
        ExpectCutEdgesOnPage(*out.task, scan.truth, out.task->CutSides(), 5.0);
    }
}

// Beds that kept lid, cut at a shadow's rim, kept a book's cover, left the
// page unturned or left a pale page's faint edges unfound: each side is cut
// where the page itself ends, the page is straightened, and nothing asks for
// a look.
TEST(AutoTrimTask, EveryBedIsCutWhereThePageEnds) {
    TempDir dir;
    struct Case {
        const char* name;
        bool withEmpty;
        std::uint32_t space;
        double dpi;
        void (*setUp)(scangen::ScanOptions&);
        // Pixels a cut may lie outside the page; a shadow's rim lies further.
        double tolerance = 3.0;
    };
    const Case cases[] = {
        {"a page against the left border, the lid lit unevenly to the far side", false,
         TrimEdgesAll, 150,
         +[](scangen::ScanOptions& o) {
             o.bedLevel = 225;
             o.bedGradient = 4;
             o.pageWidth = 700;
             o.pageHeight = 1200;
             o.skewDegrees = 3.1;
             o.centreX = 382;
         }},
        {"a drop shadow along two sides", true, TrimEdgesAll, 300,
         +[](scangen::ScanOptions& o) {
             o.skewDegrees = -2.3;
             o.shadow = true;
             o.shadowSide = SideRight;
             o.shadowNextSide = true;
             o.shadowWidth = 12;
             o.shadowStrength = 0.3;
         },
         1.5},
        {"a pale page on a pale lid, a drop shadow along two sides", true, TrimEdgesAll, 300,
         +[](scangen::ScanOptions& o) {
             o.skewDegrees = -1.4;
             o.bedLevel = 232;
             o.bedGradient = 0.5;
             o.paper = {240, 236, 226};
             o.noiseSigma = 2.8;
             o.blurPasses = 3;
             o.shadow = true;
             o.shadowSide = SideTop;
             o.shadowNextSide = true;
             o.shadowWidth = 10;
             o.shadowStrength = 0.2;
         }},
        {"a faint drop shadow along one side, no empty image", false, TrimEdgesAll, 150,
         +[](scangen::ScanOptions& o) {
             o.skewDegrees = 2.7;
             o.shadow = true;
             o.shadowSide = SideLeft;
             o.shadowWidth = 12;
             o.shadowStrength = 0.15;
         },
         1.5},
        {"a dark frame strip along the bed's top border", false, TrimEdgesAll, 150,
         +[](scangen::ScanOptions& o) {
             o.skewDegrees = 1.8;
             o.frameSide = SideTop;
             o.frameWidth = 12;
             o.frameLevel = 30;
         }},
        {"a book page on its dark cover, the page block's edges around", false,
         TrimEdgesRightLeftAlternate, 150,
         +[](scangen::ScanOptions& o) {
             o.skewDegrees = 1.1;
             o.pageHeight = 1300;
             o.bookEdge = scangen::BookEdge::Left;
             o.bookOverhang = 10;
             o.coverMargin = 36;
             o.coverLevel = 30;
             o.blockWidth = 12;
         }},
        {"a woven lid whose weave lies otherwise in the empty image", true, TrimEdgesAll, 150,
         +[](scangen::ScanOptions& o) {
             o.skewDegrees = 4.9;
             o.bedLevel = 222;
             o.weaveAmplitude = 5.3;
             o.weavePeriod = 6.8;
             o.weaveShift = 3;
             o.paper = {228, 227, 221};
             o.blurPasses = 3;
             o.noiseSigma = 1.4;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scangen::ScanOptions options = scangen::MakeScanOptions(1240, 1754, c.dpi);
        options.blurPasses = 2;
        options.noiseSigma = 1.8;
        options.seed = 91;
        c.setUp(options);
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        ASSERT_EQ(scan.result, S_OK);
        RunSetup setup;
        setup.withEmpty = c.withEmpty;
        setup.params.SpaceType = c.space;
        const Outcome out = RunOn(dir, scan, setup);
        ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
        EXPECT_NEAR(out.task->SkewAngle() * 180 / kPi, -options.skewDegrees, 0.06);
        ExpectCutEdgesOnPage(*out.task, scan.truth, out.task->CutSides(), c.tolerance);
        const std::vector<std::string> reasons =
            VerdictReasonTexts(out.task->Verdict(), Language::English);
        EXPECT_TRUE(reasons.empty()) << reasons.front();
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

        RunSetup alternating;
        alternating.position = c.position;
        alternating.params.SpaceType = c.space;
        alternating.params.EdgeType = c.edge;
        const Outcome a = RunOn(dir, scan, alternating, "alt" + std::to_string(c.position));
        ASSERT_EQ(a.task->ResultId(), 0u) << a.task->MessageText();
        EXPECT_EQ(a.task->CutSides(), expected);
        EXPECT_EQ(alternating.params.RotateSides(c.position, expected), SideList{c.rotatedBy});
        EXPECT_NEAR(a.task->SkewAngle() * 180 / kPi, -options.skewDegrees, 0.06);
        ExpectCutEdgesOnPage(*a.task, scan.truth, expected);
        // The uncut side ends at the border.
        EXPECT_EQ(cutLeft ? a.task->CropRect().right : a.task->CropRect().left, cutLeft ? 1240 : 0);

        if (c.position < 2) {
            RunSetup automatic;
            automatic.position = c.position;
            automatic.params.SpaceType = TrimEdgesAuto;
            const Outcome b = RunOn(dir, scan, automatic, "auto" + std::to_string(c.position));
            ASSERT_EQ(b.task->ResultId(), 0u) << b.task->MessageText();
            SideList sorted = b.task->CutSides(), expectedSorted = expected;
            std::sort(sorted.begin(), sorted.end());
            std::sort(expectedSorted.begin(), expectedSorted.end());
            EXPECT_EQ(sorted, expectedSorted);
        }
    }
}

// Size rules the result cannot follow: a fixed size wider than the scan and
// trimming that would leave nothing are reported, the trimming left out.
TEST(AutoTrimTask, SizeRulesTheResultCannotFollowAreReported) {
    TempDir dir;
    const scangen::GeneratedScan scan = Generate(1.0);
    RunSetup setup;
    setup.params.SpaceType = TrimEdgesLeftRight;
    setup.params.Flags |= AutoTrimParams::FlagOutputSize | AutoTrimParams::FlagAdditionalTrim;
    setup.params.Output = SIZE{1300, 1000};
    setup.params.Trim = SIZE{5000, 0};
    const Outcome out = RunOn(dir, scan, setup);
    ASSERT_EQ(out.task->ResultId(), 0u) << out.task->MessageText();
    EXPECT_EQ(out.task->Verdict().flags, VerdictOutputSizeBeyondScan | VerdictTrimRemovesPage);
    EXPECT_EQ(
        VerdictReasonTexts(out.task->Verdict(), Language::English),
        (std::vector<std::string>{"output size larger than the scan: the result is smaller",
                                  "additional trimming would remove the whole page: not applied"}));
    EXPECT_EQ(out.task->CropRect().right - out.task->CropRect().left, 1240);
}

// The result is cut from the source's own pixels: each kind comes out as
// that kind (opaque colour without its alpha plane) with the source's
// profile (PNG, JPEG and TIFF sources and results), a bitonal page not turned keeps its exact bits,
// and the preview is fitted (or is the result without a preview size).
TEST(AutoTrimTask, ResultsKeepTheSourcesKindProfileAndBits) {
    using K = PixelKind;
    struct Case {
        K kind;
        const char* source;  // format keyword
        std::uint32_t option;
        const char* output;
        bool turned;  // the page is skewed and straightened
        K expected;
    };
    const Case cases[] = {
        {K::Bitonal, "tif", 0, "png", false, K::Bitonal},
        {K::Bitonal, "tif", 0, "tif", true, K::Bitonal},
        {K::Grey8, "png", 0, "png", true, K::Grey8},
        {K::Grey16, "png", 0, "tif", true, K::Grey16},
        {K::Bgr48, "tif", 5, "png", true, K::Bgr48},
        {K::Bgr24, "png", 0, "png", true, K::Bgr24},
        {K::Grey8, "jpg", 90, "jpg", true, K::Grey8},
        {K::Bgr24, "jpg", 90, "png", false, K::Bgr24},
        {K::Bgra32, "png", 0, "tif", false, K::Bgra32},  // one translucent pixel
    };
    TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << n);
        const bool translucent = c.expected == K::Bgra32;
        scangen::GeneratedScan scan =
            Generate(c.turned ? 0.9 : 0.0,
                     c.kind == K::Bitonal ? scangen::BedKind::Dark : scangen::BedKind::Light);
        if (translucent) {
            scan.scan->Row(0)[3] = 128;
        }
        const std::vector<BYTE> profile =
            IccProfile(InfoOf(c.kind).colour ? "RGB " : "GRAY", 100 + n);
        const DibPtr source = scangen::ScanAsKind(*scan.scan, c.kind, profile);
        const std::string name = "s" + std::to_string(n++);
        const std::string sourcePath = dir / (name + "." + c.source);
        const std::string outputPath = dir / ("trim/" + name + "." + c.output);
        ASSERT_TRUE(scangen::WriteImage(source, sourcePath, 300, c.source, c.option));
        AutoTrimParams params;
        params.SpaceType = TrimEdgesAll;
        if (!c.turned) {
            params.EdgeType = RotateEdgeNone;
        }
        AutoTrimTaskPtr task(new CAutoTrimTask);
        task->Init(DibPtr(), 0, sourcePath, outputPath, nullptr);
        task->SetParams(params);
        task->SetPreviewSize(translucent ? 0 : 200, translucent ? 0 : 200);
        ASSERT_EQ(SetFormatSaver(task->Saver(), OutputFormatByKeyword(c.output)->saveType, 0, 0),
                  S_OK);
        task->Run();
        ASSERT_EQ(task->ResultId(), 0u) << task->MessageText();
        EXPECT_EQ(task->OutputKind(), c.expected);
        EXPECT_EQ(task->SavedKind(), c.expected);
        EXPECT_EQ(task->SkewAngle() != 0.0, c.turned);
        if (translucent) {
            EXPECT_EQ(task->PreviewImage(), task->OutputImage());
        } else {
            const SIZE preview = task->PreviewImage()->Size();
            EXPECT_TRUE(preview.cx == 200 || preview.cy == 200);
            EXPECT_LE(std::max(preview.cx, preview.cy), 200);
        }

        ImagePtr image;
        DibPtr written;
        ASSERT_EQ(LoadImageFromFile(image, outputPath), S_OK);
        ASSERT_EQ(ImageToKeptDib(image, written), S_OK);
        EXPECT_EQ(image->HasAlpha(), translucent);
        EXPECT_EQ(KindOf(*written), c.expected == K::Bgr24 ? K::Bgra32 : c.expected);
        EXPECT_TRUE(std::ranges::equal(written->Profile(), profile));
        EXPECT_EQ(written->Header()->biXPelsPerMeter, DpiToPelsPerMeter(300));
        if (c.kind == K::Bitonal && !c.turned) {
            const RECT& r = task->CropRect();
            ASSERT_EQ(written->Size(), (SIZE{r.right - r.left, r.bottom - r.top}));
            const auto bit = [](const CDib& d, LONG x, LONG y) {
                return (d.Row(y)[x / 8] >> (7 - x % 8)) & 1;
            };
            for (LONG y = 0; y < written->Height(); ++y) {
                for (LONG x = 0; x < written->Width(); ++x) {
                    ASSERT_EQ(bit(*written, x, y), bit(*source, r.left + x, r.top + y))
                        << x << "," << y;
                }
            }
        }
    }
}

TEST(AutoTrimTask, FailuresRecordTheirMessageAndWriteNothing) {
    SetUiLanguage(Language::English);
    TempDir dir;
    const scangen::GeneratedScan scan = Generate(2.0);

    RunSetup noSaver;
    noSaver.saver = false;
    Outcome out = RunOn(dir, scan, noSaver, "nosaver");
    EXPECT_EQ(out.task->ResultId(), 40032u);
    // Messages that do not name the source themselves get it appended.
    EXPECT_EQ(out.task->MessageText(), "saver is not specified\n\n" + (dir / "nosaver.png"));
    EXPECT_FALSE(fs::exists(out.outputPath));

    RunSetup autoWithoutEmpty;
    autoWithoutEmpty.withEmpty = false;
    out = RunOn(dir, scan, autoWithoutEmpty, "auto");
    EXPECT_EQ(out.task->ResultId(), 40035u);
    EXPECT_FALSE(fs::exists(out.outputPath));

    // A missing file and a file that is no image.
    const std::string notImage = dir / "text.png";
    std::ofstream(notImage) << "not an image";
    for (const std::string& source : {dir / "missing.png", notImage}) {
        const AutoTrimTaskPtr task = RunFiles(DibPtr(), source, dir / "trim/x.png");
        EXPECT_EQ(task->ResultId(), 40022u);
        const HRESULT expected = source == notImage ? E_NOT_IMAGE_FILE : HRESULT_FROM_WIN32(2);
        EXPECT_EQ(task->MessageText(), Formatted(40022, SystemErrorText(expected), source));
        EXPECT_FALSE(fs::exists(dir / "trim/x.png"));
    }

    // An empty image of another size.
    const std::string source = dir / "small.png";
    ASSERT_TRUE(scangen::WritePng(scan.scan, source, 150));
    AutoTrimTaskPtr task = RunFiles(BlankImage(100, 100, 32), source, dir / "trim/small.png");
    EXPECT_EQ(task->ResultId(), 40008u);
    EXPECT_EQ(task->MessageText(),
              "target image size is different from empty-path image size\n\n" + source);
    EXPECT_FALSE(fs::exists(dir / "trim/small.png"));

    // The output folder cannot be made (a file stands in its way).
    std::ofstream(dir / "blocked") << "x";
    task = RunFiles(scan.emptyBed, source, dir / "blocked/b.png");
    EXPECT_EQ(task->ResultId(), 40021u);
    EXPECT_EQ(task->MessageText(),
              "failed to create a folder\n\n" + (dir / "blocked/") + "\n\n" + source);
    ResetUiLanguage();
}

// A stop request fails the task with the message of the stage that sees it
// and writes nothing.
TEST(AutoTrimTask, AStopRequestFailsTheTaskAndWritesNothing) {
    SetUiLanguage(Language::English);
    TempDir dir;
    StopAfter stop(0);
    RunSetup setup;
    setup.params.SpaceType = TrimEdgesAll;
    setup.runner = &stop;
    const Outcome out = RunOn(dir, Generate(2.0), setup, "stop");
    EXPECT_EQ(out.task->ResultId(), kMsgDiffFailed);
    EXPECT_EQ(out.task->MessageText(),
              Formatted(kMsgDiffFailed, SystemErrorText(static_cast<std::uint32_t>(E_ABORT))) +
                  "\n\n" + (dir / "stop.png"));
    EXPECT_FALSE(fs::exists(out.outputPath));
    ResetUiLanguage();
}

TEST(ChooseSidesAutomatically, TwoDarkestThenThoseWithinTheRatio) {
    const SideList all{SideLeft, SideTop, SideRight, SideBottom};
    EXPECT_EQ(ChooseSidesAutomatically({3, 40, 7, 200}, 3.0), (SideList{SideLeft, SideRight}));
    EXPECT_EQ(ChooseSidesAutomatically({3, 7, 9, 200}, 3.0),
              (SideList{SideLeft, SideTop, SideRight}));
    EXPECT_EQ(ChooseSidesAutomatically({10, 255, 255, 255}, 3.0), all);
    EXPECT_EQ(ChooseSidesAutomatically({0, 0, 0, 1}, 3.0),
              (SideList{SideLeft, SideTop, SideRight}));
    EXPECT_EQ(ChooseSidesAutomatically({50, 50, 50, 50}, 3.0), all);
}

}  // namespace
