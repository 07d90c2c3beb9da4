// Side: the four sides of an image, numbered as the image analyses (border
// bands, edge points) and the trim engine use them.
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
