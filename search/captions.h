#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// "   3 files in /data": the count right-aligned in 4 characters (only its last
// four digits when it has more), then the path.
std::string FileCountCaption(std::int64_t count, const std::string& path);

// A caption of at most `maxLength` characters: a longer text keeps its first
// 24 characters, "......", and its last maxLength - 30. Characters, not bytes.
std::string ShortenCaption(const std::string& text, std::size_t maxLength = 60);

} // namespace kestrel
