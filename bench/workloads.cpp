#include "workloads.h"

#include <boost/crc.hpp>

#include <random>

#include "crc.h"

namespace bench {

Bytes randomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(n);
    for (unsigned char &b : out)
        b = static_cast<unsigned char>(byte(gen));
    return out;
}

Bytes payload(Payload kind, int len, unsigned seed)
{
    if (kind == Payload::AllFlags)
        return Bytes(static_cast<size_t>(len), cHDLC::HDLC_FLAG);
    return randomBytes(static_cast<size_t>(len), seed);
}

Bytes wireStream(Payload kind, int len, int *frames)
{
    cHDLC link;
    Bytes wire;
    Bytes frame(2 * static_cast<size_t>(len) + 6);
    *frames = 0;
    for (unsigned seed = 1; wire.size() < STREAM_BYTES; ++seed) {
        Bytes data = payload(kind, len, seed);
        int n = 0;
        link.frameData(data.data(), len, frame.data(), &n);
        wire.insert(wire.end(), frame.begin(), frame.begin() + n);
        ++*frames;
    }
    return wire;
}

} // namespace bench

namespace kernel {

__attribute__((noinline)) unsigned short crcVemutils(const unsigned char *p, size_t n)
{
    unsigned short crc = cCrc::INIT_CRC;
    for (const unsigned char *end = p + n; p != end; ++p)
        crc = cCrc::ccitt_crc16(*p, crc);
    return crc;
}

__attribute__((noinline)) unsigned short crcBoost(const unsigned char *p, size_t n)
{
    // the reflected CCITT polynomial, preset and final XOR 0xFFFF. Its
    // checksum is the FCS; undo the final XOR to compare registers.
    boost::crc_optimal<16, 0x1021, 0xFFFF, 0xFFFF, true, true> crc;
    crc.process_bytes(p, n);
    return static_cast<unsigned short>(~crc.checksum());
}

__attribute__((noinline)) unsigned short crcBitwise(const unsigned char *p, size_t n)
{
    unsigned crc = 0xFFFF;
    for (const unsigned char *end = p + n; p != end; ++p) {
        crc ^= *p;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    }
    return static_cast<unsigned short>(crc);
}

__attribute__((noinline)) int frame(cHDLC &link, unsigned char *src, int len, unsigned char *dst)
{
    int n = 0;
    link.frameData(src, len, dst, &n);
    return n;
}

__attribute__((noinline)) int unframe(cHDLC &link, const unsigned char *wire, size_t n,
                                      unsigned char *dst)
{
    int frames = 0;
    int len = 0;
    for (size_t i = 0; i < n; ++i)
        frames += link.unFrameByte(wire[i], dst, &len);
    return frames;
}

} // namespace kernel
