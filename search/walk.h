#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "captions.h"
#include "file_listing.h"
#include "quill_scan.h"

namespace kestrel {

// A directory path as the walk hands it on: "/" appended unless it already ends with one.
std::string DirectoryWithSeparator(const std::string& path);

// An absolute, lexically normal directory path: no "." or ".." parts, one "/"
// between parts, no "/" at the end but for the root. Links are not resolved.
std::string NormalDirectoryPath(const std::string& path);

// The list line that heads the reports of one directory: "[", the directory
// path ending with "/", "]", with no control character.
std::string DirectoryLineText(const std::string& directoryPath);

// How many directories the walk keeps open at once: a small part of the
// process's limit on open descriptors (RLIMIT_NOFILE), so that the files in
// flight, the scanners and the caller keep plenty. Never fewer than 4.
std::size_t DirectoryDescriptorBudget();

// A directory the walk opened. Its files are opened relative to it, so a file
// at any depth can be scanned; it is closed when its last holder lets go.
class OpenDirectory {
public:
    explicit OpenDirectory(int descriptor) : m_descriptor(descriptor) {}
    ~OpenDirectory();
    OpenDirectory(const OpenDirectory&) = delete;
    OpenDirectory& operator=(const OpenDirectory&) = delete;
    int Descriptor() const { return m_descriptor; }

private:
    int m_descriptor;
};

// One file the walk hands on to be scanned. It keeps its directory open for as
// long as it lives, so it may be scanned later on another thread.
struct FileToScan {
    std::shared_ptr<const OpenDirectory> directory; // null: opened by its full path
    std::string directoryPath;                      // ends with "/"
    std::string name;
    bool chosen = false; // named by the user: reported whatever the patterns say
};

// Something met inside the walk that could not be read: its full path and why.
struct ReadProblem {
    std::string path;
    std::string reason;
};

// What the walk yields, in walk order: the directory lines, the files to scan
// and what could not be read.
class WalkConsumer {
public:
    virtual ~WalkConsumer() = default;
    virtual void AddDirectoryLine(const std::string& directoryPath) = 0;
    virtual void AddFile(FileToScan file) = 0;
    virtual void AddProblem(ReadProblem problem) = 0;
    // The files of one listing are all handed on; the walk lists another
    // directory next, which may take a while.
    virtual void ListingHandedOn() {}
};

// When the walk's directory lines are written: right before the first
// report in their directory, and again before the next report there after
// lines of another folder (the members of a container). A directory whose
// files give no report (a search inside containers for names that only
// members have) gets none. Both front ends follow it, in walk order.
class DirectoryLineRule {
public:
    // The walk entered `directoryPath`; its files follow.
    void Entered(const std::string& directoryPath) { m_pending = directoryPath; }
    // Right before a file's own report: whether its directory's line comes first.
    bool LineBeforeReport(const std::string& directoryPath);
    // Lines of another folder were written.
    void LeftDirectory() { m_written.clear(); }

private:
    std::string m_pending; // the walk's line for the files that follow
    std::string m_written; // the directory of the last line written, if reports follow it
};

// How a step keeps the walk's directory lines in their place: it calls
// BeforeFileReport right before the file's own report, which its directory
// line then precedes, and LeftDirectory after lines of another folder (the
// members of a container), so that the next report in the file's directory
// gets its directory line again (see DirectoryLineRule).
class StepLines {
public:
    virtual ~StepLines() = default;
    virtual void BeforeFileReport() = 0;
    virtual void LeftDirectory() = 0;
};

// The step taken for each file: scan it, hand its lines and reports to the
// sink, and add what could not be read to `problems`. It runs on the thread
// that owns `scanner` and `sink`.
using ScanStep = std::function<void(QuillScan& scanner, ReportSink& sink, const FileToScan& file,
                                    std::vector<ReadProblem>& problems, StepLines& lines)>;

// The plain step: the scanner's own scan of the file; a file that cannot be
// opened is a problem.
void ScanFileStep(QuillScan& scanner, ReportSink& sink, const FileToScan& file,
                  std::vector<ReadProblem>& problems, StepLines& lines);

// How far and into what the walk goes.
struct WalkOptions {
    static constexpr int kNoDepthLimit = -1;

    std::vector<std::string> patterns; // the files scanned, as ParseSearchSpec gives them
    bool recursive = false;
    bool oneFileSystem = false;        // no directory on another device is entered
    int maxDepth = kNoDepthLimit;      // levels entered below each start directory
    std::vector<std::string> excludes; // files and directories passed over by name
    std::size_t descriptorBudget = 0;  // 0: DirectoryDescriptorBudget()
};

// What a front end hangs onto the walk. Every hook may be left empty.
struct WalkHooks {
    std::function<void(const std::string&)> showCaption; // the status caption, not shortened
    std::function<void()> fileScanned;                   // one more file handed to the scanner
    std::function<void()> yield;                         // after every file, and per directory
    std::function<bool()> cancelled;                     // tested right after each yield
    std::function<void(const ReadProblem&)> unreadable;  // DirectoryWalk: what it could not read
};

// The search over directories: a directory's matching files by name, then, when
// recursive, its subdirectories from the last to the first, each with all of its
// own before the next. A directory line comes before the first file of each
// directory. A directory met a second time (same device and inode) is passed
// over, and symbolic links to directories are never entered.
//
// Directories are opened relative to their parent, so any depth is walked,
// while the paths handed on stay full paths. At most the descriptor budget of
// them is held open: when it is reached, the directories nearest the start are
// closed, and each is opened again on the way back up through ".." of its
// child, checked by device and inode (or, when that fails, from the nearest
// open directory above by name, checked the same way).
class TreeWalk {
public:
    TreeWalk(WalkConsumer& consumer, WalkOptions options, WalkHooks hooks);

    // Both return true when the walk stopped because it was cancelled.
    bool WalkDirectory(const std::string& path);
    // Files chosen by name in one directory, whatever the patterns say. A run
    // of calls for the same directory shares one directory line.
    bool ScanSelectedFiles(const std::string& directory, const std::vector<std::string>& names);

private:
    struct Level {
        std::shared_ptr<const OpenDirectory> directory; // null while closed for the budget
        std::string path; // normal form, no "/" at the end but for the root
        std::string name; // the last part of path, to open it again from above
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::vector<std::string> subdirectories; // still to visit, the last first
        int depth = 0;
    };

    bool VisitTop();
    bool VisitSubdirectory(const std::string& name);
    bool ShowCaptionAndTestCancel(std::size_t fileCount, const std::string& path);
    bool FileHandedOn();
    bool YieldAndTestCancel();
    void AddDirectoryLine(const std::string& directoryPath);
    void AddProblem(const std::string& path, int error);
    bool MarkVisited(std::uint64_t device, std::uint64_t inode);
    void KeepWithinBudget();
    void LeaveTop();
    int OpenAgainFromAbove(std::size_t index) const;

    WalkConsumer& m_consumer;
    WalkOptions m_options;
    WalkHooks m_hooks;
    std::size_t m_budget;
    ListingRules m_rules;
    std::vector<Level> m_levels;
    std::size_t m_firstOpenBelowStart = 1; // open levels: the start and m_levels[this..]
    std::uint64_t m_startDevice = 0;
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_visited; // device, inode
    std::string m_lastDirectoryLine;
};

// The walk with each file scanned at once on the walk's thread by one scanner:
// the window's search.
class DirectoryWalk {
public:
    DirectoryWalk(QuillScan& scanner, ReportSink& sink, std::vector<std::string> patterns,
                  bool recursive, WalkHooks hooks);
    DirectoryWalk(QuillScan& scanner, ReportSink& sink, WalkOptions options, WalkHooks hooks);

    // Replaces the step taken for each file (ScanFileStep by default).
    void SetScanStep(ScanStep step) { m_consumer.step = std::move(step); }

    bool WalkDirectory(const std::string& path) { return m_walk.WalkDirectory(path); }
    bool ScanSelectedFiles(const std::string& directory, const std::vector<std::string>& names) {
        return m_walk.ScanSelectedFiles(directory, names);
    }

private:
    struct ScanAtOnce : WalkConsumer, StepLines {
        void AddDirectoryLine(const std::string& directoryPath) override;
        void AddFile(FileToScan file) override;
        void AddProblem(ReadProblem problem) override;
        void BeforeFileReport() override;
        void LeftDirectory() override;

        DirectoryLineRule directoryLines;
        const FileToScan* current = nullptr;

        QuillScan* scanner = nullptr;
        ReportSink* sink = nullptr;
        ScanStep step = ScanFileStep;
        std::function<void(const ReadProblem&)> unreadable;
        std::vector<ReadProblem> problems;
    };

    ScanAtOnce m_consumer;
    TreeWalk m_walk;
};

} // namespace kestrel
