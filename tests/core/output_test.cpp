// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Outlet and privateDescription on real pipes, sockets, pseudo-terminals and
// files: plain writes everything, live never waits and keeps pieces whole,
// a reader that went away is EPIPE, a shared description keeps its flags.
#include "listing/output.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Piece i of a stream: its number and length, big-endian, then filler;
// 6 to 305 bytes, so that pieces straddle the pipe's pages.
Bytes piece(unsigned i)
{
    const size_t n = 6 + (i * 37) % 300;
    Bytes p(n, static_cast<unsigned char>(i));
    for (int k = 0; k < 4; ++k)
        p[k] = static_cast<unsigned char>(i >> (24 - 8 * k));
    p[4] = static_cast<unsigned char>(n >> 8);
    p[5] = static_cast<unsigned char>(n);
    return p;
}

// Splits a stream back into the pieces it holds: fails unless it is whole
// pieces one after the other, each as it was put, in increasing order.
// Returns how many.
size_t wholePieces(const Bytes &got)
{
    size_t count = 0;
    long last = -1;
    for (size_t at = 0; at < got.size(); ++count) {
        if (got.size() - at < 6) {
            ADD_FAILURE() << "a piece cut short at byte " << at;
            break;
        }
        unsigned i = 0;
        for (int k = 0; k < 4; ++k)
            i = (i << 8) | got[at + k];
        const Bytes want = piece(i);
        if (static_cast<long>(i) <= last || got.size() - at < want.size() ||
            !std::equal(want.begin(), want.end(), got.begin() + static_cast<long>(at))) {
            ADD_FAILURE() << "not piece " << i << " whole at byte " << at << " (after piece "
                          << last << ")";
            break;
        }
        last = i;
        at += want.size();
    }
    return count;
}

void setNonBlocking(int fd, bool on)
{
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

bool nonBlocking(int fd)
{
    return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0;
}

// Appends what fd has now (fd non-blocking).
void readAvailable(int fd, Bytes &into)
{
    unsigned char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        into.insert(into.end(), buf, buf + n);
}

// Writes to fd until it takes no more, its own flags left as they were.
void fill(int fd)
{
    const bool was = nonBlocking(fd);
    setNonBlocking(fd, true);
    const Bytes junk(4096, 0xEE);
    while (write(fd, junk.data(), junk.size()) > 0) {
    }
    setNonBlocking(fd, was);
}

// Both ends of a pipe or a stream socket, closed when it goes. The pipe is
// made as small as the system lets it, so that it fills quickly.
struct Channel {
    int reader = -1;
    int writer = -1;
    size_t capacity = 0; // bytes the pipe holds; 0: a socket, not known

    static Channel pipe()
    {
        Channel c;
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        c.reader = fds[0];
        c.writer = fds[1];
        fcntl(c.writer, F_SETPIPE_SZ, 4096); // rounded up to a page; may be refused
        c.capacity = static_cast<size_t>(fcntl(c.writer, F_GETPIPE_SZ));
        return c;
    }
    static Channel socket()
    {
        Channel c;
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
            throw std::runtime_error("socketpair failed");
        c.reader = fds[0];
        c.writer = fds[1];
        const int small = 4096;
        setsockopt(c.writer, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        return c;
    }
    void closeReader()
    {
        close(reader);
        reader = -1;
    }
    ~Channel()
    {
        if (reader >= 0)
            close(reader);
        if (writer >= 0)
            close(writer);
    }
    Channel() = default;
    Channel(Channel &&o) noexcept : reader(o.reader), writer(o.writer), capacity(o.capacity)
    {
        o.reader = o.writer = -1;
    }
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;
};

// A test that could hang on a fault (a write that blocks) is ended by an
// alarm instead; a reader that went away is EPIPE, not a signal.
class OutletTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::signal(SIGPIPE, SIG_IGN);
        alarm(60);
    }
    void TearDown() override { alarm(0); }
};

const size_t BOUND = 1000;
const unsigned PIECES = 3000;

// Plain, every byte reaches a regular file, once chunk bytes wait or at
// flush().
TEST_F(OutletTest, PlainWritesInChunksToAFile)
{
    TempDir dir;
    const std::string path = dir.path() + "/out";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    auto size = [&path] {
        struct stat st {};
        stat(path.c_str(), &st);
        return static_cast<size_t>(st.st_size);
    };
    Outlet out(fd, BOUND, 100);
    const Bytes a(60, 'a');
    const Bytes b(50, 'b');
    EXPECT_TRUE(out.put(a.data(), a.size()));
    EXPECT_EQ(size(), 0u) << "less than a chunk waits";
    EXPECT_TRUE(out.put(b.data(), b.size()));
    EXPECT_EQ(size(), 110u) << "a chunk's worth is written";
    Bytes all;
    for (unsigned i = 0; i < PIECES; ++i) {
        const Bytes p = piece(i);
        ASSERT_TRUE(out.put(p.data(), p.size()));
        all.insert(all.end(), p.begin(), p.end());
    }
    EXPECT_TRUE(out.flush());
    close(fd);
    EXPECT_EQ(size(), 110 + all.size()) << "plain ignores the bound";
    EXPECT_EQ(out.dropped(), 0);
}

// Plain on a pipe read slowly waits for the reader, blocking description
// or not, and loses nothing.
TEST_F(OutletTest, PlainWaitsForASlowReader)
{
    for (const bool nonblocking : {false, true}) {
        SCOPED_TRACE(nonblocking ? "non-blocking description" : "blocking description");
        Channel c = Channel::pipe();
        setNonBlocking(c.writer, nonblocking);
        Bytes got;
        std::thread reader([&c, &got] {
            unsigned char buf[512];
            ssize_t n;
            while ((n = read(c.reader, buf, sizeof buf)) > 0)
                got.insert(got.end(), buf, buf + n);
        });
        Outlet out(c.writer, BOUND, 0);
        for (unsigned i = 0; i < PIECES; ++i) {
            const Bytes p = piece(i);
            EXPECT_TRUE(out.put(p.data(), p.size()));
        }
        EXPECT_TRUE(out.flush());
        close(c.writer);
        c.writer = -1;
        reader.join();
        EXPECT_EQ(wholePieces(got), PIECES);
        EXPECT_EQ(out.dropped(), 0);
    }
}

struct LiveKind {
    const char *name;
    Outlet::Kind kind;
    bool socket;
    bool nonblocking; // the description as the outlet gets it
};

const LiveKind LIVE_KINDS[] = {
    {"direct pipe", Outlet::DIRECT, false, true},
    {"shared pipe", Outlet::SHARED, false, false},
    {"socket", Outlet::SOCKET, true, false},
};

// Live, with nobody reading: put() never waits, drops what does not fit in
// the bound as whole pieces and counts them; what was not dropped comes out
// whole and in order once the reader reads. A shared description keeps its
// flags throughout.
TEST_F(OutletTest, LiveDropsWholePiecesBeyondTheBound)
{
    for (const LiveKind &k : LIVE_KINDS) {
        SCOPED_TRACE(k.name);
        Channel c = k.socket ? Channel::socket() : Channel::pipe();
        setNonBlocking(c.writer, k.nonblocking);
        setNonBlocking(c.reader, true);
        const int flags = fcntl(c.writer, F_GETFL);
        Outlet out(c.writer, BOUND, 0);
        out.setFd(c.writer, k.kind);
        out.setLive(true);
        long refused = 0;
        for (unsigned i = 0; i < PIECES; ++i) {
            const Bytes p = piece(i);
            if (!out.put(p.data(), p.size()))
                ++refused;
            if (i % 100 == 0)
                out.flush(0);
            ASSERT_EQ(fcntl(c.writer, F_GETFL), flags) << "the description's flags changed";
        }
        EXPECT_EQ(out.error(), 0);
        EXPECT_GT(out.dropped(), 0);
        EXPECT_EQ(out.dropped(), refused);
        EXPECT_TRUE(out.pending());

        Bytes got;
        do {
            readAvailable(c.reader, got);
            out.flush(0);
        } while (out.pending());
        readAvailable(c.reader, got);
        EXPECT_EQ(fcntl(c.writer, F_GETFL), flags);
        EXPECT_EQ(wholePieces(got) + static_cast<size_t>(out.dropped()), PIECES);
        if (c.capacity > 0) {
            EXPECT_LE(got.size(), c.capacity + BOUND) << "more than the pipe and the bound held";
        }
    }
}

struct ClosedCase {
    const char *name;
    bool live;
    Outlet::Kind kind;
    bool socket;
    bool nonblocking;
    bool full; // the reader went with the pipe full
};

void PrintTo(const ClosedCase &c, std::ostream *os)
{
    *os << c.name;
}

class ClosedReader : public OutletTest, public ::testing::WithParamInterface<ClosedCase> {};

// A reader that went away: the write fails with EPIPE, error() says so,
// nothing waits any more and nothing more is taken, whether the pipe was
// empty or full when the reader went.
TEST_P(ClosedReader, IsEpipe)
{
    const ClosedCase &k = GetParam();
    Channel c = k.socket ? Channel::socket() : Channel::pipe();
    setNonBlocking(c.writer, k.nonblocking);
    if (k.full)
        fill(c.writer);
    c.closeReader();
    Outlet out(c.writer, BOUND, 0);
    out.setFd(c.writer, k.kind);
    out.setLive(k.live);
    const Bytes p = piece(1);
    out.put(p.data(), p.size());
    out.flush(0);
    EXPECT_EQ(out.error(), EPIPE);
    EXPECT_FALSE(out.pending());
    EXPECT_FALSE(out.put(p.data(), p.size()));
    EXPECT_FALSE(out.flush(0));
}

INSTANTIATE_TEST_SUITE_P(
    Outlet, ClosedReader,
    ::testing::Values(ClosedCase{"PlainEmptyPipe", false, Outlet::DIRECT, false, false, false},
                      ClosedCase{"PlainFullPipe", false, Outlet::DIRECT, false, false, true},
                      ClosedCase{"LiveDirectEmptyPipe", true, Outlet::DIRECT, false, true, false},
                      ClosedCase{"LiveDirectFullPipe", true, Outlet::DIRECT, false, true, true},
                      ClosedCase{"LiveSocketEmpty", true, Outlet::SOCKET, true, false, false},
                      ClosedCase{"LiveSocketFull", true, Outlet::SOCKET, true, false, true},
                      ClosedCase{"LiveSharedEmptyPipe", true, Outlet::SHARED, false, false, false},
                      // poll(2) on a full pipe whose reader went says POLLERR
                      // without POLLOUT; only the write itself tells EPIPE.
                      ClosedCase{"LiveSharedFullPipe", true, Outlet::SHARED, false, false, true}),
    [](const ::testing::TestParamInfo<ClosedCase> &info) { return std::string(info.param.name); });

// A private description for a pipe and a terminal: a new descriptor,
// non-blocking, while the original's description stays blocking; what is
// written through it reaches the same reader. A regular file is its own.
TEST(PrivateDescription, PipeAndTerminalGetTheirOwn)
{
    Channel pipe = Channel::pipe();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    const struct {
        const char *name;
        int fd;
        int reader;
    } cases[] = {{"pipe", pipe.writer, pipe.reader}, {"terminal", terminal, master}};
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        Outlet::Kind kind = Outlet::SHARED;
        const int own = privateDescription(k.fd, kind);
        ASSERT_GE(own, 0);
        EXPECT_NE(own, k.fd);
        EXPECT_EQ(kind, Outlet::DIRECT);
        EXPECT_TRUE(nonBlocking(own));
        EXPECT_FALSE(nonBlocking(k.fd)) << "the shared description was made non-blocking";
        ASSERT_EQ(write(own, "x", 1), 1);
        char c = 0;
        EXPECT_EQ(read(k.reader, &c, 1), 1);
        EXPECT_EQ(c, 'x');
        close(own);
    }
    close(terminal);
    close(master);
}

TEST(PrivateDescription, FileAndSocketAreTheirOwn)
{
    TempDir dir;
    const int file = open((dir.path() + "/f").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(file, 0);
    Channel socket = Channel::socket();
    const struct {
        const char *name;
        int fd;
        Outlet::Kind kind;
    } cases[] = {{"regular file", file, Outlet::DIRECT}, {"socket", socket.writer, Outlet::SOCKET}};
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        Outlet::Kind kind = Outlet::SHARED;
        EXPECT_EQ(privateDescription(k.fd, kind), k.fd);
        EXPECT_EQ(kind, k.kind);
        EXPECT_FALSE(nonBlocking(k.fd));
    }
    close(file);
}

} // namespace
