// BitmapButton: the skinned button. Push button, check box or radio button by the button type it
// is given; its look comes entirely from face bitmaps and an optional mask, which both shapes the
// control and makes the faces transparent where it is white. It keeps its own check state.
#pragma once

#include "BitmapButtonFaces.h"

#include <QAbstractButton>
#include <QColor>
#include <QPoint>
#include <QRegion>

#include <optional>
#include <vector>

namespace velora {

enum class ButtonBehaviour { Push, CheckBox, Radio };

class BitmapButton : public QAbstractButton {
    Q_OBJECT
  public:
    enum DrawModes { Natural = 0, Stretch = 1, Tile = 2 };

    explicit BitmapButton(QWidget* parent = nullptr);

    // Button type from the dialog template's style: low byte 0 or 1 push, 3 automatic check box,
    // 9 automatic radio button.
    void PreSubclassWindow(unsigned style);
    // Bitmap identifiers, 0 = none; drawMode, border and margin as signed 16-bit values.
    void LoadFaces(int normal, int pressed, int hover, int disabled, int focus, int mask,
                   int drawMode, int border, int margin);
    void SetTooltip(const QString& text);
    void SetCheck(int check);
    // A click as a person makes it with Space: the check changes first, then clicked() follows.
    void ClickFromUser();
    int GetCheck() const;
    // The pushed state; setting it repaints at once.
    void SetState(bool pushed);
    bool GetState() const;
    void SetTextColour(const QColor& colour);
    ButtonBehaviour Behaviour() const;
    // clicked() is QAbstractButton's signal: the click notification.

    // A radio group is a run of sibling BitmapButtons, in the parent's child order, from a button
    // marked as group start up to the next one; the first sibling BitmapButton always starts one.
    void SetGroupStart(bool start);
    bool GroupStart() const;
    // The other members of this button's group, in walking order.
    std::vector<BitmapButton*> GroupMembers() const;

    int DrawMode() const { return DrawModeValue; }
    int Border() const { return BorderValue; }
    int Margin() const { return MarginValue; }
    bool IsHover() const { return Hover; }
    // The shape made from the mask, when one was made.
    const std::optional<QRegion>& Region() const { return RegionValue; }

  protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    // Inside the rectangle and, when the button has a shape, inside the shape.
    bool hitButton(const QPoint& pos) const override;

  private:
    void Redraw();
    void SetCheckFromUser();
    void DrawItem(QImage& buffer);

    bool Checked = false;
    ButtonBehaviour CurrentBehaviour = ButtonBehaviour::Push;
    bool Hover = false;
    bool MouseDown = false;
    // The pointer is inside the control, so a leave notification will come.
    bool PointerInside = false;
    // Where the pointer was last seen during a held press.
    QPoint LastPressPoint;
    ButtonFaces Faces;
    int MarginValue = 0;
    QColor TextColour;
    std::optional<QRegion> RegionValue;
    int BorderValue = 0;
    int DrawModeValue = Stretch;
    bool GroupStartValue = false;
};

}  // namespace velora
