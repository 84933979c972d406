# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""What the Python tests of vemlink share: checks that count their failures,
and frames built with an FCS-16 and stuffing of the tests' own, not
vemlink's."""

import sys

failures = []


def check(ok, what):
    if not ok:
        print("FAIL:", what, file=sys.stderr)
        failures.append(what)
    return ok


def verdict(what):
    """The exit status at the end: 0 with "WHAT: all checks passed", or 1
    with the number of failures."""
    if failures:
        print("%d check(s) failed" % len(failures), file=sys.stderr)
        return 1
    print(what + ": all checks passed")
    return 0


def fcs16(data):
    """FCS-16 of RFC 1662, bit by bit."""
    fcs = 0xFFFF
    for b in data:
        fcs ^= b
        for _ in range(8):
            fcs = (fcs >> 1) ^ 0x8408 if fcs & 1 else fcs >> 1
    return fcs ^ 0xFFFF


def stuff(data):
    out = bytearray()
    for b in data:
        out += bytes([0x7D, b ^ 0x20]) if b in (0x7D, 0x7E) else bytes([b])
    return bytes(out)


def frame(payload):
    """A whole frame: payload and FCS, stuffed, between flags."""
    fcs = fcs16(payload)
    return b"\x7e" + stuff(payload + bytes([fcs & 0xFF, fcs >> 8])) + b"\x7e"
