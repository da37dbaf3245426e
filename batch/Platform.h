// The few calls of velora-batch that only POSIX systems have: terminal detection and size, and
// the interrupt signals. Everything else in the tool stays portable.
#pragma once

#include <atomic>
#include <cstdio>

namespace velora::batch {

// True when `stream` is a terminal (so a redrawn progress line makes sense there).
bool IsTerminal(std::FILE* stream);

// Width of the terminal behind `stream` in columns, or 0 when it cannot be told.
int TerminalColumns(std::FILE* stream);

// Makes SIGINT, SIGTERM and SIGHUP set the returned flag to the signal's number instead of ending
// the program; a second signal of the same kind ends it the usual way. The flag is the cancel
// flag that every conversion pass polls.
const std::atomic<int>& InstallInterruptHandlers();

}  // namespace velora::batch
