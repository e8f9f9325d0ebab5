// kestrel-scan end to end: the built program run over temporary trees, its
// standard output, standard error and exit status checked as a script sees them.

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "byte_writer.h"
#include "mz_builder.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using Lines = std::vector<std::string>;

struct RunResult {
    int status = -1;
    Lines out;
    std::string err;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Runs a command line through the shell, with a time limit so that a scan
// that blocks fails the test instead of hanging it.
RunResult RunCommand(const std::string& command, const fixtures::TempTree& scratch) {
    const std::string errPath = (scratch.Root() / "stderr.txt").string();
    const std::string full = "timeout 120 " + command + " 2>" + Quote(errPath);
    RunResult result;
    FILE* pipe = ::popen(full.c_str(), "r");
    if (pipe == nullptr)
        return result;
    std::string out;
    std::array<char, 4096> buffer{};
    while (const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe))
        out.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = SplitLines(out);
    std::ifstream err(errPath);
    result.err.assign(std::istreambuf_iterator<char>(err), {});
    return result;
}

RunResult RunScan(const std::string& arguments, const fixtures::TempTree& scratch) {
    return RunCommand(std::string(KESTREL_SCAN_PATH) + " " + arguments, scratch);
}

// 2024-03-07 12:34:56 UTC; the tests run with TZ=UTC.
constexpr std::time_t kNoonTime = 1709814896;
constexpr std::time_t kMidnightTime = 1709769600; // 2024-03-07 00:00:00

void SetModified(const std::filesystem::path& path, std::time_t time) {
    const utimbuf times{time, time};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

// A small tree: a plain DOS program of 1,234,567 bytes, a .LAN driver, a text
// file at midnight, and a subdirectory with a file of 0 bytes.
class KestrelScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixtures::ByteWriter dos(64);
        fixtures::PutMzHeader(dos, {0x1C, 0});
        const auto program = tree.Add("DOSPROG.EXE", dos.Data());
        std::filesystem::resize_file(program, 1234567);
        SetModified(program, kNoonTime);
        fixtures::ByteWriter lan;
        lan.PutU8(0, 0).PutU8(1, 1).PutCountedText(2, "NE2000 driver for NetWare");
        SetModified(tree.Add("NE2000.LAN", lan.Data()), kNoonTime);
        SetModified(tree.Add("notes.txt", "text"), kMidnightTime);
        SetModified(tree.Add("SUB/EMPTY.DAT", ""), kNoonTime);
        root = tree.Root().string();
    }

    fixtures::TempTree tree;
    fixtures::TempTree scratch;
    std::string root;
};

TEST_F(KestrelScanTest, FullReportOfADirectory) {
    const RunResult result = RunScan(Quote(root), scratch);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, (Lines{
                              "[" + root + "/]",
                              "DOSPROG.EXE        MZ     1,234,567 2024-03-07 12:34:56",
                              "NE2000.LAN                       28 2024-03-07 12:34:56",
                              " HDescription     :NE2000 driver for NetWare",
                              "notes.txt                         4 2024-03-07",
                          }));
}

TEST_F(KestrelScanTest, SubdirectoriesAndBriefFormat) {
    const RunResult result = RunScan("-r --brief " + Quote(root), scratch);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string unknown(12, ' ');
    EXPECT_EQ(result.out, (Lines{
                              "[" + root + "/]",
                              "DOSPROG.EXE       " + unknown + "Unknown. 2024-03-07 12:34:56",
                              "NE2000.LAN        " + unknown + "Unknown. 2024-03-07 12:34:56",
                              "notes.txt         " + unknown + "Unknown. 2024-03-07",
                              "[" + root + "/SUB/]",
                              "EMPTY.DAT         " + unknown + "Unknown. 2024-03-07 12:34:56",
                          }));
}

TEST_F(KestrelScanTest, SpecAndHideSwitches) {
    RunResult result = RunScan("-s ' *.lan ; *.dat' -r --hide-version " + Quote(root), scratch);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(
        result.out,
        (Lines{"[" + root + "/]", "NE2000.LAN                       28 2024-03-07 12:34:56",
               "[" + root + "/SUB/]", "EMPTY.DAT" + std::string(27, ' ') + "2024-03-07 12:34:56"}));
}

TEST_F(KestrelScanTest, JsonLinesCarryEveryField) {
    const RunResult result = RunScan("--json -s '*.lan' " + Quote(root), scratch);
    EXPECT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(result.out.size(), 1u);
    const auto object = nlohmann::ordered_json::parse(result.out[0]);
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{
                        "directory", "name", "size", "modified", "exe_signature", "hdr_name",
                        "hdr_description", "hdr_version", "hdr_date", "hdr_long", "hdr_imports",
                        "nw_version", "nw_overlay", "copyright_text", "guess_text", "res_strings",
                        "has_version_resource"}));
    EXPECT_EQ(object["directory"], root + "/");
    EXPECT_EQ(object["name"], "NE2000.LAN");
    EXPECT_EQ(object["size"], 28);
    EXPECT_EQ(object["modified"], "2024-03-07 12:34:56");
    EXPECT_EQ(object["hdr_description"], "NE2000 driver for NetWare");
    EXPECT_EQ(object["res_strings"], nlohmann::ordered_json::array());
    EXPECT_EQ(object["has_version_resource"], false);
}

TEST_F(KestrelScanTest, FilePathsShareDirectoryLinesAndMissingOnesAreNamed) {
    const std::string missing = root + "/GONE.EXE";
    const RunResult result =
        RunScan("--brief " + Quote(root + "/notes.txt") + " " + Quote(missing) + " " +
                    Quote(root + "/NE2000.LAN") + " " + Quote(root + "/SUB/EMPTY.DAT"),
                scratch);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;
    ASSERT_EQ(result.out.size(), 5u);
    EXPECT_EQ(result.out[0], "[" + root + "/]");
    EXPECT_EQ(result.out[1].substr(0, 9), "notes.txt");
    EXPECT_EQ(result.out[2].substr(0, 10), "NE2000.LAN");
    EXPECT_EQ(result.out[3], "[" + root + "/SUB/]");
}

TEST_F(KestrelScanTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunScan("-s 'SUB/*.dat' " + Quote(root), scratch).status, 2);
    EXPECT_EQ(RunScan("--no-such-option " + Quote(root), scratch).status, 2);
    EXPECT_EQ(RunScan("", scratch).status, 2);
    EXPECT_EQ(RunScan("--help", scratch).status, 0);
}

// Unreadable entries need a user without root's override: as root, the scan
// runs as nobody, from a copy of the program that nobody may execute.
TEST(KestrelScanHostileTreeTest, FinishesAndReportsEveryReadableFile) {
    fixtures::TempTree tree;
    fixtures::TempTree scratch;
    const auto& root = tree.Root();
    tree.Add("a.txt", "readable");
    tree.Add("sub/b.txt", "readable");
    const auto secret = tree.Add("c.txt", "unreadable");
    const auto locked = tree.Add("locked/d.txt", "behind a locked directory").parent_path();
    ASSERT_EQ(::mkfifo((root / "pipe.txt").c_str(), 0644), 0);
    std::filesystem::create_symlink(root / "missing", root / "dangling.txt");
    std::filesystem::create_directory_symlink(root, root / "sub" / "loop");
    ::chmod(secret.c_str(), 0);
    ::chmod(locked.c_str(), 0);
    ::chmod(root.c_str(), 0755);

    std::string program = KESTREL_SCAN_PATH;
    std::string prefix;
    if (::geteuid() == 0) {
        ::chmod(scratch.Root().c_str(), 0777);
        const auto copy = scratch.Root() / "kestrel-scan";
        std::filesystem::copy_file(program, copy);
        ::chmod(copy.c_str(), 0755);
        program = copy.string();
        prefix = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    }
    const RunResult result =
        RunCommand(prefix + Quote(program) + " -r --brief " + Quote(root.string()), scratch);
    EXPECT_EQ(result.status, 0) << result.err;
    Lines names;
    for (const std::string& line : result.out)
        names.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(names, (Lines{"[" + root.string() + "/]", "a.txt", "[" + root.string() + "/sub/]",
                            "b.txt"}));
}

} // namespace
} // namespace kestrel
