// Start, Cancel, the two endings and the colour probe in the window, with a real conversion
// thread. Expected colours are the worked examples of the tone mapping; uniform pictures keep
// them through the sharpening, which has nothing to sharpen there.
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

#include "AppTestSupport.h"
#include "ImageFile.h"

namespace velora {

class ConversionTest : public QObject {
    Q_OBJECT

  private:
    TestPictures Pictures;

  private slots:
    void startRunsToTheConvertedStateAndSaves() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Grey()));
        s.Dialog.OnStartConversion();
        // Converting at once, before the thread reports anything.
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Converting, 10);
        QSignalSpy completed(&s.Dialog.Worker(), &ConversionWorker::Completed);
        QVERIFY(s.WaitForEnding());
        QCOMPARE(completed.count(), 1);
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Converted, 0);
        QCOMPARE(s.Dialog.Progress().maximum(), 64);
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("grey_vlr.png"));
        QCOMPARE(s.Dialog.OpenedName(), QStringLiteral("grey.png"));
        // (128, 128, 128) with Gray Contrast at the start-up slider positions.
        QVERIFY(AllPixelsAre(*s.Dialog.Working(), Rgb(107, 107, 107)));
        QVERIFY(AllPixelsAre(*s.Dialog.Opened(), Rgb(128, 128, 128)));

        const QString target = Pictures.Path("grey_saved.jpg");
        s.Save(target);
        QCOMPARE(s.Ui.FileRequests.back().InitialName, QStringLiteral("grey_vlr.png"));
        QVERIFY(s.Ui.Messages.empty());
        const LoadResult saved = LoadBitmapFromFile(target.toStdString());
        QVERIFY(saved.Bitmap != nullptr);
        QCOMPARE(saved.Bitmap->Width(), 64u);
        Argb pixel = 0;
        QCOMPARE(saved.Bitmap->GetPixel(30, 20, &pixel), Status::Ok);
        QVERIFY2(std::abs(int((pixel >> 8) & 0xFF) - 107) <= 2, qPrintable(Described(pixel)));
        // Saving changes no state.
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Converted, 0);
    }

    void optionsComeFromSlidersAndChecks() {
        // The worked examples of the tone mapping on (200, 150, 120), and grey for one film.
        struct Case {
            const char* What;
            int Color, Gray;
            bool Contrast, Reddish, Blueish, WarmPicture;
            Argb Expected;
        };
        const Case cases[] = {
            {"off", 35, 41, false, false, false, true, Rgb(184, 152, 132)},
            {"on", 35, 41, true, false, false, true, Rgb(179, 147, 128)},
            {"reddish", 35, 41, true, true, false, true, Rgb(186, 150, 122)},
            {"blueish", 35, 41, true, false, true, true, Rgb(172, 145, 135)},
            {"grey reddish", 35, 41, true, true, false, false, Rgb(109, 108, 106)},
            {"film without contrast", 35, 41, false, true, false, true, Rgb(184, 152, 132)},
            {"sliders 100 0", 100, 0, false, false, false, true, Rgb(206, 148, 114)},
            {"sliders 0 90", 0, 90, false, false, false, true, Rgb(160, 156, 153)},
        };
        for (const Case& c : cases) {
            WindowSession s;
            QVERIFY(s.Open(c.WarmPicture ? Pictures.Warm() : Pictures.Grey()));
            s.Dialog.Slider(IDC_SLIDER_COLOR).SetPosition(c.Color);
            s.Dialog.Slider(IDC_SLIDER_GRAY).SetPosition(c.Gray);
            // The film boxes are set while they can be clicked, then Gray Contrast as asked.
            s.Dialog.FilmBox(IDC_REDDISH_FILM).setChecked(c.Reddish);
            s.Dialog.FilmBox(IDC_BLUEISH_FILM).setChecked(c.Blueish);
            s.SetGrayContrast(c.Contrast);
            QVERIFY(s.Convert());
            QVERIFY2(
                AllPixelsAre(*s.Dialog.Working(), c.Expected),
                qPrintable(QStringLiteral("%1: %2").arg(c.What, Described(s.PixelAt(10, 10)))));
        }
    }

    void slidersMovedDuringAPassDoNotChangeIt() {
        const QString path = Pictures.Write("warm_big.png", 2400, 1600, Rgb(200, 150, 120));
        WindowSession s;
        QVERIFY(s.Open(path));
        s.SetGrayContrast(false);
        s.Dialog.OnStartConversion();
        s.Dialog.Slider(IDC_SLIDER_COLOR).SetPosition(100);
        s.Dialog.Slider(IDC_SLIDER_GRAY).SetPosition(0);
        QVERIFY(s.WaitForEnding());
        QCOMPARE(Described(s.PixelAt(1200, 800)), Described(Rgb(184, 152, 132)));
        QCOMPARE(Described(s.PixelAt(0, 0)), Described(Rgb(184, 152, 132)));
    }

    void cancelDuringAPassRestoresTheOpenedPictureAtOnce() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Big()));
        // However slowly the test goes on, the cancel comes before the ending.
        s.Dialog.Worker().SetPauseMilliseconds(24 * 3600 * 1000);
        QSignalSpy progress(&s.Dialog.Worker(), &ConversionWorker::Progress);
        QSignalSpy completed(&s.Dialog.Worker(), &ConversionWorker::Completed);
        QSignalSpy cancelled(&s.Dialog.Worker(), &ConversionWorker::Cancelled);
        s.Dialog.OnStartConversion();
        QVERIFY(progress.wait(EndingTimeoutMs));
        s.Dialog.OnCancelConversion();
        // At once, whatever the worker is doing.
        QVERIFY(SamePixels(*s.Dialog.Working(), *s.Dialog.Opened()));
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("big.png"));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);

        QVERIFY(s.WaitForEnding());
        s.Dialog.Worker().Wait();
        QCOMPARE(completed.count(), 0);
        QCOMPARE(cancelled.count(), 1);
        // Not one converted pixel reached the restored picture.
        QVERIFY(SamePixels(*s.Dialog.Working(), *s.Dialog.Opened()));
        QVERIFY(!s.Dialog.CurrentName().contains(QStringLiteral("_vlr")));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        // The restored picture is what the window shows.
        const QImage shot = s.Dialog.grab().toImage();
        const QColor shown = shot.pixelColor(154, 174 + 3);
        QVERIFY2(shown.blue() >= 120, qPrintable(shown.name()));
    }

    void cancelAfterCompletionAndConvertAgainWithOtherOptions() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Warm()));
        QVERIFY(s.Convert());
        QCOMPARE(Described(s.PixelAt(5, 5)), Described(Rgb(179, 147, 128)));
        const QPoint centre(385, 405);
        QCOMPARE(s.Dialog.grab().toImage().pixelColor(centre), QColor(179, 147, 128));
        s.Dialog.OnCancelConversion();
        // The opened picture is on screen together with the ready state, before anything else
        // happens.
        QCOMPARE(s.Dialog.grab().toImage().pixelColor(centre), QColor(200, 150, 120));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("warm.png"));
        QVERIFY(AllPixelsAre(*s.Dialog.Working(), Rgb(200, 150, 120)));
        s.SetGrayContrast(false);
        QVERIFY(!s.Dialog.AreFilmOptionsAvailable());
        QVERIFY(s.Convert());
        QVERIFY(AllPixelsAre(*s.Dialog.Working(), Rgb(184, 152, 132)));
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("warm_vlr.png"));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Converted, 0);
        // Cancel offers the film options only while Gray Contrast is checked.
        s.Dialog.OnCancelConversion();
        s.Dialog.repaint();
        QVERIFY(!s.Dialog.AreFilmOptionsAvailable());
        QVERIFY(!s.Dialog.FilmBox(IDC_REDDISH_FILM).isEnabled());
        QVERIFY(s.Dialog.Control(IDC_START)->isEnabled());
    }

    void openingOverAConvertedPictureDiscardsTheConversion() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Warm()));
        QVERIFY(s.Convert());
        QVERIFY(s.Open(Pictures.Grey()));
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("grey.png"));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - grey.png"));
        QVERIFY(AllPixelsAre(*s.Dialog.Working(), Rgb(128, 128, 128)));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        // A picture that cannot be read leaves the converted one untouched.
        WindowSession t;
        QVERIFY(t.Open(Pictures.Warm()));
        QVERIFY(t.Convert());
        QVERIFY(t.Open(Pictures.WriteText("bad.jpg", "no picture")));
        QCOMPARE(t.Dialog.CurrentName(), QStringLiteral("warm_vlr.png"));
        VELORA_VERIFY_STATE(t.Dialog, ControlState::Converted, 0);
    }

    void onePixelWidePictureConverts() {
        const QString path = Pictures.Write("strip.png", 1, 40, Rgb(200, 150, 120));
        WindowSession s;
        QVERIFY(s.Open(path));
        QSignalSpy progress(&s.Dialog.Worker(), &ConversionWorker::Progress);
        QVERIFY(s.Convert());
        QCOMPARE(s.Dialog.Progress().maximum(), 1);
        QCOMPARE(s.Dialog.Progress().value(), 0);
        for (const QList<QVariant>& call : progress) {
            QCOMPARE(call.at(0).toInt(), 0);
        }
        QCOMPARE(CountPixels(*s.Dialog.Working(), Rgb(179, 147, 128)), 40L);
    }

    void closingAsksOnlyForAnUnsavedResult() {
        const std::function<void(MainDialog&)> ends[] = {
            [](MainDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
            [](MainDialog& d) { QTest::keyClick(&d, Qt::Key_Return); },
            [](MainDialog& d) { QTest::mouseClick(&d.Button(IDOK), Qt::LeftButton); },
            [](MainDialog& d) { d.BuildSystemMenu()->actions().at(1)->trigger(); }};
        const QString question =
            QStringLiteral("변환한 그림을 저장하지 않았습니다.\n저장하지 않고 끝내시겠습니까?");
        for (const auto& end : ends) {
            // Without a picture the window ends unasked.
            WindowSession empty;
            end(empty.Dialog);
            QVERIFY(!empty.Dialog.isVisible() && empty.Ui.Questions.empty());

            WindowSession s;
            QVERIFY(s.Open(Pictures.Grey()) && s.Convert());
            // No, the default answer, keeps the window and its result.
            end(s.Dialog);
            QCOMPARE(s.Ui.Questions.size(), std::size_t(1));
            QCOMPARE(s.Ui.Questions[0].Text, question);
            QVERIFY(s.Dialog.isVisible());
            VELORA_VERIFY_STATE(s.Dialog, ControlState::Converted, 0);
            // A save that fails leaves the result unsaved; one that succeeds saves it.
            s.Save(Pictures.Path("no-such-folder/grey_vlr.jpg"));
            QCOMPARE(s.Said().size(), 1);
            end(s.Dialog);
            QCOMPARE(s.Ui.Questions.size(), std::size_t(2));
            QVERIFY(s.Dialog.isVisible());
            s.Save(Pictures.Path(QStringLiteral("closing%1.jpg").arg(&end - ends)));
            end(s.Dialog);
            QCOMPARE(s.Ui.Questions.size(), std::size_t(2));
            QVERIFY(!s.Dialog.isVisible());
        }
        // After Cancel the window ends unasked; Yes ends it without saving.
        WindowSession undone;
        QVERIFY(undone.Open(Pictures.Grey()) && undone.Convert());
        undone.Dialog.OnCancelConversion();
        ends[0](undone.Dialog);
        QVERIFY(!undone.Dialog.isVisible() && undone.Ui.Questions.empty());
        WindowSession t;
        QVERIFY(t.Open(Pictures.Grey()) && t.Convert());
        t.Ui.YesNoAnswers = {true};
        ends[1](t.Dialog);
        QCOMPARE(t.Ui.Questions.size(), std::size_t(1));
        QVERIFY(!t.Dialog.isVisible());
    }

    void closingDuringAPassStopsAndWaits() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Big()));
        QSignalSpy progress(&s.Dialog.Worker(), &ConversionWorker::Progress);
        s.Dialog.OnStartConversion();
        QVERIFY(progress.wait(EndingTimeoutMs));
        QVERIFY(s.Dialog.close());
        QVERIFY(!s.Dialog.isVisible());
        // Escape works in the converting state too.
        WindowSession t;
        QVERIFY(t.Open(Pictures.Grey()));
        t.Dialog.OnStartConversion();
        QTest::keyClick(&t.Dialog, Qt::Key_Escape);
        QVERIFY(!t.Dialog.isVisible());
        // And a window destroyed during a pass joins its worker first.
        auto u = std::make_unique<WindowSession>();
        QVERIFY(u->Open(Pictures.Big()));
        u->Dialog.OnStartConversion();
        u.reset();
    }

    void windowAndBatchSaveTheSameFile() {
#if defined(__SANITIZE_THREAD__)
        // ThreadSanitizer cannot follow a process started from a threaded one; the regular build
        // runs this case.
        QSKIP("no child processes under ThreadSanitizer");
#endif
        const QString photo = QStringLiteral(VELORA_PHOTOS_DIR "/camera/nikon_p6000_gps_small.jpg");
        if (!QFileInfo::exists(photo)) {
            QSKIP("sample photos are absent");
        }
        const QString batch = QStringLiteral(VELORA_BATCH_PROGRAM);
        WindowSession s;
        QVERIFY(s.Open(photo));
        s.Dialog.Slider(IDC_SLIDER_COLOR).SetPosition(60);
        s.Dialog.Slider(IDC_SLIDER_GRAY).SetPosition(20);
        s.Dialog.FilmBox(IDC_REDDISH_FILM).setChecked(true);
        QVERIFY(s.Convert());
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("nikon_p6000_gps_small_vlr.jpg"));
        const QString fromWindow = Pictures.Path("window_result.jpg");
        s.Save(fromWindow);
        QVERIFY(s.Ui.Messages.empty());

        const QString folder = Pictures.Path("batch");
        QVERIFY(QDir().mkpath(folder));
        QProcess run;
        run.start(batch, {"--color", "60", "--gray", "20", "--film", "reddish", "-q", "-o", folder,
                          photo});
        QVERIFY(run.waitForFinished(EndingTimeoutMs));
        QCOMPARE(run.exitCode(), 0);
        const QByteArray windowBytes = ReadAll(fromWindow);
        QVERIFY(windowBytes.size() > 1000);
        QVERIFY(windowBytes == ReadAll(folder + "/nikon_p6000_gps_small_vlr.jpg"));
    }

    void manyStartCancelCyclesEndReady() {
        const QString path = Pictures.Write("cycles.png", 400, 300, PositionColour);
        WindowSession s;
        QVERIFY(s.Open(path));
        for (int i = 0; i < 60; ++i) {
            s.Dialog.OnStartConversion();
            if (i % 3 == 0) {
                QCoreApplication::processEvents();
            }
            s.Dialog.OnCancelConversion();
            QVERIFY(s.Dialog.Control(IDC_START)->isEnabled());
        }
        QVERIFY(s.WaitForEnding());
        s.Dialog.Worker().Wait();
        QCoreApplication::processEvents();
        QVERIFY(SamePixels(*s.Dialog.Working(), *s.Dialog.Opened()));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        // The window still converts afterwards.
        QVERIFY(s.Convert());
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("cycles_vlr.png"));
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::ConversionTest)
#include "ConversionTest.moc"
