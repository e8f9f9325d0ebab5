#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

// Rows of the version resource table, numbered from 1 as the report names them.
// Rows 1 to 10 hold the known keys; rows 11 to 40 any other key in the order met.
inline constexpr int kResStringRows = 40;
inline constexpr int kResStringKnownRows = 10;

// VS_FIXEDFILEINFO: the version numbers as two 32-bit halves each (the major
// part in the high 16 bits of the first), the flags and the kind of file.
struct FixedFileInfo {
    std::uint32_t fileVersionMs = 0;
    std::uint32_t fileVersionLs = 0;
    std::uint32_t productVersionMs = 0;
    std::uint32_t productVersionLs = 0;
    std::uint32_t flagsMask = 0;
    std::uint32_t flags = 0;
    std::uint32_t os = 0;
    std::uint32_t type = 0;
    std::uint32_t subtype = 0;
};

// One string table of a version resource: its key (language and code page
// as 8 hexadecimal digits, "040904B0") and its strings in file order.
struct VersionTable {
    std::string language;
    std::vector<std::pair<std::string, std::string>> strings;
};

// The PE file header and the optional header's standard and Windows fields.
struct PeFacts {
    std::uint16_t machine = 0;
    std::uint32_t timeDateStamp = 0; // seconds since 1970, UTC
    std::uint16_t characteristics = 0;
    std::uint16_t magic = 0; // 0x10B PE32, 0x20B PE32+
    std::uint8_t majorLinkerVersion = 0;
    std::uint8_t minorLinkerVersion = 0;
    std::uint32_t sizeOfCode = 0;
    std::uint32_t sizeOfInitializedData = 0;
    std::uint32_t sizeOfUninitializedData = 0;
    std::uint32_t addressOfEntryPoint = 0;
    std::uint16_t majorOperatingSystemVersion = 0;
    std::uint16_t minorOperatingSystemVersion = 0;
    std::uint16_t majorImageVersion = 0;
    std::uint16_t minorImageVersion = 0;
    std::uint16_t majorSubsystemVersion = 0;
    std::uint16_t minorSubsystemVersion = 0;
    std::uint16_t subsystem = 0;
};

// The NE header's target system (1 OS/2, 2 Windows, ...), the Windows
// version the program expects and the linker's version.
struct NeFacts {
    std::uint8_t targetOperatingSystem = 0;
    std::uint8_t expectedWindowsMajor = 0;
    std::uint8_t expectedWindowsMinor = 0;
    std::uint8_t linkerMajor = 0;
    std::uint8_t linkerMinor = 0;
};

// An OS/2 build level, "@#vendor:revision#@description", from the module's
// description.
struct BuildLevel {
    std::string vendor;
    std::string revision;
    std::string description;
};

// The LE or LX header's CPU and system codes and the module type bits of its
// flags (program, library, device driver).
struct LxFacts {
    std::uint16_t cpu = 0;
    std::uint16_t os = 0;
    std::uint32_t moduleType = 0;
    std::optional<BuildLevel> buildLevel;
};

// What a script may want beyond the report: every header fact, the loader's
// list of imported modules and every version string table. The composer
// never reads these. Texts here are UTF-8 (8-bit texts of the file taken as
// code page 1252, 16-bit ones decoded as UTF-16); a fact the file does not
// have is left empty (nullopt).
struct ScanFacts {
    std::optional<std::vector<std::string>> imports;        // in table order
    std::optional<std::vector<std::string>> delayImports;   // PE only
    std::optional<std::string> embeddedIn;                  // the NLM container file of a module
    std::optional<std::vector<VersionTable>> versionTables; // set when the resource was read
    std::optional<FixedFileInfo> fixedFileInfo;
    std::optional<PeFacts> pe;
    std::optional<NeFacts> ne;
    std::optional<LxFacts> lx;
    std::optional<std::string> packer; // a DOS program's packer ("LZEXE 0.91")
    // A limit reached while the facts were read, said in a few words
    // ("more than 4096 imported modules: the first 4096 are listed").
    std::vector<std::string> limitsReached;
};

// What the scanner learns about one file. Every text is a byte string: one byte
// is one character of code page 1252, exactly as read from the file. A text may
// hold several lines separated by carriage return and line feed.
struct ScanRecord {
    std::string ExeSignature = "  "; // new-executable signature, or "MZ"
    std::string HdrName;             // module name from the header
    std::string HdrDescription;      // module description from the header
    std::string HdrVersion;          // version from the NLM version record
    std::string HdrDate;             // date from the NLM version record
    std::string HdrLong;             // the long names of an NLM
    std::string HdrImports;          // imported modules
    std::string NwVersion;           // "VeRsIoN=" marker text
    std::string NwOverlay;           // "OvErLaY=" marker text
    std::string CopyrightText;       // copyright text
    std::string GuessText;           // version-like lines of the file's text
    // ResStrings[row - 1][0] is the key, ResStrings[row - 1][1] the value.
    std::array<std::array<std::string, 2>, kResStringRows> ResStrings;
    std::int32_t ResStringCount = kResStringKnownRows; // last row in use
    bool HasVersionResource = false;
    ScanFacts Facts; // beside the report, never shown in it

    const std::string& ResKey(int row) const { return ResStrings[static_cast<size_t>(row - 1)][0]; }
    const std::string& ResValue(int row) const {
        return ResStrings[static_cast<size_t>(row - 1)][1];
    }
};

} // namespace kestrel
