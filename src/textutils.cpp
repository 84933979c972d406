// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "textutils.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

// isspace() is only defined for EOF and unsigned char values; where char is
// signed, bytes 0x80 to 0xFF would otherwise arrive as negative numbers.
bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

char *skipSpace(char *p)
{
    while (isSpace(*p))
        ++p;
    return p;
}

// The machine word, taken from the string with memcpy at any alignment: 8
// bytes on 64-bit hosts, 4 on the 32-bit target.
using Word = std::uintptr_t;
const Word BYTES_01 = ~Word(0) / 0xff; // 0x01 in every byte
const Word BYTES_80 = BYTES_01 << 7;   // 0x80 in every byte
const Word BYTES_7F = ~BYTES_80;       // 0x7F in every byte

Word load(const char *p)
{
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// 0x80 in every byte of w that is zero and 0 in every other byte. Exact: the
// sum of the low seven bits cannot carry into the next byte, so no byte
// disturbs another (unlike the borrow of w - 0x01..01).
Word zeroBytes(Word w)
{
    return ~(((w & BYTES_7F) + BYTES_7F) | w) & BYTES_80;
}

// Index in its word of the first byte that m, from zeroBytes, marks.
unsigned firstMarked(Word m)
{
    static_assert(sizeof(Word) == sizeof(unsigned long), "one count-zeros builtin per word");
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return static_cast<unsigned>(__builtin_ctzl(m)) / 8;
#else
    return static_cast<unsigned>(__builtin_clzl(m)) / 8;
#endif
}

// Bytes equal to c in [p, end). A word at a time: each byte of a sum counts
// the bytes of its position that differ from c (the top bit of each byte of
// ((x & 7F..) + 7F..) | x, exact like zeroBytes), for at most
// 255 / sizeof(Word) words so that the sum of all positions fits in a byte.
std::size_t countByte(const char *p, const char *end, char c)
{
    const Word pattern = BYTES_01 * static_cast<unsigned char>(c);
    std::size_t n = 0;
    while (static_cast<std::size_t>(end - p) >= sizeof(Word)) {
        std::size_t words = static_cast<std::size_t>(end - p) / sizeof(Word);
        words = std::min<std::size_t>(words, 255 / sizeof(Word));
        n += words * sizeof(Word);
        Word sums = 0;
        for (; words > 0; --words, p += sizeof(Word)) {
            const Word x = load(p) ^ pattern;
            sums += ((((x & BYTES_7F) + BYTES_7F) | x) & BYTES_80) >> 7;
        }
        n -= static_cast<std::size_t>((sums * BYTES_01) >> (8 * (sizeof(Word) - 1)));
    }
    for (; p != end; ++p)
        n += *p == c;
    return n;
}

// The two-separator walk from p: whitespace is skipped before each token,
// the first token ends at sep1 and every later one at sep2. Returns the
// number of tokens. With out, it also ends each token with a NUL and stores
// it and the closing null pointer there; without, it writes nothing, which
// sizes the array by the very walk that fills it. Ending a token only
// overwrites a separator the walk has passed.
std::size_t walkTokens(char *p, char sep1, char sep2, char **out)
{
    std::size_t n = 0;
    char cur = sep1;
    for (p = skipSpace(p); *p != '\0'; p = skipSpace(p)) {
        if (out != nullptr)
            out[n] = p;
        ++n;
        // strchr of NUL finds the terminator: a NUL cur only matches the end.
        p = std::strchr(p, cur);
        if (p == nullptr || *p == '\0')
            break;
        if (out != nullptr)
            *p = '\0';
        ++p;
        cur = sep2;
    }
    if (out != nullptr)
        out[n] = nullptr;
    return n;
}

} // namespace

// The string is taken a word at a time over its known length, which holds no
// NUL: a NUL sep never matches, and bytes 0x80 to 0xFF match on every char
// signedness. Both passes look at the same bytes for the same value, so the
// array is exactly full, and neither reads or writes outside the string.
// At -O3, GCC 12's loop distribution split the loop over a word's
// separators in two on ARM, each finding every separator again.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-loop-distribution")))
#endif
char **
cArgParser::parseList(char *str, char sep)
{
    char *const end = str + std::strlen(str);
    const std::size_t n = countByte(str, end, sep) + 1;

    char **list = new char *[n + 1];
    char **out = list;
    *out++ = str;
    const Word pattern = BYTES_01 * static_cast<unsigned char>(sep);
    char *p = str;
    for (; static_cast<std::size_t>(end - p) >= sizeof(Word); p += sizeof(Word))
        for (Word m = zeroBytes(load(p) ^ pattern); m != 0; m &= m - 1) {
            char *const at = p + firstMarked(m);
            *at = '\0';
            *out++ = at + 1;
        }
    for (; p != end; ++p)
        if (*p == sep) {
            *p = '\0';
            *out++ = p + 1;
        }
    *out = nullptr;
    return list;
}

// Sized by a first walk that writes nothing, so the array is exactly full
// and the string is untouched if the allocation fails.
char **cArgParser::parseList(char *str, char sep1, char sep2)
{
    char **list = new char *[walkTokens(str, sep1, sep2, nullptr) + 1];
    walkTokens(str, sep1, sep2, list);
    return list;
}

int cArgParser::argCnt(char **list)
{
    int n = 0;
    while (list[n] != nullptr)
        ++n;
    return n;
}
