#include "trim/TrimVerdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

SideVerdict SideOf(SideFate fate, LineRule rule = LineRule::None, bool pageAtBorder = false) {
    SideVerdict side;
    side.fate = fate;
    side.rule = rule;
    side.pageAtBorder = pageAtBorder;
    return side;
}

TEST(TrimVerdict, ReasonsComeMostImportantFirstInBothLanguages) {
    TrimVerdict ok;
    ok.sides = {SideOf(SideFate::Cut), SideOf(SideFate::Cut), SideOf(SideFate::Cut),
                SideOf(SideFate::NotCut)};
    ExplainVerdict(ok);
    EXPECT_FALSE(ok.NeedsReview());
    EXPECT_EQ(ok.flags, 0u);

    TrimVerdict v;
    v.sides = {SideOf(SideFate::Refused, LineRule::InsidePage), SideOf(SideFate::AtBorder),
               SideOf(SideFate::Cut, LineRule::None, true),
               SideOf(SideFate::AtBorder, LineRule::None, true)};
    v.fixedRotationEdge = true;
    v.rotationEdge = SideTop;
    v.flags = VerdictNotStraightened | VerdictRotationEdgeRefused | VerdictTrimRemovesPage;
    ExplainVerdict(v);
    EXPECT_TRUE(v.NeedsReview());
    EXPECT_EQ(v.flags, VerdictNotStraightened | VerdictRotationEdgeRefused |
                           VerdictTrimRemovesPage | VerdictCutSideAtBorder | VerdictPageAtBorder);
    // A side the page runs off is named once, for that.
    const std::vector<std::string> english{
        "page runs off the right border of the scan",
        "page runs off the bottom border of the scan",
        "page not straightened although its edges are skewed",
        "top edge, chosen to straighten the page, not found reliably",
        "left edge found inside the page: kept to the image border",
        "top edge not found: kept to the image border",
        "additional trimming would remove the whole page: not applied"};
    EXPECT_EQ(VerdictReasonTexts(v, Language::English), english);
    const std::vector<std::string> japanese = VerdictReasonTexts(v, Language::Japanese);
    ASSERT_EQ(japanese.size(), english.size());
    EXPECT_EQ(japanese[0], "原稿がスキャン画像の右端からはみ出しています");
    EXPECT_EQ(japanese[5], "上端が見つかりません: 画像の端までを残しました");
}

}  // namespace
