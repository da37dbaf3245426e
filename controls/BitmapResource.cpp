#include "BitmapResource.h"

#include <QIcon>

namespace velora {
namespace {

QString& ResourceFolder() {
    static QString folder;
    return folder;
}

QString BitmapPath(int id) {
    const QString& folder = ResourceFolder();
    return folder.isEmpty() ? QStringLiteral(":/bitmaps/%1.png").arg(id)
                            : QStringLiteral("%1/%2.png").arg(folder).arg(id);
}

// Identifiers are unsigned 16-bit values and 0 means "no bitmap".
bool ValidId(int id) {
    return id > 0 && id <= 0xFFFF;
}

}  // namespace

QImage LoadBitmapResource(int id) {
    return ValidId(id) ? QImage(BitmapPath(id)) : QImage();
}

QImage LoadBitmapResource(int id, qreal devicePixelRatio) {
    if (!ValidId(id)) {
        return QImage();
    }
    // Qt's own lookup of the "@Nx" files, as QIcon uses it.
    qreal sourceRatio = 1.0;
    const QString path = qt_findAtNxFile(BitmapPath(id), devicePixelRatio, &sourceRatio);
    QImage image(path);
    if (image.isNull() && sourceRatio != 1.0) {
        return LoadBitmapResource(id);  // an unreadable twin: the bitmap itself still serves
    }
    image.setDevicePixelRatio(sourceRatio);
    return image;
}

void SetBitmapResourceFolder(const QString& folder) {
    ResourceFolder() = folder;
}

}  // namespace velora
