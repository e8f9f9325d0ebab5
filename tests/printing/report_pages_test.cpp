#include <QtTest>

#include "recording_target.h"
#include "report_pages.h"

namespace kestrel::testing {
namespace {

using namespace Qt::StringLiterals;

const QString kDate = u"06/05/2024 07:08"_s;

QString Header(qsizetype page) {
    return u"Kestrel report  06/05/2024 07:08  Page "_s + QString::number(page);
}

// One copy as "<lines on the page> <its fourth line>" per page, or "malformed"
// when a page lacks its header and two empty lines, or a file's line is lost,
// repeated, out of order or bold.
QString Layout(const Lines& lines, bool briefFormat, int pageHeight = 14400) {
    RecordingTarget target;
    target.pageHeight = pageHeight;
    if (!PrintReport(lines, briefFormat, kDate, 1, target))
        return u"failed"_s;
    const QStringList pages = target.log.join(u'\n').split(u"\n<page>\n"_s);
    QStringList layout;
    QStringList printed;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QStringList page = pages[i].split(u'\n');
        if (page.mid(0, 3) != QStringList{Header(i + 1), QString(), QString()})
            return u"malformed"_s;
        for (const QString& line : page.mid(3))
            printed << (line.isEmpty() || line.startsWith(u'*') ? QString() : line);
        layout << QString::number(page.size() - (i + 1 == pages.size())) + u' ' + page.value(3);
    }
    QStringList expected;
    for (int i = 0; i < lines.LineCount(); ++i)
        expected << (lines.Kind(i) == LineKind::Directory ? QString() : lines.LineText(i));
    expected << u"<end>"_s;
    printed.removeAll(QString());
    expected.removeAll(QString());
    return printed == expected ? layout.join(u" | ") : u"malformed"_s;
}

} // namespace

class ReportPagesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void linesPerPageFromPageAndLineHeight() {
        QCOMPARE(LinesPerPage(14399, 240.0), 59); // only whole lines
        QCOMPARE(LinesPerPage(239, 240.0), 1);    // a page smaller than a line
        QCOMPARE(LinesPerPage(14400, 0.0), 1);    // an unmeasurable font
        // A page too small for a line still takes one line of the list.
        QCOMPARE(Layout(Lines(u"d/d/,e1,e0"_s), false, 239),
                 u"4 */d/ | 6 */d/ (Continued) | 5 */d/ (Continued) | 6 */d/ (Continued)"_s);
    }

    void pagesOfAList_data() {
        // Pages of 60 lines: the header and two empty lines, then the list.
        QTest::addColumn<QString>("lines"); // as Lines describes them
        QTest::addColumn<bool>("brief");
        QTest::addColumn<QString>("layout");
        QTest::newRow("brief fills every line")
            << "d/data/,b120,d/data/sub/,b2" << true
            << "60 */data/ | 60 */data/ (Continued) | 15 */data/ (Continued)";
        // Before the first directory line there is no title to continue.
        QTest::newRow("brief without a directory")
            << "b70" << true << "60 FILE1.NLM    1.02 Test | 16 FILE58.NLM    1.02 Test";
        // Nine entries of six lines with the empty line above each fit under
        // the four opening lines; a tenth would pass line 60.
        QTest::newRow("entries kept whole") << u"d/data/"_s + u",e4"_s.repeated(12) << false
                                            << "58 */data/ | 22 */data/ (Continued)";
        QTest::newRow("entry ending on the last line")
            << "d/data/,e0,e52" << false << "6 */data/ | 58 */data/ (Continued)";
        QTest::newRow("entry too long for any page")
            << "d/data/,e0,e130,e0" << false
            << "6 */data/ | 60 */data/ (Continued) | 60 */data/ (Continued) | 26 */data/ "
               "(Continued)";
        // Right under its title on a fresh page it stays: the next page holds no more.
        QTest::newRow("too long under its title")
            << "d/data/,e70" << false << "60 */data/ | 20 */data/ (Continued)";
        // The kinds decide, not the first character.
        QTest::newRow("[zz] and lead reports") << "d/d/,r[zz].EXE,r lead.EXE" << false << "10 */d/";
        // A title is never a page's last line, nor left without its first entry.
        QTest::newRow("title to the next page") << "d/a/,b55,d/b/,b3" << true << "59 */a/ | 7 */b/";
        QTest::newRow("title with its entry") << "d/a/,e50,d/b/,e2" << false << "56 */a/ | 8 */b/";
    }

    void pagesOfAList() {
        QFETCH(QString, lines);
        QFETCH(bool, brief);
        QFETCH(QString, layout);
        QCOMPARE(Layout(Lines(lines), brief), layout);
    }

    void onlyThePagesAskedFor() {
        // Three pages; each range gives its pages as numbered in the whole
        // copy, one document, the pages apart by a page break; one beyond the
        // end gives none.
        const Lines lines(u"d/data/,b120,d/data/sub/,b2"_s);
        const std::atomic<bool> going{false};
        for (const auto& [range, pages] : {std::pair{u"2"_s, u"2"_s},
                                           {u"1,3-9"_s, u"1 3"_s},
                                           {u"4-5"_s, QString()},
                                           {QString(), u"1 2 3"_s}}) {
            RecordingTarget target;
            const QPageRanges asked = QPageRanges::fromString(range);
            QVERIFY(PrintReport(lines, true, kDate, 1, target, asked));
            QStringList printed;
            for (const QString& entry : target.log)
                if (entry.startsWith(u"Kestrel report"_s))
                    printed << entry.split(u' ').last();
            QCOMPARE(printed.join(u' '), pages);
            QCOMPARE(target.log.count(u"<page>"_s), std::max<qsizetype>(printed.size() - 1, 0));
            QCOMPARE(CountReportPages(lines, true, 60, asked, going), printed.size());
        }
        const std::atomic<bool> cancelled{true};
        QCOMPARE(CountReportPages(lines, true, 60, {}, cancelled), -1);
    }

    void copiesEndOrAbortTheirDocuments() {
        // Three copies of two pages, each a document numbered from page 1 and
        // ended right after its last line; a failure on page 2 of the second
        // copy aborts it and prints no more.
        const Lines lines(u"d/data/,b60"_s);
        RecordingTarget target;
        QVERIFY(PrintReport(lines, true, kDate, 3, target));
        const QStringList copy = target.log.mid(0, target.log.size() / 3);
        QCOMPARE(target.log, copy + copy + copy);
        QCOMPARE(copy.mid(copy.indexOf(u"<page>"_s) + 1, 1) + copy.mid(copy.size() - 1),
                 (QStringList{Header(2), u"<end>"_s}));
        target.log.clear();
        target.failingEntry = copy.size() + 65;
        QVERIFY(!PrintReport(lines, true, kDate, 3, target));
        QCOMPARE(target.log.count(u"<end>"_s), 1);
        QCOMPARE(target.log.mid(target.failingEntry), QStringList{u"<abort>"_s});
    }
};

} // namespace kestrel::testing

QTEST_GUILESS_MAIN(kestrel::testing::ReportPagesTest)
#include "report_pages_test.moc"
