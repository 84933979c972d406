# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""Frames over a pyserial port."""

import collections
import time

import serial

from ._vemutils import Framer


class Link:
    """One framed link on a serial port.

    port is a device path ("/dev/ttyUSB0"), a pyserial URL ("loop://",
    "spy:///dev/ttyUSB0") or an open serial.Serial; baudrate and
    serial_options go to serial.serial_for_url for the first two. A port
    opened here is closed by close() or at the end of a with block; a port
    passed in open stays open. Payloads received but not yet asked for are
    kept in order for the next receive().
    """

    def __init__(self, port, baudrate=115200, **serial_options):
        if isinstance(port, serial.SerialBase):
            self.serial = port
            self._owned = False
        else:
            self.serial = serial.serial_for_url(port, baudrate=baudrate, **serial_options)
            self._owned = True
        self.framer = Framer()
        self._pending = collections.deque()

    def send(self, payload):
        """Writes payload as one frame."""
        self.serial.write(self.framer.frame(payload))
        self.serial.flush()

    def receive(self, timeout=1.0):
        """The next intact payload, or None when timeout seconds pass first.

        timeout=None waits for as long as it takes.
        """
        deadline = None if timeout is None else time.monotonic() + timeout
        while not self._pending:
            if deadline is None:
                wait = None
            else:
                wait = deadline - time.monotonic()
                if wait <= 0:
                    return None
            self.serial.timeout = wait
            data = self.serial.read(max(1, self.serial.in_waiting))
            if data:
                self._pending.extend(self.framer.feed(data))
        return self._pending.popleft()

    def request(self, payload, timeout=1.0):
        """Sends payload and returns the next intact payload.

        Raises TimeoutError when none arrives within timeout seconds.
        """
        self.send(payload)
        reply = self.receive(timeout)
        if reply is None:
            raise TimeoutError(f"no reply within {timeout} s on {self.serial.port}")
        return reply

    def close(self):
        """Closes the port if this Link opened it."""
        if self._owned:
            self.serial.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
