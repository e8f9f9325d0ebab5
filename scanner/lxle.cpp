// LX executables (OS/2) and LE executables (Windows virtual device drivers):
// module name, description, imported modules and a driver's version resource.
//
// Offsets from the "LX" or "LE" signature (the header base), all 32 bits:
//   88   e32_restab     resident-name table (from the header base)
//   112  e32_impmod     import-module table (from the header base)
//   116  e32_impmodcnt  number of import-module entries
//   136  e32_nrestab    non-resident-name table (from the file start)
//   184  the driver's version resource (from the file start), 0 when none
//   8    e32_cpu        CPU type (16 bits; facts only)
//   10   e32_os         target system (16 bits; facts only)
//   16   e32_mflags     module flags, the module type among them (facts only)
// Name tables and the import-module table hold length-prefixed strings, one
// after the other.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

constexpr std::int64_t kResidentNameTableOffset = 88;
constexpr std::int64_t kImportModuleTableOffset = 112;
constexpr std::int64_t kImportModuleCountOffset = 116;
constexpr std::int64_t kNonResidentNameTableOffset = 136;
constexpr std::int64_t kVersionResourceOffset = 184;

// The module name is read from 9 bytes, the description from 200: a length
// byte and up to 8 or 199 characters.
constexpr std::int64_t kModuleNameBlockSize = 9;
constexpr std::int64_t kDescriptionBlockSize = 200;
// The import-module table is read as 9 bytes per entry: room for names of up
// to 8 characters on average.
constexpr std::int64_t kImportEntryBlockSize = 9;

// The 16-bit resource header in front of the driver's version data: type 16
// as 0xFF and a number, then the name as 0xFF and a number or as text, then
// 16 bits of flags and 32 bits of size. Two shapes are recognised by their
// first four bytes: a numeric name, or the text name VS_VERSION_INFO.
constexpr std::int64_t kResourceHeaderBlockSize = 16;
constexpr std::uint32_t kNumericNameHeader = 0xFF0010FF;
constexpr std::uint32_t kTextNameHeader = 0x560010FF;
constexpr std::int64_t kNumericNameHeaderSize = 12; // FF 10 00 FF id flags size
constexpr std::int64_t kTextNameHeaderSize = 25;    // FF 10 00, the name and its zero, flags, size
// The version data's length, taken at this offset of the header block: with a
// numeric name it is the data's own first field.
constexpr std::int64_t kVersionLengthOffset = 12;

// The first entry of a name table, read from a block of `blockSize` bytes.
std::string ReadFirstName(FileReader& scan, std::int64_t tableOffset, std::int64_t blockSize) {
    if (scan.SeekScanFile(tableOffset, 0) != 0)
        return {};
    scan.ReadBlock(blockSize);
    return scan.BufCountedName(0);
}

// Reads the version data behind the resource header into the block; false
// when there is none.
bool ReadVersionBlock(FileReader& scan, std::int64_t resourceOffset) {
    std::int64_t offset = resourceOffset;
    if (scan.SeekScanFile(offset, 0) != 0)
        return false;
    if (scan.ReadBlock(kResourceHeaderBlockSize) < kResourceHeaderBlockSize)
        return false;
    const auto shape = static_cast<std::uint32_t>(scan.BufDword(0));
    if (shape == kNumericNameHeader)
        offset = resourceOffset + kNumericNameHeaderSize;
    else if (shape == kTextNameHeader)
        offset = resourceOffset + kTextNameHeaderSize;
    else
        return false;
    const std::int64_t size = scan.BufWord(kVersionLengthOffset);
    if (size == 0 || scan.SeekScanFile(offset, 0) != 0)
        return false;
    scan.ReadBlock(size);
    return true;
}

// --- the facts beside the report ---

constexpr std::int64_t kCpuOffset = 8;
constexpr std::int64_t kOsOffset = 10;
constexpr std::int64_t kModuleFlagsOffset = 16;
// The module type bits of the flags: program, library, protected-memory
// library, physical or virtual device driver.
constexpr std::uint32_t kModuleTypeMask = 0x00038000;
// The header facts are given when the bytes read hold the module flags.
constexpr std::int64_t kHeaderFactsBytes = kModuleFlagsOffset + 4;

// "@#vendor:revision#@description", the build level OS/2 tools read from a
// module's description.
std::optional<BuildLevel> ParseBuildLevel(std::string_view text) {
    constexpr std::string_view kOpen = "@#";
    constexpr std::string_view kClose = "#@";
    if (!text.starts_with(kOpen))
        return std::nullopt;
    const std::size_t colon = text.find(':', kOpen.size());
    const std::size_t close = colon == std::string_view::npos ? colon : text.find(kClose, colon);
    if (close == std::string_view::npos)
        return std::nullopt;
    return BuildLevel{Cp1252ToUtf8(text.substr(kOpen.size(), colon - kOpen.size())),
                      Cp1252ToUtf8(text.substr(colon + 1, close - colon - 1)),
                      Cp1252ToUtf8(text.substr(close + kClose.size()))};
}

LxFacts ReadHeaderFacts(const FileReader& scan) {
    return {static_cast<std::uint16_t>(scan.BufWord(kCpuOffset)),
            static_cast<std::uint16_t>(scan.BufWord(kOsOffset)),
            static_cast<std::uint32_t>(scan.BufDword(kModuleFlagsOffset)) & kModuleTypeMask,
            std::nullopt};
}

// One entry of the import-module table: where it starts, from the table's
// start, and its name as far as the file holds it.
struct ImportModule {
    std::int64_t offset = 0;
    std::string name;
};

// The entries of the import-module table in order, at most `count`, and past
// kMaxImportedModules only those that start before `reportEnd`. The table is
// read a block at a time; a name that runs past a full block starts the next.
std::vector<ImportModule> ReadImportModules(FileReader& scan, std::int64_t tableOffset,
                                            std::int64_t count, std::int64_t reportEnd) {
    std::vector<ImportModule> modules;
    const std::int64_t blockSize =
        std::min(kMaxBlockSize, std::min(count, kMaxImportedModules) * kMaxModuleNameBytes);
    std::int64_t blockStart = 0; // from the table's start
    std::int64_t index = 0;      // in the block
    bool fullBlock = false;
    for (std::int64_t k = 0; k < count; ++k) {
        if (k >= kMaxImportedModules && blockStart + index >= reportEnd)
            break;
        if (k == 0 || (fullBlock && index + 1 + scan.BufByte(index) > scan.BufferFill())) {
            blockStart += index;
            index = 0;
            std::int64_t offset = tableOffset + blockStart;
            if (scan.SeekScanFile(offset, 0) != 0)
                break;
            fullBlock = scan.ReadBlock(blockSize) == blockSize;
        }
        if (index >= scan.BufferFill())
            break;
        modules.push_back({blockStart + index, scan.BufCountedName(index)});
        index += scan.BufByte(index) + 1;
    }
    return modules;
}

} // namespace

void QuillScan::ParseLxLe(std::int64_t headerBase) {
    const std::int64_t residentNameTable = BufDword(kResidentNameTableOffset);
    const std::int64_t importModuleTable = BufDword(kImportModuleTableOffset);
    const std::int64_t importModuleCount = BufDword(kImportModuleCountOffset);
    const std::int64_t nonResidentNameTable = BufDword(kNonResidentNameTableOffset);
    const std::int64_t versionResource = BufDword(kVersionResourceOffset);
    std::optional<LxFacts> headerFacts;
    if (m_readFacts && BufferFill() >= kHeaderFactsBytes)
        headerFacts = ReadHeaderFacts(*this);

    Record.HdrName = ReadFirstName(*this, headerBase + residentNameTable, kModuleNameBlockSize);
    if (nonResidentNameTable != 0)
        Record.HdrDescription = ReadFirstName(*this, nonResidentNameTable, kDescriptionBlockSize);
    // The report reads the table as one block of 9 bytes per entry: a name
    // that runs past it is cut there, the walk ends where the next would
    // start past it. Each name is followed by ", ", the last one included.
    const std::int64_t importTable = headerBase + importModuleTable;
    const std::int64_t reportEnd =
        std::clamp(ScanFileLength() - importTable, std::int64_t{0},
                   std::min(kMaxBlockSize, kImportEntryBlockSize * importModuleCount));
    const std::vector<ImportModule> modules =
        importModuleCount > 0 ? ReadImportModules(*this, importTable, importModuleCount, reportEnd)
                              : std::vector<ImportModule>{};
    for (const ImportModule& module : modules) {
        if (module.offset < reportEnd)
            Record.HdrImports +=
                module.name.substr(0, static_cast<std::size_t>(reportEnd - module.offset - 1)) +
                ", ";
    }
    if (versionResource != 0 && ReadVersionBlock(*this, versionResource))
        ReadVersionResource();

    if (headerFacts) {
        headerFacts->buildLevel = ParseBuildLevel(Record.HdrDescription);
        Record.Facts.lx = headerFacts;
    }
    if (m_readFacts) {
        if (importModuleCount > kMaxImportedModules)
            Record.Facts.limitsReached.push_back("more than " +
                                                 std::to_string(kMaxImportedModules) +
                                                 " import modules: the first are read");
        std::vector<std::string>& imports = Record.Facts.imports.emplace();
        const std::size_t taken =
            std::min(modules.size(), static_cast<std::size_t>(kMaxImportedModules));
        for (std::size_t k = 0; k < taken; ++k) {
            if (!AddImportedModule(Record.Facts, imports, modules[k].name))
                break;
        }
    }
}

} // namespace kestrel
