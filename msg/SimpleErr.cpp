#include "msg/SimpleErr.h"

#include "msg/SystemErrorText.h"

void CSimpleErr::Set(std::uint32_t newId) {
    Assign(newId, 0, newId == 0 ? std::string() : ResString(newId));
}

void CSimpleErr::SetWithCode(std::uint32_t newId, std::uint32_t newCode) {
    std::string text;
    Format(text, newId, SystemErrorText(newCode));
    Assign(newId, newCode, std::move(text));
}
