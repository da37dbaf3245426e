// Open, Save, Start and Cancel, and the two endings of a conversion.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QStringList>

#include <cstring>

#include "DiskPath.h"
#include "ImageFile.h"
#include "MainDialog.h"
#include "UserInteraction.h"

namespace velora {

namespace {

const QString Caption = QStringLiteral("Velora");

// Why a save failed, in the program's language; the operating system's own reason follows in its
// words, which are the desktop's language.
QString SaveFailureText(const SaveResult& saved) {
    QString text = QStringLiteral("저장하지 못했습니다.");
    switch (saved.FailedStep) {
        case SaveStep::Picture:
            text += QStringLiteral("\n그림을 JPEG 화일로 만들 수 없습니다.");
            break;
        case SaveStep::Folder:
            text += QStringLiteral("\n그 폴더에 화일을 만들 수 없습니다.");
            break;
        case SaveStep::Writing:
            text += QStringLiteral("\n화일을 쓰지 못했습니다.");
            break;
        case SaveStep::None:
            break;
    }
    if (saved.SystemError != 0) {
        text += QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(saved.SystemError)) +
                QStringLiteral(")");
    }
    return text;
}

// A save that went through but had to leave metadata out, which a JPEG file keeps in 64 KB.
QString LeftOutText(const SaveResult& saved) {
    QStringList names;
    for (const std::string& name : saved.LeftOut) {
        names << QString::fromStdString(name);
    }
    return QStringLiteral("저장했습니다. 다음 정보는 JPEG 화일에 다 들어가지 않아 빠졌습니다:\n") +
           names.join(QStringLiteral(", "));
}

// Where Open starts the first time: the user's pictures, or the home folder without one.
QString FirstOpenFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

}  // namespace

void MainDialog::OnOpen() {
    // Moving the mouse after the dialog closes must not drag the window.
    DragSuppressed = true;
    FileRequest request;
    request.Kind = FileRequest::Mode::Open;
    request.Filter = PictureOpenFilter();
    request.DefaultSuffix = QStringLiteral("jpg");
    request.Directory = LastOpenFolder.isEmpty() ? FirstOpenFolder() : LastOpenFolder;
    const QString path = Ui.AskForFile(this, request);
    if (path.isEmpty()) {
        DrawWindowContents();
        return;
    }
    OpenPicture(path);
}

void MainDialog::OpenPicture(const QString& path) {
    DragSuppressed = true;
    // The next Open starts where this one looked, whatever the file turns out to be.
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir()) {
        LastOpenFolder = folder;
    }
    const std::string disk = DiskPath(path);
    if (!ExistsOnDisk(disk)) {
        Ui.ShowMessage(this, Caption, QStringLiteral("없는 화일 입니다."));
        DrawWindowContents();
        emit OpenFinished(false);
        return;
    }
    // Decoding a large photo takes seconds: it happens on a thread of its own, together with the
    // picture the window will show, while the window stays drawn but takes no commands.
    Opening = true;
    setEnabled(false);
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    ++DisplayGeneration;
    const qreal ratio = devicePixelRatioF();
    Jobs.Run(
        [this, path, disk, ratio]() -> BackgroundTask::Finish {
            // The window saves JPEG only: a picture a JPEG file cannot hold is refused now, not
            // after its conversion.
            LoadOptions options;
            options.SavedAs = SaveFormat::Jpeg;
            auto loaded = std::make_shared<LoadResult>(LoadBitmapFromFile(disk, options));
            auto shown = std::make_shared<DisplayPicture>();
            if (loaded->Bitmap) {
                *shown =
                    MakeDisplayPicture(*loaded->Bitmap, PictureOrientation(*loaded->Bitmap), ratio);
            }
            return [this, path, disk, loaded, shown] {
                FinishOpen(path, DiskFileName(disk), *loaded, std::move(*shown));
            };
        },
        [this, path] { FinishOpen(path, std::string(), LoadResult(), DisplayPicture()); });
}

void MainDialog::FinishOpen(const QString& path, const std::string& diskName,
                            const LoadResult& loaded, DisplayPicture shown) {
    Opening = false;
    setEnabled(true);
    QGuiApplication::restoreOverrideCursor();
    // A file that is there but holds no readable picture leaves the current picture and state
    // as they are.
    // The message names the file and what is wrong with it, in the words velora-batch prints.
    const QString why = QFileInfo(path).fileName() + QStringLiteral(": ");
    if (!loaded.Bitmap || !shown.HasPicture()) {
        const std::string& cause =
            loaded.Message.empty() ? std::string("not enough memory to show it") : loaded.Message;
        Ui.ShowMessage(this, Caption,
                       QStringLiteral("그림을 읽을 수 없는 화일 입니다.\n") + why +
                           QString::fromStdString(cause));
        DrawWindowContents();
        emit OpenFinished(false);
        return;
    }
    // One picture serves as both copies: nothing writes it (a conversion works on a copy of its
    // own), so OpenedCopy stays as opened and Cancel needs no copy to put it back. The replaced
    // pictures are released here, unless a finished run still holds one.
    OpenedCopy = loaded.Bitmap;
    WorkingCopy = OpenedCopy;
    PictureWidth = shown.StoredWidth;
    PictureHeight = shown.StoredHeight;
    OpenedDisplay = shown;
    const QString name = QFileInfo(path).fileName();
    OpenedFolder = QFileInfo(path).absolutePath();
    OpenedFileName = name;
    CurrentFileName = name;
    OpenedDiskName = diskName;
    CurrentDiskName = diskName;
    setWindowTitle(QStringLiteral("Velora - ") + name);
    UnsavedResult = false;
    SetControlState(ControlState::Ready);
    Check1007.SetCheck(0);
    GrayContrastCheck.SetCheck(1);
    ShowFilmOptions(true);
    PictureLoaded = true;
    ShowPicture(std::move(shown));
    // A picture read only in part is still shown, with word that it is not whole.
    if (loaded.Damaged) {
        Ui.ShowMessage(this, Caption,
                       QStringLiteral("손상된 화일 입니다.\n그림을 일부만 읽었습니다.\n") + why +
                           QString::fromStdString(loaded.DamageReason));
    }
    emit OpenFinished(true);
}

void MainDialog::ShowPicture(DisplayPicture shown) {
    ++DisplayGeneration;
    Display = std::move(shown);
    PictureView.setAccessibleName(CurrentFileName);
    PictureView.setVisible(PictureLoaded);
    DrawWindowContents();
    emit PictureShown();
}

void MainDialog::RefreshDisplay() {
    // The screen's pixel ratio changed (the window moved to another screen): the display is made
    // anew for it, off the user-interface thread, from the picture nobody writes.
    if (Jobs.IsBusy() || !WorkingCopy) {
        return;
    }
    const BitmapRef picture = WorkingCopy;
    const bool opened = WorkingCopy == OpenedCopy;
    const int orientation = Display.Orientation;
    const qreal ratio = devicePixelRatioF();
    const quint64 generation = DisplayGeneration;
    Jobs.Run(
        [this, picture, opened, orientation, ratio, generation]() -> BackgroundTask::Finish {
            auto shown =
                std::make_shared<DisplayPicture>(MakeDisplayPicture(*picture, orientation, ratio));
            return [this, shown, opened, generation] {
                if (generation != DisplayGeneration) {
                    return;
                }
                Display = *shown;
                if (opened) {
                    OpenedDisplay = *shown;
                }
                update();
            };
        },
        {});
}

QString MainDialog::AskForSavePath() {
    FileRequest request;
    request.Kind = FileRequest::Mode::Save;
    request.Filter = QStringLiteral("JPEG File (*.jpg)");
    request.DefaultSuffix = QStringLiteral("jpg");
    request.InitialName = CurrentFileName;
    request.Directory = OpenedFolder;
    for (;;) {
        const QString path = Ui.AskForFile(this, request);
        if (path.isEmpty() || !ExistsOnDisk(DiskPath(path))) {
            return path;
        }
        const QString question = QStringLiteral("%1 화일이 이미 있습니다.\n바꾸시겠습니까?")
                                     .arg(QFileInfo(path).fileName());
        if (Ui.AskYesNo(this, Caption, question)) {
            return path;
        }
        // No: back to the dialog, with the name that was chosen.
        request.Directory = QFileInfo(path).absolutePath();
        request.InitialName = QFileInfo(path).fileName();
    }
}

void MainDialog::OnSave() {
    const QString path = AskForSavePath();
    if (!path.isEmpty() && WorkingCopy && OpenedCopy) {
        std::string target = DiskPath(path);
        // A new file under the name the window offered takes the bytes of the name it came from,
        // which text cannot always carry.
        const QFileInfo chosen(path);
        if (CurrentFileName.contains(QChar::ReplacementCharacter) && !ExistsOnDisk(target) &&
            chosen.fileName() == CurrentFileName) {
            target = DiskPath(chosen.path()) + '/' + CurrentDiskName;
        }
        const SaveResult saved = SaveConvertedPicture(*WorkingCopy, *OpenedCopy, target);
        UnsavedResult = UnsavedResult && !saved.Ok;
        if (!saved.Ok) {
            Ui.ShowMessage(this, Caption, SaveFailureText(saved));
        } else if (!saved.LeftOut.empty()) {
            // The file looks complete without them; the user learns it here or never.
            Ui.ShowMessage(this, Caption, LeftOutText(saved));
        }
    }
    DrawWindowContents();
}

void MainDialog::OnStartConversion() {
    if (!PictureLoaded || !WorkingCopy) {
        return;
    }
    SetControlState(ControlState::Converting);
    // The snapshot is taken here, once: moving a slider during the pass changes nothing.
    ConversionOptions options;
    options.ColorStrength = ColorSlider.Position();
    options.GrayStrength = GraySlider.Position();
    options.GrayContrast = GrayContrastCheck.GetCheck() != 0;
    options.ReddishFilm = ReddishFilmBox.checkState() != Qt::Unchecked;
    options.BlueishFilm = BlueishFilmBox.checkState() != Qt::Unchecked;
    // The display of the result is made on the worker's thread, inside the pause before the
    // result is shown, so the end of a conversion costs this thread no scaling.
    auto prepared = std::make_shared<PreparedDisplay>();
    PendingDisplay = prepared;
    const int orientation = Display.Orientation;
    const qreal ratio = devicePixelRatioF();
    // A pass cancelled a moment ago may not have delivered its ending yet; Start then finishes
    // it first and drops that ending, so it cannot turn this run's state back to ready. The
    // conversion runs on a copy, made on the worker's thread: WorkingCopy itself is never written.
    Conversion.StartOnCopy(WorkingCopy, options,
                           [prepared, orientation, ratio](const BitmapRef& result) {
                               prepared->Display = MakeDisplayPicture(*result, orientation, ratio);
                               prepared->Source = result.get();
                           });
}

void MainDialog::OnConversionCompleted(BitmapRef result) {
    DisplayPicture shown;
    if (PendingDisplay && PendingDisplay->Source == result.get()) {
        shown = std::move(PendingDisplay->Display);
    } else {
        shown = MakeDisplayPicture(*result, Display.Orientation, devicePixelRatioF());
    }
    PendingDisplay.reset();
    WorkingCopy = std::move(result);
    CurrentFileName = QString::fromStdString(InsertVlrSuffix(CurrentFileName.toStdString()));
    CurrentDiskName = InsertVlrSuffix(CurrentDiskName);
    UnsavedResult = true;
    SetControlState(ControlState::Converted);
    ShowPicture(std::move(shown));
}

void MainDialog::OnConversionCancelled() {
    SetControlState(ControlState::Ready);
    // The ready state offers the film options, but only Gray Contrast makes them meaningful;
    // Cancel has already settled this and a late ending must not undo it.
    FilmOptionsAvailable = GrayContrastCheck.GetCheck() != 0;
    ShowFilmOptions(FilmOptionsAvailable);
}

void MainDialog::OnCancelConversion() {
    Conversion.RequestCancel();
    PendingDisplay.reset();
    CurrentFileName = OpenedFileName;
    CurrentDiskName = OpenedDiskName;
    UnsavedResult = false;
    // The opened picture itself: the running pass writes only into the copy it made, and the
    // display of the opened picture is still at hand.
    WorkingCopy = OpenedCopy;
    SetControlState(ControlState::Ready);
    const bool available = GrayContrastCheck.GetCheck() != 0;
    FilmOptionsAvailable = available;
    ShowFilmOptions(available);
    // Shown at once, together with the ready state, whether or not the worker has noticed the
    // cancel yet.
    ShowPicture(OpenedDisplay);
}

}  // namespace velora
