// PE executables: the imported modules and the version resource.
//
// Offsets from the "PE" signature (the header base):
//   6     NumberOfSections (16 bits)
//   20    SizeOfOptionalHeader (16 bits)
//   24    the optional header, its Magic first: 0x10B PE32, 0x20B PE32+
//   24 + SizeOfOptionalHeader   the section table, 40 bytes per section
// The data directories close the optional header; entry 1 is the import
// table, entry 2 the resource table. Imports are read only through a section
// named ".idata" and resources only through one named ".rsrc", as the
// linkers of the time laid them out.

#include <algorithm>
#include <optional>
#include <string>

#include "quill_scan.h"

namespace kestrel {

namespace {

constexpr std::int64_t kNumberOfSectionsOffset = 6;
constexpr std::int64_t kSizeOfOptionalHeaderOffset = 20;
constexpr std::int64_t kOptionalHeaderOffset = 24;
constexpr std::int32_t kPe32PlusMagic = 0x20B;
// Import and resource directory RVAs: entries 1 and 2 of the data directories,
// which start 96 bytes into the PE32 optional header and 112 bytes into the
// PE32+ one, whose address fields are 8 bytes wide.
constexpr std::int64_t kPe32ImportDirectoryOffset = 128;
constexpr std::int64_t kPe32ResourceDirectoryOffset = 136;
constexpr std::int64_t kPe32PlusImportDirectoryOffset = 144;
constexpr std::int64_t kPe32PlusResourceDirectoryOffset = 152;

// IMAGE_SECTION_HEADER
constexpr std::int64_t kSectionHeaderSize = 40;
constexpr std::int64_t kSectionVirtualSizeOffset = 8;
constexpr std::int64_t kSectionVirtualAddressOffset = 12;
constexpr std::int64_t kSectionSizeOfRawDataOffset = 16;
constexpr std::int64_t kSectionPointerToRawDataOffset = 20;

// IMAGE_IMPORT_DESCRIPTOR: only the RVA of the module name is used.
constexpr std::int64_t kImportDescriptorSize = 20;
constexpr std::int64_t kImportNameRvaOffset = 12;
// No linker writes more than a few hundred import descriptors; a crafted file
// whose descriptors never close would otherwise grow the imports text with
// every 20 bytes of the file.
constexpr std::int64_t kMaxImportDescriptors = 4096;
// A module name is read from at most 13 bytes: an 8.3 name and its zero.
constexpr std::int64_t kImportNameBlockSize = 13;
constexpr std::size_t kModuleNameColumns = 8;

// IMAGE_RESOURCE_DIRECTORY, its entries and IMAGE_RESOURCE_DATA_ENTRY.
constexpr std::int64_t kResourceDirectorySize = 16;
constexpr std::int64_t kNumberOfNamedEntriesOffset = 12;
constexpr std::int64_t kNumberOfIdEntriesOffset = 14;
constexpr std::int64_t kResourceEntrySize = 8;
constexpr std::int64_t kResourceDataEntrySize = 16;
constexpr std::int32_t kSubdirectoryFlagMask = 0x7FFFFFFF;
constexpr std::int32_t kVersionResourceType = 16; // RT_VERSION

// One section's placement: where its raw data lies in the file and the
// address it is loaded at.
struct SectionMapping {
    std::int64_t raw = 0;
    std::int64_t va = 0;
};

// The name cut at its first dot, or to 8 characters when it has none, then
// padded with spaces to exactly 8.
std::string ImportColumn(std::string name) {
    const std::size_t dot = name.find('.');
    name.resize(dot != std::string::npos ? dot : std::min(name.size(), kModuleNameColumns));
    name.resize(kModuleNameColumns, ' ');
    return name;
}

} // namespace

std::int32_t QuillScan::FindResourceEntry(std::int64_t directoryOffset, std::int32_t id) {
    std::int64_t offset = directoryOffset;
    if (SeekScanFile(offset, 0) != 0)
        return 0;
    if (ReadBlock(kResourceDirectorySize) < kResourceDirectorySize)
        return 0;
    const std::int64_t namedEntries = BufWord(kNumberOfNamedEntriesOffset);
    const std::int64_t idEntries = BufWord(kNumberOfIdEntriesOffset);
    // The named entries come first and are never looked at.
    offset = directoryOffset + kResourceDirectorySize + namedEntries * kResourceEntrySize;
    if (SeekScanFile(offset, 0) != 0)
        return 0;
    ReadBlock(idEntries * kResourceEntrySize);
    const std::int64_t entriesRead =
        std::min(idEntries, std::max<std::int64_t>(BufferFill, 0) / kResourceEntrySize);
    const auto entryOffset = [&](std::int64_t n) {
        return BufDword(n * kResourceEntrySize + 4) & kSubdirectoryFlagMask;
    };
    if (id >= 0) {
        for (std::int64_t n = 0; n < entriesRead; ++n) {
            if (BufDword(n * kResourceEntrySize) == id)
                return entryOffset(n);
        }
        return 0;
    }
    const std::int64_t position = -static_cast<std::int64_t>(id);
    if (position > entriesRead)
        return 0;
    return entryOffset(position - 1);
}

namespace {

// The fields of the header that the walks below use.
struct PeHeader {
    std::int64_t sectionTable = 0; // file offset
    std::int64_t numberOfSections = 0;
    std::int64_t importDirectoryRva = 0;
    std::int64_t resourceDirectoryRva = 0;
};

// The sections that carry the imports and the resources.
struct PeSections {
    SectionMapping rsrc;
    SectionMapping idata;
    std::int64_t idataSize = 0; // SizeOfRawData
};

// Reads the section table into the block; the result is the number of whole
// entries read.
std::int64_t ReadSectionTable(QuillScan& scan, const PeHeader& header) {
    std::int64_t offset = header.sectionTable;
    if (scan.SeekScanFile(offset, 0) != 0)
        return 0;
    scan.ReadBlock(header.numberOfSections * kSectionHeaderSize);
    return std::min(header.numberOfSections,
                    std::max<std::int64_t>(scan.BufferFill, 0) / kSectionHeaderSize);
}

SectionMapping SectionAt(const QuillScan& scan, std::int64_t index) {
    const std::int64_t e = index * kSectionHeaderSize;
    return {scan.BufDword(e + kSectionPointerToRawDataOffset),
            scan.BufDword(e + kSectionVirtualAddressOffset)};
}

// Only the first 5 or 6 characters of a name are compared, so ".rsrc2"
// counts as ".rsrc"; when several sections match, the last one wins.
PeSections FindSections(QuillScan& scan, const PeHeader& header) {
    PeSections sections;
    const std::int64_t sectionsRead = ReadSectionTable(scan, header);
    for (std::int64_t i = 0; i < sectionsRead; ++i) {
        const std::int64_t e = i * kSectionHeaderSize;
        if (scan.BufChars(e, 5) == ".rsrc")
            sections.rsrc = SectionAt(scan, i);
        if (scan.BufChars(e, 6) == ".idata") {
            sections.idata = SectionAt(scan, i);
            sections.idataSize = scan.BufDword(e + kSectionSizeOfRawDataOffset);
        }
    }
    return sections;
}

// The section through which a name RVA outside ".idata" is mapped: the first
// one that holds it, else the last one read. Fails when the table cannot be
// read again.
std::optional<SectionMapping> SectionHolding(QuillScan& scan, const PeHeader& header,
                                             std::int64_t rva) {
    const std::int64_t sectionsRead = ReadSectionTable(scan, header);
    if (sectionsRead == 0)
        return std::nullopt;
    SectionMapping section;
    for (std::int64_t j = 0; j < sectionsRead; ++j) {
        section = SectionAt(scan, j);
        const std::int64_t virtualSize =
            scan.BufDword(j * kSectionHeaderSize + kSectionVirtualSizeOffset);
        if (section.va <= rva && rva < section.va + virtualSize)
            break;
    }
    return section;
}

// The descriptors are mapped through ".idata" wherever the import directory
// really lies; the walk ends at the descriptor whose name RVA is 0, or after
// kMaxImportDescriptors of them.
void ReadImports(QuillScan& scan, const PeHeader& header, const PeSections& sections) {
    const SectionMapping& idata = sections.idata;
    const std::int64_t descriptors = header.importDirectoryRva + idata.raw - idata.va;
    for (std::int64_t n = 0; n < kMaxImportDescriptors; ++n) {
        std::int64_t offset = descriptors + n * kImportDescriptorSize;
        if (scan.SeekScanFile(offset, 0) != 0)
            return;
        if (scan.ReadBlock(kImportDescriptorSize) < kImportDescriptorSize)
            return;
        const std::int64_t nameRva = scan.BufDword(kImportNameRvaOffset);
        if (nameRva == 0)
            return;
        std::optional<SectionMapping> names = idata;
        if (nameRva < idata.va || nameRva > idata.va + sections.idataSize)
            names = SectionHolding(scan, header, nameRva);
        if (!names)
            return;
        offset = nameRva - names->va + names->raw;
        if (scan.SeekScanFile(offset, 0) != 0)
            return;
        std::string& imports = scan.Record.HdrImports;
        if (!imports.empty())
            imports += ", ";
        scan.ReadBlock(kImportNameBlockSize);
        imports += ImportColumn(scan.BufZString(1));
    }
}

// Type 16, then the first ID entry at the name level and at the language
// level, then the data entry and the data it points to.
void ReadVersion(QuillScan& scan, const PeHeader& header, const SectionMapping& rsrc) {
    const std::int64_t root = header.resourceDirectoryRva + rsrc.raw - rsrc.va;
    const std::int64_t typeOffset = scan.FindResourceEntry(root, kVersionResourceType);
    if (typeOffset == 0)
        return;
    const std::int64_t nameOffset = scan.FindResourceEntry(root + typeOffset, -1);
    if (nameOffset == 0)
        return;
    const std::int64_t languageOffset = scan.FindResourceEntry(root + nameOffset, -1);
    if (languageOffset == 0)
        return;
    std::int64_t offset = root + languageOffset;
    if (scan.SeekScanFile(offset, 0) != 0)
        return;
    if (scan.ReadBlock(kResourceDataEntrySize) < kResourceDataEntrySize)
        return;
    offset = scan.BufDword(0) - rsrc.va + rsrc.raw;
    const std::int64_t size = scan.BufDword(4);
    if (size <= 0 || scan.SeekScanFile(offset, 0) != 0)
        return;
    scan.ReadBlock(size);
    scan.ReadVersionResource();
}

} // namespace

void QuillScan::ParsePe() {
    std::int64_t position = 0;
    if (SeekScanFile(position, 1) != 0)
        return;
    const std::int64_t headerBase = position - BufferFill;
    const bool pe32Plus = BufWord(kOptionalHeaderOffset) == kPe32PlusMagic;
    PeHeader header;
    header.sectionTable = headerBase + kOptionalHeaderOffset + BufWord(kSizeOfOptionalHeaderOffset);
    header.numberOfSections = BufWord(kNumberOfSectionsOffset);
    header.importDirectoryRva =
        BufDword(pe32Plus ? kPe32PlusImportDirectoryOffset : kPe32ImportDirectoryOffset);
    header.resourceDirectoryRva =
        BufDword(pe32Plus ? kPe32PlusResourceDirectoryOffset : kPe32ResourceDirectoryOffset);

    const PeSections sections = FindSections(*this, header);
    if (sections.idata.raw != 0)
        ReadImports(*this, header, sections);
    if (sections.rsrc.raw != 0)
        ReadVersion(*this, header, sections.rsrc);
}

} // namespace kestrel
