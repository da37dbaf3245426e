#include "DemoWindow.h"

#include "BitmapButton.h"
#include "BitmapResource.h"
#include "BitmapSlider.h"
#include "ControlEvents.h"
#include "Conversion.h"
#include "Resources.h"
#include "WindowRegion.h"

#include <QPainter>

namespace velora {
namespace {

// The piece of the 1000 x 800 skin that holds the controls, and the room for a status line.
const QRect Piece(700, 160, 290, 400);
constexpr int StatusHeight = 26;
constexpr unsigned PushStyle = 0x50010000;
constexpr unsigned CheckStyle = 0x50010003;

QPoint InPiece(int skinX, int skinY) {
    return QPoint(skinX, skinY) - Piece.topLeft();
}

}  // namespace

DemoWindow::DemoWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Velora controls"));
    setFixedSize(Piece.width(), Piece.height() + StatusHeight);
    SkinPiece = LoadBitmapResource(IDB_SKIN).copy(Piece);
    // The skin's shape, cut by its key colour; outside it the demo shows its own background.
    SkinShape = RegionFromBitmap(SkinPiece, SkinKeyRgb, SkinKeyRgb).value_or(QRegion());

    const auto pushButton = [this](const QString& caption, QPoint at, const QString& tip) {
        auto* button = new BitmapButton(this);
        button->PreSubclassWindow(PushStyle);
        button->setText(caption);
        button->move(at);
        button->LoadFaces(IDB_PUSH_NORMAL, IDB_PUSH_PRESSED, IDB_PUSH_HOVER, IDB_PUSH_DISABLED, 0,
                          IDB_PUSH_MASK, BitmapButton::Natural, 0, 0);
        button->SetTooltip(tip);
        connect(button, &QAbstractButton::clicked, this, [this, caption] {
            ++Clicks;
            LastNotice = caption.simplified() + QStringLiteral(" clicked");
            update();
        });
        return button;
    };
    OpenButton = pushButton(QStringLiteral("열  기"), InPiece(738, 176),
                            QStringLiteral("JPG 화일을 엽니다."));
    SaveButton = pushButton(QStringLiteral("저  장"), InPiece(771, 217),
                            QStringLiteral("JPG 화일로 저장합니다."));
    SaveButton->setEnabled(false);

    ContrastCheck = new BitmapButton(this);
    ContrastCheck->PreSubclassWindow(CheckStyle);
    ContrastCheck->move(InPiece(794, 458));
    ContrastCheck->LoadFaces(IDB_CHECK_NORMAL, IDB_CHECK_PRESSED, IDB_CHECK_HOVER,
                             IDB_CHECK_DISABLED, 0, IDB_CHECK_MASK, BitmapButton::Natural, 0, 0);
    ContrastCheck->SetTooltip(QStringLiteral("무채색의 대조를 더욱 강조합니다."));
    connect(ContrastCheck, &QAbstractButton::clicked, this, [this] {
        // Checking the box also enables Save, so the disabled face can be compared by hand.
        SaveButton->setEnabled(ContrastCheck->GetCheck() == 1);
        update();
    });

    const auto slider = [this](int id, QPoint at, int max, int initial) {
        auto* s = new BitmapSlider(id, this);
        s->move(at);
        s->SetChannelBitmaps(IDB_SLIDER_CHANNEL, IDB_SLIDER_ACTIVE, true,
                             BitmapSlider::KeyFromPixel, 0, 0);
        s->SetRange(0, max, false);
        s->SetPosition(initial);
        s->MarginLeft = 8;
        s->MarginRight = 8;
        s->SetPageStep(25);
        return s;
    };
    ColorSlider = slider(IDC_SLIDER_COLOR, InPiece(840, 395), ColorStrengthMax, ColorStrengthStart);
    GraySlider = slider(IDC_SLIDER_GRAY, InPiece(840, 423), GrayStrengthMax, GrayStrengthStart);
}

bool DemoWindow::event(QEvent* e) {
    if (e->type() == WM_SLIDER_TRACK || e->type() == WM_SLIDER_DONE) {
        const auto* notice = static_cast<SliderEvent*>(e);
        LastNotice = QStringLiteral("%1 %2 = %3")
                         .arg(e->type() == WM_SLIDER_TRACK ? QStringLiteral("track")
                                                           : QStringLiteral("done"))
                         .arg(notice->ControlId())
                         .arg(notice->Position());
        update();
        return true;
    }
    return QWidget::event(e);
}

QString DemoWindow::StatusText() const {
    return QStringLiteral("Color %1  Gray %2  Contrast %3  clicks %4   %5")
        .arg(ColorSlider->Position())
        .arg(GraySlider->Position())
        .arg(ContrastCheck->GetCheck() ? QStringLiteral("on") : QStringLiteral("off"))
        .arg(Clicks)
        .arg(LastNotice);
}

void DemoWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x2B, 0x30, 0x38));
    painter.save();
    painter.setClipRegion(SkinShape);
    painter.drawImage(0, 0, SkinPiece);
    painter.restore();

    // The labels the main window draws beside its controls.
    QFont label = font();
    label.setPixelSize(11);
    painter.setFont(label);
    painter.setPen(Qt::black);
    painter.drawText(InPiece(795, 410), QStringLiteral("Color"));
    painter.drawText(InPiece(795, 438), QStringLiteral("Gray"));
    painter.drawText(InPiece(818, 472), QStringLiteral("Gray Contrast"));

    painter.setPen(QColor(0xE6, 0xE1, 0xD8));
    painter.drawText(QRect(8, Piece.height(), width() - 16, StatusHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, StatusText());
}

}  // namespace velora
