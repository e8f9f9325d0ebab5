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

namespace kestrel {

namespace {

// Every signature below but ISO 9660's lies in the first 2 KiB: the ext
// superblock, at 1024, reaches furthest.
constexpr std::int64_t kHeadLength = 2048;

// ISO 9660: the first volume descriptor at sector 16 of 2048 bytes, its
// standard identifier "CD001" after the one-byte type.
constexpr std::int64_t kIsoDescriptorOffset = 16 * 2048;

// Self-extracting programs: libarchive finds a RAR, 7z or LHA archive in the
// first 384 KiB of a program (7-Zip's stubs put it between 0x27000 and
// 0x60000), and a zip from its end record in the last 64 KiB + 22 bytes (the
// record and the longest comment).
constexpr std::int64_t kSfxSearchLength = 0x60000;
constexpr std::int64_t kZipEndSearchLength = 65535 + 22;

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

// LHA: the method "-lh?-" or "-lz?-" at 2, and a header level 0 to 3 at 20.
bool IsLhaHeader(const Head& head) {
    if (!head.Has(2, "-l"sv) || head.Byte(6) != '-' || head.Byte(20) > 3)
        return false;
    const std::uint32_t family = head.Byte(4);
    const std::uint32_t method = head.Byte(5);
    if (family == 'h')
        return (method >= '0' && method <= '7') || method == 'd';
    return family == 'z' && (method == 's' || method == '4' || method == '5');
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
    std::string text(static_cast<std::size_t>(std::max<std::int64_t>(length, 0)), '\0');
    const std::int64_t got =
        source.ReadAt(offset, reinterpret_cast<std::uint8_t*>(text.data()), length);
    text.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
    return text;
}

// Whether a program holds the signature of an archive where libarchive would
// look for one; only then is libarchive asked.
bool MayCarryArchive(ScanSource& source) {
    const std::int64_t length = source.Length();
    const std::int64_t tailStart = std::max<std::int64_t>(length - kZipEndSearchLength, 0);
    if (ReadText(source, tailStart, length - tailStart).find("PK\x05\x06"sv) != std::string::npos)
        return true;
    const std::string head = ReadText(source, 0, std::min(length, kSfxSearchLength));
    if (head.find("Rar!\x1A\x07"sv) != std::string::npos ||
        head.find("7z\xBC\xAF\x27\x1C"sv) != std::string::npos)
        return true;
    for (std::size_t at = head.find("-lh"sv); at != std::string::npos;
         at = head.find("-lh"sv, at + 1)) {
        if (at + 4 < head.size() && head[at + 4] == '-')
            return true;
    }
    return false;
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
    if (head.Has(0, "MZ"sv))
        return MayCarryArchive(source) ? ContainerKind::kExecutable : ContainerKind::kNone;
    // A hybrid CD image starts with a partition table: it is read as ISO 9660.
    if (IsIso9660(source))
        return ContainerKind::kArchive;
    if (source.Length() >= kMinDiskImageLength && IsDiskImage(head))
        return ContainerKind::kDiskImage;
    return ContainerKind::kNone;
}

} // namespace kestrel
