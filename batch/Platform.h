// The few calls of velora-batch that only POSIX systems have: terminal detection and size, the
// interrupt and resize signals, and the CPUs the process may use. Everything else in the tool
// stays portable.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace velora::batch {

// True when `stream` is a terminal that a redrawn progress line makes sense on (not one that
// declares itself TERM=dumb).
bool IsTerminal(std::FILE* stream);

// Width of the terminal behind `stream` in columns, or 0 when it cannot be told.
int TerminalColumns(std::FILE* stream);

// Whether colours may be written to `stream`: a terminal, and no NO_COLOR in the environment
// (set and not empty, as no-color.org has it).
bool WantsColour(std::FILE* stream);

// The CPUs this process may run on: its affinity mask (taskset, cgroups' cpusets), else every
// CPU of the machine, at least 1.
unsigned UsableCores();

// The machine's memory in bytes, or 0 when it cannot be told.
std::uint64_t PhysicalMemory();
// The memory this process may use: what the system has available now, within the limits of its
// control group and of its own address space; 0 when none of these can be read.
std::uint64_t AvailableMemory();
// Whether this process may make files in `folder`; false with the reason in `why`.
bool FolderTakesFiles(const std::string& folder, std::string& why);

// Makes SIGINT, SIGTERM and SIGHUP set the returned flag to the signal's number instead of ending
// the program; a second signal of the same kind ends it the usual way. The flag is the cancel
// flag that every conversion pass polls.
const std::atomic<int>& InstallInterruptHandlers();

// Counts the terminal's size changes (SIGWINCH) in the returned counter.
const std::atomic<unsigned>& InstallResizeHandler();

// Sets the modification time of the file at `path` to `seconds` since 1970 (UTC); false with
// errno on failure.
bool SetModifiedTime(const std::string& path, long long seconds);

// A reader that goes away (velora-batch ... 2>&1 | head -1) must not end the run: writes to a
// closed pipe then fail instead of raising SIGPIPE, and the progress display stops printing.
void IgnoreBrokenPipes();

}  // namespace velora::batch
