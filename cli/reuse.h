#pragma once

// --reuse: the records of an earlier --json run copied, as they are, for the
// files on disk that have not changed since; every other file is scanned.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "output_sinks.h"
#include "records.h"
#include "scan_run.h"
#include "walk.h"

namespace kestrel {

// What every JSON record of this run carries as `made_by` (see RecordShape):
// the digests asked for, and with -z its patterns and limits.
std::string MadeBy(const ScanOptions& options);

// The records of an earlier run, read through once as a stream. Kept in
// memory per file on disk, whatever its number of members: a hash of the
// key its records are found by and where they lie in the file (24 bytes;
// up to twice that while the list grows).
// The records themselves are read again when they are copied.
class PreviousRun {
public:
    PreviousRun() = default;
    ~PreviousRun();
    PreviousRun(const PreviousRun&) = delete;
    PreviousRun& operator=(const PreviousRun&) = delete;

    // Reads `path` through; "" when done, else why it cannot be used. Only
    // the records that `madeBy` made, and that end with their file's
    // identity, are kept. Reading stops early when `stop` is set. With
    // `threads` above 1, two threads read it.
    std::string Open(const std::string& path, const std::string& madeBy,
                     const std::atomic<bool>* stop, int threads = 1);
    const std::string& Path() const { return m_path; }

    // The records found by `key` that end with the identity of `file` as
    // it is now, into `records`. False when there are none; `error` then
    // says why they could not be read, if that was the reason. Called from
    // every job's thread: the records of files met in walk order lie one
    // after the other, so they are read a shared window at a time.
    bool Records(const std::string& key, const DiskFile& file, std::string& records,
                 std::string& error);

private:
    struct Entry {
        std::uint64_t keyHash;
        std::uint64_t offset;
        std::uint64_t length;
    };
    struct Group;
    struct Stretch;
    std::string ReadAllRecords(std::uint64_t size, const std::string& madeBy,
                               const std::atomic<bool>* stop, int threads);
    void ReadStretch(Stretch& stretch, const std::string& madeBy,
                     const std::atomic<bool>* stop) const;
    ssize_t ReadFully(std::uint64_t offset, char* to, std::size_t size) const;
    bool ReadAt(std::uint64_t offset, std::uint64_t length, std::string& into, std::string& error);

    std::string m_path;
    int m_descriptor = -1;
    std::vector<Entry> m_entries; // by key hash, then by place
    std::mutex m_windowMutex;
    std::string m_window; // room for a block of the file
    std::uint64_t m_windowStart = 0;
    std::uint64_t m_windowLength = 0; // the bytes of the file it holds from m_windowStart on
};

// The key a file's records are found by: "f", its path as the records name
// it, "\n" and the bytes of its name in base64 when they are not UTF-8; or,
// for the members of a container whose own report is not written (-z with
// patterns it does not match), "c" and its path as `container` names it.
std::string RecordsKey(bool ownReport, std::string_view path, std::string_view nameBytes);

// What takes a file's scan's place when `previous` holds its records
// unchanged: they are copied into `records`, and true. A previous run that
// cannot be read again is a problem, and the file is then scanned.
struct CopiedRecordsOptions {
    PreviousRun* previous = nullptr;
    bool lookInside = false;
    std::vector<std::string> patterns; // with -z: the files with a report of their own
};
bool CopyUnchangedRecords(const CopiedRecordsOptions& options, const FileToScan& file,
                          std::string& records, std::vector<ReadProblem>& problems,
                          StepLines& lines);

} // namespace kestrel
