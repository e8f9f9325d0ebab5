#include "run_program.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrel::bench {

namespace {

// The peak resident set of a running process (VmHWM), in KiB; 0 once it has
// ended. Read while it runs: the peak a parent learns from wait4 holds the
// parent's own size, which the child had before its exec.
long PeakRssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    }
    return 0;
}

// Often enough to see the peak of a run of a fraction of a second: the
// process's memory is meant to stay flat, not to spike.
constexpr useconds_t kRssPollMicroseconds = 2000;

} // namespace

ScanRun RunProgram(std::vector<std::string> arguments, const std::filesystem::path& output) {
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ScanRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
            run.peakRssKiB = std::max(run.peakRssKiB, PeakRssKiB(pid));
            ::usleep(kRssPollMicroseconds);
        }
        run.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        for (const timeval& time : {usage.ru_utime, usage.ru_stime})
            run.cpuSeconds += static_cast<double>(time.tv_sec) + time.tv_usec / 1e6;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

} // namespace kestrel::bench
