// The bytes of a file's path on disk, for a path the toolkit holds as text.
#pragma once

#include <QString>

#include <string>

namespace velora {

// The toolkit reads every file name as UTF-8, and a name that is not (an archive's EUC-KR name)
// comes out with U+FFFD in place of its bytes, which no longer name the file. Each such part
// of the path is found again in its folder: the one entry that reads as the same text. A part
// that matches no entry, or more than one, stays as it reads (and so names no file there).
std::string DiskPath(const QString& path);

// Whether something (a file or a folder) is at `diskPath`.
bool ExistsOnDisk(const std::string& diskPath);

// The last part of a path, as bytes.
std::string DiskFileName(const std::string& diskPath);

}  // namespace velora
