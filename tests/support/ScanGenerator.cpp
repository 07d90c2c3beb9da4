#include "tests/support/ScanGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <random>
#include <vector>

namespace scangen {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Grey levels are kept in sixteenths until the final byte is written, so
// gradients and blends below one level survive into the noise and rounding.
constexpr int kFix = 16;
constexpr int kFixMax = 255 * kFix;
static_assert(kFix == 16, "WriteNoisyRow divides by shifting");
// The sum of the four bytes of a uniform 32-bit word minus its mean has this
// standard deviation: sqrt(4 × (256² − 1) / 12); the sum of two uniform
// five-bit fields sqrt(2 × (32² − 1) / 12).
constexpr double kByteSumSigma = 147.8006;
constexpr double kTriangleSigma = 13.0576;

// Independent random streams of one seed.
enum Stream : std::uint32_t { StreamLayout = 1, StreamScanNoise = 2, StreamEmptyNoise = 3 };

std::mt19937 MakeStream(std::uint32_t seed, Stream stream) {
    std::seed_seq seq{seed, static_cast<std::uint32_t>(stream), 0x51CA7u};
    return std::mt19937(seq);
}

int ByteSum(std::uint32_t r) {
    return static_cast<int>((r & 255u) + ((r >> 8) & 255u) + ((r >> 16) & 255u) + (r >> 24)) - 510;
}

// Uniform in [-1, 1).
double Uniform(std::mt19937& gen) {
    return static_cast<double>(gen() >> 8) / 8388608.0 - 1.0;
}

// Roughly normal, unit standard deviation.
double Normal(std::mt19937& gen) {
    return ByteSum(gen()) / kByteSumSigma;
}

// Library sine and cosine may differ in the last bit between platforms;
// these series use only correctly rounded operations. |x| <= pi/4.
double SeriesSin(double x) {
    const double x2 = x * x;
    double term = x;
    double sum = x;
    for (int k = 1; k <= 12; ++k) {
        term *= -x2 / ((2.0 * k) * (2.0 * k + 1.0));
        sum += term;
    }
    return sum;
}

double SeriesCos(double x) {
    const double x2 = x * x;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 12; ++k) {
        term *= -x2 / ((2.0 * k - 1.0) * (2.0 * k));
        sum += term;
    }
    return sum;
}

// floor() for values well inside the int range; std::floor is a library
// call on baseline x86-64.
int FloorInt(double v) {
    const int i = static_cast<int>(v);
    return i - (v < i ? 1 : 0);
}

int RoundInt(double v) {
    return FloorInt(v + 0.5);
}

int ToFix(double level) {
    return RoundInt(level * kFix);
}

double Clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

// Smooth value noise: random values on a square lattice, bilinearly
// interpolated, in page coordinates.
struct Lattice {
    double originU = 0.0;
    double originV = 0.0;
    double invCell = 1.0;
    int nx = 2;
    int ny = 2;
    std::vector<double> values;

    void Build(std::mt19937& gen, double halfW, double halfH, double cell, double amplitude) {
        cell = std::max(cell, std::max(halfW, halfH) / 512.0);  // at most ~1100 × 1100 values
        invCell = 1.0 / cell;
        originU = -(halfW + 2.0 * cell);
        originV = -(halfH + 2.0 * cell);
        nx = static_cast<int>(2.0 * (halfW + 2.0 * cell) * invCell) + 3;
        ny = static_cast<int>(2.0 * (halfH + 2.0 * cell) * invCell) + 3;
        values.resize(static_cast<std::size_t>(nx) * ny);
        for (double& v : values) {
            v = Uniform(gen) * amplitude;
        }
    }

    double Sample(double u, double v) const {
        const double gx = std::clamp((u - originU) * invCell, 0.0, nx - 1.000001);
        const double gy = std::clamp((v - originV) * invCell, 0.0, ny - 1.000001);
        const int i = static_cast<int>(gx);
        const int j = static_cast<int>(gy);
        const double fx = gx - i;
        const double fy = gy - j;
        const double* r0 = values.data() + static_cast<std::size_t>(j) * nx + i;
        const double* r1 = r0 + nx;
        const double top = r0[0] + (r0[1] - r0[0]) * fx;
        const double bottom = r1[0] + (r1[1] - r1[0]) * fx;
        return top + (bottom - top) * fy;
    }
};

// Pseudo-glyphs on a 5 × 9 grid: rows 0-1 ascenders, 2-6 the x-height,
// 7-8 descenders. A character cell is 6 units wide (one unit of spacing)
// and a text line 15 units high.
constexpr int kGlyphW = 5;
constexpr int kGlyphH = 9;
constexpr int kCellW = 6;
constexpr int kLinePitch = 15;
const char* const kGlyphRows[][kGlyphH] = {
    {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###.", ".....", "....."},  // o
    {".....", ".....", "####.", "#...#", "#...#", "#...#", "#...#", ".....", "....."},  // n
    {".....", ".....", ".###.", "#...#", "#####", "#....", ".####", ".....", "....."},  // e
    {".....", ".....", ".###.", "....#", ".####", "#...#", ".####", ".....", "....."},  // a
    {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###.", ".....", "....."},  // l
    {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###.", ".....", "....."},  // i
    {".#...", ".#...", "####.", ".#...", ".#...", ".#...", "..##.", ".....", "....."},  // t
    {"....#", "....#", ".####", "#...#", "#...#", "#...#", ".####", ".....", "....."},  // d
    {"#....", "#....", "####.", "#...#", "#...#", "#...#", "#...#", ".....", "....."},  // h
    {".....", ".....", "####.", "#...#", "#...#", "#...#", "####.", "#....", "#...."},  // p
    {".....", ".....", ".####", "#...#", "#...#", "#...#", ".####", "....#", ".###."},  // g
    {".....", ".....", "#.##.", "##..#", "#....", "#....", "#....", ".....", "....."},  // r
    {".....", ".....", ".####", "#....", ".###.", "....#", "####.", ".....", "....."},  // s
    {".....", ".....", ".###.", "#...#", "#....", "#...#", ".###.", ".....", "....."},  // c
    {".....", ".....", "#...#", "#...#", "#...#", "#...#", ".####", ".....", "....."},  // u
    {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#", ".....", "....."},  // m
    {"#....", "#....", "####.", "#...#", "#...#", "#...#", "####.", ".....", "....."},  // b
    {".....", ".....", "#...#", "#...#", "#...#", "#...#", ".####", "....#", ".###."},  // y
};
// Indices into kGlyphRows, repeated roughly by letter frequency.
constexpr int kLetterMix[] = {2, 2,  2,  2, 6, 6,  6,  3, 3, 3, 0,  0,  0,  1, 1,  1,  5, 5,
                              5, 12, 12, 8, 8, 11, 11, 7, 4, 4, 13, 14, 15, 9, 10, 17, 16};

// The page's text as an ink mask in glyph units, with one unit of empty
// padding around it so bilinear sampling never leaves the array.
struct TextMask {
    bool present = false;
    double left = 0.0;  // page coordinates of the first cell's left edge
    double top = 0.0;
    double invUnit = 1.0;
    double sharpness = 1.0;
    int cols = 0;  // units, without padding
    int rows = 0;
    std::vector<BYTE> ink;  // (cols + 2) × (rows + 2)

    void SetUnit(int col, int row, bool on) {
        ink[static_cast<std::size_t>(row + 1) * (cols + 2) + (col + 1)] = on ? 1 : 0;
    }

    void Build(std::mt19937& gen, const ScanOptions& o, double halfW, double halfH) {
        const double unit = o.textPoints / 72.0 * o.dpi / 10.0;
        const double textW = o.pageWidth * (1.0 - 2.0 * o.marginX);
        const double textH = o.pageHeight * (1.0 - 2.0 * o.marginY);
        // Strokes thinner than a quarter pixel would not show; the second
        // bound keeps the mask small for absurd sizes.
        if (!o.text || unit < 0.25 || unit < std::max(o.pageWidth, o.pageHeight) / 8192.0) {
            return;
        }
        const int cells = static_cast<int>(textW / (kCellW * unit));
        const int lines = static_cast<int>(textH / (kLinePitch * unit));
        if (cells < 4 || lines < 1) {
            return;
        }
        present = true;
        invUnit = 1.0 / unit;
        // Bilinear sampling ramps over one unit; steepen it to about one pixel.
        sharpness = std::max(1.0, unit);
        left = -halfW + o.pageWidth * o.marginX;
        top = -halfH + o.pageHeight * o.marginY;
        cols = cells * kCellW;
        rows = lines * kLinePitch;
        ink.assign(static_cast<std::size_t>(cols + 2) * (rows + 2), 0);

        int line = 0;
        while (line < lines) {
            const int paragraphLines = 2 + static_cast<int>(gen() % 9);
            for (int k = 0; k < paragraphLines && line < lines; ++k, ++line) {
                int cell = k == 0 ? 3 : 0;
                int limit = cells;
                if (k == paragraphLines - 1) {
                    limit = static_cast<int>(cells * (0.25 + 0.7 * (Uniform(gen) + 1.0) / 2.0));
                }
                for (;;) {
                    const int length =
                        1 + static_cast<int>(gen() % 4) + static_cast<int>(gen() % 5);
                    if (cell + length > limit) {
                        break;
                    }
                    for (int n = 0; n < length; ++n, ++cell) {
                        PutGlyph(cell, line, kLetterMix[gen() % std::size(kLetterMix)]);
                    }
                    ++cell;
                }
            }
            ++line;  // blank line between paragraphs
        }
    }

    void PutGlyph(int cell, int line, int glyph) {
        for (int r = 0; r < kGlyphH; ++r) {
            for (int c = 0; c < kGlyphW; ++c) {
                SetUnit(cell * kCellW + c, line * kLinePitch + r, kGlyphRows[glyph][r][c] == '#');
            }
        }
    }

    // Ink coverage 0..1 at a page point.
    double Sample(double u, double v) const {
        const double lu = (u - left) * invUnit - 0.5;
        const double lv = (v - top) * invUnit - 0.5;
        if (!(lu >= -1.0 && lu < cols && lv >= -1.0 && lv < rows)) {
            return 0.0;
        }
        const int i = FloorInt(lu);
        const int j = FloorInt(lv);
        const double fx = lu - i;
        const double fy = lv - j;
        const std::size_t stride = static_cast<std::size_t>(cols) + 2;
        const BYTE* r0 = ink.data() + static_cast<std::size_t>(j + 1) * stride + (i + 1);
        const BYTE* r1 = r0 + stride;
        if ((r0[0] | r0[1] | r1[0] | r1[1]) == 0) {
            return 0.0;
        }
        const double t = r0[0] + (r0[1] - r0[0]) * fx;
        const double b = r1[0] + (r1[1] - r1[0]) * fx;
        return Clamp01((t + (b - t) * fy - 0.5) * sharpness + 0.5);
    }
};

struct BedModel {
    std::vector<int> columns;  // per column, blue, green, red, in sixteenths
    double weaveAmplitude = 0.0;
    double weavePeriod = 8.0;
    Side frameSide = SideLeft;
    double frameWidth = 0.0;
    int frameLevel = 0;  // sixteenths
    std::array<double, 3> base{};
    std::array<double, 3> tiltY{};
    std::array<double, 3> vignetteY{};
    LONG width = 1;
    LONG height = 1;

    void Build(std::mt19937& gen, const ScanOptions& o) {
        width = o.width;
        height = o.height;
        weaveAmplitude = o.weaveAmplitude;
        weavePeriod = o.weavePeriod;
        frameSide = o.frameSide;
        frameWidth = o.frameWidth;
        frameLevel = ToFix(o.frameLevel);
        // Blue, green, red. A white lid is a little cooler at one end and
        // darker towards its borders; a black lid brightens towards them.
        std::array<double, 3> tiltX;
        std::array<double, 3> vignetteX;
        double pattern;
        if (o.bed == BedKind::Light) {
            base = {229.0, 231.0, 230.0};
            tiltX = {-4.0, -5.0, -6.5};
            vignetteX = {-5.0, -5.0, -5.0};
            tiltY = {3.0, 3.0, 2.5};
            vignetteY = {-4.0, -4.0, -4.0};
            pattern = 0.5;
        } else {
            base = {17.0, 14.0, 13.0};
            tiltX = {1.5, 2.0, 2.0};
            vignetteX = {2.0, 2.0, 2.0};
            tiltY = {-1.0, -1.0, -1.0};
            vignetteY = {1.5, 1.5, 1.5};
            pattern = 0.4;
        }
        if (o.bedLevel >= 0.0) {
            const double shift = o.bedLevel - (base[0] + base[1] + base[2]) / 3.0;
            for (double& b : base) {
                b += shift;
            }
        }
        for (int c = 0; c < 3; ++c) {
            tiltX[c] *= o.bedGradient;
            vignetteX[c] *= o.bedGradient;
            tiltY[c] *= o.bedGradient;
            vignetteY[c] *= o.bedGradient;
        }
        columns.resize(static_cast<std::size_t>(o.width) * 3);
        for (LONG x = 0; x < o.width; ++x) {
            const double nx = (x + 0.5) / o.width;
            const double e = 2.0 * nx - 1.0;
            // A line sensor leaves a fixed offset per column in every scan.
            const double offset = Normal(gen) * pattern;
            for (int c = 0; c < 3; ++c) {
                columns[3 * x + c] =
                    ToFix(base[c] + tiltX[c] * (nx - 0.5) + vignetteX[c] * e * e + offset);
            }
        }
    }

    // Triangle wave of the weave, -1 to 1, at pixel centre t.
    double Weave(LONG t) const {
        const double phase = (t + 0.5) / weavePeriod;
        return 4.0 * std::fabs(phase - FloorInt(phase) - 0.5) - 1.0;
    }

    // The weave of row y across the row, in sixteenths, displaced by
    // `shift` pixels right and down; empty without one.
    void WeaveRow(LONG y, int shift, std::vector<int>& out) const {
        out.clear();
        if (weaveAmplitude <= 0.0) {
            return;
        }
        const double row = weaveAmplitude * kFix * Weave(y - shift);
        out.resize(static_cast<std::size_t>(width));
        for (LONG x = 0; x < width; ++x) {
            out[static_cast<std::size_t>(x)] = RoundInt(row * Weave(x - shift));
        }
    }

    // Lays the frame strip over row y of the bed (sixteenths, 3 per pixel),
    // mixed by its coverage of each pixel.
    void FrameRow(LONG y, std::vector<int>& row) const {
        if (frameWidth <= 0.0) {
            return;
        }
        const auto cover = [this](LONG inside) { return Clamp01(frameWidth - inside); };
        const auto mix = [&row, this](LONG x, double c) {
            int* px = row.data() + 3 * static_cast<std::size_t>(x);
            for (int i = 0; i < 3 && c > 0.0; ++i) {
                px[i] = RoundInt(px[i] + (frameLevel - px[i]) * c);
            }
        };
        if (frameSide == SideTop || frameSide == SideBottom) {
            const double c = cover(frameSide == SideTop ? y : height - 1 - y);
            for (LONG x = 0; x < width && c > 0.0; ++x) {
                mix(x, c);
            }
            return;
        }
        for (LONG i = 0; i < width && i < frameWidth + 1.0; ++i) {
            mix(frameSide == SideLeft ? i : width - 1 - i, cover(i));
        }
    }

    std::array<int, 3> RowTerms(LONG y) const {
        const double ny = (y + 0.5) / height;
        const double e = 2.0 * ny - 1.0;
        std::array<int, 3> t;
        for (int c = 0; c < 3; ++c) {
            t[c] = ToFix(tiltY[c] * (ny - 0.5) + vignetteY[c] * e * e);
        }
        return t;
    }
};

struct PageModel {
    double cx = 0.0;
    double cy = 0.0;
    double cosA = 1.0;
    double sinA = 0.0;
    double halfW = 0.0;
    double halfH = 0.0;
    std::array<double, 3> paper{};  // sixteenths, blue, green, red
    std::array<double, 3> ink{};
    Lattice mottle;
    Lattice fibres;
    TextMask text;
    bool shadow = false;
    Side shadowSide = SideRight;
    bool shadowNextSide = false;
    double shadowWidth = 1.0;
    double shadowStrength = 0.0;
    BookEdge book = BookEdge::None;
    double gutterWidth = 1.0;
    double gutterStrength = 0.0;
    double coverMargin = 0.0;
    double coverLevel = 0.0;  // sixteenths
    double blockWidth = 0.0;
    double blockPitch = 1.0;
    double margin = 1.0;  // beyond the page edges where a row still needs the full model

    void Build(std::mt19937& gen, const ScanOptions& o) {
        halfW = o.pageWidth / 2.0;
        halfH = o.pageHeight / 2.0;
        const double angle = o.skewDegrees * kPi / 180.0;
        cosA = SeriesCos(angle);
        sinA = SeriesSin(angle);
        cy = o.centreY;
        const double reach = halfW * cosA - halfH * std::fabs(sinA);
        const double overhang = o.bookOverhang > 0.0 ? o.bookOverhang : 0.05 * o.pageWidth;
        switch (o.bookEdge) {
            case BookEdge::Left:
                cx = -overhang + reach;
                break;
            case BookEdge::Right:
                cx = o.width + overhang - reach;
                break;
            case BookEdge::None:
                cx = o.centreX;
                break;
        }
        paper = {o.paper.blue * double{kFix}, o.paper.green * double{kFix},
                 o.paper.red * double{kFix}};
        ink = {40.0 * kFix, 34.0 * kFix, 33.0 * kFix};
        mottle.Build(gen, halfW, halfH, std::max(4.0, o.dpi * 0.12), o.paperTexture * kFix);
        fibres.Build(gen, halfW, halfH, std::max(2.0, o.dpi * 0.02), 0.6 * o.paperTexture * kFix);
        text.Build(gen, o, halfW, halfH);
        shadow = o.shadow && o.shadowStrength > 0.0;
        shadowSide = o.shadowSide;
        shadowNextSide = o.shadowNextSide;
        shadowWidth = o.shadowWidth > 0.0 ? o.shadowWidth : std::max(1.0, o.dpi * 0.06);
        shadowStrength = o.shadowStrength;
        book = o.bookEdge;
        gutterWidth = 0.15 * o.pageWidth;
        gutterStrength = 0.22;
        coverMargin = o.coverMargin;
        coverLevel = o.coverLevel * kFix;
        blockWidth = std::min(o.blockWidth, o.coverMargin);
        blockPitch = std::max(1.0, o.blockPitch);
        shadow = shadow && coverMargin <= 0.0;
        margin = 1.0 + std::max(shadow ? shadowWidth : 0.0, coverMargin);
    }

    // Columns [first, last) of row y that the page or its shadow can touch.
    void RowSpan(LONG y, LONG width, LONG& first, LONG& last) const {
        const double dy = y + 0.5 - cy;
        const double a = halfW + margin;
        const double b = halfH + margin;
        // With X = x + 0.5 - cx: |cos·X + sin·dy| <= a and |−sin·X + cos·dy| <= b.
        double lo = (-a - sinA * dy) / cosA;
        double hi = (a - sinA * dy) / cosA;
        const double cdy = cosA * dy;
        if (sinA > 0.0) {
            lo = std::max(lo, (cdy - b) / sinA);
            hi = std::min(hi, (cdy + b) / sinA);
        } else if (sinA < 0.0) {
            lo = std::max(lo, (cdy + b) / sinA);
            hi = std::min(hi, (cdy - b) / sinA);
        } else if (std::fabs(cdy) > b) {
            hi = lo - 1.0;
        }
        if (!(hi >= lo)) {
            first = last = 0;
            return;
        }
        const double xl = std::clamp(std::floor(lo + cx - 0.5) - 1.0, 0.0, double(width));
        const double xh = std::clamp(std::floor(hi + cx - 0.5) + 2.0, 0.0, double(width));
        first = static_cast<LONG>(xl);
        last = std::max(first, static_cast<LONG>(xh));
    }

    // Fraction of the bed's light left by the lid's shadow at page point (u, v).
    double ShadowFactor(double u, double v) const {
        const double first = SideShadowFactor(shadowSide, u, v);
        return shadowNextSide
                   ? first * SideShadowFactor(static_cast<Side>((shadowSide + 1) % 4), u, v)
                   : first;
    }

    // The shadow along one side.
    double SideShadowFactor(Side side, double u, double v) const {
        double outside;
        double along;
        double half;
        switch (side) {
            case SideLeft:
                outside = -u - halfW, along = v, half = halfH;
                break;
            case SideTop:
                outside = -v - halfH, along = u, half = halfW;
                break;
            case SideBottom:
                outside = v - halfH, along = u, half = halfW;
                break;
            default:
                outside = u - halfW, along = v, half = halfH;
                break;
        }
        // Under the page only the partly covered edge pixels show the bed.
        const double t = outside < -1.0 ? 0.0 : 1.0 - Clamp01(outside / shadowWidth);
        const double ends = Clamp01((half - std::fabs(along)) / shadowWidth + 0.5);
        return 1.0 - shadowStrength * t * t * ends;
    }

    // Replaces the bed colour `px` (sixteenths) at page point (u, v) outside
    // the page with the cover and the page block's edges, mixed by the
    // cover's coverage.
    void CoverAt(double u, double v, double px[3]) const {
        const double cover = Clamp01(halfW + coverMargin + 0.5 - std::fabs(u)) *
                             Clamp01(halfH + coverMargin + 0.5 - std::fabs(v));
        if (cover <= 0.0) {
            return;
        }
        // Distance beyond the page's outline; the page block's edges lie
        // in the first blockWidth of it, each sheet a little deeper in.
        const double d = std::max(std::fabs(u) - halfW, std::fabs(v) - halfH);
        const double block = Clamp01(blockWidth + 0.5 - d);
        const double phase = d / blockPitch - FloorInt(d / blockPitch);
        const double shade = (0.8 - 0.25 * Clamp01(d / std::max(1.0, blockWidth))) *
                             (1.0 - 0.12 * std::fabs(2.0 * phase - 1.0));
        for (int c = 0; c < 3; ++c) {
            const double board = coverLevel + (paper[c] * shade - coverLevel) * block;
            px[c] += (board - px[c]) * cover;
        }
    }

    // Paper colour (sixteenths) at page point (u, v), with texture,
    // binding shade and ink.
    void PaperAt(double u, double v, double out[3]) const {
        double shade = mottle.Sample(u, v) + fibres.Sample(u, v);
        double gutter = 1.0;
        if (book != BookEdge::None) {
            const double d = book == BookEdge::Left ? u + halfW : halfW - u;
            const double t = 1.0 - Clamp01(d / gutterWidth);
            gutter = 1.0 - gutterStrength * t * t;
        }
        const double a = text.present ? 0.94 * text.Sample(u, v) : 0.0;
        for (int c = 0; c < 3; ++c) {
            const double p = (paper[c] + shade) * gutter;
            out[c] = p + (ink[c] - p) * a;
        }
    }

    // Replaces row y's bed values in `row` (sixteenths, 3 per pixel) with
    // the page, mixed by its coverage, and the shadowed bed around it.
    void RenderRow(LONG y, LONG width, int* row) const {
        LONG first;
        LONG last;
        RowSpan(y, width, first, last);
        const double dy = y + 0.5 - cy;
        for (LONG x = first; x < last; ++x) {
            const double dx = x + 0.5 - cx;
            const double u = cosA * dx + sinA * dy;
            const double v = -sinA * dx + cosA * dy;
            const double cover =
                Clamp01(halfW + 0.5 - std::fabs(u)) * Clamp01(halfH + 0.5 - std::fabs(v));
            int* px = row + 3 * x;
            double page[3];
            if (cover >= 1.0) {
                PaperAt(u, v, page);
                for (int c = 0; c < 3; ++c) {
                    px[c] = RoundInt(page[c]);
                }
                continue;
            }
            const double bedFactor = shadow ? ShadowFactor(u, v) : 1.0;
            if (coverMargin > 0.0) {
                double under[3] = {double(px[0]), double(px[1]), double(px[2])};
                CoverAt(u, v, under);
                for (int c = 0; c < 3; ++c) {
                    px[c] = RoundInt(under[c]);
                }
            }
            if (cover <= 0.0) {
                if (bedFactor < 1.0) {
                    for (int c = 0; c < 3; ++c) {
                        px[c] = RoundInt(px[c] * bedFactor);
                    }
                }
                continue;
            }
            PaperAt(u, v, page);
            for (int c = 0; c < 3; ++c) {
                const double bed = px[c] * bedFactor;
                px[c] = RoundInt(bed + (page[c] - bed) * cover);
            }
        }
    }
};

// Adds sensor noise to a row of sixteenths and writes it as 32-bit pixels.
// One draw per pixel: ten bits per channel, two five-bit fields summed into
// a triangular deviate of standard deviation kTriangleSigma.
void WriteNoisyRow(const int* row, LONG width, std::mt19937& gen, int gain, BYTE alpha, BYTE* out) {
    for (LONG x = 0; x < width; ++x) {
        const std::uint32_t r = static_cast<std::uint32_t>(gen());
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t f = r >> (10 * c);
            const int deviate = static_cast<int>((f & 31u) + ((f >> 5) & 31u)) - 31;
            const int v = std::clamp(row[3 * x + c] + ((deviate * gain) >> 8), 0, kFixMax);
            out[4 * x + c] = static_cast<BYTE>((v + kFix / 2) >> 4);
        }
        out[4 * x + 3] = alpha;
    }
}

// The noise-free rows of the scan and of the empty bed, in sixteenths, blurred
// by the optics when asked: a binomial kernel of 2 × passes + 1 taps across
// and down (standard deviation sqrt(passes / 2) pixels), the image's edge
// pixels repeated beyond it. Rows are asked for top to bottom.
class RowBlur {
  public:
    struct Rows {
        const int* scan;
        const int* bed;
    };

    RowBlur(const BedModel& bed, const PageModel& page, const ScanOptions& o)
        : m_bed(bed),
          m_page(page),
          m_width(o.width),
          m_height(o.height),
          m_radius(o.blurPasses),
          m_weaveShift(RoundInt(o.weaveShift)),
          m_taps(static_cast<std::size_t>(2 * o.blurPasses + 1)) {
        // Binomial coefficients of 2 × passes.
        m_kernel.assign(m_taps, 0);
        m_kernel[0] = 1;
        for (std::size_t n = 1; n < m_taps; ++n) {
            for (std::size_t j = n; j > 0; --j) {
                m_kernel[j] += m_kernel[j - 1];
            }
        }
        const std::size_t n = static_cast<std::size_t>(m_width) * 3;
        m_scan.assign(m_taps, std::vector<int>(n));
        m_bedRows.assign(m_taps, std::vector<int>(n));
        m_outScan.resize(n);
        m_outBed.resize(n);
        m_line.resize(n);
    }

    Rows At(LONG y) {
        if (m_radius == 0) {
            Render(y, m_outScan, m_outBed);
            return {m_outScan.data(), m_outBed.data()};
        }
        const LONG last = std::min<LONG>(y + m_radius, m_height - 1);
        for (; m_next <= last; ++m_next) {
            const std::size_t slot = static_cast<std::size_t>(m_next) % m_taps;
            Render(m_next, m_scan[slot], m_bedRows[slot]);
            Across(m_scan[slot]);
            Across(m_bedRows[slot]);
        }
        Down(y, m_scan, m_outScan);
        Down(y, m_bedRows, m_outBed);
        return {m_outScan.data(), m_outBed.data()};
    }

  private:
    void Render(LONG y, std::vector<int>& scanRow, std::vector<int>& bedRow) const {
        Bed(y, 0, bedRow);
        if (m_weaveShift == 0) {
            scanRow = bedRow;
        } else {
            Bed(y, m_weaveShift, scanRow);
        }
        m_page.RenderRow(y, m_width, scanRow.data());
    }

    void Bed(LONG y, int weaveShift, std::vector<int>& row) const {
        const std::array<int, 3> rowTerms = m_bed.RowTerms(y);
        for (std::size_t i = 0; i < row.size(); i += 3) {
            row[i] = m_bed.columns[i] + rowTerms[0];
            row[i + 1] = m_bed.columns[i + 1] + rowTerms[1];
            row[i + 2] = m_bed.columns[i + 2] + rowTerms[2];
        }
        m_bed.WeaveRow(y, weaveShift, m_weave);
        for (std::size_t x = 0; x < m_weave.size(); ++x) {
            for (std::size_t c = 0; c < 3; ++c) {
                row[3 * x + c] += m_weave[x];
            }
        }
        m_bed.FrameRow(y, row);
    }

    int Scale() const { return 1 << (2 * m_radius); }

    void Across(std::vector<int>& row) {
        for (LONG x = 0; x < m_width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (std::size_t j = 0; j < m_taps; ++j) {
                    const LONG at =
                        std::clamp<LONG>(x + static_cast<LONG>(j) - m_radius, 0, m_width - 1);
                    sum += m_kernel[j] * row[3 * static_cast<std::size_t>(at) + c];
                }
                m_line[3 * static_cast<std::size_t>(x) + c] = (sum + Scale() / 2) / Scale();
            }
        }
        row.swap(m_line);
    }

    void Down(LONG y, const std::vector<std::vector<int>>& ring, std::vector<int>& out) const {
        std::fill(out.begin(), out.end(), 0);
        for (std::size_t j = 0; j < m_taps; ++j) {
            const LONG at = std::clamp<LONG>(y + static_cast<LONG>(j) - m_radius, 0, m_height - 1);
            const std::vector<int>& row = ring[static_cast<std::size_t>(at) % m_taps];
            for (std::size_t i = 0; i < out.size(); ++i) {
                out[i] += m_kernel[j] * row[i];
            }
        }
        for (int& v : out) {
            v = (v + Scale() / 2) / Scale();
        }
    }

    const BedModel& m_bed;
    const PageModel& m_page;
    LONG m_width;
    LONG m_height;
    int m_radius;
    int m_weaveShift;
    std::size_t m_taps;
    std::vector<int> m_kernel;
    std::vector<std::vector<int>> m_scan;
    std::vector<std::vector<int>> m_bedRows;
    std::vector<int> m_outScan;
    std::vector<int> m_outBed;
    std::vector<int> m_line;
    mutable std::vector<int> m_weave;
    LONG m_next = 0;
};

bool InRange(double v, double lo, double hi) {
    return v >= lo && v <= hi;  // false for NaN
}

bool ValidOptions(const ScanOptions& o) {
    return o.width >= 1 && o.height >= 1 && o.width <= 65535 && o.height <= 65535 &&
           InRange(o.dpi, 1e-3, 1e5) && InRange(o.pageWidth, 1e-3, 1e6) &&
           InRange(o.pageHeight, 1e-3, 1e6) && InRange(o.centreX, -1e7, 1e7) &&
           InRange(o.centreY, -1e7, 1e7) && InRange(o.skewDegrees, -45.0, 45.0) &&
           InRange(o.paperTexture, 0.0, 64.0) && InRange(o.textPoints, 1e-3, 1e3) &&
           InRange(o.marginX, 0.0, 0.49) && InRange(o.marginY, 0.0, 0.49) &&
           o.shadowSide >= SideLeft && o.shadowSide <= SideBottom &&
           InRange(o.shadowWidth, 0.0, 1e5) && InRange(o.shadowStrength, 0.0, 1.0) &&
           InRange(o.bookOverhang, 0.0, 1e6) && InRange(o.noiseSigma, 0.0, 20.0) &&
           o.bedLevel <= 255.0 && InRange(o.bedGradient, 0.0, 10.0) &&
           InRange(o.weaveAmplitude, 0.0, 64.0) && InRange(o.weavePeriod, 2.0, 1e4) &&
           InRange(o.weaveShift, -1e4, 1e4) && o.blurPasses >= 0 && o.blurPasses <= 4 &&
           o.frameSide >= SideLeft && o.frameSide <= SideBottom &&
           InRange(o.frameWidth, 0.0, 1e5) && InRange(o.frameLevel, 0.0, 255.0) &&
           InRange(o.coverMargin, 0.0, 1e5) && InRange(o.coverLevel, 0.0, 255.0) &&
           InRange(o.blockWidth, 0.0, 1e5) && InRange(o.blockPitch, 0.0, 1e5);
}

DibPtr MakeImage(const ScanOptions& o) {
    DibPtr dib(new CDib);
    if (!dib->Create(o.width, o.height, 32, 0, BI_RGB) || !dib->AllocateBits()) {
        return DibPtr();
    }
    const LONG ppm = DpiToPelsPerMeter(o.dpi);
    dib->Header()->biXPelsPerMeter = ppm;
    dib->Header()->biYPelsPerMeter = ppm;
    return dib;
}

// Length of segment a-b inside [0, w] × [0, h] (Liang-Barsky clipping).
double VisibleLength(PointD a, PointD b, double w, double h) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x, w - a.x, a.y, h - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) {
                return 0.0;
            }
        } else {
            const double t = q[i] / p[i];
            if (p[i] < 0.0) {
                t0 = std::max(t0, t);
            } else {
                t1 = std::min(t1, t);
            }
        }
    }
    return t1 > t0 ? (t1 - t0) * std::sqrt(dx * dx + dy * dy) : 0.0;
}

ScanTruth MakeTruth(const ScanOptions& o, const PageModel& page) {
    ScanTruth t;
    t.skewDegrees = o.skewDegrees;
    t.skewRadians = o.skewDegrees * kPi / 180.0;
    t.centre = {page.cx, page.cy};
    t.pageWidth = o.pageWidth;
    t.pageHeight = o.pageHeight;
    const double us[4] = {-page.halfW, page.halfW, page.halfW, -page.halfW};
    const double vs[4] = {-page.halfH, -page.halfH, page.halfH, page.halfH};
    bool inside[4];
    for (int i = 0; i < 4; ++i) {
        const double x = page.cx + us[i] * page.cosA - vs[i] * page.sinA;
        const double y = page.cy + us[i] * page.sinA + vs[i] * page.cosA;
        t.corners[i] = {x, y};
        inside[i] = x >= 0.0 && x <= o.width && y >= 0.0 && y <= o.height;
    }
    // Page edges by Side: left runs from corner 3 to 0, top 0 to 1, right
    // 1 to 2, bottom 2 to 3.
    t.sideInside[SideLeft] = inside[3] && inside[0];
    t.sideInside[SideTop] = inside[0] && inside[1];
    t.sideInside[SideRight] = inside[1] && inside[2];
    t.sideInside[SideBottom] = inside[2] && inside[3];
    const int from[4] = {3, 0, 1, 2};
    for (int side = 0; side < 4; ++side) {
        const PointD a = t.corners[from[side]];
        const PointD b = t.corners[(from[side] + 1) % 4];
        t.sideVisible[side] = VisibleLength(a, b, o.width, o.height) > 1.0;
    }
    return t;
}

GeneratedScan Generate(const ScanOptions& o) {
    GeneratedScan result;
    if (!ValidOptions(o)) {
        result.result = E_INVALIDARG;
        return result;
    }
    std::mt19937 layout = MakeStream(o.seed, StreamLayout);
    BedModel bed;
    bed.Build(layout, o);
    PageModel page;
    page.Build(layout, o);

    DibPtr scan = MakeImage(o);
    DibPtr empty = scan ? MakeImage(o) : DibPtr();
    if (!scan || !empty) {
        result.result = E_OUTOFMEMORY;
        return result;
    }

    std::mt19937 scanNoise = MakeStream(o.seed, StreamScanNoise);
    std::mt19937 emptyNoise = MakeStream(o.seed, StreamEmptyNoise);
    const int gain = FloorInt(o.noiseSigma * kFix * 256.0 / kTriangleSigma + 0.5);
    const BYTE alpha = o.opaqueAlpha ? 255 : 0;
    RowBlur blur(bed, page, o);
    for (LONG y = 0; y < o.height; ++y) {
        const RowBlur::Rows rows = blur.At(y);
        WriteNoisyRow(rows.scan, o.width, scanNoise, gain, alpha, scan->Row(y));
        WriteNoisyRow(rows.bed, o.width, emptyNoise, gain, alpha, empty->Row(y));
    }
    result.result = S_OK;
    result.scan = scan;
    result.emptyBed = empty;
    result.truth = MakeTruth(o, page);
    return result;
}

}  // namespace

ScanOptions MakeScanOptions(LONG width, LONG height, double dpi) {
    ScanOptions o;
    o.width = width;
    o.height = height;
    o.dpi = dpi;
    o.pageWidth = 0.8 * width;
    o.pageHeight = 0.82 * height;
    o.centreX = width / 2.0;
    o.centreY = height / 2.0;
    return o;
}

GeneratedScan GenerateScan(const ScanOptions& options) {
    try {
        return Generate(options);
    } catch (const std::bad_alloc&) {
        GeneratedScan failed;
        failed.result = E_OUTOFMEMORY;
        return failed;
    }
}

}  // namespace scangen
