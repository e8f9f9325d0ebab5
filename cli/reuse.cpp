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
#include <thread>
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
// PREVIOUS is parsed in smaller blocks: each thread's buffer is memory
// touched for the first time, and every page of it costs a fault.
constexpr std::size_t kParseBlock = std::size_t{256} << 10;
// Where the file is split for two threads, a line's end is looked for in
// this many bytes.
constexpr std::size_t kSplitProbe = std::size_t{64} << 10;

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

std::uint64_t KeyHash(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

// The keys a record is read for, found in one pass over its members: a
// record has some thirty, and looking each key up on its own goes through
// them again every time.
struct RecordFields {
    std::optional<simdjson::dom::element> container;
    std::optional<simdjson::dom::element> embeddedIn;
    std::optional<simdjson::dom::element> path;
    std::optional<simdjson::dom::element> nameBytes;
    std::optional<simdjson::dom::element> madeBy;
    std::optional<simdjson::dom::element> diskFile;
};

RecordFields ReadFields(simdjson::dom::object record) {
    RecordFields fields;
    for (const auto [key, value] : record) {
        if (key == "container")
            fields.container = value;
        else if (key == "embedded_in")
            fields.embeddedIn = value;
        else if (key == "path")
            fields.path = value;
        else if (key == "name_bytes")
            fields.nameBytes = value;
        else if (key == "made_by")
            fields.madeBy = value;
        else if (key == "disk_file")
            fields.diskFile = value;
    }
    return fields;
}

bool IsNull(const std::optional<simdjson::dom::element>& value) {
    return value && value->is_null();
}

std::string_view TextOf(const std::optional<simdjson::dom::element>& value) {
    std::string_view text;
    if (!value || value->get(text) != simdjson::SUCCESS)
        return {};
    return text;
}

bool IsText(const std::optional<simdjson::dom::element>& value) {
    return value && value->is_string();
}

// The key of the file on disk whose records start with a record of these
// fields, or "" for a record that cannot start them.
std::string KeyOfFirstRecord(const RecordFields& record) {
    if (IsText(record.container))
        return RecordsKey(false, TextOf(record.container), "");
    if (!IsNull(record.container) || !IsNull(record.embeddedIn) || !IsText(record.path))
        return "";
    return RecordsKey(true, TextOf(record.path), TextOf(record.nameBytes));
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

// A stretch of the file read by one thread: the lines that start in
// [begin, end), and past `end` the lines up to the first that closes a
// group. A stretch that follows another leaves those lines' group to it.
struct PreviousRun::Stretch {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool follows = false;
    std::vector<Entry> entries;
    std::uint64_t linesBeforeEnd = 0;
    std::uint64_t errorLine = 0; // counted from `begin`; 0 when not a line's
    std::string error;

    std::string Message(std::uint64_t linesBefore) const {
        if (errorLine == 0)
            return error;
        return "line " + std::to_string(linesBefore + errorLine) + ": " + error;
    }
};

PreviousRun::~PreviousRun() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

std::string PreviousRun::Open(const std::string& path, const std::string& madeBy,
                              const std::atomic<bool>* stop, int threads) {
    m_path = path;
    // Not blocking on a FIFO put in its place: it is refused below.
    m_descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (m_descriptor < 0 || ::fstat(m_descriptor, &info) != 0)
        return ErrorText(errno);
    // Records are read again where they lie, so a pipe will not do.
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    std::string error =
        ReadAllRecords(static_cast<std::uint64_t>(info.st_size), madeBy, stop, threads);
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
        return a.keyHash != b.keyHash ? a.keyHash < b.keyHash : a.offset < b.offset;
    });
    m_entries.shrink_to_fit();
    return error;
}

// With two threads the file is read in two halves at once, split at a line's
// start: parsing is most of what a run that reuses nearly everything does
// before its first record. Small files are split too, so that every run
// with jobs takes the same way.
std::string PreviousRun::ReadAllRecords(std::uint64_t size, const std::string& madeBy,
                                        const std::atomic<bool>* stop, int threads) {
    Stretch first;
    first.end = size;
    Stretch second;
    second.begin = second.end = size;
    second.follows = true;
    if (threads > 1) {
        std::string probe(kSplitProbe, '\0');
        const ssize_t got =
            ::pread(m_descriptor, probe.data(), probe.size(), static_cast<off_t>(size / 2));
        const std::size_t lineEnd = got > 0 ? probe.find('\n') : std::string::npos;
        if (lineEnd != std::string::npos && lineEnd < static_cast<std::size_t>(got))
            first.end = second.begin = size / 2 + lineEnd + 1;
    }
    if (second.begin < size) {
        std::thread reader([&] { ReadStretch(second, madeBy, stop); });
        ReadStretch(first, madeBy, stop);
        reader.join();
    } else {
        ReadStretch(first, madeBy, stop);
    }
    if (!first.error.empty())
        return first.Message(0);
    m_entries = std::move(first.entries);
    m_entries.insert(m_entries.end(), second.entries.begin(), second.entries.end());
    return second.Message(first.linesBeforeEnd);
}

// One line at a time, each parsed whole (simdjson checks the JSON and its
// UTF-8), in blocks, so that memory holds one block and the longest record.
void PreviousRun::ReadStretch(Stretch& stretch, const std::string& madeBy,
                              const std::atomic<bool>* stop) const {
    simdjson::dom::parser parser;
    Group group;
    bool skipping = stretch.follows;
    bool closedPastEnd = false;
    std::string data; // bytes read and not yet parsed, from file offset `base`
    data.reserve(2 * kParseBlock + simdjson::SIMDJSON_PADDING);
    std::uint64_t base = stretch.begin;
    std::size_t lineStart = 0;
    std::size_t searched = 0; // no line end before this
    std::uint64_t lineNumber = 1;
    const auto fail = [&](const std::string& why) {
        stretch.errorLine = lineNumber;
        stretch.error = why;
    };
    while (stop == nullptr || !stop->load(std::memory_order_relaxed)) {
        if (base + lineStart >= stretch.end && closedPastEnd)
            return;
        const std::size_t lineEnd = data.find('\n', searched);
        if (lineEnd == std::string::npos) {
            data.erase(0, lineStart);
            base += lineStart;
            lineStart = 0;
            searched = data.size();
            if (data.size() > kMaxRecordBytes)
                return fail("a record longer than 16 MiB");
            // The parser reads up to SIMDJSON_PADDING bytes past a record's end.
            data.resize(searched + kParseBlock + simdjson::SIMDJSON_PADDING);
            ssize_t got = 0;
            do {
                got = ::pread(m_descriptor, data.data() + searched, kParseBlock,
                              static_cast<off_t>(base + searched));
            } while (got < 0 && errno == EINTR);
            data.resize(searched + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got < 0) {
                stretch.error = ErrorText(errno);
                return;
            }
            if (got == 0) {
                if (!data.empty())
                    fail("the file ends inside a record");
                return;
            }
            continue;
        }
        simdjson::dom::object record;
        const simdjson::error_code error =
            parser.parse(data.data() + lineStart, lineEnd - lineStart, false).get(record);
        if (error != simdjson::SUCCESS)
            return fail(std::string("not a JSON record (") + simdjson::error_message(error) + ")");
        const RecordFields fields = ReadFields(record);
        if (!group.open && !skipping) {
            std::string key = KeyOfFirstRecord(fields);
            group = {true, !key.empty(), base + lineStart, std::move(key)};
        }
        if (!IsText(fields.madeBy) || TextOf(fields.madeBy) != madeBy)
            group.reusable = false;
        if (fields.diskFile) {
            const std::uint64_t end = base + lineEnd + 1;
            if (!skipping && group.reusable && fields.diskFile->is_object())
                stretch.entries.push_back({KeyHash(group.key), group.start, end - group.start});
            group.open = skipping = false;
            closedPastEnd = base + lineStart >= stretch.end;
        }
        if (base + lineStart < stretch.end)
            stretch.linesBeforeEnd = lineNumber;
        lineStart = searched = lineEnd + 1;
        ++lineNumber;
    }
}

// Reads up to `size` bytes at `offset` into `to`: how many there were, or
// -1 with errno set.
ssize_t PreviousRun::ReadFully(std::uint64_t offset, char* to, std::size_t size) const {
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got =
            ::pread(m_descriptor, to + filled, size - filled, static_cast<off_t>(offset + filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(filled);
}

namespace {

// Whether `got` bytes read are the `length` asked for; `error` says why not.
bool ReadWhole(ssize_t got, std::uint64_t length, std::string& error) {
    if (got < 0)
        error = ErrorText(errno);
    else if (static_cast<std::uint64_t>(got) < length)
        error = "shorter than when it was read first";
    return error.empty();
}

} // namespace

// Reads from the window, which is moved to `offset` when the bytes are not
// all in it; a range larger than the window is read on its own. The window's
// room is made once: moving it only reads.
bool PreviousRun::ReadAt(std::uint64_t offset, std::uint64_t length, std::string& into,
                         std::string& error) {
    if (length > kReadBlock) {
        into.resize(length);
        return ReadWhole(ReadFully(offset, into.data(), length), length, error);
    }
    const std::lock_guard lock(m_windowMutex);
    if (offset < m_windowStart || offset + length > m_windowStart + m_windowLength) {
        m_window.resize(kReadBlock);
        const ssize_t got = ReadFully(offset, m_window.data(), kReadBlock);
        m_windowStart = offset;
        m_windowLength = got < 0 ? 0 : static_cast<std::uint64_t>(got);
        if (!ReadWhole(got, length, error))
            return false;
    }
    into.assign(m_window, offset - m_windowStart, length);
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
