#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""vemutils.Framer.feed against a plain pure-Python receiver, side by side.

PlainReceiver is what a test bench would otherwise write by hand: the same
receive rules (flags, 7D escapes, FCS-16 check, discard at the 1024th
unstuffed byte), a table step per byte, in Python; TunedReceiver is the
same loop with everything a Python loop can shed. All three receive the
same stream of frames (payloads of 0 to 1021 random bytes, some
corrupted), must return the same payloads and counts, and are timed in
this one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_feed.py [--mib N]
"""

import argparse
import random
import time


def _table():
    table = []
    for i in range(256):
        crc = i
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
        table.append(crc)
    return table


TABLE = _table()


class PlainReceiver:
    """The receive rules as a bench would write them by hand: one method
    call per byte, state in attributes, the CRC step a function, the shape
    of the library's own unFrameByte and ccitt_crc16."""

    def __init__(self):
        self.frames = self.crc_errors = self.dropped = 0
        self.reset()

    def reset(self):
        self.buf = bytearray()
        self.escaped = False
        self.crc = 0xFFFF

    @staticmethod
    def crc_step(b, crc):
        return (crc >> 8) ^ TABLE[(crc ^ b) & 0xFF]

    def byte(self, b):
        """The payload when b closes an intact frame, else None."""
        if b == 0x7E:
            payload = None
            if self.buf:
                if self.crc == 0xF0B8:
                    payload = bytes(self.buf[:-2])
                    self.frames += 1
                else:
                    self.crc_errors += 1
            self.reset()
            return payload
        if self.escaped:
            b ^= 0x20
            self.escaped = False
        elif b == 0x7D:
            self.escaped = True
            return None
        self.crc = self.crc_step(b, self.crc)
        self.buf.append(b)
        if len(self.buf) >= 1024:
            self.dropped += 1
            self.reset()
        return None

    def feed(self, data):
        out = []
        for b in data:
            payload = self.byte(b)
            if payload is not None:
                out.append(payload)
        return out


class TunedReceiver:
    """The same rules with everything a Python loop can shed: state in
    locals, the CRC step inlined, no call per byte."""

    def __init__(self):
        self.frames = self.crc_errors = self.dropped = 0
        self._buf = bytearray()
        self._escaped = False
        self._crc = 0xFFFF

    def feed(self, data):
        out = []
        table = TABLE
        buf, escaped, crc = self._buf, self._escaped, self._crc
        for b in data:
            if b == 0x7E:
                if buf:
                    if crc == 0xF0B8:
                        out.append(bytes(buf[:-2]))
                        self.frames += 1
                    else:
                        self.crc_errors += 1
                buf = bytearray()
                escaped, crc = False, 0xFFFF
                continue
            if escaped:
                b ^= 0x20
                escaped = False
            elif b == 0x7D:
                escaped = True
                continue
            crc = (crc >> 8) ^ table[(crc ^ b) & 0xFF]
            buf.append(b)
            if len(buf) >= 1024:
                self.dropped += 1
                buf = bytearray()
                escaped, crc = False, 0xFFFF
        self._buf, self._escaped, self._crc = buf, escaped, crc
        return out


def stream(size, seed=1):
    """About size bytes of frames; one in fifty has a byte flipped."""
    import vemutils

    rng = random.Random(seed)
    framer = vemutils.Framer()
    parts, total = [], 0
    while total < size:
        frame = bytearray(framer.frame(rng.randbytes(rng.randint(0, vemutils.MAX_PAYLOAD))))
        if rng.randrange(50) == 0:
            frame[rng.randrange(1, len(frame) - 1)] ^= 0x01
        parts.append(bytes(frame))
        total += len(frame)
    return b"".join(parts)


def cpu_seconds(fn):
    """Processor time of fn: on a shared machine, what other processes take
    from this one is not counted."""
    start = time.process_time()
    result = fn()
    return time.process_time() - start, result


def main():
    import vemutils

    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--mib", type=float, default=4.0, help="stream size in MiB (default 4)")
    ap.add_argument("--chunk", type=int, default=4096, help="bytes per feed call (default 4096)")
    ap.add_argument("--runs", type=int, default=3, help="best of this many runs (default 3)")
    args = ap.parse_args()

    data = stream(int(args.mib * 1024 * 1024))
    chunks = [data[i:i + args.chunk] for i in range(0, len(data), args.chunk)]

    def run(make):
        def go():
            rx = make()
            out = []
            for c in chunks:
                out.extend(rx.feed(c))
            return out, (rx.frames, rx.crc_errors, rx.dropped)
        return go

    # The receivers take turns within each run, so that all of them see the
    # same state of the machine; each keeps its best run.
    receivers = {"plain Python (PlainReceiver)": PlainReceiver,
                 "tuned Python (TunedReceiver)": TunedReceiver,
                 "vemutils.Framer.feed": vemutils.Framer}
    best, results = {}, {}
    for _ in range(args.runs):
        for name, make in receivers.items():
            t, results[name] = cpu_seconds(run(make))
            best[name] = min(t, best.get(name, t))
    fed = results["vemutils.Framer.feed"]
    if any(r != fed for r in results.values()):
        raise SystemExit("feed and the pure-Python receivers disagree")
    t_feed = best["vemutils.Framer.feed"]

    mib = len(data) / (1024 * 1024)
    frames, errors, _ = fed[1]
    print(f"stream: {mib:.1f} MiB, {frames} intact frames, {errors} failing the check, "
          f"{args.chunk}-byte chunks, best of {args.runs} runs (processor time)")
    print(f"{'receiver':<30}{'MiB/s':>9}{'CPU s':>9}{'feed is':>10}")
    for name, t in best.items():
        print(f"{name:<30}{mib / t:>9.2f}{t:>9.3f}{t / t_feed:>9.0f}x")


if __name__ == "__main__":
    main()
