// The real window on an X server: its size, its place on the screen, the shape cut from the
// skin's key colour, and the window menu's key sent as real key events.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include "AppTestSupport.h"
#include "BitmapResource.h"
#include "MainDialog.h"
#include "Resources.h"

namespace velora {

namespace {

// Where the window belongs on one axis: centred where it fits, at the area's start where not.
int Expected(int start, int room, int extent) {
    return extent <= room ? start + (room - extent) / 2 : start;
}

// Presses keys through the X server's test extension, as a keyboard would.
bool PressKeys(const QString& keys) {
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

}  // namespace

class ShapeTest : public QObject {
    Q_OBJECT

  private:
    PictureFolder Pictures;

  private slots:
    void windowIsSizedPlacedAndShapedBySkin() {
        ScriptedInteraction ui;
        MainDialog dialog(ui);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.size(), QSize(1000, 800));
        QCOMPARE(dialog.frameGeometry().size(), QSize(1000, 800));
        // Inside the free area of the screen whatever its size: centred on an axis where the
        // window fits, against the area's edge where it does not (a 1366 x 768 laptop).
        const QRect screen = dialog.screen()->availableGeometry();
        const QPoint placed(Expected(screen.x(), screen.width(), 1000),
                            Expected(screen.y(), screen.height(), 800));
        QTRY_COMPARE(dialog.frameGeometry().topLeft(), placed);
        QVERIFY(screen.contains(dialog.frameGeometry().topLeft()));
        if (screen.height() < 800) {
            return;  // the shape is checked where the whole window is on the screen
        }

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
                                    ->grabWindow(0, placed.x(), placed.y(), 1000, 800)
                                    .toImage()
                                    .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(onScreen.size(), QSize(1000, 800));
        long cut = 0, wrong = 0, magentaShown = 0;
        for (int y = 0; y < skin.height(); ++y) {
            for (int x = 0; x < skin.width(); ++x) {
                const bool key = (skin.pixel(x, y) & 0xFFFFFF) == SkinKeyRgb;
                const bool inside = (shape.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
                cut += key ? 1 : 0;
                wrong += key == inside ? 1 : 0;
                magentaShown += (onScreen.pixel(x, y) & 0xFFFFFF) == SkinKeyRgb ? 1 : 0;
            }
        }
        QVERIFY(cut > 0);
        QCOMPARE(wrong, 0L);
        QCOMPARE(magentaShown, 0L);
        // A point of the body shows the skin itself.
        QCOMPARE(onScreen.pixel(100, 600) & 0xFFFFFF, skin.pixel(100, 600) & 0xFFFFFF);
    }

    void altSpaceOpensTheMenuAndPressesNoButton() {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QSKIP("xdotool is not installed");
        }
        QVERIFY(Pictures.IsValid());
        WindowSession s;
        QVERIFY(s.Exposed);
        QVERIFY(s.Open(Pictures.Write("grey.png", 64, 48, Rgb(128, 128, 128))));
        s.Dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.Dialog));
        // With each of the skinned buttons focused in turn: Gray Contrast (which Space would
        // untick), Open (which would ask for a file) and the window itself.
        BitmapButton& contrast = s.Dialog.Button(IDC_GRAY_CONTRAST);
        for (QWidget* focus :
             {static_cast<QWidget*>(&contrast), static_cast<QWidget*>(&s.Dialog.Button(IDC_OPEN)),
              static_cast<QWidget*>(&s.Dialog)}) {
            focus->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), focus);
            QSignalSpy clicked(&contrast, &QAbstractButton::clicked);
            const std::size_t asked = s.Ui.FileRequests.size();
            // The menu runs its own event loop: it is read and closed from within it.
            QStringList seen;
            QTimer watch;
            watch.setInterval(20);
            connect(&watch, &QTimer::timeout, [&seen] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    for (QAction* action : menu->actions()) {
                        seen << (action->isSeparator() ? QStringLiteral("-") : action->text());
                    }
                    menu->close();
                }
            });
            watch.start();
            QVERIFY(PressKeys(QStringLiteral("alt+space")));
            QTRY_VERIFY(!seen.isEmpty());
            watch.stop();
            QCOMPARE(seen.size(), 4);
            QCOMPARE(seen.at(3), QStringLiteral("Velora 정보(&A)..."));
            QTest::qWait(50);
            QVERIFY(s.Dialog.isVisible());
            QCOMPARE(contrast.GetCheck(), 1);
            QCOMPARE(clicked.count(), 0);
            QCOMPARE(s.Ui.FileRequests.size(), asked);
        }
        // Space alone still presses the focused button, as it should.
        contrast.setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&contrast));
        QVERIFY(PressKeys(QStringLiteral("space")));
        QTRY_COMPARE(contrast.GetCheck(), 0);
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::ShapeTest)
#include "ShapeTest.moc"
