// exiftool judges what the saved files keep. For every input, of every format, and both
// outputs, exiftool rebuilds the saved picture itself: it strips Velora's file of its metadata
// and copies the original's onto it (-tagsfromfile ORIG -all:all -unsafe -icc_profile). Every
// tag that rebuild holds must be in Velora's file with the same value, and the trailers after a
// JPEG's picture, which exiftool cannot make anew, come from the original itself. The model must
// be the stored text followed by ", vlr3"; neither exiftool nor exiv2 may find a fault in a saved
// file that they do not find in the original. The inputs: the sample photos where present, and
// small files of every format made here with exiftool.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
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
};

// The files, one a line, in a list file for exiftool's -@; its quoted name.
std::string ListFile(const std::vector<std::string>& files, const std::string& folder) {
    std::ofstream list(folder + "/files.txt");
    for (const std::string& f : files) {
        list << f << "\n";
    }
    return Quote(folder + "/files.txt");
}

// Keys from `exiftool -G0:1:4:5 -api SavePath` look like "MakerNotes:Canon:Copy1:JPEG-APP1-
// IFD0-ExifIFD-MakerNotes:CameraTemperature"; family 1 is left out where it equals family 0.
std::map<std::string, Tags> ReadTags(const std::vector<std::string>& files,
                                     const std::string& folder) {
    const nlohmann::json all =
        nlohmann::json::parse(test::Run("exiftool -j -a -G0:1:4:5 -api SavePath -n -b -q -q -@ " +
                                        ListFile(files, folder)),
                              nullptr, false);
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

// The tags that describe how the opened file stored its pixels (or a raw's preview, which its
// first directory holds): they say nothing about the photo and no saved file has them.
bool Layout(const std::string& key) {
    static const std::string layout =
        " ImageWidth TiffImageWidth ImageHeight BitsPerSample Compression PhotometricInterpretation"
        " FillOrder StripOffsets SamplesPerPixel RowsPerStrip StripByteCounts PlanarConfiguration"
        " PageNumber Predictor ExtraSamples SampleFormat SubfileType TileWidth TileLength"
        " TileOffsets TileByteCounts ThumbnailImage ThumbnailOffset ThumbnailLength InkSet"
        " InkNames NumberofInks DotRange TransferFunction JPEGTables PreviewImage ThumbnailTIFF"
        " PreviewImageStart PreviewImageLength ";
    return key.find(":IFD0:") != std::string::npos &&
           layout.find(" " + key.substr(key.rfind(':') + 1) + " ") != std::string::npos;
}

// What no saved file keeps, by exiftool's family 0 and 1: the file's own description (but a
// JPEG's comment), the thumbnail (IFD1), the layout.
bool NeverKept(const std::string& key, const std::string& g0, const std::string& g1) {
    const std::string name = key.substr(key.rfind(':') + 1);
    return g0 == "ExifTool" || g0 == "Composite" || (g0 == "File" && name != "Comment") ||
           g1 == "IFD1" || Layout(key);
}

std::string Group(const std::string& key, int family) {
    const std::size_t first = key.find(':');
    return family == 0 ? key.substr(0, first) : key.substr(first + 1, key.rfind(':') - first - 1);
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
    std::map<std::string, std::set<std::string>> result;
    std::istringstream lines(
        test::Run("exiftool -validate -warning -a -@ " + ListFile(files, folder)));
    std::string current, text;
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
    return Kinds(test::Run("exiv2 -pa " + Quote(file) + " 2>&1 >/dev/null"));
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

void Append(std::vector<std::uint8_t>& out, const std::string& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::string Big(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) {
        s += static_cast<char>(v >> (8 * i));
    }
    return s;
}

// Small pictures of every format that carries metadata, written on by exiftool, and JPEGs with
// what exiftool cannot write: trailers, XMP in UTF-16, a maker note that overlaps its directory.
std::vector<std::string> MadeInputs(test::TempDir& dir) {
    const std::string png = dir.File("made_png.png");
    EXPECT_TRUE(SavePng(*test::SmoothBitmap(24, 16), png).Ok);
    std::vector<std::string> made = {dir.File("made_jpeg.jpg"), png, dir.File("made_tiff.tif"),
                                     dir.File("made_gif.gif"), dir.File("made_webp.webp")};
    EXPECT_TRUE(SaveJpeg(*test::SmoothBitmap(24, 16), made[0]).Ok);
    for (std::size_t i = 2; i < made.size(); ++i) {
        test::Run("convert " + Quote(png) + " " + Quote(made[i]));
    }
    std::ofstream(dir.File("long.txt")) << std::string(70000, 'd');
    test::Run(
        "exiftool -q -q -overwrite_original -Make=Maker -Model=Cam -Artist=Someone "
        "-Copyright=Mine -IPTC:Caption-Abstract=Caption -IPTC:Keywords=one "
        "-IPTC:Keywords=two -IPTC:By-line=Photographer -XMP-dc:Title=Title "
        "-XMP-dc:Subject=subject -Comment='a comment \xc3\xa9' " +
        Quote("-XMP-dc:Description<=" + dir.File("long.txt")) + " " + Quote(made[0]) +
        " -execute -q -q -overwrite_original -Make=Maker -Model=Cam -Artist=Someone "
        "-IPTC:Caption-Abstract=Caption -IPTC:Keywords=one -IPTC:Keywords=two "
        "-XMP-dc:Title=Title -Comment=comment " +
        Quote(made[1]) + " " + Quote(made[2]) + " " + Quote(made[3]) + " " + Quote(made[4]));
    // Trailers after the picture: AFCP with IPTC records (offsets from the file's start), a
    // FotoStation soft edit and PhotoMechanic's rotation and colour class.
    std::vector<std::uint8_t> trailed = test::ReadBytes(made[0]);
    const std::string iptc = "\x1c\x02\x78" + Big(15, 2) + "trailer caption";
    const std::uint32_t afcp = static_cast<std::uint32_t>(trailed.size());
    Append(trailed, std::string("AXS!\x00\x01", 6) + Big(1, 2) + Big(0, 4) + "IPTC" +
                        Big(static_cast<std::uint32_t>(iptc.size()), 4) + Big(afcp + 24, 4) + iptc +
                        "AXS!" + Big(afcp, 4) + Big(0, 4));
    const std::string soft = Big(640, 4) + Big(480, 4) + Big(3, 4) + Big(72000, 4);
    Append(trailed, soft + Big(2, 2) + Big(static_cast<std::uint32_t>(soft.size() + 10), 4) +
                        Big(0xA1B2C3D4, 4));
    const std::string pm =
        "\x1c\x02\xd8" + Big(4, 2) + Big(1, 4) + "\x1c\x02\xde" + Big(4, 2) + Big(3, 4);
    Append(trailed, pm + Big(static_cast<std::uint32_t>(pm.size()), 4) + "cbipcbbl");
    made.push_back(dir.File("made_trailers.jpg"));
    test::WriteBytes(made.back(), trailed);
    // XMP in UTF-16, little-endian.
    std::string packet =
        "<?xpacket begin='\xef\xbb\xbf' id='W5M0MpCehiHzreSzNTczkc9d'?>"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3."
        "org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
        "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/jpeg"
        "</dc:format></rdf:Description></rdf:RDF></x:xmpmeta>"
        "<?xpacket end='w'?>";
    std::string wide;
    for (std::size_t i = 0; i < packet.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(packet[i]);
        const unsigned code = c == 0xEF ? 0xFEFF : c;  // the mark, once
        i += c == 0xEF ? 2 : 0;
        wide += static_cast<char>(code & 0xFF);
        wide += static_cast<char>(code >> 8);
    }
    // Each in an APP1 segment of its own after the start of the picture, as exiftool would not
    // write it: a maker note that begins where its directory's next-IFD offset belongs.
    const std::string exif =
        std::string(
            "Exif\0\0II*\0\x08\0\0\0\x01\0\x69\x87\x04\0\x01\0\0\0\x1a\0\0\0\0\0\0\0"
            "\x01\0\x7c\x92\x07\0\x21\0\0\0\x28\0\0\0",
            46) +
        "This is an example of markernotes";
    EXPECT_TRUE(SaveJpeg(*test::SmoothBitmap(24, 16), dir.File("base.jpg")).Ok);
    for (const auto& [name, payload] :
         {std::pair{"made_xmp16.jpg", std::string("http://ns.adobe.com/xap/1.0/\0", 29) + wide},
          std::pair{"made_makernote.jpg", exif}}) {
        std::vector<std::uint8_t> bytes = test::ReadBytes(dir.File("base.jpg"));
        test::InsertSegment(bytes, 0xE1, payload);
        made.push_back(dir.File(name));
        test::WriteBytes(made.back(), bytes);
    }
    return made;
}

struct Case {
    std::string Source;
    bool Jpeg = false;       // by its name
    std::string Saved[2];    // JPEG, PNG
    std::string Rebuilt[2];  // exiftool's rebuild of each
    std::vector<std::string> LeftOut[2];
};

TEST(MetadataJudge, EveryTagExiftoolsRebuildKeepsComesBackFromBothSaves) {
    VELORA_NEED_TOOL("exiftool");
    VELORA_NEED_TOOL("exiv2");
    VELORA_NEED_TOOL("convert");
    test::TempDir dir;
    std::vector<std::string> sources = MadeInputs(dir);
    if (test::HavePhotos()) {
        for (const char* folder : {"camera", "special", "other-formats", "modern"}) {
            for (const auto& entry : fs::recursive_directory_iterator(test::Photo(folder))) {
                if (entry.is_regular_file()) {
                    sources.push_back(entry.path().string());
                }
            }
        }
        // A maker note whose own inner offset is bad still travels.
        sources.push_back(test::Photo("broken/exif_bad_makernote_offset_sanyo_s1.JPG"));
    }
    sources.push_back(test::Crafted("ok_raw_nef_like.nef"));
    std::vector<Case> cases;
    std::ofstream strip(dir.File("strip.args"));
    std::ofstream rebuild(dir.File("rebuild.args"));
    for (const std::string& source : sources) {
        LoadResult loaded = LoadBitmapFromFile(source);
        if (!loaded.Bitmap) {
            continue;  // a 12-bit file, which this program does not open
        }
        Case c;
        c.Source = source;
        c.Jpeg = std::regex_search(source, std::regex("\\.jpe?g$", std::regex::icase));
        for (int out = 0; out < 2; ++out) {
            const std::string stem = std::to_string(cases.size()) + (out == 0 ? ".jpg" : ".png");
            c.Saved[out] = dir.File(stem);
            c.Rebuilt[out] = dir.File("rebuilt_" + stem);
            // The sharpened picture is a new bitmap without metadata; its size does not matter.
            SaveResult saved = SaveConvertedPicture(
                *WorkingBitmap::CreateBlank(8, 8), *loaded.Bitmap, c.Saved[out],
                ExistingTarget::Replace, out == 0 ? PictureFormat::Jpeg : PictureFormat::Png);
            ASSERT_TRUE(saved.Ok) << source << ": " << saved.Message;
            c.LeftOut[out] = saved.LeftOut;
            strip << "-all=\n-o\n"
                  << dir.File("stripped_" + stem) << "\n"
                  << c.Saved[out] << "\n-execute\n";
            rebuild << "-tagsfromfile\n"
                    << source << "\n-all:all\n-unsafe\n-icc_profile\n-o\n"
                    << c.Rebuilt[out] << "\n"
                    << dir.File("stripped_" + stem) << "\n-execute\n";
        }
        cases.push_back(c);
    }
    strip.close();
    rebuild.close();
    ASSERT_GE(cases.size(), test::HavePhotos() ? 80u : 8u);
    test::Run("exiftool -q -q -@ " + Quote(dir.File("strip.args")));
    test::Run("exiftool -q -q -@ " + Quote(dir.File("rebuild.args")));

    std::vector<std::string> all;
    for (const Case& c : cases) {
        all.insert(all.end(), {c.Source, c.Saved[0], c.Saved[1], c.Rebuilt[0], c.Rebuilt[1]});
    }
    std::map<std::string, Tags> tags = ReadTags(all, dir.Path);
    std::map<std::string, std::set<std::string>> complaints = ExiftoolComplaints(all, dir.Path);
    std::map<std::string, std::string> models = StoredModels(all);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.Source);
        const Tags& before = tags[c.Source];
        const std::string model = models.count(c.Source) ? models[c.Source] : "";
        for (int out = 0; out < 2; ++out) {
            ASSERT_TRUE(tags.count(c.Rebuilt[out])) << "exiftool could not rebuild " << out;
            const Tags& rebuilt = tags[c.Rebuilt[out]];
            const Tags& saved = tags[c.Saved[out]];
            // What the rebuild keeps of the original as it was: not the tags exiftool adds to a
            // new directory, nor the values it rounds on the way.
            std::map<std::string, std::multiset<std::string>> required;
            for (const auto& [key, values] : rebuilt.Values) {
                const std::string g0 = Group(key, 0);
                auto original = before.Values.find(key);
                if (NeverKept(key, g0, Group(key, 1)) || key == "EXIF:IFD0:Model" ||
                    (g0 == "ICC_Profile" && !RgbProfile(before)) ||
                    original == before.Values.end()) {
                    continue;
                }
                std::set_intersection(values.begin(), values.end(), original->second.begin(),
                                      original->second.end(),
                                      std::inserter(required[key], required[key].end()));
            }
            // exiftool cannot write trailers anew: a JPEG must keep the original's.
            for (const auto& [key, values] : before.Values) {
                if (before.Paths.at(key).find("Trailer") != std::string::npos) {
                    if (out == 0) {
                        required[key] = values;
                    } else {
                        EXPECT_FALSE(c.LeftOut[1].empty()) << "PNG: a trailer left out unnamed";
                    }
                }
            }
            for (const auto& [key, values] : required) {
                if (values.empty()) {
                    continue;
                }
                auto got = saved.Values.find(key);
                const std::multiset<std::string> none;
                const std::multiset<std::string>& have =
                    got == saved.Values.end() ? none : got->second;
                EXPECT_TRUE(std::includes(have.begin(), have.end(), values.begin(), values.end()))
                    << (out == 0 ? "JPEG " : "PNG ") << key << ": " << values.begin()->substr(0, 80)
                    << " became "
                    << (have.empty() ? std::string("(lost)") : have.begin()->substr(0, 80));
            }
            EXPECT_EQ(models[c.Saved[out]], model + ", vlr3");
            // A JPEG's EXIF block describes no storage; any other file's first directory does.
            for (const auto& [key, values] : saved.Values) {
                EXPECT_FALSE(Layout(key) && !c.Jpeg) << key << " travelled";
            }
            // A file that had no EXIF gets the model alone, without the resolution tags that the
            // validator asks of a JPEG's IFD0: nothing is made up.
            if (before.Values.count("EXIF:IFD0:Model") != 0) {
                for (const std::string& kind : complaints[c.Saved[out]]) {
                    // What a JPEG's EXIF must have is asked of no other format's.
                    const bool jpegRule = kind.find("required JPEG") != std::string::npos ||
                                          kind.find("requires ExifVersion") != std::string::npos;
                    EXPECT_TRUE(complaints[c.Source].count(kind) || (jpegRule && !c.Jpeg))
                        << c.Saved[out] << " gained " << kind;
                }
                const std::set<std::string> original = Exiv2Complaints(c.Source);
                for (const std::string& kind : Exiv2Complaints(c.Saved[out])) {
                    EXPECT_TRUE(original.count(kind)) << c.Saved[out] << " gained " << kind;
                }
            }
        }
        // Everything a JPEG holds fits, in every case here; a PNG's own texts have no place.
        for (const std::string& name : c.LeftOut[0]) {
            EXPECT_EQ(name, "PNG texts");
        }
    }
}

}  // namespace
}  // namespace velora
