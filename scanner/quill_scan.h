#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_observer.h"
#include "report_sink.h"
#include "scan_record.h"
#include "scan_source.h"

namespace kestrel {

// One block read is at most this many bytes, so no count taken from a file can
// size an allocation beyond it. The largest block any reader asks for is the
// 8192 bytes of the marker scan; version resources are at most 65535 bytes
// long because their length field is 16 bits wide.
inline constexpr std::int64_t kMaxBlockSize = 65536;

// The imported modules listed for one file (the facts beside the report): no
// linker writes more than a few hundred, and a crafted table that never ends
// would otherwise grow the list with every descriptor of the file.
inline constexpr std::int64_t kMaxImportedModules = 4096;
// A module name in the facts is at most this many bytes: Windows paths hold
// 260 characters (MAX_PATH) and the 8-bit name tables of NE, LE and LX
// modules at most 255.
inline constexpr std::int64_t kMaxModuleNameBytes = 256;

// Adds a name read from an import table to `modules`, a list of the facts:
// an empty name is passed over, a longer one cut to kMaxModuleNameBytes. A
// name that is not printable text (a crafted table) is no name: false, and
// the list ends there. Each limit is said once per file.
bool AddImportedModule(ScanFacts& facts, std::vector<std::string>& modules, std::string name);

// The scanner: the state of one file at a time (the scan-file slot, the block
// last read and the scan record) and the operations that fill and report it.
// Two QuillScan objects share nothing, so each thread may scan with its own.
//
// The operations answer with status codes and values, never exceptions:
// 0 success and 1 failure for open and seek. Every accessor checks its range
// against FileBuffer: a number whose bytes are not all inside it is 0, a text
// stops at its end, a negative start gives the empty text. The scanner only
// ever reads the files it scans.
class QuillScan {
public:
    explicit QuillScan(ReportSink& sink, ReportLayout layout = {}, ReportLocale locale = {});
    ~QuillScan();
    QuillScan(const QuillScan&) = delete;
    QuillScan& operator=(const QuillScan&) = delete;

    // Scans one file and hands its report (or, for an NLM container, its
    // reports) to the sink. `directoryPath` ends with "/". A file that cannot
    // be opened, or that is not a regular file, yields no report.
    void ScanFile(const std::string& directoryPath, const std::string& fileName);
    // The same for a file named relative to an open directory, so that a file
    // whose full path is longer than the system allows is still scanned; the
    // report names it by `directoryPath` and `fileName`.
    void ScanFileAt(int directoryDescriptor, const std::string& directoryPath,
                    const std::string& fileName);
    // The same for bytes that are not a file on disk (a member of a
    // container), reported under `directoryPath` and `name` with the time
    // `modified` (seconds since the epoch; kNoFileTime for none). `container`
    // names the file on disk that holds them, for the report; it must
    // outlive the scan.
    void ScanSourceAs(ScanSource& source, const std::string& directoryPath, const std::string& name,
                      std::int64_t modified, const std::string* container = nullptr);
    static constexpr std::int64_t kNoFileTime = INT64_MIN;
    // Why the last ScanFile or ScanFileAt could not open its file: an errno
    // value, or 0 when it opened or was passed over as not a regular file.
    int OpenError() const { return m_openError; }

    // The stop test of a search run on another thread: when the flag is set,
    // a scan that reads a whole file stops between two blocks and gives no
    // report for that file. The flag must outlive the scans.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }
    bool StopRequested() const {
        return m_stop != nullptr && m_stop->load(std::memory_order_relaxed);
    }

    // Whether the readers also fill Record.Facts (for the JSON and CSV
    // writers); off by default, as the facts cost reads the report needs not.
    void SetReadFacts(bool on) { m_readFacts = on; }
    bool ReadsFacts() const { return m_readFacts; }

    // An observer of every file's bytes (a digest), or null for none. It
    // must outlive the scans.
    void SetByteObserver(ByteObserver* observer) { m_observer = observer; }

    // --- binary file reader (file_reader.cpp) ---
    int OpenScanFile(const std::string& path);
    // Opens `name` in the open directory `directoryDescriptor` (AT_FDCWD for
    // the current one), with the same rules as OpenScanFile.
    int OpenScanFileAt(int directoryDescriptor, const std::string& name);
    void CloseScanFile();
    std::int64_t ScanFileLength() const;
    // origin 0 from the start, 1 from the current position, 2 backwards from
    // the last byte. On success the offset becomes the new position.
    int SeekScanFile(std::int64_t& offset, int origin);
    std::int64_t ReadBlock(std::int64_t count);

    int BufByte(std::int64_t index) const;
    std::int32_t BufWord(std::int64_t index) const;
    std::int32_t BufDword(std::int64_t index) const;
    std::string BufZString(std::int64_t position) const; // 1-based position
    std::string BufZStringN(std::int64_t index, std::int64_t maxLength) const;
    std::string BufSecondString(std::int64_t index, std::int64_t length) const;
    std::string BufCountedString(std::int64_t index) const;
    std::string BufChars(std::int64_t index, std::int64_t count) const;
    std::string BufWideString(std::int64_t index, std::int64_t length) const;
    std::string BufWideText(std::int64_t index, std::int64_t length) const;
    // 0 not found; +p found as 8-bit characters at 1-based position p;
    // -p found as 16-bit little-endian characters at position p.
    std::int64_t BufFind(std::int64_t start, std::string_view text) const;

    // --- scan record and report composer (report.cpp) ---
    void ClearScanRecord();
    void ComposeReport(const std::string& directoryPath, const std::string& name,
                       std::int64_t size);
    void EmitLabelledValue(const std::string& label, const std::string& value);
    static std::string NextTextLine(const std::string& text, std::int64_t& position);
    static std::string PrintableText(std::string& text);
    static std::string TakeWrappedPiece(std::string& text, std::int64_t width);
    static std::string PadVersionColumn(std::string& text);

    // --- classification (classify.cpp) ---
    std::int64_t BufMatchAt(std::int64_t position, std::string_view text) const;

    // --- NetWare Loadable Modules (nlm.cpp) ---
    void ParseNlm(const std::string& directoryPath, const std::string& fileName);
    void ParseNlmHeader(std::int64_t headerStart);

    // --- embedded markers and version-like text (markers.cpp) ---
    void ScanMarkers(const std::string& directoryPath, const std::string& fileName);
    std::string VersionLineAt(std::int64_t& position);
    std::string SplitCopyrightText(std::string& text);

    // --- Windows and OS/2 executables (pe.cpp, ne.cpp, lxle.cpp) ---
    // Each reads the header block at `headerBase`, the file offset of its signature.
    void ParsePe(std::int64_t headerBase);
    std::int32_t FindResourceEntry(std::int64_t directoryOffset, std::int32_t id);
    void ParseNe(std::int64_t headerBase);
    void ParseLxLe(std::int64_t headerBase);

    // --- version resources (version_resource.cpp) ---
    void ReadVersionResource();
    void WalkVersionWide();
    void WalkVersionNarrow();
    void AddVersionString(const std::string& key, const std::string& value);
    static std::int64_t RoundUp4(std::int64_t& value);

    // The block last read; FileBuffer keeps the size of the request, and the
    // bytes past BufferFill are 0.
    std::vector<std::uint8_t> FileBuffer;
    std::int64_t BufferFill = 0;
    ScanRecord Record;
    ReportLayout Layout;
    ReportLocale Locale;

private:
    std::string FileTimeText() const;
    void ClassifyAndParse(const std::string& directoryPath, const std::string& fileName);
    std::string SizeColumn(std::int64_t size) const;
    std::optional<std::string> BriefText() const;
    void ReadNwProcHeader(std::int64_t hit);
    void AddListLine(const std::string& line);
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count);
    void StartObservedFile();
    bool ObserveRestOfFile();

    ReportSink& m_sink;
    // The scan-file slot holds a descriptor or a source, or neither when free.
    int m_scanFile = -1;
    ScanSource* m_source = nullptr;
    const std::string* m_container = nullptr;  // the file on disk holding the source
    std::int64_t m_fileLength = 0;             // length of the scan file when it was opened
    std::int64_t m_fileTime = kNoFileTime;     // its time of last change, in seconds
    std::int64_t m_position = 0;               // 0-based position of the scan file
    const std::atomic<bool>* m_stop = nullptr; // set by the front end to stop a scan
    bool m_readFacts = false;
    ByteObserver* m_observer = nullptr;
    bool m_observing = false;        // the observer has not seen the whole file yet
    std::int64_t m_observedUpTo = 0; // the bytes before this offset were seen
    int m_openError = 0;             // errno of the last failed open
};

} // namespace kestrel
