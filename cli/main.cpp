// kestrel-scan: the report of Kestrel on standard output, as text or JSON Lines.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <CLI/CLI.hpp>

#include "file_listing.h"
#include "output_sinks.h"
#include "progress.h"
#include "quill_scan.h"
#include "walk.h"

namespace {

enum ExitStatus { kDone = 0, kPathFailed = 1, kUsage = 2, kCancelled = 130 };

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

void ReportPathError(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "kestrel-scan: %s: %s\n", path.c_str(), reason.c_str());
}

bool CanReadFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return false;
    ::close(descriptor);
    return true;
}

// Consecutive file PATHs of one directory, scanned as files selected there.
struct SelectedFiles {
    std::string directory;
    std::vector<std::string> names;
};

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reports what program files say about themselves: NetWare modules, DOS "
                 "executables, overlays and drivers, NE, PE, LE and LX executables.",
                 "kestrel-scan"};
    std::vector<std::string> paths;
    std::string spec = "*.*";
    bool recursive = false;
    kestrel::ReportLayout layout;
    bool json = false;
    bool progressOn = false;
    bool progressOff = false;
    app.add_option("PATH", paths, "directories to search, files to scan")->required();
    app.add_option("-s,--spec", spec, "wildcard patterns separated by ';' (default \"*.*\")");
    app.add_flag("-r,--subdirs", recursive, "also scan all subdirectories");
    app.add_flag("-b,--brief", layout.brief, "one line per file");
    app.add_flag("--hide-version", layout.hideVersion, "hide the version group");
    app.add_flag("--hide-imports", layout.hideImports, "hide the imports group");
    app.add_flag("--hide-company", layout.hideCompany, "hide the company group");
    app.add_flag("--hide-programmer", layout.hideProgrammer, "hide the programmer group");
    app.add_flag("--json", json, "one JSON object per report, one per line");
    // --- the CSV writer and the digests ---
    bool csv = false;
    std::vector<std::string> hashes;
    app.add_flag("--csv", csv,
                 "one CSV row per report (RFC 4180, header row), instead of the text report");
    app.add_option("--hash", hashes,
                   "add the file's digest: sha256, sha1 or md5 (repeatable; JSON and CSV)")
        ->allow_extra_args(false)
        ->check(CLI::IsMember({"sha256", "sha1", "md5"}));
    auto* progress = app.add_flag("--progress", progressOn, "progress on standard error");
    app.add_flag("--no-progress", progressOff, "no progress on standard error")->excludes(progress);
    app.set_version_flag("--version", "kestrel-scan 1.0");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsage;
    }

    const std::optional<std::vector<std::string>> patterns = kestrel::ParseSearchSpec(spec);
    if (!patterns) {
        std::fprintf(stderr, "kestrel-scan: a pattern may not hold \"/\": %s\n", spec.c_str());
        return kUsage;
    }

    const bool layoutChosen = layout.brief || layout.hideVersion || layout.hideImports ||
                              layout.hideCompany || layout.hideProgrammer;
    if (csv && (json || layoutChosen)) {
        std::fprintf(stderr, "kestrel-scan: --csv writes every field: it takes neither --json "
                             "nor --brief nor --hide-*\n");
        return kUsage;
    }
    if (!hashes.empty() && !json && !csv) {
        std::fprintf(stderr, "kestrel-scan: --hash adds digests to --json or --csv output\n");
        return kUsage;
    }

    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    std::vector<std::string> algorithms;
    for (const std::string& name : hashes) {
        if (std::find(algorithms.begin(), algorithms.end(), name) == algorithms.end())
            algorithms.push_back(name);
    }
    std::unique_ptr<kestrel::FileDigests> digests;
    if (!algorithms.empty())
        digests = std::make_unique<kestrel::FileDigests>(algorithms);
    bool reportProblems = false;
    const kestrel::ReportProblem problem = [&](const std::string& path, const std::string& text) {
        std::fprintf(stderr, "kestrel-scan: %s: %s\n", path.c_str(), text.c_str());
        reportProblems = true;
    };
    std::unique_ptr<kestrel::ReportSink> sink;
    if (json) {
        sink = std::make_unique<kestrel::JsonSink>(stdout, digests.get(), problem);
    } else if (csv) {
        auto csvSink = std::make_unique<kestrel::CsvSink>(stdout, digests.get(), problem);
        std::fputs((csvSink->HeaderRow() + "\r\n").c_str(), stdout);
        sink = std::move(csvSink);
    } else {
        sink = std::make_unique<kestrel::TextSink>(stdout);
    }

    const bool showProgress = progressOn || (!progressOff && ::isatty(STDERR_FILENO));
    kestrel::ProgressLine progressLine(stderr, showProgress);
    InstallInterruptHandler();

    kestrel::QuillScan scanner(*sink, layout);
    scanner.SetReadFacts(json || csv);
    scanner.SetByteObserver(digests.get());
    kestrel::WalkHooks hooks;
    hooks.showCaption = [&](const std::string& caption) { progressLine.SetCaption(caption); };
    hooks.fileScanned = [&] { progressLine.CountFile(); };
    hooks.cancelled = [] { return g_interrupted != 0; };
    kestrel::DirectoryWalk walk(scanner, *sink, *patterns, recursive, hooks);

    int status = kDone;
    bool cancelled = false;
    SelectedFiles pending;
    const auto scanPending = [&] {
        if (!pending.names.empty() && !cancelled)
            cancelled = walk.ScanSelectedFiles(pending.directory, pending.names);
        pending = {};
    };

    for (const std::string& path : paths) {
        if (cancelled || g_interrupted)
            break;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            ReportPathError(path, std::strerror(errno));
            status = kPathFailed;
        } else if (S_ISDIR(info.st_mode)) {
            scanPending();
            if (::access(path.c_str(), R_OK | X_OK) != 0) {
                ReportPathError(path, std::strerror(errno));
                status = kPathFailed;
            } else if (!cancelled) {
                cancelled = walk.WalkDirectory(kestrel::NormalDirectoryPath(path));
            }
        } else if (!S_ISREG(info.st_mode)) {
            ReportPathError(path, "not a regular file or directory");
            status = kPathFailed;
        } else if (!CanReadFile(path)) {
            ReportPathError(path, std::strerror(errno));
            status = kPathFailed;
        } else {
            const std::filesystem::path filePath(path);
            std::string parent = filePath.parent_path().string();
            const std::string directory =
                kestrel::NormalDirectoryPath(parent.empty() ? "." : parent);
            if (directory != pending.directory)
                scanPending();
            pending.directory = directory;
            pending.names.push_back(filePath.filename().string());
        }
    }
    scanPending();
    progressLine.Clear();
    std::fflush(stdout);
    if (cancelled || g_interrupted)
        return kCancelled;
    return reportProblems ? kPathFailed : status;
}
