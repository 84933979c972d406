// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_LIVE_SUPPORT_H
#define VEMUTILS_TEST_LIVE_SUPPORT_H

// What the live tests and the tap benchmark share, without GoogleTest:
// pseudo-terminal pairs, vemlink (or another program) as a child, socat as
// a stand-in for a USB adapter, frames and traffic, and the listing's parts.

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <sys/types.h>
#include <termios.h>

namespace live {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

// Generous: under an emulator a start takes a while.
const int START_MS = 20000;
const int EXIT_MS = 20000;
const int STALL_MS = 20000;

// The words that run vemlink: the emulator's, if any, then vemlink's path.
std::vector<std::string> &command();
// True when vemlink runs under an emulator.
bool emulated();

// What a command is given in ms to react, stretched under an emulator.
int soon(int ms);
int msSince(Clock::time_point t);
void pause(int ms);
std::string readFile(const std::string &path);
long long fileSize(const std::string &path);

// Waits up to ms for done() to hold, looking every 10 ms.
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

// A pty pair: the master is the microcontroller's end, the slave the device
// a command opens. The slave is held open here too, set raw, so that the
// line keeps its settings between runs.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Closing the master hangs the line up for whoever has the slave open.
    void hangUp();
};

// How a child starts: its standard descriptors and signals.
struct Start {
    std::string outPath; // standard output into this file...
    int outFd = -1;      // ...or onto this descriptor
    int errFd = -1;      // standard error onto this descriptor, else a pipe
    std::string inPath = "/dev/null";
    bool plain = false;       // args is a whole command, not vemlink's words
    std::vector<int> closed;  // descriptors closed before exec
    std::vector<int> ignored; // signals set to SIG_IGN before exec
};

// vemlink running as a child (or, with plain, another program given whole),
// the leader of a process group of its own. It dies with the test (the
// parent's death sends it SIGKILL), and its group is killed when the Child
// goes.
struct Child {
    pid_t pid = -1;
    int err = -1;
    std::string out;
    std::string errText;
    int status = -1;
    long maxRssKb = -1; // the child's peak resident memory, once it has ended

    Child(const std::vector<std::string> &args, const Start &how);
    // Standard output into outPath, standard input from inPath; outFd, when
    // given, is standard output in place of outPath.
    Child(const std::vector<std::string> &args, const std::string &outPath,
          const std::string &inPath = "/dev/null", int outFd = -1, bool plain = false);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    void drainErr();
    // The application's end a tap announces on standard error; "" if none
    // came in time.
    std::string appEnd();
    // True when the child has ended within ms; its exit status is then in
    // status (128 + signal when a signal ended it).
    bool exited(int ms);
    // Sends sig and waits for the end; the exit status, -1 if it stayed.
    int stop(int sig);
    std::string output() const { return readFile(out); }
    // CPU seconds the child has used so far, from /proc.
    double cpuSeconds() const;
};

Bytes frame(const Bytes &payload);
Bytes text(const char *s);
void append(Bytes &to, const Bytes &b);

// Writes all of b to a non-blocking fd; false if it stalled for STALL_MS.
bool sendAll(int fd, const Bytes &b);
// Reads what comes out of fd until n bytes are there or ms pass.
Bytes receive(int fd, size_t n, int ms = STALL_MS);
// Everything readable on a non-blocking fd now.
std::string drain(int fd);

// Moves two streams at once, each to its own descriptor, and reads back what
// comes out at the other ends, until both are through or nothing moves for
// STALL_MS. Records the seconds each took from start to its last byte.
struct Way {
    Way(int to, int from, const Bytes &send) : to(to), from(from), send(send) {}
    int to, from;
    const Bytes &send;
    Bytes got;
    size_t sent = 0;
    double seconds = 0;
};
void pump(Way &a, Way &b);

// Traffic for one direction, at least n bytes: frames of random payloads,
// many dense in 7E and 7D, with corrupted frames, overlong runs, line
// noise and idle flags between them. Counts the intact frames in good.
Bytes traffic(unsigned seed, size_t n, long &good);

struct Summary {
    long frames = -1, ok = -1, crc = -1, dropped = -1, partial = -1;
    long long bytes = -1;
};
// The summary line "summary LABEL: ..." of a listing; all -1 if none.
Summary summary(const std::string &listing, const std::string &label);
std::vector<std::string> lines(const std::string &text);
// True when the line starts with the time column: seconds with six
// decimals, right-aligned in ten characters.
bool timed(const std::string &l);
// The status column of a frame row (without the time and direction).
std::string status(const std::string &row);

// Gives the device settings a tap would not leave: not raw, 9600 baud.
// Returns them, as the line keeps them, for settingsBack.
termios unusualSettings(int slave);
bool settingsBack(int slave, const termios &before);
// What a pseudo-terminal keeps of its line settings, written out: "9600
// cstopb crtscts". Linux keeps a pty at 8 data bits without parity.
std::string settingsOf(int fd);

// socat stands in for a USB serial adapter: it bridges the device pty to
// a new one behind a link path, and the path goes away when socat ends.
struct Adapter {
    Adapter(const std::string &device, const std::string &link, const std::string &log);
    Child run;
    bool ready = false; // the link path is there
};

} // namespace live

#endif
