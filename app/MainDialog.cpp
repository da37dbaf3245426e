#include "MainDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QScreen>

#include "AccessibleWindow.h"
#include "BitmapResource.h"
#include "Conversion.h"
#include "Resources.h"
#include "UserInteraction.h"
#include "WindowGeometry.h"
#include "WindowRegion.h"

namespace velora {

namespace {

// Slider 1015 is hidden; it stands at the top of its range, and the probe's readout reads it.
constexpr int HiddenSliderMax = 100;

// Insets of the buttons' focus marks, in the faces' pixels.
constexpr int PushFocusMargin = 6;
constexpr int CheckFocusMargin = 3;

const DialogTemplate& MainTemplate() {
    return *FindDialogTemplate(IDD_MAIN_DIALOG);
}

// The captions and the window texts are Korean; the platform's dialog font has no Hangul, so
// the window carries a Korean font of the same size class.
QFont WindowFont() {
    QFont font(QStringLiteral("NanumGothic"));
    font.setPixelSize(12);
    return font;
}

QFont ButtonFont() {
    QFont font(QStringLiteral("NanumGothic"));
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

}  // namespace

MainDialog::MainDialog(UserInteraction& ui, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      Ui(ui),
      AppIcon(IconResourcePath(IDR_MAINFRAME)),
      OpenButton(this),
      ExitButton(this),
      SaveButton(this),
      StartButton(this),
      CancelButton(this),
      Check1006(this),
      Check1007(this),
      GrayContrastCheck(this),
      ProgressBar(this),
      ReddishFilmBox(this),
      BlueishFilmBox(this),
      ColorSlider(IDC_SLIDER_COLOR, this),
      GraySlider(IDC_SLIDER_GRAY, this),
      HiddenSlider(IDC_SLIDER_1015, this),
      PictureView(this) {
    InstallAccessibleWindow();
    setFont(WindowFont());
    setAcceptDrops(true);
    BindControls();
    ConnectCommands();

    // The About entry of the window menu exists only when its text does.
    AboutMenuText = LoadResourceString(IDS_ABOUTBOX);
    setWindowIcon(AppIcon);
    PictureLoaded = false;
    LoadSkin();
    SkinButtons();
    SetUpSliders();
    setWindowTitle(QStringLiteral("Velora"));
    SetControlState(ControlState::NoPicture);
    // Like a dialog that starts with the first tab stop focused.
    OpenButton.setFocus();

    // F1 is seen on its way to whichever control has the focus.
    qApp->installEventFilter(this);
}

MainDialog::~MainDialog() {
    qApp->removeEventFilter(this);
    Conversion.RequestCancel();
    Conversion.Wait();
}

std::array<MainDialog::ControlBinding, 14> MainDialog::ControlBindings() {
    // The order in which the template's controls are bound.
    return {{
        {IDC_OPEN, &OpenButton},
        {IDC_CHECK_1006, &Check1006},
        {IDOK, &ExitButton},
        {IDC_SAVE, &SaveButton},
        {IDC_START, &StartButton},
        {IDC_CANCEL_CONVERSION, &CancelButton},
        {IDC_PROGRESS, &ProgressBar},
        {IDC_CHECK_1007, &Check1007},
        {IDC_GRAY_CONTRAST, &GrayContrastCheck},
        {IDC_REDDISH_FILM, &ReddishFilmBox},
        {IDC_BLUEISH_FILM, &BlueishFilmBox},
        {IDC_SLIDER_COLOR, &ColorSlider},
        {IDC_SLIDER_GRAY, &GraySlider},
        {IDC_SLIDER_1015, &HiddenSlider},
    }};
}

void MainDialog::BindControls() {
    const DialogTemplate& layout = MainTemplate();
    for (const ControlBinding& binding : ControlBindings()) {
        const DialogItem* item = layout.Find(binding.Id);
        if (item == nullptr) {
            continue;
        }
        QWidget* widget = binding.Widget;
        widget->setGeometry(DialogUnitsToPixels(item->Units));
        if (auto* button = qobject_cast<BitmapButton*>(widget)) {
            button->PreSubclassWindow(item->ButtonStyle);
            button->setText(QString::fromUtf8(item->Caption));
            button->setFont(ButtonFont());
        }
        widget->setVisible((item->Style & StyleVisible) != 0);
    }
    // Tab walks the controls in the template's order: the buttons down the curve of the skin,
    // then the options, then the sliders, which a keyboard alone could not reach otherwise.
    QWidget* previous = nullptr;
    for (const DialogItem& item : layout) {
        if (QWidget* widget = Control(item.Id)) {
            if (previous != nullptr) {
                setTabOrder(previous, widget);
            }
            previous = widget;
        }
    }
    ProgressBar.setOrientation(Qt::Vertical);
    ProgressBar.setTextVisible(false);
    ProgressBar.setAccessibleName(QStringLiteral("변환 진행"));
    ReddishFilmBox.setFocusPolicy(Qt::TabFocus);
    BlueishFilmBox.setFocusPolicy(Qt::TabFocus);
    ColorSlider.setFocusPolicy(Qt::StrongFocus);
    GraySlider.setFocusPolicy(Qt::StrongFocus);
    // The options' labels are painted by the window; assistive technology hears them here.
    GrayContrastCheck.setAccessibleName(QStringLiteral("Gray Contrast"));
    ReddishFilmBox.setAccessibleName(QStringLiteral("Reddish Film"));
    BlueishFilmBox.setAccessibleName(QStringLiteral("Blueish Film"));
    ColorSlider.setAccessibleName(QStringLiteral("Color"));
    GraySlider.setAccessibleName(QStringLiteral("Gray"));
    PictureView.setObjectName(QLatin1String(PictureObjectName));
    PictureView.setGeometry(PictureFrame::Left, PictureFrame::Top, PictureFrame::Side,
                            PictureFrame::Side);
    PictureView.setAttribute(Qt::WA_TransparentForMouseEvents);
    PictureView.hide();
}

void MainDialog::ConnectCommands() {
    connect(&OpenButton, &QAbstractButton::clicked, this, [this] { OnOpen(); });
    connect(&SaveButton, &QAbstractButton::clicked, this, [this] { OnSave(); });
    connect(&StartButton, &QAbstractButton::clicked, this, [this] { OnStartConversion(); });
    connect(&CancelButton, &QAbstractButton::clicked, this, [this] { OnCancelConversion(); });
    connect(&ExitButton, &QAbstractButton::clicked, this, [this] { close(); });
    connect(&GrayContrastCheck, &QAbstractButton::clicked, this,
            [this] { OnGrayContrastClicked(); });
    // The film tints exclude each other; both may be clear.
    connect(&ReddishFilmBox, &QAbstractButton::clicked, this,
            [this] { BlueishFilmBox.setChecked(false); });
    connect(&BlueishFilmBox, &QAbstractButton::clicked, this,
            [this] { ReddishFilmBox.setChecked(false); });

    connect(&Conversion, &ConversionWorker::ProgressRange, this,
            [this](int maximum) { ProgressBar.setRange(0, maximum); });
    connect(&Conversion, &ConversionWorker::Progress, this,
            [this](int column) { ProgressBar.setValue(column); });
    connect(&Conversion, &ConversionWorker::Completed, this,
            [this](BitmapRef result) { OnConversionCompleted(std::move(result)); });
    connect(&Conversion, &ConversionWorker::Cancelled, this, [this] { OnConversionCancelled(); });
}

void MainDialog::LoadSkin() {
    SkinBitmap = LoadBitmapResource(IDB_SKIN).convertToFormat(QImage::Format_RGB32);
    SkinWidth = SkinBitmap.width();
    SkinHeight = SkinBitmap.height();
    move(0, 0);
    setFixedSize(SkinWidth, SkinHeight);

    if (const std::optional<QRegion> shape = RegionFromBitmap(SkinBitmap, SkinKeyRgb, SkinKeyRgb)) {
        setMask(*shape);
    }

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(PlaceOnScreen(screen->availableGeometry(), QSize(SkinWidth, SkinHeight)));
    }
}

void MainDialog::SkinButtons() {
    struct Skin {
        BitmapButton* Button;
        const char* Tooltip;
    };
    const Skin pushes[] = {
        {&OpenButton, "사진 화일(JPEG, PNG, TIFF, WebP, HEIC 등)을 엽니다."},
        {&SaveButton, "JPG 화일로 저장합니다."},
        {&StartButton, "VLR 변환을 시작합니다."},
        {&CancelButton, "VLR 변환을 취소하고 처음으로 되돌립니다.."},
        {&ExitButton, "소프트웨어를 종료합니다."},
    };
    for (const Skin& skin : pushes) {
        // The margin keeps the focus mark inside the face's rounded outline.
        skin.Button->LoadFaces(IDB_PUSH_NORMAL, IDB_PUSH_PRESSED, IDB_PUSH_HOVER, IDB_PUSH_DISABLED,
                               0, IDB_PUSH_MASK, BitmapButton::Natural, 0, PushFocusMargin);
        skin.Button->SetTooltip(QString::fromUtf8(skin.Tooltip));
    }
    const Skin checks[] = {
        {&Check1006, "좀 더 강렬한 색으로 변환합니다."},
        {&Check1007, "마우스로 왼쪽 그림에서 피부색을 클릭하세요."},
        {&GrayContrastCheck, "무채색의 대조를 더욱 강조합니다."},
    };
    for (const Skin& skin : checks) {
        skin.Button->LoadFaces(IDB_CHECK_NORMAL, IDB_CHECK_PRESSED, IDB_CHECK_HOVER,
                               IDB_CHECK_DISABLED, 0, IDB_CHECK_MASK, BitmapButton::Natural, 0,
                               CheckFocusMargin);
        skin.Button->SetTooltip(QString::fromUtf8(skin.Tooltip));
    }
}

void MainDialog::SetUpSliders() {
    struct Setup {
        BitmapSlider* Slider;
        int Maximum;
        int Initial;
    };
    const Setup setups[] = {{&ColorSlider, ColorStrengthMax, ColorStrengthStart},
                            {&HiddenSlider, HiddenSliderMax, HiddenSliderMax},
                            {&GraySlider, GrayStrengthMax, GrayStrengthStart}};
    for (const Setup& setup : setups) {
        // Key colour from pixel (0, 0) of each track bitmap.
        setup.Slider->SetChannelBitmaps(IDB_SLIDER_CHANNEL, IDB_SLIDER_ACTIVE, true,
                                        BitmapSlider::KeyFromPixel, 0, 0);
        setup.Slider->SetRange(0, setup.Maximum, false);
        setup.Slider->SetPosition(setup.Initial);
        setup.Slider->MarginLeft = 8;
        setup.Slider->MarginRight = 8;
        setup.Slider->SetPageStep(25);
    }
}

void MainDialog::SetControlState(ControlState state) {
    setFocus();
    const bool noPicture = state == ControlState::NoPicture;
    const bool ready = state == ControlState::Ready;
    const bool converting = state == ControlState::Converting;
    const bool converted = state == ControlState::Converted;

    OpenButton.setEnabled(!converting);
    SaveButton.setEnabled(converted);
    StartButton.setEnabled(ready);
    CancelButton.setEnabled(converting || converted);
    ExitButton.setEnabled(!converting);
    Check1006.setEnabled(ready);
    Check1007.setEnabled(ready);
    GrayContrastCheck.setEnabled(ready);
    // The film boxes are off in every state; a paint turns them on while the options are
    // available.
    SetFilmBoxesEnabled(false);
    FilmOptionsAvailable = ready;
    if (!converted) {
        ProgressBar.setRange(0, 10);
        ProgressBar.setValue(noPicture ? 0 : 10);
    }
    if (FilmOptionsAvailable) {
        update();
    }
}

void MainDialog::SetFilmBoxesEnabled(bool enabled) {
    ReddishFilmBox.setEnabled(enabled);
    BlueishFilmBox.setEnabled(enabled);
}

void MainDialog::ShowFilmOptions(bool available) {
    SetFilmBoxesEnabled(available);
    if (isVisible()) {
        repaint(PaintLayout::FilmOptionsArea);
    }
}

void MainDialog::OnGrayContrastClicked() {
    const bool available = GrayContrastCheck.GetCheck() != 0;
    FilmOptionsAvailable = available;
    ShowFilmOptions(available);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    // A finished conversion is work: Enter, Escape, Exit and Close do not throw it away unasked.
    // No, the safe answer, is the default and keeps the window.
    if (UnsavedResult && !Ui.AskYesNo(this, QStringLiteral("Velora"),
                                      QStringLiteral("변환한 그림을 저장하지 않았습니다.\n"
                                                     "저장하지 않고 끝내시겠습니까?"))) {
        event->ignore();
        return;
    }
    // A running pass is stopped and joined before anything it refers to goes away.
    Conversion.RequestCancel();
    Conversion.Wait();
    event->accept();
}

QWidget* MainDialog::Control(int id) {
    for (const ControlBinding& binding : ControlBindings()) {
        if (binding.Id == id) {
            return binding.Widget;
        }
    }
    return nullptr;
}

BitmapButton& MainDialog::Button(int id) {
    return *qobject_cast<BitmapButton*>(Control(id));
}
BitmapSlider& MainDialog::Slider(int id) {
    return *qobject_cast<BitmapSlider*>(Control(id));
}
QCheckBox& MainDialog::FilmBox(int id) {
    return *qobject_cast<QCheckBox*>(Control(id));
}

}  // namespace velora
