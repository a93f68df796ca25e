#include "exchange/io.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int openFile(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
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
