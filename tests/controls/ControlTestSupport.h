// Shared pieces of the control tests: face bitmaps written to a temporary folder, a recorder of
// the slider notifications a parent receives, and pixel reads from a grabbed window.
#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>
#include <vector>

namespace velora_test {

// A temporary bitmap folder that the controls load from while it lives.
class BitmapFolder {
  public:
    BitmapFolder();
    ~BitmapFolder();
    bool IsValid() const { return Dir.isValid(); }
    void Write(int id, const QImage& image) const;
    void WriteSolid(int id, int width, int height, QColor colour) const;

  private:
    QTemporaryDir Dir;
};

struct Notification {
    int Type;
    int ControlId;
    int Position;
};

// Installed on a parent, records every SliderEvent that reaches it.
class NotificationRecorder : public QObject {
  public:
    explicit NotificationRecorder(QObject* watched);
    std::vector<Notification> Take();  // delivers pending posts first, then empties the record

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::vector<Notification> Seen;
};

// The colour at a point of a widget, as its window shows it with everything beneath.
QRgb ShownPixel(QWidget* widget, QPoint point);
inline QColor Shown(QWidget* widget, int x, int y) {
    return QColor(ShownPixel(widget, QPoint(x, y)));
}
// Where a focus rectangle is drawn over `colour`.
inline QColor Inverted(QColor colour) {
    return QColor(255 - colour.red(), 255 - colour.green(), 255 - colour.blue());
}

// Shows a top-level window and makes it active so that focus can be given inside it.
bool ShowActive(QWidget* window);

// A top-level window of the given size filled with `background`, not shown yet.
std::unique_ptr<QWidget> MakeParent(QSize size, QColor background);

}  // namespace velora_test
