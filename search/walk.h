#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "quill_scan.h"

namespace kestrel {

// A directory path as the walk hands it on: "/" appended unless it already ends with one.
std::string DirectoryWithSeparator(const std::string& path);

// An absolute, lexically normal directory path: no "." or ".." parts, one "/"
// between parts, no "/" at the end but for the root. Links are not resolved.
std::string NormalDirectoryPath(const std::string& path);

// "   3 files in /data": the count right-aligned in 4 characters (only its last
// four digits when it has more), then the path.
std::string FileCountCaption(std::int64_t count, const std::string& path);

// A caption of at most `maxLength` characters: a longer text keeps its first
// 24 characters, "......", and its last maxLength - 30. Characters, not bytes.
std::string ShortenCaption(const std::string& text, std::size_t maxLength = 60);

// What a front end hangs onto the walk. Every hook may be left empty.
struct WalkHooks {
    std::function<void(const std::string&)> showCaption; // the status caption, not shortened
    std::function<void()> fileScanned;                   // one more file handed to the scanner
    std::function<void()> yield;                         // after every file, and per directory
    std::function<bool()> cancelled;                     // tested right after each yield
};

// The search over directories: a directory's matching files by name, then, when
// recursive, its subdirectories from the last to the first, each with all of its
// own before the next. A directory line "[path/]" comes before the first report
// of each directory. A directory met a second time (same device and inode) is
// passed over, and symbolic links to directories are never entered.
class DirectoryWalk {
public:
    DirectoryWalk(QuillScan& scanner, ReportSink& sink, std::vector<std::string> patterns,
                  bool recursive, WalkHooks hooks);

    // Both return true when the walk stopped because it was cancelled.
    bool WalkDirectory(const std::string& path);
    bool ScanSelectedFiles(const std::string& directory, const std::vector<std::string>& names);

private:
    bool YieldAndTestCancel();
    bool ScanOneFile(const std::string& directoryPath, const std::string& name);
    void AddDirectoryLine(const std::string& directoryPath);

    QuillScan& m_scanner;
    ReportSink& m_sink;
    std::vector<std::string> m_patterns;
    bool m_recursive;
    WalkHooks m_hooks;
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_visited; // device, inode
};

} // namespace kestrel
