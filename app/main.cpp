#include <cstdio>

#include "CommandLine.h"
#include "MainApp.h"

int main(int argc, char** argv) {
    // Help, version and usage errors are answered before the toolkit looks for a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const velora::CommandLine line = velora::ParseCommandLine(arguments);
    switch (line.What) {
        case velora::CommandLine::Action::Help:
            std::fputs(velora::UsageText().toUtf8().constData(), stdout);
            return 0;
        case velora::CommandLine::Action::Version:
            std::fputs(velora::VersionText().toUtf8().constData(), stdout);
            return 0;
        case velora::CommandLine::Action::Error:
            std::fprintf(stderr, "velora: %s\n도움말: velora --help\n",
                         line.Error.toUtf8().constData());
            return 2;
        case velora::CommandLine::Action::Run:
            break;
    }
    velora::MainApp app(argc, argv);
    return app.Run(line.File);
}
