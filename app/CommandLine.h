// The window program's command line: `velora [FILE]`, `velora --help`, `velora --version`. Read
// before the toolkit starts, so help and version need no display. The toolkit's own options
// (-platform, -style, ...) are left for it.
#pragma once

#include <QString>
#include <QStringList>

namespace velora {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action What = Action::Run;
    QString File;   // Run: the picture to open at start, as an absolute path; empty for none
    QString Error;  // Error: what was wrong, for the user
};

// `arguments` without the program's own name.
CommandLine ParseCommandLine(const QStringList& arguments);

// The texts printed for --help and --version.
QString UsageText();
QString VersionText();

}  // namespace velora
