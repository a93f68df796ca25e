#include "scene.h"

#include "launch.h"
#include "support.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

Scene makeScene(const std::string& parent, const std::string& name) {
    Scene scene;
    std::string base = parent + "/" + name;
    fs::remove_all(base);
    scene.root = base + "/exchange";
    scene.work = scene.root + "/run/settle";
    scene.out = base + "/stdout";
    fs::create_directories(scene.work);
    return scene;
}

std::string inScene(const Scene& scene, std::string_view file) { return scene.root + "/" + std::string(file); }

pid_t startIn(const Scene& scene, const std::vector<std::string>& prefix) {
    return launchSettle(scene.work, scene.out, "/dev/null", nullptr, prefix);
}

bool endsWithin(pid_t pid, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
}

void stopIn(pid_t pid) {
    ::kill(-pid, SIGTERM);
    if (!endsWithin(pid, 20)) ADD_FAILURE() << "the program did not stop on SIGTERM";
}

bool handedBack(const Scene& scene) {
    return readFile(inScene(scene, "AccountSuccess.txt")) == "1" &&
           readFile(inScene(scene, "AccountTrigger.txt")) == "0" && !fileExists(scene.work + "/fare-settle.journal");
}

void requestIn(const Scene& scene) {
    writeFile(inScene(scene, "AccountSuccess.txt"), "0");
    writeFile(inScene(scene, "AccountTrigger.txt"), "1");
}

namespace {

// The numbers after the date of every line; false on a torn line.
bool ledgerLines(const std::string& text, std::size_t fields, std::vector<std::vector<long long>>& lines) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return false;
        std::string line = text.substr(at, end - at);
        at = end + 1;
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos) return false;
        std::vector<long long> numbers;
        std::istringstream in(line.substr(tab + 1));
        long long n = 0;
        while (in >> n) numbers.push_back(n);
        if (numbers.size() != fields || !in.eof()) return false;
        lines.push_back(numbers);
    }
    return true;
}

}  // namespace

Money ledgerMoney(const Scene& scene) {
    Money money;
    // A ledger that is not there holds no line.
    auto ledger = [&](const char* name) {
        std::string text = readFile(inScene(scene, name));
        return text == "<missing>" ? std::string() : text;
    };
    std::vector<std::vector<long long>> account, bus, metro;
    if (!ledgerLines(ledger("Account.txt"), 3, account) || !ledgerLines(ledger("BusAccount.txt"), 1, bus) ||
        !ledgerLines(ledger("MetroAccount.txt"), 1, metro)) {
        money.fault = "a torn or malformed ledger line";
        return money;
    }
    if (bus.size() != account.size() || metro.size() != account.size()) {
        money.fault = "the ledgers hold different numbers of lines";
        return money;
    }
    for (std::size_t i = 0; i < account.size(); ++i) {
        if (bus[i][0] != account[i][0] || metro[i][0] != account[i][1])
            money.fault = "line " + std::to_string(i + 1) + " differs between the ledgers";
        money.bus += account[i][0];
        money.metro += account[i][1];
        money.total += account[i][2];
    }
    money.lines = account.size();
    return money;
}

Money fare(std::string_view mode, long long amount) {
    Money m;
    m.total = amount;
    auto split = [&](long long own, long long other, bool isBus) {
        (isBus ? m.bus : m.metro) += own;
        (isBus ? m.metro : m.bus) += other;
    };
    bool isBus = mode == "BUS";
    if (isBus && amount >= 100 && amount <= 700) split(amount, 0, true);
    else if (mode == "METRO" && amount == 200) split(200, 0, false);
    else if (mode == "METRO" && amount == 300) split(759, -459, false);
    else if (mode == "METRO" && amount == 600) split(1008, -408, false);
    else if ((isBus || mode == "METRO") && amount == 1050) split(1050, 0, isBus);
    else if ((isBus || mode == "METRO") && amount == 1250) split(1050, 200, isBus);
    else if ((isBus || mode == "METRO") && amount == 1650) split(1268, 382, isBus);
    else if ((isBus || mode == "METRO") && amount == 1750) split(1470, 280, isBus);
    return m;
}

Money moneyLeft(const Scene& scene) {
    Money money;
    std::istringstream in(readFile(inScene(scene, "Accumulated.txt")));
    std::string id, mode, code, card;
    long long amount = 0;
    while (in >> id >> mode >> code >> amount >> card) {
        Money m = fare(mode, amount);
        money.total += m.total;
        money.bus += m.bus;
        money.metro += m.metro;
        ++money.lines;
    }
    return money;
}
