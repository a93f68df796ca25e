// The removal on real ext4 and xfs, not a model of them: a settlement's
// block writes and flushes are logged on their way to the disk image, and
// every state a power cut could leave is rebuilt from the log, block by
// block (the image at each flush, and with random subsets of the writes
// since the flush before), mounted, which replays the file system's own
// journal, and handed to the program, which must then, after one more
// request, hold every amount once: a prefix of what the peers appended,
// at least all they had seen on disk, in whole ledgers that agree.
//
// The record file is spread over hundreds of extents and the file
// system's commits are forced throughout, so that a collapse is split over
// transactions as a busy server's peers would split it.
#include "launch.h"
#include "program.h"
#include "scene.h"
#include "text/text.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// Why this machine cannot run the test, or empty.
std::string missingTools(const std::string& fsType) {
    if (::geteuid() != 0) return "not root";
    if (!fs::exists("/dev/fuse")) return "no /dev/fuse";
    if (std::string(FARE_BLOCKLOG).empty()) return "built without libfuse3";
    for (const std::string& tool : {"mkfs." + fsType, std::string("losetup"), std::string("fusermount3")})
        if (!run("command -v " + tool)) return "no " + tool;
    std::string probe = fs::temp_directory_path().string() + "/fare-disk-probe";
    run("truncate -s 1M " + probe);
    std::string dev = trimmed(commandOutput("losetup -f --show " + probe + " 2>/dev/null"));
    run("losetup -d " + dev);
    fs::remove(probe);
    return dev.empty() ? "no loop devices" : "";
}

// The test is skipped where the machine lacks what it needs, but never
// where it is required (CI sets FARE_DISK_REQUIRED).
#define REQUIRE_DISK_TOOLS(fsType)                                              \
    do {                                                                        \
        std::string why = missingTools(fsType);                                 \
        if (!why.empty() && std::getenv("FARE_DISK_REQUIRED") != nullptr)       \
            FAIL() << "real file systems cannot be tried here: " << why;        \
        if (!why.empty()) GTEST_SKIP() << "real file systems: " << why;         \
    } while (false)

std::string makeImage(const std::string& path, const std::string& fsType) {
    run("truncate -s " + std::string(fsType == "xfs" ? "300M" : "64M") + " " + path);
    run(fsType == "xfs" ? "mkfs.xfs -q -f " + path : "mkfs.ext4 -q -F " + path);
    return path;
}

// Attached and mounted, the device's name; empty on failure, with what
// losetup or mount said in `why`. The type is named, never probed: loop
// devices pass between the ext4 and the xfs proofs running at once, and a
// probe's cache can still hold the other file system for a device. Every
// test process takes devices from one pool, so a device can be taken
// between losetup finding it free and attaching it: a few tries.
// States of one xfs image share its UUID, which xfs refuses twice unless
// told to ignore it.
std::string mountImage(const std::string& image, const std::string& at, const std::string& fsType,
                       std::string* why = nullptr) {
    fs::create_directories(at);
    std::string said;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200 * attempt));
        std::string dev = trimmed(commandOutput("losetup -f --show " + image + " 2>&1"));
        if (dev.rfind("/dev/", 0) != 0) {
            said = "losetup: " + dev;
            continue;
        }
        said = trimmed(commandOutput("mount -t " + fsType + (fsType == "xfs" ? " -o nouuid " : " ") + dev + " " +
                                     at + " 2>&1 && echo mounted"));
        if (said.size() >= 7 && said.compare(said.size() - 7, 7, "mounted") == 0) return dev;
        run("losetup -d " + dev);
    }
    if (why != nullptr) *why = said;
    return "";
}

// A mount that stays busy (a process that did not end still in it) is
// detached lazily, so that the scratch directory can still be removed. The
// loop device is let go too, unless `dev` is empty.
void unmountImage(const std::string& dev, const std::string& at) {
    bool gone = false;
    for (int i = 0; i < 50 && !(gone = run("umount " + at)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!gone) run("umount -l " + at);
    if (!dev.empty()) run("losetup -d " + dev);
}

void syncedWrite(const std::string& path, const std::string& data, bool append) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::fsync(fd);
    ::close(fd);
}

// The peers' records, each amount positive, so that every prefix of them
// has a total of its own.
struct Appended {
    std::vector<Money> prefix{Money{}};  // money of the first i records
    std::string record(std::size_t i) {
        static const char* modes[] = {"BUS", "METRO"};
        static const long long amounts[] = {1650, 300, 1250, 600, 500, 200, 1750, 1050};
        const char* mode = modes[i % 2];
        long long amount = amounts[(i * 3) % 8];
        Money m = fare(mode, amount), sum = prefix.back();
        sum.total += m.total;
        sum.bus += m.bus;
        sum.metro += m.metro;
        prefix.push_back(sum);
        return "r" + std::to_string(i) + " " + mode + " t " + std::to_string(amount) + " c\n";
    }
    std::string next(std::size_t count) {
        std::string out;
        for (std::size_t k = 0; k < count; ++k) out += record(prefix.size() - 1);
        return out;
    }
};

struct Entry {
    char kind;
    std::uint64_t offset;
    std::string data;
};

std::vector<Entry> readLog(const std::string& path) {
    std::vector<Entry> entries;
    std::string log = readFile(path);
    for (std::size_t at = 0; at + 13 <= log.size();) {
        Entry e{log[at], 0, ""};
        std::uint32_t length = 0;
        std::memcpy(&e.offset, log.data() + at + 1, 8);
        std::memcpy(&length, log.data() + at + 9, 4);
        e.data = log.substr(at + 13, length);
        at += 13 + length;
        entries.push_back(std::move(e));
    }
    return entries;
}

struct State {
    std::size_t upto;                 // every write before this entry
    std::vector<std::size_t> extra;  // and these writes after it
    std::size_t durable;             // records the peers had seen on disk
};

struct Outcome {
    std::size_t tried = 0;
    std::vector<std::string> faults;
};

// Rebuilds one state, starts the program on it, asks once more, and says
// what is wrong with the money, if anything.
std::string tryState(const std::string& fsType, const std::string& base, const std::vector<Entry>& log, const State& state,
                     const Appended& appended, const std::string& scratch) {
    std::string image = scratch + ".img", at = scratch + ".mnt";
    run("cp --sparse=always " + base + " " + image);
    int fd = ::open(image.c_str(), O_WRONLY);
    auto apply = [&](const Entry& e) {
        if (e.kind == 'W') ::pwrite(fd, e.data.data(), e.data.size(), static_cast<off_t>(e.offset));
    };
    for (std::size_t i = 0; i < state.upto; ++i) apply(log[i]);
    for (std::size_t i : state.extra) apply(log[i]);
    ::close(fd);
    std::string why, dev = mountImage(image, at, fsType, &why);
    if (dev.empty()) return "the file system does not mount: " + why;
    Scene scene{at + "/exchange", at + "/exchange/run/settle", scratch + ".out"};
    std::string fault;
    pid_t pid = startIn(scene);
    auto calm = [&] {
        return !fileExists(scene.work + "/fare-settle.journal") &&
               readFile(inScene(scene, "AccountTrigger.txt")) != "1" &&
               readFile(scene.out).find(idleText) != std::string::npos;
    };
    if (!waitUntil(calm, 60)) {
        // What it was stuck on: its last screen and the journal's phase.
        std::string out = readFile(scene.out), journal = readFile(scene.work + "/fare-settle.journal");
        fault = "never came to rest; last output " + hex(out.substr(out.size() > 48 ? out.size() - 48 : 0)) +
                "; journal " + journal.substr(0, journal.find('\n', 22)) + "; trigger " +
                readFile(inScene(scene, "AccountTrigger.txt"));
    }
    if (fault.empty()) {
        requestIn(scene);
        if (!waitUntil([&] { return handedBack(scene); }, 40)) fault = "one more request was not settled";
    }
    stopIn(pid);
    if (fault.empty()) {
        Money ledgers = ledgerMoney(scene), left = moneyLeft(scene);
        long long total = ledgers.total + left.total;
        std::size_t i = state.durable;
        while (i < appended.prefix.size() && appended.prefix[i].total < total) ++i;
        if (!ledgers.fault.empty()) {
            fault = ledgers.fault;
        } else if (i == appended.prefix.size() || appended.prefix[i].total != total ||
                   appended.prefix[i].bus != ledgers.bus + left.bus ||
                   appended.prefix[i].metro != ledgers.metro + left.metro) {
            fault = "ledgers " + std::to_string(ledgers.total) + " plus left " + std::to_string(left.total) +
                    " (bus " + std::to_string(ledgers.bus + left.bus) + ") is no run of the appended records from " +
                    std::to_string(appended.prefix[state.durable].total) + " to " +
                    std::to_string(appended.prefix.back().total);
        }
    }
    unmountImage(dev, at);
    fs::remove(image);
    return fault;
}

// At most this many states per file system, spread over the whole log.
constexpr std::size_t flushStates = 56, subsetStates = 16;

void everyCrashState(const std::string& fsType) {
    std::string w = fs::temp_directory_path().string() + "/fare-disk-" + fsType + "-" + std::to_string(::getpid());
    fs::remove_all(w);
    fs::create_directories(w);
    std::string image = makeImage(w + "/disk.img", fsType), base = w + "/base.img", mnt = w + "/mnt";
    Appended appended;

    // Unlogged: an exchange directory with no ledgers and a record file
    // spread over hundreds of extents: the free space is first cut into
    // one-block gaps (filled with one-block files, every other one then
    // removed), and the records written into them a block at a time.
    std::string dev = mountImage(image, mnt, fsType);
    ASSERT_FALSE(dev.empty());
    std::string root = mnt + "/exchange";
    fs::create_directories(root + "/run/settle");
    writeFile(root + "/Time.txt", "20261210\n");
    writeFile(root + "/AccountTrigger.txt", "0");
    fs::create_directories(mnt + "/fill");
    const std::string block(4096, 'x');
    int files = 0;
    for (;; ++files) {
        int fd = ::open((mnt + "/fill/" + std::to_string(files)).c_str(), O_WRONLY | O_CREAT, 0644);
        bool full = fd < 0 || ::write(fd, block.data(), block.size()) != 4096 || ::fsync(fd) != 0;
        if (fd >= 0) ::close(fd);
        if (full) break;
    }
    for (int i = 0; i <= files; i += 2) fs::remove(mnt + "/fill/" + std::to_string(i));
    ::sync();
    {
        int records = ::open((root + "/Accumulated.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        std::string pending;
        for (int b = 0; b < 700; ++b) {
            while (pending.size() < 4096) pending += appended.next(1);
            ASSERT_EQ(::write(records, pending.data(), 4096), 4096);
            pending.erase(0, 4096);
            ::fsync(records);
        }
        // The last record whole; the ones not written are not appended.
        std::size_t end = pending.find('\n');
        ASSERT_EQ(::write(records, pending.data(), end + 1), static_cast<ssize_t>(end + 1));
        ::fsync(records);
        ::close(records);
        appended.prefix.resize(appended.prefix.size() -
                               static_cast<std::size_t>(std::count(pending.begin() + static_cast<long>(end) + 1,
                                                                   pending.end(), '\n')));
    }
    // Room again for the ledgers, the journal and the records to come.
    for (int i = 1; i < files; i += 2)
        if (i % 8 != 1) fs::remove(mnt + "/fill/" + std::to_string(i));
    std::string extents = commandOutput("filefrag " + root + "/Accumulated.txt");
    std::printf("%s: %s", fsType.c_str(), extents.c_str());
    unmountImage(dev, mnt);
    run("cp --sparse=always " + image + " " + base);

    // Logged: the settlements, with commits forced all along.
    std::string fmnt = w + "/fuse", log = w + "/blocks.log";
    fs::create_directories(fmnt);
    pid_t server = ::fork();
    if (server == 0) {
        ::execl(FARE_BLOCKLOG, FARE_BLOCKLOG, image.c_str(), log.c_str(), fmnt.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(waitUntil([&] { return fileExists(fmnt + "/disk.img"); }, 10));
    dev = mountImage(fmnt + "/disk.img", mnt, fsType);
    ASSERT_FALSE(dev.empty());
    std::atomic<bool> forcing{true};
    std::thread forcer([&] {
        int fd = ::open(mnt.c_str(), O_RDONLY | O_DIRECTORY);
        while (forcing) ::syncfs(fd);
        ::close(fd);
    });
    // What the peers know is on disk, as a mark in the log.
    auto mark = [&] { syncedWrite(fmnt + "/mark", std::to_string(appended.prefix.size() - 1), false); };
    Scene scene{root, root + "/run/settle", w + "/settle.out"};
    pid_t settle = startIn(scene);
    mark();
    // Busy, and the first: it creates the ledgers; records come in while
    // the report is on the screen.
    syncedWrite(root + "/AccountTrigger.txt", "1", false);
    ASSERT_TRUE(waitUntil([&] { return readFile(scene.out).find(settledText) != std::string::npos; }, 30));
    for (int i = 0; i < 8; ++i) {
        syncedWrite(root + "/Accumulated.txt", appended.next(3), true);
        mark();
    }
    ASSERT_TRUE(waitUntil([&] { return handedBack(scene); }, 60));
    // Quiet: nothing comes in while it runs.
    syncedWrite(root + "/Accumulated.txt", appended.next(20), true);
    mark();
    syncedWrite(root + "/AccountSuccess.txt", "0", false);
    syncedWrite(root + "/AccountTrigger.txt", "1", false);
    ASSERT_TRUE(waitUntil([&] { return handedBack(scene); }, 60));
    stopIn(settle);
    forcing = false;
    forcer.join();
    std::printf("%s after: %s", fsType.c_str(), commandOutput("filefrag " + root + "/Accumulated.txt").c_str());
    unmountImage(dev, mnt);
    run("fusermount3 -u " + fmnt);
    int status = 0;
    ::waitpid(server, &status, 0);

    // The states: at every flush that follows a write, and random subsets
    // of the writes between two flushes.
    std::vector<Entry> entries = readLog(log);
    std::vector<State> flushes, subsets;
    std::size_t durable = 0, last = 0;
    std::mt19937 random(7);
    for (std::size_t i = 0; i <= entries.size(); ++i) {
        bool end = i == entries.size();
        if (!end && entries[i].kind == 'M') durable = std::stoul(entries[i].data);
        if (!end && entries[i].kind != 'F') continue;
        if (i > 0 && entries[i - 1].kind == 'W') flushes.push_back({i, {}, durable});
        std::vector<std::size_t> window;
        for (std::size_t k = last; k < i; ++k)
            if (entries[k].kind == 'W') window.push_back(k);
        if (window.size() > 1) {
            State s{last, {}, durable};
            for (std::size_t k : window)
                if (random() % 2 == 0) s.extra.push_back(k);
            subsets.push_back(s);
        }
        last = i + 1;
    }
    std::vector<State> chosen;
    for (const auto* from : {&flushes, &subsets}) {
        std::size_t limit = from == &flushes ? flushStates : subsetStates;
        for (std::size_t k = 0; k < std::min(limit, from->size()); ++k)
            chosen.push_back((*from)[k * from->size() / std::min(limit, from->size())]);
    }
    // The last state of all, whole.
    chosen.push_back({entries.size(), {}, durable});

    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::size_t wrong = 0;
    std::vector<std::thread> workers;
    for (int k = 0; k < 4; ++k) {
        workers.emplace_back([&, k] {
            for (std::size_t i; (i = next++) < chosen.size();) {
                std::string fault = tryState(fsType, base, entries, chosen[i], appended, w + "/s" + std::to_string(k));
                std::lock_guard<std::mutex> guard(lock);
                if (!fault.empty()) ++wrong;
                EXPECT_EQ(fault, "") << fsType << " state at log entry " << chosen[i].upto << " of "
                                     << entries.size() << " with " << chosen[i].extra.size() << " later writes";
            }
        });
    }
    for (std::thread& t : workers) t.join();
    std::printf("%s: %zu writes and flushes logged, %zu flush points and %zu windows; %zu states tried, %zu wrong\n",
                fsType.c_str(), entries.size(), flushes.size(), subsets.size(), chosen.size(), wrong);
    fs::remove_all(w);
}

}  // namespace

TEST(RealDisk, EveryCrashStateOfExt4SettlesEachAmountOnce) {
    REQUIRE_DISK_TOOLS("ext4");
    everyCrashState("ext4");
}

TEST(RealDisk, EveryCrashStateOfXfsSettlesEachAmountOnce) {
    REQUIRE_DISK_TOOLS("xfs");
    everyCrashState("xfs");
}

TEST(RealDisk, ASettlementKilledThenRemountedThroughAnotherDeviceIsFinishedOnce) {
    // The device number changes with the loop device, as a reboot can
    // change it for LVM, NFS or btrfs; nothing that must match after the
    // restart may depend on it.
    REQUIRE_DISK_TOOLS("ext4");
    std::string w = fs::temp_directory_path().string() + "/fare-remount-" + std::to_string(::getpid());
    fs::remove_all(w);
    fs::create_directories(w);
    std::string image = makeImage(w + "/disk.img", "ext4"), mnt = w + "/mnt";
    std::string dev = mountImage(image, mnt, "ext4");
    ASSERT_FALSE(dev.empty());
    Scene scene = makeScene(mnt, "s");
    scene.out = w + "/out";
    const std::string records = "c1 BUS t 1650 k\nc2 METRO t 300 k\n";
    writeFile(inScene(scene, "Time.txt"), "20261209");
    writeFile(inScene(scene, "Accumulated.txt"), records);
    writeFile(inScene(scene, "AccountTrigger.txt"), "1");
    // Killed at the third rename of its journal: "recorded" is on disk,
    // the removal not begun.
    pid_t killed = startIn(scene, {"strace", "-qq", "-o", "/dev/null", "-e", "trace=rename", "-e",
                                   "inject=rename:signal=SIGKILL:when=3"});
    ASSERT_TRUE(endsWithin(killed, 30));
    struct stat before {};
    ASSERT_EQ(::stat(inScene(scene, "Accumulated.txt").c_str(), &before), 0);
    // Unmounted, but its loop device kept attached, so that the next mount
    // cannot be given the same one, whatever other tests take and free.
    std::string first = dev;
    unmountImage("", mnt);
    dev = mountImage(image, mnt, "ext4");
    ASSERT_FALSE(dev.empty());
    struct stat after {};
    ASSERT_EQ(::stat(inScene(scene, "Accumulated.txt").c_str(), &after), 0);
    EXPECT_NE(before.st_dev, after.st_dev) << "the test needs another device number";
    EXPECT_TRUE(fileExists(scene.work + "/fare-settle.journal"));

    pid_t pid = startIn(scene);
    EXPECT_TRUE(waitUntil([&] { return handedBack(scene); }, 30));
    appendFile(inScene(scene, "Accumulated.txt"), "c3 BUS t 1250 k\n");
    requestIn(scene);
    EXPECT_TRUE(waitUntil([&] { return handedBack(scene); }, 30));
    stopIn(pid);
    EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Account.txt")),
                          "20261209\t809\t1141\t1950\n20261209\t1050\t200\t1250\n"));
    EXPECT_EQ(readFile(scene.out).find(settledChangedText), std::string::npos);
    unmountImage(dev, mnt);
    run("losetup -d " + first);
    fs::remove_all(w);
}
