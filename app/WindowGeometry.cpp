#include "WindowGeometry.h"

#include <QList>

namespace velora {

QRect FitPicture(unsigned width, unsigned height) {
    constexpr int S = PictureFrame::InnerSide;
    if (width == 0 || height == 0) {
        return QRect();
    }
    const double ratio = static_cast<double>(width) / static_cast<double>(height);
    if (width >= height) {
        const int drawnHeight = static_cast<int>(S / ratio);
        const int y = PictureFrame::CentreRow - static_cast<int>(S / ratio * 0.5);
        return QRect(PictureFrame::InnerLeft, y, S - 1, drawnHeight);
    }
    const int drawnWidth = static_cast<int>(S * ratio);
    const int x = PictureFrame::CentreColumn - static_cast<int>(S * ratio * 0.5);
    return QRect(x, PictureFrame::InnerTop, drawnWidth, S - 1);
}

QPoint PlaceOnScreen(const QRect& available, const QSize& size) {
    const auto place = [](int start, int room, int extent) {
        return start + (extent <= room ? (room - extent) / 2 : 0);
    };
    return QPoint(place(available.x(), available.width(), size.width()),
                  place(available.y(), available.height(), size.height()));
}

int DoubleByteLength(const QString& text) {
    int bytes = 0;
    for (const char32_t c : text.toUcs4()) {
        bytes += c < 0x80 ? 1 : 2;
    }
    return bytes;
}

QString FileNameToShow(const QString& fileName) {
    if (DoubleByteLength(fileName) < FileNameByteLimit) {
        return fileName;
    }
    return QString::fromLatin1(FileNameTooLongText);
}

}  // namespace velora
