// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink among the things a session meets: a terminal shared with others
// or never read, the process stopped and continued, standard descriptors
// closed at start, devices that go away or are held, starts that fail.

#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "reconnect.h"

namespace live {
namespace {

// A terminal: a pty whose slave the test holds open blocking, as a shell
// hands it to the programs it starts; nobody reads its master unless the
// test does.
struct Terminal {
    Pty pty;
    int held = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);

    Terminal()
    {
        termios tio{};
        tcgetattr(held, &tio); // a terminal's ordinary settings, less the echo
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(held, TCSANOW, &tio);
    }
    ~Terminal() { close(held); }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    bool nonBlocking() const { return (fcntl(held, F_GETFL) & O_NONBLOCK) != 0; }
    // Standard output and standard error both on the held descriptor.
    Start start() const
    {
        Start how;
        how.outFd = held;
        how.errFd = held;
        return how;
    }
};

// A command on a device, its output and errors on a shared terminal.
struct SharedCase {
    const char *name;
    const char *command; // tap or decode
};

class SharedTerminal : public Live, public ::testing::WithParamInterface<SharedCase> {};

std::vector<std::string> on(const char *command, const Pty &dev)
{
    if (std::string(command) == "tap")
        return {"tap", dev.path};
    return {"decode", "--device", dev.path};
}

// The descriptor's flags belong to every program that shares it: the
// command never leaves it non-blocking, running, ended by SIGINT, or
// killed.
TEST_P(SharedTerminal, NeverLeftNonBlocking)
{
    Terminal term;
    ASSERT_FALSE(term.nonBlocking());
    for (const int sig : {SIGINT, SIGKILL}) {
        Pty dev;
        Child run(on(GetParam().command, dev), term.start());
        bool blocking = true;
        for (int i = 0; i < 50 && !run.exited(0); ++i) {
            if (i == 10) {
                EXPECT_TRUE(sendAll(dev.master, frame(text("listed"))));
            }
            blocking = blocking && !term.nonBlocking();
            drain(term.pty.master);
            pause(20);
        }
        EXPECT_TRUE(blocking) << "O_NONBLOCK on the shared terminal while it runs";
        run.stop(sig);
        EXPECT_FALSE(term.nonBlocking())
            << "O_NONBLOCK left on the shared terminal after signal " << sig;
    }
}

INSTANTIATE_TEST_SUITE_P(Live, SharedTerminal,
                         ::testing::Values(SharedCase{"tap", "tap"},
                                           SharedCase{"decode", "decode"}),
                         [](const auto &info) { return std::string(info.param.name); });

// Two taps on one terminal, ended in the order they started: the second
// must not restore flags the first had changed, nor the first clear them
// under the second.
TEST_F(Live, TwoTapsOnOneTerminalLeaveItBlocking)
{
    Terminal term;
    Pty a, b;
    Child first({"tap", a.path}, term.start());
    pause(300);
    Child second({"tap", b.path}, term.start());
    pause(300);
    drain(term.pty.master);
    EXPECT_FALSE(term.nonBlocking()) << "O_NONBLOCK while both run";
    EXPECT_EQ(first.stop(SIGINT), 0);
    EXPECT_FALSE(term.nonBlocking()) << "O_NONBLOCK after the first ended";
    EXPECT_EQ(second.stop(SIGINT), 0);
    EXPECT_FALSE(term.nonBlocking()) << "O_NONBLOCK after the second ended";
}

// The frames "<prefix>0", "<prefix>1"... back to back.
Bytes frames(const char *prefix, int n)
{
    Bytes all;
    for (int i = 0; i < n; ++i)
        append(all, frame(text((prefix + std::to_string(i)).c_str())));
    return all;
}

// A tap whose application end is found by --link (its standard error may
// not be read), how it starts given by the test.
struct LinkedTap {
    LinkedTap(const Live &test, const Start &how)
        : link(test.path("ttyAPP")), tap({"tap", dev.path, "--link", link}, how)
    {
        EXPECT_TRUE(waitFor([&]() { return access(link.c_str(), F_OK) == 0; }, START_MS))
            << "no " << link;
        app = openApp(link);
    }
    ~LinkedTap() { close(app); }
    LinkedTap(const LinkedTap &) = delete;
    LinkedTap &operator=(const LinkedTap &) = delete;

    Pty dev;
    std::string link;
    Child tap;
    int app = -1;
};

// Nobody reads the terminal the listing goes to: every frame still reaches
// the device, and at SIGINT the tap says how many lines it did not show and
// gives its summary, then ends at once.
TEST_F(Live, TapOnAnUnreadTerminalForwardsAllAndSummarises)
{
    Terminal term;
    LinkedTap t(*this, term.start());
    ASSERT_GE(t.app, 0);
    const Bytes tx = frames("f", 20000);
    const Bytes none;
    Way a{t.app, t.dev.master, tx};
    Way b{t.dev.master, t.app, none};
    pump(a, b);
    EXPECT_TRUE(a.got == tx) << "the device got " << a.got.size() << " of " << tx.size()
                             << " bytes, or other bytes";
    kill(t.tap.pid, SIGINT);
    // The terminal is read only a while after the signal: what the tap says
    // at its end must wait for room, not be lost.
    pause(300);
    std::string shown;
    const bool ended = waitFor(
        [&]() {
            shown += drain(term.pty.master);
            return t.tap.exited(0);
        },
        soon(1700));
    shown += drain(term.pty.master);
    EXPECT_TRUE(ended && t.tap.status == 0) << "exit status " << t.tap.status << " within 2 s";
    EXPECT_NE(shown.find("lines not shown"), std::string::npos) << "no count of lines not shown";
    EXPECT_NE(shown.find("summary >:"), std::string::npos) << "no summary";
}

// Ctrl-Z and fg while the listing is stalled: the link moves everything
// afterwards.
TEST_F(Live, TapStoppedAndContinuedWithAStalledListingStillForwards)
{
    Terminal term;
    LinkedTap t(*this, term.start());
    ASSERT_GE(t.app, 0);
    const Bytes burst = frames("s", 5000);
    const Bytes none;
    Way a{t.dev.master, t.app, burst};
    Way b{t.app, t.dev.master, none};
    pump(a, b);
    EXPECT_TRUE(a.got == burst) << "before the stop";
    // Ctrl-Z and fg while the bytes below are on their way.
    std::thread user([&]() {
        pause(50);
        kill(t.tap.pid, SIGSTOP);
        pause(300);
        kill(t.tap.pid, SIGCONT);
    });
    long good = 0;
    const Bytes rx = traffic(6, 2u << 20, good);
    Way c{t.dev.master, t.app, rx};
    Way d{t.app, t.dev.master, none};
    pump(c, d);
    user.join();
    EXPECT_TRUE(c.got == rx) << "after SIGCONT the application got " << c.got.size() << " of "
                             << rx.size() << " bytes, or other bytes";
    EXPECT_FALSE(t.tap.exited(0)) << "the tap ended: " << t.tap.status;
}

// The device's path goes away and comes back while the device itself still
// answers: the command waits, goes on, and at the end gives the device the
// settings it had.
class PathGone : public Live, public ::testing::WithParamInterface<Kind> {};

TEST_P(PathGone, DeviceSettingsRestored)
{
    Linked l(GetParam(), Away::RENAMED, *this, {}, true);
    ASSERT_TRUE(l.started()) << l.run->errText;
    for (size_t k = 0; k < l.plugs.size(); ++k)
        goneAndBack(l, static_cast<int>(k));
    EXPECT_EQ(l.stop(SIGINT), 0);
    EXPECT_TRUE(l.settingsBack()) << "the device's settings are not the ones it had";
}

INSTANTIATE_TEST_SUITE_P(Live, PathGone, ::testing::Values(Kind::TAP, Kind::DECODE, Kind::MONITOR),
                         [](const auto &info) {
                             return std::string(info.param == Kind::TAP      ? "tap"
                                                : info.param == Kind::DECODE ? "decode"
                                                                             : "monitor");
                         });

// send on a device whose output is held (suspended, as by an XOFF):
// SIGINT stops it, saying how many frames went.
TEST_F(Live, SendInterruptedWhileTheDeviceIsHeld)
{
    Pty dev;
    // The device's output suspended, as an XOFF from the far end leaves it:
    // nothing written to it goes out until it is resumed.
    ASSERT_EQ(tcflow(dev.slave, TCOOFF), 0);
    Child send({"send", "--device", dev.path, "61", "62", "63"}, path("send"));
    pause(soon(500));
    EXPECT_FALSE(send.exited(0)) << "send did not wait for room: " << send.errText;
    EXPECT_EQ(send.stop(SIGINT), 1);
    EXPECT_NE(send.errText.find("stopped after 0 of 1 frames"), std::string::npos) << send.errText;
}

// A start that fails leaves no file the run made, and the files that were
// there as they were.
struct FailedStart {
    const char *name;
    std::vector<std::string> args; // DEV: a pty; X: the capture; P: the --save prefix
};

class FailedStartLeavesNothing : public Live, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(FailedStartLeavesNothing, NoCaptureLeftBehind)
{
    Pty dev;
    const std::string x = path("X.pcapng");
    const std::string p = path("P");
    const std::string old = "an earlier session";
    dir.write("P.tx", old);
    std::vector<std::string> args;
    for (const std::string &a : GetParam().args)
        args.push_back(a == "DEV" ? dev.path : a == "X" ? x : a == "P" ? p : a);
    Child tap(args, path("out"));
    EXPECT_TRUE(tap.exited(EXIT_MS) && tap.status == 1)
        << "exit status " << tap.status << ": " << tap.errText;
    EXPECT_NE(access(x.c_str(), F_OK), 0) << "the capture was left behind";
    EXPECT_NE(access((p + ".rx").c_str(), F_OK), 0) << "P.rx was left behind";
    EXPECT_EQ(readFile(p + ".tx"), old) << "P.tx was changed";
}

INSTANTIATE_TEST_SUITE_P(
    Live, FailedStartLeavesNothing,
    ::testing::Values(FailedStart{"no_device", {"tap", "/nonexistent", "--pcap", "X"}},
                      FailedStart{"settings_refused",
                                  {"tap", "DEV", "--databits", "7", "--pcap", "X"}},
                      FailedStart{"save_exists", {"tap", "DEV", "--pcap", "X", "--save", "P"}}),
    [](const auto &info) { return std::string(info.param.name); });

// A FIFO at the --pcap path is written into only when it is the user's own
// and reached without a symbolic link.
TEST_F(Live, PcapFifoThroughASymlinkIsRefused)
{
    Pty dev;
    const std::string fifo = path("fifo");
    const std::string link = path("capture.pcapng");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    Child tap({"tap", dev.path, "--pcap", link}, path("out"));
    EXPECT_TRUE(tap.exited(EXIT_MS) && tap.status == 1)
        << "exit status " << tap.status << ": " << tap.errText;
    EXPECT_NE(tap.errText.find(link), std::string::npos) << "the path not named: " << tap.errText;
    close(reader);
}

TEST_F(Live, PcapFifoOfAnotherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a FIFO to another user needs root";
    Pty dev;
    const std::string fifo = path("capture.pcapng");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(chown(fifo.c_str(), 65534, 65534), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    Child tap({"tap", dev.path, "--pcap", fifo}, path("out"));
    EXPECT_TRUE(tap.exited(EXIT_MS) && tap.status == 1)
        << "exit status " << tap.status << ": " << tap.errText;
    close(reader);
}

// Started with standard descriptors closed, the tap must not take the
// device (or anything else) as its output: the device gets the frames and
// nothing more.
class ClosedStandardDescriptors : public Live,
                                  public ::testing::WithParamInterface<std::vector<int>> {};

TEST_P(ClosedStandardDescriptors, NothingButFramesReachTheDevice)
{
    Start how;
    how.outPath = "/dev/null";
    how.closed = GetParam();
    LinkedTap t(*this, how);
    ASSERT_GE(t.app, 0);
    Pty &dev = t.dev;
    const int app = t.app;
    const Bytes tx = frames("c", 50);
    EXPECT_TRUE(sendAll(app, tx));
    EXPECT_EQ(receive(dev.master, tx.size()), tx) << "the device got other bytes";
    pause(300);
    EXPECT_EQ(drain(dev.master), "") << "more reached the device";
    t.tap.stop(SIGTERM);
    pause(100);
    EXPECT_EQ(drain(dev.master), "") << "more reached the device at the end";
}

INSTANTIATE_TEST_SUITE_P(Live, ClosedStandardDescriptors,
                         ::testing::Values(std::vector<int>{1, 2}, std::vector<int>{0, 1, 2}),
                         [](const auto &info) {
                             return info.param.size() == 2 ? std::string("out_and_err")
                                                           : std::string("in_out_and_err");
                         });

// The adapter comes back held by another program: the tap says so once,
// waits, and takes it when it is free.
TEST_F(Live, TapWaitsForAReturningDeviceHeldByALock)
{
    Linked l(Kind::TAP, Away::ADAPTER, *this);
    ASSERT_TRUE(l.started());
    l.through(0, "before");
    Plug &plug = *l.plugs[0];
    plug.pull();
    EXPECT_TRUE(listed(*l.run, "device gone, waiting"));
    // socat makes its link elsewhere; the pty is locked before the path
    // appears where the tap looks.
    const std::string aside = plug.path + ".new";
    plug.adapter = std::make_unique<Adapter>(plug.dev.path, aside, path("socat"));
    ASSERT_TRUE(plug.adapter->ready);
    const int lock = open(aside.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_TRUE(lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0);
    ASSERT_EQ(std::rename(aside.c_str(), plug.path.c_str()), 0);
    EXPECT_TRUE(listed(*l.run, "device busy, waiting")) << l.run->output();
    pause(1000);
    l.run->drainErr();
    const std::string &err = l.run->errText;
    const size_t first = err.find("in use by another program");
    EXPECT_TRUE(first != std::string::npos &&
                err.find("in use by another program", first + 1) == std::string::npos)
        << "'in use by another program' not said exactly once:\n"
        << err;
    close(lock);
    EXPECT_TRUE(listed(*l.run, "device back")) << l.run->output();
    l.through(0, "after");
    EXPECT_EQ(l.stop(), 0);
}

// A device given as /dev/pts/N whose pty goes away never comes back: the
// tap ends at once instead of waiting.
TEST_F(Live, TapOnAPtyThatGoesAwayEnds)
{
    Pty dev;
    Child tap({"tap", dev.path}, path("out"));
    ASSERT_FALSE(startTap(tap, "pts").empty());
    close(dev.slave);
    dev.slave = -1;
    dev.hangUp();
    EXPECT_TRUE(tap.exited(soon(1000)) && tap.status == 1)
        << "exit status " << tap.status << " within 1 s: " << tap.errText;
    EXPECT_NE(tap.errText.find("pseudo-terminal"), std::string::npos) << tap.errText;
}

} // namespace
} // namespace live
