#include "exchange/identity.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool identityAt(int dirFd, const char* path, int flags, FileIdentity& identity) {
    struct statx sx {};
    if (::statx(dirFd, path, flags, STATX_INO | STATX_BTIME, &sx) != 0 || (sx.stx_mask & STATX_INO) == 0)
        return false;
    identity.inode = sx.stx_ino;
    bool born = (sx.stx_mask & STATX_BTIME) != 0;
    identity.bornSeconds = born ? sx.stx_btime.tv_sec : 0;
    identity.bornNanoseconds = born ? sx.stx_btime.tv_nsec : 0;
    return true;
}

}  // namespace

bool identityOf(int fd, FileIdentity& identity) { return identityAt(fd, "", AT_EMPTY_PATH, identity); }

bool identityOfPath(const char* path, FileIdentity& identity) { return identityAt(AT_FDCWD, path, 0, identity); }

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.inode == b.inode && a.bornSeconds == b.bornSeconds && a.bornNanoseconds == b.bornNanoseconds;
}
