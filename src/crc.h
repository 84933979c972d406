// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_CRC_H
#define VEMUTILS_CRC_H

// FCS-16 of RFC 1662 (CRC-16/X-25): reflected polynomial 0x8408, register
// preset 0xFFFF, ones' complement of the register sent low byte first.
//
// Sender:   crc = INIT_CRC; crc = ccitt_crc16(b, crc) for every data byte;
//           send ~crc low byte, then high byte.
// Receiver: run the same step over the data and both FCS bytes; the frame
//           is intact exactly when the register ends at GOOD_CRC.
//
// Static members only; nothing is instantiated and no state is kept, so every
// member may be used from any thread.
class cCrc {
public:
    // Returns the register after one data byte: (crc >> 8) ^ mCrcTable[(crc ^ data) & 0xFF].
    static unsigned short ccitt_crc16(unsigned char data, unsigned short crc);

    // Entry i: byte value i run through the polynomial from a zero register.
    static const unsigned short mCrcTable[256];
    // Register value at the start of every frame.
    static const unsigned short INIT_CRC = 0xFFFF;
    // Register value after an intact frame's data and both FCS bytes.
    static const unsigned short GOOD_CRC = 0xF0B8;
};

#endif
