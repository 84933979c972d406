// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include <sys/ioctl.h>
#include <unistd.h>

#include "capture/capture.h"
#include "cli.h"
#include "serial/device.h"
#include "capture/files.h"
#include "serial/link.h"
#include "serial/reconnect.h"
#include "commands/live.h"
#include "impair/impairer.h"
#include "listing/lister.h"
#include "listing/output.h"

namespace {

const char *const USAGE =
    "usage: vemlink tap DEVICE [LINE OPTIONS] [--no-reconnect] [--link PATH]\n"
    "                  [--save PREFIX [--force]] [--pcap FILE] [--seed N]\n"
    "                  [--to-device IMPAIRMENTS] [--to-app IMPAIRMENTS]\n"
    "\n"
    "Sits between an application and its serial DEVICE: forwards every byte both\n"
    "ways and lists each direction's frames, > to DEVICE and < from it.\n"
    "\n"
    "  DEVICE, --device PATH       the serial device the application talks to\n"
    "  {LINE}\n"
    "  --no-reconnect              end when DEVICE goes away instead of waiting\n"
    "  --link PATH                 a symbolic link to the application's end\n"
    "  --save PREFIX               each direction's bytes to PREFIX.tx and .rx\n"
    "  --force                     let --save replace existing regular files\n"
    "  --pcap FILE                 the frames as pcapng too ('-': standard output)\n"
    "  --to-device IMPAIRMENTS     impair what the application sends ('loss 5%')\n"
    "  --to-app IMPAIRMENTS        impair what the device sends\n"
    "  --seed N                    the impairments' random choices (default: said)\n"
    "\n"
    "See vemlink(1) for the listing, events, signals and exit status.\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;
// Bytes taken by one read: large, so that a fast link costs few calls.
const size_t CHUNK = 65536;
// How long to leave the application's end alone after it reported a
// hang-up, so that the loop does not spin while nobody holds it.
const int HANGUP_PAUSE_MS = 100;
// Bytes an impaired direction holds (delayed, or paced by a rate) before it
// reads no more.
const size_t HOLD = 1 << 20;
// How often the tap looks at what no descriptor tells: whether DEVICE's path
// is still there, whether a device that went away is back, and the
// application's settings when its terminal does not report them.
const int TICK_MS = Device::RETRY_MS;

// One direction: bytes read from one descriptor wait in the buffer until the
// other has taken them all; until then nothing more is read from the first,
// so a slow side slows the other down and nothing is lost.
struct Direction {
    Direction(char mark, int from, int to) : mark(mark), from(from), to(to) {}

    bool pending() const { return done < len; }
    // Nothing more is read while this holds: the buffer waits, or an
    // impaired direction holds enough.
    bool holding() const { return pending() || (impair && impair->held() >= HOLD); }

    // Writes what the destination takes now. False on an error.
    bool push()
    {
        while (pending()) {
            const ssize_t n = write(to, buffer + done, len - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return n < 0 && errno == EAGAIN;
        }
        return true;
    }

    const char mark;
    int from; // -1 while the device is gone
    int to;
    long long dropped = 0; // bytes read while the device was gone
    unsigned char buffer[CHUNK];
    size_t len = 0;
    size_t done = 0;
    Lister lister;
    SaveFile save;
    std::unique_ptr<impair::Impairer> impair; // --to-device, --to-app
};

enum class Read { DATA, NOTHING, STATE, CLOSED, READ_FAILED, WRITE_FAILED };

// The bytes in the buffer past skip, on their way: saved and listed.
void listForwarded(Direction &d, const Clock &clock, size_t skip)
{
    // The capture's time for these bytes, taken once they are on their way:
    // nothing but the write stands between a read and its forwarding.
    d.lister.arrived();
    d.save.write("tap", d.buffer + skip, d.len - skip);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %c", clock.seconds(), d.mark);
    d.lister.setPrefix(prefix);
    d.lister.feed(d.buffer + skip, d.len - skip);
}

// Forwards what an impaired direction has due (with all, everything it
// holds) through the buffer, as far as the destination takes it now; saved
// and listed as forwarded. False on a write error.
bool release(Direction &d, const Clock &clock, bool all)
{
    while (!d.pending()) {
        const size_t n = d.impair->release(clock.seconds(), d.buffer, CHUNK, all);
        if (n == 0)
            break;
        d.len = n;
        d.done = 0;
        const bool pushed = d.push();
        const int pushError = errno;
        listForwarded(d, clock, 0);
        errno = pushError;
        if (!pushed)
            return false;
    }
    return true;
}

// The device went away: what an impaired direction to it holds is listed,
// as the bytes read before are, and dropped with them.
void dropHeld(Direction &d, const Clock &clock)
{
    d.impair->finish(clock.seconds());
    for (;;) {
        d.len = d.impair->release(clock.seconds(), d.buffer, CHUNK, true);
        d.done = 0;
        if (d.len == 0)
            return;
        listForwarded(d, clock, 0);
        d.dropped += static_cast<long long>(d.len);
    }
}

// Reads into an empty direction, forwards at once, then saves and lists: the
// decoding never holds a byte back. With packet, every read starts with a
// byte of its own (see PtyLink::watchSettings): before data it is skipped,
// alone it is a change of state, returned as STATE. With nowhere to go (the
// device is gone), what is read is counted and dropped.
Read forward(Direction &d, const Clock &clock, bool packet)
{
    const ssize_t n = read(d.from, d.buffer, CHUNK);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return Read::NOTHING;
    // A terminal whose other side hung up reads EIO.
    if (n == 0 || (n < 0 && errno == EIO))
        return Read::CLOSED;
    if (n < 0)
        return Read::READ_FAILED;
    const size_t skip = packet ? 1 : 0;
    if (packet && d.buffer[0] != TIOCPKT_DATA)
        return Read::STATE;
    if (d.to < 0) {
        d.dropped += n - static_cast<ssize_t>(skip);
        return Read::DATA;
    }
    if (d.impair) {
        d.impair->take(d.buffer + skip, static_cast<size_t>(n) - skip, clock.seconds());
        return release(d, clock, false) ? Read::DATA : Read::WRITE_FAILED;
    }
    d.len = static_cast<size_t>(n);
    d.done = skip;
    const bool pushed = d.push();
    const int pushError = errno;
    listForwarded(d, clock, skip);
    errno = pushError;
    return pushed ? Read::DATA : Read::WRITE_FAILED;
}

// Reads the options into o. -1 when they are fine, else the exit status
// (help printed, or a usage error said).
int parseTap(int argc, char **argv, TapOptions &o)
{
    const char *name = argv[0];
    const char *impairments[3] = {nullptr, nullptr, nullptr}; // --to-device, --to-app, --seed
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        int status = STATUS_OK;
        const int taken = takeDeviceOption(argc, argv, i, USAGE, o.link, status);
        if (taken < 0)
            return status;
        if (taken > 0)
            continue;
        const char *value = nullptr;
        const struct {
            const char *option;
            const char *what;
            const char **to;
        } valued[] = {{"--link", "a path", &o.linkPath},
                      {"--save", "a prefix", &o.prefix},
                      {"--pcap", "a file", &o.pcap},
                      {"--to-device", "impairments", &impairments[0]},
                      {"--to-app", "impairments", &impairments[1]},
                      {"--seed", "a number", &impairments[2]}};
        bool done = false;
        for (const auto &v : valued) {
            if (done || !takeValue(argc, argv, i, v.option, value))
                continue;
            if (value == nullptr || *value == '\0')
                return usageError(name, std::string(v.option) + " needs " + v.what);
            *v.to = value;
            done = true;
        }
        if (done)
            continue;
        if (std::strcmp(arg, "--force") == 0)
            o.force = true;
        else if (std::strcmp(arg, "--no-reconnect") == 0)
            o.reconnect = false;
        else if (isOption(arg))
            return usageError(name, std::string("unknown option ") + arg);
        else if (o.link.device != nullptr)
            return usageError(name, "one device at a time");
        else
            o.link.device = arg;
    }
    if (o.link.device == nullptr)
        return usageError(name, "no DEVICE given");
    if (o.force && o.prefix == nullptr)
        return usageError(name, "--force goes with --save");
    return takeImpairments(name, impairments, o);
}

// A running tap: the device, the application's end, and a direction each
// way between them. Everything is owned by a member, released in the
// reverse order on every way out: the link and the files first, the
// device's settings last, once its output has drained.
class Tap {
public:
    Tap(const char *name, const TapOptions &o, const LiveHooks &hooks, const StopSignals &stop)
        : mName(name), mOptions(o), mHooks(hooks), mStop(stop), mDevice(o.reconnect)
    {
    }

    // Opens everything; STATUS_OK, or the status of a failed start, which
    // leaves no file of its own behind.
    int start();
    int run();

private:
    bool openApplicationEnd(std::string &error);
    bool openFiles(std::string &error);
    void announce();
    bool pollOnce();
    void onDevice(short revents);
    void onApplication(short revents);
    void onTick();
    void onEvent(DeviceEvent event);
    void follow();
    void impairDirections();
    long long releaseWait(long long timeoutUs) const;
    void releaseDue();
    void summarizeImpairments();
    int finish();

    const char *mName;
    const TapOptions &mOptions;
    const LiveHooks &mHooks;
    const StopSignals &mStop;
    Capture mCapture;
    std::unique_ptr<LiveOutput> mLive;
    ReconnectingDevice mDevice;
    PtyLink mPty;
    LinkPath mLinked;
    std::unique_ptr<Direction> mTx; // application to device
    std::unique_ptr<Direction> mRx; // device to application
    LineSettings mLine;
    bool mPacket = false;
    bool mExtproc = false;
    bool mPaused = false;
    std::string mFault; // why the device or the capture ended the tap
    int mStatus = STATUS_OK;
    Clock mClock;
    double mTicked = 0;
    unsigned long long mSeed = 0; // of the impairments
};

int Tap::start()
{
    std::string error;
    mSeed = mOptions.seed;
    if (!mOptions.seedGiven && (mOptions.toDevice.given || mOptions.toApp.given)) {
        std::random_device entropy;
        mSeed = (static_cast<unsigned long long>(entropy()) << 32 | entropy()) % 1000000000000ULL;
        if (!mHooks.quiet)
            output::info(mName, "impairing with seed " + std::to_string(mSeed) + "; --seed " +
                                    std::to_string(mSeed) + " makes the same choices again");
    }
    if (mOptions.toDevice.given || mOptions.toApp.given)
        mCapture.setComment("vemlink tap impairing with seed " + std::to_string(mSeed) +
                            " (--seed " + std::to_string(mSeed) + " makes the same choices)");
    // Before the device, so that a FIFO waiting for its reader holds nothing
    // else; and before the listing goes live, since '-' moves standard
    // output to standard error and keeps the capture's stream as it was.
    if (mOptions.pcap != nullptr &&
        !mCapture.open(mOptions.pcap, mOptions.link.device, mStop, error))
        return mStop.stopped() ? STATUS_OK : failure(mName, error);
    mLive = std::make_unique<LiveOutput>(mName, mHooks.quiet);
    mCapture.goLive(mName);
    if (!mDevice.open(mOptions.link, error) || !openApplicationEnd(error) || !openFiles(error)) {
        mCapture.discard();
        return failure(mName, error);
    }
    announce();
    return STATUS_OK;
}

// The application finds its end as DEVICE is, and every change it makes
// there is heard of at once (or, where the terminal cannot tell, looked for
// every TICK_MS). A pseudo-terminal keeps 8 data bits and no parity whatever
// it is told (Linux), so those two the tap cannot follow: DEVICE keeps its
// own.
bool Tap::openApplicationEnd(std::string &error)
{
    if (!mPty.open(error)) {
        error = "creating the application's pseudo-terminal: " + error;
        return false;
    }
    LineSettings ptyLine = mOptions.link.line;
    ptyLine.dataBits = 8;
    ptyLine.parity = LineSettings::PARITY_NONE;
    if (!applyLine(mPty.receiver(), mPty.name().c_str(), ptyLine, error)) {
        error = "setting up the application's pseudo-terminal: " + error;
        return false;
    }
    mPacket = mPty.watchSettings();
    mLine = mOptions.link.line;
    readLine(mPty.receiver(), mLine, mExtproc);
    mLine.dataBits = mOptions.link.line.dataBits;
    mLine.parity = mOptions.link.line.parity;
    mTx = std::make_unique<Direction>('>', mPty.sender(), mDevice.fd());
    mRx = std::make_unique<Direction>('<', mDevice.fd(), mPty.sender());
    if (mCapture.active()) {
        mTx->lister.setSink(mCapture.sink('>'));
        mRx->lister.setSink(mCapture.sink('<'));
    }
    impairDirections();
    return true;
}

// The bits of one character on the line: start, data, parity, stop.
int charBits(const LineSettings &line)
{
    return 1 + line.dataBits + (line.parity != LineSettings::PARITY_NONE ? 1 : 0) + line.stopBits;
}

// --to-device and --to-app: the directions that have them forward through
// an impairer, which their listing hears; the others as they are.
void Tap::impairDirections()
{
    const impair::Settings *const wanted[2] = {&mOptions.toDevice, &mOptions.toApp};
    Direction *const ways[2] = {mTx.get(), mRx.get()};
    for (int i = 0; i < 2; ++i) {
        if (!wanted[i]->given)
            continue;
        ways[i]->impair = std::make_unique<impair::Impairer>(*wanted[i], mSeed, i);
        ways[i]->impair->setCharBits(charBits(mLine));
        ways[i]->lister.setNotes(ways[i]->impair.get());
    }
}

// The poll's timeout in microseconds: at most timeoutUs, and no later than
// the next bytes an impaired direction may forward (while its buffer waits
// for room, the poll hears of that). Whole milliseconds would hold a delayed
// frame up to one too long.
long long Tap::releaseWait(long long timeoutUs) const
{
    const double now = mClock.seconds();
    for (const Direction *d : {mTx.get(), mRx.get()}) {
        if (!d->impair || d->pending() || d->to < 0)
            continue;
        const double us = std::ceil((d->impair->next() - now) * 1e6);
        if (us < static_cast<double>(timeoutUs))
            timeoutUs = us > 0 ? static_cast<long long>(us) : 0;
    }
    return timeoutUs;
}

// Forwards what the impaired directions have due.
void Tap::releaseDue()
{
    if (mTx->impair && mTx->to >= 0 && !release(*mTx, mClock, false))
        onEvent(mDevice.lose(std::string("writing: ") + std::strerror(errno)));
    if (mRx->impair && mRx->to >= 0)
        release(*mRx, mClock, false);
}

// The saved bytes and the link; what was made is removed again when a
// later step fails.
bool Tap::openFiles(std::string &error)
{
    const char *prefix = mOptions.prefix;
    if (prefix != nullptr) {
        if (!mTx->save.create(std::string(prefix) + ".tx", mOptions.force, error))
            return false;
        if (!mRx->save.create(std::string(prefix) + ".rx", mOptions.force, error)) {
            mTx->save.discard();
            return false;
        }
    }
    if (mOptions.linkPath != nullptr && !mLinked.make(mOptions.linkPath, mPty.name(), error)) {
        mTx->save.discard();
        mRx->save.discard();
        return false;
    }
    return true;
}

void Tap::announce()
{
    const char *linkPath = mOptions.linkPath;
    output::info(mName, std::string(mOptions.link.device) + " at " + describe(mLine) +
                            "; the application's end is " + mPty.name() +
                            (linkPath != nullptr ? std::string(", linked from ") + linkPath
                                                 : std::string()));
    if (mHooks.appEnd)
        mHooks.appEnd(mPty.name());
    mClock = Clock();
    Lister::header(true);
    output::flush();
}

int Tap::run()
{
    while (!mStop.stopped() && mFault.empty() && mStatus == STATUS_OK && !output::broken()) {
        if (!pollOnce())
            break;
        summaryOnRequest(mStop, mName, {{mTx->lister, " >"}, {mRx->lister, " <"}});
        output::flush();
        mCapture.flush();
        if (mHooks.endWithCapture && (mCapture.failed() || mCapture.readerGone()))
            break;
    }
    return finish();
}

// One wait for the descriptors, and what they tell. False when the wait
// itself failed.
bool Tap::pollOnce()
{
    Direction &tx = *mTx;
    Direction &rx = *mRx;
    pollfd fds[4] = {
        {mDevice.fd(),
         static_cast<short>((rx.holding() ? 0 : POLLIN) | (tx.pending() ? POLLOUT : 0)), 0},
        // A negative descriptor leaves the application's end out of the
        // poll altogether: even with no events asked, a hang-up on it would
        // end every poll at once.
        {mPaused ? -1 : mPty.sender(),
         static_cast<short>((tx.holding() ? 0 : POLLIN) | (rx.pending() ? POLLOUT : 0)), 0},
        // The listing and the capture only when they wait for a reader.
        {output::waiting(), POLLOUT, 0},
        {mCapture.pending() ? mCapture.fd() : -1, POLLOUT, 0}};
    const int ready = mStop.wait(
        fds, 4,
        std::chrono::microseconds(releaseWait((mPaused ? HANGUP_PAUSE_MS : TICK_MS) * 1000LL)));
    if (ready < 0 && errno == EINTR)
        return true;
    if (ready < 0) {
        mStatus = failure(mName, std::string("poll: ") + std::strerror(errno));
        return false;
    }
    mPaused = false;
    onDevice(fds[0].revents);
    onApplication(fds[1].revents);
    releaseDue();
    onTick();
    // Looks at the device at most every Device::RETRY_MS itself.
    if (mFault.empty())
        onEvent(mDevice.tick(mLine));
    return true;
}

void Tap::onDevice(short revents)
{
    if ((revents & POLLIN) != 0) {
        const Read r = forward(*mRx, mClock, false);
        if (r == Read::CLOSED)
            onEvent(mDevice.lose("hang-up"));
        else if (r == Read::READ_FAILED)
            onEvent(mDevice.lose(std::string("reading: ") + std::strerror(errno)));
    } else if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        onEvent(mDevice.lose((revents & POLLHUP) != 0 ? "hang-up" : "error"));
    }
    if ((revents & POLLOUT) != 0 && mDevice.fd() >= 0 && !mTx->push())
        onEvent(mDevice.lose(std::string("writing: ") + std::strerror(errno)));
}

void Tap::onApplication(short revents)
{
    if ((revents & POLLIN) != 0) {
        const Read r = forward(*mTx, mClock, mPacket);
        if (r == Read::WRITE_FAILED)
            onEvent(mDevice.lose(std::string("writing: ") + std::strerror(errno)));
        else if (r == Read::READ_FAILED)
            mStatus = failure(mName, std::string("reading the application's end: ") +
                                         std::strerror(errno));
        else if (r == Read::CLOSED)
            mPaused = true;
        else if (r == Read::STATE && (mTx->buffer[0] & TIOCPKT_IOCTL) != 0)
            follow();
    }
    if ((revents & POLLOUT) != 0)
        mRx->push();
    // With our own descriptor of the application's end held open this
    // should not come; should it, look again after a pause.
    if ((revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLIN) == 0)
        mPaused = true;
}

// What no descriptor tells, looked at every TICK_MS.
void Tap::onTick()
{
    const double now = mClock.seconds();
    if (!mFault.empty() || now - mTicked < TICK_MS / 1000.0)
        return;
    mTicked = now;
    if (!mExtproc)
        follow();
}

// DEVICE went away or came back. While it is gone the application's end
// stays, and what it writes meanwhile is dropped.
void Tap::onEvent(DeviceEvent event)
{
    if (event == DeviceEvent::ENDED) {
        mFault = mDevice.why();
        return;
    }
    if (event == DeviceEvent::GONE) {
        mTx->dropped += static_cast<long long>(mTx->len - mTx->done);
        mTx->len = mTx->done = 0;
        if (mTx->impair)
            dropHeld(*mTx, mClock);
        mTx->to = mRx->from = -1;
    } else if (event == DeviceEvent::BACK) {
        mTx->to = mRx->from = mDevice.fd();
    }
    reportEvent(mName, mDevice, event, eventPrefix(mClock.seconds(), ' '));
}

// The application's settings, when they changed, go to DEVICE.
void Tap::follow()
{
    LineSettings now = mLine;
    if (!readLine(mPty.receiver(), now, mExtproc))
        return;
    now.dataBits = mLine.dataBits;
    now.parity = mLine.parity;
    if (now == mLine)
        return;
    mLine = now;
    for (Direction *d : {mTx.get(), mRx.get()})
        if (d->impair)
            d->impair->setCharBits(charBits(mLine));
    std::string refused;
    std::string event = "settings " + describe(mLine);
    if (mDevice.fd() >= 0 && !applyLine(mDevice.fd(), mOptions.link.device, mLine, refused)) {
        event += " refused: " + refused;
        output::error(mName, refused);
    }
    listEvent(mClock.seconds(), '>', event);
}

// What was done to each impaired direction, after the summaries.
void Tap::summarizeImpairments()
{
    for (const Direction *d : {mTx.get(), mRx.get()})
        if (d->impair)
            output::closing(std::string("impaired ") + d->mark + ": " + d->impair->summary() +
                            "; seed " + std::to_string(mSeed) + "\n");
}

// What is already read goes on where it can without waiting; then the
// partial frames, the summaries and the final flushes.
int Tap::finish()
{
    if (mRx->from >= 0)
        mRx->push();
    if (mTx->to >= 0)
        mTx->push();
    for (Direction *d : {mRx.get(), mTx.get()}) {
        if (d->impair && d->to >= 0) {
            d->impair->finish(mClock.seconds());
            release(*d, mClock, true);
        }
    }
    if (!mFault.empty())
        mStatus = failure(mName, std::string(mOptions.link.device) + ": " + mFault);
    mTx->lister.setPrefix("           >");
    mRx->lister.setPrefix("           <");
    mTx->lister.finish(" >");
    mRx->lister.finish(" <");
    summarizeImpairments();
    const long gone = mDevice.gone();
    if (gone > 0)
        output::closing("device gone " + std::to_string(gone) + (gone == 1 ? " time" : " times") +
                        "; " + std::to_string(mTx->dropped) +
                        " bytes from the application dropped meanwhile\n");
    if (mCapture.finish(mName, FINAL_FLUSH_MS) != STATUS_OK && !mHooks.endWithCapture)
        mStatus = STATUS_FAILED;
    if (output::finish(mName, FINAL_FLUSH_MS) != STATUS_OK || mTx->save.failed() ||
        mRx->save.failed())
        mStatus = STATUS_FAILED;
    return mStatus;
}

} // namespace

int takeImpairments(const char *name, const char *const given[3], TapOptions &o)
{
    const char *const options[2] = {"--to-device", "--to-app"};
    impair::Settings *const wanted[2] = {&o.toDevice, &o.toApp};
    for (int i = 0; i < 2; ++i) {
        std::string error;
        if (given[i] != nullptr && *given[i] != '\0' &&
            !impair::parseSettings(given[i], *wanted[i], error))
            return usageError(name, std::string(options[i]) + ": " + error);
    }
    const char *seed = given[2];
    if (seed == nullptr || *seed == '\0')
        return -1;
    char *end = nullptr;
    errno = 0;
    o.seed = std::strtoull(seed, &end, 10);
    if (*seed < '0' || *seed > '9' || *end != '\0' || errno != 0)
        return usageError(name, std::string("--seed '") + seed +
                                    "': a whole number from 0 to 18446744073709551615");
    o.seedGiven = true;
    return -1;
}

int runTap(const char *name, const TapOptions &options, const LiveHooks &hooks)
{
    const StopSignals stop;
    Tap tap(name, options, hooks, stop);
    const int status = tap.start();
    if (status != STATUS_OK || stop.stopped())
        return status;
    return tap.run();
}

int runTap(int argc, char **argv)
{
    TapOptions options;
    const int status = parseTap(argc, argv, options);
    return status >= 0 ? status : runTap(argv[0], options, LiveHooks());
}
