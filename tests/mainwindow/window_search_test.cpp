// The search in the window: its three states, with the walk on a thread of its
// own that Escape and the close box stop inside a large file; the kinds of
// the lines it makes; selected files; a refused pattern; and the result
// list, whose lines reach the view in batches, whose top snaps to the first
// line of a report when it is scrolled, and whose lines are copied, saved and
// printed; the Details window of a report and finding text in the results.

#include <csignal>
#include <sys/resource.h>

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include "caption_label.h"
#include "details_window.h"
#include "directory_list.h"
#include "file_list.h"
#include "problems_dialog.h"
#include "result_list_model.h"
#include "result_list_view.h"
#include "result_scrolling.h"
#include "sample_builder.h"
#include "samples.h"
#include "search_worker.h"
#include "window_test_support.h"

namespace kestrel {

using namespace testing;
using namespace Qt::StringLiterals;

namespace {

// A NetWare driver named .LAN without the NLM signature: the byte at offset 1
// says where its length-prefixed description stands.
fixtures::Bytes LanDriver(std::string_view description) {
    return fixtures::ByteWriter(256).PutU8(1, 8).PutCountedText(9, description).Data();
}

// The directory lines and the 18-column names of the reports, told by their
// kinds, with "|" between.
QString Outline(const ResultListModel& list) {
    QStringList outline;
    for (int i = 0; i < list.LineCount(); ++i) {
        if (list.Kind(i) != LineKind::InReport)
            outline
                << list.LineText(i).left(list.Kind(i) == LineKind::Directory ? -1 : 18).trimmed();
    }
    return outline.join(u'|');
}

// Acts on the modal dialog or popup menu about to show, once it waits for the user.
void WhenShown(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, qApp, [act] {
        act(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                              : QApplication::activePopupWidget());
    });
}

} // namespace

class WindowSearchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_settings.Clear(); }

    void searchRunsOnItsOwnThread() {
        fixtures::TempTree tree;
        const QString root = QString::fromStdString(tree.RootWithSeparator());
        QString expected = u'[' + root + u"]|lead.lan|[zz].lan"_s;
        tree.Add(" lead.lan", LanDriver("lead"));
        tree.Add("[zz].lan", LanDriver("zz driver"));
        for (int i = 10; i < 50; ++i) {
            tree.Add("f" + std::to_string(i) + ".lan", LanDriver("driver f"));
            expected += u"|f%1.lan"_s.arg(i);
        }
        // A plain DOS program of 1 TiB, all a hole but its header (its
        // relocation table at 0x1C: no new-executable header follows): the
        // scanner reads it to its end for markers, which takes longer than the
        // test may run unless it is stopped.
        const auto dos = fixtures::ByteWriter(64).PutText(0, "MZ").PutU16(0x18, 0x1C).Data();
        std::filesystem::resize_file(tree.Add("huge.exe", dos), std::uintmax_t{1} << 40);
        tree.Add("z.lan", LanDriver("never scanned"));
        OpenWindow open(tree.Root());
        MainWindow& window = open.window;
        QScrollBar* scroll = Find<ResultListView>(window, "lstFoundFiles")->verticalScrollBar();

        // While the walk reads the huge program, the window answers: a second
        // Search is ignored, and scrolling only moves the list.
        // (A machine busy with other tests may take its time to get there.)
        Click(window, "cmdSearch");
        QTRY_COMPARE_WITH_TIMEOUT(Text(window, "lblCount"), u"42"_s, 30000);
        QTRY_VERIFY(scroll->maximum() >= 4);
        QCOMPARE(StateOf(window), kSearchingState);
        // Inside the huge program the caption names it and how far it got.
        const QString reading = u"Reading "_s + root + u"huge.exe: "_s;
        QTRY_VERIFY(Text(window, "lblShowPath").startsWith(reading));
        QVERIFY(Text(window, "lblShowPath").contains(u" of 1.00 TiB ("_s));
        Click(window, "cmdSearch");
        scroll->setValue(4);
        QCOMPARE(Text(window, "lblShowPath").left(reading.size()) +
                     QString::number(scroll->value()),
                 reading + u'4');

        // Escape stops the scan inside the file, which gives no report; the
        // file after it is never reached.
        QTest::keyClick(&window, Qt::Key_Escape);
        QTRY_COMPARE(window.State(), SearchState::Finished);
        QCOMPARE(QApplication::focusWidget(), Find(window, "cmdSearch"));
        // A click meant for Cancel that lands after the end does not quit.
        Click(window, "cmdExit");
        QCOMPARE(StateOf(window) + Text(window, "lblCount"), kFinishedState + u"43"_s);
        QCOMPARE(Outline(window.ResultList()), expected);

        // At the end the top snaps to a report's first line from where the
        // user left it (how it snaps is scrollingSnapsTheTop's).
        QCOMPARE(scroll->value(), 5);

        // F5 searches again; closing the window then stops the scan at once.
        QTest::keyClick(&window, Qt::Key_F5);
        QCOMPARE(StateOf(window), kSearchingState);
        QCOMPARE(window.ResultList().LineCount(), 0);
        QTRY_COMPARE(Text(window, "lblCount"), u"42"_s);
        QVERIFY(window.close());
        QVERIFY(QFile::exists(m_settings.FilePath()));
    }

    void selectedFilesOrTheWalk() {
        fixtures::TempTree tree;
        for (const char* path : {"eth.lan", "gone.lan", "tok.lan", "A/a1.lan", "C/readme.txt"})
            tree.Add(path, LanDriver(path));
        const QString root = QString::fromStdString(tree.RootWithSeparator());
        OpenWindow open(tree.Root());
        Find<QComboBox>(open.window, "cmbSearchSpec")->setEditText(u"*.LAN"_s);
        Find<QCheckBox>(open.window, "chkSubdirs")->setChecked(true);
        // Only the selected files, and no subdirectory; gone.lan is gone by
        // the time of the search: counted, not reported, and said at the end.
        Find<FileList>(open.window, "filList")->SelectNames({"eth.lan", "gone.lan"});
        std::filesystem::remove(tree.Root() / "gone.lan");
        QVERIFY(SearchToTheEnd(open.window));
        QCOMPARE(Outline(open.window.ResultList()) + Text(open.window, "lblCount"),
                 u'[' + root + u"]|eth.lan2"_s);
        QCOMPARE(Text(open.window, "lblShowPath"),
                 u"Not read: %1gone.lan: No such file or directory"_s.arg(root));
        // Continue reopens the start directory, and the walk takes them all.
        Find<DirectoryList>(open.window, "dirList")->SetPath("/");
        Click(open.window, "cmdSearch");
        QVERIFY(SearchToTheEnd(open.window));
        QCOMPARE(Outline(open.window.ResultList()) + Text(open.window, "lblCount"),
                 u"[%1]|eth.lan|tok.lan|[%1A/]|a1.lan3"_s.arg(root));
        // Looking inside, every file is tested, two zips entered whatever
        // their names; their members each count, those the pattern selects
        // reported, and the report after them gets its directory line again.
        for (const char* zip : {"C/DRIVERS.LAN", "C/KIT.TXT"})
            tree.Add(zip, fixtures::BuildSample(fixtures::Json::parse(R"({"format": "zip",
                "members": [{"path": "NE/ne.lan", "put": [{"at": 9, "counted": "NE"}]}]})")));
        tree.Add("C/zz.lan", LanDriver("zz"));
        Click(open.window, "cmdSearch");
        Find<QCheckBox>(open.window, "chkArchives")->setChecked(true);
        QVERIFY(SearchToTheEnd(open.window));
        QCOMPARE(Outline(open.window.ResultList()) + Text(open.window, "lblCount"),
                 u"[%1]|eth.lan|tok.lan|[%1C/]|DRIVERS.LAN|[%1C/DRIVERS.LAN/NE/]|ne.lan|"
                 u"[%1C/KIT.TXT/NE/]|ne.lan|[%1C/]|zz.lan|[%1A/]|a1.lan9"_s.arg(root));
        // A pattern holding "/" is refused visibly: nothing is searched and
        // nothing enters the Recent list.
        auto* spec = Find<QComboBox>(open.window, "cmbSearchSpec");
        Click(open.window, "cmdSearch");
        spec->setEditText(u"A/*.lan"_s);
        Click(open.window, "cmdSearch");
        QCOMPARE(Text(open.window, "lblShowPath") + Text(open.window, "lblCount"),
                 u"Not searched: a search pattern cannot hold \"/\".0"_s);
        QCOMPARE(open.window.ResultList().LineCount() + spec->count(), 1);
        QVERIFY(!Find(open.window, "cmdPrint")->isEnabled());
        QCOMPARE(spec->itemText(0), u"*.lan"_s);
    }

    void finishedStateKeepsWhatWasFound() {
        // Selected: a driver, one more file that cannot be read than the
        // window keeps, and a program of 1 TiB inside which the search is
        // cancelled.
        fixtures::TempTree tree;
        const QString root = QString::fromStdString(tree.RootWithSeparator());
        std::vector<std::string> names = {tree.Add("eth.lan", LanDriver("eth")).filename()};
        for (std::size_t i = 0; i <= SearchWorker::kMaxProblemsKept; ++i)
            names.push_back(tree.Add("f" + std::to_string(10000 + i), "x").filename());
        const auto dos = fixtures::ByteWriter(64).PutText(0, "MZ").PutU16(0x18, 0x1C).Data();
        std::filesystem::resize_file(tree.Add("huge.exe", dos), std::uintmax_t{1} << 40);
        names.push_back("huge.exe");
        OpenWindow open(tree.Root());
        QCOMPARE(Find<FileList>(open.window, "filList")->SelectNames(names), names.size());
        for (std::size_t i = 1; i + 1 < names.size(); ++i)
            std::filesystem::remove(tree.Root() / names[i]);
        Click(open.window, "cmdSearch");
        QTRY_COMPARE_WITH_TIMEOUT(Text(open.window, "lblCount"), u"1002"_s, 30000);
        QTest::keyClick(&open.window, Qt::Key_Escape);
        QTRY_COMPARE(open.window.State(), SearchState::Finished);

        // The caption says the search was cancelled and where the report is
        // cut short, shortened in the middle to fit, whole in its tool tip.
        const auto* caption = Find<CaptionLabel>(open.window, "lblShowPath");
        QCOMPARE(caption->text(),
                 u"Cancelled while reading %1huge.exe: the report is cut short there."_s.arg(root));
        QVERIFY(caption->ShownText().contains(u'…') &&
                caption->fontMetrics().horizontalAdvance(caption->ShownText()) <= caption->width());
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), caption->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(Find(open.window, "lblShowPath"), &help);
        QCOMPARE(QToolTip::text(), caption->text());

        // What could not be read opens from the button beside the caption:
        // all of it counted, those kept listed whole, copied and saved.
        QCOMPARE(Text(open.window, "cmdNotRead"), u"&Not Read (1001)..."_s);
        Click(open.window, "cmdNotRead");
        auto* dialog = Find<ProblemsDialog>(open.window, "dlgProblems");
        QTRY_VERIFY(dialog->isVisible());
        const QStringList kept = dialog->Text().split(u'\n');
        QCOMPARE(kept.size(), 1000);
        QCOMPARE(kept.first(), root + u"f10000: No such file or directory"_s);
        QVERIFY(kept.last().startsWith(root + u"f10999:"_s));
        Click(*dialog, "cmdCopyProblems");
        QCOMPARE(QGuiApplication::clipboard()->text(), dialog->Text() + u'\n');
        QTemporaryDir folder;
        QString answer = folder.filePath(u"not-read.txt"_s);
        dialog->SetSaveNameFunction([&](QWidget*, const QString&) { return answer; });
        Click(*dialog, "cmdSaveProblems");
        QFile saved(answer);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(saved.readAll()), dialog->Text() + u'\n');
        // A file that cannot be written is said.
        answer = folder.filePath(u"missing/not-read.txt"_s);
        QString warning;
        WhenShown([&](QWidget* box) {
            warning = static_cast<QMessageBox*>(box)->text();
            box->close();
        });
        Click(*dialog, "cmdSaveProblems");
        QVERIFY2(warning.contains(QDir::toNativeSeparators(answer)), qPrintable(warning));
        dialog->close();

        // Enter in the result list stays there: the results are kept.
        auto* list = Find<ResultListView>(open.window, "lstFoundFiles");
        const int lines = open.window.ResultList().LineCount();
        QVERIFY(lines > 2);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->LineRect(0).center());
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(StateOf(open.window), kFinishedState);
        QCOMPARE(open.window.ResultList().LineCount() + list->CurrentLine(), lines + 1);
        // Continue: nothing is offered of the search gone.
        Click(open.window, "cmdSearch");
        QVERIFY(!Find(open.window, "cmdNotRead")->isVisible());
    }

    void queuedLinesAreShownInOneInsertion() {
        ResultListModel model;
        QSignalSpy insertions(&model, &QAbstractItemModel::rowsInserted);
        LineBuffer batch;
        for (int i = 0; i < 1000; ++i)
            QVERIFY(batch.Append(i ? "Ünïcode " + std::to_string(i) : "[/]", LineKind(i > 0)));
        QVERIFY(model.Append(batch) && model.Append(batch) && model.rowCount() == 0);
        QTRY_COMPARE(model.rowCount(), 2000); // shown when their time comes, at once
        QCOMPARE(insertions.count(), 1);
        QCOMPARE(model.LineText(1999) + model.LineText(1000), u"Ünïcode 999[/]"_s);
        QVERIFY(model.Kind(1000) == LineKind::Directory &&
                model.Kind(1001) == LineKind::ReportStart);
        QVERIFY(!model.data(model.index(2000)).isValid() && model.Kind(-1) == LineKind::InReport);
        QCOMPARE(SnapTopIndex(model, 0, 0), 1); // at rest, as when a search ends: forward
        model.Clear();
        QCOMPARE(SnapTopIndex(model, 0, 0), -1); // an empty list does not move
    }

    void scrollingSnapsTheTop_data() {
        // Directory d's lines start at 7 * d: D R L L R R L; after 40 of them
        // a report and a tail of lines in it with no report after.
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
        // its result list then filled here. The kinds decide, not the text:
        // reports named "[zz].EXE" and " lead.EXE" are ordinary reports.
        fixtures::TempTree empty;
        OpenWindow open(empty.Root());
        QVERIFY(SearchToTheEnd(open.window));
        ResultListModel& list = open.window.ResultList();
        int directory = 0;
        int line = 0;
        for (const QChar kind : u"DRLLRRL"_s.repeated(40) + u'R' + QString(30, u'L')) {
            const auto k = static_cast<int>(u"DRL"_s.indexOf(kind));
            const std::string texts[] = {"[/data/dir" + std::to_string(directory++) + "/]",
                                         ++line % 2 ? "[zz].EXE  NE" : " lead.EXE  NE",
                                         "[HName] :"};
            list.AppendLine(texts[k], static_cast<LineKind>(k));
            directory -= k > 0;
        }
        list.Flush();
        QScrollBar* scroll =
            Find<ResultListView>(open.window, "lstFoundFiles")->verticalScrollBar();
        QTRY_VERIFY(scroll->maximum() >= 285); // the view lays out new lines on its next turn
        scroll->setValue(from);
        QCOMPARE(scroll->value(), from);
        scroll->setValue(to);
        QCOMPARE(scroll->value(), top);
        QCOMPARE(Text(open.window, "lblShowPath"), caption);
    }

    void resultsAreCopiedSavedAndPrinted() {
        // A directory deep enough that its line is wider than the list.
        const std::string deep(200, 'd');
        fixtures::TempTree tree;
        tree.Add(deep + "/eth.lan", LanDriver("Ethernet"));
        tree.Add(deep + "/tök.lan", LanDriver("Token Ring"));
        OpenWindow open(tree.Root() / deep);
        Click(open.window, "chkBrief");
        QVERIFY(SearchToTheEnd(open.window));
        auto* list = Find<ResultListView>(open.window, "lstFoundFiles");
        QVERIFY(list->horizontalScrollBar()->maximum() > 0); // scrolled to, not cut
        QStringList lines;
        for (int row = 0; row < open.window.ResultList().LineCount(); ++row)
            lines << open.window.ResultList().LineText(row) + u'\n';
        QCOMPARE(lines.size(), 3);
        // Ctrl+P hands the lines, their kinds and the format to the printer.
        QString printed;
        open.window.SetPrintFunction([&](QWidget* parent, const ReportLines& report, bool brief) {
            for (int i = 0; i < report.LineCount(); ++i)
                printed += QString::number(static_cast<int>(report.Kind(i)));
            printed += brief && parent == &open.window ? u" brief"_s : u""_s;
            return false; // as a cancelled dialog
        });
        QTest::keyClick(&open.window, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(printed, u"011 brief"_s);
        // Extended selection: a click, then Ctrl+click; Ctrl+C copies in list order.
        for (const auto& [row, keys] : {std::pair{2, Qt::NoModifier}, {0, Qt::ControlModifier}})
            QTest::mouseClick(list->viewport(), Qt::LeftButton, keys, list->LineRect(row).center());
        list->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), lines[0] + lines[2]);
        // Select All, then Copy from the context menu.
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        WhenShown([](QWidget* menu) {
            for (QAction* action : static_cast<QMenu*>(menu)->actions()) {
                if (action->text() == u"&Copy"_s)
                    action->trigger();
            }
            menu->close();
        });
        QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5),
                               list->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(list->viewport(), &menu);
        QCOMPARE(QGuiApplication::clipboard()->text(), lines.join(QString()));
        QApplication::setActiveWindow(&open.window); // as the closed menu leaves it

        // Ctrl+S saves the whole list in UTF-8; a file that cannot be opened,
        // or written past a file size limit, is said, and the report saved
        // before stays as it was. So for CSV, whose save runs beside the
        // window and says it in a box that leaves the window free.
        QTemporaryDir folder;
        const QString first = folder.filePath(u"report.txt"_s);
        const auto savedText = [&first] {
            QFile saved(first);
            return saved.open(QIODevice::ReadOnly) ? QString::fromUtf8(saved.readAll()) : QString();
        };
        SaveChoice answer{first, ReportFileFormat::Text};
        open.window.SetSaveNameFunction([&](QWidget*, const QString&) { return answer; });
        QTest::keyClick(&open.window, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(savedText(), lines.join(QString()));
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit unlimited = limit;
        limit.rlim_cur = 100;
        QString warning;
        QTimer closeBoxes;
        connect(&closeBoxes, &QTimer::timeout, [&warning] {
            for (QWidget* shown : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(shown); box && box->isVisible()) {
                    warning = box->text();
                    box->close();
                }
            }
        });
        closeBoxes.start(10);
        for (const auto format : {ReportFileFormat::Text, ReportFileFormat::Csv}) {
            for (const QString& name : {folder.filePath(u"missing/report.txt"_s), first}) {
                answer = {name, format};
                warning.clear();
                QApplication::setActiveWindow(&open.window); // as the closed box leaves it
                ::setrlimit(RLIMIT_FSIZE, &limit);
                QTest::keyClick(&open.window, Qt::Key_S, Qt::ControlModifier);
                QTRY_VERIFY(!warning.isEmpty());
                ::setrlimit(RLIMIT_FSIZE, &unlimited);
                QVERIFY2(warning.contains(QDir::toNativeSeparators(name)), qPrintable(warning));
            }
        }
        QCOMPARE(savedText(), lines.join(QString()));
    }

    void detailsOfAReport_data() {
        QTest::addColumn<QString>("name");     // of the report
        QTest::addColumn<QString>("diskFile"); // that holds it, under the samples
        QTest::addColumn<QString>("rows"); // some the tree holds as Ctrl+C copies them, "|" apart
        QTest::newRow("PE") << "WIDGET32.DLL" << u"WINDOWS/WIDGET32.DLL"_s
                            << "pe|  machine\t332 (0x014C)|  7\tWINSPOOL.DRV|"
                               "    FileDescription\tWidget-Bibliothek";
        QTest::newRow("NE") << "CLOCK.EXE" << u"WINDOWS/CLOCK.EXE"_s
                            << "  target_os\t2 (0x0002)|  4\tCOMMDLG|"
                               "  file_version\t1.0.0.0|container\t(none)";
        QTest::newRow("zip member") << "MONITOR.NLM" << u"ARCHIVES/NWDRIVER.ZIP"_s
                                    << "container\t@/ARCHIVES/NWDRIVER.ZIP|"
                                       "directory\t@/ARCHIVES/NWDRIVER.ZIP/SERVER/|"
                                       "hdr_description\tConsole Monitor";
    }

    // Enter on a report line opens its Details; its hashes are read on
    // request, a record the search did not keep is read again the same, and
    // a file gone since the search is said.
    void detailsOfAReport() {
        QFETCH(QString, name);
        QFETCH(QString, diskFile);
        QFETCH(QString, rows);
        fixtures::TempTree tree;
        samples::WriteSamples(tree.Root());
        const QString root = QString::fromStdString(tree.Root().string());
        OpenWindow open(tree.Root());
        Click(open.window, "chkSubdirs");
        Click(open.window, "chkArchives");
        QVERIFY(SearchToTheEnd(open.window));
        const ResultListModel& results = open.window.ResultList();
        int line = 0;
        while (line < results.LineCount() && !(results.Kind(line) == LineKind::ReportStart &&
                                               results.LineText(line).startsWith(name + u' ')))
            ++line;
        auto* list = Find<ResultListView>(open.window, "lstFoundFiles");
        list->SetCurrentLine(line + 1); // a line inside the report
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(open.window.State(), SearchState::Finished);
        auto* details = Find<DetailsWindow>(open.window, "frmDetails");
        QVERIFY(details->isVisible() && details->windowTitle().contains(name));
        QTRY_VERIFY(!details->Reading()); // a file on disk is read again
        auto* facts = Find<QTreeWidget>(*details, "treeDetails");
        const auto copied = [&] {
            QApplication::setActiveWindow(details);
            facts->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(facts, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(facts, Qt::Key_C, Qt::ControlModifier);
            return QGuiApplication::clipboard()->text();
        };
        const QString kept = copied();
        for (const QString& row : rows.split(u'|')) {
            const QString whole = u'\n' + QString(row).replace(u'@', root) + u'\n';
            QVERIFY2((u'\n' + kept).contains(whole), qPrintable(row + u"\n in \n"_s + kept));
        }

        QSignalSpy ended(details, &DetailsWindow::ReadEnded);
        const auto readAgain = [&] {
            Click(*details, "cmdHashes");
            return ended.wait(20000);
        };
        QVERIFY(readAgain());
        const QString hashed = copied();
        QVERIFY2(hashed.startsWith(kept), qPrintable(hashed));
        QCOMPARE(hashed.count(QRegularExpression(u"\n(sha256|sha1|md5)\t[0-9a-f]+\n"_s)), 3);
        const std::filesystem::path path = tree.Root() / diskFile.toStdString();
        QFile file(QString::fromStdString(path.string()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString fileHash = QString::fromLatin1(
            QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
        // A member's digest is its own, not its container's.
        const bool member = diskFile.endsWith(u".ZIP"_s);
        QCOMPARE(hashed.section(u"sha256\t"_s, 1).left(64) == fileHash, !member);

        // A member's record the search did not keep is read from its container.
        KeptReport report = *results.ReportAt(line);
        QCOMPARE(report.record.empty(), !member);
        report.record.clear();
        details->ShowReport(report);
        QVERIFY(ended.wait(20000));
        QCOMPARE(copied(), kept);

        // Touched since the search: a file on disk has changed, a member not.
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now());
        QVERIFY(readAgain());
        QCOMPARE(Text(*details, "lblDetailsStatus").startsWith(u"The file has changed"_s), !member);
        const QString touched = copied();
        file.remove();
        QVERIFY(readAgain());
        QCOMPARE(Text(*details, "lblDetailsStatus"),
                 u"Not read again: "_s + file.fileName() + u": No such file or directory"_s);
        QCOMPARE(copied(), touched);
    }

    // Ctrl+F, then Enter or F3 for the next line that holds the text in any
    // case, Shift+F3 for the one before; past the end the search goes round.
    void findInTheResults() {
        fixtures::TempTree tree;
        tree.Add("a.lan", LanDriver("Ethernet"));
        tree.Add("b.lan", LanDriver("Token Ring"));
        tree.Add("c.lan", LanDriver("ETHERNET II"));
        OpenWindow open(tree.Root());
        QTest::keyClick(&open.window, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(Find(open.window, "fraFind")->isHidden()); // no results to find in
        QVERIFY(SearchToTheEnd(open.window));
        auto* list = Find<ResultListView>(open.window, "lstFoundFiles");
        const int listHeight = list->height();
        QTest::keyClick(&open.window, Qt::Key_F, Qt::ControlModifier);
        auto* text = Find<QLineEdit>(open.window, "txtFind");
        QVERIFY(text->hasFocus() && list->height() < listHeight);
        QTest::keyClicks(text, u"ethernet"_s);
        QStringList found;
        for (const auto& [key, modifiers] : {std::pair{Qt::Key_Return, Qt::NoModifier},
                                             {Qt::Key_F3, Qt::NoModifier},
                                             {Qt::Key_F3, Qt::NoModifier},
                                             {Qt::Key_F3, Qt::ShiftModifier}}) {
            QTest::keyClick(text, key, modifiers);
            found << QString::number(list->CurrentLine()) + u' ' +
                         Text(open.window, "lblFindStatus");
        }
        QCOMPARE(found.join(u'|'), u"2 |6 |2 Went on from the top|6 Went on from the end"_s);
        text->setText(u"nowhere"_s);
        QTest::keyClick(text, Qt::Key_Return);
        QCOMPARE(Text(open.window, "lblFindStatus"), u"Not found: \"nowhere\""_s);
        QCOMPARE(list->CurrentLine(), 6);
        QTest::keyClick(text, Qt::Key_Escape);
        QVERIFY(Find(open.window, "fraFind")->isHidden() && list->hasFocus());
        QCOMPARE(list->height(), listHeight);
        QCOMPARE(open.window.State(), SearchState::Finished);
    }

    void samplesReadAloudAndSavedAsKestrelScanWritesThem() {
        fixtures::TempTree tree;
        samples::WriteSamples(tree.Root());
        OpenWindow open(tree.Root());
        Click(open.window, "chkSubdirs");
        auto* list = Find<ResultListView>(open.window, "lstFoundFiles");
        QVERIFY(SearchToTheEnd(open.window));
        // A screen reader finds the lines as the list's items, in order, with
        // their selection: all of them after Select All, then the one clicked,
        // which is also the one in focus.
        list->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QAccessibleInterface* results = QAccessible::queryAccessibleInterface(list);
        QString read;
        for (int i = 0; i < results->childCount(); ++i) {
            QAccessibleInterface* line = results->child(i);
            QVERIFY(line->role() == QAccessible::ListItem && line->state().selected);
            QCOMPARE(results->indexOfChild(line), i);
            read += line->text(QAccessible::Name) + u'\n';
        }
        QVERIFY(results->childCount() > 100);
        QCOMPARE(read, QGuiApplication::clipboard()->text());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->LineRect(2).center());
        QVERIFY(results->focusChild() == results->child(2));
        QVERIFY(!results->child(1)->state().selected && results->child(2)->state().selected);

        // Saved as CSV or JSON Lines, beside the window, the reports are the
        // bytes kestrel-scan writes over the same folder with the same options.
        QTemporaryDir folder;
        SaveChoice choice;
        open.window.SetSaveNameFunction([&](QWidget*, const QString&) { return choice; });
        const QString root = QString::fromStdString(tree.Root().string());
        for (const QStringList& options : {QStringList{u"-r"_s}, {u"-r"_s, u"-z"_s}}) {
            if (options.contains(u"-z"_s)) { // looking inside archives
                Click(open.window, "cmdSearch");
                Click(open.window, "chkArchives");
                QVERIFY(SearchToTheEnd(open.window));
            }
            for (const auto& [format, option] : {std::pair{ReportFileFormat::Csv, u"--csv"_s},
                                                 {ReportFileFormat::JsonLines, u"--json"_s}}) {
                choice = {folder.filePath(options.join(QString()) + option), format};
                QTest::keyClick(&open.window, Qt::Key_S, Qt::ControlModifier);
                QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(choice.name), 30000);
                QApplication::setActiveWindow(&open.window); // as the progress leaves it
                QFile saved(choice.name);
                QVERIFY(saved.open(QIODevice::ReadOnly));
                QProcess scan;
                scan.start(QStringLiteral(KESTREL_SCAN_PATH), options + QStringList{option, root});
                QVERIFY(scan.waitForFinished(60000));
                QCOMPARE(saved.readAll(), scan.readAllStandardOutput());
            }
        }
    }

private:
    IsolatedSettings m_settings;
};

} // namespace kestrel

QTEST_MAIN(kestrel::WindowSearchTest)
#include "window_search_test.moc"
