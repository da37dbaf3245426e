// The colour probe: the click-to-pixel mapping on pictures whose pixels tell their position, also
// on pictures shown upright by their orientation tag, the readout of a known colour, the marker,
// and clicks while a conversion runs.
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

#include "AppTestSupport.h"
#include "ImageFile.h"
#include "ImageProperties.h"

namespace velora {
namespace {

// The readout's first line for a colour.
QString Readout(Argb c) {
    return QString::asprintf("R %d, G %d, B %d  ", int((c >> 16) & 0xFF), int((c >> 8) & 0xFF),
                             int(c & 0xFF));
}

}  // namespace

class ProbeTest : public QObject {
    Q_OBJECT

  private:
    TestPictures Pictures;

  private slots:
    void probeMapsClicksToPixels_data() {
        // The mapping's own edges are tested with it; here the window must route a click
        // through it, read that pixel, and show black where the read fails.
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QPoint>("click");
        QTest::addColumn<QPoint>("pixel");  // (-1, -1): outside; (-2, -2): read fails
        QTest::newRow("wide right") << 1000 << 500 << QPoint(616, 290) << QPoint(997, 0);
        QTest::newRow("wide past bottom") << 1000 << 500 << QPoint(154, 522) << QPoint(-1, -1);
        QTest::newRow("tall bottom") << 300 << 600 << QPoint(270, 636) << QPoint(0, 598);
        QTest::newRow("tall past right") << 300 << 600 << QPoint(502, 174) << QPoint(-1, -1);
        QTest::newRow("square centre") << 800 << 800 << QPoint(385, 405) << QPoint(399, 399);
        QTest::newRow("square last row") << 800 << 800 << QPoint(154, 637) << QPoint(-2, -2);
    }

    void probeMapsClicksToPixels() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QPoint, click);
        QFETCH(QPoint, pixel);
        const QString name = QStringLiteral("probe%1x%2.png").arg(width).arg(height);
        WindowSession s;
        QVERIFY(s.Open(Pictures.Write(name, width, height, PositionColour)));
        s.Click(click);
        if (pixel.x() == -1) {
            QVERIFY(!s.Dialog.IsProbeShown());
            return;
        }
        QVERIFY(s.Dialog.IsProbeShown());
        const QStringList lines = s.Dialog.ProbeReadout();
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0],
                 Readout(pixel.x() == -2 ? 0xFF000000u : PositionColour(pixel.x(), pixel.y())));
        QCOMPARE(s.Dialog.ProbeMarker(), click);
    }

    void uprightPictureAndTheProbe_data() {
        // The stored corners the tag brings to the top left and the top right of the upright
        // picture (w x h stored, 12 x 8 below; (0, 0) is the first stored pixel).
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QPoint>("topLeft");
        QTest::addColumn<QPoint>("topRight");
        const int r = 11, b = 7;
        QTest::newRow("1 as stored") << 1 << QPoint(0, 0) << QPoint(r, 0);
        QTest::newRow("2 mirrored") << 2 << QPoint(r, 0) << QPoint(0, 0);
        QTest::newRow("3 half round") << 3 << QPoint(r, b) << QPoint(0, b);
        QTest::newRow("4 upside down mirror") << 4 << QPoint(0, b) << QPoint(r, b);
        QTest::newRow("5 main diagonal") << 5 << QPoint(0, 0) << QPoint(0, b);
        QTest::newRow("6 quarter clockwise") << 6 << QPoint(0, b) << QPoint(0, 0);
        QTest::newRow("7 other diagonal") << 7 << QPoint(r, b) << QPoint(r, 0);
        QTest::newRow("8 quarter anticlockwise") << 8 << QPoint(r, 0) << QPoint(r, b);
    }

    void uprightPictureAndTheProbe() {
        // A 12 x 8 picture whose every pixel has its own colour, stored with the orientation tag
        // (PNG keeps the pixels exact).
        QFETCH(int, orientation);
        QFETCH(QPoint, topLeft);
        QFETCH(QPoint, topRight);
        const int w = 12, h = 8;
        const auto colour = [](int x, int y) { return Rgb(10 + 20 * x, 10 + 30 * y, 200); };
        BitmapRef stored = WorkingBitmap::CreateBlank(w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                stored->SetPixel(x, y, colour(x, y));
            }
        }
        PropertyItem tag;
        tag.id = 0x0112;
        tag.type = PropertyTagTypeShort;
        tag.value = {static_cast<std::uint8_t>(orientation), 0};
        QCOMPARE(stored->SetPropertyItem(tag), Status::Ok);
        const QString path = Pictures.Path(QStringLiteral("turned%1.png").arg(orientation));
        QVERIFY(SavePng(*stored, path.toStdString()).Ok);

        WindowSession s;
        QVERIFY(s.Open(path));
        // The fit rules apply to the picture as shown: 5 to 8 stand 8 wide and 12 high.
        const QRect drawn = orientation >= 5 ? QRect(231, 174, 308, 462)  // 463 x 8 / 12
                                             : QRect(154, 251, 462, 308);
        const QImage shot = s.Dialog.grab().toImage();
        const int midY = drawn.top() + drawn.height() / 2, midX = drawn.left() + drawn.width() / 2;
        for (const QPoint& outside :
             {QPoint(drawn.left() - 1, midY), QPoint(midX, drawn.top() - 1),
              QPoint(drawn.right() + 1, midY), QPoint(midX, drawn.bottom() + 1)}) {
            QCOMPARE(shot.pixelColor(outside), QColor(127, 127, 127));
        }
        // A click on the middle of each shown pixel reads the stored pixel seen there: the one
        // whose colour the screen shows under the click.
        const int shownW = orientation >= 5 ? h : w, shownH = orientation >= 5 ? w : h;
        for (int sy = 0; sy < shownH; ++sy) {
            for (int sx = 0; sx < shownW; ++sx) {
                const QPoint click(drawn.left() + (2 * sx + 1) * drawn.width() / (2 * shownW),
                                   drawn.top() + (2 * sy + 1) * drawn.height() / (2 * shownH));
                if (QRect(410, 605, 220, 25).contains(click)) {
                    continue;  // the file name is drawn over the picture there
                }
                const QColor seen = shot.pixelColor(click);
                // The stored pixel whose colour is nearest to what the screen shows.
                const int bestX = qBound(0, seen.red() / 20, w - 1);
                const int bestY = qBound(0, (seen.green() + 5) / 30, h - 1);
                const Argb expected = colour(bestX, bestY);
                const int best = std::abs(seen.red() - int((expected >> 16) & 0xFF)) +
                                 std::abs(seen.green() - int((expected >> 8) & 0xFF));
                QVERIFY2(best <= 4, qPrintable(QStringLiteral("(%1, %2)").arg(sx).arg(sy)));
                // Upright: the corners show what the tag says they show.
                if (sy == 0 && (sx == 0 || sx == shownW - 1)) {
                    QCOMPARE(QPoint(bestX, bestY), sx == 0 ? topLeft : topRight);
                }
                s.Click(click);
                QCOMPARE(s.Dialog.ProbeReadout().value(0), Readout(expected));
            }
        }
        // Neither the pixels nor the tag of the picture change: a converted and saved picture
        // still shows upright everywhere.
        QCOMPARE(s.PixelAt(w - 1, 0), colour(w - 1, 0));
        std::unique_ptr<PropertyItem> kept = ImageProperties(*s.Dialog.Working()).GetItem(0x0112);
        QVERIFY(kept != nullptr);
        QCOMPARE(int(kept->value.at(kept->bigEndian ? 1 : 0)), orientation);
    }

    void eightTurnedPhotosLookTheSame() {
        // The same photo stored in each of the eight ways, each with the tag that turns it back.
        const QString folder = QStringLiteral(VELORA_PHOTOS_DIR "/special/orientation");
        if (!QFileInfo::exists(folder + "/landscape_1.jpg")) {
            QSKIP("sample photos are absent");
        }
        const auto frameOf = [&folder](int n) {
            WindowSession s;
            const bool opened = s.Open(folder + QStringLiteral("/landscape_%1.jpg").arg(n));
            return opened ? s.Dialog.grab().toImage().copy(154, 174, 463, 463) : QImage();
        };
        const QImage upright = frameOf(1);
        QVERIFY(!upright.isNull());
        const auto difference = [&upright](const QImage& other) {
            const long sum = SumOver(upright.rect(), [&](int x, int y) {
                const QColor a = upright.pixelColor(x, y), b = other.pixelColor(x, y);
                return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                       std::abs(a.blue() - b.blue());
            });
            return double(sum) / (3.0 * upright.width() * upright.height());
        };
        // A picture turned wrongly differs by far more than the recompression does.
        QVERIFY(difference(upright.mirrored(true, false)) > 20);
        for (int n : {0, 2, 3, 4, 5, 6, 7, 8}) {
            const QImage shown = frameOf(n);
            QVERIFY(!shown.isNull());
            const double d = difference(shown);
            QVERIFY2(d < 4, qPrintable(QStringLiteral("landscape_%1: %2").arg(n).arg(d)));
        }
    }

    void probeReadoutOfAKnownColourAndItsMarker() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Warm()));
        const QImage before = s.Dialog.grab().toImage();
        // A click without a picture first: it only arms the drag.
        WindowSession empty;
        empty.Click(QPoint(385, 405));
        QVERIFY(!empty.Dialog.IsProbeShown());

        // Of two clicks only the second leaves its marker and readout.
        s.Click(QPoint(250, 250));
        s.Click(QPoint(300, 300));
        const QStringList expected = {
            QStringLiteral("R 200, G 150, B 120  "), QStringLiteral("min 120.000000"),
            QStringLiteral("max 200.000000"),        QStringLiteral("R 55, G 105, B 135  "),
            QStringLiteral("VLRD 0.164992"),         QStringLiteral("VLRS 0.028035"),
            QStringLiteral("VLRB 0.970660")};
        QCOMPARE(s.Dialog.ProbeReadout(), expected);
        // Drawn: the white pixel with its four black neighbours, and white text with a shadow.
        const QImage shot = s.Dialog.grab().toImage();
        QCOMPARE(shot.pixelColor(300, 300), QColor(Qt::white));
        for (const QPoint& n :
             {QPoint(301, 300), QPoint(299, 300), QPoint(300, 301), QPoint(300, 299)}) {
            QCOMPARE(shot.pixelColor(n), QColor(Qt::black));
        }
        for (const QPoint& p : {QPoint(250, 250), QPoint(251, 250), QPoint(250, 249)}) {
            QCOMPARE(shot.pixelColor(p), before.pixelColor(p));
        }
        // Anti-aliased glyphs: white text, and a shadow darker than any pixel of the picture.
        const QRect text(450, 430, 110, 140);
        QVERIFY(SumOver(text, [&shot](int x, int y) {
                    const QColor c = shot.pixelColor(x, y);
                    return std::min({c.red(), c.green(), c.blue()}) >= 235;
                }) > 50);
        QVERIFY(SumOver(text, [&shot](int x, int y) {
                    const QColor c = shot.pixelColor(x, y);
                    return std::max({c.red(), c.green(), c.blue()}) < 90;
                }) > 50);
        // A command's redraw wipes the readout.
        s.Dialog.DrawWindowContents();
        QVERIFY(!s.Dialog.IsProbeShown());
        QCOMPARE(s.Dialog.grab().toImage().pixelColor(300, 300), before.pixelColor(300, 300));
    }

    void probeDuringAPassReadsWhateverThePixelHolds() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Big()));
        QSignalSpy progress(&s.Dialog.Worker(), &ConversionWorker::Progress);
        s.Dialog.OnStartConversion();
        QVERIFY(progress.wait(EndingTimeoutMs));
        for (int i = 0; i < 5; ++i) {
            s.Click(QPoint(600, 300 + i));
            QVERIFY(s.Dialog.IsProbeShown());
            QCOMPARE(s.Dialog.ProbeReadout().size(), 7);
        }
        s.Dialog.OnCancelConversion();
        QVERIFY(s.WaitForEnding());
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::ProbeTest)
#include "ProbeTest.moc"
