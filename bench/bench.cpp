// fare-bench: how fast a settlement reads a city's day of fares, against
// the fastest possible read of the same file, and what an idle cycle and
// a whole settlement cost in the real program.
//
//   fare-bench [RECORDS ...] [--runs N]      (default 1000000 10000000, 7 runs)
//   fare-bench --busy [RECORDS] [--runs N]   (default 10000000, 3 runs)
//
// --busy times whole settlements of the real program, from the request to
// the success flag, alternately quiet and with two appenders tapping one
// record at a time without pause, and reports what the removal of the
// settled records wrote and left behind.
#include "Cycle.h"
#include "exchange/accumulated.h"
#include "launch.h"
#include "exchange/exchange.h"
#include "exchange/request.h"
#include "peer/peer.h"
#include "text/text.h"

#include <atomic>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

struct Spread {
    double median, low, high;
};

Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The settlement's own work on the file, as the cycle's input step does
// it: open, read block by block, total, apportion each block.
double settlementWork(std::int64_t& count, std::int64_t& total) {
    auto start = Clock::now();
    std::int64_t bus = 0, metro = 0;
    AccumulatedSnapshot snapshot{};
    total = 0;
    dataCount(snapshot);
    readAndDivide(snapshot, total, bus, metro);
    count = snapshot.recordCount;
    return seconds(start);
}

// The fastest read of the file there is: read(2) into a 256 KiB buffer.
double bareRead(const char* path) {
    auto start = Clock::now();
    std::vector<char> buffer(256 << 10);
    int fd = ::open(path, O_RDONLY);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
    return seconds(start);
}

// The file work of one idle cycle, without the screen clearing.
double idleCycle(int cycles) {
    auto start = Clock::now();
    std::int64_t trigger = 0;
    char date[9] = {};
    for (int i = 0; i < cycles; ++i) {
        std::int64_t total = 0, bus = 0, metro = 0;
        AccumulatedSnapshot snapshot{};
        dataCount(snapshot);
        ReceivingSet(trigger, date, snapshot, total, bus, metro);
    }
    return seconds(start) / cycles;
}

pid_t startSettle(const std::string& work, const std::string& out) { return launchSettle(work, out, "/dev/null"); }

long stopSettle(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;  // KiB
}

std::size_t count(const std::string& haystack, std::string_view needle) {
    std::size_t n = 0;
    for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

double idleCyclesPerSecond(const std::string& work, const std::string& out) {
    pid_t pid = startSettle(work, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::size_t before = count(read(out), idleText);
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::size_t after = count(read(out), idleText);
    double elapsed = seconds(start);
    stopSettle(pid);
    return static_cast<double>(after - before) / elapsed;
}

void bench(long long records, int runs, const fs::path& root) {
    fs::path dir = root / ("x" + std::to_string(records));
    fs::path work = dir / "run" / "settle";
    fs::create_directories(work);
    std::string peer = std::string(FARE_PEER) + " --exchange " + dir.string();
    auto generating = Clock::now();
    if (std::system((peer + " init " + dir.string() + " >/dev/null && " + peer + " generate " +
                     std::to_string(records) + " --seed 1 >/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "fare-bench: fare-peer generate failed\n");
        std::exit(1);
    }
    std::string file = (dir / "Accumulated.txt").string();
    // Written back now, not while it is timed: the kernel's writeback of
    // hundreds of MB would otherwise run beside the first runs.
    int fd = ::open(file.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    double bytes = static_cast<double>(fs::file_size(file));
    std::printf("\n%lld records, %.1f MB (%.1f bytes a record), generated in %.2f s\n", records, bytes / 1e6,
                bytes / static_cast<double>(records), seconds(generating));

    fs::current_path(work);
    std::vector<double> settle, bare;
    std::int64_t counted = 0, total = 0;
    settlementWork(counted, total);  // warm the page cache
    for (int i = 0; i < runs; ++i) {
        settle.push_back(settlementWork(counted, total));
        bare.push_back(bareRead("../../Accumulated.txt"));
    }
    Spread s = spread(settle), b = spread(bare);
    std::printf("  settlement work  median %.3f s  (min %.3f, max %.3f)  %6.0f MB/s  %lld records counted\n",
                s.median, s.low, s.high, bytes / s.median / 1e6, static_cast<long long>(counted));
    std::printf("  bare read        median %.3f s  (min %.3f, max %.3f)  %6.0f MB/s\n", b.median, b.low, b.high,
                bytes / b.median / 1e6);
    std::printf("  ratio            %.1f x the bare read (target: at most 12)\n", s.median / b.median);

    fs::path empty = root / "empty";
    fs::create_directories(empty / "run" / "settle");
    write((empty / "Accumulated.txt").string(), "");
    write((empty / "Time.txt").string(), "20261209");
    write((empty / "AccountTrigger.txt").string(), "0");
    std::vector<double> full, none;
    for (int i = 0; i < runs; ++i) {
        fs::current_path(work);
        full.push_back(idleCycle(2000));
        fs::current_path(empty / "run" / "settle");
        none.push_back(idleCycle(2000));
    }
    double idleFull = spread(full).median;
    double idleEmpty = spread(none).median;
    std::printf("  idle cycle file work  %.1f us with this file, %.1f us with an empty one (%.2f x)\n",
                idleFull * 1e6, idleEmpty * 1e6, idleFull / idleEmpty);

    std::string out = (root / "out").string();
    double fullRate = idleCyclesPerSecond(work.string(), out);
    double emptyRate = idleCyclesPerSecond((empty / "run" / "settle").string(), out);
    std::printf("  real idle cycles      %.0f a second with this file, %.0f with an empty one (%.2f x)\n",
                fullRate, emptyRate, emptyRate / fullRate);

    // One whole settlement of the real program: from the request to the
    // report on its standard output, and its peak memory.
    pid_t pid = startSettle(work.string(), out);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto requested = Clock::now();
    write((dir / "AccountTrigger.txt").string(), "1");
    while (read(out).find(settledText) == std::string::npos) std::this_thread::sleep_for(std::chrono::microseconds(200));
    double latency = seconds(requested);
    while (read((dir / "AccountSuccess.txt").string()) != "1") std::this_thread::sleep_for(std::chrono::milliseconds(5));
    long peakKiB = stopSettle(pid);
    double limitKiB = (48.0 * static_cast<double>(records) + 16.0 * 1024 * 1024) / 1024;
    std::printf("  request to report     %.3f s (one idle cycle plus the settlement work)\n", latency);
    std::printf("  peak memory           %.1f MiB (limit 48 bytes a record + 16 MiB = %.1f MiB)\n", peakKiB / 1024.0,
                limitKiB / 1024);
    std::printf("  ledger                %s", read((dir / "Account.txt").string()).c_str());
}

// Bytes the process has written so far, by any write call.
long long bytesWritten(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value = 0;
    while (in >> key >> value)
        if (key == "wchar:") return value;
    return -1;
}

// The blanks in front of the first record left in the file.
long long deadPrefix(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    long long n = 0;
    for (int c; (c = in.get()) != EOF && (c == ' ' || (c >= '\t' && c <= '\r'));) ++n;
    return n;
}

struct Settled {
    double seconds;
    long long written;
    long long dead;
    long long taps;
    bool whole;  // every tapped record is still in the file, whole
};

// One settlement of `pristine`'s records by the real program, with
// `appenders` peers tapping meanwhile.
Settled settleOnce(const fs::path& dir, const std::string& pristine, long long pristineTotal, int appenders,
                   const std::string& out) {
    std::string file = (dir / "Accumulated.txt").string();
    fs::copy_file(pristine, file, fs::copy_options::overwrite_existing);
    int fd = ::open(file.c_str(), O_RDONLY);
    ::fsync(fd);
    ::close(fd);
    write((dir / "AccountTrigger.txt").string(), "0");
    write((dir / "AccountSuccess.txt").string(), "0");
    pid_t pid = startSettle((dir / "run" / "settle").string(), out);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::atomic<bool> stop{false};
    std::atomic<long long> taps{0};
    std::vector<std::thread> peers;
    for (int a = 0; a < appenders; ++a) {
        peers.emplace_back([&, a] {
            for (long long i = 0; !stop; ++i) {
                std::string record = "tap" + std::to_string(a) + "-" + std::to_string(i) + " BUS 0001 1650 CARD001\n";
                if (appendRecords(file, record.data(), record.size())) ++taps;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    long long before = bytesWritten(pid);
    auto requested = Clock::now();
    write((dir / "AccountTrigger.txt").string(), "1");
    while (read((dir / "AccountSuccess.txt").string()) != "1") std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Settled settled{seconds(requested), bytesWritten(pid) - before, 0, 0, false};
    stop = true;
    for (std::thread& t : peers) t.join();
    stopSettle(pid);
    settled.dead = deadPrefix(file);
    settled.taps = taps;
    std::ifstream in(file, std::ios::binary);
    std::string id, mode, code, card;
    long long amount = 0, left = 0;
    bool tapsOnly = true;
    while (in >> id >> mode >> code >> amount >> card) {
        ++left;
        tapsOnly = tapsOnly && id.rfind("tap", 0) == 0 && mode == "BUS" && amount == 1650 && card == "CARD001";
    }
    // The taps made before the settlement's last read were settled with
    // the rest; every other one must still be in the file, whole.
    std::string ledger = read((dir / "Account.txt").string());
    std::size_t lineStart = ledger.rfind('\n', ledger.size() - 2);
    std::string last = ledger.substr(lineStart == std::string::npos ? 0 : lineStart + 1);
    long long total = std::atoll(last.c_str() + last.rfind('\t') + 1);
    long long settledTaps = (total - pristineTotal) / 1650;
    settled.whole = tapsOnly && (total - pristineTotal) % 1650 == 0 && settledTaps + left == settled.taps;
    return settled;
}

void benchBusy(long long records, int runs, const fs::path& root) {
    fs::path dir = root / "busy";
    fs::create_directories(dir / "run" / "settle");
    std::string peer = std::string(FARE_PEER) + " --exchange " + dir.string();
    std::string sums = (root / "sums").string();
    if (std::system((peer + " init " + dir.string() + " >/dev/null && " + peer + " generate " +
                     std::to_string(records) + " --seed 1 --print-sums >" + sums).c_str()) != 0) {
        std::fprintf(stderr, "fare-bench: fare-peer generate failed\n");
        std::exit(1);
    }
    std::string printed = read(sums);
    long long pristineTotal = std::atoll(printed.c_str() + printed.find("total ") + 6);
    std::string pristine = (root / "pristine.txt").string();
    fs::rename(dir / "Accumulated.txt", pristine);
    struct stat st {};
    ::stat(pristine.c_str(), &st);
    std::printf("\n%lld records, %.1f MB; settled by the real program, request to success flag; the\n"
                "report's 3 s pause is part of every figure. File system block: %ld bytes.\n",
                records, static_cast<double>(st.st_size) / 1e6, static_cast<long>(st.st_blksize));
    std::string out = (root / "out").string();
    std::vector<double> quiet, busy;
    for (int i = 0; i < runs; ++i) {
        for (int appenders : {0, 2}) {
            Settled s = settleOnce(dir, pristine, pristineTotal, appenders, out);
            (appenders == 0 ? quiet : busy).push_back(s.seconds);
            std::printf("  %-5s  %.3f s  wrote %9lld bytes  dead prefix %5lld bytes  %7lld taps appended, %s\n",
                        appenders == 0 ? "quiet" : "busy", s.seconds, s.written, s.dead, s.taps,
                        s.whole ? "all kept whole" : "SOME LOST OR TORN");
        }
    }
    double q = spread(quiet).median, b = spread(busy).median;
    std::printf("  median quiet %.3f s, busy %.3f s: %.2f x (goal: at most 1.5 x)\n", q, b, b / q);
    std::printf("  less the pause        %.3f s, busy %.3f s: %.2f x\n", q - 3, b - 3, (b - 3) / (q - 3));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long long> sizes;
    int runs = 0;
    bool busy = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--busy") == 0)
            busy = true;
        else
            sizes.push_back(std::atoll(argv[i]));
    }
    if (sizes.empty()) sizes = busy ? std::vector<long long>{10'000'000} : std::vector<long long>{1'000'000, 10'000'000};
    if (runs < 1) runs = busy ? 3 : 7;
    std::string pattern = (fs::temp_directory_path() / "fare-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    fs::path root = pattern;
    std::printf("fare-bench: %d runs each, alternating; files in %s\n", runs, root.c_str());
    for (long long n : sizes) {
        if (busy)
            benchBusy(n, runs, root);
        else
            bench(n, runs, root);
    }
    fs::current_path("/");
    fs::remove_all(root);
    return 0;
}
