// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "properties.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace {

using Table = std::map<std::string, std::string>;

// Longest line kept, newline not counted; longer lines are dropped whole.
const size_t MAX_LINE = 255;
// Bytes asked of the file per read. It must exceed MAX_LINE, since the start
// of a line cut by the end of a block is carried over into the next read.
const size_t BLOCK_SIZE = 4096;
static_assert(BLOCK_SIZE > MAX_LINE, "a carried-over line must leave room to read");

// Adds one line (len bytes at text, newline removed) to table, unless its
// key is there already: the first occurrence wins.
void addLine(Table &table, const char *text, size_t len)
{
    // The text ends at a NUL byte, and a comment at the first '#' runs to its end.
    if (const void *nul = std::memchr(text, '\0', len))
        len = static_cast<size_t>(static_cast<const char *>(nul) - text);
    if (const void *hash = std::memchr(text, '#', len))
        len = static_cast<size_t>(static_cast<const char *>(hash) - text);
    const auto *eq = static_cast<const char *>(std::memchr(text, '=', len));
    if (eq == nullptr)
        return;
    table.emplace(std::string(text, eq), std::string(eq + 1, text + len));
}

// Reads every line of file into table; false on a read error.
bool readLines(std::FILE *file, Table &table)
{
    char buf[BLOCK_SIZE];
    size_t held = 0;       // bytes at the front of buf: a line not yet ended
    bool dropping = false; // in a line longer than MAX_LINE: skip to its newline
    size_t n;
    while ((n = std::fread(buf + held, 1, sizeof buf - held, file)) > 0) {
        char *p = buf;
        char *const end = buf + held + n;
        while (auto *nl = static_cast<char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) {
            const auto len = static_cast<size_t>(nl - p);
            if (!dropping && len <= MAX_LINE)
                addLine(table, p, len);
            dropping = false;
            p = nl + 1;
        }
        held = static_cast<size_t>(end - p);
        if (dropping || held > MAX_LINE) {
            dropping = true;
            held = 0;
        } else {
            std::memmove(buf, p, held);
        }
    }
    if (std::ferror(file))
        return false;
    if (held > 0) // a last line without a newline
        addLine(table, buf, held);
    return true;
}

bool readFile(const char *path, Table &table)
{
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    const bool ok = readLines(file, table);
    std::fclose(file);
    return ok;
}

// The value stored for key, or null. A null key is refused the way
// std::string refuses to be built from one.
const std::string *lookup(const Table &table, const char *key)
{
    if (key == nullptr)
        throw std::logic_error("basic_string: construction from null is not valid");
    const auto it = table.find(key);
    return it == table.end() ? nullptr : &it->second;
}

} // namespace

bool cProperties::load(const char *path)
{
    // Built aside and swapped in only once the whole file has been read.
    Table table;
    if (path == nullptr || !readFile(path, table)) {
        std::cout << "Failed to load input file " << (path != nullptr ? path : "(null)")
                  << std::endl;
        return false;
    }
    mTable.swap(table);
    return true;
}

const char *cProperties::getString(const char *key, const char *def)
{
    const std::string *value = lookup(mTable, key);
    return value != nullptr ? value->c_str() : def;
}

int cProperties::getInt(const char *key, int def)
{
    const std::string *value = lookup(mTable, key);
    if (value == nullptr)
        return def;
    // long is wider than int on LP64 machines: saturate as a 32-bit long would.
    const long n = std::strtol(value->c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(n, INT_MIN, INT_MAX));
}
