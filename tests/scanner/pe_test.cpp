#include <gtest/gtest.h>

#include "pe_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::PeModule;

Bytes Version(const std::u16string& description) {
    fixtures::VersionInfo info;
    info.tables = {{.languageAndCodePage = "040904B0",
                    .strings = {{"FileDescription", description}, {"FileVersion", u"5.1"}}}};
    return fixtures::EncodeWideVersion(fixtures::MakeVersionTree(info));
}

PeModule Module(std::vector<std::string> imports = {"KERNEL32.dll"}) {
    PeModule module;
    module.imports = std::move(imports);
    module.resources = fixtures::VersionResourceTree(Version(u"Widget"));
    return module;
}

void PutU32(Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

class PeTest : public ::testing::Test {
protected:
    // The record of one scan of `file`, through the classification.
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

TEST_F(PeTest, Pe32ReadsImportsAndVersionStrings) {
    const ScanRecord r = Scan(MakePeModule(Module({"KERNEL32.dll", "USER32.dll", "GDI32.dll"})));
    EXPECT_EQ(r.ExeSignature, "PE");
    EXPECT_EQ(r.HdrImports, "KERNEL32, USER32  , GDI32   ");
    EXPECT_EQ(r.ResValue(1), "Widget");
    EXPECT_EQ(r.ResValue(2), "5.1");
    EXPECT_TRUE(r.HasVersionResource);
    EXPECT_EQ(r.HdrName, "");
    EXPECT_EQ(r.HdrDescription, "");
}

TEST_F(PeTest, Pe32PlusReadsTheDirectoriesOfThe64BitOptionalHeader) {
    PeModule module = Module({"KERNEL32.dll", "ntdll.dll"});
    module.pe32Plus = true;
    const ScanRecord r = Scan(MakePeModule(module));
    EXPECT_EQ(r.HdrImports, "KERNEL32, ntdll   ");
    EXPECT_EQ(r.ResValue(1), "Widget");
}

TEST_F(PeTest, Pe32KeepsItsDirectoryOffsetsWhatever144And152Hold) {
    fixtures::PeLayout layout;
    Bytes file = MakePeModule(Module(), &layout);
    // Data directories 3 and 4 (exception, security) of a PE32 file.
    PutU32(file, layout.headerBase + 144, 0x7000);
    PutU32(file, layout.headerBase + 152, 0x7000);
    const ScanRecord r = Scan(file);
    EXPECT_EQ(r.HdrImports, "KERNEL32");
    EXPECT_EQ(r.ResValue(1), "Widget");
}

TEST_F(PeTest, ImportNamesAreCutAtTheirDotOrToEightColumns) {
    const ScanRecord r = Scan(MakePeModule(Module({
        "KERNEL32.dll", "USER32.dll", "MSVCRT40ABC.DLL", "ABCDEFGHIJ", ".hidden",
        "ABCDEFGHIJKLM.DLL", // the dot lies past the 13 bytes read
    })));
    const std::string eightSpaces(8, ' ');
    EXPECT_EQ(r.HdrImports,
              "KERNEL32, USER32  , MSVCRT40, ABCDEFGH, " + eightSpaces + ", ABCDEFGH");
}

TEST_F(PeTest, ImportsAreReadOnlyThroughASectionNamedIdata) {
    PeModule module = Module();
    module.importSectionName = ".rdata";
    const ScanRecord r = Scan(MakePeModule(module));
    EXPECT_EQ(r.HdrImports, "");
    EXPECT_EQ(r.ResValue(1), "Widget") << "the resource walk is a step of its own";
}

TEST_F(PeTest, ResourceSectionNameIsComparedByItsFirstFiveCharacters) {
    for (const auto& [name, found] : std::vector<std::pair<std::string, bool>>{
             {".rsrc", true}, {".rsrc2", true}, {".RSRC", false}, {"rsrc", false}}) {
        PeModule module = Module();
        module.resourceSectionName = name;
        EXPECT_EQ(Scan(MakePeModule(module)).HasVersionResource, found) << name;
    }
}

TEST_F(PeTest, LastMatchingSectionWins) {
    fixtures::PeImage image = MakePeImage(Module());
    // A first ".rsrc" whose raw data holds no resource directory.
    image.sections.insert(image.sections.begin() + 1,
                          {.name = ".rsrc", .virtualAddress = 0x6000, .data = Bytes(64, 0)});
    const ScanRecord r = Scan(BuildPe(image));
    EXPECT_EQ(r.ResValue(1), "Widget");
}

// Import names that lie outside ".idata": the descriptors in ".idata", the
// names in a section ".names" loaded at 0x5000 with a virtual size of 0x40.
class PeNameMappingTest : public PeTest {
protected:
    Bytes Build(std::uint32_t nameOffsetInNames, std::uint32_t nameRva) {
        fixtures::PeImage image = MakePeImage(Module({"KERNEL32.dll"}));
        Bytes names(0x200, 0);
        const std::string text = "FARNAME.DLL";
        std::copy(text.begin(), text.end(), names.begin() + nameOffsetInNames);
        image.sections.push_back(
            {.name = ".names", .virtualAddress = 0x5000, .data = names, .virtualSize = 0x40});
        fixtures::PeLayout layout;
        Bytes file = BuildPe(image, &layout);
        const std::size_t descriptor = layout.sectionData[1]; // .idata starts with it
        PutU32(file, descriptor + 12, nameRva);
        return file;
    }
};

TEST_F(PeNameMappingTest, NameInAnotherSectionIsMappedThroughThatSection) {
    EXPECT_EQ(Scan(Build(0x10, 0x5010)).HdrImports, "FARNAME ");
}

TEST_F(PeNameMappingTest, NameInNoSectionIsMappedThroughTheLastSection) {
    // 0x5100 lies past the 0x40 bytes of ".names", the last section.
    EXPECT_EQ(Scan(Build(0x100, 0x5100)).HdrImports, "FARNAME ");
}

TEST_F(PeTest, NameAtTheEndOfIdataRawDataIsMappedThroughIdata) {
    fixtures::PeImage image = MakePeImage(Module({"KERNEL32.dll"}));
    fixtures::PeSection& idata = image.sections[1];
    const std::uint32_t size = static_cast<std::uint32_t>(idata.data.size());
    idata.sizeOfRawData = size;
    idata.virtualSize = size; // the section walk would not find the name
    const std::string text = "EDGE.DLL";
    idata.data.insert(idata.data.end(), text.begin(), text.end());
    idata.data.push_back(0);
    fixtures::PeLayout layout;
    Bytes file = BuildPe(image, &layout);
    PutU32(file, layout.sectionData[1] + 12, fixtures::kPeImportRva + size);
    EXPECT_EQ(Scan(file).HdrImports, "EDGE    ");
}

// Resource trees with a version resource that only the first ID entries reach.
fixtures::PeResourceName VersionName(std::uint32_t id, const std::u16string& description,
                                     std::u16string name = {}) {
    return {.id = id,
            .name = std::move(name),
            .languages = {{.id = 0x409, .data = Version(description)}}};
}

TEST_F(PeTest, FirstIdEntryAtTheNameAndLanguageLevelIsUsed) {
    PeModule module = Module();
    module.resources = {
        {.id = 3, .names = {VersionName(1, u"an icon")}}, // RT_ICON, before type 16
        {.id = 0, .name = u"CUSTOM", .names = {VersionName(1, u"a named type")}},
        {.id = 16,
         .names = {VersionName(0, u"named", u"NAMED"), VersionName(7, u"first ID"),
                   VersionName(1, u"second ID")}},
    };
    module.resources[2].names[1].languages.push_back({.id = 0x407, .data = Version(u"German")});
    EXPECT_EQ(Scan(MakePeModule(module)).ResValue(1), "first ID");
}

TEST_F(PeTest, VersionWithOnlyNamedEntriesAtTheNameLevelIsNotFound) {
    PeModule module = Module();
    module.resources = {{.id = 16, .names = {VersionName(0, u"named", u"VERSION")}}};
    EXPECT_FALSE(Scan(MakePeModule(module)).HasVersionResource);
}

// --- damaged files: each walk ends on its own and keeps what it found ---

TEST_F(PeTest, SectionTablePastTheFileEndsEverything) {
    fixtures::PeLayout layout;
    Bytes file = MakePeModule(Module(), &layout);
    file[layout.headerBase + fixtures::kPeSizeOfOptionalHeaderOffset] = 0xFF;
    file[layout.headerBase + fixtures::kPeSizeOfOptionalHeaderOffset + 1] = 0xFF;
    const ScanRecord r = Scan(file);
    EXPECT_EQ(r.HdrImports, "");
    EXPECT_FALSE(r.HasVersionResource);
}

TEST_F(PeTest, SectionCountPastTheTableStillFindsTheSections) {
    fixtures::PeLayout layout;
    Bytes file = MakePeModule(Module(), &layout);
    file[layout.headerBase + fixtures::kPeNumberOfSectionsOffset] = 0xFF;
    file[layout.headerBase + fixtures::kPeNumberOfSectionsOffset + 1] = 0xFF;
    const ScanRecord r = Scan(file);
    EXPECT_EQ(r.HdrImports, "KERNEL32");
    EXPECT_EQ(r.ResValue(1), "Widget");
}

TEST_F(PeTest, ImportDirectoryPastTheFileKeepsTheVersion) {
    fixtures::PeImage image = MakePeImage(Module());
    image.importDirectoryRva = 0x7FFF0000;
    const ScanRecord r = Scan(BuildPe(image));
    EXPECT_EQ(r.HdrImports, "");
    EXPECT_EQ(r.ResValue(1), "Widget");
}

TEST_F(PeTest, FailedNameSeekEndsTheImportsWithoutADanglingSeparator) {
    fixtures::PeLayout layout;
    Bytes file = MakePeModule(Module({"KERNEL32.dll", "USER32.dll", "GDI32.dll"}), &layout);
    // The second name RVA lies in no section and maps past the end of the file.
    PutU32(file, layout.sectionData[1] + 20 + 12, 0x7FFF0000);
    EXPECT_EQ(Scan(file).HdrImports, "KERNEL32");
}

TEST_F(PeTest, ShortImportDescriptorEndsTheImports) {
    // Names first, then the descriptors, at the end of the file.
    const fixtures::PeImportSection imports = fixtures::BuildImportSection(
        fixtures::kPeImportRva, {"KERNEL32.dll", "USER32.dll"}, false, true);
    fixtures::PeImage image;
    image.importDirectoryRva = fixtures::kPeImportRva + imports.directoryOffset;
    image.sections = {
        {.name = ".idata", .virtualAddress = fixtures::kPeImportRva, .data = imports.data}};
    fixtures::PeLayout layout;
    Bytes file = BuildPe(image, &layout);
    const std::size_t descriptors = layout.sectionData[0] + imports.directoryOffset;
    // The whole first descriptor, then 19 bytes of the second: its name RVA is there.
    file.resize(descriptors + 20 + 19);
    EXPECT_EQ(Scan(file).HdrImports, "KERNEL32");
    file.resize(descriptors + 20 + 20);
    EXPECT_EQ(Scan(file).HdrImports, "KERNEL32, USER32  ") << "the exact fit is read";
}

TEST_F(PeTest, ImportWalkWithoutAClosingDescriptorEndsAtTheFileEndOrItsCap) {
    fixtures::PeLayout layout;
    Bytes file = MakePeModule(Module({"KERNEL32.dll"}), &layout);
    const std::size_t first = layout.sectionData[1];
    // Copy the first descriptor over everything up to the end of the file.
    const auto fillWithDescriptors = [&](std::size_t count) {
        file.resize(std::max(file.size(), first + 20 * count));
        for (std::size_t k = 1; k < count; ++k)
            std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(first), 20,
                        file.begin() + static_cast<std::ptrdiff_t>(first + 20 * k));
    };
    const std::size_t count = (file.size() - first) / 20;
    fillWithDescriptors(count);
    EXPECT_EQ(Scan(file).HdrImports.size(), 8 * count + 2 * (count - 1));
    fillWithDescriptors(5000);
    EXPECT_EQ(Scan(file).HdrImports.size(), 8 * 4096 + 2 * 4095u);
}

TEST_F(PeTest, VersionDataPastTheFileKeepsTheImports) {
    PeModule module = Module();
    const fixtures::PeResourceSection resources =
        fixtures::BuildResourceSection(fixtures::kPeResourceRva, module.resources);
    fixtures::PeLayout layout;
    Bytes file = MakePeModule(module, &layout);
    PutU32(file, layout.sectionData[2] + resources.dataEntryOffsets[0], 0x7FFF0000);
    const ScanRecord r = Scan(file);
    EXPECT_FALSE(r.HasVersionResource);
    EXPECT_EQ(r.HdrImports, "KERNEL32");
}

TEST_F(PeTest, ShortDataEntryEndsTheResourceWalk) {
    const PeModule module = Module();
    const fixtures::PeResourceSection resources =
        fixtures::BuildResourceSection(fixtures::kPeResourceRva, module.resources);
    fixtures::PeLayout layout;
    const Bytes whole = MakePeModule(module, &layout);
    const std::size_t rsrc = layout.sectionData[2];
    const std::size_t languageEntry = rsrc + resources.directoryOffsets[2] + 16;

    // A data entry moved to the file's end with only its RVA and size there.
    Bytes file = whole;
    const std::size_t moved = file.size();
    file.insert(file.end(),
                whole.begin() + static_cast<std::ptrdiff_t>(rsrc + resources.dataEntryOffsets[0]),
                whole.begin() +
                    static_cast<std::ptrdiff_t>(rsrc + resources.dataEntryOffsets[0] + 8));
    PutU32(file, languageEntry + 4, static_cast<std::uint32_t>(moved - rsrc));
    EXPECT_FALSE(Scan(file).HasVersionResource);
    file.insert(file.end(), 8, 0);
    EXPECT_TRUE(Scan(file).HasVersionResource) << "the whole entry is read";
}

// The reader's precondition: the header block was read and the file goes on
// after it. When the block reached the end of the file, the position query
// fails and nothing is parsed.
TEST(PeParserTest, HeaderBlockAtTheEndOfTheFileParsesNothing) {
    fixtures::TempTree tree;
    fixtures::PeLayout layout;
    const Bytes file = MakePeModule(Module(), &layout);
    const auto path = tree.Add("MODULE.DLL", file);
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    ASSERT_EQ(scanner.OpenScanFile(path.string()), 0);
    const Bytes header(file.begin() + static_cast<std::ptrdiff_t>(layout.headerBase),
                       file.begin() + static_cast<std::ptrdiff_t>(layout.headerBase + 300));

    std::int64_t offset = static_cast<std::int64_t>(file.size() - 300);
    ASSERT_EQ(scanner.SeekScanFile(offset, 0), 0);
    scanner.ReadBlock(300);
    scanner.FileBuffer = header;
    scanner.ParsePe();
    EXPECT_EQ(scanner.Record.HdrImports, "");
    EXPECT_FALSE(scanner.Record.HasVersionResource);

    offset = static_cast<std::int64_t>(layout.headerBase);
    ASSERT_EQ(scanner.SeekScanFile(offset, 0), 0);
    scanner.ReadBlock(300);
    scanner.ParsePe();
    EXPECT_EQ(scanner.Record.HdrImports, "KERNEL32");
    EXPECT_TRUE(scanner.Record.HasVersionResource);
}

} // namespace
} // namespace kestrel
