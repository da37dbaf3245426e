// The main window without a conversion: start-up, painting, dragging, the film options, the
// window menu, About, F1 and the closing keys.
#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QtTest>

#include "AboutDialog.h"
#include "WindowSession.h"

namespace velora {

namespace {

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, buttons,
                      modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

// The darkest channel value in an area: about 0 where black text is drawn.
int DarkestChannel(const QImage& image, const QRect& area) {
    int darkest = 255;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            darkest = std::min({darkest, c.red(), c.green(), c.blue()});
        }
    }
    return darkest;
}

const QRect ReddishLabel(843, 493, 70, 14);
const QRect BlueishLabel(843, 517, 70, 14);
const QColor Red(255, 0, 0);
const QColor FrameGrey(127, 127, 127);

class KeyWatcher : public QObject {
  public:
    int F1Presses = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
            ++F1Presses;
        }
        return false;
    }
};

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    PictureFolder Pictures;
    QString RedWide;
    QString PositionPicture;

  private slots:
    void initTestCase() {
        QVERIFY(Pictures.IsValid());
        RedWide = Pictures.WritePng("red.png", 1000, 500, [](int, int) { return Rgb(255, 0, 0); });
        PositionPicture = Pictures.WritePng("positions.png", 300, 200, PositionColour);
        QVERIFY(!RedWide.isEmpty());
        QVERIFY(!PositionPicture.isEmpty());
    }

    void startsSizedTitledAndWithoutPicture() {
        WindowSession s;
        QCOMPARE(s.Dialog.size(), QSize(1000, 800));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora"));
        QVERIFY(s.Dialog.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(s.Dialog.isWindow());
        QVERIFY(!s.Dialog.windowIcon().isNull());
        const QString diff = StateDifferences(s.Dialog, ControlState::NoPicture, 0);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        for (int id : {IDC_CHECK_1006, IDC_CHECK_1007, IDC_SLIDER_1015}) {
            QVERIFY2(!s.Dialog.Control(id)->isVisible(), qPrintable(QString::number(id)));
        }
        QCOMPARE(s.Dialog.Slider(IDC_SLIDER_COLOR).Position(), 35);
        QCOMPARE(s.Dialog.Slider(IDC_SLIDER_GRAY).Position(), 41);
        QCOMPARE(s.Dialog.Slider(IDC_SLIDER_1015).Position(), 100);
        QCOMPARE(s.Dialog.Button(IDC_OPEN).text(), QStringLiteral("열  기"));
        QCOMPARE(s.Dialog.Button(IDOK).text(), QStringLiteral("종  료"));
        // Controls stand where the layout puts them (the buttons sized by their faces).
        QCOMPARE(s.Dialog.Control(IDC_OPEN)->geometry(), QRect(738, 176, 80, 30));
        QCOMPARE(s.Dialog.Control(IDOK)->geometry(), QRect(812, 337, 80, 30));
        QCOMPARE(s.Dialog.Control(IDC_PROGRESS)->geometry(), QRect(98, 323, 28, 152));
        QCOMPARE(s.Dialog.Control(IDC_SLIDER_GRAY)->geometry(), QRect(840, 423, 100, 20));
        QCOMPARE(s.Dialog.Control(IDC_REDDISH_FILM)->geometry(), QRect(820, 495, 14, 14));

        // Nothing inside the frame but its grey fill.
        const QImage shot = s.Dialog.grab().toImage();
        QCOMPARE(shot.pixelColor(385, 405), FrameGrey);
        QCOMPARE(shot.pixelColor(154, 174), FrameGrey);
        QCOMPARE(shot.pixelColor(150, 170), QColor(50, 50, 50));
    }

    void pictureIsFittedIntoTheFrame_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QRect>("drawn");
        QTest::newRow("1000x500") << 1000 << 500 << QRect(154, 290, 462, 231);
        QTest::newRow("500x1000") << 500 << 1000 << QRect(270, 174, 231, 462);
        QTest::newRow("square") << 640 << 640 << QRect(154, 174, 462, 463);
    }

    void pictureIsFittedIntoTheFrame() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QRect, drawn);
        const QString path =
            Pictures.WritePng(QStringLiteral("fit%1x%2.png").arg(width).arg(height), width, height,
                              [](int, int) { return Rgb(255, 0, 0); });
        WindowSession s;
        QVERIFY(s.Open(path));
        const QImage shot = s.Dialog.grab().toImage();
        const int l = drawn.left(), t = drawn.top();
        const int r = drawn.left() + drawn.width() - 1, b = drawn.top() + drawn.height() - 1;
        for (const QPoint& inside : {QPoint(l, t), QPoint(r, t), QPoint(l, b), QPoint(r, b)}) {
            QVERIFY2(shot.pixelColor(inside) == Red,
                     qPrintable(QStringLiteral("(%1,%2)").arg(inside.x()).arg(inside.y())));
        }
        for (const QPoint& outside : {QPoint(l - 1, t), QPoint(l, t - 1), QPoint(r + 1, t),
                                      QPoint(r, b + 1), QPoint(l, b + 1), QPoint(l - 1, b)}) {
            QVERIFY2(shot.pixelColor(outside) == FrameGrey,
                     qPrintable(QStringLiteral("(%1,%2)").arg(outside.x()).arg(outside.y())));
        }
    }

    void fileNameIsDrawnUnderThePicture() {
        WindowSession s;
        QVERIFY(s.Open(RedWide));
        const QImage shown = s.Dialog.grab().toImage();
        // The name is drawn in light grey on the frame fill, below the wide picture.
        int light = 0;
        for (int y = 610; y < 626; ++y) {
            for (int x = 415; x < 480; ++x) {
                light += shown.pixelColor(x, y).red() > 170 ? 1 : 0;
            }
        }
        QVERIFY(light > 10);
    }

    void dragMovesOnlyAfterAnchorAndWithLeftAlone() {
        WindowSession s;
        const QPoint start = s.Dialog.pos();
        const QPoint body(100, 600);
        // Before any press nothing moves.
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(9, 9), Qt::NoButton, Qt::LeftButton);
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(19, 19), Qt::NoButton,
                  Qt::LeftButton);
        QCOMPARE(s.Dialog.pos(), start);

        SendMouse(&s.Dialog, QEvent::MouseButtonPress, body, Qt::LeftButton, Qt::LeftButton);
        // The first move takes the anchor only.
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(3, 4), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(s.Dialog.pos(), start);
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(8, 10), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(s.Dialog.pos(), start + QPoint(5, 6));
        // Shift, Ctrl or a second button hold the window still.
        const QPoint moved = s.Dialog.pos();
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(20, 20), Qt::NoButton, Qt::LeftButton,
                  Qt::ShiftModifier);
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(20, 20), Qt::NoButton, Qt::LeftButton,
                  Qt::ControlModifier);
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(20, 20), Qt::NoButton,
                  Qt::LeftButton | Qt::RightButton);
        QCOMPARE(s.Dialog.pos(), moved);

        // After Open nothing moves until the next press.
        QVERIFY(s.Open(PositionPicture));
        const QPoint opened = s.Dialog.pos();
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(30, 30), Qt::NoButton,
                  Qt::LeftButton);
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(40, 40), Qt::NoButton,
                  Qt::LeftButton);
        QCOMPARE(s.Dialog.pos(), opened);
        SendMouse(&s.Dialog, QEvent::MouseButtonPress, body, Qt::LeftButton, Qt::LeftButton);
        SendMouse(&s.Dialog, QEvent::MouseMove, body, Qt::NoButton, Qt::LeftButton);
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(-7, 2), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(s.Dialog.pos(), opened + QPoint(-7, 2));

        // A double click's second press arms nothing.
        QVERIFY(s.Open(PositionPicture));
        SendMouse(&s.Dialog, QEvent::MouseButtonDblClick, body, Qt::LeftButton, Qt::LeftButton);
        SendMouse(&s.Dialog, QEvent::MouseMove, body, Qt::NoButton, Qt::LeftButton);
        SendMouse(&s.Dialog, QEvent::MouseMove, body + QPoint(5, 5), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(s.Dialog.pos(), opened + QPoint(-7, 2));
    }

    void grayContrastGreysTheFilmOptions() {
        WindowSession s;
        QVERIFY(s.Open(PositionPicture));
        QImage shot = s.Dialog.grab().toImage();
        QVERIFY(DarkestChannel(shot, ReddishLabel) < 60);
        QVERIFY(s.Dialog.FilmBox(IDC_REDDISH_FILM).isEnabled());

        QTest::mouseClick(&s.Dialog.Button(IDC_GRAY_CONTRAST), Qt::LeftButton);
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 0);
        QVERIFY(!s.Dialog.AreFilmOptionsAvailable());
        // Greyed, and still so after the window is painted again.
        for (int paint = 0; paint < 2; ++paint) {
            s.Dialog.DrawWindowContents();
            shot = s.Dialog.grab().toImage();
            QVERIFY(!s.Dialog.FilmBox(IDC_REDDISH_FILM).isEnabled());
            QVERIFY(!s.Dialog.FilmBox(IDC_BLUEISH_FILM).isEnabled());
            const int reddish = DarkestChannel(shot, ReddishLabel);
            const int blueish = DarkestChannel(shot, BlueishLabel);
            QVERIFY2(reddish > 120 && reddish < 190, qPrintable(QString::number(reddish)));
            QVERIFY2(blueish > 120 && blueish < 190, qPrintable(QString::number(blueish)));
        }

        QTest::mouseClick(&s.Dialog.Button(IDC_GRAY_CONTRAST), Qt::LeftButton);
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 1);
        shot = s.Dialog.grab().toImage();
        QVERIFY(s.Dialog.FilmBox(IDC_BLUEISH_FILM).isEnabled());
        QVERIFY(DarkestChannel(shot, BlueishLabel) < 60);
    }

    void filmBoxesExcludeEachOther() {
        WindowSession s;
        QVERIFY(s.Open(PositionPicture));
        QCheckBox& reddish = s.Dialog.FilmBox(IDC_REDDISH_FILM);
        QCheckBox& blueish = s.Dialog.FilmBox(IDC_BLUEISH_FILM);
        QTest::mouseClick(&blueish, Qt::LeftButton);
        QVERIFY(blueish.isChecked());
        QTest::mouseClick(&reddish, Qt::LeftButton);
        QVERIFY(reddish.isChecked());
        QVERIFY(!blueish.isChecked());
        QTest::mouseClick(&reddish, Qt::LeftButton);
        QVERIFY(!reddish.isChecked());
        QVERIFY(!blueish.isChecked());
    }

    void windowMenuOffersMinimiseCloseAndAbout() {
        WindowSession s;
        QStringList seen;
        QTimer::singleShot(0, [&seen] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions()) {
                    seen << (action->isSeparator() ? QStringLiteral("-") : action->text());
                }
                menu->close();
            }
        });
        // A right click on the skin outside the frame and the controls.
        SendMouse(&s.Dialog, QEvent::MouseButtonPress, QPoint(100, 600), Qt::RightButton,
                  Qt::RightButton);
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen[2], QStringLiteral("-"));
        QCOMPARE(seen[3], LoadResourceString(IDS_ABOUTBOX));
        QCOMPARE(seen[3], QStringLiteral("Velora 정보(&A)..."));

        // Alt+Space opens the same menu.
        seen.clear();
        QTimer::singleShot(0, [&seen] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                seen << QString::number(menu->actions().size());
                menu->close();
            }
        });
        QTest::keyClick(&s.Dialog, Qt::Key_Space, Qt::AltModifier);
        QCOMPARE(seen, QStringList{QStringLiteral("4")});

        // On the picture the right button opens nothing.
        QVERIFY(s.Open(RedWide));
        seen.clear();
        bool popup = false;
        QTimer::singleShot(0, [&popup] {
            if (QWidget* menu = QApplication::activePopupWidget()) {
                popup = true;
                menu->close();
            }
        });
        SendMouse(&s.Dialog, QEvent::MouseButtonPress, QPoint(300, 400), Qt::RightButton,
                  Qt::RightButton);
        QCoreApplication::processEvents();
        QVERIFY(!popup);
    }

    void aboutShowsNameVersionAndOk() {
        WindowSession s;
        bool checked = false;
        s.Ui.OnModal = [&checked, &s](QDialog& dialog) {
            auto* about = qobject_cast<AboutDialog*>(&dialog);
            QVERIFY(about != nullptr);
            QCOMPARE(about->windowTitle(), QStringLiteral("Velora 정보"));
            QCOMPARE(about->NameLabel().text(), QStringLiteral("Velora"));
            QCOMPARE(about->VersionBox().text(), QStringLiteral("VLR v3.0 (beta)"));
            QVERIFY(about->VersionBox().isReadOnly());
            QVERIFY(about->VersionBox().alignment() & Qt::AlignHCenter);
            QCOMPARE(about->OkButton().text(), QStringLiteral("확    인"));
            QVERIFY(about->OkButton().isDefault());
            QVERIFY(!about->IconLabel().pixmap().isNull());
            QCOMPARE(about->parentWidget(), static_cast<QWidget*>(&s.Dialog));
            // OK closes it.
            about->show();
            QMetaObject::invokeMethod(const_cast<QPushButton*>(&about->OkButton()), "click");
            QVERIFY(!about->isVisible());
            QCOMPARE(about->result(), int(QDialog::Accepted));
            checked = true;
        };
        const std::unique_ptr<QMenu> menu = s.Dialog.BuildSystemMenu();
        menu->actions().at(3)->trigger();
        QCOMPARE(s.Ui.ModalRuns, 1);
        QVERIFY(checked);
    }

    void f1OpensTheWebPageAndStillReachesTheWindow() {
        WindowSession s;
        KeyWatcher watcher;
        s.Dialog.installEventFilter(&watcher);
        s.Dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.Dialog));
        QAbstractButton& open = s.Dialog.Button(IDC_OPEN);
        open.setFocus();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&open));
        QTest::keyClick(&open, Qt::Key_F1);
        QCOMPARE(s.Ui.OpenedUrls.size(), std::size_t(1));
        QCOMPARE(s.Ui.OpenedUrls[0], QUrl(QStringLiteral("https://velora.example/")));
        QCOMPARE(watcher.F1Presses, 1);
        QTest::keyClick(&open, Qt::Key_F1);
        QCOMPARE(s.Ui.OpenedUrls.size(), std::size_t(2));
        QVERIFY(s.Dialog.isVisible());
        QCOMPARE(s.Ui.ModalRuns, 0);
    }

    void escapeEnterExitAndCloseEndTheWindow() {
        {
            WindowSession s;
            QTest::keyClick(&s.Dialog, Qt::Key_Escape);
            QVERIFY(!s.Dialog.isVisible());
        }
        {
            WindowSession s;
            QTest::keyClick(&s.Dialog, Qt::Key_Return);
            QVERIFY(!s.Dialog.isVisible());
        }
        {
            WindowSession s;
            QTest::mouseClick(&s.Dialog.Button(IDOK), Qt::LeftButton);
            QVERIFY(!s.Dialog.isVisible());
        }
        {
            WindowSession s;
            const std::unique_ptr<QMenu> menu = s.Dialog.BuildSystemMenu();
            menu->actions().at(1)->trigger();
            QVERIFY(!s.Dialog.isVisible());
        }
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::WindowTest)
#include "WindowTest.moc"
