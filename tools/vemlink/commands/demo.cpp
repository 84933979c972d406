// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink demo: a host that reads its configuration, carries packets over a
// pseudo-terminal with cHDLC, injects bit errors on the wire, takes the
// received commands apart with cArgParser and checks everything against what
// was sent.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <random>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <log4cpp/PropertyConfigurator.hh>

#include "cli.h"
#include "hdlc.h"
#include "serial/link.h"
#include "commands/traffic.h"
#include "vemconfig.h"

namespace {

const char *const USAGE =
    "usage: vemlink demo [--config FILE]\n"
    "\n"
    "Carries packets over a pseudo-terminal pair, framed at one end and taken\n"
    "apart byte by byte at the other, with bit errors on the wire if asked, and\n"
    "checks every one.\n"
    "\n"
    "  --config FILE   a properties file of settings: demo.packets,\n"
    "                  demo.payload_min, demo.payload_max,\n"
    "                  demo.errors_per_million, demo.seed, log.config\n"
    "\n"
    "See vemlink(1) for the settings and the exit status.\n";

// Without any byte moving for this long the link is taken to be stuck.
const int STALL_MS = 3000;
// Least time between two progress lines.
const auto PROGRESS_EVERY = std::chrono::milliseconds(100);
// One damaged byte in ten: far beyond any usable link, and the frames still
// get through often enough to show something.
const int MAX_ERRORS_PER_MILLION = 100000;
// Bytes of frames gathered for the link before they are written.
const int SEND_BUFFER = 4096;
// Bytes asked of one read on the receiving end.
const size_t READ_CHUNK = 4096;

struct Settings {
    int packets = 20000;
    int payloadMin = 0;
    int payloadMax = frame::MAX_PAYLOAD;
    int errorsPerMillion = 0;
    int seed = 1;
    std::string logConfig;
};

struct Stats {
    long sent = 0;
    long intact = 0;
    long rejected = 0;  // frames the FCS check turned away
    long corrupt = 0;   // frames that passed the check but match no packet sent
    long commands = 0;  // command packets split and compared
    long misparsed = 0; // of those, split into other words than were sent
    long long payloadBytes = 0;
    long long wireBytes = 0;
    long long escapes = 0;
    long long bitErrors = 0;
};

// cConfig::load tells of a file it cannot open on standard output, and
// without the reason; the file is tried here first, so that the message goes
// to standard error with the reason and standard output stays clean.
bool readable(const char *path, std::string &error)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    char byte;
    if (fd >= 0 && read(fd, &byte, 1) >= 0) {
        close(fd);
        return true;
    }
    error = std::string("cannot read the configuration ") + path + ": " + std::strerror(errno);
    if (fd >= 0)
        close(fd);
    return false;
}

// Reads the settings, from path when one is given, and checks their ranges.
bool readSettings(const char *path, Settings &s, std::string &error)
{
    if (path != nullptr && !readable(path, error))
        return false;
    if (path != nullptr && !cConfig::load(path)) {
        error = std::string("cannot load the configuration ") + path;
        return false;
    }
    s.packets = cConfig::getInt("demo.packets", s.packets);
    s.payloadMin = cConfig::getInt("demo.payload_min", s.payloadMin);
    s.payloadMax = cConfig::getInt("demo.payload_max", s.payloadMax);
    s.errorsPerMillion = cConfig::getInt("demo.errors_per_million", s.errorsPerMillion);
    s.seed = cConfig::getInt("demo.seed", s.seed);
    s.logConfig = cConfig::getString("log.config", "");
    if (!s.logConfig.empty() && s.logConfig[0] != '/' && path != nullptr) {
        const char *slash = std::strrchr(path, '/');
        if (slash != nullptr)
            s.logConfig.insert(0, path, static_cast<size_t>(slash - path + 1));
    }

    if (s.packets < 1)
        error = "demo.packets must be at least 1";
    else if (s.payloadMin < 0 || s.payloadMin > s.payloadMax || s.payloadMax > frame::MAX_PAYLOAD)
        error = "need 0 <= demo.payload_min <= demo.payload_max <= " +
                std::to_string(frame::MAX_PAYLOAD);
    else if (s.errorsPerMillion < 0 || s.errorsPerMillion > MAX_ERRORS_PER_MILLION)
        error = "demo.errors_per_million must be 0 to " + std::to_string(MAX_ERRORS_PER_MILLION);
    return error.empty();
}

// The sending end: frames packets into a buffer that is written to the link
// as fast as it takes them, and damages bytes where the error process says
// before they go on the wire.
class Sender {
public:
    // The errors come from an engine of their own, seeded apart from the
    // traffic's, so that the rate changes where bits flip but not the packets.
    Sender(const Settings &s, Stats &stats)
        : mNoise(static_cast<unsigned>(s.seed) ^ 0x5eedu), mStats(stats),
          mGap(s.errorsPerMillion > 0 ? s.errorsPerMillion / 1e6 : 0.5),
          mErrors(s.errorsPerMillion > 0)
    {
        if (mErrors)
            mNextError = mGap(mNoise);
    }

    bool pending() const { return mDone < mLen; }
    // Room for one more frame: all written (the buffer starts over), or space left.
    bool hasRoom() const
    {
        return !pending() || mLen + MAX_FRAME <= static_cast<int>(sizeof mWire);
    }

    // Appends the frame of p; call only while hasRoom().
    void load(const Packet &p)
    {
        if (!pending())
            mLen = mDone = 0;
        const int len = static_cast<int>(p.bytes.size());
        unsigned char *frame = mWire + mLen;
        int frameLen = 0;
        mFramer.frameData(const_cast<unsigned char *>(p.bytes.data()), len, frame, &frameLen);
        mStats.payloadBytes += len;
        mStats.escapes += frameLen - len - 4; // less the flags and the FCS itself
        const long long end = mStats.wireBytes + frameLen;
        for (; mErrors && mNextError < end; mNextError += 1 + mGap(mNoise)) {
            frame[mNextError - mStats.wireBytes] ^=
                static_cast<unsigned char>(1u << (mNoise() & 7));
            ++mStats.bitErrors;
        }
        mStats.wireBytes = end;
        mLen += frameLen;
    }

    // Writes what the link takes; false on a write error.
    bool write(int fd)
    {
        const ssize_t n = ::write(fd, mWire + mDone, static_cast<size_t>(mLen - mDone));
        if (n > 0)
            mDone += static_cast<int>(n);
        return n >= 0 || errno == EAGAIN || errno == EINTR;
    }

private:
    // The longest frame: every payload and FCS byte stuffed, and two flags.
    static const int MAX_FRAME = 2 * (frame::MAX_PAYLOAD + 2) + 2;

    cHDLC mFramer;
    unsigned char mWire[SEND_BUFFER + MAX_FRAME];
    int mLen = 0;  // bytes framed into mWire
    int mDone = 0; // bytes of them written to the link
    std::mt19937 mNoise;
    Stats &mStats;
    std::geometric_distribution<long long> mGap; // intact bytes before the next error
    bool mErrors;
    long long mNextError = 0; // wire offset of the next damaged byte
};

// The receiving end: every byte through unFrameByte, every payload matched
// against the packets on their way.
class Receiver {
public:
    explicit Receiver(Stats &stats) : mStats(stats) {}

    // Announces a packet whose frame is going on the wire.
    void expect(Packet p) { mOnTheWay.push_back(std::move(p)); }

    void feed(const unsigned char *p, size_t n)
    {
        for (const unsigned char *end = p + n; p != end; ++p) {
            if (!mReceiver.take(*p))
                continue;
            // As a host sees it: whatever the framer delivers.
            if (mReceiver.delivered())
                deliver(mReceiver.payloadLength());
            else if (mReceiver.checkFailed())
                ++mStats.rejected;
        }
    }

private:
    // Frames arrive in order, so a payload is the oldest packet it equals
    // that is still on its way; the older ones will not come any more.
    void deliver(int len)
    {
        auto same = [&](const Packet &p) {
            return p.bytes.size() == static_cast<size_t>(len) &&
                   std::equal(p.bytes.begin(), p.bytes.end(), mReceiver.payload());
        };
        const auto it = std::find_if(mOnTheWay.begin(), mOnTheWay.end(), same);
        if (it == mOnTheWay.end()) {
            ++mStats.corrupt;
            return;
        }
        if (!it->words.empty()) {
            std::memcpy(mLine, mReceiver.payload(), static_cast<size_t>(len));
            mLine[len] = '\0';
            ++mStats.commands;
            mStats.misparsed += sameWords(mLine, it->words) ? 0 : 1;
        }
        ++mStats.intact;
        mOnTheWay.erase(mOnTheWay.begin(), it + 1);
    }

    cHDLC mFramer;
    frame::Receiver mReceiver{mFramer};
    char mLine[frame::MAX_PAYLOAD + 1];
    std::deque<Packet> mOnTheWay;
    Stats &mStats;
};

void progress(const Stats &s, const Settings &settings)
{
    std::fprintf(stderr, "\r  sent %ld/%d  intact %ld  rejected %ld  corrupt %ld ", s.sent,
                 settings.packets, s.intact, s.rejected, s.corrupt);
}

void summary(const Stats &s, const Settings &settings, const std::string &device, double seconds)
{
    const long lost = s.sent - s.intact;
    const long long framed = s.payloadBytes + 2 * s.sent; // payload and FCS, unstuffed
    std::printf("vemlink demo over %s: payloads %d-%d bytes, %d errors per million bytes, "
                "seed %d\n",
                device.c_str(), settings.payloadMin, settings.payloadMax, settings.errorsPerMillion,
                settings.seed);
    std::printf("  packets sent        %9ld\n", s.sent);
    std::printf("  received intact     %9ld\n", s.intact);
    std::printf("  rejected by CRC     %9ld  frames that failed the FCS check\n", s.rejected);
    std::printf("  lost                %9ld  packets sent and not received intact\n", lost);
    std::printf("  corrupt accepted    %9ld  frames that passed the check, unlike any packet "
                "sent\n",
                s.corrupt);
    std::printf("  commands checked    %9ld  split with cArgParser, %ld not as sent\n", s.commands,
                s.misparsed);
    std::printf("  bytes on the wire   %9lld  %lld bits flipped\n", s.wireBytes, s.bitErrors);
    std::printf("  stuffing overhead   %9lld  escape bytes, %.2f%% of payload and FCS\n", s.escapes,
                framed > 0 ? 100.0 * static_cast<double>(s.escapes) / framed : 0.0);
    std::printf("  throughput          %9.2f  MB/s on the wire, %.0f packets/s, %.3f s\n",
                static_cast<double>(s.wireBytes) / 1e6 / seconds,
                static_cast<double>(s.sent) / seconds, seconds);
}

// Reads the command line and the configuration it names into s. -1 when
// they are fine, else the exit status (help printed, or a usage error
// said).
int parseDemo(int argc, char **argv, Settings &s)
{
    const char *name = argv[0];
    const char *config = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(USAGE, stdout);
            return finishOutput(name);
        }
        if (std::strcmp(arg, "--config") == 0 && i + 1 < argc)
            config = argv[++i];
        else if (std::strncmp(arg, "--config=", 9) == 0)
            config = arg + 9;
        else if (std::strcmp(arg, "--config") == 0)
            return usageError(name, "--config needs a file");
        else
            return usageError(name, std::string("unexpected argument ") + arg);
    }
    std::string error;
    if (!readSettings(config, s, error))
        return usageError(name, error);
    return -1;
}

// Sets up logging from the file log.config names, if any. -1 when done,
// else the exit status of a usage error.
int configureLogging(const char *name, const Settings &s)
{
    if (s.logConfig.empty())
        return -1;
    try {
        log4cpp::PropertyConfigurator::configure(s.logConfig);
    } catch (const std::exception &e) {
        return usageError(name, "log configuration " + s.logConfig + ": " + e.what());
    }
    return -1;
}

// A run of the demo: the traffic, both ends of the link, the counts.
class Demo {
public:
    Demo(const char *name, const Settings &s)
        : mName(name), mSettings(s),
          mTraffic(static_cast<unsigned>(s.seed), s.payloadMin, s.payloadMax), mSender(s, mStats),
          mReceiver(mStats)
    {
    }

    // Sends every packet and reports; the exit status.
    int run();

private:
    // The exit status of a step that lets the demo go on.
    static constexpr int GO_ON = -1;

    void load();
    int exchange(bool sending);
    int receive(short revents);
    void showProgress();
    int report(double seconds);

    const char *mName;
    const Settings &mSettings;
    Stats mStats;
    Traffic mTraffic;
    Sender mSender;
    Receiver mReceiver;
    PtyLink mLink;
    bool mShowProgress = isatty(STDERR_FILENO) == 1;
    std::chrono::steady_clock::time_point mShown;
    long long mReceived = 0;
};

int Demo::run()
{
    std::string error;
    if (!mLink.open(error))
        return failure(mName, "opening a pseudo-terminal: " + error);
    const auto start = std::chrono::steady_clock::now();
    mShown = start;
    for (;;) {
        load();
        const bool sending = mSender.pending();
        if (!sending && mReceived == mStats.wireBytes)
            break;
        const int status = exchange(sending);
        if (status != GO_ON)
            return status;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (mShowProgress) {
        progress(mStats, mSettings);
        std::fputc('\n', stderr);
    }
    return report(elapsed.count());
}

// Frames packets while the sender has room and packets are left to send.
void Demo::load()
{
    while (mSender.hasRoom() && mStats.sent < mSettings.packets) {
        Packet p = mTraffic.next();
        mSender.load(p);
        mReceiver.expect(std::move(p));
        ++mStats.sent;
    }
}

// One wait on the link, and what it lets through either way. GO_ON, or the
// exit status of a failure.
int Demo::exchange(bool sending)
{
    pollfd fds[2] = {{mLink.sender(), static_cast<short>(sending ? POLLOUT : 0), 0},
                     {mLink.receiver(), POLLIN, 0}};
    const int ready = poll(fds, 2, STALL_MS);
    if (ready < 0 && errno == EINTR)
        return GO_ON;
    if (ready < 0)
        return failure(mName, std::string("poll: ") + std::strerror(errno));
    if (ready == 0)
        return failure(mName, "the link stalled: nothing moved for " +
                                  std::to_string(STALL_MS / 1000) + " s");
    if ((fds[0].revents & POLLOUT) != 0 && !mSender.write(mLink.sender()))
        return failure(mName, std::string("writing the link: ") + std::strerror(errno));
    const int status = receive(fds[1].revents);
    if (status == GO_ON)
        showProgress();
    return status;
}

// Reads what the receiving end has. GO_ON, or the exit status of a failure.
int Demo::receive(short revents)
{
    if ((revents & POLLIN) != 0) {
        unsigned char chunk[READ_CHUNK];
        const ssize_t n = read(mLink.receiver(), chunk, sizeof chunk);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return failure(mName, std::string("reading the link: ") + std::strerror(errno));
        if (n > 0) {
            mReceiver.feed(chunk, static_cast<size_t>(n));
            mReceived += n;
        }
    } else if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return failure(mName, "the link's receiving end closed");
    }
    return GO_ON;
}

// A progress line, at most every PROGRESS_EVERY.
void Demo::showProgress()
{
    const auto now = std::chrono::steady_clock::now();
    if (mShowProgress && now - mShown >= PROGRESS_EVERY) {
        progress(mStats, mSettings);
        mShown = now;
    }
}

// The summary and the verdict on standard output; the exit status.
int Demo::report(double seconds)
{
    summary(mStats, mSettings, mLink.name(), seconds);
    std::string verdict;
    if (mStats.corrupt > 0)
        verdict = std::to_string(mStats.corrupt) + " corrupt packet(s) accepted";
    else if (mStats.misparsed > 0)
        verdict = std::to_string(mStats.misparsed) + " command(s) split wrongly";
    else if (mStats.bitErrors == 0 && (mStats.intact != mStats.sent || mStats.rejected > 0))
        verdict = "packets went missing on a link without errors";
    if (verdict.empty())
        std::printf("result: ok, %s\n", mStats.bitErrors > 0 ? "no corrupt packet accepted"
                                                             : "every packet arrived intact");
    else
        std::printf("result: FAILED, %s\n", verdict.c_str());
    const int written = finishOutput(mName);
    return verdict.empty() ? written : STATUS_FAILED;
}

} // namespace

int runDemo(int argc, char **argv)
{
    Settings settings;
    int status = parseDemo(argc, argv, settings);
    if (status < 0)
        status = configureLogging(argv[0], settings);
    if (status >= 0)
        return status;
    Demo demo(argv[0], settings);
    return demo.run();
}
