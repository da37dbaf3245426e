// BitmapSlider: the horizontal value slider of the skinned window, drawn from two track bitmaps
// of the same size. Left of the current value's pixel the filled (active) track shows, right of
// it the empty channel; there is no thumb. Pressing and dragging, or the navigation keys, set the
// value; the parent hears of it through posted SliderEvents (WM_SLIDER_TRACK, WM_SLIDER_DONE).
#pragma once

#include <QEvent>
#include <QImage>
#include <QWidget>

#include <atomic>

namespace velora {

class BitmapSlider : public QWidget {
    Q_OBJECT
  public:
    explicit BitmapSlider(int controlId, QWidget* parent = nullptr);

    // As keyColour: the colour of pixel (keyX, keyY) of each bitmap.
    static constexpr quint32 KeyFromPixel = 0xFF000000;

    // Loads the channel and active tracks (identifiers, 0 = none) and sizes the control to the
    // channel. With transparent set, pixels of the key colour show the parent. False when a
    // bitmap is missing.
    bool SetChannelBitmaps(int channelId, int activeId, bool transparent, quint32 keyColour,
                           int keyX, int keyY);
    // The position is not adjusted to the new range.
    void SetRange(int min, int max, bool redraw);
    void SetPosition(int value);
    // A change the user made without the mouse (a key, assistive technology): SetPosition, then
    // WM_SLIDER_DONE to the parent.
    void MoveTo(int value);
    // Returns the previous step.
    int SetPageStep(int step);
    // Safe to read from another thread (the conversion worker reads it when it starts).
    int Position() const { return PositionValue.load(std::memory_order_relaxed); }
    int PositionToPixel(int value) const;
    int PixelToPosition(int x) const;

    int ControlId() const { return ControlIdValue; }
    int RangeMin() const { return RangeMinValue; }
    int RangeMax() const { return RangeMaxValue; }
    int PageStep() const { return PageStepValue; }
    bool ChannelLoaded() const { return ChannelLoadedValue; }

    int MarginLeft = 0;  // written directly by the owner
    int MarginRight = 0;

  protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

  private:
    void TrackPointer(int x);
    void Post(QEvent::Type type);
    void ClearBitmaps();
    int TrackLength() const;

    const int ControlIdValue;
    int RangeMaxValue = 100;
    int RangeMinValue = 0;
    std::atomic<int> PositionValue{0};
    int PageStepValue = 20;
    int ChannelWidth = 0;
    int ChannelHeight = 0;
    bool HasActiveBitmap = false;
    bool Transparent = false;
    bool ChannelLoadedValue = false;
    bool Dragging = false;
    bool HasFocus = false;
    // With Transparent set, the key pixels of each track are made transparent once, when it is
    // loaded: the mask lives in the bitmap's alpha channel.
    QImage ChannelBitmap;
    QImage ActiveBitmap;
    // The tracks' "@2x" twins, keyed alike, drawn where the screen has the pixels for them; null
    // where a track has none.
    QImage SharpChannelBitmap;
    QImage SharpActiveBitmap;
};

}  // namespace velora
