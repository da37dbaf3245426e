// Running a command as a child process and measuring what it cost: wall time, CPU time and peak
// resident memory of the child and everything it waited for.
#pragma once

#include <string>
#include <vector>

namespace velora::bench {

struct ChildCost {
    int ExitCode = -1;
    double Seconds = 0.0;     // wall time
    double CpuSeconds = 0.0;  // user and system time of the child and its waited-for children
    double PeakMiB = 0.0;     // largest resident set, from /usr/bin/time -v when measured there
};

// argv[0] is looked up in PATH; standard output goes to `outputPath` when given, else nowhere.
ChildCost RunChild(const std::vector<std::string>& argv, const std::string& outputPath = "");

// The same under `/usr/bin/time -v`, whose "Maximum resident set size" gives PeakMiB: the
// largest of the command and, for a shell pipeline, of each process in it. `scratch` is a file
// the report may be written to. PeakMiB stays 0 when time(1) is missing.
ChildCost RunTimed(const std::vector<std::string>& argv, const std::string& scratch);

}  // namespace velora::bench
