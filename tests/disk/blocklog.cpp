// fare-blocklog IMAGE LOG MOUNTPOINT: serves IMAGE as MOUNTPOINT/disk.img
// through FUSE, for a loop device to sit on, and logs every write that
// reaches it, and every flush, in the order they arrive. A file system on
// that loop device then shows, in LOG, the block writes and the barriers
// from which every state a power cut could leave is rebuilt. A write to
// MOUNTPOINT/mark logs a mark, so a test can say "this much was on disk"
// at a point of the log.
//
// Log records: 'W', u64 offset, u32 length, the bytes; 'F' (a flush) and
// 'M' (a mark, its bytes), with the same header.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Served {
    int image;
    off_t size;
    std::FILE* log;
    std::mutex lock;
};

Served* served() { return static_cast<Served*>(fuse_get_context()->private_data); }

void logRecord(Served* s, char kind, std::uint64_t offset, const char* data, std::uint32_t length) {
    std::fputc(kind, s->log);
    std::fwrite(&offset, sizeof offset, 1, s->log);
    std::fwrite(&length, sizeof length, 1, s->log);
    if (length > 0) std::fwrite(data, 1, length, s->log);
}

int getAttributes(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
    } else if (std::strcmp(path, "/disk.img") == 0 || std::strcmp(path, "/mark") == 0) {
        st->st_mode = S_IFREG | 0644;
        st->st_nlink = 1;
        st->st_size = std::strcmp(path, "/mark") == 0 ? 0 : served()->size;
    } else {
        return -ENOENT;
    }
    return 0;
}

int readDirectory(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    for (const char* name : {".", "..", "disk.img", "mark"}) fill(buffer, name, nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int openServed(const char*, fuse_file_info* info) {
    info->direct_io = 1;
    return 0;
}

int truncateServed(const char*, off_t, fuse_file_info*) { return 0; }

int readServed(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    if (std::strcmp(path, "/disk.img") != 0) return 0;
    ssize_t n = ::pread(served()->image, buffer, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

int writeServed(const char* path, const char* data, size_t size, off_t offset, fuse_file_info*) {
    Served* s = served();
    std::lock_guard<std::mutex> guard(s->lock);
    if (std::strcmp(path, "/mark") == 0) {
        logRecord(s, 'M', 0, data, static_cast<std::uint32_t>(size));
        std::fflush(s->log);
        return static_cast<int>(size);
    }
    ssize_t n = ::pwrite(s->image, data, size, offset);
    if (n < 0) return -errno;
    logRecord(s, 'W', static_cast<std::uint64_t>(offset), data, static_cast<std::uint32_t>(n));
    return static_cast<int>(n);
}

int syncServed(const char* path, int, fuse_file_info*) {
    Served* s = served();
    std::lock_guard<std::mutex> guard(s->lock);
    if (std::strcmp(path, "/disk.img") == 0) {
        logRecord(s, 'F', 0, nullptr, 0);
        std::fflush(s->log);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: fare-blocklog IMAGE LOG MOUNTPOINT\n");
        return 2;
    }
    Served s{};
    s.image = ::open(argv[1], O_RDWR);
    s.log = std::fopen(argv[2], "wb");
    struct stat st {};
    if (s.image < 0 || s.log == nullptr || ::fstat(s.image, &st) != 0) {
        std::perror("fare-blocklog");
        return 1;
    }
    s.size = st.st_size;
    fuse_operations ops{};
    ops.getattr = getAttributes;
    ops.readdir = readDirectory;
    ops.open = openServed;
    ops.truncate = truncateServed;
    ops.read = readServed;
    ops.write = writeServed;
    ops.fsync = syncServed;
    char* args[] = {argv[0], argv[3], const_cast<char*>("-f"), const_cast<char*>("-s")};
    int status = fuse_main(4, args, &ops, &s);
    std::fclose(s.log);
    return status;
}
