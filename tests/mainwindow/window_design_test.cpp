// The window as designed: its controls, the state it opens in, the keyboard.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>

#include "file_list.h"
#include "twips.h"
#include "window_test_support.h"

namespace kestrel {

using testing::Find;

class WindowDesignTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        m_tree.Add(".hidden.nlm", "hidden module");
        m_tree.Add("server.nlm", "module");
        m_tree.AddDirectory("drivers");
    }
    void init() { m_settings.Clear(); }

    void controlsAreWhereDesigned_data();
    void controlsAreWhereDesigned();
    void opensInTheIdleState();
    void tabVisitsTheControlsInDesignOrder();
    void altCMovesTheFocusToTheFileList();
    void enterClicksTheDefaultButton();
    void fontsFallBackToFixedPitchForResults();
    void iconAndLogoAreCompiledIn();

private:
    fixtures::TempTree m_tree;
    testing::IsolatedSettings m_settings;
};

void WindowDesignTest::controlsAreWhereDesigned_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QRect>("rect"); // twips, as designed
    const auto row = [](const char* name, const char* kind, const char* container,
                        const char* caption, const char* tip, QRect rect) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind)
                            << QString::fromLatin1(container) << QString::fromUtf8(caption)
                            << QString::fromUtf8(tip) << rect;
    };
    // At the design client size the layout keeps every rectangle but those of
    // the panels and the controls that grow with them (left out: empty).
    row("chkVersion", "QCheckBox", "frmMain", "Hide Version Info", "Hides File and Productversion",
        QRect(6240, 4800, 2415, 255));
    row("chkImport", "QCheckBox", "frmMain", "Hide Imports",
        "Hides imported DLLs, NLMs and Overlays", QRect(6240, 5040, 2415, 255));
    row("chkCompany", "QCheckBox", "frmMain", "Hide Company Info", "Hides Trademarks and Copyright",
        QRect(6240, 5280, 2415, 255));
    row("chkDebug", "QCheckBox", "frmMain", "Hide Programmer Info", "Hides Comments and Filenames",
        QRect(6240, 5520, 2415, 255));
    row("chkBrief", "QCheckBox", "frmMain", "Brief Format", "Display one line per file",
        QRect(6240, 4560, 2415, 255));
    row("chkSubdirs", "QCheckBox", "frmMain", "Scan Subdirectories",
        "Scan all subdirectories for pattern", QRect(6240, 4320, 2415, 255));
    row("cmdPrint", "QPushButton", "frmMain", "&Print", "", QRect(3960, 5160, 1560, 600));
    row("cmdSearch", "QPushButton", "frmMain", "&Search", "", QRect(360, 5160, 1560, 600));
    row("cmdExit", "QPushButton", "frmMain", "E&xit", "", QRect(2160, 5160, 1560, 600));
    row("Picture3", "QLabel", "frmMain", "", "", {});
    row("Picture1", "QFrame", "frmMain", "", "", {});
    row("Picture2", "QFrame", "frmMain", "", "", {});
    row("fraButtons", "QGroupBox", "frmMain", "", "", {});
    row("fraOptions", "QGroupBox", "frmMain", "Options", "", {});
    row("lstFoundFiles", "QListView", "Picture2", "", "", {});
    row("fraCount", "QGroupBox", "Picture2", "", "", QRect(120, 0, 9015, 375));
    row("lblCount", "QLabel", "fraCount", "0", "", QRect(1440, 120, 1095, 255));
    row("lblShowPath", "QLabel", "fraCount", "CurrentPath", "", QRect(2640, 120, 6255, 255));
    row("lblfound", "QLabel", "fraCount", "Files Scanned:", "", QRect(120, 120, 1455, 255));
    row("cmbSearchSpec", "QComboBox", "Picture1", "*.*", "", QRect(120, 600, 5535, 315));
    row("cmdWindows", "QPushButton", "Picture1", "DosWin", "Selects DOS and Windows executables",
        QRect(3600, 120, 960, 375));
    row("cmdAll", "QPushButton", "Picture1", "All Files", "Selects all files",
        QRect(2520, 120, 960, 375));
    row("cmdNetWare", "QPushButton", "Picture1", "NetWare", "Selects NLM type files",
        QRect(4680, 120, 960, 375));
    row("drvList", "QComboBox", "Picture1", "", "", QRect(2640, 960, 3015, 315));
    row("dirList", "QListWidget", "Picture1", "", "", {});
    row("filList", "QListWidget", "Picture1", "", "", {});
    row("lblCriteria", "QLabel", "Picture1", "Search &Criteria:", "", QRect(120, 240, 1335, 255));
}

void WindowDesignTest::controlsAreWhereDesigned() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    QFETCH(QRect, rect);
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* control = window.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QVERIFY2(control->inherits(kind.toLatin1().constData()), qPrintable(kind));
    QCOMPARE(control->parentWidget()->objectName(), container);
    QCOMPARE(control->toolTip(), toolTip);
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        QCOMPARE(button->text(), caption);
    else if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), caption);
    else if (auto* box = qobject_cast<QGroupBox*>(control))
        QCOMPARE(box->title(), caption);
    else if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->isEditable())
        QCOMPARE(combo->currentText(), caption);
    if (!rect.isNull()) {
        QCOMPARE(control->geometry(), DesignRect(rect.x(), rect.y(), rect.width(), rect.height()));
    }
}

void WindowDesignTest::opensInTheIdleState() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    QCOMPARE(window.objectName(), QStringLiteral("frmMain"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Kestrel for Windows (1.0)"));

    for (const char* shown :
         {"Picture1", "Picture3", "fraOptions", "fraButtons", "cmdSearch", "cmdExit", "cmdPrint"})
        QVERIFY2(Find<QWidget>(window, shown)->isVisible(), shown);
    QVERIFY(!Find<QWidget>(window, "Picture2")->isVisible());
    for (const char* name :
         {"chkSubdirs", "chkBrief", "chkVersion", "chkImport", "chkCompany", "chkDebug"}) {
        auto* box = Find<QCheckBox>(window, name);
        QVERIFY2(box->isVisible(), name);
        QCOMPARE(box->checkState(), Qt::Unchecked);
    }
    QVERIFY(!Find<QPushButton>(window, "cmdPrint")->isEnabled());
    QCOMPARE(Find<QComboBox>(window, "cmbSearchSpec")->currentText(), QStringLiteral("*.*"));
    QCOMPARE(Find<QComboBox>(window, "cmbSearchSpec")->count(), 0);

    // The file list of the current directory, hidden files included.
    auto* files = Find<FileList>(window, "filList");
    QCOMPARE(files->Path(), m_tree.Root().string());
    QCOMPARE(files->ListCount(), 2);
    QCOMPARE(files->List(0), std::string(".hidden.nlm"));
    QCOMPARE(files->selectionMode(), QAbstractItemView::ExtendedSelection);
}

void WindowDesignTest::tabVisitsTheControlsInDesignOrder() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    Find<QWidget>(window, "cmdSearch")->setFocus(Qt::OtherFocusReason);
    // Labels, frames, panels, the hidden result list and the disabled Print
    // button are passed over.
    const QStringList expected = {
        QStringLiteral("cmdSearch"), QStringLiteral("cmdExit"),    QStringLiteral("filList"),
        QStringLiteral("dirList"),   QStringLiteral("drvList"),    QStringLiteral("chkSubdirs"),
        QStringLiteral("chkBrief"),  QStringLiteral("chkImport"),  QStringLiteral("chkCompany"),
        QStringLiteral("chkDebug"),  QStringLiteral("chkVersion"), QStringLiteral("cmdNetWare"),
        QStringLiteral("cmdAll"),    QStringLiteral("cmdWindows"), QStringLiteral("cmbSearchSpec"),
        QStringLiteral("cmdSearch")};
    QStringList visited = {QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // The editable combo box hands its focus to its line edit.
        if (focus->objectName().isEmpty() && focus->parentWidget())
            focus = focus->parentWidget();
        visited.append(focus->objectName());
        if (focus->objectName() == QStringLiteral("cmbSearchSpec")) {
            // Tabbing in selects the whole specification, so typing replaces it.
            QCOMPARE(Find<QComboBox>(window, "cmbSearchSpec")->lineEdit()->selectedText(),
                     QStringLiteral("*.*"));
        }
    }
    QCOMPARE(visited, expected);
}

void WindowDesignTest::altCMovesTheFocusToTheFileList() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    Find<QWidget>(window, "cmdExit")->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(&window, Qt::Key_C, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), Find<QWidget>(window, "filList"));
}

void WindowDesignTest::enterClicksTheDefaultButton() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(testing::ShowAndActivate(window));
    auto* search = Find<QPushButton>(window, "cmdSearch");
    QSignalSpy clicks(search, &QPushButton::clicked);
    for (const char* name : {"filList", "chkBrief", "cmbSearchSpec"}) {
        auto* control = Find<QWidget>(window, name);
        control->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY2(!clicks.isEmpty(), name);
        clicks.clear();
    }
    // Enter on another button is that button's.
    auto* all = Find<QPushButton>(window, "cmdAll");
    QSignalSpy allClicks(all, &QPushButton::clicked);
    all->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(all, Qt::Key_Return);
    QCOMPARE(allClicks.count(), 1);
    QCOMPARE(clicks.count(), 0);
}

void WindowDesignTest::fontsFallBackToFixedPitchForResults() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(QFontInfo(Find<QListView>(window, "lstFoundFiles")->font()).fixedPitch());
    QVERIFY(window.font().bold());
    QCOMPARE(window.font().pointSizeF(), 8.25);
    QVERIFY(!Find<QListView>(window, "lstFoundFiles")->font().bold());
}

void WindowDesignTest::iconAndLogoAreCompiledIn() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));
    auto* logo = Find<QLabel>(window, "Picture3");
    QCOMPARE(logo->pixmap().size(), QSize(180, 180));
    // The bitmap and its 2-pixel sunken border fill the 2760-twip panel.
    QCOMPARE(logo->size(), QSize(184, 184));
    QCOMPARE(logo->frameWidth(), 2);
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowDesignTest)
#include "window_design_test.moc"
