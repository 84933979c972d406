// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "cli.h"

namespace {

std::string gBuffer;       // bytes not yet written
size_t gDone = 0;          // of gBuffer, already written
bool gLive = false;        // never wait, bound the buffer
const char *gCommand = ""; // for the message at the first drop
long gDropped = 0;
int gError = 0;

// Writes from the buffer what standard output takes without waiting.
void writeSome()
{
    while (gError == 0 && gDone < gBuffer.size()) {
        const ssize_t n = write(STDOUT_FILENO, gBuffer.data() + gDone, gBuffer.size() - gDone);
        if (n > 0)
            gDone += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN)
            break;
        else
            gError = n < 0 ? errno : EIO;
    }
    if (gDone == gBuffer.size() || gError != 0) {
        gBuffer.clear();
        gDone = 0;
    }
}

} // namespace

namespace output {

void line(const std::string &text)
{
    if (gError != 0)
        return;
    if (gLive && gBuffer.size() - gDone + text.size() > LiveOutput::BOUND) {
        writeSome();
        if (gError != 0)
            return;
        if (gBuffer.size() - gDone + text.size() > LiveOutput::BOUND) {
            if (gDropped++ == 0)
                std::fprintf(stderr,
                             "vemlink %s: standard output fell behind; dropping listing lines "
                             "(the link is not affected)\n",
                             gCommand);
            return;
        }
    }
    // Keep the buffer from creeping: move the unwritten rest to the front.
    if (gDone > 0 && gDone >= gBuffer.size() / 2) {
        gBuffer.erase(0, gDone);
        gDone = 0;
    }
    gBuffer += text;
    if (!gLive && gBuffer.size() >= 65536)
        flush();
}

bool flush(int waitMs)
{
    if (!gLive) {
        // Plain: wait as long as the reader takes.
        writeSome();
        while (pending()) {
            pollfd out{STDOUT_FILENO, POLLOUT, 0};
            poll(&out, 1, -1);
            writeSome();
        }
        return gError == 0;
    }
    const auto start = std::chrono::steady_clock::now();
    writeSome();
    while (gError == 0 && pending() && waitMs > 0) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
        if (spent >= waitMs)
            break;
        pollfd out{STDOUT_FILENO, POLLOUT, 0};
        poll(&out, 1, static_cast<int>(waitMs - spent));
        writeSome();
    }
    return gError == 0;
}

bool pending()
{
    return gError == 0 && gDone < gBuffer.size();
}

bool broken()
{
    return gError != 0;
}

int error()
{
    return gError;
}

long dropped()
{
    return gDropped;
}

std::string droppedLine()
{
    if (gDropped == 0)
        return "";
    return std::to_string(gDropped) + " lines not shown: standard output fell behind\n";
}

int finish(const char *command, int waitMs)
{
    const std::string note = droppedLine();
    if (!note.empty())
        line(note);
    flush(waitMs);
    if (gError != 0)
        return failure(command, gError == EPIPE ? std::string("standard output was closed")
                                                : std::string("writing standard output: ") +
                                                      std::strerror(gError));
    if (!note.empty())
        std::fprintf(stderr, "vemlink %s: %s", command, note.c_str());
    if (pending())
        std::fprintf(stderr, "vemlink %s: standard output did not take the last lines\n", command);
    return STATUS_OK;
}

} // namespace output

LiveOutput::LiveOutput(const char *command) : mOldFlags(fcntl(STDOUT_FILENO, F_GETFL))
{
    std::fflush(stdout);
    gCommand = command;
    gLive = true;
    if (mOldFlags >= 0)
        fcntl(STDOUT_FILENO, F_SETFL, mOldFlags | O_NONBLOCK);
}

LiveOutput::~LiveOutput()
{
    if (mOldFlags >= 0)
        fcntl(STDOUT_FILENO, F_SETFL, mOldFlags);
    gLive = false;
}
