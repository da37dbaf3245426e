#include "WriteBackStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <new>

namespace velora {

#if defined(__linux__) && defined(__GLIBC__)
namespace {

// The temporary's stream writes through here so that every piece the stream hands over starts on
// its way to the disk at once (sync_file_range starts the write-back and does not wait for it):
// the fsync before the rename, which stays, then waits for the last piece instead of the whole
// file.
struct WriteBack {
    int Fd;
    off64_t At;  // the descriptor's position
};

constexpr std::size_t MinimumWriteBackBytes = std::size_t{256} << 10;

ssize_t WriteAndStartWriteBack(void* cookie, const char* data, std::size_t size) {
    auto* file = static_cast<WriteBack*>(cookie);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(file->Fd, data + done, size - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            // The stream marks its error when given fewer bytes than asked, and errno is kept.
            return static_cast<ssize_t>(done);
        }
        done += static_cast<std::size_t>(put);
    }
    // A failure here only leaves the work to the fsync. A short piece is the file's end, handed
    // over by the flush just before that fsync, which starts its write-back itself.
    if (done >= MinimumWriteBackBytes) {
        ::sync_file_range(file->Fd, file->At, static_cast<off64_t>(done), SYNC_FILE_RANGE_WRITE);
    }
    file->At += static_cast<off64_t>(done);
    return static_cast<ssize_t>(done);
}

// The encoders ask where they are (a trailer's offsets count from the file's start).
int SeekWriteBack(void* cookie, off64_t* offset, int whence) {
    auto* file = static_cast<WriteBack*>(cookie);
    const off64_t at = ::lseek64(file->Fd, *offset, whence);
    if (at < 0) {
        return -1;
    }
    file->At = *offset = at;
    return 0;
}

int CloseWriteBack(void* cookie) {
    auto* file = static_cast<WriteBack*>(cookie);
    const int closed = ::close(file->Fd);
    delete file;
    return closed;
}

}  // namespace

std::FILE* OpenWriteStream(int fd) {
    auto* cookie = new (std::nothrow) WriteBack{fd, 0};
    if (cookie != nullptr) {
        cookie_io_functions_t calls{};
        calls.write = WriteAndStartWriteBack;
        calls.seek = SeekWriteBack;
        calls.close = CloseWriteBack;
        if (std::FILE* stream = ::fopencookie(cookie, "wb", calls)) {
            return stream;
        }
        delete cookie;
    }
    return ::fdopen(fd, "wb");
}
#else
std::FILE* OpenWriteStream(int fd) {
    return ::fdopen(fd, "wb");
}
#endif

}  // namespace velora
