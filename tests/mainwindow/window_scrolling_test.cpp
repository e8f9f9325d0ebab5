// The result list: its lines reach the view in batches, and scrolling snaps
// its top to the first line of a file's report while the caption names that
// file's directory.

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

#include "result_list_model.h"
#include "result_scrolling.h"
#include "window_test_support.h"

namespace kestrel {

using testing::Find;

namespace {

// A result list written in short: "D" a directory line (the directories are
// numbered as they come), "F" a file's first line, "L" a labelled line.
void FillList(ResultListModel& model, const QString& kinds) {
    int directory = 0;
    int file = 0;
    for (const QChar kind : kinds) {
        if (kind == QLatin1Char('D'))
            model.AppendLine("[/data/dir" + std::to_string(directory++) + "/]");
        else if (kind == QLatin1Char('F'))
            model.AppendLine("FILE" + std::to_string(file++) + ".EXE        NE     1,024");
        else if (kind == QLatin1Char('L'))
            model.AppendLine(" HDescription     :a labelled line");
    }
    model.Flush();
}

// Long enough to scroll: 40 directories of three reports each, the first
// with two labelled lines, then a tail of labelled lines with no report after.
QString LongList() {
    QString kinds;
    for (int i = 0; i < 40; ++i)
        kinds += QStringLiteral("DFLLFFL");
    return kinds + QStringLiteral("F") + QString(30, QLatin1Char('L'));
}

} // namespace

class WindowScrollingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_settings.Clear(); }

    void queuedLinesAreShownInOneInsertion();
    void snapTarget_data();
    void snapTarget();
    void scrollingSnapsTheTop_data();
    void scrollingSnapsTheTop();
    void emptySearchKeepsTheWalksCaption();
    void finishedSearchStartsOnTheFirstReport();

private:
    // A window in the finished state of a search over an empty directory,
    // its result list then filled by the test.
    void ShowFinishedWindow(MainWindow& window);

    fixtures::TempTree m_tree;
    testing::IsolatedSettings m_settings;
};

void WindowScrollingTest::ShowFinishedWindow(MainWindow& window) {
    QVERIFY(testing::ShowAndActivate(window));
    QTest::mouseClick(Find<QPushButton>(window, "cmdSearch"), Qt::LeftButton);
    QCOMPARE(Find<QPushButton>(window, "cmdSearch")->text(), QStringLiteral("&Continue"));
}

void WindowScrollingTest::queuedLinesAreShownInOneInsertion() {
    ResultListModel model;
    QSignalSpy insertions(&model, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 1000; ++i)
        model.AppendLine("line " + std::to_string(i));
    QCOMPARE(model.rowCount(), 0);
    QTRY_COMPARE(model.rowCount(), 1000); // shown when their time comes
    QCOMPARE(insertions.count(), 1);
    QCOMPARE(insertions[0][1].toInt(), 0);
    QCOMPARE(insertions[0][2].toInt(), 999);
    QCOMPARE(model.data(model.index(999)).toString(), QStringLiteral("line 999"));

    model.AppendLine("Ünïcode line");
    model.Flush(); // at once
    QCOMPARE(model.rowCount(), 1001);
    QCOMPARE(model.LineText(1000), QStringLiteral("Ünïcode line"));
    model.Flush();
    QCOMPARE(insertions.count(), 2);

    QCOMPARE(model.Line(1001), std::string_view());
    QCOMPARE(model.Line(-1), std::string_view());
    QVERIFY(!model.data(model.index(1001)).isValid());
    model.AppendLine("queued, then cleared");
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
    QTest::qWait(2 * ResultListModel::kShowIntervalMs);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(insertions.count(), 2);
}

void WindowScrollingTest::snapTarget_data() {
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("lastTop");
    QTest::addColumn<int>("target");
    QTest::newRow("down onto a labelled line: the next report") << "DFLLDFL" << 2 << 1 << 5;
    QTest::newRow("not moved, on a report: stays") << "DFLLF" << 1 << 1 << 1;
    QTest::newRow("down on a directory line: the report below") << "DFDF" << 2 << 1 << 3;
    QTest::newRow("up into a report: its first line") << "DFLLLF" << 3 << 5 << 1;
    QTest::newRow("up with no report above: none") << "DLLF" << 2 << 3 << -1;
    QTest::newRow("down with no report below: none") << "DFLLL" << 3 << 1 << -1;
    QTest::newRow("empty list") << "" << 0 << 0 << -1;
}

void WindowScrollingTest::snapTarget() {
    QFETCH(QString, kinds);
    QFETCH(int, top);
    QFETCH(int, lastTop);
    QFETCH(int, target);
    ResultListModel model;
    FillList(model, kinds);
    QCOMPARE(SnapTopIndex(model, top, lastTop), target);
}

void WindowScrollingTest::scrollingSnapsTheTop_data() {
    // The long list: directory d's lines start at 7 * d: D F L L F F L.
    QTest::addColumn<int>("from"); // where the last snap left the top
    QTest::addColumn<int>("to");   // where the user scrolls
    QTest::addColumn<int>("top");
    QTest::addColumn<QString>("caption");
    QTest::newRow("down one line onto a labelled line")
        << 1 << 2 << 4 << QStringLiteral("/data/dir0/");
    QTest::newRow("down past a directory line") << 5 << 6 << 8 << QStringLiteral("/data/dir1/");
    QTest::newRow("up from the middle of a report")
        << 11 << 10 << 8 << QStringLiteral("/data/dir1/");
    QTest::newRow("down onto a report stays") << 1 << 12 << 12 << QStringLiteral("/data/dir1/");
    QTest::newRow("down in the tail with no report after")
        << 281 << 285 << 285 << QStringLiteral("/data/dir39/");
}

void WindowScrollingTest::scrollingSnapsTheTop() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, top);
    QFETCH(QString, caption);
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    ShowFinishedWindow(window);
    FillList(window.ResultList(), LongList());
    QScrollBar* scroll = Find<QListView>(window, "lstFoundFiles")->verticalScrollBar();
    QTRY_VERIFY(scroll->maximum() >= 285); // the view lays out new lines on its next turn
    scroll->setValue(from);
    QCOMPARE(scroll->value(), from);
    scroll->setValue(to);
    QCOMPARE(scroll->value(), top);
    QCOMPARE(Find<QLabel>(window, "lblShowPath")->text(), caption);
}

void WindowScrollingTest::emptySearchKeepsTheWalksCaption() {
    // No matching file: an empty list, no directory line, and the snap at
    // the end leaves the caption of the last directory visited.
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    ShowFinishedWindow(window);
    QListView* list = Find<QListView>(window, "lstFoundFiles");
    QCOMPARE(list->model()->rowCount(), 0);
    QCOMPARE(Find<QLabel>(window, "lblShowPath")->text(),
             QStringLiteral("   0 files in ") + QString::fromStdString(m_tree.Root().string()));
    list->verticalScrollBar()->setValue(3);
    QCOMPARE(list->verticalScrollBar()->value(), 0);
}

void WindowScrollingTest::finishedSearchStartsOnTheFirstReport() {
    // Many files, so the list can scroll: the top comes to the first report,
    // below the directory line, and the caption names the directory.
    fixtures::TempTree tree;
    for (int i = 0; i < 60; ++i)
        tree.Add("file" + std::to_string(100 + i) + ".txt", "text");
    testing::CurrentDirectory here(tree.Root().string());
    MainWindow window;
    ShowFinishedWindow(window);
    QListView* list = Find<QListView>(window, "lstFoundFiles");
    QVERIFY(list->model()->rowCount() >= 61);
    QCOMPARE(list->verticalScrollBar()->value(), 1);
    QCOMPARE(Find<QLabel>(window, "lblShowPath")->text(),
             QString::fromStdString(tree.RootWithSeparator()));
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowScrollingTest)
#include "window_scrolling_test.moc"
