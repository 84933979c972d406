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

// unFrameByte tells only a good frame apart by its result; the other two
// outcomes at a flag differ in *outLen: left untouched when the FCS check
// failed, set to 0 when the receiver held nothing, which after bytes since
// the last flag means it dropped them (a lone 7D). A run of more than
// MAX_UNSTUFFED unstuffed bytes is counted here, not read from the result:
// the receiver discards it at its 1024th byte and collects what follows as
// a fresh frame, which would then be listed as a crc-error of its own.
void Lister::feed(const unsigned char *p, size_t n)
{
    for (const unsigned char *end = p + n; p != end; ++p, ++mOffset) {
        int len = LEN_UNTOUCHED;
        const bool ok = mFramer.unFrameByte(*p, mFrame, &len);
        if (*p != cHDLC::HDLC_FLAG) {
            if (mWireLen < WIRE_KEEP)
                mWire[mWireLen] = *p;
            if (mWireLen++ == 0)
                mFirst = mOffset;
            if (!mEscaped && *p == cHDLC::HDLC_ESC) {
                mEscaped = true;
            } else {
                mEscaped = false;
                ++mUnstuffed;
            }
            continue;
        }
        if (mUnstuffed > MAX_UNSTUFFED) {
            row(mDropped, "dropped", mWire, mWireLen);
        } else if (ok) {
            if (mFirst >= mMark)
                ++mOkSinceMark;
            row(mOk, "ok", mFrame, static_cast<size_t>(len));
        } else if (len == LEN_UNTOUCHED) {
            row(mCrcErrors, "crc-error", mWire, mWireLen);
        } else if (mWireLen > 0) {
            row(mDropped, "dropped", mWire, mWireLen);
        }
        mStart = mOffset;
        mWireLen = 0;
        mUnstuffed = 0;
        mEscaped = false;
    }
}

void Lister::finish(const char *label)
{
    if (mWireLen > 0)
        row(mPartial, "partial", mWire, mWireLen);
    char text[160];
    std::snprintf(text, sizeof text,
                  "summary%s: frames %ld (ok %ld, crc-error %ld, dropped %ld, partial %ld), "
                  "bytes %lld\n",
                  label, mOk + mCrcErrors + mDropped + mPartial, mOk, mCrcErrors, mDropped,
                  mPartial, mOffset);
    output::line(text);
}

// One line for a frame of len bytes; data holds at least the first WIRE_KEEP
// of them, and any beyond those are marked as cut.
void Lister::row(long &count, const char *status, const unsigned char *data, size_t len)
{
    ++count;
    if (mSink != nullptr)
        mSink->frame(
            {status, mStart, mWire, mWireLen < WIRE_KEEP ? mWireLen : WIRE_KEEP, mWireLen});
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
    mLine += '\n';
    output::line(mLine);
}

void listEvent(double seconds, char mark, const std::string &text)
{
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %c ", seconds, mark);
    output::line(prefix + text + "\n");
}
