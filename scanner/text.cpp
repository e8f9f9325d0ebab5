#include "text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kestrel {

namespace {

// Code page 1252 from 0x80 to 0x9F; every other byte is its own code point.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Length in bytes of the valid UTF-8 sequence at the start of `text`, or 0 when
// it does not start with one (overlong forms, surrogates and codes beyond
// U+10FFFF are not valid).
std::size_t ValidSequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    if (byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto code = static_cast<std::uint8_t>(c);
        if (code < 0x80)
            out += c;
        else if (code < 0xA0)
            AppendUtf8(out, kCp1252High[code - 0x80]);
        else
            AppendUtf8(out, code);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, high || low ? char32_t{0xFFFD} : unit);
        }
    }
    return out;
}

std::string SanitizeUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        // Valid text is copied a whole run at a time: nearly all of it is.
        std::size_t valid = 0;
        for (std::size_t length = 1; valid < text.size() && length != 0; valid += length)
            length = ValidSequenceLength(text.substr(valid));
        out.append(text.substr(0, valid));
        text.remove_prefix(valid);
        if (!text.empty()) {
            AppendUtf8(out, 0xFFFD);
            text.remove_prefix(1);
        }
    }
    return out;
}

std::size_t Utf8Length(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) {
        if ((static_cast<std::uint8_t>(c) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

std::string Utf8PadOrCut(std::string_view utf8, std::size_t count) {
    std::size_t characters = 0;
    std::size_t end = 0;
    while (end < utf8.size()) {
        if ((static_cast<std::uint8_t>(utf8[end]) & 0xC0) != 0x80) {
            if (characters == count)
                break;
            ++characters;
        }
        ++end;
    }
    std::string out(utf8.substr(0, end));
    out.append(count - characters, ' ');
    return out;
}

std::string ReplaceControlCharacters(std::string line) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(line[i]);
        const auto next = i + 1 < line.size() ? static_cast<std::uint8_t>(line[i + 1]) : 0;
        if (byte < 0x20 || byte == 0x7F) {
            line[out++] = ' ';
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            line[out++] = ' '; // a C1 control is two bytes in UTF-8
            ++i;
        } else {
            line[out++] = line[i];
        }
    }
    line.resize(out);
    return line;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), AsciiUpperChar);
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), AsciiLowerChar);
    return out;
}

} // namespace kestrel
