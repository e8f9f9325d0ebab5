// The packers of PE files, named from the section that holds the loader: the
// entry point lies in a section the packer names as its own. PE files are not
// unpacked: their version resource usually stays readable.

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "packer.h"

namespace kestrel {

namespace {

constexpr std::int64_t kNewHeaderOffsetAt = 0x3C;
constexpr std::int64_t kFileHeaderSize = 24; // "PE\0\0" and the COFF header
constexpr std::int64_t kSectionHeaderSize = 40;
constexpr std::int64_t kEntryPointAt = 24 + 16; // in the optional header
// More sections than any loader builds is a damaged table: read no further.
constexpr std::int64_t kMaxSections = 96;
// UPX writes its version ("3.96") and a NUL before its "UPX!" header, which
// lies among the PE headers, before the first section's data.
constexpr std::string_view kUpxMagic = "UPX!";
constexpr std::int64_t kUpxHeaderWindow = 4096;
constexpr std::int64_t kMaxUpxVersion = 8;

struct Section {
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
};

// The loader's section names of each packer, the one holding the entry point
// first: UPX, ASPack, PECompact 2 and Petite.
struct PePacker {
    PackerKind kind;
    const char* name;
    std::array<std::string_view, 2> entrySections;
};
constexpr std::array<PePacker, 4> kPePackers = {{
    {PackerKind::kUpx, "UPX", {"UPX1", "UPX0"}},
    {PackerKind::kAspack, "ASPack", {".aspack", ".aspack"}},
    {PackerKind::kPecompact, "PECompact", {"PEC2", "PEC2TO"}},
    {PackerKind::kPetite, "Petite", {".petite", ".petite"}},
}};

std::uint32_t DwordAt(const std::vector<std::uint8_t>& bytes, std::int64_t at) {
    return WordAt(bytes, at) | static_cast<std::uint32_t>(WordAt(bytes, at + 2)) << 16;
}

std::vector<std::uint8_t> Read(ScanSource& program, std::int64_t offset, std::int64_t count) {
    return ReadExactly(program, offset, count).value_or(std::vector<std::uint8_t>{});
}

// The version before UPX's header, or "" where none is there.
std::string UpxVersion(ScanSource& program, std::int64_t from) {
    const std::vector<std::uint8_t> window =
        Read(program, from, std::min(kUpxHeaderWindow, program.Length() - from));
    const auto magic = FindText(window, window.begin(), kUpxMagic);
    if (magic == window.end() || magic - window.begin() < 2 || magic[-1] != 0)
        return "";
    auto start = magic - 1;
    while (start != window.begin() && magic - start <= kMaxUpxVersion &&
           (std::isdigit(start[-1]) != 0 || start[-1] == '.'))
        --start;
    const std::string version(start, magic - 1);
    if (version.size() < 3 || std::isdigit(version.front()) == 0 ||
        version.find('.') == std::string::npos || (start != window.begin() && start[-1] != 0))
        return "";
    return version;
}

} // namespace

bool IsPeProgram(ScanSource& program) {
    const std::vector<std::uint8_t> lfanew = Read(program, kNewHeaderOffsetAt, 4);
    const std::vector<std::uint8_t> signature = Read(program, DwordAt(lfanew, 0), 4);
    return lfanew.size() == 4 && signature == std::vector<std::uint8_t>{'P', 'E', 0, 0};
}

std::optional<Packer> RecognisePePacker(ScanSource& program) {
    const std::int64_t pe = DwordAt(Read(program, kNewHeaderOffsetAt, 4), 0);
    const std::vector<std::uint8_t> fileHeader = Read(program, pe, kEntryPointAt + 4);
    if (fileHeader.empty())
        return std::nullopt;
    const std::int64_t count = std::min<std::int64_t>(WordAt(fileHeader, 6), kMaxSections);
    const std::int64_t table = pe + kFileHeaderSize + WordAt(fileHeader, 20);
    const std::uint32_t entry = DwordAt(fileHeader, kEntryPointAt);
    const std::vector<std::uint8_t> headers = Read(program, table, count * kSectionHeaderSize);
    std::vector<Section> sections;
    for (std::int64_t at = 0; at < std::ssize(headers); at += kSectionHeaderSize) {
        const auto name = headers.begin() + at;
        sections.push_back({std::string(name, std::find(name, name + 8, 0)),
                            DwordAt(headers, at + 12), DwordAt(headers, at + 8)});
    }
    const auto holdsEntry = [entry](const Section& s) {
        return entry >= s.virtualAddress && entry - s.virtualAddress < s.virtualSize;
    };
    const auto loader = std::find_if(sections.begin(), sections.end(), holdsEntry);
    for (const PePacker& packer : kPePackers) {
        if (loader == sections.end() ||
            (loader->name != packer.entrySections[0] && loader->name != packer.entrySections[1]))
            continue;
        std::string name = packer.name;
        if (packer.kind == PackerKind::kUpx) {
            const std::string version = UpxVersion(program, table + std::ssize(headers));
            if (!version.empty())
                name += " " + version;
        }
        return Packer{packer.kind, name};
    }
    return std::nullopt;
}

} // namespace kestrel
