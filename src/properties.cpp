// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "properties.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using Table = std::map<std::string, std::string>;

// Longest line kept, newline not counted; longer lines are dropped whole.
const size_t MAX_LINE = 255;
// Bytes asked of the file per read. It must exceed MAX_LINE, since the start
// of a line cut by the end of a block is carried over into the next read.
const size_t BLOCK_SIZE = 4096;
static_assert(BLOCK_SIZE > MAX_LINE, "a carried-over line must leave room to read");

// A usable line: its key and value, in the order of the file.
struct Pair {
    std::string key;
    std::string value;
};
using Pairs = std::vector<Pair>;

// Adds one line (len bytes at text, newline removed) to pairs.
void addLine(Pairs &pairs, const char *text, size_t len)
{
    // The text ends at a NUL byte, and a comment at the first '#' runs to its end.
    if (const void *nul = std::memchr(text, '\0', len))
        len = static_cast<size_t>(static_cast<const char *>(nul) - text);
    if (const void *hash = std::memchr(text, '#', len))
        len = static_cast<size_t>(static_cast<const char *>(hash) - text);
    const auto *eq = static_cast<const char *>(std::memchr(text, '=', len));
    if (eq == nullptr)
        return;
    pairs.push_back({std::string(text, eq), std::string(eq + 1, text + len)});
}

// Reads every line of file into pairs; false on a read error.
bool readLines(std::FILE *file, Pairs &pairs)
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
                addLine(pairs, p, len);
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
        addLine(pairs, buf, held);
    return true;
}

bool readFile(const char *path, Pairs &pairs)
{
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    const bool ok = readLines(file, pairs);
    std::fclose(file);
    return ok;
}

// a < b in the order of std::string (bytes compared as unsigned char, a
// prefix first), a word at a time in code of its own: the table's own
// comparison calls memcmp, which on the target cost more than all the rest
// of a load.
bool keyLess(const std::string &a, const std::string &b)
{
    using Word = uintptr_t;
    const auto *p = reinterpret_cast<const unsigned char *>(a.data());
    const auto *q = reinterpret_cast<const unsigned char *>(b.data());
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; i + sizeof(Word) <= n; i += sizeof(Word)) {
        Word x, y;
        std::memcpy(&x, p + i, sizeof x);
        std::memcpy(&y, q + i, sizeof y);
        if (x != y) {
            // Byte-swapped, the first differing byte decides the order.
            if (sizeof(Word) == 8)
                return __builtin_bswap64(x) < __builtin_bswap64(y);
            return __builtin_bswap32(static_cast<uint32_t>(x)) <
                   __builtin_bswap32(static_cast<uint32_t>(y));
        }
    }
#endif
    for (; i < n; ++i)
        if (p[i] != q[i])
            return p[i] < q[i];
    return a.size() < b.size();
}

// Bytes at + 0 to at + 7 of key as a number that orders like them (bytes
// past the end as zero, below every byte a key can hold: a NUL ends a
// line's text).
uint64_t prefix(const std::string &key, size_t at)
{
    uint64_t n = 0;
    if (key.size() >= at + 8) {
        std::memcpy(&n, key.data() + at, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        n = __builtin_bswap64(n);
#endif
        return n;
    }
    for (size_t i = at; i < at + 8; ++i)
        n = n << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return n;
}

// Fills table, empty, with pairs: the first occurrence of each key. The
// pairs are sorted by key (and by place in the file among equal keys) and
// then appended at the end of the tree, where each insertion compares with
// the last key only: one comparison a pair rather than one per level of the
// tree on the way down. Keys are told apart by their first 16 bytes, held
// as two numbers next to each pair's place, unless those are equal.
void fill(Table &table, Pairs &pairs)
{
    struct Entry {
        uint64_t head, next; // bytes 0 to 7 and 8 to 15 of the key
        uint32_t at;         // place of the pair in the file
    };
    std::vector<Entry> order(pairs.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = {prefix(pairs[i].key, 0), prefix(pairs[i].key, 8), static_cast<uint32_t>(i)};
    std::sort(order.begin(), order.end(), [&pairs](const Entry &a, const Entry &b) {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.next != b.next)
            return a.next < b.next;
        if (keyLess(pairs[a.at].key, pairs[b.at].key))
            return true;
        return !keyLess(pairs[b.at].key, pairs[a.at].key) && a.at < b.at;
    });
    const std::string *last = nullptr; // the key stored last, in the table
    const Entry *lastEntry = nullptr;
    for (const Entry &e : order) {
        Pair &pair = pairs[e.at];
        // A later occurrence of the key just stored: same 16 bytes, not above it.
        if (last != nullptr && lastEntry->head == e.head && lastEntry->next == e.next &&
            !keyLess(*last, pair.key))
            continue;
        last = &table.emplace_hint(table.end(), std::move(pair.key), std::move(pair.value))->first;
        lastEntry = &e;
    }
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
    Pairs pairs;
    if (path == nullptr || !readFile(path, pairs)) {
        std::cout << "Failed to load input file " << (path != nullptr ? path : "(null)")
                  << std::endl;
        return false;
    }
    Table table;
    fill(table, pairs);
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
    // long is wider than int on 64-bit hosts: saturate as a 32-bit long would.
    const long n = std::strtol(value->c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(n, INT_MIN, INT_MAX));
}
