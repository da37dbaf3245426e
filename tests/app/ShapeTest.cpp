// The real window on an X server: its size, its place on the screen and the shape cut from the
// skin's key colour.
#include <QPainter>
#include <QScreen>
#include <QtTest>

#include "AppTestSupport.h"
#include "BitmapResource.h"
#include "MainDialog.h"
#include "Resources.h"

namespace velora {

class ShapeTest : public QObject {
    Q_OBJECT

  private slots:
    void windowIsSizedCentredAndShapedBySkin() {
        ScriptedInteraction ui;
        MainDialog dialog(ui);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.size(), QSize(1000, 800));
        QCOMPARE(dialog.frameGeometry().size(), QSize(1000, 800));
        const QRect screen = dialog.screen()->availableGeometry();
        const QPoint centred(screen.x() + (screen.width() - 1000) / 2,
                             screen.y() + (screen.height() - 800) / 2);
        QTRY_COMPARE(dialog.frameGeometry().topLeft(), centred);

        // The shape, pixel by pixel, against the skin's own key colour: paint the mask white on
        // black and compare with "not magenta".
        const QImage skin = LoadBitmapResource(IDB_SKIN).convertToFormat(QImage::Format_RGB32);
        QImage shape(skin.size(), QImage::Format_RGB32);
        shape.fill(Qt::black);
        {
            QPainter painter(&shape);
            painter.setClipRegion(dialog.mask());
            painter.fillRect(shape.rect(), Qt::white);
        }
        // What the X server shows: the skin where the shape is, the root window elsewhere.
        const QImage onScreen = dialog.screen()
                                    ->grabWindow(0, centred.x(), centred.y(), 1000, 800)
                                    .toImage()
                                    .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(onScreen.size(), QSize(1000, 800));
        long cut = 0, wrong = 0, magentaShown = 0;
        for (int y = 0; y < skin.height(); ++y) {
            for (int x = 0; x < skin.width(); ++x) {
                const bool key = (skin.pixel(x, y) & 0xFFFFFF) == 0xFF00FF;
                const bool inside = (shape.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
                cut += key ? 1 : 0;
                wrong += key == inside ? 1 : 0;
                magentaShown += (onScreen.pixel(x, y) & 0xFFFFFF) == 0xFF00FF ? 1 : 0;
            }
        }
        QVERIFY(cut > 0);
        QCOMPARE(wrong, 0L);
        QCOMPARE(magentaShown, 0L);
        // A point of the body shows the skin itself.
        QCOMPARE(onScreen.pixel(100, 600) & 0xFFFFFF, skin.pixel(100, 600) & 0xFFFFFF);
    }
};

}  // namespace velora

QTEST_MAIN(velora::ShapeTest)
#include "ShapeTest.moc"
