// Where the user guide is: share/velora/guide/index.html beside or above the program's folder
// (the build tree and an installation both lay it out so), or where the installation put it.
#pragma once

#include <QString>

namespace velora {

// The guide's path, or an empty string when it is nowhere to be found.
QString LocateUserGuide();

}  // namespace velora
