// Measures the window's search against kestrel-scan over the same tree of
// 10,000 files, and one million lines appended to the result list. Prints
// the best of a few runs of each; asserts nothing. With --lines, appends that
// many lines of 60 characters to the result list instead and prints the time
// and the process's peak memory.
//
//   window-bench [FILES] [RUNS]
//   window-bench --lines 18000000

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QWindow>

#include "byte_writer.h"
#include "line_buffer.h"
#include "main_window.h"
#include "result_list_model.h"
#include "samples.h"
#include "temp_tree.h"

namespace {

constexpr int kFilesPerDirectory = 100;
constexpr int kMillion = 1000000;
// Lines of a typical report between two yields of the walk.
constexpr int kLinesPerFile = 8;

// FILES files in directories of 100, each a copy of one of the sample files
// with a modification time of its own.
void BuildTree(const std::filesystem::path& root, int files) {
    const std::filesystem::path samples = root / "samples";
    std::filesystem::create_directories(samples);
    kestrel::samples::WriteSamples(samples);
    std::vector<std::filesystem::path> sources;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(samples)) {
        if (entry.is_regular_file() && entry.file_size() < 1000000)
            sources.push_back(entry.path());
    }
    std::sort(sources.begin(), sources.end());
    for (int i = 0; i < files; ++i) {
        const std::filesystem::path directory =
            root / "tree" / ("dir" + std::to_string(i / kFilesPerDirectory));
        std::filesystem::create_directories(directory);
        const std::filesystem::path& source = sources[static_cast<std::size_t>(i) % sources.size()];
        const std::filesystem::path copy =
            directory / (std::to_string(i) + "_" + source.filename().string());
        std::filesystem::copy_file(source, copy);
        // Each file a time of its own, so no report can reuse another's date.
        std::filesystem::last_write_time(copy, std::filesystem::last_write_time(copy) -
                                                   std::chrono::seconds(i * 61));
    }
    std::filesystem::remove_all(samples);
}

// The window shown and drawn once, as a user first sees it.
void ShowWindow(QWidget& window) {
    window.show();
    QElapsedTimer waited;
    waited.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) &&
           waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

double Seconds(const std::chrono::steady_clock::duration& duration) {
    return std::chrono::duration<double>(duration).count();
}

double TimeKestrelScan(const std::filesystem::path& tree) {
    const std::string command =
        std::string(KESTREL_SCAN_PATH) + " -r --no-progress '" + tree.string() + "' > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "kestrel-scan failed\n");
    return Seconds(std::chrono::steady_clock::now() - start);
}

double TimeWindowSearch(const std::filesystem::path& tree, int files) {
    QDir::setCurrent(QString::fromStdString(tree.string()));
    kestrel::MainWindow window;
    ShowWindow(window);
    window.findChild<QCheckBox*>(QStringLiteral("chkSubdirs"))->setChecked(true);
    auto* search = window.findChild<QPushButton*>(QStringLiteral("cmdSearch"));
    const auto start = std::chrono::steady_clock::now();
    search->click();
    while (window.State() != kestrel::SearchState::Finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    const QString count = window.findChild<QLabel*>(QStringLiteral("lblCount"))->text();
    if (count != QString::number(files))
        std::fprintf(stderr, "the window counted %s files\n", qPrintable(count));
    return seconds;
}

// Lines through the window's list as a search brings them: a batch of a
// report's lines, then the window's pending events; then a scroll from the top
// to the bottom in ten steps.
double TimeAppendedLines(const std::filesystem::path& emptyDirectory, int lines,
                         const std::string& header, const std::string& labelled, int perBatch) {
    QDir::setCurrent(QString::fromStdString(emptyDirectory.string()));
    kestrel::MainWindow window;
    ShowWindow(window);
    // A search over an empty directory shows the (empty) result list.
    window.findChild<QPushButton*>(QStringLiteral("cmdSearch"))->click();
    while (window.State() != kestrel::SearchState::Finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    kestrel::ResultListModel& list = window.ResultList();
    QScrollBar* scroll = window.findChild<QAbstractScrollArea*>(QStringLiteral("lstFoundFiles"))
                             ->verticalScrollBar();
    const auto start = std::chrono::steady_clock::now();
    kestrel::LineBuffer batch;
    for (int i = 0; i < lines; ++i) {
        const bool first = i % kLinesPerFile == 0;
        batch.Append(first ? header : labelled,
                     first ? kestrel::LineKind::ReportStart : kestrel::LineKind::InReport);
        if (i % perBatch == perBatch - 1 || i + 1 == lines) {
            list.Append(batch);
            batch.Clear();
            QCoreApplication::processEvents();
        }
    }
    list.Flush();
    QCoreApplication::processEvents();
    for (int step = 1; step <= 10; ++step) {
        scroll->setValue(scroll->maximum() / 10 * step);
        QCoreApplication::processEvents();
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    if (list.LineCount() != lines || scroll->maximum() < lines - 100)
        std::fprintf(stderr, "the list holds %d lines, scrolls to %d\n", list.LineCount(),
                     scroll->maximum());
    return seconds;
}

double PeakMemoryGigabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024 / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    if (argc > 2 && std::strcmp(argv[1], "--lines") == 0) {
        const int lines = std::atoi(argv[2]);
        kestrel::fixtures::TempTree empty;
        // 60 characters a line, a report's first and the lines under it.
        const std::string header = "PROGRAM.EXE        PE         1,024 2024-01-02 03:04:05     ";
        const std::string labelled = " HDescription     :A program that says what it is, at length";
        const double seconds = TimeAppendedLines(empty.Root(), lines, header, labelled, 4096);
        std::printf(
            "%d lines of 60 characters appended and scrolled: %.1f s, peak memory %.3f GB\n", lines,
            seconds, PeakMemoryGigabytes());
        return 0;
    }
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;

    kestrel::fixtures::TempTree tree;
    BuildTree(tree.Root(), files);
    const std::filesystem::path empty = tree.AddDirectory("empty");

    double scan = 1e9;
    double window = 1e9;
    double million = 1e9;
    for (int run = 0; run < runs; ++run) {
        scan = std::min(scan, TimeKestrelScan(tree.Root() / "tree"));
        window = std::min(window, TimeWindowSearch(tree.Root() / "tree", files));
        million = std::min(
            million, TimeAppendedLines(
                         empty, kMillion, "PROGRAM.EXE        PE         1,024 2024-01-02 03:04:05",
                         " HDescription     :A program that says what it is", kLinesPerFile));
    }
    std::printf("platform %s, best of %d runs\n", qPrintable(QGuiApplication::platformName()),
                runs);
    std::printf("kestrel-scan over %d files:   %.3f s\n", files, scan);
    std::printf("window search over %d files:  %.3f s (%.2f times kestrel-scan)\n", files, window,
                window / scan);
    std::printf("one million lines appended and scrolled: %.3f s\n", million);
    return 0;
}
