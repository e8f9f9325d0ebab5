#include "output_sinks.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "text.h"

namespace kestrel {

void TextSink::AddLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fputc('\n', m_out);
}

void JsonSink::AddReport(const ReportInfo& report) {
    const ScanRecord& r = report.record;
    nlohmann::ordered_json resStrings = nlohmann::ordered_json::array();
    const int lastRow = std::min<std::int32_t>(r.ResStringCount, kResStringRows);
    for (int row = 1; row <= lastRow; ++row) {
        if (!r.ResKey(row).empty())
            resStrings.push_back({Cp1252ToUtf8(r.ResKey(row)), Cp1252ToUtf8(r.ResValue(row))});
    }
    nlohmann::ordered_json object = {
        {"directory", SanitizeUtf8(report.directory)},
        {"name", SanitizeUtf8(report.name)},
        {"size", report.size},
        {"modified", report.modified},
        {"exe_signature", Cp1252ToUtf8(r.ExeSignature)},
        {"hdr_name", Cp1252ToUtf8(r.HdrName)},
        {"hdr_description", Cp1252ToUtf8(r.HdrDescription)},
        {"hdr_version", Cp1252ToUtf8(r.HdrVersion)},
        {"hdr_date", Cp1252ToUtf8(r.HdrDate)},
        {"hdr_long", Cp1252ToUtf8(r.HdrLong)},
        {"hdr_imports", Cp1252ToUtf8(r.HdrImports)},
        {"nw_version", Cp1252ToUtf8(r.NwVersion)},
        {"nw_overlay", Cp1252ToUtf8(r.NwOverlay)},
        {"copyright_text", Cp1252ToUtf8(r.CopyrightText)},
        {"guess_text", Cp1252ToUtf8(r.GuessText)},
        {"res_strings", std::move(resStrings)},
        {"has_version_resource", r.HasVersionResource},
    };
    const std::string line = object.dump();
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fputc('\n', m_out);
}

} // namespace kestrel
