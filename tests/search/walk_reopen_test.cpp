// The walk holds few directories open; those it closed on the way down are
// opened again on the way up, also when the tree was changed meanwhile.

#include <filesystem>

#include <gtest/gtest.h>

#include "recording_sink.h"
#include "temp_tree.h"
#include "walk.h"

namespace kestrel {
namespace {

// While the walk is in a/b/c/d/e, four levels below a budget of 4, c is moved
// away from under b (to the start directory, listed already): going back up, b can no longer be
// reached through c's
// "..", only by name from the start, and its other subdirectory comes next.
TEST(WalkReopenTest, DirectoryMovedAwayDuringTheWalk) {
    fixtures::TempTree tree;
    tree.Add("a/b/c/d/e/deep.txt", "x");
    tree.Add("a/b/b2/later.txt", "x");
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    WalkOptions options;
    options.recursive = true;
    options.descriptorBudget = 4;
    WalkHooks hooks;
    hooks.showCaption = [&](const std::string& caption) {
        if (caption.ends_with("/e"))
            std::filesystem::rename(tree.Root() / "a/b/c", tree.Root() / "moved");
    };
    DirectoryWalk walk(scanner, sink, options, hooks);
    EXPECT_FALSE(walk.WalkDirectory(tree.Root().string()));
    ASSERT_EQ(sink.lines.size(), 4u) << "two directory lines, each with its file";
    EXPECT_EQ(sink.lines[0], "[" + tree.RootWithSeparator() + "a/b/c/d/e/]");
    EXPECT_EQ(sink.lines[2], "[" + tree.RootWithSeparator() + "a/b/b2/]");
}

} // namespace
} // namespace kestrel
