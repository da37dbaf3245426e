// Open, dropped files and Save's failure path, with files written at test time.
#include <QFileInfo>
#include <QMimeData>

#include "AppTestSupport.h"

namespace velora {

class OpenSaveTest : public QObject {
    Q_OBJECT

  private:
    PictureFolder Pictures;
    QString PositionPicture;

  private slots:
    void initTestCase() {
        QVERIFY(Pictures.IsValid());
        PositionPicture = Pictures.Write("positions.png", 300, 200, PositionColour);
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
        QCOMPARE(s.PixelAt(299, 199), PositionColour(299, 199));
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 1);
        QCOMPARE(s.Dialog.Button(IDC_CHECK_1007).GetCheck(), 0);
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        QVERIFY(s.Ui.Messages.empty());

        // A cancelled Open changes nothing either in a window without a picture.
        WindowSession empty;
        empty.Ui.FileAnswers.push_back(QString());
        empty.Dialog.OnOpen();
        QVERIFY(!empty.Dialog.IsPictureLoaded());
        QVERIFY(empty.Ui.Messages.empty());
        VELORA_VERIFY_STATE(empty.Dialog, ControlState::NoPicture, 0);
    }

    void openThatFailsKeepsThePicture_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // empty: no such file
        QTest::addColumn<QString>("message");
        const QString unreadable = QStringLiteral("그림을 읽을 수 없는 화일 입니다.");
        QTest::newRow("missing") << "no-such-photo.jpg" << QByteArray()
                                 << QStringLiteral("없는 화일 입니다.");
        QTest::newRow("text") << "notes.jpg" << QByteArray("these are not pixels\n") << unreadable;
        QTest::newRow("truncated") << "cut.jpg" << QByteArray("\xFF\xD8\xFF\xE0", 4) << unreadable;
    }

    void openThatFailsKeepsThePicture() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString path =
            bytes.isEmpty() ? Pictures.Path(name) : Pictures.WriteText(name, bytes);
        WindowSession s;
        QVERIFY(s.Open(PositionPicture));
        const BitmapRef working = s.Dialog.Working();
        const BitmapRef opened = s.Dialog.Opened();
        QVERIFY(s.Open(path));  // still loaded: the earlier picture
        QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
        QCOMPARE(s.Ui.Messages[0].Text, message);
        QCOMPARE(s.Ui.Messages[0].Caption, QStringLiteral("Velora"));
        QCOMPARE(s.Ui.Messages[0].Owner, static_cast<QWidget*>(&s.Dialog));
        QCOMPARE(s.Dialog.Working(), working);
        QCOMPARE(s.Dialog.Opened(), opened);
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("positions.png"));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);

        // Without a picture before, nothing is loaded and nothing can be started.
        WindowSession empty;
        QVERIFY(!empty.Open(path));
        QCOMPARE(empty.Ui.Messages.size(), std::size_t(1));
        QCOMPARE(empty.Dialog.windowTitle(), QStringLiteral("Velora"));
        VELORA_VERIFY_STATE(empty.Dialog, ControlState::NoPicture, 0);
        empty.Dialog.OnStartConversion();
        QVERIFY(!empty.Dialog.Worker().IsRunning());
    }

    void openingTheSameFileTwiceEqualsOpeningOnce() {
        // A JPEG this time, as the open dialog offers them.
        const QString photo = Pictures.Write("photo.jpg", 320, 240, PositionColour);
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
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
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
        const QString target = Pictures.Path("no-such-folder/out.jpg");
        s.Ui.FileAnswers.push_back(target);
        s.Dialog.OnSave();
        const FileRequest& asked = s.Ui.FileRequests.back();
        QCOMPARE(asked.Kind, FileRequest::Mode::Save);
        QCOMPARE(asked.Filter, QStringLiteral("JPEG File (*.jpg)"));
        QCOMPARE(asked.DefaultSuffix, QStringLiteral("jpg"));
        QCOMPARE(asked.InitialName, QStringLiteral("positions.png"));
        QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
        QCOMPARE(s.Ui.Messages[0].Caption, QStringLiteral("Velora"));
        // The reason follows the message.
        const QString failed = QStringLiteral("저장하지 못했습니다.");
        QVERIFY(s.Ui.Messages[0].Text.startsWith(failed));
        QVERIFY(s.Ui.Messages[0].Text.size() > failed.size() + 1);
        QVERIFY(!QFileInfo::exists(target));
        // A cancelled save writes nothing and says nothing.
        s.Ui.FileAnswers.push_back(QString());
        s.Dialog.OnSave();
        QCOMPARE(s.Ui.Messages.size(), std::size_t(1));
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::OpenSaveTest)
#include "OpenSaveTest.moc"
