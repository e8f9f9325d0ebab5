#include <gtest/gtest.h>

#include "recording_sink.h"
#include "temp_tree.h"
#include "walk.h"

namespace kestrel {
namespace {

using Lines = std::vector<std::string>;

// A walk over a temporary tree whose hooks record what a front end would see.
class WalkTest : public ::testing::Test {
protected:
    void SetUp() override { scanner.Layout.brief = true; }

    bool Walk(bool recursive, const std::vector<std::string>& patterns = {}) {
        DirectoryWalk walk(scanner, sink, patterns, recursive, Hooks());
        return walk.WalkDirectory(tree.Root().string());
    }
    WalkHooks Hooks() {
        WalkHooks hooks;
        hooks.showCaption = [this](const std::string& caption) { captions.push_back(caption); };
        hooks.fileScanned = [this] { ++scanned; };
        hooks.yield = [this] { ++yields; };
        hooks.cancelled = [this] { return cancelAfter >= 0 && scanned >= cancelAfter; };
        return hooks;
    }
    // The list without the brief lines' "Unknown." and date: directory lines and names.
    Lines Names() const {
        Lines names;
        for (const std::string& line : sink.lines)
            names.push_back(line.substr(0, line.find(' ')));
        return names;
    }
    std::string Root() const { return tree.Root().string(); }

    fixtures::TempTree tree;
    testing::RecordingSink sink;
    QuillScan scanner{sink};
    Lines captions;
    int scanned = 0;
    int yields = 0;
    int cancelAfter = -1;
};

TEST_F(WalkTest, FilesFirstThenSubdirectoriesLastToFirstDepthFirst) {
    tree.Add("b.txt", "x");
    tree.Add("a.txt", "x");
    tree.Add("A/one.txt", "x");
    tree.Add("A/Deep/two.txt", "x");
    tree.Add("C/three.txt", "x");
    tree.AddDirectory("B");
    EXPECT_FALSE(Walk(true));
    const std::string root = Root();
    EXPECT_EQ(Names(),
              (Lines{"[" + root + "/]", "a.txt", "b.txt", "[" + root + "/C/]", "three.txt",
                     "[" + root + "/A/]", "one.txt", "[" + root + "/A/Deep/]", "two.txt"}));
    EXPECT_EQ(captions, (Lines{"   2 files in " + root, "   1 files in " + root + "/C",
                               "   0 files in " + root + "/B", "   1 files in " + root + "/A",
                               "   1 files in " + root + "/A/Deep"}));
    EXPECT_EQ(scanned, 5);
    EXPECT_EQ(yields, 5 + 5) << "one per file and one per directory";
}

TEST_F(WalkTest, WithoutSubdirectoriesOnlyTheStartDirectory) {
    tree.Add("x.nlm", "x");
    tree.Add("y.txt", "x");
    tree.Add("sub/z.nlm", "x");
    EXPECT_FALSE(Walk(false, {"*.nlm"}));
    EXPECT_EQ(Names(), (Lines{"[" + Root() + "/]", "x.nlm"}));
}

TEST_F(WalkTest, DirectoryWithoutMatchesAddsNoLineButShowsItsCaption) {
    tree.Add("y.txt", "x");
    EXPECT_FALSE(Walk(true, {"*.nlm"}));
    EXPECT_TRUE(sink.lines.empty());
    EXPECT_EQ(captions, Lines{"   0 files in " + Root()});
}

TEST_F(WalkTest, CancelTakesEffectAfterTheCurrentFile) {
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"})
        tree.Add(name, "x");
    tree.Add("sub/6.txt", "x");
    cancelAfter = 3;
    EXPECT_TRUE(Walk(true));
    EXPECT_EQ(Names(), (Lines{"[" + Root() + "/]", "1.txt", "2.txt", "3.txt"}));
    EXPECT_EQ(scanned, 3);
}

TEST_F(WalkTest, CancelInASubdirectoryStopsEveryLevel) {
    tree.Add("a/1.txt", "x");
    tree.Add("b/1.txt", "x");
    tree.Add("b/2.txt", "x");
    cancelAfter = 1;
    EXPECT_TRUE(Walk(true));
    EXPECT_EQ(Names(), (Lines{"[" + Root() + "/b/]", "1.txt"}));
}

TEST_F(WalkTest, LinkedAndRepeatedDirectoriesAreNotEnteredAgain) {
    tree.Add("real/file.txt", "x");
    std::filesystem::create_directory_symlink(tree.Root(), tree.Root() / "real" / "loop");
    std::filesystem::create_directory_symlink(tree.Root() / "real", tree.Root() / "alias");
    DirectoryWalk walk(scanner, sink, {}, true, Hooks());
    EXPECT_FALSE(walk.WalkDirectory(Root()));
    EXPECT_FALSE(walk.WalkDirectory(Root() + "/real")) << "met a second time: passed over";
    EXPECT_EQ(Names(), (Lines{"[" + Root() + "/real/]", "file.txt"}));
}

TEST_F(WalkTest, SelectedFilesShareOneDirectoryLine) {
    tree.Add("a.txt", "x");
    tree.Add("c.txt", "x");
    DirectoryWalk walk(scanner, sink, {"*.nlm"}, true, Hooks());
    EXPECT_FALSE(walk.ScanSelectedFiles(Root(), {"c.txt", "a.txt", "gone.txt"}));
    EXPECT_EQ(Names(), (Lines{"[" + Root() + "/]", "c.txt", "a.txt"}));
    EXPECT_EQ(captions, Lines{"   3 files in " + Root() + "/"});
    EXPECT_EQ(scanned, 3) << "a file that cannot be opened is counted all the same";
}

TEST(WalkPathTest, SeparatorAndNormalForm) {
    EXPECT_EQ(DirectoryWithSeparator("/"), "/");
    EXPECT_EQ(DirectoryWithSeparator("/data"), "/data/");
    EXPECT_EQ(NormalDirectoryPath("/data/./x/../y//"), "/data/y");
    EXPECT_EQ(NormalDirectoryPath("/"), "/");
    EXPECT_EQ(NormalDirectoryPath("/.."), "/");
}

TEST(WalkCaptionTest, CountKeepsItsLastFourDigitsAndLongTextsAreShortened) {
    EXPECT_EQ(FileCountCaption(12345, "/data"), "2345 files in /data");
    EXPECT_EQ(FileCountCaption(3, "/data/"), "   3 files in /data/");
    const std::string text = std::string(24, 'a') + std::string(21, 'b') + std::string(30, 'c');
    EXPECT_EQ(ShortenCaption(text, 60), std::string(24, 'a') + "......" + std::string(30, 'c'));
    EXPECT_EQ(ShortenCaption(std::string(60, 'x'), 60), std::string(60, 'x'));
    std::string accented;
    for (int i = 0; i < 70; ++i)
        accented += "\xC3\xA9";
    const std::string shortened = ShortenCaption(accented, 60);
    EXPECT_EQ(shortened.size(), 2 * 54 + 6u) << "counted in characters, never split";
}

} // namespace
} // namespace kestrel
