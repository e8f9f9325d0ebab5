#include <gtest/gtest.h>

#include "ne_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::kNeNumeric;
using fixtures::kNeVersionFlags;
using fixtures::kNeVersionType;
using fixtures::NeModule;
using fixtures::NeResource;

Bytes Version(const std::u16string& description) {
    fixtures::VersionInfo info;
    info.tables = {{.languageAndCodePage = "040904E4",
                    .strings = {{"FileDescription", description}, {"FileVersion", u"3.10"}}}};
    return fixtures::EncodeNarrowVersion(fixtures::MakeVersionTree(info));
}

NeResource VersionResource(const std::u16string& description, std::uint16_t id = kNeNumeric | 1,
                           std::uint16_t flags = kNeVersionFlags) {
    return {.typeId = kNeVersionType, .id = id, .flags = flags, .data = Version(description)};
}

NeModule WindowsProgram() {
    NeModule module;
    module.moduleName = "CLOCK";
    module.description = "Desk Clock for Windows";
    module.importedModules = {"KERNEL", "GDI", "USER"};
    module.resources = {VersionResource(u"Clock")};
    return module;
}

void PutU16(Bytes& file, std::size_t at, std::uint16_t value) {
    file[at] = static_cast<std::uint8_t>(value);
    file[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

class NeTest : public ::testing::Test {
protected:
    ScanRecord Scan(const Bytes& file) {
        tree.Add("PROGRAM.EXE", file);
        testing::RecordingSink sink;
        QuillScan scanner(sink);
        scanner.ScanFile(tree.RootWithSeparator(), "PROGRAM.EXE");
        EXPECT_EQ(sink.reports.size(), 1u);
        return sink.reports.empty() ? ScanRecord{} : sink.reports[0].record;
    }

    fixtures::TempTree tree;
};

TEST_F(NeTest, WindowsProgramReadsNameDescriptionImportsAndVersion) {
    const ScanRecord r = Scan(BuildNe(WindowsProgram()));
    EXPECT_EQ(r.ExeSignature, "NE");
    EXPECT_EQ(r.HdrName, "CLOCK");
    EXPECT_EQ(r.HdrDescription, "Desk Clock for Windows");
    EXPECT_EQ(r.HdrImports, "KERNEL  , GDI     , USER    ");
    EXPECT_EQ(r.ResValue(1), "Clock");
    EXPECT_EQ(r.ResValue(2), "3.10");
    EXPECT_EQ(r.ResKey(11), "Translation") << "the 8-bit layout stores it";
}

TEST_F(NeTest, Os2ProgramIsNotLookedAtForAVersion) {
    NeModule module = WindowsProgram();
    module.targetOperatingSystem = 1;
    const ScanRecord r = Scan(BuildNe(module));
    EXPECT_EQ(r.HdrName, "CLOCK");
    EXPECT_EQ(r.HdrDescription, "Desk Clock for Windows");
    EXPECT_EQ(r.HdrImports, "KERNEL  , GDI     , USER    ");
    EXPECT_FALSE(r.HasVersionResource);
}

TEST_F(NeTest, ImportNamesArePaddedOrCutToEightButNeverAtADot) {
    NeModule module = WindowsProgram();
    module.importedModules = {"MY.LIB", "VERYLONGNAME"};
    EXPECT_EQ(Scan(BuildNe(module)).HdrImports, "MY.LIB  , VERYLONG");
    module.importedModules = {};
    EXPECT_EQ(Scan(BuildNe(module)).HdrImports, "");
}

TEST_F(NeTest, NamesAreCutToTheBytesTheirBlocksHold) {
    NeModule module = WindowsProgram();
    module.moduleName = "ABCDEFGHIJKLMNOPQRSTUVWXY"; // 25 characters, 19 read
    module.description = std::string(255, 'd');
    const ScanRecord r = Scan(BuildNe(module));
    EXPECT_EQ(r.HdrName, "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(r.HdrDescription, std::string(255, 'd'));
}

TEST_F(NeTest, VersionResourceIsChosenByIdOneOrByItsFlags) {
    struct Case {
        std::uint16_t id;
        std::uint16_t flags;
        bool found;
    };
    for (const Case c : {Case{kNeNumeric | 1, 0x0030, true}, Case{kNeNumeric | 2, 0x0C30, true},
                         Case{kNeNumeric | 2, 0x1C30, false}}) {
        NeModule module = WindowsProgram();
        module.resources = {VersionResource(u"only", c.id, c.flags)};
        EXPECT_EQ(Scan(BuildNe(module)).HasVersionResource, c.found) << c.id << " " << c.flags;
    }
}

TEST_F(NeTest, FirstMatchingVersionEndsTheTypeWalk) {
    NeModule module = WindowsProgram();
    module.resources = {
        {.typeId = kNeNumeric | 2, .id = kNeNumeric | 1, .data = Bytes(40, 0xAA)}, // a bitmap
        VersionResource(u"other", kNeNumeric | 3, 0x1030),
        VersionResource(u"first match", kNeNumeric | 4),
        VersionResource(u"second match", kNeNumeric | 1),
    };
    EXPECT_EQ(Scan(BuildNe(module)).ResValue(1), "first match");
}

TEST_F(NeTest, PositionIsCountedInAlignmentUnits) {
    NeModule module = WindowsProgram();
    module.alignmentShift = 4;
    fixtures::NeLayout layout;
    Bytes file = BuildNe(module, &layout);
    // Move the resource to 0x1230, position 0x0123 in units of 16 bytes.
    const Bytes data = Version(u"at 0x1230");
    file.resize(0x1230 + data.size());
    std::copy(data.begin(), data.end(), file.begin() + 0x1230);
    PutU16(file, layout.resourceEntries[0], 0x0123);
    EXPECT_EQ(Scan(file).ResValue(1), "at 0x1230");
}

TEST_F(NeTest, EntryWithPositionZeroIsPassedOver) {
    NeModule module = WindowsProgram();
    module.resources = {VersionResource(u"nowhere"), VersionResource(u"second", kNeNumeric | 2)};
    fixtures::NeLayout layout;
    Bytes file = BuildNe(module, &layout);
    PutU16(file, layout.resourceEntries[0], 0);
    EXPECT_EQ(Scan(file).ResValue(1), "second");
}

TEST_F(NeTest, AlignmentShiftOf16OrMoreGivesNoVersion) {
    // The resource at 64 KiB: position 1 in units of 2^16, or 16 in units of 2^12.
    fixtures::NeLayout layout;
    Bytes file = BuildNe(WindowsProgram(), &layout);
    const Bytes data = Version(u"at 64 KiB");
    file.resize(0x10000 + data.size());
    std::copy(data.begin(), data.end(), file.begin() + 0x10000);
    PutU16(file, layout.resourceTable, 12);
    PutU16(file, layout.resourceEntries[0], 16);
    EXPECT_EQ(Scan(file).ResValue(1), "at 64 KiB");
    PutU16(file, layout.resourceTable, 16);
    PutU16(file, layout.resourceEntries[0], 1);
    const ScanRecord r = Scan(file);
    EXPECT_FALSE(r.HasVersionResource);
    EXPECT_EQ(r.HdrDescription, "Desk Clock for Windows");
}

TEST_F(NeTest, ResourcePastTheFileGivesNoVersionButKeepsTheRest) {
    fixtures::NeLayout layout;
    Bytes file = BuildNe(WindowsProgram(), &layout);
    PutU16(file, layout.resourceEntries[0], 0xF000);
    const ScanRecord r = Scan(file);
    EXPECT_FALSE(r.HasVersionResource);
    EXPECT_EQ(r.HdrName, "CLOCK");
    EXPECT_EQ(r.HdrImports, "KERNEL  , GDI     , USER    ");
    EXPECT_EQ(r.HdrDescription, "Desk Clock for Windows");
}

TEST_F(NeTest, TypeWalkStaysInsideTheResourceTable) {
    // The table ends where the resident-name table begins: cut it inside the
    // version entry and the entry is not read, even though the bytes are there.
    fixtures::NeLayout layout;
    Bytes file = BuildNe(WindowsProgram(), &layout);
    const std::size_t base = layout.headerBase;
    const auto cutTableAt = [&](std::size_t end) {
        PutU16(file, base + fixtures::kNeResidentNameTableOffset,
               static_cast<std::uint16_t>(end - base));
    };
    cutTableAt(layout.resourceEntries[0] + 11);
    EXPECT_FALSE(Scan(file).HasVersionResource);
    cutTableAt(layout.resourceEntries[0] + 12);
    EXPECT_TRUE(Scan(file).HasVersionResource) << "the exact fit is read";
}

TEST_F(NeTest, EntryCountPastTheTableEndsTheWalk) {
    NeModule module = WindowsProgram();
    module.resources = {VersionResource(u"not chosen", kNeNumeric | 2, 0x1C30)};
    fixtures::NeLayout layout;
    Bytes file = BuildNe(module, &layout);
    PutU16(file, layout.resourceTable + 4, 0xFFFF);
    const ScanRecord r = Scan(file);
    EXPECT_FALSE(r.HasVersionResource);
    EXPECT_EQ(r.HdrDescription, "Desk Clock for Windows");
}

TEST_F(NeTest, ModuleReferencesAreReadOnlyAsFarAsTheBlockGoes) {
    NeModule module = WindowsProgram();
    fixtures::NeLayout layout;
    Bytes file = BuildNe(module, &layout);
    PutU16(file, layout.headerBase + 30, 0xFFFF); // ne_cmod
    const std::string imports = Scan(file).HdrImports;
    // 8192 bytes hold 4096 references; those past the file's bytes are not entries.
    const std::size_t read = (file.size() - layout.moduleReferenceTable) / 2;
    EXPECT_EQ(imports.size(), 8 * read + 2 * (read - 1));
    EXPECT_EQ(imports.substr(0, 28), "KERNEL  , GDI     , USER    ");
}

TEST_F(NeTest, EachStepEndsOnItsOwnAtAFailedSeek) {
    fixtures::NeLayout layout;
    Bytes file = BuildNe(WindowsProgram(), &layout);
    const std::size_t base = layout.headerBase;
    PutU16(file, base + 40, 0xFFF0); // ne_modtab past the file
    file[base + 44] = 0xFF;          // ne_nrestab past the file
    file[base + 47] = 0x7F;
    const ScanRecord r = Scan(file);
    EXPECT_EQ(r.HdrImports, "");
    EXPECT_EQ(r.HdrDescription, "");
    EXPECT_EQ(r.HdrName, "CLOCK");
    EXPECT_EQ(r.ResValue(1), "Clock");
}

TEST_F(NeTest, HeaderBlockReachingTheFileEndParsesNothing) {
    // The description placed before the header, which ends the file.
    NeModule module = WindowsProgram();
    module.resources = {};
    module.newHeaderOffset = 0x200;
    fixtures::NeLayout layout;
    Bytes file = BuildNe(module, &layout);
    const std::string description = "Before the header";
    file[0x100] = static_cast<std::uint8_t>(description.size());
    std::copy(description.begin(), description.end(), file.begin() + 0x101);
    file[layout.headerBase + 44] = 0x00; // ne_nrestab = 0x100
    file[layout.headerBase + 45] = 0x01;
    file[layout.headerBase + 46] = 0x00;
    file[layout.headerBase + 47] = 0x00;
    file.resize(layout.headerBase + 300);
    EXPECT_EQ(Scan(file).HdrDescription, "");
    file.push_back(0);
    EXPECT_EQ(Scan(file).HdrDescription, description);
}

} // namespace
} // namespace kestrel
