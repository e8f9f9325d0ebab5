#include "directory_list.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QSignalBlocker>
#include <QStyle>

#include "file_listing.h"
#include "visible_name.h"
#include "walk.h"

namespace kestrel {

namespace {

// Each level of the tree is shown this many spaces further in.
constexpr int kIndentPerLevel = 2;

std::string LastPart(const std::string& path) {
    if (path == "/")
        return path;
    return path.substr(path.find_last_of('/') + 1);
}

std::vector<std::string> AncestorsOf(const std::string& path) {
    std::vector<std::string> ancestors;
    if (path == "/")
        return ancestors;
    ancestors.push_back("/");
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        ancestors.push_back(path.substr(0, slash));
    return ancestors;
}

} // namespace

bool IsListableDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(path.c_str(), R_OK | X_OK) == 0;
}

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        SetPath(item->data(Qt::UserRole).toByteArray().toStdString());
    });
}

bool DirectoryList::SetPath(const std::string& path) {
    const std::string normal = NormalDirectoryPath(path);
    if (!IsListableDirectory(normal))
        return false;
    const bool moved = normal != m_path;
    m_path = normal;
    m_ancestors = AncestorsOf(m_path);
    m_subdirectories = ListSubdirectories(m_path);
    Fill();
    if (moved)
        Q_EMIT PathChanged();
    return true;
}

void DirectoryList::Refresh() {
    std::string path = m_path;
    while (!IsListableDirectory(path) && path != "/")
        path = NormalDirectoryPath(path + "/..");
    if (path != m_path) {
        SetPath(path);
        return;
    }
    const std::string highlighted = ListIndex() >= 0 ? List(ListIndex()) : std::string();
    m_subdirectories = ListSubdirectories(m_path);
    Fill();
    for (int i = 0; i < ListCount() && !highlighted.empty(); ++i) {
        if (List(i) == highlighted)
            SetListIndex(i);
    }
}

void DirectoryList::Fill() {
    const QSignalBlocker blocker(this);
    clear();
    const QIcon openIcon = QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = QApplication::style()->standardIcon(QStyle::SP_DirClosedIcon);
    const auto addEntry = [&](const std::string& path, int level, const QIcon& icon) {
        const QString indent(level * kIndentPerLevel, QLatin1Char(' '));
        auto* item = new QListWidgetItem(icon, indent + VisibleName(LastPart(path)));
        item->setData(Qt::UserRole, QByteArray::fromStdString(path));
        addItem(item);
    };
    int level = 0;
    for (const std::string& ancestor : m_ancestors)
        addEntry(ancestor, level++, openIcon);
    addEntry(m_path, level++, openIcon);
    for (const std::string& name : m_subdirectories)
        addEntry(DirectoryWithSeparator(m_path) + name, level, closedIcon);
    setCurrentRow(Depth());
}

std::string DirectoryList::List(int index) const {
    const QListWidgetItem* entry = item(index + Depth() + 1);
    return entry != nullptr ? entry->data(Qt::UserRole).toByteArray().toStdString() : std::string();
}

int DirectoryList::ListIndex() const {
    return currentRow() - Depth() - 1;
}

void DirectoryList::SetListIndex(int index) {
    setCurrentRow(index + Depth() + 1);
}

} // namespace kestrel
