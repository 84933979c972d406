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

// Adds one line to table: the len bytes at text, already cut at the
// newline, at a NUL byte and at a comment's '#'.
void addLine(Table &table, const char *text, size_t len)
{
    const auto *eq = static_cast<const char *>(std::memchr(text, '=', len));
    if (eq == nullptr)
        return;
    // emplace keeps the first occurrence of a key. It builds the pair in its
    // node and then makes one descent of the tree; try_emplace would descend,
    // then compare twice more around the spot it found.
    table.emplace(std::piecewise_construct, std::forward_as_tuple(text, eq),
                  std::forward_as_tuple(eq + 1, text + len));
}

// The next c in [p, end): NUL bytes and '#' are rare, so one search serves
// every line up to the byte it finds instead of one search a line.
class NextByte {
public:
    NextByte(char c, const char *end) : mC(c), mEnd(end) {}

    // The first c at or after p, or end.
    const char *from(const char *p)
    {
        if (mAt == nullptr || mAt < p) {
            mAt = static_cast<const char *>(std::memchr(p, mC, static_cast<size_t>(mEnd - p)));
            if (mAt == nullptr)
                mAt = mEnd;
        }
        return mAt;
    }

private:
    const char mC;
    const char *const mEnd;
    const char *mAt = nullptr; // the last answer; null before the first
};

// The end of the text of the line from p to eol: its first NUL or '#'.
const char *textEnd(const char *p, const char *eol, NextByte &nul, NextByte &hash)
{
    return std::min({eol, nul.from(p), hash.from(p)});
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
        NextByte nul('\0', end);
        NextByte hash('#', end);
        while (auto *nl = static_cast<char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) {
            const auto len = static_cast<size_t>(nl - p);
            if (!dropping && len <= MAX_LINE)
                addLine(table, p, static_cast<size_t>(textEnd(p, nl, nul, hash) - p));
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
    if (held > 0) { // a last line without a newline
        NextByte nul('\0', buf + held);
        NextByte hash('#', buf + held);
        addLine(table, buf, static_cast<size_t>(textEnd(buf, buf + held, nul, hash) - buf));
    }
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
    // long is wider than int on 64-bit hosts: saturate as a 32-bit long would.
    const long n = std::strtol(value->c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(n, INT_MIN, INT_MAX));
}
