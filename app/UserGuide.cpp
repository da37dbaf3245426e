#include "UserGuide.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace velora {

QString LocateUserGuide() {
    const QString relative = QStringLiteral("share/velora/guide/index.html");
    // The program in <prefix>/bin, the window in <build>/app, the test programs one level
    // deeper: the guide is at most two folders up.
    QDir folder(QCoreApplication::applicationDirPath());
    for (int up = 0; up <= 2; ++up) {
        const QString candidate = folder.filePath(relative);
        if (QFileInfo(candidate).isFile()) {
            return QDir::cleanPath(candidate);
        }
        if (!folder.cdUp()) {
            break;
        }
    }
    const QString installed = QStringLiteral(VELORA_GUIDE_INSTALLED);
    return QFileInfo(installed).isFile() ? installed : QString();
}

}  // namespace velora
