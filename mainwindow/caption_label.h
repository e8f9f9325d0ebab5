#pragma once

#include <QLabel>

namespace kestrel {

// A one-line label for a status caption: a text wider than the label is
// shown shortened in the middle, so both the start of a path and its file
// name stay in view, and the whole text is its tool tip. text() is always the
// whole text, as are the label's accessible name and a copy of it.
class CaptionLabel : public QLabel {
    Q_OBJECT

public:
    explicit CaptionLabel(const QString& text, QWidget* parent = nullptr);

    // The text as drawn: the whole text, or its start and end with "…".
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};

} // namespace kestrel
