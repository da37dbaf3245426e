// The colour probe: the click-to-pixel mapping on pictures whose pixels tell their position, the
// readout of a known colour, the marker, and clicks while a conversion runs.
#include <QFileInfo>
#include <QSignalSpy>

#include "AppTestSupport.h"

namespace velora {

class ProbeTest : public QObject {
    Q_OBJECT

  private:
    PictureFolder Pictures;
    QString Warm;
    QString Big;

  private slots:
    void initTestCase() {
        QVERIFY(Pictures.IsValid());
        Warm = Pictures.Write("warm.png", 80, 60, Rgb(200, 150, 120));
        Big = Pictures.Write("big.png", 3000, 2000, PositionColour);
        QVERIFY(!Warm.isEmpty() && !Big.isEmpty());
    }

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
        QVERIFY(s.Open(QFileInfo::exists(Pictures.Path(name))
                           ? Pictures.Path(name)
                           : Pictures.Write(name, width, height, PositionColour)));
        s.Click(click);
        if (pixel.x() == -1) {
            QVERIFY(!s.Dialog.IsProbeShown());
            return;
        }
        QVERIFY(s.Dialog.IsProbeShown());
        const QStringList lines = s.Dialog.ProbeReadout();
        QCOMPARE(lines.size(), 7);
        const Argb colour = pixel.x() == -2 ? 0xFF000000u : PositionColour(pixel.x(), pixel.y());
        QCOMPARE(lines[0], QString::asprintf("R %d, G %d, B %d  ", int((colour >> 16) & 0xFF),
                                             int((colour >> 8) & 0xFF), int(colour & 0xFF)));
        QCOMPARE(s.Dialog.ProbeMarker(), click);
    }

    void probeReadoutOfAKnownColour() {
        WindowSession s;
        QVERIFY(s.Open(Warm));
        // A click without a picture first: it only arms the drag.
        WindowSession empty;
        empty.Click(QPoint(385, 405));
        QVERIFY(!empty.Dialog.IsProbeShown());

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
        int white = 0;
        int black = 0;
        for (int y = 430; y < 570; ++y) {
            for (int x = 450; x < 560; ++x) {
                const QColor c = shot.pixelColor(x, y);
                // Anti-aliased glyphs: white text, and a shadow darker than any pixel of the
                // picture.
                white += std::min({c.red(), c.green(), c.blue()}) >= 235 ? 1 : 0;
                black += std::max({c.red(), c.green(), c.blue()}) < 90 ? 1 : 0;
            }
        }
        QVERIFY(white > 50);
        QVERIFY(black > 50);
    }

    void twoClicksLeaveOnlyTheSecondMarker() {
        WindowSession s;
        QVERIFY(s.Open(Warm));
        const QImage before = s.Dialog.grab().toImage();
        s.Click(QPoint(250, 250));
        s.Click(QPoint(350, 300));
        const QImage after = s.Dialog.grab().toImage();
        for (const QPoint& p : {QPoint(250, 250), QPoint(251, 250), QPoint(250, 249)}) {
            QCOMPARE(after.pixelColor(p), before.pixelColor(p));
        }
        QCOMPARE(after.pixelColor(350, 300), QColor(Qt::white));
        // A command's redraw wipes the readout.
        s.Dialog.DrawWindowContents();
        QVERIFY(!s.Dialog.IsProbeShown());
        QCOMPARE(s.Dialog.grab().toImage().pixelColor(350, 300), before.pixelColor(350, 300));
    }

    void probeDuringAPassReadsWhateverThePixelHolds() {
        WindowSession s;
        QVERIFY(s.Open(Big));
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
