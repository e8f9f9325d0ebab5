#include "path_field.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QToolTip>
#include <QUrl>

#include "directory_list.h"

namespace kestrel {

QString TypedPath(const QString& text, const QString& base) {
    QString path = text.trimmed();
    if (path.isEmpty())
        return path;
    if (path.startsWith(QLatin1String("file:")))
        path = QUrl(path).toLocalFile();
    if (path == u'~' || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    return QDir::cleanPath(QDir(base).absoluteFilePath(path));
}

QString WhyNotOpened(const QString& path) {
    const QFileInfo file(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!file.exists())
        return QStringLiteral("No such folder or file: ") + shown;
    if (!file.isDir() && !file.isFile())
        return QStringLiteral("Neither a folder nor a file: ") + shown;
    const QString directory = file.isDir() ? file.absoluteFilePath() : file.absolutePath();
    if (!IsListableDirectory(directory.toStdString()))
        return QStringLiteral("The folder cannot be read: ") + QDir::toNativeSeparators(directory);
    return {};
}

PathField::PathField(DirectoryList& directories, OpenFunction open, QWidget* parent)
    : QLineEdit(parent), m_directories(directories), m_open(std::move(open)) {
    setAccessibleName(QStringLiteral("Path"));
    setPlaceholderText(QStringLiteral("Type or paste a folder or file, then Enter"));
    connect(&m_directories, &DirectoryList::PathChanged, this, &PathField::ShowOpenDirectory);
    connect(this, &QLineEdit::textEdited, this, [this] { SayProblem(QString()); });
    ShowOpenDirectory();
}

void PathField::ShowOpenDirectory() {
    setText(QString::fromStdString(m_directories.Path()));
    SayProblem(QString());
}

void PathField::keyPressEvent(QKeyEvent* event) {
    // Enter is the field's own: it must not reach the window, where it
    // would start a search.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Go();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void PathField::Go() {
    const QString path = TypedPath(text(), QString::fromStdString(m_directories.Path()));
    if (path.isEmpty()) {
        ShowOpenDirectory();
        return;
    }
    QString problem = WhyNotOpened(path);
    if (problem.isEmpty() && !m_open(path))
        problem = QStringLiteral("Not opened: ") + QDir::toNativeSeparators(path);
    if (!problem.isEmpty()) {
        SayProblem(problem);
        return;
    }
    ShowOpenDirectory();
    selectAll();
}

void PathField::SayProblem(const QString& problem) {
    if (problem == toolTip())
        return;
    setToolTip(problem);
    setAccessibleDescription(problem);
    QPalette colours = QApplication::palette(this);
    if (!problem.isEmpty())
        colours.setColor(QPalette::Text, Qt::red);
    setPalette(colours);
    if (problem.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(mapToGlobal(QPoint(0, height())), problem, this);
}

} // namespace kestrel
