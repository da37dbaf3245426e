// Open, dropped files, the folders the file dialogs start in, the names they return, and what Save
// asks and tells, with files written at test time.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "CommandLine.h"
#include "PictureKinds.h"

namespace velora {

class OpenSaveTest : public QObject {
    Q_OBJECT

  private:
    TestPictures Pictures;

  private slots:
    void openAsksForAPictureAndSetsTheReadyState() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Positions()));
        QCOMPARE(s.Ui.FileRequests.size(), std::size_t(1));
        const FileRequest& asked = s.Ui.FileRequests.front();
        QCOMPARE(asked.Kind, FileRequest::Mode::Open);
        // Every kind that opens is offered first, each kind alone after it, then any file; no
        // pattern in the name field narrows the folder down again.
        const QStringList filters = asked.Filter.split(QStringLiteral(";;"));
        QCOMPARE(filters.size(), int(std::size(PictureKinds)) + 2);
        QVERIFY(filters[0].startsWith(QStringLiteral("All Pictures (*.jpg ")));
        QCOMPARE(filters[1], QStringLiteral("JPEG Files (*.jpg *.jpeg *.jpe *.jfif)"));
        for (const QString& kind : filters.mid(1, filters.size() - 2)) {
            for (const QString& pattern : kind.section('(', 1).chopped(1).split(' ')) {
                QVERIFY2(filters[0].contains(pattern + ' ') || filters[0].contains(pattern + ')'),
                         qPrintable(pattern));
            }
        }
        for (const char* pattern : {"*.heic ", "*.webp ", "*.png ", "*.dng "}) {
            QVERIFY2(filters[0].contains(QLatin1String(pattern)), pattern);
        }
        QCOMPARE(filters.back(), QStringLiteral("All Files (*)"));
        QCOMPARE(asked.DefaultSuffix, QStringLiteral("jpg"));
        QVERIFY(asked.InitialName.isEmpty());
        QVERIFY(s.Dialog.Button(IDC_OPEN).toolTip().contains(QStringLiteral("HEIC")));
        QCOMPARE(s.Ui.FileOwners.front(), static_cast<QWidget*>(&s.Dialog));

        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));
        QVERIFY(SamePixels(*s.Dialog.Working(), *s.Dialog.Opened()));
        QCOMPARE(s.PixelAt(299, 199), PositionColour(299, 199));
        QCOMPARE(s.Dialog.Button(IDC_GRAY_CONTRAST).GetCheck(), 1);
        QCOMPARE(s.Dialog.Button(IDC_CHECK_1007).GetCheck(), 0);
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        // The full bar shows its chunk (an empty one shows none: the state check sees to that).
        QVERIFY(ChunkPixels(s.Dialog.Progress()) > 28 * 100);
        QVERIFY(s.Ui.Messages.empty());

        // A cancelled Open changes nothing either in a window without a picture.
        WindowSession empty;
        empty.CancelledOpen();
        QVERIFY(!empty.Dialog.IsPictureLoaded());
        QVERIFY(empty.Ui.Messages.empty());
        VELORA_VERIFY_STATE(empty.Dialog, ControlState::NoPicture, 0);
    }

    void openReadsThePictureOffTheWindowsThread() {
        const QString& big = Pictures.Big();
        WindowSession s;
        QSignalSpy finished(&s.Dialog, &MainDialog::OpenFinished);
        QSignalSpy shown(&s.Dialog, &MainDialog::PictureShown);
        s.Ui.FileAnswers.push_back(big);
        s.Dialog.OnOpen();
        // Back at once: the window is drawn but takes no commands until the picture is there.
        QVERIFY(s.Dialog.IsOpening());
        QVERIFY(!s.Dialog.isEnabled());
        QVERIFY(!s.Dialog.IsPictureLoaded());
        QVERIFY(finished.wait(EndingTimeoutMs));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(shown.count(), 1);
        QVERIFY(s.Dialog.isEnabled());
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        QCOMPARE(s.PixelAt(2999, 1999), PositionColour(2999, 1999));
        // What is painted is the display made once, the fitted size of the picture.
        QCOMPARE(s.Dialog.Shown().Image.size(), QSize(462, 308));
    }

    void openThatFailsKeepsThePicture_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // empty: no such file
        QTest::addColumn<QString>("message");
        // Each names the file and the cause, as velora-batch does.
        const QString unreadable = QStringLiteral("그림을 읽을 수 없는 화일 입니다.\n");
        QTest::newRow("missing") << "no-such-photo.jpg" << QByteArray()
                                 << QStringLiteral("없는 화일 입니다.");
        QTest::newRow("text") << "notes.jpg" << QByteArray("these are not pixels\n")
                              << unreadable +
                                     "notes.jpg: the file is not a picture this program "
                                     "can read";
        QTest::newRow("truncated")
            << "cut.jpg" << QByteArray("\xFF\xD8\xFF\xE0", 4)
            << unreadable +
                   "cut.jpg: the picture cannot be decoded: JPEG datastream contains no image";
    }

    void openThatFailsKeepsThePicture() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString path =
            bytes.isEmpty() ? Pictures.Path(name) : Pictures.WriteText(name, bytes);
        WindowSession s;
        QVERIFY(s.Open(Pictures.Positions()));
        const BitmapRef working = s.Dialog.Working();
        const BitmapRef opened = s.Dialog.Opened();
        QVERIFY(s.Open(path));  // still loaded: the earlier picture
        QCOMPARE(s.Said(), QStringList{message});
        QCOMPARE(s.Dialog.Working(), working);
        QCOMPARE(s.Dialog.Opened(), opened);
        QCOMPARE(s.Dialog.CurrentName(), QStringLiteral("positions.png"));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);

        // Without a picture before, nothing is loaded and nothing can be started.
        WindowSession empty;
        QVERIFY(!empty.Open(path));
        QCOMPARE(empty.Said(), QStringList{message});
        QCOMPARE(empty.Dialog.windowTitle(), QStringLiteral("Velora"));
        VELORA_VERIFY_STATE(empty.Dialog, ControlState::NoPicture, 0);
        empty.Dialog.OnStartConversion();
        QVERIFY(!empty.Dialog.Worker().IsRunning());
    }

    // Every real photo of the newer formats opens in the window, and the open dialog's picture
    // filter shows it, whatever the case of its name (as the dialog matches names).
    void everyPictureKindOpensAndIsOffered() {
        const QString photos = QStringLiteral(VELORA_PHOTOS_DIR);
        if (!QFileInfo(photos).isDir()) {
            QSKIP("no photo folder");
        }
        WindowSession s;
        const QString pictures = s.CancelledOpen().Filter.split(QStringLiteral(";;"))[0];
        const QStringList patterns = pictures.mid(pictures.indexOf('(') + 1).chopped(1).split(' ');
        int opened = 0;
        for (const char* folder : {"modern", "other-formats"}) {
            const QDir dir(photos + '/' + folder);
            for (const QFileInfo& file : dir.entryInfoList(QDir::Files)) {
                const QString name = file.fileName();
                if (name.endsWith(QStringLiteral(".md"))) {
                    continue;
                }
                QVERIFY2(QDir::match(patterns, name), qPrintable(name));  // without case
                QVERIFY2(s.Open(file.filePath()), qPrintable(name));
                QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - ") + name);
                QVERIFY2(s.Ui.Messages.empty(), qPrintable(name));
                VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
                ++opened;
            }
        }
        QVERIFY(opened >= 25);
    }

    void aDamagedPictureIsShownWithAMessage() {
        // A JPEG this time, as the open dialog offers them; opened twice, it is as if once.
        const QString whole = Pictures.Write("whole.jpg", 320, 240, PositionColour);
        WindowSession s;
        QVERIFY(s.Open(whole));
        const BitmapRef first = s.Dialog.Working();
        QCOMPARE(first->Width(), 320u);
        QVERIFY(s.Open(whole));
        QVERIFY(s.Dialog.Working() != first);
        QVERIFY(SamePixels(*s.Dialog.Working(), *first));
        QVERIFY(SamePixels(*s.Dialog.Opened(), *first));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - whole.jpg"));
        QVERIFY(s.Ui.Messages.empty());

        const QByteArray bytes = ReadAll(whole);
        const QString cut = Pictures.WriteText("cut-short.jpg", bytes.left(bytes.size() / 2));
        QVERIFY(s.Open(cut));
        QCOMPARE(s.Said(),
                 QStringList(QStringLiteral("손상된 화일 입니다.\n그림을 일부만 읽었습니다.\n"
                                            "cut-short.jpg: Premature end of JPEG file")));
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - cut-short.jpg"));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
        // The top as the file has it, the bottom never read.
        const Argb top = s.PixelAt(10, 5);
        QVERIFY2(std::abs(int((top >> 16) & 0xFF) - 10) < 8, qPrintable(Described(top)));
        QCOMPARE(s.PixelAt(319, 239), Argb(0xFF808080u));

        // Too wide for the JPEG file a save would write: refused at once.
        const QString wide = Pictures.Write("wide.png", 65520, 2, Rgb(1, 2, 3));
        QVERIFY(!wide.isEmpty());
        const BitmapRef before = s.Dialog.Working();
        QVERIFY(s.Open(wide));
        QCOMPARE(s.Said().size(), 2);
        QVERIFY(
            s.Said()[1].startsWith(QStringLiteral("그림을 읽을 수 없는 화일 입니다.\nwide.png: ")));
        QVERIFY(s.Said()[1].contains(QStringLiteral("65500")));
        QCOMPARE(s.Dialog.Working(), before);
    }

    void droppedFileOpensLikeOpen() {
        WindowSession s;
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(Pictures.Positions())});
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(&s.Dialog, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&s.Dialog, &drop);
        QVERIFY(s.WaitForOpen());
        QVERIFY(s.Dialog.IsPictureLoaded());
        QCOMPARE(s.Dialog.windowTitle(), QStringLiteral("Velora - positions.png"));
        QVERIFY(s.Ui.FileRequests.empty());
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("file");  // relative to the current folder
        const int run = int(CommandLine::Action::Run);
        const int error = int(CommandLine::Action::Error);
        const int help = int(CommandLine::Action::Help);
        QTest::newRow("nothing") << QStringList() << run << QString();
        QTest::newRow("a file") << QStringList{"photo.jpg"} << run << "photo.jpg";
        QTest::newRow("a file address")
            << QStringList{QUrl::fromLocalFile(QDir::current().filePath("x y.jpg")).toString()}
            << run << "x y.jpg";
        // The toolkit's options, with their values, are the toolkit's.
        QTest::newRow("toolkit options")
            << QStringList{"-platform", "offscreen", "--style=fusion", "-reverse", "a.jpg"} << run
            << "a.jpg";
        QTest::newRow("after --") << QStringList{"--", "--help"} << run << "--help";
        QTest::newRow("help wins") << QStringList{"a.jpg", "-h"} << help << QString();
        // --version and an unknown option: what the program says is asked of it below.
        QTest::newRow("two files") << QStringList{"a.jpg", "b.jpg"} << error << QString();
    }

    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QString, file);
        const CommandLine line = ParseCommandLine(arguments);
        QCOMPARE(int(line.What), action);
        QCOMPARE(line.File, file.isEmpty() ? QString() : QDir::current().absoluteFilePath(file));
        QCOMPARE(line.Error.isEmpty(), action != int(CommandLine::Action::Error));
    }

    void fileFromTheCommandLineOpensAsOpenDoes() {
        // The command line's file is opened by the path the table above checks, as Open opens it.
        // EUC-KR names (폴더/사진.png), which the toolkit reads as UTF-8 and so shows with U+FFFD:
        // the picture opens from the command line and from Open, replaces itself and is saved
        // converted beside itself under the bytes of its own name.
        const std::string folder = Pictures.Path(".").toStdString() + "/\xc6\xfa\xb4\xf5";
        const std::string photo = folder + "/\xbb\xe7\xc1\xf8.png";
        QVERIFY(std::filesystem::create_directory(folder));
        QVERIFY(std::filesystem::copy_file(Pictures.Positions().toStdString(), photo));
        WindowSession u;
        u.Dialog.OpenPicture(ParseCommandLine({QString::fromLocal8Bit(photo.c_str())}).File);
        QVERIFY(u.WaitForOpen());
        QVERIFY(u.Dialog.IsPictureLoaded());
        const QString shown = QFile::decodeName(photo.c_str());
        QVERIFY(u.Open(shown));
        QCOMPARE(u.Dialog.CurrentName(), QFileInfo(shown).fileName());
        u.Ui.YesNoAnswers = {true};
        u.Save(shown);
        QCOMPARE(u.Ui.Questions.size(), std::size_t(1));
        QVERIFY(u.Convert());
        u.Save(QFileInfo(shown).path() + '/' + u.Dialog.CurrentName());
        QVERIFY(u.Ui.Messages.empty());
        for (const std::string& saved : {photo, folder + "/\xbb\xe7\xc1\xf8_vlr.png"}) {
            std::ifstream file(saved, std::ios::binary);
            QVERIFY2(file.get() == 0xFF && file.get() == 0xD8, saved.c_str());
        }
        // The temporary folder cannot name these files to remove them.
        std::filesystem::remove_all(folder);
    }

    void withoutADisplayOnlyWordsAreGiven_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display");  // "-" for an empty environment
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");  // the start of what is printed or of one of its lines
        QTest::newRow("version") << QStringList{"--version"} << "" << 0 << "velora 3.0\n";
        QTest::newRow("help") << QStringList{"--help"} << "" << 0 << "사용법: velora [그림 화일]";
        QTest::newRow("wrong option") << QStringList{"--colour", "60"} << "" << 2
                                      << "velora: 알 수 없는 옵션입니다: --colour";
        const QString none = QStringLiteral("velora: 창을 띄울 화면이 없습니다");
        QTest::newRow("file, empty environment") << QStringList{"a.jpg"} << "-" << 1 << none;
        QTest::newRow("no file, no display") << QStringList{} << "" << 1 << none;
        QTest::newRow("display that is not there")
            << QStringList{"a.jpg"} << ":7391" << 1 << "velora: 화면에 창을 띄울 수 없습니다";
    }

    void withoutADisplayOnlyWordsAreGiven() {
#if defined(__SANITIZE_THREAD__)
        QSKIP("no child processes under ThreadSanitizer");
#endif
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(int, code);
        QFETCH(QString, said);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            environment.remove(QString::fromLatin1(name));
        }
        if (display == QLatin1String("-")) {
            environment = QProcessEnvironment();
        } else if (!display.isEmpty()) {
            environment.insert(QStringLiteral("DISPLAY"), display);
        }
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(VELORA_WINDOW_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(60000));
        // A crash (the toolkit's abort) is not an exit with a code.
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), code);
        const QString output =
            QString::fromUtf8(program.readAllStandardOutput() + program.readAllStandardError());
        QVERIFY2(output.startsWith(said) || output.contains('\n' + said), qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("Reinstalling")), qPrintable(output));
        QVERIFY2(code != 1 || output.contains(QStringLiteral("velora-batch")), qPrintable(output));
    }

    void saveFailureIsReported() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Positions()));
        const QString target = Pictures.Path("no-such-folder/out.jpg");
        s.Save(target);
        const FileRequest& asked = s.Ui.FileRequests.back();
        QCOMPARE(asked.Kind, FileRequest::Mode::Save);
        QCOMPARE(asked.Filter, QStringLiteral("JPEG File (*.jpg)"));
        QCOMPARE(asked.DefaultSuffix, QStringLiteral("jpg"));
        QCOMPARE(asked.InitialName, QStringLiteral("positions.png"));
        // Korean throughout; the system's reason follows in the system's words.
        const QStringList said = {
            QStringLiteral("저장하지 못했습니다.\n그 폴더에 화일을 만들 수 없습니다. (%1)")
                .arg(QString::fromLocal8Bit(std::strerror(ENOENT)))};
        QCOMPARE(s.Said(), said);
        QVERIFY(!QFileInfo::exists(target));
        // A cancelled save writes nothing and says nothing.
        s.Save(QString());
        QCOMPARE(s.Said(), said);
    }

    void dialogsStartWhereThePicturesAre() {
        // A home of our own: the first Open starts in its Pictures folder, or in the home itself
        // while there is none.
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        WindowSession s;
        QCOMPARE(s.CancelledOpen().Directory, QDir::homePath());
        QVERIFY(QDir(home.path()).mkdir("Pictures"));
        QCOMPARE(s.CancelledOpen().Directory, home.filePath("Pictures"));
        qputenv("HOME", oldHome);

        // Then where the last picture was opened, also one that was dropped or failed.
        QVERIFY(s.Open(Pictures.Positions()));
        QCOMPARE(s.CancelledOpen().Directory, QFileInfo(Pictures.Positions()).absolutePath());
        QVERIFY(QDir(Pictures.Path(".")).mkdir("elsewhere"));
        const QString missing = Pictures.Path("elsewhere/gone.jpg");
        s.Open(missing);
        QCOMPARE(s.CancelledOpen().Directory, QFileInfo(missing).absolutePath());

        // Save starts in the opened picture's folder.
        s.Save(QString());
        QCOMPARE(s.Ui.FileRequests.back().Directory,
                 QFileInfo(Pictures.Positions()).absolutePath());
    }

    void replacingAFileIsAskedInKorean() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Positions()));
        const QString existing = Pictures.WriteText("taken.jpg", "keep me");
        const QString other = Pictures.Path("fresh.jpg");
        // No: the dialog comes back with the chosen name, and nothing is written.
        s.Ui.FileAnswers = {existing, other};
        s.Ui.YesNoAnswers = {false};
        s.Dialog.OnSave();
        QCOMPARE(s.Ui.Questions.size(), std::size_t(1));
        QCOMPARE(s.Ui.Questions[0].Text,
                 QStringLiteral("taken.jpg 화일이 이미 있습니다.\n바꾸시겠습니까?"));
        QCOMPARE(s.Ui.Questions[0].Caption, QStringLiteral("Velora"));
        QCOMPARE(s.Ui.FileRequests.back().InitialName, QStringLiteral("taken.jpg"));
        QCOMPARE(ReadAll(existing), QByteArray("keep me"));
        QVERIFY(QFileInfo::exists(other));
        // Yes replaces it; a new name is not asked about.
        s.Ui.YesNoAnswers = {true};
        s.Save(existing);
        QCOMPARE(s.Ui.Questions.size(), std::size_t(2));
        QVERIFY(QFileInfo(existing).size() > 1000);
        QVERIFY(s.Ui.Messages.empty());
    }

    void realDialogsReturnWhatWasTyped_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("returned");
        const int open = int(FileRequest::Mode::Open);
        const int save = int(FileRequest::Mode::Save);
        // A picture file without an extension opens as typed.
        QTest::newRow("open bare name that exists") << open << "bare"
                                                    << "bare";
        QTest::newRow("open name found with .jpg") << open << "photo"
                                                   << "photo.jpg";
        QTest::newRow("open missing name") << open << "nothing"
                                           << "nothing.jpg";
        QTest::newRow("open with extension") << open << "bare.png"
                                             << "bare.png";
        QTest::newRow("save bare name") << save << "result"
                                        << "result.jpg";
        // The dialog itself does not ask before replacing: the window does.
        QTest::newRow("save over a file") << save << "photo.jpg"
                                          << "photo.jpg";
    }

    void realDialogsReturnWhatWasTyped() {
        QFETCH(int, mode);
        QFETCH(QString, typed);
        QFETCH(QString, returned);
        QTemporaryDir folder;
        for (const char* name : {"bare", "photo.jpg"}) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QWidget owner;
        FileRequest request;
        request.Kind = FileRequest::Mode(mode);
        request.Filter = QStringLiteral("JPEG Files (*.jpg)");
        request.DefaultSuffix = QStringLiteral("jpg");
        request.Directory = folder.path();
        QString startedIn;
        bool other = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            startedIn = dialog->directory().absolutePath();
            dialog->selectFile(typed);
            QMetaObject::invokeMethod(dialog, "accept");
            // A question of the dialog's own would be the modal widget now.
            QTimer::singleShot(0, [&other] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    other = true;
                    box->reject();
                }
            });
        });
        DesktopInteraction desktop;
        const QString path = desktop.AskForFile(&owner, request);
        QCoreApplication::processEvents();
        QVERIFY(!other);
        QCOMPARE(startedIn, QDir(folder.path()).absolutePath());
        QCOMPARE(path, folder.filePath(returned));
    }

    void saveSaysWhichMetadataItLeftOut() {
        WindowSession s;
        QVERIFY(s.Open(Pictures.Positions()));
        // A save that holds everything says nothing.
        const QString target = Pictures.Path("commented_vlr.jpg");
        s.Save(target);
        QVERIFY(QFileInfo::exists(target));
        QVERIFY(s.Ui.Messages.empty());
        // A comment that alone fills the JPEG file's Exif segment.
        s.Dialog.Opened()->SetPropertyItem(
            {0x9286, PropertyTagTypeUndefined, std::vector<std::uint8_t>(65500, 'c'), false});
        QVERIFY(QFile::remove(target));
        s.Save(target);
        QVERIFY(QFileInfo::exists(target));
        QCOMPARE(s.Said(), QStringList(QStringLiteral("저장했습니다. 다음 정보는 JPEG 화일에 다 "
                                                      "들어가지 않아 빠졌습니다:\nUserComment")));
        VELORA_VERIFY_STATE(s.Dialog, ControlState::Ready, 10);
    }
};

}  // namespace velora

VELORA_WINDOW_TEST_MAIN(velora::OpenSaveTest)
#include "OpenSaveTest.moc"
