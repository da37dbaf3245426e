// The one window of the program: the skinned, captionless main dialog with its controls, the
// picture state and the commands Open, Save, Start, Cancel and the colour probe.
#pragma once

#include <QCheckBox>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QProgressBar>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "BackgroundTask.h"
#include "BitmapButton.h"
#include "BitmapSlider.h"
#include "ConversionWorker.h"
#include "DisplayPicture.h"
#include "ImageFile.h"
#include "ProgressMeter.h"
#include "WorkingBitmap.h"

class QMenu;

namespace velora {

class UserInteraction;

enum class ControlState { NoPicture, Ready, Converting, Converted };

class MainDialog : public QWidget {
    Q_OBJECT
  public:
    // `ui` answers the dialogs and message boxes and must outlive the window.
    explicit MainDialog(UserInteraction& ui, QWidget* parent = nullptr);
    ~MainDialog() override;

    // Commands, each what a click on its button does.
    void OnOpen();
    void OnSave();
    void OnStartConversion();
    void OnCancelConversion();
    void OnGrayContrastClicked();
    void OnAbout();
    // Opens `path` the way Open does after its dialog (also used for a dropped file and the
    // command line). The picture is read on a thread of its own; OpenFinished tells the end.
    void OpenPicture(const QString& path);

    void SetControlState(ControlState state);
    void ShowFilmOptions(bool available);
    // Redraws the whole window at once; wipes the probe's marker and readout.
    void DrawWindowContents();
    // A left press on the window body at client (x, y).
    void ColorProbe(int x, int y);
    // The window's menu (the window has no caption): Minimise, Close, About.
    std::unique_ptr<QMenu> BuildSystemMenu();
    void ShowSystemMenu(const QPoint& globalPosition);
    // Where Alt+Space opens the menu, in screen coordinates: always on the skin.
    QPoint KeyboardMenuPosition() const;
    void OpenWebPage();

    // Read access for the program's tests and tools.
    QWidget* Control(int id);
    BitmapButton& Button(int id);
    BitmapSlider& Slider(int id);
    QCheckBox& FilmBox(int id);
    QProgressBar& Progress() { return ProgressBar; }
    ConversionWorker& Worker() { return Conversion; }
    bool IsPictureLoaded() const { return PictureLoaded; }
    bool AreFilmOptionsAvailable() const { return FilmOptionsAvailable; }
    BitmapRef Working() const { return WorkingCopy; }
    BitmapRef Opened() const { return OpenedCopy; }
    QString CurrentName() const { return CurrentFileName; }
    QString OpenedName() const { return OpenedFileName; }
    bool IsOpening() const { return Opening; }
    // A converted result is on screen that no Save has written yet.
    bool HasUnsavedResult() const { return UnsavedResult; }
    const DisplayPicture& Shown() const { return Display; }
    bool IsProbeShown() const { return Probe.has_value(); }
    QStringList ProbeReadout() const { return Probe ? Probe->Lines : QStringList(); }
    QPoint ProbeMarker() const { return Probe ? Probe->Marker : QPoint(); }

  signals:
    // An Open has ended: with the new picture on screen, or with the old one and a message.
    void OpenFinished(bool opened);
    // A new picture is on screen: after Open, at the end of a conversion and after Cancel.
    void PictureShown();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct ProbeOverlay {
        QPoint Marker;
        QStringList Lines;
    };

    // Every control of the main template with its widget, in binding (and tab) order.
    struct ControlBinding {
        int Id;
        QWidget* Widget;
    };
    std::array<ControlBinding, 14> ControlBindings();
    void BindControls();
    void LoadSkin();
    void SkinButtons();
    void SetUpSliders();
    void ConnectCommands();
    void SetFilmBoxesEnabled(bool enabled);

    void EraseWithSkin(QPainter& painter);
    void PaintContents(QPainter& painter, const QRect& dirty);
    void PaintFilmLabels(QPainter& painter);
    void PaintPicture(QPainter& painter);
    void PaintProbe(QPainter& painter);
    void ShowColorReadout(quint32 argb);
    static void DrawShadowText(QPainter& painter, int x, int y, const QString& text);
    bool IsOnDrawnPicture(int x, int y);

    QString AskForSavePath();
    void OnConversionCompleted(BitmapRef result);
    void OnConversionCancelled();
    void FinishOpen(const QString& path, const std::string& diskName, const LoadResult& loaded,
                    DisplayPicture shown);
    void ShowPicture(DisplayPicture shown);
    void RefreshDisplay();

    UserInteraction& Ui;

    QImage SkinBitmap;
    // The skin's "@2x" twin, read the first time the window paints on a screen with a device
    // pixel ratio above 1; the skin itself still gives the window its size and shape.
    QImage SharpSkin;
    bool SharpSkinTried = false;
    int SkinWidth = 0;
    int SkinHeight = 0;
    int PictureWidth = 0;
    int PictureHeight = 0;
    bool PictureLoaded = false;
    bool DragArmed = false;
    bool DragSuppressed = true;
    // The desktop was asked to move the window during this drag, and declined.
    bool SystemMoveAsked = false;
    QIcon AppIcon;
    QString AboutMenuText;

    BitmapButton OpenButton;
    BitmapButton ExitButton;
    BitmapButton SaveButton;
    BitmapButton StartButton;
    BitmapButton CancelButton;
    BitmapButton Check1006;
    BitmapButton Check1007;
    BitmapButton GrayContrastCheck;
    ProgressMeter ProgressBar;
    QCheckBox ReddishFilmBox;
    QCheckBox BlueishFilmBox;
    BitmapSlider ColorSlider;
    BitmapSlider GraySlider;
    BitmapSlider HiddenSlider;
    // Stands where the picture is painted, for assistive technology only: it draws nothing and
    // lets the mouse through to the window.
    QWidget PictureView;

    // Picture state: OpenedCopy never changes after Open; WorkingCopy is what is shown,
    // converted and saved.
    BitmapRef OpenedCopy;
    BitmapRef WorkingCopy;
    QString OpenedFileName;
    QString CurrentFileName;
    // The same two names as bytes on disk, which text cannot always carry.
    std::string OpenedDiskName;
    std::string CurrentDiskName;
    QString OpenedFolder;    // where the opened picture lives; Save starts there
    QString LastOpenFolder;  // where Open looked last; empty before the first Open

    QPoint DragAnchor{0, 0};
    bool FilmOptionsAvailable = false;
    std::optional<ProbeOverlay> Probe;

    // What the window paints of WorkingCopy, and of OpenedCopy for Cancel to put back at once.
    // Each is made once per picture, never per paint. A display made for a finished conversion
    // on the worker's thread waits in PendingDisplay until the result is delivered.
    struct PreparedDisplay {
        const WorkingBitmap* Source = nullptr;
        DisplayPicture Display;
    };
    DisplayPicture Display;
    DisplayPicture OpenedDisplay;
    std::shared_ptr<PreparedDisplay> PendingDisplay;
    quint64 DisplayGeneration = 0;  // changes with every picture shown; late work is dropped
    bool Opening = false;
    bool UnsavedResult = false;

    // Reads pictures and remakes displays off the user-interface thread.
    BackgroundTask Jobs;

    // Last member: destroyed first, so its thread is joined before anything it could reach.
    ConversionWorker Conversion;
};

}  // namespace velora
