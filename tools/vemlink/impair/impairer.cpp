// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "impair/impairer.h"

#include <cstdio>

namespace impair {

namespace {

const unsigned char FLAG = cHDLC::HDLC_FLAG;

void join(std::string &text, const std::string &more)
{
    if (!text.empty())
        text += ", ";
    text += more;
}

} // namespace

Impairer::Impairer(const Settings &settings, uint64_t seed, int direction)
    : mSettings(settings), mRandom(seed, 2 * static_cast<uint64_t>(direction)),
      mBits(settings.ber, settings.burst, seed, 2 * static_cast<uint64_t>(direction) + 1)
{
    setCharBits(10);
}

void Impairer::setCharBits(int bits)
{
    mSchedule.setCharTime(mSettings.rate > 0 ? bits / static_cast<double>(mSettings.rate) : 0);
}

void Impairer::take(const unsigned char *p, size_t n, double now)
{
    if (mSettings.frameWords)
        takeFramed(p, n, now);
    else
        mSchedule.append(p, n, now);
}

// Holds each frame until the flag that closes it; bytes outside frames
// (idle flags) and the runs too long to be frames go on at once, behind
// whatever is queued.
void Impairer::takeFramed(const unsigned char *p, size_t n, double now)
{
    for (const unsigned char *end = p + n; p != end; ++p) {
        const bool closed = mReceiver.take(*p);
        if (*p != FLAG && mPassing) {
            mSchedule.append(p, 1, now);
        } else if (*p != FLAG) {
            mHeld.push_back(*p);
            if (mHeld.size() <= static_cast<size_t>(frame::MAX_WIRE))
                continue;
            mSchedule.append(mHeld.data(), mHeld.size(), now);
            mHeld.clear();
            mPassing = true;
        } else if (closed && !mPassing) {
            closeFrame(now);
        } else {
            mSchedule.append(p, 1, now);
            mPassing = false;
        }
    }
}

// The frame in mHeld, its closing flag just read: loss (which takes no
// other word), corrupt, truncate, duplicate (the copy as impaired), delay.
void Impairer::closeFrame(double now)
{
    if (mSettings.loss > 0 && mRandom.chance(mSettings.loss)) {
        lose(now);
        return;
    }
    std::string note;
    corrupt(note);
    truncate(note);
    const bool twice = mSettings.duplicate > 0 && mRandom.chance(mSettings.duplicate);
    double hold = 0;
    if (mSettings.delayGiven)
        hold = mSettings.delay + mSettings.jitter * (2 * mRandom.uniform() - 1);
    mHeld.push_back(FLAG);
    const long long flagAt = mSchedule.end() + static_cast<long long>(mHeld.size()) - 1;
    const double at = mSchedule.append(mHeld.data(), mHeld.size(), now + hold);
    if (twice) {
        mSchedule.append(mHeld.data(), mHeld.size(), at);
        ++mCounts[DUPLICATED];
        join(note, "duplicated");
    }
    if (mSettings.delayGiven && at > now) {
        char text[48];
        std::snprintf(text, sizeof text, "delayed %.1f ms", (at - now) * 1000);
        ++mCounts[DELAYED];
        join(note, text);
    }
    if (!note.empty())
        mNotes.push_back({flagAt, note});
    mHeld.clear();
}

// Not forwarded; one flag is, so that the frames around it stay apart.
void Impairer::lose(double now)
{
    ++mCounts[LOST];
    LostFrame f;
    f.outcome = mReceiver.outcome();
    f.tooLong = mReceiver.tooLong();
    f.wire.swap(mHeld);
    if (f.outcome == frame::Outcome::OK)
        f.payload.assign(mReceiver.payload(), mReceiver.payload() + mReceiver.payloadLength());
    mLost.emplace_back(mSchedule.end(), std::move(f));
    mSchedule.append(&FLAG, 1, now);
    mHeld.clear();
}

// One bit of one byte between the flags, escapes included.
void Impairer::corrupt(std::string &note)
{
    if (mSettings.corrupt <= 0 || !mRandom.chance(mSettings.corrupt))
        return;
    const size_t byte = mRandom.below(mHeld.size());
    const unsigned bit = static_cast<unsigned>(mRandom.below(8));
    mHeld[byte] ^= static_cast<unsigned char>(1u << bit);
    ++mCounts[CORRUPTED];
    join(note, "corrupted byte " + std::to_string(byte) + " bit " + std::to_string(bit));
    mCorrupted = byte;
}

// Cut after 1 to all but one of its bytes, as a line abort leaves it. A
// corrupted byte cut off no longer counts: it never reaches the far end.
void Impairer::truncate(std::string &note)
{
    const size_t n = mHeld.size();
    const bool cut = mSettings.truncate > 0 && mRandom.chance(mSettings.truncate) && n >= 2;
    const size_t corrupted = mCorrupted;
    mCorrupted = NONE;
    if (!cut)
        return;
    const size_t keep = 1 + mRandom.below(n - 1);
    mHeld.resize(keep);
    if (corrupted != NONE && corrupted >= keep) {
        --mCounts[CORRUPTED];
        note.clear();
    }
    ++mCounts[TRUNCATED];
    join(note, "truncated at " + std::to_string(keep) + " of " + std::to_string(n));
}

size_t Impairer::release(double now, unsigned char *out, size_t room, bool all)
{
    const long long at = mSchedule.released();
    const size_t n = mSchedule.release(now, out, room, all);
    if (mBits.active())
        mCounts[BIT_ERRORS] += mBits.apply(out, n, at, mHits);
    return n;
}

void Impairer::finish(double now)
{
    mSchedule.append(mHeld.data(), mHeld.size(), now);
    mHeld.clear();
}

std::string Impairer::summary() const
{
    std::string text;
    const bool given[KINDS] = {mSettings.loss > 0,    mSettings.duplicate > 0,
                               mSettings.corrupt > 0, mSettings.truncate > 0,
                               mSettings.delayGiven,  mSettings.ber > 0};
    const char *const names[KINDS] = {"lost",      "duplicated", "corrupted",
                                      "truncated", "delayed",    "bit errors"};
    for (int k = 0; k < KINDS; ++k) {
        if (!given[k])
            continue;
        const std::string count = std::string(names[k]) + " " + std::to_string(mCounts[k]);
        if (k == BIT_ERRORS)
            text += (text.empty() ? "" : "; ") + count;
        else
            join(text, (text.empty() ? "frames " : "") + count);
    }
    if (mSettings.rate > 0)
        text += (text.empty() ? "" : "; ") + std::string("paced to ") +
                std::to_string(mSettings.rate) + " bit/s";
    return text.empty() ? "nothing done" : text;
}

std::string Impairer::frameNote(long long to)
{
    std::string text;
    for (; !mNotes.empty() && mNotes.front().at <= to; mNotes.pop_front())
        join(text, mNotes.front().text);
    long bits = 0;
    for (; !mHits.empty() && mHits.front() <= to; mHits.pop_front())
        ++bits;
    if (bits > 0)
        join(text, "bit errors " + std::to_string(bits));
    return text;
}

bool Impairer::lostFrame(long long to, LostFrame &f)
{
    if (mLost.empty() || mLost.front().first > to)
        return false;
    f = std::move(mLost.front().second);
    mLost.pop_front();
    return true;
}

} // namespace impair
