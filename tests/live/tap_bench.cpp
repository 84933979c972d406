// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// How fast vemlink tap forwards over pseudo-terminals (scripts/bench-tap):
//   vemlink_tap_bench --bench MIB VEMLINK [EMULATOR...]     throughput
//   vemlink_tap_bench --latency ROUNDS VEMLINK [EMULATOR...] tap and socat latency
//   vemlink_tap_bench --impair MIB VEMLINK [EMULATOR...]     what impairments cost and keep
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
// to /dev/null; prints the throughput. With corrupt, through 'corrupt 1%'
// each way: the cost of the impairments' path, where bytes change but none
// is added or lost.
bool throughput(size_t bytes, bool corrupt = false)
{
    Pty dev;
    long txGood = 0;
    long rxGood = 0;
    const Bytes tx = traffic(1, bytes, txGood);
    const Bytes rx = traffic(2, bytes, rxGood);
    std::vector<std::string> args = {"tap", dev.path};
    if (corrupt)
        args.insert(args.end(), {"--to-device", "corrupt 1%", "--to-app", "corrupt 1%"});
    Child tap(args, "/dev/null");
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
    const bool same = corrupt ? a.got.size() == tx.size() && b.got.size() == rx.size()
                              : a.got == tx && b.got == rx;
    const bool ok = same && tap.stop(SIGINT) == 0;
    close(app);
    std::printf("tap forwarding over ptys%s, both directions at once, %.1f MiB each way:\n",
                corrupt ? " with corrupt 1% each way" : "", static_cast<double>(bytes) / (1 << 20));
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

// The one-way latency of a small frame through the tap, through a tap that
// holds each frame to its closing flag both ways ('delay 0ms', the cost of
// the impairments' path) and through socat forwarding between the same kind
// of ptys, their round trips taken in turn, so that all meet the same load
// of the machine.
bool latency(int rounds)
{
    TempDir dir;
    Pty tapDev;
    Child tap({"tap", tapDev.path}, "/dev/null");
    const std::string tapEnd = tap.appEnd();
    Pty heldDev;
    Child held(
        {"tap", heldDev.path, "--to-device", "delay 0ms", "--to-app", "delay 0ms", "--seed", "1"},
        "/dev/null");
    const std::string heldEnd = held.appEnd();
    Pty socatDev;
    const std::string link = dir.path() + "/ttySOCAT";
    Adapter socat(socatDev.path, link, "/dev/null");
    if (tapEnd.empty() || heldEnd.empty() || !socat.ready)
        return false;
    const std::string ends[3] = {tapEnd, heldEnd, link};
    const int devices[3] = {tapDev.master, heldDev.master, socatDev.master};
    int apps[3];
    for (int k = 0; k < 3; ++k)
        apps[k] = open(ends[k].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    std::vector<double> oneWay[3];
    bool ok = true;
    for (int i = -rounds / 10; i < rounds; ++i) { // the first tenth warms up
        for (int k = 0; k < 3; ++k) {
            const double t = roundTrip(apps[k], devices[k], ok);
            if (i >= 0)
                oneWay[k].push_back(t);
        }
    }
    std::printf("one-way latency of a %zu-byte frame over ptys, %d round trips each, in turn:\n",
                frame(text("ping")).size(), rounds);
    const char *const names[3] = {"vemlink tap", "vemlink tap, delay 0ms", "socat pty,raw,echo=0"};
    for (int k = 0; k < 3; ++k) {
        printLatency(names[k], oneWay[k]);
        close(apps[k]);
    }
    return ok;
}

// 64 KiB to the device through 'rate 115200': the time from the first
// write to the last byte against the line time, 10 bits a byte at 8N1.
bool rate()
{
    Pty dev;
    long good = 0;
    Bytes data = traffic(3, 65536, good);
    data.resize(65536);
    const Bytes none;
    Child tap({"tap", dev.path, "--to-device", "rate 115200"}, "/dev/null");
    const std::string appPath = tap.appEnd();
    if (appPath.empty())
        return false;
    const int app = open(appPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    Way a{app, dev.master, data};
    Way b{dev.master, app, none};
    pump(a, b);
    const double line = data.size() * 10.0 / 115200;
    std::printf("64 KiB through rate 115200: %.3f s, line time %.3f s (%+.2f %%)\n", a.seconds,
                line, (a.seconds - line) / line * 100);
    const bool ok = a.got == data && tap.stop(SIGINT) == 0;
    close(app);
    return ok;
}

// Frames one at a time through 'delay 20ms 5ms', 40 ms apart: the delay
// each took, from its write to its last byte at the device.
bool delay(int frames)
{
    Pty dev;
    Child tap({"tap", dev.path, "--to-device", "delay 20ms 5ms"}, "/dev/null");
    const std::string appPath = tap.appEnd();
    if (appPath.empty())
        return false;
    const int app = open(appPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const Bytes f = frame(text("ping"));
    std::vector<double> ms;
    bool ok = true;
    for (int i = 0; i < frames; ++i) {
        const auto start = Clock::now();
        ok = sendAll(app, f) && receive(dev.master, f.size()) == f && ok;
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        pause(40);
    }
    std::sort(ms.begin(), ms.end());
    const long outside =
        std::count_if(ms.begin(), ms.end(), [](double d) { return d < 15 || d > 25; });
    std::printf("delay 20ms 5ms, %d frames: min %.2f ms, p50 %.2f ms, max %.2f ms; "
                "%ld outside 15-25 ms\n",
                frames, ms.front(), ms[ms.size() / 2], ms.back(), outside);
    ok = tap.stop(SIGINT) == 0 && ok;
    close(app);
    return ok;
}

// The impairments: the throughput with 'corrupt 1%' each way, a rate, and
// the delays of a jittered delay.
bool impairments(size_t bytes)
{
    bool ok = throughput(bytes, true);
    ok = rate() && ok;
    return delay(100) && ok;
}

} // namespace

int main(int argc, char **argv)
{
    const char *const modes[3] = {"--bench", "--latency", "--impair"};
    int mode = 0;
    while (argc >= 4 && mode < 3 && std::strcmp(argv[1], modes[mode]) != 0)
        ++mode;
    if (argc < 4 || mode == 3) {
        std::fputs("usage: vemlink_tap_bench --bench MIB|--latency ROUNDS|--impair MIB VEMLINK "
                   "[EMULATOR...]\n",
                   stderr);
        return 2;
    }
    for (int i = 4; i < argc; ++i)
        command().emplace_back(argv[i]);
    command().emplace_back(argv[3]);
    std::signal(SIGPIPE, SIG_IGN);
    const size_t mib = static_cast<size_t>(std::atof(argv[2]) * (1 << 20));
    const bool ok = mode == 0   ? throughput(mib)
                    : mode == 1 ? latency(std::atoi(argv[2]))
                                : impairments(mib);
    if (!ok)
        std::fputs("FAIL: bytes lost or changed on the way\n", stderr);
    return ok ? 0 : 1;
}
