#include "look_inside_step.h"

#include <fcntl.h>
#include <unistd.h>

#include "file_listing.h"

namespace kestrel {

namespace {

// The file as the scanner opens it: read-only, never blocking on a FIFO put
// in its place; the explorer checks that it is a regular file.
int OpenFile(const FileToScan& file) {
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (file.directory)
        return ::openat(file.directory->Descriptor(), file.name.c_str(), kFlags);
    return ::open((file.directoryPath + file.name).c_str(), kFlags);
}

} // namespace

ScanStep LookInsideStep(LookInsideOptions options) {
    return
        [options = std::move(options)](QuillScan& scanner, ReportSink& sink, const FileToScan& file,
                                       std::vector<ReadProblem>& problems, StepLines& lines) {
            if (file.chosen || MatchesAnyPattern(file.name, options.patterns))
                ScanFileStep(scanner, sink, file, problems, lines);
            const int descriptor = OpenFile(file);
            if (descriptor < 0)
                return; // said by the scan when the file was to be reported
            bool wroteLines = false;
            ContainerHooks hooks;
            hooks.selects = [&](const std::string& name) {
                return MatchesAnyPattern(name, options.patterns);
            };
            hooks.directory = [&](const std::string& directoryPath) {
                sink.AddLine(DirectoryLineText(directoryPath));
                wroteLines = true;
            };
            hooks.member = [&](const std::string& memberPath, bool) {
                if (options.member)
                    options.member(memberPath);
            };
            hooks.problem = [&](const std::string& containerPath, const std::string& reason) {
                problems.push_back({containerPath, reason});
            };
            ContainerExplorer(scanner, std::move(hooks), options.limits)
                .LookInsideFile(descriptor, file.directoryPath + file.name);
            ::close(descriptor);
            if (wroteLines)
                lines.LeftDirectory();
        };
}

} // namespace kestrel
