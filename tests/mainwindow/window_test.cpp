// The window outside a search: its controls, the state it opens in, the
// keyboard, the layout at any size, the settings kept between runs, and the
// criteria handlers (presets, the pattern chain, the drive, directory and
// file lists, brief format, Exit).

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "directory_list.h"
#include "drive_list.h"
#include "file_list.h"
#include "twips.h"
#include "window_layout.h"
#include "window_test_support.h"

namespace kestrel {

using namespace testing;
using Names = std::vector<std::string>;

namespace {

Names Listed(const QWidget& window) {
    const auto* files = Find<FileList>(window, "filList");
    Names names;
    for (int i = 0; i < files->ListCount(); ++i)
        names.push_back(files->List(i));
    return names;
}

// The stored values of the keys, separated by spaces.
QString Stored(std::initializer_list<const char*> keys) {
    const std::unique_ptr<QSettings> store = IsolatedSettings::Open();
    QStringList values;
    for (const char* key : keys)
        values << store->value(QLatin1String(key)).toString();
    return values.join(QLatin1Char(' '));
}

// A store as edited by hand.
void Store(const char* text) {
    QFile file(IsolatedSettings::Open()->fileName());
    QDir().mkpath(QFileInfo(file).path());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        for (const char* name :
             {".hidden.nlm", "CLIB.NLM", "ne2000.lan", "setup.exe", "readme.txt"})
            m_tree.Add(name, "bytes");
        m_tree.Add("sub/inner.dll", "library");
        m_tree.AddDirectory("another");
    }
    void init() { m_settings.Clear(); }

    void opensInTheIdleState() {
        OpenWindow open(m_tree.Root());
        const MainWindow& window = open.window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Kestrel for Windows (1.0)"));
        QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));
        QVERIFY(QFontInfo(Find(window, "lstFoundFiles")->font()).fixedPitch());
        // The 180-pixel logo and its 2-pixel sunken border fill the 2760-twip panel.
        QCOMPARE(Find<QLabel>(window, "Picture3")->pixmap().size(), QSize(180, 180));
        QCOMPARE(Find(window, "Picture3")->size(), QSize(184, 184));
        QCOMPARE(StateOf(window), kIdleState);
        for (const char* name :
             {"chkSubdirs", "chkBrief", "chkVersion", "chkImport", "chkCompany", "chkDebug"})
            QCOMPARE(Find<QCheckBox>(window, name)->checkState(), Qt::Unchecked);
        QCOMPARE(Find<QComboBox>(window, "cmbSearchSpec")->currentText(), QStringLiteral("*.*"));
        // The file list of the current directory, hidden files included.
        QCOMPARE(Listed(window).front(), std::string(".hidden.nlm"));
        QCOMPARE(Find<FileList>(window, "filList")->Path(), m_tree.Root().string());
    }

    void keyboard() {
        OpenWindow open(m_tree.Root());
        QVERIFY(open.active);
        const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        };
        Find(open.window, "cmdSearch")->setFocus(Qt::OtherFocusReason);
        // Labels, frames, panels, the hidden result list and the disabled
        // Print button are passed over.
        const QStringList expected =
            QStringLiteral("cmdExit filList dirList drvList chkSubdirs chkBrief chkImport "
                           "chkCompany chkDebug chkVersion cmdNetWare cmdAll cmdWindows "
                           "cmbSearchSpec cmdSearch")
                .split(QLatin1Char(' '));
        QStringList visited;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            press(Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
            // Tabbing into the combo box selects its text, so typing replaces it.
            if (visited.last() == QStringLiteral("cmbSearchSpec"))
                QCOMPARE(Find<QComboBox>(open.window, "cmbSearchSpec")->lineEdit()->selectedText(),
                         QStringLiteral("*.*"));
        }
        QCOMPARE(visited, expected);
        // Alt+C goes to the control after lblCriteria in the tab order.
        press(Qt::Key_C, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), Find(open.window, "filList"));
        // Enter anywhere but on a button clicks Search; on the focused
        // Continue it returns to the criteria.
        press(Qt::Key_Return);
        QCOMPARE(Text(open.window, "cmdSearch"), QStringLiteral("&Continue"));
        press(Qt::Key_Return);
        press(Qt::Key_Return);
        QCOMPARE(Text(open.window, "cmdSearch"), QStringLiteral("&Continue"));
        press(Qt::Key_Return);
        // Enter on another button is that button's.
        QSignalSpy allClicks(Find<QPushButton>(open.window, "cmdAll"), &QPushButton::clicked);
        Find(open.window, "cmdAll")->setFocus(Qt::OtherFocusReason);
        press(Qt::Key_Return);
        QCOMPARE(allClicks.count(), 1);
        QCOMPARE(Text(open.window, "cmdSearch"), QStringLiteral("&Search"));
        // Enter on a highlighted directory opens it; the next Enter searches it.
        auto* directories = Find<DirectoryList>(open.window, "dirList");
        directories->setFocus(Qt::TabFocusReason);
        press(Qt::Key_Down); // highlights another
        press(Qt::Key_Return);
        QCOMPARE(directories->Path(), (m_tree.Root() / "another").string());
        QVERIFY(!Find(open.window, "Picture2")->isVisible());
        press(Qt::Key_Return);
        QCOMPARE(Text(open.window, "cmdSearch"), QStringLiteral("&Continue"));
    }

    void layoutForClientArea_data() {
        QTest::addColumn<QSize>("client"); // twips
        // Picture1 h, filList h, dirList h, Picture2 w x h, lstFoundFiles w x h,
        // fraButtons, fraOptions, the buttons, Picture3 left and top (doubled:
        // they keep a half twip), the six check boxes from the top.
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("design size 9285 x 6030")
            << QSize(9285, 6030)
            << QList<int>{4830, 3930,  3450, 9135, 4710, 9015, 4260, 4910, 4070,
                          5160, 12140, 1815, 4320, 4560, 4800, 5040, 5280, 5520};
        QTest::newRow("12000 x 8000")
            << QSize(12000, 8000)
            << QList<int>{6800, 5900,  5420, 11850, 6680, 11730, 6230, 6880, 6040,
                          7130, 14855, 3785, 6290,  6530, 6770,  7010, 7250, 7490};
    }

    void layoutForClientArea() {
        QFETCH(QSize, client);
        QFETCH(QList<int>, expected);
        const WindowLayout l = ComputeWindowLayout(client.width(), client.height());
        QList<int> actual = {l.picture1Height,      l.filListHeight,  l.dirListHeight,
                             l.picture2Width,       l.picture2Height, l.lstFoundFilesWidth,
                             l.lstFoundFilesHeight, l.fraButtonsTop,  l.fraOptionsTop,
                             l.buttonsTop};
        actual << static_cast<int>(l.picture3Left * 2) << static_cast<int>(l.picture3Top * 2);
        for (int top : l.checkBoxTops)
            actual << top;
        QCOMPARE(actual, expected);
    }

    void windowFollowsItsSizeButNotBelowTheDesign_data() {
        QTest::addColumn<QSize>("asked"); // pixels
        QTest::addColumn<QSize>("client");
        QTest::newRow("larger") << QSize(800, 533) << QSize(800, 533);
        QTest::newRow("too small both ways") << QSize(300, 200) << QSize(619, 402);
        QTest::newRow("too narrow keeps its height") << QSize(400, 600) << QSize(619, 600);
    }

    void windowFollowsItsSizeButNotBelowTheDesign() {
        QFETCH(QSize, asked);
        QFETCH(QSize, client);
        OpenWindow open(m_tree.Root());
        const MainWindow& window = open.window;
        open.window.resize(asked);
        QCOMPARE(window.size(), client);
        const WindowLayout l =
            ComputeWindowLayout(PixelsToTwips(client.width()), PixelsToTwips(client.height()));
        const auto px = [](double twips) { return TwipsToPixels(twips); };
        QCOMPARE(Find(window, "Picture2")->geometry(),
                 QRect(0, 0, px(l.picture2Width), px(l.picture2Height)));
        QCOMPARE(Find(window, "lstFoundFiles")->height(), px(l.lstFoundFilesHeight));
        QCOMPARE(Find(window, "dirList")->height(), px(l.dirListHeight));
        QCOMPARE(Find(window, "Picture3")->pos(), QPoint(px(l.picture3Left), px(l.picture3Top)));
        // The bottom strip keeps its left edges and its distance from the bottom.
        QCOMPARE(Find(window, "cmdPrint")->pos(), QPoint(px(3960), px(l.buttonsTop)));
        QCOMPARE(Find(window, "chkDebug")->pos(), QPoint(px(6240), px(l.checkBoxTops[5])));
        // A minimised window keeps its controls; restoring lays it out again.
        open.window.setWindowState(Qt::WindowMinimized);
        open.window.resize(900, 700);
        QCOMPARE(Find(window, "Picture2")->width(), px(l.picture2Width));
        open.window.setWindowState(Qt::WindowNoState);
        QCOMPARE(Find(window, "Picture2")->width(), px(PixelsToTwips(window.width()) - 150));
    }

    void settingsKeptBetweenRuns() {
        // An empty store: top and left 960 twips; the outer size 9405 by 6435
        // holds the design client area of 9285 by 6030. Closing writes every key.
        {
            OpenWindow open(m_tree.Root());
            QCOMPARE(open.window.pos(), QPoint(64, 64));
            QCOMPARE(open.window.size(), QSize(619, 402));
            QCOMPARE(Find<QComboBox>(open.window, "cmbSearchSpec")->count(), 0);
            open.window.close();
        }
        QCOMPARE(Stored({"Startup/Top", "Startup/Left", "Startup/Height", "Startup/Width"}),
                 QStringLiteral("960 960 6435 9405"));
        for (int i = 0; i < 10; ++i)
            QVERIFY(IsolatedSettings::Open()->contains(QStringLiteral("Recent/%1").arg(i)));

        // The geometry of a normal window, and of a maximised one as it was
        // before; the outer size is the client area and the frame.
        for (bool maximised : {false, true}) {
            {
                OpenWindow open(m_tree.Root());
                open.window.move(30, 40);
                open.window.resize(650, 450);
                if (maximised) {
                    open.window.showMaximized();
                    QTRY_VERIFY(open.window.width() > 650);
                }
                open.window.close();
            }
            QCOMPARE(Stored({"Startup/Width", "Startup/Height"}),
                     QStringLiteral("%1 %2").arg(650 * 15 + 120).arg(450 * 15 + 405));
            OpenWindow open(m_tree.Root());
            QCOMPARE(open.window.pos(), QPoint(30, 40));
            QCOMPARE(open.window.size(), QSize(650, 450));
        }

        // A doctored store: a position on no screen takes the defaults; a
        // width is its leading number, a height that is no number is 0 and so
        // the smallest. A gap in the Recent list closes up; its entries are
        // taken as they stand.
        Store("[Startup]\nLeft=90000000000000000000\nTop=-300\nWidth=\" 12000.7 twips\"\n"
              "Height=not a number\n[Recent]\n0=*.EXE\n2=*.sys\n");
        {
            OpenWindow open(m_tree.Root());
            QCOMPARE(open.window.pos(), QPoint(64, 64));
            QCOMPARE(open.window.size(), QSize((12000 - 120) / 15, 402));
            auto* spec = Find<QComboBox>(open.window, "cmbSearchSpec");
            QCOMPARE(spec->count(), 2);
            QCOMPARE(spec->currentText(), QStringLiteral("*.*"));
            open.window.close();
        }
        QCOMPARE(Stored({"Recent/0", "Recent/1", "Recent/2"}), QStringLiteral("*.EXE *.sys "));
    }

    void recentListRules_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QStringList>("after");
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten << QStringLiteral("*.a%1").arg(i);
        const QStringList nlm = {QStringLiteral("*.nlm")};
        QTest::newRow("lower case") << QStringList() << QStringLiteral("*.NLM") << nlm;
        QTest::newRow("no duplicate in another case") << nlm << QStringLiteral("*.Nlm") << nlm;
        QTest::newRow("a duplicate keeps its place") << ten << QStringLiteral("*.A5") << ten;
        QTest::newRow("all files preset") << nlm << QStringLiteral("*.*") << nlm;
        QTest::newRow("NetWare preset in capitals") << nlm << kNetWarePreset.toUpper() << nlm;
        QTest::newRow("no pattern at all") << nlm << QStringLiteral(" ; ") << nlm;
        QTest::newRow("the eleventh pushes out the oldest")
            << ten << QStringLiteral("*.NEW")
            << QStringList{QStringLiteral("*.new")} + ten.mid(0, 9);
        QTest::newRow("only ASCII letters are lowered")
            << QStringList() << QStringLiteral("*.ÄB") << QStringList{QStringLiteral("*.Äb")};
    }

    void recentListRules() {
        QFETCH(QStringList, before);
        QFETCH(QString, spec);
        QFETCH(QStringList, after);
        QStringList recent = before;
        QCOMPARE(EnterRecentSpec(recent, spec), before != after);
        QCOMPARE(recent, after);
    }

    void presetFillsPatternAndFileListFollows_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("spec");
        QTest::addColumn<Names>("files");
        QTest::newRow("NetWare") << QStringLiteral("cmdNetWare") << kNetWarePreset
                                 << Names{".hidden.nlm", "CLIB.NLM", "ne2000.lan"};
        QTest::newRow("DosWin") << QStringLiteral("cmdWindows") << kDosWinPreset
                                << Names{"setup.exe"};
        QTest::newRow("All Files")
            << QStringLiteral("cmdAll") << kAllFilesPreset
            << Names{".hidden.nlm", "CLIB.NLM", "ne2000.lan", "readme.txt", "setup.exe"};
    }

    void presetFillsPatternAndFileListFollows() {
        QFETCH(QString, button);
        QFETCH(QString, spec);
        QFETCH(Names, files);
        OpenWindow open(m_tree.Root());
        Find<QComboBox>(open.window, "cmbSearchSpec")->setEditText(QStringLiteral("*.txt"));
        Click(open.window, button.toLatin1().constData());
        QCOMPARE(Find<QComboBox>(open.window, "cmbSearchSpec")->currentText(), spec);
        QCOMPARE(Listed(open.window), files);
    }

    void typedChosenAndRefusedPatterns() {
        Store("[Recent]\n0=\"*.lan;*.txt\"\n");
        OpenWindow open(m_tree.Root());
        auto* spec = Find<QComboBox>(open.window, "cmbSearchSpec");
        spec->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(spec->lineEdit(), QStringLiteral("*.EXE; *.nlm"));
        const Names typed = {".hidden.nlm", "CLIB.NLM", "setup.exe"};
        QCOMPARE(Listed(open.window), typed);
        // A pattern the file list refuses leaves it as it was.
        spec->setEditText(QStringLiteral("sub/*.dll"));
        QCOMPARE(Listed(open.window), typed);
        // An entry chosen from the Recent list.
        spec->setCurrentIndex(0);
        Q_EMIT spec->activated(0);
        QCOMPARE(Listed(open.window), (Names{"ne2000.lan", "readme.txt"}));
        QCOMPARE(spec->count(), 1);
    }

    void directoryAndDriveLists() {
        fixtures::TempTree tree;
        tree.Add("keep.exe", "program");
        tree.Add("sub/inner.dll", "library");
        tree.AddDirectory("another");
        tree.AddDirectory("gone");
        OpenWindow open(tree.Root());
        QVERIFY(open.active);
        auto* directories = Find<DirectoryList>(open.window, "dirList");
        // Subdirectories in listing order; the open directory at -1, its parent -2.
        QCOMPARE(directories->List(2), (tree.Root() / "sub").string());
        QCOMPARE(directories->List(-2), tree.Root().parent_path().string());
        // A click only highlights; a double click opens.
        directories->SetListIndex(2);
        const QPoint sub = directories->visualItemRect(directories->currentItem()).center();
        QTest::mouseClick(directories->viewport(), Qt::LeftButton, {}, sub);
        QCOMPARE(directories->Path(), tree.Root().string());
        QTest::mouseDClick(directories->viewport(), Qt::LeftButton, {}, sub);
        QCOMPARE(Listed(open.window), Names{"inner.dll"});
        // A highlighted directory opens when the focus leaves the list...
        directories->SetPath(tree.Root().string());
        directories->setFocus(Qt::TabFocusReason);
        QTest::keyClick(directories, Qt::Key_Down);
        QCOMPARE(directories->Path(), tree.Root().string());
        QTest::keyClick(directories, Qt::Key_Tab);
        QCOMPARE(Find<FileList>(open.window, "filList")->Path(),
                 (tree.Root() / "another").string());
        // ...unless it has gone meanwhile: then nothing changes.
        directories->SetPath(tree.Root().string());
        directories->setFocus(Qt::TabFocusReason);
        directories->SetListIndex(1);
        std::filesystem::remove(tree.Root() / "gone");
        QTest::keyClick(directories, Qt::Key_Tab);
        QCOMPARE(directories->Path(), tree.Root().string());
        QCOMPARE(Listed(open.window), Names{"keep.exe"});

        // A volume without a medium: the drive list returns to the shown one.
        auto* drives = Find<DriveList>(open.window, "drvList");
        drives->SetVolumes({"/", "/kestrel-volume-without-medium"});
        drives->setCurrentIndex(1);
        QCOMPARE(drives->Drive(), std::string("/"));
        QCOMPARE(directories->Path(), tree.Root().string());
        // A volume that can be read opens at its root.
        drives->SetVolumes({"/", tree.Root().string()});
        drives->ShowDriveOf(directories->Path());
        QCOMPARE(drives->Drive(), tree.Root().string());
        QVERIFY(drives->SetDrive("/"));
        QCOMPARE(directories->Path(), std::string("/"));
    }

    void briefFormatGreysTheFourHideSwitches() {
        OpenWindow open(m_tree.Root());
        QList<QCheckBox*> hides;
        for (const char* name : {"chkImport", "chkCompany", "chkVersion", "chkDebug"})
            hides << Find<QCheckBox>(open.window, name);
        QTest::mouseClick(hides[0], Qt::LeftButton);
        Click(open.window, "chkBrief");
        for (QCheckBox* box : hides)
            QCOMPARE(box->checkState(), Qt::PartiallyChecked);
        // The user never reaches the greyed state: a click clears a greyed box.
        QTest::mouseClick(hides[1], Qt::LeftButton);
        QCOMPARE(hides[1]->checkState(), Qt::Unchecked);
        QTest::mouseClick(hides[1], Qt::LeftButton);
        QCOMPARE(hides[1]->checkState(), Qt::Checked);
        // Clearing brief format clears all four, whatever they were.
        Click(open.window, "chkBrief");
        for (QCheckBox* box : hides)
            QCOMPARE(box->checkState(), Qt::Unchecked);
    }

    void exitSavesAndEndsTheProgramUnlessCaptionedCancel() {
        OpenWindow open(m_tree.Root());
        QVERIFY(open.active);
        // Any caption but "E&xit" only clears the search flag.
        auto* exit = Find<QAbstractButton>(open.window, "cmdExit");
        exit->setText(QStringLiteral("&Cancel"));
        QTest::mouseClick(exit, Qt::LeftButton);
        QVERIFY(open.window.isVisible());
        QVERIFY(!QFile::exists(m_settings.FilePath()));
        exit->setText(QStringLiteral("E&xit"));
        // The program's event loop runs until Alt+X has closed the last
        // window; should it not end, the guard ends it with another code.
        Find(open.window, "filList")->setFocus(Qt::OtherFocusReason);
        QTimer::singleShot(0, &open.window, [] {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::AltModifier);
        });
        QTimer::singleShot(10000, &open.window, [] { QApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!open.window.isVisible());
        QVERIFY(QFile::exists(m_settings.FilePath()));
    }

private:
    fixtures::TempTree m_tree;
    IsolatedSettings m_settings;
};

} // namespace kestrel

QTEST_MAIN(kestrel::WindowTest)
#include "window_test.moc"
