#pragma once

#include <string>

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

namespace kestrel {

// Tells when the open folder changes: a file or subdirectory added, removed
// or renamed, or the folder itself gone. A burst of changes (a copy of many
// files) is told at most once every kIntervalMs, so the lists are not filled
// again for each file.
class FolderWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 300;

    explicit FolderWatch(QObject* parent = nullptr);

    // Watches `path` instead of the folder watched before.
    void Watch(const std::string& path);

Q_SIGNALS:
    void Changed();

private:
    QFileSystemWatcher m_watcher;
    QTimer m_interval;
};

} // namespace kestrel
