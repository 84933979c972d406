// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_FCS_TABLES_H
#define VEMUTILS_FCS_TABLES_H

// The library's internal names for its FCS-16 tables; not installed, not
// exported. All are in read-only memory, built at compile time.
#include <cstdint>

namespace vemutils {

// cCrc::mCrcTable under a hidden name: the same bytes (an alias, no copy).
// The exported name may be bound to a copy in the executable, so code that
// uses it reaches it through the GOT; this one is reached relative to the pc.
extern const unsigned short fcsTable[256] __attribute__((visibility("hidden")));

// Bytes the bulk FCS takes per step: one machine word.
const unsigned FCS_SLICES = sizeof(std::uintptr_t);

// Slicing tables: fcsSlice1.t[i] is the register after byte i and then one
// zero byte, from a zero register (fcsTable: no zero byte), fcsSlice2 after
// two zero bytes, and so on. With them a word of FCS_SLICES bytes takes one
// table load per byte, all independent of each other.
struct FcsSlice {
    unsigned short t[256];
};
extern const FcsSlice fcsSlice1 __attribute__((visibility("hidden")));
extern const FcsSlice fcsSlice2 __attribute__((visibility("hidden")));
extern const FcsSlice fcsSlice3 __attribute__((visibility("hidden")));
#if UINTPTR_MAX > 0xFFFFFFFFu
extern const FcsSlice fcsSlice4 __attribute__((visibility("hidden")));
extern const FcsSlice fcsSlice5 __attribute__((visibility("hidden")));
extern const FcsSlice fcsSlice6 __attribute__((visibility("hidden")));
extern const FcsSlice fcsSlice7 __attribute__((visibility("hidden")));
#endif

} // namespace vemutils

#endif
