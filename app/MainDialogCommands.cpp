// Open, Save, Start and Cancel, and the two endings of a conversion.
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstring>

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

// Where Open starts the first time: the user's pictures, or the home folder without one.
QString FirstOpenFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

// JPEG first, as the window has always asked; then every kind of picture the file layer reads,
// and any file at all (pictures are known by their content, whatever their names say).
const QString OpenFilters = QStringLiteral(
    "JPEG Files (*.jpg *.jpeg *.jpe *.jfif);;"
    "All Pictures (*.jpg *.jpeg *.jpe *.jfif *.png *.bmp *.dib *.gif *.tif *.tiff *.ico *.cur "
    "*.webp *.heic *.heif *.hif *.avif);;"
    "All Files (*)");

}  // namespace

void MainDialog::OnOpen() {
    // Moving the mouse after the dialog closes must not drag the window.
    DragSuppressed = true;
    FileRequest request;
    request.Kind = FileRequest::Mode::Open;
    request.Filter = OpenFilters;
    request.DefaultSuffix = QStringLiteral("jpg");
    request.InitialName = QStringLiteral("*.jpg");
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
    if (!QFileInfo::exists(path)) {
        Ui.ShowMessage(this, Caption, QStringLiteral("없는 화일 입니다."));
        DrawWindowContents();
        return;
    }
    const LoadResult loaded = LoadBitmapFromFile(path.toStdString());
    // A file that is there but holds no readable picture leaves the current picture and state
    // as they are.
    if (!loaded.Bitmap || !ReplaceCopies(loaded.Bitmap)) {
        Ui.ShowMessage(this, Caption, QStringLiteral("그림을 읽을 수 없는 화일 입니다."));
        DrawWindowContents();
        return;
    }
    const QString name = QFileInfo(path).fileName();
    OpenedFolder = folder;
    OpenedFileName = name;
    CurrentFileName = name;
    setWindowTitle(QStringLiteral("Velora - ") + name);
    SetControlState(ControlState::Ready);
    Check1007.SetCheck(0);
    GrayContrastCheck.SetCheck(1);
    ShowFilmOptions(true);
    PictureLoaded = true;
    DrawWindowContents();
}

bool MainDialog::ReplaceCopies(const BitmapRef& loaded) {
    const int width = static_cast<int>(loaded->Width());
    const int height = static_cast<int>(loaded->Height());
    if (width <= 0 || height <= 0) {
        return false;
    }
    BitmapRef opened = loaded->Clone(0, 0, width, height);
    BitmapRef working = loaded->Clone(0, 0, width, height);
    if (!opened || !working) {
        return false;
    }
    // The replaced copies are released here, unless a finished run still holds one.
    OpenedCopy = std::move(opened);
    WorkingCopy = std::move(working);
    PictureWidth = width;
    PictureHeight = height;
    return true;
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
        if (path.isEmpty() || !QFileInfo::exists(path)) {
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
        const SaveResult saved =
            SaveConvertedPicture(*WorkingCopy, *OpenedCopy, path.toStdString());
        if (!saved.Ok) {
            Ui.ShowMessage(this, Caption, SaveFailureText(saved));
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
    // A pass cancelled a moment ago may not have delivered its ending yet; Start then finishes
    // it first and drops that ending, so it cannot turn this run's state back to ready.
    Conversion.Start(WorkingCopy, options);
}

void MainDialog::OnConversionCompleted(BitmapRef result) {
    if (result) {
        WorkingCopy = std::move(result);
    }
    CurrentFileName = QString::fromStdString(InsertVlrSuffix(CurrentFileName.toStdString()));
    DrawWindowContents();
    SetControlState(ControlState::Converted);
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
    CurrentFileName = OpenedFileName;
    if (OpenedCopy) {
        // A fresh copy: the running pass keeps writing only into the picture it holds.
        if (BitmapRef restored = OpenedCopy->Clone(0, 0, PictureWidth, PictureHeight)) {
            WorkingCopy = std::move(restored);
        }
    }
    SetControlState(ControlState::Ready);
    const bool available = GrayContrastCheck.GetCheck() != 0;
    FilmOptionsAvailable = available;
    ShowFilmOptions(available);
    // Shown at once, whether or not the worker has noticed the cancel yet.
    DrawWindowContents();
}

}  // namespace velora
