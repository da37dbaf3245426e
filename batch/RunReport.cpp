#include "RunReport.h"

#include <cmath>

namespace velora::batch {

namespace {

// The length of the UTF-8 sequence at `text[i]`, or 0 when it is none.
std::size_t SequenceLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xC2 && lead < 0xE0 ? 2
                         : lead >= 0xE0 && lead < 0xF0 ? 3
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong forms, surrogates or code points past U+10FFFF.
    const unsigned char second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = SequenceLength(text, i);
        if (length == 0) {
            json += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            json += "\\u00";
            json += hex[c >> 4];
            json += hex[c & 15];
        } else {
            json.append(text, i, length);
        }
        i += length;
    }
    return json + "\"";
}

std::string JsonLine(const FileReport& report) {
    std::string warnings;
    for (const std::string& warning : report.Warnings) {
        warnings += (warnings.empty() ? "" : ",") + JsonString(warning);
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f",
                  std::isfinite(report.Seconds) ? report.Seconds : 0.0);
    std::string line = "{\"input\":" + JsonString(report.Input) +
                       ",\"result\":" + JsonString(report.Result) +
                       ",\"status\":" + JsonString(report.Status);
    if (!report.Reason.empty()) {
        line += ",\"reason\":" + JsonString(report.Reason);
    }
    line += ",\"warnings\":[" + warnings + "],\"seconds\":" + seconds + ",\"bytes\":" +
            (report.Bytes >= 0 ? std::to_string(report.Bytes) : std::string("null")) + "}\n";
    return line;
}

void RunReport::Add(const FileReport& report) {
    if (Stream == nullptr) {
        return;
    }
    const std::string line = JsonLine(report);
    std::lock_guard<std::mutex> lock(Mutex);
    if (std::fwrite(line.data(), 1, line.size(), Stream) != line.size() ||
        std::fflush(Stream) != 0) {
        WriteFailed = true;
    }
}

}  // namespace velora::batch
