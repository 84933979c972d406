// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// StopSignals with real signals, each check in a child process of its own:
// the dispositions and the mask belong to the whole process.
#include "serial/signals.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include "child.h"

namespace {

// What a check in a child found wrong, line by line.
class Findings {
public:
    void expect(bool ok, const std::string &what)
    {
        if (!ok)
            mText += what + "\n";
    }
    const std::string &text() const { return mText; }

private:
    std::string mText;
};

std::string nameOf(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGUSR1:
        return "SIGUSR1";
    case SIGUSR2:
        return "SIGUSR2";
    case SIGALRM:
        return "SIGALRM";
    default:
        return "signal " + std::to_string(signal);
    }
}

std::string signalName(const ::testing::TestParamInfo<int> &info)
{
    return nameOf(info.param);
}

// A signal that is not caught must not leave a core file behind.
void noCore()
{
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

// The handler set for signal now.
void (*handlerOf(int signal))(int)
{
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

bool blocked(int signal)
{
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// Waits as a command does, on a pipe nobody writes, for up to ten
// seconds: a signal already pending must end it at once.
bool endedBySignal(const StopSignals &s)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    pollfd in{fds[0], POLLIN, 0};
    errno = 0;
    const int r = s.wait(&in, 1, 10000);
    const bool interrupted = r == -1 && errno == EINTR;
    close(fds[0]);
    close(fds[1]);
    return interrupted;
}

class StopSignal : public ::testing::TestWithParam<int> {};

// Each ending signal is held until wait(), which it ends; then stopped()
// is true and no summary was asked. A new object starts unstopped.
TEST_P(StopSignal, EndsTheWaitAndStops)
{
    const int sig = GetParam();
    EXPECT_EQ(inChild([sig] {
                  noCore();
                  Findings f;
                  {
                      StopSignals s;
                      f.expect(!s.stopped(), "stopped before any signal");
                      raise(sig);
                      f.expect(!s.stopped(), "delivered outside wait()");
                      f.expect(endedBySignal(s), "wait() not ended by the signal");
                      f.expect(s.stopped(), "not stopped");
                      f.expect(!s.summaryAsked(), "a summary asked");
                  }
                  StopSignals again;
                  f.expect(!again.stopped(), "a new object starts stopped");
                  return f.text();
              }),
              "");
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR2, SIGALRM),
                         signalName);

// SIGUSR1 asks for one summary: summaryAsked() is true once, and again
// after the next SIGUSR1; it never stops the command.
TEST(StopSignals, Sigusr1AsksForTheSummaryOnce)
{
    EXPECT_EQ(inChild([] {
                  Findings f;
                  StopSignals s;
                  raise(SIGUSR1);
                  f.expect(!s.summaryAsked(), "delivered outside wait()");
                  f.expect(endedBySignal(s), "wait() not ended by SIGUSR1");
                  f.expect(s.summaryAsked(), "no summary asked");
                  f.expect(!s.summaryAsked(), "asked twice for one SIGUSR1");
                  raise(SIGUSR1);
                  s.pause(0);
                  f.expect(s.summaryAsked(), "the second SIGUSR1 asked for nothing");
                  f.expect(!s.stopped(), "SIGUSR1 stopped the command");
                  return f.text();
              }),
              "");
}

class IgnoredSignal : public ::testing::TestWithParam<int> {};

// A signal ignored before the object is made (nohup) stays ignored while
// it lives and after: raised, it neither ends the process nor stops.
TEST_P(IgnoredSignal, StaysIgnored)
{
    const int sig = GetParam();
    EXPECT_EQ(inChild([sig] {
                  noCore();
                  Findings f;
                  std::signal(sig, SIG_IGN);
                  {
                      StopSignals s;
                      f.expect(handlerOf(sig) == SIG_IGN, "no longer ignored");
                      f.expect(!blocked(sig), "blocked, though ignored");
                      raise(sig);
                      f.expect(s.wait(nullptr, 0, 0) == 0, "wait() ended by an ignored signal");
                      f.expect(!s.stopped(), "stopped by an ignored signal");
                      f.expect(!s.summaryAsked(), "a summary asked by an ignored signal");
                  }
                  f.expect(handlerOf(sig) == SIG_IGN, "not ignored after the object went");
                  return f.text();
              }),
              "");
}

INSTANTIATE_TEST_SUITE_P(Signals, IgnoredSignal,
                         ::testing::Values(SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2,
                                           SIGALRM),
                         signalName);

volatile sig_atomic_t gCounted = 0;

void count(int)
{
    gCounted = gCounted + 1;
}

// When the object goes, every disposition and the mask are as they were:
// a handler of the program's own, the default, SIGPIPE's, a signal
// blocked before; and a stop signal that came after the last wait() does
// not end the process on the way.
TEST(StopSignals, PutsEverythingBack)
{
    EXPECT_EQ(inChild([] {
                  noCore();
                  Findings f;
                  std::signal(SIGTERM, count);
                  std::signal(SIGPIPE, count);
                  std::signal(SIGUSR1, SIG_DFL);
                  sigset_t hup;
                  sigemptyset(&hup);
                  sigaddset(&hup, SIGHUP);
                  sigprocmask(SIG_BLOCK, &hup, nullptr);
                  {
                      StopSignals s;
                      f.expect(handlerOf(SIGPIPE) == SIG_IGN, "SIGPIPE not ignored");
                      f.expect(handlerOf(SIGTERM) != count, "SIGTERM not caught");
                      f.expect(blocked(SIGTERM), "SIGTERM not held until wait()");
                      raise(SIGTERM);
                      raise(SIGQUIT);
                  }
                  f.expect(handlerOf(SIGTERM) == count, "SIGTERM's handler not put back");
                  f.expect(handlerOf(SIGPIPE) == count, "SIGPIPE's handler not put back");
                  for (const int sig : {SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM})
                      f.expect(handlerOf(sig) == SIG_DFL, nameOf(sig) + " not back to default");
                  f.expect(blocked(SIGHUP), "SIGHUP no longer blocked");
                  f.expect(!blocked(SIGTERM), "SIGTERM still blocked");
                  const sig_atomic_t before = gCounted;
                  raise(SIGTERM);
                  f.expect(gCounted == before + 1, "SIGTERM did not reach the handler put back");
                  return f.text();
              }),
              "");
}

} // namespace
