#include "walk.h"

#include <filesystem>
#include <sys/stat.h>

#include "file_listing.h"
#include "text.h"

namespace kestrel {

std::string DirectoryWithSeparator(const std::string& path) {
    return path.ends_with('/') ? path : path + "/";
}

std::string NormalDirectoryPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    std::string normal = absolute.lexically_normal().string();
    while (normal.size() > 1 && normal.ends_with('/'))
        normal.pop_back();
    return normal;
}

std::string FileCountCaption(std::int64_t count, const std::string& path) {
    const std::string padded = "    " + std::to_string(count);
    return padded.substr(padded.size() - 4) + " files in " + path;
}

std::string ShortenCaption(const std::string& text, std::size_t maxLength) {
    const std::size_t length = Utf8Length(text);
    if (length <= maxLength || maxLength < 30)
        return text;
    // Byte offset of character `index` of the UTF-8 text.
    const auto offsetOf = [&](std::size_t index) {
        std::size_t characters = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                if (characters == index)
                    return i;
                ++characters;
            }
        }
        return text.size();
    };
    return text.substr(0, offsetOf(24)) + "......" +
           text.substr(offsetOf(length - (maxLength - 30)));
}

DirectoryWalk::DirectoryWalk(QuillScan& scanner, ReportSink& sink,
                             std::vector<std::string> patterns, bool recursive, WalkHooks hooks)
    : m_scanner(scanner), m_sink(sink), m_patterns(std::move(patterns)), m_recursive(recursive),
      m_hooks(std::move(hooks)) {}

bool DirectoryWalk::YieldAndTestCancel() {
    if (m_hooks.yield)
        m_hooks.yield();
    return m_hooks.cancelled && m_hooks.cancelled();
}

void DirectoryWalk::AddDirectoryLine(const std::string& directoryPath) {
    std::string line = "[";
    line += SanitizeUtf8(directoryPath);
    line += ']';
    m_sink.AddLine(ReplaceControlCharacters(std::move(line)));
}

bool DirectoryWalk::ScanOneFile(const std::string& directoryPath, const std::string& name) {
    m_scanner.ScanFile(directoryPath, name);
    if (m_hooks.fileScanned)
        m_hooks.fileScanned();
    return YieldAndTestCancel();
}

bool DirectoryWalk::WalkDirectory(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !m_visited
                                                 .emplace(static_cast<std::uint64_t>(info.st_dev),
                                                          static_cast<std::uint64_t>(info.st_ino))
                                                 .second)
        return false;

    const std::vector<std::string> files = ListMatchingFiles(path, m_patterns);
    if (m_hooks.showCaption)
        m_hooks.showCaption(FileCountCaption(static_cast<std::int64_t>(files.size()), path));
    if (YieldAndTestCancel())
        return true;

    const std::string directoryPath = DirectoryWithSeparator(path);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i == 0)
            AddDirectoryLine(directoryPath);
        if (ScanOneFile(directoryPath, files[i]))
            return true;
    }
    if (!m_recursive)
        return false;
    const std::vector<std::string> subdirectories = ListSubdirectories(path);
    for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it) {
        if (WalkDirectory(directoryPath + *it))
            return true;
    }
    return false;
}

bool DirectoryWalk::ScanSelectedFiles(const std::string& directory,
                                      const std::vector<std::string>& names) {
    const std::string directoryPath = DirectoryWithSeparator(directory);
    if (m_hooks.showCaption)
        m_hooks.showCaption(
            FileCountCaption(static_cast<std::int64_t>(names.size()), directoryPath));
    AddDirectoryLine(directoryPath);
    for (const std::string& name : names) {
        if (ScanOneFile(directoryPath, name))
            return true;
    }
    return false;
}

} // namespace kestrel
