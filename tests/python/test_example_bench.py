# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""examples/python, the device bench, run as a user runs it: against an
echoing device on a pseudo-terminal, and without a device."""

import os
import re
import subprocess
import sys

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python")


def run_bench(*args):
    run = subprocess.run(
        [sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "-rs", EXAMPLE,
         "--reply-timeout", "10", *args],
        capture_output=True, text=True, timeout=600)
    summary = run.stdout.strip().splitlines()[-1]
    counts = {k: int(n) for n, k in re.findall(r"(\d+) (\w+)", summary)}
    return run, counts


def test_against_the_fake_device(device):
    run, counts = run_bench("--device", device.path)
    assert run.returncode == 0, run.stdout + run.stderr
    assert counts == {"passed": 8}, run.stdout
    # 107 intact frames reached the device; the corrupted one failed its check.
    assert len(device.received) == 107
    assert device.framer.crc_errors == 1


def test_skips_without_a_device():
    run, counts = run_bench()
    assert run.returncode == 0, run.stdout + run.stderr
    assert counts == {"skipped": 8}, run.stdout
    assert "no device: give --device PORT" in run.stdout
