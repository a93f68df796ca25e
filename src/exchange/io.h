// The checked helpers for the calls the exchange code makes again and
// again: every open, write, fsync and close of an exchange file or the
// journal goes through here. The calls made in one place only (fstat,
// flock, ftruncate, fallocate, rename, unlink) are made and checked there.
#pragma once

#include <cstddef>
#include <string_view>
#include <sys/types.h>

// -1 when the file cannot be opened. Descriptors never leak into the
// "clear" child.
int openFile(const char* path, int flags, mode_t mode = 0666);

// False on any error; short writes are continued, EINTR is retried.
bool writeAll(int fd, const char* data, std::size_t size);
bool writeAllAt(int fd, const char* data, std::size_t size, off_t offset);
bool syncFile(int fd);
bool closeFile(int fd);

// Bytes read, 0 at the end of the file, -1 on error.
ssize_t readSome(int fd, char* buffer, std::size_t size);

// Reads exactly `size` bytes at `offset`; false on an error or a short file.
bool readAllAt(int fd, char* buffer, std::size_t size, off_t offset);

// Replaces the whole content of `path`, creating it when missing, and
// fsyncs it: what it says survives a power cut once this returns true.
bool writeWholeFile(const char* path, std::string_view bytes);

// Makes the directory's entries (files created, renamed or removed in it)
// survive a power cut.
bool syncDirectory(const char* path);
