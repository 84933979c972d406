// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Capture and its pcapng writer: the file read back byte by byte here, and
// what open() refuses.
#include "capture/capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "listing/output.h"
#include "stdout_capture.h"
#include "temp_dir.h"
#include "wire.h"

namespace {

using frame::Outcome;
using wire::Bytes;

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t wallMicros()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

// Fields of a byte string, in either byte order; out of range reads fail
// the test and give 0.
class Reader {
public:
    explicit Reader(const Bytes &b) : mBytes(b) {}
    uint64_t little(size_t at, int n) const
    {
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | byte(at + static_cast<size_t>(i));
        return v;
    }
    uint64_t big(size_t at, int n) const
    {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | byte(at + static_cast<size_t>(i));
        return v;
    }
    Bytes slice(size_t at, size_t n) const
    {
        if (at + n > mBytes.size()) {
            ADD_FAILURE() << "slice past the end";
            return {};
        }
        return Bytes(mBytes.begin() + static_cast<long>(at),
                     mBytes.begin() + static_cast<long>(at + n));
    }
    std::string text(size_t at, size_t n) const
    {
        const Bytes b = slice(at, n);
        return std::string(b.begin(), b.end());
    }

private:
    unsigned char byte(size_t at) const
    {
        if (at >= mBytes.size()) {
            ADD_FAILURE() << "read past the end at " << at;
            return 0;
        }
        return mBytes[at];
    }
    const Bytes &mBytes;
};

// One pcapng block: its type and the bytes between its length fields.
struct Block {
    uint32_t type;
    Bytes body;
};

// Splits a file into blocks, checking each length (a multiple of four,
// the same at both ends) and the section's byte order: little-endian,
// whatever the host.
std::vector<Block> blocks(const Bytes &file)
{
    std::vector<Block> out;
    const Reader r(file);
    size_t at = 0;
    while (at < file.size()) {
        const auto type = static_cast<uint32_t>(r.little(at, 4));
        const auto total = static_cast<size_t>(r.little(at + 4, 4));
        if (total < 12 || total % 4 != 0 || at + total > file.size()) {
            ADD_FAILURE() << "bad block length " << total << " at " << at;
            break;
        }
        EXPECT_EQ(r.little(at + total - 4, 4), total) << "trailing length at " << at;
        out.push_back({type, r.slice(at + 8, total - 12)});
        at += total;
    }
    return out;
}

// The options from offset at of a block's body: code to value.
std::vector<std::pair<unsigned, Bytes>> options(const Bytes &body, size_t at)
{
    std::vector<std::pair<unsigned, Bytes>> out;
    const Reader r(body);
    while (at + 4 <= body.size()) {
        const auto code = static_cast<unsigned>(r.little(at, 2));
        const auto n = static_cast<size_t>(r.little(at + 2, 2));
        if (code == 0)
            return out;
        out.push_back({code, r.slice(at + 4, n)});
        at += 4 + (n + 3) / 4 * 4;
    }
    ADD_FAILURE() << "options without opt_endofopt";
    return out;
}

std::string option(const Bytes &body, size_t at, unsigned code)
{
    for (const auto &o : options(body, at))
        if (o.first == code)
            return std::string(o.second.begin(), o.second.end());
    return "(none)";
}

// A frame as a record of the capture must hold it.
struct Want {
    char mark;
    wire::Listed frame;
};

// The epb_flags a frame must carry: the direction (inbound '<' 1,
// outbound '>' 2) and, for one that is not ok, one link-layer error bit.
uint32_t wantFlags(const Want &w)
{
    const uint32_t direction = w.mark == '<' ? 1 : 2;
    switch (w.frame.outcome) {
    case Outcome::OK:
        return direction;
    case Outcome::CRC_ERROR:
        return direction | 1u << 24;
    case Outcome::DROPPED:
        return direction | (w.frame.tooLong ? 1u << 25 : 1u << 31);
    case Outcome::PARTIAL:
        break;
    }
    return direction | 1u << 26;
}

// One Enhanced Packet Block against the frame it records.
void expectRecord(const Block &b, const Want &w, uint64_t from, uint64_t to)
{
    ASSERT_EQ(b.type, 6u) << "an Enhanced Packet Block";
    const Reader r(b.body);
    EXPECT_EQ(r.little(0, 4), 0u) << "interface";
    const uint64_t time = r.little(4, 4) << 32 | r.little(8, 4);
    EXPECT_GE(time, from);
    EXPECT_LE(time, to);
    const auto captured = static_cast<size_t>(r.little(12, 4));
    const auto original = static_cast<size_t>(r.little(16, 4));
    const Bytes packet = r.slice(20, captured);
    const Reader p(packet);
    // The exported-PDU tag naming the dissector, the end of tags.
    EXPECT_EQ(p.big(0, 2), 12u);
    EXPECT_EQ(p.big(2, 2), 8u);
    EXPECT_EQ(p.text(4, 8), std::string("vemlink", 8));
    EXPECT_EQ(p.big(12, 4), 0u);
    // The record header.
    const size_t h = 16;
    EXPECT_EQ(p.big(h, 1), 1u) << "version";
    EXPECT_EQ(p.big(h + 1, 1), static_cast<unsigned>(w.frame.outcome)) << "status";
    EXPECT_EQ(p.big(h + 2, 1), static_cast<unsigned char>(w.mark)) << "direction";
    EXPECT_EQ(p.big(h + 3, 1), 0u);
    EXPECT_EQ(p.big(h + 4, 8), static_cast<uint64_t>(w.frame.offset)) << "offset";
    EXPECT_EQ(p.big(h + 12, 4), w.frame.wire.size()) << "length on the wire";
    const size_t kept = std::min(w.frame.wire.size(), static_cast<size_t>(frame::MAX_WIRE));
    EXPECT_EQ(captured, h + 16 + kept);
    EXPECT_EQ(original, h + 16 + w.frame.wire.size());
    EXPECT_EQ(p.slice(h + 16, captured - h - 16),
              Bytes(w.frame.wire.begin(), w.frame.wire.begin() + static_cast<long>(kept)));
    // epb_flags, little-endian like every field of the section.
    const std::string flags = option(b.body, 20 + (captured + 3) / 4 * 4, 2);
    ASSERT_EQ(flags.size(), 4u);
    const Bytes f(flags.begin(), flags.end());
    EXPECT_EQ(Reader(f).little(0, 4), wantFlags(w))
        << "status " << frame::name(w.frame.outcome) << (w.frame.tooLong ? " (too long)" : "");
}

// The frames of both directions of a link, listed with a capture as their
// sink, in a pcapng file: a section header, one interface of link type 252
// named as asked, then one record a frame, each direction in its order.
TEST(Capture, RecordsEveryFrameWithItsStatusAndFlags)
{
    TempDir dir;
    const std::string path = dir.path() + "/link.pcapng";
    const wire::Stream out = wire::everyKind();
    wire::Stream in;
    in.add(wire::badBody(wire::text("in")), Outcome::CRC_ERROR);
    in.good(wire::text("in"));
    in.add({wire::ESC}, Outcome::DROPPED);
    in.end(Bytes(2 * frame::MAX_WIRE, 0x21));

    const uint64_t from = wallMicros();
    {
        StopSignals stop;
        Capture capture;
        std::string error;
        ASSERT_TRUE(capture.open(path.c_str(), "ttyTEST", stop, error)) << error;
        output::flush();
        StdoutCapture listing;
        const struct {
            char mark;
            const wire::Stream &stream;
        } sides[] = {{'>', out}, {'<', in}};
        for (const auto &side : sides) {
            Lister lister;
            lister.setSink(capture.sink(side.mark));
            lister.arrived();
            lister.feed(side.stream.bytes().data(), side.stream.bytes().size());
            lister.finish();
        }
        EXPECT_EQ(capture.finish("test", 0), STATUS_OK);
        EXPECT_FALSE(capture.failed());
        output::flush();
    }
    const uint64_t to = wallMicros();

    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "owner-only";
    const std::vector<Block> file = blocks(readFile(path));
    std::vector<Want> want;
    for (const auto &f : out.frames())
        want.push_back({'>', f});
    for (const auto &f : in.frames())
        want.push_back({'<', f});
    ASSERT_EQ(file.size(), 2 + want.size());

    const Reader shb(file[0].body);
    EXPECT_EQ(file[0].type, 0x0A0D0D0Au);
    EXPECT_EQ(shb.slice(0, 4), (Bytes{0x4D, 0x3C, 0x2B, 0x1A})) << "byte-order magic";
    EXPECT_EQ(shb.little(4, 2), 1u);
    EXPECT_EQ(shb.little(6, 2), 0u);
    EXPECT_EQ(shb.little(8, 8), UINT64_MAX) << "section length not known";
    EXPECT_EQ(option(file[0].body, 16, 4), "vemlink " VEMLINK_VERSION);

    const Reader idb(file[1].body);
    EXPECT_EQ(file[1].type, 1u);
    EXPECT_EQ(idb.little(0, 2), 252u) << "LINKTYPE_WIRESHARK_UPPER_PDU";
    EXPECT_EQ(idb.little(4, 4), 0u) << "no snapshot length";
    EXPECT_EQ(option(file[1].body, 8, 2), "ttyTEST");

    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i) + " (" + want[i].mark + ")");
        expectRecord(file[2 + i], want[i], from, to);
    }
}

// A path with something at it already: refused, with a message naming it
// and the reason, and left as it was, also by discard().
TEST(Capture, OpenRefusesWhatExists)
{
    TempDir dir;
    const std::string file = dir.write("file", "keep me");
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A reader, so that following the link would not wait.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string toFifo = dir.path() + "/to-fifo";
    const std::string toNothing = dir.path() + "/to-nothing";
    ASSERT_EQ(symlink(fifo.c_str(), toFifo.c_str()), 0);
    ASSERT_EQ(symlink((dir.path() + "/absent").c_str(), toNothing.c_str()), 0);
    const struct {
        const std::string &path;
        const char *reason;
    } cases[] = {
        {file, "File exists"},
        {toFifo, "it is a symbolic link, which a capture never follows"},
        {toNothing, "it is a symbolic link, which a capture never follows"},
    };
    StopSignals stop;
    for (const auto &k : cases) {
        SCOPED_TRACE(k.path);
        Capture capture;
        std::string error;
        EXPECT_FALSE(capture.open(k.path.c_str(), "x", stop, error));
        EXPECT_EQ(error, "cannot write " + k.path + ": " + k.reason);
        EXPECT_FALSE(capture.active());
        capture.discard();
        struct stat st {};
        EXPECT_EQ(lstat(k.path.c_str(), &st), 0) << "removed";
    }
    EXPECT_EQ(readFile(file), wire::text("keep me"));
    char c;
    EXPECT_EQ(read(reader, &c, 1), 0) << "nothing written to the FIFO";
    struct stat st {};
    EXPECT_NE(lstat((dir.path() + "/absent").c_str(), &st), 0) << "made through the link";
    close(reader);
}

// discard() removes a file open() created, and only that: a FIFO that was
// there stays.
TEST(Capture, DiscardRemovesOnlyWhatOpenCreated)
{
    TempDir dir;
    StopSignals stop;
    std::string error;

    const std::string created = dir.path() + "/new.pcapng";
    {
        Capture capture;
        ASSERT_TRUE(capture.open(created.c_str(), "x", stop, error)) << error;
        EXPECT_EQ(access(created.c_str(), F_OK), 0);
        capture.discard();
        EXPECT_NE(access(created.c_str(), F_OK), 0) << "still there after discard()";
        EXPECT_FALSE(capture.active());
    }

    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        Capture capture;
        ASSERT_TRUE(capture.open(fifo.c_str(), "x", stop, error)) << error;
        capture.discard();
    }
    struct stat st {};
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0) << "the FIFO was removed";
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    Bytes header(4096);
    const ssize_t n = read(reader, header.data(), header.size());
    ASSERT_GT(n, 0) << "the FIFO's reader got no header";
    header.resize(static_cast<size_t>(n));
    const std::vector<Block> got = blocks(header);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, 0x0A0D0D0Au);
    EXPECT_EQ(got[1].type, 1u);
    close(reader);
}

// The writer alone: blocks padded to four bytes whatever the packet's
// length, no options but the end when there are no flags.
TEST(PcapngWriter, PadsPacketsAndLeavesOutEmptyFlags)
{
    TempDir dir;
    const std::string path = dir.path() + "/w.pcapng";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    Outlet outlet(fd, 0, 0);
    PcapngWriter writer(outlet);
    ASSERT_TRUE(writer.start(147, "if", "app"));
    const Bytes data = wire::text("abcdefgh");
    for (size_t n = 0; n <= 5; ++n)
        ASSERT_TRUE(writer.packet(0x123456789AULL + n, data.data(), n, n + 100, 0));
    close(fd);
    const std::vector<Block> got = blocks(readFile(path));
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(Reader(got[1].body).little(0, 2), 147u);
    for (size_t n = 0; n <= 5; ++n) {
        SCOPED_TRACE("captured " + std::to_string(n));
        const Block &b = got[2 + n];
        const Reader r(b.body);
        EXPECT_EQ(r.little(4, 4) << 32 | r.little(8, 4), 0x123456789AULL + n);
        EXPECT_EQ(r.little(12, 4), n);
        EXPECT_EQ(r.little(16, 4), n + 100);
        const size_t padded = (n + 3) / 4 * 4;
        EXPECT_EQ(r.slice(20, n), Bytes(data.begin(), data.begin() + static_cast<long>(n)));
        EXPECT_EQ(r.slice(20 + n, padded - n), Bytes(padded - n, 0)) << "padding";
        EXPECT_TRUE(options(b.body, 20 + padded).empty());
        EXPECT_EQ(b.body.size(), 20 + padded + 4);
    }
}

} // namespace
