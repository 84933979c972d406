// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_SIGNALS_H
#define VEMLINK_SIGNALS_H

// The signals of a live command. While an object lives, SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGUSR2 and SIGALRM ask the command to end in order, and
// SIGUSR1 asks for its running summary (as dd and tcpdump answer it). They
// are delivered only while wait() waits, so none slips in between a look at
// the flags and the wait. A signal that was ignored when the process
// started stays ignored (nohup, a script's background job). SIGPIPE is
// ignored: a closed output comes back as EPIPE. Make one before anything is
// opened; one object at a time. Everything is put back when it goes.
#include <chrono>
#include <cstddef>

#include <poll.h>
#include <signal.h>

class StopSignals {
public:
    StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;
    ~StopSignals();

    // An ending signal came.
    bool stopped() const;

    // True once for each SIGUSR1 that came since the last call.
    bool summaryAsked() const;

    // poll(2) on fds for up to timeoutMs (-1: no limit). Returns what
    // ppoll(2) returns; -1 with errno EINTR when a signal came.
    int wait(pollfd *fds, nfds_t n, int timeoutMs) const;
    // The same with a limit finer than a millisecond (a negative one: no
    // limit), for a command that keeps to a schedule.
    int wait(pollfd *fds, nfds_t n, std::chrono::nanoseconds timeout) const;

    // Sleeps up to ms, or less when a signal comes.
    void pause(int ms) const { wait(nullptr, 0, ms); }

private:
    static const size_t NSIGNALS = 7;
    sigset_t mOldMask{};
    sigset_t mCaught{};
    struct sigaction mOld[NSIGNALS] {};
    struct sigaction mOldPipe {};
};

#endif
