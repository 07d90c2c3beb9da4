// The decimal reader of numbers typed into the window's edits and combo
// boxes: an optional '+' or '-', one or more digits, then optionally a point
// with or without further digits. The fraction is dropped (12.7 reads 12,
// -3. reads -3). A value beyond the 32-bit range reads as its nearest bound.
#pragma once

#include <string>
#include <string_view>

#include "image/BitmapTypes.h"

namespace qv {

// The text with leading and trailing white space (carriage returns and line
// feeds included) removed.
std::string TrimControlText(std::string_view text);

// Reads `text` (already trimmed) by the rule above; an empty text reads 0.
// False, `value` untouched, for anything else.
bool ReadDecimal(std::string_view text, LONG& value);

}  // namespace qv
