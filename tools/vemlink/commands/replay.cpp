// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink replay: plays one side of a recorded session, to the application
// on an end of its own or to a device, keeping to the recorded gaps between
// the frames, and lists each frame with the time it was planned for and
// the time it went out.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "cli.h"
#include "commands/live.h"
#include "commands/playback.h"
#include "listing/lister.h"
#include "listing/output.h"
#include "serial/device.h"

namespace {

const char *const USAGE =
    "usage: vemlink replay CAPTURE --link PATH [OPTIONS]\n"
    "       vemlink replay CAPTURE --device DEV [--baud N ...] [OPTIONS]\n"
    "\n"
    "Plays one side of a session recorded with 'vemlink tap --pcap'.\n"
    "\n"
    "  --link PATH                 play < to the application's end at PATH\n"
    "  --device DEV                play > to DEV and list what comes back\n"
    "  {LINE}\n"
    "  --frames SIDE               play the frames of SIDE, '>' or '<', instead\n"
    "  --speed X                   play X times as fast (the gaps divided by X)\n"
    "  --no-timing                 send the frames back to back\n"
    "  --max-gap T                 cap every gap at T, after --speed (50ms, 1.5s)\n"
    "  --loop N                    play N times\n"
    "  --all                       play every record, not only the ok frames\n"
    "  --wait T                    after the last frame, wait up to T (default 1s)\n"
    "\n"
    "See vemlink(1) for the listing, timing error, signals and exit status.\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;
// How often the application's end is looked at while it is closed.
const int LOOK_MS = 10;

struct ReplayOptions {
    std::string capture;
    LinkOptions link;
    const char *linkPath = nullptr;
    char frames = 0; // '>' or '<'; 0: the side the mode plays
    double speed = 1;
    bool timing = true;
    double maxGap = -1; // seconds; negative: no cap
    long loops = 1;
    bool all = false;
    double wait = 1;
};

// A number above 0 in value, or false.
bool positive(const char *value, double &out)
{
    char *end = nullptr;
    out = value != nullptr ? std::strtod(value, &end) : 0;
    return value != nullptr && end != value && *end == '\0' && std::isfinite(out) && out > 0;
}

// Takes argv[i] when it is one of replay's own options. 1 taken, 0 not
// one of them, -1 with the fault in error.
int takeReplayOption(int argc, char **argv, int &i, ReplayOptions &o, std::string &error)
{
    const char *arg = argv[i];
    const char *v = nullptr;
    if (std::strcmp(arg, "--no-timing") == 0) {
        o.timing = false;
    } else if (std::strcmp(arg, "--all") == 0) {
        o.all = true;
    } else if (takeValue(argc, argv, i, "--link", v)) {
        o.linkPath = v;
        error = "--link needs a path";
        return v != nullptr && *v != '\0' ? 1 : -1;
    } else if (takeValue(argc, argv, i, "--frames", v)) {
        o.frames = v != nullptr && (std::strcmp(v, ">") == 0 || std::strcmp(v, "<") == 0) ? *v : 0;
        error = "--frames takes '>' or '<'";
        return o.frames != 0 ? 1 : -1;
    } else if (takeValue(argc, argv, i, "--speed", v)) {
        error = "--speed needs a factor above 0, for example 2 or 0.5";
        return positive(v, o.speed) ? 1 : -1;
    } else if (takeValue(argc, argv, i, "--loop", v)) {
        error = "--loop needs a count of 1 or more";
        char *end = nullptr;
        o.loops = v != nullptr ? std::strtol(v, &end, 10) : 0;
        return v != nullptr && end != v && *end == '\0' && o.loops >= 1 ? 1 : -1;
    } else if (takeValue(argc, argv, i, "--max-gap", v)) {
        return parseDuration("--max-gap", v, o.maxGap, error) ? 1 : -1;
    } else if (takeValue(argc, argv, i, "--wait", v)) {
        return parseDuration("--wait", v, o.wait, error) ? 1 : -1;
    } else {
        return 0;
    }
    return 1;
}

// Reads the options into o. -1 when they are fine, else the exit status.
int parseReplay(int argc, char **argv, ReplayOptions &o)
{
    const char *name = argv[0];
    for (int i = 1; i < argc; ++i) {
        if (isHelp(argv[i])) {
            std::fputs(withLineOptions(USAGE).c_str(), stdout);
            return finishOutput(name);
        }
        std::string error;
        int taken = takeLinkOption(argc, argv, i, o.link, error);
        if (taken == 0)
            taken = takeReplayOption(argc, argv, i, o, error);
        if (taken < 0)
            return usageError(name, error);
        if (taken > 0)
            continue;
        if (isOption(argv[i]))
            return usageError(name, std::string("unknown option ") + argv[i]);
        if (!o.capture.empty())
            return usageError(name, "one capture at a time");
        o.capture = argv[i];
    }
    if (o.capture.empty())
        return usageError(name, "no CAPTURE given");
    if ((o.linkPath == nullptr) == (o.link.device == nullptr))
        return usageError(name, "give either --link PATH or --device DEV");
    if (o.linkPath != nullptr && o.link.lineGiven)
        return usageError(name, "the line options go with --device");
    return -1;
}

// A frame to play, at seconds after the start of a pass.
struct Planned {
    std::vector<unsigned char> bytes;
    double at;
};

// The frames of side, with their times after the first: the recorded gaps
// scaled, then capped, or none.
std::vector<Planned> plan(const std::vector<CaptureRecord> &records, char side,
                          const ReplayOptions &o)
{
    std::vector<Planned> frames;
    const CaptureRecord *last = nullptr;
    double at = 0;
    for (const CaptureRecord &r : records) {
        if (r.direction != side || (!o.all && r.status != frame::Outcome::OK))
            continue;
        if (last != nullptr && o.timing) {
            double gap =
                std::max(0.0, static_cast<double>(r.timeNs - last->timeNs) / 1e9) / o.speed;
            if (o.maxGap >= 0)
                gap = std::min(gap, o.maxGap);
            at += gap;
        }
        last = &r;
        frames.push_back({onWire(r), at});
    }
    return frames;
}

class Replayer {
public:
    Replayer(const char *name, const ReplayOptions &o, char side, const StopSignals &stop)
        : mName(name), mOptions(o), mSide(side), mOther(side == '>' ? '<' : '>'),
          mStop(stop), mSentLabel{' ', mSide, '\0'}, mCameLabel{' ', mOther, '\0'}
    {
    }

    int start(size_t frames);
    int run(const std::vector<Planned> &frames);

private:
    bool idleUntil(std::chrono::steady_clock::time_point due);
    void takeIncoming();
    bool play(const Planned &p, double planned);
    int finish();

    double seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - mStart).count();
    }

    const char *mName;
    const ReplayOptions &mOptions;
    const char mSide;  // the direction played
    const char mOther; // the direction that answers
    const StopSignals &mStop;
    const char mSentLabel[3]; // of the summary lines: " >" or " <"
    const char mCameLabel[3];
    std::unique_ptr<LiveOutput> mLive;
    Device mDevice;
    AppEnd mApp;
    int mFd = -1;
    Lister mSent;
    Lister mCame;
    TimingErrors mErrors;
    std::chrono::steady_clock::time_point mStart;
    int mStatus = STATUS_OK;
};

int Replayer::start(size_t frames)
{
    mLive = std::make_unique<LiveOutput>(mName);
    std::string error;
    const ReplayOptions &o = mOptions;
    const std::string what = std::to_string(frames) + " frames (" + mSide + ") of " + o.capture +
                             (o.loops > 1 ? ", " + std::to_string(o.loops) + " times" : "");
    if (o.linkPath != nullptr) {
        if (!mApp.open(o.linkPath, error))
            return failure(mName, error);
        mFd = mApp.fd();
        output::info(mName, what + "; the application's end is " + mApp.name() + ", linked from " +
                                o.linkPath + "; playing when it is opened");
    } else {
        if (!mDevice.open(o.link, error))
            return failure(mName, error);
        mFd = mDevice.fd();
        output::info(mName, what + " to " + o.link.device + " at " + describe(o.link.line));
    }
    output::line("   planned     actual    offset  length  status     data\n");
    output::flush();
    return STATUS_OK;
}

int Replayer::run(const std::vector<Planned> &frames)
{
    if (mOptions.linkPath != nullptr && !mApp.waitHeld(mStop))
        return finish();
    mStart = std::chrono::steady_clock::now();
    const double pass = frames.back().at;
    for (long loop = 0; loop < mOptions.loops; ++loop)
        for (const Planned &p : frames)
            if (!play(p, static_cast<double>(loop) * pass + p.at))
                return finish();
    const int waitMs = static_cast<int>(std::lround(mOptions.wait * 1000));
    if (mOptions.linkPath != nullptr)
        mApp.drain(waitMs, mStop);
    else
        idleUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs));
    takeIncoming();
    return finish();
}

// Listens for what comes back until due. False on a stop or a failure.
bool Replayer::idleUntil(std::chrono::steady_clock::time_point due)
{
    for (;;) {
        // A closed application's end reads as a hang-up at once: look at
        // it again a little later instead.
        const bool open = mOptions.linkPath == nullptr || mApp.held();
        pollfd fds[2] = {{open ? mFd : -1, POLLIN, 0}, {output::waiting(), POLLOUT, 0}};
        const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(LOOK_MS);
        const int ready = waitUntil(mStop, fds, 2, open ? due : std::min(due, soon));
        if (mStop.stopped() || output::broken() || mStatus != STATUS_OK)
            return false;
        if (ready < 0 && errno != EINTR) {
            mStatus = failure(mName, std::string("poll: ") + std::strerror(errno));
            return false;
        }
        summaryOnRequest(mStop, mName, {{mSent, mSentLabel}, {mCame, mCameLabel}});
        output::flush();
        if (ready > 0 && (fds[0].revents & POLLIN) != 0)
            takeIncoming();
        if (ready == 0 && std::chrono::steady_clock::now() >= due)
            return true;
    }
}

// Lists what the other side sent, without waiting.
void Replayer::takeIncoming()
{
    unsigned char chunk[4096];
    for (;;) {
        const ssize_t n = read(mFd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // nothing more now, or the application closed its end
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%10s %10.6f %c", "", seconds(), mOther);
        mCame.setPrefix(prefix);
        mCame.feed(chunk, static_cast<size_t>(n));
    }
}

// Sends one frame at its planned time. False on a stop or a failure.
bool Replayer::play(const Planned &p, double planned)
{
    const auto due = mStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(planned));
    if (!idleUntil(due))
        return false;
    if (!writeAll(mFd, p.bytes.data(), p.bytes.size(), mStop)) {
        if (errno != EINTR)
            mStatus = failure(mName, std::string("writing: ") + std::strerror(errno));
        return false;
    }
    const double actual = seconds();
    mErrors.add(actual - planned);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %10.6f %c", planned, actual, mSide);
    mSent.setPrefix(prefix);
    mSent.feed(p.bytes.data(), p.bytes.size());
    output::flush();
    return true;
}

int Replayer::finish()
{
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%21s %c", "", mSide);
    mSent.setPrefix(prefix);
    mSent.finish(mSentLabel);
    std::snprintf(prefix, sizeof prefix, "%21s %c", "", mOther);
    mCame.setPrefix(prefix);
    mCame.finish(mCameLabel);
    output::closing(mErrors.summary() + "\n");
    const int written = output::finish(mName, FINAL_FLUSH_MS);
    return mStatus != STATUS_OK ? mStatus : written;
}

} // namespace

int runReplay(int argc, char **argv)
{
    const char *name = argv[0];
    ReplayOptions o;
    int status = parseReplay(argc, argv, o);
    if (status >= 0)
        return status;
    std::vector<CaptureRecord> records;
    if ((status = loadCapture(name, o.capture.c_str(), records)) >= 0)
        return status;
    const char side = o.frames != 0 ? o.frames : o.linkPath != nullptr ? '<' : '>';
    const std::vector<Planned> frames = plan(records, side, o);
    if (frames.empty()) {
        output::error(name,
                      o.capture + ": no " + (o.all ? "" : "ok ") + "frames (" + side + ") to play");
        return STATUS_USAGE;
    }
    const StopSignals stop;
    Replayer replayer(name, o, side, stop);
    status = replayer.start(frames.size());
    return status != STATUS_OK ? status : replayer.run(frames);
}
