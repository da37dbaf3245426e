// The demo window: the part of the skin where the buttons and sliders sit, with two push
// buttons (one disabled), the Gray Contrast check button and the Color and Gray sliders on it.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>

namespace velora {

class BitmapButton;
class BitmapSlider;

class DemoWindow : public QWidget {
    Q_OBJECT
  public:
    explicit DemoWindow(QWidget* parent = nullptr);

  protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

  private:
    QString StatusText() const;

    QImage SkinPiece;
    QRegion SkinShape;
    BitmapButton* OpenButton = nullptr;
    BitmapButton* SaveButton = nullptr;
    BitmapButton* ContrastCheck = nullptr;
    BitmapSlider* ColorSlider = nullptr;
    BitmapSlider* GraySlider = nullptr;
    int Clicks = 0;
    QString LastNotice;
};

}  // namespace velora
