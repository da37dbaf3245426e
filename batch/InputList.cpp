#include "InputList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "PictureKinds.h"

namespace velora::batch {

namespace fs = std::filesystem;

namespace {

bool ReadAll(std::FILE* stream, std::string& text) {
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
        text.append(buffer, count);
    }
    return std::ferror(stream) == 0;
}

bool ReadList(const std::string& name, std::FILE* standardInput, std::string& text,
              std::string& error) {
    if (name == "-") {
        if (standardInput == nullptr || !ReadAll(standardInput, text)) {
            error = "cannot read the list of files from standard input";
            return false;
        }
        return true;
    }
    std::error_code code;
    if (fs::is_directory(name, code)) {
        error = "cannot read the list of files '" + name + "': it is a folder";
        return false;
    }
    std::FILE* stream = std::fopen(name.c_str(), "rb");
    if (stream == nullptr) {
        error = "cannot read the list of files '" + name + "': " + std::strerror(errno);
        return false;
    }
    const bool ok = ReadAll(stream, text);
    std::fclose(stream);
    if (!ok) {
        error = "cannot read the list of files '" + name + "'";
    }
    return ok;
}

// The pictures below `root`, depth first with the names of each folder sorted, so that every run
// plans the same files in the same order. Each keeps `kept` / its folder below `root`.
void Walk(const fs::path& root, const fs::path& below, const fs::path& kept,
          CollectedInputs& inputs) {
    std::error_code error;
    fs::directory_iterator entries(root / below, error);
    if (error) {
        inputs.Problems.push_back("'" + (root / below).string() +
                                  "': cannot read the folder: " + error.message());
        return;
    }
    std::vector<fs::directory_entry> sorted;
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        sorted.push_back(*entries);
    }
    if (error) {
        // What was read before the failure is still converted.
        inputs.Problems.push_back("'" + (root / below).string() +
                                  "': cannot read the whole folder: " + error.message());
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename() < b.path().filename();
              });
    for (const fs::directory_entry& entry : sorted) {
        const std::string name = entry.path().filename().string();
        std::error_code statusError;
        if (entry.is_symlink(statusError) && entry.is_directory(statusError)) {
            continue;  // a link back up the tree would never end
        }
        if (entry.is_directory(statusError)) {
            if (name[0] != '.') {
                Walk(root, below / name, kept, inputs);
            }
            continue;
        }
        if (WalkTakes(name)) {
            inputs.Files.push_back({entry.path().string(), (kept / below).string()});
        }
    }
}

// The name a root folder keeps under -o: its own ("photos/" and "./photos" give "photos"), or
// for "." and ".." the name of the folder they stand for.
fs::path RootName(const std::string& root) {
    fs::path name = fs::path(root).lexically_normal();
    if (!name.has_filename()) {
        name = name.parent_path();  // a trailing "/"
    }
    name = name.filename();
    if (name.empty() || name == "." || name == "..") {
        std::error_code error;
        name = fs::weakly_canonical(fs::absolute(root, error), error).filename();
    }
    return name;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& text, bool nullSeparated) {
    const char separator = nullSeparated ? '\0' : '\n';
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            entries.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return entries;
}

bool WalkTakes(const std::string& name) {
    if (name.empty() || name[0] == '.') {
        return false;
    }
    // A result has "_vlr" just before its first dot ("photo_vlr.jpg"), or in front when the
    // photo's name had no dot ("_vlrphoto.jpg").
    const std::string stem = name.substr(0, name.find('.'));
    if (name.compare(0, 4, "_vlr") == 0 ||
        (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, "_vlr") == 0)) {
        return false;
    }
    const std::size_t lastDot = name.rfind('.');
    if (lastDot == std::string::npos) {
        return false;
    }
    // The kinds of picture that open, by the names the window's Open dialog lists.
    return IsPictureExtension(name.substr(lastDot + 1));
}

CollectedInputs CollectInputs(const BatchOptions& options, std::FILE* standardInput) {
    CollectedInputs inputs;
    std::vector<std::string> names = options.Files;
    for (const std::string& list : options.FilesFrom) {
        std::string text;
        if (!ReadList(list, standardInput, text, inputs.ListError)) {
            return inputs;
        }
        std::vector<std::string> entries = SplitList(text, options.NullSeparated);
        names.insert(names.end(), entries.begin(), entries.end());
    }
    std::size_t roots = 0;
    for (const std::string& name : names) {
        std::error_code error;
        roots += options.Recursive && fs::is_directory(name, error) ? 1 : 0;
    }
    for (const std::string& name : names) {
        std::error_code error;
        if (options.Recursive && fs::is_directory(name, error)) {
            // Several roots each keep their own name, so that d1/a.jpg and d2/a.jpg stay apart.
            Walk(fs::path(name), fs::path(), roots > 1 ? RootName(name) : fs::path(), inputs);
        } else {
            inputs.Files.push_back({name, ""});
        }
    }
    return inputs;
}

}  // namespace velora::batch
