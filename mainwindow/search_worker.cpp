#include "search_worker.h"

#include <functional>
#include <memory>

#include <QLocale>

#include "look_inside_step.h"
#include "output_sinks.h"
#include "quill_scan.h"
#include "read_progress.h"
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
// end of the one before. The report itself, which comes after its lines, is
// kept by the line it starts on: the composer writes a report's lines and the
// report in one go, so the walk never hands the lines over in between.
class ReportLineSink : public ReportSink {
public:
    ReportLineSink(LineBuffer& lines, ReportRecords& records, bool& lost)
        : m_lines(lines), m_records(records), m_lost(lost) {}
    void AddLine(const std::string& line) override {
        if (m_next == LineKind::ReportStart)
            m_firstLine = static_cast<std::int64_t>(m_lines.Count());
        m_lost = !m_lines.Append(line, m_next) || m_lost;
        m_next = LineKind::InReport;
    }
    void AddReport(const ReportInfo& report) override {
        // Once a line is lost the lines no longer match their reports.
        if (m_firstLine >= 0 && !m_lost)
            m_lost = !m_records.Add(m_firstLine, m_keeper.Keep(report));
        m_firstLine = -1;
        m_next = LineKind::ReportStart;
    }

private:
    LineBuffer& m_lines;
    ReportRecords& m_records;
    bool& m_lost;
    RecordKeeper m_keeper;
    LineKind m_next = LineKind::ReportStart;
    std::int64_t m_firstLine = -1; // of the report whose lines are coming
};

// The status caption while one file or member takes long to read: its path
// and how far the scanner's reads have got, first once it has been read for
// kSlowFileMs, then at most every kRefreshMs, so a file of gigabytes shows
// life and the small ones of a tree never show it.
class ReadingCaption : public ReadProgress {
public:
    static constexpr std::chrono::milliseconds kSlowFileMs{500};
    static constexpr std::chrono::milliseconds kRefreshMs{250};

    explicit ReadingCaption(std::function<void(std::string)> show) : m_show(std::move(show)) {}

    void Start(std::string path) {
        m_path = std::move(path);
        m_shown = false;
        m_lastShown = std::chrono::steady_clock::now();
    }
    const std::string& Path() const { return m_path; }
    // Whether the caption was shown for the file or member last started.
    bool Shown() const { return m_shown; }

    void ReadUpTo(std::int64_t offset, std::int64_t length) override {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastShown < (m_shown ? kRefreshMs : kSlowFileMs) || length <= 0)
            return;
        m_shown = true;
        m_lastShown = now;
        const QLocale locale;
        m_show(QStringLiteral("Reading %1: %2 of %3 (%4%)")
                   .arg(QString::fromStdString(m_path), locale.formattedDataSize(offset),
                        locale.formattedDataSize(length))
                   .arg(std::min<std::int64_t>(offset, length) * 100 / length)
                   .toStdString());
    }

private:
    std::function<void(std::string)> m_show;
    std::string m_path;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_lastShown;
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
    // The count stands until the walk counts on: a take while one large file
    // is read must not show 0.
    m_progress.scannedCount = taken.scannedCount;
    m_problemsTaken += taken.problems.size();
    m_progressSent = false;
    return taken;
}

void SearchWorker::Run(SearchRequest request) {
    LineBuffer lines; // since the last hand-over
    ReportRecords records;
    std::string written; // the same, as kestrel-scan writes them
    bool lost = false;
    DirectoryLineSink directoryLines(lines, lost);
    ReportLineSink reportLines(lines, records, lost);
    // The reports as kestrel-scan writes them: its writer, with the facts read.
    // A fact cut at a limit is said as kestrel-scan says it.
    std::unique_ptr<ReportSink> writer;
    const ReportProblem factProblem = [this](const std::string& path, const std::string& text) {
        AddProblem({path, text});
    };
    if (request.output == SearchOutput::JsonLines) {
        writer = std::make_unique<JsonSink>(
            written, nullptr, factProblem,
            MadeBy(RecordShape{{}, request.lookInside, request.patterns, {}}));
    } else if (request.output == SearchOutput::Csv) {
        auto csv = std::make_unique<CsvSink>(written, nullptr, factProblem);
        written = csv->HeaderRow() + "\r\n";
        writer = std::move(csv);
    }
    QuillScan scanner(writer ? *writer : reportLines, request.layout, std::move(request.locale));
    scanner.SetStopFlag(&m_stop);
    // The facts of members, whose records are kept for the Details window,
    // and every fact the writers write.
    scanner.SetReadFacts(writer != nullptr || request.lookInside);
    std::int64_t scannedCount = 0;
    std::optional<std::string> caption;
    const auto handOver = [&] {
        if (lost) {
            m_stop = true;
            const std::lock_guard lock(m_mutex);
            m_progress.listFull = true;
        }
        HandOver(lines, records, written, scannedCount, caption, false);
    };

    // The walk's caption, shown again after a file that showed its progress.
    std::string walkCaption;
    ReadingCaption reading([&](std::string text) {
        caption = std::move(text);
        handOver();
    });
    scanner.SetReadProgress(&reading);

    WalkHooks hooks;
    hooks.showCaption = [&](const std::string& text) {
        caption = walkCaption = text;
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
    // The writers take no directory lines.
    DirectoryWalk walk(scanner, writer ? *writer : directoryLines, std::move(options),
                       std::move(hooks));
    std::string stoppedIn;
    ScanStep step = ScanFileStep;
    if (request.lookInside) {
        step = LookInsideStep({request.patterns, {}, [&](const std::string& path) {
                                   ++scannedCount;
                                   caption = walkCaption = path;
                                   reading.Start(path);
                                   handOver();
                               }});
    }
    // JSON records end with the file on disk they came from, as --json writes them.
    if (request.output == SearchOutput::JsonLines)
        step = RecordStep(std::move(step), [&writer](ReportSink&) -> JsonSink& {
            return static_cast<JsonSink&>(*writer);
        });
    walk.SetScanStep([&, step = std::move(step)](
                         QuillScan& fileScanner, ReportSink& sink, const FileToScan& file,
                         std::vector<ReadProblem>& problems, StepLines& stepLines) {
        reading.Start(file.directoryPath + file.name);
        step(fileScanner, sink, file, problems, stepLines);
        if (reading.Shown())
            caption = walkCaption;
        // A stop that came while the file was read cut its report short
        // (a file stopped inside its marker scan gets none).
        if (m_stop && stoppedIn.empty())
            stoppedIn = reading.Path();
    });
    const bool stopped = request.selected.empty()
                             ? walk.WalkDirectory(request.root)
                             : walk.ScanSelectedFiles(request.root, request.selected);
    {
        const std::lock_guard lock(m_mutex);
        m_progress.stopped = stopped || !stoppedIn.empty();
        m_progress.stoppedIn = stoppedIn;
    }
    HandOver(lines, records, written, scannedCount, caption, true);
}

void SearchWorker::AddProblem(const ReadProblem& problem) {
    const std::lock_guard lock(m_mutex);
    if (m_progress.problems.size() + m_problemsTaken < kMaxProblemsKept)
        m_progress.problems.push_back(problem);
    ++m_progress.problemCount;
}

void SearchWorker::HandOver(LineBuffer& lines, ReportRecords& records, std::string& written,
                            std::int64_t scannedCount, std::optional<std::string>& caption,
                            bool finished) {
    bool send = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_progress.lines.Empty()) {
            std::swap(m_progress.lines, lines);
            std::swap(m_progress.records, records);
        } else if (!m_progress.records.Append(
                       records, static_cast<std::int64_t>(m_progress.lines.Count())) ||
                   !m_progress.lines.Append(lines)) {
            m_progress.listFull = m_stop = true;
        }
        lines.Clear();
        records.Clear();
        if (m_progress.written.empty())
            std::swap(m_progress.written, written);
        else
            m_progress.written += written;
        written.clear();
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
