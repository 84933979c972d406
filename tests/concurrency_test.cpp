// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// What may run concurrently does: lookups on one loaded table and on the
// loaded process configuration from several threads, and framers on
// separate objects in parallel. Run under ThreadSanitizer by scripts/test;
// in the other builds it checks the results.
#include "hdlc.h"
#include "properties.h"
#include "vemconfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"

namespace {

const int THREADS = 4;
const int KEYS = 500;

std::string settings()
{
    std::string text;
    for (int i = 0; i < KEYS; ++i)
        text += "key" + std::to_string(i) + "=" + std::to_string(i * 3) + "\n";
    return text;
}

// Runs body(thread index) on THREADS threads at once; returns the failures.
template <typename F> int inParallel(F body)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&, t] { failures += body(t); });
    for (auto &th : threads)
        th.join();
    return failures;
}

TEST(Concurrency, LookupsOnOneTableAndOnTheConfiguration)
{
    TempDir dir;
    const std::string path = dir.write("settings.properties", settings());
    cProperties props;
    ASSERT_TRUE(props.load(path.c_str()));
    ASSERT_TRUE(cConfig::load(path.c_str()));

    const int failures = inParallel([&](int t) {
        int bad = 0;
        for (int round = 0; round < 20; ++round)
            for (int i = t; i < KEYS; i += 1 + t) {
                const std::string key = "key" + std::to_string(i);
                const std::string want = std::to_string(i * 3);
                bad += props.getString(key.c_str(), "") != want;
                bad += props.getInt(key.c_str(), -1) != i * 3;
                bad += cConfig::getString(key.c_str(), "") != want;
                bad += cConfig::getInt(key.c_str(), -1) != i * 3;
                bad += cConfig::getInt("absent", 7) != 7;
            }
        return bad;
    });
    EXPECT_EQ(failures, 0);
}

TEST(Concurrency, FramersOnSeparateObjects)
{
    const int failures = inParallel([](int t) {
        cHDLC framer;
        std::mt19937 rng(static_cast<unsigned>(t));
        int bad = 0;
        for (int round = 0; round < 300; ++round) {
            std::vector<unsigned char> payload(rng() % 1022);
            for (auto &b : payload)
                b = static_cast<unsigned char>(rng() % 4 == 0 ? 0x7E : rng());
            std::vector<unsigned char> wire(2 * payload.size() + 6);
            int wireLen = 0;
            framer.frameData(payload.data(), static_cast<int>(payload.size()), wire.data(),
                             &wireLen);
            unsigned char rx[1023];
            int rxLen = -1;
            bool got = false;
            for (int i = 0; i < wireLen; ++i)
                got = framer.unFrameByte(wire[static_cast<size_t>(i)], rx, &rxLen);
            bad += !got || rxLen != static_cast<int>(payload.size()) ||
                   !std::equal(payload.begin(), payload.end(), rx);
        }
        return bad;
    });
    EXPECT_EQ(failures, 0);
}

} // namespace
