#include "scan_run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sched.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "checked_output.h"
#include "container_readers.h"
#include "look_inside_step.h"
#include "ordered_scan.h"
#include "output_sinks.h"
#include "progress.h"
#include "reuse.h"
#include "text.h"

namespace kestrel {

namespace {

// Set by Ctrl-C, and when the output fails: the walk stops at its next test
// and a scan that reads a whole file stops between two blocks. A lock-free
// atomic, so the signal handler may set it.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);
volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_progressShown = 0;

// The first Ctrl-C stops the run after what is being written; a second one
// ends it at once, leaving a clean line behind.
void OnInterrupt(int) {
    if (g_interrupted != 0) {
        if (g_progressShown != 0) {
            const ssize_t written = ::write(STDERR_FILENO, kEraseLine, sizeof kEraseLine - 1);
            (void)written; // nothing more can be done about it now
        }
        ::_exit(kExitCancelled);
    }
    g_interrupted = 1;
    g_stop.store(true, std::memory_order_relaxed);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // A write held up by a reader that is not reading (a pager) goes on after
    // Ctrl-C instead of failing half done.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    // A closed pipe is seen as EPIPE from the write, whatever disposition the
    // caller left, and ends the run quietly.
    ::signal(SIGPIPE, SIG_IGN);
    // Past a file size limit (ulimit -f) a write fails with EFBIG, said like
    // any write error (a temporary file's too), instead of ending the run
    // without a word.
    ::signal(SIGXFSZ, SIG_IGN);
}

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

bool ShowProgress(ProgressMode mode) {
    if (mode != ProgressMode::kAuto)
        return mode == ProgressMode::kOn;
    // On one terminal the report itself shows how far the run has come.
    return ::isatty(STDERR_FILENO) != 0 && ::isatty(STDOUT_FILENO) == 0;
}

// A scanner's writer with the digests it adds, which see the file's bytes
// as the scanner reads them.
class FormatSink : public ReportSink {
public:
    FormatSink(OutputFormat format, const std::vector<std::string>& hashes,
               const std::string& madeBy, std::string& out, std::vector<ReadProblem>& problems) {
        if (!hashes.empty())
            m_digests = std::make_unique<FileDigests>(hashes);
        const ReportProblem problem = [&problems](const std::string& path,
                                                  const std::string& text) {
            problems.push_back({path, text});
        };
        if (format == OutputFormat::kJson) {
            auto json = std::make_unique<JsonSink>(out, m_digests.get(), problem, madeBy);
            m_json = json.get();
            m_writer = std::move(json);
        } else if (format == OutputFormat::kCsv) {
            m_writer = std::make_unique<CsvSink>(out, m_digests.get(), problem);
        } else {
            m_writer = std::make_unique<TextSink>(out);
        }
    }
    void AddLine(const std::string& line) override { m_writer->AddLine(line); }
    void AddReport(const ReportInfo& report) override { m_writer->AddReport(report); }
    FileDigests* Digests() const { return m_digests.get(); }
    JsonSink* Json() const { return m_json; }

private:
    std::unique_ptr<FileDigests> m_digests;
    std::unique_ptr<ReportSink> m_writer;
    JsonSink* m_json = nullptr; // m_writer, when it writes JSON
};

class CommandLineFormat final : public ReportFormat {
public:
    explicit CommandLineFormat(const ScanOptions& options)
        : m_options(options),
          m_madeBy(options.format == OutputFormat::kJson ? MadeBy(options) : "") {}
    std::unique_ptr<ReportSink> MakeSink(std::string& out,
                                         std::vector<ReadProblem>& problems) const override {
        return std::make_unique<FormatSink>(m_options.format, m_options.hashes, m_madeBy, out,
                                            problems);
    }
    void PrepareScanner(QuillScan& scanner, ReportSink& sink) const override {
        // The facts beside the report are read only for the writers that show them.
        scanner.SetReadFacts(m_options.format != OutputFormat::kText);
        scanner.SetByteObserver(static_cast<FormatSink&>(sink).Digests());
    }

private:
    const ScanOptions& m_options;
    std::string m_madeBy;
};

// Files waiting or being scanned, per worker: enough that the other workers
// go on while one scans a large file at the head of the line, and that the
// walk, which waits when they are all taken until half are done, seldom
// waits when files cost little (records copied with --reuse); few enough
// that their directories stay open cheaply (the descriptor budget caps them
// too).
constexpr std::size_t kJobsInFlightPerWorker = 128;

// Consecutive file PATHs of one directory are scanned as files selected there,
// in groups of at most this many names, under one directory line.
constexpr std::size_t kLargestFileGroup = 4096;

bool CanReadFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return false;
    ::close(descriptor);
    return true;
}

class ScanRun final : public ScanOutput {
public:
    ScanRun(const ScanOptions& options, PreviousRun* previous);
    int Run();

    void WriteReports(std::string_view bytes) override;
    void Problem(const ReadProblem& problem) override;
    void FileDone() override;

private:
    static bool Stopped() { return g_stop.load(std::memory_order_relaxed); }
    OrderedScan::Setup ScanSetup() const;
    WalkHooks Hooks();
    void Say(const std::string& message);
    void Fail(const std::string& path, const std::string& reason);
    void ScanOperand(const std::string& path);
    void ScanPendingFiles();
    void ScanListedPaths();

    const ScanOptions& m_options;
    PreviousRun* m_previous;
    CommandLineFormat m_format{m_options};
    CheckedOutput m_output{STDOUT_FILENO};
    ProgressLine m_progress;
    // The output comes from the thread that scans the file at the front,
    // beside the walk's own messages and captions.
    std::mutex m_sayMutex;
    std::atomic<bool> m_failed{false};
    OrderedScan m_scan;
    TreeWalk m_walk;
    std::string m_pendingDirectory;
    std::vector<std::string> m_pendingNames;
};

// Looking inside containers, the walk hands on every file and the step
// applies the patterns.
WalkOptions WalkOptionsOf(const ScanOptions& options) {
    WalkOptions walk = options.walk;
    if (options.lookInside)
        walk.patterns.clear();
    return walk;
}

ScanRun::ScanRun(const ScanOptions& options, PreviousRun* previous)
    : m_options(options), m_previous(previous),
      m_progress(STDERR_FILENO, ShowProgress(options.progress)), m_scan(ScanSetup(), *this),
      m_walk(m_scan, WalkOptionsOf(options), Hooks()) {
    g_progressShown = m_progress.Enabled() ? 1 : 0;
}

OrderedScan::Setup ScanRun::ScanSetup() const {
    OrderedScan::Setup setup;
    setup.jobs = std::clamp(m_options.jobs, 1, kMaxJobs);
    const std::size_t budget = m_options.walk.descriptorBudget != 0
                                   ? m_options.walk.descriptorBudget
                                   : DirectoryDescriptorBudget();
    setup.jobsInFlight = std::max<std::size_t>(
        2, std::min(kJobsInFlightPerWorker * static_cast<std::size_t>(setup.jobs), budget));
    setup.format = &m_format;
    setup.layout = m_options.layout;
    setup.stop = &g_stop;
    if (m_options.lookInside)
        setup.step = LookInsideStep({m_options.walk.patterns, m_options.containerLimits, {}});
    if (m_options.format == OutputFormat::kJson)
        setup.step = RecordStep(std::move(setup.step), [](ReportSink& sink) -> JsonSink& {
            return *static_cast<FormatSink&>(sink).Json();
        });
    if (m_previous != nullptr)
        setup.madeOutput = [copied = CopiedRecordsOptions{m_previous, m_options.lookInside,
                                                          m_options.walk.patterns}](
                               const FileToScan& file, std::string& records,
                               std::vector<ReadProblem>& problems, StepLines& lines) {
            return CopyUnchangedRecords(copied, file, records, problems, lines);
        };
    return setup;
}

WalkHooks ScanRun::Hooks() {
    WalkHooks hooks;
    hooks.showCaption = [this](const std::string& caption) {
        const std::lock_guard lock(m_sayMutex);
        m_progress.SetCaption(caption);
    };
    hooks.cancelled = [] { return Stopped(); };
    return hooks;
}

void ScanRun::Say(const std::string& message) {
    const std::lock_guard lock(m_sayMutex);
    m_progress.Clear();
    const std::string line =
        "kestrel-scan: " + ReplaceControlCharacters(SanitizeUtf8(message)) + "\n";
    WriteFully(STDERR_FILENO, line.data(), line.size());
}

void ScanRun::Fail(const std::string& path, const std::string& reason) {
    m_failed = true;
    Say(path + ": " + reason);
}

void ScanRun::WriteReports(std::string_view bytes) {
    m_output.Write(bytes);
    if (m_output.Error() != 0)
        g_stop.store(true);
}

void ScanRun::FileDone() {
    const std::lock_guard lock(m_sayMutex);
    m_progress.CountFile();
}

void ScanRun::Problem(const ReadProblem& problem) {
    if (m_output.Error() == 0) // after a write error the run is over
        Fail(problem.path, problem.reason);
}

void ScanRun::ScanPendingFiles() {
    if (!m_pendingNames.empty() && !Stopped())
        m_walk.ScanSelectedFiles(m_pendingDirectory, m_pendingNames);
    m_pendingNames.clear();
}

void ScanRun::ScanOperand(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return Fail(path, ErrorText(errno));
    if (S_ISDIR(info.st_mode)) {
        ScanPendingFiles();
        m_pendingDirectory.clear();
        if (::access(path.c_str(), R_OK | X_OK) != 0)
            return Fail(path, ErrorText(errno));
        m_walk.WalkDirectory(NormalDirectoryPath(path));
        return;
    }
    if (!S_ISREG(info.st_mode))
        return Fail(path, "not a regular file or directory");
    if (!CanReadFile(path))
        return Fail(path, ErrorText(errno));
    const std::filesystem::path filePath(path);
    const std::string parent = filePath.parent_path().string();
    const std::string directory = NormalDirectoryPath(parent.empty() ? "." : parent);
    if (directory != m_pendingDirectory || m_pendingNames.size() >= kLargestFileGroup)
        ScanPendingFiles();
    m_pendingDirectory = directory;
    m_pendingNames.push_back(filePath.filename().string());
}

// The paths of --files-from, read one at a time, so a list of any length
// takes no more memory than its longest path.
void ScanRun::ScanListedPaths() {
    const bool standardInput = m_options.filesFrom == "-";
    const std::string listName = standardInput ? "standard input" : m_options.filesFrom;
    std::FILE* list = standardInput ? stdin : std::fopen(m_options.filesFrom.c_str(), "re");
    if (list == nullptr)
        return Fail(listName, ErrorText(errno));
    const int separator = m_options.nullSeparated ? '\0' : '\n';
    char* entry = nullptr;
    std::size_t capacity = 0;
    while (!Stopped()) {
        errno = 0;
        const ssize_t length = ::getdelim(&entry, &capacity, separator, list);
        if (length < 0) {
            if (std::ferror(list))
                Fail(listName, ErrorText(errno));
            break;
        }
        std::string path(entry, static_cast<std::size_t>(length));
        if (!path.empty() && path.back() == static_cast<char>(separator))
            path.pop_back();
        if (!path.empty())
            ScanOperand(path);
    }
    std::free(entry);
    if (!standardInput)
        std::fclose(list);
}

int ScanRun::Run() {
    // Said once, before any report: which files need the library depends on
    // the tree, not on which job meets one first.
    if (m_options.lookInside && !SevenZipAvailable())
        Say(SevenZipMissingNote());
    if (m_options.format == OutputFormat::kCsv) {
        std::string unused;
        FileDigests digests(m_options.hashes);
        m_output.Write(CsvSink(unused, m_options.hashes.empty() ? nullptr : &digests).HeaderRow() +
                       "\r\n");
    }
    for (const std::string& path : m_options.paths) {
        if (Stopped())
            break;
        ScanOperand(path);
    }
    if (!m_options.filesFrom.empty() && !Stopped())
        ScanListedPaths();
    ScanPendingFiles();
    m_scan.Finish();
    m_output.Flush();
    m_progress.Clear();
    const int writeError = m_output.Error();
    if (writeError == EPIPE)
        return kExitReaderGone;
    if (writeError != 0) {
        Say("write error: " + ErrorText(writeError));
        return kExitReadOrWriteFailed;
    }
    if (g_interrupted != 0)
        return kExitCancelled;
    // A file that only the missing library reads was not read whole.
    const bool unread = m_options.lookInside && SevenZipWasNeeded();
    return m_failed || unread ? kExitReadOrWriteFailed : kExitDone;
}

} // namespace

int DefaultJobCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int count = 0;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        count = CPU_COUNT(&set);
    if (count <= 0)
        count = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(count, 1, kMaxJobs);
}

int RunScan(const ScanOptions& options) {
    InstallSignalHandlers();
    // With TZ unset, the C library looks at /etc/localtime again on every
    // mktime, and libarchive calls it for each entry of a zip's central
    // directory: a million entries cost seconds before the first member.
    // Named once, the same zone is read once.
    ::setenv("TZ", ":/etc/localtime", 0);
    PreviousRun previous;
    if (!options.reuse.empty()) {
        const std::string error =
            previous.Open(options.reuse, MadeBy(options), &g_stop, options.jobs);
        if (!error.empty()) {
            const std::string line =
                "kestrel-scan: " + ReplaceControlCharacters(SanitizeUtf8(options.reuse)) + ": " +
                error + "\n";
            WriteFully(STDERR_FILENO, line.data(), line.size());
            return kExitUsage;
        }
    }
    ScanRun run(options, options.reuse.empty() ? nullptr : &previous);
    return run.Run();
}

} // namespace kestrel
