// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "hdlc.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crc.h"
#include "fcs_tables.h"

using vemutils::FCS_SLICES;

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
// call through the library's exported (and interposable) symbol, and read
// the table through its hidden name.
inline unsigned short crcStep(unsigned char b, unsigned short crc)
{
    return static_cast<unsigned short>((crc >> 8) ^ vemutils::fcsTable[(crc ^ b) & 0xff]);
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

// True when some byte of w may be 7D or 7E: exactly when some byte is 7C, 7D
// or 7E, that is when some byte of w ^ 7C..7C is below 3. A byte below 3
// borrows from its top bit, which no byte with its top bit set can fake
// (the & ~x); a borrow carried into the bytes above one that is below 3
// only adds to a word that is already flagged. A 7C alone sends its word
// down the byte-by-byte path, which is right for any word.
inline bool mayNeedStuffing(Word w)
{
    const Word x = w ^ (BYTES_01 * 0x7C);
    return ((x - BYTES_01 * 3) & ~x & BYTES_80) != 0;
}

// The FCS register after the sizeof(Word) bytes at s, w holding the same
// bytes; crc and the result are below 0x10000.
inline unsigned crcWord(const unsigned char *s, Word w, unsigned crc)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // The register meets the first two bytes; each byte then goes through
    // the table for the number of bytes that follow it in the word. The
    // bytes past the first two are indexes as they are, read from memory.
    const auto &t = vemutils::fcsSlices.t;
    const auto x = static_cast<unsigned>(w) ^ crc;
    unsigned r = t[FCS_SLICES - 2][x & 0xff] ^ t[FCS_SLICES - 3][(x >> 8) & 0xff];
#pragma GCC unroll 8
    for (unsigned i = 2; i < FCS_SLICES - 1; ++i)
        r ^= t[FCS_SLICES - 2 - i][s[i]];
    return r ^ vemutils::fcsTable[s[FCS_SLICES - 1]];
#else
    (void)w;
    for (unsigned i = 0; i < FCS_SLICES; ++i)
        crc = crcStep(s[i], static_cast<unsigned short>(crc));
    return crc;
#endif
}

// Writes the bytes of a word stuffed at p, returns the position after them.
// Out of line: rarely needed, and then byte by byte anyway.
__attribute__((noinline)) unsigned char *stuffWord(const unsigned char *s, unsigned char *p)
{
    for (size_t i = 0; i < sizeof(Word); ++i)
        p = stuff(s[i], p);
    return p;
}

} // namespace

// Keeps a rarely taken function out of line and, with GCC, also unspecialised:
// it keeps the standard calling convention and all its parameters, so a
// caller passes its own on untouched, and the written-out Thumb-2 path below
// can jump to it.
#if __has_attribute(noipa)
#define VEMUTILS_OUT_OF_LINE __attribute__((noipa))
#else
#define VEMUTILS_OUT_OF_LINE __attribute__((noinline))
#endif

namespace {

// The receive paths other than an ordinary byte's. unFrameByte ends in a
// jump to each (a tail call), passing its own parameters, or the first of
// them, on as they came.
//
// Rx is never instantiated: deriving from cHDLC lets it name the receive
// state, which it reaches through member pointers on any cHDLC. (GCC 12 did
// not tail-call the functions of a class local to unFrameByte, on x86-64.)
struct Rx : cHDLC {
    static constexpr unsigned char (cHDLC::*buffer)[1024] = &Rx::mRxBuffer;
    static constexpr int cHDLC::*length = &Rx::mRxLength;
    static constexpr unsigned char cHDLC::*escape = &Rx::mRxEscaped;
    static constexpr unsigned short cHDLC::*crc = &Rx::mRxCrc;

    // Where the receive state lies in the object (the layout is part of the ABI).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    static constexpr unsigned bufferAt()
    {
        return offsetof(Rx, mRxBuffer);
    }
    static constexpr unsigned lengthAt()
    {
        return offsetof(Rx, mRxLength);
    }
    static constexpr unsigned escapeAt()
    {
        return offsetof(Rx, mRxEscaped);
    }
    static constexpr unsigned crcAt()
    {
        return offsetof(Rx, mRxCrc);
    }
#pragma GCC diagnostic pop

    // Runs b through the FCS and stores it; drops an overlong frame.
    static bool keep(cHDLC *self, unsigned char b)
    {
        // Unsigned: indexes the buffer without a sign extension.
        const unsigned n = static_cast<unsigned>(self->*length) + 1;
        self->*crc = crcStep(b, self->*crc);
        (self->*buffer)[n - 1] = b;
        if (__builtin_expect(n >= RX_LIMIT, 0))
            return overlong(self);
        self->*length = static_cast<int>(n);
        return false;
    }

    // The frame reached RX_LIMIT bytes: dropped silently, and what follows is
    // a new frame.
    VEMUTILS_OUT_OF_LINE static bool overlong(cHDLC *self)
    {
        self->reset_rx();
        return false;
    }

    // A byte after 7D, other than 7E: kept XOR 20.
    VEMUTILS_OUT_OF_LINE static bool escaped(cHDLC *self, unsigned char b)
    {
        self->*escape = false;
        return keep(self, static_cast<unsigned char>(b ^ HDLC_XOR));
    }

    // 7D or 7E: a flag once or twice a frame, or an escape.
    VEMUTILS_OUT_OF_LINE static bool special(cHDLC *self, unsigned char b, unsigned char *dst,
                                             int *outLen)
    {
        if (b == HDLC_FLAG) {
            if (self->*length > 0)
                return close(self, dst, outLen);
            // Nothing held: a flag between frames. Drops a pending escape.
            *outLen = 0;
            self->reset_rx();
            return false;
        }
        *outLen = 0;
        if (!(self->*escape)) {
            self->*escape = true;
            return false;
        }
        // 7D 7D: an escaped 7D.
        return escaped(self, b);
    }

    // A flag closes the frame held so far: the log, the check, the copy. A
    // frame failing the check leaves dst and *outLen as they were.
    __attribute__((noinline)) static bool close(cHDLC *self, unsigned char *dst, int *outLen)
    {
        bool good = false;
        self->debug("Frame Received\n");
        if (self->*crc == cCrc::GOOD_CRC) {
            memcpy(dst, self->*buffer, static_cast<size_t>(self->*length));
            *outLen = self->*length - FCS_BYTES;
            good = true;
        } else {
            self->debug("RX Crc Error\n");
        }
        // Also drops an escape still pending: 7D 7E ends the frame.
        self->reset_rx();
        return good;
    }
};

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
    unsigned crc = cCrc::INIT_CRC;
    const unsigned char *s = src;
    const unsigned char *const end = src + (len > 0 ? len : 0);
    // A word at a time: a word without 7C, 7D or 7E, nearly every word of
    // most payloads, is copied whole, and the FCS takes the whole word.
    for (; static_cast<size_t>(end - s) >= sizeof(Word); s += sizeof(Word)) {
        Word w;
        memcpy(&w, s, sizeof w);
        if (__builtin_expect(mayNeedStuffing(w), 0)) {
            p = stuffWord(s, p);
        } else {
            memcpy(p, &w, sizeof w);
            p += sizeof w;
        }
        crc = crcWord(s, w, crc);
    }
    for (; s != end; ++s) {
        crc = crcStep(*s, static_cast<unsigned short>(crc));
        p = stuff(*s, p);
    }
    const unsigned short fcs = static_cast<unsigned short>(~crc);
    p = stuff(static_cast<unsigned char>(fcs & 0xff), p);
    p = stuff(static_cast<unsigned char>(fcs >> 8), p);
    *p++ = HDLC_FLAG;
    *outLen = static_cast<int>(p - dst);
}

#if defined(__thumb2__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__

// Thumb-2: the C++ below, written out. In every form of the source tried,
// GCC 12 pushes and pops registers on the ordinary byte's path and moves its
// parameters about; here an ordinary byte takes 24 instructions, no stack
// and only r0-r3 and ip. The other paths leave r0-r3 as they came in (ip
// aside) and jump to Rx.
__attribute__((naked)) bool cHDLC::unFrameByte(unsigned char, unsigned char *, int *)
{
    asm("sub    ip, r1, #0x7d\n\t" // 7D and 7E: one unsigned compare
        "cmp    ip, #1\n\t"
        "bls.w  %c[special]\n\t"
        "movs   ip, #0\n\t"
        "str    ip, [r3]\n\t" // *outLen = 0
        "ldrb   r3, [r0, %[escaped]]\n\t"
        "cbnz   r3, 2f\n\t"
        "ldrh   r3, [r0, %[crc]]\n\t" // the FCS step
        "ldr    r2, 3f\n\t"
        "eor    ip, r1, r3\n"
        "1:\n\t"
        "add    r2, pc\n\t"
        "uxtb   ip, ip\n\t"
        "ldrh   ip, [r2, ip, lsl #1]\n\t"
        "eor    r3, ip, r3, lsr #8\n\t"
        "strh   r3, [r0, %[crc]]\n\t"
        "ldr    r3, [r0, %[length]]\n\t" // the byte kept
        "add    r2, r0, r3\n\t"
        "strb   r1, [r2, %[buffer]]\n\t"
        "adds   r3, #1\n\t"
        "cmp    r3, %[limit]\n\t"
        "bcs.w  %c[overlong]\n\t"
        "str    r3, [r0, %[length]]\n\t"
        "movs   r0, #0\n\t"
        "bx     lr\n"
        "2:\n\t"
        "b.w    %c[escapedByte]\n\t"
        ".p2align 2\n"
        "3:\n\t"
        ".word  %c[table] - (1b + 4)\n"
        :
        : [special] "X"(&Rx::special), [escapedByte] "X"(&Rx::escaped),
          [overlong] "X"(&Rx::overlong), [table] "X"(vemutils::fcsTable),
          [buffer] "i"(Rx::bufferAt()), [length] "i"(Rx::lengthAt()), [escaped] "i"(Rx::escapeAt()),
          [crc] "i"(Rx::crcAt()), [limit] "i"(RX_LIMIT));
}
#elif defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// x86-64: the C++ below, written out. GCC 12 makes it 23 instructions; here
// an ordinary byte takes 21: the FCS register's two bytes are loaded apart,
// so that its shift right by 8 is a load of the high byte.
__attribute__((naked)) bool cHDLC::unFrameByte(unsigned char, unsigned char *, int *)
{
    asm("lea    -0x7d(%%rsi), %%eax\n\t" // 7D and 7E: one unsigned compare
        "cmp    $1, %%al\n\t"
        "jbe    %c[special]\n\t"
        "movl   $0, (%%rcx)\n\t" // *outLen = 0
        "cmpb   $0, %c[escaped](%%rdi)\n\t"
        "jne    %c[escapedByte]\n\t"
        "movzbl %c[crc](%%rdi), %%edx\n\t" // the FCS step
        "movzbl %c[crc]+1(%%rdi), %%eax\n\t"
        "xor    %%esi, %%edx\n\t"
        "movzbl %%dl, %%edx\n\t"
        "lea    %c[table](%%rip), %%r8\n\t"
        "xor    (%%r8,%%rdx,2), %%ax\n\t"
        "mov    %%ax, %c[crc](%%rdi)\n\t"
        "mov    %c[length](%%rdi), %%edx\n\t" // the byte kept
        "mov    %%sil, %c[buffer](%%rdi,%%rdx)\n\t"
        "add    $1, %%edx\n\t"
        "cmp    %[limit], %%edx\n\t"
        "jae    %c[overlong]\n\t"
        "mov    %%edx, %c[length](%%rdi)\n\t"
        "xor    %%eax, %%eax\n\t"
        "ret\n"
        :
        : [special] "X"(&Rx::special), [escapedByte] "X"(&Rx::escaped),
          [overlong] "X"(&Rx::overlong), [table] "X"(vemutils::fcsTable),
          [buffer] "i"(Rx::bufferAt()), [length] "i"(Rx::lengthAt()), [escaped] "i"(Rx::escapeAt()),
          [crc] "i"(Rx::crcAt()), [limit] "i"(RX_LIMIT));
}
#else
bool cHDLC::unFrameByte(unsigned char b, unsigned char *dst, int *outLen)
{
    // 7D and 7E are the only special values: one unsigned compare finds both.
    if (__builtin_expect(static_cast<unsigned char>(b - HDLC_ESC) <= 1, 0))
        return Rx::special(this, b, dst, outLen);
    *outLen = 0;
    if (__builtin_expect(this->*Rx::escape, 0))
        return Rx::escaped(this, b);
    return Rx::keep(this, b);
}
#endif
