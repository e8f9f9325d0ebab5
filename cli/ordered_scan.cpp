#include "ordered_scan.h"

#include <utility>

namespace kestrel {

OrderedScan::Scanner::Scanner(const Setup& setup)
    : sink(setup.format->MakeSink(bytes, problems)), scanner(*sink, setup.layout) {
    setup.format->PrepareScanner(scanner, *sink);
    scanner.SetStopFlag(setup.stop);
}

OrderedScan::OrderedScan(Setup setup, ScanOutput& output)
    : m_setup(std::move(setup)), m_output(output),
      m_lineSink(m_setup.format->MakeSink(m_lineBytes, m_lineProblems)) {
    if (m_setup.jobs <= 1) {
        m_ownScanner = std::make_unique<Scanner>(m_setup);
        return;
    }
    for (int i = 0; i < m_setup.jobs; ++i)
        m_scanners.push_back(std::make_unique<Scanner>(m_setup));
    for (const auto& scanner : m_scanners)
        m_workers.emplace_back([this, &scanner = *scanner] { RunWorker(scanner); });
}

OrderedScan::~OrderedScan() {
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_workReady.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

bool OrderedScan::StopRequested() const {
    return m_setup.stop != nullptr && m_setup.stop->load(std::memory_order_relaxed);
}

void OrderedScan::Scan(Scanner& scanner, Job& job) const {
    JobLines lines(job);
    if (!StopRequested())
        m_setup.step(scanner.scanner, *scanner.sink, job.file, scanner.problems, lines);
    job.problems = std::move(scanner.problems);
    scanner.problems.clear();
    // Once a stop is asked for, the scan may have ended between two blocks.
    job.stopped = StopRequested();
    job.bytes = scanner.bytes; // a copy of its size: the scanner's buffer keeps its room
    scanner.bytes.clear();
    job.file.directory.reset(); // the directory may close before the output is written
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
        bool wanted = false;
        {
            const std::lock_guard lock(m_mutex);
            wanted = MarkDone(*job);
        }
        if (wanted)
            m_jobDone.notify_one();
    }
}

// The walk's directory lines are written in walk order right before the
// first report in their directory, and again after lines of another folder.
void OrderedScan::WriteJob(Job& job) {
    if (m_outputEnded || job.stopped) {
        m_outputEnded = true;
        return;
    }
    if (!job.directoryLine.empty())
        m_pendingLine = job.directoryLine;
    for (const ReadProblem& problem : job.problems)
        m_output.Problem(problem);
    const std::string& directoryPath = job.file.directoryPath;
    if (job.fileReported && (m_pendingLine == directoryPath || m_writtenLine != directoryPath)) {
        m_lineSink->AddLine(DirectoryLineText(directoryPath));
        if (!m_lineBytes.empty())
            m_output.WriteReports(m_lineBytes);
        m_lineBytes.clear();
    }
    if (job.fileReported) {
        m_pendingLine.clear();
        m_writtenLine = directoryPath;
    }
    if (job.leftDirectory)
        m_writtenLine.clear();
    if (!job.bytes.empty())
        m_output.WriteReports(job.bytes);
    if (job.isFile)
        m_output.FileDone();
}

// Called with the mutex held. True when the walk's thread waits for the
// oldest jobs and enough of them are now done.
bool OrderedScan::MarkDone(Job& job) {
    job.done = true;
    while (m_doneAtFront < m_inFlight.size() && m_inFlight[m_doneAtFront]->done)
        ++m_doneAtFront;
    return m_wantedDone != 0 && m_doneAtFront >= m_wantedDone;
}

// Writes the oldest jobs that are done. When the window of jobs in flight is
// full (or at the finish), it first waits until half of it (or all) is done
// at the front, so the walk's thread wakes once per many files, not per file.
void OrderedScan::WriteFinishedJobs(bool finish) {
    std::vector<std::unique_ptr<Job>> ready;
    {
        std::unique_lock lock(m_mutex);
        const std::size_t inFlight = m_inFlight.size();
        const std::size_t keepAtMost =
            finish ? 0 : (inFlight >= m_setup.jobsInFlight ? m_setup.jobsInFlight / 2 : inFlight);
        if (m_doneAtFront < inFlight - keepAtMost) {
            m_wantedDone = inFlight - keepAtMost;
            m_jobDone.wait(lock, [this] { return m_doneAtFront >= m_wantedDone; });
            m_wantedDone = 0;
        }
        for (; m_doneAtFront > 0; --m_doneAtFront) {
            ready.push_back(std::move(m_inFlight.front()));
            m_inFlight.pop_front();
        }
    }
    for (const std::unique_ptr<Job>& job : ready)
        WriteJob(*job);
}

void OrderedScan::AddFinishedJob(std::unique_ptr<Job> job) {
    if (m_ownScanner) {
        WriteJob(*job);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_inFlight.push_back(std::move(job));
        MarkDone(*m_inFlight.back());
    }
    WriteFinishedJobs(false);
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
    if (m_setup.madeOutput && !StopRequested()) {
        JobLines lines(*job);
        std::vector<ReadProblem> problems;
        if (m_setup.madeOutput(job->file, job->bytes, problems, lines)) {
            job->file.directory.reset();
            AddFinishedJob(std::move(job));
            return;
        }
        for (ReadProblem& problem : problems) // said before the file is scanned
            AddProblem(std::move(problem));
    }
    if (m_ownScanner) {
        Scan(*m_ownScanner, *job);
        WriteJob(*job);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(job.get());
        m_inFlight.push_back(std::move(job));
    }
    m_workReady.notify_one();
    WriteFinishedJobs(false);
}

void OrderedScan::Finish() {
    if (!m_ownScanner)
        WriteFinishedJobs(true);
}

} // namespace kestrel
