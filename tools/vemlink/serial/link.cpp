// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "serial/link.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool fail(std::string &error, const char *step)
{
    error = std::string(step) + ": " + std::strerror(errno);
    return false;
}

} // namespace

PtyLink::~PtyLink()
{
    if (mSlave >= 0)
        close(mSlave);
    if (mMaster >= 0)
        close(mMaster);
}

bool PtyLink::open(std::string &error)
{
    mMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (mMaster < 0)
        return fail(error, "posix_openpt");
    if (fcntl(mMaster, F_SETFD, FD_CLOEXEC) < 0 ||
        fcntl(mMaster, F_SETFL, fcntl(mMaster, F_GETFL) | O_NONBLOCK) < 0)
        return fail(error, "fcntl on the pty master");
    if (grantpt(mMaster) < 0 || unlockpt(mMaster) < 0)
        return fail(error, "unlocking the pty");
    char name[128];
    if (ptsname_r(mMaster, name, sizeof name) != 0)
        return fail(error, "ptsname_r");
    mName = name;

    mSlave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mSlave < 0)
        return fail(error, name);
    // Raw: 8 data bits, no input or output translation, no echo, no line
    // editing, no signals, no XON/XOFF. VMIN and VTIME matter only to
    // blocking reads; poll() decides when to read here.
    termios tio{};
    if (tcgetattr(mSlave, &tio) < 0)
        return fail(error, "tcgetattr");
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(mSlave, TCSANOW, &tio) < 0)
        return fail(error, "tcsetattr");
    return true;
}

void PtyLink::releaseReceiver()
{
    if (mSlave >= 0)
        close(mSlave);
    mSlave = -1;
}

bool PtyLink::watchSettings()
{
    // A change of the settings reaches the master only while EXTPROC is on
    // (or was, before the change that turned it off).
    termios tio{};
    int on = 1;
    if (tcgetattr(mSlave, &tio) < 0)
        return false;
    tio.c_lflag |= EXTPROC;
    return tcsetattr(mSlave, TCSANOW, &tio) == 0 && ioctl(mMaster, TIOCPKT, &on) == 0;
}
