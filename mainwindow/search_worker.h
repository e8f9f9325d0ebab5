#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QObject>

#include "line_buffer.h"
#include "report_records.h"
#include "report_sink.h"
#include "walk.h"

namespace kestrel {

// What a search makes: the lines of the result list, or its reports as
// kestrel-scan writes them with --json or --csv (and no lines).
enum class SearchOutput { Lines, JsonLines, Csv };

// What a search is to do, copied from the window when it starts.
struct SearchRequest {
    std::string root;                  // the directory the search starts in
    std::vector<std::string> selected; // files of root to scan; none: walk root
    std::vector<std::string> patterns;
    bool recursive = false;
    bool lookInside = false; // every file tested for being a container, members reported
    ReportLayout layout;
    ReportLocale locale;
    SearchOutput output = SearchOutput::Lines;
};

// What the walk has done since the window last took its progress.
struct SearchProgress {
    LineBuffer lines;                   // new lines of the result list, with their kinds
    ReportRecords records;              // their reports, by the line of `lines` each starts on
    std::string written;                // the reports as kestrel-scan writes them, in order
    std::int64_t scannedCount = 0;      // files handed to the scanner in all
    std::optional<std::string> caption; // the latest status caption, when a new one came
    bool listFull = false;              // lines were lost for want of memory; the walk stopped
    std::vector<ReadProblem> problems;  // what could not be read, kept up to kMaxProblemsKept
    std::int64_t problemCount = 0;      // what could not be read in all
    bool stopped = false;               // the walk was stopped before its end
    // The file or member being read when a stop came: its report is cut short
    // there, or missing. Empty when the walk stopped between files.
    std::string stoppedIn;
    bool finished = false; // the walk has ended, and this is the last of it
};

// Runs a search on a thread of its own with a QuillScan of its own, so the
// window's thread never waits on a file. The walk hands its progress over after
// every file and every directory it enters; the window takes it when told, and
// now and then on its own (see ProgressReady). Stop sets the stop flag, which
// the walk tests after each file and the scanner between the blocks of a
// large file.
class SearchWorker : public QObject {
    Q_OBJECT

public:
    // ProgressReady is sent at most this often; the window takes progress
    // on its own at the other interval.
    static constexpr int kNotifyIntervalMs = 40;
    static constexpr int kTakeIntervalMs = 100;
    // The problems kept for the window to list; a tree of unreadable files
    // is counted in full but not held in memory.
    static constexpr std::size_t kMaxProblemsKept = 1000;

    explicit SearchWorker(QObject* parent = nullptr);
    ~SearchWorker() override; // stops the search and waits for its thread

    void Start(SearchRequest request);
    void Stop();
    // Waits for the thread to end: at once after the last progress, within a
    // fraction of a second after Stop.
    void Join();
    SearchProgress TakeProgress();

Q_SIGNALS:
    // Sent from the search's thread when progress waits, none was sent since
    // the window last took it, and kNotifyIntervalMs have passed since the
    // last was sent, and at the end: at most one waits in the window's event
    // queue, and the window takes a few batches a second however fast the
    // files go by. What is held back behind a large file the window takes on
    // its own at kTakeIntervalMs.
    void ProgressReady();

private:
    void Run(SearchRequest request);
    void HandOver(LineBuffer& lines, ReportRecords& records, std::string& written,
                  std::int64_t scannedCount, std::optional<std::string>& caption, bool finished);
    void AddProblem(const ReadProblem& problem);

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    SearchProgress m_progress;                        // guarded by m_mutex
    bool m_progressSent = false;                      // guarded by m_mutex
    std::size_t m_problemsTaken = 0;                  // guarded by m_mutex
    std::chrono::steady_clock::time_point m_lastSent; // guarded by m_mutex
};

} // namespace kestrel
