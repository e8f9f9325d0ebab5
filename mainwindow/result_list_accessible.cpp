#include "result_list_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QScrollBar>

#include "result_list_model.h"
#include "result_list_view.h"

namespace kestrel {

namespace {

// One line of the list. It holds its line's number and reads the text and
// state from the view each time, so it never shows stale text.
class ResultLineAccessible final : public QAccessibleInterface {
public:
    ResultLineAccessible(ResultListView* view, int line) : m_view(view), m_line(line) {}

    bool isValid() const override { return m_view && m_line < m_view->Model().LineCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view->window()->windowHandle(); }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_view);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? m_view->Model().LineText(m_line) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        const QRect line = m_view->LineRect(m_line);
        return QRect(m_view->viewport()->mapToGlobal(line.topLeft()), line.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        state.selected = m_view->IsSelected(m_line);
        state.focused = m_view->hasFocus() && m_view->CurrentLine() == m_line;
        const int top = m_view->verticalScrollBar()->value();
        state.offscreen = m_line < top || m_line >= top + m_view->VisibleLines();
        state.invisible = !m_view->isVisible();
        return state;
    }

    int Line() const { return m_line; }

private:
    QPointer<ResultListView> m_view;
    int m_line;
};

// The list itself, in place of the scroll area's viewport and scroll bars.
// The items asked for are kept by line until the list is reset.
class ResultListAccessible final : public QAccessibleWidget {
public:
    explicit ResultListAccessible(ResultListView* view)
        : QAccessibleWidget(view, QAccessible::List) {}
    ~ResultListAccessible() override { DropLines(); }

    int childCount() const override { return View().Model().LineCount(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto id = m_lines.constFind(index); id != m_lines.cend())
            return QAccessible::accessibleInterface(*id);
        auto* line = new ResultLineAccessible(&View(), index);
        m_lines.insert(index, QAccessible::registerAccessibleInterface(line));
        return line;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || child->role() != QAccessible::ListItem || child->parent() != this)
            return -1;
        return static_cast<const ResultLineAccessible*>(child)->Line();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint point = View().viewport()->mapFromGlobal(QPoint(x, y));
        if (!View().viewport()->rect().contains(point))
            return nullptr;
        return child(View().verticalScrollBar()->value() + point.y() / View().LineRect(0).height());
    }
    QAccessibleInterface* focusChild() const override {
        return View().hasFocus() ? child(View().CurrentLine()) : nullptr;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiSelectable = true;
        state.extSelectable = true;
        return state;
    }

    void DropLines() {
        for (const QAccessible::Id id : std::as_const(m_lines))
            QAccessible::deleteAccessibleInterface(id);
        m_lines.clear();
    }

private:
    ResultListView& View() const { return *static_cast<ResultListView*>(widget()); }

    mutable QHash<int, QAccessible::Id> m_lines;
};

QAccessibleInterface* ResultListAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("kestrel::ResultListView") && object->isWidgetType())
        return new ResultListAccessible(static_cast<ResultListView*>(object));
    return nullptr;
}

} // namespace

void InstallResultListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(ResultListAccessibleFactory);
        return true;
    }();
    (void)installed;
}

void ResultListReset(ResultListView& view) {
    if (!QAccessible::isActive())
        return;
    if (auto* list =
            dynamic_cast<ResultListAccessible*>(QAccessible::queryAccessibleInterface(&view)))
        list->DropLines();
    QAccessibleEvent reset(&view, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&reset);
}

void ResultListCurrentChanged(ResultListView& view) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent selection(&view, QAccessible::SelectionWithin);
    QAccessible::updateAccessibility(&selection);
    QAccessibleInterface* current =
        QAccessible::queryAccessibleInterface(&view)->child(view.CurrentLine());
    if (current != nullptr && view.hasFocus()) {
        QAccessibleEvent focus(current, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

} // namespace kestrel
