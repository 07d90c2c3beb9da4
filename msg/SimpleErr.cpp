#include "msg/SimpleErr.h"

void CSimpleErr::Set(std::uint32_t newId) {
    Assign(newId, 0, newId == 0 ? std::string() : ResString(newId));
}
