// A power cut at any point of three settlements: one that creates the
// ledgers, a busy one (a settled part over 256 KiB, records appended
// during the report) and a quiet one. The real program's file operations
// are recorded with strace; from them every disk state a power cut could
// leave is built: each file keeps what was fsynced plus any prefix of its
// later changes (the last write perhaps only in part), and each create,
// rename or unlink not yet followed by an fsync of its directory may or
// may not have happened. The program is started on each state and must
// leave every amount appended either in the ledgers or in Accumulated.txt,
// once, with the ledgers whole and in agreement and one line per request.
#include "program.h"
#include "scene.h"
#include "exchange/identity.h"
#include "text/text.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <sstream>
#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// At most this many states are started, spread over every point.
constexpr std::size_t stateLimit = 240;

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

std::string dirOf(const std::string& name) { return name.substr(0, 1); }

void applyChange(std::string& content, const Change& c) {
    switch (c.kind) {
    case Change::Write:
        if (static_cast<std::int64_t>(content.size()) < c.offset + static_cast<std::int64_t>(c.data.size()))
            content.resize(static_cast<std::size_t>(c.offset) + c.data.size(), '\0');
        content.replace(static_cast<std::size_t>(c.offset), c.data.size(), c.data);
        break;
    case Change::Truncate:
        content.resize(static_cast<std::size_t>(c.length), '\0');
        break;
    case Change::Collapse:
        content.erase(static_cast<std::size_t>(c.offset), static_cast<std::size_t>(c.length));
        break;
    case Change::Punch:
        // A hole reads as zeros; the state is written back with holes there.
        content.replace(static_cast<std::size_t>(c.offset), static_cast<std::size_t>(c.length),
                        static_cast<std::size_t>(c.length), '\0');
        break;
    }
}

void change(Disk& disk, int inode, const Change& c) {
    applyChange(disk.inodes[inode].live, c);
    disk.inodes[inode].pending.push_back(c);
}

int inodeOf(Disk& disk, const std::string& name) {
    auto it = disk.live.find(name);
    return it == disk.live.end() ? -1 : it->second;
}

void play(Disk& disk, const Event& e) {
    switch (e.kind) {
    case Event::Open: {
        int inode = inodeOf(disk, e.name);
        if (inode < 0) {
            inode = static_cast<int>(disk.inodes.size());
            disk.inodes.push_back({});
            disk.live[e.name] = inode;
            disk.pendingNames[dirOf(e.name)].push_back({NameOp::Create, e.name, "", inode});
        }
        if (e.truncate) change(disk, inode, {Change::Truncate, 0, 0, ""});
        disk.fds[e.fd] = {inode, 0};
        disk.appending[e.fd] = e.append;
        break;
    }
    case Event::Write: {
        auto& [inode, offset] = disk.fds[e.fd];
        std::int64_t at = disk.appending[e.fd] ? static_cast<std::int64_t>(disk.inodes[inode].live.size()) : offset;
        change(disk, inode, {Change::Write, at, 0, e.data});
        offset = at + static_cast<std::int64_t>(e.data.size());
        break;
    }
    case Event::PWrite:
        change(disk, inodeOf(disk, e.name), {Change::Write, e.a, 0, e.data});
        break;
    case Event::Truncate:
        change(disk, inodeOf(disk, e.name), {Change::Truncate, 0, e.a, ""});
        break;
    case Event::Collapse:
        change(disk, inodeOf(disk, e.name), {Change::Collapse, e.a, e.b, ""});
        break;
    case Event::Punch:
        change(disk, inodeOf(disk, e.name), {Change::Punch, e.a, e.b, ""});
        break;
    case Event::Sync:
        if (e.name.size() == 1) {
            disk.pendingNames[e.name].clear();
            for (auto it = disk.durable.begin(); it != disk.durable.end();)
                it = dirOf(it->first) == e.name ? disk.durable.erase(it) : std::next(it);
            for (auto& [name, inode] : disk.live)
                if (dirOf(name) == e.name) disk.durable[name] = inode;
        } else if (int inode = inodeOf(disk, e.name); inode >= 0) {
            disk.inodes[inode].durable = disk.inodes[inode].live;
            disk.inodes[inode].pending.clear();
        }
        break;
    case Event::Rename: {
        int inode = inodeOf(disk, e.name);
        disk.live.erase(e.name);
        disk.live[e.other] = inode;
        disk.pendingNames[dirOf(e.name)].push_back({NameOp::Rename, e.name, e.other, inode});
        break;
    }
    case Event::Unlink:
        disk.pendingNames[dirOf(e.name)].push_back({NameOp::Unlink, e.name, "", inodeOf(disk, e.name)});
        disk.live.erase(e.name);
        break;
    case Event::PeerWrite:
    case Event::PeerAppend: {
        int inode = inodeOf(disk, e.name);
        if (inode < 0) {
            inode = static_cast<int>(disk.inodes.size());
            disk.inodes.push_back({});
            disk.live[e.name] = inode;
        }
        disk.durable[e.name] = inode;
        Inode& file = disk.inodes[inode];
        file.live = e.kind == Event::PeerWrite ? e.data : file.live + e.data;
        file.durable = file.live;
        file.pending.clear();
        break;
    }
    }
}

using Files = std::map<std::string, std::string>;

// A disk state after a power cut: `keep[i]` of inode i's pending changes
// (one more in part when `partial` names it), and the pending name
// operations whose bit is set in `names`.
Files stateOf(const Disk& disk, const std::vector<std::size_t>& keep, int partial, unsigned names) {
    std::map<std::string, int> entries = disk.durable;
    unsigned bit = 0;
    for (const auto& [dir, ops] : disk.pendingNames) {
        for (const NameOp& op : ops) {
            bool happened = (names >> bit++ & 1) != 0;
            if (!happened) continue;
            if (op.kind == NameOp::Create) entries[op.from] = op.inode;
            if (op.kind == NameOp::Rename && entries.count(op.from) != 0) {
                entries[op.to] = entries[op.from];
                entries.erase(op.from);
            }
            if (op.kind == NameOp::Unlink) entries.erase(op.from);
        }
    }
    Files files;
    for (const auto& [name, inode] : entries) {
        const Inode& file = disk.inodes[inode];
        std::string content = file.durable;
        for (std::size_t i = 0; i < keep[inode] && i < file.pending.size(); ++i) applyChange(content, file.pending[i]);
        if (partial == inode && keep[inode] < file.pending.size() && file.pending[keep[inode]].kind == Change::Write) {
            Change half = file.pending[keep[inode]];
            half.data.resize(half.data.size() / 2);
            applyChange(content, half);
        }
        files[name] = content;
    }
    return files;
}

// The states a power cut right now could leave: nothing pending, all of
// it, and each file's and each name operation's pending part alone.
std::vector<Files> crashStates(const Disk& disk) {
    std::size_t n = disk.inodes.size();
    unsigned nameCount = 0;
    for (const auto& [dir, ops] : disk.pendingNames) nameCount += static_cast<unsigned>(ops.size());
    nameCount = std::min(nameCount, 16u);
    unsigned allNames = (1u << nameCount) - 1;
    std::vector<std::size_t> none(n, 0), all(n);
    for (std::size_t i = 0; i < n; ++i) all[i] = disk.inodes[i].pending.size();
    std::vector<Files> states = {stateOf(disk, none, -1, 0), stateOf(disk, all, -1, allNames)};
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < disk.inodes[i].pending.size(); ++k) {
            for (const std::vector<std::size_t>* base : {&none, &all}) {
                std::vector<std::size_t> keep = *base;
                keep[i] = k;
                states.push_back(stateOf(disk, keep, static_cast<int>(i), base == &all ? allNames : 0));
                states.push_back(stateOf(disk, keep, -1, base == &all ? allNames : 0));
            }
        }
    }
    for (unsigned bit = 0; bit < nameCount; ++bit) {
        states.push_back(stateOf(disk, all, -1, 1u << bit));
        states.push_back(stateOf(disk, all, -1, allNames & ~(1u << bit)));
        states.push_back(stateOf(disk, none, -1, allNames & ~(1u << bit)));
    }
    return states;
}

// ---- reading the recorded trace ----

std::string unhex(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i + 3 < s.size() + 1 && i < s.size(); i += 4) {
        if (s[i] != '\\' || s[i + 1] != 'x') break;
        out.push_back(static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16)));
    }
    return out;
}

// The hex text between `open` and `close` after `from`.
std::string between(const std::string& line, char open, char close, std::size_t& from) {
    std::size_t a = line.find(open, from);
    std::size_t b = line.find(close, a + 1);
    from = b + 1;
    return unhex(std::string_view(line).substr(a + 1, b - a - 1));
}

struct Trace {
    std::vector<Event> events;
    std::vector<std::size_t> pauses;  // event index of each report's pause
    std::vector<std::size_t> ends;    // event index after each settlement
};

Trace readTrace(const std::string& log, const Scene& scene) {
    Trace trace;
    auto nameOf = [&](const std::string& path) -> std::string {
        if (path == scene.work) return "W";
        if (path == scene.root) return "X";
        if (path.rfind(scene.work + "/", 0) == 0) return "W/" + path.substr(scene.work.size() + 1);
        if (path.rfind(scene.root + "/", 0) == 0) return "X/" + path.substr(scene.root.size() + 1);
        return "";
    };
    auto relative = [&](const std::string& path) {
        return path.rfind("../../", 0) == 0 ? "X/" + path.substr(6) : "W/" + path;
    };
    std::ifstream in(log);
    std::string line;
    bool ending = false;
    while (std::getline(in, line)) {
        std::size_t paren = line.find('(');
        std::size_t result = line.rfind(") = ");
        if (paren == std::string::npos || result == std::string::npos || line.compare(0, 3, "---") == 0) continue;
        std::string call = line.substr(0, paren);
        long long value = std::atoll(line.c_str() + result + 4);
        if (value < 0) continue;
        Event e{};
        std::size_t at = paren;
        if (call == "clock_nanosleep" || call == "nanosleep") {
            if (line.find("tv_sec=3") != std::string::npos) trace.pauses.push_back(trace.events.size());
            continue;
        }
        if (call == "rename" || call == "unlink") {
            e.kind = call == "rename" ? Event::Rename : Event::Unlink;
            e.name = relative(between(line, '"', '"', at));
            if (call == "rename") e.other = relative(between(line, '"', '"', at));
            if (call == "unlink" && e.name == "W/fare-settle.journal") ending = true;
            trace.events.push_back(e);
            continue;
        }
        if (call == "openat") {
            if (line.find("O_CREAT") == std::string::npos && line.find("O_TRUNC") == std::string::npos) continue;
            std::size_t r = result + 4;
            e.kind = Event::Open;
            e.fd = static_cast<int>(value);
            e.name = nameOf(between(line, '<', '>', r));
            e.create = true;
            e.truncate = line.find("O_TRUNC") != std::string::npos;
            e.append = line.find("O_APPEND") != std::string::npos;
            if (!e.name.empty()) trace.events.push_back(e);
            continue;
        }
        e.fd = std::atoi(line.c_str() + paren + 1);
        e.name = nameOf(between(line, '<', '>', at));
        if (e.name.empty()) continue;  // the console
        if (call == "write" || call == "pwrite64") {
            e.kind = call == "write" ? Event::Write : Event::PWrite;
            e.data = between(line, '"', '"', at).substr(0, static_cast<std::size_t>(value));
            if (e.kind == Event::PWrite) e.a = std::atoll(line.c_str() + line.rfind(", ", result) + 2);
        } else if (call == "ftruncate") {
            e.kind = Event::Truncate;
            e.a = std::atoll(line.c_str() + line.rfind(", ", result) + 2);
        } else if (call == "fallocate") {
            e.kind = line.find("PUNCH_HOLE") != std::string::npos ? Event::Punch : Event::Collapse;
            std::size_t last = line.rfind(", ", result);
            std::size_t before = line.rfind(", ", last - 1);
            e.a = std::atoll(line.c_str() + before + 2);
            e.b = std::atoll(line.c_str() + last + 2);
        } else if (call == "fsync") {
            e.kind = Event::Sync;
            if (ending && e.name == "W") {
                trace.events.push_back(e);
                trace.ends.push_back(trace.events.size());
                ending = false;
                continue;
            }
        } else {
            continue;
        }
        trace.events.push_back(e);
    }
    return trace;
}

std::string describe(const Event& e) {
    const char* kinds[] = {"open", "write", "pwrite", "ftruncate", "collapse", "punch", "fsync", "rename",
                           "unlink", "peer write", "peer append"};
    return std::string(kinds[e.kind]) + " " + e.name + (e.other.empty() ? "" : " -> " + e.other) + " (" +
           std::to_string(e.data.size()) + " bytes, " + std::to_string(e.a) + ")";
}

// The files of a state and their sizes, for a failure message.
std::string describe(const Files& files) {
    std::string out;
    for (const auto& [name, content] : files) {
        out += "  " + name + ": " + std::to_string(content.size()) + " bytes";
        if (content.size() < 200) out += " \"" + content + "\"";
        out += "\n";
    }
    return out;
}

Event peerWrite(const std::string& name, const std::string& data, bool request = false) {
    Event e{};
    e.kind = Event::PeerWrite;
    e.name = name;
    e.data = data;
    e.request = request;
    return e;
}

Event peerAppend(const std::string& data) {
    Event e{};
    e.kind = Event::PeerAppend;
    e.name = "X/Accumulated.txt";
    e.data = data;
    std::istringstream in(data);
    std::string id, mode, code, card;
    long long amount = 0;
    while (in >> id >> mode >> code >> amount >> card) {
        Money m = fare(mode, amount);
        e.money.total += m.total;
        e.money.bus += m.bus;
        e.money.metro += m.metro;
    }
    return e;
}

std::string recordsOf(const std::string& prefix, std::size_t bytes, int seed) {
    std::string out;
    const char* modes[] = {"BUS", "METRO"};
    const int amounts[] = {1650, 300, 1250, 600, 500, 200, 1750, 1050};
    for (int i = 0; out.size() < bytes; ++i) {
        int k = (i * 7 + seed) % 8;
        out += prefix + std::to_string(i) + " " + modes[(i + seed) % 2] + " t " + std::to_string(amounts[k]) + " c\n";
    }
    return out;
}

// A journal names the exchange directory, the ledgers and Accumulated.txt
// by inode and birth time; in a state rebuilt elsewhere the files have new
// ones, which the journal is given in their place, as if the state were
// the disk it came from.
std::string reidentified(const std::string& journal, const Scene& scene) {
    auto identity = [](const std::string& path) {
        FileIdentity id{};
        if (!identityOfPath(path.c_str(), id)) return std::string();
        return std::to_string(id.inode) + " " + std::to_string(id.bornSeconds) + " " +
               std::to_string(id.bornNanoseconds);
    };
    std::istringstream in(journal);
    std::string out;
    for (std::string text; std::getline(in, text);) {
        std::istringstream words(text);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        std::string now;
        if (!w.empty() && w[0] == "exchange" && w.size() == 4) now = identity(scene.root);
        if (!w.empty() && w[0] == "ledger" && w.size() == 7) now = identity(inScene(scene, w[1]));
        if (!w.empty() && w[0] == "records" && w.size() == 6) now = identity(inScene(scene, "Accumulated.txt"));
        if (!now.empty()) {
            std::size_t at = w[0] == "ledger" ? 2 : 1;
            std::istringstream ids(now);
            ids >> w[at] >> w[at + 1] >> w[at + 2];
            text.clear();
            for (const std::string& word : w) text += (text.empty() ? "" : " ") + word;
        }
        out += text + "\n";
    }
    return out;
}

// Writes a file of the state back with holes where whole blocks are zeros,
// as the punched blocks it stands for were.
void writeSparse(const std::string& path, const std::string& content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    constexpr std::size_t block = 4096;
    for (std::size_t at = 0; at < content.size(); at += block) {
        std::size_t n = std::min(block, content.size() - at);
        if (n == block && content.find_first_not_of('\0', at) >= at + block) continue;
        ::pwrite(fd, content.data() + at, n, static_cast<off_t>(at));
    }
    ::ftruncate(fd, static_cast<off_t>(content.size()));
    ::close(fd);
}

void syncedAppend(const std::string& path, const std::string& data) {
    appendFile(path, data);
    int fd = ::open(path.c_str(), O_WRONLY);
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

TEST(PowerCut, EveryStateACutCanLeaveSettlesEachAmountOnce) {
    std::string parent = std::filesystem::temp_directory_path().string() + "/fare-powercut-" + std::to_string(::getpid());
    Scene scene = makeScene(parent, "record");
    // The peers' part of the timeline, each batch before its settlement.
    std::vector<std::vector<Event>> batches = {
        {peerWrite("X/Time.txt", "20261210\n"), peerWrite("X/AccountTrigger.txt", "0"),
         peerAppend(recordsOf("q", 60, 1)), peerWrite("X/AccountTrigger.txt", "1", true)},
        {peerAppend(recordsOf("b", 300 * 1024, 2)), peerWrite("X/AccountSuccess.txt", "0"),
         peerWrite("X/AccountTrigger.txt", "1", true)},
        {peerAppend(recordsOf("n", 200, 3)), peerWrite("X/AccountSuccess.txt", "0"),
         peerWrite("X/AccountTrigger.txt", "1", true)},
    };
    Event late = peerAppend(recordsOf("late", 2000, 4));

    // The recorded run: the same peer steps, taken for real.
    auto doPeer = [&](const Event& e) {
        std::string path = inScene(scene, e.name.substr(2));
        if (e.kind == Event::PeerAppend) {
            syncedAppend(path, e.data);
        } else {
            writeFile(path, e.data);
            int fd = ::open(path.c_str(), O_WRONLY);
            ::fsync(fd);
            ::close(fd);
        }
    };
    for (std::size_t i = 0; i + 1 < batches[0].size(); ++i) doPeer(batches[0][i]);
    std::string log = parent + "/trace";
    pid_t pid = startIn(scene, {"strace", "-qq", "-y", "-xx", "-s", "1000000", "-o", log, "-e",
                                "trace=openat,write,pwrite64,ftruncate,fallocate,fsync,rename,unlink,clock_nanosleep,nanosleep"});
    ASSERT_TRUE(waitUntil([&] { return readFile(scene.out).find(idleText) != std::string::npos; }));
    for (std::size_t b = 0; b < batches.size(); ++b) {
        for (std::size_t i = b == 0 ? batches[0].size() - 1 : 0; i < batches[b].size(); ++i) doPeer(batches[b][i]);
        if (b == 1) {
            ASSERT_TRUE(waitUntil([&] { return countOf(readFile(scene.out), settledText) == 2; }));
            doPeer(late);
        }
        ASSERT_TRUE(waitUntil([&] { return handedBack(scene); }, 40));
    }
    stopIn(pid);
    Trace trace = readTrace(log, scene);
    ASSERT_EQ(trace.ends.size(), 3u);
    ASSERT_EQ(trace.pauses.size(), 3u);

    // The whole timeline: peers' batches, then each settlement's operations,
    // with the late records appended at the second report's pause.
    std::vector<Event> timeline;
    std::size_t from = 0;
    for (std::size_t b = 0; b < 3; ++b) {
        for (const Event& e : batches[b]) timeline.push_back(e);
        for (std::size_t i = from; i < trace.ends[b]; ++i) {
            if (b == 1 && i == trace.pauses[1]) timeline.push_back(late);
            timeline.push_back(trace.events[i]);
        }
        from = trace.ends[b];
    }

    // Every point, every state, each tagged with what had been appended and
    // requested by then; the same state is started once.
    struct Case {
        Files files;
        Money appended;
        std::size_t requests;
        std::size_t point;
    };
    std::vector<std::vector<Case>> byPoint;
    std::set<Files> seen;
    Disk disk;
    Money appended;
    std::size_t requests = 0, total = 0;
    for (std::size_t i = 0; i < timeline.size(); ++i) {
        play(disk, timeline[i]);
        const Event& e = timeline[i];
        if (e.kind == Event::PeerAppend) {
            appended.total += e.money.total;
            appended.bus += e.money.bus;
            appended.metro += e.money.metro;
        }
        if (e.request) ++requests;
        if (requests == 0) continue;
        std::vector<Case> cases;
        for (Files& files : crashStates(disk)) {
            if (seen.insert(files).second) cases.push_back({std::move(files), appended, requests, i});
        }
        total += cases.size();
        byPoint.push_back(std::move(cases));
    }
    // Round robin over the points, so that a limit still reaches all of them.
    std::vector<Case> chosen;
    for (std::size_t round = 0; chosen.size() < stateLimit; ++round) {
        bool any = false;
        for (auto& cases : byPoint) {
            if (round < cases.size() && chosen.size() < stateLimit) {
                chosen.push_back(cases[round]);
                any = true;
            }
        }
        if (!any) break;
    }

    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&, w] {
            Scene s = makeScene(parent, "w" + std::to_string(w));
            for (std::size_t i; (i = next++) < chosen.size();) {
                const Case& c = chosen[i];
                std::filesystem::remove_all(s.root);
                std::filesystem::create_directories(s.work);
                for (const auto& [name, content] : c.files)
                    writeSparse((name[0] == 'X' ? s.root : s.work) + "/" + name.substr(2), content);
                for (const char* journal : {"/fare-settle.journal", "/fare-settle.journal.new"}) {
                    if (fileExists(s.work + journal))
                        writeFile(s.work + journal, reidentified(readFile(s.work + journal), s));
                }
                pid_t p = startIn(s);
                bool calm = waitUntil([&] {
                    return !fileExists(s.work + "/fare-settle.journal") &&
                           readFile(inScene(s, "AccountTrigger.txt")) != "1" &&
                           readFile(s.out).find(idleText) != std::string::npos;
                }, 40);
                stopIn(p);
                Money ledgers = ledgerMoney(s);
                Money left = moneyLeft(s);
                std::string fault;
                if (!calm) fault = "never came to rest";
                else if (!ledgers.fault.empty()) fault = ledgers.fault;
                else if (ledgers.lines != c.requests)
                    fault = std::to_string(ledgers.lines) + " ledger lines for " + std::to_string(c.requests) + " requests";
                else if (ledgers.total + left.total != c.appended.total || ledgers.bus + left.bus != c.appended.bus ||
                         ledgers.metro + left.metro != c.appended.metro)
                    fault = "ledgers " + std::to_string(ledgers.total) + " plus left " + std::to_string(left.total) +
                            " where " + std::to_string(c.appended.total) + " was appended";
                std::lock_guard<std::mutex> guard(lock);
                EXPECT_EQ(fault, "") << "state after " << describe(timeline[c.point]) << ", event " << c.point
                                     << " of " << timeline.size() << ":\n" << describe(c.files);
            }
        });
    }
    for (std::thread& t : workers) t.join();
    std::printf("power cut: %zu events, %zu distinct states, %zu started\n", timeline.size(), total, chosen.size());
    std::filesystem::remove_all(parent);
}
