// Recognising a container by its content. The signatures are the formats'
// own; where one is short (cpio's binary magic, a tar header without "ustar",
// a boot sector) the fields around it are checked as well, so that a program
// or data file is not taken for a container by chance.

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "container_kind.h"
#include "installshield_header.h"

namespace kestrel {

namespace {

// Every signature below but ISO 9660's lies in the first 2 KiB: the ext
// superblock, at 1024, reaches furthest.
constexpr std::int64_t kHeadLength = 2048;

// ISO 9660: the first volume descriptor at sector 16 of 2048 bytes, its
// standard identifier "CD001" after the one-byte type.
constexpr std::int64_t kIsoDescriptorOffset = 16 * 2048;

// Self-extracting programs: a RAR, 7z or LHA archive is looked for in the
// first 384 KiB after the DOS image (7-Zip's stubs put it between 0x27000 and
// 0x60000), and a zip from its end record in the last 64 KiB + 22 bytes (the
// record and the longest comment).
constexpr std::int64_t kSfxSearchLength = 0x60000;
constexpr std::int64_t kZipEndSearchLength = 65535 + 22;
// Behind a larger Windows program, the archive is looked for in the first
// 64 KiB of its overlay (the bytes after its last section).
constexpr std::int64_t kOverlaySearchLength = 64 * 1024;

// A disk image is at least this long. The smallest volume DOS ever formatted,
// a 160 KiB single-sided floppy, is well above it; a boot sector or partition
// table saved on its own (BOOTSECT.DOS, MBR backups) is a sector or a few,
// and such a file is no image to look inside.
constexpr std::int64_t kMinDiskImageLength = 64 * 1024;

// The boot sector and the partition table of a PC disk.
constexpr std::size_t kBootSignatureOffset = 510; // 0x55 0xAA
constexpr std::size_t kPartitionTableOffset = 446;
constexpr std::size_t kPartitionEntrySize = 16;
constexpr std::size_t kPartitionEntryCount = 4;

// The ext2/3/4 superblock at 1024: s_log_block_size at 24, s_magic at 56.
constexpr std::size_t kExtSuperblockOffset = 1024;
constexpr std::uint32_t kExtMaxLogBlockSize = 6; // 64 KiB blocks

// A tar header block: the checksum field and the "ustar" magic.
constexpr std::size_t kTarBlockSize = 512;
constexpr std::size_t kTarChecksumOffset = 148;
constexpr std::size_t kTarChecksumLength = 8;
constexpr std::size_t kTarMagicOffset = 257;

// The binary cpio header: 13 16-bit fields, c_namesize the 11th.
constexpr std::size_t kCpioBinaryHeaderLength = 26;
constexpr std::size_t kCpioBinaryNameSizeOffset = 20;
constexpr std::uint32_t kCpioMaxNameSize = 1024; // PATH_MAX of the systems that wrote it

class Head {
public:
    explicit Head(ScanSource& source) {
        const std::int64_t got = source.ReadAt(0, m_bytes.data(), kHeadLength);
        m_length = std::max<std::int64_t>(got, 0);
    }
    std::size_t Length() const { return static_cast<std::size_t>(m_length); }
    bool Has(std::size_t offset, std::string_view text) const {
        return offset <= Length() && text.size() <= Length() - offset &&
               std::memcmp(m_bytes.data() + offset, text.data(), text.size()) == 0;
    }
    const std::uint8_t* Data() const { return m_bytes.data(); }
    std::uint32_t Byte(std::size_t offset) const { return offset < Length() ? m_bytes[offset] : 0; }
    std::uint32_t Word(std::size_t offset) const { return Byte(offset) | Byte(offset + 1) << 8; }
    std::uint32_t Dword(std::size_t offset) const { return Word(offset) | Word(offset + 2) << 16; }

private:
    std::array<std::uint8_t, kHeadLength> m_bytes{};
    std::int64_t m_length = 0;
};

using namespace std::string_view_literals;

bool IsPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

bool HasBootSignature(const Head& head) {
    return head.Byte(kBootSignatureOffset) == 0x55 && head.Byte(kBootSignatureOffset + 1) == 0xAA;
}

// A FAT boot sector: a jump, then a BIOS parameter block with sane values.
bool IsFatBootSector(const Head& head) {
    const bool jump = (head.Byte(0) == 0xEB && head.Byte(2) == 0x90) || head.Byte(0) == 0xE9;
    const std::uint32_t bytesPerSector = head.Word(11);
    const std::uint32_t media = head.Byte(21);
    return jump && HasBootSignature(head) && bytesPerSector >= 512 && bytesPerSector <= 4096 &&
           IsPowerOfTwo(bytesPerSector) && IsPowerOfTwo(head.Byte(13)) && head.Word(14) >= 1 &&
           (head.Byte(16) == 1 || head.Byte(16) == 2) && (media == 0xF0 || media >= 0xF8);
}

// A master boot record: the boot signature and four entries whose status
// bytes are 0x00 or 0x80, at least one of them in use.
bool IsMasterBootRecord(const Head& head) {
    if (!HasBootSignature(head))
        return false;
    bool used = false;
    for (std::size_t i = 0; i < kPartitionEntryCount; ++i) {
        const std::size_t entry = kPartitionTableOffset + i * kPartitionEntrySize;
        const std::uint32_t status = head.Byte(entry);
        if (status != 0x00 && status != 0x80)
            return false;
        const std::uint32_t type = head.Byte(entry + 4);
        const std::uint32_t firstSector = head.Dword(entry + 8);
        const std::uint32_t sectors = head.Dword(entry + 12);
        if (type != 0 && sectors != 0) {
            if (firstSector == 0)
                return false;
            used = true;
        }
    }
    return used;
}

bool IsExtSuperblock(const Head& head) {
    return head.Word(kExtSuperblockOffset + 56) == 0xEF53 &&
           head.Dword(kExtSuperblockOffset + 24) <= kExtMaxLogBlockSize;
}

bool IsDiskImage(const Head& head) {
    if (head.Has(3, "NTFS    "sv) || head.Has(3, "EXFAT   "sv))
        return HasBootSignature(head);
    return IsFatBootSector(head) || IsMasterBootRecord(head) || IsExtSuperblock(head);
}

// A tar header: "ustar" at 257, or (for the tar of Unix V7, which has no
// magic) a checksum field that matches the sum of the block's bytes.
bool IsTarHeader(const Head& head) {
    if (head.Length() < kTarBlockSize || head.Byte(0) == 0)
        return false;
    if (head.Has(kTarMagicOffset, "ustar"sv))
        return true;
    std::uint32_t stored = 0;
    std::size_t digits = 0;
    for (std::size_t i = kTarChecksumOffset; i < kTarChecksumOffset + kTarChecksumLength; ++i) {
        const std::uint32_t c = head.Byte(i);
        if (c >= '0' && c <= '7') {
            stored = stored * 8 + (c - '0');
            ++digits;
        } else if (c != ' ' && c != 0) {
            return false;
        }
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < kTarBlockSize; ++i) {
        const bool inField = i >= kTarChecksumOffset && i < kTarChecksumOffset + kTarChecksumLength;
        sum += inField ? ' ' : head.Byte(i);
    }
    return digits > 0 && stored == sum;
}

// The binary cpio header in either byte order, with a name that fits.
bool IsBinaryCpioHeader(const Head& head) {
    const bool little = head.Byte(0) == 0xC7 && head.Byte(1) == 0x71;
    const bool big = head.Byte(0) == 0x71 && head.Byte(1) == 0xC7;
    if (!little && !big)
        return false;
    std::uint32_t nameSize = head.Word(kCpioBinaryNameSizeOffset);
    if (big)
        nameSize = (nameSize >> 8) | (nameSize & 0xFF) << 8;
    const std::size_t nameEnd = kCpioBinaryHeaderLength + nameSize - 1;
    return nameSize >= 1 && nameSize <= kCpioMaxNameSize && nameEnd < head.Length() &&
           head.Byte(nameEnd) == 0;
}

// A CRC computed bit by bit, least significant bit first: CRC-32 (zip, 7z,
// RAR) with 0xEDB88320 from all ones, inverted at the end.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    return ~crc;
}

std::uint32_t Le16(const std::uint8_t* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t Le32(const std::uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

// An LHA header that checks out: the method "-lh?-" or "-lz?-" at 2, then
// for levels 0 and 1 the header's byte sum at 1 over the size at 0, for
// level 2 the chain of extended headers ending exactly at the header's size
// (a header of more than `count` bytes is not taken). Level 3 no DOS tool
// wrote.
bool LhaHeaderChecksOut(const std::uint8_t* p, std::size_t count) {
    constexpr std::size_t kBaseLength = 22; // up to the name length at 21
    if (count < kBaseLength || p[2] != '-' || p[3] != 'l' || p[6] != '-')
        return false;
    const std::uint32_t family = p[4];
    const std::uint32_t method = p[5];
    const bool known = family == 'h'
                           ? (method >= '0' && method <= '7') || method == 'd'
                           : family == 'z' && (method == 's' || method == '4' || method == '5');
    if (!known)
        return false;
    const std::uint32_t level = p[20];
    if (level <= 1) {
        const std::size_t size = p[0];
        if (size < kBaseLength - 2 + p[21] || size + 2 > count)
            return false;
        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < size + 2; ++i)
            sum = static_cast<std::uint8_t>(sum + p[i]);
        return sum == p[1];
    }
    if (level != 2)
        return false;
    // Level 2: the whole header's size at 0, the first extended header's size at 24.
    constexpr std::size_t kFirstExtension = 24;
    const std::size_t size = Le16(p);
    if (size < kFirstExtension + 2 || size > count)
        return false;
    std::size_t at = kFirstExtension;
    for (;;) {
        const std::size_t next = Le16(p + at);
        if (next == 0)
            return at + 2 == size;
        if (next < 3 || next > size - at - 2)
            return false;
        at += next;
    }
}

// A 7z signature header: the signature, version 0.x, and the CRC at 8 of the
// 20 bytes that point at the end header.
bool SevenZipHeaderChecksOut(const std::uint8_t* p, std::size_t count) {
    constexpr std::size_t kLength = 32;
    return count >= kLength && std::memcmp(p, "7z\xBC\xAF\x27\x1C", 6) == 0 && p[6] == 0 &&
           Le32(p + 8) == Crc32(p + 12, 20);
}

// A RAR archive's marker and the main header after it, with its CRC: for
// RAR 1.5 to 4 the low 16 bits of a CRC-32 over the header from its type on
// (type 0x73), for RAR 5 a CRC-32 over the header's size and the header
// (type 1, the main archive header), the size a variable-length number.
bool RarHeaderChecksOut(const std::uint8_t* p, std::size_t count) {
    if (count >= 7 + 7 && std::memcmp(p, "Rar!\x1A\x07\x00", 7) == 0) {
        const std::uint8_t* header = p + 7;
        const std::size_t size = Le16(header + 5);
        return header[2] == 0x73 && size >= 7 && 7 + size <= count &&
               (Crc32(header + 2, size - 2) & 0xFFFF) == Le16(header);
    }
    if (count < 8 + 4 + 2 || std::memcmp(p, "Rar!\x1A\x07\x01\x00", 8) != 0)
        return false;
    const std::uint8_t* header = p + 12;
    std::size_t size = 0;
    std::size_t digits = 0;
    for (int shift = 0; digits < 3; shift += 7) {
        if (12 + digits >= count)
            return false;
        const std::uint8_t byte = header[digits++];
        size |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0)
            break;
    }
    if (size == 0 || 12 + digits + size > count || header[digits] != 1)
        return false;
    return Crc32(header, digits + size) == Le32(p + 8);
}

// An ARJ main header: the marker 0x60 0xEA, the basic header's size (at
// most 2600 bytes), the header with file type 2 (the main header) and its
// CRC-32 after it.
constexpr std::size_t kArjMaxHeaderSize = 2600;
constexpr std::size_t kArjLongestHeader = 4 + kArjMaxHeaderSize + 4;
bool ArjHeaderChecksOut(const std::uint8_t* p, std::size_t count) {
    constexpr std::size_t kFirstHeaderMinSize = 30;
    if (count < 4 + kFirstHeaderMinSize + 4 || p[0] != 0x60 || p[1] != 0xEA)
        return false;
    const std::size_t size = Le16(p + 2);
    if (size < kFirstHeaderMinSize || size > kArjMaxHeaderSize || 4 + size + 4 > count)
        return false;
    const std::uint8_t* header = p + 4;
    return header[0] >= kFirstHeaderMinSize && header[0] <= size && header[6] == 2 &&
           Crc32(header, size) == Le32(header + size);
}

// NSIS's first header: flags, then 0xDEADBEEF and "NullsoftInst", at a
// multiple of 512 bytes into the installer.
constexpr std::string_view kNsisSignature = "\xEF\xBE\xAD\xDENullsoftInst";
constexpr std::int64_t kNsisAlignment = 512;

// An OLE compound file whose root storage has the class of an MSI database,
// {000C1084-0000-0000-C000-000000000046}: the root entry is the first of the
// directory, whose first sector the header names.
bool IsMsiDatabase(ScanSource& source, const Head& head) {
    constexpr std::string_view kMsiClass =
        "\x84\x10\x0C\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"sv;
    constexpr std::size_t kClassOffset = 0x50; // in the directory entry
    if (!head.Has(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv))
        return false;
    const std::uint32_t sectorShift = head.Word(0x1E);
    const std::uint32_t directorySector = head.Dword(0x30);
    if ((sectorShift != 9 && sectorShift != 12) || directorySector >= 0xFFFFFFFA)
        return false;
    const std::int64_t entry = (std::int64_t{directorySector} + 1) << sectorShift;
    std::array<std::uint8_t, 16> classId{};
    return source.ReadAt(entry + kClassOffset, classId.data(), 16) == 16 &&
           std::memcmp(classId.data(), kMsiClass.data(), 16) == 0;
}

bool IsGzipHeader(const Head& head) {
    // ID1 ID2 CM (8: deflate), then FLG with its three reserved bits clear.
    return head.Has(0, "\x1F\x8B\x08"sv) && (head.Byte(3) & 0xE0) == 0;
}

bool IsBzip2Header(const Head& head) {
    // "BZh", the block size '1' to '9', then a block or the end-of-stream magic.
    return head.Has(0, "BZh"sv) && head.Byte(3) >= '1' && head.Byte(3) <= '9' &&
           (head.Has(4, "\x31\x41\x59\x26\x53\x59"sv) || head.Has(4, "\x17\x72\x45\x38\x50\x90"sv));
}

bool IsIso9660(ScanSource& source) {
    if (source.Length() < kIsoDescriptorOffset + 2048)
        return false;
    std::array<std::uint8_t, 6> descriptor{};
    if (source.ReadAt(kIsoDescriptorOffset, descriptor.data(), 6) != 6)
        return false;
    const std::uint8_t type = descriptor[0]; // boot record, primary, supplementary, ..., terminator
    return (type <= 3 || type == 255) && std::memcmp(descriptor.data() + 1, "CD001", 5) == 0;
}

std::string ReadText(ScanSource& source, std::int64_t offset, std::int64_t length) {
    // Windows are asked for larger than most programs: only what lies there is made room for.
    length = std::min(length, source.Length() - offset);
    std::string text(static_cast<std::size_t>(std::max<std::int64_t>(length, 0)), '\0');
    const std::int64_t got =
        source.ReadAt(offset, reinterpret_cast<std::uint8_t*>(text.data()), length);
    text.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
    return text;
}

// The length of the DOS image of an MZ header: e_cp pages of 512 bytes at
// 4, the last of them holding e_cblp bytes at 2 (0: a whole page).
std::int64_t MzImageLength(const Head& head) {
    const std::int64_t pages = head.Word(4);
    const std::int64_t lastPage = std::min<std::uint32_t>(head.Word(2), 512);
    return pages == 0 ? 0 : pages * 512 - (lastPage == 0 ? 0 : 512 - lastPage);
}

// A zip's end record in the last bytes of a program, whose central directory
// lies right before it and starts with its signature (or, for zip64, the
// locator of the zip64 end record before it). Where the DOS image ends does
// not matter: some self-extractors count the archive in it, and a zip is
// read from its end.
bool HasZipBehind(ScanSource& source) {
    const std::int64_t length = source.Length();
    const std::int64_t tailStart = std::max<std::int64_t>(length - kZipEndSearchLength, 0);
    const std::string tail = ReadText(source, tailStart, length - tailStart);
    constexpr std::size_t kEndRecordLength = 22;
    for (std::size_t at = tail.rfind("PK\x05\x06"sv); at != std::string::npos;
         at = at == 0 ? std::string::npos : tail.rfind("PK\x05\x06"sv, at - 1)) {
        if (at + kEndRecordLength > tail.size())
            continue;
        const auto* record = reinterpret_cast<const std::uint8_t*>(tail.data() + at);
        const std::int64_t endRecord = tailStart + static_cast<std::int64_t>(at);
        if (at >= 20 && tail.compare(at - 20, 4, "PK\x06\x07"sv) == 0)
            return true;
        const std::int64_t directory = endRecord - Le32(record + 12);
        if (Le16(record + 10) == 0 || directory < 0)
            continue;
        if (ReadText(source, directory, 4) == "PK\x01\x02"sv)
            return true;
    }
    return false;
}

// A header an archive behind a program starts with: the signature that
// marks it, how far into the header that lies, and the check of the rest.
struct ArchiveHeaderKind {
    std::string_view signature;
    std::size_t signatureAt;
    bool (*checksOut)(const std::uint8_t* header, std::size_t count);
    bool arj;
};

constexpr std::array kArchiveHeaderKinds = {
    ArchiveHeaderKind{"Rar!\x1A\x07"sv, 0, RarHeaderChecksOut, false},
    ArchiveHeaderKind{"7z\xBC\xAF\x27\x1C"sv, 0, SevenZipHeaderChecksOut, false},
    ArchiveHeaderKind{"-l"sv, 2, LhaHeaderChecksOut, false}, // "-lh5-" after size and sum
    ArchiveHeaderKind{"\x60\xEA"sv, 0, ArjHeaderChecksOut, true},
};

// Whether a header of `kind` checks out at `at` in the window read from
// `from`; one that may run past the window's end is read again whole.
bool HeaderChecksOutAt(ScanSource& source, std::int64_t from, const std::string& window,
                       std::size_t at, const ArchiveHeaderKind& kind) {
    constexpr std::size_t kLongestHeader = 4096;
    const auto* header = reinterpret_cast<const std::uint8_t*>(window.data()) + at;
    std::size_t count = window.size() - at;
    std::string more;
    if (count < kLongestHeader) {
        more = ReadText(source, from + static_cast<std::int64_t>(at), kLongestHeader);
        header = reinterpret_cast<const std::uint8_t*>(more.data());
        count = more.size();
    }
    return kind.checksOut(header, std::min(count, kLongestHeader));
}

// Where the first header of `kind` that checks out starts, before `before`;
// npos when there is none. The signature is found by the library's search,
// which is many times faster than looking at each byte of a large program.
std::size_t FirstHeaderOfKind(ScanSource& source, std::int64_t from, const std::string& window,
                              const ArchiveHeaderKind& kind, std::size_t before) {
    constexpr std::size_t kShortestHeader = 7;
    for (std::size_t found = window.find(kind.signature, kind.signatureAt);
         found != std::string::npos; found = window.find(kind.signature, found + 1)) {
        const std::size_t at = found - kind.signatureAt;
        if (at >= before || at + kShortestHeader > window.size())
            break;
        if (HeaderChecksOutAt(source, from, window, at, kind))
            return at;
    }
    return std::string::npos;
}

// NSIS's first header, which lies only at a multiple of 512 bytes into the
// file: npos when there is none.
std::size_t FirstNsisHeader(std::int64_t from, const std::string& window) {
    const std::int64_t firstAligned =
        ((4 - from) % kNsisAlignment + kNsisAlignment) % kNsisAlignment;
    for (auto at = static_cast<std::size_t>(firstAligned);
         at + kNsisSignature.size() <= window.size(); at += kNsisAlignment) {
        if (window.compare(at, kNsisSignature.size(), kNsisSignature) == 0)
            return at;
    }
    return std::string::npos;
}

// The first RAR, 7z, LHA or ARJ archive whose header checks out, or NSIS's
// first header, among the `length` bytes at `from`.
ArchiveBehindProgram FindArchiveHeader(ScanSource& source, std::int64_t from, std::int64_t length) {
    ArchiveBehindProgram found;
    const std::string window = ReadText(source, from, length);
    std::size_t first = FirstNsisHeader(from, window);
    if (first != std::string::npos) {
        found.start = from + static_cast<std::int64_t>(first) - 4;
        found.nsis = true;
    }
    for (const ArchiveHeaderKind& kind : kArchiveHeaderKinds) {
        const std::size_t at = FirstHeaderOfKind(source, from, window, kind, first);
        if (at == std::string::npos)
            continue;
        first = at;
        found.start = from + static_cast<std::int64_t>(at);
        found.nsis = false;
        found.arj = kind.arj;
    }
    return found;
}

} // namespace

ArchiveBehindProgram FindArchiveBehindProgram(ScanSource& source) {
    const Head head(source);
    if (!head.Has(0, "MZ"sv))
        return {};
    // RAR, 7z, LHA and ARJ self-extractors put the archive after the program:
    // right after the DOS image, or after a Windows program's sections, in
    // the first few hundred KiB. The archive's own header must check out.
    const std::int64_t imageLength = MzImageLength(head);
    ArchiveBehindProgram found = FindArchiveHeader(source, imageLength, kSfxSearchLength);
    // A larger Windows stub (WinRAR's with its dialogs and pictures) ends
    // further on: its archive is looked for at the start of its overlay.
    const std::int64_t overlay = PeOverlayStart(source);
    if (!found.Found() && overlay > imageLength + kSfxSearchLength - kOverlaySearchLength)
        found = FindArchiveHeader(source, overlay, kOverlaySearchLength);
    if (!found.Found())
        found.zip = HasZipBehind(source);
    return found;
}

namespace {

bool IsArjArchive(ScanSource& source) {
    const std::string header = ReadText(source, 0, kArjLongestHeader);
    return ArjHeaderChecksOut(reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
}

bool IsLhaHeader(const Head& head) {
    return LhaHeaderChecksOut(head.Data(), head.Length());
}

// An ARC or PAK archive has no magic but the mark 0x1A before each header:
// its first header must hold a method ARC or PAK wrote (1 to 11), a name
// of printable characters ended within its 13 bytes, and a compressed size
// after which the next header's mark or the end of the file follows (or
// which passes the end: a truncated archive, said when read).
bool IsArcArchive(ScanSource& source, const Head& head) {
    constexpr std::uint32_t kLastMethod = 11;
    constexpr std::size_t kNameLength = 13;
    if (head.Byte(0) != 0x1A || head.Byte(1) == 0 || head.Byte(1) > kLastMethod)
        return false;
    std::size_t nameLength = 0;
    while (nameLength < kNameLength && head.Byte(2 + nameLength) != 0) {
        const std::uint32_t c = head.Byte(2 + nameLength);
        if (c <= 0x20 || c == 0x7F)
            return false;
        ++nameLength;
    }
    if (nameLength == 0 || nameLength == kNameLength)
        return false;
    const std::int64_t headerLength = head.Byte(1) == 1 ? 25 : 29;
    const std::int64_t next = headerLength + head.Dword(15);
    if (head.Length() < static_cast<std::size_t>(headerLength))
        return false;
    std::uint8_t mark = 0;
    return next >= source.Length() || (source.ReadAt(next, &mark, 1) == 1 && mark == 0x1A);
}

// A TeleDisk header: "TD" (or "td" when the rest is compressed), the
// volume's sequence number 0, and a CRC-16 (polynomial 0xA097, high bit
// first, from 0) of its first 10 bytes at 10.
bool IsTeleDiskHeader(const Head& head) {
    if (!(head.Has(0, "TD\0"sv) || head.Has(0, "td\0"sv)))
        return false;
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < 10; ++i) {
        crc ^= head.Byte(i) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) != 0 ? (crc << 1 ^ 0xA097) & 0xFFFF : crc << 1 & 0xFFFF;
    }
    return crc == head.Word(10);
}

} // namespace

ContainerKind DetectContainer(ScanSource& source) {
    const Head head(source);
    if (head.Length() < 4)
        return ContainerKind::kNone;

    if (head.Has(0, "PK\x03\x04"sv) || head.Has(0, "PK\x05\x06"sv) ||
        head.Has(0, "PK\x07\x08PK\x03\x04"sv) || head.Has(0, "PK00PK\x03\x04"sv) ||
        head.Has(0, "7z\xBC\xAF\x27\x1C"sv) || head.Has(0, "Rar!\x1A\x07\x00"sv) ||
        head.Has(0, "Rar!\x1A\x07\x01\x00"sv) || head.Has(0, "070707"sv) ||
        head.Has(0, "070701"sv) || head.Has(0, "070702"sv) || IsBinaryCpioHeader(head) ||
        IsLhaHeader(head) || IsTarHeader(head))
        return ContainerKind::kArchive;
    if (IsGzipHeader(head) || IsBzip2Header(head) ||
        head.Has(0, "\xFD"
                    "7zXZ\x00"sv))
        return ContainerKind::kCompressedStream;
    if (head.Has(0, "SZDD\x88\xF0\x27\x33"sv) || head.Has(0, "SZ \x88\xF0\x27\x33\xD1"sv))
        return ContainerKind::kSzdd;
    if (head.Has(0, "KWAJ\x88\xF0\x27\xD1"sv))
        return ContainerKind::kKwaj;
    if (head.Has(0, "MSCF\x00\x00\x00\x00"sv))
        return ContainerKind::kCabinet;
    if (head.Has(0, "ITSF"sv) && (head.Dword(4) == 2 || head.Dword(4) == 3))
        return ContainerKind::kChm;
    if (head.Has(0, "KDMV"sv))
        return ContainerKind::kVmdk;
    if (head.Has(0, "conectix"sv))
        return ContainerKind::kVhd;
    if (head.Has(0, "\x60\xEA"sv) && IsArjArchive(source))
        return ContainerKind::kArj;
    if (head.Has(0, "QFI\xFB"sv) && head.Byte(4) == 0 && head.Byte(5) == 0 && head.Byte(6) == 0 &&
        head.Byte(7) >= 1 && head.Byte(7) <= 3)
        return ContainerKind::kQcow;
    if (head.Dword(0x40) == 0xBEDA107F)
        return ContainerKind::kVdi;
    if (IsMsiDatabase(source, head))
        return ContainerKind::kMsi;
    if (IsArcArchive(source, head))
        return ContainerKind::kArc;
    // ImageDisk: "IMD " and the writer's version and date, then a comment
    // ended by 0x1A.
    if (head.Has(0, "IMD "sv) &&
        std::find(head.Data(), head.Data() + head.Length(), 0x1A) != head.Data() + head.Length())
        return ContainerKind::kImd;
    if (IsTeleDiskHeader(head))
        return ContainerKind::kTeleDisk;
    if (InstallShieldCommon common; ParseInstallShieldCommon({head.Data(), head.Length()}, common))
        return ContainerKind::kInstallShield;
    if (head.Has(0, "vhdxfile"sv))
        return ContainerKind::kVhdx;
    if (head.Has(0, "EVF\x09\x0D\x0A\xFF\x00"sv))
        return ContainerKind::kEwf;
    if (head.Has(0, "MZ"sv)) {
        const ArchiveBehindProgram behind = FindArchiveBehindProgram(source);
        if (behind.arj)
            return ContainerKind::kArj;
        if (behind.nsis)
            return ContainerKind::kNsis;
        if (behind.Found())
            return ContainerKind::kExecutable;
        return FindCabinetInProgram(source).Found() ? ContainerKind::kCabinetProgram
                                                    : ContainerKind::kNone;
    }
    if (head.Has(0, "\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x00"sv) &&
        RawCdUserDataOffset(source) >= 0)
        return ContainerKind::kRawCdImage;
    // A hybrid CD image starts with a partition table: it is read as ISO 9660.
    if (IsIso9660(source))
        return ContainerKind::kArchive;
    if (source.Length() >= kMinDiskImageLength && IsDiskImage(head))
        return ContainerKind::kDiskImage;
    return ContainerKind::kNone;
}

} // namespace kestrel

namespace kestrel {

// libarchive reads stored, deflated, bzip2, LZMA, xz, zstd and PPMd
// members; PKZIP 1's shrink (1), reduce (2-5) and implode (6) and PKZIP
// 2.5's deflate64 (9) it refuses, member by member. The central directory
// is read from the end record, at most a million entries of it.
bool ZipHasOldMethods(ScanSource& zip) {
    constexpr std::int64_t kEndRecordLength = 22;
    constexpr std::int64_t kEntryLength = 46;
    constexpr std::int64_t kMaxDirectoryRead = 64 * 1024 * 1024;
    const std::int64_t length = zip.Length();
    const std::int64_t tailStart = std::max<std::int64_t>(length - kZipEndSearchLength, 0);
    const std::string tail = ReadText(zip, tailStart, length - tailStart);
    const std::size_t end = tail.rfind("PK\x05\x06"sv);
    if (end == std::string::npos || end + kEndRecordLength > tail.size())
        return false;
    const auto* record = reinterpret_cast<const std::uint8_t*>(tail.data() + end);
    const std::int64_t size = std::min<std::int64_t>(Le32(record + 12), kMaxDirectoryRead);
    const std::int64_t start = tailStart + static_cast<std::int64_t>(end) - Le32(record + 12);
    if (start < 0)
        return false;
    const std::string directory = ReadText(zip, start, std::min(size, length - start));
    const auto* p = reinterpret_cast<const std::uint8_t*>(directory.data());
    for (std::size_t at = 0; at + kEntryLength <= directory.size();) {
        if (Le32(p + at) != 0x02014B50)
            return false;
        const std::uint32_t method = Le16(p + at + 10);
        if ((method >= 1 && method <= 6) || method == 9)
            return true;
        at += kEntryLength + Le16(p + at + 28) + Le16(p + at + 30) + Le16(p + at + 32);
    }
    return false;
}

} // namespace kestrel
