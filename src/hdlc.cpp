// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "hdlc.h"

#include <cstring>

#include "crc.h"
#include "fcs_table.h"

const unsigned char cHDLC::HDLC_FLAG;
const unsigned char cHDLC::HDLC_ESC;
const unsigned char cHDLC::HDLC_XOR;

namespace {

// Room of mRxBuffer. Storing byte number RX_LIMIT discards the frame, so the
// largest frame kept is RX_LIMIT - 1 bytes: 1021 payload plus 2 FCS bytes.
const int RX_LIMIT = 1024;
// Bytes of FCS at the end of every frame.
const int FCS_BYTES = 2;

// cCrc::ccitt_crc16's step, inline, on the table's hidden name.
inline unsigned short crcStep(unsigned char b, unsigned short crc)
{
    return static_cast<unsigned short>((crc >> 8) ^ vemutils::fcsTable[(crc ^ b) & 0xff]);
}

// Writes b stuffed at p and returns the position after it.
inline unsigned char *stuff(unsigned char b, unsigned char *p)
{
    if (b == cHDLC::HDLC_FLAG || b == cHDLC::HDLC_ESC) {
        *p++ = cHDLC::HDLC_ESC;
        b ^= cHDLC::HDLC_XOR;
    }
    *p++ = b;
    return p;
}

// A flag after `length` held bytes, the receive state already reset: logs
// the frame and, when its FCS checks, copies it to dst with the payload
// length in *outLen. Out of line: it runs once a frame, and keeps the
// logging off the path of an ordinary byte.
__attribute__((noinline)) bool endFrame(cHDLC &log, const unsigned char *held, int length,
                                        unsigned short crc, unsigned char *dst, int *outLen)
{
    log.debug("Frame Received\n");
    if (crc != cCrc::GOOD_CRC) {
        log.debug("RX Crc Error\n");
        return false;
    }
    std::memcpy(dst, held, static_cast<size_t>(length));
    *outLen = length - FCS_BYTES;
    return true;
}

} // namespace

cHDLC::cHDLC() : cVemlog("cHDLCFramer")
{
    info("Creating Framer");
    // mRxBuffer is read only up to mRxLength, so it is left uncleared.
    reset_rx();
}

void cHDLC::reset_rx()
{
    mRxLength = 0;
    mRxEscaped = false;
    mRxCrc = cCrc::INIT_CRC;
}

void cHDLC::reset()
{
    reset_rx();
}

int cHDLC::stuff_byte(unsigned char b, unsigned char *out)
{
    return static_cast<int>(stuff(b, out) - out);
}

void cHDLC::frameData(unsigned char *src, int len, unsigned char *dst, int *outLen)
{
    unsigned char *p = dst;
    *p++ = HDLC_FLAG;
    unsigned short crc = cCrc::INIT_CRC;
    const unsigned char *s = src;
    size_t left = static_cast<size_t>(len > 0 ? len : 0);
    while (left > 0) {
        // A run of bytes sent as they are: the FCS takes each raw byte, and
        // the run is copied whole. The byte that ends it is stuffed.
        size_t n = 0;
        for (; n < left; ++n) {
            const unsigned char b = s[n];
            if (b == HDLC_FLAG || b == HDLC_ESC)
                break;
            crc = crcStep(b, crc);
        }
        if (n > 0) {
            std::memcpy(p, s, n);
            p += n;
            s += n;
            left -= n;
        }
        if (left > 0) {
            crc = crcStep(*s, crc);
            p = stuff(*s++, p);
            --left;
        }
    }
    const unsigned short fcs = static_cast<unsigned short>(~crc);
    p = stuff(static_cast<unsigned char>(fcs & 0xff), p);
    p = stuff(static_cast<unsigned char>(fcs >> 8), p);
    *p++ = HDLC_FLAG;
    *outLen = static_cast<int>(p - dst);
}

bool cHDLC::unFrameByte(unsigned char b, unsigned char *dst, int *outLen)
{
    if (b == HDLC_FLAG) {
        // Ends the frame, also right after a 7D: the escape is dropped. The
        // reset leaves the bytes held in place for endFrame.
        const int length = mRxLength;
        const unsigned short crc = mRxCrc;
        reset_rx();
        if (length == 0) {
            *outLen = 0;
            return false;
        }
        return endFrame(*this, mRxBuffer, length, crc, dst, outLen);
    }
    *outLen = 0;
    if (b == HDLC_ESC && !mRxEscaped) {
        mRxEscaped = true; // 7D 7D is an escaped 7D
        return false;
    }
    if (mRxEscaped) {
        b ^= HDLC_XOR;
        mRxEscaped = false;
    }
    mRxCrc = crcStep(b, mRxCrc);
    mRxBuffer[mRxLength++] = b;
    if (mRxLength >= RX_LIMIT)
        reset_rx(); // overlong: dropped silently, what follows is a new frame
    return false;
}
