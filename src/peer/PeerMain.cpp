// fare-peer [--exchange DIR] COMMAND [ARGS]
#include "peer/peer.h"
#include "text/peer.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The directory this executable lives in, to tell the operator where
// fare-settle is.
std::string selfDir(const char* argv0) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string self = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : argv0;
    std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

int checkDir(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return peerError(peerBadInput, peerBadDir, dir.c_str(), std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) return peerError(peerBadInput, peerBadDir, dir.c_str(), "not a directory");
    if (::access(dir.c_str(), R_OK | W_OK | X_OK) != 0)
        return peerError(peerBadInput, peerBadDir, dir.c_str(), std::strerror(errno));
    return peerOk;
}

}  // namespace

int main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    std::string dir = "../..";
    if (!args.empty() && args[0] == "--exchange") {
        if (args.size() < 2) return peerError(peerBadInput, peerMissing, "--exchange", "DIR");
        dir = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return peerError(peerBadInput, peerNoCommand);
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(peerUsage, stdout);
        return peerOk;
    }
    if (command == "init") return peerInit(selfDir(argv[0]), args);
    // A check only reads, and may be given a file outside any exchange
    // directory: an unreadable one is reported by the check itself.
    if (command == "check") return peerCheck(dir, args);

    using Command = int (*)(const std::string&, const Args&);
    const struct {
        const char* name;
        Command run;
    } commands[] = {
        {"date", peerDate},       {"tap", peerTap},   {"generate", peerGenerate},
        {"request", peerRequest}, {"wait", peerWait}, {"ledgers", peerLedgers},
        {"status", peerStatus},
    };
    for (const auto& c : commands) {
        if (command != c.name) continue;
        if (int bad = checkDir(dir)) return bad;
        return c.run(dir, args);
    }
    return peerError(peerBadInput, peerUnknownCommand, command.c_str());
}
