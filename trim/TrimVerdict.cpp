#include "trim/TrimVerdict.h"

#include "msg/Format.h"
#include "msg/MessageIds.h"

namespace {

const char* Text(std::uint32_t id, Language language) {
    const char* text = FindString(id, language);
    return text != nullptr ? text : "";
}

}  // namespace

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
