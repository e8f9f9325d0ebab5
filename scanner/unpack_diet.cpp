// DIET 1.x: the loader starts the load module (EXE) or the file (COM), and a
// header of its own ("dlz", the packed and unpacked lengths, a CRC-16 of the
// packed data) sits at a fixed place in it, the packed data right after. The
// stream's flag bits choose a literal (1) or a match (0), whose distance and
// length follow in bit fields. An EXE unpacks to the load module followed by
// the program's own MZ header, whose relocation table DIET writes in a
// shorter form; a COM program to its image alone.

#include <algorithm>
#include <array>

#include "packer.h"

namespace kestrel {

namespace {

using namespace std::string_view_literals;

// Each era of DIET moved its loader: where the loader's first copy loop
// (MOV DS,BX; MOV ES,AX; XOR SI,SI; XOR DI,DI; MOV CX,8; REP MOVSW; DEC BX;
// DEC AX; DEC DX) lies in the load module, where its "dlz" header lies, and
// where from the entry point the loader keeps the paragraph of the unpacked
// MZ header.
constexpr std::array<std::uint8_t, 16> kLoaderCopy = {
    0x8E, 0xDB, 0x8E, 0xC0, 0x33, 0xF6, 0x33, 0xFF, 0xB9, 0x08, 0x00, 0xF3, 0xA5, 0x4B, 0x48, 0x4A};
struct DietEra {
    std::uint16_t version; // as Packer::versionWord keeps it
    const char* name;
    std::int64_t loaderCopyAt;
    std::int64_t headerAt; // 0: the era has no "dlz" header
    std::int64_t headerParagraphAt;
};
constexpr std::array<DietEra, 4> kEras = {{
    {0x145, "DIET 1.45f", 45, 76, 26},
    {0x144, "DIET 1.44", 40, 75, 73},
    {0x120, "DIET 1.02b-1.20", 20, 55, 53},
    {0x100, "DIET 1.00", 23, 0, 0},
}};

// The COM loaders of each era: the first byte, a mark of the loader at a
// fixed place (1.44 on: DIET's 9D 89; before: its copy loop's STD; REP
// MOVSW; CLD; MOV SI,DI; MOV DI,0100), and where the "dlz" header lies
// (1.00 has none: named, not unpacked).
struct DietComEra {
    std::uint16_t version;
    const char* name;
    std::uint8_t firstByte;
    std::int64_t markAt;
    std::string_view mark;
    std::int64_t dataAt;
};
constexpr std::array<DietComEra, 3> kComEras = {{
    {0x144, "DIET 1.44-1.45f", 0xF9, 10, "\x9D\x89", 65},
    {0x120, "DIET 1.02b-1.20", 0xBE, 17, "\xFD\xF3\xA5\xFC\x8B\xF7\xBF\x00"sv, 35},
    {0x100, "DIET 1.00", 0xBF, 17, "\xFD\xF3\xA5\xFC\x8B\xF7\xBF\x00"sv, 37},
}};

constexpr std::string_view kHeaderMagic = "dlz";
constexpr std::int64_t kHeaderSize = 11;
// The header's flags, above the packed length's top 4 bits: the packed data
// goes on in a further block; the layout of 1.02b on (the MZ header after
// the load module, its relocation table in the short form).
constexpr std::uint8_t kFurtherBlock = 0x80;
constexpr std::uint8_t kMzAfterModule = 0x20;

// What the stream unpacks to: the load module of at most 1 MiB, then an MZ
// header and its relocation table of at most 65,535 entries of 4 bytes.
constexpr std::int64_t kMzHeaderSize = 28;
constexpr std::int64_t kMaxStream = kMaxUnpackedProgram + kMzHeaderSize + 4 * 0xFFFF + kParagraph;

// ARC's CRC-16 (polynomial 0xA001, least significant bit first, from 0).
std::uint16_t Crc16(const std::vector<std::uint8_t>& bytes) {
    unsigned crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
}

// `count` bits, the first the highest.
int Bits(FlagWordStream& in, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 1 | in.Bit();
    return value;
}

// A match's distance after the byte `low`: the distance's high bits come
// with stop bits between them, the wider the farther (up to 512, 1024, 2048,
// 4096, 8192 bytes back); each counts down from its range's end.
std::int64_t ReadDistance(FlagWordStream& in, int low) {
    int high = in.Bit();
    if (in.Bit() != 0)
        return 0x200 - (high << 8 | low);
    if (in.Bit() != 0)
        return 0x400 - (high << 8 | low);
    for (std::int64_t range = 0x800; range < 0x2000; range <<= 1) {
        high = high << 1 | in.Bit();
        if (in.Bit() != 0)
            return range - (high << 8 | low);
    }
    high = high << 1 | in.Bit();
    return 0x2000 - (high << 8 | low);
}

// A match's length from 3 on: 3 to 6 as that many zero bits less 3 and a
// one, then 7 and 8, 9 to 16 in three bits, 17 to 272 in a byte.
int ReadLength(FlagWordStream& in) {
    for (int length = 3; length <= 6; ++length)
        if (in.Bit() != 0)
            return length;
    if (in.Bit() != 0)
        return 7 + in.Bit();
    if (in.Bit() == 0)
        return 9 + Bits(in, 3);
    return 17 + in.Byte();
}

// Decodes the stream into at most `limit` bytes; the problem, or "" when the
// end mark was reached.
std::string Decode(FlagWordStream& in, bool exe, std::int64_t limit,
                   std::vector<std::uint8_t>& out) {
    while (!in.Failed()) {
        if (in.Bit() != 0) {
            if (std::ssize(out) >= limit)
                return "the unpacked program grows past what its loader can hold";
            out.push_back(static_cast<std::uint8_t>(in.Byte()));
            continue;
        }
        const bool longMatch = in.Bit() != 0;
        const int low = in.Byte();
        std::int64_t distance = 0;
        int length = 2;
        if (longMatch) {
            distance = ReadDistance(in, low);
            length = ReadLength(in);
        } else if (in.Bit() != 0) {
            distance = 0x900 - (Bits(in, 3) << 8 | low);
        } else if (low != 0xFF) {
            distance = 0x100 - low;
        } else if (in.Bit() == 0) {
            return in.Failed() ? "the packed data ends early" : "";
        } else if (exe) {
            // The loader moves on to its next segment here; nothing is unpacked.
            continue;
        } else {
            return "the packed data changes segment, which a COM program cannot";
        }
        if (in.Failed())
            break;
        if (const char* problem = CopyMatch(out, distance, length, limit))
            return problem;
    }
    return "the packed data ends early";
}

// The short form of the relocation table: a word below 8000 is a segment and
// the offset follows; from 8000 on, the word less 8000 moves the offset on in
// the same segment (from C000 on, back, as a 16-bit sum).
void ReadRelocations(const std::vector<std::uint8_t>& bytes, std::int64_t at, std::int64_t count,
                     std::vector<std::uint32_t>& relocations) {
    std::uint32_t segment = 0, offset = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint32_t word = WordAt(bytes, at);
        at += 2;
        if (word >= 0xC000) {
            offset = (offset + word) & 0xFFFF;
        } else if (word >= 0x8000) {
            offset = (offset + word - 0x8000) & 0xFFFF;
        } else {
            segment = word;
            offset = WordAt(bytes, at);
            at += 2;
        }
        relocations.push_back(segment << 16 | offset);
    }
}

// The program from the unpacked bytes: the load module up to `mzAt`, the MZ
// header there (trailing zero bytes may be left out of the stream).
Unpacked BuildProgram(const std::vector<std::uint8_t>& bytes, std::int64_t mzAt,
                      const MzHeader& packed) {
    std::vector<std::uint8_t> header(
        bytes.begin() + mzAt, bytes.begin() + std::min(mzAt + kMzHeaderSize, std::ssize(bytes)));
    header.resize(kMzHeaderSize, 0);
    // DIET keeps flags in the top bits of the last page's length.
    header[3] &= 0x01;
    const std::int64_t lastPageBytes = WordAt(header, 2) % 512;
    const std::int64_t fileLength =
        WordAt(header, 4) * 512 - (lastPageBytes != 0 ? 512 - lastPageBytes : 0);
    const std::int64_t imageLength =
        std::clamp<std::int64_t>(fileLength - WordAt(header, 8) * kParagraph, 0, mzAt);

    LoadedProgram loaded;
    loaded.image.assign(bytes.begin(), bytes.begin() + imageLength);
    loaded.ss = WordAt(header, 14);
    loaded.sp = WordAt(header, 16);
    loaded.ip = WordAt(header, 20);
    loaded.cs = WordAt(header, 22);
    ReadRelocations(bytes, mzAt + WordAt(header, 24), WordAt(header, 6), loaded.relocations);
    return BuildMzProgram(loaded, packed);
}

// The packed data after the "dlz" header at `at`, checked against its CRC,
// and the unpacked length the header gives.
struct PackedData {
    std::vector<std::uint8_t> bytes;
    std::int64_t unpackedLength = 0;
    std::string problem;
};
PackedData ReadPackedData(ScanSource& program, std::int64_t at, bool exe) {
    const auto dlz = ReadExactly(program, at, kHeaderSize);
    if (!dlz)
        return {{}, 0, "the packed program is cut short"};
    if (!std::equal(kHeaderMagic.begin(), kHeaderMagic.end(), dlz->begin()))
        return {{}, 0, "the loader's header is damaged"};
    const std::uint8_t flags = (*dlz)[3] & 0xF0;
    if ((flags & kFurtherBlock) != 0 || (exe && (flags & kMzAfterModule) == 0))
        return {{}, 0, "a layout of the packed data that is not unpacked"};
    const std::int64_t packedLength = ((*dlz)[3] & 0x0F) << 16 | WordAt(*dlz, 4);
    auto packed = ReadExactly(program, at + kHeaderSize, packedLength);
    if (!packed)
        return {{}, 0, "the packed program is cut short"};
    if (Crc16(*packed) != WordAt(*dlz, 6))
        return {{}, 0, "the packed data fails its CRC check"};
    return {std::move(*packed), ((*dlz)[8] & 0xFC) << 14 | WordAt(*dlz, 9), ""};
}

const DietEra* EraOf(const Packer& packer) {
    for (const DietEra& era : kEras)
        if (era.version == packer.versionWord)
            return &era;
    return nullptr;
}

} // namespace

std::optional<Packer> RecogniseDiet(const std::vector<std::uint8_t>& moduleStart) {
    for (const DietEra& era : kEras)
        if (std::ssize(moduleStart) >= era.loaderCopyAt + std::ssize(kLoaderCopy) &&
            std::equal(kLoaderCopy.begin(), kLoaderCopy.end(),
                       moduleStart.begin() + era.loaderCopyAt))
            return Packer{PackerKind::kDiet, era.name, 0, era.version};
    return std::nullopt;
}

bool CanUnpackDiet(const Packer& packer) {
    return packer.versionWord != 0x100;
}

Unpacked UnpackDiet(ScanSource& program, const MzHeader& header, const Packer& packer) {
    const DietEra* era = EraOf(packer);
    if (era == nullptr || era->headerAt == 0)
        return {{}, "not unpacked"};
    const std::int64_t entry = header.imageStart + header.cs * kParagraph + header.ip;
    const auto paragraph = ReadExactly(program, entry + era->headerParagraphAt, 2);
    if (!paragraph)
        return {{}, "the packed program is cut short"};
    const PackedData packed = ReadPackedData(program, header.imageStart + era->headerAt, true);
    if (!packed.problem.empty())
        return {{}, packed.problem};

    FlagWordStream in(packed.bytes);
    std::vector<std::uint8_t> bytes;
    if (std::string problem = Decode(in, true, kMaxStream, bytes); !problem.empty())
        return {{}, problem};
    // The load module ends at the paragraph the loader keeps, moved on by
    // the part of a paragraph the unpacked length has over.
    const std::int64_t mzAt =
        WordAt(*paragraph, 0) * kParagraph + packed.unpackedLength % kParagraph;
    if (mzAt + 2 > std::ssize(bytes) || bytes[mzAt] != 'M' || bytes[mzAt + 1] != 'Z')
        return {{}, "the unpacked program has no MZ header where its loader puts it"};
    return BuildProgram(bytes, mzAt, header);
}

std::optional<Packer> RecogniseDietCom(const std::vector<std::uint8_t>& start) {
    for (const DietComEra& era : kComEras) {
        if (start.empty() || start[0] != era.firstByte ||
            std::ssize(start) < era.markAt + std::ssize(era.mark) ||
            !std::equal(era.mark.begin(), era.mark.end(), start.begin() + era.markAt,
                        [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }))
            continue;
        if (era.version != 0x100 &&
            (std::ssize(start) < era.dataAt + std::ssize(kHeaderMagic) ||
             !std::equal(kHeaderMagic.begin(), kHeaderMagic.end(), start.begin() + era.dataAt)))
            continue;
        return Packer{PackerKind::kDiet, era.name, 0, era.version, era.dataAt};
    }
    return std::nullopt;
}

Unpacked UnpackDietCom(ScanSource& program, const Packer& packer) {
    const PackedData packed = ReadPackedData(program, packer.comDataAt, false);
    if (!packed.problem.empty())
        return {{}, packed.problem};
    FlagWordStream in(packed.bytes);
    Unpacked result;
    result.problem = Decode(in, false, kMaxComProgram, result.program);
    if (!result.problem.empty())
        result.program.clear();
    return result;
}

} // namespace kestrel
