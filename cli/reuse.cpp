#include "reuse.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <simdjson.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "file_listing.h"
#include "text.h"

namespace kestrel {

namespace {

// The longest record read: what one report can hold (4,096 imports of 256
// bytes twice over, a 64 KiB version resource, all of it escaped) stays far
// below it, and it bounds what a damaged file makes the parser allocate.
constexpr std::size_t kMaxRecordBytes = std::size_t{16} << 20;
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

std::uint64_t KeyHash(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

bool IsNull(simdjson::dom::object record, const char* key) {
    simdjson::dom::element value;
    return record[key].get(value) == simdjson::SUCCESS && value.is_null();
}

// The key of the file on disk whose records start with `record`, or "" for
// a record that cannot start them.
std::string KeyOfFirstRecord(simdjson::dom::object record) {
    std::string_view text;
    if (record["container"].get(text) == simdjson::SUCCESS)
        return RecordsKey(false, text, "");
    if (!IsNull(record, "container") || !IsNull(record, "embedded_in") ||
        record["path"].get(text) != simdjson::SUCCESS)
        return "";
    std::string_view nameBytes;
    if (record["name_bytes"].get(nameBytes) != simdjson::SUCCESS)
        nameBytes = {};
    return RecordsKey(true, text, nameBytes);
}

} // namespace

std::string MadeBy(const ScanOptions& options) {
    return MadeBy(RecordShape{options.hashes, options.lookInside, options.walk.patterns,
                              options.containerLimits});
}

std::string RecordsKey(bool ownReport, std::string_view path, std::string_view nameBytes) {
    std::string key = ownReport ? "f" : "c";
    key += path;
    if (ownReport) {
        key += '\n';
        key += nameBytes;
    }
    return key;
}

// --- the previous run ---

// The records of one file on disk, from its first record up to the one that
// ends with its identity.
struct PreviousRun::Group {
    bool open = false;
    bool reusable = false;
    std::uint64_t start = 0;
    std::string key;
};

PreviousRun::~PreviousRun() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

std::string PreviousRun::Open(const std::string& path, const std::string& madeBy,
                              const std::atomic<bool>* stop) {
    m_path = path;
    // Not blocking on a FIFO put in its place: it is refused below.
    m_descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (m_descriptor < 0 || ::fstat(m_descriptor, &info) != 0)
        return ErrorText(errno);
    // Records are read again where they lie, so a pipe will not do.
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    std::string error = ReadRecords(madeBy, stop);
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
        return a.keyHash != b.keyHash ? a.keyHash < b.keyHash : a.offset < b.offset;
    });
    m_entries.shrink_to_fit();
    return error;
}

// One line at a time, each parsed whole (simdjson checks the JSON and its
// UTF-8), in blocks, so that memory holds one block and the longest record.
std::string PreviousRun::ReadRecords(const std::string& madeBy, const std::atomic<bool>* stop) {
    simdjson::dom::parser parser;
    Group group;
    std::string data; // bytes read and not yet parsed, from file offset `base`
    std::uint64_t base = 0;
    std::size_t lineStart = 0;
    std::size_t searched = 0; // no line end before this
    std::uint64_t lineNumber = 1;
    const auto where = [&lineNumber] { return "line " + std::to_string(lineNumber) + ": "; };
    while (stop == nullptr || !stop->load(std::memory_order_relaxed)) {
        const std::size_t lineEnd = data.find('\n', searched);
        if (lineEnd == std::string::npos) {
            data.erase(0, lineStart);
            base += lineStart;
            lineStart = 0;
            searched = data.size();
            if (data.size() > kMaxRecordBytes)
                return where() + "a record longer than 16 MiB";
            // The parser reads up to SIMDJSON_PADDING bytes past a record's end.
            data.resize(searched + kReadBlock + simdjson::SIMDJSON_PADDING);
            ssize_t got = 0;
            do {
                got = ::read(m_descriptor, data.data() + searched, kReadBlock);
            } while (got < 0 && errno == EINTR);
            data.resize(searched + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got < 0)
                return ErrorText(errno);
            if (got == 0)
                return data.empty() ? "" : where() + "the file ends inside a record";
            continue;
        }
        simdjson::dom::object record;
        const simdjson::error_code error =
            parser.parse(data.data() + lineStart, lineEnd - lineStart, false).get(record);
        if (error != simdjson::SUCCESS)
            return where() + "not a JSON record (" + simdjson::error_message(error) + ")";
        if (!group.open) {
            std::string key = KeyOfFirstRecord(record);
            group = {true, !key.empty(), base + lineStart, std::move(key)};
        }
        std::string_view recordMadeBy;
        if (record["made_by"].get(recordMadeBy) != simdjson::SUCCESS || recordMadeBy != madeBy)
            group.reusable = false;
        simdjson::dom::element diskFile;
        if (record["disk_file"].get(diskFile) == simdjson::SUCCESS) {
            const std::uint64_t end = base + lineEnd + 1;
            if (group.reusable && diskFile.is_object())
                m_entries.push_back({KeyHash(group.key), group.start, end - group.start});
            group.open = false;
        }
        lineStart = searched = lineEnd + 1;
        ++lineNumber;
    }
    return "";
}

// Reads from the window, which is moved to `offset` when the bytes are not
// all in it; a range larger than the window is read on its own.
bool PreviousRun::ReadAt(std::uint64_t offset, std::uint64_t length, std::string& into,
                         std::string& error) {
    const bool inWindow =
        offset >= m_windowStart && offset + length <= m_windowStart + m_window.size();
    std::string& buffer = length > kReadBlock ? into : m_window;
    if (!inWindow) {
        buffer.resize(std::max<std::uint64_t>(length, kReadBlock));
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            const ssize_t got =
                ::pread(m_descriptor, buffer.data() + filled, buffer.size() - filled,
                        static_cast<off_t>(offset + filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                m_window.clear();
                error = ErrorText(errno);
                return false;
            }
            if (got == 0)
                break;
            filled += static_cast<std::size_t>(got);
        }
        buffer.resize(filled);
        if (&buffer == &m_window)
            m_windowStart = offset;
        if (filled < length) {
            error = "shorter than when it was read first";
            return false;
        }
    }
    if (&buffer == &m_window)
        into.assign(m_window, offset - m_windowStart, length);
    else
        into.resize(length);
    return true;
}

bool PreviousRun::Records(const std::string& key, const DiskFile& file, std::string& records,
                          std::string& error) {
    const std::uint64_t hash = KeyHash(key);
    auto entry = std::lower_bound(m_entries.begin(), m_entries.end(), hash,
                                  [](const Entry& e, std::uint64_t h) { return e.keyHash < h; });
    // The identity is checked in the bytes themselves: the last record ends
    // with it, exactly as this run would write it.
    std::string end = ",";
    end += DiskFileMember(file) + "}\n";
    for (; entry != m_entries.end() && entry->keyHash == hash; ++entry) {
        if (!ReadAt(entry->offset, entry->length, records, error))
            return false;
        if (records.ends_with(end))
            return true;
    }
    return false;
}

// --- the step ---

bool CopyUnchangedRecords(const CopiedRecordsOptions& options, const FileToScan& file,
                          std::string& records, std::vector<ReadProblem>& problems,
                          StepLines& lines) {
    const std::optional<DiskFile> diskFile = LookAt(file);
    if (!diskFile)
        return false;
    const bool ownReport =
        !options.lookInside || file.chosen || MatchesAnyPattern(file.name, options.patterns);
    const std::string path = SanitizeUtf8(file.directoryPath + file.name);
    const std::string nameBytes = SanitizeUtf8(file.name) == file.name ? "" : Base64(file.name);
    std::string error;
    if (!options.previous->Records(RecordsKey(ownReport, path, nameBytes), *diskFile, records,
                                   error)) {
        records.clear();
        if (!error.empty())
            problems.push_back({options.previous->Path(), error});
        return false;
    }
    // Directory lines are no part of JSON Lines; they are kept in their
    // place all the same, as the scan would keep them.
    if (ownReport)
        lines.BeforeFileReport();
    if (options.lookInside)
        lines.LeftDirectory();
    return true;
}

} // namespace kestrel
