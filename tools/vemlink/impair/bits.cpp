// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "impair/bits.h"

namespace impair {

BitErrors::BitErrors(double ber, double burst, uint64_t seed, uint64_t stream)
    : mRandom(seed, stream), mBer(ber)
{
    if (burst > 0 && ber > 0) {
        mToQuiet = 1 / burst;
        // Quiet stretches of mean length Q = N (1 - 2X) / 2X make the
        // noisy share N / (N + Q) = 2X; a gap of mean Q has p = 1 / (Q + 1).
        mToNoisy = 2 * ber / (burst * (1 - 2 * ber) + 2 * ber);
    }
    if (mToQuiet > 0)
        quietGap();
    else
        mSkip = mRandom.gap(mBer);
}

// Quiet bits before the next noisy stretch.
void BitErrors::quietGap()
{
    mNoisy = false;
    mSkip = mRandom.gap(mToNoisy);
}

// The length of a noisy stretch, at least one bit.
void BitErrors::noisyStretch()
{
    mNoisy = true;
    mSkip = 1 + mRandom.gap(mToQuiet);
}

long BitErrors::apply(unsigned char *p, size_t n, long long at, std::deque<long long> &hits)
{
    if (mBer <= 0)
        return 0;
    long flipped = 0;
    const double bits = 8.0 * static_cast<double>(n);
    double pos = 0; // the bit looked at, from p[0]'s lowest
    while (pos < bits) {
        if (!mNoisy && mSkip >= bits - pos) {
            mSkip -= bits - pos;
            break;
        }
        if (mToQuiet <= 0) { // independent errors: mSkip bits, then one wrong
            pos += mSkip;
        } else if (!mNoisy) {
            pos += mSkip;
            noisyStretch();
            continue;
        }
        const auto bit = static_cast<size_t>(pos);
        bool wrong = true;
        if (mNoisy) {
            wrong = mRandom.chance(0.5);
            if (--mSkip <= 0)
                quietGap();
        } else {
            mSkip = mRandom.gap(mBer);
        }
        if (wrong) {
            p[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            hits.push_back(at + static_cast<long long>(bit / 8));
            ++flipped;
        }
        pos += 1;
    }
    return flipped;
}

} // namespace impair
