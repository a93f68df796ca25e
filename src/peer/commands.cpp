// The small commands: init, date, tap, request, wait, and their helpers.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/scan.h"
#include "exchange/serving.h"
#include "peer/peer.h"
#include "text/peer.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <thread>

namespace fs = std::filesystem;

int peerError(int status, const char* format, ...) {
    std::fputs("fare-peer: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return status;
}

std::string exchangeFile(const std::string& dir, const char* path) {
    return dir + "/" + fileNameOf(path);
}

std::string today() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

bool isToken(const std::string& text, std::size_t room) {
    if (text.empty() || text.size() > room) return false;
    for (unsigned char c : text)
        if (isWhiteSpace(c) || c == '\0') return false;
    return true;
}

bool parseWhole(const std::string& text, std::int64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || !(isDigit(text[0]) || text[0] == '-')) return false;
    value = parsed;
    return true;
}

bool appendRecords(const std::string& path, const char* data, std::size_t size) {
    int fd = openFile(path.c_str(), O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) return false;
    // The shared lock only keeps a settlement from cutting the file between
    // its size check and its truncation; appenders never wait for each other.
    bool locked = ::flock(fd, LOCK_SH) == 0;
    bool written = writeAll(fd, data, size);
    if (locked) ::flock(fd, LOCK_UN);
    return closeFile(fd) && written;
}

namespace {

int writeFailed(const std::string& path) {
    return peerError(peerFailed, peerWriteFailed, path.c_str(), std::strerror(errno));
}

// Creates a file with `content` unless it exists: init never overwrites
// ledgers or records already there.
bool createMissing(const std::string& path, const std::string& content) {
    if (fs::exists(fs::symlink_status(path))) return true;
    return writeWholeFile(path.c_str(), content);
}

std::string readSmall(const std::string& path) {
    int fd = openFile(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    char buffer[64];
    ssize_t n = readSome(fd, buffer, sizeof buffer);
    closeFile(fd);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string{};
}

std::string lastLine(const std::string& path) {
    int fd = openFile(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    std::string content;
    char buffer[65536];
    ssize_t n;
    while ((n = readSome(fd, buffer, sizeof buffer)) > 0) {
        content.append(buffer, static_cast<std::size_t>(n));
        // Only the end matters; keep memory flat for long ledgers.
        if (content.size() > (1 << 20)) content.erase(0, content.size() - 4096);
    }
    closeFile(fd);
    if (!content.empty() && content.back() == '\n') content.pop_back();
    std::size_t start = content.rfind('\n');
    return start == std::string::npos ? content : content.substr(start + 1);
}

}  // namespace

int peerInit(const std::string& self, const Args& args) {
    if (args.empty()) return peerError(peerBadInput, peerMissing, "init", "DIR");
    if (args.size() > 1) return peerError(peerBadInput, peerTooMany, "init", args[1].c_str());
    const std::string& dir = args[0];
    std::error_code error;
    fs::create_directories(dir + "/run/settle", error);
    if (error) return peerError(peerBadInput, peerBadDir, dir.c_str(), error.message().c_str());
    const struct {
        const char* path;
        std::string content;
    } files[] = {
        {timePath, today() + "\n"},
        {accumulatedPath, ""},
        {triggerPath, "0"},
    };
    for (const auto& f : files) {
        std::string path = exchangeFile(dir, f.path);
        if (!createMissing(path, f.content)) return writeFailed(path);
    }
    std::string absolute = fs::absolute(dir).lexically_normal().string();
    if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    std::string settle = self + "/fare-settle";
    std::string peer = self + "/fare-peer";
    std::printf(peerInitDone, absolute.c_str(), absolute.c_str(), settle.c_str(), peer.c_str(),
                absolute.c_str(), peer.c_str(), absolute.c_str());
    return peerOk;
}

int peerDate(const std::string& dir, const Args& args) {
    if (args.size() > 1) return peerError(peerBadInput, peerTooMany, "date", args[1].c_str());
    std::string date = args.empty() ? today() : args[0];
    // Longer dates would be cut to 8 bytes in every ledger line.
    if (!isToken(date, 8)) return peerError(peerBadInput, peerBadToken, "date", "TEXT", date.c_str(), 8);
    std::string path = exchangeFile(dir, timePath);
    if (!writeWholeFile(path.c_str(), date + "\n")) return writeFailed(path);
    std::printf(peerDateDone, date.c_str());
    return peerOk;
}

int peerTap(const std::string& dir, const Args& args) {
    if (args.size() < 2) return peerError(peerBadInput, peerMissing, "tap", args.empty() ? "CARRIER and AMOUNT" : "AMOUNT");
    if (args.size() > 3) return peerError(peerBadInput, peerTooMany, "tap", args[3].c_str());
    const std::string& carrier = args[0];
    std::int64_t amount = 0;
    std::string card = args.size() > 2 ? args[2] : "C000001";
    const std::size_t carrierRoom = fareFields[1].whole, cardRoom = fareFields[4].whole;
    if (!isToken(carrier, carrierRoom))
        return peerError(peerBadInput, peerBadToken, "tap", "CARRIER", carrier.c_str(), static_cast<int>(carrierRoom));
    if (!parseWhole(args[1], amount))
        return peerError(peerBadInput, peerNotNumber, "tap", "AMOUNT", args[1].c_str(), "");
    if (!isToken(card, cardRoom))
        return peerError(peerBadInput, peerBadToken, "tap", "CARD", card.c_str(), static_cast<int>(cardRoom));

    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char id[16];
    std::strftime(id, sizeof id, "%Y%m%d%H%M", &local);
    std::string record = std::string(id) + " " + carrier + " 0001 " + std::to_string(amount) + " " + card + "\n";
    std::string path = exchangeFile(dir, accumulatedPath);
    if (!appendRecords(path, record.data(), record.size())) return writeFailed(path);
    std::printf(peerTapDone, record.c_str());
    if (carrier != busCarrier && carrier != metroCarrier) std::printf(peerTapUnknown, carrier.c_str());
    return peerOk;
}

int peerRequest(const std::string& dir, const Args& args) {
    if (!args.empty()) return peerError(peerBadInput, peerTooMany, "request", args[0].c_str());
    // The success flag is set back first, so that a wait that follows sees
    // this settlement's "1" and not an older one.
    std::string success = exchangeFile(dir, successPath);
    if (fs::exists(fs::symlink_status(success)) && !writeWholeFile(success.c_str(), "0"))
        return writeFailed(success);
    std::string trigger = exchangeFile(dir, triggerPath);
    if (!writeWholeFile(trigger.c_str(), "1")) return writeFailed(trigger);
    std::fputs(peerRequested, stdout);
    return peerOk;
}

int peerWait(const std::string& dir, const Args& args) {
    std::int64_t timeout = 60;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (args[i] != "--timeout") return peerError(peerBadInput, peerUnknownOption, "wait", args[i].c_str());
        if (i + 1 >= args.size()) return peerError(peerBadInput, peerMissing, "wait", "SECONDS after --timeout");
        if (!parseWhole(args[i + 1], timeout) || timeout < 0)
            return peerError(peerBadInput, peerNotNumber, "wait", "SECONDS", args[i + 1].c_str(), " of 0 or more");
    }
    std::string success = exchangeFile(dir, successPath);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    while (readSmall(success) != "1") {
        if (std::chrono::steady_clock::now() >= deadline) {
            std::string trigger = readSmall(exchangeFile(dir, triggerPath));
            return peerError(peerFailed, peerTimedOut, std::to_string(timeout).c_str(), trigger.c_str(),
                             dir.c_str());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!writeWholeFile(success.c_str(), "0")) return writeFailed(success);
    std::fputs(peerSettled, stdout);
    for (const char* ledger : {accountPath, busAccountPath, metroAccountPath}) {
        std::string line = lastLine(exchangeFile(dir, ledger));
        if (line.empty())
            std::printf(peerLedgerEmpty, fileNameOf(ledger));
        else
            std::printf(peerLedgerLine, fileNameOf(ledger), line.c_str());
    }
    return peerOk;
}

int peerStatus(const std::string& dir, const Args& args) {
    if (!args.empty()) return peerError(peerBadInput, peerTooMany, "status", args[0].c_str());
    Serving serving = exchangeServed(dir.c_str());
    if (serving == Serving::Served) std::printf(peerStatusServed, dir.c_str());
    if (serving == Serving::Free) std::printf(peerStatusFree, dir.c_str());
    if (serving == Serving::Unknown) std::printf(peerStatusUnknown, dir.c_str());
    // The flag files as they are, unprintable bytes escaped.
    for (const char* path : {triggerPath, successPath}) {
        std::string name = exchangeFile(dir, path);
        std::string shown = fs::exists(name) ? "'" : peerStatusMissing;
        if (fs::exists(name)) {
            for (char c : readSmall(name)) {
                char escaped[8];
                auto u = static_cast<unsigned char>(c);
                std::snprintf(escaped, sizeof escaped, u >= 0x20 && u < 0x7f ? "%c" : "\\x%02x", u);
                shown += escaped;
            }
            shown += "'";
        }
        std::printf(peerStatusFile, fileNameOf(path), shown.c_str());
    }
    std::string last = lastLine(exchangeFile(dir, accountPath));
    std::printf(peerStatusFile, fileNameOf(accountPath), last.empty() ? peerStatusNoLine : last.c_str());
    return serving == Serving::Served ? peerOk : peerFailed;
}
