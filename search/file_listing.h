#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// A search specification: wildcard patterns separated by ";". Each pattern is
// trimmed of spaces and empty ones are skipped; a specification with none left
// matches every name. A pattern holding "/" is refused: the result is empty.
std::optional<std::vector<std::string>> ParseSearchSpec(std::string_view spec);

// `*` is any run of characters, `?` one character; ASCII letters match either
// case. "*.*" and a pattern ending in ".*" also match a name without a dot, as
// they do on DOS and Windows.
bool MatchesPattern(std::string_view name, std::string_view pattern);
bool MatchesAnyPattern(std::string_view name, const std::vector<std::string>& patterns);

// The listing order: ASCII letters folded to lower case, other bytes compared
// as unsigned bytes, ties broken byte-wise.
bool ListingOrderLess(std::string_view a, std::string_view b);

// Regular files (and links to regular files) of a directory whose names match
// any of the patterns, hidden files included, in listing order. A directory
// that cannot be read gives no names.
std::vector<std::string> ListMatchingFiles(const std::string& directory,
                                           const std::vector<std::string>& patterns);

// Subdirectories of a directory in listing order. Symbolic links to
// directories are left out unless asked for: the walk never enters them.
std::vector<std::string> ListSubdirectories(const std::string& directory,
                                            bool includeLinks = false);

} // namespace kestrel
