// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "serial/signals.h"

#include <ctime>

namespace {

// The signals a live command catches; all but the last end it.
const int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR2, SIGALRM, SIGUSR1};

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gSummary = 0;

void onSignal(int signal)
{
    if (signal == SIGUSR1)
        gSummary = 1;
    else
        gStop = 1;
}

} // namespace

StopSignals::StopSignals()
{
    gStop = 0;
    gSummary = 0;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocking call returns EINTR
    sigemptyset(&mCaught);
    for (size_t i = 0; i < NSIGNALS; ++i) {
        sigaction(SIGNALS[i], nullptr, &mOld[i]);
        if (mOld[i].sa_handler == SIG_IGN)
            continue;
        sigaction(SIGNALS[i], &sa, nullptr);
        sigaddset(&mCaught, SIGNALS[i]);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &mOldPipe);
    sigprocmask(SIG_BLOCK, &mCaught, &mOldMask);
}

StopSignals::~StopSignals()
{
    sigprocmask(SIG_SETMASK, &mOldMask, nullptr);
    for (size_t i = 0; i < NSIGNALS; ++i)
        sigaction(SIGNALS[i], &mOld[i], nullptr);
    sigaction(SIGPIPE, &mOldPipe, nullptr);
}

bool StopSignals::stopped() const
{
    return gStop != 0;
}

bool StopSignals::summaryAsked() const
{
    if (gSummary == 0)
        return false;
    gSummary = 0;
    return true;
}

int StopSignals::wait(pollfd *fds, nfds_t n, int timeoutMs) const
{
    return wait(fds, n, std::chrono::milliseconds(timeoutMs));
}

int StopSignals::wait(pollfd *fds, nfds_t n, std::chrono::nanoseconds timeout) const
{
    sigset_t open = mOldMask;
    for (const int s : SIGNALS)
        if (sigismember(&mCaught, s))
            sigdelset(&open, s);
    const long long ns = timeout.count();
    timespec limit{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    return ppoll(fds, n, ns < 0 ? nullptr : &limit, &open);
}
