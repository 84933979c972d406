// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "reconnect.h"

#include <cstdio>

#include <unistd.h>

namespace live {

Plug::Plug(const std::string &path, Away how, const std::string &log)
    : path(path), how(how), log(log)
{
    if (how == Away::RENAMED) {
        EXPECT_EQ(symlink(dev.path.c_str(), path.c_str()), 0) << "symlink " << path;
    } else {
        EXPECT_TRUE(plugIn()) << "socat made no " << path;
    }
}

bool Plug::plugIn()
{
    if (how == Away::RENAMED)
        return std::rename((path + ".away").c_str(), path.c_str()) == 0;
    adapter = std::make_unique<Adapter>(dev.path, path, log);
    return adapter->ready;
}

void Plug::pull()
{
    if (how == Away::RENAMED) {
        EXPECT_EQ(std::rename(path.c_str(), (path + ".away").c_str()), 0) << "rename " << path;
        return;
    }
    adapter->run.stop(SIGTERM);
    adapter.reset();
}

Linked::Linked(Kind kind, Away how, const Live &test, const std::vector<std::string> &extra,
               bool unusual)
    : kind(kind)
{
    const int n = kind == Kind::MONITOR ? 2 : 1;
    std::vector<std::string> args = {kind == Kind::TAP      ? "tap"
                                     : kind == Kind::DECODE ? "decode"
                                                            : "monitor"};
    if (kind == Kind::DECODE)
        args.emplace_back("--device");
    for (int k = 0; k < n; ++k) {
        plugs.push_back(std::make_unique<Plug>(test.path(std::string("ttyUSB-") + "AB"[k]), how,
                                               test.path("socat")));
        args.push_back(plugs.back()->path);
        if (unusual)
            before.push_back(unusualSettings(plugs.back()->dev.slave));
    }
    args.insert(args.end(), extra.begin(), extra.end());
    run = std::make_unique<Child>(args, test.path("listing"));
}

Linked::~Linked()
{
    if (app >= 0)
        close(app);
}

bool Linked::started()
{
    if (kind == Kind::TAP) {
        const std::string end = startTap(*run, "reconnect");
        app = end.empty() ? -1 : openApp(end);
        return app >= 0;
    }
    if (kind == Kind::MONITOR)
        return monitorStarted(*run) && !run->exited(0);
    pause(500); // decode says nothing at its start: the device set up
    return !run->exited(0);
}

void Linked::through(int k, const std::string &payload)
{
    Plug &p = *plugs[static_cast<size_t>(k)];
    const Bytes f = frame(text(payload.c_str()));
    if (kind == Kind::TAP) {
        EXPECT_TRUE(sendAll(app, f));
        EXPECT_EQ(receive(p.dev.master, f.size()), f)
            << payload << ": lost on its way to the device";
        EXPECT_TRUE(sendAll(p.dev.master, f));
        EXPECT_EQ(receive(app, f.size()), f) << payload << ": lost on its way to the application";
        ++toApp;
        ++toDevice[0];
        return;
    }
    EXPECT_TRUE(sendAll(p.dev.master, f));
    EXPECT_TRUE(listed(*run, "|" + payload + "|")) << payload << " not listed:\n" << run->output();
    ++toDevice[k];
}

std::string Linked::event(int k, const std::string &what) const
{
    const std::string mark = kind == Kind::TAP      ? "  "
                             : kind == Kind::DECODE ? ""
                                                    : std::string(1, "><"[k]) + " ";
    return mark + what + "\n";
}

int Linked::stop(int sig)
{
    if (sig == 0)
        sig = kind == Kind::TAP ? SIGTERM : SIGINT;
    return run->stop(sig);
}

bool Linked::settingsBack() const
{
    for (size_t k = 0; k < before.size(); ++k)
        if (!live::settingsBack(plugs[k]->dev.slave, before[k]))
            return false;
    return !before.empty();
}

void goneAndBack(Linked &l, int k)
{
    Plug &p = *l.plugs[static_cast<size_t>(k)];
    p.pull();
    EXPECT_TRUE(listed(*l.run, l.event(k, "device gone, waiting")))
        << "'device gone, waiting' not listed:\n"
        << l.run->output();
    if (l.kind == Kind::TAP) {
        EXPECT_TRUE(sendAll(l.app, frame(text("lost"))));
        pause(300);
    }
    if (l.kind == Kind::MONITOR)
        l.through(1 - k, "meanwhile");
    EXPECT_TRUE(p.plugIn()) << p.path << " did not come back";
    EXPECT_TRUE(listed(*l.run, l.event(k, "device back"))) << "'device back' not listed:\n"
                                                           << l.run->output();
}

} // namespace live
