# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Options of the device bench:
#   pytest examples/python --device /dev/ttyUSB0 [--baudrate 115200] [--reply-timeout 2]
# --device also takes a pyserial URL (rfc2217://host:port, spy:///dev/ttyUSB0).
# Or against a recording of the device, without it:
#   vemlink tap /dev/ttyUSB0 --link /tmp/ttyAPP --pcap device.pcapng   (then, once)
#   pytest examples/python --device /tmp/ttyAPP                         (Ctrl-C the tap)
#   pytest examples/python --recording device.pcapng                    (in CI)


def pytest_addoption(parser):
    group = parser.getgroup("device", "the device under test")
    group.addoption("--device", help="serial device or pyserial URL of the device under test")
    group.addoption("--baudrate", type=int, default=115200, help="line speed (default 115200)")
    group.addoption("--reply-timeout", type=float, default=2.0,
                    help="seconds to wait for each reply (default 2)")
    group.addoption("--recording",
                    help="a capture of the device (vemlink tap --pcap) to test against, "
                         "through vemlink mock, when there is no --device")
    group.addoption("--vemlink", default="vemlink", help="the vemlink program for --recording")
