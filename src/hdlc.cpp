#include "hdlc.h"

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
    for (const unsigned char *s = src, *end = src + (len > 0 ? len : 0); s != end; ++s) {
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
    // A flag closes the frame held so far. That happens once a frame, so its
    // work (logging, the check, the copy) stays out of the per-byte path.
    struct Close {
        __attribute__((noinline, cold)) static bool frame(cHDLC *self, unsigned char *dst,
                                                          int *outLen)
        {
            bool good = false;
            if (self->mRxLength > 0) {
                self->debug("Frame Received\n");
                if (self->mRxCrc == cCrc::GOOD_CRC) {
                    memcpy(dst, self->mRxBuffer, static_cast<size_t>(self->mRxLength));
                    *outLen = self->mRxLength - FCS_BYTES;
                    good = true;
                } else {
                    self->debug("RX Crc Error\n");
                }
            } else {
                *outLen = 0;
            }
            // Also drops an escape still pending: 7D 7E ends the frame.
            self->reset_rx();
            return good;
        }
    };

    if (b == HDLC_FLAG)
        return Close::frame(this, dst, outLen);

    *outLen = 0;
    if (mRxEscaped) {
        b ^= HDLC_XOR;
        mRxEscaped = false;
    } else if (b == HDLC_ESC) {
        mRxEscaped = true;
        return false;
    }
    const int n = mRxLength;
    mRxCrc = crcStep(b, mRxCrc);
    mRxBuffer[n] = b;
    if (n + 1 >= RX_LIMIT) {
        // Overlong: drop it silently and collect what follows as a new frame.
        reset_rx();
        return false;
    }
    mRxLength = n + 1;
    return false;
}
