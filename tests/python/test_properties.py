# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""Properties and Config: the library's file rules seen from Python."""

import os
import subprocess
import sys

import pytest

import vemutils

FIXTURE = os.path.join(os.path.dirname(__file__), "fixtures", "rules.properties")


def b(s):
    return s.encode("utf-8", "surrogateescape")


def s(raw):
    return raw.decode("utf-8", "surrogateescape")


# key -> value, exactly as the fixture's lines must store them.
STORED = {
    "plain": "value",
    "spaced ": " both sides ",             # nothing trimmed
    "comment": "kept  ",                   # cut just before the '#'
    "": "empty key",
    "empty": "",
    "eq": "a=b=c",                         # split at the first '='
    "first": "1",                          # the first occurrence wins
    "tab\t": "\tx",
    "hex": "0x10",
    "num": "12abc",
    "neg": "-7",
    "lead": " 42",
    "big": "99999999999",
    "Case": "upper",
    "case": "lower",
    "crlf": "windows\r",                   # the CR stays
    "bytes": s(b"\xff\xfe\x80ok"),         # any byte survives
    s(b"\xe9t\xe9"): "latin1 key",
    "utf8": "café",
    "nul": "before",                       # a NUL ends the line's text
    "last": "no newline",
}


@pytest.fixture(scope="module")
def props():
    return vemutils.Properties(FIXTURE)


def test_fixture_rules(props):
    assert dict(props.items()) == STORED
    assert len(props) == len(STORED)
    for key, value in STORED.items():
        assert key in props
        assert props[key] == value
        assert props.get(key, "default") == value
    for absent in ["spaced", "#commented", "commented", "no equals sign here", "CASE", "nul\0"]:
        assert absent not in props
        assert props.get(absent) is None
        assert props.get(absent, "d") == "d"
        assert props.get_int(absent, 5) == 5
        with pytest.raises(KeyError):
            props[absent]
    assert 5 not in props


def test_table_order_is_bytewise(props):
    keys = list(props)
    assert keys == props.keys() == [k for k, _ in props.items()]
    assert keys == sorted(STORED, key=b)
    assert props.values() == [STORED[k] for k in keys]


def test_surrogateescape_round_trip(props):
    assert b(props["bytes"]) == b"\xff\xfe\x80ok"
    assert props[s(b"\xe9t\xe9")] == "latin1 key"


@pytest.mark.parametrize("key, expected", [
    ("hex", 0), ("num", 12), ("neg", -7), ("empty", 0), ("lead", 42),
    ("big", 2**31 - 1), ("plain", 0),
])
def test_get_int_reads_like_strtol(props, key, expected):
    assert props.get_int(key, 99) == expected


def test_line_length_limit(tmp_path):
    path = tmp_path / "long.properties"
    k255 = "k=" + "x" * 253
    k256 = "long=" + "y" * 251
    path.write_text("before=1\n" + k255 + "\n" + k256 + "\n")
    p = vemutils.Properties(path)
    assert p["before"] == "1"
    assert p["k"] == "x" * 253           # 255 characters: read whole
    assert "long" not in p               # 256: not used


def test_missing_file_raises_and_prints_nothing(tmp_path, capfd):
    missing = tmp_path / "missing.properties"
    with pytest.raises(FileNotFoundError) as e:
        vemutils.Properties(missing)
    assert e.value.filename == missing
    assert str(missing) in str(e.value)
    with pytest.raises(IsADirectoryError) as e:
        vemutils.Properties(str(tmp_path))
    assert e.value.filename == str(tmp_path)
    with pytest.raises(ValueError):
        vemutils.Properties("bad\0path")
    out, err = capfd.readouterr()
    assert out == "" and err == ""


def test_paths_as_bytes_and_pathlike(tmp_path):
    path = tmp_path / "p.properties"
    path.write_bytes(b"a=1\n")
    assert vemutils.Properties(bytes(path))["a"] == "1"
    assert vemutils.Properties(path)["a"] == "1"


CONFIG_SCRIPT = r"""
import sys, vemutils
good, other, missing = sys.argv[1:]
C = vemutils.Config
print(C.get("plain"), C.get("plain", "d"), C.get_int("neg", 5))
print(C.load(missing), C.get("plain", "d"))
print(C.load(good), C.get("plain"), C.get_int("neg", 5), repr(C.get("empty", "d")))
print(C.load(other), C.get("plain"), C.get("a"))
"""


def test_config_is_loaded_once_per_process(tmp_path):
    # The configuration is process-wide: each scenario runs in a fresh process.
    other = tmp_path / "other.properties"
    other.write_text("plain=other\na=1\n")
    run = subprocess.run(
        [sys.executable, "-c", CONFIG_SCRIPT, FIXTURE, str(other), str(tmp_path / "missing")],
        capture_output=True, text=True, check=True)
    assert run.stdout.splitlines() == [
        "None d 5",
        "False d",                  # a missing file leaves it unloaded, silently
        "True value -7 ''",
        "False value None",         # a second load changes nothing
    ]
    assert run.stderr == ""
