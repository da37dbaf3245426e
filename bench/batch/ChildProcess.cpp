#include "ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>

extern char** environ;

namespace velora::bench {

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
    auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    int spawned = posix_spawnp(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
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
    cost.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cost.PeakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux counts in KiB
    return cost;
}

}  // namespace velora::bench
