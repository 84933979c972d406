// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEXTUTILS_H
#define VEMUTILS_TEXTUTILS_H

// In-place splitting of a writable NUL-terminated string into a token list:
// an array of char* ending in a null pointer, in the manner of argv.
//
// Nothing is copied. The separators that end tokens are overwritten with NUL
// and the entries point into str, which must stay alive and unchanged while
// the list is used. The list is allocated with new[] and belongs to the
// caller, who releases it with delete[] (never the entries themselves).
// Bytes are compared as the same 8-bit values whatever the signedness of
// char, and whitespace is isspace() of the unsigned byte value. A NUL
// separator never matches inside the string.
//
// Arguments are not checked. The only failure is std::bad_alloc for the
// array, thrown before str is touched. No state is kept: calls on different
// strings may run in parallel.
class cArgParser {
public:
    // Splits str at every sep. Empty tokens are kept (between adjacent
    // separators, before a leading and after a trailing one) and nothing is
    // trimmed, so there is always one token more than there are separators:
    // an empty str gives one empty token. The array holds exactly those
    // tokens and the null pointer.
    static char **parseList(char *str, char sep);

    // Splits a command word off at sep1, then the rest at sep2. Whitespace
    // is skipped before each token (not after it), so a run of whitespace
    // separators counts as one. A trailing separator adds no empty last
    // token, and an empty or whitespace-only str gives an empty list (first
    // entry null). A separator right where a token starts ends an empty
    // token that points at it. A NUL sep2 makes the rest of the line one
    // token; a NUL sep1 makes the whole line one token.
    static char **parseList(char *str, char sep1, char sep2);

    // Number of entries before the first null pointer.
    static int argCnt(char **list);
};

#endif
