// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// The class layouts host programs compile against, per architecture. A
// change here breaks every host built against an earlier header.
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

#if defined(__x86_64__)
const Layout kHdlc = {1048, 8, 16, 1040, 1044, 1046};
const size_t kPropertiesSize = 48; // one std::map
const size_t kConfigSize = 8;      // one pointer
#elif defined(__arm__)
const Layout kHdlc = {1040, 4, 8, 1032, 1036, 1038};
const size_t kPropertiesSize = 24;
const size_t kConfigSize = 4;
#else
#error "record the cHDLC layout of this architecture"
#endif

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
    EXPECT_EQ(got.size, kHdlc.size);
    EXPECT_EQ(got.vemlogBase, kHdlc.vemlogBase);
    EXPECT_EQ(got.rxBuffer, kHdlc.rxBuffer);
    EXPECT_EQ(got.rxLength, kHdlc.rxLength);
    EXPECT_EQ(got.rxEscaped, kHdlc.rxEscaped);
    EXPECT_EQ(got.rxCrc, kHdlc.rxCrc);
    Probe::checkMemberSizes();
}

TEST(AbiLayout, ConfigurationSizes)
{
    EXPECT_EQ(sizeof(cProperties), kPropertiesSize);
    EXPECT_EQ(sizeof(cConfig), kConfigSize);
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
