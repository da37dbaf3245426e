// velora-batch on real files, run in this process: the pixels and bytes it writes, and what it
// refuses to write.
#include <gtest/gtest.h>

#include <algorithm>

#include "BatchTestSupport.h"
#include "Conversion.h"
#include "OutputPlan.h"
#include "UnsharpMaskFilter.h"

namespace velora::batch {
namespace {

using namespace testing;

// Conversion, then the 1-23-1 unsharp mask with amount 0.3, computed directly from the formulas
// for every pixel: an account of the result that shares no code with the tool's road.
std::vector<std::uint32_t> ExpectedPixels(WorkingBitmap& input, const ConversionOptions& options) {
    const int w = static_cast<int>(input.Width());
    const int h = static_cast<int>(input.Height());
    std::vector<std::uint32_t> source = Pixels(input);
    for (std::uint32_t& pixel : source) {
        pixel = ConvertPixel(pixel, options);
    }
    const int kernel[3] = {1, 23, 1};
    auto blur = [&](const std::vector<int>& plane, bool horizontal) {
        std::vector<int> out(plane.size());
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int sum = 0;
                int weights = 0;
                for (int d = -1; d <= 1; ++d) {
                    int sx = horizontal ? x + d : x;
                    int sy = horizontal ? y : y + d;
                    if (sx < 0 || sy < 0 || sx >= w || sy >= h) {
                        continue;
                    }
                    sum += plane[sy * w + sx] * kernel[d + 1];
                    weights += kernel[d + 1];
                }
                out[y * w + x] = sum / weights;
            }
        }
        return out;
    };
    std::vector<std::uint32_t> expected(source.size(), 0xFF000000u);
    for (int shift : {0, 8, 16}) {
        std::vector<int> plane(source.size());
        for (std::size_t i = 0; i < source.size(); ++i) {
            plane[i] = static_cast<int>((source[i] >> shift) & 0xFF);
        }
        std::vector<int> blurred = blur(blur(plane, true), false);
        for (std::size_t i = 0; i < source.size(); ++i) {
            int v = std::clamp((13000 * plane[i] - 3000 * blurred[i]) / 10000, 0, 255);
            expected[i] |= static_cast<std::uint32_t>(v) << shift;
        }
    }
    return expected;
}

// The window's road: full copies of the opened picture, the pass, the filter, the save.
bool SaveLikeTheWindow(const std::string& input, const ConversionOptions& options,
                       const std::string& output) {
    BitmapRef loaded = Load(input);
    if (!loaded) {
        return false;
    }
    const int w = static_cast<int>(loaded->Width());
    const int h = static_cast<int>(loaded->Height());
    BitmapRef opened = loaded->Clone(0, 0, w, h);
    BitmapRef working = loaded->Clone(0, 0, w, h);
    std::atomic<int> cancel{0};
    ConvertPicture(
        *working, options, [](int) {}, cancel, 1);
    BitmapRef sharpened = UnsharpMaskFilter().UnsharpMask(*working, 0.4f, 0.3f, 7);
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

TEST(BatchFiles, PngResultIsTheConversionFollowedByTheSharpening) {
    ScratchFolder scratch;
    std::string input = scratch / "texture.png";
    ASSERT_TRUE(SavePng(*TexturedPicture(37, 23, 1), input).Ok);
    RunOutput run = RunInProcess(
        {"--format", "png", "--color", "70", "--gray", "20", "--film", "reddish", input});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    BitmapRef result = Load(scratch / "texture_vlr.png");
    ASSERT_TRUE(result);
    ConversionOptions options;
    options.ColorStrength = 70;
    options.GrayStrength = 20;
    options.ReddishFilm = true;
    BitmapRef decoded = Load(input);
    ASSERT_EQ(result->Width(), 37u);
    ASSERT_EQ(result->Height(), 23u);
    std::vector<std::uint32_t> expected = ExpectedPixels(*decoded, options);
    std::vector<std::uint32_t> actual = Pixels(*result);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(actual[i], expected[i]) << "pixel " << i % 37 << "," << i / 37;
    }
}

TEST(BatchFiles, OptionsReachThePixels) {
    // Away from the boundary both halves are flat, so the filter leaves them as converted.
    ScratchFolder scratch;
    std::string input = scratch / "halves.png";
    ASSERT_TRUE(
        SavePng(*TwoColourPicture(12, 6, 6, Rgb(200, 150, 120), Rgb(10, 200, 30)), input).Ok);
    struct Case {
        std::vector<std::string> Options;
        std::uint32_t Left;
        std::uint32_t Right;
    };
    const Case cases[] = {
        {{}, Rgb(179, 147, 128), Rgb(0, 214, 8)},
        {{"--no-gray-contrast"}, Rgb(184, 152, 132), Rgb(0, 248, 9)},
        {{"--film", "reddish"}, Rgb(186, 150, 122), Rgb(0, 215, 5)},
        {{"--film", "blueish"}, Rgb(172, 145, 135), Rgb(0, 213, 10)},
        // The films need Gray Contrast.
        {{"--film", "reddish", "--no-gray-contrast"}, Rgb(184, 152, 132), Rgb(0, 248, 9)},
        {{"--color", "100", "--gray", "0", "--no-gray-contrast"}, Rgb(206, 148, 114), 0},
        {{"--color", "0", "--gray", "90", "--no-gray-contrast"}, Rgb(160, 156, 153), 0},
        {{"--color", "0", "--gray", "0", "--no-gray-contrast"}, Rgb(201, 149, 118), 0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.Options;
        for (const char* fixed : {"--format", "png", "--overwrite", "--quiet"}) {
            arguments.push_back(fixed);
        }
        arguments.push_back(input);
        RunOutput run = RunInProcess(arguments);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        BitmapRef result = Load(scratch / "halves_vlr.png");
        ASSERT_TRUE(result);
        Argb left = 0;
        Argb right = 0;
        for (int y = 0; y < 6; ++y) {
            for (int x : {0, 4}) {
                result->GetPixel(x, y, &left);
                EXPECT_EQ(left, c.Left) << ::testing::PrintToString(c.Options) << " x " << x;
            }
            for (int x : {7, 11}) {
                result->GetPixel(x, y, &right);
                if (c.Right != 0) {
                    EXPECT_EQ(right, c.Right) << ::testing::PrintToString(c.Options);
                }
            }
        }
    }
}

TEST(BatchFiles, JpegResultIsByteIdenticalToTheWindowsSave) {
    ScratchFolder scratch;
    std::string input = scratch / "camera.jpg";
    BitmapRef picture = TexturedPicture(64, 48, 2);
    SetModel(*picture, "Test Model");
    ASSERT_TRUE(SaveJpeg(*picture, input, 90).Ok);
    ConversionOptions options;
    options.GrayStrength = 60;
    options.BlueishFilm = true;
    RunOutput run = RunInProcess({"--gray", "60", "--film", "blueish", input});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    std::string reference = scratch / "reference.jpg";
    ASSERT_TRUE(SaveLikeTheWindow(input, options, reference));
    std::string produced = ReadBytes(scratch / "camera_vlr.jpg");
    ASSERT_FALSE(produced.empty());
    EXPECT_TRUE(produced == ReadBytes(reference));
    // The metadata came through the tool's small copy of the opened picture.
    EXPECT_EQ(ModelOf(scratch / "camera_vlr.jpg"), "Test Model, vlr3");
}

TEST(BatchFiles, RealPhotosMatchTheWindowsSaveByte) {
    if (!PhotosPresent()) {
        GTEST_SKIP() << "no sample photos at " << VELORA_PHOTOS_DIR;
    }
    ScratchFolder scratch;
    const char* photos[] = {"camera/nikon_p6000_gps_small.jpg",
                            "special/tiny_1x1_iphone_xr_exif_gps.jpg",
                            "special/gray_oneplus_exif_gps.jpg", "other-formats/png_with_exif.png"};
    std::vector<std::string> arguments = {"--quiet", "-o", scratch.path().string()};
    for (const char* photo : photos) {
        arguments.push_back(Photo(photo));
    }
    RunOutput run = RunInProcess(arguments);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    for (const char* photo : photos) {
        std::string name = std::filesystem::path(photo).filename().string();
        std::string produced = scratch / OutputFileName(name, OutputFormat::Jpeg);
        std::string reference = scratch / ("reference-" + name + ".jpg");
        ASSERT_TRUE(SaveLikeTheWindow(Photo(photo), ConversionOptions{}, reference)) << photo;
        std::string bytes = ReadBytes(produced);
        EXPECT_FALSE(bytes.empty()) << produced;
        EXPECT_TRUE(bytes == ReadBytes(reference)) << photo;
    }
    EXPECT_EQ(ModelOf(scratch / "nikon_p6000_gps_small_vlr.jpg").substr(0, 5), "COOLP");
}

TEST(BatchFiles, OneJobOrTwoGiveTheSameFiles) {
    ScratchFolder scratch;
    std::vector<std::string> inputs;
    for (unsigned i = 0; i < 5; ++i) {
        inputs.push_back(scratch / ("p" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(SaveJpeg(*TexturedPicture(90 + 13 * i, 40 + 7 * i, i), inputs.back(), 85).Ok);
    }
    std::filesystem::create_directory(scratch.path() / "one");
    std::filesystem::create_directory(scratch.path() / "two");
    std::vector<std::string> one = {"--jobs", "1", "-o", scratch / "one"};
    std::vector<std::string> two = {"--jobs", "2", "-o", scratch / "two"};
    one.insert(one.end(), inputs.begin(), inputs.end());
    two.insert(two.end(), inputs.begin(), inputs.end());
    ASSERT_EQ(RunInProcess(one).ExitCode, 0);
    ASSERT_EQ(RunInProcess(two).ExitCode, 0);
    for (unsigned i = 0; i < 5; ++i) {
        std::string name = "p" + std::to_string(i) + "_vlr.jpg";
        std::string a = ReadBytes(scratch / ("one/" + name));
        EXPECT_FALSE(a.empty()) << name;
        EXPECT_TRUE(a == ReadBytes(scratch / ("two/" + name))) << name;
    }
}

}  // namespace
}  // namespace velora::batch
