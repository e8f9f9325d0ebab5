#include <QApplication>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "printer_target.h"
#include "report_printer.h"

namespace kestrel::testing {

using namespace Qt::StringLiterals;

class ReportPrinterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void printsEveryCopyIntoThePdf() {
        if (QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QTemporaryDir dir;
        QStringList lines{u"[/data/]"_s};
        for (int i = 10; i < 50; ++i)
            lines +=
                {u"MOD%1.NLM           NE       12,345 2024-01-02"_s.arg(i),
                 u" HDescription     :Module %1"_s.arg(i), u" HVersion         :1.%1"_s.arg(i)};
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(u"report.pdf"_s));
        printer.setCopyCount(2);
        QVERIFY(PrintOnPrinter(printer, lines, false, u"06/05/2024 07:08"_s));

        // pdftotext places words by their position: runs of spaces are made single.
        QProcess pdftotext;
        pdftotext.start(u"pdftotext"_s, {u"-layout"_s, printer.outputFileName(), u"-"_s});
        QVERIFY(pdftotext.waitForFinished() && pdftotext.exitCode() == 0);
        QStringList pages = QString::fromUtf8(pdftotext.readAllStandardOutput()).split(u'\f');
        pages.removeLast(); // after the last page's form feed
        // Both copies are in the one file, each numbered from page 1.
        QVERIFY(pages.size() >= 4 && pages.size() % 2 == 0);
        QStringList printed;
        for (qsizetype i = 0; i < pages.size(); ++i) {
            QStringList pageLines = pages[i].split(u'\n', Qt::SkipEmptyParts);
            for (QString& line : pageLines)
                line = line.simplified();
            const qsizetype pageNumber = i % (pages.size() / 2) + 1;
            QCOMPARE(pageLines.mid(0, 2),
                     (QStringList{u"Kestrel report 06/05/2024 07:08 Page %1"_s.arg(pageNumber),
                                  pageNumber == 1 ? u"/data/"_s : u"/data/ (Continued)"_s}));
            printed += pageLines.mid(2);
        }
        for (QString& line : lines)
            line = line.simplified();
        QCOMPARE(printed, lines.mid(1) + lines.mid(1));
    }

    void unwritableFileFails() {
        QTemporaryDir dir;
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFileName(dir.filePath(u"missing/report.pdf"_s));
        QVERIFY(!PrintOnPrinter(printer, {u"[/data/]"_s, u"A.NLM"_s}, true, u"today"_s));
        QVERIFY(!QFile::exists(printer.outputFileName()));
    }

    void cancelledDialogIsAFailure() {
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [] {
            if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        cancel.start(10);
        QVERIFY(!PrintResultLines(nullptr, {u"[/data/]"_s, u"A.NLM"_s}, true));
    }
};

} // namespace kestrel::testing

QTEST_MAIN(kestrel::testing::ReportPrinterTest)
#include "report_printer_test.moc"
