#include <cstring>

#include "JpegErrors.h"
#include "JpegRows.h"

#include <jerror.h>

namespace velora {

namespace {

// libjpeg's own working memory (progressive coefficient buffers above all) stays below this.
constexpr long MaxDecoderMemory = 1024L * 1024 * 1024;
// More scans than any real progressive file has; a file with more is a decoding bomb.
constexpr int MaxScans = 1000;
// Rows handed to libjpeg per call; it gives at most what it has at once anyway.
constexpr int RowsPerCall = 16;

struct ProgressManager {
    jpeg_progress_mgr Base;
    j_decompress_ptr Info;
};

void OnProgress(j_common_ptr info) {
    auto* progress = reinterpret_cast<ProgressManager*>(info->progress);
    if (progress->Info->input_scan_number > MaxScans) {
        auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
        std::strcpy(err->Message, "the file has too many scans");
        std::longjmp(err->Jump, 1);
    }
}

}  // namespace

struct JpegRowReader::State {
    jpeg_decompress_struct Info;
    JpegErrorManager Err;
    ProgressManager Progress;
    std::vector<std::string> Warnings;
    std::string Message;
    bool Created = false;
    bool Started = false;
    bool Failed = false;
    bool Cmyk = false;
    bool Inverted = false;

    ~State() {
        if (Created) {
            jpeg_destroy_decompress(&Info);
        }
    }
    bool Fail() {
        Failed = true;
        try {
            Message = Err.Message;
        } catch (...) {
        }
        return false;
    }
};

JpegRowReader::JpegRowReader() : S(std::make_unique<State>()) {
    S->Info.err = jpeg_std_error(&S->Err.Base);
    S->Err.Base.error_exit = OnJpegErrorExit;
    S->Err.Base.emit_message = OnJpegMessage;
    S->Err.Message[0] = '\0';
    S->Err.Warnings = &S->Warnings;
}

JpegRowReader::~JpegRowReader() = default;

namespace {

// The part of opening that both sources share, after the source is set.
void ReadHeader(j_decompress_ptr info, bool* cmyk, bool* inverted) {
    for (int m = 0; m < 16; ++m) {
        jpeg_save_markers(info, JPEG_APP0 + m, 0xFFFF);
    }
    jpeg_save_markers(info, JPEG_COM, 0xFFFF);
    jpeg_read_header(info, TRUE);
    *cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    *inverted = *cmyk && info->saw_Adobe_marker;
    info->out_color_space = *cmyk ? JCS_CMYK : JCS_EXT_BGR;
    info->dct_method = JDCT_ISLOW;
}

}  // namespace

bool JpegRowReader::Open(const std::uint8_t* data, std::size_t size) {
    State* s = S.get();
    if (s->Created) {
        return false;
    }
    if (setjmp(s->Err.Jump)) {
        return s->Fail();
    }
    jpeg_create_decompress(&s->Info);
    s->Created = true;
    s->Info.mem->max_memory_to_use = MaxDecoderMemory;
    s->Progress.Base.progress_monitor = OnProgress;
    s->Progress.Info = &s->Info;
    s->Info.progress = &s->Progress.Base;
    jpeg_mem_src(&s->Info, data, static_cast<unsigned long>(size));
    ReadHeader(&s->Info, &s->Cmyk, &s->Inverted);
    return true;
}

bool JpegRowReader::Open(std::FILE* file) {
    State* s = S.get();
    if (s->Created) {
        return false;
    }
    if (setjmp(s->Err.Jump)) {
        return s->Fail();
    }
    jpeg_create_decompress(&s->Info);
    s->Created = true;
    s->Info.mem->max_memory_to_use = MaxDecoderMemory;
    s->Progress.Base.progress_monitor = OnProgress;
    s->Progress.Info = &s->Info;
    s->Info.progress = &s->Progress.Base;
    jpeg_stdio_src(&s->Info, file);
    ReadHeader(&s->Info, &s->Cmyk, &s->Inverted);
    return true;
}

unsigned JpegRowReader::Width() const {
    return S->Created && !S->Failed ? S->Info.image_width : 0;
}

unsigned JpegRowReader::Height() const {
    return S->Created && !S->Failed ? S->Info.image_height : 0;
}

bool JpegRowReader::Cmyk() const {
    return S->Cmyk;
}

bool JpegRowReader::AdobeInverted() const {
    return S->Inverted;
}

bool JpegRowReader::Grey() const {
    return S->Created && !S->Failed && S->Info.jpeg_color_space == JCS_GRAYSCALE;
}

bool JpegRowReader::Start() {
    State* s = S.get();
    if (!s->Created || s->Failed || s->Started) {
        return false;
    }
    if (setjmp(s->Err.Jump)) {
        return s->Fail();
    }
    jpeg_start_decompress(&s->Info);
    if (s->Info.output_width != s->Info.image_width ||
        s->Info.output_height != s->Info.image_height) {
        ERREXIT(&s->Info, JERR_NOT_COMPILED);
    }
    s->Started = true;
    return true;
}

int JpegRowReader::ReadRows(std::uint8_t* rows, std::int32_t stride, int count) {
    State* s = S.get();
    if (!s->Started || s->Failed) {
        return 0;
    }
    if (setjmp(s->Err.Jump)) {
        s->Fail();
        return 0;
    }
    const JDIMENSION first = s->Info.output_scanline;
    while (s->Info.output_scanline < s->Info.output_height &&
           static_cast<int>(s->Info.output_scanline - first) < count) {
        JSAMPROW pointers[RowsPerCall];
        const int done = static_cast<int>(s->Info.output_scanline - first);
        const int wanted = count - done < RowsPerCall ? count - done : RowsPerCall;
        for (int i = 0; i < wanted; ++i) {
            pointers[i] = rows + static_cast<std::ptrdiff_t>(done + i) * stride;
        }
        if (jpeg_read_scanlines(&s->Info, pointers, static_cast<JDIMENSION>(wanted)) == 0) {
            break;  // no data source here ever suspends; this only guards the loop
        }
    }
    return static_cast<int>(s->Info.output_scanline - first);
}

unsigned JpegRowReader::NextRow() const {
    return S->Started ? S->Info.output_scanline : 0;
}

std::vector<JpegMarker> JpegRowReader::Markers() const {
    std::vector<JpegMarker> markers;
    if (!S->Created || S->Failed) {
        return markers;
    }
    for (jpeg_saved_marker_ptr m = S->Info.marker_list; m != nullptr; m = m->next) {
        markers.push_back(JpegMarker{m->marker, m->data, m->data_length});
    }
    return markers;
}

bool JpegRowReader::QuantTable(int slot, std::uint16_t values[64]) const {
    if (!S->Created || S->Failed || slot < 0 || slot > 1 ||
        S->Info.quant_tbl_ptrs[slot] == nullptr) {
        return false;
    }
    for (int i = 0; i < DCTSIZE2; ++i) {
        values[i] = S->Info.quant_tbl_ptrs[slot]->quantval[i];
    }
    return true;
}

bool JpegRowReader::Finish() {
    State* s = S.get();
    if (!s->Started || s->Failed) {
        return false;
    }
    if (setjmp(s->Err.Jump)) {
        return s->Fail();
    }
    jpeg_finish_decompress(&s->Info);
    return true;
}

bool JpegRowReader::Failed() const {
    return S->Failed;
}

const std::string& JpegRowReader::Message() const {
    return S->Message;
}

const std::vector<std::string>& JpegRowReader::Warnings() const {
    return S->Warnings;
}

}  // namespace velora
