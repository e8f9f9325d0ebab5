// Looking inside containers: every format read end to end from containers
// made at test time by Debian's tools (or, where no tool writes the format,
// from a few bytes written here), and every limit at its edge.

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "look_inside.h"
#include "member_store.h"
#include "recording_sink.h"
#include "sample_builder.h"
#include "temp_tree.h"

// Under the sanitizers a single allocation of more than 1 GiB aborts the
// tests: no reader, nor a library under one, may size a block by a crafted
// field.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=1024";
}

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
// 1024 bytes, with SUB/DRIVER.NLM and README.TXT 2057. SUB/LINK.NLM is
// another name of SERVER.NLM (a hard link), which archives that keep links
// store once.
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
        ::link((RootWithSeparator() + "SERVER.NLM").c_str(),
               (RootWithSeparator() + "SUB/LINK.NLM").c_str());
        ::setenv("TREE", Root().c_str(), 1);
        ::setenv("LC_ALL", "C.UTF-8", 1); // for the tools; this process keeps the C locale
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        // mkfs.fat, sfdisk, mkfs.ext4 and debugfs live there, off a user's PATH.
        ::setenv("PATH", (std::string(std::getenv("PATH")) + ":/usr/sbin").c_str(), 1);
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
Bytes Wrapped(const std::string& format, const fixtures::Json& put = fixtures::Json::array(),
              const std::string& method = "") {
    return fixtures::BuildSample({{"format", format},
                                  {"method", method},
                                  {"time", "1995-06-01 12:00:00"},
                                  {"member", Module("SERVER.NLM", "Test Server")},
                                  {"put", put}});
}

// A DOS program of 1168 bytes (its header's page counts) holding `inside` at
// 100, as an archiver's code holds an archive's header, with `behind` after
// it. Only an archive behind the program whose header checks out is one.
Bytes Program(const Bytes& inside, const Bytes& behind = {}) {
    Bytes program = fixtures::BuildSample({{"format", "mz"}, {"size", 1168}});
    std::copy(inside.begin(), inside.begin() + 64, program.begin() + 100);
    program.insert(program.end(), behind.begin(), behind.end());
    return program;
}

// SERVER.NLM in an LHA archive in LArc's -lz5-, which libarchive refuses,
// with changes put over it.
Bytes LarcLz5(const fixtures::Json& put = fixtures::Json::array()) {
    return fixtures::BuildSample({{"format", "lha"},
                                  {"method", "lz5"},
                                  {"time", "1995-06-01 12:00:00"},
                                  {"member", Module("SERVER.NLM", "Test Server")},
                                  {"put", put}});
}

// An LHA header whose byte sum does not check out.
const fixtures::Json kBadHeaderSum = {{{"at", 1}, {"u8", 0}}};

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
        std::string text = container + ": " + reason;
        for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder))
            text.erase(at, folder.size());
        look.problems.push_back(text);
    };
    ContainerExplorer explorer(scanner, hooks, limits);
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    look.container = explorer.LookInsideFile(descriptor, path);
    ::close(descriptor);
    return look;
}

// How a row makes its file: bytes written here, or a shell command run in a
// folder of its own, with $TREE the tree and $OUT the file to make, or both,
// the command changing the bytes. The tree is made first.
struct Maker {
    std::string file;
    std::string command;
    Bytes bytes{};
};

std::string Make(const fixtures::TempTree& work, const Maker& maker) {
    Tree();
    const std::string out = work.RootWithSeparator() + maker.file;
    if (!maker.bytes.empty())
        fixtures::WriteFile(out, maker.bytes);
    if (!maker.command.empty()) {
        ::setenv("OUT", out.c_str(), 1);
        ::setenv("SCRIPT", maker.command.c_str(), 1);
        EXPECT_EQ(std::system("cd \"${OUT%/*}\" && bash -ec \"$SCRIPT\""), 0) << maker.command;
    }
    return out;
}

struct FormatRow {
    const char* name;
    Maker maker;
    std::vector<std::string> members = {"SERVER.NLM", "SUB/DRIVER.NLM", "SUB/LINK.NLM",
                                        "README.TXT",
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
// ARJ keeps names in the DOS code page, a hard link without its data, and
// on Linux a Unix time that 7-Zip reads as a DOS one: a copy of the
// programs.
const std::string kArj =
    "cp -r \"$TREE\" T && rm T/*.TXT T/SUB/*.txt && cd T && arj a -r -y >/dev/null ";
const std::vector<std::string> kArjMembers = {"SERVER.NLM", "SUB/DRIVER.NLM", "SUB/LINK.NLM"};
// The raw image made in $OUT turned into a virtual disk file of the format named after it.
const std::string kConvertTo = " && mv \"$OUT\" RAW && qemu-img convert -f raw RAW \"$OUT\" -O ";

// The raw floppy made in $OUT turned into the floppy image format named after it.
std::string FloppyAs(const std::string& type) {
    return kMkfsFat + "1440" + kCopyToFat + " && mv \"$OUT\" RAW && dsktrans -itype raw -otype " +
           type + " RAW \"$OUT\" >/dev/null 2>&1";
}

// Fails the maker unless the ARC archive made holds a member in this method.
const std::string kArcHas = "; arc v \"$OUT\" | grep -q ";
// Fails the maker unless ARC itself extracts SERVER.NLM as it is.
const std::string kArcExtracts =
    "mkdir X && cd X && arc x \"$OUT\" >/dev/null && cmp SERVER.NLM \"$TREE/SERVER.NLM\"";
// unar takes no archive whose first member grew, as bytes alone crushed do:
// U.ARC is $OUT behind an empty stored member (of 1980-01-01), for unar.
const std::string kForUnar =
    "{ printf '\\032\\002E'; head -c 16 /dev/zero; printf '\\041'; head -c 9 /dev/zero; cat "
    "\"$OUT\"; } > U.ARC && unar -q -o - U.ARC";
// Fails the maker unless unar extracts SERVER.NLM as it is.
const std::string kUnarReads = kForUnar + " | cmp - \"$TREE/SERVER.NLM\"";
// Fails the maker unless nomarch extracts SERVER.NLM as it is.
const std::string kNomarchReads = "nomarch -p \"$OUT\" | cmp - \"$TREE/SERVER.NLM\"";
// The raw image made in $OUT acquired as an evidence file of one segment.
const std::string kAcquire =
    " && mv \"$OUT\" RAW.IMG && ewfacquire -u -q -t \"${OUT%.E01}\" RAW.IMG >/dev/null";

// A Windows program with an RCDATA resource of `size` bytes (IExpress keeps
// its cabinet in the one named "CABINET"), and commands that put the cabinet
// gcab makes of the tree into the resource or behind the program.
fixtures::ByteWriter ProgramWithResource(const std::string& name, std::size_t size) {
    return fixtures::BuildImage({{"format", "pe"}, {"rcdata", {{"name", name}, {"size", size}}}});
}
const std::string kCabinetOfTree =
    "cd \"$TREE\" && gcab -c -z \"$OUT.CAB\" SERVER.NLM SUB/* README.TXT && ";
std::string CabinetInResource(const fixtures::ByteWriter& program) {
    return kCabinetOfTree + "dd if=\"$OUT.CAB\" of=\"$OUT\" conv=notrunc status=none bs=1 seek=" +
           std::to_string(program.marks.at("rcdata"));
}
const fixtures::ByteWriter kIExpress = ProgramWithResource("CABINET", 8192);
// WinRAR's self-extractors are larger than the first 384 KiB searched behind the DOS image.
Bytes BehindLargeProgram(const Bytes& archive) {
    Bytes program = ProgramWithResource("PICTURE", 0x70000).Data();
    program.insert(program.end(), archive.begin(), archive.end());
    return program;
}

// The tree burnt as raw 2352-byte sectors of `mode` (MODE2: form 1): sync,
// the address from 00:02:00 in BCD, the mode, MODE2's subheader, the user
// data, error codes left zero.
std::string RawCd(int mode) {
    return std::string(
               "xorriso -as mkisofs -quiet -r -J -o ISO \"$TREE\" 2>/dev/null; python3 -c '") +
           R"(import sys; d = open("ISO", "rb").read(); o = open(sys.argv[1], "wb"); m = )" +
           std::to_string(mode) + R"(
bcd = lambda v: v // 10 * 16 + v % 10
sub = b"\0\0\x08\0" * 2 if m == 2 else b""
for i in range(len(d) // 2048):
    a = i + 150
    o.write(b"\0" + b"\xff" * 10 + b"\0" + bytes(map(bcd, (a // 4500, a // 75 % 60, a % 75))) +
            bytes([m]) + sub + d[i * 2048:i * 2048 + 2048] + bytes(288 - len(sub))))" +
           "' \"$OUT\"";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatTest,
    ::testing::ValuesIn(std::vector<FormatRow>{
        {"zip", {"T.ZIP", kAll + "bsdtar --format zip -cf \"$OUT\" *"}},
        {"zip_behind_stub",
         {"SETUP.EXE", kAll + "(printf MZ; head -c 999 /dev/zero; bsdtar --format zip --options "
                              "zip:compression=store -cf - *) > \"$OUT\""}},
        {"sevenzip", {"T.7Z", kAll + "bsdtar --format 7zip -cf \"$OUT\" *"}},
        {"sevenzip_behind_stub",
         {"SETUP.EXE",
          kAll + "(printf MZ; head -c 999 /dev/zero; bsdtar --format 7zip -cf - *) > \"$OUT\""}},
        {"tar_gzip", {"T.TGZ", kAll + "bsdtar -czf \"$OUT\" *"}},
        {"tar_v7", {"T.TAR", kAll + "bsdtar --format v7 -cf \"$OUT\" *"}},
        {"cpio_odc", {"T.CPI", kAll + "bsdtar --format odc -cf \"$OUT\" *"}},
        {"cpio_newc", {"T.CPI", kAll + "bsdtar --format newc -cf \"$OUT\" *"}},
        {"cpio_binary", {"T.CPI", kAll + "bsdtar --format bin -cf \"$OUT\" *"}},
        {"iso9660_rock_ridge_joliet",
         {"T.ISO", "xorriso -as mkisofs -quiet -r -J -o \"$OUT\" \"$TREE\" 2>/dev/null"}},
        {"raw_cd_mode1", {"T.BIN", RawCd(1)}},
        {"raw_cd_mode2_form1", {"T.BIN", RawCd(2)}},
        {"cabinet_mszip", {"T.CAB", kAll + "gcab -c -z \"$OUT\" SERVER.NLM SUB/* README.TXT"}},
        {"cabinet_in_iexpress_resource",
         {"SETUP.EXE", CabinetInResource(kIExpress), kIExpress.Data()}},
        {"cabinet_behind_program",
         {"SETUP.EXE", kCabinetOfTree + "cat \"$OUT.CAB\" >> \"$OUT\"",
          fixtures::BuildSample({{"format", "pe"}})}},
        {"rar_behind_large_program",
         {"SFX.EXE", "", BehindLargeProgram(Wrapped("rar"))},
         {"SERVER.NLM"}},
        {"fat12_floppy_deleted_file_passed_over",
         {"FLOPPY.IMG", kMkfsFat + "1440" + kCopyToFat +
                            " && mcopy -i \"$OUT\" \"$TREE/README.TXT\" ::/GONE.TXT && mdel -i "
                            "\"$OUT\" ::/GONE.TXT"}},
        {"fat16_volume_label_no_member",
         {"FAT16.IMG", kMkfsFat + "-n KESTREL -F 16 20480" + kCopyToFat}},
        {"fat32_behind_mbr",
         {"DISK.IMG",
          "truncate -s 40M \"$OUT\"; echo start=2048,type=c | sfdisk -q \"$OUT\"; mkfs.fat -F 32 "
          "--offset 2048 \"$OUT\" 39936 >/dev/null; mcopy -s -m -i \"$OUT\"@@1M \"$TREE\"/* ::/"}},
        {"ext4", {"EXT4.IMG", "mkfs.ext4 -q -d \"$TREE\" \"$OUT\" 1M 2>/dev/null"}},
        {"ntfs",
         {"NTFS.IMG", "truncate -s 4M \"$OUT\"; mkntfs -F -Q -q \"$OUT\" 2>/dev/null; ntfscp "
                      "\"$OUT\" \"$TREE/SERVER.NLM\" SERVER.NLM >/dev/null"},
         {"SERVER.NLM"}},
        {"imd_floppy", {"T.IMD", FloppyAs("imd")}},
        {"teledisk_floppy", {"T.TD0", FloppyAs("tele")}},
        {"vhd_dynamic", {"DISK.VHD", kMkfsFat + "-F 16 20480" + kCopyToFat + kConvertTo + "vpc"}},
        {"vmdk_sparse", {"DISK.VMDK", kMkfsFat + "-F 16 20480" + kCopyToFat + kConvertTo + "vmdk"}},
        {"qcow2", {"DISK.QCOW", kMkfsFat + "-F 16 20480" + kCopyToFat + kConvertTo + "qcow2"}},
        {"vdi", {"DISK.VDI", kMkfsFat + "-F 16 20480" + kCopyToFat + kConvertTo + "vdi"}},
        {"zip_deflate64", {"T.ZIP", kAll + "7z a -tzip -mm=Deflate64 \"$OUT\" * >/dev/null"}},
        {"zip_deflate64_behind_stub",
         {"SETUP.EXE", kAll +
                           "7z a -tzip -mm=Deflate64 \"$OUT.Z\" * >/dev/null && (printf MZ; head "
                           "-c 999 /dev/zero; cat \"$OUT.Z\") > \"$OUT\" && rm \"$OUT.Z\""}},
        {"arj", {"T.ARJ", kArj + "\"$OUT\""}, kArjMembers},
        {"arj_behind_stub",
         {"SFX.EXE", kArj +
                         "A.ARJ && (printf 'MZ\\0\\0\\2\\0'; head -c 1018 /dev/zero; cat A.ARJ) > "
                         "\"$OUT\" && rm A.ARJ"},
         kArjMembers},
        {"nsis",
         {"SETUP.EXE",
          "printf 'Unicode true\\nOutFile \"%s\"\\nSection\\nSetOutPath $INSTDIR\\nFile /r "
          "\"%s/*\"\\nSectionEnd\\n' \"$OUT\" \"$TREE\" > S.NSI && makensis -V1 S.NSI"}},
        {"vhdx", {"DISK.VHDX", kMkfsFat + "-F 16 20480" + kCopyToFat + kConvertTo + "vhdx"}},
        {"e01", {"DISK.E01", kMkfsFat + "-F 16 20480" + kCopyToFat + kAcquire}},
        {"gzip_stream",
         {"SERVER.NLM.gz", "gzip -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
         {"SERVER.NLM"}},
        {"bzip2_stream",
         {"SERVER.NLM.bz2", "bzip2 -c \"$TREE/SERVER.NLM\" > \"$OUT\""},
         {"SERVER.NLM"}},
        {"xz_stream", {"SERVER.NLM.xz", "xz -c \"$TREE/SERVER.NLM\" > \"$OUT\""}, {"SERVER.NLM"}},
        {"kwaj_with_name", {"SERVER.KWJ", "", Wrapped("kwaj")}, {"SERVER.NLM"}},
        {"lha", {"T.LZH", "", Wrapped("lha")}, {"SERVER.NLM"}},
        {"zip_shrunk",
         {"T.ZIP", "", Wrapped("zip", fixtures::Json::array(), "shrink")},
         {"SERVER.NLM"}},
        {"zip_imploded",
         {"T.ZIP", "", Wrapped("zip", fixtures::Json::array(), "implode")},
         {"SERVER.NLM"}},
        {"lha_lz5_through_liblhasa", {"T.LZH", "", LarcLz5()}, {"SERVER.NLM"}},
        {"lha_behind_stub",
         {"SFX.EXE", "", Program(Wrapped("lha", kBadHeaderSum), Wrapped("lha"))},
         {"SERVER.NLM"}},
        {"chm", {"T.CHM", "", Wrapped("chm")}, {"SERVER.NLM"}},
        {"arc_crunched_and_stored",
         {"T.ARC", kAll + "arc a \"$OUT\" SERVER.NLM README.TXT >/dev/null" + kArcHas + "Crunched"},
         {"SERVER.NLM", "README.TXT"}},
        // ARC 1 to 4's first crunching, each read by nomarch as well.
        {"arc_first_crunch_method_5",
         {"T.ARC", kNomarchReads, Wrapped("arc", fixtures::Json::array(), "5")},
         {"SERVER.NLM"}},
        {"arc_first_crunch_method_6_packed",
         {"T.ARC", kNomarchReads, Wrapped("arc", fixtures::Json::array(), "6")},
         {"SERVER.NLM"}},
        {"arc_first_crunch_method_7_fast_hash",
         {"T.ARC", kArcExtracts, Wrapped("arc", fixtures::Json::array(), "7")},
         {"SERVER.NLM"}},
        // PAK's crushing, which unar reads.
        {"arc_crushed",
         {"T.ARC", kUnarReads, Wrapped("arc", fixtures::Json::array(), "10")},
         {"SERVER.NLM"}},
        {"arc_distilled",
         {"T.ARC", kUnarReads, Wrapped("arc", fixtures::Json::array(), "11")},
         {"SERVER.NLM"}},
        {"chm_first_guid_twice_as_free_pascal_writes",
         {"T.CHM", "", Wrapped("chm", {{{"at", 0x28}, {"u8", 0x10}}})},
         {"SERVER.NLM"}}}),
    testing::RowName());

// Where the members kept go while a file is looked inside: with the memory
// members may take already taken, a member kept goes to a temporary file
// from its first byte past the head.
struct TemporaryFiles {
    bool memoryTaken = false;
    const char* directory = nullptr; // TMPDIR, unset afterwards
    rlim_t sizeLimit = RLIM_INFINITY;
};

// A temporary file past the file size limit fails with EFBIG.
class TemporaryFilesAs {
public:
    explicit TemporaryFilesAs(const TemporaryFiles& files) : m_directory(files.directory) {
        if (files.memoryTaken)
            m_taken.AppendZeros(kMaxMemberInMemory);
        if (m_directory != nullptr)
            ::setenv("TMPDIR", m_directory, 1);
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_limit);
        const rlimit lower{files.sizeLimit, m_limit.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~TemporaryFilesAs() {
        ::setrlimit(RLIMIT_FSIZE, &m_limit);
        if (m_directory != nullptr)
            ::unsetenv("TMPDIR");
    }

private:
    MemberStore m_taken;
    const char* m_directory;
    rlimit m_limit{};
};

// A program with a version line, packed by `packer`, its packed data
// damaged by `put`.
Bytes PackedProgram(const std::string& packer,
                    const fixtures::Json& put = fixtures::Json::array()) {
    const fixtures::Json program = {{"format", "mz"},
                                    {"size", 1024},
                                    {"put", {{{"at", 512}, {"lines", {"Packed Tool V2.05"}}}}}};
    return fixtures::BuildSample({{"format", packer}, {"member", program}, {"put", put}});
}

// An ARC member as ARC writes it, dated 1995-06-01 12:00, with the CRC-16
// and length of `original`; an archive ends with kArcEnd.
Bytes ArcMember(int method, const std::string& name, const Bytes& data, const Bytes& original) {
    std::uint32_t crc = 0;
    for (const std::uint8_t byte : original) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return fixtures::ByteWriter(29)
        .PutBytes(0, {0x1A, static_cast<std::uint8_t>(method)})
        .PutText(2, name)
        .PutU32(15, static_cast<std::uint32_t>(data.size()))
        .PutU32(19, 0x60001EC1) // the DOS date and time
        .PutU16(23, static_cast<std::uint16_t>(crc))
        .PutU32(25, static_cast<std::uint32_t>(original.size()))
        .PutBytes(29, data)
        .Data();
}
const Bytes kArcEnd = {0x1A, 0};
Bytes Joined(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}
// Packed: 'A', then 0x90 and a count of 100 (99 more), then 0x90 itself.
const Bytes kPacked = {'A', 0x90, 100, 0x90, 0};
Bytes HundredAsAndMark() {
    Bytes bytes(100, 'A');
    bytes.push_back(0x90);
    return bytes;
}
// Awk's numbers from seed 1 as 4000 letters a to d: squeezing them beats crunching.
const std::string kFourLetters =
    "awk 'BEGIN{srand(1); for(i=0;i<4000;i++) printf \"%c\", 97+int(rand()*4)}' > SQ.BIN; ";

// A program of 60 KiB whose version line comes before 2000 lines of numbers,
// in ARC's `method`.
Bytes BigArcMember(const std::string& method) {
    fixtures::Json lines = {"Big Tool V3.10"};
    for (int i = 0; i < 2000; ++i)
        lines.push_back("line " + std::to_string(i * 7919 % 10007));
    return fixtures::BuildSample({{"format", "arc"},
                                  {"method", method},
                                  {"member",
                                   {{"path", "BIG.EXE"},
                                    {"format", "mz"},
                                    {"size", 61440},
                                    {"put", {{{"at", 512}, {"lines", lines}}}}}}});
}

struct LimitRow {
    const char* name;
    Maker maker;
    const char* problem = "";           // the start of the one problem said
    std::vector<std::string> reports{}; // the names reported, in order
    ContainerLimits limits{};
    int stopAfter = -1; // members before the stop flag is set
    TemporaryFiles temporary{};
    const char* reportHolds = ""; // a text some report line holds
};

class LimitTest : public ::testing::TestWithParam<LimitRow> {};

// A file that gives neither a report nor a problem was no container.
TEST_P(LimitTest, ReadsWhatItMayAndSaysWhyOnce) {
    const fixtures::TempTree work;
    const LimitRow& row = GetParam();
    const std::string path = Make(work, row.maker);
    const Look look = [&] {
        const TemporaryFilesAs temporary(row.temporary);
        return LookInside(path, row.limits, row.stopAfter);
    }();
    const bool said = *row.problem != '\0';
    EXPECT_EQ(look.container, !row.reports.empty() || said);
    EXPECT_EQ(look.reported, row.reports);
    if (*row.reportHolds != '\0') {
        EXPECT_THAT(look.sink.lines, ::testing::Contains(::testing::HasSubstr(row.reportHolds)));
    }
    ASSERT_EQ(look.problems.size(), said ? 1u : 0u) << ::testing::PrintToString(look.problems);
    if (said) {
        EXPECT_TRUE(look.problems[0].starts_with(row.problem)) << look.problems[0];
    }
}

const std::string kZip = "bsdtar --format zip --options zip:compression=store -cf \"$OUT\" -C "
                         "\"$TREE\" SERVER.NLM SUB/DRIVER.NLM README.TXT";
const std::string kTar = "bsdtar -cf \"$OUT\" -C \"$TREE\" ";
// $cd: where the zip's central directory starts, its first entry's; then
// kPoke writes the bytes DE 00 00 00 at the offset that follows it.
const std::string kCentralDirectory =
    "; cd=$(od -An -tu4 -j$(($(stat -c%s \"$OUT\") - 6)) -N4 \"$OUT\")";
const std::string kPoke =
    "; printf '\\336\\0\\0\\0' | dd of=\"$OUT\" bs=1 conv=notrunc status=none seek=";

// A cabinet of A.BIN (40,000 bytes) and B.NLM (SERVER.NLM, 1024) in one
// folder, B.NLM listed first.
const std::string kCabinetListedOutOfOrder =
    "head -c 40000 /dev/zero > A.BIN; cp \"$TREE/SERVER.NLM\" B.NLM; gcab -c -z \"$OUT\" A.BIN "
    "B.NLM; at=$(od -An -tu4 -j16 -N4 \"$OUT\"); { dd if=\"$OUT\" bs=1 skip=$((at+22)) count=22; "
    "dd if=\"$OUT\" bs=1 skip=$((at)) count=22; } 2>/dev/null > L; dd if=L of=\"$OUT\" bs=1 "
    "seek=$((at)) conv=notrunc status=none";

// A zip of one member of 300,000 bytes, a program (kept whole) or not; and
// a zip holding a zip of a program.
Bytes ZipOf(const std::string& path, const std::string& format) {
    return fixtures::BuildSample(
        {{"format", "zip"}, {"members", {{{"path", path}, {"format", format}, {"size", 300000}}}}});
}
const Bytes kZipInZip = fixtures::BuildSample(
    {{"format", "zip"},
     {"members",
      {{{"path", "IN.ZIP"},
        {"format", "zip"},
        {"members", {{{"path", "BIG.EXE"}, {"format", "mz"}, {"size", 300000}}}}}}}});
// IN.ZIP's 300,112 bytes and BIG.EXE's 300,000, held at once.
constexpr std::int64_t kZipInZipKept = 600112;
const TemporaryFiles kMemoryTaken{.memoryTaken = true};
const TemporaryFiles kNoTemporaryDirectory{true, "/nonexistent-kestrel-tmp"};

const std::vector<std::string> kAllNames = {"SERVER.NLM", "DRIVER.NLM", "README.TXT"};
// An ARJ of kZip's files, stored, in that order.
const std::string kArjStored = "cd \"$TREE\" && arj a -m0 -y \"$OUT\" SERVER.NLM SUB/DRIVER.NLM "
                               "README.TXT >/dev/null";
const std::vector<std::string> kFirstTwo = {"SERVER.NLM", "DRIVER.NLM"};

// Damage is written by `printf ... | dd` at a byte offset.
const std::string kAt = " | dd of=\"$OUT\" conv=notrunc status=none bs=1 seek=";
const std::string kExt4 = "mkfs.ext4 -q -d \"$TREE\" \"$OUT\" 1M 2>/dev/null; ";
const std::string kExt2 = "mkfs.ext2 -q -b 1024 -d \"$TREE\" \"$OUT\" 2M 2>/dev/null; ";
// Sets $at to where the record of `file` starts in the image (debugfs's imap;
// both images have blocks of 1024 bytes).
std::string RecordOf(const std::string& file) {
    return "at=$(debugfs -R 'imap " + file +
           "' \"$OUT\" 2>/dev/null | sed -n 's/.*block \\([0-9]*\\), offset "
           "\\(.*\\)/\\1*1024+\\2/p'); "
           "at=$((at)); ";
}
const std::string kRootRecord = RecordOf("<2>");
// The tree's files as an ext file system lists them (LINK.NLM: a hard link).
const std::vector<std::string> kAllFive = {"README.TXT", "SERVER.NLM", "DRIVER.NLM", "LINK.NLM",
                                           "\xC3\x9C"
                                           "berwachung.txt"};
const std::vector<std::string> kDriverAndServer = {"SERVER.NLM", "DRIVER.NLM", "LINK.NLM",
                                                   "\xC3\x9C"
                                                   "berwachung.txt"};

INSTANTIATE_TEST_SUITE_P(
    Limits, LimitTest,
    ::testing::ValuesIn(std::vector<LimitRow>{
        {"fourth_level_entered_fifth_reported",
         {"L1.ZIP", "bsdtar --format zip -cf L5.ZIP -C \"$TREE\" SERVER.NLM; for i in 4 3 2; do "
                    "bsdtar --format zip -cf L$i.ZIP L$((i+1)).ZIP; done; cp L2.ZIP M2.ZIP; bsdtar "
                    "--format zip -cf \"$OUT\" L2.ZIP M2.ZIP"},
         "L1.ZIP: 2 problems; first: L1.ZIP/L2.ZIP/L3.ZIP/L4.ZIP/L5.ZIP: nested more than 4 levels "
         "deep; not looked inside",
         {"L2.ZIP", "L3.ZIP", "L4.ZIP", "L5.ZIP", "M2.ZIP", "L3.ZIP", "L4.ZIP", "L5.ZIP"}},
        {"members_last_allowed", {"T.ZIP", kZip}, "", kAllNames, {.maxMembers = 3}},
        {"arj_member_failing_its_crc_said_and_scanned",
         {"T.ARJ", kArjStored + "; printf X" + kAt + "$(($(stat -c%s \"$OUT\") - 5))"},
         "T.ARJ: README.TXT: CRC check failed",
         kAllNames},
        {"arj_expansion_first_refused",
         {"T.ARJ", kArjStored},
         "T.ARJ: more than 2056 bytes decompressed; the rest is skipped",
         kFirstTwo,
         {.maxExpand = 2056}},
        // An MSI database's streams are its members: the cabinets, looked
        // inside, and the tables.
        {"msi_cabinet_stream",
         {"T.MSI",
          "gcab -c -n D.CAB \"$TREE/SERVER.NLM\" && msibuild \"$OUT\" -s T T 'Intel;1033' "
          "'{12345678-1234-1234-1234-123456789012}' && msibuild \"$OUT\" -a disk1.cab D.CAB"},
         "",
         {"disk1.cab", "SERVER.NLM", "!_Tables", "!_StringData", "!_StringPool",
          "[5]SummaryInformation"}},
        {"arj_stop_after_first", {"T.ARJ", kArjStored}, "", {"SERVER.NLM"}, {}, 1},
        {"arj_damaged_file_header",
         {"T.ARJ", kArjStored + "; printf X" + kAt + "61"},
         "T.ARJ: damaged archive (a header does not check out)"},
        {"members_first_refused",
         {"T.ZIP", kZip},
         "T.ZIP: more than 2 members; the rest is skipped",
         kFirstTwo,
         {.maxMembers = 2}},
        {"expansion_last_allowed", {"T.ZIP", kZip}, "", kAllNames, {.maxExpand = 2057}},
        {"expansion_first_refused",
         {"T.ZIP", kZip},
         "T.ZIP: more than 2056 bytes decompressed; the rest is skipped",
         kFirstTwo,
         {.maxExpand = 2056}},
        {"path_climbing_out_refused",
         {"T.TAR", kTar + "-s \",^SERVER,../SERVER,\" SERVER.NLM README.TXT"},
         "T.TAR: refused path with \"..\": ../SERVER.NLM",
         {"README.TXT"}},
        {"path_from_root_refused",
         {"T.TAR", kTar + "-P -s \",^SERVER,/SERVER,\" SERVER.NLM README.TXT"},
         "T.TAR: refused path from the root: /SERVER.NLM",
         {"README.TXT"}},
        {"path_with_control_character_refused",
         {"T.TAR", kTar + "-s \",^SERVER,SER$(printf '\\001')VER,\" SERVER.NLM README.TXT"},
         "T.TAR: refused path with a control character: SER?VER.NLM",
         {"README.TXT"}},
        {"truncated_zip_said_once",
         {"T.ZIP", kZip + "; head -c 1600 \"$OUT\" > CUT; mv CUT \"$OUT\""},
         "T.ZIP: SUB/DRIVER.NLM: ",
         kFirstTwo},
        {"encrypted_zip_said_once",
         {"T.ZIP", "bsdtar --format zip --options zip:encryption=zipcrypt --passphrase x -cf "
                   "\"$OUT\" -C \"$TREE\" SERVER.NLM README.TXT"},
         "T.ZIP: 2 problems; first: encrypted member SERVER.NLM"},
        // Files are extracted in their folder's order, so nothing is
        // decompressed twice; what libmspack decompresses up to a file, and
        // throws away, counts all the same.
        {"cabinet_listed_out_of_order_decompressed_once",
         {"T.CAB", kCabinetListedOutOfOrder},
         "",
         {"A.BIN", "B.NLM"},
         {.maxExpand = 41024}},
        {"cabinet_bytes_before_a_file_count",
         {"T.CAB", kCabinetListedOutOfOrder +
                       "; printf '\\001' | dd of=\"$OUT\" bs=1 seek=28 conv=notrunc status=none"},
         "T.CAB: more than 41023 bytes decompressed; the rest is skipped",
         {},
         {.maxExpand = 41023}},
        {"szdd_cut_short",
         {"SERVER.NL_", "",
          fixtures::BuildSample(
              {{"format", "szdd"}, {"member", Module("SERVER.NLM", "x")}, {"cut", 600}})},
         "SERVER.NL_: SERVER.NLM: shorter than its header says: 520 of 1024 bytes",
         {"SERVER.NLM"}},
        {"szdd_unknown_method",
         {"SERVER.NL_", "", Wrapped("szdd", {{{"at", 8}, {"u8", 'B'}}})},
         "SERVER.NL_: unknown compression method 'B'"},
        // libmspack frees the header's name when it cannot read the header.
        {"kwaj_header_cut_short",
         {"CUT.EX_", "printf 'KWAJ\\210\\360\\047\\321\\2\\0' > \"$OUT\""},
         "CUT.EX_: truncated"},
        {"cabinet_block_continued_in_missing_cabinet",
         {"T.CAB",
          "head -c 40000 /dev/zero > BIG; cp \"$TREE/README.TXT\" .; gcab -c \"$OUT\" BIG "
          "README.TXT; at=$(od -An -tu4 -j36 -N4 \"$OUT\"); printf '\\0\\0\\0\\0\\0\\0\\0\\0' | dd "
          "of=\"$OUT\" bs=1 seek=$((at)) conv=notrunc status=none"},
         "T.CAB: 2 problems; first: BIG: damaged"},
        {"stop_between_members", {"T.ZIP", kZip}, "", {"SERVER.NLM"}, {}, 1},
        {"archivers_program_is_no_container",
         {"LHA.EXE", "", Program(Wrapped("lha"), Wrapped("lha", kBadHeaderSum))}},
        {"rar_with_bad_header_crc_behind_large_program_is_none",
         {"SFX.EXE", "", BehindLargeProgram(Wrapped("rar", {{{"at", 7}, {"u8", 0}}}))}},
        // The cabinet's length (at 8) reaches past its resource.
        {"cabinet_longer_than_its_resource_is_none",
         {"SETUP.EXE",
          CabinetInResource(kIExpress) + "; printf '\\1\\40'" + kAt +
              std::to_string(kIExpress.marks.at("rcdata") + 9),
          kIExpress.Data()}},
        // Damage a library finds (a checksum, a size) is said; the member is
        // still reported from what was read.
        {"zip_bad_crc_deflated",
         {"T.ZIP", "bsdtar --format zip -cf \"$OUT\" -C \"$TREE\" SERVER.NLM README.TXT" +
                       kCentralDirectory + kPoke + "$((cd+16))"},
         "T.ZIP: SERVER.NLM: ZIP bad CRC",
         {"SERVER.NLM", "README.TXT"}},
        {"zip_member_longer_than_its_header_says",
         {"T.ZIP", "bsdtar --format zip -cf \"$OUT\" -C \"$TREE\" SERVER.NLM README.TXT" +
                       kCentralDirectory + kPoke + "22" + kPoke + "$((cd+24))"},
         "T.ZIP: SERVER.NLM: longer than its header says (222 bytes); the rest is skipped",
         {"SERVER.NLM", "README.TXT"}},
        {"zip_entries_sharing_one_local_header",
         {"T.ZIP", "",
          fixtures::BuildSample({{"format", "zip"},
                                 {"members",
                                  {Module("SERVER.NLM", "Test Server"),
                                   Module("DRIVER.NLM", "Test Driver")}},
                                 {"put", {{{"at", "end-36"}, {"u32", 0}}}}})},
         "T.ZIP: 2 problems; first: 2 central directory entries share 1 local header; 1 of them "
         "skipped",
         {"SERVER.NLM"}},
        {"lha_bad_crc",
         {"T.LZH", "", Wrapped("lha", {{{"at", 40}, {"u8", 0}}})},
         "T.LZH: SERVER.NLM: LHa data CRC error",
         {"SERVER.NLM"}},
        {"gzip_bad_crc",
         {"SERVER.NLM.gz",
          "gzip -c \"$TREE/SERVER.NLM\" > \"$OUT\"" + kPoke + "$(($(stat -c%s \"$OUT\") - 8))"},
         "SERVER.NLM.gz: damaged gzip stream: incorrect data check",
         {"SERVER.NLM"}},
        // Only a program or a container is kept whole: a member read front
        // to back, of known length or not, needs no temporary file.
        {.name = "member_read_front_to_back_needs_no_temporary_file",
         .maker = {"T.ZIP", "", ZipOf("LOG.SYS", "raw")},
         .reports = {"LOG.SYS"},
         .temporary = kNoTemporaryDirectory},
        // A stream is decompressed once to learn its length and again for a
        // scanner that reads past its head, here to a version marker.
        {.name = "stream_read_twice_needs_no_temporary_file",
         .maker =
             {"T.SYS.gz",
              "{ echo Text; head -c 190000 /dev/zero; echo VeRsIoN=4.11 x; } | gzip > \"$OUT\""},
         .reports = {"T.SYS"},
         .temporary = kNoTemporaryDirectory,
         .reportHolds = "4.11 x"},
        // A member cut by a limit is reported with what was read.
        {"stream_cut_by_expansion_limit",
         {"T.TXT.gz", "yes 'A line of text' | head -c 300000 | gzip > \"$OUT\""},
         "T.TXT.gz: more than 100000 bytes decompressed; the rest is skipped",
         {"T.TXT"},
         {.maxExpand = 100000}},
        {.name = "temporary_files_last_allowed",
         .maker = {"T.ZIP", "", kZipInZip},
         .reports = {"IN.ZIP", "BIG.EXE"},
         .limits = {.maxTemp = kZipInZipKept},
         .temporary = kMemoryTaken},
        {.name = "temporary_files_first_refused",
         .maker = {"T.ZIP", "", kZipInZip},
         .problem = "T.ZIP/IN.ZIP: BIG.EXE: more than 600111 bytes in temporary files; reported "
                    "from what was kept",
         .reports = {"IN.ZIP", "BIG.EXE"},
         .limits = {.maxTemp = kZipInZipKept - 1},
         .temporary = kMemoryTaken},
        {.name = "temporary_directory_missing",
         .maker = {"T.ZIP", "", ZipOf("BIG.EXE", "mz")},
         .problem = "T.ZIP: BIG.EXE: no temporary file in /nonexistent-kestrel-tmp: ",
         .reports = {"BIG.EXE"},
         .temporary = kNoTemporaryDirectory},
        {.name = "temporary_file_past_file_size_limit",
         .maker = {"T.ZIP", "", ZipOf("BIG.EXE", "mz")},
         .problem = "T.ZIP: BIG.EXE: temporary file not written: File too large",
         .reports = {"BIG.EXE"},
         .temporary = {true, nullptr, 100000}},
        {"ext4_record_wiped",
         {"EXT4.IMG", kExt4 + RecordOf("/README.TXT") + "head -c 256 /dev/zero" + kAt + "$at"},
         "EXT4.IMG: README.TXT: damaged record",
         kDriverAndServer},
        // The superblock's s_inodes_per_group (at 1024 + 40) puts the root
        // folder's record elsewhere.
        {"ext4_inodes_per_group_odd",
         {"EXT4.IMG", kExt4 + "printf '\\1\\0\\0\\0'" + kAt + "1064"},
         "EXT4.IMG: root folder: damaged record; not a folder"},
        // The root folder's i_size (at 4 in its record) says 1 MiB, half the
        // image, over holes; its one block is read.
        {"ext2_root_claiming_1_MiB_over_holes",
         {"EXT2.IMG", kExt2 + kRootRecord + "printf '\\0\\0\\20'" + kAt + "$((at + 4))"},
         "EXT2.IMG: root folder: claims more bytes than it holds",
         kAllFive},
        // The root folder's flags (at 32) say its data is inline and its
        // i_size says 1.8 GB: TSK would allocate and zero all of it.
        {"ext4_inline_root_claiming_2_GB",
         {"EXT4.IMG", kExt4 + kRootRecord + "printf qqqq" + kAt + "$((at + 4)); printf '\\0\\0\\0\\20'" +
                          kAt + "$((at + 32))"},
         "EXT4.IMG: 2 problems; first: root folder: claims more bytes than it holds"},
        // SUB2 holds folders enough for two blocks; its second block pointer
        // (at 44 in its record) points past the image. The first block is kept.
        {"ext2_folder_read_in_part",
         {"EXT2.IMG", "cp -r \"$TREE\" T; for i in $(seq 20); do mkdir -p T/SUB2/$(printf D%059d "
                      "$i); done; mkfs.ext2 -q -b 1024 -d T \"$OUT\" 2M 2>/dev/null; " +
                          RecordOf("/SUB2") + "printf '\\377\\377\\377'" + kAt + "$((at + 44))"},
         "EXT2.IMG: SUB2/: damaged; read in part",
         kAllFive},
        // i_size 0 and i_size_high (at 108) 4 say 16 GiB, which TSK reads as 0.
        {"ext2_root_claiming_16_GiB",
         {"EXT2.IMG", kExt2 + kRootRecord + "printf '\\0\\0\\0\\0'" + kAt +
                          "$((at + 4)); printf '\\4'" + kAt + "$((at + 108))"},
         "EXT2.IMG: root folder: damaged; its entries cannot be found"},
        {"folder_holding_itself",
         {"EXT4.IMG", kExt4 + "debugfs -w -R 'link /SUB /SUB/LOOP' \"$OUT\" 2>/dev/null"},
         "EXT4.IMG: SUB/LOOP/: a folder met before (a loop); not entered",
         kAllFive},
        // The entries' size fields (at 28) claim 4 GiB; TSK passes them over and
        // they are read from their chains after the rest of the folder.
        // Files TSK passes over come after the rest of their folder.
        {"fat_entries_claiming_4_GiB",
         {"FLOPPY.IMG", kMkfsFat + "1440" + kCopyToFat +
                            "; for name in 'README  TXT' 'SERVER  NLM'; do at=$(grep -obUa "
                            "\"$name\" \"$OUT\" | cut -d: -f1); printf '\\377\\377\\377\\377'" +
                            kAt + "$((at + 28)); done"},
         "FLOPPY.IMG: 2 problems; first: README.TXT: its FAT chain ends early; 512 of 4294967295 "
         "bytes read",
         {"README.TXT", "SERVER.NLM", "DRIVER.NLM",
          "\xC3\x9C"
          "berwachung.txt",
          "LINK.NLM"}},
        // The FAT entry of BIG's second cluster leads back to its first (at 26
        // in its folder entry); BIG takes six clusters of 512 bytes.
        {"fat_chain_loop",
         {"FAT16.IMG",
          kMkfsFat +
              "-F 16 -s 1 20480 >/dev/null; head -c 3000 /dev/zero > BIG; mcopy -i \"$OUT\" BIG "
              "::/; at=$(grep -obUa 'BIG        ' \"$OUT\" | cut -d: -f1); c=$(od -An -tu2 -j$((at "
              "+ 26)) -N2 \"$OUT\"); r=$(od -An -tu2 -j14 -N2 \"$OUT\"); printf \"\\\\$(printf %o "
              "$((c & 255)))\\\\$(printf %o $((c >> 8)))\"" +
              kAt + "$((r * 512 + 2 * c + 2))"},
         "FAT16.IMG: BIG: its FAT chain loops; 1024 of 3000 bytes read",
         {"BIG"}},
        // The folders and members come to 10 KiB; TSK reads the image 64 KiB
        // at a time.
        {"image_reads_charged",
         {"FLOPPY.IMG", kMkfsFat + "1440" + kCopyToFat},
         "FLOPPY.IMG: more than 32 KiB decompressed",
         {},
         {.maxExpand = 32 * 1024}},
        // mmls lists partitions by their start, not by their slots.
        {"partitions_numbered_by_start",
         {"DISK.IMG",
          "truncate -s 16M \"$OUT\"; printf 'start=22528,type=6\\nstart=2048,size=8192,type=6\\n' "
          "| sfdisk -q \"$OUT\"; mkfs.fat --offset 22528 \"$OUT\" 9000 >/dev/null; mcopy -i "
          "\"$OUT\"@@11M \"$TREE/SERVER.NLM\" ::/"},
         "DISK.IMG: Partition 1: no file system found",
         {"SERVER.NLM"}},
        // The second extended table's link entry (at 462) leads back to itself.
        {"extended_partitions_loop",
         {"DISK.IMG",
          "truncate -s 8M \"$OUT\"; printf "
          "'start=2048,size=4096,type=6\\nstart=6144,type=5\\nstart=8192,size=2048,type=6\\nstart="
          "12288,type=6\\n' | sfdisk -q \"$OUT\"; printf '\\5\\0\\0\\0\\0\\20\\0\\0\\0\\20'" +
              kAt + "$((10240 * 512 + 466))"},
         "DISK.IMG: 4 problems; first: extended partition tables loop"},
        // The packed program's one member is the program as it runs, named as the file.
        {.name = "lzexe_program_reports_what_it_says",
         .maker = {"TOOL.EXE", "", PackedProgram("lzexe")},
         .reports = {"TOOL.EXE"},
         .reportHolds = "Packed Tool V2.05"},
        {.name = "exepack_program_reports_what_it_says",
         .maker = {"TOOL.EXE", "", PackedProgram("exepack")},
         .reports = {"TOOL.EXE"},
         .reportHolds = "Packed Tool V2.05"},
        {.name = "upx_com_program_reports_what_it_says",
         .maker = {"TOOL.COM", "",
                   fixtures::BuildSample(
                       {{"format", "upx"},
                        {"member", {{"size", 1024}, {"put", {{{"at", 512}, {"lines", {"Packed Tool V2.05"}}}}}}}})},
         .reports = {"TOOL.COM"},
         .reportHolds = "Packed Tool V2.05"},
        {"upx_program_damaged_said",
         {"TOOL.EXE", "", PackedProgram("upx", {{{"at", 80}, {"u8", 0x77}}})},
         "TOOL.EXE: UPX program not unpacked: the packed data fails its checksum"},
        {"packed_program_damaged_said",
         {"TOOL.EXE", "", PackedProgram("lzexe", {{{"at", 32}, {"u16", 0}}})},
         "TOOL.EXE: LZEXE 0.91 program not unpacked: a match reaches before the start"},
        {"packed_program_expansion_refused",
         {"TOOL.EXE", "", PackedProgram("exepack")},
         "TOOL.EXE: more than 900 bytes decompressed",
         {},
         {.maxExpand = 900}},
        // The member's second byte (after the header of 34 bytes and the flag byte).
        {"lha_lz5_crc_mismatch_said",
         {"T.LZH", "", LarcLz5({{{"at", 36}, {"u8", 0}}})},
         "T.LZH: SERVER.NLM: CRC does not match",
         {"SERVER.NLM"}},
        // libarchive warns of the cut member without a block, and must not loop.
        {"lha_lz5_cut_short_said",
         {"T.LZH", "", [] {
              Bytes cut = LarcLz5();
              cut.resize(600);
              return cut;
          }()},
         "T.LZH: 2 problems; first: SERVER.NLM: Truncated input file"},
        // libdsk opens files by name: a member is copied to a temporary file first.
        {.name = "imd_in_zip_without_temporary_directory_said",
         .maker = {"T.ZIP", FloppyAs("imd") + " && mv \"$OUT\" F.IMD && bsdtar --format zip -cf "
                                              "\"$OUT\" F.IMD"},
         .problem = "T.ZIP/F.IMD: no temporary file in /nonexistent-kestrel-tmp: ",
         .reports = {"F.IMD"},
         .temporary = {false, "/nonexistent-kestrel-tmp"}},
        // libdsk trusts an image's sizes: a cut one is walked and refused first.
        {"teledisk_cut_short_refused",
         {"T.TD0", FloppyAs("tele") + "; truncate -s 3000 \"$OUT\""},
         "T.TD0: floppy image not read: sector data cut short"},
        // AB.TXT crushed (as unar reads it): 'A' and 'B' (a 0 bit, then 8
        // bits), string 257 "AB" (a 1 bit, then 1 bit), strings then 2 bits
        // wide: 259 "ABA", the one being defined, and the end code 256.
        {"arc_packed_crushed_then_unknown_said_and_passed",
         {"T.ARC", "",
          Joined({ArcMember(3, "PACK.TXT", kPacked, HundredAsAndMark()),
                  ArcMember(10, "AB.TXT", {0x82, 0x08, 0xFD, 0}, {'A', 'B', 'A', 'B', 'A', 'B', 'A'}),
                  ArcMember(12, "X.PAK", {1, 2, 3}, {1, 2, 3, 4}),
                  ArcMember(2, "LAST.TXT", {'x'}, {'x'}), kArcEnd})},
         "T.ARC: X.PAK: method 12 not read",
         {"PACK.TXT", "AB.TXT", "LAST.TXT"}},
        // A string (a 1 bit, then 1 bit) where only a byte can come first.
        {"arc_crushed_first_code_a_string_said",
         {"T.ARC", "", Joined({ArcMember(10, "BAD.TXT", {0x03}, {'A'}), kArcEnd})},
         "T.ARC: BAD.TXT: damaged data (a first code of 257)",
         {"BAD.TXT"}},
        // Runs far enough into the data for distances of 7 more bits.
        {.name = "arc_distilled_far_matches",
         .maker = {"T.ARC", kForUnar + " >/dev/null", BigArcMember("11")},
         .reports = {"BIG.EXE"},
         .reportHolds = "Big Tool V3.10"},
        {"arc_distilled_tree_too_large_said",
         {"T.ARC", "", Joined({ArcMember(11, "BAD.TXT", {0xE8, 0x03, 10}, {'A'}), kArcEnd})},
         "T.ARC: BAD.TXT: damaged data (a tree of 1000 nodes of 10 bits)",
         {"BAD.TXT"}},
        // Two nodes of 2 bits, both 1: the root's first child leads to a
        // pair whose second child lies past the tree.
        {"arc_distilled_node_out_of_the_tree_said",
         {"T.ARC", "", Joined({ArcMember(11, "BAD.TXT", {0x02, 0x00, 2, 0x05}, {'A'}), kArcEnd})},
         "T.ARC: BAD.TXT: damaged data (a node out of the tree)",
         {"BAD.TXT"}},
        // More bytes than strings the table holds: the least used make way.
        {.name = "arc_crushed_table_filled",
         .maker = {"T.ARC", kForUnar + " >/dev/null", BigArcMember("10")},
         .reports = {"BIG.EXE"},
         .reportHolds = "Big Tool V3.10"},
        // Long enough for the table to fill and be cleared.
        {"arc_squashed",
         {"T.ARC", "seq 100000 | sed \"s/$/ Kestrel/\" > N.TXT; arc aq \"$OUT\" N.TXT >/dev/null" +
                       kArcHas + "Squashed"},
         "",
         {"N.TXT"}},
        {"arc_squeezed_crc_mismatch_said",
         {"T.ARC", kFourLetters + "arc a \"$OUT\" SQ.BIN >/dev/null" + kArcHas +
                       "Squeezed; printf '\\0'" + kAt + "23"},
         "T.ARC: SQ.BIN: CRC does not match",
         {"SQ.BIN"}},
        {"arc_truncated_member_said",
         {"T.ARC", kAll + "arc a \"$OUT\" SERVER.NLM README.TXT >/dev/null; truncate -s -40 "
                          "\"$OUT\""},
         "T.ARC: SERVER.NLM: truncated",
         {"README.TXT", "SERVER.NLM"}},
        // A member whose runs come to more than its header says.
        {"arc_longer_than_header_cut",
         {"T.ARC", "", Joined({ArcMember(3, "BOMB.TXT", kPacked, {'A'}), kArcEnd})},
         "T.ARC: BOMB.TXT: longer than its header says (1 bytes)",
         {"BOMB.TXT"}},
        // 'A', then code 300 before the table has it: 65 | 300 << 9 in 9-bit codes.
        {"arc_squashed_undefined_code_said",
         {"T.ARC", "", Joined({ArcMember(9, "BAD.TXT", {0x41, 0x58, 0x02}, {'A', 'A'}), kArcEnd})},
         "T.ARC: BAD.TXT: damaged data (code 300 not yet defined)",
         {"BAD.TXT"}},
        // Lines enough to fill the first crunching's table long before the end.
        {.name = "arc_first_crunch_table_filled",
         .maker = {"T.ARC", "nomarch -t \"$OUT\" | grep -qw ok", BigArcMember("6")},
         .reports = {"BIG.EXE"},
         .reportHolds = "Big Tool V3.10"},
        // 'A' (at slot 165 in the midsquare hash), then code 4095 the table lacks.
        {"arc_first_crunch_undefined_code_said",
         {"T.ARC", "", Joined({ArcMember(5, "BAD.TXT", {0x0A, 0x5F, 0xFF}, {'A', 'A'}), kArcEnd})},
         "T.ARC: BAD.TXT: damaged data (code 4095 not yet defined)",
         {"BAD.TXT"}},
        {"arc_first_crunch_crc_mismatch_said",
         {"T.ARC", "", Wrapped("arc", {{{"at", 23}, {"u16", 0}}}, "7")},
         "T.ARC: SERVER.NLM: CRC does not match",
         {"SERVER.NLM"}},
        {"arc_first_crunch_truncated_said",
         {"T.ARC", "truncate -s -40 \"$OUT\"", Wrapped("arc", fixtures::Json::array(), "5")},
         "T.ARC: SERVER.NLM: truncated",
         {"SERVER.NLM"}},
        {"arc_expansion_refused",
         {"T.ARC", kAll + "arc a \"$OUT\" SERVER.NLM >/dev/null"},
         "T.ARC: more than 1000 bytes decompressed",
         {"SERVER.NLM"},
         {.maxExpand = 1000}},
        // The image's last sector, in xorriso's padding, cut short.
        {"raw_cd_cut_inside_a_sector",
         {"T.BIN", RawCd(1) + "; truncate -s -1000 \"$OUT\""},
         "T.BIN: ends 1352 bytes into a sector; they are not read",
         {"README.TXT", "SERVER.NLM", "DRIVER.NLM",
          "\xC3\x9C"
          "berwachung.txt",
          "LINK.NLM"}},
        // A byte of SERVER.NLM changed in the evidence file: libewf gives its
        // chunk, which holds the root folder too, as zeros, and counts it.
        {"e01_chunk_checksum_failed",
         {"DISK.E01", kMkfsFat + "-F 16 20480" + kCopyToFat + kAcquire +
                          "; at=$(grep -obUa 'Test Server' \"$OUT\" | head -1 | cut -d: -f1); "
                          "printf U" +
                          kAt + "$at"},
         "DISK.E01: 1 chunk of the evidence file missing or failing their checksums"},
        {"boot_sector_alone_is_no_container",
         {"BOOTSECT.DOS", "mkfs.fat -C F 1440 >/dev/null; head -c 512 F > \"$OUT\""}}}),
    testing::RowName());

} // namespace
} // namespace kestrel
