// The few file-system calls the picture code needs, kept in one place so that the rest of the
// layer stays portable. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velora {

enum class ReadFileResult { Ok, NotFound, TooLarge, Failed };

// Opens a regular file for reading and gives its descriptor and size. Anything else (a FIFO, a
// device, a folder) is refused before it could block the caller: the file is opened without
// waiting and looked at before anything is read; one larger than `maxBytes` is refused too.
// `error` gets the reason in words on failure.
ReadFileResult OpenForReading(const std::string& path, std::uint64_t maxBytes, int& fd,
                              std::uint64_t& size, std::string& error);

// Reads the whole file into `bytes`; refuses files larger than `maxBytes`. `error` gets the
// reason in words on failure.
ReadFileResult ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                             std::vector<std::uint8_t>& bytes, std::string& error);

// Opens the file for reading as ReadWholeFile would read it (a regular file of at most
// `maxBytes`), for a reader that takes it a piece at a time. The stream is the caller's to close.
ReadFileResult OpenFileForReading(const std::string& path, std::uint64_t maxBytes,
                                  std::FILE** stream, std::string& error);

// The permission bits of an existing file, -1 when it cannot be looked at.
int PermissionBits(const std::string& path);

// A shared library opened when first needed and never closed, and one of its functions; null
// when either cannot be found.
void* OpenSharedLibrary(const char* name);
void* SharedLibrarySymbol(void* library, const char* name);

// A module of the program's own, opened by the path `relative` from the running program's folder
// (where the installation puts it), else by its file name alone, which the programs of a build
// tree find through the search path the build gives them. Null, with the loader's words in
// `problem`, when neither opens.
void* OpenOwnModule(const std::string& relative, std::string& problem);

// The prefix of the temporaries beside a target; a crash can leave one behind.
constexpr char TemporaryPrefix[] = ".vlr-save-";

// Whether a living save (of any process) still owns the temporary at `path`: its writer holds a
// lock on it from creation until it is renamed or removed, and the lock ends with the process. A
// temporary that is gone counts as owned: nothing is left over there.
bool TemporaryOwned(const std::string& path);

// A file that appears at its target path complete or not at all. It is written under a unique
// temporary name in the target's folder, flushed to the disk and renamed onto the target only by
// Commit. Without a successful Commit the temporary is removed and the target is untouched.
class AtomicFile {
  public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // The file gets the permission bits of the target it replaces; a new one those the umask
    // gives, without any that `readableAtMost` (permission bits, -1: no limit) lacks for the
    // group and others.
    bool Open(const std::string& targetPath, std::string& error, int readableAtMost = -1);
    std::FILE* Stream() const { return File; }

    enum class CommitResult { Done, TargetExists, Failed };
    // With `replaceExisting` false the target is never replaced, not even by a file that
    // appeared after Open: the rename itself refuses, and TargetExists says so.
    CommitResult Commit(bool replaceExisting, std::string& error);
    // The operating system's error number of the last failed call, 0 when the failure was none.
    int SystemError() const { return LastErrno; }

  private:
    void Discard();

    static constexpr std::size_t WriteBufferBytes = std::size_t{1} << 20;

    std::FILE* File = nullptr;
    int Fd = -1;                     // the stream's own descriptor
    int LockFd = -1;                 // holds the temporary's lock until it is renamed or removed
    std::unique_ptr<char[]> Buffer;  // the stream's; outlives it
    std::string TempPath;
    std::string Target;
    int LastErrno = 0;
};

}  // namespace velora
