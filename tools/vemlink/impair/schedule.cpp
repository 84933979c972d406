// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "impair/schedule.h"

#include <algorithm>
#include <cmath>

namespace impair {

double Schedule::append(const unsigned char *p, size_t n, double at)
{
    at = std::max(at, mLast);
    mLast = at;
    if (n == 0)
        return at;
    if (mHead > 0 && mHead == mBytes.size()) {
        mBytes.clear();
        mHead = 0;
    }
    mBytes.insert(mBytes.end(), p, p + n);
    mEnd += static_cast<long long>(n);
    if (!mMarks.empty() && mMarks.back().at == at)
        mMarks.back().end = mEnd;
    else
        mMarks.push_back({mEnd, at});
    return at;
}

// Bytes that may go by now, at most room: those of the runs whose time has
// come, and of those, with a rate, the ones the line has carried by now;
// lineFree becomes the time the last of them is through.
size_t Schedule::dueAt(double now, size_t room, double &lineFree) const
{
    const long long first = released();
    const long long most = first + static_cast<long long>(room);
    long long due = first;
    lineFree = mLineFree;
    for (const Mark &m : mMarks) {
        if (m.at > now || due >= most)
            break;
        const long long end = std::min(m.end, most);
        if (mChar <= 0) {
            due = end;
            continue;
        }
        // A byte is through one character time after the line is free, or
        // after its own time when the line waited for it.
        const double start = std::max(lineFree, m.at);
        const double fit = std::floor((now - start) / mChar);
        const long long n = std::min(static_cast<long long>(std::max(fit, 0.0)), end - due);
        if (n <= 0)
            break;
        due += n;
        lineFree = start + static_cast<double>(n) * mChar;
        if (due < m.end)
            break;
    }
    return static_cast<size_t>(due - first);
}

size_t Schedule::release(double now, unsigned char *out, size_t room, bool all)
{
    double lineFree = now;
    const size_t n = all ? std::min(held(), room) : dueAt(now, room, lineFree);
    if (n == 0)
        return 0;
    std::copy(mBytes.begin() + static_cast<long>(mHead),
              mBytes.begin() + static_cast<long>(mHead + n), out);
    mHead += n;
    mLineFree = lineFree;
    const long long upTo = released();
    while (!mMarks.empty() && mMarks.front().end <= upTo)
        mMarks.pop_front();
    if (mHead > (1u << 20) && mHead * 2 > mBytes.size()) {
        mBytes.erase(mBytes.begin(), mBytes.begin() + static_cast<long>(mHead));
        mHead = 0;
    }
    return n;
}

double Schedule::next() const
{
    if (mMarks.empty())
        return std::numeric_limits<double>::infinity();
    const double at = mMarks.front().at;
    return mChar > 0 ? std::max(at, mLineFree) + mChar : at;
}

} // namespace impair
