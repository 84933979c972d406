// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT
// The tap's impairments without a link: the impairment words and durations, the
// choices per frame and per bit under a seed, and the times bytes may go.

#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli.h"
#include "impair/bits.h"
#include "impair/impairer.h"
#include "impair/schedule.h"
#include "impair/settings.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(ParseDuration, TakesANumberAndItsUnit)
{
    const struct {
        const char *text;
        double seconds;
    } good[] = {{"20ms", 0.02}, {"0.5s", 0.5}, {"150us", 150e-6}, {"1.5ms", 0.0015},
                {"0ms", 0},     {"3s", 3},     {".25s", 0.25}};
    for (const auto &c : good) {
        double s = -1;
        EXPECT_TRUE(parseDuration(c.text, s)) << c.text;
        EXPECT_DOUBLE_EQ(s, c.seconds) << c.text;
    }
    for (const char *bad :
         {"20", "ms", "-5ms", "5 ms", " 5ms", "1e3ms", "5m", "", "5msx", "1.2.3s", "+5ms", "."}) {
        double s = 0;
        EXPECT_FALSE(parseDuration(bad, s)) << bad;
    }
}

TEST(ParseSpec, ReadsEveryWord)
{
    impair::Settings s;
    std::string error;
    ASSERT_TRUE(impair::parseSettings(
        "loss 5% duplicate 1.5% corrupt 2% truncate 100% ber 1e-5 burst 16 delay 20ms 5ms "
        "rate 9600",
        s, error))
        << error;
    EXPECT_DOUBLE_EQ(s.loss, 0.05);
    EXPECT_DOUBLE_EQ(s.duplicate, 0.015);
    EXPECT_DOUBLE_EQ(s.corrupt, 0.02);
    EXPECT_DOUBLE_EQ(s.truncate, 1);
    EXPECT_DOUBLE_EQ(s.ber, 1e-5);
    EXPECT_DOUBLE_EQ(s.burst, 16);
    EXPECT_DOUBLE_EQ(s.delay, 0.02);
    EXPECT_DOUBLE_EQ(s.jitter, 0.005);
    EXPECT_EQ(s.rate, 9600);
    EXPECT_TRUE(s.frameWords && s.delayGiven && s.given);

    // Jitter is optional; a word after the delay is the next word. Bit
    // errors and a rate alone hold no frame back.
    ASSERT_TRUE(impair::parseSettings("delay 0ms loss 0%", s, error)) << error;
    EXPECT_TRUE(s.delayGiven && s.frameWords);
    EXPECT_DOUBLE_EQ(s.jitter, 0);
    ASSERT_TRUE(impair::parseSettings("  rate 115200   ber 0  ", s, error)) << error;
    EXPECT_FALSE(s.frameWords);
    EXPECT_EQ(s.rate, 115200);
}

TEST(ParseSpec, RefusesNamingTheWordAndItsForm)
{
    const struct {
        const char *settings;
        const char *word;
        const char *form;
    } bad[] = {{"loss 5", "loss '5'", "loss P%"},
               {"loss -1%", "loss '-1%'", "0% to 100%"},
               {"duplicate 100.5%", "duplicate '100.5%'", "0% to 100%"},
               {"corrupt %", "corrupt '%'", "corrupt P%"},
               {"truncate", "truncate needs a value", "truncate P%"},
               {"ber 1.5", "ber '1.5'", "ber X [burst N]"},
               {"ber x", "ber 'x'", "e.g. ber 1e-5"},
               {"ber 0.6 burst 2", "ber '0.6'", "at most 0.5"},
               {"ber 1e-3 burst 0.5", "burst '0.5'", "at least 1"},
               {"burst 8", "burst goes after ber", "ber X burst N"},
               {"delay 20", "delay '20'", "with its unit"},
               {"delay 20ms 5", "delay jitter '5'", "delay T [J]"},
               {"delay 1ms 2ms", "delay jitter '2ms'", "no more than the delay 1ms"},
               {"rate 9600.5", "rate '9600.5'", "rate BPS"},
               {"rate 0", "rate '0'", "whole number"},
               {"lose 5%", "unknown word 'lose'", "loss P%, duplicate P%"},
               {"loss 1% corrupt 1% loss 1%", "loss given twice", ""},
               {"", "no impairments", "rate BPS"}};
    for (const auto &c : bad) {
        impair::Settings s;
        std::string error;
        EXPECT_FALSE(impair::parseSettings(c.settings, s, error)) << c.settings;
        EXPECT_NE(error.find(c.word), std::string::npos) << c.settings << ": " << error;
        EXPECT_NE(error.find(c.form), std::string::npos) << c.settings << ": " << error;
    }
}

// Frames of numbered payloads with flags and escapes among their bytes,
// between idle flags.
Bytes traffic(int frames)
{
    cHDLC framer;
    Bytes out;
    for (int i = 0; i < frames; ++i) {
        unsigned char payload[64];
        for (size_t j = 0; j < sizeof payload; ++j)
            payload[j] = static_cast<unsigned char>(j % 5 == 0 ? 0x7E : (i * 31 + j * 7) & 0xFF);
        unsigned char wire[2 * sizeof payload + 8];
        int len = 0;
        framer.frameData(payload, sizeof payload, wire, &len);
        out.insert(out.end(), wire, wire + len);
        if (i % 7 == 0)
            out.push_back(0x7E);
    }
    return out;
}

struct Impaired {
    Bytes out;
    std::vector<std::string> notes; // one per closing flag of the output
    impair::Counts counts;
};

// The input fed in chunks of chunk bytes, everything released at once; the
// notes asked at each flag of the output, as the listing asks them.
Impaired impairIn(const impair::Settings &settings, uint64_t seed, int direction, const Bytes &in,
                  size_t chunk)
{
    impair::Impairer imp(settings, seed, direction);
    Impaired run;
    for (size_t at = 0; at < in.size(); at += chunk)
        imp.take(in.data() + at, std::min(chunk, in.size() - at), 0);
    imp.finish(0);
    unsigned char buffer[4096];
    for (size_t n; (n = imp.release(0, buffer, sizeof buffer, false)) > 0;)
        run.out.insert(run.out.end(), buffer, buffer + n);
    LostFrame lost;
    for (size_t i = 0; i < run.out.size(); ++i) {
        if (run.out[i] != 0x7E)
            continue;
        run.notes.push_back(imp.frameNote(static_cast<long long>(i)));
        while (imp.lostFrame(static_cast<long long>(i), lost))
            run.notes.push_back("lost " + std::to_string(lost.wire.size()));
    }
    run.counts = imp.counts();
    return run;
}

TEST(Impairer, ChoosesByTheSeedAndTheFramesAlone)
{
    impair::Settings settings;
    std::string error;
    ASSERT_TRUE(impair::parseSettings(
        "loss 10% duplicate 10% corrupt 10% truncate 10% ber 1e-4 burst 4", settings, error));
    const Bytes in = traffic(600);
    const Impaired whole = impairIn(settings, 42, 0, in, in.size());
    for (const size_t chunk : {1, 3, 97, 4096}) {
        const Impaired again = impairIn(settings, 42, 0, in, chunk);
        EXPECT_EQ(again.out, whole.out) << "chunks of " << chunk;
        EXPECT_EQ(again.notes, whole.notes) << "chunks of " << chunk;
    }
    const impair::Counts &c = whole.counts;
    EXPECT_GT(c[impair::LOST], 0);
    EXPECT_GT(c[impair::DUPLICATED], 0);
    EXPECT_GT(c[impair::CORRUPTED], 0);
    EXPECT_GT(c[impair::TRUNCATED], 0);
    EXPECT_GT(c[impair::BIT_ERRORS], 0);
    // Another seed, or the other direction, chooses otherwise.
    EXPECT_NE(impairIn(settings, 43, 0, in, in.size()).out, whole.out);
    EXPECT_NE(impairIn(settings, 42, 1, in, in.size()).out, whole.out);
}

TEST(Impairer, EveryFrameAtOneHundredPercent)
{
    const Bytes in = traffic(50);
    long frames = 0;
    for (size_t i = 1; i < in.size(); ++i)
        frames += in[i] == 0x7E && in[i - 1] != 0x7E;
    const struct {
        const char *settings;
        impair::Kind kind;
    } cases[] = {{"loss 100%", impair::LOST},
                 {"duplicate 100%", impair::DUPLICATED},
                 {"corrupt 100%", impair::CORRUPTED},
                 {"truncate 100%", impair::TRUNCATED}};
    for (const auto &c : cases) {
        impair::Settings settings;
        std::string error;
        ASSERT_TRUE(impair::parseSettings(c.settings, settings, error));
        const Impaired run = impairIn(settings, 7, 0, in, 100);
        EXPECT_EQ(run.counts[c.kind], frames) << c.settings;
    }
    impair::Settings loss;
    std::string error;
    ASSERT_TRUE(impair::parseSettings("loss 100%", loss, error));
    const Impaired lost = impairIn(loss, 7, 0, in, 100);
    // Every flag goes on, the closing flag of each lost frame among them.
    const auto flags = static_cast<size_t>(std::count(in.begin(), in.end(), 0x7E));
    EXPECT_EQ(lost.out, Bytes(flags, 0x7E));
}

TEST(BitErrors, AtTheirRateWhereverTheChunksEnd)
{
    const size_t n = 1 << 17; // bytes
    for (const double burst : {0.0, 16.0}) {
        Bytes whole(n, 0x55);
        Bytes pieces = whole;
        std::deque<long long> hitsWhole, hitsPieces;
        impair::BitErrors a(1e-3, burst, 5, 1);
        impair::BitErrors b(1e-3, burst, 5, 1);
        const long flipped = a.apply(whole.data(), n, 0, hitsWhole);
        for (size_t at = 0; at < n; at += 1000)
            b.apply(pieces.data() + at, std::min<size_t>(1000, n - at), static_cast<long long>(at),
                    hitsPieces);
        EXPECT_EQ(whole, pieces);
        EXPECT_EQ(hitsWhole, hitsPieces);
        EXPECT_EQ(static_cast<size_t>(flipped), hitsWhole.size());
        const double bits = 8.0 * n;
        const double sigma = std::sqrt(bits * 1e-3 * std::max(burst, 1.0));
        EXPECT_NEAR(flipped, bits * 1e-3, 5 * sigma) << "burst " << burst;
    }
}

TEST(Schedule, NoByteBeforeItsTime)
{
    impair::Schedule s;
    const Bytes a(10, 'a');
    const Bytes b(10, 'b');
    unsigned char out[64];
    // Later bytes wait for earlier ones: order kept.
    EXPECT_DOUBLE_EQ(s.append(a.data(), a.size(), 0.030), 0.030);
    EXPECT_DOUBLE_EQ(s.append(b.data(), b.size(), 0.010), 0.030);
    EXPECT_EQ(s.release(0.029, out, sizeof out, false), 0u);
    EXPECT_DOUBLE_EQ(s.next(), 0.030);
    EXPECT_EQ(s.release(0.030, out, sizeof out, false), 20u);

    // A rate: one byte a character time, counted from when the line was
    // free or the byte came, whichever is later.
    impair::Schedule paced;
    paced.setCharTime(0.001);
    const Bytes c(100, 'c');
    paced.append(c.data(), c.size(), 1.0);
    EXPECT_EQ(paced.release(1.0005, out, sizeof out, false), 0u);
    EXPECT_EQ(paced.release(1.0105, out, sizeof out, false), 10u);
    EXPECT_NEAR(paced.next(), 1.011, 1e-9);
    EXPECT_EQ(paced.release(1.0105, out, sizeof out, false), 0u);
    EXPECT_EQ(paced.release(1.2, out, sizeof out, false), 64u); // room
    EXPECT_EQ(paced.release(1.2, out, sizeof out, false), 26u);
    EXPECT_TRUE(std::isinf(paced.next()));
}

} // namespace
