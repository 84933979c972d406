// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// The class layouts host programs compile against. A change here breaks
// every host built against an earlier header. They follow the data model
// alone, not the byte order: the ILP32 machines (armhf, armel, i386, mipsel)
// lay the classes out alike, and so do the LP64 ones (amd64, arm64,
// mips64el, ppc64el, s390x).
#include "crc.h"
#include "hdlc.h"
#include "properties.h"
#include "vemconfig.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstddef>

namespace {

struct Layout {
    size_t size, vemlogBase, rxBuffer, rxLength, rxEscaped, rxCrc;
};

const bool LP64 = sizeof(long) == 8 && sizeof(void *) == 8;
static_assert(sizeof(int) == 4 && sizeof(long) == sizeof(void *) &&
                  (sizeof(void *) == 4 || sizeof(void *) == 8),
              "the layouts are recorded for ILP32 and LP64 only");

// The vtable pointer, then cVemlog's category pointer, then the receive state.
const Layout HDLC =
    LP64 ? Layout{1048, 8, 16, 1040, 1044, 1046} : Layout{1040, 4, 8, 1032, 1036, 1038};
const size_t PROPERTIES_SIZE = LP64 ? 48 : 24; // one std::map
const size_t CONFIG_SIZE = LP64 ? 8 : 4;       // one pointer

// Reads member offsets and sizes from inside the class hierarchy.
struct Probe : cHDLC {
    size_t at(const void *member) const
    {
        return static_cast<size_t>(
            static_cast<const char *>(member) -
            reinterpret_cast<const char *>(static_cast<const cHDLC *>(this)));
    }
    Layout layout() const
    {
        return {sizeof(cHDLC),   at(static_cast<const cVemlog *>(this)),
                at(mRxBuffer),   at(&mRxLength),
                at(&mRxEscaped), at(&mRxCrc)};
    }
    static void checkMemberSizes()
    {
        EXPECT_EQ(sizeof(mRxBuffer), 1024u);
        EXPECT_EQ(sizeof(mRxLength), 4u);
        EXPECT_EQ(sizeof(mRxEscaped), 1u);
        EXPECT_EQ(sizeof(mRxCrc), 2u);
    }
};

TEST(AbiLayout, HdlcSizeAndMemberOffsets)
{
    const Layout got = Probe().layout();
    EXPECT_EQ(got.size, HDLC.size);
    EXPECT_EQ(got.vemlogBase, HDLC.vemlogBase);
    EXPECT_EQ(got.rxBuffer, HDLC.rxBuffer);
    EXPECT_EQ(got.rxLength, HDLC.rxLength);
    EXPECT_EQ(got.rxEscaped, HDLC.rxEscaped);
    EXPECT_EQ(got.rxCrc, HDLC.rxCrc);
    Probe::checkMemberSizes();
}

TEST(AbiLayout, ConfigurationSizes)
{
    EXPECT_EQ(sizeof(cProperties), PROPERTIES_SIZE);
    EXPECT_EQ(sizeof(cConfig), CONFIG_SIZE);
    EXPECT_EQ(sizeof(cConfig::mInstance), sizeof(void *));
}

TEST(AbiLayout, DataMemberSizes)
{
    EXPECT_EQ(sizeof(cCrc::mCrcTable), 512u);
    EXPECT_EQ(sizeof(cCrc::INIT_CRC), 2u);
    EXPECT_EQ(sizeof(cCrc::GOOD_CRC), 2u);
    EXPECT_EQ(sizeof(cHDLC::HDLC_FLAG), 1u);
}

TEST(AbiLayout, HdlcVtableSlots)
{
    // Slot 0 is frameData and slot 1 unFrameByte, the exported definitions.
    cHDLC h;
    void *const *vtable = *reinterpret_cast<void *const *const *>(&h);
    EXPECT_EQ(vtable[0], dlsym(RTLD_DEFAULT, "_ZN5cHDLC9frameDataEPhiS0_Pi"));
    EXPECT_EQ(vtable[1], dlsym(RTLD_DEFAULT, "_ZN5cHDLC11unFrameByteEhPhPi"));
    EXPECT_NE(vtable[0], nullptr);
}

} // namespace
