// The kinds of picture the program opens, by the file-name extensions they go by. One table for
// every place that lists or looks for pictures by name (the window's Open dialog, a folder walk);
// opening itself knows a picture by its first bytes, whatever its name says.
#pragma once

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>
#include <string>

namespace velora {

struct PictureKind {
    const char* Name;        // as a file dialog names it
    const char* Extensions;  // lower case, without dots, separated by blanks
};

inline constexpr PictureKind PictureKinds[] = {
    {"JPEG", "jpg jpeg jpe jfif"},
    {"PNG", "png"},
    {"BMP", "bmp dib"},
    {"GIF", "gif"},
    {"TIFF", "tif tiff"},
    {"Icon", "ico cur"},
    {"WebP", "webp"},
    {"HEIF", "heic heif hif"},
    {"AVIF", "avif"},
    {"Camera Raw",
     "dng cr2 cr3 crw nef nrw arw sr2 srf raf orf rw2 rwl pef srw mrw dcr kdc k25 x3f 3fr fff iiq "
     "mos mef erf"},
};

// True when `extension` (without its dot, in any case) names one of the kinds above.
inline bool IsPictureExtension(std::string extension) {
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::any_of(std::begin(PictureKinds), std::end(PictureKinds),
                       [&](const PictureKind& kind) {
                           std::istringstream names(kind.Extensions);
                           std::string name;
                           while (names >> name) {
                               if (name == extension) {
                                   return true;
                               }
                           }
                           return false;
                       });
}

}  // namespace velora
