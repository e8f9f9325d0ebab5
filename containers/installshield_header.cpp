// The InstallShield header, from the layout libunshield reads (offsets from
// the cabinet descriptor, at cab_descriptor_offset, unless said otherwise):
//   0x0C file_table_offset, 0x14 file_table_size, 0x1C directory_count,
//   0x28 file_count, 0x2C file_table_offset2, 0x3E file_group_offsets[71]
//   (each the head of a chain of entries: name_offset, descriptor_offset,
//   next_offset), then component_offsets[71].
// The file table, at file_table_offset: a 32-bit offset per folder (its
// name) and, up to version 5, per file (its descriptor), all from the
// table's start. From version 6 the descriptors are 0x57 bytes each at
// file_table_offset2 from the table's start.
// A file group: name_offset, then (0x48 bytes on in version 5, 0x12 in the
// others) the first and last index of its files.
// A version 6 file descriptor: flags, expanded_size, compressed_size,
// data_offset, md5, 16 bytes, name_offset, directory_index, 12 bytes,
// link_previous, link_next, link_flags, volume. A file stored once under
// several names has the later names linked to the first: link_flags 1, and
// link_previous the first one's index.

#include "installshield_header.h"

#include <algorithm>
#include <vector>

namespace kestrel {

namespace {

constexpr std::uint32_t kSignature = 0x28635349; // "ISc("
constexpr std::uint64_t kDescriptorLength = 0x3E + 2 * 71 * 4;
constexpr int kGroupSlots = 71;
// A set holds a few dozen file groups; the chains of a crafted header could
// loop forever.
constexpr int kMaxFileGroups = 4096;
// As many files as a container may have members: the largest sets of the
// time hold some thousands.
constexpr std::uint64_t kMaxFiles = 1'000'000;
constexpr std::uint64_t kDescriptorLengthV6 = 0x57;
constexpr std::uint64_t kDescriptorLengthV5 = 0x3A;
// A Windows path is at most 260 characters; a longer name is damage.
constexpr std::uint64_t kMaxNameUnits = 1024;
constexpr std::uint8_t kLinkPrevious = 1;
// Every copy links to the first, so a link leads to a file that links no
// further; a crafted header's chains could run through every file.
constexpr int kMaxLinkHops = 16;

// The header's bytes, every read checked against their end.
class HeaderBytes {
public:
    explicit HeaderBytes(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    bool Has(std::uint64_t at, std::uint64_t length) const {
        return at <= m_bytes.size() && length <= m_bytes.size() - at;
    }
    std::uint64_t Le(std::uint64_t at, int count) const {
        std::uint64_t value = 0;
        for (int i = count - 1; i >= 0; --i)
            value = value << 8 | m_bytes[at + static_cast<std::uint64_t>(i)];
        return value;
    }
    std::uint32_t U16(std::uint64_t at) const { return static_cast<std::uint32_t>(Le(at, 2)); }
    std::uint32_t U32(std::uint64_t at) const { return static_cast<std::uint32_t>(Le(at, 4)); }
    std::uint64_t U64(std::uint64_t at) const { return Le(at, 8); }
    const std::uint8_t* At(std::uint64_t at) const { return m_bytes.data() + at; }

    // The NUL-terminated name at `at`, in 8-bit characters or (version 17
    // on) UTF-16, as UTF-8; false when it does not end inside the header.
    bool Name(std::uint64_t at, bool wide, std::string& name) const {
        name.clear();
        const std::uint64_t unit = wide ? 2 : 1;
        for (std::uint64_t i = 0; i < kMaxNameUnits; ++i, at += unit) {
            if (!Has(at, unit))
                return false;
            const std::uint32_t code = wide ? U16(at) : m_bytes[at];
            if (code == 0)
                return true;
            if (!wide)
                name += static_cast<char>(code);
            else
                AppendUtf8(code, name);
        }
        return false;
    }

private:
    // A unit of a surrogate pair stands alone as U+FFFD: names of the time
    // are in the Basic Multilingual Plane.
    static void AppendUtf8(std::uint32_t code, std::string& text) {
        if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::span<const std::uint8_t> m_bytes;
};

struct Descriptor {
    std::uint64_t base = 0;  // cab_descriptor_offset
    std::uint64_t table = 0; // base + file_table_offset
    std::uint64_t directory_count = 0;
    std::uint64_t file_count = 0;
    std::uint64_t file_table_offset2 = 0;
    bool v5 = false;
    bool wide = false;
};

struct Group {
    std::string name;
    std::uint32_t first_file = 0;
    std::uint32_t last_file = 0;
};

std::string ReadDescriptor(const HeaderBytes& bytes, const InstallShieldCommon& common,
                           Descriptor& d) {
    d.base = common.cab_descriptor_offset;
    if (d.base < kInstallShieldCommonLength || !bytes.Has(d.base, kDescriptorLength))
        return "cut short: its cabinet descriptor lies past its end";
    d.table = d.base + bytes.U32(d.base + 0x0C);
    d.directory_count = bytes.U32(d.base + 0x1C);
    d.file_count = bytes.U32(d.base + 0x28);
    d.file_table_offset2 = bytes.U32(d.base + 0x2C);
    d.v5 = common.major <= 5;
    d.wide = common.major >= 17;
    if (d.directory_count > kMaxFiles || d.file_count > kMaxFiles)
        return "damaged: " + std::to_string(d.directory_count) + " folders and " +
               std::to_string(d.file_count) + " files";
    const std::uint64_t entries = d.directory_count + (d.v5 ? d.file_count : 0);
    if (!bytes.Has(d.table, 4 * entries))
        return "damaged: its file table of " + std::to_string(entries) +
               " entries lies past its end";
    if (!d.v5 && !bytes.Has(d.table + d.file_table_offset2, kDescriptorLengthV6 * d.file_count))
        return "damaged: the descriptors of its " + std::to_string(d.file_count) +
               " files lie past its end";
    return {};
}

// The groups of every chain, in the order of their slots.
std::string ReadGroups(const HeaderBytes& bytes, const InstallShieldCommon& common,
                       const Descriptor& d, std::vector<Group>& groups) {
    const std::uint64_t skip = common.major == 5 ? 0x48 : 0x12;
    for (int slot = 0; slot < kGroupSlots; ++slot) {
        std::uint32_t next = bytes.U32(d.base + 0x3E + 4 * static_cast<std::uint64_t>(slot));
        while (next != 0) {
            if (groups.size() == kMaxFileGroups)
                return "damaged: more than " + std::to_string(kMaxFileGroups) + " file groups";
            const std::uint64_t entry = d.base + next;
            if (!bytes.Has(entry, 12))
                return "damaged: a file group's entry lies past its end";
            const std::uint64_t at = d.base + bytes.U32(entry + 4);
            next = bytes.U32(entry + 8);
            if (!bytes.Has(at, 4 + skip + 8))
                return "damaged: a file group lies past its end";
            Group group;
            if (!bytes.Name(d.base + bytes.U32(at), d.wide, group.name))
                return "damaged: a file group's name lies past its end";
            group.first_file = bytes.U32(at + 4 + skip);
            group.last_file = bytes.U32(at + 8 + skip);
            if (group.first_file > group.last_file || group.last_file >= d.file_count)
                return "damaged: file group \"" + group.name + "\" lists files " +
                       std::to_string(group.first_file) + " to " + std::to_string(group.last_file) +
                       " of " + std::to_string(d.file_count);
            groups.push_back(std::move(group));
        }
    }
    return {};
}

// A folder's name as a path inside the set: Windows's "\" become "/".
std::string FolderPath(std::string name) {
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    return name.empty() ? name : name + "/";
}

// A file's descriptor as it is written.
struct Entry {
    InstallShieldFile file; // its index and data
    std::uint32_t name_offset = 0;
    std::uint32_t directory = 0;
    std::uint32_t link_previous = 0;
    std::uint8_t link_flags = 0;
};

// The descriptor of file `index`; false when it lies past the header's end.
bool ReadEntry(const HeaderBytes& bytes, const Descriptor& d, std::uint32_t index, Entry& e) {
    e = {};
    InstallShieldFile& file = e.file;
    file.index = index;
    if (d.v5) {
        const std::uint64_t at = d.table + bytes.U32(d.table + 4 * (d.directory_count + index));
        if (!bytes.Has(at, kDescriptorLengthV5))
            return false;
        e.name_offset = bytes.U32(at);
        e.directory = bytes.U32(at + 4);
        file.flags = static_cast<std::uint16_t>(bytes.U16(at + 8));
        file.expanded_size = bytes.U32(at + 10);
        file.compressed_size = bytes.U32(at + 14);
        file.data_offset = bytes.U32(at + 0x26);
        std::copy(bytes.At(at + 0x2A), bytes.At(at + 0x3A), file.md5.begin());
        return true;
    }
    // Every descriptor of version 6 on was found inside the header whole.
    const std::uint64_t at = d.table + d.file_table_offset2 + kDescriptorLengthV6 * index;
    file.flags = static_cast<std::uint16_t>(bytes.U16(at));
    file.expanded_size = bytes.U64(at + 2);
    file.compressed_size = bytes.U64(at + 10);
    file.data_offset = bytes.U64(at + 18);
    std::copy(bytes.At(at + 26), bytes.At(at + 42), file.md5.begin());
    e.name_offset = bytes.U32(at + 0x3A);
    e.directory = bytes.U16(at + 0x3E);
    e.link_previous = bytes.U32(at + 0x4C);
    e.link_flags = bytes.At(at + 0x54)[0];
    file.volume = bytes.U16(at + 0x55);
    return true;
}

// Gives `e` the index and data of the file whose bytes it shares; "" or why
// its links are not followed.
std::string FollowLinks(const HeaderBytes& bytes, const Descriptor& d, Entry& e) {
    std::vector<std::uint32_t> seen = {e.file.index};
    Entry at = e;
    for (int hop = 0; (at.link_flags & kLinkPrevious) != 0; ++hop) {
        const std::uint32_t target = at.link_previous;
        if (target == at.file.index)
            return "linked to itself";
        if (std::find(seen.begin(), seen.end(), target) != seen.end())
            return "its links loop";
        if (hop == kMaxLinkHops)
            return "linked through more than " + std::to_string(kMaxLinkHops) + " files";
        if (target >= d.file_count || !ReadEntry(bytes, d, target, at))
            return "linked to file " + std::to_string(target) + " of " +
                   std::to_string(d.file_count);
        seen.push_back(target);
    }
    e.file = at.file;
    return {};
}

// Why the listed file `e` is not read, or "".
std::string FileFault(const HeaderBytes& bytes, const Descriptor& d, Entry& e) {
    if ((e.file.flags & kInstallShieldInvalid) != 0)
        return "marked as in no cabinet";
    if (std::string fault = FollowLinks(bytes, d, e); !fault.empty())
        return fault;
    if ((e.file.flags & kInstallShieldInvalid) != 0)
        return "linked to a file marked as in no cabinet";
    if (e.file.data_offset == 0 && e.file.expanded_size != 0)
        return "without the offset of its bytes";
    if (e.name_offset == 0)
        return "without a name";
    return {};
}

// The path of file `e` under `group`: a file to be read must have a name
// and folder inside the header; one that is not read is named all the same.
std::string FilePath(const HeaderBytes& bytes, const Descriptor& d, const std::string& group,
                     std::uint32_t number, Entry& e) {
    const std::string index = std::to_string(number);
    std::string name;
    const bool named =
        e.name_offset != 0 && bytes.Name(d.table + e.name_offset, d.wide, name) && !name.empty();
    if (!named && e.file.fault.empty())
        return "damaged: the name of file " + index + " lies past its end";
    if (e.directory >= d.directory_count && e.file.fault.empty())
        return "damaged: file " + index + " in folder " + std::to_string(e.directory) + " of " +
               std::to_string(d.directory_count);
    std::string folder;
    const bool placed =
        e.directory < d.directory_count &&
        bytes.Name(d.table + bytes.U32(d.table + 4 * std::uint64_t{e.directory}), d.wide, folder);
    if (!placed && e.file.fault.empty())
        return "damaged: the name of folder " + std::to_string(e.directory) + " lies past its end";
    e.file.path = group + "/" + FolderPath(folder) + (named ? name : "file " + index);
    return {};
}

} // namespace

bool ParseInstallShieldCommon(std::span<const std::uint8_t> bytes, InstallShieldCommon& common) {
    const HeaderBytes head(bytes);
    if (!head.Has(0, kInstallShieldCommonLength) || head.U32(0) != kSignature)
        return false;
    common.version = head.U32(4);
    common.cab_descriptor_offset = head.U32(12);
    common.cab_descriptor_size = head.U32(16);
    // Version 5 keeps its number at bits 12 to 15; later ones as 100 times
    // it in the low word, with 2 or 4 in the high byte.
    switch (common.version >> 24) {
    case 1:
        common.major = static_cast<int>(common.version >> 12 & 0xF);
        return true;
    case 2:
    case 4:
        common.major = static_cast<int>((common.version & 0xFFFF) / 100);
        return true;
    default:
        return false;
    }
}

std::string ParseInstallShieldHeader(std::span<const std::uint8_t> header, InstallShieldSet& set) {
    set = {};
    if (!ParseInstallShieldCommon(header, set.common))
        return "no InstallShield header";
    const HeaderBytes bytes(header);
    Descriptor d;
    if (std::string fault = ReadDescriptor(bytes, set.common, d); !fault.empty())
        return fault;
    std::vector<Group> groups;
    if (std::string fault = ReadGroups(bytes, set.common, d, groups); !fault.empty())
        return fault;
    set.file_count = static_cast<std::uint32_t>(d.file_count);
    // A file listed by two groups is read once, under the first.
    std::vector<bool> listed(d.file_count);
    for (const Group& group : groups) {
        for (std::uint32_t index = group.first_file; index <= group.last_file; ++index) {
            if (listed[index])
                continue;
            listed[index] = true;
            Entry entry;
            if (!ReadEntry(bytes, d, index, entry)) {
                set = {};
                return "damaged: the descriptor of file " + std::to_string(index) +
                       " lies past its end";
            }
            entry.file.fault = FileFault(bytes, d, entry);
            if (std::string fault = FilePath(bytes, d, group.name, index, entry); !fault.empty()) {
                set = {};
                return fault;
            }
            set.files.push_back(std::move(entry.file));
        }
    }
    return {};
}

} // namespace kestrel
