#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "printer_target.h"
#include "recording_target.h"
#include "report_printer.h"

namespace kestrel::testing {

using namespace Qt::StringLiterals;

namespace {

// The text of a PDF with runs of white space made single.
QString PdfToText(const QString& pdf, const QStringList& options = {}) {
    QProcess pdftotext;
    pdftotext.start(u"pdftotext"_s, options + QStringList{u"-layout"_s, pdf, u"-"_s});
    pdftotext.waitForFinished();
    return QString::fromUtf8(pdftotext.readAllStandardOutput()).simplified();
}

} // namespace

class ReportPrinterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        if (QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
    }

    void printsEveryCopyIntoThePdf() {
        QTemporaryDir dir;
        const Lines lines(u"d/data/,b70"_s);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFileName(dir.filePath(u"report.pdf"_s));
        printer.setPageMargins(QMarginsF(), QPageLayout::Millimeter);
        printer.setCopyCount(2);
        QVERIFY(PrintOnPrinter(printer, lines, true, u"06/05/2024 07:08"_s));
        // Both copies in the one file, each numbered from page 1.
        const QString text = PdfToText(printer.outputFileName());
        QCOMPARE(text.count(u"Kestrel report 06/05/2024 07:08 Page 1"_s), 2);
        QCOMPARE(text.count(u"/data/ (Continued)"_s), 2);
        QCOMPARE(text.count(u"FILE70.NLM 1.02 Test"_s), 2);
        // All of it 15 mm (42.5 points) or more from the sheet's edges, though
        // the printer was set to no margin at all.
        const QRect sheet = printer.pageLayout().fullRectPoints();
        QCOMPARE(PdfToText(printer.outputFileName(), {u"-x"_s, u"42"_s, u"-y"_s, u"42"_s, u"-W"_s,
                                                      QString::number(sheet.width() - 84), u"-H"_s,
                                                      QString::number(sheet.height() - 84)}),
                 text);
        // A file that cannot be written fails, and nothing is left.
        printer.setOutputFileName(dir.filePath(u"missing/report.pdf"_s));
        QVERIFY(!PrintOnPrinter(printer, lines, true, u"today"_s));
        QVERIFY(!QFile::exists(printer.outputFileName()));
    }
};

} // namespace kestrel::testing

QTEST_MAIN(kestrel::testing::ReportPrinterTest)
#include "report_printer_test.moc"
