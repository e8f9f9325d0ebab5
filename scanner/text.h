#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// Record texts are code page 1252 bytes; report lines are UTF-8. The five bytes
// the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
// control characters of the same number.
std::string Cp1252ToUtf8(std::string_view bytes);

// UTF-16 text (16-bit version resource strings) as UTF-8; a surrogate
// without its pair becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

// A name from the file system: valid UTF-8 passes unchanged, every byte that is
// not part of a valid sequence becomes one U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// Characters (code points) of valid UTF-8 text.
std::size_t Utf8Length(std::string_view utf8);

// The first `count` characters of valid UTF-8 text, padded with spaces to
// exactly `count` characters when shorter. A cut never splits a character.
std::string Utf8PadOrCut(std::string_view utf8, std::size_t count);

// A list line holds no control character: every C0 control (below 32), DEL
// and C1 control (U+0080 to U+009F) becomes one space.
std::string ReplaceControlCharacters(std::string line);

// ASCII-only case mapping, as every name test, filter word and sort order of
// Kestrel uses: only A to Z and a to z change.
constexpr char AsciiLowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpperChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

} // namespace kestrel
