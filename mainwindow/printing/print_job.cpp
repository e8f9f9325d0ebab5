#include "print_job.h"

#include <QPrinter>

#include "report_lines.h"

namespace kestrel {

PrintJob::PrintJob(std::unique_ptr<QPrinter> printer, std::unique_ptr<const ReportLines> lines,
                   bool briefFormat, QString headerDate, QObject* parent)
    : QObject(parent), m_printer(std::move(printer)), m_lines(std::move(lines)),
      m_briefFormat(briefFormat), m_headerDate(std::move(headerDate)),
      m_outputFile(m_printer->outputFileName()) {}

PrintJob::~PrintJob() {
    Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void PrintJob::Start() {
    m_thread = std::thread(&PrintJob::Run, this);
}

// Qt paints on a QPrinter from any one thread; nothing else touches this one
// while the thread runs.
void PrintJob::Run() {
    const PrintOutcome outcome =
        PrintOnPrinter(*m_printer, *m_lines, m_briefFormat, m_headerDate, m_progress);
    QMetaObject::invokeMethod(
        this, [this, outcome] { Q_EMIT Finished(outcome); }, Qt::QueuedConnection);
}

} // namespace kestrel
