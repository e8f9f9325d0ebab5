// The search in the window: its three states, the counter and the status
// caption, the order of directories and reports, selected files, Cancel,
// Continue, the Recent list, the report's locale and Print; and the result
// list, whose lines reach the view in batches and whose top snaps to the
// first line of a report when it is scrolled.

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QListView>
#include <QLocale>
#include <QScrollBar>
#include <QSignalSpy>

#include "directory_list.h"
#include "file_list.h"
#include "result_list_model.h"
#include "result_scrolling.h"
#include "window_locale.h"
#include "window_test_support.h"

namespace kestrel {

using namespace testing;
using Outlines = std::vector<std::string>;

namespace {

// A NetWare driver named .LAN without the NLM signature: the byte at offset 1
// says where its length-prefixed description stands, which its report shows
// on a labelled line.
fixtures::Bytes LanDriver(std::string_view description) {
    fixtures::ByteWriter image(256);
    image.PutU8(1, 8);
    image.PutCountedText(9, description);
    return image.Data();
}

// The directory lines and the names of the reports, in list order.
Outlines Outline(MainWindow& window) {
    Outlines outline;
    for (int i = 0; i < window.ResultList().LineCount(); ++i) {
        const std::string line(window.ResultList().Line(i));
        if (line.starts_with('['))
            outline.push_back(line);
        else if (!line.starts_with(' '))
            outline.push_back(line.substr(0, line.find(' ')));
    }
    return outline;
}

void Search(MainWindow& window, const char* spec, bool subdirectories) {
    Find<QComboBox>(window, "cmbSearchSpec")->setEditText(QString::fromLatin1(spec));
    Find<QCheckBox>(window, "chkSubdirs")->setChecked(subdirectories);
    Click(window, "cmdSearch");
}

// A result list written in short: "D" a directory line (numbered as they
// come), "F" a file's first line, "L" a labelled line.
void FillList(ResultListModel& model, const QString& kinds) {
    int directory = 0;
    for (const QChar kind : kinds) {
        if (kind == QLatin1Char('D'))
            model.AppendLine("[/data/dir" + std::to_string(directory++) + "/]");
        else
            model.AppendLine(kind == QLatin1Char('F') ? "FILE.EXE   NE   1,024" : " HName  :x");
    }
    model.Flush();
}

} // namespace

class WindowSearchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { m_settings.Clear(); }

    void statesFromIdleToFinishedAndBack();
    void directoryLinesAndOrder_data();
    void directoryLinesAndOrder();
    void counterAndStatusCaption();
    void selectedFilesOnly();
    void cancelAtTheThirdFileOfADirectory();
    void duringASearch();
    void enterOnAHighlightedDirectoryOpensIt();
    void searchEntersTheRecentList();
    void fileTimesInTheSystemLocale();
    void printHandsTheListToThePrinter();
    void queuedLinesAreShownInOneInsertion();
    void scrollingSnapsTheTop_data();
    void scrollingSnapsTheTop();
    void finishedSearchStartsOnTheFirstReport();

private:
    fixtures::TempTree m_tree;
    IsolatedSettings m_settings;
};

void WindowSearchTest::initTestCase() {
    // Subdirectories A, B (with B/deep) and C, whose only file does not
    // match *.lan.
    m_tree.Add("eth.lan", LanDriver("Ethernet Driver"));
    m_tree.Add("tok.lan", LanDriver("Token Ring Driver"));
    m_tree.Add("notes.txt", "notes");
    m_tree.Add("A/a1.lan", LanDriver("A one"));
    m_tree.Add("B/b1.lan", LanDriver("B one"));
    m_tree.Add("B/deep/d1.lan", LanDriver("Deep one"));
    m_tree.Add("C/readme.txt", "readme");
}

void WindowSearchTest::statesFromIdleToFinishedAndBack() {
    OpenWindow open(m_tree.Root());
    MainWindow& window = open.window;
    // What the window shows while the walk runs, seen at its first file.
    QStringList during;
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        if (count > 1)
            return;
        during << Text(window, "cmdSearch") << Text(window, "cmdExit");
        for (const char* name : {"Picture2", "Picture1", "Picture3", "fraOptions", "chkSubdirs",
                                 "chkDebug", "cmdPrint"})
            during << QString::number(Find(window, name)->isVisible()) +
                          QString::number(Find(window, name)->isEnabled());
    });
    Search(window, "*.lan", false);
    QCOMPARE(during,
             QStringLiteral("&Search &Cancel 11 01 01 01 01 01 10").split(QLatin1Char(' ')));
    // Finished: the results in place of the criteria, Print enabled.
    QCOMPARE(Text(window, "cmdSearch"), QStringLiteral("&Continue"));
    QCOMPARE(Text(window, "cmdExit"), QStringLiteral("E&xit"));
    QVERIFY(Find(window, "cmdPrint")->isEnabled());
    QCOMPARE(Find(window, "Picture2")->pos(), QPoint(0, 0));
    QVERIFY(!Find(window, "Picture1")->isVisible() && !Find(window, "chkBrief")->isVisible());
    QCOMPARE(QApplication::focusWidget(), Find(window, "cmdSearch"));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("2"));

    // Continue: the criteria again, the list empty, the counter at 0.
    Click(window, "cmdSearch");
    QCOMPARE(Text(window, "cmdSearch"), QStringLiteral("&Search"));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("0"));
    QCOMPARE(window.ResultList().LineCount(), 0);
    QVERIFY(!Find(window, "Picture2")->isVisible() && !Find(window, "cmdPrint")->isEnabled());
    for (const char* name : {"Picture1", "Picture3", "fraOptions", "chkSubdirs", "chkDebug"})
        QVERIFY2(Find(window, name)->isVisible(), name);
    QCOMPARE(QApplication::focusWidget(), Find(window, "cmbSearchSpec"));
}

void WindowSearchTest::directoryLinesAndOrder_data() {
    const std::string root = m_tree.RootWithSeparator();
    QTest::addColumn<bool>("subdirectories");
    QTest::addColumn<Outlines>("outline");
    QTest::newRow("start directory only")
        << false << Outlines{"[" + root + "]", "eth.lan", "tok.lan"};
    // Subdirectories after the directory's own files, last name first, each
    // with all of its own before the next; C has no match and no line.
    QTest::newRow("with subdirectories")
        << true << Outlines{"[" + root + "]",   "eth.lan",          "tok.lan",
                            "[" + root + "B/]", "b1.lan",           "[" + root + "B/deep/]",
                            "d1.lan",           "[" + root + "A/]", "a1.lan"};
}

void WindowSearchTest::directoryLinesAndOrder() {
    QFETCH(bool, subdirectories);
    QFETCH(Outlines, outline);
    OpenWindow open(m_tree.Root());
    Search(open.window, "*.lan", subdirectories);
    QCOMPARE(Outline(open.window), outline);
    QCOMPARE(std::string(open.window.ResultList().Line(2)),
             std::string(" HDescription     :Ethernet Driver"));
}

void WindowSearchTest::counterAndStatusCaption() {
    // A deep start directory makes the status caption longer than 60.
    const std::string deep = "a-rather-long-directory-name/and-another-long-one";
    fixtures::TempTree tree;
    tree.Add(deep + "/x.lan", LanDriver("X"));
    tree.Add(deep + "/y.txt", "text");
    tree.Add(deep + "/sub/z.lan", LanDriver("Z"));
    OpenWindow open(tree.Root() / deep);
    MainWindow& window = open.window;
    // The counter's caption is redrawn now and then and whenever the walk
    // enters a directory: it never runs ahead and is exact at each directory.
    QList<qint64> counts;
    QStringList captions;
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        counts << count;
        const qint64 shown = Text(window, "lblCount").toLongLong();
        QVERIFY(shown <= count);
        if (captions.isEmpty() || captions.last() != Text(window, "lblShowPath")) {
            captions << Text(window, "lblShowPath");
            QVERIFY(shown >= count - 1);
        }
    });
    Search(window, "*.*", true);
    QCOMPARE(counts, (QList<qint64>{1, 2, 3}));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("3"));
    const QString start = QString::fromStdString((tree.Root() / deep).string());
    const auto shortened = [](const QString& text) {
        return text.left(24) + QStringLiteral("......") + text.right(30);
    };
    QCOMPARE(captions, (QStringList{shortened(QStringLiteral("   2 files in ") + start),
                                    shortened(QStringLiteral("   1 files in ") + start +
                                              QStringLiteral("/sub"))}));
}

void WindowSearchTest::selectedFilesOnly() {
    fixtures::TempTree tree;
    for (const char* name : {"a.lan", "b.lan", "c.lan", "d.lan", "e.lan", "sub/s.lan"})
        tree.Add(name, LanDriver(name));
    OpenWindow open(tree.Root());
    auto* files = Find<FileList>(open.window, "filList");
    for (int row : {0, 2, 4})
        files->item(row)->setSelected(true);
    // A selected file gone by the time of the search is counted, not reported.
    std::filesystem::remove(tree.Root() / "e.lan");
    QString during;
    connect(&open.window, &MainWindow::FileScanned, &open.window,
            [&] { during = Text(open.window, "lblShowPath"); });
    Search(open.window, "*.*", true);
    QCOMPARE(Outline(open.window),
             (Outlines{"[" + tree.RootWithSeparator() + "]", "a.lan", "c.lan"}));
    QCOMPARE(Text(open.window, "lblCount"), QStringLiteral("3"));
    QCOMPARE(during,
             QStringLiteral("   3 files in ") + QString::fromStdString(tree.RootWithSeparator()));
}

void WindowSearchTest::cancelAtTheThirdFileOfADirectory() {
    fixtures::TempTree tree;
    for (const char* name : {"own1.lan", "own2.lan", "Zed/z1.lan", "Mid/m1.lan", "Mid/m2.lan",
                             "Mid/m3.lan", "Mid/m4.lan", "Aaa/never.lan"})
        tree.Add(name, LanDriver(name));
    OpenWindow open(tree.Root());
    // Zed comes first (names in reverse order), then Mid, whose third file
    // is the sixth in all. The click arrives while that file is scanned and
    // takes effect at the yield after it.
    auto* cancel = Find<QAbstractButton>(open.window, "cmdExit");
    connect(&open.window, &MainWindow::FileScanned, &open.window, [&](qint64 count) {
        if (count == 6) {
            QMetaObject::invokeMethod(
                cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); },
                Qt::QueuedConnection);
        }
    });
    Search(open.window, "*.lan", true);
    const std::string root = tree.RootWithSeparator();
    QCOMPARE(Outline(open.window),
             (Outlines{"[" + root + "]", "own1.lan", "own2.lan", "[" + root + "Zed/]", "z1.lan",
                       "[" + root + "Mid/]", "m1.lan", "m2.lan", "m3.lan"}));
    QCOMPARE(Text(open.window, "lblCount"), QStringLiteral("6"));
    QCOMPARE(Text(open.window, "cmdSearch"), QStringLiteral("&Continue"));
    QCOMPARE(Text(open.window, "cmdExit"), QStringLiteral("E&xit"));
    QVERIFY(open.window.isVisible());
    // Continue reopens the start directory, wherever the walk stopped.
    Click(open.window, "cmdSearch");
    QCOMPARE(Find<DirectoryList>(open.window, "dirList")->Path(), tree.Root().string());
}

void WindowSearchTest::duringASearch() {
    fixtures::TempTree tree;
    for (int i = 0; i < 40; ++i)
        tree.Add("drv" + std::to_string(10 + i) + ".lan", LanDriver("Driver"));
    OpenWindow open(tree.Root());
    MainWindow& window = open.window;
    QScrollBar* scroll = Find<QListView>(window, "lstFoundFiles")->verticalScrollBar();
    int topAfterScroll = -1;
    QString captionAfterScroll;
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        // A second click on Search is ignored.
        if (count == 1)
            Click(window, "cmdSearch");
        // Line 4 is the labelled line of the second report: a snap would
        // move the top on to the third report; scrolling only moves the list.
        if (count == 35) {
            QTRY_VERIFY(scroll->maximum() >= 4);
            scroll->setValue(4);
            topAfterScroll = scroll->value();
            captionAfterScroll = Text(window, "lblShowPath");
        }
        // Closing the window stops the search and saves the settings.
        if (count == 38)
            QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
    });
    Search(window, "*.*", false);
    QCOMPARE(topAfterScroll, 4);
    QCOMPARE(captionAfterScroll,
             QStringLiteral("  40 files in ") + QString::fromStdString(tree.Root().string()));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("38"));
    QCOMPARE(Outline(window).size(), std::size_t{39});
    QVERIFY(!window.isVisible());
    QVERIFY(QFile::exists(m_settings.FilePath()));
}

void WindowSearchTest::enterOnAHighlightedDirectoryOpensIt() {
    OpenWindow open(m_tree.Root());
    QVERIFY(open.active);
    auto* directories = Find<DirectoryList>(open.window, "dirList");
    directories->setFocus(Qt::TabFocusReason);
    QTest::keyClick(directories, Qt::Key_Down); // highlights A
    QTest::keyClick(directories, Qt::Key_Return);
    QCOMPARE(directories->Path(), (m_tree.Root() / "A").string());
    QVERIFY(!Find(open.window, "Picture2")->isVisible());
    // The next Enter searches the directory now open.
    QTest::keyClick(directories, Qt::Key_Return);
    QCOMPARE(Outline(open.window), (Outlines{"[" + m_tree.RootWithSeparator() + "A/]", "a1.lan"}));
}

void WindowSearchTest::searchEntersTheRecentList() {
    {
        OpenWindow open(m_tree.Root());
        auto* spec = Find<QComboBox>(open.window, "cmbSearchSpec");
        for (const char* text : {"*.LAN", "*.txt", "*.Lan", "*.*"}) {
            Search(open.window, text, false);
            QCOMPARE(spec->currentText(), QString::fromLatin1(text)); // searched as typed
            Click(open.window, "cmdSearch");                          // Continue
        }
        QCOMPARE(spec->itemText(0), QStringLiteral("*.txt"));
        open.window.close();
    }
    OpenWindow open(m_tree.Root());
    auto* spec = Find<QComboBox>(open.window, "cmbSearchSpec");
    QCOMPARE(spec->count(), 2);
    QCOMPARE(spec->itemText(1), QStringLiteral("*.lan"));
}

void WindowSearchTest::fileTimesInTheSystemLocale() {
    const ReportLocale locale = SystemReportLocale();
    const QLocale system = QLocale::system();
    QCOMPARE(locale.groupSeparator, system.groupSeparator().toStdString());
    const QDate day(2024, 1, 2);
    const std::string date = system.toString(day, QLocale::ShortFormat).toStdString();
    const auto textAt = [&](QTime time) {
        return locale.formatFileTime(QDateTime(day, time).toSecsSinceEpoch());
    };
    // At exactly midnight the date alone; else the time follows, to the
    // second, and the text kept from one file is not given to the next.
    QCOMPARE(textAt(QTime(0, 0)), date);
    const std::string afternoon = textAt(QTime(15, 4, 7));
    QVERIFY2(afternoon.starts_with(date + " ") && afternoon.find("04") != std::string::npos &&
                 afternoon.find("07") != std::string::npos,
             afternoon.c_str());
    QCOMPARE(textAt(QTime(0, 0)), date);
}

void WindowSearchTest::printHandsTheListToThePrinter() {
    OpenWindow open(m_tree.Root());
    QVERIFY(open.active);
    QStringList printed;
    bool printedBrief = false;
    QWidget* dialogParent = nullptr;
    open.window.SetPrintFunction([&](QWidget* parent, const QStringList& lines, bool brief) {
        dialogParent = parent;
        printed = lines;
        printedBrief = brief;
        return false; // as a cancelled dialog
    });
    Click(open.window, "chkBrief");
    Search(open.window, "*.lan", false);
    QTest::keyClick(&open.window, Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(printed.size(), 3);
    QCOMPARE(dialogParent, &open.window);
    QVERIFY(printedBrief);
    QCOMPARE(printed[0], QString::fromStdString("[" + m_tree.RootWithSeparator() + "]"));
    // Brief format, and a description alone gives no brief text.
    QVERIFY(printed[1].startsWith(QStringLiteral("eth.lan") + QString(23, QLatin1Char(' ')) +
                                  QStringLiteral("Unknown. ")));
    // A cancelled print changes nothing.
    QCOMPARE(open.window.ResultList().LineCount(), 3);
    QVERIFY(Find(open.window, "cmdPrint")->isEnabled());
}

void WindowSearchTest::queuedLinesAreShownInOneInsertion() {
    ResultListModel model;
    QSignalSpy insertions(&model, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 1000; ++i)
        model.AppendLine("line " + std::to_string(i));
    QCOMPARE(model.rowCount(), 0);
    QTRY_COMPARE(model.rowCount(), 1000); // shown when their time comes
    QCOMPARE(insertions.count(), 1);
    QCOMPARE(model.data(model.index(999)).toString(), QStringLiteral("line 999"));
    model.AppendLine("Ünïcode");
    model.Flush(); // at once
    QCOMPARE(model.LineText(1000), QStringLiteral("Ünïcode"));
    QVERIFY(!model.data(model.index(1001)).isValid());
    model.AppendLine("queued, then cleared");
    model.Clear();
    QTest::qWait(2 * ResultListModel::kShowIntervalMs);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(insertions.count(), 2);
    QCOMPARE(SnapTopIndex(model, 0, 0), -1); // an empty list does not move
}

void WindowSearchTest::scrollingSnapsTheTop_data() {
    // Directory d's lines start at 7 * d: D F L L F F L; after 40 of them a
    // report and a tail of labelled lines with no report after.
    QTest::addColumn<int>("from"); // where the last snap left the top
    QTest::addColumn<int>("to");   // where the user scrolls
    QTest::addColumn<int>("top");
    QTest::addColumn<QString>("caption");
    QTest::newRow("down one line onto a labelled line") << 1 << 2 << 4 << "/data/dir0/";
    QTest::newRow("down past a directory line") << 5 << 6 << 8 << "/data/dir1/";
    QTest::newRow("up from the middle of a report") << 11 << 10 << 8 << "/data/dir1/";
    QTest::newRow("down onto a report stays") << 1 << 12 << 12 << "/data/dir1/";
    QTest::newRow("down in the tail") << 281 << 285 << 285 << "/data/dir39/";
}

void WindowSearchTest::scrollingSnapsTheTop() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, top);
    QFETCH(QString, caption);
    // A window in the finished state of a search over an empty directory,
    // its result list then filled here.
    fixtures::TempTree empty;
    OpenWindow open(empty.Root());
    Click(open.window, "cmdSearch");
    FillList(open.window.ResultList(), QStringLiteral("DFLLFFL").repeated(40) +
                                           QStringLiteral("F") + QString(30, QLatin1Char('L')));
    QScrollBar* scroll = Find<QListView>(open.window, "lstFoundFiles")->verticalScrollBar();
    QTRY_VERIFY(scroll->maximum() >= 285); // the view lays out new lines on its next turn
    scroll->setValue(from);
    QCOMPARE(scroll->value(), from);
    scroll->setValue(to);
    QCOMPARE(scroll->value(), top);
    QCOMPARE(Text(open.window, "lblShowPath"), caption);
}

void WindowSearchTest::finishedSearchStartsOnTheFirstReport() {
    // Enough reports to scroll: the top comes to the first report, below the
    // directory line, and the caption names the directory.
    fixtures::TempTree tree;
    for (int i = 0; i < 60; ++i)
        tree.Add("file" + std::to_string(100 + i) + ".txt", "text");
    OpenWindow open(tree.Root());
    Click(open.window, "cmdSearch");
    QCOMPARE(Find<QListView>(open.window, "lstFoundFiles")->verticalScrollBar()->value(), 1);
    QCOMPARE(Text(open.window, "lblShowPath"), QString::fromStdString(tree.RootWithSeparator()));
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowSearchTest)
#include "window_search_test.moc"
