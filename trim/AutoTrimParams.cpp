#include "trim/AutoTrimParams.h"

namespace {

// Bit i stands for kTrimEdgesLetters[i]; 0 when `text` holds another character.
unsigned LetterMask(std::string_view text) {
    unsigned mask = 0;
    for (char c : text) {
        const auto i = kTrimEdgesLetters.find(c);
        if (i == std::string_view::npos) {
            return 0;
        }
        mask |= 1u << i;
    }
    return mask;
}

// Length of the UTF-8 character starting at text[i]: the lead byte and its
// continuation bytes, so that two different non-ASCII characters sharing a
// lead byte are not taken for a repeated letter.
std::size_t CharLength(std::string_view text, std::size_t i) {
    std::size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) {
        ++n;
    }
    return n;
}

bool HasRepeatedChar(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
        const auto c = text.substr(i, CharLength(text, i));
        for (std::size_t j = i + c.size(); j < text.size(); j += CharLength(text, j)) {
            if (text.substr(j, CharLength(text, j)) == c) {
                return true;
            }
        }
    }
    return false;
}

// The lookups index the tables by value.
template <typename Table>
constexpr bool IndexedByValue(const Table& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].value != i) {
            return false;
        }
    }
    return true;
}
static_assert(IndexedByValue(kRotateEdgeTable));
static_assert(IndexedByValue(kTrimEdgesTable));

}  // namespace

bool RotateEdgeFromKeyword(std::string_view keyword, RotateEdge& value) {
    for (const auto& entry : kRotateEdgeTable) {
        if (entry.keyword == keyword) {
            value = entry.value;
            return true;
        }
    }
    return false;
}

TrimEdgesParse TrimEdgesFromLetters(std::string_view text, TrimEdges& value) {
    if (text.empty()) {
        return TrimEdgesParse::Empty;
    }
    if (text == kTrimEdgesTable[TrimEdgesAuto].keyword) {
        value = TrimEdgesAuto;
        return TrimEdgesParse::Ok;
    }
    if (HasRepeatedChar(text)) {
        return TrimEdgesParse::RepeatedLetter;
    }
    const unsigned mask = LetterMask(text);
    if (mask == 0) {
        return TrimEdgesParse::UnknownLetter;
    }
    for (const auto& entry : kTrimEdgesTable) {
        if (entry.value != TrimEdgesAuto && LetterMask(entry.keyword) == mask) {
            value = entry.value;
            return TrimEdgesParse::Ok;
        }
    }
    return TrimEdgesParse::NoMatch;
}

SIZE AutoTrimParams::BorderBand(LONG width, LONG height) const {
    return BorderBandOf(SIZE{width, height}, BorderBandRatio);
}

SideList AutoTrimParams::TrimSides(std::int32_t position) const {
    if (SpaceType == TrimEdgesAuto || SpaceType >= TrimEdgesCount) {
        return {};
    }
    const auto& chosen = kTrimEdgesTable[SpaceType];
    const auto& entry = kTrimEdgesTable[IsOddPosition(position) ? chosen.oddAs : chosen.evenAs];
    return SideList(entry.sides.begin(), entry.sides.begin() + entry.sideCount);
}

SideList AutoTrimParams::RotateSides(std::int32_t position, const SideList& cutSides) const {
    if (EdgeType >= RotateEdgeCount) {
        return cutSides;
    }
    const auto& entry = kRotateEdgeTable[EdgeType];
    switch (entry.source) {
        case RotateSource::None:
            return {};
        case RotateSource::Fixed:
            return {IsOddPosition(position) ? entry.oddSide : entry.evenSide};
        case RotateSource::CutSides:
            break;
    }
    return cutSides;
}
