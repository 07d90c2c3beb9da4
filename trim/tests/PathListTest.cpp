#include "trim/PathList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Paths across the 1 MiB blocks, one longer than a block, one with a NUL
// (cut there) and an empty one read back in order, also from a copy.
TEST(PathList, HoldsEveryPathAcrossBlocks) {
    std::vector<std::string> paths;
    for (int i = 0; i < 40000; ++i) {
        paths.push_back("/scans/volume-" + std::to_string(i % 7) + "/page-" + std::to_string(i) +
                        ".png");
        if (i == 20000) {
            paths.push_back(std::string(3u << 20, 'x'));
            paths.push_back("");
        }
    }
    CPathList list(paths);
    list.Add(std::string("/a\0b", 4));
    paths.push_back("/a");
    const CPathList copy = list;
    EXPECT_EQ(list.ToVector(), paths);
    EXPECT_EQ(copy.ToVector(), paths);
}
