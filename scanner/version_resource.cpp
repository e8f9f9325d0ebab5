// Version resources (VS_VERSIONINFO): the string pairs of their string tables.
//
// Every entry of the block, the root included, is laid out as
//   wLength (16 bits)        the whole entry with its children, in bytes
//   wValueLength (16 bits)   0 for an entry that only has children
//   wType (16 bits)          32-bit files only: 0 raw bytes, 1 text
//   szKey                    the key, ended by a zero character
//   padding                  to a multiple of 4 from the block start
//   Value, padding, Children
// 32-bit files write keys and text values as 16-bit characters; 16-bit
// Windows files and virtual device drivers write 8-bit characters and have no
// wType field.
//
// The root VS_VERSION_INFO holds VS_FIXEDFILEINFO as its value and has the
// children StringFileInfo and VarFileInfo. StringFileInfo holds one string
// table per language, keyed by language and code page as 8 hexadecimal
// digits; each table holds the strings. The report's walks flatten this
// tree; the facts beside the report follow it.

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

// The root key VS_VERSION_INFO directly after the root's header: "VS" as two
// 16-bit characters after 6 bytes, or "_VER" as bytes after 4 bytes.
constexpr std::int64_t kRootSignatureIndex = 6;
constexpr std::uint32_t kWideRootSignature = 0x00530056;
constexpr std::uint32_t kNarrowRootSignature = 0x5245565F;

constexpr std::int64_t kWideHeaderSize = 6;   // wLength, wValueLength, wType
constexpr std::int64_t kNarrowHeaderSize = 4; // wLength, wValueLength
// The root's header and its key VS_VERSION_INFO with its zero, padded to 4:
// 6 + 32 + 2 bytes in the wide layout, 4 + 16 in the narrow one.
constexpr std::int64_t kWideRootValueIndex = 40;
constexpr std::int64_t kNarrowRootValueIndex = 20;

struct KnownKey {
    std::string_view name;
    int row;
};

// Tested in this order, each as a prefix of the key. The company key comes
// before the copyright key in the test but keeps its own row.
constexpr std::array<KnownKey, 10> kKnownKeys = {{
    {"FileDescription", 1},
    {"FileVersion", 2},
    {"ProductName", 3},
    {"ProductVersion", 4},
    {"Company", 6},
    {"LegalCopyright", 5},
    {"LegalTrademarks", 7},
    {"InternalName", 8},
    {"OriginalFilename", 9},
    {"Comments", 10},
}};

// VS_FIXEDFILEINFO: its signature and size, and its fields' offsets.
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::int64_t kFixedFileInfoSize = 52;
constexpr std::int64_t kFileVersionMsOffset = 8;
constexpr std::int64_t kFileVersionLsOffset = 12;
constexpr std::int64_t kProductVersionMsOffset = 16;
constexpr std::int64_t kProductVersionLsOffset = 20;
constexpr std::int64_t kFileFlagsMaskOffset = 24;
constexpr std::int64_t kFileFlagsOffset = 28;
constexpr std::int64_t kFileOsOffset = 32;
constexpr std::int64_t kFileTypeOffset = 36;
constexpr std::int64_t kFileSubtypeOffset = 40;

constexpr std::string_view kStringFileInfoKey = "StringFileInfo";

std::int64_t NextMultipleOf4(std::int64_t value) {
    return (value + 3) & ~std::int64_t{3};
}

// One entry of the tree, its bounds checked against its parent's.
struct VersionEntry {
    std::int64_t end = 0;           // past its last byte
    std::int64_t valueStart = 0;    // after the key and its padding
    std::int64_t valueLength = 0;   // wValueLength as stored
    std::int64_t childrenStart = 0; // after the value and its padding
    std::string key;                // UTF-8
};

class VersionTree {
public:
    VersionTree(const FileReader& scan, bool wide)
        : m_scan(scan), m_wide(wide),
          m_bytesRead(std::clamp<std::int64_t>(scan.BufferFill(), 0, std::ssize(scan.Block()))) {}

    std::int64_t BytesRead() const { return m_bytesRead; }

    // The entry at `pos`, or nothing when its header or length do not fit
    // inside `limit`.
    std::optional<VersionEntry> EntryAt(std::int64_t pos, std::int64_t limit) const {
        const std::int64_t headerSize = m_wide ? kWideHeaderSize : kNarrowHeaderSize;
        if (pos < 0 || pos + headerSize > limit)
            return std::nullopt;
        const std::int64_t length = m_scan.BufWord(pos);
        if (length < headerSize || pos + length > limit)
            return std::nullopt;
        VersionEntry entry;
        entry.end = pos + length;
        std::int64_t keyEnd = pos + headerSize;
        entry.key = Text(keyEnd, entry.end, &keyEnd);
        entry.valueStart = std::min(NextMultipleOf4(keyEnd), entry.end);
        entry.valueLength = m_scan.BufWord(pos + 2);
        // A text value's length counts 16-bit characters in the wide layout.
        const bool wideText = m_wide && m_scan.BufWord(pos + 4) != 0;
        const std::int64_t valueBytes = wideText ? 2 * entry.valueLength : entry.valueLength;
        entry.childrenStart = std::min(NextMultipleOf4(entry.valueStart + valueBytes), entry.end);
        return entry;
    }

    // The children of `parent`, each handed to `visit`, until one does not fit.
    template <typename Visit>
    void ForEachChild(const VersionEntry& parent, Visit visit) const {
        std::int64_t pos = parent.childrenStart;
        while (pos < parent.end) {
            const std::optional<VersionEntry> child = EntryAt(pos, parent.end);
            if (!child)
                return;
            visit(*child);
            pos = NextMultipleOf4(child->end);
        }
    }

    // The text from `pos` up to its zero character or `end`, as UTF-8;
    // `after` receives the position past the zero character.
    std::string Text(std::int64_t pos, std::int64_t end, std::int64_t* after = nullptr) const {
        std::string bytes;
        std::u16string units;
        const std::int64_t width = m_wide ? 2 : 1;
        for (; pos + width <= end; pos += width) {
            const std::int32_t code = m_wide ? m_scan.BufWord(pos) : m_scan.BufByte(pos);
            if (code == 0) {
                pos += width;
                break;
            }
            if (m_wide)
                units += static_cast<char16_t>(code);
            else
                bytes += static_cast<char>(code);
        }
        if (after != nullptr)
            *after = pos;
        return m_wide ? Utf16ToUtf8(units) : Cp1252ToUtf8(bytes);
    }

private:
    const FileReader& m_scan;
    bool m_wide;
    std::int64_t m_bytesRead;
};

std::optional<FixedFileInfo> ReadFixedFileInfo(const FileReader& scan, const VersionEntry& root) {
    const std::int64_t v = root.valueStart;
    if (root.valueLength < kFixedFileInfoSize || v + kFixedFileInfoSize > root.end ||
        static_cast<std::uint32_t>(scan.BufDword(v)) != kFixedFileInfoSignature)
        return std::nullopt;
    const auto field = [&](std::int64_t offset) {
        return static_cast<std::uint32_t>(scan.BufDword(v + offset));
    };
    return FixedFileInfo{
        field(kFileVersionMsOffset),    field(kFileVersionLsOffset), field(kProductVersionMsOffset),
        field(kProductVersionLsOffset), field(kFileFlagsMaskOffset), field(kFileFlagsOffset),
        field(kFileOsOffset),           field(kFileTypeOffset),      field(kFileSubtypeOffset)};
}

// The fixed file information and every string table, in file order.
void ReadVersionFacts(const FileReader& scan, bool wide, ScanFacts& facts) {
    const VersionTree tree(scan, wide);
    const std::optional<VersionEntry> root = tree.EntryAt(0, tree.BytesRead());
    if (!root)
        return;
    facts.fixedFileInfo = ReadFixedFileInfo(scan, *root);
    std::vector<VersionTable>& tables = facts.versionTables.emplace();
    tree.ForEachChild(*root, [&](const VersionEntry& info) {
        if (info.key != kStringFileInfoKey)
            return;
        tree.ForEachChild(info, [&](const VersionEntry& table) {
            VersionTable& found = tables.emplace_back();
            found.language = table.key;
            tree.ForEachChild(table, [&](const VersionEntry& string) {
                found.strings.emplace_back(string.key, tree.Text(string.valueStart, string.end));
            });
        });
    });
}

} // namespace

void QuillScan::AddVersionString(const std::string& key, const std::string& value) {
    int row = 0;
    for (const KnownKey& known : kKnownKeys) {
        if (key.starts_with(known.name)) {
            row = known.row;
            break;
        }
    }
    if (row == 0) {
        // The table has room for 30 keys beyond the known ten; later ones are dropped.
        if (Record.ResStringCount >= kResStringRows)
            return;
        row = ++Record.ResStringCount;
    }
    auto& cells = Record.ResStrings[static_cast<std::size_t>(row - 1)];
    cells[0] = key;
    cells[1] = value;
    Record.HasVersionResource = true;
}

void QuillScan::ReadVersionResource() {
    const auto signature = static_cast<std::uint32_t>(BufDword(kRootSignatureIndex));
    if (signature != kWideRootSignature && signature != kNarrowRootSignature)
        return;
    const bool wide = signature == kWideRootSignature;
    WalkVersionStrings(wide);
    if (m_readFacts)
        ReadVersionFacts(*this, wide, Record.Facts);
}

// The walk enters every entry without a value (the root's children
// StringFileInfo and VarFileInfo, the string tables) and stores every text
// entry. It trusts no length: it ends at an entry whose header or body would
// pass the bytes read, or whose length could not even hold its header.
void QuillScan::WalkVersionStrings(bool wide) {
    const std::int64_t headerSize = wide ? kWideHeaderSize : kNarrowHeaderSize;
    const std::int64_t width = wide ? 2 : 1; // bytes of a key's character
    const std::int64_t bytesRead = std::clamp<std::int64_t>(BufferFill(), 0, std::ssize(Block()));
    const std::int64_t total = BufWord(0);
    std::int64_t pos = (wide ? kWideRootValueIndex : kNarrowRootValueIndex) + BufWord(2);
    while (pos < total) {
        if (pos + headerSize > bytesRead)
            return;
        const std::int64_t wLength = BufWord(pos);
        if (wLength < headerSize || pos + wLength > bytesRead)
            return;
        const std::int64_t entryEnd = pos + wLength;
        if (BufWord(pos + 2) == 0) {
            // A container (or a text entry with an empty value): pass over its
            // key and go on with its first child.
            pos += headerSize;
            while (pos + width <= entryEnd && (wide ? BufWord(pos) : BufByte(pos)) != 0)
                pos += width;
            if (pos + width > entryEnd)
                return;
            pos = NextMultipleOf4(pos + width);
            continue;
        }
        // The narrow layout has no type field: every valued entry is stored,
        // the raw bytes of the Translation entry as text up to their first
        // zero byte.
        const std::int64_t text = pos + headerSize;
        const std::int64_t textLength = wLength - headerSize;
        if (!wide)
            AddVersionString(BufZStringN(text, textLength), BufSecondString(text, textLength));
        else if (BufWord(pos + 4) != 0)
            AddVersionString(BufWideString(text, textLength), BufWideText(text, textLength));
        pos += NextMultipleOf4(wLength);
    }
}

} // namespace kestrel
