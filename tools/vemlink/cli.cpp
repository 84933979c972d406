// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "cli.h"
#include "listing/output.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

bool isHelp(const char *arg)
{
    return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0;
}

bool isOption(const char *arg)
{
    return arg[0] == '-' && arg[1] != '\0';
}

bool takeValue(int argc, char **argv, int &i, const char *name, const char *&value)
{
    const size_t len = std::strlen(name);
    if (std::strncmp(argv[i], name, len) != 0)
        return false;
    if (argv[i][len] == '=') {
        value = argv[i] + len + 1;
        return true;
    }
    if (argv[i][len] != '\0')
        return false;
    value = i + 1 < argc ? argv[++i] : nullptr;
    return true;
}

int usageError(const char *command, const std::string &message)
{
    std::fprintf(stderr, "vemlink %s: %s\nTry 'vemlink %s --help'.\n", command, message.c_str(),
                 command);
    return STATUS_USAGE;
}

int failure(const char *command, const std::string &message)
{
    output::error(command, message);
    return STATUS_FAILED;
}

int openInput(const char *path)
{
    if (std::strcmp(path, "-") == 0)
        return STDIN_FILENO;
    return open(path, O_RDONLY | O_CLOEXEC);
}

bool readAll(int fd, std::vector<unsigned char> &bytes)
{
    bool over = false;
    return readAtMost(fd, bytes, SIZE_MAX - 1, over);
}

bool readAtMost(int fd, std::vector<unsigned char> &bytes, size_t limit, bool &over)
{
    unsigned char chunk[4096];
    over = false;
    while (bytes.size() <= limit) {
        // One byte past the limit is enough to know the input is too long.
        const size_t room = limit + 1 - bytes.size();
        const ssize_t n = read(fd, chunk, room < sizeof chunk ? room : sizeof chunk);
        if (n == 0)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    over = true;
    return true;
}

bool parseDuration(const char *option, const char *text, double &seconds, std::string &error)
{
    if (text != nullptr && parseDuration(text, seconds))
        return true;
    error = std::string(option) + " needs a duration with its unit (us, ms or s), for example " +
            "50ms or 1.5s" +
            (text != nullptr ? std::string(", not '") + text + "'" : std::string());
    return false;
}

int payloadTooLong(const char *command, size_t len, bool more)
{
    return usageError(command, "payload of " + std::string(more ? "more than " : "") +
                                   std::to_string(more ? frame::MAX_PAYLOAD : len) +
                                   " bytes; a frame carries at most " +
                                   std::to_string(frame::MAX_PAYLOAD));
}

int finishOutput(const char *command)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return output::finish(command, 0);
    return failure(command, errno == EPIPE
                                ? std::string("standard output was closed")
                                : std::string("writing standard output: ") + std::strerror(errno));
}

bool parseDuration(const char *text, double &seconds)
{
    // Digits and at most one point, then the unit: no sign, no exponent,
    // no blank, so that "1e3ms" or " 5ms" are not taken for what they are not.
    const char *p = text;
    bool digits = false;
    bool point = false;
    for (; (*p >= '0' && *p <= '9') || (*p == '.' && !point); ++p) {
        digits = digits || *p != '.';
        point = point || *p == '.';
    }
    if (!digits)
        return false;
    const struct {
        const char *unit;
        double scale;
    } units[] = {{"us", 1e-6}, {"ms", 1e-3}, {"s", 1.0}};
    for (const auto &u : units) {
        if (std::strcmp(p, u.unit) != 0)
            continue;
        seconds = std::strtod(std::string(text, p).c_str(), nullptr) * u.scale;
        return std::isfinite(seconds);
    }
    return false;
}
