// kestrel-scan: the report of Kestrel on standard output, as text, JSON Lines or CSV.
// This file reads the command line into a ScanOptions; scan_run.cpp does the rest.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "file_listing.h"
#include "formats.h"
#include "scan_run.h"

namespace {

constexpr char kHelp[] = R"(Usage: kestrel-scan [options] PATH...
Reports what program files say about themselves: NetWare modules, DOS executables,
overlays and drivers, NE, PE, LE and LX executables. Files are only ever read.

  -s, --spec SPEC        wildcard patterns separated by ';' (default "*.*"; repeatable)
  -r, --subdirs          also scan all subdirectories
  -b, --brief            one line per file
      --hide-version     hide the version group
      --hide-imports     hide the imports group
      --hide-company     hide the company group
      --hide-programmer  hide the programmer group
      --json             one JSON object per report, one per line, instead of the text report
      --csv              one CSV row per report (RFC 4180, header row), instead of the text report
      --hash ALG         add the file's digest: sha256, sha1 or md5 (repeatable; JSON and CSV)
  -z, --look-inside      also scan inside archives, compressed files and disk images
      --max-expand SIZE  most bytes decompressed under one file on disk (default 16G;
                         K, M and G multiply by 1024, 1024^2 and 1024^3)
      --max-temp SIZE    most bytes held in temporary files at once (default 4G)
      --reuse PREVIOUS   with --json: copy the records of the files that have not
                         changed since the run that wrote PREVIOUS, instead of
                         scanning them again (the same output as a full scan)
  -f, --files-from FILE  scan the paths listed in FILE ("-": standard input), one a line
  -0, --null             the list of --files-from is NUL-separated
  -x, --one-file-system  do not enter directories on other file systems
      --max-depth N      at most N levels below each PATH (implies -r)
      --exclude PATTERN  skip files and directories whose name matches (repeatable)
  -j, --jobs N           scan N files at a time (default: the number of cores); same output
      --progress, --no-progress
                         progress on standard error (default: when standard error is a
                         terminal and standard output is not)
  -h, --help             show this help
      --version          show the version
      --formats          list the formats looked inside with -z and what reads them

A PATH that is a directory is searched for the files matching the patterns; a PATH
that is a file is scanned whatever the patterns say. A path listed by --files-from
is taken as such a PATH. Patterns match names with ASCII letters folded; '*' is any
run of characters, '?' one character.

With -z every file is tested for being a container by its content, whatever its
name: zip (also self-extracting), 7z, RAR, LHA, ARJ, ISO 9660, tar, cpio, gzip,
bzip2 and xz; NSIS installers and MSI databases; SZDD, KWAJ, cabinets and CHM;
disk images (FAT, NTFS, ext2/3/4, with or without partitions; VMDK, VHD, qcow2,
VDI); --formats lists them with what reads them. Its members follow its own report, under directory
lines of the container's path and their folder inside, containers inside
containers to 4 levels; the patterns select the members reported. What a
container could not give (damaged, encrypted, a limit reached) is said once.

JSON keys: directory, name, size, modified, exe_signature, hdr_name, hdr_description,
hdr_version, hdr_date, hdr_long, hdr_imports, nw_version, nw_overlay, copyright_text,
guess_text, res_strings, has_version_resource, path, imports, delay_imports,
embedded_in, container (the file on disk holding a member), name_bytes (only for a name that is not valid UTF-8),
version_tables, fixed_file_info, pe, ne, lx, the digests asked for under their
algorithm's name, and made_by (kestrel-scan's version and a digest of the options
that shape the records); the last record of each file on disk also holds disk_file
(its inode, size, mtime_ns and ctime_ns, or null). --csv writes the same values as
JSON but made_by and disk_file, nested ones named as in pe.machine.

Exit status:
  0    done
  1    something could not be read or written (each one said on standard error;
       the rest was still scanned, but for a write error, which ends the run)
  2    usage error, or a --reuse file that cannot be read or is not JSON Lines
  130  stopped by Ctrl-C (the output ends on a whole report; a second Ctrl-C ends
       the run at once)
  141  the reader of standard output went away (a closed pipe): the run stops at
       once, quietly, with the status a shell gives a program ended by SIGPIPE
)";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kestrel-scan: %s\nTry 'kestrel-scan --help' for more information.\n",
                 message.c_str());
    return kestrel::kExitUsage;
}

// --help and --version: a write error is said as the scan says it.
int Print(const char* text) {
    std::fputs(text, stdout);
    if (std::fflush(stdout) == 0)
        return kestrel::kExitDone;
    if (errno == EPIPE)
        return kestrel::kExitReaderGone;
    std::fprintf(stderr, "kestrel-scan: write error: %s\n", std::strerror(errno));
    return kestrel::kExitReadOrWriteFailed;
}

// "16G", "512M", "100K" or a count of bytes: a positive number of bytes.
std::optional<std::int64_t> ParseSize(const std::string& text) {
    std::size_t end = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    if (end == 0 || end > 18 || text.size() > end + 1)
        return std::nullopt;
    const std::int64_t number = std::stoll(text.substr(0, end));
    const std::string unit = text.substr(end);
    const int shift = unit.empty()  ? 0
                      : unit == "K" ? 10
                      : unit == "M" ? 20
                      : unit == "G" ? 30
                                    : -1;
    if (shift < 0 || number <= 0 || number > (INT64_MAX >> shift))
        return std::nullopt;
    return number << shift;
}

std::string JoinSpecs(const std::vector<std::string>& specs) {
    std::string joined;
    for (const std::string& spec : specs)
        joined += (joined.empty() ? "" : ";") + spec;
    return joined;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"", "kestrel-scan"};
    app.set_help_flag();
    kestrel::ScanOptions options;
    std::vector<std::string> specs;
    std::vector<std::string> excludeSpecs;
    bool help = false;
    bool version = false;
    bool json = false;
    bool csv = false;
    std::vector<std::string> hashes;
    bool progressOn = false;
    bool progressOff = false;
    int maxDepth = kestrel::WalkOptions::kNoDepthLimit;
    int jobs = 0;
    app.add_option("PATH", options.paths);
    app.add_option("-s,--spec", specs)->allow_extra_args(false);
    app.add_flag("-r,--subdirs", options.walk.recursive);
    app.add_flag("-b,--brief", options.layout.brief);
    app.add_flag("--hide-version", options.layout.hideVersion);
    app.add_flag("--hide-imports", options.layout.hideImports);
    app.add_flag("--hide-company", options.layout.hideCompany);
    app.add_flag("--hide-programmer", options.layout.hideProgrammer);
    app.add_flag("--json", json);
    app.add_flag("--csv", csv);
    app.add_option("--hash", hashes)
        ->allow_extra_args(false)
        ->check(CLI::IsMember({"sha256", "sha1", "md5"}));
    std::string maxExpand;
    app.add_flag("-z,--look-inside", options.lookInside);
    app.add_option("--max-expand", maxExpand);
    std::string maxTemp;
    app.add_option("--max-temp", maxTemp);
    app.add_option("--reuse", options.reuse);
    app.add_option("-f,--files-from", options.filesFrom);
    app.add_flag("-0,--null", options.nullSeparated);
    app.add_flag("-x,--one-file-system", options.walk.oneFileSystem);
    app.add_option("--max-depth", maxDepth);
    app.add_option("--exclude", excludeSpecs)->allow_extra_args(false);
    app.add_option("-j,--jobs", jobs)->check(CLI::Range(1, kestrel::kMaxJobs));
    app.add_flag("--progress", progressOn);
    app.add_flag("--no-progress", progressOff);
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    bool formats = false;
    app.add_flag("--formats", formats);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    if (help)
        return Print(kHelp);
    if (version)
        return Print((std::string("kestrel-scan ") + kestrel::kVersion + "\n").c_str());
    if (formats)
        return Print(kestrel::FormatsText().c_str());

    if (options.paths.empty() && options.filesFrom.empty())
        return UsageError("no PATH given, and no --files-from");
    if (progressOn && progressOff)
        return UsageError("--progress and --no-progress contradict each other");
    const bool layoutChosen = options.layout.brief || options.layout.hideVersion ||
                              options.layout.hideImports || options.layout.hideCompany ||
                              options.layout.hideProgrammer;
    if (csv && (json || layoutChosen))
        return UsageError("--csv writes every field: it takes neither --json nor --brief nor "
                          "--hide-*");
    if (json && layoutChosen)
        return UsageError("--brief and --hide-* shape the text report; --json always writes "
                          "every field");
    if (!hashes.empty() && !json && !csv)
        return UsageError("--hash adds digests to --json or --csv output");
    if (app.count("--reuse") != 0 && !json)
        return UsageError("--reuse copies the records of an earlier --json run: it takes --json");
    const std::string spec = specs.empty() ? "*.*" : JoinSpecs(specs);
    const std::string excludeSpec = JoinSpecs(excludeSpecs);
    for (const std::string& text : {spec, excludeSpec}) {
        if (const std::string refused = kestrel::RefusedPattern(text); !refused.empty())
            return UsageError("a pattern may not hold \"/\": " + refused);
    }
    options.walk.patterns = *kestrel::ParseSearchSpec(spec);
    options.walk.excludes = *kestrel::ParseSearchSpec(excludeSpec);
    if (maxDepth < 0 && app.count("--max-depth") != 0)
        return UsageError("--max-depth: N must be 0 or more");
    if (maxDepth >= 0) {
        options.walk.recursive = true;
        options.walk.maxDepth = maxDepth;
    }
    options.format = json  ? kestrel::OutputFormat::kJson
                     : csv ? kestrel::OutputFormat::kCsv
                           : kestrel::OutputFormat::kText;
    for (const std::string& name : hashes) {
        if (std::find(options.hashes.begin(), options.hashes.end(), name) == options.hashes.end())
            options.hashes.push_back(name);
    }
    if (app.count("--max-expand") != 0) {
        const std::optional<std::int64_t> size = ParseSize(maxExpand);
        if (!size)
            return UsageError("--max-expand: SIZE is a positive number of bytes, or of K, M or G");
        options.containerLimits.maxExpand = *size;
    }
    if (app.count("--max-temp") != 0) {
        const std::optional<std::int64_t> size = ParseSize(maxTemp);
        if (!size)
            return UsageError("--max-temp: SIZE is a positive number of bytes, or of K, M or G");
        options.containerLimits.maxTemp = *size;
    }
    options.jobs = jobs > 0 ? jobs : kestrel::DefaultJobCount();
    if (progressOn)
        options.progress = kestrel::ProgressMode::kOn;
    else if (progressOff)
        options.progress = kestrel::ProgressMode::kOff;
    return kestrel::RunScan(options);
}
