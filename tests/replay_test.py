#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""vemlink replay and vemlink mock on pseudo-terminal pairs.

    replay_test.py VEMLINK [--python] [EMULATOR...]

A session is recorded first through a real 'vemlink tap --pcap': a thread
of this program plays a scripted device on one pty pair, and this program
the application on the tap's end. The recording is then played back to an
application (replay --link), to a device (replay --device), and stood in
for the device (mock), and every byte that arrives is compared with what
the scripted side wrote. The timing options are checked on captures
written here with exact times, by the planned column of the listing and by
the order and a generous lower bound of the actual one; malformed captures
are written here too. With --python, the module's Link (from PYTHONPATH)
talks to the mock. Frames are built with an FCS of this file's own.
"""

import os
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import termios
import tty

VEMLINK, ARGS = sys.argv[1], sys.argv[2:]
PYTHON = "--python" in ARGS
EMULATOR = [a for a in ARGS if a != "--python"]
WAIT = 30.0  # seconds for anything to happen at all: loaded machines, qemu
failures = []


def check(ok, what):
    """Notes a failed check and goes on; True when it held."""
    if not ok:
        failures.append(what)
        sys.stderr.write("FAIL: %s\n" % what)
    return ok


def _table():
    table = []
    for byte in range(256):
        crc = byte
        for _ in range(8):
            crc = (crc >> 1) ^ (0x8408 if crc & 1 else 0)
        table.append(crc)
    return table


FCS_TABLE = _table()


def frame(payload):
    """7E, payload and FCS-16 (low byte first) with 7E and 7D escaped, 7E."""
    crc = 0xFFFF
    for byte in payload:
        crc = (crc >> 8) ^ FCS_TABLE[(crc ^ byte) & 0xFF]
    body = payload + struct.pack("<H", crc ^ 0xFFFF)
    return b"\x7e" + body.replace(b"\x7d", b"\x7d\x5d").replace(b"\x7e", b"\x7d\x5e") + b"\x7e"


def payloads(stream):
    """The payloads of the intact frames in a byte stream."""
    out = []
    for chunk in stream.split(b"\x7e"):
        body = re.sub(rb"\x7d(.)", lambda m: bytes([m.group(1)[0] ^ 0x20]), chunk, flags=re.S)
        if len(body) >= 2 and frame(body[:-2]) == b"\x7e" + chunk + b"\x7e":
            out.append(body[:-2])
    return out


def corrupted(payload):
    bad = bytearray(frame(payload))
    bad[2] ^= 0x01
    return bytes(bad)


class Pair:
    """A pty pair; the slave's path is what vemlink opens, the master is
    the other side, played here. The slave stays open, set raw."""

    def __init__(self):
        master, slave = os.openpty()
        tty.setraw(slave)
        os.set_blocking(master, False)
        self.master, self.slave, self.path = master, slave, os.ttyname(slave)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def write_all(fd, data):
    """Writes all of data to a non-blocking fd, waiting for room."""
    end = time.monotonic() + WAIT
    while data and time.monotonic() < end:
        if select.select([], [fd], [], 0.1)[1]:
            data = data[os.write(fd, data):]
    check(not data, "a write stalled with %d bytes left" % len(data))


def read_until(fd, done, timeout=WAIT):
    """Reads fd until done(bytes so far) or timeout; returns the bytes."""
    got = b""
    deadline = time.monotonic() + timeout
    while not done(got) and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.05)[0]:
            try:
                got += os.read(fd, 65536)
            except (BlockingIOError, OSError):
                time.sleep(0.01)
    return got


def open_end(path):
    """Opens an application's end as an application does: raw, its own."""
    deadline = time.monotonic() + WAIT
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.01)
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    # At once, not after a flush (setraw's default): frames may be waiting.
    tty.setraw(fd, termios.TCSANOW)
    return fd


class Device(threading.Thread):
    """The scripted device on a pair's master: answers each intact request
    with the frames script gives for it (a list of answers for a repeated
    request, used in turn), each after its delay; the writes are kept."""

    def __init__(self, pair, script):
        super().__init__(daemon=True)
        self.pair, self.script, self.turns = pair, script, {}
        self.wrote, self.heard = b"", b""
        self.running = True

    def send(self, data):
        self.wrote += data
        write_all(self.pair.master, data)

    def run(self):
        pending = b""
        while self.running:
            if not select.select([self.pair.master], [], [], 0.05)[0]:
                continue
            try:
                data = os.read(self.pair.master, 4096)
            except (BlockingIOError, OSError):
                continue
            self.heard += data
            pending += data
            *done, pending = pending.split(b"\x7e")
            for payload in payloads(b"\x7e".join(done + [b""])):
                answers = self.script(payload) if callable(self.script) else self.script.get(payload, [])
                turn = self.turns.get(payload, 0)
                self.turns[payload] = turn + 1
                for delay, data in answers[min(turn, len(answers) - 1)] if answers else []:
                    time.sleep(delay)
                    self.send(data)

    def stop(self):
        self.running = False
        self.join(WAIT)


def vemlink(args, **kw):
    return subprocess.Popen(EMULATOR + [VEMLINK] + args, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, **kw)


def wait_for(proc, timeout=WAIT):
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        check(False, "vemlink did not end in time")
    return proc.returncode, out.decode(errors="replace"), err.decode(errors="replace")


def stop(proc, sig=signal.SIGTERM):
    proc.send_signal(sig)
    return wait_for(proc)


def wait_path(path):
    deadline = time.monotonic() + WAIT
    while not os.path.lexists(path) and time.monotonic() < deadline:
        time.sleep(0.01)
    return os.path.lexists(path)


# The session the tap records: what the application asks, in order, and
# what the scripted device answers each time (delay, bytes written).
BOOT = frame(b"boot")
SCRIPT = {
    b"get status": [[(0, frame(b"status ok"))]],
    b"get temp": [[(0, frame(b"temp 21"))], [(0, frame(b"temp 22"))]],
    b"ping": [[(0, frame(b"pong")), (0.05, corrupted(b"noise")), (0.05, frame(b"pong \x7e2"))]],
    b"slow": [[(0.2, frame(b"done"))]],
}
ASKED = [b"get status", b"get temp", b"get temp", b"ping", b"slow"]
REPLIES = {b"get status": 1, b"get temp": 1, b"ping": 2, b"slow": 1}


def record(tmp):
    """Records the session through a tap; returns the capture's path, the
    device's writes and the application's."""
    pcap, link = os.path.join(tmp, "session.pcapng"), os.path.join(tmp, "ttyREC")
    pair = Pair()
    device = Device(pair, SCRIPT)
    device.start()
    tap = vemlink(["tap", pair.path, "--link", link, "--pcap", pcap])
    check(wait_path(link), "the tap made no link")
    device.send(BOOT)
    app = open_end(link)
    read_until(app, lambda b: len(payloads(b)) == 1)
    sent = b""
    for request in ASKED:
        sent += frame(request)
        write_all(app, frame(request))
        read_until(app, lambda b: len(payloads(b)) == REPLIES[request])
    time.sleep(0.1)
    os.close(app)
    status, out, err = stop(tap)
    device.stop()
    pair.close()
    check(status == 0, "the recording tap ended with %s: %s" % (status, err))
    return pcap, device.wrote, sent


def intact(stream):
    """The frames of a stream that pass their check, as on the wire."""
    return b"".join(frame(p) for p in payloads(stream))


def test_replay_link(tmp, pcap, device_wrote):
    """replay --link gives the application the device's frames byte for
    byte: the ok ones, or with --all every one, the corrupted too."""
    for extra, expected in (([], intact(device_wrote)), (["--all"], device_wrote)):
        link = os.path.join(tmp, "ttyREPLAY")
        proc = vemlink(["replay", pcap, "--link", link] + extra)
        app = open_end(link)
        got = read_until(app, lambda b: len(b) >= len(expected))
        status, out, err = wait_for(proc)
        os.close(app)
        check(got == expected, "replay --link %s gave %r, not %r" % (extra, got, expected))
        check(status == 0, "replay --link %s: exit %s: %s" % (extra, status, err))
        check(not os.path.lexists(link), "replay --link left its link behind")
        rows = [line for line in out.splitlines() if re.match(r" *\d+\.\d{6} +\d+\.\d{6} <", line)]
        check(len(rows) == len(payloads(expected)) + (1 if extra else 0),
              "replay --link %s listed %d frames:\n%s" % (extra, len(rows), out))
        check("timing error: p50 " in out, "no timing error in:\n" + out)


def test_replay_device(tmp, pcap, app_sent):
    """replay --device gives a device the application's frames and lists
    the device's replies."""
    pair = Pair()
    device = Device(pair, {b"get temp": [[(0, frame(b"hot"))]]})
    device.start()
    status, out, err = wait_for(vemlink(["replay", pcap, "--device", pair.path, "--wait", "300ms"]))
    device.stop()
    pair.close()
    check(status == 0, "replay --device: exit %s: %s" % (status, err))
    check(device.heard == app_sent, "the device heard %r, not %r" % (device.heard, app_sent))
    check(len(re.findall(r"\d <\s+\d+\s+3\s+ok\s+68 6F 74", out)) == 2,
          "replay --device did not list the two replies:\n" + out)


def test_replay_summary(tmp, pcap, app_sent):
    """SIGUSR1 makes replay print its running summary on standard error and
    go on; SIGTERM then ends it cleanly."""
    pair = Pair()
    device = Device(pair, {})
    device.start()
    proc = vemlink(["replay", pcap, "--device", pair.path, "--no-timing", "--wait", "60s"])
    deadline = time.monotonic() + WAIT
    while device.heard != app_sent and time.monotonic() < deadline:
        time.sleep(0.01)
    proc.send_signal(signal.SIGUSR1)
    time.sleep(0.3)
    alive = proc.poll() is None
    status, out, err = stop(proc)
    device.stop()
    pair.close()
    check(alive, "SIGUSR1 ended replay: %s" % err)
    check(status == 0, "replay after SIGUSR1 and SIGTERM: exit %s: %s" % (status, err))
    check("summary >: frames %d" % len(payloads(app_sent)) in err,
          "no running summary on standard error: %r" % err)


def start_mock(tmp, pcap, extra=()):
    link = os.path.join(tmp, "ttyMOCK")
    proc = vemlink(["mock", pcap, "--link", link] + list(extra))
    check(wait_path(link), "mock made no link")
    return proc, link


def ask(app, request, replies, timeout=WAIT):
    """Sends request, returns the frames of the first `replies` answers."""
    write_all(app, frame(request))
    return read_until(app, lambda b: len(payloads(b)) >= replies, timeout)


def test_mock(tmp, pcap):
    """mock answers as the scripted device did, byte for byte: repeated
    requests in turn with the last repeating, several frames to one, the
    unsolicited frame at the first open; a bad frame and an unknown request
    get nothing."""
    proc, link = start_mock(tmp, pcap, ["--no-timing"])
    app = open_end(link)
    got = [read_until(app, lambda b: len(payloads(b)) >= 1)]
    for request, replies in ((b"get status", 1), (b"get temp", 1), (b"get temp", 1),
                             (b"get temp", 1), (b"ping", 2), (b"slow", 1)):
        got.append(ask(app, request, replies))
    write_all(app, corrupted(b"get status"))
    got.append(ask(app, b"nope", 1, timeout=0.3))
    os.close(app)
    status, out, err = stop(proc)
    check(got == [BOOT, frame(b"status ok"), frame(b"temp 21"), frame(b"temp 22"),
                  frame(b"temp 22"), frame(b"pong") + frame(b"pong \x7e2"), frame(b"done"), b""],
          "mock answered %r" % got)
    check(status == 0, "mock: exit %s: %s" % (status, err))
    check("summary: requests 7, answered 6, unknown 1, bad 1" in out, "mock's summary:\n" + out)
    check(re.search(r"\d >\s+\d+\s+\d+\s+crc-error", out) and
          re.search(r"\d > no recording\n", out), "mock's listing:\n" + out)


def test_mock_unknown(tmp, pcap):
    """A request with no recording: no answer, or --default's; exit status
    1 with --strict."""
    for extra, reply, expected in (([], b"", 0), (["--default", "6e 6f"], frame(b"no"), 0),
                                   (["--strict"], b"", 1),
                                   (["--strict", "--default", "6E6F"], frame(b"no"), 1)):
        proc, link = start_mock(tmp, pcap, extra)
        app = open_end(link)
        read_until(app, lambda b: len(payloads(b)) >= 1)
        got = ask(app, b"what", 1, timeout=0.5 if not reply else WAIT)
        got += ask(app, b"get status", 1)  # in step afterwards
        os.close(app)
        status, out, err = stop(proc)
        check(got == reply + frame(b"status ok"),
              "mock %s answered %r" % (extra, got))
        check(status == expected, "mock %s: exit %s, not %s: %s" % (extra, status, expected, err))
        check(("with no recording (--strict)" in err) == (expected == 1), "mock %s said %r" % (extra, err))


def test_mock_delay(tmp, pcap):
    """The recorded delay holds a reply back (0.2 s recorded for 'slow'),
    --no-timing does not."""
    for extra, at_least in (([], 0.15), (["--no-timing"], 0)):
        proc, link = start_mock(tmp, pcap, extra)
        app = open_end(link)
        read_until(app, lambda b: len(payloads(b)) >= 1)
        began = time.monotonic()
        got = ask(app, b"slow", 1)
        took = time.monotonic() - began
        os.close(app)
        stop(proc)
        check(got == frame(b"done") and took >= at_least,
              "mock %s answered %r after %.3f s" % (extra, got, took))


def test_mock_link(tmp, pcap):
    """The module's Link against mock, as a host program's test bench
    talks to the device: request by request, repeated ones included."""
    import vemutils
    proc, link = start_mock(tmp, pcap)
    with vemutils.Link(link) as dev:
        # The unsolicited frame goes out when the end is first opened:
        # pyserial's own open may discard it, or it comes a moment later.
        # Either way it must not be taken for the first request's answer.
        first = dev.receive(1.0)
        check(first in (b"boot", None), "Link: unsolicited frame %r" % first)
        answers = [dev.request(r, 5.0) for r in (b"get status", b"get temp", b"get temp", b"ping")]
        answers.append(dev.receive(5.0))
        answers.append(dev.request(b"slow", 5.0))
        try:
            dev.request(b"unknown", 0.3)
            answers.append("answered")
        except TimeoutError:
            answers.append(None)
    status, out, err = stop(proc)
    check(answers == [b"status ok", b"temp 21", b"temp 22", b"pong", b"pong \x7e2", b"done", None],
          "Link got %r" % answers)
    check(status == 0 and "answered 5, unknown 1" in out, "mock with Link: %s %s" % (out, err))


def pcapng(records, big=False, tsresol=None, linktype=252, dissector=b"vemlink"):
    """A capture as vemlink writes one, here in either byte order and with
    any time resolution: records are (seconds, direction, status, wire)."""
    e = ">" if big else "<"

    def block(kind, body):
        body += b"\0" * (-len(body) % 4)
        return struct.pack(e + "II", kind, len(body) + 12) + body + struct.pack(e + "I", len(body) + 12)

    out = block(0x0A0D0D0A, struct.pack(e + "IHHq", 0x1A2B3C4D, 1, 0, -1))
    options = b"" if tsresol is None else struct.pack(e + "HHB3x", 9, 1, tsresol)
    out += block(1, struct.pack(e + "HHI", linktype, 0, 0) + options + b"\0" * 4)
    ticks = 10 ** (tsresol or 6)
    for seconds, direction, status, wire in records:
        name = dissector + b"\0" * (-len(dissector) % 4 or 4)
        data = (struct.pack(">HH", 12, len(name)) + name + b"\0" * 4 +
                struct.pack(">BBcxQI", 1, status, direction, 0, len(wire)) + wire)
        t = round(seconds * ticks)
        out += block(6, struct.pack(e + "IIIII", 0, t >> 32, t & 0xFFFFFFFF, len(data), len(data)) + data)
    return out


def between(payload):
    """A frame's bytes between its flags."""
    return frame(payload)[1:-1]


# Device frames 0.2, 0.4 and 0.1 s apart (from a second past the epoch
# onwards: the start of the recording does not count).
TIMED = [(1000.0 + t, b"<", 0, between(b"f%d" % i)) for i, t in enumerate((0, 0.2, 0.6, 0.7))]


def planned_column(out):
    return [float(m) for m in re.findall(r"^ *(\d+\.\d{6}) +\d+\.\d{6} <", out, re.M)]


def actual_column(out):
    return [float(m) for m in re.findall(r"^ *\d+\.\d{6} +(\d+\.\d{6}) <", out, re.M)]


def test_timing(tmp):
    """The plan each option makes, exactly, from captures of either byte
    order and time resolution; the frames go out in order, none early."""
    cases = [([], [0, 0.2, 0.6, 0.7]),
             (["--speed", "2"], [0, 0.1, 0.3, 0.35]),
             (["--speed=0.5", "--max-gap", "500ms"], [0, 0.4, 0.9, 1.1]),
             (["--no-timing"], [0, 0, 0, 0]),
             (["--max-gap", "150ms"], [0, 0.15, 0.3, 0.4]),
             (["--speed", "2", "--max-gap=0.15s"], [0, 0.1, 0.25, 0.3]),
             (["--loop", "2", "--max-gap", "100000us"], [0, 0.1, 0.2, 0.3, 0.3, 0.4, 0.5, 0.6])]
    files = []
    for n, variant in enumerate(({}, {"big": True}, {"tsresol": 9}, {"big": True, "tsresol": 3})):
        files.append(os.path.join(tmp, "timed%d.pcapng" % n))
        with open(files[-1], "wb") as f:
            f.write(pcapng(TIMED, **variant))
    for i, (extra, plan) in enumerate(cases):
        # Each case on one of the variants: every variant is read at least once.
        link = os.path.join(tmp, "ttyTIMED")
        proc = vemlink(["replay", files[i % len(files)], "--link", link] + extra)
        app = open_end(link)
        expected = b"".join(frame(b"f%d" % i) for i in range(4)) * (len(plan) // 4)
        got = read_until(app, lambda b: len(b) >= len(expected))
        status, out, err = wait_for(proc)
        os.close(app)
        actual = actual_column(out)
        check(status == 0 and got == expected, "replay %s: exit %s, gave %r: %s" % (extra, status, got, err))
        check(planned_column(out) == plan, "replay %s planned %s, not %s" % (extra, planned_column(out), plan))
        check(len(actual) == len(plan) and actual == sorted(actual) and
              all(a >= p for a, p in zip(actual, plan)), "replay %s went out at %s" % (extra, actual))


def test_bad_input(tmp, pcap):
    """Every malformed capture is refused with exit status 2 and a message
    naming the file and the fault, and nothing is played or made."""
    good = pcapng(TIMED)
    classic = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 147)
    lengths = bytearray(good)
    lengths[-4] ^= 4
    cases = [("empty", b"", "not a pcapng file"),
             ("text", b"hello world, not a capture\n", "not a pcapng file"),
             ("classic", classic, "not a pcapng file"),
             ("cut", good[:-10], "is truncated"),
             ("cut header", good[:-len(good) + 30], "is truncated"),
             ("lengths", bytes(lengths), "lengths that disagree"),
             ("ethernet", pcapng(TIMED, linktype=1), "link type 1, not 252"),
             ("dissector", pcapng(TIMED, dissector=b"other"), "'other', not a vemlink record"),
             ("status", pcapng([(1, b"<", 9, b"x")]), "bad status"),
             ("no frames", pcapng([(1, b">", 0, between(b"x"))]), "no ok frames (<) to play", None),
             ("no requests", good, None, "no ok frames (>) to answer"),
             ("only bad", pcapng([(1, b"<", 1, b"xyz"), (2, b">", 1, b"xyz")]),
              "no ok frames (<) to play", "no ok frames (>) to answer")]
    link = os.path.join(tmp, "ttyBAD")
    for name, data, *said in cases:
        path = os.path.join(tmp, name + ".pcapng")
        with open(path, "wb") as f:
            f.write(data)
        for command, message in zip(("replay", "mock"), said * 2 if len(said) == 1 else said):
            if message is None:
                continue
            status, out, err = wait_for(vemlink([command, path, "--link", link]))
            check(status == 2 and err.startswith("vemlink %s: %s: " % (command, path)) and message in err,
                  "%s of a %s capture: exit %s, said %r" % (command, name, status, err))
            check(out == "" and not os.path.lexists(link), "%s of a %s capture played" % (command, name))
    status, out, err = wait_for(vemlink(["replay", os.path.join(tmp, "missing"), "--link", link]))
    check(status == 2 and "cannot read " in err, "a missing capture: %s %r" % (status, err))


def test_usage(tmp, pcap):
    """Bad arguments: exit status 2 and a message naming the option."""
    link = os.path.join(tmp, "ttyUSAGE")
    cases = [(["replay", pcap], "give either --link PATH or --device DEV"),
             (["replay", pcap, "--link", link, "--device", "/dev/null"], "give either"),
             (["replay", pcap, "--link", link, "--baud", "9600"], "the line options go with --device"),
             (["replay", pcap, "--link", link, "--speed", "0"], "--speed needs a factor above 0"),
             (["replay", pcap, "--link", link, "--max-gap", "50"],
              "--max-gap needs a duration with its unit (us, ms or s), for example 50ms or 1.5s, not '50'"),
             (["replay", pcap, "--link", link, "--wait", "1 s"], "--wait needs a duration"),
             (["replay", pcap, "--link", link, "--loop", "0"], "--loop needs a count"),
             (["replay", pcap, "--link", link, "--frames", "x"], "--frames takes '>' or '<'"),
             (["replay", "--link", link], "no CAPTURE given"),
             (["mock", pcap], "--link PATH is needed"),
             (["mock", pcap, "--link", link, "--default", "7"], "--default needs a payload in hex"),
             (["mock", pcap, "--link", link, "--speed", "2"], "unknown option --speed")]
    for args, said in cases:
        status, out, err = wait_for(vemlink(args))
        check(status == 2 and said in err, "%s: exit %s, said %r" % (args, status, err))


def test_other_captures(tmp):
    """A monitor's capture (A as the application, B as the device) and a
    decode --pcap capture (one side, '<') play back byte for byte."""
    a, b = Pair(), Pair()
    pcap = os.path.join(tmp, "monitor.pcapng")
    monitor = vemlink(["monitor", a.path, b.path, "--pcap", pcap])
    time.sleep(0.3)
    from_a, from_b = frame(b"request"), frame(b"answer") + frame(b"\x7d\x7e")
    write_all(a.master, from_a)
    time.sleep(0.05)
    write_all(b.master, from_b)
    time.sleep(0.3)
    stop(monitor)
    a.close()
    b.close()
    raw = os.path.join(tmp, "line.bin")
    with open(raw, "wb") as f:
        f.write(from_b + frame(b"third"))
    decoded = os.path.join(tmp, "decoded.pcapng")
    wait_for(vemlink(["decode", "--pcap", decoded, raw]))
    for capture, expected in ((pcap, from_b), (decoded, from_b + frame(b"third"))):
        link = os.path.join(tmp, "ttyOTHER")
        proc = vemlink(["replay", capture, "--link", link])
        app = open_end(link)
        got = read_until(app, lambda got: len(got) >= len(expected))
        status, out, err = wait_for(proc)
        os.close(app)
        check(status == 0 and got == expected, "replay of %s: %s, gave %r" % (capture, err, got))


def test_example_bench(tmp):
    """examples/python's bench, recorded once through the tap with an
    echoing device, passes against mock playing the recording; without
    the device."""
    pair = Pair()
    device = Device(pair, lambda payload: [[(0, frame(payload))]])
    device.start()
    pcap, link = os.path.join(tmp, "bench.pcapng"), os.path.join(tmp, "ttyBENCH")
    tap = vemlink(["tap", pair.path, "--link", link, "--pcap", pcap])
    check(wait_path(link), "the tap made no link")
    example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "python")
    bench = [sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "-q", example]
    runs = [subprocess.run(bench + ["--device", link], capture_output=True, text=True, timeout=300)]
    stop(tap)
    device.stop()
    pair.close()
    runs.append(subprocess.run(bench + ["--recording", pcap, "--vemlink", VEMLINK],
                               capture_output=True, text=True, timeout=300))
    for run, against in zip(runs, ("the echoing device", "the mock")):
        check(run.returncode == 0 and "8 passed" in run.stdout,
              "the example bench against %s: %s %s" % (against, run.stdout, run.stderr))


def main():
    with tempfile.TemporaryDirectory() as tmp:
        pcap, device_wrote, app_sent = record(tmp)
        test_replay_link(tmp, pcap, device_wrote)
        test_replay_device(tmp, pcap, app_sent)
        test_replay_summary(tmp, pcap, app_sent)
        test_mock(tmp, pcap)
        test_mock_unknown(tmp, pcap)
        test_mock_delay(tmp, pcap)
        if PYTHON:
            test_mock_link(tmp, pcap)
            test_example_bench(tmp)
        test_timing(tmp)
        test_bad_input(tmp, pcap)
        test_usage(tmp, pcap)
        test_other_captures(tmp)
    if failures:
        print("%d checks failed" % len(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
