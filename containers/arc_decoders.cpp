// ARC's decoders, written from SEA's description of the format and of the
// Unix compress program its crunching and squashing follow, ARC 5's sources
// for the first crunching, and the layout The Unarchiver's XADMaster reads
// for PAK's crushing and distilling.

#include "arc_decoders.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrel {

namespace {

const std::string kCannotRead = "the bytes cannot be read";

std::string EndOfInput(const ArcInput& input) {
    return input.Failed() ? kCannotRead : std::string();
}

// Squeezed data: a tree of at most 256 nodes (one per byte value and the end
// code, less one), each two children as signed 16-bit numbers: a node's
// index, or -(value + 1) for a leaf. Value 256 ends the data.
constexpr int kSqueezeEnd = 256;
constexpr int kMaxSqueezeNodes = 257;

int ReadInt16(ArcInput& input) {
    const int low = input.Next();
    const int high = input.Next();
    if (low < 0 || high < 0)
        return -0x10000;
    return static_cast<std::int16_t>(low | high << 8);
}

// Crunched data: Unix compress's codes, written 9 bits wide at first, low
// bits first, in blocks of as many bytes as a code has bits: when the codes
// widen or the table is cleared, the rest of the block is passed over.
constexpr int kClearCode = 256;
constexpr int kFirstFreeCode = 257;
constexpr int kInitialBits = 9;

class CodeReader {
public:
    CodeReader(ArcInput& input, int maxBits) : m_input(input), m_maxBits(maxBits) {}

    // The next code for a table whose next free entry is `freeEntry`; -1
    // at the end.
    int Next(int freeEntry) {
        if (m_clear || m_offset >= m_size || freeEntry > m_maxCode) {
            if (freeEntry > m_maxCode) {
                ++m_bits;
                m_maxCode = m_bits == m_maxBits ? 1 << m_maxBits : (1 << m_bits) - 1;
            }
            if (m_clear) {
                m_bits = kInitialBits;
                m_maxCode = (1 << m_bits) - 1;
                m_clear = false;
            }
            m_block.fill(0);
            int count = 0;
            for (int byte = 0; count < m_bits && (byte = m_input.Next()) >= 0; ++count)
                m_block[static_cast<std::size_t>(count)] = static_cast<std::uint8_t>(byte);
            m_offset = 0;
            m_size = count * 8 - (m_bits - 1);
        }
        if (m_offset >= m_size)
            return -1;
        int code = 0;
        for (int i = 0; i < m_bits; ++i) {
            const int bit = m_offset + i;
            code |= (m_block[static_cast<std::size_t>(bit >> 3)] >> (bit & 7) & 1) << i;
        }
        m_offset += m_bits;
        return code;
    }
    void Clear() { m_clear = true; }

private:
    ArcInput& m_input;
    int m_maxBits;
    int m_bits = kInitialBits;
    int m_maxCode = (1 << kInitialBits) - 1;
    std::array<std::uint8_t, 16> m_block{};
    int m_offset = 0;
    int m_size = 0;
    bool m_clear = false;
};

// The first crunching's string table: 4096 slots, each string at the slot a
// hash of (its prefix's code, its last byte) picks; a slot taken sends it
// 101 past the last slot of those that hashed alike, then on to the first
// free one, and links it behind them. The single bytes come first, with no
// prefix, so even their codes are slots, not the bytes.
class FirstCrunchTable {
public:
    static constexpr int kSize = 4096;
    static constexpr std::uint16_t kNoPrefix = 0xFFFF;
    struct Entry {
        bool used = false;
        std::uint8_t byte = 0;
        std::uint16_t next = 0; // the next slot that hashed alike; 0 for none
        std::uint16_t prefix = kNoPrefix;
    };

    explicit FirstCrunchTable(CrunchHash hash) : m_hash(hash) {
        for (int byte = 0; byte < 256; ++byte)
            Add(kNoPrefix, static_cast<std::uint8_t>(byte));
    }
    const Entry& At(int code) const { return m_slots[static_cast<std::size_t>(code)]; }
    // ARC stops adding when the table holds 4096 strings.
    bool Full() const { return m_count == kSize; }

    // The slot Add(prefix, byte) takes; the table is not full.
    int SlotFor(std::uint16_t prefix, std::uint8_t byte) const {
        const int home = Hash(prefix, byte);
        if (!At(home).used)
            return home;
        int slot = (ChainEnd(home) + 101) % kSize;
        while (At(slot).used)
            slot = (slot + 1) % kSize;
        return slot;
    }
    void Add(std::uint16_t prefix, std::uint8_t byte) {
        const int slot = SlotFor(prefix, byte);
        const int home = Hash(prefix, byte);
        if (slot != home)
            m_slots[static_cast<std::size_t>(ChainEnd(home))].next =
                static_cast<std::uint16_t>(slot);
        m_slots[static_cast<std::size_t>(slot)] = {true, byte, 0, prefix};
        ++m_count;
    }

private:
    // The key is 16 bits; ARC squares it in 32 and keeps bits 6 to 17.
    int Hash(std::uint16_t prefix, std::uint8_t byte) const {
        const std::uint32_t key = (prefix + byte) & 0xFFFFu;
        if (m_hash == CrunchHash::kFast)
            return static_cast<int>(key * 15073u & 0xFFFu);
        const std::uint32_t square = (key | 0x800u) * (key | 0x800u);
        return static_cast<int>(square >> 6 & 0xFFFu);
    }
    // Each link goes to a slot free until then, so a chain ends within the table.
    int ChainEnd(int slot) const {
        for (int steps = 0; At(slot).next != 0 && steps < kSize; ++steps)
            slot = At(slot).next;
        return slot;
    }

    CrunchHash m_hash;
    std::array<Entry, kSize> m_slots{};
    int m_count = 0;
};

// Two 12-bit codes in three bytes, high bits first; a code needs all its bits.
class FirstCrunchCodes {
public:
    explicit FirstCrunchCodes(ArcInput& input) : m_input(input) {}
    int Next() {
        m_second = !m_second;
        if (!m_second) {
            const int low = m_input.Next();
            return low < 0 ? -1 : (m_shared & 0x0F) << 8 | low;
        }
        const int high = m_input.Next();
        m_shared = m_input.Next();
        return high < 0 || m_shared < 0 ? -1 : high << 4 | m_shared >> 4;
    }

private:
    ArcInput& m_input;
    int m_shared = 0;
    bool m_second = false;
};

// Bits read low bit first from each byte.
class LowBitsFirst {
public:
    explicit LowBitsFirst(ArcInput& input) : m_input(input) {}
    // The next `count` bits (at most 16), the first read the lowest; -1 at the end.
    int Next(int count) {
        while (m_count < count) {
            const int byte = m_input.Next();
            if (byte < 0)
                return -1;
            m_bits |= static_cast<std::uint32_t>(byte) << m_count;
            m_count += 8;
        }
        const auto value = static_cast<int>(m_bits & ((1u << count) - 1));
        m_bits >>= count;
        m_count -= count;
        return value;
    }

private:
    ArcInput& m_input;
    std::uint32_t m_bits = 0;
    int m_count = 0;
};

// PAK's crushing. Every code read, but the first, defines a string: the one
// before and the first byte of this one. The table holds 8192 strings (the
// 256 bytes, 256 the end code, then the strings); once full, the string
// whose use count runs out first, counting down around the table from where
// the last search stopped, is redefined instead. A string read and those it
// extends count 4 uses, a new one 2.
class CrushTable {
public:
    static constexpr int kSize = 8192;
    static constexpr int kEnd = 256;
    static constexpr int kFirstString = 257;

    CrushTable() {
        for (int i = 0; i < 256; ++i)
            m_nodes[static_cast<std::size_t>(i)] = {-1, static_cast<std::uint8_t>(i)};
    }
    int Count() const { return m_count; }
    bool Full() const { return m_count == kSize; }

    // Takes in `code`; what is wrong with it, or "".
    std::string Define(int code) {
        if (code > m_count || (code == m_count && (Full() || m_previous < 0)))
            return m_previous < 0
                       ? "damaged data (a first code of " + std::to_string(code) + ")"
                       : "damaged data (code " + std::to_string(code) + " not yet defined)";
        if (code < m_count)
            MarkUsed(code);
        const int previous = m_previous;
        m_previous = code;
        if (previous < 0)
            return {};
        // The code being defined right now begins as the one before.
        const int defined = Full() ? LeastUsed() : m_count++;
        CrushNode& node = m_nodes[static_cast<std::size_t>(defined)];
        // The prefix first, then the first byte of the code read, which may
        // be this very string or run through the one redefined.
        node.parent = previous;
        const int first = FirstByte(code);
        if (first < 0)
            return "damaged data (a string that loops)";
        node.byte = static_cast<std::uint8_t>(first);
        m_uses[static_cast<std::size_t>(defined)] = 2;
        return {};
    }

    // The last code's string, last byte first; false when it loops (a
    // redefinition can make a string its own prefix).
    bool LastString(std::vector<std::uint8_t>& reversed) const {
        reversed.clear();
        for (int code = m_previous; code >= 0; code = Node(code).parent) {
            if (std::ssize(reversed) == kSize)
                return false;
            reversed.push_back(Node(code).byte);
        }
        return true;
    }

private:
    struct CrushNode {
        int parent = -1;
        std::uint8_t byte = 0;
    };
    const CrushNode& Node(int code) const { return m_nodes[static_cast<std::size_t>(code)]; }

    void MarkUsed(int code) {
        for (int steps = 0; code >= 0 && steps < kSize; ++steps, code = Node(code).parent)
            m_uses[static_cast<std::size_t>(code)] = 4;
    }
    int FirstByte(int code) const {
        for (int steps = 0; steps < kSize; ++steps, code = Node(code).parent) {
            if (Node(code).parent < 0)
                return Node(code).byte;
        }
        return -1;
    }
    // Counts each string down from the one after the last search's stop;
    // stops at the first whose count reaches 0, or once around.
    int LeastUsed() {
        int least = m_searchedTo;
        int leastUses = 256;
        int index = m_searchedTo;
        do {
            index = index + 1 == kSize ? kFirstString : index + 1;
            std::uint8_t& uses = m_uses[static_cast<std::size_t>(index)];
            if (uses < leastUses) {
                least = index;
                leastUses = uses;
            }
            if (--uses == 0)
                break;
        } while (index != m_searchedTo);
        m_searchedTo = index;
        return least;
    }

    std::array<CrushNode, kSize> m_nodes{};
    std::array<std::uint8_t, kSize> m_uses{};
    int m_count = kFirstString;
    int m_previous = -1;
    int m_searchedTo = kFirstString;
};

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

} // namespace

std::uint32_t Crc16(std::uint32_t crc, const std::uint8_t* bytes, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i)
        crc = (crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF];
    return crc;
}

bool ArcInput::Refill() {
    if (m_failed || m_position >= m_end)
        return false;
    const std::int64_t want = std::min<std::int64_t>(std::ssize(m_block), m_end - m_position);
    const std::int64_t got = m_source.ReadAt(m_position, m_block.data(), want);
    if (got <= 0) {
        m_failed = got < 0;
        m_end = m_position;
        return false;
    }
    m_position += got;
    m_at = 0;
    m_count = static_cast<std::size_t>(got);
    return true;
}

bool RunLengthOutput::Put(std::uint8_t byte) {
    constexpr std::uint8_t kRepeat = 0x90;
    if (m_repeat) {
        m_repeat = false;
        if (byte == 0)
            return m_next.Put(kRepeat);
        for (int i = 1; i < byte; ++i) {
            if (!m_next.Put(m_last))
                return false;
        }
        return true;
    }
    if (byte == kRepeat) {
        m_repeat = true;
        return true;
    }
    m_last = byte;
    return m_next.Put(byte);
}

std::string CopyStored(ArcInput& input, ArcOutput& output) {
    for (int byte = input.Next(); byte >= 0; byte = input.Next()) {
        if (!output.Put(static_cast<std::uint8_t>(byte)))
            return {};
    }
    return EndOfInput(input);
}

std::string Unsqueeze(ArcInput& input, ArcOutput& output) {
    const int nodeCount = ReadInt16(input);
    if (nodeCount < 0 || nodeCount >= kMaxSqueezeNodes)
        return input.Failed() ? kCannotRead
                              : "damaged data (a tree of " + std::to_string(nodeCount) + " nodes)";
    std::vector<std::array<int, 2>> nodes(static_cast<std::size_t>(nodeCount));
    for (auto& node : nodes) {
        for (int& child : node) {
            child = ReadInt16(input);
            if (child >= nodeCount || child < -(kSqueezeEnd + 1))
                return input.Failed() ? kCannotRead : "damaged data (a node out of the tree)";
        }
    }
    // No nodes: the data ends at once.
    if (nodeCount == 0)
        return {};
    int node = 0;
    for (int byte = input.Next(); byte >= 0; byte = input.Next()) {
        for (int bit = 0; bit < 8; ++bit) {
            const int child = nodes[static_cast<std::size_t>(node)][byte >> bit & 1];
            if (child >= 0) {
                node = child;
                continue;
            }
            const int value = -(child + 1);
            if (value == kSqueezeEnd)
                return {};
            if (!output.Put(static_cast<std::uint8_t>(value)))
                return {};
            node = 0;
        }
    }
    return EndOfInput(input);
}

std::string Uncrunch(ArcInput& input, ArcOutput& output, int maxBits) {
    const int tableSize = 1 << maxBits;
    std::vector<std::uint16_t> prefix(static_cast<std::size_t>(tableSize));
    std::vector<std::uint8_t> suffix(static_cast<std::size_t>(tableSize));
    for (int i = 0; i < 256; ++i)
        suffix[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> string;
    CodeReader codes(input, maxBits);
    int freeEntry = kFirstFreeCode;
    int code = codes.Next(freeEntry);
    if (code < 0)
        return EndOfInput(input);
    if (code >= 256)
        return "damaged data (a first code of " + std::to_string(code) + ")";
    int oldCode = code;
    auto lastByte = static_cast<std::uint8_t>(code);
    if (!output.Put(lastByte))
        return {};
    while ((code = codes.Next(freeEntry)) >= 0) {
        if (code == kClearCode) {
            codes.Clear();
            freeEntry = kFirstFreeCode - 1;
            if ((code = codes.Next(freeEntry)) < 0)
                break;
        }
        const int inCode = code;
        string.clear();
        // The code being defined right now: the string before, and its first byte again.
        if (code >= freeEntry) {
            if (code > freeEntry)
                return "damaged data (code " + std::to_string(code) + " not yet defined)";
            string.push_back(lastByte);
            code = oldCode;
        }
        // A table damaged past a clear can chain back on itself: no string
        // is longer than the table.
        while (code >= 256) {
            if (std::ssize(string) >= tableSize)
                return "damaged data (a string that loops)";
            string.push_back(suffix[static_cast<std::size_t>(code)]);
            code = prefix[static_cast<std::size_t>(code)];
        }
        lastByte = static_cast<std::uint8_t>(code);
        string.push_back(lastByte);
        for (auto byte = string.rbegin(); byte != string.rend(); ++byte) {
            if (!output.Put(*byte))
                return {};
        }
        if (freeEntry < tableSize) {
            prefix[static_cast<std::size_t>(freeEntry)] = static_cast<std::uint16_t>(oldCode);
            suffix[static_cast<std::size_t>(freeEntry)] = lastByte;
            ++freeEntry;
        }
        oldCode = inCode;
    }
    return EndOfInput(input);
}

std::string UncrunchFirst(ArcInput& input, ArcOutput& output, CrunchHash hash) {
    const auto table = std::make_unique<FirstCrunchTable>(hash);
    FirstCrunchCodes codes(input);
    int code = codes.Next();
    if (code < 0)
        return EndOfInput(input);
    if (!table->At(code).used || table->At(code).prefix != FirstCrunchTable::kNoPrefix)
        return "damaged data (a first code of " + std::to_string(code) + ")";
    int oldCode = code;
    std::uint8_t first = table->At(code).byte;
    if (!output.Put(first))
        return {};
    // A string is decoded last byte first onto this stack; a string longer
    // than the table can hold means a damaged one.
    std::array<std::uint8_t, FirstCrunchTable::kSize> stack{};
    while ((code = codes.Next()) >= 0) {
        std::size_t depth = 0;
        int walk = code;
        // A code not in the table yet can only be the one this step adds:
        // the string before and its first byte again.
        if (!table->At(code).used) {
            if (table->Full() || code != table->SlotFor(static_cast<std::uint16_t>(oldCode), first))
                return "damaged data (code " + std::to_string(code) + " not yet defined)";
            stack[depth++] = first;
            walk = oldCode;
        }
        while (table->At(walk).prefix != FirstCrunchTable::kNoPrefix) {
            if (depth == stack.size() - 1)
                return "damaged data (a string that loops)";
            stack[depth++] = table->At(walk).byte;
            walk = table->At(walk).prefix;
        }
        first = table->At(walk).byte;
        stack[depth++] = first;
        while (depth > 0) {
            if (!output.Put(stack[--depth]))
                return {};
        }
        if (!table->Full())
            table->Add(static_cast<std::uint16_t>(oldCode), first);
        oldCode = code;
    }
    return EndOfInput(input);
}

std::string Uncrush(ArcInput& input, ArcOutput& output) {
    // How many of the last 500 codes were strings: with 375 or more, bytes
    // and strings share one width of code, the bytes' bits inverted.
    constexpr int kWindow = 500;
    constexpr int kManyStrings = 375;
    const auto table = std::make_unique<CrushTable>();
    std::array<bool, kWindow> wasString{};
    int strings = 0;
    int windowAt = 0;
    bool flagged = true;
    int bits = 1;
    int widenAt = 2; // strings defined past which codes widen
    LowBitsFirst codes(input);
    std::vector<std::uint8_t> string;
    for (;;) {
        int code = 0;
        if (flagged) {
            const int flag = codes.Next(1);
            code = flag < 0 ? -1 : flag == 1 ? codes.Next(bits) : codes.Next(8);
            if (flag == 1 && code >= 0)
                code += CrushTable::kEnd;
        } else if ((code = codes.Next(bits)) >= 0 && code < CrushTable::kEnd) {
            code ^= 0xFF;
        }
        if (code < 0)
            return EndOfInput(input);
        if (code == CrushTable::kEnd)
            return {};
        const bool isString = code > CrushTable::kEnd;
        strings += (isString ? 1 : 0) - (wasString[static_cast<std::size_t>(windowAt)] ? 1 : 0);
        wasString[static_cast<std::size_t>(windowAt)] = isString;
        windowAt = (windowAt + 1) % kWindow;
        if ((strings < kManyStrings) != flagged) {
            flagged = !flagged;
            widenAt = (1 << bits) - (flagged ? 0 : 256);
        }
        if (std::string damage = table->Define(code); !damage.empty())
            return damage;
        if (!table->LastString(string))
            return "damaged data (a string that loops)";
        for (auto byte = string.rbegin(); byte != string.rend(); ++byte) {
            if (!output.Put(*byte))
                return {};
        }
        if (table->Count() - CrushTable::kFirstString >= widenAt) {
            ++bits;
            widenAt = (1 << bits) - (flagged ? 0 : 256);
        }
    }
}

namespace {

// Distilling's distance codes, as PKPAK has them: for each high part of a
// distance (0 to 63), its code's bits in the order read, from the low end,
// and how many there are.
struct DistanceCode {
    std::uint8_t bits;
    std::uint8_t length;
};
constexpr std::array<DistanceCode, 64> kDistanceCodes = {{
    {0x00, 3}, {0x02, 4}, {0x04, 4}, {0x0C, 4}, {0x01, 5}, {0x06, 5}, {0x0A, 5}, {0x0E, 5},
    {0x11, 5}, {0x16, 5}, {0x1A, 5}, {0x1E, 5}, {0x05, 6}, {0x09, 6}, {0x0D, 6}, {0x15, 6},
    {0x19, 6}, {0x1D, 6}, {0x25, 6}, {0x29, 6}, {0x2D, 6}, {0x35, 6}, {0x39, 6}, {0x3D, 6},
    {0x03, 7}, {0x07, 7}, {0x0B, 7}, {0x13, 7}, {0x17, 7}, {0x1B, 7}, {0x23, 7}, {0x27, 7},
    {0x2B, 7}, {0x33, 7}, {0x37, 7}, {0x3B, 7}, {0x43, 7}, {0x47, 7}, {0x4B, 7}, {0x53, 7},
    {0x57, 7}, {0x5B, 7}, {0x63, 7}, {0x67, 7}, {0x6B, 7}, {0x73, 7}, {0x77, 7}, {0x7B, 7},
    {0x0F, 8}, {0x1F, 8}, {0x2F, 8}, {0x3F, 8}, {0x4F, 8}, {0x5F, 8}, {0x6F, 8}, {0x7F, 8},
    {0x8F, 8}, {0x9F, 8}, {0xAF, 8}, {0xBF, 8}, {0xCF, 8}, {0xDF, 8}, {0xEF, 8}, {0xFF, 8},
}};

// The high part of the next distance, or -1 at the end of the data; the
// codes are complete, so 8 bits always name one.
int NextDistanceCode(LowBitsFirst& bits) {
    int read = 0;
    for (int length = 1; length <= 8; ++length) {
        const int bit = bits.Next(1);
        if (bit < 0)
            return -1;
        read |= bit << (length - 1);
        for (std::size_t high = 0; high < kDistanceCodes.size(); ++high) {
            if (kDistanceCodes[high].length == length && kDistanceCodes[high].bits == read)
                return static_cast<int>(high);
        }
    }
    return -1;
}

} // namespace

std::string Undistill(ArcInput& input, ArcOutput& output) {
    constexpr int kMaxNodes = 0x274;
    constexpr int kEndCode = 256;
    constexpr std::int64_t kWindowSize = 8192;
    const int low = input.Next();
    const int high = input.Next();
    const int nodeBits = input.Next();
    if (nodeBits < 0)
        return EndOfInput(input);
    const int nodeCount = low | high << 8;
    if (nodeCount < 2 || nodeCount > kMaxNodes || nodeBits > 16)
        return "damaged data (a tree of " + std::to_string(nodeCount) + " nodes of " +
               std::to_string(nodeBits) + " bits)";
    LowBitsFirst bits(input);
    // Pairs of children: a node below nodeCount is a pair's first child,
    // one from nodeCount on a leaf. The root is the last pair.
    std::vector<int> nodes(static_cast<std::size_t>(nodeCount));
    for (int& node : nodes) {
        if ((node = bits.Next(nodeBits)) < 0)
            return EndOfInput(input);
    }
    std::vector<std::uint8_t> window(static_cast<std::size_t>(kWindowSize));
    std::int64_t position = 0;
    const auto put = [&](std::uint8_t byte) {
        window[static_cast<std::size_t>(position++ % kWindowSize)] = byte;
        return output.Put(byte);
    };
    for (;;) {
        int node = nodeCount - 2;
        for (;;) {
            const int bit = bits.Next(1);
            if (bit < 0)
                return EndOfInput(input);
            node = nodes[static_cast<std::size_t>(node + bit)];
            if (node >= nodeCount)
                break;
            if (node + 1 >= nodeCount)
                return "damaged data (a node out of the tree)";
        }
        const int symbol = node - nodeCount;
        if (symbol == kEndCode)
            return {};
        if (symbol < kEndCode) {
            if (!put(static_cast<std::uint8_t>(symbol)))
                return {};
            continue;
        }
        const int length = symbol - kEndCode + 2;
        const int distanceCode = NextDistanceCode(bits);
        // The distance's low bits: as many as reach back to the start, with
        // 60 to spare, up to 7.
        int extra = 0;
        while (extra < 7 && position >= (std::int64_t{0x40} << extra) - 0x3C)
            ++extra;
        const int extraBits = distanceCode < 0 ? -1 : bits.Next(extra);
        if (extraBits < 0)
            return EndOfInput(input);
        const std::int64_t distance = (std::int64_t{distanceCode} << extra) + extraBits + 1;
        if (distance > position)
            return "damaged data (a match reaches before the start)";
        for (int i = 0; i < length; ++i) {
            if (!put(window[static_cast<std::size_t>((position - distance) % kWindowSize)]))
                return {};
        }
    }
}

} // namespace kestrel
