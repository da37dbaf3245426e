#include "BatchOptions.h"

#include <cerrno>
#include <cstdlib>

namespace velora::batch {

namespace {

#ifndef VELORA_VERSION
#define VELORA_VERSION "unknown"
#endif

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

class Parser {
  public:
    explicit Parser(const std::vector<std::string>& arguments) : Arguments(arguments) {}

    ParseResult Run() {
        ParseResult result;
        BatchOptions& options = result.Options;
        bool optionsEnded = false;
        for (Index = 0; Index < Arguments.size(); ++Index) {
            const std::string& argument = Arguments[Index];
            if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
                options.Files.push_back(argument);
                continue;
            }
            if (argument == "--") {
                optionsEnded = true;
                continue;
            }
            SplitOption(argument);
            if (Name == "--help" || Name == "-h") {
                result.Outcome = ParseOutcome::Help;
                return result;
            }
            if (Name == "--version") {
                result.Outcome = ParseOutcome::Version;
                return result;
            }
            if (!Apply(options)) {
                result.Outcome = ParseOutcome::UsageError;
                result.Error = Error;
                return result;
            }
        }
        if (options.Files.empty()) {
            result.Error = "no input files";
            return result;
        }
        result.Outcome = ParseOutcome::Run;
        return result;
    }

  private:
    void SplitOption(const std::string& argument) {
        Attached = false;
        Value.clear();
        if (argument.compare(0, 2, "--") == 0) {
            std::size_t equals = argument.find('=');
            Name = argument.substr(0, equals);
            if (equals != std::string::npos) {
                Attached = true;
                Value = argument.substr(equals + 1);
            }
        } else {
            Name = argument.substr(0, 2);
            if (argument.size() > 2) {
                Attached = true;
                Value = argument.substr(2);
            }
        }
    }

    bool Fail(const std::string& message) {
        Error = message;
        return false;
    }

    bool TakeValue() {
        if (Attached) {
            return true;
        }
        if (Index + 1 >= Arguments.size()) {
            return Fail("option '" + Name + "' requires an argument");
        }
        Value = Arguments[++Index];
        return true;
    }

    bool NoValue() {
        return Attached ? Fail("option '" + Name + "' doesn't allow an argument") : true;
    }

    bool TakeNumber(long minimum, long maximum, long& number) {
        if (!TakeValue()) {
            return false;
        }
        if (!ParseInteger(Value, minimum, maximum, number)) {
            return Fail("invalid value '" + Value + "' for " + Name + " (a whole number from " +
                        std::to_string(minimum) + " to " + std::to_string(maximum) + ")");
        }
        return true;
    }

    bool Apply(BatchOptions& options) {
        long number = 0;
        if (Name == "--color") {
            return TakeNumber(0, 100, number) && (options.Conversion.ColorStrength = number, true);
        }
        if (Name == "--gray") {
            return TakeNumber(0, 90, number) && (options.Conversion.GrayStrength = number, true);
        }
        if (Name == "--jobs" || Name == "-j") {
            return TakeNumber(1, MaxJobs, number) &&
                   (options.Jobs = static_cast<unsigned>(number), true);
        }
        if (Name == "--no-gray-contrast") {
            return NoValue() && (options.Conversion.GrayContrast = false, true);
        }
        if (Name == "--overwrite") {
            return NoValue() && (options.Overwrite = true, true);
        }
        if (Name == "--quiet" || Name == "-q") {
            return NoValue() && (options.Quiet = true, true);
        }
        if (Name == "--film") {
            if (!TakeValue()) {
                return false;
            }
            if (Value != "reddish" && Value != "blueish") {
                return Fail("invalid value '" + Value + "' for --film (reddish or blueish)");
            }
            options.Conversion.ReddishFilm = Value == "reddish";
            options.Conversion.BlueishFilm = Value == "blueish";
            return true;
        }
        if (Name == "--format") {
            if (!TakeValue()) {
                return false;
            }
            if (Value != "jpeg" && Value != "png") {
                return Fail("invalid value '" + Value + "' for --format (jpeg or png)");
            }
            options.Format = Value == "png" ? OutputFormat::Png : OutputFormat::Jpeg;
            return true;
        }
        if (Name == "-o" || Name == "--output") {
            if (!TakeValue()) {
                return false;
            }
            if (Value.empty()) {
                return Fail("option '" + Name + "' requires a folder");
            }
            options.OutputDir = Value;
            return true;
        }
        return Fail("unrecognized option '" + Arguments[Index] + "'");
    }

    const std::vector<std::string>& Arguments;
    std::size_t Index = 0;
    std::string Name;
    std::string Value;
    bool Attached = false;
    std::string Error;
};

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    return Parser(arguments).Run();
}

std::string HelpText() {
    return "Usage: velora-batch [OPTION]... FILE...\n"
           "Restyle photos with Velora's tone conversion and sharpening, and save each result\n"
           "with its metadata under the name with \"_vlr\" (photo.jpg -> photo_vlr.jpg).\n"
           "\n"
           "  --color N            colour strength, 0-100 (default 35)\n"
           "  --gray N             grey strength, 0-90 (default 41)\n"
           "  --no-gray-contrast   leave out the lightness curve (on by default);\n"
           "                       the film tints need it\n"
           "  --film reddish|blueish\n"
           "                       add a warm or a cool film tint\n"
           "  -o, --output DIR     write the results into DIR (default: beside each input)\n"
           "  -j, --jobs N         convert N files at once (default: one per core)\n"
           "  --format jpeg|png    JPEG of quality 97 with metadata (default), or lossless PNG\n"
           "  --overwrite          replace existing results (default: skip them)\n"
           "  -q, --quiet          print nothing but errors\n"
           "  -h, --help           show this help and exit\n"
           "      --version        show the version and exit\n"
           "\n"
           "An input is never written over. Ctrl+C stops after the files being saved;\n"
           "no half-written file is left behind.\n"
           "\n"
           "Exit status: 0 if every file was converted or skipped, 1 if some failed,\n"
           "2 on bad usage, 130 when interrupted.\n";
}

std::string VersionText() {
    return std::string("velora-batch ") + VELORA_VERSION + "\n";
}

}  // namespace velora::batch
