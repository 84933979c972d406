#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""vemlink tap --to-device / --to-app on real pseudo-terminals.

    impair_test.py VEMLINK DISSECTOR [EMULATOR...]

This program plays the device on the master side of a pty pair and the
application on the end the tap makes, sends frames both ways at once, and
holds what each far end received against what the tap says it did: in the
listing, in the summary and, read by tshark, in the pcapng comments. Frames
are built by linkframes.py, not by vemlink. The bounds on time
are generous (a loaded machine, an emulator); the precise figures are in
scripts/bench-tap. Exit status 77 (skipped) when tshark is missing from a
cross build.
"""

import math
import os
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tty

from linkframes import check, verdict, frame

VEMLINK = sys.argv[1]
DISSECTOR = os.path.abspath(sys.argv[2])
EMULATOR = sys.argv[3:]
WAIT = 30.0   # the longest anything may take
QUIET = 1.0   # no byte for this long after the last write: all is through
FLAG, ESC = 0x7E, 0x7D


def wire(payload):
    """A frame's bytes between its flags."""
    return frame(payload)[1:-1]


def traffic(seed, count, size=40):
    """count frames of numbered payloads with random bytes (7E and 7D
    among them), each between flags; the frames' wire bytes and the stream."""
    rng = random.Random(seed)
    frames = []
    for i in range(count):
        body = bytes(rng.choice((FLAG, ESC, rng.randrange(256))) for _ in range(size))
        frames.append(wire(b"frame %05d " % i + body))
    return frames, b"\x7e" + b"\x7e".join(frames) + b"\x7e"


def split(stream):
    """The runs of bytes between flags, as a receiver sees them."""
    return [run for run in stream.split(b"\x7e") if run]


def bits(a, b):
    return sum(bin(x ^ y).count("1") for x, y in zip(a, b))


class Tap:
    """vemlink tap on a fresh pty pair; the test is both ends."""

    def __init__(self, tmp, *args, name="tap"):
        self.master, slave = os.openpty()
        tty.setraw(slave)
        self.slave = slave
        os.set_blocking(self.master, False)
        self.out = os.path.join(tmp, name + ".out")
        self.err = os.path.join(tmp, name + ".err")
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.proc = subprocess.Popen(EMULATOR + [VEMLINK, "tap", os.ttyname(slave)] +
                                         list(args), stdout=out, stderr=err,
                                         stdin=subprocess.DEVNULL)
        self.app = None
        deadline = time.time() + WAIT
        while self.app is None and time.time() < deadline and self.proc.poll() is None:
            found = re.search(r"application's end is (\S+?)[,\n]", self.stderr())
            if found:
                self.app = os.open(found.group(1), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
                tty.setraw(self.app)
            time.sleep(0.02)
        check(self.app is not None, "no application's end: " + self.stderr())

    def stderr(self):
        with open(self.err, errors="replace") as f:
            return f.read()

    def listing(self):
        with open(self.out, errors="replace") as f:
            return f.read()

    def exchange(self, to_device, to_app, chunk=4096, expect=None):
        """Writes both streams at once in chunks, reading both far ends,
        until all is written and then expect bytes came (each way, None: no
        byte for QUIET). Returns what the device and the application got and
        the times (since the start) of each chunk the device read."""
        ways = [[self.app, to_device, 0, self.master, bytearray()],
                [self.master, to_app, 0, self.app, bytearray()]]
        start = last = time.monotonic()
        arrivals = []
        while time.monotonic() - start < WAIT:
            for w in ways:
                if w[2] < len(w[1]):
                    try:
                        w[2] += os.write(w[0], w[1][w[2]:w[2] + chunk])
                        last = time.monotonic()
                    except BlockingIOError:
                        pass
            readable = select.select([w[3] for w in ways], [], [], 0.005)[0]
            for w in ways:
                if w[3] in readable:
                    try:
                        got = os.read(w[3], 65536)
                    except (BlockingIOError, OSError):
                        continue
                    w[4] += got
                    last = time.monotonic()
                    if w[3] == self.master:
                        arrivals.append((last - start, len(w[4])))
            written = all(w[2] == len(w[1]) for w in ways)
            if written and expect is not None and [len(w[4]) for w in ways] >= list(expect):
                break
            if written and expect is None and time.monotonic() - last > QUIET:
                break
        return bytes(ways[0][4]), bytes(ways[1][4]), arrivals

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            status = self.proc.wait(WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = None
        for fd in (self.app, self.master, self.slave):
            if fd is not None:
                os.close(fd)
        return status


# A frame row: the time (blank on the partial frames listed at the end),
# the direction, offset, length, status, then the data and the note.
ROW = re.compile(r"^(?:\s*\d+\.\d{6}| {10}) ([<>])\s+(\d+)\s+(\d+)\s+(\S+)(.*)$")


def rows(listing, mark):
    """(offset, status, note) of each frame row of one direction."""
    out = []
    for line in listing.splitlines():
        m = ROW.match(line)
        if m and m.group(1) == mark:
            rest = m.group(5)
            at = rest.rfind("|  ! ") + 1 if "|" in rest else rest.find("  ! ")
            note = rest[at + 4:] if at > 0 and rest[at:at + 4] == "  ! " else ""
            out.append((int(m.group(2)), m.group(4), note))
    return out


def notes(listing, mark, word):
    return [n for _, _, n in rows(listing, mark) for part in n.split(", ") if part.startswith(word)]


def counted(listing, mark):
    """The impaired summary line of a direction: word -> count."""
    m = re.search(r"^impaired %s: (.*); seed (\d+)$" % re.escape(mark), listing, re.M)
    if not check(m is not None, "no impaired summary for %s in:\n%s" % (mark, listing[-600:])):
        return {}
    return {w: int(n) for w, n in re.findall(r"([a-z ]+?) (\d+)(?:,|;|$)",
                                               m.group(1).replace("frames ", ""))}


def other_way_untouched(what, sent, got):
    check(got == sent, "%s: the other direction got %d bytes, not the %d sent, or others"
          % (what, len(got), len(sent)))


# Each word alone, in one direction (the other carries plain traffic), with
# what the far end got held against the listing and the summary.
def loss_check(tap, frames, got, mark):
    received = split(got)
    lost = [f for f in frames if f not in received]
    check(received == [f for f in frames if f not in lost], "loss: frames changed or reordered")
    check(len(lost) == counted(tap.listing(), mark).get("lost"),
          "loss: %d frames missing, the summary says %s" % (len(lost), counted(tap.listing(), mark)))
    check(len(notes(tap.listing(), mark, "lost")) == len(lost), "loss: listing marks differ")
    check(0 < len(lost) < len(frames), "loss 30%%: %d of %d lost" % (len(lost), len(frames)))
    check(got.count(b"\x7e") == len(frames) + 1, "loss: not one flag kept for each lost frame")


def duplicate_check(tap, frames, got, mark):
    received = split(got)
    extra = len(received) - len(frames)
    deduplicated = [f for i, f in enumerate(received) if i == 0 or received[i - 1] != f]
    check(deduplicated == frames, "duplicate: not the frames sent, each once or twice in a row")
    check(extra == counted(tap.listing(), mark).get("duplicated") ==
          len(notes(tap.listing(), mark, "duplicated")) and extra > 0,
          "duplicate: %d copies, summary %s" % (extra, counted(tap.listing(), mark)))


def corrupt_check(tap, stream, got, mark):
    check(len(got) == len(stream), "corrupt: %d bytes, not %d" % (len(got), len(stream)))
    diff = [i for i, (a, b) in enumerate(zip(stream, got)) if a != b]
    check(all(bits(stream[i:i + 1], got[i:i + 1]) == 1 for i in diff),
          "corrupt: a byte with more than one bit flipped")
    listing = tap.listing()
    check(len(diff) == counted(listing, mark).get("corrupted") ==
          len(notes(listing, mark, "corrupted")) and diff,
          "corrupt: %d bytes differ, summary %s" % (len(diff), counted(listing, mark)))
    # Each note names the byte after the row's opening flag; a flip that made
    # a flag splits the frame, and its note goes with the part it closes.
    for offset, _, note in rows(listing, mark):
        m = re.search(r"corrupted byte (\d+) bit (\d+)", note)
        if m and got[offset] != FLAG:
            at = offset + 1 + int(m.group(1))
            check(at in diff and stream[at] ^ got[at] == 1 << int(m.group(2)),
                  "corrupt: the note %r at offset %d is not what changed" % (note, offset))


def truncate_check(tap, frames, got, mark):
    received = split(got)
    check(len(received) == len(frames), "truncate: %d frames, not %d" % (len(received), len(frames)))
    cut = [(len(r), len(f)) for r, f in zip(received, frames) if r != f]
    check(all(f.startswith(r) and 0 < len(r) < len(f) for r, f in zip(received, frames) if r != f),
          "truncate: a frame that is not a shorter start of the one sent")
    said = [tuple(map(int, re.search(r"at (\d+) of (\d+)", n).groups()))
            for n in notes(tap.listing(), mark, "truncated")]
    check(said == cut and len(cut) == counted(tap.listing(), mark).get("truncated") and cut,
          "truncate: cut %s, listed %s" % (cut[:5], said[:5]))


def word_checks(tmp):
    frames, stream = traffic(1, 400)
    _, plain = traffic(2, 400)
    cases = [("loss 30%", loss_check, frames), ("duplicate 30%", duplicate_check, frames),
             ("corrupt 30%", corrupt_check, stream), ("truncate 30%", truncate_check, frames)]
    for i, (impairments, held, sent) in enumerate(cases):
        # Alternate the directions, so both are impaired in turn.
        option, mark = ("--to-device", ">") if i % 2 == 0 else ("--to-app", "<")
        tap = Tap(tmp, option, impairments, "--seed", str(10 + i), name="word%d" % i)
        to_device, to_app = (stream, plain) if mark == ">" else (plain, stream)
        at_device, at_app, _ = tap.exchange(to_device, to_app)
        check(tap.stop() == 0, impairments + ": exit status")
        got, untouched = (at_device, at_app) if mark == ">" else (at_app, at_device)
        held(tap, sent, got, mark)
        other_way_untouched(impairments, plain, untouched)
        check(not re.search(r"^impaired %s" % ("<" if mark == ">" else ">"), tap.listing(), re.M),
              impairments + ": the other direction has an impaired summary")


def all_or_nothing_checks(tmp):
    """loss 100% to the device, corrupt 100% to the application: every frame,
    and nothing of the other way."""
    frames, stream = traffic(3, 200)
    _, plain = traffic(4, 200)
    tap = Tap(tmp, "--to-device", "loss 100%", name="loss100")
    at_device, at_app, _ = tap.exchange(stream, plain)
    check(tap.stop() == 0, "loss 100%: exit status")
    check(at_device == b"\x7e" * (len(frames) + 1), "loss 100%%: the device got %r" % at_device[:40])
    other_way_untouched("loss 100%", plain, at_app)
    check(counted(tap.listing(), ">").get("lost") == len(frames), "loss 100%: summary")

    tap = Tap(tmp, "--to-app", "corrupt 100%", name="corrupt100")
    at_device, at_app, _ = tap.exchange(plain, stream)
    check(tap.stop() == 0, "corrupt 100%: exit status")
    other_way_untouched("corrupt 100%", plain, at_device)
    check(len(at_app) == len(stream) and bits(stream, at_app) == len(frames),
          "corrupt 100%: not one bit in each frame")
    check(counted(tap.listing(), "<").get("corrupted") == len(frames), "corrupt 100%: summary")


def determinism_checks(tmp):
    """The same seed and the same frames, written in different chunk sizes:
    the same impairments, the same bytes out, the same listing notes."""
    _, stream = traffic(5, 300)
    impairments = "loss 10% duplicate 10% corrupt 10% truncate 10% ber 1e-4"
    seen = []
    for chunk in (7, 1000, 65536):
        tap = Tap(tmp, "--to-device", impairments, "--to-app", impairments, "--seed", "1234",
                  name="chunk%d" % chunk)
        at_device, at_app, _ = tap.exchange(stream, stream, chunk)
        check(tap.stop() == 0, "chunks of %d: exit status" % chunk)
        listing = tap.listing()
        seen.append((at_device, at_app, rows(listing, ">"), rows(listing, "<"),
                     counted(listing, ">"), counted(listing, "<")))
    check(seen[0] == seen[1] == seen[2], "the same seed in other chunks: other impairments")
    check(seen[0][0] != seen[0][1], "both directions made the same choices")
    check(seen[0][0] != stream, "nothing was impaired")


def ber_checks(tmp):
    """Bit errors against the expected count: binomial without a burst; with
    one, errors come N bits at a time and the spread grows with N."""
    rng = random.Random(6)
    stream = bytes(rng.randrange(256) for _ in range(256 * 1024))
    n = 8 * len(stream)
    for impairments, ber, burst in (("ber 1e-3", 1e-3, 1), ("ber 1e-3 burst 16", 1e-3, 16)):
        tap = Tap(tmp, "--to-device", impairments, name="ber%d" % burst)
        at_device, at_app, _ = tap.exchange(stream, b"", expect=(len(stream), 0))
        check(tap.stop() == 0, impairments + ": exit status")
        if not check(len(at_device) == len(stream), "%s: %d bytes, not %d"
                     % (impairments, len(at_device), len(stream))):
            continue
        flipped = bits(stream, at_device)
        listing = tap.listing()
        listed = sum(int(x) for x in re.findall(r"bit errors (\d+)", "\n".join(
            n for _, _, n in rows(listing, ">"))))
        check(flipped == counted(listing, ">").get("bit errors") == listed,
              "%s: %d bits differ, listed %d, summary %s" % (impairments, flipped, listed,
                                                             counted(listing, ">")))
        sigma = math.sqrt(n * ber * burst)
        check(abs(flipped - n * ber) < 5 * sigma, "%s: %d bit errors in %d bits" % (impairments, flipped, n))


def delay_checks(tmp):
    """delay 20ms 5ms: each frame at least 15 ms late (at most 25 ms in the
    listing), in order; frames 50 ms apart so that none waits for another."""
    frames, _ = traffic(7, 25)
    tap = Tap(tmp, "--to-device", "delay 20ms 5ms", name="delay")
    late = []
    got = b""
    for f in frames:
        data = b"\x7e" + f + b"\x7e"
        at_device, _, arrivals = tap.exchange(data, b"", expect=(len(data), 0))
        got += at_device
        late.append(arrivals[-1][0] if arrivals else WAIT)
        time.sleep(0.05)
    check(tap.stop() == 0, "delay: exit status")
    check(split(got) == frames, "delay: frames changed or reordered")
    check(min(late) >= 0.015, "delay: a frame only %.1f ms late" % (min(late) * 1000))
    check(max(late) < 0.025 + 2.0, "delay: a frame %.1f ms late" % (max(late) * 1000))
    held = [float(x) for x in re.findall(r"delayed ([\d.]+) ms", tap.listing())]
    check(len(held) == len(frames) and all(15.0 <= h <= 25.0 for h in held),
          "delay: listed %s" % held)
    check(counted(tap.listing(), ">").get("delayed") == len(frames), "delay: summary")


def rate_checks(tmp):
    """rate 115200: 16 KiB take at least their line time, 10 bits a byte at
    8N1, and arrive whole; the application's other way is not paced."""
    _, stream = traffic(8, 300)
    stream = stream[:16384]
    tap = Tap(tmp, "--to-device", "rate 115200", name="rate")
    start = time.monotonic()
    at_device, at_app, arrivals = tap.exchange(stream, stream, expect=(len(stream), len(stream)))
    check(tap.stop() == 0, "rate: exit status")
    took = arrivals[-1][0] if arrivals else 0
    line = len(stream) * 10 / 115200
    check(at_device == stream and at_app == stream, "rate: bytes changed")
    check(line * 0.999 <= took < line * 3 + 2, "rate: %.3f s for a line time of %.3f s"
          % (took, line))
    check(time.monotonic() - start < WAIT, "rate: stalled")


def bad_spec_checks(tmp):
    """Refused with status 2 before anything is opened (the device does not
    exist), naming the word and its form."""
    cases = [("loss 5", "loss '5'", "loss P%"), ("corrupt 101%", "corrupt '101%'", "0% to 100%"),
             ("delay 20", "delay '20'", "delay T [J]"), ("delay 20ms 5", "jitter '5'", "unit"),
             ("delay 5ms 10ms", "jitter '10ms'", "no more than"), ("ber 2", "ber '2'", "ber X"),
             ("ber 1e-3 burst 0", "burst '0'", "burst N"), ("burst 4", "burst", "ber X burst N"),
             ("rate fast", "rate 'fast'", "rate BPS"), ("noise 1%", "'noise'", "the words are"),
             ("loss 1% loss 2%", "loss given twice", ""), ("", "needs impairments", ""),
             ("truncate", "truncate needs a value", "truncate P%")]
    missing = os.path.join(tmp, "no-such-device")
    for option in ("--to-device", "--to-app"):
        for impairments, word, form in cases:
            r = subprocess.run(EMULATOR + [VEMLINK, "tap", missing, option, impairments],
                               capture_output=True, text=True, timeout=WAIT)
            check(r.returncode == 2 and word in r.stderr and form in r.stderr and
                  option in r.stderr and "cannot" not in r.stderr,
                  "%s %r: status %d, %r" % (option, impairments, r.returncode, r.stderr))
    r = subprocess.run(EMULATOR + [VEMLINK, "tap", missing, "--seed", "-1"], capture_output=True,
                       text=True, timeout=WAIT)
    check(r.returncode == 2 and "--seed '-1'" in r.stderr, "--seed -1: " + r.stderr)


def seed_checks(tmp):
    """Without --seed the first line on standard error gives one, and that
    seed makes the same choices again."""
    _, stream = traffic(9, 100)
    impairments = "loss 20% corrupt 20%"
    runs = []
    for args in ([], None):
        if args is None:
            said = re.search(r"--seed (\d+)", runs[0][1].splitlines()[0] if runs[0][1] else "")
            if not check(said is not None, "no seed on the first line: %r" % runs[0][1]):
                return
            args = ["--seed", said.group(1)]
        tap = Tap(tmp, "--to-app", impairments, *args, name="seed%d" % len(runs))
        _, at_app, _ = tap.exchange(b"", stream)
        check(tap.stop() == 0, "seed: exit status")
        runs.append((at_app, tap.stderr(), rows(tap.listing(), "<")))
    check(runs[0][0] == runs[1][0] and runs[0][2] == runs[1][2], "the said seed: other choices")
    check("impairing with seed" not in runs[1][1], "a given seed is said again")


def pcapng_checks(tmp):
    """The capture holds each impairment in its record's comment, lost frames
    as read; tshark shows it as vemlink.impairment."""
    _, stream = traffic(10, 200)
    pcap = os.path.join(tmp, "impaired.pcapng")
    impairments = "loss 15% corrupt 15% duplicate 10% truncate 10% ber 1e-4"
    tap = Tap(tmp, "--to-device", impairments, "--seed", "99", "--pcap", pcap, name="pcap")
    tap.exchange(stream, stream)
    check(tap.stop() == 0, "pcap: exit status")
    listing = tap.listing()
    lua = ["-X", "lua_script:" + DISSECTOR]
    fields = ["vemlink.direction", "vemlink.status", "vemlink.impairment", "frame.comment"]
    r = subprocess.run(["tshark", "-n", "-r", pcap, "-T", "fields"] + lua +
                       [w for f in fields for w in ("-e", f)], capture_output=True, text=True,
                       timeout=120)
    check(r.returncode == 0, "tshark: " + r.stderr)
    records = [line.split("\t") for line in r.stdout.splitlines()]
    for mark in "><":
        want = [(s, n) for _, s, n in rows(listing, mark)]
        got = [(s, n) for d, s, n, c in records if d == mark]
        check(got == want, "pcapng %s: %s\n listed %s" % (mark, got[:8], want[:8]))
    check(all(n == c for _, _, n, c in records), "vemlink.impairment is not the comment")
    impaired = subprocess.run(["tshark", "-n", "-r", pcap, "-Y", "vemlink.impairment"] + lua,
                              capture_output=True, text=True, timeout=120).stdout
    check(len(impaired.splitlines()) == sum(1 for _, _, n in rows(listing, ">") if n) > 0,
          "the filter vemlink.impairment")
    check("lost" in impaired, "no lost frame in tshark's view")


def extcap_checks(tmp):
    """The extcap entry offers the options and impairs a tap it runs; the
    capture file's comment gives the seed it picked."""
    config = subprocess.run(EMULATOR + [VEMLINK, "extcap", "--extcap-config"],
                            capture_output=True, text=True, timeout=WAIT).stdout
    for call in ("--to-device", "--to-app", "--seed"):
        check("{call=%s}" % call in config, "--extcap-config lacks " + call)
    frames, stream = traffic(11, 20)
    fifo, saved, link = (os.path.join(tmp, n) for n in ("extcap.fifo", "extcap.pcapng", "ttyAPP"))
    os.mkfifo(fifo)
    master, slave = os.openpty()
    tty.setraw(slave)
    os.set_blocking(master, False)
    proc = subprocess.Popen(EMULATOR + [VEMLINK, "extcap", "--capture", "--fifo", fifo,
                                        "--device", os.ttyname(slave), "--link", link,
                                        "--to-device", "loss 100%"], stderr=subprocess.PIPE)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    with open(saved, "wb") as out:
        deadline = time.time() + WAIT
        while not os.path.exists(link) and time.time() < deadline:
            time.sleep(0.02)
        app = os.open(link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(app)
        os.write(app, stream)
        got = b""
        while got.count(b"\x7e") < len(frames) + 1 and time.time() < deadline:
            select.select([master], [], [], 0.1)
            try:
                got += os.read(master, 4096)
            except BlockingIOError:
                pass
        proc.send_signal(signal.SIGTERM)
        while time.time() < deadline:
            select.select([reader], [], [], 0.1)
            try:
                chunk = os.read(reader, 65536)
            except BlockingIOError:
                continue
            out.write(chunk)
            if not chunk and proc.poll() is not None:
                break
        proc.wait(WAIT)
        os.close(app)
    os.close(reader)
    os.close(master)
    os.close(slave)
    check(got == b"\x7e" * (len(frames) + 1), "extcap loss 100%%: the device got %r" % got[:30])
    r = subprocess.run(["tshark", "-n", "-r", saved, "-X", "lua_script:" + DISSECTOR, "-T",
                        "fields", "-e", "vemlink.impairment"], capture_output=True, text=True,
                       timeout=120)
    check(r.stdout.split() == ["lost"] * len(frames), "extcap: records %r" % r.stdout[:80])
    info = subprocess.run(["capinfos", saved], capture_output=True, text=True, timeout=WAIT)
    check(re.search(r"seed \d+ \(--seed \d+", info.stdout) is not None,
          "extcap: no seed in the capture's comment: " + info.stdout[-300:])


def main():
    if shutil.which("tshark") is None:
        if EMULATOR:
            print("tshark missing: skipped", file=sys.stderr)
            return 77
    with tempfile.TemporaryDirectory() as tmp:
        bad_spec_checks(tmp)
        word_checks(tmp)
        all_or_nothing_checks(tmp)
        determinism_checks(tmp)
        seed_checks(tmp)
        ber_checks(tmp)
        delay_checks(tmp)
        rate_checks(tmp)
        pcapng_checks(tmp)
        extcap_checks(tmp)
    return verdict("vemlink tap impairments")


if __name__ == "__main__":
    sys.exit(main())
