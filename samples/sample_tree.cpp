#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

#include "sample_builder.h"
#include "samples.h"

namespace kestrel::samples {

namespace {

using fixtures::Json;

// "1996-08-22 14:30:00" or "1996-08-22" (midnight), in UTC.
timespec ParseTime(const std::string& text) {
    std::tm time{};
    std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &time.tm_year, &time.tm_mon, &time.tm_mday,
                &time.tm_hour, &time.tm_min, &time.tm_sec);
    time.tm_year -= 1900;
    time.tm_mon -= 1;
    return {::timegm(&time), 0};
}

// The sample's path under the root: UTF-8 as written, or with "latin1_path"
// each character one byte, for a name that is not valid UTF-8.
std::filesystem::path SamplePath(const std::filesystem::path& root, const Json& sample) {
    return root / (sample.value("latin1_path", false) ? fixtures::Narrow(sample["path"])
                                                      : sample["path"].get<std::string>());
}

} // namespace

void WriteSamples(const std::filesystem::path& root, const std::filesystem::path& descriptions) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(descriptions)) {
        if (entry.path().extension() == ".json")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
        const Json group = Json::parse(std::ifstream(file));
        for (const Json& sample : group["files"]) {
            const std::filesystem::path path = SamplePath(root, sample);
            std::filesystem::create_directories(path.parent_path());
            fixtures::WriteFile(path, fixtures::BuildSample(sample));
            // A large file is written sparse: only its length is given.
            if (sample.contains("length"))
                std::filesystem::resize_file(path, sample["length"].get<std::uintmax_t>());
            const timespec time = ParseTime(sample.value("time", group["time"].get<std::string>()));
            const timespec times[2] = {time, time};
            if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
                throw std::runtime_error("cannot set the time of " + path.string());
        }
    }
}

} // namespace kestrel::samples
