#include "TestPhoto.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ImageFile.h"

namespace velora::bench {

bool WriteTestPhoto(const std::string& path, int width, int height) {
    BitmapRef bitmap = WorkingBitmap::CreateBlank(width, height);
    if (!bitmap->HasImage()) {
        return false;
    }
    BitmapData data;
    Rect all{0, 0, width, height};
    if (bitmap->LockBits(all, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB, &data) !=
        Status::Ok) {
        return false;
    }
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride;
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;  // a cheap generator is noise enough
            int grain = static_cast<int>((noise >> 24) % 25) - 12;
            // Sky-to-ground gradient, soft blobs, and hard-edged objects.
            double fx = static_cast<double>(x) / width;
            double fy = static_cast<double>(y) / height;
            double blob = 40.0 * std::sin(fx * 17.0) * std::cos(fy * 11.0);
            bool object = ((x / 370) + (y / 290)) % 3 == 0 && (x % 370) > 40 && (y % 290) > 30;
            int r = static_cast<int>(90 + 120 * fy + blob) + grain + (object ? 70 : 0);
            int g = static_cast<int>(120 + 60 * fx - blob / 2) + grain + (object ? -30 : 0);
            int b = static_cast<int>(200 - 130 * fy + blob / 3) + grain + (object ? -60 : 0);
            row[3 * x] = static_cast<std::uint8_t>(std::clamp(b, 0, 255));
            row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(g, 0, 255));
            row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
        }
    }
    bitmap->UnlockBits(&data);
    return SaveJpeg(*bitmap, path, 92).Ok;
}

}  // namespace velora::bench
