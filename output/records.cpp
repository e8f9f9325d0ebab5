#include "records.h"

#include <cstdio>
#include <ctime>
#include <sys/stat.h>

namespace kestrel {

namespace {

// FNV-1a: a digest that is the same in every build and on every machine.
std::uint32_t Fnv1a(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

// The zone's offsets from UTC in January and July of every fifth year from
// 1980 on: the times of old files and of new ones, standard and summer.
std::string ZoneOffsets() {
    std::string offsets;
    for (int year = 1980; year <= 2040; year += 5) {
        for (const int month : {0, 6}) {
            std::tm date{};
            date.tm_year = year - 1900;
            date.tm_mon = month;
            date.tm_mday = 15;
            date.tm_hour = 12;
            const std::time_t time = ::timegm(&date);
            std::tm local{};
            ::localtime_r(&time, &local);
            offsets += std::to_string(local.tm_gmtoff) + " ";
        }
    }
    return offsets;
}

} // namespace

std::string MadeBy(const RecordShape& shape) {
    std::string text = "json";
    for (const std::string& name : shape.hashes)
        text += " hash=" + name;
    if (shape.lookInside) {
        text += " look-inside";
        for (const std::string& pattern : shape.patterns)
            text += " spec=" + pattern;
        text += " max-expand=" + std::to_string(shape.limits.maxExpand) +
                " max-members=" + std::to_string(shape.limits.maxMembers);
    }
    text += " zone=" + ZoneOffsets();
    char digest[9];
    std::snprintf(digest, sizeof digest, "%08x", Fnv1a(text));
    return std::string("kestrel-scan ") + kVersion + " " + digest;
}

std::optional<DiskFile> LookAt(const FileToScan& file) {
    struct stat info {};
    const int result = file.directory
                           ? ::fstatat(file.directory->Descriptor(), file.name.c_str(), &info, 0)
                           : ::stat((file.directoryPath + file.name).c_str(), &info);
    if (result != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    constexpr std::int64_t kNs = 1000000000;
    return DiskFile{info.st_ino, info.st_size, info.st_mtim.tv_sec * kNs + info.st_mtim.tv_nsec,
                    info.st_ctim.tv_sec * kNs + info.st_ctim.tv_nsec};
}

ScanStep RecordStep(ScanStep scan, JsonSinkOf jsonSinkOf) {
    return [scan = std::move(scan), jsonSinkOf = std::move(jsonSinkOf)](
               QuillScan& scanner, ReportSink& sink, const FileToScan& file,
               std::vector<ReadProblem>& problems, StepLines& lines) {
        JsonSink& json = jsonSinkOf(sink);
        // Looked at before it is read: a change while it is scanned shows next time.
        const std::optional<DiskFile> diskFile = LookAt(file);
        const std::size_t problemsBefore = problems.size();
        json.BeginFile();
        scan(scanner, sink, file, problems, lines);
        json.EndFile(problems.size() == problemsBefore ? diskFile : std::nullopt);
    };
}

} // namespace kestrel
