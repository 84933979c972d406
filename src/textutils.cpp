// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "textutils.h"

#include <cctype>
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

// Next sep in [p, end), or null.
char *findSep(char *p, char *end, char sep)
{
    return static_cast<char *>(std::memchr(p, sep, static_cast<std::size_t>(end - p)));
}

} // namespace

// Over the string's known length, which holds no NUL: a NUL sep never
// matches. Both passes look for the same bytes, so the array is exactly full.
char **cArgParser::parseList(char *str, char sep)
{
    char *const end = str + std::strlen(str);
    std::size_t n = 1;
    for (char *p = str; (p = findSep(p, end, sep)) != nullptr; ++p)
        ++n;
    char **list = new char *[n + 1];
    char **out = list;
    *out++ = str;
    for (char *p = str; (p = findSep(p, end, sep)) != nullptr;) {
        *p++ = '\0';
        *out++ = p;
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
