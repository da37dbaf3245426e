// TIFF, GIF, ICO, WebP, HEIC and AVIF, and CMYK and grey colour: pixels against each format's
// own reference tool, metadata against exiftool on the saved JPEG, profiles against lcms2's
// transicc.
#include <algorithm>
#include <functional>
#include <sstream>

#include "ImageFile.h"
#include "ImageProperties.h"
#include "TestSupport.h"

namespace velora {
namespace {

namespace fs = std::filesystem;
using test::Crafted;
using test::Photo;
using test::Quote;

// AVIF files whose colour profile libpng refuses to write keep heif-convert from writing a PNG;
// the profile takes no part in decoding, so the reference decodes a copy with its colr box
// renamed into a free box.
std::string WithoutColourBox(const std::string& path, const test::TempDir& dir) {
    std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    const std::string tag = "colrprof";
    auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    if (at != bytes.end()) {
        std::copy_n("free", 4, at);
    }
    const std::string copy = dir.File("no-colr-" + fs::path(path).filename().string());
    test::WriteBytes(copy, bytes);
    return copy;
}

// Every kind of file against its format's own reference decoder (ImageMagick where the row names
// none), within the spread between decoders: JPEG kinds within a few steps, lossless kinds exact
// or one step of rounding apart.
TEST(Formats, PixelsMatchEachFormatsReferenceTool) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("convert");
    test::TempDir dir;
    const std::string standardCmyk = VELORA_CMYK_PROFILE;
    struct Case {
        std::string Command;  // its first word the tool; %in: the file, %out: the reference decode
        int Tolerance;
        std::vector<std::string> Files;
        bool DropColourBox = false;
    };
    // Kinds of TIFF the photos do not show, made from them by libtiff's tiffcp and ImageMagick.
    auto made = [&](const std::string& name, const std::string& command) {
        test::Run(command + " " + Quote(dir.File(name)));
        return dir.File(name);
    };
    // A PNG of the same frame, decoded apart, serves as the reference of some JPEGs.
    auto frame = [](const char* png) { return "cp " + Quote(Photo(png)) + " %out.png"; };
    const std::string rgb8 = Quote(Photo("modern/tiff_rgb8_lzw_exif_gps.tif"));
    const std::string rgb16 = Quote(Photo("modern/tiff_rgb16_deflate_icc.tif"));
    const std::string cmyk = Quote(Photo("modern/tiff_cmyk_icc.tif"));
    const std::string heif = "heif-convert %in %out.png";
    const std::string tiff = "tiff2rgba %in %out.tif";
    const std::string tificc = "tificc -t1 -b %in %out.tif";
    const std::string jpgicc = "jpgicc -t1 -b -q100 %in %out.jpg";  // a JPEG again, quality 100
    const Case cases[] = {
        {heif,
         0,
         {Photo("modern/heic_phone_exif_gps.heic"), Photo("broken/not_jpeg_heic.jpg"),
          Crafted("ok_heic_irot_exif6.heic")}},
        {heif, 0, {Photo("modern/avif_exif_icc.avif")}, true},
        // heif-convert writes the grid and the overlay at 16 bits a sample; alpha over white and
        // 12 bits rounded to 8: within one step of the tool's own rounding.
        {heif,
         1,
         {Crafted("ok_heic_grid_2x2.heic"), Crafted("ok_heic_overlay.heic"),
          Crafted("ok_heic_alpha.heic"), Crafted("ok_heic_12bit.heic")}},
        {"dwebp -quiet %in -pam -o %out.pam",
         0,
         {Photo("modern/webp_exif_xmp_gps.webp"), Crafted("ok_webp_lossless_alpha.webp")}},
        // The RGBA reader of libtiff's own tool; for CMYK lcms2's tool with the same intent.
        {tiff,
         0,
         {Photo("modern/tiff_rgb8_lzw_exif_gps.tif"), Photo("modern/tiff_multipage_jpeg.tif"),
          Crafted("ok_tiff_palette4.tif"), made("ycbcr_jpeg.tif", "tiffcp -c jpeg " + rgb8),
          made("jpeg_tiles.tif", "tiffcp -c jpeg -t -w 128 -l 64 " + rgb8),
          made("tiles16_planes.tif",
               "convert " + rgb16 + " -interlace plane -define tiff:tile-geometry=128x64"),
          made("palette.tif", "convert " + rgb8 + " -colors 200 -type palette"),
          made("bilevel.tif", "convert " + rgb8 + " -monochrome")}},
        {tiff,
         1,
         {Photo("modern/tiff_rgb16_deflate_icc.tif"),
          made("grey16.tif", "convert " + rgb8 + " -colorspace gray -depth 16")}},
        {tificc,
         0,
         {Photo("modern/tiff_cmyk_icc.tif"), made("cmyk16.tif", "convert " + cmyk + " -depth 16")}},
        {jpgicc, 2, {Photo("special/cmyk_swop_icc.jpg")}},
        // Without a profile of their own, through the standard one.
        {"jpgicc -i" + standardCmyk + jpgicc.substr(6),
         2,
         {Photo("special/ycck_adobe-t2_exif.jpg"), Photo("special/cmyk_adobe-t0.jpeg")}},
        {frame("other-formats/video-001.png"),
         8,
         {Photo("special/baseline_plain.jpeg"), Photo("special/progressive_plain.jpeg")}},
        {frame("other-formats/video-005.gray.png"), 8, {Photo("special/gray_plain.jpeg")}},
        {frame("other-formats/video-001.progressive.truncated.png"),
         8,
         {Photo("broken/truncated_progressive_eoi.jpeg")}},
        // Every subsampling and arithmetic coding, against ImageMagick's decode of the same file.
        {"",
         12,
         {Photo("special/subsampling_444.jpeg"), Photo("special/subsampling_422.jpeg"),
          Photo("special/subsampling_420.jpeg"), Photo("special/subsampling_440.jpeg"),
          Photo("special/subsampling_411.jpeg"), Photo("special/subsampling_420_progressive.jpeg"),
          Photo("special/subsampling_221212.jpeg"), Photo("special/arithmetic_coded.jpg"),
          Photo("special/rgb_adobe-t0.jpeg"), Photo("special/qtables16bit.jpg")}},
        // Laid over white; 16-bit samples may round one step apart.
        {"",
         1,
         {Photo("other-formats/png_palette_alpha_256x256.png"),
          Photo("other-formats/png_16bit_icc.png"), Photo("other-formats/bmp_pal8.bmp"),
          Photo("other-formats/bmp_pal8_rle.bmp"), Photo("other-formats/bmp_pal1.bmp"),
          Photo("other-formats/bmp_rgb24.bmp"), Photo("other-formats/bmp_photo_pal8.bmp"),
          Crafted("ok_tiff_grey16_alpha.tif"), Crafted("ok_ico_bmp_alpha.ico")}},
        {"",
         0,
         {Photo("modern/ico_multi.ico"), Photo("other-formats/gif_palette.gif"),
          Photo("other-formats/gif_transparent.gif"),
          Photo("other-formats/gif_animated_10frames.gif")}},
    };
    int index = 0;
    for (const Case& c : cases) {
        for (const std::string& file : c.Files) {
            SCOPED_TRACE(file);
            LoadResult r = LoadBitmapFromFile(file);
            ASSERT_NE(r.Bitmap, nullptr) << r.Message;
            std::string reference = file;
            if (!c.Command.empty()) {
                const std::string tool = c.Command.substr(0, c.Command.find(' '));
                if (!test::HaveTool(tool) || (c.Command.find(standardCmyk) != std::string::npos &&
                                              !fs::exists(standardCmyk))) {
                    ADD_FAILURE() << "no " << tool << " or standard CMYK profile to judge with";
                    continue;
                }
                const std::string out = dir.File("reference" + std::to_string(index++));
                std::string command = c.Command;
                if (command.find("%in") != std::string::npos) {
                    command.replace(command.find("%in"), 3,
                                    Quote(c.DropColourBox ? WithoutColourBox(file, dir) : file));
                }
                command.replace(command.find("%out"), 4, Quote(out));
                test::Run(command);
                reference = out + command.substr(command.rfind('.'));
                ASSERT_TRUE(fs::exists(reference)) << command;
            }
            EXPECT_LE(test::MaxDifferenceToRgb(*r.Bitmap, test::ReferenceRgb(reference)),
                      c.Tolerance);
        }
    }
    // The small PNG test files carry gAMA 1.0, which ImageMagick applies and we do not: they are
    // only checked for opening at their size.
    for (const char* name :
         {"other-formats/png_palette_8bit.png", "other-formats/png_palette_trns.png",
          "other-formats/png_rgba_8bit.png", "other-formats/png_gray_alpha_16bit.png",
          "other-formats/png_rgb16_interlaced.png"}) {
        LoadResult r = LoadBitmapFromFile(Photo(name));
        ASSERT_NE(r.Bitmap, nullptr) << name << ": " << r.Message;
        EXPECT_EQ(r.Bitmap->Width(), 32u);
    }
}

// Crafted pictures whose pixels are known by construction (see tests/data/crafted_formats.py).
TEST(Formats, CraftedPicturesShowWhatTheyHold) {
    const Argb white = 0xFFFFFFFF;
    struct Case {
        const char* Name;
        int Width;
        int Height;
        std::function<Argb(int, int)> Expected;
        int Rows;  // rows read; the rest is black and the picture is marked damaged
    };
    const Argb gifColours[4] = {0xFF000000, 0xFFFF0000, 0xFF00FF00, white};  // 3: transparent
    const Case cases[] = {
        {"ok_tiff_tiled_planar.tif", 20, 12, test::PatternColour, 12},
        {"dmg_tiff_cut_strip.tif", 16, 16, test::PatternColour, 8},
        {"ok_gif_offset_transparent.gif", 8, 6,
         [&](int x, int y) {
             const bool inFrame = x >= 2 && x < 7 && y >= 1 && y < 5;
             return inFrame ? gifColours[((x - 2) + 2 * (y - 1)) % 4] : white;
         },
         6},
        // L* 50.2 is Y 0.1858 in any white, sRGB 0.4683: 119 of 255.
        {"ok_tiff_cielab.tif", 3, 1,
         [](int x, int) {
             return Argb{x == 0 ? 0xFFFFFFFFu : x == 1 ? 0xFF000000u : 0xFF777777u};
         },
         1},
        {"ok_ico_damaged_largest.ico", 4, 4, [](int, int) { return Argb{0xFF101010}; }, 4},
        {"ok_ico_bmp_mask.ico", 8, 8,
         [&](int x, int y) { return x < 4 ? white : test::PatternColour(x, y); }, 8},
        {"ok_webp_animated_offset.webp", 8, 8,
         [&](int x, int y) {
             return x >= 2 && x < 6 && y >= 2 && y < 6 ? Argb{0xFFC80000} : white;
         },
         8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LoadResult r = LoadBitmapFromFile(Crafted(c.Name));
        ASSERT_NE(r.Bitmap, nullptr) << r.Message;
        ASSERT_EQ(r.Bitmap->Width(), static_cast<unsigned>(c.Width));
        ASSERT_EQ(r.Bitmap->Height(), static_cast<unsigned>(c.Height));
        EXPECT_EQ(r.Damaged, c.Rows != c.Height) << r.DamageReason;
        test::ExpectPixels(
            *r.Bitmap, [&](int x, int y) { return y < c.Rows ? c.Expected(x, y) : 0xFF000000; });
    }
}

// Raws are known by their content: a broken one is refused as a camera raw, never read as a
// TIFF preview, a HEIF or no picture at all; a sound one opens as LibRaw develops it.
TEST(Formats, CameraRawsAreKnownByContentAndDevelopedAsLibRawDoes) {
    const std::string tiffHeader("II*\0\x08\0\0\0", 8);
    for (const std::string& start :
         {tiffHeader + "CR\x02\0", std::string("\0\0\0\030ftypcrx ", 12),
          std::string("FUJIFILMCCD-RAW "), std::string("IIRO\x08\0\0\0", 8),
          std::string("IIU\0\x08\0\0\0", 8), std::string("\0MRM\0\0\0\x20", 8)}) {
        std::vector<std::uint8_t> bytes(start.begin(), start.end());
        bytes.resize(4096, 0x5A);
        const LoadResult r = LoadBitmapFromMemory(bytes.data(), bytes.size());
        EXPECT_EQ(r.Bitmap, nullptr) << start;
        EXPECT_NE(r.Message.find("camera raw"), std::string::npos) << start << ": " << r.Message;
    }
    // The mosaic, not the preview, developed as LibRaw's own tool develops it with the same
    // settings: a missed turn or white balance shows in the pixels.
    VELORA_NEED_TOOL("dcraw_emu");
    VELORA_NEED_TOOL("convert");
    test::TempDir dir;
    for (const char* name :
         {"ok_raw_dng_bayer.dng", "ok_raw_dng_preview_first.dng", "ok_raw_nef_like.nef",
          "ok_raw_arw_like.arw", "ok_raw_dng_monochrome.dng", "ok_raw_dng_tiled.dng"}) {
        const std::string reference = dir.File(std::string(name) + ".ppm");
        test::Run("dcraw_emu -w -o 1 -Z - " + Quote(Crafted(name)) + " > " + Quote(reference));
        LoadResult r = LoadBitmapFromFile(Crafted(name));
        ASSERT_NE(r.Bitmap, nullptr) << name << ": " << r.Message;
        EXPECT_EQ(test::MaxDifferenceToRgb(*r.Bitmap, test::ReferenceRgb(reference)), 0) << name;
    }
}

// Loads `source`, converts nothing and saves it the way the window does.
std::string SaveCopy(const std::string& source, const test::TempDir& dir) {
    BitmapRef opened = test::OpenCopy(source);
    const std::string out = dir.File(fs::path(source).filename().string() + "_vlr.jpg");
    EXPECT_TRUE(opened && SaveConvertedPicture(*test::Copy(*opened), *opened, out).Ok) << source;
    return opened ? out : "";
}

// The HEIF reader turned the picture as its irot box says, and LibRaw as the raw says: the copy
// must not be turned again. The tags that describe a raw's sensor data stay behind.
TEST(Formats, PicturesTurnedOnLoadAreSavedUpright) {
    VELORA_NEED_TOOL("exiftool");
    test::TempDir dir;
    const auto turned = test::ExifTags(Crafted("ok_heic_irot_exif6.heic"));
    ASSERT_EQ(turned.at("[IFD0] Orientation"), "6");
    const auto upright = test::ExifTags(SaveCopy(Crafted("ok_heic_irot_exif6.heic"), dir));
    EXPECT_EQ(upright.at("[IFD0] Orientation"), "1");
    EXPECT_EQ(upright.at("[IFD0] Make"), "Velora");
    const auto raw = test::ExifTags(SaveCopy(Crafted("ok_raw_dng_bayer.dng"), dir));
    EXPECT_EQ(raw.at("[IFD0] Orientation"), "1");
    EXPECT_EQ(raw.count("[IFD0] DNGVersion") + raw.count("[IFD0] CFAPattern2"), 0u);
    EXPECT_EQ(raw.at("[ExifIFD] ExposureTime") + " " + raw.at("[XMP-xmp] Rating"), "0.008 4");
}

std::string ProfileSpace(const std::string& jpeg) {
    return test::Run("exiftool -s3 -ICC-header:ColorSpaceData " + Quote(jpeg));
}

// L*, a*, b* of one colour through `profile`, as lcms2's own calculator gives it.
std::vector<double> Lab(const std::string& profile, const std::string& colour) {
    std::istringstream text(
        test::Run("echo " + Quote(colour) + " | transicc -t1 -i" + Quote(profile) + " -o*Lab"));
    std::vector<double> values;
    for (std::string word; text >> word;) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos && word.find('*') != std::string::npos) {
            values.push_back(std::stod(word.substr(equals + 1)));
        }
    }
    return values;
}

TEST(Formats, SavedProfilesDescribeRgbWithTrueColours) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("exiftool");
    test::TempDir dir;
    // CMYK and YCCK pictures, with and without a profile of their own, leave as sRGB.
    for (const char* name : {"modern/tiff_cmyk_icc.tif", "special/cmyk_swop_icc.jpg",
                             "special/cmyk_adobe-t0.jpeg", "special/ycck_adobe-t2_exif.jpg"}) {
        const std::string out = SaveCopy(Photo(name), dir);
        EXPECT_EQ(ProfileSpace(out), "RGB\n") << name;
        EXPECT_NE(test::Run("exiftool -s3 -ProfileDescription " + Quote(out)).find("sRGB"),
                  std::string::npos)
            << name;
    }
    // A grey picture with a linear grey profile: its RGB stand-in gives every grey the lightness
    // the grey profile gave it, where sRGB (what a viewer assumes without one) would not.
    VELORA_NEED_TOOL("transicc");
    VELORA_NEED_TOOL("convert");
    const std::string linearGrey = "/usr/share/color/icc/ghostscript/ps_gray.icc";
    if (!fs::exists(linearGrey)) {
        GTEST_SKIP() << "no " << linearGrey;
    }
    const std::string grey = dir.File("grey_linear.jpg");
    test::Run("convert " + Quote(Photo("special/gray_plain.jpeg")) + " -profile " +
              Quote(linearGrey) + " " + Quote(grey));
    ASSERT_EQ(ProfileSpace(grey), "GRAY\n");
    const std::string out = SaveCopy(grey, dir);
    ASSERT_EQ(ProfileSpace(out), "RGB\n");
    const std::string carried = dir.File("carried.icc");
    std::ofstream(carried, std::ios::binary) << test::Run("exiftool -b -ICC_Profile " + Quote(out));
    for (int v : {0, 16, 64, 128, 200, 255}) {
        const std::string level = std::to_string(v);
        const std::vector<double> expected = Lab(linearGrey, level);
        const std::vector<double> got = Lab(carried, level + " " + level + " " + level);
        ASSERT_EQ(expected.size(), 3u);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_NEAR(got[0], expected[0], 0.5) << v;
        EXPECT_NEAR(got[1], 0, 0.5) << v;
        EXPECT_NEAR(got[2], 0, 0.5) << v;
        if (v == 128) {
            EXPECT_GT(std::abs(Lab("*sRGB", "128 128 128")[0] - expected[0]), 10);
        }
    }
}

}  // namespace
}  // namespace velora
