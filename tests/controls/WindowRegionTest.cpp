// Region builders against a per-pixel membership test written independently of the run code.
#include "WindowRegion.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <functional>

using velora::RegionFromBitmap;
using velora::RegionFromMask;

namespace {

using KeyTest = std::function<bool(QRgb)>;

// Every pixel of the image, and a one-pixel frame around it, against the expected membership:
// the first that differs, or nothing.
QString BruteForceDifference(const QRegion& region, const QImage& image, const KeyTest& isKey) {
    for (int y = -1; y <= image.height(); ++y) {
        for (int x = -1; x <= image.width(); ++x) {
            const bool inside = image.rect().contains(x, y) && !isKey(image.pixel(x, y));
            if (region.contains(QPoint(x, y)) != inside) {
                return QStringLiteral("pixel (%1, %2): expected %3").arg(x).arg(y).arg(inside);
            }
        }
    }
    return QString();
}

KeyTest ExactKey(QRgb key) {
    return [key](QRgb p) { return (p & 0xFFFFFF) == (key & 0xFFFFFF); };
}

// Red, green and blue each in [low, high] of the given inclusive ranges.
KeyTest RangeKey(int rl, int rh, int gl, int gh, int bl, int bh) {
    return [=](QRgb p) {
        return qRed(p) >= rl && qRed(p) <= rh && qGreen(p) >= gl && qGreen(p) <= gh &&
               qBlue(p) >= bl && qBlue(p) <= bh;
    };
}

QImage Filled(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Pixels drawn at random from a few colours; a fixed seed keeps failures reproducible.
QImage RandomImage(int w, int h, const QList<QRgb>& colours, quint32 seed) {
    QRandomGenerator rng(seed);
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            image.setPixel(x, y, colours[static_cast<int>(rng.bounded(colours.size()))]);
        }
    }
    return image;
}

constexpr QRgb Magenta = 0xFFFF00FF;
constexpr QRgb White = 0xFFFFFFFF;
constexpr QRgb Black = 0xFF000000;
constexpr quint32 MagentaRef = 0xFF00FF;  // COLORREF: red and blue both 0xFF

}  // namespace

class WindowRegionTest : public QObject {
    Q_OBJECT
  private slots:
    void NoneOnlyForNoBitmap() {
        QVERIFY(!RegionFromBitmap(QImage(), MagentaRef, MagentaRef).has_value());
        QVERIFY(!RegionFromMask(QImage(), 0xFFFFFF).has_value());
        // Everything key: empty, but still a region.
        const auto fromBitmap = RegionFromBitmap(Filled(37, 11, Magenta), MagentaRef, 0);
        QVERIFY(fromBitmap.has_value());
        QVERIFY(fromBitmap->isEmpty());
        const auto fromMask = RegionFromMask(Filled(20, 20, White), 0xFFFFFF);
        QVERIFY(fromMask.has_value());
        QVERIFY(fromMask->isEmpty());
    }

    void NoKeyPixelGivesWholeRectangle() {
        // The program's all-black button masks with key white.
        for (const QSize size : {QSize(80, 30), QSize(20, 20), QSize(1, 1)}) {
            const QImage mask = Filled(size.width(), size.height(), Black);
            QCOMPARE(*RegionFromMask(mask, 0xFFFFFF), QRegion(QRect(QPoint(0, 0), size)));
            QCOMPARE(*RegionFromBitmap(mask, 0xFFFFFF, 0), QRegion(QRect(QPoint(0, 0), size)));
        }
    }

    void ToleranceRule() {
        // Key 0xFF00FF with tolerance 0xFF00FF widens nothing: only pure magenta is cut.
        QImage image = Filled(4, 1, Magenta);
        image.setPixel(1, 0, qRgb(254, 0, 255));
        image.setPixel(2, 0, qRgb(255, 1, 255));
        image.setPixel(3, 0, qRgb(255, 0, 254));
        QCOMPARE(*RegionFromBitmap(image, MagentaRef, MagentaRef), QRegion(1, 0, 3, 1));

        // A real widening, clipped at 255: red 16..48, green 250..255, blue 0..0.
        const quint32 key = 0x00FA10;
        const quint32 tolerance = 0x00FF20;
        const QList<QRgb> colours = {qRgb(16, 250, 0), qRgb(48, 255, 0),   qRgb(15, 250, 0),
                                     qRgb(49, 250, 0), qRgb(30, 249, 0),   qRgb(30, 252, 1),
                                     qRgb(32, 253, 0), qRgb(255, 255, 255)};
        const QImage random = RandomImage(61, 23, colours, 7);
        QCOMPARE(BruteForceDifference(*RegionFromBitmap(random, key, tolerance), random,
                                      RangeKey(16, 48, 250, 255, 0, 0)),
                 QString());
    }

    void ColorrefByteOrder() {
        // Key red in COLORREF is 0x0000FF: red pixels go, blue ones stay.
        QImage image(2, 1, QImage::Format_RGB32);
        image.setPixel(0, 0, qRgb(255, 0, 0));
        image.setPixel(1, 0, qRgb(0, 0, 255));
        QCOMPARE(*RegionFromBitmap(image, 0x0000FF, 0), QRegion(1, 0, 1, 1));
        QCOMPARE(*RegionFromMask(image, 0x0000FF), QRegion(1, 0, 1, 1));
    }

    void RowEnds() {
        // Only the last pixel of a row is shape; a row ending in a key pixel stops before it.
        QImage image = Filled(9, 3, Magenta);
        image.setPixel(8, 0, Black);
        for (int x = 2; x < 8; ++x) {
            image.setPixel(x, 1, Black);
        }
        image.setPixel(0, 2, Black);
        const QRegion expected =
            QRegion(8, 0, 1, 1).united(QRegion(2, 1, 6, 1)).united(QRegion(0, 2, 1, 1));
        QCOMPARE(*RegionFromBitmap(image, MagentaRef, 0), expected);
        QCOMPARE(*RegionFromMask(image, MagentaRef), expected);
    }

    void BuildersAgreeWithBruteForceAndEachOther() {
        // Alternating columns give one run per two pixels: runs just below, at, and well above
        // the batch size of 2000, and one batch boundary falling at the very end. Then pixels
        // drawn at random, one colour a step off the key.
        QList<QImage> images;
        for (const QSize size : {QSize(200, 19), QSize(200, 20), QSize(200, 41), QSize(101, 103)}) {
            QImage image = Filled(size.width(), size.height(), Magenta);
            for (int y = 0; y < size.height(); ++y) {
                for (int x = (y % 2); x < size.width(); x += 2) {
                    image.setPixel(x, y, Black);
                }
            }
            images << image;
        }
        const QList<QRgb> colours = {Magenta, Black, qRgb(254, 0, 255), qRgb(10, 200, 30)};
        for (quint32 seed = 1; seed <= 6; ++seed) {
            images << RandomImage(97 + static_cast<int>(seed), 53, colours, seed);
        }
        for (const QImage& image : images) {
            const auto fromBitmap = RegionFromBitmap(image, MagentaRef, 0);
            const auto fromMask = RegionFromMask(image, MagentaRef);
            QCOMPARE(BruteForceDifference(*fromBitmap, image, ExactKey(Magenta)), QString());
            QCOMPARE(BruteForceDifference(*fromMask, image, ExactKey(Magenta)), QString());
            QCOMPARE(*fromBitmap, *fromMask);
            // A 24-bit skin reads the same as a 32-bit picture.
            QCOMPARE(*RegionFromBitmap(image.convertToFormat(QImage::Format_RGB888), MagentaRef, 0),
                     *fromBitmap);
        }
        // So does a one-bit mask.
        const QImage mono = RandomImage(33, 9, {White, Black}, 5);
        QCOMPARE(*RegionFromMask(mono.convertToFormat(QImage::Format_Mono), 0xFFFFFF),
                 *RegionFromMask(mono, 0xFFFFFF));
    }
};

QTEST_APPLESS_MAIN(WindowRegionTest)
#include "WindowRegionTest.moc"
