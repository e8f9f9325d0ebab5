#include "file_listing.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text.h"

namespace kestrel {

namespace {

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
        if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i]))
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

struct Entry {
    std::string name;
    unsigned char type; // d_type: DT_UNKNOWN when the file system does not say
};

// Reads a directory through a duplicate of its descriptor, so the caller's
// descriptor stays open. "." and ".." are left out.
int ReadEntries(int directoryDescriptor, std::vector<Entry>& entries) {
    const int own = ::fcntl(directoryDescriptor, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return errno;
    DIR* stream = ::fdopendir(own);
    if (stream == nullptr) {
        const int error = errno;
        ::close(own);
        return error;
    }
    ::rewinddir(stream); // the duplicate shares the read position
    int error = 0;
    while (true) {
        errno = 0;
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            entries.push_back({std::string(name), entry->d_type});
    }
    ::closedir(stream);
    return error;
}

// An entry that vanished, or a link that leads nowhere, is simply not there.
bool IsGone(int error) {
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// Whether an entry is a regular file or a link to one; `error` is set when
// the entry cannot be examined.
bool IsRegularFileAt(int directoryDescriptor, const Entry& entry, int& error) {
    if (entry.type == DT_REG)
        return true;
    if (entry.type != DT_LNK && entry.type != DT_UNKNOWN)
        return false;
    struct stat info {};
    if (::fstatat(directoryDescriptor, entry.name.c_str(), &info, 0) != 0) {
        error = IsGone(errno) ? 0 : errno;
        return false;
    }
    return S_ISREG(info.st_mode);
}

bool IsDirectoryAt(int directoryDescriptor, const Entry& entry, bool includeLinks, int& error) {
    if (entry.type == DT_DIR)
        return true;
    if (entry.type != DT_UNKNOWN && !(entry.type == DT_LNK && includeLinks))
        return false;
    struct stat info {};
    if (::fstatat(directoryDescriptor, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        error = IsGone(errno) ? 0 : errno;
        return false;
    }
    if (S_ISLNK(info.st_mode) && includeLinks &&
        ::fstatat(directoryDescriptor, entry.name.c_str(), &info, 0) != 0)
        return false;
    return S_ISDIR(info.st_mode);
}

// A directory opened for listing by its path; -1 when it cannot be.
int OpenDirectoryPath(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
        const auto x = static_cast<std::uint8_t>(AsciiLowerChar(a[i]));
        const auto y = static_cast<std::uint8_t>(AsciiLowerChar(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // byte-wise, so "A" and "a" keep one fixed order
}

std::string RefusedPattern(std::string_view spec) {
    while (true) {
        const std::size_t end = spec.find(';');
        std::string_view pattern = spec.substr(0, end);
        if (pattern.find('/') != std::string_view::npos) {
            const std::size_t first = pattern.find_first_not_of(' ');
            return std::string(pattern.substr(first, pattern.find_last_not_of(' ') - first + 1));
        }
        if (end == std::string_view::npos)
            return {};
        spec.remove_prefix(end + 1);
    }
}

DirectoryListing ListDirectoryAt(int directoryDescriptor, const ListingRules& rules) {
    DirectoryListing listing;
    std::vector<Entry> entries;
    listing.error = ReadEntries(directoryDescriptor, entries);
    const auto excluded = [&](const std::string& name) {
        return !rules.excludes.empty() && MatchesAnyPattern(name, rules.excludes);
    };
    for (Entry& entry : entries) {
        if (excluded(entry.name))
            continue;
        int error = 0;
        if (MatchesAnyPattern(entry.name, rules.patterns) &&
            IsRegularFileAt(directoryDescriptor, entry, error))
            listing.files.push_back(entry.name);
        else if (error == 0 && rules.subdirectories &&
                 IsDirectoryAt(directoryDescriptor, entry, false, error))
            listing.subdirectories.push_back(std::move(entry.name));
        if (error != 0)
            listing.unreadable.emplace_back(std::move(entry.name), error);
    }
    std::sort(listing.files.begin(), listing.files.end(), ListingOrderLess);
    std::sort(listing.subdirectories.begin(), listing.subdirectories.end(), ListingOrderLess);
    return listing;
}

std::vector<std::string> ListMatchingFiles(const std::string& directory,
                                           const std::vector<std::string>& patterns) {
    const int descriptor = OpenDirectoryPath(directory);
    if (descriptor < 0)
        return {};
    DirectoryListing listing = ListDirectoryAt(descriptor, {patterns, {}, false});
    ::close(descriptor);
    return std::move(listing.files);
}

std::vector<std::string> ListSubdirectories(const std::string& directory, bool includeLinks) {
    std::vector<std::string> names;
    const int descriptor = OpenDirectoryPath(directory);
    if (descriptor < 0)
        return names;
    std::vector<Entry> entries;
    ReadEntries(descriptor, entries);
    for (Entry& entry : entries) {
        int error = 0;
        if (IsDirectoryAt(descriptor, entry, includeLinks, error))
            names.push_back(std::move(entry.name));
    }
    ::close(descriptor);
    std::sort(names.begin(), names.end(), ListingOrderLess);
    return names;
}

} // namespace kestrel
