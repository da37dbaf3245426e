// The application object: the platform's application plus the program's one window.
#pragma once

#include <QApplication>

namespace velora {

class MainApp : public QApplication {
    Q_OBJECT
  public:
    MainApp(int& argc, char** argv);
    // Shows the main window, opens `file` (unless empty) as Open would, and returns when the
    // window has been closed.
    int Run(const QString& file = QString());
};

}  // namespace velora
