// The real window on an X server: its size, its place on the screen, the shape cut from the
// skin's key colour, the window menu's key sent as real key events, and (run again at
// QT_SCALE_FACTOR=2) the skin, faces, tracks and photo drawn with the screen's own pixels.
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
#include "WindowGeometry.h"

namespace velora {

namespace {

// Presses keys through the X server's test extension, as a keyboard would.
bool PressKeys(const QString& keys) {
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

// Presses Shift and waits until the window has its release: the X server delivers key events
// in order, so every key pressed before has been handled by then.
bool AfterEarlierKeys() {
    KeyCounter watch(QEvent::KeyRelease, Qt::Key_Shift);
    qApp->installEventFilter(&watch);
    const bool seen =
        PressKeys(QStringLiteral("shift")) && QTest::qWaitFor([&watch] { return watch.Count > 0; });
    qApp->removeEventFilter(&watch);
    return seen;
}

}  // namespace

class ShapeTest : public QObject {
    Q_OBJECT

  private:
    TestPictures Pictures;

    // Aligned 2 x 2 blocks of a grab at device pixel ratio 2 whose four pixels are not all the
    // same, per thousand blocks of area (logical coordinates). A bitmap merely doubled has none.
    static int UnevenBlocksPerMille(const QImage& grab, const QRect& area) {
        const long uneven = SumOver(area, [&grab](int x, int y) {
            const QRgb a = grab.pixel(2 * x, 2 * y);
            return a != grab.pixel(2 * x + 1, 2 * y) || a != grab.pixel(2 * x, 2 * y + 1) ||
                   a != grab.pixel(2 * x + 1, 2 * y + 1);
        });
        return area.isEmpty() ? 0 : int(1000 * uneven / (area.width() * area.height()));
    }

  private slots:
    void windowIsSizedPlacedAndShapedBySkin() {
        WindowSession s;
        QVERIFY(s.Exposed);
        MainDialog& dialog = s.Dialog;
        QCOMPARE(dialog.size(), QSize(1000, 800));
        QCOMPARE(dialog.frameGeometry().size(), QSize(1000, 800));
        // Inside the free area of the screen whatever its size, where the placing rule worked
        // through by the geometry test puts it (on a 1366 x 768 laptop, against the top).
        const QRect screen = dialog.screen()->availableGeometry();
        const QPoint placed = PlaceOnScreen(screen, QSize(1000, 800));
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
        // On a screen of pixel ratio 2 the grab has twice the pixels each way.
        const QImage onScreen = dialog.screen()
                                    ->grabWindow(0, placed.x(), placed.y(), 1000, 800)
                                    .toImage()
                                    .convertToFormat(QImage::Format_RGB32);
        const int n = qRound(dialog.devicePixelRatioF());
        QCOMPARE(onScreen.size(), QSize(1000, 800) * n);
        const auto magenta = [](const QImage& image) {
            return [&image](int x, int y) { return (image.pixel(x, y) & 0xFFFFFF) == SkinKeyRgb; };
        };
        QVERIFY(SumOver(skin.rect(), magenta(skin)) > 0);
        QCOMPARE(SumOver(skin.rect(),
                         [&](int x, int y) {
                             return magenta(skin)(x, y) ==
                                    ((shape.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF);
                         }),
                 0L);
        QCOMPARE(SumOver(onScreen.rect(), magenta(onScreen)), 0L);
        // A point of the body shows the skin itself, the twin drawn for this screen's ratio.
        const QImage drawn = LoadBitmapResource(IDB_SKIN, n);
        QCOMPARE(drawn.size(), QSize(1000, 800) * n);
        QCOMPARE(onScreen.pixel(100 * n, 600 * n) & 0xFFFFFF,
                 drawn.pixel(100 * n, 600 * n) & 0xFFFFFF);
    }

    void sharpOnAScreenOfPixelRatio2() {
        if (qApp->devicePixelRatio() != 2.0) {
            QSKIP("run with QT_SCALE_FACTOR=2 (ctest app_shape_2x)");
        }
        // A photo with detail finer than the frame's pixels: every pixel its own colour.
        WindowSession s;
        QVERIFY(s.Exposed);
        QVERIFY(s.Open(Pictures.Write("fine.png", 1200, 900, PositionColour)));
        QCOMPARE(s.Dialog.size(), QSize(1000, 800));
        const QImage grab = s.Dialog.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(grab.size(), QSize(2000, 1600));
        // Areas drawn by the bitmaps alone, away from the texts the window and buttons write:
        // the skin's name plate, its grip and its bevelled top edge, the left end of the Open
        // button's face, a check box, a slider's track, and the middle of the photo.
        const QRect open = s.Dialog.Button(IDC_OPEN).geometry();
        const QRect check = s.Dialog.Button(IDC_GRAY_CONTRAST).geometry();
        const struct {
            const char* what;
            QRect area;
        } areas[] = {
            {"skin name plate", QRect(130, 100, 320, 50)},
            {"skin grip", QRect(484, 108, 150, 24)},
            {"skin top edge", QRect(400, 80, 200, 20)},
            {"Open face", QRect(open.left(), open.top(), 14, open.height())},
            {"check face", QRect(check.topLeft(), QSize(20, 20))},
            {"slider track", s.Dialog.Slider(IDC_SLIDER_COLOR).geometry()},
            {"photo", QRect(300, 300, 100, 100)},
        };
        for (const auto& a : areas) {
            const int uneven = UnevenBlocksPerMille(grab, a.area);
            QVERIFY2(
                uneven >= 20,
                qPrintable(
                    QStringLiteral("%1: %2 per mille").arg(QLatin1String(a.what)).arg(uneven)));
        }
    }

    void tabMarksEachControlAndTheSlidersTakeTheirKeys() {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QSKIP("xdotool is not installed");
        }
        WindowSession s;
        QVERIFY(s.Exposed);
        QVERIFY(s.Open(Pictures.Write("tab.png", 64, 48, Rgb(128, 128, 128))));
        s.Dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.Dialog));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&s.Dialog));
        // The ready state's Tab order, skipping what is disabled or hidden; each control, drawn
        // with the focus, differs from itself drawn without it.
        const int order[] = {IDC_OPEN,          IDC_START,        IDOK,
                             IDC_GRAY_CONTRAST, IDC_REDDISH_FILM, IDC_BLUEISH_FILM,
                             IDC_SLIDER_COLOR,  IDC_SLIDER_GRAY,  IDC_OPEN};
        for (const int id : order) {
            QWidget* control = s.Dialog.Control(id);
            const QImage before = control->grab().toImage();
            QVERIFY(PressKeys(QStringLiteral("Tab")));
            QTRY_COMPARE(QApplication::focusWidget(), control);
            const QImage after = control->grab().toImage();
            QCOMPARE(after.size(), before.size());
            const long differing = SumOver(after.rect(), [&](int x, int y) {
                return after.pixel(x, y) != before.pixel(x, y);
            });
            QVERIFY2(differing >= 20,
                     qPrintable(QStringLiteral("control %1: %2 pixels").arg(id).arg(differing)));
        }
        // Back to the Gray slider, then its keys: each press lands before the next is sent.
        QVERIFY(PressKeys(QStringLiteral("shift+Tab")));
        BitmapSlider& gray = s.Dialog.Slider(IDC_SLIDER_GRAY);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&gray));
        const struct {
            const char* Key;
            int Position;
        } keys[] = {{"Right", 42}, {"Up", 41},   {"Next", 66}, {"Prior", 41},
                    {"End", 90},   {"Down", 90}, {"Home", 0},  {"Left", 0}};
        for (const auto& key : keys) {
            QVERIFY(PressKeys(QString::fromLatin1(key.Key)));
            QTRY_COMPARE(gray.Position(), key.Position);
        }
    }

    void altSpaceOpensTheMenuAndPressesNoButton() {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QSKIP("xdotool is not installed");
        }
        WindowSession s;
        QVERIFY(s.Exposed);
        QVERIFY(s.Open(Pictures.Grey()));
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
            QPoint shownAt;
            connect(&watch, &QTimer::timeout, [&seen, &shownAt] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    shownAt = menu->geometry().topLeft();
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
            // On the skin, not at the window's corner outside its shape.
            QVERIFY2(s.Dialog.mask().contains(s.Dialog.mapFromGlobal(shownAt)),
                     qPrintable(QStringLiteral("%1, %2").arg(shownAt.x()).arg(shownAt.y())));
            QCOMPARE(seen.at(3), QStringLiteral("Velora 정보(&A)..."));
            QVERIFY(AfterEarlierKeys());
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
