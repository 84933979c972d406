# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""FCS-16 and the framer against references computed here, bit by bit."""

import os
import random
import sys

import pytest

import vemutils

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
from python_feed import PlainReceiver, TunedReceiver  # noqa: E402


def crc_bitwise(data, crc=0xFFFF):
    """The register of the reflected CCITT polynomial, one bit at a time."""
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def fcs_bytes(payload):
    fcs = crc_bitwise(payload) ^ 0xFFFF
    return bytes([fcs & 0xFF, fcs >> 8])


def stuff(raw):
    return raw.replace(b"\x7d", b"\x7d\x5d").replace(b"\x7e", b"\x7d\x5e")


def hand_frame(payload):
    return b"\x7e" + stuff(payload + fcs_bytes(payload)) + b"\x7e"


def test_check_values():
    assert vemutils.fcs(b"123456789") == 0x906E
    assert vemutils.crc16(b"123456789") == 0x6F91
    assert vemutils.crc16(b"abc") == 0x61DA
    assert vemutils.fcs(b"") == 0x0000
    assert vemutils.crc16(b"\x01", 0x0000) == 0x1189
    assert vemutils.crc16(b"\x00") == 0x0F87
    # The residue: data and its FCS bytes, low byte first, end at GOOD_CRC.
    assert vemutils.crc16(b"123456789\x6e\x90") == vemutils.GOOD_CRC == 0xF0B8


def test_crc_against_bitwise_reference():
    rng = random.Random(7)
    for _ in range(300):
        data = rng.randbytes(rng.randint(0, 300))
        start = rng.randrange(0x10000)
        assert vemutils.crc16(data, start) == crc_bitwise(data, start)
        assert vemutils.fcs(data) == crc_bitwise(data) ^ 0xFFFF
    # Any bytes-like object is data.
    assert vemutils.fcs(bytearray(b"abc")) == vemutils.fcs(memoryview(b"xabc")[1:])


@pytest.mark.parametrize("bad", [-1, 0x10000])
def test_crc_register_range(bad):
    with pytest.raises(ValueError):
        vemutils.crc16(b"", bad)


@pytest.mark.parametrize("payload, wire", [
    (b"", "7E 00 00 7E"),
    (b"abc", "7E 61 62 63 25 9E 7E"),
    (b"\x7e", "7E 7D 5E 81 6A 7E"),
    (b"\x7d\x7e\x20\x00", "7E 7D 5D 7D 5E 20 00 E4 9E 7E"),
    (b"\x19", "7E 19 38 7D 5D 7E"),              # FCS 0x7D38: high byte stuffed
    (b"\x1b\x00", "7E 1B 00 7D 5E 7D 5E 7E"),    # FCS 0x7E7E: both stuffed
])
def test_known_frames(payload, wire):
    frame = bytes.fromhex(wire)
    assert hand_frame(payload) == frame
    framer = vemutils.Framer()
    assert framer.frame(payload) == frame
    assert framer.feed(frame) == [payload]


def test_frame_matches_hand_built():
    rng = random.Random(3)
    framer = vemutils.Framer()
    for _ in range(200):
        payload = bytes(rng.choice(b"\x7d\x7e\x00\x20\x5d\x5e\xff") for _ in range(rng.randint(0, 40)))
        assert framer.frame(payload) == hand_frame(payload)


def receive(wire):
    framer = vemutils.Framer()
    return framer.feed(wire), (framer.frames, framer.crc_errors, framer.dropped)


def body(payload):
    return stuff(payload + fcs_bytes(payload))


GOOD = hand_frame(b"abc")
P1021 = bytes(range(256)) * 3 + bytes(253)      # 7D and 7E inside, stuffed
P1022 = bytes(1022)
P1023 = bytes(1023)

# (wire, payloads delivered, (frames, crc_errors, dropped))
LIMITS = {
    "1021 bytes, the largest delivered": (hand_frame(P1021), [P1021], (1, 0, 0)),
    "1022 bytes lost at the high FCS byte, silently": (hand_frame(P1022) + GOOD, [b"abc"], (1, 0, 1)),
    "1023 bytes: discarded, the high FCS byte fails alone": (hand_frame(P1023) + GOOD, [b"abc"], (1, 1, 1)),
    "1024 bytes of junk then a body without a flag": (b"\x7e" + bytes(1024) + body(b"xy") + b"\x7e", [b"xy"], (1, 0, 1)),
    "7D 7E: the flag ends the frame, the escape is dropped": (GOOD[:-1] + b"\x7d\x7e", [b"abc"], (1, 0, 0)),
    "a 7D 7E after a flag holds nothing": (GOOD + b"\x7d\x7e" + GOOD, [b"abc", b"abc"], (2, 0, 0)),
    "escaped FCS high byte": (bytes.fromhex("7E 19 38 7D 5D 7E"), [b"\x19"], (1, 0, 0)),
    "both FCS bytes escaped": (bytes.fromhex("7E 1B 00 7D 5E 7D 5E 7E"), [b"\x1b\x00"], (1, 0, 0)),
    "any byte may come escaped": (b"\x7e\x7d\x41" + stuff(fcs_bytes(b"a")) + b"\x7e", [b"a"], (1, 0, 0)),
    "one flag between two frames": (GOOD[:-1] + GOOD, [b"abc", b"abc"], (2, 0, 0)),
    "flags only": (b"\x7e\x7e\x7e", [], (0, 0, 0)),
    "empty payload": (hand_frame(b""), [b""], (1, 0, 0)),
    "a corrupted byte, then a good frame": (GOOD.replace(b"c", b"d") + GOOD, [b"abc"], (1, 1, 0)),
    "noise before the first flag": (b"noise" + GOOD, [b"abc"], (1, 1, 0)),
    "a single byte never passes": (b"\x7e\x00\x7e", [], (0, 1, 0)),
}


@pytest.mark.parametrize("case", LIMITS)
def test_receiver_limits(case):
    wire, payloads, counts = LIMITS[case]
    assert receive(wire) == (payloads, counts)
    # The pure-Python receivers of the benchmark agree, so it compares like with like.
    for rx in (PlainReceiver(), TunedReceiver()):
        assert rx.feed(wire) == payloads
        assert (rx.frames, rx.crc_errors, rx.dropped) == counts


def test_reset_discards_a_partial_frame():
    framer = vemutils.Framer()
    assert framer.feed(GOOD[:4]) == []
    framer.reset()
    # What is left of the frame is collected afresh and fails the check.
    assert framer.feed(GOOD[4:] + GOOD) == [b"abc"]
    assert framer.crc_errors == 1


def adversarial_stream(rng, n):
    """Frames near every limit, corrupted, cut, with junk and escapes."""
    framer = vemutils.Framer()
    parts = []
    for _ in range(n):
        kind = rng.randrange(8)
        size = rng.choice([0, 1, 2, 1019, 1020, 1021, 1022, 1023, 1024, rng.randint(0, 1100)])
        payload = bytes(rng.choice(b"\x7d\x7e\x00\x41") if rng.random() < 0.3 else rng.randrange(256)
                        for _ in range(size))
        frame = bytearray(framer.frame(payload))
        if kind == 0 and len(frame) > 2:
            frame[rng.randrange(len(frame))] ^= 1 << rng.randrange(8)
        elif kind == 1:
            frame = frame[: rng.randrange(1, len(frame) + 1)]
        elif kind == 2:
            frame[1:1] = rng.randbytes(rng.randint(0, 1100))
        elif kind == 3:
            frame += b"\x7d" * rng.randint(1, 3)
        parts.append(bytes(frame))
    return b"".join(parts)


def test_feed_in_random_chunks_matches_whole_stream_and_plain_receiver():
    rng = random.Random(11)
    for _ in range(5):
        stream = adversarial_stream(rng, 150)
        whole = vemutils.Framer()
        expected = whole.feed(stream)
        counts = (whole.frames, whole.crc_errors, whole.dropped)
        assert counts[0] > 10 and counts[1] > 0 and counts[2] > 0

        plain = PlainReceiver()
        assert plain.feed(stream) == expected
        assert (plain.frames, plain.crc_errors, plain.dropped) == counts

        for sizes in ([1], [1, 2, 3, 7], [1021, 1022, 1023, 1024], range(1, 5000)):
            chunked = vemutils.Framer()
            got, i = [], 0
            while i < len(stream):
                step = rng.choice(list(sizes))
                got += chunked.feed(memoryview(stream)[i:i + step])
                i += step
            assert got == expected
            assert (chunked.frames, chunked.crc_errors, chunked.dropped) == counts


def test_feed_takes_bytes_like_only():
    framer = vemutils.Framer()
    with pytest.raises(TypeError):
        framer.feed("7e")
    with pytest.raises(TypeError):
        framer.frame("abc")
    assert framer.feed(bytearray(GOOD)) == [b"abc"]


def test_help_shows_the_api():
    doc = vemutils.Framer.__doc__ + vemutils.Framer.feed.__doc__
    assert "1021" in doc and "list[bytes]" in doc
