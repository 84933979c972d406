#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""How closely vemlink replay keeps to a recording's timing, and how fast
vemlink mock answers against how fast the tap forwards.

    bench/replay_timing.py VEMLINK [FRAMES [ROUND_TRIPS]]

1. replay --link at speed 1 of a capture whose gaps cycle through 1, 2, 5,
   10, 20, 50, 100, 200, 500 and 1000 ms (FRAMES frames, 60 by default:
   about 11 s), read by an application on its end; the timing error is
   each frame's actual time less its planned one, from replay's listing.
2. ROUND_TRIPS (1000) times: a request written to mock's end until its
   recorded answer (no delay recorded) is read back; and a frame written
   to a tap's application end until it is read on the device's side.
The pty helpers and the capture writer are those of tests/replay_test.py.
"""

import os
import re
import select
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import replay_test as t  # noqa: E402  (takes VEMLINK from sys.argv[1])

t.EMULATOR = []  # the rest of the arguments are this program's

FRAMES = int(sys.argv[2]) if len(sys.argv) > 2 else 60
TRIPS = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
GAPS_MS = (1, 2, 5, 10, 20, 50, 100, 200, 500, 1000)


def ms(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(q * (len(values) - 1) + 0.5))] * 1000


def figures(name, seconds):
    print("%-34s p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms  (%d)" %
          (name, ms(seconds, 0.5), ms(seconds, 0.99), max(seconds) * 1000, len(seconds)))


def replay_timing(tmp):
    at, records = 0.0, []
    for i in range(FRAMES):
        records.append((1000 + at, b"<", 0, t.between(b"frame %d" % i)))
        at += GAPS_MS[i % len(GAPS_MS)] / 1000
    path = os.path.join(tmp, "gaps.pcapng")
    with open(path, "wb") as f:
        f.write(t.pcapng(records))
    link = os.path.join(tmp, "ttyGAPS")
    proc = t.vemlink(["replay", path, "--link", link])
    app = t.open_end(link)
    t.read_until(app, lambda b: len(t.payloads(b)) >= FRAMES, timeout=at + 30)
    status, out, err = t.wait_for(proc, timeout=at + 30)
    os.close(app)
    rows = re.findall(r"^ *(\d+\.\d{6}) +(\d+\.\d{6}) <", out, re.M)
    figures("replay timing error, gaps 1ms-1s", [float(a) - float(p) for p, a in rows])
    print("  replay's own: " + next(line for line in out.splitlines() if line.startswith("timing")))


def round_trips(write_fd, read_fd, request, reply_len):
    took = []
    for _ in range(TRIPS):
        began = time.perf_counter()
        os.write(write_fd, request)
        got = 0
        while got < reply_len:
            select.select([read_fd], [], [])
            got += len(os.read(read_fd, 4096))
        took.append(time.perf_counter() - began)
    return took


def mock_latency(tmp):
    path = os.path.join(tmp, "pingpong.pcapng")
    with open(path, "wb") as f:
        f.write(t.pcapng([(1000, b">", 0, t.between(b"ping")), (1000, b"<", 0, t.between(b"pong"))]))
    proc, link = t.start_mock(tmp, path)
    app = t.open_end(link)
    figures("mock answer latency", round_trips(app, app, t.frame(b"ping"), len(t.frame(b"pong"))))
    os.close(app)
    t.stop(proc)


def tap_latency(tmp):
    pair = t.Pair()
    link = os.path.join(tmp, "ttyTAP")
    proc = t.vemlink(["tap", pair.path, "--link", link])
    t.wait_path(link)
    app = t.open_end(link)
    request = t.frame(b"ping")
    figures("tap forwarding latency (one way)", round_trips(app, pair.master, request, len(request)))
    os.close(app)
    t.stop(proc)
    pair.close()


def main():
    with tempfile.TemporaryDirectory() as tmp:
        replay_timing(tmp)
        mock_latency(tmp)
        tap_latency(tmp)
    return 1 if t.failures else 0


if __name__ == "__main__":
    sys.exit(main())
