#include "trim/PageEdges.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/TestImages.h"

namespace {

// A 1200 × 800 grey picture (32-bit) whose column x has grey level
// level(x, y); the page starts at x = 100 (so R = 40).
DibPtr Columns(const std::function<int(LONG, LONG)>& level) {
    return PaintedImage(1200, 800, 32, [&level](LONG x, LONG y) {
        const std::uint32_t v = static_cast<std::uint32_t>(level(x, y));
        return v | v << 8 | v << 16 | 0xFF000000u;
    });
}

// The left line found at `at` moves to the page's own edge at 100: past a
// drop shadow, past a book's cover and the page block's edges; not on a
// light lid without a shadow (nothing darker than the page lies before it),
// nor where the dark band in front of the page is of no steady width.
TEST(FindPageEdges, TheLineMovesToThePagesOwnEdge) {
    const struct {
        const char* name;
        double at;
        std::function<int(LONG, LONG)> level;
        double expected;
    } cases[] = {
        {"drop shadow", 92, [](LONG x, LONG) { return x < 92    ? 220
                                                      : x < 100 ? 160
                                                                : 240; }, 100},
        {"cover and page block", 70,
         [](LONG x, LONG) { return x < 70    ? 220
                                   : x < 90  ? 30
                                   : x < 100 ? 170
                                             : 240; }, 100},
        {"light lid", 100, [](LONG x, LONG) { return x < 100 ? 230 : 240; }, 100},
        {"band of no steady width", 80,
         [](LONG x, LONG y) { return x < 80                 ? 220
                                     : x < 86 + (y % 3) * 6 ? 150
                                                            : 240; }, 80},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DibPtr source = Columns(c.level);
        ManuscriptLines lines;
        for (const Side side : {SideLeft, SideTop, SideRight, SideBottom}) {
            lines[side] = BorderEdgeLine(*source, side);
            lines[side].votes = 0;
        }
        lines[SideLeft].intercept = c.at;
        lines[SideLeft].votes = 500;
        FindPageEdges(lines, CutFlags{true, true, true, true}, *source, 0.0);
        EXPECT_EQ(lines[SideLeft].intercept, c.expected);
        EXPECT_EQ(lines[SideTop].intercept, -1.0);
    }
}

}  // namespace
