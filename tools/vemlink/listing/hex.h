// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_HEX_H
#define VEMLINK_HEX_H

// Hex text to bytes and back, for payloads given on the command line and for
// the listings vemlink prints.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Appends the bytes written in text to bytes: pairs of hex digits in either
// case, with whitespace allowed between pairs but not inside one. Returns
// false on anything else (a stray character, an odd digit) and describes the
// first fault in error; bytes then holds the pairs read before it.
bool parseHex(const char *text, size_t n, std::vector<unsigned char> &bytes, std::string &error);

// Writes n bytes as upper-case hex pairs separated by single spaces.
void printHex(std::FILE *out, const unsigned char *p, size_t n);

// Appends n bytes to out as upper-case hex pairs separated by single spaces.
void appendHex(std::string &out, const unsigned char *p, size_t n);

// Appends n bytes to out as text, with '.' for each byte that is not
// printable ASCII.
void appendAscii(std::string &out, const unsigned char *p, size_t n);

#endif
