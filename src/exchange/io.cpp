#include "exchange/io.h"

#include <cerrno>
#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

int openFile(const char* path, int flags, mode_t mode) {
    // Never blocking, so that a FIFO in a file's place cannot hold the cycle
    // in open(); never taking a terminal as the controlling one.
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // Only a regular file holds what peers exchange: a FIFO, device or
    // socket in its place is read or written by nobody, and cannot be
    // opened here (a directory only where one is asked for).
    struct stat st {};
    bool directory = (flags & O_DIRECTORY) != 0;
    if (::fstat(fd, &st) == 0 && (directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode))) return fd;
    int why = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = why;
    return -1;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAllAt(int fd, const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool syncFile(int fd) {
    // A failed fsync is final: the kernel may have dropped the dirty pages,
    // so a second call that succeeds would prove nothing.
    return ::fsync(fd) == 0;
}

bool closeFile(int fd) {
    // Linux releases the descriptor even when close reports EINTR, so it is
    // never retried; the error still counts as a failure.
    return ::close(fd) == 0;
}

ssize_t readSome(int fd, char* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t readData(int fd, DataCursor& cursor, char* buffer, std::size_t size) {
    constexpr std::int64_t noHoles = std::numeric_limits<std::int64_t>::max();
    // Twice at most: a file that ended where the data seemed to go on is
    // looked at once more, for data appended meanwhile.
    for (int look = 0; look < 2; ++look) {
        if (cursor.offset >= cursor.dataEnd) {
            off_t data = ::lseek(fd, cursor.offset, SEEK_DATA);
            if (data < 0 && errno == ENXIO) return 0;
            if (data < 0 && errno != EINVAL && errno != EOPNOTSUPP) return -1;
            if (data < 0) {
                cursor.dataEnd = noHoles;  // a file system that knows no holes
            } else {
                off_t hole = ::lseek(fd, data, SEEK_HOLE);
                if (hole < 0) return -1;
                cursor.offset = data;
                cursor.dataEnd = hole;
            }
        }
        auto want = static_cast<std::size_t>(std::min<std::int64_t>(cursor.dataEnd - cursor.offset,
                                                                     static_cast<std::int64_t>(size)));
        ssize_t n;
        do {
            n = ::pread(fd, buffer, want, cursor.offset);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return -1;
        if (n > 0) {
            cursor.offset += n;
            return n;
        }
        if (cursor.dataEnd == noHoles) return 0;
        cursor.dataEnd = cursor.offset;
    }
    return 0;
}

bool readAllAt(int fd, char* buffer, std::size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = ::pread(fd, buffer, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool writeWholeFile(const char* path, std::string_view bytes) {
    int fd = openFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return false;
    bool written = writeAll(fd, bytes.data(), bytes.size()) && syncFile(fd);
    return closeFile(fd) && written;
}

bool syncDirectory(const char* path) {
    int fd = openFile(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool synced = syncFile(fd);
    return closeFile(fd) && synced;
}
