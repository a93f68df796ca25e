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
#include "powercut_model.h"
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

// The peers' part of the timeline, each batch before its settlement.
using Batches = std::vector<std::vector<Event>>;

// Runs the three settlements for real under strace, the peers' steps taken
// as the batches say, and gives back the whole timeline: the peers'
// batches, then each settlement's operations, with `late` appended at the
// second report's pause.
std::vector<Event> recordedTimeline(const Scene& scene, const Batches& batches, const Event& late,
                                    const std::string& log) {
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
    pid_t pid = startIn(scene, {"strace", "-qq", "-y", "-xx", "-s", "1000000", "-o", log, "-e",
                                "trace=openat,write,pwrite64,ftruncate,fallocate,fsync,rename,unlink,clock_nanosleep,nanosleep"});
    EXPECT_TRUE(waitUntil([&] { return readFile(scene.out).find(idleText) != std::string::npos; }));
    for (std::size_t b = 0; b < batches.size(); ++b) {
        for (std::size_t i = b == 0 ? batches[0].size() - 1 : 0; i < batches[b].size(); ++i) doPeer(batches[b][i]);
        if (b == 1) {
            EXPECT_TRUE(waitUntil([&] { return countOf(readFile(scene.out), settledText) == 2; }));
            doPeer(late);
        }
        EXPECT_TRUE(waitUntil([&] { return handedBack(scene); }, 40));
    }
    stopIn(pid);
    Trace trace = readTrace(log, scene);
    std::vector<Event> timeline;
    if (trace.ends.size() != 3 || trace.pauses.size() != 3) {
        ADD_FAILURE() << trace.ends.size() << " settlements and " << trace.pauses.size() << " reports recorded";
        return timeline;
    }
    std::size_t from = 0;
    for (std::size_t b = 0; b < 3; ++b) {
        for (const Event& e : batches[b]) timeline.push_back(e);
        for (std::size_t i = from; i < trace.ends[b]; ++i) {
            if (b == 1 && i == trace.pauses[1]) timeline.push_back(late);
            timeline.push_back(trace.events[i]);
        }
        from = trace.ends[b];
    }
    return timeline;
}

// A disk state to start the program on, with what had been appended and
// requested by then.
struct Case {
    Files files;
    Money appended;
    std::size_t requests;
    std::size_t point;
};

// Every point, every state, each state once; at most `stateLimit` of them,
// taken round robin over the points so that a limit still reaches all.
std::vector<Case> casesOf(const std::vector<Event>& timeline, std::size_t& distinct) {
    std::vector<std::vector<Case>> byPoint;
    std::set<Files> seen;
    Disk disk;
    Money appended;
    std::size_t requests = 0;
    distinct = 0;
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
        distinct += cases.size();
        byPoint.push_back(std::move(cases));
    }
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
    return chosen;
}

// Starts the program on the state in scene `s`, asks nothing more of it,
// and says what is wrong with the money, if anything.
std::string faultOf(const Case& c, const Scene& s) {
    std::filesystem::remove_all(s.root);
    std::filesystem::create_directories(s.work);
    for (const auto& [name, content] : c.files)
        writeSparse((name[0] == 'X' ? s.root : s.work) + "/" + name.substr(2), content);
    for (const char* journal : {"/fare-settle.journal", "/fare-settle.journal.new"}) {
        if (fileExists(s.work + journal)) writeFile(s.work + journal, reidentified(readFile(s.work + journal), s));
    }
    pid_t p = startIn(s);
    bool calm = waitUntil([&] {
        return !fileExists(s.work + "/fare-settle.journal") && readFile(inScene(s, "AccountTrigger.txt")) != "1" &&
               readFile(s.out).find(idleText) != std::string::npos;
    }, 40);
    stopIn(p);
    Money ledgers = ledgerMoney(s);
    Money left = moneyLeft(s);
    if (!calm) return "never came to rest";
    if (!ledgers.fault.empty()) return ledgers.fault;
    if (ledgers.lines != c.requests)
        return std::to_string(ledgers.lines) + " ledger lines for " + std::to_string(c.requests) + " requests";
    if (ledgers.total + left.total != c.appended.total || ledgers.bus + left.bus != c.appended.bus ||
        ledgers.metro + left.metro != c.appended.metro)
        return "ledgers " + std::to_string(ledgers.total) + " plus left " + std::to_string(left.total) + " where " +
               std::to_string(c.appended.total) + " was appended";
    return "";
}

}  // namespace

TEST(PowerCut, EveryStateACutCanLeaveSettlesEachAmountOnce) {
    std::string parent = std::filesystem::temp_directory_path().string() + "/fare-powercut-" + std::to_string(::getpid());
    Scene scene = makeScene(parent, "record");
    const Batches batches = {
        {peerWrite("X/Time.txt", "20261210\n"), peerWrite("X/AccountTrigger.txt", "0"),
         peerAppend(recordsOf("q", 60, 1)), peerWrite("X/AccountTrigger.txt", "1", true)},
        {peerAppend(recordsOf("b", 300 * 1024, 2)), peerWrite("X/AccountSuccess.txt", "0"),
         peerWrite("X/AccountTrigger.txt", "1", true)},
        {peerAppend(recordsOf("n", 200, 3)), peerWrite("X/AccountSuccess.txt", "0"),
         peerWrite("X/AccountTrigger.txt", "1", true)},
    };
    std::vector<Event> timeline = recordedTimeline(scene, batches, peerAppend(recordsOf("late", 2000, 4)), parent + "/trace");
    ASSERT_FALSE(timeline.empty());
    std::size_t distinct = 0;
    std::vector<Case> chosen = casesOf(timeline, distinct);

    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&, w] {
            Scene s = makeScene(parent, "w" + std::to_string(w));
            for (std::size_t i; (i = next++) < chosen.size();) {
                std::string fault = faultOf(chosen[i], s);
                std::lock_guard<std::mutex> guard(lock);
                EXPECT_EQ(fault, "") << "state after " << describe(timeline[chosen[i].point]) << ", event "
                                     << chosen[i].point << " of " << timeline.size() << ":\n" << describe(chosen[i].files);
            }
        });
    }
    for (std::thread& t : workers) t.join();
    std::printf("power cut: %zu events, %zu distinct states, %zu started\n", timeline.size(), distinct, chosen.size());
    std::filesystem::remove_all(parent);
}
