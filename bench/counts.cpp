// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "counts.h"

#include <link.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "workloads.h"

namespace bench {
namespace {

// One counted workload. Its figures are instructions per byte: inside the
// library function (or, for a peer, its whole loop) and in the host's loop
// around it, call and loop overhead included.
struct Counted {
    std::string id;
    std::string function; // qualified name of the function counted inside
    std::string loop;     // qualified name of the host's loop (a kernel:: function)
    std::string peer;     // id of the workload it is compared with, or empty
    double maxPerByte;    // guard rail for the count inside the function; 0: none
    double maxPeerRatio;  // guard rail for the ratio of the loops to the peer's; 0: none
    int reps;             // default number of runs
    std::function<size_t(int reps)> run; // runs the loop reps times; returns bytes
};

volatile int gSink; // keeps the results of the loops alive

std::function<size_t(int)> crcRun(unsigned short (*fn)(const unsigned char *, size_t))
{
    return [fn](int reps) {
        const Bytes data = randomBytes(CRC_BYTES, 7);
        for (int i = 0; i < reps; ++i)
            gSink = fn(data.data(), data.size());
        return static_cast<size_t>(reps) * data.size();
    };
}

std::function<size_t(int)> frameRun(Payload kind, int len)
{
    return [kind, len](int reps) {
        Bytes data = payload(kind, len, 1);
        Bytes wire(2 * data.size() + 6);
        cHDLC link;
        for (int i = 0; i < reps; ++i)
            gSink = kernel::frame(link, data.data(), len, wire.data());
        return static_cast<size_t>(reps) * data.size();
    };
}

std::function<size_t(int)> unframeRun(Payload kind, int len)
{
    return [kind, len](int reps) {
        int frames = 0;
        const Bytes wire = wireStream(kind, len, &frames);
        unsigned char packet[1023];
        cHDLC link;
        for (int i = 0; i < reps; ++i)
            if (kernel::unframe(link, wire.data(), wire.size(), packet) != frames) {
                std::fprintf(stderr, "unFrameByte lost frames\n");
                std::exit(1);
            }
        return static_cast<size_t>(reps) * wire.size();
    };
}

// Each load fills an empty table from a trimmed heap (see freshHeap) and the
// table is destroyed outside the loop counted.
size_t loadRun(int reps)
{
    size_t bytes = 0;
    const char *path = propertiesFile(&bytes);
    for (int i = 0; i < reps; ++i) {
        freshHeap();
        cProperties props;
        gSink = kernel::propertiesLoad(props, path);
    }
    return static_cast<size_t>(reps) * bytes;
}

size_t inihRun(int reps)
{
    size_t bytes = 0;
    const char *path = propertiesFile(&bytes);
    for (int i = 0; i < reps; ++i) {
        freshHeap();
        std::map<std::string, std::string> table;
        gSink = kernel::inihLoad(table, path);
    }
    return static_cast<size_t>(reps) * bytes;
}

std::function<size_t(int)> listRun(char **(*fn)(char *, char))
{
    return [fn](int reps) {
        const std::string list = commaList();
        std::vector<char> work(list.size() + 1);
        for (int i = 0; i < reps; ++i) {
            std::memcpy(work.data(), list.c_str(), work.size());
            delete[] fn(work.data(), ',');
        }
        return static_cast<size_t>(reps) * list.size();
    };
}

// Guard rails per architecture, at RelWithDebInfo: not goals to tune for,
// but the line below which the plain code keeps the library ahead of each
// peer. Other architectures are counted without them.
#if defined(__arm__)
const double FRAME_16 = 16, FRAME_1021 = 13, UNFRAME_16 = 34, UNFRAME_1021 = 30, CRC_CALL = 7;
const double LOAD_RATIO = 0.65, LIST_RATIO = 0.65;
#elif defined(__x86_64__)
const double FRAME_16 = 16, FRAME_1021 = 13, UNFRAME_16 = 29, UNFRAME_1021 = 25, CRC_CALL = 7;
const double LOAD_RATIO = 0.55, LIST_RATIO = 0.70;
#else
const double FRAME_16 = 0, FRAME_1021 = 0, UNFRAME_16 = 0, UNFRAME_1021 = 0, CRC_CALL = 0;
const double LOAD_RATIO = 0, LIST_RATIO = 0;
#endif

std::vector<Counted> counted()
{
    std::vector<Counted> w;
    // The CRC's guard rail is per call, not per byte: the loop calls once a byte.
    w.push_back({"crc/vemutils", "cCrc::ccitt_crc16", "kernel::crcVemutils", "crc/boost", CRC_CALL,
                 0, 16, crcRun(kernel::crcVemutils)});
    w.push_back({"crc/boost", "kernel::crcBoost", "kernel::crcBoost", "", 0, 0, 16,
                 crcRun(kernel::crcBoost)});
    w.push_back({"crc/bitwise", "kernel::crcBitwise", "kernel::crcBitwise", "", 0, 0, 4,
                 crcRun(kernel::crcBitwise)});
    const struct {
        Payload kind;
        const char *name;
    } kinds[] = {{Payload::Random, "random"}, {Payload::AllFlags, "all7E"}};
    auto rail = [](Payload kind, int len, double at16, double at1021) {
        if (kind != Payload::Random)
            return 0.0;
        return len == 16 ? at16 : len == 1021 ? at1021 : 0.0;
    };
    for (const auto &k : kinds)
        for (int len : {16, 256, 1021})
            w.push_back({std::string("frameData/") + k.name + "/" + std::to_string(len),
                         "cHDLC::frameData", "kernel::frame", "",
                         rail(k.kind, len, FRAME_16, FRAME_1021), 0, (1 << 20) / len,
                         frameRun(k.kind, len)});
    for (const auto &k : kinds)
        for (int len : {16, 256, 1021})
            w.push_back({std::string("unFrameByte/") + k.name + "/" + std::to_string(len),
                         "cHDLC::unFrameByte", "kernel::unframe", "",
                         rail(k.kind, len, UNFRAME_16, UNFRAME_1021), 0, 16,
                         unframeRun(k.kind, len)});
    w.push_back({"load/vemutils", "cProperties::load", "kernel::propertiesLoad", "load/inih", 0,
                 LOAD_RATIO, 4, loadRun});
    w.push_back({"load/inih", "kernel::inihLoad", "kernel::inihLoad", "", 0, 0, 4, inihRun});
    w.push_back({"parseList/vemutils", "cArgParser::parseList(char*, char)", "kernel::parseList",
                 "parseList/strsep", 0, LIST_RATIO, 16, listRun(kernel::parseList)});
    w.push_back({"parseList/strsep", "kernel::strsepList", "kernel::strsepList", "", 0, 0, 16,
                 listRun(kernel::strsepList)});
    return w;
}

std::string fileName(const std::string &id)
{
    std::string name = id;
    for (char &c : name)
        if (c == '/')
            c = '_';
    return name;
}

// True when text, a demangled function as callgrind names it, is name(...)
// itself: not a clone, a lambda or a local class inside it.
bool isFunction(const std::string &text, const std::string &name)
{
    if (name.find('(') != std::string::npos) // a whole signature: one overload
        return text == name;
    if (text.compare(0, name.size(), name) != 0 || text.size() <= name.size() ||
        text[name.size()] != '(')
        return false;
    int depth = 0;
    for (size_t i = name.size(); i < text.size(); ++i) {
        if (text[i] == '(')
            ++depth;
        else if (text[i] == ')' && --depth == 0)
            return i + 1 == text.size();
    }
    return false;
}

struct Cost {
    double self = 0, incl = 0; // instructions
};

// Per-function costs from a callgrind output file written with
// --compress-strings=no --compress-pos=no: "fn=NAME" starts a function's
// block, "POS COST" lines are its own cost, and the cost line after
// "cfn=CALLEE" and "calls=N POS" is what the calls cost, callee included.
std::map<std::string, Cost> callgrindCosts(const std::string &path)
{
    std::map<std::string, Cost> costs;
    std::ifstream in(path);
    std::string line;
    Cost *fn = nullptr;
    bool call = false;
    while (std::getline(in, line)) {
        if (line.compare(0, 3, "fn=") == 0) {
            fn = &costs[line.substr(3)];
            call = false;
        } else if (line.compare(0, 6, "calls=") == 0) {
            call = true;
        } else if (fn && !line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            const size_t space = line.find(' ');
            const double ir = space == std::string::npos ? 0 : std::strtod(&line[space], nullptr);
            fn->incl += ir;
            if (!call)
                fn->self += ir;
            call = false;
        }
    }
    return costs;
}

// Per-function costs from vemutils_trace_count's output: "INCL SELF NAME"
// lines after a "TOTAL N" line.
std::map<std::string, Cost> traceCosts(const std::string &path)
{
    std::map<std::string, Cost> costs;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0])))
            continue;
        char *p = &line[0];
        const double incl = std::strtod(p, &p);
        const double self = std::strtod(p, &p);
        while (*p == ' ')
            ++p;
        Cost &c = costs[p];
        c.incl += incl;
        c.self += self;
    }
    return costs;
}

// The cost of name(...) itself, -1 in both when it never ran.
Cost costOf(const std::map<std::string, Cost> &costs, const std::string &name)
{
    for (const auto &[text, cost] : costs)
        if (isFunction(text, name))
            return cost;
    return {-1, -1};
}

struct Figures {
    bool ran = false;                       // the run's files are there
    double incl = -1, self = -1, loop = -1; // instructions per byte; -1: not found
    double logger = 0;                      // of incl, in the host's logger (cVemlog)
};

Figures figures(const std::string &dir, const Counted &c)
{
    Figures f;
    const std::string base = dir + "/" + fileName(c.id);
    std::ifstream bytesFile(base + ".bytes");
    double bytes = 0;
    if (!(bytesFile >> bytes) || bytes <= 0)
        return f;
    f.ran = true;
    // vemutils_trace_count's counts (the target under qemu-arm) when there
    // are any, else callgrind's.
    std::ifstream trace(base + ".cnt");
    const std::map<std::string, Cost> costs =
        trace ? traceCosts(base + ".cnt") : callgrindCosts(base + ".out");
    const Cost fn = costOf(costs, c.function);
    const Cost loop = costOf(costs, c.loop);
    if (fn.incl < 0 || loop.incl < 0)
        return f;
    f.incl = fn.incl / bytes;
    f.self = fn.self / bytes;
    f.loop = loop.incl / bytes;
    // Only the measured functions log, so all the logger's cost is theirs.
    for (const auto &[name, cost] : costs)
        if (name.compare(0, 9, "cVemlog::") == 0)
            f.logger += cost.incl / bytes;
    return f;
}

int report(const std::string &dir)
{
    const std::vector<Counted> all = counted();
    std::map<std::string, Figures> fig;
    for (const Counted &c : all)
        fig[c.id] = figures(dir, c);

    std::printf("Instructions per byte. inside: in the function and what it "
                "calls;\nself: in its own code only; logger: of inside, in the host's logger "
                "cVemlog (with\nlog4cpp); loop: the host's loop around the call, call overhead "
                "included.\nvs peer: ratio of the loops. Guard rails apply to inside,\nor to the "
                "ratio for the peer comparisons.\n\n");
    std::printf(
        "| workload | counted inside | inside | self | logger | loop | vs peer | guard rail "
        "|\n");
    std::printf("|---|---|---:|---:|---:|---:|---|---|\n");
    int missed = 0;
    for (const Counted &c : all) {
        const Figures &f = fig[c.id];
        if (!f.ran)
            continue;
        if (f.incl < 0) {
            std::printf("| %s | %s not found | | | | | | |\n", c.id.c_str(), c.function.c_str());
            ++missed;
            continue;
        }
        std::printf("| %s | %s | %.2f | %.2f | %.2f | %.2f |", c.id.c_str(), c.function.c_str(),
                    f.incl, f.self, f.logger, f.loop);
        double ratio = -1;
        if (!c.peer.empty() && fig[c.peer].loop > 0) {
            ratio = f.loop / fig[c.peer].loop;
            std::printf(" %.3fx %s |", ratio, c.peer.c_str());
        } else {
            std::printf(" |");
        }
        if (c.maxPerByte > 0) {
            const bool met = f.incl <= c.maxPerByte;
            missed += !met;
            std::printf(" <= %g: %s |\n", c.maxPerByte, met ? "held" : "BROKEN");
        } else if (c.maxPeerRatio > 0 && ratio < 0) {
            std::printf(" <= %.2fx peer: peer not counted |\n", c.maxPeerRatio);
        } else if (c.maxPeerRatio > 0) {
            const bool met = ratio <= c.maxPeerRatio;
            missed += !met;
            std::printf(" <= %.2fx peer: %s |\n", c.maxPeerRatio, met ? "held" : "BROKEN");
        } else {
            std::printf(" |\n");
        }
    }
    std::printf("\n%s\n", missed ? "some guard rails broken" : "every guard rail held");
    return missed ? 1 : 0;
}

// Prints "object BASE END PATH" for every loaded object (the program itself
// with an empty path), END the end of its highest segment: where a trace's
// addresses map to symbols.
void printObjects()
{
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) {
            unsigned long end = 0;
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_LOAD)
                    end = std::max<unsigned long>(end, info->dlpi_phdr[i].p_vaddr +
                                                           info->dlpi_phdr[i].p_memsz);
            std::printf("object %#lx %#lx %s\n", static_cast<unsigned long>(info->dlpi_addr),
                        static_cast<unsigned long>(info->dlpi_addr) + end,
                        info->dlpi_name != nullptr ? info->dlpi_name : "");
            return 0;
        },
        nullptr);
}

} // namespace

bool countsMain(int argc, char **argv, int *status)
{
    if (argc < 2)
        return false;
    const std::string cmd = argv[1];
    if (cmd == "--list-counts") {
        for (const Counted &c : counted())
            std::printf("%s\n", c.id.c_str());
        *status = 0;
        return true;
    }
    if (cmd == "--report-counts" && argc == 3) {
        *status = report(argv[2]);
        return true;
    }
    if (cmd == "--count" && (argc == 3 || (argc == 5 && std::strcmp(argv[3], "--reps") == 0))) {
        // Trailing spaces are allowed: scripts/bench pads ids to one width
        // so that every run starts from the same stack layout.
        std::string id = argv[2];
        id.erase(id.find_last_not_of(' ') + 1);
        for (const Counted &c : counted())
            if (c.id == id) {
                const int reps = argc == 5 ? std::atoi(argv[4]) : c.reps;
                std::printf("%zu\n", c.run(reps));
                printObjects();
                *status = 0;
                return true;
            }
        std::fprintf(stderr, "unknown workload %s\n", argv[2]);
        *status = 2;
        return true;
    }
    if (cmd == "--list-counts" || cmd == "--report-counts" || cmd == "--count") {
        std::fprintf(stderr,
                     "usage: %s --list-counts | --count ID [--reps N] | "
                     "--report-counts DIR\n",
                     argv[0]);
        *status = 2;
        return true;
    }
    return false;
}

} // namespace bench
