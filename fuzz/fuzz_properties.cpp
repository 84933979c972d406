// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Loading arbitrary file contents. The input is written to an in-memory file
// and loaded by path; the table must then hold exactly what a plain
// restatement of the line rules gives: every pair it finds is looked up, and
// so are the keys of lines it rejects (which must be absent or hold the
// first occurrence's value).
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "properties.h"

#include "check.h"
#include "line_rules.h"

namespace {

const char *const ABSENT = "<absent>";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int fd = memfd_create("properties", 0);
    CHECK(fd >= 0);
    CHECK(ftruncate(fd, 0) == 0);
    CHECK(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    const std::string text(reinterpret_cast<const char *>(data), size);
    const auto want = referenceParse(text);
    cProperties props;
    CHECK(props.load(path));
    for (const auto &[key, value] : want) {
        CHECK(value == props.getString(key.c_str(), ABSENT));
        const long n = std::strtol(value.c_str(), nullptr, 10);
        const long clamped = n < INT_MIN ? INT_MIN : n > INT_MAX ? INT_MAX : n;
        CHECK(props.getInt(key.c_str(), -1) == static_cast<int>(clamped));
    }
    // Keys cut from raw lines, accepted or not, must not be found unless the rules stored them.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::string key = line.substr(0, line.find_first_of(std::string("=\0", 2)));
        const char *got = props.getString(key.c_str(), ABSENT);
        CHECK((want.count(key.c_str()) != 0) == (got != ABSENT));
        start = end + 1;
    }
    return 0;
}
