#include <sys/stat.h>

#include <gtest/gtest.h>

#include "file_listing.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using Names = std::vector<std::string>;
using testing::Row;

TEST(SearchSpec, PatternsAreTrimmedEmptyOnesSkippedSlashRefused) {
    EXPECT_EQ(ParseSearchSpec(" *.nlm ; ;*.lan;"), (Names{"*.nlm", "*.lan"}));
    EXPECT_EQ(ParseSearchSpec(" ; "), Names{});
    EXPECT_FALSE(ParseSearchSpec("*.nlm;sub/*.exe").has_value());
    EXPECT_TRUE(MatchesAnyPattern("anything", Names{})) << "no pattern left matches every name";
}

// A name, a pattern, and "yes" or "no".
class Wildcard : public ::testing::TestWithParam<Row> {};

TEST_P(Wildcard, Matches) {
    const std::string text = GetParam().description;
    const std::size_t space = text.find(' ');
    EXPECT_EQ(MatchesPattern(text.substr(0, space), text.substr(space + 1)) ? "yes" : "no",
              std::string(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Wildcard,
    ::testing::Values(Row{"StarDot", "SERVER.NLM *.nlm", "yes"},
                      Row{"LettersFolded", "server.nlm *.NLM", "yes"},
                      Row{"StarDotWholeExtension", "server.nlm.bak *.nlm", "no"},
                      Row{"StarDotStarWithoutDot", "README *.*", "yes"},
                      Row{"DotFile", ".hidden *.*", "yes"},
                      Row{"DotStarMatchesNoExtension", "README READ*.*", "yes"},
                      Row{"ExtensionNeeded", "README *.txt", "no"},
                      Row{"QuestionMarkOneCharacter", "A.EXE ?.exe", "yes"},
                      Row{"QuestionMarkNotTwo", "AB.EXE ?.exe", "no"},
                      Row{"QuestionMarkOneUtf8Character", "\xC3\xA9.exe ?.exe", "yes"},
                      Row{"NonAsciiLettersNotFolded", "\xC3\x89T\xC3\x89 \xC3\xA9t\xC3\xA9", "no"},
                      Row{"ManyStarsNoMatch", "aaaaaaaaaaaaaaaaaaaaaab *a*a*a*a*a*c", "no"}),
    testing::RowName());

TEST(ListingOrder, LettersFoldedOtherBytesUnsignedTiesByteWise) {
    Names names = {"b.txt", "A.txt", "a.txt", "_x", "\xC3\xA9", "Zed", "a", "10", "9"};
    std::sort(names.begin(), names.end(), ListingOrderLess);
    EXPECT_EQ(names, (Names{"10", "9", "_x", "a", "A.txt", "a.txt", "b.txt", "Zed", "\xC3\xA9"}));
}

TEST(DirectoryListing, RegularFilesAndLinksToThemAndSubdirectoriesWithoutLinks) {
    fixtures::TempTree tree;
    for (const char* name : {"b.nlm", "A.NLM", ".hidden.nlm", "notes.txt", "beta/x", "Alpha/x"})
        tree.Add(name, "x");
    tree.AddDirectory("dir.nlm");
    std::filesystem::create_symlink("b.nlm", tree.Root() / "link.nlm");
    std::filesystem::create_symlink("missing", tree.Root() / "dangling.nlm");
    std::filesystem::create_directory_symlink(tree.Root() / "beta", tree.Root() / "gamma");
    ASSERT_EQ(::mkfifo((tree.Root() / "pipe.nlm").c_str(), 0644), 0);
    const std::string root = tree.Root().string();
    EXPECT_EQ(ListMatchingFiles(root, {"*.nlm"}),
              (Names{".hidden.nlm", "A.NLM", "b.nlm", "link.nlm"}));
    EXPECT_EQ(ListMatchingFiles(root, {"*.txt", "a*"}), (Names{"A.NLM", "notes.txt"}));
    EXPECT_EQ(ListMatchingFiles(root + "/missing", {}), Names{});
    EXPECT_EQ(ListSubdirectories(root), (Names{"Alpha", "beta", "dir.nlm"}));
    EXPECT_EQ(ListSubdirectories(root, true), (Names{"Alpha", "beta", "dir.nlm", "gamma"}));
}

} // namespace
} // namespace kestrel
