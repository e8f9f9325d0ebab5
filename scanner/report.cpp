// The scan record and the report composer: the record's lines in the result
// list, labelled, wrapped to 79 columns and grouped under the hide switches,
// or one line per file in the brief format.

#include <algorithm>
#include <ctime>
#include <optional>

#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

constexpr std::size_t kNameColumns = 18;   // the name column of every report
constexpr std::size_t kSizeColumns = 13;   // the size column of the header line
constexpr std::int64_t kLineColumns = 79;  // labelled lines never grow wider
constexpr std::size_t kBriefTextMax = 60;  // brief texts taken from markers and resources
constexpr std::size_t kVersionColumn = 11; // the brief version token ends here
const std::string kLabelIndent(19, ' ');

bool IsEmbeddedModuleName(const std::string& name) {
    return !name.empty() && name[0] == '*';
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The label of a version resource key beyond the ten known ones: " R", the
// key, padded or cut so the colon always stands in column 19.
std::string ExtraKeyLabel(const std::string& key) {
    std::string label = " R" + key;
    label.resize(kNameColumns, ' ');
    return label + ":";
}

} // namespace

std::string FormatIsoLocalTime(std::int64_t secondsSinceEpoch) {
    const auto seconds = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr)
        return {};
    char text[32];
    const bool midnight = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0;
    const char* format = midnight ? "%Y-%m-%d" : "%Y-%m-%d %H:%M:%S";
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

QuillScan::QuillScan(ReportSink& sink, ReportLayout layout, ReportLocale locale)
    : Layout(layout), Locale(std::move(locale)), m_sink(sink) {}

void QuillScan::ClearScanRecord() {
    Record = ScanRecord{};
}

namespace {

// Bytes that stand for no character of a name: the controls, DEL and the five
// codes the code page leaves undefined.
bool IsPrintableByte(char c) {
    const auto code = static_cast<std::uint8_t>(c);
    return code >= 0x20 && code != 0x7F && code != 0x81 && code != 0x8D && code != 0x8F &&
           code != 0x90 && code != 0x9D;
}

// A limit is said once per file, however often it is met.
void SayLimitOnce(ScanFacts& facts, const std::string& text) {
    if (std::ranges::find(facts.limitsReached, text) == facts.limitsReached.end())
        facts.limitsReached.push_back(text);
}

} // namespace

bool AddImportedModule(ScanFacts& facts, std::vector<std::string>& modules, std::string name) {
    if (!std::ranges::all_of(name, IsPrintableByte)) {
        SayLimitOnce(facts, "an imported module name that is not printable text: the list ends "
                            "before it");
        return false;
    }
    if (std::ssize(name) > kMaxModuleNameBytes) {
        name.resize(kMaxModuleNameBytes);
        SayLimitOnce(facts, "an imported module name longer than " +
                                std::to_string(kMaxModuleNameBytes) + " bytes: cut");
    }
    if (!name.empty())
        modules.push_back(Cp1252ToUtf8(name));
    return true;
}

std::string QuillScan::FileTimeText() const {
    if (FileTime() == kNoFileTime || !Locale.formatFileTime)
        return {};
    return Locale.formatFileTime(FileTime());
}

std::string QuillScan::SizeColumn(std::int64_t size) const {
    // Grouped in threes; the pattern prints no digit at all for 0.
    std::string digits;
    const bool negative = size < 0;
    auto magnitude =
        negative ? 0 - static_cast<std::uint64_t>(size) : static_cast<std::uint64_t>(size);
    int group = 0;
    std::string reversed;
    while (magnitude > 0) {
        if (group == 3) {
            reversed.append(Locale.groupSeparator.rbegin(), Locale.groupSeparator.rend());
            group = 0;
        }
        reversed += static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        ++group;
    }
    if (negative)
        reversed += '-';
    digits.assign(reversed.rbegin(), reversed.rend());
    const std::size_t width = Utf8Length(digits);
    if (width < kSizeColumns)
        digits.insert(0, kSizeColumns - width, ' ');
    return digits;
}

void QuillScan::AddListLine(const std::string& line) {
    m_sink.AddLine(ReplaceControlCharacters(line));
}

// The text after the name column of a brief line, in code page 1252 (empty
// when the line is the name alone), or nothing when the record holds no text
// a brief line could show.
std::optional<std::string> QuillScan::BriefText() const {
    const ScanRecord& r = Record;
    if (!r.HdrVersion.empty()) {
        std::string text = r.HdrVersion + " " + r.HdrDescription;
        return PadVersionColumn(text);
    }
    if (!r.NwVersion.empty()) {
        std::int64_t position = 1;
        std::string text = NextTextLine(r.NwVersion, position).substr(0, kBriefTextMax);
        PrintableText(text);
        return PadVersionColumn(text);
    }
    if (!r.ResValue(2).empty()) {
        std::string text = (r.ResValue(2) + " " + r.ResValue(1)).substr(0, kBriefTextMax);
        return PadVersionColumn(text);
    }
    if (!r.GuessText.empty()) {
        std::int64_t position = 1;
        std::string text = NextTextLine(r.GuessText, position);
        PrintableText(text);
        if (text.empty())
            return std::string();
        text = text.substr(0, kBriefTextMax);
        return std::string(12, ' ') + PrintableText(text) + " ?";
    }
    return std::nullopt;
}

void QuillScan::ComposeReport(const std::string& directoryPath, const std::string& name,
                              std::int64_t size) {
    // A digest sees every byte of the file before the file's first report.
    if (!ObserveRestOfFile())
        return; // stopped on the way: no report
    const ScanRecord& r = Record;
    const bool embedded = IsEmbeddedModuleName(name);
    const std::string modified = embedded ? std::string() : FileTimeText();
    const std::string nameColumn = Utf8PadOrCut(SanitizeUtf8(name), kNameColumns);

    if (Layout.brief) {
        const std::optional<std::string> text = BriefText();
        if (text)
            AddListLine(nameColumn + Cp1252ToUtf8(*text));
        else
            AddListLine(nameColumn + std::string(12, ' ') + "Unknown. " + modified);
    } else {
        AddListLine(nameColumn + " " + Cp1252ToUtf8(r.ExeSignature) + " " + SizeColumn(size) + " " +
                    modified);
        if (!Layout.hideVersion) {
            EmitLabelledValue(" NWVersion        :", r.NwVersion);
            EmitLabelledValue(" HDescription     :", r.HdrDescription);
            EmitLabelledValue(" HVersion         :", r.HdrVersion);
            EmitLabelledValue(" HLong            :", r.HdrLong);
            EmitLabelledValue(" HDate            :", r.HdrDate);
            EmitLabelledValue(" RFileDescription :", r.ResValue(1));
            EmitLabelledValue(" RFileVersion     :", r.ResValue(2));
            EmitLabelledValue(" RProductName     :", r.ResValue(3));
            EmitLabelledValue(" RProductVersion  :", r.ResValue(4));
        }
        if (!Layout.hideImports) {
            EmitLabelledValue(" HImport          :", AsciiLower(r.HdrImports));
            EmitLabelledValue(" NWOverlay        :", r.NwOverlay);
        }
        if (!Layout.hideCompany) {
            EmitLabelledValue(" Copyright        :", r.CopyrightText);
            EmitLabelledValue(" RCompany Name    :", r.ResValue(6));
            EmitLabelledValue(" RLegalCopyright  :", r.ResValue(5));
            EmitLabelledValue(" RLegalTrademarks :", r.ResValue(7));
        }
        if (!Layout.hideProgrammer) {
            EmitLabelledValue(" HName            :", r.HdrName);
            EmitLabelledValue(" RInternalName    :", r.ResValue(8));
            EmitLabelledValue(" ROriginalFilename:", r.ResValue(9));
            EmitLabelledValue(" RComments        :", r.ResValue(10));
            const int lastRow = std::min<std::int32_t>(r.ResStringCount, kResStringRows);
            for (int row = kResStringKnownRows + 1; row <= lastRow; ++row)
                EmitLabelledValue(ExtraKeyLabel(r.ResKey(row)), r.ResValue(row));
        }
        if (r.NwVersion.empty() && r.HdrDescription.empty())
            EmitLabelledValue(" ??Guess          :", r.GuessText);
    }
    m_sink.AddReport(ReportInfo{r, directoryPath, name, size, modified,
                                embedded ? kNoFileTime : FileTime(), m_container});
}

void QuillScan::EmitLabelledValue(const std::string& label, const std::string& value) {
    const std::string convertedLabel = Cp1252ToUtf8(label);
    const auto width = kLineColumns - static_cast<std::int64_t>(label.size());
    std::int64_t position = 1;
    while (position != 0) {
        std::string line = NextTextLine(value, position);
        PrintableText(line);
        std::string piece = TakeWrappedPiece(line, width);
        if (piece.empty())
            continue;
        AddListLine(convertedLabel + piece);
        while (!(piece = TakeWrappedPiece(line, width)).empty())
            AddListLine(kLabelIndent.substr(0, label.size()) + piece);
    }
}

std::string NextTextLine(const std::string& text, std::int64_t& position) {
    const auto length = static_cast<std::int64_t>(text.size());
    const std::int64_t start = std::max<std::int64_t>(position, 1) - 1; // 0-based
    const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    std::int64_t i = start;
    while (i < length && !isBreak(text[static_cast<std::size_t>(i)]))
        ++i;
    std::string line;
    if (start < length)
        line = text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
    if (i >= length) {
        position = 0;
    } else if (i + 1 < length && isBreak(text[static_cast<std::size_t>(i + 1)])) {
        position = i + 3; // a pair of break characters is one break
    } else {
        position = i + 2;
    }
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    return line.size() < 3 ? std::string() : line;
}

std::string QuillScan::PrintableText(std::string& text) {
    for (char& c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 33 || code > 126)
            c = ' ';
    }
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        text.clear();
    else
        text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    return text;
}

std::string QuillScan::TakeWrappedPiece(std::string& text, std::int64_t width) {
    if (static_cast<std::int64_t>(text.size()) <= width) {
        std::string piece;
        piece.swap(text);
        return piece;
    }
    for (std::int64_t i = width; i >= 1; --i) {
        const char c = text[static_cast<std::size_t>(i - 1)];
        if (c == ' ' || c == ',') {
            std::string piece = text.substr(0, static_cast<std::size_t>(i));
            text.erase(0, static_cast<std::size_t>(i));
            return piece;
        }
    }
    return {};
}

std::string QuillScan::PadVersionColumn(std::string& text) {
    enum class Last { None, Digit, FullStop, Comma };
    Last last = Last::None;
    std::size_t commaMark = 0;
    std::size_t length = 0;
    for (; length < text.size(); ++length) {
        const char c = text[length];
        if (c >= '0' && c <= '9') {
            last = Last::Digit;
        } else if (c == '.') {
            last = Last::FullStop;
        } else if (c == ',') {
            commaMark = length;
            last = Last::Comma;
        } else if (c == ' ' && last == Last::Comma) {
            continue;
        } else if (IsAsciiLetter(c) && last == Last::Comma) {
            length = commaMark;
            break;
        } else if (IsAsciiLetter(c) && last == Last::Digit) {
            continue;
        } else {
            break;
        }
    }
    if (length == 0)
        text.insert(0, 12, ' ');
    else if (length < kVersionColumn)
        text.insert(0, kVersionColumn - length, ' ');
    return text;
}

} // namespace kestrel
