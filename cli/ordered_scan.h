#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "quill_scan.h"
#include "walk.h"

namespace kestrel {

// Where the scan's output goes, always on the walk's thread and in walk order.
class ScanOutput {
public:
    virtual ~ScanOutput() = default;
    // The formatted bytes of a directory line or of one file's reports.
    virtual void WriteReports(std::string_view bytes) = 0;
    virtual void Problem(const ReadProblem& problem) = 0;
    virtual void FileDone() = 0; // one more file's reports written
};

// How the front end formats reports, for each scanner: a sink that appends
// them to `out` and tells what goes wrong beside a report (a digest that could
// not be computed) to `problems`, and what the scanner must do for that sink.
class ReportFormat {
public:
    virtual ~ReportFormat() = default;
    virtual std::unique_ptr<ReportSink> MakeSink(std::string& out,
                                                 std::vector<ReadProblem>& problems) const = 0;
    virtual void PrepareScanner(QuillScan& scanner, ReportSink& sink) const = 0;
};

// Scans the files the walk hands on and writes their output in walk order.
// With one job each file is scanned at once on the walk's thread. With more,
// worker threads scan, each with its own QuillScan into a buffer of its own;
// at most `jobsInFlight` files wait or are scanned at a time, and the output
// of the oldest ones is written as soon as they are complete, so the bytes are
// those of one job and memory stays bounded however large the tree.
//
// When the stop flag is set, a file whose scan may have been cut gives no
// output, and nothing after it is written: what is written is always the
// start of the whole output, ending on a whole report.
class OrderedScan : public WalkConsumer {
public:
    struct Setup {
        int jobs = 1;
        std::size_t jobsInFlight = 1;
        const ReportFormat* format = nullptr; // outlives the scan
        ReportLayout layout;
        ScanStep step = ScanFileStep;
        const std::atomic<bool>* stop = nullptr;
        // Tried on the walk's thread before a file is scanned: when it makes
        // the file's output itself (records copied from an earlier run), that
        // output takes the scan's place, and no worker is woken for it.
        std::function<bool(const FileToScan& file, std::string& bytes,
                           std::vector<ReadProblem>& problems, StepLines& lines)>
            madeOutput;
    };

    OrderedScan(Setup setup, ScanOutput& output);
    ~OrderedScan() override;
    OrderedScan(const OrderedScan&) = delete;
    OrderedScan& operator=(const OrderedScan&) = delete;

    void AddDirectoryLine(const std::string& directoryPath) override;
    void AddFile(FileToScan file) override;
    void AddProblem(ReadProblem problem) override;
    // Waits for the files in flight and writes their output; the workers end.
    void Finish();

private:
    // One scanner with the buffers its sink writes into.
    struct Scanner {
        Scanner(const Setup& setup);
        std::string bytes;
        std::vector<ReadProblem> problems;
        std::unique_ptr<ReportSink> sink;
        QuillScan scanner;
    };
    struct Job {
        FileToScan file;
        bool isFile = false;
        std::string directoryLine; // a directory line of the walk: its path
        std::string bytes;
        std::vector<ReadProblem> problems;
        bool done = false;
        bool stopped = false;
        bool fileReported = false;  // its bytes open with the file's own report
        bool leftDirectory = false; // its bytes end under another folder
    };
    // What the step says of a job's lines.
    struct JobLines : StepLines {
        explicit JobLines(Job& scanned) : job(scanned) {}
        void BeforeFileReport() override { job.fileReported = true; }
        void LeftDirectory() override { job.leftDirectory = true; }
        Job& job;
    };

    bool StopRequested() const;
    void Scan(Scanner& scanner, Job& job) const;
    void RunWorker(Scanner& scanner);
    bool MarkDone(Job& job);
    void AddFinishedJob(std::unique_ptr<Job> job);
    void WriteJob(Job& job);
    void WriteFinishedJobs(bool finish);

    Setup m_setup;
    ScanOutput& m_output;
    std::string m_lineBytes;
    std::vector<ReadProblem> m_lineProblems;
    std::unique_ptr<ReportSink> m_lineSink; // formats the directory lines
    std::unique_ptr<Scanner> m_ownScanner;  // one job: the walk's thread scans
    bool m_outputEnded = false;             // a stopped file was met: nothing more is written
    std::string m_pendingLine;              // the walk's directory line for the files that follow
    std::string m_writtenLine; // the directory of the last line written, if reports follow it

    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_jobDone;
    std::deque<std::unique_ptr<Job>> m_inFlight; // walk order, the oldest first
    std::deque<Job*> m_waiting;                  // not yet taken by a worker
    std::size_t m_doneAtFront = 0;               // the oldest this many jobs are done
    std::size_t m_wantedDone = 0;                // the walk's thread waits for this many; 0: not
    bool m_closing = false;
    std::vector<std::unique_ptr<Scanner>> m_scanners;
    std::vector<std::thread> m_workers;
};

} // namespace kestrel
