// The main window without a conversion: start-up, painting, dragging, the film options, the
// window menu, About, F1 and its user guide, and the closing keys.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

#include "AboutDialog.h"
#include "AppTestSupport.h"

namespace velora {

namespace {

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, buttons,
                      modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

// The texts of the pop-up menu that `open` brings up ("-" for a separator); nothing when none.
std::optional<QStringList> PopupTexts(const std::function<void()>& open) {
    std::optional<QStringList> seen;
    QTimer::singleShot(0, [&seen] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            seen.emplace();
            for (QAction* action : popup->actions()) {
                *seen << (action->isSeparator() ? QStringLiteral("-") : action->text());
            }
            popup->close();
        }
    });
    open();
    QCoreApplication::processEvents();
    return seen;
}

// The darkest channel value in an area: about 0 where black text is drawn.
int DarkestChannel(const QImage& image, const QRect& area) {
    int darkest = 255;
    SumOver(area, [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        darkest = std::min({darkest, c.red(), c.green(), c.blue()});
        return false;
    });
    return darkest;
}

const QRect ReddishLabel(843, 493, 70, 14);
const QRect BlueishLabel(843, 517, 70, 14);
const QColor Red(255, 0, 0);
const QColor FrameGrey(127, 127, 127);

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    TestPictures Pictures;

  private slots:
    void startsSizedTitledAndWithoutPicture() {
        WindowSession s;
        QCOMPARE(s.Dialog.size(), QSize(1000, 800));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora"));
        QVERIFY(s.Dialog.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!s.Dialog.windowIcon().isNull());
        VELORA_VERIFY_STATE(s.Dialog, ControlState::NoPicture, 0);
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
        // 1000 x 500: r = 2, height trunc(231.5), top 405 - trunc(115.75). A square spans 462
        // across but 463 down: the short side comes from 463.
        QTest::newRow("1000x500") << 1000 << 500 << QRect(154, 290, 462, 231);
        QTest::newRow("500x1000") << 500 << 1000 << QRect(270, 174, 231, 462);
        QTest::newRow("square") << 640 << 640 << QRect(154, 174, 462, 463);
    }

    void pictureIsFittedIntoTheFrame() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QRect, drawn);
        WindowSession s;
        QVERIFY(s.Open(Pictures.Write(QStringLiteral("fit%1x%2.png").arg(width).arg(height), width,
                                      height, Rgb(255, 0, 0))));
        const QImage shot = s.Dialog.grab().toImage();
        const int l = drawn.left(), t = drawn.top();
        const int r = drawn.left() + drawn.width() - 1, b = drawn.top() + drawn.height() - 1;
        const auto where = [](QPoint p) { return QStringLiteral("(%1,%2)").arg(p.x()).arg(p.y()); };
        for (const QPoint& inside : {QPoint(l, t), QPoint(r, t), QPoint(l, b), QPoint(r, b)}) {
            QVERIFY2(shot.pixelColor(inside) == Red, qPrintable(where(inside)));
        }
        for (const QPoint& outside : {QPoint(l - 1, t), QPoint(l, t - 1), QPoint(r + 1, t),
                                      QPoint(r, b + 1), QPoint(l, b + 1), QPoint(l - 1, b)}) {
            QVERIFY2(shot.pixelColor(outside) == FrameGrey, qPrintable(where(outside)));
        }
        if (width == 1000) {
            // The name is drawn in light grey on the frame fill, below the wide picture.
            QVERIFY(SumOver(QRect(415, 610, 65, 16), [&shot](int x, int y) {
                        return shot.pixelColor(x, y).red() > 170;
                    }) > 10);
        }
    }

    // A desktop that offers moving (native Wayland, most X11 window managers) is handed the drag
    // at the move the window would first follow, and moves the window from there; where it
    // declines (as offscreen), the window moves itself. Either way it is asked once per drag.
    void dragMovesOnlyAfterAnchorAndWithLeftAlone_data() {
        QTest::addColumn<bool>("offered");
        QTest::newRow("declined") << false;
        QTest::newRow("offered") << true;
    }

    void dragMovesOnlyAfterAnchorAndWithLeftAlone() {
        QFETCH(bool, offered);
        WindowSession s;
        s.Ui.SystemMoveOffered = offered;
        const QPoint body(100, 600);
        const auto move = [&](QPoint by, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                              Qt::MouseButtons buttons = Qt::LeftButton) {
            SendMouse(&s.Dialog, QEvent::MouseMove, body + by, Qt::NoButton, buttons, modifiers);
        };
        const auto press = [&](QEvent::Type type = QEvent::MouseButtonPress) {
            SendMouse(&s.Dialog, type, body, Qt::LeftButton, Qt::LeftButton);
        };
        // Where the window stands after a drag by `by` from `from`.
        const auto dragged = [offered](QPoint from, QPoint by) {
            return offered ? from : from + by;
        };
        const QPoint start = s.Dialog.pos();
        // Before any press nothing moves.
        move({9, 9});
        move({19, 19});
        QCOMPARE(s.Dialog.pos(), start);
        press();
        // The first move takes the anchor only.
        move({3, 4});
        QCOMPARE(s.Dialog.pos(), start);
        QCOMPARE(s.Ui.SystemMoves, 0);
        move({8, 10});
        QCOMPARE(s.Dialog.pos(), dragged(start, {5, 6}));
        move({10, 12});
        QCOMPARE(s.Dialog.pos(), dragged(start, {12, 14}));
        QCOMPARE(s.Ui.SystemMoves, 1);
        // Shift, Ctrl or a second button hold the window still.
        move({20, 20}, Qt::ShiftModifier);
        move({20, 20}, Qt::ControlModifier);
        move({20, 20}, Qt::NoModifier, Qt::LeftButton | Qt::RightButton);
        QCOMPARE(s.Dialog.pos(), dragged(start, {12, 14}));

        // After Open nothing moves until the next press.
        QVERIFY(s.Open(Pictures.Positions()));
        const QPoint opened = s.Dialog.pos();
        move({30, 30});
        move({40, 40});
        QCOMPARE(s.Dialog.pos(), opened);
        press();
        move({0, 0});
        move({-7, 2});
        QCOMPARE(s.Dialog.pos(), dragged(opened, {-7, 2}));

        // A double click's second press arms nothing.
        QVERIFY(s.Open(Pictures.Positions()));
        press(QEvent::MouseButtonDblClick);
        move({0, 0});
        move({5, 5});
        QCOMPARE(s.Dialog.pos(), dragged(opened, {-7, 2}));
        QCOMPARE(s.Ui.SystemMoves, 2);
    }

    void grayContrastGreysTheFilmsWhichExcludeEachOther() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Positions()));
        QVERIFY(DarkestChannel(s.Dialog.grab().toImage(), ReddishLabel) < 60);
        QVERIFY(s.Dialog.FilmBox(IDC_REDDISH_FILM).isEnabled());
        // The two films exclude each other.
        QCheckBox& reddish = s.Dialog.FilmBox(IDC_REDDISH_FILM);
        QCheckBox& blueish = s.Dialog.FilmBox(IDC_BLUEISH_FILM);
        QTest::mouseClick(&blueish, Qt::LeftButton);
        QVERIFY(blueish.isChecked());
        QTest::mouseClick(&reddish, Qt::LeftButton);
        QVERIFY(reddish.isChecked() && !blueish.isChecked());
        QTest::mouseClick(&blueish, Qt::LeftButton);
        QVERIFY(blueish.isChecked() && !reddish.isChecked());
        QTest::mouseClick(&blueish, Qt::LeftButton);
        QVERIFY(!reddish.isChecked() && !blueish.isChecked());

        QTest::mouseClick(&s.Dialog.Button(IDC_GRAY_CONTRAST), Qt::LeftButton);
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 0);
        QVERIFY(!s.Dialog.AreFilmOptionsAvailable());
        // Greyed, and still so after the window is painted again.
        for (int paint = 0; paint < 2; ++paint) {
            s.Dialog.DrawWindowContents();
            const QImage shot = s.Dialog.grab().toImage();
            QVERIFY(!s.Dialog.FilmBox(IDC_REDDISH_FILM).isEnabled());
            QVERIFY(!s.Dialog.FilmBox(IDC_BLUEISH_FILM).isEnabled());
            for (const QRect& label : {ReddishLabel, BlueishLabel}) {
                const int darkest = DarkestChannel(shot, label);
                QVERIFY2(darkest > 120 && darkest < 190, qPrintable(QString::number(darkest)));
            }
        }

        QTest::mouseClick(&s.Dialog.Button(IDC_GRAY_CONTRAST), Qt::LeftButton);
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 1);
        QVERIFY(s.Dialog.FilmBox(IDC_BLUEISH_FILM).isEnabled());
        QVERIFY(DarkestChannel(s.Dialog.grab().toImage(), BlueishLabel) < 60);
    }

    void windowMenuOffersMinimiseCloseAndAbout() {
        WindowSession s;
        const auto rightClick = [&s](QPoint at) {
            return [&s, at] {
                SendMouse(&s.Dialog, QEvent::MouseButtonPress, at, Qt::RightButton,
                          Qt::RightButton);
            };
        };
        // A right click on the skin outside the frame and the controls.
        const QStringList menu = PopupTexts(rightClick(QPoint(100, 600))).value_or(QStringList());
        QCOMPARE(menu.size(), 4);
        QCOMPARE(menu[2], QStringLiteral("-"));
        QCOMPARE(menu[3], QStringLiteral("Velora 정보(&A)..."));
        // Alt+Space opens the same menu.
        QCOMPARE(PopupTexts([&s] {
                     QTest::keyClick(&s.Dialog, Qt::Key_Space, Qt::AltModifier);
                 }).value_or(QStringList()),
                 menu);
        // On the picture the right button opens nothing.
        QVERIFY(s.Open(Pictures.Positions()));
        QVERIFY(!PopupTexts(rightClick(QPoint(300, 400))).has_value());
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
        s.Dialog.BuildSystemMenu()->actions().at(3)->trigger();
        QCOMPARE(s.Ui.ModalRuns, 1);
        QVERIFY(checked);
    }

    void assistiveTechnologyHearsEveryVisibleControl() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Positions()));
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&s.Dialog);
        QVERIFY(window != nullptr);
        // Captions without their layout blanks; the painted labels as names; the hidden
        // controls 1006, 1007 and 1015 absent; the picture last, by its file name.
        const struct {
            const char* Name;
            QAccessible::Role Role;
        } expected[] = {
            {"열기", QAccessible::Button},           {"종료", QAccessible::Button},
            {"저장", QAccessible::Button},           {"변환시작", QAccessible::Button},
            {"변환취소", QAccessible::Button},       {"Gray Contrast", QAccessible::CheckBox},
            {"변환 진행", QAccessible::ProgressBar}, {"Reddish Film", QAccessible::CheckBox},
            {"Blueish Film", QAccessible::CheckBox}, {"Color", QAccessible::Slider},
            {"Gray", QAccessible::Slider},           {"positions.png", QAccessible::Graphic}};
        QCOMPARE(window->childCount(), int(std::size(expected)));
        for (int i = 0; i < window->childCount(); ++i) {
            QAccessibleInterface* child = window->child(i);
            QVERIFY(child != nullptr);
            QCOMPARE(child->text(QAccessible::Name), QString::fromUtf8(expected[i].Name));
            QCOMPARE(child->role(), expected[i].Role);
            QCOMPARE(window->indexOfChild(child), i);
            QCOMPARE(child->parent()->object(), static_cast<QObject*>(&s.Dialog));
            if (expected[i].Role == QAccessible::CheckBox) {
                QVERIFY2(child->state().checkable, expected[i].Name);
            }
            if (QAccessibleValueInterface* value = child->valueInterface()) {
                QVERIFY2(value->minimumValue().toInt() < value->maximumValue().toInt(),
                         expected[i].Name);
            } else {
                QVERIFY2(expected[i].Role != QAccessible::Slider, expected[i].Name);
            }
        }
        // Gray Contrast's state, and toggling it as assistive technology does.
        QAccessibleInterface* contrast = window->child(5);
        QVERIFY(contrast->state().checked);
        contrast->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 0);
        QVERIFY(!contrast->state().checked);
        QVERIFY(!s.Dialog.AreFilmOptionsAvailable());
        // The Color slider's value and range, and a value set from outside.
        QAccessibleValueInterface* color = window->child(9)->valueInterface();
        QCOMPARE(color->currentValue().toInt(), 35);
        QCOMPARE(color->maximumValue().toInt(), 100);
        color->setCurrentValue(60);
        QCOMPARE(s.Dialog.Slider(IDC_SLIDER_COLOR).Position(), 60);
        QCOMPARE(window->child(9)->text(QAccessible::Value), QStringLiteral("60"));
    }

    void f1OpensTheUserGuideAndStillReachesTheWindow() {
        WindowSession s;
        KeyCounter watcher(QEvent::KeyPress, Qt::Key_F1);
        s.Dialog.installEventFilter(&watcher);
        s.Dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.Dialog));
        QAbstractButton& open = s.Dialog.Button(IDC_OPEN);
        open.setFocus();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&open));
        QTest::keyClick(&open, Qt::Key_F1);
        // The guide built beside the program, opened in the desktop's browser.
        const QString guide = QStringLiteral(VELORA_GUIDE_FILE);
        QCOMPARE(s.Ui.OpenedUrls.size(), std::size_t(1));
        QCOMPARE(s.Ui.OpenedUrls[0], QUrl::fromLocalFile(guide));
        QCOMPARE(watcher.Count, 1);
        QTest::keyClick(&open, Qt::Key_F1);
        QCOMPARE(s.Ui.OpenedUrls.size(), std::size_t(2));
        QVERIFY(s.Dialog.isVisible());
        QCOMPARE(s.Ui.ModalRuns, 0);
        QVERIFY(s.Ui.Messages.empty());

        // Where no browser starts, a message says where the guide is.
        s.Ui.BrowserStarts = false;
        QTest::keyClick(&open, Qt::Key_F1);
        QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
        QVERIFY2(s.Ui.Messages[0].Text.endsWith(QDir::toNativeSeparators(guide)),
                 qPrintable(s.Ui.Messages[0].Text));

        // The desktop's opener that finds no browser says so by its exit status.
        QTemporaryDir bin;
        QFile opener(bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(opener.open(QIODevice::WriteOnly) && opener.write("#!/bin/sh\nexit 3\n") > 0);
        opener.close();
        QVERIFY(opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
        bool failed = false;
        DesktopInteraction().OpenUrl(QUrl::fromLocalFile(guide), [&failed] { failed = true; });
        QTRY_VERIFY(failed);
        qputenv("PATH", path);

        // The guide is written for users: the window, its options, keys and what is saved, and
        // none of the developers' building and testing; every picture it shows is there.
        QFile page(guide);
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(page.readAll());
        for (const char* said :
             {"<meta charset=\"utf-8\">", "<html lang=\"en\">", "<h1>Velora user guide</h1>",
              "변환시작", "Gray Contrast", "Page Up", "F1", "quality 97"}) {
            QVERIFY2(html.contains(QString::fromUtf8(said)), said);
        }
        for (const char* left : {"scripts/", "cmake", "ctest", "|---|", "apt-get"}) {
            QVERIFY2(!html.contains(QString::fromUtf8(left)), left);
        }
        const QRegularExpression image(QStringLiteral("<img src=\"([^\"]+)\""));
        int images = 0;
        for (auto match = image.globalMatch(html); match.hasNext(); ++images) {
            const QString source = match.next().captured(1);
            QVERIFY2(QFileInfo(QFileInfo(guide).dir(), source).isFile(), qPrintable(source));
        }
        QVERIFY(images >= 3);
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::WindowTest)
#include "WindowTest.moc"
