#include "result_list_model.h"

#include <limits>

#include <QIODevice>

namespace kestrel {

namespace {

// A list view counts its rows in an int: lines past this are refused rather
// than wrapping the count.
constexpr std::size_t kMaxLines = std::numeric_limits<int>::max() - 1;

QString LineAsText(std::string_view line) {
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

// The lines shown when the copy was made: the queued ones are not counted.
class CopiedLines final : public ReportLines {
public:
    explicit CopiedLines(int count) : m_count(count) {}
    LineBuffer& Lines() { return m_lines; }

    int LineCount() const override { return m_count; }
    QString LineText(int index) const override {
        return index < m_count ? LineAsText(m_lines.Line(static_cast<std::size_t>(index)))
                               : QString();
    }
    LineKind Kind(int index) const override {
        return index < m_count ? m_lines.Kind(static_cast<std::size_t>(index)) : LineKind::InReport;
    }
    std::unique_ptr<const ReportLines> Copy() const override {
        auto copy = std::make_unique<CopiedLines>(m_count);
        return copy->Lines().Append(m_lines) ? std::move(copy) : nullptr;
    }

private:
    LineBuffer m_lines;
    int m_count;
};

} // namespace

ResultListModel::ResultListModel(QObject* parent) : QAbstractListModel(parent) {
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(kShowIntervalMs);
    connect(&m_showTimer, &QTimer::timeout, this, &ResultListModel::Flush);
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shownCount;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_shownCount)
        return {};
    return LineText(index.row());
}

bool ResultListModel::Append(const LineBuffer& lines, const ReportRecords& records) {
    const std::size_t count = m_lines.Count();
    if (lines.Count() > kMaxLines - count ||
        !m_records.Append(records, static_cast<std::int64_t>(count)) || !m_lines.Append(lines))
        return false;
    for (std::size_t i = 0; i < lines.Count(); ++i)
        m_longestQueued = std::max(m_longestQueued, lines.Line(i).size());
    if (!m_showTimer.isActive())
        m_showTimer.start();
    return true;
}

bool ResultListModel::AppendLine(std::string_view line, LineKind kind) {
    LineBuffer one;
    return one.Append(line, kind) && Append(one);
}

void ResultListModel::Flush() {
    m_showTimer.stop();
    const auto total = static_cast<int>(m_lines.Count());
    if (total == m_shownCount)
        return;
    beginInsertRows(QModelIndex(), m_shownCount, total - 1);
    m_shownCount = total;
    endInsertRows();
    if (m_longestQueued > m_longestShown) {
        m_longestShown = m_longestQueued;
        Q_EMIT LongestLineChanged(m_longestShown);
    }
}

void ResultListModel::Clear() {
    m_showTimer.stop();
    beginResetModel();
    m_lines.Clear();
    m_records.Clear();
    m_shownCount = 0;
    m_longestQueued = 0;
    m_longestShown = 0;
    endResetModel();
}

std::string_view ResultListModel::Line(int index) const {
    if (index < 0 || index >= m_shownCount)
        return {};
    return m_lines.Line(static_cast<std::size_t>(index));
}

QString ResultListModel::LineText(int index) const {
    return LineAsText(Line(index));
}

LineKind ResultListModel::Kind(int index) const {
    if (index < 0 || index >= m_shownCount)
        return LineKind::InReport;
    return m_lines.Kind(static_cast<std::size_t>(index));
}

std::optional<KeptReport> ResultListModel::ReportAt(int index) const {
    if (index < 0 || index >= m_shownCount)
        return std::nullopt;
    int first = index;
    while (first > 0 && Kind(first) == LineKind::InReport)
        --first;
    if (Kind(first) != LineKind::ReportStart)
        return std::nullopt;
    return m_records.StartingAt(first);
}

std::unique_ptr<const ReportLines> ResultListModel::Copy() const {
    auto copy = std::make_unique<CopiedLines>(m_shownCount);
    return copy->Lines().Append(m_lines) ? std::move(copy) : nullptr;
}

bool ResultListModel::WriteLines(QIODevice& device, int first, int last) const {
    for (int i = std::max(first, 0); i <= last && i < m_shownCount; ++i) {
        const std::string_view line = Line(i);
        if (device.write(line.data(), static_cast<qint64>(line.size())) !=
                static_cast<qint64>(line.size()) ||
            !device.putChar('\n'))
            return false;
    }
    return true;
}

} // namespace kestrel
