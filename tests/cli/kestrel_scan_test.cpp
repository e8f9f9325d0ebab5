#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "temp_tree.h"

namespace kestrel {
namespace {

TEST(KestrelScanTest, HelpExitsZero) {
    EXPECT_EQ(std::system(KESTREL_SCAN_PATH " --help > /dev/null"), 0);
}

} // namespace
} // namespace kestrel
