// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "hdlc.h"

#include "crc.h"

#include <gtest/gtest.h>

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/StringQueueAppender.hh>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "alloc_count.h"
#include "fcs16_reference.h"
#include "rx_model.h"

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char SENTINEL_BYTE = 0xA5;
const int SENTINEL_LEN = -12345;

// Captures what the framer logs, through a real log4cpp appender on its category.
class HdlcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log4cpp::Category &cat = log4cpp::Category::getInstance("cHDLCFramer");
        appender = new log4cpp::StringQueueAppender("capture");
        auto *layout = new log4cpp::PatternLayout();
        layout->setConversionPattern("%p %m");
        appender->setLayout(layout);
        cat.addAppender(appender);
        cat.setAdditivity(false);
        cat.setPriority(log4cpp::Priority::DEBUG);
    }
    void TearDown() override { log4cpp::Category::getInstance("cHDLCFramer").removeAllAppenders(); }

    std::vector<std::string> logged()
    {
        std::vector<std::string> out;
        auto &q = appender->getQueue();
        while (!q.empty()) {
            out.push_back(q.front());
            q.pop();
        }
        return out;
    }

    Bytes frame(const Bytes &payload)
    {
        Bytes wire(2 * payload.size() + 6);
        int n = 0;
        framer.frameData(const_cast<unsigned char *>(payload.data()),
                         static_cast<int>(payload.size()), wire.data(), &n);
        wire.resize(static_cast<size_t>(n));
        return wire;
    }

    // Feeds the stream and returns every payload delivered; each false result
    // must set *outLen to 0 unless the byte was a flag ending a bad frame.
    std::vector<Bytes> receive(const Bytes &stream)
    {
        std::vector<Bytes> got;
        for (unsigned char b : stream) {
            unsigned char dst[1023];
            int len = SENTINEL_LEN;
            if (framer.unFrameByte(b, dst, &len)) {
                EXPECT_EQ(b, 0x7E);
                got.emplace_back(dst, dst + len);
            }
        }
        return got;
    }

    log4cpp::StringQueueAppender *appender = nullptr;
    cHDLC framer;
};

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct FrameCase {
    Bytes payload;
    Bytes wire;
};

const FrameCase kFrames[] = {
    {{}, {0x7E, 0x00, 0x00, 0x7E}},
    {{0x61, 0x62, 0x63}, {0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E}},
    {{0x7E}, {0x7E, 0x7D, 0x5E, 0x81, 0x6A, 0x7E}},
    {{0x7D, 0x7E, 0x20, 0x00}, {0x7E, 0x7D, 0x5D, 0x7D, 0x5E, 0x20, 0x00, 0xE4, 0x9E, 0x7E}},
    {{0x19}, {0x7E, 0x19, 0x38, 0x7D, 0x5D, 0x7E}},                   // FCS 0x7D38
    {{0x1B, 0x00}, {0x7E, 0x1B, 0x00, 0x7D, 0x5E, 0x7D, 0x5E, 0x7E}}, // FCS 0x7E7E
};

TEST_F(HdlcTest, ConstantsAndConstructionLog)
{
    EXPECT_EQ(cHDLC::HDLC_FLAG, 0x7E);
    EXPECT_EQ(cHDLC::HDLC_ESC, 0x7D);
    EXPECT_EQ(cHDLC::HDLC_XOR, 0x20);
    logged();
    cHDLC another;
    EXPECT_EQ(logged(), std::vector<std::string>{"INFO Creating Framer"});
}

TEST_F(HdlcTest, BuildsKnownFrames)
{
    for (const FrameCase &c : kFrames)
        EXPECT_EQ(frame(c.payload), c.wire) << "payload of " << c.payload.size();
}

// The frame restated byte by byte: bitwise FCS, then every byte stuffed.
Bytes referenceFrame(const unsigned char *p, size_t n)
{
    const unsigned crc = bitwiseFcs(p, n);
    Bytes raw(p, p + n);
    raw.push_back(static_cast<unsigned char>(~crc & 0xFF));
    raw.push_back(static_cast<unsigned char>((~crc >> 8) & 0xFF));
    Bytes wire{0x7E};
    for (unsigned char b : raw) {
        if (b == 0x7D || b == 0x7E) {
            wire.push_back(0x7D);
            wire.push_back(static_cast<unsigned char>(b ^ 0x20));
        } else {
            wire.push_back(b);
        }
    }
    wire.push_back(0x7E);
    return wire;
}

TEST_F(HdlcTest, BuildsWhatTheByteByByteReferenceBuilds)
{
    // Payloads are taken a word at a time: every length up to a few words,
    // every start alignment, and 7D, 7E and their neighbours 7C, 7F at every
    // position. Nothing may be written past the frame.
    std::mt19937 rng(7);
    Bytes src(64 + 8);
    for (auto &b : src)
        b = static_cast<unsigned char>(rng());
    for (unsigned char special : {0x7C, 0x7D, 0x7E, 0x7F})
        for (size_t offset = 0; offset < 8; ++offset)
            for (size_t len = 0; len <= 40; ++len)
                for (size_t at = 0; at <= len; ++at) {
                    Bytes payload(src.begin() + static_cast<long>(offset),
                                  src.begin() + static_cast<long>(offset + len));
                    if (at < len)
                        payload[at] = special; // at == len: none
                    Bytes in(offset, 0);
                    in.insert(in.end(), payload.begin(), payload.end());
                    Bytes wire(2 * len + 6 + 8, SENTINEL_BYTE);
                    int n = SENTINEL_LEN;
                    framer.frameData(in.data() + offset, static_cast<int>(len), wire.data(), &n);
                    const Bytes want = referenceFrame(payload.data(), len);
                    ASSERT_EQ(n, static_cast<int>(want.size()));
                    ASSERT_EQ(Bytes(wire.begin(), wire.begin() + n), want)
                        << "len " << len << " offset " << offset << " special at " << at;
                    for (size_t i = static_cast<size_t>(n); i < wire.size(); ++i)
                        ASSERT_EQ(wire[i], SENTINEL_BYTE) << "wrote past the frame";
                }
    // All of a long payload special: every word stuffed.
    const Bytes flags(1021, 0x7E);
    EXPECT_EQ(frame(flags), referenceFrame(flags.data(), flags.size()));
}

// A framer may test the payload for 7D and 7E many bytes at a time, as a
// C library's memchr does. Each of them at every position of two words, in
// words of bytes that differ from them in one bit, in the top bit, by
// carries and borrows (00, 01, 7C, 7F, 80, FF and the rest below), also two
// different neighbours on either side, at every alignment: the frame must
// be the byte-by-byte one, and must come back whole through the receiver.
TEST_F(HdlcTest, BuildsByteByByteFramesOnAdversarialWords)
{
    const unsigned char near[] = {0x00, 0x01, 0x20, 0x5D, 0x5E, 0x7C, 0x7D, 0x7E, 0x7F,
                                  0x80, 0xBF, 0xDF, 0xEF, 0xF7, 0xFB, 0xFD, 0xFE, 0xFF};
    const size_t len = 24;
    Bytes in(len + 8);
    Bytes wire(2 * len + 6 + 8);
    for (unsigned char special : {0x7D, 0x7E})
        for (unsigned char left : near)
            for (unsigned char right : near)
                for (size_t offset = 0; offset < 8; ++offset)
                    for (size_t at = 0; at < 16; ++at) {
                        // Skipped: pairs already covered the other way round.
                        if (left != right && (at % 4) != 1)
                            continue;
                        Bytes payload(len, left);
                        for (size_t i = at + 1; i < len; ++i)
                            payload[i] = right;
                        payload[at] = special;
                        std::copy(payload.begin(), payload.end(),
                                  in.begin() + static_cast<long>(offset));
                        std::fill(wire.begin(), wire.end(), SENTINEL_BYTE);
                        int n = SENTINEL_LEN;
                        framer.frameData(in.data() + offset, static_cast<int>(len), wire.data(),
                                         &n);
                        const Bytes want = referenceFrame(payload.data(), len);
                        ASSERT_EQ(Bytes(wire.begin(), wire.begin() + std::max(n, 0)), want)
                            << std::hex << "special " << int(special) << " between " << int(left)
                            << " and " << int(right) << std::dec << " at " << at << " offset "
                            << offset;
                        ASSERT_EQ(wire[static_cast<size_t>(n)], SENTINEL_BYTE);
                        ASSERT_EQ(receive(want), std::vector<Bytes>{payload});
                    }
    logged();
}

TEST_F(HdlcTest, NegativeLengthBuildsEmptyFrame)
{
    unsigned char src[1] = {0x55};
    unsigned char dst[8];
    int n = 0;
    framer.frameData(src, -5, dst, &n);
    EXPECT_EQ(Bytes(dst, dst + n), (Bytes{0x7E, 0x00, 0x00, 0x7E}));
}

TEST_F(HdlcTest, StuffByteEveryValue)
{
    for (int v = 0; v < 256; ++v) {
        unsigned char out[2] = {SENTINEL_BYTE, SENTINEL_BYTE};
        const int n = framer.stuff_byte(static_cast<unsigned char>(v), out);
        if (v == 0x7D || v == 0x7E) {
            EXPECT_EQ(n, 2);
            EXPECT_EQ(out[0], 0x7D);
            EXPECT_EQ(out[1], v ^ 0x20);
        } else {
            EXPECT_EQ(n, 1) << v;
            EXPECT_EQ(out[0], v);
            EXPECT_EQ(out[1], SENTINEL_BYTE) << "wrote past one byte for " << v;
        }
    }
}

TEST_F(HdlcTest, ReceivesKnownFramesByteByByte)
{
    for (const FrameCase &c : kFrames) {
        logged();
        for (size_t i = 0; i < c.wire.size(); ++i) {
            unsigned char dst[1023];
            int len = SENTINEL_LEN;
            const bool got = framer.unFrameByte(c.wire[i], dst, &len);
            if (i + 1 < c.wire.size()) {
                EXPECT_FALSE(got);
                EXPECT_EQ(len, 0);
                continue;
            }
            ASSERT_TRUE(got);
            ASSERT_EQ(len, static_cast<int>(c.payload.size()));
            EXPECT_EQ(Bytes(dst, dst + len), c.payload);
            // The unstuffed FCS bytes are copied along with the payload.
            unsigned short crc = cCrc::INIT_CRC;
            for (unsigned char b : c.payload)
                crc = cCrc::ccitt_crc16(b, crc);
            crc = static_cast<unsigned short>(~crc);
            EXPECT_EQ(Bytes(dst + len, dst + len + 2),
                      (Bytes{static_cast<unsigned char>(crc & 0xFF),
                             static_cast<unsigned char>(crc >> 8)}));
        }
        EXPECT_EQ(logged(), std::vector<std::string>{"DEBUG Frame Received"});
    }
}

TEST_F(HdlcTest, SharedFlagsAndRunsOfFlags)
{
    const Bytes a{0x01, 0x02}, b{0x7E, 0x7D, 0x03};
    Bytes fa = frame(a), fb = frame(b);
    // 7E a 7E b 7E: the middle flag closes one frame and opens the next.
    Bytes stream = cat({fa, Bytes(fb.begin() + 1, fb.end())});
    EXPECT_EQ(receive(stream), (std::vector<Bytes>{a, b}));

    logged();
    for (int i = 0; i < 3; ++i) {
        unsigned char dst[1023];
        int len = SENTINEL_LEN;
        EXPECT_FALSE(framer.unFrameByte(0x7E, dst, &len));
        EXPECT_EQ(len, 0);
    }
    EXPECT_TRUE(logged().empty());
    EXPECT_EQ(receive(cat({{0x7E, 0x7E}, fa, {0x7E, 0x7E, 0x7E}, fb})), (std::vector<Bytes>{a, b}));
}

TEST_F(HdlcTest, CrcErrorLeavesOutputUntouchedAndReceiverReady)
{
    const Bytes payload{0x10, 0x20, 0x30, 0x40};
    Bytes bad = frame(payload);
    bad[2] ^= 0x01;
    logged();
    unsigned char dst[1023];
    std::fill(std::begin(dst), std::end(dst), SENTINEL_BYTE);
    int len = 0;
    for (size_t i = 0; i + 1 < bad.size(); ++i)
        EXPECT_FALSE(framer.unFrameByte(bad[i], dst, &len));
    len = SENTINEL_LEN;
    EXPECT_FALSE(framer.unFrameByte(bad.back(), dst, &len));
    EXPECT_EQ(len, SENTINEL_LEN);
    EXPECT_EQ(dst[0], SENTINEL_BYTE);
    EXPECT_EQ(logged(), (std::vector<std::string>{"DEBUG Frame Received", "DEBUG RX Crc Error"}));
    EXPECT_EQ(receive(frame(payload)), std::vector<Bytes>{payload});
}

TEST_F(HdlcTest, EscapeThenFlagStillEndsTheFrame)
{
    const Bytes stream{0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7D, 0x7E};
    unsigned char dst[1023];
    int len = SENTINEL_LEN;
    bool got = false;
    for (unsigned char b : stream)
        got = framer.unFrameByte(b, dst, &len);
    EXPECT_TRUE(got);
    EXPECT_EQ(len, 3);
    // The dropped escape does not linger into the next frame.
    EXPECT_EQ(receive(frame({0x41})), std::vector<Bytes>{{0x41}});
}

TEST_F(HdlcTest, AnyByteMayArriveEscaped)
{
    // 'a' sent as 7D 41, 'c' as 7D 43: needless escapes are undone too.
    const Bytes stream{0x7E, 0x7D, 0x41, 0x62, 0x7D, 0x43, 0x25, 0x9E, 0x7E};
    EXPECT_EQ(receive(stream), (std::vector<Bytes>{{0x61, 0x62, 0x63}}));
    // An escape may itself be escaped: 7D 7D is 5D.
    const Bytes payload{0x61, 0x5D, 0x63};
    Bytes wire = frame(payload);
    ASSERT_EQ(wire[2], 0x5D);
    wire[2] = 0x7D;
    wire.insert(wire.begin() + 2, 0x7D);
    EXPECT_EQ(receive(wire), std::vector<Bytes>{payload});
}

TEST_F(HdlcTest, PayloadLengthLimit)
{
    auto payloadOf = [](size_t n) {
        Bytes p(n);
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<unsigned char>(i * 7);
        return p;
    };
    const Bytes p1021 = payloadOf(1021);
    EXPECT_EQ(receive(frame(p1021)), std::vector<Bytes>{p1021});

    // 1022: the high FCS byte is the 1024th and discards all; the flag finds nothing.
    logged();
    EXPECT_TRUE(receive(frame(payloadOf(1022))).empty());
    EXPECT_TRUE(logged().empty());

    // 1023: discarded at the low FCS byte; the high one is a lone failing frame.
    EXPECT_TRUE(receive(frame(payloadOf(1023))).empty());
    EXPECT_EQ(logged(), (std::vector<std::string>{"DEBUG Frame Received", "DEBUG RX Crc Error"}));

    EXPECT_EQ(receive(frame(p1021)), std::vector<Bytes>{p1021});
}

TEST_F(HdlcTest, JunkOfExactlyTheLimitThenBody)
{
    const Bytes payload{0x11, 0x22, 0x33};
    const Bytes wire = frame(payload);
    Bytes stream(1024, 0x55);
    stream.insert(stream.end(), wire.begin() + 1, wire.end()); // body and closing flag
    logged();
    EXPECT_EQ(receive(stream), std::vector<Bytes>{payload});
    EXPECT_EQ(logged(), std::vector<std::string>{"DEBUG Frame Received"});
}

TEST_F(HdlcTest, NoiseBeforeFirstFlagCostsOneFailedFrame)
{
    const Bytes payload{0x42};
    logged();
    EXPECT_EQ(receive(cat({{0x01, 0x02, 0x03}, frame(payload)})), std::vector<Bytes>{payload});
    EXPECT_EQ(logged(), (std::vector<std::string>{"DEBUG Frame Received", "DEBUG RX Crc Error",
                                                  "DEBUG Frame Received"}));
}

TEST_F(HdlcTest, ResetDiscardsPartialFrame)
{
    const Bytes a{1, 2, 3, 4, 5, 6}, b{9, 8, 7};
    const Bytes fa = frame(a), fb = frame(b);
    for (auto doReset : {&cHDLC::reset, &cHDLC::reset_rx}) {
        EXPECT_TRUE(receive(Bytes(fa.begin(), fa.begin() + 4)).empty());
        (framer.*doReset)();
        // What follows up to the next flag is a fresh frame: b's body checks.
        EXPECT_EQ(receive(Bytes(fb.begin() + 1, fb.end())), std::vector<Bytes>{b});

        EXPECT_TRUE(receive(Bytes(fa.begin(), fa.begin() + 4)).empty());
        (framer.*doReset)();
        EXPECT_TRUE(receive(Bytes(fa.begin() + 4, fa.end())).empty());
    }
}

TEST_F(HdlcTest, ResetDropsPendingEscape)
{
    EXPECT_TRUE(receive({0x7E, 0x7D}).empty());
    framer.reset();
    // Without the reset, 0x5E would be unescaped to 0x7E.
    EXPECT_EQ(receive({0x5E, 0x75, 0x7A, 0x7E}), std::vector<Bytes>{});
    EXPECT_EQ(receive(frame({0x5E})), std::vector<Bytes>{{0x5E}});
}

TEST_F(HdlcTest, BuildingDoesNotDisturbReceiving)
{
    // A frame is built between every two received bytes, escape pending or not.
    const Bytes a{0x7E, 1, 2, 0x7D, 3};
    const Bytes fa = frame(a);
    std::vector<Bytes> got;
    for (unsigned char b : fa) {
        for (const Bytes &p : receive({b}))
            got.push_back(p);
        frame({0x7E, 0x7D, 9});
    }
    EXPECT_EQ(got, std::vector<Bytes>{a});
}

TEST_F(HdlcTest, RandomRoundTrip)
{
    std::mt19937 rng(2024);
    std::vector<Bytes> sent;
    Bytes stream;
    for (int i = 0; i < 300; ++i) {
        Bytes p(i < 4 ? (i == 0 ? 0 : 1021) : rng() % 1022);
        for (auto &b : p) {
            const unsigned r = rng() % 8;
            b = r == 0 ? 0x7E : r == 1 ? 0x7D : static_cast<unsigned char>(rng());
        }
        const Bytes f = frame(p);
        ASSERT_LE(f.size(), 2 * p.size() + 6);
        // Share the flag between frames every other time.
        stream.insert(stream.end(), f.begin() + (i % 2 && !stream.empty() ? 1 : 0), f.end());
        sent.push_back(p);
    }
    EXPECT_EQ(receive(stream), sent);
}

TEST_F(HdlcTest, HostileStreamsLoseNothingGood)
{
    std::mt19937 rng(99);
    Bytes noise(1 << 20);
    for (auto &b : noise)
        b = static_cast<unsigned char>(rng());
    const struct {
        const char *name;
        Bytes stream;
    } streams[] = {
        {"noise", noise},
        {"only 7D", Bytes(100000, 0x7D)},
        {"only 7E", Bytes(100000, 0x7E)},
        {"7D 7E pairs", cat({Bytes(50000, 0x7D), Bytes(1, 0x7E), Bytes(50000, 0x7D)})},
    };
    log4cpp::Category::getInstance("cHDLCFramer").setPriority(log4cpp::Priority::INFO);
    const Bytes good{0x01, 0x7E, 0x02, 0x7D};
    for (const auto &s : streams) {
        for (unsigned char b : s.stream) {
            unsigned char dst[1023];
            int len = SENTINEL_LEN;
            if (framer.unFrameByte(b, dst, &len))
                ASSERT_TRUE(len >= 0 && len <= 1021) << s.name;
            else
                ASSERT_TRUE(len == 0 || (len == SENTINEL_LEN && b == 0x7E)) << s.name;
        }
        EXPECT_EQ(receive(frame(good)), std::vector<Bytes>{good}) << s.name;
    }
}

// The receive state, which the framer keeps protected, read from a subclass.
struct RxProbe : cHDLC {
    int length() const { return mRxLength; }
    bool escaped() const { return mRxEscaped != 0; }
    unsigned short crc() const { return mRxCrc; }
};

// Streams built to hit the receiver's special paths as often as possible:
// escapes and flags next to each other and at the overlong limit, every
// value escaped, and good frames dense in 7D and 7E with some damaged.
std::vector<std::pair<std::string, Bytes>> adversarialStreams(cHDLC &builder)
{
    std::mt19937 rng(7);
    std::vector<std::pair<std::string, Bytes>> out;

    Bytes noise(1 << 18);
    for (auto &b : noise)
        b = static_cast<unsigned char>(rng());
    out.emplace_back("noise", noise);

    const unsigned char dense[] = {0x7D, 0x7E, 0x5D, 0x5E, 0x20, 0x00, 0xFF, 0x7C, 0x7F};
    Bytes specials(1 << 18);
    for (auto &b : specials)
        b = dense[rng() % sizeof dense];
    out.emplace_back("7D/7E-dense bytes", specials);

    Bytes escapedValues;
    for (int v = 0; v < 256; ++v) {
        const Bytes one{0x7E, 0x7D, static_cast<unsigned char>(v), 0x41, 0x7D, 0x7D};
        escapedValues.insert(escapedValues.end(), one.begin(), one.end());
    }
    escapedValues.push_back(0x7E);
    out.emplace_back("every value escaped", escapedValues);

    // Frames of 1018 to 1026 unstuffed bytes, an escape pair, a lone 7D or a
    // 7D 7D pair placed at each of the last positions before the limit.
    Bytes limits;
    for (int n = 1018; n <= 1026; ++n) {
        for (int at = n - 4; at <= n; ++at) {
            for (const Bytes &special : {Bytes{0x7D, 0x5E}, Bytes{0x7D}, Bytes{0x7D, 0x7D}}) {
                limits.push_back(0x7E);
                for (int i = 0; i < n; ++i) {
                    if (i == at)
                        limits.insert(limits.end(), special.begin(), special.end());
                    else
                        limits.push_back(static_cast<unsigned char>(rng() % 0x7C));
                }
            }
        }
    }
    limits.push_back(0x7E);
    out.emplace_back("escapes at the overlong limit", limits);

    Bytes frames;
    for (int i = 0; i < 400; ++i) {
        Bytes p(i < 8 ? 1017 + static_cast<size_t>(i) : rng() % 1030);
        for (auto &b : p)
            b = dense[rng() % sizeof dense];
        Bytes wire(2 * p.size() + 6);
        int n = 0;
        builder.frameData(p.data(), static_cast<int>(p.size()), wire.data(), &n);
        wire.resize(static_cast<size_t>(n));
        if (i % 3 == 0)
            wire[1 + rng() % static_cast<size_t>(n - 2)] ^=
                static_cast<unsigned char>(1u << (rng() % 8));
        frames.insert(frames.end(), wire.begin() + (i % 2), wire.end());
    }
    out.emplace_back("dense frames, some damaged", frames);
    return out;
}

TEST_F(HdlcTest, ReceiverMatchesPlainRulesOnAdversarialStreams)
{
    log4cpp::Category::getInstance("cHDLCFramer").setPriority(log4cpp::Priority::INFO);
    for (const auto &[name, stream] : adversarialStreams(framer)) {
        RxProbe rx;
        RxModel model;
        Bytes want;
        int delivered = 0;
        for (size_t i = 0; i < stream.size(); ++i) {
            unsigned char dst[1023 + 16];
            std::fill(std::begin(dst), std::end(dst), SENTINEL_BYTE);
            int len = SENTINEL_LEN;
            const bool got = rx.unFrameByte(stream[i], dst, &len);
            const int expect = model.take(stream[i], want);
            ASSERT_EQ(got, expect == 1) << name << " at " << i;
            if (expect == 1) {
                ++delivered;
                ASSERT_EQ(len + 2, static_cast<int>(want.size())) << name << " at " << i;
                ASSERT_TRUE(std::equal(want.begin(), want.end(), dst)) << name << " at " << i;
                ASSERT_EQ(dst[want.size()], SENTINEL_BYTE) << name << " at " << i;
            } else {
                ASSERT_EQ(len, expect == 0 ? 0 : SENTINEL_LEN) << name << " at " << i;
                ASSERT_EQ(dst[0], SENTINEL_BYTE) << name << " at " << i;
            }
            ASSERT_EQ(rx.length(), static_cast<int>(model.held.size())) << name << " at " << i;
            ASSERT_EQ(rx.escaped(), model.escaped) << name << " at " << i;
            ASSERT_EQ(rx.crc(), model.crc) << name << " at " << i;
        }
        if (name.rfind("dense frames", 0) == 0) {
            EXPECT_GT(delivered, 200) << name;
        }
    }
}

TEST_F(HdlcTest, FramerAllocatesNothing)
{
    // Debug off, as in production: the logger then formats nothing either.
    log4cpp::Category::getInstance("cHDLCFramer").setPriority(log4cpp::Priority::INFO);
    Bytes payload(1021, 0x7E);
    Bytes wire(2 * payload.size() + 6);
    unsigned char dst[1023];
    int wireLen = 0;
    int len = 0;
    int delivered = 0;
    const long before = allocCount::calls();
    allocCount::enabled = true;
    framer.frameData(payload.data(), static_cast<int>(payload.size()), wire.data(), &wireLen);
    for (int i = 0; i < wireLen; ++i)
        delivered += framer.unFrameByte(wire[static_cast<size_t>(i)], dst, &len) ? 1 : 0;
    for (unsigned char b : {0x7E, 0x01, 0x7D, 0x41, 0x7E}) // a failing frame
        delivered += framer.unFrameByte(b, dst, &len) ? 1 : 0;
    framer.reset();
    allocCount::enabled = false;
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(allocCount::calls() - before, 0);
}

} // namespace
