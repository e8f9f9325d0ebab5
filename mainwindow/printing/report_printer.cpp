#include "report_printer.h"

#include <algorithm>
#include <limits>

#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>

#include "print_job.h"
#include "report_lines.h"

namespace kestrel {

namespace {

// How often the progress dialog reads the pages done.
constexpr int kShowProgressMs = 100;

const QString kPrintTitle = QStringLiteral("Print");

} // namespace

ReportPrinter::ReportPrinter() {
    m_showProgress.setInterval(kShowProgressMs);
    connect(&m_showProgress, &QTimer::timeout, this, &ReportPrinter::ShowProgress);
}

ReportPrinter::~ReportPrinter() {
    if (m_job)
        m_job->disconnect(this);
    m_job.reset();
    delete m_progress;
}

bool ReportPrinter::Print(QWidget* parent, const ReportLines& lines, bool briefFormat) {
    if (m_job) {
        if (m_progress)
            m_progress->raise();
        return false;
    }
    if (lines.LineCount() == 0) {
        QMessageBox::information(parent, kPrintTitle,
                                 QStringLiteral("The result list is empty: there is nothing to "
                                                "print."));
        return false;
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    // The dialog names a new output file after the document.
    printer->setDocName(QStringLiteral("kestrel-report"));
    printer->setOutputFileName(m_lastOutputFile);
    QPrintDialog dialog(printer.get(), parent);
    // The page range is the application's own to honour: without it, the
    // dialog hands a range to the print server, which a file never sees.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // Empty when the report went to a printer: the dialog then offers one.
    m_lastOutputFile = printer->outputFileName();

    std::unique_ptr<const ReportLines> copy = lines.Copy();
    if (!copy) {
        QMessageBox::warning(parent, kPrintTitle,
                             QStringLiteral("There is not enough memory to print the report."));
        return false;
    }
    const QString headerDate =
        QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    m_parent = parent;
    m_job =
        std::make_unique<PrintJob>(std::move(printer), std::move(copy), briefFormat, headerDate);
    connect(m_job.get(), &PrintJob::Finished, this, &ReportPrinter::JobFinished);

    // Not modal: the window goes on answering while the pages are made.
    m_progress = new QProgressDialog(QStringLiteral("Counting the pages..."),
                                     QStringLiteral("&Cancel"), 0, 0, parent);
    m_progress->setWindowTitle(kPrintTitle);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoReset(false);
    m_progress->setAutoClose(false);
    connect(m_progress, &QProgressDialog::canceled, m_job.get(), &PrintJob::Cancel);
    m_progress->show();
    m_showProgress.start();
    m_job->Start();
    return true;
}

void ReportPrinter::ShowProgress() {
    if (!m_job || !m_progress)
        return;
    const qint64 count = m_job->Progress().pageCount;
    if (count == 0 || m_job->Progress().cancel)
        return;
    const qint64 done = std::min(m_job->Progress().pagesPrinted.load(), count);
    // The bar counts in an int; a report of more pages moves it in steps.
    const qint64 scale = count / std::numeric_limits<int>::max() + 1;
    m_progress->setMaximum(static_cast<int>(count / scale));
    m_progress->setValue(static_cast<int>(done / scale));
    m_progress->setLabelText(
        QStringLiteral("Printing page %1 of %2...")
            .arg(QLocale().toString(std::max<qint64>(done, 1)), QLocale().toString(count)));
}

void ReportPrinter::JobFinished(PrintOutcome outcome) {
    m_showProgress.stop();
    delete m_progress;
    const QString output = m_job->OutputFile();
    m_job.reset();
    const QString where = output.isEmpty()
                              ? QString()
                              : QStringLiteral(" to %1").arg(QDir::toNativeSeparators(output));
    if (outcome == PrintOutcome::NothingToPrint)
        QMessageBox::information(m_parent, kPrintTitle,
                                 QStringLiteral("Nothing was printed: the pages asked for lie "
                                                "beyond the end of the report."));
    else if (outcome == PrintOutcome::Failed)
        QMessageBox::warning(m_parent, kPrintTitle,
                             QStringLiteral("The report could not be printed%1.").arg(where));
}

} // namespace kestrel
