// What a Windows program carries besides its code: the overlay (the bytes
// after its last section, where self-extractors append their archive) and a
// cabinet kept in the overlay or in a resource (IExpress keeps it as the
// RCDATA resource "CABINET"). Only the PE headers, the section table and
// one path through the resource tree are read, each a few bytes, and every
// offset is checked against the file before it is used.

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "container_kind.h"

namespace kestrel {

namespace {

// e_lfanew, the "PE\0\0" header's offset, at 0x3C of the MZ header.
constexpr std::int64_t kNewHeaderPointer = 0x3C;
// The COFF header after "PE\0\0": NumberOfSections at 2, SizeOfOptionalHeader at 16.
constexpr std::int64_t kCoffHeaderLength = 20;
// The resource table's entry (the third) among the optional header's data
// directories, which start at 96 in PE32 and at 112 in PE32+.
constexpr std::int64_t kPe32ResourceDirectory = 96 + 2 * 8;
constexpr std::int64_t kPe32PlusResourceDirectory = 112 + 2 * 8;
constexpr std::int64_t kSectionHeaderLength = 40;
// The Windows loader refuses more sections than this.
constexpr std::uint32_t kMaxSections = 96;

// A resource directory: its named and ID entry counts at 12 and 14, then the
// entries of 8 bytes, named ones first. A level is searched in its first
// entries only: no program has more resource types or names than this.
constexpr std::int64_t kResourceDirectoryLength = 16;
constexpr std::uint32_t kMaxResourceEntries = 4096;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000;
constexpr std::uint32_t kRcdataType = 10; // RT_RCDATA
constexpr std::u16string_view kCabinetResourceName = u"CABINET";

// A cabinet appended to a program may follow some padding or a signature
// block; it is looked for this far into the overlay.
constexpr std::int64_t kOverlaySearchLength = 64 * 1024;

// CFHEADER: "MSCF", reserved1, cbCabinet at 8, reserved2, coffFiles at 16,
// reserved3, versionMinor 3 and versionMajor 1 at 24, cFolders at 26 and
// cFiles at 28; each CFFOLDER takes at least 8 bytes after the header.
constexpr std::size_t kCabinetHeaderLength = 36;

std::uint32_t Le16(const std::uint8_t* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t Le32(const std::uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

bool ReadExactly(ScanSource& source, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
    return offset >= 0 && source.ReadAt(offset, into, count) == count;
}

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

struct PeLayout {
    std::vector<Section> sections;
    std::uint32_t resourceRva = 0;
    std::int64_t overlay = 0; // where the last section's raw data ends
};

// The section table and the resource table's address of a PE program; false
// for a file that is no PE program or whose headers lie outside it.
bool ReadPeLayout(ScanSource& source, PeLayout& layout) {
    std::array<std::uint8_t, 4> pointer{};
    if (!ReadExactly(source, kNewHeaderPointer, pointer.data(), 4))
        return false;
    const std::int64_t pe = Le32(pointer.data());
    std::array<std::uint8_t, 4 + kCoffHeaderLength> coff{};
    if (!ReadExactly(source, pe, coff.data(), coff.size()) ||
        std::memcmp(coff.data(), "PE\0\0", 4) != 0)
        return false;
    const std::uint32_t sectionCount = Le16(coff.data() + 6);
    const std::uint32_t optionalLength = Le16(coff.data() + 20);
    const std::int64_t optional = pe + 4 + kCoffHeaderLength;
    // The optional header as far as the resource table's entry.
    std::array<std::uint8_t, kPe32PlusResourceDirectory + 8> header{};
    const std::int64_t headerLength = std::min<std::int64_t>(optionalLength, header.size());
    if (sectionCount > kMaxSections || !ReadExactly(source, optional, header.data(), headerLength))
        return false;
    const std::uint32_t magic = Le16(header.data());
    const std::int64_t directory = magic == 0x20B
                                       ? kPe32PlusResourceDirectory
                                       : (magic == 0x10B ? kPe32ResourceDirectory : headerLength);
    if (directory + 8 <= headerLength)
        layout.resourceRva = Le32(header.data() + directory);
    std::vector<std::uint8_t> table(sectionCount * kSectionHeaderLength);
    if (!ReadExactly(source, optional + optionalLength, table.data(),
                     static_cast<std::int64_t>(table.size())))
        return false;
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* entry = table.data() + i * kSectionHeaderLength;
        const Section section{Le32(entry + 12), Le32(entry + 8), Le32(entry + 16),
                              Le32(entry + 20)};
        layout.sections.push_back(section);
        if (section.rawSize != 0)
            layout.overlay = std::max<std::int64_t>(
                layout.overlay, std::int64_t{section.rawOffset} + section.rawSize);
    }
    return true;
}

// The file offset of an address in the loaded program, with the bytes the
// section holds from there; -1 where no section's raw data holds it.
std::int64_t FileOffsetOf(const PeLayout& layout, std::uint32_t rva, std::int64_t& available) {
    for (const Section& section : layout.sections) {
        const std::int64_t into = std::int64_t{rva} - section.virtualAddress;
        if (into >= 0 && into < section.rawSize) {
            available = section.rawSize - into;
            return section.rawOffset + into;
        }
    }
    return -1;
}

// A resource directory's entries, named ones first, as far as the file holds them.
std::vector<std::uint8_t> ReadDirectoryEntries(ScanSource& source, std::int64_t directory,
                                               std::uint32_t& namedCount) {
    std::array<std::uint8_t, kResourceDirectoryLength> header{};
    if (!ReadExactly(source, directory, header.data(), header.size()))
        return {};
    namedCount = std::min(Le16(header.data() + 12), kMaxResourceEntries);
    const std::uint32_t count =
        std::min(namedCount + Le16(header.data() + 14), kMaxResourceEntries);
    std::vector<std::uint8_t> entries(count * 8);
    const std::int64_t got =
        source.ReadAt(directory + kResourceDirectoryLength, entries.data(), entries.size());
    entries.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)) / 8 * 8);
    return entries;
}

// Whether a named entry's name (a length, then 16-bit characters, at an
// offset from the resource table's start) is `name`.
bool NameIs(ScanSource& source, std::int64_t root, std::uint32_t nameOffset,
            std::u16string_view name) {
    std::vector<std::uint8_t> text(2 + 2 * name.size());
    if (!ReadExactly(source, root + nameOffset, text.data(),
                     static_cast<std::int64_t>(text.size())) ||
        Le16(text.data()) != name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (Le16(text.data() + 2 + 2 * i) != name[i])
            return false;
    }
    return true;
}

// The offset from the resource table's start that an entry of `directory`
// leads to: the entry with ID `id`, or with the name `name`, or the first
// when both are empty. -1 when there is none.
std::int64_t FindResourceEntry(ScanSource& source, std::int64_t root, std::int64_t directory,
                               std::int64_t id, std::u16string_view name = {}) {
    std::uint32_t namedCount = 0;
    const std::vector<std::uint8_t> entries = ReadDirectoryEntries(source, directory, namedCount);
    for (std::size_t at = 0; at < entries.size(); at += 8) {
        const std::uint32_t key = Le32(entries.data() + at);
        bool match = false;
        if (id < 0 && name.empty())
            match = true; // the first entry
        else if (at / 8 < namedCount)
            match = !name.empty() && (key & kSubdirectoryFlag) != 0 &&
                    NameIs(source, root, key & ~kSubdirectoryFlag, name);
        else
            match = id >= 0 && key == id;
        if (match)
            return Le32(entries.data() + at + 4);
    }
    return -1;
}

// The bytes of the RCDATA resource "CABINET": its offset in the file, and its
// length as far as its section holds it. False when the program has none.
bool FindCabinetResource(ScanSource& source, const PeLayout& layout, std::int64_t& offset,
                         std::int64_t& length) {
    std::int64_t available = 0;
    const std::int64_t root = FileOffsetOf(layout, layout.resourceRva, available);
    if (layout.resourceRva == 0 || root < 0)
        return false;
    const std::int64_t type = FindResourceEntry(source, root, root, kRcdataType);
    if (type < 0 || (type & kSubdirectoryFlag) == 0)
        return false;
    const std::int64_t named = FindResourceEntry(source, root, root + (type & ~kSubdirectoryFlag),
                                                 -1, kCabinetResourceName);
    if (named < 0 || (named & kSubdirectoryFlag) == 0)
        return false;
    const std::int64_t language =
        FindResourceEntry(source, root, root + (named & ~kSubdirectoryFlag), -1);
    if (language < 0 || (language & kSubdirectoryFlag) != 0)
        return false;
    // The data entry: the data's address and size.
    std::array<std::uint8_t, 8> data{};
    if (!ReadExactly(source, root + language, data.data(), data.size()))
        return false;
    offset = FileOffsetOf(layout, Le32(data.data()), available);
    length = std::min<std::int64_t>(Le32(data.data() + 4), available);
    return offset >= 0;
}

// A cabinet header at `offset` that checks out, whose cabinet lies within
// `room` bytes: its length, or 0.
std::int64_t CabinetLength(ScanSource& source, std::int64_t offset, std::int64_t room) {
    std::array<std::uint8_t, kCabinetHeaderLength> header{};
    if (!ReadExactly(source, offset, header.data(), header.size()) ||
        std::memcmp(header.data(), "MSCF\0\0\0\0", 8) != 0)
        return 0;
    const std::int64_t length = Le32(header.data() + 8);
    const std::uint32_t folders = Le16(header.data() + 26);
    const bool fits = length <= room && Le32(header.data() + 16) < length &&
                      std::int64_t{kCabinetHeaderLength} + 8 * folders <= length;
    return fits && Le32(header.data() + 12) == 0 && Le32(header.data() + 20) == 0 &&
                   header[24] == 3 && header[25] == 1 && folders != 0 &&
                   Le16(header.data() + 28) != 0
               ? length
               : 0;
}

// A cabinet whose header checks out in the first bytes of the overlay.
CabinetInProgram FindCabinetInOverlay(ScanSource& source, std::int64_t overlay) {
    CabinetInProgram found;
    const std::int64_t length = source.Length();
    std::vector<std::uint8_t> window(static_cast<std::size_t>(
        std::clamp<std::int64_t>(length - overlay, 0, kOverlaySearchLength)));
    const std::int64_t got =
        window.empty() ? 0 : source.ReadAt(overlay, window.data(), window.size());
    for (std::int64_t at = 0; at + 4 <= got; ++at) {
        if (std::memcmp(window.data() + at, "MSCF", 4) != 0)
            continue;
        const std::int64_t start = overlay + at;
        if (const std::int64_t cabinet = CabinetLength(source, start, length - start)) {
            found.start = start;
            found.length = cabinet;
            return found;
        }
    }
    return found;
}

} // namespace

std::int64_t PeOverlayStart(ScanSource& source) {
    PeLayout layout;
    return ReadPeLayout(source, layout) ? layout.overlay : -1;
}

CabinetInProgram FindCabinetInProgram(ScanSource& source) {
    PeLayout layout;
    if (!ReadPeLayout(source, layout))
        return {};
    std::int64_t offset = 0;
    std::int64_t length = 0;
    if (FindCabinetResource(source, layout, offset, length)) {
        if (const std::int64_t cabinet = CabinetLength(source, offset, length))
            return {offset, cabinet};
    }
    return FindCabinetInOverlay(source, layout.overlay);
}

} // namespace kestrel
