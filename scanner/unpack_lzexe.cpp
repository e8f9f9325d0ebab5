// LZEXE 0.90 and 0.91: the load module is one LZ77 stream with 16-bit flag
// words, followed by the loader, whose data (at CS:0000) keeps the program's
// registers and whose relocation table follows the loader's code.

#include <algorithm>

#include "packer.h"

namespace kestrel {

namespace {

// The loader's data: the program's IP, CS, SP and SS, the paragraphs of
// packed data, how many paragraphs the loader moves it up by, and the
// loader's length in bytes (data, code and relocation table).
constexpr std::int64_t kLoaderDataSize = 14;
// Where each loader's relocation table begins, after its code.
constexpr std::int64_t kLzexe090Relocations = 0x19D;
constexpr std::int64_t kLzexe091Relocations = 0x158;

// Decodes the stream into at most `limit` bytes; the problem, or "" when the
// end mark was reached.
std::string Decode(const std::vector<std::uint8_t>& packed, std::int64_t limit,
                   std::vector<std::uint8_t>& out) {
    FlagWordStream in(packed);
    while (!in.Failed()) {
        if (in.Bit() == 1) {
            if (std::ssize(out) >= limit)
                return "the unpacked program grows past what its loader can hold";
            out.push_back(static_cast<std::uint8_t>(in.Byte()));
            continue;
        }
        std::int64_t length = 0;
        std::int64_t distance = 0;
        if (in.Bit() == 0) {
            // A short match: 2 bits of length, a byte of distance (1 to 256).
            const int high = in.Bit();
            length = (high << 1 | in.Bit()) + 2;
            distance = 256 - in.Byte();
        } else {
            // A long match: 13 bits of distance (1 to 8192), 3 bits of
            // length, or a length byte when those are 0 (0 ends the stream, 1
            // marks where the loader moved on a segment).
            const int low = in.Byte();
            const int high = in.Byte();
            distance = 8192 - ((high & 0xF8) << 5 | low);
            length = high & 7;
            if (length == 0) {
                const int count = in.Byte();
                if (in.Failed())
                    break;
                if (count == 0)
                    return "";
                if (count == 1)
                    continue;
                length = count + 1;
            } else {
                length += 2;
            }
        }
        if (in.Failed())
            break;
        if (const char* problem = CopyMatch(out, distance, length, limit))
            return problem;
    }
    return "the packed data ends early";
}

// LZEXE 0.91: steps from one relocated word to the next, a byte each, or
// 0 and a word for a longer step; a step of 0 moves on by 0FFF paragraphs
// and a step of 1 ends the table.
bool ReadRelocations091(const std::vector<std::uint8_t>& table, std::vector<std::uint32_t>& out) {
    std::int64_t address = 0;
    std::int64_t at = 0;
    while (at < std::ssize(table)) {
        std::int64_t step = table[static_cast<std::size_t>(at++)];
        if (step == 0) {
            if (at + 2 > std::ssize(table))
                return false;
            step = WordAt(table, at);
            at += 2;
            if (step == 0) {
                address += 0x0FFF * kParagraph;
                continue;
            }
            if (step == 1)
                return true;
        }
        address += step;
        if (address >= kMaxUnpackedProgram)
            return false;
        out.push_back(static_cast<std::uint32_t>(address >> 4 << 16 | (address & 0xF)));
    }
    return false;
}

} // namespace

Unpacked UnpackLzexe(ScanSource& program, const MzHeader& header, const Packer& packer) {
    const std::int64_t loaderStart = header.imageStart + header.cs * kParagraph;
    const auto data = ReadExactly(program, loaderStart, kLoaderDataSize);
    const auto packed = ReadExactly(program, header.imageStart, header.cs * kParagraph);
    if (!data || !packed)
        return {{}, "the packed program is cut short"};
    const std::int64_t loaderLength = WordAt(*data, 12);
    const std::int64_t tableStart =
        packer.stubShift +
        (packer.kind == PackerKind::kLzexe090 ? kLzexe090Relocations : kLzexe091Relocations);
    const auto table = ReadExactly(program, loaderStart + tableStart,
                                   std::max<std::int64_t>(loaderLength - tableStart, 0));
    if (!table)
        return {{}, "the loader's relocation table is cut short"};

    // The loader moves the packed data up by its increase and unpacks it
    // below: the program can grow no further than both together.
    const std::int64_t limit =
        std::min(kMaxUnpackedProgram, (header.cs + std::int64_t{WordAt(*data, 10)}) * kParagraph);
    LoadedProgram loaded;
    if (std::string problem = Decode(*packed, limit, loaded.image); !problem.empty())
        return {{}, problem};
    const bool tableRead = packer.kind == PackerKind::kLzexe090
                               ? ReadSegmentRelocations(*table, loaded.relocations)
                               : ReadRelocations091(*table, loaded.relocations);
    if (!tableRead)
        return {{}, "the loader's relocation table is damaged"};
    loaded.ip = WordAt(*data, 0);
    loaded.cs = WordAt(*data, 2);
    loaded.sp = WordAt(*data, 4);
    loaded.ss = WordAt(*data, 6);
    return BuildMzProgram(loaded, header);
}

} // namespace kestrel
