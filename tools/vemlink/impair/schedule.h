// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_IMPAIR_SCHEDULE_H
#define VEMLINK_IMPAIR_SCHEDULE_H

// The bytes of an impaired direction on their way out, each with the time
// it may go: what delay holds, and, with a rate, one character time after
// the one before, as a UART sends them. Times are seconds on the tap's
// clock. Bytes leave in the order they came, never before their time.
#include <cstddef>
#include <deque>
#include <limits>
#include <vector>

namespace impair {

class Schedule {
public:
    // Paces the bytes to one every charSeconds (0: not paced).
    void setCharTime(double charSeconds) { mChar = charSeconds; }

    // Queues n bytes that may go at `at`, or after the bytes before them
    // when those go later. Returns the time they may go.
    double append(const unsigned char *p, size_t n, double at);

    // Offset in the forwarded stream of the next byte appended.
    long long end() const { return mEnd; }
    // Offset of the next byte released.
    long long released() const { return mEnd - static_cast<long long>(held()); }
    size_t held() const { return mBytes.size() - mHead; }

    // Moves into out up to room bytes whose time has come by now (with all,
    // every byte held, at once). Returns how many.
    size_t release(double now, unsigned char *out, size_t room, bool all);

    // When the next byte may go; infinity when none is held.
    double next() const;

private:
    struct Mark {
        long long end; // offset after the last byte of the run
        double at;
    };

    size_t dueAt(double now, size_t room, double &lineFree) const;

    std::vector<unsigned char> mBytes; // from mHead on, held
    size_t mHead = 0;
    std::deque<Mark> mMarks; // runs of bytes with one time, in order
    long long mEnd = 0;
    double mLast = 0;     // the time of the last run appended
    double mChar = 0;     // seconds a character takes on the line
    double mLineFree = 0; // when the last paced byte is through
};

} // namespace impair

#endif
