#pragma once

// The decoders of SEA's ARC and its PAK extension: run-length coding with
// 0x90, squeezing (Huffman coding over a tree stored in front of the data),
// the first crunching of ARC 1 to 4 (LZW of fixed 12-bit codes placed by a
// hash) and crunching and squashing (LZW as Unix compress writes it, 12 and
// 13 bits), and PAK's crushing (LZW of up to 8192 strings whose least used
// string makes way once the table is full) and distilling (LZ77 over 8 KiB
// coded by a tree stored in front of the data). Each reads only the member's compressed bytes and
// hands each byte it decodes to an output, which can stop it: nothing here is sized by a number
// from the archive.

#include <array>
#include <cstdint>
#include <string>

#include "scan_source.h"

namespace kestrel {

// The compressed bytes of one member, read forward in blocks.
class ArcInput {
public:
    ArcInput(ScanSource& source, std::int64_t start, std::int64_t length)
        : m_source(source), m_position(start), m_end(start + length) {}
    // The next byte, or -1 at the end of the member's bytes or when they
    // cannot be read (Failed()).
    int Next() {
        if (m_at == m_count && !Refill())
            return -1;
        return m_block[m_at++];
    }
    bool Failed() const { return m_failed; }

private:
    bool Refill();

    ScanSource& m_source;
    std::int64_t m_position;
    std::int64_t m_end;
    std::array<std::uint8_t, 16384> m_block{};
    std::size_t m_at = 0;
    std::size_t m_count = 0;
    bool m_failed = false;
};

// Where decoded bytes go: false when no more are wanted.
class ArcOutput {
public:
    virtual ~ArcOutput() = default;
    virtual bool Put(std::uint8_t byte) = 0;
};

// Undoes ARC's run-length coding on the way to `next`: 0x90 then a count n
// repeats the byte before n - 1 more times; 0x90 then 0 is 0x90 itself.
class RunLengthOutput : public ArcOutput {
public:
    explicit RunLengthOutput(ArcOutput& next) : m_next(next) {}
    bool Put(std::uint8_t byte) override;

private:
    ArcOutput& m_next;
    std::uint8_t m_last = 0;
    bool m_repeat = false;
};

// ARC's CRC-16 (which LHA uses too) of `count` more bytes: polynomial
// 0xA001 (0x8005 reflected), from 0.
std::uint32_t Crc16(std::uint32_t crc, const std::uint8_t* bytes, std::int64_t count);

// Each decoder returns "" when the data ended or the output stopped it, or
// what is wrong with the data.
std::string CopyStored(ArcInput& input, ArcOutput& output);
std::string Unsqueeze(ArcInput& input, ArcOutput& output);
// LZW with codes of 9 up to `maxBits` bits, 256 the clear code.
std::string Uncrunch(ArcInput& input, ArcOutput& output, int maxBits);

// Which hash placed the strings of the first crunching: the middle bits of
// a square (methods 5 and 6) or ARC 4's faster product (method 7).
enum class CrunchHash { kMidSquare, kFast };
// Fixed 12-bit codes, each the slot of a table of 4096 where a hash of its
// string's prefix code and last byte put it; no clear code.
std::string UncrunchFirst(ArcInput& input, ArcOutput& output, CrunchHash hash);
// Codes of 1 to 13 bits, low bits first, behind a bit telling a byte from a
// string while strings are rare; 256 ends the data.
std::string Uncrush(ArcInput& input, ArcOutput& output);
// A tree of bytes, the end code and match lengths, then its codes; a match's
// distance is a fixed prefix code and as many more bits as the output
// reached so far needs.
std::string Undistill(ArcInput& input, ArcOutput& output);

} // namespace kestrel
