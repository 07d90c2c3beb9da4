#include "trim/TrimVerdict.h"

#include "msg/Format.h"
#include "msg/MessageIds.h"

namespace {

const char* Text(std::uint32_t id, Language language) {
    const char* text = FindString(id, language);
    return text != nullptr ? text : "";
}

std::uint32_t RuleReason(LineRule rule) {
    switch (rule) {
        case LineRule::TooFewPoints:
            return kMsgReasonEdgeTooFewPoints;
        case LineRule::InsidePage:
            return kMsgReasonEdgeInsidePage;
        case LineRule::CutsPageAway:
            return kMsgReasonEdgeCutsPageAway;
        case LineRule::CrossesOpposite:
            return kMsgReasonEdgeCrossesOpposite;
        case LineRule::None:
            break;
    }
    return kMsgReasonEdgeNotFound;
}

}  // namespace

void ExplainVerdict(TrimVerdict& verdict) {
    std::vector<VerdictReason>& reasons = verdict.reasons;
    reasons.clear();
    for (const Side side : {SideLeft, SideTop, SideRight, SideBottom}) {
        const SideVerdict& s = verdict.sides[side];
        if (s.fate == SideFate::Refused || s.fate == SideFate::AtBorder) {
            verdict.flags |= VerdictCutSideAtBorder;
        }
        if (s.pageAtBorder) {
            verdict.flags |= VerdictPageAtBorder;
            reasons.push_back({kMsgReasonPageAtBorder, side});
        }
    }
    if ((verdict.flags & VerdictNothingCut) != 0) {
        reasons.push_back({kMsgReasonNothingCut, SideLeft});
    }
    if ((verdict.flags & VerdictNotStraightened) != 0) {
        reasons.push_back({kMsgReasonNotStraightened, SideLeft});
    }
    if ((verdict.flags & VerdictRotationEdgeRefused) != 0) {
        reasons.push_back({kMsgReasonRotationEdgeRefused, verdict.rotationEdge});
    }
    for (const Side side : {SideLeft, SideTop, SideRight, SideBottom}) {
        const SideVerdict& s = verdict.sides[side];
        if ((s.fate == SideFate::Refused || s.fate == SideFate::AtBorder) && !s.pageAtBorder) {
            reasons.push_back(
                {s.fate == SideFate::Refused ? RuleReason(s.rule) : kMsgReasonEdgeNotFound, side});
        }
    }
    if ((verdict.flags & VerdictOutputSizeBeyondScan) != 0) {
        reasons.push_back({kMsgReasonOutputSizeBeyondScan, SideLeft});
    }
    if ((verdict.flags & VerdictTrimRemovesPage) != 0) {
        reasons.push_back({kMsgReasonTrimRemovesPage, SideLeft});
    }
}

std::vector<std::string> VerdictReasonTexts(const TrimVerdict& verdict, Language language) {
    static constexpr std::uint32_t kSideNames[] = {kStrSideLeft, kStrSideTop, kStrSideRight,
                                                   kStrSideBottom};
    std::vector<std::string> texts;
    texts.reserve(verdict.reasons.size());
    for (const VerdictReason& reason : verdict.reasons) {
        const int side = reason.side >= SideLeft && reason.side <= SideBottom ? reason.side : 0;
        std::string text;
        FormatText(text, Text(reason.id, language), Text(kSideNames[side], language));
        texts.push_back(std::move(text));
    }
    return texts;
}
