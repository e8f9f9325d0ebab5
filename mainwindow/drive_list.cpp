#include "drive_list.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QStorageInfo>

#include "file_listing.h"
#include "visible_name.h"

namespace kestrel {

namespace {

// The kernel marks this file as having an exceptional condition (POLLPRI)
// whenever a file system is mounted or unmounted in the process's namespace.
// (A QFileSystemWatcher sees nothing here: /proc has no inotify.)
constexpr char kMountTable[] = "/proc/self/mountinfo";

bool IsAncestorOrSelf(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/")
        return path.starts_with('/');
    return path == mountPoint || path.starts_with(mountPoint + "/");
}

} // namespace

std::vector<std::string> MountedVolumes() {
    std::vector<std::string> mountPoints;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        // Containers bind single files (/etc/hosts) as volumes: not a drive.
        const QString root = volume.rootPath();
        if (!QFileInfo(root).isDir())
            continue;
        const std::string path = root.toStdString();
        if (std::find(mountPoints.begin(), mountPoints.end(), path) == mountPoints.end())
            mountPoints.push_back(path);
    }
    std::sort(mountPoints.begin(), mountPoints.end(),
              [](const std::string& a, const std::string& b) {
                  if (a == "/" || b == "/")
                      return a == "/" && b != "/";
                  return ListingOrderLess(a, b);
              });
    if (mountPoints.empty() || mountPoints.front() != "/")
        mountPoints.insert(mountPoints.begin(), "/");
    return mountPoints;
}

std::string VolumeOf(const std::string& path, const std::vector<std::string>& mountPoints) {
    std::string best;
    for (const std::string& mountPoint : mountPoints) {
        if (IsAncestorOrSelf(mountPoint, path) && mountPoint.size() > best.size())
            best = mountPoint;
    }
    return best;
}

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    Fill(MountedVolumes());
    connect(this, &QComboBox::currentIndexChanged, this, [this] { Q_EMIT DriveChanged(); });
    // Without the mount table (no /proc), the list is read again when it drops down.
    m_mountTable = ::open(kMountTable, O_RDONLY | O_CLOEXEC);
    if (m_mountTable >= 0) {
        m_mounts = new QSocketNotifier(m_mountTable, QSocketNotifier::Exception, this);
        connect(m_mounts, &QSocketNotifier::activated, this, &DriveList::Refresh);
    }
}

DriveList::~DriveList() {
    delete m_mounts; // before the descriptor it watches
    if (m_mountTable >= 0)
        ::close(m_mountTable);
}

void DriveList::showPopup() {
    Refresh();
    QComboBox::showPopup();
}

void DriveList::Fill(const std::vector<std::string>& mountPoints) {
    const std::string selected = Drive();
    const QSignalBlocker blocker(this);
    clear();
    for (const std::string& mountPoint : mountPoints)
        addItem(VisibleName(mountPoint), QByteArray::fromStdString(mountPoint));
    const int index = findData(QByteArray::fromStdString(selected));
    setCurrentIndex(index >= 0 ? index : 0);
}

void DriveList::Refresh() {
    Fill(MountedVolumes());
}

void DriveList::SetVolumes(std::vector<std::string> mountPoints) {
    Fill(mountPoints);
}

std::string DriveList::Drive() const {
    return currentData().toByteArray().toStdString();
}

void DriveList::ShowDriveOf(const std::string& path) {
    std::vector<std::string> mountPoints;
    for (int i = 0; i < count(); ++i)
        mountPoints.push_back(itemData(i).toByteArray().toStdString());
    const int index = findData(QByteArray::fromStdString(VolumeOf(path, mountPoints)));
    if (index >= 0) {
        const QSignalBlocker blocker(this);
        setCurrentIndex(index);
    }
}

bool DriveList::SetDrive(const std::string& mountPoint) {
    const int index = findData(QByteArray::fromStdString(mountPoint));
    if (index < 0)
        return false;
    setCurrentIndex(index);
    return true;
}

} // namespace kestrel
