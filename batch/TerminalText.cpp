#include "TerminalText.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include <locale.h>

namespace velora::batch {

namespace {

// The columns a terminal gives the character `code`, as the C library's wcwidth knows them in a
// UTF-8 locale of its own (whatever locale the program runs in): wide East Asian characters
// two, combining marks none. Characters it has no width for (controls, unassigned) count one.
int CharacterColumns(std::uint32_t code) {
    if (code < 0x80) {
        return 1;
    }
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (utf8 == locale_t{}) {
        return 1;
    }
    const locale_t previous = uselocale(utf8);
    const int columns = wcwidth(static_cast<wchar_t>(code));
    uselocale(previous);
    return columns < 0 ? 1 : columns;
}

// Length of the UTF-8 sequence at `at` and its code point; 0 when the bytes there are no UTF-8.
std::size_t Utf8Sequence(const std::string& text, std::size_t at, std::uint32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(at + k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    return length;
}

void AppendHex(std::string& out, unsigned char value) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[value >> 4];
    out += digits[value & 0x0F];
}

}  // namespace

std::string EscapeControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        AppendHex(out, c);
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t length = Utf8Sequence(text, i, code);
        if (length == 0) {
            AppendHex(out, c);
            ++i;
            continue;
        }
        // The C1 controls (U+0080 to U+009F) include a one-character escape sequence start.
        if (code <= 0x9F) {
            for (std::size_t k = 0; k < length; ++k) {
                AppendHex(out, static_cast<unsigned char>(text[i + k]));
            }
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

namespace {

// Walks the characters of UTF-8 `text` while `fits(columns)` agrees; gives the bytes walked.
template <typename Fits>
std::size_t WalkCharacters(const std::string& text, Fits fits) {
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80    ? 1
                             : lead >= 0xF0 ? 4
                             : lead >= 0xE0 ? 3
                             : lead >= 0xC0 ? 2
                                            : 1;
        length = std::min(length, text.size() - i);
        std::uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if (!fits(CharacterColumns(code))) {
            break;
        }
        i += length;
    }
    return i;
}

}  // namespace

std::string FitToColumns(const std::string& text, int columns) {
    int used = 0;
    std::size_t bytes = WalkCharacters(text, [&](int cells) {
        if (used + cells > columns) {
            return false;
        }
        used += cells;
        return true;
    });
    return text.substr(0, bytes);
}

int DisplayColumns(const std::string& text) {
    int used = 0;
    WalkCharacters(text, [&](int cells) {
        used += cells;
        return true;
    });
    return used;
}

std::string FormatTimeLeft(double seconds) {
    long whole = seconds <= 0 ? 0 : static_cast<long>(std::ceil(seconds));
    const long hours = whole / 3600;
    const long minutes = whole / 60 % 60;
    const long rest = whole % 60;
    char text[32];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", hours, minutes, rest);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", minutes, rest);
    }
    return text;
}

}  // namespace velora::batch
