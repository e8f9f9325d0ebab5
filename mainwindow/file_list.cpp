#include "file_list.h"

#include <algorithm>

#include <QScrollBar>

#include "directory_list.h"
#include "file_listing.h"
#include "visible_name.h"
#include "walk.h"

namespace kestrel {

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
}

bool FileList::SetPath(const std::string& path) {
    const std::string normal = NormalDirectoryPath(path);
    if (!IsListableDirectory(normal))
        return false;
    m_path = normal;
    Fill();
    return true;
}

bool FileList::SetPattern(const QString& spec) {
    std::optional<std::vector<std::string>> patterns = ParseSearchSpec(spec.toStdString());
    if (!patterns)
        return false;
    m_pattern = spec;
    m_patterns = std::move(*patterns);
    Fill();
    return true;
}

void FileList::SetShowHidden(bool show) {
    m_showHidden = show;
    Fill();
}

void FileList::Fill() {
    clear();
    if (m_path.empty())
        return;
    for (const std::string& name : ListMatchingFiles(m_path, m_patterns)) {
        if (!m_showHidden && name.starts_with('.'))
            continue;
        auto* item = new QListWidgetItem(VisibleName(name));
        item->setData(Qt::UserRole, QByteArray::fromStdString(name));
        addItem(item);
    }
}

std::string FileList::List(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry != nullptr ? entry->data(Qt::UserRole).toByteArray().toStdString() : std::string();
}

bool FileList::Selected(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry != nullptr && entry->isSelected();
}

std::vector<std::string> FileList::SelectedNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < count(); ++i) {
        if (Selected(i))
            names.push_back(List(i));
    }
    return names;
}

std::size_t FileList::SelectNames(const std::vector<std::string>& names) {
    // Sorted, so a selection of thousands in a folder of thousands is quick.
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    std::size_t selected = 0;
    for (int i = 0; i < count(); ++i) {
        const bool wanted = std::binary_search(sorted.begin(), sorted.end(), List(i));
        item(i)->setSelected(wanted);
        selected += wanted ? 1 : 0;
    }
    return selected;
}

void FileList::Refresh() {
    const std::vector<std::string> selected = SelectedNames();
    const std::string current = List(currentRow());
    const int scrolled = verticalScrollBar()->value();
    Fill();
    SelectNames(selected);
    for (int i = 0; i < count() && !current.empty(); ++i) {
        if (List(i) == current) {
            setCurrentRow(i, QItemSelectionModel::NoUpdate);
            break;
        }
    }
    verticalScrollBar()->setValue(scrolled);
}

} // namespace kestrel
