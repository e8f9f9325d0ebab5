// Looking inside containers: every format read end to end from containers
// made at test time by Debian's tools (or, where no tool writes the format,
// from a few bytes written here), and every limit at its edge.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "look_inside.h"
#include "nlm_builder.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::ByteWriter;

// 1995-06-01 12:00:00 UTC (the tests run in UTC): an even second, which the
// DOS times of zip, FAT and cabinets keep.
constexpr std::int64_t kTreeTime = 802008000;

Bytes Module(const std::string& name, const std::string& description) {
    return fixtures::MakeNlm({.name = name,
                              .description = description,
                              .screenName = "Console",
                              .version = fixtures::NlmVersion{4, 10, 1}});
}

// The tree every container is made from; SERVER.NLM is 1024 bytes, the
// three files 2057.
struct SampleTree : fixtures::TempTree {
    SampleTree() {
        for (const auto& path : {Add("SERVER.NLM", Module("SERVER.NLM", "Test Server")),
                                 Add("SUB/DRIVER.NLM", Module("DRIVER.NLM", "Test Driver")),
                                 Add("README.TXT", "Read me\r\n")}) {
            const timespec times[2] = {{kTreeTime, 0}, {kTreeTime, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        ::setenv("TREE", Root().c_str(), 1);
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }
};

const fixtures::TempTree& Tree() {
    static const SampleTree tree;
    return tree;
}

// The brief report line of a tree file scanned as a file.
std::string TreeLine(const std::string& name) {
    const std::string folder = Tree().RootWithSeparator() + (name == "DRIVER.NLM" ? "SUB/" : "");
    testing::RecordingSink sink;
    QuillScan(sink, {.brief = true}).ScanFile(folder, name);
    return sink.lines.at(0);
}

// The bytes of SERVER.NLM, for the formats no Debian tool writes.
const Bytes kServerModule = Module("SERVER.NLM", "Test Server");

// SZDD as EXPAND reads it: magic, method 'A', the name's lost last character,
// the length, then LZSS data, here all literals, eight behind a flag byte 0xFF.
Bytes MakeSzdd(const Bytes& data, char lost) {
    ByteWriter out;
    out.PutText(0, "SZDD\x88\xF0\x27\x33"
                   "A")
        .PutU8(9, lost)
        .PutU32(10, data.size());
    std::size_t at = 14;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i % 8 == 0)
            out.PutU8(at++, 0xFF);
        out.PutU8(at++, data[i]);
    }
    return out.Data();
}

// KWAJ, stored (method 0), keeping the name and extension in its header.
Bytes MakeKwaj(const Bytes& data) {
    ByteWriter out;
    out.PutText(0, "KWAJ\x88\xF0\x27\xD1").PutU16(8, 0).PutU16(10, 25).PutU16(12, 0x08 | 0x10);
    return out.PutZText(14, "SERVER").PutZText(21, "NLM").PutBytes(25, data).Data();
}

// LHA level 0, method -lh0- (stored), with its header checksum and CRC-16,
// dated 1995-06-01 12:00 (DOS time, then date).
Bytes MakeLha(const Bytes& data, const std::string& name) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    ByteWriter out;
    out.PutText(2, "-lh0-").PutU32(7, data.size()).PutU32(11, data.size()).PutU16(15, 12 << 11);
    out.PutU16(17, 15 << 9 | 6 << 5 | 1)
        .PutU8(19, 0x20)
        .PutCountedText(21, name)
        .PutU16(22 + name.size(), crc);
    const std::size_t headerEnd = 24 + name.size();
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < headerEnd; ++i)
        sum = static_cast<std::uint8_t>(sum + out.Data()[i]);
    out.PutU8(0, headerEnd - 2).PutU8(1, sum).PutBytes(headerEnd, data);
    return out.PutU8(headerEnd + data.size(), 0).Data();
}

// A CHM with one file in its uncompressed section: the ITSF header and its
// section table, header section 0, the ITSP directory header, one PMGL chunk
// of 512 bytes naming "/SERVER.NLM", then the content.
Bytes MakeChm(const Bytes& data) {
    const std::string guids("\x10\xFD\x01\x7C\xAA\x7B\xD0\x11\x9E\x0C\x00\xA0\xC9\x22\xE6\xEC"
                            "\x11\xFD\x01\x7C\xAA\x7B\xD0\x11\x9E\x0C\x00\xA0\xC9\x22\xE6\xEC",
                            32);
    constexpr std::size_t kDirectory = 0x78, kChunk = 0xCC, kChunkSize = 0x200;
    constexpr std::size_t kContent = kChunk + kChunkSize;
    ByteWriter out;
    out.PutText(0, "ITSF").PutU32(4, 3).PutU32(8, 0x60).PutU32(12, 1).PutText(0x18, guids);
    out.PutU32(0x38, 0x60).PutU32(0x40, 0x18).PutU32(0x48, kDirectory).PutU32(0x58, kContent);
    out.PutU32(0x60, 0x1FE).PutU32(0x68, kContent + data.size());
    out.PutText(kDirectory, "ITSP").PutU32(kDirectory + 0x10, kChunkSize);
    out.PutU32(kDirectory + 0x1C, 0xFFFFFFFF).PutU32(kDirectory + 0x2C, 1);
    out.PutText(kChunk, "PMGL").PutU32(kChunk + 12, 0xFFFFFFFF).PutU32(kChunk + 16, 0xFFFFFFFF);
    // Name length, name, section 0, offset 0, length 1024 as 7-bit groups.
    out.PutCountedText(kChunk + 0x14, "/SERVER.NLM").PutBytes(kChunk + 0x20, {0, 0, 0x88, 0});
    return out.PutU16(kChunk + kChunkSize - 2, 1).PutBytes(kContent, data).Data();
}

// What looking inside one file gave: its lines with directory lines as
// "[path]", its reports, and its problems as "container: reason", with the
// folder of the file taken off every path.
struct Look {
    bool container = false;
    testing::RecordingSink sink;
    std::vector<std::string> problems;
    std::vector<std::string> reported; // the names of the members reported, in order
};

Look LookInside(const std::string& path, ContainerLimits limits = {}, int stopAfter = -1) {
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    Look look;
    QuillScan scanner(look.sink, {.brief = true});
    std::atomic<bool> stop = false;
    scanner.SetStopFlag(&stop);
    ContainerHooks hooks;
    hooks.directory = [&](const std::string& directory) {
        look.sink.lines.push_back("[" + directory.substr(folder.size()) + "]");
    };
    hooks.member = [&](const std::string& member, bool reported) {
        if (reported)
            look.reported.push_back(member.substr(member.rfind('/') + 1));
        stop = --stopAfter == 0;
    };
    hooks.problem = [&](const std::string& container, const std::string& reason) {
        look.problems.push_back(container.substr(folder.size()) + ": " + reason);
    };
    ContainerExplorer explorer(scanner, hooks, limits);
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    look.container = explorer.LookInsideFile(descriptor, path);
    ::close(descriptor);
    return look;
}

// How a row makes its file: a shell command run in a folder of its own, with
// $TREE the tree and $OUT the file to make, or bytes written here. The tree
// is made first.
struct Maker {
    std::string file;
    std::string command;
    Bytes bytes{};
};

std::string Make(const fixtures::TempTree& work, const Maker& maker) {
    Tree();
    const std::string out = work.RootWithSeparator() + maker.file;
    if (!maker.command.empty()) {
        ::setenv("OUT", out.c_str(), 1);
        ::setenv("SCRIPT", maker.command.c_str(), 1);
        EXPECT_EQ(std::system("cd \"${OUT%/*}\" && bash -ec \"$SCRIPT\""), 0) << maker.command;
    } else {
        fixtures::WriteFile(out, maker.bytes);
    }
    return out;
}

template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

struct FormatRow {
    const char* name;
    Maker maker;
    std::vector<std::string> members = {"SERVER.NLM", "DRIVER.NLM", "README.TXT"};
};

class FormatTest : public ::testing::TestWithParam<FormatRow> {};

// Each member gives the report its file gives on disk, and nothing is amiss.
TEST_P(FormatTest, MembersReportAsTheirFiles) {
    const fixtures::TempTree work;
    const Look look = LookInside(Make(work, GetParam().maker));
    EXPECT_EQ(look.problems, std::vector<std::string>{});
    std::vector<std::string> got, want;
    for (const std::string& line : look.sink.lines) {
        if (!line.starts_with('['))
            got.push_back(line);
    }
    for (const std::string& member : GetParam().members)
        want.push_back(TreeLine(member));
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

const std::string kAll = "cd \"$TREE\" && ";
const std::string kMkfsFat = "mkfs.fat -C \"$OUT\" ";
const std::string kCopyToFat = " >/dev/null && mcopy -s -m -i \"$OUT\" \"$TREE\"/* ::/";

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatTest,
    ::testing::Values(
        FormatRow{"zip", {"T.ZIP", kAll + "bsdtar --format zip -cf \"$OUT\" *"}},
        FormatRow{"zip_behind_stub",
                  {"SETUP.EXE", kAll + "(printf MZ; head -c 999 /dev/zero; bsdtar --format zip "
                                       "--options zip:compression=store -cf - *) > \"$OUT\""}},
        FormatRow{"sevenzip", {"T.7Z", kAll + "bsdtar --format 7zip -cf \"$OUT\" *"}},
        FormatRow{"tar_gzip", {"T.TGZ", kAll + "bsdtar -czf \"$OUT\" *"}},
        FormatRow{"cpio_odc", {"T.CPI", kAll + "bsdtar --format odc -cf \"$OUT\" *"}},
        FormatRow{"cpio_newc", {"T.CPI", kAll + "bsdtar --format newc -cf \"$OUT\" *"}},
        FormatRow{"cpio_binary", {"T.CPI", kAll + "bsdtar --format bin -cf \"$OUT\" *"}},
        FormatRow{"iso9660_rock_ridge_joliet",
                  {"T.ISO", "xorriso -as mkisofs -quiet -r -J -o \"$OUT\" \"$TREE\" 2>/dev/null"}},
        FormatRow{"cabinet_mszip",
                  {"T.CAB", kAll + "gcab -c -z \"$OUT\" SERVER.NLM SUB/DRIVER.NLM README.TXT"}},
        FormatRow{
            "fat12_floppy_deleted_file_passed_over",
            {"FLOPPY.IMG", kMkfsFat + "1440" + kCopyToFat +
                               " && mcopy -i \"$OUT\" \"$TREE/README.TXT\" ::/GONE.TXT && mdel "
                               "-i \"$OUT\" ::/GONE.TXT"}},
        FormatRow{"fat16_volume", {"FAT16.IMG", kMkfsFat + "-F 16 20480" + kCopyToFat}},
        FormatRow{"fat32_behind_mbr",
                  {"DISK.IMG", "truncate -s 40M \"$OUT\"; echo start=2048,type=c | sfdisk -q "
                               "\"$OUT\"; mkfs.fat -F 32 --offset 2048 \"$OUT\" 39936 >/dev/null; "
                               "mcopy -s -m -i \"$OUT\"@@1M \"$TREE\"/* ::/"}},
        FormatRow{"ext4", {"EXT4.IMG", "mkfs.ext4 -q -d \"$TREE\" \"$OUT\" 1M 2>/dev/null"}},
        FormatRow{"gzip_stream",
                  {"SERVER.NLM.gz", "gzip -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
                  {"SERVER.NLM"}},
        FormatRow{"bzip2_stream",
                  {"SERVER.NLM.bz2", "bzip2 -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
                  {"SERVER.NLM"}},
        FormatRow{"xz_stream",
                  {"SERVER.NLM.xz", "xz -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
                  {"SERVER.NLM"}},
        FormatRow{"szdd_takes_back_lost_character",
                  {"SERVER.NL_", "", MakeSzdd(kServerModule, 'M')},
                  {"SERVER.NLM"}},
        FormatRow{"kwaj_with_name", {"SERVER.NL_", "", MakeKwaj(kServerModule)}, {"SERVER.NLM"}},
        FormatRow{"lha", {"T.LZH", "", MakeLha(kServerModule, "SERVER.NLM")}, {"SERVER.NLM"}},
        FormatRow{"chm", {"T.CHM", "", MakeChm(kServerModule)}, {"SERVER.NLM"}}),
    RowName<FormatRow>);

// Folders in the container's order, a directory line whenever the folder
// changes, a container inside a container under its own path.
TEST(LookInsideTest, DirectoryLinesFollowTheFolders) {
    const fixtures::TempTree work;
    const Look look = LookInside(
        Make(work, {"T.ZIP", "bsdtar --format zip -cf IN.ZIP -C \"$TREE\" README.TXT && bsdtar "
                             "--format zip -cf \"$OUT\" -C \"$TREE\" SERVER.NLM README.TXT "
                             "SUB/DRIVER.NLM -C \"$PWD\" IN.ZIP -C \"$TREE\" README.TXT"}));
    const std::vector<std::string> want = {"[T.ZIP/]",
                                           TreeLine("SERVER.NLM"),
                                           TreeLine("README.TXT"),
                                           "[T.ZIP/SUB/]",
                                           TreeLine("DRIVER.NLM"),
                                           "[T.ZIP/]",
                                           look.sink.lines.at(6),
                                           "[T.ZIP/IN.ZIP/]",
                                           TreeLine("README.TXT"),
                                           "[T.ZIP/]",
                                           TreeLine("README.TXT")};
    EXPECT_EQ(look.sink.lines, want);
}

// A member larger than kMaxMemberInMemory goes on in a temporary file: a zip
// of 65 MiB inside a zip is entered, its first member read back from there.
TEST(LookInsideTest, LargeMemberReadThroughTemporaryFile) {
    const fixtures::TempTree work;
    const Look look = LookInside(
        Make(work,
             {"T.ZIP", "head -c 67108900 /dev/zero > FILL; bsdtar --format zip --options "
                       "zip:compression=store -cf IN.ZIP -C \"$TREE\" SERVER.NLM -C \"$PWD\" FILL; "
                       "bsdtar --format zip -cf \"$OUT\" IN.ZIP"}));
    EXPECT_EQ(look.problems, std::vector<std::string>{});
    EXPECT_EQ(look.reported, (std::vector<std::string>{"IN.ZIP", "SERVER.NLM", "FILL"}));
}

struct LimitRow {
    const char* name;
    Maker maker;
    ContainerLimits limits;
    std::vector<std::string> reports;  // the names reported, in order
    std::vector<std::string> problems; // the start of each problem
    int stopAfter = -1;                // members before the stop flag is set
    bool container = true;
};

class LimitTest : public ::testing::TestWithParam<LimitRow> {};

TEST_P(LimitTest, ReadsWhatItMayAndSaysWhyOnce) {
    const fixtures::TempTree work;
    const LimitRow& row = GetParam();
    const Look look = LookInside(Make(work, row.maker), row.limits, row.stopAfter);
    EXPECT_EQ(look.container, row.container);
    EXPECT_EQ(look.reported, row.reports);
    ASSERT_EQ(look.problems.size(), row.problems.size()) << ::testing::PrintToString(look.problems);
    for (std::size_t i = 0; i < row.problems.size(); ++i)
        EXPECT_TRUE(look.problems[i].starts_with(row.problems[i])) << look.problems[i];
}

const std::string kZip = "bsdtar --format zip --options zip:compression=store -cf \"$OUT\" -C "
                         "\"$TREE\" SERVER.NLM SUB/DRIVER.NLM README.TXT";
const std::string kTar = "bsdtar -cf \"$OUT\" -C \"$TREE\" ";
const std::vector<std::string> kAllNames = {"SERVER.NLM", "DRIVER.NLM", "README.TXT"};
const std::vector<std::string> kFirstTwo = {"SERVER.NLM", "DRIVER.NLM"};

INSTANTIATE_TEST_SUITE_P(
    Limits, LimitTest,
    ::testing::Values(
        LimitRow{"fourth_level_entered_fifth_reported",
                 {"L1.ZIP", "bsdtar --format zip -cf L5.ZIP -C \"$TREE\" SERVER.NLM; for i in 4 3 "
                            "2; do bsdtar --format zip -cf L$i.ZIP L$((i+1)).ZIP; done; bsdtar "
                            "--format zip -cf \"$OUT\" L2.ZIP"},
                 {},
                 {"L2.ZIP", "L3.ZIP", "L4.ZIP", "L5.ZIP"},
                 {"L1.ZIP/L2.ZIP/L3.ZIP/L4.ZIP/L5.ZIP: nested more than 4 levels deep; not "
                  "looked inside"}},
        LimitRow{"members_last_allowed", {"T.ZIP", kZip}, {.maxMembers = 3}, kAllNames, {}},
        LimitRow{"members_first_refused",
                 {"T.ZIP", kZip},
                 {.maxMembers = 2},
                 kFirstTwo,
                 {"T.ZIP: more than 2 members; the rest is skipped"}},
        LimitRow{"expansion_last_allowed", {"T.ZIP", kZip}, {.maxExpand = 2057}, kAllNames, {}},
        LimitRow{"expansion_first_refused",
                 {"T.ZIP", kZip},
                 {.maxExpand = 2056},
                 kFirstTwo,
                 {"T.ZIP: more than 2056 bytes decompressed; the rest is skipped"}},
        LimitRow{"path_climbing_out_refused",
                 {"T.TAR", kTar + "-s \",^SERVER,../SERVER,\" SERVER.NLM README.TXT"},
                 {},
                 {"README.TXT"},
                 {"T.TAR: refused path with \"..\": ../SERVER.NLM"}},
        LimitRow{"path_from_root_refused",
                 {"T.TAR", kTar + "-P -s \",^SERVER,/SERVER,\" SERVER.NLM README.TXT"},
                 {},
                 {"README.TXT"},
                 {"T.TAR: refused path from the root: /SERVER.NLM"}},
        LimitRow{"path_with_control_character_refused",
                 {"T.TAR", kTar + "-s \",^SERVER,SER$(printf '\\001')VER,\" SERVER.NLM README.TXT"},
                 {},
                 {"README.TXT"},
                 {"T.TAR: refused path with a control character: SER?VER.NLM"}},
        LimitRow{"truncated_zip_said_once",
                 {"T.ZIP", kZip + "; head -c 1600 \"$OUT\" > CUT; mv CUT \"$OUT\""},
                 {},
                 kFirstTwo,
                 {"T.ZIP: SUB/DRIVER.NLM: "}},
        LimitRow{"encrypted_zip_said_once",
                 {"T.ZIP", "bsdtar --format zip --options zip:encryption=zipcrypt --passphrase x "
                           "-cf \"$OUT\" -C \"$TREE\" SERVER.NLM README.TXT"},
                 {},
                 {},
                 {"T.ZIP: encrypted member SERVER.NLM"}},
        LimitRow{"cabinet_block_continued_in_missing_cabinet",
                 {"T.CAB", "head -c 40000 /dev/zero > BIG; cp \"$TREE/README.TXT\" .; gcab -c "
                           "\"$OUT\" BIG README.TXT; at=$(od -An -tu4 -j36 -N4 \"$OUT\"); printf "
                           "'\\0\\0\\0\\0\\0\\0\\0\\0' | dd of=\"$OUT\" bs=1 seek=$((at)) "
                           "conv=notrunc status=none"},
                 {},
                 {},
                 {"T.CAB: BIG: damaged"}},
        LimitRow{"stop_between_members", {"T.ZIP", kZip}, {}, {"SERVER.NLM"}, {}, 1},
        LimitRow{
            "program_is_no_container", {"D.EXE", "", Module("D.EXE", "x")}, {}, {}, {}, -1, false},
        LimitRow{"boot_sector_alone_is_no_container",
                 {"BOOTSECT.DOS", "mkfs.fat -C F 1440 >/dev/null; head -c 512 F > \"$OUT\""},
                 {},
                 {},
                 {},
                 -1,
                 false}),
    RowName<LimitRow>);

} // namespace
} // namespace kestrel
