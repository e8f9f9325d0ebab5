#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include "main_window.h"
#include "temp_tree.h"

namespace kestrel::testing {

// The settings store of the tests: a folder of its own, so no test reads or
// writes a user's settings, and every window starts from what the test wrote.
class IsolatedSettings {
public:
    IsolatedSettings() { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Folder()); }
    ~IsolatedSettings() { Clear(); }

    QString Folder() const { return m_folder.path(); }
    QString FilePath() const { return m_folder.path() + QStringLiteral("/Kestrel/Kestrel.ini"); }
    void Clear() const { QFile::remove(FilePath()); }
    // The store as the window opens it.
    static std::unique_ptr<QSettings> Open() {
        return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           QStringLiteral("Kestrel"), QStringLiteral("Kestrel"));
    }

private:
    QTemporaryDir m_folder;
};

// A control of the window by its design name; a missing one ends the test
// run, since every later check would only repeat the fault.
template <typename Control>
Control* Find(const QWidget& window, const char* name) {
    auto* control = window.findChild<Control*>(QString::fromLatin1(name));
    if (control == nullptr)
        qFatal("no control %s of the expected kind", name);
    return control;
}

// The window as a user sees it: shown and active, so keys and focus work.
inline bool ShowAndActivate(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

// Runs each test in a directory of its own: the window opens in the current
// directory of the process.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& path) : m_previous(QDir::currentPath()) {
        QDir::setCurrent(QString::fromStdString(path));
    }
    ~CurrentDirectory() { QDir::setCurrent(m_previous); }

private:
    QString m_previous;
};

} // namespace kestrel::testing
