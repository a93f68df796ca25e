// A settlement cut short at every mutating system call it makes, on the
// quiet path (nothing appended during it) and on the busy one (a settled
// part over 256 KiB, records appended during the report): killed there and
// started again, or failed there with EIO or ENOSPC and left to go on.
// Either way, after one more request, every amount ever appended is in the
// ledgers exactly once and the three ledgers agree line by line.
//
// strace counts each system call apart, so the points are numbered per
// call from a recorded run: the N-th write, the N-th fsync, and so on, each
// struck alone.
#include "program.h"
#include "scene.h"
#include "text/text.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string mutating = "write,pwrite64,fsync,ftruncate,fallocate,rename,unlink";
const std::string oldAccount = "20261208\t1\t2\t3\n";

struct Point {
    std::string call;
    int n;               // the n-th call of that name
    std::string target;  // what it wrote, for the failure message
};

// The money a scene's peers appended, and what is appended while the
// report is on the screen.
struct Load {
    std::string settled;
    std::string late;
    Money money;
};

Load loadFor(bool busy) {
    Load load;
    auto add = [&](std::string& to, const std::string& id, const char* mode, long long amount) {
        to += id + " " + mode + " t " + std::to_string(amount) + " k\n";
        Money m = fare(mode, amount);
        load.money.total += m.total;
        load.money.bus += m.bus;
        load.money.metro += m.metro;
    };
    if (!busy) {
        add(load.settled, "c1", "BUS", 1650);
        add(load.settled, "c2", "METRO", 300);
        return load;
    }
    for (int i = 0; load.settled.size() < 300 * 1024; ++i)
        add(load.settled, "c" + std::to_string(i), i % 2 == 0 ? "BUS" : "METRO", i % 2 == 0 ? 1650 : 300);
    for (int i = 0; i < 40; ++i) add(load.late, "late" + std::to_string(i), "BUS", 1250);
    return load;
}

void prepare(const Scene& scene, const Load& load) {
    writeFile(inScene(scene, "Account.txt"), oldAccount);
    writeFile(inScene(scene, "BusAccount.txt"), "20261208\t1\n");
    writeFile(inScene(scene, "MetroAccount.txt"), "20261208\t2\n");
    writeFile(inScene(scene, "Time.txt"), "20261209");
    writeFile(inScene(scene, "Accumulated.txt"), load.settled);
    writeFile(inScene(scene, "AccountTrigger.txt"), "1");
}

// Runs one settlement with `inject` (none when empty), appending the late
// records once the report shows, then as many restarts and one more request
// as it takes; returns what is wrong, or nothing.
std::string settleThrough(const Scene& scene, const Load& load, const std::string& inject, bool kill,
                          const std::string& log = "/dev/null") {
    prepare(scene, load);
    std::vector<std::string> prefix = {"strace", "-qq", "-y", "-o", log, "-e", "trace=" + mutating};
    if (!inject.empty()) prefix.insert(prefix.end(), {"-e", "inject=" + inject});
    pid_t pid = startIn(scene, prefix);
    if (!load.late.empty()) {
        waitUntil([&] { return readFile(scene.out).find(settledText) != std::string::npos; }, 20);
        appendFile(inScene(scene, "Accumulated.txt"), load.late);
    }
    if (kill) {
        if (!endsWithin(pid, 20)) return "the kill never came";
        pid = startIn(scene);
    }
    if (!waitUntil([&] { return handedBack(scene); }, 40)) {
        stopIn(pid);
        return "the first request was never handed back";
    }
    requestIn(scene);
    bool answered = waitUntil([&] { return handedBack(scene); }, 40);
    stopIn(pid);
    std::string out = readFile(scene.out);
    if (!answered) return "the second request was never handed back";

    Money ledgers = ledgerMoney(scene);
    Money left = moneyLeft(scene);
    Money expected = load.money;
    expected.total += 3;  // the old line
    expected.bus += 1;
    expected.metro += 2;
    if (!ledgers.fault.empty()) return ledgers.fault;
    if (ledgers.lines != 3) return std::to_string(ledgers.lines) + " ledger lines, where 3 are due";
    if (ledgers.total + left.total != expected.total || ledgers.bus + left.bus != expected.bus ||
        ledgers.metro + left.metro != expected.metro)
        return "ledgers " + std::to_string(ledgers.total) + "/" + std::to_string(ledgers.bus) + "/" +
               std::to_string(ledgers.metro) + " plus left " + std::to_string(left.total) + " are not " +
               std::to_string(expected.total) + "/" + std::to_string(expected.bus) + "/" +
               std::to_string(expected.metro);
    if (left.lines != 0) return std::to_string(left.lines) + " records left after the last request";
    if (!kill && !inject.empty() && out.find(openFailed) == std::string::npos &&
        out.find(settledChangedText) == std::string::npos)
        return "no failure line on the screen";
    return "";
}

// The mutating calls of one settlement on files of the scene, numbered per
// call as strace counts them, from a run with no fault.
std::vector<Point> pointsOf(const Scene& scene, const Load& load) {
    std::string log = scene.root + "/../trace";
    EXPECT_EQ(settleThrough(scene, load, "", false, log), "");
    std::ifstream in(log);
    std::string line;
    std::map<std::string, int> seen;
    std::vector<Point> points;
    bool last = false;
    while (std::getline(in, line)) {
        std::size_t paren = line.find('(');
        if (paren == std::string::npos || line.compare(0, 3, "---") == 0) continue;
        std::string call = line.substr(0, paren);
        int n = ++seen[call];
        // Files of the scene only: the console's writes are no step.
        std::size_t at = line.find(scene.root);
        bool journal = line.find("fare-settle.journal") != std::string::npos;
        if (at != std::string::npos || call == "rename" || (call == "unlink" && journal))
            points.push_back({call, n, line.substr(0, 120)});
        if (last && call == "fsync") break;
        if (call == "unlink" && line.find("\"fare-settle.journal\"") != std::string::npos) last = true;
    }
    return points;
}

void strikeEveryPoint(const std::string& how, bool kill) {
    std::string parent = std::filesystem::temp_directory_path().string() + "/fare-crash-" + how + "-" +
                         std::to_string(::getpid());
    int tried = 0;
    std::string perPath;
    for (bool busy : {false, true}) {
        Load load = loadFor(busy);
        std::vector<Point> points = pointsOf(makeScene(parent, "record"), load);
        std::map<std::string, int> byCall;
        for (const Point& p : points) ++byCall[p.call];
        perPath += std::string(busy ? "; busy " : "quiet ") + std::to_string(points.size()) + " (";
        for (const auto& [call, n] : byCall) perPath += call + " " + std::to_string(n) + (call == byCall.rbegin()->first ? ")" : ", ");
        EXPECT_GE(points.size(), busy ? 25u : 22u);
        std::atomic<std::size_t> next{0};
        std::mutex lock;
        std::vector<std::thread> workers;
        for (int w = 0; w < 8; ++w) {
            workers.emplace_back([&, w] {
                Scene scene = makeScene(parent, "w" + std::to_string(w));
                for (std::size_t i; (i = next++) < points.size();) {
                    const Point& p = points[i];
                    std::string inject = p.call + ":" + how + ":when=" + std::to_string(p.n);
                    std::string fault = settleThrough(scene, load, inject, kill);
                    std::lock_guard<std::mutex> guard(lock);
                    ++tried;
                    EXPECT_EQ(fault, "") << (busy ? "busy: " : "quiet: ") << inject << " at " << p.target;
                }
            });
        }
        for (std::thread& t : workers) t.join();
    }
    std::filesystem::remove_all(parent);
    std::printf("%s: %d points struck: %s\n", how.c_str(), tried, perPath.c_str());
}

}  // namespace

TEST(Crash, AKillAtEveryStepIsUndoneOrFinishedOnRestart) { strikeEveryPoint("signal=SIGKILL", true); }

TEST(Crash, AnIOErrorAtEveryStepLosesNothingOnceItStops) { strikeEveryPoint("error=EIO", false); }

TEST(Crash, AFullDiskAtEveryStepLosesNothingOnceItStops) { strikeEveryPoint("error=ENOSPC", false); }
