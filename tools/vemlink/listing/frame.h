// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_FRAME_H
#define VEMLINK_FRAME_H

// What became of each frame on a link, told byte by byte: the receiver's
// limits named once, and one outcome type that the listing, the capture, the
// demo and the Python binding all read. Header only, so that the binding
// takes it without linking the tool's core.
#include "hdlc.h"

namespace frame {

// A receiving cHDLC holds the unstuffed bytes between two flags in a
// 1024-byte buffer and keeps at most one less; a run reaching the buffer's
// size is discarded there and what follows is collected afresh.
const int RX_BUFFER = 1024;
const int MAX_UNSTUFFED = RX_BUFFER - 1;
const int FCS_BYTES = 2;
// The largest payload delivered: the longest frame kept, less its FCS.
const int MAX_PAYLOAD = MAX_UNSTUFFED - FCS_BYTES;
// The longest frame that can pass, on the wire between its flags: every
// byte stuffed.
const int MAX_WIRE = 2 * MAX_UNSTUFFED;

// How a frame ended. The values are those the capture records carry.
enum class Outcome : unsigned char {
    OK = 0,        // the FCS checks; the payload is delivered
    CRC_ERROR = 1, // closed by a flag, the FCS check failed
    DROPPED = 2,   // more than MAX_UNSTUFFED bytes, or a lone escape
    PARTIAL = 3,   // bytes after the last flag when the stream ended
};

inline const char *name(Outcome o)
{
    switch (o) {
    case Outcome::OK:
        return "ok";
    case Outcome::CRC_ERROR:
        return "crc-error";
    case Outcome::DROPPED:
        return "dropped";
    case Outcome::PARTIAL:
        break;
    }
    return "partial";
}

// Reads a cHDLC's receive side and says, at each flag, what became of the
// bytes since the last one. The framer is the caller's (its constructor logs
// once per link); every received byte must go through take(). It tells the cases apart by counting,
// never from the framer's members: a lone escape leaves *outLen at 0, a failed check leaves it
// untouched, and a run longer than the receiver holds is counted here.
class Receiver {
public:
    explicit Receiver(cHDLC &framer) : mFramer(framer) {}
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    // Takes one byte. True when it was a flag that closed a frame (bytes
    // since the last flag); outcome() then tells how it ended, and an ok
    // frame's payload is payload()[0 .. payloadLength()).
    bool take(unsigned char b)
    {
        int len = UNTOUCHED;
        const bool good = mFramer.unFrameByte(b, mFrame, &len);
        if (b != cHDLC::HDLC_FLAG) {
            countByte(b);
            return false;
        }
        const bool closed = mWire > 0;
        if (mUnstuffed > MAX_UNSTUFFED)
            set(Outcome::DROPPED, true);
        else if (good)
            set(Outcome::OK, false);
        else if (len == UNTOUCHED)
            set(Outcome::CRC_ERROR, false);
        else
            set(Outcome::DROPPED, false);
        mDelivered = good;
        mCheckFailed = !good && len == UNTOUCHED;
        mPayloadLength = good ? len : 0; // also a tail delivered after a discard
        mWire = mUnstuffed = mHeld = 0;
        mEscaped = false;
        return closed;
    }

    Outcome outcome() const { return mOutcome; }
    // For DROPPED: the run was too long (else a lone escape).
    bool tooLong() const { return mTooLong; }
    const unsigned char *payload() const { return mFrame; }
    int payloadLength() const { return mPayloadLength; }
    // The framer's own verdict at this flag, which differs from outcome()
    // only after a run it discarded: it delivered the tail it collected
    // since (payload() holds it), or the tail failed its check.
    bool delivered() const { return mDelivered; }
    bool checkFailed() const { return mCheckFailed; }
    // Bytes since the last flag, as on the wire.
    long wireBytes() const { return mWire; }
    // Times the framer discarded a run on reaching RX_BUFFER bytes.
    unsigned long discards() const { return mDiscards; }

    // Discards a partly received frame, in the framer too.
    void reset()
    {
        mFramer.reset_rx();
        mWire = mUnstuffed = mHeld = 0;
        mEscaped = false;
    }

private:
    // Never stored by unFrameByte, which stores a length in every case but
    // a failed check.
    static const int UNTOUCHED = -1;

    void countByte(unsigned char b)
    {
        ++mWire;
        if (!mEscaped && b == cHDLC::HDLC_ESC) {
            mEscaped = true;
            return;
        }
        mEscaped = false;
        ++mUnstuffed;
        if (++mHeld == RX_BUFFER) {
            ++mDiscards;
            mHeld = 0;
        }
    }

    void set(Outcome o, bool tooLong)
    {
        mOutcome = o;
        mTooLong = tooLong;
    }

    cHDLC &mFramer;
    unsigned char mFrame[MAX_UNSTUFFED]; // payload and FCS, as unFrameByte needs
    int mPayloadLength = 0;
    long mWire = 0;      // bytes since the last flag
    long mUnstuffed = 0; // of those, after undoing the escapes
    int mHeld = 0;       // of those, what the framer holds now
    bool mEscaped = false;
    Outcome mOutcome = Outcome::OK;
    bool mTooLong = false;
    bool mDelivered = false;
    bool mCheckFailed = false;
    unsigned long mDiscards = 0;
};

} // namespace frame

#endif
