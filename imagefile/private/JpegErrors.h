// The error and warning hooks that the JPEG row reader and writer give libjpeg: fatal errors jump
// back to the setjmp of the method that made the call, warnings are kept as texts.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace velora {

constexpr std::size_t MaxJpegWarningTexts = 8;

struct JpegErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    std::vector<std::string>* Warnings;  // none for the writer
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

inline void OnJpegMessage(j_common_ptr info, int level) {
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    if (level >= 0) {
        return;  // trace messages
    }
    err->Base.num_warnings++;
    if (err->Warnings != nullptr) {
        char text[JMSG_LENGTH_MAX];
        (*info->err->format_message)(info, text);
        KeepJpegWarning(*err->Warnings, text);
    }
}

}  // namespace velora
