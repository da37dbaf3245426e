#include "PipeRun.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "FileConversion.h"
#include "ProgressDisplay.h"

namespace velora::batch {

namespace fs = std::filesystem;

namespace {

// A folder of this run's own under the temporary folder, removed with the object.
class PrivateFolder {
  public:
    PrivateFolder() {
        std::error_code error;
        const fs::path base = fs::temp_directory_path(error);
        std::random_device seed;
        for (int attempt = 0; attempt < 100 && Path.empty() && !error; ++attempt) {
            const fs::path candidate = base / ("velora-batch-" + std::to_string(seed()));
            if (fs::create_directory(candidate, error)) {
                fs::permissions(candidate, fs::perms::owner_all, error);
                Path = candidate;
            }
        }
    }
    ~PrivateFolder() {
        std::error_code error;
        if (!Path.empty()) {
            fs::remove_all(Path, error);
        }
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const fs::path& path() const { return Path; }

  private:
    fs::path Path;
};

bool Copy(std::FILE* from, std::FILE* to) {
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
        if (std::fwrite(buffer, 1, count, to) != count) {
            return false;
        }
    }
    return std::ferror(from) == 0 && std::fflush(to) == 0;
}

int Fail(const BatchEnvironment& environment, const std::string& name, const std::string& why) {
    std::fprintf(environment.Err, "velora-batch: %s: %s\n", EscapeControls(name).c_str(),
                 EscapeControls(why).c_str());
    return ExitSomeFailed;
}

}  // namespace

int RunPipe(const std::string& input, const BatchOptions& options,
            const BatchEnvironment& environment, const std::atomic<int>& cancel) {
    PrivateFolder folder;
    if (folder.path().empty()) {
        return Fail(environment, input, "cannot make a temporary folder");
    }
    std::string source = input;
    if (input == "-") {
        // The decoders read files: the photo is taken whole from the pipe first.
        source = (folder.path() / "input").string();
        std::FILE* spool = std::fopen(source.c_str(), "wb");
        const bool copied = spool != nullptr && Copy(environment.In, spool);
        if (spool == nullptr || std::fclose(spool) != 0 || !copied) {
            return Fail(environment, input, "cannot take the photo from standard input");
        }
    }
    const std::string output =
        (folder.path() / (options.Format == OutputFormat::Png ? "result.png" : "result.jpg"))
            .string();
    FileResult result = ConvertFile(source, output, options, 0, cancel, FileObserver{});
    if (options.Verbosity > -2) {
        for (const std::string& warning : result.Warnings) {
            std::fprintf(environment.Err, "velora-batch: %s: warning: %s\n",
                         EscapeControls(input).c_str(), EscapeControls(warning).c_str());
        }
    }
    if (!result.LeftOut.empty()) {
        std::string names;
        for (const std::string& name : result.LeftOut) {
            names += (names.empty() ? "" : ", ") + name;
        }
        std::fprintf(environment.Err,
                     "velora-batch: %s: warning: saved without metadata the file cannot hold: %s\n",
                     EscapeControls(input).c_str(), names.c_str());
    }
    switch (result.Outcome) {
        case FileOutcome::Done:
            break;
        case FileOutcome::Cancelled:
            return ExitInterrupted;
        case FileOutcome::EarlierResult:
            return Fail(environment, input,
                        "a Velora result; nothing written (--include-results converts it)");
        default:
            return Fail(environment, input, result.Message);
    }
    std::FILE* made = std::fopen(output.c_str(), "rb");
    const bool written = made != nullptr && Copy(made, environment.Out);
    if (made != nullptr) {
        std::fclose(made);
    }
    return written ? ExitAllDone : Fail(environment, input, "cannot write to standard output");
}

}  // namespace velora::batch
