// Recognising a DOS program's packer by its loader stub, and the MZ file an
// unpacker rebuilds.

#include "packer.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kestrel {

namespace {

constexpr std::int64_t kMzHeaderSize = 28;
constexpr std::int64_t kPageSize = 512;
// The loader bytes read at the entry point: enough for every stub mark below.
constexpr std::int64_t kStubWindow = 512;

// The first instructions of every LZEXE loader: save ES, address the loader's
// own segment, fetch the loader's length from its data (CS:000C), and set up
// the copy of itself to the top of memory (the increase in CS:000A).
constexpr std::array<std::uint8_t, 20> kLzexeLoaderStart = {
    0x06, 0x0E, 0x1F, 0x8B, 0x0E, 0x0C, 0x00, 0x8B, 0xF1, 0x4E,
    0x89, 0xF7, 0x8C, 0xDB, 0x03, 0x1E, 0x0A, 0x00, 0x8E, 0xC3};
// Fabrice Bellard's marks inside the loaders, at fixed places after the entry.
constexpr std::int64_t kLzexe091MarkAt = 233;
constexpr std::string_view kLzexe091Mark = "*FAB*";
constexpr std::int64_t kLzexe090MarkAt = 269;
constexpr std::string_view kLzexe090Mark = "*Fabrice BELLARD*";

// EXEPACK's loader data ends with "RB" just before the code, which starts at
// CS:0010 (or CS:0012 when the data holds the skip length); the loader's
// message for a damaged program closes its code, before the relocations.
constexpr std::uint16_t kExepackSignature = 0x4252;
constexpr std::string_view kExepackMessage = "Packed file is corrupt";

// PKLITE's loader starts the load module (its entry is FFF0:0100, the
// module's first byte): it sizes the memory it needs and compares it with the
// top of memory in the PSP (CS:0002). Versions 1.50 to 2.01 first save AX.
// PKLITE writes its version (minor, then major in the low nibble, its flags
// above) into the MZ header behind the relocation table offset.
constexpr std::int64_t kPkliteVersionAt = 28;
// The loader's first instructions; kAny stands for an operand and for the
// jump after the comparison (JAE from 1.12 to 1.13, JB from 1.14 on).
constexpr int kAny = -1;
constexpr std::array<int, 15> kPkliteOldLoaderStart = {
    0xB8, kAny, kAny, 0xBA, kAny, kAny, 0x8C, 0xDB, 0x03, 0xD8, 0x3B, 0x1E, 0x02, 0x00, 0x73};
constexpr std::array<int, 14> kPkliteLoaderStart = {0xB8, kAny, kAny, 0xBA, kAny, kAny, 0x05,
                                                    0x00, 0x00, 0x3B, 0x06, 0x02, 0x00, kAny};
constexpr std::uint8_t kPushAx = 0x50;

// UPX keeps its header in the loader: "UPX!", the version of its layout
// and the format, 1 for a DOS COM, 3 for a DOS EXE.
constexpr std::string_view kUpxMagic = "UPX!";
constexpr std::uint8_t kUpxDosCom = 1;
constexpr std::uint8_t kUpxDosSys = 2;
constexpr std::uint8_t kUpxDosExe = 3;
constexpr std::uint8_t kUpxNewestLayout = 14;
// UPX's COM loader first checks that the stack lies above what it unpacks
// (CMP SP, imm16; JA over; INT 20h), and keeps its header within its first
// 128 bytes.
constexpr std::array<int, 8> kUpxComLoaderStart = {0x81, 0xFC, kAny, kAny, 0x77, 0x02, 0xCD, 0x20};
constexpr std::int64_t kUpxComHeaderWindow = 128;
// A device driver (SYS) keeps its header, which starts with the link to the
// next driver, FFFF:FFFF in the file; UPX's loader and header follow it.
constexpr std::array<int, 4> kDeviceHeaderStart = {0xFF, 0xFF, 0xFF, 0xFF};

// WWPACK marks the MZ header where LZEXE and PKLITE put theirs, in the
// bytes a relocation table would take; its loader itself is not described.
constexpr std::string_view kWwpackMark = "WWP";

// DJGPP's stub is a small DOS program whose load module ends where the
// 32-bit program it loads begins: a COFF file for the i386.
constexpr std::uint16_t kCoffI386 = 0x014C;

bool HasAt(const std::vector<std::uint8_t>& bytes, std::int64_t at, std::string_view text) {
    if (at < 0 || at + std::ssize(text) > std::ssize(bytes))
        return false;
    return std::equal(text.begin(), text.end(), bytes.begin() + at,
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

std::vector<std::uint8_t> ReadUpTo(ScanSource& program, std::int64_t offset, std::int64_t count) {
    // An empty read is not asked of the source: its buffer would be null.
    if (count <= 0)
        return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    const std::int64_t got = offset >= 0 ? program.ReadAt(offset, bytes.data(), count) : -1;
    bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
    return bytes;
}

std::optional<Packer> RecogniseLzexe(const std::vector<std::uint8_t>& entry,
                                     const std::vector<std::uint8_t>& header) {
    for (const std::int64_t shift : {0, 1}) {
        if (std::ssize(entry) < shift + std::ssize(kLzexeLoaderStart) ||
            !std::equal(kLzexeLoaderStart.begin(), kLzexeLoaderStart.end(), entry.begin() + shift))
            continue;
        // The loader's own mark tells the version; the "LZ09" or "LZ91" in the
        // header is often changed (self-extractors write their own there).
        if (HasAt(entry, shift + kLzexe091MarkAt, kLzexe091Mark))
            return Packer{PackerKind::kLzexe091, "LZEXE 0.91", shift};
        if (HasAt(entry, shift + kLzexe090MarkAt, kLzexe090Mark))
            return Packer{PackerKind::kLzexe090, "LZEXE 0.90", shift};
        if (HasAt(header, kMzHeaderSize, "LZ09"))
            return Packer{PackerKind::kLzexe090, "LZEXE 0.90", shift};
        return Packer{PackerKind::kLzexe091,
                      HasAt(header, kMzHeaderSize, "LZ91") ? "LZEXE 0.91" : "LZEXE", shift};
    }
    return std::nullopt;
}

bool IsExepack(ScanSource& program, const MzHeader& mz) {
    if (mz.ip != 0x10 && mz.ip != 0x12)
        return false;
    const std::int64_t stub = mz.imageStart + mz.cs * kParagraph;
    const std::vector<std::uint8_t> data = ReadUpTo(program, stub, kStubWindow);
    const std::int64_t exepackSize = WordAt(data, 6);
    if (WordAt(data, mz.ip - 2) != kExepackSignature || exepackSize <= mz.ip)
        return false;
    const std::vector<std::uint8_t> code = ReadUpTo(program, stub + mz.ip, exepackSize - mz.ip);
    return FindText(code, code.begin(), kExepackMessage) != code.end();
}

template <std::size_t N>
bool StartsWith(const std::vector<std::uint8_t>& bytes, std::int64_t at,
                const std::array<int, N>& pattern) {
    if (std::ssize(bytes) < at + std::ssize(pattern))
        return false;
    return std::equal(pattern.begin(), pattern.end(), bytes.begin() + at,
                      [](int p, std::uint8_t b) { return p == kAny || p == b; });
}

std::optional<Packer> RecognisePklite(const std::vector<std::uint8_t>& stub,
                                      const std::vector<std::uint8_t>& header) {
    std::int64_t shift = 0;
    if (!stub.empty() && stub[0] == kPushAx)
        shift = 1;
    if (!StartsWith(stub, shift, kPkliteLoaderStart) &&
        !(shift == 0 && StartsWith(stub, 0, kPkliteOldLoaderStart)))
        return std::nullopt;
    const std::uint16_t versionWord = WordAt(header, kPkliteVersionAt);
    const int minor = versionWord & 0xFF;
    const int major = versionWord >> 8 & 0x0F;
    std::string name = "PKLITE " + std::to_string(major) + ".";
    if (minor < 10)
        name += "0";
    return Packer{PackerKind::kPklite, name + std::to_string(minor), shift, versionWord};
}

// The mark counts only where no relocation is: the table is empty or lies
// further on.
bool HasWwpackMark(const std::vector<std::uint8_t>& header) {
    return HasAt(header, kMzHeaderSize, kWwpackMark) &&
           (WordAt(header, 6) == 0 || WordAt(header, 24) >= kMzHeaderSize + 4);
}

bool HasUpxHeader(const std::vector<std::uint8_t>& loader, std::uint8_t format) {
    for (auto at = FindText(loader, loader.begin(), kUpxMagic); at != loader.end();
         at = FindText(loader, at + 1, kUpxMagic)) {
        const std::int64_t next = at - loader.begin() + std::ssize(kUpxMagic);
        if (next + 2 <= std::ssize(loader) && loader[next] != 0 &&
            loader[next] <= kUpxNewestLayout && loader[next + 1] == format)
            return true;
    }
    return false;
}

// The packer of a COM program or a device driver, from the loader at its
// start.
std::optional<Packer> RecogniseComPacker(ScanSource& program) {
    if (program.Length() > kMaxComProgram)
        return std::nullopt;
    const std::vector<std::uint8_t> start = ReadUpTo(program, 0, kStubWindow);
    const std::vector<std::uint8_t> upxWindow(
        start.begin(), start.begin() + std::min(std::ssize(start), kUpxComHeaderWindow));
    if ((StartsWith(start, 0, kUpxComLoaderStart) && HasUpxHeader(upxWindow, kUpxDosCom)) ||
        (StartsWith(start, 0, kDeviceHeaderStart) && HasUpxHeader(upxWindow, kUpxDosSys)))
        return Packer{PackerKind::kUpxDos, "UPX"};
    if (std::optional<Packer> pklite = RecognisePkliteCom(start))
        return pklite;
    return RecogniseDietCom(start);
}

} // namespace

std::uint16_t WordAt(const std::vector<std::uint8_t>& bytes, std::int64_t at) {
    if (at < 0 || at + 2 > std::ssize(bytes))
        return 0;
    const auto i = static_cast<std::size_t>(at);
    return static_cast<std::uint16_t>(bytes[i] | bytes[i + 1] << 8);
}

std::vector<std::uint8_t>::const_iterator FindText(const std::vector<std::uint8_t>& bytes,
                                                   std::vector<std::uint8_t>::const_iterator from,
                                                   std::string_view text) {
    return std::search(from, bytes.end(), text.begin(), text.end(),
                       [](std::uint8_t b, char c) { return b == static_cast<std::uint8_t>(c); });
}

std::optional<std::vector<std::uint8_t>> ReadExactly(ScanSource& program, std::int64_t offset,
                                                     std::int64_t count) {
    if (offset < 0 || count < 0 || count > kMaxUnpackedProgram || offset + count > program.Length())
        return std::nullopt;
    std::vector<std::uint8_t> bytes = ReadUpTo(program, offset, count);
    if (std::ssize(bytes) != count)
        return std::nullopt;
    return bytes;
}

const char* CopyMatch(std::vector<std::uint8_t>& out, std::int64_t distance, std::int64_t length,
                      std::int64_t limit) {
    if (distance < 1 || distance > std::ssize(out))
        return "a match reaches before the start of the program";
    if (length > limit - std::ssize(out))
        return "the unpacked program grows past what its loader can hold";
    for (std::int64_t i = 0; i < length; ++i)
        out.push_back(out[out.size() - static_cast<std::size_t>(distance)]);
    return nullptr;
}

std::optional<MzHeader> ReadMzHeader(ScanSource& program) {
    const std::vector<std::uint8_t> bytes = ReadUpTo(program, 0, kMzHeaderSize);
    if (std::ssize(bytes) < kMzHeaderSize || !HasAt(bytes, 0, "MZ"))
        return std::nullopt;
    const std::int64_t lastPageBytes = WordAt(bytes, 2) % kPageSize;
    const std::int64_t pages = WordAt(bytes, 4);
    MzHeader header;
    header.imageStart = WordAt(bytes, 8) * kParagraph;
    header.minAlloc = WordAt(bytes, 10);
    header.maxAlloc = WordAt(bytes, 12);
    header.ip = WordAt(bytes, 20);
    header.cs = WordAt(bytes, 22);
    const std::int64_t fileLength =
        pages * kPageSize - (lastPageBytes != 0 ? kPageSize - lastPageBytes : 0);
    header.imageLength = fileLength - header.imageStart;
    if (header.imageLength <= 0)
        return std::nullopt;
    return header;
}

std::optional<Packer> RecognisePacker(ScanSource& program) {
    const std::optional<MzHeader> mz = ReadMzHeader(program);
    if (!mz)
        return HasAt(ReadUpTo(program, 0, 2), 0, "MZ") ? std::nullopt : RecogniseComPacker(program);
    if (IsPeProgram(program))
        return RecognisePePacker(program);
    const std::vector<std::uint8_t> header = ReadUpTo(program, 0, kMzHeaderSize + 4);
    const std::vector<std::uint8_t> entry =
        ReadUpTo(program, mz->imageStart + mz->cs * kParagraph + mz->ip, kStubWindow);
    if (std::optional<Packer> lzexe = RecogniseLzexe(entry, header))
        return lzexe;
    if (IsExepack(program, *mz))
        return Packer{PackerKind::kExepack, "EXEPACK"};
    const std::vector<std::uint8_t> moduleStart = ReadUpTo(program, mz->imageStart, kStubWindow);
    if (std::optional<Packer> diet = RecogniseDiet(moduleStart))
        return diet;
    if (std::optional<Packer> pklite = RecognisePklite(moduleStart, header))
        return pklite;
    if (HasUpxHeader(entry, kUpxDosExe) || HasUpxHeader(moduleStart, kUpxDosExe))
        return Packer{PackerKind::kUpxDos, "UPX"};
    if (HasWwpackMark(header))
        return Packer{PackerKind::kWwpack, "WWPACK"};
    if (WordAt(ReadUpTo(program, mz->imageStart + mz->imageLength, 2), 0) == kCoffI386)
        return Packer{PackerKind::kDjgpp, "DJGPP"};
    return std::nullopt;
}

bool CanUnpack(const Packer& packer) {
    switch (packer.kind) {
    case PackerKind::kLzexe090:
    case PackerKind::kLzexe091:
    case PackerKind::kExepack:
    case PackerKind::kUpxDos:
    case PackerKind::kPklite:
        return true;
    case PackerKind::kDiet:
        return CanUnpackDiet(packer);
    default:
        return false;
    }
}

Unpacked UnpackProgram(ScanSource& program, const Packer& packer) {
    // UPX's COM programs have no MZ header.
    if (packer.kind == PackerKind::kUpxDos)
        return UnpackUpx(program);
    if (packer.comDataAt != 0 && packer.kind == PackerKind::kPklite)
        return UnpackPkliteCom(program, packer);
    if (packer.comDataAt != 0 && packer.kind == PackerKind::kDiet)
        return CanUnpackDiet(packer) ? UnpackDietCom(program, packer)
                                     : Unpacked{{}, "not unpacked"};
    const std::optional<MzHeader> header = ReadMzHeader(program);
    if (!header || !CanUnpack(packer))
        return {{}, "not unpacked"};
    switch (packer.kind) {
    case PackerKind::kLzexe090:
    case PackerKind::kLzexe091:
        return UnpackLzexe(program, *header, packer);
    case PackerKind::kExepack:
        return UnpackExepack(program, *header);
    case PackerKind::kPklite:
        return UnpackPklite(program, *header, packer);
    case PackerKind::kDiet:
        return UnpackDiet(program, *header, packer);
    default:
        return {{}, "not unpacked"};
    }
}

bool ReadSegmentRelocations(const std::vector<std::uint8_t>& table,
                            std::vector<std::uint32_t>& relocations) {
    std::int64_t at = 0;
    for (std::uint32_t segment = 0; segment < 0x10000; segment += 0x1000) {
        if (at + 2 > std::ssize(table))
            return false;
        const std::int64_t count = WordAt(table, at);
        at += 2;
        if (at + 2 * count > std::ssize(table))
            return false;
        for (std::int64_t i = 0; i < count; ++i, at += 2)
            relocations.push_back(segment << 16 | WordAt(table, at));
    }
    return true;
}

Unpacked BuildMzProgram(const LoadedProgram& loaded, const MzHeader& packed) {
    const std::int64_t imageLength = std::ssize(loaded.image);
    if (loaded.cs * kParagraph + loaded.ip >= imageLength)
        return {{}, "the entry point lies outside the unpacked program"};
    if (loaded.relocations.size() > 0xFFFF)
        return {{}, "more relocations than an MZ header holds"};
    for (const std::uint32_t relocation : loaded.relocations) {
        const std::int64_t at = (relocation >> 16) * kParagraph + (relocation & 0xFFFF);
        if (at + 2 > imageLength)
            return {{}, "a relocation lies outside the unpacked program"};
    }
    const std::int64_t headerLength =
        (kMzHeaderSize + 4 * std::ssize(loaded.relocations) + kParagraph - 1) / kParagraph *
        kParagraph;
    const std::int64_t total = headerLength + imageLength;
    // The packed program asked for its image and minAlloc paragraphs in all;
    // the unpacked one asks for as much.
    const std::int64_t packedParagraphs =
        (packed.imageLength + kParagraph - 1) / kParagraph + packed.minAlloc;
    const std::int64_t minAlloc = std::clamp<std::int64_t>(
        packedParagraphs - (imageLength + kParagraph - 1) / kParagraph, 0, 0xFFFF);

    Unpacked result;
    std::vector<std::uint8_t>& out = result.program;
    out.assign(static_cast<std::size_t>(headerLength), 0);
    const auto put = [&out](std::size_t at, std::int64_t value) {
        out[at] = static_cast<std::uint8_t>(value);
        out[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    out[0] = 'M';
    out[1] = 'Z';
    put(2, total % kPageSize);
    put(4, (total + kPageSize - 1) / kPageSize);
    put(6, std::ssize(loaded.relocations));
    put(8, headerLength / kParagraph);
    put(10, minAlloc);
    put(12, std::max<std::int64_t>(packed.maxAlloc, minAlloc));
    put(14, loaded.ss);
    put(16, loaded.sp);
    put(20, loaded.ip);
    put(22, loaded.cs);
    put(24, kMzHeaderSize);
    std::size_t at = kMzHeaderSize;
    for (const std::uint32_t relocation : loaded.relocations) {
        put(at, relocation & 0xFFFF);
        put(at + 2, relocation >> 16);
        at += 4;
    }
    out.insert(out.end(), loaded.image.begin(), loaded.image.end());
    return result;
}

} // namespace kestrel
