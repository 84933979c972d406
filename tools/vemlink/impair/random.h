// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_IMPAIR_RANDOM_H
#define VEMLINK_IMPAIR_RANDOM_H

// The random choices of an impaired direction: xoshiro256** seeded through
// splitmix64, written out here so that a seed gives the same choices with
// any compiler and library. Each stream is seeded from the user's seed and a
// number of its own, so the streams never share draws.
#include <cmath>
#include <cstdint>

namespace impair {

class Random {
public:
    Random(uint64_t seed, uint64_t stream)
    {
        uint64_t x = seed ^ (stream * 0xD1B54A32D192ED03u);
        for (uint64_t &s : mState)
            s = splitmix(x);
    }

    uint64_t next()
    {
        const uint64_t result = rotl(mState[1] * 5, 7) * 9;
        const uint64_t t = mState[1] << 17;
        mState[2] ^= mState[0];
        mState[3] ^= mState[1];
        mState[1] ^= mState[2];
        mState[0] ^= mState[3];
        mState[2] ^= t;
        mState[3] = rotl(mState[3], 45);
        return result;
    }

    // Uniform in [0, 1), from the top 53 bits.
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

    // True with probability p (always for 1, never for 0).
    bool chance(double p) { return uniform() < p; }

    // Uniform in [0, n), n > 0 (the bias of a modulo is below 2^-40 here).
    uint64_t below(uint64_t n) { return next() % n; }

    // Trials that fail before the first success of probability p: the
    // geometric gap between independent events. Huge when p is 0.
    double gap(double p)
    {
        if (p >= 1)
            return 0;
        if (p <= 0)
            return 1e300;
        return std::floor(std::log1p(-uniform()) / std::log1p(-p));
    }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static uint64_t splitmix(uint64_t &x)
    {
        uint64_t z = (x += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

    uint64_t mState[4];
};

} // namespace impair

#endif
