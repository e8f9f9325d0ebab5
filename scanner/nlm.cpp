// NetWare Loadable Modules: the fixed header, the variable part after the
// description, the module dependency table, and containers that carry further
// modules after their own header.
//
// The fixed header (offsets from the module's first byte, little-endian):
//   0   "NetWare Loadable Module" and 0x1A   24  header version
//   28  module name, length byte first      62  custom data offset
//   70  module dependency table offset      74  number of module dependencies
//   102 debug info offset                   122 module type
//   130 description, length byte first, then a zero byte, the stack size and a
//       reserved dword, so the variable part starts 140 bytes plus the
//       description's length from the header start.
// The variable part: " LONG", the screen name and the thread name (each a
// length byte, the name and a zero byte), the "VeRsIoN#" record with six dwords
// (major, minor, revision, year, month, day) and the "CoPyRiGhT=" record with
// a length-prefixed text.

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

constexpr std::int64_t kHeaderBlockSize = 512;      // the block that holds a module header
constexpr std::int64_t kDependencyBlockSize = 8192; // the block the dependency table is read from

constexpr std::int64_t kHeaderVersionOffset = 24;
constexpr std::int64_t kModuleNameOffset = 28;
constexpr std::int64_t kCustomDataOffset = 62; // a container's directory
constexpr std::int64_t kDependencyTableOffset = 70;
constexpr std::int64_t kDependencyCountOffset = 74;
constexpr std::int64_t kModuleLengthOffset = 102; // a contained module's length
constexpr std::int64_t kModuleTypeOffset = 122;
constexpr std::int64_t kDescriptionOffset = 130;
// The description's length byte and zero byte, the stack size and a reserved dword.
constexpr std::int64_t kVariablePartOffset = 140;

// Bit 7 of the header version: the module's dependency table is left unread.
constexpr std::int32_t kHeaderVersionNoDependencyNames = 0x80;
constexpr std::int32_t kContainerModuleType = 4;

constexpr std::string_view kLongNamesTag = " LONG";
constexpr std::string_view kVersionTag = "VeRsIoN#";
constexpr std::string_view kCopyrightTag = "CoPyRiGhT=";
// Offsets inside the "VeRsIoN#" record.
constexpr std::int64_t kVersionMajorOffset = 8;
constexpr std::int64_t kVersionMinorOffset = 12;
constexpr std::int64_t kVersionRevisionOffset = 16;
constexpr std::int64_t kVersionYearOffset = 20;
constexpr std::int64_t kVersionMonthOffset = 24;
constexpr std::int64_t kVersionDayOffset = 28;
constexpr std::int64_t kVersionCopyrightOffset = 32;
constexpr std::int64_t kCopyrightTextOffset = 42;

// The revision is a letter: 1 is A, 2 is B and so on up to the last code of
// the code page (191 + 64 = 255); 0 is no revision.
constexpr std::int32_t kLastRevision = 191;
constexpr std::int32_t kRevisionLetterBase = 64;

// Every dependency name is shown in a column of this width.
constexpr std::size_t kDependencyColumns = 8;

// A container: its directory starts with "PKPK" and holds at offset 8 the
// offset (from the directory) of the first contained module. A contained module
// may be preceded by a 16-byte prefix that starts with 0x22222222.
constexpr std::int32_t kContainerDirectorySignature = 0x4B504B50;
constexpr std::int64_t kContainerFirstModuleOffset = 8;
constexpr std::int32_t kContainedModulePrefix = 0x22222222;
constexpr std::int64_t kContainedModulePrefixSize = 16;

// The decimal digits of a value, never with a minus sign.
std::string Digits(std::int64_t value) {
    return std::to_string(std::llabs(value));
}

// The last two characters of a text (the whole text when it is shorter).
std::string LastTwo(const std::string& text) {
    return text.size() <= 2 ? text : text.substr(text.size() - 2);
}

// The last two digits of a value, with a leading zero below ten.
std::string TwoDigits(std::int64_t value) {
    const std::string digits = Digits(value);
    return digits.size() == 1 ? std::string{'0', digits[0]} : LastTwo(digits);
}

std::string VersionText(std::int32_t major, std::int32_t minor, std::int32_t revision) {
    // Minor + 100 gives two digits for every minor version 0 to 99.
    std::string version = Digits(major) + "." + LastTwo(Digits(std::int64_t{minor} + 100));
    if (revision >= 1 && revision <= kLastRevision)
        version += static_cast<char>(revision + kRevisionLetterBase);
    return version;
}

std::string DateText(std::int32_t year, std::int32_t month, std::int32_t day) {
    return Digits(year) + "-" + TwoDigits(month) + "-" + TwoDigits(day);
}

} // namespace

void QuillScan::ParseNlmHeader(std::int64_t headerStart) {
    const std::int32_t headerVersion = BufDword(kHeaderVersionOffset);
    Record.HdrName = BufCountedString(kModuleNameOffset);
    Record.HdrDescription = BufCountedString(kDescriptionOffset);
    // The facts list the dependencies whole (the report cuts them to 8).
    std::optional<std::vector<std::string>>& dependencies = Record.Facts.imports;
    if (m_readFacts)
        dependencies.emplace();

    // The long names, version and copyright follow the description; where the
    // tags are not at their place they are looked for further on in the block.
    std::int64_t longNames = kVariablePartOffset + BufByte(kDescriptionOffset);
    if (BufChars(longNames, std::ssize(kLongNamesTag)) != kLongNamesTag)
        longNames = BufFind(longNames + 1, kLongNamesTag) - 1;
    if (longNames > 0) {
        std::int64_t p = longNames + std::ssize(kLongNamesTag);
        Record.HdrLong = BufCountedString(p);
        p += BufByte(p) + 2; // length byte, name, zero byte
        Record.HdrLong += ' ';
        Record.HdrLong += BufCountedString(p);
        p += BufByte(p) + 2;

        std::int64_t version = p;
        if (BufChars(version, std::ssize(kVersionTag)) != kVersionTag)
            version = BufFind(version + 1, kVersionTag) - 1;
        if (version > 0) {
            Record.HdrVersion = VersionText(BufDword(version + kVersionMajorOffset),
                                            BufDword(version + kVersionMinorOffset),
                                            BufDword(version + kVersionRevisionOffset));
            Record.HdrDate = DateText(BufDword(version + kVersionYearOffset),
                                      BufDword(version + kVersionMonthOffset),
                                      BufDword(version + kVersionDayOffset));
            if (BufChars(version + kVersionCopyrightOffset, std::ssize(kCopyrightTag)) ==
                kCopyrightTag)
                Record.CopyrightText = BufCountedString(version + kCopyrightTextOffset);
        }
    }

    // The module dependency table: length-prefixed names, one after the other.
    const std::int64_t tableOffset = BufDword(kDependencyTableOffset);
    const std::int32_t dependencyCount = BufDword(kDependencyCountOffset);
    if (dependencyCount <= 0)
        return;
    // The table offset counts from the header start.
    std::int64_t offset = headerStart + tableOffset;
    if (SeekScanFile(offset, 0) != 0)
        return;
    const std::int64_t filled = ReadBlock(kDependencyBlockSize);
    if ((headerVersion & kHeaderVersionNoDependencyNames) != 0 || filled <= 0)
        return;
    bool listing = dependencies.has_value(); // until a name that is no text
    std::int64_t i = 0;
    for (std::int32_t n = 0; n < dependencyCount && i < filled; ++n) {
        if (!Record.HdrImports.empty())
            Record.HdrImports += ", ";
        std::string name = BufCountedString(i);
        if (listing && n == kMaxImportedModules)
            Record.Facts.limitsReached.push_back("more than " +
                                                 std::to_string(kMaxImportedModules) +
                                                 " module dependencies: the first are read");
        // The facts take each name whole, as far as the bytes read hold it.
        const std::string whole =
            BufChars(i + 1, std::min<std::int64_t>(BufByte(i), filled - i - 1));
        if (listing && n < kMaxImportedModules)
            listing = AddImportedModule(Record.Facts, *dependencies, whole);
        name.resize(kDependencyColumns, ' ');
        Record.HdrImports += name;
        i += BufByte(i) + 1;
    }
}

void QuillScan::ParseNlm(const std::string& directoryPath, const std::string& fileName) {
    const bool container = BufDword(kModuleTypeOffset) == kContainerModuleType;
    ParseNlmHeader(0);
    ComposeReport(directoryPath, fileName, ScanFileLength());
    if (!container)
        return;

    // The container's directory, named by the custom data offset of its header.
    std::int64_t offset = 0;
    SeekScanFile(offset, 0);
    ReadBlock(kHeaderBlockSize);
    const std::int64_t directory = BufDword(kCustomDataOffset);
    offset = directory;
    if (SeekScanFile(offset, 0) != 0)
        return;
    ReadBlock(kHeaderBlockSize);
    if (BufDword(0) != kContainerDirectorySignature)
        return;

    // Each contained module names the distance to the next one. The walk only
    // ever moves forward, so it ends at the end of the file.
    std::int64_t module = directory + BufDword(kContainerFirstModuleOffset);
    while (module < ScanFileLength() && !StopRequested()) {
        offset = module;
        if (SeekScanFile(offset, 0) != 0)
            return;
        ReadBlock(kHeaderBlockSize);
        if (BufDword(0) == kContainedModulePrefix) {
            module += kContainedModulePrefixSize;
            offset = module;
            if (SeekScanFile(offset, 0) != 0)
                return;
            ReadBlock(kHeaderBlockSize);
        }
        const std::int32_t moduleLength = BufDword(kModuleLengthOffset);
        ClearScanRecord();
        if (m_readFacts)
            Record.Facts.embeddedIn = fileName;
        ParseNlmHeader(module);
        // The report names a contained module "*" and its module name.
        std::string moduleName = "*";
        moduleName += Cp1252ToUtf8(Record.HdrName);
        ComposeReport(directoryPath, moduleName, moduleLength);
        if (moduleLength <= 0)
            return;
        module += moduleLength;
    }
}

} // namespace kestrel
