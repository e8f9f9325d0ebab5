// The settings kept between runs: the window's geometry and the Recent list.

#include <QComboBox>

#include "twips.h"
#include "window_settings.h"
#include "window_test_support.h"

namespace kestrel {

using testing::Find;

class WindowSettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_settings.Clear(); }

    void firstRunOpensAtTheDefaults();
    void recentListRules_data();
    void recentListRules();
    void recentListLoadsInKeyOrderAndSavesAllTenKeys();
    void geometryRoundTrips();
    void maximisedWindowWritesItsNormalGeometry();
    void positionOnNoScreenFallsBackToTheDefaults();
    void leadingNumberOfStoredText_data();
    void leadingNumberOfStoredText();

private:
    void WriteSettings(const QList<QPair<QString, QString>>& values) {
        const std::unique_ptr<QSettings> store = testing::IsolatedSettings::Open();
        for (const auto& [key, value] : values)
            store->setValue(key, value);
    }

    fixtures::TempTree m_tree;
    testing::IsolatedSettings m_settings;
};

void WindowSettingsTest::firstRunOpensAtTheDefaults() {
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Top and left 960 twips; the outer size 9405 by 6435 holds the design
    // client area of 9285 by 6030.
    QCOMPARE(window.pos(), QPoint(64, 64));
    QCOMPARE(window.size(), QSize(619, 402));
    QCOMPARE(Find<QComboBox>(window, "cmbSearchSpec")->count(), 0);

    window.close();
    const std::unique_ptr<QSettings> store = testing::IsolatedSettings::Open();
    QCOMPARE(store->value(QStringLiteral("Startup/Top")).toString(), QStringLiteral("960"));
    QCOMPARE(store->value(QStringLiteral("Startup/Left")).toString(), QStringLiteral("960"));
    QCOMPARE(store->value(QStringLiteral("Startup/Height")).toString(), QStringLiteral("6435"));
    QCOMPARE(store->value(QStringLiteral("Startup/Width")).toString(), QStringLiteral("9405"));
    for (int i = 0; i < 10; ++i)
        QVERIFY(store->contains(QStringLiteral("Recent/%1").arg(i)));
}

void WindowSettingsTest::recentListRules_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QStringList>("after");
    const QStringList ten = {QStringLiteral("*.a0"), QStringLiteral("*.a1"), QStringLiteral("*.a2"),
                             QStringLiteral("*.a3"), QStringLiteral("*.a4"), QStringLiteral("*.a5"),
                             QStringLiteral("*.a6"), QStringLiteral("*.a7"), QStringLiteral("*.a8"),
                             QStringLiteral("*.a9")};
    QTest::newRow("entered in lower case")
        << QStringList() << QStringLiteral("*.NLM") << QStringList{QStringLiteral("*.nlm")};
    QTest::newRow("no duplicate in another case")
        << QStringList{QStringLiteral("*.nlm")} << QStringLiteral("*.Nlm")
        << QStringList{QStringLiteral("*.nlm")};
    QTest::newRow("a duplicate keeps its place") << ten << QStringLiteral("*.A5") << ten;
    QTest::newRow("all files preset") << QStringList() << QStringLiteral("*.*") << QStringList();
    QTest::newRow("NetWare preset in capitals")
        << QStringList() << kNetWarePreset.toUpper() << QStringList();
    QTest::newRow("DosWin preset") << QStringList() << kDosWinPreset << QStringList();
    QTest::newRow("a specification naming no pattern")
        << QStringList() << QStringLiteral(" ; ") << QStringList();
    QStringList eleventh = ten;
    eleventh.prepend(QStringLiteral("*.new"));
    eleventh.removeLast();
    QTest::newRow("the eleventh pushes out the oldest")
        << ten << QStringLiteral("*.NEW") << eleventh;
    QTest::newRow("only ASCII letters are lowered")
        << QStringList() << QStringLiteral("*.ÄB") << QStringList{QStringLiteral("*.Äb")};
}

void WindowSettingsTest::recentListRules() {
    QFETCH(QStringList, before);
    QFETCH(QString, spec);
    QFETCH(QStringList, after);
    QStringList recent = before;
    QCOMPARE(EnterRecentSpec(recent, spec), before != after);
    QCOMPARE(recent, after);
}

void WindowSettingsTest::recentListLoadsInKeyOrderAndSavesAllTenKeys() {
    // A gap left by hand closes up; entries loaded are taken as they stand.
    WriteSettings({{QStringLiteral("Recent/0"), QStringLiteral("*.EXE")},
                   {QStringLiteral("Recent/1"), QString()},
                   {QStringLiteral("Recent/2"), QStringLiteral("*.sys")},
                   {QStringLiteral("Recent/9"), QStringLiteral("*.vxd")}});
    testing::CurrentDirectory here(m_tree.Root().string());
    {
        MainWindow window;
        auto* spec = Find<QComboBox>(window, "cmbSearchSpec");
        QCOMPARE(spec->count(), 3);
        QCOMPARE(spec->itemText(0), QStringLiteral("*.EXE"));
        QCOMPARE(spec->itemText(1), QStringLiteral("*.sys"));
        QCOMPARE(spec->itemText(2), QStringLiteral("*.vxd"));
        // The text shown is still the all-files preset.
        QCOMPARE(spec->currentText(), QStringLiteral("*.*"));
        window.show();
        window.close();
    }
    const std::unique_ptr<QSettings> store = testing::IsolatedSettings::Open();
    QCOMPARE(store->value(QStringLiteral("Recent/1")).toString(), QStringLiteral("*.sys"));
    QCOMPARE(store->value(QStringLiteral("Recent/2")).toString(), QStringLiteral("*.vxd"));
    QCOMPARE(store->value(QStringLiteral("Recent/3")).toString(), QString());
    QCOMPARE(store->value(QStringLiteral("Recent/9")).toString(), QString());
}

void WindowSettingsTest::geometryRoundTrips() {
    testing::CurrentDirectory here(m_tree.Root().string());
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.move(100, 120);
        window.resize(700, 500);
        window.close();
    }
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.pos(), QPoint(100, 120));
    QCOMPARE(window.size(), QSize(700, 500));
}

void WindowSettingsTest::maximisedWindowWritesItsNormalGeometry() {
    testing::CurrentDirectory here(m_tree.Root().string());
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.move(30, 40);
        window.resize(650, 450);
        window.showMaximized();
        QTRY_VERIFY(window.isMaximized() && window.width() > 650);
        window.close();
    }
    const std::unique_ptr<QSettings> store = testing::IsolatedSettings::Open();
    QCOMPARE(store->value(QStringLiteral("Startup/Left")).toString(), QString::number(30 * 15));
    QCOMPARE(store->value(QStringLiteral("Startup/Top")).toString(), QString::number(40 * 15));
    QCOMPARE(store->value(QStringLiteral("Startup/Width")).toString(),
             QString::number(650 * 15 + 120));
    QCOMPARE(store->value(QStringLiteral("Startup/Height")).toString(),
             QString::number(450 * 15 + 405));
}

void WindowSettingsTest::positionOnNoScreenFallsBackToTheDefaults() {
    WriteSettings({{QStringLiteral("Startup/Left"), QStringLiteral("9000000")},
                   {QStringLiteral("Startup/Top"), QStringLiteral("-9000000")},
                   {QStringLiteral("Startup/Width"), QStringLiteral("12000")},
                   {QStringLiteral("Startup/Height"), QStringLiteral("not a number")}});
    testing::CurrentDirectory here(m_tree.Root().string());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.pos(), QPoint(64, 64));
    // The width is kept; a height of 0 gives the smallest the window takes.
    QCOMPARE(window.size(), QSize((12000 - 120) / 15, 402));
}

void WindowSettingsTest::leadingNumberOfStoredText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("whole number") << QStringLiteral("960") << 960.0;
    QTest::newRow("leading spaces, fraction, trailing text")
        << QStringLiteral("  1234.5twips") << 1234.5;
    QTest::newRow("negative") << QStringLiteral("-300") << -300.0;
    QTest::newRow("not a number") << QStringLiteral("abc") << 0.0;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("beyond any window is clamped")
        << QStringLiteral("99999999999999999999999") << 16777215.0 * 15;
}

void WindowSettingsTest::leadingNumberOfStoredText() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(LeadingNumber(text), value);
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowSettingsTest)
#include "window_settings_test.moc"
