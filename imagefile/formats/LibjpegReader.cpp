#include <cstring>

#include "Codecs.h"
#include "JpegErrors.h"
#include "JpegSegments.h"
#include "LibjpegRows.h"

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

struct LibjpegReader::State {
    jpeg_decompress_struct Info;
    JpegErrorManager Err;
    ProgressManager Progress;
    std::vector<std::string> Warnings;
    std::string Message;
    std::string DamageReason;
    bool Created = false;
    bool Started = false;
    bool Failed = false;
    bool Cmyk = false;
    bool Inverted = false;
    bool Holds = true;
    bool SingleScan = true;
    // What the segments carry on, and the one being read.
    JpegSegments Segments;
    RawMetadata Meta;
    std::size_t SegmentsMet = 0;
    std::vector<std::uint8_t> Segment;
    int SegmentMarker = 0;
    bool SegmentLost = false;

    // These run in their own frames, called from the segment reader, and let nothing escape.
    void SegmentStart(int marker, std::size_t length) {
        SegmentMarker = marker;
        SegmentLost = false;
        ++SegmentsMet;
        try {
            Segment.clear();
            Segment.reserve(length);
        } catch (...) {
            SegmentLost = true;
        }
    }
    void SegmentBytes(const std::uint8_t* data, std::size_t length) {
        try {
            if (!SegmentLost) {
                Segment.insert(Segment.end(), data, data + length);
            }
        } catch (...) {
            SegmentLost = true;  // metadata that cannot be held is left out; the picture comes
        }
    }
    void SegmentEnd() {
        if (SegmentLost) {
            return;
        }
        try {
            if (const char* note =
                    Segments.Keep(SegmentMarker, Segment.data(), Segment.size(), Meta)) {
                KeepJpegWarning(Warnings, note);
            }
        } catch (...) {
        }
    }

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

LibjpegReader::LibjpegReader() : S(std::make_unique<State>()) {
    S->Info.err = jpeg_std_error(&S->Err.Base);
    S->Err.Base.error_exit = OnJpegErrorExit;
    S->Err.Base.emit_message = OnJpegMessage;
    S->Err.Message[0] = '\0';
    S->Err.Warnings = &S->Warnings;
}

LibjpegReader::~LibjpegReader() = default;

namespace {

// Reads an application segment or comment straight into the reader's state. libjpeg's own list
// of saved markers would keep every one of them and walk to its end for each new one, which
// makes a file of many empty segments take minutes. The sources used here (memory, stdio) never
// suspend, so this never has to resume halfway.
boolean OnSegment(j_decompress_ptr info) {
    jpeg_source_mgr* src = info->src;
    auto* state = static_cast<LibjpegReader::State*>(info->client_data);
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    unsigned length = 0;
    for (int i = 0; i < 2; ++i) {
        if (src->bytes_in_buffer == 0 && !(*src->fill_input_buffer)(info)) {
            return FALSE;
        }
        length = (length << 8) | *src->next_input_byte++;
        --src->bytes_in_buffer;
    }
    // A length below 2 does not even cover its own field: nothing follows.
    std::size_t remaining = length > 2 ? length - 2 : 0;
    state->SegmentStart(info->unread_marker, remaining);
    while (remaining > 0) {
        if (src->bytes_in_buffer == 0 && !(*src->fill_input_buffer)(info)) {
            return FALSE;
        }
        if (err->Damaged) {
            return TRUE;  // the file ended inside the segment: what follows is filler
        }
        const std::size_t piece =
            remaining < src->bytes_in_buffer ? remaining : src->bytes_in_buffer;
        state->SegmentBytes(src->next_input_byte, piece);
        src->next_input_byte += piece;
        src->bytes_in_buffer -= piece;
        remaining -= piece;
    }
    state->SegmentEnd();
    return TRUE;
}

// Bytes of the file after what libjpeg has taken so far; -1 when that cannot be told.
long long DataLeft(j_decompress_ptr info, std::FILE* file) {
    const long long buffered = static_cast<long long>(info->src->bytes_in_buffer);
    if (file == nullptr) {
        return buffered;  // the whole file was handed over in memory
    }
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return end < here ? -1 : buffered + (end - here);
}

bool CanHoldPicture(j_decompress_ptr info, long long available) {
    if (info->arith_code || available < 0) {
        return true;
    }
    unsigned long long blocks = 0;
    for (int c = 0; c < info->num_components; ++c) {
        blocks += static_cast<unsigned long long>(info->comp_info[c].width_in_blocks) *
                  info->comp_info[c].height_in_blocks;
    }
    const unsigned long long bits = blocks * (info->progressive_mode ? 1 : 2);
    return bits / 8 <= static_cast<unsigned long long>(available);
}

// A multi-scan file that ended without its end marker lost nothing when every coefficient of
// every component reached its final precision; scans after that would have nothing to add.
bool AllScansCame(j_decompress_ptr info) {
    if (!info->progressive_mode || info->coef_bits == nullptr) {
        return false;  // sequential scans do not say which are still to come
    }
    for (int c = 0; c < info->num_components; ++c) {
        for (int k = 0; k < DCTSIZE2; ++k) {
            if (info->coef_bits[c][k] != 0) {
                return false;
            }
        }
    }
    return true;
}

// The part of opening that both sources share, after the source is set.
void ReadHeader(j_decompress_ptr info, LibjpegReader::State* state, std::FILE* file) {
    info->client_data = state;
    // APP0 (JFIF) and APP14 (Adobe) stay with libjpeg, which reads what it needs from them.
    for (int m = 1; m < 16; ++m) {
        if (m != 14) {
            jpeg_set_marker_processor(info, JPEG_APP0 + m, OnSegment);
        }
    }
    jpeg_set_marker_processor(info, JPEG_COM, OnSegment);
    state->Err.TrackDamage = true;
    jpeg_read_header(info, TRUE);
    if (info->saw_JFIF_marker) {
        // Its version and density travel to the saved file.
        JfifHeader& jfif = state->Meta.Jfif;
        jfif.Present = true;
        jfif.Major = info->JFIF_major_version;
        jfif.Minor = info->JFIF_minor_version;
        jfif.Unit = info->density_unit;
        jfif.X = info->X_density;
        jfif.Y = info->Y_density;
    }
    state->Cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    state->Inverted = state->Cmyk && info->saw_Adobe_marker;
    state->Holds = CanHoldPicture(info, DataLeft(info, file));
    state->SingleScan = !jpeg_has_multiple_scans(info);
    info->out_color_space = state->Cmyk ? JCS_CMYK : JCS_EXT_BGR;
    info->dct_method = JDCT_ISLOW;
}

// Reads from memory, or from `file` where one is given. The libjpeg calls and their setjmp share
// this one frame, which holds nothing with a destructor.
bool OpenSource(LibjpegReader::State* s, const std::uint8_t* data, std::size_t size,
                std::FILE* file) {
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
    if (file != nullptr) {
        jpeg_stdio_src(&s->Info, file);
    } else {
        jpeg_mem_src(&s->Info, data, static_cast<unsigned long>(size));
    }
    ReadHeader(&s->Info, s, file);
    return true;
}

}  // namespace

bool LibjpegReader::Open(const std::uint8_t* data, std::size_t size) {
    return OpenSource(S.get(), data, size, nullptr);
}

bool LibjpegReader::Open(std::FILE* file) {
    return OpenSource(S.get(), nullptr, 0, file);
}

unsigned LibjpegReader::Width() const {
    return S->Created && !S->Failed ? S->Info.image_width : 0;
}

unsigned LibjpegReader::Height() const {
    return S->Created && !S->Failed ? S->Info.image_height : 0;
}

bool LibjpegReader::HoldsPicture() const {
    return S->Holds;
}

bool LibjpegReader::Cmyk() const {
    return S->Cmyk;
}

bool LibjpegReader::AdobeInverted() const {
    return S->Inverted;
}

bool LibjpegReader::Grey() const {
    return S->Created && !S->Failed && S->Info.jpeg_color_space == JCS_GRAYSCALE;
}

bool LibjpegReader::SingleScan() const {
    return S->SingleScan;
}

bool LibjpegReader::Start() {
    State* s = S.get();
    if (!s->Created || s->Failed || s->Started) {
        return false;
    }
    if (setjmp(s->Err.Jump)) {
        return s->Fail();
    }
    if (!s->Holds) {
        std::snprintf(s->Err.Message, sizeof s->Err.Message,
                      "the file is damaged: its data is too short for %u x %u pixels",
                      s->Info.image_width, s->Info.image_height);
        return s->Fail();
    }
    // The arithmetic decoder fills missing data in silence: only the end marker vouches for it.
    s->Err.EndIsLookAhead = !s->Info.arith_code;
    jpeg_start_decompress(&s->Info);
    if (s->Err.SawEnd && !s->Err.Damaged && !s->SingleScan && !AllScansCame(&s->Info)) {
        s->Err.Damaged = true;
        std::snprintf(s->Err.DamageText, sizeof s->Err.DamageText,
                      "the file ends before the last of its scans");
    }
    if (s->Info.output_width != s->Info.image_width ||
        s->Info.output_height != s->Info.image_height) {
        ERREXIT(&s->Info, JERR_NOT_COMPILED);
    }
    s->Started = true;
    return true;
}

int LibjpegReader::ReadRows(std::uint8_t* rows, std::int32_t stride, int count) {
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
        // Rows after missing or corrupt data would only be filler, at full cost.
        if (s->Err.Damaged && s->SingleScan) {
            break;
        }
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
    if (s->Info.output_scanline == s->Info.output_height && s->Err.TrackDamage) {
        // What comes after the last row (a missing end marker, say) no longer touches it.
        s->Err.TrackDamage = false;
        if (s->Err.SawEnd && !s->Err.Damaged) {
            KeepJpegWarning(s->Warnings,
                            "the file has no end marker, but every row of it is there");
        }
    }
    return static_cast<int>(s->Info.output_scanline - first);
}

unsigned LibjpegReader::NextRow() const {
    return S->Started ? S->Info.output_scanline : 0;
}

bool LibjpegReader::Damaged() const {
    return S->Err.Damaged;
}

const std::string& LibjpegReader::DamageReason() const {
    State* s = S.get();
    if (s->Err.Damaged && s->DamageReason.empty()) {
        try {
            s->DamageReason = s->Err.DamageText;
        } catch (...) {
        }
    }
    return s->DamageReason;
}

void LibjpegReader::Metadata(RawMetadata& meta) const {
    meta = S->Meta;
    S->Segments.FinishIcc(meta);
    for (int slot = 0; slot < 2; ++slot) {
        meta.HaveQuant[slot] = false;
        if (S->Created && !S->Failed && S->Info.quant_tbl_ptrs[slot] != nullptr) {
            meta.HaveQuant[slot] = true;
            for (int i = 0; i < DCTSIZE2; ++i) {
                meta.Quant[slot][i] = S->Info.quant_tbl_ptrs[slot]->quantval[i];
            }
        }
    }
}

std::size_t LibjpegReader::SegmentCount() const {
    return S->SegmentsMet;
}

bool LibjpegReader::Finish() {
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

bool LibjpegReader::Failed() const {
    return S->Failed;
}

const std::string& LibjpegReader::Message() const {
    return S->Message;
}

const std::vector<std::string>& LibjpegReader::Warnings() const {
    return S->Warnings;
}

}  // namespace velora
