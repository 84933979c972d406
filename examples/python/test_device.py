# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""A test bench for a device that answers each frame by echoing its payload.

Run it against the device with
    pytest examples/python --device /dev/ttyUSB0
or against a recording of a run with the device (see conftest.py), which
'vemlink mock' plays the device from:
    pytest examples/python --recording device.pcapng
Without either every test is skipped. The framing is the library's own
(vemutils.Link over pyserial), byte for byte what the device runs.
"""

import subprocess
import time

import pytest

import vemutils


@pytest.fixture(scope="session")
def port(request, tmp_path_factory):
    """The device's port: --device, or the end of a vemlink mock that
    answers as the recorded device did. --strict: a request the recording
    does not hold fails the run."""
    device = request.config.getoption("--device")
    recording = request.config.getoption("--recording")
    if device or not recording:
        yield device
        return
    link = tmp_path_factory.mktemp("mock") / "ttyDEVICE"
    mock = subprocess.Popen([request.config.getoption("--vemlink"), "mock", recording,
                             "--link", str(link), "--strict"], stdout=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while not link.exists() and mock.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)
    yield str(link)
    mock.terminate()
    assert mock.wait(10) == 0, "vemlink mock: a request had no recording"


@pytest.fixture
def link(request, port):
    if not port:
        pytest.skip("no device: give --device PORT or --recording CAPTURE")
    with vemutils.Link(port, baudrate=request.config.getoption("--baudrate")) as link:
        link.timeout = request.config.getoption("--reply-timeout")
        yield link


@pytest.mark.parametrize("payload", [
    b"ping",
    b"",
    b"\x7e\x7d\x7e",                  # flag and escape bytes inside a payload
    bytes(range(256)),
    b"\x19",                          # its FCS needs stuffing on the wire
], ids=["ping", "empty", "flags", "all-bytes", "stuffed-fcs"])
def test_echo(link, payload):
    assert link.request(payload, link.timeout) == payload


def test_largest_payload(link):
    payload = bytes(i % 251 for i in range(vemutils.MAX_PAYLOAD))
    assert link.request(payload, link.timeout) == payload


def test_corrupted_frame_gets_no_reply(link):
    frame = bytearray(link.framer.frame(b"corrupt me"))
    frame[3] ^= 0x01
    link.serial.write(frame)
    assert link.receive(timeout=0.5) is None
    # The device is still in step for the next frame.
    assert link.request(b"after", link.timeout) == b"after"


def test_many_requests_in_a_row(link):
    for i in range(100):
        payload = i.to_bytes(2, "big") * (i % 8)
        assert link.request(payload, link.timeout) == payload
    assert link.framer.crc_errors == 0 and link.framer.dropped == 0
