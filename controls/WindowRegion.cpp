#include "WindowRegion.h"

#include <QColor>

#include <algorithm>
#include <new>
#include <vector>

namespace velora {
namespace {

// Rectangle buffer of RegionFromBitmap: it starts at 100 rectangles, grows 100 at a time, and is
// turned into a region whenever it holds 2000, so it never grows past that.
constexpr int FirstCapacity = 100;
constexpr int GrowthStep = 100;
constexpr int BatchSize = 2000;

// Rectangle list of RegionFromMask: small masks, grown 40 at a time.
constexpr int MaskFirstCapacity = 40;
constexpr int MaskGrowthStep = 40;

int Red(quint32 colorref) {
    return static_cast<int>(colorref & 0xFF);
}
int Green(quint32 colorref) {
    return static_cast<int>((colorref >> 8) & 0xFF);
}
int Blue(quint32 colorref) {
    return static_cast<int>((colorref >> 16) & 0xFF);
}

// The key test of RegionFromBitmap: one inclusive range per colour component.
class KeyRange {
  public:
    KeyRange(quint32 key, quint32 tolerance)
        : RedLow(Red(key)),
          RedHigh(std::min(255, Red(key) + Red(tolerance))),
          GreenLow(Green(key)),
          GreenHigh(std::min(255, Green(key) + Green(tolerance))),
          BlueLow(Blue(key)),
          BlueHigh(std::min(255, Blue(key) + Blue(tolerance))) {}

    bool IsKey(QRgb pixel) const {
        const int r = qRed(pixel);
        const int g = qGreen(pixel);
        const int b = qBlue(pixel);
        return r >= RedLow && r <= RedHigh && g >= GreenLow && g <= GreenHigh && b >= BlueLow &&
               b <= BlueHigh;
    }

  private:
    int RedLow, RedHigh, GreenLow, GreenHigh, BlueLow, BlueHigh;
};

// One batch of rectangles as they are handed over together. Rectangles arrive row by row and left
// to right, one pixel high and never overlapping, which is the banded order QRegion::setRects
// expects.
class RectangleBatch {
  public:
    RectangleBatch() { Rects.reserve(FirstCapacity); }

    void Add(const QRect& rect) {
        if (Rects.size() == Rects.capacity()) {
            Rects.reserve(Rects.capacity() + GrowthStep);  // may throw std::bad_alloc
        }
        Rects.push_back(rect);
    }
    bool Full() const { return static_cast<int>(Rects.size()) >= BatchSize; }

    QRegion TakeRegion() {
        QRegion region;
        if (!Rects.empty()) {
            const std::vector<QRect> bands = Coalesced();
            region.setRects(bands.data(), static_cast<int>(bands.size()));
        }
        Rects.clear();
        return region;
    }

  private:
    // Rows with the same runs directly below each other become one taller band, the form every
    // other QRegion operation produces, so that equal shapes also compare equal.
    std::vector<QRect> Coalesced() const {
        std::vector<QRect> bands;
        bands.reserve(Rects.size());
        size_t previousBand = 0;  // first rectangle of the last band in bands
        size_t row = 0;
        while (row < Rects.size()) {
            size_t rowEnd = row;
            while (rowEnd < Rects.size() && Rects[rowEnd].top() == Rects[row].top()) {
                ++rowEnd;
            }
            const size_t bandSize = bands.size() - previousBand;
            bool same = !bands.empty() && bandSize == rowEnd - row &&
                        bands[previousBand].bottom() + 1 == Rects[row].top();
            for (size_t i = 0; same && i < bandSize; ++i) {
                same = bands[previousBand + i].left() == Rects[row + i].left() &&
                       bands[previousBand + i].right() == Rects[row + i].right();
            }
            if (same) {
                for (size_t i = previousBand; i < bands.size(); ++i) {
                    bands[i].setBottom(Rects[row].bottom());
                }
            } else {
                previousBand = bands.size();
                bands.insert(bands.end(), Rects.begin() + row, Rects.begin() + rowEnd);
            }
            row = rowEnd;
        }
        return bands;
    }

    std::vector<QRect> Rects;
};

void UniteInto(std::optional<QRegion>& result, const QRegion& part) {
    if (result) {
        *result = result->united(part);
    } else {
        result = part;
    }
}

}  // namespace

QColor ColourFromColorref(quint32 colorref) {
    return QColor(Red(colorref), Green(colorref), Blue(colorref));
}

quint32 ColorrefFromRgb(QRgb rgb) {
    return static_cast<quint32>(qRed(rgb)) | (static_cast<quint32>(qGreen(rgb)) << 8) |
           (static_cast<quint32>(qBlue(rgb)) << 16);
}

std::optional<QRegion> RegionFromBitmap(const QImage& bitmap, quint32 keyColour,
                                        quint32 tolerance) {
    if (bitmap.isNull()) {
        return std::nullopt;
    }
    // The 32-bit copy: four bytes a pixel, read straight from memory.
    const QImage copy = bitmap.convertToFormat(QImage::Format_RGB32);
    if (copy.isNull()) {
        return std::nullopt;
    }
    const int width = copy.width();
    const int height = copy.height();
    const KeyRange key(keyColour, tolerance);
    try {
        RectangleBatch batch;
        std::optional<QRegion> result;
        for (int y = 0; y < height; ++y) {
            const QRgb* row = reinterpret_cast<const QRgb*>(copy.constScanLine(y));
            int x = 0;
            while (x < width) {
                const int x0 = x;
                while (x < width && !key.IsKey(row[x])) {
                    ++x;
                }
                if (x > x0) {
                    batch.Add(QRect(QPoint(x0, y), QPoint(x - 1, y)));
                    if (batch.Full()) {
                        UniteInto(result, batch.TakeRegion());
                    }
                }
                ++x;  // past the key pixel that ended the run, or past the row end
            }
        }
        UniteInto(result, batch.TakeRegion());  // also when the last batch is empty
        return result;
    } catch (const std::bad_alloc&) {
        // The rectangle buffer could not grow: no region rather than a partial one.
        return std::nullopt;
    }
}

std::optional<QRegion> RegionFromMask(const QImage& bitmap, quint32 keyColour) {
    if (bitmap.isNull()) {
        return std::nullopt;
    }
    const int width = bitmap.width();
    const int height = bitmap.height();
    const quint32 key = keyColour & 0xFFFFFF;
    try {
        std::vector<QRect> rects;
        rects.reserve(MaskFirstCapacity);
        // The list grows as soon as it is full, so the next rectangle always has room.
        const auto add = [&rects](int left, int right, int y) {
            rects.push_back(QRect(QPoint(left, y), QPoint(right - 1, y)));
            if (rects.size() == rects.capacity()) {
                rects.reserve(rects.capacity() + MaskGrowthStep);
            }
        };
        for (int y = height - 1; y >= 0; --y) {
            int runStart = -1;
            for (int x = 0; x < width; ++x) {
                const bool isKey = ColorrefFromRgb(bitmap.pixel(x, y)) == key;
                if (!isKey && runStart < 0) {
                    runStart = x;
                } else if (isKey && runStart >= 0) {
                    add(runStart, x, y);
                    runStart = -1;
                }
            }
            if (runStart >= 0) {
                add(runStart, width, y);
            }
        }
        QRegion result;
        for (const QRect& rect : rects) {
            result = result.united(rect);
        }
        return result;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace velora
