#pragma once

#include <functional>

#include <QLineEdit>

namespace kestrel {

class DirectoryList;

// The row the path field takes above the directory list, in twips: the
// directory list starts this much lower than designed and is this much shorter.
inline constexpr int kPathFieldRow = 360;

// The path a user typed or pasted, as a full path: "~" at its start is the
// home folder, a file:// URL its local path, and a relative path is taken
// from `base`. Empty for empty text.
QString TypedPath(const QString& text, const QString& base);

// Why `path` cannot be opened in the criteria ("No such folder or file: …");
// empty when it can.
QString WhyNotOpened(const QString& path);

// The path field "txtPath" above the directory list: it shows the open
// directory, and Enter opens the folder or file typed or pasted into it (a
// file opens its folder with the file selected). A path that cannot be opened
// is said at the field, and its text stays there to be mended.
class PathField : public QLineEdit {
    Q_OBJECT

public:
    // `open` opens a full path in the criteria; false when it could not.
    using OpenFunction = std::function<bool(const QString& path)>;
    PathField(DirectoryList& directories, OpenFunction open, QWidget* parent);

    // What the last Enter could not open, or empty.
    QString Problem() const { return toolTip(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowOpenDirectory();
    void Go();
    void SayProblem(const QString& problem);

    DirectoryList& m_directories;
    OpenFunction m_open;
};

} // namespace kestrel
