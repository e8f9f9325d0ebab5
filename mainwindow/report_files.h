#pragma once

#include <string_view>

#include <QString>

#include "line_buffer.h"

class QIODevice;
class QWidget;

namespace kestrel {

// What Save Report As writes: the text of the result list, or its reports as
// kestrel-scan writes them with --csv or --json over the same folder with
// the same options.
enum class ReportFileFormat { Text, Csv, JsonLines };

struct SaveChoice {
    QString name; // empty: cancelled
    ReportFileFormat format = ReportFileFormat::Text;
};

// The save dialog, with a file type for each format. A name given without a
// suffix takes the type's.
SaveChoice AskReportFileName(QWidget* parent, const QString& suggested);

// The reports of a search as JSON Lines, a record a line, as they came.
class SavedReports {
public:
    // False, and nothing kept, when the memory cannot be had.
    bool Append(std::string_view jsonLines);
    void Clear() { m_bytes.Release(); }
    // False when the device refused a write.
    bool WriteJsonLines(QIODevice& device) const;
    // The header row, then a row a report, each ended by CR LF.
    bool WriteCsv(QIODevice& device) const;

private:
    GrowingArray<char> m_bytes;
};

} // namespace kestrel
