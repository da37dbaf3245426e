// The compiled-in bitmaps: sizes and 24-bit format, the skin's key and shape against every place
// the window draws, the faces' seams, the slider tracks' key and extent, the masks and the icon.
#include "Resources.h"

#include <QtTest>

#include <QFile>
#include <QIcon>
#include <QImage>

#include <cmath>
#include <vector>

using namespace velora;

namespace {

constexpr QRgb kMagenta = 0xFF00FF;

QImage Load(int id) {
    QImage image(BitmapResourcePath(id));
    return image.convertToFormat(QImage::Format_RGB32);
}

bool IsKey(QRgb px) {
    return (px & 0xFFFFFF) == kMagenta;
}

double Luminance(QRgb px) {
    return 0.299 * qRed(px) + 0.587 * qGreen(px) + 0.114 * qBlue(px);
}

// Everything the window puts on the skin, in client pixels, as the window is laid out.
struct Spot {
    const char* What;
    QRect Area;
};

std::vector<Spot> ButtonSpots() {
    return {{"Open", {738, 176, 80, 30}},
            {"Save", {771, 217, 80, 30}},
            {"Start", {792, 257, 80, 30}},
            {"Cancel", {806, 295, 80, 30}},
            {"Exit", {812, 337, 80, 30}}};
}

// Label boxes: the drawing point and a generous extent for the default font.
std::vector<Spot> LabelSpots() {
    const auto box = [](int x, int y, int chars) { return QRect(x, y, chars * 7 + 8, 17); };
    return {{"Color", box(795, 398, 5)},
            {"Gray", box(795, 426, 4)},
            {"Gray Contrast", box(823, 461, 13)},
            {"Reddish Film", box(843, 493, 12)},
            {"Blueish Film", box(843, 517, 12)}};
}

std::vector<Spot> PanelControlSpots() {
    return {{"check 1008", {794, 458, 20, 20}},
            {"check box 1009", {820, 495, 14, 14}},
            {"check box 1010", {820, 518, 14, 14}},
            {"slider 1013", {840, 395, 100, 20}},
            {"slider 1014", {840, 423, 100, 20}}};
}

std::vector<Spot> OtherSpots() {
    return {{"picture frame with its pen", {149, 169, 474, 474}},
            {"progress bar", {98, 323, 28, 152}},
            {"file name", {415, 610, 18 * 8, 17}},
            {"probe readout", {450, 430, 160, 121}}};
}

// Pixels outside the window: the magenta reachable from the bitmap's border.
std::vector<char> Outside(const QImage& skin) {
    const int w = skin.width(), h = skin.height();
    std::vector<char> out(size_t(w) * h, 0);
    std::vector<QPoint> todo;
    const auto push = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h || out[size_t(y) * w + x] ||
            !IsKey(skin.pixel(x, y))) {
            return;
        }
        out[size_t(y) * w + x] = 1;
        todo.push_back({x, y});
    };
    for (int x = 0; x < w; ++x) {
        push(x, 0);
        push(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        push(0, y);
        push(w - 1, y);
    }
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        push(p.x() + 1, p.y());
        push(p.x() - 1, p.y());
        push(p.x(), p.y() + 1);
        push(p.x(), p.y() - 1);
    }
    return out;
}

// Size of the 4-connected piece of non-key pixels holding `seed`.
int PieceSize(const QImage& skin, QPoint seed) {
    const int w = skin.width(), h = skin.height();
    std::vector<char> seen(size_t(w) * h, 0);
    std::vector<QPoint> todo{seed};
    seen[size_t(seed.y()) * w + seed.x()] = 1;
    int count = 0;
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        ++count;
        for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
            const QPoint q = p + d;
            if (q.x() < 0 || q.y() < 0 || q.x() >= w || q.y() >= h ||
                seen[size_t(q.y()) * w + q.x()] || IsKey(skin.pixel(q))) {
                continue;
            }
            seen[size_t(q.y()) * w + q.x()] = 1;
            todo.push_back(q);
        }
    }
    return count;
}

// PNG header: width, height, bit depth and colour type straight from the file's IHDR chunk.
struct PngHeader {
    int Width = 0, Height = 0, BitDepth = 0, ColourType = -1;
};

PngHeader ReadPngHeader(const QString& path) {
    QFile file(path);
    PngHeader h;
    if (!file.open(QIODevice::ReadOnly)) {
        return h;
    }
    const QByteArray head = file.read(26);
    if (head.size() < 26 || !head.startsWith("\x89PNG\r\n\x1a\n") || head.mid(12, 4) != "IHDR") {
        return h;
    }
    const auto be32 = [&](int at) {
        return (uchar(head[at]) << 24) | (uchar(head[at + 1]) << 16) | (uchar(head[at + 2]) << 8) |
               uchar(head[at + 3]);
    };
    h.Width = be32(16);
    h.Height = be32(20);
    h.BitDepth = uchar(head[24]);
    h.ColourType = uchar(head[25]);
    return h;
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

int MaxChannelDifference(QRgb p, QRgb q) {
    return std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                     std::abs(qBlue(p) - qBlue(q))});
}

}  // namespace

class ResourceBitmapsTest : public QObject {
    Q_OBJECT
  private slots:
    void sizesAndFormat_data();
    void sizesAndFormat();
    void skinIsOneWindowKeyedHard();
    void skinHoldsEverythingTheWindowDraws();
    void labelsStandOnLightGround();
    void facesBlendIntoTheSkinUnderThem();
    void faceStatesAreDistinct();
    void masksAreBlack();
    void tracksKeyAndExtent();
    void icon();
};

void ResourceBitmapsTest::sizesAndFormat_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QSize>("size");
    QTest::newRow("130 skin") << 130 << QSize(1000, 800);
    for (int id : {132, 133, 134, 135, 136}) {
        QTest::newRow(qPrintable(QString::number(id))) << id << QSize(80, 30);
    }
    for (int id : {137, 138, 139, 140, 141}) {
        QTest::newRow(qPrintable(QString::number(id))) << id << QSize(20, 20);
    }
    QTest::newRow("143 empty track") << 143 << QSize(100, 20);
    QTest::newRow("144 filled track") << 144 << QSize(100, 20);
}

void ResourceBitmapsTest::sizesAndFormat() {
    QFETCH(int, id);
    QFETCH(QSize, size);
    // Found at all means the resources were linked in from the static library.
    const PngHeader h = ReadPngHeader(BitmapResourcePath(id));
    QCOMPARE(QSize(h.Width, h.Height), size);
    QCOMPARE(h.BitDepth, 8);
    QCOMPARE(h.ColourType, 2);  // truecolour without alpha: 24 bits per pixel
    QCOMPARE(Load(id).size(), size);
}

void ResourceBitmapsTest::skinIsOneWindowKeyedHard() {
    const QImage skin = Load(IDB_SKIN);
    QCOMPARE(skin.size(), QSize(1000, 800));
    const std::vector<char> outside = Outside(skin);
    int inside = 0, holes = 0, pink = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            const QRgb px = skin.pixel(x, y);
            if (IsKey(px)) {
                holes += outside[size_t(y) * skin.width() + x] ? 0 : 1;
                continue;
            }
            ++inside;
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
    QCOMPARE(PieceSize(skin, QPoint(400, 400)), inside);
    QVERIFY(inside > 1000 * 800 / 2);
    QVERIFY(inside < 1000 * 800 - 1000 * 4);
    QVERIFY(IsKey(skin.pixel(0, 0)) && IsKey(skin.pixel(999, 799)));
}

void ResourceBitmapsTest::skinHoldsEverythingTheWindowDraws() {
    const QImage skin = Load(IDB_SKIN);
    std::vector<Spot> spots = ButtonSpots();
    for (const auto& group : {LabelSpots(), PanelControlSpots(), OtherSpots()}) {
        spots.insert(spots.end(), group.begin(), group.end());
    }
    for (const Spot& spot : spots) {
        // A few pixels of body round each spot, so nothing touches the outline.
        const QRect area = spot.Area.adjusted(-4, -4, 4, 4);
        int keyed = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                keyed += IsKey(skin.pixel(x, y)) ? 1 : 0;
            }
        }
        QVERIFY2(keyed == 0, spot.What);
    }
}

void ResourceBitmapsTest::labelsStandOnLightGround() {
    const QImage skin = Load(IDB_SKIN);
    std::vector<Spot> spots = LabelSpots();
    const std::vector<Spot> controls = PanelControlSpots();
    spots.insert(spots.end(), controls.begin(), controls.end());
    for (const Spot& spot : spots) {
        double darkest = 255;
        const QRect r = spot.Area.adjusted(-2, -2, 2, 2);
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                darkest = std::min(darkest, Luminance(skin.pixel(x, y)));
            }
        }
        // Black text and the grey of disabled film labels (158) both need a light ground.
        QVERIFY2(darkest > 190, spot.What);
    }
}

void ResourceBitmapsTest::facesBlendIntoTheSkinUnderThem() {
    // The masks keep every face pixel, so a face's corners show as they are: they must carry
    // the colour of the skin under the control, or each button sits in a visible box.
    const QImage skin = Load(IDB_SKIN);
    const auto check = [&](const QImage& face, QPoint at, const char* what) {
        const QPoint corners[] = {{1, 0},
                                  {face.width() - 1, 0},
                                  {0, face.height() - 1},
                                  {face.width() - 1, face.height() - 1}};
        for (QPoint c : corners) {
            const int diff = MaxChannelDifference(face.pixel(c), skin.pixel(at + c));
            QVERIFY2(diff <= 3, qPrintable(QStringLiteral("%1 corner (%2, %3) differs by %4")
                                               .arg(what)
                                               .arg(c.x())
                                               .arg(c.y())
                                               .arg(diff)));
        }
    };
    for (int id : {132, 134, 135, 136}) {
        const QImage face = Load(id);
        for (const Spot& b : ButtonSpots()) {
            check(face, b.Area.topLeft(), b.What);
        }
    }
    for (int id : {137, 138, 139, 140}) {
        check(Load(id), QPoint(794, 458), "check 1008");
    }
    for (int id : {143, 144}) {
        check(Load(id), QPoint(840, 395), "slider 1013");
        check(Load(id), QPoint(840, 423), "slider 1014");
    }
}

void ResourceBitmapsTest::faceStatesAreDistinct() {
    const QImage push = Load(IDB_PUSH_NORMAL);
    for (int id : {IDB_PUSH_HOVER, IDB_PUSH_PRESSED, IDB_PUSH_DISABLED}) {
        QVERIFY2(MeanDifference(push, Load(id)) > 8.0, qPrintable(QString::number(id)));
    }
    QVERIFY(MeanDifference(Load(IDB_PUSH_HOVER), Load(IDB_PUSH_PRESSED)) > 8.0);
    const QImage check = Load(IDB_CHECK_NORMAL);
    for (int id : {IDB_CHECK_HOVER, IDB_CHECK_DISABLED}) {
        QVERIFY2(MeanDifference(check, Load(id)) > 2.0, qPrintable(QString::number(id)));
    }
    // The checked face stands for the Gray Contrast state: it has to read as checked at a glance.
    QVERIFY(MeanDifference(check, Load(IDB_CHECK_PRESSED)) > 25.0);
}

void ResourceBitmapsTest::masksAreBlack() {
    for (int id : {IDB_PUSH_MASK, IDB_CHECK_MASK}) {
        const QImage mask = Load(id);
        for (int y = 0; y < mask.height(); ++y) {
            for (int x = 0; x < mask.width(); ++x) {
                QCOMPARE(mask.pixel(x, y) & 0xFFFFFF, QRgb(0));
            }
        }
    }
}

void ResourceBitmapsTest::tracksKeyAndExtent() {
    const QImage empty = Load(IDB_SLIDER_CHANNEL);
    const QImage filled = Load(IDB_SLIDER_ACTIVE);
    for (const QImage* track : {&empty, &filled}) {
        int keys = 0;
        for (int y = 0; y < track->height(); ++y) {
            for (int x = 0; x < track->width(); ++x) {
                keys += (track->pixel(x, y) & 0xFFFFFF) == kTrackKeyRgb ? 1 : 0;
            }
        }
        QCOMPARE(track->pixel(0, 0) & 0xFFFFFF, QRgb(0xFCFCFC));
        QCOMPARE(keys, 1);
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
    for (int size : kIconSizes) {
        QCOMPARE(QImage(IconResourcePath(IDR_MAINFRAME, size)).size(), QSize(size, size));
    }
    const QIcon icon = LoadResourceIcon(IDR_MAINFRAME);
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(LoadResourceIcon(130).isNull());
}

QTEST_MAIN(ResourceBitmapsTest)
#include "ResourceBitmapsTest.moc"
