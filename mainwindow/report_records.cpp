#include "report_records.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "output_sinks.h"

namespace kestrel {

KeptReport RecordKeeper::Keep(const ReportInfo& report) {
    KeptReport kept;
    kept.where = {report.directory, report.name,
                  report.container != nullptr ? *report.container : std::string(),
                  report.record.Facts.embeddedIn.value_or(std::string())};
    kept.size = report.size;
    kept.modifiedTime = report.modifiedTime;
    if (report.container == nullptr || m_left == 0)
        return kept;
    // Written as kestrel-scan writes it, so that what is copied from the
    // Details window is the same text.
    kept.record = EscapeDelAndC1(ReportObject(report, nullptr, {}).dump());
    if (kept.record.size() > m_left) {
        // Past the budget nothing more is kept, so the kept ones are the first.
        kept.record.clear();
        m_left = 0;
    } else {
        m_left -= kept.record.size();
    }
    return kept;
}

bool ReportRecords::Add(std::int64_t firstLine, const KeptReport& report) {
    std::string packed;
    for (const std::string& text :
         {report.where.directory, report.where.name, report.where.container,
          report.where.embeddedIn, std::to_string(report.size),
          std::to_string(report.modifiedTime)}) {
        packed += text;
        packed += '\0';
    }
    packed += report.record;
    return AddPacked(firstLine, packed.data(), packed.size());
}

bool ReportRecords::AddPacked(std::int64_t firstLine, const char* text, std::size_t size) {
    const Entry entry{firstLine, m_text.Size(), size};
    if (!m_text.Append(text, size))
        return false;
    if (!m_entries.Append(entry)) {
        m_text.Truncate(entry.start);
        return false;
    }
    return true;
}

bool ReportRecords::Append(const ReportRecords& records, std::int64_t lineOffset) {
    const std::size_t count = Count();
    const std::size_t textSize = m_text.Size();
    for (std::size_t i = 0; i < records.Count(); ++i) {
        const Entry& entry = records.m_entries.Data()[i];
        if (!AddPacked(entry.firstLine + lineOffset, records.m_text.Data() + entry.start,
                       entry.size)) {
            m_entries.Truncate(count);
            m_text.Truncate(textSize);
            return false;
        }
    }
    return true;
}

std::optional<KeptReport> ReportRecords::StartingAt(std::int64_t firstLine) const {
    const Entry* begin = m_entries.Data();
    const Entry* end = begin + Count();
    const Entry* found =
        std::lower_bound(begin, end, firstLine, [](const Entry& entry, std::int64_t line) {
            return entry.firstLine < line;
        });
    if (found == end || found->firstLine != firstLine)
        return std::nullopt;
    std::string_view packed(m_text.Data() + found->start, found->size);
    const auto take = [&packed] {
        const std::size_t cut = packed.find('\0');
        const std::string_view text = packed.substr(0, cut);
        packed.remove_prefix(cut + 1);
        return text;
    };
    KeptReport report;
    for (std::string* text : {&report.where.directory, &report.where.name, &report.where.container,
                              &report.where.embeddedIn})
        *text = take();
    for (std::int64_t* number : {&report.size, &report.modifiedTime}) {
        const std::string_view digits = take();
        std::from_chars(digits.data(), digits.data() + digits.size(), *number);
    }
    report.record = packed;
    return report;
}

void ReportRecords::Clear() {
    m_text.Release();
    m_entries.Release();
}

} // namespace kestrel
