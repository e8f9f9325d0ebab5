#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "main_window.h"
#include "temp_tree.h"

namespace kestrel::testing {

// The settings store of the tests: a folder of its own, so no test reads or
// writes a user's settings. Cleared before each test.
struct IsolatedSettings {
    IsolatedSettings() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    }
    QString FilePath() const { return folder.path() + QStringLiteral("/Kestrel/Kestrel.ini"); }
    void Clear() const { QFile::remove(FilePath()); }
    QTemporaryDir folder;
};

// A window opened in `directory`, made the process's current directory
// first, as a user sees it: shown and active, so keys and focus work.
struct OpenWindow {
    explicit OpenWindow(const std::filesystem::path& directory)
        : entered(QDir::setCurrent(QString::fromStdString(directory.string()))) {
        window.show();
        QApplication::setActiveWindow(&window);
        active = QTest::qWaitForWindowActive(&window);
    }
    bool entered;
    MainWindow window;
    bool active = false;
};

// A control of the window by its design name; a missing one ends the run.
template <typename Control = QWidget>
Control* Find(const QWidget& window, const char* name) {
    auto* control = window.findChild<Control*>(QString::fromLatin1(name));
    if (control == nullptr)
        qFatal("no control %s of the expected kind", name);
    return control;
}

// The caption of a button or label.
inline QString Text(const QWidget& window, const char* name) {
    if (auto* button = window.findChild<QAbstractButton*>(QString::fromLatin1(name)))
        return button->text();
    return Find<QLabel>(window, name)->text();
}

inline void Click(const QWidget& window, const char* name) {
    QTest::mouseClick(Find(window, name), Qt::LeftButton);
}

// The window's state in short: the captions of Search and Exit, then for the
// panels, the options and Print whether each is visible and enabled ("10" is
// shown but greyed).
inline QString StateOf(const QWidget& window) {
    QStringList state = {Text(window, "cmdSearch"), Text(window, "cmdExit")};
    for (const char* name : {"Picture1", "Picture2", "Picture3", "fraOptions", "chkSubdirs",
                             "chkBrief", "chkDebug", "cmdPrint"})
        state << QString::number(Find(window, name)->isVisible()) +
                     QString::number(Find(window, name)->isEnabled());
    return state.join(QLatin1Char(' '));
}

inline const QString kIdleState = QStringLiteral("&Search E&xit 11 01 11 11 11 11 11 10");
inline const QString kSearchingState = QStringLiteral("&Search &Cancel 01 11 01 01 01 01 01 10");
inline const QString kFinishedState = QStringLiteral("&Continue E&xit 01 11 01 01 01 01 01 11");

// Clicks Search and waits for the search on its thread to end.
inline bool SearchToTheEnd(MainWindow& window) {
    Click(window, "cmdSearch");
    return QTest::qWaitFor([&] { return window.State() == SearchState::Finished; }, 20000);
}

} // namespace kestrel::testing
