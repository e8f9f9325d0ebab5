// The layout pass: which controls follow the window's size, by how much, and
// the smallest size the window takes.

#include <QListView>

#include "twips.h"
#include "window_layout.h"
#include "window_test_support.h"

namespace kestrel {

using testing::Find;

class WindowLayoutTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_settings.Clear(); }

    void computedForClientArea_data();
    void computedForClientArea();
    void windowPlacesControlsInPixels_data();
    void windowPlacesControlsInPixels();
    void neverSmallerThanTheDesign_data();
    void neverSmallerThanTheDesign();
    void minimisedWindowKeepsItsControls();

private:
    fixtures::TempTree m_tree;
    testing::IsolatedSettings m_settings;
};

void WindowLayoutTest::computedForClientArea_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<QList<int>>("sizes"); // Picture1 h, filList h, dirList h, Picture2 w x h,
                                           // lstFoundFiles w x h
    QTest::addColumn<double>("logoLeft");
    QTest::addColumn<double>("logoTop");
    QTest::addColumn<QList<int>>("tops"); // fraButtons, fraOptions, buttons, six boxes
    QTest::newRow("design size 9285 x 6030")
        << 9285 << 6030 << QList<int>{4830, 3930, 3450, 9135, 4710, 9015, 4260} << 6070.0 << 907.5
        << QList<int>{4910, 4070, 5160, 4320, 4560, 4800, 5040, 5280, 5520};
    QTest::newRow("12000 x 8000") << 12000 << 8000
                                  << QList<int>{6800, 5900, 5420, 11850, 6680, 11730, 6230}
                                  << 7427.5 << 1892.5 << QList<int>{6880, 6040, 7130, 6290, 6530,
                                                                    6770, 7010, 7250, 7490};
}

void WindowLayoutTest::computedForClientArea() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(QList<int>, sizes);
    QFETCH(double, logoLeft);
    QFETCH(double, logoTop);
    QFETCH(QList<int>, tops);
    const WindowLayout layout = ComputeWindowLayout(w, h);
    const QList<int> actualSizes = {layout.picture1Height,     layout.filListHeight,
                                    layout.dirListHeight,      layout.picture2Width,
                                    layout.picture2Height,     layout.lstFoundFilesWidth,
                                    layout.lstFoundFilesHeight};
    QCOMPARE(actualSizes, sizes);
    QCOMPARE(layout.picture3Left, logoLeft);
    QCOMPARE(layout.picture3Top, logoTop);
    QList<int> actualTops = {layout.fraButtonsTop, layout.fraOptionsTop, layout.buttonsTop};
    for (int top : layout.checkBoxTops)
        actualTops.append(top);
    QCOMPARE(actualTops, tops);
}

void WindowLayoutTest::windowPlacesControlsInPixels_data() {
    QTest::addColumn<QSize>("client"); // pixels
    QTest::newRow("design size") << QSize(619, 402);
    QTest::newRow("12000 x 7995 twips") << QSize(800, 533);
    QTest::newRow("tall and narrow") << QSize(619, 700);
}

void WindowLayoutTest::windowPlacesControlsInPixels() {
    QFETCH(QSize, client);
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(client);
    QCOMPARE(window.size(), client);

    const WindowLayout layout =
        ComputeWindowLayout(PixelsToTwips(client.width()), PixelsToTwips(client.height()));
    auto* results = Find<QWidget>(window, "Picture2");
    QCOMPARE(results->pos(), QPoint(0, 0));
    QCOMPARE(results->size(),
             QSize(TwipsToPixels(layout.picture2Width), TwipsToPixels(layout.picture2Height)));
    QCOMPARE(
        Find<QWidget>(window, "lstFoundFiles")->size(),
        QSize(TwipsToPixels(layout.lstFoundFilesWidth), TwipsToPixels(layout.lstFoundFilesHeight)));
    auto* criteria = Find<QWidget>(window, "Picture1");
    QCOMPARE(criteria->geometry(),
             QRect(0, 0, TwipsToPixels(5775), TwipsToPixels(layout.picture1Height)));
    QCOMPARE(Find<QWidget>(window, "filList")->geometry(),
             QRect(TwipsToPixels(120), TwipsToPixels(960), TwipsToPixels(2415),
                   TwipsToPixels(layout.filListHeight)));
    QCOMPARE(Find<QWidget>(window, "dirList")->height(), TwipsToPixels(layout.dirListHeight));
    QCOMPARE(Find<QWidget>(window, "Picture3")->pos(),
             QPoint(TwipsToPixels(layout.picture3Left), TwipsToPixels(layout.picture3Top)));
    // The bottom strip keeps its left edges and its distance from the bottom.
    QCOMPARE(Find<QWidget>(window, "fraButtons")->pos(),
             QPoint(TwipsToPixels(120), TwipsToPixels(layout.fraButtonsTop)));
    QCOMPARE(Find<QWidget>(window, "fraOptions")->pos(),
             QPoint(TwipsToPixels(6000), TwipsToPixels(layout.fraOptionsTop)));
    for (const char* name : {"cmdSearch", "cmdExit", "cmdPrint"})
        QCOMPARE(Find<QWidget>(window, name)->y(), TwipsToPixels(layout.buttonsTop));
    const char* const boxes[] = {"chkSubdirs", "chkBrief",   "chkVersion",
                                 "chkImport",  "chkCompany", "chkDebug"};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(Find<QWidget>(window, boxes[i])->pos(),
                 QPoint(TwipsToPixels(6240), TwipsToPixels(layout.checkBoxTops[i])));
    }
}

void WindowLayoutTest::neverSmallerThanTheDesign_data() {
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("too small both ways") << QSize(300, 200) << QSize(619, 402);
    QTest::newRow("too narrow keeps its height") << QSize(400, 600) << QSize(619, 600);
    QTest::newRow("too low keeps its width") << QSize(900, 100) << QSize(900, 402);
}

void WindowLayoutTest::neverSmallerThanTheDesign() {
    QFETCH(QSize, asked);
    QFETCH(QSize, expected);
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(asked);
    QCOMPARE(window.size(), expected);
    // The smallest of the computed sizes stays positive.
    QVERIFY(Find<QWidget>(window, "dirList")->height() >= TwipsToPixels(3450));
}

void WindowLayoutTest::minimisedWindowKeepsItsControls() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* results = Find<QWidget>(window, "Picture2");
    auto* search = Find<QWidget>(window, "cmdSearch");
    const QSize resultsBefore = results->size();
    const QPoint searchBefore = search->pos();

    window.setWindowState(Qt::WindowMinimized);
    window.resize(900, 700);
    QCOMPARE(results->size(), resultsBefore);
    QCOMPARE(search->pos(), searchBefore);

    // Restoring lays the window out again for its size.
    window.setWindowState(Qt::WindowNoState);
    const WindowLayout layout =
        ComputeWindowLayout(PixelsToTwips(window.width()), PixelsToTwips(window.height()));
    QCOMPARE(results->width(), TwipsToPixels(layout.picture2Width));
    QCOMPARE(search->y(), TwipsToPixels(layout.buttonsTop));
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowLayoutTest)
#include "window_layout_test.moc"
