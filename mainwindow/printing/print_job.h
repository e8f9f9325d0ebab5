#pragma once

#include <memory>
#include <thread>

#include <QObject>
#include <QString>

#include "printer_target.h"

class QPrinter;

namespace kestrel {

class ReportLines;

// One print of the result list on a thread of its own, so the window goes on
// answering while the pages are made: it holds the printer and a copy of the
// lines, which the window may clear meanwhile. Finished comes once, on the
// window's thread; the progress may be read at any time.
class PrintJob : public QObject {
    Q_OBJECT

public:
    PrintJob(std::unique_ptr<QPrinter> printer, std::unique_ptr<const ReportLines> lines,
             bool briefFormat, QString headerDate, QObject* parent = nullptr);
    // Cancels the print and waits for its thread: within a page.
    ~PrintJob() override;

    void Start();
    void Cancel() { m_progress.cancel = true; }
    const PrintProgress& Progress() const { return m_progress; }
    // Where the report goes: a file, or empty for a printer.
    QString OutputFile() const { return m_outputFile; }

Q_SIGNALS:
    void Finished(kestrel::PrintOutcome outcome);

private:
    void Run();

    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<const ReportLines> m_lines;
    bool m_briefFormat;
    QString m_headerDate;
    QString m_outputFile;
    PrintProgress m_progress;
    std::thread m_thread;
};

} // namespace kestrel
