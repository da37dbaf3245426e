#include "CommandLine.h"

#include <QDir>
#include <QUrl>

namespace velora {

namespace {

// The toolkit's options, which it takes itself when the application starts; it accepts them
// with one dash or two. The first group takes a value (as the next argument or after "=").
const char* const ToolkitOptionsWithValue[] = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",     "qwindowgeometry",
    "qwindowtitle", "qwindowicon",        "style",         "stylesheet", "session",
    "display",      "geometry",           "qmljsdebugger"};
const char* const ToolkitFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// 2: a toolkit option followed by its value, 1: a toolkit option alone, 0: none of its.
int ToolkitOptionLength(const QString& argument) {
    QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const bool valueAttached = name.contains(QLatin1Char('='));
    name = name.section(QLatin1Char('='), 0, 0);
    for (const char* option : ToolkitOptionsWithValue) {
        if (name == QLatin1String(option)) {
            return valueAttached ? 1 : 2;
        }
    }
    for (const char* option : ToolkitFlags) {
        if (name == QLatin1String(option) && !valueAttached) {
            return 1;
        }
    }
    return 0;
}

CommandLine Failed(const QString& error) {
    CommandLine line;
    line.What = CommandLine::Action::Error;
    line.Error = error;
    return line;
}

// A file manager may hand over a file:// address instead of a path.
QString LocalPath(const QString& argument) {
    if (argument.startsWith(QLatin1String("file:"))) {
        const QUrl url(argument);
        if (url.isLocalFile()) {
            return QDir::cleanPath(url.toLocalFile());
        }
    }
    return QDir::cleanPath(QDir::current().absoluteFilePath(argument));
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine line;
    QStringList files;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == "-") {
            files << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            line.What = CommandLine::Action::Help;
            return line;
        } else if (argument == QLatin1String("--version")) {
            line.What = CommandLine::Action::Version;
            return line;
        } else if (const int length = ToolkitOptionLength(argument)) {
            const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1)
                                     .section(QLatin1Char('='), 0, 0);
            line.DisplayNamed = line.DisplayNamed || name == QLatin1String("platform") ||
                                name == QLatin1String("display");
            i += length - 1;
        } else {
            return Failed(QStringLiteral("알 수 없는 옵션입니다: %1").arg(argument));
        }
    }
    if (files.size() > 1) {
        return Failed(QStringLiteral("그림은 한 번에 하나만 열 수 있습니다."));
    }
    if (!files.isEmpty()) {
        line.File = LocalPath(files.front());
    }
    return line;
}

QString MissingDisplayText(const CommandLine& line, const QProcessEnvironment& environment) {
    if (line.DisplayNamed) {
        return QString();
    }
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!environment.value(QString::fromLatin1(name)).isEmpty()) {
            return QString();
        }
    }
    return QStringLiteral(
        "velora: 창을 띄울 화면이 없습니다 (DISPLAY도 WAYLAND_DISPLAY도 정해지지 않았습니다).\n"
        "화면 없이 사진을 바꾸려면 velora-batch를 쓰십시오.\n");
}

QString UnreachableDisplayText() {
    return QStringLiteral(
        "velora: 화면에 창을 띄울 수 없습니다. DISPLAY나 WAYLAND_DISPLAY가 가리키는 화면에\n"
        "닿지 못했습니다. 화면 없이 사진을 바꾸려면 velora-batch를 쓰십시오.\n");
}

QString UsageText() {
    return QStringLiteral(
        "사용법: velora [그림 화일]\n"
        "사진의 색을 바꾸는 Velora 창을 엽니다. 그림 화일을 주면 \"열  기\"로 고른 것처럼\n"
        "그 화일을 열어 보입니다.\n"
        "\n"
        "  -h, --help    이 도움말을 보이고 끝냅니다.\n"
        "      --version 판 번호를 보이고 끝냅니다.\n"
        "\n"
        "Qt의 옵션(-platform, -style 등)도 받습니다. 여러 화일은 velora-batch로 바꿉니다.\n");
}

QString VersionText() {
    return QStringLiteral("velora %1\n").arg(QStringLiteral(VELORA_VERSION));
}

}  // namespace velora
