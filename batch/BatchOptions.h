// The command line of velora-batch: what it asks for, parsed without side effects.
#pragma once

#include <string>
#include <vector>

#include "Conversion.h"

namespace velora::batch {

enum class OutputFormat { Jpeg, Png };

struct BatchOptions {
    ConversionOptions Conversion;  // the window's start-up positions unless changed
    std::string OutputDir;         // empty: each output beside its input
    unsigned Jobs = 0;             // files converted at once; 0 means one per core
    OutputFormat Format = OutputFormat::Jpeg;
    bool Overwrite = false;
    bool AllowDamaged = false;  // convert what a damaged input holds, with a warning
    bool Quiet = false;
    std::vector<std::string> Files;
    std::vector<std::string> FilesFrom;  // lists of further inputs; "-" is standard input
    bool NullSeparated = false;          // the lists' names end in NUL, not in a newline
    bool Recursive = false;              // a folder among the inputs stands for its pictures
};

enum class ParseOutcome { Run, Help, Version, UsageError };

struct ParseResult {
    ParseOutcome Outcome = ParseOutcome::UsageError;
    BatchOptions Options;
    std::string Error;  // one line, for UsageError
};

constexpr unsigned MaxJobs = 256;

// `arguments` excludes the program name. GNU conventions, through getopt_long: options and files
// in any order; short options bundled ("-qj2", "-oDIR"); long ones abbreviated to any unambiguous
// prefix, their value after "=" or as the next word; "--" ends the options.
ParseResult ParseCommandLine(const std::vector<std::string>& arguments);

std::string HelpText();
std::string VersionText();

}  // namespace velora::batch
