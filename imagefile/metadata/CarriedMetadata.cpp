#include "CarriedMetadata.h"

#include <algorithm>
#include <cstring>

namespace velora {

namespace {

constexpr std::uint8_t App1 = 0xE1;
constexpr std::uint8_t App2 = 0xE2;
constexpr std::uint8_t App13 = 0xED;
constexpr std::uint8_t Com = 0xFE;
// The name that opens a Photoshop APP13 segment, its NUL included.
constexpr char PhotoshopId[] = "Photoshop 3.0";
constexpr std::size_t PhotoshopIdBytes = sizeof(PhotoshopId);
constexpr char ExtendedXmpId[] = "http://ns.adobe.com/xmp/extension/";
constexpr std::size_t MaxSegmentPayload = 65533;

bool StartsWith(const std::vector<std::uint8_t>& bytes, const char* id, std::size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), id, length) == 0;
}

std::uint32_t Big32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

// The length of the resource that starts at `at`, padding included, or 0 when it does not hold
// together inside `size`.
std::size_t ResourceLength(const std::uint8_t* data, std::size_t size, std::size_t at) {
    if (size - at < 12 || std::memcmp(data + at, "8BIM", 4) != 0) {
        return 0;
    }
    std::size_t name = data[at + 6] + 1u;
    name += name & 1;
    if (size - at < 6 + name + 4) {
        return 0;
    }
    std::size_t length = Big32(data + at + 6 + name);
    length += length & 1;
    const std::size_t total = 6 + name + 4 + length;
    return total <= size - at ? total : 0;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The packet in UTF-8 when it is written in UTF-16 or UTF-32 (known by its first character,
// '<' or the byte-order mark); as it is otherwise.
std::string ToUtf8(const std::string& xmp) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(xmp.data());
    const std::size_t n = xmp.size();
    unsigned width = 0;
    bool big = false;
    if (n >= 4 && ((p[0] == '<' || p[0] == 0xFF) && p[1] == (p[0] == '<' ? 0 : 0xFE) && p[2] == 0 &&
                   p[3] == 0)) {
        width = 4;
    } else if (n >= 4 && p[0] == 0 && p[1] == 0 &&
               ((p[2] == 0 && p[3] == '<') || (p[2] == 0xFE && p[3] == 0xFF))) {
        width = 4;
        big = true;
    } else if (n >= 2 && ((p[0] == '<' && p[1] == 0) || (p[0] == 0xFF && p[1] == 0xFE))) {
        width = 2;
    } else if (n >= 2 && ((p[0] == 0 && p[1] == '<') || (p[0] == 0xFE && p[1] == 0xFF))) {
        width = 2;
        big = true;
    }
    if (width == 0) {
        return xmp;
    }
    auto unit = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (unsigned i = 0; i < width; ++i) {
            v |= std::uint32_t{p[at + i]} << (8 * (big ? width - 1 - i : i));
        }
        return v;
    };
    std::string out;
    for (std::size_t at = 0; at + width <= n; at += width) {
        std::uint32_t c = unit(at);
        if (width == 2 && c >= 0xD800 && c < 0xDC00 && at + 2 * width <= n) {
            const std::uint32_t low = unit(at + width);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                at += width;
            }
        }
        if (c == 0xFEFF && at == 0) {
            continue;  // the mark says which form this was; UTF-8 needs none
        }
        AppendUtf8(out, c);
    }
    return out;
}

// The start tag that opens `element`, or npos.
std::size_t StartTag(const std::string& xml, const char* element, std::size_t& end) {
    const std::size_t at = xml.find(std::string("<") + element);
    end = at == std::string::npos ? at : xml.find('>', at);
    return end == std::string::npos ? end : at;
}

// The Extended XMP that the main packet announces, whole: its chunks placed by offset under the
// GUID the packet names. Empty when it is not all there.
std::string ExtendedXmp(const std::string& xmp, const SegmentList& segments) {
    const std::size_t note = xmp.find("HasExtendedXMP");
    if (note == std::string::npos) {
        return {};
    }
    std::size_t guidAt = xmp.find_first_of("\"'>", note);
    if (guidAt == std::string::npos || xmp.size() - guidAt < 33) {
        return {};
    }
    const std::string guid = xmp.substr(guidAt + 1, 32);
    constexpr std::size_t head = sizeof(ExtendedXmpId) + 32 + 8;
    std::string whole;
    std::size_t filled = 0;
    for (const ExtraMetadata::Segment& s : segments) {
        if (s.Marker != App1 || !StartsWith(s.Payload, ExtendedXmpId, sizeof(ExtendedXmpId)) ||
            s.Payload.size() < head ||
            std::memcmp(s.Payload.data() + sizeof(ExtendedXmpId), guid.data(), 32) != 0) {
            continue;
        }
        const std::uint8_t* fields = s.Payload.data() + sizeof(ExtendedXmpId) + 32;
        const std::size_t total = Big32(fields);
        const std::size_t offset = Big32(fields + 4);
        const std::size_t length = s.Payload.size() - head;
        if (whole.empty()) {
            whole.assign(total, '\0');
        }
        if (total != whole.size() || offset > total || length > total - offset) {
            return {};
        }
        std::memcpy(&whole[offset], s.Payload.data() + head, length);
        filled += length;
    }
    return filled == whole.size() ? whole : std::string();
}

// The descriptions of the extended packet put into the main one, with the namespaces the
// extended packet declares around them.
std::string MergeExtended(std::string xmp, const std::string& extended) {
    std::size_t mainEnd = 0;
    const std::size_t mainRdf = StartTag(xmp, "rdf:RDF", mainEnd);
    const std::size_t close = xmp.rfind("</rdf:RDF>");
    std::size_t extEnd = 0;
    const std::size_t extRdf = StartTag(extended, "rdf:RDF", extEnd);
    const std::size_t extClose = extended.rfind("</rdf:RDF>");
    if (mainRdf == std::string::npos || close == std::string::npos || close < mainEnd ||
        extRdf == std::string::npos || extClose == std::string::npos || extClose < extEnd) {
        return xmp;
    }
    std::string declarations;
    const std::string mainTag = xmp.substr(mainRdf, mainEnd - mainRdf);
    for (std::size_t at = extended.find("xmlns:"); at != std::string::npos && at < extEnd;
         at = extended.find("xmlns:", at + 6)) {
        const std::size_t quote = extended.find_first_of("\"'", at);
        const std::size_t endQuote =
            quote == std::string::npos ? quote : extended.find(extended[quote], quote + 1);
        if (endQuote == std::string::npos) {
            break;
        }
        const std::string declaration = extended.substr(at, endQuote + 1 - at);
        const std::string prefix = extended.substr(at, quote - at);
        if (mainTag.find(prefix) == std::string::npos &&
            declarations.find(prefix) == std::string::npos) {
            declarations += " " + declaration;
        }
    }
    xmp.insert(close, extended.substr(extEnd + 1, extClose - extEnd - 1));
    xmp.insert(mainEnd - (xmp[mainEnd - 1] == '/' ? 1 : 0), declarations);
    return xmp;
}

bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t more = c < 0x80         ? 0
                                 : (c >> 5) == 6  ? 1
                                 : (c >> 4) == 14 ? 2
                                 : (c >> 3) == 30 ? 3
                                                  : 9;
        if (more == 9 || text.size() - i <= more) {
            return more == 0;
        }
        for (std::size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) {
                return false;
            }
        }
        i += more + 1;
    }
    return true;
}

void Name(std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
    }
}

}  // namespace

std::vector<std::uint8_t> PhotoshopResources(const SegmentList& segments) {
    std::vector<std::uint8_t> resources;
    for (const ExtraMetadata::Segment& s : segments) {
        if (s.Marker == App13 && StartsWith(s.Payload, PhotoshopId, PhotoshopIdBytes)) {
            resources.insert(resources.end(), s.Payload.begin() + PhotoshopIdBytes,
                             s.Payload.end());
        }
    }
    return resources;
}

void AddPhotoshopSegments(const std::vector<std::uint8_t>& resources, SegmentList& segments) {
    constexpr std::size_t room = MaxSegmentPayload - PhotoshopIdBytes;
    std::size_t at = 0;
    while (at < resources.size()) {
        // Whole resources while they fit; a resource larger than a segment fills it.
        std::size_t end = at;
        for (std::size_t length;
             end < resources.size() &&
             (length = ResourceLength(resources.data(), resources.size(), end)) != 0 &&
             end - at + length <= room;) {
            end += length;
        }
        if (end == at) {
            end = std::min(resources.size(), at + room);
        }
        ExtraMetadata::Segment segment;
        segment.Marker = App13;
        segment.Payload.assign(PhotoshopId, PhotoshopId + PhotoshopIdBytes);
        segment.Payload.insert(segment.Payload.end(),
                               resources.begin() + static_cast<std::ptrdiff_t>(at),
                               resources.begin() + static_cast<std::ptrdiff_t>(end));
        segments.push_back(std::move(segment));
        at = end;
    }
}

std::vector<std::uint8_t> IptcResource(const std::uint8_t* records, std::size_t size) {
    std::vector<std::uint8_t> resource = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};
    for (int shift = 24; shift >= 0; shift -= 8) {
        resource.push_back(static_cast<std::uint8_t>(size >> shift));
    }
    resource.insert(resource.end(), records, records + size);
    if (size & 1) {
        resource.push_back(0);
    }
    return resource;
}

bool HoldsIptcResource(const std::vector<std::uint8_t>& resources) {
    for (std::size_t at = 0, length;
         (length = ResourceLength(resources.data(), resources.size(), at)) != 0; at += length) {
        if (resources[at + 4] == 0x04 && resources[at + 5] == 0x04) {
            return true;
        }
    }
    return false;
}

void AddComment(const std::string& text, SegmentList& segments) {
    ExtraMetadata::Segment segment;
    segment.Marker = Com;
    segment.Payload.assign(text.begin(), text.end());
    segments.push_back(std::move(segment));
}

std::string Latin1ToUtf8(const std::string& text) {
    std::string out;
    for (char c : text) {
        AppendUtf8(out, static_cast<unsigned char>(c));
    }
    return out;
}

std::string RawProfileText(const char* name, const std::vector<std::uint8_t>& data) {
    static const char digits[] = "0123456789abcdef";
    char head[64];
    std::snprintf(head, sizeof(head), "\n%s\n%8zu\n", name, data.size());
    std::string text = head;
    for (std::size_t i = 0; i < data.size(); ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
        if (i % 36 == 35 || i + 1 == data.size()) {
            text += '\n';
        }
    }
    return text;
}

bool RawProfileData(const std::string& text, std::vector<std::uint8_t>& data) {
    data.clear();
    if (text.empty() || text[0] != '\n') {
        return false;
    }
    const std::size_t name = text.find('\n', 1);
    const std::size_t count = name == std::string::npos ? name : text.find('\n', name + 1);
    if (count == std::string::npos) {
        return false;
    }
    const unsigned long long declared = std::strtoull(text.c_str() + name + 1, nullptr, 10);
    int high = -1;
    for (std::size_t i = count + 1; i < text.size(); ++i) {
        const char c = text[i];
        const int v = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (v < 0) {
            if (c == '\n' || c == ' ' || c == '\r' || c == '\t') {
                continue;
            }
            return false;
        }
        if (high < 0) {
            high = v;
        } else {
            data.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return declared == data.size();
}

std::string XmpInUtf8(const std::string& xmp, const SegmentList& segments) {
    std::string packet = ToUtf8(xmp);
    const std::string extended = ToUtf8(ExtendedXmp(packet, segments));
    return extended.empty() ? packet : MergeExtended(std::move(packet), extended);
}

bool PointsOutside(int marker, const std::uint8_t* data, std::size_t length) {
    return marker == App2 && length >= 4 && std::memcmp(data, "MPF", 4) == 0;
}

std::string SegmentKind(const ExtraMetadata::Segment& s) {
    static const struct {
        std::uint8_t Marker;
        const char* Id;
        const char* Kind;
    } known[] = {
        {App1, ExtendedXmpId, "Extended XMP"},
        {App1, "FLIR", "FLIR thermal data"},
        {App2, "FPXR", "FlashPix"},
        {App13, PhotoshopId, "IPTC"},
        {Com, "", "comment"},
    };
    for (const auto& k : known) {
        if (s.Marker == k.Marker && StartsWith(s.Payload, k.Id, std::strlen(k.Id))) {
            return k.Kind;
        }
    }
    std::string id;
    for (std::uint8_t c : s.Payload) {
        if (c < 0x20 || c > 0x7E || id.size() == 16) {
            break;
        }
        id += static_cast<char>(c);
    }
    return "APP" + std::to_string(s.Marker - 0xE0) + " segment" +
           (id.size() >= 3 ? " \"" + id + "\"" : "");
}

void SettleForPng(EncodedMetadata& meta) {
    meta.Xmp = XmpInUtf8(meta.Xmp, meta.Segments);
    const std::vector<std::uint8_t> resources = PhotoshopResources(meta.Segments);
    if (!resources.empty()) {
        meta.Texts.push_back(
            {"Raw profile type iptc", RawProfileText("IPTC profile", resources), true, false});
    }
    for (const ExtraMetadata::Segment& s : meta.Segments) {
        const std::string kind = SegmentKind(s);
        if (s.Marker == Com) {
            const std::string text(s.Payload.begin(), s.Payload.end());
            const bool plain = std::none_of(text.begin(), text.end(),
                                            [](char c) { return (c & 0x80) != 0 || c == 0; });
            // Plain text and Latin-1 go as tEXt, UTF-8 as international text.
            meta.Texts.push_back({"Comment", text, false, !plain && IsUtf8(text)});
        } else if (kind != "IPTC" && kind != "Extended XMP") {
            Name(meta.LeftOut, kind);
        }
    }
    for (const std::string& kind : TrailerKinds(meta.Trailer)) {
        Name(meta.LeftOut, kind);
    }
    meta.Segments.clear();
    meta.Trailer.clear();
}

void SettleForJpeg(EncodedMetadata& meta) {
    for (const ExtraMetadata::PngChunk& chunk : meta.PngChunks) {
        if (chunk.Type == "tEXt" || chunk.Type == "zTXt" || chunk.Type == "iTXt") {
            Name(meta.LeftOut, "PNG texts");
        }
    }
    meta.PngChunks.clear();
    SegmentList kept;
    for (ExtraMetadata::Segment& s : meta.Segments) {
        if (s.Payload.size() > MaxSegmentPayload) {
            Name(meta.LeftOut, SegmentKind(s));
        } else {
            kept.push_back(std::move(s));
        }
    }
    meta.Segments = std::move(kept);
}

}  // namespace velora
