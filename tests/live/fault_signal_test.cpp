// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Signals: those that end a command while its capture FIFO has no reader,
// those ignored when it started, and SIGUSR1, SIGUSR2 and SIGALRM.

#include <sys/stat.h>
#include <unistd.h>

#include "reconnect.h"

namespace live {
namespace {

const char *signalName(int sig)
{
    switch (sig) {
    case SIGINT:
        return "sigint";
    case SIGTERM:
        return "sigterm";
    case SIGHUP:
        return "sighup";
    case SIGUSR2:
        return "sigusr2";
    case SIGALRM:
        return "sigalrm";
    default:
        return "other";
    }
}

const char *kindName(Kind kind)
{
    return kind == Kind::TAP ? "tap" : kind == Kind::DECODE ? "decode" : "monitor";
}

// --pcap onto a FIFO nobody opens for reading: an ending signal still ends
// the command within a second.
struct FifoCase {
    Kind kind;
    int sig;
};

class PcapFifoWithoutReader : public Live, public ::testing::WithParamInterface<FifoCase> {};

TEST_P(PcapFifoWithoutReader, SignalEndsIt)
{
    const std::string fifo = path("capture.pcapng");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Pty a, b;
    std::vector<std::string> args = {"tap", a.path};
    if (GetParam().kind == Kind::MONITOR)
        args = {"monitor", a.path, b.path};
    args.insert(args.end(), {"--pcap", fifo});
    Child run(args, path("out"));
    pause(soon(500));
    kill(run.pid, GetParam().sig);
    EXPECT_TRUE(run.exited(soon(1000))) << "still running 1 s after the signal";
}

INSTANTIATE_TEST_SUITE_P(
    Live, PcapFifoWithoutReader,
    ::testing::Values(FifoCase{Kind::TAP, SIGINT}, FifoCase{Kind::TAP, SIGTERM},
                      FifoCase{Kind::TAP, SIGHUP}, FifoCase{Kind::MONITOR, SIGINT},
                      FifoCase{Kind::MONITOR, SIGTERM}, FifoCase{Kind::MONITOR, SIGHUP}),
    [](const auto &info) {
        return std::string(kindName(info.param.kind)) + "_" + signalName(info.param.sig);
    });

// A signal ignored when the tap started (nohup, a shell's background job)
// stays ignored: the tap goes on forwarding; SIGTERM still ends it.
class IgnoredAtStart : public Live, public ::testing::WithParamInterface<int> {};

TEST_P(IgnoredAtStart, StaysIgnored)
{
    Pty dev;
    Start how;
    how.outPath = path("out");
    how.ignored = {GetParam()};
    Child tap({"tap", dev.path}, how);
    const std::string end = startTap(tap, "ignored");
    ASSERT_FALSE(end.empty());
    const int app = openApp(end);
    EXPECT_TRUE(sendAll(app, frame(text("one"))));
    EXPECT_EQ(receive(dev.master, 7), frame(text("one")));
    kill(tap.pid, GetParam());
    pause(300);
    ASSERT_FALSE(tap.exited(0)) << "the ignored signal ended it: " << tap.status;
    EXPECT_TRUE(sendAll(app, frame(text("two"))));
    EXPECT_EQ(receive(dev.master, 7), frame(text("two"))) << "no forwarding after the signal";
    EXPECT_EQ(tap.stop(SIGTERM), 0);
    close(app);
}

INSTANTIATE_TEST_SUITE_P(Live, IgnoredAtStart, ::testing::Values(SIGHUP, SIGINT),
                         [](const auto &info) { return std::string(signalName(info.param)); });

// The running summary each command gives on SIGUSR1, on standard error.
std::vector<std::string> runningSummary(Kind kind)
{
    if (kind == Kind::DECODE)
        return {"summary: frames"};
    return {"summary >: frames", "summary <: frames"};
}

// SIGUSR1: the summary so far on standard error, and the command goes on.
class SummaryOnSigusr1 : public Live, public ::testing::WithParamInterface<Kind> {};

TEST_P(SummaryOnSigusr1, GoesOn)
{
    Linked l(GetParam(), Away::RENAMED, *this);
    ASSERT_TRUE(l.started()) << l.run->errText;
    l.through(0, "before");
    kill(l.run->pid, SIGUSR1);
    pause(200);
    ASSERT_FALSE(l.run->exited(0)) << "SIGUSR1 ended it: " << l.run->status;
    for (const std::string &line : runningSummary(GetParam()))
        EXPECT_TRUE(said(*l.run, line))
            << "no '" << line << "' on standard error: " << l.run->errText;
    ASSERT_FALSE(l.run->exited(0)) << "SIGUSR1 ended it: " << l.run->status;
    l.through(0, "after");
    EXPECT_EQ(l.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Live, SummaryOnSigusr1,
                         ::testing::Values(Kind::TAP, Kind::DECODE, Kind::MONITOR),
                         [](const auto &info) { return std::string(kindName(info.param)); });

// SIGUSR2 and SIGALRM end a command as SIGTERM does: exit status 0, the
// summary on standard output, the device's settings back.
struct EndCase {
    Kind kind;
    int sig;
};

class EndsCleanly : public Live, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndsCleanly, SummaryAndSettingsBack)
{
    Linked l(GetParam().kind, Away::RENAMED, *this, {}, true);
    ASSERT_TRUE(l.started()) << l.run->errText;
    l.through(0, "one");
    EXPECT_EQ(l.stop(GetParam().sig), 0) << l.run->errText;
    const std::string listing = l.run->output();
    for (const std::string &line : runningSummary(GetParam().kind))
        EXPECT_NE(listing.find(line), std::string::npos) << "no '" << line << "':\n" << listing;
    EXPECT_TRUE(l.settingsBack()) << "the device's settings are not back";
}

INSTANTIATE_TEST_SUITE_P(
    Live, EndsCleanly,
    ::testing::Values(EndCase{Kind::TAP, SIGUSR2}, EndCase{Kind::TAP, SIGALRM},
                      EndCase{Kind::DECODE, SIGUSR2}, EndCase{Kind::DECODE, SIGALRM},
                      EndCase{Kind::MONITOR, SIGUSR2}, EndCase{Kind::MONITOR, SIGALRM}),
    [](const auto &info) {
        return std::string(kindName(info.param.kind)) + "_" + signalName(info.param.sig);
    });

} // namespace
} // namespace live
