// The checked helpers for the calls the exchange code makes again and
// again: every open, write, fsync and close of an exchange file or the
// journal goes through here. The calls made in one place only (fstat,
// flock, ftruncate, fallocate, rename, unlink) are made and checked there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <sys/types.h>

// -1 when the file cannot be opened or is no regular file (no directory,
// with O_DIRECTORY); the open never blocks. Descriptors never leak into
// the "clear" child.
int openFile(const char* path, int flags, mode_t mode = 0666);

// False on any error; short writes are continued, EINTR is retried.
bool writeAll(int fd, const char* data, std::size_t size);
bool writeAllAt(int fd, const char* data, std::size_t size, off_t offset);
bool syncFile(int fd);
bool closeFile(int fd);

// Bytes read, 0 at the end of the file, -1 on error.
ssize_t readSome(int fd, char* buffer, std::size_t size);

// A reader's place in a file whose holes hold no bytes at all: a range
// that a removal punched out, or that a collapse cut short by a power cut
// left behind, is skipped rather than read as NUL bytes, so the bytes read
// are exactly the ones written and not yet removed, in order.
struct DataCursor {
    std::int64_t offset;   // the next byte to read; holes count
    std::int64_t dataEnd;  // where the data at `offset` ends, as last seen
};
// Bytes read at the cursor, 0 at the end of the file, -1 on error.
ssize_t readData(int fd, DataCursor& cursor, char* buffer, std::size_t size);

// Reads exactly `size` bytes at `offset`; false on an error or a short file.
bool readAllAt(int fd, char* buffer, std::size_t size, off_t offset);

// Replaces the whole content of `path`, creating it when missing, and
// fsyncs it: what it says survives a power cut once this returns true.
bool writeWholeFile(const char* path, std::string_view bytes);

// Makes the directory's entries (files created, renamed or removed in it)
// survive a power cut.
bool syncDirectory(const char* path);
