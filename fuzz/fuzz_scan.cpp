// libFuzzer target: arbitrary bytes as a file, scanned under three names so
// that the classification by content and by name (.LAN, .OVL) are all reached.
// The input lives in a memory file; the names are links to it.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "quill_scan.h"

namespace {

// Takes every line, so the composer renders each report in full.
class CountingSink : public kestrel::ReportSink {
public:
    void AddLine(const std::string& line) override { characters += line.size(); }
    std::size_t characters = 0;
};

struct MemoryFile {
    MemoryFile() {
        descriptor = ::memfd_create("kestrel-fuzz", MFD_CLOEXEC);
        if (descriptor < 0)
            std::abort();
        char pattern[] = "/tmp/kestrel-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            std::abort();
        directory = std::string(pattern) + "/";
        const std::string target = "/proc/self/fd/" + std::to_string(descriptor);
        for (const char* name : {"INPUT.BIN", "INPUT.LAN", "INPUT.OVL"})
            std::filesystem::create_symlink(target, directory + name);
    }

    void Fill(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(descriptor, 0) != 0)
            std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t wrote =
                ::pwrite(descriptor, data + done, size - done, static_cast<off_t>(done));
            if (wrote <= 0)
                std::abort();
            done += static_cast<std::size_t>(wrote);
        }
    }

    int descriptor = -1;
    std::string directory;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    file.Fill(data, size);
    CountingSink sink;
    kestrel::QuillScan scanner(sink);
    scanner.ScanFile(file.directory, "INPUT.BIN");
    scanner.Layout.brief = true;
    scanner.ScanFile(file.directory, "INPUT.LAN");
    scanner.ScanFile(file.directory, "INPUT.OVL");
    return 0;
}
