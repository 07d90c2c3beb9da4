// Side: the four sides of an image, numbered as the trim engine and the
// edge-point extraction use them.
#pragma once

#include <cstdint>
#include <vector>

enum Side : std::int32_t {
    SideLeft = 0,
    SideTop = 1,
    SideRight = 2,
    SideBottom = 3,
};

using SideList = std::vector<Side>;
