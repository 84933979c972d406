// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// The line options of tap, decode --device and send, read back from the
// device while the command has it, and a tap following the application's
// own settings.

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "fixture.h"
#include "termios2.h"

namespace live {
namespace {

// Each line option read back; the tap's application end starts the same. A
// pty device takes no other character than 8N: asked for one, the command
// ends, naming it.
struct LineCase {
    const char *name;
    std::vector<std::string> args; // the command, then its options after --device DEVICE
    const char *want;              // the device's settings, read back
    const char *announced;         // by a tap on standard error; or the error
};

class LineOptions : public Live, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineOptions, ReadBackFromTheDevice)
{
    const LineCase &c = GetParam();
    Pty dev;
    std::vector<std::string> args = {c.args[0], "--device", dev.path};
    args.insert(args.end(), c.args.begin() + 1, c.args.end());
    Child run(args, path("line"));
    std::string what = "";
    for (const std::string &a : args)
        what += " " + a;
    if (c.want == nullptr) {
        EXPECT_TRUE(run.exited(EXIT_MS) && run.status == 1 &&
                    run.errText.find("cannot set " + dev.path + c.announced) != std::string::npos)
            << what << ": exit status " << run.status << ": " << run.errText;
        return;
    }
    if (c.args[0] == "tap") {
        const std::string appPath = startTap(run, "line options");
        ASSERT_FALSE(appPath.empty());
        EXPECT_NE(run.errText.find(c.announced), std::string::npos)
            << what << ": not announced as " << c.announced << ": " << run.errText;
        const int app = openApp(appPath);
        EXPECT_EQ(settingsOf(app), c.want) << what << ": the application's end";
        close(app);
    }
    EXPECT_TRUE(waitFor([&]() { return settingsOf(dev.slave) == c.want; }, START_MS))
        << what << ": the device is " << settingsOf(dev.slave) << ", not " << c.want;
    run.stop(SIGTERM);
}

INSTANTIATE_TEST_SUITE_P(
    Live, LineOptions,
    ::testing::Values(
        LineCase{"tap_9600_2stop",
                 {"tap", "--baud", "9600", "--stopbits", "2"},
                 "9600 cstopb",
                 "at 9600 8N2;"},
        LineCase{"tap_xonxoff",
                 {"tap", "--flow", "xonxoff"},
                 "115200 ixon ixoff",
                 "at 115200 8N1 xonxoff;"},
        LineCase{"tap_rtscts",
                 {"tap", "--rtscts", "--baud=460800"},
                 "460800 crtscts",
                 "at 460800 8N1 rtscts;"},
        LineCase{"tap_rtscts_2stop_1200",
                 {"tap", "--flow=rtscts", "--stopbits=2", "--baud", "1200"},
                 "1200 cstopb crtscts",
                 "at 1200 8N2 rtscts;"},
        LineCase{"decode_57600_xonxoff_2stop",
                 {"decode", "--baud", "57600", "--flow", "xonxoff", "--stopbits", "2"},
                 "57600 cstopb ixon ixoff",
                 nullptr},
        LineCase{"send_2stop_rtscts",
                 {"send", "--stopbits", "2", "--flow", "rtscts", "--reply", "10", "61"},
                 "115200 cstopb crtscts",
                 nullptr},
        LineCase{"tap_7e1_refused",
                 {"tap", "--databits", "7", "--parity", "even", "--baud", "9600"},
                 nullptr,
                 " to 9600 7E1: the driver does not take it"},
        LineCase{"decode_5n1_refused",
                 {"decode", "--databits", "5"},
                 nullptr,
                 " to 115200 5N1: the driver does not take it"},
        LineCase{"send_8o2_refused",
                 {"send", "--parity", "odd", "--stopbits", "2", "61"},
                 nullptr,
                 " to 115200 8O2: the driver does not take it"}),
    [](const auto &info) { return std::string(info.param.name); });

// A rate no B-constant names, through termios2.
TEST_F(Live, TapAnyRate)
{
    Pty dev;
    const long rate = termios2Rate(dev.slave);
    if (rate <= 0)
        GTEST_SKIP() << "--baud 250000: the rate cannot be read as a number here ("
                     << (rate < 0 ? std::strerror(errno) : "read as 0")
                     << "); qemu-user does not translate termios2, and its powerpc termios "
                        "reads 0";
    Child tap({"tap", dev.path, "--baud", "250000", "--stopbits", "2"}, path("line"));
    const std::string appPath = startTap(tap, "--baud 250000");
    EXPECT_EQ(termios2Rate(dev.slave), 250000) << "--baud 250000: the device";
    if (!appPath.empty()) {
        const int app = openApp(appPath);
        EXPECT_EQ(termios2Rate(app), 250000) << "--baud 250000: the application's end";
        close(app);
    }
    EXPECT_NE(tap.errText.find("at 250000 8N2;"), std::string::npos)
        << "--baud 250000: not announced: " << tap.errText;
    EXPECT_EQ(tap.stop(SIGTERM), 0) << "--baud 250000: exit status";
}

// The application sets its end, twice; the device follows each time, and
// the listing says so. The data bits and parity do not reach the tap (the
// pty keeps 8N), so the events show those of the options.
TEST_F(Live, TapFollowsTheApplicationsSettings)
{
    // qemu-ppc64le writes past the target's termios on TCGETS (a plain
    // tcgetattr ends in "stack smashing detected"), so settings read there
    // mean nothing.
    if (command()[0].find("qemu-ppc") != std::string::npos)
        GTEST_SKIP() << "following the application's settings: qemu-user's powerpc termios is "
                        "unreliable";
    struct Step {
        speed_t speed;
        tcflag_t cflag;
        tcflag_t iflag;
        bool keepLflag;     // false: c_lflag 0, EXTPROC and all, as some programs do
        const char *want;   // the device, read back
        const char *listed; // the event line
    };
    // After EXTPROC is gone the pty no longer tells the tap: the last two
    // steps are found by looking.
    const Step STEPS[] = {
        {B9600, CS7 | PARENB | CSTOPB, 0, true, "9600 cstopb", "> settings 9600 8N2\n"},
        {B460800, CS8, 0, true, "460800", "> settings 460800 8N1\n"},
        {B57600, CS8 | CRTSCTS, 0, false, "57600 crtscts", "> settings 57600 8N1 rtscts\n"},
        {B1200, CS8, IXON | IXOFF, false, "1200 ixon ixoff", "> settings 1200 8N1 xonxoff\n"}};
    Pty dev;
    Child tap({"tap", dev.path}, path("follow"));
    const std::string appPath = startTap(tap, "follow");
    ASSERT_FALSE(appPath.empty());
    const int app = openApp(appPath);
    for (const Step &s : STEPS) {
        termios tio{};
        tcgetattr(app, &tio);
        cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio.c_cflag |= s.cflag;
        tio.c_iflag |= s.iflag;
        if (!s.keepLflag)
            tio.c_lflag = 0;
        cfsetspeed(&tio, s.speed);
        tcsetattr(app, TCSANOW, &tio); // EINVAL for 7E: the pty keeps 8N
        EXPECT_TRUE(waitFor([&]() { return settingsOf(dev.slave) == s.want; }, START_MS))
            << "follow: the device is " << settingsOf(dev.slave) << ", not " << s.want;
        EXPECT_TRUE(listed(tap, s.listed)) << "follow: '" << s.listed << "' not listed:\n"
                                           << tap.output();
    }
    // The link goes on with the new settings.
    EXPECT_TRUE(sendAll(app, frame(text("after"))));
    EXPECT_EQ(receive(dev.master, 9), frame(text("after")))
        << "follow: frame after the settings lost";
    EXPECT_EQ(tap.stop(SIGTERM), 0) << "follow: exit status";
    close(app);
}

} // namespace
} // namespace live
