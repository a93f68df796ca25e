// Which file a descriptor or path is, in terms that survive a reboot and a
// remount: the inode number and the inode's birth time. The device number
// is left out on purpose: the same file system mounted again through
// another device (a loop device, LVM, NFS, btrfs) gets a new one, and the
// same file would then look like another. A file that is replaced gets a
// new inode, or at least a new birth time if its number is reused.
#pragma once

#include <cstdint>

struct FileIdentity {
    std::uint64_t inode;
    std::int64_t bornSeconds;   // 0 where the file system keeps no birth time
    std::uint32_t bornNanoseconds;
};

bool identityOf(int fd, FileIdentity& identity);
bool identityOfPath(const char* path, FileIdentity& identity);
bool sameFile(const FileIdentity& a, const FileIdentity& b);
