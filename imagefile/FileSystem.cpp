#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velora {

namespace {

std::string ErrnoText(int code) {
    return std::strerror(code);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

// Makes the rename itself durable; a failure here does not undo a save that already happened.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

ReadFileResult ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                             std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        error = "cannot open the file: " + ErrnoText(code);
        return (code == ENOENT || code == ENOTDIR) ? ReadFileResult::NotFound
                                                   : ReadFileResult::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return ReadFileResult::Failed;
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        ::close(fd);
        error = "the file is too large";
        return ReadFileResult::TooLarge;
    }
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        error = "not enough memory to read the file";
        return ReadFileResult::Failed;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // A file that shrank while being read is taken as it was read so far.
            if (got < 0) {
                error = "cannot read the file: " + ErrnoText(errno);
                ::close(fd);
                bytes.clear();
                return ReadFileResult::Failed;
            }
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    ::close(fd);
    return ReadFileResult::Ok;
}

ReadFileResult OpenFileForReading(const std::string& path, std::uint64_t maxBytes,
                                  std::FILE** stream, std::string& error) {
    *stream = nullptr;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        error = "cannot open the file: " + ErrnoText(code);
        return (code == ENOENT || code == ENOTDIR) ? ReadFileResult::NotFound
                                                   : ReadFileResult::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return ReadFileResult::Failed;
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        ::close(fd);
        error = "the file is too large";
        return ReadFileResult::TooLarge;
    }
    *stream = ::fdopen(fd, "rb");
    if (*stream == nullptr) {
        error = "cannot read the file: " + ErrnoText(errno);
        ::close(fd);
        return ReadFileResult::Failed;
    }
    return ReadFileResult::Ok;
}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Discard() {
    if (File != nullptr) {
        std::fclose(File);
        File = nullptr;
    }
    if (!TempPath.empty()) {
        ::unlink(TempPath.c_str());
        TempPath.clear();
    }
}

bool AtomicFile::Open(const std::string& targetPath, std::string& error) {
    Discard();
    LastErrno = 0;
    if (targetPath.empty() || targetPath.back() == '/') {
        error = "no file name given";
        return false;
    }
    struct stat info {};
    if (::stat(targetPath.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = "the target exists and is not a regular file";
        return false;
    }
    // A short name, so that even a target whose own name is at the length limit has a temporary.
    std::string pattern = FolderOf(targetPath) + "/.vlr-save-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        LastErrno = errno;
        error = "cannot create a file in the folder: " + ErrnoText(LastErrno);
        return false;
    }
    TempPath = name.data();
    File = ::fdopen(fd, "wb");
    if (File == nullptr) {
        LastErrno = errno;
        ::close(fd);
        Discard();
        error = "cannot write the file: " + ErrnoText(LastErrno);
        return false;
    }
    // mkstemp creates 0600; a saved picture gets the usual permissions of a new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    Target = targetPath;
    return true;
}

bool AtomicFile::Commit(std::string& error) {
    if (File == nullptr) {
        error = "the file was not opened";
        return false;
    }
    const bool flushed = std::fflush(File) == 0 && !std::ferror(File);
    const int flushError = errno;
    if (!flushed || ::fsync(::fileno(File)) != 0) {
        LastErrno = flushed ? errno : flushError;
        error = "cannot write the file: " + ErrnoText(LastErrno);
        Discard();
        return false;
    }
    const int closed = std::fclose(File);
    File = nullptr;
    if (closed != 0) {
        LastErrno = errno;
        error = "cannot write the file: " + ErrnoText(LastErrno);
        Discard();
        return false;
    }
    if (::rename(TempPath.c_str(), Target.c_str()) != 0) {
        LastErrno = errno;
        error = "cannot replace the target: " + ErrnoText(LastErrno);
        Discard();
        return false;
    }
    TempPath.clear();
    SyncFolder(FolderOf(Target));
    return true;
}

}  // namespace velora
