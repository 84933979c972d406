#include "hdlc.h"

#include <cstdint>
#include <cstring>

#include "crc.h"

const unsigned char cHDLC::HDLC_FLAG;
const unsigned char cHDLC::HDLC_ESC;
const unsigned char cHDLC::HDLC_XOR;

namespace {

// Room of mRxBuffer. Storing byte number RX_LIMIT discards the frame, so the
// largest frame kept is RX_LIMIT - 1 bytes: 1021 payload plus 2 FCS bytes.
const int RX_LIMIT = 1024;
// Bytes of FCS at the end of every frame.
const int FCS_BYTES = 2;

// The same step as cCrc::ccitt_crc16, kept here so the per-byte paths do not
// call through the library's exported (and interposable) symbol.
inline unsigned short crcStep(unsigned char b, unsigned short crc)
{
    return static_cast<unsigned short>((crc >> 8) ^ cCrc::mCrcTable[(crc ^ b) & 0xff]);
}

// Writes b stuffed at p and returns the position after it.
inline unsigned char *stuff(unsigned char b, unsigned char *p)
{
    // 7D and 7E are the only values that need escaping: one unsigned compare.
    if (static_cast<unsigned char>(b - cHDLC::HDLC_ESC) <= 1) {
        p[0] = cHDLC::HDLC_ESC;
        p[1] = static_cast<unsigned char>(b ^ cHDLC::HDLC_XOR);
        return p + 2;
    }
    p[0] = b;
    return p + 1;
}

// The machine word: 8 bytes on 64-bit hosts, 4 on the 32-bit target.
using Word = uintptr_t;
const Word BYTES_01 = ~Word(0) / 0xff; // 0x01 in every byte
const Word BYTES_80 = BYTES_01 << 7;   // 0x80 in every byte

// True when some byte of w is zero: the borrow of a zero byte sets its top
// bit, which no top bit set in w itself can fake (the & ~w).
inline bool hasZeroByte(Word w)
{
    return ((w - BYTES_01) & ~w & BYTES_80) != 0;
}

// True when some byte of w is 7D or 7E.
inline bool needsStuffing(Word w)
{
    return hasZeroByte(w ^ (BYTES_01 * cHDLC::HDLC_ESC)) ||
           hasZeroByte(w ^ (BYTES_01 * cHDLC::HDLC_FLAG));
}

} // namespace

// Keeps a rarely taken function out of line and, with GCC, also unspecialised,
// so that calling it does not make the caller shuffle its arguments.
#if __has_attribute(noipa)
#define VEMUTILS_OUT_OF_LINE __attribute__((noipa))
#else
#define VEMUTILS_OUT_OF_LINE __attribute__((noinline))
#endif

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
    const unsigned char *const end = src + (len > 0 ? len : 0);
    // A word at a time: a word without 7D or 7E, nearly every word of most
    // payloads, is copied whole. The FCS still takes one step per byte.
    for (; static_cast<size_t>(end - s) >= sizeof(Word); s += sizeof(Word)) {
        Word w;
        memcpy(&w, s, sizeof w);
        if (!needsStuffing(w)) {
            memcpy(p, &w, sizeof w);
            p += sizeof w;
        } else {
            for (size_t i = 0; i < sizeof w; ++i)
                p = stuff(s[i], p);
        }
        for (size_t i = 0; i < sizeof w; ++i)
            crc = crcStep(s[i], crc);
    }
    for (; s != end; ++s) {
        crc = crcStep(*s, crc);
        p = stuff(*s, p);
    }
    const unsigned short fcs = static_cast<unsigned short>(~crc);
    p = stuff(static_cast<unsigned char>(fcs & 0xff), p);
    p = stuff(static_cast<unsigned char>(fcs >> 8), p);
    *p++ = HDLC_FLAG;
    *outLen = static_cast<int>(p - dst);
}

bool cHDLC::unFrameByte(unsigned char b, unsigned char *dst, int *outLen)
{
    struct Rx {
        // Runs b through the FCS and stores it; drops an overlong frame.
        static bool keep(cHDLC *self, unsigned char b)
        {
            // Unsigned: indexes the buffer without a sign extension.
            const unsigned n = static_cast<unsigned>(self->mRxLength) + 1;
            self->mRxCrc = crcStep(b, self->mRxCrc);
            self->mRxBuffer[n - 1] = b;
            if (__builtin_expect(n >= RX_LIMIT, 0))
                self->reset_rx(); // overlong: dropped silently, what follows is a new frame
            else
                self->mRxLength = static_cast<int>(n);
            return false;
        }

        // A flag, once or twice a frame. Out of line, and with unFrameByte's
        // own parameters so that the per-byte path moves no register for it.
        VEMUTILS_OUT_OF_LINE static bool flag(cHDLC *self, unsigned char /* 7E */,
                                              unsigned char *dst, int *outLen)
        {
            if (self->mRxLength > 0)
                return close(self, dst, outLen);
            // Nothing held: a flag between frames. Drops a pending escape.
            *outLen = 0;
            self->reset_rx();
            return false;
        }

        // A flag closes the frame held so far: the log, the check, the copy.
        // A frame failing the check leaves dst and *outLen as they were.
        __attribute__((noinline)) static bool close(cHDLC *self, unsigned char *dst, int *outLen)
        {
            bool good = false;
            self->debug("Frame Received\n");
            if (self->mRxCrc == cCrc::GOOD_CRC) {
                memcpy(dst, self->mRxBuffer, static_cast<size_t>(self->mRxLength));
                *outLen = self->mRxLength - FCS_BYTES;
                good = true;
            } else {
                self->debug("RX Crc Error\n");
            }
            // Also drops an escape still pending: 7D 7E ends the frame.
            self->reset_rx();
            return good;
        }
    };

    // An ordinary byte (neither 7D nor 7E, no escape pending) runs straight
    // to the last line, with no call and no stack frame. 7D and 7E are the
    // only special values: one unsigned compare finds both.
    if (__builtin_expect(static_cast<unsigned char>(b - HDLC_ESC) <= 1, 0)) {
        if (b == HDLC_FLAG)
            return Rx::flag(this, b, dst, outLen);
        if (!mRxEscaped) {
            *outLen = 0;
            mRxEscaped = true;
            return false;
        }
        // 7D 7D: an escaped 7D, undone below like any escaped byte.
    }
    *outLen = 0;
    if (__builtin_expect(mRxEscaped, 0)) {
        mRxEscaped = false;
        return Rx::keep(this, static_cast<unsigned char>(b ^ HDLC_XOR));
    }
    return Rx::keep(this, b);
}
