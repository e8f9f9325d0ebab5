// NE executables (16-bit Windows and OS/2): module name, description, imported
// modules and, for Windows programs, the version resource.
//
// Offsets from the "NE" signature (the header base):
//   30  ne_cmod       number of module-reference entries (16 bits)
//   36  ne_rsrctab    resource table (16 bits, from the header base)
//   38  ne_restab     resident-name table (16 bits, from the header base)
//   40  ne_modtab     module-reference table (16 bits, from the header base)
//   42  ne_imptab     imported-names table (16 bits, from the header base)
//   44  ne_nrestab    non-resident-name table (32 bits, from the file start)
//   54  ne_exetyp     target operating system, 2 for Windows
//   2, 3            linker version, major and minor (facts only)
//   62, 63          expected Windows version, minor and major (facts only)
// The name tables hold length-prefixed strings; the first resident name is the
// module name, the first non-resident name the description.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

constexpr std::int64_t kModuleReferenceCountOffset = 30;
constexpr std::int64_t kResourceTableOffset = 36;
constexpr std::int64_t kResidentNameTableOffset = 38;
constexpr std::int64_t kModuleReferenceTableOffset = 40;
constexpr std::int64_t kImportedNamesTableOffset = 42;
constexpr std::int64_t kNonResidentNameTableOffset = 44;
constexpr std::int64_t kTargetOperatingSystemOffset = 54;
constexpr int kTargetWindows = 2;

// The module name is read from 20 bytes, the description from 256: a length
// byte and up to 19 or 255 characters.
constexpr std::int64_t kModuleNameBlockSize = 20;
constexpr std::int64_t kDescriptionBlockSize = 256;
// The module-reference table and the imported-names table after it are read
// as one block of this size, whatever the number of entries.
constexpr std::int64_t kImportBlockSize = 8192;
constexpr std::int64_t kModuleReferenceSize = 2;
constexpr std::size_t kModuleNameColumns = 8;

// The resource table: rscAlignShift, then TYPEINFO blocks (rtTypeID,
// rtResourceCount, 4 reserved bytes), each followed by its NAMEINFO entries
// (rnOffset and rnLength in alignment units, rnFlags, rnID, 4 reserved bytes).
constexpr std::int64_t kFirstTypeBlockOffset = 2;
constexpr std::int64_t kTypeHeaderSize = 8;
constexpr std::int64_t kResourceEntrySize = 12;
constexpr std::int32_t kVersionResourceType = 0x8010; // RT_VERSION, numeric
constexpr std::int32_t kVersionResourceId = 0x8001;   // numeric ID 1
// The flags the resource compiler gives a version resource (moveable, pure
// and the discard bits), by which one with another ID is still recognised.
constexpr std::int32_t kVersionResourceFlags = 0x0C30;
// Positions are 16-bit counts of 2^shift bytes: from a shift of 16 on they
// reach past the 2 GiB that the format's signed 32-bit file offsets hold.
constexpr std::int32_t kMaxAlignmentShift = 15;

// The fields of the header that the steps below use.
struct NeHeader {
    std::int64_t base = 0; // file offset of the "NE" signature
    std::int64_t moduleReferences = 0;
    std::int64_t resourceTable = 0;
    std::int64_t residentNameTable = 0;
    std::int64_t moduleReferenceTable = 0;
    std::int64_t importedNamesTable = 0;
    std::int64_t nonResidentNameTable = 0;
    int targetOperatingSystem = 0;
};

struct ResourcePlace {
    std::int64_t offset = 0; // 0 when no version resource was found
    std::int64_t length = 0;
};

// The first resource of type 16 whose ID is 1 or whose flags are those of a
// version resource, in the resource table held by the block.
ResourcePlace FindVersionEntry(const FileReader& scan, std::int64_t tableEnd) {
    const std::int32_t alignmentShift = scan.BufWord(0);
    if (alignmentShift > kMaxAlignmentShift)
        return {};
    std::int64_t pos = kFirstTypeBlockOffset;
    while (pos + kTypeHeaderSize <= tableEnd) {
        const std::int32_t typeId = scan.BufWord(pos);
        if (typeId == 0)
            return {};
        std::int64_t count = scan.BufWord(pos + 2);
        pos += kTypeHeaderSize;
        if (typeId != kVersionResourceType) {
            pos += kResourceEntrySize * count;
            continue;
        }
        for (; count != 0; --count, pos += kResourceEntrySize) {
            if (pos + kResourceEntrySize > tableEnd)
                return {};
            const bool matches = scan.BufWord(pos + 6) == kVersionResourceId ||
                                 scan.BufWord(pos + 4) == kVersionResourceFlags;
            // An entry whose position is 0 points nowhere and is passed over.
            if (matches && scan.BufWord(pos) != 0)
                return {std::int64_t{scan.BufWord(pos)} << alignmentShift,
                        std::int64_t{scan.BufWord(pos + 2)} << alignmentShift};
        }
    }
    return {};
}

// The resource table is taken to end where the resident-name table begins.
// Reads the version data into the block; false when there is none.
bool ReadVersionBlock(FileReader& scan, const NeHeader& header) {
    std::int64_t offset = header.base + header.resourceTable;
    if (scan.SeekScanFile(offset, 0) != 0)
        return false;
    const std::int64_t limit = header.residentNameTable - header.resourceTable;
    scan.ReadBlock(limit);
    if (limit <= 0 || scan.BufferFill() <= 0)
        return false;
    const ResourcePlace version = FindVersionEntry(scan, std::min(limit, scan.BufferFill()));
    offset = version.offset;
    if (version.offset == 0 || version.length <= 0 || scan.SeekScanFile(offset, 0) != 0)
        return false;
    scan.ReadBlock(version.length);
    return true;
}

// The first entry of a name table, read from a block of `blockSize` bytes.
std::string ReadFirstName(FileReader& scan, std::int64_t tableOffset, std::int64_t blockSize) {
    if (scan.SeekScanFile(tableOffset, 0) != 0)
        return {};
    scan.ReadBlock(blockSize);
    return scan.BufCountedName(0);
}

// --- the facts beside the report ---

constexpr std::int64_t kLinkerMajorOffset = 2;
constexpr std::int64_t kLinkerMinorOffset = 3;
constexpr std::int64_t kExpectedWindowsMinorOffset = 62;
constexpr std::int64_t kExpectedWindowsMajorOffset = 63;
// The header facts are given when the bytes read hold the expected version.
constexpr std::int64_t kHeaderFactsBytes = 64;
// Room for a length byte and the longest name it can count.
constexpr std::int64_t kCountedNameBlockSize = 256;

NeFacts ReadHeaderFacts(const FileReader& scan) {
    const auto byte = [&](std::int64_t at) { return static_cast<std::uint8_t>(scan.BufByte(at)); };
    return {byte(kTargetOperatingSystemOffset), byte(kExpectedWindowsMajorOffset),
            byte(kExpectedWindowsMinorOffset), byte(kLinkerMajorOffset), byte(kLinkerMinorOffset)};
}

bool BlockHoldsCountedName(const FileReader& scan, std::int64_t at) {
    return at + 1 + scan.BufByte(at) <= scan.BufferFill();
}

// A module reference's name: where it stands in the file, and the name as
// far as the file holds it.
struct ModuleName {
    std::int64_t offset = 0;
    std::string name;
};

// Every module reference's name, in table order: at most the first
// kMaxImportedModules references (said in `facts` when there are more), then
// the names from a block of the imported-names table.
std::vector<ModuleName> ReadModuleNames(FileReader& scan, ScanFacts* facts,
                                        const NeHeader& header) {
    std::vector<ModuleName> found;
    std::int64_t offset = header.base + header.moduleReferenceTable;
    if (header.moduleReferences == 0 || scan.SeekScanFile(offset, 0) != 0)
        return found;
    const std::int64_t wanted = std::min(header.moduleReferences, kMaxImportedModules);
    if (header.moduleReferences > kMaxImportedModules && facts != nullptr)
        facts->limitsReached.push_back("more than " + std::to_string(kMaxImportedModules) +
                                       " module references: the first are read");
    const std::int64_t names = header.base + header.importedNamesTable;
    scan.ReadBlock(wanted * kModuleReferenceSize);
    for (std::int64_t k = 0; k < std::min(wanted, scan.BufferFill() / kModuleReferenceSize); ++k)
        found.push_back({names + scan.BufWord(kModuleReferenceSize * k), {}});
    offset = names;
    if (found.empty() || scan.SeekScanFile(offset, 0) != 0)
        return found;
    const auto last = std::ranges::max_element(found, {}, &ModuleName::offset)->offset;
    scan.ReadBlock(last - names + kCountedNameBlockSize);
    // A name the block does not hold whole (past the largest block, or cut
    // by the end of the file) is read again by itself.
    std::vector<ModuleName*> later;
    for (ModuleName& module : found) {
        if (BlockHoldsCountedName(scan, module.offset - names))
            module.name = scan.BufCountedName(module.offset - names);
        else
            later.push_back(&module);
    }
    for (ModuleName* module : later) {
        offset = module->offset;
        if (scan.SeekScanFile(offset, 0) == 0 && scan.ReadBlock(kCountedNameBlockSize) > 0)
            module->name = scan.BufCountedName(0);
    }
    return found;
}

// The report reads the names as a block of kImportBlockSize bytes from the
// module-reference table would hold them: a name before the block or past
// its end is empty, one that runs past it is cut there. Each is cut or
// padded to 8 characters, never cut at a dot.
std::string ImportsText(const std::vector<ModuleName>& modules, std::int64_t blockStart,
                        std::int64_t blockEnd) {
    std::string imports;
    for (const ModuleName& module : modules) {
        if (!imports.empty())
            imports += ", ";
        std::string name;
        if (module.offset >= blockStart && module.offset < blockEnd)
            name = module.name.substr(0, static_cast<std::size_t>(blockEnd - module.offset - 1));
        name.resize(kModuleNameColumns, ' ');
        imports += name;
    }
    return imports;
}

} // namespace

void QuillScan::ParseNe(std::int64_t headerBase) {
    NeHeader header;
    header.base = headerBase;
    header.moduleReferences = BufWord(kModuleReferenceCountOffset);
    header.resourceTable = BufWord(kResourceTableOffset);
    header.residentNameTable = BufWord(kResidentNameTableOffset);
    header.moduleReferenceTable = BufWord(kModuleReferenceTableOffset);
    header.importedNamesTable = BufWord(kImportedNamesTableOffset);
    header.nonResidentNameTable = BufDword(kNonResidentNameTableOffset);
    header.targetOperatingSystem = BufByte(kTargetOperatingSystemOffset);
    if (m_readFacts && BufferFill() >= kHeaderFactsBytes)
        Record.Facts.ne = ReadHeaderFacts(*this);

    Record.HdrName =
        ReadFirstName(*this, header.base + header.residentNameTable, kModuleNameBlockSize);
    const std::vector<ModuleName> modules =
        ReadModuleNames(*this, m_readFacts ? &Record.Facts : nullptr, header);
    const std::int64_t referenceTable = header.base + header.moduleReferenceTable;
    Record.HdrImports = ImportsText(modules, referenceTable,
                                    referenceTable + std::clamp(ScanFileLength() - referenceTable,
                                                                std::int64_t{0}, kImportBlockSize));
    if (header.targetOperatingSystem == kTargetWindows && ReadVersionBlock(*this, header))
        ReadVersionResource();
    if (header.nonResidentNameTable != 0)
        Record.HdrDescription =
            ReadFirstName(*this, header.nonResidentNameTable, kDescriptionBlockSize);
    if (m_readFacts) {
        std::vector<std::string>& imports = Record.Facts.imports.emplace();
        for (const ModuleName& module : modules) {
            if (!AddImportedModule(Record.Facts, imports, module.name))
                break;
        }
    }
}

} // namespace kestrel
