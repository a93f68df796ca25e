#include "exchange/fingerprint.h"

#include "exchange/io.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr std::int64_t tailSpan = 4096;

std::size_t headLength(const SettledBytes& settled) {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(settled.bytes, 0, settledHeadRoom));
}

// The hash of the settled bytes past the head, at most their last 4 KiB.
bool hashTail(int fd, const SettledBytes& settled, std::uint64_t& hash) {
    std::int64_t from = std::max<std::int64_t>(static_cast<std::int64_t>(headLength(settled)),
                                               settled.bytes - tailSpan);
    char buffer[tailSpan];
    auto size = static_cast<std::size_t>(std::max<std::int64_t>(settled.bytes - from, 0));
    if (!readAllAt(fd, buffer, size, from)) return false;
    hash = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(buffer[i]);
        hash *= 0x100000001b3ULL;
    }
    return true;
}

}  // namespace

bool fingerprintSettled(int fd, SettledBytes& settled) {
    std::memset(settled.head, 0, sizeof settled.head);
    return readAllAt(fd, settled.head, headLength(settled), 0) && hashTail(fd, settled, settled.tailHash);
}

SettledMatch matchSettled(int fd, const SettledBytes& settled) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return SettledMatch::Unreadable;
    if (st.st_size < settled.bytes) return SettledMatch::Differs;
    SettledBytes now = settled;
    if (!fingerprintSettled(fd, now)) return SettledMatch::Unreadable;
    return std::memcmp(now.head, settled.head, sizeof now.head) == 0 && now.tailHash == settled.tailHash
               ? SettledMatch::Same
               : SettledMatch::Differs;
}
