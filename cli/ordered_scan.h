#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "quill_scan.h"
#include "walk.h"

namespace kestrel {

// Where the scan's output goes, in walk order. The calls come from the walk's
// thread or from a worker, one at a time.
class ScanOutput {
public:
    virtual ~ScanOutput() = default;
    // The formatted bytes of a directory line or of whole reports.
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

// Scans the files the walk hands on and writes their output in walk order,
// report by report as each is complete. With one job each file is scanned at
// once on the walk's thread. With more, worker threads scan, each with its own
// QuillScan; at most `jobsInFlight` files wait or are scanned at a time.
//
// The oldest file not yet written is at the front: the thread that scans it
// writes its reports as they come, so the members of a large container stream
// out. The files behind it hold their whole reports until they reach the
// front; once all of them hold more than `heldBytes` per job, each waits at
// its next report for the front to move. So memory stays bounded however
// many members a container has, and the bytes are those of one job.
//
// Once the stop flag is set, nothing more is written: what is written is
// always the start of the whole output, ending on a whole report. A report
// that may have been cut by the stop is never written.
class OrderedScan : public WalkConsumer {
public:
    struct Setup {
        int jobs = 1;
        std::size_t jobsInFlight = 1;
        std::size_t heldBytes = std::size_t{128} << 10;
        const ReportFormat* format = nullptr; // outlives the scan
        ReportLayout layout;
        ScanStep step = ScanFileStep;
        const std::atomic<bool>* stop = nullptr;
        // Tried by the job before its file is scanned: when it makes the
        // file's output itself (records copied from an earlier run), that
        // output takes the scan's place. It runs on the workers, beside the
        // walk, so that with several jobs looking at files and copying their
        // records is shared out as scanning them is.
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
    void ListingHandedOn() override;
    // Waits for the files in flight and their output; the workers end.
    void Finish();

private:
    struct Job;
    // One scanner with the buffers its sink writes into. It stands between
    // the scanner and the sink to see each report end.
    struct Scanner : ReportSink {
        Scanner(OrderedScan& scan, const Setup& setup);
        void AddLine(const std::string& line) override { sink->AddLine(line); }
        void AddReport(const ReportInfo& report) override;

        OrderedScan& owner;
        std::string bytes; // since the last report handed over
        std::vector<ReadProblem> problems;
        std::unique_ptr<ReportSink> sink;
        QuillScan scanner;
        Job* job = nullptr; // being scanned
    };
    struct Job {
        FileToScan file;
        bool isFile = false;
        std::string directoryLine; // a directory line of the walk: its path
        // Whole reports and what went wrong beside them, not yet written.
        std::string bytes;
        std::vector<ReadProblem> problems;
        bool done = false;
        bool fileReported = false;  // its output opens with the file's own report
        bool leftDirectory = false; // its output ends under another folder
    };
    // What the step says of a job's lines.
    struct JobLines : StepLines {
        explicit JobLines(Job& scanned) : job(scanned) {}
        void BeforeFileReport() override { job.fileReported = true; }
        void LeftDirectory() override { job.leftDirectory = true; }
        Job& job;
    };

    bool StopRequested() const;
    void Scan(Scanner& scanner, Job& job);
    bool MadeOutput(Scanner& scanner, Job& job, JobLines& lines);
    void RunWorker(Scanner& scanner);
    void HandOver(Scanner& scanner, bool done);
    void WriteFromFront();
    void Write(Job& job, const std::string& bytes, const std::vector<ReadProblem>& problems,
               bool finished);
    void AddFinishedJob(std::unique_ptr<Job> job);
    void WaitForRoom(std::size_t jobsLeft);
    void WakeWorkers();

    Setup m_setup;
    ScanOutput& m_output;
    std::size_t m_heldLimit;
    std::unique_ptr<Scanner> m_ownScanner; // one job: the walk's thread scans

    // The state of what is written, used by the one thread that writes
    // (m_writing).
    std::string m_lineBytes;
    std::vector<ReadProblem> m_lineProblems;
    std::unique_ptr<ReportSink> m_lineSink; // formats the directory lines
    DirectoryLineRule m_directoryLines;
    bool m_outputEnded = false; // stopped: nothing more is written

    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_frontMoved;        // a job left the front, or the jobs hold less
    std::condition_variable m_roomForWalk;       // fewer jobs in flight
    std::deque<std::unique_ptr<Job>> m_inFlight; // walk order, the oldest first
    std::deque<Job*> m_waiting;                  // not yet taken by a worker
    std::size_t m_heldBytes = 0;                 // in the jobs' buffers
    int m_jobsHeldBack = 0;                      // waiting for the front to move
    std::optional<std::size_t> m_walkWaitsFor;   // for at most this many jobs in flight
    bool m_writing = false;                      // a thread writes from the front
    std::condition_variable m_writingEnded;
    bool m_closing = false;
    std::vector<std::unique_ptr<Scanner>> m_scanners;
    std::vector<std::thread> m_workers;
};

} // namespace kestrel
