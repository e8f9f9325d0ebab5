#include "record_reader.h"

#include <filesystem>

#include "file_digests.h"
#include "look_inside_step.h"
#include "output_sinks.h"
#include "quill_scan.h"
#include "walk.h"

namespace kestrel {

namespace {

// Takes the record of the one report looked for and lets every other pass.
class MatchingReport : public ReportSink {
public:
    MatchingReport(const ReportLocator& where, FileDigests* digests, ReadAgain& result,
                   std::atomic<bool>& stop)
        : m_where(where), m_digests(digests), m_result(result), m_stop(stop) {}

    void AddLine(const std::string&) override {}
    void AddReport(const ReportInfo& report) override {
        const std::string container = report.container != nullptr ? *report.container : "";
        if (Found() || report.directory != m_where.directory || report.name != m_where.name ||
            container != m_where.container)
            return;
        const ReportProblem problem = [this](const std::string& path, const std::string& text) {
            m_result.problems.push_back(path + ": " + text);
        };
        m_result.record = EscapeDelAndC1(ReportObject(report, m_digests, problem).dump());
        m_stop = true;
    }
    bool Found() const { return !m_result.record.empty(); }

private:
    const ReportLocator& m_where;
    FileDigests* m_digests;
    ReadAgain& m_result;
    std::atomic<bool>& m_stop;
};

// The walk's directory lines, which nobody reads.
class NoLines : public ReportSink {
public:
    void AddLine(const std::string&) override {}
};

} // namespace

ReadAgain ReadReportAgain(const ReportLocator& where, const std::vector<std::string>& digests,
                          std::atomic<bool>& stop) {
    ReadAgain result;
    FileDigests fileDigests(digests);
    MatchingReport matching(where, digests.empty() ? nullptr : &fileDigests, result, stop);
    QuillScan scanner(matching);
    scanner.SetStopFlag(&stop);
    scanner.SetReadFacts(true);
    if (!digests.empty())
        scanner.SetByteObserver(&fileDigests);

    WalkHooks hooks;
    hooks.cancelled = [&stop] { return stop.load(); };
    hooks.unreadable = [&](const ReadProblem& problem) {
        if (!matching.Found())
            result.problems.push_back(problem.path + ": " + problem.reason);
    };
    NoLines noLines;
    DirectoryWalk walk(scanner, noLines, WalkOptions(), std::move(hooks));
    // A member is found by looking inside the file on disk that holds it, a
    // module of an NLM by scanning that NLM.
    std::string diskFile = where.container;
    if (diskFile.empty())
        diskFile = where.directory + (where.embeddedIn.empty() ? where.name : where.embeddedIn);
    else
        walk.SetScanStep(LookInsideStep({}));
    const std::size_t slash = diskFile.rfind('/');
    if (slash == std::string::npos) {
        result.problems.push_back(diskFile + ": not a full path");
        return result;
    }
    walk.ScanSelectedFiles(diskFile.substr(0, slash + 1), {diskFile.substr(slash + 1)});
    // The scanner passes over what is not a regular file without a word.
    std::error_code error;
    if (!matching.Found() && result.problems.empty() &&
        !std::filesystem::is_regular_file(diskFile, error))
        result.problems.push_back(diskFile + ": not a regular file");
    return result;
}

} // namespace kestrel
