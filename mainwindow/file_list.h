#pragma once

#include <string>
#include <vector>

#include <QListWidget>

namespace kestrel {

// The file list: the regular files of a directory whose names match any of
// the patterns of a search specification, in listing order, with extended
// selection (Shift and Ctrl).
class FileList : public QListWidget {
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);

    const std::string& Path() const { return m_path; }
    // Lists another directory. A path that is not a directory the process
    // can list is refused: false, and nothing changes.
    bool SetPath(const std::string& path);

    const QString& Pattern() const { return m_pattern; }
    const std::vector<std::string>& Patterns() const { return m_patterns; }
    // Takes a search specification (patterns separated by ";"). A refused
    // specification (a pattern holding "/") gives false and changes nothing.
    bool SetPattern(const QString& spec);

    // Dot files are listed unless this is switched off.
    void SetShowHidden(bool show);
    bool ShowHidden() const { return m_showHidden; }

    int ListCount() const { return count(); }
    std::string List(int index) const;
    bool Selected(int index) const;
    // The names of the selected entries, in list order.
    std::vector<std::string> SelectedNames() const;
    // Selects the entries of these names and no others; the number selected.
    std::size_t SelectNames(const std::vector<std::string>& names);
    // Lists the directory again (files added or removed), keeping the
    // selection, the current entry and the scroll position where they can be.
    void Refresh();

private:
    void Fill();

    std::string m_path;
    QString m_pattern = QStringLiteral("*.*");
    std::vector<std::string> m_patterns{"*.*"};
    bool m_showHidden = true;
};

} // namespace kestrel
