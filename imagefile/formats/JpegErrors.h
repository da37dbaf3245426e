// The error and warning hooks that the JPEG row reader and writer give libjpeg: fatal errors jump
// back to the setjmp of the method that made the call, warnings are kept as texts.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <jerror.h>

namespace velora {

constexpr std::size_t MaxJpegWarningTexts = 8;

struct JpegErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    std::vector<std::string>* Warnings;  // none for the writer
    // The reader's: while TrackDamage, the first warning that means missing or corrupt data sets
    // Damaged and its text.
    bool TrackDamage = false;
    bool Damaged = false;
    // Once the scans are under way, the data's end is met by libjpeg reading ahead as often as by
    // data that is missing; only the decoders' own warnings (a code that needed bits past the
    // end) or scans that never came tell the two apart. Until then the end means damage.
    bool EndIsLookAhead = false;
    bool SawEnd = false;
    char EndText[JMSG_LENGTH_MAX] = {};
    char DamageText[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] inline void OnJpegErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    (*info->err->format_message)(info, err->Message);
    std::longjmp(err->Jump, 1);
}

// Runs in its own frame, never calls back into libjpeg, and lets nothing escape into it.
inline void KeepJpegWarning(std::vector<std::string>& warnings, const char* text) {
    try {
        if (warnings.size() >= MaxJpegWarningTexts) {
            return;
        }
        for (const std::string& seen : warnings) {
            if (seen == text) {
                return;
            }
        }
        warnings.emplace_back(text);
    } catch (...) {
    }
}

// Warnings that mean data was missing or could not be decoded, so the picture is not whole. The
// others (stray bytes between segments, an unknown JFIF version or Adobe transform, a bad ICC
// chunk) leave every pixel as the file meant it.
inline bool MeansDamage(int code) {
    switch (code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_NOT_SEQUENTIAL:
            return true;
        default:
            return false;
    }
}

// The same judgement on a warning that reached us only as text (libtiff's JPEG codec passes
// libjpeg's first warning of each strip on that way). The end of the data counts: a strip is a
// whole JPEG stream with its end marker, so libjpeg never reads ahead past it.
inline bool JpegTextMeansDamage(const char* text) {
    jpeg_error_mgr table;
    jpeg_std_error(&table);
    for (int code : {JWRN_JPEG_EOF, JWRN_HIT_MARKER, JWRN_HUFF_BAD_CODE, JWRN_ARITH_BAD_CODE,
                     JWRN_MUST_RESYNC, JWRN_BOGUS_PROGRESSION, JWRN_NOT_SEQUENTIAL}) {
        const char* format = table.jpeg_message_table[code];
        const std::size_t fixed = std::strcspn(format, "%");
        if (fixed > 0 && std::strncmp(text, format, fixed) == 0) {
            return true;
        }
    }
    return false;
}

inline void OnJpegMessage(j_common_ptr info, int level) {
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    if (level >= 0) {
        return;  // trace messages
    }
    err->Base.num_warnings++;
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    if (err->Base.msg_code == JWRN_JPEG_EOF && err->EndIsLookAhead) {
        err->SawEnd = true;  // said once the rows show whether anything was lost
        std::memcpy(err->EndText, text, sizeof text);
        return;
    }
    if (err->TrackDamage && !err->Damaged && MeansDamage(err->Base.msg_code)) {
        err->Damaged = true;
        // Data that stopped short of a code is the file's end when there was one.
        std::memcpy(err->DamageText, err->SawEnd ? err->EndText : text, sizeof text);
        if (err->SawEnd && err->Warnings != nullptr) {
            KeepJpegWarning(*err->Warnings, err->EndText);
        }
    }
    if (err->Warnings != nullptr) {
        KeepJpegWarning(*err->Warnings, text);
    }
}

}  // namespace velora
