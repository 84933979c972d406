# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""Frames over a pyserial port."""

import collections
import contextlib
import time

import serial

from ._vemutils import Framer

# Bits on the line for each byte: start, 8 data, stop.
_BITS_PER_BYTE = 10


@contextlib.contextmanager
def _kept(port, name):
    """Puts port.<name> back to its value on entry when the block ends,
    however it ends."""
    saved = getattr(port, name)
    try:
        yield
    finally:
        if getattr(port, name) != saved:
            setattr(port, name, saved)


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

    def send(self, payload, timeout=1.0):
        """Writes payload as one frame and waits until it has gone out.

        timeout is how long, in seconds, the port may hold the frame back
        beyond its own time on the line at the port's baud rate (flow
        control, a reader that does not read); None waits for as long as
        it takes. Raises TimeoutError, naming the port, when the frame has
        not all gone out by then; bytes the port already took may still go
        out later. The port's write_timeout is left as it was.
        """
        frame = self.framer.frame(payload)
        if timeout is None:
            allowed = deadline = None
        else:
            allowed = timeout + len(frame) * _BITS_PER_BYTE / self.serial.baudrate
            deadline = time.monotonic() + allowed
        with _kept(self.serial, "write_timeout"):
            self.serial.write_timeout = allowed
            try:
                self.serial.write(frame)
            except serial.SerialTimeoutException as e:
                raise self._not_sent(allowed) from e
        self._drain(deadline, allowed)

    def _drain(self, deadline, allowed):
        """Waits for the port to send all it holds, up to deadline (None:
        no limit). A serial device's own queue is watched here since its
        flush() would wait without limit; the flush that follows then waits
        only for what the hardware holds."""
        if deadline is not None and isinstance(self.serial, serial.Serial):
            while queued := self.serial.out_waiting:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise self._not_sent(allowed)
                time.sleep(min(left, max(0.001, queued * _BITS_PER_BYTE / self.serial.baudrate)))
        self.serial.flush()

    def _not_sent(self, allowed):
        return TimeoutError(f"frame not sent within {allowed:.3f} s on {self.serial.port}")

    def receive(self, timeout=1.0):
        """The next intact payload, or None when timeout seconds pass first.

        timeout=0 waits for nothing: it takes in what is already waiting in
        the port and returns a payload if that completes one. timeout=None
        waits for as long as it takes. The port's timeout is left as it
        was, however the call ends.
        """
        if not self._pending:
            if timeout is not None and timeout <= 0:
                self._take_waiting()
            else:
                with _kept(self.serial, "timeout"):
                    self._wait_for_payload(timeout)
        return self._pending.popleft() if self._pending else None

    def _take_waiting(self):
        """Feeds the framer what is waiting in the port, if anything."""
        waiting = self.serial.in_waiting
        if waiting:
            self._pending.extend(self.framer.feed(self.serial.read(waiting)))

    def _wait_for_payload(self, timeout):
        """Reads until a payload is complete or timeout seconds pass."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while not self._pending:
            if deadline is None:
                wait = None
            else:
                wait = deadline - time.monotonic()
                if wait <= 0:
                    return
            self.serial.timeout = wait
            data = self.serial.read(max(1, self.serial.in_waiting))
            if data:
                self._pending.extend(self.framer.feed(data))

    def request(self, payload, timeout=1.0):
        """Sends payload and returns the next intact payload.

        First discards whatever came before: input waiting in the port, a
        frame partly received and payloads received but not yet asked for,
        so that a late reply to an earlier request cannot answer this one.
        timeout bounds the send as send() does, then the wait for the
        reply; None waits for as long as it takes. Raises TimeoutError
        when the frame cannot be sent or no reply arrives within it.
        """
        self.serial.reset_input_buffer()
        self.framer.reset()
        self._pending.clear()
        self.send(payload, timeout)
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
