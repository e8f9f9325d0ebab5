#pragma once

#include <string>
#include <vector>

#include <QListWidget>

namespace kestrel {

// The directory list: the open directory's ancestors from the root down, the
// open directory, then its subdirectories in listing order. Entries are told
// by index as the criteria handlers and the search use them: 0 to
// ListCount() - 1 the subdirectories, -1 the open directory, -2 its parent
// and so on up to the root. A single click or the arrow keys only highlight
// an entry; a double click opens it.
class DirectoryList : public QListWidget {
    Q_OBJECT

public:
    explicit DirectoryList(QWidget* parent = nullptr);

    // The open directory: absolute and lexically normal.
    const std::string& Path() const { return m_path; }
    // Opens a directory and lists it again. A path that is not a directory
    // the process can list is refused: false, and nothing changes. Raises
    // PathChanged when the open directory moves.
    bool SetPath(const std::string& path);

    // Lists the open directory again (subdirectories made or removed),
    // keeping the highlighted one. When the directory itself has gone, its
    // nearest ancestor that can be listed opens instead.
    void Refresh();

    int ListCount() const { return static_cast<int>(m_subdirectories.size()); }
    // The full path of the entry at `index`; empty outside the list.
    std::string List(int index) const;
    // The highlighted entry.
    int ListIndex() const;
    void SetListIndex(int index);

Q_SIGNALS:
    void PathChanged();

private:
    void Fill();
    int Depth() const { return static_cast<int>(m_ancestors.size()); }

    std::string m_path;
    std::vector<std::string> m_ancestors; // root first, the open directory excluded
    std::vector<std::string> m_subdirectories;
};

// A directory whose entries the process may list and enter.
bool IsListableDirectory(const std::string& path);

} // namespace kestrel
