// velora-batch on real files, run in this process: the pixels and bytes it writes, and what it
// refuses to write.
#include <gtest/gtest.h>

#include <algorithm>

#include "BatchTestSupport.h"
#include "Conversion.h"
#include "ConvertAndSharpen.h"
#include "OutputPlan.h"
#include "UnsharpMaskFilter.h"

namespace velora::batch {
namespace {

using namespace testing;

// The window's conversion on a decoded picture: a full copy of it, the pass, the filter. The
// engine's own tests hold the pass and the filter to their definitions.
BitmapRef WindowConversion(WorkingBitmap& loaded, const ConversionOptions& options) {
    BitmapRef working =
        loaded.Clone(0, 0, static_cast<int>(loaded.Width()), static_cast<int>(loaded.Height()));
    ConvertPicture(*working, options, nullptr, std::atomic<int>{0}, 1);
    return UnsharpMaskFilter().UnsharpMask(*working, FinalSharpening::Sigma,
                                           FinalSharpening::Amount, FinalSharpening::Channels);
}

// ... and the save with the opened picture's metadata.
bool SaveLikeTheWindow(const std::string& input, const ConversionOptions& options,
                       const std::string& output) {
    BitmapRef loaded = Load(input);
    if (!loaded) {
        return false;
    }
    BitmapRef opened =
        loaded->Clone(0, 0, static_cast<int>(loaded->Width()), static_cast<int>(loaded->Height()));
    BitmapRef sharpened = WindowConversion(*loaded, options);
    return sharpened && SaveConvertedPicture(*sharpened, *opened, output).Ok;
}

std::string ModelOf(const std::string& path) {
    BitmapRef bitmap = Load(path);
    PropertyItem item;
    if (!bitmap || bitmap->GetPropertyItem(0x0110, &item) != Status::Ok) {
        return "<none>";
    }
    return std::string(item.value.begin(),
                       std::find(item.value.begin(), item.value.end(), std::uint8_t{0}));
}

// Each row's options, as the window would pass them: the whole PNG result is that conversion
// followed by the sharpening. The defaults are the window's start-up positions.
TEST(BatchFiles, PngResultIsTheConversionOfTheOptionsFollowedByTheSharpening) {
    ScratchFolder scratch;
    std::string input = scratch / "texture.png";
    ASSERT_TRUE(SavePng(*TexturedPicture(37, 23, 1), input).Ok);
    BitmapRef decoded = Load(input);
    ASSERT_TRUE(decoded);
    const struct {
        std::vector<std::string> Options;
        ConversionOptions Expected;
    } rows[] = {
        {{}, {35, 41, true, false, false}},
        {{"--no-gray-contrast"}, {35, 41, false, false, false}},
        {{"--film", "blueish"}, {35, 41, true, false, true}},
        {{"--color", "70", "--gray", "20", "--film", "reddish"}, {70, 20, true, true, false}},
        {{"--color", "100", "--gray", "0", "--no-gray-contrast"}, {100, 0, false, false, false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.Options));
        RunOutput run =
            RunInProcess(Joined(row.Options, {"--format", "png", "--overwrite", "--quiet", input}));
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        BitmapRef result = Load(scratch / "texture_vlr.png");
        ASSERT_TRUE(result);
        BitmapRef expected = WindowConversion(*decoded, row.Expected);
        ASSERT_TRUE(expected);
        EXPECT_EQ(Pixels(*result), Pixels(*expected));
    }
}

TEST(BatchFiles, JpegResultIsByteIdenticalToTheWindowsSave) {
    ScratchFolder scratch;
    std::string input = scratch / "camera.jpg";
    BitmapRef picture = TexturedPicture(64, 48, 2);
    SetModel(*picture, "Test Model");
    ASSERT_TRUE(SaveJpeg(*picture, input, 90).Ok);
    // Trailers after the picture, streamed as in the window's save: AFCP counts its offsets
    // from the file's start, so the result's follow its own picture's end.
    std::string bytes = ReadBytes(input);
    auto big32 = [](std::size_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    const std::size_t afcp = bytes.size();
    bytes += std::string("AXS!\0\1\0\1\0\0\0\0IPTC", 16) + big32(8) + big32(afcp + 24) +
             std::string("\x1c\x02\x78\0\3abc", 8) + "AXS!" + big32(afcp) + big32(0);
    bytes += std::string("\x1c\x02\xde\0\4\0\0\0\3", 9) + big32(9) + "cbipcbbl";
    WriteBytes(input, bytes);
    RunOutput run = RunInProcess({"--gray", "60", "--film", "blueish", input});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    std::string reference = scratch / "reference.jpg";
    ASSERT_TRUE(SaveLikeTheWindow(input, ConversionOptions{35, 60, true, false, true}, reference));
    std::string produced = ReadBytes(scratch / "camera_vlr.jpg");
    ASSERT_GT(produced.size(), 65u);
    EXPECT_TRUE(produced == ReadBytes(reference));
    EXPECT_EQ(produced.substr(produced.size() - 65, 4), "AXS!");
    EXPECT_EQ(produced.substr(produced.size() - 29, 4), big32(produced.size() - 65));
    // The metadata came through the tool's small copy of the opened picture.
    EXPECT_EQ(ModelOf(scratch / "camera_vlr.jpg"), "Test Model, vlr3");
}

TEST(BatchFiles, RealPhotosMatchTheWindowsSaveByte) {
    if (!PhotosPresent()) {
        GTEST_SKIP() << "no sample photos at " << VELORA_PHOTOS_DIR;
    }
    ScratchFolder scratch;
    // Every kind of JPEG the rows stream from (baseline, progressive, every subsampling, grey,
    // CMYK, strips, one pixel) and one of each other kind a photographer meets, decoded whole.
    const std::vector<std::string> photos = {
        "camera/nikon_p6000_gps_small.jpg",
        "camera/samsung_sm-g935l_gps_app4-5-11.jpg",  // metadata after the picture's end
        "large/canon_5d3_photoshop_5760x3840.jpg",
        "large/elephants_sony_rx100m4_5640x3172.jpg",
        "large/kleiber_6028x3391.jpg",
        "special/tiny_1x1_iphone_xr_exif_gps.jpg",
        "special/tiny_1x1_minimal_exif.jpg",
        "special/gray_oneplus_exif_gps.jpg",
        "special/progressive_oneplus_exif_gps.jpg",
        "special/cmyk_adobe-t0.jpeg",
        "special/ycck_adobe-t2_exif.jpg",
        "special/subsampling_440.jpeg",
        "special/subsampling_221212.jpeg",
        "special/wide_1140x70.jpg",
        "special/tall_50x350_pentax.jpg",
        "special/orientation/landscape_6.jpg",
        "other-formats/png_with_exif.png",
        "other-formats/gif_transparent.gif",
        "modern/heic_phone_exif_gps.heic",
        "modern/avif_exif_icc.avif",
        "modern/webp_exif_xmp_gps.webp",
        "modern/tiff_cmyk_icc.tif",
        "modern/ico_multi.ico",
    };
    std::vector<std::string> arguments = {"--quiet", "-o", scratch.Folder("all")};
    for (const std::string& photo : photos) {
        arguments.push_back(Photo(photo));
    }
    // Two files at a time, each on one thread.
    RunOutput run = RunInProcess(arguments, 2);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    for (const std::string& photo : photos) {
        const std::string name = std::filesystem::path(photo).filename().string();
        const std::string reference = scratch / ("reference-" + name + ".jpg");
        ASSERT_TRUE(SaveLikeTheWindow(Photo(photo), ConversionOptions{}, reference)) << photo;
        const std::string bytes =
            ReadBytes(scratch / ("all/" + OutputFileName(name, OutputFormat::Jpeg)));
        EXPECT_FALSE(bytes.empty()) << photo;
        EXPECT_TRUE(bytes == ReadBytes(reference)) << photo;
        // One file alone: its two halves on two threads.
        if (photo.rfind("large/", 0) == 0 || photo.find("progressive") != std::string::npos) {
            ASSERT_EQ(
                RunInProcess({"--quiet", "-o", scratch.Folder("one"), Photo(photo)}, 2).ExitCode,
                0);
            EXPECT_TRUE(ReadBytes(scratch / ("one/" + OutputFileName(name, OutputFormat::Jpeg))) ==
                        ReadBytes(reference))
                << photo << " alone";
        }
    }
    EXPECT_EQ(ModelOf(scratch / "all/nikon_p6000_gps_small_vlr.jpg").substr(0, 5), "COOLP");
}

TEST(BatchFiles, SegmentsAfterDamagedPictureDataAgreeWithTheWindow) {
    // A scan cut off in the middle and followed by two more segments: libjpeg meets them while
    // rows are being read, so what the rows saw of the metadata at first is not all there is.
    ScratchFolder scratch;
    BitmapRef picture = TexturedPicture(160, 120, 4);
    SetModel(*picture, "Cut Short");
    const std::string whole = scratch / "whole.jpg";
    ASSERT_TRUE(SaveJpeg(*picture, whole, 90).Ok);
    std::string bytes = ReadBytes(whole);
    const std::size_t scan = bytes.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    const std::size_t cut = scan + (bytes.size() - scan) / 2;
    const std::string late = std::string("\xFF\xE5\x00\x0Elate-segment") +
                             std::string("\xFF\xFE\x00\x0Blate note") + "\xFF\xD9";
    const std::string input = scratch / "cut.jpg";
    WriteBytes(input, bytes.substr(0, cut) + late);
    const std::string reference = scratch / "reference.jpg";
    ASSERT_TRUE(SaveLikeTheWindow(input, ConversionOptions{}, reference));
    // Allowed, on one thread and on two (the halves side by side).
    for (const unsigned cores : {1u, 2u}) {
        const std::string folder = "out" + std::to_string(cores);
        RunOutput run = RunInProcess(
            {"--quiet", "--allow-damaged", "-o", scratch.Folder(folder), input}, cores);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        const std::string produced = ReadBytes(scratch / (folder + "/cut_vlr.jpg"));
        EXPECT_FALSE(produced.empty());
        EXPECT_TRUE(produced == ReadBytes(reference)) << cores;
    }
}

// A comment that fills the Exif segment leaves no room for ", vlr3": the JPEG is written
// without it and the tool names it for that file, also when told to be quiet. A PNG holds all.
TEST(BatchFiles, MetadataLeftOutIsNamedEvenWhenQuiet) {
    ScratchFolder scratch;
    const std::string input = scratch / "full.jpg";
    BitmapRef picture = TexturedPicture(30, 20, 3);
    SetModel(*picture, "M");
    // Header 8, IFD0 with the model and the Exif pointer 30, the Exif IFD 18: 65527 in all.
    const std::size_t comment = 65535 - 2 - 6 - 8 - 30 - 18;
    picture->SetPropertyItem(
        {0x9286, PropertyTagTypeUndefined, std::vector<std::uint8_t>(comment, 'c'), false});
    SaveResult saved = SaveJpeg(*picture, input, 90);
    ASSERT_TRUE(saved.Ok && saved.LeftOut.empty()) << saved.Message;
    const std::string warning = "velora-batch: " + input +
                                ": warning: saved without metadata the file cannot hold: "
                                "UserComment\n";
    for (bool quiet : {false, true}) {
        RunOutput run =
            RunInProcess(quiet ? std::vector<std::string>{"--quiet", "--overwrite", input}
                               : std::vector<std::string>{"--overwrite", input});
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_TRUE(Contains(run.Err, warning)) << run.Err;
        EXPECT_EQ(ModelOf(scratch / "full_vlr.jpg"), "M, vlr3");
    }
    RunOutput png = RunInProcess({"--quiet", "--format", "png", input});
    EXPECT_EQ(png.ExitCode, 0);
    EXPECT_EQ(png.Err, "");
    BitmapRef kept = Load(scratch / "full_vlr.png");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(ModelOf(scratch / "full_vlr.png"), "M, vlr3");
    EXPECT_EQ(kept->GetPropertyItemSize(0x9286), sizeof(PropertyItem) + comment);
}

TEST(BatchFiles, OneJobOrTwoGiveTheSameFiles) {
    ScratchFolder scratch;
    std::vector<std::string> inputs;
    for (unsigned i = 0; i < 5; ++i) {
        inputs.push_back(scratch / ("p" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(WriteJpeg(inputs.back(), 90 + 13 * i, 40 + 7 * i, i));
    }
    ASSERT_EQ(RunInProcess(Joined({"--jobs", "1", "-o", scratch.Folder("one")}, inputs)).ExitCode,
              0);
    ASSERT_EQ(RunInProcess(Joined({"--jobs", "2", "-o", scratch.Folder("two")}, inputs)).ExitCode,
              0);
    for (unsigned i = 0; i < 5; ++i) {
        std::string name = "p" + std::to_string(i) + "_vlr.jpg";
        std::string a = ReadBytes(scratch / ("one/" + name));
        EXPECT_FALSE(a.empty()) << name;
        EXPECT_TRUE(a == ReadBytes(scratch / ("two/" + name))) << name;
    }
}

}  // namespace
}  // namespace velora::batch
