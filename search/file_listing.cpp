#include "file_listing.h"

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <sys/stat.h>

namespace kestrel {

namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Splits UTF-8 text into characters, so that "?" takes one character, not one
// byte. A byte outside a valid sequence counts as a character of its own.
std::vector<std::string_view> Characters(std::string_view text) {
    std::vector<std::string_view> characters;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t length = 1;
        while (i + length < text.size() &&
               (static_cast<std::uint8_t>(text[i + length]) & 0xC0) == 0x80 &&
               static_cast<std::uint8_t>(text[i]) >= 0xC0 && length < 4)
            ++length;
        characters.push_back(text.substr(i, length));
        i += length;
    }
    return characters;
}

bool SameCharacter(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

// Wildcard matching with one backtrack point per star: linear in practice
// and never worse than names times pattern length.
bool WildcardMatch(std::string_view nameText, std::string_view patternText) {
    const std::vector<std::string_view> name = Characters(nameText);
    const std::vector<std::string_view> pattern = Characters(patternText);
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starPattern = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == "*") {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == "?" || SameCharacter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == "*")
        ++p;
    return p == pattern.size();
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::string> DirectoryEntries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* stream = ::opendir(directory.c_str());
    if (stream == nullptr)
        return names;
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(stream);
    return names;
}

std::string ChildPath(const std::string& directory, const std::string& name) {
    return directory.ends_with('/') ? directory + name : directory + "/" + name;
}

} // namespace

std::optional<std::vector<std::string>> ParseSearchSpec(std::string_view spec) {
    std::vector<std::string> patterns;
    while (true) {
        const std::size_t end = spec.find(';');
        std::string_view pattern = spec.substr(0, end);
        const std::size_t first = pattern.find_first_not_of(' ');
        if (first != std::string_view::npos) {
            pattern = pattern.substr(first, pattern.find_last_not_of(' ') - first + 1);
            if (pattern.find('/') != std::string_view::npos)
                return std::nullopt;
            patterns.emplace_back(pattern);
        }
        if (end == std::string_view::npos)
            break;
        spec.remove_prefix(end + 1);
    }
    return patterns;
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
    if (pattern == "*" || pattern == "*.*")
        return true;
    if (WildcardMatch(name, pattern))
        return true;
    // "README" matches "READ*.*": a name without a dot has an empty extension.
    if (pattern.ends_with(".*") && name.find('.') == std::string_view::npos)
        return WildcardMatch(name, pattern.substr(0, pattern.size() - 2));
    return false;
}

bool MatchesAnyPattern(std::string_view name, const std::vector<std::string>& patterns) {
    if (patterns.empty())
        return true;
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return MatchesPattern(name, pattern); });
}

bool ListingOrderLess(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<std::uint8_t>(FoldAscii(a[i]));
        const auto y = static_cast<std::uint8_t>(FoldAscii(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // byte-wise, so "A" and "a" keep one fixed order
}

std::vector<std::string> ListMatchingFiles(const std::string& directory,
                                           const std::vector<std::string>& patterns) {
    std::vector<std::string> names;
    for (std::string& name : DirectoryEntries(directory)) {
        if (MatchesAnyPattern(name, patterns) && IsRegularFile(ChildPath(directory, name)))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), ListingOrderLess);
    return names;
}

std::vector<std::string> ListSubdirectories(const std::string& directory, bool includeLinks) {
    std::vector<std::string> names;
    for (std::string& name : DirectoryEntries(directory)) {
        const std::string path = ChildPath(directory, name);
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        const bool isDirectory = S_ISDIR(info.st_mode);
        const bool isLinkToDirectory = S_ISLNK(info.st_mode) && includeLinks &&
                                       ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        if (isDirectory || isLinkToDirectory)
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), ListingOrderLess);
    return names;
}

} // namespace kestrel
