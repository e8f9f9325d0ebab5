#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

// A search specification: wildcard patterns separated by ";". Each pattern is
// trimmed of spaces and empty ones are skipped; a specification with none left
// matches every name. A pattern holding "/" is refused: the result is empty.
std::optional<std::vector<std::string>> ParseSearchSpec(std::string_view spec);
// The first pattern of a specification that ParseSearchSpec refuses, trimmed;
// empty when it refuses none.
std::string RefusedPattern(std::string_view spec);

// `*` is any run of characters, `?` one character; ASCII letters match either
// case. "*.*" and a pattern ending in ".*" also match a name without a dot, as
// they do on DOS and Windows.
bool MatchesPattern(std::string_view name, std::string_view pattern);
bool MatchesAnyPattern(std::string_view name, const std::vector<std::string>& patterns);

// The listing order: ASCII letters folded to lower case, other bytes compared
// as unsigned bytes, ties broken byte-wise.
bool ListingOrderLess(std::string_view a, std::string_view b);

// What one directory holds for the walk.
struct DirectoryListing {
    std::vector<std::string> files;          // matching regular files, in listing order
    std::vector<std::string> subdirectories; // in listing order, links left out
    // Entries that could not be examined, with the errno value of the failure.
    std::vector<std::pair<std::string, int>> unreadable;
    int error = 0; // the errno value when the directory itself could not be read
};

// Which entries a listing keeps: files (and links to files) matching any of
// `patterns`, subdirectories when asked for, and neither when its name matches
// any of `excludes`.
struct ListingRules {
    std::vector<std::string> patterns;
    std::vector<std::string> excludes;
    bool subdirectories = false;
};

// Lists the open directory `directoryDescriptor` (which stays open and
// unchanged), hidden entries included.
DirectoryListing ListDirectoryAt(int directoryDescriptor, const ListingRules& rules);

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
