#include <gtest/gtest.h>

#include "file_listing.h"

namespace kestrel {
namespace {

TEST(FileListingTest, StarDotStarMatchesNamesWithoutDot) {
    EXPECT_TRUE(MatchesPattern("README", "*.*"));
}

} // namespace
} // namespace kestrel
