// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_FCS_TABLE_H
#define VEMUTILS_FCS_TABLE_H

// The library's internal name for its FCS-16 table; not installed, not
// exported.
namespace vemutils {

// cCrc::mCrcTable under a hidden name: the same bytes (an alias, no copy).
// The exported name may be bound to a copy in the executable, so code that
// uses it reaches it through the GOT; this one is reached relative to the pc.
extern const unsigned short fcsTable[256] __attribute__((visibility("hidden")));

} // namespace vemutils

#endif
