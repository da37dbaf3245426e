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

inline void OnJpegMessage(j_common_ptr info, int level) {
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    if (level >= 0) {
        return;  // trace messages
    }
    err->Base.num_warnings++;
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    if (err->TrackDamage && !err->Damaged && MeansDamage(err->Base.msg_code)) {
        err->Damaged = true;
        std::memcpy(err->DamageText, text, sizeof text);
    }
    if (err->Warnings != nullptr) {
        KeepJpegWarning(*err->Warnings, text);
    }
}

}  // namespace velora
