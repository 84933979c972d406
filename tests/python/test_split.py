# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

"""Both splitting forms: one separator keeps every token, two separators
skip leading whitespace and drop a trailing empty token."""

import pytest

import vemutils

ONE = [
    ("a,b,c", ",", ["a", "b", "c"]),
    ("", ",", [""]),
    ("a,,b", ",", ["a", "", "b"]),
    (",", ",", ["", ""]),
    (" a , b ", ",", [" a ", " b "]),       # nothing trimmed
    (",a,", ",", ["", "a", ""]),
    ("a b", "\0", ["a b"]),                 # a NUL separator never matches
    ("k=v=w", "=", ["k", "v", "w"]),
]

TWO = [
    ("cmd a,b,c", " ", ",", ["cmd", "a", "b", "c"]),
    ("  cmd   a , b ,c ", " ", ",", ["cmd", "a ", "b ", "c "]),
    ("cmd", " ", ",", ["cmd"]),
    ("", " ", ",", []),
    ("   ", " ", ",", []),
    ("cmd a,", " ", ",", ["cmd", "a"]),      # no empty last token
    ("cmd a,,b", " ", ",", ["cmd", "a", "", "b"]),
    ("cmd\targ", " ", ",", ["cmd\targ"]),
    (",cmd a", " ", ",", [",cmd", "a"]),     # a leading sep2 stays in the command
    (" =x", "=", ",", ["", "x"]),            # sep1 first: an empty first token
    ("cmd ,a", " ", ",", ["cmd", "", "a"]),
    (",,,", ",", ",", ["", "", ""]),
    ("a  b   c", " ", " ", ["a", "b", "c"]),  # a run of whitespace separators is one
    ("cmd rest of line", " ", "\0", ["cmd", "rest of line"]),
    ("  whole line", "\0", ",", ["whole line"]),
]


@pytest.mark.parametrize("s, sep, tokens", ONE)
def test_one_separator(s, sep, tokens):
    assert vemutils.split(s, sep) == tokens


@pytest.mark.parametrize("s, sep1, sep2, tokens", TWO)
def test_two_separators(s, sep1, sep2, tokens):
    assert vemutils.split(s, sep1, sep2) == tokens


def test_any_byte_survives():
    raw = b"\xff,caf\xc3\xa9,\x80"
    tokens = vemutils.split(raw.decode("utf-8", "surrogateescape"), ",")
    assert [t.encode("utf-8", "surrogateescape") for t in tokens] == raw.split(b",")
    # A separator may be any single byte, given as its surrogate.
    assert vemutils.split("a\udcffb", "\udcff") == ["a", "b"]


@pytest.mark.parametrize("args", [("a", ""), ("a", ",,"), ("a", "é"), ("a\0b", ","), ("a", " ", "")])
def test_bad_arguments(args):
    with pytest.raises(ValueError):
        vemutils.split(*args)
