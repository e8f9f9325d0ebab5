#include <gtest/gtest.h>

#include "pe_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::ByteWriter;
using fixtures::PeModule;

Bytes Version(const std::u16string& description) {
    return fixtures::MakeVersionResource(
        {{"FileDescription", description}, {"FileVersion", u"5.1"}}, fixtures::VersionLayout::Wide);
}

PeModule Module(std::vector<std::string> imports = {"KERNEL32.dll"}) {
    return {.imports = std::move(imports),
            .resources = fixtures::VersionResourceTree(Version(u"Widget"))};
}

// The record of one scan of `file`, through the classification.
ScanRecord Scan(const Bytes& file) {
    return testing::ScanOneRecord(file, "MODULE.DLL");
}

// `file` with the 32-bit value at `at` replaced.
Bytes Patched(const Bytes& file, std::size_t at, std::uint32_t value) {
    return ByteWriter().PutBytes(0, file).PutU32(at, value).Data();
}

// The imports and the file description of the version, as one text.
std::string Found(const ScanRecord& r) {
    return r.HdrImports + "|" + r.ResValue(1);
}

// Names are cut at their dot or to eight columns, and padded to eight.
const std::vector<std::string> kImports = {
    "KERNEL32.dll",      "USER32.dll", "MSVCRT40ABC.DLL", "ABCDEFGHIJ", ".hidden",
    "ABCDEFGHIJKLM.DLL", // the dot lies past the 13 bytes read
};
const std::string kImportColumns = "KERNEL32, USER32  , MSVCRT40, ABCDEFGH,         , ABCDEFGH|";

TEST(PeTest, Pe32AndPe32PlusReadImportsAndVersionStrings) {
    for (const bool pe32Plus : {false, true}) {
        PeModule module = Module(kImports);
        module.pe32Plus = pe32Plus;
        const ScanRecord r = Scan(MakePeModule(module));
        EXPECT_EQ(r.ExeSignature, "PE");
        EXPECT_EQ(Found(r), kImportColumns + "Widget") << pe32Plus;
        EXPECT_EQ(r.ResValue(2), "5.1");
    }
}

TEST(PeTest, SectionsAreFoundByTheirNamesAndTheLastMatchWins) {
    PeModule module = Module();
    module.importSectionName = ".rdata";
    EXPECT_EQ(Found(Scan(MakePeModule(module))), "|Widget") << "a step of its own each";
    // Only the first five characters of the resource section's name count.
    for (const auto& [name, found] : std::vector<std::pair<std::string, bool>>{
             {".rsrc", true}, {".rsrc2", true}, {".RSRC", false}, {"rsrc", false}}) {
        module = Module();
        module.resourceSectionName = name;
        EXPECT_EQ(Scan(MakePeModule(module)).HasVersionResource, found) << name;
    }
    // A first ".rsrc" whose raw data holds no resource directory.
    fixtures::PeImage image = MakePeImage(Module());
    image.sections.insert(image.sections.begin() + 1,
                          {.name = ".rsrc", .virtualAddress = 0x6000, .data = Bytes(64, 0)});
    EXPECT_EQ(Scan(BuildPe(image)).ResValue(1), "Widget");
}

// The descriptors lie in ".idata"; a name outside it is mapped through the
// section that holds it, else through the last section read, but a name
// right at the end of the raw data of ".idata" is still in it.
TEST(PeTest, ImportNameOutsideIdataIsMappedThroughItsSectionOrTheLastOne) {
    const auto importsWithName = [](std::size_t section, std::uint32_t offset, std::uint32_t rva) {
        fixtures::PeImage image = MakePeImage(Module());
        fixtures::PeSection& idata = image.sections[1];
        idata.sizeOfRawData = idata.virtualSize = static_cast<std::uint32_t>(idata.data.size());
        image.sections.push_back({.name = ".names", .virtualAddress = 0x5000, .virtualSize = 0x40});
        fixtures::PeSection& names = image.sections[section];
        names.data = ByteWriter().PutBytes(0, names.data).PutZText(offset, "FAR.DLL").Data();
        fixtures::PeLayout layout;
        const Bytes file = BuildPe(image, &layout);
        return Scan(Patched(file, layout.sectionData[1] + 12, rva)).HdrImports;
    };
    EXPECT_EQ(importsWithName(3, 0x10, 0x5010), "FAR     ");
    EXPECT_EQ(importsWithName(3, 0x100, 0x5100), "FAR     ") << "past the 0x40 bytes of .names";
    const std::uint32_t idataSize =
        static_cast<std::uint32_t>(MakePeImage(Module()).sections[1].data.size());
    EXPECT_EQ(importsWithName(1, idataSize, fixtures::kPeImportRva + idataSize), "FAR     ");
}

// A version resource under a name entry, in one language.
fixtures::PeResource VersionName(std::uint32_t id, const std::u16string& description,
                                 std::u16string name = {}) {
    return {.id = id,
            .name = std::move(name),
            .children = {{.id = 0x409, .data = Version(description)}}};
}

TEST(PeTest, OnlyTheFirstIdEntryAtTheNameAndLanguageLevelsIsUsed) {
    PeModule module = Module();
    module.resources = {
        {.id = 3, .children = {VersionName(1, u"an icon")}}, // RT_ICON, before type 16
        {.name = u"CUSTOM", .children = {VersionName(1, u"a named type")}},
        {.id = 16,
         .children = {VersionName(0, u"named", u"NAMED"), VersionName(7, u"first ID"),
                      VersionName(1, u"second ID")}},
    };
    module.resources[2].children[1].children.push_back({.id = 0x407, .data = Version(u"German")});
    EXPECT_EQ(Scan(MakePeModule(module)).ResValue(1), "first ID");
    module.resources = {{.id = 16, .children = {VersionName(0, u"named", u"VERSION")}}};
    EXPECT_FALSE(Scan(MakePeModule(module)).HasVersionResource);
}

TEST(PeTest, DamagedFieldEndsItsOwnStepAndKeepsWhatTheOthersFound) {
    const PeModule module = Module(kImports);
    fixtures::PeLayout layout;
    const Bytes file = MakePeModule(module, &layout);
    const std::size_t base = layout.headerBase;
    const std::size_t dataEntry =
        layout.sectionData[2] +
        BuildResourceSection(fixtures::kPeResourceRva, module.resources).dataEntryOffsets[0];
    const struct {
        const char* field;
        std::size_t at;
        std::uint32_t value;
        std::string found;
    } cases[] = {
        // A PE32 file keeps its directories at 128 and 136.
        {"the exception directory", base + 144, 0x7FFF0000, kImportColumns + "Widget"},
        {"the security directory", base + 152, 0x7FFF0000, kImportColumns + "Widget"},
        {"SizeOfOptionalHeader: the section table past the file", base + 20, 0xFFFF, "|"},
        {"NumberOfSections: past the table", base + 6, 0xFFFF, kImportColumns + "Widget"},
        {"the import directory", base + 128, 0x7FFF0000, "|Widget"},
        // No separator dangles after the first name.
        {"the second name", layout.sectionData[1] + 20 + 12, 0x7FFF0000, "KERNEL32|Widget"},
        {"the version data", dataEntry, 0x7FFF0000, kImportColumns},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Found(Scan(Patched(file, c.at, c.value))), c.found) << c.field;
}

TEST(PeTest, ShortImportDescriptorEndsTheImports) {
    // Names first, then the descriptors, at the end of the file.
    const PeModule module{.imports = {"KERNEL32.dll", "USER32.dll"}, .importNamesFirst = true};
    fixtures::PeLayout layout;
    Bytes file = MakePeModule(module, &layout);
    const std::size_t descriptors =
        layout.sectionData[1] + MakePeImage(module).importDirectoryRva - fixtures::kPeImportRva;
    // The whole first descriptor, then 19 bytes of the second: its name RVA is there.
    file.resize(descriptors + 20 + 19);
    EXPECT_EQ(Scan(file).HdrImports, "KERNEL32");
    file.push_back(0);
    EXPECT_EQ(Scan(file).HdrImports, "KERNEL32, USER32  ") << "the exact fit is read";
}

TEST(PeTest, ImportWalkWithoutAClosingDescriptorEndsAtTheFileEndOrItsCap) {
    fixtures::PeLayout layout;
    const Bytes file = MakePeModule(Module(), &layout);
    const std::size_t first = layout.sectionData[1];
    const Bytes descriptor(file.begin() + first, file.begin() + first + 20);
    // The first descriptor copied over the rest of the file, or 5000 times.
    for (const std::size_t count : {(file.size() - first) / 20, std::size_t{5000}}) {
        ByteWriter copies;
        copies.PutBytes(0, file);
        for (std::size_t k = 1; k < count; ++k)
            copies.PutBytes(first + 20 * k, descriptor);
        const std::size_t read = std::min<std::size_t>(count, 4096);
        EXPECT_EQ(Scan(copies.Data()).HdrImports.size(), 8 * read + 2 * (read - 1));
    }
}

TEST(PeTest, ShortResourceDataEntryEndsTheResourceWalk) {
    const PeModule module = Module();
    const fixtures::PeResourceSection resources =
        BuildResourceSection(fixtures::kPeResourceRva, module.resources);
    fixtures::PeLayout layout;
    const Bytes file = MakePeModule(module, &layout);
    const std::size_t rsrc = layout.sectionData[2];
    const std::size_t dataEntry = rsrc + resources.dataEntryOffsets[0];
    // The language entry led to a copy of the data entry at the file's end,
    // of which only the RVA and size are there.
    ByteWriter moved;
    moved.PutBytes(0, file).PutBytes(file.size(),
                                     Bytes(file.begin() + dataEntry, file.begin() + dataEntry + 8));
    moved.PutU32(rsrc + resources.leafEntryOffsets[0] + 4,
                 static_cast<std::uint32_t>(file.size() - rsrc));
    EXPECT_FALSE(Scan(moved.Data()).HasVersionResource);
    moved.Reserve(file.size() + 16);
    EXPECT_TRUE(Scan(moved.Data()).HasVersionResource) << "the whole entry is read";
}

// The reader's precondition: the header block was read and the file goes on
// after it. When the block reached the end of the file, the position query
// fails and nothing is parsed.
TEST(PeTest, HeaderBlockAtTheEndOfTheFileParsesNothing) {
    fixtures::TempTree tree;
    fixtures::PeLayout layout;
    const Bytes file = MakePeModule(Module(), &layout);
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    ASSERT_EQ(scanner.OpenScanFile(tree.Add("MODULE.DLL", file).string()), 0);
    const Bytes header(file.begin() + layout.headerBase, file.begin() + layout.headerBase + 300);
    for (const std::size_t at : {file.size() - 300, layout.headerBase}) {
        std::int64_t offset = static_cast<std::int64_t>(at);
        ASSERT_EQ(scanner.SeekScanFile(offset, 0), 0);
        scanner.ReadBlock(300);
        scanner.FileBuffer = header;
        scanner.ClearScanRecord();
        scanner.ParsePe();
        EXPECT_EQ(scanner.Record.HdrImports, at == layout.headerBase ? "KERNEL32" : "");
        EXPECT_EQ(scanner.Record.HasVersionResource, at == layout.headerBase);
    }
}

} // namespace
} // namespace kestrel
