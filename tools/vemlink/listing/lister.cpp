// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "listing/lister.h"

#include <cstdio>
#include <cstring>

#include "cli.h"
#include "listing/hex.h"
#include "listing/output.h"

void Lister::header(bool timed)
{
    output::line(timed ? "      time    offset  length  status     data\n"
                       : "  offset  length  status     data\n");
}

void Lister::setPrefix(const char *prefix)
{
    std::snprintf(mPrefix, sizeof mPrefix, "%s", prefix);
}

void Lister::feed(const unsigned char *p, size_t n)
{
    for (const unsigned char *end = p + n; p != end; ++p, ++mOffset) {
        const bool closed = mReceiver.take(*p);
        if (*p != cHDLC::HDLC_FLAG) {
            if (mWireLen < WIRE_KEEP)
                mWire[mWireLen] = *p;
            if (mWireLen++ == 0)
                mFirst = mOffset;
            continue;
        }
        if (closed)
            listClosed();
        if (mNotes != nullptr)
            listLost();
        mStart = mOffset;
        mWireLen = 0;
    }
}

// The frame the last flag closed, by its outcome.
void Lister::listClosed()
{
    switch (mReceiver.outcome()) {
    case frame::Outcome::OK:
        if (mFirst >= mMark)
            ++mOkSinceMark;
        row(mOk, frame::Outcome::OK, mReceiver.payload(),
            static_cast<size_t>(mReceiver.payloadLength()));
        break;
    case frame::Outcome::CRC_ERROR:
        row(mCrcErrors, frame::Outcome::CRC_ERROR, mWire, mWireLen);
        break;
    default:
        row(mDropped, frame::Outcome::DROPPED, mWire, mWireLen);
        break;
    }
}

void Lister::finish(const char *label)
{
    if (mWireLen > 0)
        row(mPartial, frame::Outcome::PARTIAL, mWire, mWireLen);
    output::closing(summary(label) + "\n");
}

std::string Lister::summary(const char *label) const
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "summary%s: frames %ld (ok %ld, crc-error %ld, dropped %ld, partial %ld), "
                  "bytes %lld",
                  label, mOk + mCrcErrors + mDropped + mPartial, mOk, mCrcErrors, mDropped,
                  mPartial, mOffset);
    return text;
}

// One line for a frame of len bytes; data holds at least the first WIRE_KEEP
// of them, and any beyond those are marked as cut.
void Lister::row(long &count, frame::Outcome outcome, const unsigned char *data, size_t len)
{
    ++count;
    mNote.clear();
    if (mNotes != nullptr)
        mNote = mNotes->frameNote(mOffset);
    if (mSink != nullptr)
        mSink->frame({outcome, outcome == frame::Outcome::DROPPED && mReceiver.tooLong(), mStart,
                      mWire, mWireLen < WIRE_KEEP ? mWireLen : WIRE_KEEP, mWireLen,
                      mNote.empty() ? nullptr : mNote.c_str(),
                      outcome == frame::Outcome::OK ? data : nullptr,
                      outcome == frame::Outcome::OK ? len : 0});
    print(frame::name(outcome), data, len, mNote);
}

// The frames lost at the flag just taken, as they were read, between the
// frame that flag closed and the next; not counted in the summary, which
// counts what was forwarded.
void Lister::listLost()
{
    while (mNotes->lostFrame(mOffset, mLost)) {
        const std::vector<unsigned char> &wire = mLost.wire;
        const bool ok = mLost.outcome == frame::Outcome::OK;
        if (mSink != nullptr)
            mSink->frame({mLost.outcome, mLost.tooLong, mStart, wire.data(), wire.size(),
                          wire.size(), "lost", ok ? mLost.payload.data() : nullptr,
                          ok ? mLost.payload.size() : 0});
        const std::vector<unsigned char> &shown = ok ? mLost.payload : wire;
        print(frame::name(mLost.outcome), shown.data(), shown.size(), "lost");
    }
}

void Lister::print(const char *status, const unsigned char *data, size_t len,
                   const std::string &note)
{
    const size_t shown = len < WIRE_KEEP ? len : WIRE_KEEP;
    char head[96];
    std::snprintf(head, sizeof head, "%s%8lld  %6zu  %s", mPrefix, mStart, len, status);
    mLine = head;
    if (len > 0) {
        mLine.append(11 - std::strlen(status), ' ');
        appendHex(mLine, data, shown);
        mLine += shown < len ? " ...  |" : "  |";
        appendAscii(mLine, data, shown);
        mLine += '|';
    }
    if (!note.empty())
        mLine += "  ! " + note;
    mLine += '\n';
    output::line(mLine);
}

void listEvent(double seconds, char mark, const std::string &text)
{
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %c ", seconds, mark);
    output::line(prefix + text + "\n");
}
