// The fault matrix: the real program when an exchange file is missing or
// cannot be written, or when it is stopped in the middle of a settlement.
#include "program.h"
#include "scene.h"
#include "text/text.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <random>
#include <thread>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using Faults = ProgramTest;

const std::string records = "c1 BUS t 1650 k\nc2 METRO t 300 k\n";
const std::string accountLine = "20261209\t809\t1141\t1950\n";

void prepare(const ExchangeTest& test) {
    writeFile(test.path("Time.txt"), "20261209");
    writeFile(test.path("Accumulated.txt"), records);
    writeFile(test.path("AccountTrigger.txt"), "1");
}

void expectSettledOnce(const ExchangeTest& test) {
    EXPECT_TRUE(sameBytes(readFile(test.path("Account.txt")), accountLine));
    EXPECT_TRUE(sameBytes(readFile(test.path("BusAccount.txt")), "20261209\t809\n"));
    EXPECT_TRUE(sameBytes(readFile(test.path("MetroAccount.txt")), "20261209\t1141\n"));
    EXPECT_TRUE(sameBytes(readFile(test.path("Accumulated.txt")), ""));
    EXPECT_TRUE(sameBytes(readFile(test.path("AccountTrigger.txt")), "0"));
    EXPECT_TRUE(sameBytes(readFile(test.path("AccountSuccess.txt")), "1"));
}

}  // namespace

TEST_F(Faults, TheTimeFileMissingAloneGivesAnEmptyDate) {
    writeFile(path("Accumulated.txt"), records);
    writeFile(path("AccountTrigger.txt"), "1");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this) && countOf(outputOf(program), idleText) > 0; }));
    stopProgram(program);
    std::string out = outputOf(program);
    std::string first = line(openFailedRequest) + reportBytes(1950, 809, 1141);
    ASSERT_TRUE(sameBytes(out.substr(0, first.size()), first));
    EXPECT_TRUE(repeats(out.substr(first.size()), line(openFailedRequest) + std::string(idleText)));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "\t809\t1141\t1950\n"));
}

TEST_F(Faults, TheTriggerFileMissingAloneKeepsItIdle) {
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("Accumulated.txt"), records);
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 3; }));
    stopProgram(program);
    EXPECT_TRUE(repeats(outputOf(program), line(openFailedRequest) + std::string(idleText)));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    EXPECT_FALSE(fileExists(path("Account.txt")));
}

TEST_F(Faults, TheRecordFileMissingAloneSettlesNothingAndCreatesIt) {
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("AccountTrigger.txt"), "1");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this) && countOf(outputOf(program), idleText) > 0; }));
    stopProgram(program);
    std::string out = outputOf(program);
    std::string first = line(openFailedCount) + line(openFailedRecords) + reportBytes(0, 0, 0);
    ASSERT_TRUE(sameBytes(out.substr(0, first.size()), first));
    EXPECT_TRUE(repeats(out.substr(first.size()), idleText));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t0\t0\t0\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
}

struct Blocked {
    const char* file;
    const char* kind;  // "directory" or "fifo"
};
void PrintTo(const Blocked& blocked, std::ostream* out) { *out << blocked.file << " as a " << blocked.kind; }
class Unopenable : public ProgramTest, public ::testing::WithParamInterface<Blocked> {};

TEST_P(Unopenable, NothingIsReportedOrRecordedUntilTheFileOpensThenExactlyOnce) {
    prepare(*this);
    std::string blocked = GetParam().file;
    std::filesystem::remove(path(blocked));
    if (GetParam().kind == std::string("fifo"))
        ASSERT_EQ(::mkfifo(path(blocked).c_str(), 0644), 0);
    else
        std::filesystem::create_directory(path(blocked));
    bool recordsBlocked = blocked == "Accumulated.txt";
    // No report: the failure line and the file's name, every three seconds;
    // a record file that cannot be read also says so where it is read.
    std::string attempt = (recordsBlocked ? line(openFailedRecords) : "") + line(openFailed) +
                          std::string(unopenedFileLabel) + blocked + "\n";
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), attempt) >= 2; }));
    EXPECT_EQ(countOf(outputOf(program), settledText), 0u);
    for (const char* ledger : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"}) {
        std::string now = readFile(path(ledger));
        if (blocked != ledger) {
            EXPECT_TRUE(now == "" || now == "<missing>") << ledger << ": " << hex(now);
        }
    }
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
    EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
    if (!recordsBlocked) {
        EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    }

    std::filesystem::remove(path(blocked));
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this); }));
    stopProgram(program);
    EXPECT_EQ(countOf(outputOf(program), settledText), 1u);
    if (recordsBlocked) {
        EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t0\t0\t0\n"));
        EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
    } else {
        expectSettledOnce(*this);
    }
}

INSTANTIATE_TEST_SUITE_P(EachFile, Unopenable,
                         ::testing::Values(Blocked{"Account.txt", "directory"}, Blocked{"BusAccount.txt", "fifo"},
                                           Blocked{"MetroAccount.txt", "directory"}, Blocked{"Account.txt", "fifo"},
                                           Blocked{"Accumulated.txt", "directory"}, Blocked{"Accumulated.txt", "fifo"}),
                         [](const auto& test) {
                             std::string file = test.param.file;
                             return file.substr(0, file.find('.')) + "_" + test.param.kind;
                         });

class FullDisk : public ProgramTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FullDisk, ALedgerWriteThatFailsAfterTheReportIsRolledBackAndRetried) {
    // The room for the lines is taken before the report, but a write can
    // still fail after it: here the first two to one ledger fail with
    // ENOSPC. The lines already appended are cut back, and the third try
    // records the settlement once.
    std::string full = GetParam();
    Scene scene = makeScene(dir.root + "/../scenes", "full");
    writeFile(inScene(scene, "Time.txt"), "20261209");
    writeFile(inScene(scene, "Accumulated.txt"), records);
    writeFile(inScene(scene, "AccountTrigger.txt"), "1");
    const std::string old[3] = {"20261208\t1\t2\t3\n", "20261208\t1\n", "20261208\t2\n"};
    const char* ledgers[3] = {"Account.txt", "BusAccount.txt", "MetroAccount.txt"};
    for (int i = 0; i < 3; ++i) writeFile(inScene(scene, ledgers[i]), old[i]);
    pid_t pid = startIn(scene, {"strace", "-qq", "-o", "/dev/null", "-P", inScene(scene, full), "-e", "trace=write",
                                "-e", "inject=write:error=ENOSPC:when=1..2"});
    ASSERT_TRUE(waitUntil([&] { return handedBack(scene); }, 30));
    stopIn(pid);
    std::string attempt = reportBytes(1950, 809, 1141) + line(openFailed);
    EXPECT_EQ(countOf(readFile(scene.out), attempt), 2u) << hex(readFile(scene.out));
    EXPECT_EQ(countOf(readFile(scene.out), settledText), 3u);
    EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Account.txt")), old[0] + accountLine));
    EXPECT_TRUE(sameBytes(readFile(inScene(scene, "BusAccount.txt")), old[1] + "20261209\t809\n"));
    EXPECT_TRUE(sameBytes(readFile(inScene(scene, "MetroAccount.txt")), old[2] + "20261209\t1141\n"));
    EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Accumulated.txt")), ""));
}

INSTANTIATE_TEST_SUITE_P(EachLedger, FullDisk, ::testing::Values("Account.txt", "BusAccount.txt", "MetroAccount.txt"),
                         [](const auto& test) { return std::string(test.param).substr(0, std::string(test.param).find('.')); });

// A hand-back that cannot be written is held, with a failure line every
// three seconds, and nothing else is settled until it is written: the
// request is never settled a second time.
class Unwritable : public ProgramTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Unwritable, AHandBackThatCannotBeWrittenIsHeldUntilItCan) {
    const char* name = GetParam();
    prepare(*this);
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), settledText) == 1; }));
    // The request was read; the file turns unwritable before the hand-back.
    std::filesystem::remove(path(name));
    std::filesystem::create_directory(path(name));
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), line(openFailed)) >= 2; }));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), accountLine));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
    EXPECT_TRUE(fileExists(dir.work + "/fare-settle.journal"));

    std::filesystem::remove(path(name));
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) > 0; }));
    stopProgram(program);
    std::string out = outputOf(program);
    EXPECT_EQ(countOf(out, settledText), 1u);
    EXPECT_TRUE(sameBytes(out.substr(0, reportBytes(1950, 809, 1141).size()), reportBytes(1950, 809, 1141)));
    expectSettledOnce(*this);
    EXPECT_FALSE(fileExists(dir.work + "/fare-settle.journal"));
}

INSTANTIATE_TEST_SUITE_P(HandBack, Unwritable, ::testing::Values("AccountTrigger.txt", "AccountSuccess.txt"),
                         [](const auto& test) { return std::string(test.param).substr(7, 7); });

TEST_F(Faults, AStopAtAnyMomentOfASettlementRecordsAllOfIt) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 4; ++round) {
        int signal = round % 2 == 0 ? SIGTERM : SIGINT;
        int delayMs = static_cast<int>(random() % 3300);
        SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(delayMs) + " ms");
        for (const char* name : {"Account.txt", "BusAccount.txt", "MetroAccount.txt", "AccountSuccess.txt"})
            std::filesystem::remove(path(name));
        prepare(*this);
        Program program = startProgram(*this);
        ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), settledText) == 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(program.pid, signal);
        int status = waitExit(program, 10);
        ASSERT_NE(status, -1);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        expectSettledOnce(*this);
    }
}

TEST_F(Faults, NoJournalNoSettlementAndTheScreenSaysWhy) {
    prepare(*this);
    // A directory in the journal's way: no journal can be written, even by root.
    std::filesystem::create_directory(dir.work + "/fare-settle.journal.new");
    Program program = startProgram(*this);
    std::string why = line(openFailed) + std::string(unopenedFileLabel) + "fare-settle.journal\n";
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), why) >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string out = outputOf(program);
    EXPECT_EQ(countOf(out, settledText), 0u) << "a report for a settlement that cannot be recorded";
    EXPECT_LE(countOf(out, why), 1u) << "the failure repeats faster than the report's pause";
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));

    std::filesystem::remove(dir.work + "/fare-settle.journal.new");
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this) && countOf(outputOf(program), idleText) > 0; }));
    stopProgram(program);
    EXPECT_EQ(countOf(outputOf(program), settledText), 1u);
    expectSettledOnce(*this);
}

TEST_F(Faults, AReadErrorOnTheRecordsOrTheirFingerprintFailsTheSettlementAndItIsRetried) {
    // One EIO on the n-th pread of the record file: the records' read, the
    // fingerprint taken under the lock, the check before the removal. The
    // settlement is refused or held, never made of part of the file or
    // left as if the file had changed; the next try settles it once.
    std::string parent = dir.root + "/../scenes";
    for (int n : {1, 2, 3}) {
        SCOPED_TRACE("pread " + std::to_string(n));
        Scene scene = makeScene(parent, "p" + std::to_string(n));
        writeFile(inScene(scene, "Time.txt"), "20261209");
        writeFile(inScene(scene, "Accumulated.txt"), records);
        writeFile(inScene(scene, "AccountTrigger.txt"), "1");
        // Only the record file's calls: the loader and others pread too.
        pid_t pid = startIn(scene, {"strace", "-qq", "-o", "/dev/null", "-P", inScene(scene, "Accumulated.txt"),
                                    "-e", "trace=pread64", "-e",
                                    "inject=pread64:error=EIO:when=" + std::to_string(n)});
        ASSERT_TRUE(waitUntil([&] { return handedBack(scene); }, 30));
        stopIn(pid);
        std::string out = readFile(scene.out);
        EXPECT_NE(out.find(n < 3 ? line(openFailedRecords) : line(openFailed)), std::string::npos);
        EXPECT_EQ(out.find(settledChangedText), std::string::npos);
        EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Account.txt")), accountLine));
        EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Accumulated.txt")), ""));
    }
}

TEST_F(Faults, AJournalCopiedFromAnotherExchangeDirectoryTouchesNothing) {
    // A settlement elsewhere killed while appending its ledger lines leaves
    // a journal that would cut its ledgers back; copied with its working
    // directory next to another exchange directory, it must cut nothing
    // there, say so, and hold settling until the operator takes it away.
    std::string parent = dir.root + "/../scenes";
    Scene elsewhere = makeScene(parent, "elsewhere");
    writeFile(inScene(elsewhere, "Accumulated.txt"), records);
    writeFile(inScene(elsewhere, "AccountTrigger.txt"), "1");
    // Killed at the fsync of the first ledger: journal "appending" on disk.
    pid_t killed = startIn(elsewhere, {"strace", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                                       "inject=fsync:signal=SIGKILL:when=3"});
    ASSERT_TRUE(waitUntil([&] { return fileExists(elsewhere.work + "/fare-settle.journal"); }, 30));
    endsWithin(killed, 10);

    prepare(*this);
    const std::string earlier = "20261207\t1268\t382\t1650\n20261208\t1268\t382\t1650\n";
    writeFile(path("Account.txt"), earlier);
    std::filesystem::copy_file(elsewhere.work + "/fare-settle.journal", dir.work + "/fare-settle.journal");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), line(journalForeignText)) >= 2; }));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), earlier));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));

    std::filesystem::remove(dir.work + "/fare-settle.journal");
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this); }));
    stopProgram(program);
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), earlier + accountLine));
}

TEST_F(Faults, AFullDiskStopsTheSettlementBeforeItsReport) {
    // A small tmpfs, filled: under the exchange directory no ledger can
    // take its line, under the working directory no journal can be
    // written. Either way the screen names the file instead of a report,
    // and once there is room again the settlement is recorded once.
    if (::geteuid() != 0) {
        if (std::getenv("FARE_DISK_REQUIRED") != nullptr) FAIL() << "a full tmpfs needs root";
        GTEST_SKIP() << "a full tmpfs needs root";
    }
    for (bool underWork : {false, true}) {
        SCOPED_TRACE(underWork ? "working directory full" : "exchange directory full");
        Scene scene = makeScene(dir.root + "/../scenes", underWork ? "work" : "exchange");
        std::string mounted = underWork ? scene.work : scene.root;
        ASSERT_EQ(std::system(("mount -t tmpfs -o size=256k tmpfs " + mounted).c_str()), 0);
        std::filesystem::create_directories(scene.work);
        writeFile(inScene(scene, "Time.txt"), "20261209");
        writeFile(inScene(scene, "Accumulated.txt"), records);
        writeFile(inScene(scene, "AccountTrigger.txt"), "1");
        std::string filler = mounted + "/filler";
        {
            int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0644);
            const std::string block(4096, 'f');
            while (::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size())) {
            }
            ::close(fd);
        }
        pid_t pid = startIn(scene);
        std::string named = line(openFailed) + std::string(unopenedFileLabel) +
                            (underWork ? "fare-settle.journal" : "Account.txt") + "\n";
        EXPECT_TRUE(waitUntil([&] { return countOf(readFile(scene.out), named) >= 2; }, 20))
            << hex(readFile(scene.out).substr(0, 200));
        EXPECT_EQ(countOf(readFile(scene.out), settledText), 0u);
        EXPECT_TRUE(sameBytes(readFile(inScene(scene, "AccountTrigger.txt")), "1"));
        EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Accumulated.txt")), records));
        std::filesystem::remove(filler);
        EXPECT_TRUE(waitUntil([&] { return handedBack(scene); }, 20));
        stopIn(pid);
        EXPECT_EQ(countOf(readFile(scene.out), settledText), 1u);
        EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Account.txt")), accountLine));
        EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Accumulated.txt")), ""));
        std::system(("umount -l " + mounted).c_str());
    }
}

TEST_F(Faults, AReadErrorInTheMiddleOfTheRecordsSettlesNothingOfThem) {
    // 100,000 records, four reads' worth; the second read fails once. The
    // part read before it is never settled as if the file ended there: the
    // try records nothing, and the next settles the whole day in one line.
    Scene scene = makeScene(dir.root + "/../scenes", "middle");
    std::string day;
    for (int i = 0; i < 100000; ++i) day += "20261209083001 BUS 0001 1650 CARD001\n";
    writeFile(inScene(scene, "Time.txt"), "20261209");
    writeFile(inScene(scene, "Accumulated.txt"), day);
    writeFile(inScene(scene, "AccountTrigger.txt"), "1");
    pid_t pid = startIn(scene, {"strace", "-qq", "-o", "/dev/null", "-P", inScene(scene, "Accumulated.txt"), "-e",
                                "trace=pread64", "-e", "inject=pread64:error=EIO:when=2"});
    ASSERT_TRUE(waitUntil([&] { return handedBack(scene); }, 60));
    stopIn(pid);
    std::string out = readFile(scene.out);
    EXPECT_EQ(countOf(out, line(openFailedRecords)), 1u);
    EXPECT_EQ(countOf(out, settledText), 1u);
    EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Account.txt")), "20261209\t126800000\t38200000\t165000000\n"));
    EXPECT_TRUE(sameBytes(readFile(inScene(scene, "Accumulated.txt")), ""));
}
