#include "FileSystem.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>

#include "WriteBackStream.h"

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

// Renames `from` to `to` unless `to` exists; 0 or the errno of the failure (EEXIST: it exists).
int RenameWithoutReplacing(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
#endif
    // A file system without that flag: a hard link is only made where no name exists yet.
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 0;
    }
    if (errno == EEXIST) {
        return EEXIST;
    }
    // Nor links (FAT, some network shares): the test and the rename are apart there.
    struct stat info {};
    if (::lstat(to, &info) == 0) {
        return EEXIST;
    }
    return ::rename(from, to) == 0 ? 0 : errno;
}

// A new file named `prefix` plus six random characters, created with 0666 so that the umask
// decides its mode, as for any new file; -1 with errno on failure.
int CreateUniqueFile(const std::string& prefix, std::string& name) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Seeded straight from the kernel: std::random_device first surveys the processor (cpuid),
    // which a virtual machine traps, on every save.
    std::uint32_t seed = 0;
    if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed)) {
        seed =
            static_cast<std::uint32_t>(::getpid()) ^ static_cast<std::uint32_t>(std::time(nullptr));
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof letters) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = prefix;
        for (int i = 0; i < 6; ++i) {
            name += letters[pick(random)];
        }
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Set before a byte is written, so that a private picture is never readable even for a moment.
bool SetPermissions(int fd, const std::string& target, int readableAtMost) {
    struct stat info {};
    mode_t mode = 0;
    if (::stat(target.c_str(), &info) == 0) {
        mode = info.st_mode & 0777;
    } else if (readableAtMost >= 0 && ::fstat(fd, &info) == 0) {
        mode = info.st_mode & 0777 & (static_cast<mode_t>(readableAtMost) | 0700);
    } else {
        return true;
    }
    return ::fchmod(fd, mode) == 0;
}

}  // namespace

int PermissionBits(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

ReadFileResult OpenForReading(const std::string& path, std::uint64_t maxBytes, int& fd,
                              std::uint64_t& size, std::string& error) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer, possibly for ever.
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        error = "cannot open the file: " + ErrnoText(code);
        return (code == ENOENT || code == ENOTDIR) ? ReadFileResult::NotFound
                                                   : ReadFileResult::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fd = -1;
        error = "not a regular file";
        return ReadFileResult::Failed;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    size = static_cast<std::uint64_t>(info.st_size);
    if (size > maxBytes) {
        ::close(fd);
        fd = -1;
        error = "the file is too large";
        return ReadFileResult::TooLarge;
    }
    return ReadFileResult::Ok;
}

ReadFileResult ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                             std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    int fd = -1;
    std::uint64_t size = 0;
    const ReadFileResult opened = OpenForReading(path, maxBytes, fd, size, error);
    if (opened != ReadFileResult::Ok) {
        return opened;
    }
    try {
        bytes.resize(static_cast<std::size_t>(size));
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
    int fd = -1;
    std::uint64_t size = 0;
    const ReadFileResult opened = OpenForReading(path, maxBytes, fd, size, error);
    if (opened != ReadFileResult::Ok) {
        return opened;
    }
    *stream = ::fdopen(fd, "rb");
    if (*stream == nullptr) {
        error = "cannot read the file: " + ErrnoText(errno);
        ::close(fd);
        return ReadFileResult::Failed;
    }
    return ReadFileResult::Ok;
}

void* OpenSharedLibrary(const char* name) {
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* SharedLibrarySymbol(void* library, const char* name) {
    return ::dlsym(library, name);
}

namespace {

// The folders the loader searches for the program's own libraries (its search path among them),
// asked of the loader rather than left to dlopen: the sanitizers' dlopen, called from their
// runtime, would search that runtime's path instead.
std::vector<std::string> ProgramSearchPath() {
    std::vector<std::string> folders;
    void* program = ::dlopen(nullptr, RTLD_NOW);
    Dl_serinfo size;
    if (program == nullptr || ::dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0) {
        return folders;
    }
    std::vector<std::max_align_t> buffer(size.dls_size / sizeof(std::max_align_t) + 1);
    auto* info = reinterpret_cast<Dl_serinfo*>(buffer.data());
    *info = size;
    if (::dlinfo(program, RTLD_DI_SERINFOSIZE, info) == 0 &&
        ::dlinfo(program, RTLD_DI_SERINFO, info) == 0) {
        for (unsigned i = 0; i < info->dls_cnt; ++i) {
            folders.emplace_back(info->dls_serpath[i].dls_name);
        }
    }
    return folders;
}

}  // namespace

void* OpenOwnModule(const std::string& relative, std::string& problem) {
    std::vector<std::string> candidates;
    char program[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof program) {
        const std::string path(program, static_cast<std::size_t>(length));
        candidates.push_back(path.substr(0, path.rfind('/') + 1) + relative);
    }
    const std::string name = relative.substr(relative.rfind('/') + 1);
    for (const std::string& folder : ProgramSearchPath()) {
        candidates.push_back(folder + "/" + name);
    }
    for (const std::string& candidate : candidates) {
        if (::access(candidate.c_str(), F_OK) != 0) {
            continue;
        }
        if (void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return module;
        }
        // A module that is there but cannot be loaded (a library it needs is missing) says so.
        const char* why = ::dlerror();
        problem = why != nullptr ? why : candidate + " cannot be loaded";
        return nullptr;
    }
    problem = (candidates.empty() ? name : candidates.front()) + " is missing";
    return nullptr;
}

AtomicFile::~AtomicFile() {
    Discard();
}

bool TemporaryOwned(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

void AtomicFile::Discard() {
    if (File != nullptr) {
        std::fclose(File);
        File = nullptr;
        Fd = -1;
    }
    if (!TempPath.empty()) {
        ::unlink(TempPath.c_str());
        TempPath.clear();
    }
    // Only once the name is gone, so that no scan ever sees it unowned.
    if (LockFd >= 0) {
        ::close(LockFd);
        LockFd = -1;
    }
}

bool AtomicFile::Open(const std::string& targetPath, std::string& error, int readableAtMost) {
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
    std::string name;
    const int fd = CreateUniqueFile(FolderOf(targetPath) + "/" + TemporaryPrefix, name);
    if (fd < 0) {
        LastErrno = errno;
        error = "cannot create a file in the folder: " + ErrnoText(LastErrno);
        return false;
    }
    TempPath = name;
    // The lock tells other runs that a living save owns this temporary. It belongs to the open
    // file, so a second descriptor keeps it through the stream's close until the rename.
    ::flock(fd, LOCK_EX);
    LockFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (!SetPermissions(fd, targetPath, readableAtMost)) {
        LastErrno = errno;
        ::close(fd);
        Discard();
        error = "cannot set the file's permissions: " + ErrnoText(LastErrno);
        return false;
    }
    File = OpenWriteStream(fd);
    if (File == nullptr) {
        LastErrno = errno;
        ::close(fd);
        Discard();
        error = "cannot write the file: " + ErrnoText(LastErrno);
        return false;
    }
    // The encoders hand over a few KiB at a time; gathered into 1 MiB, a photo is written in a
    // handful of calls instead of thousands.
    if (!Buffer) {
        Buffer.reset(new (std::nothrow) char[WriteBufferBytes]);
    }
    if (Buffer) {
        std::setvbuf(File, Buffer.get(), _IOFBF, WriteBufferBytes);
    }
    Fd = fd;
    Target = targetPath;
    return true;
}

AtomicFile::CommitResult AtomicFile::Commit(bool replaceExisting, std::string& error) {
    if (File == nullptr) {
        error = "the file was not opened";
        return CommitResult::Failed;
    }
    const bool flushed = std::fflush(File) == 0 && !std::ferror(File);
    const int flushError = errno;
    if (!flushed || ::fsync(Fd) != 0) {
        LastErrno = flushed ? errno : flushError;
        error = "cannot write the file: " + ErrnoText(LastErrno);
        Discard();
        return CommitResult::Failed;
    }
    const int closed = std::fclose(File);
    File = nullptr;
    Fd = -1;
    if (closed != 0) {
        LastErrno = errno;
        error = "cannot write the file: " + ErrnoText(LastErrno);
        Discard();
        return CommitResult::Failed;
    }
    if (replaceExisting) {
        if (::rename(TempPath.c_str(), Target.c_str()) != 0) {
            LastErrno = errno;
            error = "cannot replace the target: " + ErrnoText(LastErrno);
            Discard();
            return CommitResult::Failed;
        }
    } else if (const int code = RenameWithoutReplacing(TempPath.c_str(), Target.c_str())) {
        LastErrno = code;
        error = code == EEXIST ? "the file exists" : "cannot create the file: " + ErrnoText(code);
        Discard();
        return code == EEXIST ? CommitResult::TargetExists : CommitResult::Failed;
    }
    TempPath.clear();
    Discard();
    SyncFolder(FolderOf(Target));
    return CommitResult::Done;
}

}  // namespace velora
