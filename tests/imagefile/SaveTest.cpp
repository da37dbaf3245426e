#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include "ImageFile.h"
#include "ImageProperties.h"
#include "PictureRows.h"
#include "TestSupport.h"

namespace velora {
namespace {

namespace fs = std::filesystem;
using test::Quote;

// A minimal ICC profile big enough to need two APP2 chunks: header, one private tag.
// Its size 70000 (0x11170), version 2.1, the tag's data from 144 (0x90) to the end (0x110E0 long).
std::vector<std::uint8_t> TestProfile() {
    std::vector<std::uint8_t> p(70000, 0);
    for (std::size_t i = 144; i < p.size(); ++i) {
        p[i] = static_cast<std::uint8_t>(i * 31);
    }
    const auto put = [&p](std::size_t at, const std::string& bytes) {
        std::copy(bytes.begin(), bytes.end(), p.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(0, std::string("\0\1\x11\x70\0\0\0\0\2\x10\0\0mntrRGB XYZ ", 24));
    put(36, "acsp");
    put(128, std::string("\0\0\0\1vlrt\0\0\0\x90\0\1\x10\xE0", 16));
    return p;
}

// A JPEG with rich EXIF written by exiftool from known values, a thumbnail, an ICC profile, and
// a maker note of an unknown maker (raw bytes) written by exiv2.
std::string MakeRichFixture(const test::TempDir& dir, bool withModel) {
    const std::string thumb = dir.File("thumb.jpg");
    EXPECT_TRUE(SaveJpeg(*test::SmoothBitmap(32, 24), thumb).Ok);
    const std::string icc = dir.File("profile.icc");
    test::WriteBytes(icc, TestProfile());
    const std::string path = dir.File(withModel ? "rich.jpg" : "nomodel.jpg");
    EXPECT_TRUE(SaveJpeg(*test::SmoothBitmap(160, 120), path).Ok);
    std::string args =
        "-Make='Velora Test Works' -DateTimeOriginal='2021:03:04 05:06:07' "
        "-CreateDate='2021:03:04 05:06:07' -ModifyDate='2022:01:02 03:04:05' "
        "-ExposureTime=1/125 -FNumber=5.6 -ISO=200 -FocalLength=35 "
        "-Artist='Kim' -Copyright='(c) Kim' -Orientation#=6 "
        "-GPSVersionID=2.3.0.0 -GPSLatitude=37.5665 -GPSLatitudeRef=N "
        "-GPSLongitude=126.978 -GPSLongitudeRef=E -GPSAltitude=38 "
        "-GPSAltitudeRef#=0 -ExifVersion=0232 -ExifImageWidth=160 -ExifImageHeight=120 "
        "-XMP-dc:Title='Test title' ";
    if (withModel) {
        args += "-Model='Model X' ";
    }
    test::Run("exiftool -q -overwrite_original " + args + "'-ThumbnailImage<=" + thumb + "' " +
              "'-ICC_Profile<=" + icc + "' " + Quote(path));
    test::Run("exiv2 -M'set Exif.Photo.MakerNote Undefined 1 2 3 4 250 251 252 253 0 9' " +
              Quote(path));
    return path;
}

bool IgnoredTag(const std::string& key) {
    for (const char* group :
         {"[ExifTool]", "[System]", "[File]", "[IFD1]", "[Composite]", "[JFIF]"}) {
        if (key.rfind(group, 0) == 0) {
            return true;
        }
    }
    return key == "[IFD0] Model";
}

// Every tag of a rich file comes back but the model, which gets the marker after the source's own
// model on every save; a file without a model gets the marker alone, so saved again it has two.
TEST(Save, EveryTagOfARichFileComesBackAndTheModelGetsTheMarker) {
    VELORA_NEED_TOOL("exiftool");
    VELORA_NEED_TOOL("exiv2");
    test::TempDir dir;
    const std::string source = MakeRichFixture(dir, true);
    // An unknown maker's note is the only thing the judges remark on, before and after.
    const std::set<std::string> complaints = test::MetadataWarnings(source);
    for (const std::string& complaint : complaints) {
        ASSERT_EQ(complaint.find("Missing"), std::string::npos) << complaint;
    }
    const auto before = test::ExifTags(source);
    ASSERT_EQ(before.at("[IFD0] Model"), "Model X");
    ASSERT_TRUE(before.count("[IFD1] ThumbnailImage"));

    BitmapRef pic = test::OpenCopy(source);
    ASSERT_NE(pic, nullptr);
    BitmapRef working = test::Copy(*pic);
    // The sharpened picture of the window is a new bitmap without any metadata of its own.
    BitmapRef converted = test::SmoothBitmap(160, 120);
    const std::string out = dir.File("rich_vlr.jpg");
    SaveResult saved = SaveConvertedPicture(*converted, *pic, out);
    ASSERT_TRUE(saved.Ok) << saved.Message;
    EXPECT_EQ(test::MetadataWarnings(out), complaints);
    const auto after = test::ExifTags(out);
    for (const auto& [key, value] : before) {
        if (IgnoredTag(key)) {
            continue;
        }
        auto found = after.find(key);
        ASSERT_NE(found, after.end()) << key << " lost";
        EXPECT_EQ(found->second, value) << key;
    }
    EXPECT_EQ(after.at("[IFD0] Model"), "Model X, vlr3");
    for (const auto& [key, value] : after) {
        EXPECT_NE(key.rfind("[IFD1]", 0), 0u) << "thumbnail tag kept: " << key;
    }
    EXPECT_EQ(test::Run("exiftool -b -ICC_Profile " + Quote(out)),
              test::Run("exiftool -b -ICC_Profile " + Quote(source)));
    EXPECT_EQ(test::Run("exiv2 -g Exif.Photo.MakerNote -Pv " + Quote(out)),
              test::Run("exiv2 -g Exif.Photo.MakerNote -Pv " + Quote(source)));
    EXPECT_EQ(after.at("[ExifIFD] ExifVersion"), "0232");
    // 4:4:4 chroma.
    EXPECT_EQ(test::Run("exiftool -s3 -n -YCbCrSubSampling " + Quote(out)), "1 1\n");

    // The copy puts the source's model back each time; without one, the marker piles up.
    auto model = [&](const std::string& path) {
        return test::Run("exiftool -s3 -IFD0:Model " + Quote(path));
    };
    BitmapRef without = test::OpenCopy(MakeRichFixture(dir, false));
    ASSERT_NE(without, nullptr);
    BitmapRef withoutWorking = test::Copy(*without);
    for (int round = 1; round <= 2; ++round) {
        const std::string a = dir.File("with" + std::to_string(round) + ".jpg");
        const std::string b = dir.File("without" + std::to_string(round) + ".jpg");
        ASSERT_TRUE(SaveConvertedPicture(*working, *pic, a).Ok);
        ASSERT_TRUE(SaveConvertedPicture(*withoutWorking, *without, b).Ok);
        EXPECT_EQ(model(a), "Model X, vlr3\n");
        EXPECT_EQ(model(b), round == 1 ? ", vlr3\n" : ", vlr3, vlr3\n");
    }
    // A model item that is no text is replaced by the marker alone.
    pic->SetPropertyItem(
        {PropertyTagEquipModel, PropertyTagTypeUndefined, {'M', 0xC3, 0xA9, 0}, false});
    ASSERT_TRUE(SaveConvertedPicture(*converted, *pic, dir.File("binary_model.jpg")).Ok);
    EXPECT_EQ(model(dir.File("binary_model.jpg")), ", vlr3\n");
}

// A maker note stays where it was in the EXIF block, byte for byte, so that the offsets in it
// that count from the block's start still hold; one that was changed is written as it now
// stands. A second save of the same picture writes the same EXIF block.
TEST(Save, AMakerNoteKeepsItsPlaceAndAChangedOneTravelsAsItsBytes) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("exiftool");
    VELORA_NEED_TOOL("exiv2");
    test::TempDir dir;
    const std::string photo = test::Photo("camera/canon_eos_450d.jpg");
    LoadResult r = LoadBitmapFromFile(photo);
    ASSERT_NE(r.Bitmap, nullptr);
    BitmapRef working = r.Bitmap->Clone(0, 0, 32, 32);
    const std::string note = "exiv2 -g Exif.Photo.MakerNote -Pv ";
    ASSERT_TRUE(SaveConvertedPicture(*working, *r.Bitmap, dir.File("a.jpg")).Ok);
    ASSERT_TRUE(SaveConvertedPicture(*working, *r.Bitmap, dir.File("b.jpg")).Ok);
    const std::string exif = test::Run("exiftool -b -exif " + Quote(dir.File("a.jpg")));
    EXPECT_EQ(exif, test::Run("exiftool -b -exif " + Quote(dir.File("b.jpg"))));
    std::unique_ptr<PropertyItem> maker = ImageProperties(*r.Bitmap).GetItem(0x927C);
    ASSERT_NE(maker, nullptr);
    const std::string bytes(maker->value.begin(), maker->value.end());
    const std::size_t place = test::Run("exiftool -b -exif " + Quote(photo)).find(bytes);
    ASSERT_NE(place, std::string::npos);
    EXPECT_EQ(exif.find(bytes), place);

    maker->value.back() ^= 0x5A;
    r.Bitmap->SetPropertyItem(*maker);
    ASSERT_TRUE(SaveConvertedPicture(*working, *r.Bitmap, dir.File("c.jpg")).Ok);
    std::string expected;
    for (std::uint8_t byte : maker->value) {
        expected += (expected.empty() ? "" : " ") + std::to_string(byte);
    }
    EXPECT_EQ(test::Run(note + Quote(dir.File("c.jpg"))), expected + "\n");
}

// A small EXIF block in either byte order: IFD0's entries (tag, type, count, value) with the
// values already in that order, then, when there are any, those of the Exif IFD. The values of
// each table follow it unpadded, so an odd length puts the next value, or the block's end, at
// an odd offset.
struct Entry {
    std::uint16_t Tag;
    std::uint16_t Type;
    std::uint32_t Count;
    std::vector<std::uint8_t> Value;
};

std::vector<std::uint8_t> TiffBlock(bool big, const std::vector<Entry>& ifd0,
                                    const std::vector<Entry>& exif = {}) {
    std::vector<std::uint8_t> out;
    auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * (big ? bytes - 1 - i : i))));
        }
    };
    auto table = [&](const std::vector<Entry>& entries, bool pointsOn) {
        const std::size_t count = entries.size() + (pointsOn ? 1 : 0);
        put(static_cast<std::uint32_t>(count), 2);
        const std::size_t data = out.size() + 12 * count + 4;
        std::vector<std::uint8_t> tail;
        for (const Entry& e : entries) {
            put(e.Tag, 2);
            put(e.Type, 2);
            put(e.Count, 4);
            if (e.Value.size() <= 4) {
                out.insert(out.end(), e.Value.begin(), e.Value.end());
                out.resize(out.size() + 4 - e.Value.size(), 0);
            } else {
                put(static_cast<std::uint32_t>(data + tail.size()), 4);
                tail.insert(tail.end(), e.Value.begin(), e.Value.end());
            }
        }
        if (pointsOn) {
            tail.resize((tail.size() + 1) & ~std::size_t{1}, 0);  // the next table on a word
            put(0x8769, 2);
            put(4, 2);
            put(1, 4);
            put(static_cast<std::uint32_t>(data + tail.size()), 4);
        }
        put(0, 4);
        out.insert(out.end(), tail.begin(), tail.end());
    };
    out.push_back(big ? 'M' : 'I');
    out.push_back(big ? 'M' : 'I');
    put(42, 2);
    put(8, 4);
    table(ifd0, !exif.empty());
    if (!exif.empty()) {
        table(exif, false);
    }
    return out;
}

// A JPEG of `picture` with `tiff` as its Exif segment, right after the start of the picture.
void WriteWithExif(WorkingBitmap& picture, const std::vector<std::uint8_t>& tiff,
                   const std::string& path) {
    ASSERT_TRUE(SaveJpeg(picture, path).Ok);
    std::vector<std::uint8_t> file = test::ReadBytes(path), payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    test::InsertSegment(file, 0xE1, payload);
    test::WriteBytes(path, file);
}

std::vector<std::uint8_t> Text(const std::string& text) {
    return std::vector<std::uint8_t>(text.c_str(), text.c_str() + text.size() + 1);
}

// Shapes a rebuilt EXIF structure tends to lose, in both byte orders: empty texts of count 0 (as
// Canon writes Artist and Copyright), a tag in IFD0 that belongs to the Exif IFD, a private tag,
// and a value that the program itself set in the other byte order; and layouts that must change:
// values of odd length beside the free room, a table that grows by a tag while values follow
// it, a table that ends the block and grows into the room its new values take, a maker note at
// an odd offset, which stays where it is. exiftool reads back what it read before, but the model
// and what was changed, and finds nothing wrong that it did not find before.
TEST(Save, UnusualEntriesAndLayoutsComeBackAsExiftoolReadThem) {
    VELORA_NEED_TOOL("exiftool");
    VELORA_NEED_TOOL("exiv2");
    test::TempDir dir;
    for (bool big : {false, true}) {
        auto order = [big](std::vector<std::uint8_t> v) {
            return big ? std::vector<std::uint8_t>(v.rbegin(), v.rend()) : v;
        };
        std::vector<std::uint8_t> exposure = order({1, 0, 0, 0}), below = order({125, 0, 0, 0});
        exposure.insert(exposure.end(), below.begin(), below.end());
        const std::vector<std::uint8_t> note = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
        const struct {
            const char* Name;
            std::vector<Entry> Ifd0, Exif;
            PropertyItem Set;  // changed before the save
            const char* Changed;
            const char* Read;  // what exiftool then reads there
        } cases[] = {
            {"unusual entries",
             {{0x0110, 2, 4, Text("Cam")},
              {0x0112, 3, 1, order({1, 0})},
              {0x013B, 2, 0, {}},
              {0x8298, 2, 0, {}},
              {0x829A, 5, 1, exposure},
              {0xC6F0, 7, 6, {1, 2, 3, 4, 5, 6}}},
             {},
             {0x0112, PropertyTagTypeShort, {6, 0}, false},
             "[IFD0] Orientation",
             "6"},
            {"odd lengths and a grown table",
             {{0x010F, 2, 11, Text("Maker Make")},
              {0x0110, 2, 4, Text("Cam")},
              {0x0131, 2, 9, Text("Soft 1.0")}},
             {},
             {0x010E, PropertyTagTypeASCII, Text("Desc"), false},
             "[IFD0] ImageDescription",
             "Desc"},
            {"a table at the block's end that grows, new values after it",
             {{0x0110, 2, 4, Text("Cam")}, {0x0112, 3, 1, order({8, 0})}},
             {},
             {0x010E, PropertyTagTypeASCII, Text("Desc"), false},
             "[IFD0] ImageDescription",
             "Desc"},
            {"a maker note at an odd offset",
             {{0x0110, 2, 4, Text("Cam")}},
             {{0x9010, 2, 7, Text("+09:00")}, {0x927C, 7, 10, note}},
             {0x0131, PropertyTagTypeASCII, Text("Software too long for the room freed"), false},
             "[IFD0] Software",
             "Software too long for the room freed"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + (big ? ", big-endian" : ", little-endian"));
            const std::string source = dir.File("source.jpg");
            WriteWithExif(*test::SmoothBitmap(40, 30), TiffBlock(big, c.Ifd0, c.Exif), source);
            BitmapRef pic = test::OpenCopy(source);
            ASSERT_NE(pic, nullptr);
            if (&c == &cases[0]) {
                EXPECT_EQ(pic->GetPropertyItemSize(0x01829A), sizeof(PropertyItem) + 8);
            }
            pic->SetPropertyItem(c.Set);
            const std::string out = dir.File("saved.jpg");
            ASSERT_TRUE(SaveConvertedPicture(*test::SmoothBitmap(40, 30), *pic, out).Ok);
            auto before = test::ExifTags(source);
            const auto after = test::ExifTags(out);
            EXPECT_GE(before.size(), c.Ifd0.size() + c.Exif.size());
            before["[IFD0] Model"] = "Cam, vlr3";
            before[c.Changed] = c.Read;
            for (const auto& [key, value] : before) {
                if (!IgnoredTag(key) || key == "[IFD0] Model") {
                    EXPECT_EQ(after.count(key) ? after.at(key) : "(lost)", value) << key;
                }
            }
            const std::set<std::string> complaints = test::MetadataWarnings(source);
            for (const std::string& complaint : test::MetadataWarnings(out)) {
                EXPECT_EQ(complaints.count(complaint), 1u) << complaint;
            }
            const std::string noted(note.begin(), note.end()), exif = "exiftool -b -exif ";
            EXPECT_EQ(test::Run(exif + Quote(out)).find(noted),
                      test::Run(exif + Quote(source)).find(noted));
        }
    }
}

// What a JPEG cannot hold is left out and named; the file is still written, whole otherwise,
// and a PNG of the same picture, which has no such limit, keeps it.
TEST(Save, WhatAJpegCannotHoldIsLeftOutAndNamed) {
    VELORA_NEED_TOOL("exiftool");
    test::TempDir dir;
    // A UserComment that fills the Exif segment to its last byte leaves no room for ", vlr3".
    const std::string full = dir.File("full.jpg");
    ASSERT_TRUE(SaveJpeg(*test::SmoothBitmap(40, 30), full).Ok);
    const std::size_t largestBlock = 65535 - 2 - 6;  // segment length field, "Exif\0\0"
    std::size_t length = 60000;
    BitmapRef pic;
    for (int round = 0; round < 2; ++round) {
        std::ofstream(dir.File("comment.txt")) << std::string(length, 'u');
        test::Run("exiftool -q -overwrite_original -Make=Maker -Model=ModelX " +
                  Quote("-UserComment<=" + dir.File("comment.txt")) + " " + Quote(full));
        pic = test::OpenCopy(full);
        ASSERT_NE(pic, nullptr);
        // exiftool keeps values on even offsets: the block can end one byte short.
        length += largestBlock - 1 - pic->GetExtraMetadata().Exif.size();
    }
    ASSERT_EQ(pic->GetExtraMetadata().Exif.size(), largestBlock - 1);

    // An XMP packet larger than one JPEG segment, as a PNG may carry it.
    const std::string wide = dir.File("wide.png");
    ASSERT_TRUE(SavePng(*test::SmoothBitmap(40, 30), wide).Ok);
    std::ofstream(dir.File("description.txt")) << std::string(70000, 'd');
    test::Run("exiftool -q -overwrite_original " +
              Quote("-XMP-dc:Description<=" + dir.File("description.txt")) + " " + Quote(wide));
    BitmapRef xmp = test::OpenCopy(wide);
    ASSERT_NE(xmp, nullptr);
    // A profile longer than 255 APP2 chunks can number: left out of the JPEG rather than written
    // with chunk numbers that wrap.
    const std::string iccSource = test::Crafted("ok_png_icc_over_jpeg_limit.png");
    BitmapRef icc = test::OpenCopy(iccSource);
    ASSERT_NE(icc, nullptr);

    auto value = [](const char* tag, const std::string& path) {
        return test::Run("exiftool -b -" + std::string(tag) + " " + Quote(path));
    };
    const struct {
        BitmapRef Picture;
        const char* Tag;
        std::string Value;
        std::string Name;
        const char* Camera;  // make and model in the JPEG
    } cases[] = {
        {pic, "ExifIFD:UserComment", value("ExifIFD:UserComment", full), "UserComment",
         "Maker\nModelX, vlr3\n"},
        {xmp, "XMP-dc:Description", std::string(70000, 'd'), "XMP", ", vlr3\n"},
        {icc, "ICC_Profile", value("ICC_Profile", iccSource), "ICC profile", ", vlr3\n"},
    };
    ASSERT_GT(cases[0].Value.size(), 60000u);
    ASSERT_GT(cases[2].Value.size(), 255u * 65519u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string jpeg = dir.File(c.Name + ".jpg");
        const std::string png = dir.File(c.Name + ".png");
        SaveResult saved = SaveConvertedPicture(*test::SmoothBitmap(40, 30), *c.Picture, jpeg);
        ASSERT_TRUE(saved.Ok) << saved.Message;
        EXPECT_EQ(saved.LeftOut, std::vector<std::string>{c.Name});
        EXPECT_EQ(value(c.Tag, jpeg), "");
        EXPECT_EQ(test::Run("exiftool -s3 -Warning -IFD0:Make -IFD0:Model " + Quote(jpeg)),
                  c.Camera);
        // A PNG of the same picture, which has no such limit, keeps it whole.
        saved = SaveConvertedPicture(*test::SmoothBitmap(40, 30), *c.Picture, png,
                                     ExistingTarget::Replace, PictureFormat::Png);
        ASSERT_TRUE(saved.Ok) << saved.Message;
        EXPECT_TRUE(saved.LeftOut.empty());
        EXPECT_TRUE(value(c.Tag, png) == c.Value);
    }
}

// Application segments travel by kind: into a JPEG in their order (the multi-picture index,
// which points at pictures after this one's end, left out by rule), into a PNG as far as it has
// a place for them, the rest named.
TEST(Save, SegmentsAndTrailersTravelByKindAndWhatAPngCannotHoldIsNamed) {
    test::TempDir dir;
    const std::string input = dir.File("in.jpg");
    ASSERT_TRUE(SaveJpeg(*test::SmoothBitmap(16, 8), input).Ok);
    const struct {
        std::uint8_t Marker;
        std::string Payload;
    } segments[] = {
        {0xE2, std::string("FPXR\0\0\1", 7)},
        {0xE2, std::string("MPF\0MM\0*", 8)},
        {0xE4, std::string("ABCD\0\1", 6)},
        {0xFE, "a comment"},
    };
    std::vector<std::uint8_t> bytes = test::ReadBytes(input);
    for (auto it = std::rbegin(segments); it != std::rend(segments); ++it) {
        test::InsertSegment(bytes, it->Marker, it->Payload);
    }
    const std::string trailer = std::string("\x1c\x02\xde\0\4\0\0\0\3\0\0\0\x09", 13) + "cbipcbbl";
    bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    test::WriteBytes(input, bytes);
    BitmapRef pic = test::OpenCopy(input);
    ASSERT_NE(pic, nullptr);

    const struct {
        PictureFormat Format;
        std::vector<std::string> LeftOut;
        std::vector<std::uint8_t> Markers;  // of the segments that come back
        bool Trailer;
    } cases[] = {
        {PictureFormat::Jpeg, {}, {0xE2, 0xE4, 0xFE}, true},
        {PictureFormat::Png,
         {"FlashPix", "APP4 segment \"ABCD\"", "PhotoMechanic trailer"},
         {0xFE},
         false},
    };
    for (const auto& c : cases) {
        const std::string saved = dir.File(c.Format == PictureFormat::Jpeg ? "s.jpg" : "s.png");
        SaveResult result = SaveConvertedPicture(*test::SmoothBitmap(16, 8), *pic, saved,
                                                 ExistingTarget::Replace, c.Format);
        ASSERT_TRUE(result.Ok) << result.Message;
        EXPECT_EQ(result.LeftOut, c.LeftOut);
        LoadResult back = LoadBitmapFromFile(saved);
        ASSERT_NE(back.Bitmap, nullptr);
        const ExtraMetadata extra = back.Bitmap->GetExtraMetadata();
        std::vector<std::uint8_t> markers;
        for (const auto& segment : extra.Segments) {
            markers.push_back(segment.Marker);
        }
        EXPECT_EQ(markers, c.Markers);
        EXPECT_EQ(
            extra.Segments.back().Payload,
            std::vector<std::uint8_t>(segments[3].Payload.begin(), segments[3].Payload.end()));
        EXPECT_EQ(extra.Trailer, c.Trailer
                                     ? std::vector<std::uint8_t>(trailer.begin(), trailer.end())
                                     : std::vector<std::uint8_t>{});
    }
}

TEST(Save, JpegRoundTripIsCloseAndPngIsExact) {
    test::TempDir dir;
    BitmapRef smooth = test::SmoothBitmap(97, 61);
    ASSERT_TRUE(SaveJpeg(*smooth, dir.File("a.jpg")).Ok);
    LoadResult back = LoadBitmapFromFile(dir.File("a.jpg"));
    ASSERT_NE(back.Bitmap, nullptr);
    EXPECT_LT(test::MeanDifference(*smooth, *back.Bitmap), 1.0);
    // Quality 97: the luminance table is the standard one scaled by (200 - 2 * 97) / 100.
    const int standardFirstRow[8] = {16, 11, 10, 16, 24, 40, 51, 61};
    std::unique_ptr<PropertyItem> table =
        ImageProperties(*back.Bitmap).GetItem(PropertyTagLuminanceTable);
    ASSERT_NE(table, nullptr);
    for (int i = 0; i < 8; ++i) {
        const int expected = std::max(1, (standardFirstRow[i] * 6 + 50) / 100);
        EXPECT_EQ(table->value[2 * i] | (table->value[2 * i + 1] << 8), expected) << i;
    }

    BitmapRef pattern = test::PatternBitmap(67, 33);
    ASSERT_TRUE(SavePng(*pattern, dir.File("p.png")).Ok);
    LoadResult png = LoadBitmapFromFile(dir.File("p.png"));
    ASSERT_NE(png.Bitmap, nullptr);
    ASSERT_EQ(png.Bitmap->Width(), 67u);
    EXPECT_EQ(test::MeanDifference(*pattern, *png.Bitmap), 0.0);
}

TEST(Save, FailedSavesReportAndLeaveTheTargetIntact) {
    test::TempDir dir;
    BitmapRef picture = test::SmoothBitmap(20, 10);
    SaveResult missing = SaveJpeg(*picture, dir.File("no/such/folder/x.jpg"));
    EXPECT_FALSE(missing.Ok);
    EXPECT_FALSE(missing.Message.empty());
    EXPECT_NE(picture->GetLastStatus(), Status::Ok);
    EXPECT_FALSE(SaveJpeg(*picture, "/proc/velora-cannot-write-here.jpg").Ok);
    EXPECT_FALSE(SaveJpeg(*picture, dir.Path).Ok);  // a folder is no file

    // An existing target survives a save that fails after its temporary file was made.
    const std::string target = dir.File("keep.jpg");
    test::WriteBytes(target, {1, 2, 3, 4, 5});
    ExtraMetadata broken;
    broken.Segments.push_back({0x01, {1}});  // no marker a segment can have
    picture->SetExtraMetadata(broken);
    SaveResult failed = SaveJpeg(*picture, target);
    EXPECT_FALSE(failed.Ok);
    EXPECT_FALSE(failed.Message.empty());
    EXPECT_EQ(test::ReadBytes(target), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    const auto entries = [&] {
        return std::distance(fs::directory_iterator(dir.Path), fs::directory_iterator());
    };
    EXPECT_EQ(entries(), 1) << "a temporary file was left behind";

    // Told to keep an existing target, a finished save leaves it and its own temporary alone.
    picture->SetExtraMetadata({});
    for (bool png : {false, true}) {
        SaveResult kept = png ? SavePng(*picture, target, ExistingTarget::Keep)
                              : SaveJpeg(*picture, target, 97, ExistingTarget::Keep);
        EXPECT_FALSE(kept.Ok);
        EXPECT_TRUE(kept.TargetExists);
        EXPECT_EQ(test::ReadBytes(target), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
        EXPECT_EQ(entries(), 1);
    }
    // A dangling symbolic link is an existing name too.
    fs::create_symlink(dir.File("nowhere.jpg"), dir.File("dangling.jpg"));
    EXPECT_TRUE(
        SaveJpeg(*picture, dir.File("dangling.jpg"), 97, ExistingTarget::Keep).TargetExists);
    EXPECT_FALSE(fs::exists(dir.File("nowhere.jpg")));
    EXPECT_TRUE(SaveJpeg(*picture, dir.File("new.jpg"), 97, ExistingTarget::Keep).Ok);

    // A successful save replaces the target.
    ASSERT_TRUE(SaveJpeg(*picture, target).Ok);
    EXPECT_NE(test::ReadBytes(target).size(), 5u);

    // Paths far longer than 255 characters are fine here.
    const std::string deep = dir.Path + "/" + std::string(120, 'a') + "/" + std::string(120, 'b') +
                             "/" + std::string(120, 'c');
    fs::create_directories(deep);
    const std::string longPath = deep + "/" + std::string(200, 'p') + ".jpg";
    ASSERT_GT(longPath.size(), 255u);
    SaveResult longSave = SaveJpeg(*picture, longPath);
    ASSERT_TRUE(longSave.Ok) << longSave.Message;
    EXPECT_NE(LoadBitmapFromFile(longPath).Bitmap, nullptr);
}

// However many saves run at once, each saver lays out its own picture's metadata (with the photos
// at hand, a real maker note anew) and every saved file gets the mode that the umask gives any new
// file; the umask stays as it was.
TEST(Save, ParallelSavesKeepTheirMetadataAndGetTheUmasksMode) {
    test::TempDir dir;
    BitmapRef source = test::SmoothBitmap(2, 2);
    std::string model = "Parallel";
    ImageProperties(*source).SetText(PropertyTagEquipModel, model);
    source->SetPropertyItem({0x829A, PropertyTagTypeRational, {1, 0, 0, 0, 100, 0, 0, 0}, false});
    if (test::HavePhotos()) {
        LoadResult photo = LoadBitmapFromFile(test::Photo("camera/nikon_p6000_gps_small.jpg"));
        ASSERT_NE(photo.Bitmap, nullptr);
        source = photo.Bitmap->Clone(0, 0, 2, 2);
        ASSERT_TRUE(ImageProperties(*source).GetText(PropertyTagEquipModel, model));
    }
    constexpr int Threads = 8, Saves = 150;
    std::vector<BitmapRef> opened;
    for (int t = 0; t < Threads; ++t) {
        opened.push_back(source->Clone(0, 0, 2, 2));
    }
    const mode_t before = ::umask(022);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            BitmapRef picture = test::SmoothBitmap(2, 2);
            for (int i = 0; i < Saves; ++i) {
                const std::string name = dir.File(std::to_string(t) + "-" + std::to_string(i));
                const bool saved =
                    SaveConvertedPicture(*picture, *opened[t], name, ExistingTarget::Replace,
                                         i % 2 == 0 ? PictureFormat::Jpeg : PictureFormat::Png)
                        .Ok;
                failures += saved ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const mode_t after = ::umask(077);
    SaveResult strict = SaveJpeg(*test::SmoothBitmap(2, 2), dir.File("strict.jpg"));
    ::umask(before);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(after, mode_t{022});
    ASSERT_TRUE(strict.Ok) << strict.Message;
    int wrongMode = 0, wrongModel = 0, files = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path)) {
        const bool strictOne = entry.path().filename() == "strict.jpg";
        const auto mode = static_cast<unsigned>(entry.status().permissions()) & 07777;
        wrongMode += mode == (strictOne ? 0600u : 0644u) ? 0 : 1;
        ++files;
        LoadResult back = LoadBitmapFromFile(entry.path().string());
        std::string saved;
        if (!strictOne &&
            !(back.Bitmap && ImageProperties(*back.Bitmap).GetText(PropertyTagEquipModel, saved) &&
              saved == model + ", vlr3")) {
            ++wrongModel;
        }
    }
    EXPECT_EQ(files, Threads * Saves + 1);
    EXPECT_EQ(wrongMode, 0);
    EXPECT_EQ(wrongModel, 0);
}

// A replaced file keeps its permission bits; a new result is no more readable than its source,
// by either save (the streamed JPEG save takes the source's bits from the row reader).
TEST(Save, ReplacedFilesKeepTheirModeAndResultsStayAsPrivateAsTheirSource) {
    test::TempDir dir;
    const mode_t before = ::umask(022);
    struct Case {
        mode_t Source;
        int Existing;  // the target's mode before the save, -1: no target yet
        mode_t Expected;
    };
    const Case cases[] = {{0600, -1, 0600}, {0640, -1, 0640},   {0604, -1, 0604},
                          {0664, -1, 0644}, {0644, 0600, 0600}, {0600, 0664, 0664}};
    const std::string source = dir.File("source.jpg");
    ASSERT_TRUE(SaveJpeg(*test::SmoothBitmap(16, 8), source).Ok);
    int n = 0;
    for (const Case& c : cases) {
        ASSERT_EQ(::chmod(source.c_str(), c.Source), 0);
        LoadResult opened = LoadBitmapFromFile(source);
        PictureRowReader rows;
        ASSERT_NE(opened.Bitmap, nullptr);
        ASSERT_TRUE(rows.Open(source));
        for (int way = 0; way < 3; ++way) {
            const std::string target = dir.File(std::to_string(n++) + ".out");
            if (c.Existing >= 0) {
                test::WriteBytes(target, {1});
                ASSERT_EQ(::chmod(target.c_str(), static_cast<mode_t>(c.Existing)), 0);
            }
            BitmapRef working = test::SmoothBitmap(16, 8);
            if (way < 2) {
                const auto format = way == 0 ? PictureFormat::Jpeg : PictureFormat::Png;
                ASSERT_TRUE(SaveConvertedPicture(*working, *opened.Bitmap, target,
                                                 ExistingTarget::Replace, format)
                                .Ok);
            } else {
                ConvertedPictureWriter writer;
                BitmapData data;
                working->LockBits({0, 0, 16, 8}, ImageLockModeRead, PixelFormat24bppRGB, &data);
                ASSERT_TRUE(writer.Start(target, *rows.Metadata(), 16, 8,
                                         ConvertedPictureWriter::Format::Jpeg) &&
                            writer.WriteRows(data.Scan0, data.Stride, 8) && writer.Commit());
                working->UnlockBits(&data);
            }
            struct stat info {};
            ASSERT_EQ(::stat(target.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, c.Expected)
                << std::oct << c.Source << " " << c.Existing << " save " << way;
        }
    }
    ::umask(before);
}

TEST(Save, PropertyViewAndEncoderLookup) {
    BitmapRef a = WorkingBitmap::CreateBlank(2, 2);
    BitmapRef b = WorkingBitmap::CreateBlank(2, 2);
    for (std::uint32_t id : {0x010Fu, 0x0110u, 0x5012u, 0x501Bu, 0x5090u, 0x5091u, 0x5092u}) {
        a->SetPropertyItem({id, PropertyTagTypeASCII, {'v', 0}, false});
    }
    ImageProperties source(*a), target(*b);
    const std::uint32_t excluded[] = {0x010F, 0};
    target.CopyFrom(source, excluded, true);
    EXPECT_EQ(b->GetPropertyIdList(), (std::vector<std::uint32_t>{0x0110, 0x5092}));
    // A failure left on the source stops the copy, and is cleared by it.
    BitmapRef c = WorkingBitmap::CreateBlank(2, 2);
    a->RecordStatus(Status::GenericError);
    ImageProperties third(*c);
    third.CopyFrom(source, nullptr, false);
    EXPECT_EQ(c->GetPropertyCount(), 0u);
    EXPECT_EQ(a->LastStatus(), Status::Ok);

    std::string text = "unchanged";
    EXPECT_FALSE(target.GetText(0x9999, text));
    EXPECT_EQ(text, "unchanged");
    b->SetPropertyItem({0x010E, PropertyTagTypeASCII, {'a', 'b', 0, 'c', 0}, false});
    EXPECT_TRUE(target.GetText(0x010E, text));
    EXPECT_EQ(text, "ab");
    EXPECT_TRUE(target.SetText(0x010E, "Model X"));
    std::unique_ptr<PropertyItem> item = target.GetItem(0x010E);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->length(), 8u);
    EXPECT_EQ(item->value.back(), 0);

    EncoderId jpeg, png, untouched;
    EXPECT_EQ(FindEncoderByMimeType(u"image/jpeg", &jpeg), 0);
    EXPECT_EQ(FindEncoderByMimeType(u"image/png", &png), 1);
    EXPECT_EQ(FindEncoderByMimeType(u"IMAGE/JPEG", &untouched), -1);
    EXPECT_EQ(untouched.Bytes[0], 0);
    EXPECT_NE(std::memcmp(jpeg.Bytes, png.Bytes, 16), 0);
}

TEST(Save, VlrSuffixGoesBeforeTheFirstDot) {
    EXPECT_EQ(InsertVlrSuffix("photo.jpg"), "photo_vlr.jpg");
    EXPECT_EQ(InsertVlrSuffix("my.trip.jpg"), "my_vlr.trip.jpg");
    EXPECT_EQ(InsertVlrSuffix("photo"), "_vlrphoto");
    EXPECT_EQ(InsertVlrSuffix(".hidden"), "_vlr.hidden");
    EXPECT_EQ(InsertVlrSuffix(""), "_vlr");
}

}  // namespace
}  // namespace velora
