#include "search_worker.h"

#include "look_inside_step.h"
#include "quill_scan.h"
#include "records.h"
#include "walk.h"

namespace kestrel {

namespace {

// The walk's directory lines.
class DirectoryLineSink : public ReportSink {
public:
    explicit DirectoryLineSink(LineBuffer& lines, bool& lost) : m_lines(lines), m_lost(lost) {}
    void AddLine(const std::string& line) override {
        m_lost = !m_lines.Append(line, LineKind::Directory) || m_lost;
    }

private:
    LineBuffer& m_lines;
    bool& m_lost;
};

// The composer's report lines: a report's first line is the first after the
// end of the one before.
class ReportLineSink : public ReportSink {
public:
    explicit ReportLineSink(LineBuffer& lines, bool& lost) : m_lines(lines), m_lost(lost) {}
    void AddLine(const std::string& line) override {
        m_lost = !m_lines.Append(line, m_next) || m_lost;
        m_next = LineKind::InReport;
    }
    void AddReport(const ReportInfo&) override { m_next = LineKind::ReportStart; }

private:
    LineBuffer& m_lines;
    bool& m_lost;
    LineKind m_next = LineKind::ReportStart;
};

// The report lines go to the list, the reports also to the JSON records that
// Save Report As writes.
class ListAndRecordSink : public ReportSink {
public:
    ListAndRecordSink(ReportLineSink& lines, JsonSink& records)
        : m_lines(lines), m_records(records) {}
    void AddLine(const std::string& line) override { m_lines.AddLine(line); }
    void AddReport(const ReportInfo& report) override {
        m_lines.AddReport(report);
        m_records.AddReport(report);
    }

private:
    ReportLineSink& m_lines;
    JsonSink& m_records;
};

} // namespace

SearchWorker::SearchWorker(QObject* parent) : QObject(parent) {}

SearchWorker::~SearchWorker() {
    Stop();
    Join();
}

void SearchWorker::Start(SearchRequest request) {
    Join();
    m_stop = false;
    {
        const std::lock_guard lock(m_mutex);
        m_progress = SearchProgress();
        m_progressSent = false;
        m_problemsTaken = 0;
    }
    m_thread = std::thread(&SearchWorker::Run, this, std::move(request));
}

void SearchWorker::Stop() {
    m_stop = true;
}

void SearchWorker::Join() {
    if (m_thread.joinable())
        m_thread.join();
}

SearchProgress SearchWorker::TakeProgress() {
    const std::lock_guard lock(m_mutex);
    SearchProgress taken = std::move(m_progress);
    m_progress = SearchProgress();
    m_problemsTaken += taken.problems.size();
    m_progressSent = false;
    return taken;
}

void SearchWorker::Run(SearchRequest request) {
    LineBuffer lines;    // since the last hand-over
    std::string records; // the same
    bool lost = false;
    DirectoryLineSink directoryLines(lines, lost);
    ReportLineSink reportLines(lines, lost);
    // A fact cut at a limit is said as kestrel-scan --json says it.
    JsonSink json(
        records, nullptr,
        [this](const std::string& path, const std::string& text) {
            AddProblem({path, text});
        },
        MadeBy(RecordShape{{}, request.lookInside, request.patterns, {}}));
    ListAndRecordSink reports(reportLines, json);
    QuillScan scanner(reports, request.layout, std::move(request.locale));
    scanner.SetStopFlag(&m_stop);
    scanner.SetReadFacts(true);
    std::int64_t scannedCount = 0;
    std::optional<std::string> caption;
    const auto handOver = [&] {
        if (lost) {
            m_stop = true;
            const std::lock_guard lock(m_mutex);
            m_progress.listFull = true;
        }
        HandOver(lines, records, scannedCount, caption, false);
    };

    WalkHooks hooks;
    hooks.showCaption = [&](const std::string& text) {
        caption = text;
        handOver();
    };
    hooks.fileScanned = [&] {
        ++scannedCount;
        handOver();
    };
    hooks.cancelled = [this] { return m_stop.load(); };
    hooks.unreadable = [this](const ReadProblem& problem) { AddProblem(problem); };
    // Looking inside, the walk hands on every file and the step applies the
    // patterns; each member counts and shows its path in the caption.
    WalkOptions options;
    options.patterns = request.lookInside ? std::vector<std::string>{} : request.patterns;
    options.recursive = request.recursive;
    DirectoryWalk walk(scanner, directoryLines, std::move(options), std::move(hooks));
    ScanStep step = ScanFileStep;
    if (request.lookInside) {
        step = LookInsideStep({request.patterns, {}, [&](const std::string& path) {
                                   ++scannedCount;
                                   caption = path;
                                   handOver();
                               }});
    }
    walk.SetScanStep(
        RecordStep(std::move(step), [&json](ReportSink&) -> JsonSink& { return json; }));
    if (request.selected.empty())
        walk.WalkDirectory(request.root);
    else
        walk.ScanSelectedFiles(request.root, request.selected);
    HandOver(lines, records, scannedCount, caption, true);
}

void SearchWorker::AddProblem(const ReadProblem& problem) {
    const std::lock_guard lock(m_mutex);
    if (m_progress.problems.size() + m_problemsTaken < kMaxProblemsKept)
        m_progress.problems.push_back(problem);
    ++m_progress.problemCount;
}

void SearchWorker::HandOver(LineBuffer& lines, std::string& records, std::int64_t scannedCount,
                            std::optional<std::string>& caption, bool finished) {
    bool send = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_progress.lines.Empty())
            std::swap(m_progress.lines, lines);
        else if (!m_progress.lines.Append(lines))
            m_progress.listFull = m_stop = true;
        lines.Clear();
        if (m_progress.records.empty())
            std::swap(m_progress.records, records);
        else
            m_progress.records += records;
        records.clear();
        m_progress.scannedCount = scannedCount;
        if (caption)
            m_progress.caption = std::move(caption);
        caption.reset();
        m_progress.finished = finished;
        const auto now = std::chrono::steady_clock::now();
        send = !m_progressSent &&
               (finished || now - m_lastSent >= std::chrono::milliseconds(kNotifyIntervalMs));
        if (send) {
            m_progressSent = true;
            m_lastSent = now;
        }
    }
    if (send)
        Q_EMIT ProgressReady();
}

} // namespace kestrel
