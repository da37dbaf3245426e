// Shared by the velora-batch tests: scratch folders, pictures made on the spot, running the tool
// in this process or as the real executable.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../engine/PictureHelpers.h"
#include "Batch.h"
#include "ImageFile.h"
#include "WorkingBitmap.h"

namespace velora::batch::testing {

namespace fs = std::filesystem;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "velora-batch-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            Path = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::remove_all(Path, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return Path; }
    std::string operator/(const std::string& name) const { return (Path / name).string(); }
    // Makes the subfolder `name` and gives its path.
    std::string Folder(const std::string& name) const {
        fs::create_directory(Path / name);
        return (Path / name).string();
    }

    // Every entry's name, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    fs::path Path;
};

// A photo-like test picture: gradients, a hard edge and per-pixel noise, so that a shifted or
// skipped pixel shows.
inline BitmapRef TexturedPicture(int width, int height, unsigned seed) {
    return test::ToBitmap(test::PhotoLikePlain(width, height, seed));
}

inline bool WriteJpeg(const std::string& path, int width, int height, unsigned seed) {
    return SaveJpeg(*TexturedPicture(width, height, seed), path, 90).Ok;
}

// `count` JPEGs named `prefix`0.jpg, `prefix`1.jpg, ... in `folder`, each its own picture.
inline std::vector<std::string> WriteJpegs(const fs::path& folder, const std::string& prefix,
                                           unsigned count, int width, int height) {
    std::vector<std::string> paths;
    for (unsigned i = 0; i < count; ++i) {
        paths.push_back((folder / (prefix + std::to_string(i) + ".jpg")).string());
        EXPECT_TRUE(WriteJpeg(paths.back(), width, height, i)) << paths.back();
    }
    return paths;
}

inline void SetModel(WorkingBitmap& bitmap, const std::string& model) {
    PropertyItem item;
    item.id = 0x0110;
    item.type = PropertyTagTypeASCII;
    item.value.assign(model.begin(), model.end());
    item.value.push_back(0);
    bitmap.SetPropertyItem(item);
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::size_t LineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

inline std::vector<std::string> Joined(std::vector<std::string> first,
                                       const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The text a terminal would show for `drawn`, without the escape sequences.
inline std::string Visible(const std::string& drawn) {
    std::string text;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        if (drawn[i] == '\x1b' && i + 1 < drawn.size() && drawn[i + 1] == '[') {
            i = drawn.find_first_of("ABCDHJKm", i + 2);
            if (i == std::string::npos) {
                break;
            }
            continue;
        }
        text += drawn[i];
    }
    return text;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every pixel, row by row, as ARGB.
inline std::vector<std::uint32_t> Pixels(WorkingBitmap& bitmap) {
    std::vector<std::uint32_t> pixels;
    for (unsigned y = 0; y < bitmap.Height(); ++y) {
        for (unsigned x = 0; x < bitmap.Width(); ++x) {
            Argb colour = 0;
            bitmap.GetPixel(static_cast<int>(x), static_cast<int>(y), &colour);
            pixels.push_back(colour);
        }
    }
    return pixels;
}

inline BitmapRef Load(const std::string& path) {
    return LoadBitmapFromFile(path).Bitmap;
}

struct RunOutput {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

inline std::string ReadStream(std::FILE* stream) {
    std::string text;
    std::rewind(stream);
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
        text.append(buffer, count);
    }
    return text;
}

// RunBatch in this process, its streams caught in temporary files; stderr is no terminal, and
// standard input holds `input`.
inline RunOutput RunInProcess(const std::vector<std::string>& arguments, unsigned cores = 2,
                              const std::atomic<int>* cancel = nullptr,
                              const std::string& input = "", MemoryBudget* budget = nullptr) {
    RunOutput output;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    BatchEnvironment environment;
    environment.In = in;
    environment.Out = out;
    environment.Err = err;
    environment.Cores = cores;
    environment.Cancel = cancel;
    environment.Budget = budget;
    output.ExitCode = RunBatch(arguments, environment);
    output.Out = ReadStream(out);
    output.Err = ReadStream(err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return output;
}

// Every file below `root`, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), root).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

inline std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

inline std::string ToolPath() {
    return VELORA_BATCH_PROGRAM;
}

// The real executable, with stdout and stderr going to files (so neither is a terminal).
inline RunOutput RunTool(const std::vector<std::string>& arguments, const ScratchFolder& scratch) {
    std::string command = Quoted(ToolPath());
    for (const std::string& argument : arguments) {
        command += " " + Quoted(argument);
    }
    const std::string outPath = scratch.path().string() + ".out";
    const std::string errPath = scratch.path().string() + ".err";
    command += " >" + Quoted(outPath) + " 2>" + Quoted(errPath) + " </dev/null";
    RunOutput output;
    int status = std::system(command.c_str());
    output.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    output.Out = ReadBytes(outPath);
    output.Err = ReadBytes(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return output;
}

inline std::string Photo(const std::string& name) {
    return std::string(VELORA_PHOTOS_DIR) + "/" + name;
}

inline bool PhotosPresent() {
    return fs::is_directory(VELORA_PHOTOS_DIR);
}

}  // namespace velora::batch::testing
