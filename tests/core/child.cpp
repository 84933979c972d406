// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "child.h"

#include <cerrno>
#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

std::string inChild(const std::function<std::string()> &check, unsigned guardSeconds)
{
    int report[2];
    if (pipe(report) != 0)
        return std::string("pipe: ") + std::strerror(errno);
    const pid_t pid = fork();
    if (pid < 0)
        return std::string("fork: ") + std::strerror(errno);
    if (pid == 0) {
        close(report[0]);
        if (guardSeconds > 0)
            alarm(guardSeconds);
        const std::string found = check();
        const ssize_t ignored = write(report[1], found.data(), found.size());
        (void)ignored;
        _exit(found.empty() ? 0 : 1);
    }
    close(report[1]);
    std::string found;
    char buf[256];
    ssize_t n;
    while ((n = read(report[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            found.append(buf, static_cast<size_t>(n));
    close(report[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return found + "child killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    if (WEXITSTATUS(status) != 0 && found.empty())
        return "child exited " + std::to_string(WEXITSTATUS(status));
    return found;
}
