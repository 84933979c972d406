// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_PROPERTIES_H
#define VEMUTILS_PROPERTIES_H

// A table of key=value pairs read from a text file, with string and integer
// lookups that fall back to a default supplied by the caller.
//
// File format: lines end at a newline byte (the last one needs none). A NUL
// byte ends a line's text and the first '#' starts a comment running to the
// end of the line. What is left is skipped silently when it is empty or holds
// no '='; otherwise the key is everything before the first '=' and the value
// everything after it, either possibly empty. Nothing is trimmed: spaces,
// tabs and a carriage return before the newline stay in the key or value.
// When a key occurs more than once, the first occurrence wins. A line of more
// than 255 characters (newline not counted) is dropped whole and reading
// goes on with the next line.
//
// The table owns copies of every key and value. Keys are case-sensitive and
// compared byte by byte. No locking: load must not overlap lookups on the
// same object; lookups alone only read and may run concurrently.
#include <map>
#include <string>

class cProperties {
public:
    // Reads the whole file at path into a new table that then replaces the
    // old one; returns true, also when no line was usable. When path is null,
    // cannot be opened or cannot be read to its end, writes "Failed to load
    // input file <path>\n" ("(null)" for a null path) to std::cout, flushes
    // it, returns false and keeps the previous table whole.
    bool load(const char *path);

    // Returns the value stored for key, or def itself (possibly null) when
    // the key is absent. The characters belong to the table and stay valid
    // until the next successful load or the object's destruction. A null key
    // throws std::logic_error.
    const char *getString(const char *key, const char *def);

    // Returns the value stored for key read as a decimal number by strtol
    // (leading whitespace and a sign accepted, stops at the first non-digit,
    // 0 when there are no digits), saturated to INT_MIN..INT_MAX; def when
    // the key is absent. A null key throws std::logic_error.
    int getInt(const char *key, int def);

private:
    std::map<std::string, std::string> mTable;
};

#endif
