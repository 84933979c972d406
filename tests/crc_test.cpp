// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "crc.h"

#include "fcs16_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

unsigned short run(const unsigned char *p, size_t n, unsigned short crc = cCrc::INIT_CRC)
{
    for (size_t i = 0; i < n; ++i)
        crc = cCrc::ccitt_crc16(p[i], crc);
    return crc;
}

TEST(Crc, TableMatchesPolynomial)
{
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(cCrc::mCrcTable[i], bitwiseStep(static_cast<unsigned char>(i), 0))
            << "entry " << i;
    EXPECT_EQ(cCrc::mCrcTable[1], 0x1189);
    EXPECT_EQ(cCrc::mCrcTable[128], 0x8408);
    EXPECT_EQ(cCrc::mCrcTable[255], 0x0F78);
}

TEST(Crc, Constants)
{
    EXPECT_EQ(cCrc::INIT_CRC, 0xFFFF);
    EXPECT_EQ(cCrc::GOOD_CRC, 0xF0B8);
    // The constants are exported objects, not only compile-time values.
    const unsigned short *init = &cCrc::INIT_CRC;
    const unsigned short *good = &cCrc::GOOD_CRC;
    EXPECT_EQ(*init, 0xFFFF);
    EXPECT_EQ(*good, 0xF0B8);
}

TEST(Crc, SingleSteps)
{
    EXPECT_EQ(cCrc::ccitt_crc16(0x01, 0x0000), 0x1189);
    EXPECT_EQ(cCrc::ccitt_crc16(0x00, 0x0000), 0x0000);
    EXPECT_EQ(cCrc::ccitt_crc16(0x00, 0xFFFF), 0x0F87);
    // The data byte meets only the low half of the register.
    EXPECT_EQ(cCrc::ccitt_crc16(0x12, 0xAB00), cCrc::ccitt_crc16(0x12, 0x0000) ^ 0x00AB);
}

TEST(Crc, EveryByteAndRegisterMatchesBitwise)
{
    std::mt19937 rng(1);
    for (int b = 0; b < 256; ++b)
        for (int k = 0; k < 64; ++k) {
            const auto crc = static_cast<unsigned short>(rng());
            ASSERT_EQ(cCrc::ccitt_crc16(static_cast<unsigned char>(b), crc),
                      bitwiseStep(static_cast<unsigned char>(b), crc));
        }
}

TEST(Crc, ReferenceValuesAndResidue)
{
    struct Case {
        const char *data;
        unsigned short reg;
        unsigned char fcsLow, fcsHigh;
    } cases[] = {
        {"", 0xFFFF, 0x00, 0x00},
        {"abc", 0x61DA, 0x25, 0x9E},
        {"123456789", 0x6F91, 0x6E, 0x90},
    };
    for (const Case &c : cases) {
        std::vector<unsigned char> bytes(c.data, c.data + std::strlen(c.data));
        const unsigned short reg = run(bytes.data(), bytes.size());
        EXPECT_EQ(reg, c.reg) << c.data;
        const auto fcs = static_cast<unsigned short>(~reg);
        EXPECT_EQ(fcs & 0xFF, c.fcsLow) << c.data;
        EXPECT_EQ(fcs >> 8, c.fcsHigh) << c.data;
        bytes.push_back(c.fcsLow);
        bytes.push_back(c.fcsHigh);
        EXPECT_EQ(run(bytes.data(), bytes.size()), cCrc::GOOD_CRC) << c.data;
    }
}

TEST(Crc, RandomDataMatchesBitwiseAndLeavesResidue)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<unsigned char> data(rng() % 2048);
        for (auto &b : data)
            b = static_cast<unsigned char>(rng());
        const unsigned short ref = bitwiseFcs(data.data(), data.size());
        ASSERT_EQ(run(data.data(), data.size()), ref);
        const auto fcs = static_cast<unsigned short>(~ref);
        data.push_back(static_cast<unsigned char>(fcs & 0xFF));
        data.push_back(static_cast<unsigned char>(fcs >> 8));
        ASSERT_EQ(run(data.data(), data.size()), cCrc::GOOD_CRC);
    }
}

TEST(Crc, NoSingleByteFrameChecks)
{
    for (int b = 0; b < 256; ++b)
        EXPECT_NE(cCrc::ccitt_crc16(static_cast<unsigned char>(b), cCrc::INIT_CRC), cCrc::GOOD_CRC);
}

} // namespace
