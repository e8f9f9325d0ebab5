#pragma once

// Executable compressors of DOS programs: which one packed a program, told by
// its loader stub, and the program as it runs, unpacked in memory.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan_source.h"

namespace kestrel {

// DOS counts segments and loader lengths in paragraphs of 16 bytes.
inline constexpr std::int64_t kParagraph = 16;

// A DOS program holds at most 1 MiB (the 8086 addresses no more), so no
// unpacked image is ever allowed to grow past it, whatever a stub's fields say.
inline constexpr std::int64_t kMaxUnpackedProgram = std::int64_t{1} << 20;

// A COM program is loaded 256 bytes into its one segment of 64 KiB and needs
// room for a stack above it: DOS loads no COM image longer than 65,280 bytes.
inline constexpr std::int64_t kMaxComProgram = 0xFF00;

enum class PackerKind {
    kLzexe090,
    kLzexe091,
    kExepack,
    kPklite,
    kUpxDos, // COM and EXE
    kDiet,   // DIET 1.00 named only
    // Named, not unpacked: DJGPP's stub loads a 32-bit program that follows
    // it; PE files keep their version resource readable.
    kDjgpp,
    kWwpack,
    kUpx,
    kAspack,
    kPecompact,
    kPetite,
};

struct Packer {
    PackerKind kind;
    std::string name; // "LZEXE 0.91", "EXEPACK", "PKLITE 1.15"
    // Where the loader's code begins after its data: LZEXE 0.91e moved its
    // code one byte along.
    std::int64_t stubShift = 0;
    // The version word a packer keeps in the header (PKLITE: the version in
    // its low 12 bits, its flags above).
    std::uint16_t versionWord = 0;
    // Where a COM program's packer keeps its data (PKLITE: the packed
    // stream; DIET: its "dlz" header); 0 for an MZ program. A COM program
    // unpacks to a COM image.
    std::int64_t comDataAt = 0;
};

// The packer of a DOS MZ program, from the header's fields and the loader's
// bytes at the entry point, or of a COM program (a file without "MZ", at most
// kMaxComProgram bytes), from the loader at its start; nullopt for a program
// no packer we know made.
std::optional<Packer> RecognisePacker(ScanSource& program);

// PKLITE's flags in its version word: literals XORed with the flag bits left
// ("extra" compression), and the large model's length codes.
inline constexpr std::uint16_t kPkliteExtra = 0x1000;
inline constexpr std::uint16_t kPkliteLarge = 0x2000;

// Whether UnpackProgram can unpack what this packer made.
bool CanUnpack(const Packer& packer);

// The unpacked program, a complete MZ file, or why it could not be made
// ("the packed data ends early").
struct Unpacked {
    std::vector<std::uint8_t> program;
    std::string problem;
};
Unpacked UnpackProgram(ScanSource& program, const Packer& packer);

// --- shared by the unpackers (packer.cpp) ---

// The fields of an MZ header that the unpackers use, and where the load
// module lies in the file.
struct MzHeader {
    std::uint16_t minAlloc = 0;
    std::uint16_t maxAlloc = 0;
    std::uint16_t ip = 0;
    std::uint16_t cs = 0;
    std::int64_t imageStart = 0;  // the load module's first byte in the file
    std::int64_t imageLength = 0; // its length, as the header gives it
};
std::optional<MzHeader> ReadMzHeader(ScanSource& program);

// A little-endian 16-bit word of `bytes` at `at`; 0 outside it.
std::uint16_t WordAt(const std::vector<std::uint8_t>& bytes, std::int64_t at);

// Where `text` first occurs in `bytes` from `from` on; bytes.end() when
// nowhere.
std::vector<std::uint8_t>::const_iterator FindText(const std::vector<std::uint8_t>& bytes,
                                                   std::vector<std::uint8_t>::const_iterator from,
                                                   std::string_view text);

// `count` bytes of the program at `offset`, or nullopt when the file holds
// fewer.
std::optional<std::vector<std::uint8_t>> ReadExactly(ScanSource& program, std::int64_t offset,
                                                     std::int64_t count);

// What a loader leaves when it jumps to the program: the image, where the
// program starts and where its stack is, and the words it relocated
// (segment:offset, as an MZ relocation table holds them).
struct LoadedProgram {
    std::vector<std::uint8_t> image;
    std::uint16_t ip = 0, cs = 0, sp = 0, ss = 0;
    std::vector<std::uint32_t> relocations; // segment << 16 | offset
};

// The relocation table of EXEPACK and LZEXE 0.90: for each of the 16
// segments of 64 KiB, a count and that many offsets into it. False when the
// table ends early.
bool ReadSegmentRelocations(const std::vector<std::uint8_t>& table,
                            std::vector<std::uint32_t>& relocations);

// The MZ file a linker would have written for `loaded`; the memory the
// program asks for beyond its image stays what the packed program had in all.
Unpacked BuildMzProgram(const LoadedProgram& loaded, const MzHeader& packed);

// Appends the `length` bytes that lie `distance` bytes back in `out`, one
// at a time as the loaders of LZEXE, PKLITE and DIET copy them (a match may
// overlap what it writes); null when done, else why not: a match reaching
// before the start, or past `limit` bytes.
const char* CopyMatch(std::vector<std::uint8_t>& out, std::int64_t distance, std::int64_t length,
                      std::int64_t limit);

// The packed stream of LZEXE and PKLITE: bytes, with a 16-bit flag word read
// whenever the last one's bits are used up (read at once, before any byte
// that follows, as their loaders do); its bits are taken from the lowest.
class FlagWordStream {
public:
    explicit FlagWordStream(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) { Refill(); }

    bool Failed() const { return m_failed; }
    // The bits left in the flag word after the last one taken: 16 when a new
    // word was just read.
    int BitsLeft() const { return m_flagsLeft; }
    // The next byte's place in the stream.
    std::int64_t Position() const { return m_position; }

    int Bit() {
        if (m_flagsLeft == 0) {
            m_failed = true;
            return 0;
        }
        const int bit = m_flags & 1;
        m_flags >>= 1;
        if (--m_flagsLeft == 0)
            Refill();
        return bit;
    }

    int Byte() {
        if (m_position >= std::ssize(m_bytes)) {
            m_failed = true;
            return 0;
        }
        return m_bytes[static_cast<std::size_t>(m_position++)];
    }

private:
    // A refill past the end fails only when its bits are asked for: the
    // stream's last flag word may be used up exactly at its end.
    void Refill() {
        if (m_position + 2 > std::ssize(m_bytes))
            return;
        m_flags = static_cast<unsigned>(m_bytes[static_cast<std::size_t>(m_position)] |
                                        m_bytes[static_cast<std::size_t>(m_position + 1)] << 8);
        m_position += 2;
        m_flagsLeft = 16;
    }

    const std::vector<std::uint8_t>& m_bytes;
    std::int64_t m_position = 0;
    unsigned m_flags = 0;
    int m_flagsLeft = 0;
    bool m_failed = false;
};

// Whether the MZ program is the stub of a PE file, and the PE packer that
// made it (packer_pe.cpp).
bool IsPeProgram(ScanSource& program);
std::optional<Packer> RecognisePePacker(ScanSource& program);

// The unpackers, one file each.
Unpacked UnpackLzexe(ScanSource& program, const MzHeader& header, const Packer& packer);
Unpacked UnpackExepack(ScanSource& program, const MzHeader& header);
Unpacked UnpackPklite(ScanSource& program, const MzHeader& header, const Packer& packer);
Unpacked UnpackUpx(ScanSource& program);
Unpacked UnpackDiet(ScanSource& program, const MzHeader& header, const Packer& packer);

// DIET's loader, told by the load module's first bytes, and whether its era
// is one unpacked (unpack_diet.cpp).
std::optional<Packer> RecogniseDiet(const std::vector<std::uint8_t>& moduleStart);
bool CanUnpackDiet(const Packer& packer);

// PKLITE's and DIET's COM loaders, told by the program's first bytes, and
// the COM image they unpack.
std::optional<Packer> RecognisePkliteCom(const std::vector<std::uint8_t>& start);
std::optional<Packer> RecogniseDietCom(const std::vector<std::uint8_t>& start);
Unpacked UnpackPkliteCom(ScanSource& program, const Packer& packer);
Unpacked UnpackDietCom(ScanSource& program, const Packer& packer);

} // namespace kestrel
