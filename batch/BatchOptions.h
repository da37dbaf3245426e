// The command line of velora-batch: what it asks for, parsed without side effects.
#pragma once

#include <string>
#include <vector>

#include "Conversion.h"

namespace velora::batch {

enum class OutputFormat { Jpeg, Png };

// What of the original a result keeps with --preserve: its modification time, or the time the
// photo was taken (EXIF DateTimeOriginal) as the result's modification time.
enum class PreserveTime { None, Modified, Taken };

struct BatchOptions {
    ConversionOptions Conversion;  // the window's start-up positions unless changed
    std::string OutputDir;         // empty: each output beside its input
    unsigned Jobs = 0;             // files converted at once; 0 means one per core
    OutputFormat Format = OutputFormat::Jpeg;
    bool Overwrite = false;
    bool AllowDamaged = false;    // convert what a damaged input holds, with a warning
    int Verbosity = 0;            // +1 for each -v, -1 for each -q
    bool IncludeResults = false;  // convert Velora results given as inputs too
    std::string NameTemplate;     // empty: the "_vlr" name
    bool DryRun = false;          // list each input and its result, convert nothing
    unsigned ShardIndex = 0;      // with ShardCount: only the ShardIndex-th (from 1) of N parts
    unsigned ShardCount = 0;      // 0: the whole list
    std::string Report;           // where the JSON lines go; "-" is standard output
    PreserveTime Preserve = PreserveTime::None;
    bool ToStandardOutput = false;  // -o - or --stdout: the one result goes to standard output
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

// Every option's spellings: "--color", "--colour", ..., "-o", "-j", ...
std::vector<std::string> OptionNames();

std::string HelpText();
std::string VersionText();

}  // namespace velora::batch
