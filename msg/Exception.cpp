#include "msg/Exception.h"

#include "msg/MessageIds.h"

void ThrowInternalError(const std::string& text) {
    throw my::CException(kMsgInternalError, Formatted(kMsgInternalError, text));
}
