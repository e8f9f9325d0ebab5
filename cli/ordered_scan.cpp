#include "ordered_scan.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace kestrel {

namespace {

// Idle workers are woken once this many files wait, or when the walk is done
// with a listing or waits itself: a wake for every file would cost more than
// copying an earlier run's records for it.
constexpr std::size_t kFilesPerWake = 16;

} // namespace

OrderedScan::Scanner::Scanner(OrderedScan& scan, const Setup& setup)
    : owner(scan), sink(setup.format->MakeSink(bytes, problems)), scanner(*this, setup.layout) {
    setup.format->PrepareScanner(scanner, *sink);
    scanner.SetStopFlag(setup.stop);
}

void OrderedScan::Scanner::AddReport(const ReportInfo& report) {
    sink->AddReport(report);
    owner.HandOver(*this, false);
}

OrderedScan::OrderedScan(Setup setup, ScanOutput& output)
    : m_setup(std::move(setup)), m_output(output),
      m_heldLimit(m_setup.heldBytes * static_cast<std::size_t>(std::max(m_setup.jobs, 1))),
      m_lineSink(m_setup.format->MakeSink(m_lineBytes, m_lineProblems)) {
    if (m_setup.jobs <= 1) {
        m_ownScanner = std::make_unique<Scanner>(*this, m_setup);
        return;
    }
    for (int i = 0; i < m_setup.jobs; ++i)
        m_scanners.push_back(std::make_unique<Scanner>(*this, m_setup));
    for (const auto& scanner : m_scanners)
        m_workers.emplace_back([this, &scanner = *scanner] { RunWorker(scanner); });
}

OrderedScan::~OrderedScan() {
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_workReady.notify_all();
    m_frontMoved.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

bool OrderedScan::StopRequested() const {
    return m_setup.stop != nullptr && m_setup.stop->load(std::memory_order_relaxed);
}

void OrderedScan::Scan(Scanner& scanner, Job& job) {
    scanner.job = &job;
    JobLines lines(job);
    if (!StopRequested() && !MadeOutput(scanner, job, lines))
        m_setup.step(scanner.scanner, *scanner.sink, job.file, scanner.problems, lines);
    job.file.directory.reset(); // the directory may close before the output is written
    HandOver(scanner, true);
    scanner.job = nullptr; // written and gone, perhaps
}

// The problems met while trying are said before the file is scanned.
bool OrderedScan::MadeOutput(Scanner& scanner, Job& job, JobLines& lines) {
    if (!m_setup.madeOutput)
        return false;
    return m_setup.madeOutput(job.file, scanner.bytes, scanner.problems, lines);
}

void OrderedScan::RunWorker(Scanner& scanner) {
    while (true) {
        Job* job = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_workReady.wait(lock, [this] { return m_closing || !m_waiting.empty(); });
            if (m_waiting.empty())
                return;
            job = m_waiting.front();
            m_waiting.pop_front();
        }
        Scan(scanner, *job);
    }
}

// Hands what the scanner wrote since the last report over to its job: whole
// reports when a report ends, the rest when the job is done. Once a stop is
// asked for, the scan may have ended between two blocks: nothing more counts.
// The job at the front writes at once; one behind it waits here while all
// the jobs together hold more than their share.
void OrderedScan::HandOver(Scanner& scanner, bool done) {
    Job& job = *scanner.job;
    const bool kept = !StopRequested();
    bool front = false;
    {
        std::unique_lock lock(m_mutex);
        if (kept) {
            job.bytes += scanner.bytes;
            m_heldBytes += scanner.bytes.size();
            std::move(scanner.problems.begin(), scanner.problems.end(),
                      std::back_inserter(job.problems));
        }
        job.done = done;
        const auto atFront = [&] { return m_inFlight.front().get() == &job; };
        if (!done && !atFront() && m_heldBytes > m_heldLimit) {
            ++m_jobsHeldBack;
            m_frontMoved.wait(lock,
                              [&] { return m_closing || atFront() || m_heldBytes <= m_heldLimit; });
            --m_jobsHeldBack;
        }
        front = atFront();
    }
    scanner.bytes.clear(); // keeps its room for the next report
    scanner.problems.clear();
    if (front)
        WriteFromFront();
}

// Writes what the front job holds and, while the front job is done, goes on
// with the next. One thread writes at a time, so the output keeps walk order.
// A thread that finds another writing does not wait for it: the writer looks
// at the front again after every write, under the lock that a job is marked
// done under, and stops only when the front holds nothing to write.
void OrderedScan::WriteFromFront() {
    {
        const std::lock_guard lock(m_mutex);
        if (m_writing)
            return;
        m_writing = true;
    }
    while (true) {
        std::string bytes;
        std::vector<ReadProblem> problems;
        std::unique_ptr<Job> finished;
        Job* front = nullptr;
        {
            const std::lock_guard lock(m_mutex);
            front = m_inFlight.empty() ? nullptr : m_inFlight.front().get();
            if (front == nullptr ||
                (!front->done && front->bytes.empty() && front->problems.empty())) {
                m_writing = false;
                m_writingEnded.notify_all();
                return;
            }
            bytes.swap(front->bytes);
            problems.swap(front->problems);
            m_heldBytes -= bytes.size();
            if (front->done) {
                finished = std::move(m_inFlight.front());
                m_inFlight.pop_front();
                if (m_walkWaitsFor && m_inFlight.size() <= *m_walkWaitsFor)
                    m_roomForWalk.notify_one();
            }
            if (m_jobsHeldBack > 0 && (finished || m_heldBytes <= m_heldLimit))
                m_frontMoved.notify_all();
        }
        Write(*front, bytes, problems, finished != nullptr);
    }
}

// The walk's directory lines are written in walk order right before the
// first report in their directory, and again after lines of another folder.
void OrderedScan::Write(Job& job, const std::string& bytes,
                        const std::vector<ReadProblem>& problems, bool finished) {
    if (m_outputEnded || StopRequested()) {
        m_outputEnded = true;
        return;
    }
    if (!job.directoryLine.empty())
        m_directoryLines.Entered(job.directoryLine);
    for (const ReadProblem& problem : problems)
        m_output.Problem(problem);
    const std::string& directoryPath = job.file.directoryPath;
    if (job.fileReported && m_directoryLines.LineBeforeReport(directoryPath)) {
        m_lineSink->AddLine(DirectoryLineText(directoryPath));
        if (!m_lineBytes.empty())
            m_output.WriteReports(m_lineBytes);
        m_lineBytes.clear();
    }
    if (!bytes.empty())
        m_output.WriteReports(bytes);
    if (!finished)
        return;
    if (job.leftDirectory)
        m_directoryLines.LeftDirectory();
    if (job.isFile)
        m_output.FileDone();
}

// When the jobs in flight fill the window, the walk waits until no more than
// `jobsLeft` are, so that it wakes once per many files, not per file.
void OrderedScan::WaitForRoom(std::size_t jobsLeft) {
    WakeWorkers();
    std::unique_lock lock(m_mutex);
    m_walkWaitsFor = jobsLeft;
    m_roomForWalk.wait(lock, [&] { return m_inFlight.size() <= jobsLeft; });
    m_walkWaitsFor.reset();
}

void OrderedScan::AddFinishedJob(std::unique_ptr<Job> job) {
    job->done = true;
    std::size_t inFlight = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_heldBytes += job->bytes.size(); // records copied from an earlier run
        m_inFlight.push_back(std::move(job));
        inFlight = m_inFlight.size();
    }
    if (inFlight == 1)
        WriteFromFront();
    else if (inFlight >= m_setup.jobsInFlight)
        WaitForRoom(m_setup.jobsInFlight / 2);
}

void OrderedScan::AddDirectoryLine(const std::string& directoryPath) {
    auto job = std::make_unique<Job>();
    job->directoryLine = directoryPath;
    AddFinishedJob(std::move(job));
}

void OrderedScan::AddProblem(ReadProblem problem) {
    auto job = std::make_unique<Job>();
    job->problems.push_back(std::move(problem));
    AddFinishedJob(std::move(job));
}

void OrderedScan::AddFile(FileToScan file) {
    auto job = std::make_unique<Job>();
    job->file = std::move(file);
    job->isFile = true;
    Job& added = *job;
    std::size_t inFlight = 0;
    std::size_t waiting = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_inFlight.push_back(std::move(job));
        if (!m_ownScanner)
            m_waiting.push_back(&added);
        inFlight = m_inFlight.size();
        waiting = m_waiting.size();
    }
    if (m_ownScanner) {
        Scan(*m_ownScanner, added);
        return;
    }
    if (waiting >= kFilesPerWake)
        WakeWorkers();
    if (inFlight >= m_setup.jobsInFlight)
        WaitForRoom(m_setup.jobsInFlight / 2);
}

void OrderedScan::ListingHandedOn() {
    WakeWorkers();
}

// A worker that is not asleep takes the next waiting file by itself.
void OrderedScan::WakeWorkers() {
    if (!m_ownScanner)
        m_workReady.notify_all();
}

void OrderedScan::Finish() {
    WaitForRoom(0);
    std::unique_lock lock(m_mutex); // until the last is written
    m_writingEnded.wait(lock, [this] { return !m_writing; });
}

} // namespace kestrel
