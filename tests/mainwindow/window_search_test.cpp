// The search in the window: its three states, the counter and the status
// caption, the order of directories and reports, selected files, Cancel,
// Continue, the Recent list and Print.

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>

#include "directory_list.h"
#include "file_list.h"
#include "result_list_model.h"
#include "window_locale.h"
#include "window_test_support.h"

namespace kestrel {

using testing::Find;

namespace {

// A NetWare driver named .LAN without the NLM signature: the byte at offset 1
// says where its length-prefixed description stands. Its report has a
// labelled description line.
fixtures::Bytes LanDriver(std::string_view description) {
    fixtures::ByteWriter image(256);
    image.PutU8(0, 0x00);
    image.PutU8(1, 8);
    image.PutCountedText(9, description);
    return image.Data();
}

std::vector<std::string> AllLines(MainWindow& window) {
    std::vector<std::string> lines;
    const ResultListModel& model = window.ResultList();
    for (int i = 0; i < model.LineCount(); ++i)
        lines.emplace_back(model.Line(i));
    return lines;
}

// The directory lines and the names of the reports, in list order.
std::vector<std::string> Outline(MainWindow& window) {
    std::vector<std::string> outline;
    for (const std::string& line : AllLines(window)) {
        if (line.starts_with('['))
            outline.push_back(line);
        else if (!line.starts_with(' '))
            outline.push_back(line.substr(0, line.find(' ')));
    }
    return outline;
}

QString Text(const QWidget& window, const char* name) {
    if (auto* button = window.findChild<QPushButton*>(QString::fromLatin1(name)))
        return button->text();
    return Find<QLabel>(window, name)->text();
}

void Click(const QWidget& window, const char* name) {
    QTest::mouseClick(Find<QWidget>(window, name), Qt::LeftButton);
}

void SetSpec(const QWidget& window, const char* spec) {
    Find<QComboBox>(window, "cmbSearchSpec")->setEditText(QString::fromLatin1(spec));
}

using Outlines = std::vector<std::string>;

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
    void longStatusCaptionIsShortened();
    void selectedFilesOnly();
    void cancelAtTheThirdFileOfADirectory();
    void clickOnSearchDuringASearchIsIgnored();
    void scrollingDuringASearchMovesOnlyTheList();
    void enterOnAHighlightedDirectoryOpensIt();
    void closingDuringASearchStopsIt();
    void searchEntersTheRecentList();
    void briefFormatAndHideSwitchesReachTheReport();
    void printHandsTheListToThePrinter();
    void fileTimesInTheSystemLocale();

private:
    fixtures::TempTree m_tree;
    testing::IsolatedSettings m_settings;
};

void WindowSearchTest::initTestCase() {
    // root: two drivers and a text file; subdirectories A, B (with B/deep)
    // and C, whose only file does not match *.lan.
    m_tree.Add("eth.lan", LanDriver("Ethernet Driver"));
    m_tree.Add("tok.lan", LanDriver("Token Ring Driver"));
    m_tree.Add("notes.txt", "notes");
    m_tree.Add("A/a1.lan", LanDriver("A one"));
    m_tree.Add("B/b1.lan", LanDriver("B one"));
    m_tree.Add("B/deep/d1.lan", LanDriver("Deep one"));
    m_tree.Add("C/readme.txt", "readme");
}

void WindowSearchTest::statesFromIdleToFinishedAndBack() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    SetSpec(window, "*.lan");

    // What the window shows while the walk runs, seen at its first file.
    QStringList during;
    connect(&window, &MainWindow::FileScanned, &window, [&] {
        if (!during.isEmpty())
            return;
        during << Text(window, "cmdSearch") << Text(window, "cmdExit");
        for (const char* name : {"Picture2", "Picture1", "Picture3", "fraOptions", "chkSubdirs",
                                 "chkBrief", "chkVersion", "chkImport", "chkCompany", "chkDebug"})
            during << (Find<QWidget>(window, name)->isVisible() ? QStringLiteral("shown")
                                                                : QStringLiteral("hidden"));
        during << (Find<QWidget>(window, "cmdPrint")->isEnabled() ? QStringLiteral("enabled")
                                                                  : QStringLiteral("disabled"));
    });
    QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(Text(window, "cmdSearch"), QStringLiteral("&Continue"));
    const QString hidden = QStringLiteral("hidden");
    QCOMPARE(during, (QStringList{QStringLiteral("&Search"), QStringLiteral("&Cancel"),
                                  QStringLiteral("shown"), hidden, hidden, hidden, hidden, hidden,
                                  hidden, hidden, hidden, hidden, QStringLiteral("disabled")}));

    // Finished: the results in place of the criteria, Print enabled.
    QCOMPARE(Text(window, "cmdExit"), QStringLiteral("E&xit"));
    QVERIFY(Find<QWidget>(window, "cmdPrint")->isEnabled());
    QVERIFY(Find<QWidget>(window, "Picture2")->isVisible());
    QCOMPARE(Find<QWidget>(window, "Picture2")->pos(), QPoint(0, 0));
    QVERIFY(!Find<QWidget>(window, "Picture1")->isVisible());
    QVERIFY(!Find<QWidget>(window, "chkBrief")->isVisible());
    QCOMPARE(QApplication::focusWidget(), Find<QWidget>(window, "cmdSearch"));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("2"));

    // Continue: back to the criteria, the list empty, the counter at 0, the
    // start directory open again.
    Click(window, "cmdSearch");
    QCOMPARE(Text(window, "cmdSearch"), QStringLiteral("&Search"));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("0"));
    QCOMPARE(window.ResultList().LineCount(), 0);
    QVERIFY(!Find<QWidget>(window, "Picture2")->isVisible());
    for (const char* name : {"Picture1", "Picture3", "fraOptions", "chkSubdirs", "chkDebug"})
        QVERIFY2(Find<QWidget>(window, name)->isVisible(), name);
    QVERIFY(!Find<QWidget>(window, "cmdPrint")->isEnabled());
    QCOMPARE(Find<DirectoryList>(window, "dirList")->Path(), m_tree.Root().string());
    QCOMPARE(Find<FileList>(window, "filList")->Path(), m_tree.Root().string());
    QCOMPARE(QApplication::focusWidget(), Find<QWidget>(window, "cmbSearchSpec"));
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
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    SetSpec(window, "*.lan");
    Find<QCheckBox>(window, "chkSubdirs")->setChecked(subdirectories);
    Click(window, "cmdSearch");
    QCOMPARE(Outline(window), outline);
    // Every report carries its labelled description line.
    const std::vector<std::string> lines = AllLines(window);
    QCOMPARE(lines[2], std::string(" HDescription     :Ethernet Driver"));
    QCOMPARE(Text(window, "lblCount"), QString::number(subdirectories ? 5 : 2));
}

void WindowSearchTest::counterAndStatusCaption() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    SetSpec(window, "*.lan;*.txt");
    Find<QCheckBox>(window, "chkSubdirs")->setChecked(true);
    // The count as each file is handed on, and the captions meanwhile. The
    // counter's caption is redrawn now and then and whenever the walk enters
    // a directory, so it never runs ahead and is exact at each directory.
    QList<qint64> counts;
    QStringList captions;
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        counts << count;
        const qint64 shown = Text(window, "lblCount").toLongLong();
        QVERIFY(shown <= count);
        if (!captions.contains(Text(window, "lblShowPath"))) {
            captions << Text(window, "lblShowPath");
            QVERIFY(shown >= count - 1);
        }
    });
    Click(window, "cmdSearch");
    QCOMPARE(counts, (QList<qint64>{1, 2, 3, 4, 5, 6, 7}));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("7"));
    const QString root = QString::fromStdString(m_tree.Root().string());
    QCOMPARE(captions,
             (QStringList{QStringLiteral("   3 files in ") + root,
                          QStringLiteral("   1 files in ") + root + QStringLiteral("/C"),
                          QStringLiteral("   1 files in ") + root + QStringLiteral("/B"),
                          QStringLiteral("   1 files in ") + root + QStringLiteral("/B/deep"),
                          QStringLiteral("   1 files in ") + root + QStringLiteral("/A")}));
}

void WindowSearchTest::longStatusCaptionIsShortened() {
    fixtures::TempTree tree;
    const std::string deep = "a-rather-long-directory-name/and-another-long-one";
    tree.Add(deep + "/x.lan", LanDriver("X"));
    testing::CurrentDirectory here((tree.Root() / deep).string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    QString during;
    connect(&window, &MainWindow::FileScanned, &window,
            [&] { during = Text(window, "lblShowPath"); });
    Click(window, "cmdSearch");
    const QString full =
        QStringLiteral("   1 files in ") + QString::fromStdString((tree.Root() / deep).string());
    QVERIFY(full.size() > 60);
    QCOMPARE(during, full.left(24) + QStringLiteral("......") + full.right(30));
    // The caption after the search names the directory of the top report.
    const QString directory = QString::fromStdString((tree.Root() / deep).string() + "/");
    QCOMPARE(Text(window, "lblShowPath"),
             directory.size() <= 60
                 ? directory
                 : directory.left(24) + QStringLiteral("......") + directory.right(30));
}

void WindowSearchTest::selectedFilesOnly() {
    fixtures::TempTree tree;
    for (const char* name : {"a.lan", "b.lan", "c.lan", "d.lan", "e.lan"})
        tree.Add(name, LanDriver(name));
    tree.Add("sub/s.lan", LanDriver("sub"));
    testing::CurrentDirectory here(tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    Find<QCheckBox>(window, "chkSubdirs")->setChecked(true);
    auto* files = Find<FileList>(window, "filList");
    for (int row : {0, 2, 4})
        files->item(row)->setSelected(true);
    // A selected file gone by the time of the search is counted, not reported.
    tree.Add("b.lan", LanDriver("b"));
    std::filesystem::remove(tree.Root() / "e.lan");
    QString during;
    connect(&window, &MainWindow::FileScanned, &window,
            [&] { during = Text(window, "lblShowPath"); });
    Click(window, "cmdSearch");
    QCOMPARE(Outline(window), (Outlines{"[" + tree.RootWithSeparator() + "]", "a.lan", "c.lan"}));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("3"));
    QCOMPARE(during,
             QStringLiteral("   3 files in ") + QString::fromStdString(tree.RootWithSeparator()));
}

void WindowSearchTest::cancelAtTheThirdFileOfADirectory() {
    fixtures::TempTree tree;
    tree.Add("own1.lan", LanDriver("own one"));
    tree.Add("own2.lan", LanDriver("own two"));
    for (const char* name : {"m1.lan", "m2.lan", "m3.lan", "m4.lan", "m5.lan"})
        tree.Add(std::string("Mid/") + name, LanDriver(name));
    tree.Add("Zed/z1.lan", LanDriver("first visited"));
    tree.Add("Aaa/never.lan", LanDriver("never"));
    testing::CurrentDirectory here(tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    Find<QCheckBox>(window, "chkSubdirs")->setChecked(true);
    // Zed is visited first (names in reverse order), then Mid: its third
    // file is the sixth file in all. The click arrives while that file is
    // scanned and takes effect at the yield after it.
    auto* cancel = Find<QPushButton>(window, "cmdExit");
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        if (count == 6) {
            QCOMPARE(cancel->text(), QStringLiteral("&Cancel"));
            QMetaObject::invokeMethod(
                cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); },
                Qt::QueuedConnection);
        }
    });
    Click(window, "cmdSearch");
    const std::string root = tree.RootWithSeparator();
    QCOMPARE(Outline(window),
             (Outlines{"[" + root + "]", "own1.lan", "own2.lan", "[" + root + "Zed/]", "z1.lan",
                       "[" + root + "Mid/]", "m1.lan", "m2.lan", "m3.lan"}));
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("6"));
    QCOMPARE(Text(window, "cmdSearch"), QStringLiteral("&Continue"));
    QCOMPARE(Text(window, "cmdExit"), QStringLiteral("E&xit"));
    QVERIFY(window.isVisible());
    QVERIFY(Find<QWidget>(window, "cmdPrint")->isEnabled());

    // Continue reopens the start directory, wherever the walk stopped.
    Click(window, "cmdSearch");
    QCOMPARE(Find<DirectoryList>(window, "dirList")->Path(), tree.Root().string());
}

void WindowSearchTest::clickOnSearchDuringASearchIsIgnored() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    SetSpec(window, "*.lan");
    Find<QCheckBox>(window, "chkSubdirs")->setChecked(true);
    auto* search = Find<QPushButton>(window, "cmdSearch");
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        if (count == 1)
            QTest::mouseClick(search, Qt::LeftButton);
    });
    QTest::mouseClick(search, Qt::LeftButton);
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("5"));
    QCOMPARE(Outline(window).size(), std::size_t{9});
    QCOMPARE(search->text(), QStringLiteral("&Continue"));
}

void WindowSearchTest::scrollingDuringASearchMovesOnlyTheList() {
    fixtures::TempTree tree;
    for (int i = 0; i < 40; ++i)
        tree.Add("drv" + std::to_string(10 + i) + ".lan", LanDriver("Driver"));
    testing::CurrentDirectory here(tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    QScrollBar* scroll = Find<QListView>(window, "lstFoundFiles")->verticalScrollBar();
    int topAfterScroll = -1;
    QString captionAfterScroll;
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        if (count != 35)
            return;
        // Line 4 is the labelled line of the second report: a snap would
        // move the top on to the third report.
        QTRY_VERIFY(scroll->maximum() >= 4);
        scroll->setValue(4);
        topAfterScroll = scroll->value();
        captionAfterScroll = Text(window, "lblShowPath");
    });
    Click(window, "cmdSearch");
    QCOMPARE(topAfterScroll, 4);
    QCOMPARE(captionAfterScroll,
             QStringLiteral("  40 files in ") + QString::fromStdString(tree.Root().string()));
}

void WindowSearchTest::enterOnAHighlightedDirectoryOpensIt() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* directories = Find<DirectoryList>(window, "dirList");
    directories->setFocus(Qt::TabFocusReason);
    QTest::keyClick(directories, Qt::Key_Down); // highlights A
    QTest::keyClick(directories, Qt::Key_Return);
    QCOMPARE(directories->Path(), (m_tree.Root() / "A").string());
    QCOMPARE(Text(window, "cmdSearch"), QStringLiteral("&Search"));
    QVERIFY(!Find<QWidget>(window, "Picture2")->isVisible());
    // The next Enter searches the directory now open.
    QTest::keyClick(directories, Qt::Key_Return);
    QCOMPARE(Text(window, "cmdSearch"), QStringLiteral("&Continue"));
    QCOMPARE(Outline(window), (Outlines{"[" + m_tree.RootWithSeparator() + "A/]", "a1.lan"}));
}

void WindowSearchTest::closingDuringASearchStopsIt() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    Find<QCheckBox>(window, "chkSubdirs")->setChecked(true);
    connect(&window, &MainWindow::FileScanned, &window, [&](qint64 count) {
        if (count == 1)
            QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
    });
    Click(window, "cmdSearch");
    QVERIFY(!window.isVisible());
    QCOMPARE(Text(window, "lblCount"), QStringLiteral("1"));
    QVERIFY(QFile::exists(m_settings.FilePath()));
}

void WindowSearchTest::searchEntersTheRecentList() {
    testing::CurrentDirectory here(m_tree.Root().string());
    {
        MainWindow window;
        QVERIFY(testing::ShowAndActivate(window));
        auto* spec = Find<QComboBox>(window, "cmbSearchSpec");
        for (const char* text : {"*.LAN", "*.txt", "*.Lan", "*.*"}) {
            SetSpec(window, text);
            Click(window, "cmdSearch");
            // The search ran with the text as typed.
            QCOMPARE(spec->currentText(), QString::fromLatin1(text));
            Click(window, "cmdSearch"); // Continue
        }
        QCOMPARE(spec->count(), 2);
        QCOMPARE(spec->itemText(0), QStringLiteral("*.txt"));
        QCOMPARE(spec->itemText(1), QStringLiteral("*.lan"));
        window.close();
    }
    MainWindow window;
    auto* spec = Find<QComboBox>(window, "cmbSearchSpec");
    QCOMPARE(spec->count(), 2);
    QCOMPARE(spec->itemText(0), QStringLiteral("*.txt"));
}

void WindowSearchTest::briefFormatAndHideSwitchesReachTheReport() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    SetSpec(window, "eth.lan");
    Click(window, "chkVersion"); // hides the description
    Click(window, "cmdSearch");
    QCOMPARE(AllLines(window).size(), std::size_t{2});
    Click(window, "cmdSearch");
    Click(window, "chkVersion");
    Click(window, "chkBrief");
    Click(window, "cmdSearch");
    const std::vector<std::string> lines = AllLines(window);
    QCOMPARE(lines.size(), std::size_t{2});
    // A description alone gives no brief text: the brief line says Unknown.
    const std::string briefStart = "eth.lan" + std::string(11 + 12, ' ') + "Unknown. ";
    QVERIFY2(lines[1].starts_with(briefStart), lines[1].c_str());
}

void WindowSearchTest::printHandsTheListToThePrinter() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    QStringList printed;
    bool printedBrief = false;
    QWidget* dialogParent = nullptr;
    window.SetPrintFunction([&](QWidget* parent, const QStringList& lines, bool brief) {
        dialogParent = parent;
        printed = lines;
        printedBrief = brief;
        return false; // as a cancelled dialog
    });
    SetSpec(window, "*.lan");
    Click(window, "chkBrief");
    Click(window, "cmdSearch");
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(printed.size(), 3);
    QCOMPARE(dialogParent, &window);
    QVERIFY(printedBrief);
    QCOMPARE(printed[0], QString::fromStdString("[" + m_tree.RootWithSeparator() + "]"));
    QVERIFY(printed[1].startsWith(QStringLiteral("eth.lan ")));
    // A cancelled print changes nothing.
    QCOMPARE(window.ResultList().LineCount(), 3);
    QCOMPARE(Text(window, "cmdSearch"), QStringLiteral("&Continue"));
    QVERIFY(Find<QWidget>(window, "cmdPrint")->isEnabled());
}

void WindowSearchTest::fileTimesInTheSystemLocale() {
    const ReportLocale locale = SystemReportLocale();
    const QLocale system = QLocale::system();
    QCOMPARE(locale.groupSeparator, system.groupSeparator().toStdString());
    const QDate day(2024, 1, 2);
    const QString date = system.toString(day, QLocale::ShortFormat);
    const auto secondsAt = [&](QTime time) { return QDateTime(day, time).toSecsSinceEpoch(); };
    // At exactly midnight the date alone; else the time follows, to the second.
    QCOMPARE(locale.formatFileTime(secondsAt(QTime(0, 0))), date.toStdString());
    const QString afternoon =
        QString::fromStdString(locale.formatFileTime(secondsAt(QTime(15, 4, 7))));
    QVERIFY2(afternoon.startsWith(date + QLatin1Char(' ')), qPrintable(afternoon));
    QVERIFY2(afternoon.contains(QStringLiteral("04")) && afternoon.contains(QStringLiteral("07")),
             qPrintable(afternoon));
    // The time kept from one file is not given to the next.
    QCOMPARE(locale.formatFileTime(secondsAt(QTime(0, 0))), date.toStdString());
    QCOMPARE(QString::fromStdString(locale.formatFileTime(secondsAt(QTime(15, 4, 7)))), afternoon);
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowSearchTest)
#include "window_search_test.moc"
