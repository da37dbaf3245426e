#include "MainApp.h"

#include "MainDialog.h"
#include "UserInteraction.h"

namespace velora {

MainApp::MainApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Velora"));
    setApplicationVersion(QStringLiteral(VELORA_VERSION));
    // Lets the desktop match the window to its installed entry and icon (Wayland asks for it).
    setDesktopFileName(QStringLiteral(VELORA_APP_ID));
    // The window is closed by its own commands; closing it ends the program.
    setQuitOnLastWindowClosed(true);
}

int MainApp::Run(const QString& file) {
    // There is no network library to start on this platform.
    DesktopInteraction desktop;
    MainDialog dialog(desktop);
    dialog.show();
    if (!file.isEmpty()) {
        dialog.OpenPicture(file);
    }
    exec();
    return 0;
}

}  // namespace velora
