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
    return waitUs(fds, n, timeoutMs < 0 ? -1 : timeoutMs * 1000LL);
}

int StopSignals::waitUs(pollfd *fds, nfds_t n, long long timeoutUs) const
{
    sigset_t open = mOldMask;
    for (const int s : SIGNALS)
        if (sigismember(&mCaught, s))
            sigdelset(&open, s);
    timespec limit{static_cast<time_t>(timeoutUs / 1000000),
                   static_cast<long>(timeoutUs % 1000000) * 1000};
    return ppoll(fds, n, timeoutUs < 0 ? nullptr : &limit, &open);
}
