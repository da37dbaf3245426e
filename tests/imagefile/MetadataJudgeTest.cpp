// exiftool judges what the saved files keep. For every real photo, the tags of the original that
// exiftool itself keeps when it rewrites the file without the thumbnail and with another model
// must come back from the JPEG road and from the PNG road with the same values; the model must
// be the stored text followed by ", vlr3"; and neither exiftool nor exiv2 may find a fault in a
// saved file that they do not find in the original.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <regex>
#include <sstream>

#include "ImageFile.h"
#include "TestSupport.h"

namespace velora {
namespace {

namespace fs = std::filesystem;
using test::Quote;

// exiftool's groups by family 0 and 1 and the tag's name -> every value it has there (a tag
// may stand twice, as Canon's CameraTemperature does), and where in the file each came from.
struct Tags {
    std::map<std::string, std::multiset<std::string>> Values;
    std::map<std::string, std::string> Paths;
    std::size_t Count() const {
        std::size_t n = 0;
        for (const auto& [key, values] : Values) {
            n += values.size();
        }
        return n;
    }
};

// Keys from `exiftool -G0:1:4:5 -api SavePath` look like "MakerNotes:Canon:Copy1:JPEG-APP1-
// IFD0-ExifIFD-MakerNotes:CameraTemperature"; family 1 is left out where it equals family 0.
std::map<std::string, Tags> ReadTags(const std::vector<std::string>& files,
                                     const std::string& folder) {
    const std::string list = folder + "/files.txt";
    std::ofstream(list) << [&] {
        std::string text;
        for (const std::string& f : files) {
            text += f + "\n";
        }
        return text;
    }();
    const nlohmann::json all = nlohmann::json::parse(
        test::Run("exiftool -j -a -G0:1:4:5 -api SavePath -n -b -q -q -@ " + Quote(list)), nullptr,
        false);
    static const std::regex copy("Copy[0-9]+");
    std::map<std::string, Tags> result;
    if (!all.is_array()) {
        return result;
    }
    for (const auto& file : all) {
        Tags tags;
        for (const auto& [key, value] : file.items()) {
            std::vector<std::string> parts;
            std::stringstream split(key);
            for (std::string part; std::getline(split, part, ':');) {
                parts.push_back(part);
            }
            if (parts.size() < 2) {
                continue;
            }
            std::vector<std::string> groups;
            std::string path;
            for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
                if (i > 0 && (parts[i].rfind("JPEG", 0) == 0 || parts[i].rfind("PNG", 0) == 0)) {
                    path = parts[i];
                } else if (!std::regex_match(parts[i], copy)) {
                    groups.push_back(parts[i]);
                }
            }
            const std::string g1 = groups.size() > 1 ? groups[1] : groups[0];
            const std::string name = groups[0] + ":" + g1 + ":" + parts.back();
            tags.Values[name].insert(value.dump());
            tags.Paths[name] = path;
        }
        result[file.value("SourceFile", "")] = std::move(tags);
    }
    return result;
}

// What no saved file keeps, by exiftool's family 0 and 1: the file's own description, the
// thumbnail (IFD1), the PNG chunks that describe the file, Adobe's note on the old colour
// transform, and the multi-picture index with the pictures after the end (other pictures, not
// metadata of this one).
bool NeverKept(const std::string& g0, const std::string& g1) {
    return g0 == "ExifTool" || g0 == "File" || g0 == "Composite" || g0 == "MPF" || g0 == "APP14" ||
           g0 == "PNG" || g1 == "IFD1";
}

std::string Group(const std::string& key, int family) {
    const std::size_t first = key.find(':');
    return family == 0 ? key.substr(0, first) : key.substr(first + 1, key.rfind(':') - first - 1);
}

// The tags that describe the photo rather than the file.
std::size_t Described(const Tags& tags) {
    std::size_t n = 0;
    for (const auto& [key, values] : tags.Values) {
        if (!NeverKept(Group(key, 0), Group(key, 1))) {
            n += values.size();
        }
    }
    return n;
}

// A PNG holds EXIF, XMP and an RGB profile. JPEG's own segments (JFIF, IPTC, Photoshop, FLIR's,
// comments) and a trailer after the picture's end have no place in it.
bool PngHolds(const std::string& g0, const std::string& path) {
    return (g0 == "EXIF" || g0 == "MakerNotes" || g0 == "XMP" || g0 == "ICC_Profile") &&
           path.find("Trailer") == std::string::npos;
}

// A profile of another colour space than RGB describes colours the saved picture no longer has.
bool RgbProfile(const Tags& tags) {
    auto found = tags.Values.find("ICC_Profile:ICC-header:ColorSpaceData");
    return found == tags.Values.end() || *found->second.begin() == "\"RGB \"";
}

// Complaints with their numbers masked: the same fault at another offset is the same fault.
std::set<std::string> Kinds(const std::string& text) {
    std::set<std::string> kinds;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Warning", 0) != 0 && line.rfind("Error", 0) != 0) {
            continue;
        }
        std::string kind;
        for (char c : line) {
            if (std::isdigit(static_cast<unsigned char>(c))) {
                if (kind.empty() || kind.back() != '#') {
                    kind += '#';
                }
            } else {
                kind += c;
            }
        }
        kinds.insert(kind);
    }
    return kinds;
}

std::map<std::string, std::set<std::string>> ExiftoolComplaints(
    const std::vector<std::string>& files, const std::string& folder) {
    const std::string list = folder + "/validate.txt";
    std::ofstream out(list);
    for (const std::string& f : files) {
        out << f << "\n";
    }
    out.close();
    std::map<std::string, std::set<std::string>> result;
    std::istringstream lines(test::Run("exiftool -validate -warning -a -@ " + Quote(list)));
    std::string current;
    std::string text;
    auto flush = [&] {
        if (!current.empty()) {
            result[current] = Kinds(text);
        }
    };
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("======== ", 0) == 0) {
            flush();
            current = line.substr(9);
            text.clear();
        } else {
            text += line + "\n";
        }
    }
    flush();
    return result;
}

std::set<std::string> Exiv2Complaints(const std::string& file) {
    std::set<std::string> kinds;
    for (const std::string& kind :
         Kinds(test::Run("exiv2 -pa " + Quote(file) + " 2>&1 >/dev/null"))) {
        kinds.insert("exiv2 " + kind);
    }
    return kinds;
}

// exiv2 shows the model as stored, trailing blanks included; one line per file, after its name.
std::map<std::string, std::string> StoredModels(const std::vector<std::string>& files) {
    std::string command = "exiv2 -g Exif.Image.Model -Pv";
    for (const std::string& f : files) {
        command += " " + Quote(f);
    }
    std::map<std::string, std::string> models;
    std::istringstream lines(test::Run(command));
    for (std::string line; std::getline(lines, line);) {
        for (const std::string& f : files) {
            if (line.rfind(f + "  ", 0) == 0) {
                models[f] = line.substr(f.size() + 2);
            }
        }
    }
    return models;
}

struct Case {
    std::string Source;
    std::string Folder;
    std::string Rewrite;
    std::string Jpeg;
    std::string Png;
};

TEST(MetadataJudge, EveryTagExiftoolKeepsComesBackFromBothRoads) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("exiftool");
    VELORA_NEED_TOOL("exiv2");
    test::TempDir dir;
    std::vector<std::string> sources;
    for (const char* folder : {"camera", "special"}) {
        for (const auto& entry : fs::recursive_directory_iterator(test::Photo(folder))) {
            if (entry.is_regular_file()) {
                sources.push_back(entry.path().string());
            }
        }
    }
    // A maker note whose own inner offset is bad still travels.
    sources.push_back(test::Photo("broken/exif_bad_makernote_offset_sanyo_s1.JPG"));
    std::sort(sources.begin(), sources.end());

    std::vector<Case> cases;
    std::ofstream rewrites(dir.File("rewrite.args"));
    for (const std::string& source : sources) {
        LoadResult loaded = LoadBitmapFromFile(source);
        if (!loaded.Bitmap) {
            continue;  // a 12-bit file, which this program does not open
        }
        Case c;
        c.Source = source;
        c.Folder = fs::path(source).lexically_relative(test::PhotosDir()).begin()->string();
        const std::string stem = std::to_string(cases.size());
        c.Rewrite = dir.File(stem + "_exiftool.jpg");
        c.Jpeg = dir.File(stem + ".jpg");
        c.Png = dir.File(stem + ".png");
        // The sharpened picture is a new bitmap without metadata; its size does not matter.
        for (auto [path, format] :
             {std::pair{c.Jpeg, PictureFormat::Jpeg}, std::pair{c.Png, PictureFormat::Png}}) {
            BitmapRef converted = WorkingBitmap::CreateBlank(8, 8);
            SaveResult saved = SaveConvertedPicture(*converted, *loaded.Bitmap, path,
                                                    ExistingTarget::Replace, format);
            ASSERT_TRUE(saved.Ok) << source << ": " << saved.Message;
            // A PNG names the segments and trailers it has no place for.
            EXPECT_TRUE(format == PictureFormat::Png || saved.LeftOut.empty())
                << source << " left out " << saved.LeftOut[0];
        }
        rewrites << "-o\n" << c.Rewrite << "\n" << source << "\n-execute\n";
        cases.push_back(c);
    }
    rewrites.close();
    ASSERT_GE(cases.size(), 60u);
    // One exiftool for every rewrite. A file it refuses to write has no rewrite; the original
    // itself is then the reference.
    test::Run("exiftool -q -q -@ " + Quote(dir.File("rewrite.args")) +
              " -common_args -IFD1:all= -Model=x");

    std::vector<std::string> all;
    for (const Case& c : cases) {
        all.insert(all.end(), {c.Source, c.Rewrite, c.Jpeg, c.Png});
    }
    std::map<std::string, Tags> tags = ReadTags(all, dir.Path);
    std::map<std::string, std::set<std::string>> complaints = ExiftoolComplaints(all, dir.Path);
    std::map<std::string, std::string> models = StoredModels(all);

    struct Totals {
        int Photos = 0;
        std::size_t Before = 0, Rewrite = 0, Jpeg = 0, Png = 0, Required = 0;
    };
    std::map<std::string, Totals> totals;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Source);
        const Tags& before = tags[c.Source];
        const Tags& rewrite = tags.count(c.Rewrite) ? tags[c.Rewrite] : before;
        const Tags& jpeg = tags[c.Jpeg];
        const Tags& png = tags[c.Png];
        Totals& t = totals[c.Folder];
        ++t.Photos;
        t.Before += Described(before);
        t.Rewrite += Described(rewrite);
        t.Jpeg += Described(jpeg);
        t.Png += Described(png);
        for (const auto& [key, values] : before.Values) {
            const std::string g0 = Group(key, 0);
            if (NeverKept(g0, Group(key, 1)) || key == "EXIF:IFD0:Model" ||
                (g0 == "ICC_Profile" && !RgbProfile(before))) {
                continue;
            }
            auto kept = rewrite.Values.find(key);
            if (kept == rewrite.Values.end()) {
                continue;  // exiftool itself cannot keep it
            }
            std::multiset<std::string> required;
            std::set_intersection(values.begin(), values.end(), kept->second.begin(),
                                  kept->second.end(), std::inserter(required, required.end()));
            t.Required += required.size();
            for (const auto& [road, saved] :
                 {std::pair<std::string, const Tags*>{"JPEG", &jpeg}, {"PNG", &png}}) {
                if (road == "PNG" && !PngHolds(g0, before.Paths.at(key))) {
                    continue;
                }
                auto got = saved->Values.find(key);
                const std::multiset<std::string> none;
                const std::multiset<std::string>& have =
                    got == saved->Values.end() ? none : got->second;
                EXPECT_TRUE(
                    std::includes(have.begin(), have.end(), required.begin(), required.end()))
                    << road << " " << key << ": " << *required.begin() << " became "
                    << (have.empty() ? std::string("(lost)") : *have.begin());
            }
        }
        const std::string model = models.count(c.Source) ? models[c.Source] : "";
        EXPECT_EQ(models[c.Jpeg], model + ", vlr3");
        EXPECT_EQ(models[c.Png], model + ", vlr3");
        // A file that had no EXIF gets the model alone, without the resolution tags that the
        // validator asks of a JPEG's IFD0: nothing is made up.
        if (before.Values.count("EXIF:IFD0:Model") != 0) {
            const std::set<std::string> original = Exiv2Complaints(c.Source);
            for (const std::string& saved : {c.Jpeg, c.Png}) {
                for (const std::string& kind : complaints[saved]) {
                    EXPECT_TRUE(complaints[c.Source].count(kind)) << saved << " gained " << kind;
                }
                for (const std::string& kind : Exiv2Complaints(saved)) {
                    EXPECT_TRUE(original.count(kind)) << saved << " gained " << kind;
                }
            }
        }
    }
    for (const auto& [folder, t] : totals) {
        std::cout << folder << ": " << t.Photos << " photos; exiftool counts " << t.Before
                  << " tags in the originals, " << t.Rewrite << " in its own rewrites, " << t.Jpeg
                  << " in the saved JPEGs, " << t.Png << " in the saved PNGs; " << t.Required
                  << " must come back\n";
    }
}

}  // namespace
}  // namespace velora
