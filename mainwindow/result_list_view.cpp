#include "result_list_view.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "result_list_accessible.h"
#include "result_list_model.h"

namespace kestrel {

namespace {

// Drawn before each line: every character stands in the column the report
// puts it in, left to right, as in the text report, whatever the script of a
// name or of the locale's date (right-to-left runs would move whole columns).
const QString kLeftToRightOverride(QChar(0x202D));

const QChar kReplacementCharacter(0xFFFD);

// Pixels between the list's left edge and the text.
constexpr int kTextMargin = 3;
// The horizontal scroll bar reaches this many characters at most, so the
// width in pixels stays far inside an int; a longer line is cut there.
constexpr std::size_t kMaxScrolledCharacters = 100000;

} // namespace

ResultListView::ResultListView(ResultListModel& model, QWidget* parent)
    : QAbstractScrollArea(parent), m_model(model) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        UpdateScrollBars();
        viewport()->update();
    });
    connect(&m_model, &QAbstractItemModel::modelReset, this, &ResultListView::ModelReset);
    connect(&m_model, &ResultListModel::LongestLineChanged, this,
            &ResultListView::UpdateScrollBars);
}

void ResultListView::SelectAll() {
    if (m_model.LineCount() == 0)
        return;
    SelectOnly(0, m_model.LineCount() - 1);
    viewport()->update();
    ResultListCurrentChanged(*this);
    Q_EMIT SelectionChanged();
}

void ResultListView::SetCurrentLine(int line) {
    if (line >= 0 && line < m_model.LineCount())
        MoveCurrent(line, Qt::NoModifier);
}

QString ResultListView::CurrentLineText() const {
    return m_model.LineText(m_current);
}

QRect ResultListView::LineRect(int line) const {
    return QRect(0, (line - verticalScrollBar()->value()) * LineHeight(), viewport()->width(),
                 LineHeight());
}

int ResultListView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

// Lines wholly in view; the last line of the list can come to the bottom.
int ResultListView::VisibleLines() const {
    return std::max(1, viewport()->height() / LineHeight());
}

int ResultListView::LineAt(int y) const {
    if (m_model.LineCount() == 0)
        return -1;
    const int line = verticalScrollBar()->value() + (y < 0 ? -1 : y / LineHeight());
    return std::clamp(line, 0, m_model.LineCount() - 1);
}

void ResultListView::UpdateScrollBars() {
    const int visible = VisibleLines();
    verticalScrollBar()->setRange(0, std::max(0, m_model.LineCount() - visible));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);
    const int characterWidth = fontMetrics().horizontalAdvance(QLatin1Char('M'));
    const auto characters =
        static_cast<int>(std::min(m_model.LongestLine(), kMaxScrolledCharacters));
    const int width = 2 * kTextMargin + characters * characterWidth;
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(characterWidth);
}

void ResultListView::ModelReset() {
    m_selection.clear();
    m_current = -1;
    m_anchor = -1;
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
    ResultListReset(*this);
    Q_EMIT SelectionChanged();
}

void ResultListView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setLayoutDirection(Qt::LeftToRight);
    const int top = verticalScrollBar()->value();
    const int last = std::min(m_model.LineCount() - 1, top + VisibleLines());
    const int left = kTextMargin - horizontalScrollBar()->value();
    for (int line = top; line <= last; ++line) {
        const QRect rect = LineRect(line);
        const bool selected = IsSelected(line);
        if (selected)
            painter.fillRect(rect, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        DrawLine(painter, left, rect, m_model.LineText(line));
        if (line == m_current && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect;
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}

// A name that is not valid UTF-8 holds U+FFFD for each bad byte. Fixed-pitch
// fonts seldom have that glyph, and one from another font is wider than a
// column and runs into the next character: it is drawn as a boxed "?" in the
// list's own font, one column wide.
void ResultListView::DrawLine(QPainter& painter, int left, const QRect& rect,
                              const QString& text) const {
    QString shown = kLeftToRightOverride + text;
    shown.replace(kReplacementCharacter, QLatin1Char('?'));
    painter.drawText(left, rect.top() + fontMetrics().ascent(), shown);
    const int width = fontMetrics().horizontalAdvance(QLatin1Char('?'));
    for (qsizetype i = text.indexOf(kReplacementCharacter); i >= 0;
         i = text.indexOf(kReplacementCharacter, i + 1)) {
        const int x = left + fontMetrics().horizontalAdvance(shown.left(i + 1));
        painter.drawRect(x, rect.top(), width - 1, rect.height() - 1);
    }
}

void ResultListView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void ResultListView::mousePressEvent(QMouseEvent* event) {
    const int line = LineAt(event->position().toPoint().y());
    // A right click on the selection keeps it for the context menu.
    if (line < 0 || (event->button() == Qt::RightButton && IsSelected(line)))
        return;
    if (event->modifiers() & Qt::ControlModifier) {
        Toggle(line);
        m_anchor = line;
        MoveCurrent(line, Qt::ControlModifier);
    } else {
        MoveCurrent(line, event->modifiers());
    }
}

// Dragging selects from the line first pressed; beyond the edges the list scrolls.
void ResultListView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        const int y = event->position().toPoint().y();
        MoveCurrent(LineAt(y > viewport()->height() ? y + LineHeight() : y), Qt::ShiftModifier);
    }
}

void ResultListView::keyPressEvent(QKeyEvent* event) {
    int line = std::max(m_current, 0);
    switch (event->key()) {
    case Qt::Key_Up:
        --line;
        break;
    case Qt::Key_Down:
        line += m_current < 0 ? 0 : 1;
        break;
    case Qt::Key_PageUp:
        line -= VisibleLines();
        break;
    case Qt::Key_PageDown:
        line += VisibleLines();
        break;
    case Qt::Key_Home:
        line = 0;
        break;
    case Qt::Key_End:
        line = m_model.LineCount() - 1;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter stays in the list: passed on to the window, it would click
        // Continue and throw the results away.
        event->accept();
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (m_model.LineCount() > 0)
        MoveCurrent(std::clamp(line, 0, m_model.LineCount() - 1), event->modifiers());
}

void ResultListView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    ResultListCurrentChanged(*this);
}

void ResultListView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

bool ResultListView::IsSelected(int line) const {
    const auto after = std::upper_bound(m_selection.begin(), m_selection.end(), line,
                                        [](int l, const auto& run) { return l < run.first; });
    return after != m_selection.begin() && std::prev(after)->second >= line;
}

// Shift selects the run from the anchor; Ctrl leaves the selection as it is
// (a Ctrl+click has toggled the line already); else the line alone.
void ResultListView::MoveCurrent(int line, Qt::KeyboardModifiers modifiers) {
    if (line < 0)
        return;
    if (modifiers & Qt::ShiftModifier) {
        if (m_anchor < 0)
            m_anchor = line;
        SelectOnly(std::min(m_anchor, line), std::max(m_anchor, line));
    } else if (!(modifiers & Qt::ControlModifier)) {
        SelectOnly(line, line);
        m_anchor = line;
    }
    m_current = line;
    const int top = verticalScrollBar()->value();
    if (line < top)
        verticalScrollBar()->setValue(line);
    else if (line >= top + VisibleLines())
        verticalScrollBar()->setValue(line - VisibleLines() + 1);
    ResultListCurrentChanged(*this);
    viewport()->update();
    Q_EMIT SelectionChanged();
}

void ResultListView::SelectOnly(int first, int last) {
    m_selection.assign(1, {first, last});
}

void ResultListView::Toggle(int line) {
    auto after = std::upper_bound(m_selection.begin(), m_selection.end(), line,
                                  [](int l, const auto& run) { return l < run.first; });
    if (after != m_selection.begin() && std::prev(after)->second >= line) {
        const auto [first, last] = *std::prev(after);
        after = m_selection.erase(std::prev(after));
        if (line < last)
            after = m_selection.insert(after, {line + 1, last});
        if (first < line)
            m_selection.insert(after, {first, line - 1});
        return;
    }
    m_selection.insert(after, {line, line});
    // Runs that now touch become one.
    std::vector<std::pair<int, int>> merged;
    for (const auto& run : m_selection) {
        if (!merged.empty() && run.first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, run.second);
        else
            merged.push_back(run);
    }
    m_selection = std::move(merged);
}

} // namespace kestrel
