#include <QProcessEnvironment>

#include <cstdio>
#include <cstdlib>

#include "CommandLine.h"
#include "MainApp.h"

namespace {

QtMessageHandler ToolkitHandler = nullptr;

// Only while the toolkit connects to the display: its fatal message there means no display could
// be reached, and the program ends with word of it instead of an abort.
void DisplayFailureHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtFatalMsg) {
        // The toolkit's own last words advise reinstalling, which would not help; the warnings
        // before them said which display failed.
        std::fputs(velora::UnreachableDisplayText().toUtf8().constData(), stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (ToolkitHandler != nullptr) {
        ToolkitHandler(type, context, message);
    }
}

}  // namespace

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
    const QString missing =
        velora::MissingDisplayText(line, QProcessEnvironment::systemEnvironment());
    if (!missing.isEmpty()) {
        std::fputs(missing.toUtf8().constData(), stderr);
        return 1;
    }
    ToolkitHandler = qInstallMessageHandler(DisplayFailureHandler);
    velora::MainApp app(argc, argv);
    qInstallMessageHandler(ToolkitHandler);
    return app.Run(line.File);
}
