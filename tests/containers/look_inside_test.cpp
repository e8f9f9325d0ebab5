// Looking inside containers: every format read end to end from containers
// made at test time by Debian's tools (or, where no tool writes the format,
// from a few bytes written here), and every limit at its edge.

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "look_inside.h"
#include "member_store.h"
#include "recording_sink.h"
#include "sample_builder.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using fixtures::Bytes;

// 1995-06-01 12:00:00 UTC (the tests run in UTC): an even second, which the
// DOS times of zip, FAT and cabinets keep.
constexpr std::int64_t kTreeTime = 802008000;

// An NLM of the tree as a description, also a member of the formats no
// Debian tool writes.
fixtures::Json Module(const std::string& name, const std::string& description) {
    return {{"path", name},
            {"format", "nlm"},
            {"name", name},
            {"description", description},
            {"long", fixtures::Json::array({"Console", "Main"})},
            {"version", fixtures::Json::array({4, 10, 1, 1995, 6, 1})}};
}

// The tree every container is made from, one name not ASCII; SERVER.NLM is
// 1024 bytes, with SUB/DRIVER.NLM and README.TXT 2057.
struct SampleTree : fixtures::TempTree {
    SampleTree() {
        for (const auto& path :
             {Add("SERVER.NLM", fixtures::BuildSample(Module("SERVER.NLM", "Test Server"))),
              Add("SUB/DRIVER.NLM", fixtures::BuildSample(Module("DRIVER.NLM", "Test Driver"))),
              Add("README.TXT", "Read me\r\n"),
              Add("SUB/\xC3\x9C"
                  "berwachung.txt",
                  "x")}) {
            const timespec times[2] = {{kTreeTime, 0}, {kTreeTime, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        ::setenv("TREE", Root().c_str(), 1);
        ::setenv("LC_ALL", "C.UTF-8", 1); // for the tools; this process keeps the C locale
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }
};

const fixtures::TempTree& Tree() {
    static const SampleTree tree;
    return tree;
}

// The brief report line of a tree file scanned as a file.
std::string TreeLine(const std::string& path) {
    const std::size_t name = path.rfind('/') + 1;
    testing::RecordingSink sink;
    QuillScan(sink, {.brief = true})
        .ScanFile(Tree().RootWithSeparator() + path.substr(0, name), path.substr(name));
    return sink.lines.at(0);
}

// SERVER.NLM inside one of the formats no Debian tool writes, with changes
// put over the container.
Bytes Wrapped(const std::string& format, const fixtures::Json& put = fixtures::Json::array()) {
    return fixtures::BuildSample({{"format", format},
                                  {"time", "1995-06-01 12:00:00"},
                                  {"member", Module("SERVER.NLM", "Test Server")},
                                  {"put", put}});
}

// What looking inside one file gave: its report lines, the names of the
// members reported, and its problems as "container: reason", with the folder
// of the file taken off.
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

struct FormatRow {
    const char* name;
    Maker maker;
    std::vector<std::string> members = {"SERVER.NLM", "SUB/DRIVER.NLM", "README.TXT",
                                        "SUB/\xC3\x9C"
                                        "berwachung.txt"};
};

class FormatTest : public ::testing::TestWithParam<FormatRow> {};

// Each member gives the report its file gives on disk, and nothing is amiss.
// An SZDD file and a zip inside a zip are the golden output's samples.
TEST_P(FormatTest, MembersReportAsTheirFiles) {
    const fixtures::TempTree work;
    const Look look = LookInside(Make(work, GetParam().maker));
    EXPECT_EQ(look.problems, std::vector<std::string>{});
    std::vector<std::string> want;
    for (const std::string& member : GetParam().members)
        want.push_back(TreeLine(member));
    EXPECT_THAT(look.sink.lines, ::testing::UnorderedElementsAreArray(want));
}

const std::string kAll = "cd \"$TREE\" && ";
const std::string kMkfsFat = "mkfs.fat -C \"$OUT\" ";
const std::string kCopyToFat = " >/dev/null && mcopy -s -m -i \"$OUT\" \"$TREE\"/* ::/";
// The raw image made in $OUT turned into a virtual disk file of the format named after it.
const std::string kConvertTo = " && mv \"$OUT\" RAW && qemu-img convert -f raw RAW \"$OUT\" -O ";

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
                  {"T.CAB", kAll + "gcab -c -z \"$OUT\" SERVER.NLM SUB/* README.TXT"}},
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
        FormatRow{"ntfs",
                  {"NTFS.IMG",
                   "truncate -s 4M \"$OUT\"; mkntfs -F -Q -q \"$OUT\" 2>/dev/null; ntfscp "
                   "\"$OUT\" \"$TREE/SERVER.NLM\" SERVER.NLM >/dev/null"},
                  {"SERVER.NLM"}},
        FormatRow{"vhd_dynamic",
                  {"DISK.VHD", kMkfsFat + "-F 16 20480" + kCopyToFat + kConvertTo + "vpc"}},
        FormatRow{"vmdk_sparse",
                  {"DISK.VMDK", kMkfsFat + "-F 16 20480" + kCopyToFat + kConvertTo + "vmdk"}},
        FormatRow{"gzip_stream",
                  {"SERVER.NLM.gz", "gzip -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
                  {"SERVER.NLM"}},
        FormatRow{"bzip2_stream",
                  {"SERVER.NLM.bz2", "bzip2 -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
                  {"SERVER.NLM"}},
        FormatRow{"xz_stream",
                  {"SERVER.NLM.xz", "xz -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
                  {"SERVER.NLM"}},
        FormatRow{"kwaj_with_name", {"SERVER.KWJ", "", Wrapped("kwaj")}, {"SERVER.NLM"}},
        FormatRow{"lha", {"T.LZH", "", Wrapped("lha")}, {"SERVER.NLM"}},
        FormatRow{"chm", {"T.CHM", "", Wrapped("chm")}, {"SERVER.NLM"}},
        FormatRow{"chm_first_guid_twice_as_free_pascal_writes",
                  {"T.CHM", "", Wrapped("chm", {{{"at", 0x28}, {"u8", 0x10}}})},
                  {"SERVER.NLM"}}),
    testing::RowName());

// A member stays in memory up to kMaxMemberInMemory bytes, and members held
// at once, one inside the other, share that limit: the inner one goes on in a
// temporary file as soon as both would pass it, the outer one (alone in
// memory then) one byte past the limit.
TEST(LookInsideTest, NestedMembersShareTheMemoryLimit) {
    const std::vector<std::uint8_t> half(kMaxMemberInMemory / 2);
    MemberStore outer, inner;
    ASSERT_TRUE(outer.Append(half.data(), std::ssize(half)));
    ASSERT_TRUE(inner.Append(half.data(), std::ssize(half)));
    EXPECT_TRUE(inner.InMemory());
    ASSERT_TRUE(inner.Append(half.data(), 1));
    EXPECT_FALSE(inner.InMemory());
    EXPECT_EQ(inner.Size(), kMaxMemberInMemory / 2 + 1);
    ASSERT_TRUE(outer.Append(half.data(), std::ssize(half)));
    EXPECT_TRUE(outer.InMemory());
    ASSERT_TRUE(outer.Append(half.data(), 1));
    EXPECT_FALSE(outer.InMemory());
}

// A program with a version line and a copyright, packed by `packer`, its
// packed data damaged by `put`.
Bytes PackedProgram(const std::string& packer,
                    const fixtures::Json& put = fixtures::Json::array()) {
    const fixtures::Json program = {
        {"format", "mz"},
        {"size", 1024},
        {"put",
         {{{"at", 512}, {"lines", {"Packed Tool V2.05"}}},
          {{"at", 600}, {"text", "CoPyRiGhT=(C) Copyright 1994 Example Software"}}}}};
    return fixtures::BuildSample({{"format", packer}, {"member", program}, {"put", put}});
}

// With look-inside, the packed program's one member is the program as it
// runs, named as the file: its report shows its text.
TEST(LookInsideTest, PackedProgramReportsWhatItsUnpackedProgramSays) {
    for (const char* packer : {"lzexe", "exepack"}) {
        const fixtures::TempTree work;
        const Look look = LookInside(Make(work, {"TOOL.EXE", "", PackedProgram(packer)}));
        EXPECT_EQ(look.reported, std::vector<std::string>{"TOOL.EXE"});
        EXPECT_EQ(look.sink.reports.size(), 1u);
        EXPECT_EQ(look.problems, std::vector<std::string>{});
        for (const auto& report : look.sink.reports) {
            EXPECT_EQ(report.record.GuessText, "Packed Tool V2.05\r\n") << packer;
            EXPECT_EQ(report.record.CopyrightText, "(C) Copyright 1994 Example Software") << packer;
        }
    }
}

struct LimitRow {
    const char* name;
    Maker maker;
    ContainerLimits limits{};
    std::vector<std::string> reports{};  // the names reported, in order
    std::vector<std::string> problems{}; // the start of each problem
    int stopAfter = -1;                  // members before the stop flag is set
};

class LimitTest : public ::testing::TestWithParam<LimitRow> {};

// A file that gives neither a report nor a problem was no container.
TEST_P(LimitTest, ReadsWhatItMayAndSaysWhyOnce) {
    const fixtures::TempTree work;
    const LimitRow& row = GetParam();
    const Look look = LookInside(Make(work, row.maker), row.limits, row.stopAfter);
    EXPECT_EQ(look.container, !row.reports.empty() || !row.problems.empty());
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
        // A member larger than kMaxMemberInMemory goes on in a temporary file:
        // a zip of 65 MiB inside is entered, its first member read from there.
        LimitRow{"member_over_64_MiB_read_through_temporary_file",
                 {"T.ZIP", "head -c 67108900 /dev/zero > FILL; bsdtar --format zip --options "
                           "zip:compression=store -cf IN.ZIP -C \"$TREE\" SERVER.NLM -C \"$PWD\" "
                           "FILL; bsdtar --format zip -cf \"$OUT\" IN.ZIP"},
                 {},
                 {"IN.ZIP", "SERVER.NLM", "FILL"}},
        LimitRow{"packed_program_damaged_said",
                 {"TOOL.EXE", "", PackedProgram("lzexe", {{{"at", 32}, {"u16", 0}}})},
                 {},
                 {},
                 {"TOOL.EXE: LZEXE 0.91 program not unpacked: a match reaches before the start"}},
        LimitRow{"packed_program_expansion_refused",
                 {"TOOL.EXE", "", PackedProgram("exepack")},
                 {.maxExpand = 900},
                 {},
                 {"TOOL.EXE: more than 900 bytes decompressed"}},
        LimitRow{"program_is_no_container",
                 {"D.EXE", "", fixtures::BuildSample({{"format", "mz"}, {"size", 4096}})}},
        LimitRow{"boot_sector_alone_is_no_container",
                 {"BOOTSECT.DOS", "mkfs.fat -C F 1440 >/dev/null; head -c 512 F > \"$OUT\""}}),
    testing::RowName());

} // namespace
} // namespace kestrel
