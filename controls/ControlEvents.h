// Private window messages of the skinned controls, as custom event types posted with
// QCoreApplication::postEvent. The numbers are the message values the controls have always used.
#pragma once

#include <QEvent>

namespace velora {

// Posted by a radio-type BitmapButton to the other members of its group when it becomes checked.
constexpr QEvent::Type WM_GROUP_UNCHECK = static_cast<QEvent::Type>(0x500);
// Posted by a BitmapSlider to its parent while the pointer moves the value ...
constexpr QEvent::Type WM_SLIDER_TRACK = static_cast<QEvent::Type>(10449);
// ... and when a change is complete (button release, navigation key), changed or not.
constexpr QEvent::Type WM_SLIDER_DONE = static_cast<QEvent::Type>(10450);

// A slider notification: wParam is the control id, lParam the position.
class SliderEvent : public QEvent {
  public:
    SliderEvent(QEvent::Type type, int controlId, int position)
        : QEvent(type), ControlIdValue(controlId), PositionValue(position) {}
    int ControlId() const { return ControlIdValue; }
    int Position() const { return PositionValue; }

  private:
    int ControlIdValue;
    int PositionValue;
};

}  // namespace velora
