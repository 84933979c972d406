// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "lister.h"

#include <cstdio>
#include <cstring>

#include "cli.h"
#include "hex.h"

void Lister::header(bool timed)
{
    std::puts(timed ? "      time    offset  length  status     data"
                    : "  offset  length  status     data");
}

void Lister::setPrefix(const char *prefix)
{
    std::snprintf(mPrefix, sizeof mPrefix, "%s", prefix);
}

// unFrameByte tells only a good frame apart by its result; the other two
// outcomes at a flag differ in *outLen: left untouched when the FCS check
// failed, set to 0 when the receiver held nothing, which after bytes since
// the last flag means it dropped them (an overlong frame, a lone 7D).
void Lister::feed(const unsigned char *p, size_t n)
{
    for (const unsigned char *end = p + n; p != end; ++p, ++mOffset) {
        int len = LEN_UNTOUCHED;
        const bool ok = mFramer.unFrameByte(*p, mFrame, &len);
        if (*p != cHDLC::HDLC_FLAG) {
            if (mWireLen < WIRE_KEEP)
                mWire[mWireLen] = *p;
            ++mWireLen;
            continue;
        }
        if (ok)
            row(mOk, "ok", mFrame, static_cast<size_t>(len));
        else if (len == LEN_UNTOUCHED)
            row(mCrcErrors, "crc-error", mWire, mWireLen);
        else if (mWireLen > 0)
            row(mDropped, "dropped", mWire, mWireLen);
        mStart = mOffset;
        mWireLen = 0;
    }
}

void Lister::finish(const char *label)
{
    if (mWireLen > 0)
        row(mPartial, "partial", mWire, mWireLen);
    std::printf("summary%s: frames %ld (ok %ld, crc-error %ld, dropped %ld, partial %ld), "
                "bytes %lld\n",
                label, mOk + mCrcErrors + mDropped + mPartial, mOk, mCrcErrors, mDropped, mPartial,
                mOffset);
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
    std::printf("%s%8lld  %6zu  %s", mPrefix, mStart, len, status);
    if (len > 0) {
        std::printf("%*s", static_cast<int>(11 - std::strlen(status)), "");
        printHex(stdout, data, shown);
        std::fputs(shown < len ? " ...  |" : "  |", stdout);
        printAscii(stdout, data, shown);
        std::fputc('|', stdout);
    }
    std::fputc('\n', stdout);
}
