#include "report_files.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QIODevice>

#include "output_sinks.h"

namespace kestrel {

namespace {

struct FileType {
    ReportFileFormat format;
    const char* filter;
    const char* suffix;
};

constexpr FileType kFileTypes[] = {
    {ReportFileFormat::Text, "Text report (*.txt)", "txt"},
    {ReportFileFormat::Csv, "CSV, a row a report (*.csv)", "csv"},
    {ReportFileFormat::JsonLines, "JSON Lines, a record a report (*.jsonl)", "jsonl"},
};

bool WriteAll(QIODevice& device, std::string_view bytes) {
    return device.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
}

} // namespace

SaveChoice AskReportFileName(QWidget* parent, const QString& suggested) {
    QStringList filters;
    for (const FileType& type : kFileTypes)
        filters << QString::fromLatin1(type.filter);
    QString chosen = filters.first();
    SaveChoice choice;
    choice.name = QFileDialog::getSaveFileName(parent, QStringLiteral("Save Report As"), suggested,
                                               filters.join(QStringLiteral(";;")), &chosen);
    const FileType& type = kFileTypes[std::max<qsizetype>(filters.indexOf(chosen), 0)];
    choice.format = type.format;
    if (!choice.name.isEmpty() && QFileInfo(choice.name).suffix().isEmpty())
        choice.name += u'.' + QString::fromLatin1(type.suffix);
    return choice;
}

bool SavedReports::Append(std::string_view jsonLines) {
    return m_bytes.Append(jsonLines.data(), jsonLines.size());
}

bool SavedReports::WriteJsonLines(QIODevice& device) const {
    return WriteAll(device, std::string_view(m_bytes.Data(), m_bytes.Size()));
}

// Each record read back gives the row kestrel-scan --csv writes for its report.
bool SavedReports::WriteCsv(QIODevice& device) const {
    std::string unused;
    const CsvSink csv(unused);
    if (!WriteAll(device, csv.HeaderRow() + "\r\n"))
        return false;
    const std::string_view records(m_bytes.Data(), m_bytes.Size());
    for (std::size_t start = 0; start < records.size();) {
        const std::size_t end = std::min(records.find('\n', start), records.size());
        const auto object =
            nlohmann::ordered_json::parse(records.substr(start, end - start), nullptr, false);
        if (object.is_discarded() || !WriteAll(device, csv.Row(object) + "\r\n"))
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace kestrel
