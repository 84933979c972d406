// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_IMPAIR_IMPAIRER_H
#define VEMLINK_IMPAIR_IMPAIRER_H

// One impaired direction of a tap: the bytes as read go in, the bytes to
// forward come out when their time comes, and the listing of the bytes as
// forwarded hears what was done to each frame (FrameNotes).
//
// The frame words (loss, corrupt, truncate, duplicate, delay) hold each
// frame until its closing flag, decide on the whole frame, in that order,
// and queue what is to go with the time it may go. A run of more than
// frame::MAX_WIRE bytes cannot be a frame that passes: it goes on as it
// comes, and no choice is drawn for it. Then bit errors (ber) hit the bytes
// as they leave, and rate paces them. Every choice comes from the seed and
// the bytes alone: where the reads happened to split them changes nothing.
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "impair/bits.h"
#include "impair/random.h"
#include "impair/schedule.h"
#include "impair/settings.h"
#include "listing/lister.h"

namespace impair {

// What was done so far, by kind: frames for the frame words, bits for ber.
enum Kind { LOST, DUPLICATED, CORRUPTED, TRUNCATED, DELAYED, BIT_ERRORS, KINDS };
using Counts = std::array<long long, KINDS>;

class Impairer : public FrameNotes {
public:
    // direction: 0 to the device, 1 to the application; each has random
    // streams of its own.
    Impairer(const Settings &settings, uint64_t seed, int direction);

    // Bits of one character on the line (start, data, parity, stop), for
    // rate.
    void setCharBits(int bits);

    // Takes n bytes read at now (seconds on the tap's clock).
    void take(const unsigned char *p, size_t n, double now);

    // Moves up to room bytes whose time has come into out, bit errors
    // done; with all, every byte queued, at once. Returns how many.
    size_t release(double now, unsigned char *out, size_t room, bool all);

    // When the next byte may go: infinity when none is queued.
    double next() const { return mSchedule.next(); }

    // Bytes held back, in a frame not yet closed or queued.
    size_t held() const { return mHeld.size() + mSchedule.held(); }

    // The end of the input: a frame held without its closing flag is queued
    // as it is.
    void finish(double now);

    const Counts &counts() const { return mCounts; }

    // "frames lost 3, corrupted 1; bit errors 17": the counts of the words
    // given.
    std::string summary() const;

    std::string frameNote(long long to) override;
    bool lostFrame(long long to, LostFrame &f) override;

private:
    struct Note {
        long long at; // the offset of the frame's closing flag as forwarded
        std::string text;
    };

    void takeFramed(const unsigned char *p, size_t n, double now);
    void closeFrame(double now);
    void lose(double now);
    void corrupt(std::string &note);
    void truncate(std::string &note);

    static const size_t NONE = static_cast<size_t>(-1);

    const Settings mSettings;
    Random mRandom; // the frames' choices
    BitErrors mBits;
    Schedule mSchedule;
    cHDLC mFramer;
    frame::Receiver mReceiver{mFramer};
    std::vector<unsigned char> mHeld; // the frame's bytes since its opening flag
    bool mPassing = false;            // in a run too long to be a frame
    size_t mCorrupted = NONE;         // the byte corrupt flipped in this frame
    std::deque<Note> mNotes;
    std::deque<long long> mHits;                       // offsets of the bits flipped, one per bit
    std::deque<std::pair<long long, LostFrame>> mLost; // by the offset of the kept flag
    Counts mCounts{};
};

} // namespace impair

#endif
