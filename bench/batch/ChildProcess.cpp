#include "ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

extern char** environ;

namespace velora::bench {

namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

ChildCost RunChild(const std::vector<std::string>& argv, const std::string& outputPath) {
    ChildCost cost;
    std::vector<std::string> arguments = argv;
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1,
                                     outputPath.empty() ? "/dev/null" : outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned =
        posix_spawnp(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return cost;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        return cost;
    }
    cost.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.CpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    cost.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cost.PeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux counts in KiB
    return cost;
}

ChildCost RunTimed(const std::vector<std::string>& argv, const std::string& scratch) {
    const char* time = "/usr/bin/time";
    if (::access(time, X_OK) != 0) {
        ChildCost cost = RunChild(argv);
        cost.PeakMiB = 0.0;
        return cost;
    }
    std::vector<std::string> timed = {time, "-v", "-o", scratch};
    timed.insert(timed.end(), argv.begin(), argv.end());
    ChildCost cost = RunChild(timed);
    cost.PeakMiB = 0.0;
    std::ifstream report(scratch);
    const std::string key = "Maximum resident set size (kbytes):";
    for (std::string line; std::getline(report, line);) {
        const std::size_t at = line.find(key);
        if (at != std::string::npos) {
            cost.PeakMiB = std::stod(line.substr(at + key.size())) / 1024.0;
        }
        // time(1) reports a failing command's status itself and exits with it.
        if (line.find("Exit status:") != std::string::npos && cost.ExitCode == 0) {
            cost.ExitCode = std::stoi(line.substr(line.find(':') + 1));
        }
    }
    return cost;
}

}  // namespace velora::bench
