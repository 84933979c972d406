// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink mock: a stand-in device made from a recorded session. Each frame
// the application sends is looked up among the recorded requests and
// answered with what the device sent after that request, after the same
// delay.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include <unistd.h>

#include "cli.h"
#include "commands/live.h"
#include "commands/playback.h"
#include "hdlc.h"
#include "listing/hex.h"
#include "listing/lister.h"
#include "listing/output.h"
#include "serial/device.h"

namespace {

const char *const USAGE = "usage: vemlink mock CAPTURE --link PATH [OPTIONS]\n"
                          "\n"
                          "Stands in for the device of a session recorded with 'vemlink tap "
                          "--pcap'.\n"
                          "\n"
                          "  --link PATH       make the application's end, linked from PATH\n"
                          "  --no-timing       answer at once, not after the recorded delay\n"
                          "  --default HEX     answer requests with no recording with HEX\n"
                          "  --strict          exit status 1 when a request had no recording\n"
                          "\n"
                          "See vemlink(1) for the listing, signals and exit status.\n";

const int FINAL_FLUSH_MS = 1000;
// How often the application's end is looked at while it is closed, and
// at the latest while it is open.
const int LOOK_MS = 10;
const int TICK_MS = 200;

using Clocked = std::chrono::steady_clock;

struct MockOptions {
    const char *capture = nullptr;
    const char *linkPath = nullptr;
    bool timing = true;
    bool strict = false;
    bool defaultGiven = false;
    std::vector<unsigned char> defaultReply; // the frame, on the wire
};

// A frame the device sent, delay seconds after what it answers.
struct Reply {
    double delay;
    std::vector<unsigned char> bytes;
};
using Answer = std::vector<Reply>;

// The recorded requests (the application's intact frames) with what the
// device sent after each, up to the next one; and what it sent before the
// first.
class Recording {
public:
    void build(const std::vector<CaptureRecord> &records)
    {
        Answer *current = &mUnsolicited;
        long long since = -1;
        for (const CaptureRecord &r : records) {
            if (r.status != frame::Outcome::OK)
                continue;
            if (r.direction == '>') {
                Entry &e = mEntries[payloadOf(r.wire.data(), r.wire.size())];
                e.answers.emplace_back();
                current = &e.answers.back();
                since = r.timeNs;
                ++mRequests;
                continue;
            }
            if (since < 0) // the first unsolicited frame goes at once
                since = r.timeNs;
            current->push_back({static_cast<double>(r.timeNs - since) / 1e9, onWire(r)});
        }
    }

    // The next recorded answer to payload, the last one repeating;
    // nullptr when it was never asked.
    const Answer *answer(const std::vector<unsigned char> &payload)
    {
        const auto found = mEntries.find(payload);
        if (found == mEntries.end())
            return nullptr;
        Entry &e = found->second;
        return &e.answers[std::min(e.next++, e.answers.size() - 1)];
    }

    const Answer &unsolicited() const { return mUnsolicited; }
    long requests() const { return mRequests; }

private:
    struct Entry {
        std::vector<Answer> answers;
        size_t next = 0;
    };
    std::map<std::vector<unsigned char>, Entry> mEntries;
    Answer mUnsolicited;
    long mRequests = 0;
};

// The application's frames as the lister closes them.
class Heard : public FrameSink {
public:
    struct Frame {
        frame::Outcome outcome;
        std::vector<unsigned char> payload;
    };
    void frame(const WireFrame &f) override
    {
        frames.push_back(
            {f.outcome, std::vector<unsigned char>(f.payload, f.payload + f.payloadLength)});
    }
    std::vector<Frame> frames;
};

int parseMock(int argc, char **argv, MockOptions &o)
{
    const char *name = argv[0];
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *v = nullptr;
        std::string error;
        if (isHelp(arg)) {
            std::fputs(USAGE, stdout);
            return finishOutput(name);
        } else if (takeValue(argc, argv, i, "--link", v)) {
            if (v == nullptr || *v == '\0')
                return usageError(name, "--link needs a path");
            o.linkPath = v;
        } else if (takeValue(argc, argv, i, "--default", v)) {
            std::vector<unsigned char> payload;
            if (v == nullptr || !parseHex(v, std::strlen(v), payload, error))
                return usageError(name, "--default needs a payload in hex" +
                                            (error.empty() ? "" : ": " + error));
            if (payload.size() > static_cast<size_t>(frame::MAX_PAYLOAD))
                return payloadTooLong(name, payload.size(), false);
            o.defaultReply.resize(2 * payload.size() + 6);
            int len = 0;
            cHDLC().frameData(payload.data(), static_cast<int>(payload.size()),
                              o.defaultReply.data(), &len);
            o.defaultReply.resize(static_cast<size_t>(len));
            o.defaultGiven = true;
        } else if (std::strcmp(arg, "--no-timing") == 0) {
            o.timing = false;
        } else if (std::strcmp(arg, "--strict") == 0) {
            o.strict = true;
        } else if (isOption(arg)) {
            return usageError(name, std::string("unknown option ") + arg);
        } else if (o.capture != nullptr) {
            return usageError(name, "one capture at a time");
        } else {
            o.capture = arg;
        }
    }
    if (o.capture == nullptr)
        return usageError(name, "no CAPTURE given");
    if (o.linkPath == nullptr)
        return usageError(name, "--link PATH is needed");
    return -1;
}

class Mock {
public:
    Mock(const char *name, const MockOptions &o, Recording &recording, const StopSignals &stop)
        : mName(name), mOptions(o), mRecording(recording), mStop(stop)
    {
        mIn.setSink(&mHeard);
    }

    int start();
    int run();

private:
    void onApplication();
    void answer(const Heard::Frame &f, double now);
    void queue(const Answer &answer);
    void sendDue();
    std::string counts() const;
    int finish();

    const char *mName;
    const MockOptions &mOptions;
    Recording &mRecording;
    const StopSignals &mStop;
    std::unique_ptr<LiveOutput> mLive;
    AppEnd mApp;
    Clock mClock;
    Lister mIn;  // the application's frames
    Lister mOut; // the answers
    Heard mHeard;
    std::deque<std::pair<Clocked::time_point, const std::vector<unsigned char> *>> mQueue;
    bool mGreeted = false;
    long mRequests = 0;
    long mAnswered = 0;
    long mUnknown = 0;
    long mBad = 0;
    int mStatus = STATUS_OK;
};

int Mock::start()
{
    mLive = std::make_unique<LiveOutput>(mName);
    std::string error;
    if (!mApp.open(mOptions.linkPath, error))
        return failure(mName, error);
    output::info(mName, std::to_string(mRecording.requests()) + " requests recorded in " +
                            mOptions.capture + "; the application's end is " + mApp.name() +
                            ", linked from " + mOptions.linkPath);
    mClock = Clock();
    Lister::header(true);
    output::flush();
    return STATUS_OK;
}

int Mock::run()
{
    while (!mStop.stopped() && !output::broken() && mStatus == STATUS_OK) {
        const bool held = mApp.held();
        if (held && !mGreeted) {
            mGreeted = true;
            queue(mRecording.unsolicited());
        }
        // A closed end reads as a hang-up at once: left out of the poll,
        // looked at again soon.
        pollfd fds[2] = {{held ? mApp.fd() : -1, POLLIN, 0}, {output::waiting(), POLLOUT, 0}};
        Clocked::time_point due =
            Clocked::now() + std::chrono::milliseconds(held ? TICK_MS : LOOK_MS);
        if (!mQueue.empty())
            due = std::min(due, mQueue.front().first);
        const int ready = waitUntil(mStop, fds, 2, due);
        if (ready < 0 && errno != EINTR)
            mStatus = failure(mName, std::string("poll: ") + std::strerror(errno));
        output::flush();
        if (ready > 0 && (fds[0].revents & POLLIN) != 0)
            onApplication();
        sendDue();
        if (summaryOnRequest(mStop, mName, {{mIn, " >"}, {mOut, " <"}}))
            output::info(mName, counts());
    }
    return finish();
}

// Lists the application's frames and answers each.
void Mock::onApplication()
{
    unsigned char chunk[4096];
    const ssize_t n = read(mApp.fd(), chunk, sizeof chunk);
    if (n <= 0)
        return; // nothing now, or the application closed its end
    const double now = mClock.seconds();
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f >", now);
    mIn.setPrefix(prefix);
    mIn.feed(chunk, static_cast<size_t>(n));
    for (const Heard::Frame &f : mHeard.frames)
        answer(f, now);
    mHeard.frames.clear();
}

void Mock::answer(const Heard::Frame &f, double now)
{
    if (f.outcome != frame::Outcome::OK) {
        ++mBad;
        return;
    }
    ++mRequests;
    const Answer *recorded = mRecording.answer(f.payload);
    if (recorded != nullptr) {
        ++mAnswered;
        queue(*recorded);
        return;
    }
    ++mUnknown;
    listEvent(now, '>', mOptions.defaultGiven ? "no recording; default reply" : "no recording");
    if (mOptions.defaultGiven)
        mQueue.emplace_back(Clocked::now(), &mOptions.defaultReply);
}

// Each reply at its delay after now, never before one queued earlier.
void Mock::queue(const Answer &answer)
{
    const Clocked::time_point now = Clocked::now();
    for (const Reply &r : answer) {
        Clocked::time_point due = now;
        if (mOptions.timing)
            due += std::chrono::duration_cast<Clocked::duration>(
                std::chrono::duration<double>(r.delay));
        if (!mQueue.empty())
            due = std::max(due, mQueue.back().first);
        mQueue.emplace_back(due, &r.bytes);
    }
}

void Mock::sendDue()
{
    while (!mQueue.empty() && mQueue.front().first <= Clocked::now() && mStatus == STATUS_OK) {
        const std::vector<unsigned char> &bytes = *mQueue.front().second;
        mQueue.pop_front();
        if (!writeAll(mApp.fd(), bytes.data(), bytes.size(), mStop)) {
            if (errno != EINTR)
                mStatus = failure(mName, std::string("writing: ") + std::strerror(errno));
            return;
        }
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%10.6f <", mClock.seconds());
        mOut.setPrefix(prefix);
        mOut.feed(bytes.data(), bytes.size());
    }
}

std::string Mock::counts() const
{
    return "requests " + std::to_string(mRequests) + ", answered " + std::to_string(mAnswered) +
           ", unknown " + std::to_string(mUnknown) + ", bad " + std::to_string(mBad);
}

int Mock::finish()
{
    mIn.setPrefix("           >");
    mOut.setPrefix("           <");
    mIn.finish(" >");
    mOut.finish(" <");
    output::closing("summary: " + counts() + "\n");
    if (mStatus == STATUS_OK && mOptions.strict && mUnknown > 0)
        mStatus =
            failure(mName, std::to_string(mUnknown) + (mUnknown == 1 ? " request" : " requests") +
                               " with no recording (--strict)");
    const int written = output::finish(mName, FINAL_FLUSH_MS);
    return mStatus != STATUS_OK ? mStatus : written;
}

} // namespace

int runMock(int argc, char **argv)
{
    const char *name = argv[0];
    MockOptions o;
    int status = parseMock(argc, argv, o);
    if (status >= 0)
        return status;
    std::vector<CaptureRecord> records;
    if ((status = loadCapture(name, o.capture, records)) >= 0)
        return status;
    Recording recording;
    recording.build(records);
    if (recording.requests() == 0) {
        output::error(name, std::string(o.capture) + ": no ok frames (>) to answer");
        return STATUS_USAGE;
    }
    const StopSignals stop;
    Mock mock(name, o, recording, stop);
    status = mock.start();
    return status != STATUS_OK ? status : mock.run();
}
