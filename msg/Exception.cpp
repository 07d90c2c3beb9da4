#include "msg/Exception.h"

void ThrowInternalError(const std::string& text) {
    throw my::CException(58575, Formatted(58575, text));
}
