// The compiled-in bitmaps: sizes and 24-bit format, the skin's key and shape against every place
// the window draws, the faces' seams, the slider tracks' key and extent, the masks and the icon.
#include "Resources.h"

#include <QtTest>

#include <QIcon>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

using namespace velora;

namespace {

QImage Load(int id) {
    return QImage(BitmapResourcePath(id)).convertToFormat(QImage::Format_RGB32);
}

bool IsKey(QRgb px) {
    return (px & 0xFFFFFF) == SkinKeyRgb;
}

double MeanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

// The pixels 4-connected to `seeds` through pixels for which `through` holds (seeds included
// only when it holds for them), one flag per pixel in rows.
std::vector<char> Flood(const QImage& image, const std::vector<QPoint>& seeds,
                        const std::function<bool(QRgb)>& through) {
    const int w = image.width(), h = image.height();
    std::vector<char> reached(size_t(w) * h, 0);
    std::vector<QPoint> todo;
    const auto push = [&](QPoint p) {
        if (p.x() < 0 || p.y() < 0 || p.x() >= w || p.y() >= h ||
            reached[size_t(p.y()) * w + p.x()] || !through(image.pixel(p))) {
            return;
        }
        reached[size_t(p.y()) * w + p.x()] = 1;
        todo.push_back(p);
    };
    for (const QPoint seed : seeds) {
        push(seed);
    }
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
            push(p + d);
        }
    }
    return reached;
}

// Everything the window puts on the skin, in client pixels, as the window is laid out. `Light`:
// text or a check box the panel draws, which needs a light ground.
struct Spot {
    const char* What;
    QRect Area;
    bool Light;
};

const QPoint ButtonsAt[] = {{738, 176}, {771, 217}, {792, 257}, {806, 295}, {812, 337}};

std::vector<Spot> Spots() {
    // Label boxes: the drawing point and a generous extent for the default font.
    const auto label = [](int x, int y, int chars) { return QRect(x, y, chars * 7 + 8, 17); };
    std::vector<Spot> spots = {{"Color", label(795, 398, 5), true},
                               {"Gray", label(795, 426, 4), true},
                               {"Gray Contrast", label(823, 461, 13), true},
                               {"Reddish Film", label(843, 493, 12), true},
                               {"Blueish Film", label(843, 517, 12), true},
                               {"check 1008", {794, 458, 20, 20}, true},
                               {"check box 1009", {820, 495, 14, 14}, true},
                               {"check box 1010", {820, 518, 14, 14}, true},
                               {"slider 1013", {840, 395, 100, 20}, true},
                               {"slider 1014", {840, 423, 100, 20}, true},
                               {"picture frame with its pen", {149, 169, 474, 474}, false},
                               {"progress bar", {98, 323, 28, 152}, false},
                               {"file name", {415, 610, 18 * 8, 17}, false},
                               {"probe readout", {450, 430, 160, 121}, false}};
    for (const QPoint at : ButtonsAt) {
        spots.push_back({"button", QRect(at, QSize(80, 30)), false});
    }
    return spots;
}

}  // namespace

class ResourceBitmapsTest : public QObject {
    Q_OBJECT
  private slots:
    void sizesAndFormat_data();
    void sizesAndFormat();
    void twinsAreTheSameDrawingDoubled_data() { sizesAndFormat_data(); }
    void twinsAreTheSameDrawingDoubled();
    void skinIsOneWindowKeyedHard();
    void skinHoldsEverythingTheWindowDraws();
    void facesBlendIntoTheSkinUnderThem();
    void faceStatesAreDistinct();
    void tracksKeyAndExtent();
    void icon();
};

void ResourceBitmapsTest::sizesAndFormat_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QSize>("size");
    QTest::newRow("130 skin") << 130 << QSize(1000, 800);
    for (int id : {132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 143, 144}) {
        QTest::newRow(qPrintable(QString::number(id))) << id
                                                       << (id <= 136   ? QSize(80, 30)
                                                           : id <= 141 ? QSize(20, 20)
                                                                       : QSize(100, 20));
    }
}

void ResourceBitmapsTest::sizesAndFormat() {
    QFETCH(int, id);
    QFETCH(QSize, size);
    // Found at all means the resources were linked in from the static library. The format comes
    // from the file's header: 8-bit truecolour without alpha, 24 bits per pixel.
    QImageReader reader(BitmapResourcePath(id));
    QCOMPARE(reader.size(), size);
    QCOMPARE(reader.imageFormat(), QImage::Format_RGB32);
    QCOMPARE(Load(id).size(), size);
    if (id == IDB_PUSH_MASK || id == IDB_CHECK_MASK) {
        QImage black(size, QImage::Format_RGB32);
        black.fill(Qt::black);
        QVERIFY(Load(id) == black);  // the masks keep every pixel
    }
}

void ResourceBitmapsTest::twinsAreTheSameDrawingDoubled() {
    QFETCH(int, id);
    QFETCH(QSize, size);
    // The "@2x" twin beside each bitmap, which screens of pixel ratio 2 are given.
    const QString path = BitmapResourcePath(id).replace(QStringLiteral(".png"), "@2x.png");
    QImageReader reader(path);
    QCOMPARE(reader.size(), size * 2);
    QCOMPARE(reader.imageFormat(), QImage::Format_RGB32);
    const QImage own = Load(id);
    const QImage twin = QImage(path).convertToFormat(QImage::Format_RGB32);
    // Averaged over each 2 x 2 block, the twin is the bitmap: the same drawing, finer.
    QImage averaged(size, QImage::Format_RGB32);
    const QRgb skinKey = 0xFF000000u | SkinKeyRgb, trackKey = qRgb(252, 252, 252);
    int keyedApart = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            int r = 0, g = 0, b = 0, skinKeys = 0, trackKeys = 0;
            for (const QRgb px : {twin.pixel(2 * x, 2 * y), twin.pixel(2 * x + 1, 2 * y),
                                  twin.pixel(2 * x, 2 * y + 1), twin.pixel(2 * x + 1, 2 * y + 1)}) {
                r += qRed(px), g += qGreen(px), b += qBlue(px);
                skinKeys += px == skinKey ? 1 : 0;
                trackKeys += px == trackKey ? 1 : 0;
            }
            averaged.setPixel(x, y, qRgb((r + 2) / 4, (g + 2) / 4, (b + 2) / 4));
            // The keys cut the same pixels at both sizes: a whole block or none of it.
            const int keys = id == IDB_SKIN ? skinKeys : id >= IDB_SLIDER_CHANNEL ? trackKeys : 0;
            const QRgb key = id == IDB_SKIN ? skinKey : trackKey;
            keyedApart += keys == (own.pixel(x, y) == key ? 4 : 0) ? 0 : 1;
        }
    }
    QCOMPARE(keyedApart, 0);
    const double difference = MeanDifference(own, averaged);
    QVERIFY2(difference < 3.0, qPrintable(QString::number(difference)));
}

void ResourceBitmapsTest::skinIsOneWindowKeyedHard() {
    const QImage skin = Load(IDB_SKIN);
    const int w = skin.width(), h = skin.height();
    std::vector<QPoint> border;
    for (int x = 0; x < w; ++x) {
        border.insert(border.end(), {QPoint(x, 0), QPoint(x, h - 1)});
    }
    for (int y = 0; y < h; ++y) {
        border.insert(border.end(), {QPoint(0, y), QPoint(w - 1, y)});
    }
    // Outside the window: the key reachable from the border.
    const std::vector<char> outside = Flood(skin, border, IsKey);
    const std::vector<char> piece =
        Flood(skin, {QPoint(400, 400)}, [](QRgb p) { return !IsKey(p); });
    int inside = 0, holes = 0, pink = 0, detached = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb px = skin.pixel(x, y);
            if (IsKey(px)) {
                holes += outside[size_t(y) * w + x] ? 0 : 1;
                continue;
            }
            ++inside;
            detached += piece[size_t(y) * w + x] ? 0 : 1;
            // A blend of the key with the body would look pink on any desktop.
            if (qRed(px) > 150 && qBlue(px) > 150 && qGreen(px) < qRed(px) - 60 &&
                qGreen(px) < qBlue(px) - 60) {
                ++pink;
            }
        }
    }
    QCOMPARE(holes, 0);
    QCOMPARE(pink, 0);
    // The window is one piece, and a big one: its outline is not just the border keyed away.
    QCOMPARE(detached, 0);
    QVERIFY(inside > 1000 * 800 / 2);
    QVERIFY(inside < 1000 * 800 - 1000 * 4);
    QVERIFY(IsKey(skin.pixel(0, 0)) && IsKey(skin.pixel(999, 799)));
}

void ResourceBitmapsTest::skinHoldsEverythingTheWindowDraws() {
    const QImage skin = Load(IDB_SKIN);
    for (const Spot& spot : Spots()) {
        // A few pixels of body round each spot, so nothing touches the outline.
        const QRect area = spot.Area.adjusted(-4, -4, 4, 4);
        double darkest = 255;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                QVERIFY2(!IsKey(skin.pixel(x, y)), spot.What);
                const QRgb px = skin.pixel(x, y);
                if (spot.Area.adjusted(-2, -2, 2, 2).contains(x, y)) {
                    darkest = std::min(darkest,
                                       0.299 * qRed(px) + 0.587 * qGreen(px) + 0.114 * qBlue(px));
                }
            }
        }
        // Black text and the grey of disabled film labels (158) both need a light ground.
        QVERIFY2(!spot.Light || darkest > 190, spot.What);
    }
}

void ResourceBitmapsTest::facesBlendIntoTheSkinUnderThem() {
    // The masks keep every face pixel, so a face's corners show as they are: they must carry
    // the colour of the skin under the control, or each button sits in a visible box.
    const QImage skin = Load(IDB_SKIN);
    const auto check = [&](int id, QPoint at) {
        const QImage face = Load(id);
        const int r = face.width() - 1, b = face.height() - 1;
        for (const QPoint c : {QPoint(1, 0), QPoint(r, 0), QPoint(0, b), QPoint(r, b)}) {
            const QRgb p = face.pixel(c), q = skin.pixel(at + c);
            const int diff = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                       std::abs(qBlue(p) - qBlue(q))});
            QVERIFY2(diff <= 3, qPrintable(QString::asprintf("face %d at (%d, %d) corner (%d, %d)",
                                                             id, at.x(), at.y(), c.x(), c.y())));
        }
    };
    for (int id : {132, 134, 135, 136}) {
        for (const QPoint at : ButtonsAt) {
            check(id, at);
        }
    }
    for (int id : {137, 138, 139, 140}) {
        check(id, QPoint(794, 458));
    }
    for (int id : {143, 144}) {
        check(id, QPoint(840, 395));
        check(id, QPoint(840, 423));
    }
}

void ResourceBitmapsTest::faceStatesAreDistinct() {
    // The checked face stands for the Gray Contrast state: it has to read as checked at a glance.
    const struct {
        int A, B;
        double Apart;
    } pairs[] = {
        {IDB_PUSH_NORMAL, IDB_PUSH_HOVER, 8},     {IDB_PUSH_NORMAL, IDB_PUSH_PRESSED, 8},
        {IDB_PUSH_NORMAL, IDB_PUSH_DISABLED, 8},  {IDB_PUSH_HOVER, IDB_PUSH_PRESSED, 8},
        {IDB_CHECK_NORMAL, IDB_CHECK_HOVER, 2},   {IDB_CHECK_NORMAL, IDB_CHECK_DISABLED, 2},
        {IDB_CHECK_NORMAL, IDB_CHECK_PRESSED, 25}};
    for (const auto& p : pairs) {
        QVERIFY2(MeanDifference(Load(p.A), Load(p.B)) > p.Apart,
                 qPrintable(QStringLiteral("%1 and %2").arg(p.A).arg(p.B)));
    }
}

void ResourceBitmapsTest::tracksKeyAndExtent() {
    const QImage empty = Load(IDB_SLIDER_CHANNEL);
    const QImage filled = Load(IDB_SLIDER_ACTIVE);
    for (const QImage* track : {&empty, &filled}) {
        // Rows of 32-bit pixels have no padding.
        const auto* pixels = reinterpret_cast<const QRgb*>(track->constBits());
        QCOMPARE(std::count_if(pixels, pixels + track->width() * track->height(),
                               [](QRgb p) { return (p & 0xFFFFFF) == 0xFCFCFC; }),
                 std::ptrdiff_t{1});
        QCOMPARE(track->pixel(0, 0) & 0xFFFFFF, QRgb(0xFCFCFC));
    }
    // The fill shows from pixel 8 (lowest value) to pixel 92 (highest): the two tracks differ in
    // every column from 8 to 91 and nowhere else, so the lowest value shows no fill and the
    // highest a full one.
    for (int x = 0; x < empty.width(); ++x) {
        bool differs = false;
        for (int y = 0; y < empty.height(); ++y) {
            differs = differs || empty.pixel(x, y) != filled.pixel(x, y);
        }
        QVERIFY2(differs == (x >= 8 && x < 92), qPrintable(QStringLiteral("column %1").arg(x)));
    }
}

void ResourceBitmapsTest::icon() {
    const QImage big(IconResourcePath(IDR_MAINFRAME));
    QVERIFY(!big.isNull());
    QCOMPARE(big.width(), big.height());
    QVERIFY(big.width() >= 128);
    QVERIFY(big.hasAlphaChannel());
    // Transparent corners, opaque middle.
    QCOMPARE(qAlpha(big.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(big.pixel(big.width() / 2, big.height() / 2)), 255);
    for (int size : {16, 32, 48}) {
        QCOMPARE(QImage(IconResourcePath(IDR_MAINFRAME, size)).size(), QSize(size, size));
    }
    const QIcon icon = LoadResourceIcon(IDR_MAINFRAME);
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(LoadResourceIcon(130).isNull());
}

QTEST_MAIN(ResourceBitmapsTest)
#include "ResourceBitmapsTest.moc"
