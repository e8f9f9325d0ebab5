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

#include <algorithm>
#include <array>
#include <string_view>

#include "quill_scan.h"

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

} // namespace

std::int64_t QuillScan::RoundUp4(std::int64_t& value) {
    if ((value & 3) != 0)
        value = (value & ~std::int64_t{3}) + 4;
    return value;
}

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
    if (signature == kWideRootSignature)
        WalkVersionWide();
    else if (signature == kNarrowRootSignature)
        WalkVersionNarrow();
}

// The walks enter every entry without a value (the root's children
// StringFileInfo and VarFileInfo, the string tables) and store every text
// entry. They trust no length: a walk ends at an entry whose header or body
// would pass the bytes read, or whose length could not even hold its header.
void QuillScan::WalkVersionWide() {
    const std::int64_t bytesRead =
        std::clamp<std::int64_t>(BufferFill, 0, static_cast<std::int64_t>(FileBuffer.size()));
    const std::int64_t total = BufWord(0);
    std::int64_t pos = kWideRootValueIndex + BufWord(2);
    while (pos < total) {
        if (pos + kWideHeaderSize > bytesRead)
            return;
        const std::int64_t wLength = BufWord(pos);
        if (wLength < kWideHeaderSize || pos + wLength > bytesRead)
            return;
        const std::int64_t entryEnd = pos + wLength;
        if (BufWord(pos + 2) == 0) {
            // A container (or a text entry with an empty value): pass over its
            // key and go on with its first child.
            pos += kWideHeaderSize;
            while (pos + 2 <= entryEnd && BufWord(pos) != 0)
                pos += 2;
            if (pos + 2 > entryEnd)
                return;
            pos += 2;
            RoundUp4(pos);
            continue;
        }
        if (BufWord(pos + 4) != 0) {
            const std::int64_t textLength = wLength - kWideHeaderSize;
            AddVersionString(BufWideString(pos + kWideHeaderSize, textLength),
                             BufWideText(pos + kWideHeaderSize, textLength));
        }
        std::int64_t step = wLength;
        pos += RoundUp4(step);
    }
}

void QuillScan::WalkVersionNarrow() {
    const std::int64_t bytesRead =
        std::clamp<std::int64_t>(BufferFill, 0, static_cast<std::int64_t>(FileBuffer.size()));
    const std::int64_t total = BufWord(0);
    std::int64_t pos = kNarrowRootValueIndex + BufWord(2);
    while (pos < total) {
        if (pos + kNarrowHeaderSize > bytesRead)
            return;
        const std::int64_t wLength = BufWord(pos);
        if (wLength < kNarrowHeaderSize || pos + wLength > bytesRead)
            return;
        const std::int64_t entryEnd = pos + wLength;
        if (BufWord(pos + 2) == 0) {
            pos += kNarrowHeaderSize;
            while (pos < entryEnd && BufByte(pos) != 0)
                ++pos;
            if (pos >= entryEnd)
                return;
            pos += 1;
            RoundUp4(pos);
            continue;
        }
        // No type field here: every valued entry is stored, the raw bytes of
        // the Translation entry as text up to their first zero byte.
        const std::int64_t textLength = wLength - kNarrowHeaderSize;
        AddVersionString(BufZStringN(pos + kNarrowHeaderSize, textLength),
                         BufSecondString(pos + kNarrowHeaderSize, textLength));
        std::int64_t step = wLength;
        pos += RoundUp4(step);
    }
}

} // namespace kestrel
