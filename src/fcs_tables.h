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

// Slicing tables: fcsSlices.t[k - 1][i] is the register after byte i and
// then k zero bytes, from a zero register (fcsTable: no zero byte). With
// them a word of FCS_SLICES bytes takes one table load per byte, all
// independent of each other. One object: one base address for all of them.
struct FcsSlices {
    unsigned short t[FCS_SLICES - 1][256];
};
extern const FcsSlices fcsSlices __attribute__((visibility("hidden")));

} // namespace vemutils

#endif
