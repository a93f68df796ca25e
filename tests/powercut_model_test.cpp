// The power-cut model on its own: the disk states it must build after a
// few file operations, the ones it must never build, and the strace lines
// it reads them from.
#include "powercut_model.h"
#include "support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

Event open(const std::string& name, int fd, bool truncate = false, bool append = false) {
    Event e{};
    e.kind = Event::Open;
    e.name = name;
    e.fd = fd;
    e.create = true;
    e.truncate = truncate;
    e.append = append;
    return e;
}

Event write(int fd, const std::string& data) {
    Event e{};
    e.kind = Event::Write;
    e.fd = fd;
    e.data = data;
    return e;
}

Event named(Event::Kind kind, const std::string& name, const std::string& other = "") {
    Event e{};
    e.kind = kind;
    e.name = name;
    e.other = other;
    return e;
}

Event ranged(Event::Kind kind, const std::string& name, std::int64_t a, std::int64_t b) {
    Event e = named(kind, name);
    e.a = a;
    e.b = b;
    return e;
}

// What `name` holds in each state; "-" where it is not there.
std::vector<std::string> contents(const std::vector<Files>& states, const std::string& name) {
    std::vector<std::string> out;
    for (const Files& files : states) {
        auto it = files.find(name);
        out.push_back(it == files.end() ? "-" : it->second);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(PowerCutModel, WhatWasSyncedStaysAndWhatWasNotMayBeAnyPrefix) {
    Disk disk;
    for (const Event& e : {open("X/Account.txt", 3, false, true), write(3, "line one\n"), named(Event::Sync, "X/Account.txt"),
                           named(Event::Sync, "X")})
        play(disk, e);
    EXPECT_EQ(contents(crashStates(disk), "X/Account.txt"), Strings{"line one\n"});
    play(disk, write(3, "line two\n"));
    // Before the write, after it, or half of it: never anything else.
    EXPECT_EQ(contents(crashStates(disk), "X/Account.txt"),
              (Strings{"line one\n", "line one\nline", "line one\nline two\n"}));
}

TEST(PowerCutModel, ANameIsThereOnlyOnceItsDirectoryIsSynced) {
    Disk disk;
    for (const Event& e : {open("W/fare-settle.journal.new", 3, true), write(3, "j"), named(Event::Sync, "W/fare-settle.journal.new"),
                           named(Event::Rename, "W/fare-settle.journal.new", "W/fare-settle.journal")})
        play(disk, e);
    std::vector<Files> states = crashStates(disk);
    // The new file may not be there at all, or under either name, but
    // never under both.
    for (const Files& files : states)
        EXPECT_FALSE(files.count("W/fare-settle.journal.new") != 0 && files.count("W/fare-settle.journal") != 0);
    EXPECT_EQ(contents(states, "W/fare-settle.journal"), (Strings{"-", "j"}));
    play(disk, named(Event::Sync, "W"));
    EXPECT_EQ(contents(crashStates(disk), "W/fare-settle.journal"), Strings{"j"});
    EXPECT_EQ(contents(crashStates(disk), "W/fare-settle.journal.new"), Strings{"-"});
}

TEST(PowerCutModel, APunchAndACollapseAreEachWholeOrNotYetAndAPeersAppendIsAlwaysThere) {
    Disk disk;
    Event peer = named(Event::PeerAppend, "X/Accumulated.txt");
    peer.data = "aaaabbbb";
    play(disk, peer);
    play(disk, ranged(Event::Punch, "X/Accumulated.txt", 0, 4));
    EXPECT_EQ(contents(crashStates(disk), "X/Accumulated.txt"), (Strings{std::string("\0\0\0\0bbbb", 8), "aaaabbbb"}));
    play(disk, ranged(Event::Collapse, "X/Accumulated.txt", 0, 4));
    peer.data = "cc";
    play(disk, peer);
    // The append is on disk at once, on top of whatever the cut keeps.
    for (const std::string& content : contents(crashStates(disk), "X/Accumulated.txt"))
        EXPECT_EQ(content.substr(content.size() - 2), "cc") << hex(content);
}

TEST(PowerCutModel, ReadsTheCallsThatChangeFilesFromAnStraceLog) {
    std::string dir = std::filesystem::temp_directory_path().string() + "/fare-model-" + std::to_string(::getpid());
    Scene scene{dir + "/x", dir + "/x/run/settle", ""};
    std::filesystem::create_directories(dir);
    std::string log = dir + "/trace";
    // As strace -y -xx writes them: every string and path in hex.
    auto h = [](const std::string& text) {
        std::string out;
        for (unsigned char c : text) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
        return out;
    };
    const std::string account = "4<" + h(scene.root + "/Account.txt") + ">";
    const std::string records = "5<" + h(scene.root + "/Accumulated.txt") + ">";
    writeFile(log, "openat(AT_FDCWD, \"" + h("../../Account.txt") + "\", O_WRONLY|O_CREAT|O_APPEND|O_CLOEXEC, 0666) = " +
                       account + "\n"
                   "fallocate(" + account + ", FALLOC_FL_KEEP_SIZE, 0, 23) = 0\n"
                   "write(" + account + ", \"" + h("ab") + "\", 2) = 2\n"
                   "write(1<" + h("/dev/pts/0") + ">, \"" + h("a") + "\", 1) = 1\n"
                   "fsync(" + account + ") = 0\n"
                   "fallocate(" + records + ", FALLOC_FL_KEEP_SIZE|FALLOC_FL_PUNCH_HOLE, 0, 4096) = 0\n"
                   "fallocate(" + records + ", FALLOC_FL_COLLAPSE_RANGE, 0, 4096) = 0\n"
                   "ftruncate(" + records + ", 0) = -1 EIO (Input/output error)\n"
                   "rename(\"" + h("fare-settle.journal.new") + "\", \"" + h("fare-settle.journal") + "\") = 0\n"
                   "fsync(3<" + h(scene.work) + ">) = 0\n");
    Trace trace = readTrace(log, scene);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(trace.events.size(), 7u);
    EXPECT_EQ(trace.events[0].kind, Event::Open);
    EXPECT_EQ(trace.events[0].name, "X/Account.txt");
    EXPECT_TRUE(trace.events[0].append);
    // The reservation changes no byte and is no event; the console is no
    // file; a call that failed changed nothing.
    EXPECT_EQ(trace.events[1].kind, Event::Write);
    EXPECT_EQ(trace.events[1].data, "ab");
    EXPECT_EQ(trace.events[2].kind, Event::Sync);
    EXPECT_EQ(trace.events[3].kind, Event::Punch);
    EXPECT_EQ(trace.events[3].b, 4096);
    EXPECT_EQ(trace.events[4].kind, Event::Collapse);
    EXPECT_EQ(trace.events[5].kind, Event::Rename);
    EXPECT_EQ(trace.events[5].other, "W/fare-settle.journal");
    EXPECT_EQ(trace.events[6].kind, Event::Sync);
    EXPECT_EQ(trace.events[6].name, "W");
}
