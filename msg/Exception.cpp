#include "msg/Exception.h"

void ThrowInternalError(const std::string& text) {
    throw my::CException(58575, Formatted(58575, text));
}

void ThrowCastError(const std::string& from, const std::string& to, const std::string& value) {
    throw my::CException(58580, Formatted(58580, from, to, value));
}
