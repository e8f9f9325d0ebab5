#pragma once

// The header of an InstallShield 5 or later set (data1.hdr), parsed and
// checked before any of its numbers is used: every table, descriptor and
// string lies inside the header's bytes, every count is capped by the bytes
// it needs.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

// The first 20 bytes of every file of a set, header and cabinets alike:
// "ISc(", the version, the volume info, and where the cabinet descriptor
// lies and how long it is (both 0 in a cabinet that holds data only).
inline constexpr std::int64_t kInstallShieldCommonLength = 20;

struct InstallShieldCommon {
    std::uint32_t version = 0;
    std::uint32_t cab_descriptor_offset = 0;
    std::uint32_t cab_descriptor_size = 0;
    int major = 0; // the layout's version: 5 and below, or 6 and above
    bool HasDescriptor() const { return cab_descriptor_offset != 0 && cab_descriptor_size != 0; }
};

// The common header from the first 20 bytes; false when it is none:
// another signature, or a version no InstallShield 5 or later writes.
bool ParseInstallShieldCommon(std::span<const std::uint8_t> bytes, InstallShieldCommon& common);

// File descriptor flags.
inline constexpr std::uint16_t kInstallShieldSplit = 1;      // goes on in the next cabinet
inline constexpr std::uint16_t kInstallShieldObfuscated = 2; // its bytes are scrambled
inline constexpr std::uint16_t kInstallShieldCompressed = 4; // chunks of raw deflate
inline constexpr std::uint16_t kInstallShieldInvalid = 8;    // listed but not in the set

struct InstallShieldFile {
    std::uint32_t index = 0; // in the file table, as the cabinets count files
    std::string path;        // "group/folder/name"
    // Why its bytes are not read: listed as in no cabinet, or a link to
    // another file's bytes that cannot be followed; "" when they are.
    std::string fault;
    std::uint16_t flags = 0;
    std::uint64_t expanded_size = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t data_offset = 0;
    std::uint32_t volume = 0; // the cabinet it starts in; 0: found from the cabinets (5 and below)
    std::array<std::uint8_t, 16> md5{};
};

struct InstallShieldSet {
    InstallShieldCommon common;
    std::uint32_t file_count = 0;
    // Group by group; a file linked to an earlier one's bytes has that file's
    // index and data under its own path.
    std::vector<InstallShieldFile> files;
};

// Parses the whole header; "" or what is wrong with it, the set then empty.
std::string ParseInstallShieldHeader(std::span<const std::uint8_t> header, InstallShieldSet& set);

} // namespace kestrel
