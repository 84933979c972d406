// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_LISTER_H
#define VEMLINK_LISTER_H

// The frame listing of decode, tap and send: every byte of one direction of
// a link through its own frame::Receiver, one line per frame, handed to the
// listing output (output.h).
#include <cstddef>
#include <string>
#include <vector>

#include "listing/frame.h"

// One listed frame as it was on the wire: the bytes between its flags,
// still stuffed, of which the first kept are at wire (kept < length when a
// long run was cut), the offset of its opening flag in the direction's
// stream, and how it ended (tooLong: dropped for its length, not for a
// lone escape). comment says what was done to it on purpose on its way
// (see FrameNotes), nullptr for nothing. An ok frame's payload, FCS
// removed, is at payload (nullptr for any other outcome).
struct WireFrame {
    frame::Outcome outcome;
    bool tooLong;
    long long offset;
    const unsigned char *wire;
    size_t kept;
    size_t length;
    const char *comment;
    const unsigned char *payload;
    size_t payloadLength;
};

// A frame that was not forwarded (the tap's loss), as it was read.
struct LostFrame {
    frame::Outcome outcome = frame::Outcome::OK;
    bool tooLong = false;
    std::vector<unsigned char> wire;    // the bytes between its flags
    std::vector<unsigned char> payload; // for OK, the payload
};

// What was done on purpose to the frames of a stream on their way (the
// tap's --to-device and --to-app), told to the lister of the bytes as
// forwarded; offsets are those of that stream.
class FrameNotes {
public:
    virtual ~FrameNotes() = default;
    // The note of the frame the byte at offset `to` closes (or, at the end,
    // of the bytes up to it): what was said of every offset up to `to`,
    // lost frames apart; empty for nothing.
    virtual std::string frameNote(long long to) = 0;
    // The next frame lost at a flag up to offset `to`, taken; false when
    // there is none.
    virtual bool lostFrame(long long to, LostFrame &f) = 0;
};

// Whoever wants the frames besides the listing (a capture file). arrived()
// comes when the bytes that are fed next were read (see Lister::arrived),
// before the frames they close.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void arrived() {}
    virtual void frame(const WireFrame &f) = 0;
};

class Lister {
public:
    // The column heads; with timed, those of the time and direction columns
    // that a prefix (see setPrefix) puts in front of every line.
    static void header(bool timed);

    // Text printed at the start of every following line, up to 31 characters,
    // for example "  1.250000 >" (the time and the direction of a tap).
    void setPrefix(const char *prefix);

    // Lists the frames that n more bytes of the stream close.
    void feed(const unsigned char *p, size_t n);

    // Lists what is left after the last flag, as partial, and prints the
    // summary line, "summary" followed by label (for example " >").
    void finish(const char *label = "");

    // The summary line so far, without its newline; a frame still open is
    // not counted.
    std::string summary(const char *label = "") const;

    // Hands every listed frame to sink as well (nullptr: none); the sink
    // must outlive the lister's use.
    void setSink(FrameSink *sink) { mSink = sink; }

    // Marks each listed frame with what notes says was done to it, and
    // lists the frames it says were lost, uncounted (nullptr: none); notes
    // must outlive the lister's use.
    void setNotes(FrameNotes *notes) { mNotes = notes; }

    // To be called after each read whose bytes will be fed (in the tap,
    // right after they are forwarded), so that the sink stamps the frames
    // they close with the time of the read.
    void arrived()
    {
        if (mSink != nullptr)
            mSink->arrived();
    }

    // From now on, okSinceMark() counts the intact frames whose first byte
    // after the opening flag comes later in the stream than this call.
    void mark()
    {
        mMark = mOffset;
        mOkSinceMark = 0;
    }
    long okSinceMark() const { return mOkSinceMark; }

    long ok() const { return mOk; }
    long long bytes() const { return mOffset; }

private:
    void listClosed();
    void row(long &count, frame::Outcome outcome, const unsigned char *data, size_t len);
    void listLost();
    void print(const char *status, const unsigned char *data, size_t len, const std::string &note);

    // Bytes of a bad frame kept for its line: enough for the longest frame
    // that could pass. Longer runs are cut.
    static const size_t WIRE_KEEP = frame::MAX_WIRE;

    cHDLC mFramer;
    frame::Receiver mReceiver{mFramer};
    unsigned char mWire[WIRE_KEEP]; // the first bytes since the last flag
    size_t mWireLen = 0;            // bytes since the last flag, kept or not
    long long mOffset = 0;          // offset of the next byte in the stream
    long long mStart = 0;           // offset of the frame's opening flag
    long long mFirst = 0;           // offset of its first byte after the flag
    long long mMark = 0;            // see mark()
    long mOkSinceMark = 0;
    long mOk = 0;
    long mCrcErrors = 0;
    long mDropped = 0;
    long mPartial = 0;
    char mPrefix[32] = "";
    FrameSink *mSink = nullptr;
    FrameNotes *mNotes = nullptr;
    std::string mNote; // reused for every note
    LostFrame mLost;   // reused for every lost frame
    std::string mLine; // reused for every line
};

// Lists an event between the frames: the seconds given (since the start),
// a direction mark (' ' for none) and the text, for example
// "  2.400000 > device gone, waiting".
void listEvent(double seconds, char mark, const std::string &text);

#endif
