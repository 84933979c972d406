// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "fixture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace live {

std::string startTap(Child &tap, const std::string &what)
{
    const std::string app = tap.appEnd();
    EXPECT_FALSE(app.empty()) << what << ": the tap named no application's end: " << tap.errText;
    return app;
}

int openApp(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << "opening the application's end " << path << ": " << std::strerror(errno);
    return fd;
}

bool listed(const Child &run, const std::string &text)
{
    return waitFor([&]() { return run.output().find(text) != std::string::npos; }, START_MS);
}

bool said(Child &run, const std::string &text, int ms)
{
    return waitFor(
        [&]() {
            run.drainErr();
            return run.errText.find(text) != std::string::npos;
        },
        ms);
}

bool monitorStarted(Child &run)
{
    return waitFor(
        [&]() {
            run.drainErr();
            return run.errText.find("vemlink monitor: ") != std::string::npos || run.exited(0);
        },
        START_MS);
}

std::vector<std::string> rowsOf(const std::string &listing, char mark)
{
    std::vector<std::string> rows;
    double last = 0;
    for (const std::string &l : lines(listing)) {
        if (l.size() < 12 || l[11] != mark || l.compare(0, 7, "summary") == 0 ||
            l.compare(0, 10, "      time") == 0)
            continue;
        if (l.compare(0, 10, "          ") == 0) { // a partial frame at the end
            rows.push_back(l.substr(12));
            continue;
        }
        EXPECT_TRUE(timed(l)) << "line without a time: " << l;
        const double t = std::atof(l.c_str());
        EXPECT_GE(t, last) << "time goes back at: " << l;
        last = t;
        rows.push_back(l.substr(12));
    }
    return rows;
}

} // namespace live

// The vemlink to run, with the emulator's words before it in a cross build:
// the build's own, or VEMLINK and VEMLINK_EMULATOR (words split at spaces)
// from the environment, to test another binary.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const char *vemlink = std::getenv("VEMLINK");
    const char *emulator = std::getenv("VEMLINK_EMULATOR");
    std::istringstream words(emulator != nullptr ? emulator : VEMLINK_EMULATOR);
    for (std::string w; words >> w;)
        live::command().push_back(w);
    live::command().emplace_back(vemlink != nullptr ? vemlink : VEMLINK_PATH);
    std::signal(SIGPIPE, SIG_IGN);
    return RUN_ALL_TESTS();
}
