#include <sys/stat.h>

#include <gtest/gtest.h>

#include "file_listing.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using Names = std::vector<std::string>;

TEST(SearchSpecTest, PatternsAreTrimmedEmptyOnesSkippedSlashRefused) {
    EXPECT_EQ(ParseSearchSpec(" *.nlm ; ;*.lan;"), (Names{"*.nlm", "*.lan"}));
    EXPECT_EQ(ParseSearchSpec(" ; "), Names{});
    EXPECT_EQ(ParseSearchSpec(""), Names{});
    EXPECT_FALSE(ParseSearchSpec("*.nlm;sub/*.exe").has_value());
    EXPECT_TRUE(MatchesAnyPattern("anything", Names{})) << "no pattern left matches every name";
}

struct MatchCase {
    const char* name;
    const char* pattern;
    bool matches;
};

class PatternTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(PatternTest, Matches) {
    EXPECT_EQ(MatchesPattern(GetParam().name, GetParam().pattern), GetParam().matches)
        << GetParam().name << " against " << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, PatternTest,
    ::testing::Values(MatchCase{"SERVER.NLM", "*.nlm", true},
                      MatchCase{"server.nlm", "*.NLM", true},
                      MatchCase{"server.nlm.bak", "*.nlm", false}, MatchCase{"README", "*.*", true},
                      MatchCase{"README", "*", true}, MatchCase{".hidden", "*.*", true},
                      MatchCase{"README", "READ*.*", true},
                      MatchCase{"README.TXT", "READ*.*", true}, MatchCase{"README", "*.txt", false},
                      MatchCase{"A.EXE", "?.exe", true}, MatchCase{"AB.EXE", "?.exe", false},
                      MatchCase{"\xC3\xA9.exe", "?.exe", true},
                      MatchCase{"\xC3\x89T\xC3\x89.TXT", "\xC3\xA9t\xC3\xA9.txt", false},
                      MatchCase{"aaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*c", false},
                      MatchCase{"x.386", "*.386", true}));

TEST(ListingOrderTest, LettersFoldOtherBytesUnsignedTiesByteWise) {
    Names names = {"b.txt", "A.txt", "a.txt", "_x", "\xC3\xA9", "Zed", "a", "10", "9"};
    std::sort(names.begin(), names.end(), ListingOrderLess);
    EXPECT_EQ(names, (Names{"10", "9", "_x", "a", "A.txt", "a.txt", "b.txt", "Zed", "\xC3\xA9"}));
}

class DirectoryListingTest : public ::testing::Test {
protected:
    fixtures::TempTree tree;
};

TEST_F(DirectoryListingTest, RegularFilesAndLinksToThemHiddenIncluded) {
    tree.Add("b.nlm", "x");
    tree.Add("A.NLM", "x");
    tree.Add(".hidden.nlm", "x");
    tree.Add("notes.txt", "x");
    tree.AddDirectory("dir.nlm");
    std::filesystem::create_symlink("b.nlm", tree.Root() / "link.nlm");
    std::filesystem::create_symlink("missing", tree.Root() / "dangling.nlm");
    ASSERT_EQ(::mkfifo((tree.Root() / "pipe.nlm").c_str(), 0644), 0);
    EXPECT_EQ(ListMatchingFiles(tree.Root().string(), {"*.nlm"}),
              (Names{".hidden.nlm", "A.NLM", "b.nlm", "link.nlm"}));
    EXPECT_EQ(ListMatchingFiles(tree.Root().string(), {"*.txt", "a*"}),
              (Names{"A.NLM", "notes.txt"}));
    EXPECT_EQ(ListMatchingFiles((tree.Root() / "missing").string(), {}), Names{});
}

TEST_F(DirectoryListingTest, SubdirectoriesLeaveLinksOutUnlessAskedFor) {
    tree.AddDirectory("beta");
    tree.AddDirectory("Alpha");
    tree.Add("file", "x");
    std::filesystem::create_directory_symlink(tree.Root() / "beta", tree.Root() / "gamma");
    EXPECT_EQ(ListSubdirectories(tree.Root().string()), (Names{"Alpha", "beta"}));
    EXPECT_EQ(ListSubdirectories(tree.Root().string(), true), (Names{"Alpha", "beta", "gamma"}));
}

} // namespace
} // namespace kestrel
