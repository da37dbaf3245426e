#include "OutputPlan.h"

#include <algorithm>
#include <filesystem>
#include <map>
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

// A file reached by one name only: resolving symbolic links already tells it apart.
bool HasOtherNames(const fs::path& path) {
    std::error_code error;
    std::uintmax_t links = fs::hard_link_count(path, error);
    return !error && links > 1;
}

struct Seen {
    fs::path Input;
    fs::path Output;
    bool InputHasOtherNames = false;
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

namespace {

// Walks `text`, handing each literal run and each field to `take`; false with the problem when
// a brace stands alone or a field is unknown.
template <typename Take>
bool ExpandTemplate(const std::string& text, std::string& problem, Take take) {
    static const char* const Fields[] = {"stem", "ext", "suffix", "folder"};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
            take(std::string(1, c), false);
            ++i;
        } else if (c == '{') {
            const std::size_t close = text.find('}', i);
            const std::string field =
                close == std::string::npos ? "" : text.substr(i + 1, close - i - 1);
            if (std::none_of(std::begin(Fields), std::end(Fields),
                             [&](const char* known) { return field == known; })) {
                problem = close == std::string::npos
                              ? "a '{' without its '}'"
                              : "no field {" + field + "} (stem, ext, suffix, folder)";
                return false;
            }
            take(field, true);
            i = close;
        } else if (c == '}') {
            problem = "a '}' without its '{'";
            return false;
        } else {
            take(std::string(1, c), false);
        }
    }
    return true;
}

}  // namespace

bool CheckNameTemplate(const std::string& text, std::string& problem) {
    std::string literal;
    if (!ExpandTemplate(text, problem, [&](const std::string& part, bool field) {
            literal += field ? "x" : part;
        })) {
        return false;
    }
    if (text.find('/') != std::string::npos || literal == "." || literal == ".." || text.empty()) {
        problem = "a file name is needed, without '/'";
        return false;
    }
    return true;
}

std::string TemplateFileName(const std::string& nameTemplate, const std::string& path,
                             OutputFormat format) {
    const fs::path input(path);
    const std::string fileName = input.filename().string();
    const std::string defaultName = OutputFileName(fileName, format);
    const std::size_t dot = fileName.rfind('.');
    const std::size_t resultDot = defaultName.rfind('.');
    const std::string stem =
        dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
    const std::string ext = defaultName.substr(resultDot + 1);
    std::error_code error;
    const fs::path folder = fs::absolute(input, error).parent_path().filename();
    std::string name;
    std::string problem;
    ExpandTemplate(nameTemplate, problem, [&](const std::string& part, bool field) {
        name += !field             ? part
                : part == "stem"   ? stem
                : part == "ext"    ? ext
                : part == "suffix" ? std::string("_vlr")
                                   : folder.string();
    });
    return name;
}

std::vector<PlannedFile> PlanOutputs(const BatchOptions& options) {
    std::vector<InputFile> inputs;
    for (const std::string& file : options.Files) {
        inputs.push_back({file, ""});
    }
    return PlanOutputs(options, inputs);
}

std::vector<PlannedFile> PlanOutputs(const BatchOptions& options,
                                     const std::vector<InputFile>& files) {
    std::vector<PlannedFile> plan;
    std::vector<Seen> seen;
    plan.reserve(files.size());
    seen.reserve(files.size());
    // Lookups by resolved path keep long runs fast; the slower same-file test is only needed
    // for the few files that have hard links.
    std::map<fs::path, std::size_t> inputs;
    std::vector<std::size_t> linkedInputs;
    for (const InputFile& input : files) {
        PlannedFile file;
        file.Input = input.Path;
        fs::path inputPath(input.Path);
        fs::path folder = options.OutputDir.empty() ? inputPath.parent_path()
                          : input.Folder.empty()    ? fs::path(options.OutputDir)
                                                    : fs::path(options.OutputDir) / input.Folder;
        fs::path outputPath =
            folder / (options.NameTemplate.empty()
                          ? OutputFileName(inputPath.filename().string(), options.Format)
                          : TemplateFileName(options.NameTemplate, input.Path, options.Format));
        file.Output = outputPath.string();
        Seen entry{Resolved(inputPath), Resolved(outputPath), HasOtherNames(inputPath)};
        inputs.emplace(entry.Input, seen.size());
        if (entry.InputHasOtherNames) {
            linkedInputs.push_back(seen.size());
        }
        seen.push_back(std::move(entry));
        plan.push_back(std::move(file));
    }
    // The earliest input that is the file at `path`, or none.
    constexpr std::size_t None = static_cast<std::size_t>(-1);
    auto inputAt = [&](const fs::path& path, bool otherNames) {
        auto found = inputs.find(path);
        std::size_t earliest = found != inputs.end() ? found->second : None;
        if (otherNames) {
            for (std::size_t j : linkedInputs) {
                if (j < earliest && SameFileOnDisk(seen[j].Input, path)) {
                    earliest = j;
                    break;
                }
            }
        }
        return earliest;
    };

    std::map<fs::path, std::size_t> claimed;
    std::error_code error;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        PlannedFile& file = plan[i];
        const Seen& self = seen[i];
        auto refuse = [&file](PlanAction action, std::string reason) {
            file.Action = action;
            file.Reason = std::move(reason);
        };
        if (fs::is_directory(self.Input, error)) {
            refuse(PlanAction::Refuse, "is a folder (-r converts the pictures in it)");
            continue;
        }
        const std::size_t first = inputAt(self.Input, self.InputHasOtherNames);
        if (first < i) {
            refuse(PlanAction::SkipDuplicate, "named again as '" + file.Input +
                                                  "', converted once as '" + plan[first].Input +
                                                  "'");
            continue;
        }
        auto rival = claimed.find(self.Output);
        if (rival != claimed.end()) {
            refuse(PlanAction::Refuse, "the result '" + file.Output +
                                           "' is already the result of '" +
                                           plan[rival->second].Input + "'");
            continue;
        }
        // Claimed even when skipped below, so that no later input takes over an existing result.
        claimed.emplace(self.Output, i);
        if (!options.Overwrite && fs::exists(fs::symlink_status(self.Output, error))) {
            refuse(PlanAction::SkipExisting,
                   "'" + file.Output + "' exists, skipped (--overwrite replaces it)");
            continue;
        }
        // Against every input of the run, not only this one: converting photo.jpg must not
        // replace photo_vlr.jpg when that is being converted too.
        const std::size_t victim = inputAt(self.Output, HasOtherNames(self.Output));
        if (victim != None) {
            refuse(PlanAction::Refuse,
                   victim == inputAt(self.Input, self.InputHasOtherNames)
                       ? "the result '" + file.Output + "' would replace this input"
                       : "the result '" + file.Output + "' would replace the input '" +
                             plan[victim].Input + "'");
        }
    }
    return plan;
}

}  // namespace velora::batch
