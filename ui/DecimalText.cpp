#include "ui/DecimalText.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <limits>

namespace qv {

std::string TrimControlText(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kSpace);
    return std::string(text.substr(first, last - first + 1));
}

bool ReadDecimal(std::string_view text, LONG& value) {
    if (text.empty()) {
        value = 0;
        return true;
    }
    static const boost::regex kNumber(R"(^((?:\+?|-?)[0-9]+)(?:\.?|\.([0-9]+))$)");
    boost::match_results<std::string_view::const_iterator> match;
    if (!boost::regex_match(text.begin(), text.end(), match, kNumber)) {
        return false;
    }
    long long magnitude = 0;
    for (auto it = match[1].first; it != match[1].second; ++it) {
        if (*it >= '0' && *it <= '9') {
            // Held just beyond the range, so the bound below decides.
            magnitude = std::min(magnitude * 10 + (*it - '0'), 1LL << 32);
        }
    }
    const long long signedValue = *match[1].first == '-' ? -magnitude : magnitude;
    value = static_cast<LONG>(std::clamp<long long>(signedValue, std::numeric_limits<LONG>::min(),
                                                    std::numeric_limits<LONG>::max()));
    return true;
}

}  // namespace qv
