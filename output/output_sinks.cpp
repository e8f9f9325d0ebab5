#include "output_sinks.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <openssl/evp.h>

#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

using Json = nlohmann::ordered_json;

std::string Rfc3339UtcTime(std::int64_t secondsSinceEpoch) {
    const auto seconds = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) == nullptr)
        return {};
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc));
}

// "major.minor" of a version held as two numbers.
std::string Dotted(unsigned major, unsigned minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

// "a.b.c.d" of a version held as two 32-bit halves.
std::string FourPartVersion(std::uint32_t ms, std::uint32_t ls) {
    return Dotted(ms >> 16, ms & 0xFFFF) + "." + Dotted(ls >> 16, ls & 0xFFFF);
}

template <typename T, typename Convert>
Json OrNull(const std::optional<T>& value, Convert convert) {
    return value ? convert(*value) : Json(nullptr);
}

Json Names(const std::vector<std::string>& names) {
    return Json(names);
}

Json VersionTables(const std::vector<VersionTable>& tables) {
    Json list = Json::array();
    for (const VersionTable& table : tables) {
        Json strings = Json::object();
        for (const auto& [key, value] : table.strings)
            strings[key] = value;
        list.push_back({{"language", table.language}, {"strings", std::move(strings)}});
    }
    return list;
}

Json FixedInfo(const FixedFileInfo& info) {
    return {
        {"file_version", FourPartVersion(info.fileVersionMs, info.fileVersionLs)},
        {"product_version", FourPartVersion(info.productVersionMs, info.productVersionLs)},
        {"flags_mask", info.flagsMask},
        {"flags", info.flags},
        {"os", info.os},
        {"type", info.type},
        {"subtype", info.subtype},
    };
}

Json PeHeader(const PeFacts& pe) {
    Json type = nullptr;
    if (pe.magic == 0x10B)
        type = "PE32";
    else if (pe.magic == 0x20B)
        type = "PE32+";
    return {
        {"machine", pe.machine},
        // 0 is the value of a linker told to leave the time out.
        {"timestamp",
         pe.timeDateStamp != 0 ? Json(Rfc3339UtcTime(pe.timeDateStamp)) : Json(nullptr)},
        {"characteristics", pe.characteristics},
        {"pe_type", type},
        {"linker_version", Dotted(pe.majorLinkerVersion, pe.minorLinkerVersion)},
        {"code_size", pe.sizeOfCode},
        {"initialized_data_size", pe.sizeOfInitializedData},
        {"uninitialized_data_size", pe.sizeOfUninitializedData},
        {"entry_point", pe.addressOfEntryPoint},
        {"os_version", Dotted(pe.majorOperatingSystemVersion, pe.minorOperatingSystemVersion)},
        {"image_version", Dotted(pe.majorImageVersion, pe.minorImageVersion)},
        {"subsystem_version", Dotted(pe.majorSubsystemVersion, pe.minorSubsystemVersion)},
        {"subsystem", pe.subsystem},
    };
}

Json NeHeader(const NeFacts& ne) {
    return {
        {"target_os", ne.targetOperatingSystem},
        {"expected_windows_version", Dotted(ne.expectedWindowsMajor, ne.expectedWindowsMinor)},
        {"linker_version", Dotted(ne.linkerMajor, ne.linkerMinor)},
    };
}

Json LxHeader(const LxFacts& lx) {
    return {
        {"cpu", lx.cpu},
        {"os", lx.os},
        {"module_type", lx.moduleType},
        {"bldlevel", OrNull(lx.buildLevel,
                            [](const BuildLevel& level) {
                                return Json{{"vendor", level.vendor},
                                            {"revision", level.revision},
                                            {"description", level.description}};
                            })},
    };
}

void WriteLine(std::string& out, const std::string& line, const char* end) {
    out += line;
    out += end;
}

} // namespace

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void TextSink::AddLine(const std::string& line) {
    WriteLine(m_out, line, "\n");
}

// --- the report object ---

std::string Rfc3339LocalTime(std::int64_t secondsSinceEpoch) {
    if (secondsSinceEpoch == QuillScan::kNoFileTime)
        return {};
    const auto seconds = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr)
        return {};
    char text[32];
    std::string time(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local));
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return time + text;
}

Json ReportObject(const ReportInfo& report, FileDigests* digests, const ReportProblem& problem) {
    const ScanRecord& r = report.record;
    const ScanFacts& facts = r.Facts;
    Json resStrings = Json::array();
    const int lastRow = std::min<std::int32_t>(r.ResStringCount, kResStringRows);
    for (int row = 1; row <= lastRow; ++row) {
        if (!r.ResKey(row).empty())
            resStrings.push_back({Cp1252ToUtf8(r.ResKey(row)), Cp1252ToUtf8(r.ResValue(row))});
    }
    const std::string path = SanitizeUtf8(report.directory + report.name);
    Json object = {
        {"directory", SanitizeUtf8(report.directory)},
        {"name", SanitizeUtf8(report.name)},
        {"size", report.size},
        {"modified", Rfc3339LocalTime(report.modifiedTime)},
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
        {"path", path},
        {"imports", OrNull(facts.imports, Names)},
        {"delay_imports", OrNull(facts.delayImports, Names)},
        {"embedded_in", OrNull(facts.embeddedIn,
                               [](const std::string& name) { return Json(SanitizeUtf8(name)); })},
        {"container",
         report.container != nullptr ? Json(SanitizeUtf8(*report.container)) : Json(nullptr)},
    };
    if (SanitizeUtf8(report.name) != report.name)
        object["name_bytes"] = Base64(report.name);
    object["version_tables"] = OrNull(facts.versionTables, VersionTables);
    object["fixed_file_info"] = OrNull(facts.fixedFileInfo, FixedInfo);
    object["pe"] = OrNull(facts.pe, PeHeader);
    object["ne"] = OrNull(facts.ne, NeHeader);
    object["lx"] = OrNull(facts.lx, LxHeader);
    object["packer"] = facts.packer ? Json(*facts.packer) : Json(nullptr);
    if (problem) {
        for (const std::string& limit : facts.limitsReached)
            problem(path, limit);
    }
    if (digests != nullptr) {
        // An embedded module is part of its container's file: the digests
        // are the file's, given with the file's own report.
        std::optional<std::vector<std::string>> values;
        if (!facts.embeddedIn) {
            values = digests->Finish(report.size);
            if (!values && problem)
                problem(path, "read error: the file could not be read to its end for its digest");
        }
        for (std::size_t i = 0; i < digests->Names().size(); ++i)
            object[digests->Names()[i]] = values ? Json((*values)[i]) : Json(nullptr);
    }
    return object;
}

void JsonSink::AddReport(const ReportInfo& report) {
    Json object = ReportObject(report, m_digests, m_problem);
    if (!m_madeBy.empty())
        object["made_by"] = m_madeBy;
    std::string record = EscapeDelAndC1(object.dump());
    if (!m_inFile)
        return WriteLine(m_out, record, "\n");
    if (!m_heldRecord.empty())
        WriteLine(m_out, m_heldRecord, "}\n");
    record.pop_back();
    m_heldRecord = std::move(record);
}

// Written by hand: --reuse writes it once for every file it copies.
// Written for every file, and again for every file --reuse looks up: built
// without the format parsing of printf.
std::string DiskFileMember(const DiskFile& file) {
    std::string member;
    member.reserve(128);
    const auto append = [&member](std::string_view name, auto value) {
        std::array<char, 24> digits{};
        member.append(name).append(digits.data(),
                                   std::to_chars(digits.begin(), digits.end(), value).ptr);
    };
    append("\"disk_file\":{\"inode\":", file.inode);
    append(",\"size\":", file.size);
    append(",\"mtime_ns\":", file.modifiedNs);
    append(",\"ctime_ns\":", file.changedNs);
    member += '}';
    return member;
}

void JsonSink::EndFile(const std::optional<DiskFile>& file) {
    if (!m_heldRecord.empty())
        WriteLine(m_out, m_heldRecord + "," + (file ? DiskFileMember(*file) : "\"disk_file\":null"),
                  "}\n");
    m_heldRecord.clear();
    m_inFile = false;
}

std::string EscapeDelAndC1(const std::string& json) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        // In UTF-8, U+0080 to U+009F are 0xC2 followed by 0x80 to 0x9F, and
        // 0xC2 is never a continuation byte.
        const bool c1 = byte == 0xC2 && i + 1 < json.size() &&
                        (static_cast<unsigned char>(json[i + 1]) & 0xE0) == 0x80;
        if (byte == 0x7F || c1) {
            const unsigned code = c1 ? static_cast<unsigned char>(json[++i]) : byte;
            escaped += "\\u00";
            escaped += kHex[code >> 4];
            escaped += kHex[code & 0xF];
        } else {
            escaped += json[i];
        }
    }
    return escaped;
}

// --- CSV ---

namespace {

// The scalar values of the report object, by JSON pointer; nested objects
// give their members' values.
constexpr std::array kCsvColumns = {
    "/directory",
    "/name",
    "/size",
    "/modified",
    "/exe_signature",
    "/hdr_name",
    "/hdr_description",
    "/hdr_version",
    "/hdr_date",
    "/hdr_long",
    "/hdr_imports",
    "/nw_version",
    "/nw_overlay",
    "/copyright_text",
    "/guess_text",
    "/res_strings",
    "/has_version_resource",
    "/path",
    "/imports",
    "/delay_imports",
    "/embedded_in",
    "/container",
    "/name_bytes",
    "/fixed_file_info/file_version",
    "/fixed_file_info/product_version",
    "/fixed_file_info/flags_mask",
    "/fixed_file_info/flags",
    "/fixed_file_info/os",
    "/fixed_file_info/type",
    "/fixed_file_info/subtype",
    "/pe/machine",
    "/pe/timestamp",
    "/pe/characteristics",
    "/pe/pe_type",
    "/pe/linker_version",
    "/pe/code_size",
    "/pe/initialized_data_size",
    "/pe/uninitialized_data_size",
    "/pe/entry_point",
    "/pe/os_version",
    "/pe/image_version",
    "/pe/subsystem_version",
    "/pe/subsystem",
    "/ne/target_os",
    "/ne/expected_windows_version",
    "/ne/linker_version",
    "/lx/cpu",
    "/lx/os",
    "/lx/module_type",
    "/lx/bldlevel/vendor",
    "/lx/bldlevel/revision",
    "/lx/bldlevel/description",
    "/packer",
};

// A value as CSV text: a list of texts joined with "; ", a list of
// [key, value] pairs as "key=value" items; null and a missing value empty.
std::string CsvText(const Json& value) {
    if (value.is_null())
        return {};
    if (value.is_string())
        return value.get<std::string>();
    if (!value.is_array())
        return value.dump();
    std::string text;
    for (const Json& item : value) {
        if (!text.empty())
            text += "; ";
        if (item.is_array() && item.size() == 2)
            text += item[0].get<std::string>() + "=" + item[1].get<std::string>();
        else
            text += CsvText(item);
    }
    return text;
}

} // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

CsvSink::CsvSink(std::string& out, FileDigests* digests, ReportProblem problem)
    : m_out(out), m_digests(digests), m_problem(std::move(problem)),
      m_columns(kCsvColumns.begin(), kCsvColumns.end()) {
    if (m_digests != nullptr) {
        for (const std::string& name : m_digests->Names())
            m_columns.push_back("/" + name);
    }
}

std::string CsvSink::HeaderRow() const {
    std::string row;
    for (const std::string& column : m_columns) {
        std::string name = column.substr(1);
        std::replace(name.begin(), name.end(), '/', '.');
        if (!row.empty())
            row += ',';
        row += CsvField(name);
    }
    return row;
}

void CsvSink::AddReport(const ReportInfo& report) {
    const Json object = ReportObject(report, m_digests, m_problem);
    std::string row;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const Json::json_pointer pointer(m_columns[i]);
        if (i != 0)
            row += ',';
        // A cell reaches a terminal as a report line does: no control character.
        if (object.contains(pointer))
            row += CsvField(ReplaceControlCharacters(CsvText(object.at(pointer))));
    }
    WriteLine(m_out, row, "\r\n");
}

} // namespace kestrel
