// kestrel-scan as scripts and people at a terminal meet it: exit statuses,
// output cut off or stalled, Ctrl-C, unreadable entries, hostile names, trees
// no path can name, the options for whole collections, and the directory
// lines of file PATHs and of containers' members. What it prints for a tree
// is the golden-output test's.

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sample_builder.h"
#include "samples.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using Lines = std::vector<std::string>;
const std::string kScan = KESTREL_SCAN_PATH;

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

// What the output's reader does: read (after the run has filled the pipe, for
// kStalled, which a non-blocking pipe meets as EAGAIN), or be gone before the run starts.
enum class Reader { kReading, kStalled, kStalledNonBlocking, kGone, kGoneSigpipeIgnored };

// Starts a shell command line with its standard output in a pipe; the read
// end is returned (-1 when the reader is gone).
std::pair<pid_t, int> Start(const std::string& command, Reader reader = Reader::kReading) {
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    if (reader >= Reader::kGone)
        ::close(ends[0]);
    // A stalled reader's pipe is full from the start: the first write blocks at once.
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const bool stalled = reader == Reader::kStalled || reader == Reader::kStalledNonBlocking;
    while (stalled && ::write(ends[1], "\n", 1) == 1) {
    }
    if (reader != Reader::kStalledNonBlocking)
        ::fcntl(ends[1], F_SETFL, 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[1], STDOUT_FILENO);
        ::signal(SIGPIPE, reader == Reader::kGoneSigpipeIgnored ? SIG_IGN : SIG_DFL);
        ::alarm(60);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(ends[1]);
    return {pid, reader < Reader::kGone ? ends[0] : -1};
}

// Reads to the end and closes; the newlines that stalled the pipe are left out.
std::string ReadAll(int descriptor) {
    __gnu_cxx::stdio_filebuf<char> file(descriptor, std::ios::in);
    std::string text(std::istreambuf_iterator<char>(&file), {});
    return text.erase(0, text.find_first_not_of('\n'));
}

// The exit status; a command still running after a minute is ended by SIGALRM.
int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Names each row of a table after its `name`.
const auto RowName = [](const auto& row) { return std::string(row.param.name); };

struct Result {
    int status;
    std::string out, err;
};

class ScanRunTest : public ::testing::Test {
protected:
    std::string Root() const { return tree.Root().string(); }
    Result RunShell(const std::string& command, Reader reader = Reader::kReading) {
        const std::string errPath = (scratch.Root() / "stderr.txt").string();
        const auto [pid, out] = Start(command + " 2>" + Quote(errPath), reader);
        std::string text = out >= 0 ? ReadAll(out) : "";
        const int status = Wait(pid);
        std::ifstream err(errPath);
        return {status, std::move(text), {std::istreambuf_iterator<char>(err), {}}};
    }
    // `shell` runs before kestrel-scan; "~" in the arguments is the tree's root.
    Result Run(std::string arguments, const std::string& shell = "",
               Reader reader = Reader::kReading) {
        for (std::size_t at; (at = arguments.find('~')) != std::string::npos;)
            arguments.replace(at, 1, Quote(Root()));
        return RunShell(shell + "exec " + kScan + " " + arguments, reader);
    }
    // The names of a --brief run, its directory lines as /path/ below the root.
    std::string Names(const std::string& out) const {
        std::string names;
        for (const std::string& line : SplitLines(out))
            names += (names.empty() ? "" : " ") +
                     (line.starts_with('[')
                          ? line.substr(Root().size() + 1, line.size() - Root().size() - 2)
                          : line.substr(0, line.find(' ')));
        return names;
    }
    void AddFiles(const std::string& directory, int count) {
        for (int i = 0; i < count; ++i)
            tree.Add(directory + "/F" + std::to_string(i) + ".TXT", "x");
    }
    // A zip of `count` empty members, M0.TXT, M1.TXT... in that order.
    void AddZip(const std::string& path, int count) {
        fixtures::Json members = fixtures::Json::array();
        for (int i = 0; i < count; ++i)
            members.push_back({{"path", "M" + std::to_string(i) + ".TXT"}});
        tree.Add(path, fixtures::BuildSample({{"format", "zip"}, {"members", members}}));
    }

    fixtures::TempTree tree;
    fixtures::TempTree scratch;
};

// Arguments with their shell redirections, the exit status, and what standard
// error holds ("~" the tree's root; "" for nothing at all).
struct StatusCase {
    const char* name;
    const char* arguments;
    int status;
    const char* err;
    Reader reader = Reader::kReading;
    const char* shell = ""; // what runs before kestrel-scan
};

class StatusTest : public ScanRunTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, AndMessage) {
    tree.Add("A.TXT", "x");
    tree.Add("BAD.ZIP", "PK\x03\x04 and no more");
    tree.Add("K.ZIP", fixtures::BuildSample(fixtures::Json::parse(
                          R"({"format": "zip", "members": [{"path": "M", "size": 1025}]})")));
    tree.Add("TEXT.TXT", "[/srv/]\n");
    tree.Add("RUN.JSONL", "{\"disk_file\":{}}\n{\"disk_file\":{}}\n{\"disk_file\":{}}\nx\n");
    ASSERT_EQ(::mkfifo((tree.Root() / "PIPE").c_str(), 0644), 0);
    const Result result = Run(GetParam().arguments, GetParam().shell, GetParam().reader);
    EXPECT_EQ(result.status, GetParam().status);
    std::string err = GetParam().err;
    for (std::size_t at; (at = err.find('~')) != std::string::npos;)
        err.replace(at, 1, Root());
    EXPECT_TRUE(err.empty() ? result.err.empty() : result.err.find(err) != std::string::npos)
        << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StatusTest,
    ::testing::ValuesIn(std::vector<StatusCase>{
        {"Help", "--help", 0, ""},
        {"MissingPath", "~/GONE ~", 1, "kestrel-scan: ~/GONE: "},
        {"NotARegularFile", "~/PIPE", 1, "kestrel-scan: ~/PIPE: not a regular file"},
        {"VersionToAFullDisk", "--version >/dev/full", 1,
         "kestrel-scan: write error: No space left on device\n"},
        // 512 bytes: the message fits, the JSON does not.
        {"FileSizeLimit", "--json ~ >~/OUT", 1, "kestrel-scan: write error: File too large\n",
         Reader::kReading, "ulimit -f 1; "},
        {"FilesFromADirectory", "-f ~ ~/A.TXT", 1, "kestrel-scan: ~: Is a directory\n"},
        {"FilesFromMissing", "-f ~/GONE", 1, "kestrel-scan: ~/GONE: No such file"},
        {"ClosedPipeWithSigpipeIgnored", "-r ~", 141, "", Reader::kGoneSigpipeIgnored},
        {"SlashNamedAlone", "-s a -s ' b; s/*.exe;c' ~", 2,
         "kestrel-scan: a pattern may not hold \"/\": s/*.exe\n"},
        {"UnknownOption", "--no-such-option ~", 2,
         "kestrel-scan: The following argument was not expected: --no-such-option\n"},
        {"NoPath", "", 2, "kestrel-scan: no PATH"},
        {"HideWithJson", "--json --hide-imports ~", 2, "kestrel-scan: --brief and"},
        {"CsvWithJson", "--csv --json ~", 2, "kestrel-scan: --csv"},
        {"CsvWithALayout", "--csv --hide-imports ~", 2, "kestrel-scan: --csv"},
        {"HashWithoutJsonOrCsv", "--hash md5 ~", 2, "kestrel-scan: --hash"},
        {"UnknownHash", "--json --hash sha512 ~", 2, "sha512"},
        {"MaxExpandNotASize", "-z --max-expand 4T ~", 2, "kestrel-scan: --max-expand"},
        {"MaxTempNotASize", "-z --max-temp 0 ~", 2, "kestrel-scan: --max-temp"},
        {"MaxExpandLowerCaseUnit", "-z --max-expand 1k ~", 2, "--max-expand"},
        {"MaxExpandOneK", "-z --max-expand 1K ~/K.ZIP", 1, "~/K.ZIP: more than 1 KiB decompressed"},
        // The largest count of each unit that 63 bits hold, and one more.
        {"MaxExpandLargestM", "-z --max-expand 8796093022207M ~/A.TXT", 0, ""},
        {"MaxExpandPastLargestM", "-z --max-expand 8796093022208M ~", 2, "--max-expand"},
        {"MaxExpandLargestG", "-z --max-expand 8589934591G ~/A.TXT", 0, ""},
        {"MaxExpandPastLargestG", "-z --max-expand 8589934592G ~", 2, "--max-expand"},
        {"ExcludeWithASlash", "--exclude 'x;a/b' ~", 2,
         "kestrel-scan: a pattern may not hold \"/\": a/b\n"},
        {"DamagedContainer", "-z ~", 1, "kestrel-scan: ~/BAD.ZIP: Truncated ZIP"},
        {"ReuseWithoutJson", "--reuse ~/A.TXT ~", 2, "kestrel-scan: --reuse"},
        {"ReuseMissing", "--json --reuse ~/GONE ~", 2,
         "kestrel-scan: ~/GONE: No such file or directory\n"},
        {"ReuseAFifo", "--json --reuse ~/PIPE ~", 2, "kestrel-scan: ~/PIPE: not a regular file\n"},
        {"ReuseNotJson", "--json --reuse ~/TEXT.TXT ~", 2,
         "kestrel-scan: ~/TEXT.TXT: line 1: not a JSON record ("},
        {"ReuseCutShort", "--json --reuse ~/BAD.ZIP ~", 2,
         "kestrel-scan: ~/BAD.ZIP: line 1: the file ends inside a record\n"},
        // Two threads read it, one from its middle.
        {"ReuseBadInTheSecondHalf", "--json -j 2 --reuse ~/RUN.JSONL ~", 2,
         "kestrel-scan: ~/RUN.JSONL: line 4: not a JSON record ("}}),
    RowName);

// An InstallShield set in SET/ (or the zip SET.ZIP) beside A.TXT: data1.hdr
// and DATA1.CAB (the names matched without regard to case), each with
// `header` or `cabinet` merged over its description, or absent when null; when
// `split`, its program goes on in DATA2.CAB (`second`), which holds the file
// after it; when `linked`, Help/SETUP.EXE (file 2) is linked to the program's
// bytes. Its programs are reported with their version under their group's
// folder, or the damage is said in one line, exit status 1, and the rest of
// the tree reported.
struct SetCase {
    const char* name;
    const char* header = "{}";
    const char* cabinet = "{}";
    const char* err = ""; // standard error's one line holds "kestrel-scan: ~/" and it
    bool program = false; // the program reported with its version all the same
    bool zipped = false;
    bool split = false;
    const char* second = "{}";
    bool linked = false;
    int chain = 0; // Help/S0.EXE linked to the program, each S<n>.EXE after to the one before
};

class InstallShieldTest : public ScanRunTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(InstallShieldTest, ProgramUnderItsGroupOrOneMessage) {
    const std::string set = R"({"format": "installshield", "groups": [
      {"name": "Program Files", "members": [{"path": "BIN/SETUPX.EXE", "format": "pe",
        "version": {"fixed": [3, 2, 0, 7], "strings": [["FileVersion", "3.20.007"]]}}]},
      {"name": "Help", "members": [{"path": "README.TXT", "stored": true,
        "put": [{"at": 0, "text": "Widget 3.2"}]}]}]})";
    const SetCase& row = GetParam();
    tree.Add("A.TXT", "x");
    fixtures::Json base = fixtures::Json::parse(set);
    base["groups"][0]["members"][0]["split"] = row.split;
    if (row.linked)
        base["groups"][1]["members"].push_back({{"path", "SETUP.EXE"}, {"link", 0}});
    for (int i = 0; i < row.chain; ++i) // file 2 + i, after the program and README.TXT
        base["groups"][1]["members"].push_back(
            {{"path", "S" + std::to_string(i) + ".EXE"}, {"link", i == 0 ? 0 : 1 + i}});
    const auto part = [&](const char* path, const char* change) {
        return fixtures::Describe(fixtures::Describe(base.dump(), path).dump(), change);
    };
    fixtures::Json files = fixtures::Json::array();
    if (row.header != nullptr)
        files.push_back(part(R"({"path": "data1.hdr"})", row.header));
    if (row.cabinet != nullptr)
        files.push_back(part(R"({"path": "DATA1.CAB", "part": "cabinet"})", row.cabinet));
    if (row.split && row.second != nullptr)
        files.push_back(
            part(R"({"path": "DATA2.CAB", "part": "cabinet", "volume": 2})", row.second));
    if (row.zipped)
        tree.Add("SET.ZIP", fixtures::BuildSample({{"format", "zip"}, {"members", files}}));
    for (const fixtures::Json& file : row.zipped ? fixtures::Json::array() : files)
        tree.Add("SET/" + file["path"].get<std::string>(), fixtures::BuildSample(file));
    const Result result = Run("-z -r --json ~");
    const bool whole = *row.err == '\0';
    EXPECT_EQ(result.status, whole ? 0 : 1);
    EXPECT_EQ(SplitLines(result.err).size(), whole ? 0u : 1u) << result.err;
    if (!whole) {
        EXPECT_NE(result.err.find("kestrel-scan: " + Root() + "/" + row.err), std::string::npos)
            << result.err;
    }
    EXPECT_NE(result.out.find("\"path\":\"" + Root() + "/A.TXT\""), std::string::npos);
    const Lines lines = SplitLines(result.out);
    const auto versioned = [&](const std::string& path) {
        const std::string key = "\"path\":\"" + Root() + (row.zipped ? "/SET.ZIP" : "/SET") +
                                "/data1.hdr/" + path + "\"";
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(key) != std::string::npos &&
                   line.find("\"FileVersion\":\"3.20.007\"") != std::string::npos;
        });
    };
    EXPECT_EQ(versioned("Program Files/BIN/SETUPX.EXE"), whole || row.program) << result.out;
    EXPECT_EQ(versioned("Help/SETUP.EXE"), whole && row.linked) << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Sets, InstallShieldTest,
    ::testing::ValuesIn(std::vector<SetCase>{
        {"Whole"},
        {"WholeInTheLayoutOfVersion5", R"({"layout": 5})", R"({"layout": 5})"},
        {"HeaderCutInItsDescriptor", R"({"cut": 1024})", "{}",
         "SET/data1.hdr: InstallShield header cut short: its cabinet descriptor lies past its end"},
        {"FileCountFarTooLarge", R"({"put": [{"at": 552, "u32": 100000}]})", "{}",
         "SET/data1.hdr: InstallShield header damaged: the descriptors of its 100000 files lie "
         "past"},
        {"FileNameOutside", R"({"put": [{"at": "file0+58", "u32": 2147483632}]})", "{}",
         "SET/data1.hdr: InstallShield header damaged: the name of file 0 lies past its end"},
        {"CabinetMissing", "{}", nullptr,
         "SET/data1.hdr: InstallShield set not read: its cabinet data1.cab is missing"},
        {"CabinetWithoutHeader", nullptr, "{}",
         "SET/DATA1.CAB: InstallShield cabinet without its header DATA1.HDR; not read"},
        // Both files' bytes lie past its end: one line for both.
        {"CabinetCut", "{}", R"({"cut": 520})",
         "SET/data1.hdr: 2 problems; first: Program Files/BIN/SETUPX.EXE: its bytes lie past the "
         "end"},
        {"Md5NotMatching", R"({"put": [{"at": "file0+26", "u8": 0}]})", "{}",
         "SET/data1.hdr: Program Files/BIN/SETUPX.EXE: MD5 does not match", true},
        // Its files kept until the zip was read, then the header entered.
        {"WholeInsideAZip", "{}", "{}", "", false, true},
        {"CabinetMissingInsideAZip", "{}", nullptr,
         "SET.ZIP/data1.hdr: InstallShield set not read: its cabinet data1.cab is missing", false,
         true},
        // The program's stored bytes half in each cabinet, cut inside a chunk.
        {"Split", "{}", "{}", "", false, false, true},
        {"SplitInTheLayoutOfVersion5", R"({"layout": 5})", R"({"layout": 5})", "", false, false,
         true, R"({"layout": 5})"},
        {"SplitInsideAZip", "{}", "{}", "", false, true, true},
        // Both the program and the file after it in the missing cabinet.
        {"SplitSecondCabinetMissing", "{}", "{}",
         "SET/data1.hdr: 2 problems; first: Program Files/BIN/SETUPX.EXE: split, and its cabinet "
         "data2.cab is missing",
         false, false, true, nullptr},
        {"SplitSecondCabinetCut", "{}", "{}",
         "SET/data1.hdr: 2 problems; first: Program Files/BIN/SETUPX.EXE: its bytes lie past the "
         "end of data2.cab",
         false, false, true, R"({"cut": 520})"},
        // The cabinets count the bytes as the program's: read as file 2's,
        // they would lie past the end of data1.cab.
        {"LinkedToASplitFile", "{}", "{}", "", false, false, true, "{}", true},
        // File 2's link_previous at file0+250; the program's at file0+76, its
        // link_flags at file0+84; README.TXT's flags at file0+87, its
        // data_offset at file0+105, its name_offset at file0+145.
        {"LinkedToItself", R"({"put": [{"at": "file0+250", "u32": 2}]})", "{}",
         "SET/data1.hdr: Help/SETUP.EXE: linked to itself; not read", true, false, false, "{}",
         true},
        {"LinkedPastTheFiles", R"({"put": [{"at": "file0+250", "u32": 3}]})", "{}",
         "SET/data1.hdr: Help/SETUP.EXE: linked to file 3 of 3; not read", true, false, false, "{}",
         true},
        {"LinksLooping", R"({"put": [{"at": "file0+76", "u32": 2}, {"at": "file0+84", "u8": 3}]})",
         "{}",
         "SET/data1.hdr: 2 problems; first: Program Files/BIN/SETUPX.EXE: its links loop; not "
         "read",
         false, false, false, "{}", true},
        {"ListedAsInNoCabinet", R"({"put": [{"at": "file0+87", "u16": 8}]})", "{}",
         "SET/data1.hdr: Help/README.TXT: marked as in no cabinet; not read", true},
        {"WithoutADataOffset", R"({"put": [{"at": "file0+105", "u32": 0}]})", "{}",
         "SET/data1.hdr: Help/README.TXT: without the offset of its bytes; not read", true},
        {"WithoutAName", R"({"put": [{"at": "file0+145", "u32": 0}]})", "{}",
         "SET/data1.hdr: Help/file 1: without a name; not read", true},
        // S15.EXE reaches the program in 16 links; S16.EXE would need 17.
        {"LinkedThroughTooManyFiles", "{}", "{}",
         "SET/data1.hdr: Help/S16.EXE: linked through more than 16 files; not read", true, false,
         false, "{}", false, 17}}),
    RowName);

struct Interrupt {
    const char* name;
    // A small file, then a 1 TiB sparse overlay the marker scan reads whole; or
    // a zip whose members give far more JSON than a pipe holds: the writer stalls.
    bool largeFile;
    const char* jobs;
    int interrupts; // a second one ends the run at once, though the reader is stalled
};

class InterruptTest : public ScanRunTest, public ::testing::WithParamInterface<Interrupt> {};

TEST_P(InterruptTest, StopsOnAWholeReport) {
    const bool zip = !GetParam().largeFile;
    if (zip) {
        AddZip("MANY.ZIP", 400);
    } else {
        tree.Add("A.TXT", "small");
        std::filesystem::resize_file(tree.Add("BIG.OVL", ""), std::uintmax_t{1} << 40);
    }
    // With one job, Ctrl-C reaches the thread that writes; with two, workers
    // stop in the large file, and the one that scans the zip writes its members.
    const auto [pid, out] = Start("exec " + kScan + " --json -j " + GetParam().jobs +
                                      (zip ? " -z " : " ") + Quote(Root()),
                                  Reader::kStalled);
    ::sleep(1);
    // Room for one more page, but for a second Ctrl-C: a write is under way when the
    // first one comes, or it has written nothing yet.
    std::string page(GetParam().interrupts == 1 ? 4096 : 0, '\n');
    EXPECT_EQ(::read(out, page.data(), page.size()), static_cast<ssize_t>(page.size()));
    ::usleep(200000);
    for (int i = 0; i < GetParam().interrupts; ++i, ::usleep(200000))
        ::kill(pid, SIGINT);
    if (GetParam().interrupts == 2) {
        EXPECT_EQ(Wait(pid), 130) << "ended before its output is read";
        ReadAll(out);
        return;
    }
    const std::string text = ReadAll(out);
    EXPECT_EQ(Wait(pid), 130);
    const Lines lines = SplitLines(text);
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(nlohmann::json::accept(lines[i])) << lines[i];
        if (zip) { // the zip, then its members from the first, in order
            EXPECT_EQ(nlohmann::json::parse(lines[i])["name"],
                      i == 0 ? "MANY.ZIP" : "M" + std::to_string(i - 1) + ".TXT");
        }
    }
    EXPECT_TRUE(zip ? lines.size() < 400 : lines.size() == 1)
        << "the small file only, or the members written before the zip was done: " << text;
}

INSTANTIATE_TEST_SUITE_P(CtrlC, InterruptTest,
                         ::testing::ValuesIn(std::vector<Interrupt>{
                             {"InsideALargeFile", true, "2", 1},
                             {"InsideAContainer", false, "2", 1},
                             {"TwiceWhileTheReaderStalls", false, "1", 2}}),
                         RowName);

// 3,000 levels: far deeper than PATH_MAX, with a limit of 40 open descriptors.
TEST_F(ScanRunTest, DeepTreeIsWalkedWithinTheDescriptorLimit) {
    const std::filesystem::path start = std::filesystem::current_path();
    std::filesystem::current_path(tree.Root());
    for (int level = 0; level < 3000; ++level, std::filesystem::current_path("d")) {
        if (level % 200 == 0)
            fixtures::WriteFile("F.TXT", {'x'});
        std::filesystem::create_directory("d");
    }
    std::filesystem::current_path(start);
    const Result result = Run("-r -b -j 2 " + Quote(Root()), "ulimit -n 40 && ");
    EXPECT_EQ(result.status, 0) << result.err;
    const Lines lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 30u);
    EXPECT_EQ(lines[28].size(), Root().size() + 3 + 2 * 2800) << "the full path at level 2800";
    // Deeper than the fixture can remove.
    EXPECT_EQ(std::system(("rm -rf " + Quote(Root() + "/d")).c_str()), 0);
}

// A digest over part of a file is never given as the file's: a 1 TiB file,
// all a hole, is cut to 4 KiB once the scan has read a MiB of it.
TEST_F(ScanRunTest, FileThatShrinksUnderItsDigestGetsNone) {
    const std::string big = tree.Add("BIG.OVL", "").string();
    std::filesystem::resize_file(big, std::uintmax_t{1} << 40);
    const Result result = RunShell(
        "(" + kScan + " --json --hash md5 " + Quote(big) + " & p=$!; while r=$(sed -n " +
        "'s/^rchar: //p' /proc/$p/io 2>/dev/null); [ \"${r:-0}\" -lt 1048576 ] && kill -0 $p; " +
        "do sleep 0.1; done; truncate -s 4096 " + Quote(big) + "; wait $p)");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(nlohmann::json::parse(result.out)["md5"], nullptr) << result.out;
    EXPECT_EQ(result.err,
              "kestrel-scan: " + big +
                  ": read error: the file could not be read to its end for its digest\n");
}

TEST_F(ScanRunTest, UnreadableEntriesAreNamedAndTheRestScanned) {
    tree.Add("a.txt", "readable");
    ::chmod(tree.Add("c.txt", "secret").c_str(), 0);
    ::chmod(tree.Add("locked/d.txt", "x").parent_path().c_str(), 0);
    ::chmod(Root().c_str(), 0755);
    std::string command = Quote(kScan);
    if (::geteuid() == 0) { // root reads everything: run as nobody, from a copy nobody may run
        ::chmod(scratch.Root().c_str(), 0777);
        std::filesystem::copy_file(kScan, scratch.Root() / "kestrel-scan");
        command = "exec setpriv --reuid=nobody --regid=nogroup --clear-groups " +
                  Quote(scratch.Root() / "kestrel-scan");
    }
    const Result result = RunShell(command + " -r -b " + Quote(Root()));
    EXPECT_EQ(Names(result.out), "/ a.txt");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "kestrel-scan: " + Root() + "/c.txt: Permission denied\nkestrel-scan: " +
                              Root() + "/locked: Permission denied\n");
}

// ESC, BEL, DEL and U+009B (a terminal's CSI) in names reach no terminal, in
// JSON, CSV or text; nor does a progress line splice into a report on the
// same terminal.
TEST_F(ScanRunTest, TerminalGetsNoControlCharacter) {
    const std::string name = "a\x1b[31m\x07\x7f\xc2\x9b.txt";
    const std::string directory = tree.Add("d\x1b]0;x\x07/" + name, "x").parent_path();
    // C0 controls but the line ends, DEL, and 0xC2, which starts the C1 controls in UTF-8
    // (and no other character of this test).
    const auto controls = [](std::string text) {
        for (std::size_t at; (at = text.find("\r\x1b[K")) != std::string::npos;)
            text.erase(at, 4); // the progress line's own erase
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.erase(at, 1); // CSV's line end
        return std::count_if(text.begin(), text.end(), [](unsigned char byte) {
            return (byte < 0x20 && byte != '\n') || byte == 0x7f || byte == 0xc2;
        });
    };
    const Result json = Run("--json " + Quote(directory));
    EXPECT_EQ(controls(json.out), 0) << json.out;
    EXPECT_EQ(nlohmann::json::parse(json.out)["name"], name);
    const Result csv = Run("--csv " + Quote(directory));
    EXPECT_EQ(controls(csv.out), 0) << csv.out;
    EXPECT_NE(csv.out.find(",a [31m   .txt,"), std::string::npos) << csv.out;
    // Under `script`, standard error is a terminal; standard output is one too or not.
    for (const auto& [redirect, shown] : {std::pair{"", false}, std::pair{" >/dev/null", true}}) {
        const Result text = RunShell(
            "exec script -qec " +
            Quote("stty -onlcr; exec " + kScan + " " + Quote(directory) + redirect) + " /dev/null");
        EXPECT_EQ(text.out.find("files scanned") != std::string::npos, shown) << text.out;
        EXPECT_EQ(controls(text.out), 0) << text.out;
        EXPECT_EQ(text.out.ends_with("\r\x1b[K"), shown) << "erased at the end";
    }
}

// Also into a full pipe that does not block.
TEST_F(ScanRunTest, ManyJobsWriteTheBytesOfOne) {
    samples::WriteSamples(tree.Root());
    for (const char* directory : {"NETWARE/a", "NETWARE/b/c", "WINDOWS/d"})
        AddFiles(directory, 100);
    // A large overlay ahead of small files: they are done long before it. Two
    // zips whose members give more JSON than four jobs hold behind the front.
    std::filesystem::resize_file(tree.Add("NETWARE/a/A.OVL", ""), std::uintmax_t{64} << 20);
    AddZip("NETWARE/b/ONE.ZIP", 1200);
    AddZip("NETWARE/b/TWO.ZIP", 1200);
    const Result one = Run("-r -z --json -j 1 " + Quote(Root()));
    EXPECT_GT(SplitLines(one.out).size(), 2700u);
    EXPECT_EQ(Run("-r -z --json -j 4 " + Quote(Root())).out, one.out);
    // Room for two pages in the full pipe: the run fills it, then waits out EAGAIN.
    const auto [pid, out] =
        Start("exec " + kScan + " -r -z --json -j 2 " + Quote(Root()), Reader::kStalledNonBlocking);
    std::string room(8192, '\n');
    EXPECT_EQ(::read(out, room.data(), room.size()), 8192);
    for (int held = 0; ::ioctl(out, FIONREAD, &held) == 0 && held < ::fcntl(out, F_GETPIPE_SZ);)
        ::usleep(10000);
    EXPECT_EQ(ReadAll(out), one.out);
    EXPECT_EQ(Wait(pid), 0);
}

// A write that fails stops the run at once: the 1 TiB overlay scanned beside
// the zip whose members fill the first write is left at its next block.
TEST_F(ScanRunTest, WriteErrorStopsTheRunAtOnce) {
    AddZip("A.ZIP", 400);
    std::filesystem::resize_file(tree.Add("Z.OVL", ""), std::uintmax_t{1} << 40);
    const Result result = Run("-z --json -j 2 ~ >/dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "kestrel-scan: write error: No space left on device\n");
}

// With -z the patterns select the reports, on disk and inside: a directory
// whose files give none gets no line, and a file after a container's members
// gets its directory's line again, whether the container was reported or
// not. -j 2 writes the same; JSON names the container on disk.
TEST_F(ScanRunTest, PatternsSelectTheReportsInsideAndTheirLines) {
    for (const char* name : {"A/NOTES.TXT", "A/ZZ.NLM", "B/Z.NLM"})
        tree.Add(name, "x");
    for (const auto& [zip, members] : {std::pair{"A/KIT.DAT", R"([{"path": "SUB/X.NLM"},
                                                                  {"path": "SUB/X.TXT"}])"},
                                       {"B/A.NLM", R"([{"path": "Y.NLM"}])"}})
        tree.Add(zip, fixtures::BuildSample(
                          {{"format", "zip"}, {"members", fixtures::Json::parse(members)}}));
    const Result run = Run("-z -r -b -s '*.nlm' ~");
    EXPECT_EQ(Names(run.out),
              "/B/ A.NLM /B/A.NLM/ Y.NLM /B/ Z.NLM /A/KIT.DAT/SUB/ X.NLM /A/ ZZ.NLM");
    EXPECT_EQ(Run("-z -r -b -s '*.nlm' -j 2 ~").out, run.out);
    EXPECT_NE(Run("-z --json ~/A/KIT.DAT").out.find("\"container\":\"" + Root() + "/A/KIT.DAT\""),
              std::string::npos);
}

// --reuse over the samples after a change, with -z and patterns that leave
// some containers without a report of their own: the output is that of a
// full scan (-j 2 against -j 1), and the records copied from the previous run
// (which marks them with "~" in exe_signature) are exactly those of the files
// not changed since.
// Without 7-Zip's library (missing, or a library that is not 7-Zip's) a
// run that looks inside says so once, before any report, exits 1 when a
// file only the library reads was met, and reads everything else as
// before; --formats marks its formats.
struct MissingLibraryCase {
    const char* name;
    const char* library;
    const char* reason;
};

class SevenZipMissingTest : public ScanRunTest,
                            public ::testing::WithParamInterface<MissingLibraryCase> {};

TEST_P(SevenZipMissingTest, SaidOnceAndTheRestReadAsBefore) {
    tree.Add("R.TXT", "x");
    ASSERT_EQ(
        std::system(
            ("cd " + Quote(Root()) + " && arj a A.ARJ R.TXT >/dev/null && cp A.ARJ B.ARJ").c_str()),
        0);
    AddZip("K.ZIP", 1);
    const std::string shell = std::string("KESTREL_7Z_LIBRARY=") + GetParam().library + " ";
    const Result run = Run("-z -r -b -s '*' ~", shell);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kestrel-scan: 7-Zip's library " + std::string(GetParam().library) + " " +
                           GetParam().reason +
                           ": ARJ archives, NSIS installers, MSI databases, qcow2 and VDI images "
                           "are read as plain files, zips in PKZIP 1 methods and deflate64 by "
                           "libarchive\n");
    EXPECT_EQ(Run("-z ~/R.TXT", shell).status, 0);
    EXPECT_EQ(Names(run.out), "/ A.ARJ B.ARJ K.ZIP /K.ZIP/ M0.TXT / R.TXT");
    const auto count = [](const std::string& text, const std::string& part) {
        std::size_t found = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1))
            ++found;
        return found;
    };
    const std::string with = Run("--formats").out;
    EXPECT_EQ(count(Run("--formats", shell).out, "(not available)"), count(with, "7z.so"));
    EXPECT_EQ(count(with, "(not available)"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, SevenZipMissingTest,
    ::testing::ValuesIn(std::vector<MissingLibraryCase>{
        {"Missing", "/nonexistent/7z.so",
         "cannot be loaded: /nonexistent/7z.so: cannot open shared object file: No such file or "
         "directory"},
        {"NotSevenZips", "libz.so.1", "is not 7-Zip's library (its entry points are missing)"}}),
    RowName);

// The Sleuth Kit is loaded at the first disk image: without it (missing, or
// a library that is not The Sleuth Kit) each image says why, the run exits
// 1, everything else is read, and --formats marks the formats it reads.
TEST_F(ScanRunTest, WithoutTheSleuthKitEachImageSaysWhy) {
    tree.Add("R.TXT", "x");
    ASSERT_EQ(std::system(("cd " + Quote(Root()) +
                           " && PATH=$PATH:/sbin:/usr/sbin mkfs.fat -C F.IMG 1440 >/dev/null"
                           " && mcopy -i F.IMG R.TXT ::R.TXT")
                              .c_str()),
              0);
    AddZip("K.ZIP", 1);
    EXPECT_EQ(Names(Run("-z -r -b -s '*' ~").out),
              "/ F.IMG /F.IMG/ R.TXT / K.ZIP /K.ZIP/ M0.TXT / R.TXT");
    for (const auto& [library, reason] :
         {std::pair{"/nonexistent/libtsk.so",
                    "cannot be loaded: /nonexistent/libtsk.so: cannot open shared object file: No "
                    "such file or directory"},
          std::pair{"libz.so.1", "cannot be used: "}}) {
        const std::string shell = std::string("KESTREL_TSK_LIBRARY=") + library + " ";
        const Result run = Run("-z -r -b -s '*' ~", shell);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(
            run.err.starts_with("kestrel-scan: " + Root() + "/F.IMG: The Sleuth Kit " + reason))
            << run.err;
        EXPECT_EQ(Names(run.out), "/ F.IMG K.ZIP /K.ZIP/ M0.TXT / R.TXT");
        EXPECT_EQ(Run("--formats", shell).out.find("The Sleuth Kit (not available)") !=
                      std::string::npos,
                  true);
    }
}

struct ReuseCase {
    const char* name;
    std::string previous;               // the previous run's shell and options
    const char* change;                 // a shell command in the tree's root
    std::vector<std::string> rescanned; // below the root; "" for all
};
const std::string kReuseOptions = "-z -s '*.nlm;*.exe;*.txt;*.img' ";
const std::string kSignature = "\"exe_signature\":\"";

class ReuseTest : public ScanRunTest, public ::testing::WithParamInterface<ReuseCase> {};

// A line that closes no group of records, to end `lines` with, so that the
// middle of the file, where two threads split the reading, falls inside the
// first group of a container's records that lies past the middle already;
// "" when there is none.
std::string PaddingIntoAGroup(const Lines& lines) {
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i < lines.size(); start += lines[i++].size() + 1) {
        const bool inside = i > 0 && lines[i - 1].find("\"disk_file\"") == std::string::npos;
        if (inside && 2 * (start - 1) >= size + 12)
            return "{\"pad\":\"" + std::string(2 * (start - 1) - size - 11, '.') + "\"}\n";
    }
    return "";
}

TEST_P(ReuseTest, CopiesTheRecordsOfUnchangedFilesOnly) {
    samples::WriteSamples(tree.Root());
    const std::string previous = (scratch.Root() / "previous.jsonl").string();
    const Result first = RunShell(GetParam().previous + " --json -r " + Quote(Root()));
    ASSERT_EQ(first.status, 0) << first.err;
    Lines lines;
    for (std::string line : SplitLines(first.out))
        lines.push_back(line.insert(line.find(kSignature) + kSignature.size(), "~"));
    std::ofstream marked(previous);
    for (const std::string& line : lines)
        marked << line << "\n";
    marked << PaddingIntoAGroup(lines);
    marked.close();
    ASSERT_EQ(std::system(("cd " + Quote(Root()) + " && " + GetParam().change).c_str()), 0);
    const Result reused = Run(kReuseOptions + "--json -r -j 2 --reuse " + Quote(previous) + " ~");
    EXPECT_EQ(reused.status, 0) << reused.err;
    std::string unmarked;
    for (std::string line : SplitLines(reused.out)) {
        const std::string path = nlohmann::json::parse(line)["path"];
        const bool changed = std::any_of(
            GetParam().rescanned.begin(), GetParam().rescanned.end(),
            [&](const std::string& file) { return path.starts_with(Root() + "/" + file); });
        const std::size_t mark = line.find(kSignature + "~");
        EXPECT_EQ(mark == std::string::npos, changed) << line;
        unmarked += (changed ? line : line.erase(mark + kSignature.size(), 1)) + "\n";
    }
    EXPECT_EQ(unmarked, Run(kReuseOptions + "--json -r -j 1 ~").out);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ReuseTest,
    ::testing::ValuesIn(std::vector<ReuseCase>{
        // Touched; changed in place, its time set back; replaced by a copy; a
        // container with other members; a new file.
        {"FilesChanged",
         "exec " + kScan + " " + kReuseOptions,
         "touch WINDOWS/CLOCK.EXE && t=$(stat -c %Y DOS/FARPTR.EXE) && "
         "printf Q | dd of=DOS/FARPTR.EXE bs=1 seek=9 conv=notrunc 2>/dev/null && "
         "touch -d @$t DOS/FARPTR.EXE && cp -p NETWARE/NWSERVE.NLM N && "
         "mv N NETWARE/NWSERVE.NLM && cp README.TXT N.TXT && "
         "bsdtar -cf ARCHIVES/NWDRIVER.ZIP --format zip README.TXT",
         {"WINDOWS/CLOCK.EXE", "DOS/FARPTR.EXE", "NETWARE/NWSERVE.NLM", "ARCHIVES/NWDRIVER.ZIP",
          "N.TXT"}},
        {"WithoutLookInside", "exec " + kScan + " -s '*.nlm;*.exe;*.txt;*.img'", "true", {""}},
        {"InAnotherTimeZone", "TZ=EST5EDT exec " + kScan + " " + kReuseOptions, "true", {""}}}),
    RowName);

struct OptionCase {
    const char* name;
    const char* arguments;
    std::string_view input; // standard input
    const char* names;      // directory lines as /path/ below the root, and names
    int status;
    const char* shell = ""; // what runs kestrel-scan
};

class OptionTest : public ScanRunTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionTest, SelectsTheFilesOfACollection) {
    for (const char* path : {"a", "b.bak", "s/c", "s/deep/d", "BACKUP/e", "new\nline"})
        tree.Add(path, "x");
    std::ofstream(scratch.Root() / "list") << GetParam().input;
    if (*GetParam().shell != '\0' && std::system("unshare -rm true 2>/dev/null") != 0)
        GTEST_SKIP() << "no mount namespace here";
    const Result result =
        Run("-b " + std::string(GetParam().arguments) + " <" + Quote(scratch.Root() / "list"),
            "cd " + Quote(Root()) + " && " + GetParam().shell);
    EXPECT_EQ(result.status, GetParam().status) << result.err;
    EXPECT_EQ(Names(result.out), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    Collections, OptionTest,
    ::testing::ValuesIn(std::vector<OptionCase>{
        {"MaxDepthOne", "--max-depth 1 -s a -s '*.bak;n*;c;d;e' .", "",
         "/ a b.bak new /s/ c /BACKUP/ e", 0},
        {"Exclude", "-r --exclude '*.bak;n*' --exclude backup .", "", "/ a /s/ c /s/deep/ d", 0},
        {"NulSeparatedList", "-0 -f -", {"s/c\0new\nline\0a\0", 15}, "/s/ c / new a", 0},
        {"ListWithAMissingPath", "-f - s/deep", "gone\na\n", "/s/deep/ d / a", 1},
        // Consecutive files of a directory share its line; looking inside or not, the
        // patterns leave out no file PATH.
        {"FilePaths", "-z -s x ~/b.bak ~/gone ~/a ~/s/c ~/a", "", "/ b.bak a /s/ c / a", 1},
        // s/deep is a file system of its own, with a file m in it.
        {"OneFileSystem", "-x -r .", "", "/ a b.bak new /s/ c /BACKUP/ e", 0,
         "unshare -rm sh -c 'mount -t tmpfs none s/deep && : >s/deep/m && exec \"$@\"' "}}),
    RowName);

} // namespace
} // namespace kestrel
