#include <gtest/gtest.h>

#include "lx_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::LxModule;
using fixtures::LxVersionHeader;

Bytes Version(const std::u16string& description) {
    fixtures::VersionInfo info;
    info.fileType = 5; // VFT_VXD
    info.tables = {{.languageAndCodePage = "040904E4",
                    .strings = {{"FileDescription", description}, {"FileVersion", u"4.00.950"}}}};
    return fixtures::EncodeNarrowVersion(fixtures::MakeVersionTree(info));
}

LxModule Os2Module() {
    LxModule module;
    module.moduleName = "PMHELPER";
    module.description = "Presentation Manager helper";
    module.importedModules = {"DOSCALLS", "VIOCALLS"};
    return module;
}

LxModule Driver(LxVersionHeader header = LxVersionHeader::NumericName) {
    LxModule module;
    module.signature = "LE";
    module.moduleName = "VNETSUP";
    module.description = "VNETSUP Virtual Device";
    module.versionResource = Version(u"Network support");
    module.versionHeader = header;
    return module;
}

void PutU32(Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

class LxLeTest : public ::testing::Test {
protected:
    ScanRecord Scan(const Bytes& file) {
        tree.Add("MODULE.DLL", file);
        testing::RecordingSink sink;
        QuillScan scanner(sink);
        scanner.ScanFile(tree.RootWithSeparator(), "MODULE.DLL");
        EXPECT_EQ(sink.reports.size(), 1u);
        return sink.reports.empty() ? ScanRecord{} : sink.reports[0].record;
    }

    fixtures::TempTree tree;
};

TEST_F(LxLeTest, Os2ModuleReadsNameDescriptionAndWholeImportNames) {
    LxModule module = Os2Module();
    module.importedModules = {"DOSCALLS", "VIOCALLS", "PMWIN"};
    const ScanRecord r = Scan(BuildLx(module));
    EXPECT_EQ(r.ExeSignature, "LX");
    EXPECT_EQ(r.HdrName, "PMHELPER");
    EXPECT_EQ(r.HdrDescription, "Presentation Manager helper");
    EXPECT_EQ(r.HdrImports, "DOSCALLS, VIOCALLS, PMWIN, ") << "the separator follows every name";
    EXPECT_FALSE(r.HasVersionResource);
}

TEST_F(LxLeTest, DriverVersionIsReadBehindBothResourceHeaderShapes) {
    for (const LxVersionHeader header : {LxVersionHeader::NumericName, LxVersionHeader::TextName}) {
        const ScanRecord r = Scan(BuildLx(Driver(header)));
        EXPECT_EQ(r.ExeSignature, "LE");
        EXPECT_EQ(r.HdrName, "VNETSUP");
        EXPECT_EQ(r.ResValue(1), "Network support");
        EXPECT_EQ(r.ResValue(2), "4.00.950");
    }
}

TEST_F(LxLeTest, OtherResourceHeaderShapeIsNotRead) {
    fixtures::LxLayout layout;
    Bytes file = BuildLx(Driver(), &layout);
    file[layout.versionResource + 3] = 0x12; // FF 10 00 12
    EXPECT_FALSE(Scan(file).HasVersionResource);
}

TEST_F(LxLeTest, DriverWithoutNonResidentNamesKeepsTheDescriptionEmpty) {
    LxModule module = Driver();
    module.description = "";
    const ScanRecord r = Scan(BuildLx(module));
    EXPECT_EQ(r.HdrDescription, "");
    EXPECT_TRUE(r.HasVersionResource);
}

TEST_F(LxLeTest, ModuleNameIsReadFromNineBytes) {
    LxModule module = Os2Module();
    module.moduleName = "LONGMODULENAME";
    EXPECT_EQ(Scan(BuildLx(module)).HdrName, "LONGMODU");
}

TEST_F(LxLeTest, ImportsStopWhereTheNextNameWouldStartPastTheBytesRead) {
    // Two entries, 18 bytes read: a first name of 20 characters is cut to the
    // 17 that were read, and the second would start past them.
    LxModule module = Os2Module();
    module.importedModules = {"ABCDEFGHIJKLMNOPQRST", "VIOCALLS"};
    EXPECT_EQ(Scan(BuildLx(module)).HdrImports, "ABCDEFGHIJKLMNOPQ, ");
    // Names of 8 characters on average fit: one of 9 and one of 7.
    module.importedModules = {"DOSCALLS1", "VIOCALL"};
    EXPECT_EQ(Scan(BuildLx(module)).HdrImports, "DOSCALLS1, VIOCALL, ");
}

TEST_F(LxLeTest, EachStepEndsOnItsOwnAtAFailedSeek) {
    fixtures::LxLayout layout;
    LxModule module = Driver();
    module.importedModules = {"VMM"};
    Bytes file = BuildLx(module, &layout);
    const std::size_t base = layout.headerBase;

    Bytes noVersion = file;
    PutU32(noVersion, base + fixtures::kLxVersionResourceOffset, 0x7FFF0000);
    ScanRecord r = Scan(noVersion);
    EXPECT_FALSE(r.HasVersionResource);
    EXPECT_EQ(r.HdrImports, "VMM, ");
    EXPECT_EQ(r.HdrDescription, "VNETSUP Virtual Device");

    Bytes noNames = file;
    PutU32(noNames, base + 88, 0x7FFF0000);  // e32_restab
    PutU32(noNames, base + 112, 0x7FFF0000); // e32_impmod
    PutU32(noNames, base + fixtures::kLxNonResidentNameTableOffset, 0x7FFF0000);
    r = Scan(noNames);
    EXPECT_EQ(r.HdrName, "");
    EXPECT_EQ(r.HdrImports, "");
    EXPECT_EQ(r.HdrDescription, "");
    EXPECT_EQ(r.ResValue(1), "Network support");
}

TEST_F(LxLeTest, HeaderBlockReachingTheFileEndParsesNothing) {
    // The description and the version placed before the header, which ends the file.
    fixtures::LxLayout layout;
    const Bytes driver = BuildLx(Driver(), &layout);
    const std::size_t newBase = ((driver.size() + 15) / 16) * 16;
    Bytes file = driver;
    file.resize(newBase);
    file.insert(file.end(), driver.begin() + static_cast<std::ptrdiff_t>(layout.headerBase),
                driver.end());
    PutU32(file, 60, static_cast<std::uint32_t>(newBase)); // e_lfanew
    file.resize(newBase + 300);
    ScanRecord r = Scan(file);
    EXPECT_EQ(r.HdrDescription, "");
    EXPECT_FALSE(r.HasVersionResource);
    file.push_back(0);
    r = Scan(file);
    EXPECT_EQ(r.HdrDescription, "VNETSUP Virtual Device");
    EXPECT_EQ(r.ResValue(1), "Network support");
}

} // namespace
} // namespace kestrel
