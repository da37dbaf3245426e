// The few file-system calls the picture code needs, kept in one place so that the rest of the
// layer stays portable. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velora {

enum class ReadFileResult { Ok, NotFound, TooLarge, Failed };

// Reads the whole file into `bytes`; refuses files larger than `maxBytes`. `error` gets the
// reason in words on failure.
ReadFileResult ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                             std::vector<std::uint8_t>& bytes, std::string& error);

// Opens the file for reading as ReadWholeFile would read it (a regular file of at most
// `maxBytes`), for a reader that takes it a piece at a time. The stream is the caller's to close.
ReadFileResult OpenFileForReading(const std::string& path, std::uint64_t maxBytes,
                                  std::FILE** stream, std::string& error);

// A file that appears at its target path complete or not at all. It is written under a unique
// temporary name in the target's folder, flushed to the disk and renamed over the target only by
// Commit. Without a successful Commit the temporary is removed and the target is untouched.
class AtomicFile {
  public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    bool Open(const std::string& targetPath, std::string& error);
    std::FILE* Stream() const { return File; }
    bool Commit(std::string& error);
    // The operating system's error number of the last failed call, 0 when the failure was none.
    int SystemError() const { return LastErrno; }

  private:
    void Discard();

    std::FILE* File = nullptr;
    std::string TempPath;
    std::string Target;
    int LastErrno = 0;
};

}  // namespace velora
