#pragma once

#include <utility>
#include <vector>

#include <QAbstractScrollArea>

class QPainter;

namespace kestrel {

class ResultListModel;

// The result list: one line a row in the list's fixed-pitch font, drawn
// straight from the model. It keeps nothing per line, so a list of millions of
// lines takes no memory here, and new lines are shown at once: the view only
// learns the new count (a QListView lays out every row again on each
// insertion, and keeps two numbers per row). The vertical scroll bar moves by
// lines, its value the top line; the horizontal one reaches the end of the
// longest line. Extended selection as in the file list: a click selects a
// line, Shift a run from the last line clicked, Ctrl adds or takes away one.
class ResultListView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ResultListView(ResultListModel& model, QWidget* parent = nullptr);

    // The selected lines as runs of first and last line, in list order.
    const std::vector<std::pair<int, int>>& Selection() const { return m_selection; }
    void SelectAll();
    int CurrentLine() const { return m_current; }
    // Makes `line` the current line, selected alone, and brings it into view.
    void SetCurrentLine(int line);
    QString CurrentLineText() const;
    // Where a line is drawn, in the coordinates of the viewport.
    QRect LineRect(int line) const;
    bool IsSelected(int line) const;
    // Lines wholly in view.
    int VisibleLines() const;
    const ResultListModel& Model() const { return m_model; }

Q_SIGNALS:
    void SelectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void UpdateScrollBars();
    void ModelReset();
    int LineHeight() const;
    int LineAt(int y) const;
    void DrawLine(QPainter& painter, int left, const QRect& rect, const QString& text) const;
    // Makes `line` the current line as a click or key with `modifiers` does.
    void MoveCurrent(int line, Qt::KeyboardModifiers modifiers);
    void SelectOnly(int first, int last);
    void Toggle(int line);

    ResultListModel& m_model;
    std::vector<std::pair<int, int>> m_selection; // in order, apart
    int m_current = -1;
    int m_anchor = -1; // where a Shift selection starts
};

} // namespace kestrel
