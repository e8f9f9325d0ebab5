// Classification: which reader a file gets, decided from signatures in its
// first 512 bytes and from its name.

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <functional>
#include <string_view>

#include "packer.h"
#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

constexpr std::int64_t kFirstBlockSize = 512;
constexpr std::int64_t kNewHeaderBlockSize = 300;
constexpr std::int64_t kMzRelocationTableOffset = 24; // e_lfarlc
constexpr std::int64_t kMzNewHeaderOffset = 60;       // e_lfanew

// The "NWProc" header of a NetWare-aware DOS program: the module name stands
// 34 bytes after the tag, a count of 16-byte entries 98 bytes after it, and the
// description after those entries.
constexpr std::int64_t kNwProcNameOffset = 34;
constexpr std::int64_t kNwProcEntryCountOffset = 98;
constexpr std::int64_t kNwProcEntriesOffset = 100;
constexpr std::int64_t kNwProcEntrySize = 16;

// DOS overlays, drivers and message files, recognised by name alone.
constexpr std::array<std::string_view, 9> kMarkerScanNames = {
    ".OVL", ".COM", ".OBJ", ".RPL", ".SYS", ".LDI", ".DDI", ".PDI", ".MSG"};

// The scan file as a source for the packer's recognition, which reads the
// header and the loader at the entry point.
class ScanFileBytes : public ScanSource {
public:
    using Reader = std::function<std::int64_t(std::int64_t, std::uint8_t*, std::int64_t)>;
    ScanFileBytes(std::int64_t length, Reader read) : m_length(length), m_read(std::move(read)) {}
    std::int64_t Length() const override { return m_length; }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        return m_read(offset, into, count);
    }

private:
    std::int64_t m_length;
    Reader m_read;
};

bool NameContains(const std::string& upperName, std::string_view part) {
    return upperName.find(part) != std::string::npos;
}

} // namespace

// The "NWProc" header at the 1-based position of a search hit. A 16-bit hit
// gives no offsets into the block, and past k = 412 the entry count would not
// lie inside it: the header is then not read.
void QuillScan::ReadNwProcHeader(std::int64_t hit) {
    const std::int64_t k = hit - 1;
    if (hit <= 0 || k + kNwProcEntryCountOffset + 2 > kFirstBlockSize)
        return;
    Record.HdrName = BufZString(k + kNwProcNameOffset + 1);
    const std::int64_t description =
        k + kNwProcEntriesOffset + kNwProcEntrySize * BufWord(k + kNwProcEntryCountOffset);
    if (description < kFirstBlockSize)
        Record.HdrDescription = BufZString(description + 1);
}

// The program's packer, among the facts when they are read.
void QuillScan::ReadPacker() {
    if (!m_readFacts)
        return;
    ScanFileBytes bytes(ScanFileLength(),
                        [this](std::int64_t offset, std::uint8_t* into, std::int64_t count) {
                            return ReadAt(offset, into, count);
                        });
    if (const std::optional<Packer> packer = RecognisePacker(bytes))
        Record.Facts.packer = packer->name;
}

void QuillScan::ScanFile(const std::string& directoryPath, const std::string& fileName) {
    ClearScanRecord();
    if (OpenScanFile(directoryPath + fileName) != 0)
        return;
    ClassifyAndParse(directoryPath, fileName);
    CloseScanFile();
}

void QuillScan::ScanFileAt(int directoryDescriptor, const std::string& directoryPath,
                           const std::string& fileName) {
    ClearScanRecord();
    if (OpenScanFileAt(directoryDescriptor, fileName) != 0)
        return;
    ClassifyAndParse(directoryPath, fileName);
    CloseScanFile();
}

void QuillScan::ScanSourceAs(ScanSource& source, const std::string& directoryPath,
                             const std::string& name, std::int64_t modified,
                             const std::string* container) {
    ClearScanRecord();
    if (OpenSource(source, modified) != 0)
        return;
    m_container = container;
    ClassifyAndParse(directoryPath, name);
    CloseScanFile();
    m_container = nullptr;
}

// Reads the first block and hands the open scan file to the one reader its
// signatures and name call for; every path ends in the file's report.
void QuillScan::ClassifyAndParse(const std::string& directoryPath, const std::string& fileName) {
    const std::string upperName = AsciiUpper(fileName);
    StartObservedFile();
    ReadBlock(kFirstBlockSize);

    if (BufMatchAt(1, "NetWare Loadable Module") != 0) {
        ParseNlm(directoryPath, fileName);
    } else if (const std::int64_t hit = BufFind(1, "NWProc");
               hit != 0 && BufMatchAt(1, "MZ") != 0) {
        ReadNwProcHeader(hit);
        ScanMarkers(directoryPath, fileName);
    } else if (NameContains(upperName, ".LAN") || NameContains(upperName, ".DSK")) {
        // A NetWare driver without the NLM signature: a length-prefixed description
        // at an offset given by the byte after an optional 0xFF.
        const std::int64_t q = BufByte(0) == 255 ? 2 : 1;
        Record.HdrDescription = BufCountedString(q + BufByte(q));
        ComposeReport(directoryPath, fileName, ScanFileLength());
    } else if (BufMatchAt(1, "MZ") != 0) {
        ReadPacker();
        const std::int32_t relocations = BufWord(kMzRelocationTableOffset);
        if (relocations % 16 == 0 && relocations >= 64) {
            // The new-executable header. A pointer outside the file leaves the
            // position where the first read ended, as a DOS loader would not care.
            std::int64_t headerBase = BufDword(kMzNewHeaderOffset);
            if (SeekScanFile(headerBase, 0) != 0)
                headerBase = Position();
            ReadBlock(kNewHeaderBlockSize);
            Record.ExeSignature = BufChars(0, 2);
            if (Record.ExeSignature == "NE")
                ParseNe(headerBase);
            else if (Record.ExeSignature == "PE")
                ParsePe(headerBase);
            else if (Record.ExeSignature == "LX" || Record.ExeSignature == "LE")
                ParseLxLe(headerBase);
            if (Record.HasVersionResource)
                ComposeReport(directoryPath, fileName, ScanFileLength());
            else
                ScanMarkers(directoryPath, fileName);
        } else {
            Record.ExeSignature = "MZ";
            ScanMarkers(directoryPath, fileName);
        }
    } else {
        // A COM program has no header: its packer's loader starts the file.
        ReadPacker();
        bool markerScan = false;
        for (const std::string_view part : kMarkerScanNames)
            markerScan = markerScan || NameContains(upperName, part);
        if (markerScan)
            ScanMarkers(directoryPath, fileName);
        else
            ComposeReport(directoryPath, fileName, ScanFileLength());
    }
}

} // namespace kestrel
