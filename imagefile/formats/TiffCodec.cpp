// TIFF over libtiff: the first page, in strips or tiles, with any compression libtiff reads.
// Grey, RGB and CMYK with 8 or 16 bits per sample are read as samples (CMYK through its colour
// profile), 8-bit CIELab through the colour library; every other kind (palette, fewer bits,
// subsampled YCbCr, ...) through libtiff's own RGBA reader, one band of rows at a time. libtiff
// reports errors by return values, so nothing here jumps.

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "CarriedMetadata.h"
#include "Codecs.h"
#include "JpegErrors.h"
#include "LcmsLibrary.h"
#include "TiffSamples.h"

namespace velora {

namespace {

// libtiff's own allocations (strip tables, decoded strips) stay below this.
constexpr tmsize_t MaxLibraryAllocation = 512 * 1024 * 1024;
constexpr std::uint64_t MaxTileBytes = 64ull * 1024 * 1024;
constexpr std::uint32_t BandRows = 64;

struct Source {
    const std::uint8_t* Data = nullptr;
    std::uint64_t Size = 0;
    std::uint64_t Position = 0;
    char LastError[256] = "";
    // The first warning of the JPEG codec inside the file that means rows were lost.
    char CodecDamage[256] = "";
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t length) {
    auto* source = static_cast<Source*>(handle);
    if (length <= 0 || source->Position >= source->Size) {
        return 0;
    }
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(length),
                                                        source->Size - source->Position);
    std::memcpy(buffer, source->Data + source->Position, count);
    source->Position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<Source*>(handle);
    const std::uint64_t base =
        whence == SEEK_CUR ? source->Position : (whence == SEEK_END ? source->Size : 0);
    source->Position = base + offset;  // wraps for negative relative offsets, as intended
    return source->Position;
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    return static_cast<Source*>(handle)->Size;
}

// The file is already in memory: libtiff reads compressed strips in place instead of copying.
int MapProc(thandle_t handle, void** base, toff_t* size) {
    auto* source = static_cast<Source*>(handle);
    *base = const_cast<std::uint8_t*>(source->Data);
    *size = source->Size;
    return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* source = static_cast<Source*>(user);
    std::vsnprintf(source->LastError, sizeof source->LastError, format, args);
    return 1;
}

// libtiff warns about tags it does not know or whose type it dislikes: nothing a user can act on.
// Its JPEG codec, though, passes on libjpeg's word that a strip's data ran out or was corrupt,
// and the rows after that point are filler.
int OnWarning(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* source = static_cast<Source*>(user);
    if (module == nullptr || std::strcmp(module, "JPEGLib") != 0 || source->CodecDamage[0] != 0) {
        return 1;
    }
    char text[sizeof source->CodecDamage];
    std::vsnprintf(text, sizeof text, format, args);
    if (JpegTextMeansDamage(text)) {
        std::memcpy(source->CodecDamage, text, sizeof text);
    }
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { Tiff().TIFFClose(tif); }
};

class TiffReader {
  public:
    TiffReader(TIFF* tif, Source& source, DecodeOutcome& out) : Tif(tif), Src(source), Out(out) {}

    bool Read(std::uint32_t width, std::uint32_t height) {
        W = width;
        H = height;
        std::uint16_t photometric = 0, bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
        Tiff().TIFFGetFieldDefaulted(Tif, TIFFTAG_BITSPERSAMPLE, &bits);
        Tiff().TIFFGetFieldDefaulted(Tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        Tiff().TIFFGetFieldDefaulted(Tif, TIFFTAG_PLANARCONFIG, &planar);
        if (Tiff().TIFFGetField(Tif, TIFFTAG_PHOTOMETRIC, &photometric) &&
            (photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB) && bits == 8 &&
            samples >= 3 && planar == PLANARCONFIG_CONTIG && !Tiff().TIFFIsTiled(Tif)) {
            return ReadLab(samples, photometric == PHOTOMETRIC_CIELAB);
        }
        TiffLayout layout;
        if (!TiffSampleLayout(Tif, layout)) {
            return ReadRgba();
        }
        Out.Colour = layout.Colours == 1 ? SourceColour::Grey : SourceColour::Rgb;
        CmykToRgb cmyk;
        if (layout.Colours == 4) {
            cmyk.Start(Out.Meta.Icc, layout.Bits == 16 ? CmykSamples::Ink16 : CmykSamples::Ink8);
            if (!cmyk.Warning().empty()) {
                Out.Warnings.push_back(cmyk.Warning());
            }
            // The pixels are sRGB now; the CMYK profile would describe them wrongly.
            Out.Meta.Icc = SrgbProfile();
        }
        TiffPixelConverter converter(layout, cmyk);
        return Tiff().TIFFIsTiled(Tif) ? ReadTiles(layout, converter)
                                       : ReadStrips(layout, converter);
    }

  private:
    std::uint8_t* RowAt(std::uint32_t y) const {
        return Rows + static_cast<std::size_t>(y) * Stride;
    }

    bool Allocate() {
        Rows = AllocateDecodeTarget(Out, W, H, &Stride);
        return Rows != nullptr;
    }

    bool Fail(const char* what) {
        Out.Bitmap.reset();
        Out.Code = Status::GenericError;
        Out.Message = Src.LastError[0] != '\0' ? Src.LastError : what;
        return false;
    }

    // Damage after the first rows keeps what was read; the rest stays black.
    bool Damaged(std::uint32_t row, const char* what) {
        if (row == 0) {
            return Fail(what);
        }
        Out.Damaged = true;
        Out.DamageReason = "the picture data is damaged from row " + std::to_string(row) +
                           " on: " + (Src.LastError[0] != '\0' ? Src.LastError : what);
        return true;
    }

    // Rows the codec filled in after its data ran out or broke: the picture opens, damaged.
    void NoteCodecDamage(std::uint32_t row) {
        if (Src.CodecDamage[0] != '\0' && !Out.Damaged) {
            Out.Damaged = true;
            Out.DamageReason = "the picture data is damaged from row " + std::to_string(row) +
                               " on: " + Src.CodecDamage;
        }
    }

    bool ReadStrips(const TiffLayout& layout, TiffPixelConverter& converter) {
        const tmsize_t lineBytes = Tiff().TIFFScanlineSize(Tif);
        const std::size_t pixelBytes = static_cast<std::size_t>(layout.Samples) * layout.Bits / 8;
        if (lineBytes <= 0 ||
            (!layout.Separate && static_cast<std::size_t>(lineBytes) < pixelBytes * W)) {
            return Fail("the picture's rows have an unexpected size");
        }
        if (!Allocate()) {
            return false;
        }
        std::vector<std::uint8_t> line(static_cast<std::size_t>(lineBytes));
        std::vector<std::uint8_t> row(layout.Separate ? pixelBytes * W : 0);
        for (std::uint32_t y = 0; y < H; ++y) {
            if (layout.Separate) {
                for (unsigned s = 0; s < layout.Samples; ++s) {
                    if (Tiff().TIFFReadScanline(Tif, line.data(), y,
                                                static_cast<std::uint16_t>(s)) < 0) {
                        return Damaged(y, "a row cannot be read");
                    }
                    TiffInterleave(line.data(), W, layout, s, row.data());
                }
                NoteCodecDamage(y);
                converter.Convert(row.data(), W, RowAt(y));
            } else {
                if (Tiff().TIFFReadScanline(Tif, line.data(), y, 0) < 0) {
                    return Damaged(y, "a row cannot be read");
                }
                NoteCodecDamage(y);
                converter.Convert(line.data(), W, RowAt(y));
            }
        }
        return true;
    }

    bool ReadTiles(const TiffLayout& layout, TiffPixelConverter& converter) {
        std::uint32_t tileWidth = 0, tileHeight = 0;
        Tiff().TIFFGetField(Tif, TIFFTAG_TILEWIDTH, &tileWidth);
        Tiff().TIFFGetField(Tif, TIFFTAG_TILELENGTH, &tileHeight);
        const tmsize_t tileBytes = Tiff().TIFFTileSize(Tif);
        const tmsize_t tileRowBytes = Tiff().TIFFTileRowSize(Tif);
        const std::size_t pixelBytes = static_cast<std::size_t>(layout.Samples) * layout.Bits / 8;
        if (tileWidth == 0 || tileHeight == 0 || tileBytes <= 0 || tileRowBytes <= 0 ||
            static_cast<std::uint64_t>(tileBytes) * (layout.Separate ? layout.Samples : 1) >
                MaxTileBytes) {
            return Fail("the picture's tiles have an unusable size");
        }
        if (!Allocate()) {
            return false;
        }
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileBytes));
        std::vector<std::uint8_t> pixels(layout.Separate ? pixelBytes * tileWidth * tileHeight : 0);
        bool anyRead = false;
        std::uint32_t firstDamage = H;
        for (std::uint32_t y0 = 0; y0 < H; y0 += tileHeight) {
            const std::uint32_t rows = std::min(tileHeight, H - y0);
            for (std::uint32_t x0 = 0; x0 < W; x0 += tileWidth) {
                const unsigned count = std::min(tileWidth, W - x0);
                const std::uint8_t* source = tile.data();
                std::size_t sourceRow = static_cast<std::size_t>(tileRowBytes);
                bool ok = true;
                for (unsigned s = 0; ok && s < (layout.Separate ? layout.Samples : 1); ++s) {
                    ok = Tiff().TIFFReadTile(Tif, tile.data(), x0, y0, 0,
                                             static_cast<std::uint16_t>(s)) >= 0;
                    for (std::uint32_t r = 0; ok && layout.Separate && r < tileHeight; ++r) {
                        TiffInterleave(tile.data() + r * sourceRow, tileWidth, layout, s,
                                       pixels.data() + r * pixelBytes * tileWidth);
                    }
                }
                if (!ok) {
                    firstDamage = std::min(firstDamage, y0);
                    continue;
                }
                NoteCodecDamage(y0);
                anyRead = true;
                if (layout.Separate) {
                    source = pixels.data();
                    sourceRow = pixelBytes * tileWidth;
                }
                for (std::uint32_t r = 0; r < rows; ++r) {
                    converter.Convert(source + r * sourceRow, count, RowAt(y0 + r) + 3 * x0);
                }
            }
        }
        if (!anyRead) {
            return Fail("no tile of the picture can be read");
        }
        if (firstDamage < H) {
            Out.Damaged = true;
            Out.DamageReason = "some tiles of the picture are damaged and stay black";
        }
        return true;
    }

    // CIELab through the colour library (libtiff's own RGBA reader would give it a cast), from
    // the ICC's Lab of D50 to sRGB. CIELab stores a* and b* signed, ICCLab offset by 128.
    bool ReadLab(unsigned samples, bool signedAxes) {
        const tmsize_t lineBytes = Tiff().TIFFScanlineSize(Tif);
        if (lineBytes < static_cast<tmsize_t>(samples) * W) {
            return Fail("the picture's rows have an unexpected size");
        }
        if (!Allocate()) {
            return false;
        }
        // Both null when the library cannot be loaded.
        cmsHPROFILE lab = Lcms().Loaded ? Lcms().cmsCreateLab4Profile(nullptr) : nullptr;
        cmsHPROFILE srgb = Lcms().Loaded ? Lcms().cmsCreate_sRGBProfile() : nullptr;
        cmsHTRANSFORM transform =
            lab && srgb ? Lcms().cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_BGR_8,
                                                    INTENT_RELATIVE_COLORIMETRIC, 0)
                        : nullptr;
        for (cmsHPROFILE profile : {lab, srgb}) {
            if (profile != nullptr) {
                Lcms().cmsCloseProfile(profile);
            }
        }
        if (transform == nullptr) {
            return Fail("the colour library (" VELORA_LCMS_LIBRARY ") cannot convert Lab colours");
        }
        std::vector<std::uint8_t> line(static_cast<std::size_t>(lineBytes));
        std::vector<double> values(3 * static_cast<std::size_t>(W));
        bool result = true;
        for (std::uint32_t y = 0; y < H; ++y) {
            if (Tiff().TIFFReadScanline(Tif, line.data(), y, 0) < 0) {
                result = Damaged(y, "a row cannot be read");
                break;
            }
            NoteCodecDamage(y);
            for (std::uint32_t x = 0; x < W; ++x) {
                const std::uint8_t* in = &line[static_cast<std::size_t>(x) * samples];
                double* lab = &values[3 * static_cast<std::size_t>(x)];
                lab[0] = in[0] * 100.0 / 255.0;
                for (int c = 1; c < 3; ++c) {
                    lab[c] = signedAxes ? static_cast<std::int8_t>(in[c]) : in[c] - 128.0;
                }
            }
            Lcms().cmsDoTransform(transform, values.data(), RowAt(y), W);
        }
        Lcms().cmsDeleteTransform(transform);
        // The pixels are sRGB now; a Lab profile would describe them wrongly.
        Out.Meta.Icc = SrgbProfile();
        return result;
    }

    bool ReadRgba() {
        char message[1024] = "";
        if (!Tiff().TIFFRGBAImageOK(Tif, message)) {
            Src.LastError[0] = '\0';
            return Fail(message[0] != '\0' ? message : "this kind of TIFF cannot be read");
        }
        std::uint16_t photometric = 0;
        if (Tiff().TIFFGetField(Tif, TIFFTAG_PHOTOMETRIC, &photometric) &&
            (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)) {
            Out.Colour = SourceColour::Grey;
        }
        if (!Allocate()) {
            return false;
        }
        TIFFRGBAImage image;
        if (!Tiff().TIFFRGBAImageBegin(&image, Tif, 0, message)) {
            Src.LastError[0] = '\0';
            return Fail(message[0] != '\0' ? message : "this kind of TIFF cannot be read");
        }
        // Rows in the order they are stored; the Orientation tag travels with the metadata.
        image.req_orientation = image.orientation;
        std::vector<std::uint32_t> band(static_cast<std::size_t>(W) * BandRows);
        bool result = true;
        for (std::uint32_t y = 0; y < H; y += BandRows) {
            const std::uint32_t rows = std::min(BandRows, H - y);
            image.row_offset = static_cast<int>(y);
            image.col_offset = 0;
            if (!Tiff().TIFFRGBAImageGet(&image, band.data(), W, rows)) {
                result = Damaged(y, "a row cannot be read");
                break;
            }
            NoteCodecDamage(y);
            for (std::uint32_t r = 0; r < rows; ++r) {
                const std::uint32_t* pixel = &band[static_cast<std::size_t>(r) * W];
                std::uint8_t* bgr = RowAt(y + r);
                for (std::uint32_t x = 0; x < W; ++x, ++pixel, bgr += 3) {
                    // The reader hands out premultiplied colours: over white is c + (255 - a).
                    const unsigned paper = 255 - TIFFGetA(*pixel);
                    bgr[0] = static_cast<std::uint8_t>(std::min(255u, TIFFGetB(*pixel) + paper));
                    bgr[1] = static_cast<std::uint8_t>(std::min(255u, TIFFGetG(*pixel) + paper));
                    bgr[2] = static_cast<std::uint8_t>(std::min(255u, TIFFGetR(*pixel) + paper));
                }
            }
        }
        Tiff().TIFFRGBAImageEnd(&image);
        return result;
    }

    TIFF* Tif;
    Source& Src;
    DecodeOutcome& Out;
    std::uint32_t W = 0;
    std::uint32_t H = 0;
    std::uint8_t* Rows = nullptr;
    std::int32_t Stride = 0;
};

void KeepField(TIFF* tif, ttag_t tag, std::vector<std::uint8_t>& target) {
    std::uint32_t count = 0;
    void* data = nullptr;
    if (Tiff().TIFFGetField(tif, tag, &count, &data) && data != nullptr && count > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        target.assign(bytes, bytes + count);
    }
}

}  // namespace

void DecodeTiff(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    Source source;
    source.Data = data;
    source.Size = size;
    const TiffOptions options = NewTiffOptions(out);
    if (!options || !MetadataModuleReady(out, "TIFF pictures")) {
        return;
    }
    Tiff().TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), MaxLibraryAllocation);
    Tiff().TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &source);
    Tiff().TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &source);
    std::unique_ptr<TIFF, TiffCloser> tif(
        Tiff().TIFFClientOpenExt("picture", "r", &source, ReadProc, WriteProc, SeekProc, CloseProc,
                                 SizeProc, MapProc, UnmapProc, options.get()));
    if (!tif) {
        out.Code = Status::GenericError;
        out.Message =
            source.LastError[0] != '\0' ? source.LastError : "the TIFF file cannot be read";
        return;
    }
    if (PaletteWithoutColours(data, size)) {
        out.Code = Status::GenericError;
        out.Message =
            "the TIFF file is damaged: its picture is in palette colours, but it has no "
            "palette";
        return;
    }
    std::uint32_t width = 0, height = 0;
    if (!Tiff().TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !Tiff().TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) || width == 0 ||
        height == 0) {
        out.Code = Status::GenericError;
        out.Message = "the TIFF file does not say how large its picture is";
        return;
    }
    if (!DeclaredSizeAllowed(out, width, height)) {
        return;
    }
    if (!HoldsPictureData(tif.get(), size, width, height)) {
        out.Code = Status::GenericError;
        out.Message = "the file is damaged: its picture data is too short for " +
                      std::to_string(width) + " x " + std::to_string(height) + " pixels";
        return;
    }
    KeepField(tif.get(), TIFFTAG_ICCPROFILE, out.Meta.Icc);
    std::vector<std::uint8_t> xmp;
    KeepField(tif.get(), TIFFTAG_XMLPACKET, xmp);
    TiffReader reader(tif.get(), source, out);
    if (!reader.Read(width, height)) {
        out.Meta = RawMetadata{};
        return;
    }
    out.Meta.Xmp.assign(xmp.begin(), xmp.end());
    out.Meta.Exif = ExifFromTiff(data, size);
    try {
        AddPhotoshopSegments(PhotoshopFromTiff(data, size), out.Meta.Segments);
    } catch (const std::bad_alloc&) {
        // Resources that cannot be held are left out; the picture still comes.
    }
}

}  // namespace velora
