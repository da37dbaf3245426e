// Helpers shared by the picture-file tests: temporary folders, outside tools, patterned pictures.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "WorkingBitmap.h"

namespace velora::test {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "velora-test-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) != nullptr) {
            Path = name.data();
        }
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    std::string File(const std::string& name) const { return (fs::path(Path) / name).string(); }
    std::string Path;
};

inline std::string PhotosDir() {
    return VELORA_PHOTOS_DIR;
}
inline bool HavePhotos() {
    return fs::is_directory(PhotosDir());
}
inline std::string Photo(const std::string& relative) {
    return PhotosDir() + "/" + relative;
}

inline std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// Standard output of a shell command (standard error is folded in when `withErrors`).
inline std::string Run(const std::string& command, bool withErrors = false) {
    const std::string full = command + (withErrors ? " 2>&1" : " 2>/dev/null");
    std::string output;
    if (std::FILE* pipe = ::popen(full.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, got);
        }
        ::pclose(pipe);
    }
    return output;
}

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// exiftool's view of a file: "[Group] Tag" -> value, every group, values unformatted.
inline std::map<std::string, std::string> ExifTags(const std::string& path) {
    std::map<std::string, std::string> tags;
    std::istringstream lines(Run("exiftool -a -G1 -s -n -q " + Quote(path)));
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(" : ");
        if (colon == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(' ') + 1);
        const std::size_t bracket = key.find(']');
        if (bracket != std::string::npos) {
            const std::size_t name = key.find_first_not_of(' ', bracket + 1);
            key = key.substr(0, bracket + 1) + " " +
                  key.substr(name == std::string::npos ? key.size() : name);
        }
        tags[key] = line.substr(colon + 3);
    }
    return tags;
}

// exiftool's and exiv2's complaints about a file, one line each; empty when both read it
// cleanly. exiftool's summary line (its counts) is left out so that sets can be compared.
inline std::set<std::string> MetadataWarnings(const std::string& path) {
    std::set<std::string> complaints;
    std::istringstream lines(Run("exiftool -validate -warning -a " + Quote(path)));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Warning", 0) == 0 || line.rfind("Error", 0) == 0) {
            complaints.insert("exiftool: " + line);
        }
    }
    std::istringstream exiv2(Run("exiv2 -pa " + Quote(path) + " 2>&1 >/dev/null"));
    while (std::getline(exiv2, line)) {
        complaints.insert("exiv2: " + line);
    }
    return complaints;
}

// Each pixel's colour tells its position, so a shift, a swap or a lost edge shows at once.
inline Argb PatternColour(int x, int y) {
    return 0xFF000000u | (static_cast<Argb>((x * 7 + y) & 0xFF) << 16) |
           (static_cast<Argb>((y * 5) & 0xFF) << 8) | static_cast<Argb>((x + 3 * y) & 0xFF);
}

inline BitmapRef PatternBitmap(int width, int height) {
    BitmapRef bitmap = WorkingBitmap::CreateBlank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap->SetPixel(x, y, PatternColour(x, y));
        }
    }
    return bitmap;
}

// A smooth picture, the kind a JPEG encoder keeps close.
inline BitmapRef SmoothBitmap(int width, int height) {
    BitmapRef bitmap = WorkingBitmap::CreateBlank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Argb r = static_cast<Argb>(40 + 150 * x / width);
            const Argb g = static_cast<Argb>(60 + 120 * y / height);
            const Argb b = static_cast<Argb>(200 - 100 * (x + y) / (width + height));
            bitmap->SetPixel(x, y, 0xFF000000u | (r << 16) | (g << 8) | b);
        }
    }
    return bitmap;
}

// Mean absolute difference of the channels of two pictures of the same size.
inline double MeanDifference(WorkingBitmap& a, WorkingBitmap& b) {
    double sum = 0;
    const int w = static_cast<int>(a.Width());
    const int h = static_cast<int>(a.Height());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Argb p = 0, q = 0;
            a.GetPixel(x, y, &p);
            b.GetPixel(x, y, &q);
            for (int shift = 0; shift < 24; shift += 8) {
                sum += std::abs(static_cast<int>((p >> shift) & 0xFF) -
                                static_cast<int>((q >> shift) & 0xFF));
            }
        }
    }
    return sum / (3.0 * w * h);
}

#define VELORA_NEED_PHOTOS()                   \
    do {                                       \
        if (!::velora::test::HavePhotos())     \
            GTEST_SKIP() << "no photo folder"; \
    } while (0)

#define VELORA_NEED_TOOL(name)               \
    do {                                     \
        if (!::velora::test::HaveTool(name)) \
            GTEST_SKIP() << "no " name;      \
    } while (0)

// ImageMagick's decode of a file's first picture as 8-bit samples, laid over white here by the
// blend c * a + 255 * (1 - a) on the stored values: the independent reference.
inline std::vector<std::uint8_t> ReferenceRgb(const std::string& path) {
    const std::string out = Run("convert " + Quote(path + "[0]") + " -depth 8 rgba:-");
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i + 3 < out.size(); i += 4) {
        const unsigned a = static_cast<std::uint8_t>(out[i + 3]);
        for (int c = 0; c < 3; ++c) {
            const unsigned v = static_cast<std::uint8_t>(out[i + c]);
            rgb.push_back(static_cast<std::uint8_t>((v * a + 255 * (255 - a) + 127) / 255));
        }
    }
    return rgb;
}

// Largest channel difference between a picture and packed RGB samples; 1000 when the sizes differ.
inline int MaxDifferenceToRgb(WorkingBitmap& bitmap, const std::vector<std::uint8_t>& rgb) {
    const int w = static_cast<int>(bitmap.Width());
    const int h = static_cast<int>(bitmap.Height());
    if (w == 0 || rgb.size() != static_cast<std::size_t>(3 * w * h)) {
        return 1000;
    }
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Argb c = 0;
            bitmap.GetPixel(x, y, &c);
            const std::uint8_t* ref = &rgb[3 * (static_cast<std::size_t>(y) * w + x)];
            const int got[3] = {static_cast<int>((c >> 16) & 0xFF),
                                static_cast<int>((c >> 8) & 0xFF), static_cast<int>(c & 0xFF)};
            for (int i = 0; i < 3; ++i) {
                worst = std::max(worst, std::abs(got[i] - ref[i]));
            }
        }
    }
    return worst;
}

}  // namespace velora::test
