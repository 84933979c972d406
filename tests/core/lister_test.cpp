// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Lister: the listing, the summary and the frames handed to a sink, for a
// stream fed whole, byte by byte and in chunks of many sizes.
#include "listing/lister.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "listing/output.h"
#include "stdout_capture.h"
#include "wire.h"

namespace {

using frame::Outcome;
using wire::Bytes;

// A frame as the sink was given it, its bytes copied while valid.
struct Got {
    Outcome outcome;
    bool tooLong;
    long long offset;
    Bytes kept;
    size_t length;
};

class Collect : public FrameSink {
public:
    void frame(const WireFrame &f) override
    {
        frames.push_back(
            {f.outcome, f.tooLong, f.offset, Bytes(f.wire, f.wire + f.kept), f.length});
    }
    std::vector<Got> frames;
};

struct Listing {
    std::string listing; // the lines and the summary, as standard output got them
    std::vector<Got> frames;
    std::string summary; // summary() before finish()
};

// Feeds bytes in chunks whose sizes come from next(), then finishes.
template <typename Next> Listing listInChunks(const Bytes &bytes, Next next)
{
    Listing run;
    Collect sink;
    output::flush(); // nothing of an earlier test left to come out here
    run.listing = printedBy([&] {
        Lister lister;
        lister.setSink(&sink);
        for (size_t at = 0; at < bytes.size();) {
            const size_t n = std::min(next(), bytes.size() - at);
            lister.feed(bytes.data() + at, n);
            at += n;
        }
        run.summary = lister.summary(" >");
        lister.finish(" >");
        output::flush();
    });
    run.frames = sink.frames;
    return run;
}

Listing listInChunksOf(const Bytes &bytes, size_t chunk)
{
    return listInChunks(bytes, [chunk] { return chunk; });
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Every frame of the stream reaches the sink as it was on the wire: cut to
// MAX_WIRE bytes when longer, a lone escape dropped but not for its
// length, a run past the receiver's buffer too long even though the framer
// delivered the tail after it.
TEST(Lister, SinkGetsEveryFrameAsOnTheWire)
{
    const wire::Stream s = wire::everyKind();
    const Listing run = listInChunksOf(s.bytes(), s.bytes().size());
    ASSERT_EQ(run.frames.size(), s.frames().size());
    for (size_t i = 0; i < run.frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const Got &got = run.frames[i];
        const wire::Listed &want = s.frames()[i];
        EXPECT_EQ(frame::name(got.outcome), std::string(frame::name(want.outcome)));
        EXPECT_EQ(got.tooLong, want.tooLong);
        EXPECT_EQ(got.offset, want.offset);
        EXPECT_EQ(got.length, want.wire.size());
        const size_t kept = std::min(want.wire.size(), static_cast<size_t>(frame::MAX_WIRE));
        EXPECT_EQ(got.kept, Bytes(want.wire.begin(), want.wire.begin() + kept));
    }
}

// One line a frame, in order, with its offset, length (of the payload for a
// good frame, else on the wire) and status, the good ones showing their
// payload and the cut one marked; then the summary.
TEST(Lister, ListingLinesAndSummary)
{
    const wire::Stream s = wire::everyKind();
    const Listing run = listInChunksOf(s.bytes(), 1);
    const std::vector<std::string> got = lines(run.listing);
    ASSERT_EQ(got.size(), s.frames().size() + 1) << run.listing;
    for (size_t i = 0; i < s.frames().size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        const wire::Listed &want = s.frames()[i];
        long long offset = -1;
        size_t length = 0;
        char status[16] = "";
        ASSERT_EQ(std::sscanf(got[i].c_str(), "%lld %zu %15s", &offset, &length, status), 3);
        EXPECT_EQ(offset, want.offset);
        EXPECT_EQ(length, want.outcome == Outcome::OK ? want.payload.size() : want.wire.size());
        EXPECT_STREQ(status, frame::name(want.outcome));
        EXPECT_EQ(got[i].find(" ... ") != std::string::npos,
                  want.wire.size() > static_cast<size_t>(frame::MAX_WIRE));
    }
    EXPECT_NE(got[0].find("68 65 6C 6C 6F"), std::string::npos) << "the payload of the first";
    EXPECT_NE(got[0].find("|hello|"), std::string::npos);
    EXPECT_EQ(got.back(), "summary >: frames 9 (ok 4, crc-error 1, dropped 3, partial 1), bytes " +
                              std::to_string(s.bytes().size()));
    EXPECT_EQ(run.summary, "summary >: frames 8 (ok 4, crc-error 1, dropped 3, partial 0), bytes " +
                               std::to_string(s.bytes().size()))
        << "the open frame is not counted before finish()";
}

// How the stream is cut into reads changes nothing: the listing, the
// summary and the frames handed on are the same for every chunk size.
TEST(Lister, ChunkSizesGiveTheSameOutput)
{
    const wire::Stream s = wire::everyKind();
    const Listing whole = listInChunksOf(s.bytes(), s.bytes().size());
    const size_t sizes[] = {1, 2, 3, 7, 64, 1023, 1024, 1025, 4096};
    std::vector<Listing> runs;
    for (const size_t n : sizes)
        runs.push_back(listInChunksOf(s.bytes(), n));
    std::mt19937 random(2026);
    runs.push_back(listInChunks(s.bytes(), [&random] { return size_t{1} + random() % 200; }));
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(i < std::size(sizes) ? "chunks of " + std::to_string(sizes[i])
                                          : std::string("chunks of random sizes"));
        EXPECT_EQ(runs[i].listing, whole.listing);
        EXPECT_EQ(runs[i].summary, whole.summary);
        ASSERT_EQ(runs[i].frames.size(), whole.frames.size());
        for (size_t f = 0; f < whole.frames.size(); ++f) {
            EXPECT_EQ(runs[i].frames[f].outcome, whole.frames[f].outcome);
            EXPECT_EQ(runs[i].frames[f].tooLong, whole.frames[f].tooLong);
            EXPECT_EQ(runs[i].frames[f].offset, whole.frames[f].offset);
            EXPECT_EQ(runs[i].frames[f].kept, whole.frames[f].kept);
            EXPECT_EQ(runs[i].frames[f].length, whole.frames[f].length);
        }
    }
}

// okSinceMark() counts the good frames whose first byte after the opening
// flag is fed after mark(): not one already begun.
TEST(Lister, OkSinceMarkCountsFramesBegunAfterTheMark)
{
    const Bytes hello = wire::body(wire::text("hello"));
    StdoutCapture quiet;
    Lister lister;
    const unsigned char flag = wire::FLAG;
    lister.feed(&flag, 1);
    lister.feed(hello.data(), 2);
    lister.mark();
    lister.feed(hello.data() + 2, hello.size() - 2);
    lister.feed(&flag, 1);
    EXPECT_EQ(lister.ok(), 1);
    EXPECT_EQ(lister.okSinceMark(), 0) << "begun before the mark";
    lister.mark(); // right after the flag: the next frame counts
    lister.feed(hello.data(), hello.size());
    lister.feed(&flag, 1);
    EXPECT_EQ(lister.ok(), 2);
    EXPECT_EQ(lister.okSinceMark(), 1);
    EXPECT_EQ(lister.bytes(), static_cast<long long>(2 * hello.size() + 3));
    output::flush();
}

} // namespace
