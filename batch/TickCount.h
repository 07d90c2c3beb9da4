// GetTickCount32: milliseconds of a monotonic clock, truncated to 32 bits.
//
// The origin is arbitrary and the value wraps after about 49.7 days; take
// differences as unsigned 32-bit values (`now - start`), which stay right
// across one wrap.
#pragma once

#include <chrono>
#include <cstdint>

inline std::uint32_t GetTickCount32() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
