# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""The framer's messages reach logging under "cHDLCFramer", at the
logger's level, without their trailing newlines."""

import logging

import pytest

import vemutils

GOOD = bytes.fromhex("7E 61 62 63 25 9E 7E")
BAD = bytes.fromhex("7E 61 62 64 25 9E 7E")


def records(caplog):
    got = [(r.name, r.levelname, r.getMessage()) for r in caplog.records]
    caplog.clear()
    return got


def test_messages_at_debug(caplog):
    caplog.set_level(logging.DEBUG, logger="cHDLCFramer")
    framer = vemutils.Framer()
    assert records(caplog) == [("cHDLCFramer", "INFO", "Creating Framer")]
    assert framer.feed(GOOD) == [b"abc"]
    assert records(caplog) == [("cHDLCFramer", "DEBUG", "Frame Received")]
    framer.feed(BAD)
    assert records(caplog) == [("cHDLCFramer", "DEBUG", "Frame Received"),
                               ("cHDLCFramer", "DEBUG", "RX Crc Error")]


def test_level_followed_between_calls(caplog):
    caplog.set_level(logging.DEBUG, logger="cHDLCFramer")
    logging.getLogger("cHDLCFramer").setLevel(logging.INFO)
    framer = vemutils.Framer()
    framer.feed(BAD)
    assert records(caplog) == [("cHDLCFramer", "INFO", "Creating Framer")]
    logging.getLogger("cHDLCFramer").setLevel(logging.DEBUG)
    framer.feed(GOOD)
    assert records(caplog) == [("cHDLCFramer", "DEBUG", "Frame Received")]
    logging.getLogger("cHDLCFramer").setLevel(logging.WARNING)
    vemutils.Framer().feed(BAD)
    assert records(caplog) == []


@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_handler_error_does_not_break_feed():
    class Failing(logging.Handler):
        def emit(self, record):
            raise RuntimeError("handler fails")

    logger = logging.getLogger("cHDLCFramer")
    handler = Failing()
    logger.addHandler(handler)
    logger.setLevel(logging.DEBUG)
    try:
        # The error is reported as unraisable; the framer carries on.
        assert vemutils.Framer().feed(GOOD + GOOD) == [b"abc", b"abc"]
    finally:
        logger.removeHandler(handler)
        logger.setLevel(logging.NOTSET)
