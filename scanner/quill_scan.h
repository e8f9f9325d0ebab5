#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "byte_observer.h"
#include "file_reader.h"
#include "report_sink.h"
#include "scan_record.h"
#include "scan_source.h"

namespace kestrel {

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

// The line of `text` at 1-based `position`, trimmed of spaces, and the
// position of the next one (0 after the last); a line of fewer than 3
// characters gives the empty text.
std::string NextTextLine(const std::string& text, std::int64_t& position);

// The scanner: the state of one file at a time (the block reader and the
// scan record) and the operations that fill and report it. Two QuillScan
// objects share nothing, so each thread may scan with its own. The readers
// work through the block reader's face; the record and the walk steps are
// the scanner's own.
class QuillScan : private FileReader {
public:
    explicit QuillScan(ReportSink& sink, ReportLayout layout = {}, ReportLocale locale = {});

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
    using FileReader::kNoFileTime;
    // Why the last ScanFile or ScanFileAt could not open its file: an errno
    // value, or 0 when it opened or was passed over as not a regular file.
    using FileReader::OpenError;

    // The stop test of a search run on another thread: when the flag is set,
    // a scan that reads a whole file stops between two blocks and gives no
    // report for that file. The flag must outlive the scans.
    using FileReader::SetStopFlag;
    using FileReader::StopRequested;

    // Whether the readers also fill Record.Facts (for the JSON and CSV
    // writers); off by default, as the facts cost reads the report needs not.
    void SetReadFacts(bool on) { m_readFacts = on; }

    // Told how far the reads of each file have got (the window's progress
    // inside a large file), or null. It must outlive the scans.
    using FileReader::SetReadProgress;

    // An observer of every file's bytes (a digest), or null for none. It
    // must outlive the scans.
    using FileReader::SetByteObserver;

    // The brief text's version token moved to end in column 11.
    static std::string PadVersionColumn(std::string& text);

private:
    // --- scan record and report composer (report.cpp) ---
    void ClearScanRecord();
    void ComposeReport(const std::string& directoryPath, const std::string& name,
                       std::int64_t size);
    void EmitLabelledValue(const std::string& label, const std::string& value);
    static std::string PrintableText(std::string& text);
    static std::string TakeWrappedPiece(std::string& text, std::int64_t width);
    std::string FileTimeText() const;
    std::string SizeColumn(std::int64_t size) const;
    std::optional<std::string> BriefText() const;
    void AddListLine(const std::string& line);

    // --- classification (classify.cpp) ---
    void ClassifyAndParse(const std::string& directoryPath, const std::string& fileName);
    void ReadNwProcHeader(std::int64_t hit);
    void ReadPacker();

    // --- NetWare Loadable Modules (nlm.cpp) ---
    void ParseNlm(const std::string& directoryPath, const std::string& fileName);
    void ParseNlmHeader(std::int64_t headerStart);

    // --- embedded markers and version-like text (markers.cpp) ---
    void ScanMarkers(const std::string& directoryPath, const std::string& fileName);
    std::string SplitCopyrightText(std::string& text);

    // --- Windows and OS/2 executables (pe.cpp, ne.cpp, lxle.cpp) ---
    // Each reads the header block at `headerBase`, the file offset of its signature.
    void ParsePe(std::int64_t headerBase);
    void ParseNe(std::int64_t headerBase);
    void ParseLxLe(std::int64_t headerBase);

    // --- version resources (version_resource.cpp) ---
    // The version resource the block holds, read into the record.
    void ReadVersionResource();
    void WalkVersionStrings(bool wide);
    void AddVersionString(const std::string& key, const std::string& value);

    ScanRecord Record;
    ReportLayout Layout;
    ReportLocale Locale;
    ReportSink& m_sink;
    const std::string* m_container = nullptr; // the file on disk holding the source
    bool m_readFacts = false;
};

} // namespace kestrel
