#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "ImageFile.h"
#include "ImageProperties.h"
#include "PictureRows.h"
#include "TestSupport.h"

namespace velora {
namespace {

namespace fs = std::filesystem;
using test::Photo;

TEST(Load, MissingEmptyAndForeignFilesGiveClearErrors) {
    test::TempDir dir;
    LoadResult missing = LoadBitmapFromFile(dir.File("nothing-here.jpg"));
    EXPECT_EQ(missing.Bitmap, nullptr);
    EXPECT_EQ(missing.Code, Status::FileNotFound);
    EXPECT_FALSE(missing.Message.empty());
    EXPECT_EQ(LoadBitmapFromFile("").Code, Status::FileNotFound);
    LoadResult folder = LoadBitmapFromFile(dir.Path);
    EXPECT_EQ(folder.Bitmap, nullptr);
    EXPECT_NE(folder.Code, Status::Ok);
    test::WriteBytes(dir.File("text.jpg"), {'h', 'e', 'l', 'l', 'o'});
    LoadResult text = LoadBitmapFromFile(dir.File("text.jpg"));
    EXPECT_EQ(text.Code, Status::UnknownImageFormat);
    EXPECT_FALSE(text.Message.empty());
}

// A FIFO (or a device) given as a picture must neither block the caller nor be read. No writer
// ever comes: a load that waited for one would hang until the test's time limit ends it.
TEST(Load, AFifoIsRefusedWithoutWaitingForAWriter) {
    test::TempDir dir;
    const std::string fifo = dir.File("pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LoadResult r = LoadBitmapFromFile(fifo);
    EXPECT_EQ(r.Bitmap, nullptr);
    EXPECT_NE(r.Message.find("not a regular file"), std::string::npos) << r.Message;
    EXPECT_EQ(LoadBitmapFromFile("/dev/zero").Bitmap, nullptr);
}

// Every crafted file: ok_* opens whole, dmg_* opens as damaged, err_* is refused with a message.
TEST(Load, CraftedCorruptFilesOpenOrFailAsTheirNamesSay) {
    const fs::path folder = VELORA_CORRUPT_DIR;
    ASSERT_TRUE(fs::is_directory(folder));
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name == "README.md") {
            continue;
        }
        ++seen;
        LoadResult r = LoadBitmapFromFile(entry.path().string());
        const bool damaged = name.rfind("dmg_", 0) == 0;
        if (name.rfind("ok_", 0) == 0 || damaged) {
            ASSERT_NE(r.Bitmap, nullptr) << name << ": " << r.Message;
            EXPECT_TRUE(r.Bitmap->HasImage()) << name;
            EXPECT_EQ(r.Damaged, damaged) << name << ": " << r.DamageReason;
            EXPECT_EQ(r.DamageReason.empty(), !damaged) << name;
        } else {
            EXPECT_EQ(r.Bitmap, nullptr) << name;
            EXPECT_NE(r.Code, Status::Ok) << name;
            EXPECT_FALSE(r.Message.empty()) << name;
        }
    }
    EXPECT_GE(seen, 50);
    const std::string dirName = folder.string() + "/";
    // Too large for the limits, in every format, whatever else is wrong with the file.
    for (const char* name :
         {"err_over_250_megapixels.jpg", "err_bmp_huge.bmp", "err_tiff_huge.tif",
          "err_gif_huge_screen.gif", "err_webp_huge.webp", "err_heif_huge_ispe.heic"}) {
        EXPECT_EQ(LoadBitmapFromFile(dirName + name).Code, Status::ValueOverflow) << name;
    }
    // Files far too short for the size they declare are damaged, said before any allocation.
    for (const char* name :
         {"err_jpeg_bomb_15811.jpg", "err_jpeg_progressive_999_scans.jpg",
          "err_png_bomb_interlaced_rgba.png", "err_bmp_bomb_54_bytes.bmp", "err_bmp_rle_bomb.bmp",
          "err_bmp_short_data.bmp", "err_raw_mosaic_larger_than_data.dng",
          "err_gif_huge_frame_tiny_data.gif", "err_tiff_deflate_bomb.tif",
          "err_webp_canvas_over_tiny_bitstream.webp", "err_heif_grid_larger_than_ispe.heic",
          "err_heif_grid_one_tile_repeated.heic", "err_heif_grid_tiles_share_data.heic",
          "err_heif_coded_larger_than_ispe.heic", "err_avif_coded_larger_than_ispe.avif",
          "err_heif_grid_of_grids.heic", "err_heif_overlay_canvas_over_one_picture.heic"}) {
        LoadResult bomb = LoadBitmapFromFile(dirName + name);
        EXPECT_NE(bomb.Message.find("damaged"), std::string::npos) << name << ": " << bomb.Message;
    }
    EXPECT_EQ(LoadBitmapFromFile(dirName + "err_isobmff_video.mp4").Code,
              Status::UnknownImageFormat);
    // A sequential scan cut short: the rows after the cut are mid grey, not decoded from filler.
    LoadResult cut = LoadBitmapFromFile(dirName + "dmg_truncated_scan.jpg");
    ASSERT_NE(cut.Bitmap, nullptr);
    EXPECT_NE(cut.DamageReason.find("Premature end"), std::string::npos) << cut.DamageReason;
    Argb last = 0;
    cut.Bitmap->GetPixel(63, 63, &last);
    EXPECT_EQ(last, 0xFF808080u);
    for (const char* name : {"ok_icc_missing_chunk.jpg", "ok_icc_bad_sequence.jpg"}) {
        LoadResult icc = LoadBitmapFromFile(dirName + name);
        ASSERT_NE(icc.Bitmap, nullptr);
        EXPECT_EQ(icc.Bitmap->GetPropertyItemSize(PropertyTagICCProfile), 0u) << name;
    }
    // The damaged EXIF is left out, the quantisation tables still come.
    LoadResult loop = LoadBitmapFromFile(dirName + "ok_exif_ifd_loop.jpg");
    ASSERT_NE(loop.Bitmap, nullptr);
    EXPECT_GT(loop.Bitmap->GetPropertyItemSize(PropertyTagLuminanceTable), 0u);
    // A PNG side of 65520 fits a PNG result, not a JPEG one: refused at load for JPEG output.
    LoadOptions jpeg;
    jpeg.SavedAs = SaveFormat::Jpeg;
    LoadResult wide = LoadBitmapFromFile(dirName + "ok_png_65520_wide.png", jpeg);
    EXPECT_EQ(wide.Bitmap, nullptr);
    EXPECT_EQ(wide.Code, Status::ValueOverflow);
    EXPECT_NE(wide.Message.find("65500"), std::string::npos) << wide.Message;
    LoadOptions png;
    png.SavedAs = SaveFormat::Png;
    EXPECT_NE(LoadBitmapFromFile(dirName + "ok_png_65520_wide.png", png).Bitmap, nullptr);
}

// A file whose only fault is a missing end (JPEG's EOI, PNG's IEND) holds every row: complete,
// the same pixels as the whole file; every JPEG kind reads ahead differently. (An arithmetic
// decoder says nothing when it runs out of data: without its end it stays damaged.)
TEST(Load, AMissingEndMarkerLosesNothing) {
    const std::pair<std::string, std::size_t> cases[] = {
        {std::string(VELORA_CORRUPT_DIR) + "/ok_minimal_grey.jpg", 2},
        {std::string(VELORA_CORRUPT_DIR) + "/ok_png_65520_wide.png", 12},
        {Photo("special/baseline_plain.jpeg"), 2},
        {Photo("special/progressive_plain.jpeg"), 2},
        {Photo("special/subsampling_420.jpeg"), 2},
        {Photo("special/subsampling_411.jpeg"), 2},
        {Photo("special/cmyk_adobe-t0.jpeg"), 2},
        {Photo("camera/apple_iphone6_gps.jpg"), 2},  // restart markers
        {Photo("other-formats/png_rgb16_interlaced.png"), 12},
    };
    for (const auto& [file, cut] : cases) {
        if (!fs::exists(file)) {
            continue;  // no sample photos here; the crafted files stand in
        }
        SCOPED_TRACE(file);
        std::vector<std::uint8_t> bytes = test::ReadBytes(file);
        LoadResult whole = LoadBitmapFromMemory(bytes.data(), bytes.size());
        LoadResult ended = LoadBitmapFromMemory(bytes.data(), bytes.size() - cut);
        ASSERT_NE(ended.Bitmap, nullptr) << ended.Message;
        EXPECT_FALSE(ended.Damaged) << ended.DamageReason;
        EXPECT_EQ(test::MeanDifference(*whole.Bitmap, *ended.Bitmap), 0.0);
        // One byte more gone is a lost code or lost pixels: damaged.
        LoadResult cutShort = LoadBitmapFromMemory(bytes.data(), bytes.size() - cut - 1);
        EXPECT_TRUE(cutShort.Damaged || !cutShort.Bitmap);
    }
}

// The size rule at its edges, and the hook that runs before the memory is taken.
TEST(Load, OneSizeRuleForEveryDecoderAndOutput) {
    struct Case {
        std::uint64_t Width, Height;
        SaveFormat SavedAs;
        bool Allowed;
    };
    const Case cases[] = {
        {65535, 1, SaveFormat::Any, true},     {65536, 1, SaveFormat::Any, false},
        {65535, 1, SaveFormat::Png, true},     {65500, 1, SaveFormat::Jpeg, true},
        {65501, 1, SaveFormat::Jpeg, false},   {1, 65501, SaveFormat::Jpeg, false},
        {20000, 12500, SaveFormat::Any, true}, {20000, 12501, SaveFormat::Png, false},
        {0, 10, SaveFormat::Any, false},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(PictureSizeAllowed(c.Width, c.Height, c.SavedAs, reason), c.Allowed)
            << c.Width << " x " << c.Height;
        EXPECT_EQ(reason.empty(), c.Allowed) << reason;
    }
    const std::string path = std::string(VELORA_CORRUPT_DIR) + "/ok_minimal_grey.jpg";
    std::vector<std::pair<unsigned, unsigned>> asked;
    LoadOptions options;
    options.BeforeAllocation = [&](unsigned w, unsigned h, std::uint64_t) {
        asked.emplace_back(w, h);
        return false;
    };
    LoadResult refused = LoadBitmapFromFile(path, options);
    EXPECT_EQ(refused.Bitmap, nullptr);
    EXPECT_EQ(refused.Code, Status::Aborted);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(64u, 64u));
    options.BeforeAllocation = [](unsigned, unsigned, std::uint64_t) { return true; };
    EXPECT_NE(LoadBitmapFromFile(path, options).Bitmap, nullptr);
    // A 32-byte lossless WebP of 225 megapixels is a whole picture; the hook is told the bytes
    // libwebp holds beside the rows (its ARGB pixels; with alpha a BGRA detour, the rows taken
    // once libwebp has let go of its own).
    for (const std::uint8_t alphaBit : {0x0e, 0x1e}) {
        const std::vector<std::uint8_t> bomb = {'R',      'I',  'F',  'F',  0x18, 0,    0,    0,
                                                'W',      'E',  'B',  'P',  'V',  'P',  '8',  'L',
                                                0x0c,     0,    0,    0,    0x2f, 0x97, 0xfa, 0xa5,
                                                alphaBit, 0xa8, 0x40, 0x03, 0x3a, 0xd0, 0xff, 0x00};
        std::uint64_t told = 0;
        options.BeforeAllocation = [&](unsigned w, unsigned h, std::uint64_t library) {
            told = library / (std::uint64_t{w} * h);
            return false;
        };
        EXPECT_EQ(LoadBitmapFromMemory(bomb.data(), bomb.size(), options).Code, Status::Aborted);
        EXPECT_EQ(told, alphaBit == 0x0e ? 4u : 5u);
    }

    // The row reader asks the same, once it knows how its rows will come; a refusal stops it
    // before libjpeg allocates.
    for (const bool progressive : {false, true}) {
        const std::string file = progressive ? Photo("special/progressive_plain.jpeg") : path;
        if (!fs::exists(file)) {
            continue;  // no sample photos here
        }
        PictureRowReader reader;
        PictureRowReader::Source source = PictureRowReader::Source::Whole;
        asked.clear();
        options.BeforeAllocation = [&](unsigned w, unsigned h, std::uint64_t) {
            asked.emplace_back(w, h);
            source = reader.From();
            return false;
        };
        EXPECT_FALSE(reader.Open(file, options));
        EXPECT_EQ(reader.Code(), Status::Aborted);
        EXPECT_EQ(reader.Message(), LoadBitmapFromFile(file, options).Message);
        ASSERT_EQ(asked.size(), 2u) << file;  // once by each
        EXPECT_EQ(asked[0], asked[1]);
        EXPECT_EQ(source,
                  progressive ? PictureRowReader::Source::Scans : PictureRowReader::Source::Rows);
    }
}

// A file of countless segments reads in no time and keeps a bounded number and size of them.
TEST(Load, ManySegmentsAreBoundedInCountAndSize) {
    const std::vector<std::uint8_t> picture =
        test::ReadBytes(std::string(VELORA_CORRUPT_DIR) + "/ok_minimal_grey.jpg");
    ASSERT_GT(picture.size(), 2u);
    auto withSegments = [&](std::size_t count, std::size_t length) {
        std::vector<std::uint8_t> file = {0xFF, 0xD8};
        for (std::size_t i = 0; i < count; ++i) {
            file.insert(file.end(), {0xFF, 0xE5, static_cast<std::uint8_t>((length + 2) >> 8),
                                     static_cast<std::uint8_t>(length + 2)});
            file.insert(file.end(), length, static_cast<std::uint8_t>(i));
        }
        file.insert(file.end(), picture.begin() + 2, picture.end());
        return file;
    };
    const std::vector<std::uint8_t> many = withSegments(20000, 1);
    LoadResult r = LoadBitmapFromMemory(many.data(), many.size());
    ASSERT_NE(r.Bitmap, nullptr) << r.Message;
    EXPECT_FALSE(r.Damaged);
    const ExtraMetadata kept = r.Bitmap->GetExtraMetadata();
    ASSERT_EQ(kept.Segments.size(), 256u);
    EXPECT_EQ(kept.Segments[255].Payload, std::vector<std::uint8_t>{255});
    ASSERT_EQ(r.Warnings.size(), 1u);
    EXPECT_NE(r.Warnings[0].find("256"), std::string::npos) << r.Warnings[0];

    const std::vector<std::uint8_t> large = withSegments(300, 65533);
    r = LoadBitmapFromMemory(large.data(), large.size());
    ASSERT_NE(r.Bitmap, nullptr) << r.Message;
    std::size_t bytes = 0;
    for (const auto& segment : r.Bitmap->GetExtraMetadata().Segments) {
        bytes += segment.Payload.size();
    }
    EXPECT_LE(bytes, 8u * 1024 * 1024);
    EXPECT_GT(bytes, 8u * 1024 * 1024 - 65533);
    ASSERT_EQ(r.Warnings.size(), 1u);
    EXPECT_NE(r.Warnings[0].find("8 MB"), std::string::npos) << r.Warnings[0];
}

TEST(Load, EveryBrokenAndSpecialPhotoGivesAPictureOrAnError) {
    VELORA_NEED_PHOTOS();
    int pictures = 0;
    int errors = 0;
    for (const char* sub :
         {"broken", "special", "special/orientation", "other-formats", "modern"}) {
        for (const auto& entry : fs::directory_iterator(Photo(sub))) {
            if (!entry.is_regular_file() || entry.path().extension() == ".md") {
                continue;
            }
            LoadResult r = LoadBitmapFromFile(entry.path().string());
            if (r.Bitmap != nullptr) {
                ++pictures;
                EXPECT_TRUE(WorkingBitmap::SizeAllowed(r.Bitmap->Width(), r.Bitmap->Height()));
            } else {
                ++errors;
                EXPECT_FALSE(r.Message.empty()) << entry.path();
            }
        }
    }
    EXPECT_GT(pictures, 40);
    EXPECT_GT(errors, 5);

    // Named cases from the photo folder's list. Pictures are known by their content, not their
    // names: a HEIC named .jpg opens.
    LoadResult heic = LoadBitmapFromFile(Photo("broken/not_jpeg_heic.jpg"));
    ASSERT_NE(heic.Bitmap, nullptr) << heic.Message;
    EXPECT_EQ(heic.Bitmap->Width(), 1440u);
    EXPECT_EQ(LoadBitmapFromFile(Photo("broken/huge_dims_17737x7680.jpg")).Bitmap, nullptr);
    EXPECT_EQ(LoadBitmapFromFile(Photo("special/precision12bit_icc.jpg")).Bitmap, nullptr);
    LoadResult cut = LoadBitmapFromFile(Photo("broken/truncated_3484x2347_exif.jpg"));
    ASSERT_NE(cut.Bitmap, nullptr);
    EXPECT_FALSE(cut.Warnings.empty());
    for (const char* ok : {"broken/exif_ifd_loop.jpg", "broken/exif_bad_ifd1_offset.jpg",
                           "broken/exif_malformed_header.jpg", "broken/exif_truncated_15b.jpg"}) {
        EXPECT_NE(LoadBitmapFromFile(Photo(ok)).Bitmap, nullptr) << ok;
    }
}

// The row reader against the whole load, on every file the whole load meets: the same pixels (read
// in bands of an odd size), items, extra metadata and warnings, or the same error.
TEST(Load, RowReaderGivesWhatTheWholeLoadGives) {
    VELORA_NEED_PHOTOS();
    std::vector<std::string> files;
    for (const char* sub :
         {"camera", "large", "special", "special/orientation", "broken", "other-formats"}) {
        for (const auto& entry : fs::directory_iterator(Photo(sub))) {
            if (entry.is_regular_file() && entry.path().extension() != ".md") {
                files.push_back(entry.path().string());
            }
        }
    }
    for (const auto& entry : fs::directory_iterator(VELORA_CORRUPT_DIR)) {
        files.push_back(entry.path().string());
    }
    files.push_back(Photo("no-such-file.jpg"));
    // A grey JPEG whose grey profile the load turns into its RGB likeness.
    test::TempDir dir;
    const std::string linearGrey = "/usr/share/color/icc/ghostscript/ps_gray.icc";
    if (test::HaveTool("convert") && fs::exists(linearGrey)) {
        files.push_back(dir.File("grey_linear.jpg"));
        test::Run("convert " + test::Quote(Photo("special/gray_plain.jpeg")) + " -profile " +
                  test::Quote(linearGrey) + " " + test::Quote(files.back()));
    }
    int streamed = 0;
    int damaged = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const LoadResult whole = LoadBitmapFromFile(file);
        std::vector<std::uint8_t> pixels;
        auto readAll = [&pixels](PictureRowReader& reader) {
            const int w = reader.Width();
            const int h = reader.Height();
            pixels.assign(3 * static_cast<std::size_t>(w) * h, 0);
            bool read = true;
            while (read && reader.NextRow() < h) {
                read = reader.ReadRows(
                           pixels.data() + 3 * static_cast<std::size_t>(w) * reader.NextRow(),
                           3 * w, 7) > 0;
            }
            return read && reader.Finish();
        };
        if (whole.Damaged) {
            // Told to stop at the damage, the rows fail with the damage's own words.
            PictureRowReader stopping;
            EXPECT_FALSE(stopping.Open(file, {}, PictureRowReader::Damage::Stop) &&
                         readAll(stopping));
            EXPECT_TRUE(stopping.Damaged());
            EXPECT_EQ(stopping.Message(), whole.DamageReason);
        }
        PictureRowReader reader;
        const bool read = reader.Open(file) && readAll(reader);
        if (!whole.Bitmap) {
            EXPECT_FALSE(read);
            EXPECT_EQ(reader.Code(), whole.Code);
            EXPECT_EQ(reader.Message(), whole.Message);
            continue;
        }
        ASSERT_TRUE(read) << reader.Message();
        ++streamed;
        WorkingBitmap& bitmap = *whole.Bitmap;
        ASSERT_EQ(reader.Width(), static_cast<int>(bitmap.Width()));
        ASSERT_EQ(reader.Height(), static_cast<int>(bitmap.Height()));
        BitmapData data;
        const Rect all{0, 0, reader.Width(), reader.Height()};
        ASSERT_EQ(bitmap.LockBits(all, ImageLockModeRead, PixelFormat24bppRGB, &data), Status::Ok);
        bool samePixels = true;
        for (int y = 0; y < reader.Height(); ++y) {
            samePixels &= std::equal(
                data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride,
                data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride + 3 * reader.Width(),
                pixels.begin() + 3 * static_cast<std::ptrdiff_t>(y) * reader.Width());
        }
        bitmap.UnlockBits(&data);
        EXPECT_TRUE(samePixels);
        EXPECT_EQ(reader.Warnings(), whole.Warnings);
        EXPECT_EQ(reader.Damaged(), whole.Damaged);
        EXPECT_EQ(reader.DamageReason(), whole.DamageReason);
        damaged += reader.Damaged();
        WorkingBitmap& carrier = *reader.Metadata();
        const std::vector<std::uint32_t> ids = bitmap.GetPropertyIdList();
        EXPECT_EQ(carrier.GetPropertyIdList(), ids);
        for (std::uint32_t id : ids) {
            PropertyItem a;
            PropertyItem b;
            bitmap.GetPropertyItem(id, &a);
            carrier.GetPropertyItem(id, &b);
            EXPECT_TRUE(a.type == b.type && a.value == b.value) << "tag " << id;
        }
        const ExtraMetadata ea = bitmap.GetExtraMetadata();
        const ExtraMetadata eb = carrier.GetExtraMetadata();
        EXPECT_EQ(ea.Xmp, eb.Xmp);
        EXPECT_EQ(ea.Exif, eb.Exif);
        EXPECT_EQ(ea.Trailer, eb.Trailer);
        ASSERT_EQ(ea.Segments.size(), eb.Segments.size());
        for (std::size_t i = 0; i < ea.Segments.size(); ++i) {
            EXPECT_EQ(ea.Segments[i].Marker, eb.Segments[i].Marker);
            EXPECT_EQ(ea.Segments[i].Payload, eb.Segments[i].Payload);
        }
    }
    EXPECT_GT(streamed, 60);
    EXPECT_GE(damaged, 4);
}

// JPEG kinds against reference decodes: pixels within the small spread between decoders.
TEST(Load, JpegKindsMatchTheirReferenceDecodes) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("convert");
    const std::pair<const char*, const char*> cases[] = {
        {"special/baseline_plain.jpeg", "other-formats/video-001.png"},
        {"special/progressive_plain.jpeg", "other-formats/video-001.png"},
        {"special/gray_plain.jpeg", "other-formats/video-005.gray.png"},
        {"broken/truncated_progressive_eoi.jpeg",
         "other-formats/video-001.progressive.truncated.png"},
    };
    for (auto [jpeg, png] : cases) {
        LoadResult r = LoadBitmapFromFile(Photo(jpeg));
        ASSERT_NE(r.Bitmap, nullptr) << jpeg << ": " << r.Message;
        EXPECT_LE(test::MaxDifferenceToRgb(*r.Bitmap, test::ReferenceRgb(Photo(png))), 8) << jpeg;
    }
    // Every subsampling and arithmetic coding against ImageMagick's decode of the same file (CMYK
    // and YCCK go through colour profiles: the formats test judges them).
    for (const char* name :
         {"special/subsampling_444.jpeg", "special/subsampling_422.jpeg",
          "special/subsampling_420.jpeg", "special/subsampling_440.jpeg",
          "special/subsampling_411.jpeg", "special/subsampling_420_progressive.jpeg",
          "special/subsampling_221212.jpeg", "special/arithmetic_coded.jpg",
          "special/rgb_adobe-t0.jpeg", "special/qtables16bit.jpg"}) {
        LoadResult r = LoadBitmapFromFile(Photo(name));
        ASSERT_NE(r.Bitmap, nullptr) << name << ": " << r.Message;
        EXPECT_LE(test::MaxDifferenceToRgb(*r.Bitmap, test::ReferenceRgb(Photo(name))), 12) << name;
    }
}

// PNG and BMP variants: exact against ImageMagick's decode laid over white (16-bit samples
// may round one step apart). The small PNG test files carry gAMA 1.0, which ImageMagick applies
// and we do not, so those are only checked for opening at their size.
TEST(Load, PngAndBmpVariantsMatchReferenceDecodesOverWhite) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("convert");
    for (const char* name :
         {"other-formats/png_palette_8bit.png", "other-formats/png_palette_trns.png",
          "other-formats/png_rgba_8bit.png", "other-formats/png_gray_alpha_16bit.png",
          "other-formats/png_rgb16_interlaced.png"}) {
        LoadResult r = LoadBitmapFromFile(Photo(name));
        ASSERT_NE(r.Bitmap, nullptr) << name << ": " << r.Message;
        EXPECT_EQ(r.Bitmap->Width(), 32u);
    }
    for (const char* name : {"other-formats/png_palette_alpha_256x256.png",
                             "other-formats/png_16bit_icc.png", "other-formats/bmp_pal8.bmp",
                             "other-formats/bmp_pal8_rle.bmp", "other-formats/bmp_pal1.bmp",
                             "other-formats/bmp_rgb24.bmp", "other-formats/bmp_photo_pal8.bmp"}) {
        LoadResult r = LoadBitmapFromFile(Photo(name));
        ASSERT_NE(r.Bitmap, nullptr) << name << ": " << r.Message;
        EXPECT_LE(test::MaxDifferenceToRgb(*r.Bitmap, test::ReferenceRgb(Photo(name))), 1) << name;
    }
    LoadResult icc = LoadBitmapFromFile(Photo("other-formats/png_16bit_icc.png"));
    ASSERT_NE(icc.Bitmap, nullptr);
    EXPECT_GT(icc.Bitmap->GetPropertyItemSize(PropertyTagICCProfile), 0u);
    LoadResult exif = LoadBitmapFromFile(Photo("other-formats/png_with_exif.png"));
    ASSERT_NE(exif.Bitmap, nullptr);
    EXPECT_GT(exif.Bitmap->GetPropertyCount(), 0u);
}

TEST(Load, CameraMetadataBecomesPropertyItems) {
    VELORA_NEED_PHOTOS();
    LoadResult r = LoadBitmapFromFile(Photo("camera/nikon_p6000_gps_small.jpg"));
    ASSERT_NE(r.Bitmap, nullptr);
    ImageProperties props(*r.Bitmap);
    std::string model;
    ASSERT_TRUE(props.GetText(PropertyTagEquipModel, model));
    EXPECT_EQ(model, "COOLPIX P6000");
    // GPS latitude reference and the interoperability index, which share the tag number 1, the
    // maker note, the thumbnail and both quantisation tables.
    EXPECT_TRUE(props.GetText(0x0001, model));
    EXPECT_EQ(model, "N");
    EXPECT_TRUE(props.GetText(ExifPropertyId(ExifIfd::Interop, 0x0001), model));
    EXPECT_EQ(model, "R98");
    EXPECT_EQ(ExifPropertyId(ExifIfd::Interop, 0x0001), 0x040001u);
    std::unique_ptr<PropertyItem> maker = props.GetItem(0x927C);
    ASSERT_NE(maker, nullptr);
    EXPECT_EQ(maker->length(), 3298u);
    EXPECT_EQ(std::string(maker->value.begin(), maker->value.begin() + 5), "Nikon");
    std::unique_ptr<PropertyItem> thumb = props.GetItem(0x501B);
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->length(), 6702u);
    EXPECT_EQ(thumb->value[0], 0xFF);
    EXPECT_EQ(thumb->value[1], 0xD8);
    for (std::uint32_t id : {PropertyTagLuminanceTable, PropertyTagChrominanceTable}) {
        std::unique_ptr<PropertyItem> table = props.GetItem(id);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->type, PropertyTagTypeShort);
        EXPECT_EQ(table->length(), 128u);
    }

    // The orientation is neither applied nor dropped.
    LoadResult turned = LoadBitmapFromFile(Photo("special/orientation/landscape_6.jpg"));
    ASSERT_NE(turned.Bitmap, nullptr);
    EXPECT_EQ(turned.Bitmap->Width(), 1200u);
    EXPECT_EQ(turned.Bitmap->Height(), 1800u);
    std::unique_ptr<PropertyItem> orientation = ImageProperties(*turned.Bitmap).GetItem(0x0112);
    ASSERT_NE(orientation, nullptr);
    const int value = orientation->bigEndian ? orientation->value[1] : orientation->value[0];
    EXPECT_EQ(value, 6);
}

// Every tag of every IFD has one id of its own, which leads back to it, and no id names two
// places; the pointers between IFDs are no items.
TEST(Load, ExifIdsNameOnePlaceEach) {
    std::set<std::uint32_t> ids;
    std::size_t places = 0;
    for (ExifIfd ifd :
         {ExifIfd::Main, ExifIfd::Exif, ExifIfd::Gps, ExifIfd::Interop, ExifIfd::Thumbnail}) {
        for (std::uint32_t tag = 0; tag <= 0xFFFF; ++tag) {
            const std::uint32_t id = ExifPropertyId(ifd, static_cast<std::uint16_t>(tag));
            if (id == NoPropertyId) {
                continue;
            }
            ++places;
            ids.insert(id);
            ExifIfd back;
            std::uint16_t backTag = 0;
            ASSERT_TRUE(ExifTagOf(id, back, backTag)) << std::hex << id;
            ASSERT_TRUE(back == ifd && backTag == tag) << std::hex << id;
        }
    }
    EXPECT_EQ(ids.size(), places);
    for (std::uint16_t pointer : {0x8769, 0x8825, 0xA005}) {
        EXPECT_EQ(ExifPropertyId(ExifIfd::Main, pointer), NoPropertyId);
    }
    // The platform's numbers where it has them; the ICC profile's item is no EXIF tag.
    EXPECT_EQ(ExifPropertyId(ExifIfd::Main, 0x0110), 0x0110u);
    EXPECT_EQ(ExifPropertyId(ExifIfd::Gps, 0x0000), 0x0000u);
    EXPECT_EQ(ExifPropertyId(ExifIfd::Thumbnail, 0x0103), 0x5023u);
    ExifIfd ifd;
    std::uint16_t tag = 0;
    EXPECT_FALSE(ExifTagOf(PropertyTagICCProfile, ifd, tag));
    EXPECT_EQ(ExifTagName(0x040001), "InteroperabilityIndex");
    EXPECT_EQ(ExifTagName(0x01829A), "ExposureTime");
}

TEST(Load, IccProfileChunksAreJoinedInOrder) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("exiftool");
    const std::string path = Photo("special/icc_7chunks_progressive.jpg");
    const std::string text = test::Run("exiftool -b -ICC_Profile " + test::Quote(path));
    const std::vector<std::uint8_t> expected(text.begin(), text.end());
    ASSERT_GT(expected.size(), 65519u * 6);
    LoadResult r = LoadBitmapFromFile(path);
    ASSERT_NE(r.Bitmap, nullptr);
    std::unique_ptr<PropertyItem> icc = ImageProperties(*r.Bitmap).GetItem(PropertyTagICCProfile);
    ASSERT_NE(icc, nullptr);
    EXPECT_TRUE(std::equal(icc->value.begin(), icc->value.end(), expected.begin(), expected.end()));
}

}  // namespace
}  // namespace velora
