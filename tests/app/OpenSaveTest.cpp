// Open, dropped files and Save's failure path, with files written at test time.
#include <QFileInfo>
#include <QMimeData>

#include "WindowSession.h"

namespace velora {

class OpenSaveTest : public QObject {
    Q_OBJECT

  private:
    PictureFolder Pictures;
    QString PositionPicture;

  private slots:
    void initTestCase() {
        QVERIFY(Pictures.IsValid());
        PositionPicture = Pictures.WritePng("positions.png", 300, 200, PositionColour);
        QVERIFY(!PositionPicture.isEmpty());
    }

    void openAsksForAJpegAndSetsTheReadyState() {
        WindowSession s;
        QVERIFY(s.Open(PositionPicture));
        QCOMPARE(s.Ui.FileRequests.size(), std::size_t(1));
        const FileRequest& asked = s.Ui.FileRequests.front();
        QCOMPARE(asked.Kind, FileRequest::Mode::Open);
        QCOMPARE(asked.Filter, QStringLiteral("JPEG Files (*.jpg)"));
        QCOMPARE(asked.DefaultSuffix, QStringLiteral("jpg"));
        QCOMPARE(asked.InitialName, QStringLiteral("*.jpg"));
        QCOMPARE(s.Ui.FileOwners.front(), static_cast<QWidget*>(&s.Dialog));

        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("positions.png"));
        QCOMPARE(s.Dialog.OpenedName(), QStringLiteral("positions.png"));
        QVERIFY(s.Dialog.Working() != s.Dialog.Opened());
        QVERIFY(SamePixels(*s.Dialog.Working(), *s.Dialog.Opened()));
        Argb pixel = 0;
        QCOMPARE(s.Dialog.Working()->GetPixel(299, 199, &pixel), Status::Ok);
        QCOMPARE(pixel, PositionColour(299, 199));
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 1);
        QCOMPARE(s.Dialog.Button(IDC_CHECK_1007).GetCheck(), 0);
        const QString diff = StateDifferences(s.Dialog, ControlState::Ready, 10);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(s.Ui.Messages.empty());
    }

    void cancelledOpenChangesNothing() {
        WindowSession s;
        s.Ui.FileAnswers.push_back(QString());
        s.Dialog.OnOpen();
        QVERIFY(!s.Dialog.IsPictureLoaded());
        QVERIFY(s.Ui.Messages.empty());
        const QString diff = StateDifferences(s.Dialog, ControlState::NoPicture, 0);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    void openOfAMissingFileKeepsThePicture() {
        WindowSession s;
        QVERIFY(s.Open(PositionPicture));
        const BitmapRef before = s.Dialog.Working();
        s.Ui.FileAnswers.push_back(Pictures.Path("no-such-photo.jpg"));
        s.Dialog.OnOpen();
        QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
        QCOMPARE(s.Ui.Messages[0].Caption, QStringLiteral("Velora"));
        QCOMPARE(s.Ui.Messages[0].Text, QStringLiteral("없는 화일 입니다."));
        QCOMPARE(s.Ui.Messages[0].Owner, static_cast<QWidget*>(&s.Dialog));
        QCOMPARE(s.Dialog.Working(), before);
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));

        // With no picture yet, the window stays empty.
        WindowSession empty;
        QVERIFY(!empty.Open(Pictures.Path("missing.jpg")));
        QCOMPARE(empty.Ui.Messages.size(), std::size_t(1));
        QCOMPARE(empty.Dialog.windowTitle(), QStringLiteral("Velora"));
    }

    void openOfANonPictureKeepsThePicture() {
        const QString text = Pictures.WriteText("notes.jpg", "these are not pixels\n");
        const QString truncated = Pictures.WriteText("cut.jpg", QByteArray("\xFF\xD8\xFF\xE0", 4));
        WindowSession s;
        QVERIFY(s.Open(PositionPicture));
        const BitmapRef working = s.Dialog.Working();
        const BitmapRef opened = s.Dialog.Opened();
        for (const QString& path : {text, truncated}) {
            s.Ui.Messages.clear();
            s.Ui.FileAnswers.push_back(path);
            s.Dialog.OnOpen();
            QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
            QCOMPARE(s.Ui.Messages[0].Text, QStringLiteral("그림을 읽을 수 없는 화일 입니다."));
            QCOMPARE(s.Ui.Messages[0].Caption, QStringLiteral("Velora"));
            QCOMPARE(s.Dialog.Working(), working);
            QCOMPARE(s.Dialog.Opened(), opened);
            QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("positions.png"));
            QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));
            const QString diff = StateDifferences(s.Dialog, ControlState::Ready, 10);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
        }
        // And without a picture before, nothing is loaded and nothing can be started.
        WindowSession empty;
        QVERIFY(!empty.Open(text));
        const QString diff = StateDifferences(empty.Dialog, ControlState::NoPicture, 0);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        empty.Dialog.OnStartConversion();
        QVERIFY(!empty.Dialog.Worker().IsRunning());
    }

    void openingTheSameFileTwiceEqualsOpeningOnce() {
        // A JPEG this time, as the open dialog offers them.
        const QString photo = Pictures.WriteJpeg("photo.jpg", 320, 240, PositionColour);
        QVERIFY(!photo.isEmpty());
        WindowSession s;
        QVERIFY(s.Open(photo));
        const BitmapRef first = s.Dialog.Working();
        QCOMPARE(first->Width(), 320u);
        QVERIFY(s.Open(photo));
        QVERIFY(s.Dialog.Working() != first);
        QVERIFY(SamePixels(*s.Dialog.Working(), *first));
        QVERIFY(SamePixels(*s.Dialog.Opened(), *first));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - photo.jpg"));
        QCOMPARE(s.Dialog.CurrentName(), s.Dialog.OpenedName());
        const QString diff = StateDifferences(s.Dialog, ControlState::Ready, 10);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    void droppedFileOpensLikeOpen() {
        WindowSession s;
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(PositionPicture)});
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(&s.Dialog, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&s.Dialog, &drop);
        QVERIFY(s.Dialog.IsPictureLoaded());
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));
        QVERIFY(s.Ui.FileRequests.empty());
    }

    void saveFailureIsReported() {
        WindowSession s;
        QVERIFY(s.Open(PositionPicture));
        s.Ui.FileAnswers.push_back(Pictures.Path("no-such-folder/out.jpg"));
        s.Dialog.OnSave();
        const FileRequest& asked = s.Ui.FileRequests.back();
        QCOMPARE(asked.Kind, FileRequest::Mode::Save);
        QCOMPARE(asked.Filter, QStringLiteral("JPEG File (*.jpg)"));
        QCOMPARE(asked.DefaultSuffix, QStringLiteral("jpg"));
        QCOMPARE(asked.InitialName, QStringLiteral("positions.png"));
        QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
        QCOMPARE(s.Ui.Messages[0].Caption, QStringLiteral("Velora"));
        QVERIFY(s.Ui.Messages[0].Text.startsWith(QStringLiteral("저장하지 못했습니다.")));
        // The reason follows the message.
        QVERIFY(s.Ui.Messages[0].Text.size() > QStringLiteral("저장하지 못했습니다.").size() + 1);
        QVERIFY(!QFileInfo::exists(Pictures.Path("no-such-folder/out.jpg")));
        // A cancelled save writes nothing and says nothing.
        s.Ui.FileAnswers.push_back(QString());
        s.Dialog.OnSave();
        QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::OpenSaveTest)
#include "OpenSaveTest.moc"
