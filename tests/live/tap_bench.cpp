// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// How fast vemlink tap forwards over pseudo-terminals (scripts/bench-tap):
//   vemlink_tap_bench --bench MIB VEMLINK [EMULATOR...]     throughput
//   vemlink_tap_bench --latency ROUNDS VEMLINK [EMULATOR...] tap and socat latency
// A driver plays the device on one pty pair and the application on the
// tap's own. Exits 1 when a byte went missing or changed.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "support.h"
#include "temp_dir.h"

using namespace live;

namespace {

// Both directions at once, bytes each way, while the tap lists every frame
// to /dev/null; prints the throughput.
bool throughput(size_t bytes)
{
    Pty dev;
    long txGood = 0;
    long rxGood = 0;
    const Bytes tx = traffic(1, bytes, txGood);
    const Bytes rx = traffic(2, bytes, rxGood);
    Child tap({"tap", dev.path}, "/dev/null");
    const std::string appPath = tap.appEnd();
    if (appPath.empty()) {
        std::fprintf(stderr, "the tap named no application's end: %s\n", tap.errText.c_str());
        return false;
    }
    const int app = open(appPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    Way a{app, dev.master, tx};
    Way b{dev.master, app, rx};
    pump(a, b);
    const double tapCpu = tap.cpuSeconds();
    const bool ok = a.got == tx && b.got == rx && tap.stop(SIGINT) == 0;
    close(app);
    std::printf("tap forwarding over ptys, both directions at once, %.1f MiB each way:\n",
                static_cast<double>(bytes) / (1 << 20));
    std::printf("  application -> device  %8.1f MB/s\n", tx.size() / a.seconds / 1e6);
    std::printf("  device -> application  %8.1f MB/s\n", rx.size() / b.seconds / 1e6);
    std::printf("  the tap's CPU time     %8.2f s in %.2f s\n", tapCpu,
                std::max(a.seconds, b.seconds));
    return ok;
}

// One round trip of a small frame: the application's end writes it, the
// device end reads it whole and writes it back, the application reads it
// whole. Half of it is one way through the forwarder, in microseconds.
double roundTrip(int app, int device, bool &ok)
{
    static const Bytes f = frame(text("ping"));
    const auto start = Clock::now();
    ok = sendAll(app, f) && ok;
    const Bytes there = receive(device, f.size());
    ok = sendAll(device, there) && ok;
    const Bytes back = receive(app, f.size());
    ok = back == f && ok;
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 2;
}

void printLatency(const char *what, std::vector<double> &oneWay)
{
    std::sort(oneWay.begin(), oneWay.end());
    std::printf("  %-28s p50 %7.1f us   p99 %7.1f us\n", what, oneWay[oneWay.size() / 2],
                oneWay[oneWay.size() * 99 / 100]);
}

// The one-way latency of a small frame through the tap and through socat
// forwarding between the same kind of ptys, their round trips taken in
// turn, so that both meet the same load of the machine.
bool latency(int rounds)
{
    TempDir dir;
    Pty tapDev;
    Child tap({"tap", tapDev.path}, "/dev/null");
    const std::string tapEnd = tap.appEnd();
    Pty socatDev;
    const std::string link = dir.path() + "/ttySOCAT";
    Adapter socat(socatDev.path, link, "/dev/null");
    if (tapEnd.empty() || !socat.ready)
        return false;
    const int tapApp = open(tapEnd.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int socatApp = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    std::vector<double> viaTap, viaSocat;
    bool ok = true;
    for (int i = -rounds / 10; i < rounds; ++i) { // the first tenth warms up
        const double t = roundTrip(tapApp, tapDev.master, ok);
        const double s = roundTrip(socatApp, socatDev.master, ok);
        if (i >= 0) {
            viaTap.push_back(t);
            viaSocat.push_back(s);
        }
    }
    std::printf("one-way latency of a %zu-byte frame over ptys, %d round trips each, in turn:\n",
                frame(text("ping")).size(), rounds);
    printLatency("vemlink tap", viaTap);
    printLatency("socat pty,raw,echo=0", viaSocat);
    close(tapApp);
    close(socatApp);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4 ||
        (std::strcmp(argv[1], "--bench") != 0 && std::strcmp(argv[1], "--latency") != 0)) {
        std::fputs("usage: vemlink_tap_bench --bench MIB|--latency ROUNDS VEMLINK [EMULATOR...]\n",
                   stderr);
        return 2;
    }
    for (int i = 4; i < argc; ++i)
        command().emplace_back(argv[i]);
    command().emplace_back(argv[3]);
    std::signal(SIGPIPE, SIG_IGN);
    const bool ok = std::strcmp(argv[1], "--bench") == 0
                        ? throughput(static_cast<size_t>(std::atof(argv[2]) * (1 << 20)))
                        : latency(std::atoi(argv[2]));
    if (!ok)
        std::fputs("FAIL: bytes lost or changed on the way\n", stderr);
    return ok ? 0 : 1;
}
