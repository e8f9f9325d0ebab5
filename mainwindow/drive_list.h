#pragma once

#include <string>
#include <vector>

#include <QComboBox>

class QSocketNotifier;

namespace kestrel {

// The drive list: the mounted volumes, the root first and the others by path.
// Selecting another volume raises DriveChanged, as the user's choice does. The
// list follows the mount table: a volume mounted or unmounted later is listed
// or taken away, and it is read again each time the list drops down.
class DriveList : public QComboBox {
    Q_OBJECT

public:
    explicit DriveList(QWidget* parent = nullptr);
    ~DriveList() override;

    // The mount point of the selected volume.
    std::string Drive() const;
    // Selects the volume that holds `path` without raising DriveChanged.
    void ShowDriveOf(const std::string& path);
    // Selects the volume mounted at `mountPoint`, raising DriveChanged when the
    // selection moves. False when no such volume is listed.
    bool SetDrive(const std::string& mountPoint);
    // Lists the mounted volumes again, keeping the selection where it can.
    void Refresh();
    // The volumes to list, for tests that need a volume of their own.
    void SetVolumes(std::vector<std::string> mountPoints);

protected:
    void showPopup() override;

Q_SIGNALS:
    void DriveChanged();

private:
    void Fill(const std::vector<std::string>& mountPoints);

    int m_mountTable = -1; // watched for mounts and unmounts
    QSocketNotifier* m_mounts = nullptr;
};

// The mount points of the mounted volumes that are directories, "/" first.
std::vector<std::string> MountedVolumes();

// The mount point among `mountPoints` that holds `path`: the longest one that
// is `path` itself or one of its ancestors.
std::string VolumeOf(const std::string& path, const std::vector<std::string>& mountPoints);

} // namespace kestrel
