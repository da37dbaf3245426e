#include "ColourProfiles.h"

#include <cstring>
#include <memory>

#include "Codecs.h"
#include "FileSystem.h"
#include "LcmsLibrary.h"

namespace velora {

namespace {

constexpr std::uint64_t MaxProfileBytes = 64ull * 1024 * 1024;

struct ProfileCloser {
    void operator()(void* profile) const { Lcms().cmsCloseProfile(profile); }
};
using ProfileHandle = std::unique_ptr<void, ProfileCloser>;

ProfileHandle OpenProfile(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty() || !Lcms().Loaded) {
        return nullptr;
    }
    return ProfileHandle(
        Lcms().cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}

// Saved as version 2, which every colour-managed viewer reads. The creation date is cleared so
// that the same picture saved twice gives the same bytes.
std::vector<std::uint8_t> SaveProfile(cmsHPROFILE profile) {
    Lcms().cmsSetProfileVersion(profile, 2.1);
    cmsUInt32Number size = 0;
    if (!Lcms().cmsSaveProfileToMem(profile, nullptr, &size) || size < 128) {
        return {};
    }
    std::vector<std::uint8_t> bytes(size);
    if (!Lcms().cmsSaveProfileToMem(profile, bytes.data(), &size)) {
        return {};
    }
    bytes.resize(size);
    std::memset(bytes.data() + 24, 0, 12);
    return bytes;
}

void Describe(cmsHPROFILE profile, const std::string& text) {
    cmsMLU* mlu = Lcms().cmsMLUalloc(nullptr, 1);
    if (mlu == nullptr) {
        return;
    }
    Lcms().cmsMLUsetASCII(mlu, "en", "US", text.c_str());
    Lcms().cmsWriteTag(profile, cmsSigProfileDescriptionTag, mlu);
    Lcms().cmsMLUfree(mlu);
}

const std::vector<std::uint8_t>& StandardCmykProfile() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> read;
        std::string error;
        if (ReadWholeFile(VELORA_CMYK_PROFILE, MaxProfileBytes, read, error) !=
            ReadFileResult::Ok) {
            read.clear();
        }
        return read;
    }();
    return bytes;
}

std::string ProfileSpace(const std::vector<std::uint8_t>& icc) {
    if (icc.size() < 20) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(icc.data()) + 16, 4);
}

inline std::uint8_t MulDiv255(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

}  // namespace

CmykToRgb::~CmykToRgb() {
    if (Transform != nullptr) {
        Lcms().cmsDeleteTransform(Transform);
    }
}

void CmykToRgb::Start(const std::vector<std::uint8_t>& embedded, CmykSamples samples) {
    Samples = samples;
    Note.clear();
    if (Transform != nullptr) {
        Lcms().cmsDeleteTransform(Transform);
        Transform = nullptr;
    }
    if (!Lcms().Loaded) {
        Note = std::string("the colour library ") + LcmsLibraryName +
               " cannot be loaded, so the colours are only approximate";
        return;
    }
    const cmsUInt32Number input = samples == CmykSamples::Ink16          ? TYPE_CMYK_16
                                  : samples == CmykSamples::InvertedInk8 ? TYPE_CMYK_8_REV
                                                                         : TYPE_CMYK_8;
    ProfileHandle srgb(Lcms().cmsCreate_sRGBProfile());
    auto through = [&](const std::vector<std::uint8_t>& bytes) {
        ProfileHandle profile = OpenProfile(bytes);
        if (!profile || !srgb || Lcms().cmsGetColorSpace(profile.get()) != cmsSigCmykData) {
            return false;
        }
        Transform = Lcms().cmsCreateTransform(profile.get(), input, srgb.get(), TYPE_BGR_8,
                                              INTENT_RELATIVE_COLORIMETRIC,
                                              cmsFLAGS_BLACKPOINTCOMPENSATION);
        return Transform != nullptr;
    };
    if (through(embedded)) {
        return;
    }
    if (!embedded.empty()) {
        Note = "the file's CMYK colour profile cannot be used; a standard one takes its place";
    }
    if (through(StandardCmykProfile())) {
        return;
    }
    Note = "no CMYK colour profile is available, so the colours are only approximate";
}

void CmykToRgb::Row(const void* cmyk, std::uint8_t* bgr, unsigned width) const {
    if (Transform != nullptr) {
        Lcms().cmsDoTransform(Transform, cmyk, bgr, width);
        return;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(cmyk);
    const auto* words = static_cast<const std::uint16_t*>(cmyk);
    for (unsigned x = 0; x < width; ++x, bgr += 3) {
        unsigned ink[4];
        for (int i = 0; i < 4; ++i) {
            const std::size_t at = 4 * static_cast<std::size_t>(x) + i;
            ink[i] = Samples == CmykSamples::Ink16 ? (words[at] * 255u + 32767) / 65535 : bytes[at];
            if (Samples == CmykSamples::InvertedInk8) {
                ink[i] = 255 - ink[i];
            }
        }
        // The paper each ink leaves uncovered, darkened by the black ink.
        const unsigned k = 255 - ink[3];
        bgr[0] = MulDiv255(255 - ink[2], k);
        bgr[1] = MulDiv255(255 - ink[1], k);
        bgr[2] = MulDiv255(255 - ink[0], k);
    }
}

const std::vector<std::uint8_t>& SrgbProfile() {
    static const std::vector<std::uint8_t> bytes = [] {
        if (!Lcms().Loaded) {
            return std::vector<std::uint8_t>{};
        }
        ProfileHandle srgb(Lcms().cmsCreate_sRGBProfile());
        return srgb ? SaveProfile(srgb.get()) : std::vector<std::uint8_t>{};
    }();
    return bytes;
}

std::vector<std::uint8_t> RgbProfileLikeGrey(const std::vector<std::uint8_t>& grey) {
    ProfileHandle source = OpenProfile(grey);
    if (!source) {
        return {};
    }
    ProfileHandle xyz(Lcms().cmsCreateXYZProfile());
    if (!source || !xyz || Lcms().cmsGetColorSpace(source.get()) != cmsSigGrayData) {
        return {};
    }
    cmsHTRANSFORM toXyz =
        Lcms().cmsCreateTransform(source.get(), TYPE_GRAY_16, xyz.get(), TYPE_XYZ_DBL,
                                  INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    if (toXyz == nullptr) {
        return {};
    }
    // The grey profile's lightness for each grey value, sampled finely enough for 8-bit pixels.
    constexpr int Points = 1024;
    std::vector<cmsUInt16Number> in(Points);
    std::vector<cmsCIEXYZ> out(Points);
    for (int i = 0; i < Points; ++i) {
        in[i] = static_cast<cmsUInt16Number>((i * 65535 + (Points - 1) / 2) / (Points - 1));
    }
    Lcms().cmsDoTransform(toXyz, in.data(), out.data(), Points);
    Lcms().cmsDeleteTransform(toXyz);
    std::vector<cmsUInt16Number> table(Points);
    for (int i = 0; i < Points; ++i) {
        const double y = out[i].Y < 0 ? 0 : (out[i].Y > 1 ? 1 : out[i].Y);
        table[i] = static_cast<cmsUInt16Number>(y * 65535 + 0.5);
    }
    cmsToneCurve* curve = Lcms().cmsBuildTabulatedToneCurve16(nullptr, Points, table.data());
    if (curve == nullptr) {
        return {};
    }
    // sRGB's primaries and white: neutral colours (all a grey picture has) come out with the
    // grey profile's tone curve, and colours a conversion adds are read as a viewer expects.
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {
        {0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    ProfileHandle rgb(Lcms().cmsCreateRGBProfile(&white, &primaries, curves));
    Lcms().cmsFreeToneCurve(curve);
    if (!rgb) {
        return {};
    }
    char name[256] = {};
    Lcms().cmsGetProfileInfoASCII(source.get(), cmsInfoDescription, "en", "US", name, sizeof name);
    Describe(rgb.get(), std::string(name[0] != '\0' ? name : "Grey") + " as RGB");
    return SaveProfile(rgb.get());
}

std::vector<std::uint8_t> RgbProfileFromPrimaries(const double xy[8], int transfer) {
    if (!Lcms().Loaded) {
        return {};
    }
    // Parametric curves of the kind Y = (aX + b)^g above d, cX below.
    cmsFloat64Number params[5] = {1, 1, 0, 0, 0};
    int type = 1;
    switch (transfer) {
        case 1:  // BT.709, and the same curve under the names BT.601 and BT.2020
        case 6:
        case 14:
        case 15:
            type = 4;
            params[0] = 1 / 0.45;
            params[1] = 1 / 1.099;
            params[2] = 0.099 / 1.099;
            params[3] = 1 / 4.5;
            params[4] = 0.081;
            break;
        case 13:  // sRGB
            type = 4;
            params[0] = 2.4;
            params[1] = 1 / 1.055;
            params[2] = 0.055 / 1.055;
            params[3] = 1 / 12.92;
            params[4] = 0.04045;
            break;
        case 4:
            params[0] = 2.2;
            break;
        case 5:
            params[0] = 2.8;
            break;
        case 8:
            params[0] = 1.0;
            break;
        default:
            return {};
    }
    for (int i = 0; i < 8; ++i) {
        if (!(xy[i] > 0 && xy[i] < 1)) {
            return {};
        }
    }
    cmsToneCurve* curve = Lcms().cmsBuildParametricToneCurve(nullptr, type, params);
    if (curve == nullptr) {
        return {};
    }
    const cmsCIExyY white = {xy[6], xy[7], 1.0};
    const cmsCIExyYTRIPLE primaries = {
        {xy[0], xy[1], 1.0}, {xy[2], xy[3], 1.0}, {xy[4], xy[5], 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    ProfileHandle rgb(Lcms().cmsCreateRGBProfile(&white, &primaries, curves));
    Lcms().cmsFreeToneCurve(curve);
    if (!rgb) {
        return {};
    }
    Describe(rgb.get(), "RGB from the picture's primaries and transfer curve");
    return SaveProfile(rgb.get());
}

void SettleColourProfile(RawMetadata& meta, SourceColour source,
                         std::vector<std::string>& warnings) {
    if (meta.Icc.empty()) {
        return;
    }
    const std::string space = ProfileSpace(meta.Icc);
    // An RGB profile stays as it came, even one this program cannot read itself.
    if (space == "RGB ") {
        return;
    }
    if (source == SourceColour::Grey && space == "GRAY") {
        std::vector<std::uint8_t> rgb = RgbProfileLikeGrey(meta.Icc);
        if (!rgb.empty()) {
            meta.Icc = std::move(rgb);
            return;
        }
    }
    meta.Icc.clear();
    warnings.emplace_back(
        "the file's colour profile does not describe the picture's colours and is left out");
}

}  // namespace velora
