#include "walk.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "text.h"

namespace kestrel {

namespace {

constexpr int kDirectoryOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// Below the start, a directory is opened by its name only when that name is
// still a directory: a link put in its place is not followed.
constexpr int kSubdirectoryOpenFlags = kDirectoryOpenFlags | O_NOFOLLOW;

// The walk's share of the open-descriptor limit: an eighth, at least 4 (the
// start, two levels and one spare), at most 1024 (beyond that, reopening
// through ".." is cheap enough).
constexpr std::size_t kBudgetShareOfLimit = 8;
constexpr std::size_t kSmallestBudget = 4;
constexpr std::size_t kLargestBudget = 1024;

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

std::string ChildPath(const std::string& directory, const std::string& name) {
    return directory.ends_with('/') ? directory + name : directory + "/" + name;
}

WalkOptions WalkOptionsFor(std::vector<std::string> patterns, bool recursive) {
    WalkOptions options;
    options.patterns = std::move(patterns);
    options.recursive = recursive;
    return options;
}

bool IsSameDirectory(int descriptor, std::uint64_t device, std::uint64_t inode) {
    struct stat info {};
    return ::fstat(descriptor, &info) == 0 && static_cast<std::uint64_t>(info.st_dev) == device &&
           static_cast<std::uint64_t>(info.st_ino) == inode;
}

} // namespace

std::string DirectoryWithSeparator(const std::string& path) {
    return path.ends_with('/') ? path : path + "/";
}

std::string NormalDirectoryPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    std::string normal = absolute.lexically_normal().string();
    while (normal.size() > 1 && normal.ends_with('/'))
        normal.pop_back();
    return normal;
}

std::string DirectoryLineText(const std::string& directoryPath) {
    std::string line = "[";
    line += SanitizeUtf8(directoryPath);
    line += ']';
    return ReplaceControlCharacters(std::move(line));
}

// A walk that lists a directory again (a file PATH of a directory searched
// before) says its line again.
bool DirectoryLineRule::LineBeforeReport(const std::string& directoryPath) {
    const bool line = m_pending == directoryPath || m_written != directoryPath;
    m_pending.clear();
    m_written = directoryPath;
    return line;
}

std::size_t DirectoryDescriptorBudget() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kLargestBudget;
    return std::clamp<std::size_t>(static_cast<std::size_t>(limit.rlim_cur) / kBudgetShareOfLimit,
                                   kSmallestBudget, kLargestBudget);
}

OpenDirectory::~OpenDirectory() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

void ScanFileStep(QuillScan& scanner, ReportSink&, const FileToScan& file,
                  std::vector<ReadProblem>& problems, StepLines& lines) {
    lines.BeforeFileReport();
    if (file.directory)
        scanner.ScanFileAt(file.directory->Descriptor(), file.directoryPath, file.name);
    else
        scanner.ScanFile(file.directoryPath, file.name);
    if (scanner.OpenError() != 0)
        problems.push_back({file.directoryPath + file.name, ErrorText(scanner.OpenError())});
}

// --- the walk ---------------------------------------------------------------------

TreeWalk::TreeWalk(WalkConsumer& consumer, WalkOptions options, WalkHooks hooks)
    : m_consumer(consumer), m_options(std::move(options)), m_hooks(std::move(hooks)),
      m_budget(std::max(m_options.descriptorBudget != 0 ? m_options.descriptorBudget
                                                        : DirectoryDescriptorBudget(),
                        kSmallestBudget)),
      m_rules{m_options.patterns, m_options.excludes, false} {}

bool TreeWalk::YieldAndTestCancel() {
    if (m_hooks.yield)
        m_hooks.yield();
    return m_hooks.cancelled && m_hooks.cancelled();
}

bool TreeWalk::FileHandedOn() {
    if (m_hooks.fileScanned)
        m_hooks.fileScanned();
    return YieldAndTestCancel();
}

bool TreeWalk::ShowCaptionAndTestCancel(std::size_t fileCount, const std::string& path) {
    if (m_hooks.showCaption)
        m_hooks.showCaption(FileCountCaption(static_cast<std::int64_t>(fileCount), path));
    return YieldAndTestCancel();
}

void TreeWalk::AddDirectoryLine(const std::string& directoryPath) {
    m_lastDirectoryLine = directoryPath;
    m_consumer.AddDirectoryLine(directoryPath);
}

void TreeWalk::AddProblem(const std::string& path, int error) {
    m_consumer.AddProblem({path, ErrorText(error)});
}

bool TreeWalk::MarkVisited(std::uint64_t device, std::uint64_t inode) {
    return m_visited.emplace(device, inode).second;
}

bool TreeWalk::WalkDirectory(const std::string& path) {
    m_lastDirectoryLine.clear();
    const int descriptor = ::open(path.c_str(), kDirectoryOpenFlags);
    struct stat info {};
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
        AddProblem(path, errno);
        if (descriptor >= 0)
            ::close(descriptor);
        return ShowCaptionAndTestCancel(0, path);
    }
    auto directory = std::make_shared<const OpenDirectory>(descriptor);
    const auto device = static_cast<std::uint64_t>(info.st_dev);
    const auto inode = static_cast<std::uint64_t>(info.st_ino);
    if (!MarkVisited(device, inode))
        return false;
    m_startDevice = device;
    m_levels.clear();
    m_levels.push_back({std::move(directory), path, {}, device, inode, {}, 0});
    m_firstOpenBelowStart = 1;
    bool cancelled = VisitTop();
    while (!cancelled && !m_levels.empty()) {
        Level& top = m_levels.back();
        if (top.subdirectories.empty()) {
            LeaveTop();
            continue;
        }
        const std::string name = std::move(top.subdirectories.back());
        top.subdirectories.pop_back();
        cancelled = VisitSubdirectory(name);
    }
    m_levels.clear();
    return cancelled;
}

// Lists the directory on top of the stack and hands on its directory line and
// files; its subdirectories wait on the stack.
bool TreeWalk::VisitTop() {
    Level& level = m_levels.back();
    m_rules.subdirectories =
        m_options.recursive &&
        (m_options.maxDepth == WalkOptions::kNoDepthLimit || level.depth < m_options.maxDepth);
    DirectoryListing listing = ListDirectoryAt(level.directory->Descriptor(), m_rules);
    if (listing.error != 0)
        AddProblem(level.path, listing.error);
    for (const auto& [name, error] : listing.unreadable)
        AddProblem(ChildPath(level.path, name), error);
    level.subdirectories = std::move(listing.subdirectories);
    if (ShowCaptionAndTestCancel(listing.files.size(), level.path))
        return true;
    const std::string directoryPath = DirectoryWithSeparator(level.path);
    for (std::size_t i = 0; i < listing.files.size(); ++i) {
        if (i == 0)
            AddDirectoryLine(directoryPath);
        m_consumer.AddFile({level.directory, directoryPath, std::move(listing.files[i])});
        if (FileHandedOn())
            return true;
    }
    m_consumer.ListingHandedOn();
    return false;
}

bool TreeWalk::VisitSubdirectory(const std::string& name) {
    const Level& parent = m_levels.back();
    const std::string path = ChildPath(parent.path, name);
    const int descriptor =
        ::openat(parent.directory->Descriptor(), name.c_str(), kSubdirectoryOpenFlags);
    struct stat info {};
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
        const int error = errno;
        if (descriptor >= 0)
            ::close(descriptor);
        if (error == ENOENT || error == ENOTDIR || error == ELOOP)
            return false; // gone, or no longer a directory, since it was listed
        AddProblem(path, error);
        return ShowCaptionAndTestCancel(0, path);
    }
    auto directory = std::make_shared<const OpenDirectory>(descriptor);
    const auto device = static_cast<std::uint64_t>(info.st_dev);
    const auto inode = static_cast<std::uint64_t>(info.st_ino);
    if ((m_options.oneFileSystem && device != m_startDevice) || !MarkVisited(device, inode))
        return false;
    m_levels.push_back({std::move(directory), path, name, device, inode, {}, parent.depth + 1});
    KeepWithinBudget();
    return VisitTop();
}

// Open are the start directory and the levels from m_firstOpenBelowStart to
// the top; past the budget, the highest of those below the start is closed.
void TreeWalk::KeepWithinBudget() {
    while (1 + m_levels.size() - m_firstOpenBelowStart > m_budget &&
           m_firstOpenBelowStart + 1 < m_levels.size()) {
        m_levels[m_firstOpenBelowStart].directory.reset();
        ++m_firstOpenBelowStart;
    }
}

void TreeWalk::LeaveTop() {
    const std::shared_ptr<const OpenDirectory> child = std::move(m_levels.back().directory);
    m_levels.pop_back();
    if (m_levels.empty() || m_levels.back().directory)
        return;
    const std::size_t index = m_levels.size() - 1;
    Level& level = m_levels[index];
    m_firstOpenBelowStart = index;
    int descriptor = child ? ::openat(child->Descriptor(), "..", kDirectoryOpenFlags) : -1;
    if (descriptor >= 0 && !IsSameDirectory(descriptor, level.device, level.inode)) {
        ::close(descriptor); // the child was moved elsewhere meanwhile
        descriptor = -1;
    }
    if (descriptor < 0)
        descriptor = OpenAgainFromAbove(index);
    if (descriptor < 0) {
        m_consumer.AddProblem({level.path, "moved or removed during the walk"});
        level.subdirectories.clear();
        return;
    }
    level.directory = std::make_shared<const OpenDirectory>(descriptor);
}

// Opens level `index` again by name from the nearest open level above it,
// each step checked by device and inode; -1 when the path has changed.
int TreeWalk::OpenAgainFromAbove(std::size_t index) const {
    std::size_t open = index;
    while (open > 0 && !m_levels[open - 1].directory)
        --open;
    int descriptor = m_levels[open - 1].directory->Descriptor();
    for (std::size_t i = open; i <= index; ++i) {
        const int next = ::openat(descriptor, m_levels[i].name.c_str(), kSubdirectoryOpenFlags);
        if (i > open)
            ::close(descriptor);
        if (next < 0)
            return -1;
        if (!IsSameDirectory(next, m_levels[i].device, m_levels[i].inode)) {
            ::close(next);
            return -1;
        }
        descriptor = next;
    }
    return descriptor;
}

bool TreeWalk::ScanSelectedFiles(const std::string& directory,
                                 const std::vector<std::string>& names) {
    const std::string directoryPath = DirectoryWithSeparator(directory);
    if (m_hooks.showCaption)
        m_hooks.showCaption(
            FileCountCaption(static_cast<std::int64_t>(names.size()), directoryPath));
    std::shared_ptr<const OpenDirectory> open;
    if (const int descriptor = ::open(directory.c_str(), kDirectoryOpenFlags); descriptor >= 0)
        open = std::make_shared<const OpenDirectory>(descriptor);
    if (directoryPath != m_lastDirectoryLine)
        AddDirectoryLine(directoryPath);
    for (const std::string& name : names) {
        m_consumer.AddFile({open, directoryPath, name, true});
        if (FileHandedOn())
            return true;
    }
    m_consumer.ListingHandedOn();
    return false;
}

// --- scanned at once --------------------------------------------------------------

DirectoryWalk::DirectoryWalk(QuillScan& scanner, ReportSink& sink,
                             std::vector<std::string> patterns, bool recursive, WalkHooks hooks)
    : DirectoryWalk(scanner, sink, WalkOptionsFor(std::move(patterns), recursive),
                    std::move(hooks)) {}

DirectoryWalk::DirectoryWalk(QuillScan& scanner, ReportSink& sink, WalkOptions options,
                             WalkHooks hooks)
    : m_walk(m_consumer, std::move(options), hooks) {
    m_consumer.scanner = &scanner;
    m_consumer.sink = &sink;
    m_consumer.unreadable = std::move(hooks.unreadable);
}

void DirectoryWalk::ScanAtOnce::AddDirectoryLine(const std::string& directoryPath) {
    directoryLines.Entered(directoryPath);
}

void DirectoryWalk::ScanAtOnce::AddFile(FileToScan file) {
    problems.clear();
    current = &file;
    step(*scanner, *sink, file, problems, *this);
    current = nullptr;
    for (const ReadProblem& problem : problems)
        AddProblem(problem);
}

void DirectoryWalk::ScanAtOnce::BeforeFileReport() {
    if (directoryLines.LineBeforeReport(current->directoryPath))
        sink->AddLine(DirectoryLineText(current->directoryPath));
}

void DirectoryWalk::ScanAtOnce::LeftDirectory() {
    directoryLines.LeftDirectory();
}

void DirectoryWalk::ScanAtOnce::AddProblem(ReadProblem problem) {
    if (unreadable)
        unreadable(problem);
}

} // namespace kestrel
