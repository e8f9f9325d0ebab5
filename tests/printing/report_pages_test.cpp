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

QStringList Directory(const QString& path) {
    return {u'[' + path + u']'};
}

// A file's entry: its first line and `labelled` report lines under it.
QStringList Entry(const QString& name, int labelled) {
    QStringList lines{name + u"           NE       12,345 2024-01-02"_s};
    for (int i = 1; i <= labelled; ++i)
        lines.append(u" HDescription     :%1 part %2"_s.arg(name).arg(i));
    return lines;
}

QStringList BriefLines(int first, int count) {
    QStringList lines;
    for (int i = first; i < first + count; ++i)
        lines.append(u"FILE%1.NLM    1.02 Test"_s.arg(i));
    return lines;
}

// One copy as "<lines on the page> <its fourth line>" per page, or "malformed"
// when a page lacks its header and two empty lines, or a file's line is lost,
// repeated, out of order or bold.
QString Layout(QStringList lines, bool briefFormat, int pageHeight = 15840) {
    RecordingTarget target;
    target.pageHeight = pageHeight;
    if (!PrintReport(lines, briefFormat, kDate, 1, target) || target.log.takeLast() != u"<end>")
        return u"failed"_s;
    QList<QStringList> pages{QStringList()};
    for (const QString& entry : target.log) {
        if (entry == u"<page>")
            pages.append(QStringList());
        else
            pages.last().append(entry);
    }
    QStringList layout;
    QStringList printed;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (pages[i].mid(0, 3) != QStringList{Header(i + 1), QString(), QString()})
            return u"malformed"_s;
        for (const QString& line : pages[i].mid(3))
            if (!line.isEmpty() && !line.startsWith(u'*'))
                printed.append(line);
        layout.append(QString::number(pages[i].size()) + u' ' + pages[i].value(3));
    }
    lines.removeIf([](const QString& line) { return line.startsWith(u'['); });
    return printed == lines ? layout.join(u" | ") : u"malformed"_s;
}

} // namespace

class ReportPagesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void linesPerPageFromPageAndLineHeight() {
        QCOMPARE(LinesPerPage(15840, 250.0), 57.36);
        QCOMPARE(LinesPerPage(240 * 5, 240.0), 1.0); // a page smaller than its margin
        QCOMPARE(LinesPerPage(15840, 0.0), 1.0);     // an unmeasurable font
    }

    void briefFormatFillsEveryLine() {
        const QStringList lines = Directory(u"/data/"_s) + BriefLines(1, 120) +
                                  Directory(u"/data/sub/"_s) + BriefLines(121, 2);
        QCOMPARE(Layout(lines, true),
                 u"60 */data/ | 60 */data/ (Continued) | 15 */data/ (Continued)"_s);
        // Before the first directory line there is no title to continue.
        QCOMPARE(Layout(BriefLines(1, 70), true),
                 u"60 FILE1.NLM    1.02 Test | 16 FILE58.NLM    1.02 Test"_s);
    }

    void fullFormatKeepsEntriesWhole() {
        QStringList lines = Directory(u"/data/"_s);
        for (int i = 1; i <= 12; ++i)
            lines += Entry(u"MOD%1.NLM"_s.arg(i), 4);
        // Nine entries of six lines with the empty line above each fit under the
        // four opening lines; a tenth would pass line 60.
        QCOMPARE(Layout(lines, false), u"58 */data/ | 22 */data/ (Continued)"_s);
        // One ending on the page's last line goes on as well.
        lines = Directory(u"/data/"_s) + Entry(u"A"_s, 0) + Entry(u"B"_s, 52);
        QCOMPARE(Layout(lines, false), u"6 */data/ | 58 */data/ (Continued)"_s);
    }

    void overLongEntryRunsOnOverPages() {
        QStringList lines =
            Directory(u"/data/"_s) + Entry(u"A"_s, 0) + Entry(u"LONG"_s, 130) + Entry(u"B"_s, 0);
        QCOMPARE(
            Layout(lines, false),
            u"6 */data/ | 60 */data/ (Continued) | 60 */data/ (Continued) | 26 */data/ (Continued)"_s);
        // Right under its title on a fresh page it stays: the next page holds no more.
        lines = Directory(u"/data/"_s) + Entry(u"LONG"_s, 70);
        QCOMPARE(Layout(lines, false), u"60 */data/ | 20 */data/ (Continued)"_s);
        // A page too small for its margin still takes one line of the list.
        lines = Directory(u"/d/"_s) + Entry(u"A"_s, 1) + Entry(u"B"_s, 0);
        QCOMPARE(Layout(lines, false, 240 * 5),
                 u"4 */d/ | 6 */d/ (Continued) | 5 */d/ (Continued) | 6 */d/ (Continued)"_s);
    }

    void copiesAreDocumentsOfTheirOwn() {
        RecordingTarget target;
        const QStringList lines = Directory(u"/data/"_s) + BriefLines(1, 56); // one full page
        QVERIFY(PrintReport(lines, true, kDate, 3, target));
        QCOMPARE(target.font, u"Courier 10"_s);
        const QStringList copy = target.log.mid(0, 61);
        QCOMPARE(copy.first(), Header(1));
        QCOMPARE(copy.last(), u"<end>"_s); // and no page break before it
        QCOMPARE(target.log, copy + copy + copy);
    }

    void failureAbortsTheDocument() {
        const QStringList lines =
            Directory(u"/data/"_s) + BriefLines(1, 120); // 132 lines, 2 breaks
        RecordingTarget target;
        target.failingEntry = 132 + 2 + 1 + 70; // on page 2 of the second copy
        QVERIFY(!PrintReport(lines, true, kDate, 3, target));
        QCOMPARE(target.log.count(u"<end>"_s), 1);
        QCOMPARE(target.log.mid(target.failingEntry), QStringList{u"<abort>"_s});
    }
};

} // namespace kestrel::testing

QTEST_GUILESS_MAIN(kestrel::testing::ReportPagesTest)
#include "report_pages_test.moc"
