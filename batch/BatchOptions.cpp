#include "BatchOptions.h"

#include <getopt.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "OutputPlan.h"

namespace velora::batch {

namespace {

#ifndef VELORA_VERSION
#define VELORA_VERSION "unknown"
#endif

// Options without a one-letter form get codes above every character.
enum LongOnly : int {
    ColorOption = 256,
    GrayOption,
    NoGrayContrastOption,
    FilmOption,
    FormatOption,
    OverwriteOption,
    AllowDamagedOption,
    VersionOption,
    FilesFromOption,
    IncludeResultsOption,
    NameOption,
    ShardOption,
    ReportOption,
    PreserveOption,
    StdoutOption,
};

struct OptionRow {
    const char* Name;  // without the leading "--"
    int Code;          // the short letter, or one of LongOnly
    int Argument;      // no_argument, required_argument or optional_argument
};

// Every option velora-batch knows. The letters here and in ShortOptions go together.
constexpr OptionRow OptionRows[] = {
    {"color", ColorOption, required_argument},
    {"colour", ColorOption, required_argument},
    {"gray", GrayOption, required_argument},
    {"no-gray-contrast", NoGrayContrastOption, no_argument},
    {"film", FilmOption, required_argument},
    {"output", 'o', required_argument},
    {"stdout", StdoutOption, no_argument},
    {"name", NameOption, required_argument},
    {"jobs", 'j', required_argument},
    {"format", FormatOption, required_argument},
    {"overwrite", OverwriteOption, no_argument},
    {"include-results", IncludeResultsOption, no_argument},
    {"allow-damaged", AllowDamagedOption, no_argument},
    {"preserve", PreserveOption, optional_argument},
    {"dry-run", 'n', no_argument},
    {"shard", ShardOption, required_argument},
    {"report", ReportOption, required_argument},
    {"verbose", 'v', no_argument},
    {"quiet", 'q', no_argument},
    {"help", 'h', no_argument},
    {"version", VersionOption, no_argument},
    {"files-from", FilesFromOption, required_argument},
    {"null", '0', no_argument},
    {"recursive", 'r', no_argument},
};

// The leading ':' makes a missing value come back as ':' rather than '?', and keeps getopt quiet:
// every message is ours, one line, through the usual usage-error path.
constexpr char ShortOptions[] = ":o:j:qvnhr0";

const OptionRow* FindRow(int code) {
    for (const OptionRow& row : OptionRows) {
        if (row.Code == code) {
            return &row;
        }
    }
    return nullptr;
}

std::string LongName(int code) {
    const OptionRow* row = FindRow(code);
    return row ? std::string("--") + row->Name : std::string();
}

// Whole decimal numbers only: "35", not "35%", "+35", " 35" or "3.5".
bool ParseInteger(const std::string& text, long minimum, long maximum, long& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    value = std::strtol(text.c_str(), nullptr, 10);
    return value >= minimum && value <= maximum;
}

// Why getopt_long refused `argument` (the word it was looking at) when it named no option.
std::string UnknownOrAmbiguous(const std::string& argument) {
    if (argument.compare(0, 2, "--") != 0) {
        return "unrecognized option '" + argument + "'";
    }
    const std::string typed = argument.substr(2, argument.find('=') - 2);
    std::string candidates;
    int matches = 0;
    for (const OptionRow& row : OptionRows) {
        if (std::string(row.Name).compare(0, typed.size(), typed) == 0) {
            candidates += std::string(" '--") + row.Name + "'";
            ++matches;
        }
    }
    if (matches > 1) {
        return "option '--" + typed + "' is ambiguous; possibilities:" + candidates;
    }
    return "unrecognized option '--" + typed + "'";
}

class Parser {
  public:
    ParseResult Run(const std::vector<std::string>& arguments) {
        // getopt_long wants a writable argv (it reorders the words) and keeps its state in
        // globals: one parse at a time, started afresh with optind = 0.
        static std::mutex GetoptMutex;
        std::lock_guard<std::mutex> lock(GetoptMutex);
        std::vector<std::string> words;
        words.reserve(arguments.size() + 1);
        words.push_back("velora-batch");
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        std::vector<option> longOptions;
        for (const OptionRow& row : OptionRows) {
            longOptions.push_back({row.Name, row.Argument, nullptr, row.Code});
        }
        longOptions.push_back({nullptr, 0, nullptr, 0});

        const int argc = static_cast<int>(words.size());
        optind = 0;
        opterr = 0;
        ParseResult result;
        int code = 0;
        while ((code = getopt_long(argc, argv.data(), ShortOptions, longOptions.data(), nullptr)) !=
               -1) {
            const std::string word = optind > 0 && optind <= argc ? argv[optind - 1] : "";
            if (code == 'h') {
                result.Outcome = ParseOutcome::Help;
                return result;
            }
            if (code == VersionOption) {
                result.Outcome = ParseOutcome::Version;
                return result;
            }
            if (code == ':') {
                result.Error = "option '" + Spelled(optopt, word) + "' requires an argument";
                return result;
            }
            if (code == '?') {
                const OptionRow* row = optopt != 0 ? FindRow(optopt) : nullptr;
                if (row != nullptr) {
                    // A known option refused: only a long one can carry an unwanted "=value".
                    result.Error =
                        "option '--" + std::string(row->Name) + "' doesn't allow an argument";
                } else if (optopt != 0) {
                    result.Error = "unrecognized option '-" + std::string(1, char(optopt)) + "'";
                } else {
                    result.Error = UnknownOrAmbiguous(word);
                }
                return result;
            }
            if (!Apply(code, optarg ? optarg : "", result.Options)) {
                result.Error = Error;
                return result;
            }
        }
        for (int i = optind; i < argc; ++i) {
            result.Options.Files.push_back(argv[i]);
        }
        // An empty list is no mistake: a search that found nothing leaves nothing to do.
        if (result.Options.Files.empty() && result.Options.FilesFrom.empty()) {
            result.Error = "no input files";
            return result;
        }
        if (result.Options.NullSeparated && result.Options.FilesFrom.empty() &&
            !result.Options.DryRun) {
            result.Error =
                "option '--null' applies to the lists of --files-from, and none is given";
            return result;
        }
        const BatchOptions& options = result.Options;
        const bool photoFromInput =
            std::find(options.Files.begin(), options.Files.end(), "-") != options.Files.end();
        if (photoFromInput && std::find(options.FilesFrom.begin(), options.FilesFrom.end(), "-") !=
                                  options.FilesFrom.end()) {
            result.Error = "standard input cannot give both a photo ('-') and a list";
            return result;
        }
        if (options.ToStandardOutput && (options.DryRun || options.Report == "-")) {
            result.Error = std::string("the result goes to standard output; ") +
                           (options.DryRun ? "--dry-run" : "--report=-") + " cannot share it";
            return result;
        }
        if (photoFromInput && !options.OutputDir.empty()) {
            result.Error = "the photo from standard input ('-') goes to standard output, not -o";
            return result;
        }
        result.Outcome = ParseOutcome::Run;
        return result;
    }

  private:
    // The option as the user wrote it: "--name" when the word was a long option, else "-x".
    static std::string Spelled(int code, const std::string& word) {
        if (word.compare(0, 2, "--") == 0 || code >= 256) {
            return LongName(code);
        }
        return "-" + std::string(1, static_cast<char>(code));
    }

    bool Fail(const std::string& message) {
        Error = message;
        return false;
    }

    bool Number(int code, const std::string& value, long minimum, long maximum, long& number) {
        if (!ParseInteger(value, minimum, maximum, number)) {
            return Fail("invalid value '" + value + "' for " + LongName(code) +
                        " (a whole number from " + std::to_string(minimum) + " to " +
                        std::to_string(maximum) + ")");
        }
        return true;
    }

    bool Apply(int code, const std::string& value, BatchOptions& options) {
        long number = 0;
        switch (code) {
            case ColorOption:
                return Number(code, value, 0, ColorStrengthMax, number) &&
                       (options.Conversion.ColorStrength = number, true);
            case GrayOption:
                return Number(code, value, 0, GrayStrengthMax, number) &&
                       (options.Conversion.GrayStrength = number, true);
            case 'j':
                return Number(code, value, 1, MaxJobs, number) &&
                       (options.Jobs = static_cast<unsigned>(number), true);
            case NoGrayContrastOption:
                options.Conversion.GrayContrast = false;
                return true;
            case OverwriteOption:
                options.Overwrite = true;
                return true;
            case AllowDamagedOption:
                options.AllowDamaged = true;
                return true;
            case 'q':
                options.Verbosity = std::max(options.Verbosity - 1, -2);
                return true;
            case 'v':
                options.Verbosity = std::min(options.Verbosity + 1, 1);
                return true;
            case 'n':
                options.DryRun = true;
                return true;
            case IncludeResultsOption:
                options.IncludeResults = true;
                return true;
            case StdoutOption:
                options.ToStandardOutput = true;
                return true;
            case NameOption: {
                std::string problem;
                if (!CheckNameTemplate(value, problem)) {
                    return Fail("invalid name template '" + value + "': " + problem);
                }
                options.NameTemplate = value;
                return true;
            }
            case ShardOption: {
                const std::size_t slash = value.find('/');
                long index = 0;
                long count = 0;
                if (slash == std::string::npos ||
                    !ParseInteger(value.substr(slash + 1), 1, 1000000, count) ||
                    !ParseInteger(value.substr(0, slash), 1, count, index)) {
                    return Fail("invalid value '" + value +
                                "' for --shard (K/N: part K of N, 1 <= K <= N)");
                }
                options.ShardIndex = static_cast<unsigned>(index);
                options.ShardCount = static_cast<unsigned>(count);
                return true;
            }
            case ReportOption:
                if (value.empty()) {
                    return Fail("option '--report' requires a file ('-' for standard output)");
                }
                options.Report = value;
                return true;
            case PreserveOption:
                if (value.empty() || value == "mtime") {
                    options.Preserve = PreserveTime::Modified;
                } else if (value == "exif") {
                    options.Preserve = PreserveTime::Taken;
                } else {
                    return Fail("invalid value '" + value + "' for --preserve (mtime or exif)");
                }
                return true;
            case FilmOption:
                if (value != "reddish" && value != "blueish") {
                    return Fail("invalid value '" + value + "' for --film (reddish or blueish)");
                }
                options.Conversion.ReddishFilm = value == "reddish";
                options.Conversion.BlueishFilm = value == "blueish";
                return true;
            case FormatOption:
                if (value != "jpeg" && value != "jpg" && value != "png") {
                    return Fail("invalid value '" + value + "' for --format (jpeg, jpg or png)");
                }
                options.Format = value == "png" ? OutputFormat::Png : OutputFormat::Jpeg;
                return true;
            case 'r':
                options.Recursive = true;
                return true;
            case '0':
                options.NullSeparated = true;
                return true;
            case FilesFromOption:
                if (value.empty()) {
                    return Fail("option '--files-from' requires a list ('-' for standard input)");
                }
                options.FilesFrom.push_back(value);
                return true;
            case 'o':
                if (value.empty()) {
                    return Fail("option '--output' requires a folder ('-' for standard output)");
                }
                if (value == "-") {
                    options.ToStandardOutput = true;
                } else {
                    options.OutputDir = value;
                }
                return true;
        }
        return Fail("unrecognized option");
    }

    std::string Error;
};

}  // namespace

std::vector<std::string> OptionNames() {
    std::vector<std::string> names;
    for (const OptionRow& row : OptionRows) {
        names.push_back(std::string("--") + row.Name);
        if (row.Code < 256) {
            names.push_back("-" + std::string(1, static_cast<char>(row.Code)));
        }
    }
    return names;
}

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    return Parser().Run(arguments);
}
std::string VersionText() {
    return std::string("velora-batch ") + VELORA_VERSION + "\n";
}

}  // namespace velora::batch
