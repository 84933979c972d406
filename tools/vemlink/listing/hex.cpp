// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "listing/hex.h"

#include <cctype>

namespace {

int digit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A byte as it reads best in a message: 'x' when printable, else 0xNN.
std::string shown(unsigned char c)
{
    if (std::isgraph(c))
        return std::string("'") + static_cast<char>(c) + "'";
    const char *digits = "0123456789ABCDEF";
    return std::string("0x") + digits[c >> 4] + digits[c & 15];
}

} // namespace

bool parseHex(const char *text, size_t n, std::vector<unsigned char> &bytes, std::string &error)
{
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c))
            continue;
        const int high = digit(c);
        const int low = i + 1 < n ? digit(static_cast<unsigned char>(text[i + 1])) : -1;
        if (high < 0 || low < 0) {
            const size_t at = high < 0 ? i : i + 1;
            const auto bad = static_cast<unsigned char>(at < n ? text[at] : ' ');
            if (std::isspace(bad))
                error = "hex digit at offset " + std::to_string(i) + " has no second digit";
            else
                error = "not a hex digit at offset " + std::to_string(at) + ": " + shown(bad);
            return false;
        }
        bytes.push_back(static_cast<unsigned char>(high << 4 | low));
        ++i;
    }
    return true;
}

// Both append to a string the caller reuses: a live tap lists the frames of
// both directions of a fast link, and a call per byte would cost more than
// the decoding.
void appendHex(std::string &out, const unsigned char *p, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    if (n == 0)
        return;
    const size_t at = out.size();
    out.resize(at + 3 * n - 1, ' ');
    for (size_t i = 0; i < n; ++i) {
        out[at + 3 * i] = digits[p[i] >> 4];
        out[at + 3 * i + 1] = digits[p[i] & 15];
    }
}

void appendAscii(std::string &out, const unsigned char *p, size_t n)
{
    // A table rather than a test: on binary data the test's branch goes
    // either way at random.
    static const struct Shown {
        char c[256];
        Shown()
        {
            for (int b = 0; b < 256; ++b)
                c[b] = b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
        }
    } shown;
    const size_t at = out.size();
    out.resize(at + n);
    for (size_t i = 0; i < n; ++i)
        out[at + i] = shown.c[p[i]];
}

void printHex(std::FILE *out, const unsigned char *p, size_t n)
{
    std::string text;
    appendHex(text, p, n);
    std::fwrite(text.data(), 1, text.size(), out);
}
