#include <gtest/gtest.h>

#include "walk.h"

namespace kestrel {
namespace {

TEST(WalkTest, CaptionShowsLastFourDigitsOfCount) {
    EXPECT_EQ(FileCountCaption(12345, "/data"), "2345 files in /data");
}

} // namespace
} // namespace kestrel
