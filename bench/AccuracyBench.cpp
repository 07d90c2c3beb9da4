// Accuracy of the per-file pipeline on hard scans: generated 300 dpi scans of
// an A4 bed (2480 × 3508) with a known truth, each run through the real task
// (file in, file out) twice: against its empty-bed image and with the
// margins' colour model, always cutting all four sides.
//
// Classes (fixed seeds, a few cases each): ordinary pages on a light and on
// a dark lid; a page running off one border by 0 to 3 mm (or touching it) on
// a dark, a light and a woven lid; dark text on a dark lid; a pale page on a
// pale lid with a gradient and a drop shadow on two sides; a woven lid; a
// page filling the frame on some or all sides; near-blank pages; JPEG
// inputs.
//
// One table, a row per class and mode and a total per mode:
//  - failed: no output (the file failed), or an output that misses a corner
//    of the page as far as it lies in the scan by more than 1 % of the
//    page's shorter side;
//  - angle: mean and largest error of the skew angle in degrees, over the
//    cases with an output and a visible page edge;
//  - within 3 px: the cut sides whose page edge is visible in the scan and
//    whose cut lies no more than 3 px outside the span of that edge (after
//    straightening, the edge spans the positions of its two corners);
//  - cut in > 3 px: cut sides whose cut lies more than 3 px inside the page:
//    inside the span of a visible edge, or inside the image border for an
//    edge hidden beyond it (all of the page that is in the scan is kept
//    there);
//  - lid > 3 px: visible edges whose cut keeps more than 3 px of the lid.
// Percentages are of the visible edges (within, lid) or of every cut side
// (cut in) of the cases with an output.
//
// Usage: accuracy_bench [--only CLASS] [--cases] [--keep FOLDER]
//  --only CLASS  runs the classes whose name contains CLASS;
//  --cases       lists every run with its outcome after the table;
//  --keep DIR    writes the scans and results into DIR and keeps them.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchArgs.h"
#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"
#include "trim/AppSettings.h"
#include "trim/AutoTrimTask.h"

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr LONG kWidth = 2480;
constexpr LONG kHeight = 3508;
constexpr double kDpi = 300.0;
constexpr double kTolerance = 3.0;

double Mm(double mm) {
    return mm / 25.4 * kDpi;
}

struct Case {
    std::string cls;
    scangen::ScanOptions options;
    bool jpeg = false;
    // The page reaches the border; otherwise it must lie 2 mm inside.
    bool reachesBorder = false;
};

scangen::ScanOptions Page(double widthMm, double heightMm, double skew, std::uint32_t seed) {
    scangen::ScanOptions o = scangen::MakeScanOptions(kWidth, kHeight, kDpi);
    o.pageWidth = Mm(widthMm);
    o.pageHeight = Mm(heightMm);
    o.skewDegrees = skew;
    o.seed = seed;
    o.noiseSigma = 2.0;
    o.blurPasses = 2;
    // Where a page casts a shadow, the faint one of a flatbed lid.
    o.shadowWidth = Mm(1.0);
    o.shadowStrength = 0.25;
    // Off centre, as pages are laid on a bed.
    o.centreX = kWidth / 2.0 + (static_cast<int>(seed * 37 % 120) - 60);
    o.centreY = kHeight / 2.0 + (static_cast<int>(seed * 53 % 160) - 80);
    return o;
}

// Moves the page so that its whole edge on `side` lies `overhangMm` beyond
// that image border (measured from the border to the edge's innermost
// corner); a negative overhang leaves the outermost corner that far inside.
void RunOff(scangen::ScanOptions& o, Side side, double overhangMm) {
    const double a = std::fabs(o.skewDegrees) * kPi / 180.0;
    const double halfW = o.pageWidth / 2.0;
    const double halfH = o.pageHeight / 2.0;
    // Half extents of the turned page, to its outermost and innermost corner
    // on a vertical (x) or horizontal (y) border.
    const double outerX = halfW * std::cos(a) + halfH * std::sin(a);
    const double innerX = halfW * std::cos(a) - halfH * std::sin(a);
    const double outerY = halfH * std::cos(a) + halfW * std::sin(a);
    const double innerY = halfH * std::cos(a) - halfW * std::sin(a);
    const double d = Mm(overhangMm);
    const double reachX = d >= 0 ? innerX : outerX;
    const double reachY = d >= 0 ? innerY : outerY;
    switch (side) {
        case SideLeft:
            o.centreX = reachX - d;
            break;
        case SideRight:
            o.centreX = kWidth - reachX + d;
            break;
        case SideTop:
            o.centreY = reachY - d;
            break;
        default:
            o.centreY = kHeight - reachY + d;
            break;
    }
}

std::vector<Case> MakeCases() {
    using scangen::BedKind;
    std::vector<Case> cases;
    auto add = [&cases](const char* cls, const scangen::ScanOptions& o, bool jpeg = false) {
        const bool reaches =
            std::strstr(cls, "off border") != nullptr || std::strstr(cls, "frame") != nullptr;
        cases.push_back(Case{cls, o, jpeg, reaches});
    };
    std::uint32_t seed = 800;

    // Ordinary pages, the classes that already pass.
    for (const double skew : {-4.23, 1.37, 7.46}) {
        scangen::ScanOptions o = Page(skew > 5 ? 160 : 170, 250, skew, ++seed);
        o.shadow = true;
        o.shadowNextSide = skew > 0;
        add("ordinary light", o);
    }
    for (const double skew : {-2.42, 5.08}) {
        scangen::ScanOptions o = Page(170, 240, skew, ++seed);
        o.bed = BedKind::Dark;
        add("ordinary dark", o);
    }

    // A page running off one border, or touching it.
    struct Off {
        Side side;
        double mm;
        double skew;
        double lid;
    };
    for (const Off off :
         {Off{SideLeft, 1.0, 0.83, 12}, Off{SideRight, 2.5, -1.64, 25}, Off{SideTop, 3.0, 1.87, 40},
          Off{SideBottom, 0.0, -0.71, 30}, Off{SideLeft, -0.05, 1.22, 20}}) {
        scangen::ScanOptions o = Page(190, 270, off.skew, ++seed);
        o.bed = BedKind::Dark;
        o.bedLevel = off.lid;
        RunOff(o, off.side, off.mm);
        add("off border, dark lid", o);
    }
    for (const Off off : {Off{SideRight, 1.5, 1.13, 0}, Off{SideTop, 0.0, -2.18, 0},
                          Off{SideLeft, -0.05, -0.94, 0}}) {
        scangen::ScanOptions o = Page(160, 230, off.skew, ++seed);
        o.shadow = true;
        o.shadowSide = off.side == SideRight ? SideLeft : SideRight;
        RunOff(o, off.side, off.mm);
        add("off border, light lid", o);
    }
    for (const Off off : {Off{SideLeft, 2.0, 1.41, 0}, Off{SideBottom, 1.0, -0.57, 0}}) {
        scangen::ScanOptions o = Page(150, 210, off.skew, ++seed);
        o.weaveAmplitude = 5.0;
        o.weavePeriod = 8.0;
        o.weaveShift = 3.0;
        RunOff(o, off.side, off.mm);
        add("off border, woven lid", o);
    }

    // Dark text on a lid nearly as dark as the ink.
    for (const double lid : {32.0, 38.0, 40.0}) {
        scangen::ScanOptions o = Page(175, 250, lid == 38.0 ? -3.26 : 2.63, ++seed);
        o.bed = BedKind::Dark;
        o.bedLevel = lid;
        add("dark text, dark lid", o);
    }

    // A near-white page on a pale lid with a gradient, a faint drop shadow
    // along two sides, sparse text.
    for (const double skew : {3.04, -2.77, 3.38}) {
        scangen::ScanOptions o = Page(180, 255, skew, ++seed);
        o.paper = {245, 245, 244};
        o.paperTexture = 1.0;
        o.bedLevel = 228;
        o.bedGradient = 2.4;
        o.shadow = true;
        o.shadowSide = skew > 3.2 ? SideLeft : SideRight;
        o.shadowNextSide = true;
        o.marginX = 0.3;
        o.marginY = 0.35;
        add("pale page, pale lid", o);
    }

    // A finely woven lid.
    for (const double skew : {5.02, -4.97, 4.61}) {
        scangen::ScanOptions o = Page(175, 250, skew, ++seed);
        o.weaveAmplitude = 5.0;
        o.weavePeriod = 8.0;
        o.weaveShift = 3.0;
        add("woven lid", o);
    }

    // A page filling the frame: yellowed paper, dense print, no lid on all,
    // three or two sides.
    for (int open = 0; open < 3; ++open) {
        const double widthMm = open == 2 ? 200 : 220;
        const double heightMm = open == 0 ? 310 : 280;
        scangen::ScanOptions o = Page(widthMm, heightMm, open == 0 ? 0.43 : -0.62, ++seed);
        o.paper = {236, 226, 196};
        o.paperTexture = 4.0;
        o.textPoints = 9.0;
        o.marginX = 0.07;
        o.marginY = 0.05;
        o.centreX = kWidth / 2.0;
        o.centreY = kHeight / 2.0;
        if (open >= 1) {
            RunOff(o, SideTop, 2.0);
        }
        if (open == 2) {
            RunOff(o, SideLeft, 4.0);
        }
        add("fills the frame", o);
    }

    // Near-blank pages.
    for (const BedKind bed : {BedKind::Light, BedKind::Dark}) {
        scangen::ScanOptions o = Page(165, 235, bed == BedKind::Light ? 2.12 : -1.38, ++seed);
        o.bed = bed;
        o.text = false;
        o.shadow = bed == BedKind::Light;
        add("near-blank", o);
    }

    // JPEG inputs of three of the classes.
    {
        scangen::ScanOptions o = Page(180, 255, -3.13, ++seed);
        o.shadow = true;
        add("jpeg", o, true);
        o = Page(190, 270, 1.04, ++seed);
        o.bed = BedKind::Dark;
        o.bedLevel = 30;
        RunOff(o, SideRight, 1.5);
        cases.push_back(Case{"jpeg", o, true, true});
        o = Page(180, 255, 2.91, ++seed);
        o.paper = {245, 245, 244};
        o.bedLevel = 228;
        o.bedGradient = 2.4;
        o.shadow = true;
        o.shadowNextSide = true;
        add("jpeg", o, true);
    }
    return cases;
}

scangen::PointD Straighten(scangen::PointD p, double angle) {
    const double cx = kWidth / 2.0, cy = kHeight / 2.0;
    const double c = std::cos(angle), s = std::sin(angle);
    return {cx + (p.x - cx) * c - (p.y - cy) * s, cy + (p.x - cx) * s + (p.y - cy) * c};
}

// The page clipped to the image (Sutherland-Hodgman), as a polygon.
std::vector<scangen::PointD> PageInScan(const scangen::ScanTruth& truth) {
    std::vector<scangen::PointD> poly(truth.corners.begin(), truth.corners.end());
    // Each border as (axis, bound, keep below).
    struct Border {
        bool x;
        double bound;
        bool below;
    };
    for (const Border b : {Border{true, 0, false}, Border{true, double(kWidth), true},
                           Border{false, 0, false}, Border{false, double(kHeight), true}}) {
        std::vector<scangen::PointD> out;
        auto inside = [&b](scangen::PointD p) {
            const double v = b.x ? p.x : p.y;
            return b.below ? v <= b.bound : v >= b.bound;
        };
        for (std::size_t i = 0; i < poly.size(); ++i) {
            const scangen::PointD p = poly[i];
            const scangen::PointD q = poly[(i + 1) % poly.size()];
            if (inside(p)) {
                out.push_back(p);
            }
            if (inside(p) != inside(q)) {
                const double t =
                    b.x ? (b.bound - p.x) / (q.x - p.x) : (b.bound - p.y) / (q.y - p.y);
                out.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
            }
        }
        poly = out;
    }
    return poly;
}

struct Outcome {
    bool output = false;
    bool failed = false;
    std::string why;
    bool angleJudged = false;
    double angleError = 0;
    int visible = 0, within = 0, lid = 0, cutSides = 0, cutIn = 0;
    // Per side, pixels cut into the page (> 0) or of lid kept (< 0) beyond
    // the edge's span; 0 within it.
    std::array<double, 4> miss{};
};

Outcome Judge(const CAutoTrimTask& task, const scangen::ScanTruth& truth) {
    Outcome o;
    if (task.ResultId() != 0 || !task.OutputImage()) {
        o.failed = true;
        o.why = task.MessageText();
        for (char& c : o.why) {
            c = c == '\n' ? ' ' : c;
        }
        return o;
    }
    o.output = true;
    const double angle = task.SkewAngle();
    const RECT& r = task.CropRect();
    const double page = std::min(truth.pageWidth, truth.pageHeight);
    const double slack = 0.01 * page;
    for (const scangen::PointD p : PageInScan(truth)) {
        scangen::PointD s = Straighten(p, angle);
        s.x = std::clamp(s.x, 0.0, double(kWidth));
        s.y = std::clamp(s.y, 0.0, double(kHeight));
        if (s.x < r.left - slack || s.x > r.right + slack || s.y < r.top - slack ||
            s.y > r.bottom + slack) {
            o.failed = true;
            char text[120];
            std::snprintf(text, sizeof text, "misses (%.0f, %.0f)", s.x, s.y);
            o.why = text;
        }
    }
    bool anyVisible = false;
    const int from[4] = {3, 0, 1, 2};
    const LONG cut[4] = {r.left, r.top, r.right, r.bottom};
    const double border[4] = {0, 0, double(kWidth), double(kHeight)};
    for (int side = 0; side < 4; ++side) {
        const bool vertical = side == SideLeft || side == SideRight;
        const bool low = side == SideLeft || side == SideTop;
        ++o.cutSides;
        if (!truth.sideVisible[side]) {
            // Hidden beyond the border: everything up to the border is page.
            const double inside = low ? cut[side] - border[side] : border[side] - cut[side];
            o.cutIn += inside > kTolerance ? 1 : 0;
            o.miss[side] = inside;
            continue;
        }
        anyVisible = true;
        ++o.visible;
        const scangen::PointD a = Straighten(truth.corners[from[side]], angle);
        const scangen::PointD b = Straighten(truth.corners[(from[side] + 1) % 4], angle);
        const double lo = std::min(vertical ? a.x : a.y, vertical ? b.x : b.y);
        const double hi = std::max(vertical ? a.x : a.y, vertical ? b.x : b.y);
        const double e = cut[side];
        const double in = low ? e - hi : lo - e;
        const double out = low ? lo - e : e - hi;
        o.miss[side] = in > 0 ? in : out > 0 ? -out : 0.0;
        const bool inward = in > kTolerance;
        const bool outward = out > kTolerance;
        o.cutIn += inward ? 1 : 0;
        o.lid += outward ? 1 : 0;
        o.within += !inward && !outward ? 1 : 0;
    }
    if (anyVisible) {
        o.angleJudged = true;
        o.angleError = std::fabs(angle * 180.0 / kPi + truth.skewDegrees);
    }
    return o;
}

struct Row {
    int cases = 0, failed = 0, angles = 0;
    double angleSum = 0, angleMax = 0;
    int visible = 0, within = 0, lid = 0, cutSides = 0, cutIn = 0;

    void Add(const Outcome& o) {
        ++cases;
        failed += o.failed ? 1 : 0;
        if (o.angleJudged) {
            ++angles;
            angleSum += o.angleError;
            angleMax = std::max(angleMax, o.angleError);
        }
        visible += o.visible;
        within += o.within;
        lid += o.lid;
        cutSides += o.cutSides;
        cutIn += o.cutIn;
    }

    void Print(const std::string& name, const char* mode) const {
        auto pct = [](int n, int of) { return of == 0 ? 0.0 : 100.0 * n / of; };
        std::printf("%-24s %-6s %5d %6d   %6.3f %6.3f   %6.1f %8.1f %7.1f\n", name.c_str(), mode,
                    cases, failed, angles ? angleSum / angles : 0.0, angleMax, pct(within, visible),
                    pct(cutIn, cutSides), pct(lid, visible));
    }
};

struct Run {
    std::string cls;
    int index;
    bool withEmpty;
    Outcome outcome;
    RECT crop;
    double angle;
};

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    bool listCases = false;
    fs::path keep;
    BenchArgs args(argc, argv, "[--only CLASS] [--cases] [--keep FOLDER]");
    while (args.Next()) {
        args.Text("--only", only) || args.Flag("--cases", listCases) || args.Text("--keep", keep) ||
            args.Unknown();
    }
    const fs::path dir = keep.empty() ? fs::temp_directory_path() / "quorvel-accuracy-bench" : keep;
    if (keep.empty()) {
        fs::remove_all(dir);
    }
    fs::create_directories(dir);

    std::vector<Run> runs;
    std::vector<std::string> order;
    int index = 0;
    for (const Case& c : MakeCases()) {
        ++index;
        if (!only.empty() && c.cls.find(only) == std::string::npos) {
            continue;
        }
        if (std::find(order.begin(), order.end(), c.cls) == order.end()) {
            order.push_back(c.cls);
        }
        const scangen::GeneratedScan scan = scangen::GenerateScan(c.options);
        if (FAILED(scan.result)) {
            std::fprintf(stderr, "cannot generate case %d\n", index);
            return 1;
        }
        for (const scangen::PointD p : scan.truth.corners) {
            const double m = Mm(2.0);
            if (!c.reachesBorder && (p.x < m || p.y < m || p.x > kWidth - m || p.y > kHeight - m)) {
                std::fprintf(stderr, "case %d: the page does not lie inside the scan\n", index);
                return 1;
            }
        }
        const std::string name = "case" + std::to_string(index);
        const std::string source = (dir / (name + (c.jpeg ? ".jpg" : ".png"))).string();
        const std::string emptyPath = (dir / (name + "-empty.png")).string();
        const bool written = (c.jpeg ? scangen::WriteJpeg(scan.scan, source, kDpi, 85)
                                     : scangen::WritePng(scan.scan, source, kDpi)) &&
                             scangen::WritePng(scan.emptyBed, emptyPath, kDpi);
        DibPtr empty;
        if (!written || FAILED(LoadDibFromFile(empty, emptyPath))) {
            std::fprintf(stderr, "cannot write case %d to %s\n", index, dir.c_str());
            return 1;
        }
        for (const bool withEmpty : {true, false}) {
            AutoTrimTaskPtr task(new CAutoTrimTask);
            const std::string output =
                (dir / "trim" / (name + (withEmpty ? "-empty" : "-model") + ".png")).string();
            task->Init(withEmpty ? empty : DibPtr(), 0, source, output, nullptr);
            AutoTrimParams params;
            params.SpaceType = TrimEdgesAll;
            task->SetParams(params);
            SetFormatSaver(task->Saver(), SaveTypePng, 0, 0);
            task->Run();
            runs.push_back(Run{c.cls, index, withEmpty, Judge(*task, scan.truth), task->CropRect(),
                               task->SkewAngle()});
        }
    }

    std::printf("accuracy_bench: %zu runs of %d x %d px at %.0f dpi, cut ltrb\n", runs.size(),
                kWidth, kHeight, kDpi);
    std::printf("%-24s %-6s %5s %6s   %6s %6s   %6s %8s %7s\n", "class", "empty", "cases", "failed",
                "angle", "max", "within", "cut in", "lid");
    std::printf("%-24s %-6s %5s %6s   %6s %6s   %6s %8s %7s\n", "", "image", "", "", "mean", "deg",
                "3 px %", ">3 px %", ">3 px %");
    for (const bool withEmpty : {true, false}) {
        Row total;
        for (const std::string& cls : order) {
            Row row;
            for (const Run& run : runs) {
                if (run.cls == cls && run.withEmpty == withEmpty) {
                    row.Add(run.outcome);
                    total.Add(run.outcome);
                }
            }
            row.Print(cls, withEmpty ? "yes" : "no");
        }
        total.Print("all", withEmpty ? "yes" : "no");
    }
    if (listCases) {
        std::printf("\n");
        for (const Run& run : runs) {
            const Outcome& o = run.outcome;
            std::printf(
                "case %2d %-22s %-5s angle %7.3f err %6.3f crop %5d,%5d-%5d,%5d "
                "miss %5.0f %5.0f %5.0f %5.0f  %s%s\n",
                run.index, run.cls.c_str(), run.withEmpty ? "empty" : "model",
                run.angle * 180 / kPi, o.angleError, run.crop.left, run.crop.top, run.crop.right,
                run.crop.bottom, o.miss[0], o.miss[1], o.miss[2], o.miss[3],
                o.failed ? "FAILED " : "", o.why.c_str());
        }
    }
    if (keep.empty()) {
        fs::remove_all(dir);
    }
    return 0;
}
