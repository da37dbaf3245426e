// The application object: the platform's application plus the program's one window.
#pragma once

#include <QApplication>

namespace velora {

class MainApp : public QApplication {
    Q_OBJECT
  public:
    MainApp(int& argc, char** argv);
    // Shows the main window and returns when it has been closed.
    int Run();
};

}  // namespace velora
