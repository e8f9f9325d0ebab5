#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestrel {

// Rows of the version resource table, numbered from 1 as the report names them.
// Rows 1 to 10 hold the known keys; rows 11 to 40 any other key in the order met.
inline constexpr int kResStringRows = 40;
inline constexpr int kResStringKnownRows = 10;

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

    const std::string& ResKey(int row) const { return ResStrings[static_cast<size_t>(row - 1)][0]; }
    const std::string& ResValue(int row) const {
        return ResStrings[static_cast<size_t>(row - 1)][1];
    }
};

} // namespace kestrel
