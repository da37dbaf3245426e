#include "OutputPlan.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ImageFile.h"

namespace velora::batch {

namespace fs = std::filesystem;

namespace {

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

// The absolute, symlink-free form of a path that may not exist yet.
fs::path Resolved(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error) {
        absolute = path;
    }
    fs::path canonical = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
}

bool SameFileOnDisk(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

struct Seen {
    fs::path Input;
    fs::path Output;
    std::string InputArgument;
    bool Claims = false;  // whether Output will be written by this run
};

}  // namespace

std::string OutputFileName(const std::string& fileName, OutputFormat format) {
    std::string name = InsertVlrSuffix(fileName);
    std::size_t dot = fileName.rfind('.');
    std::string extension = dot == std::string::npos ? "" : Lowered(fileName.substr(dot + 1));
    bool keep = format == OutputFormat::Jpeg
                    ? extension == "jpg" || extension == "jpeg" || extension == "jpe"
                    : extension == "png";
    if (keep) {
        return name;
    }
    // The suffix went in before the first ".", so the last extension sits at the end of `name`
    // exactly as in `fileName`.
    if (dot != std::string::npos) {
        name.resize(name.size() - (fileName.size() - dot));
    }
    return name + (format == OutputFormat::Jpeg ? ".jpg" : ".png");
}

std::vector<PlannedFile> PlanOutputs(const BatchOptions& options) {
    std::vector<PlannedFile> plan;
    std::vector<Seen> seen;
    plan.reserve(options.Files.size());
    seen.reserve(options.Files.size());

    for (const std::string& input : options.Files) {
        PlannedFile file;
        file.Input = input;
        fs::path inputPath(input);
        fs::path folder =
            options.OutputDir.empty() ? inputPath.parent_path() : fs::path(options.OutputDir);
        fs::path outputPath =
            folder / OutputFileName(inputPath.filename().string(), options.Format);
        file.Output = outputPath.string();
        Seen entry{Resolved(inputPath), Resolved(outputPath), input, false};
        seen.push_back(entry);
        plan.push_back(std::move(file));
    }

    std::error_code error;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        PlannedFile& file = plan[i];
        Seen& self = seen[i];
        auto refuse = [&file](PlanAction action, std::string reason) {
            file.Action = action;
            file.Reason = std::move(reason);
        };
        if (fs::is_directory(self.Input, error)) {
            refuse(PlanAction::Refuse, "is a folder");
            continue;
        }
        auto earlier = std::find_if(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(i),
                                    [&self](const Seen& other) {
                                        return other.Input == self.Input ||
                                               SameFileOnDisk(other.Input, self.Input);
                                    });
        if (earlier != seen.begin() + static_cast<std::ptrdiff_t>(i)) {
            refuse(PlanAction::SkipDuplicate, "named again as '" + self.InputArgument +
                                                  "', converted once as '" +
                                                  earlier->InputArgument + "'");
            continue;
        }
        auto rival = std::find_if(
            seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(i),
            [&self](const Seen& other) { return other.Claims && other.Output == self.Output; });
        if (rival != seen.begin() + static_cast<std::ptrdiff_t>(i)) {
            refuse(PlanAction::Refuse, "the result '" + file.Output +
                                           "' is already the result of '" + rival->InputArgument +
                                           "'");
            continue;
        }
        // Claimed even when skipped below, so that no later input takes over an existing result.
        self.Claims = true;
        if (!options.Overwrite && fs::exists(fs::symlink_status(self.Output, error))) {
            refuse(PlanAction::SkipExisting,
                   "'" + file.Output + "' exists, skipped (--overwrite replaces it)");
            continue;
        }
        // Against every input of the run, not only this one: converting photo.jpg must not
        // replace photo_vlr.jpg when that is being converted too.
        auto victim = std::find_if(seen.begin(), seen.end(), [&self](const Seen& other) {
            return other.Input == self.Output || SameFileOnDisk(other.Input, self.Output);
        });
        if (victim != seen.end()) {
            refuse(PlanAction::Refuse,
                   victim->Input == self.Input || SameFileOnDisk(victim->Input, self.Input)
                       ? "the result '" + file.Output + "' would replace this input"
                       : "the result '" + file.Output + "' would replace the input '" +
                             victim->InputArgument + "'");
        }
    }
    return plan;
}

}  // namespace velora::batch
