#pragma once

#include <string_view>

#include <QAbstractListModel>
#include <QTimer>

#include "line_buffer.h"
#include "report_lines.h"
#include "report_records.h"

class QIODevice;

namespace kestrel {

// The lines of the result list and their kinds, in one LineBuffer. New lines
// are queued and reach the view in batches: one insertion at most every
// kShowIntervalMs, or at once by Flush. Each insertion makes the view lay out
// its rows again, which for millions of lines takes a while: an insertion per
// file would stall the window.
class ResultListModel : public QAbstractListModel, public ReportLines {
    Q_OBJECT

public:
    // Queued lines wait at most this long to be shown.
    static constexpr int kShowIntervalMs = 100;

    explicit ResultListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Queues the lines. False when the list can take no more (it counts its
    // rows in an int, and memory ends somewhere): the lines are dropped.
    bool Append(const LineBuffer& lines, const ReportRecords& records = {});
    bool AppendLine(std::string_view line, LineKind kind);
    void Flush();
    void Clear();

    // Lines shown, queued ones not counted.
    int LineCount() const override { return m_shownCount; }
    // A shown line; empty outside the list.
    std::string_view Line(int index) const;
    QString LineText(int index) const override;
    LineKind Kind(int index) const override;
    // The kept report whose lines include the shown line `index`; none for a
    // directory line.
    std::optional<KeptReport> ReportAt(int index) const;
    std::unique_ptr<const ReportLines> Copy() const override;
    // The bytes of the longest line shown, which is at least its characters.
    std::size_t LongestLine() const { return m_longestShown; }

    // Lines first to last, each followed by "\n", in UTF-8. False when the
    // device refused a write.
    bool WriteLines(QIODevice& device, int first, int last) const;

Q_SIGNALS:
    // A line longer than any shown before has been shown.
    void LongestLineChanged(std::size_t bytes);

private:
    LineBuffer m_lines;
    ReportRecords m_records;
    int m_shownCount = 0;
    std::size_t m_longestQueued = 0;
    std::size_t m_longestShown = 0;
    QTimer m_showTimer;
};

} // namespace kestrel
