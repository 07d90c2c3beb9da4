// TrimVerdict: what the engine itself thinks of one page it cut, so that a
// person checking hundreds of results can look at the few that need it.
//
// The task fills it while it runs (CAutoTrimTask::Verdict), from what the
// pipeline already knows (the lines it found, accepted or refused, the angle
// and where it came from, the rectangle); it costs no extra pass over the
// image. A page is `ok` or needs a look (`review`); the reasons say why, as
// short sentences in the interface language or in English for records.
//
// Coordinates: source pixels, origin at the top-left pixel, x to the right,
// y downwards. Angles in radians, positive turns the picture clockwise on
// screen (as CAutoTrimTask::SkewAngle).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/Side.h"
#include "msg/StringTable.h"
#include "trim/TrimRect.h"

// What became of one side of the page.
enum class SideFate : std::uint8_t {
    NotCut,    // not in the file's cut-side list: ends at the image border
    Cut,       // cut on a line found in the foreground
    Refused,   // a line was found but refused (SideVerdict::rule): kept to the border
    AtBorder,  // cut side without a line (no lid seen there): kept to the border
};

// Why a found line was refused: LineRule (trim/TrimRect.h), the rules of
// the rectangle check.

struct SideVerdict {
    SideFate fate = SideFate::NotCut;
    LineRule rule = LineRule::None;
    // Of the line the side was cut on, or of the refused line; 0 otherwise.
    std::int32_t votes = 0;
    std::int32_t points = 0;
    // A cut side only: the page touches or runs off this border of the scan.
    bool pageAtBorder = false;
};

// Flags of a verdict; any of them makes the page need a look.
enum VerdictFlag : std::uint32_t {
    VerdictPageAtBorder = 1u << 0,          // the page touches or runs off a border
    VerdictNothingCut = 1u << 1,            // the result is the whole scan
    VerdictNotStraightened = 1u << 2,       // the page's edges are skewed in the result
    VerdictCutSideAtBorder = 1u << 3,       // a side to cut was left at the image border
    VerdictRotationEdgeRefused = 1u << 4,   // the chosen rotation edge gave no sound line
    VerdictOutputSizeBeyondScan = 1u << 5,  // the fixed output size is larger than the scan
    VerdictTrimRemovesPage = 1u << 6,       // the additional trimming would remove the page
};

// One reason a page needs a look: a string-table id, and the side it speaks
// of where its text names one.
struct VerdictReason {
    std::uint32_t id = 0;
    Side side = SideLeft;
};

struct TrimVerdict {
    std::array<SideVerdict, 4> sides{};  // indexed by Side
    double angle = 0.0;
    // The side whose line gave the angle, and its votes; 0 votes when no
    // line did (then `angle` is 0).
    Side angleSide = SideLeft;
    std::int32_t angleVotes = 0;
    // The rotation edge the settings name for this file (left, right, top
    // or bottom); `fixedRotationEdge` is false when the edge is chosen
    // automatically or the page is not to be turned.
    bool fixedRotationEdge = false;
    Side rotationEdge = SideLeft;
    std::uint32_t flags = 0;  // VerdictFlag bits
    // The page's corners in the source image: top left, top right, bottom
    // right, bottom left, where the four lines meet (a side kept to the
    // border contributes the border line).
    std::array<PointD, 4> pageCorners{};
    // The reasons, most important first; empty for an `ok` page.
    std::vector<VerdictReason> reasons;

    bool NeedsReview() const { return !reasons.empty(); }
};

// Completes a verdict whose sides, angle and other flags are set: adds
// VerdictCutSideAtBorder (a cut side refused or without a line) and
// VerdictPageAtBorder (a side's pageAtBorder), then replaces the reasons by
// one per finding, most important first: the page running off a border
// (per side), nothing cut, not straightened, the rotation edge without a
// sound line, each cut side refused (its rule) or not found (a side the
// page runs off is not named twice), the output size, the trimming.
void ExplainVerdict(TrimVerdict& verdict);

// The reasons as short sentences ("right edge not found: kept to the image
// border"), in `language`, in the verdict's order.
std::vector<std::string> VerdictReasonTexts(const TrimVerdict& verdict, Language language);
