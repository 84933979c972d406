#include "textutils.h"

#include <algorithm>
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

// First byte equal to c in [p, end), or null.
char *findByte(char *p, char *end, char c)
{
    return static_cast<char *>(std::memchr(p, c, static_cast<std::size_t>(end - p)));
}

} // namespace

// memchr compares unsigned byte values and is bounded by the length, which
// holds no NUL: a NUL sep never matches and 0x80 to 0xFF match on every char
// signedness. Both passes scan the same stretch for the same byte, so the
// array is exactly full.
char **cArgParser::parseList(char *str, char sep)
{
    char *const end = str + std::strlen(str);
    // A plain count over a known length: the compiler does it many bytes a step.
    const auto n = static_cast<std::size_t>(std::count(str, end, sep)) + 1;

    char **list = new char *[n + 1];
    char **out = list;
    *out++ = str;
    for (char *p = findByte(str, end, sep); p != nullptr; p = findByte(p + 1, end, sep)) {
        *p = '\0';
        *out++ = p + 1;
    }
    *out = nullptr;
    return list;
}

// The parse only ever consumes separators after the leading whitespace, one
// per token after the first, so counting both separators there bounds the
// number of tokens. The count stops at the terminator, so a NUL separator
// counts nothing.
char **cArgParser::parseList(char *str, char sep1, char sep2)
{
    char *const start = skipSpace(str);
    std::size_t n = 1;
    for (const char *p = start; *p != '\0'; ++p)
        if (*p == sep1 || *p == sep2)
            ++n;

    char **list = new char *[n + 1];
    char **out = list;
    char cur = sep1;
    for (char *p = start; *p != '\0'; p = skipSpace(p)) {
        *out++ = p;
        // strchr of NUL finds the terminator: a NUL cur only matches the end.
        p = std::strchr(p, cur);
        if (p == nullptr || *p == '\0')
            break;
        *p++ = '\0';
        cur = sep2;
    }
    *out = nullptr;
    return list;
}

int cArgParser::argCnt(char **list)
{
    int n = 0;
    while (list[n] != nullptr)
        ++n;
    return n;
}
