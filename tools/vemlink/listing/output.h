// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_OUTPUT_H
#define VEMLINK_OUTPUT_H

// Standard output for listings. Plain, it writes like stdio and waits for a
// slow reader. Live (while a LiveOutput lives) it never waits: standard
// output is made non-blocking, lines wait in a bounded buffer, and a line
// that does not fit is dropped whole and counted, so that a pager or a pipe
// nobody reads cannot hold up a link. Once a write fails (EPIPE: the reader
// has gone) nothing more is written and broken() tells so.
#include <cstddef>
#include <string>

namespace output {

// Queues one line of text, newline included. Live: dropped and counted when
// the buffer has no room for all of it; the first drop is said on standard
// error.
void line(const std::string &text);

// Writes what the buffer holds as far as standard output takes it now. Live,
// waits for room up to waitMs (0: not at all); plain, waits as long as it
// takes. False once standard output has failed.
bool flush(int waitMs = 0);

// True while lines wait in the buffer: poll standard output for POLLOUT.
bool pending();

// True once a write to standard output failed; error() is its errno.
bool broken();
int error();

// Lines dropped so far because standard output fell behind.
long dropped();

// The closing line that counts the dropped lines, "" when none were.
std::string droppedLine();

// The flush at the end of a command: waits up to waitMs for a live reader,
// then reports a failure or the dropped lines for command on standard error.
// STATUS_OK, or STATUS_FAILED when standard output failed.
int finish(const char *command, int waitMs);

// The command whose output is live, nullptr while it is plain.
const char *live();

} // namespace output

// Bytes on their way to a descriptor, in pieces kept whole. Plain, they are
// written once chunk bytes wait (0: at once), waiting as long as the reader
// takes. Live, nothing waits: the bytes are written as far as the
// descriptor (non-blocking) takes them, the rest waits in a buffer of at
// most bound bytes, and a piece that does not fit is dropped whole and
// counted, so the stream holds only whole pieces. After a failed write
// nothing more is written; error() is its errno.
class Outlet {
public:
    Outlet(int fd, size_t bound, size_t chunk) : mFd(fd), mBound(bound), mChunk(chunk) {}

    void setFd(int fd) { mFd = fd; }
    void setLive(bool live) { mLive = live; }

    // Queues n bytes. False when they were dropped or the outlet has failed.
    bool put(const void *data, size_t n);

    // Writes what waits as far as the descriptor takes it now. Live, waits
    // for room up to waitMs (0: not at all); plain, as long as it takes.
    // False once a write failed.
    bool flush(int waitMs = 0);

    // True while bytes wait: poll fd() for POLLOUT.
    bool pending() const { return mError == 0 && mDone < mBuffer.size(); }
    int fd() const { return mFd; }
    int error() const { return mError; }
    long dropped() const { return mDropped; }

private:
    void writeSome();

    int mFd;
    const size_t mBound;
    const size_t mChunk;
    bool mLive = false;
    std::string mBuffer; // bytes not yet written
    size_t mDone = 0;    // of mBuffer, already written
    long mDropped = 0;
    int mError = 0;
};

// While it lives, standard output is live (see above); its file status
// flags are put back when it goes.
class LiveOutput {
public:
    // The buffer's bound, in bytes: room for a few hundred long lines.
    static const size_t BOUND = 256 * 1024;

    explicit LiveOutput(const char *command);
    LiveOutput(const LiveOutput &) = delete;
    LiveOutput &operator=(const LiveOutput &) = delete;
    ~LiveOutput();

private:
    int mOldFlags;
};

#endif
