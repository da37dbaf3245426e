// Running a command as a child process and measuring what it cost: wall time and peak resident
// memory of the child and everything it waited for.
#pragma once

#include <string>
#include <vector>

namespace velora::bench {

struct ChildCost {
    int ExitCode = -1;
    double Seconds = 0.0;
    double PeakMegabytes = 0.0;  // the largest resident set of the process or its children
};

// argv[0] is looked up in PATH; standard output goes to `outputPath` when given, else nowhere.
ChildCost RunChild(const std::vector<std::string>& argv, const std::string& outputPath = "");

}  // namespace velora::bench
