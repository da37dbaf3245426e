// GIF over giflib: the first frame, placed on the logical screen; transparent pixels and the
// screen around the frame are laid over white, as for PNG. XMP and ICC application extensions
// are kept wherever they sit in the file.
#include <algorithm>
#include <cstring>
#include <memory>

#include "CarriedMetadata.h"
#include "Codecs.h"
#include "ImageLibraries.h"

namespace velora {

namespace {

// Frames after the first are only skimmed for metadata; giflib keeps a record of each, so a
// file of endless tiny frames is not followed to its end.
constexpr int MaxSkimmedFrames = 1000;
// A screen larger than its first frame is white around it; this much white is taken on trust.
constexpr std::uint64_t MaxFillerPixels = 16ull * 1024 * 1024;

struct Source {
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Position;
};

int ReadGif(GifFileType* gif, GifByteType* buffer, int length) {
    auto* source = static_cast<Source*>(gif->UserData);
    if (length <= 0 || source->Position >= source->Size) {
        return 0;
    }
    const std::size_t count =
        std::min(static_cast<std::size_t>(length), source->Size - source->Position);
    std::memcpy(buffer, source->Data + source->Position, count);
    source->Position += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int ignored = 0;
        GifLib().DGifCloseFile(gif, &ignored);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

std::string ErrorText(int code) {
    switch (code) {
        case D_GIF_ERR_READ_FAILED:
            return "the GIF file ends before its picture does";
        case D_GIF_ERR_NOT_GIF_FILE:
        case D_GIF_ERR_NO_SCRN_DSCR:
            return "the GIF file's header is damaged";
        case D_GIF_ERR_NOT_ENOUGH_MEM:
            return "not enough memory";
        case D_GIF_ERR_DATA_TOO_BIG:
        case D_GIF_ERR_IMAGE_DEFECT:
        case D_GIF_ERR_WRONG_RECORD:
            return "the GIF data is damaged";
        default: {
            const char* text = GifLib().GifErrorString(code);
            return text != nullptr ? text : "the GIF file cannot be read";
        }
    }
}

// The XMP packet of a GIF is stored raw: its own bytes serve as the sub-block lengths, and a
// "magic trailer" ends the chain. Joined again with their length bytes, the sub-blocks give the
// packet back; whatever follows its closing processing instruction is the trailer.
std::string XmpFromRaw(const std::string& raw) {
    const std::size_t start = raw.find("<?xpacket begin");
    const std::size_t endMark = raw.find("<?xpacket end", start == std::string::npos ? 0 : start);
    if (start == std::string::npos || endMark == std::string::npos ||
        raw.find("<x:xmpmeta", start) > endMark) {
        return "";
    }
    const std::size_t close = raw.find("?>", endMark);
    return close == std::string::npos ? "" : raw.substr(start, close + 2 - start);
}

class GifReader {
  public:
    GifReader(GifFileType* gif, DecodeOutcome& out) : Gif(gif), Out(out) {}

    bool Read() {
        int transparent = -1;
        bool framed = false;
        for (int records = 0; records < MaxSkimmedFrames * 4; ++records) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (GifLib().DGifGetRecordType(Gif, &type) == GIF_ERROR) {
                break;
            }
            if (type == TERMINATE_RECORD_TYPE) {
                break;
            }
            if (type == EXTENSION_RECORD_TYPE) {
                if (!Extension(framed ? nullptr : &transparent)) {
                    break;
                }
            } else if (type == IMAGE_DESC_RECORD_TYPE) {
                if (GifLib().DGifGetImageDesc(Gif) == GIF_ERROR) {
                    break;
                }
                if (!framed) {
                    framed = true;
                    if (!Frame(transparent)) {
                        return false;
                    }
                } else if (!SkipFrame() || Gif->ImageCount > MaxSkimmedFrames) {
                    break;
                }
            }
            if (framed && !Out.Meta.Xmp.empty() && !Out.Meta.Icc.empty()) {
                break;
            }
        }
        if (!framed) {
            return Fail(Gif->Error != 0 ? ErrorText(Gif->Error) : "the GIF file holds no picture");
        }
        return true;
    }

  private:
    bool Fail(const std::string& message) {
        Out.Bitmap.reset();
        Out.Code = Status::GenericError;
        Out.Message = message;
        return false;
    }

    bool Extension(int* transparent) {
        int code = 0;
        GifByteType* block = nullptr;
        if (GifLib().DGifGetExtension(Gif, &code, &block) == GIF_ERROR) {
            return false;
        }
        enum { Other, Xmp, Icc, Comment } kind = Other;
        std::string raw;
        if (code == COMMENT_EXT_FUNC_CODE && block != nullptr) {
            kind = Comment;
            raw.append(reinterpret_cast<const char*>(block) + 1, block[0]);
        } else if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && transparent != nullptr) {
            GraphicsControlBlock control;
            if (GifLib().DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
                *transparent = control.TransparentColor;
            }
        } else if (code == APPLICATION_EXT_FUNC_CODE && block != nullptr && block[0] == 11) {
            if (std::memcmp(block + 1, "XMP DataXMP", 11) == 0 && Out.Meta.Xmp.empty()) {
                kind = Xmp;
            } else if (std::memcmp(block + 1, "ICCRGBG1012", 11) == 0 && Out.Meta.Icc.empty()) {
                kind = Icc;
            }
        }
        while (block != nullptr) {
            if (GifLib().DGifGetExtensionNext(Gif, &block) == GIF_ERROR) {
                return false;
            }
            if (block != nullptr && kind == Xmp) {
                raw.append(reinterpret_cast<const char*>(block), block[0] + 1u);
            } else if (block != nullptr && (kind == Icc || kind == Comment)) {
                raw.append(reinterpret_cast<const char*>(block) + 1, block[0]);
            }
        }
        if (kind == Xmp) {
            Out.Meta.Xmp = XmpFromRaw(raw);
        } else if (kind == Icc) {
            Out.Meta.Icc.assign(raw.begin(), raw.end());
        } else if (kind == Comment) {
            AddComment(raw, Out.Meta.Segments);
        }
        return true;
    }

    bool SkipFrame() {
        int codeSize = 0;
        GifByteType* block = nullptr;
        if (GifLib().DGifGetCode(Gif, &codeSize, &block) == GIF_ERROR) {
            return false;
        }
        while (block != nullptr) {
            if (GifLib().DGifGetCodeNext(Gif, &block) == GIF_ERROR) {
                return false;
            }
        }
        return true;
    }

    // Judged before the screen's memory is taken: LZW codes have at least three bits and stand
    // for at most 4096 pixels, and a screen far larger than its first frame is white filler.
    bool HoldsFrame(std::uint64_t width, std::uint64_t height, std::uint64_t framePixels) {
        if (!DeclaredSizeAllowed(Out, width, height)) {
            return false;
        }
        const auto* source = static_cast<const Source*>(Gif->UserData);
        std::uint64_t bytes = 0;
        for (std::size_t at = source->Position; at < source->Size && source->Data[at] != 0;
             at += 1u + source->Data[at]) {
            bytes += std::min<std::uint64_t>(source->Data[at], source->Size - at - 1);
        }
        const std::string size = std::to_string(width) + " x " + std::to_string(height);
        if (framePixels > (bytes * 8 / 3 + 1) * 4096) {
            return Fail("the file is damaged: its picture data is too short for " + size +
                        " pixels");
        }
        if (width * height > MaxFillerPixels && width * height / 16 > framePixels) {
            return Fail("the GIF's screen of " + size + " pixels is far larger than its picture");
        }
        return true;
    }

    bool Frame(int transparent) {
        const GifImageDesc& frame = Gif->Image;
        const ColorMapObject* map = frame.ColorMap != nullptr ? frame.ColorMap : Gif->SColorMap;
        if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) {
            return Fail("the GIF's first frame has no pixels");
        }
        if (map == nullptr || map->Colors == nullptr) {
            return Fail("the GIF has no colour table");
        }
        // A frame that reaches beyond the logical screen widens it, as browsers show it; one that
        // lies wholly outside it has a bogus place, and would make a picture of nothing.
        if ((frame.Left > 0 && frame.Left >= Gif->SWidth) ||
            (frame.Top > 0 && frame.Top >= Gif->SHeight)) {
            return Fail("the GIF's first frame lies outside its screen, at (" +
                        std::to_string(frame.Left) + ", " + std::to_string(frame.Top) + ")");
        }
        const std::uint64_t width = std::max<std::uint64_t>(
            Gif->SWidth, static_cast<std::uint64_t>(frame.Left) + frame.Width);
        const std::uint64_t height = std::max<std::uint64_t>(
            Gif->SHeight, static_cast<std::uint64_t>(frame.Top) + frame.Height);
        if (!HoldsFrame(width, height, static_cast<std::uint64_t>(frame.Width) * frame.Height)) {
            return false;
        }
        std::int32_t stride = 0;
        std::uint8_t* rows = AllocateDecodeTarget(Out, width, height, &stride);
        if (rows == nullptr) {
            return false;
        }
        std::memset(rows, 0xFF, static_cast<std::size_t>(stride) * height);
        std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
        static const int Starts[] = {0, 4, 2, 1};
        static const int Steps[] = {8, 8, 4, 2};
        const int passes = frame.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int step = frame.Interlace ? Steps[pass] : 1;
            for (int y = frame.Interlace ? Starts[pass] : 0; y < frame.Height; y += step) {
                if (GifLib().DGifGetLine(Gif, line.data(), frame.Width) == GIF_ERROR) {
                    if (pass == 0 && y == 0) {
                        return Fail(ErrorText(Gif->Error));
                    }
                    Out.Damaged = true;
                    Out.DamageReason =
                        "the GIF's picture data ends early: " + ErrorText(Gif->Error);
                    return true;
                }
                std::uint8_t* bgr = rows + static_cast<std::size_t>(frame.Top + y) * stride +
                                    3 * static_cast<std::size_t>(frame.Left);
                for (int x = 0; x < frame.Width; ++x, bgr += 3) {
                    const int index = line[static_cast<std::size_t>(x)];
                    if (index == transparent) {
                        continue;
                    }
                    // A colour the table lacks: the pixel is lost, shown black as the BMP
                    // decoder shows its own.
                    if (index >= map->ColorCount) {
                        bgr[0] = bgr[1] = bgr[2] = 0;
                        if (Out.DamageReason.empty()) {
                            Out.Damaged = true;
                            Out.DamageReason = "pixels name colours the colour table does not have";
                        }
                        continue;
                    }
                    const GifColorType& colour = map->Colors[index];
                    bgr[0] = colour.Blue;
                    bgr[1] = colour.Green;
                    bgr[2] = colour.Red;
                }
            }
        }
        return true;
    }

    GifFileType* Gif;
    DecodeOutcome& Out;
};

}  // namespace

void DecodeGif(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    if (!LibraryReady(GifLib().Loaded, VELORA_GIF_LIBRARY, "GIF pictures", out)) {
        return;
    }
    Source source{data, size, 0};
    int error = 0;
    GifHandle gif(GifLib().DGifOpen(&source, ReadGif, &error));
    if (!gif) {
        out.Code = error == D_GIF_ERR_NOT_ENOUGH_MEM ? Status::OutOfMemory : Status::GenericError;
        out.Message = ErrorText(error);
        return;
    }
    GifReader reader(gif.get(), out);
    if (!reader.Read()) {
        out.Meta = RawMetadata{};
    }
}

}  // namespace velora
