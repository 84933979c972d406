// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_IMPAIR_BITS_H
#define VEMLINK_IMPAIR_BITS_H

// ber X [burst N]: bit errors in the bytes as forwarded, flags included, 8
// bits a byte. Without a burst each bit is wrong with probability X, on
// its own. With one, the line follows two states (Gilbert-Elliott): quiet,
// where no bit is wrong, and noisy, where each bit is wrong with
// probability 1/2; a noisy stretch lasts N bits on average, and the line is
// noisy 2X of the time, so X stays the mean error rate. The errors depend
// only on the seed and the bits' places in the stream: no byte is added or
// removed, and how the bytes come in chunks changes nothing.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "impair/random.h"

namespace impair {

class BitErrors {
public:
    // stream: the number of this stream of random choices (see Random).
    BitErrors(double ber, double burst, uint64_t seed, uint64_t stream);

    bool active() const { return mBer > 0; }

    // Flips the bits due in p[0 .. n), the bytes of the stream from offset
    // at on, and appends the offset of each byte hit, once per bit flipped,
    // to hits. Returns the bits flipped.
    long apply(unsigned char *p, size_t n, long long at, std::deque<long long> &hits);

private:
    void quietGap();
    void noisyStretch();

    Random mRandom;
    double mBer;
    double mToNoisy = 0; // a quiet bit's chance of starting a noisy stretch
    double mToQuiet = 0; // a noisy bit's chance of ending it
    bool mNoisy = false;
    // Bits to pass over before the next one that is wrong (without a burst)
    // or before the state changes (with one).
    double mSkip = 0;
};

} // namespace impair

#endif
