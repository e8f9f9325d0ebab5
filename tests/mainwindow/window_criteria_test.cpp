// The criteria handlers: presets, the pattern chain, the drive, directory and
// file lists, brief format, Exit.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "directory_list.h"
#include "drive_list.h"
#include "file_list.h"
#include "window_settings.h"
#include "window_test_support.h"

namespace kestrel {

using testing::Find;

namespace {

std::vector<std::string> Listed(const FileList& files) {
    std::vector<std::string> names;
    for (int i = 0; i < files.ListCount(); ++i)
        names.push_back(files.List(i));
    return names;
}

using Names = std::vector<std::string>;

} // namespace

class WindowCriteriaTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { m_settings.Clear(); }

    void presetFillsSpecAndFileListFollows_data();
    void presetFillsSpecAndFileListFollows();
    void typedAndChosenSpecsReachTheFileList();
    void refusedPatternLeavesTheFileListAsItWas();
    void directoryListDrivesTheFileList();
    void highlightedDirectoryOpensWhenFocusLeaves();
    void directoryRemovedSinceListedChangesNothing();
    void driveThatCannotBeReadReturnsToTheShownOne();
    void briefFormatGreysTheFourHideSwitches();
    void exitSavesAndEndsTheProgram();
    void exitCaptionedCancelOnlyStopsTheSearch();

private:
    fixtures::TempTree m_tree;
    testing::IsolatedSettings m_settings;
};

void WindowCriteriaTest::initTestCase() {
    m_tree.Add("CLIB.NLM", "module");
    m_tree.Add("ne2000.lan", "driver");
    m_tree.Add("setup.exe", "program");
    m_tree.Add("readme.txt", "text");
    m_tree.Add("sub/inner.dll", "library");
    m_tree.AddDirectory("another");
}

void WindowCriteriaTest::presetFillsSpecAndFileListFollows_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("spec");
    QTest::addColumn<Names>("files");
    QTest::newRow("NetWare") << QStringLiteral("cmdNetWare") << kNetWarePreset
                             << Names{"CLIB.NLM", "ne2000.lan"};
    QTest::newRow("DosWin") << QStringLiteral("cmdWindows") << kDosWinPreset << Names{"setup.exe"};
    QTest::newRow("All Files") << QStringLiteral("cmdAll") << QStringLiteral("*.*")
                               << Names{"CLIB.NLM", "ne2000.lan", "readme.txt", "setup.exe"};
}

void WindowCriteriaTest::presetFillsSpecAndFileListFollows() {
    QFETCH(QString, button);
    QFETCH(QString, spec);
    QFETCH(Names, files);
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* specBox = Find<QComboBox>(window, "cmbSearchSpec");
    specBox->setEditText(QStringLiteral("*.txt"));
    QTest::mouseClick(Find<QPushButton>(window, button.toLatin1().constData()), Qt::LeftButton);
    QCOMPARE(specBox->currentText(), spec);
    auto* fileList = Find<FileList>(window, "filList");
    QCOMPARE(fileList->Pattern(), spec);
    QCOMPARE(Listed(*fileList), files);
}

void WindowCriteriaTest::typedAndChosenSpecsReachTheFileList() {
    const std::unique_ptr<QSettings> store = testing::IsolatedSettings::Open();
    store->setValue(QStringLiteral("Recent/0"), QStringLiteral("*.lan;*.txt"));
    store->sync();
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* specBox = Find<QComboBox>(window, "cmbSearchSpec");
    auto* fileList = Find<FileList>(window, "filList");

    specBox->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(specBox->lineEdit(), QStringLiteral("*.EXE; *.nlm"));
    QCOMPARE(specBox->currentText(), QStringLiteral("*.EXE; *.nlm"));
    QCOMPARE(Listed(*fileList), (Names{"CLIB.NLM", "setup.exe"}));

    // Choosing an entry of the Recent list.
    specBox->setCurrentIndex(0);
    Q_EMIT specBox->activated(0);
    QCOMPARE(Listed(*fileList), (Names{"ne2000.lan", "readme.txt"}));
    // Typed text never enters the Recent list by itself.
    QTest::keyClick(specBox->lineEdit(), Qt::Key_Return);
    QCOMPARE(specBox->count(), 1);
}

void WindowCriteriaTest::refusedPatternLeavesTheFileListAsItWas() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    auto* specBox = Find<QComboBox>(window, "cmbSearchSpec");
    auto* fileList = Find<FileList>(window, "filList");
    specBox->setEditText(QStringLiteral("*.exe"));
    specBox->setEditText(QStringLiteral("sub/*.dll"));
    QCOMPARE(specBox->currentText(), QStringLiteral("sub/*.dll"));
    QCOMPARE(fileList->Pattern(), QStringLiteral("*.exe"));
    QCOMPARE(Listed(*fileList), Names{"setup.exe"});
}

void WindowCriteriaTest::directoryListDrivesTheFileList() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* directories = Find<DirectoryList>(window, "dirList");
    auto* fileList = Find<FileList>(window, "filList");
    QCOMPARE(directories->Path(), m_tree.Root().string());
    // Subdirectories in listing order, the open directory at -1, its parent at -2.
    QCOMPARE(directories->ListCount(), 2);
    QCOMPARE(directories->List(0), (m_tree.Root() / "another").string());
    QCOMPARE(directories->List(1), (m_tree.Root() / "sub").string());
    QCOMPARE(directories->List(-1), m_tree.Root().string());
    QCOMPARE(directories->List(-2), m_tree.Root().parent_path().string());

    // A double click opens an entry, and the file list follows.
    directories->SetListIndex(1);
    QListWidgetItem* sub = directories->currentItem();
    const QPoint subCentre = directories->visualItemRect(sub).center();
    QTest::mouseClick(directories->viewport(), Qt::LeftButton, {}, subCentre);
    QCOMPARE(directories->Path(), m_tree.Root().string()); // a click only highlights
    QTest::mouseDClick(directories->viewport(), Qt::LeftButton, {}, subCentre);
    QCOMPARE(directories->Path(), (m_tree.Root() / "sub").string());
    QCOMPARE(fileList->Path(), (m_tree.Root() / "sub").string());
    QCOMPARE(Listed(*fileList), Names{"inner.dll"});
}

void WindowCriteriaTest::highlightedDirectoryOpensWhenFocusLeaves() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* directories = Find<DirectoryList>(window, "dirList");
    directories->setFocus(Qt::TabFocusReason);
    QTest::keyClick(directories, Qt::Key_Down); // highlights "another" only
    QCOMPARE(directories->ListIndex(), 0);
    QCOMPARE(directories->Path(), m_tree.Root().string());
    QTest::keyClick(directories, Qt::Key_Tab);
    QCOMPARE(directories->Path(), (m_tree.Root() / "another").string());
    QCOMPARE(Find<FileList>(window, "filList")->Path(), (m_tree.Root() / "another").string());
}

void WindowCriteriaTest::directoryRemovedSinceListedChangesNothing() {
    fixtures::TempTree tree;
    tree.Add("keep.exe", "program");
    tree.AddDirectory("gone");
    testing::CurrentDirectory here(tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* directories = Find<DirectoryList>(window, "dirList");
    directories->setFocus(Qt::TabFocusReason);
    directories->SetListIndex(0);
    std::filesystem::remove(tree.Root() / "gone");
    QTest::keyClick(directories, Qt::Key_Tab);
    QCOMPARE(directories->Path(), tree.Root().string());
    QCOMPARE(directories->ListCount(), 1);
    QCOMPARE(Listed(*Find<FileList>(window, "filList")), Names{"keep.exe"});
}

void WindowCriteriaTest::driveThatCannotBeReadReturnsToTheShownOne() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    auto* drives = Find<DriveList>(window, "drvList");
    auto* directories = Find<DirectoryList>(window, "dirList");
    drives->SetVolumes({"/", "/kestrel-volume-without-medium"});
    drives->ShowDriveOf(directories->Path());
    QCOMPARE(drives->Drive(), std::string("/"));

    drives->setCurrentIndex(1); // as the user's choice
    QCOMPARE(drives->Drive(), std::string("/"));
    QCOMPARE(directories->Path(), m_tree.Root().string());

    // A volume that can be read opens its root.
    drives->SetVolumes({"/", m_tree.Root().string()});
    drives->ShowDriveOf("/");
    QVERIFY(drives->SetDrive(m_tree.Root().string()));
    QCOMPARE(directories->Path(), m_tree.Root().string());
    QCOMPARE(VolumeOf((m_tree.Root() / "sub").string(), {"/", m_tree.Root().string()}),
             m_tree.Root().string());
}

void WindowCriteriaTest::briefFormatGreysTheFourHideSwitches() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* brief = Find<QCheckBox>(window, "chkBrief");
    QList<QCheckBox*> hides;
    for (const char* name : {"chkImport", "chkCompany", "chkVersion", "chkDebug"})
        hides.append(Find<QCheckBox>(window, name));
    QTest::mouseClick(hides[0], Qt::LeftButton);
    QCOMPARE(hides[0]->checkState(), Qt::Checked);

    QTest::mouseClick(brief, Qt::LeftButton);
    for (QCheckBox* box : hides)
        QCOMPARE(box->checkState(), Qt::PartiallyChecked);
    QCOMPARE(Find<QCheckBox>(window, "chkSubdirs")->checkState(), Qt::Unchecked);

    // A greyed box clicked by the user is cleared, and the next click sets it:
    // the user never reaches the greyed state.
    QTest::mouseClick(hides[1], Qt::LeftButton);
    QCOMPARE(hides[1]->checkState(), Qt::Unchecked);
    QTest::mouseClick(hides[1], Qt::LeftButton);
    QCOMPARE(hides[1]->checkState(), Qt::Checked);
    QTest::mouseClick(hides[1], Qt::LeftButton);
    QCOMPARE(hides[1]->checkState(), Qt::Unchecked);

    // Clearing brief format clears all four, whatever they were.
    QTest::mouseClick(brief, Qt::LeftButton);
    QCOMPARE(brief->checkState(), Qt::Unchecked);
    for (QCheckBox* box : hides)
        QCOMPARE(box->checkState(), Qt::Unchecked);
}

void WindowCriteriaTest::exitSavesAndEndsTheProgram() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    Find<QWidget>(window, "filList")->setFocus(Qt::OtherFocusReason);
    // The program's event loop runs until Alt+X has closed the last window;
    // should it not end, the guard ends it with another code.
    QTimer::singleShot(0, &window, [] {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::AltModifier);
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QApplication::exit(1); });
    guard.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
    QVERIFY(QFile::exists(m_settings.FilePath()));
    QCOMPARE(testing::IsolatedSettings::Open()->value(QStringLiteral("Startup/Width")).toString(),
             QStringLiteral("9405"));
}

void WindowCriteriaTest::exitCaptionedCancelOnlyStopsTheSearch() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* exitButton = Find<QPushButton>(window, "cmdExit");
    exitButton->setText(QStringLiteral("&Cancel"));
    QTest::mouseClick(exitButton, Qt::LeftButton);
    QVERIFY(window.isVisible());
    QVERIFY(!QFile::exists(m_settings.FilePath()));
    // The caption must be exactly "E&xit" to end the program.
    exitButton->setText(QStringLiteral("E&XIT"));
    QTest::mouseClick(exitButton, Qt::LeftButton);
    QVERIFY(window.isVisible());
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowCriteriaTest)
#include "window_criteria_test.moc"
