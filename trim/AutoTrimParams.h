// AutoTrimParams: the parameter record of the per-file pipeline, and the two
// enumerations stored in it (RotateEdge in EdgeType, TrimEdges in SpaceType)
// with their value tables.
//
// The record is a plain value copied into every task. Sizes are pixels.
// "Even" and "odd" refer to a file's 0-based position in its batch: the
// first, third, fifth file are even. Negative positions follow the parity of
// the integer (-1 odd, -2 even).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "image/BackgroundModel.h"
#include "image/BitmapTypes.h"
#include "image/Side.h"
#include "msg/MessageIds.h"

// Values of AutoTrimParams::EdgeType: which edge straightens the page.
enum RotateEdge : std::uint32_t {
    RotateEdgeNone = 0,  // not rotated
    RotateEdgeAuto = 1,  // every side cut for the file
    RotateEdgeLeft = 2,
    RotateEdgeRight = 3,
    RotateEdgeTop = 4,
    RotateEdgeBottom = 5,
    RotateEdgeLeftRight = 6,  // even: left; odd: right
    RotateEdgeRightLeft = 7,  // even: right; odd: left
    RotateEdgeTopBottom = 8,  // even: top; odd: bottom
    RotateEdgeBottomTop = 9,  // even: bottom; odd: top
    RotateEdgeCount = 10,     // valid values are below this
};

// Values of AutoTrimParams::SpaceType: which margins are cut away.
enum TrimEdges : std::uint32_t {
    TrimEdgesAuto = 0,  // chosen per file from the image (needs an empty image)
    TrimEdgesAll = 1,   // left, top, right, bottom
    TrimEdgesRightBottom = 2,
    TrimEdgesLeftTop = 3,
    TrimEdgesRightTop = 4,  // cut in the order top, right
    TrimEdgesLeftBottom = 5,
    TrimEdgesLeftRight = 6,
    TrimEdgesTopBottom = 7,
    TrimEdgesLeft = 8,
    TrimEdgesRight = 9,
    TrimEdgesTop = 10,
    TrimEdgesBottom = 11,
    TrimEdgesLeftTopBottom = 12,
    TrimEdgesRightTopBottom = 13,
    TrimEdgesLeftRightAlternate = 14,  // even: as 12; odd: as 13
    TrimEdgesRightLeftAlternate = 15,  // even: as 13; odd: as 12
    TrimEdgesCount = 16,               // valid values are below this
};

// Where the rotation edge of a RotateEdge value comes from.
enum class RotateSource : std::uint8_t {
    None,      // no rotation
    CutSides,  // every side cut for the file, in cut order
    Fixed,     // one side, chosen by the file's parity (evenSide / oddSide)
};

// One row per RotateEdge value, ascending: its caption's string id, its
// `/rotate` keyword (compared exactly) and the edge it rotates by.
struct RotateEdgeEntry {
    RotateEdge value;
    std::uint32_t stringId;
    std::string_view keyword;
    RotateSource source;
    Side evenSide;  // meaningful for RotateSource::Fixed only
    Side oddSide;
};

inline constexpr std::array<RotateEdgeEntry, RotateEdgeCount> kRotateEdgeTable{{
    {RotateEdgeNone, kStrRotateNone, "none", RotateSource::None, SideLeft, SideLeft},
    {RotateEdgeAuto, kStrRotateAuto, "auto", RotateSource::CutSides, SideLeft, SideLeft},
    {RotateEdgeLeft, kStrRotateLeft, "l", RotateSource::Fixed, SideLeft, SideLeft},
    {RotateEdgeRight, kStrRotateRight, "r", RotateSource::Fixed, SideRight, SideRight},
    {RotateEdgeTop, kStrRotateTop, "t", RotateSource::Fixed, SideTop, SideTop},
    {RotateEdgeBottom, kStrRotateBottom, "b", RotateSource::Fixed, SideBottom, SideBottom},
    {RotateEdgeLeftRight, kStrRotateLeftRight, "lr", RotateSource::Fixed, SideLeft, SideRight},
    {RotateEdgeRightLeft, kStrRotateRightLeft, "rl", RotateSource::Fixed, SideRight, SideLeft},
    {RotateEdgeTopBottom, kStrRotateTopBottom, "tb", RotateSource::Fixed, SideTop, SideBottom},
    {RotateEdgeBottomTop, kStrRotateBottomTop, "bt", RotateSource::Fixed, SideBottom, SideTop},
}};

// One row per TrimEdges value, ascending: its caption's string id, its `/cut`
// keyword, and what it cuts. The alternating values name the value used for
// even and odd files (evenAs / oddAs); every other value names itself. The
// sides (sideCount of them, in cut order; the order decides ties later) are
// those of a non-alternating value; "auto" has none.
struct TrimEdgesEntry {
    TrimEdges value;
    std::uint32_t stringId;
    std::string_view keyword;
    TrimEdges evenAs;
    TrimEdges oddAs;
    std::uint8_t sideCount;
    std::array<Side, 4> sides;
};

inline constexpr std::array<TrimEdgesEntry, TrimEdgesCount> kTrimEdgesTable{{
    {TrimEdgesAuto, kStrTrimAuto, "auto", TrimEdgesAuto, TrimEdgesAuto, 0, {}},
    {TrimEdgesAll,
     kStrTrimAll,
     "ltrb",
     TrimEdgesAll,
     TrimEdgesAll,
     4,
     {SideLeft, SideTop, SideRight, SideBottom}},
    {TrimEdgesRightBottom,
     kStrTrimRightBottom,
     "rb",
     TrimEdgesRightBottom,
     TrimEdgesRightBottom,
     2,
     {SideRight, SideBottom}},
    {TrimEdgesLeftTop,
     kStrTrimLeftTop,
     "lt",
     TrimEdgesLeftTop,
     TrimEdgesLeftTop,
     2,
     {SideLeft, SideTop}},
    {TrimEdgesRightTop,
     kStrTrimRightTop,
     "rt",
     TrimEdgesRightTop,
     TrimEdgesRightTop,
     2,
     {SideTop, SideRight}},
    {TrimEdgesLeftBottom,
     kStrTrimLeftBottom,
     "lb",
     TrimEdgesLeftBottom,
     TrimEdgesLeftBottom,
     2,
     {SideLeft, SideBottom}},
    {TrimEdgesLeftRight,
     kStrTrimLeftRight,
     "lr",
     TrimEdgesLeftRight,
     TrimEdgesLeftRight,
     2,
     {SideLeft, SideRight}},
    {TrimEdgesTopBottom,
     kStrTrimTopBottom,
     "tb",
     TrimEdgesTopBottom,
     TrimEdgesTopBottom,
     2,
     {SideTop, SideBottom}},
    {TrimEdgesLeft, kStrTrimLeft, "l", TrimEdgesLeft, TrimEdgesLeft, 1, {SideLeft}},
    {TrimEdgesRight, kStrTrimRight, "r", TrimEdgesRight, TrimEdgesRight, 1, {SideRight}},
    {TrimEdgesTop, kStrTrimTop, "t", TrimEdgesTop, TrimEdgesTop, 1, {SideTop}},
    {TrimEdgesBottom, kStrTrimBottom, "b", TrimEdgesBottom, TrimEdgesBottom, 1, {SideBottom}},
    {TrimEdgesLeftTopBottom,
     kStrTrimLeftTopBottom,
     "ltb",
     TrimEdgesLeftTopBottom,
     TrimEdgesLeftTopBottom,
     3,
     {SideLeft, SideTop, SideBottom}},
    {TrimEdgesRightTopBottom,
     kStrTrimRightTopBottom,
     "rtb",
     TrimEdgesRightTopBottom,
     TrimEdgesRightTopBottom,
     3,
     {SideRight, SideTop, SideBottom}},
    {TrimEdgesLeftRightAlternate,
     kStrTrimLeftRightAlternate,
     "ltb+",
     TrimEdgesLeftTopBottom,
     TrimEdgesRightTopBottom,
     0,
     {}},
    {TrimEdgesRightLeftAlternate,
     kStrTrimRightLeftAlternate,
     "rtb+",
     TrimEdgesRightTopBottom,
     TrimEdgesLeftTopBottom,
     0,
     {}},
}};

// The characters a `/cut` letter set may contain.
inline constexpr std::string_view kTrimEdgesLetters = "ltrb+";

// The RotateEdge value whose keyword equals `keyword` exactly (case-sensitive).
// False, `value` untouched, for any other text (the empty text included).
bool RotateEdgeFromKeyword(std::string_view keyword, RotateEdge& value);

// Outcome of reading a `/cut` value; the checks run in the order listed.
enum class TrimEdgesParse {
    Ok,              // `value` is set
    Empty,           // empty text
    RepeatedLetter,  // a character occurs twice (compared as whole UTF-8 characters)
    UnknownLetter,   // a character outside kTrimEdgesLetters
    NoMatch,         // the letters form no keyword's set (e.g. "ltr", "ltrb+")
};

// Reads a `/cut` value: exactly "auto" gives TrimEdgesAuto; otherwise the
// text is a set of letters in any order, each at most once, matched against
// the letter sets of the keywords 1 to 15. "+" is one more member of the set,
// so its place does not matter: "btlr" -> 1, "tbl+" and "+btl" -> 14.
// `value` is written only on TrimEdgesParse::Ok.
TrimEdgesParse TrimEdgesFromLetters(std::string_view text, TrimEdges& value);

struct AutoTrimParams {
    // Bits of Flags. Other bits have no meaning and are kept as they are.
    static constexpr DWORD FlagOutputSize = 1;      // use Output when both sizes are > 0
    static constexpr DWORD FlagDeepCut = 2;         // rectangle inside the edge lines
    static constexpr DWORD FlagAdditionalTrim = 4;  // take Trim off the result

    DWORD EdgeType = RotateEdgeAuto;  // a RotateEdge value; outside 0..9 reads as auto
    // A TrimEdges value; outside 1..15 reads as auto. All four sides by
    // default: auto needs an empty image, and none is given by default.
    DWORD SpaceType = TrimEdgesAll;
    DWORD Flags = FlagDeepCut;
    SIZE Output{0, 0};  // fixed output width, height
    SIZE Trim{0, 0};    // pixels taken off the width (cx) and the height (cy) in total
    // Valid 0..MaxMedianCount (a stored value outside is never used).
    static constexpr LONG MaxMedianCount = 10;
    LONG MedianCount = 3;       // 3x3 median passes over the full-size image; <= 0: none
    LONG SmallMedianCount = 3;  // passes over the reduced image of the side choice; <= 0: none
    // Analysis constants, never stored, shown or changed by an option.
    LONG MaxSkewDegrees = 10;       // half-width of the searched angle range, degrees
    LONG AngleStepsPerDegree = 10;  // angular steps per degree of that search
    double AutoEdgeRatio = 3.0;     // side-choice threshold: second-lowest score x ratio
    double BorderBandRatio = kDefaultBorderBandRatio;  // band thickness / width, height

    // Thickness of the border band of a width x height image:
    // cx = max(1, trunc(width x BorderBandRatio)), cy likewise from height.
    // Never below 1 (also for sizes <= 0); capped at the largest LONG.
    SIZE BorderBand(LONG width, LONG height) const;

    // The sides to cut for the file at `position`, in cut order. 14 and 15
    // resolve to 12 or 13 by the position's parity first. Empty for auto (0)
    // and for any value outside 1..15: the sides are then chosen from the image.
    SideList TrimSides(std::int32_t position) const;

    // The sides whose edge lines straighten the file at `position`: none for
    // RotateEdgeNone, one side for 2..9 (by parity for 6..9), and a copy of
    // `cutSides` (the file's cut sides, in order) for auto and for any value
    // outside 0..9.
    SideList RotateSides(std::int32_t position, const SideList& cutSides) const;

    bool HasFlag(DWORD flag) const { return (Flags & flag) != 0; }
    // Sets or clears the given bits, leaving all others.
    void SetFlag(DWORD flag, bool on) { Flags = on ? (Flags | flag) : (Flags & ~flag); }
};

// True for the odd positions 1, 3, 5 ... (and -1, -3 ...).
constexpr bool IsOddPosition(std::int32_t position) {
    return (position & 1) != 0;
}
