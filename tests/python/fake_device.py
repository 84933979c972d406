# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""A device on a pseudo-terminal, played by a thread of the test.

The test's side opens `path` like a serial device; the device reads the
master side through its own vemutils.Framer and answers each intact
payload with what `answer` returns (None: no reply). By default it echoes.
"""

import os
import select
import threading
import tty

import vemutils


class FakeDevice:
    def __init__(self, answer=lambda payload: payload):
        self.answer = answer
        self.received = []
        self.framer = vemutils.Framer()
        self._master, self._slave = os.openpty()
        tty.setraw(self._slave)
        # The device keeps the slave open too: the line stays up while the
        # application side closes and reopens it.
        self.path = os.ttyname(self._slave)
        self._stop_r, self._stop_w = os.pipe()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def write(self, data):
        """Puts raw bytes on the wire towards the application."""
        os.write(self._master, data)

    def _run(self):
        while True:
            ready, _, _ = select.select([self._master, self._stop_r], [], [])
            if self._stop_r in ready:
                return
            try:
                data = os.read(self._master, 4096)
            except OSError:
                return
            for payload in self.framer.feed(data):
                self.received.append(payload)
                reply = self.answer(payload)
                if reply is not None:
                    self.write(self.framer.frame(reply))

    def close(self):
        os.write(self._stop_w, b"x")
        self._thread.join(timeout=30)
        for fd in (self._master, self._slave, self._stop_r, self._stop_w):
            os.close(fd)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
