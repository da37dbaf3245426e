#include <sys/stat.h>
#include <unistd.h>
#include <exiv2/exiv2.hpp>

#include <set>
#include <tuple>

#include "ImageFile.h"
#include "ImageProperties.h"
#include "PictureRows.h"
#include "TestSupport.h"

namespace velora {
namespace {

namespace fs = std::filesystem;
using test::Crafted;
using test::Photo;

// Missing, empty, foreign and special names give an error with words. A FIFO (or a device) is
// neither waited on nor read: no writer ever comes, so a load that waited for one would hang until
// the test's time limit ends it.
TEST(Load, MissingForeignAndSpecialFilesGiveClearErrors) {
    test::TempDir dir;
    test::WriteBytes(dir.File("text.jpg"), {'h', 'e', 'l', 'l', 'o'});
    ASSERT_EQ(::mkfifo(dir.File("pipe.jpg").c_str(), 0600), 0);
    const struct {
        std::string Path;
        Status Code;  // Ok: any failure
        const char* Says;
    } cases[] = {{dir.File("nothing-here.jpg"), Status::FileNotFound, ""},
                 {"", Status::FileNotFound, ""},
                 {dir.Path, Status::Ok, ""},
                 {dir.File("text.jpg"), Status::UnknownImageFormat, ""},
                 {dir.File("pipe.jpg"), Status::Ok, "not a regular file"},
                 {"/dev/zero", Status::Ok, ""}};
    for (const auto& c : cases) {
        const LoadResult r = LoadBitmapFromFile(c.Path);
        EXPECT_EQ(r.Bitmap, nullptr) << c.Path;
        EXPECT_TRUE(c.Code == Status::Ok ? r.Code != Status::Ok : r.Code == c.Code) << c.Path;
        EXPECT_FALSE(r.Message.empty()) << c.Path;
        EXPECT_NE(r.Message.find(c.Says), std::string::npos) << c.Path << ": " << r.Message;
    }
}

// Every crafted file and every photo, loaded whole and by the row reader. A crafted file opens or
// fails as its name says: ok_* whole, dmg_* as damaged, err_* refused; a photo gives a picture
// within the size rule or an error with words. The row reader, reading in bands of an odd size,
// gives what the whole load gives: the same pixels, items, extra metadata and warnings, or the
// same error; told to stop at damage, it fails with the damage's own words.
TEST(Load, EveryFileOpensOrFailsAsItShouldAndTheRowReaderAgrees) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(Crafted(""))) {
        if (entry.path().extension() != ".md") {
            files.push_back(entry.path().string());
        }
    }
    const std::size_t crafted = files.size();
    test::TempDir dir;
    if (test::HavePhotos()) {
        for (const char* sub : {"camera", "large", "special", "special/orientation", "broken",
                                "other-formats", "modern"}) {
            for (const auto& entry : fs::directory_iterator(Photo(sub))) {
                if (entry.is_regular_file() && entry.path().extension() != ".md") {
                    files.push_back(entry.path().string());
                }
            }
        }
        files.push_back(Photo("no-such-file.jpg"));
        // A grey JPEG whose grey profile the load turns into its RGB likeness.
        const std::string linearGrey = "/usr/share/color/icc/ghostscript/ps_gray.icc";
        if (test::HaveTool("convert") && fs::exists(linearGrey)) {
            files.push_back(dir.File("grey_linear.jpg"));
            test::Run("convert " + test::Quote(Photo("special/gray_plain.jpeg")) + " -profile " +
                      test::Quote(linearGrey) + " " + test::Quote(files.back()));
        }
    }
    int pictures = 0, errors = 0, damaged = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& file = files[i];
        SCOPED_TRACE(file);
        const LoadResult whole = LoadBitmapFromFile(file);
        const std::string name = fs::path(file).filename().string();
        const bool dmg = name.rfind("dmg_", 0) == 0;
        if (i < crafted) {
            EXPECT_EQ(whole.Bitmap != nullptr, dmg || name.rfind("ok_", 0) == 0) << whole.Message;
            EXPECT_TRUE(!whole.Bitmap || whole.Damaged == dmg) << whole.DamageReason;
        }
        std::vector<std::uint8_t> pixels;
        auto readAll = [&pixels](PictureRowReader& reader) {
            const int w = reader.Width(), h = reader.Height();
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
            PictureRowReader stopping;
            EXPECT_FALSE(stopping.Open(file, {}, PictureRowReader::Damage::Stop) &&
                         readAll(stopping));
            EXPECT_TRUE(stopping.Damaged());
            EXPECT_EQ(stopping.Message(), whole.DamageReason);
        }
        PictureRowReader reader;
        const bool read = reader.Open(file) && readAll(reader);
        if (!whole.Bitmap) {
            ++errors;
            EXPECT_NE(whole.Code, Status::Ok);
            EXPECT_FALSE(whole.Message.empty());
            EXPECT_FALSE(read);
            EXPECT_EQ(reader.Code(), whole.Code);
            EXPECT_EQ(reader.Message(), whole.Message);
            continue;
        }
        ++pictures;
        ASSERT_TRUE(whole.Bitmap->HasImage());
        EXPECT_EQ(whole.DamageReason.empty(), !whole.Damaged);
        ASSERT_TRUE(read) << reader.Message();
        WorkingBitmap& bitmap = *whole.Bitmap;
        EXPECT_TRUE(WorkingBitmap::SizeAllowed(bitmap.Width(), bitmap.Height()));
        ASSERT_EQ(reader.Width(), static_cast<int>(bitmap.Width()));
        ASSERT_EQ(reader.Height(), static_cast<int>(bitmap.Height()));
        EXPECT_TRUE(test::Samples(bitmap) == pixels) << "the row reader's pixels differ";
        EXPECT_EQ(reader.Warnings(), whole.Warnings);
        EXPECT_EQ(reader.Damaged(), whole.Damaged);
        EXPECT_EQ(reader.DamageReason(), whole.DamageReason);
        damaged += reader.Damaged();
        WorkingBitmap& carrier = *reader.Metadata();
        const std::vector<std::uint32_t> ids = bitmap.GetPropertyIdList();
        EXPECT_EQ(carrier.GetPropertyIdList(), ids);
        for (std::uint32_t id : ids) {
            PropertyItem a, b;
            bitmap.GetPropertyItem(id, &a);
            carrier.GetPropertyItem(id, &b);
            EXPECT_TRUE(a.type == b.type && a.value == b.value) << "tag " << id;
        }
        const ExtraMetadata ea = bitmap.GetExtraMetadata(), eb = carrier.GetExtraMetadata();
        EXPECT_EQ(ea.Xmp, eb.Xmp);
        EXPECT_EQ(ea.Exif, eb.Exif);
        EXPECT_EQ(ea.Trailer, eb.Trailer);
        ASSERT_EQ(ea.Segments.size(), eb.Segments.size());
        for (std::size_t s = 0; s < ea.Segments.size(); ++s) {
            EXPECT_EQ(ea.Segments[s].Marker, eb.Segments[s].Marker);
            EXPECT_EQ(ea.Segments[s].Payload, eb.Segments[s].Payload);
        }
    }
    // Counts that show every folder was read.
    EXPECT_GE(crafted, 50u);
    EXPECT_GE(pictures, test::HavePhotos() ? 100 : 40);
    EXPECT_GE(errors, test::HavePhotos() ? 50 : 45);
    EXPECT_GE(damaged, test::HavePhotos() ? 12 : 10);
}

// Named crafted files: the limits, the size each file declares, what their damage costs.
TEST(Load, CraftedFilesFailForTheirOwnReason) {
    // Too large for the limits, in every format, whatever else is wrong with the file.
    for (const char* name :
         {"err_over_250_megapixels.jpg", "err_bmp_huge.bmp", "err_tiff_huge.tif",
          "err_gif_huge_screen.gif", "err_webp_huge.webp", "err_heif_huge_ispe.heic"}) {
        EXPECT_EQ(LoadBitmapFromFile(Crafted(name)).Code, Status::ValueOverflow) << name;
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
        LoadResult bomb = LoadBitmapFromFile(Crafted(name));
        EXPECT_NE(bomb.Message.find("damaged"), std::string::npos) << name << ": " << bomb.Message;
    }
    EXPECT_EQ(LoadBitmapFromFile(Crafted("err_isobmff_video.mp4")).Code,
              Status::UnknownImageFormat);
    // A sequential scan cut short: the rows after the cut are mid grey, not decoded from filler.
    LoadResult cut = LoadBitmapFromFile(Crafted("dmg_truncated_scan.jpg"));
    ASSERT_NE(cut.Bitmap, nullptr);
    EXPECT_NE(cut.DamageReason.find("Premature end"), std::string::npos) << cut.DamageReason;
    Argb last = 0;
    cut.Bitmap->GetPixel(63, 63, &last);
    EXPECT_EQ(last, 0xFF808080u);
    for (const char* name : {"ok_icc_missing_chunk.jpg", "ok_icc_bad_sequence.jpg"}) {
        LoadResult icc = LoadBitmapFromFile(Crafted(name));
        ASSERT_NE(icc.Bitmap, nullptr);
        EXPECT_EQ(icc.Bitmap->GetPropertyItemSize(PropertyTagICCProfile), 0u) << name;
    }
    // The damaged EXIF is left out, the quantisation tables still come.
    LoadResult loop = LoadBitmapFromFile(Crafted("ok_exif_ifd_loop.jpg"));
    ASSERT_NE(loop.Bitmap, nullptr);
    EXPECT_GT(loop.Bitmap->GetPropertyItemSize(PropertyTagLuminanceTable), 0u);
    // A PNG side of 65520 fits a PNG result, not a JPEG one: refused at load for JPEG output.
    LoadResult wide = LoadBitmapFromFile(Crafted("ok_png_65520_wide.png"), {SaveFormat::Jpeg, {}});
    EXPECT_EQ(wide.Bitmap, nullptr);
    EXPECT_EQ(wide.Code, Status::ValueOverflow);
    EXPECT_NE(wide.Message.find("65500"), std::string::npos) << wide.Message;
    EXPECT_NE(LoadBitmapFromFile(Crafted("ok_png_65520_wide.png"), {SaveFormat::Png, {}}).Bitmap,
              nullptr);
}

// A file cut short (a download broken off, a file still being written): whatever opens of it is
// marked damaged, never passed off as the whole picture. (Metadata stored after the pixels, as TIFF
// and WebP often have it, is why the cuts stay early.) A file whose only fault is a missing end
// (JPEG's EOI, PNG's IEND: the last `End` bytes) holds every row: complete, the same pixels as the
// whole file, however each JPEG kind reads ahead; one byte more gone is damage. (An arithmetic
// decoder says nothing when it runs out of data: without its end it stays damaged.)
TEST(Load, CutFilesAreDamagedOrRefusedAndAMissingEndLosesNothing) {
    // By the length of their end; the iPhone photo has restart markers.
    const std::pair<std::size_t, std::vector<std::string>> cases[] = {
        {2,
         {Crafted("ok_minimal_grey.jpg"), Photo("special/baseline_plain.jpeg"),
          Photo("special/progressive_plain.jpeg"), Photo("special/subsampling_420.jpeg"),
          Photo("special/subsampling_411.jpeg"), Photo("special/cmyk_adobe-t0.jpeg"),
          Photo("camera/apple_iphone6_gps.jpg")}},
        {12, {Crafted("ok_png_65520_wide.png"), Photo("other-formats/png_rgb16_interlaced.png")}},
        {0,
         {Photo("modern/tiff_rgb8_lzw_exif_gps.tif"), Photo("modern/tiff_rgb16_deflate_icc.tif"),
          Photo("modern/tiff_cmyk_icc.tif"), Photo("modern/webp_exif_xmp_gps.webp"),
          Photo("modern/heic_phone_exif_gps.heic"), Photo("modern/avif_exif_icc.avif"),
          Photo("other-formats/gif_palette.gif"), Photo("other-formats/png_16bit_icc.png"),
          Photo("other-formats/bmp_rgb24.bmp")}},
    };
    for (const auto& [end, files] : cases) {
        for (const std::string& file : files) {
            if (!fs::exists(file)) {
                continue;  // no sample photos here; the crafted files stand in
            }
            SCOPED_TRACE(file);
            const std::vector<std::uint8_t> bytes = test::ReadBytes(file);
            LoadResult whole = LoadBitmapFromMemory(bytes.data(), bytes.size());
            ASSERT_NE(whole.Bitmap, nullptr) << whole.Message;
            EXPECT_FALSE(whole.Damaged) << whole.DamageReason;
            if (end > 0) {
                LoadResult ended = LoadBitmapFromMemory(bytes.data(), bytes.size() - end);
                ASSERT_NE(ended.Bitmap, nullptr) << ended.Message;
                EXPECT_FALSE(ended.Damaged) << ended.DamageReason;
                EXPECT_EQ(test::MeanDifference(*whole.Bitmap, *ended.Bitmap), 0.0);
                LoadResult cutShort = LoadBitmapFromMemory(bytes.data(), bytes.size() - end - 1);
                EXPECT_TRUE(cutShort.Damaged || !cutShort.Bitmap);
            }
            for (const double kept : {0.3, 0.6}) {
                const auto size = static_cast<std::size_t>(bytes.size() * kept);
                const LoadResult cut = LoadBitmapFromMemory(bytes.data(), size);
                EXPECT_TRUE(cut.Bitmap ? cut.Damaged && !cut.DamageReason.empty()
                                       : !cut.Message.empty())
                    << "cut at " << size;
            }
        }
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
        {65535, 3814, SaveFormat::Any, true},  {65535, 3815, SaveFormat::Any, false},
        {0, 10, SaveFormat::Any, false},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(PictureSizeAllowed(c.Width, c.Height, c.SavedAs, reason), c.Allowed)
            << c.Width << " x " << c.Height;
        EXPECT_EQ(reason.empty(), c.Allowed) << reason;
    }
    const std::string path = Crafted("ok_minimal_grey.jpg");
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
    const std::vector<std::uint8_t> picture = test::ReadBytes(Crafted("ok_minimal_grey.jpg"));
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

// Named photos from the folder's list. Pictures are known by their content, not their names: a
// HEIC named .jpg opens.
TEST(Load, NamedBrokenAndSpecialPhotos) {
    VELORA_NEED_PHOTOS();
    for (const auto& [name, opens] : {std::pair{"broken/not_jpeg_heic.jpg", true},
                                      {"broken/huge_dims_17737x7680.jpg", false},
                                      {"special/precision12bit_icc.jpg", false},
                                      {"broken/exif_ifd_loop.jpg", true},
                                      {"broken/exif_bad_ifd1_offset.jpg", true},
                                      {"broken/exif_malformed_header.jpg", true},
                                      {"broken/exif_truncated_15b.jpg", true}}) {
        EXPECT_EQ(LoadBitmapFromFile(Photo(name)).Bitmap != nullptr, opens) << name;
    }
    LoadResult cut = LoadBitmapFromFile(Photo("broken/truncated_3484x2347_exif.jpg"));
    ASSERT_NE(cut.Bitmap, nullptr);
    EXPECT_FALSE(cut.Warnings.empty());
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
    // Their sizes and first bytes; the tables are of shorts.
    for (const auto& [id, length, start] :
         {std::tuple<std::uint32_t, unsigned, std::string>{0x927C, 3298, "Nikon"},
          {0x501B, 6702, "\xFF\xD8"},
          {PropertyTagLuminanceTable, 128, ""},
          {PropertyTagChrominanceTable, 128, ""}}) {
        std::unique_ptr<PropertyItem> item = props.GetItem(id);
        ASSERT_NE(item, nullptr) << id;
        EXPECT_EQ(item->length(), length) << id;
        EXPECT_EQ(std::string(item->value.begin(), item->value.begin() + start.size()), start);
        EXPECT_TRUE(!start.empty() || item->type == PropertyTagTypeShort) << id;
    }

    // The orientation is neither applied nor dropped.
    LoadResult turned = LoadBitmapFromFile(Photo("special/orientation/landscape_6.jpg"));
    ASSERT_NE(turned.Bitmap, nullptr);
    EXPECT_EQ(turned.Bitmap->Width(), 1200u);
    EXPECT_EQ(turned.Bitmap->Height(), 1800u);
    std::unique_ptr<PropertyItem> orientation = ImageProperties(*turned.Bitmap).GetItem(0x0112);
    ASSERT_NE(orientation, nullptr);
    EXPECT_EQ(orientation->value[orientation->bigEndian ? 1 : 0], 6);
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
    // A tag keeps its bare number in the Exif IFD exactly when exiv2 lists it there (its
    // pointer to the interoperability IFD aside), as tag names and readers expect.
    std::set<std::uint32_t> listed;
    for (const Exiv2::TagInfo* info = Exiv2::ExifTags::tagList("Photo"); info->tag_ != 0xFFFF;
         ++info) {
        listed.insert(info->tag_);
    }
    for (std::uint32_t bare = 0; bare <= 0xFFFF; ++bare) {
        const bool home = ExifPropertyId(ExifIfd::Exif, static_cast<std::uint16_t>(bare)) == bare;
        EXPECT_EQ(home, listed.count(bare) != 0 && bare != 0xA005) << std::hex << bare;
    }
}

TEST(Load, IccProfileChunksAreJoinedInOrder) {
    VELORA_NEED_PHOTOS();
    VELORA_NEED_TOOL("exiftool");
    const std::string path = Photo("special/icc_7chunks_progressive.jpg");
    const std::string text = test::Run("exiftool -b -ICC_Profile " + test::Quote(path));
    ASSERT_GT(text.size(), 65519u * 6);
    LoadResult r = LoadBitmapFromFile(path);
    ASSERT_NE(r.Bitmap, nullptr);
    std::unique_ptr<PropertyItem> icc = ImageProperties(*r.Bitmap).GetItem(PropertyTagICCProfile);
    ASSERT_NE(icc, nullptr);
    EXPECT_TRUE(std::string(icc->value.begin(), icc->value.end()) == text);
}

}  // namespace
}  // namespace velora
