// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_CORE_WIRE_H
#define VEMUTILS_TEST_CORE_WIRE_H

// Link bytes built by the tests themselves, without the framer: the FCS
// from the bitwise reference and the stuffing written out here, so that
// what the core reads is checked against an independent sender.
#include <cstddef>
#include <string>
#include <vector>

#include "fcs16_reference.h"
#include "listing/frame.h"

namespace wire {

using Bytes = std::vector<unsigned char>;

const unsigned char FLAG = 0x7E;
const unsigned char ESC = 0x7D;

inline Bytes text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

// payload followed by its FCS, low byte first: the unstuffed frame.
inline Bytes withFcs(const Bytes &payload)
{
    const unsigned short fcs =
        static_cast<unsigned short>(~bitwiseFcs(payload.data(), payload.size()));
    Bytes out(payload);
    out.push_back(static_cast<unsigned char>(fcs & 0xFF));
    out.push_back(static_cast<unsigned char>(fcs >> 8));
    return out;
}

// Every 7E and 7D sent as 7D, byte ^ 20.
inline Bytes stuffed(const Bytes &raw)
{
    Bytes out;
    for (const unsigned char b : raw) {
        if (b == FLAG || b == ESC) {
            out.push_back(ESC);
            out.push_back(static_cast<unsigned char>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    }
    return out;
}

// The bytes between the flags of a good frame carrying payload.
inline Bytes body(const Bytes &payload)
{
    return stuffed(withFcs(payload));
}

// The same with the last byte of the FCS changed: fails its check.
inline Bytes badBody(const Bytes &payload)
{
    Bytes raw = withFcs(payload);
    raw.back() ^= 0x01;
    return stuffed(raw);
}

// n bytes of payload whose frame, FCS included, holds no 7E or 7D: it goes
// on the wire as it is, n + 2 bytes.
inline Bytes plainPayload(size_t n)
{
    Bytes p(n, 0x41);
    for (unsigned char last = 0; stuffed(withFcs(p)).size() != n + 2; ++last)
        p.back() = last;
    return p;
}

inline Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A frame as a lister must report it.
struct Listed {
    frame::Outcome outcome;
    bool tooLong;
    long long offset; // of the opening flag
    Bytes wire;       // every byte between the flags
    Bytes payload;    // of a good frame
};

// A stream of frames that share their flags, and what each must come out
// as. It starts with a flag; every frame added is closed by one.
class Stream {
public:
    Stream() : mBytes{FLAG} {}

    void add(const Bytes &between, frame::Outcome outcome, bool tooLong = false)
    {
        mFrames.push_back(
            {outcome, tooLong, static_cast<long long>(mBytes.size() - 1), between, {}});
        mBytes.insert(mBytes.end(), between.begin(), between.end());
        mBytes.push_back(FLAG);
    }
    void good(const Bytes &payload)
    {
        add(body(payload), frame::Outcome::OK);
        mFrames.back().payload = payload;
    }
    void flags(size_t n) { mBytes.insert(mBytes.end(), n, FLAG); }
    // Bytes after the last flag: a partial frame when the stream ends.
    void end(const Bytes &rest)
    {
        mFrames.push_back(
            {frame::Outcome::PARTIAL, false, static_cast<long long>(mBytes.size() - 1), rest, {}});
        mBytes.insert(mBytes.end(), rest.begin(), rest.end());
    }

    const Bytes &bytes() const { return mBytes; }
    const std::vector<Listed> &frames() const { return mFrames; }

private:
    Bytes mBytes;
    std::vector<Listed> mFrames;
};

// One stream with a frame of every kind: good ones, a failed check, a lone
// escape, a run cut for its length, a run the framer discarded before a
// good tail, a frame of MAX_WIRE bytes kept whole, and a partial end.
inline Stream everyKind()
{
    Stream s;
    s.good(text("hello"));
    s.add(badBody(text("hello")), frame::Outcome::CRC_ERROR);
    s.flags(3);
    s.add({ESC}, frame::Outcome::DROPPED);
    s.good({});
    s.add(Bytes(3000, 0x33), frame::Outcome::DROPPED, true);
    s.add(Bytes(frame::RX_BUFFER, 0x44) + body(text("tail")), frame::Outcome::DROPPED, true);
    s.good(Bytes(frame::MAX_PAYLOAD, FLAG));
    s.good({FLAG, ESC, 0x00, 0xFF});
    s.end(text("open"));
    return s;
}

} // namespace wire

#endif
