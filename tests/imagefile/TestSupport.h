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

#include "ImageFile.h"
#include "WorkingBitmap.h"

namespace velora::test {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        std::string name = (fs::temp_directory_path() / "velora-test-XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr) {
            Path = name;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    std::string File(const std::string& name) const { return (fs::path(Path) / name).string(); }
    std::string Path;
};

inline bool HavePhotos() {
    return fs::is_directory(VELORA_PHOTOS_DIR);
}
inline std::string Photo(const std::string& relative) {
    return std::string(VELORA_PHOTOS_DIR) + "/" + relative;
}

inline std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
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
    for (std::string line, group, name; std::getline(lines, line);) {
        const std::size_t colon = line.find(" : ");
        if (colon != std::string::npos &&
            std::istringstream(line.substr(0, colon)) >> group >> name) {
            tags[group + " " + name] = line.substr(colon + 3);
        }
    }
    return tags;
}

// exiftool's and exiv2's complaints about a file, one line each; empty when both read it
// cleanly. exiftool's summary line (its counts) is left out so that sets can be compared.
inline std::set<std::string> MetadataWarnings(const std::string& path) {
    std::set<std::string> complaints;
    std::istringstream lines(Run("exiftool -validate -warning -a " + Quote(path)));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Warning", 0) == 0 || line.rfind("Error", 0) == 0) {
            complaints.insert("exiftool: " + line);
        }
    }
    std::istringstream exiv2(Run("exiv2 -pa " + Quote(path) + " 2>&1 >/dev/null"));
    for (std::string line; std::getline(exiv2, line);) {
        complaints.insert("exiv2: " + line);
    }
    return complaints;
}

// A copy of a whole picture, as the window works on one.
inline BitmapRef Copy(WorkingBitmap& bitmap) {
    return bitmap.Clone(0, 0, static_cast<int>(bitmap.Width()), static_cast<int>(bitmap.Height()));
}

// `path` loaded and held as a copy of its own, as the window holds what it opened.
inline BitmapRef OpenCopy(const std::string& path) {
    LoadResult r = LoadBitmapFromFile(path);
    EXPECT_NE(r.Bitmap, nullptr) << path << ": " << r.Message;
    return r.Bitmap ? Copy(*r.Bitmap) : nullptr;
}

// Each pixel's colour tells its position, so a shift, a swap or a lost edge shows at once.
inline Argb PatternColour(int x, int y) {
    return 0xFF000000u | (static_cast<Argb>((x * 7 + y) & 0xFF) << 16) |
           (static_cast<Argb>((y * 5) & 0xFF) << 8) | static_cast<Argb>((x + 3 * y) & 0xFF);
}

// A picture whose every pixel is `colour(x, y)`.
template <typename Colour>
BitmapRef FilledBitmap(int width, int height, Colour colour) {
    BitmapRef bitmap = WorkingBitmap::CreateBlank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap->SetPixel(x, y, colour(x, y));
        }
    }
    return bitmap;
}

inline BitmapRef PatternBitmap(int width, int height) {
    return FilledBitmap(width, height, PatternColour);
}

// A smooth picture, the kind a JPEG encoder keeps close.
inline BitmapRef SmoothBitmap(int width, int height) {
    return FilledBitmap(width, height, [&](int x, int y) {
        const Argb r = static_cast<Argb>(40 + 150 * x / width);
        const Argb g = static_cast<Argb>(60 + 120 * y / height);
        const Argb b = static_cast<Argb>(200 - 100 * (x + y) / (width + height));
        return 0xFF000000u | (r << 16) | (g << 8) | b;
    });
}

// Every pixel of `bitmap` is `expected(x, y)`; the first few that are not are named.
template <typename Colour>
void ExpectPixels(WorkingBitmap& bitmap, Colour expected) {
    int wrong = 0;
    for (int y = 0; y < static_cast<int>(bitmap.Height()); ++y) {
        for (int x = 0; x < static_cast<int>(bitmap.Width()); ++x) {
            Argb got = 0;
            bitmap.GetPixel(x, y, &got);
            if (got != expected(x, y) && ++wrong <= 3) {
                ADD_FAILURE() << "(" << x << ", " << y << "): " << std::hex << got << " not "
                              << expected(x, y);
            }
        }
    }
}

// The picture's samples as a lock hands them out (blue, green, red), rows unpadded; empty when
// it has none.
inline std::vector<std::uint8_t> Samples(WorkingBitmap& bitmap) {
    const int w = static_cast<int>(bitmap.Width());
    const int h = static_cast<int>(bitmap.Height());
    BitmapData data;
    if (w == 0 || bitmap.LockBits({0, 0, w, h}, ImageLockModeRead, PixelFormat24bppRGB, &data) !=
                      Status::Ok) {
        return {};
    }
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride;
        samples.insert(samples.end(), row, row + 3 * w);
    }
    bitmap.UnlockBits(&data);
    return samples;
}

// Mean absolute difference of the channels of two pictures of the same size.
inline double MeanDifference(WorkingBitmap& a, WorkingBitmap& b) {
    const std::vector<std::uint8_t> p = Samples(a), q = Samples(b);
    double sum = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        sum += std::abs(static_cast<int>(p[i]) - static_cast<int>(q.at(i)));
    }
    return sum / static_cast<double>(p.size());
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
    const std::vector<std::uint8_t> bgr = Samples(bitmap);
    if (bgr.empty() || bgr.size() != rgb.size()) {
        return 1000;
    }
    int worst = 0;
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        const std::size_t same = i - i % 3 + 2 - i % 3;  // the channel's place in blue-green-red
        worst = std::max(worst, std::abs(static_cast<int>(bgr[same]) - static_cast<int>(rgb[i])));
    }
    return worst;
}

// `bytes`, a JPEG, with an application segment of `marker` and `payload` after its start.
template <typename Payload>
void InsertSegment(std::vector<std::uint8_t>& bytes, std::uint8_t marker, const Payload& payload) {
    const std::size_t length = payload.size() + 2;
    std::vector<std::uint8_t> segment = {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length)};
    segment.insert(segment.end(), payload.begin(), payload.end());
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
}

inline std::string Crafted(const std::string& name) {
    return std::string(VELORA_CORRUPT_DIR) + "/" + name;
}

}  // namespace velora::test
