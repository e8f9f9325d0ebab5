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
//
// The facts beside the report read the imports as the loader finds them:
// the import (entry 1) and delay-load import (entry 13) directories, each
// RVA mapped through whichever section holds it.

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "quill_scan.h"
#include "text.h"

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
std::int64_t ReadSectionTable(FileReader& scan, const PeHeader& header) {
    std::int64_t offset = header.sectionTable;
    if (scan.SeekScanFile(offset, 0) != 0)
        return 0;
    scan.ReadBlock(header.numberOfSections * kSectionHeaderSize);
    return std::min(header.numberOfSections,
                    std::max<std::int64_t>(scan.BufferFill(), 0) / kSectionHeaderSize);
}

SectionMapping SectionAt(const FileReader& scan, std::int64_t index) {
    const std::int64_t e = index * kSectionHeaderSize;
    return {scan.BufDword(e + kSectionPointerToRawDataOffset),
            scan.BufDword(e + kSectionVirtualAddressOffset)};
}

// Only the first 5 or 6 characters of a name are compared, so ".rsrc2"
// counts as ".rsrc"; when several sections match, the last one wins.
PeSections FindSections(FileReader& scan, const PeHeader& header) {
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
std::optional<SectionMapping> SectionHolding(FileReader& scan, const PeHeader& header,
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

// Where the bytes at an RVA lie in the file, and how many follow there: past
// a section's raw data the loader gives zeros.
struct FilePlace {
    std::int64_t offset = 0;
    std::int64_t available = 0;
};

// IMAGE_DELAYLOAD_DESCRIPTOR: Attributes, then the name's RVA. Without the
// RVA bit in Attributes, a 32-bit image's descriptor holds virtual addresses
// (as the delay-load helper of Visual C++ 6 wrote them).
constexpr std::int64_t kDelayDescriptorSize = 32;
constexpr std::int64_t kDelayNameOffset = 4;
constexpr std::int32_t kDelayAttributeRva = 1;

// The layout of one kind of descriptor table.
struct DescriptorTable {
    std::int64_t descriptorSize;
    std::int64_t nameOffset;
    bool delayLoad;
};
constexpr DescriptorTable kImportTable{kImportDescriptorSize, kImportNameRvaOffset, false};
constexpr DescriptorTable kDelayImportTable{kDelayDescriptorSize, kDelayNameOffset, true};

// How a walk over a descriptor table ends: the report's reading stops at the
// first descriptor whose name RVA is 0, the loader's at the all-zero one.
enum class TableEnd { kZeroName, kZeroDescriptor };

// The two fields of a descriptor that the readings use, as stored.
struct Descriptor {
    std::int32_t attributes; // a delay-load descriptor's first field
    std::int32_t name;       // the RVA (or address) of the module's name
};

bool AllZero(const FileReader& scan, std::int64_t index, std::int64_t count) {
    for (std::int64_t i = index; i < index + count; ++i) {
        if (scan.BufByte(i) != 0)
            return false;
    }
    return true;
}

// The descriptors of the table at `place` up to its end, read a block at a
// time. A table cut by the end of the file or of `place` ends with what was
// found; one that goes on past kMaxImportDescriptors descriptors is cut
// there, and `cut` tells it.
std::vector<Descriptor> ReadDescriptors(FileReader& scan, FilePlace place,
                                        const DescriptorTable& table, TableEnd end, bool& cut) {
    std::vector<Descriptor> descriptors;
    // One more than the cap tells whether the table goes on past it.
    const std::int64_t perBlock = kMaxBlockSize / table.descriptorSize;
    std::int64_t done = 0; // bytes of the table read
    for (std::int64_t n = 0; n <= kMaxImportDescriptors;) {
        std::int64_t offset = place.offset + done;
        if (scan.SeekScanFile(offset, 0) != 0)
            return descriptors;
        const std::int64_t wanted = std::min(perBlock, kMaxImportDescriptors + 1 - n);
        scan.ReadBlock(std::min(wanted * table.descriptorSize, place.available - done));
        const std::int64_t whole =
            std::max<std::int64_t>(scan.BufferFill(), 0) / table.descriptorSize;
        for (std::int64_t i = 0; i < whole; ++i, ++n) {
            const std::int64_t d = i * table.descriptorSize;
            const Descriptor descriptor{scan.BufDword(d), scan.BufDword(d + table.nameOffset)};
            if (end == TableEnd::kZeroName ? descriptor.name == 0
                                           : AllZero(scan, d, table.descriptorSize))
                return descriptors;
            if (n == kMaxImportDescriptors) {
                cut = true;
                return descriptors;
            }
            descriptors.push_back(descriptor);
        }
        if (whole < wanted)
            return descriptors; // the end of the file or of the raw data
        done += whole * table.descriptorSize;
    }
    return descriptors;
}

// The descriptors are mapped through ".idata" wherever the import directory
// really lies, and so is each name when ".idata" holds it.
std::string ReadImports(FileReader& scan, const PeHeader& header, const PeSections& sections) {
    std::string imports;
    const SectionMapping& idata = sections.idata;
    const FilePlace table{header.importDirectoryRva + idata.raw - idata.va,
                          std::numeric_limits<std::int64_t>::max()};
    bool cut = false;
    for (const Descriptor& descriptor :
         ReadDescriptors(scan, table, kImportTable, TableEnd::kZeroName, cut)) {
        const std::int64_t nameRva = descriptor.name;
        std::optional<SectionMapping> names = idata;
        if (nameRva < idata.va || nameRva > idata.va + sections.idataSize)
            names = SectionHolding(scan, header, nameRva);
        if (!names)
            return imports;
        std::int64_t offset = nameRva - names->va + names->raw;
        if (scan.SeekScanFile(offset, 0) != 0)
            return imports;
        if (!imports.empty())
            imports += ", ";
        scan.ReadBlock(kImportNameBlockSize);
        imports += ImportColumn(scan.BufZString(1));
    }
    return imports;
}

// The offset of the entry with `id` in the resource directory at
// `directoryOffset` (or, for -n, of its n-th ID entry), from the resource
// root; 0 when there is none.
std::int32_t FindResourceEntry(FileReader& scan, std::int64_t directoryOffset, std::int32_t id) {
    std::int64_t offset = directoryOffset;
    if (scan.SeekScanFile(offset, 0) != 0)
        return 0;
    if (scan.ReadBlock(kResourceDirectorySize) < kResourceDirectorySize)
        return 0;
    const std::int64_t namedEntries = scan.BufWord(kNumberOfNamedEntriesOffset);
    const std::int64_t idEntries = scan.BufWord(kNumberOfIdEntriesOffset);
    // The named entries come first and are never looked at.
    offset = directoryOffset + kResourceDirectorySize + namedEntries * kResourceEntrySize;
    if (scan.SeekScanFile(offset, 0) != 0)
        return 0;
    scan.ReadBlock(idEntries * kResourceEntrySize);
    const std::int64_t entriesRead =
        std::min(idEntries, std::max<std::int64_t>(scan.BufferFill(), 0) / kResourceEntrySize);
    const auto entryOffset = [&](std::int64_t n) {
        return scan.BufDword(n * kResourceEntrySize + 4) & kSubdirectoryFlagMask;
    };
    if (id >= 0) {
        for (std::int64_t n = 0; n < entriesRead; ++n) {
            if (scan.BufDword(n * kResourceEntrySize) == id)
                return entryOffset(n);
        }
        return 0;
    }
    const std::int64_t position = -static_cast<std::int64_t>(id);
    if (position > entriesRead)
        return 0;
    return entryOffset(position - 1);
}

// Type 16, then the first ID entry at the name level and at the language
// level, then the data entry and the data it points to, read into the block;
// false when there is none.
bool ReadVersionBlock(FileReader& scan, const PeHeader& header, const SectionMapping& rsrc) {
    const std::int64_t root = header.resourceDirectoryRva + rsrc.raw - rsrc.va;
    const std::int64_t typeOffset = FindResourceEntry(scan, root, kVersionResourceType);
    if (typeOffset == 0)
        return false;
    const std::int64_t nameOffset = FindResourceEntry(scan, root + typeOffset, -1);
    if (nameOffset == 0)
        return false;
    const std::int64_t languageOffset = FindResourceEntry(scan, root + nameOffset, -1);
    if (languageOffset == 0)
        return false;
    std::int64_t offset = root + languageOffset;
    if (scan.SeekScanFile(offset, 0) != 0)
        return false;
    if (scan.ReadBlock(kResourceDataEntrySize) < kResourceDataEntrySize)
        return false;
    offset = scan.BufDword(0) - rsrc.va + rsrc.raw;
    const std::int64_t size = scan.BufDword(4);
    if (size <= 0 || scan.SeekScanFile(offset, 0) != 0)
        return false;
    scan.ReadBlock(size);
    return true;
}

// --- the facts beside the report ---

// IMAGE_FILE_HEADER, from the header base.
constexpr std::int64_t kMachineOffset = 4;
constexpr std::int64_t kTimeDateStampOffset = 8;
constexpr std::int64_t kCharacteristicsOffset = 22;
// The optional header's fields, from its start; the same offsets in PE32 and
// PE32+ up to the data directories, except ImageBase (8 bytes wide in PE32+,
// where BaseOfData is left out).
constexpr std::int64_t kMajorLinkerVersionOffset = 2;
constexpr std::int64_t kMinorLinkerVersionOffset = 3;
constexpr std::int64_t kSizeOfCodeOffset = 4;
constexpr std::int64_t kSizeOfInitializedDataOffset = 8;
constexpr std::int64_t kSizeOfUninitializedDataOffset = 12;
constexpr std::int64_t kAddressOfEntryPointOffset = 16;
constexpr std::int64_t kPe32ImageBaseOffset = 28;
constexpr std::int64_t kOperatingSystemVersionOffset = 40; // major, then minor
constexpr std::int64_t kImageVersionOffset = 44;
constexpr std::int64_t kSubsystemVersionOffset = 48;
constexpr std::int64_t kSizeOfImageOffset = 56;
constexpr std::int64_t kSizeOfHeadersOffset = 60;
constexpr std::int64_t kSubsystemOffset = 68;
// The header facts are given when the bytes read hold everything up to the
// Subsystem field.
constexpr std::int64_t kHeaderFactsBytes = kOptionalHeaderOffset + kSubsystemOffset + 2;
// NumberOfRvaAndSizes and the data directories, from the optional header.
constexpr std::int64_t kPe32NumberOfRvaAndSizesOffset = 92;
constexpr std::int64_t kPe32PlusNumberOfRvaAndSizesOffset = 108;
constexpr std::int64_t kPe32DataDirectoriesOffset = 96;
constexpr std::int64_t kPe32PlusDataDirectoriesOffset = 112;
constexpr std::int64_t kDataDirectorySize = 8;
constexpr std::int64_t kImportDirectoryEntry = 1;
constexpr std::int64_t kDelayImportDirectoryEntry = 13;

// The sections as the loader places them, for mapping RVAs to file offsets.
struct LoadedSection {
    std::int64_t va = 0;
    std::int64_t size = 0; // the larger of virtual size and raw size
    std::int64_t raw = 0;
    std::int64_t rawSize = 0;
};

// What the loader needs from the headers to find the import tables.
struct LoaderView {
    bool pe32Plus = false;
    std::int64_t imageBase = 0; // PE32 only: delay descriptors with addresses
    std::int64_t sizeOfImage = 0;
    std::int64_t sizeOfHeaders = 0;
    std::int64_t importDirectoryRva = 0;
    std::int64_t delayImportDirectoryRva = 0;
    std::vector<LoadedSection> sections;

    // The place of an RVA: through the first section that holds it, or as it
    // stands inside the headers, which are loaded at the image base.
    std::optional<FilePlace> Place(std::int64_t rva) const {
        for (const LoadedSection& section : sections) {
            if (section.va <= rva && rva - section.va < section.size)
                return FilePlace{rva - section.va + section.raw,
                                 std::max<std::int64_t>(section.rawSize - (rva - section.va), 0)};
        }
        if (rva >= 0 && rva < sizeOfHeaders)
            return FilePlace{rva, sizeOfHeaders - rva};
        return std::nullopt;
    }
};

std::int64_t Unsigned(std::int32_t value) {
    return static_cast<std::uint32_t>(value);
}

std::uint16_t Word16(const FileReader& scan, std::int64_t index) {
    return static_cast<std::uint16_t>(scan.BufWord(index));
}

// The file and optional header fields, from the header block.
PeFacts ReadHeaderFacts(const FileReader& scan) {
    constexpr std::int64_t o = kOptionalHeaderOffset;
    PeFacts pe;
    pe.machine = Word16(scan, kMachineOffset);
    pe.timeDateStamp = static_cast<std::uint32_t>(scan.BufDword(kTimeDateStampOffset));
    pe.characteristics = Word16(scan, kCharacteristicsOffset);
    pe.magic = Word16(scan, o);
    pe.majorLinkerVersion = static_cast<std::uint8_t>(scan.BufByte(o + kMajorLinkerVersionOffset));
    pe.minorLinkerVersion = static_cast<std::uint8_t>(scan.BufByte(o + kMinorLinkerVersionOffset));
    pe.sizeOfCode = static_cast<std::uint32_t>(scan.BufDword(o + kSizeOfCodeOffset));
    pe.sizeOfInitializedData =
        static_cast<std::uint32_t>(scan.BufDword(o + kSizeOfInitializedDataOffset));
    pe.sizeOfUninitializedData =
        static_cast<std::uint32_t>(scan.BufDword(o + kSizeOfUninitializedDataOffset));
    pe.addressOfEntryPoint =
        static_cast<std::uint32_t>(scan.BufDword(o + kAddressOfEntryPointOffset));
    pe.majorOperatingSystemVersion = Word16(scan, o + kOperatingSystemVersionOffset);
    pe.minorOperatingSystemVersion = Word16(scan, o + kOperatingSystemVersionOffset + 2);
    pe.majorImageVersion = Word16(scan, o + kImageVersionOffset);
    pe.minorImageVersion = Word16(scan, o + kImageVersionOffset + 2);
    pe.majorSubsystemVersion = Word16(scan, o + kSubsystemVersionOffset);
    pe.minorSubsystemVersion = Word16(scan, o + kSubsystemVersionOffset + 2);
    pe.subsystem = Word16(scan, o + kSubsystemOffset);
    return pe;
}

// The RVA of data directory `entry`, or 0 when the header has no such entry
// or it lies past the bytes read.
std::int64_t DataDirectoryRva(const FileReader& scan, bool pe32Plus, std::int64_t entry) {
    constexpr std::int64_t o = kOptionalHeaderOffset;
    const std::int64_t count = Unsigned(scan.BufDword(
        o + (pe32Plus ? kPe32PlusNumberOfRvaAndSizesOffset : kPe32NumberOfRvaAndSizesOffset)));
    const std::int64_t at =
        o + (pe32Plus ? kPe32PlusDataDirectoriesOffset : kPe32DataDirectoriesOffset) +
        entry * kDataDirectorySize;
    if (entry >= count || at + 4 > scan.BufferFill())
        return 0;
    return Unsigned(scan.BufDword(at));
}

LoaderView ReadLoaderView(const FileReader& scan, bool pe32Plus) {
    constexpr std::int64_t o = kOptionalHeaderOffset;
    LoaderView view;
    view.pe32Plus = pe32Plus;
    view.imageBase = pe32Plus ? 0 : Unsigned(scan.BufDword(o + kPe32ImageBaseOffset));
    view.sizeOfImage = Unsigned(scan.BufDword(o + kSizeOfImageOffset));
    view.sizeOfHeaders = Unsigned(scan.BufDword(o + kSizeOfHeadersOffset));
    view.importDirectoryRva = DataDirectoryRva(scan, pe32Plus, kImportDirectoryEntry);
    view.delayImportDirectoryRva = DataDirectoryRva(scan, pe32Plus, kDelayImportDirectoryEntry);
    return view;
}

void ReadLoadedSections(FileReader& scan, const PeHeader& header, LoaderView& view) {
    const std::int64_t sectionsRead = ReadSectionTable(scan, header);
    for (std::int64_t i = 0; i < sectionsRead; ++i) {
        const std::int64_t e = i * kSectionHeaderSize;
        const std::int64_t virtualSize = Unsigned(scan.BufDword(e + kSectionVirtualSizeOffset));
        const std::int64_t rawSize = Unsigned(scan.BufDword(e + kSectionSizeOfRawDataOffset));
        view.sections.push_back({Unsigned(scan.BufDword(e + kSectionVirtualAddressOffset)),
                                 std::max(virtualSize, rawSize),
                                 Unsigned(scan.BufDword(e + kSectionPointerToRawDataOffset)),
                                 rawSize});
    }
}

// The module names the descriptors point to, as stored; a name that cannot
// be mapped or is empty is left out, one that is no text ends the list.
std::vector<std::string> ReadModuleNames(FileReader& scan, ScanFacts& facts, const LoaderView& view,
                                         std::int64_t directoryRva, const DescriptorTable& table) {
    std::vector<std::string> modules;
    const std::optional<FilePlace> tablePlace = view.Place(directoryRva);
    if (directoryRva == 0 || !tablePlace)
        return modules;
    bool cut = false;
    const std::vector<Descriptor> descriptors =
        ReadDescriptors(scan, *tablePlace, table, TableEnd::kZeroDescriptor, cut);
    if (cut)
        facts.limitsReached.push_back("more than " + std::to_string(kMaxImportedModules) +
                                      " import descriptors: the first are read");
    for (const Descriptor& descriptor : descriptors) {
        std::int64_t nameRva = Unsigned(descriptor.name);
        const bool addresses =
            table.delayLoad && !view.pe32Plus && (descriptor.attributes & kDelayAttributeRva) == 0;
        if (addresses && nameRva >= view.imageBase && nameRva - view.imageBase < view.sizeOfImage)
            nameRva -= view.imageBase;
        const std::optional<FilePlace> place = view.Place(nameRva);
        std::int64_t offset = place ? place->offset : 0;
        if (nameRva == 0 || !place || scan.SeekScanFile(offset, 0) != 0)
            continue;
        scan.ReadBlock(std::min(kMaxModuleNameBytes + 1, place->available));
        if (!AddImportedModule(facts, modules,
                               scan.BufZStringN(0, std::max<std::int64_t>(scan.BufferFill(), 0))))
            break;
    }
    return modules;
}

void ReadLoaderImports(FileReader& scan, ScanFacts& facts, const PeHeader& header,
                       LoaderView view) {
    ReadLoadedSections(scan, header, view);
    facts.imports = ReadModuleNames(scan, facts, view, view.importDirectoryRva, kImportTable);
    facts.delayImports =
        ReadModuleNames(scan, facts, view, view.delayImportDirectoryRva, kDelayImportTable);
}

} // namespace

void QuillScan::ParsePe(std::int64_t headerBase) {
    const bool pe32Plus = BufWord(kOptionalHeaderOffset) == kPe32PlusMagic;
    PeHeader header;
    header.sectionTable = headerBase + kOptionalHeaderOffset + BufWord(kSizeOfOptionalHeaderOffset);
    header.numberOfSections = BufWord(kNumberOfSectionsOffset);
    header.importDirectoryRva =
        BufDword(pe32Plus ? kPe32PlusImportDirectoryOffset : kPe32ImportDirectoryOffset);
    header.resourceDirectoryRva =
        BufDword(pe32Plus ? kPe32PlusResourceDirectoryOffset : kPe32ResourceDirectoryOffset);

    std::optional<LoaderView> loader;
    if (m_readFacts && BufferFill() >= kHeaderFactsBytes) {
        Record.Facts.pe = ReadHeaderFacts(*this);
        loader = ReadLoaderView(*this, pe32Plus);
    }

    const PeSections sections = FindSections(*this, header);
    if (sections.idata.raw != 0)
        Record.HdrImports = ReadImports(*this, header, sections);
    if (sections.rsrc.raw != 0 && ReadVersionBlock(*this, header, sections.rsrc))
        ReadVersionResource();
    if (loader)
        ReadLoaderImports(*this, Record.Facts, header, *loader);
}

} // namespace kestrel
