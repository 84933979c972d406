// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT
// vemlink's live commands on real pseudo-terminals. This program plays the
// microcontroller on the master side of a pty pair whose slave is the
// "device", and the application on the end a tap opens for it.
//   vemlink_live VEMLINK [EMULATOR...]            every check
//   vemlink_live --bench MIB VEMLINK [EMULATOR...] tap throughput
//   vemlink_live --only full-disk VEMLINK [EMULATOR...]
//                                  the full-disk check alone; 77 when skipped
//   vemlink_live --latency ROUNDS VEMLINK [EMULATOR...]
//                                                 tap and socat latency
//   vemlink_live --impair MIB VEMLINK [EMULATOR...]
//                                  what the tap's impairments cost and keep
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "hdlc.h"
#include "temp_dir.h"
#include "termios2.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

// Generous: under an emulator a start takes a while.
const int START_MS = 20000;
const int EXIT_MS = 20000;
const int STALL_MS = 20000;

std::vector<std::string> gCommand; // emulator words, then vemlink
int gFailures = 0;

void check(bool ok, const std::string &what)
{
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
        ++gFailures;
    }
}

int msSince(Clock::time_point t)
{
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

void pause(int ms)
{
    usleep(static_cast<useconds_t>(ms) * 1000);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A pty pair: the master is the microcontroller's end, the slave the device
// a command opens. The slave is held open here too, set raw, so that the
// line keeps its settings between runs.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
            std::perror("posix_openpt");
            std::exit(1);
        }
        path = ptsname(master);
        slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    ~Pty()
    {
        hangUp();
        if (slave >= 0)
            close(slave);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Closing the master hangs the line up for whoever has the slave open.
    void hangUp()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }
};

// vemlink running as a child (or, with plain, another program given whole):
// standard output into a file, standard error through a pipe, standard
// input from a file or /dev/null.
struct Run {
    pid_t pid = -1;
    int err = -1;
    std::string out;
    std::string errText;
    int status = -1;

    long maxRssKb = -1; // the child's peak resident memory, once it has ended

    // outFd, when given, is standard output in place of outPath.
    Run(const std::vector<std::string> &args, const std::string &outPath,
        const std::string &inPath = "/dev/null", int outFd = -1, bool plain = false)
        : out(outPath)
    {
        int pipeFd[2];
        if (pipe2(pipeFd, O_CLOEXEC) < 0) {
            std::perror("pipe2");
            std::exit(1);
        }
        std::vector<std::string> words = plain ? std::vector<std::string>() : gCommand;
        words.insert(words.end(), args.begin(), args.end());
        pid = fork();
        if (pid == 0) {
            const int in = open(inPath.c_str(), O_RDONLY);
            const int o =
                outFd >= 0 ? outFd : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(o, 1);
            dup2(pipeFd[1], 2);
            std::vector<char *> argv;
            for (std::string &w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(pipeFd[1]);
        err = pipeFd[0];
        fcntl(err, F_SETFL, O_NONBLOCK);
    }
    ~Run()
    {
        if (status < 0 && pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(err);
    }
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    void drainErr()
    {
        char chunk[4096];
        ssize_t n;
        while ((n = read(err, chunk, sizeof chunk)) > 0)
            errText.append(chunk, static_cast<size_t>(n));
    }

    // The application's end a tap announces on standard error; "" if none
    // came in time.
    std::string appEnd()
    {
        static const std::string said = "application's end is ";
        const auto start = Clock::now();
        while (msSince(start) < START_MS) {
            pollfd p{err, POLLIN, 0};
            poll(&p, 1, 100);
            drainErr();
            const size_t at = errText.find(said);
            if (at != std::string::npos && errText.find('\n', at) != std::string::npos)
                return errText.substr(at + said.size(),
                                      errText.find_first_of(",\n", at) - at - said.size());
            if (exited(0))
                break;
        }
        return "";
    }

    // True when the child has ended within ms; its exit status is then in
    // status (128 + signal when a signal ended it).
    bool exited(int ms)
    {
        const auto start = Clock::now();
        do {
            int st = 0;
            rusage use{};
            if (wait4(pid, &st, WNOHANG, &use) == pid) {
                status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                maxRssKb = use.ru_maxrss;
                drainErr();
                return true;
            }
            if (ms > 0)
                pause(10);
        } while (msSince(start) < ms);
        return false;
    }

    // Sends sig and waits for the end; the exit status, -1 if it stayed.
    int stop(int sig)
    {
        kill(pid, sig);
        return exited(EXIT_MS) ? status : -1;
    }

    std::string output() const { return readFile(out); }

    // CPU seconds the child has used so far, from /proc.
    double cpuSeconds() const
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string f;
        long ticks = 0;
        for (int i = 3; i <= 15 && fields >> f; ++i)
            if (i == 14 || i == 15)
                ticks += std::stol(f);
        return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
};

int openApp(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    check(fd >= 0, "opening the application's end " + path + ": " + std::strerror(errno));
    return fd;
}

Bytes frame(const Bytes &payload)
{
    static cHDLC framer;
    Bytes f(2 * payload.size() + 6);
    int len = 0;
    framer.frameData(const_cast<unsigned char *>(payload.data()), static_cast<int>(payload.size()),
                     f.data(), &len);
    f.resize(static_cast<size_t>(len));
    return f;
}

Bytes text(const char *s)
{
    return Bytes(s, s + std::strlen(s));
}

void append(Bytes &to, const Bytes &b)
{
    to.insert(to.end(), b.begin(), b.end());
}

// Moves two streams at once, each to its own descriptor, and reads back what
// comes out at the other ends, until both are through or nothing moves for
// STALL_MS. Returns the seconds each took from start to its last byte.
struct Pump {
    struct Way {
        Way(int to, int from, const Bytes &send) : to(to), from(from), send(send) {}
        int to, from;
        const Bytes &send;
        Bytes got;
        size_t sent = 0;
        double seconds = 0;
    };

    static void run(Way &a, Way &b)
    {
        const auto start = Clock::now();
        auto moved = start;
        unsigned char chunk[65536];
        Way *ways[2] = {&a, &b};
        while ((a.got.size() < a.send.size() || b.got.size() < b.send.size()) &&
               msSince(moved) < STALL_MS) {
            pollfd fds[4];
            for (int i = 0; i < 2; ++i) {
                Way &w = *ways[i];
                fds[2 * i] = {w.to, static_cast<short>(w.sent < w.send.size() ? POLLOUT : 0), 0};
                fds[2 * i + 1] = {w.from, POLLIN, 0};
            }
            if (poll(fds, 4, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                Way &w = *ways[i];
                if ((fds[2 * i].revents & POLLOUT) != 0) {
                    const size_t n = std::min(sizeof chunk, w.send.size() - w.sent);
                    const ssize_t k = write(w.to, w.send.data() + w.sent, n);
                    if (k > 0) {
                        w.sent += static_cast<size_t>(k);
                        moved = Clock::now();
                    }
                }
                if ((fds[2 * i + 1].revents & POLLIN) != 0) {
                    const ssize_t k = read(w.from, chunk, sizeof chunk);
                    if (k > 0) {
                        w.got.insert(w.got.end(), chunk, chunk + k);
                        moved = Clock::now();
                        if (w.got.size() >= w.send.size())
                            w.seconds = std::chrono::duration<double>(moved - start).count();
                    }
                }
            }
        }
    }
};

// Reads what comes out of fd until n bytes are there or STALL_MS pass.
Bytes receive(int fd, size_t n)
{
    Bytes got;
    unsigned char chunk[4096];
    const auto start = Clock::now();
    while (got.size() < n && msSince(start) < STALL_MS) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t k = read(fd, chunk, std::min(sizeof chunk, n - got.size()));
        if (k > 0)
            got.insert(got.end(), chunk, chunk + k);
    }
    return got;
}

void sendAll(int fd, const Bytes &b)
{
    size_t done = 0;
    const auto start = Clock::now();
    while (done < b.size() && msSince(start) < STALL_MS) {
        const ssize_t k = write(fd, b.data() + done, b.size() - done);
        if (k > 0)
            done += static_cast<size_t>(k);
        else
            pause(1);
    }
    check(done == b.size(), "writing " + std::to_string(b.size()) + " bytes stalled");
}

// Traffic for one direction, at least n bytes: frames of random payloads,
// many dense in 7E and 7D, with corrupted frames, overlong runs, line
// noise and idle flags between them. Counts the intact frames in good.
Bytes traffic(unsigned seed, size_t n, long &good)
{
    std::mt19937 rng(seed);
    auto between = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto plain = [&]() {
        int v;
        do
            v = between(0, 255);
        while (v == 0x7E || v == 0x7D);
        return static_cast<unsigned char>(v);
    };
    Bytes out;
    good = 0;
    while (out.size() < n) {
        const int kind = between(0, 9);
        Bytes payload(static_cast<size_t>(between(0, 1) ? between(0, 64) : between(0, 1021)));
        for (unsigned char &b : payload)
            b = kind < 3 && between(0, 1) ? (between(0, 1) ? 0x7E : 0x7D)
                                          : static_cast<unsigned char>(between(0, 255));
        if (kind < 6) {
            append(out, frame(payload));
            ++good;
        } else if (kind == 6) {
            // One plain byte changed for another: the FCS catches every
            // single-byte error.
            payload.push_back(plain());
            Bytes f = frame(payload);
            for (size_t i = 1; i + 1 < f.size(); ++i)
                if (f[i] != 0x7E && f[i] != 0x7D) {
                    unsigned char c;
                    do
                        c = plain();
                    while (c == f[i]);
                    f[i] = c;
                    break;
                }
            append(out, f);
        } else if (kind == 7) {
            out.push_back(0x7E);
            for (int i = between(1024, 1500); i > 0; --i)
                out.push_back(plain());
            out.push_back(0x7E);
        } else if (kind == 8) {
            for (int i = between(1, 40); i > 0; --i)
                out.push_back(static_cast<unsigned char>(between(0, 255)));
        } else {
            out.insert(out.end(), static_cast<size_t>(between(1, 3)), 0x7E);
        }
    }
    return out;
}

struct Summary {
    long frames = -1, ok = -1, crc = -1, dropped = -1, partial = -1;
    long long bytes = -1;
};

Summary summary(const std::string &listing, const std::string &label)
{
    Summary s;
    const size_t at = listing.find("\nsummary" + label + ": ");
    if (at == std::string::npos ||
        std::sscanf(listing.c_str() + at + 10 + label.size(),
                    "frames %ld (ok %ld, crc-error %ld, dropped %ld, partial %ld), bytes %lld",
                    &s.frames, &s.ok, &s.crc, &s.dropped, &s.partial, &s.bytes) != 6)
        return Summary();
    return s;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// True when the line starts with the time column: seconds with six
// decimals, right-aligned in ten characters (the point in the fourth, for
// the first 1000 seconds).
bool timed(const std::string &l)
{
    size_t i = l.find_first_not_of(' ');
    if (i == std::string::npos || i >= 10 || l.size() < 11 || l[10] != ' ')
        return false;
    const size_t point = l.find('.', i);
    if (point != 3 || point == i)
        return false;
    for (; i < 10; ++i)
        if (i != point && (l[i] < '0' || l[i] > '9'))
            return false;
    return true;
}

// The frame lines of one direction of a listing with times (mark '>' or
// '<', or ' ' for decode --time), without the time and direction columns,
// checked for their form and for times that never go back.
std::vector<std::string> rowsOf(const std::string &listing, char mark)
{
    std::vector<std::string> rows;
    double last = 0;
    for (const std::string &l : lines(listing)) {
        if (l.size() < 12 || l[11] != mark || l.compare(0, 7, "summary") == 0 ||
            l.compare(0, 10, "      time") == 0)
            continue;
        if (l.compare(0, 10, "          ") == 0) { // a partial frame at the end
            rows.push_back(l.substr(12));
            continue;
        }
        check(timed(l), "line without a time: " + l);
        const double t = std::atof(l.c_str());
        check(t >= last, "time goes back at: " + l);
        last = t;
        rows.push_back(l.substr(12));
    }
    return rows;
}

std::string status(const std::string &row)
{
    std::istringstream f(row);
    std::string offset, length, s;
    f >> offset >> length >> s;
    return s;
}

std::string startTap(Run &tap, const std::string &what)
{
    const std::string app = tap.appEnd();
    check(!app.empty(), what + ": the tap named no application's end: " + tap.errText);
    return app;
}

// Gives the device settings a tap would not leave: not raw, 9600 baud.
// Returns them, as the line keeps them, for settingsBack.
termios unusualSettings(Pty &dev)
{
    termios before{};
    tcgetattr(dev.slave, &before);
    before.c_lflag |= ICANON | ISIG;
    before.c_iflag |= ICRNL;
    cfsetspeed(&before, B9600);
    tcsetattr(dev.slave, TCSANOW, &before);
    tcgetattr(dev.slave, &before);
    return before;
}

bool settingsBack(Pty &dev, const termios &before)
{
    termios after{};
    tcgetattr(dev.slave, &after);
    return after.c_iflag == before.c_iflag && after.c_oflag == before.c_oflag &&
           after.c_cflag == before.c_cflag && after.c_lflag == before.c_lflag &&
           cfgetospeed(&after) == cfgetospeed(&before);
}

// The listing of a tap, checked against what was sent each way: the
// statuses in order, each direction's rows the same as 'vemlink decode'
// lists for the bytes the tap saved, the files the bytes themselves.
void listingChecks(TempDir &dir)
{
    Pty dev;
    const termios before = unusualSettings(dev);

    const std::string prefix = dir.path() + "/cap";
    Run tap({"tap", dev.path, "--baud", "4000000", "--save", prefix}, dir.path() + "/listing");
    const std::string appPath = startTap(tap, "listing");
    if (appPath.empty())
        return;
    const int app = openApp(appPath);

    Bytes overlong = {0x7E};
    overlong.insert(overlong.end(), 1024, 'U'); // the 1024th unstuffed byte is discarded
    overlong.push_back(0x7E);
    Bytes corrupt = frame(text("abc"));
    corrupt[3] = 'd';
    Bytes dense = {0x7E, 0x7D, 0x7E, 0x7D, 0x7D, 0x7E, 0x20};
    Bytes tx = frame(text("get status"));
    append(tx, corrupt);
    append(tx, overlong);
    append(tx, frame(dense));
    tx.push_back(0x42); // left partial
    Bytes rx = frame(dense);
    append(rx, overlong);
    append(rx, frame(text("status ok")));
    append(rx, corrupt);

    // Both ways at once, in pieces.
    for (size_t i = 0; i < std::max(tx.size(), rx.size()); i += 500) {
        if (i < tx.size())
            sendAll(app, Bytes(tx.begin() + i, tx.begin() + std::min(tx.size(), i + 500)));
        if (i < rx.size())
            sendAll(dev.master, Bytes(rx.begin() + i, rx.begin() + std::min(rx.size(), i + 500)));
    }
    check(receive(dev.master, tx.size()) == tx, "listing: the device got other bytes");
    check(receive(app, rx.size()) == rx, "listing: the application got other bytes");
    check(tap.stop(SIGTERM) == 0, "tap on SIGTERM: exit status " + std::to_string(tap.status));
    close(app);

    const std::string listing = tap.output();
    check(lines(listing).at(0) == "      time    offset  length  status     data",
          "tap header: " + lines(listing).at(0));
    const auto txRows = rowsOf(listing, '>');
    const auto rxRows = rowsOf(listing, '<');
    const std::vector<std::string> txWant = {"ok", "crc-error", "dropped", "ok", "partial"};
    const std::vector<std::string> rxWant = {"ok", "dropped", "ok", "crc-error"};
    std::vector<std::string> txGot, rxGot;
    for (const auto &r : txRows)
        txGot.push_back(status(r));
    for (const auto &r : rxRows)
        rxGot.push_back(status(r));
    check(txGot == txWant, "tap statuses >:\n" + listing);
    check(rxGot == rxWant, "tap statuses <:\n" + listing);
    const Summary t = summary(listing, " >");
    const Summary r = summary(listing, " <");
    check(t.ok == 2 && t.crc == 1 && t.dropped == 1 && t.partial == 1 &&
              t.bytes == static_cast<long long>(tx.size()),
          "tap summary >:\n" + listing);
    check(r.ok == 2 && r.crc == 1 && r.dropped == 1 && r.partial == 0 &&
              r.bytes == static_cast<long long>(rx.size()),
          "tap summary <:\n" + listing);

    // Saved bytes, and the same rows from decode.
    const std::string txSaved = readFile(prefix + ".tx");
    const std::string rxSaved = readFile(prefix + ".rx");
    check(Bytes(txSaved.begin(), txSaved.end()) == tx,
          "--save: PREFIX.tx differs from the bytes sent");
    check(Bytes(rxSaved.begin(), rxSaved.end()) == rx,
          "--save: PREFIX.rx differs from the bytes sent");
    for (const char *way : {"tx", "rx"}) {
        Run decode({"decode", prefix + "." + way}, dir.path() + "/decoded");
        check(decode.exited(EXIT_MS) && decode.status == 0, "decode of the saved bytes");
        auto rows = lines(decode.output());
        rows.erase(rows.begin());
        rows.pop_back();
        check(rows == (way[0] == 't' ? txRows : rxRows),
              std::string("tap rows differ from decode of PREFIX.") + way);
    }

    check(settingsBack(dev, before), "the tap did not put the device's settings back");
}

// More than a MiB each way at once, both directions moving together; nothing
// added, lost or reordered, and every intact frame listed. With bench, also
// the throughput. With corrupt (a bench only), through 'corrupt 1%' each
// way: the cost of the impairments' path, where bytes change but none is
// added or lost.
void loadChecks(TempDir &dir, size_t bytes, bool bench, bool corrupt = false)
{
    Pty dev;
    long txGood = 0;
    long rxGood = 0;
    const Bytes tx = traffic(1, bytes, txGood);
    const Bytes rx = traffic(2, bytes, rxGood);
    const std::string out = bench ? "/dev/null" : dir.path() + "/load";
    std::vector<std::string> args = {"tap", dev.path};
    if (!bench)
        args.insert(args.end(), {"--save", dir.path() + "/load"});
    if (corrupt)
        args.insert(args.end(), {"--to-device", "corrupt 1%", "--to-app", "corrupt 1%"});
    Run tap(args, out);
    const std::string appPath = startTap(tap, "load");
    if (appPath.empty())
        return;
    const int app = openApp(appPath);
    Pump::Way a{app, dev.master, tx};
    Pump::Way b{dev.master, app, rx};
    Pump::run(a, b);
    const double tapCpu = tap.cpuSeconds();
    check(corrupt ? a.got.size() == tx.size() : a.got == tx,
          "load: the device got " + std::to_string(a.got.size()) + " bytes, not the " +
              std::to_string(tx.size()) + " sent, or other bytes");
    check(corrupt ? b.got.size() == rx.size() : b.got == rx,
          "load: the application got " + std::to_string(b.got.size()) + " bytes, not the " +
              std::to_string(rx.size()) + " sent, or other bytes");
    check(tap.stop(SIGINT) == 0, "tap on SIGINT: exit status " + std::to_string(tap.status));
    close(app);
    if (bench) {
        std::printf("tap forwarding over ptys%s, both directions at once, %.1f MiB each way:\n",
                    corrupt ? " with corrupt 1% each way" : "",
                    static_cast<double>(bytes) / (1 << 20));
        std::printf("  application -> device  %8.1f MB/s\n", tx.size() / a.seconds / 1e6);
        std::printf("  device -> application  %8.1f MB/s\n", rx.size() / b.seconds / 1e6);
        std::printf("  the tap's CPU time     %8.2f s in %.2f s\n", tapCpu,
                    std::max(a.seconds, b.seconds));
        return;
    }
    const std::string listing = tap.output();
    const Summary t = summary(listing, " >");
    const Summary r = summary(listing, " <");
    check(t.ok == txGood && t.bytes == static_cast<long long>(tx.size()),
          "load: summary > has ok " + std::to_string(t.ok) + " of " + std::to_string(txGood) +
              ", bytes " + std::to_string(t.bytes));
    check(r.ok == rxGood && r.bytes == static_cast<long long>(rx.size()),
          "load: summary < has ok " + std::to_string(r.ok) + " of " + std::to_string(rxGood) +
              ", bytes " + std::to_string(r.bytes));
    check(t.crc > 0 && t.dropped > 0 && r.crc > 0 && r.dropped > 0,
          "load: no crc-error or dropped frames listed");
    check(readFile(dir.path() + "/load.tx").size() == tx.size(), "load: PREFIX.tx is not complete");
}

// The application closes its end and opens it again, through the --link
// path; the tap stays, forwards, and does not spin while nobody holds it.
// Then the device hangs up: with --no-reconnect, the summary and exit
// status 1.
void reopenAndHangUp(TempDir &dir)
{
    Pty dev;
    const std::string link = dir.path() + "/ttyAPP";
    Run tap({"tap", "--device", dev.path, "--link", link, "--no-reconnect"},
            dir.path() + "/reopen");
    if (startTap(tap, "reopen").empty())
        return;
    int app = openApp(link);
    sendAll(app, frame(text("one")));
    check(receive(dev.master, 7) == frame(text("one")), "reopen: first frame not forwarded");
    close(app);

    // A tap that spins takes most of a core; one that waits, next to none.
    pause(200);
    const double cpu = tap.cpuSeconds();
    pause(1000);
    const double busy = tap.cpuSeconds() - cpu;
    check(busy < 0.5, "reopen: the tap used " + std::to_string(busy) +
                          " s of CPU in 1 s while the application was away");

    app = openApp(link);
    sendAll(app, frame(text("two")));
    check(receive(dev.master, 7) == frame(text("two")), "reopen: frame after reopening lost");
    sendAll(dev.master, frame(text("back")));
    check(receive(app, 8) == frame(text("back")), "reopen: reply after reopening lost");
    close(app);

    dev.hangUp();
    check(tap.exited(EXIT_MS) && tap.status == 1,
          "hang-up: exit status " + std::to_string(tap.status) + ", not 1");
    check(tap.errText.find("hang-up") != std::string::npos, "hang-up not said: " + tap.errText);
    const std::string listing = tap.output();
    check(summary(listing, " >").ok == 2 && summary(listing, " <").ok == 1,
          "hang-up: summary wrong:\n" + listing);
    check(access(link.c_str(), F_OK) != 0, "the tap left its --link behind");
}

// A fake device for send: frames that arrive on master come back framed
// again, while run is alive, and those that came before it ended are read.
long echo(Pty &dev, Run &run, bool answer, std::vector<Bytes> &got)
{
    cHDLC framer;
    unsigned char payload[1023];
    unsigned char chunk[4096];
    // One more look once it has ended: a quick run may be gone before its
    // bytes are read here.
    for (bool ended = false; !ended;) {
        ended = run.exited(0);
        pollfd p{dev.master, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = read(dev.master, chunk, sizeof chunk);
        for (ssize_t i = 0; i < n; ++i) {
            int len = 0;
            if (framer.unFrameByte(chunk[i], payload, &len)) {
                got.emplace_back(payload, payload + len);
                if (answer)
                    sendAll(dev.master, frame(got.back()));
            }
        }
    }
    return static_cast<long>(got.size());
}

void sendChecks(TempDir &dir)
{
    const std::string out = dir.path() + "/send";
    {
        Pty dev;
        std::vector<Bytes> got;
        Run send({"send", "--device", dev.path, "--reply", "2", "61", "7E 7D", "63"}, out);
        echo(dev, send, true, got);
        const std::string listing = send.output();
        check(send.status == 0,
              "send --reply: exit status " + std::to_string(send.status) + ": " + send.errText);
        check(got.size() == 1 && got[0] == Bytes({0x61, 0x7E, 0x7D, 0x63}),
              "send: the device got something else");
        check(rowsOf(listing, '<') ==
                  std::vector<std::string>({"       0       4  ok         61 7E 7D 63  |a~}c|"}),
              "send --reply: no reply listed:\n" + listing);
    }
    {
        Pty dev;
        std::vector<Bytes> got;
        const std::string commands = dir.write("commands", "get status\nping 1\n\nlast");
        Run send({"send", "--device", dev.path, "--baud", "9600", "--lines", "--reply", "2"}, out,
                 commands);
        echo(dev, send, true, got);
        const std::string listing = send.output();
        check(send.status == 0,
              "send --lines: exit status " + std::to_string(send.status) + ": " + send.errText);
        check(got == std::vector<Bytes>({text("get status"), text("ping 1"), {}, text("last")}),
              "send --lines: the device got other frames");
        check(summary(listing, " <").ok == 4, "send --lines: replies not listed:\n" + listing);
    }
    {
        Pty dev;
        std::vector<Bytes> got;
        Run send({"send", "--device", dev.path, "--reply", "0.2", "61"}, out);
        echo(dev, send, false, got);
        check(send.status == 1 && send.errText.find("no intact frame") != std::string::npos,
              "send to a silent device: exit status " + std::to_string(send.status) + ": " +
                  send.errText);
    }
    {
        Pty dev;
        std::vector<Bytes> got;
        const std::string raw = dir.write("raw", std::string("\x00\x7E\x01", 3));
        Run send({"send", "--device", dev.path, "-"}, out, raw);
        echo(dev, send, false, got);
        check(send.status == 0 && got == std::vector<Bytes>({{0x00, 0x7E, 0x01}}),
              "send - from standard input");
    }
}

// decode on a live device: lines as frames arrive, with the time; SIGINT
// lists the partial frame and the summary, and so does a hang-up with
// --no-reconnect.
void decodeChecks(TempDir &dir)
{
    Pty dev;
    Run decode({"decode", "--device", dev.path, "--baud", "1200", "--time"}, dir.path() + "/live");
    Bytes bytes = frame(text("hello"));
    bytes.push_back('x');
    pause(300); // set raw before the bytes come
    sendAll(dev.master, bytes);
    const auto start = Clock::now();
    while (decode.output().find("hello") == std::string::npos && msSince(start) < START_MS)
        pause(20);
    check(decode.stop(SIGINT) == 0,
          "decode --device on SIGINT: exit status " + std::to_string(decode.status));
    const std::string listing = decode.output();
    check(rowsOf(listing, ' ') ==
              std::vector<std::string>({"       0       5  ok         68 65 6C 6C 6F  |hello|",
                                        "       8       1  partial    78  |x|"}),
          "decode --device --time listing:\n" + listing);
    check(summary(listing, "").partial == 1, "decode --device: no summary:\n" + listing);

    // A hang-up ends the device's input: the summary, exit status 0.
    Pty gone;
    Run hungUp({"decode", "--device", gone.path, "--no-reconnect"}, dir.path() + "/hung-up");
    sendAll(gone.master, frame(text("bye")));
    const auto sent = Clock::now();
    while (hungUp.output().find("bye") == std::string::npos && msSince(sent) < START_MS)
        pause(20);
    gone.hangUp();
    check(hungUp.exited(EXIT_MS) && hungUp.status == 0,
          "decode --device at a hang-up: exit status " + std::to_string(hungUp.status));
    check(summary(hungUp.output(), "").ok == 1, "decode --device at a hang-up: no summary");
}

// Waits up to ms for done() to hold.
template <typename Done> bool waitFor(Done done, int ms = STALL_MS)
{
    const auto start = Clock::now();
    while (!done()) {
        if (msSince(start) >= ms)
            return false;
        pause(10);
    }
    return true;
}

// Waits up to START_MS for what() to hold.
template <typename Pred> bool waitUntil(Pred what)
{
    const auto start = Clock::now();
    while (!what()) {
        if (msSince(start) > START_MS)
            return false;
        pause(20);
    }
    return true;
}

long long fileSize(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// A listing nobody reads: standard output a pipe that is never read. The
// link still carries every byte both ways, the tap says it drops lines, and
// it still ends at once on SIGTERM, counting what it did not show.
void stuckListingChecks(TempDir &, size_t bytes)
{
    Pty dev;
    int pipeFd[2];
    check(pipe2(pipeFd, O_CLOEXEC) == 0, "pipe2");
    long txGood = 0;
    long rxGood = 0;
    const Bytes tx = traffic(3, bytes, txGood);
    const Bytes rx = traffic(4, bytes, rxGood);
    Run tap({"tap", dev.path}, "/dev/null", "/dev/null", pipeFd[1]);
    close(pipeFd[1]);
    const std::string appPath = startTap(tap, "stuck listing");
    if (!appPath.empty()) {
        const int app = openApp(appPath);
        Pump::Way a{app, dev.master, tx};
        Pump::Way b{dev.master, app, rx};
        Pump::run(a, b);
        check(a.got == tx, "stuck listing: the device got " + std::to_string(a.got.size()) +
                               " bytes, not the " + std::to_string(tx.size()) + " sent");
        check(b.got == rx, "stuck listing: the application got " + std::to_string(b.got.size()) +
                               " bytes, not the " + std::to_string(rx.size()) + " sent");
        check(tap.stop(SIGTERM) == 0,
              "stuck listing: SIGTERM gave exit status " + std::to_string(tap.status));
        check(tap.errText.find("standard output fell behind; dropping") != std::string::npos,
              "stuck listing: no word of dropped lines: " + tap.errText);
        check(tap.errText.find(" lines not shown: standard output fell behind") !=
                  std::string::npos,
              "stuck listing: no count of the lines not shown: " + tap.errText);
        close(app);
    }
    close(pipeFd[0]);
}

// The ends a session meets: the terminal closes (SIGHUP) or the reader of
// the listing quits (EPIPE). Either way the capture files hold every byte
// forwarded, written through while the tap ran, mode 0600; the link is
// gone; the device has its earlier settings back.
void endingChecks(TempDir &dir)
{
    struct Case {
        const char *what;
        bool readerQuits; // else SIGHUP
        int status;
    };
    const Case cases[] = {{"SIGHUP", false, 0}, {"reader quits", true, 1}};
    int n = 0;
    for (const Case &c : cases) {
        const std::string what = c.what;
        Pty dev;
        const termios before = unusualSettings(dev);
        const std::string prefix = dir.path() + "/end" + std::to_string(n);
        const std::string link = dir.path() + "/ttyEND" + std::to_string(n++);
        int pipeFd[2];
        check(pipe2(pipeFd, O_CLOEXEC) == 0, "pipe2");
        Run tap({"tap", dev.path, "--save", prefix, "--link", link}, prefix + ".out", "/dev/null",
                c.readerQuits ? pipeFd[1] : -1);
        close(pipeFd[1]);
        if (c.readerQuits) {
            // Sees the column heads, then goes, as 'head -1' does.
            const Bytes heads = receive(pipeFd[0], 10);
            check(heads.size() == 10, what + ": no column heads on the pipe");
        }
        close(pipeFd[0]);
        if (startTap(tap, what).empty())
            continue;
        const int app = openApp(link);
        const Bytes tx = frame(text("login: root"));
        const Bytes rx = frame(text("Password:"));
        sendAll(app, tx);
        const Bytes gotTx = receive(dev.master, tx.size());
        check(gotTx == tx, what + ": the device got other bytes");
        if (!c.readerQuits) {
            sendAll(dev.master, rx);
            check(receive(app, rx.size()) == rx, what + ": the application got other bytes");
            // Written through: in the files while the tap runs.
            check(waitFor([&]() {
                      return fileSize(prefix + ".tx") == static_cast<long long>(tx.size()) &&
                             fileSize(prefix + ".rx") == static_cast<long long>(rx.size());
                  }),
                  what + ": the captures do not hold the bytes while the tap runs");
            check(tap.stop(SIGHUP) == c.status,
                  what + ": exit status " + std::to_string(tap.status));
        } else {
            check(tap.exited(EXIT_MS) && tap.status == c.status,
                  what + ": exit status " + std::to_string(tap.status));
            check(tap.errText.find("standard output was closed") != std::string::npos,
                  what + ": no message: " + tap.errText);
        }
        close(app);
        const std::string savedTx = readFile(prefix + ".tx");
        check(Bytes(savedTx.begin(), savedTx.end()) == gotTx,
              what + ": PREFIX.tx does not hold the bytes forwarded");
        if (!c.readerQuits) {
            const std::string savedRx = readFile(prefix + ".rx");
            check(Bytes(savedRx.begin(), savedRx.end()) == rx,
                  what + ": PREFIX.rx does not hold the bytes forwarded");
        }
        struct stat st {};
        check(stat((prefix + ".tx").c_str(), &st) == 0 && (st.st_mode & 0777) == 0600,
              what + ": PREFIX.tx is not mode 0600");
        struct stat gone {};
        check(lstat(link.c_str(), &gone) != 0, what + ": the link was left behind");
        check(settingsBack(dev, before), what + ": the device's settings are not back");
    }
}

// --save and --link onto paths that exist: refused with status 1 and a
// message naming the path, left as they were; --force replaces a regular
// capture only; a stale link of an earlier tap is taken over.
void pathChecks(TempDir &dir)
{
    Pty dev;
    const std::string old = "613100 bytes of an earlier session";
    const std::string target = dir.write("target", "not a capture");
    const std::string file = dir.write("file", old);
    std::string stale;
    for (int i = 999; i < 1100 && stale.empty(); ++i)
        if (access(("/dev/pts/" + std::to_string(i)).c_str(), F_OK) != 0)
            stale = "/dev/pts/" + std::to_string(i);

    struct Case {
        const char *what;
        std::vector<std::string> args;
        std::string made;  // the path the case sets up beforehand
        std::string as;    // a file's text, or with link a link's target
        bool link;         // made is a symbolic link to as
        bool starts;       // the tap runs; else refused naming named
        std::string named; // path in the message
    };
    const std::string p = dir.path() + "/p";
    const std::vector<Case> cases = {
        {"existing capture", {"--save", p + "0"}, p + "0.rx", old, false, false, p + "0.rx"},
        {"symlinked capture", {"--save", p + "1"}, p + "1.tx", target, true, false, p + "1.tx"},
        {"symlinked capture, --force",
         {"--save", p + "2", "--force"},
         p + "2.tx",
         target,
         true,
         false,
         p + "2.tx"},
        {"existing capture, --force",
         {"--save", p + "3", "--force"},
         p + "3.tx",
         old,
         false,
         true,
         ""},
        {"link onto a file", {"--link", p + "4"}, p + "4", old, false, false, p + "4"},
        {"link onto a foreign link", {"--link", p + "5"}, p + "5", dev.path, true, false, p + "5"},
        {"link onto a stale pts link", {"--link", p + "6"}, p + "6", stale, true, true, ""},
    };
    for (const Case &c : cases) {
        const std::string what = c.what;
        if (c.link)
            check(symlink(c.as.c_str(), c.made.c_str()) == 0, what + ": symlink");
        else
            dir.write(c.made.substr(dir.path().size() + 1), c.as);
        std::vector<std::string> args = {"tap", dev.path};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Run tap(args, dir.path() + "/paths");
        if (c.starts) {
            check(!startTap(tap, what).empty(), what + ": the tap did not start");
            if (c.link) {
                char now[256] = "";
                const ssize_t k = readlink(c.made.c_str(), now, sizeof now - 1);
                check(k > 0 && std::string(now, static_cast<size_t>(k)) != c.as,
                      what + ": the stale link was not taken over");
            } else {
                check(fileSize(c.made) == 0, what + ": --force did not replace the capture");
            }
            check(tap.stop(SIGTERM) == 0, what + ": exit status " + std::to_string(tap.status));
            if (c.link)
                check(access(c.made.c_str(), F_OK) != 0 && errno == ENOENT,
                      what + ": the link was left behind");
        } else {
            check(tap.exited(EXIT_MS) && tap.status == 1,
                  what + ": exit status " + std::to_string(tap.status) + ", not 1");
            check(tap.errText.find(c.named) != std::string::npos,
                  what + ": the message does not name " + c.named + ": " + tap.errText);
            if (c.link) {
                char now[256] = "";
                const ssize_t k = readlink(c.made.c_str(), now, sizeof now - 1);
                check(k > 0 && std::string(now, static_cast<size_t>(k)) == c.as,
                      what + ": the link was changed");
            } else {
                check(readFile(c.made) == old, what + ": the file was changed");
            }
            check(readFile(target) == "not a capture", what + ": the link's target was changed");
            check(readFile(file) == old, what + ": another file was changed");
        }
    }
    // A refused .rx leaves no new .tx behind.
    check(access((p + "0.tx").c_str(), F_OK) != 0, "a refused capture left PREFIX.tx behind");
}

// A device already in use: a second vemlink beside a tap, and a device that
// a terminal program holds with flock. Both refused with status 1.
void lockChecks(TempDir &dir)
{
    const std::string out = dir.path() + "/locks";
    Pty dev;
    const std::string busy = dev.path + " is in use by another program";
    {
        Run tap({"tap", dev.path}, out);
        if (!startTap(tap, "lock").empty()) {
            Run second({"decode", "--device", dev.path}, dir.path() + "/second");
            check(second.exited(EXIT_MS) && second.status == 1 &&
                      second.errText.find(busy) != std::string::npos,
                  "a second opener beside a tap: exit status " + std::to_string(second.status) +
                      ": " + second.errText);
            check(tap.stop(SIGTERM) == 0, "lock: the tap's exit status");
        }
    }
    const int held = open(dev.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    check(held >= 0 && flock(held, LOCK_EX | LOCK_NB) == 0, "flock on the device");
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"send", "--device", dev.path, "61"},
          std::vector<std::string>{"tap", dev.path}}) {
        Run run(args, out);
        check(run.exited(EXIT_MS) && run.status == 1 && run.errText.find(busy) != std::string::npos,
              args[0] + " on a device held with flock: exit status " + std::to_string(run.status) +
                  ": " + run.errText);
    }
    close(held);
    // Free again once the lock is gone.
    Run send({"send", "--device", dev.path, "61"}, out);
    check(send.exited(EXIT_MS) && send.status == 0, "send after the lock went: " + send.errText);
}

// Frames waiting in the device's input before send --reply are no reply;
// with --lines, frames between commands are listed as they come.
void replyChecks(TempDir &dir)
{
    const std::string out = dir.path() + "/stale";
    {
        Pty dev;
        sendAll(dev.master, frame(text("stale")));
        pause(100);
        std::vector<Bytes> got;
        Run send({"send", "--device", dev.path, "--reply", "0.5", "61"}, out);
        echo(dev, send, false, got);
        check(send.status == 1 && send.errText.find("no intact frame") != std::string::npos,
              "send --reply after stale input: exit status " + std::to_string(send.status) + ": " +
                  send.errText);
        check(send.output().find("stale") == std::string::npos,
              "send --reply listed stale input:\n" + send.output());
    }
    {
        Pty dev;
        const std::string fifo = dir.path() + "/console";
        check(mkfifo(fifo.c_str(), 0600) == 0, "mkfifo");
        Run send({"send", "--device", dev.path, "--lines", "--reply", "2"}, out, fifo);
        const int commands = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        const std::string first = "get status\n";
        check(write(commands, first.data(), first.size()) == static_cast<ssize_t>(first.size()),
              "writing the first command");
        check(receive(dev.master, frame(text("get status")).size()) == frame(text("get status")),
              "send --lines: the first command did not come");
        sendAll(dev.master, frame(text("ok")));
        check(waitFor([&]() { return send.output().find("|ok|") != std::string::npos; }),
              "send --lines: the reply is not listed");
        pause(2500); // past the reply time: what comes now comes between commands
        sendAll(dev.master, frame(text("event")));
        check(waitFor([&]() { return send.output().find("|event|") != std::string::npos; }),
              "send --lines: a frame between commands is not listed as it comes:\n" +
                  send.output());
        const std::string second = "ping\n";
        check(write(commands, second.data(), second.size()) == static_cast<ssize_t>(second.size()),
              "writing the second command");
        check(receive(dev.master, frame(text("ping")).size()) == frame(text("ping")),
              "send --lines: the second command did not come");
        sendAll(dev.master, frame(text("pong")));
        close(commands);
        check(send.exited(EXIT_MS) && send.status == 0,
              "send --lines: exit status " + std::to_string(send.status) + ": " + send.errText);
        const std::string listing = send.output();
        const auto rows = rowsOf(listing, '<');
        check(rows.size() == 3 && rows[1].find("|event|") != std::string::npos,
              "send --lines listing:\n" + listing);
    }
}

// Endless input: encode and send stop reading past the payload limit and
// exit 2 naming it, their memory bounded: their peak is held against that of
// the same command on a payload that fits, so that what an emulator or a
// sanitizer adds cancels out.
void boundedInputChecks(TempDir &dir, size_t bytes)
{
    const std::string small = dir.write("small", std::string(1000, 'a') + "\n");
    Pty dev;
    const std::vector<std::vector<std::string>> commands = {
        {"encode"}, {"send", "--device", dev.path, "-"}, {"send", "--device", dev.path, "--lines"}};
    for (const auto &args : commands) {
        const std::string fifo = dir.path() + "/endless";
        unlink(fifo.c_str());
        check(mkfifo(fifo.c_str(), 0600) == 0, "mkfifo");
        Run fits(args, dir.path() + "/endless.out", small);
        check(fits.exited(EXIT_MS) && fits.status == 0,
              args[0] + " on a payload that fits: " + fits.errText);
        Run run(args, dir.path() + "/endless.out", fifo);
        const int in = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        const std::vector<unsigned char> zeros(65536, 0);
        size_t sent = 0;
        while (sent < bytes) {
            const ssize_t k = write(in, zeros.data(), std::min(zeros.size(), bytes - sent));
            if (k <= 0)
                break; // EPIPE: the command stopped reading
            sent += static_cast<size_t>(k);
        }
        close(in);
        const std::string what = args[0] + (args.size() > 3 ? " " + args[3] : std::string());
        check(run.exited(EXIT_MS) && run.status == 2,
              what + " on endless input: exit status " + std::to_string(run.status));
        check(run.errText.find("1021") != std::string::npos,
              what + ": the limit is not named: " + run.errText);
        const long marginKb = static_cast<long>(bytes / 4 / 1024);
        check(run.maxRssKb > 0 && run.maxRssKb < fits.maxRssKb + marginKb,
              what + ": peak memory " + std::to_string(run.maxRssKb) + " KB, against " +
                  std::to_string(fits.maxRssKb) + " KB for a payload that fits");
        check(sent < bytes, what + ": read all " + std::to_string(bytes) + " bytes");
    }
}

// Runs longer than a receiver holds are dropped, whatever it collects after
// the discard; the longest frame it accepts is still ok.
void overlongChecks(TempDir &dir)
{
    auto run = [](unsigned char b, size_t n) {
        Bytes r = {0x7E};
        for (size_t i = 0; i < n; ++i)
            r.push_back(b);
        r.push_back(0x7E);
        return r;
    };
    Bytes bytes = run('U', 1100);
    append(bytes, run('V', 3000));
    // 1100 unstuffed bytes, 2200 on the wire.
    Bytes stuffed = {0x7E};
    for (int i = 0; i < 1100; ++i)
        append(stuffed, {0x7D, 0x5E});
    stuffed.push_back(0x7E);
    append(bytes, stuffed);
    // 1024 bytes of junk and a whole frame's body without a flag between:
    // a receiver delivers the body, but the run is 1024 + 3 + 2 bytes long.
    Bytes body = frame(text("abc"));
    Bytes junkThenBody = run('W', 1024);
    junkThenBody.pop_back();
    junkThenBody.insert(junkThenBody.end(), body.begin() + 1, body.end());
    append(bytes, junkThenBody);
    append(bytes, frame(Bytes(1021, 'X'))); // 1023 unstuffed: the longest accepted
    const std::string path = dir.write("overlong", std::string(bytes.begin(), bytes.end()));
    Run decode({"decode", path}, dir.path() + "/overlong.txt");
    check(decode.exited(EXIT_MS) && decode.status == 0, "decode of overlong runs");
    std::vector<std::string> got;
    for (const std::string &l : lines(decode.output())) {
        std::istringstream f(l);
        std::string offset, length, s;
        f >> offset >> length >> s;
        if (offset != "offset" && offset != "summary:")
            got.push_back(length + " " + s);
    }
    const std::vector<std::string> want = {"1100 dropped", "3000 dropped", "2200 dropped",
                                           "1029 dropped", "1021 ok"};
    std::string listed;
    for (const std::string &g : got)
        listed += g + "\n";
    check(got == want, "overlong runs listed as:\n" + listed);
}

// A full disk under --save: said at once, the forwarding goes on, exit
// status 1 at the end. Needs a small tmpfs; 77 (skipped) where none can be
// mounted.
int fullDiskCheck(TempDir &dir)
{
    const std::string disk = dir.path() + "/disk";
    mkdir(disk.c_str(), 0700);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        std::printf("SKIP: full disk: cannot mount a small tmpfs here: %s\n", std::strerror(errno));
        return 77;
    }
    {
        Pty dev;
        Run tap({"tap", dev.path, "--save", disk + "/cap"}, dir.path() + "/full");
        const std::string appPath = startTap(tap, "full disk");
        if (!appPath.empty()) {
            const int app = openApp(appPath);
            long good = 0;
            const Bytes tx = traffic(5, 300 * 1024, good);
            const Bytes none;
            Pump::Way a{app, dev.master, tx};
            Pump::Way b{dev.master, app, none};
            Pump::run(a, b);
            check(a.got == tx, "full disk: the device got " + std::to_string(a.got.size()) +
                                   " bytes, not the " + std::to_string(tx.size()) + " sent");
            check(waitFor([&]() {
                      tap.drainErr();
                      return tap.errText.find("No space left") != std::string::npos;
                  }),
                  "full disk: not said while the tap runs: " + tap.errText);
            check(tap.stop(SIGTERM) == 1, "full disk: exit status " + std::to_string(tap.status));
            close(app);
        }
    }
    umount(disk.c_str());
    return gFailures == 0 ? 0 : 1;
}

bool listed(const Run &run, const std::string &text)
{
    return waitUntil([&]() { return run.output().find(text) != std::string::npos; });
}

// What a pseudo-terminal keeps of its line settings, written out from its
// termios for comparing and for messages: "9600 cstopb crtscts". Linux keeps
// a pty at 8 data bits without parity whatever it is told, so those are
// not written.
std::string settingsOf(int fd)
{
    static const struct {
        speed_t speed;
        const char *name;
    } SPEEDS[] = {{B1200, "1200"},     {B9600, "9600"},     {B57600, "57600"},
                  {B115200, "115200"}, {B460800, "460800"}, {B4000000, "4000000"}};
    termios tio{};
    if (tcgetattr(fd, &tio) < 0)
        return std::string("tcgetattr: ") + std::strerror(errno);
    std::string text = "other";
    for (const auto &s : SPEEDS)
        if (cfgetospeed(&tio) == s.speed)
            text = s.name;
    if ((tio.c_cflag & CSTOPB) != 0)
        text += " cstopb";
    if ((tio.c_cflag & CRTSCTS) != 0)
        text += " crtscts";
    if ((tio.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF))
        text += " ixon ixoff";
    return text;
}

// Each line option, in tap, decode --device and send, read back from the
// device while the command has it; the tap's application end starts the
// same. A pty device takes no other character than 8N: asked for one, the
// command ends, naming it.
void lineChecks(TempDir &dir)
{
    struct Case {
        std::vector<std::string> args;
        const char *want;      // the device's settings, read back
        const char *announced; // by a tap on standard error; or the error
    };
    const Case CASES[] = {
        {{"tap", "--baud", "9600", "--stopbits", "2"}, "9600 cstopb", "at 9600 8N2;"},
        {{"tap", "--flow", "xonxoff"}, "115200 ixon ixoff", "at 115200 8N1 xonxoff;"},
        {{"tap", "--rtscts", "--baud=460800"}, "460800 crtscts", "at 460800 8N1 rtscts;"},
        {{"tap", "--flow=rtscts", "--stopbits=2", "--baud", "1200"},
         "1200 cstopb crtscts",
         "at 1200 8N2 rtscts;"},
        {{"decode", "--baud", "57600", "--flow", "xonxoff", "--stopbits", "2"},
         "57600 cstopb ixon ixoff",
         nullptr},
        {{"send", "--stopbits", "2", "--flow", "rtscts", "--reply", "10", "61"},
         "115200 cstopb crtscts",
         nullptr},
        {{"tap", "--databits", "7", "--parity", "even", "--baud", "9600"},
         nullptr,
         " to 9600 7E1: the driver does not take it"},
        {{"decode", "--databits", "5"}, nullptr, " to 115200 5N1: the driver does not take it"},
        {{"send", "--parity", "odd", "--stopbits", "2", "61"},
         nullptr,
         " to 115200 8O2: the driver does not take it"},
    };
    for (const Case &c : CASES) {
        Pty dev;
        std::vector<std::string> args = {c.args[0], "--device", dev.path};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        Run run(args, dir.path() + "/line");
        std::string what = "";
        for (const std::string &a : args)
            what += " " + a;
        if (c.want == nullptr) {
            check(run.exited(EXIT_MS) && run.status == 1 &&
                      run.errText.find("cannot set " + dev.path + c.announced) != std::string::npos,
                  what + ": exit status " + std::to_string(run.status) + ": " + run.errText);
            continue;
        }
        if (c.args[0] == "tap") {
            const std::string appPath = startTap(run, "line options");
            if (appPath.empty())
                continue;
            check(run.errText.find(c.announced) != std::string::npos,
                  what + ": not announced as " + c.announced + ": " + run.errText);
            const int app = openApp(appPath);
            check(settingsOf(app) == c.want,
                  what + ": the application's end is " + settingsOf(app) + ", not " + c.want);
            close(app);
        }
        check(waitUntil([&]() { return settingsOf(dev.slave) == c.want; }),
              what + ": the device is " + settingsOf(dev.slave) + ", not " + c.want);
        run.stop(SIGTERM);
    }

    // A rate no B-constant names, through termios2.
    Pty dev;
    const long rate = termios2Rate(dev.slave);
    if (rate <= 0) {
        std::printf("SKIP: --baud 250000: the rate cannot be read as a number here (%s); "
                    "qemu-user does not translate termios2, and its powerpc termios reads 0\n",
                    rate < 0 ? std::strerror(errno) : "read as 0");
        return;
    }
    Run tap({"tap", dev.path, "--baud", "250000", "--stopbits", "2"}, dir.path() + "/line");
    const std::string appPath = startTap(tap, "--baud 250000");
    check(termios2Rate(dev.slave) == 250000,
          "--baud 250000: the device is at " + std::to_string(termios2Rate(dev.slave)));
    if (!appPath.empty()) {
        const int app = openApp(appPath);
        check(termios2Rate(app) == 250000,
              "--baud 250000: the application's end is at " + std::to_string(termios2Rate(app)));
        close(app);
    }
    check(tap.errText.find("at 250000 8N2;") != std::string::npos,
          "--baud 250000: not announced: " + tap.errText);
    check(tap.stop(SIGTERM) == 0, "--baud 250000: exit status " + std::to_string(tap.status));
}

// The application sets its end, twice; the device follows each time, and
// the listing says so. The data bits and parity do not reach the tap (the
// pty keeps 8N), so the events show those of the options.
void followChecks(TempDir &dir)
{
    // qemu-ppc64le writes past the target's termios on TCGETS (a plain
    // tcgetattr ends in "stack smashing detected"), so settings read there
    // mean nothing.
    if (!gCommand.empty() && gCommand[0].find("qemu-ppc") != std::string::npos) {
        std::printf("SKIP: following the application's settings: qemu-user's powerpc "
                    "termios is unreliable\n");
        return;
    }
    struct Step {
        speed_t speed;
        tcflag_t cflag;
        tcflag_t iflag;
        bool keepLflag;     // false: c_lflag 0, EXTPROC and all, as some programs do
        const char *want;   // the device, read back
        const char *listed; // the event line
    };
    // After EXTPROC is gone the pty no longer tells the tap: the last two
    // steps are found by looking.
    const Step STEPS[] = {
        {B9600, CS7 | PARENB | CSTOPB, 0, true, "9600 cstopb", "> settings 9600 8N2\n"},
        {B460800, CS8, 0, true, "460800", "> settings 460800 8N1\n"},
        {B57600, CS8 | CRTSCTS, 0, false, "57600 crtscts", "> settings 57600 8N1 rtscts\n"},
        {B1200, CS8, IXON | IXOFF, false, "1200 ixon ixoff", "> settings 1200 8N1 xonxoff\n"}};
    Pty dev;
    Run tap({"tap", dev.path}, dir.path() + "/follow");
    const std::string appPath = startTap(tap, "follow");
    if (appPath.empty())
        return;
    const int app = openApp(appPath);
    for (const Step &s : STEPS) {
        termios tio{};
        tcgetattr(app, &tio);
        cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio.c_cflag |= s.cflag;
        tio.c_iflag |= s.iflag;
        if (!s.keepLflag)
            tio.c_lflag = 0;
        cfsetspeed(&tio, s.speed);
        tcsetattr(app, TCSANOW, &tio); // EINVAL for 7E: the pty keeps 8N
        check(waitUntil([&]() { return settingsOf(dev.slave) == s.want; }),
              std::string("follow: the device is ") + settingsOf(dev.slave) + ", not " + s.want);
        check(listed(tap, s.listed),
              std::string("follow: '") + s.listed + "' not listed:\n" + tap.output());
    }
    // The link goes on with the new settings.
    sendAll(app, frame(text("after")));
    check(receive(dev.master, 9) == frame(text("after")), "follow: frame after the settings lost");
    check(tap.stop(SIGTERM) == 0, "follow: exit status " + std::to_string(tap.status));
    close(app);
}

// socat stands in for a USB serial adapter: it bridges the device pty to
// a new one behind a link path, and the path goes away when socat ends.
struct Adapter {
    Adapter(const std::string &device, const std::string &link, const std::string &log)
        : run({"socat", device + ",raw,echo=0", "PTY,raw,echo=0,link=" + link}, log, "/dev/null",
              -1, true)
    {
        check(waitUntil([&]() { return access(link.c_str(), F_OK) == 0; }),
              "socat made no " + link + ": " + run.errText);
    }
    Run run;
};

// The adapter is pulled and plugged back: the tap keeps the application's
// end open, drops and counts what the application writes meanwhile, and
// forwards both ways again afterwards; decode --device goes on the same way.
void reconnectChecks(TempDir &dir)
{
    Pty dev;
    const std::string usb = dir.path() + "/ttyUSB";
    const std::string log = dir.path() + "/socat";
    auto adapter = std::make_unique<Adapter>(dev.path, usb, log);
    Run tap({"tap", usb}, dir.path() + "/reconnect");
    const std::string appPath = startTap(tap, "reconnect");
    if (appPath.empty())
        return;
    const int app = openApp(appPath);
    sendAll(app, frame(text("one")));
    check(receive(dev.master, 7) == frame(text("one")), "reconnect: first frame not forwarded");

    adapter->run.stop(SIGTERM);
    adapter.reset();
    check(listed(tap, "  device gone, waiting\n"),
          "reconnect: 'device gone, waiting' not listed:\n" + tap.output());
    const Bytes lost = frame(text("lost"));
    sendAll(app, lost);
    pause(300);
    adapter = std::make_unique<Adapter>(dev.path, usb, log);
    check(listed(tap, "  device back\n"), "reconnect: 'device back' not listed:\n" + tap.output());

    sendAll(app, frame(text("two")));
    check(receive(dev.master, 7) == frame(text("two")), "reconnect: frame to the device lost");
    sendAll(dev.master, frame(text("back")));
    check(receive(app, 8) == frame(text("back")), "reconnect: frame to the application lost");
    check(tap.stop(SIGTERM) == 0, "reconnect: exit status " + std::to_string(tap.status));
    close(app);
    const std::string listing = tap.output();
    check(listing.find("device gone 1 time; " + std::to_string(lost.size()) +
                       " bytes from the application dropped meanwhile") != std::string::npos,
          "reconnect: the dropped bytes are not counted:\n" + listing);
    check(summary(listing, " >").ok == 2 && summary(listing, " <").ok == 1,
          "reconnect: summary wrong:\n" + listing);

    // With --no-reconnect the adapter pulled out ends the tap: the summary,
    // exit status 1.
    {
        Run once({"tap", usb, "--no-reconnect"}, dir.path() + "/once");
        const std::string onceEnd = startTap(once, "--no-reconnect");
        const int end = onceEnd.empty() ? -1 : openApp(onceEnd);
        sendAll(end, frame(text("one")));
        check(receive(dev.master, 7) == frame(text("one")), "--no-reconnect: frame not forwarded");
        adapter->run.stop(SIGTERM);
        adapter.reset();
        check(once.exited(EXIT_MS) && once.status == 1 &&
                  once.errText.find(usb + ": hang-up") != std::string::npos,
              "--no-reconnect: exit status " + std::to_string(once.status) + ": " + once.errText);
        check(summary(once.output(), " >").ok == 1, "--no-reconnect: summary:\n" + once.output());
        close(end);
        adapter = std::make_unique<Adapter>(dev.path, usb, log);
    }

    // A path that goes away while its device still answers (a renamed
    // node, a udev link removed) counts as gone too.
    Pty acm;
    const std::string node = dir.path() + "/ttyACM0";
    check(symlink(acm.path.c_str(), node.c_str()) == 0, "symlink " + node);
    Run renamed({"tap", node}, dir.path() + "/renamed");
    const std::string renamedEnd = startTap(renamed, "path gone");
    if (!renamedEnd.empty()) {
        const int end = openApp(renamedEnd);
        unlink(node.c_str());
        check(listed(renamed, "  device gone, waiting\n"),
              "path gone: 'device gone, waiting' not listed:\n" + renamed.output());
        check(symlink(acm.path.c_str(), node.c_str()) == 0, "symlink " + node + " again");
        check(listed(renamed, "  device back\n"),
              "path gone: 'device back' not listed:\n" + renamed.output());
        sendAll(end, frame(text("hi")));
        check(receive(acm.master, 6) == frame(text("hi")), "path gone: frame lost after return");
        check(renamed.stop(SIGTERM) == 0, "path gone: exit status");
        close(end);
    }

    // decode --device: the same.
    Run live({"decode", "--device", usb}, dir.path() + "/reconnect-decode");
    pause(500);
    sendAll(dev.master, frame(text("first")));
    check(listed(live, "|first|"), "decode reconnect: first frame not listed");
    adapter->run.stop(SIGTERM);
    adapter.reset();
    check(listed(live, "device gone, waiting\n"), "decode: 'device gone, waiting' not listed");
    adapter = std::make_unique<Adapter>(dev.path, usb, log);
    check(listed(live, "device back\n"), "decode: 'device back' not listed:\n" + live.output());
    sendAll(dev.master, frame(text("second")));
    check(listed(live, "|second|"), "decode reconnect: frame after the return not listed");
    check(live.stop(SIGINT) == 0, "decode reconnect: exit status " + std::to_string(live.status));
    check(summary(live.output(), "").ok == 2, "decode reconnect: summary:\n" + live.output());
}

// A monitor's adapters go away and come back each on its own: the other is
// listened to meanwhile, and both are listened to again afterwards. With
// --no-reconnect the first one that goes ends the monitor.
void monitorReconnectChecks(TempDir &dir)
{
    struct Side {
        Pty dev;
        std::string path;
        std::unique_ptr<Adapter> adapter;
    } sides[2];
    const char marks[2] = {'>', '<'};
    const std::string log = dir.path() + "/socat-monitor";
    for (int k = 0; k < 2; ++k) {
        sides[k].path = dir.path() + "/ttyUSB-" + std::string(1, "AB"[k]);
        sides[k].adapter = std::make_unique<Adapter>(sides[k].dev.path, sides[k].path, log);
    }
    const auto started = [](Run &run) {
        return waitUntil([&]() {
            run.drainErr();
            return run.errText.find("vemlink monitor: ") != std::string::npos || run.exited(0);
        });
    };
    Run mon({"monitor", sides[0].path, sides[1].path, "--baud", "9600"},
            dir.path() + "/monitor-reconnect");
    check(started(mon), "monitor reconnect: no start: " + mon.errText);
    int sent[2] = {0, 0};
    const auto deliver = [&](int k, const std::string &what) {
        const std::string payload = what + std::to_string(++sent[k]);
        sendAll(sides[k].dev.master, frame(text(payload.c_str())));
        check(listed(mon, "|" + payload + "|"),
              "monitor reconnect: " + payload + " not listed:\n" + mon.output());
    };
    deliver(0, "a");
    deliver(1, "b");
    for (int k = 0; k < 2; ++k) {
        const std::string mark(1, marks[k]);
        sides[k].adapter->run.stop(SIGTERM);
        sides[k].adapter.reset();
        check(listed(mon, mark + " device gone, waiting\n"),
              "monitor reconnect: '" + mark + " device gone, waiting' not listed:\n" +
                  mon.output());
        deliver(1 - k, "meanwhile");
        sides[k].adapter = std::make_unique<Adapter>(sides[k].dev.path, sides[k].path, log);
        check(listed(mon, mark + " device back\n"),
              "monitor reconnect: '" + mark + " device back' not listed:\n" + mon.output());
        // Back with its lock: another program is refused it.
        Run other({"decode", "--device", sides[k].path}, dir.path() + "/monitor-other");
        check(other.exited(EXIT_MS) && other.status == 1 &&
                  other.errText.find("is in use by another program") != std::string::npos,
              "monitor reconnect: " + mark + " not locked again: " + other.errText);
        deliver(0, "a");
        deliver(1, "b");
    }
    check(mon.stop(SIGINT) == 0, "monitor reconnect: exit status " + std::to_string(mon.status));
    const std::string listing = mon.output();
    check(summary(listing, " >").ok == sent[0] && summary(listing, " <").ok == sent[1],
          "monitor reconnect: summary wrong:\n" + listing);
    check(listing.find("device gone 1 time on A (>)\n") != std::string::npos &&
              listing.find("device gone 1 time on B (<)\n") != std::string::npos,
          "monitor reconnect: the times gone are not counted:\n" + listing);
    // The frame B delivered while A was gone lies between A's two events.
    const size_t gone = listing.find("> device gone");
    const size_t meanwhile = listing.find("|meanwhile");
    check(gone < meanwhile && meanwhile < listing.find("> device back"),
          "monitor reconnect: B not listened to while A was gone:\n" + listing);

    Run once({"monitor", sides[0].path, sides[1].path, "--no-reconnect"},
             dir.path() + "/monitor-once");
    check(started(once), "monitor --no-reconnect: no start: " + once.errText);
    sendAll(sides[0].dev.master, frame(text("one")));
    check(listed(once, "|one|"), "monitor --no-reconnect: frame not listed");
    sides[1].adapter->run.stop(SIGTERM);
    sides[1].adapter.reset();
    check(once.exited(EXIT_MS) && once.status == 1 &&
              once.errText.find(sides[1].path + ": hang-up") != std::string::npos,
          "monitor --no-reconnect: exit status " + std::to_string(once.status) + ": " +
              once.errText);
    const std::string onceListing = once.output();
    check(summary(onceListing, " >").ok == 1 && summary(onceListing, " <").ok == 0 &&
              onceListing.find("device gone") == std::string::npos,
          "monitor --no-reconnect: summary:\n" + onceListing);
}

// One round trip of a small frame: the application's end writes it, the
// device end reads it whole and writes it back, the application reads it
// whole. Half of it is one way through the forwarder, in microseconds.
double roundTrip(int app, int device)
{
    static const Bytes f = frame(text("ping"));
    const auto start = Clock::now();
    sendAll(app, f);
    const Bytes there = receive(device, f.size());
    sendAll(device, there);
    const Bytes back = receive(app, f.size());
    check(back == f, "latency: the frame came back changed");
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
// The same through a tap that holds each frame to its closing flag both
// ways ('delay 0ms'), the cost of the impairments' path.
void latencyBench(TempDir &dir, int rounds)
{
    Pty tapDev;
    Run tap({"tap", tapDev.path}, "/dev/null");
    const std::string tapEnd = startTap(tap, "latency");
    Pty heldDev;
    Run held(
        {"tap", heldDev.path, "--to-device", "delay 0ms", "--to-app", "delay 0ms", "--seed", "1"},
        "/dev/null");
    const std::string heldEnd = startTap(held, "latency, delay 0ms");
    Pty socatDev;
    const std::string link = dir.path() + "/ttySOCAT";
    Adapter socat(socatDev.path, link, "/dev/null");
    if (tapEnd.empty() || heldEnd.empty())
        return;
    const int apps[3] = {openApp(tapEnd), openApp(heldEnd), openApp(link)};
    const int devices[3] = {tapDev.master, heldDev.master, socatDev.master};
    std::vector<double> oneWay[3];
    for (int i = -rounds / 10; i < rounds; ++i) { // the first tenth warms up
        for (int k = 0; k < 3; ++k) {
            const double t = roundTrip(apps[k], devices[k]);
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
}

// 64 KiB to the device through 'rate 115200': the time from the first
// write to the last byte against the line time, 10 bits a byte at 8N1.
void rateBench()
{
    Pty dev;
    long good = 0;
    Bytes data = traffic(3, 65536, good);
    data.resize(65536);
    const Bytes none;
    Run tap({"tap", dev.path, "--to-device", "rate 115200"}, "/dev/null");
    const std::string appPath = startTap(tap, "rate");
    if (appPath.empty())
        return;
    const int app = openApp(appPath);
    Pump::Way a{app, dev.master, data};
    Pump::Way b{dev.master, app, none};
    Pump::run(a, b);
    check(a.got == data, "rate: bytes changed");
    const double line = data.size() * 10.0 / 115200;
    std::printf("64 KiB through rate 115200: %.3f s, line time %.3f s (%+.2f %%)\n", a.seconds,
                line, (a.seconds - line) / line * 100);
    check(tap.stop(SIGINT) == 0, "rate: exit status " + std::to_string(tap.status));
    close(app);
}

// Frames one at a time through 'delay 20ms 5ms', 40 ms apart: the delay
// each took, from its write to its last byte at the device.
void delayBench(int frames)
{
    Pty dev;
    Run tap({"tap", dev.path, "--to-device", "delay 20ms 5ms"}, "/dev/null");
    const std::string appPath = startTap(tap, "delay");
    if (appPath.empty())
        return;
    const int app = openApp(appPath);
    const Bytes f = frame(text("ping"));
    std::vector<double> ms;
    for (int i = 0; i < frames; ++i) {
        const auto start = Clock::now();
        sendAll(app, f);
        check(receive(dev.master, f.size()) == f, "delay: a frame changed");
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        pause(40);
    }
    std::sort(ms.begin(), ms.end());
    const long outside =
        std::count_if(ms.begin(), ms.end(), [](double d) { return d < 15 || d > 25; });
    std::printf("delay 20ms 5ms, %d frames: min %.2f ms, p50 %.2f ms, max %.2f ms; "
                "%ld outside 15-25 ms\n",
                frames, ms.front(), ms[ms.size() / 2], ms.back(), outside);
    check(tap.stop(SIGINT) == 0, "delay: exit status " + std::to_string(tap.status));
    close(app);
}

} // namespace

int main(int argc, char **argv)
{
    bool bench = false;
    size_t bytes = 3 << 19; // 1.5 MiB
    int first = 1;
    const char *only = nullptr;
    int latency = 0;
    bool impair = false;
    if (argc > 2 && std::strcmp(argv[1], "--only") == 0) {
        only = argv[2];
        first = 3;
    }
    if (argc > 2 && std::strcmp(argv[1], "--latency") == 0) {
        latency = std::atoi(argv[2]);
        first = 3;
    }
    if (argc > 2 && std::strcmp(argv[1], "--impair") == 0) {
        impair = true;
        bytes = static_cast<size_t>(std::atof(argv[2]) * (1 << 20));
        first = 3;
    }
    if (argc > 2 && std::strcmp(argv[1], "--bench") == 0) {
        bench = true;
        bytes = static_cast<size_t>(std::atof(argv[2]) * (1 << 20));
        first = 3;
    }
    if (argc <= first) {
        std::fputs("usage: vemlink_live [--bench MIB|--latency ROUNDS|--impair MIB] VEMLINK "
                   "[EMULATOR...]\n",
                   stderr);
        return 2;
    }
    for (int i = first + 1; i < argc; ++i)
        gCommand.emplace_back(argv[i]);
    gCommand.emplace_back(argv[first]);
    std::signal(SIGPIPE, SIG_IGN);

    TempDir dir;
    if (only != nullptr && std::strcmp(only, "full-disk") == 0)
        return fullDiskCheck(dir);
    if (latency > 0) {
        latencyBench(dir, latency);
        return gFailures == 0 ? 0 : 1;
    }
    if (bench) {
        loadChecks(dir, bytes, true);
        return gFailures == 0 ? 0 : 1;
    }
    if (impair) {
        loadChecks(dir, bytes, true, true);
        rateBench();
        delayBench(100);
        return gFailures == 0 ? 0 : 1;
    }
    listingChecks(dir);
    loadChecks(dir, bytes, false);
    reopenAndHangUp(dir);
    lineChecks(dir);
    followChecks(dir);
    reconnectChecks(dir);
    monitorReconnectChecks(dir);
    sendChecks(dir);
    decodeChecks(dir);
    // Under an emulator every byte costs more; a smaller load shows the same.
    const bool emulated = gCommand.size() > 1;
    stuckListingChecks(dir, emulated ? 1 << 20 : bytes);
    endingChecks(dir);
    pathChecks(dir);
    lockChecks(dir);
    replyChecks(dir);
    boundedInputChecks(dir, emulated ? 20u << 20 : 200u << 20);
    overlongChecks(dir);
    if (gFailures > 0) {
        std::fprintf(stderr, "%d check(s) failed\n", gFailures);
        return 1;
    }
    std::puts("vemlink live: all checks passed");
    return 0;
}
