#include "BatchOptions.h"

#include <getopt.h>

#include <cstdlib>
#include <mutex>
#include <string>

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
};

struct OptionRow {
    const char* Name;  // without the leading "--"
    int Code;          // the short letter, or one of LongOnly
    bool TakesValue;
};

// Every option velora-batch knows. The letters here and in ShortOptions go together.
constexpr OptionRow OptionRows[] = {
    {"color", ColorOption, true},
    {"gray", GrayOption, true},
    {"no-gray-contrast", NoGrayContrastOption, false},
    {"film", FilmOption, true},
    {"output", 'o', true},
    {"jobs", 'j', true},
    {"format", FormatOption, true},
    {"overwrite", OverwriteOption, false},
    {"allow-damaged", AllowDamagedOption, false},
    {"quiet", 'q', false},
    {"help", 'h', false},
    {"version", VersionOption, false},
    {"files-from", FilesFromOption, true},
    {"null", '0', false},
    {"recursive", 'r', false},
};

// The leading ':' makes a missing value come back as ':' rather than '?', and keeps getopt quiet:
// every message is ours, one line, through the usual usage-error path.
constexpr char ShortOptions[] = ":o:j:qhr0";

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
            longOptions.push_back(
                {row.Name, row.TakesValue ? required_argument : no_argument, nullptr, row.Code});
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
        if (result.Options.NullSeparated && result.Options.FilesFrom.empty()) {
            result.Error =
                "option '--null' applies to the lists of --files-from, and none is given";
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
                options.Quiet = true;
                return true;
            case FilmOption:
                if (value != "reddish" && value != "blueish") {
                    return Fail("invalid value '" + value + "' for --film (reddish or blueish)");
                }
                options.Conversion.ReddishFilm = value == "reddish";
                options.Conversion.BlueishFilm = value == "blueish";
                return true;
            case FormatOption:
                if (value != "jpeg" && value != "png") {
                    return Fail("invalid value '" + value + "' for --format (jpeg or png)");
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
                    return Fail("option '--output' requires a folder");
                }
                options.OutputDir = value;
                return true;
        }
        return Fail("unrecognized option");
    }

    std::string Error;
};

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    return Parser().Run(arguments);
}
std::string HelpText() {
    const auto range = [](int maximum, int start) {
        return "0-" + std::to_string(maximum) + " (default " + std::to_string(start) + ")\n";
    };
    return "Usage: velora-batch [OPTION]... FILE...\n"
           "  or:  velora-batch [OPTION]... --files-from=LIST\n"
           "Restyle photos with Velora's tone conversion and sharpening, and save each\n"
           "result with its metadata under the name with \"_vlr\" (photo.jpg ->\n"
           "photo_vlr.jpg).\n"
           "\n"
           "      --color=N            colour strength, " +
           range(ColorStrengthMax, ColorStrengthStart) +
           "      --gray=N             grey strength, " +
           range(GrayStrengthMax, GrayStrengthStart) +
           "      --no-gray-contrast   leave out the lightness curve (on by default);\n"
           "                           the film tints need it\n"
           "      --film=reddish|blueish\n"
           "                           add a warm or a cool film tint\n"
           "  -o, --output=DIR         write the results into DIR, which must exist\n"
           "                           (default: beside each input)\n"
           "  -j, --jobs=N             convert with N threads: N files at once, or fewer\n"
           "                           files with a file's halves side by side\n"
           "                           (default: one per core that the process may use)\n"
           "      --format=jpeg|png    JPEG of quality 97 (default) or lossless PNG,\n"
           "                           both with the metadata\n"
           "      --overwrite          replace existing results (default: skip them)\n"
           "      --allow-damaged      convert what a damaged input holds, with a warning\n"
           "                           (default: a damaged input fails, nothing written)\n"
           "  -r, --recursive          convert the pictures in the folders named and in the\n"
           "                           folders below; under -o each result keeps its folder\n"
           "      --files-from=LIST    also convert the files named in LIST, one per line;\n"
           "                           '-' reads the names from standard input\n"
           "  -0, --null               the names in LIST end with a NUL character,\n"
           "                           as find -print0 writes them\n"
           "  -q, --quiet              print nothing but errors and lost metadata\n"
           "  -h, --help               show this help and exit\n"
           "      --version            show the version and exit\n"
           "\n"
           "Long options may be shortened to any unambiguous prefix (--col 60), short ones\n"
           "bundled (-qj2). A folder walk takes JPEG, PNG, BMP, GIF, TIFF, ICO, WebP, HEIC,\n"
           "AVIF and camera raw files by extension; it leaves out hidden files and folders\n"
           "and earlier results (names with \"_vlr\" before the first dot).\n"
           "\n"
           "An input is never written over, and an existing result is skipped, so a rerun\n"
           "finishes what is missing. Ctrl+C stops after the files being saved; no\n"
           "half-written file is left behind. NO_COLOR turns colours off.\n"
           "\n"
           "Exit status: 0 if every file was converted or skipped, 1 if some failed,\n"
           "2 on bad usage, 130 when interrupted.\n";
}

std::string VersionText() {
    return std::string("velora-batch ") + VELORA_VERSION + "\n";
}

}  // namespace velora::batch
