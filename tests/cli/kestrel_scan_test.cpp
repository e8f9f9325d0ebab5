// kestrel-scan run as a script runs it: its exit status, standard error and,
// for file PATHs, its directory lines. What it prints for a tree is the
// golden-output test's.

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "recording_sink.h"
#include "sample_builder.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using testing::Row;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The command line with "~" for the tree's root, run through the shell with
// a time limit so that a scan that blocks fails instead of hanging.
Outcome RunScan(const fixtures::TempTree& tree, std::string arguments) {
    for (std::size_t at; (at = arguments.find('~')) != std::string::npos;)
        arguments.replace(at, 1, tree.Root().string());
    const auto out = tree.Root() / "out.txt";
    const auto err = tree.Root() / "err.txt";
    const int status = std::system(("timeout 60 " KESTREL_SCAN_PATH " " + arguments + " >" +
                                    out.string() + " 2>" + err.string())
                                       .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
}

// Arguments, and the exit status followed by what standard error must hold.
class ExitStatus : public ::testing::TestWithParam<Row> {};

TEST_P(ExitStatus, AndMessage) {
    fixtures::TempTree tree;
    tree.Add("A.TXT", "x");
    tree.Add("BAD.ZIP", "PK\x03\x04 and no more");
    ASSERT_EQ(::mkfifo((tree.Root() / "PIPE").c_str(), 0644), 0);
    const Outcome run = RunScan(tree, GetParam().description);
    const std::string expected = GetParam().expected;
    EXPECT_EQ(std::to_string(run.status), expected.substr(0, expected.find(' ')));
    if (expected.find(' ') != std::string::npos) {
        EXPECT_NE(run.err.find(expected.substr(expected.find(' ') + 1)), std::string::npos)
            << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ExitStatus,
    ::testing::Values(Row{"Done", "~ ~/A.TXT", "0"}, Row{"Help", "--help", "0"},
                      Row{"MissingPath", "~/GONE ~", "1 kestrel-scan: "},
                      Row{"NotARegularFile", "~/PIPE", "1 not a regular file"},
                      Row{"PatternWithASlash", "-s 'SUB/*' ~", "2 kestrel-scan: "},
                      Row{"UnknownOption", "--no-such-option ~", "2"}, Row{"NoPath", "", "2"},
                      Row{"CsvWithJson", "--csv --json ~", "2 --csv"},
                      Row{"CsvWithALayout", "--csv --hide-imports ~", "2 --csv"},
                      Row{"HashWithoutJsonOrCsv", "--hash md5 ~", "2 --hash"},
                      Row{"UnknownHash", "--json --hash sha512 ~", "2 sha512"},
                      Row{"MaxExpandNotASize", "-z --max-expand 4T ~", "2 --max-expand"},
                      Row{"DamagedContainer", "-z ~", "1 BAD.ZIP: Truncated ZIP"}),
    testing::RowName());

TEST(FilePaths, ConsecutiveFilesOfADirectoryShareItsLine) {
    fixtures::TempTree tree;
    for (const char* name : {"A.TXT", "B.TXT", "SUB/C.TXT"})
        tree.Add(name, "x");
    const Outcome run = RunScan(tree, "--brief ~/B.TXT ~/GONE ~/A.TXT ~/SUB/C.TXT ~/A.TXT");
    std::string outline;
    for (std::size_t at = 0; at < run.out.size(); at = run.out.find('\n', at) + 1)
        outline += run.out.substr(at, run.out.find_first_of(" \n", at) - at) + ";";
    const std::string root = tree.Root().string();
    EXPECT_EQ(outline,
              "[" + root + "/];B.TXT;A.TXT;[" + root + "/SUB/];C.TXT;[" + root + "/];A.TXT;");
}

// With -z the patterns select the reports, on disk and inside: a directory
// whose files give none gets no line, and a file after a container's members
// gets its directory's line again, whether the container was reported or
// not. -j 2 writes the same; JSON names the container on disk.
TEST(LookInside, PatternsSelectTheReportsAndTheirLines) {
    fixtures::TempTree tree;
    for (const char* name : {"A/NOTES.TXT", "A/ZZ.NLM", "B/Z.NLM"})
        tree.Add(name, "x");
    for (const auto& [zip, member] : {std::pair{"A/KIT.DAT", "SUB/X.NLM"}, {"B/A.NLM", "Y.NLM"}})
        tree.Add(zip, fixtures::BuildSample(
                          {{"format", "zip"}, {"members", {fixtures::Json{{"path", member}}}}}));
    const Outcome run = RunScan(tree, "-z -r -b -s '*.nlm' ~");
    std::string outline;
    for (std::size_t at = 0; at < run.out.size(); at = run.out.find('\n', at) + 1)
        outline += run.out.substr(at, run.out.find_first_of(" \n", at) - at) + ";";
    const std::string root = tree.Root().string();
    for (std::size_t at; (at = outline.find(root)) != std::string::npos;)
        outline.replace(at, root.size(), "~");
    EXPECT_EQ(outline, "[~/B/];A.NLM;[~/B/A.NLM/];Y.NLM;[~/B/];Z.NLM;[~/A/KIT.DAT/SUB/];X.NLM;"
                       "[~/A/];ZZ.NLM;");
    EXPECT_EQ(RunScan(tree, "-z -r -b -s '*.nlm' -j 2 ~").out, run.out);
    EXPECT_NE(
        RunScan(tree, "-z --json ~/A/KIT.DAT").out.find("\"container\":\"" + root + "/A/KIT.DAT\""),
        std::string::npos);
}

} // namespace
} // namespace kestrel
