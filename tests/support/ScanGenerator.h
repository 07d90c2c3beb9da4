// Synthetic scans with a known truth, for tests and benchmarks.
//
// GenerateScan draws a paper page (optionally skewed, with paper texture,
// text-like lines of words, a lid shadow along one edge, or cut by the left
// or right image border like an opened book) on a scanner bed, and a second
// image of the same bed without the page (the empty image). Both are 32-bit
// BI_RGB CDibs (blue, green, red, alpha), stored bottom-up, with the
// resolution in biXPelsPerMeter and biYPelsPerMeter.
//
// Determinism: the same options give the same bytes on every run and every
// platform. All randomness comes from std::mt19937 streams seeded through
// std::seed_seq from `seed` (both fully specified by the standard); no
// standard distributions and no libm transcendental functions are used
// (sine and cosine are our own series), and the library is compiled without
// floating-point contraction.
//
// Coordinates: image coordinates, origin at the top-left corner of the
// top-left pixel, x to the right, y downwards, in pixels. Pixel (x, y) is the
// unit square [x, x + 1) × [y, y + 1); its centre is (x + 0.5, y + 0.5).
// An axis-aligned page whose left edge is at x = 100.0 covers column 100
// fully and leaves column 99 to the bed; an edge at 100.25 gives column 100 a
// paper coverage of 0.75.
//
// Skew: the page is turned about its centre by `skewDegrees`; a positive
// value turns it clockwise as seen on the screen, so the page's top edge
// descends to the right (the top-right corner has a larger y than the
// top-left corner) and its left edge drifts to the left going down. This is
// the sign convention of the trim engine's rotation (a positive angle turns
// the picture clockwise), so the engine straightens such a page by turning
// it by −skew. Supported range: −45 to +45 degrees.
//
// Edges are anti-aliased: a pixel's value is the bed and paper mixed by the
// paper's area coverage of the pixel (exact for axis-aligned edges, within a
// few hundredths of coverage for skewed ones), so edges sit where the truth
// says to a small fraction of a pixel. Sensor noise is added afterwards to
// every pixel alike.
#pragma once

#include <array>
#include <cstdint>

#include "image/Dib.h"
#include "image/Side.h"
#include "msg/Result.h"

namespace scangen {

enum class BedKind {
    Light,  // a white lid: near-white, smooth illumination gradient, sensor noise
    Dark,   // a black lid: near-black, faint gradient, sensor noise
};

// Which image border cuts the page in book mode.
enum class BookEdge { None, Left, Right };

struct RgbColour {
    BYTE red;
    BYTE green;
    BYTE blue;
};

struct PointD {
    double x;
    double y;
};

struct ScanOptions {
    // Image size in pixels (both at least 1) and resolution in dots per inch
    // (greater than 0), stored as DpiToPelsPerMeter(dpi) in both axes.
    LONG width = 1240;
    LONG height = 1754;
    double dpi = 150.0;

    BedKind bed = BedKind::Light;
    // The lid's mean grey level (0 to 255) in place of the kind's own (the
    // kind keeps its tint and gradient shape); negative keeps the kind's.
    double bedLevel = -1.0;
    // Scale of the lid's illumination gradient and vignette (0 to 10; 1 is
    // the kind's own, about ±5 levels on a white lid).
    double bedGradient = 1.0;
    // A woven lid: a fixed texture of ±weaveAmplitude grey levels repeating
    // every weavePeriod pixels across and down (a checked pattern of
    // triangle waves), the same in the scan and the empty image. 0: none.
    double weaveAmplitude = 0.0;
    double weavePeriod = 8.0;
    // Pixels by which the weave of the scan lies right of and below that of
    // the empty image (a lid never lies down twice alike); 0: the same.
    double weaveShift = 0.0;

    // The page's own (straightened) size in pixels, greater than 0, and the
    // position of its centre in image coordinates. In book mode centreX is
    // replaced (see bookEdge).
    double pageWidth = 992.0;
    double pageHeight = 1438.28;
    double centreX = 620.0;
    double centreY = 877.0;
    // Degrees, positive = clockwise on screen (see the file comment).
    double skewDegrees = 0.0;

    RgbColour paper{243, 241, 233};
    // Amplitude of the paper's mottling and fibre texture in grey levels
    // (0 gives a flat paper colour under the noise).
    double paperTexture = 2.0;

    // Lines of dark "words" (monospaced pseudo-letters) in paragraphs inside
    // the page margins. The type size in points sets the letter size through
    // dpi (left out when its strokes would be under a quarter pixel); the
    // margins are fractions of the page width (left and right) and height
    // (top and bottom), each below 0.49.
    bool text = true;
    double textPoints = 11.0;
    double marginX = 0.12;
    double marginY = 0.09;

    // A soft darker band on the bed just outside one page edge, as a lid
    // casts it. Width in pixels (0: dpi × 0.06); strength is the fraction of
    // the bed's brightness removed right at the edge (0 to 1). With
    // shadowNextSide the band also runs along the next side clockwise
    // (right, then bottom; bottom, then left; ...), as a drop shadow.
    bool shadow = false;
    Side shadowSide = SideRight;
    bool shadowNextSide = false;
    double shadowWidth = 0.0;
    double shadowStrength = 0.35;

    // A strip of the scanner's dark frame along one border of the bed, in
    // the scan and the empty image alike: `frameWidth` pixels (0: none) of
    // grey level `frameLevel` along `frameSide`. The page lies over it.
    Side frameSide = SideLeft;
    double frameWidth = 0.0;
    double frameLevel = 30.0;

    // A book's cover under the page, in the scan only: a board of grey
    // level `coverLevel` reaching `coverMargin` pixels (0: none) beyond
    // every page edge, turned with the page. Between the page and the
    // board's edge the edges of the page block show: a band `blockWidth`
    // pixels wide (less than coverMargin) of shaded paper, striped every
    // `blockPitch` pixels. No shadow is cast on a cover.
    double coverMargin = 0.0;
    double coverLevel = 28.0;
    double blockWidth = 0.0;
    double blockPitch = 3.0;

    // Book mode: the page reaches past the left or right image border by
    // bookOverhang pixels (0: 5 % of the page width), measured from the
    // border to the innermost corner of the page's cut edge; centreX is then
    // computed, centreY is kept. The paper darkens towards the cut edge like
    // a page curving into its binding.
    BookEdge bookEdge = BookEdge::None;
    double bookOverhang = 0.0;

    // Optical blur of both images before the noise: passes (0 to 4) of a
    // [1 2 1] / 4 kernel across and down, a standard deviation of
    // sqrt(passes / 2) pixels. 0: sharp.
    int blurPasses = 0;

    // Standard deviation of the sensor noise in grey levels (0 to 20),
    // independent per channel and pixel, the same on bed and paper.
    double noiseSigma = 1.4;

    std::uint32_t seed = 1;
    // Alpha byte of every pixel: 255 when true, 0 when false (a 32-bit
    // BI_RGB bitmap whose fourth byte is unused).
    bool opaqueAlpha = true;
};

// Options for an image of the given size and resolution with every length
// scaled to it: a page of 80 % × 82 % of the image, centred, no skew.
// MakeScanOptions(4960, 7016, 600) is a 600 dpi A4 scan.
ScanOptions MakeScanOptions(LONG width, LONG height, double dpi);

struct ScanTruth {
    double skewDegrees = 0.0;
    double skewRadians = 0.0;
    // The page as it lies in the scan: top-left, top-right, bottom-right,
    // bottom-left (the page's own corners, turned with it), in image
    // coordinates; corners may lie outside the image (book mode).
    std::array<PointD, 4> corners{};
    PointD centre{};
    // The page's straightened size in pixels.
    double pageWidth = 0.0;
    double pageHeight = 0.0;
    // Indexed by Side (left, top, right, bottom of the page): true when both
    // corners of that page edge lie inside the image (borders included), so
    // the whole edge is visible.
    std::array<bool, 4> sideInside{};
    // Indexed by Side: true when some stretch of that page edge longer than
    // a pixel lies inside the image (a book page's top and bottom edges are
    // visible but not inside; its cut edge is neither).
    std::array<bool, 4> sideVisible{};
};

struct GeneratedScan {
    // S_OK; E_INVALIDARG (images empty) for options outside the documented
    // ranges; E_OUTOFMEMORY (images empty) when an image cannot be made.
    HRESULT result = E_FAIL;
    DibPtr scan;
    // The same bed (colour, gradient, fixed column pattern) without the
    // page and its shadow, with fresh sensor noise.
    DibPtr emptyBed;
    ScanTruth truth;
};

GeneratedScan GenerateScan(const ScanOptions& options);

}  // namespace scangen
