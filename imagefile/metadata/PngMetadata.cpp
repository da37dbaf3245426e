#include "PngMetadata.h"

#include <algorithm>
#include <cstring>

#include "CarriedMetadata.h"

namespace velora {

namespace {

constexpr char XmpKey[] = "XML:com.adobe.xmp";

void KeepPngText(const std::string& key, const std::string& text, bool utf8, RawMetadata& meta,
                 std::vector<std::uint8_t>& resources) {
    static const std::string raw = "Raw profile type ";
    const std::string type = key.compare(0, raw.size(), raw) == 0 ? key.substr(raw.size()) : "";
    std::vector<std::uint8_t> data;
    if (key == "Comment") {
        AddComment(utf8 ? text : Latin1ToUtf8(text), meta.Segments);
    } else if (type.empty() || !RawProfileData(text, data) || data.empty()) {
        return;
    } else if (type == "iptc" || type == "8bim") {
        // IPTC records alone, or Photoshop's resources with them among the others.
        const std::vector<std::uint8_t> more =
            data[0] == 0x1C ? IptcResource(data.data(), data.size()) : data;
        resources.insert(resources.end(), more.begin(), more.end());
    } else if ((type == "exif" || type == "APP1") && meta.Exif.empty()) {
        const std::size_t skip =
            data.size() > 6 && std::memcmp(data.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
        meta.Exif.assign(data.begin() + static_cast<std::ptrdiff_t>(skip), data.end());
    } else if (type == "xmp" && meta.Xmp.empty()) {
        meta.Xmp.assign(data.begin(), data.end());
    }
}

}  // namespace

void KeepPngTexts(png_const_textp texts, int count, RawMetadata& meta) {
    std::vector<std::uint8_t> resources;
    for (int i = 0; i < count; ++i) {
        if (texts[i].text == nullptr) {
            continue;
        }
        const bool utf8 = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE;
        const std::string text(texts[i].text, utf8 ? texts[i].itxt_length : texts[i].text_length);
        if (std::strcmp(texts[i].key, XmpKey) == 0) {
            if (meta.Xmp.empty()) {
                meta.Xmp = text;
            }
        } else {
            KeepPngText(texts[i].key, text, utf8, meta, resources);
        }
    }
    AddPhotoshopSegments(resources, meta.Segments);
}

std::vector<png_text> PngTextChunks(const EncodedMetadata& meta) {
    std::vector<png_text> texts;
    auto add = [&](const char* key, const std::string& text, int compression) {
        png_text chunk{};
        chunk.compression = compression;
        chunk.key = const_cast<png_charp>(key);
        chunk.text = const_cast<png_charp>(text.c_str());
        texts.push_back(chunk);
    };
    if (!meta.Xmp.empty()) {
        add(XmpKey, meta.Xmp, PNG_ITXT_COMPRESSION_NONE);
    }
    for (const PngText& text : meta.Texts) {
        add(text.Key.c_str(), text.Text,
            text.Compressed ? PNG_TEXT_COMPRESSION_zTXt
                            : (text.Utf8 ? PNG_ITXT_COMPRESSION_NONE : PNG_TEXT_COMPRESSION_NONE));
    }
    return texts;
}

void KeepPngChunks(const std::uint8_t* data, std::size_t size, RawMetadata& meta) {
    constexpr std::size_t maxChunks = 256;
    constexpr std::size_t maxBytes = 8u * 1024 * 1024;
    std::size_t bytes = 0;
    for (std::size_t at = 8; size - at >= 12 && meta.PngChunks.size() < maxChunks;) {
        const std::size_t length = (std::size_t{data[at]} << 24) | (data[at + 1] << 16) |
                                   (data[at + 2] << 8) | data[at + 3];
        if (length > size - at - 12) {
            break;
        }
        const std::string type(reinterpret_cast<const char*>(data) + at + 4, 4);
        const char* body = reinterpret_cast<const char*>(data) + at + 8;
        const std::string key(body, strnlen(body, length));
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
        const bool readAbove =
            key == XmpKey || key == "Comment" || key.compare(0, 17, "Raw profile type ") == 0;
        if (((text && !readAbove) || type == "pHYs" || type == "tIME") &&
            (bytes += length) <= maxBytes) {
            meta.PngChunks.push_back(
                {type, std::vector<std::uint8_t>(data + at + 8, data + at + 8 + length)});
        }
        at += 12 + length;
    }
}

const char* PngProfileKeyword(const std::string& name) {
    const bool usable = !name.empty() && name.size() <= 79 && name.front() != ' ' &&
                        name.back() != ' ' && std::all_of(name.begin(), name.end(), [](char c) {
                            const auto u = static_cast<unsigned char>(c);
                            return (u >= 32 && u <= 126) || u >= 161;
                        });
    return usable ? name.c_str() : "ICC profile";
}

}  // namespace velora
