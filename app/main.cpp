#include "MainApp.h"

int main(int argc, char** argv) {
    velora::MainApp app(argc, argv);
    return app.Run();
}
