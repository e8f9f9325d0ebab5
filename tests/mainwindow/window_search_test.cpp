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

QScrollBar* ResultScroll(const MainWindow& window) {
    return Find<QListView>(window, "lstFoundFiles")->verticalScrollBar();
}

} // namespace

class WindowSearchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        for (const char* path : {"eth.lan", "tok.lan", "A/a1.lan"})
            m_tree.Add(path, LanDriver(path));
        for (int i = 0; i < 60; ++i)
            m_tree.Add("file" + std::to_string(100 + i) + ".txt", "text");
    }
    void init() { m_settings.Clear(); }

    void statesFromIdleToFinishedAndBack() {
        OpenWindow open(m_tree.Root());
        MainWindow& window = open.window;
        // What the window shows while the walk runs, seen at its first file.
        QString during;
        connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
            if (count == 1)
                during = StateOf(window);
        });
        Search(window, "*.TXT", false);
        QCOMPARE(during, QStringLiteral("&Search &Cancel 01 11 01 01 01 01 01 10"));
        // Finished: the results in place of the criteria, Print enabled, the
        // top on the first report below the directory line, which the
        // caption names.
        QCOMPARE(StateOf(window), QStringLiteral("&Continue E&xit 01 11 01 01 01 01 01 11"));
        QCOMPARE(Find(window, "Picture2")->pos(), QPoint(0, 0));
        QCOMPARE(QApplication::focusWidget(), Find(window, "cmdSearch"));
        QCOMPARE(Text(window, "lblCount"), QStringLiteral("60"));
        QCOMPARE(ResultScroll(window)->value(), 1);
        QCOMPARE(Text(window, "lblShowPath"), QString::fromStdString(m_tree.RootWithSeparator()));
        // Continue: the criteria again, the list empty, the counter at 0, the
        // pattern searched as typed and entered in the Recent list.
        Click(window, "cmdSearch");
        QCOMPARE(StateOf(window), kIdleState);
        QCOMPARE(Text(window, "lblCount"), QStringLiteral("0"));
        QCOMPARE(window.ResultList().LineCount(), 0);
        QCOMPARE(QApplication::focusWidget(), Find(window, "cmbSearchSpec"));
        auto* spec = Find<QComboBox>(window, "cmbSearchSpec");
        QCOMPARE(spec->currentText(), QStringLiteral("*.TXT"));
        QCOMPARE(spec->count(), 1);
        QCOMPARE(spec->itemText(0), QStringLiteral("*.txt"));
    }

    void walk_data() {
        // Files are LAN drivers; "[B/]" in an outline is the line of the
        // directory B under the start directory.
        QTest::addColumn<Outlines>("files");
        QTest::addColumn<bool>("subdirectories");
        QTest::addColumn<QList<int>>("selected"); // rows of the file list
        QTest::addColumn<int>("cancelAt");        // the file during which Cancel is clicked
        QTest::addColumn<Outlines>("outline");
        QTest::addColumn<QString>("count");
        const Outlines tree = {"eth.lan",  "tok.lan",       "A/a1.lan",
                               "B/b1.lan", "B/deep/d1.lan", "C/readme.txt"};
        QTest::newRow("start directory only")
            << tree << false << QList<int>() << 0 << Outlines{"[]", "eth.lan", "tok.lan"} << "2";
        // Subdirectories after the directory's own files, last name first,
        // each with all of its own before the next; C has no match and no line.
        QTest::newRow("with subdirectories")
            << tree << true << QList<int>() << 0
            << Outlines{"[]",        "eth.lan", "tok.lan", "[B/]",  "b1.lan",
                        "[B/deep/]", "d1.lan",  "[A/]",    "a1.lan"}
            << "5";
        // Only the selected files, and none of the subdirectories; e.lan is
        // gone by the time of the search: counted, not reported.
        QTest::newRow("selected files")
            << Outlines{"a.lan", "b.lan", "c.lan", "d.lan", "e.lan", "sub/s.lan"} << true
            << QList<int>{0, 2, 4} << 0 << Outlines{"[]", "a.lan", "c.lan"} << "3";
        // Zed comes first, then Mid, whose third file is the sixth in all:
        // Cancel takes effect at the yield after it.
        QTest::newRow("cancel at the third file of a directory")
            << Outlines{"own1.lan",   "own2.lan",   "Zed/z1.lan", "Mid/m1.lan",
                        "Mid/m2.lan", "Mid/m3.lan", "Mid/m4.lan", "Aaa/never.lan"}
            << true << QList<int>() << 6
            << Outlines{"[]",     "own1.lan", "own2.lan", "[Zed/]", "z1.lan",
                        "[Mid/]", "m1.lan",   "m2.lan",   "m3.lan"}
            << "6";
    }

    void walk() {
        QFETCH(Outlines, files);
        QFETCH(bool, subdirectories);
        QFETCH(QList<int>, selected);
        QFETCH(int, cancelAt);
        QFETCH(Outlines, outline);
        QFETCH(QString, count);
        fixtures::TempTree tree;
        for (const std::string& path : files)
            tree.Add(path, LanDriver(path));
        OpenWindow open(tree.Root());
        Find<QComboBox>(open.window, "cmbSearchSpec")->setEditText(QStringLiteral("*.lan"));
        Find<QCheckBox>(open.window, "chkSubdirs")->setChecked(subdirectories);
        for (int row : selected)
            Find<FileList>(open.window, "filList")->item(row)->setSelected(true);
        std::filesystem::remove(tree.Root() / "e.lan"); // a selected file gone meanwhile
        QString caption;
        auto* cancel = Find<QAbstractButton>(open.window, "cmdExit");
        connect(&open.window, &MainWindow::FileScanned, &open.window, [&](qint64 scanned) {
            caption = Text(open.window, "lblShowPath");
            if (scanned == cancelAt)
                QMetaObject::invokeMethod(
                    cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); },
                    Qt::QueuedConnection);
        });
        Click(open.window, "cmdSearch");
        const std::string root = tree.RootWithSeparator();
        for (std::string& line : outline) {
            if (line.starts_with('['))
                line.insert(1, root);
        }
        QCOMPARE(Outline(open.window), outline);
        QCOMPARE(std::string(open.window.ResultList().Line(2)), " HDescription     :" + outline[1]);
        QCOMPARE(std::string(open.window.ResultList().Line(2)), " HDescription     :" + outline[1]);
        QCOMPARE(Text(open.window, "lblCount"), count);
        if (!selected.isEmpty()) // the caption counts the selected files
            QCOMPARE(caption, QStringLiteral("   3 files in ") + QString::fromStdString(root));
        QCOMPARE(StateOf(open.window), QStringLiteral("&Continue E&xit 01 11 01 01 01 01 01 11"));
        // Continue reopens the start directory, wherever the walk stopped.
        Click(open.window, "cmdSearch");
        QCOMPARE(Find<DirectoryList>(open.window, "dirList")->Path(), tree.Root().string());
    }

    void duringASearch() {
        // A deep start directory makes the status caption longer than 60; its
        // subdirectory holds enough reports to scroll.
        const std::string deep = "a-rather-long-directory-name/and-another-long-one";
        fixtures::TempTree tree;
        tree.Add(deep + "/w.lan", LanDriver("W"));
        tree.Add(deep + "/x.lan", LanDriver("X"));
        for (int i = 0; i < 40; ++i)
            tree.Add(deep + "/sub/drv" + std::to_string(10 + i) + ".lan", LanDriver("Driver"));
        OpenWindow open(tree.Root() / deep);
        MainWindow& window = open.window;
        QScrollBar* scroll = ResultScroll(window);
        QList<qint64> counts;
        QStringList captions;
        connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
            // The counter's caption is redrawn now and then and whenever the
            // walk enters a directory: it never runs ahead and is exact at
            // each directory, whose caption stays while the list is scrolled.
            counts << count;
            const qint64 shown = Text(window, "lblCount").toLongLong();
            QVERIFY(shown <= count);
            if (captions.isEmpty() || captions.last() != Text(window, "lblShowPath")) {
                captions << Text(window, "lblShowPath");
                QVERIFY(shown >= count - 1);
            }
            // A second click on Search is ignored.
            if (count == 1)
                Click(window, "cmdSearch");
            // Line 4 is the labelled line of the second report: a snap would
            // move the top on to the first report of sub; scrolling only
            // moves the list.
            if (count == 35) {
                QTRY_VERIFY(scroll->maximum() >= 4);
                scroll->setValue(4);
                QCOMPARE(scroll->value(), 4);
            }
            // Closing the window stops the search and saves the settings.
            if (count == 38)
                QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
        });
        Search(window, "*.*", true);
        QList<qint64> oneByOne;
        for (qint64 i = 1; i <= 38; ++i)
            oneByOne << i;
        QCOMPARE(counts, oneByOne);
        QCOMPARE(Text(window, "lblCount"), QStringLiteral("38"));
        const QString start = QString::fromStdString((tree.Root() / deep).string());
        const auto shortened = [](const QString& text) {
            return text.left(24) + QStringLiteral("......") + text.right(30);
        };
        QCOMPARE(captions, (QStringList{shortened(QStringLiteral("   2 files in ") + start),
                                        shortened(QStringLiteral("  40 files in ") + start +
                                                  QStringLiteral("/sub"))}));
        QCOMPARE(Outline(window).size(), std::size_t{40});
        QVERIFY(!window.isVisible());
        QVERIFY(QFile::exists(m_settings.FilePath()));
    }

    void fileTimesInTheSystemLocale() {
        const QDate day(2024, 1, 2);
        const std::string date =
            QLocale::system().toString(day, QLocale::ShortFormat).toStdString();
        const auto textAt = [&, locale = SystemReportLocale()](QTime time) {
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

    void printHandsTheListToThePrinter() {
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

    void queuedLinesAreShownInOneInsertion() {
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
        model.Flush();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(insertions.count(), 2);
        QCOMPARE(SnapTopIndex(model, 0, 0), -1); // an empty list does not move
    }

    void scrollingSnapsTheTop_data() {
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

    void scrollingSnapsTheTop() {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, top);
        QFETCH(QString, caption);
        // A window in the finished state of a search over an empty directory,
        // its result list then filled here: "D" a directory line, "F" a
        // file's first line, "L" a labelled line.
        fixtures::TempTree empty;
        OpenWindow open(empty.Root());
        Click(open.window, "cmdSearch");
        int directory = 0;
        for (const QChar kind : QStringLiteral("DFLLFFL").repeated(40) + QStringLiteral("F") +
                                    QString(30, QLatin1Char('L')))
            open.window.ResultList().AppendLine(
                kind == u'D'   ? "[/data/dir" + std::to_string(directory++) + "/]"
                : kind == u'F' ? std::string("FILE.EXE   NE   1,024")
                               : std::string(" HName  :x"));
        open.window.ResultList().Flush();
        QScrollBar* scroll = ResultScroll(open.window);
        QTRY_VERIFY(scroll->maximum() >= 285); // the view lays out new lines on its next turn
        scroll->setValue(from);
        QCOMPARE(scroll->value(), from);
        scroll->setValue(to);
        QCOMPARE(scroll->value(), top);
        QCOMPARE(Text(open.window, "lblShowPath"), caption);
    }

private:
    fixtures::TempTree m_tree;
    IsolatedSettings m_settings;
};

} // namespace kestrel

QTEST_MAIN(kestrel::WindowSearchTest)
#include "window_search_test.moc"
