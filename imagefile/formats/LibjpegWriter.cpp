#include <algorithm>
#include <new>

#include "Codecs.h"
#include "JpegErrors.h"
#include "LibjpegRows.h"

namespace velora {

namespace {

// Rows handed to libjpeg per call.
constexpr int RowsPerCall = 16;

bool SegmentFits(std::size_t payload) {
    return payload + 2 <= 65535;
}

}  // namespace

struct LibjpegWriter::State {
    jpeg_compress_struct Info;
    JpegErrorManager Err;
    std::string Message;
    std::FILE* File = nullptr;
    std::vector<std::uint8_t> Trailer;  // written after the picture's end
    bool Created = false;
    bool Started = false;
    bool Failed = false;

    ~State() {
        if (Created) {
            jpeg_destroy_compress(&Info);
        }
    }
    bool Fail(const char* prefix) {
        Failed = true;
        try {
            Message = std::string(prefix) + Err.Message;
        } catch (...) {
        }
        return false;
    }
};

LibjpegWriter::LibjpegWriter() : S(std::make_unique<State>()) {
    S->Info.err = jpeg_std_error(&S->Err.Base);
    S->Err.Base.error_exit = OnJpegErrorExit;
    S->Err.Message[0] = '\0';
    S->Err.Warnings = nullptr;
}

LibjpegWriter::~LibjpegWriter() = default;

namespace {

// The check before anything is written; the reason in words when the metadata cannot be stored.
const char* MetadataProblem(const EncodedMetadata& meta) {
    if (!meta.Exif.empty() && meta.Exif.size() > MaxExifBytes) {
        return "the metadata is too large for a JPEG file";
    }
    if (!meta.Xmp.empty() && !SegmentFits(meta.Xmp.size() + 29)) {
        return "the XMP packet is too large for a JPEG file";
    }
    for (const ExtraMetadata::Segment& segment : meta.Segments) {
        if (!SegmentFits(segment.Payload.size()) || segment.Marker < 0xE0 ||
            (segment.Marker > 0xEF && segment.Marker != 0xFE)) {
            return "a metadata segment cannot be written";
        }
    }
    return nullptr;
}

void WriteHeader(j_compress_ptr info, unsigned width, unsigned height, int quality,
                 const EncodedMetadata* meta) {
    info->image_width = width;
    info->image_height = height;
    info->input_components = 3;
    info->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    for (int c = 0; c < info->num_components; ++c) {
        info->comp_info[c].h_samp_factor = 1;
        info->comp_info[c].v_samp_factor = 1;
    }
    info->dct_method = JDCT_ISLOW;
    // JFIF's header comes back as the opened file had it; a file that had none gets one only
    // when there is no Exif segment to start with.
    info->write_JFIF_header = meta->Jfif.Present || meta->Exif.empty() ? TRUE : FALSE;
    if (meta->Jfif.Present) {
        info->JFIF_major_version = meta->Jfif.Major;
        info->JFIF_minor_version = meta->Jfif.Minor;
        info->density_unit = meta->Jfif.Unit;
        info->X_density = meta->Jfif.X;
        info->Y_density = meta->Jfif.Y;
    }
    jpeg_start_compress(info, TRUE);
    if (!meta->Exif.empty()) {
        jpeg_write_m_header(info, JPEG_APP0 + 1, static_cast<unsigned>(meta->Exif.size() + 6));
        static const char exifId[] = "Exif\0";
        for (int i = 0; i < 6; ++i) {
            jpeg_write_m_byte(info, exifId[i]);
        }
        for (std::uint8_t b : meta->Exif) {
            jpeg_write_m_byte(info, b);
        }
    }
    if (!meta->Xmp.empty()) {
        static const char xmpId[] = "http://ns.adobe.com/xap/1.0/";
        jpeg_write_m_header(info, JPEG_APP0 + 1,
                            static_cast<unsigned>(sizeof(xmpId) + meta->Xmp.size()));
        for (char c : xmpId) {
            jpeg_write_m_byte(info, c);
        }
        for (char c : meta->Xmp) {
            jpeg_write_m_byte(info, c);
        }
    }
    // Past the limit the chunk numbers would wrap; the metadata builder has named it left out.
    if (!meta->Icc.empty() && meta->Icc.size() <= MaxJpegIccBytes) {
        jpeg_write_icc_profile(info, meta->Icc.data(), static_cast<unsigned>(meta->Icc.size()));
    }
    for (const ExtraMetadata::Segment& segment : meta->Segments) {
        jpeg_write_marker(info, segment.Marker, segment.Payload.data(),
                          static_cast<unsigned>(segment.Payload.size()));
    }
}

}  // namespace

bool LibjpegWriter::Start(std::FILE* file, unsigned width, unsigned height, int quality,
                          const EncodedMetadata& meta) {
    State* s = S.get();
    if (s->Created) {
        return false;
    }
    if (const char* problem = MetadataProblem(meta)) {
        s->Failed = true;
        s->Message = problem;
        return false;
    }
    try {
        s->Trailer = meta.Trailer;
    } catch (const std::bad_alloc&) {
        s->Failed = true;
        s->Message = "not enough memory for the metadata";
        return false;
    }
    s->File = file;
    if (setjmp(s->Err.Jump)) {
        return s->Fail("the JPEG encoder failed: ");
    }
    jpeg_create_compress(&s->Info);
    s->Created = true;
    jpeg_stdio_dest(&s->Info, file);
    WriteHeader(&s->Info, width, height, quality < 1 ? 1 : (quality > 100 ? 100 : quality), &meta);
    s->Started = true;
    return true;
}

bool LibjpegWriter::WriteRows(const std::uint8_t* rows, std::int32_t stride, int count) {
    State* s = S.get();
    if (!s->Started || s->Failed) {
        return false;
    }
    if (setjmp(s->Err.Jump)) {
        return s->Fail("the JPEG encoder failed: ");
    }
    for (int done = 0; done < count;) {
        JSAMPROW pointers[RowsPerCall];
        const int wanted = count - done < RowsPerCall ? count - done : RowsPerCall;
        for (int i = 0; i < wanted; ++i) {
            pointers[i] =
                const_cast<JSAMPROW>(rows + static_cast<std::ptrdiff_t>(done + i) * stride);
        }
        const JDIMENSION written =
            jpeg_write_scanlines(&s->Info, pointers, static_cast<JDIMENSION>(wanted));
        if (written == 0) {
            s->Failed = true;
            s->Message = "the JPEG encoder was given more rows than the picture has";
            return false;
        }
        done += static_cast<int>(written);
    }
    return true;
}

unsigned LibjpegWriter::NextRow() const {
    return S->Started ? S->Info.next_scanline : 0;
}

bool LibjpegWriter::Finish() {
    State* s = S.get();
    if (!s->Started || s->Failed) {
        return false;
    }
    if (setjmp(s->Err.Jump)) {
        return s->Fail("the JPEG encoder failed: ");
    }
    jpeg_finish_compress(&s->Info);
    if (s->Trailer.empty()) {
        return true;
    }
    // AFCP's offsets count from the file's start: they follow the picture's new end, which a
    // stream that cannot tell its place (a pipe) does not know.
    const long end = std::ftell(s->File);
    try {
        const std::vector<std::string> kinds = TrailerKinds(s->Trailer);
        if (end < 0 && std::find(kinds.begin(), kinds.end(), "AFCP trailer") != kinds.end()) {
            s->Failed = true;
            s->Message = "an AFCP trailer cannot be written to a stream without positions";
            return false;
        }
        s->Trailer = PlacedTrailer(s->Trailer, end < 0 ? 0 : static_cast<std::uint64_t>(end));
    } catch (const std::bad_alloc&) {
        s->Failed = true;
        s->Message = "not enough memory for the metadata";
        return false;
    }
    if (std::fwrite(s->Trailer.data(), 1, s->Trailer.size(), s->File) != s->Trailer.size()) {
        s->Failed = true;
        s->Message = "the file cannot be written";
        return false;
    }
    return true;
}

const std::string& LibjpegWriter::Message() const {
    return S->Message;
}

}  // namespace velora
