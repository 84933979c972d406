# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""Link over a real pseudo-terminal, the test playing the device."""

import os
import select
import termios
import threading
import time
import tty

import pytest
import serial

import vemutils
from fake_device import FakeDevice

# The machine may be loaded and the suite may run under emulation.
TIMEOUT = 10.0
FRAMER = vemutils.Framer()


def wait_in_port(link, count):
    """Waits until count bytes are waiting in the link's port."""
    deadline = time.monotonic() + TIMEOUT
    while link.serial.in_waiting < count:
        assert time.monotonic() < deadline, "the bytes never reached the port"
        time.sleep(0.01)


def test_request_and_reply(device):
    with vemutils.Link(device.path) as link:
        for payload in [b"ping", b"", b"\x7e\x7d" * 10, bytes(range(256)) * 3 + bytes(253)]:
            assert link.request(payload, timeout=TIMEOUT) == payload
    assert device.received[-1] == bytes(range(256)) * 3 + bytes(253)
    assert not link.serial.is_open


def test_receive_times_out_and_request_raises():
    with FakeDevice(answer=lambda payload: None) as silent:
        with vemutils.Link(silent.path, baudrate=9600) as link:
            start = time.monotonic()
            assert link.receive(timeout=0.2) is None
            assert time.monotonic() - start >= 0.2
            with pytest.raises(TimeoutError):
                link.request(b"anyone?", timeout=0.2)
        deadline = time.monotonic() + TIMEOUT
        while not silent.received and time.monotonic() < deadline:
            time.sleep(0.01)
        assert silent.received == [b"anyone?"]


def test_frames_cut_anywhere_and_queued(device):
    framer = vemutils.Framer()
    wire = b"noise" + framer.frame(b"one") + framer.frame(b"two")[:-1] + framer.frame(b"three")
    with vemutils.Link(device.path) as link:
        for i in range(len(wire)):
            device.write(wire[i:i + 1])
        assert link.receive(timeout=TIMEOUT) == b"one"
        assert link.receive(timeout=TIMEOUT) == b"two"
        assert link.receive(timeout=TIMEOUT) == b"three"
        assert link.receive(timeout=0.1) is None
        assert link.framer.crc_errors == 1    # the noise before the first flag


def test_open_serial_and_url():
    with FakeDevice() as device:
        port = serial.Serial(device.path, 115200, timeout=0)
        with vemutils.Link(port) as link:
            assert link.request(b"x", timeout=TIMEOUT) == b"x"
        assert port.is_open                   # not ours to close
        port.close()
    with vemutils.Link("loop://") as link:
        link.send(b"looped")
        assert link.receive(timeout=TIMEOUT) == b"looped"


def test_receive_without_waiting(device):
    """timeout=0 takes in what is already in the port and waits for nothing."""
    frame = FRAMER.frame(b"ready")
    with vemutils.Link(device.path) as link:
        assert link.receive(timeout=0) is None
        device.write(frame[:-3])
        wait_in_port(link, len(frame) - 3)
        assert link.receive(timeout=0) is None       # taken in, not complete yet
        assert link.serial.in_waiting == 0
        device.write(frame[-3:] + frame)
        wait_in_port(link, 3 + len(frame))
        assert link.receive(timeout=0) == b"ready"
        assert link.receive(timeout=0) == b"ready"   # queued by the same read
        assert link.receive(timeout=0) is None


@pytest.mark.parametrize("late, drawn", [
    (FRAMER.frame(b"late"), []),
    (FRAMER.frame(b"late") + FRAMER.frame(b"later"), [b"late"]),
    # All but its closing flag: the opening flag of the next frame would end it.
    (FRAMER.frame(b"late")[:-1], [None]),
], ids=["in-port", "in-queue", "in-framer"])
def test_request_discards_a_late_reply(late, drawn):
    """A reply that comes after its request gave up never answers the next one,
    wherever it is when the next request starts."""
    with FakeDevice(answer=lambda payload: None if payload == b"slow" else payload) as device:
        with vemutils.Link(device.path) as link:
            with pytest.raises(TimeoutError):
                link.request(b"slow", timeout=0.1)
            device.write(late)
            wait_in_port(link, len(late))
            for payload in drawn:
                assert link.receive(timeout=0) == payload
            assert link.request(b"fresh", timeout=TIMEOUT) == b"fresh"


def test_receive_leaves_the_port_timeout():
    """However receive ends, the caller's port keeps its own timeout."""
    with FakeDevice() as device:
        port = serial.Serial(device.path, 115200, timeout=None)
        link = vemutils.Link(port)
        link.send(b"echo me")
        assert link.receive(timeout=TIMEOUT) == b"echo me"
        assert port.timeout is None
        assert link.receive(timeout=0.05) is None
        assert port.timeout is None
        port.close()
    master, slave = os.openpty()
    port = serial.Serial(os.ttyname(slave), 115200, timeout=None)
    os.close(slave)
    os.close(master)                                 # the line hangs up
    with pytest.raises(OSError):
        vemutils.Link(port).receive(timeout=TIMEOUT)
    assert port.timeout is None
    port.close()


@pytest.mark.parametrize("hold", ["output-stopped", "never-read"])
def test_send_held_back_raises(hold):
    """A port that takes no more (its output stopped as by an XOFF, or a
    reader that never reads) makes send raise TimeoutError in its own
    bound, naming the port, instead of hanging."""
    master, slave = os.openpty()
    tty.setraw(slave)
    port = serial.Serial(os.ttyname(slave), 115200, write_timeout=None)
    if hold == "output-stopped":
        termios.tcflow(port.fd, termios.TCOOFF)
    raised = []
    stop = threading.Event()

    def send_until_held():
        link = vemutils.Link(port)
        try:
            while not stop.is_set():
                link.send(bytes(1000))
        except TimeoutError as e:
            raised.append(e)

    sender = threading.Thread(target=send_until_held, daemon=True)
    sender.start()
    sender.join(TIMEOUT)
    hung = sender.is_alive()
    # Let a hung sender go before failing, so that it leaves nothing behind.
    stop.set()
    termios.tcflow(port.fd, termios.TCOON)
    while sender.is_alive():
        if select.select([master], [], [], 0.1)[0]:
            os.read(master, 65536)
    port.close()
    os.close(slave)
    os.close(master)
    assert not hung, "send hung"
    assert len(raised) == 1 and port.port in str(raised[0])
    assert port.write_timeout is None
