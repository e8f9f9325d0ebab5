// The window outside a search: the state it opens in, the keyboard, the
// layout, the settings kept between runs, the criteria handlers (presets, the
// pattern chain, the drive, directory and file lists, brief format),
// and opening a folder from the command line or a drop.

#include <sched.h>
#include <sys/mount.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>

#include "directory_list.h"
#include "drive_list.h"
#include "file_list.h"
#include "path_field.h"
#include "window_locale.h"
#include "window_test_support.h"

namespace kestrel {

using namespace testing;
using namespace Qt::StringLiterals;

namespace {

QString Listed(const QWidget& window) {
    const auto* files = Find<FileList>(window, "filList");
    QStringList names;
    for (int i = 0; i < files->ListCount(); ++i)
        names << QString::fromStdString(files->List(i));
    return names.join(u' ');
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        for (const char* name :
             {".hidden.nlm", "CLIB.NLM", "ne2000.lan", "setup.exe", "readme.txt", "sub/inner.nlm"})
            m_tree.Add(name, "bytes");
        m_tree.AddDirectory("another");
        m_tree.AddDirectory("gone");
    }
    void init() { m_settings.Clear(); }

    void opensInTheIdleState() {
        OpenWindow open(m_tree.Root());
        const MainWindow& window = open.window;
        QCOMPARE(window.windowIcon().availableSizes(),
                 QList<QSize>(
                     {{32, 32}, {16, 16}, {24, 24}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}));
        QVERIFY(QFontInfo(Find(window, "lstFoundFiles")->font()).fixedPitch());
        QCOMPARE(StateOf(window), kIdleState);
        QCOMPARE(QApplication::focusWidget(), Find(window, "cmdSearch"));
        QCOMPARE(Find<QComboBox>(window, "cmbSearchSpec")->currentText(), u"*.*"_s);
        // The current directory's files, hidden ones included.
        QCOMPARE(Listed(window), u".hidden.nlm CLIB.NLM ne2000.lan readme.txt setup.exe"_s);
        // Whatever font stands in, no caption is cut, the count keeps a space
        // after its caption, and a screen reader can name the lists.
        for (const char* name : {"lblCriteria", "lblfound", "chkSubdirs", "chkBrief", "chkVersion",
                                 "chkImport", "chkCompany", "chkDebug", "chkArchives"})
            QVERIFY2(Find(window, name)->width() >= Find(window, name)->sizeHint().width(), name);
        const QLabel* found = Find<QLabel>(window, "lblfound");
        QVERIFY(Find(window, "lblCount")->x() >=
                found->x() + found->fontMetrics().horizontalAdvance(u"Files Scanned: "_s));
        QStringList names;
        for (const char* name : {"drvList", "dirList", "filList", "lstFoundFiles"})
            names << Find(window, name)->accessibleName();
        QCOMPARE(names.join(u','), u"Drives,Directories,Files,Results"_s);
    }

    void keyboard() {
        OpenWindow open(m_tree.Root());
        QVERIFY(open.active);
        const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        };
        // Labels, frames, panels, the hidden result list and the disabled
        // Print button are passed over.
        Find(open.window, "cmdSearch")->setFocus(Qt::OtherFocusReason);
        QStringList visited;
        for (int i = 0; i < 17; ++i) {
            press(Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited.join(u' '), u"cmdExit filList dirList drvList txtPath chkSubdirs chkBrief "
                                     u"chkImport chkCompany chkDebug chkVersion chkArchives "
                                     u"cmdNetWare cmdAll cmdWindows cmbSearchSpec cmdSearch"_s);
        // Alt+C goes to the control after lblCriteria in the tab order.
        press(Qt::Key_C, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), Find(open.window, "filList"));
        // Enter anywhere but on a button clicks Search; on the focused
        // Continue it returns to the criteria. Escape cancels only a search.
        press(Qt::Key_Return);
        QTRY_COMPARE(open.window.State(), SearchState::Finished);
        press(Qt::Key_Escape);
        press(Qt::Key_Return);
        QCOMPARE(StateOf(open.window), kIdleState);
        // Enter on a highlighted directory opens it; the next Enter searches it.
        auto* directories = Find<DirectoryList>(open.window, "dirList");
        directories->setFocus(Qt::TabFocusReason);
        press(Qt::Key_Down); // highlights another
        press(Qt::Key_Return);
        QCOMPARE(directories->Path(), (m_tree.Root() / "another").string());
        QCOMPARE(open.window.State(), SearchState::Idle);
        press(Qt::Key_Return);
        QTRY_COMPARE(open.window.State(), SearchState::Finished);
        // Ctrl+Q quits, and the settings are kept.
        press(Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!open.window.isVisible() && QFile::exists(m_settings.FilePath()));
    }

    void geometryKeptBetweenRuns_data() {
        QTest::addColumn<QString>("store"); // as edited by hand, or nothing
        QTest::addColumn<int>("change");    // 1 moved and resized, 2 and maximised too
        QTest::addColumn<QString>("kept");  // Top Left Height Width Maximized
        // An empty store: top and left 960 twips; the outer size 9405 by 6435
        // holds the design client area of 9285 by 6030.
        QTest::newRow("first run") << "" << 0 << "960 960 6435 9405 0";
        QTest::newRow("moved and resized") << "" << 1 << "600 450 7155 9870 0";
        // Maximised: the place it returns to is kept, and it opens maximised.
        QTest::newRow("maximised") << "" << 2 << "600 450 7155 9870 1";
        // A width is its leading number; a height that is no number is 0, and
        // so the smallest.
        QTest::newRow("doctored") << "Width=\" 10500.7 twips\"\nHeight=none" << 0
                                  << "960 960 6435 10500 0";
        QTest::newRow("twips between pixels")
            << "Top=977\nLeft=1003\nHeight=6500\nWidth=9500" << 0 << "977 1003 6500 9500 0";
        // Larger than the screen, or beyond any number a window takes: as large
        // as the screen's available area, and kept so.
        QTest::newRow("oversized") << "Width=30000\nHeight=20000" << 0 << "screen";
        const QString huge = u"99999999999999999999"_s;
        QTest::newRow("overflowing")
            << u"Top=-%1\nLeft=%1\nWidth=%1\nHeight=%1"_s.arg(huge) << 0 << "screen";
    }

    void geometryKeptBetweenRuns() {
        QFETCH(QString, store);
        QFETCH(int, change);
        QFETCH(QString, kept);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        if (kept == u"screen")
            kept = u"%1 %2 %3 %4 0"_s.arg(screen.top() * 15)
                       .arg(screen.left() * 15)
                       .arg(screen.height() * 15)
                       .arg(screen.width() * 15);
        QDir().mkpath(QFileInfo(m_settings.FilePath()).path());
        QFile file(m_settings.FilePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write((u"[Startup]\n"_s + store).toUtf8()));
        file.close();
        // Ten runs, each ended with Exit: where it was, exactly.
        for (int run = 0; run < 10; ++run) {
            OpenWindow open(m_tree.Root());
            QCOMPARE(open.window.isMaximized(), run > 0 && change == 2);
            if (run == 0 && change > 0) {
                open.window.move(30, 40);
                open.window.resize(650, 450);
            }
            if (run == 0 && change == 2)
                open.window.showMaximized();
            QTRY_COMPARE(open.window.isMaximized(), change == 2);
            QVERIFY(screen.contains(open.window.frameGeometry()));
            Click(open.window, "cmdExit");
            const QSettings stored(m_settings.FilePath(), QSettings::IniFormat);
            QStringList values;
            for (const char* key : {"Top", "Left", "Height", "Width", "Maximized"})
                values << stored.value(u"Startup/"_s + QLatin1String(key)).toString();
            QCOMPARE(values.join(u' '), kept);
        }
    }

    void placeOnScreens_data() {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QRect>("placed");
        // Two screens side by side: 0 to 1279, and 1280 to 3199 wide.
        QTest::newRow("most on the second") << QRect(1000, 9, 600, 400) << QRect(1280, 9, 600, 400);
        QTest::newRow("off the first's bottom")
            << QRect(9, 900, 600, 400) << QRect(9, 624, 600, 400);
        QTest::newRow("on none") << QRect(-5000, 9, 600, 400) << QRect(64, 64, 600, 400);
        QTest::newRow("too large") << QRect(-9, 9, 1400, 1100) << QRect(0, 0, 1280, 1024);
    }

    void placeOnScreens() {
        QFETCH(QRect, window);
        QFETCH(QRect, placed);
        QCOMPARE(PlaceOnScreens(window, {QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)}),
                 placed);
    }

    void fileTimesInTheLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<qint64>("time"); // seconds since the epoch, in UTC
        QTest::addColumn<QString>("text");
        // 10 April 1998, 09:15: four-digit years where the locale's short date
        // has two; no direction marks; no time zone, bracketed or not.
        const qint64 morning = 892199700;
        QTest::newRow("de_DE") << "de_DE" << morning << "10.04.1998 09:15:00";
        QTest::newRow("en_US") << "en_US" << morning << "4/10/1998 9:15:00 AM";
        QTest::newRow("ar_EG") << "ar_EG" << morning << "١٠/٤/١٩٩٨ ٩:١٥:٠٠ ص";
        QTest::newRow("fa_IR") << "fa_IR" << morning << "۱۹۹۸/۴/۱۰ ۹:۱۵:۰۰";
        QTest::newRow("midnight") << "en_GB" << qint64{892166400} << "10/04/1998";
    }

    void fileTimesInTheLocale() {
        QFETCH(QString, locale);
        QFETCH(qint64, time);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(ReportLocaleFor(QLocale(locale)).formatFileTime(time)),
                 text);
    }

    void recentListRules_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QStringList>("after");
        QStringList ten;
        for (int i = 0; i < 10; ++i)
            ten << u"*.a%1"_s.arg(i);
        const QStringList nlm = {u"*.nlm"_s};
        QTest::newRow("a duplicate keeps its place") << ten << u"*.A5"_s << ten;
        QTest::newRow("NetWare preset in capitals") << nlm << kNetWarePreset.toUpper() << nlm;
        QTest::newRow("the eleventh pushes out the oldest")
            << ten << u"*.NEW"_s << QStringList{u"*.new"_s} + ten.mid(0, 9);
        QTest::newRow("ASCII letters lowered") << nlm << u"*.ÄB"_s << QStringList{u"*.Äb"_s} + nlm;
    }

    void recentListRules() {
        QFETCH(QStringList, before);
        QFETCH(QString, spec);
        QFETCH(QStringList, after);
        QStringList recent = before;
        QCOMPARE(EnterRecentSpec(recent, spec), before != after);
        QCOMPARE(recent, after);
    }

    void criteriaHandlers() {
        OpenWindow open(m_tree.Root());
        QVERIFY(open.active);
        // A preset; then the focus comes to the search criteria with their text
        // selected, so typing replaces it; a pattern the file list refuses
        // leaves it as it was.
        auto* spec = Find<QComboBox>(open.window, "cmbSearchSpec");
        Click(open.window, "cmdNetWare");
        QCOMPARE(spec->currentText(), kNetWarePreset);
        QCOMPARE(Listed(open.window), u".hidden.nlm CLIB.NLM ne2000.lan"_s);
        spec->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(spec->lineEdit(), u"*.EXE; *.txt/"_s);
        QCOMPARE(Listed(open.window), u"readme.txt setup.exe"_s);

        // Brief format greys the four hide boxes; the user never reaches the
        // greyed state, and clearing brief format clears all four.
        const auto hides = [&] {
            QString states;
            for (const char* name : {"chkImport", "chkCompany", "chkVersion", "chkDebug"})
                states += QString::number(Find<QCheckBox>(open.window, name)->checkState());
            return states;
        };
        Click(open.window, "chkBrief");
        Click(open.window, "chkCompany");
        QCOMPARE(hides(), u"1011"_s);
        Click(open.window, "chkCompany");
        Click(open.window, "chkBrief");
        QCOMPARE(hides(), u"0000"_s);

        auto* directories = Find<DirectoryList>(open.window, "dirList");
        // A highlighted directory opens when the focus leaves the list, unless
        // it has gone meanwhile: then nothing changes.
        for (const int row : {1, 0}) {
            directories->SetPath(m_tree.Root().string());
            directories->setFocus(Qt::TabFocusReason);
            directories->SetListIndex(row);
            std::filesystem::remove(m_tree.Root() / "gone");
            QTest::keyClick(directories, Qt::Key_Tab);
        }
        QCOMPARE(Find<FileList>(open.window, "filList")->Path(),
                 (m_tree.Root() / "another").string());
        // A volume without a medium: the drive list returns to the shown one.
        auto* drives = Find<DriveList>(open.window, "drvList");
        drives->SetVolumes({"/", "/kestrel-volume-without-medium"});
        drives->setCurrentIndex(1);
        QCOMPARE(drives->Drive() + directories->Path(), "/" + (m_tree.Root() / "another").string());
    }

    void openingAFolder_data() {
        QTest::addColumn<QString>("paths");  // under the tree, separated by commas
        QTest::addColumn<QString>("way");    // "kestrel PATH", "dropped" or "typed" in txtPath
        QTest::addColumn<QString>("opened"); // the directory open, the selected files, the criteria
        QTest::addColumn<QString>("said");   // at the path field, "@" the tree
        QTest::newRow("kestrel DIR") << "sub" << u"kestrel"_s << "/sub  *.nlm" << u""_s;
        QTest::newRow("kestrel FILE")
            << "sub/inner.nlm" << u"kestrel"_s << "/sub inner.nlm *.nlm" << u""_s;
        // A file the search criteria leave out is shown by all files.
        QTest::newRow("kestrel OTHER") << "setup.exe" << u"kestrel"_s << " setup.exe *.*" << u""_s;
        QTest::newRow("kestrel MISSING") << "missing" << u"kestrel"_s << "  *.nlm" << u""_s;
        QTest::newRow("dropped") << "CLIB.NLM,.hidden.nlm,sub/x" << u"dropped"_s
                                 << " .hidden.nlm,CLIB.NLM *.nlm" << u""_s;
        // Typed paths are taken from the open directory; Enter only opens.
        QTest::newRow("typed DIR") << "sub/" << u"typed"_s << "/sub  *.nlm" << u""_s;
        QTest::newRow("typed URL")
            << "file://@/sub/inner.nlm" << u"typed"_s << "/sub inner.nlm *.nlm" << u""_s;
        QTest::newRow("typed MISSING") << "sub/../missing" << u"typed"_s << "  *.nlm"
                                       << u"No such folder or file: @/missing"_s;
        QTest::newRow("typed DEVICE") << "/dev/null" << u"typed"_s << "  *.nlm"
                                      << u"Neither a folder nor a file: /dev/null"_s;
    }

    void openingAFolder() {
        QFETCH(QString, paths);
        QFETCH(QString, way);
        QFETCH(QString, opened);
        QFETCH(QString, said);
        OpenWindow open(m_tree.Root());
        auto* spec = Find<QComboBox>(open.window, "cmbSearchSpec");
        spec->setEditText(u"*.nlm"_s);
        const QString root = QString::fromStdString(m_tree.Root().string());
        QMimeData data;
        for (const QString& path : paths.split(u','))
            data.setUrls(data.urls() << QUrl::fromLocalFile(root + u'/' + path));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        auto* field = Find<PathField>(open.window, "txtPath");
        bool done = false;
        if (way == u"dropped"_s) {
            if (QApplication::sendEvent(&open.window, &enter) && enter.isAccepted())
                QApplication::sendEvent(&open.window, &drop);
            done = drop.isAccepted();
        } else if (way == u"typed"_s) {
            field->setFocus(Qt::OtherFocusReason);
            field->clear();
            QTest::keyClicks(field, QString(paths).replace(u'@', root));
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(open.window.State(), SearchState::Idle);
            done = field->Problem().isEmpty();
        } else {
            done = open.window.OpenPath(root + u'/' + paths);
        }
        QCOMPARE(done, !opened.startsWith(u"  "));
        QCOMPARE(field->Problem(), said.replace(u'@', root));
        QStringList selected;
        for (const std::string& name : Find<FileList>(open.window, "filList")->SelectedNames())
            selected << QString::fromStdString(name);
        const QString directory =
            QString::fromStdString(Find<DirectoryList>(open.window, "dirList")->Path());
        QCOMPARE(directory + u' ' + selected.join(u',') + u' ' + spec->currentText(),
                 root + opened);
        // The field shows the open directory, or keeps what could not be opened.
        if (said.isEmpty())
            QCOMPARE(field->text(), directory);
    }

    void listsFollowTheFolderAndTheMounts() {
        // A mount namespace of the test's own (root only) for the mount below,
        // before the drive list opens the mount table.
        const bool mounting = ::unshare(CLONE_NEWNS) == 0 &&
                              ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        fixtures::TempTree tree;
        tree.Add("old.txt", "bytes");
        OpenWindow open(tree.Root());
        auto* files = Find<FileList>(open.window, "filList");
        files->SelectNames({"old.txt"});
        tree.Add("new.nlm", "bytes");
        tree.Add("tab\tname.nlm", "bytes");
        const std::string later = tree.AddDirectory("later").string();
        QTRY_COMPARE(Listed(open.window), u"new.nlm old.txt tab\tname.nlm"_s);
        QCOMPARE(files->item(2)->text(), u"tab→name.nlm"_s); // a tab shown, not a gap
        QCOMPARE(files->SelectedNames(), std::vector<std::string>{"old.txt"});
        QTRY_COMPARE(Find<DirectoryList>(open.window, "dirList")->List(0), later);
        if (!mounting)
            QSKIP("mounting a volume needs root");
        auto* drives = Find<DriveList>(open.window, "drvList");
        QVERIFY(::mount("kestrel", later.c_str(), "tmpfs", 0, nullptr) == 0);
        QTRY_VERIFY(drives->findText(QString::fromStdString(later)) >= 0);
        QVERIFY(::umount(later.c_str()) == 0);
        QTRY_VERIFY(drives->findText(QString::fromStdString(later)) < 0);
    }

private:
    fixtures::TempTree m_tree;
    IsolatedSettings m_settings;
};

} // namespace kestrel

QTEST_MAIN(kestrel::WindowTest)
#include "window_test.moc"
