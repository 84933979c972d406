# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""The vemutils library from Python: one codec on both sides of the link.

fcs, crc16 and Framer are the library's FCS-16 and framer; Properties and
Config its key=value files; split its in-place splitting; Link carries
frames over a pyserial port. The framer logs to the logger "cHDLCFramer".
"""

from ._vemutils import (
    GOOD_CRC,
    INIT_CRC,
    MAX_PAYLOAD,
    Config,
    Framer,
    Properties,
    crc16,
    fcs,
    split,
)
from ._link import Link

__all__ = [
    "GOOD_CRC",
    "INIT_CRC",
    "MAX_PAYLOAD",
    "Config",
    "Framer",
    "Link",
    "Properties",
    "crc16",
    "fcs",
    "split",
]
