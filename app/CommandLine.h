// The window program's command line: `velora [FILE]`, `velora --help`, `velora --version`. Read
// before the toolkit starts, so help and version need no display. The toolkit's own options
// (-platform, -style, ...) are left for it.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace velora {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action What = Action::Run;
    QString File;   // Run: the picture to open at start, as an absolute path; empty for none
    QString Error;  // Error: what was wrong, for the user
    bool DisplayNamed = false;  // -platform or -display was given for the toolkit
};

// `arguments` without the program's own name.
CommandLine ParseCommandLine(const QStringList& arguments);

// Why the window has nowhere to appear, for the user; empty when the environment or the command
// line names a display or a toolkit platform. Asked before the toolkit starts, which would
// otherwise abort with advice to reinstall.
QString MissingDisplayText(const CommandLine& line, const QProcessEnvironment& environment);
// Said when a named display cannot be reached, followed by the toolkit's own words.
QString UnreachableDisplayText();

// The texts printed for --help and --version.
QString UsageText();
QString VersionText();

}  // namespace velora
