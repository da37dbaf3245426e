// velora-batch as a function: the command line in, the exit status out.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "MemoryBudget.h"

namespace velora::batch {

constexpr int ExitAllDone = 0;
constexpr int ExitSomeFailed = 1;
constexpr int ExitBadUsage = 2;
constexpr int ExitInterrupted = 130;  // as a shell reports a run ended by Ctrl+C

struct BatchEnvironment {
    std::FILE* In = stdin;    // the list of --files-from -
    std::FILE* Out = stdout;  // --help and --version
    std::FILE* Err = stderr;  // progress, messages, errors
    bool Terminal = false;    // whether Err is a terminal
    bool Colour = false;      // whether Err may show colours
    int Columns = 80;
    // Counts the terminal's size changes; after each, ColumnsNow tells the new width.
    const std::atomic<unsigned>* Resizes = nullptr;
    std::function<int()> ColumnsNow;
    const std::atomic<int>* Cancel = nullptr;  // set from outside to stop the run
    unsigned Cores = 0;                        // 0: as many as the machine has
    // What the pictures of all jobs may take at once; none: half the machine's memory.
    MemoryBudget* Budget = nullptr;
};

int RunBatch(const std::vector<std::string>& arguments, const BatchEnvironment& environment);

}  // namespace velora::batch
