// A model of what a power cut leaves of a program's files, for the
// power-cut proof: the program's file operations, read from an strace log,
// are played on a model disk that knows, for each file, what was fsynced
// and what is still pending, and for each directory which creates, renames
// and unlinks are not yet fsynced. A cut keeps each file's fsynced content
// plus any prefix of its pending changes (the last write perhaps only in
// part), and any of the pending name operations.
#pragma once

#include "scene.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct Change {
    enum Kind { Write, Truncate, Collapse, Punch } kind;
    std::int64_t offset, length;
    std::string data;
};

struct Inode {
    std::string durable, live;
    std::vector<Change> pending;
};

struct NameOp {
    enum Kind { Create, Rename, Unlink } kind;
    std::string from, to;
    int inode;
};

// One event of the timeline: a file operation of the program, or a peer's
// write (which the peer fsyncs, so it is on disk at once).
struct Event {
    enum Kind { Open, Write, PWrite, Truncate, Collapse, Punch, Sync, Rename, Unlink, PeerWrite, PeerAppend } kind;
    std::string name, other;  // files as "X/Account.txt" (exchange) or "W/fare-settle.journal" (working)
    std::string data;
    std::int64_t a = 0, b = 0;
    bool create = false, truncate = false, append = false;
    int fd = -1;
    Money money;  // of a peer's append
    bool request = false;
};

struct Disk {
    std::vector<Inode> inodes;
    std::map<std::string, int> live, durable;
    std::map<std::string, std::vector<NameOp>> pendingNames;  // by directory, "X" or "W"
    std::map<int, std::pair<int, std::int64_t>> fds;          // fd: inode, offset
    std::map<int, bool> appending;
};

using Files = std::map<std::string, std::string>;

void play(Disk& disk, const Event& e);
// A disk state after a power cut: `keep[i]` of inode i's pending changes
// (one more in part when `partial` names it), and the pending name
// operations whose bit is set in `names`.
Files stateOf(const Disk& disk, const std::vector<std::size_t>& keep, int partial, unsigned names);
// The states a power cut right now could leave: nothing pending, all of
// it, and each file's and each name operation's pending part alone.
std::vector<Files> crashStates(const Disk& disk);

struct Trace {
    std::vector<Event> events;
    std::vector<std::size_t> pauses;  // event index of each report's pause
    std::vector<std::size_t> ends;    // event index after each settlement
};
// The file operations of the strace log of a program run in `scene`, with
// the files named "X/<name>" in the exchange directory, "W/<name>" in the
// working directory.
Trace readTrace(const std::string& log, const Scene& scene);
