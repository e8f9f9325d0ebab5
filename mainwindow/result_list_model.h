#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <QAbstractListModel>
#include <QStringList>
#include <QTimer>

#include "report_sink.h"

namespace kestrel {

// The lines of the result list. Lines are kept as UTF-8 in one block of
// text, so a million of them take little more than their characters, and
// they reach the view in batches: AppendLine queues a line, and the queued
// lines are shown with one insertion at most every kShowIntervalMs, or at
// once by Flush. Each insertion makes the view lay out all its rows again,
// which for a million lines takes tens of milliseconds: an insertion per
// file would stall the window.
class ResultListModel : public QAbstractListModel {
    Q_OBJECT

public:
    // Queued lines wait at most this long to be shown.
    static constexpr int kShowIntervalMs = 100;

    explicit ResultListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void AppendLine(std::string_view line);
    void Flush();
    void Clear();

    // Lines shown, queued ones not counted.
    int LineCount() const { return m_shownCount; }
    // A shown line; empty outside the list.
    std::string_view Line(int index) const;
    QString LineText(int index) const;
    QStringList AllLines() const;

private:
    std::string m_text;
    std::vector<std::size_t> m_starts; // where each line begins in m_text
    int m_shownCount = 0;
    QTimer m_showTimer;
};

// The window's report sink: every line of the composer and the walk goes to
// the result list.
class ResultListSink : public ReportSink {
public:
    explicit ResultListSink(ResultListModel& model) : m_model(model) {}
    void AddLine(const std::string& line) override { m_model.AppendLine(line); }

private:
    ResultListModel& m_model;
};

} // namespace kestrel
