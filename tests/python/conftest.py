# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

import pytest

from fake_device import FakeDevice


@pytest.fixture
def device():
    """An echoing device on a pseudo-terminal; .path is its tty."""
    with FakeDevice() as d:
        yield d
