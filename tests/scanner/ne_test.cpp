#include <gtest/gtest.h>

#include "ne_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::ByteWriter;
using fixtures::kNeNumeric;
using fixtures::NeModule;
using fixtures::NeResource;

NeResource VersionResource(const std::u16string& description, std::uint16_t id = kNeNumeric | 1,
                           std::uint16_t flags = fixtures::kNeVersionFlags) {
    return {.typeId = fixtures::kNeVersionType,
            .id = id,
            .flags = flags,
            .data = fixtures::MakeVersionResource(
                {{"FileDescription", description}, {"FileVersion", u"3.10"}},
                fixtures::VersionLayout::Narrow)};
}

NeModule WindowsProgram() {
    return {.moduleName = "CLOCK",
            .description = "Desk Clock for Windows",
            .importedModules = {"KERNEL", "GDI", "USER"},
            .resources = {VersionResource(u"Clock")}};
}

ScanRecord Scan(const Bytes& file) {
    return testing::ScanOneRecord(file, "PROGRAM.EXE");
}

// `file` with the 16-bit value at `at` replaced.
Bytes Patched(const Bytes& file, std::size_t at, std::uint16_t value) {
    return ByteWriter().PutBytes(0, file).PutU16(at, value).Data();
}

// Name, description, imports and the file description of the version.
std::string Fields(const ScanRecord& r) {
    return r.HdrName + "|" + r.HdrDescription + "|" + r.HdrImports + "|" + r.ResValue(1);
}

const std::string kClockFields = "CLOCK|Desk Clock for Windows|KERNEL  , GDI     , USER    |";

TEST(NeTest, ReadsNameDescriptionImportsAndAWindowsProgramsVersion) {
    NeModule module = WindowsProgram();
    ScanRecord r = Scan(BuildNe(module));
    EXPECT_EQ(r.ExeSignature, "NE");
    EXPECT_EQ(Fields(r), kClockFields + "Clock");
    EXPECT_EQ(r.ResValue(2), "3.10");
    EXPECT_EQ(r.ResKey(11), "Translation") << "the 8-bit layout stores it";
    module.targetOperatingSystem = 1; // OS/2: no version is looked for
    EXPECT_EQ(Fields(Scan(BuildNe(module))), kClockFields);
}

TEST(NeTest, NamesAreCutToTheirBlocksAndImportsToEightColumnsNeverAtADot) {
    NeModule module = WindowsProgram();
    module.moduleName = "ABCDEFGHIJKLMNOPQRSTUVWXY"; // 25 characters, 19 read
    module.description = std::string(255, 'd');
    module.importedModules = {"MY.LIB", "VERYLONGNAME"};
    EXPECT_EQ(Fields(Scan(BuildNe(module))),
              "ABCDEFGHIJKLMNOPQRS|" + module.description + "|MY.LIB  , VERYLONG|Clock");
    module.importedModules = {};
    EXPECT_EQ(Scan(BuildNe(module)).HdrImports, "");
}

TEST(NeTest, VersionIsTheFirstVersionEntryWithIdOneOrTheFlags0C30) {
    for (const auto& [id, flags, found] : {std::tuple{kNeNumeric | 1, 0x0030, true},
                                           {kNeNumeric | 2, 0x0C30, true},
                                           {kNeNumeric | 2, 0x1C30, false}}) {
        NeModule module = WindowsProgram();
        module.resources = {VersionResource(u"only", id, flags)};
        EXPECT_EQ(Scan(BuildNe(module)).HasVersionResource, found) << id << " " << flags;
    }
    NeModule module = WindowsProgram();
    module.resources = {
        {.typeId = kNeNumeric | 2, .id = kNeNumeric | 1, .data = Bytes(40, 0xAA)}, // a bitmap
        VersionResource(u"neither", kNeNumeric | 3, 0x1030),
        VersionResource(u"nowhere"), // position 0, passed over
        VersionResource(u"first match", kNeNumeric | 4),
        VersionResource(u"second match"),
    };
    fixtures::NeLayout layout;
    const Bytes file = BuildNe(module, &layout);
    EXPECT_EQ(Scan(Patched(file, layout.resourceEntries[2], 0)).ResValue(1), "first match");
}

TEST(NeTest, ResourceIsFoundOnlyInsideTheTableAndTheFile) {
    NeModule module = WindowsProgram();
    fixtures::NeLayout layout;
    const Bytes file = BuildNe(module, &layout);
    // The table ends where the resident-name table begins: cut inside the
    // version entry, the entry is not read although its bytes are there.
    const std::size_t entry = layout.resourceEntries[0] - layout.headerBase;
    const std::size_t residentNames = layout.headerBase + fixtures::kNeResidentNameTableOffset;
    EXPECT_FALSE(Scan(Patched(file, residentNames, entry + 11)).HasVersionResource);
    EXPECT_TRUE(Scan(Patched(file, residentNames, entry + 12)).HasVersionResource) << "exact fit";
    // A position past the file.
    EXPECT_EQ(Fields(Scan(Patched(file, layout.resourceEntries[0], 0xF000))), kClockFields);
    // Positions count in units of 2^shift bytes for a shift below 16: the
    // resource at 64 KiB is at position 16 in units of 2^12, not at 1 in units of 2^16.
    ByteWriter moved;
    moved.PutBytes(0, file).PutBytes(0x10000, VersionResource(u"at 64 KiB").data);
    moved.PutU16(layout.resourceTable, 12).PutU16(layout.resourceEntries[0], 16);
    EXPECT_EQ(Scan(moved.Data()).ResValue(1), "at 64 KiB");
    moved.PutU16(layout.resourceTable, 16).PutU16(layout.resourceEntries[0], 1);
    EXPECT_EQ(Fields(Scan(moved.Data())), kClockFields);
    // An entry count running past the table, none of whose entries match.
    module.resources = {VersionResource(u"not chosen", kNeNumeric | 2, 0x1C30)};
    const Bytes other = BuildNe(module, &layout);
    EXPECT_EQ(Fields(Scan(Patched(other, layout.resourceTable + 4, 0xFFFF))), kClockFields);
}

TEST(NeTest, ModuleReferencesAreReadOnlyAsFarAsTheBlockGoes) {
    fixtures::NeLayout layout;
    const Bytes file = BuildNe(WindowsProgram(), &layout);
    const std::string imports =
        Scan(Patched(file, layout.headerBase + fixtures::kNeModuleReferenceCountOffset, 0xFFFF))
            .HdrImports;
    // 8192 bytes hold 4096 references; those past the file's bytes are not entries.
    const std::size_t read = (file.size() - layout.moduleReferenceTable) / 2;
    EXPECT_EQ(imports.size(), 8 * read + 2 * (read - 1));
    EXPECT_EQ(imports.substr(0, 28), "KERNEL  , GDI     , USER    ");
}

TEST(NeTest, EachStepEndsOnItsOwnAtAFailedSeek) {
    // The module-reference and the non-resident-name tables past the file.
    fixtures::NeLayout layout;
    ByteWriter file;
    file.PutBytes(0, BuildNe(WindowsProgram(), &layout))
        .PutU16(layout.headerBase + fixtures::kNeModuleReferenceTableOffset, 0xFFF0)
        .PutU32(layout.headerBase + fixtures::kNeNonResidentNameTableOffset, 0x7F0000FF);
    EXPECT_EQ(Fields(Scan(file.Data())), "CLOCK|||Clock");
}

TEST(NeTest, HeaderBlockReachingTheFileEndParsesNothing) {
    // The description before the header, whose 300-byte block ends the file.
    NeModule module = WindowsProgram();
    module.newHeaderOffset = 0x200;
    fixtures::NeLayout layout;
    ByteWriter file;
    file.PutBytes(0, BuildNe(module, &layout)).PutCountedText(0x100, "Before the header");
    file.PutU32(layout.headerBase + fixtures::kNeNonResidentNameTableOffset, 0x100);
    Bytes bytes = file.Data();
    bytes.resize(layout.headerBase + 300);
    EXPECT_EQ(Scan(bytes).HdrDescription, "");
    bytes.push_back(0);
    EXPECT_EQ(Scan(bytes).HdrDescription, "Before the header");
}

} // namespace
} // namespace kestrel
