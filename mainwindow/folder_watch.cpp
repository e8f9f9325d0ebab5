#include "folder_watch.h"

namespace kestrel {

FolderWatch::FolderWatch(QObject* parent) : QObject(parent) {
    m_interval.setSingleShot(true);
    m_interval.setInterval(kIntervalMs);
    connect(&m_interval, &QTimer::timeout, this, &FolderWatch::Changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!m_interval.isActive())
            m_interval.start();
    });
}

void FolderWatch::Watch(const std::string& path) {
    const QStringList watched = m_watcher.directories();
    if (watched == QStringList{QString::fromStdString(path)})
        return;
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    // A folder that cannot be watched (no inotify watches left) is listed
    // as it was when opened: it stays as usable as before.
    m_watcher.addPath(QString::fromStdString(path));
}

} // namespace kestrel
