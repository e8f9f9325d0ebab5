#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "print_job.h"
#include "recording_target.h"

namespace kestrel::testing {

using namespace Qt::StringLiterals;

namespace {

QString Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The text of a PDF with runs of white space made single.
QString PdfToText(const QString& pdf, const QStringList& options = {}) {
    return Run(u"pdftotext"_s, options + QStringList{u"-layout"_s, pdf, u"-"_s}).simplified();
}

// The lowest edge of the text on each page, in points from the sheet's top.
QList<double> TextBottoms(const QString& pdf) {
    QList<double> bottoms;
    const QString boxes = Run(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s});
    for (const QString& page : boxes.split(u"<page "_s).mid(1)) {
        double bottom = 0.0;
        static const QRegularExpression yMax(uR"re(yMax="([0-9.]+)")re"_s);
        for (const QRegularExpressionMatch& match : yMax.globalMatch(page))
            bottom = std::max(bottom, match.captured(1).toDouble());
        bottoms << bottom;
    }
    return bottoms;
}

// A print to a PDF file with no margin of its own and the page range given
// ("" for all), run to its end; the job's outcome.
PrintOutcome PrintToPdf(const Lines& lines, bool briefFormat, const QString& file,
                        const QString& range = {}, int copies = 1) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFileName(file);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageMargins(QMarginsF(), QPageLayout::Millimeter);
    printer->setCopyCount(copies);
    if (!range.isEmpty()) {
        printer->setPrintRange(QPrinter::PageRange);
        printer->setPageRanges(QPageRanges::fromString(range));
    }
    PrintJob job(std::move(printer), lines.Copy(), briefFormat, u"06/05/2024 07:08"_s);
    QSignalSpy finished(&job, &PrintJob::Finished);
    job.Start();
    return finished.wait(60000) ? finished.first().first().value<PrintOutcome>()
                                : PrintOutcome::Failed;
}

} // namespace

class ReportPrinterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        if (QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty() ||
            QStandardPaths::findExecutable(u"pdfinfo"_s).isEmpty())
            QSKIP("pdftotext and pdfinfo (poppler-utils) are not installed");
    }

    void printsBesideTheWindowIntoThePdf() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(u"report.pdf"_s);
        const auto pages = [&pdf] {
            static const QRegularExpression count(u"Pages: *([0-9]+)"_s);
            return count.match(Run(u"pdfinfo"_s, {pdf})).captured(1).toInt();
        };
        // Both copies in the one file, each numbered from page 1.
        QCOMPARE(PrintToPdf(Lines(u"d/data/,b70"_s), true, pdf, {}, 2), PrintOutcome::Printed);
        const QString text = PdfToText(pdf);
        QCOMPARE(text.count(u"Kestrel report 06/05/2024 07:08 Page 1"_s), 2);
        QCOMPARE(text.count(u"FILE70.NLM 1.02 Test"_s), 2);
        // All of it 15 mm (42.5 points) or more from the sheet's edges, though
        // the printer was set to no margin at all; and the lines of a full
        // page reach down to the bottom margin (within one line of 10 points).
        const QRectF sheet = QPageSize(QPageSize::A4).rect(QPageSize::Point);
        QCOMPARE(PdfToText(pdf, {u"-x"_s, u"42"_s, u"-y"_s, u"42"_s, u"-W"_s,
                                 QString::number(sheet.width() - 84), u"-H"_s,
                                 QString::number(sheet.height() - 84)}),
                 text);
        QCOMPARE_GE(TextBottoms(pdf).first(), sheet.height() - 42.5 - 12);

        // Pages 2 and 3 of a long report are those two pages alone; a range
        // beyond its end prints nothing, as does an empty list, and leaves no
        // file; nor does a file that cannot be written.
        const Lines report(u"d/data/"_s + u",e12"_s.repeated(400));
        QCOMPARE(PrintToPdf(report, false, pdf, u"2-3"_s), PrintOutcome::Printed);
        QCOMPARE(pages(), 2);
        QCOMPARE(PdfToText(pdf).count(u"Kestrel report"_s), 2);
        QVERIFY(PdfToText(pdf).contains(u"Page 3 /data/ (Continued)"_s));
        QFile::remove(pdf);
        QCOMPARE(PrintToPdf(report, false, pdf, u"900-901"_s), PrintOutcome::NothingToPrint);
        QCOMPARE(PrintToPdf(Lines(), false, pdf), PrintOutcome::NothingToPrint);
        const QString unwritable = dir.filePath(u"missing/report.pdf"_s);
        QCOMPARE(PrintToPdf(report, false, unwritable), PrintOutcome::Failed);
        QVERIFY(!QFile::exists(pdf) && !QFile::exists(unwritable));
    }

    void cancelStopsThePrint() {
        // Cancelled once its first pages are out, a print of some thousand
        // pages stops, and leaves no half report behind.
        QTemporaryDir dir;
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFileName(dir.filePath(u"report.pdf"_s));
        PrintJob job(std::move(printer), Lines(u"b200000"_s).Copy(), true, u"today"_s);
        QSignalSpy finished(&job, &PrintJob::Finished);
        job.Start();
        QTRY_VERIFY_WITH_TIMEOUT(job.Progress().pagesPrinted > 0, 60000);
        QVERIFY(job.Progress().pageCount > 3000);
        job.Cancel();
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().value<PrintOutcome>(), PrintOutcome::Cancelled);
        QVERIFY(job.Progress().pagesPrinted < job.Progress().pageCount);
        QVERIFY(!QFile::exists(job.OutputFile()));
    }
};

} // namespace kestrel::testing

QTEST_MAIN(kestrel::testing::ReportPrinterTest)
#include "report_printer_test.moc"
