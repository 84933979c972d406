// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_FCS16_REFERENCE_H
#define VEMUTILS_TEST_FCS16_REFERENCE_H

// FCS-16 one bit at a time: the reflected polynomial 0x8408 applied directly,
// no table. The independent reference the CRC, framer and fuzz checks use.
#include <cstddef>

inline unsigned short bitwiseStep(unsigned char data, unsigned short crc)
{
    crc ^= data;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<unsigned short>((crc >> 1) ^ 0x8408)
                        : static_cast<unsigned short>(crc >> 1);
    return crc;
}

// The register after n bytes at p, from the frame preset 0xFFFF.
inline unsigned short bitwiseFcs(const unsigned char *p, size_t n)
{
    unsigned short crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i)
        crc = bitwiseStep(p[i], crc);
    return crc;
}

#endif
