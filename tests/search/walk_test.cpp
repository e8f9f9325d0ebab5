#include <gtest/gtest.h>

#include "recording_sink.h"
#include "temp_tree.h"
#include "walk.h"

namespace kestrel {
namespace {

using Lines = std::vector<std::string>;

// A walk over a temporary tree whose hooks record what a front end sees.
class Walk : public ::testing::Test {
protected:
    DirectoryWalk Make(bool recursive, const std::vector<std::string>& patterns = {}) {
        WalkHooks hooks;
        hooks.showCaption = [this](const std::string& caption) { captions.push_back(caption); };
        hooks.fileScanned = [this] { ++scanned; };
        hooks.yield = [this] { ++yields; };
        hooks.cancelled = [this] { return cancelAfter >= 0 && scanned >= cancelAfter; };
        return DirectoryWalk(scanner, sink, patterns, recursive, hooks);
    }
    // Directory lines with the root as "~", and the names of the brief lines.
    Lines Outline() const {
        Lines names;
        for (const std::string& line : sink.lines)
            names.push_back(line.starts_with('[') ? "[~" + line.substr(root.size() + 1)
                                                  : line.substr(0, line.find(' ')));
        return names;
    }

    fixtures::TempTree tree;
    const std::string root = tree.Root().string();
    testing::RecordingSink sink;
    QuillScan scanner{sink, {.brief = true}};
    Lines captions;
    int scanned = 0;
    int yields = 0;
    int cancelAfter = -1;
};

TEST_F(Walk, FilesFirstThenSubdirectoriesLastToFirstDepthFirst) {
    for (const char* name : {"b.txt", "a.txt", "A/one.txt", "A/Deep/two.txt", "C/three.txt"})
        tree.Add(name, "x");
    tree.AddDirectory("B");
    EXPECT_FALSE(Make(true).WalkDirectory(root));
    EXPECT_EQ(Outline(), (Lines{"[~/]", "a.txt", "b.txt", "[~/C/]", "three.txt", "[~/A/]",
                                "one.txt", "[~/A/Deep/]", "two.txt"}));
    EXPECT_EQ(captions, (Lines{"   2 files in " + root, "   1 files in " + root + "/C",
                               "   0 files in " + root + "/B", "   1 files in " + root + "/A",
                               "   1 files in " + root + "/A/Deep"}));
    EXPECT_EQ(yields, 5 + 5) << "one per file and one per directory";
}

TEST_F(Walk, WithoutSubdirectoriesTheMatchingFilesOfTheStartOnly) {
    for (const char* name : {"x.nlm", "y.txt", "sub/z.nlm"})
        tree.Add(name, "x");
    EXPECT_FALSE(Make(false, {"*.nlm"}).WalkDirectory(root));
    EXPECT_EQ(Outline(), (Lines{"[~/]", "x.nlm"}));
}

TEST_F(Walk, CancelTakesEffectAfterTheCurrentFileAtEveryLevel) {
    for (const char* name : {"1.txt", "2.txt", "3.txt", "a/4.txt", "b/5.txt", "b/6.txt"})
        tree.Add(name, "x");
    cancelAfter = 2;
    EXPECT_TRUE(Make(true).WalkDirectory(root));
    EXPECT_EQ(Outline(), (Lines{"[~/]", "1.txt", "2.txt"}));
    sink.lines.clear();
    scanned = 0;
    cancelAfter = 4;
    EXPECT_TRUE(Make(true).WalkDirectory(root));
    EXPECT_EQ(scanned, 4);
    EXPECT_EQ(Outline().back(), "5.txt") << "stopped inside b, before a";
}

TEST_F(Walk, LinkedAndRepeatedDirectoriesAreNotEnteredAgain) {
    tree.Add("real/file.txt", "x");
    std::filesystem::create_directory_symlink(tree.Root(), tree.Root() / "real" / "loop");
    std::filesystem::create_directory_symlink(tree.Root() / "real", tree.Root() / "alias");
    DirectoryWalk walk = Make(true);
    EXPECT_FALSE(walk.WalkDirectory(root));
    EXPECT_FALSE(walk.WalkDirectory(root + "/real")) << "met a second time: passed over";
    EXPECT_EQ(Outline(), (Lines{"[~/real/]", "file.txt"}));
}

// The walk holds few directories open and opens those it closed again on the
// way up. While it is in a/b/c/d/e, four levels below a budget of 4, c is
// moved away from under b (to the start directory, listed already): b can no
// longer be reached through c's "..", only by name from the start, and its
// other subdirectory comes next.
TEST_F(Walk, DirectoryMovedAwayDuringTheWalkIsReopenedByName) {
    tree.Add("a/b/c/d/e/deep.txt", "x");
    tree.Add("a/b/b2/later.txt", "x");
    WalkHooks hooks;
    hooks.showCaption = [&](const std::string& caption) {
        if (caption.ends_with("/e"))
            std::filesystem::rename(tree.Root() / "a/b/c", tree.Root() / "moved");
    };
    DirectoryWalk walk(scanner, sink,
                       {.patterns = {}, .recursive = true, .excludes = {}, .descriptorBudget = 4},
                       hooks);
    EXPECT_FALSE(walk.WalkDirectory(root));
    EXPECT_EQ(Outline(), (Lines{"[~/a/b/c/d/e/]", "deep.txt", "[~/a/b/b2/]", "later.txt"}));
}

TEST(WalkText, PathsAndCaptions) {
    EXPECT_EQ(NormalDirectoryPath("/data/./x/../y//"), "/data/y");
    EXPECT_EQ(NormalDirectoryPath("/.."), "/");
    EXPECT_EQ(FileCountCaption(12345, "/data"), "2345 files in /data");
    const std::string text = std::string(24, 'a') + std::string(21, 'b') + std::string(30, 'c');
    EXPECT_EQ(ShortenCaption(text, 60), std::string(24, 'a') + "......" + std::string(30, 'c'));
    EXPECT_EQ(ShortenCaption(std::string(60, 'x'), 60), std::string(60, 'x'));
    std::string accented;
    for (int i = 0; i < 70; ++i)
        accented += "\xC3\xA9";
    EXPECT_EQ(ShortenCaption(accented, 60).size(), 2 * 54 + 6u) << "characters, never split";
}

} // namespace
} // namespace kestrel
