#include <gtest/gtest.h>

#include "lx_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::ByteWriter;
using fixtures::LxModule;
using fixtures::LxVersionHeader;

LxModule Os2Module() {
    return {.moduleName = "PMHELPER",
            .description = "Presentation Manager helper",
            .importedModules = {"DOSCALLS", "VIOCALLS", "PMWIN"}};
}

LxModule Driver(LxVersionHeader header = LxVersionHeader::NumericName) {
    return {.signature = "LE",
            .moduleName = "VNETSUP",
            .description = "VNETSUP Virtual Device",
            .importedModules = {"VMM"},
            .versionResource = fixtures::MakeVersionResource(
                {{"FileDescription", u"Network support"}, {"FileVersion", u"4.00.950"}},
                fixtures::VersionLayout::Narrow),
            .versionHeader = header};
}

ScanRecord Scan(const Bytes& file) {
    return testing::ScanOneRecord(file, "MODULE.DLL");
}

// Name, description, imports and the file description of the version.
std::string Fields(const ScanRecord& r) {
    return r.HdrName + "|" + r.HdrDescription + "|" + r.HdrImports + "|" + r.ResValue(1);
}

TEST(LxLeTest, Os2ModuleReadsNameDescriptionAndWholeImportNames) {
    LxModule module = Os2Module();
    const ScanRecord r = Scan(BuildLx(module));
    EXPECT_EQ(r.ExeSignature, "LX");
    // The separator follows every name, the last one too.
    EXPECT_EQ(Fields(r), "PMHELPER|Presentation Manager helper|DOSCALLS, VIOCALLS, PMWIN, |");
    module.moduleName = "LONGMODULENAME";
    EXPECT_EQ(Scan(BuildLx(module)).HdrName, "LONGMODU") << "read from nine bytes";
}

TEST(LxLeTest, DriverVersionIsReadBehindBothResourceHeaderShapesOnly) {
    for (const LxVersionHeader header : {LxVersionHeader::NumericName, LxVersionHeader::TextName}) {
        const ScanRecord r = Scan(BuildLx(Driver(header)));
        EXPECT_EQ(r.ExeSignature, "LE");
        EXPECT_EQ(Fields(r), "VNETSUP|VNETSUP Virtual Device|VMM, |Network support");
        EXPECT_EQ(r.ResValue(2), "4.00.950");
    }
    fixtures::LxLayout layout;
    const Bytes file = BuildLx(Driver(), &layout);
    EXPECT_FALSE(Scan(ByteWriter().PutBytes(0, file).PutU8(layout.versionResource + 3, 0x12).Data())
                     .HasVersionResource)
        << "FF 10 00 12";
    // Without a non-resident-name table the description stays empty.
    LxModule module = Driver();
    module.description = "";
    EXPECT_EQ(Fields(Scan(BuildLx(module))), "VNETSUP||VMM, |Network support");
}

TEST(LxLeTest, ImportsStopWhereTheNextNameWouldStartPastTheBytesRead) {
    // Two entries, 18 bytes read: a first name of 20 characters is cut to the
    // 17 that were read, and the second would start past them.
    LxModule module = Os2Module();
    module.importedModules = {"ABCDEFGHIJKLMNOPQRST", "VIOCALLS"};
    EXPECT_EQ(Scan(BuildLx(module)).HdrImports, "ABCDEFGHIJKLMNOPQ, ");
    // Names of 8 characters on average fit: one of 9 and one of 7.
    module.importedModules = {"DOSCALLS1", "VIOCALL"};
    EXPECT_EQ(Scan(BuildLx(module)).HdrImports, "DOSCALLS1, VIOCALL, ");
}

TEST(LxLeTest, EachStepEndsOnItsOwnAtAFailedSeek) {
    fixtures::LxLayout layout;
    const Bytes file = BuildLx(Driver(), &layout);
    const auto pastTheFile = [&](std::initializer_list<std::size_t> fields) {
        ByteWriter damaged;
        damaged.PutBytes(0, file);
        for (const std::size_t field : fields)
            damaged.PutU32(layout.headerBase + field, 0x7FFF0000);
        return Fields(Scan(damaged.Data()));
    };
    EXPECT_EQ(pastTheFile({fixtures::kLxVersionResourceOffset}),
              "VNETSUP|VNETSUP Virtual Device|VMM, |");
    EXPECT_EQ(
        pastTheFile({fixtures::kLxResidentNameTableOffset, fixtures::kLxImportModuleTableOffset,
                     fixtures::kLxNonResidentNameTableOffset}),
        "|||Network support");
}

TEST(LxLeTest, HeaderBlockReachingTheFileEndParsesNothing) {
    // The header moved to the end, its 300-byte block ending the file; the
    // description and the version stay before it.
    fixtures::LxLayout layout;
    const Bytes driver = BuildLx(Driver(), &layout);
    const std::size_t newBase = (driver.size() + 15) / 16 * 16;
    ByteWriter file;
    file.PutBytes(0, driver).PutU32(60, static_cast<std::uint32_t>(newBase)); // e_lfanew
    file.PutBytes(newBase, Bytes(driver.begin() + layout.headerBase,
                                 driver.begin() + layout.headerBase + 300));
    EXPECT_EQ(Fields(Scan(file.Data())), "|||");
    EXPECT_EQ(Fields(Scan(file.PutU8(newBase + 300, 0).Data())),
              "VNETSUP|VNETSUP Virtual Device|VMM, |Network support");
}

} // namespace
} // namespace kestrel
