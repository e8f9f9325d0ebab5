// ARC archives (SEA's ARC, and PAK, which extends it): a chain of members,
// each a header and its compressed bytes, up to an end marker. A header:
//   0x1A, the method (0: the end), the name (13 bytes, NUL-terminated), the
//   compressed size (4 bytes), the DOS date and time (2 + 2), the CRC-16 of
//   the member (2), and but for method 1 the original length (4).
// Each member is decoded whole into a MemberStore (memory, then a temporary
// file under the budget), every byte charged as it comes, and never past the
// length its header gives.

#include <array>
#include <string_view>

#include "arc_decoders.h"
#include "container_readers.h"
#include "fat_entries.h"
#include "member_store.h"

namespace kestrel {

namespace {

constexpr std::uint8_t kArcMark = 0x1A;
constexpr std::int64_t kHeaderLength = 29;
constexpr std::int64_t kOldHeaderLength = 25; // method 1 has no original length
constexpr std::size_t kNameLength = 13;

// Decoded bytes go to the store a block at a time.
constexpr std::size_t kOutputBlockSize = 64 * 1024;

std::uint32_t Le16(const std::uint8_t* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t Le32(const std::uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

struct ArcHeader {
    int method = 0;
    std::string name;
    std::int64_t size = 0;   // compressed
    std::int64_t length = 0; // original
    std::int64_t modified = 0;
    std::uint32_t crc = 0;
    std::int64_t headerLength = kHeaderLength;
};

ArcHeader ParseHeader(const std::uint8_t* p) {
    ArcHeader header;
    header.method = p[1];
    const auto* name = reinterpret_cast<const char*>(p + 2);
    header.name.assign(name, std::string_view(name, kNameLength).find('\0') == std::string::npos
                                 ? kNameLength
                                 : std::char_traits<char>::length(name));
    header.size = Le32(p + 15);
    header.modified = DosTime(Le16(p + 19), Le16(p + 21));
    header.crc = Le16(p + 23);
    if (header.method == 1) {
        header.headerLength = kOldHeaderLength;
        header.length = header.size;
    } else {
        header.length = Le32(p + 25);
    }
    return header;
}

// The decoded bytes of one member: charged, checked against the length its
// header gives, summed into the CRC and kept.
class MemberOutput : public ArcOutput {
public:
    MemberOutput(MemberVisitor& visitor, std::int64_t length)
        : m_visitor(visitor), m_length(length), m_store(&visitor.TemporaryFiles()) {
        m_block.reserve(kOutputBlockSize);
    }

    bool Put(std::uint8_t byte) override {
        if (m_block.size() == kOutputBlockSize && !Flush())
            return false;
        m_block.push_back(byte);
        return true;
    }

    // Keeps what is still held; false when it cannot be kept or no more is wanted.
    bool Flush() {
        if (m_ended)
            return false;
        auto count = std::ssize(m_block);
        if (count > m_length - m_store.Size()) {
            m_failure = "longer than its header says (" + std::to_string(m_length) +
                        " bytes); the rest is skipped";
            m_ended = true;
            count = m_length - m_store.Size();
        }
        if (m_visitor.Stopping() || !m_visitor.Charge(count)) {
            m_ended = true;
            return false;
        }
        m_crc = Crc16(m_crc, m_block.data(), count);
        if (!m_store.Append(m_block.data(), count)) {
            m_failure = m_store.Error();
            m_ended = true;
        }
        m_block.clear();
        return !m_ended;
    }

    const MemberStore& Store() const { return m_store; }
    std::uint32_t Crc() const { return m_crc; }
    bool Ended() const { return m_ended; }
    const std::string& Failure() const { return m_failure; }

private:
    MemberVisitor& m_visitor;
    std::int64_t m_length;
    MemberStore m_store;
    std::vector<std::uint8_t> m_block;
    std::uint32_t m_crc = 0;
    bool m_ended = false; // too long, stopped, or the store failed
    std::string m_failure;
};

// Decodes the member's bytes by its method; "" or what went wrong.
std::string Decode(const ArcHeader& header, ArcInput& input, ArcOutput& output) {
    RunLengthOutput runs(output);
    switch (header.method) {
    case 1: // stored, the header of ARC 1
    case 2: // stored
        return CopyStored(input, output);
    case 3: // packed
        return CopyStored(input, runs);
    case 4: // squeezed
        return Unsqueeze(input, runs);
    case 5: // crunched with the first LZW
        return UncrunchFirst(input, output, CrunchHash::kMidSquare);
    case 6: // packed, then crunched with the first LZW
        return UncrunchFirst(input, runs, CrunchHash::kMidSquare);
    case 7: // the same with ARC 4's faster hash
        return UncrunchFirst(input, runs, CrunchHash::kFast);
    case 8: { // crunched: its width of codes first, 12 bits in every ARC
        constexpr int kCrunchBits = 12;
        const int bits = input.Next();
        if (bits != kCrunchBits)
            return input.Failed() ? "the bytes cannot be read"
                                  : "damaged data (codes of " + std::to_string(bits) + " bits)";
        return Uncrunch(input, runs, kCrunchBits);
    }
    case 9: // squashed
        return Uncrunch(input, output, 13);
    case 10: // packed, then crushed
        return Uncrush(input, runs);
    case 11: // distilled
        return Undistill(input, output);
    default:
        return "method " + std::to_string(header.method) + " not read";
    }
}

// Decodes one member and visits it, damaged or not, as far as it goes;
// false when reading must stop.
bool ReadMember(ScanSource& container, std::int64_t dataStart, const ArcHeader& header,
                MemberVisitor& visitor) {
    const std::int64_t available = std::min(header.size, container.Length() - dataStart);
    ArcInput input(container, dataStart, available);
    MemberOutput output(visitor, header.length);
    std::string failure = Decode(header, input, output);
    const bool decoded = header.method <= 11;
    if (!decoded) {
        visitor.Problem(header.name + ": " + failure);
        return true;
    }
    output.Flush();
    // Data cut short makes any decoder fail: the cut is what to say.
    if (visitor.Stopping())
        failure.clear();
    else if (available < header.size)
        failure = "truncated";
    else if (failure.empty())
        failure = output.Failure();
    if (failure.empty() && !output.Ended() && output.Store().Size() < header.length)
        failure = "shorter than its header says";
    if (failure.empty() && !output.Ended() && output.Crc() != header.crc)
        failure = "CRC does not match";
    StoredMember member(output.Store());
    const bool goOn = visitor.Visit(header.name, header.modified, member);
    if (!failure.empty())
        visitor.Problem(header.name + ": " + failure);
    return goOn && !visitor.Stopping();
}

} // namespace

void ReadArc(ScanSource& container, MemberVisitor& visitor) {
    std::int64_t offset = 0;
    while (!visitor.Stopping()) {
        std::array<std::uint8_t, kHeaderLength> bytes{};
        const std::int64_t got = container.ReadAt(offset, bytes.data(), kHeaderLength);
        if (got < 0) {
            visitor.Problem("the bytes cannot be read");
            return;
        }
        if (got == 0) {
            visitor.Problem("truncated archive (no end marker)");
            return;
        }
        if (bytes[0] != kArcMark) {
            visitor.Problem("damaged archive (no header at " + std::to_string(offset) + ")");
            return;
        }
        if (got >= 2 && bytes[1] == 0)
            return;
        const ArcHeader header = ParseHeader(bytes.data());
        if (got < header.headerLength) {
            visitor.Problem("truncated header at " + std::to_string(offset));
            return;
        }
        // ARC 6 and PAK put records of their own (comments, folders) among
        // the members: their layout is not ARC's.
        if (header.method >= 20) {
            visitor.Problem("record of type " + std::to_string(header.method) +
                            " not read; the rest is skipped");
            return;
        }
        const std::int64_t dataStart = offset + header.headerLength;
        if (!ReadMember(container, dataStart, header, visitor))
            return;
        if (header.size > container.Length() - dataStart)
            return;
        offset = dataStart + header.size;
    }
}

} // namespace kestrel
