// Accuracy of the per-file pipeline on hard scans: generated 300 dpi scans of
// an A4 bed (2480 × 3508) with a known truth, each run through the real task
// (file in, file out) twice: against its empty-bed image and with the
// margins' colour model.
//
// Classes. Fixed cases, a few each: ordinary pages on a light and on a dark
// lid; a page running off one border by 0 to 3 mm (or touching it) on a
// dark, a light and a woven lid; dark text on a dark lid; a pale page on a
// pale lid with a gradient and a drop shadow on two sides; a woven lid; a
// page filling the frame on some or all sides; near-blank pages; JPEG
// inputs. Drawn cases (sizes, places, skews, lids, papers, shadows drawn
// from fixed seeds, so that no one kind of scan decides): pages covering 45
// to 95 % of the bed's width and height anywhere on a light, a black or a
// woven lid, skewed up to ±8°; such pages pushed into a corner; drop shadows
// 0.3 to 1 mm wide and 12 to 35 % darker on one or two sides; a thin dark
// frame strip along one border of the bed; a light grey woven lid; JPEG
// 4:2:0 at qualities 70 to 92; and ten book pages of one batch cut "rtb+"
// (right, top, bottom on even positions, left, top, bottom on odd ones),
// each 0 to 4 mm off its gutter border, half of them on a dark cover with
// the page block's edges around. Every other case cuts all four sides.
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
//  - lid > 3 px: visible edges whose cut keeps more than 3 px of the lid;
//  - wrong: results that keep more than 3 px of lid on a cut side, cut into
//    the page by more than 3 px, are skewed by more than 0.1°, or failed;
//    caught: those of them whose verdict is `review`; alarms: correct
//    results whose verdict is `review`, of the correct pages that lie wholly
//    in the scan on their cut sides.
// Percentages are of the visible edges (within, lid) or of every cut side
// (cut in) of the cases with an output. Below the table, per mode: the
// verdict's recall (caught of wrong) and false alarms (alarms of correct),
// and how many of the correct pages that run off a cut border were flagged
// (a page partly beyond the scan is worth a look however well it was cut).
//
// Usage: accuracy_bench [--only CLASS] [--case N] [--draw N] [--cases]
//                       [--keep FOLDER]
//  --only CLASS  runs the classes whose name contains CLASS;
//  --case N      runs the N-th case only (as numbered by --cases);
//  --draw N      draws the drawn classes from other seeds (0, the default,
//                gives the cases of the recorded tables);
//  --cases       lists every run with its outcome and verdict after the table;
//  --keep DIR    writes the scans and results into DIR and keeps them.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchArgs.h"
#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"
#include "trim/AppSettings.h"
#include "trim/AutoTrimTask.h"
#include "trim/TrimRect.h"
#include "trim/TrimVerdict.h"

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
    std::uint32_t quality = 85;
    std::uint32_t space = TrimEdgesAll;
    int position = 0;  // in its batch
};

// Uniform draws from a fixed seed, the same on every platform.
class Draw {
  public:
    explicit Draw(std::uint32_t seed) : m_gen(seed) {}
    double Uniform(double lo, double hi) { return lo + (hi - lo) * (m_gen() / 4294967296.0); }
    int Below(int n) { return static_cast<int>(m_gen() % static_cast<std::uint32_t>(n)); }
    bool Chance(double p) { return Uniform(0.0, 1.0) < p; }
    double Sign() { return Chance(0.5) ? 1.0 : -1.0; }
    std::uint32_t Seed() { return m_gen(); }

  private:
    std::mt19937 m_gen;
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

// Half extents of a page turned by its skew (to its outermost corners).
void TurnedHalfExtents(const scangen::ScanOptions& o, double& halfX, double& halfY) {
    const double a = std::fabs(o.skewDegrees) * kPi / 180.0;
    halfX = o.pageWidth / 2.0 * std::cos(a) + o.pageHeight / 2.0 * std::sin(a);
    halfY = o.pageHeight / 2.0 * std::cos(a) + o.pageWidth / 2.0 * std::sin(a);
}

enum class Lid { Light, Dark, Woven, Grey };

// A drawn lid: a light one with some lamp fall-off, a black one, a light
// grey woven one.
void DrawLid(Draw& d, scangen::ScanOptions& o, Lid lid) {
    o.bedGradient = d.Uniform(0.5, 3.0);
    switch (lid) {
        case Lid::Light:
            o.bedLevel = d.Uniform(215, 236);
            break;
        case Lid::Dark:
            o.bed = scangen::BedKind::Dark;
            o.bedLevel = d.Uniform(8, 42);
            o.bedGradient = d.Uniform(0.5, 2.0);
            break;
        case Lid::Woven:
            o.bedLevel = d.Uniform(185, 228);
            o.weaveAmplitude = d.Uniform(3.5, 6.0);
            o.weavePeriod = d.Uniform(6.5, 9.5);
            o.weaveShift = d.Uniform(0.0, 4.0);
            break;
        case Lid::Grey:
            o.bedLevel = d.Uniform(170, 210);
            break;
    }
}

// A drop shadow of drawn width, depth and sides.
void DrawShadow(Draw& d, scangen::ScanOptions& o) {
    o.shadow = true;
    o.shadowWidth = Mm(d.Uniform(0.3, 1.0));
    o.shadowStrength = d.Uniform(0.12, 0.35);
    o.shadowSide = static_cast<Side>(d.Below(4));
    o.shadowNextSide = d.Chance(0.5);
}

// A drawn page: 45 to 95 % of the bed on each axis, skewed up to ±maxSkew,
// anywhere on the bed at least 2 mm inside it; a paper, print, blur and
// noise of its own.
scangen::ScanOptions DrawPage(Draw& d, double maxSkew) {
    scangen::ScanOptions o = Page(0, 0, d.Uniform(-maxSkew, maxSkew), d.Seed() % 100000);
    static constexpr scangen::RgbColour kPapers[] = {
        {243, 241, 233}, {249, 248, 245}, {238, 231, 212}, {228, 227, 221}, {240, 236, 226}};
    o.paper = kPapers[d.Below(5)];
    o.paperTexture = d.Uniform(1.0, 4.0);
    o.textPoints = d.Uniform(8.5, 12.5);
    o.marginX = d.Uniform(0.07, 0.16);
    o.marginY = d.Uniform(0.06, 0.12);
    o.blurPasses = 1 + d.Below(3);
    o.noiseSigma = d.Uniform(1.2, 3.0);
    o.shadow = false;
    for (;;) {
        o.pageWidth = d.Uniform(0.45, 0.95) * kWidth;
        o.pageHeight = d.Uniform(0.45, 0.95) * kHeight;
        double halfX, halfY;
        TurnedHalfExtents(o, halfX, halfY);
        const double spareX = kWidth / 2.0 - halfX - Mm(2.0);
        const double spareY = kHeight / 2.0 - halfY - Mm(2.0);
        if (spareX > 0 && spareY > 0) {
            o.centreX = kWidth / 2.0 + d.Uniform(-spareX, spareX);
            o.centreY = kHeight / 2.0 + d.Uniform(-spareY, spareY);
            return o;
        }
    }
}

// Pushes the page into a corner of the bed: its outermost corners 0 to
// 1.5 mm from the two borders.
void PushIntoCorner(Draw& d, scangen::ScanOptions& o) {
    double halfX, halfY;
    TurnedHalfExtents(o, halfX, halfY);
    const double gapX = Mm(d.Uniform(0.0, 1.5));
    const double gapY = Mm(d.Uniform(0.0, 1.5));
    o.centreX = d.Chance(0.5) ? halfX + gapX : kWidth - halfX - gapX;
    o.centreY = d.Chance(0.5) ? halfY + gapY : kHeight - halfY - gapY;
}

void AddDrawnCases(std::vector<Case>& cases, std::uint32_t draw) {
    using scangen::BedKind;
    const auto add = [&cases](const char* cls, const scangen::ScanOptions& o, bool reaches) {
        cases.push_back(Case{cls, o, false, reaches});
    };
    const Lid lids[] = {Lid::Light, Lid::Dark, Lid::Woven};
    const char* const names[] = {"page on bed, light lid", "page on bed, black lid",
                                 "page on bed, woven lid"};
    for (int lid = 0; lid < 3; ++lid) {
        Draw d(1500 + lid + 1000 * draw);
        for (int i = 0; i < 6; ++i) {
            scangen::ScanOptions o = DrawPage(d, 8.0);
            DrawLid(d, o, lids[lid]);
            if (lids[lid] != Lid::Dark && d.Chance(0.4)) {
                DrawShadow(d, o);
            }
            add(names[lid], o, false);
        }
    }
    {
        Draw d(1510 + 1000 * draw);
        for (int i = 0; i < 8; ++i) {
            scangen::ScanOptions o = DrawPage(d, 8.0);
            DrawLid(d, o, static_cast<Lid>(d.Below(4)));
            PushIntoCorner(d, o);
            add("page in a corner", o, true);
        }
    }
    {
        Draw d(1520 + 1000 * draw);
        for (int i = 0; i < 8; ++i) {
            scangen::ScanOptions o = DrawPage(d, 8.0);
            DrawLid(d, o, d.Chance(0.7) ? Lid::Light : Lid::Grey);
            DrawShadow(d, o);
            add("drop shadow", o, false);
        }
    }
    {
        Draw d(1530 + 1000 * draw);
        for (int i = 0; i < 6; ++i) {
            scangen::ScanOptions o = DrawPage(d, 8.0);
            DrawLid(d, o, d.Chance(0.6) ? Lid::Light : Lid::Woven);
            o.frameSide = static_cast<Side>(d.Below(4));
            o.frameWidth = Mm(d.Uniform(0.4, 2.5));
            o.frameLevel = d.Uniform(12, 60);
            add("frame strip", o, false);
        }
    }
    {
        // A page skewed 3 to 8° on a light grey lid woven every 7 to 9 px.
        Draw d(1540 + 1000 * draw);
        for (int i = 0; i < 6; ++i) {
            scangen::ScanOptions o = DrawPage(d, 8.0);
            o.skewDegrees = d.Sign() * d.Uniform(3.0, 8.0);
            DrawLid(d, o, Lid::Woven);
            o.weaveAmplitude = d.Uniform(4.0, 6.0);
            o.weavePeriod = d.Uniform(7.0, 9.0);
            while (true) {
                double halfX, halfY;
                TurnedHalfExtents(o, halfX, halfY);
                if (halfX < kWidth / 2.0 - Mm(2.0) && halfY < kHeight / 2.0 - Mm(2.0)) {
                    break;
                }
                o.pageWidth *= 0.95;
                o.pageHeight *= 0.95;
            }
            o.centreX = kWidth / 2.0;
            o.centreY = kHeight / 2.0;
            add("woven grey lid", o, false);
        }
    }
    {
        Draw d(1550 + 1000 * draw);
        for (int i = 0; i < 6; ++i) {
            scangen::ScanOptions o = DrawPage(d, 8.0);
            DrawLid(d, o, static_cast<Lid>(d.Below(4)));
            if (d.Chance(0.5)) {
                DrawShadow(d, o);
            }
            Case c{"jpeg 4:2:0", o, true, false};
            c.quality = static_cast<std::uint32_t>(d.Uniform(70, 92));
            cases.push_back(c);
        }
    }
    {
        // Ten pages of one book, "rtb+": the gutter is on the left of even
        // pages and on the right of odd ones.
        Draw d(1560 + 1000 * draw);
        for (int i = 0; i < 10; ++i) {
            scangen::ScanOptions o = DrawPage(d, 2.5);
            o.pageWidth = Mm(d.Uniform(135, 185));
            o.pageHeight = Mm(d.Uniform(200, 265));
            o.centreY = kHeight / 2.0 + d.Uniform(-1, 1) * (kHeight - o.pageHeight) / 2.0 * 0.6;
            o.bookEdge = i % 2 == 0 ? scangen::BookEdge::Left : scangen::BookEdge::Right;
            o.bookOverhang = Mm(d.Uniform(0.05, 4.0));
            DrawLid(d, o, d.Chance(0.5) ? Lid::Light : Lid::Dark);
            if (i % 4 == 0 || i % 4 == 3) {
                o.coverMargin = Mm(d.Uniform(3.0, 8.0));
                o.blockWidth = Mm(d.Uniform(1.0, 2.5));
                o.blockPitch = d.Uniform(2.0, 4.0);
                o.coverLevel = d.Uniform(15, 45);
            } else if (d.Chance(0.5)) {
                DrawShadow(d, o);
            }
            Case c{"book pages", o, false, true};
            c.space = TrimEdgesRightLeftAlternate;
            c.position = i;
            cases.push_back(c);
        }
    }
}

std::vector<Case> MakeCases(std::uint32_t draw) {
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
    AddDrawnCases(cases, draw);
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
    // The verdict against the result: wrong (see the table), flagged
    // `review`, and whether the page runs off a border that is cut.
    bool wrong = false;
    bool review = false;
    bool offScan = false;
    std::string reasons;
};

// Whether a corner of the page lies beyond a border that is cut.
bool RunsOffACutBorder(const scangen::ScanTruth& truth, const CutFlags& cut) {
    for (const scangen::PointD p : truth.corners) {
        if ((cut[SideLeft] && p.x < 0) || (cut[SideTop] && p.y < 0) ||
            (cut[SideRight] && p.x > kWidth) || (cut[SideBottom] && p.y > kHeight)) {
            return true;
        }
    }
    return false;
}

void JudgeResult(const CAutoTrimTask& task, const scangen::ScanTruth& truth, Outcome& o);

Outcome Judge(const CAutoTrimTask& task, const scangen::ScanTruth& truth) {
    Outcome o;
    const CutFlags cut = CutFlagsFromSides(task.CutSides());
    o.offScan = RunsOffACutBorder(truth, cut);
    o.review = task.Verdict().NeedsReview();
    for (const std::string& text : VerdictReasonTexts(task.Verdict(), Language::English)) {
        o.reasons += (o.reasons.empty() ? "" : "; ") + text;
    }
    JudgeResult(task, truth, o);
    o.wrong = o.failed || o.lid > 0 || o.cutIn > 0 || (o.angleJudged && o.angleError > 0.1);
    return o;
}

void JudgeResult(const CAutoTrimTask& task, const scangen::ScanTruth& truth, Outcome& o) {
    if (task.ResultId() != 0 || !task.OutputImage()) {
        o.failed = true;
        o.why = task.MessageText();
        for (char& c : o.why) {
            c = c == '\n' ? ' ' : c;
        }
        return;
    }
    o.output = true;
    const CutFlags cutSide = CutFlagsFromSides(task.CutSides());
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
        if (!cutSide[side]) {
            continue;
        }
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
}

struct Row {
    int cases = 0, failed = 0, angles = 0;
    double angleSum = 0, angleMax = 0;
    int visible = 0, within = 0, lid = 0, cutSides = 0, cutIn = 0;
    // Verdict: wrong results, those flagged; correct pages in the scan,
    // those flagged; correct pages running off a cut border, those flagged.
    int wrong = 0, caught = 0, correct = 0, alarms = 0, offScan = 0, offFlagged = 0;

    void Add(const Outcome& o) {
        ++cases;
        if (o.wrong) {
            ++wrong;
            caught += o.review ? 1 : 0;
        } else if (o.offScan) {
            ++offScan;
            offFlagged += o.review ? 1 : 0;
        } else {
            ++correct;
            alarms += o.review ? 1 : 0;
        }
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
        std::printf("%-24s %-6s %5d %6d   %6.3f %6.3f   %6.1f %8.1f %7.1f   %5d %6d %6d\n",
                    name.c_str(), mode, cases, failed, angles ? angleSum / angles : 0.0, angleMax,
                    pct(within, visible), pct(cutIn, cutSides), pct(lid, visible), wrong, caught,
                    alarms);
    }

    void PrintVerdict(const char* mode) const {
        auto pct = [](int n, int of) { return of == 0 ? 0.0 : 100.0 * n / of; };
        std::printf(
            "verdict, empty image %-3s: recall %d/%d = %.1f %%, false alarms %d/%d = %.1f %%; "
            "correct pages off a cut border flagged %d/%d\n",
            mode, caught, wrong, pct(caught, wrong), alarms, correct, pct(alarms, correct),
            offFlagged, offScan);
    }
};

struct Run {
    std::string cls;
    int index;
    bool withEmpty;
    Outcome outcome;
    RECT crop;
    double angle;
    std::string scan;
};

// The scan's options in short, for the list of runs.
std::string Describe(const Case& c) {
    const scangen::ScanOptions& o = c.options;
    char text[400];
    int n =
        std::snprintf(text, sizeof text,
                      "%s lid %.0f grad %.1f, page %.0fx%.0f mm at %.0f,%.0f skew %.2f, paper %d, "
                      "blur %d noise %.1f",
                      o.bed == scangen::BedKind::Dark ? "dark" : "light", o.bedLevel, o.bedGradient,
                      o.pageWidth / kDpi * 25.4, o.pageHeight / kDpi * 25.4, o.centreX, o.centreY,
                      o.skewDegrees, o.paper.green, o.blurPasses, o.noiseSigma);
    const auto more = [&](const char* format, auto... args) {
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), format, args...);
    };
    if (o.weaveAmplitude > 0) {
        more(", weave %.1f/%.1f", o.weaveAmplitude, o.weavePeriod);
    }
    if (o.shadow) {
        more(", shadow %.2f mm %.0f %% side %d%s", o.shadowWidth / kDpi * 25.4,
             o.shadowStrength * 100, int(o.shadowSide), o.shadowNextSide ? "+1" : "");
    }
    if (o.frameWidth > 0) {
        more(", frame %.1f mm side %d level %.0f", o.frameWidth / kDpi * 25.4, int(o.frameSide),
             o.frameLevel);
    }
    if (o.bookEdge != scangen::BookEdge::None) {
        more(", gutter %s %.1f mm", o.bookEdge == scangen::BookEdge::Left ? "left" : "right",
             o.bookOverhang / kDpi * 25.4);
    }
    if (o.coverMargin > 0) {
        more(", cover %.1f mm level %.0f, block %.1f mm", o.coverMargin / kDpi * 25.4, o.coverLevel,
             o.blockWidth / kDpi * 25.4);
    }
    if (c.jpeg) {
        more(", jpeg q%u", c.quality);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    int onlyCase = 0;
    std::uint32_t draw = 0;
    bool listCases = false;
    fs::path keep;
    BenchArgs args(argc, argv, "[--only CLASS] [--case N] [--draw N] [--cases] [--keep FOLDER]");
    while (args.Next()) {
        args.Text("--only", only) || args.Number("--case", onlyCase, 1, 1000) ||
            args.Number("--draw", draw, 0u, 1000u) || args.Flag("--cases", listCases) ||
            args.Text("--keep", keep) || args.Unknown();
    }
    const fs::path dir = keep.empty() ? fs::temp_directory_path() / "quorvel-accuracy-bench" : keep;
    if (keep.empty()) {
        fs::remove_all(dir);
    }
    fs::create_directories(dir);

    std::vector<Run> runs;
    std::vector<std::string> order;
    int index = 0;
    for (const Case& c : MakeCases(draw)) {
        ++index;
        if ((!only.empty() && c.cls.find(only) == std::string::npos) ||
            (onlyCase != 0 && index != onlyCase)) {
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
        const bool written = (c.jpeg ? scangen::WriteJpeg(scan.scan, source, kDpi, c.quality)
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
            task->Init(withEmpty ? empty : DibPtr(), c.position, source, output, nullptr);
            AutoTrimParams params;
            params.SpaceType = c.space;
            task->SetParams(params);
            SetFormatSaver(task->Saver(), SaveTypePng, 0, 0);
            task->Run();
            runs.push_back(Run{c.cls, index, withEmpty, Judge(*task, scan.truth), task->CropRect(),
                               task->SkewAngle(), Describe(c)});
        }
    }

    std::printf("accuracy_bench: %zu runs of %d x %d px at %.0f dpi, cut ltrb (book pages rtb+)\n",
                runs.size(), kWidth, kHeight, kDpi);
    std::printf("%-24s %-6s %5s %6s   %6s %6s   %6s %8s %7s   %5s %6s %6s\n", "class", "empty",
                "cases", "failed", "angle", "max", "within", "cut in", "lid", "wrong", "caught",
                "alarms");
    std::printf("%-24s %-6s %5s %6s   %6s %6s   %6s %8s %7s\n", "", "image", "", "", "mean", "deg",
                "3 px %", ">3 px %", ">3 px %");
    std::vector<Row> totals;
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
        totals.push_back(total);
    }
    totals[0].PrintVerdict("yes");
    totals[1].PrintVerdict("no");
    if (listCases) {
        std::printf("\n");
        for (const Run& run : runs) {
            const Outcome& o = run.outcome;
            std::printf(
                "case %2d %-22s %-5s angle %7.3f err %6.3f crop %5d,%5d-%5d,%5d "
                "miss %5.0f %5.0f %5.0f %5.0f %s%s%s%s%s\n",
                run.index, run.cls.c_str(), run.withEmpty ? "empty" : "model",
                run.angle * 180 / kPi, o.angleError, run.crop.left, run.crop.top, run.crop.right,
                run.crop.bottom, o.miss[0], o.miss[1], o.miss[2], o.miss[3],
                o.wrong ? " WRONG" : "", o.review ? " REVIEW: " : "", o.reasons.c_str(),
                o.failed ? " FAILED " : "", o.why.c_str());
            if (run.withEmpty) {
                std::printf("        %s\n", run.scan.c_str());
            }
        }
    }
    if (keep.empty()) {
        fs::remove_all(dir);
    }
    return 0;
}
