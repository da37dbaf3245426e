#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velora::batch {

namespace {

std::atomic<int> InterruptFlag{0};
std::atomic<unsigned> ResizeCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is written from a signal handler");
static_assert(std::atomic<unsigned>::is_always_lock_free, "written from a signal handler");

extern "C" void OnInterrupt(int signalNumber) {
    InterruptFlag.store(signalNumber, std::memory_order_relaxed);
}

extern "C" void OnResize(int) {
    ResizeCount.fetch_add(1, std::memory_order_relaxed);
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    if (stream == nullptr || isatty(fileno(stream)) != 1) {
        return false;
    }
    const char* term = std::getenv("TERM");
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}

int TerminalColumns(std::FILE* stream) {
    if (stream == nullptr || isatty(fileno(stream)) != 1) {
        return 0;
    }
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

bool WantsColour(std::FILE* stream) {
    return IsTerminal(stream) && !IsSet("NO_COLOR");
}

unsigned UsableCores() {
    // The mask must be at least as large as the kernel's; machines with more than the default
    // 1024 CPUs need a larger one.
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) {
            break;
        }
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set);
        const bool got = sched_getaffinity(0, bytes, set) == 0;
        const int count = got ? CPU_COUNT_S(bytes, set) : 0;
        const bool tooSmall = !got && errno == EINVAL;
        CPU_FREE(set);
        if (count > 0) {
            return static_cast<unsigned>(count);
        }
        if (!tooSmall) {
            break;
        }
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// The whole of a small file of the kernel's (/proc, /sys); empty when it cannot be read. Read
// without the streams, whose locale costs a run on a small picture more than the rest of this.
std::string KernelFile(const char* path) {
    std::string text;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A number from a file of the kernel's: its first word, or the word after `key`; 0 when there is
// none ("max", missing).
std::uint64_t NumberIn(const char* path, const char* key = nullptr) {
    const std::string text = KernelFile(path);
    std::size_t at = 0;
    auto word = [&] {
        while (at < text.size() && Blank(text[at])) {
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && !Blank(text[at])) {
            ++at;
        }
        return text.substr(start, at - start);
    };
    for (std::string w = word(); !w.empty(); w = word()) {
        if (key != nullptr && w != key) {
            continue;
        }
        const std::string number = key != nullptr ? word() : w;
        char* end = nullptr;
        errno = 0;
        const std::uint64_t value = std::strtoull(number.c_str(), &end, 10);
        // After a key, a word that is no number gives 0.
        if (key != nullptr && (end == number.c_str() || errno == ERANGE)) {
            return 0;
        }
        return value;
    }
    return 0;
}

}  // namespace

std::uint64_t AvailableMemory() {
    std::uint64_t available = NumberIn("/proc/meminfo", "MemAvailable:") * 1024;
    auto within = [&available](std::uint64_t limit, std::uint64_t used) {
        // Limits of "no limit" read as 0 or as numbers near 2^63.
        if (limit != 0 && limit < (std::uint64_t{1} << 60)) {
            const std::uint64_t room = limit > used ? limit - used : 0;
            available = available == 0 ? room : std::min(available, room);
        }
    };
    // The control group this process is in (cgroup v2: "0::/its/path"), and the one above all.
    const std::string groups = KernelFile("/proc/self/cgroup");
    for (std::size_t at = 0; at < groups.size();) {
        const std::size_t end = std::min(groups.find('\n', at), groups.size());
        const std::string line = groups.substr(at, end - at);
        at = end + 1;
        if (line.rfind("0::", 0) == 0) {
            const std::string folder = "/sys/fs/cgroup" + line.substr(3);
            within(NumberIn((folder + "/memory.max").c_str()),
                   NumberIn((folder + "/memory.current").c_str()));
        }
    }
    within(NumberIn("/sys/fs/cgroup/memory.max"), NumberIn("/sys/fs/cgroup/memory.current"));
    within(NumberIn("/sys/fs/cgroup/memory/memory.limit_in_bytes"),
           NumberIn("/sys/fs/cgroup/memory/memory.usage_in_bytes"));
    rlimit space{};
    if (::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
        within(space.rlim_cur, NumberIn("/proc/self/statm") * ::sysconf(_SC_PAGESIZE));
    }
    return available;
}

bool FolderTakesFiles(const std::string& folder, std::string& why) {
    if (::access(folder.c_str(), W_OK | X_OK) == 0) {
        return true;
    }
    why = "cannot write into " + folder + ": " + std::strerror(errno);
    return false;
}

std::uint64_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * size : 0;
}

const std::atomic<int>& InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Reset to the default after the first signal: a second Ctrl+C still ends a stuck run.
    action.sa_flags = SA_RESETHAND;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signalNumber, &action, nullptr);
    }
    return InterruptFlag;
}

const std::atomic<unsigned>& InstallResizeHandler() {
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    // Reads and waits of the worker threads go on where they were.
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
    return ResizeCount;
}

void IgnoreBrokenPipes() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

bool SetModifiedTime(const std::string& path, long long seconds) {
    timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace velora::batch
