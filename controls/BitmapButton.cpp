#include "BitmapButton.h"

#include "AccessibleControls.h"
#include "ControlEvents.h"
#include "FocusRect.h"
#include "WindowRegion.h"

#include <qdrawutil.h>
#include <QAccessible>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <memory>

namespace velora {
namespace {

constexpr quint32 MaskKeyWhite = 0xFFFFFF;

}  // namespace

BitmapButton::BitmapButton(QWidget* parent)
    : QAbstractButton(parent), TextColour(palette().color(QPalette::Active, QPalette::ButtonText)) {
    // Hover starts on a plain mouse move, so moves must arrive without a button held.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    InstallAccessibleControls();
}

void BitmapButton::PreSubclassWindow(unsigned style) {
    const unsigned type = style & 0xFF;
    if ((type & 3) == 3) {
        CurrentBehaviour = ButtonBehaviour::CheckBox;
    } else if ((type & 9) == 9) {
        CurrentBehaviour = ButtonBehaviour::Radio;
    } else {
        CurrentBehaviour = ButtonBehaviour::Push;
    }
}

void BitmapButton::LoadFaces(int normal, int pressed, int hover, int disabled, int focus, int mask,
                             int drawMode, int border, int margin) {
    // The identifiers are unsigned and the numbers signed 16-bit values.
    const auto id = [](int value) { return static_cast<int>(static_cast<quint16>(value)); };
    const auto number = [](int value) { return static_cast<int>(static_cast<qint16>(value)); };
    Faces.Load(id(normal), id(pressed), id(hover), id(disabled), id(focus), id(mask));
    const int mode = number(drawMode);
    DrawModeValue = mode >= 2 ? Tile : (mode < 0 ? Natural : mode);
    BorderValue = number(border);
    MarginValue = std::max(0, number(margin));

    if (!Faces.MaskBitmap.isNull()) {
        RegionValue = RegionFromMask(Faces.MaskBitmap, MaskKeyWhite);
        // An empty QRegion would clear the widget mask instead of hiding everything; an
        // all-white mask is kept out of reach by hitButton alone and shows no face pixel.
        if (RegionValue && !RegionValue->isEmpty()) {
            setMask(*RegionValue);
        }
        if (DrawModeValue == Natural) {
            resize(Faces.MaskBitmap.size());
        }
    }
    Redraw();
}

void BitmapButton::SetTooltip(const QString& text) {
    setToolTip(text);
}

void BitmapButton::SetCheck(int check) {
    const bool was = Checked;
    Checked = check != 0 && CurrentBehaviour != ButtonBehaviour::Push;
    if (was != Checked && QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
    if (CurrentBehaviour == ButtonBehaviour::Radio && check != 0) {
        for (BitmapButton* member : GroupMembers()) {
            QCoreApplication::postEvent(member,
                                        std::make_unique<QEvent>(WM_GROUP_UNCHECK).release());
        }
    }
    Redraw();
}

void BitmapButton::ClickFromUser() {
    SetCheckFromUser();
    click();
}

int BitmapButton::GetCheck() const {
    return Checked ? 1 : 0;
}

void BitmapButton::SetState(bool pushed) {
    setDown(pushed);
    repaint();
}

bool BitmapButton::GetState() const {
    return isDown();
}

void BitmapButton::SetTextColour(const QColor& colour) {
    TextColour = colour;
    Redraw();
}

ButtonBehaviour BitmapButton::Behaviour() const {
    return CurrentBehaviour;
}

void BitmapButton::SetGroupStart(bool start) {
    GroupStartValue = start;
}

bool BitmapButton::GroupStart() const {
    return GroupStartValue;
}

std::vector<BitmapButton*> BitmapButton::GroupMembers() const {
    std::vector<BitmapButton*> members;
    const QWidget* parent = parentWidget();
    if (parent == nullptr) {
        return members;
    }
    const QList<BitmapButton*> siblings =
        parent->findChildren<BitmapButton*>(QString(), Qt::FindDirectChildrenOnly);
    const auto self = std::find(siblings.begin(), siblings.end(), this);
    if (self == siblings.end()) {
        return members;
    }
    auto first = self;
    while (first != siblings.begin() && !(*first)->GroupStartValue) {
        --first;
    }
    auto last = self + 1;
    while (last != siblings.end() && !(*last)->GroupStartValue) {
        ++last;
    }
    // From the next member to the group's end, then round from its start.
    members.insert(members.end(), self + 1, last);
    members.insert(members.end(), first, self);
    return members;
}

bool BitmapButton::event(QEvent* e) {
    if (e->type() == WM_GROUP_UNCHECK) {
        if (Checked) {
            SetCheck(0);
        }
        return true;
    }
    return QAbstractButton::event(e);
}

bool BitmapButton::hitButton(const QPoint& pos) const {
    return rect().contains(pos) && (!RegionValue || RegionValue->contains(pos));
}

void BitmapButton::Redraw() {
    update();
}

void BitmapButton::SetCheckFromUser() {
    if (CurrentBehaviour == ButtonBehaviour::CheckBox) {
        SetCheck(Checked ? 0 : 1);
    } else if (CurrentBehaviour == ButtonBehaviour::Radio) {
        SetCheck(1);
    }
}

void BitmapButton::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QAbstractButton::mousePressEvent(e);
        return;
    }
    // A press ends the hover; the normal face shows until the mouse moves again.
    Hover = false;
    QAbstractButton::mousePressEvent(e);
    MouseDown = e->isAccepted();
    LastPressPoint = e->position().toPoint();
}

void BitmapButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QAbstractButton::mouseReleaseEvent(e);
        return;
    }
    // The check changes before the click notification, so the parent reads the new state.
    if (hitButton(e->position().toPoint())) {
        SetCheckFromUser();
    }
    MouseDown = false;
    QAbstractButton::mouseReleaseEvent(e);
}

void BitmapButton::mouseMoveEvent(QMouseEvent* e) {
    if (MouseDown && (e->buttons() & Qt::LeftButton)) {
        // The pushed look follows the pointer over the shape, not only the rectangle.
        LastPressPoint = e->position().toPoint();
        const bool over = hitButton(LastPressPoint);
        if (over != isDown()) {
            SetState(over);
        }
        QAbstractButton::mouseMoveEvent(e);
        return;
    }
    // Qt sends exactly one leave event to a widget the pointer is inside, which is the leave
    // notification the hover needs; outside it, no hover starts and the next move asks again.
    if (!Hover && PointerInside) {
        Hover = true;
        Redraw();
    }
    e->accept();
}

void BitmapButton::mouseDoubleClickEvent(QMouseEvent* e) {
    // A double click counts as a second press, so it brings a second release and click.
    mousePressEvent(e);
}

void BitmapButton::keyPressEvent(QKeyEvent* e) {
    // Every key-down counts, auto-repeated ones included; the click follows at key-up.
    if (e->key() == Qt::Key_Space) {
        SetCheckFromUser();
    }
    QAbstractButton::keyPressEvent(e);
}

void BitmapButton::focusOutEvent(QFocusEvent* e) {
    // Losing the focus ends a held press; QAbstractButton clears the pushed state.
    MouseDown = false;
    QAbstractButton::focusOutEvent(e);
}

void BitmapButton::enterEvent(QEnterEvent* e) {
    PointerInside = true;
    QAbstractButton::enterEvent(e);
}

void BitmapButton::leaveEvent(QEvent* e) {
    PointerInside = false;
    Hover = false;
    Redraw();
    QAbstractButton::leaveEvent(e);
}

void BitmapButton::paintEvent(QPaintEvent*) {
    // During a held press the pushed state is checked against where the pointer is before
    // drawing, in case it was changed from outside meanwhile.
    if (MouseDown) {
        const bool over = hitButton(LastPressPoint);
        if (over != isDown()) {
            setDown(over);
        }
    }
    // Built at the screen's pixel ratio, so faces and caption stay sharp on a high-density screen.
    const qreal ratio = devicePixelRatioF();
    QImage buffer((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(Qt::transparent);
    DrawItem(buffer);
    QPainter painter(this);
    painter.drawImage(0, 0, buffer);
}

void BitmapButton::DrawItem(QImage& buffer) {
    const QRect r(QPoint(0, 0), buffer.deviceIndependentSize().toSize());
    const bool disabled = !isEnabled();
    const bool pushed = !disabled && (isDown() || Checked);
    const bool focused = hasFocus();
    QRect t = r.adjusted(MarginValue + 2, 0, -(MarginValue + 2), 0);
    const QColor buttonFace = palette().color(QPalette::Active, QPalette::Button);

    {
        QPainter painter(&buffer);
        const ButtonFace* face = nullptr;
        if (disabled) {
            face = Checked && Faces.DisabledCheckedFace.Exists() ? &Faces.DisabledCheckedFace
                                                                 : &Faces.DisabledFace;
        } else if (pushed) {
            face = &Faces.PressedFace;
        } else if (Faces.NormalFace.Exists()) {
            if (Hover && Faces.HoverFace.Exists()) {
                face = &Faces.HoverFace;
            } else if (focused && Faces.FocusFace.Exists()) {
                face = &Faces.FocusFace;
            } else {
                face = &Faces.NormalFace;
            }
        }
        if (face != nullptr && face->Exists()) {
            Faces.DrawFace(painter, *face, r, DrawModeValue);
        } else {
            painter.fillRect(r, buttonFace);
        }
        if (BorderValue != 0) {
            qDrawWinPanel(&painter, r, palette(), pushed, nullptr);
        }
    }
    if (!disabled && focused && MarginValue > 0) {
        DrawFocusRect(buffer, r.adjusted(MarginValue, MarginValue, -MarginValue, -MarginValue));
    }

    QPainter painter(&buffer);
    painter.setFont(font());
    const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    const QString caption = text();
    if (disabled) {
        // Embossed: a highlight copy, then the grey text one pixel up and left.
        painter.setPen(palette().color(QPalette::Active, QPalette::Light));
        painter.drawText(t, flags, caption);
        t.translate(-1, -1);
        painter.setPen(palette().color(QPalette::Disabled, QPalette::WindowText));
    } else {
        if (pushed) {
            t.translate(1, 1);
        }
        painter.setPen(TextColour);
    }
    painter.drawText(t, flags, caption);
}

}  // namespace velora
