#include "ControlTestSupport.h"

#include "BitmapResource.h"
#include "ControlEvents.h"

#include <QApplication>
#include <QtTest>

namespace velora_test {

BitmapFolder::BitmapFolder() {
    velora::SetBitmapResourceFolder(Dir.path());
}

BitmapFolder::~BitmapFolder() {
    velora::SetBitmapResourceFolder(QString());
}

void BitmapFolder::Write(int id, const QImage& image) const {
    image.save(Dir.filePath(QStringLiteral("%1.png").arg(id)));
}

void BitmapFolder::WriteSolid(int id, int width, int height, QColor colour) const {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    Write(id, image);
}

NotificationRecorder::NotificationRecorder(QObject* watched) : QObject(watched) {
    watched->installEventFilter(this);
}

std::vector<Notification> NotificationRecorder::Take() {
    QCoreApplication::sendPostedEvents();
    std::vector<Notification> taken;
    taken.swap(Seen);
    return taken;
}

bool NotificationRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == velora::WM_SLIDER_TRACK || event->type() == velora::WM_SLIDER_DONE) {
        const auto* slider = static_cast<velora::SliderEvent*>(event);
        Seen.push_back({event->type(), slider->ControlId(), slider->Position()});
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QRgb ShownPixel(QWidget* widget, QPoint point) {
    const QPoint inWindow = widget->mapTo(widget->window(), point);
    return widget->window()->grab().toImage().pixel(inWindow) | 0xFF000000u;
}

std::unique_ptr<QWidget> MakeParent(QSize size, QColor background) {
    auto parent = std::make_unique<QWidget>();
    parent->resize(size);
    QPalette palette = parent->palette();
    palette.setColor(QPalette::Window, background);
    parent->setPalette(palette);
    parent->setAutoFillBackground(true);
    return parent;
}

bool ShowActive(QWidget* window) {
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) {
        return false;
    }
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

}  // namespace velora_test
