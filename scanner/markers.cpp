// Embedded "VeRsIoN=", "OvErLaY=" and "CoPyRiGhT=" markers and version-like text.
//
// NetWare-aware DOS programs, overlays and drivers carry their version, overlay
// and copyright texts behind fixed markers, in 8-bit or 16-bit characters. The
// whole file is read in overlapping blocks and every block is searched for the
// three markers; as long as no version marker turned up, every printable line
// that holds a short version-like number (3.12, V2.0a) is kept as a guess.

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quill_scan.h"
#include "text.h"

namespace kestrel {

namespace {

// The file is read in blocks of this size, each overlapping the last by a
// little more than the longest marker with its value's first line, so a
// marker or a version line that straddles two blocks is seen whole in one.
constexpr std::int64_t kMarkerBlockSize = 8192;
constexpr std::int64_t kBlockOverlap = 256;

constexpr std::string_view kVersionMarker = "VeRsIoN=";
constexpr std::string_view kOverlayMarker = "OvErLaY=";
constexpr std::string_view kCopyrightMarker = "CoPyRiGhT=";
// A version value that runs on into the copyright marker is cut before it.
constexpr std::string_view kCopyrightWord = "CoPyRiGhT";

// A version-like number has one or two digits before the dot and one to four
// after it: 3.12, 4.10a, 12.3456.
constexpr std::int64_t kMaxDigitsBeforeDot = 2;
constexpr std::int64_t kMaxDigitsAfterDot = 4;

// Lines that hold a version-like number but are system requirements, sizes,
// printer settings or tool banners rather than a program's own version.
constexpr std::array<std::string_view, 31> kGuessFilterWords = {
    "requir",   "dos",      " in ", "8088 macro ", "asm86.86", " must ", "detected", "later",
    " than ",   "nwasmlib", " you", " is ",        " does ",   " take ", " mb",      " with ",
    "cpi",      "..",       "khz",  " x ",         "tc86 bor", " lpi",   " lpp",     "oint exch",
    "findfont", "gsave ",   "pt.",  "1.2m",        "1.4m",     "1.44m",  "pitch"};

bool IsDigit(std::int32_t code) {
    return code >= '0' && code <= '9';
}

bool IsLetter(std::int32_t code) {
    return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
}

// Tab and the printable ASCII characters.
bool IsPrintable(std::int32_t code) {
    return code == '\t' || (code >= ' ' && code <= '~');
}

// What may stand right before a version-like number: the start of a string or
// line, white space, a colon, or the "V" of V3.12.
bool IsNumberLead(std::int32_t code) {
    return code == 0 || code == '\t' || code == '\n' || code == '\r' || code == ' ' ||
           code == ':' || code == 'V' || code == 'v';
}

// What may stand right after it (after an optional letter, as in 4.10a).
bool IsNumberEnd(std::int32_t code) {
    return code == 0 || code == '\t' || code == '\n' || code == '\r' || code == ' ' ||
           code == ')' || code == ',' || code == '.';
}

// The printable line around a version-like number: the index of its first and
// of its last character in the block (for 16-bit text, of the character's
// first byte).
struct LineExtent {
    std::int64_t first;
    std::int64_t last;
};

// The number whose dot is the byte at `dot`, in 8-bit characters.
std::optional<LineExtent> NarrowVersionLine(std::span<const std::uint8_t> block, std::int64_t dot) {
    const std::int64_t end = std::ssize(block) - 1; // the last index
    if (dot < 0 || dot > end)
        return std::nullopt;
    const auto at = [&](std::int64_t i) -> std::int32_t {
        return block[static_cast<std::size_t>(i)];
    };
    // The digit runs are followed no further than one digit past their limit.
    std::int64_t left = dot;
    while (left > 0 && IsDigit(at(left - 1)) && dot - left <= kMaxDigitsBeforeDot)
        --left;
    std::int64_t right = dot;
    while (right < end && IsDigit(at(right + 1)) && right - dot <= kMaxDigitsAfterDot)
        ++right;
    if (left == dot || right == dot)
        return std::nullopt;
    if (dot - left > kMaxDigitsBeforeDot || right - dot > kMaxDigitsAfterDot || left == 0 ||
        right >= end - 2)
        return std::nullopt;
    if (!IsNumberLead(at(left - 1)))
        return std::nullopt;
    if (IsLetter(at(right + 1)))
        ++right;
    if (!IsNumberEnd(at(right + 1)))
        return std::nullopt;
    while (left > 0 && IsPrintable(at(left - 1)))
        --left;
    while (right < end && IsPrintable(at(right + 1)))
        ++right;
    return LineExtent{left, right};
}

// The same in 16-bit little-endian characters, `dot` being the dot's first
// byte. A character that does not lie wholly inside the block reads as -1,
// which is none of the characters looked for: a number next to either end of
// the block is rejected, and a line is widened no further than the block.
std::optional<LineExtent> WideVersionLine(std::span<const std::uint8_t> block, std::int64_t dot) {
    const std::int64_t end = std::ssize(block) - 1;
    if (dot < 0 || dot + 1 > end)
        return std::nullopt;
    const auto at = [&](std::int64_t i) -> std::int32_t {
        if (i < 0 || i + 1 > end)
            return -1;
        return block[static_cast<std::size_t>(i)] | block[static_cast<std::size_t>(i + 1)] << 8;
    };
    std::int64_t left = dot;
    while (left > 1 && IsDigit(at(left - 2)) && dot - left <= 2 * kMaxDigitsBeforeDot)
        left -= 2;
    std::int64_t right = dot;
    while (right < end - 1 && IsDigit(at(right + 2)) && right - dot <= 2 * kMaxDigitsAfterDot)
        right += 2;
    if (left == dot || right == dot)
        return std::nullopt;
    if (dot - left > 2 * kMaxDigitsBeforeDot || right - dot > 2 * kMaxDigitsAfterDot || left == 0 ||
        right >= end - 2)
        return std::nullopt;
    if (!IsNumberLead(at(left - 2)))
        return std::nullopt;
    if (IsLetter(at(right + 2)))
        right += 2;
    if (!IsNumberEnd(at(right + 2)))
        return std::nullopt;
    while (left > 1 && IsPrintable(at(left - 2)))
        left -= 2;
    while (right < end - 1 && IsPrintable(at(right + 2)))
        right += 2;
    return LineExtent{left, right};
}

// A first character whose code is the length of the rest is the length byte
// of a length-prefixed string, not text.
void DropLengthByte(std::string& text) {
    if (!text.empty() &&
        static_cast<std::size_t>(static_cast<unsigned char>(text[0])) == text.size() - 1)
        text.erase(0, 1);
}

void TrimSpaces(std::string& text) {
    text.erase(text.find_last_not_of(' ') + 1);
    text.erase(0, text.find_first_not_of(' '));
}

std::string VersionLineText(const FileReader& scan, const LineExtent& line, bool wide) {
    std::string text = wide ? scan.BufWideString(line.first, line.last - line.first + 2)
                            : scan.BufChars(line.first, line.last - line.first + 1);
    DropLengthByte(text);
    TrimSpaces(text);
    return text;
}

// The guesses of one file: each line once, in the order found, each ended by
// a carriage return and a line feed. A guess that already stands anywhere in
// the collection (the same line again, the part of a line that the edge of a
// block cut off, or any other part of an earlier line) is not added.
//
// A file may hold thousands of version-like lines, so the collection is not
// searched from end to end for every guess. A guess holds no line break, so
// it can stand in the collection only inside one of its lines, and only in a
// line that holds every four-character piece of the guess: the lines are
// indexed by their pieces, and a guess is compared with the lines of its
// rarest piece alone. A line seen before is known at once by its text.
class GuessCollection {
public:
    void Add(const std::string& guess) {
        if (guess.empty() || m_lineSet.contains(guess) || Contains(guess) || HasFilterWord(guess))
            return;
        const auto number = static_cast<std::uint32_t>(m_lines.size());
        const std::string& line = m_lines.emplace_back(guess);
        m_lineSet.insert(line);
        for (std::size_t i = 0; i + kPieceLength <= line.size(); ++i) {
            std::vector<std::uint32_t>& lines = m_linesByPiece[PieceAt(line, i)];
            if (lines.empty() || lines.back() != number)
                lines.push_back(number);
        }
        m_text += line;
        m_text += "\r\n";
    }

    const std::string& Text() const { return m_text; }

private:
    using Piece = std::uint32_t;

    bool HasFilterWord(const std::string& guess) {
        m_lower.resize(guess.size());
        std::ranges::transform(guess, m_lower.begin(), AsciiLowerChar);
        return std::any_of(
            kGuessFilterWords.begin(), kGuessFilterWords.end(),
            [&](std::string_view word) { return m_lower.find(word) != std::string::npos; });
    }

    static constexpr std::size_t kPieceLength = sizeof(Piece);

    static Piece PieceAt(std::string_view text, std::size_t i) {
        Piece piece = 0;
        for (std::size_t k = 0; k < kPieceLength; ++k)
            piece = piece << 8 | static_cast<unsigned char>(text[i + k]);
        return piece;
    }

    // Whether the guess stands anywhere in the collection.
    bool Contains(std::string_view guess) const {
        if (guess.size() < kPieceLength || guess.find_first_of("\r\n") != std::string::npos)
            return m_text.find(guess) != std::string::npos;
        const std::vector<std::uint32_t>* rarest = nullptr;
        for (std::size_t i = 0; i + kPieceLength <= guess.size(); ++i) {
            const auto found = m_linesByPiece.find(PieceAt(guess, i));
            if (found == m_linesByPiece.end())
                return false;
            if (rarest == nullptr || found->second.size() < rarest->size())
                rarest = &found->second;
            if (rarest->size() == 1)
                break; // no piece can narrow it down further
        }
        return std::any_of(rarest->begin(), rarest->end(), [&](std::uint32_t line) {
            return m_lines[line].find(guess) != std::string::npos;
        });
    }

    std::string m_text;
    std::deque<std::string> m_lines;                // the guesses added, in order
    std::unordered_set<std::string_view> m_lineSet; // the same, by their text
    std::unordered_map<Piece, std::vector<std::uint32_t>> m_linesByPiece;
    std::string m_lower; // the guess being filtered, in lower case, kept to spare allocations
};

// Every version-like line of the block last read.
void CollectGuesses(const FileReader& scan, GuessCollection& guesses) {
    const std::span<const std::uint8_t> block(scan.Block());
    std::int64_t position = scan.BufFind(1, ".");
    while (position != 0) {
        const bool wide = position < 0;
        position = std::abs(position);
        const std::optional<LineExtent> line =
            wide ? WideVersionLine(block, position - 1) : NarrowVersionLine(block, position - 1);
        if (line) {
            guesses.Add(VersionLineText(scan, *line, wide));
            // Any other number on the same line widens to the same line and
            // gives the same guess again: the search goes on after the line.
            position = std::max(position, line->last);
        }
        position = scan.BufFind(position + 1, ".");
    }
}

// The value behind the first occurrence of `marker` in the block, or nothing
// when the block holds none or its value is too short to be one.
std::optional<std::string> MarkerValue(const FileReader& scan, std::string_view marker) {
    const std::int64_t hit = scan.BufFind(1, marker);
    const std::int64_t markerLength = std::ssize(marker);
    if (hit > 0) {
        // 8-bit: the value follows as zero-terminated text; its first line counts.
        std::string value = scan.BufZString(hit + markerLength);
        if (value.size() <= 2)
            return std::nullopt;
        if (marker == kVersionMarker) {
            DropLengthByte(value);
        } else if (marker == kCopyrightMarker) {
            // A length byte before a notice that starts with "Copy" or "(C)".
            if (AsciiUpper(value.substr(1, 4)) == "COPY" || AsciiUpper(value.substr(1, 3)) == "(C)")
                value.erase(0, 1);
        }
        std::int64_t position = 1;
        std::string line = NextTextLine(value, position);
        if (marker == kVersionMarker) {
            const std::size_t copyright = line.find(kCopyrightWord);
            if (copyright != std::string::npos)
                line.erase(copyright);
        }
        return line;
    }
    // 16-bit: the count before the marker counts its characters and the value's.
    const std::int64_t first = -hit - 1;
    if (hit < 0 && first >= 2) {
        const std::int64_t count = scan.BufWord(first - 2);
        return scan.BufWideString(first + 2 * markerLength, 2 * (count - markerLength));
    }
    return std::nullopt;
}

} // namespace

std::string QuillScan::SplitCopyrightText(std::string& text) {
    const std::string upper = AsciiUpper(text);
    std::size_t notice = upper.find("(C)");
    if (notice == std::string::npos)
        notice = upper.find(" C ");
    const std::size_t start = std::min(notice, upper.find("COPYRIGHT"));
    if (start == std::string::npos)
        return Record.CopyrightText;
    Record.CopyrightText = text.substr(start);
    text.erase(start);
    if (!text.empty())
        return Record.CopyrightText;

    // The notice opens the text: it keeps its first line, the rest goes back.
    std::string& copyright = Record.CopyrightText;
    const std::size_t lineEnd = copyright.find_first_of("\r\n");
    if (lineEnd != std::string::npos) {
        std::size_t rest = lineEnd + 1;
        if (copyright[lineEnd] == '\r' && rest < copyright.size() && copyright[rest] == '\n')
            ++rest;
        text = copyright.substr(rest);
        std::int64_t position = 1;
        copyright = NextTextLine(copyright, position);
    }
    return Record.CopyrightText;
}

void QuillScan::ScanMarkers(const std::string& directoryPath, const std::string& fileName) {
    GuessCollection guesses;
    std::int64_t offset = 0;
    SeekScanFile(offset, 0);
    ReadBlock(kMarkerBlockSize);
    // The first block is searched however short the file; a later block only
    // when it holds more than the bytes the previous one already had.
    do {
        if (std::optional<std::string> value = MarkerValue(*this, kVersionMarker))
            Record.NwVersion = std::move(*value);
        if (std::optional<std::string> value = MarkerValue(*this, kOverlayMarker))
            Record.NwOverlay = std::move(*value);
        if (std::optional<std::string> value = MarkerValue(*this, kCopyrightMarker))
            Record.CopyrightText = std::move(*value);
        if (Record.NwVersion.empty())
            CollectGuesses(*this, guesses);
        // A whole file may be gigabytes long: a stop asked for by the front
        // end is honoured between blocks, and the file then gets no report.
        if (StopRequested())
            return;
        offset = -kBlockOverlap;
        SeekScanFile(offset, 1);
        ReadBlock(kMarkerBlockSize);
    } while (BufferFill() > kBlockOverlap);

    Record.GuessText = guesses.Text();
    if (Record.CopyrightText.empty() && !Record.GuessText.empty())
        SplitCopyrightText(Record.GuessText);
    ComposeReport(directoryPath, fileName, ScanFileLength());
}

} // namespace kestrel
