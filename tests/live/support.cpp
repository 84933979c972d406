// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "support.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hdlc.h"

namespace live {

std::vector<std::string> &command()
{
    static std::vector<std::string> words;
    return words;
}

bool emulated()
{
    return command().size() > 1;
}

int soon(int ms)
{
    return emulated() ? 10 * ms : ms;
}

int msSince(Clock::time_point t)
{
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

void pause(int ms)
{
    usleep(static_cast<useconds_t>(ms) * 1000);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

long long fileSize(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

Pty::Pty()
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
        std::perror("posix_openpt");
        std::exit(1);
    }
    path = ptsname(master);
    slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
}

Pty::~Pty()
{
    hangUp();
    if (slave >= 0)
        close(slave);
}

void Pty::hangUp()
{
    if (master >= 0)
        close(master);
    master = -1;
}

namespace {

// In the child between fork and exec: its own process group, death with the
// parent, the descriptors and signals asked for.
[[noreturn]] void child(pid_t parent, const std::vector<std::string> &words, const Start &how,
                        int errPipe)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) // the parent died before the line above
        _exit(127);
    const int in = open(how.inPath.c_str(), O_RDONLY);
    const int o = how.outFd >= 0
                      ? how.outFd
                      : open(how.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dup2(in, 0);
    dup2(o, 1);
    dup2(how.errFd >= 0 ? how.errFd : errPipe, 2);
    for (const int fd : how.closed)
        close(fd);
    std::signal(SIGPIPE, SIG_DFL); // as a shell starts it
    for (const int sig : how.ignored)
        std::signal(sig, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char *> argv;
    for (const std::string &w : words)
        argv.push_back(const_cast<char *>(w.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

} // namespace

Child::Child(const std::vector<std::string> &args, const Start &how) : out(how.outPath)
{
    int pipeFd[2];
    if (pipe2(pipeFd, O_CLOEXEC) < 0) {
        std::perror("pipe2");
        std::exit(1);
    }
    std::vector<std::string> words = how.plain ? std::vector<std::string>() : command();
    words.insert(words.end(), args.begin(), args.end());
    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0)
        child(parent, words, how, pipeFd[1]);
    setpgid(pid, pid); // as the child does, so that a kill of the group at once finds it
    close(pipeFd[1]);
    err = pipeFd[0];
    fcntl(err, F_SETFL, O_NONBLOCK);
}

Child::Child(const std::vector<std::string> &args, const std::string &outPath,
             const std::string &inPath, int outFd, bool plain)
    : Child(args, [&]() {
          Start how;
          how.outPath = outPath;
          how.inPath = inPath;
          how.outFd = outFd;
          how.plain = plain;
          return how;
      }())
{
}

Child::~Child()
{
    if (pid > 0) {
        kill(-pid, SIGKILL); // the group: an emulator's helpers too
        if (status < 0)
            waitpid(pid, nullptr, 0);
    }
    close(err);
}

void Child::drainErr()
{
    errText += drain(err);
}

std::string Child::appEnd()
{
    static const std::string said = "application's end is ";
    const auto start = Clock::now();
    while (msSince(start) < START_MS) {
        pollfd p{err, POLLIN, 0};
        poll(&p, 1, 100);
        drainErr();
        const size_t at = errText.find(said);
        if (at != std::string::npos && errText.find('\n', at) != std::string::npos)
            return errText.substr(at + said.size(),
                                  errText.find_first_of(",\n", at) - at - said.size());
        if (exited(0))
            break;
    }
    return "";
}

bool Child::exited(int ms)
{
    if (status >= 0)
        return true;
    const auto start = Clock::now();
    do {
        int st = 0;
        rusage use{};
        if (wait4(pid, &st, WNOHANG, &use) == pid) {
            status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            maxRssKb = use.ru_maxrss;
            drainErr();
            return true;
        }
        if (ms > 0)
            pause(10);
    } while (msSince(start) < ms);
    return false;
}

int Child::stop(int sig)
{
    kill(pid, sig);
    return exited(EXIT_MS) ? status : -1;
}

double Child::cpuSeconds() const
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string f;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i)
        if (i == 14 || i == 15)
            ticks += std::stol(f);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

Bytes frame(const Bytes &payload)
{
    static cHDLC framer;
    Bytes f(2 * payload.size() + 6);
    int len = 0;
    framer.frameData(const_cast<unsigned char *>(payload.data()), static_cast<int>(payload.size()),
                     f.data(), &len);
    f.resize(static_cast<size_t>(len));
    return f;
}

Bytes text(const char *s)
{
    return Bytes(s, s + std::strlen(s));
}

void append(Bytes &to, const Bytes &b)
{
    to.insert(to.end(), b.begin(), b.end());
}

bool sendAll(int fd, const Bytes &b)
{
    size_t done = 0;
    const auto start = Clock::now();
    while (done < b.size() && msSince(start) < STALL_MS) {
        const ssize_t k = write(fd, b.data() + done, b.size() - done);
        if (k > 0)
            done += static_cast<size_t>(k);
        else
            pause(1);
    }
    return done == b.size();
}

Bytes receive(int fd, size_t n, int ms)
{
    Bytes got;
    unsigned char chunk[4096];
    const auto start = Clock::now();
    while (got.size() < n && msSince(start) < ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t k = read(fd, chunk, std::min(sizeof chunk, n - got.size()));
        if (k > 0)
            got.insert(got.end(), chunk, chunk + k);
    }
    return got;
}

std::string drain(int fd)
{
    std::string got;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        got.append(chunk, static_cast<size_t>(n));
    return got;
}

namespace {

// One pass of pump over one way: writes what may go, reads what came.
void move(Way &w, const pollfd &out, const pollfd &in, Clock::time_point start,
          Clock::time_point &moved)
{
    unsigned char chunk[65536];
    if ((out.revents & POLLOUT) != 0) {
        const size_t n = std::min(sizeof chunk, w.send.size() - w.sent);
        const ssize_t k = write(w.to, w.send.data() + w.sent, n);
        if (k > 0) {
            w.sent += static_cast<size_t>(k);
            moved = Clock::now();
        }
    }
    if ((in.revents & POLLIN) != 0) {
        const ssize_t k = read(w.from, chunk, sizeof chunk);
        if (k > 0) {
            w.got.insert(w.got.end(), chunk, chunk + k);
            moved = Clock::now();
            if (w.got.size() >= w.send.size())
                w.seconds = std::chrono::duration<double>(moved - start).count();
        }
    }
}

} // namespace

void pump(Way &a, Way &b)
{
    const auto start = Clock::now();
    auto moved = start;
    Way *ways[2] = {&a, &b};
    while ((a.got.size() < a.send.size() || b.got.size() < b.send.size()) &&
           msSince(moved) < STALL_MS) {
        pollfd fds[4];
        for (int i = 0; i < 2; ++i) {
            Way &w = *ways[i];
            fds[2 * i] = {w.to, static_cast<short>(w.sent < w.send.size() ? POLLOUT : 0), 0};
            fds[2 * i + 1] = {w.from, POLLIN, 0};
        }
        if (poll(fds, 4, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i)
            move(*ways[i], fds[2 * i], fds[2 * i + 1], start, moved);
    }
}

Bytes traffic(unsigned seed, size_t n, long &good)
{
    std::mt19937 rng(seed);
    auto between = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto plain = [&]() {
        int v;
        do
            v = between(0, 255);
        while (v == 0x7E || v == 0x7D);
        return static_cast<unsigned char>(v);
    };
    Bytes out;
    good = 0;
    while (out.size() < n) {
        const int kind = between(0, 9);
        Bytes payload(static_cast<size_t>(between(0, 1) ? between(0, 64) : between(0, 1021)));
        for (unsigned char &b : payload)
            b = kind < 3 && between(0, 1) ? (between(0, 1) ? 0x7E : 0x7D)
                                          : static_cast<unsigned char>(between(0, 255));
        if (kind < 6) {
            append(out, frame(payload));
            ++good;
        } else if (kind == 6) {
            // One plain byte changed for another: the FCS catches every
            // single-byte error.
            payload.push_back(plain());
            Bytes f = frame(payload);
            for (size_t i = 1; i + 1 < f.size(); ++i)
                if (f[i] != 0x7E && f[i] != 0x7D) {
                    unsigned char c;
                    do
                        c = plain();
                    while (c == f[i]);
                    f[i] = c;
                    break;
                }
            append(out, f);
        } else if (kind == 7) {
            out.push_back(0x7E);
            for (int i = between(1024, 1500); i > 0; --i)
                out.push_back(plain());
            out.push_back(0x7E);
        } else if (kind == 8) {
            for (int i = between(1, 40); i > 0; --i)
                out.push_back(static_cast<unsigned char>(between(0, 255)));
        } else {
            out.insert(out.end(), static_cast<size_t>(between(1, 3)), 0x7E);
        }
    }
    return out;
}

Summary summary(const std::string &listing, const std::string &label)
{
    Summary s;
    const size_t at = listing.find("\nsummary" + label + ": ");
    if (at == std::string::npos ||
        std::sscanf(listing.c_str() + at + 10 + label.size(),
                    "frames %ld (ok %ld, crc-error %ld, dropped %ld, partial %ld), bytes %lld",
                    &s.frames, &s.ok, &s.crc, &s.dropped, &s.partial, &s.bytes) != 6)
        return Summary();
    return s;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

bool timed(const std::string &l)
{
    size_t i = l.find_first_not_of(' ');
    if (i == std::string::npos || i >= 10 || l.size() < 11 || l[10] != ' ')
        return false;
    const size_t point = l.find('.', i);
    if (point != 3 || point == i)
        return false;
    for (; i < 10; ++i)
        if (i != point && (l[i] < '0' || l[i] > '9'))
            return false;
    return true;
}

std::string status(const std::string &row)
{
    std::istringstream f(row);
    std::string offset, length, s;
    f >> offset >> length >> s;
    return s;
}

termios unusualSettings(int slave)
{
    termios before{};
    tcgetattr(slave, &before);
    before.c_lflag |= ICANON | ISIG;
    before.c_iflag |= ICRNL;
    cfsetspeed(&before, B9600);
    tcsetattr(slave, TCSANOW, &before);
    tcgetattr(slave, &before);
    return before;
}

bool settingsBack(int slave, const termios &before)
{
    termios after{};
    tcgetattr(slave, &after);
    return after.c_iflag == before.c_iflag && after.c_oflag == before.c_oflag &&
           after.c_cflag == before.c_cflag && after.c_lflag == before.c_lflag &&
           cfgetospeed(&after) == cfgetospeed(&before);
}

std::string settingsOf(int fd)
{
    static const struct {
        speed_t speed;
        const char *name;
    } SPEEDS[] = {{B1200, "1200"},     {B9600, "9600"},     {B57600, "57600"},
                  {B115200, "115200"}, {B460800, "460800"}, {B4000000, "4000000"}};
    termios tio{};
    if (tcgetattr(fd, &tio) < 0)
        return std::string("tcgetattr: ") + std::strerror(errno);
    std::string text = "other";
    for (const auto &s : SPEEDS)
        if (cfgetospeed(&tio) == s.speed)
            text = s.name;
    if ((tio.c_cflag & CSTOPB) != 0)
        text += " cstopb";
    if ((tio.c_cflag & CRTSCTS) != 0)
        text += " crtscts";
    if ((tio.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF))
        text += " ixon ixoff";
    return text;
}

Adapter::Adapter(const std::string &device, const std::string &link, const std::string &log)
    : run({"socat", device + ",raw,echo=0", "PTY,raw,echo=0,link=" + link}, log, "/dev/null", -1,
          true)
{
    ready = waitFor([&]() { return access(link.c_str(), F_OK) == 0; }, START_MS);
}

} // namespace live
