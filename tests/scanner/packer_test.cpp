// Packed DOS programs: the packer named by its loader, the program unpacked
// as its loader leaves it, and what a damaged packed file gives.

#include <set>

#include <gtest/gtest.h>

#include "memory_source.h"
#include "packer.h"
#include "recording_sink.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::Json;

// A program with a version line and a copyright, two relocated words (1:0004
// and 3:0006), its entry at 1:0010 and its stack at 2:0100; `size` bytes in
// all, the header's 64 among them.
Json Program(std::size_t size = 1024) {
    Json put = Json::array({{{"at", 6}, {"u16", 2}},
                            {{"at", 14}, {"u16", 2}},
                            {{"at", 16}, {"u16", 0x100}},
                            {{"at", 20}, {"u16", 0x10}},
                            {{"at", 22}, {"u16", 1}},
                            {{"at", 28}, {"u32", 0x00010004}},
                            {{"at", 32}, {"u32", 0x00030006}}});
    put.push_back(
        {{"at", 512}, {"lines", {"Packed Tool V2.05", "(C) Copyright 1994 Example Software"}}});
    return {{"path", "TOOL.EXE"}, {"format", "mz"}, {"size", size}, {"put", put}};
}

Json PackedDescription(const std::string& format, const Json& program = Program()) {
    // "lzexe090" is LZEXE 0.90; "pklite" and a version word the others, as
    // "diet" and a version.
    if (format == "lzexe090")
        return {{"format", "lzexe"}, {"version", "0.90"}, {"member", program}};
    if (format.starts_with("upx") && format.size() > 3)
        return {{"format", "upx"}, {"method", std::stoi(format.substr(3))}, {"member", program}};
    if (format.starts_with("diet") && format.size() > 4)
        return {{"format", "diet"}, {"version", format.substr(4)}, {"member", program}};
    if (format.starts_with("pklite") && format.size() > 6)
        return {{"format", "pklite"},
                {"version", std::stoi(format.substr(6), nullptr, 16)},
                {"member", program}};
    return {{"format", format}, {"member", program}};
}

Bytes Packed(const std::string& format, const Json& program = Program()) {
    return fixtures::BuildSample(PackedDescription(format, program));
}

struct PackerRow {
    const char* name;
    const char* format;
    const char* packer;
};

class PackerTest : public ::testing::TestWithParam<PackerRow> {};

// The unpacked program is the linked one: the same load module, registers
// and relocations, in a header whose lengths are the file's. The packer is
// in the facts of the packed program only.
TEST_P(PackerTest, UnpacksTheProgramAsLinked) {
    const Bytes original = fixtures::BuildSample(Program());
    fixtures::MemorySource packed(Packed(GetParam().format));
    const std::optional<Packer> packer = RecognisePacker(packed);
    ASSERT_TRUE(packer);
    EXPECT_EQ(packer->name, GetParam().packer);
    const Unpacked unpacked = UnpackProgram(packed, *packer);
    EXPECT_EQ(unpacked.problem, "");
    const Bytes& program = unpacked.program;
    const std::int64_t length = std::ssize(program);
    ASSERT_GT(length, 64);
    EXPECT_EQ(WordAt(program, 4), (length + 511) / 512);
    EXPECT_EQ(WordAt(program, 2), length % 512);
    for (const std::int64_t field : {14, 16, 20, 22})
        EXPECT_EQ(WordAt(program, field), WordAt(original, field)) << field;
    ASSERT_EQ(WordAt(program, 6), 2);
    const std::int64_t table = WordAt(program, 24);
    std::set<std::int64_t> relocated; // the words' addresses in the image
    for (int i = 0; i < 2; ++i)
        relocated.insert(WordAt(program, table + 4 * i + 2) * 16 + WordAt(program, table + 4 * i));
    EXPECT_EQ(relocated, (std::set<std::int64_t>{0x14, 0x36}));
    EXPECT_EQ(Bytes(program.begin() + WordAt(program, 8) * 16, program.end()),
              Bytes(original.begin() + 64, original.end()));

    EXPECT_EQ(
        testing::ScanRecordOf(PackedDescription(GetParam().format)).Facts.packer.value_or("none"),
        GetParam().packer);
    EXPECT_FALSE(testing::ScanRecordOf(Program()).Facts.packer);
}

INSTANTIATE_TEST_SUITE_P(
    Packers, PackerTest,
    ::testing::Values(
        PackerRow{"lzexe", "lzexe", "LZEXE 0.91"}, PackerRow{"lzexe_090", "lzexe090", "LZEXE 0.90"},
        PackerRow{"exepack", "exepack", "EXEPACK"}, PackerRow{"pklite", "pklite", "PKLITE 1.15"},
        PackerRow{"pklite_103", "pklite2103", "PKLITE 1.03"},
        PackerRow{"pklite_extra_201", "pklite3201", "PKLITE 2.01"},
        PackerRow{"pklite_small", "pklite010F", "PKLITE 1.15"},
        PackerRow{"pklite_small_extra", "pklite110C", "PKLITE 1.12"},
        PackerRow{"diet", "diet", "DIET 1.45f"}, PackerRow{"diet_144", "diet1.44", "DIET 1.44"},
        PackerRow{"diet_120", "diet1.20", "DIET 1.02b-1.20"}, PackerRow{"upx_nrv2b", "upx", "UPX"},
        PackerRow{"upx_nrv2d", "upx6", "UPX"}, PackerRow{"upx_nrv2e", "upx9", "UPX"},
        PackerRow{"upx_lzma", "upx14", "UPX"}),
    testing::RowName());

// A COM program unpacks to its image as it was, up to the 65,280 bytes DOS
// loads; cut short, it is refused.
struct ComRow {
    const char* name;
    Json packed; // the description, less its member
    const char* packer;
    const char* cut; // the problem with 4 bytes cut off
};

class PackedComTest : public ::testing::TestWithParam<ComRow> {};

TEST_P(PackedComTest, UnpacksTheImage) {
    // The text comes again 400 to 6400 bytes on, and two bytes 1,000 on: a
    // match from every range of distances.
    Json put = {{{"at", 9000}, {"text", "aQZb"}}, {{"at", 10000}, {"text", "cQZd"}}};
    for (const int at : {300, 700, 1500, 3000, 6000, 12400})
        put.push_back({{"at", at}, {"lines", {"Packed Tool V2.05"}}});
    for (const std::int64_t size : {std::int64_t{13000}, kMaxComProgram, kMaxComProgram + 1}) {
        const Json member = {{"path", "TOOL.COM"}, {"size", size}, {"put", put}};
        Json description = GetParam().packed;
        description["member"] = member;
        Bytes bytes = fixtures::BuildSample(description);
        for (const bool cut : {false, true}) {
            if (cut)
                bytes.resize(bytes.size() - 4);
            fixtures::MemorySource packed(bytes);
            const std::optional<Packer> packer = RecognisePacker(packed);
            ASSERT_TRUE(packer);
            EXPECT_EQ(packer->name, GetParam().packer);
            const Unpacked unpacked = UnpackProgram(packed, *packer);
            if (cut) {
                EXPECT_EQ(unpacked.problem, GetParam().cut);
            } else if (size > kMaxComProgram) {
                EXPECT_EQ(unpacked.problem,
                          "the unpacked program grows past what its loader can hold");
            } else {
                EXPECT_EQ(unpacked.problem, "");
                EXPECT_EQ(unpacked.program, fixtures::BuildSample(member));
            }
            if (!unpacked.problem.empty()) {
                EXPECT_TRUE(unpacked.program.empty());
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Com, PackedComTest,
                         ::testing::ValuesIn(std::vector<ComRow>{
                             {"pklite",
                              {{"format", "pklite"}, {"com", true}},
                              "PKLITE 1.15",
                              "the packed data ends early"},
                             {"pklite_103",
                              {{"format", "pklite"}, {"com", true}, {"version", 0x103}},
                              "PKLITE 1.03",
                              "the packed data ends early"},
                             {"pklite_201",
                              {{"format", "pklite"}, {"com", true}, {"version", 0x201}},
                              "PKLITE 2.01",
                              "the packed data ends early"},
                             {"diet",
                              {{"format", "diet"}, {"com", true}},
                              "DIET 1.44-1.45f",
                              "the packed program is cut short"},
                             {"diet_120",
                              {{"format", "diet"}, {"com", true}, {"version", "1.20"}},
                              "DIET 1.02b-1.20",
                              "the packed program is cut short"}}),
                         testing::RowName());

// Packers named and not unpacked (PKLITE's version word alone names
// nothing): PE packers by the section that holds the entry point (UPX with
// the version before its header), DJGPP's stub by the COFF program after its
// load module.
struct NameRow {
    const char* name;
    Json file;
    const char* packer; // "" for none
};

Json PeWithLoaderIn(const std::string& section, const Json& more = Json::array()) {
    Json put = {{{"at", "pe+248"}, {"text", section}},
                {{"at", "pe+248+" + std::to_string(section.size())}, {"u8", 0}},
                {{"at", "pe+40"}, {"u32", 0x1000}}};
    put.insert(put.end(), more.begin(), more.end());
    return {{"format", "pe"}, {"put", put}};
}

class PackerNameTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(PackerNameTest, NamedNotUnpacked) {
    fixtures::MemorySource file(fixtures::BuildSample(GetParam().file));
    const std::optional<Packer> packer = RecognisePacker(file);
    EXPECT_EQ(packer ? packer->name : "", GetParam().packer);
    EXPECT_FALSE(packer && CanUnpack(*packer));
    EXPECT_EQ(testing::ScanRecordOf(GetParam().file).Facts.packer.value_or(""), GetParam().packer);
}

// A COM file: UPX's loader at its start, its header 40 bytes on.
Json UpxCom(std::size_t size) {
    return {{"path", "TOOL.COM"},
            {"size", size},
            {"put",
             {{{"at", 0}, {"u32", 0xFF00FC81}},
              {{"at", 4}, {"u32", 0x20CD0277}},
              {{"at", 40}, {"text", "UPX!\r\1"}}}}};
}

INSTANTIATE_TEST_SUITE_P(
    Named, PackerNameTest,
    ::testing::ValuesIn(std::vector<NameRow>{
        {"pklite_header_only",
         {{"format", "mz"},
          {"put", {{{"at", 28}, {"u16", 0x210F}}, {{"at", 30}, {"text", "PKLITE"}}}}},
         ""},
        {"upx_version",
         PeWithLoaderIn("UPX1", {{{"at", "pe+300"}, {"text", "3.96"}},
                                 {{"at", "pe+305"}, {"text", "UPX!"}}}),
         "UPX 3.96"},
        {"upx", PeWithLoaderIn("UPX0"), "UPX"},
        {"diet_100", PackedDescription("diet1.00"), "DIET 1.00"},
        {"diet_com_100",
         {{"format", "diet"}, {"com", true}, {"version", "1.00"}, {"member", {{"size", 100}}}},
         "DIET 1.00"},
        {"wwpack", {{"format", "mz"}, {"put", {{{"at", 28}, {"text", "WWP"}}}}}, "WWPACK"},
        {"wwpack_mark_in_relocations",
         {{"format", "mz"}, {"put", {{{"at", 6}, {"u16", 1}}, {{"at", 28}, {"text", "WWP"}}}}},
         ""},
        {"aspack", PeWithLoaderIn(".aspack"), "ASPack"},
        {"pecompact", PeWithLoaderIn("PEC2TO"), "PECompact"},
        {"petite", PeWithLoaderIn(".petite"), "Petite"},
        {"entry_outside_loader", PeWithLoaderIn("UPX1", {{{"at", "pe+40"}, {"u32", 0x1001}}}), ""},
        {"pe_unpacked", {{"format", "pe"}}, ""},
        {"upx_com_longer_than_dos_loads", UpxCom(kMaxComProgram + 1), ""},
        {"djgpp",
         {{"format", "mz"}, {"size", 1200}, {"put", {{{"at", 0x490}, {"u16", 0x14C}}}}},
         "DJGPP"}}),
    testing::RowName());

// A damaged packed program keeps its packer's name, and says what is wrong.
// `at` counts from the loader's first byte (CS:0000, PKLITE's CS:0100);
// kLastCommand is EXEPACK's last
// command byte, before the padding; kPackedData the first byte of the
// packed data.
constexpr std::int64_t kLastCommand = -1;
constexpr std::int64_t kPackedData = -2;

struct DamageRow {
    const char* name;
    const char* format;
    std::int64_t at;
    std::string_view bytes; // put at `at`
    std::int64_t cut;       // bytes cut off the end
    const char* problem;
};

class DamageTest : public ::testing::TestWithParam<DamageRow> {};

TEST_P(DamageTest, NamesThePackerAndSaysWhy) {
    const DamageRow& row = GetParam();
    Bytes bytes = Packed(row.format);
    const std::int64_t loader =
        WordAt(bytes, 8) * 16 +
        ((WordAt(bytes, 22) * 16 + (std::string_view(row.format) == "pklite") * 0x100) & 0xFFFFF);
    std::int64_t at = loader + row.at;
    if (row.at == kPackedData)
        at = 32;
    if (row.at == kLastCommand)
        for (at = loader - 1; bytes[at] == 0xFF;)
            --at;
    std::copy(row.bytes.begin(), row.bytes.end(), bytes.begin() + at);
    bytes.resize(bytes.size() - row.cut);
    fixtures::MemorySource packed(bytes);
    const std::optional<Packer> packer = RecognisePacker(packed);
    ASSERT_TRUE(packer);
    const Unpacked unpacked = UnpackProgram(packed, *packer);
    EXPECT_EQ(unpacked.problem, row.problem);
    EXPECT_TRUE(unpacked.program.empty());
}

using namespace std::string_view_literals;
INSTANTIATE_TEST_SUITE_P(
    Damaged, DamageTest,
    ::testing::ValuesIn(std::vector<DamageRow>{
        {"lzexe_entry_outside", "lzexe", 0, "\xFF\xFF", 0,
         "the entry point lies outside the unpacked program"},
        {"lzexe_no_increase", "lzexe", 10, "\0\0"sv, 0,
         "the unpacked program grows past what its loader can hold"},
        {"lzexe_match_before_start", "lzexe", kPackedData, "\0\0"sv, 0,
         "a match reaches before the start of the program"},
        {"lzexe_relocations_cut", "lzexe", 0, "", 2, "the loader's relocation table is cut short"},
        {"lzexe_relocations_unended", "lzexe", 0x15A, "\0\2\0"sv, 0,
         "the loader's relocation table is damaged"},
        {"exepack_short_unpacked_length", "exepack", 12, "\1\0"sv, 0,
         "the loader's lengths do not fit together"},
        {"exepack_unknown_command", "exepack", kLastCommand, "\0"sv, 0,
         "the packed data holds an unknown command"},
        {"exepack_relocation_outside", "exepack", 18 + 0x100 + 22 + 2, "\xFF\xFF", 0,
         "a relocation lies outside the unpacked program"},
        {"exepack_loader_cut", "exepack", 0, "", 1, "the loader is cut short"},
        {"pklite_data_outside", "pklite", 0x4E, "\xFF", 0,
         "the loader's packed data lies outside the program"},
        {"pklite_match_before_start", "pklite", 0x100, "\1\0"sv, 0,
         "a match reaches before the start of the program"},
        {"pklite_footer_cut", "pklite", 0, "", 1, "the packed program is cut short"},
        {"diet_header_damaged", "diet", 76, "dlZ", 0, "the loader's header is damaged"},
        {"diet_crc", "diet", 87, "\x55", 0, "the packed data fails its CRC check"},
        {"diet_no_mz_header", "diet", 26, "\xFF\x0F", 0,
         "the unpacked program has no MZ header where its loader puts it"},
        {"diet_cut", "diet", 0, "", 1, "the packed program is cut short"}}),
    testing::RowName());

// A program grows to 1 MiB and no further, however much room its loader's
// fields claim: the byte past it may come as a literal or in a match. DIET's
// loader addresses one byte less, and its stream holds the MZ header and
// relocation table after the program: the stream stops 4 bytes into the
// largest table.
TEST(PackerLimit, UnpacksAtMostOneMebibyte) {
    constexpr std::int64_t kMax = kMaxUnpackedProgram, kDietTable = 4 * 0xFFFF;
    for (const auto& [format, length, literalLast] : {std::tuple{"lzexe", kMax, true},
                                                      {"lzexe", kMax + 1, true},
                                                      {"lzexe", kMax + 1, false},
                                                      {"pklite", kMax, true},
                                                      {"pklite", kMax + 1, true},
                                                      {"pklite", kMax + 1, false},
                                                      {"pklite010F", kMax + 1, false},
                                                      {"diet", kMax - 1, true},
                                                      {"diet", kMax + kDietTable, false}}) {
        const std::int64_t size = 64 + length;
        Json program = Program(size);
        if (literalLast)
            program["put"].push_back({{"at", size - 1}, {"u8", 0x55}});
        fixtures::MemorySource packed(Packed(format, program));
        const std::optional<Packer> packer = RecognisePacker(packed);
        ASSERT_TRUE(packer);
        EXPECT_EQ(UnpackProgram(packed, *packer).problem,
                  length <= kMax ? "" : "the unpacked program grows past what its loader can hold")
            << format << length;
    }
}

// UPX's COM programs and drivers: the image back as it was, its CALL and
// JMP targets made relative again by each filter.
TEST(UpxCom, UnpacksTheImageAsItWas) {
    Json program = {{"path", "TOOL.COM"},
                    {"size", 1024},
                    {"put",
                     {{{"at", 0}, {"u32", 0xE9E80412}},
                      {{"at", 4}, {"u32", 0x00E812E8}},
                      {{"at", 1021}, {"u16", 0x34E8}},
                      {{"at", 512}, {"lines", {"Packed Tool V1.00"}}}}}};
    for (const int filter : {0, 1, 2, 3, 4, 5, 6}) {
        fixtures::MemorySource packed(
            fixtures::BuildSample({{"format", "upx"}, {"filter", filter}, {"member", program}}));
        const std::optional<Packer> packer = RecognisePacker(packed);
        ASSERT_TRUE(packer);
        const Unpacked unpacked = UnpackProgram(packed, *packer);
        EXPECT_EQ(unpacked.problem, "") << filter;
        EXPECT_EQ(unpacked.program, fixtures::BuildSample(program)) << filter;
    }
    // A driver's image is loaded at 0.
    Json driver = program;
    driver["put"].push_back({{"at", 0}, {"u32", 0xFFFFFFFF}});
    fixtures::MemorySource sys(
        fixtures::BuildSample({{"format", "upx"}, {"filter", 6}, {"member", driver}}));
    EXPECT_EQ(UnpackProgram(sys, *RecognisePacker(sys)).program, fixtures::BuildSample(driver));
}

// A damaged UPX program, `change` (JSON) merged into the EXE's or the COM's
// description ("header" overrides its fields), and the limits at their edge:
// 1 MiB for an EXE, 65,280 bytes for a COM.
struct UpxDamageRow {
    const char* name;
    bool com;
    const char* change;
    const char* problem; // "" for none
};

class UpxDamageTest : public ::testing::TestWithParam<UpxDamageRow> {};

TEST_P(UpxDamageTest, NamesThePackerAndSaysWhy) {
    Json description = GetParam().com ? Json{{"format", "upx"}, {"member", {{"size", 2000}}}}
                                      : PackedDescription("upx");
    description.merge_patch(Json::parse(GetParam().change));
    fixtures::MemorySource packed(fixtures::BuildSample(description));
    const std::optional<Packer> packer = RecognisePacker(packed);
    ASSERT_TRUE(packer);
    EXPECT_EQ(packer->name, "UPX");
    const Unpacked unpacked = UnpackProgram(packed, *packer);
    EXPECT_EQ(unpacked.problem, GetParam().problem);
    EXPECT_EQ(unpacked.program.empty(), *GetParam().problem != 0);
}

// The EXE's header lies at 48, its packed data at 75; the COM's at 16.
INSTANTIATE_TEST_SUITE_P(
    Damaged, UpxDamageTest,
    ::testing::ValuesIn(std::vector<UpxDamageRow>{
        {"header_checksum", false, R"({"put": [{"at": 68, "u8": 7}]})",
         "UPX's header fails its checksum"},
        {"header_cut", true, R"({"cut": 30})", "UPX's header is cut short"},
        {"packed_adler", false, R"({"put": [{"at": 80, "u8": 7}]})",
         "the packed data fails its checksum"},
        {"unpacked_adler", true, R"({"header": {"u_adler": 1}})",
         "the unpacked data fails its checksum"},
        {"c_len_past_the_file", true, R"({"header": {"c_len": 65520}})",
         "the packed data runs past the end of the program"},
        {"u_len_short", false, R"({"header": {"u_len": 100}})",
         "the unpacked data grows past the length in UPX's header"},
        {"u_len_long", true, R"({"header": {"u_len": 3000}})",
         "the unpacked data is shorter than UPX's header says"},
        {"program_cut", false, R"({"cut": "end-1"})", "the packed program is cut short"},
        {"exe_at_limit", false, R"({"member": {"size": 1048640, "put": []}})", ""},
        {"exe_past_limit", false, R"({"member": {"size": 1048641, "put": []}})",
         "the unpacked program grows past what DOS can hold"},
        {"com_at_limit", true, R"({"member": {"size": 65280}})", ""},
        {"com_past_limit", true, R"({"member": {"size": 65281}})",
         "the unpacked program is longer than a COM program"}}),
    testing::RowName());

// UPX's relocation coding: a word found as the next FAR CALL's (9A at
// 0x3D), and a run in a new segment after 1 codes past the first's end.
TEST(UpxRelocations, FarCallsAndNewSegments) {
    Json program = Program(0x20000);
    program["put"].push_back({{"at", 6}, {"u16", 3}});
    program["put"].push_back({{"at", 32}, {"u32", 0x18000006}});
    program["put"].push_back({{"at", 36}, {"u32", 0x00000040}});
    program["put"].push_back({{"at", 64 + 0x3D}, {"u8", 0x9A}});
    program["put"].push_back({{"at", 64 + 0x40}, {"u16", 0x20}});
    fixtures::MemorySource packed(Packed("upx", program));
    const Unpacked unpacked = UnpackProgram(packed, *RecognisePacker(packed));
    ASSERT_EQ(unpacked.problem, "");
    const Bytes& p = unpacked.program;
    std::set<std::int64_t> relocated;
    for (int i = 0; i < WordAt(p, 6); ++i)
        relocated.insert(WordAt(p, 28 + 4 * i + 2) * 16 + WordAt(p, 28 + 4 * i));
    EXPECT_EQ(relocated, (std::set<std::int64_t>{0x14, 0x40, 0x18006}));
}

} // namespace
} // namespace kestrel
