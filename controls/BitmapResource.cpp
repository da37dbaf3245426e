#include "BitmapResource.h"

namespace velora {
namespace {

QString& ResourceFolder() {
    static QString folder;
    return folder;
}

}  // namespace

QImage LoadBitmapResource(int id) {
    // Identifiers are unsigned 16-bit values and 0 means "no bitmap".
    if (id <= 0 || id > 0xFFFF) {
        return QImage();
    }
    const QString& folder = ResourceFolder();
    const QString path = folder.isEmpty() ? QStringLiteral(":/bitmaps/%1.png").arg(id)
                                          : QStringLiteral("%1/%2.png").arg(folder).arg(id);
    return QImage(path);
}

void SetBitmapResourceFolder(const QString& folder) {
    ResourceFolder() = folder;
}

}  // namespace velora
