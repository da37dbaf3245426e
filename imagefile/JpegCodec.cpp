// JPEG decoding and encoding over libjpeg-turbo. libjpeg reports fatal errors through
// error_exit, which jumps back to the setjmp in the one function that makes the libjpeg calls;
// that function holds no object with a destructor, so the jump skips nothing.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include <jerror.h>

#include "Codecs.h"

namespace velora {

namespace {

// libjpeg's own working memory (progressive coefficient buffers above all) stays below this.
constexpr long MaxDecoderMemory = 1024L * 1024 * 1024;
// More scans than any real progressive file has; a file with more is a decoding bomb.
constexpr int MaxScans = 1000;
constexpr std::size_t MaxWarningTexts = 8;

// Everything the libjpeg frame hands out to C++ code. Its methods run in their own frames and
// never call back into libjpeg, so no jump passes through them.
class JpegSink {
  public:
    explicit JpegSink(DecodeOutcome& out) : Out(out) {}

    bool Allocate(unsigned width, unsigned height, std::uint8_t** rows, std::int32_t* stride) {
        *rows = AllocateDecodeTarget(Out, width, height, stride);
        return *rows != nullptr;
    }

    void Marker(int marker, const std::uint8_t* data, unsigned length) {
        try {
            KeepMarker(marker, data, length);
        } catch (...) {
            // Metadata that cannot be held is left out; the picture still comes.
        }
    }

    void Quant(int slot, const UINT16* values) {
        Out.Meta.HaveQuant[slot] = true;
        for (int i = 0; i < DCTSIZE2; ++i) {
            Out.Meta.Quant[slot][i] = values[i];
        }
    }

    void Warning(const char* text) {
        try {
            if (Out.Warnings.size() >= MaxWarningTexts) {
                return;
            }
            for (const std::string& seen : Out.Warnings) {
                if (seen == text) {
                    return;
                }
            }
            Out.Warnings.emplace_back(text);
        } catch (...) {
        }
    }

    void Fail(Status code, const char* text) {
        try {
            Out.Code = code;
            Out.Message = text;
            Out.Bitmap.reset();
        } catch (...) {
        }
    }

  private:
    void KeepMarker(int marker, const std::uint8_t* data, unsigned length) {
        RawMetadata& meta = Out.Meta;
        static const char exifId[] = "Exif\0";  // with the array's own NUL: six bytes
        static const char xmpId[] = "http://ns.adobe.com/xap/1.0/";  // plus its NUL
        static const char iccId[] = "ICC_PROFILE";                   // plus its NUL
        if (marker == JPEG_APP0 + 1 && length >= 6 && std::memcmp(data, exifId, 6) == 0) {
            if (meta.Exif.empty() && !SawExif) {
                meta.Exif.assign(data + 6, data + length);
            }
            SawExif = true;  // later Exif segments are not kept
            return;
        }
        if (marker == JPEG_APP0 + 1 && length >= sizeof(xmpId) &&
            std::memcmp(data, xmpId, sizeof(xmpId)) == 0) {
            if (meta.Xmp.empty()) {
                meta.Xmp.assign(reinterpret_cast<const char*>(data) + sizeof(xmpId),
                                length - sizeof(xmpId));
            }
            return;
        }
        if (marker == JPEG_APP0 + 2 && length >= sizeof(iccId) + 2 &&
            std::memcmp(data, iccId, sizeof(iccId)) == 0) {
            IccChunk(data[sizeof(iccId)], data[sizeof(iccId) + 1], data + sizeof(iccId) + 2,
                     length - sizeof(iccId) - 2);
            return;
        }
        // JFIF and its extension are the encoder's business; Adobe's segment describes the old
        // colour transform; other APP2 data (multi-picture index, FlashPix) points into data that
        // is not carried over.
        if (marker == JPEG_APP0 || marker == JPEG_APP0 + 14 || marker == JPEG_APP0 + 2) {
            return;
        }
        ExtraMetadata::Segment segment;
        segment.Marker = static_cast<std::uint8_t>(marker);
        segment.Payload.assign(data, data + length);
        meta.Segments.push_back(std::move(segment));
    }

    void IccChunk(unsigned sequence, unsigned count, const std::uint8_t* data, unsigned length) {
        if (IccBroken || sequence == 0 || count == 0 || sequence > count) {
            IccBroken = true;
            return;
        }
        if (IccChunks.empty()) {
            IccChunks.resize(count);
        } else if (IccChunks.size() != count) {
            IccBroken = true;
            return;
        }
        IccChunks[sequence - 1].assign(data, data + length);
        IccSeen.push_back(sequence);
    }

  public:
    // Joins the profile's chunks once all markers are known; an incomplete profile is left out.
    void FinishIcc() {
        if (IccBroken || IccChunks.empty() || IccSeen.size() != IccChunks.size()) {
            return;
        }
        std::vector<bool> present(IccChunks.size(), false);
        for (unsigned s : IccSeen) {
            if (present[s - 1]) {
                return;
            }
            present[s - 1] = true;
        }
        for (const auto& chunk : IccChunks) {
            Out.Meta.Icc.insert(Out.Meta.Icc.end(), chunk.begin(), chunk.end());
        }
    }

  private:
    DecodeOutcome& Out;
    bool SawExif = false;
    bool IccBroken = false;
    std::vector<std::vector<std::uint8_t>> IccChunks;
    std::vector<unsigned> IccSeen;
};

struct ErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    JpegSink* Sink;
};

struct ProgressManager {
    jpeg_progress_mgr Base;
    j_decompress_ptr Info;
};

void OnErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, err->Message);
    std::longjmp(err->Jump, 1);
}

void OnEmitMessage(j_common_ptr info, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    if (level >= 0) {
        return;  // trace messages
    }
    err->Base.num_warnings++;
    if (err->Sink != nullptr) {
        char text[JMSG_LENGTH_MAX];
        (*info->err->format_message)(info, text);
        err->Sink->Warning(text);
    }
}

void OnProgress(j_common_ptr info) {
    auto* progress = reinterpret_cast<ProgressManager*>(info->progress);
    if (progress->Info->input_scan_number > MaxScans) {
        auto* err = reinterpret_cast<ErrorManager*>(info->err);
        std::strcpy(err->Message, "the file has too many scans");
        std::longjmp(err->Jump, 1);
    }
}

inline std::uint8_t MulDiv255(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

void CmykRowToBgr(const JSAMPLE* cmyk, std::uint8_t* bgr, unsigned width, bool inverted) {
    for (unsigned x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        // Here each value is the amount of paper left uncovered by its ink.
        bgr[0] = MulDiv255(y, k);
        bgr[1] = MulDiv255(m, k);
        bgr[2] = MulDiv255(c, k);
    }
}

// Result: 0 decoded, 1 libjpeg gave up (err.Message), 2 refused by the sink (reason recorded).
int RunDecode(const std::uint8_t* data, std::size_t size, JpegSink* sink, ErrorManager* err) {
    jpeg_decompress_struct info;
    ProgressManager progress;
    info.err = jpeg_std_error(&err->Base);
    err->Base.error_exit = OnErrorExit;
    err->Base.emit_message = OnEmitMessage;
    err->Sink = sink;
    err->Message[0] = '\0';
    if (setjmp(err->Jump)) {
        jpeg_destroy_decompress(&info);
        return 1;
    }
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = MaxDecoderMemory;
    progress.Base.progress_monitor = OnProgress;
    progress.Info = &info;
    info.progress = &progress.Base;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    for (int m = 0; m < 16; ++m) {
        jpeg_save_markers(&info, JPEG_APP0 + m, 0xFFFF);
    }
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    // Adobe's encoders store CMYK inverted and say so with their APP14 segment.
    const bool inverted = cmyk && info.saw_Adobe_marker;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    info.dct_method = JDCT_ISLOW;
    std::uint8_t* rows = nullptr;
    std::int32_t stride = 0;
    // The limits are checked on the declared size, before libjpeg or we allocate anything big.
    if (!sink->Allocate(info.image_width, info.image_height, &rows, &stride)) {
        jpeg_destroy_decompress(&info);
        return 2;
    }
    jpeg_start_decompress(&info);
    if (info.output_width != info.image_width || info.output_height != info.image_height) {
        ERREXIT(&info, JERR_NOT_COMPILED);
    }
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk) {
        cmykRow = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                            info.output_width * 4, 1);
    }
    while (info.output_scanline < info.output_height) {
        std::uint8_t* row = rows + static_cast<std::size_t>(info.output_scanline) * stride;
        if (cmyk) {
            if (jpeg_read_scanlines(&info, cmykRow, 1) == 1) {
                CmykRowToBgr(cmykRow[0], row, info.output_width, inverted);
            }
        } else {
            JSAMPROW target = row;
            jpeg_read_scanlines(&info, &target, 1);
        }
    }
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
        sink->Marker(m->marker, m->data, m->data_length);
    }
    for (int slot = 0; slot < 2; ++slot) {
        if (info.quant_tbl_ptrs[slot] != nullptr) {
            sink->Quant(slot, info.quant_tbl_ptrs[slot]->quantval);
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return 0;
}

int RunEncode(std::FILE* file, const std::uint8_t* rows, std::int32_t stride, unsigned width,
              unsigned height, int quality, const EncodedMetadata* meta, ErrorManager* err) {
    jpeg_compress_struct info;
    info.err = jpeg_std_error(&err->Base);
    err->Base.error_exit = OnErrorExit;
    err->Sink = nullptr;
    err->Message[0] = '\0';
    if (setjmp(err->Jump)) {
        jpeg_destroy_compress(&info);
        return 1;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    info.dct_method = JDCT_ISLOW;
    // An Exif file starts with its APP1; JFIF's header would only repeat the resolution.
    info.write_JFIF_header = meta->Exif.empty() ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    if (!meta->Exif.empty()) {
        jpeg_write_m_header(&info, JPEG_APP0 + 1, static_cast<unsigned>(meta->Exif.size() + 6));
        static const char exifId[] = "Exif\0";
        for (int i = 0; i < 6; ++i) {
            jpeg_write_m_byte(&info, exifId[i]);
        }
        for (std::uint8_t b : meta->Exif) {
            jpeg_write_m_byte(&info, b);
        }
    }
    if (!meta->Xmp.empty()) {
        static const char xmpId[] = "http://ns.adobe.com/xap/1.0/";
        jpeg_write_m_header(&info, JPEG_APP0 + 1,
                            static_cast<unsigned>(sizeof(xmpId) + meta->Xmp.size()));
        for (char c : xmpId) {
            jpeg_write_m_byte(&info, c);
        }
        for (char c : meta->Xmp) {
            jpeg_write_m_byte(&info, c);
        }
    }
    if (!meta->Icc.empty()) {
        jpeg_write_icc_profile(&info, meta->Icc.data(), static_cast<unsigned>(meta->Icc.size()));
    }
    for (const ExtraMetadata::Segment& segment : meta->Segments) {
        jpeg_write_marker(&info, segment.Marker, segment.Payload.data(),
                          static_cast<unsigned>(segment.Payload.size()));
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows + static_cast<std::size_t>(info.next_scanline) *
                                                       static_cast<std::size_t>(stride));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return 0;
}

bool SegmentFits(std::size_t payload) {
    return payload + 2 <= 65535;
}

}  // namespace

void DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    JpegSink sink(out);
    ErrorManager err;
    const int result = RunDecode(data, size, &sink, &err);
    if (result == 1) {
        sink.Fail(Status::GenericError, err.Message);
        out.Meta = RawMetadata{};
        return;
    }
    if (result == 2) {
        out.Meta = RawMetadata{};
        return;
    }
    sink.FinishIcc();
}

bool EncodeJpeg(std::FILE* file, WorkingBitmap& bitmap, int quality, const EncodedMetadata& meta,
                std::string& error) {
    if (!meta.Exif.empty() && meta.Exif.size() > MaxExifBytes) {
        error = "the metadata is too large for a JPEG file";
        return false;
    }
    if (!meta.Xmp.empty() && !SegmentFits(meta.Xmp.size() + 29)) {
        error = "the XMP packet is too large for a JPEG file";
        return false;
    }
    for (const ExtraMetadata::Segment& segment : meta.Segments) {
        if (!SegmentFits(segment.Payload.size()) || segment.Marker < 0xE0 ||
            (segment.Marker > 0xEF && segment.Marker != 0xFE)) {
            error = "a metadata segment cannot be written";
            return false;
        }
    }
    BitmapData data;
    if (!LockWholeForReading(bitmap, data, error)) {
        return false;
    }
    const unsigned width = data.Width;
    const unsigned height = data.Height;
    ErrorManager err;
    const int result = RunEncode(file, data.Scan0, data.Stride, width, height,
                                 quality < 1 ? 1 : (quality > 100 ? 100 : quality), &meta, &err);
    bitmap.UnlockBits(&data);
    if (result != 0) {
        error = std::string("the JPEG encoder failed: ") + err.Message;
        return false;
    }
    return true;
}

}  // namespace velora
