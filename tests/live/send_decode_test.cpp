// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink send and decode --device against a device played by the test, and
// the input limits of encode, send and decode.

#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture.h"
#include "hdlc.h"

namespace live {
namespace {

// A fake device for send: frames that arrive on master come back framed
// again, while run is alive, and those that came before it ended are read.
std::vector<Bytes> echo(Pty &dev, Child &run, bool answer)
{
    std::vector<Bytes> got;
    cHDLC framer;
    unsigned char payload[1023];
    unsigned char chunk[4096];
    // One more look once it has ended: a quick run may be gone before its
    // bytes are read here.
    for (bool ended = false; !ended;) {
        ended = run.exited(0);
        pollfd p{dev.master, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = read(dev.master, chunk, sizeof chunk);
        for (ssize_t i = 0; i < n; ++i) {
            int len = 0;
            if (framer.unFrameByte(chunk[i], payload, &len)) {
                got.emplace_back(payload, payload + len);
                if (answer) {
                    EXPECT_TRUE(sendAll(dev.master, frame(got.back())));
                }
            }
        }
    }
    return got;
}

TEST_F(Live, SendListsTheReply)
{
    Pty dev;
    Child send({"send", "--device", dev.path, "--reply", "2", "61", "7E 7D", "63"}, path("send"));
    const std::vector<Bytes> got = echo(dev, send, true);
    const std::string listing = send.output();
    EXPECT_EQ(send.status, 0) << "send --reply: " << send.errText;
    EXPECT_TRUE(got.size() == 1 && got[0] == Bytes({0x61, 0x7E, 0x7D, 0x63}))
        << "send: the device got something else";
    EXPECT_EQ(rowsOf(listing, '<'),
              std::vector<std::string>({"       0       4  ok         61 7E 7D 63  |a~}c|"}))
        << "send --reply: no reply listed:\n"
        << listing;
}

TEST_F(Live, SendLinesOneFrameEach)
{
    Pty dev;
    const std::string commands = dir.write("commands", "get status\nping 1\n\nlast");
    Child send({"send", "--device", dev.path, "--baud", "9600", "--lines", "--reply", "2"},
               path("send"), commands);
    const std::vector<Bytes> got = echo(dev, send, true);
    const std::string listing = send.output();
    EXPECT_EQ(send.status, 0) << "send --lines: " << send.errText;
    EXPECT_EQ(got, std::vector<Bytes>({text("get status"), text("ping 1"), {}, text("last")}))
        << "send --lines: the device got other frames";
    EXPECT_EQ(summary(listing, " <").ok, 4) << "send --lines: replies not listed:\n" << listing;
}

TEST_F(Live, SendToASilentDeviceFails)
{
    Pty dev;
    Child send({"send", "--device", dev.path, "--reply", "0.2", "61"}, path("send"));
    echo(dev, send, false);
    EXPECT_TRUE(send.status == 1 && send.errText.find("no intact frame") != std::string::npos)
        << "send to a silent device: exit status " << send.status << ": " << send.errText;
}

TEST_F(Live, SendFramesStandardInput)
{
    Pty dev;
    const std::string raw = dir.write("raw", std::string("\x00\x7E\x01", 3));
    Child send({"send", "--device", dev.path, "-"}, path("send"), raw);
    const std::vector<Bytes> got = echo(dev, send, false);
    EXPECT_TRUE(send.status == 0 && got == std::vector<Bytes>({{0x00, 0x7E, 0x01}}))
        << "send - from standard input";
}

// Frames waiting in the device's input before send --reply are no reply.
TEST_F(Live, SendReplyIgnoresStaleInput)
{
    Pty dev;
    EXPECT_TRUE(sendAll(dev.master, frame(text("stale"))));
    pause(100);
    Child send({"send", "--device", dev.path, "--reply", "0.5", "61"}, path("stale"));
    echo(dev, send, false);
    EXPECT_TRUE(send.status == 1 && send.errText.find("no intact frame") != std::string::npos)
        << "send --reply after stale input: exit status " << send.status << ": " << send.errText;
    EXPECT_EQ(send.output().find("stale"), std::string::npos)
        << "send --reply listed stale input:\n"
        << send.output();
}

// With --lines, frames between commands are listed as they come.
TEST_F(Live, SendLinesListsFramesBetweenCommands)
{
    Pty dev;
    const std::string fifo = path("console");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Child send({"send", "--device", dev.path, "--lines", "--reply", "2"}, path("stale"), fifo);
    const int commands = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    const std::string first = "get status\n";
    EXPECT_EQ(write(commands, first.data(), first.size()), static_cast<ssize_t>(first.size()))
        << "writing the first command";
    EXPECT_EQ(receive(dev.master, frame(text("get status")).size()), frame(text("get status")))
        << "send --lines: the first command did not come";
    EXPECT_TRUE(sendAll(dev.master, frame(text("ok"))));
    EXPECT_TRUE(waitFor([&]() { return send.output().find("|ok|") != std::string::npos; }))
        << "send --lines: the reply is not listed";
    pause(2500); // past the reply time: what comes now comes between commands
    EXPECT_TRUE(sendAll(dev.master, frame(text("event"))));
    EXPECT_TRUE(waitFor([&]() { return send.output().find("|event|") != std::string::npos; }))
        << "send --lines: a frame between commands is not listed as it comes:\n"
        << send.output();
    const std::string second = "ping\n";
    EXPECT_EQ(write(commands, second.data(), second.size()), static_cast<ssize_t>(second.size()))
        << "writing the second command";
    EXPECT_EQ(receive(dev.master, frame(text("ping")).size()), frame(text("ping")))
        << "send --lines: the second command did not come";
    EXPECT_TRUE(sendAll(dev.master, frame(text("pong"))));
    close(commands);
    EXPECT_TRUE(send.exited(EXIT_MS) && send.status == 0)
        << "send --lines: exit status " << send.status << ": " << send.errText;
    const std::string listing = send.output();
    const auto rows = rowsOf(listing, '<');
    EXPECT_TRUE(rows.size() == 3 && rows[1].find("|event|") != std::string::npos)
        << "send --lines listing:\n"
        << listing;
}

// Endless input: encode and send stop reading past the payload limit and
// exit 2 naming it, their memory bounded: their peak is held against that of
// the same command on a payload that fits, so that what an emulator or a
// sanitizer adds cancels out.
struct InputCase {
    const char *name;
    const char *command; // DEV stands for the device
};

class BoundedInput : public Live, public ::testing::WithParamInterface<InputCase> {};

TEST_P(BoundedInput, EndlessInputStopsAtTheLimit)
{
    const size_t bytes = emulated() ? 20u << 20 : 200u << 20;
    const std::string small = dir.write("small", std::string(1000, 'a') + "\n");
    Pty dev;
    std::vector<std::string> args;
    std::istringstream words(GetParam().command);
    for (std::string w; words >> w;)
        args.push_back(w == "DEV" ? dev.path : w);
    const std::string fifo = path("endless");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Child fits(args, path("endless.out"), small);
    EXPECT_TRUE(fits.exited(EXIT_MS) && fits.status == 0)
        << args[0] << " on a payload that fits: " << fits.errText;
    Child run(args, path("endless.out"), fifo);
    const int in = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    const std::vector<unsigned char> zeros(65536, 0);
    size_t sent = 0;
    while (sent < bytes) {
        const ssize_t k = write(in, zeros.data(), std::min(zeros.size(), bytes - sent));
        if (k <= 0)
            break; // EPIPE: the command stopped reading
        sent += static_cast<size_t>(k);
    }
    close(in);
    const std::string what = GetParam().command;
    EXPECT_TRUE(run.exited(EXIT_MS) && run.status == 2)
        << what << " on endless input: exit status " << run.status;
    EXPECT_NE(run.errText.find("1021"), std::string::npos)
        << what << ": the limit is not named: " << run.errText;
    const long marginKb = static_cast<long>(bytes / 4 / 1024);
    EXPECT_TRUE(run.maxRssKb > 0 && run.maxRssKb < fits.maxRssKb + marginKb)
        << what << ": peak memory " << run.maxRssKb << " KB, against " << fits.maxRssKb
        << " KB for a payload that fits";
    EXPECT_LT(sent, bytes) << what << ": read all " << bytes << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Live, BoundedInput,
                         ::testing::Values(InputCase{"encode", "encode"},
                                           InputCase{"send_stdin", "send --device DEV -"},
                                           InputCase{"send_lines", "send --device DEV --lines"}),
                         [](const auto &info) { return std::string(info.param.name); });

// decode on a live device: lines as frames arrive, with the time; SIGINT
// lists the partial frame and the summary.
TEST_F(Live, DecodeDeviceListsAsFramesCome)
{
    Pty dev;
    Child decode({"decode", "--device", dev.path, "--baud", "1200", "--time"}, path("live"));
    Bytes bytes = frame(text("hello"));
    bytes.push_back('x');
    pause(300); // set raw before the bytes come
    EXPECT_TRUE(sendAll(dev.master, bytes));
    listed(decode, "hello");
    EXPECT_EQ(decode.stop(SIGINT), 0) << "decode --device on SIGINT";
    const std::string listing = decode.output();
    EXPECT_EQ(rowsOf(listing, ' '),
              std::vector<std::string>({"       0       5  ok         68 65 6C 6C 6F  |hello|",
                                        "       8       1  partial    78  |x|"}))
        << "decode --device --time listing:\n"
        << listing;
    EXPECT_EQ(summary(listing, "").partial, 1) << "decode --device: no summary:\n" << listing;
}

// A hang-up ends the device's input: the summary, exit status 0.
TEST_F(Live, DecodeDeviceEndsAtHangUp)
{
    Pty gone;
    Child hungUp({"decode", "--device", gone.path, "--no-reconnect"}, path("hung-up"));
    EXPECT_TRUE(sendAll(gone.master, frame(text("bye"))));
    listed(hungUp, "bye");
    gone.hangUp();
    EXPECT_TRUE(hungUp.exited(EXIT_MS) && hungUp.status == 0)
        << "decode --device at a hang-up: exit status " << hungUp.status;
    EXPECT_EQ(summary(hungUp.output(), "").ok, 1) << "decode --device at a hang-up: no summary";
}

// Runs longer than a receiver holds are dropped, whatever it collects after
// the discard; the longest frame it accepts is still ok.
TEST_F(Live, DecodeDropsOverlongRuns)
{
    auto run = [](unsigned char b, size_t n) {
        Bytes r = {0x7E};
        for (size_t i = 0; i < n; ++i)
            r.push_back(b);
        r.push_back(0x7E);
        return r;
    };
    Bytes bytes = run('U', 1100);
    append(bytes, run('V', 3000));
    // 1100 unstuffed bytes, 2200 on the wire.
    Bytes stuffed = {0x7E};
    for (int i = 0; i < 1100; ++i)
        append(stuffed, {0x7D, 0x5E});
    stuffed.push_back(0x7E);
    append(bytes, stuffed);
    // 1024 bytes of junk and a whole frame's body without a flag between:
    // a receiver delivers the body, but the run is 1024 + 3 + 2 bytes long.
    Bytes body = frame(text("abc"));
    Bytes junkThenBody = run('W', 1024);
    junkThenBody.pop_back();
    junkThenBody.insert(junkThenBody.end(), body.begin() + 1, body.end());
    append(bytes, junkThenBody);
    append(bytes, frame(Bytes(1021, 'X'))); // 1023 unstuffed: the longest accepted
    const std::string file = dir.write("overlong", std::string(bytes.begin(), bytes.end()));
    Child decode({"decode", file}, path("overlong.txt"));
    EXPECT_TRUE(decode.exited(EXIT_MS) && decode.status == 0) << "decode of overlong runs";
    std::vector<std::string> got;
    for (const std::string &l : lines(decode.output())) {
        std::istringstream f(l);
        std::string offset, length, s;
        f >> offset >> length >> s;
        if (offset != "offset" && offset != "summary:")
            got.push_back(length + " " + s);
    }
    const std::vector<std::string> want = {"1100 dropped", "3000 dropped", "2200 dropped",
                                           "1029 dropped", "1021 ok"};
    EXPECT_EQ(got, want) << "overlong runs listed";
}

} // namespace
} // namespace live
