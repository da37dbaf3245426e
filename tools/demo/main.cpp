// velora-controls-demo: the skinned controls on a piece of the skin, to be tried by hand.
// With "--grab <file.png>" it saves one frame of the window and ends.
#include "DemoWindow.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    velora::DemoWindow window;
    window.show();
    const QStringList args = QApplication::arguments();
    const int grab = args.indexOf(QStringLiteral("--grab"));
    if (grab >= 0 && grab + 1 < args.size()) {
        const QString file = args.at(grab + 1);
        QTimer::singleShot(
            0, &window, [&window, file] { QApplication::exit(window.grab().save(file) ? 0 : 1); });
    }
    return QApplication::exec();
}
