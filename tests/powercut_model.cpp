#include "powercut_model.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

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

// A file created under `name`, empty.
int newInode(Disk& disk, const std::string& name) {
    auto inode = static_cast<int>(disk.inodes.size());
    disk.inodes.push_back({});
    disk.live[name] = inode;
    return inode;
}

}  // namespace

void play(Disk& disk, const Event& e) {
    switch (e.kind) {
    case Event::Open: {
        int inode = inodeOf(disk, e.name);
        if (inode < 0) {
            inode = newInode(disk, e.name);
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
        if (inode < 0) inode = newInode(disk, e.name);
        disk.durable[e.name] = inode;
        Inode& file = disk.inodes[inode];
        file.live = e.kind == Event::PeerWrite ? e.data : file.live + e.data;
        file.durable = file.live;
        file.pending.clear();
        break;
    }
    }
}

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

namespace {

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


}  // namespace

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
            // A reservation (neither flag) changes no byte of the file.
            if (line.find("COLLAPSE_RANGE") != std::string::npos)
                e.kind = Event::Collapse;
            else if (line.find("PUNCH_HOLE") != std::string::npos)
                e.kind = Event::Punch;
            else
                continue;
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

