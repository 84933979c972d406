// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_OUTPUT_H
#define VEMLINK_OUTPUT_H

// Standard output for listings, standard error for messages. Plain, they
// write like stdio and wait for a slow reader. Live (while a LiveOutput
// lives) they never wait: each is written through a private open file
// description of its own, made non-blocking (the one the process inherited
// is shared with the shell and every other program on the terminal, so its
// flags are never touched); lines wait in a bounded buffer, and a line that
// does not fit is dropped whole and counted, so that a paused terminal, a
// pager or a pipe nobody reads cannot hold up a link. Once a write to
// standard output fails (EPIPE: the reader has gone) nothing more is written
// there and broken() tells so.
#include <cstddef>
#include <string>

namespace output {

// Queues one line of text, newline included. Live: dropped and counted when
// the buffer has no room for all of it; the first drop is said on standard
// error.
void line(const std::string &text);

// Queues one of the lines that close a listing (partial frames, summaries,
// counts): they have a reserve of their own past the bound, so that a
// listing that fell behind still ends with them.
void closing(const std::string &text);

// Says "vemlink COMMAND: text" on standard error, newline added: live,
// through the bounded buffer (a message that does not fit is dropped);
// plain, at once. info() is for what a person at a terminal wants to know
// and is left out when the output is quiet (for a program that reads
// standard error as errors); error() always goes.
void info(const char *command, const std::string &text);
void error(const char *command, const std::string &text);

// Writes what the buffers hold as far as the descriptors take it now. Live,
// waits for room up to waitMs (0: not at all); plain, waits as long as it
// takes. False once standard output has failed.
bool flush(int waitMs = 0);

// The descriptor to poll for POLLOUT while lines wait, -1 when none wait.
int waiting();

// True once a write to standard output failed; error() is its errno.
bool broken();
int error();

// Lines dropped so far because standard output fell behind.
long dropped();

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

    // How writes reach the descriptor. DIRECT: write(2) as it is, for a
    // description of our own set non-blocking, or a regular file. SOCKET: send(2) with
    // MSG_DONTWAIT, which leaves the description as it is. SHARED: a description others share,
    // written only when poll(2) says it takes PIPE_BUF bytes, and no more at once.
    enum Kind { DIRECT, SOCKET, SHARED };

    void setFd(int fd, Kind kind = DIRECT)
    {
        mFd = fd;
        mKind = kind;
    }
    void setLive(bool live) { mLive = live; }

    // Queues n bytes, with room for extra bytes past the bound. False when
    // they were dropped or the outlet has failed.
    bool put(const void *data, size_t n, size_t extra = 0);

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
    ssize_t writeNow(const char *p, size_t n);

    int mFd;
    Kind mKind = DIRECT;
    const size_t mBound;
    const size_t mChunk;
    bool mLive = false;
    std::string mBuffer; // bytes not yet written
    size_t mDone = 0;    // of mBuffer, already written
    long mDropped = 0;
    int mError = 0;
};

// While it lives, standard output and standard error are live (see above):
// each written through a private description, made here and closed when it
// goes. With quiet, output::info() says nothing.
class LiveOutput {
public:
    // The listing buffer's bound, in bytes: room for a few hundred long
    // lines; and that of the messages.
    static const size_t BOUND = 256 * 1024;
    static const size_t MESSAGES = 64 * 1024;
    // Room past BOUND for the lines that close a listing.
    static const size_t CLOSING = 16 * 1024;

    explicit LiveOutput(const char *command, bool quiet = false);
    LiveOutput(const LiveOutput &) = delete;
    LiveOutput &operator=(const LiveOutput &) = delete;
    ~LiveOutput();
};

// A description of descriptor fd for this process alone, set non-blocking:
// a terminal or a pipe opened again through /proc, which gives a new open
// file description of the same file, so the one fd shares with others keeps
// its flags. Returns it (the caller closes it when it is not fd), and how to
// write it in kind: a regular file never makes a writer wait and is fd
// itself, DIRECT (a new description would have an offset of its own); a
// socket cannot be opened so and is fd, SOCKET; without /proc, fd, SHARED.
int privateDescription(int fd, Outlet::Kind &kind);

// Puts /dev/null in place of a standard descriptor that is closed, so that
// nothing opened later (a device) becomes standard output or error. Called
// first thing in main().
void guardStandardDescriptors();

#endif
