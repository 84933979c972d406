#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""vemlink's captures read by the real tshark through the shipped dissector.

    wireshark_test.py VEMLINK DISSECTOR [EMULATOR...]

Pseudo-terminal pairs stand in for the serial devices: this program plays
the microcontroller on their master side and the application on the end a
tap makes. Frames are built with an FCS-16 and stuffing of the tests' own
(linkframes.py), not vemlink's. Checks --pcap of tap (written through, read while the tap
runs; into a pipe whose reader stops, keeps reading or goes away), decode
and monitor, a user's payload dissector, and a live capture by 'tshark -i
vemlink' through a temporary entry in Wireshark's global extcap folder. Exit status 77 (skipped) when tshark is missing from a cross build.
"""

import os
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import tty

from linkframes import check, verdict, fcs16, frame

VEMLINK = sys.argv[1]
DISSECTOR = os.path.abspath(sys.argv[2])
EMULATOR = sys.argv[3:]
# Generous: the machine is loaded, and a cross build runs under qemu.
WAIT = 30.0

CORRUPT = bytearray(frame(b"abc"))
CORRUPT[3] = ord("d")  # 'c' becomes 'd': the FCS no longer checks
CORRUPT = bytes(CORRUPT)
OVERLONG = b"\x7e" + b"U" * 1024 + b"\x7e"  # one byte over what a receiver keeps
DENSE = bytes([0x7E, 0x7D, 0x7E, 0x7D, 0x7D, 0x7E, 0x20])

# What one direction sends, and what tshark must show for it: status and
# payload (hex; for frames that are not ok, the unstuffed bytes between the
# flags less an FCS where there was a closing flag and an FCS's room).
TX = [(frame(b"get status"), "ok", b"get status"),
      (CORRUPT, "crc-error", b"abd"),
      (OVERLONG, "dropped", b"U" * 1024),
      (frame(DENSE), "ok", DENSE),
      (b"B", "partial", b"B")]
RX = [(frame(DENSE), "ok", DENSE),
      (OVERLONG, "dropped", b"U" * 1024),
      (frame(b"status ok"), "ok", b"status ok"),
      (CORRUPT, "crc-error", b"abd")]
OUTBOUND, INBOUND = "0x00000002", "0x00000001"

MYPROTO = """
local myproto = Proto("myproto", "A user's device protocol")
local command = ProtoField.string("myproto.command", "Command")
myproto.fields = { command }
function myproto.dissector(tvb, pinfo, tree)
    local word = tvb():string():match("^%S*")
    tree:add(myproto, tvb()):add(command, tvb(0, #word), word)
end
"""


class Pty:
    """A pty pair: the master is the microcontroller's end, the slave the
    device vemlink opens; the slave stays open here, set raw."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def send(fd, data):
    view = memoryview(data)
    deadline = time.time() + WAIT
    while view and time.time() < deadline:
        select.select([], [fd], [], 0.1)
        try:
            view = view[os.write(fd, view):]
        except BlockingIOError:
            pass
    check(not view, "writing %d bytes stalled" % len(data))


def receive(fd, n):
    got = bytearray()
    deadline = time.time() + WAIT
    while len(got) < n and time.time() < deadline:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                got += os.read(fd, n - len(got))
            except (BlockingIOError, OSError):
                pass
    return bytes(got)


class Vemlink:
    """vemlink running: standard output into a file, standard error kept
    (in a pipe, or in the file err)."""

    def __init__(self, args, out, err=None):
        self.out = out
        self.errpath = err
        # out: a file's path, or a descriptor (a pipe's end) to inherit.
        stdout = out if isinstance(out, int) else open(out, "wb")
        stderr = open(err, "wb") if err else subprocess.PIPE
        self.proc = subprocess.Popen(EMULATOR + [VEMLINK] + args, stdout=stdout,
                                     stderr=stderr, stdin=subprocess.DEVNULL)
        if not err:
            os.set_blocking(self.proc.stderr.fileno(), False)
        self.err = b""

    def drain(self):
        if self.errpath:
            with open(self.errpath, "rb") as f:
                self.err = f.read()
            return self.err.decode(errors="replace")
        try:
            while True:
                chunk = self.proc.stderr.read()
                if not chunk:
                    break
                self.err += chunk
        except (BlockingIOError, ValueError):
            pass
        return self.err.decode(errors="replace")

    def app_end(self):
        said = "application's end is "
        deadline = time.time() + WAIT
        while time.time() < deadline and self.proc.poll() is None:
            select.select([self.proc.stderr] if self.proc.stderr else [], [], [], 0.1)
            text = self.drain()
            at = text.find(said)
            if at >= 0 and "\n" in text[at:]:
                return text[at + len(said):].split("\n")[0].split(",")[0]
        check(False, "no application's end announced: " + self.drain())
        return None

    def stop(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)
        try:
            status = self.proc.wait(WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = None
        self.drain()
        return status

    def listing(self):
        with open(self.out, errors="replace") as f:
            return f.read()


def tshark(args, extra_lua=None):
    lua = ["-X", "lua_script:" + DISSECTOR]
    if extra_lua:
        lua += ["-X", "lua_script:" + extra_lua]
    r = subprocess.run(["tshark", "-n"] + lua + args, capture_output=True, text=True, timeout=120)
    check(r.returncode == 0, "tshark %s: %s" % (" ".join(args), r.stderr))
    return r.stdout


FIELDS = ["frame.packet_flags_direction", "vemlink.status", "vemlink.payload",
          "frame.time_epoch"]


def records(path, fields=FIELDS, extra=(), extra_lua=None):
    """One tuple per packet: direction, status, payload bytes, time."""
    args = ["-r", path, "-T", "fields"] + [w for f in fields for w in ("-e", f)] + list(extra)
    rows = []
    for line in tshark(args, extra_lua).splitlines():
        cols = line.split("\t")
        cols[2] = bytes.fromhex(cols[2])
        cols[3] = float(cols[3])
        rows.append(tuple(cols))
    return rows


def expect(rows, sent, direction, what):
    """The rows of one direction against what was sent that way."""
    got = [(r[1], r[2]) for r in rows if r[0] == direction]
    want = [(status, payload) for _, status, payload in sent]
    check(got == want, "%s, direction %s:\n got  %s\n want %s" % (what, direction, got, want))


def tap_capture(tmp):
    """Good, corrupted, overlong and partial frames both ways through a tap
    with --pcap: what tshark reads while the tap runs and after it ended."""
    dev = Pty()
    pcap = os.path.join(tmp, "tap.pcapng")
    tap = Vemlink(["tap", dev.path, "--pcap", pcap, "--save", os.path.join(tmp, "tap")],
                  os.path.join(tmp, "tap.out"))
    app_path = tap.app_end()
    if app_path is None:
        return None
    app = os.open(app_path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    # One frame at a time, alternating directions; each must be through
    # before the next goes, so each record's time lies within its window.
    windows = []
    events = []
    for i in range(max(len(TX), len(RX))):
        for sent, (src, dst), mark in ((TX, (app, dev.master), OUTBOUND),
                                       (RX, (dev.master, app), INBOUND)):
            if i < len(sent):
                events.append((sent[i][0], src, dst, mark, sent[i][1]))
    for data, src, dst, mark, status in events:
        before = time.time()
        send(src, data)
        check(receive(dst, len(data)) == data, "tap did not forward %r" % data[:20])
        windows.append((mark, status, before, time.time()))
        time.sleep(0.02)

    # Written through: everything with a closing flag is in the file now.
    live = records(pcap)
    check([(r[0], r[1]) for r in live] == [(m, s) for m, s, _, _ in windows if s != "partial"],
          "records read while the tap runs: %s" % [(r[0], r[1]) for r in live])
    term = time.time()
    check(tap.stop() == 0, "tap on SIGTERM: " + tap.drain())
    os.close(app)
    dev.close()

    rows = records(pcap)
    expect(rows, TX, OUTBOUND, "tap capture")
    expect(rows, RX, INBOUND, "tap capture")
    check(len(rows) == len(windows), "tap capture: %d records for %d frames" %
          (len(rows), len(windows)))
    for r, (mark, status, before, after) in zip(rows, windows):
        # The partial frame's record is written at the end, with the time of
        # the last read of its direction.
        late = after if status != "partial" else max(after, term)
        check(r[0] == mark and before - 0.001 <= r[3] <= late + 0.001,
              "record %s %s at %.6f, not within %.6f..%.6f" % (r[0], r[1], r[3], before, late))
    fcs = tshark(["-r", pcap, "-T", "fields", "-e", "vemlink.fcs.status", "-e", "vemlink.fcs",
                  "-e", "vemlink.length", "-e", "frame.packet_flags_crc_error"]).splitlines()
    # The FCS as received, and the check against this file's own FCS.
    check(fcs[0] == "1\t0x%04x\t10\t0" % fcs16(b"get status") and
          fcs[2] == "0\t0x%04x\t5\t1" % fcs16(b"abc"),
          "FCS check, length and CRC error flag: %s" % fcs[:3])
    return pcap


def tap_to_stdout(tmp):
    """tap --pcap -: the capture on standard output, the listing on
    standard error, as for 'vemlink tap ... --pcap - | wireshark -k -i -'."""
    dev = Pty()
    out = os.path.join(tmp, "stdout.pcapng")
    tap = Vemlink(["tap", dev.path, "--pcap", "-"], out)
    app_path = tap.app_end()
    if app_path is None:
        return
    app = os.open(app_path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    send(dev.master, frame(b"hello"))
    check(receive(app, 9) == frame(b"hello"), "tap --pcap -: not forwarded")
    check(tap.stop() == 0, "tap --pcap - on SIGTERM: " + tap.drain())
    os.close(app)
    dev.close()
    check([r[:3] for r in records(out)] == [(INBOUND, "ok", b"hello")],
          "tap --pcap -: standard output is not the capture")
    check("68 65 6C 6C 6F  |hello|" in tap.drain() and "summary <: frames 1" in tap.drain(),
          "tap --pcap -: the listing is not on standard error: " + tap.drain())


def numbered(mark, count):
    """count frames of 1000-byte payloads, each with its mark and number."""
    payloads = [b"%c%06d" % (mark, i) + b"x" * 993 for i in range(count)]
    return payloads, b"".join(frame(p) for p in payloads)


def pump(a, b, to_b, to_a):
    """Writes to_b into a and to_a into b at once, both non-blocking, and
    reads what comes out at the other ends: what b and a received."""
    out = {a: memoryview(to_b), b: memoryview(to_a)}
    got = {a: bytearray(), b: bytearray()}
    want = {a: len(to_a), b: len(to_b)}
    deadline = time.time() + WAIT * 4
    while any(len(got[fd]) < want[fd] for fd in got) and time.time() < deadline:
        writable = [fd for fd in out if out[fd]]
        r, w, _ = select.select([a, b], writable, [], 0.1)
        for fd in w:
            try:
                out[fd] = out[fd][os.write(fd, out[fd][:65536]):]
            except BlockingIOError:
                pass
        for fd in r:
            if fd in got:
                try:
                    got[fd] += os.read(fd, 65536)
                except (BlockingIOError, OSError):
                    pass
    return bytes(got[b]), bytes(got[a])


def notes(err):
    """What vemlink said on standard error besides the listing's frames."""
    return "\n".join(line for line in err.splitlines()
                     if line.startswith(("vemlink ", "summary")) or "not captured" in line)


def subsequence(part, whole):
    it = iter(whole)
    return all(x in it for x in part)


def tap_into_pipe(tmp):
    """tap --pcap - into a pipe: a reader that stops while over 1 MiB goes
    each way holds up nothing (records are dropped whole, the stream stays
    pcapng, the count is said); a reader that keeps reading gets every
    record; a reader that goes away stops the capture, not the link (said
    once, exit status 1)."""
    # (what, frames each way, the reader: stops, reads or closes)
    for what, count, reader_does in (("stalled reader", 1100, "stops"),
                                     ("reading reader", 300, "reads"),
                                     ("closed reader", 300, "closes")):
        reading = reader_does == "reads"
        dev = Pty()
        rd, wr = os.pipe()
        # Standard error into a file: the listing goes there with '-', and
        # a pipe that fills would lose vemlink's messages.
        tap = Vemlink(["tap", dev.path, "--pcap", "-"], wr, os.path.join(tmp, "pipe.err"))
        chunks = []
        reader = None

        def read_all():
            while True:
                chunk = os.read(rd, 65536)
                if not chunk:
                    break
                chunks.append(chunk)

        if reading:
            reader = threading.Thread(target=read_all)
            reader.start()
        app_path = tap.app_end()
        if app_path is None:
            os.close(rd)
            os.close(wr)
            dev.close()
            return
        app = os.open(app_path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        if reader_does == "closes":
            os.close(rd)
        tx, tx_bytes = numbered(ord(">"), count)
        rx, rx_bytes = numbered(ord("<"), count)
        at_dev, at_app = pump(app, dev.master, tx_bytes, rx_bytes)
        check(at_dev == tx_bytes, "%s: the tap altered or lost bytes to the device "
              "(%d of %d)" % (what, len(at_dev), len(tx_bytes)))
        check(at_app == rx_bytes, "%s: the tap altered or lost bytes to the application "
              "(%d of %d)" % (what, len(at_app), len(rx_bytes)))
        if reader_does == "stops":
            # The reader comes back: the queue goes out on the way to the end.
            reader = threading.Thread(target=read_all)
            reader.start()
        status = tap.stop()
        # The pipe's end is shared with this process: blocking again.
        check(os.get_blocking(wr), "%s: the capture's descriptor left non-blocking" % what)
        os.close(wr)
        os.close(app)
        dev.close()
        err = tap.drain()
        if reader_does == "closes":
            check(status == 1 and err.count("capture stopped") == 1 and
                  "vemlink tap: writing standard output: Broken pipe; capture stopped" in err,
                  "%s: tap on SIGTERM: %s %s" % (what, status, notes(err)))
            continue
        reader.join(WAIT)
        os.close(rd)
        check(status == 0, "%s: tap on SIGTERM: %s %s" % (what, status, notes(err)))
        pcap = os.path.join(tmp, "pipe.pcapng")
        with open(pcap, "wb") as f:
            f.write(b"".join(chunks))
        rows = records(pcap)  # tshark fails on a block cut short
        got = {d: [r[2] for r in rows if r[0] == d] for d in (OUTBOUND, INBOUND)}
        check(subsequence(got[OUTBOUND], tx) and subsequence(got[INBOUND], rx),
              "%s: records out of order or altered" % what)
        said = [line for line in err.splitlines() if "frames not captured" in line]
        if reading:
            check(len(rows) == 2 * count and not said,
                  "%s: %d records of %d: %s" % (what, len(rows), 2 * count, said))
        else:
            dropped = int(said[0].split()[0]) if said else 0
            check("the capture's reader fell behind; dropping frames" in err and
                  said == ["%d frames not captured: the capture's reader fell behind" % dropped]
                  and dropped > 0 and len(rows) + dropped == 2 * count,
                  "%s: %d records, dropped said %s:\n%s" % (what, len(rows), said, notes(err)))


def decode_capture(tmp):
    """decode --pcap of the bytes a tap saved, to a file and to standard
    output; a file that exists is never overwritten."""
    out = os.path.join(tmp, "decoded.pcapng")
    run = Vemlink(["decode", os.path.join(tmp, "tap.tx"), "--outbound", "--pcap", out],
                  os.path.join(tmp, "decode.out"))
    check(run.proc.wait(WAIT) == 0, "decode --pcap: " + run.drain())
    rows = records(out)
    expect(rows, TX, OUTBOUND, "decode --pcap --outbound")

    r = subprocess.run(EMULATOR + [VEMLINK, "decode", os.path.join(tmp, "tap.rx"), "--pcap", "-"],
                       capture_output=True, timeout=WAIT)
    check(r.returncode == 0 and b"summary: frames 4" in r.stderr,
          "decode --pcap -: the listing is not on standard error")
    piped = os.path.join(tmp, "piped.pcapng")
    with open(piped, "wb") as f:
        f.write(r.stdout)
    expect(records(piped), RX, INBOUND, "decode --pcap -")

    r = subprocess.run(EMULATOR + [VEMLINK, "decode", os.path.join(tmp, "tap.rx"), "--pcap", out],
                       capture_output=True, timeout=WAIT)
    check(r.returncode == 1 and b"File exists" in r.stderr and records(out) == rows,
          "decode --pcap over an existing file: %r" % r.stderr)
    check(stat.S_IMODE(os.stat(out).st_mode) == 0o600, "the capture is not owner-only")


def monitor_capture(tmp):
    """Two receive-only adapters: A's frames are >, B's <, one listing and
    one capture in the order the frames came."""
    a, b = Pty(), Pty()
    pcap = os.path.join(tmp, "monitor.pcapng")
    mon = Vemlink(["monitor", a.path, b.path, "--baud", "9600", "--pcap", pcap],
                  os.path.join(tmp, "monitor.out"))
    deadline = time.time() + WAIT
    while b"vemlink monitor:" not in mon.err and time.time() < deadline:
        time.sleep(0.05)
        mon.drain()
    time.sleep(0.3)  # the adapters set up before the bytes come
    order = []
    for i, (side, payload) in enumerate([(a, b"read 1"), (b, b"value 1"), (b, b"value 2"),
                                         (a, b"write 2,3"), (b, b"done")]):
        send(side.master, frame(payload))
        order.append((OUTBOUND if side is a else INBOUND, payload))
        # Each must be listed before the next goes, so the order is known.
        while len(open(mon.out).read().splitlines()) < 2 + i and time.time() < deadline:
            time.sleep(0.02)
    send(b.master, CORRUPT)
    order.append((INBOUND, b"abd"))
    time.sleep(0.5)
    check(mon.stop(signal.SIGINT) == 0, "monitor on SIGINT: " + mon.drain())
    a.close()
    b.close()
    rows = records(pcap)
    check([(r[0], r[2]) for r in rows] == order, "monitor capture order: %s" % rows)
    check(all(x[3] <= y[3] for x, y in zip(rows, rows[1:])), "monitor times go back")
    listing = mon.listing()
    marks = [line[11] for line in listing.splitlines()[1:] if not line.startswith("summary")]
    check(marks == [">", "<", "<", ">", "<", "<"], "monitor listing:\n" + listing)
    check("summary >: frames 2 (ok 2, crc-error 0" in listing and
          "summary <: frames 4 (ok 3, crc-error 1" in listing, "monitor summary:\n" + listing)


def user_dissector(tmp, pcap):
    """The preference hands good frames' payloads to a dissector by name."""
    lua = os.path.join(tmp, "myproto.lua")
    with open(lua, "w") as f:
        f.write(MYPROTO)
    fields = ["-T", "fields", "-e", "vemlink.status", "-e", "myproto.command"]
    rows = tshark(["-r", pcap, "-o", "vemlink.payload_dissector:myproto"] + fields,
                  lua).splitlines()
    # The good frames in the order of the capture (see tap_capture): its
    # first word, or up to the space in DENSE.
    commands = [r.split("\t")[1] for r in rows if r.split("\t")[1]]
    check(commands == ["get", "~}~}}~", "status", "~}~}}~"],
          "payload dissector by preference: %s" % rows)
    plain = tshark(["-r", pcap] + fields, lua).splitlines()
    check(all(r.endswith("\t") for r in plain), "payload dissector without the preference")


def extcap_folder():
    out = subprocess.run(["tshark", "-G", "folders"], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("Extcap path:"):
            return line.split(":", 1)[1].strip()
    return None


def live_capture(tmp):
    """tshark -i vemlink through an extcap entry in the global folder, tap
    mode: the tap forwards both ways meanwhile, and SIGTERM ends it."""
    folder = extcap_folder()
    entry = os.path.join(folder or "", "vemlink")
    if os.path.islink(entry) and not os.path.exists(entry):
        os.unlink(entry)  # left by a run that was killed
    if folder is None or os.path.lexists(entry):
        print("SKIP: live capture: %s exists already (an installed vemlink?)" % entry)
        return
    if not os.access(folder, os.W_OK):
        print("SKIP: live capture: cannot add an entry to %s" % folder)
        return
    wrapper = os.path.join(tmp, "extcap-vemlink")
    with open(wrapper, "w") as f:
        words = " ".join("'%s'" % w for w in EMULATOR + [os.path.abspath(VEMLINK)])
        f.write('#!/bin/sh\nexec %s extcap "$@"\n' % words)
    os.chmod(wrapper, 0o755)
    os.symlink(wrapper, entry)
    try:
        r = subprocess.run(["tshark", "-D"], capture_output=True, text=True, timeout=60)
        check("vemlink (vemlink: frames of an HDLC-like serial link)" in r.stdout,
              "tshark -D does not list vemlink:\n" + r.stdout)
        dev = Pty()
        link = os.path.join(tmp, "ttyAPP")
        out = os.path.join(tmp, "live.pcapng")
        shark = subprocess.Popen(
            ["tshark", "-i", "vemlink", "-o", "extcap.vemlink.device:" + dev.path,
             "-o", "extcap.vemlink.mode:tap", "-o", "extcap.vemlink.link:" + link,
             "-o", "extcap.vemlink.baud:57600", "-w", out],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + WAIT
        while not os.path.exists(link) and time.time() < deadline:
            time.sleep(0.05)
        if check(os.path.exists(link), "live: the tap made no link"):
            app = os.open(link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            for data, src, dst in ((frame(b"get status"), app, dev.master),
                                   (frame(b"status ok"), dev.master, app),
                                   (CORRUPT, app, dev.master)):
                send(src, data)
                check(receive(dst, len(data)) == data, "live: tap did not forward %r" % data)
            os.close(app)
            time.sleep(1.0)  # tshark takes the records from the FIFO
        shark.send_signal(signal.SIGINT)
        try:
            _, err = shark.communicate(timeout=WAIT)
        except subprocess.TimeoutExpired:
            shark.kill()
            _, err = shark.communicate()
        check(shark.returncode == 0, "tshark -i vemlink: %d %s" % (shark.returncode, err))
        rows = records(out)
        check([(r[0], r[1], r[2]) for r in rows] ==
              [(OUTBOUND, "ok", b"get status"), (INBOUND, "ok", b"status ok"),
               (OUTBOUND, "crc-error", b"abd")], "live capture: %s" % rows)
        # The tap ended at SIGTERM as it does: its link is gone.
        deadline = time.time() + WAIT
        while os.path.lexists(link) and time.time() < deadline:
            time.sleep(0.05)
        check(not os.path.lexists(link), "live: the tap left its link behind")
        dev.close()
    finally:
        os.unlink(entry)


def control_channel(tmp):
    """The extcap capture reports the application's end through the control
    channel (a status bar message and the value of the toolbar's field, in
    the 'T', length, control, command framing), and nothing on standard
    error, which Wireshark shows as errors."""
    dev = Pty()
    fifo, cin, cout = (os.path.join(tmp, n) for n in ("fifo", "control-in", "control-out"))
    for p in (fifo, cin, cout):
        os.mkfifo(p)
    run = Vemlink(["extcap", "--capture", "--extcap-interface", "vemlink", "--fifo", fifo,
                   "--device", dev.path, "--extcap-control-in", cin,
                   "--extcap-control-out", cout], os.path.join(tmp, "extcap.out"))
    capture = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    writer = os.open(cin, os.O_RDWR)  # Wireshark's end of control-in
    control = os.open(cout, os.O_RDONLY | os.O_NONBLOCK)
    messages = []
    data = b""
    deadline = time.time() + WAIT
    while len(messages) < 2 and time.time() < deadline:
        if select.select([control], [], [], 0.1)[0]:
            try:
                data += os.read(control, 4096)
            except BlockingIOError:
                pass
        while len(data) >= 4 and len(data) >= 4 + int.from_bytes(data[1:4], "big"):
            n = int.from_bytes(data[1:4], "big")
            messages.append((data[0:1], data[4], data[5], data[6:4 + n].decode()))
            data = data[4 + n:]
    # The toolbar's field names the application's end; the status bar says
    # the same. (Standard error carries errors only: see extcap_quiet.)
    app_path = messages[1][3] if len(messages) == 2 else None
    check(app_path is not None and app_path.startswith("/dev/pts/") and
          messages == [(b"T", 0, 6, "vemlink: the application's end is " + str(app_path)),
                       (b"T", 0, 1, str(app_path))],
          "control channel messages: %s" % messages)
    status = run.stop()
    check(status == 0, "extcap capture on SIGTERM: status %s: %s" % (status, run.drain()))
    check(run.drain() == "", "extcap: standard error is not for information: %r" % run.drain())
    head = os.read(capture, 4)
    check(head == b"\x0a\x0d\x0d\x0a", "extcap: no pcapng section in the FIFO: %r" % head)
    for fd in (capture, writer, control):
        os.close(fd)
    dev.close()


def extcap_modes(tmp):
    """--mode listen is decode --device, --mode monitor takes --device2;
    both stream into the FIFO until SIGTERM."""
    for mode in ("listen", "monitor"):
        a, b = Pty(), Pty()
        fifo = os.path.join(tmp, mode + ".fifo")
        os.mkfifo(fifo)
        args = ["extcap", "--capture", "--extcap-interface", "vemlink", "--fifo", fifo,
                "--device", a.path, "--mode", mode, "--baud", "19200"]
        if mode == "monitor":
            args += ["--device2", b.path]
        run = Vemlink(args, os.path.join(tmp, mode + ".out"))
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        got = bytearray()

        def take(seconds):
            deadline = time.time() + seconds
            while time.time() < deadline:
                if select.select([reader], [], [], 0.05)[0]:
                    chunk = os.read(reader, 65536)
                    got.extend(chunk)
                    if not chunk and run.proc.poll() is not None:
                        return

        take(1.0)  # the devices set up
        send(a.master, frame(b"from a"))
        if mode == "monitor":
            take(0.3)
            send(b.master, frame(b"from b"))
        take(1.0)
        run.proc.send_signal(signal.SIGTERM)
        take(WAIT)
        check(run.proc.wait(WAIT) == 0, "extcap --mode %s on SIGTERM: %s" % (mode, run.drain()))
        os.close(reader)
        path = os.path.join(tmp, mode + ".pcapng")
        with open(path, "wb") as f:
            f.write(got)
        want = [(INBOUND, "ok", b"from a")] if mode == "listen" else \
            [(OUTBOUND, "ok", b"from a"), (INBOUND, "ok", b"from b")]
        rows = records(path)
        check([r[:3] for r in rows] == want, "extcap --mode %s: %s" % (mode, rows))
        a.close()
        b.close()


def lone_escape(tmp):
    """A lone 7D between flags is listed dropped and is not too long: its
    record carries no "too long" flag."""
    raw = os.path.join(tmp, "escape.bin")
    with open(raw, "wb") as f:
        f.write(b"\x7e\x7d\x7e")
    out = os.path.join(tmp, "escape.pcapng")
    run = Vemlink(["decode", raw, "--pcap", out], os.path.join(tmp, "escape.out"))
    check(run.proc.wait(WAIT) == 0, "decode of a lone 7D: " + run.drain())
    rows = records(out, ["frame.packet_flags_direction", "vemlink.status", "vemlink.payload",
                         "frame.time_epoch", "frame.packet_flags_packet_too_error"])
    check(len(rows) == 1 and rows[0][1] == "dropped", "a lone 7D: %s" % rows)
    check(rows and rows[0][4] not in ("1", "True"),
          "a lone 7D carries the too-long flag: %s" % rows)


def extcap_start(tmp, name, mode, a, b):
    """An extcap capture in MODE on the ptys a (and b), its standard error in
    a file, and the FIFO's reader."""
    fifo = os.path.join(tmp, name + ".fifo")
    os.mkfifo(fifo)
    args = ["extcap", "--capture", "--extcap-interface", "vemlink", "--fifo", fifo,
            "--device", a.path, "--mode", mode]
    if mode == "monitor":
        args += ["--device2", b.path]
    if mode == "tap":
        args += ["--link", os.path.join(tmp, name + ".app")]
    run = Vemlink(args, os.path.join(tmp, name + ".out"), os.path.join(tmp, name + ".err"))
    return run, os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)


def extcap_quiet(tmp):
    """Wireshark shows what an extcap capture writes on standard error as
    an error: a capture that goes well writes nothing there."""
    for mode in ("tap", "listen", "monitor"):
        a, b = Pty(), Pty()
        run, reader = extcap_start(tmp, "quiet-" + mode, mode, a, b)
        time.sleep(1.0)  # the devices set up
        send(a.master, frame(b"quiet"))
        time.sleep(0.5)
        check(run.stop() == 0, "extcap --mode %s on SIGTERM" % mode)
        os.close(reader)
        check(run.drain() == "", "extcap --mode %s, standard error: %r" % (mode, run.drain()))
        a.close()
        b.close()


def extcap_reader_gone(tmp):
    """When Wireshark stops reading (the FIFO's reader goes away), the
    capture ends by itself."""
    for mode in ("listen", "monitor"):
        a, b = Pty(), Pty()
        run, reader = extcap_start(tmp, "gone-" + mode, mode, a, b)
        time.sleep(1.0)  # the devices set up
        send(a.master, frame(b"seen"))
        time.sleep(0.3)
        os.close(reader)
        send(a.master, frame(b"nobody reads"))
        try:
            run.proc.wait(2.0 if not EMULATOR else 20.0)
        except subprocess.TimeoutExpired:
            pass
        check(run.proc.poll() is not None,
              "extcap --mode %s still runs 2 s after the FIFO's reader went" % mode)
        if run.proc.poll() is None:
            run.stop(signal.SIGKILL)
        a.close()
        b.close()


def main():
    if shutil.which("tshark") is None:
        if EMULATOR:
            print("SKIP: tshark is not installed (cross build)")
            return 77
        print("FAIL: tshark is not installed; scripts/deps installs it", file=sys.stderr)
        return 1
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)
    tmp = tempfile.mkdtemp()
    try:
        pcap = tap_capture(tmp)
        if pcap:
            decode_capture(tmp)
            tap_to_stdout(tmp)
            tap_into_pipe(tmp)
            user_dissector(tmp, pcap)
        monitor_capture(tmp)
        control_channel(tmp)
        extcap_modes(tmp)
        lone_escape(tmp)
        extcap_quiet(tmp)
        extcap_reader_gone(tmp)
        live_capture(tmp)
    finally:
        shutil.rmtree(tmp)
    return verdict("wireshark")


if __name__ == "__main__":
    sys.exit(main())
