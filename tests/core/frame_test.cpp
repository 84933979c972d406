// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// frame::Receiver: what it says at each flag, against link bytes built
// independently of the framer.
#include "listing/frame.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using frame::Outcome;
using wire::Bytes;
using wire::operator+;

// The bytes between two flags and what the receiver must say at the
// closing one.
struct Case {
    const char *name;
    Bytes wire;
    Outcome outcome;
    bool tooLong;
    bool delivered;   // the framer handed over a payload ...
    Bytes payload;    // ... this one
    bool checkFailed; // the framer's check failed on what it held
    unsigned long discards;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

Bytes junk(size_t n, unsigned char b = 0x55)
{
    return Bytes(n, b);
}

std::vector<Case> cases()
{
    const Bytes hello = wire::text("hello");
    const Bytes tail = wire::text("tail");
    // Longest kept: MAX_UNSTUFFED bytes with the FCS.
    const Bytes longest = wire::plainPayload(frame::MAX_PAYLOAD);
    const Bytes longestStuffed(frame::MAX_PAYLOAD, 0x7E);
    // One byte over: MAX_UNSTUFFED + 1 unstuffed bytes.
    const Bytes over = wire::plainPayload(frame::MAX_PAYLOAD + 1);
    const Bytes overStuffed(frame::MAX_PAYLOAD + 1, 0x7D);
    return {
        {"Good", wire::body(hello), Outcome::OK, false, true, hello, false, 0},
        {"GoodEmptyPayload", wire::body({}), Outcome::OK, false, true, {}, false, 0},
        {"GoodAllStuffed",
         wire::body({0x7E, 0x7D, 0x7E}),
         Outcome::OK,
         false,
         true,
         {0x7E, 0x7D, 0x7E},
         false,
         0},
        {"FcsFailure", wire::badBody(hello), Outcome::CRC_ERROR, false, false, {}, true, 0},
        {"OneByte", {0x01}, Outcome::CRC_ERROR, false, false, {}, true, 0},
        {"LoneEscape", {0x7D}, Outcome::DROPPED, false, false, {}, false, 0},
        // hdlc.h: a flag right after a 7D ends the frame, the escape dropped.
        {"EscapeBeforeClosingFlag", wire::body(hello) + Bytes{0x7D}, Outcome::OK, false, true,
         hello, false, 0},
        {"MaxUnstuffedPlain", wire::body(longest), Outcome::OK, false, true, longest, false, 0},
        {"MaxUnstuffedStuffed", wire::body(longestStuffed), Outcome::OK, false, true,
         longestStuffed, false, 0},
        {"MaxUnstuffedPlusOnePlain", wire::body(over), Outcome::DROPPED, true, false, {}, false, 1},
        {"MaxUnstuffedPlusOneStuffed",
         wire::body(overStuffed),
         Outcome::DROPPED,
         true,
         false,
         {},
         false,
         1},
        // The framer discards the first RX_BUFFER bytes and delivers the
        // frame after them; the receiver still calls the run dropped.
        {"LongRunGoodTail", junk(frame::RX_BUFFER) + wire::body(tail), Outcome::DROPPED, true, true,
         tail, false, 1},
        {"LongStuffedRunGoodTail", wire::stuffed(junk(frame::RX_BUFFER, 0x7E)) + wire::body(tail),
         Outcome::DROPPED, true, true, tail, false, 1},
        {"TwoBuffersGoodTail", junk(2 * frame::RX_BUFFER) + wire::body(tail), Outcome::DROPPED,
         true, true, tail, false, 2},
        {"LongRunBadTail",
         junk(frame::RX_BUFFER) + wire::badBody(tail),
         Outcome::DROPPED,
         true,
         false,
         {},
         true,
         1},
        {"LongRunEmptyTail", junk(frame::RX_BUFFER), Outcome::DROPPED, true, false, {}, false, 1},
        {"LongRunLoneEscape",
         junk(frame::RX_BUFFER) + Bytes{0x7D},
         Outcome::DROPPED,
         true,
         false,
         {},
         false,
         1},
    };
}

// The receiver's view after a closing flag, against c.
void expectOutcome(const frame::Receiver &rx, const Case &c)
{
    EXPECT_EQ(frame::name(rx.outcome()), std::string(frame::name(c.outcome)));
    EXPECT_EQ(rx.tooLong(), c.tooLong);
    EXPECT_EQ(rx.delivered(), c.delivered);
    EXPECT_EQ(rx.checkFailed(), c.checkFailed);
    const Bytes got(rx.payload(), rx.payload() + rx.payloadLength());
    EXPECT_EQ(got, c.delivered ? c.payload : Bytes{});
    EXPECT_EQ(rx.wireBytes(), 0) << "counted afresh after the flag";
}

class ReceiverCase : public ::testing::TestWithParam<Case> {};

// One frame between two flags on a fresh receiver: take() is true only for
// the closing flag, wireBytes() counts the stuffed bytes up to it.
TEST_P(ReceiverCase, OutcomeAtTheClosingFlag)
{
    const Case &c = GetParam();
    ASSERT_GE(c.wire.size(), 1u);
    cHDLC framer;
    frame::Receiver rx(framer);
    EXPECT_FALSE(rx.take(wire::FLAG));
    for (size_t i = 0; i < c.wire.size(); ++i)
        ASSERT_FALSE(rx.take(c.wire[i])) << "byte " << i;
    EXPECT_EQ(rx.wireBytes(), static_cast<long>(c.wire.size()));
    ASSERT_TRUE(rx.take(wire::FLAG));
    expectOutcome(rx, c);
    EXPECT_EQ(rx.discards(), c.discards);
}

INSTANTIATE_TEST_SUITE_P(Wire, ReceiverCase, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.name);
                         });

// All the cases in one stream, each sharing its flags with its neighbours
// and with runs of flags between some: nothing carries over from one frame
// to the next, and discards() adds up.
TEST(Receiver, CasesInOneStream)
{
    cHDLC framer;
    frame::Receiver rx(framer);
    unsigned long discards = 0;
    rx.take(wire::FLAG);
    int n = 0;
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        for (const unsigned char b : c.wire)
            ASSERT_FALSE(rx.take(b));
        ASSERT_TRUE(rx.take(wire::FLAG));
        expectOutcome(rx, c);
        discards += c.discards;
        EXPECT_EQ(rx.discards(), discards);
        if (++n % 3 == 0) {
            EXPECT_FALSE(rx.take(wire::FLAG)) << "a flag after a flag closes nothing";
        }
    }
}

// reset() forgets a frame half received, in the framer as well as in the
// receiver's counts: what follows is read as a frame of its own.
TEST(Receiver, ResetForgetsTheFrameBeingReceived)
{
    const Bytes payload = wire::text("after reset");
    const struct {
        const char *name;
        Bytes before;
    } starts[] = {
        {"half a frame", wire::text("los")}, // of "lost" and its FCS
        {"a pending escape", {0x7D}},
        // Were the receiver's count kept, this and the frame after would
        // pass RX_BUFFER and be called too long.
        {"a long run", junk(frame::RX_BUFFER - 10)},
    };
    for (const auto &s : starts) {
        SCOPED_TRACE(s.name);
        cHDLC framer;
        frame::Receiver rx(framer);
        rx.take(wire::FLAG);
        for (const unsigned char b : s.before)
            rx.take(b);
        EXPECT_EQ(rx.wireBytes(), static_cast<long>(s.before.size()));
        rx.reset();
        EXPECT_EQ(rx.wireBytes(), 0);
        EXPECT_FALSE(rx.take(wire::FLAG)) << "nothing left to close";
        for (const unsigned char b : wire::body(payload))
            rx.take(b);
        ASSERT_TRUE(rx.take(wire::FLAG));
        expectOutcome(rx, {"", {}, Outcome::OK, false, true, payload, false, 0});
        EXPECT_EQ(rx.discards(), 0u);
    }
}

// reset() in the middle of a frame, without a flag after it: the rest of
// the frame is collected afresh and fails its check.
TEST(Receiver, ResetMidFrameLeavesTheRestToFail)
{
    const Bytes full = wire::body(wire::text("cut in two"));
    cHDLC framer;
    frame::Receiver rx(framer);
    rx.take(wire::FLAG);
    for (size_t i = 0; i < full.size(); ++i) {
        if (i == 4)
            rx.reset();
        rx.take(full[i]);
    }
    EXPECT_EQ(rx.wireBytes(), static_cast<long>(full.size() - 4));
    ASSERT_TRUE(rx.take(wire::FLAG));
    EXPECT_EQ(rx.outcome(), Outcome::CRC_ERROR);
    EXPECT_TRUE(rx.checkFailed());
}

} // namespace
