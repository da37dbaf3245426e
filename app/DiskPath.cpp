#include "DiskPath.h"

#include <QFile>
#include <QStringList>

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

namespace velora {

namespace {

// The one entry of `folder` whose name reads as `part`, or `asWritten` without exactly one.
std::string MatchingEntry(const std::string& folder, const QString& part,
                          const std::string& asWritten) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) {
        return asWritten;
    }
    std::string found;
    int matches = 0;
    while (const dirent* entry = readdir(dir.get())) {
        if (QFile::decodeName(entry->d_name) == part) {
            found = entry->d_name;
            ++matches;
        }
    }
    return matches == 1 ? found : asWritten;
}

}  // namespace

std::string DiskPath(const QString& path) {
    if (!path.contains(QChar::ReplacementCharacter)) {
        return QFile::encodeName(path).toStdString();
    }
    const QStringList parts = path.split(QLatin1Char('/'));
    std::string resolved;
    for (int i = 0; i < parts.size(); ++i) {
        std::string part = QFile::encodeName(parts[i]).toStdString();
        if (parts[i].contains(QChar::ReplacementCharacter)) {
            const std::string folder = i == 0 ? "." : resolved.empty() ? "/" : resolved;
            part = MatchingEntry(folder, parts[i], part);
        }
        resolved += (i > 0 ? "/" : "") + part;
    }
    return resolved;
}

bool ExistsOnDisk(const std::string& diskPath) {
    struct stat status {};
    return !diskPath.empty() && stat(diskPath.c_str(), &status) == 0;
}

std::string DiskFileName(const std::string& diskPath) {
    const std::size_t slash = diskPath.rfind('/');
    return slash == std::string::npos ? diskPath : diskPath.substr(slash + 1);
}

}  // namespace velora
