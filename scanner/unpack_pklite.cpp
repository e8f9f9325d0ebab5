// PKLITE (EXE): the loader starts the load module; its packed data follows,
// an LZ77 stream whose flag bits choose a literal (0) or a match (1), the
// match's length and the high byte of its distance coded with fixed prefix
// codes. The small and the large model differ only in the code of lengths.
// After the stream come the relocation table and the program's SS, SP, CS
// and IP.

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "packer.h"

namespace kestrel {

namespace {

// The byte of the loader that gives where the packed data starts, in
// paragraphs from 0100 paragraphs before the load module (the loader runs at
// FFF0:0100).
constexpr std::int64_t kDataParagraphAt = 0x4E;
constexpr std::int64_t kLoaderOrigin = 0x100;
// The footer after the relocation table: SS, SP, CS, IP.
constexpr std::int64_t kFooterSize = 8;
// Versions from 1.12 on with extra compression keep their relocations in
// the long form.
constexpr std::uint16_t kLongRelocationsFrom = 0x10C;

// A prefix code's words, first bit first, and what each stands for.
struct CodeWord {
    std::string_view bits;
    int value;
};

// The match lengths; kSpecial is followed by a byte: FF (the end of the
// stream), FE in the large model (no match here) or a length less the
// model's base (10 small, 25 large).
constexpr int kSpecial = -1;
constexpr int kSmallSpecialBase = 10;
constexpr int kLargeSpecialBase = 25;
constexpr std::uint8_t kSkip = 0xFE;
constexpr std::array<CodeWord, 9> kSmallLengths = {{
    {"00", 3},
    {"010", 2},
    {"011", kSpecial},
    {"100", 4},
    {"101", 5},
    {"1100", 6},
    {"1101", 7},
    {"1110", 8},
    {"1111", 9},
}};
constexpr std::uint8_t kEnd = 0xFF;
constexpr std::array<CodeWord, 24> kLargeLengths = {{
    {"10", 2},         {"11", 3},         {"000", 4},        {"0010", 5},
    {"0011", 6},       {"0100", 7},       {"01010", 8},      {"01011", 9},
    {"01100", 10},     {"011010", 11},    {"011011", 12},    {"011100", kSpecial},
    {"0111010", 13},   {"0111011", 14},   {"0111100", 15},   {"01111010", 16},
    {"01111011", 17},  {"01111100", 18},  {"011111010", 19}, {"011111011", 20},
    {"011111100", 21}, {"011111101", 22}, {"011111110", 23}, {"011111111", 24},
}};

// The high byte of a match's distance (not coded for a match of 2 bytes,
// whose distance is one byte).
constexpr std::array<CodeWord, 32> kDistanceHigh = {{
    {"1", 0},        {"0000", 1},     {"0001", 2},     {"00100", 3},    {"00101", 4},
    {"00110", 5},    {"00111", 6},    {"010000", 7},   {"010001", 8},   {"010010", 9},
    {"010011", 10},  {"010100", 11},  {"010101", 12},  {"010110", 13},  {"0101110", 14},
    {"0101111", 15}, {"0110000", 16}, {"0110001", 17}, {"0110010", 18}, {"0110011", 19},
    {"0110100", 20}, {"0110101", 21}, {"0110110", 22}, {"0110111", 23}, {"0111000", 24},
    {"0111001", 25}, {"0111010", 26}, {"0111011", 27}, {"0111100", 28}, {"0111101", 29},
    {"0111110", 30}, {"0111111", 31},
}};

template <std::size_t N>
std::optional<int> ReadCode(FlagWordStream& in, const std::array<CodeWord, N>& code) {
    std::string read;
    while (!in.Failed() && read.size() < 9) {
        read += in.Bit() != 0 ? '1' : '0';
        for (const CodeWord& word : code)
            if (word.bits == read)
                return word.value;
    }
    return std::nullopt;
}

// The match's length, 0 for no match here, kEndOfStream, or nullopt when the
// stream ends early.
constexpr int kEndOfStream = -2;
std::optional<int> ReadLength(FlagWordStream& in, bool large) {
    const std::optional<int> length =
        large ? ReadCode(in, kLargeLengths) : ReadCode(in, kSmallLengths);
    if (length != kSpecial)
        return length;
    const int next = in.Byte();
    if (in.Failed())
        return std::nullopt;
    if (next == kEnd)
        return kEndOfStream;
    if (next == kSkip && large)
        return 0;
    return next + (large ? kLargeSpecialBase : kSmallSpecialBase);
}

// Decodes the stream into at most `limit` bytes; the problem, or "" when the
// end mark was reached.
std::string Decode(FlagWordStream& in, bool extra, bool large, std::int64_t limit,
                   std::vector<std::uint8_t>& out) {
    while (!in.Failed()) {
        if (in.Bit() == 0) {
            // "Extra" compression XORs a literal with the flag bits left.
            const int key = extra ? in.BitsLeft() : 0;
            if (std::ssize(out) >= limit)
                return "the unpacked program grows past what its loader can hold";
            out.push_back(static_cast<std::uint8_t>(in.Byte() ^ key));
            continue;
        }
        const std::optional<int> length = ReadLength(in, large);
        if (!length)
            break;
        if (*length == kEndOfStream)
            return "";
        if (*length == 0)
            continue;
        const std::optional<int> high = *length == 2 ? 0 : ReadCode(in, kDistanceHigh);
        const int low = in.Byte();
        if (!high || in.Failed())
            break;
        const std::int64_t distance = *high << 8 | low;
        if (const char* problem = CopyMatch(out, distance, *length, limit))
            return problem;
    }
    return "the packed data ends early";
}

int ReadWord(FlagWordStream& in) {
    const int low = in.Byte();
    return low | in.Byte() << 8;
}

// The short form: a count byte (0 ends the table), a segment and that many
// offsets into it. The long form: a count word (FFFF ends the table) and that
// many offsets into a segment that moves on by 0FFF paragraphs each time.
void ReadRelocations(FlagWordStream& in, bool longForm, std::vector<std::uint32_t>& out) {
    for (std::uint32_t segment = 0; !in.Failed(); segment += 0x0FFF) {
        const int count = longForm ? ReadWord(in) : in.Byte();
        if (count == (longForm ? 0xFFFF : 0))
            return;
        if (!longForm)
            segment = static_cast<std::uint32_t>(ReadWord(in));
        for (int i = 0; i < count && !in.Failed(); ++i)
            out.push_back((segment & 0xFFFF) << 16 | static_cast<std::uint32_t>(ReadWord(in)));
    }
}

// The COM loader's forms: its first instructions (kAnyByte for an
// operand), where it keeps its version word, followed by PKLITE's name, and
// where the packed data starts. COM programs are packed in the small model,
// without extra compression, and need no relocations.
constexpr int kAnyByte = -1;
struct ComLoader {
    std::array<int, 10> start;
    std::int64_t versionAt;
    std::int64_t dataAt;
};
constexpr std::array<ComLoader, 4> kComLoaders = {{
    {{0xB8, kAnyByte, kAnyByte, 0xBA, kAnyByte, kAnyByte, 0x3B, 0xC4, kAnyByte, 0x67}, 44, 448},
    {{0xB8, kAnyByte, kAnyByte, 0xBA, kAnyByte, kAnyByte, 0x3B, 0xC4, kAnyByte, 0x69}, 46, 450},
    {{0x50, 0xB8, kAnyByte, kAnyByte, 0xBA, kAnyByte, kAnyByte, 0x3B, kAnyByte, kAnyByte}, 46, 464},
    {{0xBA, kAnyByte, kAnyByte, 0xA1, kAnyByte, kAnyByte, 0x2D, 0x20, kAnyByte, kAnyByte}, 36, 500},
}};

bool HasPkliteName(const std::vector<std::uint8_t>& bytes, std::int64_t at) {
    static constexpr std::string_view kName = "PKLI";
    if (at + std::ssize(kName) > std::ssize(bytes))
        return false;
    for (std::size_t i = 0; i < kName.size(); ++i)
        if (std::toupper(bytes[static_cast<std::size_t>(at) + i]) != kName[i])
            return false;
    return true;
}

} // namespace

std::optional<Packer> RecognisePkliteCom(const std::vector<std::uint8_t>& start) {
    for (const ComLoader& loader : kComLoaders) {
        if (std::ssize(start) < std::ssize(loader.start) ||
            !std::equal(loader.start.begin(), loader.start.end(), start.begin(),
                        [](int p, std::uint8_t b) { return p == kAnyByte || p == b; }) ||
            !HasPkliteName(start, loader.versionAt + 2))
            continue;
        const std::uint16_t version = WordAt(start, loader.versionAt) & 0x0FFF;
        const int minor = version & 0xFF;
        return Packer{PackerKind::kPklite,
                      "PKLITE " + std::to_string(version >> 8) + (minor < 10 ? ".0" : ".") +
                          std::to_string(minor),
                      0, version, loader.dataAt};
    }
    return std::nullopt;
}

Unpacked UnpackPkliteCom(ScanSource& program, const Packer& packer) {
    const auto packed = ReadExactly(program, packer.comDataAt, program.Length() - packer.comDataAt);
    if (!packed)
        return {{}, "the packed program is cut short"};
    FlagWordStream in(*packed);
    Unpacked result;
    result.problem = Decode(in, false, false, kMaxComProgram, result.program);
    if (!result.problem.empty())
        result.program.clear();
    return result;
}

Unpacked UnpackPklite(ScanSource& program, const MzHeader& header, const Packer& packer) {
    const auto loader = ReadExactly(program, header.imageStart, kDataParagraphAt + 2);
    if (!loader)
        return {{}, "the packed program is cut short"};
    const std::int64_t dataStart =
        (*loader)[static_cast<std::size_t>(kDataParagraphAt + packer.stubShift)] * kParagraph -
        kLoaderOrigin;
    if (dataStart <= kDataParagraphAt || dataStart >= header.imageLength)
        return {{}, "the loader's packed data lies outside the program"};
    const auto packed =
        ReadExactly(program, header.imageStart + dataStart, header.imageLength - dataStart);
    if (!packed)
        return {{}, "the packed program is cut short"};

    FlagWordStream in(*packed);
    LoadedProgram loaded;
    const bool extra = (packer.versionWord & kPkliteExtra) != 0;
    const bool large = (packer.versionWord & kPkliteLarge) != 0;
    if (std::string problem = Decode(in, extra, large, kMaxUnpackedProgram, loaded.image);
        !problem.empty())
        return {{}, problem};
    const bool longForm = extra && (packer.versionWord & 0x0FFF) >= kLongRelocationsFrom;
    ReadRelocations(in, longForm, loaded.relocations);
    if (in.Failed() || in.Position() + kFooterSize > std::ssize(*packed))
        return {{}, "the loader's relocation table is cut short"};
    loaded.ss = static_cast<std::uint16_t>(ReadWord(in));
    loaded.sp = static_cast<std::uint16_t>(ReadWord(in));
    loaded.cs = static_cast<std::uint16_t>(ReadWord(in));
    loaded.ip = static_cast<std::uint16_t>(ReadWord(in));
    return BuildMzProgram(loaded, header);
}

} // namespace kestrel
